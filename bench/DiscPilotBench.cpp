// Extraction speed of the CD-DA reader: a 10-minute audio image on a virtual drive read through
// CDiscPilot (SetPosition, then GetData in one-second pieces), through the raw transport and through
// pass-through, plainly (an accurate drive) and with overlap correction (an inaccurate one). Reports how
// many times faster than real time the audio arrives and the processor time spent per second of audio.
// The image sits in the page cache after the first pass, so this measures DiscPilot, not a disc.
//   DiscPilotBench [--benchmark_filter=...]
#include "CDiscPilot.h"
#include "Platform/Process.h"
#include "Platform/Registry.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kSectors = 75 * 600; // ten minutes
constexpr std::uint32_t kSectorBytes = 2352;

// The image, the drive mapping and the drive settings, in a folder of the benchmark's own.
const std::filesystem::path& Folder() {
    static const std::filesystem::path dir = [] {
        const auto d = std::filesystem::temp_directory_path() /
                       ("qw-discpilot-bench-" + std::to_string(platform::ProcessId()));
        std::filesystem::create_directories(d);
        std::vector<char> sector(kSectorBytes);
        std::mt19937 random(7);
        std::ofstream bin(d / "bench.bin", std::ios::binary);
        for (std::uint32_t s = 0; s < kSectors; ++s) {
            for (char& b : sector) {
                b = static_cast<char>(random());
            }
            bin.write(sector.data(), static_cast<std::streamsize>(sector.size()));
        }
        std::ofstream(d / "bench.cue")
            << "FILE \"bench.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
        setenv("QUELLWAVE_REGISTRY_DIR", d.c_str(), 1);
        return d;
    }();
    return dir;
}

// Maps a letter to the image with the given transport mode and CD-DA accuracy bit.
void MapDrive(char letter, const char* mode, bool accurate) {
    const auto& dir = Folder();
    std::ofstream(dir / "machine.reg")
        << "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]\n\""
        << letter << "\"=\"image:" << (dir / "bench.cue").string()
        << "\"\n\n[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives\\" << letter
        << "]\n\"CddaAccurate\"=dword:0000000" << (accurate ? 1 : 0)
        << "\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orva Corporation\\Tarnix\\Corvex]\n\"Cdrom_Mode\"=\"" << mode
        << "\"\n";
}

void Extract(benchmark::State& state, char letter, const char* mode, bool accurate) {
    MapDrive(letter, mode, accurate);
    CDiscPilot pilot;
    if (!pilot.SetDrive(static_cast<unsigned char>(letter))) {
        state.SkipWithError("the virtual drive does not open");
        return;
    }
    std::vector<unsigned char> pcm(75 * kSectorBytes);
    double cpu = 0, wall = 0, audio = 0;
    for (auto _ : state) {
        const double cpu0 = platform::ProcessCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        pilot.SetPosition(1, 0);
        for (std::uint32_t s = 0; s < kSectors; s += 75) {
            pilot.GetData(pcm.data(), static_cast<unsigned long>(pcm.size()));
        }
        benchmark::DoNotOptimize(pcm.data());
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu += platform::ProcessCpuSeconds() - cpu0;
        audio += kSectors / 75.0;
    }
    state.counters["x_real_time"] = audio / wall;
    state.counters["cpu_ms_per_audio_s"] = cpu / audio * 1000.0;
}

} // namespace

BENCHMARK_CAPTURE(Extract, RawPlain, 'R', "RAW", true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Extract, RawOverlap, 'S', "RAW", false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Extract, PassThroughPlain, 'T', "ASPI", true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Extract, PassThroughOverlap, 'U', "ASPI", false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(Folder());
    return 0;
}
