// The one object that plays sound: the open source (an audio CD, or a list of PCM files — WAV, FLAC, AIFF and
// the rest of what libsndfile reads — and DSF and DSDIFF files), the reader thread that turns it into DSD
// blocks, the output thread that writes them to the DSD device, the rings between them, and the level
// control. The owner calls every operation from one thread (the UI thread); the engine answers only by
// posting messages to the owner's MessageTarget. The threads share the control state (PlayerControl.h).
#pragma once

#include "CSampleRing.h"
#include "CdStream.h"
#include "GaplessJoin.h"
#include "PlayerControl.h"
#include "SamplePipeline.h"
#include "TrackSources.h"

#include "CDiscPilot.h"
#include "Chanterel/CChanterel.h"
#include "Mervane/CProcessProc.h"
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
    // Values of SourceKind() (TrackSources.h).
    static constexpr std::int32_t kSourceWave16 = engine::kSourceWave16;
    static constexpr std::int32_t kSourceWave24 = engine::kSourceWave24;
    static constexpr std::int32_t kSourceDsf = engine::kSourceDsf;
    static constexpr std::int32_t kSourceDsdiff = engine::kSourceDsdiff;
    static constexpr std::int32_t kSourcePcmFile = engine::kSourcePcmFile;
    // Ring shape: 32 768 elements (131 072 bytes) each at DSD64; one block's channel is 1024 elements. The
    // storage holds eight times that, so that DSD512 has as much read-ahead in time.
    static constexpr std::int32_t kRingCapacity = 32768;
    static constexpr std::int32_t kRingStorage = kRingCapacity * 8;
    static constexpr std::int32_t kRingDefaultRead = 4096;
    static constexpr std::int32_t kRingDefaultWrite = 8192;
    static constexpr std::int32_t kBlockElements = kDsdChannelBytes / 4;
    // Silent blocks at DSD64; at DSD128, DSD256 and DSD512 two, four and eight times as many, so they last
    // as long.
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
    // The DSD rate PCM is up-converted to (64, 128, 256 or 512; anything else is 64), instead of DsdRate.
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

    // Moves within the current track to ms. While playing (or starting): the audio queued before the
    // move plays out, fades out (3 ms, as at a Pause) and the track goes on from ms with a fade-in, with
    // no silence between; LastReportedMs is ms at once, and the output posts WM_PLAYER_POSITION (ms) when
    // it reaches the new place, reporting on from there. While paused or stopped: the track is selected
    // at ms for the next Play, and the position (ms) is posted at once. Returns 1,
    // or 0 without a source, when ms is not inside the track (at or past its end), or when the playback
    // is already ending (a Pause, the track's end) — the position is then unchanged. Any time a Pause
    // may be called; does not block on the output.
    int Seek(std::uint32_t ms);
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
    std::int32_t Playing() const { return Read(&PlayerControl::playing); }
    // Play has started the reader and the output has not begun yet (Playing still 0). Any thread.
    bool StartIsPending() const {
        std::lock_guard lock(control_.mutex);
        return control_.playing == 0 && control_.readerRun;
    }
    bool SourceOpen() const { return Read(&PlayerControl::sourceOpen); }
    bool IsCD() const { return Read(&PlayerControl::isCD); }
    std::uint32_t CurrentTrack() const { return Read(&PlayerControl::currentTrack); }
    std::int32_t SourceKind() const noexcept { return control_.sourceKind.load(); }
    std::uint32_t LastReportedMs() const noexcept { return control_.lastReportedMs.load(); }
    // Where in the current track playback is, exact to the block it last wrote (11.6 ms at DSD64), as
    // against LastReportedMs's once a second; the place selected while nothing plays. Any thread.
    std::uint32_t PositionMs() const noexcept { return control_.heardMs.load(); }
    // 0 off, 1 repeat the current track, 2 repeat all; the window writes it directly. The output follows
    // the mode it finds when it reaches a track's end.
    std::int32_t RepeatMode() const noexcept { return control_.repeatMode.load(); }
    void SetRepeatMode(std::int32_t mode) {
        std::lock_guard lock(control_.mutex);
        control_.repeatMode = mode;
    }
    float CurrentLevel() const noexcept { return currentLevel_.load(); }
    bool RFMode() const { return Read(&PlayerControl::rfMode); }
    // Whether the last Play started gapless playback.
    bool Gapless() const { return Read(&PlayerControl::gapless); }
    // The DSD rate of the current track: a DSD file's own, or for PCM the rate asked for (the override,
    // else DsdRate), lowered to the highest the output takes. Any thread.
    DsdRate TrackRate() const { return Read(&PlayerControl::trackRate); }
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

    // What the open disc's CD-Text says: the album's title and performer and each track's (UTF-8; empty
    // where the disc says nothing). Filled by OpenDrive, emptied by CloseDrive; UI thread.
    struct DiscTitles {
        std::string albumTitle;
        std::string albumPerformer;
        std::vector<std::string> trackTitles;     // index track - 1
        std::vector<std::string> trackPerformers; // index track - 1
        // The track's (1-based) title or performer; empty for a track the disc names no text for.
        const std::string& TrackTitle(std::uint32_t track) const noexcept;
        const std::string& TrackPerformer(std::uint32_t track) const noexcept;
    };
    const DiscTitles& DiscText() const noexcept { return discTitles_; }

