// On an X server that resets when its last client leaves (Xvfb as on_xvfb.sh starts it): a connection made
// right after the last client left often fails while the server resets, which is what the program meets
// as it starts again scaled. Each round leaves the server without clients, then takes a DisplayHold and,
// while it is held, connects as the toolkit would: the hold must have the display and that connection
// must be made, every round. The rounds where the hold had to try again show the reset was met.
// Usage: display_hold_on_x [PATIENCE_MS]   (0: one attempt, as the toolkit makes; the rounds then fail)
#include "app/DisplayHold.h"

#include <cstdio>
#include <cstdlib>

#include <xcb/xcb.h>

namespace {
bool Connects() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool made = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return made;
}
} // namespace

int main(int argc, char** argv) {
    const std::chrono::milliseconds patience(argc > 1 ? std::atoi(argv[1]) : 5000);
    constexpr int kRounds = 40;
    int failed = 0;
    int retried = 0;
    int plainFailures = 0;
    for (int round = 0; round < kRounds; ++round) {
        // The only client leaves; a plain connection at once, as before the hold (counted, not judged).
        if (!Connects())
            ++plainFailures;
        // That connection left too: the server resets again as the hold is taken.
        const app::DisplayHold hold(patience);
        if (hold.Attempts() > 1)
            ++retried;
        if (!hold.Held() || !Connects()) {
            std::printf("round %d: %s\n", round, hold.Held() ? "no connection beside the hold" : "no hold");
            ++failed;
        }
    }
    std::printf("%d rounds: %d failed; the hold tried again in %d; a plain connection just after the last "
                "client left failed in %d\n",
                kRounds, failed, retried, plainFailures);
    return failed == 0 ? 0 : 1;
}
