// libDiscPilot.so as a program uses it: through its exports only, on the program's own Platform. What the
// program does to a virtual drive (tray, armed faults) is what the library's reads meet, and the other
// way round: the process holds one drive per letter, not one per module.
#include "CDiscPilot.h"
#include "DiscPilotDiagnostics.h"
#include "Platform/VirtualDrive.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

class OneStateTest : public dptest::RegistryTest {
protected:
    void SetUp() override {
        dptest::RegistryTest::SetUp();
        std::filesystem::path cue = AddVirtualDrive('V', kSectors);
        image_ = testkit::ReadBytes(cue);
        ASSERT_EQ(image_.size(), std::size_t{kSectors} * 2352);
        cue.replace_extension(".cue");
        std::string error;
        drive_ = platform::VirtualDrive::ForLetter('V', cue, error);
        ASSERT_NE(drive_, nullptr) << error;
    }

    // TEST UNIT READY sent by the program itself, past the library.
    bool ReadyHere() {
        platform::ScsiCommand command;
        command.cdbLength = 6;
        platform::ScsiAnswer answer;
        return drive_->Execute(command, answer) == 0 && answer.status == platform::kScsiGood;
    }

    // The whole disc read through the controller, over bytes set to 0xEE.
    std::vector<BYTE> ReadThroughController() {
        std::vector<BYTE> pcm(image_.size(), 0xEE);
        CDiscPilot pilot;
        EXPECT_TRUE(pilot.SetDrive('V'));
        EXPECT_TRUE(pilot.SetPosition(1, 0));
        EXPECT_TRUE(pilot.GetData(pcm.data(), static_cast<unsigned long>(pcm.size())));
        return pcm;
    }

    static constexpr std::uint32_t kSectors = 300;
    std::shared_ptr<platform::VirtualDrive> drive_;
    std::vector<BYTE> image_;
};

TEST_F(OneStateTest, ReadErrorArmedByTheProgramIsMetByTheControllersReads) {
    for (const char* mode : {"RAW", "ASPI"}) {
        SCOPED_TRACE(mode);
        SetMachineString("Cdrom_Mode", mode);
        EXPECT_EQ(ReadThroughController(), image_);
    }
    // Every read of sector 200 fails from now on: the controller's reads meet it, deliver that sector as
    // silence and read on.
    drive_->ArmReadError({200, 0x03, 0x11, 0x00, 0, 0});
    for (const char* mode : {"RAW", "ASPI"}) {
        SCOPED_TRACE(mode);
        SetMachineString("Cdrom_Mode", mode);
        std::vector<BYTE> expected = image_;
        std::fill_n(expected.begin() + std::size_t{200} * 2352, 2352, BYTE{0});
        EXPECT_EQ(ReadThroughController(), expected);
    }
}

TEST_F(OneStateTest, TrayOpenedByTheProgramIsSeenByTheLibrarysReads) {
    struct Case {
        const char* mode;
        bool passThrough;
        int noMedium; // what the library's TEST UNIT READY answers with the tray open
    };
    // The device controls' drive status tells an open tray as the drive's sense does: no medium.
    for (const Case& c : {Case{"ASPI", true, 510}, Case{"RAW", false, 510}}) {
        SCOPED_TRACE(c.mode);
        SetMachineString("Cdrom_Mode", c.mode);
        discpilot::DriveProbe probe;
        ASSERT_EQ(CDiscPilot::Diagnostics::ProbeDrive('v', probe), 0);
        EXPECT_EQ(probe.passThrough, c.passThrough);
        EXPECT_STREQ(probe.vendor, "QUELLWAV");
        EXPECT_EQ(probe.unitReady, 0);

        ASSERT_EQ(drive_->Eject(), 0);
        ASSERT_EQ(CDiscPilot::Diagnostics::ProbeDrive('V', probe), 0);
        EXPECT_EQ(probe.unitReady, c.noMedium);

        ASSERT_EQ(drive_->Load(), 0);
        ASSERT_EQ(CDiscPilot::Diagnostics::ProbeDrive('V', probe), 0);
        EXPECT_EQ(probe.unitReady, 0);
    }
}

TEST_F(OneStateTest, FaultArmedByTheProgramIsSpentByTheLibrary) {
    SetMachineString("Cdrom_Mode", "ASPI");
    drive_->ArmNotReady(1);
    discpilot::DriveProbe probe;
    ASSERT_EQ(CDiscPilot::Diagnostics::ProbeDrive('V', probe), 0);
    EXPECT_EQ(probe.unitReady, 509); // 2/04/01: becoming ready
    // The library's command used the one armed answer up: the program's next command finds the drive ready.
    EXPECT_TRUE(ReadyHere());

    drive_->ArmNotReady(1);
    EXPECT_FALSE(ReadyHere());
    ASSERT_EQ(CDiscPilot::Diagnostics::ProbeDrive('V', probe), 0);
    EXPECT_EQ(probe.unitReady, 0);
}

TEST_F(OneStateTest, LetterWithoutADriveIsNotProbed) {
    discpilot::DriveProbe probe;
    probe.hostAdapter = 77;
    EXPECT_EQ(CDiscPilot::Diagnostics::ProbeDrive('Q', probe), 502);
    EXPECT_EQ(probe.hostAdapter, 77);
}

} // namespace
