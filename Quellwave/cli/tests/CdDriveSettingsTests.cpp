// The CD commands of the real quellwave-cli against settings a user wrote by hand or cannot write, and
// against drives that are set up wrongly: a command that only reads never rewrites the machine file, a
// slip in a settings file or a CUE sheet is named by its line whatever the command, and a drive check
// whose result could not be stored says so.
#include "CliHarness.h"
#include "TestKit/ToneDisc.h"
#include "TestKit/Wav.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// Five short tracks of the tone disc (4.2 s in all).
constexpr std::array<std::uint32_t, 5> kTracks = {40, 75, 60, 30, 20};

class CdDriveSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { testkit::cdtone::WriteDisc(dir_, kTracks); }
    // A test may take the folder's rights away; the sandbox can only remove it with them.
    void TearDown() override {
        std::error_code ec;
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ec);
    }

    clitest::RunResult Cli(const std::string& args) {
        using clitest::Quote;
        return clitest::Shell("cd " + Quote(dir_) + " && timeout 120 '" + QW_CLI_PATH + "' " + args, dir_);
    }
    std::string Read(const std::string& name) const { return testkit::ReadText(dir_ / name); }
    void Write(const std::string& name, const std::string& text) const {
        testkit::WriteText(dir_ / name, text);
    }
    // The machine file's section mapping V to the tone disc, and the transport setting when one is asked.
    std::string Drives(const std::string& mode) const {
        std::string text = "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]\r\n\"V\"=\"image:" +
                           (dir_ / "tones.cue").string() + "\"\r\n\r\n";
        if (!mode.empty())
            text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orva Corporation\\Tarnix\\Corvex]\r\n"
                    "\"Cdrom_Mode\"=\"" +
                    mode + "\"\r\n\r\n";
        return text;
    }

    // The disc, the program's settings and its kernel drive list, all in one folder of the test's own.
    testkit::RegistrySandbox registry_{"cdsettings"};
    const std::filesystem::path dir_ = registry_.Path();
};

// The read-only commands, each of which reads the drive mappings and the transport settings.
const std::vector<std::string> kReadOnly = {"drives", "toc V", "rip V 4 out.wav",
                                            "play --cd V --track 5 --driver dsf:out.dsf"};

TEST_F(CdDriveSettingsTest, ReadOnlyCommandsLeaveAHandWrittenMachineFileByteIdentical) {
    for (const std::string mode : {"", "RAW", "ASPI"}) {
        SCOPED_TRACE("Cdrom_Mode " + (mode.empty() ? std::string("unset") : mode));
        // Comments, CRLF line ends, blank lines and an output the program never writes itself.
        const std::string hand = "Windows Registry Editor Version 5.00\r\n\r\n"
                                 "; drives of the listening room, written by hand\r\n" +
                                 Drives(mode) +
                                 "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Quellwave]\r\n"
                                 "\"useRFMode\"=dword:00000001\r\n";
        Write("machine.reg", hand);
        for (const std::string& command : kReadOnly) {
            const clitest::RunResult r = Cli(command);
            EXPECT_EQ(r.status, 0) << command << ": " << r.err;
            EXPECT_EQ(Read("machine.reg"), hand) << command;
        }
        // An empty machine file is an empty registry: nothing to complain about, nothing written.
        Write("machine.reg", "");
        const clitest::RunResult r = Cli("drives");
        EXPECT_EQ(r.err.find("damaged"), std::string::npos) << r.err;
        EXPECT_EQ(Read("machine.reg"), "");
    }
}

TEST_F(CdDriveSettingsTest, ReadOnlyCommandsWriteNoUserSettingsWhereThereAreNone) {
    Write("machine.reg", "Windows Registry Editor Version 5.00\r\n\r\n" + Drives(""));
    for (const std::string& command : kReadOnly) {
        const clitest::RunResult r = Cli(command);
        EXPECT_EQ(r.status, 0) << command << ": " << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir_ / "user.reg")) << command << ": " << Read("user.reg");
    }
}

TEST_F(CdDriveSettingsTest, RipAndConvertWordAWriteFailureAlike) {
    Write("machine.reg", "Windows Registry Editor Version 5.00\r\n\r\n" + Drives(""));
    testkit::WriteBytes(dir_ / "in.wav", testkit::ConstantWav(16, 1.0, 0.5));
    // A file size limit of 8 KiB makes every output file fail part way; the messages go through a pipe,
    // which the limit does not touch.
    for (const std::string command : {"rip V 2 out.wav", "convert in.wav out.dsf"}) {
        const clitest::RunResult r =
            clitest::Shell("cd " + clitest::Quote(dir_) + " && sh -c " +
                               clitest::Quote("(trap '' XFSZ; ulimit -f 16; '" + std::string(QW_CLI_PATH) +
                                              "' " + command + ") 2>&1 | cat"),
                           dir_);
        EXPECT_NE(r.out.find(": write failed: file too large\n"), std::string::npos)
            << command << ": " << r.out;
    }
}

