// The raw transport over the CD device: request sizes, the retry near the end of the disc, and the
// replies it synthesises, checked against the virtual drive (and against what the same drive answers
// through pass-through).
#include "TestSupport.h"
#include "drives/DriveDiscovery.h"
#include "transport/cddaCAspiDevice.h"
#include "transport/cddaCRawDevice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace discpilot {
namespace {

// Passes every call to the real device and keeps the audio read requests.
class RecordingCdDevice final : public platform::CdDevice {
public:
    explicit RecordingCdDevice(std::unique_ptr<platform::CdDevice> inner) : inner_(std::move(inner)) {}
    int GetDiskType(DWORD& type) override { return inner_->GetDiskType(type); }
    int ReadToc(platform::CdToc& toc) override { return inner_->ReadToc(toc); }
    int GetLastSession(platform::CdSessionInfo& info) override { return inner_->GetLastSession(info); }
    int ReadAudio(LONG lba, DWORD count, BYTE* buffer) override {
        requests_->emplace_back(lba, count);
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

    std::shared_ptr<std::vector<std::pair<LONG, DWORD>>> requests_ =
        std::make_shared<std::vector<std::pair<LONG, DWORD>>>();

private:
    std::unique_ptr<platform::CdDevice> inner_;
};

using Requests = std::vector<std::pair<LONG, DWORD>>;

class RawDeviceTest : public dptest::RegistryTest {
protected:
    static constexpr std::uint32_t kSectors = 1000;

    // Opens the raw transport on a virtual drive of kSectors audio sectors, recording its reads.
    void Open(char letter = 'V') {
        image_ = testkit::ReadBytes(AddVirtualDrive(letter, kSectors));
        std::string error;
        auto device = platform::OpenCdDevice(letter, error);
        ASSERT_TRUE(device) << error;
        auto recording = std::make_unique<RecordingCdDevice>(std::move(device));
        requests_ = recording->requests_;
        raw_ = std::make_unique<cddaCRawDevice>();
        ASSERT_EQ(raw_->Attach(letter, std::move(recording), false, true), 0);
    }

    bool SectorsMatchImage(const std::vector<BYTE>& buffer, DWORD from, DWORD first, DWORD count) const {
        return std::memcmp(buffer.data() + std::size_t{first - from} * 2352,
                           image_.data() + std::size_t{first} * 2352, std::size_t{count} * 2352) == 0;
    }
    static bool SectorsAreZero(const std::vector<BYTE>& buffer, DWORD index, DWORD count) {
        for (std::size_t i = std::size_t{index} * 2352; i < std::size_t{index + count} * 2352; ++i) {
            if (buffer[i] != 0) {
                return false;
            }
        }
        return true;
    }

