// The drive check against virtual drives of known behaviour: what it stores, the buffer size it finds,
// its results through the controller, its progress, stopping, and a temporary file that cannot be made;
// the grade and the order in which conditions are tried.
#include "TestKit/Environment.h"
#include "TestSupport.h"
#include "api/CDiscPilot.h"
#include "api/DiscPilotDiagnostics.h"
#include "check/cddaCDriveCheck.h"
#include "reader/cddaCReader.h"
#include "store/DriveSettings.h"

#include "Platform/VirtualDrive.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace discpilot {
namespace {

// How long a test waits for a check before it gives up: far beyond what a check of the test discs takes,
// even under the thread sanitizer on a loaded machine.
std::chrono::steady_clock::time_point Deadline() {
    return std::chrono::steady_clock::now() + std::chrono::seconds(120);
}
bool Before(std::chrono::steady_clock::time_point deadline) {
    return std::chrono::steady_clock::now() < deadline;
}

class DriveCheckTest : public dptest::RegistryTest {
protected:
    void TearDown() override {
        CDiscPilot::SetMessageBoxHandler(nullptr, nullptr);
        dptest::RegistryTest::TearDown();
    }

    // Maps V to a disc of audio tracks of these lengths (sectors); the check reads the one before the last.
    void MakeDisc(const std::vector<std::uint32_t>& lengths, char letter = 'V') {
        testkit::DiscTracks tracks;
        for (const std::uint32_t length : lengths) {
            tracks.emplace_back('a', length);
        }
        testkit::WriteBytes(dir_ / "check.bin", testkit::BuildFile(5, testkit::KindsOf(tracks), 0));
        testkit::WriteText(dir_ / "check.cue", testkit::SheetOf("check.bin", tracks));
        Sandbox::MapImage(letter, dir_ / "check.cue");
    }

    static bool StoredCondition(cddaCReader& reader, ReadCondition& condition) {
        return LookUp(reader.Identity(), false, condition) == 1;
    }
    static DWORD StoredBufferSize(cddaCReader& reader) {
        ReadCondition size;
        return LookUp(reader.Identity(), true, size) == 1 ? size.bufferSize : 0;
    }

