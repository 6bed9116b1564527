#include "DialogSupport.h"

#include "ResourceModules.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

namespace ui {

QString Text(unsigned id) {
    return ResourceString(id);
}

QPushButton* MakeButton(QWidget* parent, int id, const QString& text) {
    auto* button = new QPushButton(text, parent);
    SetControlId(button, id);
    // Enter in a dialog presses its default button only, never the one that has the focus.
    button->setAutoDefault(false);
    return button;
}

QCheckBox* MakeCheckBox(QWidget* parent, int id, const QString& text) {
    auto* box = new QCheckBox(text, parent);
    SetControlId(box, id);
    return box;
}

QLabel* MakeStatic(QWidget* parent, int id, const QString& text) {
    auto* label = new QLabel(text, parent);
    SetControlId(label, id);
    return label;
}

int DluX(const QWidget* dialog, int units) {
    const QFontMetrics metrics(dialog->font());
    // The average width of the 52 letters, as the other platform measures its dialog base unit.
    const int average =
        (metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
             26 +
         1) /
        2;
    return units * average / 4;
}

int DluY(const QWidget* dialog, int units) {
    return units * QFontMetrics(dialog->font()).height() / 8;
}

} // namespace ui
