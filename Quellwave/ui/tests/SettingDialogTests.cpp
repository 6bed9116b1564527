// The settings dialog over a registry and drive table of the test's own: the drive list, where it starts
// from, what OK stores and Cancel does not, the folder chooser and its window.
#include "DialogTestSupport.h"
#include "ui/CDialogAlphaBlend.h"
#include "ui/CFolderBrowserDialog.h"
#include "ui/CSettingDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <vector>

namespace {

using uitest::kSettings;

QComboBox* Drives(CSettingDialog& dialog) {
    return ui::FindControl<QComboBox>(&dialog, CSettingDialog::kIdDriveList);
}
QLineEdit* Folder(CSettingDialog& dialog) {
    return ui::FindControl<QLineEdit>(&dialog, CSettingDialog::kIdFolder);
}
QCheckBox* ShowNotice(CSettingDialog& dialog) {
    return ui::FindControl<QCheckBox>(&dialog, CSettingDialog::kIdShowNotice);
}
QCheckBox* Gapless(CSettingDialog& dialog) {
    return ui::FindControl<QCheckBox>(&dialog, CSettingDialog::kIdGapless);
}

QComboBox* DsdRate(CSettingDialog& dialog) {
    return ui::FindControl<QComboBox>(&dialog, CSettingDialog::kIdDsdRate);
}

std::vector<std::pair<QString, int>> Items(QComboBox* list) {
    std::vector<std::pair<QString, int>> items;
    for (int i = 0; i < list->count(); ++i)
        items.emplace_back(list->itemText(i), list->itemData(i).toInt());
    return items;
}

// A folder chooser that answers as the test tells it and keeps the request it was given.
class ScriptedBrowser : public FolderBrowser {
public:
    std::optional<std::string> Browse(const Request& request) override {
        last = request;
        ++calls;
        return answer;
    }
    std::optional<std::string> answer;
    Request last;
    int calls = 0;
};

class SettingDialogTest : public uitest::DialogTest {};

TEST_F(SettingDialogTest, DriveListHoldsExactlyTheCdLettersOfTheDriveTable) {
    // Two virtual drives, a folder (a fixed disk) and a letter mapped to nothing usable.
    MapImage('V', MakeDisc("v", {300}));
    MapImage('D', MakeDisc("d", {300}));
    std::filesystem::create_directories(dir_ / "music");
    MapDrive('M', (dir_ / "music").string());
    MapDrive('Q', (dir_ / "missing").string());
    CSettingDialog dialog;
    const std::vector<std::pair<QString, int>> expected = {{"D:", 'D'}, {"V:", 'V'}};
    EXPECT_EQ(Items(Drives(dialog)), expected);
}

TEST_F(SettingDialogTest, StartsFromTheStoredDrive) {
    struct Case {
        const char* name;
        std::optional<DWORD> stored;
        QString selected; // empty: nothing selected
    };
    const Case cases[] = {
        {"nothing stored: the first drive", std::nullopt, "D:"},
        {"stored drive present", DWORD('V'), "V:"},
        {"stored drive gone", DWORD('X'), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MapImage('V', MakeDisc("v", {300}));
        MapImage('D', MakeDisc("d", {300}));
        if (c.stored)
            PutDword(true, kSettings, "DefaultDrive", *c.stored);
        CSettingDialog dialog;
        EXPECT_EQ(Drives(dialog)->currentText(), c.selected);
        EXPECT_TRUE(Folder(dialog)->text().isEmpty());
        dialog.accept();
        // Confirming without a selection leaves the stored drive as it was.
        EXPECT_EQ(UserDword(kSettings, "DefaultDrive"),
                  c.selected.isEmpty() ? c.stored : std::optional<DWORD>(c.selected[0].unicode()));
        TearDown();
        SetUp();
    }
}

TEST_F(SettingDialogTest, NoticeBoxFollowsTheUserValueThenTheMachineValue) {
    struct Case {
        const char* name;
        std::optional<DWORD> user, machine;
        bool ticked;
    };
    const Case cases[] = {
        {"missing", std::nullopt, std::nullopt, true},
        {"user 1", 1, std::nullopt, false},
        {"machine 1 only", std::nullopt, 1, false},
        {"user 0 wins over machine 1", 0, 1, true},
        {"user 7", 7, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.user)
            PutDword(true, kSettings, "NoDispNext", *c.user);
        if (c.machine)
            PutDword(false, kSettings, "NoDispNext", *c.machine);
        CSettingDialog dialog;
        EXPECT_EQ(ShowNotice(dialog)->isChecked(), c.ticked);
        TearDown();
        SetUp();
    }
}

TEST_F(SettingDialogTest, GaplessBoxShowsTheStoredValue) {
    struct Case {
        const char* name;
        std::optional<DWORD> stored;
        bool ticked;
    };
    const Case cases[] = {{"missing", std::nullopt, false}, {"0", 0, false}, {"1", 1, true}, {"2", 2, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.stored)
            PutDword(true, kSettings, "GaplessPlayback", *c.stored);
        CSettingDialog dialog;
        ASSERT_NE(Gapless(dialog), nullptr);
        EXPECT_EQ(Gapless(dialog)->isChecked(), c.ticked);
        TearDown();
        SetUp();
    }
}

TEST_F(SettingDialogTest, TitlesBoxShowsTheStoredValueTickedUnlessZeroAndOkStoresIt) {
    struct Case {
        const char* name;
        std::optional<DWORD> stored;
        bool ticked;
        bool tick; // what the listener leaves it at before OK
    };
    const Case cases[] = {{"missing", std::nullopt, true, false},
                          {"0", 0, false, true},
                          {"1", 1, true, true},
                          {"7", 7, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.stored)
            PutDword(true, kSettings, "ShowTitles", *c.stored);
        CSettingDialog dialog;
        auto* box = ui::FindControl<QCheckBox>(&dialog, CSettingDialog::kIdShowTitles);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->isChecked(), c.ticked);
        box->setChecked(c.tick);
        dialog.accept();
        EXPECT_EQ(UserDword(kSettings, "ShowTitles"), std::optional<DWORD>(c.tick ? 1 : 0));
        TearDown();
        SetUp();
    }
}

TEST_F(SettingDialogTest, DsdRateChoiceShowsTheStoredRateAndOkStoresTheOneChosen) {
    struct Case {
        const char* name;
        std::optional<DWORD> stored;
        QString shown;
    };
    const Case cases[] = {{"missing", std::nullopt, "DSD64"},
                          {"128", 128, "DSD128"},
                          {"256", 256, "DSD256"},
                          {"512", 512, "DSD512"},
                          {"100", 100, "DSD64"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.stored)
            PutDword(true, kSettings, "DsdRate", *c.stored);
        CSettingDialog dialog;
        ASSERT_NE(DsdRate(dialog), nullptr);
        EXPECT_EQ(Items(DsdRate(dialog)),
                  (std::vector<std::pair<QString, int>>{
                      {"DSD64", 64}, {"DSD128", 128}, {"DSD256", 256}, {"DSD512", 512}}));
        EXPECT_EQ(DsdRate(dialog)->currentText(), c.shown);
        TearDown();
        SetUp();
    }
    for (const bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "ok" : "cancel");
        CSettingDialog dialog;
        DsdRate(dialog)->setCurrentIndex(3);
        uitest::Click(&dialog, ok ? ui::IDOK : ui::IDCANCEL);
        EXPECT_EQ(UserDword(kSettings, "DsdRate"), ok ? std::optional<DWORD>(512) : std::nullopt);
        TearDown();
        SetUp();
    }
}

