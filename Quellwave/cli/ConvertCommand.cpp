#include "CliSupport.h"
#include "Commands.h"

#include "CPcmFileSource.h"
#include "CWaveSource.h"
#include "FileProbe.h"
#include "Mervane/DsfWriter.h"
#include "Platform/FileIo.h"
#include "Zentrafold/Zentrafold.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

constexpr std::uint32_t kUnitFrames = 512;
constexpr std::uint32_t kUnitsPerChunk = 16; // the engine's steady chunk
constexpr std::uint32_t kBlockBytes = DsfWriter::kBlockBytes;

// A one-line bar redrawn in place, only when a person is watching standard error.
class Progress {
public:
    explicit Progress(std::uint64_t total) : total_(total), shown_(platform::StandardErrorIsTerminal()) {}
    void Update(std::uint64_t done) {
        if (!shown_ || total_ == 0)
            return;
        const int percent = static_cast<int>(done * 100 / total_);
        if (percent == lastPercent_)
            return;
        lastPercent_ = percent;
        constexpr int kWidth = 40;
        char bar[kWidth + 1];
        const int filled = percent * kWidth / 100;
        std::memset(bar, '#', static_cast<std::size_t>(filled));
        std::memset(bar + filled, '-', static_cast<std::size_t>(kWidth - filled));
        bar[kWidth] = '\0';
        std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
        std::fflush(stderr);
    }
    void Finish() {
        if (shown_ && lastPercent_ >= 0)
            std::fputc('\n', stderr);
        lastPercent_ = -1;
    }

private:
    std::uint64_t total_;
    bool shown_;
    int lastPercent_ = -1;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "quellwave-cli: %s\n", message.c_str());
    return 1;
}

// Converts a file of the PCM file source (44 100 Hz packed 24-bit after its resampling) as the WAV path
// does: the first unit primes the converter, then every further unit and one unit of silence after the
// last one become one block each.
int ConvertPcmFile(CPcmFileSource& pcm, const std::string& inPath, const std::string& outPath) {
    constexpr std::uint32_t unitBytes = kUnitFrames * CPcmFileSource::kOutputFrameBytes;
    constexpr std::size_t chunkFrames = std::size_t{kUnitFrames} * kUnitsPerChunk;
    TemporaryOutput temporary;
    std::string why;
    if (!temporary.Create(outPath, "convert", &why))
        return Fail(outPath + ": " + why);
    DsfWriter writer;
    if (!writer.Create(temporary.Path()))
        return Fail(outPath + ": cannot create: " + ErrnoText(errno));
    const std::uint64_t expectedFrames = pcm.Frames() * CPcmFileSource::kOutputRate / pcm.SampleRate();
    Progress progress(expectedFrames / kUnitFrames + 1);
    const auto abandon = [&](const std::string& message) {
        progress.Finish();
        writer.Close();
        temporary.Discard();
        return Fail(message);
    };
    std::vector<std::uint8_t> samples(std::size_t{unitBytes} * kUnitsPerChunk, 0);
    if (pcm.ReadFrames(samples.data(), kUnitFrames) == 0)
        return abandon(inPath + ": no audio could be decoded");
    if (ZtfDirectConvertInitialBuffer24(samples.data()) != 0)
        return abandon("the converter refused its first unit");
    const auto convert = [&](std::uint32_t units) {
        unsigned char* dsd = nullptr;
        unsigned int dsdSize = 0;
        if (ZtfDirectConvertBuffer24(samples.data(), static_cast<int>(units), &dsd, &dsdSize) != 0 ||
            dsd == nullptr || dsdSize != units * kBlockBytes)
            return std::string("the converter failed");
        for (std::uint32_t b = 0; b < units; ++b) {
            if (!writer.WriteBlock(dsd + std::size_t{b} * kBlockBytes))
                return outPath + ": write failed: " + ErrnoText(errno);
        }
        return std::string();
    };
    std::uint64_t unitsDone = 0;
    for (bool ended = false; !ended;) {
        const std::size_t got = pcm.ReadFrames(samples.data(), chunkFrames);
        auto units = static_cast<std::uint32_t>((got + kUnitFrames - 1) / kUnitFrames);
        bool extraSilentUnit = false;
        if (got < chunkFrames) {
            // The input is over: one unit of silence pushes its last unit out of the converter.
            ended = true;
            if (units < kUnitsPerChunk)
                ++units;
            else
                extraSilentUnit = true;
        }
        if (const std::string failure = convert(units); !failure.empty())
            return abandon(failure);
        if (extraSilentUnit) {
            std::fill(samples.begin(), samples.end(), 0);
            if (const std::string failure = convert(1); !failure.empty())
                return abandon(failure);
        }
        unitsDone += units;
        progress.Update(unitsDone);
    }
    progress.Finish();
    if (pcm.EarlyEndMs() != CPcmFileSource::kNoEarlyEnd)
        std::fprintf(stderr,
                     "quellwave-cli: %s: the audio ends early, at %u ms: the file is damaged or cut\n",
                     inPath.c_str(), pcm.EarlyEndMs());
    if (!writer.Sync() || !writer.Close())
        return abandon(outPath + ": write failed: " + ErrnoText(errno));
    if (!temporary.Commit(&why))
        return Fail(outPath + ": " + why);
    return 0;
}

} // namespace

