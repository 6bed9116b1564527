// The whole playback path: a WAV file (or an audio CD from a virtual drive) through the engine (reader
// thread, fades, up-conversion, rings, output thread) to the "null" driver, which takes blocks at the pace
// of the stream's DSD rate as a DAC would. Playback is therefore real time; what is measured is the processor
// time the process spends per second of audio, and its peak resident memory. Run one case per process for a
// clean memory figure:
//   PlaybackBench --benchmark_filter=PlayWav/16
// The PCM file cases play a FLAC of the same chord (decoded, resampled to 44 100 Hz, then the WAV path):
//   PlaybackBench --benchmark_filter=PlayFlac
// and convert it as "quellwave-cli convert" does (decode, resample, up-convert, no output pacing), as a
// multiple of real time:
//   PlaybackBench --benchmark_filter=ConvertFlac
// The DSD rate cases play the chord as 16-bit WAV up-converted to DSD64, DSD128, DSD256 or DSD512, and a DSF
// file at each rate (its own bytes straight to the device), through the "null" driver clocked at the rate:
//   PlaybackBench --benchmark_filter=PlayAtRate
// The CD cases read a CUE/BIN image through the virtual drive and the CD library (its reader thread,
// overlap correction when the drive does not promise an accurate stream) on top of the WAV path's work:
//   PlaybackBench --benchmark_filter=PlayCd
#include "Zentrafold/Zentrafold.h"
#include "engine/CPcmFileSource.h"
#include "engine/CPlaybackEngine.h"

#include "Platform/MessageTarget.h"
#include "Platform/Process.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using engine::CPcmFileSource;
using engine::CPlaybackEngine;

namespace {

void Put(std::vector<std::uint8_t>& b, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// The chord every case plays (A major: 220, 277.18 and 329.63 Hz) at time t, each note at full scale: its
// sum peaks near 3.
double Chord(double t) {
    return std::sin(2 * M_PI * 220 * t) + std::sin(2 * M_PI * 277.18 * t) + std::sin(2 * M_PI * 329.63 * t);
}

// Plays once per iteration through the engine to the "null" driver until the list ends, and reports the
// processor time per second of audio and the peak memory. configure sets the engine up before it is
// initialised; open opens and selects what plays (false: the case is skipped with notOpened); playing
// checks the engine once it plays (false: skipped with its own message).
template <typename Configure, typename Open, typename Playing>
void PlayToTheEnd(benchmark::State& state, double seconds, Configure configure, Open open,
                  const char* notOpened, Playing playing) {
    double cpu = 0;
    double audio = 0;
    for (auto _ : state) {
        platform::MessageQueue window;
        CPlaybackEngine engine;
        engine.SetDriverNameOverride("null");
        configure(engine);
        engine.Initialize(&window, platform::RegisterMessageName(kLoadDriverErrorName));
        if (!open(engine)) {
            state.SkipWithError(notOpened);
            break;
        }
        const double before = platform::ProcessCpuSeconds();
        if (engine.Play() != 1) {
            state.SkipWithError("the null driver did not open");
            break;
        }
        if (!playing(engine))
            break;
        while (window.Wait().msg != WM_PLAYER_END) {
        }
        cpu += platform::ProcessCpuSeconds() - before;
        audio += seconds;
    }
    state.counters["cpu_ms_per_audio_s"] = audio > 0 ? cpu * 1000 / audio : 0;
    state.counters["cpu_percent_of_one_core"] = audio > 0 ? cpu * 100 / audio : 0;
    state.counters["peak_rss_MiB"] = platform::PeakResidentMiB();
}

// The file cases: one file, opened and selected as track 1.
template <typename Configure, typename Playing>
void PlayFileToTheEnd(benchmark::State& state, const std::string& path, double seconds, Configure configure,
                      Playing playing) {
    PlayToTheEnd(
        state, seconds, configure,
        [&](CPlaybackEngine& engine) {
            return engine.OpenFiles({path}) == 1 && engine.SelectTrack(1, 0) == 1;
        },
        "the benchmark file was not accepted", playing);
    std::remove(path.c_str());
}

void AsItIs(CPlaybackEngine&) {}
bool Plays(CPlaybackEngine&) {
    return true;
}

// A chord at -6 dBFS: music-like material keeps the modulator as busy as real audio would. Written a
// second at a time so that making the file does not raise the peak memory being measured.
std::string WriteChord(int bits, double seconds) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("qw-playback-bench-" + std::to_string(bits) + ".wav"))
            .string();
    const auto frames = static_cast<std::uint32_t>(seconds * 44100);
    const int bytes = bits / 8;
    const auto dataSize =
        static_cast<std::uint32_t>(std::size_t{frames} * 2 * static_cast<std::size_t>(bytes));
    std::vector<std::uint8_t> b{'R', 'I', 'F', 'F'};
    Put(b, 36 + dataSize, 4);
    for (char c : std::string("WAVEfmt "))
        b.push_back(static_cast<std::uint8_t>(c));
    Put(b, 16, 4), Put(b, 1, 2), Put(b, 2, 2), Put(b, 44100, 4);
    Put(b, static_cast<std::uint32_t>(44100 * 2 * bytes), 4),
        Put(b, static_cast<std::uint32_t>(2 * bytes), 2);
    Put(b, static_cast<std::uint32_t>(bits), 2);
    for (char c : std::string("data"))
        b.push_back(static_cast<std::uint8_t>(c));
    Put(b, dataSize, 4);
    std::ofstream out(path, std::ios::binary);
    const double scale = double((1 << (bits - 1)) - 1) * 0.5 / 3;
    for (std::uint32_t n = 0; n < frames; ++n) {
        const auto s =
            static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(Chord(n / 44100.0) * scale)));
        Put(b, s, bytes), Put(b, s, bytes);
        if (b.size() >= 44100 * 6 || n + 1 == frames) {
            out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
            b.clear();
        }
    }
    return path;
}

