// The player on a private session bus as an MPRIS2 player, driven by a real client (playerctl) against the
// real main window playing generated WAV files to the null output, and a virtual disc for disc mode.
#include "AppTestSupport.h"
#include "PrivateBus.h"
#include "TestKit/Bytes.h"
#include "TestKit/DiscImage.h"
#include "TestKit/PcmFiles.h"

#include "app/MprisService.h"
#include "app/PlayerMessages.h"
#include "ui/CDialCtrl.h"

#include "Platform/VirtualDrive.h"

#include <QDBusObjectPath>
#include <QImage>
#include <QRegularExpression>
#include <QUrl>

#include <cmath>
#include <string>

namespace apptest {
namespace {

using namespace app;

constexpr char kSettingsKey[] = "Software\\Orva Corporation\\Quellwave\\Settings";
using Transport = PlayerState::Transport;

class MprisTest : public PlayerFixture {
protected:
    void SetUp() override {
        if (QString(QW_DBUS_DAEMON).isEmpty() || QString(QW_PLAYERCTL).isEmpty())
            FAIL() << "dbus-daemon or playerctl missing: run scripts/setup";
        PlayerFixture::SetUp();
        ASSERT_FALSE(bus_.Address().isEmpty()) << "dbus-daemon did not start";
    }
    void TearDown() override {
        mpris_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("mpris-player"));
        PlayerFixture::TearDown();
    }
    // Three tracks of files named one.wav, two.wav, three.wav.
    void StartTracks() {
        std::vector<std::string> files;
        for (const char* name : {"one.wav", "two.wav", "three.wav"})
            files.push_back(WriteWav(dir_ / name, 20.0));
        StartFiles(files);
        ASSERT_EQ(Panel().TrackCount(), 3u);
        StartService();
    }
    // The window in disc mode on a virtual disc in drive V of two silent tracks of `seconds` each; with
    // `titled`, the sheet gives the disc CD-Text: the album's title and performer, both tracks' titles and
    // the second track's own performer.
    void StartOnSilentDisc(std::uint32_t seconds, bool titled = false) {
        const std::filesystem::path cue = dir_.Path() / "disc.cue";
        const std::uint32_t sectors = seconds * 75;
        ASSERT_TRUE(testkit::WriteText(dir_.Path() / "disc.bin", std::string(2 * sectors * 2352, '\0')));
        std::string sheet = testkit::SheetOf("disc.bin", {{'a', sectors}, {'a', sectors}});
        if (titled) {
            sheet.insert(0, "TITLE \"Songs of the Sea\"\nPERFORMER \"The Harbour Band\"\n");
            sheet.insert(sheet.find("TRACK 01 AUDIO\n") + 15, "    TITLE \"High Water\"\n");
            sheet.insert(sheet.find("TRACK 02 AUDIO\n") + 15,
                         "    TITLE \"Low Tide\"\n    PERFORMER \"Guest Singer\"\n");
        }
        ASSERT_TRUE(testkit::WriteText(cue, sheet));
        testkit::RegistrySandbox::MapImage('V', cue);
        SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "DefaultMode", 0);
        SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "DefaultDrive", 'V');
        StartWindow();
    }
    void StartService() {
        mpris_ = std::make_unique<MprisService>(*window_, bus_.Connect(QStringLiteral("mpris-player")));
        ASSERT_TRUE(mpris_->Start());
    }
    ClientRun Playerctl(const QStringList& args) {
        std::vector<std::string> argv = {"-p", "quellwave"};
        for (const QString& arg : args)
            argv.push_back(arg.toStdString());
        return RunClient(bus_, QW_PLAYERCTL, argv, [this] { Settle(Panel()); });
    }
    QString Ask(const QStringList& args) {
        const ClientRun run = Playerctl(args);
        EXPECT_EQ(run.exitCode, 0) << args.join(' ').toStdString() << ": " << run.err.toStdString();
        return run.out;
    }

    // Reads the position through the client, in ms.
    qlonglong PositionThroughClient() { return std::llround(Ask({"position"}).toDouble() * 1000.0); }

    PrivateBus bus_{dir_.Path()};
    std::unique_ptr<MprisService> mpris_;
};

