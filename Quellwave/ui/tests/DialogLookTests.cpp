// The panel under a dialog and the marks in the dialogs: what a listener sees when a dialog opens over the
// player (the panel dimmed until the last dialog is gone) and the program's own notice marks.
#include "ui/DialogSupport.h"
#include "ui/PanelDimmer.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr QRgb kMetal = 0xFF1C1E21;

// A window painted in the panel's metal, as the player's window is under its panel.
std::unique_ptr<QWidget> MetalWindow() {
    auto window = std::make_unique<QWidget>();
    window->resize(320, 240);
    window->setAutoFillBackground(true);
    QPalette colours = window->palette();
    colours.setColor(QPalette::Window, QColor::fromRgb(kMetal));
    window->setPalette(colours);
    return window;
}

int GreenAtCentre(QWidget& window) {
    QApplication::processEvents();
    const QImage picture = window.grab().toImage();
    return qGreen(picture.pixel(picture.width() / 2, picture.height() / 2));
}

TEST(PanelDimmer, DimsThePanelFromTheFirstDialogToTheLast) {
    auto window = MetalWindow();
    ui::PanelDimmer dimmer(window.get());
    window->show();
    const int bright = GreenAtCentre(*window);
    ASSERT_EQ(bright, qGreen(kMetal));

    QDialog first(window.get());
    first.show();
    EXPECT_TRUE(dimmer.Dimmed());
    const int dimmed = GreenAtCentre(*window);
    EXPECT_EQ(dimmed, bright * (255 - ui::PanelDimmer::kShadeAlpha) / 255)
        << "the sheet is the field's black at 60 %";

    // A message box over the first dialog, closed first: the panel stays dim while the dialog stays.
    auto second = std::make_unique<QMessageBox>(QMessageBox::Warning, "t", "x", QMessageBox::Ok, &first);
    second->show();
    second->hide();
    EXPECT_TRUE(dimmer.Dimmed());
    // A dialog destroyed while it is shown no longer counts.
    auto third = std::make_unique<QDialog>(window.get());
    third->show();
    third.reset();
    first.hide();
    EXPECT_FALSE(dimmer.Dimmed());
    EXPECT_EQ(GreenAtCentre(*window), bright);

    // The sheet follows the window's size.
    window->resize(640, 480);
    first.show();
    const QImage grown = window->grab().toImage();
    EXPECT_LT(qGreen(grown.pixel(600, 450)), bright);
}

TEST(DialogLook, MessageBoxesCarryTheProgramsOwnAmberMark) {
    for (const auto icon : {QMessageBox::Information, QMessageBox::Warning, QMessageBox::Critical}) {
        QMessageBox box(icon, "t", "x", QMessageBox::Ok);
        ui::StyleDialog(&box);
        const QImage mark = box.iconPixmap().toImage();
        ASSERT_FALSE(mark.isNull()) << icon;
        int amber = 0;
        for (int y = 0; y < mark.height(); ++y)
            for (int x = 0; x < mark.width(); ++x)
                amber += mark.pixel(x, y) == 0xFFFFB23F;
        // The ring or triangle and the mark inside it; nothing else is painted.
        EXPECT_GT(amber, mark.width()) << icon;
        EXPECT_EQ(qAlpha(mark.pixel(0, 0)), 0) << icon;
    }
}

} // namespace
