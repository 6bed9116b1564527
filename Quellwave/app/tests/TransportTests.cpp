// The real main window driven with keys, clicks and timers against the null output: digit entry,
// previous and next, repeat, volume, mute, media keys, the load refusal and the driver error.
#include "AppTestSupport.h"

#include "app/PlayerMessages.h"
#include "shell/ResourceIds.h"
#include "ui/CDialCtrl.h"
#include "ui/ControlNotify.h"
#include "ui/TransparentBitmapStatic.h"

#include <QFile>
#include <QTest>

namespace apptest {
namespace {

using namespace app;

constexpr char kSettingsKey[] = "Software\\Orva Corporation\\Quellwave\\Settings";

class TransportTest : public PlayerFixture {
protected:
    // count tracks, all the same 20-second file (enough never to end during a test).
    void StartTracks(unsigned count) {
        const std::string wav = WriteWav(dir_ / "tone.wav", 20.0);
        StartFiles(std::vector<std::string>(count, wav));
        ASSERT_EQ(Panel().TrackCount(), count);
    }
    // Plays track 1 and pauses it, then lets the display hold `ms` as the elapsed time, as a position
    // message from the engine would.
    void PausedAt(unsigned ms) {
        Key(Qt::Key_F6);
        ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
        Key(Qt::Key_F6);
        ASSERT_FALSE(Playing());
        ASSERT_TRUE(Panel().Started());
        Panel().post(WM_PLAYER_POSITION, ms, Panel().CurrentTrack());
        Settle(Panel());
        ASSERT_EQ(Display().LastTime(),
                  Panel().ShowsRemainingTime() ? Panel().TrackLength(Panel().CurrentTrack()) - ms : ms);
    }
};

TEST_F(TransportTest, DigitEntryKeepsTheLastThreeDigitsAndPlaysAnExistingTrack) {
    StartTracks(240);
    struct Case {
        std::vector<int> keys;
        unsigned shown;
    };
    const std::vector<Case> cases = {
        {{Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4}, 234},
        {{Qt::Key_7}, 7},
        {{Qt::Key_0, Qt::Key_5}, 5},
        {{Qt::Key_9, Qt::Key_9, Qt::Key_9, Qt::Key_0}, 990},
    };
    for (const Case& c : cases) {
        for (int key : c.keys)
            Key(key);
        EXPECT_TRUE(Display().EntryMode());
        EXPECT_EQ(Panel().Entry(), c.shown);
        EXPECT_TRUE(Panel().TimerActive(kTimerEntry));
        Key(Qt::Key_Escape);
        EXPECT_EQ(Panel().Entry(), 0u);
        EXPECT_FALSE(Display().EntryMode());
    }
    for (int key : {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4})
        Key(key);
    Panel().OnTimer(kTimerEntry); // the 2-second timer
    Settle(Panel());
    EXPECT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    EXPECT_EQ(Panel().CurrentTrack(), 234u);
    EXPECT_EQ(Display().TrackNumber(), 234u);
    EXPECT_FALSE(Display().EntryMode());
}

TEST_F(TransportTest, TheHelpPageTellsWhatATypedNumberDoesAfterThePause) {
    // What the program does: a typed number left alone plays when the entry timer runs out.
    StartTracks(5);
    Key(Qt::Key_3);
    ASSERT_TRUE(Display().EntryMode());
    EXPECT_TRUE(Pump(
        Panel(), [&] { return Playing(); }, 5000))
        << "the real 2-second timer played nothing";
    EXPECT_EQ(Panel().CurrentTrack(), 3u);
    // What the page says about it: the digits' row of the key table.
    QFile page(QStringLiteral(QW_PROGRAM_DIR "/quellwave.html"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());
    const qsizetype row = html.indexOf(QStringLiteral("(also on the numeric pad)"));
    ASSERT_GE(row, 0);
    const QString digits = html.mid(row, html.indexOf(QStringLiteral("</tr>"), row) - row).simplified();
    EXPECT_TRUE(digits.contains(QStringLiteral("without typing it plays"))) << digits.toStdString();
    EXPECT_FALSE(digits.contains(QStringLiteral("without typing the number is dropped")))
        << digits.toStdString();
}

TEST_F(TransportTest, TheKeyOrAClickOnTheTimeShowsTheTimeLeftAndTheChoiceIsKept) {
    StartTracks(3);
    const unsigned length = Panel().TrackLength(1);
    ASSERT_GT(length, 19'000u);
    const auto stored = [&] {
        const std::optional<DWORD> value = GetUserDword(kSettingsKey, "ShowRemainingTime");
        return value ? int(*value) : -1;
    };
    // Stopped, the display keeps the list's count and total; the choice is stored at once.
    Key(Qt::Key_T);
    EXPECT_TRUE(Panel().ShowsRemainingTime());
    EXPECT_EQ(stored(), 1);
    EXPECT_FALSE(Display().RemainingShown());
    EXPECT_EQ(Display().TrackNumber(), 3u);
    EXPECT_EQ(Display().LastTime(), 3 * length);

    PausedAt(length - 5'000);
    EXPECT_TRUE(Display().RemainingShown());
    EXPECT_EQ(Display().LastTime(), 5'000u) << "what is left of the track";
    // A click on the time switches back to the time played, and again to the time left.
    QWidget* time = Display().Element(CLEDDialog::kSecondUnits);
    QTest::mouseClick(time, Qt::LeftButton, Qt::NoModifier, time->rect().center());
    Settle(Panel());
    EXPECT_FALSE(Display().RemainingShown());
    EXPECT_EQ(Display().LastTime(), length - 5'000);
    EXPECT_EQ(stored(), 0);
    QTest::mouseClick(time, Qt::LeftButton, Qt::NoModifier, time->rect().center());
    Settle(Panel());
    EXPECT_TRUE(Display().RemainingShown());
    EXPECT_EQ(stored(), 1);
    // A click elsewhere on the display changes nothing.
    QWidget* track = Display().Element(CLEDDialog::kTrackUnits);
    QTest::mouseClick(track, Qt::LeftButton, Qt::NoModifier, track->rect().center());
    Settle(Panel());
    EXPECT_TRUE(Display().RemainingShown());

    // Previous still goes by the time played: early in the track it steps back, later it restarts.
    for (auto [elapsed, expected] : {std::pair{2'000u, 3u}, std::pair{9'000u, 1u}}) {
        SCOPED_TRACE(elapsed);
        Key(Qt::Key_F7);
        PausedAt(elapsed);
        EXPECT_EQ(Display().LastTime(), length - elapsed);
        Click(kCmdPrevious);
        EXPECT_EQ(Panel().CurrentTrack(), expected);
        EXPECT_EQ(Display().LastTime(), Panel().TrackLength(expected)) << "all of the track is left";
        EXPECT_TRUE(Display().RemainingShown());
    }
    // Playing, the reports show the time left too; stopped, the total again.
    Key(Qt::Key_F6);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing() && Display().LastTime() < Panel().TrackLength(1); }));
    EXPECT_TRUE(Display().RemainingShown());
    Key(Qt::Key_F7);
    EXPECT_FALSE(Display().RemainingShown());
    EXPECT_EQ(Display().LastTime(), 3 * length);

    // The next start shows what was chosen.
    window_.reset();
    StartTracks(3);
    EXPECT_TRUE(Panel().ShowsRemainingTime());
}

TEST_F(TransportTest, AnEntryBeyondTheLastTrackPlaysNothingAndDisappears) {
    StartTracks(12);
    for (int key : {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4})
        Key(key);
    EXPECT_EQ(Panel().Entry(), 234u);
    Key(Qt::Key_Return);
    EXPECT_FALSE(Playing());
    EXPECT_FALSE(Panel().Started());
    EXPECT_FALSE(Display().EntryMode());
    EXPECT_EQ(Display().TrackNumber(), 12u) << "the stopped display shows the track count again";
}

TEST_F(TransportTest, PreviousStepsBackEarlyInATrackAndRestartsLater) {
    StartTracks(12);
    struct Case {
        unsigned elapsedMs;
        unsigned expectedTrack;
    };
    for (const Case& c : {Case{2000, 12}, Case{45000, 1}, Case{2999, 12}, Case{3000, 1}}) {
        Key(Qt::Key_F7); // stop: track 1
        PausedAt(c.elapsedMs);
        Click(kCmdPrevious);
        EXPECT_EQ(Panel().CurrentTrack(), c.expectedTrack) << c.elapsedMs;
        EXPECT_EQ(Display().LastTime(), 0u);
        EXPECT_FALSE(Playing()) << "paused stays paused";
    }
    // Stopped, it always steps back, showing the track's length.
    Key(Qt::Key_F7);
    Panel().post(WM_PLAYER_POSITION, 45000, 1);
    Settle(Panel());
    Key(Qt::Key_F7);
    Click(kCmdPrevious);
    EXPECT_EQ(Panel().CurrentTrack(), 12u);
    EXPECT_EQ(Display().LastTime(), Panel().TrackLength(12));
}

TEST_F(TransportTest, NextWrapsAndKeepsPlaying) {
    StartTracks(3);
    Click(kCmdPlay);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    for (unsigned expected : {2u, 3u, 1u}) {
        Key(Qt::Key_Right, Qt::ControlModifier);
        EXPECT_EQ(Panel().CurrentTrack(), expected);
        EXPECT_TRUE(Pump(Panel(), [&] { return Playing(); })) << expected;
    }
    Key(Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(Panel().CurrentTrack(), 3u) << "at the start of track 1 previous goes to the last";
    // Without Ctrl the arrows move within the track (10 s of its 20).
    Key(Qt::Key_Right);
    EXPECT_EQ(Panel().CurrentTrack(), 3u);
    Key(Qt::Key_F7);
    EXPECT_FALSE(Playing());
    EXPECT_EQ(Panel().CurrentTrack(), 1u);
    EXPECT_FALSE(Panel().Started());
}

TEST_F(TransportTest, RepeatCyclesOffAllOneAndStoresEach) {
    StartTracks(2);
    for (DWORD expected : {2u, 1u, 0u, 2u}) {
        Click(kCmdRepeat);
        EXPECT_EQ(Panel().Engine().RepeatMode(), static_cast<std::int32_t>(expected));
        EXPECT_EQ(GetUserDword(kSettingsKey, "Repeat"), expected);
    }
}

TEST_F(TransportTest, RepeatIsReadBackAtStartAndStrangeValuesMeanOff) {
    for (const auto& [stored, mode] : std::vector<std::pair<DWORD, int>>{{1, 1}, {2, 2}, {7, 0}}) {
        window_.reset();
        SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "Repeat", stored);
        StartTracks(1);
        EXPECT_EQ(Panel().Engine().RepeatMode(), mode) << stored;
    }
}

TEST_F(TransportTest, VolumeStepsClampAndReachTheEngine) {
    StartTracks(1);
    struct Case {
        unsigned start;
        int key;
        int presses;
        unsigned expected;
    };
    const std::vector<Case> cases = {
        {100, Qt::Key_F10, 1, 100}, {0, Qt::Key_F9, 2, 0},     {50, Qt::Key_F10, 3, 53},
        {50, Qt::Key_F9, 1, 49},    {99, Qt::Key_F10, 3, 100},
    };
    for (const Case& c : cases) {
        Panel().Dial()->SetValue(c.start);
        Settle(Panel());
        for (int i = 0; i < c.presses; ++i)
            Key(c.key);
        EXPECT_EQ(Panel().Dial()->GetValue(), c.expected) << c.start << " " << c.presses;
        float level = -1;
        ASSERT_EQ(Panel().Engine().GetLevel(&level), S_OK);
        EXPECT_NEAR(level, c.expected / 100.0f, 0.006f);
    }
    // The held long-push buttons and the wheel step the same way.
    Panel().Dial()->SetValue(40);
    Settle(Panel());
    Panel().post(WM_LONG_PUSH_REPEAT, kCmdVolumeUp, 0);
    Panel().post(WM_LONG_PUSH_REPEAT, kCmdVolumeUp, 0);
    Settle(Panel());
    EXPECT_EQ(Panel().Dial()->GetValue(), 42u);
    QWheelEvent down(QPointF(500, 500), QPointF(500, 500), QPoint(), QPoint(0, -120), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&Panel(), &down);
    Settle(Panel());
    EXPECT_EQ(Panel().Dial()->GetValue(), 41u);
}

TEST_F(TransportTest, TheDialFollowsADragRightAfterAVolumeKeyOrAChangeFromElsewhere) {
    StartTracks(1);
    struct Case {
        const char* what;
        std::function<void()> change;
        unsigned value; // the dial's value after the change
    };
    const std::vector<Case> cases = {
        {"F9", [&] { Key(Qt::Key_F9); }, 19},
        {"F10", [&] { Key(Qt::Key_F10); }, 21},
        {"a change from elsewhere",
         [&] {
             Panel().post(Registered().volumeVolChange, 35, 0);
             Settle(Panel());
         },
         35},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Panel().Dial()->SetValue(20);
        Settle(Panel());
        c.change();
        ASSERT_EQ(Panel().Dial()->GetValue(), c.value);
        const int from = Panel().Dial()->Position();
        const int held = DragDialTo(250);
        EXPECT_GE(held, from + 16) << "the knob turns while the button is held, not only after the release";
        EXPECT_LT(held, 250) << "it turns at the drag's pace, no jump";
        EXPECT_EQ(Panel().Dial()->Position(), 250);
        float level = -1;
        ASSERT_EQ(Panel().Engine().GetLevel(&level), S_OK);
        EXPECT_NEAR(level, 250 / 3 / 100.0f, 0.006f);
    }
}

TEST_F(TransportTest, F8TwiceLeavesTheMuteStateAsItWas) {
    StartTracks(1);
    for (bool initial : {false, true}) {
        Panel().Engine().SetMute(initial);
        Panel().Dial()->SetMuting(initial);
        Key(Qt::Key_F8);
        EXPECT_EQ(Panel().Engine().GetMute(), !initial);
        EXPECT_EQ(Panel().Dial()->IsMuting(), !initial);
        Key(Qt::Key_F8);
        EXPECT_EQ(Panel().Engine().GetMute(), initial);
        EXPECT_EQ(Panel().Dial()->IsMuting(), initial);
    }
}

TEST_F(TransportTest, VolumeAndMuteChangedElsewhereReachTheDial) {
    StartTracks(1);
    Panel().post(Registered().volumeVolChange, 30, 0);
    Settle(Panel());
    EXPECT_EQ(Panel().Dial()->GetValue(), 30u);
    float level = -1;
    ASSERT_EQ(Panel().Engine().GetLevel(&level), S_OK);
    EXPECT_NEAR(level, 0.30f, 0.006f) << "the dial's notice sets the engine's level";
    for (bool mute : {true, false}) {
        Panel().Engine().SetMute(mute);
        Panel().post(Registered().volumeMuteChange, 0, 0);
        Settle(Panel());
        EXPECT_EQ(Panel().Dial()->IsMuting(), mute);
    }
}

TEST_F(TransportTest, MediaKeysFollowThePlayState) {
    StartTracks(3);
    struct Case {
        int key;
        bool playingAfter;
        unsigned trackAfter;
    };
    const std::vector<Case> cases = {
        {Qt::Key_MediaPause, false, 1},           // not started: nothing
        {Qt::Key_MediaPlay, true, 1},             // starts
        {Qt::Key_MediaPlay, true, 1},             // running: nothing
        {Qt::Key_MediaTogglePlayPause, false, 1}, // pauses
        {Qt::Key_MediaPause, true, 1},            // paused: plays on
        {Qt::Key_MediaNext, true, 2},
        {Qt::Key_MediaPrevious, true, 1},
        {Qt::Key_MediaStop, false, 1},
    };
    for (const Case& c : cases) {
        Key(c.key);
        Pump(
            Panel(), [&] { return Playing() == c.playingAfter; }, 5000);
        EXPECT_EQ(Playing(), c.playingAfter) << c.key;
        EXPECT_EQ(Panel().CurrentTrack(), c.trackAfter) << c.key;
    }
    // Play with an entry typed plays that track.
    Key(Qt::Key_3);
    Key(Qt::Key_MediaPlay);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    EXPECT_EQ(Panel().CurrentTrack(), 3u);
}

TEST_F(TransportTest, PlayUnderLoadIsRefusedWithItsMessage) {
    StartTracks(2);
    // Another process keeps the machine's one processor 80 % busy for two load checks.
    for (int i = 0; i < 2; ++i) {
        services_.probe.Run(5000, 300, 0.8);
        Panel().OnTimer(kTimerLoad);
    }
    ASSERT_GT(Panel().LastLoad(), 30u);
    Click(kCmdPlay);
    EXPECT_EQ(services_.BoxesWith(resid::kStrOverloadRefused), 1u);
    EXPECT_FALSE(Playing());
    EXPECT_FALSE(Panel().Started());
    // Once the load is gone, play starts.
    services_.probe.Run(5000, 300, 0.0);
    Panel().OnTimer(kTimerLoad);
    Click(kCmdPlay);
    EXPECT_TRUE(Pump(Panel(), [&] { return Playing(); }));
}

TEST_F(TransportTest, SustainedLoadWhilePlayingPausesWithItsMessage) {
    StartTracks(1);
    Click(kCmdPlay);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    for (int i = 0; i < 3; ++i) {
        services_.probe.Run(5000, 300, 0.9);
        Panel().OnTimer(kTimerLoad);
    }
    EXPECT_FALSE(Playing());
    EXPECT_TRUE(Panel().Started()) << "paused, not stopped";
    EXPECT_EQ(services_.BoxesWith(resid::kStrOverloadPaused), 1u);
}

TEST_F(TransportTest, TheScreenSaverIsOffOnlyWhilePlaying) {
    StartTracks(1);
    services_.screenSaver = true;
    Click(kCmdPlay);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    EXPECT_FALSE(services_.screenSaver);
    Click(kCmdPause);
    EXPECT_TRUE(services_.screenSaver);
    Click(kCmdPlay);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    window_->EndNow();
    EXPECT_TRUE(services_.screenSaver) << "closing while playing switches it back on";
    EXPECT_EQ(services_.executionState, ES_CONTINUOUS);
}

TEST_F(TransportTest, ADriverErrorShowsItsMessageAndTheWindowStaysUsableInRFMode) {
    SetDword(platform::HKEY_LOCAL_MACHINE, "Software\\Orva Corporation\\Quellwave", "useRFMode", 1);
    const std::string wav = WriteWav(dir_ / "tone.wav", 2.0);
    StartFiles({wav, wav}, "dsf:" + (dir_ / "no-such-folder" / "out.dsf").string());
    ASSERT_TRUE(Pump(Panel(), [&] { return services_.BoxesWith(resid::kStrDriverMissing) == 1; }));
    EXPECT_EQ(window_->result(), 0) << "the window stays open";
    Click(kCmdPlay);
    EXPECT_FALSE(Playing());
    Click(kCmdNext);
    EXPECT_EQ(Panel().CurrentTrack(), 2u);
    Click(kCmdRepeat);
    EXPECT_EQ(Panel().Engine().RepeatMode(), 2);
}

TEST_F(TransportTest, ADriverErrorEndsTheProgramOutsideRFMode) {
    const std::string wav = WriteWav(dir_ / "tone.wav", 2.0);
    window_ = nullptr;
    StartFiles({wav}, "dsf:" + (dir_ / "no-such-folder" / "out.dsf").string());
    ASSERT_TRUE(Pump(Panel(), [&] { return services_.BoxesWith(resid::kStrDriverMissing) == 1; }));
    EXPECT_EQ(window_->result(), 1);
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(services_.executionState, ES_CONTINUOUS);
}

TEST_F(TransportTest, TheCloseButtonPausesAndEndsTheProgramAfterAThirteenStepFade) {
    StartTracks(1);
    for (int i = 0; i < 13; ++i)
        window_->OnTimer(CBGDialog::kFadeTimer);
    ASSERT_EQ(window_->FadeLevel(), 255);
    EXPECT_FALSE(window_->FadingIn());
    Click(kCmdPlay);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    Click(kCmdClose);
    EXPECT_FALSE(Playing());
    EXPECT_TRUE(window_->FadingOut());
    // The fade's own 10 ms timer runs while the click is handled, so a slow machine may already have
    // taken some of its steps: count them and take the rest by hand, thirteen in all.
    const int taken = (255 - window_->FadeLevel()) / CBGDialog::kFadeStep;
    ASSERT_EQ(window_->FadeLevel(), 255 - taken * CBGDialog::kFadeStep) << "whole steps only";
    ASSERT_LT(taken, 12) << "the fade ran on while the click was handled";
    for (int i = taken; i < 12; ++i)
        window_->OnTimer(CBGDialog::kFadeOutTimer);
    EXPECT_EQ(window_->result(), 0) << "still fading";
    EXPECT_EQ(window_->FadeLevel(), 15);
    window_->OnTimer(CBGDialog::kFadeOutTimer);
    EXPECT_EQ(window_->FadeLevel(), 0);
    EXPECT_EQ(window_->result(), 1);
    EXPECT_FALSE(window_->isVisible());
    EXPECT_FALSE(Panel().Engine().SourceOpen()) << "the sources are closed";
    EXPECT_EQ(services_.executionState, ES_CONTINUOUS);
}

} // namespace
} // namespace apptest
