// Start-up: the command line's files and "/cdplay", the start-up notice, the warnings, and the single
// instance handing a second start's files to the running copy.
#include "AppTestSupport.h"
#include "TestKit/Bytes.h"

#include "app/CPlayerApp.h"
#include "app/CommandLine.h"
#include "app/SessionEnd.h"
#include "shell/PlaylistFile.h"
#include "shell/ResourceIds.h"
#include "shell/Settings.h"
#include "ui/ControlNotify.h"

#include <QLocalServer>

#include <cmath>
#include <csignal>

namespace apptest {
namespace {

using namespace app;

constexpr char kSettingsKey[] = "Software\\Orva Corporation\\Quellwave\\Settings";

class StartupTest : public PlayerFixture {
protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        std::filesystem::create_directories(dir_.Path() / "music");
    }
    StartContext Context(std::vector<std::string> args) {
        StartContext context;
        context.arguments = std::move(args);
        context.driverName = "null";
        context.programFolder = QW_PROGRAM_DIR;
        context.startFolder = dir_.Path() / "music";
        context.socketPath = QString::fromStdString((dir_.Path() / "instance").string());
        context.changeFolder = false;
        return context;
    }
    void NoNotice() { SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "NoDispNext", 1); }
};

TEST_F(StartupTest, CdPlayTakesTheLetterAfterTheDash) {
    struct Case {
        std::vector<std::string> args;
        std::optional<char> letter;
    };
    const std::vector<Case> cases = {
        {{"/cdplay", "-d"}, 'd'},
        {{"/cdplay -E"}, 'E'},
        {{"x.wav", "/cdplay", "-f"}, 'f'},
        {{"/cdplay"}, std::nullopt},
        {{"/cdplay", "-"}, std::nullopt},
        {{"/cdplay", "-7"}, std::nullopt},
        {{"-d"}, std::nullopt},
        {{"/CDPLAY", "-d"}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CdPlayLetter(c.args), c.letter) << c.args.front();

    EXPECT_TRUE(ApplyCdPlay({"/cdplay", "-d"}));
    DWORD drive = 0;
    ASSERT_TRUE(ReadDrive(&drive));
    EXPECT_EQ(drive, static_cast<DWORD>('d')) << "stored in its own case";
    EXPECT_EQ(ReadMode(), 0u);
}

TEST_F(StartupTest, FilesAreTheExistingAudioFilesMadeAbsoluteWithTheirCaseKept) {
    const auto music = dir_.Path() / "music";
    WriteWav(music / "Song One.WAV", 0.1);
    WriteWav(music / "two.wav", 0.1);
    for (const char* name : {"Three.dsf", "Four.FLAC", "five.aiff", "six.ogg"})
        ASSERT_TRUE(testkit::WriteText(music / name, "x"));
    std::filesystem::create_directories(music / "folder.wav");
    struct Case {
        std::vector<std::string> args;
        bool rfMode;
        std::vector<std::string> files;
    };
    const std::string one = (music / "Song One.WAV").string(), two = (music / "two.wav").string();
    const std::string three = (music / "Three.dsf").string();
    const std::vector<Case> cases = {
        {{"Song One.WAV", "two.wav"}, false, {one, two}},
        {{two, "missing.wav", "folder.wav", "Three.dsf"}, false, {two}},
        {{"Three.dsf", "./two.wav"}, true, {three, two}},
        {{"song one.wav"}, false, {}}, // the case of a name matters on this file system
        {{"/cdplay", "-d"}, false, {}},
        // FLAC, AIFF and the other PCM files by their extension in any case; not what no reader takes.
        {{"Four.FLAC", "five.aiff", "six.ogg"},
         false,
         {(music / "Four.FLAC").string(), (music / "five.aiff").string()}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CommandLineFiles(c.args, c.rfMode, music), c.files) << c.args.front();
}

TEST_F(StartupTest, MissingFilesLeaveThePlayListAndModeAlone) {
    ASSERT_TRUE(WritePlaylist({"/keep/me.wav"}));
    WriteMode(0);
    EXPECT_FALSE(TakeOverFiles({"gone.wav"}, false, dir_.Path()));
    TrackList list;
    ASSERT_TRUE(ReadPlaylist(&list));
    EXPECT_EQ(list, TrackList{"/keep/me.wav"});
    EXPECT_EQ(ReadMode(), 0u);
}

TEST_F(StartupTest, TheNoticeIsShownUnlessNoDispNextSaysNot) {
    struct Case {
        std::optional<DWORD> user, machine;
        int runs;
    };
    const std::vector<Case> cases = {
        {std::nullopt, std::nullopt, 1},
        {std::nullopt, 1, 0},
        {0, 1, 1},
        {1, std::nullopt, 0},
        {0, std::nullopt, 1},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir_.Path() / "registry");
        std::filesystem::create_directories(dir_.Path() / "registry");
        if (c.user)
            SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "NoDispNext", *c.user);
        if (c.machine)
            SetDword(platform::HKEY_LOCAL_MACHINE, kSettingsKey, "NoDispNext", *c.machine);
        RecordingServices services;
        CPlayerApp player(services, nullptr);
        EXPECT_TRUE(player.Prepare(Context({})));
        EXPECT_EQ(services.noticeRuns, c.runs);
    }
    RecordingServices quitting;
    quitting.noticeContinues = false;
    CPlayerApp player(quitting, nullptr);
    EXPECT_FALSE(player.Prepare(Context({}))) << "Quit on the notice ends the program";
}

