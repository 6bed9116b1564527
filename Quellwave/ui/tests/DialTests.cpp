// The volume dial: value and position, the ring the mouse is taken on, the mapping of the release point,
// the animation's pace and its notifications, and what the painted dial lights.
#include "CDialCtrl.h"
#include "ControlNotify.h"
#include "TestSupport.h"

#include <QApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

using platform::Message;
using uitest::GlowAt;
using uitest::RecordingParent;

constexpr double kCentre = 117.0;

// The mouse point at distance r from the centre whose pointer angle (direction to the centre) is angle.
QPointF PointAt(double angle, double r = 80.0) {
    const double a = angle * M_PI / 180.0;
    return {kCentre - r * std::cos(a), kCentre - r * std::sin(a)};
}

void Send(QWidget* widget, QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, widget->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}
void Press(QWidget* w, QPointF at) {
    Send(w, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
}
void Move(QWidget* w, QPointF at, Qt::MouseButtons buttons = Qt::LeftButton) {
    Send(w, QEvent::MouseMove, at, Qt::NoButton, buttons);
}
void Release(QWidget* w, QPointF at) {
    Send(w, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}

WPARAM Thumb(unsigned value) {
    return ui::MAKEWPARAM(ui::SB_THUMBPOSITION, static_cast<WORD>(value));
}

class DialTest : public ::testing::Test {
protected:
    void SetUp() override {
        parent_ = std::make_unique<RecordingParent>();
        dial_ = new CDialCtrl(5071, parent_.get(), uitest::PaintedDialImages());
        dial_->move(10, 10);
        parent_->show();
    }
    void TearDown() override {
        if (QWidget::mouseGrabber() != nullptr)
            QWidget::mouseGrabber()->releaseMouse();
    }

    // Runs the animation until it stops; returns the number of ticks and records at which tick each
    // notification came.
    int RunAnimation(std::vector<int>* notifiedAt = nullptr, int limit = 1000) {
        int ticks = 0;
        while (dial_->IsAnimating() && ticks < limit) {
            const std::size_t before = parent_->messages.size();
            dial_->OnTimer(CDialCtrl::kTimerId);
            ++ticks;
            if (notifiedAt != nullptr && parent_->messages.size() > before)
                notifiedAt->push_back(ticks);
        }
        return ticks;
    }

    // Puts the knob at position p without animation and forgets the notification.
    void Place(int p) {
        dial_->MoveTo(p, true);
        parent_->messages.clear();
    }

    QImage Painted() { return dial_->grab().toImage(); }

    std::unique_ptr<RecordingParent> parent_;
    CDialCtrl* dial_ = nullptr;
};

TEST_F(DialTest, SetValueClampsConvertsAndNotifiesOnce) {
    struct Case {
        unsigned value;
        int position;
        unsigned reported;
    };
    for (const Case& c : {Case{150, 300, 100}, Case{33, 99, 33}, Case{100, 300, 100}, Case{0, 0, 0},
                          Case{1, 3, 1}, Case{0xFFFFFFFFu, 300, 100}}) {
        SCOPED_TRACE(c.value);
        parent_->messages.clear();
        dial_->SetValue(c.value);
        EXPECT_EQ(dial_->Position(), c.position);
        EXPECT_EQ(dial_->GetValue(), c.reported);
        ASSERT_EQ(parent_->messages.size(), 1u);
        EXPECT_EQ(parent_->messages[0], (Message{ui::WM_HSCROLL, Thumb(c.reported), 0}));
    }
}

TEST_F(DialTest, ValueTruncatesAndMaximumZeroIsRefused) {
    dial_->MoveTo(98, true);
    EXPECT_EQ(dial_->GetValue(), 32u);
    EXPECT_TRUE(parent_->messages.empty()) << "a quiet move must not notify";

    EXPECT_FALSE(dial_->SetMaximum(0));
    EXPECT_EQ(dial_->Maximum(), 100u);
    dial_->SetValue(50); // would divide by zero with a maximum of 0
    EXPECT_EQ(dial_->Position(), 150);

    ASSERT_TRUE(dial_->SetMaximum(200));
    dial_->SetValue(100);
    EXPECT_EQ(dial_->Position(), 150);
    EXPECT_EQ(dial_->GetValue(), 100u);
}

TEST_F(DialTest, PressesGrabAndFocusOnlyOnTheRing) {
    struct Case {
        QPointF offset; // from the centre
        bool grabs;
    };
    // 30 and 120 pixels are off the ring, 34 and 118 exactly on its edges.
    for (const Case& c : {Case{{30, 0}, false}, Case{{72, 96}, false}, Case{{34, 0}, true},
                          Case{{118, 0}, true}, Case{{0, -34}, true}, Case{{-18, -24}, false}}) {
        SCOPED_TRACE(testing::Message() << c.offset.x() << "," << c.offset.y());
        parent_->setFocus();
        ASSERT_NE(parent_->focusWidget(), dial_);
        const QPointF at(kCentre + c.offset.x(), kCentre + c.offset.y());
        Press(dial_, at);
        EXPECT_EQ(dial_->IsDragging(), c.grabs);
        EXPECT_EQ(QWidget::mouseGrabber() == dial_, c.grabs);
        EXPECT_EQ(parent_->focusWidget() == dial_, c.grabs);
        Release(dial_, at);
        EXPECT_FALSE(dial_->IsDragging());
        EXPECT_NE(QWidget::mouseGrabber(), dial_);
        RunAnimation();
    }
}

TEST_F(DialTest, ReleasePointSetsTheTarget) {
    struct Case {
        double angle;
        int target;
    };
    // 250 and 290 snap to the ends; 270 (straight below) and the rest of the dead zone keep the knob.
    // Angles off the whole degree where the position is truncated from them: degrees are computed with pi
    // taken as 3.141592, a few millionths of a degree short.
    for (const Case& c :
         {Case{250, 300}, Case{290, 0}, Case{270, 150}, Case{255, 150}, Case{285, 150}, Case{241, 300},
          Case{287, 0}, Case{300.5, 0}, Case{330.5, 30}, Case{90.5, 150}, Case{0.5, 60}, Case{239.5, 299}}) {
        SCOPED_TRACE(c.angle);
        Place(150);
        Press(dial_, PointAt(200));
        Release(dial_, PointAt(c.angle));
        EXPECT_NEAR(dial_->LastAngle(), c.angle, 1e-3);
        EXPECT_EQ(dial_->Target(), c.target);
        RunAnimation();
        EXPECT_EQ(dial_->Position(), c.target);
        ASSERT_FALSE(parent_->messages.empty());
        EXPECT_EQ(parent_->messages.back(), (Message{ui::WM_HSCROLL, Thumb(c.target / 3), 0}));
    }
}

TEST_F(DialTest, ReleaseInTheDeadZoneStillNotifiesOnceOnTheFirstTick) {
    Place(150);
    Press(dial_, PointAt(200));
    Release(dial_, PointAt(270));
    std::vector<int> notified;
    EXPECT_EQ(RunAnimation(&notified), 1);
    EXPECT_EQ(notified, std::vector<int>{1});
    EXPECT_EQ(parent_->messages, (std::vector<Message>{{ui::WM_HSCROLL, Thumb(50), 0}}));
    EXPECT_EQ(dial_->Position(), 150);
}

TEST_F(DialTest, AnimationPaceAndNotifications) {
    struct Case {
        int from;
        double releaseAngle;
        bool stillDragging; // the ticks run while the button is held
        int ticks;
        std::vector<int> notifiedAt;
    };
    std::vector<int> everyFifth;
    for (int t = 5; t <= 75; t += 5)
        everyFifth.push_back(t);
    const std::vector<int> downwards{5, 10, 15, 20, 25, 30, 35, 38};
    for (const Case& c : {Case{0, 250, false, 75, everyFifth}, Case{300, 290, false, 38, downwards},
                          Case{0, 250, true, 38, downwards}, Case{300, 290, true, 38, downwards}}) {
        SCOPED_TRACE(testing::Message() << c.from << " " << c.releaseAngle << " " << c.stillDragging);
        Place(c.from);
        Press(dial_, PointAt(200));
        if (c.stillDragging)
            Move(dial_, PointAt(c.releaseAngle));
        else
            Release(dial_, PointAt(c.releaseAngle));
        ASSERT_TRUE(dial_->IsAnimating());
        std::vector<int> notified;
        EXPECT_EQ(RunAnimation(&notified), c.ticks);
        EXPECT_EQ(notified, c.notifiedAt);
        EXPECT_EQ(dial_->Position(), c.from == 0 ? 300 : 0);
        EXPECT_EQ(parent_->messages.back().wParam, Thumb(c.from == 0 ? 100 : 0));
        if (c.stillDragging)
            Release(dial_, PointAt(c.releaseAngle));
        RunAnimation();
    }
}

TEST_F(DialTest, MovesOnlyWhileDraggingWithTheLeftButton) {
    Place(150);
    Move(dial_, PointAt(330.5)); // not dragging
    EXPECT_FALSE(dial_->IsAnimating());
    Press(dial_, PointAt(200));
    Move(dial_, PointAt(330.5), Qt::NoButton); // button no longer held
    EXPECT_FALSE(dial_->IsAnimating());
    Move(dial_, PointAt(330.5));
    EXPECT_EQ(dial_->Target(), 30);
    dial_->OnTimer(CDialCtrl::kTimerId);
    EXPECT_EQ(dial_->Position(), 142);
    // While animating, a further move only changes the target.
    Move(dial_, PointAt(60.5));
    EXPECT_EQ(dial_->Target(), 120);
    dial_->OnTimer(CDialCtrl::kTimerId + 1); // another timer: ignored
    EXPECT_EQ(dial_->Position(), 142);
    Release(dial_, PointAt(60.5));
    RunAnimation();
    EXPECT_EQ(dial_->Position(), 120);
}

TEST_F(DialTest, PointerAngleAxesAndQuadrants) {
    struct Case {
        QPointF point;
        double angle;
    };
    // The direction from the point to the centre, clockwise on screen: a point above the centre gives 90.
    for (const Case& c : {Case{{117, 117}, 0}, Case{{117, 17}, 90}, Case{{117, 217}, 270}, Case{{17, 117}, 0},
                          Case{{217, 117}, 180}, Case{{17, 17}, 45}, Case{{217, 17}, 135},
                          Case{{217, 217}, 225}, Case{{17, 217}, 315}}) {
        SCOPED_TRACE(testing::Message() << c.point.x() << "," << c.point.y());
        EXPECT_NEAR(CDialCtrl::PointerAngle(c.point.x(), c.point.y()), c.angle, 1e-3);
    }
}

// Probes the middle of the glow ring every 20 degrees along the scale (away from the arc's ends) and in
// the gap at the bottom.
void ExpectArc(const QImage& image, int position, const char* lit) {
    for (int offset = 5; offset < 300; offset += 20) {
        if (std::abs(offset - position) < 4)
            continue;
        SCOPED_TRACE(testing::Message() << "position " << position << ", " << offset << " degrees along");
        EXPECT_STREQ(GlowAt(image, 120 + offset), offset < position ? lit : "off");
    }
    EXPECT_STREQ(GlowAt(image, 90), "off") << "the gap at the bottom is never lit";
}

TEST_F(DialTest, PaintedArcFollowsPositionAndMuting) {
    struct Case {
        int position;
        bool muting;
    };
    for (const Case& c :
         {Case{0, false}, Case{150, false}, Case{300, false}, Case{150, true}, Case{300, true}}) {
        SCOPED_TRACE(testing::Message() << c.position << (c.muting ? " muting" : ""));
        dial_->SetMuting(false);
        Place(c.position);
        dial_->SetMuting(c.muting);
        ExpectArc(Painted(), c.position, c.muting ? "muting" : "on");
    }
}

TEST_F(DialTest, AnyMovementEndsTheMutingLook) {
    Place(150);
    dial_->SetMuting(true);
    ExpectArc(Painted(), 150, "muting");
    // A tick that does not even move the knob repaints the whole dial with the normal glow.
    Press(dial_, PointAt(200));
    Release(dial_, PointAt(270));
    dial_->OnTimer(CDialCtrl::kTimerId);
    EXPECT_FALSE(dial_->IsMuting());
    ExpectArc(Painted(), 150, "on");

    dial_->SetMuting(true);
    dial_->SetValue(20);
    EXPECT_FALSE(dial_->IsMuting());
    ExpectArc(Painted(), 60, "on");
}

TEST_F(DialTest, MovedDialMatchesAFreshFullDraw) {
    // The knob turned step by step up and down, in small and large steps, must look exactly like a dial
    // drawn whole at the final position: no trace of the old pointer, the old arc or the old glow.
    Painted();
    const uchar* bits = dial_->Cache().constBits();
    for (int p : {4, 8, 40, 37, 300, 299, 120, 0, 200, 160}) {
        dial_->MoveTo(p, true);
        Painted();
    }
    EXPECT_EQ(dial_->Cache().constBits(), bits) << "moving the knob must not make a new picture";

    RecordingParent other;
    CDialCtrl fresh(5071, &other, uitest::PaintedDialImages());
    fresh.MoveTo(160, true);
    const QImage expected = fresh.grab().toImage();
    const QImage actual = Painted();
    ASSERT_EQ(actual.size(), expected.size());
    int differing = 0;
    QRect where;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            const QRgb a = actual.pixel(x, y);
            const QRgb e = expected.pixel(x, y);
            // The turned pointer's smoothed edge may differ by a few levels (sampled under another clip); a
            // stale layer differs by far more.
            const int worst = std::max({std::abs(qRed(a) - qRed(e)), std::abs(qGreen(a) - qGreen(e)),
                                        std::abs(qBlue(a) - qBlue(e)), std::abs(qAlpha(a) - qAlpha(e))});
            if (worst > 4) {
                ++differing;
                where |= QRect(x, y, 1, 1);
            }
        }
    }
    EXPECT_EQ(differing, 0) << "differing pixels within " << where.x() << "," << where.y() << " "
                            << where.width() << "x" << where.height();
    ExpectArc(actual, 160, "on");
}

TEST_F(DialTest, MissingImagesDrawNothingAndDoNotFail) {
    RecordingParent other;
    CDialCtrl bare(7, &other, [](const QString&, int) { return QImage(); });
    bare.SetValue(50);
    bare.MoveTo(10, false);
    const QImage painted = bare.grab().toImage();
    EXPECT_EQ(painted.size(), QSize(CDialCtrl::kBoxSize, CDialCtrl::kBoxSize));
    EXPECT_EQ(other.Count(ui::WM_HSCROLL), 2u);
}

TEST_F(DialTest, NoParentNoNotification) {
    CDialCtrl orphan(9, nullptr, uitest::PaintedDialImages());
    orphan.SetValue(40); // must not crash or post anywhere
    EXPECT_EQ(orphan.Position(), 120);
    EXPECT_TRUE(parent_->messages.empty());
}

} // namespace
