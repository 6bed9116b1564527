// PlayList.txt: its exact bytes, the round trip of awkward paths, damaged files, and a writer that dies.
#include "shell/PlaylistFile.h"
#include "TestKit/Bytes.h"
#include "TestKit/Environment.h"
#include "TestKit/Scratch.h"

#include "Platform/Process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

// UTF-16LE bytes of text given as UTF-16 code units.
std::string Le(std::u16string_view text) {
    const testkit::Bytes bytes = testkit::Utf16Le(text);
    return {bytes.begin(), bytes.end()};
}

TEST(PlaylistFile, BytesAreUtf16LittleEndianLinesWithoutMark) {
    EXPECT_EQ(EncodePlaylist({}), "");
    EXPECT_EQ(EncodePlaylist({"/m/a.wav", "/m/é.wav"}), Le(u"/m/a.wav\r\n/m/\u00e9.wav\r\n"));
    // A character beyond the basic plane takes a surrogate pair.
    EXPECT_EQ(EncodePlaylist({"\U0001F3B5"}), Le(u"\xD83C\xDFB5\r\n"));
}

TEST(PlaylistFile, AwkwardPathsSurviveTheRoundTrip) {
    const TrackList list = {
        "/home/ana/Music/Träumerei.wav ",     // trailing space
        "/home/ana/Music/  leading and  two", // inner and leading spaces
        "",                                   // an empty entry stays an entry
        "/музыка/песня.WAV",
        "/音楽/曲.wav",
        "/m/\U0001F3B5 note.wav",
        "/m/latin1-\xE9t\xE9.wav", // a file name in Latin-1 bytes: not UTF-8
        "/m/cut\xE2\x82.wav",      // a UTF-8 sequence cut short
        "/m/a\rb.wav",             // a carriage return inside a name
        "/m/ends-with-cr\r",
    };
    EXPECT_EQ(DecodePlaylist(EncodePlaylist(list)), list);

    testkit::ScratchFolder folder;
    const fs::path file = folder / "PlayList.txt";
    ASSERT_TRUE(WritePlaylistFile(file, list));
    TrackList read = {"stale entry"};
    ASSERT_TRUE(ReadPlaylistFile(file, &read));
    EXPECT_EQ(read, list);
}

TEST(PlaylistFile, PathWithLineFeedIsLeftOutRatherThanSplit) {
    EXPECT_EQ(DecodePlaylist(EncodePlaylist({"/m/a.wav", "/m/two\nlines.wav", "/m/b.wav"})),
              (TrackList{"/m/a.wav", "/m/b.wav"}));
}

