// Drawing helpers shared by the default skin's pictures: the palette, pictures painted at any scale in
// the layout's own coordinates, the key colour applied without fringes, brushed metal and the label type.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>

#include <functional>

namespace paint {

// The palette (sRGB).
inline const QColor kField(0x00, 0x00, 0x00);
inline const QColor kMetal(0x1C, 0x1E, 0x21);
inline const QColor kBevelLight(0x3A, 0x3D, 0x42);
inline const QColor kBevelDark(0x0B, 0x0C, 0x0D);
inline const QColor kGlass(0x05, 0x06, 0x07);
inline const QColor kAmber(0xFF, 0xB2, 0x3F);
inline const QColor kAmberHot(0xFF, 0x8A, 0x1F);
inline const QColor kLabel(0x8A, 0x8F, 0x96);
inline const QColor kGlyph(0xB4, 0xB9, 0xC0);
inline const QColor kMuted(0x5A, 0x5E, 0x63);
inline const QColor kKey(0xFF, 0x00, 0x80);

// Unlit segments and dark lamps, dimmed indicators: fractions of the lit amber.
inline constexpr double kUnlit = 0.07;
inline constexpr double kDimmed = 0.35;

QColor WithAlpha(const QColor& colour, double alpha);
// `from` moved towards `to` by t (0..1), opaque: faint parts of keyed pictures must be drawn this way,
// since too little coverage turns into the key colour.
QColor Mix(const QColor& from, const QColor& to, double t);
// Lighter (> 0) or darker (< 0) by a fraction of the luminance.
QColor Shade(const QColor& colour, double amount);

using Drawing = std::function<void(QPainter&)>;

// Paints a w x h picture (layout pixels) at `scale` device pixels per layout pixel on a transparent
// canvas; `draw` works in layout pixels, antialiased.
QImage Paint(int w, int h, int scale, const Drawing& draw);

// Flattens a painted picture for a keyed bitmap: pixels with hardly any coverage become the key colour,
// the rest are composed over `backdrop`, the colour the picture is shown on, so the edges blend into it
// instead of into the key colour.
QImage Keyed(const QImage& painted, const QColor& backdrop);

// Composes a painted picture over a solid colour (no transparency left).
QImage Over(const QImage& painted, const QColor& backdrop);

// Horizontally brushed metal filling `rect` (layout pixels): the base colour varied by about +/-3 % in
// luminance along fine horizontal streaks. Deterministic for a given seed.
void BrushedMetal(QPainter& p, const QRectF& rect, const QColor& base, unsigned seed);

// The labels' face: DejaVu Sans (bold when asked) at `pixelSize` layout pixels, letter spacing +8 %.
QFont LabelFont(double pixelSize, bool bold = false);

// Draws `text` centred in `box` with the font, squeezed horizontally when it would not fit.
void CentredText(QPainter& p, const QRectF& box, const QString& text, const QFont& font,
                 const QColor& colour);

// Loads the faces the pictures use from the system's font files, so every build paints the same letters.
// False when they are missing.
bool LoadFaces();

// Soft glow: the coverage of `shape` blurred by `radius` device pixels, in `colour` at `strength`.
QImage Glow(const QImage& shape, int radius, const QColor& colour, double strength);

} // namespace paint
