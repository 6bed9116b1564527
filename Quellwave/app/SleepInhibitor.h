// Keeps the machine awake for the player through logind's inhibitors, in block mode:
// - "sleep" for the whole run: held while the window asks for the system to stay awake (ES_SYSTEM_REQUIRED
//   in its execution state, from its start to its close), whatever plays;
// - "idle" while the panel plays, so that the session is not taken for idle while music plays.
// Each is let go by closing its descriptor. Without logind the player plays on without them. UI thread only.
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
    // Whether the sleep inhibitor's (the idle inhibitor's) descriptor is held now.
    bool SleepHeld() const noexcept { return sleep_.fd.isValid(); }
    bool IdleHeld() const noexcept { return idle_.fd.isValid(); }

private:
    struct Lock {
        Lock(const char* whatToInhibit, const char* reason) : what(whatToInhibit), why(reason) {}
        const char* what; // logind's "what": "sleep" or "idle"
        const char* why;
        bool wanted = false;
        bool asking = false;
        bool refused = false;
        QDBusUnixFileDescriptor fd;
    };
    void Update(Lock& lock);
    void OnReply(Lock& lock, const QDBusUnixFileDescriptor& fd);

    QDBusConnection logind_;
    Lock sleep_{"sleep", "The player is running"};
    Lock idle_{"idle", "Playing audio"};
    bool warned_ = false;
};

} // namespace app
