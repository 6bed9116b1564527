// Shared by the control tests: the kit's parent window that records what the controls post, and plain
// pictures painted by the tests: the dial's layers as flat-coloured rings, and bitmaps by id tagged with
// their id (QImage text "id") on a key-coloured border, so a test can tell which picture a control shows.
#pragma once

#include "ui/ImageSource.h"

#include "TestKit/RecordingParent.h"

#include <QColor>

namespace uitest {

using testkit::RecordingParent;

inline const QColor kGlowOn(0xFF, 0xB2, 0x3F);
inline const QColor kGlowOff(0x2A, 0x2C, 0x30);
inline const QColor kGlowMuting(0x5A, 0x5E, 0x63);
inline const QColor kBitmapFill(0x30, 0x60, 0x90);

// Dial layers: glow rings around radius 107 of the box's centre (118, 118), a knob disc and a pointer line
// (the marks image) at the start of the scale.
ui::NamedImageLoader PaintedDialImages();
// A 24 x 34 picture for every id: kBitmapFill inside a 2-pixel border of the key colour.
ui::BitmapLoader PaintedBitmaps();
// "on", "off" or "muting": the glow colour nearest to the painted pixel on the glow ring at this angle.
const char* GlowAt(const QImage& image, double angleDegrees);

} // namespace uitest
