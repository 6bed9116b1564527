// The end of the desktop session and the signals that ask the program to stop (SIGTERM, SIGHUP, SIGINT):
// each runs the given ending once, on the UI thread, so the player stops and closes as its own close
// button does (the music fades, the settings and the play list are written, the recording's file is
// finished). A second signal while that ending runs ends the program at once, as the signal would have
// without this. One per process; UI thread only.
#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform {
class EndingSignalCatcher;
class WakeSignal;
} // namespace platform

namespace app {

class SessionEnd : public QObject {
public:
    explicit SessionEnd(std::function<void()> end);
    // Gives the signals back their default handling.
    ~SessionEnd() override;
    SessionEnd(const SessionEnd&) = delete;
    SessionEnd& operator=(const SessionEnd&) = delete;

    // Installs the signal handlers and follows the session manager. False when the signals cannot be
    // caught (the program then ends on them as before).
    bool Start();
    // Whether an ending has been asked for.
    bool Ending() const noexcept { return ending_; }

private:
    void Begin();

    std::function<void()> end_;
    std::unique_ptr<platform::WakeSignal> wake_; // what the signal handler signals; the UI thread watches it
    std::unique_ptr<platform::EndingSignalCatcher> catcher_;
    QSocketNotifier* notifier_ = nullptr;
    bool started_ = false;
    bool ending_ = false;
};

} // namespace app