void PlayWav(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    const double seconds = static_cast<double>(state.range(1));
    PlayFileToTheEnd(state, WriteChord(bits, seconds), seconds, AsItIs, Plays);
}

// The chord as a FLAC file of the given rate and bits, written a second at a time.
std::string WriteChordFlac(int rate, int bits, double seconds) {
    const std::string path =
        (std::filesystem::temp_directory_path() /
         ("qw-playback-bench-" + std::to_string(rate) + "-" + std::to_string(bits) + ".flac"))
            .string();
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_FLAC | (bits == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return {};
    std::vector<double> second(static_cast<std::size_t>(rate) * 2);
    const auto frames = static_cast<long>(seconds * rate);
    for (long done = 0; done < frames;) {
        const long n = std::min<long>(rate, frames - done);
        for (long i = 0; i < n; ++i) {
            const double v = Chord(static_cast<double>(done + i) / rate) * 0.5 / 3;
            second[static_cast<std::size_t>(2 * i)] = second[static_cast<std::size_t>(2 * i + 1)] = v;
        }
        sf_writef_double(file, second.data(), n);
        done += n;
    }
    sf_close(file);
    return path;
}

void PlayFlac(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const int bits = static_cast<int>(state.range(1));
    const double seconds = static_cast<double>(state.range(2));
    PlayFileToTheEnd(state, WriteChordFlac(rate, bits, seconds), seconds, AsItIs, Plays);
}

void ConvertFlac(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const double seconds = static_cast<double>(state.range(1));
    const std::string path = WriteChordFlac(rate, 24, seconds);
    std::vector<std::uint8_t> pcm(512 * 16 * CPcmFileSource::kOutputFrameBytes);
    double audio = 0;
    double cpu = 0;
    for (auto _ : state) {
        const double before = platform::ProcessCpuSeconds();
        CPcmFileSource source;
        if (!source.Open(path.c_str())) {
            state.SkipWithError("the benchmark file was not accepted");
            break;
        }
        source.ReadFrames(pcm.data(), 512);
        ZtfDirectConvertInitialBuffer24(pcm.data());
        while (source.ReadFrames(pcm.data(), 512 * 16) > 0) {
            unsigned char* out = nullptr;
            unsigned int size = 0;
            ZtfDirectConvertBuffer24(pcm.data(), 16, &out, &size);
            benchmark::DoNotOptimize(out);
        }
        cpu += platform::ProcessCpuSeconds() - before;
        audio += seconds;
    }
    std::remove(path.c_str());
    // Against the clock, and against the processor time used (the figure on an otherwise idle core).
    state.counters["x_real_time"] = benchmark::Counter(audio, benchmark::Counter::kIsRate);
    state.counters["x_real_time_per_cpu_s"] = cpu > 0 ? audio / cpu : 0;
}

// A 5-track disc image of the same chord, mapped to V in a registry of its own; the drive's transport and
// accuracy as the case asks.
std::filesystem::path WriteChordDisc(double seconds, bool passThrough, bool accurate) {
    const auto dir = std::filesystem::temp_directory_path() / "qw-playback-bench-cd";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "sys");
    const auto sectors = static_cast<std::uint32_t>(seconds * 75);
    std::ofstream bin(dir / "chord.bin", std::ios::binary);
    std::vector<std::uint8_t> b;
    const double scale = 32767 * 0.5 / 3;
    for (std::uint32_t n = 0; n < sectors * 588; ++n) {
        const auto s =
            static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(Chord(n / 44100.0) * scale)));
        Put(b, s, 2), Put(b, s, 2);
        if (b.size() >= 44100 * 4 || n + 1 == sectors * 588) {
            bin.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
            b.clear();
        }
    }
    std::ofstream cue(dir / "chord.cue");
    cue << "FILE \"chord.bin\" BINARY\n";
    for (std::uint32_t t = 0; t < 5; ++t) {
        const std::uint32_t at = sectors / 5 * t;
        char line[80];
        std::snprintf(line, sizeof line, "  TRACK %02u AUDIO\n    INDEX 01 %02u:%02u:%02u\n", t + 1,
                      at / 4500, at / 75 % 60, at % 75);
        cue << line;
    }
    std::ofstream reg(dir / "machine.reg");
    reg << "Windows Registry Editor Version 5.00\n\n"
        << "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]\n\"V\"=\"image:"
        << (dir / "chord.cue").string()
        << "\"\n\n[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives\\V]\n\"CddaAccurate\"=dword:0000000"
        << (accurate ? 1 : 0) << "\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orva Corporation\\Tarnix\\Corvex]\n"
        << "\"Cdrom_Mode\"=\"" << (passThrough ? "ASPI" : "RAW") << "\"\n";
    return dir;
}

