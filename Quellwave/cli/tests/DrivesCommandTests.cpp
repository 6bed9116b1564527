// Runs "quellwave-cli drives" against a registry and a kernel device list of the test's own: the lines a
// user sees for a virtual drive with its registry identity, a drive that cannot be opened, and a folder
// (/proc: a kernel file system, so "fixed" on every machine).
#include "CliHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

class DrivesCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "sys" / "sr0");
        std::ofstream(dir_ / "a.bin", std::ios::binary) << std::string(2352 * 10, '\0');
        std::ofstream(dir_ / "a.cue") << "FILE a.bin BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n";
        std::ofstream(dir_ / "machine.reg")
            << "Windows Registry Editor Version 5.00\n\n"
               "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]\n"
               "\"V\"=\"image:"
            << (dir_ / "a.cue").string()
            << "\"\n"
               "\"M\"=\"/proc\"\n\n"
               "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives\\V]\n"
               "\"Vendor\"=\"PLEXTOR\"\n\"Product\"=\"CD-R   PX-W4824A\"\n\"Revision\"=\"1.04\"\n";
    }

    int Run(std::string& out, std::string& err) {
        const auto r = clitest::Shell(clitest::CliCommand({"drives"}), dir_);
        out = r.out;
        err = r.err;
        return r.status;
    }
    // The program's settings and its kernel drive list, in a folder of the test's own.
    testkit::RegistrySandbox registry_{"drives"};
    const std::filesystem::path dir_ = registry_.Path();
};

TEST_F(DrivesCommandTest, ListsEveryLetterWithDeviceTypeAndIdentity) {
    std::string out, err;
    const int status = Run(out, err);
    // D is the kernel's sr0, which this machine has no node for: listed, but not identified. Without a
    // Cdrom_Mode setting DiscPilot reads through the CD device controls ("raw"), identifying the drive by
    // its own description.
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "D:\t/dev/sr0\tCD-ROM\t?\t?\t?\t?\t?\t?\t?\t?\t?\t?\n"
                   "M:\t/proc\tfixed\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\n"
                   "V:\timage:" +
                       (dir_ / "a.cue").string() +
                       "\tCD-ROM\tPLEXTOR\tCD-R   PX-W4824A\t1.04"
                       "\traw\tha=0\ttarget=0\tPLEXTOR\tCD-R   PX-W4824A\t1.04\treadmode=0xD80000\n");
    EXPECT_EQ(err, "quellwave-cli: drive D: cannot open /dev/sr0: No such file or directory\n"
                   "quellwave-cli: drive D: DiscPilot cannot open the drive (502)\n");
}

TEST_F(DrivesCommandTest, PassThroughModeShowsAdapterTargetAndTheVendorsReadMode) {
    std::ofstream(dir_ / "machine.reg", std::ios::app)
        << "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orva Corporation\\Tarnix\\Corvex]\n"
           "\"Cdrom_Mode\"=\"aspi&raw\"\n\n"
           "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]\n"
           "\"P\"=\"image:"
        << (dir_ / "a.cue").string()
        << "\"\n\n"
           "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives\\P]\n"
           "\"Vendor\"=\"PHILIPS\"\n\"Product\"=\"CDD2600\"\n";
    std::string out, err;
    Run(out, err);
    // Virtual drives sit at host adapter 0, target = letter - 'A'.
    EXPECT_NE(out.find("\nP:\timage:" + (dir_ / "a.cue").string() +
                       "\tCD-ROM\tPHILIPS\tCDD2600\t1.00\taspi\tha=0\ttarget=15\tPHILIPS\tCDD2600\t1.00"
                       "\treadmode=0x11280000\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\tCD-ROM\tPLEXTOR\tCD-R   PX-W4824A\t1.04\taspi\tha=0\ttarget=21\tPLEXTOR\t"
                       "CD-R   PX-W4824A\t1.04\treadmode=0xD80000\n"),
              std::string::npos)
        << out;
}

} // namespace
