#include "BlockDeviceMedia.h"

#include <sstream>
#include <string>

namespace {

std::string Property(const platform::BlockDeviceEvent& event, const char* name) {
    const auto it = event.find(name);
    return it != event.end() ? it->second : std::string();
}

bool HoldsMedia(const platform::BlockDeviceEvent& event) {
    return Property(event, "ID_CDROM_MEDIA") == "1" || !Property(event, "ID_FS_TYPE").empty() ||
           !Property(event, "ID_PART_TABLE_TYPE").empty();
}

char LetterOf(const platform::BlockDeviceEvent& event, const std::vector<platform::DriveEntry>& drives) {
    std::vector<std::string> names;
    if (std::string node = Property(event, "DEVNAME"); !node.empty())
        names.push_back(std::move(node));
    std::istringstream links(Property(event, "DEVLINKS"));
    for (std::string link; links >> link;)
        names.push_back(link);
    for (const platform::DriveEntry& drive : drives) {
        // Only device nodes: a folder (a mount point) or an image is no device udev reports on.
        if (drive.device.rfind("/dev/", 0) != 0 || drive.letter < 'A' || drive.letter > 'Z')
            continue;
        for (const std::string& name : names)
            if (name == drive.device)
                return drive.letter;
    }
    return 0;
}

} // namespace

std::optional<MediaEvent> MediaEventFromBlockDevice(const platform::BlockDeviceEvent& event,
                                                    const std::vector<platform::DriveEntry>& drives) {
    const std::string action = Property(event, "ACTION");
    WPARAM what = 0;
    if (action == "change" && Property(event, "DISK_MEDIA_CHANGE") == "1")
        what = HoldsMedia(event) ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    else if (action == "remove")
        what = DBT_DEVICEREMOVECOMPLETE;
    else if (action == "add" && HoldsMedia(event))
        what = DBT_DEVICEARRIVAL;
    else
        return std::nullopt;

    const char letter = LetterOf(event, drives);
    if (letter == 0)
        return std::nullopt;
    MediaEvent media;
    media.event = what;
    media.change.deviceType = DBT_DEVTYP_VOLUME;
    media.change.flags = DBTF_MEDIA;
    media.change.unitMask = DWORD{1} << (letter - 'A');
    return media;
}
