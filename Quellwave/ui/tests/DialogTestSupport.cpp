#include "DialogTestSupport.h"

#include "TestKit/DiscImage.h"
#include "shell/ResourceModules.h"

#include "Platform/DriveTable.h"
#include "Platform/Registry.h"

#include <QAbstractButton>

namespace uitest {

namespace {

platform::HKEY Root(bool user) {
    return user ? platform::HKEY_CURRENT_USER : platform::HKEY_LOCAL_MACHINE;
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

void DialogTest::MapDrive(char letter, const std::string& device) {
    PutString(false, platform::kDrivesKey, std::string(1, letter), device);
}

std::filesystem::path DialogTest::MakeDisc(const std::string& name,
                                           std::initializer_list<std::uint32_t> lengths) {
    testkit::DiscTracks tracks;
    for (const std::uint32_t length : lengths)
        tracks.emplace_back('a', length);
    testkit::WriteBytes(dir_ / (name + ".bin"), testkit::BuildFile(5, testkit::KindsOf(tracks), 0));
    testkit::WriteText(dir_ / (name + ".cue"), testkit::SheetOf(name + ".bin", tracks));
    return dir_ / (name + ".cue");
}

void Click(QWidget* parent, int id) {
    auto* button = ui::FindControl<QAbstractButton>(parent, id);
    ASSERT_NE(button, nullptr) << "control " << id;
    button->click();
}

} // namespace uitest
