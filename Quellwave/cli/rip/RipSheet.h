// The CUE sheet of a whole-disc rip: one FLAC file per audio track, each track's pregap kept at the end
// of the file before (INDEX 00 there), and audio before the first track in a file of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rip {

// One audio track as ripped.
struct SheetTrack {
    int number = 0;
    std::uint32_t start = 0;       // LBA of index 1
    std::uint32_t pregapStart = 0; // LBA of index 0 (start when the track has no pregap)
    bool preEmphasis = false;
    std::string file;  // the track's file name
    std::string title; // CD-Text, UTF-8; empty when the disc has none
    std::string performer;
};

// The file name of a ripped track: "NN - Title.flac" ("NN - Track NN.flac" without a title). Characters a
// file name cannot hold ('/', NUL) and control characters become '_'; a title is cut (at a character's
// boundary) so that the name stays within the 255 bytes a file system allows.
std::string TrackFileName(int number, const std::string& title);

// A disc address relative to a file's start as a CUE sheet writes it: mm:ss:ff.
std::string CueTime(std::uint32_t sectors);

// The sheet. tracks: the audio tracks in order; firstFile: the file holding the audio before the first
// track (from the disc's start to its index 1; empty when none was written: its pregap is then a PREGAP of
// silence). discId: the CDDB id, for the REM line. title and performer: the disc's (CD-Text), written
// as TITLE and PERFORMER lines where not empty, as are the tracks' own.
std::string RipCueSheet(const std::vector<SheetTrack>& tracks, const std::string& firstFile,
                        std::uint32_t discId, const std::string& title = {},
                        const std::string& performer = {});

} // namespace rip
