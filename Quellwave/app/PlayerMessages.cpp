#include "PlayerMessages.h"

#include "Platform/MessageTarget.h"

namespace app {

namespace {
RegisteredMessages RegisterAll() {
    RegisteredMessages ids;
    ids.needDriveCheck = platform::RegisterMessageName(kNeedDriveCheckName);
    ids.playSelectedTrack = platform::RegisterMessageName(kPlaySelectedTrackName);
    ids.loadDriverError = platform::RegisterMessageName(kLoadDriverErrorName);
    ids.volumeMuteChange = platform::RegisterMessageName(kVolumeMuteChangeName);
    ids.volumeVolChange = platform::RegisterMessageName(kVolumeVolChangeName);
    return ids;
}

} // namespace

const RegisteredMessages& Registered() {
    static const RegisteredMessages ids = RegisterAll();
    return ids;
}

namespace {
// Registered before main runs, in the order other software sharing the names expects.
[[maybe_unused]] const bool gRegisteredAtStart = (Registered(), true);
} // namespace

} // namespace app
