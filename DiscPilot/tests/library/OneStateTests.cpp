// libDiscPilot.so as a program uses it: through its exports only, on the program's own Platform. What the
// program does to a virtual drive (tray, armed faults) is what the library's reads meet, and the other
// way round: the process holds one drive per letter, not one per module.
#include "DiscPilotDiagnostics.h"
#include "Platform/VirtualDrive.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

class OneStateTest : public dptest::RegistryTest {
protected:
    void SetUp() override {
        dptest::RegistryTest::SetUp();
        std::filesystem::path cue = AddVirtualDrive('V', 300);
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

    std::shared_ptr<platform::VirtualDrive> drive_;
};

TEST_F(OneStateTest, TrayOpenedByTheProgramIsSeenByTheLibrarysReads) {
    struct Case {
        const char* mode;
        bool passThrough;
        int noMedium; // what the library's TEST UNIT READY answers with the tray open
    };
    for (const Case& c : {Case{"ASPI", true, 510}, Case{"RAW", false, ENOMEDIUM}}) {
        SCOPED_TRACE(c.mode);
        SetMachineString("Cdrom_Mode", c.mode);
        discpilot::DriveProbe probe;
        ASSERT_EQ(discpilot::ProbeDrive('v', probe), 0);
        EXPECT_EQ(probe.passThrough, c.passThrough);
        EXPECT_STREQ(probe.vendor, "QUELLWAV");
        EXPECT_EQ(probe.unitReady, 0);

        ASSERT_EQ(drive_->Eject(), 0);
        ASSERT_EQ(discpilot::ProbeDrive('V', probe), 0);
        EXPECT_EQ(probe.unitReady, c.noMedium);

        ASSERT_EQ(drive_->Load(), 0);
        ASSERT_EQ(discpilot::ProbeDrive('V', probe), 0);
        EXPECT_EQ(probe.unitReady, 0);
    }
}

TEST_F(OneStateTest, FaultArmedByTheProgramIsSpentByTheLibrary) {
    SetMachineString("Cdrom_Mode", "ASPI");
    drive_->ArmNotReady(1);
    discpilot::DriveProbe probe;
    ASSERT_EQ(discpilot::ProbeDrive('V', probe), 0);
    EXPECT_EQ(probe.unitReady, 509); // 2/04/01: becoming ready
    // The library's command used the one armed answer up: the program's next command finds the drive ready.
    EXPECT_TRUE(ReadyHere());

    drive_->ArmNotReady(1);
    EXPECT_FALSE(ReadyHere());
    ASSERT_EQ(discpilot::ProbeDrive('V', probe), 0);
    EXPECT_EQ(probe.unitReady, 0);
}

TEST_F(OneStateTest, LetterWithoutADriveIsNotProbed) {
    discpilot::DriveProbe probe;
    probe.hostAdapter = 77;
    EXPECT_EQ(discpilot::ProbeDrive('Q', probe), 502);
    EXPECT_EQ(probe.hostAdapter, 77);
}

} // namespace
