#include "Canvas.h"

#include <QFontDatabase>
#include <QFontMetricsF>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace paint {
namespace {

// 96 dots per inch, so a font's point size is three quarters of its pixel size on every canvas.
constexpr int kDotsPerMeter = 3780;

// Coverage below this (of 255) counts as outside a keyed picture. Low, so a glow fades out nearly to
// its backdrop before it is cut: a higher cut leaves a visible step around lit shapes.
constexpr int kKeyThreshold = 6;

// Small, fixed generator: the artwork must come out the same on every build.
class Noise {
public:
    explicit Noise(unsigned seed) : state_(seed * 2654435761u + 0x9E3779B9u) {}
    // Uniform in [-1, 1).
    double Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return (state_ & 0xFFFFFF) / double(0x800000) - 1.0;
    }

private:
    std::uint32_t state_;
};

QImage Flatten(const QImage& painted, const QColor& backdrop, bool key) {
    const QImage in = painted.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage out(in.size(), QImage::Format_RGB32);
    out.setDevicePixelRatio(in.devicePixelRatio());
    const QRgb keyRgb = kKey.rgb();
    for (int y = 0; y < in.height(); ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(in.constScanLine(y));
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < in.width(); ++x) {
            const int a = qAlpha(src[x]);
            if (key && a < kKeyThreshold) {
                dst[x] = keyRgb;
                continue;
            }
            const int rest = 255 - a;
            auto mix = [&](int s, int b) { return std::min(255, s + (b * rest + 127) / 255); };
            dst[x] = qRgb(mix(qRed(src[x]), backdrop.red()), mix(qGreen(src[x]), backdrop.green()),
                          mix(qBlue(src[x]), backdrop.blue()));
        }
    }
    return out;
}

} // namespace

QColor WithAlpha(const QColor& colour, double alpha) {
    QColor out = colour;
    out.setAlphaF(float(std::clamp(alpha, 0.0, 1.0)));
    return out;
}

QColor Mix(const QColor& from, const QColor& to, double t) {
    auto channel = [t](int a, int b) { return std::clamp(int(std::lround(a + (b - a) * t)), 0, 255); };
    return QColor(channel(from.red(), to.red()), channel(from.green(), to.green()),
                  channel(from.blue(), to.blue()));
}

QColor Shade(const QColor& colour, double amount) {
    auto channel = [&](int c) {
        const double v = amount >= 0 ? c + (255 - c) * amount * 0.5 + c * amount * 0.5 : c * (1.0 + amount);
        return std::clamp(int(std::lround(v)), 0, 255);
    };
    return QColor(channel(colour.red()), channel(colour.green()), channel(colour.blue()), colour.alpha());
}

QImage Paint(int w, int h, int scale, const Drawing& draw) {
    QImage image(w * scale, h * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDotsPerMeterX(kDotsPerMeter);
    image.setDotsPerMeterY(kDotsPerMeter);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                         QPainter::SmoothPixmapTransform);
        p.scale(scale, scale);
        draw(p);
    }
    return image;
}

QImage Keyed(const QImage& painted, const QColor& backdrop) {
    return Flatten(painted, backdrop, true);
}

QImage Over(const QImage& painted, const QColor& backdrop) {
    return Flatten(painted, backdrop, false);
}

