// Runs the drive check against a drive whose every answer comes from the input: ISRC replies, buffer
// probe reads and their refusals, read-mode switches, and two passes of audio that may or may not agree.
// The check must end (the drive stops answering after a few hundred reads), stay inside its buffers, and
// leave a report whose counters fit what it compared.
#include "ScriptedReader.h"
#include "check/cddaCDriveCheck.h"

#include <cstdlib>
#include <filesystem>
#include <string>

using fuzzdrive::ScriptedReader;
using namespace discpilot;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The check stores what it finds: into a registry of its own, never the user's.
    static std::string registryDir;
    static const bool registry = [] {
        registryDir = "/tmp/qw-fuzz-check-XXXXXX";
        if (::mkdtemp(registryDir.data()) == nullptr ||
            ::setenv("QUELLWAVE_REGISTRY_DIR", registryDir.c_str(), 1) != 0) {
            std::abort();
        }
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(registryDir, ignored);
        });
        return true;
    }();
    (void)registry;
    ScriptedReader reader(data, size);
    if (reader.Toc() != 0) {
        return 0;
    }
    reader.Capabilities();
    CheckReport report;
    cddaCDriveCheck check(reader);
    reader.Running() = 1;
    check.Run(report, 1 + (size > 0 ? data[0] % 90 : 0));
    if (report.bytesCompared < 0 || report.highDiffer > report.bytesCompared ||
        report.largeDiffer > report.highDiffer || report.lowDiffer > report.bytesCompared ||
        report.grade < 0 || report.grade > 10 || (report.success != 0 && report.done == 0)) {
        __builtin_trap();
    }
    reader.Release();
    return 0;
}
