#include "ModuleBuilder.h"

#include "Platform/Process.h"
#include "TestKit/Scratch.h"

#include <QBuffer>

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
    // Started with fork and exec rather than QProcess, whose vfork-like start the arm64 emulator refuses;
    // rcc's complaints go to the test's standard error.
    std::vector<std::string> args{"--binary"};
    for (const QString& option : rccOptions)
        args.push_back(option.toStdString());
    args.insert(args.end(), {"--output", out.string(), listing.string()});
    auto rcc = platform::ChildProcess::Start(QW_RCC_PATH, args);
    ASSERT_TRUE(rcc.Started()) << QW_RCC_PATH;
    const platform::ExitStatus status = rcc.Wait();
    ASSERT_EQ(status.Code(), 0) << QW_RCC_PATH << " ended with signal " << status.signal;
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
