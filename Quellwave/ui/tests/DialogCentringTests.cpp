// Where the dialogs appear: in the middle of the panel once their layouts have settled, inside the panel's
// area below its window buttons even when they asked for more room, and the full-screen main window left
// where it is.
#include "ui/DialogCentring.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>

namespace {

struct PlacementCase {
    const char* name;
    int lines;      // lines of text in the dialog's layout: its size comes from them
    QSize resizeTo; // asked for before it is shown; empty: the layout's size
};

void PrintTo(const PlacementCase& c, std::ostream* out) {
    *out << c.name;
}

class DialogCentringTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(DialogCentringTest, TheFrameIsCentredOnThePanelAndInsideItsRoom) {
    const PlacementCase& c = GetParam();
    const ui::DialogCentring centring(QSize(1024, 768));
    QScreen& screen = *QGuiApplication::primaryScreen();
    const QRect panel = centring.PanelOn(screen);
    const QRect room = centring.RoomOn(screen);
    ASSERT_TRUE(panel.contains(room));

    QWidget owner;
    QDialog dialog(&owner);
    auto* layout = new QVBoxLayout(&dialog);
    for (int line = 0; line < c.lines; ++line)
        layout->addWidget(new QLabel(QStringLiteral("A line of the dialog's text, number %1").arg(line)));
    if (!c.resizeTo.isEmpty())
        dialog.resize(c.resizeTo);
    dialog.show();
    QApplication::processEvents();

    const QRect frame = dialog.frameGeometry();
    EXPECT_LE(std::abs(frame.center().x() - panel.center().x()), 1) << c.name;
    EXPECT_LE(std::abs(frame.center().y() - panel.center().y()), 1) << c.name;
    EXPECT_TRUE(room.contains(frame))
        << c.name << ": " << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();
    // Shown again after the layout grew: centred again on its new size.
    dialog.hide();
    for (int line = 0; line < 3; ++line)
        layout->addWidget(new QLabel(QStringLiteral("One more line")));
    dialog.show();
    QApplication::processEvents();
    EXPECT_LE(std::abs(dialog.frameGeometry().center().y() - panel.center().y()), 1) << c.name;
    // Grown while shown: centred on its new size, within the room.
    dialog.resize(dialog.size() + QSize(60, 40));
    QApplication::processEvents();
    EXPECT_LE(std::abs(dialog.frameGeometry().center().x() - panel.center().x()), 1) << c.name;
    EXPECT_LE(std::abs(dialog.frameGeometry().center().y() - panel.center().y()), 1) << c.name;
    EXPECT_TRUE(room.contains(dialog.frameGeometry())) << c.name;
    // Moved by the listener, then grown: left where it was put.
    const QPoint put = dialog.pos() + QPoint(12, 8);
    dialog.move(put);
    QApplication::processEvents();
    dialog.resize(dialog.size() + QSize(10, 10));
    QApplication::processEvents();
    EXPECT_EQ(dialog.pos(), put) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, DialogCentringTest,
    ::testing::Values(PlacementCase{"from its layout", 3, {}}, PlacementCase{"one line", 1, {}},
                      PlacementCase{"asked for a size", 2, QSize(420, 260)},
                      PlacementCase{"asked for more than the panel", 2, QSize(2000, 1500)}),
    [](const ::testing::TestParamInfo<PlacementCase>& param) {
        return "Case" + std::to_string(param.index);
    });

// A message box fits itself to its text as it shows, after the program has seen it appear.
TEST(DialogCentring, AMessageBoxIsCentredOnTheSizeItTakesForItsText) {
    const ui::DialogCentring centring(QSize(1024, 768));
    const QRect panel = centring.PanelOn(*QGuiApplication::primaryScreen());
    QWidget owner;
    QMessageBox box(
        QMessageBox::Warning, QStringLiteral("Quellwave"),
        QStringLiteral("The drive check was cancelled, so the drive has not been checked. You can run "
                       "the check again at any time."),
        QMessageBox::Ok, &owner);
    box.show();
    QApplication::processEvents();
    const QRect frame = box.frameGeometry();
    EXPECT_LE(std::abs(frame.center().x() - panel.center().x()), 1);
    EXPECT_LE(std::abs(frame.center().y() - panel.center().y()), 1);
}

TEST(DialogCentring, LeavesAFullScreenWindowWhereItIs) {
    const ui::DialogCentring centring(QSize(1024, 768));
    QDialog window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    // As the main window shows itself: the screen's geometry even where nothing honours full screen.
    window.setGeometry(QGuiApplication::primaryScreen()->geometry());
    window.showFullScreen();
    QApplication::processEvents();
    EXPECT_EQ(window.geometry(), QGuiApplication::primaryScreen()->geometry());
}

} // namespace
