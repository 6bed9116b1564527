// Runs the real quellwave-cli on generated files and checks what a user sees: lines, exit status, files.
#include "CliHarness.h"
#include "TestKit/DsfReadback.h"
#include "TestKit/Wav.h"
#include "shell/Settings.h"

#include "Platform/Process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <numbers>

using namespace testkit;

namespace {

using clitest::Have;
using clitest::Quote;
using clitest::RunResult;

class CliTest : public clitest::CliFixture {
protected:
    using CliFixture::Write;
    std::string Write(const std::string& name, const WavShape& shape) { return Write(name, BuildWav(shape)); }
    static WavShape Shape(std::uint16_t bits, std::size_t frames, void (*change)(WavShape&) = nullptr) {
        WavShape s;
        s.bits = bits;
        s.data = Pattern(frames * bits / 4);
        if (change)
            change(s);
        return s;
    }
    // Converts and checks the DSF holds `blocks` blocks, by its size and by ffprobe.
    void ExpectConverted(const std::string& in, std::uint64_t blocks) {
        const std::string out = (dir_ / "o.dsf").string();
        const RunResult r = Cli({"convert", in, out});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, ""); // no progress bar when standard error is not a terminal
        EXPECT_EQ(std::filesystem::file_size(out), 92 + blocks * 8192);
        if (!Have("ffprobe"))
            return;
        EXPECT_EQ(
            Shell("ffprobe -v error -show_entries stream=duration_ts -of default=nw=1 " + Quote(out)).out,
            "duration_ts=" + std::to_string(blocks * 4096) + "\n");
    }
};

TEST_F(CliTest, InfoPrintsOneExactLinePerPath) {
    WriteBytes(dir_ / "notes.txt", Bytes{'h', 'e', 'l', 'l', 'o'});
    Bytes cut = BuildWav(Shape(16, 100));
    cut.resize(30);
    WriteBytes(dir_ / "cut.wav", cut);
    const std::pair<std::string, std::string> files[] = {
        {Write("a.wav", Shape(16, 44100)), "wav16 length_ms=1000"},
        {Write("b c.wav", Shape(24, 22050, [](WavShape& s) { s.tag = 0xFFFE; })), "wav24 length_ms=500"},
        {Write("d.wav", Shape(16, 9, [](WavShape& s) { s.declaredDataSize = ~0u; })),
         "wav16 length_ms=0"}, // the 9 frames the file holds, not what the header declares
        // Other rates and mono go to the PCM file source, which describes them in full.
        {Write("e.wav", Shape(16, 9, [](WavShape& s) { s.rate = 48000; })),
         "wav rate=48000 bits=16 channels=2 length_ms=0"},
        {Write("f.wav", Shape(16, 9, [](WavShape& s) { s.channels = 1; })),
         "wav rate=44100 bits=16 channels=1 length_ms=0"},
        {Write("g.wav", Shape(16, 9, [](WavShape& s) { s.channels = 3; })),
         "rejected (more than 2 channels)"},
        {Write("h.wav", Shape(16, 9, [](WavShape& s) { s.formatSize = 257; })),
         "rejected (too large format chunk)"},
        {Write("i.wav", Shape(16, 0)), "rejected (no audio data)"},
        {(dir_ / "notes.txt").string(), "rejected (not RIFF)"},
        {(dir_ / "cut.wav").string(), "rejected (truncated header)"},
        {(dir_ / "missing.wav").string(), "rejected (no such file)"},
        {dir_.Path().string(), "rejected (is a directory)"},
    };
    std::vector<std::string> args{"info"};
    std::string lines;
    for (const auto& [path, line] : files) {
        args.push_back(path);
        lines += path + ": " + line + "\n";
    }
    RunResult r = Cli(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, lines);
    EXPECT_EQ(r.err, "");
    args.resize(4); // only the accepted ones
    EXPECT_EQ(Cli(args).status, 0);
}

