// The player's fixed-key settings: one read and one write function per value, each with its key path
// built in. Every function returns whether it succeeded; reads leave the caller's output untouched on
// failure, so callers keep their defaults and a missing key never stops the program.
//
// Per-user values live under HKEY_CURRENT_USER "Software\Orva Corporation\Quellwave\Settings"; the values an
// installer provides live under HKEY_LOCAL_MACHINE. Strings hold at most 259 characters: a longer stored
// string is not read at all, and a longer string is cut to 259 characters when written.
#pragma once

#include "Platform/Types.h"

#include <string>
#include <string_view>

inline constexpr char kSettingsKey[] = "Software\\Orva Corporation\\Quellwave\\Settings";
inline constexpr char kProgramKey[] = "Software\\Orva Corporation\\Quellwave";
inline constexpr char kAsioSettingsKey[] = "Software\\Orva Corporation\\DSD ASIO Settings";
inline constexpr char kCompanyName[] = "Orva Corporation";
inline constexpr char kProductName[] = "Quellwave";

// Room for a stored string, in UTF-16 code units with the terminator, as the reads' buffers are sized.
inline constexpr unsigned kSettingStringChars = 260;

// SkinName: display name of the chosen skin.
bool ReadSkinName(std::string* skinName);
bool WriteSkinName(std::string_view skinName);

// DefaultMode: 0 disc mode, any other value file mode. Reads 0 when missing.
DWORD ReadMode();
bool WriteMode(DWORD mode);
constexpr bool IsFileMode(DWORD mode) noexcept {
    return mode != 0;
}

// DefaultFolder: folder chosen for file playback (nothing in the program reads it back).
bool WriteFolder(std::string_view folder);

// DefaultDrive: character code of the playback drive's letter.
bool ReadDrive(DWORD* drive);
bool WriteDrive(DWORD drive);

// Repeat: 0 off, 1 repeat the current track, 2 repeat all.
bool ReadRepeat(DWORD* repeat);
bool WriteRepeat(DWORD repeat);
// The repeat mode a stored value stands for: anything but 1 or 2 is off.
constexpr DWORD RepeatModeFromSetting(DWORD stored) noexcept {
    return stored == 1 || stored == 2 ? stored : 0;
}

// DsdRate: the DSD rate PCM (WAV, other PCM files, CD) is up-converted to, as 64, 128, 256 or 512 times
// 44 100 Hz. Reads 64 when missing; any other stored value reads as 64 too.
DWORD ReadDsdRate();
bool WriteDsdRate(DWORD rate);
constexpr DWORD DsdRateFromSetting(DWORD stored) noexcept {
    return stored == 128 || stored == 256 || stored == 512 ? stored : 64;
}

// useRFMode (machine): DSD file playback; true only when the value is exactly 1.
bool ReadRFMode();

// GaplessPlayback: consecutive files of one kind follow each other without fades or silence; true only when
// the value is exactly 1 (missing: 0, off).
bool ReadGaplessPlayback();
bool WriteGaplessPlayback(bool gapless);

// ShowRemainingTime: the display shows the time left in the track, not the time played, while a track
// plays or is paused; true only when the value is exactly 1 (missing: 0, the time played).
bool ReadShowRemainingTime();
bool WriteShowRemainingTime(bool remaining);

// ShowTitles: the panel shows the title line and the cover of what is playing; false only when the value
// is stored as 0 (missing or any other value: 1, shown).
bool ReadShowTitles();
bool WriteShowTitles(bool show);

// DefaultASIODriverName (machine): name of the DSD output driver to open.
bool ReadASIODriverName(std::string* driverName);

// Whether a value is stored at all, and whether as a string (REG_SZ or REG_EXPAND_SZ).
enum class StoredValue { Missing, String, OtherType };
StoredValue ASIODriverNameStored();
