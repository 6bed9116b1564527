// Drive letters: optical drives found in sysfs, registry mappings, images, and the errors of opening a
// letter that is not a usable CD drive.
#include "Platform/DriveTable.h"
#include "Platform/Registry.h"

#include "TestKit/DiscImage.h"
#include "TestKit/RegistrySandbox.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace platform;
using ::testing::HasSubstr;

namespace {

class DriveTableTest : public ::testing::Test {
protected:
    void AddKernelDevice(const std::string& name) {
        std::filesystem::create_directories(dir_ / "sys" / name);
    }
    // A mapping as a hand-written file may hold it: the string without its terminating zero.
    void Map(const std::string& letter, const std::string& device) {
        testkit::RegistrySandbox::SetValue(HKEY_LOCAL_MACHINE, kDrivesKey, letter, REG_SZ,
                                           testkit::Utf16Le(Utf8ToUtf16(device)));
    }
    std::string Letters() {
        std::string text;
        for (const DriveEntry& e : ListDrives()) {
            text += std::string(1, e.letter) + "=" + e.device + "(" + std::to_string(e.type) + ") ";
        }
        return text;
    }
    const testkit::RegistrySandbox sandbox_{"dt"};
    const std::filesystem::path dir_ = sandbox_.Path();
};

TEST_F(DriveTableTest, OpticalDrivesTakeLettersFromDInKernelOrderAroundMappedLetters) {
    AddKernelDevice("sr10");
    AddKernelDevice("sr0");
    AddKernelDevice("sr2");
    AddKernelDevice("sda");
    AddKernelDevice("sr1x");
    EXPECT_EQ(Letters(), "D=/dev/sr0(5) E=/dev/sr2(5) F=/dev/sr10(5) ");
    Map("e", "image:/nowhere/album.cue");
    Map("G", "/dev/sr2");
    Map("toolong", "/dev/sr0");
    EXPECT_EQ(Letters(), "D=/dev/sr0(5) E=image:/nowhere/album.cue(5) F=/dev/sr10(5) G=/dev/sr2(5) ");
    EXPECT_EQ(GetDriveType('e'), DRIVE_CDROM);
    EXPECT_EQ(GetDriveType('Q'), DRIVE_NO_ROOT_DIR);
    Map("M", dir_.string());
    EXPECT_THAT(GetDriveType('M'), ::testing::AnyOf(DRIVE_FIXED, DRIVE_RAMDISK, DRIVE_REMOVABLE));
    Map("N", "/dev/null");
    EXPECT_EQ(GetDriveType('N'), DRIVE_NO_ROOT_DIR); // not a block device
}

TEST_F(DriveTableTest, OnlySrAndDigitsNameAnOpticalDrive) {
    for (const char* name : {"sr", "sr+1", "sr-1", "sr 1", "sr1234567", "SR3", "sr007"}) {
        AddKernelDevice(name);
    }
    EXPECT_EQ(Letters(), "D=/dev/sr007(5) ");
}

TEST_F(DriveTableTest, KernelDriveModelIsTheFirstLineOfEachFile) {
    const auto device = dir_ / "sys" / "sr1" / "device";
    std::filesystem::create_directories(device);
    testkit::WriteText(device / "vendor", "PLEXTOR \n");
    testkit::WriteText(device / "model", "CD-R   PX-W4824A\nsecond line\n");
    const KernelDriveModel model = ReadKernelDriveModel("/dev/sr1");
    EXPECT_EQ(model.vendor, "PLEXTOR ");
    EXPECT_EQ(model.model, "CD-R   PX-W4824A");
    EXPECT_EQ(model.revision, ""); // no rev file
    const KernelDriveModel missing = ReadKernelDriveModel("/dev/sr9");
    EXPECT_EQ(missing.vendor + missing.model + missing.revision, "");
}

TEST_F(DriveTableTest, OpeningALetterSaysWhyItCannotBeUsed) {
    std::string error;
    EXPECT_EQ(OpenCdDevice('Q', error), nullptr);
    EXPECT_EQ(error, "drive Q: is not mapped to a device");
    Map("M", dir_.string());
    EXPECT_EQ(OpenScsiPassThrough('m', error), nullptr);
    EXPECT_THAT(error, HasSubstr("drive M: " + dir_.string() + " is not a CD drive"));
    AddKernelDevice("sr7");
    // The kernel lists the drive but this machine has no node for it.
    EXPECT_EQ(OpenCdDevice('D', error), nullptr);
    EXPECT_EQ(error, "drive D: cannot open /dev/sr7: No such file or directory");
    EXPECT_EQ(OpenScsiPassThrough('D', error), nullptr);
    EXPECT_EQ(error, "drive D: cannot open /dev/sr7: No such file or directory");
    testkit::WriteText(dir_ / "bad.cue", "FILE a.bin BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:80\n");
    Map("V", "image:" + (dir_ / "bad.cue").string());
    EXPECT_EQ(OpenCdDevice('V', error), nullptr);
    EXPECT_EQ(error, "drive V: " + (dir_ / "bad.cue").string() +
                         ":3: INDEX needs a number 0 to 99 and a position mm:ss:ff");
}

TEST_F(DriveTableTest, AnImageLetterIsOneDriveForBothInterfaces) {
    testkit::WriteBytes(dir_ / "a.bin", testkit::BuildFile(3, std::string(100, 'a'), 0));
    testkit::WriteText(dir_ / "a.cue", "FILE a.bin BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n");
    Map("V", "image:" + (dir_ / "a.cue").string());
    std::string error;
    auto cd = OpenCdDevice('V', error);
    ASSERT_TRUE(cd) << error;
    auto scsi = OpenScsiPassThrough('v', error);
    ASSERT_TRUE(scsi) << error;
    // The tray opened through one is open for the other, and for a later open of the same letter.
    ASSERT_EQ(cd->Eject(), 0);
    ScsiCommand tur;
    tur.cdbLength = 12;
    ScsiAnswer answer;
    ASSERT_EQ(scsi->Execute(tur, answer), 0);
    EXPECT_EQ(answer.status, kScsiCheckCondition);
    EXPECT_EQ(answer.Asc(), 0x3A);
    DWORD type = 0;
    EXPECT_EQ(OpenCdDevice('V', error)->GetDiskType(type), ENOMEDIUM);
    ASSERT_EQ(cd->Load(), 0);
    ASSERT_EQ(scsi->Execute(tur, answer), 0);
    EXPECT_EQ(answer.status, kScsiGood);
}

TEST(PathDriveType, MissingPathsHaveNoRootAndKernelFileSystemsAreNamed) {
    EXPECT_EQ(GetPathDriveType("/no/such/place/at/all"), DRIVE_NO_ROOT_DIR);
    if (std::filesystem::exists("/dev/shm")) {
        EXPECT_EQ(GetPathDriveType("/dev/shm"), DRIVE_RAMDISK);
    }
    EXPECT_EQ(GetPathDriveType("/proc"), DRIVE_FIXED);
}

TEST(PathDriveType, OnlyDisksThatStayAreFixed) {
    struct Case {
        unsigned long magic;
        const char* mountType;
        bool removable;
        UINT type;
    };
    for (const Case& c : {
             Case{0xEF53, "ext4", false, DRIVE_FIXED},
             Case{0xEF53, "ext4", true, DRIVE_REMOVABLE}, // a USB stick
             Case{0x4D44, "vfat", true, DRIVE_REMOVABLE}, // an SD card
             Case{0x9660, "iso9660", false, DRIVE_CDROM},
             Case{0x15013346, "udf", true, DRIVE_CDROM},
             Case{0x6969, "nfs4", false, DRIVE_REMOTE},
             Case{0xFE534D42, "smb3", false, DRIVE_REMOTE},
             Case{0x00C36400, "ceph", false, DRIVE_REMOTE},
             Case{0x65735546, "fuse.sshfs", false, DRIVE_REMOTE}, // network mounts through FUSE
             Case{0x65735546, "fuse.rclone", false, DRIVE_REMOTE},
             Case{0x65735546, "fuse.gvfsd-fuse", false, DRIVE_REMOTE},
             Case{0x65735546, "", false, DRIVE_REMOTE},
             Case{0x65735546, "fuseblk", false, DRIVE_FIXED},    // NTFS on an inner disk
             Case{0x65735546, "fuseblk", true, DRIVE_REMOVABLE}, // exFAT on a USB disk
             Case{0x01021994, "tmpfs", false, DRIVE_RAMDISK},
         }) {
        EXPECT_EQ(ClassifyFileSystem(c.magic, c.mountType, c.removable), c.type)
            << std::hex << c.magic << " " << c.mountType << " removable " << c.removable;
    }
}

} // namespace

namespace {

TEST_F(DriveTableTest, ALinkToAnOpticalDriveIsThatDriveAndGetsNoSecondLetter) {
    AddKernelDevice("sr0");
    AddKernelDevice("sr1");
    std::filesystem::create_symlink("/dev/sr1", dir_ / "cdrom");
    Map("K", (dir_ / "cdrom").string());
    // sr1 is K through its link: only sr0 takes an automatic letter.
    EXPECT_EQ(Letters(), "D=/dev/sr0(5) K=" + (dir_ / "cdrom").string() + "(5) ");
}

TEST_F(DriveTableTest, ABlockNodeOfTheCdMajorIsACdDriveWhateverItsName) {
    // Making a device node needs privileges a test may not have.
    const auto node = dir_ / "mydrive";
    if (::mknod(node.c_str(), S_IFBLK | 0600, makedev(11, 0)) != 0) {
        GTEST_SKIP() << "cannot make a block device node here";
    }
    std::filesystem::create_symlink(node, dir_ / "link");
    Map("M", node.string());
    Map("N", (dir_ / "link").string());
    EXPECT_EQ(GetDriveType('M'), DRIVE_CDROM);
    EXPECT_EQ(GetDriveType('N'), DRIVE_CDROM);
}

} // namespace
