// The pieces of a whole-disc rip that need no drive: the dBAR reader on good and damaged answers, the
// database's verdict per track, the disc ids against libdiscid's, the CUE sheet's layout and the CRC-32.
#include "rip/AccurateRip.h"
#include "rip/RipSheet.h"

#include <discid/discid.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void Le32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
}

// One entry of a dBAR file: header, then (confidence, crc, frame 450 crc) per track.
Bytes Entry(int tracks, std::uint32_t id1, std::uint32_t id2, std::uint32_t cddb,
            const std::vector<std::pair<int, std::uint32_t>>& sums) {
    Bytes out{static_cast<unsigned char>(tracks)};
    Le32(out, id1);
    Le32(out, id2);
    Le32(out, cddb);
    for (const auto& [confidence, crc] : sums) {
        out.push_back(static_cast<unsigned char>(confidence));
        Le32(out, crc);
        Le32(out, 0x450);
    }
    return out;
}

Bytes Joined(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

TEST(DbarTest, WholeEntriesAreReadAndAnythingElseIsRefusedWithAReason) {
    const Bytes one = Entry(2, 0x11, 0x22, 0x33, {{5, 0xAAAA}, {4, 0xBBBB}});
    const Bytes two = Entry(1, 0x44, 0x55, 0x66, {{1, 0xCCCC}});
    struct Case {
        const char* name;
        Bytes data;
        int entries; // -1: refused
        const char* why;
    };
    const std::vector<Case> cases = {
        {"one entry", one, 1, ""},
        {"two entries", Joined({one, two}), 2, ""},
        {"empty", {}, -1, "empty"},
        {"a header cut short", Bytes(one.begin(), one.begin() + 12), -1, "cut short in its header"},
        {"a track cut short", Bytes(one.begin(), one.end() - 1), -1, "cut short in its tracks"},
        {"one byte after a whole entry", Joined({one, {2}}), -1, "entry 2 is cut short in its header"},
        {"no tracks", Entry(0, 1, 2, 3, {}), -1, "has no tracks"},
        {"a track count beyond the data", Joined({Bytes{99}, Bytes(12, 0), Bytes(9 * 98, 0)}), -1,
         "cut short in its tracks"},
    };
    for (const Case& c : cases) {
        std::vector<rip::DbarEntry> entries;
        std::string why;
        const bool ok = rip::ParseDbar(c.data.data(), c.data.size(), entries, &why);
        EXPECT_EQ(ok, c.entries >= 0) << c.name;
        if (c.entries >= 0) {
            EXPECT_EQ(entries.size(), static_cast<std::size_t>(c.entries)) << c.name;
        } else {
            EXPECT_TRUE(entries.empty()) << c.name;
            EXPECT_NE(why.find(c.why), std::string::npos) << c.name << ": " << why;
        }
    }
    std::vector<rip::DbarEntry> entries;
    ASSERT_TRUE(rip::ParseDbar(one.data(), one.size(), entries, nullptr));
    EXPECT_EQ(entries[0].id1, 0x11u);
    EXPECT_EQ(entries[0].id2, 0x22u);
    EXPECT_EQ(entries[0].cddb, 0x33u);
    EXPECT_EQ(entries[0].tracks[1].confidence, 4);
    EXPECT_EQ(entries[0].tracks[1].crc, 0xBBBBu);
    EXPECT_EQ(entries[0].tracks[1].frame450, 0x450u);
}

TEST(DbarTest, AVerdictCountsTheEntriesOfTheDiscWhoseChecksumMatches) {
    const rip::DiscIds ids{2, 0x11, 0x22, 0x33};
    const Bytes data = Joined({Entry(2, 0x11, 0x22, 0x33, {{5, 0xA2}, {4, 0xB2}}), // v2 sums
                               Entry(2, 0x11, 0x22, 0x33, {{2, 0xA1}, {0, 0xB1}}), // v1 sums, track 2 empty
                               Entry(2, 0x11, 0x22, 0x99, {{7, 0xA2}, {7, 0xB2}}), // another disc
                               Entry(3, 0x11, 0x22, 0x33, {{9, 0xA2}, {9, 0xB2}, {9, 0}})}); // other count
    std::vector<rip::DbarEntry> entries;
    ASSERT_TRUE(rip::ParseDbar(data.data(), data.size(), entries, nullptr));
    struct Case {
        int track;
        rip::ArChecksums sums;
        bool listed, accurate;
        int v1, v2;
    };
    const std::vector<Case> cases = {
        {0, {0xA1, 0xA2}, true, true, 2, 5},  // both submissions agree
        {0, {0xA1, 0xFF}, true, true, 2, 0},  // v1 only
        {1, {0xB1, 0xB2}, true, true, 0, 4},  // the v1 slot of track 2 is empty
        {1, {0xEE, 0xEF}, true, false, 0, 0}, // listed, no match: not accurate
        {2, {0xA1, 0xA2}, false, false, 0, 0} // no such track
    };
    for (const Case& c : cases) {
        const rip::TrackVerdict v = rip::Verdict(entries, ids, c.track, c.sums);
        EXPECT_EQ(v.listed, c.listed) << "track " << c.track;
        EXPECT_EQ(v.Accurate(), c.accurate) << "track " << c.track;
        EXPECT_EQ(v.v1Confidence, c.v1) << "track " << c.track;
        EXPECT_EQ(v.v2Confidence, c.v2) << "track " << c.track;
    }
    EXPECT_FALSE(rip::Verdict({}, ids, 0, {0xA1, 0xA2}).listed);
}

// The CDDB id is the one libdiscid computes for the same table (its freedb id), whatever the layout.
TEST(DiscIdsTest, TheCddbIdIsLibdiscidsFreedbId) {
    const std::vector<std::vector<std::uint32_t>> layouts = {
        {0, 17000, 33000, 51000, 200000}, // starts..., lead-out
        {32, 150, 151, 999, 1000},
        {0, 330000},
        {7000, 8000, 19000, 21000, 27000, 35000, 41000, 52000, 61000, 70000, 80000, 90000, 100000, 180000},
    };
    for (const auto& l : layouts) {
        rip::DiscLayout disc;
        int offsets[100] = {};
        for (std::size_t i = 0; i + 1 < l.size(); ++i) {
            disc.tracks.push_back({static_cast<int>(i + 1), l[i], l[i + 1] - l[i], false});
            offsets[i + 1] = static_cast<int>(l[i]) + 150;
        }
        disc.leadOut = l.back();
        offsets[0] = static_cast<int>(l.back()) + 150;
        const std::unique_ptr<DiscId, decltype(&discid_free)> id(discid_new(), discid_free);
        ASSERT_EQ(discid_put(id.get(), 1, static_cast<int>(l.size() - 1), offsets), 1);
        const rip::DiscIds ids = rip::ComputeDiscIds(disc);
        EXPECT_EQ(ids.cddb, std::stoul(discid_get_freedb_id(id.get()), nullptr, 16))
            << l.size() - 1 << " tracks";
        EXPECT_EQ(ids.audioTracks, static_cast<int>(l.size() - 1));
    }
}

TEST(DiscIdsTest, AccurateRipIdsAndThePathTheDatabaseFilesThemUnder) {
    // Three tracks at 0, 1000 and 2500, a data track at 4000, the disc ending at 4300: the audio ends where
    // the data starts.
    rip::DiscLayout disc;
    disc.tracks = {{1, 0, 1000, false}, {2, 1000, 1500, false}, {3, 2500, 1500, false}, {4, 4000, 300, true}};
    disc.leadOut = 4300;
    const rip::DiscIds ids = rip::ComputeDiscIds(disc);
    EXPECT_EQ(ids.audioTracks, 3);
    EXPECT_EQ(ids.id1, 0u + 1000 + 2500 + 4000);
    EXPECT_EQ(ids.id2, 1u * 1 + 1000 * 2 + 2500 * 3 + 4000 * 4);
    EXPECT_EQ(rip::DbarPath(ids).substr(0, 6), "c/4/d/"); // id1 = 0x1d4c, its last three digits last first
    EXPECT_EQ(rip::DbarPath(ids).substr(6, 27), "dBAR-003-00001d4c-0000639d-");
    // A data track 11 400 sectors on (a second session) leaves that gap out of the audio.
    disc.tracks[3].start = 4000 + 11400;
    EXPECT_EQ(disc.AudioLeadOut(), 4000u);
}

TEST(AccurateRipTest, TheFirstAndLastTracksLeaveOutTheirEdgesAndV2FoldsTheCarry) {
    // Every frame 0xFFFFFFFF: v1 is the sum of the multipliers checked, v2 adds each product's high word.
    const std::size_t frames = 3 * 2940;
    const Bytes pcm(frames * 4, 0xFF);
    struct Case {
        bool first, last;
        std::uint64_t from, to;
    };
    for (const Case c : {Case{false, false, 1, frames}, Case{true, false, 2940, frames},
                         Case{false, true, 1, frames - 2940}, Case{true, true, 2940, frames - 2940}}) {
        std::uint32_t v1 = 0, v2 = 0;
        for (std::uint64_t i = c.from; i <= c.to; ++i) {
            const std::uint64_t product = i * 0xFFFFFFFFull;
            v1 += static_cast<std::uint32_t>(product);
            v2 += static_cast<std::uint32_t>(product) + static_cast<std::uint32_t>(product >> 32);
        }
        const rip::ArChecksums sums = rip::AccurateRipChecksums(pcm.data(), pcm.size(), c.first, c.last);
        EXPECT_EQ(sums.v1, v1) << c.first << c.last;
        EXPECT_EQ(sums.v2, v2) << c.first << c.last;
    }
    // A last track shorter than what it leaves out checks nothing.
    const rip::ArChecksums none = rip::AccurateRipChecksums(pcm.data(), 2000 * 4, false, true);
    EXPECT_EQ(none.v1, 0u);
    EXPECT_EQ(none.v2, 0u);
}

TEST(RipSheetTest, PregapsLieAtTheEndOfTheFileBeforeAndAHiddenTrackHasItsOwnFile) {
    const std::vector<rip::SheetTrack> tracks = {{1, 225, 225, false, "01 - Track 01.flac", "", ""},
                                                 {2, 625, 625, true, "02 - Track 02.flac", "", ""},
                                                 {3, 1080, 1005, false, "03 - Track 03.flac", "", ""}};
    EXPECT_EQ(rip::RipCueSheet(tracks, "00 - Track 00.flac", 0x6800470D),
              "REM DISCID 6800470D\n"
              "REM COMMENT \"quellwave-cli rip\"\n"
              "FILE \"00 - Track 00.flac\" WAVE\n"
              "  TRACK 01 AUDIO\n"
              "    INDEX 00 00:00:00\n"
              "FILE \"01 - Track 01.flac\" WAVE\n"
              "    INDEX 01 00:00:00\n"
              "FILE \"02 - Track 02.flac\" WAVE\n"
              "  TRACK 02 AUDIO\n"
              "    FLAGS PRE\n"
              "    INDEX 01 00:00:00\n"
              "  TRACK 03 AUDIO\n"
              "    INDEX 00 00:05:05\n"
              "FILE \"03 - Track 03.flac\" WAVE\n"
              "    INDEX 01 00:00:00\n");
    // The disc's CD-Text: the album's lines before the first FILE, a track's after its TRACK line; a
    // double quote, which a sheet cannot hold inside quotes, becomes a single one.
    std::vector<rip::SheetTrack> titled = tracks;
    titled[0].title = "High Water";
    titled[1].title = "Say \"Ahoy\"";
    titled[1].performer = "Guest";
    EXPECT_EQ(rip::RipCueSheet({titled[0], titled[1]}, "", 1, "Songs of the Sea", "The Harbour Band"),
              "REM DISCID 00000001\n"
              "REM COMMENT \"quellwave-cli rip\"\n"
              "PERFORMER \"The Harbour Band\"\n"
              "TITLE \"Songs of the Sea\"\n"
              "FILE \"01 - Track 01.flac\" WAVE\n"
              "  TRACK 01 AUDIO\n"
              "    TITLE \"High Water\"\n"
              "    PREGAP 00:03:00\n"
              "    INDEX 01 00:00:00\n"
              "FILE \"02 - Track 02.flac\" WAVE\n"
              "  TRACK 02 AUDIO\n"
              "    TITLE \"Say 'Ahoy'\"\n"
              "    PERFORMER \"Guest\"\n"
              "    FLAGS PRE\n"
              "    INDEX 01 00:00:00\n");
    // A silent first pregap is not written: it becomes a PREGAP.
    const std::string sheet = rip::RipCueSheet({tracks[0]}, "", 1);
    EXPECT_NE(sheet.find("  TRACK 01 AUDIO\n    PREGAP 00:03:00\n    INDEX 01 00:00:00\n"), std::string::npos)
        << sheet;
}

TEST(RipSheetTest, FileNamesAndTheCrc) {
    // A title of 250 letters, then an "é" across the 245-byte limit: cut before the "é", never within it.
    const std::string longTitle = std::string(244, 'x') + "\xC3\xA9" + "tail";
    const struct {
        int number;
        std::string title, name;
    } names[] = {
        {3, "", "03 - Track 03.flac"},
        {12, "A/B\tC", "12 - A_B_C.flac"},
        {1, "Caf\xC3\xA9 du Port", "01 - Caf\xC3\xA9 du Port.flac"},
        {7, "..", "07 - ...flac"},
        {9, longTitle, "09 - " + std::string(244, 'x') + ".flac"},
        {10, std::string(260, 'y'), "10 - " + std::string(245, 'y') + ".flac"},
    };
    for (const auto& n : names) {
        const std::string name = rip::TrackFileName(n.number, n.title);
        EXPECT_EQ(name, n.name);
        EXPECT_LE(name.size(), 255u);
    }
    const std::string check = "123456789";
    EXPECT_EQ(rip::Crc32(reinterpret_cast<const unsigned char*>(check.data()), check.size()), 0xCBF43926u);
    // Continued in two pieces, the same.
    const auto* p = reinterpret_cast<const unsigned char*>(check.data());
    EXPECT_EQ(rip::Crc32(p + 4, 5, rip::Crc32(p, 4)), 0xCBF43926u);
}

} // namespace
