// Runs the real quellwave-cli info on generated DSF and DSDIFF files, mixed with WAV files, and checks
// the lines a user sees and the exit status.
#include "CliHarness.h"
#include "TestKit/DsdFiles.h"
#include "TestKit/Wav.h"

#include <gtest/gtest.h>

namespace {

class InfoDsdTest : public clitest::CliFixture {
protected:
    using Result = clitest::RunResult;

    Result Info(std::vector<std::string> paths) {
        paths.insert(paths.begin(), "info");
        return Cli(paths);
    }

    static testkit::DsfShape Dsf(std::size_t bytesPerChannel, void (*change)(testkit::DsfShape&) = nullptr) {
        testkit::DsfShape s;
        s.channels = testkit::StereoPattern(bytesPerChannel, 1);
        if (change)
            change(s);
        return s;
    }
    static testkit::DsdiffShape Dsdiff(std::size_t bytesPerChannel,
                                       void (*change)(testkit::DsdiffShape&) = nullptr) {
        testkit::DsdiffShape s;
        s.channels = testkit::StereoPattern(bytesPerChannel, 3);
        if (change)
            change(s);
        return s;
    }
};

TEST_F(InfoDsdTest, ReportsFormatLengthAndRfModeOrTheReason) {
    using namespace testkit;
    testkit::WavShape wav;
    wav.data = testkit::Pattern(44100 * 4);
    testkit::Bytes cutDsf = BuildDsf(Dsf(64));
    cutDsf.resize(50);
    // 352 800 bytes per channel are one second.
    const std::pair<std::string, std::string> files[] = {
        {Write("a.dsf", BuildDsf(Dsf(35280))), "dsf length_ms=100 rf_mode=required"},
        {Write("b.wav", testkit::BuildWav(wav)), "wav16 length_ms=1000"},
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
         "rejected (DST-compressed DSDIFF is not supported)"},
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