// dbus-monitor printing the player's Seeked signals and its PropertiesChanged, as a desktop component
// listening on the bus sees them.
class SignalWatch {
public:
    explicit SignalWatch(const PrivateBus& bus)
        : monitor_(bus, QW_DBUS_MONITOR,
                   {"--session", "type='signal',interface='org.mpris.MediaPlayer2.Player',member='Seeked'",
                    "type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged'"}) {
    }
    bool Started() const { return monitor_.Started(); }
    QString Out() const { return QString::fromStdString(monitor_.Out()); }
    // The positions (µs) of the Seeked signals seen so far, in order.
    std::vector<qlonglong> Seeks() const {
        static const QRegularExpression seeked(QStringLiteral("member=Seeked\\n\\s*int64 (-?\\d+)"));
        std::vector<qlonglong> positions;
        for (auto it = seeked.globalMatch(Out()); it.hasNext();)
            positions.push_back(it.next().captured(1).toLongLong());
        return positions;
    }
    // Whether a PropertiesChanged said CanSeek is `value`.
    bool SawCanSeek(bool value) const {
        const QRegularExpression change(QStringLiteral("string \"CanSeek\"\\n\\s*variant\\s+boolean ") +
                                        (value ? "true" : "false"));
        return change.match(Out()).hasMatch();
    }

private:
    BusClient monitor_;
};

