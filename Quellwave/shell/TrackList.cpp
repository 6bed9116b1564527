#include "TrackList.h"

#include "PlaylistFile.h"

#include "Platform/Text.h"

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Lower-case folding of one UTF-16 code unit, for the letters whose case pairs are one code unit apart by
// a fixed offset.
char16_t FoldUnit(char16_t c) noexcept {
    if ((c >= u'A' && c <= u'Z') || (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) ||
        (c >= 0x0391 && c <= 0x03A9 && c != 0x03A2) || (c >= 0x0410 && c <= 0x042F)) {
        return static_cast<char16_t>(c + 0x20);
    }
    if (c >= 0x0400 && c <= 0x040F) {
        return static_cast<char16_t>(c + 0x50);
    }
    return c;
}

std::u16string SortKey(std::string_view path) {
    std::u16string key = platform::Utf8ToUtf16(path);
    std::transform(key.begin(), key.end(), key.begin(), FoldUnit);
    return key;
}

} // namespace

namespace {

// The PCM files beside WAV that the engine decodes and resamples, by their extensions without the dot.
constexpr std::string_view kPcmFileExtensions[] = {"flac", "aif", "aiff", "aifc", "caf", "w64", "rf64"};

bool EndsWithPcmExtension(std::string_view path, bool withDot) {
    for (const std::string_view extension : kPcmFileExtensions) {
        if (platform::EndsWithAsciiNoCase(path, extension) &&
            (!withDot || (path.size() > extension.size() && path[path.size() - extension.size() - 1] == '.')))
            return true;
    }
    return false;
}

} // namespace

bool IsListedFileName(std::string_view path, bool rfMode) {
    return platform::EndsWithAsciiNoCase(path, ".wav") || EndsWithPcmExtension(path, true) ||
           (rfMode &&
            (platform::EndsWithAsciiNoCase(path, ".dsf") || platform::EndsWithAsciiNoCase(path, ".dff")));
}

bool IsPlayableName(std::string_view path, bool rfMode) {
    return platform::EndsWithAsciiNoCase(path, "wav") || platform::EndsWithAsciiNoCase(path, "wave") ||
           EndsWithPcmExtension(path, false) ||
           (rfMode &&
            (platform::EndsWithAsciiNoCase(path, "dsf") || platform::EndsWithAsciiNoCase(path, "dff")));
}

void AddFolder(const std::string& folder, bool includeSubfolders, TrackList* list, bool rfMode) {
    std::error_code error;
    fs::directory_iterator it(fs::path(folder), error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const fs::directory_entry& entry = *it;
        std::error_code typeError;
        if (entry.is_directory(typeError)) {
            // A linked folder is not entered: a link back up the tree would never end.
            if (includeSubfolders && !entry.is_symlink(typeError)) {
                AddFolder(entry.path().string(), true, list, rfMode);
            }
            continue;
        }
        std::string path = entry.path().string();
        if (IsListedFileName(path, rfMode)) {
            list->push_back(std::move(path));
        }
    }
}

bool PathLessNoCase(std::string_view a, std::string_view b) {
    return SortKey(a) < SortKey(b);
}

void SortTrackList(TrackList* list) {
    // A stable sort on folded keys orders exactly as repeated neighbour swaps would, without their
    // quadratic time on a folder of thousands of files.
    std::vector<std::u16string> keys;
    keys.reserve(list->size());
    for (const std::string& path : *list) {
        keys.push_back(SortKey(path));
    }
    std::vector<std::size_t> order(list->size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t x, std::size_t y) { return keys[x] < keys[y]; });
    TrackList sorted;
    sorted.reserve(list->size());
    for (std::size_t index : order) {
        sorted.push_back(std::move((*list)[index]));
    }
    *list = std::move(sorted);
}

TrackList LoadTrackList(TrackList list, TrackListWindow& window, bool rfMode) {
    SortTrackList(&list);
    if (list.size() > kMaxTracks) {
        window.ShowMessage(kStringTooManyFiles);
        list.resize(kMaxTracks);
    }
    const bool playable = std::any_of(list.begin(), list.end(),
                                      [&](const std::string& path) { return IsPlayableName(path, rfMode); });
    const std::size_t count = list.size();
    if (playable) {
        list = window.EnterFileMode(list);
    }
    if (!list.empty()) {
        if (list.size() != count) {
            window.ShowMessage(kStringSomeFilesRefused);
        }
        window.Repaint();
        return list;
    }
    if (playable) {
        window.ShowMessage(kStringAllFilesRefused);
        WritePlaylist(list);
    }
    window.Repaint();
    return list;
}

TrackList DropFiles(const std::vector<std::string>& items, TrackListWindow& window, bool rfMode) {
    window.Stop();
    TrackList list;
    window.SetWaitCursor(true);
    for (const std::string& item : items) {
        std::error_code error;
        if (fs::is_directory(fs::path(item), error)) {
            AddFolder(item, false, &list, rfMode);
        } else {
            list.push_back(item);
        }
    }
    list = LoadTrackList(std::move(list), window, rfMode);
    window.SetWaitCursor(false);
    return list;
}
