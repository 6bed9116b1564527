// What the dialogs built in code share: their texts by string id from the resource chain, buttons and
// statics that carry their control ids, and the results their modal loops end with (IDOK 1, IDCANCEL 2, as
// the window that runs them compares them). UI thread only.
#pragma once

#include "ControlNotify.h"

#include <QPixmap>
#include <QString>

class QCheckBox;
class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

namespace ui {

// String `id` of the resource chain (resource module, skin, program); empty when none has it.
QString Text(unsigned id);

// A push button / check box / static with its control id and text.
QPushButton* MakeButton(QWidget* parent, int id, const QString& text);
QCheckBox* MakeCheckBox(QWidget* parent, int id, const QString& text);
QLabel* MakeStatic(QWidget* parent, int id, const QString& text = {});
// A progress bar (0..100) with its control id whose figure stays readable wherever the bar has reached:
// dark on the filled amber part, light on the empty groove.
QProgressBar* MakeProgressBar(QWidget* parent, int id);

// Gives a dialog (and everything in it) the panel's look: the dark metal, light text and amber accents,
// skinned buttons and check boxes, and type that reads from a sofa (kDialogFontPx, scaled with the panel
// like everything else: 25 pixels on a 1080-line screen). Call it first in the dialog's constructor: the
// dialog's font, and so its dialog units, are those of the look afterwards.
inline constexpr int kDialogFontPx = 18;
void StyleDialog(QWidget* dialog);

// Gives a file dialog's own parts the look: its tool buttons (back, forward, up, new folder, list and
// detail view) the program's drawn icons in the labels' light grey, sized with the dialog's type, and its
// file-name suggestions a dark list in the dialog's type. Call it once the dialog has made its widgets.
void StyleFileDialogParts(QWidget* dialog);

// The notice marks of the dialogs, drawn in the panel's amber line: a ring with an "i", a triangle or a
// ring with an "!". `size` is in device-independent pixels.
enum class NoticeGlyph { kInformation, kWarning, kStop };
QPixmap NoticeIcon(NoticeGlyph glyph, int size, double pixelRatio = 1.0);

// Converts dialog units to pixels for the dialog's font, as the other platform lays out its templates:
// a horizontal unit is a quarter of the average character width, a vertical one an eighth of the height.
int DluX(const QWidget* dialog, int units);
int DluY(const QWidget* dialog, int units);

} // namespace ui
