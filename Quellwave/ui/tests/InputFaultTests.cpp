// The controls against what a listener meets in the real window: a press that a modal box, another window
// or another grab takes away, presses on the dial that must stay in it, the display shown at once, and the
// space bar held while the buttons have no focus. Mouse input goes through the window system's path
// (QWindow events), where a modal box blocks the window behind it, as on a real screen.
#include "TestSupport.h"
#include "ui/CDialCtrl.h"
#include "ui/CLEDDialog.h"
#include "ui/CLongPushButton.h"
#include "ui/ControlNotify.h"
#include "ui/TransparentBitmapStatic.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A window that keeps a volume as the player window does: one step per command or repeat of the volume
// buttons, the dial's value when it reports one.
class VolumeWindow : public uitest::RecordingParent {
public:
    bool post(UINT msg, WPARAM wParam, LPARAM lParam) override {
        RecordingParent::post(msg, wParam, lParam);
        if (msg == WM_LONG_PUSH_REPEAT || msg == WM_COMMAND) {
            const int step = ui::LOWORD(wParam) == 5039 ? 1 : -1;
            volume = std::clamp(volume + step, 0, 100);
        } else if (msg == WM_HSCROLL) {
            volume = ui::HIWORD(wParam);
        }
        return true;
    }
    int volume = 50;
};

// A click target beside the controls: whether the next click reaches what was clicked.
class Target : public QPushButton {
public:
    explicit Target(QWidget* parent) : QPushButton(QStringLiteral("other"), parent) {
        connect(this, &QPushButton::clicked, this, [this] { ++clicks; });
    }
    int clicks = 0;
};

// A panel that counts the presses that reach it (the player window cancels a typed number on one).
class CountingPanel : public VolumeWindow {
protected:
    void mousePressEvent(QMouseEvent* event) override {
        ++presses;
        event->accept();
    }

public:
    int presses = 0;
};

QWindow* Handle(QWidget* w) {
    return w->window()->windowHandle();
}
QPoint InWindow(QWidget* w, QPoint local) {
    return w->mapTo(w->window(), local);
}
void Press(QWidget* w, QPoint at) {
    QTest::mousePress(Handle(w), Qt::LeftButton, Qt::NoModifier, InWindow(w, at));
}
void Release(QWidget* w, QPoint at) {
    QTest::mouseRelease(Handle(w), Qt::LeftButton, Qt::NoModifier, InWindow(w, at));
}
void Drag(QWidget* w, QPoint at) {
    QTest::mouseMove(Handle(w), InWindow(w, at));
}
void Click(QWidget* w) {
    const QPoint centre = w->rect().center();
    Press(w, centre);
    Release(w, centre);
}

// A point on the dial's ring at a scale position (0..300).
QPoint DialPoint(int position) {
    const double angle = (120.0 + position) * M_PI / 180.0;
    return QPoint(117 + int(std::lround(90 * std::cos(angle))), 117 + int(std::lround(90 * std::sin(angle))));
}

// A modal box over the window, as the player's warnings are; it takes the mouse from then on.
std::unique_ptr<QMessageBox> OpenBox(QWidget* over) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, QStringLiteral("Quellwave"),
                                             QStringLiteral("A warning"), QMessageBox::Ok, over);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(box.get()));
    return box;
}

class LostPressTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_.resize(600, 300);
        button_->MakeOwnerDraw();
        ASSERT_TRUE(button_->LoadBitmaps(1, 2, 3, 4, 5, 6));
        button_->move(10, 10);
        dial_->move(300, 10);
        other_->move(10, 200);
        window_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
        window_.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    }
    void TearDown() override {
        if (QWidget::mouseGrabber() != nullptr)
            QWidget::mouseGrabber()->releaseMouse();
    }
    // Holds the volume-up button until it has repeated twice.
    void HoldUntilRepeating() {
        Press(button_, QPoint(5, 5));
        ASSERT_TRUE(button_->IsPressed());
        ASSERT_TRUE(QTest::qWaitFor([&] { return window_.Count(WM_LONG_PUSH_REPEAT) >= 2; }, 2000));
    }
    void ExpectPressEnded(int volumeWhenLost) {
        QTest::qWait(450); // four repeats' worth of time
        EXPECT_EQ(window_.volume, volumeWhenLost) << "the volume went on moving without a hand on the mouse";
        EXPECT_EQ(window_.Count(WM_COMMAND), 0u) << "a lost press is no click";
        EXPECT_FALSE(button_->IsPressed());
        EXPECT_FALSE(button_->IsTimerRunning());
        EXPECT_FALSE(button_->isDown());
        EXPECT_NE(QWidget::mouseGrabber(), button_);
    }

    CountingPanel window_;
    CLongPushButton* button_ = new CLongPushButton(5039, &window_, uitest::PaintedBitmaps());
    CDialCtrl* dial_ = new CDialCtrl(5033, &window_, uitest::PaintedDialImages());
    Target* other_ = new Target(&window_);
};

TEST_F(LostPressTest, HeldVolumeButtonStopsWhenAModalBoxTakesTheRelease) {
    HoldUntilRepeating();
    auto box = OpenBox(&window_);
    const int whenBoxOpened = window_.volume;
    EXPECT_GE(whenBoxOpened, 52);
    // The release goes where the window system sends it under the grab: to the blocked window, which drops
    // it. The button never hears of it.
    Release(button_, QPoint(5, 5));
    ExpectPressEnded(whenBoxOpened);
    // The box takes its own click.
    Click(box->button(QMessageBox::Ok));
    EXPECT_FALSE(box->isVisible()) << "the box's button never got its click";
    box.reset();
    // The next click reaches what was clicked and leaves the volume alone.
    Click(other_);
    EXPECT_EQ(other_->clicks, 1);
    EXPECT_EQ(window_.volume, whenBoxOpened);
}

