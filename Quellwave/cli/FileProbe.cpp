#include "FileProbe.h"

#include "engine/CDsdFileSource.h"
#include "engine/CPcmFileSource.h"
#include "engine/CWaveSource.h"

#include "Platform/Text.h"

#include <string_view>
#include <utility>

using engine::CDsdFileSource;
using engine::CPcmFileSource;
using engine::CWaveSource;
using engine::DsdOpenError;
using engine::DsdOpenErrorText;
using engine::PcmOpenError;
using engine::PcmOpenErrorText;
using engine::PcmTags;
using engine::WaveOpenError;
using engine::WaveOpenErrorText;

namespace cli {

namespace {

// A tag value as one token of the info line: in double quotes, with quotes and backslashes escaped and
// control characters shown as spaces.
std::string Quoted(const std::string& value) {
    std::string out = "\"";
    for (const char c : platform::ControlCharactersAsSpaces(value)) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// What a file that no decoder recognises was meant to be, by its name's extension: "FLAC" for a ".flac";
// empty for a name that promises no such format (a WAV, a text file).
std::string PromisedFormat(const std::string& path) {
    static constexpr std::pair<std::string_view, std::string_view> kFormats[] = {
        {".flac", "FLAC"}, {".aiff", "AIFF"}, {".aif", "AIFF"}, {".aifc", "AIFF-C"}, {".caf", "CAF"},
        {".w64", "W64"},   {".rf64", "RF64"}, {".ogg", "Ogg"},  {".oga", "Ogg"},
    };
    for (const auto& [extension, format] : kFormats)
        if (platform::EndsWithAsciiNoCase(path, extension))
            return std::string(format);
    return {};
}

std::string DescribePcm(const CPcmFileSource& pcm) {
    std::string line = pcm.FormatName() + " rate=" + std::to_string(pcm.SampleRate());
    if (pcm.Bits() != 0)
        line += " bits=" + std::to_string(pcm.Bits());
    line += " channels=" + std::to_string(pcm.Channels()) +
            " length_ms=" + (pcm.LengthKnown() ? std::to_string(pcm.LengthMs()) : std::string("unknown"));
    const PcmTags& tags = pcm.Tags();
    if (!tags.title.empty())
        line += " title=" + Quoted(tags.title);
    if (!tags.artist.empty())
        line += " artist=" + Quoted(tags.artist);
    if (!tags.album.empty())
        line += " album=" + Quoted(tags.album);
    return line;
}

} // namespace

FileProbe ProbeFile(const std::string& path) {
    FileProbe probe;
    CWaveSource wave;
    if (wave.Open(path.c_str())) {
        probe.kind = FileProbe::Kind::Wave;
        probe.description = "wav" + std::to_string(wave.BytesPerSample() * 8) +
                            " length_ms=" + std::to_string(wave.LengthMs());
        return probe;
    }
    // DSD files play only with useRFMode = 1, whatever the setting is now: the line says so.
    CDsdFileSource dsd;
    if (dsd.Open(path.c_str(), 1, 1)) {
        probe.kind = FileProbe::Kind::Dsd;
        probe.description = std::string(dsd.IsDsdiff() ? "dsdiff" : "dsf") +
                            " length_ms=" + std::to_string(dsd.LengthMs()) + " rf_mode=required";
        // DSD64 lines stay as they always were; the higher rates say theirs.
        if (dsd.Rate() != platform::DsdRate::kDsd64)
            probe.description += std::string(" rate=") + platform::DsdRateName(dsd.Rate());
        return probe;
    }
    const DsdOpenError dsdError = dsd.LastOpenError();
    if (dsdError != DsdOpenError::NotDsd && dsdError != DsdOpenError::Unreadable) {
        probe.reason = DsdOpenErrorText(dsdError);
        return probe;
    }
    CPcmFileSource pcm;
    if (pcm.Open(path.c_str())) {
        probe.kind = FileProbe::Kind::PcmFile;
        probe.description = DescribePcm(pcm);
        return probe;
    }
    // The reason of the reader the file was meant for: the WAV reader's for a RIFF file it refused and
    // for anything no decoder recognises (a text file is "not RIFF"), the decoder's for the rest (a
    // damaged FLAC, a six-channel WAV).
    const WaveOpenError waveError = wave.LastOpenError();
    const PcmOpenError pcmError = pcm.LastOpenError();
    const bool pcmRefusal = pcmError == PcmOpenError::TooManyChannels ||
                            pcmError == PcmOpenError::RateOutOfRange || pcmError == PcmOpenError::NoAudio;
    const bool riff = waveError != WaveOpenError::NotRiff;
    const std::string promised = PromisedFormat(path);
    if (!riff && pcmError == PcmOpenError::NotRecognised && !promised.empty())
        probe.reason = "not " + promised; // a damaged magic: not "not RIFF" for a file never meant to be one
    else if (pcmRefusal ||
             (!riff && pcmError != PcmOpenError::NotRecognised && pcmError != PcmOpenError::Unreadable))
        probe.reason = PcmOpenErrorText(pcmError);
    else
        probe.reason = WaveOpenErrorText(waveError);
    return probe;
}

} // namespace cli
