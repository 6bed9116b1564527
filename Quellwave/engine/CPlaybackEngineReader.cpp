// The engine's reader thread: it turns the current source into DSD chunks (faded and up-converted PCM, or
// a DSD file's own blocks) and queues them block by block in the channel rings.
#include "CPlaybackEngine.h"

#include <chrono>
#include <thread>

namespace engine {

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(10);

// The sample size PCM is read at: a CD's 16 bits, else 24 for a 24-bit WAV, any other PCM file and every
// gapless run, 16 for a 16-bit WAV.
std::uint32_t PcmBytesPerSample(bool cd, std::int32_t kind, bool joining) noexcept {
    return !cd && (kind == kSourceWave24 || kind == kSourcePcmFile || joining) ? 3 : 2;
}
} // namespace

bool CPlaybackEngine::WaitForRoom(bool mayDrop, DsdRate rate) {
    // The rings hold about 0.37 s at every rate: at DSD64 a quarter of their storage, counted as a ring of
    // that size counts its free elements (its one always-empty slot among them).
    const std::int32_t capacity = kRingCapacity * platform::DsdRateMultiple(rate);
    const auto hasRoom = [this, capacity] {
        for (int c = 0; c < 2; ++c) {
            const CSampleRing& ring = rings_[static_cast<std::size_t>(c)];
            if (!ring.Allocated() || !(ring.Empty() || capacity - ring.Readable() > kBlockElements))
                return false;
        }
        return true;
    };
    while (!hasRoom()) {
        {
            std::lock_guard lock(control_.mutex);
            // Without this the engine could never be shut down while the output is not draining the rings.
            if (control_.readerQuit)
                return false;
            if (control_.playing == 0) {
                // The rings are full before the output has started: wake it. It first writes its silent
                // lead-in, so poll rather than spin while it does.
                control_.outputRun = true;
                control_.changed.notify_all();
            } else if (control_.stopRequest && mayDrop) {
                // A seek lets the chunk in hand finish instead: its final chunk then goes on from the
                // last frame queued, so the fade-out starts where the sound is, with no jump before it.
                return false;
            }
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

void CPlaybackEngine::MoveSource(std::uint32_t track, std::uint32_t ms) {
    if (control_.isCD) {
        cdStream_.Start(track, ms);
        drive_.SetPosition(track, ms);
    } else if (track >= 1 && track <= list_.files.size()) {
        // The reader may have run on into a later file of a gapless run: the track heard is reopened. The
        // run keeps its rate (the same file's own, or the rate PCM plays at in this run).
        sources_.Close();
        const std::int32_t kind = OpenTrackFile(list_.files[track - 1]);
        if (kind != kSourceNone) {
            sources_.SeekTo(kind, ms, Read(&PlayerControl::trackRate));
            std::lock_guard lock(control_.mutex);
            control_.sourceKind = kind;
        }
    }
    std::lock_guard lock(control_.mutex);
    control_.readerTrack = track;
}

void CPlaybackEngine::ReaderThread() {
    bool first = true;
    bool last = false;
    bool joining = false; // this run is gapless: files follow one another inside its chunks
    bool runStart = true; // the next wake starts a run (a seek's fade-in goes on in the same run)
    bool resume = false;  // the first chunk goes on from a seek's fade-out in the converter's stream
    for (;;) {
        bool cd = false;
        bool stop = false;
        bool seek = false;
        std::uint32_t seekTrack = 0;
        std::uint32_t seekMs = 0;
        bool gapless = false;
        DsdRate rate = DsdRate::kDsd64;
        {
            std::unique_lock lock(control_.mutex);
            control_.changed.wait(lock, [this] { return control_.readerQuit || control_.readerRun; });
            if (control_.readerQuit)
                return;
            // The source kind and rate are set with the track, before the run that woke this thread. A CD
            // is always 16-bit PCM, whatever the kind says.
            cd = control_.isCD;
            stop = control_.stopRequest;
            gapless = control_.gapless;
            rate = control_.trackRate;
            if (control_.seekMs >= 0) {
                seek = true;
                seekTrack = control_.seekTrack;
                seekMs = static_cast<std::uint32_t>(control_.seekMs);
                control_.seekMs = -1;
            }
        }
        if (runStart) {
            blocksQueued_ = 0;
            runStart = false;
        }
        if (seek && first) {
            // Nothing of this run is queued yet: it simply starts at the new place.
            MoveSource(seekTrack, seekMs);
            std::lock_guard lock(control_.mutex);
            control_.seekAtBlock = blocksQueued_ + 1;
            seek = false;
        }
        if (first) {
            joining = !cd && gapless;
            if (joining)
                join_.StartRun();
            // The UI thread leaves the PCM file source alone while a run plays.
            sources_.Pcm().SetFollower(joining ? &join_.Follower() : nullptr);
        }
        // In a gapless run a join may change the kind, but only between files of one kind of run: PCM,
        // always read as 24-bit, or DSD.
        const std::int32_t kind = control_.sourceKind;
        const bool dsd = !cd && IsDsdKind(kind);
        const bool pcmFile = !cd && kind == kSourcePcmFile;
        const std::uint32_t bytesPerSample = PcmBytesPerSample(cd, kind, joining);
        PcmReader& pcm = cd        ? static_cast<PcmReader&>(cdStream_)
                         : joining ? join_.Pcm()
                         : pcmFile ? sources_.PcmFileReader()
                                   : sources_.WaveReader();
        CDsdFileSource& dsdSource = sources_.Dsd();
        DsdChunk chunk;
        if (first) {
            if (dsd)
                chunk = joining ? dsdChunks_.FirstChunk(dsdSource, join_.Dsd(), rate)
                                : dsdChunks_.FirstChunk(dsdSource, rate);
            else if (resume)
                chunk = chunks_.ResumeChunk(pcm, bytesPerSample, rate);
            else
                chunk = chunks_.FirstChunk(pcm, bytesPerSample, rate);
            first = false;
            resume = false;
        } else if (stop || seek) {
            // A seek ends what is queued as a stop does, and goes on with a first chunk at the new place;
            // PCM fades out and in again through one running converter.
            if (dsd)
                chunk = dsdChunks_.FinalChunk(rate);
            else if (stop)
                chunk = chunks_.FinalChunk(pcm, bytesPerSample, rate);
            else
                chunk = chunks_.SeekOutChunk(pcm, bytesPerSample, rate);
            last = stop;
        } else if (dsd) {
            chunk = joining ? dsdChunks_.NextChunk(dsdSource, join_.Dsd(), rate)
                            : dsdChunks_.NextChunk(dsdSource, rate);
        } else {
            chunk = chunks_.NextChunk(pcm, bytesPerSample, rate);
        }

        const std::uint32_t blocks = chunk.data ? chunk.size / kDsdBlockBytes : 0;
        for (std::uint32_t b = 0; b < blocks; ++b) {
            // The rest of a chunk is dropped when a stop is requested, but never the final chunk's: it
            // carries the fade-out and the silence after it, and the output is draining to make room.
            if (!WaitForRoom(!last && !seek, rate))
                break;
            const auto* block =
                reinterpret_cast<const CSampleRing::Element*>(chunk.data + b * kDsdBlockBytes);
            std::lock_guard lock(ringLock_);
            rings_[0].Write(block, kBlockElements);
            rings_[1].Write(block + kBlockElements, kBlockElements);
            ++blocksQueued_;
        }
        // The first blocks of a resumed chunk still hold the silence the fade-out ended in: the new place
        // begins after them.
        std::uint32_t leadBlocks = 0;
        if (seek) {
            MoveSource(seekTrack, seekMs);
            first = true;
            resume = !dsd && !stop;
            if (resume) {
                const std::int32_t next = control_.sourceKind;
                if (cd || !IsDsdKind(next))
                    leadBlocks = chunks_.ResumeLeadBlocks(PcmBytesPerSample(cd, next, joining), rate);
            }
        }
        std::lock_guard lock(control_.mutex);
        if (seek)
            control_.seekAtBlock = blocksQueued_ + 1 + leadBlocks;
        if (control_.playing == 0) {
            control_.outputRun = true;
            control_.changed.notify_all();
        }
        if (last) {
            // The run ends before the end of data is announced: the output thread may run End of track
            // and Play (which starts a run again) as soon as it sees the end, and that Play must not be
            // undone here.
            control_.readerRun = false;
            control_.endOfData = true;
            control_.changed.notify_all();
            first = true;
            last = false;
            runStart = true;
        }
    }
}

} // namespace engine
