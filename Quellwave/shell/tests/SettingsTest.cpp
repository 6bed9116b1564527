// The player's settings as the program sees them: fixed-key accessors and registry sections, over a
// registry kept in a temporary folder.
#include "shell/Settings.h"
#include "shell/CRegistrySection.h"

#include "Platform/Registry.h"
#include "Platform/Text.h"
#include "TestKit/Bytes.h"
#include "TestKit/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace platform;
namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    static constexpr auto Put = testkit::RegistrySandbox::SetValue;
    static constexpr auto PutDword = testkit::RegistrySandbox::SetDword;
    // The UTF-16LE units of text without a terminator, for values whose exact size matters.
    static std::vector<BYTE> Utf16Bytes(const std::string& text) {
        return testkit::Utf16Le(Utf8ToUtf16(text));
    }
    std::string UserFileText() const { return testkit::ReadText(dir_ / "user.reg"); }

    static constexpr char kSectionKey[] = "Software\\Orva Corporation\\Quellwave\\Settings";
    testkit::RegistrySandbox registry_{"settings"};
    const fs::path& dir_ = registry_.Path();
};

TEST_F(SettingsTest, MissingValuesLeaveCallerDefaults) {
    EXPECT_EQ(ReadMode(), 0u);
    DWORD drive = 'Q';
    EXPECT_FALSE(ReadDrive(&drive));
    EXPECT_EQ(drive, DWORD('Q'));
    DWORD repeat = 9;
    EXPECT_FALSE(ReadRepeat(&repeat));
    EXPECT_EQ(repeat, 9u);
    std::string skin = "keep";
    EXPECT_FALSE(ReadSkinName(&skin));
    EXPECT_EQ(skin, "keep");
    EXPECT_FALSE(ReadRFMode());
    std::string driver = "keep";
    EXPECT_FALSE(ReadASIODriverName(&driver));
    EXPECT_EQ(driver, "keep");

    CRegistrySection section;
    section.SetNames(kCompanyName, kProductName, "Settings");
    DWORD value = 77;
    EXPECT_FALSE(section.ReadDWORDUserThenMachine("NoDispNext", &value));
    EXPECT_EQ(value, 77u);
}

TEST_F(SettingsTest, DwordSettingsRoundTripAndAreInterpreted) {
    ASSERT_TRUE(WriteMode(5));
    EXPECT_EQ(ReadMode(), 5u);
    EXPECT_TRUE(IsFileMode(ReadMode()));
    ASSERT_TRUE(WriteMode(0));
    EXPECT_FALSE(IsFileMode(ReadMode()));

    ASSERT_TRUE(WriteDrive('E'));
    DWORD drive = 0;
    ASSERT_TRUE(ReadDrive(&drive));
    EXPECT_EQ(drive, DWORD('E'));

    ASSERT_TRUE(WriteRepeat(7));
    DWORD repeat = 0;
    ASSERT_TRUE(ReadRepeat(&repeat));
    EXPECT_EQ(repeat, 7u);
    EXPECT_EQ(RepeatModeFromSetting(repeat), 0u) << "an unknown repeat value starts with repeat off";
    EXPECT_EQ(RepeatModeFromSetting(1), 1u);
    EXPECT_EQ(RepeatModeFromSetting(2), 2u);

    // All of them sit in the one settings key of the user root.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kSettingsKey, KEY_READ, &key), ERROR_SUCCESS);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKey(key, nullptr, nullptr, &values, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(values, 3u);
    RegCloseKey(key);
}

TEST_F(SettingsTest, DwordReadOfShortDataIsZeroExtended) {
    Put(HKEY_CURRENT_USER, kSettingsKey, "DefaultDrive", REG_BINARY, {0x44});
    DWORD drive = 0xFFFFFFFF;
    ASSERT_TRUE(ReadDrive(&drive));
    EXPECT_EQ(drive, 0x44u);
}

TEST_F(SettingsTest, StringLimitIs259Characters) {
    const std::string exactly259(259, 's');
    const std::string exactly260(260, 's');

    Put(HKEY_CURRENT_USER, kSettingsKey, "SkinName", REG_SZ, Utf16Bytes(exactly259));
    std::string skin;
    ASSERT_TRUE(ReadSkinName(&skin));
    EXPECT_EQ(skin, exactly259);

    Put(HKEY_CURRENT_USER, kSettingsKey, "SkinName", REG_SZ, Utf16Bytes(exactly260));
    skin = "before";
    EXPECT_FALSE(ReadSkinName(&skin)) << "520 bytes of data do not fit the 260-character buffer";
    EXPECT_EQ(skin, "before");

    // Writing cuts to 259 characters, which then read back whole.
    ASSERT_TRUE(WriteSkinName(std::string(300, 'w')));
    ASSERT_TRUE(ReadSkinName(&skin));
    EXPECT_EQ(skin, std::string(259, 'w'));
    DWORD type = 0, size = 0;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kSettingsKey, KEY_READ, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegQueryValueEx(key, "SkinName", &type, nullptr, &size), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 2u * 259u) << "stored without a terminator";
}

