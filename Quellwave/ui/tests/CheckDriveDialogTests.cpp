// The drive check dialog: against a scripted controller for each way a check can end, and against a
// virtual drive through the dialog's own CDiscPilot: a whole check, and one cancelled half-way that leaves
// the drive's stored read condition as it was.
#include "CDiscPilot.h"
#include "DialogTestSupport.h"
#include "shell/ResourceIds.h"
#include "ui/CDialogAlphaBlend.h"
#include "ui/CDlgCheckDrive.h"
#include "ui/DialogSupport.h"

#include "Platform/DriveTable.h"
#include "Platform/Registry.h"
#include "TestKit/Bytes.h"
#include "TestKit/Environment.h"

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>

namespace {

using Clock = std::chrono::steady_clock;

// Answers progress from a script, one entry per read; the last entry repeats.
class ScriptedController : public DriveCheckController {
public:
    struct Read {
        long result; // below 0: the read failed
        int percent;
    };
    bool SetDrive(unsigned char letter) override {
        drive = letter;
        return true;
    }
    bool CheckDrive() override {
        ++starts;
        return startWorks;
    }
    bool IsOpenDrive() const override { return open; }
    long GetDriveCheckProgress(int& percent) const override {
        ++reads;
        const Read read = script.size() > 1 ? Pop() : script.front();
        if (read.result >= 0)
            percent = read.percent;
        return read.result;
    }
    long StopDriveCheck() override {
        ++stops;
        return 0;
    }
    Read Pop() const {
        Read read = script.front();
        script.pop_front();
        return read;
    }

    mutable std::deque<Read> script{{0, 0}};
    bool startWorks = true;
    bool open = true;
    unsigned char drive = 0;
    int starts = 0, stops = 0;
    mutable int reads = 0;
};

struct Shown {
    QString text;
    UINT style;
};

class CheckDriveDialogTest : public uitest::DialogTest {
protected:
    // A dialog over a scripted controller that records its message boxes.
    std::unique_ptr<CDlgCheckDrive> Make(ScriptedController*& controller) {
        auto owned = std::make_unique<ScriptedController>();
        controller = owned.get();
        auto dialog = std::make_unique<CDlgCheckDrive>('E', nullptr, std::move(owned));
        dialog->SetMessageBoxRunner([this](QWidget*, const QString& text, UINT style) {
            shown_.push_back({text, style});
        });
        return dialog;
    }
    std::vector<Shown> shown_;
};

TEST_F(CheckDriveDialogTest, EndsWithItsMessageOnlyAtOneHundredOrAFailure) {
    using R = ScriptedController::Read;
    struct Case {
        const char* name;
        std::deque<R> script;
        std::optional<unsigned> message; // nothing: still running after the script
        UINT style;
        int bar;
    };
    const Case cases[] = {
        {"finished",
         {{0, 10}, {0, 55}, {0, 100}},
         resid::kStrCheckDone,
         CDlgCheckDrive::MB_ICONINFORMATION,
         100},
        {"failed", {{0, 30}, {0, -1}}, resid::kStrCheckFailed, CDlgCheckDrive::MB_ICONEXCLAMATION, 0},
        {"unreadable progress retried",
         {{-1, 0}, {E_FAIL, 0}, {0, 100}},
         resid::kStrCheckDone,
         CDlgCheckDrive::MB_ICONINFORMATION,
         100},
        {"99 only moves the bar", {{0, 40}, {0, 99}, {0, 99}}, std::nullopt, 0, 99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        shown_.clear();
        ScriptedController* controller = nullptr;
        auto dialog = Make(controller);
        controller->script = c.script;
        const auto* bar = ui::FindControl<QProgressBar>(dialog.get(), CDlgCheckDrive::kIdProgress);
        ASSERT_NE(bar, nullptr);
        int result = -1;
        QObject::connect(dialog.get(), &QDialog::finished, [&](int r) { result = r; });
        dialog->open();
        uitest::Click(dialog.get(), CDlgCheckDrive::kIdStart);
        EXPECT_FALSE(ui::FindControl(dialog.get(), CDlgCheckDrive::kIdStart)->isEnabled());
        // Until every scripted answer was read (and the dialog ended, where it should).
        const int reads = int(c.script.size());
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return controller->reads >= reads && (!c.message || result >= 0); }, 5000));
        EXPECT_EQ(bar->value(), c.bar);
        if (c.message) {
            ASSERT_EQ(shown_.size(), 1u) << "one message, once";
            EXPECT_EQ(shown_[0].text, ui::Text(*c.message));
            EXPECT_EQ(shown_[0].style, c.style);
            EXPECT_EQ(result, ui::IDOK);
            EXPECT_FALSE(dialog->Polling());
            EXPECT_EQ(controller->stops, 0);
        } else {
            EXPECT_TRUE(shown_.empty());
            EXPECT_TRUE(dialog->isVisible());
            EXPECT_TRUE(dialog->Polling());
            dialog->reject();
        }
    }
}

