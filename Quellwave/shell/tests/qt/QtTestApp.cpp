#include "QtTestApp.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>

namespace qwtest {
void BuildModule(const std::filesystem::path& out, const ModuleFiles& files, const QStringList& rccOptions) {
    const std::filesystem::path stage = MakeTempDir("/tmp/qw-stage-XXXXXX");
    std::string qrc = "<!DOCTYPE RCC><RCC version=\"1.0\"><qresource prefix=\"/\">\n";
    for (const auto& [name, bytes] : files) {
        const std::filesystem::path file = stage / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary).write(bytes.constData(), bytes.size());
        qrc += "<file>" + name + "</file>\n";
    }
    qrc += "</qresource></RCC>\n";
    std::ofstream(stage / "module.qrc") << qrc;
    QProcess rcc;
    rcc.start(QStringLiteral(QW_RCC_PATH),
              QStringList{QStringLiteral("--binary")} + rccOptions +
                  QStringList{QStringLiteral("--output"), QString::fromStdString(out.string()),
                              QString::fromStdString((stage / "module.qrc").string())});
    const bool finished = rcc.waitForFinished(60000);
    std::filesystem::remove_all(stage);
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

std::filesystem::path MakeTempDir(const char* prefix) {
    std::string pattern = prefix;
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a temporary folder";
        return {};
    }
    return pattern;
}

} // namespace qwtest
