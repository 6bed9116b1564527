// What is playing, through the real panel: the title line and the album below it for a tagged file, an
// untagged one and a disc's track (with and without the disc's own text), the ellipsis of a long title,
// the cover beside the files, the panel with the titles off exactly as it is without them, and the play
// list card driven by its keys.
#include "AppTestSupport.h"
#include "TestKit/Bytes.h"
#include "TestKit/DiscImage.h"
#include "TestKit/PcmFiles.h"

#include "app/PlayListCard.h"
#include "app/PlayerMessages.h"
#include "ui/ControlNotify.h"

#include <QFontMetrics>
#include <QImage>

namespace apptest {
namespace {

using namespace app;

constexpr char kSettingsKey[] = "Software\\Orva Corporation\\Quellwave\\Settings";

class NowPlayingTest : public PlayerFixture {
protected:
    // A picture of one colour, as a listener's folder.jpg or cover.png is.
    void WritePicture(const std::filesystem::path& path, QColor colour) {
        QImage picture(300, 300, QImage::Format_RGB32);
        picture.fill(colour);
        ASSERT_TRUE(picture.save(QString::fromStdString(path.string())));
    }
    void PlayAndPause() {
        Key(Qt::Key_F6);
        ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
        Key(Qt::Key_F6);
        ASSERT_TRUE(Pump(Panel(), [&] { return !Playing(); }));
    }
    QImage Render() {
        // The fade in, done, so that every rendering shows the panel at full light.
        for (int i = 0; i < 13; ++i)
            Panel().OnTimer(kTimerFadeIn);
        EXPECT_EQ(Panel().PanelFadeLevel(), 255);
        Settle(Panel());
        return Panel().grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    // The window in disc mode on a virtual disc in drive V of three silent tracks of two seconds.
    void StartOnDisc() {
        const std::filesystem::path cue = dir_.Path() / "disc.cue";
        ASSERT_TRUE(testkit::WriteText(dir_.Path() / "disc.bin", std::string(3 * 150 * 2352, '\0')));
        ASSERT_TRUE(
            testkit::WriteText(cue, testkit::SheetOf("disc.bin", {{'a', 150}, {'a', 150}, {'a', 150}})));
        testkit::RegistrySandbox::MapImage('V', cue);
        SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "DefaultMode", 0);
        SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "DefaultDrive", 'V');
        StartWindow();
        ASSERT_TRUE(Panel().DiscMode());
        ASSERT_EQ(Panel().TrackCount(), 3u);
    }
};

TEST_F(NowPlayingTest, TheTitleLineNamesTaggedAndUntaggedFilesAsTheBusDoes) {
    testkit::PcmShape shape;
    shape.seconds = 3;
    shape.title = "Ombra mai fu";
    shape.artist = "Ensemble Ö";
    shape.album = "Arias, Vol. 2";
    const std::string flac = (dir_ / "01 largo.flac").string();
    ASSERT_TRUE(testkit::WritePcm(flac, shape));
    StartFiles({flac, WriteWav(dir_ / "02 plain.take.wav", 3.0)});
    ASSERT_EQ(Panel().TrackCount(), 2u);
    // Stopped: nothing plays, nothing is named.
    EXPECT_EQ(Panel().ShownTitleLine(), QString());

    struct Case {
        unsigned track;
        QString line, album;
    } const cases[] = {
        {1, QStringLiteral("Ombra mai fu — Ensemble Ö"), QStringLiteral("Arias, Vol. 2")},
        // Untagged: the file's name without its (last) extension, and no artist or album left over.
        {2, QStringLiteral("02 plain.take"), QString()},
    };
    for (const Case& c : cases) {
        Panel().post(Registered().playSelectedTrack, c.track, 0);
        ASSERT_TRUE(Pump(Panel(), [&] { return Panel().CurrentTrack() == c.track && Playing(); })) << c.track;
        Settle(Panel());
        EXPECT_EQ(Panel().ShownTitleLine(), c.line) << c.track;
        EXPECT_EQ(Panel().ShownAlbumLine(), c.album) << c.track;
        // The bus reads the same look-up.
        const TrackInfo info = Panel().CurrentTrackInfo();
        EXPECT_EQ(info.artist.isEmpty() ? info.title : info.title + QStringLiteral(" — ") + info.artist,
                  c.line);
    }
    Key(Qt::Key_F7);
    EXPECT_EQ(Panel().ShownTitleLine(), QString()) << "stopped again";
}

TEST_F(NowPlayingTest, ADiscsTrackIsNamedByItsNumberOrByTheDiscsOwnText) {
    StartOnDisc();
    PlayAndPause();
    EXPECT_EQ(Panel().ShownTitleLine(), QStringLiteral("Track 1"));
    EXPECT_EQ(Panel().ShownAlbumLine(), QString());
    EXPECT_FALSE(Panel().ShowsCover());

    // The disc's text as it is set when the disc is read: a track with a performer of its own, one that
    // takes the album's, and one the text does not reach.
    DiscText text;
    text.album = "Night Pieces";
    text.performer = "Lena Hart";
    text.tracks = {{"Nocturne", "Duo Vale"}, {"Aubade", ""}};
    Panel().Titles().SetDiscText(text);
    struct Case {
        unsigned track;
        const char* line;
    } const cases[] = {{2, "Aubade — Lena Hart"}, {1, "Nocturne — Duo Vale"}, {3, "Track 3 — Lena Hart"}};
    for (const Case& c : cases) {
        Panel().post(Registered().playSelectedTrack, c.track, 0);
        ASSERT_TRUE(Pump(Panel(), [&] { return Panel().CurrentTrack() == c.track && Playing(); })) << c.track;
        Settle(Panel());
        EXPECT_EQ(Panel().ShownTitleLine(), QString::fromUtf8(c.line)) << c.track;
        EXPECT_EQ(Panel().ShownAlbumLine(), QStringLiteral("Night Pieces")) << c.track;
    }
}

TEST_F(NowPlayingTest, ALongTitleIsCutWithAnEllipsisInsideItsPlace) {
    testkit::PcmShape shape;
    shape.seconds = 2;
    shape.title =
        std::string(6, ' ') +
        "Symphony No. 9 in D minor, Op. 125, IV. Presto — Allegro assai — "
        "Allegro molto assai (Alla marcia) — Andante maestoso — Allegro energico, sempre ben marcato";
    shape.artist = "An Orchestra Whose Name Is Long As Well";
    const std::string flac = (dir_ / "long.flac").string();
    ASSERT_TRUE(testkit::WritePcm(flac, shape));
    StartFiles({flac});
    PlayAndPause();
    const QString line = Panel().ShownTitleLine();
    ASSERT_FALSE(line.isEmpty());
    EXPECT_TRUE(line.endsWith(QChar(0x2026))) << line.toStdString();
    EXPECT_TRUE(line.startsWith(QStringLiteral("Symphony No. 9"))) << "leading spaces of the tag dropped";
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(22);
    font.setWeight(QFont::DemiBold);
    EXPECT_LE(QFontMetrics(font).horizontalAdvance(line), CPlayerDialog::TitleRect().width());
    // The places of the titles and the cover overlap no control of the panel and not the display.
    for (QWidget* child : Panel().findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isVisible())
            continue;
        for (const QRect& place :
             {CPlayerDialog::TitleRect(), CPlayerDialog::AlbumRect(), CPlayerDialog::CoverRect()})
            EXPECT_FALSE(child->geometry().intersects(place))
                << child->objectName().toStdString() << " at " << child->x() << "," << child->y();
    }
}

