// The panel under a dialog and the marks in the dialogs: what a listener sees when a dialog opens over the
// player (the panel dimmed until the last dialog is gone) and the program's own notice marks.
#include "ui/DialogSupport.h"
#include "ui/PanelDimmer.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <cstdlib>
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

// A drop-down list shows its arrow, in the labels' grey, at its right end; opened, its popup is dark from
// its top edge to its bottom one: no bar of the desktop's light window colour above or below the list.
TEST(DialogLook, ADropDownListHasAnArrowAndOpensDarkToItsEdges) {
    QDialog dialog;
    ui::StyleDialog(&dialog);
    auto* list = new QComboBox(&dialog);
    list->addItems({QStringLiteral("DSD64"), QStringLiteral("DSD128"), QStringLiteral("DSD256")});
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(list);
    dialog.show();
    QApplication::processEvents();

    const QImage closed = list->grab().toImage();
    const int h = closed.height();
    int arrow = 0;
    for (int y = 0; y < h; ++y)
        for (int x = closed.width() - h; x < closed.width(); ++x) {
            const QRgb pixel = closed.pixel(x, y);
            arrow += std::abs(qRed(pixel) - 0x8A) < 12 && std::abs(qBlue(pixel) - 0x96) < 12;
        }
    EXPECT_GT(arrow, 10) << "the arrow's grey at the list's right end";

    list->showPopup();
    QApplication::processEvents();
    QWidget* popup = list->view()->window();
    ASSERT_NE(popup, &dialog);
    ASSERT_TRUE(popup->isVisible());
    const QImage open = popup->grab().toImage();
    ASSERT_GT(open.height(), 3 * list->view()->sizeHintForRow(0) - 1);
    // The border's grey is the lightest colour allowed outside the rows' text.
    const auto light = [](QRgb pixel) { return qGray(pixel) > 0x50; };
    for (const int y : {1, 2, 3, open.height() - 4, open.height() - 3, open.height() - 2})
        for (int x = 1; x < open.width() - 1; ++x)
            ASSERT_FALSE(light(open.pixel(x, y))) << "light pixel at " << x << "," << y;
    list->hidePopup();
}

// A desktop whose buttons carry icons (as the X desktop's theme says they do) gives a message box's
// standard buttons, made with the box, its green and yellow marks; in the panel's look they carry words only.
class IconButtonsStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        if (hint == SH_DialogButtonBox_ButtonsHaveIcons)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

TEST(DialogLook, AMessageBoxsButtonsCarryNoIcon) {
    const QString before = QApplication::style()->name();
    QApplication::setStyle(new IconButtonsStyle);
    for (const bool withOwner : {false, true}) {
        QWidget owner;
        QMessageBox box(withOwner ? &owner : nullptr);
        box.setIcon(QMessageBox::Warning);
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        ASSERT_FALSE(box.button(QMessageBox::Ok)->icon().isNull()) << "the desktop's style gives an icon";
        ui::StyleDialog(&box);
        box.addButton(QMessageBox::Retry);
        for (QAbstractButton* button : box.buttons())
            EXPECT_TRUE(button->icon().isNull()) << button->text().toStdString();
    }
    QApplication::setStyle(before);
}

} // namespace
