// Environment variables set (or removed) for as long as a test needs them: the value each had before
// comes back when the guard ends, so one test's registry folder or ALSA configuration never reaches the
// next one.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testkit {

class EnvironmentGuard {
public:
    EnvironmentGuard() = default;
    // Sets name to value at once.
    EnvironmentGuard(const std::string& name, const std::string& value) { Set(name, value); }
    ~EnvironmentGuard();
    EnvironmentGuard(const EnvironmentGuard&) = delete;
    EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

    void Set(const std::string& name, const std::string& value);
    void Unset(const std::string& name);

private:
    void Remember(const std::string& name);
    // In the order first changed; restored in reverse.
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace testkit
