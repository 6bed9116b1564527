#include "rip/RipSheet.h"

#include <cstdio>

namespace rip {

std::string TrackFileName(int number, const std::string& title) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02d - ", number);
    std::string name = title;
    if (name.empty()) {
        char fallback[16];
        std::snprintf(fallback, sizeof fallback, "Track %02d", number);
        name = fallback;
    }
    for (char& c : name) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '_';
        }
    }
    // 255 bytes less the prefix and the extension; never half a UTF-8 character.
    constexpr std::size_t kMostTitleBytes = 255 - 5 - 5;
    if (name.size() > kMostTitleBytes) {
        std::size_t n = kMostTitleBytes;
        while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) {
            --n;
        }
        name.resize(n);
    }
    // "." and ".." alone are no names of a file in the folder; a title starting with a dot stays visible.
    return prefix + name + ".flac";
}

std::string CueTime(std::uint32_t sectors) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", sectors / 4500, sectors / 75 % 60, sectors % 75);
    return text;
}

namespace {

// A file name or text inside the sheet's quotes: a double quote cannot be written there.
std::string Quoted(const std::string& name) {
    std::string out = "\"";
    for (const char c : name) {
        out += c == '"' ? '\'' : c;
    }
    return out + "\"";
}

// TITLE or PERFORMER with its text, when there is one.
std::string TextLine(const char* indent, const char* command, const std::string& text) {
    return text.empty() ? std::string() : indent + std::string(command) + " " + Quoted(text) + "\n";
}

std::string TrackLine(const SheetTrack& track) {
    char line[32];
    std::snprintf(line, sizeof line, "  TRACK %02d AUDIO\n", track.number);
    return line + TextLine("    ", "TITLE", track.title) + TextLine("    ", "PERFORMER", track.performer);
}

} // namespace

std::string RipCueSheet(const std::vector<SheetTrack>& tracks, const std::string& firstFile,
                        std::uint32_t discId, const std::string& title, const std::string& performer) {
    char rem[48];
    std::snprintf(rem, sizeof rem, "REM DISCID %08X\n", discId);
    std::string sheet = rem;
    sheet += "REM COMMENT \"quellwave-cli rip\"\n";
    sheet += TextLine("", "PERFORMER", performer) + TextLine("", "TITLE", title);
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const SheetTrack& t = tracks[i];
        const bool pregap = t.pregapStart < t.start;
        const std::string flags = t.preEmphasis ? "    FLAGS PRE\n" : "";
        if (i == 0) {
            if (!firstFile.empty()) {
                // The first track's index 0 is the whole of the audio before it, from the disc's start.
                sheet += "FILE " + Quoted(firstFile) + " WAVE\n" + TrackLine(t) + flags +
                         "    INDEX 00 00:00:00\n";
                sheet += "FILE " + Quoted(t.file) + " WAVE\n";
            } else {
                sheet += "FILE " + Quoted(t.file) + " WAVE\n" + TrackLine(t) + flags;
                if (t.start > 0) {
                    sheet += "    PREGAP " + CueTime(t.start) + "\n";
                }
            }
        } else if (pregap) {
            // A pregap belongs to the end of the file before, where the track's index 0 lies.
            sheet += TrackLine(t) + flags;
            sheet += "    INDEX 00 " + CueTime(t.pregapStart - tracks[i - 1].start) + "\n";
            sheet += "FILE " + Quoted(t.file) + " WAVE\n";
        } else {
            sheet += "FILE " + Quoted(t.file) + " WAVE\n" + TrackLine(t) + flags;
        }
        sheet += "    INDEX 01 00:00:00\n";
    }
    return sheet;
}

} // namespace rip