TEST_F(MprisTest, PlayerctlCommandsActOnTheWindowAndItsStatusFollows) {
    StartTracks();
    EXPECT_EQ(Ask({"status"}), "Stopped");
    struct Step {
        const char* command;
        Transport transport;
        unsigned track;
        const char* status;
    };
    const std::vector<Step> steps = {
        {"play-pause", Transport::Playing, 1, "Playing"},
        {"next", Transport::Playing, 2, "Playing"},
        {"next", Transport::Playing, 3, "Playing"},
        // Within the first three seconds of a track, previous goes to the track before.
        {"previous", Transport::Playing, 2, "Playing"},
        {"play-pause", Transport::Paused, 2, "Paused"},
        {"pause", Transport::Paused, 2, "Paused"}, // stays paused (the pause key would resume)
        {"play", Transport::Playing, 2, "Playing"},
        {"play", Transport::Playing, 2, "Playing"}, // already playing: nothing
        {"stop", Transport::Stopped, 1, "Stopped"},
        {"pause", Transport::Stopped, 1, "Stopped"}, // nothing to pause
        {"play", Transport::Playing, 1, "Playing"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        Ask({step.command});
        EXPECT_TRUE(Pump(Panel(), [&] {
            // Playing means the output has begun (a pause before it begins is no pause to the window).
            const PlayerState state = Panel().State();
            return state.transport == step.transport && state.track == step.track &&
                   Playing() == (step.transport == Transport::Playing);
        }));
        EXPECT_EQ(Ask({"status"}), step.status);
    }
}

TEST_F(MprisTest, MetadataNamesTheCurrentFileWithItsLengthAndPlace) {
    StartTracks();
    const QStringList format = {
        "metadata", "--format",
        "{{mpris:trackid}}|{{xesam:trackNumber}}|{{xesam:title}}|{{xesam:url}}|{{mpris:length}}"};
    const QString url = QUrl::fromLocalFile(QString::fromStdString((dir_ / "two.wav").string())).toString();
    Ask({"next"});
    ASSERT_TRUE(Pump(Panel(), [&] { return Panel().CurrentTrack() == 2; }));
    const QStringList fields = Ask(format).split('|');
    ASSERT_EQ(fields.size(), 5) << fields.join('|').toStdString();
    // An object path, which the client prints quoted.
    EXPECT_EQ(fields[0],
              QStringLiteral("'/org/quellwave/source/%1/track/2'").arg(Panel().SourceGeneration()));
    EXPECT_EQ(fields[1], "2");
    EXPECT_EQ(fields[2], "two"); // untitled: the file name without its extension
    EXPECT_EQ(fields[3], url);
    // The 20-second file in microseconds, as the window measured it.
    EXPECT_EQ(fields[4].toLongLong(), static_cast<qlonglong>(Panel().TrackLength(2)) * 1000);
    EXPECT_NEAR(fields[4].toDouble(), 20e6, 0.05e6);
}

TEST_F(MprisTest, MetadataCarriesTheTagsOfATaggedFlac) {
    testkit::PcmShape shape;
    shape.seconds = 3;
    shape.title = "Ombra mai fu";
    shape.artist = "Ensemble Ö";
    shape.album = "Arias, Vol. 2";
    const std::string flac = (dir_ / "01 largo.flac").string();
    ASSERT_TRUE(testkit::WritePcm(flac, shape));
    StartFiles({flac, WriteWav(dir_ / "plain.wav", 2.0)});
    ASSERT_EQ(Panel().TrackCount(), 2u);
    StartService();
    const QStringList fields =
        Ask({"metadata", "--format", "{{xesam:title}}|{{xesam:artist}}|{{xesam:album}}|{{mpris:length}}"})
            .split('|');
    ASSERT_EQ(fields.size(), 4) << fields.join('|').toStdString();
    EXPECT_EQ(fields[0], QString::fromStdString(shape.title));
    EXPECT_EQ(fields[1], QString::fromStdString(shape.artist));
    EXPECT_EQ(fields[2], QString::fromStdString(shape.album));
    EXPECT_EQ(fields[3].toLongLong(), 3000000);
    // The untagged WAV after it: its name, and no artist or album left over from the FLAC.
    Ask({"next"});
    ASSERT_TRUE(Pump(Panel(), [&] { return Panel().CurrentTrack() == 2; }));
    EXPECT_EQ(Ask({"metadata", "--format", "{{xesam:title}}|{{xesam:artist}}|{{xesam:album}}"}), "plain||");
}

TEST_F(MprisTest, VolumeMapsToTheDialBothWays) {
    StartTracks();
    struct Case {
        const char* set;
        unsigned dial;
    };
    const std::vector<Case> cases = {{"0.5", 50}, {"0.0", 0}, {"1.0", 100}, {"0.333", 33}, {"1.7", 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set);
        Ask({"volume", c.set});
        EXPECT_TRUE(Pump(Panel(), [&] { return Panel().Dial()->GetValue() == c.dial; }));
        float level = -1.0f;
        Panel().Engine().GetLevel(&level);
        EXPECT_NEAR(level, c.dial / 100.0f, 0.006f);
        EXPECT_NEAR(Ask({"volume"}).toDouble(), c.dial / 100.0, 1e-6);
    }
    // The window's own volume keys show on the bus.
    Ask({"volume", "0.5"});
    ASSERT_TRUE(Pump(Panel(), [&] { return Panel().Dial()->GetValue() == 50; }));
    Key(Qt::Key_F10);
    ASSERT_TRUE(Pump(Panel(), [&] { return Panel().Dial()->GetValue() == 51; }));
    EXPECT_NEAR(Ask({"volume"}).toDouble(), 0.51, 1e-6);
}

TEST_F(MprisTest, TheDialFollowsADragRightAfterAVolumeSetOnTheBus) {
    StartTracks();
    for (const char* set : {"0.2", "0.45", "0.2"}) {
        SCOPED_TRACE(set);
        Ask({"volume", set});
        const unsigned value = static_cast<unsigned>(std::lround(std::stod(set) * 100));
        ASSERT_TRUE(Pump(Panel(), [&] { return Panel().Dial()->GetValue() == value; }));
        const int from = Panel().Dial()->Position();
        const int held = DragDialTo(from + 120);
        EXPECT_GE(held, from + 16) << "the knob turns while the button is held";
        EXPECT_LT(held, from + 120) << "at the drag's pace, no jump";
        EXPECT_EQ(Panel().Dial()->Position(), from + 120);
        EXPECT_NEAR(Ask({"volume"}).toDouble(), (from + 120) / 3 / 100.0, 1e-6);
    }
}

TEST_F(MprisTest, ChangesMadeAtTheWindowReachAFollowingClient) {
    StartTracks();
    BusClient follower(
        bus_, QW_PLAYERCTL,
        {"-p", "quellwave", "--follow", "metadata", "--format", "{{status}} {{xesam:trackNumber}}"});
    ASSERT_TRUE(follower.Started());
    // Each line is looked for after the one seen before it, so a state seen earlier does not count again.
    std::size_t seen = 0;
    const auto sees = [&](const std::string& line) {
        return Pump(Panel(), [&] {
            const std::string out = follower.Out();
            const std::size_t at = out.find(line + "\n", seen);
            if (at == std::string::npos)
                return false;
            seen = at + line.size() + 1;
            return true;
        });
    };
    // The follower prints the state it finds, then every change it is told of.
    EXPECT_TRUE(sees("Stopped 1"));
    Key(Qt::Key_F6); // the window's play key
    EXPECT_TRUE(sees("Playing 1"));
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    Key(Qt::Key_Right, Qt::ControlModifier); // its next key
    EXPECT_TRUE(sees("Playing 2"));
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    Key(Qt::Key_F6);
    EXPECT_TRUE(sees("Paused 2"));
    Key(Qt::Key_F7);
    EXPECT_TRUE(sees("Stopped 1"));
    follower.Stop();
}

TEST_F(MprisTest, TheCapabilitiesTellWhetherThereIsAnythingToPlay) {
    StartFiles({(dir_ / "missing.wav").string()});
    ASSERT_EQ(Panel().TrackCount(), 0u);
    StartService();
    EXPECT_FALSE(mpris_->CanPlay());
    EXPECT_FALSE(mpris_->CanPause());
    EXPECT_FALSE(mpris_->CanGoNext());
    EXPECT_FALSE(mpris_->CanGoPrevious());
    EXPECT_EQ(mpris_->Metadata().value("mpris:trackid").value<QDBusObjectPath>().path(),
              "/org/mpris/MediaPlayer2/TrackList/NoTrack");
    EXPECT_EQ(Ask({"status"}), "Stopped");
    // The client believes the player: it does not even ask.
    const ClientRun play = Playerctl({"play"});
    EXPECT_NE(play.exitCode, 0);
    Settle(Panel());
    EXPECT_EQ(Panel().State().transport, Transport::Stopped);

    // Files that open make all of it possible, and the client then plays.
    const std::string wav = WriteWav(dir_ / "one.wav", 5.0);
    window_->Panel().EnterFileMode(TrackList{wav});
    Settle(Panel());
    ASSERT_EQ(Panel().TrackCount(), 1u);
    EXPECT_TRUE(mpris_->CanPlay());
    EXPECT_TRUE(mpris_->CanGoNext());
    Ask({"play"});
    EXPECT_TRUE(Pump(Panel(), [&] { return Playing(); }));
}

TEST_F(MprisTest, WithTheTrayOpenAClientCanPlayAndPlayClosesTheTrayAndPlaysTheDisc) {
    StartOnSilentDisc(20);
    std::string error;
    const auto drive = platform::VirtualDrive::ForLetter('V', dir_.Path() / "disc.cue", error);
    ASSERT_TRUE(drive) << error;
    services_.trayQuery = [&](unsigned char) {
        return drive->TrayOpen() ? TrayState::Open : TrayState::Closed;
    };
    StartService();
    ASSERT_EQ(Panel().TrackCount(), 2u);
    Command(kCmdEject);
    ASSERT_TRUE(drive->TrayOpen());
    EXPECT_TRUE(mpris_->CanPlay()) << "play closes the tray";
    EXPECT_FALSE(mpris_->CanPause());
    Ask({"play"});
    EXPECT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    EXPECT_FALSE(drive->TrayOpen());
    EXPECT_EQ(Ask({"status"}), QStringLiteral("Playing"));
}

TEST_F(MprisTest, TheCoverBesideTheFileReachesTheBusAsACopyInTheCacheFolder) {
    testkit::PcmShape shape;
    shape.seconds = 2;
    shape.title = "Lascia";
    const std::filesystem::path album = dir_.Path() / "album";
    std::filesystem::create_directories(album);
    const std::string flac = (album / "01.flac").string();
    ASSERT_TRUE(testkit::WritePcm(flac, shape));
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(QColor(20, 90, 200));
    ASSERT_TRUE(picture.save(QString::fromStdString((album / "folder.jpg").string())));
    StartFiles({flac, WriteWav(dir_ / "bare.wav", 2.0)});
    StartService();
    // The panel and the bus name the entry alike.
    Key(Qt::Key_F6);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    EXPECT_EQ(Ask({"metadata", "xesam:title"}), Panel().ShownTitleLine());

    const QUrl art(Ask({"metadata", "mpris:artUrl"}));
    ASSERT_TRUE(art.isLocalFile()) << art.toString().toStdString();
    const std::filesystem::path copy = art.toLocalFile().toStdString();
    EXPECT_EQ(copy.parent_path(), dir_.Path() / "cache" / "quellwave");
    QImage written;
    ASSERT_TRUE(written.load(art.toLocalFile()));
    EXPECT_EQ(written.size(), QSize(64, 48));
    EXPECT_NEAR(written.pixelColor(32, 24).blue(), 200, 12);
    // No half-written copy is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(copy.parent_path()),
                            std::filesystem::directory_iterator()),
              1);

    // The file without a picture beside it has no art.
    Ask({"next"});
    ASSERT_TRUE(Pump(Panel(), [&] { return Panel().CurrentTrack() == 2; }));
    const ClientRun none = Playerctl({"metadata", "mpris:artUrl"});
    EXPECT_TRUE(none.out.isEmpty()) << none.out.toStdString();
    EXPECT_EQ(Ask({"metadata", "xesam:title"}), "bare");
}