void PlayCd(benchmark::State& state) {
    const bool passThrough = state.range(0) != 0;
    const bool accurate = state.range(1) != 0;
    const double seconds = static_cast<double>(state.range(2));
    const auto dir = WriteChordDisc(seconds, passThrough, accurate);
    setenv("QUELLWAVE_REGISTRY_DIR", dir.c_str(), 1);
    setenv("QUELLWAVE_SYSFS_BLOCK", (dir / "sys").c_str(), 1);
    PlayToTheEnd(
        state, seconds, AsItIs,
        [](CPlaybackEngine& engine) { return engine.OpenDrive('V') == 1 && engine.SelectTrack(1, 0) == 1; },
        "the disc image was not opened", Plays);
    std::filesystem::remove_all(dir);
}

// A DSF file of `seconds` at the rate (64, 128 or 256), holding a modulator-like pattern: what is measured
// is moving the bytes, not what they say. Written a second at a time.
std::string WriteDsf(int rateNumber, double seconds) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("qw-playback-bench-dsd" + std::to_string(rateNumber) + ".dsf"))
                                 .string();
    const std::uint32_t sampleRate = 2822400u / 64u * static_cast<std::uint32_t>(rateNumber);
    const std::uint64_t blocks = static_cast<std::uint64_t>(seconds * sampleRate / 8 / 4096);
    const std::uint64_t data = blocks * 8192;
    std::vector<std::uint8_t> b{'D', 'S', 'D', ' '};
    Put(b, 28, 4), Put(b, 0, 4);
    Put(b, static_cast<std::uint32_t>(92 + data), 4),
        Put(b, static_cast<std::uint32_t>((92 + data) >> 32), 4);
    Put(b, 0, 4), Put(b, 0, 4);
    for (char c : std::string("fmt "))
        b.push_back(static_cast<std::uint8_t>(c));
    Put(b, 52, 4), Put(b, 0, 4), Put(b, 1, 4), Put(b, 0, 4), Put(b, 2, 4), Put(b, 2, 4);
    Put(b, sampleRate, 4), Put(b, 1, 4);
    const std::uint64_t samples = blocks * 4096 * 8;
    Put(b, static_cast<std::uint32_t>(samples), 4), Put(b, static_cast<std::uint32_t>(samples >> 32), 4);
    Put(b, 4096, 4), Put(b, 0, 4);
    for (char c : std::string("data"))
        b.push_back(static_cast<std::uint8_t>(c));
    Put(b, static_cast<std::uint32_t>(12 + data), 4),
        Put(b, static_cast<std::uint32_t>((12 + data) >> 32), 4);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    std::vector<std::uint8_t> block(8192);
    std::uint32_t x = 0x2545F491u;
    for (std::uint64_t n = 0; n < blocks; ++n) {
        for (auto& byte : block) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            byte = static_cast<std::uint8_t>(x);
        }
        out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size()));
    }
    return path;
}

