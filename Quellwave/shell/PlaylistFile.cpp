#include "PlaylistFile.h"

#include "Settings.h"

#include "Platform/FileIo.h"
#include "Platform/Paths.h"
#include "Platform/Process.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kWriteBlock = 4096;

// Length of the well-formed UTF-8 sequence at the start of text and its code point; 0 when the first byte
// does not start one (overlong forms, surrogates and values above U+10FFFF are not well formed).
std::size_t DecodeUtf8(std::string_view text, char32_t* codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    }
    std::size_t length;
    char32_t value;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    *codePoint = value;
    return length;
}

void AppendUtf8(char32_t value, std::string& out) {
    if (value < 0x80) {
        out += static_cast<char>(value);
    } else if (value < 0x800) {
        out += static_cast<char>(0xC0 | (value >> 6));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
        out += static_cast<char>(0xE0 | (value >> 12));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (value >> 18));
        out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    }
}

void AppendUnit(char16_t unit, std::string& out) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

// The folder made when it is missing; an existing folder is fine. False when the path is not a folder
// afterwards.
bool MakeFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directory(folder, error);
    return fs::is_directory(folder, error);
}

} // namespace

std::u16string PathToFileText(std::string_view path) {
    std::u16string text;
    text.reserve(path.size());
    while (!path.empty()) {
        char32_t value = 0;
        std::size_t length = DecodeUtf8(path, &value);
        if (length == 0) {
            // A byte that is not part of a well-formed sequence is kept as an unpaired low surrogate.
            text += static_cast<char16_t>(0xDC00 | static_cast<unsigned char>(path[0]));
            path.remove_prefix(1);
            continue;
        }
        if (value >= 0x10000) {
            value -= 0x10000;
            text += static_cast<char16_t>(0xD800 | (value >> 10));
            text += static_cast<char16_t>(0xDC00 | (value & 0x3FF));
        } else {
            text += static_cast<char16_t>(value);
        }
        path.remove_prefix(length);
    }
    return text;
}

std::string PathFromFileText(std::u16string_view text) {
    std::string path;
    path.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            AppendUtf8(0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00), path);
            ++i;
        } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
            path += static_cast<char>(unit & 0xFF);
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(0xFFFD, path);
        } else {
            AppendUtf8(unit, path);
        }
    }
    return path;
}

std::string EncodePlaylist(const TrackList& list) {
    std::string bytes;
    // A leading byte-order mark is read as one, so a first path that begins with that character gets one
    // in front of it to keep it.
    if (!list.empty() && list.front().starts_with("\xEF\xBB\xBF")) {
        AppendUnit(u'\xFEFF', bytes);
    }
    for (const std::string& path : list) {
        if (path.find('\n') != std::string::npos) {
            continue;
        }
        for (char16_t unit : PathToFileText(path)) {
            AppendUnit(unit, bytes);
        }
        AppendUnit(u'\r', bytes);
        AppendUnit(u'\n', bytes);
    }
    return bytes;
}

TrackList DecodePlaylist(std::string_view bytes) {
    TrackList list;
    std::u16string line;
    bool open = false; // a line has begun and not yet ended
    // Editors that save UTF-16 put a byte-order mark in front; it is no part of the first path.
    const std::size_t start = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                                      static_cast<unsigned char>(bytes[1]) == 0xFE
                                  ? 2
                                  : 0;
    for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                    static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (unit == u'\n') {
            if (!line.empty() && line.back() == u'\r') {
                line.pop_back();
            }
            list.push_back(PathFromFileText(line));
            line.clear();
            open = false;
        } else {
            line += unit;
            open = true;
        }
    }
    if (open) {
        list.push_back(PathFromFileText(line));
    }
    return list;
}

bool WritePlaylistFile(const fs::path& file, const TrackList& list,
                       const std::function<void(std::size_t)>& afterEachBlock) {
    const std::string bytes = EncodePlaylist(list);
    unsigned mode = 0600;
    std::error_code statusError;
    const fs::file_status old = fs::status(file, statusError);
    if (!statusError && fs::exists(old)) {
        mode = static_cast<unsigned>(old.permissions() & fs::perms::mask);
    }
    // The new contents go to a file without a name first, so a write that is interrupted (a kill, a crash,
    // a full disk) leaves no half-written file behind; only the finished file gets a name, which the rename
    // then puts in place of the old one. Where the file system cannot make such files, a named temporary
    // file beside the target is written instead and removed on failure.
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    std::string temp = file.string() + ".XXXXXX";
    int fd = platform::CreateUnnamedFile(folder);
    const bool unnamed = fd >= 0;
    if (!unnamed) {
        fd = platform::CreateUniqueFile(temp.data());
    }
    if (fd < 0) {
        return false;
    }
    bool written = true;
    for (std::size_t offset = 0; written && offset < bytes.size(); offset += kWriteBlock) {
        const std::size_t size = std::min(kWriteBlock, bytes.size() - offset);
        written = platform::WriteFully(fd, bytes.data() + offset, size);
        if (written && afterEachBlock) {
            afterEachBlock(offset + size);
        }
    }
    written = written && platform::SetFilePermissions(fd, mode) && platform::SyncFile(fd);
    bool named = !unnamed;
    if (written && unnamed) {
        // A name of its own for the finished file, then the rename over the old one.
        for (int attempt = 0; attempt < 100 && !named; ++attempt) {
            temp =
                file.string() + "." + std::to_string(platform::ProcessId()) + "-" + std::to_string(attempt);
            named = platform::GiveName(fd, temp);
            if (!named && errno != EEXIST) {
                break;
            }
        }
    }
    const bool closed = platform::CloseFile(fd);
    if (!written || !named || !closed || std::rename(temp.c_str(), file.c_str()) != 0) {
        if (named) {
            platform::RemoveFile(temp.c_str());
        }
        return false;
    }
    // The rename itself must reach the disk too, or a power loss could bring back the old name.
    platform::SyncFolder(file.parent_path());
    return true;
}

bool ReadPlaylistFile(const fs::path& file, TrackList* list) {
    list->clear();
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        return false;
    }
    *list = DecodePlaylist(bytes);
    return true;
}

fs::path PlaylistFolder() {
    const fs::path appData = platform::AppDataDir();
    if (appData.empty()) {
        return {};
    }
    return appData / kCompanyName / kProductName;
}

bool WritePlaylist(const TrackList& list) {
    const fs::path folder = PlaylistFolder();
    if (folder.empty()) {
        return false;
    }
    // The data folder itself may not exist yet on a fresh account; the company and product folders are
    // made below it.
    std::error_code error;
    fs::create_directories(folder.parent_path().parent_path(), error);
    if (!MakeFolder(folder.parent_path()) || !MakeFolder(folder)) {
        return false;
    }
    return WritePlaylistFile(folder / kPlaylistFileName, list);
}

bool ReadPlaylist(TrackList* list) {
    list->clear();
    const fs::path folder = PlaylistFolder();
    if (folder.empty()) {
        return false;
    }
    return ReadPlaylistFile(folder / kPlaylistFileName, list);
}