TEST_F(SettingDialogTest, OkStoresTheChoicesAndCancelStoresNothing) {
    struct Case {
        const char* name;
        bool ok;
        QString folder;
        bool tickNotice;
        bool tickGapless;
        std::optional<DWORD> drive;
        std::optional<std::string> storedFolder;
        std::optional<DWORD> noDispNext;
        std::optional<DWORD> gapless;
    };
    const Case cases[] = {
        {"ok", true, "/home/listener/Music", false, true, 'V', "/home/listener/Music", 1, 1},
        {"ok, notice shown, empty folder", true, "", true, false, 'V', std::nullopt, 0, 0},
        {"cancel", false, "/home/listener/Music", false, true, std::nullopt, std::nullopt, std::nullopt,
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MapImage('D', MakeDisc("d", {300}));
        MapImage('V', MakeDisc("v", {300}));
        CSettingDialog dialog;
        Drives(dialog)->setCurrentIndex(1);
        Folder(dialog)->setText(c.folder);
        ShowNotice(dialog)->setChecked(c.tickNotice);
        Gapless(dialog)->setChecked(c.tickGapless);
        int result = 0;
        QObject::connect(&dialog, &QDialog::finished, [&](int r) { result = r; });
        uitest::Click(&dialog, c.ok ? ui::IDOK : ui::IDCANCEL);
        EXPECT_EQ(result, c.ok ? ui::IDOK : ui::IDCANCEL);
        EXPECT_EQ(UserDword(kSettings, "DefaultDrive"), c.drive);
        EXPECT_EQ(UserString(kSettings, "DefaultFolder"), c.storedFolder);
        EXPECT_EQ(UserDword(kSettings, "NoDispNext"), c.noDispNext);
        EXPECT_EQ(UserDword(kSettings, "GaplessPlayback"), c.gapless);
        TearDown();
        SetUp();
    }
}

TEST_F(SettingDialogTest, EmptyFolderKeepsTheStoredOneAndNoDrivesStoresNoDrive) {
    PutString(true, kSettings, "DefaultFolder", "/srv/music");
    CSettingDialog dialog;
    EXPECT_EQ(Drives(dialog)->count(), 0);
    dialog.accept();
    EXPECT_EQ(UserString(kSettings, "DefaultFolder"), "/srv/music");
    EXPECT_EQ(UserDword(kSettings, "DefaultDrive"), std::nullopt);
}

TEST_F(SettingDialogTest, BrowseAsksForALocalFolderAndTakesOnlyAChoosableAnswer) {
    std::filesystem::create_directories(dir_ / "music");
    struct Case {
        const char* name;
        std::optional<std::string> answer;
        QString shown;
    };
    const std::string music = (dir_ / "music").string();
    const Case cases[] = {
        {"chosen", music, QString::fromStdString(music)},
        {"cancelled", std::nullopt, "before"},
        {"a folder that does not exist", (dir_ / "gone").string(), "before"},
        {"a name with a wildcard", music + "/*", "before"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedBrowser browser;
        browser.answer = c.answer;
        CSettingDialog dialog(nullptr, &browser);
        Folder(dialog)->setText("before");
        uitest::Click(&dialog, CSettingDialog::kIdBrowse);
        ASSERT_EQ(browser.calls, 1);
        EXPECT_EQ(Folder(dialog)->text(), c.shown);
        EXPECT_EQ(browser.last.caption, "Foder Path");
        EXPECT_EQ(browser.last.title, "Select Folder");
        EXPECT_FALSE(browser.last.allowNewFolder);
        ASSERT_TRUE(browser.last.canChoose);
        EXPECT_TRUE(browser.last.canChoose(music));
        EXPECT_FALSE(browser.last.canChoose((dir_ / "gone").string()));
    }
}

TEST_F(SettingDialogTest, RunsInsideTheOverlayAndReturnsIdOk) {
    MapImage('V', MakeDisc("v", {300}));
    CSettingDialog dialog;
    CDialogAlphaBlend overlay(&dialog);
    uitest::WhenShown<CSettingDialog>([](CSettingDialog* shown) { uitest::Click(shown, ui::IDOK); });
    EXPECT_EQ(overlay.exec(), ui::IDOK);
    EXPECT_EQ(UserDword(kSettings, "DefaultDrive"), DWORD('V'));
}

TEST_F(SettingDialogTest, FolderBrowserEnablesOkOnlyForFoldersItMayTake) {
    for (const char* name : {"take", "refuse"})
        std::filesystem::create_directories(dir_ / name);
    FolderBrowser::Request request;
    request.caption = "Foder Path";
    request.title = "Select Folder";
    request.initialFolder = (dir_ / "refuse").string();
    request.canChoose = [](const std::string& folder) { return folder.ends_with("/take"); };
    CFolderBrowserDialog dialog(request);
    auto* ok = ui::FindControl<QPushButton>(&dialog, ui::IDOK);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Foder Path");
    EXPECT_EQ(dialog.SelectedFolder().toStdString(), (dir_ / "refuse").string());
    EXPECT_FALSE(ok->isEnabled());
    dialog.accept();
    EXPECT_EQ(dialog.result(), 0) << "Enter cannot take a refused folder";
    ASSERT_TRUE(dialog.SelectFolder(QString::fromStdString((dir_ / "take").string())));
    EXPECT_TRUE(ok->isEnabled());
    ASSERT_TRUE(dialog.SelectFolder(QString::fromStdString((dir_ / "refuse").string())));
    EXPECT_FALSE(ok->isEnabled());
    EXPECT_FALSE(dialog.SelectFolder(QString::fromStdString((dir_ / "gone").string())));
    EXPECT_EQ(ui::FindControl(&dialog, CFolderBrowserDialog::kIdNewFolder), nullptr);
}

TEST_F(SettingDialogTest, QtFolderBrowserReturnsTheFolderOnOkAndNothingOnCancel) {
    std::filesystem::create_directories(dir_ / "music");
    const std::string music = (dir_ / "music").string();
    for (const bool ok : {true, false}) {
        SCOPED_TRACE(ok ? "ok" : "cancel");
        FolderBrowser::Request request;
        request.initialFolder = music;
        request.canChoose = [](const std::string&) { return true; };
        uitest::WhenShown<CFolderBrowserDialog>(
            [ok](CFolderBrowserDialog* shown) { uitest::Click(shown, ok ? ui::IDOK : ui::IDCANCEL); });
        QtFolderBrowser browser;
        EXPECT_EQ(browser.Browse(request), ok ? std::optional<std::string>(music) : std::nullopt);
    }
}

} // namespace
