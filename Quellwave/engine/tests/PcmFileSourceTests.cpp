// The PCM file source: every format and rate decodes and resamples to 44 100 Hz with the tone's level,
// phase and purity intact; refusals carry their reason; damaged and cut files end where their audio ends;
// and the engine plays such files between ordinary WAVs.
#include "EngineFixture.h"
#include "TestKit/PcmFiles.h"
#include "TestKit/Scratch.h"
#include "engine/CPcmFileSource.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using engine::PcmFileFollower;

using engine::CPcmFileSource;
using engine::CPlaybackEngine;
using engine::PcmOpenError;
using engine::PcmOpenErrorText;
using engine::PcmTags;
using engine::ReadPcmFileTags;

using testkit::PcmShape;

namespace {

// Decodes a packed 24-bit stereo buffer to doubles of one channel.
std::vector<double> Channel(const std::vector<std::uint8_t>& bytes, int channel) {
    std::vector<double> out;
    for (std::size_t at = static_cast<std::size_t>(channel) * 3; at + 3 <= bytes.size(); at += 6) {
        std::int32_t v = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16;
        if (bytes[at + 2] >= 128)
            v -= 1 << 24;
        out.push_back(v / 8388608.0);
    }
    return out;
}

// Everything the source delivers, until it delivers nothing more.
std::vector<std::uint8_t> ReadAll(CPcmFileSource& source) {
    std::vector<std::uint8_t> all, chunk(8192 * CPcmFileSource::kOutputFrameBytes);
    for (;;) {
        const std::size_t got = source.ReadFrames(chunk.data(), 8192);
        all.insert(all.end(), chunk.begin(), chunk.begin() + static_cast<long>(got * 6));
        if (got == 0)
            return all;
    }
}

struct SineFit {
    double amplitude = 0; // of the fitted sine
    double phase = 0;     // radians at sample `from`
    double snrDb = 0;     // fitted sine over what remains
};

// Least-squares fit of a sine of hz (at 44 100 Hz) to samples [from, from + count).
SineFit FitSine(const std::vector<double>& x, std::size_t from, std::size_t count, double hz) {
    const double w = 2.0 * std::numbers::pi * hz / 44100.0;
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0;
    for (std::size_t n = 0; n < count; ++n) {
        const double s = std::sin(w * static_cast<double>(n)), c = std::cos(w * static_cast<double>(n));
        ss += s * s, cc += c * c, sc += s * c, xs += x[from + n] * s, xc += x[from + n] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
    double signal = 0, residual = 0;
    for (std::size_t n = 0; n < count; ++n) {
        const double fit =
            a * std::sin(w * static_cast<double>(n)) + b * std::cos(w * static_cast<double>(n));
        signal += fit * fit;
        residual += (x[from + n] - fit) * (x[from + n] - fit);
    }
    return {std::hypot(a, b), std::atan2(b, a), 10.0 * std::log10(signal / residual)};
}

struct FormatCase {
    const char* name;
    int format;
    int rate;
    int channels;
    const char* formatName;
    std::uint32_t bits;
    double minSnrDb; // of the decoded and resampled tone; the input's own quantisation limits 16 bits
};

class PcmFormatTest : public ::testing::TestWithParam<FormatCase> {
protected:
    testkit::ScratchFolder dir_;
};

TEST_P(PcmFormatTest, DecodesAndResamplesTheToneUnchanged) {
    const FormatCase& c = GetParam();
    PcmShape shape;
    shape.format = c.format;
    shape.rate = c.rate;
    shape.channels = c.channels;
    const auto path = dir_ / c.name;
    ASSERT_TRUE(testkit::WritePcm(path, shape)) << c.name;

    CPcmFileSource source;
    ASSERT_TRUE(source.Open(path.c_str())) << c.name << ": " << PcmOpenErrorText(source.LastOpenError());
    EXPECT_EQ(source.FormatName(), c.formatName);
    EXPECT_EQ(source.SampleRate(), static_cast<std::uint32_t>(c.rate));
    EXPECT_EQ(source.Channels(), static_cast<std::uint32_t>(c.channels));
    EXPECT_EQ(source.Bits(), c.bits);
    EXPECT_EQ(source.LengthMs(), 1000u);

    const auto bytes = ReadAll(source);
    // One second at 44 100 Hz, whatever the input rate: the resampler gives out its tail at the end.
    EXPECT_NEAR(static_cast<double>(bytes.size() / 6), 44100.0, 2.0) << c.name;
    EXPECT_EQ(source.EarlyEndMs(), CPcmFileSource::kNoEarlyEnd);
    const auto left = Channel(bytes, 0), right = Channel(bytes, 1);
    ASSERT_GE(left.size(), 40000u);
    // Away from the edges (where the tone starts and stops abruptly) the tone is a pure sine at its level
    // and with its phase: the resampler neither delays nor colours it.
    const SineFit l = FitSine(left, 4410, 32768, shape.hz);
    EXPECT_NEAR(l.amplitude, 0.5, 0.5 * 1e-4) << c.name;
    const double expectedPhase =
        std::fmod(2.0 * std::numbers::pi * shape.hz * 4410 / 44100.0, 2.0 * std::numbers::pi);
    EXPECT_NEAR(std::remainder(l.phase - expectedPhase, 2.0 * std::numbers::pi), 0.0, 1e-4) << c.name;
    EXPECT_GE(l.snrDb, c.minSnrDb) << c.name;
    const SineFit r = FitSine(right, 4410, 32768, shape.hz);
    // Mono plays on both channels; stereo keeps its right channel (built 6 dB lower).
    EXPECT_NEAR(r.amplitude, c.channels == 1 ? 0.5 : 0.25, 0.5 * 1e-4) << c.name;
    if (c.channels == 1) {
        EXPECT_EQ(left, right) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PcmFormatTest,
    ::testing::Values(FormatCase{"a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, "flac", 16, 85},
                      FormatCase{"b.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 44100, 2, "flac", 24, 125},
                      FormatCase{"c.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2, "flac", 16, 85},
                      FormatCase{"d.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 88200, 2, "flac", 24, 125},
                      FormatCase{"e.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000, 2, "flac", 24, 125},
                      FormatCase{"f.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 176400, 2, "flac", 24, 125},
                      FormatCase{"g.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 192000, 2, "flac", 24, 125},
                      FormatCase{"h.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 48000, 2, "aiff", 24, 125},
                      FormatCase{"i.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 44100, 2, "aiff-float", 32, 125},
                      FormatCase{"j.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 96000, 2, "wav-float", 32, 125},
                      FormatCase{"k.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 44100, 2, "wav", 32, 125},
                      FormatCase{"l.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, "wav", 16, 85},
                      FormatCase{"m.caf", SF_FORMAT_CAF | SF_FORMAT_ALAC_24, 48000, 2, "caf", 24, 125},
                      FormatCase{"n.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_24, 384000, 2, "w64", 24, 125},
                      FormatCase{"o.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_24, 8000, 1, "rf64", 24, 125},
                      FormatCase{"p.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 22050, 2, "wav-float", 64, 125}),
    [](const auto& param) { return std::string(param.param.name).substr(0, 1); });

class PcmFileTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const PcmShape& shape) {
        const auto path = dir_ / name;
        EXPECT_TRUE(testkit::WritePcm(path, shape)) << name;
        return path.string();
    }
    testkit::ScratchFolder dir_;
};

TEST_F(PcmFileTest, RefusalsNameTheirReason) {
    PcmShape six;
    six.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    six.channels = 6;
    PcmShape slow = six;
    slow.channels = 2, slow.rate = 4000;
    PcmShape fast = slow;
    fast.rate = 400000;
    PcmShape empty = slow;
    empty.rate = 48000, empty.seconds = 0;
    const auto text = dir_.Put("notes.txt", "hello, this is not audio at all\n");
    const struct {
        std::string path;
        PcmOpenError error;
    } cases[] = {
        {Write("six.wav", six), PcmOpenError::TooManyChannels},
        {Write("slow.wav", slow), PcmOpenError::RateOutOfRange},
        {Write("fast.wav", fast), PcmOpenError::RateOutOfRange},
        {Write("empty.wav", empty), PcmOpenError::EmptyData},
        {text.string(), PcmOpenError::NotRecognised},
        {(dir_ / "missing.flac").string(), PcmOpenError::NoSuchFile},
        {dir_.Path().string(), PcmOpenError::IsDirectory},
    };
    for (const auto& c : cases) {
        CPcmFileSource source;
        EXPECT_FALSE(source.Open(c.path.c_str())) << c.path;
        EXPECT_FALSE(source.IsOpen()) << c.path;
        EXPECT_EQ(source.LastOpenError(), c.error)
            << c.path << ": " << PcmOpenErrorText(source.LastOpenError());
    }
}

TEST_F(PcmFileTest, CutAndDamagedFlacsEndWhereTheirAudioEnds) {
    PcmShape shape;
    shape.seconds = 4;
    const std::string whole = Write("whole.flac", shape);
    const auto bytes = testkit::ReadBytes(whole);
    // Cut in half: the header still announces four seconds.
    testkit::WriteBytes(dir_ / "cut.flac",
                        testkit::Bytes(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2)));
    // Garbage over the middle of the frames.
    testkit::Bytes damaged = bytes;
    for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 4096; ++i)
        damaged[i] = static_cast<std::uint8_t>(i * 7);
    testkit::WriteBytes(dir_ / "damaged.flac", damaged);
    // Nothing but the header.
    testkit::WriteBytes(dir_ / "header.flac", testkit::Bytes(bytes.begin(), bytes.begin() + 200));

    for (const char* name : {"cut.flac", "damaged.flac", "header.flac"}) {
        CPcmFileSource source;
        const std::string path = (dir_ / name).string();
        if (!source.Open(path.c_str())) {
            // Refused with a reason is fine; only a damaged file that opens must end early.
            EXPECT_NE(source.LastOpenError(), PcmOpenError::None) << name;
            continue;
        }
        // A file cut in half cannot hold the four seconds its header announces: that total may be
        // disbelieved, but is never taken for another.
        EXPECT_TRUE(source.LengthMs() == 4000u || (!source.LengthKnown() && std::string(name) == "cut.flac"))
            << name << ": " << source.LengthMs();
        const auto audio = ReadAll(source);
        const double deliveredMs = static_cast<double>(audio.size() / 6) * 1000.0 / 44100.0;
        if (std::string(name) == "damaged.flac" && source.EarlyEndMs() == CPcmFileSource::kNoEarlyEnd) {
            // The decoder skipped the damaged frames and went on: the rest of the file still plays.
            EXPECT_GT(deliveredMs, 3000.0) << name;
            continue;
        }
        ASSERT_NE(source.EarlyEndMs(), CPcmFileSource::kNoEarlyEnd) << name;
        EXPECT_LE(source.EarlyEndMs(), 2100u) << name;
        EXPECT_NEAR(deliveredMs, source.EarlyEndMs(), 100.0) << name;
        EXPECT_FALSE(source.Read(std::vector<std::uint8_t>(6144).data(), 6144)) << name;
    }
}

TEST_F(PcmFileTest, SeekLandsOnTheSameAudioAsPlayingThrough) {
    for (const int rate : {44100, 96000}) {
        PcmShape shape;
        shape.rate = rate;
        shape.seconds = 2;
        const std::string path = Write("seek-" + std::to_string(rate) + ".flac", shape);
        CPcmFileSource through, seeked;
        ASSERT_TRUE(through.Open(path.c_str()));
        ASSERT_TRUE(seeked.Open(path.c_str()));
        const auto all = Channel(ReadAll(through), 0);
        ASSERT_TRUE(seeked.SeekMs(500));
        const auto after = Channel(ReadAll(seeked), 0);
        ASSERT_GE(after.size(), 60000u);
        // From the first sample on, the samples are the ones played through: the resampler is primed
        // with the audio before the place, so its filter does not ring from a cold start. At 44 100 Hz
        // nothing is resampled and they are exact.
        double worst = 0;
        for (std::size_t n = 0; n < 40000; ++n)
            worst = std::max(worst, std::abs(after[n] - all[22050 + n]));
        EXPECT_LE(worst, rate == 44100 ? 0.0 : 1e-5) << rate;
        EXPECT_FALSE(seeked.SeekMs(2500)) << "past the end";
        EXPECT_FALSE(seeked.Read(std::vector<std::uint8_t>(6144).data(), 6144));
    }
}

// A follower that names a fixed list of files, one after the other, and counts the files followed.
class ListFollower : public PcmFileFollower {
public:
    explicit ListFollower(std::vector<std::string> paths) : paths_(std::move(paths)) {}
    const char* NextPath() override { return next_ < paths_.size() ? paths_[next_].c_str() : nullptr; }
    void Followed() override { ++next_; }
    std::size_t followed() const { return next_; }

private:
    std::vector<std::string> paths_;
    std::size_t next_ = 0;
};

TEST_F(PcmFileTest, AFollowerRunsTheAudioOnIntoTheNextFileThroughTheSameResampler) {
    struct Case {
        const char* name;
        int rate, secondRate, secondChannels;
        std::size_t followed;
    };
    const Case cases[] = {
        {"96 kHz into 96 kHz", 96000, 96000, 2, 2},
        {"44.1 kHz into 44.1 kHz", 44100, 44100, 2, 2},
        {"another rate ends the audio", 96000, 48000, 2, 0},
        {"mono after stereo ends the audio", 96000, 96000, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // One tone in three files cut at frames that are no multiple of anything, and the tone whole.
        PcmShape shape;
        shape.rate = c.rate;
        shape.seconds = 1.2;
        const std::string whole = Write("whole.flac", shape);
        const std::array<long, 4> cuts = {0, c.rate * 4 / 10 + 7, c.rate * 8 / 10 + 3, c.rate * 12 / 10};
        std::vector<std::string> pieces;
        for (std::size_t i = 0; i < 3; ++i) {
            PcmShape piece = shape;
            if (i > 0) {
                piece.rate = c.secondRate;
                piece.channels = c.secondChannels;
            }
            piece.firstFrame = cuts[i];
            piece.seconds = static_cast<double>(cuts[i + 1] - cuts[i]) / c.rate;
            pieces.push_back(Write("piece" + std::to_string(i) + ".flac", piece));
        }
        CPcmFileSource one, joined;
        ASSERT_TRUE(one.Open(whole.c_str()));
        ASSERT_TRUE(joined.Open(pieces[0].c_str()));
        ListFollower follower({pieces[1], pieces[2]});
        joined.SetFollower(&follower);
        const auto all = Channel(ReadAll(one), 0);
        const auto run = Channel(ReadAll(joined), 0);
        EXPECT_EQ(follower.followed(), c.followed);
        if (c.followed == 0) {
            // The first file alone, its resampler's tail included.
            EXPECT_NEAR(static_cast<double>(run.size()), static_cast<double>(cuts[1]) * 44100 / c.rate, 2.0);
            continue;
        }
        ASSERT_EQ(run.size(), all.size());
        double worst = 0;
        for (std::size_t n = 0; n < all.size(); ++n)
            worst = std::max(worst, std::abs(run[n] - all[n]));
        // As the whole file to within a 24-bit step (the resampler is fed in other pieces).
        EXPECT_LE(worst, 2.5 / 8388608.0);
        EXPECT_EQ(joined.Frames(), static_cast<std::uint64_t>(cuts[3] - cuts[2]));
    }
}

TEST_F(PcmFileTest, TagsAreReadFromEveryContainerThatCarriesThem) {
    for (const int format : {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, SF_FORMAT_WAV | SF_FORMAT_PCM_24,
                             SF_FORMAT_WAV | SF_FORMAT_PCM_16}) {
        PcmShape shape;
        shape.format = format;
        shape.rate = 44100;
        shape.seconds = 0.1;
        shape.title = "Largo: \"Ombra mai fu\"";
        shape.artist = "Ensemble Ö";
        shape.album = "Arias";
        const std::string path = Write("tagged-" + std::to_string(format), shape);
        PcmTags tags;
        ASSERT_TRUE(ReadPcmFileTags(path.c_str(), &tags)) << format;
        EXPECT_EQ(tags.title, shape.title) << format;
        EXPECT_EQ(tags.artist, shape.artist) << format;
        EXPECT_EQ(tags.album, shape.album) << format;
    }
    PcmTags none;
    EXPECT_FALSE(ReadPcmFileTags((dir_ / "missing.flac").c_str(), &none));
    EXPECT_TRUE(none.title.empty());
}

} // namespace

namespace enginetest {
namespace {

class EnginePcmFileTest : public EngineFixture {};

TEST_F(EnginePcmFileTest, FlacsPlayBetweenWavsEachForItsLengthAndACutOneEndsWithItsAudio) {
    PcmShape flac;
    flac.rate = 96000;
    flac.channels = 1;
    flac.seconds = 1;
    const auto flacPath = dir_ / "tone.flac";
    ASSERT_TRUE(testkit::WritePcm(flacPath, flac));
    PcmShape longer = flac;
    longer.seconds = 3;
    const auto longPath = dir_ / "long.flac";
    ASSERT_TRUE(testkit::WritePcm(longPath, longer));
    const auto bytes = testkit::ReadBytes(longPath);
    const auto cutPath = dir_ / "cut.flac";
    testkit::WriteBytes(cutPath,
                        testkit::Bytes(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 3)));
    const std::string wav = ConstantWav("level.wav", 16, 1.0, 0.25);

    StartRecording();
    ASSERT_EQ(engine_.OpenFiles({flacPath.string(), wav, cutPath.string()}), 1);
    ASSERT_EQ(engine_.GetTrackCount(), 3u);
    std::uint32_t ms = 0;
    ASSERT_TRUE(engine_.GetTrackLength(1, &ms));
    EXPECT_EQ(ms, 1000u);
    ASSERT_TRUE(engine_.GetTrackLength(3, &ms));
    EXPECT_EQ(ms, 3000u); // as the header says; the cut shows only when it plays
    EXPECT_EQ(engine_.SourceKind(), CPlaybackEngine::kSourcePcmFile);
    ASSERT_EQ(engine_.SelectTrack(2, 0), 1);
    EXPECT_EQ(engine_.SourceKind(), CPlaybackEngine::kSourceWave16);
    ASSERT_EQ(engine_.SelectTrack(1, 0), 1);
    ASSERT_EQ(engine_.Play(), 1);
    ASSERT_TRUE(WaitForEnd());
    const auto stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    const auto segments = stream.Segments();
    ASSERT_EQ(segments.size(), 3u);
    // A second is 86.1 blocks; each track plays its length plus what the rings held when its end was
    // seen (at most 32 blocks) and the final chunk (11 blocks).
    constexpr double kBlocksPerSecond = 2822400.0 / 32768.0;
    EXPECT_GE(segments[0].count, static_cast<std::size_t>(kBlocksPerSecond));
    EXPECT_LE(segments[0].count, static_cast<std::size_t>(kBlocksPerSecond) + 48);
    // The cut track holds about one second of its three: it ends there, not after three.
    EXPECT_GE(segments[2].count, static_cast<std::size_t>(0.8 * kBlocksPerSecond));
    EXPECT_LE(segments[2].count, static_cast<std::size_t>(1.1 * kBlocksPerSecond) + 48);
    // Mono plays on both channels: the halves of a block carry the same density.
    const auto& block = stream.blocks[segments[0].first + 40];
    EXPECT_NEAR(block.LeftDensity(0, 4096), block.RightDensity(0, 4096), 0.01);
}

} // namespace
} // namespace enginetest
