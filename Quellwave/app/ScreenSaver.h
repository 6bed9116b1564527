// The session's screen saver, switched off while the player plays: org.freedesktop.ScreenSaver Inhibit on
// the session bus when it is switched off, UnInhibit with the cookie it gave when it is switched on again.
// Without the service (or without a session bus) the player plays on and the screen saver is the desktop's
// business. UI thread only.
#pragma once

#include <QDBusConnection>
#include <QObject>

#include <optional>

namespace app {

class ScreenSaver : public QObject {
    Q_OBJECT

public:
    explicit ScreenSaver(QDBusConnection session);
    // Switches the screen saver on again if the player holds it off.
    ~ScreenSaver() override;
    ScreenSaver(const ScreenSaver&) = delete;
    ScreenSaver& operator=(const ScreenSaver&) = delete;

    // Whether the screen saver may run now, as far as the player is concerned (it does not hold it off).
    bool Active() const noexcept { return !off_; }
    // Off asks the service to hold the screen saver back; on lets it go again.
    void SetActive(bool active);
    // Whether the service's cookie is held now.
    bool Inhibited() const noexcept { return cookie_.has_value(); }

private:
    void Ask();
    void Release();

    QDBusConnection session_;
    bool off_ = false;
    bool asking_ = false;
    bool warned_ = false;
    std::optional<uint> cookie_;
};

} // namespace app
