// The player window's ids beyond the messages themselves (shell/WindowMessages.h): the ids of the five
// messages registered by name (process-wide, registered in this order before the first window exists),
// the media-key commands, the panel's commands and timers.
#pragma once

#include "Platform/Types.h"
#include "shell/WindowMessages.h"

namespace app {

struct RegisteredMessages {
    UINT needDriveCheck = 0;    // wParam = drive letter - 'A'
    UINT playSelectedTrack = 0; // wParam = track number
    UINT loadDriverError = 0;
    UINT volumeMuteChange = 0;
    UINT volumeVolChange = 0; // wParam = value 0..100
};
// The ids, registered during static initialisation.
const RegisteredMessages& Registered();

// WM_APPCOMMAND commands (the high word of lParam without the device bits).
inline constexpr unsigned APPCOMMAND_MEDIA_NEXTTRACK = 11;
inline constexpr unsigned APPCOMMAND_MEDIA_PREVIOUSTRACK = 12;
inline constexpr unsigned APPCOMMAND_MEDIA_STOP = 13;
inline constexpr unsigned APPCOMMAND_MEDIA_PLAY_PAUSE = 14;
inline constexpr unsigned APPCOMMAND_MEDIA_PLAY = 46;
inline constexpr unsigned APPCOMMAND_MEDIA_PAUSE = 47;
inline constexpr unsigned APPCOMMAND_VOLUME_UP = 10;

// Seeks posted to the panel (by the session bus service, as the media keys post their commands).
// (0, ms, signed): from where the current track is now, by ms; past its end the next track plays.
inline constexpr UINT WM_SEEK_BY = WM_USER + 310;
// (ms, track): to ms in track, when that is still the current track and ms lies inside it.
inline constexpr UINT WM_SEEK_TO = WM_USER + 311;

// Command ids of the player panel.
enum Command : unsigned {
    kCmdClose = 1,
    kCmdPlay = 1004,
    kCmdPause = 1005,
    kCmdStop = 1006,
    kCmdPrevious = 1007,
    kCmdNext = 1008,
    kCmdRepeat = 1027,
    kCmdFadeOut = 1028,
    kCmdSettings = 1046,
    kCmdToFileMode = 1048,
    kCmdEject = 1052,
    kCmdMinimise = 5018,
    kCmdOpenFiles = 5019,
    kCmdHelp = 5029,
    kCmdVolumeDown = 5038,
    kCmdVolumeUp = 5039,
    kCmdToDiscMode = 5069,
    kCmdList = 5072,
    kCmdAboutDialog = 32776,
    kCmdNothing = 32777,
};

// Timers of the panel.
inline constexpr int kTimerFadeIn = 100;
inline constexpr int kTimerFadeOut = 101;
inline constexpr int kTimerBattery = 102;
inline constexpr int kTimerLoad = 103;
inline constexpr int kTimerEntry = 104;
inline constexpr int kTimerSeekRepeat = 105; // a seek key held

// Thread execution state flags: neither the system nor the display sleeps while the player runs.
inline constexpr DWORD ES_SYSTEM_REQUIRED = 0x00000001;
inline constexpr DWORD ES_DISPLAY_REQUIRED = 0x00000002;
inline constexpr DWORD ES_CONTINUOUS = 0x80000000;

// Message box styles.
inline constexpr UINT MB_ICONHAND = 0x00000010;
inline constexpr UINT MB_ICONEXCLAMATION = 0x00000030;

} // namespace app
