// The picture buttons: the bitmap each state paints, hover tracking, LoadBitmaps, and the long-push
// button's command and repeat messages.
#include "TestSupport.h"
#include "ui/CLongPushButton.h"
#include "ui/ControlNotify.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

using platform::Message;

// Bitmaps 11..16 in six distinct colours, 20 x 10, with one key-coloured corner; other ids are missing.
const QColor kColours[6] = {Qt::red, Qt::green, Qt::blue, Qt::gray, Qt::yellow, Qt::cyan};
QImage StateBitmap(unsigned id, int) {
    if (id < 11 || id > 16)
        return {};
    QImage image(20, 10, QImage::Format_RGB32);
    image.fill(kColours[id - 11]);
    image.setPixelColor(0, 0, QColor(0xFF, 0x00, 0x80));
    return image;
}

void Mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons held = Qt::NoButton) {
    QMouseEvent event(type, QPointF(at), w->mapToGlobal(QPointF(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}
void Key(QWidget* w, QEvent::Type type) {
    QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(w, &event);
}

class ButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        button_->MakeOwnerDraw();
        ASSERT_TRUE(button_->LoadBitmaps(11, 12, 13, 14, 15, 16));
        parent_.show();
    }
    // Which of the six bitmaps the button paints (-1: none of them).
    int Painted() const {
        const QImage shot = button_->grab().toImage();
        EXPECT_NE(shot.pixelColor(0, 0), QColor(0xFF, 0x00, 0x80)) << "the key colour is painted";
        for (int i = 0; i < 6; ++i) {
            if (shot.pixelColor(10, 5) == kColours[i])
                return i;
        }
        return -1;
    }
    uitest::RecordingParent parent_;
    CLongPushButton* button_ = new CLongPushButton(5039, &parent_, StateBitmap);
};

TEST_F(ButtonTest, PaintsTheBitmapOfItsState) {
    using P = PlayCtrlButton;
    EXPECT_EQ(button_->size(), QSize(20, 10));
    EXPECT_EQ(Painted(), P::kNormal);
    Mouse(button_, QEvent::MouseMove, QPoint(5, 5));
    EXPECT_EQ(Painted(), P::kHovered);
    button_->setDown(true);
    EXPECT_EQ(Painted(), P::kPressed) << "pressed wins over hover";
    EXPECT_EQ(P::PictureFor(false, false, true, false), P::kFocused);
    EXPECT_EQ(P::PictureFor(false, false, true, true), P::kHoveredFocused);
    EXPECT_EQ(P::PictureFor(true, true, true, true), P::kDisabled) << "disabled wins over everything";
    button_->setDown(false);
    button_->setEnabled(false);
    EXPECT_EQ(Painted(), P::kDisabled);
    button_->setEnabled(true);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button_, &leave);
    EXPECT_EQ(Painted(), P::kNormal);
    // Dragged out with the space bar down, the hover look stays; without it, it goes.
    Mouse(button_, QEvent::MouseMove, QPoint(5, 5));
    Key(button_, QEvent::KeyPress);
    Mouse(button_, QEvent::MouseMove, QPoint(50, 5));
    EXPECT_TRUE(button_->IsHovered());
    Key(button_, QEvent::KeyRelease);
    Mouse(button_, QEvent::MouseMove, QPoint(50, 5));
    EXPECT_FALSE(button_->IsHovered());
}

TEST_F(ButtonTest, LoadBitmapsStopsAtTheFirstMissingBitmap) {
    struct Case {
        std::vector<unsigned> ids;
        bool loads;
        int kept; // bitmaps attached, in order
    };
    for (const Case& c :
         {Case{{11, 12, 13, 0, 15, 16}, false, 3}, Case{{0, 12, 13, 14, 15, 16}, false, 0},
          Case{{11, 12, 99, 14, 15, 16}, false, 2}, Case{{11, 12, 13, 14, 15, 16}, true, 6}}) {
        std::vector<unsigned> asked;
        PlayCtrlButton button(5029, &parent_, [&asked](unsigned id, int scale) {
            asked.push_back(id);
            return StateBitmap(id, scale);
        });
        button.resize(5, 5);
        EXPECT_EQ(button.LoadBitmaps(c.ids[0], c.ids[1], c.ids[2], c.ids[3], c.ids[4], c.ids[5]), c.loads);
        EXPECT_EQ(asked.size(), std::size_t(c.kept + (c.loads ? 0 : c.ids[c.kept] != 0)));
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(button.Bitmap(PlayCtrlButton::Picture(i)).isNull(), i >= c.kept) << i;
        EXPECT_EQ(button.size(), c.loads ? QSize(20, 10) : QSize(5, 5)) << "sized only when all six load";
    }
}

