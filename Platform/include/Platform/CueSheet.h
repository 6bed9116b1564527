// CUE sheets and the disc they describe: the parser for the text (outside input, never trusted) and the
// layout that places every track, index and gap of the image on a disc's sector addresses.
//
// Supported: FILE "name" BINARY (several FILE lines are laid out one after another); TRACK nn AUDIO,
// MODE1/2352 and MODE2/2352; INDEX 00..99; PREGAP and POSTGAP (silence that is not in the file); CATALOG;
// ISRC; FLAGS (DCP, 4CH, PRE, SCMS); TITLE and PERFORMER (of the disc before the first TRACK, else of the
// track), kept as written. REM, SONGWRITER and CDTEXTFILE are read and ignored.
// Everything else is refused with a message that names the line and what is not supported.
//
// All functions are pure or touch only the files named; any thread may call them.
#pragma once

#include "Platform/CdAddress.h"
#include "Platform/Types.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class CueTrackMode { Audio, Mode1Raw, Mode2Raw };

// Control nibble of the TOC and Q channel: the bits a FLAGS line and the track mode set.
inline constexpr BYTE kCdControlPreEmphasis = 0x01;
inline constexpr BYTE kCdControlCopyPermitted = 0x02;
inline constexpr BYTE kCdControlData = 0x04;
inline constexpr BYTE kCdControlFourChannel = 0x08;

struct CueIndex {
    int number = 0;
    DWORD fileSector = 0; // position inside the track's FILE, in sectors
};

struct CueTrack {
    int number = 0;
    CueTrackMode mode = CueTrackMode::Audio;
    BYTE control = 0;              // kCdControl* bits (data bit from the mode, the rest from FLAGS)
    int file = 0;                  // index into CueSheet::files
    std::string isrc;              // 12 characters, or empty
    DWORD pregap = 0;              // PREGAP sectors (silence before the track, not in the file)
    DWORD postgap = 0;             // POSTGAP sectors (silence after the track, not in the file)
    std::vector<CueIndex> indexes; // ascending numbers and positions; INDEX 01 always present
    std::string title;             // TITLE, or empty
    std::string performer;         // PERFORMER, or empty
};

struct CueSheet {
    std::string catalog;            // 13 digits, or empty
    std::vector<std::string> files; // as written in the sheet (relative to the sheet's folder)
    std::vector<CueTrack> tracks;   // consecutive numbers
    std::string title;              // the disc's TITLE (before the first TRACK), or empty
    std::string performer;          // the disc's PERFORMER, or empty
};

struct CueError {
    std::size_t line = 0; // 1-based; 0 when the error is not tied to a line
    std::string message;
};

// Parses the text of a CUE sheet. On failure returns false and fills error; sheet is then unspecified.
// Never reads files. Accepts LF, CRLF and CR line ends and a UTF-8 byte-order mark.
bool ParseCueSheet(std::string_view text, CueSheet& sheet, CueError& error);

// One run of consecutive sectors on the disc: from a file (file >= 0, at byte offset) or silence (-1).
struct DiscExtent {
    LONG start = 0;
    DWORD count = 0;
    int file = -1;
    std::uint64_t offset = 0;
};

struct DiscIndex {
    int number = 0;
    LONG lba = 0;
};

struct DiscTrack {
    int number = 0;
    CueTrackMode mode = CueTrackMode::Audio;
    BYTE control = 0;
    std::string isrc;
    LONG pregapStart = 0; // first sector of the track's pregap (INDEX 00 or PREGAP), == start when none
    LONG start = 0;       // INDEX 01: the address the TOC gives
    DWORD length = 0;     // sectors from start to the next track's pregapStart (or the lead-out)
    std::vector<DiscIndex> indexes; // each index's number and disc address
    std::string title;              // as in the sheet
    std::string performer;
};

// The disc an image describes: tracks in order, the sector map and the lead-out.
struct DiscLayout {
    std::string catalog;
    std::vector<std::filesystem::path> files;
    std::vector<DiscTrack> tracks;
    std::vector<DiscExtent> extents; // ascending, contiguous from LBA 0 to leadOut
    LONG leadOut = 0;
    std::string title; // the disc's, as in the sheet
    std::string performer;
};

// Places the sheet's tracks on the disc, given each file's size in bytes (fileBytes[i] for files[i]).
// Files follow each other; a track's data runs from its first index to the next track's first index in
// the same file, or to the end of the file. Fails with a message for a file whose size is not a whole
// number of 2352-byte sectors, an index beyond its file's end, or a disc longer than 99:59:74.
bool LayOutDisc(const CueSheet& sheet, const std::vector<std::uint64_t>& fileBytes, DiscLayout& layout,
                CueError& error);

// Reads the sheet at cuePath, resolves its files against the sheet's folder, takes their sizes and lays
// out the disc. On failure returns false with a message naming the sheet (and line) or the file.
bool LoadCueImage(const std::filesystem::path& cuePath, DiscLayout& layout, std::string& error);

} // namespace platform
