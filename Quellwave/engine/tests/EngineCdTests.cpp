// The audio CD through the engine, end to end: a virtual drive holding a 5-track image of two steady
// tones (different on the two channels), played through the "dsf:" driver and decoded back to 44.1 kHz.
// The tones run on across the track boundaries, so any gap, fade or lost sector there shows as a
// departure from one steady fit of the whole recording.
#include "EngineFixture.h"

#include "Platform/DriveTable.h"
#include "Platform/VirtualDrive.h"
#include "TestKit/Bytes.h"
#include "TestKit/DiscImage.h"
#include "TestKit/ToneDisc.h"
#include "engine/CdStream.h"

#include <array>
#include <cmath>

namespace enginetest {
namespace {

using namespace testkit::cdtone;

// Track lengths in sectors (75 per second): all different, so what played tells which tracks played.
constexpr std::array<std::uint32_t, 5> kTracks = {60, 90, 75, 100, 80};

class EngineCdTest : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        testkit::cdtone::WriteDisc(dir_.Path(), kTracks);
        testkit::RegistrySandbox::MapImage('V', dir_ / "tones.cue");
    }

    // A run of sound lasts the frames played, and at most what the rings and the final chunk held when
    // the output found the end (the reader runs ahead of the output by up to a ring).
    static void ExpectLasts(const testkit::Run& run, double frames) {
        EXPECT_GE(static_cast<double>(run.count), frames / 512);
        EXPECT_LE(static_cast<double>(run.count), frames / 512 + kMostBlocksAhead);
    }
    static constexpr double kMostBlocksAhead = 32 + 11 + 2;
    // The engine's own move to the start of a track: a position (0, track).
    bool WaitForStartOf(std::uint32_t track) {
        return WaitUntil([track](const Message& m) {
            return m.msg == WM_PLAYER_POSITION && m.wParam == 0 && m.lParam == static_cast<LPARAM>(track);
        });
    }
};

TEST_F(EngineCdTest, TracksPlayOnWithoutAGapRenumberedByTimeAndEnd) {
    StartRecording();
    ASSERT_EQ(engine_.OpenDrive('V'), 1);
    EXPECT_TRUE(engine_.IsCD());
    ASSERT_EQ(engine_.GetTrackCount(), 5u);
    std::uint32_t ms = 0;
    ASSERT_TRUE(engine_.GetTrackLength(4, &ms));
    EXPECT_EQ(ms, 1333u);
    EXPECT_FALSE(engine_.GetTrackLength(6, &ms));
    ASSERT_EQ(engine_.SelectTrack(3, 0), 1);
    ASSERT_EQ(engine_.Play(), 1);
    ASSERT_TRUE(WaitForEnd());
    const testkit::DsfStream stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    EXPECT_EQ(Count(WM_PLAYER_END), 1u);

    // One unbroken run of sound for tracks 3, 4 and 5: a fade-in, the three tracks, a fade-out.
    const auto segments = stream.Segments();
    ASSERT_EQ(segments.size(), 1u);
    const double frames = (kTracks[2] + kTracks[3] + kTracks[4]) * double{kFramesPerSector};
    ExpectLasts(segments[0], frames);

    // The first position of each later track comes at its boundary with the time carried over.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> firsts; // track, ms
    for (const auto& m : Positions()) {
        if (firsts.empty() || firsts.back().first != m.lParam)
            firsts.emplace_back(static_cast<std::uint32_t>(m.lParam), static_cast<std::uint32_t>(m.wParam));
    }
    ASSERT_EQ(firsts.size(), 3u);
    EXPECT_EQ(firsts[0].first, 3u);
    EXPECT_EQ(firsts[1].first, 4u);
    EXPECT_EQ(firsts[2].first, 5u);
    EXPECT_LE(firsts[1].second, 12u) << "carried over, less than one block";
    EXPECT_LE(firsts[2].second, 12u);

    // Decoded, the recording is the image's two tones throughout: one steady fit holds across both
    // boundaries (a gap, a fade or a lost sector there would break it).
    const std::size_t edge = 44100 / 20; // the fades at the very start and end
    for (int channel = 0; channel < 2; ++channel) {
        SCOPED_TRACE(channel == 0 ? "left" : "right");
        const std::vector<float> y = Decode(stream, segments[0], channel);
        ASSERT_GT(y.size(), 3 * edge);
        // The disc's audio, then the zeros read past its end while the output played out what it held.
        ASSERT_GE(y.size(), static_cast<std::size_t>(frames));
        const Fit fit = FitTones(y, edge, static_cast<std::size_t>(frames) - edge);
        EXPECT_NEAR(20 * std::log10(fit.level1 / kLevel1[channel]), 0.0, 0.05);
        EXPECT_NEAR(20 * std::log10(fit.level2 / kLevel2[channel]), 0.0, 0.05);
        EXPECT_GT(fit.SnrDb(), 90.0);
        std::printf("[ measured ] CD through the engine, %s: SNR %.1f dB after decimation and alignment\n",
                    channel == 0 ? "left" : "right", fit.SnrDb());
        // Around each boundary (where the engine renumbered), no sample strays from the fit.
        const double boundary4 = kTracks[2] * double{kFramesPerSector};
        for (const double at : {boundary4, boundary4 + kTracks[3] * double{kFramesPerSector}}) {
            const auto centre = static_cast<std::size_t>(at);
            double worst = 0;
            for (std::size_t k = centre - 2000; k < centre + 2000; ++k)
                worst = std::max(worst, std::abs(y[k] - fit.At(k)));
            EXPECT_LT(worst, 0.001) << "at frame " << centre;
        }
    }
}

