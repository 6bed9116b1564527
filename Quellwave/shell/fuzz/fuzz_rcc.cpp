// Feeds arbitrary bytes to the resource file check. Whatever it accepts is registered with Qt and every
// file in it is listed and read, as the look-ups would: the sanitizers then catch any read the check
// should have refused.
#include "shell/RccImage.h"

#include <QByteArray>
#include <QDirIterator>
#include <QFile>
#include <QResource>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (rcc::CheckImage(data, size) != rcc::ImageCheck::kOk) {
        return 0;
    }
    // Qt keeps a pointer to the bytes while they are registered; a copy of our own keeps them alive.
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto* image = reinterpret_cast<const uchar*>(bytes.constData());
    if (!QResource::registerResource(image, QStringLiteral("/fuzz"))) {
        return 0;
    }
    QDirIterator it(QStringLiteral(":/fuzz"), QDirIterator::Subdirectories);
    int files = 0;
    while (it.hasNext() && files < 1000) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly)) {
            file.readAll();
        }
        ++files;
    }
    QResource::unregisterResource(image, QStringLiteral("/fuzz"));
    return 0;
}
