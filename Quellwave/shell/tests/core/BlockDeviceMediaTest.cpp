// udev's block device events as the window's media change messages: which events count, which drive they
// name, and what reaches the window's own decoding of the message.
#include "shell/BlockDeviceMedia.h"

#include <gtest/gtest.h>

namespace {

using platform::BlockDeviceEvent;
using platform::DriveEntry;

const std::vector<DriveEntry> kDrives = {
    {'D', "/dev/sr0", platform::DRIVE_CDROM},       {'E', "/dev/sr1", platform::DRIVE_CDROM},
    {'F', "/media/usb", platform::DRIVE_REMOVABLE}, {'G', "/dev/sdc", platform::DRIVE_REMOVABLE},
    {'V', "image:/dev/sr0", platform::DRIVE_CDROM}, // an image whose path happens to look like a device
    {'W', "/dev/cdrw", platform::DRIVE_CDROM},      // mapped by a udev link
};

struct Case {
    const char* name;
    BlockDeviceEvent event;
    WPARAM expectedEvent; // 0: no message
    char expectedLetter;
};

TEST(BlockDeviceMedia, EventsOfLetteredDrivesBecomeMediaChangesAndNothingElseDoes) {
    const std::vector<Case> cases = {
        {"disc inserted",
         {{"ACTION", "change"}, {"DEVNAME", "/dev/sr0"}, {"DISK_MEDIA_CHANGE", "1"}, {"ID_CDROM_MEDIA", "1"}},
         DBT_DEVICEARRIVAL,
         'D'},
        {"disc taken out",
         {{"ACTION", "change"}, {"DEVNAME", "/dev/sr0"}, {"DISK_MEDIA_CHANGE", "1"}},
         DBT_DEVICEREMOVECOMPLETE,
         'D'},
        {"second drive",
         {{"ACTION", "change"}, {"DEVNAME", "/dev/sr1"}, {"DISK_MEDIA_CHANGE", "1"}, {"ID_CDROM_MEDIA", "1"}},
         DBT_DEVICEARRIVAL,
         'E'},
        {"drive unplugged", {{"ACTION", "remove"}, {"DEVNAME", "/dev/sr1"}}, DBT_DEVICEREMOVECOMPLETE, 'E'},
        {"drive plugged with a disc",
         {{"ACTION", "add"}, {"DEVNAME", "/dev/sr1"}, {"ID_CDROM_MEDIA", "1"}},
         DBT_DEVICEARRIVAL,
         'E'},
        {"empty drive plugged", {{"ACTION", "add"}, {"DEVNAME", "/dev/sr1"}}, 0, 0},
        {"card with a file system",
         {{"ACTION", "change"}, {"DEVNAME", "/dev/sdc"}, {"DISK_MEDIA_CHANGE", "1"}, {"ID_FS_TYPE", "vfat"}},
         DBT_DEVICEARRIVAL,
         'G'},
        {"card with partitions",
         {{"ACTION", "change"},
          {"DEVNAME", "/dev/sdc"},
          {"DISK_MEDIA_CHANGE", "1"},
          {"ID_PART_TABLE_TYPE", "dos"}},
         DBT_DEVICEARRIVAL,
         'G'},
        {"found by its link",
         {{"ACTION", "change"},
          {"DEVNAME", "/dev/sr2"},
          {"DISK_MEDIA_CHANGE", "1"},
          {"DEVLINKS", "/dev/disk/by-id/ata-X /dev/cdrw /dev/cdrom"}},
         DBT_DEVICEREMOVECOMPLETE,
         'W'},
        {"eject button only",
         {{"ACTION", "change"}, {"DEVNAME", "/dev/sr0"}, {"DISK_EJECT_REQUEST", "1"}},
         0,
         0},
        {"other property change",
         {{"ACTION", "change"}, {"DEVNAME", "/dev/sr0"}, {"ID_CDROM_MEDIA", "1"}},
         0,
         0},
        {"media change flag not set",
         {{"ACTION", "change"}, {"DEVNAME", "/dev/sr0"}, {"DISK_MEDIA_CHANGE", "0"}},
         0,
         0},
        {"unlettered device",
         {{"ACTION", "change"}, {"DEVNAME", "/dev/sr9"}, {"DISK_MEDIA_CHANGE", "1"}},
         0,
         0},
        {"partition of a lettered disk", {{"ACTION", "remove"}, {"DEVNAME", "/dev/sdc1"}}, 0, 0},
        {"no device name", {{"ACTION", "remove"}}, 0, 0},
        {"no action", {{"DEVNAME", "/dev/sr0"}, {"DISK_MEDIA_CHANGE", "1"}}, 0, 0},
        {"bind", {{"ACTION", "bind"}, {"DEVNAME", "/dev/sr0"}, {"ID_CDROM_MEDIA", "1"}}, 0, 0},
        // A folder mapping or an image is no device: a node of the same name says nothing about it.
        {"folder path as a node", {{"ACTION", "remove"}, {"DEVNAME", "/media/usb"}}, 0, 0},
        {"image path as a node", {{"ACTION", "remove"}, {"DEVNAME", "image:/dev/sr0"}}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<MediaEvent> media = MediaEventFromBlockDevice(c.event, kDrives);
        if (c.expectedEvent == 0) {
            EXPECT_FALSE(media.has_value());
            continue;
        }
        ASSERT_TRUE(media.has_value());
        EXPECT_EQ(media->event, c.expectedEvent);
        // What the window decodes from the message it is posted.
        EXPECT_EQ(MediaChangeLetter(media->event, DecodeDeviceChange(EncodeDeviceChange(media->change))),
                  c.expectedLetter);
    }
}

TEST(BlockDeviceMedia, AnEmptyDriveTableNamesNoDrive) {
    const BlockDeviceEvent inserted = {
        {"ACTION", "change"}, {"DEVNAME", "/dev/sr0"}, {"DISK_MEDIA_CHANGE", "1"}, {"ID_CDROM_MEDIA", "1"}};
    EXPECT_FALSE(MediaEventFromBlockDevice(inserted, {}).has_value());
    // The first matching entry decides when two letters map the same device.
    const std::vector<DriveEntry> twice = {{'D', "/dev/sr0", platform::DRIVE_CDROM},
                                           {'K', "/dev/sr0", platform::DRIVE_CDROM}};
    const auto media = MediaEventFromBlockDevice(inserted, twice);
    ASSERT_TRUE(media.has_value());
    EXPECT_EQ(MediaChangeLetter(media->event, media->change), 'D');
}

} // namespace
