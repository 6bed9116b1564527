// The volume dial: value and position, the ring the mouse is taken on, the mapping of the release point,
// the animation's pace and notifications, and what the painted dial lights.
#include "TestSupport.h"
#include "ui/CDialCtrl.h"
#include "ui/ControlNotify.h"

#include <QApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <tuple>
#include <vector>

namespace {

using platform::Message;
using uitest::GlowAt;

// The mouse point r pixels from the centre (117, 117) whose pointer angle (direction to the centre) is angle.
QPointF PointAt(double angle, double r = 80.0) {
    const double a = angle * M_PI / 180.0;
    return {117 - r * std::cos(a), 117 - r * std::sin(a)};
}

void Send(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

WPARAM Thumb(unsigned value) {
    return ui::MAKEWPARAM(ui::SB_THUMBPOSITION, static_cast<WORD>(value));
}

class DialTest : public ::testing::Test {
protected:
    void SetUp() override {
        dial_ = new CDialCtrl(5071, &parent_, uitest::PaintedDialImages());
        parent_.show();
    }
    void Press(QPointF at) { Send(dial_, QEvent::MouseButtonPress, at, Qt::LeftButton); }
    void Move(QPointF at, Qt::MouseButtons held = Qt::LeftButton) {
        Send(dial_, QEvent::MouseMove, at, held);
    }
    void Release(QPointF at) { Send(dial_, QEvent::MouseButtonRelease, at, Qt::NoButton); }
    // Puts the knob at position p without animation or notification.
    void Place(int p) {
        dial_->MoveTo(p, true);
        parent_.messages.clear();
    }
    // Runs the animation to its end; returns the ticks it took and at which ticks the parent heard.
    int Animate(std::vector<int>* notifiedAt = nullptr) {
        int ticks = 0;
        while (dial_->IsAnimating() && ticks < 1000) {
            const std::size_t before = parent_.messages.size();
            dial_->OnTimer(CDialCtrl::kTimerId);
            ++ticks;
            if (notifiedAt != nullptr && parent_.messages.size() > before)
                notifiedAt->push_back(ticks);
        }
        return ticks;
    }
    QImage Painted() { return dial_->grab().toImage(); }

    uitest::RecordingParent parent_;
    CDialCtrl* dial_ = nullptr;
};

TEST_F(DialTest, SetValueClampsConvertsAndNotifiesOnce) {
    for (auto [value, position, reported] :
         {std::tuple{150u, 300, 100u}, {33u, 99, 33u}, {0u, 0, 0u}, {1u, 3, 1u}, {0xFFFFFFFFu, 300, 100u}}) {
        SCOPED_TRACE(value);
        parent_.messages.clear();
        dial_->SetValue(value);
        EXPECT_EQ(dial_->Position(), position);
        EXPECT_EQ(dial_->GetValue(), reported);
        EXPECT_EQ(parent_.messages, (std::vector<Message>{{WM_HSCROLL, Thumb(reported), 0}}));
    }
    Place(98);
    EXPECT_EQ(dial_->GetValue(), 32u);
    // A maximum of 0 would divide by zero in every conversion: refused.
    EXPECT_FALSE(dial_->SetMaximum(0));
    ASSERT_TRUE(dial_->SetMaximum(200));
    dial_->SetValue(100);
    EXPECT_EQ(dial_->Position(), 150);
}

TEST_F(DialTest, PressesGrabAndFocusOnlyOnTheRing) {
    struct Case {
        QPointF offset;
        bool grabs;
    };
    // 30 and 120 pixels from the centre are off the ring; 34 and 118 are exactly on its edges.
    for (const Case& c : {Case{{30, 0}, false}, Case{{72, 96}, false}, Case{{34, 0}, true},
                          Case{{118, 0}, true}, Case{{0, -34}, true}}) {
        SCOPED_TRACE(testing::Message() << c.offset.x() << "," << c.offset.y());
        parent_.setFocus();
        const QPointF at = QPointF(117, 117) + c.offset;
        Press(at);
        EXPECT_EQ(dial_->IsDragging(), c.grabs);
        EXPECT_EQ(QWidget::mouseGrabber() == dial_, c.grabs);
        EXPECT_EQ(parent_.focusWidget() == dial_, c.grabs);
        Release(at);
        EXPECT_FALSE(dial_->IsDragging());
        EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
        Animate();
    }
}

TEST_F(DialTest, ReleasePointSetsTheTarget) {
    struct Case {
        double angle;
        int target;
    };
    // The gap at the bottom: 14 degrees next to each end snap to it, the middle 32 keep the knob (from 150).
    // Angles where a position is truncated sit off the whole degree: degrees are computed with pi taken as
    // 3.141592, a few millionths short.
    for (const Case& c :
         {Case{250, 300}, Case{290, 0}, Case{270, 150}, Case{255, 150}, Case{285, 150}, Case{241, 300},
          Case{287, 0}, Case{300.5, 0}, Case{330.5, 30}, Case{90.5, 150}, Case{0.5, 60}, Case{239.5, 299}}) {
        SCOPED_TRACE(c.angle);
        Place(150);
        Press(PointAt(200));
        Release(PointAt(c.angle));
        EXPECT_NEAR(dial_->LastAngle(), c.angle, 1e-3);
        EXPECT_EQ(dial_->Target(), c.target);
        Animate();
        EXPECT_EQ(dial_->Position(), c.target);
        EXPECT_EQ(parent_.messages.back(), (Message{WM_HSCROLL, Thumb(c.target / 3), 0}));
    }
    // Released where the knob stays: still one notification, on the first tick.
    Place(150);
    Press(PointAt(200));
    Release(PointAt(270));
    std::vector<int> notified;
    EXPECT_EQ(Animate(&notified), 1);
    EXPECT_EQ(notified, std::vector<int>{1});
    EXPECT_EQ(parent_.messages, (std::vector<Message>{{WM_HSCROLL, Thumb(50), 0}}));
}

TEST_F(DialTest, AnimationPaceAndNotifications) {
    struct Case {
        int from;
        double towards;
        bool held; // the ticks run while the button is still down
        int ticks;
    };
    for (const Case& c : {Case{0, 250, false, 75}, Case{300, 290, false, 38}, Case{0, 250, true, 38},
                          Case{300, 290, true, 38}}) {
        SCOPED_TRACE(testing::Message() << c.from << (c.held ? " held" : ""));
        Place(c.from);
        Move(PointAt(c.towards)); // not dragging yet: nothing happens
        Press(PointAt(200));
        Move(PointAt(c.towards), Qt::NoButton); // the button is not held: nothing happens
        EXPECT_FALSE(dial_->IsAnimating());
        if (c.held)
            Move(PointAt(c.towards));
        else
            Release(PointAt(c.towards));
        std::vector<int> notified;
        EXPECT_EQ(Animate(&notified), c.ticks);
        // Every fifth tick, and once more on arrival.
        std::vector<int> expected;
        for (int t = 5; t < c.ticks; t += 5)
            expected.push_back(t);
        expected.push_back(c.ticks);
        EXPECT_EQ(notified, expected);
        EXPECT_EQ(parent_.messages.back().wParam, Thumb(c.from == 0 ? 100 : 0));
        if (c.held)
            Release(PointAt(c.towards));
        Animate();
    }
}

TEST_F(DialTest, ADragRightAfterAJumpFollowsThePointer) {
    struct Case {
        const char* what;
        std::function<void()> before;
    };
    // A jump (the volume keys, a level set from elsewhere) from rest, and one in the middle of an animation
    // that was heading elsewhere.
    const std::vector<Case> cases = {
        {"from rest", [&] { dial_->SetValue(20); }},
        {"during an animation",
         [&] {
             Press(PointAt(200));
             Release(PointAt(250));
             dial_->OnTimer(CDialCtrl::kTimerId);
             ASSERT_TRUE(dial_->IsAnimating());
             dial_->SetValue(20);
             EXPECT_FALSE(dial_->IsAnimating()) << "the jump leaves nothing to animate";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Place(0);
        c.before();
        ASSERT_EQ(dial_->Position(), 60);
        EXPECT_EQ(dial_->Target(), 60);
        Press(PointAt(200));
        Move(PointAt(140.5)); // towards position 200
        EXPECT_TRUE(dial_->IsAnimating()) << "the knob follows the drag";
        for (int i = 0; i < 5; ++i)
            dial_->OnTimer(CDialCtrl::kTimerId);
        EXPECT_EQ(dial_->Position(), 60 + 5 * 8) << "moved while the button is held, at the drag's pace";
        Move(PointAt(110.5)); // on to 170
        Animate();
        EXPECT_EQ(dial_->Position(), 170) << "reached while still held";
        Release(PointAt(110.5));
        Animate();
        EXPECT_EQ(dial_->Position(), 170);
    }
}

// Probes the glow ring every 20 degrees along the scale (away from the arc's end) and in the gap.
void ExpectArc(const QImage& image, int position, const char* lit) {
    for (int along = 5; along < 300; along += 20) {
        if (std::abs(along - position) >= 4) {
            EXPECT_STREQ(GlowAt(image, 120 + along), along < position ? lit : "off")
                << along << " of " << position;
        }
    }
    EXPECT_STREQ(GlowAt(image, 90), "off") << "the gap at the bottom";
}

TEST_F(DialTest, PaintedArcFollowsPositionAndMuting) {
    for (int position : {0, 150, 300}) {
        for (bool muting : {false, true}) {
            dial_->SetMuting(false);
            Place(position);
            dial_->SetMuting(muting);
            ExpectArc(Painted(), position, muting ? "muting" : "on");
        }
    }
    // Any tick, even one that does not move the knob, repaints the whole dial with the normal glow, and so
    // does SetValue.
    Press(PointAt(200));
    Release(PointAt(270));
    dial_->OnTimer(CDialCtrl::kTimerId);
    EXPECT_FALSE(dial_->IsMuting());
    ExpectArc(Painted(), 300, "on");
    dial_->SetMuting(true);
    dial_->SetValue(20);
    ExpectArc(Painted(), 60, "on");
}

TEST_F(DialTest, MovedDialMatchesAFreshFullDraw) {
    // Turned up and down in small and large steps, the dial must look like one drawn whole at the last
    // position: no trace of an old pointer or arc, and no new picture made for a move.
    Painted();
    const uchar* bits = dial_->Cache().constBits();
    for (int p : {4, 8, 40, 37, 300, 299, 120, 0, 200, 160}) {
        dial_->MoveTo(p, true);
        Painted();
    }
    EXPECT_EQ(dial_->Cache().constBits(), bits);
    uitest::RecordingParent other;
    CDialCtrl fresh(1, &other, uitest::PaintedDialImages());
    fresh.MoveTo(160, true);
    const QImage expected = fresh.grab().toImage();
    const QImage actual = Painted();
    int differing = 0;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            const QRgb a = actual.pixel(x, y), e = expected.pixel(x, y);
            // The turned pointer's smoothed edge may differ by a few levels; a stale layer by far more.
            differing += std::max({std::abs(qRed(a) - qRed(e)), std::abs(qGreen(a) - qGreen(e)),
                                   std::abs(qBlue(a) - qBlue(e))}) > 4;
        }
    }
    EXPECT_EQ(differing, 0);
}

TEST_F(DialTest, PointerAngleOnTheAxesAndBetween) {
    // The direction from the point to the centre, clockwise on screen: a point above the centre gives 90.
    for (auto [x, y, angle] : {std::tuple{117, 117, 0.0},
                               {117, 17, 90.0},
                               {117, 217, 270.0},
                               {17, 117, 0.0},
                               {217, 117, 180.0},
                               {17, 17, 45.0},
                               {217, 17, 135.0},
                               {217, 217, 225.0}}) {
        EXPECT_NEAR(CDialCtrl::PointerAngle(x, y), angle, 1e-3) << x << "," << y;
    }
}

TEST_F(DialTest, WithoutImagesOrParentNothingFails) {
    CDialCtrl bare(7, &parent_, [](const QString&, int) { return QImage(); });
    bare.SetValue(50);
    EXPECT_EQ(bare.grab().size(), QSize(236, 236));
    EXPECT_EQ(parent_.Count(WM_HSCROLL), 1u);
    CDialCtrl orphan(9, nullptr, uitest::PaintedDialImages());
    orphan.SetValue(40);
    EXPECT_EQ(orphan.Position(), 120);
}

} // namespace
