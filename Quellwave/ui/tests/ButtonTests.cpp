// The picture buttons: which bitmap each state paints, hover tracking, LoadBitmaps, and the long-push
// button's command and repeat messages for short and long presses.
#include "CLongPushButton.h"
#include "ControlNotify.h"
#include "PlayCtrlButton.h"
#include "TestSupport.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using platform::Message;
using uitest::RecordingParent;

// Six plain bitmaps of distinct colours, ids 11..16, 20 x 10 pixels with a key-coloured corner.
const QColor kStateColours[6] = {Qt::red, Qt::green, Qt::blue, Qt::gray, Qt::yellow, Qt::cyan};

ui::BitmapLoader StateBitmaps(std::vector<unsigned>* asked = nullptr) {
    return [asked](unsigned id, int) -> QImage {
        if (asked != nullptr)
            asked->push_back(id);
        if (id < 11 || id > 16)
            return {};
        QImage image(20, 10, QImage::Format_RGB32);
        image.fill(kStateColours[id - 11]);
        image.setPixelColor(0, 0, QColor(0xFF, 0x00, 0x80));
        return image;
    };
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(at), w->mapToGlobal(QPointF(at)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

class ButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        parent_ = std::make_unique<RecordingParent>();
        parent_->show();
    }
    void TearDown() override {
        if (QWidget::mouseGrabber() != nullptr)
            QWidget::mouseGrabber()->releaseMouse();
    }

    // The colour the button paints in its middle, as an index into kStateColours (-1: none of them).
    static int PaintedState(PlayCtrlButton& button) {
        const QColor middle = button.grab().toImage().pixelColor(10, 5);
        for (int i = 0; i < 6; ++i) {
            if (middle == kStateColours[i])
                return i;
        }
        return -1;
    }

    std::unique_ptr<RecordingParent> parent_;
};

TEST_F(ButtonTest, PictureFollowsDisabledPressedHoverAndFocus) {
    struct Case {
        bool disabled, pressed, focused, hovered;
        PlayCtrlButton::Picture picture;
    };
    using P = PlayCtrlButton;
    for (const Case& c :
         {Case{false, false, false, false, P::kNormal}, Case{false, false, true, false, P::kFocused},
          Case{false, false, false, true, P::kHovered}, Case{false, false, true, true, P::kHoveredFocused},
          Case{false, true, false, true, P::kPressed}, Case{false, true, true, true, P::kPressed},
          Case{true, false, true, true, P::kDisabled}, Case{true, true, true, true, P::kDisabled},
          Case{true, false, false, false, P::kDisabled}}) {
        EXPECT_EQ(P::PictureFor(c.disabled, c.pressed, c.focused, c.hovered), c.picture)
            << c.disabled << c.pressed << c.focused << c.hovered;
    }
}