private:
    // ---- the reader thread (CPlaybackEngineReader.cpp)
    void ReaderThread();
    // Reader thread, a seek taken: opens the sources (or positions the disc) at ms into track, at the
    // run's rate.
    void MoveSource(std::uint32_t track, std::uint32_t ms);
    // Waits until rings 0 and 1 can take a block. False when the thread must quit, or when a stop is
    // requested and mayDrop allows the rest of the chunk to be dropped.
    bool WaitForRoom(bool mayDrop, DsdRate rate);

    // ---- the output thread and the device (CPlaybackEngineOutput.cpp)
    void OutputThread();
    // Opening the device: false, with the failure posted, when it cannot be opened.
    bool OpenOutputDevice(CDSDASIO* device);
    // Writes one block from the rings (or its silence while a device reset is pending).
    void WriteRingBlock(CDSDASIO* device, std::uint8_t* const* channels, bool& resetSeen);
    // Before a start: carries the device on at the track's rate when it runs at another, with the
    // priming silence a device gets when it is opened. False when the device failed to (the window is
    // then told to stop, as at a device reset).
    bool SwitchRate(CDSDASIO* device);
    void WriteSilentBlocks(CDSDASIO* device, int count);
    // Before each block is written: when it crosses the end of the track heard, decides what follows by
    // the repeat mode of this moment, and silences what the reader ran on into past an end that is to
    // repeat.
    void DecideAtTrackEnd(std::uint8_t* const* channels);
    // After each block: the position report, and a track's end (renumbered on, or ended through a drain).
    void PositionCheck();
    // The drain has ended: the next track starts, or playback goes idle.
    void EndOfTrack();
    // A Pause having drained: moves the track number on to the file the reader ran into.
    void CatchUpWithReader();
    // A seek's new position: the track, its played bytes and the ms reported.
    void TakeSeekPosition();
    // The length of the track heard, shortened to where its audio really ended when a PCM file turned
    // out damaged or cut while it played.
    bool PlayingTrackLength(std::uint32_t* ms) const;

    // ---- the UI thread's helpers (CPlaybackEngine.cpp)
    // Opens the file of a track into the sources (the control state untouched): the kind that opened
    // it, or kSourceNone when it can no longer be opened.
    std::int32_t OpenTrackFile(const std::string& path);
    // Whether the device takes the current track's rate; sets RateRefusal when not.
    bool RateTaken(const CDSDASIO* device);
    // Play's last step: honour a pending Pause, or start the reader. Called with the control lock held.
    void StartOrHonourPause();
    // Nothing plays, starts or drains: the output thread waits for a start. Called with the lock held.
    bool IdleLocked() const;
    bool Idle() const;
    void Post(UINT msg, WPARAM wParam, LPARAM lParam);
    // A field of the control state, read under its lock.
    template <class T> T Read(T PlayerControl::*field) const {
        std::lock_guard lock(control_.mutex);
        return control_.*field;
    }
    bool IsDataTrack(std::uint32_t track) const;
    // The first audio track from track on; 0 when none follows.
    std::uint32_t AudioTrackFrom(std::uint32_t track) const;

    PlayerControl control_;
    platform::Thread outputThread_;
    platform::Thread readerThread_;
    CProcessProc outputProcessor_;
    // Rings 0 and 1 carry the channels; the reader writes a block to both, and the output reads a block
    // from both, under ringLock_, so neither ever sees one channel's block without the other's.
    std::array<CSampleRing, 6> rings_;
    std::mutex ringLock_;
    std::unique_ptr<std::array<std::array<std::uint8_t, kDsdChannelBytes>, 6>> workBuffers_;
    std::array<std::uint8_t*, CDSDASIO::kTableEntries> workTable_{};
    platform::MessageTarget* window_ = nullptr;
    UINT driverErrorMessage_ = 0;

    TrackList list_;
    TrackSources sources_;
    // The CD controller. The UI thread opens, positions and closes it; the output thread reads track
    // lengths and positions it at a track end (never while the reader thread reads); the reader thread
    // takes its PCM. Mutable: asking for counts and lengths goes through its non-const members.
    mutable CDiscPilot drive_;
    CdStream cdStream_;
    // Which tracks of the open disc are data (index track - 1): the CD plays its audio tracks only.
    // Written by OpenDrive while nothing plays; read by any thread.
    std::vector<bool> cdDataTracks_;
    DiscTitles discTitles_; // UI thread
    GaplessJoin join_;
    ChunkProducer chunks_;           // reader thread only
    std::uint64_t blocksQueued_ = 0; // reader thread only: blocks queued in this run
    DsdChunkProducer dsdChunks_;     // reader thread only

    // Output thread only.
    std::int64_t devicePosition_ = 0;
    // A track's end was reached: the rest of the run drains unheard in the count, and End of track
    // selects what follows.
    bool trackChangePending_ = false;
    // The repeat mode found when the output reached the end of the track heard; -1 before that. What
    // follows the end is decided by it, not by the mode when the drain is over.
    std::int32_t endRepeatMode_ = -1;
    // What is left in the rings after that end is not to be heard: the next track's start, read before
    // the mode changed to repeat one.
    bool muteToEnd_ = false;
    // Blocks taken from the rings in this run (the reader counts the ones it queued the same way).
    std::uint64_t blocksPlayed_ = 0;
    // Silent blocks: six channel and six work buffers of the DSD silence byte, made by the output thread.
    std::vector<std::array<std::uint8_t, kDsdChannelBytes>> silentBuffers_;
    std::array<std::uint8_t*, CDSDASIO::kTableEntries> silentChannels_{};
    std::array<std::uint8_t*, CDSDASIO::kTableEntries> silentWork_{};

    std::unique_ptr<CChanterel> levelSelector_;
    std::function<std::unique_ptr<CChanterel>()> levelSelectorFactory_;
    // Written by the UI thread; CurrentLevel may be read from any.
    std::atomic<float> currentLevel_{0.0f};

    // Set before Initialize, read by the UI thread.
    std::optional<std::string> driverNameOverride_;
    std::optional<bool> rfModeOverride_;
    std::optional<bool> gaplessOverride_;
    std::optional<DWORD> dsdRateOverride_;
};

} // namespace engine