TEST_F(ButtonTest, ShortPressCommandsLongPressRepeats) {
    struct Case {
        int ms;
        std::vector<int> repeatsAt;
        bool command;
    };
    for (const Case& c :
         {Case{150, {}, true}, Case{199, {}, true}, Case{200, {200}, false},
          Case{450, {200, 300, 400}, false}, Case{700, {200, 300, 400, 500, 600, 700}, false}}) {
        SCOPED_TRACE(c.ms);
        parent_.messages.clear();
        // The press, a timer tick at every 100 ms of it, and the release.
        std::vector<int> repeats;
        Mouse(button_, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton);
        EXPECT_TRUE(button_->IsTimerRunning());
        EXPECT_EQ(QWidget::mouseGrabber(), button_);
        for (int now = 100; now <= c.ms; now += 100) {
            const std::size_t before = parent_.messages.size();
            button_->OnTimer(CLongPushButton::kTimerId);
            if (parent_.messages.size() > before)
                repeats.push_back(now);
        }
        const std::size_t held = parent_.messages.size();
        Mouse(button_, QEvent::MouseButtonRelease, QPoint(5, 5));
        EXPECT_EQ(repeats, c.repeatsAt);
        for (std::size_t i = 0; i < held; ++i)
            EXPECT_EQ(parent_.messages[i], (Message{WM_LONG_PUSH_REPEAT, 5039, 0}));
        const std::vector<Message> after(parent_.messages.begin() + long(held), parent_.messages.end());
        const std::vector<Message> command{{WM_COMMAND, ui::MAKEWPARAM(5039, ui::BN_CLICKED), 0}};
        EXPECT_EQ(after, c.command ? command : std::vector<Message>{});
        EXPECT_FALSE(button_->IsTimerRunning());
        EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
        button_->OnTimer(CLongPushButton::kTimerId); // a late tick after the release posts nothing
        EXPECT_EQ(parent_.messages.size(), held + (c.command ? 1 : 0));
    }
}

TEST_F(ButtonTest, RealTimerDoubleClickAndKeyboard) {
    // Held for well over 200 ms on the real timer: repeats and no command.
    Mouse(button_, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton);
    QTest::qWait(650);
    Mouse(button_, QEvent::MouseButtonRelease, QPoint(5, 5));
    EXPECT_GE(parent_.Count(WM_LONG_PUSH_REPEAT), 1u);
    EXPECT_EQ(parent_.Count(WM_COMMAND), 0u);
    // A double click is a second press: two commands. Space on the focused button is one.
    parent_.messages.clear();
    Mouse(button_, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton);
    Mouse(button_, QEvent::MouseButtonRelease, QPoint(5, 5));
    Mouse(button_, QEvent::MouseButtonDblClick, QPoint(5, 5), Qt::LeftButton);
    Mouse(button_, QEvent::MouseButtonRelease, QPoint(5, 5));
    Key(button_, QEvent::KeyPress);
    Key(button_, QEvent::KeyRelease);
    EXPECT_EQ(parent_.messages, std::vector<Message>(3, Message{WM_COMMAND, 5039, 0}));
    // A plain picture button answers its click the same way.
    PlayCtrlButton plain(1004, &parent_, StateBitmap);
    plain.show();
    parent_.messages.clear();
    QTest::mouseClick(&plain, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_EQ(parent_.messages, (std::vector<Message>{{WM_COMMAND, 1004, 0}}));
}

} // namespace
