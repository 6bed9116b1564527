#include "Mervane/DsdDriver.h"

#include "DsfDriver.h"
#include "NullDriver.h"

#include <cerrno>
#include <cstring>

namespace mervane {

namespace {

constexpr std::string_view kDsfPrefix = "dsf:";

void SetError(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
}

} // namespace

std::unique_ptr<DsdDriver> OpenDsdDriver(std::string_view name, std::string* error) {
    if (name == "null")
        return std::make_unique<NullDriver>();
    if (name.starts_with(kDsfPrefix)) {
        const std::string path(name.substr(kDsfPrefix.size()));
        if (path.empty()) {
            SetError(error, "\"dsf:\" needs a file path after the colon");
            return nullptr;
        }
        auto driver = std::make_unique<DsfDriver>();
        if (!driver->Open(path)) {
            SetError(error, "cannot create " + path + ": " + std::strerror(errno));
            return nullptr;
        }
        return driver;
    }
    SetError(error, name.empty() ? std::string("no driver name given")
                                 : "no driver named \"" + std::string(name) + "\"");
    return nullptr;
}

const char* DsdDriverNamesText() noexcept {
    return "\"dsf:PATH\" (record the stream as a DSF file) or \"null\" (discard it at the DSD64 rate)";
}

} // namespace mervane
