// The drive settings store: machine-wide transport settings and the per-user drive-check results, read
// back through a registry of the test's own.
#include "TestSupport.h"
#include "store/DriveSettings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace discpilot {
namespace {

using namespace platform;

class MachineSettingsTest : public dptest::RegistryTest {};

TEST_F(MachineSettingsTest, CdromModeDefaultsToRawAndIsComparedWholeWithoutCase) {
    EXPECT_EQ(ReadCdromMode(), kCdromModeRaw);
    SetMachineString("Cdrom_Mode", "aspi&raw");
    EXPECT_EQ(ReadCdromMode(), kCdromModeAspiThenRaw);
    SetMachineString("Cdrom_Mode", "ASPI&RAW");
    EXPECT_EQ(ReadCdromMode(), kCdromModeAspiThenRaw);
    SetMachineString("Cdrom_Mode", "Aspi");
    EXPECT_EQ(ReadCdromMode(), kCdromModeAspi);
    SetMachineString("Cdrom_Mode", "ASPI ");
    EXPECT_EQ(ReadCdromMode(), kCdromModeRaw);
    SetMachineString("Cdrom_Mode", "ASPI&");
    EXPECT_EQ(ReadCdromMode(), kCdromModeRaw);
    // 32 bytes hold 15 characters and the terminator; a longer value is not read at all.
    SetMachineString("Cdrom_Mode", "ASPI" + std::string(20, '\0'));
    EXPECT_EQ(ReadCdromMode(), kCdromModeRaw);
    SetMachineString("Cdrom_Mode", "raw");
    EXPECT_EQ(ReadCdromMode(), kCdromModeRaw);
}

TEST_F(MachineSettingsTest, CdromModeAsADwordKeepsTheDefault) {
    SetDword(HKEY_LOCAL_MACHINE, kMachineKey, "Cdrom_Mode", 1);
    EXPECT_EQ(ReadCdromMode(), kCdromModeRaw);
}

TEST_F(MachineSettingsTest, MarginIsReadOnlyFromAFourByteDword) {
    EXPECT_EQ(ReadMarginLba(), 375u);
    SetMachineString("MARGIN_LBA", "100");
    EXPECT_EQ(ReadMarginLba(), 375u);
    SetDword(HKEY_LOCAL_MACHINE, kMachineKey, "MARGIN_LBA", 100);
    EXPECT_EQ(ReadMarginLba(), 100u);
}

TEST_F(MachineSettingsTest, ReadingNeverWritesTheMachineFile) {
    // No file: none is made. A hand-written file without the key: it keeps every byte.
    ReadMarginLba();
    EXPECT_FALSE(std::filesystem::exists(dir_ / "machine.reg"));
    const std::string hand =
        "Windows Registry Editor Version 5.00\r\n\r\n; by hand\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]\r\n\"V\"=\"/dev/sr0\"\r\n";
    testkit::WriteText(dir_ / "machine.reg", hand);
    EXPECT_EQ(ReadCdromMode(), kCdromModeRaw);
    EXPECT_EQ(ReadAspiTimeOut(), kDefaultAspiTimeOutMs);
    EXPECT_EQ(ReadMarginLba(), kDefaultMarginLba);
    EXPECT_EQ(testkit::ReadText(dir_ / "machine.reg"), hand);
}

class DriveStoreTest : public dptest::RegistryTest {
protected:
    static DriveIdentity Drive(char letter, int adapter, int target) {
        DriveInquiry inquiry;
        std::memcpy(inquiry.vendor, "PLEXTOR ", 9);
        std::memcpy(inquiry.product, "CD-R   PX-W4824A", 17);
        std::memcpy(inquiry.revision, "1.0 ", 5); // a trailing blank is part of the key's name
        inquiry.removable = 1;
        return MakeIdentity(letter, adapter, target, inquiry);
    }
    static ReadCondition Condition(WORD speed) {
        ReadCondition c;
        c.valid = 1;
        c.cddaCommands = 1;
        c.isrc = 0;
        c.accurate = 1;
        c.noJitter = 1;
        c.speed = speed;
        c.overlap = 5;
        c.bufferSize = 0x00123456;
        return c;
    }
    static bool ModelKeyExists(char letter) {
        HKEY key = nullptr;
        const std::string path = std::string(kUserKey) + "\\" + letter + "\\PLEXTOR CD-R   PX-W4824A1.0 ";
        const bool exists = RegOpenKeyEx(HKEY_CURRENT_USER, path, KEY_READ, &key) == ERROR_SUCCESS;
        RegCloseKey(key);
        return exists;
    }
};

TEST_F(DriveStoreTest, ReadConditionPacksLittleEndianInTwentyEightBytes) {
    const auto bytes = Condition(0x0A0B).Pack();
    const BYTE expected[28] = {1, 0, 0, 0, 1, 0, 0,    0,    0, 0, 0,    0,    1,    0,
                               0, 0, 1, 0, 0, 0, 0x0B, 0x0A, 5, 0, 0x56, 0x34, 0x12, 0};
    EXPECT_EQ(0, std::memcmp(bytes.data(), expected, 28));
    EXPECT_EQ(ReadCondition::Unpack(bytes), Condition(0x0A0B));
}

TEST_F(DriveStoreTest, StoredConditionAndDriveInfoReadBack) {
    const DriveIdentity drive = Drive('E', 1, 2);
    ASSERT_EQ(Store(drive, Condition(8), false), 1);
    ReadCondition found;
    EXPECT_EQ(LookUp(drive, false, found), 1);
    EXPECT_EQ(found, Condition(8));

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, std::string(kUserKey) + "\\E\\PLEXTOR CD-R   PX-W4824A1.0 ",
                           KEY_READ, &key),
              ERROR_SUCCESS);
    BYTE info[64] = {};
    DWORD type = 0, size = sizeof info;
    ASSERT_EQ(RegQueryValueEx(key, "Drive Info", &type, info, &size), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, REG_BINARY);
    ASSERT_EQ(size, 40u);
    const BYTE head[8] = {'E', 2, 1, 0, 1, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(info, head, 8));
    EXPECT_STREQ(reinterpret_cast<char*>(info + 8), "PLEXTOR ");
    EXPECT_STREQ(reinterpret_cast<char*>(info + 17), "CD-R   PX-W4824A");
    EXPECT_STREQ(reinterpret_cast<char*>(info + 34), "1.0 ");
    EXPECT_EQ(info[39], 0);
}