int RunConvert(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        std::fputs(UsageText(), stderr);
        return 2;
    }
    const std::string& inPath = args[0];
    const std::string& outPath = args[1];
    // Creating the output truncates it: never let that destroy the input.
    if (SameFile(inPath, outPath))
        return Fail(outPath + ": is the input file");

    CWaveSource wave;
    if (!wave.Open(inPath.c_str())) {
        CPcmFileSource pcm;
        if (!pcm.Open(inPath.c_str()))
            return Fail(inPath + ": rejected (" + ProbeFile(inPath).reason + ")");
        return ConvertPcmFile(pcm, inPath, outPath);
    }
    const std::uint32_t bytesPerSample = wave.BytesPerSample();
    const bool is16 = bytesPerSample == 2;
    const std::uint32_t unitBytes = kUnitFrames * 2 * bytesPerSample;

    // The reader counts only the data the file holds, whatever its header declares.
    const std::uint64_t available = wave.DataSize();
    const std::uint64_t units = (available + unitBytes - 1) / unitBytes;

    if (!wave.Seek(0))
        return Fail(inPath + ": cannot seek to the samples");
    // The DSF is written beside the target and renamed over it only when complete and on the disk: a
    // failure or an interruption leaves an existing target as it was.
    TemporaryOutput temporary;
    std::string why;
    if (!temporary.Create(outPath, "convert", &why))
        return Fail(outPath + ": " + why);
    DsfWriter writer;
    if (!writer.Create(temporary.Path()))
        return Fail(outPath + ": cannot create: " + ErrnoText(errno));
    Progress progress(units);
    const auto abandon = [&](const std::string& message) {
        progress.Finish();
        writer.Close();
        temporary.Discard();
        return Fail(message);
    };

    // The converter's output lags its input by just under one unit: the Initial call takes the first unit
    // and yields nothing, the first Buffer call's block carries those first frames, and one extra unit of
    // silence after the input pushes out the last input unit. So the DSF holds the whole input, one block
    // per input unit, the last unit padded with silence.
    std::vector<std::uint8_t> pcm(static_cast<std::size_t>(unitBytes) * kUnitsPerChunk, 0);
    std::uint64_t bytesDone = 0;
    if (units > 0) {
        const auto firstBytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(unitBytes, available));
        if (!wave.Read(pcm.data(), firstBytes))
            return abandon(inPath + ": read failed at the start of the samples");
        bytesDone = firstBytes;
        if ((is16 ? ZtfDirectConvertInitialBuffer16(pcm.data())
                  : ZtfDirectConvertInitialBuffer24(pcm.data())) != 0)
            return abandon("the converter refused its first unit");
    }

    std::uint64_t unitsDone = 0; // Buffer units converted: input units 1 .. units-1, then the silent one
    while (unitsDone < units) {
        const auto chunkUnits =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(kUnitsPerChunk, units - unitsDone));
        const auto chunkBytes = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(std::uint64_t{chunkUnits} * unitBytes, available - bytesDone));
        std::fill(pcm.begin(), pcm.end(), 0);
        if (chunkBytes > 0 && !wave.Read(pcm.data(), chunkBytes))
            return abandon(inPath + ": read failed at byte " + std::to_string(bytesDone) + " of the samples");
        unsigned char* dsd = nullptr;
        unsigned int dsdSize = 0;
        const int result =
            is16 ? ZtfDirectConvertBuffer16(pcm.data(), static_cast<int>(chunkUnits), &dsd, &dsdSize)
                 : ZtfDirectConvertBuffer24(pcm.data(), static_cast<int>(chunkUnits), &dsd, &dsdSize);
        if (result != 0 || dsd == nullptr || dsdSize != chunkUnits * kBlockBytes)
            return abandon("the converter failed");
        for (std::uint32_t b = 0; b < chunkUnits; ++b) {
            if (!writer.WriteBlock(dsd + std::size_t{b} * kBlockBytes))
                return abandon(outPath + ": write failed: " + ErrnoText(errno));
        }
        unitsDone += chunkUnits;
        bytesDone += chunkBytes;
        progress.Update(unitsDone);
    }
    progress.Finish();
    if (!writer.Sync())
        return abandon(outPath + ": write failed: " + ErrnoText(errno));
    if (!writer.Close())
        return abandon(outPath + ": write failed: " + ErrnoText(errno));
    if (!temporary.Commit(&why))
        return Fail(outPath + ": " + why);
    return 0;
}
