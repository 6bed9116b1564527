// Keeps the machine from sleeping while the player plays: a logind "sleep:idle" inhibitor in block mode,
// taken when playback starts and let go (its descriptor closed) on pause and stop. It is held only while
// the window asks for the system to stay awake (ES_SYSTEM_REQUIRED in its execution state, from its start
// to its close) and the panel plays. Without logind the player plays on without it. UI thread only.
#pragma once

#include "CPlayerDialog.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

namespace app {

// The bus logind is asked on: the system bus, or the bus at the address in QUELLWAVE_LOGIND_BUS (tests
// put a stand-in logind on a private bus there). Not connected when there is none.
QDBusConnection LogindBus();

class SleepInhibitor : public QObject {
    Q_OBJECT

public:
    explicit SleepInhibitor(QDBusConnection logind);
    ~SleepInhibitor() override;
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;

    // Follows the panel's transport from now on (until the panel goes).
    void Follow(CPlayerDialog& panel);
    // The window's execution state (ES_* flags).
    void SetExecutionState(DWORD flags);
    void SetPlaying(bool playing);
    // Whether an inhibitor's descriptor is held now.
    bool Held() const noexcept { return lock_.isValid(); }

private:
    bool Wanted() const noexcept;
    void Update();
    void OnReply(const QDBusUnixFileDescriptor& lock);

    QDBusConnection logind_;
    DWORD flags_ = 0;
    bool playing_ = false;
    bool asking_ = false;
    bool refused_ = false;
    bool warned_ = false;
    QDBusUnixFileDescriptor lock_;
};

} // namespace app
