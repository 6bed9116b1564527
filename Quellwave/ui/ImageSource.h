// Where the controls get their pictures. Bitmaps come by numeric id through a BitmapLoader, the dial's seven
// images by file name through a NamedImageLoader; the controls take either as a constructor argument, so a
// test can hand them pictures it painted itself, and fall back to the program-wide defaults otherwise.
#pragma once

#include <QImage>
#include <QString>
#include <QtGui/qrgb.h>

#include <functional>

namespace ui {

// The colour keyed bitmaps leave out, as 0xRRGGBB (#FF0080, a colour the artwork never shows).
inline constexpr QRgb kKeyColour = 0xFF0080;

// A bitmap by id at a scale of 1, 2 or 3 (the image's device pixel ratio says which scale it has; a loader
// may answer with a smaller scale than asked). Null when there is no such bitmap. Called on the UI thread.
using BitmapLoader = std::function<QImage(unsigned id, int scale)>;

// An image by file name (e.g. "volume_dial.png") at a scale of 1, 2 or 3, as above.
using NamedImageLoader = std::function<QImage(const QString& fileName, int scale)>;

// The loaders the controls use when they are given none. The bitmap loader looks along the program's
// resource chain (ResourceBitmap: resource module, skin, program) unless SetDefaultBitmapLoader put another
// in its place. The named-image loader reads "Data/Image/<name>" relative to the current
// directory, taking "<stem>@2x.png" or "<stem>@3x.png" beside it when the scale asks for it and it exists.
BitmapLoader DefaultBitmapLoader();
void SetDefaultBitmapLoader(BitmapLoader loader);
NamedImageLoader DefaultDialImageLoader();
// The same, reading from the given folder instead of "Data/Image" under the current directory.
NamedImageLoader DialImagesIn(const QString& folder);

// The whole-number scale (1..3) of the pictures to load for a device pixel ratio.
int ScaleForPixelRatio(qreal devicePixelRatio) noexcept;

// The image as premultiplied ARGB32 with every pixel of exactly the key colour (alpha ignored) made
// transparent; the device pixel ratio is kept. An image that already has an alpha channel is keyed too,
// so keying twice changes nothing. A null image stays null.
QImage KeyedImage(const QImage& image, QRgb key = kKeyColour);

// The image resampled once, smoothly, to a device pixel ratio that is not its own (the panel scaled by 1.4
// draws from the 2x artwork): every later draw is then a plain copy of whole pixels. Premultiplied ARGB32;
// an image already at that ratio, or a null one, is returned as it is.
QImage AtPixelRatio(const QImage& image, qreal devicePixelRatio);

} // namespace ui
