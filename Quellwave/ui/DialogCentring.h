// Places every dialog of the program in the middle of the panel as it appears, once it has its final size,
// and keeps it inside the panel's area clear of the window buttons along the panel's top edge: Qt would
// place a dialog by its size before its layout settled, less a guess at a window frame, and so above and
// left of the centre. The panel is the given size centred on the dialog's screen, as the main window shows
// it. A shown dialog whose size changes is centred again, unless it was moved since. UI thread only.
#pragma once

#include <QObject>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

namespace ui {

class DialogCentring : public QObject {
public:
    // Watches the application for dialogs from now until it is destroyed. `panel` in logical pixels.
    explicit DialogCentring(QSize panel, QObject* parent = nullptr);
    ~DialogCentring() override;

    // Room kept free along the panel's top and bottom edges (the minimise and close buttons sit at its top
    // right) and its sides, in the panel's logical pixels.
    static constexpr int kBandY = 48;
    static constexpr int kBandX = 24;

    // The panel's rectangle on `screen` and the part of it a dialog may cover.
    QRect PanelOn(const QScreen& screen) const;
    QRect RoomOn(const QScreen& screen) const;

    // Fits `dialog` into the room (where its minimum size allows) and centres its frame on the panel.
    void Place(QWidget& dialog) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Place, and the position it gave, by which a later resize tells whether the listener moved the
    // dialog since.
    void PlaceAndNote(QWidget& dialog);

    QSize panel_;
    bool placing_ = false; // Place's own resize is not a change to follow
};

} // namespace ui
