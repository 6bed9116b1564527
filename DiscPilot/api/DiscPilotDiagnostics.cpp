#include "DiscPilotDiagnostics.h"

#include "drives/VendorTable.h"
#include "transport/cddaCAspiDevice.h"
#include "transport/cddaCDevice.h"

#include <cstring>

namespace discpilot {

int ProbeDrive(char letter, DriveProbe& probe) noexcept {
    try {
        cddaCDevice device(kKindAspi);
        if (const int result = device.OpenTransport(letter); result != kTransportOk) {
            return result;
        }
        const DriveIdentity& identity = device.Identity();
        DriveProbe found;
        found.passThrough = device.ActiveTransport() == kActiveAspi;
        found.hostAdapter = identity.hostAdapter;
        found.target = identity.target;
        static_assert(sizeof found.vendor == sizeof identity.vendor);
        static_assert(sizeof found.product == sizeof identity.product);
        static_assert(sizeof found.revision == sizeof identity.revision);
        std::memcpy(found.vendor, identity.vendor, sizeof found.vendor);
        std::memcpy(found.product, identity.product, sizeof found.product);
        std::memcpy(found.revision, identity.revision, sizeof found.revision);
        found.readMode = VendorReadMode(identity);
        found.unitReady = device.TestUnitReady();
        probe = found;
        return kTransportOk;
    } catch (...) {
        return kTransportNoDevice; // out of memory or threads: nothing throws across the library's boundary
    }
}

} // namespace discpilot
