// The one object that plays sound: the open source (a list of WAV, DSF and DSDIFF files), the reader thread
// that turns it into DSD blocks, the output thread that writes them to the DSD device, the rings between
// them, and the level control. The owner calls every operation from one thread (the UI thread); the engine
// answers only by posting messages to the owner's MessageTarget.
#pragma once

#include "CDsdFileSource.h"
#include "CPcmFileSource.h"
#include "CSampleRing.h"
#include "CWaveSource.h"
#include "SamplePipeline.h"

#include "CDiscPilot.h"
#include "Chanterel/CChanterel.h"
#include "Mervane/CProcessProc.h"
#include "Platform/Event.h"
#include "Platform/MessageTarget.h"
#include "Platform/Thread.h"
#include "Platform/Types.h"
#include "shell/WindowMessages.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// The engine posts WM_PLAYER_END, WM_PLAYER_POSITION, WM_PLAYER_RATE_REFUSED and WM_COMMAND to its window
// (shell/WindowMessages.h), and the registered kLoadDriverErrorName message the window passes to Initialize.
// WM_COMMAND's wParam when the device asks for a reset: the window's Stop command.
inline constexpr WPARAM kStopCommandId = 1006;

// The output opened when DefaultASIODriverName is not set at all: the installed settings' value.
inline constexpr char kDefaultDriverName[] = "auto";

// Results of StartThreads.
inline constexpr int kThreadsAlreadyRunning = -112;

class CPlaybackEngine {
public:
    // Values of SourceKind().
    static constexpr std::int32_t kSourceWave16 = 0;
    static constexpr std::int32_t kSourceWave24 = 1;
    static constexpr std::int32_t kSourceDsf = 2;
    static constexpr std::int32_t kSourceDsdiff = 3;
    // Any other PCM file (FLAC, AIFF, another rate...), resampled to 44 100 Hz 24-bit by the PCM source.
    static constexpr std::int32_t kSourcePcmFile = 4;
    // Ring shape: 32 768 elements (131 072 bytes) each at DSD64; one block's channel is 1024 elements. The
    // storage holds four times that, so that DSD256 has as much read-ahead in time.
    static constexpr std::int32_t kRingCapacity = 32768;
    static constexpr std::int32_t kRingStorage = kRingCapacity * 4;
    static constexpr std::int32_t kRingDefaultRead = 4096;
    static constexpr std::int32_t kRingDefaultWrite = 8192;
    static constexpr std::int32_t kBlockElements = kDsdChannelBytes / 4;
    // Silent blocks at DSD64; at DSD128 and DSD256 two and four times as many, so they last as long.
    static constexpr int kPrimingSilentBlocks = 50; // at start-up, and after a change of rate
    static constexpr int kEdgeSilentBlocks = 20;    // before each start and after each drain

    // Opens nothing and starts nothing.
    CPlaybackEngine();
    // Runs Shutdown.
    ~CPlaybackEngine();
    CPlaybackEngine(const CPlaybackEngine&) = delete;
    CPlaybackEngine& operator=(const CPlaybackEngine&) = delete;

    // Overrides for this engine only, set before Initialize; the stored settings are neither read for
    // these values nor written. Without an override the driver name is read from DefaultASIODriverName
    // each time the driver is opened, and RF mode from useRFMode at Initialize and at each OpenFiles.
    void SetDriverNameOverride(std::string driverName);
    void SetRFModeOverride(bool rfMode);
    // Gapless playback for this engine (else GaplessPlayback, read at each Play): consecutive files that
    // are both PCM, or both DSD of one rate, follow each other without a fade or silence, through the same
    // up-converter; the position messages then renumber the track at the join, as on a disc.
    void SetGaplessOverride(bool gapless);
    // The DSD rate PCM is up-converted to (64, 128 or 256; anything else is 64), instead of DsdRate.
    void SetDsdRateOverride(DWORD rate);
    // Replaces how Initialize makes the level selector (the default makes a CChanterel). A factory that
    // returns null stands for a selector that cannot be created.
    void SetLevelSelectorFactory(std::function<std::unique_ptr<CChanterel>()> factory);

    // Stores the window and the driver error message, creates the events, work buffers and rings that do
    // not exist yet, starts the threads (the output thread opens the driver and primes the device at once)
    // and makes the level selector. Returns 0, or E_FAIL when the level selector cannot be made or
    // initialised (the threads run anyway). window must outlive the engine's threads; it may be null.
    HRESULT Initialize(platform::MessageTarget* window, UINT driverErrorMessage);
    // 1 when both threads started, 0 when either could not (none then runs), kThreadsAlreadyRunning when
    // a thread exists already.
    int StartThreads();
    // Ends the reader, then the output thread, waiting for each. Returns 1.
    int StopThreads();
    // StopThreads, then frees the events, buffers and the level selector. Returns 0.
    int Shutdown();

