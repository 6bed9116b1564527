// Shared by the control tests: the application object, a parent window that records what the controls post
// to it, and pictures painted by the tests (dial layers, digits, labels, button faces) in the default look's
// colours, each bitmap tagged with its id (QImage text "id") so a test can tell which picture a control
// shows.
#pragma once

#include "ImageSource.h"

#include "Platform/MessageTarget.h"

#include <QColor>
#include <QImage>
#include <QWidget>

#include <vector>

namespace uitest {

// The parent the controls notify: a plain widget that keeps every posted message in order.
class RecordingParent : public QWidget, public platform::MessageTarget {
public:
    RecordingParent() { resize(600, 400); }
    bool post(UINT msg, WPARAM wParam, LPARAM lParam) override {
        messages.push_back({msg, wParam, lParam});
        return true;
    }
    std::size_t Count(UINT msg) const {
        std::size_t n = 0;
        for (const auto& m : messages)
            n += m.msg == msg ? 1 : 0;
        return n;
    }
    std::vector<platform::Message> messages;
};

// Colours of the default look.
inline const QColor kAmber(0xFF, 0xB2, 0x3F);
inline const QColor kGlowOff(0x2A, 0x2C, 0x30);
inline const QColor kGlowMuting(0x5A, 0x5E, 0x63);

// Radius (box pixels, around (118, 118)) of the middle of the glow ring the painted dial images light.
inline constexpr double kGlowRadius = 107.0;

// The seven dial images painted for a test (at 1x, 2x or 3x).
ui::NamedImageLoader PaintedDialImages();

// Bitmaps by id for the display panel and the buttons, painted with the key colour around them. Ids it does
// not know give a null image.
ui::BitmapLoader PaintedBitmaps();

// Which of the three reference colours a pixel is nearest to: 'on', 'off' or 'muting'.
const char* GlowAt(const QImage& image, double angleDegrees);

} // namespace uitest
