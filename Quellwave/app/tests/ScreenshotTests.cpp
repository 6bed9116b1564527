// The main window as the listener sees it, rendered offscreen to PNG files under the build folder
// (screenshots/): disc mode stopped, playing, typing a track number, file mode with the banner of a list
// that cannot be opened, and the settings dialog over the dimming overlay. They are for looking at; the
// checks make sure each shows what it is named after.
#include "AppTestSupport.h"
#include "TestKit/Bytes.h"
#include "TestKit/DiscImage.h"

#include "app/PlayerMessages.h"
#include "shell/PlaylistFile.h"
#include "ui/CDialogAlphaBlend.h"
#include "ui/CSettingDialog.h"
#include "ui/ControlNotify.h"
#include "ui/TransparentBitmapStatic.h"

#include <QDir>
#include <QPainter>

namespace apptest {
namespace {

using namespace app;

constexpr char kSettingsKey[] = "Software\\Orva Corporation\\Quellwave\\Settings";

class ScreenshotTest : public PlayerFixture {
protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        // A disc of twelve tracks of a minute.
        ASSERT_TRUE(testkit::WriteText(
            dir_.Path() / "disc.cue", testkit::SheetOf("disc.bin", testkit::DiscTracks(12, {'a', 60 * 75}))));
        // The tracks are silence: a sparse file of their length.
        ASSERT_TRUE(testkit::WriteText(dir_.Path() / "disc.bin", ""));
        std::filesystem::resize_file(dir_.Path() / "disc.bin", 12ull * 60 * 75 * 2352);
        testkit::RegistrySandbox::MapImage('V', dir_.Path() / "disc.cue");
        SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "DefaultDrive", 'V');
        SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "Repeat", 2);
    }

    // The window at 1280 x 800: the panel centred on the black field.
    QImage Shot(const char* name) {
        window_->resize(1280, 800);
        Settle(Panel());
        QImage image = window_->grab().toImage();
        QDir().mkpath(QStringLiteral(QW_SCREENSHOT_DIR));
        EXPECT_TRUE(image.save(QStringLiteral(QW_SCREENSHOT_DIR "/") + QLatin1String(name))) << name;
        return image;
    }
    // Where the panel is in a shot.
    QPoint PanelAt() const { return {(1280 - 1024) / 2, (800 - 768) / 2}; }
    bool Shown(int displayElement) { return Display().Element(displayElement)->isVisible(); }
};

TEST_F(ScreenshotTest, TheMainWindowInEachState) {
    StartWindow();
    // The fade in, done.
    for (int i = 0; i < 13; ++i)
        Panel().OnTimer(kTimerFadeIn);
    ASSERT_EQ(Panel().PanelFadeLevel(), 255);
    ASSERT_TRUE(Panel().DiscMode());
    ASSERT_EQ(Panel().TrackCount(), 12u);
    QImage stopped = Shot("window-disc-stopped.png");
    EXPECT_EQ(stopped.pixelColor(5, 5), QColor(Qt::black)) << "the field around the panel";
    EXPECT_NE(stopped.pixelColor(PanelAt() + QPoint(40, 400)), QColor(Qt::black)) << "the panel's metal";
    EXPECT_EQ(Display().TrackNumber(), 12u);

    Key(Qt::Key_F6);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    Panel().post(WM_PLAYER_POSITION, 83'000, 1);
    Settle(Panel());
    const QImage playing = Shot("window-disc-playing.png");
    EXPECT_TRUE(Shown(CLEDDialog::kPlayA));
    EXPECT_TRUE(ui::FindControl(&Panel(), kCmdPause)->isVisible());
    EXPECT_NE(playing, stopped);
    Key(Qt::Key_F7);

    Key(Qt::Key_1);
    Key(Qt::Key_2);
    ASSERT_TRUE(Display().EntryMode());
    const QImage entry = Shot("window-disc-entry.png");
    EXPECT_EQ(Panel().Entry(), 12u);
    Key(Qt::Key_Escape);

    // File mode with a list whose files are gone: the banner of a list that cannot be opened.
    ASSERT_TRUE(WritePlaylist({(dir_.Path() / "gone.wav").string()}));
    Click(kCmdToFileMode);
    ASSERT_FALSE(Panel().DiscMode());
    const QImage banner = Shot("window-file-banner.png");
    EXPECT_TRUE(Shown(CLEDDialog::kBanner3));
    EXPECT_TRUE(ui::FindControl(&Panel(), kCmdOpenFiles)->isVisible());

    // The settings dialog over the dimming overlay, as the settings button shows it.
    CSettingDialog settings(window_.get());
    settings.adjustSize();
    QImage overlay = window_->grab().toImage();
    {
        QPainter painter(&overlay);
        painter.fillRect(overlay.rect(), QColor(0, 0, 0, CDialogAlphaBlend::kAlpha));
        const QImage dialog = settings.grab().toImage();
        painter.drawImage((overlay.width() - dialog.width()) / 2, (overlay.height() - dialog.height()) / 2,
                          dialog);
    }
    EXPECT_TRUE(overlay.save(QStringLiteral(QW_SCREENSHOT_DIR "/window-overlay-settings.png")));
    EXPECT_LT(overlay.pixelColor(PanelAt() + QPoint(40, 400)).lightness(),
              banner.pixelColor(PanelAt() + QPoint(40, 400)).lightness())
        << "the panel is dimmed behind the dialog";
}

} // namespace
} // namespace apptest