TEST_F(ButtonTest, PaintsTheBitmapOfItsState) {
    PlayCtrlButton button(1004, parent_.get(), StateBitmaps());
    ASSERT_TRUE(button.MakeOwnerDraw());
    ASSERT_TRUE(button.LoadBitmaps(11, 12, 13, 14, 15, 16));
    EXPECT_EQ(button.size(), QSize(20, 10));
    button.show();

    EXPECT_EQ(PaintedState(button), PlayCtrlButton::kNormal);
    SendMouse(&button, QEvent::MouseMove, QPoint(5, 5), Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(button.IsHovered());
    EXPECT_EQ(PaintedState(button), PlayCtrlButton::kHovered);
    button.setDown(true);
    EXPECT_EQ(PaintedState(button), PlayCtrlButton::kPressed) << "pressed wins over hover";
    button.setDown(false);
    button.setEnabled(false);
    EXPECT_EQ(PaintedState(button), PlayCtrlButton::kDisabled);
    button.setEnabled(true);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_FALSE(button.IsHovered());
    EXPECT_EQ(PaintedState(button), PlayCtrlButton::kNormal);
    // The key-coloured corner is left out.
    EXPECT_NE(button.grab().toImage().pixelColor(0, 0), QColor(0xFF, 0x00, 0x80));
}

TEST_F(ButtonTest, DraggingOutKeepsHoverOnlyWhileSpaceIsDown) {
    PlayCtrlButton button(1006, parent_.get(), StateBitmaps());
    button.MakeOwnerDraw();
    button.LoadBitmaps(11, 12, 13, 14, 15, 16);
    button.show();
    SendMouse(&button, QEvent::MouseMove, QPoint(5, 5), Qt::NoButton, Qt::NoButton);
    QKeyEvent spaceDown(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(&button, &spaceDown);
    SendMouse(&button, QEvent::MouseMove, QPoint(50, 5), Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(button.IsHovered());
    QKeyEvent spaceUp(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(&button, &spaceUp);
    SendMouse(&button, QEvent::MouseMove, QPoint(50, 5), Qt::NoButton, Qt::NoButton);
    EXPECT_FALSE(button.IsHovered());
}

TEST_F(ButtonTest, LoadBitmapsStopsAtTheFirstMissingBitmap) {
    struct Case {
        std::vector<unsigned> ids;
        bool loads;
        std::vector<unsigned> asked;
    };
    for (const Case& c :
         {Case{{11, 12, 13, 0, 15, 16}, false, {11, 12, 13}}, Case{{0, 12, 13, 14, 15, 16}, false, {}},
          Case{{11, 12, 99, 14, 15, 16}, false, {11, 12, 99}},
          Case{{11, 12, 13, 14, 15, 16}, true, {11, 12, 13, 14, 15, 16}}}) {
        SCOPED_TRACE(c.ids[3]);
        std::vector<unsigned> asked;
        PlayCtrlButton button(5029, parent_.get(), StateBitmaps(&asked));
        button.resize(5, 5);
        EXPECT_EQ(button.LoadBitmaps(c.ids[0], c.ids[1], c.ids[2], c.ids[3], c.ids[4], c.ids[5]), c.loads);
        EXPECT_EQ(asked, c.asked);
        // What loaded before the failure stays; the button is sized only when all six loaded.
        for (std::size_t i = 0; i < 6; ++i) {
            const bool kept = i < c.asked.size() && c.asked[i] >= 11 && c.asked[i] <= 16;
            EXPECT_EQ(!button.Bitmap(static_cast<PlayCtrlButton::Picture>(i)).isNull(), kept) << i;
        }
        EXPECT_EQ(button.size(), c.loads ? QSize(20, 10) : QSize(5, 5));
    }
}

TEST_F(ButtonTest, PictureButtonClickPostsOneCommand) {
    PlayCtrlButton button(1004, parent_.get(), StateBitmaps());
    button.MakeOwnerDraw();
    button.LoadBitmaps(11, 12, 13, 14, 15, 16);
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_EQ(parent_->messages, (std::vector<Message>{{ui::WM_COMMAND, 1004, 0}}));
}

class LongPushTest : public ButtonTest {
protected:
    void SetUp() override {
        ButtonTest::SetUp();
        button_ = new CLongPushButton(5039, parent_.get(), StateBitmaps());
        button_->MakeOwnerDraw();
        button_->LoadBitmaps(11, 12, 13, 14, 15, 16);
        button_->show();
    }
    // A press held for `ms` milliseconds, the timer ticking every 100 ms of it; returns the time of each
    // message (in ms) by kind.
    void Hold(int ms, std::vector<int>* repeatsAt, std::vector<int>* commandsAt) {
        std::size_t seen = parent_->messages.size();
        const auto collect = [&](int now) {
            for (; seen < parent_->messages.size(); ++seen) {
                const Message& m = parent_->messages[seen];
                if (m.msg == ui::WM_LONG_PUSH_REPEAT && m.wParam == 5039 && m.lParam == 0)
                    repeatsAt->push_back(now);
                else if (m.msg == ui::WM_COMMAND && m.wParam == ui::MAKEWPARAM(5039, ui::BN_CLICKED))
                    commandsAt->push_back(now);
                else
                    ADD_FAILURE() << "unexpected message " << m.msg;
            }
        };
        SendMouse(button_, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
        collect(0);
        for (int now = 100; now <= ms; now += 100) {
            button_->OnTimer(CLongPushButton::kTimerId);
            collect(now);
        }
        SendMouse(button_, QEvent::MouseButtonRelease, QPoint(5, 5), Qt::LeftButton, Qt::NoButton);
        collect(ms);
    }
    CLongPushButton* button_ = nullptr;
};

TEST_F(LongPushTest, ShortPressCommandsLongPressRepeats) {
    struct Case {
        int ms;
        std::vector<int> repeatsAt;
        std::vector<int> commandsAt;
    };
    for (const Case& c :
         {Case{150, {}, {150}}, Case{50, {}, {50}}, Case{199, {}, {199}}, Case{200, {200}, {}},
          Case{450, {200, 300, 400}, {}}, Case{1000, {200, 300, 400, 500, 600, 700, 800, 900, 1000}, {}}}) {
        SCOPED_TRACE(c.ms);
        std::vector<int> repeats, commands;
        Hold(c.ms, &repeats, &commands);
        EXPECT_EQ(repeats, c.repeatsAt);
        EXPECT_EQ(commands, c.commandsAt);
        EXPECT_FALSE(button_->IsPressed());
        EXPECT_FALSE(button_->IsTimerRunning());
        EXPECT_EQ(button_->TickCount(), 0);
        EXPECT_NE(QWidget::mouseGrabber(), button_);
    }
}

TEST_F(LongPushTest, TimerRunsAndCapturesOnlyWhileHeld) {
    SendMouse(button_, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(button_->IsPressed());
    EXPECT_TRUE(button_->IsTimerRunning());
    EXPECT_EQ(QWidget::mouseGrabber(), button_);
    EXPECT_EQ(PaintedState(*button_), PlayCtrlButton::kPressed);
    // The real timer: after a good half second held, repeats have come and no command.
    QTest::qWait(650);
    SendMouse(button_, QEvent::MouseButtonRelease, QPoint(5, 5), Qt::LeftButton, Qt::NoButton);
    EXPECT_GE(parent_->Count(ui::WM_LONG_PUSH_REPEAT), 1u);
    EXPECT_EQ(parent_->Count(ui::WM_COMMAND), 0u);
    // Ticks after the release post nothing.
    parent_->messages.clear();
    button_->OnTimer(CLongPushButton::kTimerId);
    button_->OnTimer(CLongPushButton::kTimerId);
    EXPECT_TRUE(parent_->messages.empty());
}

TEST_F(LongPushTest, DoubleClickIsASecondPressAndKeyboardStillClicks) {
    // What the system delivers for a double click: press, release, double click, release.
    SendMouse(button_, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
    SendMouse(button_, QEvent::MouseButtonRelease, QPoint(5, 5), Qt::LeftButton, Qt::NoButton);
    SendMouse(button_, QEvent::MouseButtonDblClick, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
    SendMouse(button_, QEvent::MouseButtonRelease, QPoint(5, 5), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(parent_->Count(ui::WM_COMMAND), 2u) << "press, release, press again, release";
    EXPECT_EQ(parent_->Count(ui::WM_LONG_PUSH_REPEAT), 0u);

    parent_->messages.clear();
    button_->setFocus();
    QTest::keyClick(button_, Qt::Key_Space);
    EXPECT_EQ(parent_->messages, (std::vector<Message>{{ui::WM_COMMAND, 5039, 0}}));
}

} // namespace
