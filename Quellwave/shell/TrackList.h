// The track list of file mode: an ordered list of paths (UTF-8), track n being entry n - 1. How dropped
// files and folders become a list, how a list is sorted, limited and handed to the engine, and what the
// listener is told on the way. Called on the UI thread.
#pragma once

#include "Platform/Types.h"

#include <string>
#include <string_view>
#include <vector>

using TrackList = std::vector<std::string>;

// At most this many tracks remain after loading (the panel's track length table has as many entries).
inline constexpr std::size_t kMaxTracks = 255;

// Message box texts (string ids of the resource module).
inline constexpr UINT kStringAllFilesRefused = 260;  // no file of the list can be played
inline constexpr UINT kStringSomeFilesRefused = 264; // some files were left out, the rest plays
inline constexpr UINT kStringTooManyFiles = 266;     // only the first 255 files are kept

// What the track list needs from the window that holds it; the player panel implements it.
class TrackListWindow {
public:
    virtual ~TrackListWindow() = default;
    // Enters file mode with list: the engine opens it and, when it opened, PlayList.txt is written and
    // DefaultMode becomes 1. Returns the files the engine accepted, in order (empty when it opened none);
    // the window keeps no list of its own from this (LoadTrackList's caller keeps what it returns).
    virtual TrackList EnterFileMode(const TrackList& list) = 0;
    // Shows the message box with the text of stringId and an OK button; returns when it is dismissed.
    virtual void ShowMessage(UINT stringId) = 0;
    // Stops playback (the stop command).
    virtual void Stop() = 0;
    // Shows (true) or ends (false) the wait cursor.
    virtual void SetWaitCursor(bool waiting) = 0;
    virtual void Repaint() = 0;
};

// True when path ends, without regard to case, in ".wav" or another PCM file's extension (".flac",
// ".aif", ".aiff", ".aifc", ".caf", ".w64", ".rf64"), or, with rfMode, ".dsf" or ".dff": the files a folder
// contributes to a list and the command line names.
bool IsListedFileName(std::string_view path, bool rfMode);
// True when path ends in "wav" or "wave" or another PCM file's extension without its dot, without regard
// to case, or, with rfMode, in "dsf" or "dff": a list holding such an entry is handed to the engine.
bool IsPlayableName(std::string_view path, bool rfMode);

// Appends folder's files that IsListedFileName takes, in the order the file system lists them. A subfolder
// is entered (with the same flag) only when includeSubfolders is set. An unreadable folder adds nothing.
void AddFolder(const std::string& folder, bool includeSubfolders, TrackList* list, bool rfMode);

// Sorts ascending by the full path without regard to case; equal paths keep their order.
void SortTrackList(TrackList* list);
// Whether a sorts before b, as SortTrackList orders them: UTF-16 code units compared after lower-case
// folding of ASCII, Latin-1, Greek and Cyrillic letters.
bool PathLessNoCase(std::string_view a, std::string_view b);

// Sorts list, keeps the first 255 (with message 266 when there were more) and, when it holds a playable
// entry, hands it to the engine through the window and keeps the files the engine accepted. Message 264 when
// some were left out; message 260 and an emptied PlayList.txt when none was. A list without any playable
// entry is kept as it is (sorted and limited) and is not opened. Returns the list kept, which the caller
// holds from then on: empty when nothing remains.
TrackList LoadTrackList(TrackList list, TrackListWindow& window, bool rfMode);

// A drop of items (full paths) on the panel: stops playback, makes a new list of them (a folder adds its
// files without subfolders, anything else is taken unchanged whatever its name) and loads it. Returns the
// list LoadTrackList kept.
TrackList DropFiles(const std::vector<std::string>& items, TrackListWindow& window, bool rfMode);