TEST_F(StartupTest, WarningsForALimitedProcessorAndALoadedMachine) {
    NoNotice();
    RecordingServices services;
    services.probe.maxState = 50;
    CPlayerApp player(services, nullptr);
    ASSERT_TRUE(player.Prepare(Context({})));
    EXPECT_EQ(services.BoxesWith(resid::kStrPowerLimited), 1u);
    EXPECT_EQ(services.BoxesWith(resid::kStrOverloadAtStart), 0u);
}

TEST_F(StartupTest, CdPlayAndAFileStartInFileModeWithTheLetterKept) {
    NoNotice();
    const std::string wav = WriteWav(dir_.Path() / "music" / "a.wav", 0.2);
    CPlayerApp player(services_, nullptr);
    ASSERT_TRUE(player.Prepare(Context({"/cdplay", "-e", "a.wav"})));
    EXPECT_EQ(ReadMode(), 1u);
    DWORD drive = 0;
    ASSERT_TRUE(ReadDrive(&drive));
    EXPECT_EQ(drive, static_cast<DWORD>('e'));
    CBGDialog& window = player.CreateMainWindow();
    EXPECT_FALSE(window.Panel().DiscMode());
    EXPECT_EQ(window.Panel().Tracks(), TrackList{wav});
}

TEST_F(StartupTest, ASecondStartWithFilesHandsThemToTheRunningCopy) {
    NoNotice();
    const auto music = dir_.Path() / "music";
    const std::string first = WriteWav(music / "first.wav", 20);
    const std::string a = WriteWav(music / "Alpha.wav", 0.5), b = WriteWav(music / "beta.WAV", 0.5);
    ASSERT_TRUE(WritePlaylist({first}));
    WriteMode(1);

    CPlayerApp running(services_, nullptr);
    ASSERT_TRUE(running.Prepare(Context({})));
    CPlayerDialog& panel = running.CreateMainWindow().Panel();
    ASSERT_EQ(panel.Tracks(), TrackList{first});
    panel.post(WM_COMMAND, kCmdPlay, 0);
    ASSERT_TRUE(Pump(panel, [&] { return panel.Engine().Playing() == 1; }));

    // A start without files only brings the running copy to the front: playing, it plays on; minimised
    // (which paused it), it is restored.
    for (bool minimised : {false, true}) {
        if (minimised) {
            running.MainWindow()->showMinimized();
            Settle(panel);
            EXPECT_EQ(panel.Engine().Playing(), 0) << "minimising pauses";
        }
        {
            RecordingServices second;
            CPlayerApp copy(second, nullptr);
            EXPECT_FALSE(copy.Prepare(Context({"/cdplay", "-d", "nothing.wav"})));
            EXPECT_EQ(second.noticeRuns, 0) << "a second copy shows nothing of its own";
        }
        ASSERT_TRUE(Pump(panel, [&] { return !running.MainWindow()->isMinimized(); }));
        Pump(
            panel, [] { return false; }, 200);
        EXPECT_EQ(panel.Engine().Playing(), minimised ? 0 : 1);
        EXPECT_TRUE(panel.Started());
        EXPECT_EQ(panel.Tracks(), TrackList{first});
    }

    // With files: the running copy stops, switches to file mode and loads exactly those.
    panel.post(WM_COMMAND, kCmdToDiscMode, 0);
    Settle(panel);
    ASSERT_TRUE(panel.DiscMode());
    {
        RecordingServices second;
        CPlayerApp copy(second, nullptr);
        EXPECT_FALSE(copy.Prepare(Context({"Alpha.wav", b})));
    }
    ASSERT_TRUE(Pump(panel, [&] { return !panel.DiscMode(); }));
    EXPECT_EQ(panel.Tracks(), (TrackList{a, b}));
    EXPECT_EQ(panel.TrackCount(), 2u);
    EXPECT_FALSE(panel.Started());
    EXPECT_EQ(panel.Engine().Playing(), 0);
    EXPECT_EQ(ReadMode(), 1u);
}

