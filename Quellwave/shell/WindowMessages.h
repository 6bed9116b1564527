// Every message the player's windows receive, in one place: the fixed ids (the window system's, the engine's,
// the controls' and the program's own) and the names of the messages registered by name at run time
// (platform::RegisterMessageName gives their ids; the same name gives the same id throughout a process).
// All of them travel through a platform::MessageTarget.
#pragma once

#include "Platform/Types.h"

// The window system's messages, with their values on the original platform.
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUERYENDSESSION = 0x0011;
inline constexpr UINT WM_COMMAND = 0x0111; // (control id | notification << 16, 0): a button, key or command
inline constexpr UINT WM_HSCROLL = 0x0114; // (code | position << 16, 0): the volume dial moved
inline constexpr UINT WM_POWERBROADCAST = 0x0218;
inline constexpr UINT WM_DEVICECHANGE = 0x0219;
inline constexpr UINT WM_APPCOMMAND = 0x0319; // (0, command << 16): a media key
inline constexpr UINT WM_USER = 0x0400;

// The engine's, to its window.
inline constexpr UINT WM_PLAYER_END = 0x0401;      // (0, 0): the last track ended and nothing follows
inline constexpr UINT WM_PLAYER_POSITION = 0x0402; // (elapsed ms in the track, track number)
// (track number, 0): the next track is at a DSD rate the output does not take, so playback ends before it
// (WM_PLAYER_END follows); the engine's RateRefusal() names the rates the output takes.
inline constexpr UINT WM_PLAYER_RATE_REFUSED = 0x0403;
// The player window's own: a second copy asks the running one to read PlayList.txt again.
inline constexpr UINT WM_RELOAD_PLAYLIST = 0x0464;
// From a held long-push button, repeatedly.
inline constexpr UINT WM_LONG_PUSH_REPEAT = WM_USER + 300; // 0x052C

// Messages registered by name.
inline constexpr char kNeedDriveCheckName[] = "OrvaQuellwaveNeedDriveCheck"; // wParam = drive letter - 'A'
inline constexpr char kPlaySelectedTrackName[] = "OrvaQuellwavePlaySelectedTrack"; // wParam = track number
inline constexpr char kLoadDriverErrorName[] = "OrvaQuellwaveLoadDriverError";     // the output did not open
inline constexpr char kVolumeMuteChangeName[] = "WM_MSG_ZEV_VOLUME_MUTE_CHANGE";
inline constexpr char kVolumeVolChangeName[] = "WM_MSG_ZEV_VOLUME_VOL_CHANGE"; // wParam = value 0..100
inline constexpr char kQueryCancelAutoPlayName[] = "QueryCancelAutoPlay";