TEST_F(EngineCdTest, RepeatOneSelectsTheTrackAgain) {
    StartRecording();
    ASSERT_EQ(engine_.OpenDrive('V'), 1);
    engine_.SetRepeatMode(1);
    ASSERT_EQ(engine_.SelectTrack(3, 0), 1);
    ASSERT_EQ(engine_.Play(), 1);
    // The end of track 3 starts it again from 0: the engine's own move is a position (0, 3).
    ASSERT_TRUE(WaitForStartOf(3));
    ASSERT_TRUE(WaitForStartOf(3));
    engine_.SetRepeatMode(0);
    ASSERT_TRUE(WaitForEnd());
    const testkit::DsfStream stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    for (const auto& m : Positions())
        EXPECT_GE(m.lParam, 3) << "never before track 3";
    // Track 3, track 3, then 3 to 5: each start faded in after silence.
    const auto segments = stream.Segments();
    ASSERT_EQ(segments.size(), 3u);
    const double track3 = kTracks[2] * double{kFramesPerSector};
    ExpectLasts(segments[0], track3);
    ExpectLasts(segments[1], track3);
    ExpectLasts(segments[2], (kTracks[2] + kTracks[3] + kTracks[4]) * double{kFramesPerSector});
    // What follows track 3 before it starts again is silence, not the beginning of track 4.
    for (std::size_t s = 0; s < 2; ++s) {
        const std::vector<float> y = Decode(stream, segments[s], 0);
        const std::size_t end = static_cast<std::size_t>(track3);
        double loudest = 0;
        for (std::size_t k = end + 1000; k < y.size(); ++k)
            loudest = std::max(loudest, static_cast<double>(std::abs(y[k])));
        EXPECT_LT(loudest, 0.001) << "segment " << s;
    }
}

// A repeat mode changed while a track plays counts where the listener is: at the boundary the output
// reaches, not where the reader, a ring ahead, has already read to. The recorder is paced, so the rings
// are full and the reader is past the boundary when the mode changes, 8 blocks (93 ms) before it.
struct RepeatChange {
    const char* name;
    std::int32_t from;
    std::int32_t to;
    std::uint32_t track;
};

class EngineCdRepeatTest : public EngineCdTest, public ::testing::WithParamInterface<RepeatChange> {
protected:
    void TearDown() override { PacedRecorder::OnBlock() = nullptr; }