    // Replaces the source with the acceptable files among paths (UTF-8), in order; the others are skipped
    // silently. WAV files and every other PCM file the PCM source takes are always acceptable; DSF and
    // DSDIFF files only in RF mode (the override, else useRFMode = 1, read now). Returns 1 with track 1
    // current, or 0 (no source) when none is acceptable. Reads each file's header. Only while not playing.
    int OpenFiles(const std::vector<std::string>& paths);
    // Closes a file source. Returns 1.
    int CloseFiles();

    // The audio CD as the source: closes a file source and any open CD, then opens the drive behind the
    // letter. 1 with the disc open (is CD, source open), 0 with no source. Blocks on the drive. Only while
    // not playing.
    int OpenDrive(unsigned char letter);
    // Closes an open CD, ending its playback first (Pause) and blocking until its reading stopped.
    // Returns 1.
    int CloseDrive();
    // Closes an open CD (as CloseDrive), then ejects the tray of the letter's drive; true when that was
    // done.
    bool EjectDisc(unsigned char letter);
    // Loads the tray of the letter's drive; true when that was done.
    bool LoadDisc(unsigned char letter);
    std::uint32_t GetTrackCount() const;
    // Length of track (1-based) in ms; false for an unknown track or without a source.
    bool GetTrackLength(std::uint32_t track, std::uint32_t* ms) const;
    // Replaces *files with the accepted paths. Returns 0.
    int GetFileList(std::vector<std::string>* files) const;
    // Makes track (1-based) current, offsetMs into it, and sets the source kind for it. 0 without a
    // source or when the file can no longer be opened; throws std::invalid_argument for a track outside
    // the list. Only while not playing (the reader must be idle: it reads the sources).
    int SelectTrack(std::uint32_t track, std::uint32_t offsetMs);

    // Starts (or resumes) the current track. Waits until the output thread has opened the driver; returns
    // 0 at once when that failed, when the engine is not initialised or its threads were stopped, so it
    // never blocks for ever. A device that failed during play (and so was closed) is opened again here;
    // 0 when that fails. Returns 1
    // when playing or started, and also when a pending Pause was honoured instead.
    int Play();
    // Stops playback with a fade-out, blocking until the output has drained and written its trailing
    // silence. Returns at once when nothing plays or is starting, or when the threads were stopped. The
    // source keeps its position. Returns 1.
    int Pause();

    // Level and mute (0.0 .. 1.0), passed to the level selector. SetLevel always unmutes first; 0 or
    // E_FAIL. GetLevel reports the louder channel; 0, or E_FAIL without a selector.
    HRESULT SetLevel(float level);
    HRESULT GetLevel(float* level);
    bool SetMute(bool mute);
    bool GetMute();

    // State the window reads (any thread; values may change right after).
    std::int32_t Playing() const noexcept { return playing_.load(); }
    // Play has started the reader and the output has not begun yet (Playing still 0). Any thread.
    bool StartIsPending() const;
    bool SourceOpen() const noexcept { return sourceOpen_.load(); }
    bool IsCD() const noexcept { return isCD_.load(); }
    std::uint32_t CurrentTrack() const noexcept { return currentTrack_.load(); }
    std::int32_t SourceKind() const noexcept { return sourceKind_.load(); }
    std::uint32_t LastReportedMs() const noexcept { return lastReportedMs_.load(); }
    // 0 off, 1 repeat the current track, 2 repeat all; the window writes it directly.
    std::int32_t RepeatMode() const noexcept { return repeatMode_.load(); }
    void SetRepeatMode(std::int32_t mode) noexcept { repeatMode_.store(mode); }
    float CurrentLevel() const noexcept { return currentLevel_.load(); }
    bool RFMode() const noexcept { return rfMode_.load(); }
    // Whether the last Play started gapless playback.
    bool Gapless() const noexcept { return gapless_.load(); }
    // The DSD rate of the current track: a DSD file's own, or for PCM the rate asked for (the override,
    // else DsdRate), lowered to the highest the output takes. Any thread.
    DsdRate TrackRate() const noexcept { return trackRate_.load(); }
    // The rate PCM plays at now, as TrackRate would give it for a PCM track. Reads the setting.
    DsdRate PcmRate() const;
    // Why the last Play returned 0 because the output does not take the track's rate (naming the rates
    // it takes); empty when that never happened. Any thread.
    std::string RateRefusal() const;