TEST_F(LostPressTest, HeldVolumeButtonStopsWhenTheWindowIsDeactivatedOrTheGrabTaken) {
    {
        SCOPED_TRACE("another window activated");
        HoldUntilRepeating();
        QWidget elsewhere;
        elsewhere.resize(100, 100);
        elsewhere.show();
        elsewhere.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
        const int whenLost = window_.volume;
        ExpectPressEnded(whenLost);
    }
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    window_.messages.clear();
    {
        SCOPED_TRACE("grab taken by another widget");
        HoldUntilRepeating();
        other_->grabMouse();
        const int whenLost = window_.volume;
        ExpectPressEnded(whenLost);
        other_->releaseMouse();
    }
}

TEST_F(LostPressTest, DraggedDialLetsGoWhenAModalBoxTakesTheRelease) {
    dial_->SetValue(20);
    window_.messages.clear();
    Press(dial_, DialPoint(60));
    ASSERT_TRUE(dial_->IsDragging());
    Drag(dial_, DialPoint(150));
    Drag(dial_, DialPoint(240));
    QTest::qWait(100); // the knob turns towards the mouse
    auto box = OpenBox(&window_);
    const unsigned whenBoxOpened = dial_->GetValue();
    Release(dial_, DialPoint(240));
    Click(box->button(QMessageBox::Ok));
    EXPECT_FALSE(box->isVisible()) << "the box's button never got its click";
    box.reset();
    QTest::qWait(300);
    EXPECT_FALSE(dial_->IsDragging());
    EXPECT_FALSE(dial_->IsAnimating());
    EXPECT_NE(QWidget::mouseGrabber(), dial_) << "the dial kept the grab";
    EXPECT_EQ(dial_->GetValue(), whenBoxOpened);
    EXPECT_EQ(window_.volume, int(whenBoxOpened)) << "the window heard the value the knob stopped at";
    // The next click goes where it was aimed, not to the dial.
    Click(other_);
    EXPECT_EQ(other_->clicks, 1);
    QTest::qWait(100);
    EXPECT_EQ(dial_->GetValue(), whenBoxOpened);
}

TEST_F(LostPressTest, PressesOnTheDialStayInTheDial) {
    struct Case {
        const char* where;
        QPoint at;
    };
    for (const Case& c : {Case{"on the ring", DialPoint(150)}, Case{"inside the ring", QPoint(117, 117)},
                          Case{"in the corner", QPoint(3, 3)}}) {
        SCOPED_TRACE(c.where);
        Press(dial_, c.at);
        Release(dial_, c.at);
        EXPECT_EQ(window_.presses, 0) << "the press reached the window behind the dial";
    }
    Press(&window_, QPoint(200, 250)); // a press on the window itself still reaches it
    Release(&window_, QPoint(200, 250));
    EXPECT_EQ(window_.presses, 1);
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QObject* watched) { watched->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

TEST(DisplayPanel, BannerTimeAndTrackArePaintedAtOnce) {
    QWidget owner;
    owner.resize(500, 100);
    auto* panel = new CLEDDialog(uitest::PaintedBitmaps());
    ASSERT_TRUE(panel->CreatePanel(&owner));
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    QApplication::processEvents();
    struct Case {
        const char* what;
        int element;
        std::function<void()> change;
    };
    for (const Case& c : {
             Case{"time", CLEDDialog::kMinuteUnits, [&] { panel->SetTime(65'000); }},
             Case{"track", CLEDDialog::kTrackUnits, [&] { panel->ShowTrack(7); }},
             Case{"banner", CLEDDialog::kBanner2, [&] { panel->ShowBanner(2); }},
         }) {
        SCOPED_TRACE(c.what);
        PaintCounter counter(panel->Element(c.element));
        c.change(); // no event loop in between: the thread may be busy with the disc next
        EXPECT_GE(counter.paints, 1) << "only queued for later";
        QApplication::processEvents();
    }
}

TEST(PictureButton, SpaceHeldWhileAnotherWidgetHasTheFocusKeepsTheHoverLook) {
    QWidget window;
    window.resize(200, 100);
    auto* field = new QLineEdit(&window);
    field->move(100, 50);
    auto* button = new PlayCtrlButton(1004, &window, uitest::PaintedBitmaps());
    button->setFocusPolicy(Qt::NoFocus); // as in the player window
    button->MakeOwnerDraw();
    ASSERT_TRUE(button->LoadBitmaps(1, 2, 3, 4, 5, 6));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    field->setFocus();
    const auto move = [&](QPoint at) {
        QMouseEvent event(QEvent::MouseMove, QPointF(at), button->mapToGlobal(QPointF(at)), Qt::NoButton,
                          Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(button, &event);
    };
    move(QPoint(5, 5));
    ASSERT_TRUE(button->IsHovered());
    QTest::keyPress(field, Qt::Key_Space);
    move(QPoint(80, 5));
    EXPECT_TRUE(button->IsHovered()) << "the held space bar was not seen";
    QTest::keyRelease(field, Qt::Key_Space);
    move(QPoint(80, 5));
    EXPECT_FALSE(button->IsHovered());
}

} // namespace