TEST_F(CdDriveSettingsTest, AMachineFileWithATypoIsNamedByItsLineAndNeverReplaced) {
    for (const std::string mode : {"RAW", "ASPI"}) {
        SCOPED_TRACE(mode);
        // Line 10: a value without its closing quote.
        const std::string typo = "Windows Registry Editor Version 5.00\r\n\r\n; by hand\r\n" + Drives(mode) +
                                 "\"ASPITimeOut\"=\"20000\r\n";
        Write("machine.reg", typo);
        for (const std::string& command : kReadOnly) {
            const clitest::RunResult r = Cli(command);
            EXPECT_NE(r.err.find((dir_ / "machine.reg").string() + " is damaged at line 10"),
                      std::string::npos)
                << command << ": " << r.err;
            EXPECT_EQ(Read("machine.reg"), typo) << command;
            EXPECT_FALSE(std::filesystem::exists(dir_ / "machine.reg.damaged")) << command;
        }
    }
}

TEST_F(CdDriveSettingsTest, ARefusedCueSheetIsNamedWithItsLineByEveryCommand) {
    // Line 3: an INDEX whose frames run past 74.
    Write("bad.cue", "FILE \"tones.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:80\n");
    for (const std::string mode : {"RAW", "ASPI"}) {
        SCOPED_TRACE(mode);
        Write("machine.reg", "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]\n\"V\"=\"image:" +
                                 (dir_ / "bad.cue").string() +
                                 "\"\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orva Corporation\\Tarnix\\Corvex]\n"
                                 "\"Cdrom_Mode\"=\"" +
                                 mode + "\"\n");
        struct Command {
            const char* args;
            int status; // play's "nothing to play" is 2
        };
        for (const Command& c : {Command{"drives", 1}, Command{"toc V", 1}, Command{"rip V 1 out.wav", 1},
                                 Command{"play --cd V --driver dsf:out.dsf", 2}, Command{"check V", 1}}) {
            const std::string command = c.args;
            const clitest::RunResult r = Cli(command);
            EXPECT_EQ(r.status, c.status) << command;
            EXPECT_NE(r.err.find((dir_ / "bad.cue").string() + ":3:"), std::string::npos)
                << command << ": " << r.err;
            EXPECT_EQ(r.err.find("no audio disc"), std::string::npos) << command << ": " << r.err;
        }
    }
}

TEST_F(CdDriveSettingsTest, ACheckWhoseResultCannotBeStoredSaysSoAndFails) {
    struct Case {
        const char* name;
        bool damagedUserFile; // else the settings folder is made read-only
    };
    for (const Case& c :
         {Case{"user file damaged by hand", true}, Case{"settings folder read-only", false}}) {
        SCOPED_TRACE(c.name);
        if (!c.damagedUserFile && geteuid() == 0) {
            std::printf("[ skipped  ] %s: permissions do not bind the superuser\n", c.name);
            continue;
        }
        for (const std::string mode : {"RAW", "ASPI"}) {
            SCOPED_TRACE(mode);
            Write("machine.reg", "Windows Registry Editor Version 5.00\r\n\r\n" + Drives(mode));
            std::filesystem::remove(dir_ / "user.reg");
            if (c.damagedUserFile)
                Write("user.reg", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\n");
            else
                std::filesystem::permissions(dir_, std::filesystem::perms::owner_read |
                                                       std::filesystem::perms::owner_exec);
            const clitest::RunResult r = Cli("check V");
            std::filesystem::permissions(dir_, std::filesystem::perms::owner_all);
            EXPECT_EQ(r.status, 1) << r.out << r.err;
            EXPECT_EQ(r.out.find("read condition stored"), std::string::npos) << r.out;
            EXPECT_NE(r.err.find("the result could not be stored in " + (dir_ / "user.reg").string()),
                      std::string::npos)
                << r.err;
        }
    }
}

TEST_F(CdDriveSettingsTest, AnEjectTheDriveRefusesFailsAndSaysWhy) {
    Write("machine.reg", "Windows Registry Editor Version 5.00\n\n" + Drives("") +
                             "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives\\V]\n"
                             "\"HeldOpen\"=dword:00000001\n");
    for (const char* command : {"eject V", "load V"}) {
        const clitest::RunResult r = Cli(command);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_NE(r.err.find("the drive refused to"), std::string::npos) << command << ": " << r.err;
    }
}

} // namespace
