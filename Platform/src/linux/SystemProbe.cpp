#include "LinuxSystemProbe.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kPfKthread = 0x00200000; // process flag of kernel threads

// The first line of a small file, trailing white space removed; nothing when it cannot be read.
std::optional<std::string> ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return std::nullopt;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

template <class T> std::optional<T> ParseNumber(std::string_view text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

template <class T> std::optional<T> ReadNumber(const fs::path& file) {
    std::optional<std::string> line = ReadLine(file);
    return line ? ParseNumber<T>(*line) : std::nullopt;
}

// The whole of a file read with one read(2), as /proc files are meant to be read; empty when unreadable.
std::string ReadSmallFile(const std::string& file) {
    std::string text;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    char buffer[1024];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            text.clear();
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > 4096) {
            break;
        }
    }
    ::close(fd);
    return text;
}

// Flags and user time (clock ticks) from the text of /proc/<pid>/stat. The command name (field 2) is in
// parentheses and may itself hold spaces and parentheses, so fields are counted after the last ')'.
bool ParseStat(std::string_view stat, std::uint64_t* flags, std::uint64_t* userTicks) {
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos) {
        return false;
    }
    stat.remove_prefix(close + 1);
    // After the name: state (3), ppid, pgrp, session, tty, tpgid, flags (9), minflt, cminflt, majflt,
    // cmajflt, utime (14).
    std::string_view fields[12];
    std::size_t count = 0;
    while (count < 12) {
        const std::size_t start = stat.find_first_not_of(' ');
        if (start == std::string_view::npos) {
            return false;
        }
        stat.remove_prefix(start);
        const std::size_t end = std::min(stat.find(' '), stat.size());
        fields[count++] = stat.substr(0, end);
        stat.remove_prefix(end);
    }
    std::optional<std::uint64_t> f = ParseNumber<std::uint64_t>(fields[6]);
    std::optional<std::uint64_t> u = ParseNumber<std::uint64_t>(fields[11]);
    if (!f || !u) {
        return false;
    }
    *flags = *f;
    *userTicks = *u;
    return true;
}

// Count of the processors in a list such as "0-3,6,8-9".
DWORD CountCpuList(std::string_view list) {
    DWORD count = 0;
    while (!list.empty()) {
        const std::size_t comma = std::min(list.find(','), list.size());
        std::string_view range = list.substr(0, comma);
        list.remove_prefix(std::min(comma + 1, list.size()));
        const std::size_t dash = range.find('-');
        std::optional<DWORD> first = ParseNumber<DWORD>(range.substr(0, dash));
        std::optional<DWORD> last =
            dash == std::string_view::npos ? first : ParseNumber<DWORD>(range.substr(dash + 1));
        if (!first || !last || *last < *first) {
            return 0;
        }
        count += *last - *first + 1;
    }
    return count;
}

bool IsCpuFolderName(std::string_view name) {
    return name.size() > 3 && name.substr(0, 3) == "cpu" &&
           std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Percent of part in whole, rounded to the nearest.
DWORD Percent(std::uint64_t part, std::uint64_t whole) {
    return static_cast<DWORD>(std::min<std::uint64_t>(100, (part * 100 + whole / 2) / whole));
}

} // namespace

std::unique_ptr<SystemProbe> OpenSystemProbe(SystemProbeFolders folders) {
    return std::make_unique<LinuxSystemProbe>(std::move(folders));
}

LinuxSystemProbe::LinuxSystemProbe(SystemProbeFolders paths) : paths_(std::move(paths)) {
    const long ticks = ::sysconf(_SC_CLK_TCK);
    ticksPerSecond_ = ticks > 0 ? static_cast<std::uint64_t>(ticks) : 100;
}

void LinuxSystemProbe::WalkProcesses(const std::function<bool(DWORD, std::uint64_t)>& visit) {
    DIR* dir = ::opendir(paths_.proc.c_str());
    if (dir == nullptr) {
        return;
    }
    const std::string root = paths_.proc.string() + '/';
    while (const dirent* entry = ::readdir(dir)) {
        std::optional<DWORD> pid = ParseNumber<DWORD>(entry->d_name);
        if (!pid) {
            continue;
        }
        std::uint64_t flags = 0;
        std::uint64_t userTicks = 0;
        if (!ParseStat(ReadSmallFile(root + entry->d_name + "/stat"), &flags, &userTicks) ||
            (flags & kPfKthread) != 0) {
            continue;
        }
        if (!visit(*pid, userTicks * 10'000'000 / ticksPerSecond_)) {
            break;
        }
    }
    ::closedir(dir);
}

