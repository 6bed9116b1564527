// What is playing, as the panel's title line and cover and the session bus's metadata show it: the title,
// artist and album of a list entry (its file's tags, else its file name without the extension) or of a
// disc's track (the disc's own text where it has any, else "Track N"), and the cover that goes with a file
// (a cover.* or folder.* picture in its folder). The panel and the bus ask the same object, so they never
// disagree. UI thread only; the look-ups block on file I/O and are made once per entry.
#pragma once

#include <QImage>
#include <QString>

#include <string>
#include <utility>
#include <vector>

namespace app {

struct TrackInfo {
    QString title;
    QString artist;    // empty when not known
    QString album;     // empty when not known
    QString path;      // the entry's file; empty for a disc's track
    QString coverPath; // the picture beside the file; empty when there is none
    bool operator==(const TrackInfo&) const = default;
};

// What a disc tells of itself (its CD-Text): the album and its performer, and each track's title and
// performer, by track number from 1. Empty strings where the disc tells nothing.
struct DiscText {
    struct Track {
        std::string title;
        std::string performer;
    };
    std::string album;
    std::string performer;
    std::vector<Track> tracks; // tracks[0] is track 1
};

class NowPlaying {
public:
    // The entry of a list playing the file at path (read again only when path changes).
    TrackInfo ForFile(const std::string& path);
    // The same, read every time (for a whole list, without disturbing the playing entry's).
    static TrackInfo Describe(const std::string& path);
    // Track number of the loaded disc.
    TrackInfo ForDiscTrack(unsigned track) const;

    // What the loaded disc tells of itself; set when a disc is read (in the panel's EnterDiscMode, which
    // clears it first), so that the title line and the bus take it up with the disc's first track.
    void SetDiscText(DiscText text) { discText_ = std::move(text); }
    void ClearDiscText() { discText_ = {}; }
    const DiscText& Disc() const noexcept { return discText_; }

    // The cover of info, read once per picture; null when there is none or it cannot be read.
    const QImage& Cover(const TrackInfo& info);
    // A file:// address of a copy of info's cover under the user's cache folder
    // ($XDG_CACHE_HOME/quellwave/, else ~/.cache/quellwave/), written the first time it is asked for; empty
    // when there is no cover or the copy cannot be written.
    QString ArtUrl(const TrackInfo& info);

    // The picture beside a file: cover.* or folder.* (jpg, jpeg, png; any case) in its folder, cover first.
    static QString FolderCover(const QString& filePath);

private:
    std::string taggedPath_;
    TrackInfo tagged_;
    DiscText discText_;
    QString coverOf_;
    QImage cover_;
    QString artOf_;
    QString artUrl_;
};

} // namespace app
