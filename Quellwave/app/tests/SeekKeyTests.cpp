// The seek keys of the real main window playing generated WAV files to the null output (which takes the
// audio at a real DAC's pace): Left and Right and the rewind and fast-forward media keys move 10 s in the
// track, to its start at the most and past its end on to the next track; an open digit entry is only
// cancelled; held, they repeat at the volume buttons' pace.
#include "AppTestSupport.h"

#include "TestKit/DsfReadback.h"
#include "app/PlayerMessages.h"

#include "Platform/DsdRate.h"

#include <QKeyEvent>
#include <QSignalSpy>

namespace apptest {
namespace {

using namespace app;

class SeekKeyTest : public PlayerFixture {
protected:
    // Two tracks of a 30-second file.
    void StartTracks() {
        const std::string wav = WriteWav(dir_ / "tone.wav", 30.0);
        StartFiles({wav, wav});
        ASSERT_EQ(Panel().TrackCount(), 2u);
    }
    void PlayTrack1() {
        Key(Qt::Key_F6);
        ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    }
    void Press(int key, bool autoRepeat = false) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), autoRepeat);
        QCoreApplication::sendEvent(&Panel(), &press);
        Settle(Panel());
    }
    void Release(int key) {
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QCoreApplication::sendEvent(&Panel(), &release);
        Settle(Panel());
    }
    std::uint32_t EngineMs() { return Panel().Engine().PositionMs(); }
};

