// PlayList.txt: the per-user file that keeps the track list between runs and hands it to a running copy.
// One path per line, each line the path and CR LF, in UTF-16 little-endian without a byte-order mark; no
// header, no count. A byte-order mark at the start (an editor's) is read as such, not as part of a path. An
// empty list is an empty file. Every function here may be called from any thread; the file functions block on
// the file system.
#pragma once

#include "TrackList.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

inline constexpr char kPlaylistFileName[] = "PlayList.txt";

// <application-data folder>/Orva Corporation/Quellwave; empty when there is no application-data folder.
// Not created.
std::filesystem::path PlaylistFolder();

// Writes list to PlayList.txt, creating the two folders above it when they are missing. False when there
// is no application-data folder, a folder cannot be made, or the file cannot be written in full; the
// previous file is then left as it was.
bool WritePlaylist(const TrackList& list);
// Clears *list, then reads PlayList.txt into it. False (the list stays empty) when there is no
// application-data folder or the file cannot be opened or read. No folder is created.
bool ReadPlaylist(TrackList* list);

// Writes list to file atomically: a file without a name is written in full, made durable, named and renamed
// over it, so a crash or a kill at any moment leaves either the old file or the new one, never a part, and
// no temporary file.
// Paths that hold a line feed cannot be stored as a line and are left out. afterEachBlock, when set, is
// called after each 4096-byte block reaches the temporary file (tests use it to stop the writer midway).
bool WritePlaylistFile(const std::filesystem::path& file, const TrackList& list,
                       const std::function<void(std::size_t bytesWritten)>& afterEachBlock = {});
// Clears *list and reads file into it; false when the file cannot be opened or read.
bool ReadPlaylistFile(const std::filesystem::path& file, TrackList* list);

// The file's bytes for list (lines holding a line feed are left out).
std::string EncodePlaylist(const TrackList& list);
// The list that bytes hold: lines end at each line feed, one carriage return before it is removed, and a
// last line without a line feed still counts; an odd last byte is ignored. Never fails: any bytes give a
// list, and encoding that list and decoding it again gives the same list.
TrackList DecodePlaylist(std::string_view bytes);

// Paths are UTF-8 here and UTF-16 in the file. Bytes of a path that are not valid UTF-8 (file names on
// this platform may hold any bytes) are stored as the unpaired code units U+DC80..U+DCFF and read back as
// the same bytes, so every path survives the round trip unchanged.
std::u16string PathToFileText(std::string_view path);
std::string PathFromFileText(std::u16string_view text);