TEST_F(SettingsTest, StringsKeepNonAsciiTextAndStopAtNul) {
    ASSERT_TRUE(WriteSkinName("Nachtblau — Ölfarbe 🎵"));
    std::string skin;
    ASSERT_TRUE(ReadSkinName(&skin));
    EXPECT_EQ(skin, "Nachtblau — Ölfarbe 🎵");

    // A character cut in half by the limit is dropped whole rather than stored as half a pair.
    std::string nearLimit(258, 'a');
    ASSERT_TRUE(WriteSkinName(nearLimit + "🎵"));
    ASSERT_TRUE(ReadSkinName(&skin));
    EXPECT_EQ(skin, nearLimit);

    std::vector<BYTE> withNul = Utf16Bytes("left");
    withNul.insert(withNul.end(), {0, 0, 'x', 0});
    Put(HKEY_LOCAL_MACHINE, kAsioSettingsKey, "DefaultASIODriverName", REG_SZ, withNul);
    std::string driver;
    ASSERT_TRUE(ReadASIODriverName(&driver));
    EXPECT_EQ(driver, "left");
}

TEST_F(SettingsTest, FolderIsWrittenAsAString) {
    ASSERT_TRUE(WriteFolder("/home/listener/Music"));
    EXPECT_NE(UserFileText().find("\"DefaultFolder\"=\"/home/listener/Music\""), std::string::npos)
        << UserFileText();
}

TEST_F(SettingsTest, RfModeIsOnOnlyForOne) {
    for (DWORD stored : {0u, 2u, 0x101u, 0xFFFFFFFFu}) {
        PutDword(HKEY_LOCAL_MACHINE, kProgramKey, "useRFMode", stored);
        EXPECT_FALSE(ReadRFMode()) << stored;
    }
    PutDword(HKEY_LOCAL_MACHINE, kProgramKey, "useRFMode", 1);
    EXPECT_TRUE(ReadRFMode());
    // The user root does not count for a machine setting.
    PutDword(HKEY_LOCAL_MACHINE, kProgramKey, "useRFMode", 0);
    PutDword(HKEY_CURRENT_USER, kProgramKey, "useRFMode", 1);
    EXPECT_FALSE(ReadRFMode());
}

TEST_F(SettingsTest, GaplessPlaybackIsOffUnlessTheUserStoredOne) {
    EXPECT_FALSE(ReadGaplessPlayback());
    for (DWORD stored : {0u, 2u, 0x101u, 0xFFFFFFFFu}) {
        PutDword(HKEY_CURRENT_USER, kSettingsKey, "GaplessPlayback", stored);
        EXPECT_FALSE(ReadGaplessPlayback()) << stored;
    }
    ASSERT_TRUE(WriteGaplessPlayback(true));
    EXPECT_TRUE(ReadGaplessPlayback());
    EXPECT_NE(UserFileText().find("\"GaplessPlayback\"=dword:00000001"), std::string::npos) << UserFileText();
    ASSERT_TRUE(WriteGaplessPlayback(false));
    EXPECT_FALSE(ReadGaplessPlayback());
    // A machine value does not count for a per-user setting.
    PutDword(HKEY_LOCAL_MACHINE, kSettingsKey, "GaplessPlayback", 1);
    EXPECT_FALSE(ReadGaplessPlayback());
}

TEST_F(SettingsTest, FixedKeyLookupIgnoresCase) {
    PutDword(HKEY_CURRENT_USER, "SOFTWARE\\orva corporation\\QUELLWAVE\\settings", "defaultmode", 1);
    EXPECT_EQ(ReadMode(), 1u);
    Put(HKEY_LOCAL_MACHINE, "software\\Orva Corporation\\dsd asio settings", "DEFAULTASIODRIVERNAME", REG_SZ,
        Utf16Bytes("null"));
    std::string driver;
    ASSERT_TRUE(ReadASIODriverName(&driver));
    EXPECT_EQ(driver, "null");
}