// args: source (0 the WAV chord, 1 a DSF file), rate (64, 128, 256, 512), seconds.
void PlayAtRate(benchmark::State& state) {
    const bool dsf = state.range(0) == 1;
    const int rate = static_cast<int>(state.range(1));
    const double seconds = static_cast<double>(state.range(2));
    PlayFileToTheEnd(
        state, dsf ? WriteDsf(rate, seconds) : WriteChord(16, seconds), seconds,
        [rate](CPlaybackEngine& engine) {
            engine.SetRFModeOverride(true);
            engine.SetDsdRateOverride(static_cast<DWORD>(rate));
        },
        [&state, rate](CPlaybackEngine& engine) {
            if (platform::DsdRateNumber(engine.TrackRate()) == rate)
                return true;
            state.SkipWithError("the track does not play at the rate asked for");
            return false;
        });
}

// A playing case runs once, in real time (the output paces it), and counts the whole process's processor
// time: the engine's threads do the work.
void OnceInRealTime(benchmark::internal::Benchmark* b) {
    b->Iterations(1)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kSecond);
}

BENCHMARK(PlayAtRate)
    ->ArgNames({"dsf", "rate", "seconds"})
    ->Args({0, 64, 10})
    ->Args({0, 128, 10})
    ->Args({0, 256, 10})
    ->Args({0, 512, 10})
    ->Args({1, 64, 10})
    ->Args({1, 128, 10})
    ->Args({1, 256, 10})
    ->Args({1, 512, 10})
    ->Apply(OnceInRealTime);

BENCHMARK(PlayCd)
    ->ArgNames({"passthrough", "accurate", "seconds"})
    ->Args({0, 1, 20})
    ->Args({1, 0, 20})
    ->Apply(OnceInRealTime);

BENCHMARK(PlayWav)->ArgNames({"bits", "seconds"})->Args({16, 20})->Args({24, 20})->Apply(OnceInRealTime);

BENCHMARK(PlayFlac)
    ->ArgNames({"rate", "bits", "seconds"})
    ->Args({96000, 24, 20})
    ->Args({44100, 16, 20})
    ->Apply(OnceInRealTime);

BENCHMARK(ConvertFlac)
    ->ArgNames({"rate", "seconds"})
    ->Args({96000, 60})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