    // The driver name the engine opens: the override, else the stored setting, else "auto" when nothing
    // is stored; empty when the stored value is not a string.
    std::string DriverName() const;
    // Why the output thread could not open the driver; meaningful once the driver error message came.
    std::string DriverOpenError() const;
    // The output processor, for its device's flags (a device reset request is raised there).
    CProcessProc& OutputProcessor() noexcept { return outputProcessor_; }
    // The CD controller, for what a front end reports about the disc's read (its diagnostics).
    const CDiscPilot& CdDrive() const noexcept { return drive_; }

private:
    class WaveReader;
    class CdReader;
    class PcmFileReader;
    class JoinedPcmReader;
    class DsdJoin;
    class PcmFollow;

    void ReaderThread();
    void OutputThread();
    // The output thread's steps: opening the device (false, with the failure posted, when it cannot be
    // opened), and writing one block from the rings (or its silence while a device reset is pending).
    bool OpenOutputDevice(CDSDASIO* device);
    void WriteRingBlock(CDSDASIO* device, std::uint8_t* const* channels, bool& resetSeen);
    // Reader thread: waits until rings 0 and 1 can take a block. False when the thread must quit, or when
    // a stop is requested and mayDrop allows the rest of the chunk to be dropped.
    bool WaitForRoom(bool mayDrop, DsdRate rate);
    // Output thread, before a start: carries the device on at the track's rate when it runs at another,
    // with the priming silence a device gets when it is opened. False when the device failed to (the
    // window is then told to stop, as at a device reset).
    bool SwitchRate(CDSDASIO* device);
    // Whether the device takes the current track's rate; sets RateRefusal when not.
    bool RateTaken(const CDSDASIO* device);
    void WriteSilentBlocks(CDSDASIO* device, int count);
    void PositionCheck();
    void EndOfTrack();
    // Opens a file the wave source rejected as a DSD file and sets the source kind. False when it cannot
    // be opened.
    bool OpenDsdFile(const std::string& path);
    // Opens a file neither the wave source nor (in RF mode) the DSD source takes: as a DSD file (when
    // RF mode allows) or else with the PCM file source; sets the source kind. False when neither opens it.
    bool OpenOtherFile(const std::string& path);
    // The length of a track, shortened to where its audio really ended when a PCM file turned out damaged
    // or cut while it played.
    bool PlayingTrackLength(std::uint32_t* ms) const;
    // Reader thread, in a gapless run: the source of the reader's track has delivered all it holds. Opens
    // the next file of the list in its place when it joins on (both PCM, or both DSD of one rate, repeat
    // of one track off, no stop requested); false, with the source left as it is, when it does not.
    bool JoinNextTrack();
    // Reader thread, in a gapless run: the next file, when the PCM file source is to decode on into it
    // (both files are read by that source, and the run joins them); else null.
    const char* NextPcmFilePath() const;
    // Output thread, a Pause having drained: moves the track number on to the file the reader ran into.
    void CatchUpWithReader();
    // Milliseconds the reader's source has delivered of its file (reader idle).
    std::uint32_t ReaderPositionMs() const;
    // Play's last step: honour a pending Pause, or start the reader. Called with stateLock_ held.
    void StartOrHonourPause();
    // Nothing plays, starts or drains: the output thread waits for a start.
    bool Idle() const;
    void Post(UINT msg, WPARAM wParam, LPARAM lParam);