DWORD LinuxSystemProbe::CurrentProcessId() {
    return ownPid_ ? *ownPid_ : static_cast<DWORD>(::getpid());
}

DWORD LinuxSystemProbe::ProcessorCount() {
    std::optional<std::string> online = ReadLine(paths_.sys / "devices/system/cpu/online");
    return online ? CountCpuList(*online) : 0;
}

DWORD LinuxSystemProbe::TickCount() {
    if (clock_) {
        return clock_();
    }
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::optional<DWORD> LinuxSystemProbe::MaxProcessorState() {
    const fs::path cpuRoot = paths_.sys / "devices/system/cpu";
    std::optional<DWORD> lowest;
    const auto take = [&](DWORD percent) { lowest = lowest ? std::min(*lowest, percent) : percent; };
    std::error_code error;
    for (fs::directory_iterator it(cpuRoot, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        if (!IsCpuFolderName(it->path().filename().string())) {
            continue;
        }
        std::optional<std::uint64_t> limit =
            ReadNumber<std::uint64_t>(it->path() / "cpufreq/scaling_max_freq");
        std::optional<std::uint64_t> maximum =
            ReadNumber<std::uint64_t>(it->path() / "cpufreq/cpuinfo_max_freq");
        if (limit && maximum && *maximum > 0) {
            take(Percent(*limit, *maximum));
        }
    }
    if (std::optional<DWORD> pstate = ReadNumber<DWORD>(cpuRoot / "intel_pstate/max_perf_pct")) {
        take(std::min<DWORD>(*pstate, 100));
    }
    return lowest;
}

bool LinuxSystemProbe::GetPowerStatus(PowerStatus* status) {
    const fs::path root = paths_.sys / "class/power_supply";
    std::error_code error;
    fs::directory_iterator it(root, error);
    if (error) {
        return false;
    }
    bool externalSeen = false;
    bool externalOnline = false;
    std::vector<DWORD> batteryLevels;
    std::optional<std::string> batteryState;
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const fs::path supply = it->path();
        // Batteries of mice, keyboards and headsets say so in their scope; they do not power the machine.
        if (ReadLine(supply / "scope") == "Device") {
            continue;
        }
        std::optional<std::string> type = ReadLine(supply / "type");
        if (!type) {
            continue;
        }
        if (*type == "Battery") {
            if (ReadLine(supply / "present") == "0") {
                continue;
            }
            std::optional<DWORD> level = ReadNumber<DWORD>(supply / "capacity");
            if (!level) {
                std::optional<std::uint64_t> now = ReadNumber<std::uint64_t>(supply / "energy_now");
                std::optional<std::uint64_t> full = ReadNumber<std::uint64_t>(supply / "energy_full");
                if (!now || !full) {
                    now = ReadNumber<std::uint64_t>(supply / "charge_now");
                    full = ReadNumber<std::uint64_t>(supply / "charge_full");
                }
                if (now && full && *full > 0) {
                    level = Percent(*now, *full);
                }
            }
            if (level) {
                batteryLevels.push_back(std::min<DWORD>(*level, 100));
            }
            if (!batteryState) {
                batteryState = ReadLine(supply / "status");
            }
        } else if (std::optional<DWORD> online = ReadNumber<DWORD>(supply / "online")) {
            externalSeen = true;
            externalOnline = externalOnline || *online != 0;
        }
    }
    PowerStatus result;
    if (!batteryLevels.empty()) {
        DWORD sum = 0;
        for (DWORD level : batteryLevels) {
            sum += level;
        }
        result.BatteryLifePercent = static_cast<BYTE>(sum / batteryLevels.size());
    }
    if (externalSeen) {
        result.ACLineStatus = externalOnline ? 1 : 0;
    } else if (batteryState == "Discharging") {
        result.ACLineStatus = 0;
    } else if (batteryState == "Charging" || batteryState == "Full" || batteryState == "Not charging") {
        result.ACLineStatus = 1;
    }
    *status = result;
    return true;
}

} // namespace platform
