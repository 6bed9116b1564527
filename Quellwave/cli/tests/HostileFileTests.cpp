// Damaged and hostile files through the real quellwave-cli: a file with no audio that can be decoded is
// refused by every command alike, lengths a header cannot back are not believed, non-finite samples play
// as silence, and every refusal names the real reason, with file names shown safely.
#include "CliHarness.h"
#include "TestKit/DsdFiles.h"
#include "TestKit/DsfReadback.h"
#include "TestKit/PcmFiles.h"
#include "TestKit/Wav.h"

#include <sndfile.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using clitest::RunResult;
using testkit::Bytes;
using testkit::ReadBytes;

class HostileFileTest : public clitest::CliFixture {
protected:
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    // A stereo 44.1 kHz 16-bit FLAC of a tone.
    Bytes Flac(double seconds) const {
        testkit::PcmShape shape;
        shape.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        shape.rate = 44100;
        shape.seconds = seconds;
        EXPECT_TRUE(testkit::WritePcm(dir_ / "tone.flac", shape));
        return ReadBytes(dir_ / "tone.flac");
    }
    // Where a FLAC's first audio frame starts: after "fLaC" and the metadata blocks.
    static std::size_t FirstFrame(const Bytes& flac) {
        std::size_t at = 4;
        for (bool last = false; !last && at + 4 <= flac.size();) {
            last = (flac[at] & 0x80) != 0;
            at += 4 + static_cast<std::size_t>(testkit::Be(flac, at + 1, 3));
        }
        return at;
    }
    // The 36-bit total of samples in a FLAC's STREAMINFO, replaced.
    static Bytes WithTotal(Bytes flac, std::uint64_t total) {
        const std::size_t at = 8 + 13; // the total's low 4 bits share a byte with the sample size
        flac[at] = static_cast<std::uint8_t>((flac[at] & 0xF0) | ((total >> 32) & 0x0F));
        for (int i = 0; i < 4; ++i)
            flac[at + 1 + i] = static_cast<std::uint8_t>(total >> (24 - 8 * i));
        return flac;
    }
};

TEST_F(HostileFileTest, AFileWithNoDecodableAudioIsRefusedByEveryCommandAlike) {
    const Bytes flac = Flac(0.05); // a single frame
    const std::size_t audio = FirstFrame(flac);
    ASSERT_LT(audio + 100, flac.size());
    Bytes damaged = flac;
    for (std::size_t i = audio + 20; i < audio + 60; ++i)
        damaged[i] ^= 0x5A;
    const std::pair<std::string, Bytes> files[] = {
        {"header-only.flac", Bytes(flac.begin(), flac.begin() + static_cast<long>(audio))},
        {"cut-in-frame.flac", Bytes(flac.begin(), flac.begin() + static_cast<long>(audio + 30))},
        {"damaged-frame.flac", damaged},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const std::string path = Write(name, bytes);
        RunResult r = Cli({"info", path});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, path + ": rejected (no audio could be decoded)\n");
        r = Cli({"play", "--driver", "dsf:" + Path("rec.dsf"), path});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(path + ": rejected (no audio could be decoded)"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        r = Cli({"convert", path, Path("out.dsf")});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("no audio could be decoded"), std::string::npos) << r.err;
    }
}