    platform::Thread outputThread_;
    platform::Thread readerThread_;
    std::unique_ptr<platform::Event> outputQuit_;
    std::unique_ptr<platform::Event> readerQuit_;
    std::unique_ptr<platform::Event> idle_;
    std::unique_ptr<platform::Event> readerRun_;
    std::unique_ptr<platform::Event> outputRun_;
    std::unique_ptr<platform::Event> driverReady_;
    // Set when the output thread gave up opening the driver, so Play does not wait for ever.
    std::unique_ptr<platform::Event> driverFailed_;
    CProcessProc outputProcessor_;
    std::array<CSampleRing, 6> rings_;
    std::unique_ptr<std::array<std::array<std::uint8_t, kDsdChannelBytes>, 6>> workBuffers_;
    std::array<std::uint8_t*, CDSDASIO::kTableEntries> workTable_{};
    std::int64_t devicePosition_ = 0; // output thread
    std::mutex ringLock_;
    std::atomic<std::uint64_t> playedBytes_{0};
    platform::MessageTarget* window_ = nullptr;
    std::atomic<bool> sourceOpen_{false};
    std::atomic<std::uint32_t> lastReportedMs_{0};
    std::atomic<std::int32_t> playing_{0};
    std::atomic<std::uint32_t> currentTrack_{0};
    std::atomic<bool> isCD_{false};
    std::atomic<bool> endOfData_{false};
    std::atomic<bool> stopRequest_{false};
    CWaveSource waveSource_;
    std::vector<std::string> fileList_;
    std::vector<std::uint32_t> trackLengths_;
    std::atomic<bool> trackChangePending_{false};
    std::atomic<std::int32_t> repeatMode_{0};
    std::atomic<std::int32_t> sourceKind_{0};
    CDsdFileSource dsdSource_;
    CPcmFileSource pcmSource_;
    std::unique_ptr<CChanterel> levelSelector_;
    std::atomic<float> currentLevel_{0.0f}; // written by the UI thread, read by any
    UINT driverErrorMessage_ = 0;

    // Makes Pause's test-and-clear of the idle event atomic with the output thread's end of playback and
    // with starting the next file, so a Pause can neither miss the end nor be lost in a track change.
    // Held for a few instructions; never across a call into another component or a wait.
    std::mutex stateLock_;

    std::optional<std::string> driverNameOverride_;
    std::optional<bool> rfModeOverride_;
    std::optional<bool> gaplessOverride_;
    std::atomic<bool> gapless_{false}; // written by Play on the UI thread, read by the reader
    // The track whose file the sources hold: the current track, or in a gapless run a later one the reader
    // has already run into. Written by SelectTrack and by the reader at a join; read by the output thread.
    std::atomic<std::uint32_t> readerTrack_{0};
    // What decides whether two neighbouring files join (index track - 1): kJoinWave or kJoinPcmFile for a
    // PCM file (by the source that reads it; any two PCM files join), the sampling rate for a DSD file.
    // Written by OpenFiles while nothing plays.
    static constexpr std::uint32_t kJoinWave = 1;
    static constexpr std::uint32_t kJoinPcmFile = 2;
    static constexpr std::uint32_t JoinClass(std::uint32_t kind) noexcept {
        return kind <= kJoinPcmFile ? kJoinWave : kind;
    }
    std::vector<std::uint32_t> trackJoinKinds_;
    bool joinFailed_ = false; // reader thread: the next file could not be opened, no more joins this run
    std::optional<DWORD> dsdRateOverride_;
    // Written by the UI thread (and by the output thread at a track change) while the reader is idle.
    std::atomic<DsdRate> trackRate_{DsdRate::kDsd64};
    mutable std::mutex rateRefusalLock_;
    std::string rateRefusal_;
    std::atomic<bool> rfMode_{false}; // written by Initialize and OpenFiles, read by any thread
    std::function<std::unique_ptr<CChanterel>()> levelSelectorFactory_;
    ChunkProducer chunks_;       // reader thread only
    DsdChunkProducer dsdChunks_; // reader thread only
    // Silent blocks: six channel and six work buffers of the DSD silence byte, made by the output thread.
    std::vector<std::array<std::uint8_t, kDsdChannelBytes>> silentBuffers_;
    std::array<std::uint8_t*, CDSDASIO::kTableEntries> silentChannels_{};
    std::array<std::uint8_t*, CDSDASIO::kTableEntries> silentWork_{};
    std::unique_ptr<WaveReader> waveReader_;
    std::unique_ptr<PcmFileReader> pcmReader_;
    std::unique_ptr<JoinedPcmReader> joinedReader_;
    std::unique_ptr<DsdJoin> dsdJoin_;
    std::unique_ptr<PcmFollow> pcmFollow_;
    // The CD controller. The UI thread opens, positions and closes it; the output thread reads track
    // lengths and positions it at a track end (never while the reader thread reads); the reader thread
    // takes its PCM. Mutable: asking for counts and lengths goes through its non-const members.
    mutable CDiscPilot drive_;
    std::unique_ptr<CdReader> cdReader_;
    // Which tracks of the open disc are data (index track − 1): the CD plays its audio tracks only.
    // Written by OpenDrive while nothing plays; read by any thread.
    std::vector<bool> cdDataTracks_;
    bool IsDataTrack(std::uint32_t track) const;
    // The first audio track from track on; 0 when none follows.
    std::uint32_t AudioTrackFrom(std::uint32_t track) const;
};

} // namespace engine
