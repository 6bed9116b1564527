#include "TransparentBitmapStatic.h"

#include "ControlNotify.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

#include <utility>

namespace {

// A picture keyed before (an alpha channel and not a pixel of the key colour) is used as it is; checking is
// cheaper than copying, and the display's digits are all such pictures.
bool AlreadyKeyed(const QImage& image, QRgb key) {
    if (!image.hasAlphaChannel() || image.format() != QImage::Format_ARGB32_Premultiplied)
        return false;
    const QRgb keyRgb = key & 0xFFFFFF;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            // Premultiplied: an opaque pixel of the key colour reads exactly as the key with alpha 255.
            if (qAlpha(line[x]) == 255 && (line[x] & 0xFFFFFF) == keyRgb)
                return false;
        }
    }
    return true;
}

} // namespace

TransparentBitmapStatic::TransparentBitmapStatic(int controlId, QWidget* parent) : QWidget(parent) {
    ui::SetControlId(this, controlId);
}

void TransparentBitmapStatic::SetKeyColour(QRgb key) {
    if ((key & 0xFFFFFF) == (key_ & 0xFFFFFF))
        return;
    key_ = key;
    Rekey();
    update();
}

QImage TransparentBitmapStatic::SetBitmap(const QImage& bitmap) {
    QImage previous = std::exchange(bitmap_, bitmap);
    if (!bitmap_.isNull() && previous.cacheKey() == bitmap_.cacheKey())
        return previous;
    Rekey();
    update();
    return previous;
}

void TransparentBitmapStatic::Rekey() {
    if (bitmap_.isNull() || AlreadyKeyed(bitmap_, key_))
        keyed_ = bitmap_;
    else
        keyed_ = ui::KeyedImage(bitmap_, key_);
    // Drawn at the screen's own scale (a whole scale's artwork reduced for a panel scaled by 1.4).
    keyed_ = ui::AtPixelRatio(keyed_, devicePixelRatioF());
}

void TransparentBitmapStatic::paintEvent(QPaintEvent*) {
    if (keyed_.isNull())
        return;
    QPainter painter(this);
    // The client rectangle from the same coordinates in the bitmap: a picture larger than the control is cut
    // off, a smaller one leaves the rest unpainted.
    const QSizeF size = keyed_.deviceIndependentSize();
    const QRectF source(QPointF(0, 0), QSizeF(std::min<qreal>(width(), size.width()),
                                              std::min<qreal>(height(), size.height())));
    painter.drawImage(
        source, keyed_,
        QRectF(source.topLeft() * keyed_.devicePixelRatio(), source.size() * keyed_.devicePixelRatio()));
}
