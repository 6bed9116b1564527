#include "ResourceModules.h"

#include "RccImage.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QResource>

#include <algorithm>
#include <atomic>
#include <fstream>

namespace {

std::atomic<unsigned> gNextRoot{0};

// Resource files larger than this are refused rather than read whole: a skin is a few megabytes.
constexpr std::uintmax_t kMaxModuleBytes = 256u * 1024 * 1024;

constexpr char kProgramRoot[] = "/quellwave-program";

// A skin's display name is read into room for 259 characters, the most SkinName holds, so a longer name
// still matches itself once stored.
QString DisplayName(const CResourceModule& skin) {
    return skin.String(kStringSkinName).left(int(kSettingStringChars) - 1);
}

bool ReadWhole(const std::filesystem::path& file, QByteArray* bytes) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        return false;
    }
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error || size > kMaxModuleBytes) {
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes->resize(static_cast<qsizetype>(size));
    in.read(bytes->data(), static_cast<std::streamsize>(size));
    return static_cast<std::uintmax_t>(in.gcount()) == size;
}

// Ids from the names in one folder of a module: "<id><suffix>", where suffix is one of the accepted ones.
std::vector<unsigned> IdsIn(const QString& folder, const QStringList& suffixes) {
    std::vector<unsigned> ids;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        for (const QString& suffix : suffixes) {
            if (!name.endsWith(suffix)) {
                continue;
            }
            bool ok = false;
            const unsigned id = name.left(name.size() - suffix.size()).toUInt(&ok);
            if (ok) {
                ids.push_back(id);
            }
            break;
        }
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

} // namespace

// The program's own resources are compiled into this library; a static library needs to be told to
// register them.
static void InitProgramResources() {
    Q_INIT_RESOURCE(quellwave_program);
}

