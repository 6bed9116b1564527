// The panel under a dialog and the marks in the dialogs: what a listener sees when a dialog opens over the
// player (the panel dimmed until the last dialog is gone) and the program's own notice marks.
#include "ui/DialogSupport.h"
#include "ui/PanelDimmer.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QMessageBox>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QVBoxLayout>

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

bool NearlyAmber(QRgb pixel) {
    return qRed(pixel) > 0xE0 && qGreen(pixel) > 0x98 && qGreen(pixel) < 0xD0 && qBlue(pixel) < 0x80;
}
bool NearlyDark(QRgb pixel) {
    return qRed(pixel) < 0x30 && qGreen(pixel) < 0x30 && qBlue(pixel) < 0x30;
}

// What the indicator of a check box or radio button shows inside its border, as rendered in a styled dialog.
struct IndicatorLook {
    bool amberCorners; // the four corners inside the border
    bool amberCentre;
    int darkInside; // dark pixels inside the border
    int amberInside;
};

IndicatorLook LookOf(QAbstractButton& button, QStyle::SubElement element) {
    QStyleOptionButton option;
    option.initFrom(&button);
    const QRect indicator = button.style()->subElementRect(element, &option, &button).adjusted(3, 3, -3, -3);
    const QImage picture = button.grab().toImage();
    IndicatorLook look{true, NearlyAmber(picture.pixel(indicator.center())), 0, 0};
    for (const QPoint corner :
         {indicator.topLeft(), indicator.topRight(), indicator.bottomLeft(), indicator.bottomRight()})
        look.amberCorners = look.amberCorners && NearlyAmber(picture.pixel(corner));
    for (int y = indicator.top(); y <= indicator.bottom(); ++y)
        for (int x = indicator.left(); x <= indicator.right(); ++x) {
            look.darkInside += NearlyDark(picture.pixel(x, y));
            look.amberInside += NearlyAmber(picture.pixel(x, y));
        }
    return look;
}

// A ticked box is a filled amber square with a dark tick across it; a chosen radio button keeps its amber
// dot on the dark field; neither shows amber unticked. A tick and a dot must never look alike.
TEST(DialogLook, ATickedBoxShowsATickAndAChosenRadioButtonADot) {
    QDialog dialog;
    ui::StyleDialog(&dialog);
    auto* box = new QCheckBox(QStringLiteral("Box"), &dialog);
    auto* radio = new QRadioButton(QStringLiteral("Radio"), &dialog);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(box);
    layout->addWidget(radio);
    dialog.show();
    QApplication::processEvents();

    box->setChecked(false);
    const IndicatorLook emptyBox = LookOf(*box, QStyle::SE_CheckBoxIndicator);
    EXPECT_EQ(emptyBox.amberInside, 0);

    box->setChecked(true);
    const IndicatorLook ticked = LookOf(*box, QStyle::SE_CheckBoxIndicator);
    EXPECT_TRUE(ticked.amberCorners) << "the ticked box is filled to its corners";
    // The tick: a stroke of a couple of pixels from the left across the centre up to the top right.
    EXPECT_GT(ticked.darkInside, 8);
    EXPECT_GT(ticked.amberInside, ticked.darkInside);

    radio->setChecked(true);
    const IndicatorLook chosen = LookOf(*radio, QStyle::SE_RadioButtonIndicator);
    EXPECT_TRUE(chosen.amberCentre);
    EXPECT_FALSE(chosen.amberCorners) << "a dot, not a filled square";
}

} // namespace
