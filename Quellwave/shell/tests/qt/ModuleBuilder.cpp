#include "ModuleBuilder.h"

#include "TestKit/Scratch.h"

#include <QBuffer>
#include <QProcess>

#include <gtest/gtest.h>

namespace qwtest {

void BuildModule(const std::filesystem::path& out, const ModuleFiles& files, const QStringList& rccOptions) {
    const testkit::ScratchFolder stage("stage");
    std::string qrc = "<!DOCTYPE RCC><RCC version=\"1.0\"><qresource prefix=\"/\">\n";
    for (const auto& [name, bytes] : files) {
        stage.Put(name, bytes.toStdString());
        qrc += "<file>" + name + "</file>\n";
    }
    qrc += "</qresource></RCC>\n";
    const std::filesystem::path listing = stage.Put("module.qrc", qrc);
    QProcess rcc;
    rcc.start(QStringLiteral(QW_RCC_PATH),
              QStringList{QStringLiteral("--binary")} + rccOptions +
                  QStringList{QStringLiteral("--output"), QString::fromStdString(out.string()),
                              QString::fromStdString(listing.string())});
    const bool finished = rcc.waitForFinished(60000);
    ASSERT_TRUE(finished && rcc.exitCode() == 0) << rcc.readAllStandardError().toStdString();
}

QByteArray Png(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray SolidPng(int w, int h, unsigned rgb) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor::fromRgb(0xFF000000u | rgb));
    return Png(image);
}

} // namespace qwtest
