// The CD-DA reader end to end through the controller: every audio track of a mixed disc read bit-exactly
// from the virtual drive, clean and with each drive fault alone and together, through both transports;
// the boundaries of positioning, lengths, transfer sizes and range set-up; failures that end a read.
#include "StoredCondition.h"
#include "TestSupport.h"
#include "api/CDiscPilot.h"
#include "api/DiscPilotDiagnostics.h"
#include "reader/cddaCReader.h"
#include "store/DriveSettings.h"

#include "Platform/VirtualDrive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace discpilot {
namespace {

// Track layout of the mixed disc: a data track, then audio tracks of awkward lengths (one of a single
// sector) so that ranges end inside slots and at the disc's end.
constexpr std::uint32_t kDataSectors = 150;
constexpr std::uint32_t kTrack2 = 1500;
constexpr std::uint32_t kTrack3 = 1;
constexpr std::uint32_t kTrack4 = 1333;

class ReaderTest : public dptest::RegistryTest {
protected:
    // Maps V to the mixed disc; returns the whole image.
    void MakeMixedDisc(char letter = 'V') {
        const testkit::DiscTracks tracks = {
            {'1', kDataSectors}, {'a', kTrack2}, {'a', kTrack3}, {'a', kTrack4}};
        image_ = testkit::BuildFile(11, testkit::KindsOf(tracks), 0);
        testkit::WriteBytes(dir_ / "mixed.bin", image_);
        testkit::WriteText(dir_ / "mixed.cue", testkit::SheetOf("mixed.bin", tracks));
        Sandbox::MapImage(letter, dir_ / "mixed.cue");
        starts_ = {0, kDataSectors, kDataSectors + kTrack2, kDataSectors + kTrack2 + kTrack3};
        lengths_ = {kDataSectors, kTrack2, kTrack3, kTrack4};
    }

    // Stores a read condition for the drive behind the letter, as a drive check would.
    const BYTE* Sector(std::uint32_t lba) const { return image_.data() + std::size_t{lba} * 2352; }

    std::vector<BYTE> image_;
    std::vector<std::uint32_t> starts_, lengths_;
};

ReadCounts Counts(const CDiscPilot& pilot) {
    ReadCounts counts;
    EXPECT_TRUE(CDiscPilot::Diagnostics::GetReadCounts(pilot, counts));
    return counts;
}

// Where two blocks first differ (size when they are equal): a failure then says where the stream broke.
std::size_t FirstDifference(const BYTE* a, const BYTE* b, std::size_t size) {
    return static_cast<std::size_t>(std::mismatch(a, a + size, b).first - a);
}

struct FaultCase {
    const char* name;
    const char* mode; // Cdrom_Mode
    DWORD accurate;   // stored condition's accurate flag (2: nothing stored)
    std::vector<std::pair<const char*, std::string>> strings;
    std::vector<std::pair<const char*, DWORD>> dwords;
    char letter = 'V';
};

class ReaderFaultTest : public ReaderTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ReaderFaultTest, EveryAudioTrackReadsBitExactly) {
    const FaultCase& c = GetParam();
    MakeMixedDisc(c.letter);
    SetMachineString("Cdrom_Mode", c.mode);
    for (const auto& [name, text] : c.strings) {
        SetProfile(c.letter, name, text);
    }
    for (const auto& [name, value] : c.dwords) {
        SetProfile(c.letter, name, value);
    }
    if (c.accurate != 2) {
        dptest::StoreCondition(c.letter, c.accurate, true);
    }
    CDiscPilot pilot;
    ASSERT_TRUE(pilot.SetDrive(static_cast<unsigned char>(c.letter)));
    unsigned long count = 0;
    ASSERT_TRUE(pilot.GetTrackNum(count));
    ASSERT_EQ(count, 4u);
    for (unsigned long track = 2; track <= 4; ++track) {
        const std::size_t bytes = std::size_t{lengths_[track - 1]} * 2352;
        std::vector<BYTE> pcm(bytes + 4096, 0xEE);
        ASSERT_TRUE(pilot.SetPosition(track, 0));
        ASSERT_TRUE(pilot.GetData(pcm.data(), static_cast<unsigned long>(bytes)));
        const auto counts = Counts(pilot);
        EXPECT_EQ(counts.lastDelivered, bytes) << "track " << track << " status " << counts.status;
        EXPECT_EQ(FirstDifference(pcm.data(), Sector(starts_[track - 1]), bytes), bytes)
            << "track " << track << " realigned " << counts.realignments;
        EXPECT_EQ(pcm[bytes], 0xEE) << "nothing written past the asked length";
    }
    // The whole audio area in one range, across the track boundaries, in odd-sized pieces.
    ASSERT_TRUE(pilot.SetPosition(2, 0));
    const std::size_t total = std::size_t{kTrack2 + kTrack3 + kTrack4} * 2352;
    std::vector<BYTE> all(total);
    for (std::size_t at = 0; at < total;) {
        const std::size_t piece = std::min<std::size_t>(total - at, 5120 * 4 + 6);
        ASSERT_TRUE(pilot.GetData(all.data() + at, static_cast<unsigned long>(piece)));
        const auto got = Counts(pilot).lastDelivered;
        ASSERT_EQ(got, piece) << "at " << at;
        at += got;
    }
    EXPECT_EQ(FirstDifference(all.data(), Sector(kDataSectors), total), total);
}

