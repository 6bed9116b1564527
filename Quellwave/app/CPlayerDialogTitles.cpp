// The panel's "what is playing": the title line and the cover, and the play list card.
#include "CPlayerDialog.h"

#include "PanelPalette.h"
#include "PlayListCard.h"
#include "PlayerControls.h"

#include <QPaintEvent>
#include <QPainter>

namespace app {

namespace {

using palette::kBevelDark;
using palette::kBevelLight;
using palette::kGlass;
constexpr QColor kTitleText = palette::kText;
constexpr QColor kAlbumText = palette::kLabel;
// Type sizes at the panel's 1x; scaled with the panel (1.4x at 1080p: 31 and 28 px).
constexpr int kTitlePx = 22;
constexpr int kAlbumPx = 20;
constexpr int kCoverInset = 6;

QFont TitleFont(int pixels, QFont::Weight weight) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QString TitleLineOf(const TrackInfo& info) {
    return info.artist.isEmpty() ? info.title : info.title + QStringLiteral(" — ") + info.artist;
}

} // namespace

// Below the rate badge, across the panel, clear of every control; the cover left of the dial, where
// nothing else sits.
QRect CPlayerDialog::TitleRect() {
    return {40, 690, 944, 30};
}

QRect CPlayerDialog::AlbumRect() {
    return {40, 722, 944, 28};
}

QRect CPlayerDialog::CoverRect() {
    return {96, 353, 200, 200};
}

TrackInfo CPlayerDialog::CurrentTrackInfo() {
    if (!engine_.SourceOpen() || trackCount_ == 0)
        return {};
    if (discMode_)
        return nowPlaying_.ForDiscTrack(currentTrack_);
    // The files as the engine opened them, in play order.
    std::vector<std::string> files;
    engine_.GetFileList(&files);
    if (currentTrack_ < 1 || currentTrack_ > files.size())
        return {};
    return nowPlaying_.ForFile(files[currentTrack_ - 1]);
}

void CPlayerDialog::RefreshNowPlaying() {
    const auto key = std::make_tuple(sourceGeneration_, currentTrack_, discMode_, started_, showTitles_);
    if (key == shownFor_)
        return;
    // A card open over another source lists what is gone: it is made again for the one open now.
    if (card_ != nullptr && std::get<0>(key) != std::get<0>(shownFor_)) {
        ToggleListCard();
        ToggleListCard();
    }
    shownFor_ = key;
    std::optional<TrackInfo> now;
    if (started_ && showTitles_)
        now = CurrentTrackInfo();
    if (now == shown_)
        return;
    shown_ = std::move(now);
    shownCover_ = shown_ ? nowPlaying_.Cover(*shown_) : QImage();
    update(TitleRect());
    update(AlbumRect());
    update(CoverRect());
    if (card_ != nullptr)
        card_->SetPlaying(started_ ? currentTrack_ : 0);
}

QString CPlayerDialog::ShownTitleLine() const {
    if (!showTitles_ || !shown_)
        return {};
    return QFontMetrics(TitleFont(kTitlePx, QFont::DemiBold))
        .elidedText(TitleLineOf(*shown_), Qt::ElideRight, TitleRect().width());
}

QString CPlayerDialog::ShownAlbumLine() const {
    if (!showTitles_ || !shown_)
        return {};
    return QFontMetrics(TitleFont(kAlbumPx, QFont::Normal))
        .elidedText(shown_->album, Qt::ElideRight, AlbumRect().width());
}

void CPlayerDialog::PaintNowPlaying(QPainter& painter, const QRect& dirty) {
    // With the titles off nothing is drawn at all: the panel is the face and its controls as ever.
    if (!showTitles_ || !shown_)
        return;
    if (dirty.intersects(TitleRect()) || dirty.intersects(AlbumRect())) {
        painter.setPen(kTitleText);
        painter.setFont(TitleFont(kTitlePx, QFont::DemiBold));
        painter.drawText(TitleRect(), Qt::AlignHCenter | Qt::AlignVCenter, ShownTitleLine());
        painter.setPen(kAlbumText);
        painter.setFont(TitleFont(kAlbumPx, QFont::Normal));
        painter.drawText(AlbumRect(), Qt::AlignHCenter | Qt::AlignVCenter, ShownAlbumLine());
    }
    if (shownCover_.isNull() || !dirty.intersects(CoverRect()))
        return;
    // Set into the metal as the display's glass is: a recessed bevel, a black mat, the picture inside it
    // whole (not cropped), centred.
    const QRect frame = CoverRect();
    painter.fillRect(frame, kGlass);
    painter.setPen(kBevelDark);
    painter.drawLine(frame.topLeft(), frame.topRight());
    painter.drawLine(frame.topLeft(), frame.bottomLeft());
    painter.setPen(kBevelLight);
    painter.drawLine(frame.bottomLeft(), frame.bottomRight());
    painter.drawLine(frame.topRight(), frame.bottomRight());
    const QRect inner = frame.adjusted(kCoverInset, kCoverInset, -kCoverInset, -kCoverInset);
    QSizeF size = QSizeF(shownCover_.size()).scaled(QSizeF(inner.size()), Qt::KeepAspectRatio);
    const QRectF target(QPointF(inner.left() + (inner.width() - size.width()) / 2,
                                inner.top() + (inner.height() - size.height()) / 2),
                        size);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, shownCover_);
}

PlayListCard* CPlayerDialog::ListCard() const noexcept {
    return card_;
}

void CPlayerDialog::ToggleListCard() {
    if (card_ != nullptr) {
        delete card_;
        card_ = nullptr;
        setFocus();
        return;
    }
    std::vector<PlayListCard::Entry> entries;
    const unsigned count = engine_.SourceOpen() ? trackCount_ : 0;
    std::vector<std::string> files;
    if (!discMode_)
        engine_.GetFileList(&files);
    for (unsigned track = 1; track <= count; ++track) {
        TrackInfo info;
        if (discMode_)
            info = nowPlaying_.ForDiscTrack(track);
        else if (track <= files.size())
            info = NowPlaying::Describe(files[track - 1]);
        else
            info.title = QStringLiteral("Track %1").arg(track);
        entries.push_back({TitleLineOf(info), TrackLength(track)});
    }
    card_ = new PlayListCard(this, std::move(entries), started_ ? currentTrack_ : 0);
    connect(card_, &PlayListCard::PlayRequested, this,
            [this](unsigned entry) { post(Registered().playSelectedTrack, entry, 0); });
    card_->show();
    card_->raise();
}

} // namespace app
