// A picture button with press-and-hold repetition: a short press posts one WM_COMMAND (control id,
// BN_CLICKED) to the parent when the button comes up; holding it posts WM_LONG_PUSH_REPEAT (wParam = control
// id) every 100 ms from the second timer tick on (at 200, 300, ... ms) and no command. A press that is taken
// from the button (a modal box opens, the window is deactivated, the grab goes elsewhere) ends at once, with
// no more repeats and no command. The player window's volume buttons are of this kind. UI thread only.
#pragma once

#include "InputState.h"
#include "PlayCtrlButton.h"

#include <QBasicTimer>

#include <climits>

class CLongPushButton : public PlayCtrlButton {
    Q_OBJECT

public:
    static constexpr int kTimerId = 100;
    static constexpr int kTimerPeriodMs = 100;

    explicit CLongPushButton(int controlId, QWidget* parent = nullptr, ui::BitmapLoader loader = {});
    ~CLongPushButton() override;

    // The repeat step, run by timer kTimerId every 100 ms while the button is held; public so a test can
    // step it without waiting for real time. Other ids are ignored.
    void OnTimer(int timerId);

    bool IsPressed() const noexcept { return pressed_; }
    int TickCount() const noexcept { return tickCount_; }
    bool IsTimerRunning() const noexcept { return timer_.isActive(); }

    // Ends a held press without a command: the timer stops, the grab goes, the button comes up.
    void CancelPress();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void OnClicked() override;

private:
    bool pressed_ = false;
    int tickCount_ = 0;
    // Set while the mouse's release runs through the ordinary button handling, whose click must not post
    // a second command.
    bool releasing_ = false;
    QBasicTimer timer_;
    ui::PressWatch watch_{this, [this] { CancelPress(); }};
};
