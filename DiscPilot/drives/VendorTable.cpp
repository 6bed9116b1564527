#include "drives/VendorTable.h"

#include "transport/CommandBlock.h"

#include <cstring>

namespace discpilot {

DWORD VendorReadMode(const char* vendor) noexcept {
    struct Row {
        const char* vendor;
        DWORD readMode;
    };
    static constexpr Row kRows[] = {
        {"ORVA    ", kReadModeVendorD8},        {"DEC     ", kReadModeRead10Density82},
        {"IBM     ", kReadModeRead10Density82}, {"TOSHIBA ", kReadModeRead10Density82},
        {"PHILIPS ", kReadModeRead10Swapped},   {"IMS     ", kReadModeRead10Swapped},
        {"KODAK   ", kReadModeRead10Swapped},   {"HP      ", kReadModeRead10Swapped},
        {"PLASMON ", kReadModeRead10Swapped},   {"GRUNDIG ", kReadModeRead10Swapped},
        {"MITSUMI ", kReadModeRead10Swapped},   {"PLEXTOR ", kReadModeVendorD8},
        {"MATSHITA", kReadModeRead10},          {"YAMAHA  ", kReadModeRead10},
        {"NEC     ", kReadModeVendorD4},        {"NRC     ", kReadModeVendorD8},
        {"PIONEER ", kReadModeVendorD8},        {"TEAC    ", kReadModeVendorD8},
    };
    for (const Row& row : kRows) {
        // The terminator takes part: "HP" or "PHILIPS" without their padding match no row.
        if (std::strcmp(vendor, row.vendor) == 0) {
            return row.readMode;
        }
    }
    return kReadModeVendorD8;
}

} // namespace discpilot
