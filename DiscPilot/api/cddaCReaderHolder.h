// What the controller's reader pointer holds: the open reader, shared by controllers that were copied
// from one another (the last one to close destroys it), and what the last delivery produced.
#pragma once

#include "reader/cddaCReader.h"

#include <atomic>
#include <cstddef>

namespace discpilot {

struct cddaCReaderHolder {
    cddaCReaderHolder() : reader(kKindAspi) {}

    std::atomic<int> references{1};
    cddaCReader reader;
    std::atomic<std::size_t> lastDelivered{0};
};

// What the command line shows about a read beyond the controller's own results. Internal: not exported
// from the shared library.
class ControllerDiagnostics {
public:
    struct Counts {
        bool open = false;
        int status = 0;
        int jitterCorrections = 0; // matches taken half a frame off
        int realignments = 0;      // slot boundaries where the overlap was found away from where expected
        int retries = 0;           // reads repeated after a failure
        int fetches = 0;           // slots produced
        std::size_t lastDelivered = 0;
        unsigned long readMode = 0;
    };
    static Counts Get(const class ::CDiscPilot& controller);
};

} // namespace discpilot
