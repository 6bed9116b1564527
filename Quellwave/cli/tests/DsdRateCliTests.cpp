// The command line at DSD128, DSD256 and DSD512: "play" of DSF files at their own rate and of WAV files at
// the rate
// --dsd-rate asks for, "convert --dsd-rate", "info" naming the rate, and the option's refusals. The real
// quellwave-cli, recording through the "dsf:" driver.
#include "CliHarness.h"
#include "TestKit/DsdFiles.h"
#include "TestKit/DsfReadback.h"
#include "TestKit/Wav.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using clitest::Quote;
using clitest::RunResult;
using testkit::Bytes;

class DsdRateCliTest : public clitest::CliFixture {
protected:
    // 16-bit stereo WAV of a constant level.
    std::string Wav(const std::string& name, double seconds, double level) const {
        return Write(name, testkit::ConstantWav(16, seconds, level));
    }
    std::string Out(const std::string& name = "out.dsf") const { return (dir_ / name).string(); }
};

TEST_F(DsdRateCliTest, AHighRateFileIsRecordedAtItsRateUnchanged) {
    const struct {
        std::uint32_t hz;
        const char* info;
        const char* positions;
    } cases[] = {
        // The first block is 2.9 ms of DSD256, 1.45 ms of DSD512.
        {11289600, "length_ms=116 rf_mode=required rate=DSD256", "position 1 2\nend\n"},
        {22579200, "length_ms=58 rf_mode=required rate=DSD512", "position 1 1\nend\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hz);
        testkit::DsfShape shape;
        shape.rate = c.hz;
        const std::size_t perChannel = 40 * 4096 + 123;
        shape.channels = testkit::StereoPattern(perChannel, 3);
        const std::string in = Write("in.dsf", testkit::BuildDsf(shape));
        EXPECT_EQ(Cli({"info", in}).out, in + ": dsf " + c.info + "\n");

        const RunResult r = Cli({"play", "--rf-mode", "--driver", "dsf:" + Out(), in});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.positions);
        const auto stream = testkit::ReadDsf(Out(), c.hz);
        ASSERT_TRUE(stream.valid) << stream.error;
        // multiple x (50 priming + 20 lead-in) silent blocks, then the file, then silence.
        const std::size_t lead = 70 * (c.hz / 2822400u);
        Bytes left, right;
        for (std::size_t b = lead; b < stream.blocks.size(); ++b) {
            left.insert(left.end(), stream.blocks[b].bytes.begin(), stream.blocks[b].bytes.begin() + 4096);
            right.insert(right.end(), stream.blocks[b].bytes.begin() + 4096, stream.blocks[b].bytes.end());
        }
        ASSERT_GE(left.size(), perChannel);
        EXPECT_TRUE(std::equal(shape.channels[0].begin(), shape.channels[0].end(), left.begin()));
        EXPECT_TRUE(std::equal(shape.channels[1].begin(), shape.channels[1].end(), right.begin()));
        EXPECT_TRUE(stream.blocks[lead - 1].Silent());
    }
}

TEST_F(DsdRateCliTest, PlayAndConvertUpConvertWavToTheRateAsked) {
    const std::string wav = Wav("a.wav", 0.5, 0.5);
    for (const auto& [number, hz] :
         {std::pair{"128", 5644800u}, std::pair{"256", 11289600u}, std::pair{"512", 22579200u}}) {
        SCOPED_TRACE(number);
        const RunResult played = Cli({"play", "--dsd-rate", number, "--driver", "dsf:" + Out(), wav});
        ASSERT_EQ(played.status, 0) << played.err;
        const auto recorded = testkit::ReadDsf(Out(), hz);
        ASSERT_TRUE(recorded.valid) << recorded.error;
        const auto segments = recorded.Segments();
        ASSERT_FALSE(segments.empty());
        EXPECT_NEAR(recorded.blocks[segments[0].first + segments[0].count / 3].LeftDensity(), 0.625, 0.01);

        const RunResult converted = Cli({"convert", "--dsd-rate", number, wav, Out("c.dsf")});
        ASSERT_EQ(converted.status, 0) << converted.err;
        const auto c = testkit::ReadDsf(Out("c.dsf"), hz);
        ASSERT_TRUE(c.valid) << c.error;
        // One unit of 512 frames per DSD64 block, two, four or eight at the higher rates.
        const std::size_t units = (22050 + 511) / 512;
        EXPECT_EQ(c.blocks.size(), units * (hz / 2822400u));
        EXPECT_NEAR(c.blocks[c.blocks.size() / 2].RightDensity(), 0.625, 0.01);
        if (clitest::Have("ffprobe")) {
            const RunResult probe = Shell(
                "ffprobe -v error -show_entries stream=sample_rate -of default=nw=1 " + Quote(Out("c.dsf")));
            EXPECT_EQ(probe.out, "sample_rate=" + std::to_string(hz / 8) + "\n");
        }
    }
}

TEST_F(DsdRateCliTest, ARateThatIsNotADsdRateIsRefused) {
    const std::string wav = Wav("a.wav", 0.1, 0.5);
    for (const char* bad : {"96", "1024", "x", "-64"}) {
        const RunResult p = Cli({"play", "--dsd-rate", bad, "--driver", "null", wav});
        EXPECT_EQ(p.status, 1);
        EXPECT_NE(p.err.find("--dsd-rate takes 64, 128, 256 or 512"), std::string::npos) << p.err;
        const RunResult c = Cli({"convert", "--dsd-rate", bad, wav, Out()});
        EXPECT_EQ(c.status, 2);
        EXPECT_NE(c.err.find("--dsd-rate takes 64, 128, 256 or 512"), std::string::npos) << c.err;
    }
    EXPECT_FALSE(std::filesystem::exists(Out()));
}

TEST_F(DsdRateCliTest, Dsd64ConversionIsTheSameWithAndWithoutTheOption) {
    const std::string wav = Wav("a.wav", 0.3, 0.25);
    ASSERT_EQ(Cli({"convert", wav, Out("plain.dsf")}).status, 0);
    ASSERT_EQ(Cli({"convert", "--dsd-rate", "64", wav, Out("named.dsf")}).status, 0);
    const RunResult cmp = Shell("cmp " + Quote(Out("plain.dsf")) + " " + Quote(Out("named.dsf")));
    EXPECT_EQ(cmp.status, 0) << cmp.out;
}

} // namespace
