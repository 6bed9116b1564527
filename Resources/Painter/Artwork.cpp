#include "Artwork.h"

#include <QConicalGradient>
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>

#include <array>
#include <cmath>

namespace paint {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The light of a button's three pictures: the same shape, only brighter or darker.
enum class Light { kNormal, kHover, kPressed };

double LightAmount(Light light) {
    switch (light) {
    case Light::kHover:
        return 0.08;
    case Light::kPressed:
        return -0.10;
    case Light::kNormal:
        break;
    }
    return 0.0;
}

// Face colour of buttons: a little lighter than the panel so they read as separate parts.
const QColor kButtonFace(0x2A, 0x2D, 0x31);
// Labels' pixel size: 9 px cap height in DejaVu Sans.
constexpr double kLabelPx = 12.4;

// ---- Buttons ------------------------------------------------------------------------------------------

// A machined ring with a flat face: a light-over-dark bevel outside, a dark-over-light chamfer inside.
void RingButton(QPainter& p, const QRectF& box, Light light) {
    const QRectF outer = box.adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient bevel(outer.topLeft(), outer.bottomLeft());
    bevel.setColorAt(0, kBevelLight);
    bevel.setColorAt(1, kBevelDark);
    const QColor face = Shade(kButtonFace, LightAmount(light));
    // The face: lit from above, a few per cent at most.
    QLinearGradient faceLight(outer.topLeft(), outer.bottomLeft());
    faceLight.setColorAt(0, Shade(face, 0.04));
    faceLight.setColorAt(1, Shade(face, -0.04));
    p.setPen(QPen(QBrush(bevel), 1.0));
    p.setBrush(faceLight);
    p.drawEllipse(outer);
    const QRectF inner = outer.adjusted(2, 2, -2, -2);
    QLinearGradient chamfer(inner.topLeft(), inner.bottomLeft());
    chamfer.setColorAt(0, WithAlpha(kBevelDark, 0.9));
    chamfer.setColorAt(1, WithAlpha(kBevelLight, 0.7));
    p.setPen(QPen(QBrush(chamfer), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(inner);
    // Spun finish: faint concentric rings on the face.
    const QPointF c = inner.center();
    for (double r = 2.0; r < inner.width() / 2 - 1; r += 1.0) {
        p.setPen(QPen(WithAlpha(int(r) % 2 ? Qt::white : Qt::black, 0.018), 0.5));
        p.drawEllipse(c, r, r);
    }
    if (light == Light::kPressed) {
        // Pressed in: the top of the chamfer falls into shadow.
        p.setPen(QPen(WithAlpha(Qt::black, 0.45), 1.5));
        p.drawArc(inner.adjusted(0.75, 0.75, -0.75, -0.75), 30 * 16, 120 * 16);
    }
}

// A softly rounded button with a word on it.
void PillButton(QPainter& p, const QRectF& box, const QString& word, Light light) {
    const QRectF outer = box.adjusted(0.5, 3.5, -0.5, -3.5);
    const double radius = outer.height() * 0.36;
    QLinearGradient bevel(outer.topLeft(), outer.bottomLeft());
    bevel.setColorAt(0, kBevelLight);
    bevel.setColorAt(1, kBevelDark);
    const QColor face = Shade(kButtonFace, LightAmount(light));
    QLinearGradient faceLight(outer.topLeft(), outer.bottomLeft());
    faceLight.setColorAt(0, Shade(face, 0.04));
    faceLight.setColorAt(1, Shade(face, -0.04));
    p.setPen(QPen(QBrush(bevel), 1.0));
    p.setBrush(faceLight);
    p.drawRoundedRect(outer, radius, radius);
    const QRectF inner = outer.adjusted(2, 2, -2, -2);
    QLinearGradient chamfer(inner.topLeft(), inner.bottomLeft());
    chamfer.setColorAt(0, WithAlpha(kBevelDark, 0.9));
    chamfer.setColorAt(1, WithAlpha(kBevelLight, 0.6));
    p.setPen(QPen(QBrush(chamfer), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(inner, radius - 2, radius - 2);
    const double drop = light == Light::kPressed ? 1.0 : 0.0;
    CentredText(p, inner.adjusted(4, drop, -4, drop), word, LabelFont(kLabelPx, true),
                Shade(kGlyph, LightAmount(light)));
}

QColor GlyphColour(Light light) {
    return Shade(kGlyph, LightAmount(light));
}

void EjectGlyph(QPainter& p, const QPointF& c, double size, const QColor& colour) {
    QPainterPath triangle;
    triangle.moveTo(c.x(), c.y() - size * 0.55);
    triangle.lineTo(c.x() + size * 0.5, c.y() + size * 0.1);
    triangle.lineTo(c.x() - size * 0.5, c.y() + size * 0.1);
    triangle.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(triangle);
    p.drawRect(QRectF(c.x() - size * 0.5, c.y() + size * 0.27, size, size * 0.16));
}

std::vector<Picture> Button3(unsigned normal, unsigned hover, unsigned pressed, int w, int h,
                             const std::function<void(QPainter&, Light)>& draw) {
    std::vector<Picture> out;
    for (const auto& state : {std::pair{normal, Light::kNormal}, std::pair{hover, Light::kHover},
                              std::pair{pressed, Light::kPressed}}) {
        const Light light = state.second;
        out.push_back(
            {state.first, {}, w, h, Finish::kOverMetal, {}, [draw, light](QPainter& p) { draw(p, light); }});
    }
    return out;
}

// ---- Glyphs on the metal ------------------------------------------------------------------------------

void Triangle(QPainter& p, const QPointF& tip, double length, double height, bool pointsRight) {
    const double back = pointsRight ? tip.x() - length : tip.x() + length;
    QPainterPath path;
    path.moveTo(tip);
    path.lineTo(back, tip.y() - height / 2);
    path.lineTo(back, tip.y() + height / 2);
    path.closeSubpath();
    p.drawPath(path);
}

// ---- The display --------------------------------------------------------------------------------------

// Draws `lit` with a soft amber bloom under it, as light from a display spreads in its glass.
void Lit(QPainter& p, int w, int h, const Drawing& lit, const QColor& colour, double strength = 0.55) {
    const int scale = int(std::lround(p.transform().m11()));
    const QImage shape = Paint(w, h, scale, lit);
    const QImage glow = Glow(shape, std::max(1, scale * 2), colour, strength);
    p.drawImage(QRectF(0, 0, w, h), glow);
    lit(p);
}

// Seven segments a..g in a 24 x 34 cell, slanted 6 degrees, small gaps between segments.
QPainterPath Segment(int index) {
    const double t = 3.6;   // stroke
    const double gap = 0.7; // between neighbouring segments
    const double x0 = 2.5, x1 = 19.0, y0 = 2.0, y1 = 32.0, ym = (y0 + y1) / 2;
    auto horizontal = [&](double y) {
        QPainterPath s;
        s.moveTo(x0 + gap, y);
        s.lineTo(x0 + gap + t / 2, y - t / 2);
        s.lineTo(x1 - gap - t / 2, y - t / 2);
        s.lineTo(x1 - gap, y);
        s.lineTo(x1 - gap - t / 2, y + t / 2);
        s.lineTo(x0 + gap + t / 2, y + t / 2);
        s.closeSubpath();
        return s;
    };
    auto vertical = [&](double x, double top, double bottom) {
        QPainterPath s;
        s.moveTo(x, top + gap);
        s.lineTo(x + t / 2, top + gap + t / 2);
        s.lineTo(x + t / 2, bottom - gap - t / 2);
        s.lineTo(x, bottom - gap);
        s.lineTo(x - t / 2, bottom - gap - t / 2);
        s.lineTo(x - t / 2, top + gap + t / 2);
        s.closeSubpath();
        return s;
    };
    // The outer segments sit half a stroke inside the cell's edges.
    const double top = y0 + t / 2, bottom = y1 - t / 2, left = x0 + t / 2, right = x1 - t / 2;
    QPainterPath s;
    switch (index) {
    case 0:
        s = horizontal(top);
        break;
    case 1:
        s = vertical(right, top, ym);
        break;
    case 2:
        s = vertical(right, ym, bottom);
        break;
    case 3:
        s = horizontal(bottom);
        break;
    case 4:
        s = vertical(left, ym, bottom);
        break;
    case 5:
        s = vertical(left, top, ym);
        break;
    default:
        s = horizontal(ym);
        break;
    }
    // Lean: 6 degrees, pivoting on the cell's bottom.
    QTransform slant;
    slant.translate(0, 34);
    slant.shear(-std::tan(6.0 * kPi / 180.0), 0);
    slant.translate(0, -34);
    return slant.map(s);
}

// The segments lit for 0..9, and for the minus sign (index 10).
constexpr std::array<unsigned char, 11> kSegmentsOf = {0b0111111, 0b0000110, 0b1011011, 0b1001111,
                                                       0b1100110, 0b1101101, 0b1111101, 0b0000111,
                                                       0b1111111, 0b1101111, 0b1000000};
constexpr int kMinusSign = 10;

void Digit(QPainter& p, int digit) {
    p.setPen(Qt::NoPen);
    p.setBrush(Mix(kGlass, kAmber, kUnlit));
    for (int s = 0; s < 7; ++s) {
        if ((kSegmentsOf[std::size_t(digit)] & (1 << s)) == 0) {
            p.drawPath(Segment(s));
        }
    }
    Lit(
        p, 24, 34,
        [digit](QPainter& q) {
            q.setPen(Qt::NoPen);
            q.setBrush(kAmber);
            for (int s = 0; s < 7; ++s) {
                if ((kSegmentsOf[std::size_t(digit)] & (1 << s)) != 0) {
                    q.drawPath(Segment(s));
                }
            }
        },
        kAmber);
}

// Two dots as heavy as the digits' strokes (3.6 px tall), leaning with them as far as the 4-pixel cell
// allows, with a softer bloom than the digits' (the cell cuts off whatever spreads further).
void Colon(QPainter& p) {
    Lit(
        p, 4, 34,
        [](QPainter& q) {
            q.setPen(Qt::NoPen);
            q.setBrush(kAmber);
            const double lean = std::tan(6.0 * kPi / 180.0);
            const double t = 3.6;
            for (auto [y, left] : {std::pair{11.5, 0.55}, std::pair{23.0, 0.0}}) {
                QPainterPath dot;
                dot.moveTo(left + t * lean, y - t / 2);
                dot.lineTo(left + t * lean + 3.05, y - t / 2);
                dot.lineTo(left + 3.05, y + t / 2);
                dot.lineTo(left, y + t / 2);
                dot.closeSubpath();
                q.drawPath(dot);
            }
        },
        kAmber, 0.3);
}

// A word on the display, in the digits' lean.
void DisplayWord(QPainter& p, int w, int h, const QString& word, double px, bool bold, double level) {
    const QColor colour = Mix(kGlass, kAmber, level);
    Lit(
        p, w, h,
        [=](QPainter& q) {
            q.save();
            q.translate(0, h);
            q.shear(-std::tan(6.0 * kPi / 180.0), 0);
            q.translate(0, -h);
            CentredText(q, QRectF(1, 0, w - 2, h), word, LabelFont(px, bold), colour);
            q.restore();
        },
        colour, level >= 1.0 ? 0.55 : 0.0);
}

void Banner(QPainter& p, int w, const QString& word) {
    DisplayWord(p, w, 34, word, 24.0, true, 1.0);
}

// ---- Frames -------------------------------------------------------------------------------------------

void NoticeBody(QPainter& p, const QRectF& r, unsigned seed) {
    BrushedMetal(p, r, kMetal, seed);
}

} // namespace

QImage Render(const Picture& picture, int scale) {
    const QImage painted = Paint(picture.width, picture.height, scale, picture.draw);
    switch (picture.finish) {
    case Finish::kOverMetal:
        return Keyed(painted, kMetal);
    case Finish::kOverGlass:
        return Keyed(painted, kGlass);
    case Finish::kOpaque:
        return Over(painted, picture.background);
    case Finish::kAlpha:
        break;
    }
    return painted.convertToFormat(QImage::Format_ARGB32);
}

std::vector<Picture> SkinPictures() {
    std::vector<Picture> out;
    auto add = [&](std::vector<Picture> more) { out.insert(out.end(), more.begin(), more.end()); };

    // Round buttons without a glyph: the glyph is engraved on the metal above them.
    add(Button3(4037, 4038, 4036, 32, 32,
                [](QPainter& p, Light l) { RingButton(p, QRectF(0, 0, 32, 32), l); }));
    add(Button3(4039, 4040, 4041, 20, 20,
                [](QPainter& p, Light l) { RingButton(p, QRectF(0, 0, 20, 20), l); }));
    add(Button3(4043, 4044, 4045, 56, 56, [](QPainter& p, Light l) {
        RingButton(p, QRectF(0, 0, 56, 56), l);
        const double drop = l == Light::kPressed ? 1.0 : 0.0;
        EjectGlyph(p, QPointF(28, 28 + drop), 18, GlyphColour(l));
    }));
    add(Button3(4046, 4047, 4048, 16, 16, [](QPainter& p, Light l) {
        RingButton(p, QRectF(0, 0, 16, 16), l);
        const double drop = l == Light::kPressed ? 1.0 : 0.0;
        p.setPen(QPen(GlyphColour(l), 1.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5.5, 5.5 + drop), QPointF(10.5, 10.5 + drop));
        p.drawLine(QPointF(10.5, 5.5 + drop), QPointF(5.5, 10.5 + drop));
    }));
    add(Button3(4049, 4050, 4051, 16, 16, [](QPainter& p, Light l) {
        RingButton(p, QRectF(0, 0, 16, 16), l);
        const double drop = l == Light::kPressed ? 1.0 : 0.0;
        p.setPen(QPen(GlyphColour(l), 1.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5, 8 + drop), QPointF(11, 8 + drop));
    }));
    struct Word {
        unsigned normal, hover, pressed;
        int w;
        const char* text;
    };
    for (const Word& word : {Word{324, 325, 326, 96, "FILES"}, Word{327, 328, 329, 96, "DISC"},
                             Word{345, 346, 347, 71, "HELP"}, Word{348, 349, 350, 84, "REPEAT"},
                             Word{351, 352, 353, 91, "SETTINGS"}, Word{354, 355, 356, 71, "LIST"}}) {
        const QString text = QString::fromLatin1(word.text);
        const int w = word.w;
        add(Button3(word.normal, word.hover, word.pressed, w, 40,
                    [text, w](QPainter& p, Light l) { PillButton(p, QRectF(0, 0, w, 40), text, l); }));
    }

    // Engraved glyphs and labels on the metal.
    auto metal = [&](unsigned id, int w, int h, Drawing draw) {
        out.push_back({id, {}, w, h, Finish::kOverMetal, {}, std::move(draw)});
    };
    metal(5023, 34, 12, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kLabel);
        Triangle(p, QPointF(13.5, 6), 9, 10, true); // optical centre: the tip sits right of the bars' line
        p.drawRect(QRectF(20, 1, 3, 10));
        p.drawRect(QRectF(26, 1, 3, 10));
    });
    metal(5024, 12, 12, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kLabel);
        p.drawRect(QRectF(1.5, 1.5, 9, 9));
    });
    metal(5025, 26, 12, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kLabel);
        p.drawRect(QRectF(3, 1, 2, 10));
        Triangle(p, QPointF(5.5, 6), 8.5, 10, false);
        Triangle(p, QPointF(14, 6), 8.5, 10, false);
    });
    metal(5026, 26, 12, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kLabel);
        Triangle(p, QPointF(12, 6), 8.5, 10, true);
        Triangle(p, QPointF(20.5, 6), 8.5, 10, true);
        p.drawRect(QRectF(21, 1, 2, 10));
    });
    metal(5040, 16, 16, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kLabel);
        p.drawRect(QRectF(3.5, 7.2, 9, 1.6));
    });
    metal(5041, 16, 16, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kLabel);
        p.drawRect(QRectF(3.5, 7.2, 9, 1.6));
        p.drawRect(QRectF(7.2, 3.5, 1.6, 9));
    });
    struct Label {
        unsigned id;
        int w, h;
        const char* text;
    };
    for (const Label& label :
         {Label{5042, 113, 12, "VOLUME"}, Label{1053, 91, 13, "EJECT"}, Label{5034, 91, 13, "OPEN FILES"}}) {
        const QString word = QString::fromLatin1(label.text);
        const int w = label.w, h = label.h;
        metal(label.id, w, h, [word, w, h](QPainter& p) {
            CentredText(p, QRectF(0, 0, w, h), word, LabelFont(kLabelPx), kLabel);
        });
    }
    metal(5028, 162, 16, [](QPainter& p) {
        QFont font = LabelFont(13.0);
        font.setLetterSpacing(QFont::PercentageSpacing, 145);
        CentredText(p, QRectF(0, 0, 162, 16), QStringLiteral("QUELLWAVE"), font, QColor(0xAE, 0xB3, 0xBA));
    });
    // The rate badge below the dial: DSD64, and its siblings for the rate playing when it is higher. The
    // longer names are set a little tighter so that they sit in the same frame.
    struct RateBadge {
        unsigned id;
        const char* name;
        const char* frequency;
        int spacing;
    };
    for (const RateBadge& badge :
         {RateBadge{1054, "DSD64", "2.8224 MHz", 112}, RateBadge{1058, "DSD128", "5.6448 MHz", 100},
          RateBadge{1059, "DSD256", "11.2896 MHz", 100}, RateBadge{1060, "DSD512", "22.5792 MHz", 100}}) {
        const QString name = QString::fromLatin1(badge.name);
        const QString frequency = QString::fromLatin1(badge.frequency);
        const int spacing = badge.spacing;
        metal(badge.id, 109, 57, [name, frequency, spacing](QPainter& p) {
            p.setPen(QPen(WithAlpha(kLabel, 0.55), 1.0));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(4.5, 4.5, 100, 48), 8, 8);
            QFont big = LabelFont(22.0, true);
            big.setLetterSpacing(QFont::PercentageSpacing, spacing);
            CentredText(p, QRectF(8, 7, 93, 24), name, big, kGlyph);
            CentredText(p, QRectF(8, 33, 93, 14), frequency, LabelFont(kLabelPx), kLabel);
        });
    }

    // The panel's face: brushed metal with the display's window and the dial's well cut into it.
    out.push_back({4052, {}, 1024, 768, Finish::kOpaque, kMetal, [](QPainter& p) {
                       BrushedMetal(p, QRectF(0, 0, 1024, 768), kMetal, 4052);
                       p.setBrush(Qt::NoBrush);
                       p.setPen(QPen(kBevelLight, 1.0));
                       p.drawLine(QPointF(0.5, 0.5), QPointF(1023.5, 0.5));
                       p.drawLine(QPointF(0.5, 0.5), QPointF(0.5, 767.5));
                       p.setPen(QPen(kBevelDark, 1.0));
                       p.drawLine(QPointF(0.5, 767.5), QPointF(1023.5, 767.5));
                       p.drawLine(QPointF(1023.5, 0.5), QPointF(1023.5, 767.5));
                       // The display's window: a dark chamfer, lit on its lower edge.
                       const QRectF window(273.5, 88.5, 477, 85);
                       p.setPen(QPen(QColor(0x0B, 0x0C, 0x0D), 3.0));
                       p.drawRoundedRect(window, 3, 3);
                       p.setPen(QPen(WithAlpha(kBevelLight, 0.8), 1.0));
                       p.drawLine(QPointF(274, 175), QPointF(750, 175));
                       // The dial's well.
                       const QPointF centre(512, 453);
                       p.setPen(QPen(QColor(0x0E, 0x0F, 0x11), 3.0));
                       p.drawEllipse(centre, 121, 121);
                       p.setPen(QPen(WithAlpha(kBevelLight, 0.8), 1.0));
                       p.drawArc(QRectF(centre.x() - 123, centre.y() - 123, 246, 246), 200 * 16, 140 * 16);
                   }});

    // The display.
    out.push_back({4042, {}, 472, 80, Finish::kOpaque, kGlass, [](QPainter& p) {
                       p.fillRect(QRectF(0, 0, 472, 80), kGlass);
                       QLinearGradient reflection(QPointF(0, 0), QPointF(0, 36));
                       reflection.setColorAt(0, WithAlpha(Qt::white, 0.04));
                       reflection.setColorAt(1, WithAlpha(Qt::white, 0.0));
                       p.fillRect(QRectF(1, 1, 470, 36), reflection);
                       p.setPen(QPen(Qt::black, 1.0));
                       p.setBrush(Qt::NoBrush);
                       p.drawRect(QRectF(0.5, 0.5, 471, 79));
                   }});
    auto glass = [&](unsigned id, int w, int h, Drawing draw) {
        out.push_back({id, {}, w, h, Finish::kOverGlass, {}, std::move(draw)});
    };
    for (int d = 0; d < 10; ++d) {
        for (unsigned first : {4092u, 359u, 369u}) {
            glass(first + unsigned(d), 24, 34, [d](QPainter& p) { Digit(p, d); });
        }
    }
    // The minus before a time left, in the digits' cell and style.
    glass(4102, 24, 34, [](QPainter& p) { Digit(p, kMinusSign); });
    glass(5066, 4, 34, Colon);
    glass(5067, 4, 34, Colon);
    glass(1030, 33, 19, [](QPainter& p) {
        Lit(
            p, 33, 19,
            [](QPainter& q) {
                q.setPen(Qt::NoPen);
                q.setBrush(kAmber);
                Triangle(q, QPointF(23, 9.5), 13, 14, true);
            },
            kAmber);
    });
    glass(1041, 33, 19, [](QPainter& p) {
        Lit(
            p, 33, 19,
            [](QPainter& q) {
                q.setPen(Qt::NoPen);
                q.setBrush(kAmber);
                q.drawRect(QRectF(10, 2.5, 4, 14));
                q.drawRect(QRectF(19, 2.5, 4, 14));
            },
            kAmber);
    });
    glass(5046, 33, 19, [](QPainter& p) {
        Lit(
            p, 33, 19,
            [](QPainter& q) {
                q.setPen(Qt::NoPen);
                q.setBrush(kAmber);
                q.drawRect(QRectF(10, 3, 13, 13));
            },
            kAmber);
    });
    glass(5047, 44, 18, [](QPainter& p) { DisplayWord(p, 44, 18, QStringLiteral("CD"), 14.0, true, 1.0); });
    glass(5048, 44, 18, [](QPainter& p) { DisplayWord(p, 44, 18, QStringLiteral("FILE"), 14.0, true, 1.0); });
    struct Lamp {
        unsigned id;
        int w;
        const char* word;
        double level;
    };
    for (const Lamp& lamp :
         {Lamp{1045, 28, "ONE", 1.0}, Lamp{5051, 28, "ONE", 0.18}, Lamp{1044, 28, "ALL", 1.0},
          Lamp{5052, 28, "ALL", 0.18}, Lamp{5045, 48, "TRACK", 1.0}, Lamp{5049, 48, "TRACK", kDimmed},
          Lamp{5044, 35, "TIME", 1.0}, Lamp{5050, 35, "TIME", kDimmed}}) {
        const QString word = QString::fromLatin1(lamp.word);
        const int w = lamp.w;
        const double level = lamp.level;
        glass(lamp.id, w, 14,
              [word, w, level](QPainter& p) { DisplayWord(p, w, 14, word, kLabelPx, true, level); });
    }
    glass(5043, 304, 34, [](QPainter& p) { Banner(p, 304, QStringLiteral("QUELLWAVE")); });
    glass(5053, 144, 34, [](QPainter& p) { Banner(p, 144, QStringLiteral("OPEN")); });
    glass(5054, 204, 34, [](QPainter& p) { Banner(p, 204, QStringLiteral("NO DISC")); });
    glass(5055, 204, 34, [](QPainter& p) { Banner(p, 204, QStringLiteral("NO FILES")); });
    glass(5056, 114, 34, [](QPainter& p) { Banner(p, 114, QStringLiteral("ERROR")); });
    return out;
}