TEST_F(StartupTest, AHandOverWhileTheNoticeOrAWarningIsUpIsCarriedOutOnceTheWindowExists) {
    const auto music = dir_.Path() / "music";
    const std::string own = WriteWav(music / "own.wav", 20);
    const std::string later = WriteWav(music / "later.wav", 0.5);
    struct Case {
        const char* what;
        bool notice;
    };
    for (const Case& c : {Case{"start-up notice", true}, Case{"processor warning", false}}) {
        SCOPED_TRACE(c.what);
        SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "NoDispNext", c.notice ? 0 : 1);
        RecordingServices first;
        first.probe.maxState = c.notice ? 100 : 50; // 50: the limited-processor warning
        // While the first copy waits on the listener, a later start hands its file over.
        const auto secondStart = [&] {
            RecordingServices second;
            CPlayerApp copy(second, nullptr);
            EXPECT_FALSE(copy.Prepare(Context({"later.wav"})));
        };
        (c.notice ? first.duringNotice : first.duringBox) = secondStart;
        CPlayerApp running(first, nullptr);
        ASSERT_TRUE(running.Prepare(Context({"own.wav"})));
        TrackList written;
        ASSERT_TRUE(ReadPlaylist(&written));
        EXPECT_EQ(written, TrackList{later}) << "the first copy wrote its list over the later one";
        CPlayerDialog& panel = running.CreateMainWindow().Panel();
        EXPECT_TRUE(Pump(
            panel, [&] { return panel.Tracks() == TrackList{later}; }, 5000))
            << "the later start's files were lost";
        EXPECT_FALSE(panel.DiscMode());
    }
}

TEST_F(StartupTest, TheStopSignalsCloseThePlayerAsItsCloseButtonDoes) {
    NoNotice();
    const std::string wav = WriteWav(dir_.Path() / "music" / "long.wav", 20);
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        CPlayerApp running(services_, nullptr);
        ASSERT_TRUE(running.Prepare(Context({"long.wav"})));
        CBGDialog& window = running.CreateMainWindow();
        CPlayerDialog& panel = window.Panel();
        SessionEnd end([&] { running.EndSession(); });
        ASSERT_TRUE(end.Start());
        panel.post(WM_COMMAND, kCmdPlay, 0);
        ASSERT_TRUE(Pump(panel, [&] { return panel.Engine().Playing() == 1; }));
        ASSERT_EQ(::raise(signal), 0); // caught: this process goes on, the player ends
        EXPECT_TRUE(Pump(
            panel, [&] { return window.result() == 1; }, 5000))
            << "the window did not end";
        EXPECT_EQ(panel.Engine().Playing(), 0);
        EXPECT_FALSE(panel.Engine().SourceOpen()) << "the sources are closed";
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(services_.executionState, ES_CONTINUOUS);
    }
    // Asked before the window exists, the start ends at its next step.
    RecordingServices early;
    CPlayerApp starting(early, nullptr);
    SessionEnd end([&] { starting.EndSession(); });
    ASSERT_TRUE(end.Start());
    SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "NoDispNext", 0);
    early.duringNotice = [] { ::raise(SIGTERM); };
    EXPECT_FALSE(starting.Prepare(Context({"long.wav"})));
}

