// The CD subcommands of quellwave-cli. Each works on a drive letter through the CD library's controller
// (CDiscPilot), writes its results to standard output and its complaints to standard error, and returns
// the process exit status: 0 done, 1 the drive or the disc failed, 2 wrong arguments.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Reads a drive letter argument: "D", "d" or "D:" all give 'D'. false for anything else.
bool ParseDriveLetter(const std::string& text, unsigned char& letter);

// "toc LETTER": one line per track (number, start sector, length in sectors and as mm:ss.ff, audio or
// data, pre-emphasis), then the lead-out's sector; then, for a disc with CD-Text, a heading and one line
// per title and performer: "album" or the track number, "title" or "performer", the text.
int RunToc(const std::vector<std::string>& args);

// "rip LETTER TRACK OUT.wav": reads one audio track into a 16-bit stereo 44 100 Hz WAV file, written to a
// temporary file beside OUT.wav and renamed over it only when complete (an interrupted rip leaves no
// file behind). Read securely (overlap correction, a confirmed start, cache defeat) whatever the stored
// read condition says. A progress bar on standard error when it is a terminal; at the end one line per run
// of unreadable sectors (written as silence) and a line with the reader's jitter corrections, realignments
// and retries. 1 also when the read ended short; 5 when the file is complete but holds unreadable sectors.
int RunRip(const std::vector<std::string>& args);

// "rip LETTER --disc DIR [--offset N]": every audio track read securely twice (test, then copy; sectors
// where they differ read again until two reads agree) into DIR/"NN - Title.flac" (the track's CD-Text
// title; "NN - Track NN.flac" without one; "00 - Track 00.flac" for audio before track 1), each decoded back
// and compared before it counts as written, with DIR/rip.cue and DIR/rip.log, the read offset (N, else the
// one stored for the drive model) corrected. The log names the drive, the read, the AccurateRip checksums and
// the database's answer per track and ends with "all tracks accurate", "all tracks ripped, not verified" or
// what failed (also on standard output). 0 all verified, 1 the drive or a file failed, 2 wrong arguments, 5
// sectors written as silence, 6 a track whose reads never agreed or that the database says is not accurate.
int RunRipDisc(const std::vector<std::string>& args);

// "offset LETTER N": stores N as the read offset of the drive model in LETTER. 0 stored, 1 not, 2 wrong
// arguments.
int RunOffset(const std::vector<std::string>& args);

// "eject LETTER" and "load LETTER": lock, dismount and release the volume, then open or close the tray.
// 1 when the drive's volume cannot be opened; whether the tray moved is not reported by the drive.
int RunEject(const std::vector<std::string>& args);
int RunLoad(const std::vector<std::string>& args);

// "check LETTER": the drive check (how this drive model must be read), with a progress bar on standard
// error when it is a terminal, then the result, grade, speed, overlap, buffer size and statuses. 0 when a
// read condition was stored, 1 when the check failed or could not start, 130 when it was stopped
// (Ctrl-C, SIGTERM, SIGHUP).
int RunCheck(const std::vector<std::string>& args);

} // namespace cli
