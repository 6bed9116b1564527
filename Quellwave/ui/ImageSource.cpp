#include "ImageSource.h"

#include <algorithm>

#include "shell/ResourceModules.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <utility>

namespace ui {

namespace {

BitmapLoader& DefaultBitmapLoaderSlot() {
    // The program's resource chain: resource module, then skin, then the program's own pictures.
    static BitmapLoader loader = [](unsigned id, int scale) { return ResourceBitmap(id, scale); };
    return loader;
}

QImage LoadDialImageFile(const QString& folder, const QString& fileName, int scale) {
    const QFileInfo base(QDir(folder).filePath(fileName));
    for (int s = scale; s >= 2; --s) {
        const QString scaled =
            base.dir().filePath(base.completeBaseName() + QStringLiteral("@%1x.").arg(s) + base.suffix());
        QImage image(scaled);
        if (!image.isNull()) {
            image.setDevicePixelRatio(s);
            return image;
        }
    }
    return QImage(base.filePath());
}

} // namespace

BitmapLoader DefaultBitmapLoader() {
    return DefaultBitmapLoaderSlot();
}

void SetDefaultBitmapLoader(BitmapLoader loader) {
    DefaultBitmapLoaderSlot() = std::move(loader);
}

NamedImageLoader DefaultDialImageLoader() {
    // The folder is resolved at each load: the program sets its working directory at start.
    return [](const QString& fileName, int scale) {
        return LoadDialImageFile(QDir::current().filePath(QStringLiteral("Data/Image")), fileName, scale);
    };
}

NamedImageLoader DialImagesIn(const QString& folder) {
    return
        [folder](const QString& fileName, int scale) { return LoadDialImageFile(folder, fileName, scale); };
}

int ScaleForPixelRatio(qreal devicePixelRatio) noexcept {
    if (!(devicePixelRatio > 1.0))
        return 1;
    if (devicePixelRatio > 3.0)
        return 3;
    return static_cast<int>(std::ceil(devicePixelRatio - 1e-6));
}

QImage KeyedImage(const QImage& image, QRgb key) {
    if (image.isNull())
        return image;
    QImage keyed = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb keyRgb = key & 0xFFFFFF;
    for (int y = 0; y < keyed.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
        for (int x = 0; x < keyed.width(); ++x) {
            if ((line[x] & 0xFFFFFF) == keyRgb)
                line[x] = 0;
        }
    }
    return keyed.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage AtPixelRatio(const QImage& image, qreal devicePixelRatio) {
    if (image.isNull() || !(devicePixelRatio > 0) ||
        qFuzzyCompare(image.devicePixelRatio(), devicePixelRatio))
        return image;
    const QSizeF logical = image.deviceIndependentSize();
    const QSize pixels(std::max(1, qRound(logical.width() * devicePixelRatio)),
                       std::max(1, qRound(logical.height() * devicePixelRatio)));
    // Filtered in premultiplied form, so the transparent (keyed) pixels lend no colour to the edges.
    QImage resampled = image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                           .scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    resampled.setDevicePixelRatio(devicePixelRatio);
    return resampled;
}

} // namespace ui