TEST_F(NowPlayingTest, TheCoverBesideTheFilesIsShownFramedAndTheTitlesOffLeaveThePanelAsBefore) {
    WritePicture(dir_ / "folder.jpg", QColor(200, 30, 40));
    StartFiles({WriteWav(dir_ / "song.wav", 3.0)});
    // The reference: the panel as it is drawn without anything playing, where no title or cover is drawn.
    const QImage reference = Render();
    PlayAndPause();
    ASSERT_TRUE(Panel().ShowsCover());
    const QImage on = Render();
    const QColor centre = on.pixelColor(CPlayerDialog::CoverRect().center());
    EXPECT_NEAR(centre.red(), 200, 12);
    EXPECT_NEAR(centre.green(), 30, 12);
    EXPECT_NEAR(centre.blue(), 40, 12);
    EXPECT_NE(on.copy(CPlayerDialog::TitleRect()), reference.copy(CPlayerDialog::TitleRect()))
        << "title drawn";

    // ShowTitles 0 from the settings dialog: the paused panel again.
    services_.settingsOk = true;
    services_.settingsAction = [] { SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "ShowTitles", 0); };
    Command(kCmdSettings);
    ASSERT_FALSE(Panel().ShowsTitles());
    EXPECT_FALSE(ui::FindControl(&Panel(), kCmdList)->isVisible()) << "the list's button goes with them";
    EXPECT_EQ(Panel().ShownTitleLine(), QString());
    const QImage off = Render();
    // Pixel for pixel: where titles and the cover go, as the reference; everywhere else, as with them on
    // (the display shows the paused time in both).
    for (const QRect& place :
         {CPlayerDialog::TitleRect(), CPlayerDialog::AlbumRect(), CPlayerDialog::CoverRect()})
        EXPECT_EQ(off.copy(place), reference.copy(place)) << place.x() << "," << place.y();
    // The list's button, hidden with the titles (above), is left out of the comparison as well.
    const QRect listButton = ui::FindControl(&Panel(), kCmdList)->geometry();
    QImage offMasked = off, onMasked = on;
    for (QImage* image : {&offMasked, &onMasked}) {
        for (const QRect& place :
             {CPlayerDialog::TitleRect(), CPlayerDialog::AlbumRect(), CPlayerDialog::CoverRect(), listButton})
            for (int y = place.top(); y <= place.bottom(); ++y)
                for (int x = place.left(); x <= place.right(); ++x)
                    image->setPixel(x, y, 0);
    }
    EXPECT_EQ(offMasked, onMasked);
}

