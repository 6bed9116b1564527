// quellwave-paint: paints the default look and lays out module folders for rcc.
//
//   quellwave-paint skin OUTDIR NAME          the default skin (string 3000 = NAME)
//   quellwave-paint resources OUTDIR TABLE    the resource module: texts from TABLE, icon, about pictures
//   quellwave-paint program OUTDIR TABLE      the program's own resources, compiled into the program
//   quellwave-paint dial OUTDIR               the seven dial images, at 1x, @2x and @3x
//
// A module folder gets strings/<id>.txt, bitmaps/<id>[@Nx].png, icons/<id>/<size>.png and module.qrc.
// TABLE lines are "<id><TAB><text>" with \n, \t and \\ escapes; lines starting with # are comments.
#include "Artwork.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

constexpr int kScales[] = {1, 2, 3};
constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

int Fail(const QString& message) {
    std::fprintf(stderr, "quellwave-paint: %s\n", qPrintable(message));
    return 1;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

class Module {
public:
    Module(QString dir, QString prefix) : dir_(std::move(dir)), prefix_(std::move(prefix)) {}

    bool Text(unsigned id, const QString& text) {
        return Add(QStringLiteral("strings/%1.txt").arg(id), text.toUtf8());
    }
    bool Image(const QString& name, const QImage& image) {
        QDir().mkpath(QFileInfo(dir_ + QLatin1Char('/') + name).path());
        files_.push_back(name);
        return image.save(dir_ + QLatin1Char('/') + name, "PNG");
    }
    bool Bitmap(const paint::Picture& picture) {
        for (int scale : kScales) {
            const QString name = scale == 1 ? QStringLiteral("bitmaps/%1.png").arg(picture.id)
                                            : QStringLiteral("bitmaps/%1@%2x.png").arg(picture.id).arg(scale);
            if (!Image(name, paint::Render(picture, scale))) {
                return false;
            }
        }
        return true;
    }
    bool Icon(unsigned id) {
        for (int size : kIconSizes) {
            if (!Image(QStringLiteral("icons/%1/%2.png").arg(id).arg(size), paint::ProgramIcon(size))) {
                return false;
            }
        }
        return true;
    }
    bool Finish() {
        QByteArray qrc =
            "<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"" + prefix_.toUtf8() + "\">\n";
        for (const QString& file : files_) {
            qrc += "    <file>" + file.toUtf8() + "</file>\n";
        }
        qrc += "</qresource>\n</RCC>\n";
        return WriteFile(dir_ + QStringLiteral("/module.qrc"), qrc);
    }

private:
    bool Add(const QString& name, const QByteArray& bytes) {
        files_.push_back(name);
        return WriteFile(dir_ + QLatin1Char('/') + name, bytes);
    }

    QString dir_;
    QString prefix_;
    QStringList files_;
};

// Reads a string table; false with a message naming the line when one is malformed.
bool ReadTable(const QString& path, std::map<unsigned, QString>* table, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    int number = 0;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw);
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        bool ok = false;
        const unsigned id = tab > 0 ? line.left(tab).toUInt(&ok) : 0;
        if (!ok || id == 0 || id > 65535 || table->count(id) != 0) {
            *error = QStringLiteral("%1:%2: expected a new id (1..65535), a tab and the text")
                         .arg(path)
                         .arg(number);
            return false;
        }
        QString text;
        const QString body = line.mid(tab + 1);
        for (qsizetype i = 0; i < body.size(); ++i) {
            if (body[i] == QLatin1Char('\\') && i + 1 < body.size()) {
                const QChar next = body[++i];
                text += next == QLatin1Char('n')   ? QChar('\n')
                        : next == QLatin1Char('t') ? QChar('\t')
                                                   : next;
            } else {
                text += body[i];
            }
        }
        (*table)[id] = text;
    }
    return true;
}

bool Texts(Module& module, const QString& tablePath, QString* error) {
    std::map<unsigned, QString> table;
    if (!ReadTable(tablePath, &table, error)) {
        return false;
    }
    for (const auto& [id, text] : table) {
        if (!module.Text(id, text)) {
            *error = QStringLiteral("cannot write string %1").arg(id);
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Painting needs fonts but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        return Fail(QStringLiteral("usage: quellwave-paint skin|resources|program|dial OUTDIR [NAME|TABLE]"));
    }
    if (!paint::LoadFaces()) {
        return Fail(QStringLiteral("the DejaVu Sans font files are missing (package fonts-dejavu-core)"));
    }
    const QString command = args[1];
    const QString out = args[2];
    QString error;
    if (command == QLatin1String("dial")) {
        for (const paint::Picture& picture : paint::DialPictures()) {
            for (int scale : kScales) {
                const QString name = scale == 1 ? picture.name + QStringLiteral(".png")
                                                : picture.name + QStringLiteral("@%1x.png").arg(scale);
                QDir().mkpath(out);
                if (!paint::Render(picture, scale).save(out + QLatin1Char('/') + name, "PNG")) {
                    return Fail(QStringLiteral("cannot write %1").arg(name));
                }
            }
        }
        return 0;
    }
    if (args.size() < 4) {
        return Fail(QStringLiteral("%1 needs a fourth argument").arg(command));
    }
    QDir(out).removeRecursively();
    const bool program = command == QLatin1String("program");
    Module module(out, program ? QStringLiteral("/quellwave-program") : QStringLiteral("/"));
    bool ok = true;
    if (command == QLatin1String("skin")) {
        ok = module.Text(3000, args[3]);
        for (const paint::Picture& picture : paint::SkinPictures()) {
            ok = ok && module.Bitmap(picture);
        }
    } else if (command == QLatin1String("resources") || program) {
        ok = Texts(module, args[3], &error) && module.Icon(102);
        for (const paint::Picture& picture : program ? paint::ProgramPictures() : paint::ResourcePictures()) {
            ok = ok && module.Bitmap(picture);
        }
    } else {
        return Fail(QStringLiteral("unknown command %1").arg(command));
    }
    if (!ok || !module.Finish()) {
        return Fail(error.isEmpty() ? QStringLiteral("cannot write the module in %1").arg(out) : error);
    }
    return 0;
}
