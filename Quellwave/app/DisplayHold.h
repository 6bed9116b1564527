#pragma once
// The X display taken before the toolkit opens its own connection. An X server resets when its last client
// leaves and takes no connection while it does: on a bare X session with the player alone (or a test's
// virtual screen) that happens as the program starts again scaled to the screen, its first start having
// been the only client, and the toolkit's one attempt to connect would then fail. This waits until the
// server takes a connection and keeps that one open until the toolkit has its own, so that no reset can
// fall between them.
#include <chrono>

struct xcb_connection_t;

namespace app {

class DisplayHold {
public:
    // Waits up to `patience` for the display named by DISPLAY to take a connection. Does nothing where the
    // program will not run on X (no DISPLAY, or another platform chosen).
    explicit DisplayHold(std::chrono::milliseconds patience);
    ~DisplayHold();
    DisplayHold(const DisplayHold&) = delete;
    DisplayHold& operator=(const DisplayHold&) = delete;

    bool Held() const noexcept { return connection_ != nullptr; }
    // How many connections were tried (0 where the program does not run on X).
    int Attempts() const noexcept { return attempts_; }

private:
    xcb_connection_t* connection_ = nullptr;
    int attempts_ = 0;
};

} // namespace app
