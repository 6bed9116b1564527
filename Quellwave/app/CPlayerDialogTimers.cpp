// The player panel: its timers: the panel fades, the entry time-out, the load and battery checks.
#include "CPlayerDialog.h"

#include "shell/ResourceIds.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QTimerEvent>

namespace app {

void CPlayerDialog::StartTimer(int id, int periodMs) {
    timers_[id].start(periodMs, this);
}

void CPlayerDialog::KillTimer(int id) {
    if (const auto it = timers_.find(id); it != timers_.end())
        it->second.stop();
}

bool CPlayerDialog::TimerActive(int id) const {
    const auto it = timers_.find(id);
    return it != timers_.end() && it->second.isActive();
}

void CPlayerDialog::timerEvent(QTimerEvent* event) {
    for (const auto& [id, timer] : timers_) {
        if (timer.timerId() == event->timerId()) {
            OnTimer(id);
            return;
        }
    }
    QWidget::timerEvent(event);
}

void CPlayerDialog::OnTimer(int id) {
    OnTimerTick(id);
    // The battery and load checks may stop or pause playback.
    NoteStateChange();
}

void CPlayerDialog::OnTimerTick(int id) {
    switch (id) {
    case kTimerFadeIn:
        panelFade_ += 20;
        if (panelFade_ >= 255) {
            panelFade_ = 255;
            KillTimer(kTimerFadeIn);
            panelVisible_ = true;
        }
        ApplyPanelFade();
        if (panelVisible_ && cursorHidden_) {
            unsetCursor();
            cursorHidden_ = false;
        }
        activateWindow();
        break;
    case kTimerFadeOut:
        panelFade_ -= 20;
        if (panelFade_ <= 0) {
            panelFade_ = 0;
            KillTimer(kTimerFadeOut);
            panelVisible_ = false;
        }
        ApplyPanelFade();
        if (!panelVisible_ && !cursorHidden_) {
            setCursor(Qt::BlankCursor);
            cursorHidden_ = true;
        }
        break;
    case kTimerBattery:
        BatteryCheck();
        break;
    case kTimerLoad:
        LoadCheck();
        break;
    case kTimerEntry:
        // Posted once: the selection handler ends the entry.
        KillTimer(kTimerEntry);
        post(Registered().playSelectedTrack, entry_, 0);
        break;
    case kTimerSeekRepeat:
        // A box opened over the window has the keyboard now: the key's release may never be seen here.
        if (seekKey_ == 0 || QApplication::activeModalWidget() != nullptr) {
            EndSeekRepeat();
            break;
        }
        if (++seekTicks_ > 1)
            SeekBy(seekStep_);
        break;
    default:
        break;
    }
}

void CPlayerDialog::ApplyPanelFade() {
    if (panelFade_ >= 255) {
        // Fully shown: no effect, so painting costs nothing extra.
        if (graphicsEffect() != nullptr)
            setGraphicsEffect(nullptr);
        return;
    }
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(graphicsEffect());
    if (effect == nullptr) {
        effect = new QGraphicsOpacityEffect(this);
        setGraphicsEffect(effect);
    }
    effect->setOpacity(panelFade_ / 255.0);
}

void CPlayerDialog::FadePanelInIfHidden() {
    if (panelVisible_)
        return;
    panelFade_ = 0;
    ApplyPanelFade();
    KillTimer(kTimerFadeOut);
    StartTimer(kTimerFadeIn, 10);
}

void CPlayerDialog::LoadCheck() {
    lastLoad_ = loadMonitor_->Sample();
    if (!LoadCallsForPause(lastLoad_, loadMonitor_->RepeatCount(), thresholds_))
        return;
    const bool wasPlaying = EnginePlaying();
    PausePlaying();
    if (wasPlaying)
        services_.MessageBox(this, resid::kStrOverloadPaused, resid::kStrWarningCaption, MB_ICONEXCLAMATION);
}

void CPlayerDialog::BatteryCheck() {
    switch (CheckBattery(services_.Probe(), EnginePlaying())) {
    case BatteryTimerStep::Stop:
        Stop();
        KillTimer(kTimerBattery);
        break;
    case BatteryTimerStep::EndTimer:
        KillTimer(kTimerBattery);
        break;
    case BatteryTimerStep::KeepTimer:
        break;
    }
}

} // namespace app