TEST_F(StartupTest, ASocketLeftBehindIsTakenOver) {
    const QString path = QString::fromStdString((dir_.Path() / "instance").string());
    // A file where the socket would be, with nobody listening.
    ASSERT_TRUE(testkit::WriteText(path.toStdString(), ""));
    SingleInstance instance(path);
    EXPECT_EQ(instance.Take(), SingleInstance::Claim::First);
    SingleInstance other(path);
    EXPECT_EQ(other.Take(), SingleInstance::Claim::Running);
}

} // namespace
} // namespace apptest

namespace apptest {
namespace {

TEST(InstanceRequests, OnlyTheTwoLinesAreRequests) {
    using app::InstanceRequest;
    const std::pair<const char*, InstanceRequest> cases[] = {
        {"raise\n", InstanceRequest::Raise},        {"reload\n", InstanceRequest::Reload},
        {"raise", InstanceRequest::None},           {"RAISE\n", InstanceRequest::None},
        {"reload\r\n", InstanceRequest::None},      {"", InstanceRequest::None},
        {"raise\nreload\n", InstanceRequest::None},
    };
    for (const auto& [line, request] : cases)
        EXPECT_EQ(app::ParseInstanceRequest(line), request) << line;
}

TEST(FitScale, ThePanelGrowsByTheLargestFactorThatFitsUpToThree) {
    struct Case {
        int width, height;
        double scale;
    };
    const Case cases[] = {
        {1024, 768, 1.0},    {1366, 768, 1.0},       {1920, 1080, 1.40625}, {2048, 1536, 2.0},
        {2560, 1440, 1.875}, {2560, 1600, 2.078125}, {3840, 2160, 2.8125},  {3072, 2304, 3.0},
        {7680, 4320, 3.0},   {800, 600, 1.0},        {1280, 1024, 1.25},    {1080, 1920, 1.046875},
    };
    for (const Case& c : cases) {
        const double scale = app::CBGDialog::FitScale(c.width, c.height);
        EXPECT_DOUBLE_EQ(scale, c.scale) << c.width << "x" << c.height;
        // Where it can grow, the panel fits the screen.
        if (scale > 1.0) {
            EXPECT_LE(1024 * scale, c.width + 1e-9);
            EXPECT_LE(768 * scale, c.height + 1e-9);
        }
    }
}

// The window covers every pixel of the screen at the panel's scale with the fewest scaled pixels: exactly
// the screen where Qt's rounding allows (1280 x 1024 at 1.25: 819 rows are 1024 pixels again), one scaled
// pixel past its edge where it does not (3840 at 2.8125: 1365 is 3839 pixels, 1366 is 3842).
TEST(CoveringSize, TheWindowReachesTheScreensLastPixelWithTheFewestScaledPixels) {
    struct Case {
        int width, height;
        int coverWidth, coverHeight; // in scaled pixels
    };
    const Case cases[] = {
        {1920, 1080, 1365, 768}, {3840, 2160, 1366, 768},  {2560, 1440, 1366, 768}, {1280, 1024, 1024, 819},
        {2560, 1600, 1232, 770}, {7680, 4320, 2560, 1440}, {1024, 768, 1024, 768},  {1080, 1920, 1032, 1834},
    };
    const auto pixels = [](int side, double scale) { return int(std::lround(side * scale)); };
    for (const Case& c : cases) {
        const double scale = app::CBGDialog::FitScale(c.width, c.height);
        const QSize cover = app::CBGDialog::CoveringSize(QSize(c.width, c.height), scale);
        EXPECT_EQ(cover, QSize(c.coverWidth, c.coverHeight)) << c.width << "x" << c.height;
        EXPECT_GE(pixels(cover.width(), scale), c.width) << c.width << "x" << c.height;
        EXPECT_GE(pixels(cover.height(), scale), c.height) << c.width << "x" << c.height;
        EXPECT_LT(pixels(cover.width() - 1, scale), c.width) << c.width << "x" << c.height;
        EXPECT_LT(pixels(cover.height() - 1, scale), c.height) << c.width << "x" << c.height;
    }
}

} // namespace
} // namespace apptest
