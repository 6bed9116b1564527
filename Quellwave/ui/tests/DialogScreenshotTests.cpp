// Renders each dialog with the built texts and pictures to PNG files under the build folder
// (screenshots/dialog_*.png), for looking at: settings, the drive check half-way, the file selection, the
// about box and the start-up notice. The checks only make sure each picture was really written.
#include "DialogTestSupport.h"
#include "TestKit/Bytes.h"
#include "ui/AboutBox.h"
#include "ui/CDlgCheckDrive.h"
#include "ui/CSettingDialog.h"
#include "ui/CWavFileSelectDialog.h"
#include "ui/StartupNotice.h"

#include <QDir>
#include <QListView>
#include <QTest>

namespace {

// A check stuck at 40 %, so the dialog can be shown under way.
class HalfWay : public DriveCheckController {
public:
    bool SetDrive(unsigned char) override { return true; }
    bool CheckDrive() override { return true; }
    bool IsOpenDrive() const override { return true; }
    long GetDriveCheckProgress(int& percent) const override {
        percent = 40;
        return 0;
    }
    long StopDriveCheck() override { return 0; }
};

class DialogScreenshots : public uitest::DialogTest {
protected:
    static void Save(QWidget& dialog, const char* name) {
        dialog.show();
        QTest::qWait(50);
        const QImage shot = dialog.grab().toImage();
        dialog.hide();
        ASSERT_FALSE(shot.isNull()) << name;
        QDir().mkpath(QStringLiteral(QW_SCREENSHOT_DIR));
        const QString file = QStringLiteral(QW_SCREENSHOT_DIR "/") + QLatin1String(name);
        ASSERT_TRUE(shot.save(file)) << name;
        EXPECT_EQ(QImage(file).size(), shot.size()) << name;
    }
};

TEST_F(DialogScreenshots, EachDialog) {
    MapImage('D', MakeDisc("d", {300}));
    MapImage('V', MakeDisc("v", {300}));
    {
        CSettingDialog settings;
        Save(settings, "dialog_settings.png");
    }
    {
        CDlgCheckDrive check('D', nullptr, std::make_unique<HalfWay>());
        check.SetMessageBoxRunner([](QWidget*, const QString&, UINT) {});
        check.show();
        uitest::Click(&check, CDlgCheckDrive::kIdStart);
        QTest::qWait(2 * CDlgCheckDrive::kPollMs + 20);
        Save(check, "dialog_check_drive.png");
    }
    {
        std::filesystem::create_directories(dir_ / "Album" / "Scans");
        for (const char* name : {"01 Opening.wav", "02 Andante.wav", "03 Finale.wav", "booklet.pdf"})
            ASSERT_TRUE(testkit::WriteText(dir_ / "Album" / name, "RIFF"));
        CWavFileSelectDialog files(true, "wav", "*.wav", 0x1204, CWavFileSelectDialog::PlayListFilter());
        files.setDirectory(QString::fromStdString((dir_ / "Album").string()));
        files.show();
        auto* view = files.findChild<QListView*>(QStringLiteral("listView"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) == 4; }, 5000));
        files.SelectAllFiles();
        Save(files, "dialog_file_selection.png");
    }
    {
        ASSERT_TRUE(testkit::WriteText(dir_ / "Version.txt", "0.1.0\n"));
        AboutBox about(nullptr, dir_);
        Save(about, "dialog_about.png");
    }
    {
        StartupNotice notice;
        Save(notice, "dialog_notice.png");
    }
}

} // namespace