std::unique_ptr<CResourceModule> CResourceModule::Load(const std::filesystem::path& file) {
    std::unique_ptr<CResourceModule> module(new CResourceModule);
    if (!ReadWhole(file, &module->bytes_)) {
        return nullptr;
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(module->bytes_.constData());
    if (rcc::CheckImage(data, static_cast<std::size_t>(module->bytes_.size())) != rcc::ImageCheck::kOk) {
        return nullptr;
    }
    module->file_ = file;
    module->mapRoot_ = QStringLiteral("/qwmod%1").arg(gNextRoot.fetch_add(1));
    if (!QResource::registerResource(reinterpret_cast<const uchar*>(module->bytes_.constData()),
                                     module->mapRoot_)) {
        return nullptr;
    }
    module->registered_ = true;
    return module;
}

std::unique_ptr<CResourceModule> CResourceModule::Program() {
    InitProgramResources();
    std::unique_ptr<CResourceModule> module(new CResourceModule);
    module->mapRoot_ = QString::fromLatin1(kProgramRoot);
    module->builtIn_ = true;
    return module;
}

CResourceModule::~CResourceModule() {
    if (registered_) {
        QResource::unregisterResource(reinterpret_cast<const uchar*>(bytes_.constData()), mapRoot_);
    }
}

QString CResourceModule::Path(const QString& relative) const {
    return QLatin1Char(':') + mapRoot_ + QLatin1Char('/') + relative;
}

QString CResourceModule::String(unsigned id) const {
    QFile file(Path(QStringLiteral("strings/%1.txt").arg(id)));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

QString CResourceModule::BitmapPath(unsigned id) const {
    return Path(QStringLiteral("bitmaps/%1.png").arg(id));
}

QImage CResourceModule::Bitmap(unsigned id, int scale) const {
    const QString name = scale <= 1 ? QStringLiteral("bitmaps/%1.png").arg(id)
                                    : QStringLiteral("bitmaps/%1@%2x.png").arg(id).arg(scale);
    QImage image;
    if (!QFile::exists(Path(name)) || !image.load(Path(name), "PNG")) {
        return {};
    }
    image.setDevicePixelRatio(std::max(scale, 1));
    return image;
}

QIcon CResourceModule::Icon(unsigned id) const {
    const QString folder = Path(QStringLiteral("icons/%1").arg(id));
    QIcon icon;
    for (unsigned size : IdsIn(folder, {QStringLiteral(".png")})) {
        icon.addFile(folder + QStringLiteral("/%1.png").arg(size), QSize(int(size), int(size)));
    }
    return icon;
}

std::vector<unsigned> CResourceModule::BitmapIds() const {
    return IdsIn(Path(QStringLiteral("bitmaps")),
                 {QStringLiteral("@2x.png"), QStringLiteral("@3x.png"), QStringLiteral(".png")});
}

std::vector<unsigned> CResourceModule::StringIds() const {
    return IdsIn(Path(QStringLiteral("strings")), {QStringLiteral(".txt")});
}

CResourceModules::CResourceModules() : program_(CResourceModule::Program()) {
    title_ = program_->String(kStringAppTitle);
}

CResourceModules::~CResourceModules() {
    ReleaseSkin();
    ReleaseResourceModule();
}

std::vector<const CResourceModule*> CResourceModules::Chain() const {
    std::vector<const CResourceModule*> chain;
    for (const CResourceModule* module : {resourceModule_.get(), skin_.get(), program_.get()}) {
        if (module != nullptr) {
            chain.push_back(module);
        }
    }
    return chain;
}

bool CResourceModules::LoadResourceModule(unsigned stringId, const std::filesystem::path& programFolder) {
    const QString name = String(stringId);
    if (name.isEmpty()) {
        return false;
    }
    std::unique_ptr<CResourceModule> module = CResourceModule::Load(programFolder / name.toStdString());
    if (!module) {
        return false;
    }
    // The new module is registered before the old one goes, so the chain is never without texts.
    resourceModule_ = std::move(module);
    title_ = String(kStringAppTitle);
    return true;
}

bool CResourceModules::ChooseSkin(const std::filesystem::path& skinFolder) {
    ReleaseSkin();
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (std::filesystem::directory_iterator it(skinFolder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string extension = it->path().extension().string();
        if (QString::fromStdString(extension).compare(QStringLiteral(".rcc"), Qt::CaseInsensitive) == 0) {
            files.push_back(it->path());
        }
    }
    // Directory order differs between file systems; the name order makes the choice among skins with the
    // same display name the same on every machine.
    std::sort(files.begin(), files.end());

    std::string stored;
    ReadSkinName(&stored);
    const QString wanted = QString::fromStdString(stored);

    std::unique_ptr<CResourceModule> firstUsable;
    for (const std::filesystem::path& file : files) {
        std::unique_ptr<CResourceModule> module = CResourceModule::Load(file);
        if (!module) {
            continue;
        }
        const QString name = DisplayName(*module);
        if (name.isEmpty()) {
            continue;
        }
        if (!wanted.isEmpty() && name.compare(wanted, Qt::CaseInsensitive) == 0) {
            skin_ = std::move(module);
            return true;
        }
        if (!firstUsable) {
            firstUsable = std::move(module);
        }
    }
    if (!firstUsable) {
        return false;
    }
    skin_ = std::move(firstUsable);
    WriteSkinName(DisplayName(*skin_).toStdString());
    return true;
}

void CResourceModules::ReleaseSkin() {
    skin_.reset();
}

void CResourceModules::ReleaseResourceModule() {
    resourceModule_.reset();
}

QString CResourceModules::String(unsigned id) const {
    for (const CResourceModule* module : Chain()) {
        QString text = module->String(id);
        if (!text.isEmpty()) {
            return text;
        }
    }
    return {};
}

QImage CResourceModules::BitmapUnkeyed(unsigned id, int scale) const {
    // The first module that has the bitmap at all answers, at the largest scale it has up to the one
    // asked for: mixing a skin's picture at one scale with another module's at another would mix looks.
    for (const CResourceModule* module : Chain()) {
        for (int s = std::clamp(scale, 1, 3); s >= 1; --s) {
            QImage image = module->Bitmap(id, s);
            if (!image.isNull()) {
                return image;
            }
        }
    }
    return {};
}

QImage CResourceModules::Bitmap(unsigned id, int scale) const {
    return KeyOut(BitmapUnkeyed(id, scale));
}

QIcon CResourceModules::Icon(unsigned id) const {
    for (const CResourceModule* module : Chain()) {
        QIcon icon = module->Icon(id);
        if (!icon.isNull()) {
            return icon;
        }
    }
    return {};
}

QString CResourceModules::SkinName() const {
    return skin_ ? DisplayName(*skin_) : QString();
}

QImage KeyOut(const QImage& image) {
    if (image.isNull()) {
        return {};
    }
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    constexpr QRgb key = 0xFF000000u | kKeyColourRgb;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if (line[x] == key) {
                line[x] = 0;
            }
        }
    }
    return out;
}

CResourceModules& TheResources() {
    static CResourceModules resources;
    return resources;
}