TEST_F(MprisTest, ADiscsTrackIsCalledByItsNumberAndHasNoAddress) {
    StartOnSilentDisc(3);
    ASSERT_TRUE(Panel().DiscMode());
    ASSERT_EQ(Panel().TrackCount(), 2u);
    StartService();
    Ask({"next"});
    ASSERT_TRUE(Pump(Panel(), [&] { return Panel().CurrentTrack() == 2; }));
    EXPECT_EQ(Ask({"metadata", "xesam:title"}), "Track 2");
    EXPECT_EQ(Ask({"metadata", "mpris:length"}).toLongLong(), 3'000'000);
    const ClientRun url = Playerctl({"metadata", "xesam:url"});
    EXPECT_TRUE(url.out.isEmpty()) << url.out.toStdString();
}

TEST_F(MprisTest, ADiscWithCdTextIsCalledByItsTitlesAndPerformers) {
    StartOnSilentDisc(3, true);
    ASSERT_EQ(Panel().TrackCount(), 2u);
    StartService();
    const QStringList format = {"metadata", "--format", "{{xesam:title}}|{{xesam:artist}}|{{xesam:album}}"};
    // A track without a performer of its own has the album's.
    EXPECT_EQ(Ask(format), "High Water|The Harbour Band|Songs of the Sea");
    Ask({"next"});
    ASSERT_TRUE(Pump(Panel(), [&] { return Panel().CurrentTrack() == 2; }));
    EXPECT_EQ(Ask(format), "Low Tide|Guest Singer|Songs of the Sea");
}

