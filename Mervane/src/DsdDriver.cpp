#include "Mervane/DsdDriver.h"

#include "AlsaDriver.h"
#include "DopDriver.h"
#include "DsfDriver.h"
#include "NullDriver.h"
#include "OutputSystem.h"
#include "PcmPreviewDriver.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mervane {

namespace {

void SetError(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
}

struct Registered {
    std::string prefix;
    DsdDriverRateFactory factory;
};

std::mutex registryMutex;
std::vector<Registered>& RegisteredDrivers() {
    static std::vector<Registered> drivers;
    return drivers;
}

std::unique_ptr<DsdDriver> OpenAuto(std::string_view, std::string* error, DsdRate rate) {
    auto system = AlsaOutputSystem();
    std::string chosen;
    auto driver = OpenAutoDriver(*system, &chosen, rate, error);
    if (driver)
        std::fprintf(stderr, "output \"auto\": playing through %s\n", chosen.c_str());
    return driver;
}

std::unique_ptr<DsdDriver> OpenNull(std::string_view, std::string*, DsdRate rate) {
    return std::make_unique<NullDriver>(rate);
}

std::unique_ptr<DsdDriver> OpenDsf(std::string_view rest, std::string* error, DsdRate rate) {
    const std::string path(rest);
    if (path.empty()) {
        SetError(error, "\"dsf:\" needs a file path after the colon");
        return nullptr;
    }
    auto driver = std::make_unique<DsfDriver>();
    if (!driver->Open(path, rate)) {
        std::string why = std::strerror(errno);
        if (!why.empty())
            why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
        SetError(error, "cannot record to " + path + ": " + why);
        return nullptr;
    }
    return driver;
}

// The drivers built in: a name that ends in ':' is a prefix (what follows goes to the opener), any other is
// the whole name. Their order is the order DsdDriverNamesText lists them in.
struct BuiltInDriver {
    std::string_view name;
    std::unique_ptr<DsdDriver> (*open)(std::string_view rest, std::string* error, DsdRate rate);
    std::string_view shown;       // how the list shows the name
    std::string_view description; // what the list says of it
};
constexpr BuiltInDriver kBuiltInDrivers[] = {
    {"alsa:", OpenAlsaDriver, "alsa:PCM", "native DSD to an ALSA device, e.g. alsa:hw:1,0"},
    {"dop:", OpenDopDriver, "dop:PCM", "DSD over PCM"},
    {"pcm:", OpenPcmPreviewDriver, "pcm:PCM", "a PCM preview, e.g. pcm:default"},
    {"auto", OpenAuto, "auto", "the DSD card taking the highest rate, else pcm:default, else null"},
    {"dsf:", OpenDsf, "dsf:PATH", "record the stream as a DSF file"},
    {"null", OpenNull, "null", "discard the stream at the pace of its DSD rate"},
};

} // namespace

void RegisterDsdDriver(std::string prefix, DsdDriverFactory factory) {
    RegisterDsdDriver(std::move(prefix), DsdDriverRateFactory([factory = std::move(factory)](
                                                                  std::string_view rest, std::string* error,
                                                                  DsdRate) { return factory(rest, error); }));
}

void RegisterDsdDriver(std::string prefix, DsdDriverRateFactory factory) {
    std::lock_guard lock(registryMutex);
    RegisteredDrivers().push_back({std::move(prefix), std::move(factory)});
}

std::unique_ptr<DsdDriver> OpenDsdDriver(std::string_view name, std::string* error, DsdRate rate) {
    DsdDriverRateFactory factory;
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
        auto driver = factory(rest, error, rate);
        if (!driver && error && error->empty())
            *error = "the driver \"" + std::string(name) + "\" could not be opened";
        return driver;
    }
    for (const BuiltInDriver& builtIn : kBuiltInDrivers) {
        const bool prefix = builtIn.name.ends_with(':');
        if (prefix ? name.starts_with(builtIn.name) : name == builtIn.name)
            return builtIn.open(prefix ? name.substr(builtIn.name.size()) : std::string_view{}, error, rate);
    }
    SetError(error, name.empty() ? std::string("no driver name given")
                                 : "no driver named \"" + std::string(name) + "\"");
    return nullptr;
}

DsdRateSet ProbeDsdRates(std::string_view name, std::string* error) {
    {
        std::lock_guard lock(registryMutex);
        for (const Registered& r : RegisteredDrivers())
            if (name.starts_with(r.prefix))
                return platform::kAllDsdRates;
    }
    if (name == "null" || name.starts_with("dsf:"))
        return platform::kAllDsdRates;
    auto system = AlsaOutputSystem();
    if (name == "auto")
        return AutoDriverRates(*system);
    const auto pcmRates = [&](std::string_view pcmName, DsdRateSet (*rates)(PcmDevice&)) -> DsdRateSet {
        if (pcmName.empty()) {
            SetError(error, "no ALSA device name given");
            return 0;
        }
        auto device = system->Open(std::string(pcmName), error);
        return device ? rates(*device) : 0;
    };
    if (name.starts_with("alsa:"))
        return pcmRates(name.substr(5), NativeDsdRates);
    if (name.starts_with("dop:"))
        return pcmRates(name.substr(4), DopRates);
    if (name.starts_with("pcm:"))
        return pcmRates(name.substr(4), [](PcmDevice& d) -> DsdRateSet {
            return ChoosePreviewFormat(d) ? platform::DsdRateBit(DsdRate::kDsd64) : 0;
        });
    SetError(error, name.empty() ? std::string("no driver name given")
                                 : "no driver named \"" + std::string(name) + "\"");
    return 0;
}

const char* DsdDriverNamesText() noexcept {
    static const std::string text = [] {
        std::string list;
        const std::size_t count = std::size(kBuiltInDrivers);
        for (std::size_t i = 0; i < count; ++i) {
            const BuiltInDriver& d = kBuiltInDrivers[i];
            list += i == 0 ? "" : i + 1 == count ? " or " : ", ";
            list += "\"" + std::string(d.shown) + "\" (" + std::string(d.description) + ")";
        }
        return list;
    }();
    return text.c_str();
}

} // namespace mervane