std::vector<Picture> ResourcePictures() {
    std::vector<Picture> out;
    // The about box wears the panel's dark metal: a small plate of the player's front, then a line about
    // what it does, both on the box's own colour.
    out.push_back({215, {}, 320, 96, Finish::kOpaque, kMetal, [](QPainter& p) {
                       QPainterPath plate;
                       plate.addRoundedRect(QRectF(0.5, 0.5, 319, 95), 10, 10);
                       p.save();
                       p.setClipPath(plate);
                       BrushedMetal(p, QRectF(0, 0, 320, 96), kMetal, 215);
                       p.restore();
                       p.setPen(QPen(kBevelDark, 1.0));
                       p.setBrush(Qt::NoBrush);
                       p.drawPath(plate);
                       // The knob with its glow.
                       const QPointF c(52, 48);
                       p.setPen(QPen(kAmber, 3.0, Qt::SolidLine, Qt::RoundCap));
                       p.drawArc(QRectF(c.x() - 34, c.y() - 34, 68, 68), -60 * 16, 250 * 16);
                       p.setPen(QPen(WithAlpha(kAmber, kUnlit * 2), 3.0, Qt::SolidLine, Qt::RoundCap));
                       p.drawArc(QRectF(c.x() - 34, c.y() - 34, 68, 68), 190 * 16, 50 * 16);
                       p.setPen(Qt::NoPen);
                       p.setBrush(QColor(0x11, 0x12, 0x14));
                       p.drawEllipse(c, 27, 27);
                       p.setPen(QPen(QColor(0x7A, 0x7F, 0x86), 2.0, Qt::SolidLine, Qt::RoundCap));
                       p.drawLine(QPointF(c.x() - 10, c.y() + 12), QPointF(c.x() - 17, c.y() + 20));
                       QFont font = LabelFont(22.0);
                       font.setLetterSpacing(QFont::PercentageSpacing, 140);
                       CentredText(p, QRectF(100, 22, 210, 30), QStringLiteral("QUELLWAVE"), font,
                                   QColor(0xC9, 0xCD, 0xD3));
                       CentredText(p, QRectF(100, 56, 210, 18), QStringLiteral("DIRECT STREAM DIGITAL"),
                                   LabelFont(kLabelPx), kLabel);
                   }});
    out.push_back({216, {}, 320, 28, Finish::kOpaque, kMetal, [](QPainter& p) {
                       QFont font = LabelFont(12.0);
                       font.setLetterSpacing(QFont::PercentageSpacing, 100);
                       CentredText(p, QRectF(0, 0, 320, 28),
                                   QStringLiteral("CDs, PCM files and DSD files in DSD"), font, kLabel);
                   }});
    return out;
}

