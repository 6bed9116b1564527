// "play" with DSF and DSDIFF files: the real quellwave-cli recording through the "dsf:" driver, the
// recording compared byte for byte with the input, and what happens to DSD files outside RF mode.
#include "CliHarness.h"
#include "TestKit/DsdFiles.h"
#include "TestKit/DsfReadback.h"
#include "TestKit/Wav.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

using testkit::Bytes;

using clitest::Quote;
using clitest::RunResult;

class PlayDsdTest : public clitest::CliFixture {
protected:
    // Runs "quellwave-cli play ARGS".
    RunResult Play(std::vector<std::string> args) {
        args.insert(args.begin(), "play");
        return Cli(args);
    }
    std::string Recording() const { return (dir_ / "out.dsf").string(); }

    // The recording's left and right channels after the 50 priming and 20 lead-in blocks, which must
    // all be silent.
    std::pair<Bytes, Bytes> RecordedChannels() {
        const auto stream = testkit::ReadDsf(Recording());
        EXPECT_TRUE(stream.valid) << stream.error;
        for (std::size_t b = 0; b < 70 && b < stream.blocks.size(); ++b)
            EXPECT_TRUE(stream.blocks[b].Silent()) << "block " << b;
        const auto channels = testkit::Channels(stream.blocks, 70);
        return {channels.left, channels.right};
    }
    // The channel holds want from its start, then only silence.
    static void ExpectExactlyThenSilence(const Bytes& channel, const Bytes& want) {
        ASSERT_GE(channel.size(), want.size());
        EXPECT_TRUE(std::equal(want.begin(), want.end(), channel.begin()));
        EXPECT_EQ(testkit::NotSilent(channel, want.size()), 0u);
    }
};

TEST_F(PlayDsdTest, ADsfFileIsRecordedUnchangedUpToItsSampleCount) {
    testkit::DsfShape shape;
    const std::size_t perChannel = 5 * 4096 + 1500; // the last block partly filled
    shape.channels = testkit::StereoPattern(perChannel, 7);
    shape.padByte = 0x33; // beyond the sample count: must never be played
    const std::string in = Write("in.dsf", testkit::BuildDsf(shape));

    const RunResult r = Play({"--rf-mode", "--driver", "dsf:" + Recording(), in});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "position 1 11\nend\n");
    EXPECT_EQ(r.err, "");
    const auto [left, right] = RecordedChannels();
    ExpectExactlyThenSilence(left, shape.channels[0]);
    ExpectExactlyThenSilence(right, shape.channels[1]);
}

TEST_F(PlayDsdTest, ADsdiffFileWithACommentIsRecordedBitReversed) {
    testkit::DsdiffShape shape;
    const std::size_t perChannel = 3 * 4096 + 800;
    shape.channels = testkit::StereoPattern(perChannel, 9);
    shape.channels[0][0] = 0x01, shape.channels[0][1] = 0x69;
    shape.channels[1][0] = 0x69, shape.channels[1][1] = 0x01;
    shape.commentAfterProperties = true;
    const std::string in = Write("in.dff", testkit::BuildDsdiff(shape));

    const RunResult r = Play({"--rf-mode", "--driver", "dsf:" + Recording(), in});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "position 1 11\nend\n");
    const auto [left, right] = RecordedChannels();
    ASSERT_GE(left.size(), 2u);
    EXPECT_EQ(left[0], 0x80);
    EXPECT_EQ(left[1], 0x96);
    EXPECT_EQ(right[0], 0x96);
    EXPECT_EQ(right[1], 0x80);
    ExpectExactlyThenSilence(left, testkit::ReverseBits(shape.channels[0]));
    ExpectExactlyThenSilence(right, testkit::ReverseBits(shape.channels[1]));
}

TEST_F(PlayDsdTest, WithoutRFModeDsdFilesAreNamedAndSkipped) {
    testkit::DsfShape shape;
    shape.channels = testkit::StereoPattern(4096, 1);
    const std::string dsf = Write("in.dsf", testkit::BuildDsf(shape));
    RunResult r = Play({"--driver", "dsf:" + Recording(), dsf});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(dsf + ": rejected (DSD file: needs --rf-mode or useRFMode = 1)"), std::string::npos)
        << r.err;

    // Beside a WAV file, only the WAV file plays.
    testkit::WavShape wav;
    wav.data = Bytes(static_cast<std::size_t>(0.2 * 44100) * 4, 0);
    const std::string w = Write("a.wav", testkit::BuildWav(wav));
    r = Play({"--driver", "dsf:" + Recording(), dsf, w});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "position 1 11\nend\n");
    EXPECT_NE(r.err.find(dsf + ": rejected"), std::string::npos);
}

TEST_F(PlayDsdTest, ABrokenDsdFileIsNamedWithItsReason) {
    testkit::DsfShape shape;
    shape.channels = {testkit::ChannelPattern(4096, 1)}; // one channel
    const std::string mono = Write("mono.dsf", testkit::BuildDsf(shape));
    const RunResult r = Play({"--rf-mode", "--driver", "dsf:" + Recording(), mono});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(mono + ": rejected (not stereo)"), std::string::npos) << r.err;
}

} // namespace