TEST_F(DriveStoreTest, TwoDrivesOfOneModelOnTwoLettersKeepSeparateEntries) {
    ASSERT_EQ(Store(Drive('D', 0, 0), Condition(4), false), 1);
    ASSERT_EQ(Store(Drive('E', 0, 1), Condition(16), false), 1);
    ReadCondition d, e;
    ASSERT_EQ(LookUp(Drive('D', 0, 0), false, d), 1);
    ASSERT_EQ(LookUp(Drive('E', 0, 1), false, e), 1);
    EXPECT_EQ(d.speed, 4);
    EXPECT_EQ(e.speed, 16);
    EXPECT_TRUE(ModelKeyExists('D'));
    EXPECT_TRUE(ModelKeyExists('E'));
}

TEST_F(DriveStoreTest, DriveInfoFromAnotherAdapterOrTargetDoesNotMatch) {
    ASSERT_EQ(Store(Drive('D', 0, 3), Condition(4), false), 1);
    ReadCondition untouched = Condition(99);
    EXPECT_EQ(LookUp(Drive('D', 1, 3), false, untouched), 0);
    EXPECT_EQ(LookUp(Drive('D', 0, 4), false, untouched), 0);
    EXPECT_EQ(untouched, Condition(99));
    EXPECT_EQ(LookUp(Drive('D', 0, 3), false, untouched), 1);
}

TEST_F(DriveStoreTest, LetterPassedInLowerCaseFindsTheSameEntry) {
    ASSERT_EQ(Store(Drive('d', 0, 3), Condition(4), false), 1);
    ReadCondition found;
    EXPECT_EQ(LookUp(Drive('D', 0, 3), false, found), 1);
    EXPECT_EQ(found.speed, 4);
}

