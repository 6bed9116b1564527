// A picture push button: shows one of six bitmaps by its state (0 normal, 1 pressed, 2 focused, 3 disabled,
// 4 hovered, 5 hovered and focused) with the key colour left out, and follows the mouse to show the hover
// picture. A click posts WM_COMMAND (control id, BN_CLICKED) to the parent. UI thread only.
#pragma once

#include "ImageSource.h"

#include <QImage>
#include <QPushButton>

#include <array>

class PlayCtrlButton : public QPushButton {
    Q_OBJECT

public:
    enum Picture {
        kNormal = 0,
        kPressed = 1,
        kFocused = 2,
        kDisabled = 3,
        kHovered = 4,
        kHoveredFocused = 5
    };

    // Without a loader the program-wide default is used (ui::DefaultBitmapLoader at construction).
    explicit PlayCtrlButton(int controlId, QWidget* parent = nullptr, ui::BitmapLoader loader = {});
    ~PlayCtrlButton() override;

    // From now on the button paints its bitmaps instead of the ordinary button face. Returns true.
    bool MakeOwnerDraw();
    // Loads the six bitmaps in order; false at the first id that is 0 or cannot be loaded (those loaded
    // before it stay). When all six load, the button takes the size of the normal bitmap.
    bool LoadBitmaps(unsigned normal, unsigned pressed, unsigned focused, unsigned disabled, unsigned hovered,
                     unsigned hoveredFocused);

    // The picture for a state: disabled wins, then pressed, then hover and focus.
    static Picture PictureFor(bool disabled, bool pressed, bool focused, bool hovered) noexcept;
    Picture CurrentPicture() const noexcept;
    bool IsHovered() const noexcept { return hover_; }
    bool IsOwnerDraw() const noexcept { return ownerDraw_; }
    const QImage& Bitmap(Picture which) const noexcept { return bitmaps_[which]; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

    // Posts the command for a click; a long-push button posts its own and leaves out the mouse's click.
    virtual void OnClicked();

private:
    ui::BitmapLoader loader_;
    std::array<QImage, 6> bitmaps_{};
    bool hover_ = false;
    bool ownerDraw_ = false;
};
