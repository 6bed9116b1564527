// One player per user: the first copy listens on a per-user local socket named "Quellwave App"; a later
// copy connects to it, asks the running copy to come to the front, and, when it was started with files,
// first rewrites PlayList.txt and then asks the running copy to reload it. UI thread only.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

namespace app {

inline constexpr char kInstanceName[] = "Quellwave App";

// The socket's path: "Quellwave App" in $XDG_RUNTIME_DIR (a folder only its user can enter), else in the
// temporary folder with the user id added so that users do not meet.
QString InstanceSocketPath();

class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Claim {
        First,   // this copy runs the player; the socket listens
        Running, // another copy runs; Hand over to it
        Failed,  // neither: the socket can be neither reached nor made
    };

    explicit SingleInstance(QString socketPath = InstanceSocketPath(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // Finds out whether a copy runs, and listens when none does. A socket left behind by a copy that
    // ended without removing it is replaced.
    Claim Take();

    // In a second copy: asks the running copy to come to the front and, with reload, to reload
    // PlayList.txt (written before this is called). False when the request could not be delivered.
    bool Hand(bool reload);

    // In the first copy: what to do for requests, run on the UI thread as they arrive. Requests that
    // arrive before the handlers are set (while the start-up notice or a warning is shown, before the
    // window exists) are held and carried out, in order, when they are set.
    void SetHandlers(std::function<void()> onRaise, std::function<void()> onReload);
    // Whether a request to reload PlayList.txt has arrived and is still held: a later start has written its
    // list, which the first copy must then not overwrite with its own.
    bool ReloadHeld() const noexcept { return heldReload_; }
    // Takes in at once the requests that have reached the socket but not yet the event loop (a later start
    // that handed over while no loop ran), waiting at most waitMs for each connection's line.
    void ReadArrivedRequests(int waitMs = 200);

private:
    void OnConnection();
    void OnRequest(bool reload);

    std::function<void()> onRaise_;
    std::function<void()> onReload_;
    bool handlersSet_ = false;
    bool heldRaise_ = false;
    bool heldReload_ = false;

    QString path_;
    QLocalServer* server_ = nullptr;
};

} // namespace app
