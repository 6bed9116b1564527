#include "DialogCentring.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QVariant>

#include <algorithm>

namespace ui {

DialogCentring::DialogCentring(QSize panel, QObject* parent) : QObject(parent), panel_(panel) {
    qApp->installEventFilter(this);
}

DialogCentring::~DialogCentring() {
    qApp->removeEventFilter(this);
}

QRect DialogCentring::PanelOn(const QScreen& screen) const {
    const QRect area = screen.geometry();
    const QSize size = panel_.boundedTo(area.size());
    QRect panel(QPoint(0, 0), size);
    panel.moveCenter(area.center());
    return panel;
}

QRect DialogCentring::RoomOn(const QScreen& screen) const {
    const QRect panel = PanelOn(screen);
    return panel.adjusted(std::min(kBandX, panel.width() / 4), std::min(kBandY, panel.height() / 4),
                          -std::min(kBandX, panel.width() / 4), -std::min(kBandY, panel.height() / 4));
}

void DialogCentring::Place(QWidget& dialog) const {
    const QScreen* screen = dialog.screen() != nullptr ? dialog.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect room = RoomOn(*screen);
    // The frame a window manager adds (none without one) counts against the room as well.
    const QSize frame = dialog.frameGeometry().size() - dialog.geometry().size();
    const QSize wanted = dialog.size().boundedTo(room.size() - frame).expandedTo(dialog.minimumSize());
    if (wanted != dialog.size())
        dialog.resize(wanted);
    const QSize outer = wanted + frame;
    const QPoint centre = PanelOn(*screen).center();
    // move() places a window's frame; QRect's centre of an even size lies half a pixel up and left.
    dialog.move(centre.x() - (outer.width() - 1) / 2, centre.y() - (outer.height() - 1) / 2);
}

namespace {
// Where the program last placed a dialog; a dialog found elsewhere was moved by the listener.
constexpr char kPlacedAt[] = "quellwavePlacedAt";

bool Centred(const QDialog& dialog) {
    return !dialog.isFullScreen() && !(dialog.windowState() & Qt::WindowMaximized);
}
} // namespace

void DialogCentring::PlaceAndNote(QWidget& dialog) {
    if (placing_)
        return;
    placing_ = true;
    Place(dialog);
    dialog.setProperty(kPlacedAt, dialog.pos());
    placing_ = false;
}

bool DialogCentring::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Show && event->type() != QEvent::Resize)
        return false;
    auto* dialog = qobject_cast<QDialog*>(watched);
    // The main window is a dialog too, but fills the screen.
    if (dialog == nullptr || !dialog->isWindow() || !Centred(*dialog))
        return false;
    if (event->type() == QEvent::Resize) {
        // A shown dialog that grows or shrinks (a page of it opened, a result added) stays centred, unless
        // the listener has moved it since it was placed.
        const QVariant placedAt = dialog->property(kPlacedAt);
        if (dialog->isVisible() && placedAt.isValid() && placedAt.toPoint() == dialog->pos())
            PlaceAndNote(*dialog);
        return false;
    }
    PlaceAndNote(*dialog);
    // Some dialogs settle their size in their own show handling, after this filter has seen the event (a
    // message box fits itself to its text there): placed once more when that is done, before the first
    // paint.
    QTimer::singleShot(0, dialog, [centring = QPointer<DialogCentring>(this), dialog] {
        if (centring != nullptr && dialog->isVisible())
            centring->PlaceAndNote(*dialog);
    });
    return false;
}

} // namespace ui
