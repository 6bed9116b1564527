// Gapless playback in the engine: files that join reach the device exactly as the same audio in one file
// would, whatever mix of 16-bit WAV, 24-bit WAV and FLAC holds it; which neighbours join and which still
// end with the fade and silence; the track numbers at the joins; and the stored setting.
#include "EngineFixture.h"
#include "TestKit/DsdFiles.h"
#include "shell/Settings.h"

#include <sndfile.h>

#include <numbers>

using engine::CPlaybackEngine;

namespace {

using platform::Message;
using testkit::DsfStream;

constexpr std::array<std::size_t, 3> kPieces = {17999, 20011, 18433};

// A 997 Hz tone at half scale, as 16-bit values of the left channel (the right is half of it).
std::int32_t ToneAt(std::size_t frame, int channel) {
    const double v = 0.5 * std::sin(2 * std::numbers::pi * 997.0 * static_cast<double>(frame) / 44100.0);
    return static_cast<std::int32_t>(std::lround((channel == 0 ? v : v / 2) * 32767));
}

enum class Holder { Wav16, Wav24, Flac24 };

class EngineGaplessTest : public enginetest::EngineFixture {
protected:
    // Frames [first, first + count) of the tone in a file of the given kind; the 24-bit ones hold the
    // 16-bit values shifted up, so every kind carries the very same samples.
    std::string Write(const std::string& name, Holder holder, std::size_t first, std::size_t count) {
        const std::string path = (dir_ / name).string();
        if (holder == Holder::Flac24) {
            SF_INFO info{};
            info.samplerate = 44100;
            info.channels = 2;
            info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
            SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
            EXPECT_NE(file, nullptr);
            std::vector<int> samples;
            for (std::size_t f = first; f < first + count; ++f)
                for (int c = 0; c < 2; ++c)
                    samples.push_back(ToneAt(f, c) * 65536); // the library's ints are 32-bit full scale
            EXPECT_EQ(sf_writef_int(file, samples.data(), static_cast<sf_count_t>(count)),
                      static_cast<sf_count_t>(count));
            sf_close(file);
            return path;
        }
        testkit::WavShape shape;
        shape.bits = holder == Holder::Wav16 ? 16 : 24;
        for (std::size_t f = first; f < first + count; ++f)
            for (int c = 0; c < 2; ++c) {
                const std::int32_t v = ToneAt(f, c);
                testkit::PutLe(shape.data, static_cast<std::uint32_t>(holder == Holder::Wav16 ? v : v * 256),
                               shape.bits / 8);
            }
        testkit::WriteBytes(path, testkit::BuildWav(shape));
        return path;
    }

    // Plays paths to their end with an engine of its own into a recording; the messages go to *messages.
    DsfStream Record(const std::vector<std::string>& paths, std::optional<bool> gapless,
                     const std::string& name, std::vector<Message>* messages = nullptr) {
        const std::string recording = (dir_ / name).string();
        platform::MessageQueue queue;
        {
            CPlaybackEngine engine;
            engine.SetDriverNameOverride("dsf:" + recording);
            engine.SetRFModeOverride(true);
            if (gapless)
                engine.SetGaplessOverride(*gapless);
            EXPECT_EQ(engine.Initialize(&queue, driverError_), S_OK);
            EXPECT_EQ(engine.OpenFiles(paths), 1);
            EXPECT_EQ(engine.SelectTrack(1, 0), 1);
            EXPECT_EQ(engine.Play(), 1);
            for (;;) {
                const auto m = queue.WaitFor(enginetest::kMessageTimeoutMs);
                if (!m) {
                    ADD_FAILURE() << "no end";
                    break;
                }
                if (messages)
                    messages->push_back(*m);
                if (m->msg == WM_PLAYER_END)
                    break;
            }
            engine.Shutdown();
        }
        return testkit::ReadDsf(recording);
    }

    std::vector<std::string> Pieces(const std::array<Holder, 3>& holders, const std::string& prefix) {
        std::vector<std::string> paths;
        std::size_t first = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            paths.push_back(
                Write(prefix + std::to_string(i) + (holders[i] == Holder::Flac24 ? ".flac" : ".wav"),
                      holders[i], first, kPieces[i]));
            first += kPieces[i];
        }
        return paths;
    }
    static std::size_t Total() { return kPieces[0] + kPieces[1] + kPieces[2]; }

    static std::size_t FirstDiffering(const DsfStream& a, const DsfStream& b, std::size_t blocks) {
        for (std::size_t i = 0; i < blocks; ++i)
            if (i >= a.blocks.size() || i >= b.blocks.size() || a.blocks[i].bytes != b.blocks[i].bytes)
                return i;
        return blocks;
    }
};