TEST_F(HostileFileTest, AGaplessListNumbersOnlyWhatPlays) {
    const Bytes flac = Flac(1.0);
    const std::string a = Write("a.flac", flac), c = Write("c.flac", flac);
    const std::string b =
        Write("b.flac", Bytes(flac.begin(), flac.begin() + static_cast<long>(FirstFrame(flac))));
    const RunResult r = Cli({"play", "--gapless", "--driver", "dsf:" + Path("rec.dsf"), a, b, c});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(b + ": rejected (no audio could be decoded)"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("position 1 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("position 2 "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("position 3 "), std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with("end\n")) << r.out;
}

TEST_F(HostileFileTest, FlacLengthsThatAreUnknownOrImpossibleAreNotBelieved) {
    const Bytes flac = Flac(3.0);
    const std::uint64_t frames = 3 * 44100;
    const std::string shape = "flac rate=44100 bits=16 channels=2 length_ms=";
    const std::pair<std::string, std::string> cases[] = {
        {Write("true.flac", flac), shape + "3000"},
        {Write("no-total.flac", WithTotal(flac, 0)), shape + "unknown"},
        // Days of audio in 3 s worth of bytes, and ten times as much as the frames it has can hold.
        {Write("days.flac", WithTotal(flac, frames * 100000)), shape + "unknown"},
        {Write("tenfold.flac", WithTotal(flac, frames * 10)), shape + "unknown"},
    };
    for (const auto& [path, line] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Cli({"info", path}).out, path + ": " + line + "\n");
        const RunResult played = Cli({"play", "--driver", "dsf:" + Path("rec.dsf"), path});
        EXPECT_EQ(played.status, 0) << played.err;
        EXPECT_TRUE(played.out.ends_with("end\n")) << played.out;
    }
    // A stream without a total is not a damaged one.
    const RunResult converted = Cli({"convert", Path("no-total.flac"), Path("out.dsf")});
    EXPECT_EQ(converted.status, 0) << converted.err;
    EXPECT_EQ(converted.err.find("ends early"), std::string::npos) << converted.err;
    EXPECT_EQ(ReadBytes(Path("out.dsf")).size(), 92u + (frames + 511) / 512 * 8192); // the whole stream
}

TEST_F(HostileFileTest, NonFiniteSamplesPlayAndConvertAsSilence) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    // A tone with NaN and both infinities in it, and the same tone with silence in their place: every
    // command must give the two the same bytes.
    const auto write = [&](const std::string& name, int format, int rate, bool nonFinite) {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = 2;
        info.format = format;
        SNDFILE* file = sf_open(Path(name).c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
        if (file == nullptr)
            return Path(name);
        std::vector<double> samples(2 * 22050);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = 0.25 * std::sin(0.05 * static_cast<double>(i / 2));
        for (std::size_t at = 1000; at < samples.size(); at += 3001) {
            const double odd[] = {kNaN, kInf, -kInf};
            samples[at] = nonFinite ? odd[(at / 3001) % 3] : 0.0;
        }
        EXPECT_EQ(sf_writef_double(file, samples.data(), 22050), 22050);
        sf_close(file);
        return Path(name);
    };
    // The first 30 blocks of sound in a recording (0.35 s, a dozen of the odd samples): the silence fed
    // before the audio, and where playback ends after it, depend on the moment the threads meet.
    const auto Audio = [](const std::string& path) {
        const auto stream = testkit::ReadDsf(path);
        EXPECT_TRUE(stream.valid) << stream.error;
        std::vector<Bytes> blocks;
        for (const auto& block : stream.blocks)
            if (!blocks.empty() || testkit::NotSilent(block.bytes) > 0)
                blocks.push_back(block.bytes);
        EXPECT_GE(blocks.size(), 30u);
        blocks.resize(std::min<std::size_t>(blocks.size(), 30));
        return blocks;
    };
    const std::tuple<const char*, int, int> kinds[] = {
        {"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100},
        {"double", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 44100},
        {"double-48k", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 48000}, // through the resampler
    };
    for (const auto& [kind, format, rate] : kinds) {
        SCOPED_TRACE(kind);
        const std::string odd = write(std::string(kind) + "-odd.wav", format, rate, true);
        const std::string plain = write(std::string(kind) + "-plain.wav", format, rate, false);
        ASSERT_EQ(Cli({"convert", odd, Path("odd.dsf")}).status, 0);
        ASSERT_EQ(Cli({"convert", plain, Path("plain.dsf")}).status, 0);
        EXPECT_EQ(ReadBytes(Path("odd.dsf")), ReadBytes(Path("plain.dsf")));
        ASSERT_EQ(Cli({"play", "--driver", "dsf:" + Path("odd-rec.dsf"), odd}).status, 0);
        ASSERT_EQ(Cli({"play", "--driver", "dsf:" + Path("plain-rec.dsf"), plain}).status, 0);
        EXPECT_EQ(Audio(Path("odd-rec.dsf")), Audio(Path("plain-rec.dsf")));
    }
}

TEST_F(HostileFileTest, RefusalsNameTheRealReason) {
    testkit::DsfShape dsf;
    dsf.channels = testkit::StereoPattern(4096, 1);
    testkit::DsdiffShape dff;
    dff.channels = testkit::StereoPattern(4096, 2);
    Bytes badMagic = Flac(0.1);
    badMagic[0] = 'X';
    const std::pair<std::string, std::string> converts[] = {
        {Write("a.dsf", testkit::BuildDsf(dsf)), "rejected (a DSD file: convert takes PCM files)"},
        {Write("b.dff", testkit::BuildDsdiff(dff)), "rejected (a DSD file: convert takes PCM files)"},
        {Write("c.flac", badMagic), "rejected (not FLAC)"},
        {Write("d.txt", Bytes{'h', 'e', 'l', 'l', 'o'}), "rejected (not RIFF)"},
    };
    for (const auto& [path, reason] : converts) {
        SCOPED_TRACE(path);
        const RunResult r = Cli({"convert", path, Path("out.dsf")});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "quellwave-cli: " + path + ": " + reason + "\n");
    }
    EXPECT_EQ(Cli({"info", Path("c.flac")}).out, Path("c.flac") + ": rejected (not FLAC)\n");
}

TEST_F(HostileFileTest, FileNamesAreShownWithoutTheirControlCharacters) {
    // A newline would make two lines of one, an escape sequence would colour or clear the terminal.
    const std::string name = "two\nlines \x1b[2J\x1b[31mred\x7f.txt";
    const std::string path = Write(name, Bytes{'h', 'e', 'l', 'l', 'o'});
    const std::string shown = Path("two lines  [2J [31mred .txt");
    EXPECT_EQ(Cli({"info", path}).out, shown + ": rejected (not RIFF)\n");
    RunResult r = Cli({"play", "--driver", "null", path});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("quellwave-cli: " + shown + ": rejected (not RIFF)\n"), std::string::npos) << r.err;
    r = Cli({"convert", path, Path("out.dsf")});
    EXPECT_EQ(r.err, "quellwave-cli: " + shown + ": rejected (not RIFF)\n");
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
}

} // namespace
