// A gapless run: when the reader's source has delivered all its file holds, the next file of the list
// follows inside the same read, through the same up-converter (PCM) or the same DSD stream.
#pragma once

#include "PlayerControl.h"
#include "TrackSources.h"

#include <cstdint>
#include <vector>

namespace engine {

class GaplessJoin {
public:
    // A file's join kind (TrackList::joinKinds): kJoinWave or kJoinPcmFile for a PCM file (by the source
    // that reads it), the sampling rate for a DSD file. Any two PCM files join; DSD files of one rate do.
    static constexpr std::uint32_t kJoinWave = 1;
    static constexpr std::uint32_t kJoinPcmFile = 2;
    static constexpr std::uint32_t JoinClass(std::uint32_t kind) noexcept {
        return kind <= kJoinPcmFile ? kJoinWave : kind;
    }

    GaplessJoin(TrackSources& sources, PlayerControl& control, const TrackList& list);
    GaplessJoin(const GaplessJoin&) = delete;
    GaplessJoin& operator=(const GaplessJoin&) = delete;

    // Reader thread, at the start of a gapless run.
    void StartRun() noexcept { joinFailed_ = false; }

    // The run's PCM: whichever file the sources hold, as packed 24-bit stereo (16-bit WAV samples widened,
    // which the up-converter takes exactly as it takes them at 16 bits), running on into the next file.
    PcmReader& Pcm() noexcept { return pcm_; }
    // The run's DSD: the next file of the list follows in the same source.
    DsdContinuation& Dsd() noexcept { return dsd_; }
    // The run's PCM file source: it decodes on into the next file of the list through the same resampler.
    PcmFileFollower& Follower() noexcept { return follower_; }

    // Reader thread: the source of the reader's track has delivered all it holds. Opens the next file of
    // the list in its place when it joins on (both PCM, or both DSD of one rate, repeat of one track off,
    // no stop requested) and moves the reader's track on; false, with the source left as it is, when it
    // does not.
    bool JoinNextTrack();
    // Reader thread: the next file, when the PCM file source is to decode on into it (both files are read
    // by that source, and the run joins them); else null.
    const char* NextPcmFilePath() const;

private:
    class JoinedPcm final : public PcmReader {
    public:
        explicit JoinedPcm(GaplessJoin& join);
        void ReadPcm(void* buffer, std::uint32_t byteCount) override;

    private:
        // Up to byteCount bytes of whole frames from the file the sources hold; the count that holds audio.
        std::uint32_t ReadFromSource(std::uint8_t* out, std::uint32_t byteCount);
        GaplessJoin& join_;
        std::vector<std::uint8_t> narrow_; // one steady chunk of 16-bit PCM
    };
    class DsdJoin final : public DsdContinuation {
    public:
        explicit DsdJoin(GaplessJoin& join) noexcept : join_(join) {}
        bool Continue() override { return join_.JoinNextTrack(); }

    private:
        GaplessJoin& join_;
    };
    class Follow final : public PcmFileFollower {
    public:
        explicit Follow(GaplessJoin& join) noexcept : join_(join) {}
        const char* NextPath() override { return join_.NextPcmFilePath(); }
        void Followed() override;

    private:
        GaplessJoin& join_;
    };

    // No join now: a stop asks for this file's fade-out, and a track to repeat ends in silence as without
    // gapless play; after a file that could not be opened the run plays out what it has.
    bool Held() const;

    TrackSources& sources_;
    PlayerControl& control_;
    const TrackList& list_;
    JoinedPcm pcm_;
    DsdJoin dsd_;
    Follow follower_;
    bool joinFailed_ = false; // reader thread: the next file could not be opened, no more joins this run
};

} // namespace engine