    // Waits for the check the controller started to end (or give up at the deadline): its last progress.
    static int ProgressAtTheEnd(CDiscPilot& pilot) {
        int percent = 0;
        for (const auto until = Deadline();
             Before(until) && pilot.GetDriveCheckProgress(percent) == 0 && percent >= 0 && percent < 100;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return percent;
    }

    // Runs the check on a reader of its own, as the check thread does.
    static CheckReport RunCheck(cddaCReader& reader, std::function<void(int)> onStage = {}) {
        CheckReport report;
        cddaCDriveCheck check(reader);
        check.onStage = std::move(onStage);
        reader.Running() = 1;
        check.Run(report, 90);
        return report;
    }

    // The tests point TMPDIR at folders of their own; it is put back after each.
    testkit::EnvironmentGuard environment_;
};

struct DriveCase {
    const char* name;
    const char* mode; // Cdrom_Mode
    std::vector<std::pair<const char*, DWORD>> profile;
    int success;
    int status;
    DWORD bufferSize; // stored (0: nothing stored)
    int grade;
    DWORD accurate; // of the stored condition
};

class DriveCheckCaseTest : public DriveCheckTest, public ::testing::WithParamInterface<DriveCase> {};

TEST_P(DriveCheckCaseTest, StoresWhatTheDriveNeeds) {
    const DriveCase& c = GetParam();
    MakeDisc({400, 900, 650, 300});
    SetMachineString("Cdrom_Mode", c.mode);
    for (const auto& [name, value] : c.profile) {
        SetProfile('V', name, value);
    }
    cddaCReader reader(kKindAspi);
    ASSERT_EQ(reader.Open('V', false), 1);
    EXPECT_EQ(reader.Status(), kStatusNoCondition);
    const CheckReport report = RunCheck(reader);
    EXPECT_EQ(report.done, 1);
    EXPECT_EQ(report.success, c.success);
    EXPECT_EQ(report.status, c.status);
    EXPECT_EQ(report.grade, c.grade);
    EXPECT_EQ(reader.Running().load(), 0);
    EXPECT_EQ(StoredBufferSize(reader), c.bufferSize);
    ReadCondition stored;
    EXPECT_EQ(StoredCondition(reader, stored), c.success == 1);
    if (c.success == 1) {
        EXPECT_EQ(stored.valid, 1u);
        EXPECT_EQ(stored.accurate, c.accurate);
        EXPECT_EQ(stored.bufferSize, c.bufferSize);
        EXPECT_EQ(report.bytesCompared, 650 * 2352) << "a track under 90 s is read whole";
        EXPECT_GT(report.speedMultiple, 0.0);
        // A later open of the same model reads with what was stored.
        cddaCReader again(kKindAspi);
        ASSERT_EQ(again.Open('V', false), 1);
        EXPECT_EQ(again.Status(), kStatusOk);
        EXPECT_EQ(again.Condition(), stored);
    }
}

const DriveCase kDriveCases[] = {
    // An accurate drive's probe stops at once: it needs no large transfers.
    {"CleanAccurate", "ASPI", {}, 1, kStatusOk, 65536, 1, 1},
    {"CleanAccurateRaw", "RAW", {}, 1, kStatusOk, 65536, 1, 1},
    {"InaccurateTakesAMegabyte", "ASPI", {{"CddaAccurate", 0}}, 1, kStatusOk, 1048576, 1, 0},
    {"InaccurateBufferBound", "ASPI", {{"CddaAccurate", 0}, {"BufferKB", 256}}, 1, kStatusOk, 262144, 1, 0},
    {"A128KReadFails", "ASPI", {{"CddaAccurate", 0}, {"MaxTransfer", 65536}}, 1, kStatusOk, 65536, 1, 0},
    // The 256 KB read fails: what is stored is the 128 KB the drive delivered, not the untried 192 KB.
    {"A256KReadFails", "ASPI", {{"CddaAccurate", 0}, {"MaxTransfer", 200000}}, 1, kStatusOk, 131072, 1, 0},
    {"NeverReadsTwiceAlike", "ASPI", {{"Noise", 120}}, 0, kStatusCheckErrors, 65536, 0, 0},
    {"NeverReadsTwiceAlikeRaw",
     "RAW",
     {{"Noise", 120}, {"CddaAccurate", 0}},
     0,
     kStatusCheckErrors,
     1048576,
     0,
     0},
};

INSTANTIATE_TEST_SUITE_P(Drives, DriveCheckCaseTest, ::testing::ValuesIn(kDriveCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(DriveCheckTest, AccurateDriveWithSlightNoiseGradesByItsDifferences) {
    MakeDisc({300, 700, 200});
    SetMachineString("Cdrom_Mode", "ASPI");
    SetProfile('V', "Noise", 1);
    cddaCReader reader(kKindAspi);
    ASSERT_EQ(reader.Open('V', false), 1);
    const CheckReport report = RunCheck(reader);
    ASSERT_EQ(report.success, 1);
    EXPECT_GT(report.highDiffer, 0);
    EXPECT_GE(report.grade, 4);
    EXPECT_LE(report.grade, 6);
}

TEST_F(DriveCheckTest, StopBeforeTheReadTestsForgetsTheModelUnlessAConditionWasStored) {
    for (const bool storedBefore : {false, true}) {
        SCOPED_TRACE(storedBefore ? "condition stored before" : "nothing stored before");
        MakeDisc({300, 500, 200});
        SetMachineString("Cdrom_Mode", "ASPI");
        cddaCReader reader(kKindAspi);
        ASSERT_EQ(reader.Open('V', false), 1);
        ReadCondition before = reader.Condition();
        if (storedBefore) {
            before.valid = 1;
            before.overlap = 7;
            ASSERT_EQ(Store(reader.Identity(), before, false), 1);
            reader.Condition() = before;
        }
        std::vector<int> stages;
        const CheckReport report = RunCheck(reader, [&](int stage) {
            stages.push_back(stage);
            if (stage == 2) {
                reader.Running() = 0; // a stop while the buffer probe runs
            }
        });
        EXPECT_EQ(stages, (std::vector<int>{0, 1, 2, 3})) << "no read test begins";
        EXPECT_EQ(report.done, 0);
        EXPECT_EQ(reader.Progress().load(), 0.0);
        EXPECT_EQ(reader.Condition(), before) << "the saved condition is back";
        ReadCondition stored;
        EXPECT_EQ(StoredCondition(reader, stored), storedBefore);
        EXPECT_EQ(StoredBufferSize(reader) != 0, storedBefore) << "the probe's size goes with the model key";
        TearDown();
        SetUp();
    }
}

TEST_F(DriveCheckTest, ADriveNotReadyDuringTheProbeEndsWithResultOne) {
    MakeDisc({300, 500, 200});
    SetMachineString("Cdrom_Mode", "ASPI");
    SetProfile('V', "Isrc", DWORD{0});
    CDiscPilot pilot;
    ASSERT_TRUE(pilot.SetDrive('V'));
    std::string error;
    const auto drive = platform::VirtualDrive::ForLetter('V', dir_ / "check.cue", error);
    ASSERT_TRUE(drive) << error;
    drive->ArmNotReady(100000);
    ASSERT_EQ(pilot.CheckDrive(), 1);
    EXPECT_EQ(ProgressAtTheEnd(pilot), -1);
    EXPECT_EQ(pilot.GetDriveCheckError(), CDiscPilot::CheckDriveNotReady);
    EXPECT_EQ(pilot.IsDriveChecked(), 0);
    drive->ArmNotReady(0);
    pilot.CloseDrive();
}

// A drive that drops out (not ready) after a read longer than it can take, as drives that reset on an
// oversized transfer do.
class ResettingReader final : public cddaCReader {
public:
    ResettingReader(DWORD limitBytes) : cddaCReader(kKindAspi), limit_(limitBytes) {}
    ~ResettingReader() override { Release(); }
    int ReadAudio(DWORD readMode, DWORD lba, DWORD count, BYTE* buffer) override {
        if (std::uint64_t{count} * kSectorBytes > limit_) {
            dropped_ = true;
            return kTransportNotReady;
        }
        return cddaCReader::ReadAudio(readMode, lba, count, buffer);
    }
    int TestUnitReady() override { return dropped_ ? kTransportNotReady : cddaCReader::TestUnitReady(); }

private:
    DWORD limit_;
    bool dropped_ = false;
};

TEST_F(DriveCheckTest, AProbeThatFailsBeyondTheSecondStepLeavesOnlyASizeThatWasRead) {
    struct Case {
        DWORD limitBytes; // the drive drops out on a longer read
        DWORD stored;     // the buffer size left in the settings
    };
    // Reads of 26, 52, 105, 211 and 422 sectors: each limit lets the steps before it through.
    for (const Case& c : {Case{100000, 65536}, Case{200000, 131072}, Case{400000, 262144}}) {
        SCOPED_TRACE(c.limitBytes);
        MakeDisc({400, 900, 650, 300});
        SetMachineString("Cdrom_Mode", "ASPI");
        SetProfile('V', "CddaAccurate", DWORD{0});
        // A condition stored by an earlier check keeps the model key (and the probe's size) in place.
        {
            cddaCReader first(kKindAspi);
            ASSERT_EQ(first.Open('V', false), 1);
            ASSERT_EQ(RunCheck(first).success, 1);
        }
        ResettingReader reader(c.limitBytes);
        ASSERT_EQ(reader.Open('V', false), 1);
        const CheckReport report = RunCheck(reader);
        EXPECT_EQ(report.done, 1);
        EXPECT_EQ(report.status, kStatusProbeFailed);
        EXPECT_EQ(StoredBufferSize(reader), c.stored);
        // What a later open reads with is a transfer the drive delivered.
        cddaCReader again(kKindAspi);
        ASSERT_EQ(again.Open('V', false), 1);
        EXPECT_EQ(again.Condition().bufferSize, c.stored);
        TearDown();
        SetUp(); // a fresh settings folder for the next case
    }
}

TEST_F(DriveCheckTest, AConditionThatCannotBeStoredIsNoSuccess) {
    MakeDisc({300, 500, 200});
    SetProfile('V', "Isrc", DWORD{0});
    for (const char* mode : {"RAW", "ASPI"}) {
        SCOPED_TRACE(mode);
        SetMachineString("Cdrom_Mode", mode);
        std::filesystem::remove(dir_ / "user.reg");
        CDiscPilot pilot;
        ASSERT_TRUE(pilot.SetDrive('V'));
        // A slip made by hand in the user's settings: the file is never rewritten, so nothing is stored.
        testkit::WriteText(dir_ / "user.reg", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\n");
        ASSERT_EQ(pilot.CheckDrive(), 1);
        EXPECT_EQ(ProgressAtTheEnd(pilot), -1);
        EXPECT_EQ(pilot.GetDriveCheckError(), CDiscPilot::CheckDriveFailed);
        EXPECT_EQ(pilot.IsDriveChecked(), 0);
        CheckSummary summary;
        ASSERT_TRUE(CDiscPilot::Diagnostics::GetCheckSummary(pilot, summary));
        EXPECT_EQ(summary.success, 0);
        EXPECT_EQ(summary.notStored, 1);
        EXPECT_EQ(summary.status, kStatusNotStored);
        pilot.CloseDrive();
    }
}

TEST_F(DriveCheckTest, ProgressRunsToOneHundredOnlyWithTheResultInPlace) {
    MakeDisc({300, 2000, 400});
    SetMachineString("Cdrom_Mode", "ASPI");
    SetProfile('V', "CddaAccurate", DWORD{0});
    CDiscPilot pilot;
    ASSERT_TRUE(pilot.SetDrive('V'));
    EXPECT_EQ(pilot.IsDriveChecked(), 0);
    ASSERT_EQ(pilot.CheckDrive(), 1);
    std::vector<int> seen;
    int percent = 0;
    for (const auto until = Deadline(); Before(until);) {
        ASSERT_EQ(pilot.GetDriveCheckProgress(percent), 0);
        if (seen.empty() || seen.back() != percent) {
            seen.push_back(percent);
        }
        if (percent == 100 || percent < 0) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 100);
    EXPECT_EQ(pilot.GetDriveCheckError(), CDiscPilot::CheckDriveSucceeded) << "the result is there with 100";
    for (std::size_t i = 1; i < seen.size(); ++i) {
        EXPECT_GT(seen[i], seen[i - 1]) << "progress never goes back";
    }
    EXPECT_EQ(pilot.IsDriveChecked(), 1);
    // A second check of the same drive runs again from the start.
    ASSERT_EQ(pilot.CheckDrive(), 1);
    pilot.CloseDrive(); // waits for the check: nothing is left running on a closed drive
    int after = 0;
    EXPECT_EQ(pilot.GetDriveCheckProgress(after), E_FAIL);
}

TEST_F(DriveCheckTest, FailedPreCheckWritesMinusOne) {
    MakeDisc({300, 500});
    struct Case {
        const char* name;
        std::string tmp;
    };
    const std::vector<Case> cases = {
        {"temporary folder missing", (dir_ / "no-such-folder").string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        environment_.Set("TMPDIR", c.tmp);
        CDiscPilot pilot;
        ASSERT_TRUE(pilot.SetDrive('V'));
        EXPECT_EQ(pilot.CheckDrive(), 0);
        int percent = 0;
        EXPECT_EQ(pilot.GetDriveCheckProgress(percent), 0);
        EXPECT_EQ(percent, -1);
        EXPECT_EQ(pilot.GetDriveCheckError(), CDiscPilot::CheckDriveFailed);
    }
    CDiscPilot closed;
    EXPECT_EQ(closed.CheckDrive(), 0);
    EXPECT_EQ(closed.GetDriveCheckError(), CDiscPilot::CheckDriveFailed);
}

TEST_F(DriveCheckTest, ATemporaryFileThatCannotBeMadeIsShownAndFailsEveryCondition) {
    MakeDisc({300, 500, 200});
    SetMachineString("Cdrom_Mode", "ASPI");
    // A file where the folder should be: its file system has room, but nothing can be created in it.
    testkit::WriteText(dir_ / "not-a-folder", "x");
    environment_.Set("TMPDIR", (dir_ / "not-a-folder").string());
    std::vector<std::pair<std::string, std::string>> shown;
    CDiscPilot::SetMessageBoxHandler(
        [](void* context, const char* text, const char* caption) {
            static_cast<decltype(shown)*>(context)->emplace_back(text, caption);
        },
        &shown);
    cddaCReader reader(kKindAspi);
    ASSERT_EQ(reader.Open('V', false), 1);
    const CheckReport report = RunCheck(reader);
    EXPECT_EQ(report.done, 1);
    EXPECT_EQ(report.success, 0);
    EXPECT_EQ(report.status, kStatusTempFile);
    ASSERT_EQ(shown.size(), 7u) << "one box per condition tried";
    EXPECT_EQ(shown[0].second, "エラー");
    EXPECT_FALSE(shown[0].first.empty());
    ReadCondition stored;
    EXPECT_FALSE(StoredCondition(reader, stored));
}

TEST(DriveCheckRules, ConditionSequence) {
    struct Case {
        int maxSpeed;
        bool accurate;
        std::vector<std::tuple<DWORD, int, int>> expected; // accurate, speed, overlap after the start
    };
    const Case cases[] = {
        {24, true, {{1, 1, 5}, {0, 24, 5}, {0, 16, 5}, {0, 8, 5}, {0, 1, 5}, {0, 1, 10}}},
        {24, false, {{0, 16, 5}, {0, 8, 5}, {0, 1, 5}, {0, 1, 10}}},
        {1, true, {{0, 1, 5}, {0, 1, 10}}},
        {1, false, {{0, 1, 10}}},
        {2, false, {{0, 1, 5}, {0, 1, 10}}},
        {3, false, {{0, 2, 5}, {0, 1, 5}, {0, 1, 10}}},
        {40, false, {{0, 26, 5}, {0, 13, 5}, {0, 1, 5}, {0, 1, 10}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("max " + std::to_string(c.maxSpeed) + (c.accurate ? " accurate" : ""));
        ReadCondition condition;
        condition.accurate = c.accurate ? 1 : 0;
        condition.speed = static_cast<WORD>(c.maxSpeed);
        condition.overlap = 5;
        condition.bufferSize = 12345;
        std::vector<std::tuple<DWORD, int, int>> got;
        while (got.size() < 40 && NextCondition(condition, c.maxSpeed, condition)) {
            got.emplace_back(condition.accurate, condition.speed, condition.overlap);
            EXPECT_EQ(condition.bufferSize, 12345u);
        }
        EXPECT_EQ(got, c.expected);
    }
}

TEST(DriveCheckRules, Grade) {
    struct Case {
        int bytes, high, large, low, grade;
    };
    const Case cases[] = {
        {1000000, 0, 0, 0, 1},        {1000000, 0, 0, 1, 2},         {1000000, 100, 0, 0, 2},
        {1000000, 101, 0, 0, 3},      {1000000, 100, 100, 0, 4},     {1000000, 5000, 101, 0, 5},
        {1000000, 5001, 1000, 0, 6},  {1000000, 10000, 1001, 0, 7},  {1000000, 15000, 1001, 0, 8},
        {1000000, 20000, 1001, 0, 9}, {1000000, 20001, 1001, 0, 10}, {0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        CheckReport report;
        report.bytesCompared = c.bytes;
        report.highDiffer = c.high;
        report.largeDiffer = c.large;
        report.lowDiffer = c.low;
        EXPECT_EQ(Grade(report), c.grade) << c.high << " high, " << c.large << " large, " << c.low << " low";
    }
}

} // namespace
} // namespace discpilot
