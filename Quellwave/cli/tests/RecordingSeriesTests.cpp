// A "dsf:" recording of a list that changes DSD rate goes on in a numbered series of files: the real
// quellwave-cli never overwrites a file for it (one that exists already, nor one it plays), and says on
// standard error which file each part went to.
#include "CliHarness.h"
#include "TestKit/DsdFiles.h"
#include "TestKit/DsfReadback.h"
#include "TestKit/Wav.h"

#include <gtest/gtest.h>

namespace {

using clitest::RunResult;
using testkit::Bytes;
using testkit::ReadBytes;

class RecordingSeriesTest : public clitest::CliFixture {
protected:
    // A DSF of a recognisable pattern at the given rate (Hz), about a tenth of a second long.
    std::string Dsf(const std::string& name, std::uint32_t rate, std::uint32_t seed) const {
        testkit::DsfShape shape;
        shape.rate = rate;
        shape.channels = testkit::StereoPattern(std::size_t{rate} / 80, seed);
        return Write(name, testkit::BuildDsf(shape));
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    // The rate a recorded file's header names; 0 when it is no DSF.
    std::uint32_t RecordedRate(const std::string& name) const {
        const Bytes f = ReadBytes(Path(name));
        return f.size() < 60 ? 0 : static_cast<std::uint32_t>(testkit::Le(f, 56, 4));
    }
};

TEST_F(RecordingSeriesTest, ASeriesPassesOverEveryFileThatExists) {
    const std::string a = Dsf("a.dsf", 2822400, 1), b = Dsf("b.dsf", 5644800, 2),
                      c = Dsf("c.dsf", 2822400, 3);
    // Left by someone else: the next name of the series, and a dangling link under the one after it.
    const Bytes kept = testkit::Pattern(5000);
    Write("rec-2.dsf", kept);
    std::filesystem::create_symlink(dir_ / "nowhere.dsf", dir_ / "rec-3.dsf");
    for (const bool gapless : {false, true}) {
        SCOPED_TRACE(gapless ? "gapless" : "with gaps");
        std::filesystem::remove(Path("rec-4.dsf"));
        std::filesystem::remove(Path("rec-5.dsf"));
        std::vector<std::string> args = {"play", "--rf-mode", "--driver", "dsf:" + Path("rec.dsf"), a, b, c};
        if (gapless)
            args.insert(args.begin() + 1, "--gapless");
        const RunResult r = Cli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ReadBytes(Path("rec-2.dsf")), kept);
        EXPECT_FALSE(std::filesystem::exists(dir_ / "nowhere.dsf"));
        EXPECT_EQ(RecordedRate("rec.dsf"), 2822400u);
        EXPECT_EQ(RecordedRate("rec-4.dsf"), 5644800u);
        EXPECT_EQ(RecordedRate("rec-5.dsf"), 2822400u);
        EXPECT_TRUE(testkit::ReadDsf(Path("rec-4.dsf"), 5644800).valid);
        EXPECT_FALSE(std::filesystem::exists(Path("rec-6.dsf")));
        // Where each part went, in the order the parts were recorded.
        const std::size_t second = r.err.find("DSD128 goes on in " + Path("rec-4.dsf"));
        const std::size_t third = r.err.find("DSD64 goes on in " + Path("rec-5.dsf"));
        EXPECT_NE(second, std::string::npos) << r.err;
        EXPECT_NE(third, std::string::npos) << r.err;
        EXPECT_LT(second, third) << r.err;
    }
}

TEST_F(RecordingSeriesTest, AFileThatIsPlayedIsNeverPartOfTheSeries) {
    // The second file to play carries the name the series' second part would take.
    const std::string one = Dsf("one.dsf", 2822400, 4);
    const std::string played = Dsf("rec-2.dsf", 5644800, 5);
    const Bytes before = ReadBytes(played);
    const RunResult r = Cli({"play", "--rf-mode", "--driver", "dsf:" + Path("rec.dsf"), one, played});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(played), before);
    EXPECT_EQ(RecordedRate("rec-3.dsf"), 5644800u);
    EXPECT_NE(r.err.find("DSD128 goes on in " + Path("rec-3.dsf")), std::string::npos) << r.err;
}

TEST_F(RecordingSeriesTest, ARecordingThatCannotBeginLeavesNoFileAndNoAdviceAboutDrivers) {
    const std::string one = Dsf("one.dsf", 2822400, 6);
    // The header cannot be written at all (a file size limit of nothing refuses it as a full disk does).
    // The program's messages and status go through a pipe, which the limit does not touch.
    const std::string command =
        clitest::CliCommand({"play", "--rf-mode", "--driver", "dsf:" + Path("rec.dsf"), one});
    const RunResult r = Shell("sh -c " + clitest::Quote("(trap '' XFSZ; ulimit -f 0; " + command +
                                                        "; echo \"exit $?\") 2>&1 | cat"));
    EXPECT_NE(r.out.find("exit 3\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("cannot record to " + Path("rec.dsf") + ": file too large"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("--driver"), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(Path("rec.dsf")));
}

} // namespace
