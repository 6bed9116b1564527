// quellwave-skin-sheet MODULE.rcc OUT.png [SCALE]: lays every bitmap (and icon) of a resource or skin
// module on one sheet, each with its id and size under it, at SCALE (1, 2 or 3; default 1). Keyed
// colour is shown as transparent over a faint checker of the panel's metal, so what the windows will
// leave out is visible. What a skin author uses to check a skin. Given a folder instead of a module
// (Data/Image, or a module's unpacked folder such as the program's own), it lays out the folder's PNG
// files at that scale by name.
//
// quellwave-skin-sheet --preview PROGRAMDIR OUT.png [SCALE]: the player panel put together from the
// modules and dial images in PROGRAMDIR.
#include "shell/ResourceModules.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cstdio>

namespace {

struct Tile {
    QString caption;
    QImage image; // at the sheet's scale, key colour already transparent
};

constexpr int kGap = 16;
constexpr int kCaption = 18;
constexpr int kMargin = 24;
constexpr int kHeader = 56;

int Fail(const char* message) {
    std::fprintf(stderr, "quellwave-skin-sheet: %s\n", message);
    return 1;
}

void Checker(QPainter& p, const QRect& rect) {
    p.save();
    p.setClipRect(rect);
    const QColor a(0x1C, 0x1E, 0x21), b(0x25, 0x28, 0x2C);
    for (int y = rect.top(); y < rect.bottom(); y += 8) {
        for (int x = rect.left(); x < rect.right(); x += 8) {
            p.fillRect(QRect(x, y, 8, 8), ((x - rect.left()) / 8 + (y - rect.top()) / 8) % 2 ? a : b);
        }
    }
    p.restore();
}

// The player panel put together from a program folder's modules, as the windows place the pictures:
// disc mode, playing track 12 at 1:02:05, repeat all, the dial at 60. For judging the look as a whole.
int Preview(const QString& programDir, const QString& out, int scale) {
    CResourceModules chain;
    if (!chain.LoadResourceModule(kStringResourceModule, programDir.toStdString()) ||
        !chain.ChooseSkin((programDir + QStringLiteral("/skin")).toStdString())) {
        return Fail("the folder holds no resource module or no skin");
    }
    QImage panel(1024 * scale, 768 * scale, QImage::Format_RGB32);
    panel.fill(Qt::black);
    QPainter p(&panel);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.scale(scale, scale);
    auto put = [&](unsigned id, int x, int y) {
        const QImage image = chain.Bitmap(id, scale);
        if (!image.isNull()) {
            p.drawImage(QPointF(x, y), image); // the device pixel ratio gives the layout size
        }
    };
    put(4052, 0, 0);
    // Player window (x, y of each control).
    const int buttons[][3] = {{4046, 992, 16},  {4049, 974, 16},  {4037, 328, 237}, {4037, 440, 237},
                              {4037, 552, 237}, {4037, 664, 237}, {351, 775, 91},   {348, 775, 131},
                              {345, 877, 91},   {4043, 88, 103},  {324, 144, 111},  {4037, 378, 555},
                              {4037, 614, 555}};
    for (const auto& b : buttons) {
        put(unsigned(b[0]), b[1], b[2]);
    }
    const int pictures[][3] = {{5028, 432, 55},  {5023, 327, 212}, {5024, 450, 212}, {5025, 555, 212},
                               {5026, 667, 212}, {1053, 77, 78},   {5042, 456, 304}, {5040, 351, 563},
                               {5041, 657, 563}, {1054, 458, 626}};
    for (const auto& q : pictures) {
        put(unsigned(q[0]), q[1], q[2]);
    }
    // Display panel at 276, 91.
    p.save();
    p.translate(276, 91);
    put(4042, 0, 0);
    const int display[][3] = {{1030, 68, 41},  {5047, 17, 41},  {1044, 430, 54}, {5051, 430, 32},
                              {5045, 152, 10}, {5044, 385, 10}, {360, 145, 33},  {371, 175, 33},
                              {4093, 255, 33}, {5066, 285, 33}, {4092, 295, 33}, {4094, 325, 33},
                              {5067, 355, 33}, {4092, 365, 33}, {4097, 395, 33}};
    for (const auto& d : display) {
        put(unsigned(d[0]), d[1], d[2]);
    }
    p.restore();
    // The dial at 394, 335: its layers as the control draws them, at position 180 (value 60).
    const QString images = programDir + QStringLiteral("/Data/Image/");
    auto layer = [&](const char* name) {
        QImage image(images + QString::fromLatin1(name) +
                     (scale == 1 ? QStringLiteral(".png") : QStringLiteral("@%1x.png").arg(scale)));
        image.setDevicePixelRatio(scale);
        return image;
    };
    const int position = 180;
    p.save();
    p.translate(394, 335);
    auto centred = [&](const QImage& image) {
        const QSizeF size = image.deviceIndependentSize();
        p.drawImage(QPointF((236 - size.width()) / 2, (236 - size.height()) / 2), image);
    };
    centred(layer("indicator_glow_off"));
    QPainterPath pie;
    pie.moveTo(118, 118);
    pie.arcTo(QRectF(0, 0, 236, 236), -120, -position);
    pie.closeSubpath();
    p.setClipPath(pie);
    centred(layer("indicator_glow_on"));
    p.setClipping(false);
    centred(layer("indicator_slit"));
    centred(layer("volume_dial"));
    centred(layer("mojiban"));
    p.translate(118, 118);
    p.rotate(position);
    p.translate(-118, -118);
    centred(layer("volume_dial_marks_7"));
    p.restore();
    p.end();
    if (!panel.save(out, "PNG")) {
        return Fail("cannot write the preview");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 4 && args[1] == QLatin1String("--preview")) {
        return Preview(args[2], args[3], args.size() > 4 ? std::clamp(args[4].toInt(), 1, 3) : 1);
    }
    if (args.size() < 3 || args.size() > 4) {
        return Fail("usage: quellwave-skin-sheet MODULE.rcc OUT.png [SCALE]");
    }
    const int scale = args.size() == 4 ? args[3].toInt() : 1;
    if (scale < 1 || scale > 3) {
        return Fail("SCALE is 1, 2 or 3");
    }
    std::vector<Tile> tiles;
    QString heading;
    std::unique_ptr<CResourceModule> module;
    if (QFileInfo(args[1]).isDir()) {
        const QString suffix = scale == 1 ? QStringLiteral(".png") : QStringLiteral("@%1x.png").arg(scale);
        // A module's unpacked folder (as the build lays it out) keeps its pictures in bitmaps/.
        const QDir folder(
            QDir(args[1]).exists(QStringLiteral("bitmaps")) ? args[1] + QStringLiteral("/bitmaps") : args[1]);
        for (const QString& file : folder.entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name)) {
            if (!file.endsWith(suffix) || (scale == 1 && file.contains(QLatin1Char('@')))) {
                continue;
            }
            QImage image(folder.filePath(file));
            image.setDevicePixelRatio(1.0);
            tiles.push_back({QStringLiteral("%1  %2\u00D7%3")
                                 .arg(file)
                                 .arg(image.width() / scale)
                                 .arg(image.height() / scale),
                             image});
        }
        heading = QStringLiteral("%1  \u2014  %2 pictures at %3x")
                      .arg(folder.dirName())
                      .arg(tiles.size())
                      .arg(scale);
    } else {
        module = CResourceModule::Load(args[1].toStdString());
        if (!module) {
            return Fail("not a valid resource file");
        }
        const QString name = module->String(kStringSkinName);
        heading = QStringLiteral("%1%2  \u2014  %3 bitmaps at %4x")
                      .arg(QString::fromStdString(module->file().filename().string()))
                      .arg(name.isEmpty() ? QString() : QStringLiteral("  \u201C%1\u201D").arg(name))
                      .arg(module->BitmapIds().size())
                      .arg(scale);
    }
    for (unsigned id : module ? module->BitmapIds() : std::vector<unsigned>{}) {
        QImage image = module->Bitmap(id, scale);
        QString found = QStringLiteral("%1x").arg(scale);
        for (int s = scale - 1; image.isNull() && s >= 1; --s) {
            image = module->Bitmap(id, s).scaled(module->Bitmap(id, s).size() * scale / s);
            found = QStringLiteral("%1x scaled").arg(s);
        }
        if (image.isNull()) {
            tiles.push_back({QStringLiteral("%1  (no %2x)").arg(id).arg(scale), {}});
            continue;
        }
        // The sheet is drawn in device pixels: one image pixel, one sheet pixel.
        image.setDevicePixelRatio(1.0);
        const QSize layout = image.size() / scale;
        tiles.push_back(
            {QStringLiteral("%1  %2\u00D7%3").arg(id).arg(layout.width()).arg(layout.height()) +
                 (found.endsWith(QLatin1String("scaled")) ? QStringLiteral("  ") + found : QString()),
             KeyOut(image)});
    }
    // Icons: every size the module holds, drawn at its own pixel size.
    for (unsigned id : {kIconProgram}) {
        const QIcon icon = module ? module->Icon(id) : QIcon();
        for (const QSize& size : icon.availableSizes()) {
            tiles.push_back({QStringLiteral("icon %1  %2").arg(id).arg(size.width()), [&] {
                                 QImage image = icon.pixmap(size).toImage().scaled(size * scale);
                                 image.setDevicePixelRatio(1.0);
                                 return image;
                             }()});
        }
    }
    if (tiles.empty()) {
        return Fail("nothing to lay out");
    }
    // Small pictures first, in id order within a row height; the panel-sized ones at the end.
    std::stable_sort(tiles.begin(), tiles.end(), [](const Tile& a, const Tile& b) {
        return a.image.height() / 40 < b.image.height() / 40;
    });

