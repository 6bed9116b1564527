#include "Mervane/DsfWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadAll(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::uint64_t Le(const Bytes& b, std::size_t offset, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | b.at(offset + static_cast<std::size_t>(i));
    return v;
}

std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        for (int c; (c = std::fgetc(p)) != EOF;)
            out += static_cast<char>(c);
        ::pclose(p);
    }
    return out;
}

// Distinct blocks, so order and placement show in the file.
Bytes Block(int index) {
    Bytes b(DsfWriter::kBlockBytes);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(index) * 31 + (i >> 12));
    return b;
}

class DsfWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string t = (fs::temp_directory_path() / "qwdsf-XXXXXX").string();
        ASSERT_NE(::mkdtemp(t.data()), nullptr);
        dir_ = t;
        path_ = dir_ / "out.dsf";
    }
    void TearDown() override { fs::remove_all(dir_); }
    void WriteBlocks(int first, int count) {
        for (int i = first; i < first + count; ++i)
            ASSERT_TRUE(writer_.WriteBlock(Block(i).data()));
    }
    // Every header field, for a file whose header should count `blocks` blocks.
    static void ExpectHeader(const Bytes& f, std::uint64_t blocks) {
        ASSERT_GE(f.size(), 92u);
        EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "DSD ");
        EXPECT_EQ(std::string(f.begin() + 28, f.begin() + 32), "fmt ");
        EXPECT_EQ(std::string(f.begin() + 80, f.begin() + 84), "data");
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
    }

    fs::path dir_;
    fs::path path_;
    DsfWriter writer_;
};

TEST_F(DsfWriterTest, HeaderFollowsTheBlocksThroughFlushAndClose) {
    ASSERT_TRUE(writer_.Create(path_.string()));
    ExpectHeader(ReadAll(path_), 0);
    WriteBlocks(0, 5);
    ASSERT_TRUE(writer_.Flush());
    WriteBlocks(5, 2);
    // What a crash now would leave: two whole blocks beyond the five the header counts.
    fs::copy_file(path_, dir_ / "cut.dsf");
    ASSERT_TRUE(writer_.Close());

    const Bytes cut = ReadAll(dir_ / "cut.dsf");
    EXPECT_EQ(cut.size(), 92u + 7 * 8192);
    ExpectHeader(cut, 5);
    const Bytes f = ReadAll(path_);
    ASSERT_EQ(f.size(), 92u + 7 * 8192);
    ExpectHeader(f, 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(std::equal(f.begin() + 92 + i * 8192, f.begin() + 92 + (i + 1) * 8192, Block(i).begin()))
            << i;
}

TEST_F(DsfWriterTest, FailuresAreReportedNotThrown) {
    EXPECT_FALSE(writer_.WriteBlock(Block(0).data()));
    EXPECT_FALSE(writer_.Flush());
    EXPECT_FALSE(writer_.Create((dir_ / "missing" / "x.dsf").string()));
    if (fs::exists("/dev/full")) {
        EXPECT_FALSE(writer_.Create("/dev/full")); // the header write finds the disk full
    }
    EXPECT_FALSE(writer_.IsOpen());
    ASSERT_TRUE(writer_.Create((dir_ / "x.dsf").string()));
    EXPECT_FALSE(writer_.WriteBlock(nullptr));
    EXPECT_EQ(writer_.BlockCount(), 0u);
}

TEST_F(DsfWriterTest, FfmpegDecodesTheWholeStream) {
    if (std::system("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null") != 0)
        GTEST_SKIP() << "ffmpeg not installed";
    ASSERT_TRUE(writer_.Create(path_.string()));
    WriteBlocks(0, 50);
    ASSERT_TRUE(writer_.Close());
    // ffprobe counts in bytes of one channel (eight DSD samples each).
    EXPECT_EQ(
        Capture("ffprobe -v error -show_entries stream=codec_name,channels,duration_ts -of default=nw=1 " +
                path_.string()),
        "codec_name=dsd_lsbf_planar\nchannels=2\nduration_ts=204800\n");
    // The decoder gives one 32-bit float per channel per DSD byte.
    const std::string bytes =
        Capture("ffmpeg -v error -i " + path_.string() + " -f f32le -acodec pcm_f32le - | wc -c");
    EXPECT_EQ(std::strtoull(bytes.c_str(), nullptr, 10), 50u * 4096 * 2 * 4);
}

} // namespace