TEST_F(SeekKeyTest, KeysMoveTenSecondsWhilePlayingAndTheEngineGetsThere) {
    StartTracks();
    PlayTrack1();
    QSignalSpy seeked(&Panel(), &CPlayerDialog::Seeked);
    struct Step {
        const char* name;
        int key;
        std::int64_t step; // from where the track was
        unsigned track;    // where it is then
        bool fromStart;    // past the end: the next track from its start
    };
    const std::vector<Step> steps = {
        {"right", Qt::Key_Right, 10'000, 1, false},
        {"fast forward", Qt::Key_AudioForward, 10'000, 1, false},
        {"left", Qt::Key_Left, -10'000, 1, false},
        {"rewind", Qt::Key_AudioRewind, -10'000, 1, false},
        {"left before the start", Qt::Key_Left, -10'000, 1, false},
        {"right", Qt::Key_Right, 10'000, 1, false},
        {"right", Qt::Key_Right, 10'000, 1, false},
        {"right past the end", Qt::Key_Right, 10'000, 2, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const std::int64_t from = Panel().PositionMs();
        const int seeksBefore = static_cast<int>(seeked.count());
        Key(step.key);
        if (step.fromStart) {
            EXPECT_EQ(Panel().CurrentTrack(), step.track);
            ASSERT_TRUE(Pump(Panel(), [&] { return Playing() && Panel().Engine().CurrentTrack() == 2; }));
            EXPECT_LT(EngineMs(), 5000u);
            EXPECT_EQ(seeked.count(), seeksBefore) << "a change of track is no seek";
            continue;
        }
        const auto target = static_cast<std::uint32_t>(std::max<std::int64_t>(from + step.step, 0));
        // The window shows the new place at once (the engine went on playing a little since `from`).
        const std::uint32_t shown = Display().LastTime();
        EXPECT_GE(shown, target);
        EXPECT_LT(shown, target + 1000);
        EXPECT_EQ(Panel().PositionMs(), shown);
        ASSERT_EQ(seeked.count(), seeksBefore + 1);
        EXPECT_EQ(seeked.last().at(0).value<std::uint32_t>(), shown);
        // The engine plays from there once the audio queued before the move has played out; until then
        // the window holds the new place.
        ASSERT_TRUE(Pump(Panel(), [&] { return Panel().PositionMs() > shown; }));
        EXPECT_GE(EngineMs(), shown);
        EXPECT_LT(EngineMs(), shown + 3000);
        EXPECT_EQ(Panel().Engine().CurrentTrack(), step.track);
        // Reports of what was queued before the move never put the display back.
        ASSERT_TRUE(Pump(Panel(), [&] { return Display().LastTime() != shown; }));
        EXPECT_GE(Display().LastTime(), shown);
    }
    // With Ctrl the arrows are previous and next still.
    Key(Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(Panel().CurrentTrack(), 1u);
}

TEST_F(SeekKeyTest, AnOpenDigitEntryIsOnlyCancelled) {
    StartTracks();
    PlayTrack1();
    for (int key : {Qt::Key_Right, Qt::Key_Left, Qt::Key_AudioForward}) {
        SCOPED_TRACE(key);
        Key(Qt::Key_2);
        ASSERT_EQ(Panel().Entry(), 2u);
        const std::uint32_t before = Panel().PositionMs();
        Key(key);
        EXPECT_EQ(Panel().Entry(), 0u);
        EXPECT_FALSE(Display().EntryMode());
        EXPECT_FALSE(Panel().TimerActive(kTimerSeekRepeat));
        EXPECT_LT(Panel().PositionMs(), before + 2000) << "no seek";
        EXPECT_EQ(Panel().CurrentTrack(), 1u);
    }
}

TEST_F(SeekKeyTest, AHeldKeyRepeatsFromTheSecondTickAndItsReleaseEndsThat) {
    StartTracks();
    PlayTrack1();
    Key(Qt::Key_F6); // paused: each seek is taken at once
    ASSERT_FALSE(Playing());
    const std::uint32_t start = Panel().PositionMs();
    Press(Qt::Key_AudioForward);
    EXPECT_EQ(Panel().PositionMs(), start + 10'000);
    EXPECT_TRUE(Panel().TimerActive(kTimerSeekRepeat));
    // The system's own repeats of the key are no further presses.
    Press(Qt::Key_AudioForward, true);
    EXPECT_EQ(Panel().PositionMs(), start + 10'000);
    Panel().OnTimer(kTimerSeekRepeat);
    EXPECT_EQ(Panel().PositionMs(), start + 10'000) << "the first tick does not repeat";
    Panel().OnTimer(kTimerSeekRepeat);
    EXPECT_EQ(Panel().PositionMs(), start + 20'000);
    Release(Qt::Key_AudioForward);
    EXPECT_FALSE(Panel().TimerActive(kTimerSeekRepeat));
    Panel().OnTimer(kTimerSeekRepeat);
    EXPECT_EQ(Panel().PositionMs(), start + 20'000) << "released: no more repeats";
    EXPECT_EQ(Display().LastTime(), start + 20'000);
    // Play goes on from the place chosen while paused.
    Key(Qt::Key_F6);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    ASSERT_TRUE(Pump(Panel(), [&] { return EngineMs() > start + 20'000; }));
    EXPECT_LT(EngineMs(), start + 23'000);
    // Held back, the repeats stop at the track's start.
    Press(Qt::Key_Left);
    for (int tick = 0; tick < 6; ++tick)
        Panel().OnTimer(kTimerSeekRepeat);
    EXPECT_EQ(Panel().PositionMs(), 0u);
    EXPECT_EQ(Panel().CurrentTrack(), 1u);
    Release(Qt::Key_Left);
    ASSERT_TRUE(Pump(Panel(), [&] { return EngineMs() < 3000 && Display().LastTime() < 3000; }));
}

TEST_F(SeekKeyTest, NothingSeeksWhileStopped) {
    StartTracks();
    EXPECT_FALSE(Panel().CanSeek());
    Key(Qt::Key_Right);
    EXPECT_FALSE(Panel().Started());
    EXPECT_EQ(Panel().PositionMs(), 0u);
    PlayTrack1();
    EXPECT_TRUE(Panel().CanSeek());
    EXPECT_TRUE(Panel().State().canSeek);
}

TEST_F(SeekKeyTest, WhatReachesTheOutputLeavesOutTheTenSecondsSkipped) {
    // A 20-second file recorded by the dsf: output, which takes the audio as fast as it comes: played a
    // moment, paused, moved on 10 s (or not), and played to its end. The recording with the move holds
    // 10 s less audio than the one without; both carry the same fades at the pause, the resume and the end.
    // The file is no longer than that: under an emulated processor each recording converts at a fraction
    // of real time.
    const std::string wav = WriteWav(dir_ / "tone.wav", 20.0);
    const auto record = [&](bool seek) {
        const std::filesystem::path recording = dir_ / (seek ? "seek.dsf" : "plain.dsf");
        StartFiles({wav}, "dsf:" + recording.string());
        EXPECT_EQ(Panel().TrackCount(), 1u);
        Key(Qt::Key_F6);
        EXPECT_TRUE(Pump(Panel(), [&] { return Playing(); }));
        Key(Qt::Key_F6);
        EXPECT_FALSE(Playing());
        const std::uint32_t pausedAt = Panel().PositionMs();
        EXPECT_LT(pausedAt, 5'000u) << "the output ran on too far for the test";
        if (seek) {
            Key(Qt::Key_Right);
            EXPECT_EQ(Panel().PositionMs(), pausedAt + 10'000);
        }
        const platform::DsdRate rate = Panel().Engine().TrackRate();
        Key(Qt::Key_F6);
        // A deadline for the end, not a pace: the emulator beside another test can take minutes.
        EXPECT_TRUE(Pump(
            Panel(), [&] { return !Panel().Started(); }, 240'000))
            << "the track never ended";
        window_.reset(); // closes the recording
        const testkit::DsfStream stream = testkit::ReadDsf(recording, platform::DsdSampleRate(rate));
        EXPECT_TRUE(stream.valid) << stream.error;
        std::size_t audio = 0;
        for (const testkit::Run& run : stream.Segments())
            audio += run.count;
        return static_cast<double>(audio) * 4096.0 / static_cast<double>(platform::DsdBytesPerSecond(rate));
    };
    const double plain = record(false);
    const double skipped = record(true);
    EXPECT_NEAR(plain, 20.0, 0.6);
    // Each recording also holds what the reader, up to a ring and a chunk (0.55 s) ahead of the output,
    // read past the end before the output got there: that tail varies with the thread timing.
    EXPECT_NEAR(plain - skipped, 10.0, 0.6) << plain << " s without the move, " << skipped << " s with it";
}

} // namespace
} // namespace apptest
