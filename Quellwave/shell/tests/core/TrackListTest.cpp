// The track list: dropped files and folders, the sort, the 255 limit and what the listener is told.
#include "shell/TrackList.h"
#include "TestKit/Bytes.h"
#include "TestKit/Environment.h"
#include "TestKit/Scratch.h"
#include "shell/PlaylistFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A window that records what it was asked; its engine accepts the paths that accept() takes.
class RecordingWindow final : public TrackListWindow {
public:
    TrackList EnterFileMode(const TrackList& list) override {
        opened.push_back(list);
        events.push_back("enter");
        TrackList accepted;
        for (const std::string& path : list) {
            if (accept(path)) {
                accepted.push_back(path);
            }
        }
        return accepted;
    }
    void ShowMessage(UINT stringId) override {
        messages.push_back(stringId);
        events.push_back("message " + std::to_string(stringId));
    }
    void Stop() override { events.push_back("stop"); }
    void SetWaitCursor(bool waiting) override { events.push_back(waiting ? "wait" : "end wait"); }
    void Repaint() override { events.push_back("repaint"); }

    std::function<bool(const std::string&)> accept = [](const std::string&) { return true; };
    std::vector<TrackList> opened;
    std::vector<UINT> messages;
    std::vector<std::string> events;
};

class TrackListTest : public ::testing::Test {
protected:
    std::string In(const std::string& name) const { return (music_ / name).string(); }

    testkit::ScratchFolder data_;
    testkit::EnvironmentGuard dataHome_{"XDG_DATA_HOME", (data_ / "share").string()};
    testkit::ScratchFolder music_;
    RecordingWindow window_;
    TrackList list_ = {"/previous/list.wav"};
};

TEST_F(TrackListTest, DroppedFolderGivesItsWavFilesSortedWithoutSubfolders) {
    for (const char* name : {"B.WAV", "c.txt", "a.wav", "sub/inner.wav", "d.wav.txt", "noext", "x.Wav"}) {
        music_.Put(name);
    }
    fs::create_directory(music_ / "folder.wav"); // a folder is never a track, whatever its name
    list_ = DropFiles({music_.Path().string()}, window_, false);
    EXPECT_FALSE(list_.empty());

    const TrackList expected = {In("a.wav"), In("B.WAV"), In("x.Wav")};
    EXPECT_EQ(list_, expected);
    ASSERT_EQ(window_.opened.size(), 1u);
    EXPECT_EQ(window_.opened[0], expected);
    EXPECT_EQ(window_.events, (std::vector<std::string>{"stop", "wait", "enter", "repaint", "end wait"}));
}

TEST_F(TrackListTest, DroppedFilesAreTakenWhateverTheirNames) {
    const std::string text = music_.Put("notes.txt").string();
    const std::string wav = music_.Put("z.wav").string();
    // The engine leaves out what it cannot play; the listener hears about it once.
    window_.accept = [](const std::string& path) { return IsPlayableName(path, false); };
    list_ = DropFiles({wav, text, "/gone/missing.wav"}, window_, false);
    EXPECT_FALSE(list_.empty());
    EXPECT_EQ(window_.opened.at(0), (TrackList{"/gone/missing.wav", text, wav}));
    EXPECT_EQ(list_, (TrackList{"/gone/missing.wav", wav}));
    EXPECT_EQ(window_.messages, std::vector<UINT>{kStringSomeFilesRefused});
}

TEST_F(TrackListTest, ThreeHundredFilesKeepTheFirst255InSortedOrder) {
    std::vector<std::string> items;
    for (int i = 299; i >= 0; --i) {
        char name[32];
        std::snprintf(name, sizeof name, "/m/track %03d.wav", i);
        items.push_back(name);
    }
    list_ = DropFiles(items, window_, false);
    EXPECT_FALSE(list_.empty());
    EXPECT_EQ(window_.messages, std::vector<UINT>{kStringTooManyFiles});
    ASSERT_EQ(list_.size(), kMaxTracks);
    EXPECT_EQ(list_.front(), "/m/track 000.wav");
    EXPECT_EQ(list_.back(), "/m/track 254.wav");
    EXPECT_EQ(window_.opened.at(0), list_);
}

TEST_F(TrackListTest, LimitIs255) {
    for (std::size_t size : {kMaxTracks - 1, kMaxTracks, kMaxTracks + 1}) {
        RecordingWindow window;
        TrackList list;
        for (std::size_t i = 0; i < size; ++i) {
            list.push_back("/m/" + std::to_string(1000 + i) + ".wav");
        }
        list = LoadTrackList(list, window, false);
        EXPECT_FALSE(list.empty());
        EXPECT_EQ(window.messages.size(), size > kMaxTracks ? 1u : 0u) << size;
        EXPECT_EQ(list.size(), std::min(size, kMaxTracks));
        EXPECT_EQ(list.back(), "/m/" + std::to_string(1000 + list.size() - 1) + ".wav");
    }
}

TEST_F(TrackListTest, OnlyNonWavFilesOpenNothingAndSayNothing) {
    ASSERT_TRUE(WritePlaylist({"/kept/old.wav"}));
    const std::string text = music_.Put("readme.txt").string();
    list_ = DropFiles({text, "/m/cover.jpg"}, window_, false);
    EXPECT_FALSE(list_.empty());
    EXPECT_TRUE(window_.opened.empty());
    EXPECT_TRUE(window_.messages.empty());
    TrackList stored;
    ASSERT_TRUE(ReadPlaylist(&stored));
    EXPECT_EQ(stored, TrackList{"/kept/old.wav"});

    // An empty drop (an empty folder) leaves an empty list and no message either.
    fs::create_directory(music_ / "empty");
    list_ = DropFiles({(music_ / "empty").string()}, window_, false);
    EXPECT_TRUE(list_.empty());
    EXPECT_TRUE(list_.empty());
    EXPECT_TRUE(window_.messages.empty());
}