void BrushedMetal(QPainter& p, const QRectF& rect, const QColor& base, unsigned seed) {
    // The streaks are made at device resolution, so a 3x picture gets finer brushing, not larger.
    const double scale = p.transform().m11();
    const int w = std::max(1, int(std::ceil(rect.width() * scale)));
    const int h = std::max(1, int(std::ceil(rect.height() * scale)));
    QImage metal(w, h, QImage::Format_RGB32);
    Noise noise(seed);
    std::vector<double> row(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        // Each line: a slow wander (the brush's long strokes) plus a little grain, within +/-3 %.
        const double lineLevel = 0.012 * noise.Next();
        double wander = 0;
        for (int x = 0; x < w; ++x) {
            wander = wander * 0.97 + 0.03 * noise.Next() * 3.0;
            row[static_cast<std::size_t>(x)] =
                std::clamp(lineLevel + 0.010 * wander + 0.006 * noise.Next(), -0.03, 0.03);
        }
        auto* line = reinterpret_cast<QRgb*>(metal.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const double f = 1.0 + row[static_cast<std::size_t>(x)];
            line[x] = qRgb(std::clamp(int(base.red() * f + 0.5), 0, 255),
                           std::clamp(int(base.green() * f + 0.5), 0, 255),
                           std::clamp(int(base.blue() * f + 0.5), 0, 255));
        }
    }
    p.drawImage(rect, metal);
}

QFont LabelFont(double pixelSize, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(pixelSize * 0.75);
    font.setBold(bold);
    font.setLetterSpacing(QFont::PercentageSpacing, 108);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setKerning(true);
    return font;
}

void CentredText(QPainter& p, const QRectF& box, const QString& text, const QFont& font,
                 const QColor& colour) {
    const QFontMetricsF metrics(font, p.device());
    // The spacing after the last letter is not part of the word's look.
    const double spacing = font.letterSpacing() > 0 && font.letterSpacingType() == QFont::PercentageSpacing
                               ? (font.letterSpacing() - 100.0) / 100.0 * metrics.averageCharWidth()
                               : 0.0;
    const double width = metrics.horizontalAdvance(text) - spacing;
    const double squeeze = width > box.width() ? box.width() / width : 1.0;
    const double baseline = box.center().y() + metrics.capHeight() / 2.0;
    p.save();
    p.translate(box.center().x() - width * squeeze / 2.0, baseline);
    p.scale(squeeze, 1.0);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(QPointF(0, 0), text);
    p.restore();
}

bool LoadFaces() {
    bool ok = true;
    for (const char* file : {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                             "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"}) {
        ok = QFontDatabase::addApplicationFont(QString::fromLatin1(file)) >= 0 && ok;
    }
    return ok;
}

QImage Glow(const QImage& shape, int radius, const QColor& colour, double strength) {
    const QImage in = shape.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = in.width();
    const int h = in.height();
    std::vector<double> a(static_cast<std::size_t>(w * h));
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(in.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            a[static_cast<std::size_t>(y * w + x)] = qAlpha(line[x]) / 255.0;
        }
    }
    // Three box blurs approach a Gaussian.
    std::vector<double> tmp(a.size());
    auto blur = [&](bool horizontal) {
        const int n = horizontal ? w : h;
        const int lines = horizontal ? h : w;
        for (int l = 0; l < lines; ++l) {
            auto at = [&](int i) -> double& {
                return horizontal ? a[static_cast<std::size_t>(l * w + i)]
                                  : a[static_cast<std::size_t>(i * w + l)];
            };
            auto out = [&](int i) -> double& {
                return horizontal ? tmp[static_cast<std::size_t>(l * w + i)]
                                  : tmp[static_cast<std::size_t>(i * w + l)];
            };
            for (int i = 0; i < n; ++i) {
                double sum = 0;
                for (int k = -radius; k <= radius; ++k) {
                    const int j = std::clamp(i + k, 0, n - 1);
                    sum += (i + k < 0 || i + k >= n) ? 0.0 : at(j);
                }
                out(i) = sum / (2 * radius + 1);
            }
        }
        a.swap(tmp);
    };
    for (int pass = 0; pass < 3; ++pass) {
        blur(true);
        blur(false);
    }
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(shape.devicePixelRatio());
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const double alpha = std::clamp(a[static_cast<std::size_t>(y * w + x)] * strength, 0.0, 1.0);
            line[x] =
                qPremultiply(qRgba(colour.red(), colour.green(), colour.blue(), int(alpha * 255 + 0.5)));
        }
    }
    return out;
}

} // namespace paint
