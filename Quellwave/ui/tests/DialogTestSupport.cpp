#include "DialogTestSupport.h"

#include "TestKit/DiscImage.h"
#include "shell/ResourceModules.h"

#include "Platform/DriveTable.h"
#include "Platform/Registry.h"
#include "Platform/Text.h"

#include <QAbstractButton>

#include <vector>

namespace uitest {

namespace {

platform::HKEY Root(bool user) {
    return user ? platform::HKEY_CURRENT_USER : platform::HKEY_LOCAL_MACHINE;
}

std::optional<std::vector<BYTE>> Get(const std::string& keyPath, const std::string& name, DWORD* type) {
    platform::HKEY key = nullptr;
    if (platform::RegOpenKeyEx(platform::HKEY_CURRENT_USER, keyPath, platform::KEY_READ, &key) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::vector<BYTE> data(4096);
    DWORD size = static_cast<DWORD>(data.size());
    const LONG result = platform::RegQueryValueEx(key, name, type, data.data(), &size);
    platform::RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return std::nullopt;
    data.resize(size);
    return data;
}

} // namespace

void DialogTest::SetUp() {
    sandbox_.emplace("dialogs");
    dir_ = sandbox_->Path();
    static const bool loaded = TheResources().LoadResourceModule(kStringResourceModule, QW_PROGRAM_DIR);
    ASSERT_TRUE(loaded) << "the built resource module is beside the program";
}

void DialogTest::TearDown() {
    sandbox_.reset();
}

void DialogTest::PutDword(bool user, const std::string& keyPath, const std::string& name, DWORD value) {
    testkit::RegistrySandbox::SetDword(Root(user), keyPath, name, value);
}

void DialogTest::PutString(bool user, const std::string& keyPath, const std::string& name,
                           const std::string& text) {
    testkit::RegistrySandbox::SetString(Root(user), keyPath, name, text);
}

std::optional<DWORD> DialogTest::UserDword(const std::string& keyPath, const std::string& name) {
    DWORD type = 0;
    const auto data = Get(keyPath, name, &type);
    if (!data || type != platform::REG_DWORD || data->size() != 4)
        return std::nullopt;
    return DWORD((*data)[0]) | DWORD((*data)[1]) << 8 | DWORD((*data)[2]) << 16 | DWORD((*data)[3]) << 24;
}

std::optional<std::string> DialogTest::UserString(const std::string& keyPath, const std::string& name) {
    DWORD type = 0;
    const auto data = Get(keyPath, name, &type);
    if (!data || type != platform::REG_SZ)
        return std::nullopt;
    std::u16string units;
    for (std::size_t i = 0; i + 1 < data->size(); i += 2) {
        const char16_t unit = char16_t((*data)[i] | (*data)[i + 1] << 8);
        if (unit == 0)
            break;
        units.push_back(unit);
    }
    return platform::Utf16ToUtf8(units);
}

void DialogTest::MapDrive(char letter, const std::string& device) {
    PutString(false, platform::kDrivesKey, std::string(1, letter), device);
}

std::filesystem::path DialogTest::MakeDisc(const std::string& name,
                                           std::initializer_list<std::uint32_t> lengths) {
    std::uint32_t total = 0;
    std::string cue = "FILE \"" + name + ".bin\" BINARY\n";
    int track = 1;
    for (std::uint32_t length : lengths) {
        char line[96];
        std::snprintf(line, sizeof line, "  TRACK %02d AUDIO\n    INDEX 01 %02u:%02u:%02u\n", track++,
                      total / 4500, total / 75 % 60, total % 75);
        cue += line;
        total += length;
    }
    testkit::WriteBytes(dir_ / (name + ".bin"), testkit::BuildFile(5, std::string(total, 'a'), 0));
    testkit::WriteText(dir_ / (name + ".cue"), cue);
    return dir_ / (name + ".cue");
}

void Click(QWidget* parent, int id) {
    auto* button = ui::FindControl<QAbstractButton>(parent, id);
    ASSERT_NE(button, nullptr) << "control " << id;
    button->click();
}

} // namespace uitest
