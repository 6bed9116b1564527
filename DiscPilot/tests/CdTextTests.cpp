// CD-Text: the pack parser on good, damaged, split and cut replies, and the disc's titles as the
// controller reads them from a virtual drive whose CUE sheet has TITLE and PERFORMER lines.
#include "Platform/CdTextPacks.h"
#include "TestSupport.h"
#include "api/DiscPilotDiagnostics.h"
#include "transport/CdText.h"
#include "transport/cddaCDevice.h"
#include "transport/cddaCRawDevice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace discpilot;
using Bytes = std::vector<BYTE>;

// A format-5 reply: the header (data length = packs + 2) and the packs.
Bytes Reply(const Bytes& packs) {
    Bytes reply{static_cast<BYTE>((packs.size() + 2) >> 8), static_cast<BYTE>((packs.size() + 2) & 0xFF), 0,
                0};
    reply.insert(reply.end(), packs.begin(), packs.end());
    return reply;
}

// One pack with its CRC: type, track, sequence, block/character byte and up to 12 text bytes.
Bytes Pack(BYTE type, BYTE track, BYTE sequence, BYTE position, const std::string& text) {
    Bytes p(18, 0);
    p[0] = type;
    p[1] = track;
    p[2] = sequence;
    p[3] = position;
    for (std::size_t i = 0; i < text.size() && i < 12; ++i) {
        p[4 + i] = static_cast<BYTE>(text[i]);
    }
    const WORD crc = platform::CdTextCrc(p.data());
    p[16] = static_cast<BYTE>(crc >> 8);
    p[17] = static_cast<BYTE>(crc & 0xFF);
    return p;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

const std::vector<platform::CdTextEntry> kAlbum = {
    {"Songs of the Sea", "The Harbour Band"},
    {"Low Tide", "The Harbour Band"},
    {"A Rather Long Title That Spans Several Packs", "Guest Singer"},
    {"Ebb", "Guest Singer"},
};

TEST(CdTextCrcTest, MatchesPublishedPacks) {
    // Size-information packs as a mastering tool wrote them, with the CRC it gave each.
    const struct {
        Bytes pack;
        WORD crc;
    } cases[] = {
        {{0x8F, 0x00, 0x08, 0x00, 0x00, 0x01, 0x02, 0x00, 0x05, 0x03, 0, 0, 0, 0, 0, 0}, 0xF300},
        {{0x8F, 0x01, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x0A, 0, 0, 0}, 0x361B},
        {{0x8F, 0x02, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x00, 0, 0, 0, 0, 0, 0}, 0x87ED},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::CdTextCrc(c.pack.data()), c.crc);
    }
}

struct ParseCase {
    const char* name;
    Bytes reply;
    CdTextOutcome outcome;
    // Expected texts: type, track, text ("" where none may be read).
    std::vector<std::tuple<int, int, std::string>> texts;
    int badCrc = 0;
};

Bytes Built() {
    return platform::BuildCdTextPacks(kAlbum, 1);
}

Bytes WithBadPack(std::size_t index) {
    Bytes packs = Built();
    packs[index * 18 + 6] ^= 0x20; // one text byte changed; the CRC no longer matches
    return Reply(packs);
}