// WCAG's relative luminance of an sRGB colour and the contrast ratio of two.
double Luminance(QColor c) {
    const auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}
double Contrast(QColor a, QColor b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST_F(CheckDriveDialogTest, TheProgressFigureReadsOnTheFilledAndTheEmptyPartOfTheBar) {
    ScriptedController* controller = nullptr;
    auto dialog = Make(controller);
    dialog->show();
    auto* bar = dialog->findChild<QProgressBar*>();
    ASSERT_NE(bar, nullptr);
    for (int percent : {0, 50, 100}) {
        SCOPED_TRACE(percent);
        bar->setValue(percent);
        const QImage image = bar->grab().toImage();
        // The figure's box, centred in the bar; the ground is the bar's colour at its ends.
        const double ratio = image.devicePixelRatio();
        const QSize box = QFontMetrics(bar->font()).size(0, bar->text()) * ratio;
        const QRect figure(QPoint((image.width() - box.width()) / 2, (image.height() - box.height()) / 2),
                           box);
        ASSERT_GT(figure.width(), 4);
        const int filledTo = int(1 + (image.width() - 2) * percent / 100.0);
        for (const bool filled : {true, false}) {
            // Within the figure's box, the pixels over the filled part (or over the empty one).
            std::vector<QColor> pixels;
            for (int y = figure.top(); y <= figure.bottom(); ++y)
                for (int x = figure.left(); x <= figure.right(); ++x)
                    if (filled ? x < filledTo - 1 : x > filledTo)
                        pixels.push_back(image.pixelColor(x, y));
            if (pixels.size() < 20)
                continue;
            const int end = int(4 * ratio);
            const QColor ground =
                image.pixelColor(filled ? end : image.width() - 1 - end, image.height() / 2);
            double best = 1.0;
            for (const QColor& pixel : pixels)
                best = std::max(best, Contrast(pixel, ground));
            EXPECT_GE(best, 4.5) << (filled ? "over the filled part " : "over the empty part ")
                                 << ground.name().toStdString();
        }
    }
}

TEST_F(CheckDriveDialogTest, PollsEveryHundredMilliseconds) {
    ScriptedController* controller = nullptr;
    auto dialog = Make(controller);
    dialog->open();
    uitest::Click(dialog.get(), CDlgCheckDrive::kIdStart);
    QTest::qWait(1000);
    // Ten ticks a second; a busy machine may delay a tick or two, never add one.
    EXPECT_GE(controller->reads, 7);
    EXPECT_LE(controller->reads, 10);
    dialog->reject();
}

TEST_F(CheckDriveDialogTest, StartThatFailsLeavesTheDialogReady) {
    ScriptedController* controller = nullptr;
    auto dialog = Make(controller);
    controller->startWorks = false;
    EXPECT_EQ(dialog->StartCheck(), int(E_FAIL));
    dialog->open();
    uitest::Click(dialog.get(), CDlgCheckDrive::kIdStart);
    EXPECT_EQ(controller->starts, 2);
    EXPECT_TRUE(ui::FindControl(dialog.get(), CDlgCheckDrive::kIdStart)->isEnabled());
    EXPECT_FALSE(dialog->Polling());
    QTest::qWait(3 * CDlgCheckDrive::kPollMs);
    EXPECT_EQ(controller->reads, 0);
    EXPECT_TRUE(dialog->isVisible());
    dialog->reject();
}

TEST_F(CheckDriveDialogTest, ClosedDriveIsNotPolled) {
    ScriptedController* controller = nullptr;
    auto dialog = Make(controller);
    controller->open = false;
    controller->script = {{0, 100}};
    dialog->open();
    uitest::Click(dialog.get(), CDlgCheckDrive::kIdStart);
    QTest::qWait(3 * CDlgCheckDrive::kPollMs);
    EXPECT_EQ(controller->reads, 0);
    EXPECT_TRUE(shown_.empty());
    dialog->reject();
}

TEST_F(CheckDriveDialogTest, CancelStopsTheCheckSaysSoAndEndsWithIdOk) {
    for (const bool started : {false, true}) {
        SCOPED_TRACE(started ? "while checking" : "before Start");
        shown_.clear();
        ScriptedController* controller = nullptr;
        auto dialog = Make(controller);
        EXPECT_EQ(controller->drive, 'E');
        EXPECT_EQ(ui::FindControl<QLabel>(dialog.get(), CDlgCheckDrive::kIdDrive)->text(), "E:");
        CDialogAlphaBlend overlay(dialog.get());
        uitest::WhenShown<CDlgCheckDrive>([started](CDlgCheckDrive* shown) {
            if (started)
                uitest::Click(shown, CDlgCheckDrive::kIdStart);
            uitest::Click(shown, ui::IDCANCEL);
        });
        EXPECT_EQ(overlay.exec(), ui::IDOK);
        EXPECT_EQ(controller->stops, 1);
        EXPECT_FALSE(dialog->Polling());
        ASSERT_EQ(shown_.size(), 1u);
        EXPECT_EQ(shown_[0].text, ui::Text(resid::kStrCheckCancelled));
        EXPECT_EQ(shown_[0].style, CDlgCheckDrive::MB_OK);
    }
}

// The dialog's own CDiscPilot controller, with each poll's time and answer and the progress at the stop
// recorded on the way through.
class RecordingController : public DriveCheckController {
public:
    bool SetDrive(unsigned char letter) override { return real_->SetDrive(letter); }
    bool CheckDrive() override { return real_->CheckDrive(); }
    bool IsOpenDrive() const override { return real_->IsOpenDrive(); }
    long GetDriveCheckProgress(int& percent) const override {
        const long result = real_->GetDriveCheckProgress(percent);
        if (result >= 0)
            polls.emplace_back(Clock::now(), percent);
        return result;
    }
    long StopDriveCheck() override {
        resultAtStop = real_->GetDriveCheckProgress(percentAtStop);
        return real_->StopDriveCheck();
    }
    mutable std::vector<std::pair<Clock::time_point, int>> polls;
    long resultAtStop = -1;
    int percentAtStop = -1;

private:
    std::unique_ptr<DriveCheckController> real_ = MakeDiscPilotCheckController();
};

// The whole way through DiscPilot, on a virtual drive V.
class CheckDriveVirtualTest : public uitest::DialogTest {
protected:
    void SetUp() override {
        uitest::DialogTest::SetUp();
        MapImage('V', MakeDisc("check", {300, 12000, 400}));
        PutString(false, "SOFTWARE\\Orva Corporation\\Tarnix\\Corvex", "Cdrom_Mode", "ASPI");
        PutDword(false, std::string(platform::kDrivesKey) + "\\V", "CddaAccurate", 0);
    }
    std::string MachineSettings() const {
        return testkit::ReadText(platform::RegistryFilePath(platform::HKEY_LOCAL_MACHINE));
    }
    static int Checked() {
        CDiscPilot pilot;
        EXPECT_TRUE(pilot.SetDrive('V'));
        return pilot.IsDriveChecked();
    }
};

TEST_F(CheckDriveVirtualTest, StartRunsTheCheckToItsFinishedMessage) {
    ASSERT_EQ(Checked(), 0);
    std::vector<Shown> shown;
    RecordingController* recorder = nullptr;
    {
        auto controller = std::make_unique<RecordingController>();
        recorder = controller.get();
        CDlgCheckDrive dialog('V', nullptr, std::move(controller));
        dialog.SetMessageBoxRunner([&](QWidget*, const QString& text, UINT style) {
            shown.push_back({text, style});
        });
        uitest::WhenShown<CDlgCheckDrive>(
            [](CDlgCheckDrive* d) { uitest::Click(d, CDlgCheckDrive::kIdStart); });
        EXPECT_EQ(dialog.exec(), ui::IDOK);
        EXPECT_EQ(ui::FindControl<QProgressBar>(&dialog, CDlgCheckDrive::kIdProgress)->value(), 100);
        // The virtual disc's check takes 0.3 to 0.6 s here, so the bar is seen part-way (30 to 41 %) before
        // 100; a tick delayed by a busy machine may first find it finished, so only the end is required.
        ASSERT_FALSE(recorder->polls.empty());
        std::string seen;
        for (std::size_t i = 0; i < recorder->polls.size(); ++i) {
            const auto& [at, percent] = recorder->polls[i];
            if (i == 0) {
                seen += std::to_string(percent) + " ";
                continue;
            }
            EXPECT_GE(percent, recorder->polls[i - 1].second) << "the bar never goes back";
            seen += "(+" +
                    std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       at - recorder->polls[i - 1].first)
                                       .count()) +
                    " ms) " + std::to_string(percent) + " ";
        }
        EXPECT_EQ(recorder->polls.back().second, 100) << seen;
        std::fprintf(stderr, "drive check progress at each poll: %s\n", seen.c_str());
    }
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, ui::Text(resid::kStrCheckDone));
    EXPECT_EQ(shown[0].style, CDlgCheckDrive::MB_ICONINFORMATION);
    EXPECT_EQ(Checked(), 1) << "the read condition is stored";
}

