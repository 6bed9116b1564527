// The drive check: finds, for the drive model in use, a read condition (accuracy mode, speed, overlap)
// under which the same audio reads identically twice, measures the largest transfer the drive takes,
// grades the read quality, and stores the condition and buffer size for later opens of the same model.
//
// Threads: Run is called on the check's own thread, which owns the reader while it runs (no range of
// playback may be active). Another thread may read the reader's progress, stage and step count and clear
// its running flag to stop the check, which then winds down at its next test of that flag.
#pragma once

#include "reader/cddaCReader.h"
#include "store/DriveSettings.h"

#include <functional>
#include <string>
#include <vector>

namespace discpilot {

// What the check found, in the order the check's caller reads it.
struct CheckReport {
    int done = 0;
    int success = 0;
    int cddaCommands = 0;
    int isrcResult = 0;
    int accurate = 0;
    int noJitter = 0;
    int jitterCount = 0; // of the first pass of the last read test
    int fetchCount = 0;
    int fullToc = 0;
    int transferSize = 0;
    int speed = 0;
    double speedMultiple = 0.0;
    int bytesCompared = 0;
    int highDiffer = 0;
    int largeDiffer = 0;
    int lowDiffer = 0;
    int realignments = 0;
    int averageRealign = 0; // bytes
    int largestRealign = 0; // bytes
    int status = kStatusOk;
    int grade = 0; // 1 (no difference) .. 10
};

// The grade of the report's counters over the bytes compared: 1 when both passes were identical, 2..3
// for small differences, 4..10 as large differences and differing high bytes grow. 0 with nothing
// compared.
int Grade(const CheckReport& report) noexcept;

// The condition the check tries after `from` on a drive of maximum speed maxSpeed: the accurate mode at
// full speed and at 1x, then overlap reading at full, two thirds, one third and single speed, then single
// speed with the doubled overlap. False when none is left (next untouched).
bool NextCondition(const ReadCondition& from, int maxSpeed, ReadCondition& next) noexcept;

// How a failure of the temporary file reaches the user: a window shows a message box, a command line
// prints it. Called on the check's thread; the handler must not call back into the check.
using CheckMessageBox = void (*)(void* context, const char* text, const char* caption);
// Installs the handler for every check of the process (null: the message is dropped). Any thread.
void SetCheckMessageBox(CheckMessageBox handler, void* context) noexcept;

class cddaCDriveCheck {
public:
    // Bytes of one piece of the read test: 40 sectors.
    static constexpr std::size_t kPieceBytes = 40 * kSectorBytes;
    // Whole comparisons the alignment of one piece of the second pass may make. A piece of sound passes
    // the first-byte test at about 1 in 256 of its 47 040 places, some 184; only a degenerate answer
    // (silence or a short repeating pattern where the first pass read sound) passes it everywhere, and
    // there no alignment is to be found. Without the bound such a piece costs a comparison of a whole
    // sector at every place, about 10^8 byte steps.
    static constexpr std::size_t kMaxAlignComparisons = 1024;

    explicit cddaCDriveCheck(cddaCReader& reader) : r_(reader) {}
    cddaCDriveCheck(const cddaCDriveCheck&) = delete;
    cddaCDriveCheck& operator=(const cddaCDriveCheck&) = delete;

    // Runs the whole check, reading at most `seconds` of audio per pass, and fills report. The caller sets
    // the reader's running flag first; clearing it stops the check, which then puts the saved condition
    // back and forgets the model unless a condition was stored for it. Leaves the progress below the step
    // count: the caller sets it to the step count (FinishProgress) once it has taken the result, so that a
    // poller that sees 100 % also sees the result.
    void Run(CheckReport& report, int seconds);
    void FinishProgress() noexcept { r_.progress_.store(static_cast<double>(r_.stepCount_.load())); }

    // Test hook: called at every change of stage, on the check's thread.
    std::function<void(int stage)> onStage;

private:
    bool Running() const noexcept { return r_.running_.load() != 0; }
    void SetStage(int stage);
    // 1 when every audio track's ISRC reads valid and no two are equal.
    int IsrcTest();
    // Finds the largest transfer the drive delivers and stores it (stored_ says whether that worked);
    // false when a read failed and the drive then reported not ready.
    bool BufferProbe();
    // Reads the check track twice under the applied condition and compares the passes; the report gets
    // the counters, the status and the speed multiple (0 when the condition failed).
    void TrackTest(int track, int step, CheckReport& report);
    // Pass 1: the check track into the file; false when the test failed (report status set).
    bool FirstPass(int track, int fd, std::size_t& written, int step, CheckReport& report);
    bool SecondPass(int track, int fd, std::size_t written, int step, CheckReport& report);
    void AddProgress(int step, double amount) noexcept;
    void Abandon(const ReadCondition& saved);
    void TempFileFailed(CheckReport& report);

    cddaCReader& r_;
    std::vector<BYTE> first_, second_;
    double passProgress_ = 0.0;
    bool stored_ = false; // the probe's buffer size reached the settings
};

} // namespace discpilot