TEST_F(DriveStoreTest, BufferSizeIsStoredApartAndReplacesTheConditionsSizeAtOpen) {
    ReadCondition probe;
    probe.bufferSize = 196608;
    ASSERT_EQ(Store(Drive('D', 0, 0), probe, true), 1);
    ReadCondition size;
    size.bufferSize = 7;
    EXPECT_EQ(LookUp(Drive('D', 0, 0), true, size), 1);
    EXPECT_EQ(size.bufferSize, 196608u);
    // Only a buffer size so far: the drive counts as unchecked.
    ReadCondition defaults = Condition(24);
    EXPECT_EQ(LoadAtOpen(Drive('D', 0, 0), defaults), 0);
    EXPECT_EQ(defaults.speed, 24);
    EXPECT_EQ(defaults.bufferSize, 196608u);

    ASSERT_EQ(Store(Drive('D', 0, 0), Condition(8), false), 1);
    ReadCondition loaded = Condition(24);
    EXPECT_EQ(LoadAtOpen(Drive('D', 0, 0), loaded), 1);
    EXPECT_EQ(loaded.speed, 8);
    EXPECT_EQ(loaded.bufferSize, 196608u);
}

TEST_F(DriveStoreTest, BufferSizeNotFoundGivesZero) {
    ReadCondition size;
    size.bufferSize = 12345;
    EXPECT_EQ(LookUp(Drive('D', 0, 0), true, size), 0);
    EXPECT_EQ(size.bufferSize, 0u);
    // Without a stored size, loading keeps the condition's own.
    ASSERT_EQ(Store(Drive('D', 0, 0), Condition(8), false), 1);
    ReadCondition loaded;
    EXPECT_EQ(LoadAtOpen(Drive('D', 0, 0), loaded), 1);
    EXPECT_EQ(loaded.bufferSize, 0x00123456u);
}

TEST_F(DriveStoreTest, ForgetDeletesTheModelKeyOnlyWithoutAStoredCondition) {
    ReadCondition probe;
    probe.bufferSize = 65536;
    ASSERT_EQ(Store(Drive('D', 0, 0), probe, true), 1);
    ASSERT_TRUE(ModelKeyExists('D'));
    Forget(Drive('D', 0, 0));
    EXPECT_FALSE(ModelKeyExists('D'));

    ASSERT_EQ(Store(Drive('D', 0, 0), Condition(8), false), 1);
    ASSERT_EQ(Store(Drive('D', 0, 0), probe, true), 1);
    Forget(Drive('D', 0, 0));
    EXPECT_TRUE(ModelKeyExists('D'));
    ReadCondition found;
    EXPECT_EQ(LookUp(Drive('D', 0, 0), false, found), 1);
}

TEST_F(DriveStoreTest, DamagedValuesAreNotTakenForResults) {
    ASSERT_EQ(Store(Drive('D', 0, 0), Condition(8), false), 1);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, std::string(kUserKey) + "\\D\\PLEXTOR CD-R   PX-W4824A1.0 ",
                           KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    const BYTE shortRecord[10] = {1};
    ASSERT_EQ(RegSetValueEx(key, "Read Condition", REG_BINARY, shortRecord, sizeof shortRecord),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ReadCondition found = Condition(3);
    EXPECT_EQ(LookUp(Drive('D', 0, 0), false, found), 0);
    EXPECT_EQ(found, Condition(3));
}

TEST_F(DriveStoreTest, ModelNameReadsTheDrivesTextAsLatin1) {
    DriveIdentity drive = Drive('D', 0, 0);
    drive.vendor[0] = static_cast<char>(0xC4); // Ä in ISO 8859-1
    EXPECT_EQ(drive.ModelName(), "\xC3\x84LEXTOR CD-R   PX-W4824A1.0 ");
    ASSERT_EQ(Store(drive, Condition(2), false), 1);
    ReadCondition found;
    EXPECT_EQ(LookUp(drive, false, found), 1);
}

} // namespace
} // namespace discpilot