TEST_F(CheckDriveVirtualTest, CancelMidCheckLeavesTheStoredConditionAsItWas) {
    for (const bool checkedBefore : {false, true}) {
        SCOPED_TRACE(checkedBefore ? "a condition stored before" : "nothing stored before");
        if (checkedBefore) {
            CDlgCheckDrive first('V');
            first.SetMessageBoxRunner([](QWidget*, const QString&, UINT) {});
            uitest::WhenShown<CDlgCheckDrive>(
                [](CDlgCheckDrive* d) { uitest::Click(d, CDlgCheckDrive::kIdStart); });
            ASSERT_EQ(first.exec(), ui::IDOK);
            ASSERT_EQ(Checked(), 1);
        }
        const std::string before = MachineSettings();
        std::vector<QString> shown;
        RecordingController* recorder = nullptr;
        {
            auto controller = std::make_unique<RecordingController>();
            recorder = controller.get();
            CDlgCheckDrive dialog('V', nullptr, std::move(controller));
            dialog.SetMessageBoxRunner([&](QWidget*, const QString& text, UINT) { shown.push_back(text); });
            uitest::WhenShown<CDlgCheckDrive>([](CDlgCheckDrive* d) {
                uitest::Click(d, CDlgCheckDrive::kIdStart);
                uitest::Click(d, ui::IDCANCEL);
            });
            EXPECT_EQ(dialog.exec(), ui::IDOK);
            EXPECT_EQ(recorder->resultAtStop, 0) << "the check was running when Cancel stopped it";
            EXPECT_GE(recorder->percentAtStop, 0);
            EXPECT_LT(recorder->percentAtStop, 100);
        } // the controller waits for the check to wind down
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0], ui::Text(resid::kStrCheckCancelled));
        EXPECT_EQ(MachineSettings(), before);
        EXPECT_EQ(Checked(), checkedBefore ? 1 : 0);
        TearDown();
        SetUp();
    }
}