std::vector<Picture> ProgramPictures() {
    std::vector<Picture> out;
    // The notice is painted from three rows of three pieces: the lower row (318 317 319) closes the
    // window with its button bar, the row above (321 320 322) holds the line between text and buttons,
    // and the top three pixels of that row repeat up to the top.
    constexpr int kSide = 14, kLowH = 44, kMidH = 28;
    auto add = [&](unsigned id, int w, int h, Drawing draw) {
        out.push_back({id, {}, w, h, Finish::kOpaque, kMetal, std::move(draw)});
    };
    auto barLight = [](QPainter& p, double w, double h) {
        // The button bar: a slightly darker band.
        p.fillRect(QRectF(0, 0, w, h), WithAlpha(Qt::black, 0.18));
    };
    add(317, 1, kLowH, [=](QPainter& p) {
        NoticeBody(p, QRectF(0, 0, 1, kLowH), 317);
        barLight(p, 1, kLowH);
        p.fillRect(QRectF(0, kLowH - 1, 1, 1), kBevelDark);
    });
    add(318, kSide, kLowH, [=](QPainter& p) {
        NoticeBody(p, QRectF(0, 0, kSide, kLowH), 317);
        barLight(p, kSide, kLowH);
        p.fillRect(QRectF(0, 0, 1, kLowH - 1), kBevelLight);
        p.fillRect(QRectF(0, kLowH - 1, kSide, 1), kBevelDark);
    });
    add(319, kSide, kLowH, [=](QPainter& p) {
        NoticeBody(p, QRectF(0, 0, kSide, kLowH), 317);
        barLight(p, kSide, kLowH);
        p.fillRect(QRectF(kSide - 1, 0, 1, kLowH), kBevelDark);
        p.fillRect(QRectF(0, kLowH - 1, kSide, 1), kBevelDark);
    });
    auto middle = [=](QPainter& p, double w) {
        NoticeBody(p, QRectF(0, 0, w, kMidH), 320);
        // Below the engraved line the button bar begins.
        p.fillRect(QRectF(0, kMidH - 12, w, 1), kBevelDark);
        p.fillRect(QRectF(0, kMidH - 11, w, 1), WithAlpha(kBevelLight, 0.7));
        p.fillRect(QRectF(0, kMidH - 10, w, 10), WithAlpha(Qt::black, 0.18));
    };
    add(320, 1, kMidH, [=](QPainter& p) { middle(p, 1); });
    add(321, kSide, kMidH, [=](QPainter& p) {
        middle(p, kSide);
        p.fillRect(QRectF(0, 0, 1, kMidH), kBevelLight);
    });
    add(322, kSide, kMidH, [=](QPainter& p) {
        middle(p, kSide);
        p.fillRect(QRectF(kSide - 1, 0, 1, kMidH), kBevelDark);
    });
    // The dialogs' drawn marks, laid over their controls by the dialogs' style: a ticked box's tick, dark on
    // the amber the box is filled with (so it never reads as a radio button's dot), and a drop-down list's
    // arrow in the labels' grey on the dark field.
    out.push_back({380, {}, 18, 18, Finish::kAlpha, {}, [](QPainter& p) {
                       p.setPen(QPen(kBevelDark, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                       QPainterPath tick;
                       tick.moveTo(4.2, 9.4);
                       tick.lineTo(7.6, 12.8);
                       tick.lineTo(13.8, 5.2);
                       p.drawPath(tick);
                   }});
    out.push_back({381, {}, 12, 8, Finish::kAlpha, {}, [](QPainter& p) {
                       p.setPen(Qt::NoPen);
                       p.setBrush(QColor(0x8A, 0x8F, 0x96));
                       p.drawPolygon(QPolygonF({QPointF(1, 1.5), QPointF(11, 1.5), QPointF(6, 7)}));
                   }});
    return out;
}

std::vector<Picture> DialPictures() {
    // All seven layers share the 236 x 236 box and its centre; the scale runs clockwise from 120 degrees
    // (lower left) through the top to 60 degrees (lower right), in screen angles.
    constexpr int kBox = 236;
    const QPointF c(kBox / 2.0, kBox / 2.0);
    constexpr double kKnob = 86, kSlitIn = 89, kSlitOut = 93, kTickIn = 96, kTickOut = 101, kArc = 109;
    auto arcRect = [c](double r) { return QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r); };
    // Screen angles run clockwise, Qt's counter-clockwise: the scale starts at Qt's 240 and sweeps -300.
    constexpr int kArcStart = 240 * 16, kArcSweep = -300 * 16;

    std::vector<Picture> out;
    auto add = [&](const char* name, int size, Drawing draw) {
        out.push_back({0, QString::fromLatin1(name), size, size, Finish::kAlpha, {}, std::move(draw)});
    };
    add("indicator_glow_off", kBox, [=](QPainter& p) {
        p.setPen(QPen(QColor(0x0C, 0x0D, 0x0F), 8.0, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(arcRect(kArc), kArcStart, kArcSweep);
        p.setPen(QPen(WithAlpha(kBevelLight, 0.5), 1.0));
        p.drawArc(arcRect(kArc + 4.5), kArcStart, kArcSweep);
    });
    auto glowArc = [=](QPainter& p, bool muted) {
        const int scale = int(std::lround(p.transform().m11()));
        auto stroke = [=](QPainter& q) {
            if (muted) {
                q.setPen(QPen(kMuted, 5.0, Qt::SolidLine, Qt::FlatCap));
            } else {
                // Amber at the bottom of the scale, warming to orange at its top.
                QConicalGradient heat(c, 300);
                heat.setColorAt(0.0, kAmberHot);
                heat.setColorAt(300.0 / 360.0, kAmber);
                heat.setColorAt(1.0, kAmber);
                q.setPen(QPen(QBrush(heat), 5.0, Qt::SolidLine, Qt::FlatCap));
            }
            q.drawArc(arcRect(kArc), kArcStart, kArcSweep);
        };
        p.setPen(QPen(QColor(0x0C, 0x0D, 0x0F), 8.0, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(arcRect(kArc), kArcStart, kArcSweep);
        const QImage shape = Paint(kBox, kBox, scale, stroke);
        p.drawImage(QRectF(0, 0, kBox, kBox),
                    Glow(shape, 3 * scale, muted ? kMuted : kAmber, muted ? 0.4 : 0.9));
        stroke(p);
    };
    add("indicator_glow_on", kBox, [=](QPainter& p) { glowArc(p, false); });
    add("indicator_glow_muting", kBox, [=](QPainter& p) { glowArc(p, true); });
    add("indicator_slit", kBox, [=](QPainter& p) {
        p.setPen(QPen(QColor(0x06, 0x07, 0x08), kSlitOut - kSlitIn));
        p.setBrush(Qt::NoBrush);
        const double r = (kSlitIn + kSlitOut) / 2;
        p.drawEllipse(c, r, r);
        // The slit's far wall catches the light from above.
        p.setPen(QPen(WithAlpha(kBevelLight, 0.9), 1.0));
        p.drawArc(arcRect(kSlitOut + 0.5), 200 * 16, 140 * 16);
    });
    add("volume_dial", kBox, [=](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x12, 0x13, 0x15));
        p.drawEllipse(c, kKnob, kKnob);
        // Spun finish: rings one device pixel apart, alternately a shade lighter and darker.
        const double step = 1.0 / p.transform().m11();
        p.setBrush(Qt::NoBrush);
        int n = 0;
        for (double r = 1.0; r < kKnob - 2; r += step, ++n) {
            // A fixed pseudo-random shade per ring: fine grain without bands.
            const double hashed = std::sin(n * 12.9898) * 43758.5453;
            const double wobble = 2.0 * (hashed - std::floor(hashed)) - 1.0;
            p.setPen(QPen(WithAlpha(wobble > 0 ? Qt::white : Qt::black, 0.03 * std::fabs(wobble)), step));
            p.drawEllipse(c, r, r);
        }
        // A soft sheen from the room's light above.
        QRadialGradient sheen(QPointF(c.x(), c.y() - kKnob * 0.55), kKnob * 0.9);
        sheen.setColorAt(0, WithAlpha(Qt::white, 0.06));
        sheen.setColorAt(1, WithAlpha(Qt::white, 0.0));
        p.setPen(Qt::NoPen);
        p.setBrush(sheen);
        p.drawEllipse(c, kKnob, kKnob);
        // The machined edge.
        QLinearGradient edge(QPointF(0, c.y() - kKnob), QPointF(0, c.y() + kKnob));
        edge.setColorAt(0, kBevelLight);
        edge.setColorAt(1, kBevelDark);
        p.setPen(QPen(QBrush(edge), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(c, kKnob - 0.75, kKnob - 0.75);
    });
    add("mojiban", kBox, [=](QPainter& p) {
        // Short ticks every 10 degrees of the scale, longer every 30.
        for (int step = 0; step <= 30; ++step) {
            const double a = (120.0 + step * 10.0) * kPi / 180.0;
            const bool major = step % 3 == 0;
            const double inner = major ? kTickIn - 1 : kTickIn;
            p.setPen(
                QPen(WithAlpha(kLabel, major ? 0.95 : 0.6), major ? 1.4 : 1.0, Qt::SolidLine, Qt::FlatCap));
            p.drawLine(QPointF(c.x() + inner * std::cos(a), c.y() + inner * std::sin(a)),
                       QPointF(c.x() + kTickOut * std::cos(a), c.y() + kTickOut * std::sin(a)));
        }
    });
    // The pointer turns with the knob: a square picture, its line at the start of the scale.
    constexpr int kMarks = 2 * int(kKnob);
    add("volume_dial_marks_7", kMarks, [=](QPainter& p) {
        const QPointF m(kMarks / 2.0, kMarks / 2.0);
        const double a = 120.0 * kPi / 180.0;
        const QPointF from(m.x() + 52 * std::cos(a), m.y() + 52 * std::sin(a));
        const QPointF to(m.x() + 78 * std::cos(a), m.y() + 78 * std::sin(a));
        // Bold enough to read the level from across the room.
        p.setPen(QPen(QColor(0x04, 0x04, 0x05), 4.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(from, to);
        p.setPen(QPen(QColor(0xA4, 0xA9, 0xB0), 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(from + QPointF(0.4, 0.4), to + QPointF(0.4, 0.4));
    });
    return out;
}

QImage ProgramIcon(int size) {
    return Paint(size, size, 1, [size](QPainter& p) {
        const double s = size;
        QPainterPath tile;
        tile.addRoundedRect(QRectF(0, 0, s, s), s * 0.22, s * 0.22);
        p.save();
        p.setClipPath(tile);
        if (size >= 48) {
            BrushedMetal(p, QRectF(0, 0, s, s), kMetal, 102);
        } else {
            p.fillRect(QRectF(0, 0, s, s), kMetal);
        }
        p.restore();
        const QPointF c(s / 2, s / 2);
        const double r = s * 0.34;
        const double pen = std::max(1.5, s * 0.07);
        p.setPen(QPen(WithAlpha(kAmber, 0.18), pen, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 240 * 16, -300 * 16);
        QConicalGradient heat(c, 300);
        heat.setColorAt(0.0, kAmberHot);
        heat.setColorAt(300.0 / 360.0, kAmber);
        heat.setColorAt(1.0, kAmber);
        p.setPen(QPen(QBrush(heat), pen, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 240 * 16, -210 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x12, 0x13, 0x15));
        const double knob = s * 0.24;
        p.drawEllipse(c, knob, knob);
        // The pointer at the arc's lit end.
        const double a = (120.0 + 210.0) * kPi / 180.0;
        p.setPen(QPen(QColor(0x9C, 0xA1, 0xA8), std::max(1.0, s * 0.035), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(c.x() + knob * 0.35 * std::cos(a), c.y() + knob * 0.35 * std::sin(a)),
                   QPointF(c.x() + knob * 0.85 * std::cos(a), c.y() + knob * 0.85 * std::sin(a)));
    });
}

} // namespace paint
