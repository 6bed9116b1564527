// The colours the panel's own drawing of what is playing shares: the title line, the cover's frame and the
// play list card, so that text, labels and bevels read alike wherever they appear over the panel.
#pragma once

#include <QColor>

namespace app::palette {

// Text on the dark glass and card; labels and secondary lines in the metal's label grey.
inline constexpr QColor kText(0xD5, 0xD9, 0xDE);
inline constexpr QColor kLabel(0x8A, 0x8F, 0x96);
// The display's amber, for what is lit.
inline constexpr QColor kAmber(0xFF, 0xB2, 0x3F);
// The display's glass, and the panel's bevel: the dark line below and right, the light one above and left.
inline constexpr QColor kGlass(0x05, 0x06, 0x07);
inline constexpr QColor kBevelDark(0x0B, 0x0C, 0x0D);
inline constexpr QColor kBevelLight(0x3A, 0x3D, 0x42);

} // namespace app::palette
