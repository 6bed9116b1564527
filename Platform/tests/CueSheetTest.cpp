// CUE sheets: what the parser accepts, where the layout puts every track, and the errors a user sees
// for sheets it cannot use.
#include "Platform/CueSheet.h"

#include "TestKit/DiscImage.h"
#include "TestKit/Scratch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace platform;
using ::testing::HasSubstr;

namespace {

constexpr std::uint64_t kSector = kCdSectorBytes;

struct Parsed {
    bool ok = false;
    CueSheet sheet;
    CueError error;
};

Parsed Parse(std::string_view text) {
    Parsed p;
    p.ok = ParseCueSheet(text, p.sheet, p.error);
    return p;
}

TEST(CueSheetParse, ReadsEveryFieldOfAFullSheet) {
    const Parsed p = Parse("\xEF\xBB\xBFREM GENRE Test\r\n"
                           "CATALOG 0123456789012\r\n"
                           "PERFORMER \"Someone\"\r\n"
                           "FILE \"disc one.bin\" BINARY\r\n"
                           "  TRACK 01 AUDIO\r\n"
                           "    ISRC GBAYE6500001\r\n"
                           "    INDEX 01 00:00:00\r\n"
                           "  TRACK 02 AUDIO\r\n"
                           "    TITLE Two words\r\n"
                           "    PERFORMER \"Caf\xC3\xA9 Trio\"\r\n"
                           "    FLAGS DCP PRE\r\n"
                           "    INDEX 00 00:10:00\r\n"
                           "    INDEX 01 00:12:05\r\n"
                           "    INDEX 02 00:20:00\r\n"
                           "FILE data.bin binary\r\n"
                           "  TRACK 03 MODE1/2352\r\n"
                           "    PREGAP 00:02:00\r\n"
                           "    INDEX 01 00:00:00\r\n"
                           "    POSTGAP 00:01:00\r\n");
    ASSERT_TRUE(p.ok) << p.error.line << ": " << p.error.message;
    EXPECT_EQ(p.sheet.catalog, "0123456789012");
    ASSERT_EQ(p.sheet.files.size(), 2u);
    EXPECT_EQ(p.sheet.files[0], "disc one.bin");
    ASSERT_EQ(p.sheet.tracks.size(), 3u);
    EXPECT_EQ(p.sheet.tracks[0].isrc, "GBAYE6500001");
    // TITLE and PERFORMER: before the first TRACK the disc's, after it the track's; unquoted words joined.
    EXPECT_EQ(p.sheet.performer, "Someone");
    EXPECT_EQ(p.sheet.title, "");
    EXPECT_EQ(p.sheet.tracks[0].performer, "");
    EXPECT_EQ(p.sheet.tracks[1].title, "Two words");
    EXPECT_EQ(p.sheet.tracks[1].performer, "Caf\xC3\xA9 Trio");
    EXPECT_EQ(p.sheet.tracks[1].control, kCdControlCopyPermitted | kCdControlPreEmphasis);
    ASSERT_EQ(p.sheet.tracks[1].indexes.size(), 3u);
    EXPECT_EQ(p.sheet.tracks[1].indexes[1].fileSector, 12u * 75 + 5);
    EXPECT_EQ(p.sheet.tracks[2].mode, CueTrackMode::Mode1Raw);
    EXPECT_EQ(p.sheet.tracks[2].control, kCdControlData);
    EXPECT_EQ(p.sheet.tracks[2].file, 1);
    EXPECT_EQ(p.sheet.tracks[2].pregap, 150u);
    EXPECT_EQ(p.sheet.tracks[2].postgap, 75u);
}

TEST(CueSheetParse, RefusesWhatItCannotPlayWithTheLineAndTheReason) {
    struct Case {
        const char* text;
        std::size_t line;
        const char* reason;
    };
    const Case cases[] = {
        {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", 1, "FILE type WAVE is not supported"},
        {"FILE a.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n", 2, "MODE1/2048 is not supported"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:75\n", 3, "mm:ss:ff"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:60:00\n", 3, "mm:ss:ff"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 03 AUDIO\n", 4, "follow each other"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nTRACK 02 AUDIO\n", 3, "has no INDEX 01"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 00 00:00:00\n", 0, "has no INDEX 01"},
        {"TRACK 01 AUDIO\n", 1, "before any FILE"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:02:00\nINDEX 02 00:01:00\n", 4, "backwards"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 02 00:00:00\n", 3, "first INDEX must be 00 or 01"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nISRC ABC\nINDEX 01 00:00:00\n", 3, "ISRC needs 12"},
        {"CATALOG 12345\n", 1, "13 digits"},
        {"FILE \"a.bin BINARY\n", 1, "unclosed quote"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nFLAGS XYZ\n", 3, "unknown flag"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nBOGUS 1\n", 4, "unknown command"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 00 00:00:00\nFILE b.bin BINARY\nINDEX 01 00:00:00\n", 4,
         "split across files"},
        {"", 0, "no TRACK"},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.text);
        EXPECT_FALSE(p.ok) << c.text;
        EXPECT_EQ(p.error.line, c.line) << c.text;
        EXPECT_THAT(p.error.message, HasSubstr(c.reason)) << c.text;
    }
}

class CueLayoutTest : public ::testing::Test {
protected:
    DiscLayout Lay(std::string_view text, const std::vector<std::uint64_t>& sectors, bool expectOk = true) {
        const Parsed p = Parse(text);
        EXPECT_TRUE(p.ok) << p.error.message;
        std::vector<std::uint64_t> bytes;
        for (auto s : sectors) {
            bytes.push_back(s * kSector);
        }
        DiscLayout layout;
        ok_ = LayOutDisc(p.sheet, bytes, layout, error_);
        EXPECT_EQ(ok_, expectOk) << error_.message;
        return layout;
    }
    bool ok_ = false;
    CueError error_;
};

TEST_F(CueLayoutTest, FilesFollowEachOtherAndGapsNotInTheFileAddSilence) {
    const DiscLayout d = Lay("FILE a.bin BINARY\n"
                             " TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
                             " TRACK 02 AUDIO\n  INDEX 00 00:04:00\n  INDEX 01 00:05:00\n"
                             "FILE b.bin BINARY\n"
                             " TRACK 03 AUDIO\n  PREGAP 00:02:00\n  INDEX 01 00:00:00\n  POSTGAP 00:00:10\n"
                             " TRACK 04 AUDIO\n  INDEX 01 00:03:00\n",
                             {600, 400});
    ASSERT_EQ(d.tracks.size(), 4u);
    EXPECT_EQ(d.tracks[0].start, 0);
    EXPECT_EQ(d.tracks[0].length, 300u); // up to track 2's INDEX 00
    EXPECT_EQ(d.tracks[1].pregapStart, 300);
    EXPECT_EQ(d.tracks[1].start, 375);
    EXPECT_EQ(d.tracks[1].length, 225u); // rest of file a
    EXPECT_EQ(d.tracks[2].pregapStart, 600);
    EXPECT_EQ(d.tracks[2].start, 750);        // after 150 sectors of PREGAP silence
    EXPECT_EQ(d.tracks[2].length, 225u + 10); // b.bin 0..224 plus the POSTGAP
    EXPECT_EQ(d.tracks[3].start, 985);
    EXPECT_EQ(d.leadOut, 985 + 175);
    // The sector map: a.bin whole, silence, b.bin up to track 4, silence, the rest of b.bin.
    ASSERT_EQ(d.extents.size(), 6u);
    EXPECT_EQ(d.extents[2].file, -1);
    EXPECT_EQ(d.extents[2].count, 150u);
    EXPECT_EQ(d.extents[3].file, 1);
    EXPECT_EQ(d.extents[3].offset, 0u);
    EXPECT_EQ(d.extents[4].file, -1);
    EXPECT_EQ(d.extents[5].offset, 225 * kSector);
    LONG next = 0;
    for (const DiscExtent& e : d.extents) {
        EXPECT_EQ(e.start, next);
        next += static_cast<LONG>(e.count);
    }
    EXPECT_EQ(next, d.leadOut);
}

TEST_F(CueLayoutTest, RefusesFilesThatDoNotHoldTheirTracks) {
    const char* sheet = "FILE a.bin BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
                        " TRACK 02 AUDIO\n  INDEX 01 00:10:00\n";
    Lay(sheet, {700}, false);
    EXPECT_THAT(error_.message, HasSubstr("beyond the end"));
    Lay(sheet, {751}, true);
    const Parsed p = Parse(sheet);
    DiscLayout layout;
    EXPECT_FALSE(LayOutDisc(p.sheet, {751 * kSector + 100}, layout, error_));
    EXPECT_THAT(error_.message, HasSubstr("not a whole number of 2352-byte sectors"));
    // Two tracks at the same place leave the first without sectors.
    Lay("FILE a.bin BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n TRACK 02 AUDIO\n  INDEX 01 00:00:00\n",
        {10}, false);
    EXPECT_THAT(error_.message, HasSubstr("TRACK 1 has no sectors"));
}

TEST_F(CueLayoutTest, RefusesADiscLongerThanTheAddressesGo) {
    Lay("FILE a.bin BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
        "FILE b.bin BINARY\n TRACK 02 AUDIO\n  PREGAP 99:00:00\n  INDEX 01 00:00:00\n",
        {300000, 10}, false);
    EXPECT_THAT(error_.message, HasSubstr("99:59:74"));
}

TEST(CueImageLoad, ResolvesFilesBesideTheSheetAndNamesWhatIsMissing) {
    const testkit::ScratchFolder scratch("cue");
    const std::filesystem::path& dir = scratch.Path();
    std::filesystem::create_directories(dir / "sub");
    testkit::WriteBytes(dir / "sub" / "a b.bin", testkit::BuildFile(1, std::string(20, 'a'), 0));
    scratch.Put("x.cue", "FILE \"sub/a b.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n");
    DiscLayout layout;
    std::string error;
    ASSERT_TRUE(LoadCueImage(dir / "x.cue", layout, error)) << error;
    EXPECT_EQ(layout.leadOut, 20);
    EXPECT_EQ(layout.files.at(0), dir / "sub" / "a b.bin");

    scratch.Put("y.cue", "FILE missing.bin BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n");
    EXPECT_FALSE(LoadCueImage(dir / "y.cue", layout, error));
    EXPECT_THAT(error, HasSubstr("missing.bin"));
    scratch.Put("z.cue", "FILE a.bin BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n TRACK 02 DATA\n");
    EXPECT_FALSE(LoadCueImage(dir / "z.cue", layout, error));
    EXPECT_THAT(error, HasSubstr("z.cue:4: track mode DATA is not supported"));
    EXPECT_FALSE(LoadCueImage(dir / "none.cue", layout, error));
    EXPECT_THAT(error, HasSubstr("none.cue"));
}

} // namespace
