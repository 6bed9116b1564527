// Files laid out as other programs write them, through the real quellwave-cli: each is accepted with the
// length of the audio it really holds, or refused with a reason, and plays to its real end.
#include "CliHarness.h"
#include "TestKit/DsdFiles.h"
#include "TestKit/DsfReadback.h"
#include "TestKit/Wav.h"

#include <gtest/gtest.h>

using namespace testkit;

namespace {

using clitest::Quote;

struct Chunk {
    Chunk(std::string i, Bytes b, bool p = true, std::optional<std::uint32_t> s = {})
        : id(std::move(i)), body(std::move(b)), pad(p), size(s) {}
    std::string id;
    Bytes body;
    bool pad;                          // the pad byte after an odd size
    std::optional<std::uint32_t> size; // else the body's size
};

// A RIFF WAVE file of the given chunks, in order.
Bytes Riff(const std::vector<Chunk>& chunks) {
    Bytes body{'W', 'A', 'V', 'E'};
    for (const Chunk& c : chunks) {
        body.insert(body.end(), c.id.begin(), c.id.end());
        PutLe(body, c.size.value_or(static_cast<std::uint32_t>(c.body.size())), 4);
        body.insert(body.end(), c.body.begin(), c.body.end());
        if (c.pad && c.body.size() % 2 != 0)
            body.push_back(0);
    }
    Bytes out{'R', 'I', 'F', 'F'};
    PutLe(out, static_cast<std::uint32_t>(body.size()), 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Chunk Format(std::uint16_t bits) {
    Bytes f;
    PutLe(f, 1, 2), PutLe(f, 2, 2), PutLe(f, 44100, 4), PutLe(f, 44100u * bits / 4, 4), PutLe(f, bits / 4, 2),
        PutLe(f, bits, 2);
    return {"fmt ", f};
}

// A DSDIFF file with an odd-sized chunk before the properties, with or without its pad byte.
Bytes DsdiffWithOddChunk(const testkit::DsdiffShape& shape, bool pad) {
    Bytes file = testkit::BuildDsdiff(shape);
    Bytes odd{'D', 'I', 'A', 'R'};
    testkit::PutBe(odd, 5, 8);
    odd.insert(odd.end(), {'n', 'o', 't', 'e', 's'});
    if (pad)
        odd.push_back(0);
    file.insert(file.begin() + 32, odd.begin(), odd.end()); // after the FVER chunk
    Bytes size;
    testkit::PutBe(size, file.size() - 12, 8);
    std::copy(size.begin(), size.end(), file.begin() + 4);
    return file;
}

struct Case {
    std::string name;
    std::string expected;    // the info line after "path: "
    std::size_t audioBlocks; // blocks of audio the file really holds (0: refused)
};

class RealWorldFileTest : public clitest::CliFixture {
protected:
    bool Ffmpeg(const std::string& args) {
        return std::system(("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1 -ac 2 -ar 44100 " +
                            args + " </dev/null")
                               .c_str()) == 0;
    }
    // Checks the info line, then plays the file into a recording and checks the audio lasts exactly as
    // long as the file's own audio (plus the faded final chunk), not what its header claims.
    void Check(const Case& c) {
        const std::string path = (dir_ / c.name).string();
        const auto info = CliLine("info " + Quote(path));
        EXPECT_EQ(info.out, path + ": " + c.expected + "\n") << c.name;
        EXPECT_EQ(info.status, c.audioBlocks > 0 ? 0 : 1) << c.name;
        if (c.audioBlocks == 0)
            return;
        const std::string rec = (dir_ / "rec.dsf").string();
        const auto played = CliLine("play --rf-mode --driver " + Quote("dsf:" + rec) + " " + Quote(path));
        ASSERT_EQ(played.status, 0) << c.name;
        EXPECT_EQ(played.out.substr(played.out.size() - 4), "end\n") << c.name;
        const auto stream = testkit::ReadDsf(rec);
        ASSERT_TRUE(stream.valid) << c.name << ": " << stream.error;
        const auto segments = stream.Segments();
        ASSERT_EQ(segments.size(), 1u) << c.name;
        // The track ends by its length: its blocks, then what the rings held when the end was seen (at
        // most 32 blocks) and the final chunk (11 blocks), give or take the few blocks by which the output
        // thread, running late on a loaded machine, sees the end after the reader. A header's claim would
        // run for hours.
        constexpr std::size_t kRingBlocks = 32, kFinalChunkBlocks = 11, kLateOutputBlocks = 4;
        EXPECT_GE(segments[0].count, c.audioBlocks) << c.name;
        EXPECT_LE(segments[0].count, c.audioBlocks + kRingBlocks + kFinalChunkBlocks + kLateOutputBlocks)
            << c.name;
    }
};

TEST_F(RealWorldFileTest, WavLayoutsOfOtherWriters) {
    const Bytes audio16 = Pattern(44100 * 4), audio24 = Pattern(22050 * 6);
    const Chunk data16{"data", audio16}, data24{"data", audio24};
    const std::vector<std::pair<std::string, std::vector<Chunk>>> built = {
        {"odd-padded.wav", {Format(16), {"LIST", {1, 2, 3}}, {"junk", {1, 2, 3, 4, 5}}, data16}},
        {"odd-unpadded.wav", {Format(16), {"LIST", {1, 2, 3}, false}, {"COMT", {9}, false}, data16}},
        // The data size's low byte is printable ('d'), so the padded position looks like an identifier
        // too ("atad"); only the unpadded one holds a real chunk header.
        {"odd-unpadded-printable.wav", {Format(16), {"COMT", {9}, false}, {"data", Pattern(176484)}}},
        {"odd-padded-printable.wav", {Format(16), {"COMT", {9}}, {"data", Pattern(176484)}}},
        {"bext-first.wav", {{"bext", Bytes(602, 0x20)}, {"JUNK", Bytes(28)}, Format(24), data24}},
        {"six-between.wav",
         {Format(16),
          {"LIST", {1}},
          {"junk", {2}},
          {"cue ", {3, 3}},
          {"smpl", {4}},
          {"inst", {5}},
          {"afsp", {6}},
          data16}},
        {"pipe-size.wav", {Format(16), {"data", audio16, true, 0xFFFFFFFFu}}},
        {"header-only.wav", {Format(16), {"data", {}, true, 0xFFFFFFFFu}}},
        {"data-before-fmt.wav", {data16, Format(16)}},
    };
    for (const auto& [name, chunks] : built)
        WriteBytes(dir_ / name, Riff(chunks));
    Bytes cut = Riff({Format(16), data16});
    cut.resize(44 + 30001); // a download cut short, inside a frame
    WriteBytes(dir_ / "truncated.wav", cut);

    // 44 100 frames: 87 blocks (86.1); 22 050 frames: 44 blocks; the cut file: 7500 whole frames, 15 blocks.
    std::vector<Case> cases = {
        {"odd-padded.wav", "wav16 length_ms=1000", 87},
        {"odd-unpadded.wav", "wav16 length_ms=1000", 87},
        {"odd-unpadded-printable.wav", "wav16 length_ms=1000", 87},
        {"odd-padded-printable.wav", "wav16 length_ms=1000", 87},
        {"bext-first.wav", "wav24 length_ms=500", 44},
        {"six-between.wav", "wav16 length_ms=1000", 87},
        {"pipe-size.wav", "wav16 length_ms=1000", 87},
        {"truncated.wav", "wav16 length_ms=170", 15},
        {"header-only.wav", "rejected (no audio data)", 0},
        {"data-before-fmt.wav", "rejected (no format chunk before the data)", 0},
    };
    if (clitest::Have("ffmpeg")) {
        const auto at = [&](const char* name) { return Quote((dir_ / name).string()); };
        ASSERT_TRUE(Ffmpeg("-c:a pcm_s16le -metadata title=abcde " + at("ff-list16.wav")));
        ASSERT_TRUE(Ffmpeg("-c:a pcm_s24le " + at("ff-24.wav")));
        ASSERT_TRUE(Ffmpeg("-c:a pcm_s16le -write_bext 1 -metadata description=take1 " + at("ff-bext.wav")));
        ASSERT_TRUE(Ffmpeg("-c:a pcm_s24le -rf64 auto " + at("ff-rf64.wav")));
        ASSERT_TRUE(Ffmpeg("-c:a pcm_s16le -f wav - > " + at("ff-pipe.wav")));
        for (const char* name : {"ff-list16.wav", "ff-bext.wav", "ff-pipe.wav"})
            cases.push_back({name, "wav16 length_ms=1000", 87});
        for (const char* name : {"ff-24.wav", "ff-rf64.wav"})
            cases.push_back({name, "wav24 length_ms=1000", 87});
    }
    for (const Case& c : cases)
        Check(c);
}

TEST_F(RealWorldFileTest, DsdLayoutsOfOtherWriters) {
    testkit::DsdiffShape dff;
    dff.channels = testkit::StereoPattern(20000, 1);
    WriteBytes(dir_ / "odd-padded.dff", DsdiffWithOddChunk(dff, true));
    WriteBytes(dir_ / "odd-unpadded.dff", DsdiffWithOddChunk(dff, false));
    testkit::DsfShape dsf;
    dsf.channels = testkit::StereoPattern(20000, 3);
    dsf.sampleCount = ~0ull; // a header that claims forever
    WriteBytes(dir_ / "endless.dsf", testkit::BuildDsf(dsf));
    dsf.sampleCount.reset();
    Bytes cut = testkit::BuildDsf(dsf);
    cut.resize(92 + 8192 + 100); // one whole block per channel, then 100 bytes of the left
    WriteBytes(dir_ / "truncated.dsf", cut);
    Bytes header = testkit::BuildDsf(dsf);
    header.resize(92);
    WriteBytes(dir_ / "header-only.dsf", header);

    // 20 000 bytes per channel: 4.9 blocks, played as 5; the cut file holds one block.
    for (const Case& c : std::vector<Case>{
             {"odd-padded.dff", "dsdiff length_ms=56 rf_mode=required", 5},
             {"odd-unpadded.dff", "dsdiff length_ms=56 rf_mode=required", 5},
             // Without a usable sample count the whole last block counts, padding included.
             {"endless.dsf", "dsf length_ms=58 rf_mode=required", 5},
             {"truncated.dsf", "dsf length_ms=11 rf_mode=required", 1},
             {"header-only.dsf", "rejected (no audio data)", 0},
         })
        Check(c);
}

} // namespace
