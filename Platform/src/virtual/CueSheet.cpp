// CUE sheet parsing and disc layout. The text comes from outside: every number is range-checked before it
// is used, and nothing here trusts a count or position the sheet states.
#include "Platform/CueSheet.h"

#include "Platform/Text.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

namespace platform {

namespace {

// A sheet larger than this is not a CUE sheet; refusing it keeps a stray multi-gigabyte file from being
// read into memory.
constexpr std::uintmax_t kMaxSheetBytes = 1 << 20;

std::string Upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return result;
}

// Splits a line into words; a double-quoted word may hold spaces (the quotes are removed). An unclosed
// quote is an error.
bool Tokenize(std::string_view line, std::vector<std::string>& words, std::string& problem) {
    words.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        std::string word;
        if (line[i] == '"') {
            const std::size_t close = line.find('"', i + 1);
            if (close == std::string_view::npos) {
                problem = "unclosed quote";
                return false;
            }
            word.assign(line.substr(i + 1, close - i - 1));
            i = close + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
                word.push_back(line[i++]);
            }
        }
        words.push_back(std::move(word));
    }
    return true;
}

std::optional<int> ParseSmall(std::string_view digits, int maxValue) {
    if (digits.empty() || digits.size() > 3) {
        return std::nullopt;
    }
    const std::optional<unsigned> value = ParseInteger<unsigned>(digits);
    if (!value || *value > static_cast<unsigned>(maxValue)) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

// "mm:ss:ff" to sectors; minutes up to 99, seconds below 60, frames below 75.
std::optional<DWORD> ParseMsf(std::string_view text) {
    const std::size_t a = text.find(':');
    const std::size_t b = a == std::string_view::npos ? a : text.find(':', a + 1);
    if (b == std::string_view::npos || text.find(':', b + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    const auto m = ParseSmall(text.substr(0, a), 99);
    const auto s = ParseSmall(text.substr(a + 1, b - a - 1), 59);
    const auto f = ParseSmall(text.substr(b + 1), 74);
    if (!m || !s || !f) {
        return std::nullopt;
    }
    return static_cast<DWORD>(
        MsfToFrames(static_cast<BYTE>(*m), static_cast<BYTE>(*s), static_cast<BYTE>(*f)));
}

bool IsIsrc(std::string_view text) {
    if (text.size() != 12) {
        return false;
    }
    for (std::size_t i = 0; i < 12; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        // Country and owner codes are letters or digits; year and serial are digits.
        if (i < 5 ? !(std::isupper(c) || std::isdigit(c)) : !std::isdigit(c)) {
            return false;
        }
    }
    return true;
}

struct Parser {
    CueSheet& sheet;
    CueError& error;
    std::size_t lineNo = 0;
    bool sawIndexInTrack = false;

    bool Fail(std::string message) {
        error.line = lineNo;
        error.message = std::move(message);
        return false;
    }

    CueTrack* Current() { return sheet.tracks.empty() ? nullptr : &sheet.tracks.back(); }

    bool Line(const std::vector<std::string>& words) {
        const std::string command = Upper(words[0]);
        const std::size_t args = words.size() - 1;
        if (command == "TITLE" || command == "PERFORMER") {
            // A text with spaces is quoted; an unquoted one may still be several words.
            std::string text;
            for (std::size_t i = 1; i < words.size(); ++i) {
                text += (i > 1 ? " " : "") + words[i];
            }
            CueTrack* track = Current();
            std::string& field = command == "TITLE" ? (track ? track->title : sheet.title)
                                                    : (track ? track->performer : sheet.performer);
            field = std::move(text);
            return true;
        }
        if (command == "REM" || command == "SONGWRITER" || command == "CDTEXTFILE") {
            return true;
        }
        if (command == "CATALOG") {
            if (args != 1 || words[1].size() != 13 ||
                !std::all_of(words[1].begin(), words[1].end(), [](char c) { return c >= '0' && c <= '9'; })) {
                return Fail("CATALOG needs 13 digits");
            }
            if (!sheet.tracks.empty()) {
                return Fail("CATALOG must come before the first TRACK");
            }
            sheet.catalog = words[1];
            return true;
        }
        if (command == "FILE") {
            if (args != 2) {
                return Fail("FILE needs a name and a type");
            }
            const std::string type = Upper(words[2]);
            if (type != "BINARY") {
                return Fail("FILE type " + words[2] + " is not supported (only BINARY)");
            }
            if (words[1].empty()) {
                return Fail("FILE name is empty");
            }
            if (CueTrack* track = Current(); track != nullptr && !sawIndexInTrack) {
                return Fail(
                    "TRACK " + std::to_string(track->number) +
                    " has no INDEX 01 before the next FILE (a track split across files is not supported)");
            }
            sheet.files.push_back(words[1]);
            return true;
        }
        if (command == "TRACK") {
            return Track(words);
        }
        CueTrack* track = Current();
        if (command == "INDEX" || command == "PREGAP" || command == "POSTGAP" || command == "ISRC" ||
            command == "FLAGS") {
            if (track == nullptr) {
                return Fail(command + " outside a TRACK");
            }
        } else {
            return Fail("unknown command " + words[0]);
        }
        if (command == "INDEX") {
            return Index(*track, words);
        }
        if (command == "PREGAP" || command == "POSTGAP") {
            const auto length = args == 1 ? ParseMsf(words[1]) : std::nullopt;
            if (!length) {
                return Fail(command + " needs a length mm:ss:ff");
            }
            if (command == "PREGAP") {
                if (sawIndexInTrack) {
                    return Fail("PREGAP must come before the track's INDEX lines");
                }
                track->pregap = *length;
            } else {
                if (!sawIndexInTrack) {
                    return Fail("POSTGAP must come after the track's INDEX lines");
                }
                track->postgap = *length;
            }
            return true;
        }
        if (command == "ISRC") {
            if (args != 1 || !IsIsrc(words[1])) {
                return Fail("ISRC needs 12 characters: 5 letters or digits, then 7 digits");
            }
            track->isrc = words[1];
            return true;
        }
        // FLAGS
        BYTE control = track->mode == CueTrackMode::Audio ? 0 : kCdControlData;
        for (std::size_t i = 1; i < words.size(); ++i) {
            const std::string flag = Upper(words[i]);
            if (flag == "DCP") {
                control |= kCdControlCopyPermitted;
            } else if (flag == "PRE") {
                control |= kCdControlPreEmphasis;
            } else if (flag == "4CH") {
                control |= kCdControlFourChannel;
            } else if (flag != "SCMS") {
                return Fail("unknown flag " + words[i]);
            }
        }
        track->control = control;
        return true;
    }

    bool Track(const std::vector<std::string>& words) {
        if (words.size() != 3) {
            return Fail("TRACK needs a number and a mode");
        }
        if (sheet.files.empty()) {
            return Fail("TRACK before any FILE");
        }
        const auto number = ParseSmall(words[1], 99);
        if (!number || *number < 1) {
            return Fail("track number must be 1 to 99");
        }
        if (CueTrack* previous = Current()) {
            if (!sawIndexInTrack) {
                return Fail("TRACK " + std::to_string(previous->number) + " has no INDEX 01");
            }
            if (*number != previous->number + 1) {
                return Fail("track numbers must follow each other");
            }
        }
        const std::string mode = Upper(words[2]);
        CueTrack track;
        track.number = *number;
        track.file = static_cast<int>(sheet.files.size()) - 1;
        if (mode == "AUDIO") {
            track.mode = CueTrackMode::Audio;
        } else if (mode == "MODE1/2352") {
            track.mode = CueTrackMode::Mode1Raw;
            track.control = kCdControlData;
        } else if (mode == "MODE2/2352") {
            track.mode = CueTrackMode::Mode2Raw;
            track.control = kCdControlData;
        } else {
            return Fail("track mode " + words[2] + " is not supported (only AUDIO, MODE1/2352, MODE2/2352)");
        }
        sheet.tracks.push_back(std::move(track));
        sawIndexInTrack = false;
        return true;
    }

    bool Index(CueTrack& track, const std::vector<std::string>& words) {
        if (words.size() != 3) {
            return Fail("INDEX needs a number and a position mm:ss:ff");
        }
        const auto number = ParseSmall(words[1], 99);
        const auto position = ParseMsf(words[2]);
        if (!number || !position) {
            return Fail("INDEX needs a number 0 to 99 and a position mm:ss:ff");
        }
        if (track.file != static_cast<int>(sheet.files.size()) - 1) {
            // An index in a later FILE than its TRACK line would split a track across files.
            return Fail("a track's INDEX lines must be in the same FILE as its TRACK line");
        }
        if (!track.indexes.empty()) {
            const CueIndex& last = track.indexes.back();
            if (*number != last.number + 1) {
                return Fail("INDEX numbers must follow each other");
            }
            if (*position < last.fileSector) {
                return Fail("INDEX positions must not go backwards");
            }
        } else if (*number > 1) {
            return Fail("a track's first INDEX must be 00 or 01");
        }
        // Tracks within one file must not overlap: this track begins at or after the previous one's
        // last index.
        if (track.indexes.empty() && sheet.tracks.size() > 1) {
            const CueTrack& previous = sheet.tracks[sheet.tracks.size() - 2];
            if (previous.file == track.file && *position < previous.indexes.back().fileSector) {
                return Fail("track starts before the previous track's last INDEX");
            }
        }
        track.indexes.push_back({*number, *position});
        sawIndexInTrack = *number >= 1 || sawIndexInTrack;
        return true;
    }
};

} // namespace

bool ParseCueSheet(std::string_view text, CueSheet& sheet, CueError& error) {
    sheet = {};
    error = {};
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    Parser parser{sheet, error};
    std::vector<std::string> words;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
        ++parser.lineNo;
        if (line.find('\0') != std::string_view::npos) {
            return parser.Fail("line holds a NUL byte");
        }
        std::string problem;
        if (!Tokenize(line, words, problem)) {
            return parser.Fail(problem);
        }
        if (words.empty()) {
            continue;
        }
        if (!parser.Line(words)) {
            return false;
        }
    }
    ++parser.lineNo;
    if (sheet.tracks.empty()) {
        error = {0, "the sheet has no TRACK"};
        return false;
    }
    if (!parser.sawIndexInTrack) {
        error = {0, "TRACK " + std::to_string(sheet.tracks.back().number) + " has no INDEX 01"};
        return false;
    }
    return true;
}

bool LayOutDisc(const CueSheet& sheet, const std::vector<std::uint64_t>& fileBytes, DiscLayout& layout,
                CueError& error) {
    layout = {};
    error = {};
    if (fileBytes.size() != sheet.files.size()) {
        error.message = "file sizes do not match the sheet's FILE lines";
        return false;
    }
    layout.catalog = sheet.catalog;
    layout.title = sheet.title;
    layout.performer = sheet.performer;
    // The address limit keeps every sum below in range: no LBA may pass 99:59:74.
    const std::uint64_t kLimit = kCdMaxMsfFrames - kCdMsfOffset;
    std::vector<DWORD> fileSectors;
    for (std::size_t i = 0; i < fileBytes.size(); ++i) {
        if (fileBytes[i] % kCdSectorBytes != 0) {
            error.message = "file " + sheet.files[i] + " is " + std::to_string(fileBytes[i]) +
                            " bytes, not a whole number of 2352-byte sectors";
            return false;
        }
        if (fileBytes[i] / kCdSectorBytes > kLimit) {
            error.message = "file " + sheet.files[i] + " is longer than a disc can be";
            return false;
        }
        fileSectors.push_back(static_cast<DWORD>(fileBytes[i] / kCdSectorBytes));
    }

    std::uint64_t cursor = 0;
    auto addExtent = [&](DWORD count, int file, std::uint64_t sector) -> bool {
        if (count == 0) {
            return true;
        }
        if (cursor + count > kLimit) {
            error.message = "the disc would be longer than 99:59:74";
            return false;
        }
        layout.extents.push_back({static_cast<LONG>(cursor), count, file, sector * kCdSectorBytes});
        cursor += count;
        return true;
    };
    // Sectors of a file not covered by any track (before the first track's first index) still occupy
    // disc space, so the disc stays a byte-for-byte concatenation of its files plus the stated gaps.
    std::vector<DWORD> fileUsed(fileSectors.size(), 0);
    for (std::size_t t = 0; t < sheet.tracks.size(); ++t) {
        const CueTrack& track = sheet.tracks[t];
        const DWORD fileLength = fileSectors[static_cast<std::size_t>(track.file)];
        const DWORD first = track.indexes.front().fileSector;
        if (track.indexes.back().fileSector >= fileLength) {
            error.message = "TRACK " + std::to_string(track.number) + " has an INDEX beyond the end of " +
                            sheet.files[static_cast<std::size_t>(track.file)];
            return false;
        }
        DWORD& used = fileUsed[static_cast<std::size_t>(track.file)];
        if (first > used && !addExtent(first - used, track.file, used)) {
            return false;
        }
        used = std::max(used, first);
        const bool lastInFile = t + 1 == sheet.tracks.size() || sheet.tracks[t + 1].file != track.file;
        const DWORD end = lastInFile ? fileLength : sheet.tracks[t + 1].indexes.front().fileSector;

        DiscTrack disc;
        disc.number = track.number;
        disc.mode = track.mode;
        disc.control = track.control;
        disc.isrc = track.isrc;
        disc.title = track.title;
        disc.performer = track.performer;
        disc.pregapStart = static_cast<LONG>(cursor);
        if (!addExtent(track.pregap, -1, 0)) {
            return false;
        }
        const LONG dataStart = static_cast<LONG>(cursor);
        if (!addExtent(end - first, track.file, first)) {
            return false;
        }
        used = end;
        for (const CueIndex& index : track.indexes) {
            const LONG lba = dataStart + static_cast<LONG>(index.fileSector - first);
            disc.indexes.push_back({index.number, lba});
            if (index.number == 1) {
                disc.start = lba;
            }
        }
        if (track.pregap == 0) {
            disc.pregapStart = disc.indexes.front().lba;
        }
        if (!addExtent(track.postgap, -1, 0)) {
            return false;
        }
        layout.tracks.push_back(std::move(disc));
    }
    for (std::size_t i = 0; i < fileSectors.size(); ++i) {
        // A FILE line with no track of its own still occupies its place on the disc; FILE lines without
        // tracks after the last track add their sectors at the end.
        if (fileUsed[i] < fileSectors[i] &&
            std::none_of(sheet.tracks.begin(), sheet.tracks.end(),
                         [&](const CueTrack& track) { return track.file == static_cast<int>(i); })) {
            error.message = "file " + sheet.files[i] + " has no TRACK";
            return false;
        }
    }
    layout.leadOut = static_cast<LONG>(cursor);
    for (std::size_t t = 0; t < layout.tracks.size(); ++t) {
        const LONG next = t + 1 < layout.tracks.size() ? layout.tracks[t + 1].pregapStart : layout.leadOut;
        if (next <= layout.tracks[t].start) {
            error.message = "TRACK " + std::to_string(layout.tracks[t].number) + " has no sectors";
            return false;
        }
        layout.tracks[t].length = static_cast<DWORD>(next - layout.tracks[t].start);
    }
    return true;
}

bool LoadCueImage(const std::filesystem::path& cuePath, DiscLayout& layout, std::string& error) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(cuePath, ec);
    if (ec) {
        error = cuePath.string() + ": " + ec.message();
        return false;
    }
    if (size > kMaxSheetBytes) {
        error = cuePath.string() + ": too large to be a CUE sheet";
        return false;
    }
    std::ifstream in(cuePath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        error = cuePath.string() + ": cannot be read";
        return false;
    }
    CueSheet sheet;
    CueError cueError;
    if (!ParseCueSheet(text.str(), sheet, cueError)) {
        error = cuePath.string() + (cueError.line ? ":" + std::to_string(cueError.line) : std::string()) +
                ": " + cueError.message;
        return false;
    }
    std::vector<std::uint64_t> sizes;
    std::vector<std::filesystem::path> paths;
    for (const std::string& name : sheet.files) {
        std::filesystem::path path(name);
        if (path.is_relative()) {
            path = cuePath.parent_path() / path;
        }
        const auto bytes = std::filesystem::file_size(path, ec);
        if (ec) {
            error = cuePath.string() + ": FILE " + path.string() + ": " + ec.message();
            return false;
        }
        sizes.push_back(bytes);
        paths.push_back(path);
    }
    if (!LayOutDisc(sheet, sizes, layout, cueError)) {
        error = cuePath.string() + ": " + cueError.message;
        return false;
    }
    layout.files = std::move(paths);
    return true;
}

} // namespace platform