TEST_F(TrackListTest, AllFilesRefusedEmptiesThePlaylistFile) {
    ASSERT_TRUE(WritePlaylist({"/kept/old.wav"}));
    window_.accept = [](const std::string&) { return false; };
    TrackList list = {"/m/broken.wav", "/m/other.wave"};
    list = LoadTrackList(list, window_, false);
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(window_.messages, std::vector<UINT>{kStringAllFilesRefused});
    EXPECT_EQ(testkit::ReadText(PlaylistFolder() / kPlaylistFileName), "");
}

TEST_F(TrackListTest, DsdFilesJoinTheListOnlyInRfMode) {
    for (const char* name : {"a.dsf", "b.DFF", "c.wav", "d.dsd"}) {
        music_.Put(name);
    }
    struct Case {
        bool rfMode;
        TrackList expected;
    };
    for (const Case& c : {Case{false, {In("c.wav")}}, Case{true, {In("a.dsf"), In("b.DFF"), In("c.wav")}}}) {
        RecordingWindow window;
        TrackList list;
        list = DropFiles({music_.Path().string()}, window, c.rfMode);
        EXPECT_FALSE(list.empty());
        EXPECT_EQ(list, c.expected) << "rfMode " << c.rfMode;
    }
    // A dropped DSD file alone opens the engine only in RF mode.
    for (bool rfMode : {false, true}) {
        RecordingWindow window;
        TrackList list;
        DropFiles({In("a.dsf")}, window, rfMode);
        EXPECT_EQ(window.opened.size(), rfMode ? 1u : 0u) << "rfMode " << rfMode;
    }
}

TEST(TrackListNames, WhichNamesCount) {
    struct Case {
        const char* path;
        bool listed;   // a folder contributes it
        bool playable; // the list is handed to the engine
        bool listedRf; // the same with RF mode
        bool playableRf;
    };
    const Case cases[] = {
        {"/m/a.wav", true, true, true, true},
        {"/m/a.WaV", true, true, true, true},
        {"/m/a.wave", false, true, false, true},
        {"/m/awav", false, true, false, true}, // the engine's test looks at the last letters only
        {"/m/a.dsf", false, false, true, true},
        {"/m/a.DFF", false, false, true, true},
        {"/m/a.wav ", false, false, false, false},
        {"/m/a.mp3", false, false, false, false},
        {"wav", false, true, false, true},
        {"", false, false, false, false},
        // The other PCM files play whatever the RF mode.
        {"/m/a.flac", true, true, true, true},
        {"/m/B.FLAC", true, true, true, true},
        {"/m/c.Aif", true, true, true, true},
        {"/m/d.aiff", true, true, true, true},
        {"/m/e.AIFC", true, true, true, true},
        {"/m/f.caf", true, true, true, true},
        {"/m/g.w64", true, true, true, true},
        {"/m/h.rf64", true, true, true, true},
        {"/m/aflac", false, true, false, true}, // as for "awav": the hand-over test looks at the letters only
        {"flac", false, true, false, true},
        {"/m/a.flac.txt", false, false, false, false},
        {"/m/a.ogg", false, false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsListedFileName(c.path, false), c.listed) << c.path;
        EXPECT_EQ(IsPlayableName(c.path, false), c.playable) << c.path;
        EXPECT_EQ(IsListedFileName(c.path, true), c.listedRf) << c.path;
        EXPECT_EQ(IsPlayableName(c.path, true), c.playableRf) << c.path;
    }
}

TEST(TrackListSort, CaseIsIgnoredAndEqualPathsKeepTheirOrder) {
    TrackList list = {"/m/b.wav",   "/m/A.wav",    "/m/B.WAV",      "/m/a.wav",
                      "/m/_x.wav",  "/m/Zeta.wav", "/m/Émile.wav",  "/m/émile.WAV",
                      "/m/ábc.wav", "/m/ÁBD.wav",  "/m/Яблоко.wav", "/m/арбуз.wav"};
    SortTrackList(&list);
    // Letters fold to lower case, so '_' (0x5F) sorts before them; equal keys keep the order given.
    const TrackList expected = {"/m/_x.wav",    "/m/A.wav",     "/m/a.wav",     "/m/b.wav",
                                "/m/B.WAV",     "/m/Zeta.wav",  "/m/ábc.wav",   "/m/ÁBD.wav",
                                "/m/Émile.wav", "/m/émile.WAV", "/m/арбуз.wav", "/m/Яблоко.wav"};
    EXPECT_EQ(list, expected);

    // Many paths that differ only in case: each keeps its place among its equals.
    TrackList many;
    for (int i = 0; i < 200; ++i) {
        std::string name = i % 3 == 0 ? "/m/abd" : "/m/abc";
        for (int bit = 0; bit < 3; ++bit) {
            if ((i * 7 >> bit) & 1) {
                name[3 + bit] = static_cast<char>(name[3 + bit] - 'a' + 'A');
            }
        }
        many.push_back(name);
    }
    TrackList stable;
    for (const char* key : {"/m/abc", "/m/abd"}) {
        for (const std::string& path : many) {
            if (path.size() == 6 && (path[5] | 0x20) == key[5]) {
                stable.push_back(path);
            }
        }
    }
    SortTrackList(&many);
    EXPECT_EQ(many, stable);
}

} // namespace
