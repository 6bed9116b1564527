// What a whole-disc rip asks of the controller beyond playback: reads of any run of audio sectors
// (across tracks, and the first track's pregap), each track's pregap start from the Q sub-channel, and
// a drive model's read offset kept beside its read condition. Through both transports.
#include "TestSupport.h"
#include "api/CDiscPilot.h"
#include "api/DiscPilotDiagnostics.h"
#include "reader/cddaCReader.h"
#include "store/DriveSettings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace discpilot;

// Three audio tracks (the first after 150 sectors of hidden audio, the third after an INDEX 00 pregap
// of 40 sectors), then a data track.
constexpr std::uint32_t kHidden = 150, kFirst = 400, kSecond = 300, kGap = 40, kThird = 250, kData = 100;

class SectorRangeTest : public dptest::RegistryTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        dptest::RegistryTest::SetUp();
        const std::uint32_t audio = kHidden + kFirst + kSecond + kGap + kThird;
        image_ = testkit::BuildFile(5, std::string(audio, 'a') + std::string(kData, '1'), 0);
        testkit::WriteBytes(dir_ / "disc.bin", image_);
        testkit::WriteText(dir_ / "disc.cue",
                           "FILE \"disc.bin\" BINARY\n"
                           "  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 " +
                               testkit::CueTime(kHidden) + "\n  TRACK 02 AUDIO\n    INDEX 01 " +
                               testkit::CueTime(kHidden + kFirst) + "\n  TRACK 03 AUDIO\n    INDEX 00 " +
                               testkit::CueTime(kHidden + kFirst + kSecond) + "\n    INDEX 01 " +
                               testkit::CueTime(kHidden + kFirst + kSecond + kGap) +
                               "\n  TRACK 04 MODE1/2352\n    INDEX 01 " + testkit::CueTime(audio) + "\n");
        Sandbox::MapImage('V', dir_ / "disc.cue");
        SetMachineString("Cdrom_Mode", GetParam());
    }
    // count sectors of the open range, read in pieces.
    static std::vector<BYTE> Take(CDiscPilot& pilot, std::uint32_t count) {
        std::vector<BYTE> pcm(std::size_t{count} * 2352, 0xEE);
        for (std::size_t at = 0; at < pcm.size();) {
            const std::size_t piece = std::min<std::size_t>(pcm.size() - at, 75 * 2352);
            pilot.GetData(pcm.data() + at, static_cast<unsigned long>(piece));
            ReadCounts counts;
            CDiscPilot::Diagnostics::GetReadCounts(pilot, counts);
            if (counts.lastDelivered == 0) {
                break;
            }
            at += counts.lastDelivered;
        }
        return pcm;
    }
    std::vector<BYTE> Image(std::uint32_t from, std::uint32_t count) const {
        return {image_.begin() + std::size_t{from} * 2352, image_.begin() + std::size_t{from + count} * 2352};
    }

    testkit::Bytes image_;
};
INSTANTIATE_TEST_SUITE_P(Transports, SectorRangeTest, ::testing::Values("RAW", "ASPI"),
                         [](const auto& testCase) { return std::string(testCase.param); });

