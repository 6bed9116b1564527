// A fuzz target with a planted fault, for the test that the replay driver fails a run in which the target
// crashes: an input whose first byte is 0x80 aborts, as a broken rule in a real target does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0 && data[0] == 0x80)
        std::abort();
    return 0;
}