TEST_F(CliTest, SummaryHelpAndWrongUse) {
    RunResult r = Cli({});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.find("info") != std::string::npos && r.out.find("convert") != std::string::npos);
    r = Cli({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: quellwave-cli", 0), 0u);
    r = Cli({"play-everything"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("usage: quellwave-cli"), std::string::npos);
    EXPECT_EQ(Cli({"info"}).status, 2);
    EXPECT_EQ(Cli({"convert", "a.wav"}).status, 2);
    EXPECT_EQ(Cli({"convert", "a.wav", "b.dsf", "c"}).status, 2);
}

TEST_F(CliTest, ConvertWritesOneBlockPerInputUnit) {
    ExpectConverted(Write("a.wav", Shape(16, 44100)), 87);    // 86 units and 68 frames
    ExpectConverted(Write("b.wav", Shape(16, 16 * 512)), 16); // one whole chunk, nothing padded
    ExpectConverted(Write("c.wav", Shape(24, 513)), 2);
    // A header declaring more than the file holds: what is there is converted, no silent tail.
    ExpectConverted(Write("d.wav", Shape(16, 3000, [](WavShape& s) { s.declaredDataSize = ~0u; })), 6);
}

TEST_F(CliTest, ConvertKeepsEveryUnitInItsPlace) {
    ASSERT_TRUE(Have("ffmpeg")) << "ffmpeg is missing: scripts/setup installs it";
    // Silence with a loud 1 kHz burst in unit 0 (the converter's priming unit), in unit 17 (the second
    // 16-unit chunk) and in the last 100 frames (the padded final unit).
    constexpr std::size_t kFrames = 20 * 512 + 100;
    WavShape s = Shape(16, kFrames);
    std::fill(s.data.begin(), s.data.end(), 0);
    for (const auto& [first, count] :
         {std::pair<std::size_t, std::size_t>{0, 512}, {17 * 512, 512}, {kFrames - 100, 100}})
        for (std::size_t i = 0; i < count * 4; ++i) {
            const auto v = static_cast<std::uint16_t>(
                std::lround(32000 * std::sin(std::numbers::pi * double(i / 4) / 22.05)));
            s.data[first * 4 + i] = static_cast<std::uint8_t>(i % 2 ? v >> 8 : v);
        }
    const std::string out = (dir_ / "bursts.dsf").string();
    ASSERT_EQ(Cli({"convert", Write("bursts.wav", s), out}).status, 0);

    // Left-channel RMS of the decoded stream over each block: ffmpeg gives 4096 stereo floats per block.
    std::vector<double> rms;
    FILE* p = ::popen(("ffmpeg -v error -i " + Quote(out) + " -f f32le -acodec pcm_f32le -").c_str(), "r");
    ASSERT_NE(p, nullptr);
    for (std::vector<float> b(8192); std::fread(b.data(), sizeof(float), b.size(), p) == b.size();) {
        double sum = 0;
        for (std::size_t i = 0; i < b.size(); i += 2)
            sum += double{b[i]} * b[i];
        rms.push_back(std::sqrt(sum / 4096));
    }
    ::pclose(p);
    ASSERT_EQ(rms.size(), 21u);
    double floor = 0; // the modulator's shaped noise, as the decoder passes it
    for (std::size_t b = 1; b < 20; ++b)
        floor = b == 17 ? floor : std::max(floor, rms[b]);
    // A burst one block early or late would leave its own block at the floor.
    EXPECT_GT(rms[0], 4 * floor);
    EXPECT_GT(rms[17], 4 * floor);
    EXPECT_GT(rms[20], 2 * floor); // only 100 frames of burst
}

TEST_F(CliTest, ConvertFailuresLeaveNoOutput) {
    const std::string good = Write("a.wav", Shape(16, 1000));
    const Bytes before = ReadBytes(good);
    RunResult r = Cli({"convert", Write("m.wav", Shape(16, 9, [](WavShape& s) { s.channels = 3; })),
                       (dir_ / "m.dsf").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("rejected (more than 2 channels)"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "m.dsf"));
    EXPECT_EQ(Cli({"convert", good, (dir_ / "no-dir" / "x.dsf").string()}).status, 1);
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_EQ(Cli({"convert", good, "/dev/full"}).status, 1);
    }
    // The output may not be the input under another name.
    EXPECT_EQ(Cli({"convert", good, (dir_ / "." / "a.wav").string()}).status, 1);
    EXPECT_EQ(ReadBytes(good), before);
}

// "play": the engine behind the command line, recorded through the "dsf:" driver.
class PlayTest : public CliTest {
protected:
    RunResult Play(std::vector<std::string> args) {
        args.insert(args.begin(), "play");
        return Cli(args);
    }
    // A stereo file of a constant level.
    std::string Level(const std::string& name, std::uint16_t bits, double seconds, double level) {
        return Write(name, ConstantWav(bits, seconds, level));
    }
    std::string Dsf() const { return (dir_ / "out.dsf").string(); }
};

TEST_F(PlayTest, TwoFilesPlayToTheEndAndTheRecordingHoldsThem) {
    const std::string a = Level("a.wav", 16, 1.5, 0.5), b = Level("b.wav", 24, 1.2, -0.5);
    const RunResult r = Play({"--driver", "dsf:" + Dsf(), a, b});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "position 1 11\nposition 1 1010\nposition 2 0\nposition 2 11\nposition 2 1010\nend\n");
    EXPECT_EQ(r.err, ""); // no progress line when standard error is not a terminal

    const auto stream = testkit::ReadDsf(Dsf());
    ASSERT_TRUE(stream.valid) << stream.error;
    const auto runs = stream.Runs();
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[0].count, 70u);
    EXPECT_EQ(runs[2].count, 40u);
    EXPECT_EQ(runs[4].count, 20u);
    // Each track is played for its whole length (1.5 s = 129.2 blocks, 1.2 s = 103.4 blocks) and ends
    // with the faded final chunk.
    EXPECT_GE(runs[1].count, 130u + 11u);
    EXPECT_GE(runs[3].count, 104u + 11u);
    if (!Have("ffprobe"))
        return;
    EXPECT_EQ(Shell("ffprobe -v error -show_entries stream=duration_ts -of default=nw=1 " + Quote(Dsf())).out,
              "duration_ts=" + std::to_string(stream.blocks.size() * 4096) + "\n");
}

