// PCM files of every format the decoder writes (FLAC, AIFF, CAF, W64, RF64, float and
// 32-bit WAV), made with the decoder library itself, holding a sine of a given level and frequency.
#pragma once

#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

namespace testkit {

struct PcmShape {
    int format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
    int rate = 96000;
    int channels = 2;
    double seconds = 1.0;
    double hz = 997.0;
    double amplitude = 0.5;
    long firstFrame = 0; // the tone's phase starts at this frame, so pieces of one tone join exactly
    std::string title, artist, album;
};

// The tone's value at a frame (the right channel of a stereo file is the left one at -6 dB, so the two
// can be told apart).
inline double Tone(const PcmShape& s, long frame, int channel) {
    const double v =
        s.amplitude * std::sin(2.0 * std::numbers::pi * s.hz * static_cast<double>(frame) / s.rate);
    return channel == 0 ? v : v * 0.5;
}

// Writes the file; false when the library refuses the format.
inline bool WritePcm(const std::filesystem::path& path, const PcmShape& s) {
    SF_INFO info{};
    info.samplerate = s.rate;
    info.channels = s.channels;
    info.format = s.format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    if (!s.title.empty())
        sf_set_string(file, SF_STR_TITLE, s.title.c_str());
    if (!s.artist.empty())
        sf_set_string(file, SF_STR_ARTIST, s.artist.c_str());
    if (!s.album.empty())
        sf_set_string(file, SF_STR_ALBUM, s.album.c_str());
    const auto frames = static_cast<long>(std::lround(s.seconds * s.rate));
    std::vector<double> samples(static_cast<std::size_t>(frames * s.channels));
    for (long f = 0; f < frames; ++f)
        for (int c = 0; c < s.channels; ++c)
            samples[static_cast<std::size_t>(f * s.channels + c)] = Tone(s, s.firstFrame + f, c);
    const sf_count_t written = sf_writef_double(file, samples.data(), frames);
    sf_close(file);
    return written == frames;
}

} // namespace testkit