TEST_F(SettingsTest, SectionUserValueWinsEvenWhenZero) {
    PutDword(HKEY_LOCAL_MACHINE, kSectionKey, "NoDispNext", 1);
    CRegistrySection section;
    EXPECT_EQ(section.SetNames(kCompanyName, kProductName, "Settings"), 1);

    DWORD value = 0;
    ASSERT_TRUE(section.ReadDWORDUserThenMachine("NoDispNext", &value));
    EXPECT_EQ(value, 1u) << "machine value used when the user has none";

    PutDword(HKEY_CURRENT_USER, kSectionKey, "NoDispNext", 0);
    value = 5;
    ASSERT_TRUE(section.ReadDWORDUserThenMachine("NoDispNext", &value));
    EXPECT_EQ(value, 0u);
}

TEST_F(SettingsTest, SectionFindsValuesWhateverTheirCase) {
    PutDword(HKEY_CURRENT_USER, kSectionKey, "Other", 3);
    PutDword(HKEY_CURRENT_USER, kSectionKey, "nodispnext", 4);
    CRegistrySection section;
    section.SetNames(kCompanyName, kProductName, "Settings");
    DWORD value = 0;
    ASSERT_TRUE(section.ReadUserDWORD("NoDispNext", &value));
    EXPECT_EQ(value, 4u);
    EXPECT_FALSE(section.ReadDWORD("NoDispNext", &value)) << "the machine root has no such value";
}

TEST_F(SettingsTest, SectionReadsMachineValuesAndStrings) {
    PutDword(HKEY_LOCAL_MACHINE, "Software\\Orva Corporation\\Quellwave\\App", "OverloadValue", 42);
    // A longer value listed first must not disturb the buffers used for the shorter one.
    Put(HKEY_LOCAL_MACHINE, "Software\\Orva Corporation\\Quellwave", "AVeryLongValueNameIndeed", REG_BINARY,
        std::vector<BYTE>(300, 0xAB));
    Put(HKEY_LOCAL_MACHINE, "Software\\Orva Corporation\\Quellwave", "InstalledPath", REG_SZ,
        Utf16Bytes("/opt/quellwave"));

    CRegistrySection app;
    app.SetNames(kCompanyName, kProductName, "App");
    DWORD overload = 50;
    ASSERT_TRUE(app.ReadDWORD("OverloadValue", &overload));
    EXPECT_EQ(overload, 42u);
    DWORD count = 2;
    EXPECT_FALSE(app.ReadDWORD("OverloadCountNum", &count));
    EXPECT_EQ(count, 2u);

    CRegistrySection root;
    root.SetNames(kCompanyName, kProductName, "");
    EXPECT_EQ(root.KeyPath(), "Software\\Orva Corporation\\Quellwave\\");
    std::string installed;
    ASSERT_TRUE(root.ReadString("installedpath", &installed));
    EXPECT_EQ(installed, "/opt/quellwave");
}

TEST_F(SettingsTest, SectionWriteCreatesTheWholeChain) {
    ASSERT_FALSE(fs::exists(dir_ / "user.reg"));
    CRegistrySection section;
    section.SetNames(kCompanyName, kProductName, "Settings");
    const DWORD one = 1;
    ASSERT_TRUE(section.WriteDWORD("NoDispNext", &one, true));

    for (const char* path :
         {"Software", "Software\\Orva Corporation", "Software\\Orva Corporation\\Quellwave", kSectionKey}) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, path, KEY_READ, &key), ERROR_SUCCESS) << path;
        RegCloseKey(key);
    }
    DWORD value = 0;
    ASSERT_TRUE(section.ReadUserDWORD("NoDispNext", &value));
    EXPECT_EQ(value, 1u);
    const std::string text = UserFileText();
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Orva Corporation\\Quellwave\\Settings]"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"NoDispNext\"=dword:00000001"), std::string::npos) << text;

    // Writing again into the existing key replaces the value instead of adding one.
    const DWORD zero = 0;
    ASSERT_TRUE(section.WriteDWORD("NoDispNext", &zero, false));
    ASSERT_TRUE(section.ReadUserDWORD("NoDispNext", &value));
    EXPECT_EQ(value, 0u);
}

TEST_F(SettingsTest, SettingsWrittenByHandInAFileAreRead) {
    ASSERT_TRUE(testkit::WriteText(dir_ / "user.reg",
                                   "Windows Registry Editor Version 5.00\n\n"
                                   "[HKEY_CURRENT_USER\\Software\\Orva Corporation\\Quellwave\\Settings]\n"
                                   "\"SkinName\"=\"Brushed \\\"Steel\\\"\"\n"
                                   "\"Repeat\"=dword:00000002\n"));
    std::string skin;
    ASSERT_TRUE(ReadSkinName(&skin));
    EXPECT_EQ(skin, "Brushed \"Steel\"");
    DWORD repeat = 0;
    ASSERT_TRUE(ReadRepeat(&repeat));
    EXPECT_EQ(repeat, 2u);
}

} // namespace
