// The player panel: the keys, the media keys, the mouse and the wheel.
#include "CPlayerDialog.h"

#include "PlayListCard.h"

#include "ui/CLEDDialog.h"
#include "ui/CLongPushButton.h"
#include "ui/ControlNotify.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <utility>

namespace app {

namespace {

// How far one press of a seek key moves.
constexpr std::int64_t kSeekStepMs = 10'000;

} // namespace

std::int64_t CPlayerDialog::SeekStepOf(int key, Qt::KeyboardModifiers modifiers) {
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        // With Ctrl these are previous and next.
        if (modifiers & Qt::ControlModifier)
            return 0;
        return key == Qt::Key_Left ? -kSeekStepMs : kSeekStepMs;
    case Qt::Key_AudioRewind:
        return -kSeekStepMs;
    case Qt::Key_AudioForward:
        return kSeekStepMs;
    default:
        return 0;
    }
}

void CPlayerDialog::PressSeekKey(int key, std::int64_t step) {
    if (entry_ != 0 || display_->EntryMode()) {
        // A digit entry open: the key only cancels it.
        CancelEntry();
        return;
    }
    SeekBy(step);
    // Held, the key repeats at the pace of the volume buttons' long push: every period from the second
    // tick on.
    seekKey_ = key;
    seekStep_ = step;
    seekTicks_ = 0;
    StartTimer(kTimerSeekRepeat, CLongPushButton::kTimerPeriodMs);
}

void CPlayerDialog::EndSeekRepeat() {
    KillTimer(kTimerSeekRepeat);
    seekKey_ = 0;
    seekTicks_ = 0;
}

bool CPlayerDialog::HandleKey(int key, Qt::KeyboardModifiers modifiers) {
    const RegisteredMessages& reg = Registered();
    // The list card, while open, takes its own keys; the others act on the panel as ever.
    if (card_ != nullptr && (modifiers & (Qt::ControlModifier | Qt::AltModifier)) == 0) {
        switch (card_->HandleKey(key)) {
        case PlayListCard::KeyResult::Play:
            post(reg.playSelectedTrack, card_->Selected(), 0);
            return true;
        case PlayListCard::KeyResult::Close:
            ToggleListCard();
            return true;
        case PlayListCard::KeyResult::Moved:
            return true;
        case PlayListCard::KeyResult::Ignored:
            break;
        }
    }
    if (const std::int64_t step = SeekStepOf(key, modifiers); step != 0) {
        PressSeekKey(key, step);
        return true;
    }
    switch (key) {
    case Qt::Key_Space:
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        post(reg.playSelectedTrack, entry_, 0);
        return true;
    case Qt::Key_Escape:
        CancelEntry();
        if (started_)
            display_->ShowTrack(currentTrack_);
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
        // Plain, these seek (above).
        post(WM_COMMAND, key == Qt::Key_Left ? kCmdPrevious : kCmdNext, 0);
        CancelEntry();
        return true;
    case Qt::Key_F6:
    case Qt::Key_F7:
    case Qt::Key_F9:
    case Qt::Key_F10: {
        const unsigned command = key == Qt::Key_F6   ? kCmdPlay
                                 : key == Qt::Key_F7 ? kCmdStop
                                 : key == Qt::Key_F9 ? kCmdVolumeDown
                                                     : kCmdVolumeUp;
        post(WM_COMMAND, command, 0);
        CancelEntry();
        return true;
    }
    case Qt::Key_F8:
        ToggleMute();
        CancelEntry();
        return true;
    case Qt::Key_T:
        CancelEntry();
        ToggleRemainingTime();
        return true;
    case Qt::Key_L:
        CancelEntry();
        ToggleListCard();
        return true;
    default:
        break;
    }
    // Media keys are the system's media commands, as the keyboard's driver would send them.
    static constexpr std::pair<int, unsigned> kMediaKeys[] = {
        {Qt::Key_MediaNext, APPCOMMAND_MEDIA_NEXTTRACK},
        {Qt::Key_MediaPrevious, APPCOMMAND_MEDIA_PREVIOUSTRACK},
        {Qt::Key_MediaStop, APPCOMMAND_MEDIA_STOP},
        {Qt::Key_MediaTogglePlayPause, APPCOMMAND_MEDIA_PLAY_PAUSE},
        {Qt::Key_MediaPlay, APPCOMMAND_MEDIA_PLAY},
        {Qt::Key_MediaPause, APPCOMMAND_MEDIA_PAUSE},
    };
    for (const auto& [mediaKey, command] : kMediaKeys) {
        if (key == mediaKey) {
            OnAppCommand(command);
            return true;
        }
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        DigitEntry(static_cast<unsigned>(key - Qt::Key_0));
        return true;
    }
    CancelEntry();
    if (started_)
        display_->ShowTrack(currentTrack_);
    FadePanelInIfHidden();
    return false;
}

