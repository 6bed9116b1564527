// The engine's control state: what plays, what was asked, and the hand-overs between the UI thread (which
// calls every engine operation), the reader thread (which makes DSD chunks) and the output thread (which
// writes them to the device). One mutex guards it and one condition variable tells of every change.
#pragma once

#include "Platform/DsdRate.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace engine {

// How the output thread's opening of the driver went; Play waits while it is Opening.
enum class DriverState { Opening, Ready, Failed };

// The contract:
// - A thread changes a field only with `mutex` held (but for the output's two per-block counts,
//   playedBytes and heardMs, see there), and notifies `changed` after a change another thread may wait
//   for. The lock is held for a few instructions, never across a call into another
//   component (a source, the drive, the device) nor across a wait other than on `changed`.
// - A field is read under the lock, with three exceptions, each named on the field:
//   "set while idle": written by the UI thread only while nothing plays; the run's threads read it
//   without the lock while a run plays (the run's start, made under the lock, hands it over).
//   "the output's while a run plays": written, while a run plays, only by the output thread, which reads
//   its own writes without the lock; other threads read it under the lock.
//   The atomics: read without the lock where the reader must not wait for it (the output thread per
//   block, the reader inside a read); still written under the lock.
struct PlayerControl {
    mutable std::mutex mutex;
    std::condition_variable changed;

    // ---- lifetime
    // Initialize has made the engine usable (until Shutdown): Play and Pause do nothing before.
    bool initialized = false;
    // StopThreads asks the reader, then the output thread to end.
    bool readerQuit = false;
    bool outputQuit = false;
    DriverState driver = DriverState::Opening;

    // ---- a run: Play to the end of the output's drain
    // Play has started a run: the reader makes chunks until it has queued the run's final chunk, and
    // clears this before it sets endOfData.
    bool readerRun = false;
    // The output has a start to make and blocks to play; the reader sets it once blocks are queued, the
    // output clears it when it goes idle.
    bool outputRun = false;
    // 1 while the output is playing the run (its lead-in written), else 0. Written by the output thread
    // (and by the UI thread while the threads are stopped).
    std::int32_t playing = 0;
    // Nothing plays, starts or drains. Pause clears it and waits for the output (or a Play that honours
    // the Pause instead of starting) to set it again.
    bool idle = true;
    // Pause, or a track's end: the reader ends the run with the final chunk (the fade-out). Cleared
    // when a run starts.
    bool stopRequest = false;
    // The reader has queued the run's final chunk: once the rings are empty the run is over.
    bool endOfData = false;
    // Whether this run joins the files of the list without a gap (set by Play). Set while idle.
    bool gapless = false;
    // A seek while a run plays: the track heard and the ms into it the UI thread asked for (seekMs -1
    // when none is waiting). The reader takes it at its next chunk: it queues the fade-out, moves the
    // source and goes on with a fade-in, in the same run, and then sets seekAtBlock: the number (from 1)
    // of the run's first block of the moved audio. The output takes the new position when it reaches
    // that block, and clears seeking.
    std::int64_t seekMs = -1;
    std::uint32_t seekTrack = 0;
    std::uint32_t seekToMs = 0;
    std::uint64_t seekAtBlock = 0;

    // ---- what plays
    // A disc or a file list is open, and which. Set while idle.
    bool sourceOpen = false;
    bool isCD = false;
    // DSD files are accepted (read at Initialize and at each OpenFiles). Set while idle.
    bool rfMode = false;
    // The track heard. The output's while a run plays.
    std::uint32_t currentTrack = 0;
    // Bytes (both channels) played of the current track since its start, counted from the offset it was
    // selected at. The output's while a run plays: it adds every block without the lock, as nobody else
    // reads it until the run is over.
    std::uint64_t playedBytes = 0;
    // The DSD rate of the current track. The output's while a run plays (it selects the next track at an
    // end).
    platform::DsdRate trackRate = platform::DsdRate::kDsd64;
    // Why the last Play returned 0 because the output does not take the track's rate; "" when never.
    std::string rateRefusal;

    // ---- read without the lock
    // 0 off, 1 repeat the current track, 2 repeat all. Written by the UI thread at any time; read by the
    // output thread at a track's end and by the reader where its source ends, neither of which may wait.
    std::atomic<std::int32_t> repeatMode{0};
    // The track whose file the sources hold: the current track, or in a gapless run a later one the
    // reader has run into. The reader moves it on at a join, inside a read; the output thread compares
    // it with the current track at every block.
    std::atomic<std::uint32_t> readerTrack{0};
    // What the sources hold (CPlaybackEngine::kSource...). A gapless join changes it inside the reader's
    // read; the output thread reads it at every block for the track's length.
    std::atomic<std::int32_t> sourceKind{0};
    // From a seek's request until the output has taken the new position: the output counts no played
    // bytes and ends no track meanwhile (what it plays is the audio before the seek). The output reads it
    // at every block.
    std::atomic<bool> seeking{false};
    // The ms last reported of the current track (0: none yet). The output compares it with the time
    // played at every block; a seek sets it to the new place while the run plays.
    std::atomic<std::uint32_t> lastReportedMs{0};
    // Where in the current track the listener is, in ms, to the block: the output stores it after every
    // block without the lock, for a window that shows the position smoothly (any thread reads it).
    std::atomic<std::uint32_t> heardMs{0};
};

} // namespace engine
