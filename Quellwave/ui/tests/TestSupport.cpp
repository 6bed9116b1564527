#include "TestSupport.h"

#include <QPainter>
#include <QPainterPath>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>

namespace uitest {

namespace {

constexpr double kGlowRadius = 107.0;

QImage Layer(int scale, const std::function<void(QPainter&)>& draw, int side = 236) {
    QImage image(side * scale, side * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return image;
}

QImage Ring(const QColor& colour, int scale) {
    return Layer(scale, [&](QPainter& p) {
        QPainterPath ring;
        ring.addEllipse(QPointF(118, 118), kGlowRadius + 5, kGlowRadius + 5);
        ring.addEllipse(QPointF(118, 118), kGlowRadius - 5, kGlowRadius - 5);
        p.fillPath(ring, colour);
    });
}

} // namespace

ui::NamedImageLoader PaintedDialImages() {
    return [](const QString& name, int scale) -> QImage {
        if (name == QLatin1String("indicator_glow_on.png"))
            return Ring(kGlowOn, scale);
        if (name == QLatin1String("indicator_glow_off.png"))
            return Ring(kGlowOff, scale);
        if (name == QLatin1String("indicator_glow_muting.png"))
            return Ring(kGlowMuting, scale);
        if (name == QLatin1String("volume_dial.png"))
            return Layer(scale, [](QPainter& p) {
                p.setBrush(QColor(0x14, 0x15, 0x17));
                p.drawEllipse(QPointF(118, 118), 92, 92);
            });
        if (name == QLatin1String("volume_dial_marks_7.png")) {
            return Layer(
                scale,
                [](QPainter& p) {
                    const double a = 120.0 * M_PI / 180.0;
                    p.setPen(QPen(QColor(0xC8, 0xCC, 0xD2), 3.0, Qt::SolidLine, Qt::RoundCap));
                    p.drawLine(QPointF(92 + 58 * std::cos(a), 92 + 58 * std::sin(a)),
                               QPointF(92 + 84 * std::cos(a), 92 + 84 * std::sin(a)));
                },
                184);
        }
        return {}; // the slit and the face are left out: a missing layer is simply not drawn
    };
}

ui::BitmapLoader PaintedBitmaps() {
    return [](unsigned id, int scale) {
        QImage image(24 * scale, 34 * scale, QImage::Format_RGB32);
        image.fill(QColor(0xFF, 0x00, 0x80));
        QPainter(&image).fillRect(2 * scale, 2 * scale, 20 * scale, 30 * scale, kBitmapFill);
        image.setDevicePixelRatio(scale);
        image.setText(QStringLiteral("id"), QString::number(id));
        return image;
    };
}

const char* GlowAt(const QImage& image, double angleDegrees) {
    const double a = angleDegrees * M_PI / 180.0;
    const double ratio = image.devicePixelRatio();
    const QColor pixel = image.pixelColor(int((118 + kGlowRadius * std::cos(a)) * ratio),
                                          int((118 + kGlowRadius * std::sin(a)) * ratio));
    const auto distance = [&](const QColor& c) {
        return std::abs(pixel.red() - c.red()) + std::abs(pixel.green() - c.green()) +
               std::abs(pixel.blue() - c.blue());
    };
    const int on = distance(kGlowOn), off = distance(kGlowOff), muting = distance(kGlowMuting);
    if (on <= off && on <= muting)
        return "on";
    return off <= muting ? "off" : "muting";
}

} // namespace uitest
