// The file sources the engine plays a track from (the WAV reader, the DSF/DSDIFF reader and the PCM file
// source), with the kind of source that holds the track and the plain PCM readers over them.
#pragma once

#include "CDsdFileSource.h"
#include "CPcmFileSource.h"
#include "CWaveSource.h"
#include "SamplePipeline.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace engine {

// What holds the current track.
inline constexpr std::int32_t kSourceWave16 = 0;
inline constexpr std::int32_t kSourceWave24 = 1;
inline constexpr std::int32_t kSourceDsf = 2;
inline constexpr std::int32_t kSourceDsdiff = 3;
// Any other PCM file (FLAC, AIFF, another rate...), resampled to 44 100 Hz 24-bit by the PCM source.
inline constexpr std::int32_t kSourcePcmFile = 4;
// None of them opened the file.
inline constexpr std::int32_t kSourceNone = -1;

constexpr bool IsDsdKind(std::int32_t kind) noexcept {
    return kind == kSourceDsf || kind == kSourceDsdiff;
}

// A source fills with zeros what it cannot deliver; a track ends by its elapsed time.
template <class Source> class PlainPcmReader final : public PcmReader {
public:
    explicit PlainPcmReader(Source& source) noexcept : source_(source) {}
    void ReadPcm(void* buffer, std::uint32_t byteCount) override {
        if (!source_.Read(buffer, byteCount) && !source_.IsOpen())
            std::memset(buffer, 0, byteCount);
    }

private:
    Source& source_;
};

// The files of the list and what the engine learnt of each when it opened the list (index track - 1).
// Written by OpenFiles while nothing plays; read by any thread while a run plays.
struct TrackList {
    std::vector<std::string> files;
    std::vector<std::uint32_t> lengthsMs;
    // What decides whether two neighbouring files join in a gapless run (GaplessJoin::JoinClass).
    std::vector<std::uint32_t> joinKinds;
};

// Used by the UI thread while the reader is idle, and by the reader thread while a run plays.
class TrackSources {
public:
    TrackSources() : waveReader_(wave_), pcmReader_(pcm_) {}
    TrackSources(const TrackSources&) = delete;
    TrackSources& operator=(const TrackSources&) = delete;

    CWaveSource& Wave() noexcept { return wave_; }
    CDsdFileSource& Dsd() noexcept { return dsd_; }
    CPcmFileSource& Pcm() noexcept { return pcm_; }
    const CPcmFileSource& Pcm() const noexcept { return pcm_; }

    // Opens a track's file: as a WAV file, else (with rfMode) as a DSF or DSDIFF file, else with the PCM
    // file source. The kind that opened it, or kSourceNone. The WAV file's read position is left as it was.
    std::int32_t Open(const std::string& path, bool rfMode);
    // Opens a DSF or DSDIFF file: its kind, or kSourceNone.
    std::int32_t OpenDsd(const std::string& path);
    void Close() noexcept;
    // Positions the source of that kind at ms into its file, played at rate (a DSD file's own).
    void SeekTo(std::int32_t kind, std::uint32_t ms, platform::DsdRate rate);

    // Milliseconds the source of that kind has delivered of its file.
    std::uint32_t PositionMs(std::int32_t kind) const;

    // The WAV reader and the PCM file source as the chunk producers' readers.
    PcmReader& WaveReader() noexcept { return waveReader_; }
    PcmReader& PcmFileReader() noexcept { return pcmReader_; }

private:
    CWaveSource wave_;
    CDsdFileSource dsd_;
    CPcmFileSource pcm_;
    PlainPcmReader<CWaveSource> waveReader_;
    PlainPcmReader<CPcmFileSource> pcmReader_;
};

} // namespace engine
