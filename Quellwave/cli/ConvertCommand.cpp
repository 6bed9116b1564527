#include "CliSupport.h"
#include "Commands.h"

#include "FileProbe.h"
#include "Mervane/DsfWriter.h"
#include "Platform/DsdRate.h"
#include "Platform/FileIo.h"
#include "Platform/Text.h"
#include "Zentrafold/Zentrafold.h"
#include "Zentrafold/ZentrafoldConverter.h"
#include "engine/CPcmFileSource.h"
#include "engine/CWaveSource.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

using engine::CPcmFileSource;
using engine::CWaveSource;

namespace cli {

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
        const int percent = static_cast<int>(std::min<std::uint64_t>(done * 100 / total_, 100));
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

// Every message names a file: its control characters are shown as spaces, so a name cannot break the
// line or send an escape sequence to the terminal.
int Fail(const std::string& message) {
    std::fprintf(stderr, "quellwave-cli: %s\n", platform::ControlCharactersAsSpaces(message).c_str());
    return 1;
}

using platform::DsdRate;

// The up-converter at the rate asked for, writing DSF blocks: DSD64 through the four C functions, DSD128,
// DSD256 and DSD512 through a converter of that rate, whose units of two, four or eight blocks' worth are
// cut into DSF blocks of 4096 bytes per channel.
class UnitConverter {
public:
    UnitConverter(DsdRate rate, bool is16) : rate_(rate), is16_(is16) {
        if (rate_ != DsdRate::kDsd64) {
            converter_ = std::make_unique<zentrafold::Converter>(static_cast<zentrafold::DsdRate>(rate_));
            converted_.resize(std::size_t{kBlockBytes} * kUnitsPerChunk *
                              static_cast<std::size_t>(platform::DsdRateMultiple(rate_)));
        }
    }
    bool Initial(const std::uint8_t* pcm) {
        if (converter_) {
            converter_->Initial(pcm, Format());
            return true;
        }
        return (is16_ ? ZtfDirectConvertInitialBuffer16(pcm) : ZtfDirectConvertInitialBuffer24(pcm)) == 0;
    }
    // Converts units (at most kUnitsPerChunk) and appends their blocks; empty, or what failed.
    std::string Convert(std::uint8_t* pcm, std::uint32_t units, DsfWriter& writer,
                        const std::string& outPath) {
        const auto writeFailed = [&] { return outPath + ": write failed: " + ErrnoText(errno); };
        if (!converter_) {
            unsigned char* dsd = nullptr;
            unsigned int dsdSize = 0;
            const int result = is16_ ? ZtfDirectConvertBuffer16(pcm, static_cast<int>(units), &dsd, &dsdSize)
                                     : ZtfDirectConvertBuffer24(pcm, static_cast<int>(units), &dsd, &dsdSize);
            if (result != 0 || dsd == nullptr || dsdSize != units * kBlockBytes)
                return "the converter failed";
            for (std::uint32_t b = 0; b < units; ++b)
                if (!writer.WriteBlock(dsd + std::size_t{b} * kBlockBytes))
                    return writeFailed();
            return {};
        }
        converter_->Convert(pcm, static_cast<int>(units), Format(), converted_.data());
        const auto multiple = static_cast<std::size_t>(platform::DsdRateMultiple(rate_));
        const std::size_t channel = std::size_t{DsfWriter::kChannelBlockBytes} * multiple;
        std::vector<std::uint8_t>& block = block_;
        block.resize(kBlockBytes);
        for (std::uint32_t u = 0; u < units; ++u) {
            const std::uint8_t* left = converted_.data() + std::size_t{u} * 2 * channel;
            for (std::size_t k = 0; k < multiple; ++k) {
                std::memcpy(block.data(), left + k * DsfWriter::kChannelBlockBytes,
                            DsfWriter::kChannelBlockBytes);
                std::memcpy(block.data() + DsfWriter::kChannelBlockBytes,
                            left + channel + k * DsfWriter::kChannelBlockBytes,
                            DsfWriter::kChannelBlockBytes);
                if (!writer.WriteBlock(block.data()))
                    return writeFailed();
            }
        }
        return {};
    }

private:
    zentrafold::PcmFormat Format() const noexcept {
        return is16_ ? zentrafold::PcmFormat::kInt16 : zentrafold::PcmFormat::kInt24;
    }
    DsdRate rate_;
    bool is16_;
    std::unique_ptr<zentrafold::Converter> converter_;
    std::vector<std::uint8_t> converted_;
    std::vector<std::uint8_t> block_;
};

// Converts a file of the PCM file source (44 100 Hz packed 24-bit after its resampling) as the WAV path
// does: the first unit primes the converter, then every further unit and one unit of silence after the
// last one become one block each.
int ConvertPcmFile(CPcmFileSource& pcm, const std::string& inPath, const std::string& outPath, DsdRate rate) {
    constexpr std::uint32_t unitBytes = kUnitFrames * CPcmFileSource::kOutputFrameBytes;
    constexpr std::size_t chunkFrames = std::size_t{kUnitFrames} * kUnitsPerChunk;
    TemporaryOutput temporary;
    std::string why;
    if (!temporary.Create(outPath, "convert", &why))
        return Fail(outPath + ": " + why);
    DsfWriter writer;
    if (!writer.Create(temporary.Path(), rate))
        return Fail(outPath + ": cannot create: " + ErrnoText(errno));
    UnitConverter converter(rate, false);
    // No bar for a stream whose length is not known.
    const std::uint64_t expectedFrames =
        pcm.LengthKnown() ? pcm.LengthMs() * CPcmFileSource::kOutputRate / 1000 : 0;
    Progress progress(expectedFrames == 0 ? 0 : expectedFrames / kUnitFrames + 1);
    const auto abandon = [&](const std::string& message) {
        progress.Finish();
        writer.Close();
        temporary.Discard();
        return Fail(message);
    };
    std::vector<std::uint8_t> samples(std::size_t{unitBytes} * kUnitsPerChunk, 0);
    if (pcm.ReadFrames(samples.data(), kUnitFrames) == 0)
        return abandon(inPath + ": no audio could be decoded");
    if (!converter.Initial(samples.data()))
        return abandon("the converter refused its first unit");
    const auto convert = [&](std::uint32_t units) {
        return converter.Convert(samples.data(), units, writer, outPath);
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
    // A stream whose header announces no total ends where it ends: that is no damage.
    if (pcm.EarlyEndMs() != CPcmFileSource::kNoEarlyEnd && pcm.TotalAnnounced())
        std::fprintf(stderr,
                     "quellwave-cli: %s: the audio ends early, at %u ms: the file is damaged or cut\n",
                     platform::ControlCharactersAsSpaces(inPath).c_str(), pcm.EarlyEndMs());
    if (!writer.Sync() || !writer.Close())
        return abandon(outPath + ": write failed: " + ErrnoText(errno));
    if (!temporary.Commit(&why))
        return Fail(outPath + ": " + why);
    return 0;
}

} // namespace

int RunConvert(const std::vector<std::string>& allArgs) {
    // --dsd-rate N (64, 128, 256 or 512) may come anywhere before "--"; the rest are the two operands, and
    // any other option is refused.
    DsdRate rate = DsdRate::kDsd64;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < allArgs.size(); ++i) {
        if (allArgs[i] == "--") {
            rest.insert(rest.end(), allArgs.begin() + static_cast<long>(i), allArgs.end());
            break;
        }
        if (allArgs[i] != "--dsd-rate") {
            rest.push_back(allArgs[i]);
            continue;
        }
        const auto value = i + 1 < allArgs.size() ? platform::ParseInteger<unsigned>(allArgs[i + 1])
                                                  : std::optional<unsigned>();
        const auto parsed = value ? platform::DsdRateFromNumber(*value) : std::nullopt;
        if (!parsed) {
            std::fprintf(stderr, "quellwave-cli convert: --dsd-rate takes 64, 128, 256 or 512\n");
            return 2;
        }
        rate = *parsed;
        ++i;
    }
    std::vector<std::string> args;
    std::string bad;
    if (!TakeOperands(rest, &args, &bad)) {
        std::fprintf(
            stderr,
            "quellwave-cli convert: unknown option \"%s\" (put \"--\" before a path that starts with "
            "'-')\n\n%s",
            bad.c_str(), UsageText());
        return 2;
    }
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
        if (!pcm.Open(inPath.c_str())) {
            const FileProbe probe = ProbeFile(inPath);
            // A DSF or DSDIFF is accepted by the player but holds no PCM to convert.
            const std::string reason =
                probe.kind == FileProbe::Kind::Dsd ? "a DSD file: convert takes PCM files" : probe.reason;
            return Fail(inPath + ": rejected (" + reason + ")");
        }
        return ConvertPcmFile(pcm, inPath, outPath, rate);
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
    if (!writer.Create(temporary.Path(), rate))
        return Fail(outPath + ": cannot create: " + ErrnoText(errno));
    UnitConverter converter(rate, is16);
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
        if (!converter.Initial(pcm.data()))
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
        if (const std::string failure = converter.Convert(pcm.data(), chunkUnits, writer, outPath);
            !failure.empty())
            return abandon(failure);
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

} // namespace cli