TEST_F(PlayTest, WrongArgumentsExitWithOne) {
    const std::string a = Level("a.wav", 16, 0.1, 0.5);
    EXPECT_EQ(Play({}).status, 1);
    EXPECT_EQ(Play({"--repeat", "twice", a}).status, 1);
    EXPECT_EQ(Play({"--repeat"}).status, 1);
    EXPECT_EQ(Play({"--driver"}).status, 1);
    const RunResult r = Play({"--loud", a});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--loud"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Dsf()));
}

// --start: the first track begins that far in; the rest of the list plays from its start. A start the
// track cannot hold is refused with its length, and malformed times with the form they should take.
TEST_F(PlayTest, StartBeginsTheFirstTrackInsideIt) {
    const std::string a = Level("a.wav", 16, 3.0, 0.5), b = Level("b.wav", 16, 0.5, -0.5);
    const RunResult r = Play({"--driver", "dsf:" + Dsf(), "--start", "0:02.250", a, b});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "position 1 2261\nposition 2 0\nposition 2 11\nend\n");
    const auto stream = testkit::ReadDsf(Dsf());
    ASSERT_TRUE(stream.valid) << stream.error;
    const auto runs = stream.Runs();
    ASSERT_EQ(runs.size(), 5u);
    // 750 ms of a (64.6 blocks), its fade-out, and at most what the reader had read past its end.
    EXPECT_GE(runs[1].count, 65u + 11u);
    EXPECT_LE(runs[1].count, 65u + 11u + 45u); // and what the reader, up to a ring ahead, read past the end

    const RunResult past = Play({"--driver", "dsf:" + Dsf(), "--start", "0:03", a});
    EXPECT_EQ(past.status, 1);
    EXPECT_EQ(past.err,
              "quellwave-cli play: --start 0:03.000 is past the end of track 1, which is 0:03.000 long\n");
    for (const char* bad : {"3", "1:5", "1:60", "1:05.", "1:05.1234", "-1:00", "a:00"}) {
        const RunResult wrong = Play({"--driver", "dsf:" + Dsf(), "--start", bad, a});
        EXPECT_EQ(wrong.status, 1) << bad;
        EXPECT_NE(wrong.err.find("--start takes a time as M:SS or M:SS.mmm"), std::string::npos) << bad;
    }
}