const FaultCase kFaultCases[] = {
    {"CleanRaw", "RAW", 2, {}, {}},
    {"CleanPassThrough", "ASPI", 2, {}, {}},
    {"CleanOverlapCorrected", "ASPI", 0, {}, {}},
    {"WholeFrameJitter", "ASPI", 0, {{"Jitter", "700:4:2, 990:-8:2, 1200:1176:2, 2400:-2352:2"}}, {}},
    {"HalfFrameJitter", "ASPI", 0, {{"Jitter", "600:2:2, 1010:-2:2, 2100:1174:2, 2500:-6:2"}}, {}},
    {"JitterRaw", "RAW", 0, {{"Jitter", "620:2:2, 1010:-8:2, 2500:1176:2"}}, {}},
    {"UncheckedInaccurateDrive", "ASPI", 2, {{"Jitter", "730:6:2, 1200:-4:2"}}, {{"CddaAccurate", 0}}},
    {"ReadErrorsRetried", "ASPI", 2, {{"ReadErrors", "500:3/11/00:2, 1700:4/44/00:5"}}, {}},
    {"ReadErrorsRetriedOverlap", "ASPI", 0, {{"ReadErrors", "520:3/11/00:3, 2000:3/02/00:2"}}, {}},
    {"ReadErrorsRaw", "RAW", 2, {{"ReadErrors", "600:3/11/00:2"}}, {}},
    {"RefusesReadCdVendorRead", "ASPI", 2, {}, {{"RefuseReadCd", 1}}},
    {"RefusesReadCdSwappedRead10",
     "ASPI",
     0,
     {{"Vendor", "PHILIPS"}},
     {{"RefuseReadCd", 1}, {"BigEndianRead", 1}}},
    {"NotReadyAtStartPassThrough", "ASPI", 2, {}, {{"NotReadyCommands", 6}}},
    {"NotReadyAtStartRaw", "RAW", 2, {}, {{"NotReadyCommands", 3}}},
    {"StaleCache", "ASPI", 0, {}, {{"StaleCache", 4}}},
    {"Combined",
     "ASPI",
     0,
     {{"Jitter", "610:2:2, 1300:-1176:2"}, {"ReadErrors", "700:3/11/00:2"}},
     {{"RefuseReadCd", 1}, {"StaleCache", 3}, {"NotReadyCommands", 4}}},
    {"SmallTransfers",
     "ASPI",
     0,
     {{"Jitter", "450:-4:2, 1700:6"}},
     {{"MaxTransfer", 65536}, {"BufferKB", 64}}},
};

