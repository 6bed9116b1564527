#include "CLongPushButton.h"

#include "ControlNotify.h"

#include <QMouseEvent>
#include <QTimerEvent>

CLongPushButton::CLongPushButton(int controlId, QWidget* parent, ui::BitmapLoader loader)
    : PlayCtrlButton(controlId, parent, std::move(loader)) {}

CLongPushButton::~CLongPushButton() = default;

void CLongPushButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
        if (QWidget::mouseGrabber() != this) {
            tickCount_ = 0;
            grabMouse();
            timer_.start(kTimerPeriodMs, this);
        }
        watch_.Start();
    }
    PlayCtrlButton::mousePressEvent(event);
}

void CLongPushButton::CancelPress() {
    watch_.Stop();
    timer_.stop();
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
    pressed_ = false;
    tickCount_ = 0;
    setDown(false);
}

void CLongPushButton::OnTimer(int timerId) {
    if (timerId != kTimerId)
        return;
    if (pressed_ && !watch_.PressStillHeld()) {
        CancelPress();
        return;
    }
    if (tickCount_ < INT_MAX)
        ++tickCount_;
    if (pressed_ && tickCount_ > 1)
        ui::NotifyParent(this, WM_LONG_PUSH_REPEAT, static_cast<WPARAM>(ui::ControlId(this)), 0);
}

void CLongPushButton::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timer_.timerId()) {
        OnTimer(kTimerId);
        return;
    }
    PlayCtrlButton::timerEvent(event);
}

void CLongPushButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && pressed_) {
        watch_.Stop();
        timer_.stop();
        if (QWidget::mouseGrabber() == this)
            releaseMouse();
        if (tickCount_ <= 1) {
            ui::NotifyParent(this, WM_COMMAND,
                             ui::MAKEWPARAM(static_cast<WORD>(ui::ControlId(this)), ui::BN_CLICKED), 0);
        }
        pressed_ = false;
        tickCount_ = 0;
    }
    releasing_ = true;
    PlayCtrlButton::mouseReleaseEvent(event);
    releasing_ = false;
}

void CLongPushButton::OnClicked() {
    // The mouse's click was answered above (or was a hold); a click from the keyboard posts the command.
    if (!releasing_)
        PlayCtrlButton::OnClicked();
}