TEST_F(PlayTest, NothingPlayableExitsWithTwoNamingEachPath) {
    const std::string three = Write("three.wav", Shape(16, 100, [](WavShape& s) { s.channels = 3; }));
    const std::string missing = (dir_ / "missing.wav").string();
    const RunResult r = Play({"--driver", "dsf:" + Dsf(), three, missing});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(three + ": rejected (more than 2 channels)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(missing + ": rejected (no such file)"), std::string::npos) << r.err;
}

TEST_F(PlayTest, RejectedPathsAreNamedAndTheRestPlays) {
    const std::string a = Level("a.wav", 16, 0.3, 0.5);
    const std::string missing = (dir_ / "missing.wav").string();
    const RunResult r = Play({"--driver", "dsf:" + Dsf(), missing, a});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "position 1 11\nend\n");
    EXPECT_NE(r.err.find(missing + ": rejected"), std::string::npos);
}

TEST_F(PlayTest, AnUnknownDriverExitsWithThreeAndSaysHowToChoose) {
    const std::string a = Level("a.wav", 16, 0.3, 0.5);
    RunResult r = Play({"--driver", "speakers", a});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("\"speakers\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--driver"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("DefaultASIODriverName"), std::string::npos) << r.err;
}

TEST_F(PlayTest, TheStoredDriverNameIsAutoOnlyWhenNothingIsStored) {
    const std::string a = Level("a.wav", 16, 0.3, 0.5);
    // Nothing stored: the installed default, "auto", which says what it took.
    RunResult r = Play({a});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("output \"auto\""), std::string::npos) << r.err;
    // A stored value that cannot name a driver keeps failing with its reason.
    const auto machine = platform::HKEY_LOCAL_MACHINE;
    RegistrySandbox::SetString(machine, kAsioSettingsKey, "DefaultASIODriverName", "");
    r = Play({a});
    EXPECT_EQ(r.status, 3) << "an empty string";
    EXPECT_NE(r.err.find("no driver name given"), std::string::npos) << r.err;
    RegistrySandbox::SetDword(machine, kAsioSettingsKey, "DefaultASIODriverName", 1);
    r = Play({a});
    EXPECT_EQ(r.status, 3) << "a number";
    EXPECT_NE(r.err.find("not a string"), std::string::npos) << r.err;
}

TEST_F(PlayTest, TheDriverOptionDoesNotTouchTheStoredSettings) {
    const std::string a = Level("a.wav", 16, 0.2, 0.5);
    ASSERT_EQ(Play({"--driver", "dsf:" + Dsf(), "--rf-mode", a}).status, 0);
    for (const char* file : {"user.reg", "machine.reg"})
        EXPECT_FALSE(std::filesystem::exists(registry_.Path() / file)) << file;
}

TEST_F(PlayTest, InterruptFadesOutAndExitsWith130) {
    const std::string a = Level("long.wav", 16, 120.0, 0.5);
    const std::string command =
        "echo $$; exec " + clitest::CliCommand({"play", "--driver", "dsf:" + Dsf(), a}) + " 2>/dev/null";
    FILE* p = ::popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[128] = {};
    ASSERT_NE(std::fgets(line, sizeof line, p), nullptr);
    const pid_t pid = std::atoi(line);
    ASSERT_NE(std::fgets(line, sizeof line, p), nullptr); // the first position report: it plays
    EXPECT_STREQ(line, "position 1 11\n");
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    while (std::fgets(line, sizeof line, p)) {
        EXPECT_NE(std::string(line), "end\n");
    }
    const platform::ExitStatus ended = platform::DecodeExitStatus(::pclose(p));
    ASSERT_TRUE(ended.exited);
    EXPECT_EQ(ended.code, 130);

    const auto stream = testkit::ReadDsf(Dsf());
    ASSERT_TRUE(stream.valid) << stream.error;
    const auto runs = stream.Runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[2].count, 20u); // the trailing silence after the drain
    EXPECT_LT(runs[1].count, 120u * 86);
    const auto& last = stream.blocks[runs[1].first + runs[1].count - 1];
    EXPECT_NEAR(last.LeftDensity(), 0.5, 0.005); // faded out, not cut off
}

} // namespace
