#include "DialogSupport.h"

#include "shell/ResourceIds.h"
#include "shell/ResourceModules.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QIconEngine>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QRegion>
#include <QStyleOptionProgressBar>
#include <QStylePainter>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

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

namespace {

// The figure on the bar is drawn by the bar itself, in two colours split where the filled part ends: one
// colour over both the amber and the dark part could never read on both (light grey on amber is 1.3:1).
class TwoToneProgressBar final : public QProgressBar {
public:
    using QProgressBar::QProgressBar;

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionProgressBar option;
        initStyleOption(&option);
        option.textVisible = false;
        painter.drawControl(QStyle::CE_ProgressBar, option);
        if (!isTextVisible() || maximum() <= minimum())
            return;
        // The groove lies inside a 1-pixel border; the filled part grows from its left edge.
        const QRect groove = rect().adjusted(1, 1, -1, -1);
        const double share = std::clamp(double(value() - minimum()) / (maximum() - minimum()), 0.0, 1.0);
        const QRect filled(groove.left(), groove.top(), int(std::lround(groove.width() * share)),
                           groove.height());
        const QString figure = text();
        painter.setFont(font());
        painter.setClipRect(filled);
        painter.setPen(kFigureOnFilled);
        painter.drawText(rect(), Qt::AlignCenter, figure);
        painter.setClipRegion(QRegion(rect()).subtracted(QRegion(filled)));
        painter.setPen(kFigureOnGroove);
        painter.drawText(rect(), Qt::AlignCenter, figure);
    }

private:
    static constexpr QColor kFigureOnFilled{0x0B, 0x0C, 0x0D};
    static constexpr QColor kFigureOnGroove{0xD6, 0xD9, 0xDD};
};

