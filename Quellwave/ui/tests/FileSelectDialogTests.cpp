// The file selection dialog: its filter from the resource module's form, the select-all button over a
// real folder, what OK and Cancel return, and the buttons it shows in place of the standard ones.
#include "DialogTestSupport.h"
#include "TestKit/Bytes.h"
#include "shell/ResourceIds.h"
#include "ui/CDialogAlphaBlend.h"
#include "ui/CWavFileSelectDialog.h"
#include "ui/DialogSupport.h"

#include <QAbstractButton>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIcon>
#include <QLineEdit>
#include <QListView>
#include <QTest>
#include <QToolButton>

#include <algorithm>

namespace {

constexpr DWORD kPlayListFlags = CWavFileSelectDialog::OFN_HIDEREADONLY |
                                 CWavFileSelectDialog::OFN_ALLOWMULTISELECT |
                                 CWavFileSelectDialog::OFN_FILEMUSTEXIST;

TEST(FileSelectFilterTest, ResourceFormBecomesQtNameFilters) {
    struct Case {
        const char* name;
        QString filter;
        QStringList expected;
    };
    const Case cases[] = {
        {"string 600",
         "WAV files (*.wav)|*.wav|All files (*.*)|*.*||",
         {"WAV files (*.wav)", "All files (*.*)"}},
        {"patterns with ';' in text and list",
         "WAV and DSD files (*.wav;*.dsf;*.dff)|*.wav;*.dsf;*.dff||",
         {"WAV and DSD files (*.wav *.dsf *.dff)"}},
        {"text without patterns gets them", "Music|*.wav; *.WAV|", {"Music (*.wav *.WAV)"}},
        {"text unlike its patterns keeps them visible", "Songs (*.mp3)|*.wav||", {"Songs (*.mp3) (*.wav)"}},
        {"no pattern list", "WAV files", {}},
        {"empty text or patterns dropped", "|*.wav|Nothing||Music|*.wav||", {"Music (*.wav)"}},
        {"patterns Qt cannot take left out", "Odd|(x);a b;*.wav|Worse|*.(|", {"Odd (*.wav)"}},
        {"empty", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CWavFileSelectDialog::NameFilters(c.filter), c.expected);
    }
}

class FileSelectDialogTest : public uitest::DialogTest {
protected:
    void Touch(const std::string& name) {
        std::filesystem::create_directories((dir_ / "music" / name).parent_path());
        ASSERT_TRUE(testkit::WriteText(dir_ / "music" / name, "RIFF"));
    }
    QString Music() const { return QString::fromStdString((dir_ / "music").string()); }

    // Runs the dialog over the folder; once its files are listed, presses the buttons in order.
    int Run(CWavFileSelectDialog& dialog, int listed, std::vector<int> presses) {
        dialog.setDirectory(Music());
        uitest::WhenShown<CWavFileSelectDialog>([listed, presses](CWavFileSelectDialog* shown) {
            auto* view = shown->findChild<QListView*>(QStringLiteral("listView"));
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) == listed; }, 5000))
                << "listed " << view->model()->rowCount(view->rootIndex());
            for (int id : presses)
                uitest::Click(shown, id);
            if (shown->isVisible())
                uitest::Click(shown, ui::IDCANCEL); // never leave the test waiting
        });
        return dialog.exec();
    }

    std::vector<std::string> Paths(std::initializer_list<const char*> names) const {
        std::vector<std::string> paths;
        for (const char* name : names)
            paths.push_back((dir_ / "music" / name).string());
        return paths;
    }
    static std::vector<std::string> Sorted(std::vector<std::string> paths) {
        std::sort(paths.begin(), paths.end());
        return paths;
    }
};

TEST_F(FileSelectDialogTest, SelectAllPicksEveryWavOfTheFolderAndNothingElse) {
    for (const char* name : {"b.wav", "a.wav", "LOUD.WAV", "notes.txt", "cover.png", "track.dsf"})
        Touch(name);
    Touch("sub folder.wav/inner.wav");
    Touch("other/x.wav");
    CWavFileSelectDialog dialog(true, "wav", "*.wav", kPlayListFlags, CWavFileSelectDialog::PlayListFilter());
    // Listed: the three WAV files and the two folders (files the filter leaves out are hidden).
    EXPECT_EQ(Run(dialog, 5, {CWavFileSelectDialog::kIdSelectAll, ui::IDOK}), ui::IDOK);
    EXPECT_EQ(Sorted(dialog.SelectedPaths()), Paths({"LOUD.WAV", "a.wav", "b.wav"}));
}