    // Plays the track with the first mode and changes to the second 8 blocks before the track's end, as
    // counted on the blocks that reach the device.
    void PlayAndChangeNearTheEnd(const RepeatChange& change) {
        RegisterPacedRecorder();
        const double frames = kTracks[change.track - 1] * double{kFramesPerSector};
        const auto at = static_cast<std::size_t>(frames / 512) - 8;
        std::size_t sounding = 0;
        PacedRecorder::OnBlock() = [this, at, sounding, to = change.to](const std::uint8_t* left) mutable {
            const bool silent = std::all_of(left, left + 4096, [](std::uint8_t b) { return b == 0x69; });
            if (sounding > 0 || !silent)
                ++sounding;
            if (sounding == at)
                engine_.SetRepeatMode(to);
        };
        ASSERT_EQ(Start("paced-dsf:" + DsfPath()), S_OK);
        ASSERT_EQ(engine_.OpenDrive('V'), 1);
        engine_.SetRepeatMode(change.from);
        ASSERT_EQ(engine_.SelectTrack(change.track, 0), 1);
        ASSERT_EQ(engine_.Play(), 1);
    }
    std::vector<std::uint32_t> TracksReported() const {
        std::vector<std::uint32_t> tracks;
        for (const auto& m : Positions()) {
            if (tracks.empty() || tracks.back() != static_cast<std::uint32_t>(m.lParam))
                tracks.push_back(static_cast<std::uint32_t>(m.lParam));
        }
        return tracks;
    }
    // As ExpectLasts, but the rings are full at every stop of a paced run: the final chunk comes after
    // a full ring.
    static void ExpectLastsPaced(const testkit::Run& run, double frames) {
        EXPECT_GE(static_cast<double>(run.count), frames / 512);
        EXPECT_LE(static_cast<double>(run.count), frames / 512 + kMostBlocksAhead + engine::kFinalChunkUnits);
    }
    // The disc's two tones hold through the run (from its fade-in to frames).
    static void ExpectTones(const testkit::DsfStream& stream, const testkit::Run& run, double frames) {
        const std::vector<float> y = Decode(stream, run, 0);
        ASSERT_GE(y.size(), static_cast<std::size_t>(frames));
        const Fit fit = FitTones(y, 44100 / 20, static_cast<std::size_t>(frames) - 44100 / 20);
        EXPECT_NEAR(fit.level1, kLevel1[0], 0.005);
        EXPECT_GT(fit.SnrDb(), 60.0);
    }
};

TEST_P(EngineCdRepeatTest, WhatIsHeardFollowsTheModeAtTheBoundary) {
    const RepeatChange change = GetParam();
    PlayAndChangeNearTheEnd(change);
    const double track = kTracks[change.track - 1] * double{kFramesPerSector};
    const double rest = (kTracks[3] + kTracks[4]) * double{kFramesPerSector}; // tracks 4 and 5
    if (change.to == 1) {
        // The track starts again: once it has, the repeat is turned off and the disc plays on to its end.
        ASSERT_TRUE(WaitForStartOf(3));
        engine_.SetRepeatMode(0);
    }
    ASSERT_TRUE(WaitForEnd());
    const testkit::DsfStream stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    const auto segments = stream.Segments();
    if (change.from == 1 && change.to == 0) {
        // Track 3 ends in silence (the reader had stopped at the boundary) and tracks 4 and 5 follow
        // from their start, heard, not silence under running positions.
        EXPECT_EQ(TracksReported(), (std::vector<std::uint32_t>{3, 4, 5}));
        ASSERT_EQ(segments.size(), 2u);
        ExpectLasts(segments[0], track);
        ExpectLastsPaced(segments[1], rest);
        ExpectTones(stream, segments[1], rest);
    } else if (change.to == 1) {
        // Track 3 and nothing of track 4 after it, then track 3 again and the rest of the disc.
        EXPECT_EQ(TracksReported(), (std::vector<std::uint32_t>{3, 4, 5}));
        ASSERT_EQ(segments.size(), 2u);
        EXPECT_GE(static_cast<double>(segments[0].count), track / 512);
        EXPECT_LE(static_cast<double>(segments[0].count), track / 512 + 1) << "track 4 was heard";
        ExpectLastsPaced(segments[1], track + rest);
        ExpectTones(stream, segments[1], track + rest);
    } else {
        // Repeat all turned off before the last track's end: the disc ends there.
        EXPECT_EQ(TracksReported(), (std::vector<std::uint32_t>{5}));
        ASSERT_EQ(segments.size(), 1u);
        ExpectLastsPaced(segments[0], track);
    }
    EXPECT_EQ(Count(WM_PLAYER_END), 1u);
}

