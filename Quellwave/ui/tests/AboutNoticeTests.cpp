// The about box's version line and pictures, the help page's name and opening, and the start-up notice:
// what its check box stores, whether a start shows it, its buttons and its painted frame.
#include "DialogTestSupport.h"
#include "TestKit/Bytes.h"
#include "TestKit/Environment.h"
#include "shell/ResourceIds.h"
#include "shell/ResourceModules.h"
#include "ui/AboutBox.h"
#include "ui/DialogSupport.h"
#include "ui/HelpFile.h"
#include "ui/HelpViewer.h"
#include "ui/StartupNotice.h"

#include "Platform/Paths.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QProcess>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QUrl>

#include <iostream>

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

// HELP goes through the desktop's launcher, found on PATH; where there is none, or it reports that it
// could not open the page, the program's own help window shows the page. The launcher here is a script
// that notes the page it was given and exits with the case's status.
TEST_F(AboutNoticeTest, HelpOpensThroughTheLauncherElseInTheProgramsOwnWindow) {
    struct Case {
        const char* name;
        std::optional<int> launcherStatus; // nothing: no launcher on PATH
        bool ownWindow;
    };
    const Case cases[] = {
        {"the launcher opens the page", 0, false},
        {"the launcher finds no viewer for the page", 3, true},
        {"the launcher fails", 4, true},
        {"no launcher on the machine", std::nullopt, true},
    };
    const std::filesystem::path bin = dir_ / "bin";
    const std::filesystem::path noted = dir_ / "launched.txt";
    const std::filesystem::path page = platform::ProgramPath().string() + ".html";
    // Under the arm64 emulator no QProcess starts (the emulator refuses its vfork-like start): there the
    // launcher cannot be started in any case, and the program's own window must show the page every time.
    const bool processesStart = [] {
        QProcess probe;
        probe.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exit 0")});
        const bool started = probe.waitForStarted(30000);
        probe.waitForFinished(30000);
        return started;
    }();
    if (!processesStart)
        std::cout << "no program starts from a QProcess here: every case expects the program's own window\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(bin);
        std::filesystem::create_directories(bin);
        std::filesystem::remove(noted);
        if (c.launcherStatus) {
            const auto script = bin / "xdg-open";
            ASSERT_TRUE(testkit::WriteText(script, "#!/bin/sh\nprintf '%s' \"$1\" > '" + noted.string() +
                                                       "'\nexit " + std::to_string(*c.launcherStatus) +
                                                       "\n"));
            std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        }
        testkit::EnvironmentGuard path("PATH", bin.string() + ":/usr/bin:/bin");
        if (!c.launcherStatus)
            path.Set("PATH", bin.string());

        ShowHelpFile();
        // The launcher's answer comes through the event loop: wait until it has ended.
        auto launching = [] {
            for (const QProcess* p : QCoreApplication::instance()->findChildren<QProcess*>())
                if (p->state() != QProcess::NotRunning)
                    return true;
            return false;
        };
        for (QDeadlineTimer deadline(30000); launching() && !deadline.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(QCoreApplication::instance()->findChildren<QProcess*>().isEmpty());
        HelpViewer* viewer = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* shown = qobject_cast<HelpViewer*>(top); shown != nullptr && shown->isVisible())
                viewer = shown;
        if (c.launcherStatus && processesStart) {
            EXPECT_EQ(testkit::ReadText(noted), page.string()) << "the launcher is given the page";
        }
        ASSERT_EQ(viewer != nullptr, c.ownWindow || !processesStart);
        if (viewer != nullptr) {
            // The test program has no page beside it: the window names the page it looked for.
            auto* text = ui::FindControl<QTextBrowser>(viewer, HelpViewer::kIdText);
            ASSERT_NE(text, nullptr);
            EXPECT_FALSE(viewer->PageShown());
            EXPECT_TRUE(text->toPlainText().contains(QString::fromStdString(page.string())));
            viewer->close();
            QCoreApplication::processEvents();
        }
    }
}

// The help window shows the page in the dialogs' type, scrolls with the keys and closes with Esc.
TEST_F(AboutNoticeTest, HelpWindowShowsThePageInTheDialogsTypeAndClosesWithEsc) {
    const auto page = dir_ / "quellwave.html";
    ASSERT_TRUE(testkit::WriteText(
        page, "<html><head><title>T</title><style>body { font-size: 16px; }</style></head><body><h1>Playing "
              "files</h1>" +
                  [] {
                      std::string rows;
                      for (int i = 0; i < 200; ++i)
                          rows += "<p>Line " + std::to_string(i) + "</p>";
                      return rows;
                  }() +
                  "</body></html>"));
    QWidget panel;
    panel.resize(1024, 768);
    panel.show();
    panel.activateWindow();
    HelpViewer viewer(&panel, page);
    viewer.show();
    auto* text = ui::FindControl<QTextBrowser>(&viewer, HelpViewer::kIdText);
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(viewer.PageShown());
    EXPECT_TRUE(text->toPlainText().startsWith(QStringLiteral("Playing files")));
    // The page's 16 px rule is overruled by the dialogs' size.
    QTextCursor cursor(text->document()->findBlockByNumber(2));
    EXPECT_EQ(cursor.charFormat().font().pixelSize(), viewer.font().pixelSize());
    EXPECT_GT(viewer.font().pixelSize(), 16);
    // Centred on the window it belongs to.
    const QPoint offCentre = viewer.frameGeometry().center() - panel.frameGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 1) << offCentre.x() << ", " << offCentre.y();
    auto* bar = text->verticalScrollBar();
    EXPECT_EQ(bar->value(), 0);
    QTest::keyClick(text, Qt::Key_PageDown);
    EXPECT_GT(bar->value(), 0) << "Page Down scrolls the page";
    QTest::keyClick(text, Qt::Key_Escape);
    EXPECT_FALSE(viewer.isVisible());
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