TEST_F(CheckDriveVirtualTest, DefaultMessageBoxIsShownAndClosedByTheListener) {
    CDlgCheckDrive dialog('V');
    QString text;
    uitest::WhenShown<CDlgCheckDrive>([&](CDlgCheckDrive* d) {
        uitest::WhenShown<QMessageBox>([&](QMessageBox* box) {
            text = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        uitest::Click(d, ui::IDCANCEL);
    });
    EXPECT_EQ(dialog.exec(), ui::IDOK);
    EXPECT_EQ(text, ui::Text(resid::kStrCheckCancelled));
}

TEST_F(CheckDriveVirtualTest, ATemporaryFileThatCannotBeMadeIsShownOnceOverTheDialog) {
    // A file where the temporary folder should be: nothing can be created in it, so every read condition
    // the check tries fails the same way; the listener is told once, in a box with the check's caption.
    ASSERT_TRUE(testkit::WriteText(dir_ / "not-a-folder", "x"));
    std::vector<std::pair<QString, QString>> boxes; // caption, text
    {
        const testkit::EnvironmentGuard tmp("TMPDIR", (dir_ / "not-a-folder").string());
        CDlgCheckDrive dialog('V');
        uitest::WhenShown<CDlgCheckDrive>([&](CDlgCheckDrive* d) {
            // Each box is closed as it shows; the dialog's own ending message is one of them.
            auto* closer = new QTimer(d);
            closer->setInterval(5);
            QObject::connect(closer, &QTimer::timeout, [&boxes] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (box == nullptr || !box->isVisible())
                    return;
                boxes.emplace_back(box->windowTitle(), box->text());
                box->button(QMessageBox::Ok)->click();
            });
            closer->start();
            uitest::Click(d, CDlgCheckDrive::kIdStart);
        });
        EXPECT_EQ(dialog.exec(), ui::IDOK);
    }
    const QString checkCaption = QString::fromUtf8("\u30a8\u30e9\u30fc");
    ASSERT_EQ(boxes.size(), 2u) << "the check's message once, and the dialog's failed message";
    const auto checks = std::count_if(boxes.begin(), boxes.end(), [&](const auto& b) {
        return b.first == checkCaption && !b.second.isEmpty();
    });
    const auto failed = std::count_if(boxes.begin(), boxes.end(), [](const auto& b) {
        return b.second == ui::Text(resid::kStrCheckFailed);
    });
    EXPECT_EQ(checks, 1);
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(Checked(), 0) << "nothing is stored for a check that could not read";
}

} // namespace
