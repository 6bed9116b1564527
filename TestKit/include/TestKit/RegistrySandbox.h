// A test's own registry and kernel drive list: a fresh folder that holds both registry roots and stands
// for /sys/block while the sandbox lives, so tests neither read nor change the user's settings, and
// process-wide state keyed by paths (the virtual drives) starts anew in each one. The variables it sets get
// back the values they had when it ends.
#pragma once

#include "Platform/DriveTable.h"
#include "Platform/Process.h"
#include "Platform/Registry.h"
#include "Platform/Text.h"
#include "TestKit/Bytes.h"
#include "TestKit/Environment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

namespace testkit {

class RegistrySandbox {
public:
    // tag names the folder ("qw-<tag>-<process>-<serial>") so a left-over one tells whose it was.
    explicit RegistrySandbox(const std::string& tag) {
        static std::atomic<int> serial{0};
        dir_ = std::filesystem::temp_directory_path() /
               ("qw-" + tag + "-" + std::to_string(platform::ProcessId()) + "-" + std::to_string(serial++));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "sys");
        environment_.Set("QUELLWAVE_REGISTRY_DIR", dir_.string());
        environment_.Set("QUELLWAVE_SYSFS_BLOCK", (dir_ / "sys").string());
    }
    ~RegistrySandbox() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    const std::filesystem::path& Path() const { return dir_; }

    // Writes one value as an installer or an earlier run would, creating the key.
    static void SetValue(platform::HKEY root, const std::string& path, const std::string& name, DWORD type,
                         const std::vector<BYTE>& data) {
        platform::HKEY key = nullptr;
        ASSERT_EQ(platform::RegCreateKeyEx(root, path, 0, platform::KEY_ALL_ACCESS, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(platform::RegSetValueEx(key, name, type, data.data(), static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
        platform::RegCloseKey(key);
    }
    // A string value: UTF-16LE with its terminating zero, as the registry stores REG_SZ.
    static void SetString(platform::HKEY root, const std::string& path, const std::string& name,
                          const std::string& text) {
        SetValue(root, path, name, platform::REG_SZ, Utf16Le(platform::Utf8ToUtf16(text) + u'\0'));
    }
    static void SetDword(platform::HKEY root, const std::string& path, const std::string& name, DWORD value) {
        SetValue(root, path, name, platform::REG_DWORD,
                 {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)});
    }

    // Gives a drive letter to a CUE image (the mapping under the machine's drive key).
    static void MapImage(char letter, const std::filesystem::path& cue) {
        SetString(platform::HKEY_LOCAL_MACHINE, platform::kDrivesKey, std::string(1, letter),
                  platform::kImagePrefix + cue.string());
    }

private:
    std::filesystem::path dir_;
    EnvironmentGuard environment_;
};

} // namespace testkit
