// Test situations shared by the DiscPilot suites: a registry of the test's own (both roots in a temporary
// folder), no kernel CD drives, and virtual drives on letters made from CUE/BIN images.
#pragma once

#include "DiscImageBuilder.h"
#include "Platform/DriveTable.h"
#include "Platform/Process.h"
#include "Platform/Registry.h"
#include "Platform/Text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace dptest {

// Every fixture gets a fresh folder, so the process-wide virtual drives (one per letter and image path)
// are created anew with the profile the test wrote.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> serial{0};
        dir_ = std::filesystem::temp_directory_path() /
               ("qw-discpilot-" + std::to_string(platform::ProcessId()) + "-" + std::to_string(serial++));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "sys");
        ASSERT_EQ(setenv("QUELLWAVE_REGISTRY_DIR", dir_.c_str(), 1), 0);
        ASSERT_EQ(setenv("QUELLWAVE_SYSFS_BLOCK", (dir_ / "sys").c_str(), 1), 0);
    }
    void TearDown() override {
        unsetenv("QUELLWAVE_REGISTRY_DIR");
        unsetenv("QUELLWAVE_SYSFS_BLOCK");
        std::filesystem::remove_all(dir_);
    }

    static void SetString(platform::HKEY root, const std::string& path, const std::string& name,
                          const std::string& text) {
        platform::HKEY key = nullptr;
        ASSERT_EQ(platform::RegCreateKeyEx(root, path, 0, platform::KEY_ALL_ACCESS, &key, nullptr),
                  ERROR_SUCCESS);
        const std::u16string units = platform::Utf8ToUtf16(text);
        std::string bytes;
        for (char16_t u : units) {
            bytes.push_back(static_cast<char>(u & 0xFF));
            bytes.push_back(static_cast<char>(u >> 8));
        }
        bytes.append(2, '\0');
        ASSERT_EQ(platform::RegSetValueEx(key, name, platform::REG_SZ,
                                          reinterpret_cast<const BYTE*>(bytes.data()),
                                          static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        platform::RegCloseKey(key);
    }

    static void SetDword(platform::HKEY root, const std::string& path, const std::string& name, DWORD value) {
        platform::HKEY key = nullptr;
        ASSERT_EQ(platform::RegCreateKeyEx(root, path, 0, platform::KEY_ALL_ACCESS, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(
            platform::RegSetValueEx(key, name, platform::REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4),
            ERROR_SUCCESS);
        platform::RegCloseKey(key);
    }

    // The machine-wide DiscPilot key.
    void SetMachineString(const std::string& name, const std::string& text) {
        SetString(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Orva Corporation\\Tarnix\\Corvex", name, text);
    }

    // Maps letter to an image of `sectors` audio sectors (one track) and writes the drive's profile values.
    std::filesystem::path AddVirtualDrive(char letter, std::uint32_t sectors,
                                          const std::string& vendor = {}) {
        const std::string base = std::string("disc") + letter;
        disctest::WriteBytes(dir_ / (base + ".bin"), disctest::BuildFile(7, std::string(sectors, 'a'), 0));
        disctest::WriteText(dir_ / (base + ".cue"),
                            "FILE \"" + base + ".bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
        SetString(platform::HKEY_LOCAL_MACHINE, platform::kDrivesKey, std::string(1, letter),
                  "image:" + (dir_ / (base + ".cue")).string());
        if (!vendor.empty()) {
            SetProfile(letter, "Vendor", vendor);
        }
        return dir_ / (base + ".bin");
    }

    void SetProfile(char letter, const std::string& name, const std::string& text) {
        SetString(platform::HKEY_LOCAL_MACHINE, std::string(platform::kDrivesKey) + "\\" + letter, name,
                  text);
    }
    void SetProfile(char letter, const std::string& name, DWORD value) {
        SetDword(platform::HKEY_LOCAL_MACHINE, std::string(platform::kDrivesKey) + "\\" + letter, name,
                 value);
    }

    std::filesystem::path dir_;
};

} // namespace dptest
