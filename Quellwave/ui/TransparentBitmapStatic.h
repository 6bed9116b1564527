// A picture control: paints the bitmap set on it at its client rectangle (the bitmap's pixel at (x, y) on the
// control's (x, y)), leaving out the key colour. It paints nothing when no bitmap is set. The bitmap is an
// implicitly shared image, so the caller may keep (and cache) the same picture; setting a picture that is
// already keyed costs no copy. UI thread only.
#pragma once

#include "ImageSource.h"

#include <QImage>
#include <QWidget>

class TransparentBitmapStatic : public QWidget {
    Q_OBJECT

public:
    explicit TransparentBitmapStatic(int controlId, QWidget* parent = nullptr);

    // The colour left out when painting, as 0xRRGGBB; kKeyColour unless the owner sets another.
    void SetKeyColour(QRgb key);
    QRgb KeyColour() const noexcept { return key_; }

    // Sets the picture (a null image clears it) and repaints. Returns the picture set before.
    QImage SetBitmap(const QImage& bitmap);
    // The picture as it was set (null when none).
    const QImage& Bitmap() const noexcept { return bitmap_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Rekey();

    QRgb key_ = ui::kKeyColour;
    QImage bitmap_; // as set
    QImage keyed_;  // what is painted: the same picture with the key colour transparent
};
