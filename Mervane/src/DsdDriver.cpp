#include "Mervane/DsdDriver.h"

#include "AlsaDriver.h"
#include "DopDriver.h"
#include "DsfDriver.h"
#include "NullDriver.h"
#include "OutputSystem.h"
#include "PcmPreviewDriver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace mervane {

namespace {

constexpr std::string_view kDsfPrefix = "dsf:";
constexpr std::string_view kAlsaPrefix = "alsa:";
constexpr std::string_view kDopPrefix = "dop:";
constexpr std::string_view kPcmPrefix = "pcm:";

void SetError(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
}

struct Registered {
    std::string prefix;
    DsdDriverFactory factory;
};

std::mutex registryMutex;
std::vector<Registered>& RegisteredDrivers() {
    static std::vector<Registered> drivers;
    return drivers;
}

} // namespace

void RegisterDsdDriver(std::string prefix, DsdDriverFactory factory) {
    std::lock_guard lock(registryMutex);
    RegisteredDrivers().push_back({std::move(prefix), std::move(factory)});
}

std::unique_ptr<DsdDriver> OpenDsdDriver(std::string_view name, std::string* error) {
    DsdDriverFactory factory;
    std::string_view rest;
    {
        std::lock_guard lock(registryMutex);
        const auto& drivers = RegisteredDrivers();
        for (auto it = drivers.rbegin(); it != drivers.rend(); ++it) {
            if (name.starts_with(it->prefix)) {
                factory = it->factory;
                rest = name.substr(it->prefix.size());
                break;
            }
        }
    }
    // Called outside the lock: opening may block on I/O.
    if (factory) {
        auto driver = factory(rest, error);
        if (!driver && error && error->empty())
            *error = "the driver \"" + std::string(name) + "\" could not be opened";
        return driver;
    }
    if (name == "null")
        return std::make_unique<NullDriver>();
    if (name == "auto") {
        auto system = AlsaOutputSystem();
        std::string chosen;
        auto driver = OpenAutoDriver(*system, &chosen);
        std::fprintf(stderr, "output \"auto\": playing through %s\n", chosen.c_str());
        return driver;
    }
    if (name.starts_with(kAlsaPrefix))
        return OpenAlsaDriver(name.substr(kAlsaPrefix.size()), error);
    if (name.starts_with(kDopPrefix))
        return OpenDopDriver(name.substr(kDopPrefix.size()), error);
    if (name.starts_with(kPcmPrefix))
        return OpenPcmPreviewDriver(name.substr(kPcmPrefix.size()), error);
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
    return "\"alsa:PCM\" (native DSD to an ALSA device, e.g. alsa:hw:1,0), \"dop:PCM\" (DSD over PCM), "
           "\"pcm:PCM\" "
           "(a PCM preview, e.g. pcm:default), \"auto\" (the first DSD card, else pcm:default, else null), "
           "\"dsf:PATH\" (record the stream as a DSF file) or \"null\" (discard it at the DSD64 rate)";
}

} // namespace mervane