TEST_P(SectorRangeTest, AnyRunOfAudioReadsAsTheDiscHoldsItAndOthersAreRefused) {
    CDiscPilot pilot;
    ASSERT_TRUE(pilot.SetDrive('V'));
    CDiscPilot::Diagnostics::SetSecureReading(pilot, true);
    const std::uint32_t audio = kHidden + kFirst + kSecond + kGap + kThird;
    struct Case {
        std::uint32_t lba, count;
        int status; // 0: read; else the refusal's status
    };
    for (const Case c : {Case{0, kHidden, 0},                            // the hidden track
                         Case{kHidden - 3, 10, 0},                       // across the first track's start
                         Case{kHidden + kFirst - 70, 500, 0},            // across two track boundaries
                         Case{0, audio, 0},                              // all the audio
                         Case{audio - 5, 6, kStatusDataTrack},           // into the data track
                         Case{audio + 10, 5, kStatusDataTrack},          // in it
                         Case{audio + kData - 2, 5, kStatusOutOfBounds}, // past the disc's end
                         Case{10, 0, kStatusOutOfBounds}}) {
        SCOPED_TRACE(std::to_string(c.lba) + "+" + std::to_string(c.count));
        const bool started = CDiscPilot::Diagnostics::SetSectorRange(pilot, c.lba, c.count);
        ReadCounts counts;
        CDiscPilot::Diagnostics::GetReadCounts(pilot, counts);
        if (c.status != 0) {
            EXPECT_FALSE(started);
            EXPECT_EQ(counts.status, c.status);
            continue;
        }
        ASSERT_TRUE(started);
        EXPECT_EQ(Take(pilot, c.count), Image(c.lba, c.count));
        CDiscPilot::Diagnostics::GetReadCounts(pilot, counts);
        EXPECT_EQ(counts.status, kStatusOk);
        EXPECT_EQ(counts.unsettled, 0);
    }
}

TEST_P(SectorRangeTest, PregapStartsComeFromTheQSubChannel) {
    CDiscPilot pilot;
    ASSERT_TRUE(pilot.SetDrive('V'));
    std::uint32_t starts[8] = {};
    ASSERT_EQ(CDiscPilot::Diagnostics::GetPregapStarts(pilot, starts, 8), 4);
    EXPECT_EQ(starts[0], 0u);                         // the hidden track is the first track's index 0
    EXPECT_EQ(starts[1], kHidden + kFirst);           // no pregap: its own start
    EXPECT_EQ(starts[2], kHidden + kFirst + kSecond); // INDEX 00
    EXPECT_EQ(starts[3], kHidden + kFirst + kSecond + kGap + kThird); // the data track: its start
    // A read after the search is as exact as before it.
    ASSERT_TRUE(CDiscPilot::Diagnostics::SetSectorRange(pilot, kHidden + kFirst, kSecond + kGap));
    EXPECT_EQ(Take(pilot, kSecond + kGap), Image(kHidden + kFirst, kSecond + kGap));
}

TEST_P(SectorRangeTest, AReadOffsetIsStoredPerDriveModelWithinTenSectors) {
    {
        CDiscPilot pilot;
        ASSERT_TRUE(pilot.SetDrive('V'));
        long offset = 99;
        EXPECT_FALSE(CDiscPilot::Diagnostics::GetReadOffset(pilot, offset)) << "nothing stored yet";
        EXPECT_EQ(offset, 99);
        for (const long bad : {5881L, -5881L}) {
            EXPECT_FALSE(CDiscPilot::Diagnostics::StoreReadOffset(pilot, bad));
        }
        EXPECT_TRUE(CDiscPilot::Diagnostics::StoreReadOffset(pilot, -48));
    }
    CDiscPilot again;
    ASSERT_TRUE(again.SetDrive('V'));
    long offset = 0;
    EXPECT_TRUE(CDiscPilot::Diagnostics::GetReadOffset(again, offset));
    EXPECT_EQ(offset, -48);
    // Stored beside the read condition: the model key's read condition is found as before.
    DriveIdentity identity;
    {
        cddaCReader reader(kKindAspi);
        ASSERT_EQ(reader.Open('V', false), 1);
        identity = reader.Identity();
    }
    ReadCondition condition;
    EXPECT_EQ(LookUp(identity, false, condition), 0);
    EXPECT_EQ(StoreReadOffset(identity, 6), 1);
    LONG samples = 0;
    EXPECT_EQ(LookUpReadOffset(identity, samples), 1);
    EXPECT_EQ(samples, 6);
    // A value beyond ten sectors (written by hand) is no offset.
    EXPECT_EQ(StoreReadOffset(identity, 7000), 0);
    SetDword(platform::HKEY_CURRENT_USER, std::string(kUserKey) + "\\V\\" + identity.ModelName(),
             "Read Offset", 7000);
    EXPECT_EQ(LookUpReadOffset(identity, samples), 0);
    EXPECT_EQ(samples, 6);
}

} // namespace