void CPlayerDialog::OnAppCommand(unsigned command) {
    const RegisteredMessages& reg = Registered();
    const bool running = EnginePlaying();
    switch (command) {
    case APPCOMMAND_MEDIA_NEXTTRACK:
        post(WM_COMMAND, kCmdNext, 0);
        break;
    case APPCOMMAND_MEDIA_PREVIOUSTRACK:
        post(WM_COMMAND, kCmdPrevious, 0);
        break;
    case APPCOMMAND_MEDIA_STOP:
        post(WM_COMMAND, kCmdStop, 0);
        break;
    case APPCOMMAND_MEDIA_PLAY_PAUSE:
        if (running)
            post(WM_COMMAND, kCmdPause, 0);
        else if (!started_ && entry_ != 0)
            post(reg.playSelectedTrack, entry_, 0);
        else
            post(WM_COMMAND, kCmdPlay, 0);
        break;
    case APPCOMMAND_MEDIA_PLAY:
        if (running)
            break;
        if (entry_ != 0)
            post(reg.playSelectedTrack, entry_, 0);
        else
            post(WM_COMMAND, kCmdPlay, 0);
        break;
    case APPCOMMAND_MEDIA_PAUSE:
        if (running)
            post(WM_COMMAND, kCmdPause, 0);
        else if (started_)
            post(WM_COMMAND, kCmdPlay, 0);
        break;
    default:
        CancelEntry();
        if (started_)
            display_->ShowTrack(currentTrack_);
        FadePanelInIfHidden();
        return;
    }
    CancelEntry();
}

bool CPlayerDialog::eventFilter(QObject* watched, QEvent* event) {
    // Every key pressed anywhere in the main window comes here first, as the panel's message filter sees
    // it before the control that has the focus. A handled key goes no further; an unhandled one may come
    // by again on its way up to the parents, and what is done for it is the same done twice.
    if (seekKey_ != 0) {
        // A seek key held. Its release ends the repeating wherever it goes (a box opened over the window
        // takes the keys); so does the program losing the keyboard, after which no release comes. The
        // system's own repeats of the key are no more presses: the timer repeats.
        const QEvent::Type type = event->type();
        if (type == QEvent::ApplicationDeactivate ||
            (type == QEvent::WindowDeactivate && watched == window())) {
            EndSeekRepeat();
        } else if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) &&
                   static_cast<QKeyEvent*>(event)->key() == seekKey_) {
            const bool ours = watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == window();
            if (static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
                if (ours)
                    return true;
            } else if (type == QEvent::KeyRelease) {
                EndSeekRepeat();
                if (ours)
                    return true;
            }
        }
    }
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == window()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool handled = HandleKey(key->key(), key->modifiers());
        NoteStateChange();
        if (handled)
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CPlayerDialog::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        CancelEntry();
        // The display's time (its pictures take no clicks, so they come here) switches between the time
        // played and the time left.
        if (CLEDDialog::kTimeArea.contains(display_->mapFrom(this, event->position().toPoint())))
            ToggleRemainingTime();
    }
    QWidget::mousePressEvent(event);
}

void CPlayerDialog::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta > 0)
        post(WM_COMMAND, kCmdVolumeUp, 0);
    else if (delta < 0)
        post(WM_COMMAND, kCmdVolumeDown, 0);
    event->accept();
}

} // namespace app