    const int width = std::max(1400 * scale, [&] {
        int widest = 0;
        for (const Tile& t : tiles) {
            widest = std::max(widest, t.image.width());
        }
        return widest + 2 * kMargin * scale;
    }());
    // Flow layout: rows as wide as the sheet.
    struct Placed {
        QPoint at;
        const Tile* tile;
    };
    std::vector<Placed> placed;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11 * scale);
    const QFontMetrics metrics(font);
    int x = kMargin * scale, y = (kMargin + kHeader) * scale, rowHeight = 0;
    for (const Tile& tile : tiles) {
        const int w = std::max(tile.image.width(), metrics.horizontalAdvance(tile.caption));
        const int h = tile.image.height() + kCaption * scale;
        if (x + w > width - kMargin * scale && x > kMargin * scale) {
            x = kMargin * scale;
            y += rowHeight + kGap * scale;
            rowHeight = 0;
        }
        placed.push_back({QPoint(x, y), &tile});
        x += w + kGap * scale;
        rowHeight = std::max(rowHeight, h);
    }
    const int height = y + rowHeight + kMargin * scale;

    QImage sheet(width, height, QImage::Format_RGB32);
    sheet.fill(QColor(0x0E, 0x0F, 0x11));
    QPainter p(&sheet);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont title = font;
    title.setPixelSize(18 * scale);
    p.setFont(title);
    p.setPen(QColor(0xC9, 0xCD, 0xD3));
    p.drawText(QPoint(kMargin * scale, (kMargin + 22) * scale), heading);
    p.setFont(font);
    for (const Placed& item : placed) {
        const QImage& image = item.tile->image;
        if (!image.isNull()) {
            Checker(p, QRect(item.at, image.size()));
            p.drawImage(item.at, image);
        }
        p.setPen(QColor(0x8A, 0x8F, 0x96));
        p.drawText(QPoint(item.at.x(), item.at.y() + image.height() + 13 * scale), item.tile->caption);
    }
    p.end();
    if (!sheet.save(args[2], "PNG")) {
        return Fail("cannot write the sheet");
    }
    std::printf("%s: %zu pictures, %d x %d pixels\n", qPrintable(args[2]), tiles.size(), width, height);
    return 0;
}