INSTANTIATE_TEST_SUITE_P(Repeat, EngineCdRepeatTest,
                         ::testing::Values(RepeatChange{"OneToOff", 1, 0, 3},
                                           RepeatChange{"OffToOne", 0, 1, 3},
                                           RepeatChange{"AllToOffOnTheLastTrack", 2, 0, 5}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(EngineCdTest, AnUnreadableDiscPlaysSilenceForTheTrackLengthsAndEnds) {
    StartRecording();
    ASSERT_EQ(engine_.OpenDrive('V'), 1);
    std::string error;
    const auto drive = platform::VirtualDrive::ForLetter('V', dir_ / "tones.cue", error);
    ASSERT_TRUE(drive) << error;
    drive->ArmNotReady(1000000);
    ASSERT_EQ(engine_.SelectTrack(4, 0), 1);
    ASSERT_EQ(engine_.Play(), 1);
    ASSERT_TRUE(WaitForEnd());
    drive->ArmNotReady(0);
    const testkit::DsfStream stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    std::size_t converted = 0;
    for (const auto& block : stream.blocks) {
        if (!block.Silent()) {
            ++converted;
            EXPECT_NEAR(block.LeftDensity(), 0.5, 0.01) << "zeros converted: the modulator's silence";
        }
    }
    const double frames = (kTracks[3] + kTracks[4]) * double{kFramesPerSector};
    EXPECT_GE(static_cast<double>(converted), frames / 512);
    EXPECT_LE(static_cast<double>(converted), frames / 512 + kMostBlocksAhead);
    bool sawTrack5 = false;
    for (const auto& m : Positions())
        sawTrack5 = sawTrack5 || m.lParam == 5;
    EXPECT_TRUE(sawTrack5);
}

TEST_F(EngineCdTest, OpeningFilesOrAnotherLetterClosesTheDisc) {
    StartRecording();
    EXPECT_EQ(engine_.OpenDrive('Q'), 0) << "no drive behind Q";
    EXPECT_FALSE(engine_.SourceOpen());
    ASSERT_EQ(engine_.OpenDrive('V'), 1);
    const std::string wav = ConstantWav("a.wav", 16, 0.2, 0.5);
    ASSERT_EQ(engine_.OpenFiles({wav}), 1);
    EXPECT_FALSE(engine_.IsCD());
    EXPECT_EQ(engine_.GetTrackCount(), 1u);
    ASSERT_EQ(engine_.OpenDrive('V'), 1);
    EXPECT_TRUE(engine_.IsCD());
    EXPECT_EQ(engine_.GetTrackCount(), 5u);
    EXPECT_EQ(engine_.CloseDrive(), 1);
    EXPECT_FALSE(engine_.SourceOpen());
    EXPECT_EQ(engine_.GetTrackCount(), 0u);
    // The tray: ejecting closes the disc; the drive then has no disc until it is loaded again.
    ASSERT_EQ(engine_.OpenDrive('V'), 1);
    EXPECT_TRUE(engine_.EjectDisc('V'));
    EXPECT_FALSE(engine_.SourceOpen());
    EXPECT_EQ(engine_.OpenDrive('V'), 0);
    EXPECT_TRUE(engine_.LoadDisc('V'));
    EXPECT_EQ(engine_.OpenDrive('V'), 1);
}

TEST_F(EngineCdTest, EjectingWhilePlayingEndsThePlaybackFirst) {
    StartRecording();
    ASSERT_EQ(engine_.OpenDrive('V'), 1);
    ASSERT_EQ(engine_.SelectTrack(1, 0), 1);
    ASSERT_EQ(engine_.Play(), 1);
    ASSERT_TRUE(WaitUntil([](const Message& m) { return m.msg == WM_PLAYER_POSITION && m.lParam == 2; }));
    EXPECT_TRUE(engine_.EjectDisc('V'));
    EXPECT_EQ(engine_.Playing(), 0);
    EXPECT_FALSE(engine_.SourceOpen());
    const testkit::DsfStream stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    ASSERT_EQ(stream.Segments().size(), 1u);
    const auto& last = stream.blocks[stream.Segments()[0].first + stream.Segments()[0].count - 1];
    EXPECT_NEAR(last.LeftDensity(), 0.5, 0.01) << "faded out";
    EXPECT_LT(stream.Segments()[0].count, 240u) << "stopped inside track 2";
    EXPECT_TRUE(engine_.LoadDisc('V'));
}

// A scratch in track 3 (one sector the drive never reads) is a moment of silence there; the disc plays
// on, tracks 4 and 5 are their own audio, and the positions renumber at the boundaries on time.
TEST_F(EngineCdTest, AnUnreadableSectorIsAMomentOfSilenceAndTheDiscPlaysOn) {
    StartRecording();
    ASSERT_EQ(engine_.OpenDrive('V'), 1);
    std::string error;
    const auto drive = platform::VirtualDrive::ForLetter('V', dir_ / "tones.cue", error);
    ASSERT_TRUE(drive) << error;
    const std::uint32_t track3 = kTracks[0] + kTracks[1];
    drive->ArmReadError({static_cast<LONG>(track3 + 20), 3, 0x11, 0, 0, 0});
    ASSERT_EQ(engine_.SelectTrack(3, 0), 1);
    ASSERT_EQ(engine_.Play(), 1);
    ASSERT_TRUE(WaitForEnd());
    const testkit::DsfStream stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> firsts; // track, ms
    for (const auto& m : Positions()) {
        if (firsts.empty() || firsts.back().first != m.lParam)
            firsts.emplace_back(static_cast<std::uint32_t>(m.lParam), static_cast<std::uint32_t>(m.wParam));
    }
    ASSERT_EQ(firsts.size(), 3u);
    EXPECT_EQ(firsts[1].first, 4u);
    EXPECT_EQ(firsts[2].first, 5u);
    EXPECT_LE(firsts[1].second, 12u);
    EXPECT_LE(firsts[2].second, 12u);
    const auto segments = stream.Segments();
    ASSERT_EQ(segments.size(), 1u);
    const double frames = (kTracks[2] + kTracks[3] + kTracks[4]) * double{kFramesPerSector};
    ExpectLasts(segments[0], frames);
    // From a little after the scratch to the end, the tones hold steadily: tracks 4 and 5 sound.
    const auto from = static_cast<std::size_t>((20 + 10) * double{kFramesPerSector});
    for (int channel = 0; channel < 2; ++channel) {
        const std::vector<float> y = Decode(stream, segments[0], channel);
        ASSERT_GE(y.size(), static_cast<std::size_t>(frames));
        const Fit fit = FitTones(y, from, static_cast<std::size_t>(frames) - 2205);
        EXPECT_GT(fit.SnrDb(), 90.0) << "channel " << channel;
        EXPECT_NEAR(fit.level1, kLevel1[channel], 0.005);
    }
}

// A mixed disc: data tracks hold no audio. The disc mode counts the tracks up to the last audio one; a
// data track chosen or reached gives way to the next audio track.
TEST_F(EngineCdTest, DataTracksAreSkipped) {
    testkit::WriteText(dir_ / "mixed.cue",
                       testkit::CueSheet("tones.bin", {kTracks.begin(), kTracks.end()}, {2, 5}));
    testkit::RegistrySandbox::MapImage('M', dir_ / "mixed.cue");

    StartRecording();
    ASSERT_EQ(engine_.OpenDrive('M'), 1);
    EXPECT_EQ(engine_.GetTrackCount(), 4u) << "the data track at the end is not counted";
    ASSERT_EQ(engine_.SelectTrack(1, 0), 1);
    ASSERT_EQ(engine_.Play(), 1);
    ASSERT_TRUE(WaitForEnd());
    const testkit::DsfStream stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    std::vector<std::uint32_t> tracks;
    for (const auto& m : Positions()) {
        if (tracks.empty() || tracks.back() != static_cast<std::uint32_t>(m.lParam))
            tracks.push_back(static_cast<std::uint32_t>(m.lParam));
    }
    EXPECT_EQ(tracks, (std::vector<std::uint32_t>{1, 3, 4}));
    // Track 1, then tracks 3 and 4 in one run: each start faded in.
    const auto segments = stream.Segments();
    ASSERT_EQ(segments.size(), 2u);
    ExpectLasts(segments[0], kTracks[0] * double{kFramesPerSector});
    ExpectLasts(segments[1], (kTracks[2] + kTracks[3]) * double{kFramesPerSector});
    // A data track chosen plays the next audio track.
    ASSERT_EQ(engine_.SelectTrack(2, 0), 1);
    EXPECT_EQ(engine_.CurrentTrack(), 3u);
}

// A start inside a track, as a seek or a start time makes it: the stream's first frame is the one asked for
// (the nearest frame to the time), not the first of the sector that holds it. Every frame of this image
// holds its own number.
TEST_F(EngineCdTest, AStartInsideATrackBeginsAtTheAskedFrameNotAtItsSector) {
    constexpr std::uint32_t kSectors = 150; // a track: 2 s
    testkit::Bytes image(std::size_t{2} * kSectors * platform::kCdSectorBytes);
    for (std::size_t frame = 0; frame < image.size() / 4; ++frame)
        for (std::size_t b = 0; b < 4; ++b)
            image[frame * 4 + b] = static_cast<std::uint8_t>(frame >> (8 * b));
    ASSERT_TRUE(testkit::WriteBytes(dir_ / "count.bin", image));
    ASSERT_TRUE(testkit::WriteText(dir_ / "count.cue",
                                   testkit::SheetOf("count.bin", {{'a', kSectors}, {'a', kSectors}})));
    testkit::RegistrySandbox::MapImage('V', dir_ / "count.cue");
    CDiscPilot drive;
    ASSERT_TRUE(drive.SetDrive('V'));
    const std::atomic<std::int32_t> repeat{0};
    engine::CdStream stream(drive, repeat);
    const struct {
        std::uint32_t track, ms, frame; // frame: from the disc's start
    } cases[] = {
        {1, 0, 0},
        {1, 1000, 44100},
        {1, 1234, 54419},                  // 54 419.4
        {1, 1345, 59315},                  // 59 314.5, a half rounds up
        {2, 13, kSectors * 588 + 573},     // inside the track's first sector
        {2, 1986, kSectors * 588 + 87583}, // the track's last sectors, read on into the next
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(drive.SetPosition(c.track, c.ms)) << c.ms;
        stream.Start(c.track, c.ms);
        std::array<std::uint8_t, 4 * 600> pcm{};
        stream.ReadPcm(pcm.data(), static_cast<std::uint32_t>(pcm.size()));
        std::uint32_t wrong = 0;
        for (std::uint32_t k = 0; k < pcm.size() / 4; ++k) {
            const std::uint32_t got = pcm[4 * k] | pcm[4 * k + 1] << 8 | pcm[4 * k + 2] << 16 |
                                      static_cast<std::uint32_t>(pcm[4 * k + 3]) << 24;
            wrong += got != c.frame + k;
        }
        const std::uint32_t first = pcm[0] | pcm[1] << 8 | pcm[2] << 16;
        EXPECT_EQ(wrong, 0u) << "track " << c.track << " at " << c.ms << " ms begins at frame " << first;
    }
}

} // namespace
} // namespace enginetest
