#include "ScreenScale.h"

#include <QByteArray>
#include <QList>

namespace ui {

namespace {
constexpr char kScaleFactorVariable[] = "QT_SCALE_FACTOR";
} // namespace

void SetScaleForRestart(double factor, QSize screenPixels) {
    qputenv(kScaleFactorVariable, QByteArray::number(factor, 'g', 10));
    qputenv(kScreenPixelsVariable,
            QByteArray::number(screenPixels.width()) + 'x' + QByteArray::number(screenPixels.height()));
}

QSize ScreenPixelsFromRestart() {
    if (!qEnvironmentVariableIsSet(kScaleFactorVariable))
        return {};
    const QList<QByteArray> sides = qgetenv(kScreenPixelsVariable).split('x');
    if (sides.size() != 2)
        return {};
    bool wide = false;
    bool high = false;
    const QSize pixels(sides[0].toInt(&wide), sides[1].toInt(&high));
    // Up to 16 times an 8K screen's sides: anything else was not written by this program.
    if (!wide || !high || pixels.width() <= 0 || pixels.height() <= 0 || pixels.width() > 1 << 17 ||
        pixels.height() > 1 << 17)
        return {};
    return pixels;
}

QProcessEnvironment ChildEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (environment.contains(QString::fromLatin1(kScreenPixelsVariable))) {
        environment.remove(QString::fromLatin1(kScreenPixelsVariable));
        environment.remove(QString::fromLatin1(kScaleFactorVariable));
    }
    return environment;
}

} // namespace ui
