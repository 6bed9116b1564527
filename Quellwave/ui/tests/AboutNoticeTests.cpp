// The about box's version line and pictures, the help page's name and opening, and the start-up notice:
// what its check box stores, whether a start shows it, its buttons and its painted frame.
#include "DialogTestSupport.h"
#include "TestKit/Bytes.h"
#include "shell/ResourceIds.h"
#include "shell/ResourceModules.h"
#include "ui/AboutBox.h"
#include "ui/DialogSupport.h"
#include "ui/HelpFile.h"
#include "ui/StartupNotice.h"

#include "Platform/Paths.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QUrl>

namespace {

using uitest::kSettings;

class AboutNoticeTest : public uitest::DialogTest {};

TEST_F(AboutNoticeTest, VersionLineIsTheFirstLineOfVersionTxt) {
    struct Case {
        const char* name;
        std::optional<std::string> file; // nothing: no Version.txt
        QString line;
    };
    const Case cases[] = {
        {"several lines", "1.0.2\nbuilt 2026-12-09\n", "1.0.2"},
        {"line ends of the other platform", "2.1\r\nx\r\n", "2.1"},
        {"no line end", "3.0", "3.0"},
        {"empty file", "", ""},
        {"missing file", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir_ / "Version.txt");
        if (c.file) {
            ASSERT_TRUE(testkit::WriteText(dir_ / "Version.txt", *c.file));
        }
        AboutBox about(nullptr, dir_);
        auto* version = ui::FindControl<QLabel>(&about, AboutBox::kIdVersion);
        ASSERT_NE(version, nullptr);
        EXPECT_EQ(version->text(), ui::Text(resid::kStrVersionPrefix) + " " + c.line);
    }
}

TEST_F(AboutNoticeTest, AboutBoxShowsTheIconAndBothPictures) {
    AboutBox about(nullptr, dir_);
    auto* icon = ui::FindControl<QLabel>(&about, AboutBox::kIdIcon);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->pixmap().deviceIndependentSize().toSize(), QSize(48, 48));
    for (auto [id, bitmap] : {std::pair{AboutBox::kIdPicture1, resid::kAboutPicture1},
                              {AboutBox::kIdPicture2, resid::kAboutPicture2}}) {
        auto* picture = ui::FindControl<QLabel>(&about, id);
        ASSERT_NE(picture, nullptr) << id;
        EXPECT_EQ(picture->pixmap().size(), ResourceBitmap(bitmap).size()) << id;
        EXPECT_FALSE(picture->pixmap().isNull()) << id;
    }
    // The panel lies inside the box, below the version line.
    auto* pictures = ui::FindControl(&about, AboutBox::kIdPictures);
    auto* version = ui::FindControl(&about, AboutBox::kIdVersion);
    EXPECT_TRUE(about.rect().contains(pictures->geometry()));
    EXPECT_GT(pictures->y(), version->geometry().bottom());
}

TEST(HelpFileTest, HelpPageIsNamedAfterTheProgram) {
    struct Case {
        std::filesystem::path program, page;
    };
    const Case cases[] = {
        {"/opt/quellwave/quellwave", "/opt/quellwave/quellwave.html"},
        {"/opt/q/player.exe", "/opt/q/player.html"},
        {"/opt/q.d/player", "/opt/q.d/player.html"},
        {"/opt/q/player.v2", "/opt/q/player.v2.html"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HelpFilePath(c.program), c.page) << c.program;
}

// Collects the addresses QDesktopServices would hand to the desktop's viewer.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls.push_back(url); }
};

TEST(HelpFileTest, ShowHelpFileOpensThePageBesideTheProgram) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
    ShowHelpFile();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(catcher.urls.size(), 1u);
    EXPECT_EQ(catcher.urls[0].toLocalFile().toStdString(), platform::ProgramPath().string() + ".html");
}

TEST_F(AboutNoticeTest, CheckBoxStoresAtOnceAndQuitKeepsIt) {
    StartupNotice notice;
    auto* box = ui::FindControl<QCheckBox>(&notice, StartupNotice::kIdDontShow);
    ASSERT_NE(box, nullptr);
    for (const DWORD expected : {1u, 0u, 1u}) {
        box->click();
        EXPECT_EQ(UserDword(kSettings, "NoDispNext"), expected);
    }
    uitest::Click(&notice, ui::IDCANCEL);
    EXPECT_EQ(notice.result(), ui::IDCANCEL);
    EXPECT_EQ(UserDword(kSettings, "NoDispNext"), 1u) << "quitting keeps what the box stored";
    EXPECT_FALSE(StartupNoticeWanted()) << "the next start skips the notice";
}

