#include "DisplayHold.h"

#include <QByteArray>
#include <QtGlobal>

#include <thread>

#include <xcb/xcb.h>

namespace app {

namespace {
bool RunsOnX() {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    return platform.isEmpty() || platform.startsWith("xcb");
}
} // namespace

DisplayHold::DisplayHold(std::chrono::milliseconds patience) {
    if (!RunsOnX())
        return;
    // A reset takes a few milliseconds; the patience is for a loaded machine, and only a display that
    // never answers waits it out (the toolkit then reports it as usual).
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        ++attempts_;
        xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection) == 0) {
            connection_ = connection;
            return;
        }
        xcb_disconnect(connection);
        if (std::chrono::steady_clock::now() >= deadline)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

DisplayHold::~DisplayHold() {
    if (connection_ != nullptr)
        xcb_disconnect(connection_);
}

} // namespace app
