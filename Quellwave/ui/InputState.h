// What the controls need to know about the mouse and the keyboard beyond their own events.
//
// A control that holds a press (a long-push button repeating, the dial being dragged) must end it when the
// press is taken from it: a modal box opens over its window, the window is deactivated, another widget takes
// the mouse grab, or the control is hidden or disabled. The release then never reaches the control, so
// without this the press would go on (repeats without a hand on the mouse, a grab that steals the next
// click). PressWatch tells its owner once when that happens.
//
// KeyDown reads the keyboard as the program has seen it, whichever of its widgets had the focus: the
// picture buttons never take the focus, so their own key events cannot tell them the space bar is held.
// UI thread only.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QWidget;

namespace ui {

class PressWatch : public QObject {
public:
    // lost runs once per watched press, when the press is taken from control.
    PressWatch(QWidget* control, std::function<void()> lost);
    ~PressWatch() override;

    // From now on a lost press calls lost (once), until Stop.
    void Start();
    void Stop();
    bool IsWatching() const noexcept { return watching_; }

    // False when the press can no longer be the control's: the grab is someone else's or a modal window
    // other than the control's own is open. The owner calls it on its timer ticks as a second line.
    bool PressStillHeld() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Lose();

    QWidget* control_;
    std::function<void()> lost_;
    bool watching_ = false;
};

// True while the key (a Qt::Key) is down as far as the program's windows have seen: set by its press to any
// of them, cleared by its release or when the program loses the keyboard. Starts watching on first use.
bool KeyDown(int key);
// Starts watching the keyboard (a picture button calls it when made, so a key pressed before the first
// question is seen).
void WatchKeyboard();

} // namespace ui
