// Every picture of the default look, described once and painted at any scale.
#pragma once

#include "Canvas.h"

#include <QString>

#include <vector>

namespace paint {

enum class Finish {
    kOverMetal, // keyed; edges blended for the panel's metal
    kOverGlass, // keyed; edges blended for the display's glass
    kOpaque,    // no key colour; composed over its own background
    kAlpha,     // kept with its transparency (the dial's layers, the icon)
};

struct Picture {
    unsigned id;  // bitmap id; 0 for files named otherwise
    QString name; // file name stem when id is 0 (the dial's layers)
    int width;
    int height;
    Finish finish;
    QColor background; // for kOpaque
    Drawing draw;
};

// The skin's bitmaps: buttons, labels, the display's elements, digits, the panel face.
std::vector<Picture> SkinPictures();
// The resource module's bitmaps: the about box pictures.
std::vector<Picture> ResourcePictures();
// The program's own bitmaps: the start-up notice's frame.
std::vector<Picture> ProgramPictures();
// The seven layers of the volume dial, named by their files.
std::vector<Picture> DialPictures();
// The program icon at one size.
QImage ProgramIcon(int size);

// Paints a picture at a scale and finishes it (key colour, backdrop).
QImage Render(const Picture& picture, int scale);

} // namespace paint