    testkit::Bytes image_;
    std::unique_ptr<cddaCRawDevice> raw_;
    std::shared_ptr<Requests> requests_;
};

// One audio read over the raw transport, with the drive's read errors ("" for none) and the machine's
// margin (0 for not set); the requests that reach the device are checked when given.
struct RawReadCase {
    const char* name;
    const char* readErrors;
    DWORD margin, first, count;
    int result;
    std::optional<Requests> requests;
    DWORD matching; // sectors from the first that arrive as the image holds them
};

void PrintTo(const RawReadCase& c, std::ostream* os) {
    *os << c.name;
}

Requests ThenOneByOne(Requests requests, LONG from, LONG to) {
    for (LONG lba = from; lba <= to; ++lba) {
        requests.emplace_back(lba, 1);
    }
    return requests;
}

class RawReadTest : public RawDeviceTest, public ::testing::WithParamInterface<RawReadCase> {};

// Near the end (the last 150 sectors unless the machine says otherwise) a failing request is retried
// sector by sector, so the sectors before the failure arrive; the failure itself is reported (never
// silence passed off as a success): the reader retries it, and counts it as unreadable only when it stays
// so. Before the margin the device's error is the answer.
TEST_P(RawReadTest, RequestsAndAnswer) {
    const RawReadCase& c = GetParam();
    if (c.margin != 0) {
        SetDword(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Orva Corporation\\Tarnix\\Corvex", "MARGIN_LBA",
                 c.margin);
    }
    if (*c.readErrors != '\0') {
        SetProfile('V', "ReadErrors", c.readErrors);
    }
    Open();
    std::vector<BYTE> buffer(std::size_t{c.count} * 2352, 0xEE);
    EXPECT_EQ(raw_->ReadAudio(0xBE0010, c.first, c.count, c.count > 0 ? buffer.data() : nullptr), c.result);
    if (c.requests) {
        EXPECT_EQ(*requests_, *c.requests);
    }
    if (c.matching > 0) {
        EXPECT_TRUE(SectorsMatchImage(buffer, c.first, c.first, c.matching));
    }
}

const RawReadCase kRawReads[] = {
    {"ThirtyThreeSectorsAreOneThirtyTwoAndOneOneSectorRequest", "", 0, 100, 33, 0,
     Requests{{100, 32}, {132, 1}}, 33},
    {"ZeroSectorsReadNothing", "", 0, 5, 0, 0, Requests{}, 0},
    // Sector 997 never reads.
    {"NearTheEndAFailingRequestIsRetriedSectorBySectorAndTheFailureReported", "997:3/11/00", 0, 960, 40, EIO,
     ThenOneByOne({{960, 32}, {992, 8}}, 992, 997), 37},
    // Sector 990 fails once.
    {"ATransientFailureNearTheEndReadsOnTheRetry", "990:3/11/00:1", 0, 960, 40, 0, std::nullopt, 40},
    {"AfterTheFailingSectorLaterRequestsAreNotRead", "960:3/11/00", 0, 950, 50, EIO,
     ThenOneByOne({{950, 32}}, 950, 960), 10},
    {"FailureBeforeTheMarginReturnsTheDevicesError", "100:3/11/00", 0, 90, 40, EIO, Requests{{90, 32}}, 0},
    // The limit is then the last readable sector itself: a request ending before it still fails.
    {"MarginNotSmallerThanTheDiscRetriesEverywhere", "100:3/11/00", 5000, 90, 40, EIO, std::nullopt, 0},
};

INSTANTIATE_TEST_SUITE_P(Reads, RawReadTest, ::testing::ValuesIn(kRawReads),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(RawDeviceTest, TheMarginComesFromTheMachineSetting) {
    // 999 is the last readable sector; with a margin of 10 the retry starts at requests reaching 989.
    SetDword(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Orva Corporation\\Tarnix\\Corvex", "MARGIN_LBA", 10);
    SetProfile('V', "ReadErrors", "975:3/11/00");
    Open();
    EXPECT_EQ(raw_->MarginLba(), 10u);
    EXPECT_EQ(raw_->LastReadableLba(), 999);
    std::vector<BYTE> buffer(32 * 2352);
    EXPECT_EQ(raw_->ReadAudio(0xBE0010, 944, 32, buffer.data()), EIO); // ends at 975, before 989
    EXPECT_EQ(raw_->ReadAudio(0xBE0010, 960, 32, buffer.data()), EIO); // ends at 991: sector by sector
    EXPECT_TRUE(SectorsMatchImage(buffer, 960, 960, 15));
}

TEST_F(RawDeviceTest, TestUnitReadyFollowsTheDiskType) {
    Open();
    EXPECT_EQ(raw_->TestUnitReady(), 0);

    // A data-only disc holds nothing to play.
    testkit::WriteBytes(dir_ / "data.bin", testkit::BuildFile(1, std::string(300, '1'), 0));
    testkit::WriteText(dir_ / "data.cue",
                       "FILE \"data.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
    Sandbox::MapImage('X', dir_ / "data.cue");
    cddaCRawDevice data;
    ASSERT_EQ(data.Open('x'), 0);
    EXPECT_EQ(data.TestUnitReady(), 510);

    // A mixed disc (data track, then audio) is ready for audio.
    testkit::WriteBytes(dir_ / "mixed.bin",
                        testkit::BuildFile(1, std::string(300, '1') + std::string(300, 'a'), 0));
    testkit::WriteText(dir_ / "mixed.cue",
                       "FILE \"mixed.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                       "  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n");
    Sandbox::MapImage('Y', dir_ / "mixed.cue");
    cddaCRawDevice mixed;
    ASSERT_EQ(mixed.Open('Y'), 0);
    EXPECT_EQ(mixed.TestUnitReady(), 0);
}

TEST_F(RawDeviceTest, NothingOpenAnswers502) {
    cddaCRawDevice raw;
    BYTE toc[kTocReplyBytes] = {};
    std::vector<BYTE> sector(kSectorBytes);
    EXPECT_EQ(raw.TestUnitReady(), 502);
    EXPECT_EQ(raw.ReadToc(0, 1, false, toc), 502);
    EXPECT_EQ(raw.ReadAudio(0, 0, 1, sector.data()), 502);
    EXPECT_EQ(raw.Open('Q'), 502);
}

TEST_F(RawDeviceTest, CapabilitiesPageIsSynthesisedAtThePageOffset) {
    Open(); // attached as CD-DA supported, not accurate
    BYTE ten[128];
    ASSERT_EQ(raw_->ModeSense(0x2A, true, ten), 0);
    const std::size_t at = ModePageOffset(ten, true);
    EXPECT_EQ(ten[at], 0x2A);
    EXPECT_EQ(ten[at + 5], 0x21);
    EXPECT_EQ(ten[at + 8] << 8 | ten[at + 9], 176);
    EXPECT_EQ(ten[at + 14] << 8 | ten[at + 15], 176);
    EXPECT_EQ(ten[at + 12] << 8 | ten[at + 13], 0);
    BYTE six[128];
    ASSERT_EQ(raw_->ModeSense(0x2A, false, six), 0);
    EXPECT_EQ(six[ModePageOffset(six, false) + 5], 0x21);

    // A virtual drive opened by letter takes the bits from its profile.
    AddVirtualDrive('W', 100);
    SetProfile('W', "CddaCommands", DWORD{0});
    cddaCRawDevice byLetter;
    ASSERT_EQ(byLetter.Open('W'), 0);
    ASSERT_EQ(byLetter.ModeSense(0x2A, true, ten), 0);
    EXPECT_EQ(ten[ModePageOffset(ten, true) + 5], 0x22);

    ASSERT_EQ(raw_->ModeSense(0x3F, true, ten), 0);
    EXPECT_EQ(ten[7], 8); // one block descriptor
    EXPECT_EQ(ten[8], 0); // density 0
    EXPECT_EQ(ten[14] << 8 | ten[15], 0);
    EXPECT_EQ(raw_->ModeSense(0x0E, true, ten), 501);
}

TEST_F(RawDeviceTest, CommandsWithoutADeviceControlDoNothing) {
    Open();
    EXPECT_EQ(raw_->ModeSelect(0x82, 2352, false), 0);
    EXPECT_EQ(raw_->Seek6(100), 0);
    EXPECT_EQ(raw_->Seek10(100), 0);
    EXPECT_EQ(raw_->SetSpeed(4), 502);
    EXPECT_TRUE(requests_->empty());
}

// The raw replies of READ TOC and READ SUB-CHANNEL against the same drive's pass-through replies.
class RawAgainstPassThroughTest : public RawDeviceTest {
protected:
    void SetUp() override {
        RawDeviceTest::SetUp();
        testkit::WriteBytes(dir_ / "three.bin", testkit::BuildFile(3, std::string(900, 'a'), 0));
        testkit::WriteText(dir_ / "three.cue",
                           "CATALOG 0123456789012\nFILE \"three.bin\" BINARY\n"
                           "  TRACK 01 AUDIO\n    ISRC USRC17607839\n    INDEX 01 00:00:00\n"
                           "  TRACK 02 AUDIO\n    FLAGS PRE\n    INDEX 01 00:02:00\n"
                           "  TRACK 03 AUDIO\n    ISRC GBAYE0000001\n    INDEX 01 00:08:00\n");
        Sandbox::MapImage('T', dir_ / "three.cue");
        ASSERT_EQ(raw_.Open('T'), 0);
        aspi_.Select('T', 0, 'T' - 'A');
    }
    cddaCRawDevice raw_;
    cddaCAspiDevice aspi_{kKindAspi};
};

TEST_F(RawAgainstPassThroughTest, TocEntriesAndSessionInfoMatchTheDrivesReplies) {
    for (int track : {0, 1, 2, 3, 0xAA}) {
        BYTE fromRaw[48] = {}, fromDrive[48] = {};
        ASSERT_EQ(raw_.ReadToc(0, track, false, fromRaw), 0) << track;
        ASSERT_EQ(aspi_.ReadToc(0, track, false, fromDrive), 0) << track;
        const TocAnswer r = ParseToc(fromRaw), d = ParseToc(fromDrive);
        EXPECT_EQ(r.first, d.first);
        EXPECT_EQ(r.last, d.last);
        EXPECT_EQ(r.adrControl & 0x0F, d.adrControl & 0x0F) << track;
        EXPECT_EQ(r.lba, d.lba) << track;
    }
    BYTE fromRaw[48] = {}, fromDrive[48] = {};
    ASSERT_EQ(raw_.ReadToc(1, 0, false, fromRaw), 0);
    ASSERT_EQ(aspi_.ReadToc(1, 0, false, fromDrive), 0);
    EXPECT_EQ(ParseToc(fromRaw).first, ParseToc(fromDrive).first);
    EXPECT_EQ(ParseToc(fromRaw).last, ParseToc(fromDrive).last);
    EXPECT_EQ(ParseToc(fromRaw).lba, ParseToc(fromDrive).lba);
    EXPECT_EQ(raw_.LastReadableLba(), 899);
    EXPECT_EQ(raw_.ReadToc(0, 9, false, fromRaw), EINVAL);
    EXPECT_EQ(raw_.ReadToc(3, 0, false, fromRaw), 501);
}

TEST_F(RawAgainstPassThroughTest, FullTocMatchesTheDrivesReply) {
    BYTE fromRaw[48] = {}, fromDrive[48] = {};
    ASSERT_EQ(raw_.ReadToc(2, 1, false, fromRaw), 0);
    ASSERT_EQ(aspi_.ReadToc(2, 1, false, fromDrive), 0);
    const FullTocAnswer r = ParseFullToc(fromRaw, 48), d = ParseFullToc(fromDrive, 48);
    ASSERT_TRUE(r.complete);
    ASSERT_TRUE(d.complete);
    EXPECT_EQ(r.firstTrack, d.firstTrack);
    EXPECT_EQ(r.lastTrack, d.lastTrack);
    EXPECT_EQ(0, std::memcmp(r.leadOut, d.leadOut, 3));
    EXPECT_EQ(0, std::memcmp(r.track1, d.track1, 3));
}

TEST_F(RawAgainstPassThroughTest, SubChannelTextSitsWhereTheDrivePutsIt) {
    for (const auto& [format, track] : {std::pair{2, 0}, std::pair{3, 1}, std::pair{3, 2}, std::pair{3, 3}}) {
        BYTE fromRaw[24] = {}, fromDrive[24] = {};
        ASSERT_EQ(raw_.ReadSubChannel(format, track, fromRaw), 0);
        ASSERT_EQ(aspi_.ReadSubChannel(format, track, fromDrive), 0);
        EXPECT_EQ(fromRaw[8] & 0x80, fromDrive[8] & 0x80) << format << "/" << track;
        const std::size_t length = format == 2 ? 13 : 12;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(fromRaw + 9), length),
                  std::string(reinterpret_cast<char*>(fromDrive + 9), length))
            << format << "/" << track;
    }
    BYTE position[24] = {};
    EXPECT_EQ(raw_.ReadSubChannel(1, 0, position), 0);
    EXPECT_EQ(raw_.ReadSubChannel(4, 0, position), 501);
}

// A device with a fixed table of contents, for discs the virtual drive does not make (several sessions).
class TocOnlyDevice final : public platform::CdDevice {
public:
    int GetDiskType(DWORD& type) override {
        type = platform::kCdDiskMixed;
        return 0;
    }
    int ReadToc(platform::CdToc& toc) override {
        toc = toc_;
        return 0;
    }
    int GetLastSession(platform::CdSessionInfo& info) override {
        info = session_;
        return 0;
    }
    int ReadAudio(LONG, DWORD, BYTE*) override { return EIO; }
    int ReadPosition(platform::CdQPosition&) override { return EIO; }
    int ReadCatalogue(platform::CdQText&) override { return EIO; }
    int ReadIsrc(BYTE, platform::CdQText&) override { return EIO; }
    int Lock() override { return 0; }
    int Dismount() override { return 0; }
    int PreventRemoval(bool) override { return 0; }
    int Eject() override { return 0; }
    int Load() override { return 0; }

    platform::CdToc toc_;
    platform::CdSessionInfo session_;
};

platform::CdTocEntry Entry(BYTE track, BYTE control, BYTE m, BYTE s, BYTE f) {
    platform::CdTocEntry e;
    e.track = track;
    e.adrControl = static_cast<BYTE>(0x10 | control);
    e.minute = m;
    e.second = s;
    e.frame = f;
    return e;
}

// Attaching reads the drive settings: in a registry of the test's own.
class RawMultiSessionTest : public dptest::RegistryTest {
protected:
    // Attaches raw_ to a disc of these TOC entries (tracks from 1, then the lead-out) and last session.
    void Attach(std::vector<platform::CdTocEntry> entries, platform::CdSessionInfo session) {
        auto device = std::make_unique<TocOnlyDevice>();
        device->toc_.firstTrack = 1;
        device->toc_.lastTrack = static_cast<BYTE>(entries.size() - 1);
        device->toc_.entries = std::move(entries);
        device->session_ = session;
        ASSERT_EQ(raw_.Attach('Z', std::move(device), false, false), 0);
    }
    cddaCRawDevice raw_;
};

TEST_F(RawMultiSessionTest, AudioSessionEndsOneHundredFiftySecondsBeforeTheDataTrack) {
    Attach({Entry(1, 0, 0, 2, 0), Entry(2, 0, 10, 0, 0), Entry(3, 4, 40, 30, 17), Entry(0xAA, 4, 60, 0, 0)},
           {1, 2, 0});
    // 40:30.17 less 150 seconds is 38:00.17; the last readable sector is one before.
    EXPECT_EQ(raw_.LastReadableLba(), (38 * 60 + 0) * 75 + 17 - 151);
    BYTE reply[48] = {};
    ASSERT_EQ(raw_.ReadToc(0, 0, false, reply), 0);
    EXPECT_EQ(ParseToc(reply).last, 2);
    ASSERT_EQ(raw_.ReadToc(0, 0xAA, false, reply), 0);
    EXPECT_EQ(ParseToc(reply).lba, DWORD{(38 * 60) * 75 + 17 - 150});
    EXPECT_EQ(raw_.ReadToc(0, 3, false, reply), EINVAL);
    ASSERT_EQ(raw_.ReadToc(1, 0, false, reply), 0);
    EXPECT_EQ(ParseToc(reply).last, 2);
}

TEST_F(RawMultiSessionTest, LeadOutUnderOneHundredFiftySecondsBecomesZero) {
    Attach({Entry(1, 0, 0, 2, 0), Entry(2, 4, 2, 0, 40), Entry(0xAA, 4, 10, 0, 0)}, {1, 2, 0});
    EXPECT_EQ(raw_.LastReadableLba(), 40 - 151);
}

TEST_F(RawMultiSessionTest, SingleSessionKeepsItsLeadOut) {
    Attach({Entry(1, 0, 0, 2, 0), Entry(2, 4, 20, 0, 0), Entry(0xAA, 4, 30, 0, 0)}, {1, 1, 0});
    EXPECT_EQ(raw_.LastReadableLba(), 30 * 60 * 75 - 151);
}

} // namespace
} // namespace discpilot
