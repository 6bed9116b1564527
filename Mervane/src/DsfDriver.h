// The "dsf:<path>" driver: records exactly the blocks it is given as a DSF file.
#pragma once

#include "Mervane/DsdDriver.h"
#include "Mervane/DsfWriter.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace mervane {

// Accepts blocks as fast as they come (it has no clock), at any DSD rate; the header says the rate. A DSF
// file holds one rate only, so a change of rate closes the file and carries the recording on in the next
// file of a numbered series beside it: "album.dsf", then "album-2.dsf", "album-3.dsf", ... A name that is
// taken already (an earlier recording, a file being played) is passed over, never overwritten, and each
// file the series goes on in is named on standard error. A file that holds only DSD silence so far (the
// priming of a freshly opened output) is started afresh at the new rate instead. The file's header
// is brought up to date after every second of audio written, and by a helper thread once a second of
// wall-clock time while blocks arrive, so a recording cut off by a crash still opens with nearly everything
// in it; Close writes the final header.
class DsfDriver final : public DsdDriver {
public:
    DsfDriver() = default;
    ~DsfDriver() override;
    DsfDriver(const DsfDriver&) = delete;
    DsfDriver& operator=(const DsfDriver&) = delete;

    // Creates the file at rate and starts the header thread. False when the file cannot be created.
    bool Open(const std::string& path, DsdRate rate = DsdRate::kDsd64);
    // The file the n-th stretch of one rate goes to (n = 1: path itself).
    static std::string SegmentPath(const std::string& path, int n);

    bool WriteBlock(const std::uint8_t* left, const std::uint8_t* right) noexcept override;
    bool Close() noexcept override;
    int FailureErrno() const noexcept override { return failureErrno_.load(); }
    bool Reopenable() const noexcept override { return false; }
    DsdRate Rate() const noexcept override;
    // Finishes the file and goes on in the next free file of the series, at rate. False (and failed, as a
    // write failure is) when no such file can be created.
    bool ChangeRate(DsdRate rate) noexcept override;

private:
    void FlushLoop();
    // Creates the first file of the series after the current one that does not exist yet and says so on
    // standard error. False (errno set) when none can be created.
    bool StartNextFile(DsdRate rate);
    // Names of the series tried for one change of rate before the recording gives up.
    static constexpr int kMaxNamesTried = 1000;

    std::mutex mutex_; // guards writer_ and the flags below between the output and the header thread
    std::condition_variable wake_;
    DsfWriter writer_;
    bool dirty_ = false;
    bool closing_ = false;
    // Blocks written since the header was last brought up to date; one second of DSD64 is 86.1 blocks,
    // of DSD128, DSD256 and DSD512 two, four and eight times that.
    static constexpr int kBlocksPerSecondOfAudio = 86;
    int blocksSinceFlush_ = 0;
    std::string path_;    // the name the recording was opened with: the series' first file
    std::string current_; // the file being written
    int segment_ = 1;     // current_'s number in the series
    static constexpr std::uint8_t kSilenceByte = 0x69;
    bool onlySilence_ = true; // every byte of the file's blocks so far is the silence byte
    bool failed_ = false;
    std::atomic<int> failureErrno_{0};
    std::array<std::uint8_t, DsfWriter::kBlockBytes> block_{};
    std::thread flusher_;
};

} // namespace mervane
