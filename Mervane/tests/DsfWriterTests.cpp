#include "Mervane/DsfWriter.h"

#include "TestKit/Bytes.h"
#include "TestKit/Command.h"
#include "TestKit/Scratch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testkit::Bytes;
using testkit::CommandOutput;
using testkit::Le;

class DsfWriterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(writer_.Create((dir_ / "out.dsf").string())); }
    // Distinct blocks, so order and placement show in the file.
    static Bytes Block(int index) {
        Bytes b(DsfWriter::kBlockBytes);
        for (std::size_t i = 0; i < b.size(); ++i)
            b[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(index) * 31 + (i >> 12));
        return b;
    }
    void WriteBlocks(int first, int count) {
        for (int i = first; i < first + count; ++i)
            ASSERT_TRUE(writer_.WriteBlock(Block(i).data()));
    }
    // Reads a file and checks every header field against a stream of `blocks` blocks.
    static Bytes ExpectHeader(const fs::path& path, std::uint64_t blocks) {
        const Bytes f = testkit::ReadBytes(path);
        EXPECT_GE(f.size(), 92u + blocks * 8192);
        if (f.size() < 92)
            return f;
        EXPECT_EQ(std::string(f.begin(), f.begin() + 4) + std::string(f.begin() + 28, f.begin() + 32) +
                      std::string(f.begin() + 80, f.begin() + 84),
                  "DSD fmt data");
        const std::uint64_t fields[][3] = {{4, 8, 28},
                                           {12, 8, 92 + blocks * 8192},
                                           {20, 8, 0},
                                           {32, 8, 52},
                                           {40, 4, 1},
                                           {44, 4, 0},
                                           {48, 4, 2},
                                           {52, 4, 2},
                                           {56, 4, 2822400},
                                           {60, 4, 1},
                                           {64, 8, blocks * 32768},
                                           {72, 4, 4096},
                                           {76, 4, 0},
                                           {84, 8, 12 + blocks * 8192}};
        for (const auto& [offset, size, value] : fields)
            EXPECT_EQ(Le(f, offset, static_cast<int>(size)), value) << "field at " << offset;
        return f;
    }

    const testkit::ScratchFolder scratch_{"dsf"};
    const fs::path dir_ = scratch_.Path();
    DsfWriter writer_;
};

TEST_F(DsfWriterTest, HeaderFollowsTheBlocksThroughFlushAndClose) {
    ExpectHeader(dir_ / "out.dsf", 0);
    WriteBlocks(0, 5);
    ASSERT_TRUE(writer_.Flush());
    WriteBlocks(5, 2);
    // What a crash now would leave: two whole blocks beyond the five the header counts.
    fs::copy_file(dir_ / "out.dsf", dir_ / "cut.dsf");
    ASSERT_TRUE(writer_.Close());
    EXPECT_EQ(ExpectHeader(dir_ / "cut.dsf", 5).size(), 92u + 7 * 8192);
    const Bytes f = ExpectHeader(dir_ / "out.dsf", 7);
    ASSERT_EQ(f.size(), 92u + 7 * 8192);
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(std::equal(f.begin() + 92 + i * 8192, f.begin() + 92 + (i + 1) * 8192, Block(i).begin()))
            << i;
}

TEST_F(DsfWriterTest, FailuresAreReportedNotThrown) {
    EXPECT_FALSE(writer_.WriteBlock(nullptr));
    EXPECT_TRUE(writer_.Close());
    EXPECT_FALSE(writer_.WriteBlock(Block(0).data()) || writer_.Flush());
    EXPECT_FALSE(writer_.Create((dir_ / "missing" / "x.dsf").string()));
    if (fs::exists("/dev/full")) {
        EXPECT_FALSE(writer_.Create("/dev/full")); // the header write finds the disk full
    }
    EXPECT_FALSE(writer_.IsOpen());
}

TEST_F(DsfWriterTest, FfmpegDecodesTheWholeStream) {
    ASSERT_EQ(std::system("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null"), 0)
        << "ffmpeg is missing: scripts/setup installs it";
    WriteBlocks(0, 50);
    ASSERT_TRUE(writer_.Close());
    const std::string path = (dir_ / "out.dsf").string();
    // ffprobe counts in bytes of one channel (eight DSD samples each).
    EXPECT_EQ(
        CommandOutput(
            "ffprobe -v error -show_entries stream=codec_name,channels,duration_ts -of default=nw=1 " + path),
        "codec_name=dsd_lsbf_planar\nchannels=2\nduration_ts=204800\n");
    // The decoder gives one 32-bit float per channel per DSD byte.
    EXPECT_EQ(CommandOutput("ffmpeg -v error -i " + path + " -f f32le -acodec pcm_f32le - | wc -c"),
              std::to_string(50 * 4096 * 2 * 4) + "\n");
}

} // namespace

namespace {

// Higher rates: the header names the rate and ffmpeg reads the file at it.
TEST_F(DsfWriterTest, HigherRatesAreNamedInTheHeaderAndDecodedAtThatRate) {
    const struct {
        platform::DsdRate rate;
        std::uint32_t hz;
    } cases[] = {{platform::DsdRate::kDsd128, 5644800},
                 {platform::DsdRate::kDsd256, 11289600},
                 {platform::DsdRate::kDsd512, 22579200}};
    for (const auto& c : cases) {
        const std::string path = (dir_ / ("r" + std::to_string(c.hz) + ".dsf")).string();
        DsfWriter w;
        ASSERT_TRUE(w.Create(path, c.rate));
        for (int i = 0; i < 8; ++i)
            ASSERT_TRUE(w.WriteBlock(Block(i).data()));
        ASSERT_TRUE(w.Close());
        const Bytes f = testkit::ReadBytes(path);
        ASSERT_EQ(f.size(), 92u + 8 * 8192);
        EXPECT_EQ(Le(f, 56, 4), c.hz);
        // The block size per channel stays 4096; the samples per channel count whole blocks.
        EXPECT_EQ(Le(f, 72, 2), 4096u);
        // ffmpeg gives the rate of the DSD bytes of one channel: an eighth of the sample rate.
        EXPECT_EQ(CommandOutput("ffprobe -v error -show_entries stream=sample_rate -of default=nw=1 " + path),
                  "sample_rate=" + std::to_string(c.hz / 8) + "\n");
    }
}

} // namespace