TEST_F(AboutNoticeTest, StartShowsTheNoticeByTheUserValueThenTheMachineValue) {
    struct Case {
        const char* name;
        std::optional<DWORD> user, machine;
        bool shown;
    };
    const Case cases[] = {
        {"nothing stored", std::nullopt, std::nullopt, true},
        {"user 1", 1, std::nullopt, false},
        {"machine 1 only", std::nullopt, 1, false},
        {"user 0 over machine 1", 0, 1, true},
        {"user 1 over machine 0", 1, 0, false},
    };
    for (const Case& c : cases) {
        for (const int press : {ui::IDOK, ui::IDCANCEL}) {
            SCOPED_TRACE(std::string(c.name) + (press == ui::IDOK ? ", continue" : ", quit"));
            if (c.user)
                PutDword(true, kSettings, "NoDispNext", *c.user);
            if (c.machine)
                PutDword(false, kSettings, "NoDispNext", *c.machine);
            bool shown = false;
            uitest::WhenShown<StartupNotice>([&](StartupNotice* notice) {
                shown = true;
                uitest::Click(notice, press);
            });
            const bool goOn = RunStartupNotice();
            const bool shownByStart = shown;
            if (!shownByStart) {
                // The click still waits for a notice: give it one, so it meets no later dialog.
                StartupNotice stray;
                stray.exec();
            }
            EXPECT_EQ(shownByStart, c.shown);
            EXPECT_EQ(goOn, !c.shown || press == ui::IDOK);
            TearDown();
            SetUp();
        }
    }
}

TEST_F(AboutNoticeTest, HelpButtonRunsTheHelp) {
    StartupNotice notice;
    int runs = 0;
    notice.SetHelpRunner([&] { ++runs; });
    uitest::Click(&notice, StartupNotice::kIdHelp);
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(notice.isVisible());
    EXPECT_EQ(UserDword(kSettings, "NoDispNext"), std::nullopt);
}

TEST_F(AboutNoticeTest, FrameIsPaintedFromItsSixPieces) {
    StartupNotice notice;
    const QImage shot = notice.grab().toImage();
    const int w = shot.width(), h = shot.height();
    auto piece = [](unsigned id) { return ResourceBitmap(id, 1); };
    const QImage bottom = piece(resid::kNoticeBottom), bottomLeft = piece(resid::kNoticeBottomLeft);
    const QImage bottomRight = piece(resid::kNoticeBottomRight), middle = piece(resid::kNoticeMiddle);
    const QImage left = piece(resid::kNoticeLeft), right = piece(resid::kNoticeRight);
    for (const QImage* image : {&bottom, &bottomLeft, &bottomRight, &middle, &left, &right})
        ASSERT_FALSE(image->isNull());
    struct Probe {
        const char* name;
        QPoint at; // in the notice
        const QImage* from;
        QPoint source; // in the piece
    };
    const int midTop = h - bottom.height() - middle.height();
    // Three pixels in from each edge: the outermost ones carry the dialogs' rim drawn over the pieces.
    const int in = 3;
    const Probe probes[] = {
        {"bottom-left corner", {in, h - 1 - in}, &bottomLeft, {in, bottomLeft.height() - 1 - in}},
        {"bottom-right corner",
         {w - 1 - in, h - 1 - in},
         &bottomRight,
         {bottomRight.width() - 1 - in, bottomRight.height() - 1 - in}},
        {"bottom edge", {w / 2, h - 1 - in}, &bottom, {0, bottom.height() - 1 - in}},
        {"middle row's line", {w / 2, midTop + middle.height() - 12}, &middle, {0, middle.height() - 12}},
        {"left edge of the middle row", {in, midTop + 5}, &left, {in, 5}},
        {"right edge, upper rows", {w - 1 - in, 10}, &right, {right.width() - 1 - in, 10 % 3}},
        {"upper rows repeat the top three lines", {w / 3, 4}, &middle, {0, (4 - midTop % 3 + 3) % 3}},
    };
    for (const Probe& p : probes) {
        // Only pixels the dialog's own controls do not cover.
        if (notice.childAt(p.at) != nullptr)
            continue;
        EXPECT_EQ(QColor(shot.pixel(p.at)), QColor(p.from->pixel(p.source))) << p.name;
    }
    // Edged like the other dialogs: the amber rule along the top, the bevel's line down the sides.
    EXPECT_EQ(QColor(shot.pixel(w / 2, 1)), QColor(0xB0, 0x7A, 0x2A));
    EXPECT_EQ(QColor(shot.pixel(1, h / 2)), QColor(0x3A, 0x3D, 0x42));
}

} // namespace

#include "AboutNoticeTests.moc"
