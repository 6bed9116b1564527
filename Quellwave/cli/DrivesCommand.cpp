// Lists drive letters with the identity each CD drive reports, real or virtual.
#include "DrivesCommand.h"

#include "Platform/DriveTable.h"

#include <cstdio>
#include <cstring>
#include <string>

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

} // namespace

int RunDrives(int argc, char** argv) {
    if (argc > 0) {
        const bool help = std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0;
        std::fputs("usage: quellwave-cli drives\n"
                   "  one line per drive letter: letter, device, type, vendor, product, revision\n",
                   help ? stdout : stderr);
        return help ? 0 : 2;
    }
    int status = 0;
    for (const platform::DriveEntry& drive : platform::ListDrives()) {
        std::string vendor = "-", product = "-", revision = "-";
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
        }
        std::printf("%c:\t%s\t%s\t%s\t%s\t%s\n", drive.letter, drive.device.c_str(), TypeName(drive.type),
                    vendor.c_str(), product.c_str(), revision.c_str());
    }
    return status;
}