TEST_F(NowPlayingTest, TheCoverIsCoverBeforeFolderAndAPictureThatDoesNotLoadIsNone) {
    struct Case {
        std::vector<std::string> files; // written in the folder
        std::string expected;           // file name of the cover chosen, empty for none
    } const cases[] = {
        {{"folder.jpg", "Cover.PNG"}, "Cover.PNG"},
        {{"folder.jpeg"}, "folder.jpeg"},
        {{"front.jpg", "cover.gif"}, ""},
        {{}, ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::filesystem::path folder = dir_.Path() / ("album" + std::to_string(n++));
        std::filesystem::create_directories(folder);
        for (const std::string& name : c.files) {
            if (name.ends_with(".gif"))
                ASSERT_TRUE(testkit::WriteText(folder / name, "GIF89a"));
            else
                WritePicture(folder / name, Qt::green);
        }
        const QString chosen = NowPlaying::FolderCover(QString::fromStdString((folder / "a.wav").string()));
        EXPECT_EQ(chosen.isEmpty() ? std::string()
                                   : std::filesystem::path(chosen.toStdString()).filename().string(),
                  c.expected);
    }
    // Named as a cover, but no picture: no cover, no art on the bus.
    ASSERT_TRUE(testkit::WriteText(dir_.Path() / "cover.jpg", "not a picture"));
    NowPlaying titles;
    const TrackInfo info = titles.ForFile((dir_.Path() / "x.wav").string());
    EXPECT_FALSE(info.coverPath.isEmpty());
    EXPECT_TRUE(titles.Cover(info).isNull());
    EXPECT_TRUE(titles.ArtUrl(info).isEmpty());
}

TEST_F(NowPlayingTest, TheListCardOpensPlaysWithItsKeysAndCloses) {
    std::vector<std::string> files;
    for (const char* name : {"one.wav", "two.wav", "three.wav"})
        files.push_back(WriteWav(dir_ / name, 20.0));
    StartFiles(files);
    ASSERT_EQ(Panel().TrackCount(), 3u);
    ASSERT_EQ(Panel().ListCard(), nullptr);

    Key(Qt::Key_L);
    PlayListCard* card = Panel().ListCard();
    ASSERT_NE(card, nullptr);
    EXPECT_TRUE(card->isVisible());
    ASSERT_EQ(card->Entries().size(), 3u);
    EXPECT_EQ(card->Entries()[1].text, QStringLiteral("two"));
    EXPECT_NEAR(card->Entries()[1].lengthMs, 20'000, 50);
    EXPECT_EQ(card->Playing(), 0u) << "nothing plays yet";
    EXPECT_EQ(card->Selected(), 1u);

    struct Step {
        int key;
        unsigned selected;
    } const steps[] = {{Qt::Key_Down, 2}, {Qt::Key_Down, 3}, {Qt::Key_Down, 3}, {Qt::Key_Up, 2},
                       {Qt::Key_Home, 1}, {Qt::Key_Up, 1},   {Qt::Key_End, 3},  {Qt::Key_Up, 2}};
    for (const Step& s : steps) {
        Key(s.key);
        EXPECT_EQ(card->Selected(), s.selected) << s.key;
    }
    EXPECT_FALSE(Playing()) << "moving the selection plays nothing";
    Key(Qt::Key_Return);
    ASSERT_TRUE(Pump(Panel(), [&] { return Panel().CurrentTrack() == 2 && Playing(); }));
    Settle(Panel());
    ASSERT_EQ(Panel().ListCard(), card) << "the card stays open";
    EXPECT_EQ(card->Playing(), 2u);
    Key(Qt::Key_Down);
    Key(Qt::Key_Enter);
    ASSERT_TRUE(Pump(Panel(), [&] { return Panel().CurrentTrack() == 3 && Playing(); }));
    Settle(Panel());
    EXPECT_EQ(card->Playing(), 3u);

    Key(Qt::Key_Escape);
    EXPECT_EQ(Panel().ListCard(), nullptr);
    EXPECT_TRUE(Playing()) << "closing the card leaves the music playing";
    // Escape without the card goes to the panel as ever; the button and L open and close it.
    Click(kCmdList);
    ASSERT_NE(Panel().ListCard(), nullptr);
    EXPECT_EQ(Panel().ListCard()->Selected(), 3u) << "opens on the track playing";
    Key(Qt::Key_L);
    EXPECT_EQ(Panel().ListCard(), nullptr);

    // A new list while the card is open: the card lists the new one.
    Key(Qt::Key_L);
    services_.fileSelection = std::vector<std::string>{WriteWav(dir_ / "four.wav", 2.0)};
    Command(kCmdOpenFiles);
    ASSERT_EQ(Panel().TrackCount(), 1u);
    ASSERT_NE(Panel().ListCard(), nullptr);
    ASSERT_EQ(Panel().ListCard()->Entries().size(), 1u);
    EXPECT_EQ(Panel().ListCard()->Entries()[0].text, QStringLiteral("four"));
}

} // namespace
} // namespace apptest
