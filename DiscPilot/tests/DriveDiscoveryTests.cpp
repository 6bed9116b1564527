// Drive discovery against the virtual drive: identification by letter in either case, the drive table,
// opening the pass-through transport, the Cdrom_Mode choice between the transports and the vendor table.
#include "TestSupport.h"
#include "api/CDiscPilot.h"
#include "api/DiscPilotDiagnostics.h"
#include "drives/DriveDiscovery.h"
#include "drives/VendorTable.h"
#include "store/DriveSettings.h"
#include "transport/cddaCAspiLibrary.h"
#include "transport/cddaCDevice.h"

#include <gtest/gtest.h>

#include <cstring>

namespace discpilot {
namespace {

class DriveDiscoveryTest : public dptest::RegistryTest {
protected:
    void TearDown() override {
        cddaCAspiLibrary::Instance().SetBus(MakePlatformAspiBus());
        dptest::RegistryTest::TearDown();
    }
};

TEST_F(DriveDiscoveryTest, LetterInUpperAndLowerCaseIdentifiesTheSameDrive) {
    AddVirtualDrive('V', 300, "TEAC");
    SetProfile('V', "Product", "CD-532E");
    SetProfile('V', "Revision", "3.0A");
    DriveInquiry upper, lower;
    int upperAdapter = -1, upperTarget = -1, lowerAdapter = -1, lowerTarget = -1;
    ASSERT_EQ(IdentifyAspi('V', kKindAspi, upper, upperAdapter, upperTarget), 0);
    ASSERT_EQ(IdentifyAspi('v', kKindAspi, lower, lowerAdapter, lowerTarget), 0);
    // Virtual drives sit at adapter 0, target = letter - 'A'.
    EXPECT_EQ(upperAdapter, 0);
    EXPECT_EQ(upperTarget, 'V' - 'A');
    EXPECT_EQ(lowerAdapter, upperAdapter);
    EXPECT_EQ(lowerTarget, upperTarget);
    EXPECT_STREQ(upper.vendor, "TEAC    ");
    EXPECT_STREQ(upper.product, "CD-532E         ");
    EXPECT_STREQ(upper.revision, "3.0A");
    EXPECT_STREQ(lower.vendor, upper.vendor);
    EXPECT_STREQ(lower.product, upper.product);
    EXPECT_EQ(upper.DeviceType(), 5);

    // The identities differ only in the letter as passed, and name the same drive.
    const DriveIdentity a = MakeIdentity('V', upperAdapter, upperTarget, upper);
    const DriveIdentity b = MakeIdentity('v', lowerAdapter, lowerTarget, lower);
    EXPECT_TRUE(a.SameDrive(b));
    EXPECT_EQ(a.ModelName(), "TEAC    CD-532E         3.0A");
}

TEST_F(DriveDiscoveryTest, LettersThatAreNotCdDrivesAreNotIdentified) {
    AddVirtualDrive('V', 300);
    SetString(platform::HKEY_LOCAL_MACHINE, platform::kDrivesKey, "M", "/proc");
    DriveInquiry inquiry;
    int adapter = 0, target = 0;
    EXPECT_EQ(IdentifyAspi('M', kKindAspi, inquiry, adapter, target), 502);
    EXPECT_EQ(IdentifyAspi('Q', kKindAspi, inquiry, adapter, target), 502);
    EXPECT_EQ(IdentifyAspi('1', kKindAspi, inquiry, adapter, target), 502);
    EXPECT_EQ(IdentifyRaw('M', inquiry, adapter, target), 502);
    EXPECT_EQ(IdentifyRaw('@', inquiry, adapter, target), 502);
    // Kinds without pass-through cannot identify.
    EXPECT_EQ(IdentifyAspi('V', kKind9xBridge, inquiry, adapter, target), 502);
}

TEST_F(DriveDiscoveryTest, PhilipsDriveGetsReadTenSwappedFromTheVendorTable) {
    AddVirtualDrive('P', 300, "PHILIPS");
    DriveInquiry inquiry;
    int adapter = 0, target = 0;
    ASSERT_EQ(IdentifyAspi('p', kKindAspi, inquiry, adapter, target), 0);
    const DriveIdentity identity = MakeIdentity('p', adapter, target, inquiry);
    EXPECT_STREQ(identity.vendor, "PHILIPS ");
    EXPECT_EQ(VendorReadMode(identity), 0x11280000u);
}

TEST(VendorTableTest, EveryRowAndTheDefault) {
    const std::pair<const char*, DWORD> rows[] = {
        {"ORVA    ", 0xD80000},   {"DEC     ", 0x10280082}, {"IBM     ", 0x10280082},
        {"TOSHIBA ", 0x10280082}, {"PHILIPS ", 0x11280000}, {"IMS     ", 0x11280000},
        {"KODAK   ", 0x11280000}, {"HP      ", 0x11280000}, {"PLASMON ", 0x11280000},
        {"GRUNDIG ", 0x11280000}, {"MITSUMI ", 0x11280000}, {"PLEXTOR ", 0xD80000},
        {"MATSHITA", 0x10280000}, {"YAMAHA  ", 0x10280000}, {"NEC     ", 0xD40000},
        {"NRC     ", 0xD80000},   {"PIONEER ", 0xD80000},   {"TEAC    ", 0xD80000},
        {"SONY    ", 0xD80000},
    };
    for (const auto& [vendor, mode] : rows) {
        EXPECT_EQ(VendorReadMode(vendor), mode) << vendor;
    }
    // The padding takes part in the comparison.
    EXPECT_EQ(VendorReadMode("PHILIPS"), 0xD80000u);
    EXPECT_EQ(VendorReadMode("philips "), 0xD80000u);
}

TEST_F(DriveDiscoveryTest, DriveTableHoldsEveryIdentifiedLetterUnderItsUpperCase) {
    AddVirtualDrive('E', 300, "NEC");
    AddVirtualDrive('G', 300, "YAMAHA");
    SetString(platform::HKEY_LOCAL_MACHINE, platform::kDrivesKey, "M", "/proc");
    cddaCDriveTable& table = cddaCDriveTable::Get(kKindAspi, true);
    EXPECT_EQ(table.Kind(), kKindAspi);
    EXPECT_EQ(table.Count(), 2u);
    DriveIdentity e, g, m;
    ASSERT_TRUE(table.Find('e', e));
    ASSERT_TRUE(table.Find('G', g));
    EXPECT_FALSE(table.Find('M', m));
    EXPECT_EQ(e.letter, 'E');
    EXPECT_EQ(e.target, 'E' - 'A');
    EXPECT_STREQ(e.vendor, "NEC     ");
    EXPECT_STREQ(g.vendor, "YAMAHA  ");
}

TEST_F(DriveDiscoveryTest, OpeningThePassThroughTransportMatchesTheDriveAndItsTransferLength) {
    AddVirtualDrive('W', 300, "PLEXTOR");
    SetProfile('W', "MaxTransfer", DWORD{131072});
    cddaCDriveTable::Get(kKindAspi, true);
    cddaCAspiDevice device(kKindAspi);
    ASSERT_EQ(OpenAspiDevice(device, 'w'), 0);
    EXPECT_EQ(device.Letter(), 'W');
    EXPECT_EQ(device.HostAdapter(), 0);
    EXPECT_EQ(device.Target(), 'W' - 'A');
    EXPECT_EQ(device.MaxTransferLength(), 131072u);
    EXPECT_EQ(device.TestUnitReady(), 0);

    cddaCAspiDevice other(kKindAspi);
    EXPECT_EQ(OpenAspiDevice(other, 'K'), 506); // not in the table, not even after rebuilding
    EXPECT_EQ(OpenAspiDevice(other, '#'), 502);
    EXPECT_EQ(other.TestUnitReady(), 506);
}

TEST_F(DriveDiscoveryTest, TwoDrivesOfOneModelAreEachReachedAtTheirOwnAddress) {
    // The same model (the default identity) on two adapters at the same target, with different discs.
    AddVirtualDrive('V', 300);
    AddVirtualDrive('W', 450);
    for (const char letter : {'V', 'W'}) {
        SetProfile(letter, "HostAdapter", DWORD{letter == 'W' ? 1u : 0u});
        SetProfile(letter, "Target", DWORD{0});
    }
    for (const char* mode : {"ASPI", "ASPI&RAW"}) {
        SCOPED_TRACE(mode);
        SetMachineString("Cdrom_Mode", mode);
        cddaCDriveTable::Get(kKindAspi, true);
        for (const auto& [letter, sectors] : {std::pair{'V', 300u}, std::pair{'W', 450u}}) {
            SCOPED_TRACE(letter);
            cddaCAspiDevice device(kKindAspi);
            ASSERT_EQ(OpenAspiDevice(device, letter), 0);
            EXPECT_EQ(device.HostAdapter(), letter == 'W' ? 1 : 0);
            EXPECT_EQ(device.Target(), 0);
            CDiscPilot pilot;
            ASSERT_TRUE(pilot.SetDrive(static_cast<unsigned char>(letter)));
            unsigned long ms = 0;
            ASSERT_TRUE(pilot.GetTrackLength(1, ms));
            EXPECT_EQ(ms, sectors * 40 / 3) << "the disc of the drive at this letter";
            discpilot::DriveProbe probe;
            ASSERT_EQ(CDiscPilot::Diagnostics::ProbeDrive(letter, probe), 0);
            EXPECT_TRUE(probe.passThrough);
            EXPECT_EQ(probe.hostAdapter, letter == 'W' ? 1 : 0);
        }
    }
}

TEST_F(DriveDiscoveryTest, DriveAddedAfterTheTableWasBuiltIsFoundWhenOpened) {
    AddVirtualDrive('D', 300);
    cddaCDriveTable::Get(kKindAspi, true);
    AddVirtualDrive('F', 300, "KODAK");
    cddaCAspiDevice device(kKindAspi);
    EXPECT_EQ(OpenAspiDevice(device, 'F'), 0);
    EXPECT_EQ(device.Target(), 'F' - 'A');
}

TEST_F(DriveDiscoveryTest, RawIdentificationUsesTheDrivesOwnDescription) {
    AddVirtualDrive('V', 300, "HP");
    SetProfile('V', "Product", "CD-Writer+ 9100b");
    DriveInquiry inquiry;
    int adapter = -1, target = -1;
    ASSERT_EQ(IdentifyRaw('v', inquiry, adapter, target), 0);
    EXPECT_EQ(adapter, 0);
    EXPECT_EQ(target, 0);
    EXPECT_EQ(inquiry.removable, 0);
    EXPECT_STREQ(inquiry.vendor, "HP      ");
    EXPECT_STREQ(inquiry.product, "CD-Writer+ 9100b");
    EXPECT_STREQ(inquiry.revision, "1.00");
}

TEST_F(DriveDiscoveryTest, KernelDriveWhoseDeviceCannotBeOpenedIsNotIdentified) {
    std::filesystem::create_directories(dir_ / "sys" / "sr7" / "device");
    SetString(platform::HKEY_LOCAL_MACHINE, platform::kDrivesKey, "K", "/dev/sr7");
    DriveInquiry inquiry;
    int adapter = 0, target = 0;
    EXPECT_EQ(IdentifyRaw('K', inquiry, adapter, target), 502);
}

TEST_F(DriveDiscoveryTest, CdromModeChoosesTheTransport) {
    AddVirtualDrive('V', 300, "TOSHIBA");
    {
        cddaCDevice device(kKindAspi); // no Cdrom_Mode: raw only
        EXPECT_EQ(device.CdromMode(), kCdromModeRaw);
        ASSERT_EQ(device.OpenTransport('V'), 0);
        EXPECT_EQ(device.ActiveTransport(), kActiveRaw);
        EXPECT_EQ(device.Identity().hostAdapter, 0);
        EXPECT_EQ(device.Identity().target, 0);
        EXPECT_EQ(device.SetSpeed(4), 502); // the raw transport cannot set the speed
    }
    SetMachineString("Cdrom_Mode", "aspi&raw");
    {
        cddaCDevice device(kKindAspi);
        EXPECT_EQ(device.CdromMode(), kCdromModeAspiThenRaw);
        ASSERT_EQ(device.OpenTransport('v'), 0);
        EXPECT_EQ(device.ActiveTransport(), kActiveAspi);
        EXPECT_EQ(device.Identity().letter, 'v');
        EXPECT_EQ(device.Identity().target, 'V' - 'A');
        EXPECT_STREQ(device.Identity().vendor, "TOSHIBA ");
        EXPECT_EQ(device.SetSpeed(4), 0);
        EXPECT_EQ(device.TestUnitReady(), 0);
    }
    // Without pass-through the same mode falls back to raw.
    cddaCAspiLibrary::Instance().SetBus(nullptr);
    {
        cddaCDevice device(kKindAspi);
        ASSERT_EQ(device.OpenTransport('V'), 0);
        EXPECT_EQ(device.ActiveTransport(), kActiveRaw);
    }
    SetMachineString("Cdrom_Mode", "ASPI");
    {
        cddaCDevice device(kKindAspi);
        EXPECT_EQ(device.OpenTransport('V'), 502);
        EXPECT_EQ(device.ActiveTransport(), kActiveNone);
        EXPECT_EQ(device.TestUnitReady(), 502);
    }
    SetMachineString("Cdrom_Mode", "ASPI ");
    EXPECT_EQ(cddaCDevice(kKindAspi).CdromMode(), kCdromModeRaw);
}

// A bus whose address for the letter leads nowhere, with CD devices on several adapters at that target.
class ScanBus final : public AspiBus {
public:
    struct Drive final : platform::ScsiPassThrough {
        Drive(BYTE type, std::string vendor, std::string product)
            : type_(type), vendor_(vendor), product_(product) {}
        int Execute(const platform::ScsiCommand& cmd, platform::ScsiAnswer& answer) override {
            answer = {};
            if (cmd.cdb[0] == 0x12 && cmd.data != nullptr && cmd.dataLength >= 36) {
                std::memset(cmd.data, ' ', 36);
                cmd.data[0] = type_;
                cmd.data[1] = 0x80;
                std::memcpy(cmd.data + 8, vendor_.data(), std::min<std::size_t>(vendor_.size(), 8));
                std::memcpy(cmd.data + 16, product_.data(), std::min<std::size_t>(product_.size(), 16));
                std::memcpy(cmd.data + 32, "1.00", 4);
            }
            return 0;
        }
        platform::ScsiAddress Address() const override { return {}; }
        DWORD MaxTransferLength() const override { return 0; }
        BYTE type_;
        std::string vendor_, product_;
    };
    int AdapterCount() override { return 4; }
    std::shared_ptr<platform::ScsiPassThrough> Device(int hostAdapter, int target) override {
        if (!hasAddress_) {
            return hostAdapter == 2 && target == 0 ? std::make_shared<Drive>(0x05, "MITSUMI", "CR-4804TE")
                                                   : nullptr;
        }
        if (target != 1) {
            return nullptr;
        }
        switch (hostAdapter) {
        case 0:
            return std::make_shared<Drive>(0x00, "DISK", "HARD DISK"); // the address given: not a CD
        case 1:
            return std::make_shared<Drive>(0x05, "NEC", "CD-ROM DRIVE:222");
        case 3:
            return std::make_shared<Drive>(0x05, "PIONEER", "DVD-ROM DVD-303");
        default:
            return nullptr;
        }
    }
    bool AddressOf(char, int& hostAdapter, int& target) override {
        if (!hasAddress_) {
            return false;
        }
        hostAdapter = 0;
        target = 1;
        return true;
    }
    std::string StorageDescriptor(char) override { return descriptor_; }
    bool hasAddress_ = true;
    std::string descriptor_;
};

TEST_F(DriveDiscoveryTest, AddressWithoutACdDeviceScansTheAdaptersAndPicksByDescription) {
    AddVirtualDrive('V', 300);
    auto bus = std::make_shared<ScanBus>();
    cddaCAspiLibrary::Instance().SetBus(bus);
    DriveInquiry inquiry;
    int adapter = -1, target = -1;
    bus->descriptor_ = "xxPIONEER DVD-ROM DVD-303 1.00";
    ASSERT_EQ(IdentifyAspi('V', kKindAspi, inquiry, adapter, target), 0);
    EXPECT_EQ(adapter, 3);
    EXPECT_EQ(target, 1);
    EXPECT_STREQ(inquiry.vendor, "PIONEER ");
    bus->descriptor_ = "NEC CD-ROM DRIVE:222";
    ASSERT_EQ(IdentifyAspi('V', kKindAspi, inquiry, adapter, target), 0);
    EXPECT_EQ(adapter, 1);
    bus->descriptor_ = "SONY";
    EXPECT_EQ(IdentifyAspi('V', kKindAspi, inquiry, adapter, target), 502);
}

TEST_F(DriveDiscoveryTest, WithoutAnAddressTheAdapterCountsCdDrivesUpToTheLetter) {
    AddVirtualDrive('D', 300);
    AddVirtualDrive('E', 300);
    auto bus = std::make_shared<ScanBus>();
    bus->hasAddress_ = false;
    cddaCAspiLibrary::Instance().SetBus(bus);
    DriveInquiry inquiry;
    int adapter = -1, target = -1;
    // E is the second CD drive: adapter 2, target 0.
    ASSERT_EQ(IdentifyAspi('E', kKindAspi, inquiry, adapter, target), 0);
    EXPECT_EQ(adapter, 2);
    EXPECT_EQ(target, 0);
    EXPECT_STREQ(inquiry.vendor, "MITSUMI ");
    // D is the first: adapter 1, target 0, where nothing answers.
    EXPECT_EQ(IdentifyAspi('D', kKindAspi, inquiry, adapter, target), 502);
}

} // namespace
} // namespace discpilot
