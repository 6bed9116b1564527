#include "NowPlaying.h"

#include "engine/FileTags.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace app {

namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
}

// The user's cache folder for the program.
QString CacheFolder() {
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/quellwave");
}

} // namespace

TrackInfo NowPlaying::ForFile(const std::string& path) {
    // Read once per entry: the panel and the bus ask on every change of state.
    if (path == taggedPath_ && !path.empty())
        return tagged_;
    taggedPath_ = path;
    tagged_ = Describe(path);
    return tagged_;
}

TrackInfo NowPlaying::Describe(const std::string& path) {
    engine::PcmTags tags;
    engine::ReadFileTags(path.c_str(), &tags);
    TrackInfo info;
    info.path = QString::fromStdString(path);
    info.title = FromUtf8(tags.title);
    if (info.title.isEmpty())
        info.title = QFileInfo(info.path).completeBaseName();
    info.artist = FromUtf8(tags.artist);
    info.album = FromUtf8(tags.album);
    info.coverPath = FolderCover(info.path);
    return info;
}

TrackInfo NowPlaying::ForDiscTrack(unsigned track) const {
    TrackInfo info;
    if (track >= 1 && track <= discText_.tracks.size()) {
        const DiscText::Track& text = discText_.tracks[track - 1];
        info.title = FromUtf8(text.title);
        info.artist = FromUtf8(text.performer);
    }
    if (info.title.isEmpty())
        info.title = QStringLiteral("Track %1").arg(track);
    // A track without a performer of its own is the album performer's.
    if (info.artist.isEmpty())
        info.artist = FromUtf8(discText_.performer);
    info.album = FromUtf8(discText_.album);
    return info;
}

QString NowPlaying::FolderCover(const QString& filePath) {
    if (filePath.isEmpty())
        return {};
    const QDir folder = QFileInfo(filePath).absoluteDir();
    const QFileInfoList pictures = folder.entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
    for (const char* stem : {"cover", "folder"}) {
        for (const QFileInfo& picture : pictures) {
            const QString suffix = picture.suffix().toLower();
            if (picture.completeBaseName().compare(QLatin1String(stem), Qt::CaseInsensitive) == 0 &&
                (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg") ||
                 suffix == QLatin1String("png")))
                return picture.absoluteFilePath();
        }
    }
    return {};
}

const QImage& NowPlaying::Cover(const TrackInfo& info) {
    if (info.coverPath != coverOf_) {
        coverOf_ = info.coverPath;
        cover_ = QImage();
        // A picture that does not load (damaged, not a picture at all) is no cover.
        if (!coverOf_.isEmpty() && !cover_.load(coverOf_))
            cover_ = QImage();
    }
    return cover_;
}

QString NowPlaying::ArtUrl(const TrackInfo& info) {
    if (info.coverPath == artOf_)
        return artUrl_;
    artOf_ = info.coverPath;
    artUrl_.clear();
    if (Cover(info).isNull())
        return artUrl_;
    // Named by the picture's path, size and time, so that a changed picture gets a new name and the
    // desktop, which keeps what it read by name, shows the new one.
    const QFileInfo source(info.coverPath);
    const QByteArray key = (source.absoluteFilePath() + QString::number(source.size()) +
                            QString::number(source.lastModified().toMSecsSinceEpoch()))
                               .toUtf8();
    const QString name =
        QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
    const QString folder = CacheFolder();
    const QString target = folder + QStringLiteral("/cover-") + name + QStringLiteral(".png");
    if (!QFileInfo::exists(target)) {
        // Written under a temporary name and renamed, so that a reader never sees half a picture.
        const QString partial = target + QStringLiteral(".part");
        if (!QDir().mkpath(folder) || !cover_.save(partial, "PNG") || !QFile::rename(partial, target)) {
            QFile::remove(partial);
            return artUrl_;
        }
    }
    artUrl_ = QUrl::fromLocalFile(target).toString(QUrl::FullyEncoded);
    return artUrl_;
}

} // namespace app
