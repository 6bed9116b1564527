#include "TestSupport.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdlib>

namespace uitest {

namespace {

const QColor kGlass(0x05, 0x06, 0x07);
const QColor kKey(0xFF, 0x00, 0x80);

QColor Faded(const QColor& colour, double share, const QColor& under = kGlass) {
    return QColor::fromRgbF(static_cast<float>(colour.redF() * share + under.redF() * (1 - share)),
                            static_cast<float>(colour.greenF() * share + under.greenF() * (1 - share)),
                            static_cast<float>(colour.blueF() * share + under.blueF() * (1 - share)));
}

QImage Canvas(QSizeF logical, int scale) {
    QImage image(qRound(logical.width() * scale), qRound(logical.height() * scale),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(scale);
    return image;
}

// Turns a picture painted on transparency into a keyed bitmap: untouched pixels become the key colour,
// the rest is laid opaque over `under` so no edge mixes with the key colour.
QImage OnKey(const QImage& painted, const QColor& under, unsigned id) {
    QImage out(painted.size(), QImage::Format_RGB32);
    const QRgb base = under.rgb();
    for (int y = 0; y < painted.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(painted.constScanLine(y));
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < painted.width(); ++x) {
            const QRgb p = in[x];
            const int a = qAlpha(p);
            if (a == 0) {
                line[x] = kKey.rgb();
                continue;
            }
            // Premultiplied source over an opaque colour.
            line[x] = qRgb(qRed(p) + qRed(base) * (255 - a) / 255, qGreen(p) + qGreen(base) * (255 - a) / 255,
                           qBlue(p) + qBlue(base) * (255 - a) / 255);
        }
    }
    out.setDevicePixelRatio(painted.devicePixelRatio());
    out.setText(QStringLiteral("id"), QString::number(id));
    return out;
}

QFont LabelFont(double pixelSize, bool bold = true) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(qRound(pixelSize));
    font.setBold(bold);
    font.setLetterSpacing(QFont::PercentageSpacing, 108);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// A seven-segment digit (or -1 for a blank), slanted 6 degrees, lit segments amber and the rest faint.
QImage Digit(int digit, QSizeF size, int scale, unsigned id) {
    static const char* kSegments[10] = {"abcdef", "bc",     "abdeg", "abcdg",   "bcfg",
                                        "acdfg",  "acdefg", "abc",   "abcdefg", "abcdfg"};
    QImage image = Canvas(size, scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const double w = size.width(), h = size.height();
    const double t = w * 0.15; // segment thickness
    const double g = t * 0.18; // gap between segments
    const double x0 = w * 0.16, x1 = w * 0.86, y0 = h * 0.08, y1 = h * 0.92, ym = h * 0.5;
    const double slant = std::tan(6.0 * M_PI / 180.0);
    const auto pt = [&](double x, double y) { return QPointF(x + (ym - y) * slant, y); };
    const auto horizontal = [&](double y) {
        QPolygonF poly{pt(x0 + g, y), pt(x0 + g + t / 2, y - t / 2), pt(x1 - g - t / 2, y - t / 2),
                       pt(x1 - g, y), pt(x1 - g - t / 2, y + t / 2), pt(x0 + g + t / 2, y + t / 2)};
        return poly;
    };
    const auto vertical = [&](double x, double ya, double yb) {
        QPolygonF poly{pt(x, ya + g), pt(x + t / 2, ya + g + t / 2), pt(x + t / 2, yb - g - t / 2),
                       pt(x, yb - g), pt(x - t / 2, yb - g - t / 2), pt(x - t / 2, ya + g + t / 2)};
        return poly;
    };
    const std::pair<char, QPolygonF> segments[] = {
        {'a', horizontal(y0 + t / 2)},
        {'g', horizontal(ym)},
        {'d', horizontal(y1 - t / 2)},
        {'f', vertical(x0 + t / 2, y0 + t / 2, ym)},
        {'b', vertical(x1 - t / 2, y0 + t / 2, ym)},
        {'e', vertical(x0 + t / 2, ym, y1 - t / 2)},
        {'c', vertical(x1 - t / 2, ym, y1 - t / 2)},
    };
    const QString lit = digit >= 0 ? QString::fromLatin1(kSegments[digit]) : QString();
    for (const auto& [name, poly] : segments) {
        p.setBrush(lit.contains(QLatin1Char(name)) ? kAmber : Faded(kAmber, 0.07));
        p.drawPolygon(poly);
    }
    p.end();
    return OnKey(image, kGlass, id);
}

QImage Colon(QSizeF size, int scale, unsigned id) {
    QImage image = Canvas(size, scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kAmber);
    const double r = size.width() * 0.45;
    p.drawEllipse(QPointF(size.width() / 2, size.height() * 0.33), r, r);
    p.drawEllipse(QPointF(size.width() / 2, size.height() * 0.70), r, r);
    p.end();
    return OnKey(image, kGlass, id);
}

QImage Text(const QString& text, QSizeF size, int scale, const QColor& colour, double pixelSize, unsigned id,
            Qt::Alignment align = Qt::AlignCenter) {
    QImage image = Canvas(size, scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setFont(LabelFont(pixelSize));
    p.setPen(colour);
    p.drawText(QRectF(QPointF(0, 0), size), align, text);
    p.end();
    return OnKey(image, kGlass, id);
}

QImage PlayGlyph(int kind, int scale, unsigned id) {
    const QSizeF size(33, 19);
    QImage image = Canvas(size, scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kAmber);
    if (kind == 0) { // playing
        p.drawPolygon(QPolygonF{QPointF(11, 3), QPointF(25, 9.5), QPointF(11, 16)});
    } else if (kind == 1) { // paused
        p.drawRoundedRect(QRectF(10, 3, 4.5, 13), 1, 1);
        p.drawRoundedRect(QRectF(18.5, 3, 4.5, 13), 1, 1);
    } else { // stopped
        p.drawRoundedRect(QRectF(10.5, 3.5, 12, 12), 1, 1);
    }
    p.end();
    return OnKey(image, kGlass, id);
}

QImage Background(int scale) {
    const QSizeF size(472, 80);
    QImage image = Canvas(size, scale);
    QPainter p(&image);
    p.fillRect(QRectF(QPointF(0, 0), size), kGlass);
    QLinearGradient reflection(0, 0, 0, 30);
    reflection.setColorAt(0, QColor(255, 255, 255, 12));
    reflection.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(QRectF(1, 1, 470, 30), reflection);
    p.setPen(QPen(Qt::black, 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, 471, 79));
    p.end();
    QImage out = image.convertToFormat(QImage::Format_RGB32);
    out.setText(QStringLiteral("id"), QStringLiteral("4042"));
    return out;
}

// A round machined button: a metal face in a two-tone ring. light: 0 normal, +1 hovered, -1 pressed.
QImage RoundButton(int light, bool disabled, bool focused, int scale, unsigned id) {
    const QSizeF size(32, 32);
    QImage image = Canvas(size, scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor metal(0x1C, 0x1E, 0x21);
    const QColor face = light > 0 ? metal.lighter(135) : (light < 0 ? metal.darker(125) : metal.lighter(112));
    QLinearGradient ring(0, 0, 0, 32);
    ring.setColorAt(0, QColor(0x3A, 0x3D, 0x42));
    ring.setColorAt(1, QColor(0x0B, 0x0C, 0x0D));
    p.setPen(Qt::NoPen);
    p.setBrush(ring);
    p.drawEllipse(QRectF(1, 1, 30, 30));
    QRadialGradient brushed(QPointF(16, 14), 14);
    brushed.setColorAt(0, face.lighter(115));
    brushed.setColorAt(1, face);
    p.setBrush(brushed);
    p.drawEllipse(QRectF(3.5, 3.5, 25, 25));
    if (focused) {
        p.setPen(QPen(Faded(kAmber, 0.55, metal), 1.2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(1.6, 1.6, 28.8, 28.8));
    }
    // A small amber dot marks the button; dimmed when disabled.
    p.setPen(Qt::NoPen);
    p.setBrush(disabled ? Faded(kAmber, 0.3, face) : kAmber);
    p.drawEllipse(QPointF(16, 16 + (light < 0 ? 1 : 0)), 2.2, 2.2);
    p.end();
    return OnKey(image, QColor(0x1C, 0x1E, 0x21), id);
}

QImage Ring(double inner, double outer, const QBrush& brush, int scale) {
    QImage image = Canvas(QSizeF(236, 236), scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addEllipse(QPointF(118, 118), outer, outer);
    path.addEllipse(QPointF(118, 118), inner, inner);
    p.fillPath(path, brush);
    return image;
}

QImage GlowRing(const QColor& top, const QColor& bottom, int scale) {
    QLinearGradient gradient(0, 0, 0, 236);
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    return Ring(kGlowRadius - 5, kGlowRadius + 5, gradient, scale);
}

QImage Knob(int scale) {
    QImage image = Canvas(QSizeF(236, 236), scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(118, 118);
    QRadialGradient cap(QPointF(110, 100), 95);
    cap.setColorAt(0, QColor(0x26, 0x27, 0x2A));
    cap.setColorAt(1, QColor(0x0E, 0x0F, 0x10));
    p.setPen(QPen(QColor(0x3A, 0x3D, 0x42), 1.2));
    p.setBrush(cap);
    p.drawEllipse(c, 92, 92);
    // Spun texture: fine concentric circles.
    for (double r = 8; r < 90; r += 2.5) {
        p.setPen(QPen(QColor(255, 255, 255, (int(r) % 5 == 0) ? 7 : 4), 0.6));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(c, r, r);
    }
    return image;
}

QImage Face(int scale) {
    // Short ticks outside the glow ring at every tenth of the scale.
    QImage image = Canvas(QSizeF(236, 236), scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x8A, 0x8F, 0x96), 1.4, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i <= 10; ++i) {
        const double a = (120.0 + 30.0 * i) * M_PI / 180.0;
        const double r0 = i % 5 == 0 ? 112.5 : 114.0;
        p.drawLine(QPointF(118 + r0 * std::cos(a), 118 + r0 * std::sin(a)),
                   QPointF(118 + 117 * std::cos(a), 118 + 117 * std::sin(a)));
    }
    return image;
}

QImage Slit(int scale) {
    return Ring(94, 96.5, QColor(0x05, 0x05, 0x06), scale);
}

QImage Marks(int scale) {
    // The engraved pointer line on the cap, at the start of the scale when not turned.
    QImage image = Canvas(QSizeF(184, 184), scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double a = 120.0 * M_PI / 180.0;
    p.setPen(QPen(QColor(0xC8, 0xCC, 0xD2), 3.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(92 + 58 * std::cos(a), 92 + 58 * std::sin(a)),
               QPointF(92 + 84 * std::cos(a), 92 + 84 * std::sin(a)));
    return image;
}

} // namespace

ui::NamedImageLoader PaintedDialImages() {
    return [](const QString& name, int scale) -> QImage {
        if (name == QLatin1String("volume_dial.png"))
            return Knob(scale);
        if (name == QLatin1String("mojiban.png"))
            return Face(scale);
        if (name == QLatin1String("indicator_slit.png"))
            return Slit(scale);
        if (name == QLatin1String("indicator_glow_on.png"))
            return GlowRing(QColor(0xFF, 0x8A, 0x1F), kAmber, scale);
        if (name == QLatin1String("indicator_glow_off.png"))
            return GlowRing(kGlowOff, kGlowOff, scale);
        if (name == QLatin1String("indicator_glow_muting.png"))
            return GlowRing(kGlowMuting, kGlowMuting, scale);
        if (name == QLatin1String("volume_dial_marks_7.png"))
            return Marks(scale);
        return {};
    };
}

ui::BitmapLoader PaintedBitmaps() {
    return [](unsigned id, int scale) -> QImage {
        const QColor dim = Faded(kAmber, 0.35);
        const QColor dark = Faded(kAmber, 0.12);
        if (id >= 4092 && id <= 4101)
            return Digit(static_cast<int>(id - 4092), QSizeF(24, 34), scale, id);
        if (id >= 359 && id <= 368)
            return Digit(static_cast<int>(id - 359), QSizeF(24, 34), scale, id);
        if (id >= 369 && id <= 378)
            return Digit(static_cast<int>(id - 369), QSizeF(24, 34), scale, id);
        switch (id) {
        case 4042:
            return Background(scale);
        case 5066:
        case 5067:
            return Colon(QSizeF(4, 34), scale, id);
        case 1030:
            return PlayGlyph(0, scale, id);
        case 1041:
            return PlayGlyph(1, scale, id);
        case 5046:
            return PlayGlyph(2, scale, id);
        case 5047:
            return Text(QStringLiteral("CD"), QSizeF(44, 18), scale, kAmber, 12, id);
        case 5048:
            return Text(QStringLiteral("FILE"), QSizeF(44, 18), scale, kAmber, 12, id);
        case 1045:
            return Text(QStringLiteral("1"), QSizeF(28, 14), scale, kAmber, 11, id);
        case 5051:
            return Text(QStringLiteral("1"), QSizeF(28, 14), scale, dark, 11, id);
        case 1044:
            return Text(QStringLiteral("ALL"), QSizeF(28, 14), scale, kAmber, 11, id);
        case 5052:
            return Text(QStringLiteral("ALL"), QSizeF(28, 14), scale, dark, 11, id);
        case 5045:
            return Text(QStringLiteral("TRACK"), QSizeF(48, 14), scale, kAmber, 11, id);
        case 5049:
            return Text(QStringLiteral("TRACK"), QSizeF(48, 14), scale, dim, 11, id);
        case 5044:
            return Text(QStringLiteral("TIME"), QSizeF(35, 14), scale, kAmber, 11, id);
        case 5050:
            return Text(QStringLiteral("TIME"), QSizeF(35, 14), scale, dim, 11, id);
        case 5043:
            return Text(QString(), QSizeF(304, 34), scale, kAmber, 22, id);
        case 5053:
            return Text(QStringLiteral("LOADING"), QSizeF(144, 34), scale, kAmber, 20, id,
                        Qt::AlignRight | Qt::AlignVCenter);
        case 5054:
            return Text(QStringLiteral("NO DISC"), QSizeF(204, 34), scale, kAmber, 22, id,
                        Qt::AlignRight | Qt::AlignVCenter);
        case 5055:
            return Text(QStringLiteral("NO FILES"), QSizeF(204, 34), scale, kAmber, 22, id,
                        Qt::AlignRight | Qt::AlignVCenter);
        case 5056:
            return Text(QStringLiteral("EMPTY"), QSizeF(114, 34), scale, kAmber, 20, id,
                        Qt::AlignRight | Qt::AlignVCenter);
        case 4037:
            return RoundButton(0, false, false, scale, id);
        case 4036:
            return RoundButton(-1, false, false, scale, id);
        case 4038:
            return RoundButton(+1, false, false, scale, id);
        case 4039: // focused
            return RoundButton(0, false, true, scale, id);
        case 4040: // disabled
            return RoundButton(0, true, false, scale, id);
        case 4041: // hovered and focused
            return RoundButton(+1, false, true, scale, id);
        default:
            return {};
        }
    };
}

const char* GlowAt(const QImage& image, double angleDegrees) {
    const double a = angleDegrees * M_PI / 180.0;
    const double ratio = image.devicePixelRatio();
    const QPoint at(static_cast<int>((118 + kGlowRadius * std::cos(a)) * ratio),
                    static_cast<int>((118 + kGlowRadius * std::sin(a)) * ratio));
    const QColor pixel = image.pixelColor(at);
    const auto distance = [&](const QColor& c) {
        return std::abs(pixel.red() - c.red()) + std::abs(pixel.green() - c.green()) +
               std::abs(pixel.blue() - c.blue());
    };
    const int on = std::min(distance(kAmber), distance(QColor(0xFF, 0x8A, 0x1F)));
    const int off = distance(kGlowOff);
    const int muting = distance(kGlowMuting);
    if (on <= off && on <= muting)
        return "on";
    return off <= muting ? "off" : "muting";
}

} // namespace uitest