TEST_F(FileSelectDialogTest, WithDsdFilesPlayingTheFilterTakesDsfAndDff) {
    PutDword(false, "Software\\Orva Corporation\\Quellwave", "useRFMode", 1);
    for (const char* name : {"a.wav", "b.dsf", "c.dff", "d.txt"})
        Touch(name);
    CWavFileSelectDialog dialog(true, "wav", "*.wav", kPlayListFlags, CWavFileSelectDialog::PlayListFilter());
    EXPECT_EQ(Run(dialog, 3, {CWavFileSelectDialog::kIdSelectAll, ui::IDOK}), ui::IDOK);
    EXPECT_EQ(Sorted(dialog.SelectedPaths()), Paths({"a.wav", "b.dsf", "c.dff"}));
}

TEST_F(FileSelectDialogTest, FolderOfFoldersSelectsNothing) {
    Touch("one/a.wav");
    Touch("two/b.wav");
    CWavFileSelectDialog dialog(true, "wav", "*.wav", kPlayListFlags, CWavFileSelectDialog::PlayListFilter());
    int selected = -1;
    dialog.setDirectory(Music());
    uitest::WhenShown<CWavFileSelectDialog>([&](CWavFileSelectDialog* shown) {
        auto* view = shown->findChild<QListView*>(QStringLiteral("listView"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) == 2; }, 5000));
        uitest::Click(shown, CWavFileSelectDialog::kIdSelectAll);
        selected = int(view->selectionModel()->selectedRows().size());
        uitest::Click(shown, ui::IDOK); // nothing chosen: OK does not end the dialog
        EXPECT_TRUE(shown->isVisible());
        uitest::Click(shown, ui::IDCANCEL);
    });
    EXPECT_EQ(dialog.exec(), ui::IDCANCEL);
    EXPECT_EQ(selected, 0);
    EXPECT_TRUE(dialog.SelectedPaths().empty());
}

TEST_F(FileSelectDialogTest, CancelReturnsNothingEvenWithFilesSelected) {
    for (const char* name : {"a.wav", "b.wav"})
        Touch(name);
    CWavFileSelectDialog dialog(true, "wav", "*.wav", kPlayListFlags, CWavFileSelectDialog::PlayListFilter());
    CDialogAlphaBlend overlay(&dialog);
    dialog.setDirectory(Music());
    uitest::WhenShown<CWavFileSelectDialog>([](CWavFileSelectDialog* shown) {
        auto* view = shown->findChild<QListView*>(QStringLiteral("listView"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) == 2; }, 5000));
        uitest::Click(shown, CWavFileSelectDialog::kIdSelectAll);
        EXPECT_EQ(view->selectionModel()->selectedRows().size(), 2);
        auto* name = shown->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        // The file name field shows what was selected, in the list's order even when clicked the other way.
        QTest::qWait(20);
        EXPECT_EQ(name->text().toStdString(), "\"a.wav\" \"b.wav\"");
        view->selectionModel()->clearSelection();
        const QModelIndex root = view->rootIndex();
        for (int row : {1, 0})
            view->selectionModel()->select(view->model()->index(row, 0, root),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        EXPECT_TRUE(QTest::qWaitFor([&] { return name->text() == "\"a.wav\" \"b.wav\""; }, 1000))
            << name->text().toStdString();
        uitest::Click(shown, ui::IDCANCEL);
    });
    EXPECT_EQ(overlay.exec(), ui::IDCANCEL);
    EXPECT_TRUE(dialog.SelectedPaths().empty());
}

TEST_F(FileSelectDialogTest, OwnButtonsStandInForTheStandardOnes) {
    CWavFileSelectDialog dialog(true, "wav", "*.wav", kPlayListFlags, CWavFileSelectDialog::PlayListFilter());
    dialog.show();
    auto* standard = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    ASSERT_NE(standard, nullptr);
    EXPECT_FALSE(standard->isVisible());
    for (int id : {ui::IDOK, ui::IDCANCEL, CWavFileSelectDialog::kIdSelectAll}) {
        auto* button = ui::FindControl<QAbstractButton>(&dialog, id);
        ASSERT_NE(button, nullptr) << id;
        EXPECT_TRUE(button->isVisible()) << id;
    }
    EXPECT_EQ(dialog.windowTitle(), ui::Text(resid::kStrFileDialogTitle));
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFiles);
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    dialog.hide();
}

