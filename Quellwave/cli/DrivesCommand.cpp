// Lists drive letters with the identity each CD drive reports, real or virtual.
#include "DrivesCommand.h"

#include "DiscPilotDiagnostics.h"
#include "Platform/DriveTable.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace cli {

namespace {

const char* TypeName(UINT type) {
    switch (type) {
    case platform::DRIVE_CDROM:
        return "CD-ROM";
    case platform::DRIVE_REMOVABLE:
        return "removable";
    case platform::DRIVE_FIXED:
        return "fixed";
    case platform::DRIVE_REMOTE:
        return "remote";
    case platform::DRIVE_RAMDISK:
        return "RAM disk";
    default:
        return "none";
    }
}

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text.empty() ? "-" : text;
}

// What DiscPilot makes of a CD letter: the transport its Cdrom_Mode setting chose, where the drive sits,
// what it calls itself, and the read command its vendor gets. Empty with a reason when it cannot open it.
std::string DiscPilotFields(char letter, std::string& why) {
    discpilot::DriveProbe probe;
    if (const int result = CDiscPilot::Diagnostics::ProbeDrive(letter, probe); result != 0) {
        why = "DiscPilot cannot open the drive (" + std::to_string(result) + ")";
        return {};
    }
    char line[160];
    std::snprintf(line, sizeof line, "%s\tha=%d\ttarget=%d\t%s\t%s\t%s\treadmode=0x%06X",
                  probe.passThrough ? "aspi" : "raw", probe.hostAdapter, probe.target,
                  Trimmed(probe.vendor).c_str(), Trimmed(probe.product).c_str(),
                  Trimmed(probe.revision).c_str(), static_cast<unsigned>(probe.readMode));
    return line;
}

} // namespace

int RunDrives(int argc, char** argv) {
    if (argc > 0) {
        const bool help = std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0;
        std::fputs("usage: quellwave-cli drives\n"
                   "  one line per drive letter: letter, device, type, vendor, product, revision, then what\n"
                   "  DiscPilot makes of it: transport, ha=, target=, vendor, product, revision, readmode=\n",
                   help ? stdout : stderr);
        return help ? 0 : 2;
    }
    int status = 0;
    for (const platform::DriveEntry& drive : platform::ListDrives()) {
        std::string vendor = "-", product = "-", revision = "-";
        std::string pilot = "-\t-\t-\t-\t-\t-\t-";
        if (drive.type == platform::DRIVE_CDROM) {
            std::string error;
            auto scsi = platform::OpenScsiPassThrough(drive.letter, error);
            platform::ScsiIdentity identity;
            int result = 0;
            if (!scsi) {
                std::fprintf(stderr, "quellwave-cli: %s\n", error.c_str());
                vendor = product = revision = "?";
                status = 1;
            } else if ((result = platform::Inquire(*scsi, identity)) != 0) {
                std::fprintf(stderr, "quellwave-cli: drive %c: INQUIRY failed: %s\n", drive.letter,
                             std::strerror(result));
                vendor = product = revision = "?";
                status = 1;
            } else {
                vendor = Trimmed(identity.vendor);
                product = Trimmed(identity.product);
                revision = Trimmed(identity.revision);
            }
            std::string why;
            pilot = DiscPilotFields(drive.letter, why);
            if (pilot.empty()) {
                std::fprintf(stderr, "quellwave-cli: drive %c: %s\n", drive.letter, why.c_str());
                pilot = "?\t?\t?\t?\t?\t?\t?";
                status = 1;
            }
        }
        std::printf("%c:\t%s\t%s\t%s\t%s\t%s\t%s\n", drive.letter, drive.device.c_str(), TypeName(drive.type),
                    vendor.c_str(), product.c_str(), revision.c_str(), pilot.c_str());
    }
    return status;
}

} // namespace cli
