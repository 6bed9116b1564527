// Shared by the dialog tests: a registry and a drive table of the test's own (both registry roots in a
// temporary folder, no kernel CD drives), the program's resource module loaded so dialogs show their real
// texts, and a way to act on a modal dialog once its loop runs.
#pragma once

#include "ui/ControlNotify.h"

#include "Platform/Types.h"
#include "TestKit/RegistrySandbox.h"
#include "TestKit/RegistryValues.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace uitest {

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Values as an installer or an earlier run left them.
    static void PutDword(bool user, const std::string& keyPath, const std::string& name, DWORD value);
    static void PutString(bool user, const std::string& keyPath, const std::string& name,
                          const std::string& text);
    // Values from the user's root; nothing when missing.
    static constexpr auto& UserDword = testkit::UserDword;
    static constexpr auto& UserString = testkit::UserString;
    // Maps a drive letter in the machine's drive table to a folder or a device path, or to a CUE image.
    static void MapDrive(char letter, const std::string& device);
    static constexpr auto& MapImage = testkit::RegistrySandbox::MapImage;
    // Writes a CUE/BIN image of audio tracks of these lengths (sectors) and returns the CUE's path.
    std::filesystem::path MakeDisc(const std::string& name, std::initializer_list<std::uint32_t> lengths);

    std::optional<testkit::RegistrySandbox> sandbox_;
    std::filesystem::path dir_;
};

// The settings key of the program ("Software\Orva Corporation\Quellwave\Settings").
inline const std::string kSettings = "Software\\Orva Corporation\\Quellwave\\Settings";

// Runs `action` once the top-level modal widget of type T is shown (polled every 5 ms), from inside
// whatever modal loop the caller then starts. Stops after `action` ran.
template <class T> void WhenShown(std::function<void(T*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        auto* shown = qobject_cast<T*>(QApplication::activeModalWidget());
        if (shown == nullptr || !shown->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(shown);
    });
    timer->start();
}

// Clicks the control with this id inside parent (a button); fails the test when it is missing.
void Click(QWidget* parent, int id);

} // namespace uitest