TEST_F(MprisTest, WithoutABusOrItsNameThePlayerRunsWithoutTheService) {
    StartFiles({WriteWav(dir_ / "one.wav", 5.0)});
    MprisService offBus(*window_, QDBusConnection(QStringLiteral("no-such-connection")));
    EXPECT_FALSE(offBus.Start());
    // Another player holds the name already.
    QDBusConnection other = bus_.Connect(QStringLiteral("mpris-other"));
    ASSERT_TRUE(other.registerService(QString::fromLatin1(MprisService::kServiceName)));
    MprisService second(*window_, bus_.Connect(QStringLiteral("mpris-player")));
    EXPECT_FALSE(second.Start());
    QDBusConnection::disconnectFromBus(QStringLiteral("mpris-other"));
    Key(Qt::Key_F6);
    EXPECT_TRUE(Pump(Panel(), [&] { return Playing(); }));
}

class MprisSeekTest : public MprisTest {
protected:
    void SetUp() override {
        if (QString(QW_DBUS_MONITOR).isEmpty())
            FAIL() << "dbus-monitor missing: run scripts/setup";
        MprisTest::SetUp();
    }
    // Two tracks of a 60-second file, and a watch on the bus that is known to see what the player sends.
    void StartWatched() {
        const std::string wav = WriteWav(dir_ / "long.wav", 60.0);
        StartFiles({wav, wav});
        ASSERT_EQ(Panel().TrackCount(), 2u);
        StartService();
        watch_ = std::make_unique<SignalWatch>(bus_);
        ASSERT_TRUE(watch_->Started());
        // The monitor listens once it prints a change made after it started.
        for (int i = 0; i < 50 && !watch_->Out().contains("Volume"); ++i) {
            Ask({"volume", i % 2 == 0 ? "0.4" : "0.5"});
            Pump(
                Panel(), [] { return false; }, 100);
        }
        ASSERT_TRUE(watch_->Out().contains("Volume")) << "the monitor never listened";
    }
    // Waits until the watch has seen `count` Seeked signals.
    bool SeeksSeen(std::size_t count) {
        return Pump(Panel(), [&] { return watch_->Seeks().size() >= count; });
    }
    std::uint32_t EngineMs() { return Panel().Engine().PositionMs(); }

