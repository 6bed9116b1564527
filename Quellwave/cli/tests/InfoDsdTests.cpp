// Runs the real quellwave-cli info on generated DSF and DSDIFF files, mixed with WAV files, and checks
// the lines a user sees and the exit status.
#include "CliHarness.h"
#include "engine/tests/DsdBuilder.h"
#include "engine/tests/WavBuilder.h"

#include <gtest/gtest.h>

namespace {

class InfoDsdTest : public ::testing::Test {
protected:
    using Result = clitest::RunResult;

    Result Info(std::vector<std::string> paths) {
        paths.insert(paths.begin(), "info");
        return clitest::Shell(clitest::CliCommand(paths), dir_.path);
    }

    std::string Write(const std::string& name, const dsdfile::Bytes& bytes) {
        wavtest::WriteFile(dir_ / name, bytes);
        return (dir_ / name).string();
    }

    static dsdfile::DsfShape Dsf(std::size_t bytesPerChannel, void (*change)(dsdfile::DsfShape&) = nullptr) {
        dsdfile::DsfShape s;
        s.channels = {dsdfile::ChannelPattern(bytesPerChannel, 1),
                      dsdfile::ChannelPattern(bytesPerChannel, 2)};
        if (change)
            change(s);
        return s;
    }
    static dsdfile::DsdiffShape Dsdiff(std::size_t bytesPerChannel,
                                       void (*change)(dsdfile::DsdiffShape&) = nullptr) {
        dsdfile::DsdiffShape s;
        s.channels = {dsdfile::ChannelPattern(bytesPerChannel, 3),
                      dsdfile::ChannelPattern(bytesPerChannel, 4)};
        if (change)
            change(s);
        return s;
    }

    wavtest::ScratchDir dir_;
};

TEST_F(InfoDsdTest, ReportsFormatLengthAndRfModeOrTheReason) {
    using namespace dsdfile;
    wavtest::WavShape wav;
    wav.data = wavtest::Pattern(44100 * 4);
    dsdfile::Bytes cutDsf = BuildDsf(Dsf(64));
    cutDsf.resize(50);
    // 352 800 bytes per channel are one second.
    const std::pair<std::string, std::string> files[] = {
        {Write("a.dsf", BuildDsf(Dsf(35280))), "dsf length_ms=100 rf_mode=required"},
        {Write("b.wav", wavtest::BuildWav(wav)), "wav16 length_ms=1000"},
        {Write("c.dff", BuildDsdiff(Dsdiff(70560, [](DsdiffShape& s) { s.commentAfterProperties = true; }))),
         "dsdiff length_ms=200 rf_mode=required"},
        {Write("d.dsf", BuildDsf(Dsf(64, [](DsfShape& s) { s.rate = 8467200; }))),
         "rejected (not 2 822 400, 5 644 800 or 11 289 600 Hz)"},
        {Write("e.dsf", BuildDsf(Dsf(64, [](DsfShape& s) { s.channels.pop_back(); }))),
         "rejected (not stereo)"},
        {Write("f.dsf", BuildDsf(Dsf(64, [](DsfShape& s) { s.bits = 8; }))),
         "rejected (not 1 bit per sample)"},
        {Write("g.dsf", cutDsf), "rejected (truncated header)"},
        {Write("h.dff", BuildDsdiff(Dsdiff(64, [](DsdiffShape& s) { s.compression = "DST "; }))),
         "rejected (compressed)"},
        {Write("i.dff", BuildDsdiff(Dsdiff(64, [](DsdiffShape& s) { s.withRate = false; }))),
         "rejected (no FS chunk)"},
        {Write("j.dff", BuildDsdiff(Dsdiff(64, [](DsdiffShape& s) { s.withChannels = false; }))),
         "rejected (no CHNL chunk)"},
        {Write("k.txt", {'h', 'e', 'l', 'l', 'o'}), "rejected (not RIFF)"},
    };
    std::vector<std::string> paths;
    std::string lines;
    for (const auto& [path, line] : files) {
        paths.push_back(path);
        lines += path + ": " + line + "\n";
    }
    Result r = Info(paths);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, lines);
    EXPECT_EQ(r.err, "");
    paths.resize(3); // only the accepted ones
    EXPECT_EQ(Info(paths).status, 0);
}

} // namespace