// The panel's palette: metal #1C1E21 with its bevel (#3A3D42 above, #0B0C0D below), labels #8A8F96, text
// #D6D9DD, the display's amber #FFB23F; a disabled text or glyph at 30 %. A dialog is a slightly lighter
// plate than the panel it stands on, edged by the bevel's light line and a thin amber rule along its top,
// so it reads as a card over the dimmed panel with or without a window manager's frame. Buttons carry
// words only: the desktop theme's little icons belong to another look. A drop-down list's popup is a
// window of its own, so its frame gets the dark field from its own rule, and it opens as a plain list:
// the menu-like popup some styles give it would leave bars in the window's light colour above and below.
const char* const kDialogStyle = R"(
* { font-family: "DejaVu Sans", "Noto Sans", sans-serif; font-size: %1px; dialogbuttonbox-buttons-have-icons: 0; }
QDialog, QMessageBox, QFileDialog {
    background-color: #23262A; color: #D6D9DD;
    border: 2px solid #3A3D42; border-top: 3px solid #B07A2A;
}
QLabel { color: #D6D9DD; background: transparent; }
QLabel:disabled { color: rgba(214, 217, 221, 77); }
QPushButton {
    color: #D6D9DD; padding: 0.35em 1.3em; min-width: 4.5em; min-height: 1.4em;
    border: 1px solid #0B0C0D; border-top-color: #3A3D42; border-left-color: #3A3D42; border-radius: 0.55em;
    background: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #30343A, stop: 1 #26292D);
}
QPushButton:hover { background: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #383C43, stop: 1 #2D3035); }
QPushButton:pressed {
    background: #202326; border-top-color: #0B0C0D; border-left-color: #0B0C0D; border-bottom-color: #3A3D42;
    border-right-color: #3A3D42; padding-top: 0.4em; padding-bottom: 0.3em;
}
QPushButton:default, QPushButton:focus { border: 1px solid #FFB23F; }
QPushButton:disabled { color: rgba(214, 217, 221, 77); background: #222528; border-color: #2A2D31; }
QCheckBox, QRadioButton { color: #D6D9DD; spacing: 0.6em; background: transparent; }
QCheckBox:disabled, QRadioButton:disabled { color: rgba(214, 217, 221, 77); }
QCheckBox::indicator, QRadioButton::indicator {
    width: 1em; height: 1em; background: #0B0C0D; border: 1px solid #3A3D42; border-radius: 0.2em;
}
QRadioButton::indicator { border-radius: 0.5em; }
QCheckBox::indicator:hover, QRadioButton::indicator:hover { border-color: #8A8F96; }
QCheckBox::indicator:checked {
    background: #FFB23F; border-color: #FFB23F; image: url(%2);
}
QCheckBox::indicator:checked:hover { background: #FFC262; border-color: #FFC262; }
QCheckBox::indicator:checked:disabled { background: rgba(255, 178, 63, 77); border-color: #2A2D31; }
QRadioButton::indicator:checked {
    background: qradialgradient(cx: 0.5, cy: 0.5, radius: 0.5, fx: 0.5, fy: 0.5,
                                stop: 0 #FFB23F, stop: 0.55 #FFB23F, stop: 0.62 #0B0C0D, stop: 1 #0B0C0D);
}
QCheckBox::indicator:disabled { border-color: #2A2D31; }
QLineEdit, QComboBox, QSpinBox {
    color: #D6D9DD; background: #0B0C0D; border: 1px solid #3A3D42; border-radius: 0.25em;
    padding: 0.2em 0.4em; selection-background-color: #FFB23F; selection-color: #0B0C0D;
}
QComboBox { combobox-popup: 0; }
QComboBox::drop-down {
    subcontrol-origin: padding; subcontrol-position: center right; width: 1.4em; border: none;
    border-left: 1px solid #2A2D31;
}
QComboBox::down-arrow { image: url(%3); }
QComboBox::down-arrow:on { top: 1px; }
QComboBox QAbstractItemView {
    color: #D6D9DD; background: #0B0C0D; border: none; outline: 0;
    selection-background-color: #3A3D42; selection-color: #FFB23F;
}
QComboBox QAbstractItemView::item { padding: 0.1em 0.4em; }
QComboBoxPrivateContainer { background: #0B0C0D; border: 1px solid #3A3D42; padding: 0; margin: 0; }
QTreeView, QListView, QTableView {
    color: #D6D9DD; background: #0B0C0D; alternate-background-color: #111315; border: 1px solid #3A3D42;
    selection-background-color: #3A3D42; selection-color: #FFB23F; outline: 0;
}
QHeaderView::section {
    color: #8A8F96; background: #1C1E21; border: none; border-right: 1px solid #2A2D31;
    border-bottom: 1px solid #3A3D42; padding: 0.2em 0.5em;
}
QProgressBar {
    color: #D6D9DD; background: #0B0C0D; border: 1px solid #3A3D42; border-radius: 0.25em; text-align: center;
}
QProgressBar::chunk { background: #FFB23F; border-radius: 0.2em; }
QGroupBox { color: #8A8F96; border: 1px solid #3A3D42; border-radius: 0.3em; margin-top: 0.8em; }
QGroupBox::title { subcontrol-origin: margin; left: 0.6em; padding: 0 0.3em; }
QToolButton { background: transparent; border: 1px solid transparent; border-radius: 0.25em; padding: 0.15em; }
QToolButton:hover { border-color: #3A3D42; background: #26292D; }
QScrollBar:vertical { background: #111315; width: 0.7em; margin: 0; }
QScrollBar:horizontal { background: #111315; height: 0.7em; margin: 0; }
QScrollBar::handle { background: #3A3D42; border-radius: 0.3em; min-height: 1.5em; min-width: 1.5em; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }
QScrollBar::add-page, QScrollBar::sub-page { background: none; }
QToolTip { color: #D6D9DD; background: #0B0C0D; border: 1px solid #3A3D42; }
)";

// The file dialog's tool marks, drawn as vector shapes on a 24-unit grid at whatever size and pixel ratio
// they are asked for, so they stay crisp on a 4K screen.
// The same line work marks the entries of its lists and side bar: folders, files, the computer, drives.
enum class ToolMark { kBack, kForward, kUp, kNewFolder, kList, kDetail, kFolder, kFile, kComputer, kDrive };

class ToolMarkEngine final : public QIconEngine {
public:
    explicit ToolMarkEngine(ToolMark mark) : mark_(mark) {}

    QIconEngine* clone() const override { return new ToolMarkEngine(mark_); }

    // Asked for in device pixels (the icon sets the pixel ratio afterwards); clear around the mark.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap picture(size);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return picture;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const double side = std::min(rect.width(), rect.height());
        painter->translate(rect.x() + (rect.width() - side) / 2.0, rect.y() + (rect.height() - side) / 2.0);
        painter->scale(side / 24.0, side / 24.0);
        QColor ink = kInk;
        if (mode == QIcon::Disabled)
            ink.setAlphaF(0.3);
        else if (mode == QIcon::Active || mode == QIcon::Selected)
            ink = kInkLit;
        QPen pen(ink, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        switch (mark_) {
        case ToolMark::kBack:
        case ToolMark::kForward:
        case ToolMark::kUp: {
            // An arrow: a shaft and an open head, pointing left, right or up.
            const double turn = mark_ == ToolMark::kBack ? 180 : mark_ == ToolMark::kUp ? -90 : 0;
            painter->translate(12, 12);
            painter->rotate(turn);
            painter->drawLine(QPointF(-7, 0), QPointF(7, 0));
            painter->drawPolyline(QPolygonF({QPointF(1, -6), QPointF(7, 0), QPointF(1, 6)}));
            break;
        }
        case ToolMark::kNewFolder:
        case ToolMark::kFolder: {
            QPainterPath folder;
            folder.moveTo(2.5, 19.5);
            folder.lineTo(2.5, 5);
            folder.lineTo(9, 5);
            folder.lineTo(11, 7.5);
            folder.lineTo(21.5, 7.5);
            folder.lineTo(21.5, 19.5);
            folder.closeSubpath();
            painter->drawPath(folder);
            if (mark_ == ToolMark::kNewFolder) {
                painter->drawLine(QPointF(12, 10.5), QPointF(12, 16.5));
                painter->drawLine(QPointF(9, 13.5), QPointF(15, 13.5));
            }
            break;
        }
        case ToolMark::kFile: {
            // A page with its corner turned down.
            painter->drawPolygon(QPolygonF({QPointF(5.5, 2.5), QPointF(14, 2.5), QPointF(18.5, 7),
                                            QPointF(18.5, 21.5), QPointF(5.5, 21.5)}));
            painter->drawPolyline(QPolygonF({QPointF(14, 2.5), QPointF(14, 7), QPointF(18.5, 7)}));
            break;
        }
        case ToolMark::kComputer:
            // A screen on its foot.
            painter->drawRoundedRect(QRectF(2.5, 3.5, 19, 13), 1.5, 1.5);
            painter->drawLine(QPointF(12, 16.5), QPointF(12, 20.5));
            painter->drawLine(QPointF(7.5, 20.5), QPointF(16.5, 20.5));
            break;
        case ToolMark::kDrive:
            // A drive's front with its light.
            painter->drawRoundedRect(QRectF(2.5, 7.5, 19, 9), 1.5, 1.5);
            painter->setPen(Qt::NoPen);
            painter->setBrush(ink);
            painter->drawEllipse(QPointF(17.5, 12), 1.5, 1.5);
            break;
        case ToolMark::kList:
        case ToolMark::kDetail:
            // Rows of entries: a mark and a name; the detail view adds a column of figures after each.
            for (const double y : {5.5, 12.0, 18.5}) {
                painter->setPen(Qt::NoPen);
                painter->setBrush(ink);
                painter->drawRect(QRectF(2.5, y - 1.5, 3, 3));
                painter->setPen(pen);
                painter->setBrush(Qt::NoBrush);
                if (mark_ == ToolMark::kList) {
                    painter->drawLine(QPointF(8.5, y), QPointF(21, y));
                } else {
                    painter->drawLine(QPointF(8.5, y), QPointF(14, y));
                    painter->drawLine(QPointF(17.5, y), QPointF(21, y));
                }
            }
            break;
        }
        painter->restore();
    }

private:
    // The labels' grey made a little lighter, so the marks read on the dark plate at a glance; amber when
    // the pointer is over them.
    static constexpr QColor kInk{0xB4, 0xB8, 0xBE};
    static constexpr QColor kInkLit{0xFF, 0xB2, 0x3F};
    ToolMark mark_;
};

// The entries' marks in the file dialog's lists, side bar and folder list, in place of the desktop theme's
// coloured pictures.
class FileMarkProvider final : public QAbstractFileIconProvider {
public:
    QIcon icon(IconType type) const override {
        switch (type) {
        case Computer:
            return Mark(ToolMark::kComputer);
        case Drive:
        case Network:
            return Mark(ToolMark::kDrive);
        case Folder:
        case Desktop:
        case Trashcan:
            return Mark(ToolMark::kFolder);
        case File:
            break;
        }
        return Mark(ToolMark::kFile);
    }
    QIcon icon(const QFileInfo& info) const override {
        if (info.isRoot())
            return Mark(ToolMark::kDrive);
        return Mark(info.isDir() ? ToolMark::kFolder : ToolMark::kFile);
    }

private:
    static QIcon Mark(ToolMark mark) { return QIcon(new ToolMarkEngine(mark)); }
};

// The look on one widget: palette, style and the look's font.
void ApplyLook(QWidget* widget);

} // namespace

QProgressBar* MakeProgressBar(QWidget* parent, int id) {
    auto* bar = new TwoToneProgressBar(parent);
    SetControlId(bar, id);
    bar->setRange(0, 100);
    bar->setValue(0);
    return bar;
}

void StyleDialog(QWidget* dialog) {
    ApplyLook(dialog);
    // A message box's icon in the panel's own drawing instead of the desktop theme's.
    if (auto* box = qobject_cast<QMessageBox*>(dialog);
        box != nullptr && box->icon() != QMessageBox::NoIcon) {
        const NoticeGlyph glyph =
            box->icon() == QMessageBox::Critical ? NoticeGlyph::kStop
            : box->icon() == QMessageBox::Information || box->icon() == QMessageBox::Question
                ? NoticeGlyph::kInformation
                : NoticeGlyph::kWarning;
        box->setIconPixmap(NoticeIcon(glyph, kDialogFontPx * 2, box->devicePixelRatioF()));
    }
    // Buttons made before the look (a message box's standard ones, given with its constructor) took the
    // desktop theme's icons along; the look's rule keeps them off buttons made from now on.
    for (const QDialogButtonBox* buttons : dialog->findChildren<QDialogButtonBox*>())
        for (QAbstractButton* button : buttons->buttons())
            button->setIcon(QIcon());
    dialog->ensurePolished();
}

void StyleFileDialogParts(QWidget* dialog) {
    const std::pair<const char*, ToolMark> tools[] = {
        {"backButton", ToolMark::kBack},     {"forwardButton", ToolMark::kForward},
        {"toParentButton", ToolMark::kUp},   {"newFolderButton", ToolMark::kNewFolder},
        {"listModeButton", ToolMark::kList}, {"detailModeButton", ToolMark::kDetail},
    };
    // One provider for every file dialog: a dialog keeps a pointer to it, never a copy.
    static FileMarkProvider marks;
    if (auto* files = qobject_cast<QFileDialog*>(dialog))
        files->setIconProvider(&marks);
    // A little larger than the type's cap height, as the marks beside a line of text.
    const int side = kDialogFontPx * 5 / 4;
    for (const auto& [name, mark] : tools) {
        auto* button = dialog->findChild<QToolButton*>(QString::fromLatin1(name));
        if (button == nullptr)
            continue;
        button->setIcon(QIcon(new ToolMarkEngine(mark)));
        button->setIconSize(QSize(side, side));
    }
    // The suggestions under the file name are a window of their own, with no dialog to take the look from.
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        name != nullptr && name->completer() != nullptr) {
        QAbstractItemView* suggestions = name->completer()->popup();
        ApplyLook(suggestions);
        name->completer()->setMaxVisibleItems(8);
    }
}

namespace {

void ApplyLook(QWidget* dialog) {
    QPalette colours = dialog->palette();
    colours.setColor(QPalette::Window, QColor(0x1C, 0x1E, 0x21));
    colours.setColor(QPalette::WindowText, QColor(0xD6, 0xD9, 0xDD));
    colours.setColor(QPalette::Base, QColor(0x0B, 0x0C, 0x0D));
    colours.setColor(QPalette::AlternateBase, QColor(0x11, 0x13, 0x15));
    colours.setColor(QPalette::Text, QColor(0xD6, 0xD9, 0xDD));
    colours.setColor(QPalette::Button, QColor(0x2A, 0x2D, 0x31));
    colours.setColor(QPalette::ButtonText, QColor(0xD6, 0xD9, 0xDD));
    colours.setColor(QPalette::Highlight, QColor(0x3A, 0x3D, 0x42));
    colours.setColor(QPalette::HighlightedText, QColor(0xFF, 0xB2, 0x3F));
    colours.setColor(QPalette::Link, QColor(0xFF, 0xB2, 0x3F));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        colours.setColor(QPalette::Disabled, role, QColor(0xD6, 0xD9, 0xDD, 77));
    dialog->setPalette(colours);
    // The drawn marks come from the program's own resources, at 1x, @2x and @3x for the panel's scale.
    static const std::unique_ptr<CResourceModule> program = CResourceModule::Program();
    dialog->setStyleSheet(
        QString::fromLatin1(kDialogStyle)
            .arg(kDialogFontPx)
            .arg(program->BitmapPath(resid::kDialogTick), program->BitmapPath(resid::kDialogDropArrow)));
    // The look's font from now on, so that what the dialog measures in its constructor is measured in it.
    QFont font = dialog->font();
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans")});
    font.setPixelSize(kDialogFontPx);
    dialog->setFont(font);
}

} // namespace

QPixmap NoticeIcon(NoticeGlyph glyph, int size, double pixelRatio) {
    QPixmap picture(QSize(size, size) * pixelRatio);
    picture.setDevicePixelRatio(pixelRatio);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor amber(0xFF, 0xB2, 0x3F);
    const double s = size;
    const double stroke = std::max(1.5, s / 14);
    p.setPen(QPen(amber, stroke));
    p.setBrush(Qt::NoBrush);
    if (glyph == NoticeGlyph::kWarning) {
        QPainterPath triangle;
        triangle.moveTo(s / 2, stroke);
        triangle.lineTo(s - stroke, s - stroke * 1.5);
        triangle.lineTo(stroke, s - stroke * 1.5);
        triangle.closeSubpath();
        p.setPen(QPen(amber, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(triangle);
    } else {
        p.drawEllipse(QRectF(stroke, stroke, s - 2 * stroke, s - 2 * stroke));
    }
    // The mark inside: "i" for information, "!" for a warning or a stop.
    p.setPen(Qt::NoPen);
    p.setBrush(amber);
    const double bar = s * 0.11;
    const double x = s / 2 - bar / 2;
    const bool information = glyph == NoticeGlyph::kInformation;
    const double dotY = information ? s * 0.24 : (glyph == NoticeGlyph::kWarning ? s * 0.70 : s * 0.66);
    const double barTop = information ? s * 0.40 : (glyph == NoticeGlyph::kWarning ? s * 0.34 : s * 0.24);
    const double barBottom = information ? s * 0.76 : (glyph == NoticeGlyph::kWarning ? s * 0.62 : s * 0.58);
    p.drawRoundedRect(QRectF(x, barTop, bar, barBottom - barTop), bar / 2, bar / 2);
    p.drawEllipse(QRectF(x - bar * 0.1, dotY, bar * 1.2, bar * 1.2));
    return picture;
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