    std::unique_ptr<SignalWatch> watch_;
};

TEST_F(MprisSeekTest, PlayerctlMovesThePositionAndEachMoveIsSignalled) {
    StartWatched();
    // Stopped, there is nothing to move.
    EXPECT_FALSE(mpris_->CanSeek());
    Playerctl({"position", "30"});
    Settle(Panel());
    EXPECT_FALSE(Panel().Started());
    EXPECT_EQ(mpris_->Position(), 0);

    Ask({"play"});
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    EXPECT_TRUE(mpris_->CanSeek());
    EXPECT_TRUE(Pump(Panel(), [&] { return watch_->SawCanSeek(true); })) << watch_->Out().toStdString();

    struct Step {
        const char* name;
        QStringList args;
        std::int64_t to; // ms: where to, or by how much when relative
        bool relative;
    };
    const std::vector<Step> steps = {
        {"position 30", {"position", "30"}, 30'000, false},
        {"position 10+", {"position", "10+"}, 10'000, true},
        {"position 5-", {"position", "5-"}, -5'000, true},
        {"position 2.5", {"position", "2.5"}, 2'500, false},
        {"position 5- before the start", {"position", "5-"}, -5'000, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const std::int64_t from = Panel().PositionMs();
        const std::size_t seeksBefore = watch_->Seeks().size();
        Ask(step.args);
        ASSERT_TRUE(SeeksSeen(seeksBefore + 1)) << watch_->Out().toStdString();
        const qlonglong signalled = watch_->Seeks().back();
        if (step.relative) {
            const std::int64_t target = std::max<std::int64_t>(from + step.to, 0);
            EXPECT_GE(signalled, target * 1000);
            EXPECT_LT(signalled, (target + 1500) * 1000);
        } else {
            EXPECT_EQ(signalled, step.to * 1000);
        }
        // The property says the new place at once, and holds it until the engine plays on from there.
        const auto ms = static_cast<std::uint32_t>(signalled / 1000);
        EXPECT_GE(PositionThroughClient(), ms);
        ASSERT_TRUE(Pump(Panel(), [&] { return Panel().PositionMs() > ms; }));
        EXPECT_GE(EngineMs(), ms);
        EXPECT_LT(EngineMs(), ms + 3000);
        EXPECT_EQ(Panel().CurrentTrack(), 1u);
    }

    // While playing the property moves on with every look, not once a second: a look made once the engine
    // has played on from the last one says where the engine was by then. Each look waits for the engine
    // rather than for a time, as a processor too slow to convert in real time plays in bursts.
    qlonglong last = PositionThroughClient();
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(Pump(Panel(), [&] { return EngineMs() > last; })) << "look " << i;
        const std::uint32_t engineBefore = EngineMs();
        const qlonglong now = PositionThroughClient();
        EXPECT_GT(now, last) << "look " << i;
        EXPECT_GE(now, engineBefore) << "look " << i;
        EXPECT_LE(now, EngineMs()) << "look " << i;
        last = now;
    }

    // Outside the track, or for a track that is not the current one: nothing.
    const std::size_t seeksBefore = watch_->Seeks().size();
    Ask({"position", "61"});
    const QString source = QStringLiteral("/org/quellwave/source/%1").arg(Panel().SourceGeneration());
    mpris_->SetPosition(source + "/track/2", 20'000'000);
    mpris_->SetPosition(source + "/track/1", -1);
    mpris_->SetPosition(
        QStringLiteral("/org/quellwave/source/%1/track/1").arg(Panel().SourceGeneration() + 1), 20'000'000);
    Settle(Panel());
    const std::uint32_t before = Panel().PositionMs();
    EXPECT_LT(before, 20'000u);
    Pump(
        Panel(), [] { return false; }, 300);
    EXPECT_EQ(watch_->Seeks().size(), seeksBefore) << watch_->Out().toStdString();
    EXPECT_LT(Panel().PositionMs(), before + 3000);

    // The current track's own id moves it.
    const QString id = mpris_->Metadata().value("mpris:trackid").value<QDBusObjectPath>().path();
    EXPECT_EQ(id, source + "/track/1");
    mpris_->SetPosition(id, 20'000'000);
    ASSERT_TRUE(SeeksSeen(seeksBefore + 1));
    EXPECT_EQ(watch_->Seeks().back(), 20'000'000);

    // Past the end: the next track, as Next, with an id of its own.
    Ask({"position", "50+"});
    ASSERT_TRUE(Pump(Panel(), [&] { return Panel().CurrentTrack() == 2 && Playing(); }));
    EXPECT_EQ(mpris_->Metadata().value("mpris:trackid").value<QDBusObjectPath>().path(), source + "/track/2");
    EXPECT_LT(EngineMs(), 5000u);

    // Stopped again, CanSeek goes false and says so.
    Ask({"stop"});
    ASSERT_TRUE(Pump(Panel(), [&] { return !Panel().Started(); }));
    EXPECT_FALSE(mpris_->CanSeek());
    EXPECT_TRUE(Pump(Panel(), [&] { return watch_->SawCanSeek(false); })) << watch_->Out().toStdString();
}

TEST_F(MprisSeekTest, ATrackRestartedByRepeatOneIsSignalledAsAJump) {
    const std::string wav = WriteWav(dir_ / "short.wav", 2.0);
    StartFiles({wav, wav});
    StartService();
    watch_ = std::make_unique<SignalWatch>(bus_);
    ASSERT_TRUE(watch_->Started());
    for (int i = 0; i < 50 && !watch_->Out().contains("Volume"); ++i) {
        Ask({"volume", i % 2 == 0 ? "0.4" : "0.5"});
        Pump(
            Panel(), [] { return false; }, 100);
    }
    ASSERT_TRUE(watch_->Out().contains("Volume"));
    Command(kCmdRepeat);
    Command(kCmdRepeat);
    ASSERT_EQ(Panel().Engine().RepeatMode(), 1);
    Ask({"play"});
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    // Nothing was asked to move, yet the track starts over: the position jumped back.
    ASSERT_TRUE(SeeksSeen(1)) << watch_->Out().toStdString();
    EXPECT_LT(watch_->Seeks().front(), 1'500'000);
    EXPECT_EQ(Panel().CurrentTrack(), 1u);
    EXPECT_EQ(Panel().Engine().CurrentTrack(), 1u);
}

TEST_F(MprisTest, ADiscsTrackCanBeSeeked) {
    StartOnSilentDisc(20);
    ASSERT_TRUE(Panel().DiscMode());
    StartService();
    EXPECT_FALSE(mpris_->CanSeek());
    Ask({"play"});
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    EXPECT_TRUE(mpris_->CanSeek());
    Ask({"position", "12"});
    ASSERT_TRUE(Pump(Panel(), [&] { return Panel().Engine().PositionMs() >= 12'000; }));
    EXPECT_LT(Panel().Engine().PositionMs(), 15'000u);
    EXPECT_EQ(Panel().CurrentTrack(), 1u);
}

TEST_F(MprisTest, ATrackIdNamesOneEntryOfOneListAndOnlyItMovesTheEntry) {
    StartTracks();
    const auto trackId = [&] {
        return mpris_->Metadata().value("mpris:trackid").value<QDBusObjectPath>().path();
    };
    Ask({"play"});
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    const QString first = trackId();
    Pump(
        Panel(), [] { return false; }, 300);
    EXPECT_EQ(trackId(), first) << "the same while the entry plays";
    Ask({"next"});
    ASSERT_TRUE(Pump(Panel(), [&] { return Panel().CurrentTrack() == 2 && Playing(); }));
    EXPECT_NE(trackId(), first);
    // The first entry of a list opened afterwards is another entry, with another id.
    Ask({"stop"});
    window_->Panel().EnterFileMode(TrackList{WriteWav(dir_ / "other.wav", 20.0)});
    Settle(Panel());
    Ask({"play"});
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    const QString fresh = trackId();
    EXPECT_NE(fresh, first);
    mpris_->SetPosition(first, 12'000'000);
    Settle(Panel());
    EXPECT_LT(Panel().PositionMs(), 12'000u) << "an id of the list before moves nothing";
    mpris_->SetPosition(fresh, 12'000'000);
    Settle(Panel());
    EXPECT_EQ(Panel().PositionMs(), 12'000u);
}

} // namespace
} // namespace apptest
