// Test situations shared by the DiscPilot suites: a registry of the test's own (both roots in a temporary
// folder), no kernel CD drives, and virtual drives on letters made from CUE/BIN images.
#pragma once

#include "Platform/DriveTable.h"
#include "Platform/Registry.h"
#include "TestKit/DiscImage.h"
#include "TestKit/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace dptest {

// Every fixture gets a fresh folder, so the process-wide virtual drives (one per letter and image path)
// are created anew with the profile the test wrote. The folder is there from the fixture's construction to
// its destruction: members of a derived fixture that read or store settings as they are made or closed use
// it too. A SetUp called again within a test (after TearDown) starts a fresh folder.
class RegistryTest : public ::testing::Test {
protected:
    RegistryTest() { Renew(); }
    void SetUp() override {
        if (setUp_)
            Renew();
        setUp_ = true;
    }

    using Sandbox = testkit::RegistrySandbox;
    static void SetString(platform::HKEY root, const std::string& path, const std::string& name,
                          const std::string& text) {
        Sandbox::SetString(root, path, name, text);
    }
    static void SetDword(platform::HKEY root, const std::string& path, const std::string& name, DWORD value) {
        Sandbox::SetDword(root, path, name, value);
    }

    // The machine-wide DiscPilot key.
    void SetMachineString(const std::string& name, const std::string& text) {
        SetString(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Orva Corporation\\Tarnix\\Corvex", name, text);
    }

    // Maps letter to an image of `sectors` audio sectors (one track) and writes the drive's profile values.
    std::filesystem::path AddVirtualDrive(char letter, std::uint32_t sectors,
                                          const std::string& vendor = {}) {
        const std::string base = std::string("disc") + letter;
        testkit::WriteBytes(dir_ / (base + ".bin"), testkit::BuildFile(7, std::string(sectors, 'a'), 0));
        testkit::WriteText(dir_ / (base + ".cue"), testkit::SheetOf(base + ".bin", {{'a', sectors}}));
        Sandbox::MapImage(letter, dir_ / (base + ".cue"));
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

    std::optional<testkit::RegistrySandbox> sandbox_;
    std::filesystem::path dir_;

private:
    void Renew() {
        sandbox_.reset();
        sandbox_.emplace("discpilot");
        dir_ = sandbox_->Path();
    }
    bool setUp_ = false;
};

} // namespace dptest