std::vector<ParseCase> Cases() {
    std::vector<ParseCase> cases;
    cases.push_back({"AlbumTracksAndSplitText",
                     Reply(Built()),
                     kCdTextRead,
                     {{0x80, 0, "Songs of the Sea"},
                      {0x80, 1, "Low Tide"},
                      {0x80, 2, "A Rather Long Title That Spans Several Packs"},
                      {0x80, 3, "Ebb"},
                      {0x81, 0, "The Harbour Band"},
                      {0x81, 1, "The Harbour Band"},
                      {0x81, 2, "Guest Singer"},
                      {0x81, 3, "Guest Singer"}}});
    // Title packs: "Songs of the Sea\0Low Tide\0A Rather Long Title That Spans Several Packs\0Ebb\0" is
    // 16 + 1 + 8 + 1 + 44 + 1 + 3 + 1 = 75 bytes: packs 0..6. Pack 1 holds the end of the album's title
    // and the start of track 1's: both are lost, the rest stays.
    cases.push_back({"BadCrcLosesOnlyTheTextsOfThatPack",
                     WithBadPack(1),
                     kCdTextRead,
                     {{0x80, 0, ""},
                      {0x80, 1, ""},
                      {0x80, 2, "A Rather Long Title That Spans Several Packs"},
                      {0x80, 3, "Ebb"},
                      {0x81, 0, "The Harbour Band"}},
                     1});
    // Pack 3 lies inside track 2's long title (bytes 36..47 of the stream): that title is lost only.
    cases.push_back({"BadCrcInsideALongText",
                     WithBadPack(3),
                     kCdTextRead,
                     {{0x80, 1, "Low Tide"}, {0x80, 2, ""}, {0x80, 3, "Ebb"}},
                     1});
    {
        // Cut in the middle of the performers: what arrived whole is read, the header said more.
        Bytes reply = Reply(Built());
        reply.resize(4 + 9 * 18 + 5);
        cases.push_back({"TruncatedAnswer",
                         reply,
                         kCdTextTruncated,
                         {{0x80, 3, "Ebb"}, {0x81, 0, "The Harbour Band"}, {0x81, 1, ""}, {0x81, 3, ""}}});
    }
    // Written by hand: a tab for "as the track before", one text across a pack boundary, ISO 8859-1.
    cases.push_back({"TabRepeatsThePreviousTrack",
                     Reply(Join({Pack(0x81, 0, 0, 0, std::string("Caf\xE9 Trio\0\t\0", 12)),
                                 Pack(0x81, 2, 1, 0, std::string("\t\0Solo\0", 7))})),
                     kCdTextRead,
                     {{0x81, 0, "Caf\xC3\xA9 Trio"},
                      {0x81, 1, "Caf\xC3\xA9 Trio"},
                      {0x81, 2, "Caf\xC3\xA9 Trio"},
                      {0x81, 3, "Solo"}}});
    cases.push_back({"ControlCharactersLeftOut",
                     Reply(Pack(0x80, 0, 0, 0, std::string("A\x1B[2Jb\x7F\x85", 8))),
                     kCdTextRead,
                     {{0x80, 0, "A[2Jb"}}});
    cases.push_back({"OtherBlocksAndExtensionPacksIgnored",
                     Reply(Join({Pack(0x80, 0, 0, 0x10, std::string("Zweite\0", 7)),
                                 Pack(0x80, 0x80, 0, 0, std::string("Ext\0", 4)),
                                 Pack(0x80, 0, 0, 0, std::string("First\0", 6))})),
                     kCdTextRead,
                     {{0x80, 0, "First"}}});
    {
        // A drive that fills in no CRC at all.
        Bytes pack = Pack(0x80, 0, 0, 0, std::string("NoCrc\0", 6));
        pack[16] = pack[17] = 0;
        cases.push_back({"NoCrcsAtAll", Reply(pack), kCdTextRead, {{0x80, 0, "NoCrc"}}});
    }
    cases.push_back({"DoubleByteBlockNotRead",
                     Reply(Pack(0x80, 0, 0, 0x80, std::string("\x82\xA0\0\0", 4))),
                     kCdTextUnsupported,
                     {{0x80, 0, ""}}});
    {
        Bytes size = Pack(0x8F, 0, 1, 0, std::string("\x80\x01\x01", 3)); // character code MS-JIS
        cases.push_back({"MsJisCharacterCodeNotRead",
                         Reply(Join({Pack(0x80, 0, 0, 0, std::string("X\0", 2)), size})),
                         kCdTextUnsupported,
                         {{0x80, 0, ""}}});
    }
    cases.push_back({"HeaderOnly", Bytes{0, 2, 0, 0}, kCdTextNone, {}});
    cases.push_back({"ShorterThanAHeader", Bytes{0, 20}, kCdTextNone, {}});
    cases.push_back({"HeaderClaimsLessThanItself", Bytes{0, 0, 0, 0, 0x80}, kCdTextNone, {}});
    {
        Bytes all = Built();
        for (std::size_t i = 0; i < all.size(); i += 18) {
            all[i + 17] ^= 1;
        }
        cases.push_back(
            {"EveryCrcBad", Reply(all), kCdTextNone, {{0x80, 0, ""}}, static_cast<int>(all.size() / 18)});
    }
    return cases;
}

class CdTextParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CdTextParseTest, ReadsWhatTheGoodPacksHold) {
    const ParseCase& c = GetParam();
    CdText text;
    CdTextCounts counts;
    EXPECT_EQ(ParseCdText(c.reply.data(), c.reply.size(), text, counts), c.outcome);
    for (const auto& [type, track, expected] : c.texts) {
        EXPECT_EQ(text.Get(type, track), expected) << "type " << type << " track " << track;
    }
    EXPECT_EQ(counts.badCrc, c.badCrc);
    if (c.outcome == kCdTextNone || c.outcome == kCdTextUnsupported) {
        EXPECT_TRUE(text.Empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, CdTextParseTest, ::testing::ValuesIn(Cases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(CdTextParseTest, NullOrEmptyReplyIsNone) {
    CdText text;
    CdTextCounts counts;
    EXPECT_EQ(ParseCdText(nullptr, 100, text, counts), kCdTextNone);
    const BYTE none[1] = {};
    EXPECT_EQ(ParseCdText(none, 0, text, counts), kCdTextNone);
    EXPECT_TRUE(text.Get(0x79, 0).empty());
    EXPECT_TRUE(text.Get(0x80, 100).empty());
    EXPECT_TRUE(text.Get(0x80, -1).empty());
}

// The virtual drive's answer from a CUE sheet, read by the controller as a program does.
class CdTextDriveTest : public dptest::RegistryTest {
protected:
    void WriteDisc(const std::string& texts) {
        testkit::WriteBytes(dir_ / "t.bin", testkit::BuildFile(3, std::string(900, 'a'), 0));
        testkit::WriteText(dir_ / "t.cue",
                           texts + testkit::SheetOf("t.bin", {{'a', 300}, {'a', 300}, {'a', 300}}));
        Sandbox::MapImage('V', dir_ / "t.cue");
    }
    static std::string Text(const CDiscPilot& pilot, int track, int item, int capacity = 256) {
        std::vector<char> buffer(static_cast<std::size_t>(std::max(capacity, 1)), 'x');
        const int length = CDiscPilot::Diagnostics::GetCdText(pilot, track, item, buffer.data(), capacity);
        EXPECT_GE(length, 0);
        return capacity > 0 ? std::string(buffer.data()) : std::string();
    }
};

std::string WithTrackTexts(std::string sheet) {
    // TITLE and PERFORMER after each TRACK line.
    const char* titles[] = {"Ouverture", "Caf\xC3\xA9 du Port", "Finale"};
    std::size_t at = 0;
    for (const char* title : titles) {
        at = sheet.find("AUDIO\n", at) + 6;
        const std::string lines = std::string("    TITLE \"") + title + "\"\n    PERFORMER \"Quartet\"\n";
        sheet.insert(at, lines);
        at += lines.size();
    }
    return sheet;
}

TEST_F(CdTextDriveTest, TitlesAndPerformersComeThroughEitherTransport) {
    testkit::WriteBytes(dir_ / "t.bin", testkit::BuildFile(3, std::string(900, 'a'), 0));
    testkit::WriteText(dir_ / "t.cue",
                       "PERFORMER \"Quartet\"\nTITLE \"Harbour Nights\"\n" +
                           WithTrackTexts(testkit::SheetOf("t.bin", {{'a', 300}, {'a', 300}, {'a', 300}})));
    Sandbox::MapImage('V', dir_ / "t.cue");
    for (const char* mode : {"ASPI", "RAW"}) {
        SetMachineString("Cdrom_Mode", mode);
        CDiscPilot pilot;
        ASSERT_TRUE(pilot.SetDrive('V')) << mode;
        const bool expected = true;
        EXPECT_EQ(Text(pilot, 0, kCdTextTitle), expected ? "Harbour Nights" : "") << mode;
        EXPECT_EQ(Text(pilot, 0, kCdTextPerformer), expected ? "Quartet" : "") << mode;
        EXPECT_EQ(Text(pilot, 1, kCdTextTitle), expected ? "Ouverture" : "") << mode;
        EXPECT_EQ(Text(pilot, 2, kCdTextTitle), expected ? "Caf\xC3\xA9 du Port" : "") << mode;
        EXPECT_EQ(Text(pilot, 3, kCdTextTitle), expected ? "Finale" : "") << mode;
        EXPECT_EQ(Text(pilot, 3, kCdTextPerformer), expected ? "Quartet" : "") << mode;
        EXPECT_EQ(Text(pilot, 4, kCdTextTitle), "") << mode;
        if (expected) {
            // A buffer too small: cut at a character's boundary ("Caf" and not half of the "é"), the
            // whole length returned.
            std::vector<char> small(5, 'x');
            EXPECT_EQ(CDiscPilot::Diagnostics::GetCdText(pilot, 2, kCdTextTitle, small.data(), 5), 13);
            EXPECT_STREQ(small.data(), "Caf");
            EXPECT_EQ(CDiscPilot::Diagnostics::GetCdText(pilot, 2, kCdTextTitle, nullptr, 0), 13);
        }
        // The disc still plays as before.
        unsigned long count = 0;
        EXPECT_TRUE(pilot.GetTrackNum(count));
        EXPECT_EQ(count, 3u);
        pilot.CloseDrive();
        EXPECT_EQ(CDiscPilot::Diagnostics::GetCdText(pilot, 1, kCdTextTitle, nullptr, 0), 0);
    }
}

TEST_F(CdTextDriveTest, ADiscWithoutTextsOpensWithNone) {
    // The drive refuses the command: no text, and the disc opens as always.
    WriteDisc("");
    for (const char* mode : {"ASPI", "RAW"}) {
        SetMachineString("Cdrom_Mode", mode);
        CDiscPilot pilot;
        ASSERT_TRUE(pilot.SetDrive('V')) << mode;
        for (int track = 0; track <= 3; ++track) {
            EXPECT_EQ(CDiscPilot::Diagnostics::GetCdText(pilot, track, kCdTextTitle, nullptr, 0), 0) << mode;
        }
    }
}

// A CD device that cannot ask for CD-Text (the platform's default answer).
class NoTextDevice final : public platform::CdDevice {
public:
    explicit NoTextDevice(std::unique_ptr<platform::CdDevice> inner) : inner_(std::move(inner)) {}
    int GetDiskType(DWORD& type) override { return inner_->GetDiskType(type); }
    int ReadToc(platform::CdToc& toc) override { return inner_->ReadToc(toc); }
    int GetLastSession(platform::CdSessionInfo& info) override { return inner_->GetLastSession(info); }
    int ReadAudio(LONG lba, DWORD count, BYTE* buffer) override {
        return inner_->ReadAudio(lba, count, buffer);
    }
    int ReadPosition(platform::CdQPosition& position) override { return inner_->ReadPosition(position); }
    int ReadCatalogue(platform::CdQText& catalogue) override { return inner_->ReadCatalogue(catalogue); }
    int ReadIsrc(BYTE track, platform::CdQText& isrc) override { return inner_->ReadIsrc(track, isrc); }
    int Lock() override { return inner_->Lock(); }
    int Dismount() override { return inner_->Dismount(); }
    int PreventRemoval(bool prevent) override { return inner_->PreventRemoval(prevent); }
    int Eject() override { return inner_->Eject(); }
    int Load() override { return inner_->Load(); }

private:
    std::unique_ptr<platform::CdDevice> inner_;
};

TEST_F(CdTextDriveTest, BothTransportsGiveTheDrivesReplyAndADeviceThatCannotAskSaysSo) {
    WriteDisc("TITLE \"Harbour Lights Live\"\n");
    SetMachineString("Cdrom_Mode", "ASPI");
    cddaCDevice aspi(kKindAspi);
    ASSERT_EQ(aspi.OpenTransport('V'), 0);
    std::vector<BYTE> viaAspi(200, 0xEE), viaRaw(200, 0xEE);
    ASSERT_EQ(aspi.ReadCdText(viaAspi), 0);
    cddaCRawDevice raw;
    ASSERT_EQ(raw.Open('V'), 0);
    ASSERT_EQ(raw.ReadCdText(viaRaw), 0);
    EXPECT_EQ(viaRaw, viaAspi);
    EXPECT_EQ(viaAspi[1], 2 + 5 * 18); // two title packs, three size packs
    EXPECT_EQ(raw.ReadCdText(std::span<BYTE>()), kTransportBadArgument);

    std::string error;
    auto device = platform::OpenCdDevice('V', error);
    ASSERT_TRUE(device) << error;
    cddaCRawDevice without;
    ASSERT_EQ(without.Attach('V', std::make_unique<NoTextDevice>(std::move(device)), false, true), 0);
    EXPECT_EQ(without.ReadCdText(viaRaw), ENOTTY);
}

TEST_F(CdTextDriveTest, ADriveWithASmallTransferLimitIsAskedForNoMoreThanItTakes) {
    // 48 bytes a command (the full TOC's size): the header and the two packs of the album's title (19
    // characters and the NUL) arrive, the rest of the reply does not. Asked for more, the drive would
    // refuse the command.
    WriteDisc("TITLE \"Harbour Lights Live\"\n    \n");
    SetMachineString("Cdrom_Mode", "ASPI");
    SetProfile('V', "MaxTransfer", DWORD{48});
    CDiscPilot pilot;
    ASSERT_TRUE(pilot.SetDrive('V'));
    EXPECT_EQ(Text(pilot, 0, kCdTextTitle), "Harbour Lights Live");
}

} // namespace