TEST(PlaylistFile, ReadingTakesWhatOtherWritersLeave) {
    struct Case {
        const char* what;
        std::string bytes;
        TrackList expected;
    };
    const std::vector<Case> cases = {
        {"empty file", "", {}},
        {"line feeds only", Le(u"a\nb\n"), {"a", "b"}},
        {"last line without end", Le(u"a\r\nb"), {"a", "b"}},
        {"empty lines", Le(u"\r\n\r\na\r\n"), {"", "", "a"}},
        {"only the carriage return before the feed goes", Le(u"a\r\r\n"), {"a\r"}},
        {"odd last byte ignored", Le(u"a\r\n") + "x", {"a"}},
        {"unpaired high surrogate", Le(u"a\xD800z\r\n"), {"a\xEF\xBF\xBDz"}},
        {"unpaired low surrogate outside the byte range", Le(u"\xDC41\r\n"), {"\xEF\xBF\xBD"}},
        {"byte escapes", Le(u"\xDCE9t\xDCE9\r\n"), {"\xE9t\xE9"}},
        {"a leading byte-order mark is no part of the first path",
         Le(u"\xFEFF"
            u"a\r\nb\r\n"),
         {"a", "b"}},
        {"a byte-order mark later on is an ordinary character",
         Le(u"a\r\n\xFEFF"
            u"b\r\n"),
         {"a", "\xEF\xBB\xBF"
               "b"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecodePlaylist(c.bytes), c.expected) << c.what;
    }
}

TEST(PlaylistFile, FailedWriteKeepsTheOldFile) {
    testkit::ScratchFolder folder;
    const fs::path file = folder / "PlayList.txt";
    ASSERT_TRUE(WritePlaylistFile(file, {"/m/old.wav"}));
    // The target is now a folder that cannot be replaced by a file.
    EXPECT_FALSE(WritePlaylistFile(folder / "nowhere" / "PlayList.txt", {"/m/new.wav"}));
    fs::create_directory(folder / "taken");
    fs::create_directory(folder / "taken" / "PlayList.txt");
    fs::create_directory(folder / "taken" / "PlayList.txt" / "inside");
    EXPECT_FALSE(WritePlaylistFile(folder / "taken" / "PlayList.txt", {"/m/new.wav"}));
    TrackList read;
    ASSERT_TRUE(ReadPlaylistFile(file, &read));
    EXPECT_EQ(read, TrackList{"/m/old.wav"});
    // No temporary file is left behind by the failures.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "taken"), fs::directory_iterator()), 1);
}

TEST(PlaylistFile, KillDuringTheWriteLeavesTheOldFileIntact) {
    testkit::ScratchFolder folder;
    const fs::path file = folder / "PlayList.txt";
    const TrackList old = {"/m/old one.wav", "/m/old two.wav"};
    ASSERT_TRUE(WritePlaylistFile(file, old));
    const std::string oldBytes = testkit::ReadText(file);

    TrackList big;
    for (int i = 0; i < 2000; ++i) {
        big.push_back("/m/a long folder name to fill the blocks/track " + std::to_string(i) + ".wav");
    }
    platform::ChildProcess child = platform::ChildProcess::Fork([&] {
        // Killed for real once the third block is on disk: the file is neither finished nor renamed.
        WritePlaylistFile(file, big, [](std::size_t written) {
            if (written >= 3 * 4096) {
                raise(SIGKILL);
            }
        });
        return 0;
    });
    ASSERT_TRUE(child.Started());
    const platform::ExitStatus ended = child.Wait();
    ASSERT_TRUE(!ended.exited && ended.signal == SIGKILL) << "the writer was not killed midway";

    EXPECT_EQ(testkit::ReadText(file), oldBytes);
    TrackList read;
    ASSERT_TRUE(ReadPlaylistFile(file, &read));
    EXPECT_EQ(read, old);
    // Nothing of the dead writer is left beside it, and the next write still succeeds.
    std::vector<fs::path> left;
    for (const auto& entry : fs::directory_iterator(folder.Path())) {
        if (entry.path() != file)
            left.push_back(entry.path().filename());
    }
    EXPECT_TRUE(left.empty()) << "left behind: " << (left.empty() ? "" : left.front().string());
    ASSERT_TRUE(WritePlaylistFile(file, big));
    ASSERT_TRUE(ReadPlaylistFile(file, &read));
    EXPECT_EQ(read, big);
}

// PlayList.txt in the data folder: where it lives and what happens without it.
class PlaylistLocationTest : public ::testing::Test {
protected:
    testkit::ScratchFolder data_;
    testkit::EnvironmentGuard dataHome_{"XDG_DATA_HOME", (data_ / "share").string()};
};

TEST_F(PlaylistLocationTest, WriteMakesTheFoldersAndReadFindsTheList) {
    TrackList list = {"never cleared"};
    EXPECT_FALSE(ReadPlaylist(&list)) << "no file yet";
    EXPECT_TRUE(list.empty());

    ASSERT_TRUE(WritePlaylist({"/m/b.wav", "/m/a.wav"}));
    const fs::path file = data_ / "share/Orva Corporation/Quellwave/PlayList.txt";
    EXPECT_EQ(testkit::ReadText(file), Le(u"/m/b.wav\r\n/m/a.wav\r\n"));
    ASSERT_TRUE(ReadPlaylist(&list));
    EXPECT_EQ(list, (TrackList{"/m/b.wav", "/m/a.wav"}));

    ASSERT_TRUE(WritePlaylist({}));
    EXPECT_EQ(fs::file_size(file), 0u);
}

TEST_F(PlaylistLocationTest, NoUsableFolderMeansNoFile) {
    // The company folder's name is taken by a file: nothing can be written, and reading finds nothing.
    data_.Put("share/Orva Corporation", "not a folder");
    EXPECT_FALSE(WritePlaylist({"/m/a.wav"}));
    TrackList list = {"x"};
    EXPECT_FALSE(ReadPlaylist(&list));
    EXPECT_TRUE(list.empty());
}

} // namespace
