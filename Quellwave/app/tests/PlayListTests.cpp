// The play list as the listener meets it in the real window: what a start in file mode does to PlayList.txt
// (entries of files that are not there now stay; a byte-order mark is no part of the first path; nothing is
// rewritten), what rewrites it (a drop, the file selection), and files and folders dropped on the panel.
#include "AppTestSupport.h"
#include "TestKit/Bytes.h"

#include "shell/PlaylistFile.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <iterator>

namespace apptest {
namespace {

using namespace app;

class PlayListTest : public PlayerFixture {
protected:
    std::filesystem::path ListFile() const { return PlaylistFolder() / kPlaylistFileName; }
    void StartWith(const std::string& bytes) {
        std::filesystem::create_directories(PlaylistFolder());
        ASSERT_TRUE(testkit::WriteText(ListFile(), bytes));
        SetDword(platform::HKEY_CURRENT_USER, "Software\\Orva Corporation\\Quellwave\\Settings",
                 "DefaultMode", 1);
        StartWindow();
    }
    // Drops the items on the panel as a file manager would: enter, then drop.
    bool Drop(const std::vector<std::filesystem::path>& items) {
        QMimeData data;
        QList<QUrl> urls;
        for (const auto& item : items)
            urls << QUrl::fromLocalFile(QString::fromStdString(item.string()));
        data.setUrls(urls);
        const QPoint at(512, 400);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&Panel(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&Panel(), &drop);
        Settle(Panel());
        return drop.isAccepted();
    }
};

TEST_F(PlayListTest, AStartInFileModeKeepsEveryEntryAndRewritesNothing) {
    const std::string present = WriteWav(dir_ / "present.wav", 1.0);
    const std::string later = WriteWav(dir_ / "later.wav", 1.0);
    const std::string absent = (dir_ / "usb" / "absent.wav").string(); // a disk not mounted yet
    struct Case {
        const char* what;
        std::string bytes;
        TrackList plays;
    };
    const std::string plain = EncodePlaylist({absent, present, later});
    const std::string bom = std::string("\xFF\xFE", 2) + EncodePlaylist({present, later});
    for (const Case& c : {Case{"an entry whose file is absent", plain, {present, later}},
                          Case{"a byte-order mark before the first entry", bom, {present, later}}}) {
        SCOPED_TRACE(c.what);
        StartWith(c.bytes);
        EXPECT_EQ(Panel().Tracks(), c.plays);
        EXPECT_EQ(Panel().TrackCount(), c.plays.size());
        EXPECT_EQ(testkit::ReadText(ListFile()), c.bytes) << "PlayList.txt was rewritten at the start";
        // A switch to disc mode and back rewrites nothing either.
        Command(kCmdToDiscMode);
        Command(kCmdToFileMode);
        Settle(Panel());
        EXPECT_EQ(testkit::ReadText(ListFile()), c.bytes);
        window_.reset();
    }
}

TEST_F(PlayListTest, ADropOfFilesAndFoldersBecomesTheListAndIsKept) {
    const auto folder = dir_ / "album";
    std::filesystem::create_directories(folder / "bonus");
    const std::string b = WriteWav(folder / "B.WAV", 1.0);
    const std::string a = WriteWav(folder / "a.wav", 1.0);
    ASSERT_TRUE(testkit::WriteText(folder / "notes.txt", "liner notes"));
    WriteWav(folder / "bonus" / "hidden.wav", 1.0);
    const std::string single = WriteWav(dir_ / "single.wav", 1.0);
    StartFiles({single});
    ASSERT_EQ(Panel().Tracks(), TrackList{single});

    // A folder gives its playable files, sorted, without its subfolders.
    ASSERT_TRUE(Drop({folder})) << "the panel took no drop";
    EXPECT_EQ(Panel().Tracks(), (TrackList{a, b}));
    EXPECT_EQ(Panel().TrackCount(), 2u);
    TrackList stored;
    ASSERT_TRUE(ReadPlaylist(&stored));
    EXPECT_EQ(stored, (TrackList{a, b})) << "the listener's new list is kept";

    // Files and a folder together; playback stops for the new list.
    Key(Qt::Key_F6);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    ASSERT_TRUE(Drop({single, folder}));
    EXPECT_FALSE(Playing());
    EXPECT_EQ(Panel().Tracks(), (TrackList{a, b, single}));

    // Something that is no file (a web address) is not taken.
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.invalid/a.wav"))});
    QDragEnterEvent enter(QPoint(512, 400), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Panel(), &enter);
    EXPECT_FALSE(enter.isAccepted());
}

} // namespace
} // namespace apptest
