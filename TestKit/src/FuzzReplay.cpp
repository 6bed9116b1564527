// Runs a fuzz target's entry point without the fuzzing engine, so that every build exercises it: the other
// compiler, the other processor (under the emulator) and the sanitizer builds. It feeds the target every
// file of the seed folders (or files) it is given, then a fixed number of inputs made from them by a
// seeded generator: bits flipped, bytes set to edge values, pieces cut out, repeated or inserted, the input
// cut short, and plain random bytes. The same inputs in every run, on every machine. The target returning
// from each is the pass; a crash or an abort (a broken rule in the target) is the failure.
//
//   TARGET [--inputs N] [--seed S] [SEED_FOLDER_OR_FILE...]
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

using Bytes = std::vector<std::uint8_t>;

// The largest input made: the seeds are small files, and the targets' interesting paths (headers, tables,
// lengths) lie in their first few kilobytes.
constexpr std::size_t kMaxMade = 1 << 16;

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed != 0 ? seed : 0x9E3779B97F4A7C15ULL) {}
    std::uint64_t Next() {
        // xorshift64*
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1DULL;
    }
    // Uniform in [0, n); n > 0.
    std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }

private:
    std::uint64_t state_;
};

bool ReadFile(const std::filesystem::path& path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Every regular file under the argument, in name order so that every run sees the same inputs.
void CollectSeeds(const std::filesystem::path& from, std::vector<std::filesystem::path>& files) {
    std::error_code error;
    if (std::filesystem::is_regular_file(from, error)) {
        files.push_back(from);
        return;
    }
    std::vector<std::filesystem::path> found;
    for (auto it = std::filesystem::recursive_directory_iterator(from, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        if (it->is_regular_file(error))
            found.push_back(it->path());
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
}

// Values that break the arithmetic of lengths, counts and offsets.
constexpr std::uint8_t kEdgeBytes[] = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF};

// One input made from a seed (or from nothing): a few changes of the kinds a parser meets in damaged files.
Bytes Make(Random& random, const Bytes& seed) {
    Bytes input = seed;
    if (input.empty() || random.Below(8) == 0) {
        // Random bytes of a random length, mostly short.
        input.resize(random.Below(random.Below(4) == 0 ? 4096 : 64) + 1);
        for (auto& byte : input)
            byte = static_cast<std::uint8_t>(random.Next() >> 56);
        return input;
    }
    const std::size_t changes = 1 + random.Below(random.Below(4) == 0 ? 16 : 3);
    for (std::size_t c = 0; c < changes && !input.empty(); ++c) {
        const std::size_t at = random.Below(input.size());
        switch (random.Below(7)) {
        case 0: // one bit flipped
            input[at] ^= static_cast<std::uint8_t>(1u << random.Below(8));
            break;
        case 1: // a byte set to an edge value
            input[at] = kEdgeBytes[random.Below(sizeof kEdgeBytes)];
            break;
        case 2: // a random byte
            input[at] = static_cast<std::uint8_t>(random.Next() >> 56);
            break;
        case 3: { // a 32-bit field, either byte order, set to an edge value
            const std::uint32_t values[] = {0,          1,          0x7FFFFFFF,
                                            0x80000000, 0xFFFFFFFF, static_cast<std::uint32_t>(input.size())};
            const std::uint32_t v = values[random.Below(std::size(values))];
            const bool big = random.Below(2) == 0;
            for (std::size_t i = 0; i < 4 && at + i < input.size(); ++i)
                input[at + i] = static_cast<std::uint8_t>(big ? v >> (24 - 8 * i) : v >> (8 * i));
            break;
        }
        case 4: { // a piece cut out
            const std::size_t length = 1 + random.Below(std::min<std::size_t>(input.size() - at, 64));
            input.erase(input.begin() + static_cast<std::ptrdiff_t>(at),
                        input.begin() + static_cast<std::ptrdiff_t>(at + length));
            break;
        }
        case 5: { // a piece repeated in place
            const std::size_t length = 1 + random.Below(std::min<std::size_t>(input.size() - at, 64));
            if (input.size() + length <= kMaxMade) {
                const Bytes piece(input.begin() + static_cast<std::ptrdiff_t>(at),
                                  input.begin() + static_cast<std::ptrdiff_t>(at + length));
                input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), piece.begin(), piece.end());
            }
            break;
        }
        default: // cut short
            input.resize(at);
            break;
        }
    }
    return input;
}

// Gives the target the input in an allocation of its own of the exact size, so that a read past the end is
// a read past the allocation (which the address sanitizer sees).
void Feed(const Bytes& input) {
    const auto copy = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(input.size(), 1));
    if (!input.empty())
        std::memcpy(copy.get(), input.data(), input.size());
    LLVMFuzzerTestOneInput(copy.get(), input.size());
}

} // namespace

int main(int argc, char** argv) {
    long inputs = 2000;
    std::uint64_t seed = 1;
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--inputs" || arg == "--seed") && i + 1 < argc) {
            char* end = nullptr;
            const unsigned long long value = std::strtoull(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0') {
                std::fprintf(stderr, "%s: %s takes a number, not \"%s\"\n", argv[0], arg.c_str(), argv[i]);
                return 2;
            }
            if (arg == "--inputs")
                inputs = static_cast<long>(std::min<unsigned long long>(value, 100000000ULL));
            else
                seed = value;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "usage: %s [--inputs N] [--seed S] [SEED_FOLDER_OR_FILE...]\n", argv[0]);
            return 2;
        } else {
            CollectSeeds(arg, files);
        }
    }
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&argc, &argv);

    std::vector<Bytes> seeds;
    for (const auto& file : files) {
        Bytes bytes;
        if (!ReadFile(file, bytes)) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], file.string().c_str());
            return 2;
        }
        Feed(bytes);
        seeds.push_back(std::move(bytes));
    }
    Feed({});
    Random random(seed);
    const Bytes none;
    for (long n = 0; n < inputs; ++n) {
        const Bytes& from = seeds.empty() ? none : seeds[random.Below(seeds.size())];
        Feed(Make(random, from));
    }
    std::printf("%s: %zu seeds and %ld inputs made from them, every one returned\n",
                std::filesystem::path(argv[0]).filename().c_str(), seeds.size(), inputs);
    return 0;
}