TEST_F(FileSelectDialogTest, HidingTheReadOnlyBoxLeavesTheFolderWritable) {
    // The player's flags hide a read-only box; they do not make the folder view read-only, so the dialog
    // offers a new folder with or without the flag.
    for (DWORD flags : {kPlayListFlags, kPlayListFlags & ~CWavFileSelectDialog::OFN_HIDEREADONLY}) {
        SCOPED_TRACE(flags);
        CWavFileSelectDialog dialog(true, "wav", "*.wav", flags, CWavFileSelectDialog::PlayListFilter());
        dialog.setDirectory(Music());
        EXPECT_FALSE(dialog.testOption(QFileDialog::ReadOnly));
        auto* newFolder = dialog.findChild<QAbstractButton*>(QStringLiteral("newFolderButton"));
        ASSERT_NE(newFolder, nullptr);
        EXPECT_TRUE(newFolder->isEnabled());
    }
}

// The tool buttons and the entries of the lists and side bar carry the program's own marks, grey and sized
// with the dialog's type, instead of the desktop theme's small coloured ones; the file-name suggestions are
// a dark list in the dialog's type.
TEST_F(FileSelectDialogTest, ToolButtonsEntriesAndSuggestionsWearTheDialogsLook) {
    CWavFileSelectDialog dialog(true, "wav", "*.wav", kPlayListFlags, CWavFileSelectDialog::PlayListFilter());
    // Drawn for a 4K screen's pixel ratio: as many device pixels as asked for, every one of them grey.
    const auto expectGreyMark = [](const QIcon& icon, QSize size) {
        const QImage mark = icon.pixmap(size, 2.8125).toImage();
        ASSERT_GE(mark.height(), size.height() * 2);
        int ink = 0;
        for (int y = 0; y < mark.height(); ++y)
            for (int x = 0; x < mark.width(); ++x) {
                const QRgb pixel = mark.pixel(x, y);
                if (qAlpha(pixel) < 128)
                    continue;
                ++ink;
                const QColor colour = QColor::fromRgba(pixel).toRgb();
                ASSERT_LT(std::abs(colour.red() - colour.blue()), 24)
                    << "a coloured pixel at " << x << "," << y;
            }
        EXPECT_GT(ink, mark.width()) << "the mark is drawn";
    };
    for (const char* name : {"backButton", "forwardButton", "toParentButton", "newFolderButton",
                             "listModeButton", "detailModeButton"}) {
        SCOPED_TRACE(name);
        auto* button = dialog.findChild<QToolButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr);
        EXPECT_GE(button->iconSize().height(), ui::kDialogFontPx);
        expectGreyMark(button->icon(), button->iconSize());
    }
    // A folder and a file in the list, and every place in the side bar.
    ASSERT_NE(dialog.iconProvider(), nullptr);
    Touch("a.wav");
    for (const std::filesystem::path& entry : {dir_ / "music", dir_ / "music" / "a.wav"}) {
        SCOPED_TRACE(entry.string());
        expectGreyMark(dialog.iconProvider()->icon(QFileInfo(QString::fromStdString(entry.string()))),
                       QSize(16, 16));
    }
    auto* places = dialog.findChild<QAbstractItemView*>(QStringLiteral("sidebar"));
    ASSERT_NE(places, nullptr);
    ASSERT_GT(places->model()->rowCount(), 0);
    for (int row = 0; row < places->model()->rowCount(); ++row) {
        const QModelIndex place = places->model()->index(row, 0);
        SCOPED_TRACE(place.data().toString().toStdString());
        expectGreyMark(qvariant_cast<QIcon>(place.data(Qt::DecorationRole)), QSize(16, 16));
    }
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    ASSERT_NE(name->completer(), nullptr);
    QWidget* suggestions = name->completer()->popup();
    EXPECT_EQ(suggestions->font().pixelSize(), ui::kDialogFontPx);
    EXPECT_GE(name->completer()->maxVisibleItems(), 5);
    suggestions->resize(200, 100);
    const QImage list = suggestions->grab().toImage();
    EXPECT_LT(qGray(list.pixel(list.width() / 2, list.height() / 2)), 0x30) << "a dark list";
}

} // namespace