TEST_F(EngineGaplessTest, JoinedFilesReachTheDeviceAsTheSameAudioInOneFile) {
    const std::string whole = Write("whole.wav", Holder::Wav24, 0, Total());
    const DsfStream one = Record({whole}, false, "one.dsf");
    ASSERT_TRUE(one.valid) << one.error;
    // Priming, lead-in, then every block that holds audio of the tone (the last one only in part).
    const std::size_t audioBlocks = 50 + 20 + Total() / 512;
    struct Case {
        const char* name;
        std::array<Holder, 3> holders;
    };
    const Case cases[] = {
        {"24-bit WAV", {Holder::Wav24, Holder::Wav24, Holder::Wav24}},
        {"16-bit WAV, widened", {Holder::Wav16, Holder::Wav16, Holder::Wav16}},
        {"FLAC", {Holder::Flac24, Holder::Flac24, Holder::Flac24}},
        {"16-bit WAV, FLAC, 24-bit WAV", {Holder::Wav16, Holder::Flac24, Holder::Wav24}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto paths = Pieces(c.holders, std::string("p") + std::to_string(&c - cases));
        std::vector<Message> messages;
        const DsfStream joined = Record(paths, true, "joined.dsf", &messages);
        ASSERT_TRUE(joined.valid) << joined.error;
        EXPECT_EQ(FirstDiffering(joined, one, audioBlocks), audioBlocks);
        EXPECT_EQ(joined.Segments().size(), 1u);
        // Track numbers only go up, each by one, at a time carried over from the track before (well
        // within a second); the engine never restarts a track at 0.
        std::uint32_t track = 1;
        for (const Message& m : messages) {
            if (m.msg != WM_PLAYER_POSITION)
                continue;
            if (static_cast<std::uint32_t>(m.lParam) != track) {
                EXPECT_EQ(static_cast<std::uint32_t>(m.lParam), track + 1);
                EXPECT_GT(m.wParam, 0u);
                EXPECT_LT(m.wParam, 30u);
                track = static_cast<std::uint32_t>(m.lParam);
            }
        }
        EXPECT_EQ(track, 3u);
    }
}

TEST_F(EngineGaplessTest, OnlyFilesOfOneKindJoin) {
    // DSD files of a pattern that never holds the silence byte.
    auto dsf = [this](const std::string& name, std::size_t bytes, std::uint32_t seed) {
        testkit::DsfShape shape;
        shape.channels = testkit::StereoPattern(bytes, seed);
        testkit::WriteBytes(dir_ / name, testkit::BuildDsf(shape));
        return (dir_ / name).string();
    };
    const std::string a = Write("a.wav", Holder::Wav16, 0, 20000);
    const std::string b = Write("b.flac", Holder::Flac24, 20000, 20000);
    const std::string d1 = dsf("d1.dsf", 50001, 7);
    const std::string d2 = dsf("d2.dsf", 40003, 9);
    struct Case {
        const char* name;
        std::vector<std::string> paths;
        std::optional<bool> gapless;
        std::size_t segments;
    };
    const Case cases[] = {
        {"PCM, then DSD", {a, b, d1, d2}, true, 2},
        {"DSD, then PCM", {d1, d2, a}, true, 2},
        {"not asked for", {a, b, d1, d2}, false, 4},
        {"nothing stored: the setting's default", {a, b, d1, d2}, std::nullopt, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DsfStream s = Record(c.paths, c.gapless, "kinds.dsf");
        ASSERT_TRUE(s.valid) << s.error;
        const auto segments = s.Segments();
        EXPECT_EQ(segments.size(), c.segments);
        for (std::size_t i = 1; i < segments.size(); ++i)
            EXPECT_GE(segments[i].first - segments[i - 1].first - segments[i - 1].count, 40u);
    }
}

TEST_F(EngineGaplessTest, TheStoredSettingTurnsItOnAtPlay) {
    const auto paths = Pieces({Holder::Wav16, Holder::Wav16, Holder::Wav16}, "s");
    ASSERT_TRUE(WriteGaplessPlayback(true));
    EXPECT_EQ(Record(paths, std::nullopt, "stored.dsf").Segments().size(), 1u);
    ASSERT_TRUE(WriteGaplessPlayback(false));
    EXPECT_EQ(Record(paths, std::nullopt, "stored.dsf").Segments().size(), 3u);
}

} // namespace