INSTANTIATE_TEST_SUITE_P(Faults, ReaderFaultTest, ::testing::ValuesIn(kFaultCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(ReaderTest, AReadThatCannotSucceedEndsWithStatusAndKeepsWhatWasRead) {
    MakeMixedDisc();
    SetMachineString("Cdrom_Mode", "ASPI");
    // Four seconds of sectors that never read: longer than the reader bridges with silence.
    std::string errors;
    for (int lba = 1000; lba < 1300; ++lba) {
        errors += std::to_string(lba) + ":3/11/00 ";
    }
    SetProfile('V', "ReadErrors", errors);
    for (DWORD accurate : {1u, 0u}) {
        dptest::StoreCondition('V', accurate, true);
        CDiscPilot pilot;
        ASSERT_TRUE(pilot.SetDrive('V'));
        ASSERT_TRUE(pilot.SetPosition(2, 0));
        const std::size_t total = std::size_t{kTrack2} * 2352;
        std::vector<BYTE> pcm(total, 0xEE);
        ASSERT_TRUE(pilot.GetData(pcm.data(), static_cast<unsigned long>(total)));
        const auto counts = Counts(pilot);
        EXPECT_EQ(counts.status, kStatusReadFailed);
        EXPECT_GT(counts.retries, 3);
        const std::size_t got = counts.lastDelivered;
        EXPECT_GT(got, 0u);
        EXPECT_LE(got, std::size_t{1000 - kDataSectors} * 2352);
        EXPECT_EQ(std::memcmp(pcm.data(), Sector(kDataSectors), got), 0);
        EXPECT_EQ(pcm[got], 0xEE) << "bytes not delivered stay untouched";
    }
}

TEST_F(ReaderTest, PositionsAndLengthsTruncateAsMillisecondsDo) {
    MakeMixedDisc();
    CDiscPilot pilot;
    ASSERT_TRUE(pilot.SetDrive('V'));
    unsigned long ms = 99;
    struct Case {
        unsigned long track;
        bool ok;
        unsigned long ms;
    };
    for (const Case& c : {Case{0, false, 0}, Case{1, true, 2000}, Case{2, true, 20000}, Case{3, true, 13},
                          Case{4, true, 17773}, Case{5, false, 0}}) {
        EXPECT_EQ(pilot.GetTrackLength(c.track, ms), c.ok) << c.track;
        EXPECT_EQ(ms, c.ms) << c.track;
    }
    // 1000 ms is 75 sectors in; 13 ms is less than a sector and starts at the track's start.
    for (const auto& [offsetMs, sectors] :
         {std::pair{1000ul, 75u}, std::pair{13ul, 0u}, std::pair{14ul, 1u}}) {
        ASSERT_TRUE(pilot.SetPosition(2, offsetMs));
        std::vector<BYTE> pcm(2352 * 2);
        ASSERT_TRUE(pilot.GetData(pcm.data(), static_cast<unsigned long>(pcm.size())));
        EXPECT_EQ(std::memcmp(pcm.data(), Sector(kDataSectors + sectors), pcm.size()), 0) << offsetMs;
    }
}

TEST_F(ReaderTest, LongTrackLengthInMilliseconds) {
    // 22 050 sectors (4:54) is 294 000 ms. The file is sparse: only its length matters here.
    std::filesystem::path bin = dir_ / "long.bin";
    testkit::WriteBytes(bin, testkit::BuildFile(3, "a", 0));
    std::filesystem::resize_file(bin, std::uintmax_t{22050 + 1} * 2352);
    testkit::WriteText(dir_ / "long.cue",
                       "FILE \"long.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                       "  TRACK 02 AUDIO\n    INDEX 01 04:54:00\n");
    Sandbox::MapImage('W', dir_ / "long.cue");
    CDiscPilot pilot;
    ASSERT_TRUE(pilot.SetDrive('W'));
    unsigned long ms = 0;
    EXPECT_TRUE(pilot.GetTrackLength(1, ms));
    EXPECT_EQ(ms, 294000u);
    EXPECT_TRUE(pilot.GetTrackLength(2, ms));
    EXPECT_EQ(ms, 13u);
}

TEST_F(ReaderTest, TransferSizeAndSlotCount) {
    MakeMixedDisc();
    SetMachineString("Cdrom_Mode", "ASPI");
    struct Case {
        DWORD maxTransfer;
        DWORD bufferKB;
        int size;
        int slots;
    };
    for (const Case& c :
         {Case{0, 2048, 62259, 8}, Case{1048576, 64, 62259, 8}, Case{65536, 2048, 62259, 8},
          Case{262144, 2048, 249036, 4}, Case{1048576, 2048, 996147, 3}, Case{1048576, 128, 124518, 8}}) {
        SetProfile('V', "MaxTransfer", c.maxTransfer);
        SetProfile('V', "BufferKB", c.bufferKB);
        // Each profile is a new drive: a fresh folder name makes the process create it anew.
        const std::filesystem::path cue =
            dir_ / ("m" + std::to_string(c.maxTransfer) + "-" + std::to_string(c.bufferKB) + ".cue");
        std::filesystem::copy_file(dir_ / "mixed.cue", cue);
        Sandbox::MapImage('V', cue);
        cddaCReader reader(kKindAspi);
        ASSERT_EQ(reader.Open('V', false), 1);
        ASSERT_EQ(reader.SetupRange(2, 4, 0), 1);
        EXPECT_EQ(reader.TransferSizeBytes(), c.size) << c.maxTransfer << "/" << c.bufferKB;
        EXPECT_EQ(reader.SlotCountInRing(), c.slots) << c.maxTransfer << "/" << c.bufferKB;
        // And it still reads: the first slot carries the range's first sectors.
        std::vector<BYTE> pcm(2352 * 30);
        EXPECT_EQ(reader.Deliver(pcm.data(), pcm.size()), pcm.size());
        EXPECT_EQ(std::memcmp(pcm.data(), Sector(kDataSectors), pcm.size()), 0);
    }
}

TEST_F(ReaderTest, RangeSetUpBounds) {
    MakeMixedDisc();
    cddaCReader reader(kKindAspi);
    ASSERT_EQ(reader.Open('V', false), 1);
    EXPECT_EQ(reader.Status(), kStatusNoCondition) << "nothing stored for this model yet";
    EXPECT_EQ(reader.LastReadableLba(), kDataSectors + kTrack2 + kTrack3 + kTrack4 - 1);
    struct Case {
        int first, last;
        long offset;
        int result, status;
    };
    for (const Case& c : {Case{0, 4, 0, 0, kStatusOutOfBounds}, Case{2, 5, 0, 0, kStatusOutOfBounds},
                          Case{3, 2, 0, 0, kStatusOutOfBounds}, Case{1, 4, 0, 0, kStatusDataTrack},
                          Case{3, 3, 1, 0, kStatusBadOffset}, Case{2, 2, kTrack2, 0, kStatusBadOffset},
                          Case{2, 2, -1, 0, kStatusBadOffset}, Case{2, 2, kTrack2 - 1, 1, kStatusOk},
                          Case{3, 3, 0, 1, kStatusOk}}) {
        EXPECT_EQ(reader.SetupRange(c.first, c.last, c.offset), c.result) << c.first << "-" << c.last;
        EXPECT_EQ(reader.Status(), c.status) << c.first << "-" << c.last << " +" << c.offset;
    }
    // A range ending at the last readable sector gives exactly its length, then the end.
    ASSERT_EQ(reader.SetupRange(4, 4, 33), 1);
    std::vector<BYTE> pcm(std::size_t{kTrack4} * 2352 + 10000, 0xEE);
    EXPECT_EQ(reader.Deliver(pcm.data(), pcm.size()), std::size_t{kTrack4 - 33} * 2352);
    EXPECT_EQ(std::memcmp(pcm.data(), Sector(starts_[3] + 33), std::size_t{kTrack4 - 33} * 2352), 0);
    EXPECT_EQ(pcm[std::size_t{kTrack4 - 33} * 2352], 0xEE);
    EXPECT_EQ(reader.Deliver(pcm.data(), pcm.size()), 0u);
}

TEST_F(ReaderTest, PreEmphasisedTrackIsDeemphasisedOnDelivery) {
    // A constant signal settles at 5968 / 5975 of its value: 10 000 becomes 9 988, −20 000 becomes −19 976.
    std::vector<BYTE> bin;
    for (int s = 0; s < 100 * 588; ++s) {
        for (int v : {10000, -20000}) {
            bin.push_back(static_cast<BYTE>(v & 0xFF));
            bin.push_back(static_cast<BYTE>((v >> 8) & 0xFF));
        }
    }
    testkit::WriteBytes(dir_ / "pre.bin", bin);
    testkit::WriteText(dir_ / "pre.cue",
                       "FILE \"pre.bin\" BINARY\n  TRACK 01 AUDIO\n    FLAGS PRE\n    INDEX 01 00:00:00\n"
                       "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n");
    Sandbox::MapImage('P', dir_ / "pre.cue");
    CDiscPilot pilot;
    ASSERT_TRUE(pilot.SetDrive('P'));
    ASSERT_TRUE(pilot.SetPosition(1, 0));
    std::vector<BYTE> pcm(75 * 2352);
    ASSERT_TRUE(pilot.GetData(pcm.data(), static_cast<unsigned long>(pcm.size())));
    auto sample = [&](std::size_t frame, int channel) {
        const std::size_t at = frame * 4 + channel * 2;
        return static_cast<int>(static_cast<std::int16_t>(pcm[at] | pcm[at + 1] << 8));
    };
    EXPECT_EQ(sample(0, 0), 7595 * 10000 / 16384) << "first sample: no history yet";
    // Truncation stops the approach a step or two short of the exact ratio; the value then holds still.
    EXPECT_NEAR(sample(75 * 588 - 1, 0), 10000.0 * 5968 / 5975, 3.0);
    EXPECT_NEAR(sample(75 * 588 - 1, 1), -20000.0 * 5968 / 5975, 3.0);
    EXPECT_EQ(sample(75 * 588 - 1, 0), sample(70 * 588, 0));
    EXPECT_EQ(sample(75 * 588 - 1, 1), sample(70 * 588, 1));
    // Track 2 has no pre-emphasis flag: its samples arrive as stored.
    ASSERT_TRUE(pilot.SetPosition(2, 0));
    ASSERT_TRUE(pilot.GetData(pcm.data(), 2352));
    EXPECT_EQ(sample(0, 0), 10000);
    EXPECT_EQ(sample(0, 1), -20000);
}

TEST_F(ReaderTest, SetDriveRefusesWhatIsNoAudioDisc) {
    testkit::WriteBytes(dir_ / "data.bin", testkit::BuildFile(5, std::string(300, '1'), 0));
    testkit::WriteText(dir_ / "data.cue",
                       "FILE \"data.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
    Sandbox::MapImage('X', dir_ / "data.cue");
    // A folder mapped to a letter: a drive, but no CD drive.
    SetString(platform::HKEY_LOCAL_MACHINE, platform::kDrivesKey, "M", dir_.string());
    for (const char* mode : {"RAW", "ASPI"}) {
        SetMachineString("Cdrom_Mode", mode);
        for (unsigned char letter : {'X', 'Q', 'M', '?'}) {
            CDiscPilot pilot;
            EXPECT_FALSE(pilot.SetDrive(letter)) << mode << " " << letter;
            EXPECT_FALSE(pilot.IsOpenDrive());
            unsigned long count = 7;
            EXPECT_FALSE(pilot.GetTrackNum(count));
            EXPECT_FALSE(pilot.SetPosition(1, 0));
            EXPECT_FALSE(pilot.GetData(nullptr, 0));
        }
    }
}

TEST_F(ReaderTest, CopiedControllersShareOneReader) {
    MakeMixedDisc();
    CDiscPilot first;
    ASSERT_TRUE(first.SetDrive('V'));
    {
        CDiscPilot second;
        second = first;
        CDiscPilot third(second);
        EXPECT_TRUE(third.IsOpenDrive());
    }
    // The copies closed; the first still reads.
    ASSERT_TRUE(first.SetPosition(3, 0));
    std::vector<BYTE> pcm(2352);
    ASSERT_TRUE(first.GetData(pcm.data(), 2352));
    EXPECT_EQ(std::memcmp(pcm.data(), Sector(starts_[2]), 2352), 0);
}

TEST_F(ReaderTest, NewPositionWhileConsumerWaitsReplacesTheRange) {
    MakeMixedDisc();
    SetMachineString("Cdrom_Mode", "ASPI");
    CDiscPilot pilot;
    ASSERT_TRUE(pilot.SetDrive('V'));
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(pilot.SetPosition(2 + round % 3, static_cast<unsigned long>(round * 7)));
        std::vector<BYTE> pcm(2352 * 3);
        ASSERT_TRUE(pilot.GetData(pcm.data(), static_cast<unsigned long>(pcm.size())));
    }
    pilot.CloseDrive();
    EXPECT_FALSE(pilot.IsOpenDrive());
}

TEST_F(ReaderTest, EjectAndLoadMoveTheTrayOfTheVirtualDrive) {
    MakeMixedDisc();
    testkit::WriteBytes(dir_ / "data.bin", testkit::BuildFile(5, std::string(300, '1'), 0));
    testkit::WriteText(dir_ / "data.cue",
                       "FILE \"data.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
    Sandbox::MapImage('X', dir_ / "data.cue");
    CDiscPilot pilot;
    EXPECT_EQ(pilot.IsAudioCDInserted('V'), 1) << "a mixed disc holds audio";
    EXPECT_EQ(pilot.IsAudioCDInserted('X'), 0) << "a data-only disc does not";
    EXPECT_EQ(pilot.IsAudioCDInserted('Q'), 0) << "no drive at all";
    for (unsigned char letter : {'V', 'X', 'Q'}) {
        EXPECT_EQ(pilot.IsVolumeEjected(letter), 0);
    }
    EXPECT_EQ(pilot.EjectVolume('Q'), 0);
    EXPECT_EQ(pilot.InsertVolume('Q'), 0);

    EXPECT_EQ(pilot.EjectVolume('V'), 1);
    EXPECT_EQ(pilot.IsAudioCDInserted('V'), 0) << "tray open: no disc";
    EXPECT_FALSE(pilot.SetDrive('V'));
    EXPECT_EQ(pilot.EjectVolume('V'), 1) << "ejecting an empty drive still goes through";
    EXPECT_EQ(pilot.InsertVolume('V'), 1);
    EXPECT_EQ(pilot.IsAudioCDInserted('V'), 1);
    ASSERT_TRUE(pilot.SetDrive('V'));
    ASSERT_TRUE(pilot.SetPosition(2, 0));
    std::vector<BYTE> pcm(2352);
    ASSERT_TRUE(pilot.GetData(pcm.data(), 2352));
    EXPECT_EQ(std::memcmp(pcm.data(), Sector(kDataSectors), 2352), 0);
}

TEST_F(ReaderTest, ATrayTheKernelKeepsShutIsNoEjectAndRemovableDrivesOpenForWriting) {
    MakeMixedDisc('V');
    SetProfile('V', "HeldOpen", DWORD{1});
    std::string error;
    const auto drive = platform::VirtualDrive::ForLetter('V', dir_ / "mixed.cue", error);
    ASSERT_TRUE(drive) << error;
    CDiscPilot pilot;
    // Another program's ordinary open: the volume locks, but the tray stays locked and shut.
    EXPECT_EQ(pilot.EjectVolume('V'), 0);
    EXPECT_FALSE(drive->TrayOpen());
    EXPECT_EQ(pilot.InsertVolume('V'), 0);
    drive->SetHeldOpen(false);
    EXPECT_EQ(pilot.EjectVolume('V'), 1);
    EXPECT_TRUE(drive->TrayOpen());
    drive->SetHeldOpen(true);
    EXPECT_EQ(pilot.InsertVolume('V'), 0) << "the tray lock cannot be released";
    drive->SetHeldOpen(false);
    EXPECT_EQ(pilot.InsertVolume('V'), 1);
    EXPECT_FALSE(drive->TrayOpen());

    // A drive of removable media (type 2): its volume opens (for reading and writing) and ejects, but it
    // is no CD drive to read from.
    MakeMixedDisc('R');
    SetProfile('R', "DriveType", DWORD{2});
    EXPECT_EQ(platform::GetDriveType('R'), platform::DRIVE_REMOVABLE);
    const auto removable = platform::VirtualDrive::ForLetter('R', dir_ / "mixed.cue", error);
    ASSERT_TRUE(removable) << error;
    EXPECT_EQ(pilot.EjectVolume('R'), 1);
    EXPECT_TRUE(removable->TrayOpen());
    EXPECT_EQ(pilot.InsertVolume('R'), 1);
    EXPECT_FALSE(removable->TrayOpen());
    EXPECT_FALSE(pilot.SetDrive('R'));
}

TEST_F(ReaderTest, ABusyVolumeIsLockedByRetryingEveryHalfSecondForTenSeconds) {
    struct Case {
        DWORD busyLocks;
        bool ejected;
        double atLeastSeconds;
    };
    // 3 busy answers: the fourth attempt locks, 1.5 s later. 20: every attempt fails; nothing is ejected.
    for (const Case& c : {Case{3, true, 1.5}, Case{20, false, 10.0}}) {
        const char letter = c.busyLocks == 3 ? 'B' : 'C';
        MakeMixedDisc(letter);
        SetProfile(letter, "BusyLocks", c.busyLocks);
        CDiscPilot pilot;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(pilot.EjectVolume(static_cast<unsigned char>(letter)), 1) << "the handle closed";
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(seconds, c.atLeastSeconds - 0.05);
        EXPECT_LT(seconds, c.atLeastSeconds + 5.0);
        EXPECT_EQ(pilot.IsAudioCDInserted(static_cast<unsigned char>(letter)), c.ejected ? 0 : 1);
    }
}

// The block length the drive's block descriptor reports now (MODE SENSE(6), all pages).
int BlockLength(char letter) {
    std::string error;
    auto device = platform::OpenScsiPassThrough(letter, error);
    EXPECT_TRUE(device) << error;
    if (!device) {
        return -1;
    }
    std::array<BYTE, 128> reply{};
    platform::ScsiCommand command;
    command.cdb = {0x1A, 0, 0x3F, 0, 128};
    command.cdbLength = 6;
    command.direction = platform::ScsiDirection::In;
    command.data = reply.data();
    command.dataLength = 128;
    platform::ScsiAnswer answer;
    EXPECT_EQ(device->Execute(command, answer), 0);
    EXPECT_GE(reply[3], 8);
    return reply[9] << 16 | reply[10] << 8 | reply[11];
}

TEST_F(ReaderTest, AVendorReadModeIsUndoneWhenTheDriveCloses) {
    MakeMixedDisc('P');
    SetMachineString("Cdrom_Mode", "ASPI");
    SetProfile('P', "Vendor", "PHILIPS");
    SetProfile('P', "RefuseReadCd", 1);
    SetProfile('P', "BigEndianRead", 1);
    const int before = BlockLength('P');
    {
        CDiscPilot pilot;
        ASSERT_TRUE(pilot.SetDrive('P'));
        ASSERT_TRUE(pilot.SetPosition(2, 0));
        std::vector<BYTE> pcm(2352 * 3);
        ASSERT_TRUE(pilot.GetData(pcm.data(), static_cast<unsigned long>(pcm.size())));
        EXPECT_EQ(std::memcmp(pcm.data(), Sector(kDataSectors), pcm.size()), 0);
        ReadCounts counts;
        ASSERT_TRUE(CDiscPilot::Diagnostics::GetReadCounts(pilot, counts));
        EXPECT_EQ(counts.readMode, 0x11280000u) << "READ(10) after the density switch, samples swapped";
        EXPECT_EQ(BlockLength('P'), 2352);
    }
    EXPECT_EQ(BlockLength('P'), before);
    EXPECT_NE(before, 2352);
}

TEST_F(ReaderTest, DriveCheckMembersAnswerBeforeAnyCheck) {
    MakeMixedDisc();
    CDiscPilot pilot;
    int percent = 7;
    EXPECT_EQ(pilot.GetDriveCheckProgress(percent), E_FAIL);
    EXPECT_EQ(pilot.StopDriveCheck(), E_FAIL);
    EXPECT_EQ(pilot.IsDriveChecked(), 0);
    ASSERT_TRUE(pilot.SetDrive('V'));
    EXPECT_EQ(pilot.IsDriveChecked(), 0);
    EXPECT_EQ(pilot.GetDriveCheckProgress(percent), E_FAIL);
    dptest::StoreCondition('V', 1, true);
    EXPECT_EQ(pilot.IsDriveChecked(), 1);
    EXPECT_EQ(pilot.GetDriveCheckError(), CDiscPilot::CheckDriveSucceeded);
}

} // namespace
} // namespace discpilot
