#include "PlayListCard.h"

#include "PanelPalette.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace app {

namespace {

using palette::kAmber;
using palette::kLabel;
using palette::kText;
// The card is a shade lighter than the glass, edged with the panel's light bevel.
constexpr QColor kCard(0x0E, 0x0F, 0x11);
constexpr QColor kCardEdge = palette::kBevelLight;
constexpr QColor kSelection(0x2A, 0x2D, 0x33);
constexpr int kMargin = 28;
constexpr int kHeaderHeight = 60;

QFont CardFont(int pixels, int weight = QFont::Normal) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

QString TimeText(std::uint32_t ms) {
    const std::uint32_t seconds = (ms + 500) / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

PlayListCard::PlayListCard(QWidget* panel, std::vector<Entry> entries, unsigned playing)
    : QWidget(panel), entries_(std::move(entries)) {
    setGeometry(CardRect());
    // The rounded corners show the panel behind them.
    setAttribute(Qt::WA_TranslucentBackground);
    playing_ = playing <= entries_.size() ? playing : 0;
    Select(playing_ != 0 ? playing_ : 1);
}

QRect PlayListCard::CardRect() {
    return {112, 40, 800, 688};
}

QRect PlayListCard::RowsRect() const {
    return rect().adjusted(kMargin, kHeaderHeight, -kMargin, -kMargin / 2);
}

int PlayListCard::VisibleRows() const noexcept {
    return std::max(1, (CardRect().height() - kHeaderHeight - kMargin / 2) / kRowHeight);
}

void PlayListCard::Select(long entry) {
    if (entries_.empty()) {
        selected_ = 0;
        first_ = 1;
        update();
        return;
    }
    selected_ = static_cast<unsigned>(std::clamp<long>(entry, 1, static_cast<long>(entries_.size())));
    // The selection stays in view, with the rows scrolled as little as they must.
    const auto rows = static_cast<unsigned>(VisibleRows());
    if (selected_ < first_)
        first_ = selected_;
    else if (selected_ >= first_ + rows)
        first_ = selected_ - rows + 1;
    update();
}

void PlayListCard::SetPlaying(unsigned playing) {
    playing_ = playing <= entries_.size() ? playing : 0;
    update();
}

PlayListCard::KeyResult PlayListCard::HandleKey(int key) {
    const long page = VisibleRows();
    const long at = selected_;
    switch (key) {
    case Qt::Key_Up:
        Select(at - 1);
        return KeyResult::Moved;
    case Qt::Key_Down:
        Select(at + 1);
        return KeyResult::Moved;
    case Qt::Key_PageUp:
        Select(at - page);
        return KeyResult::Moved;
    case Qt::Key_PageDown:
        Select(at + page);
        return KeyResult::Moved;
    case Qt::Key_Home:
        Select(1);
        return KeyResult::Moved;
    case Qt::Key_End:
        Select(static_cast<long>(entries_.size()));
        return KeyResult::Moved;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return selected_ != 0 ? KeyResult::Play : KeyResult::Moved;
    case Qt::Key_Escape:
        return KeyResult::Close;
    default:
        return KeyResult::Ignored;
    }
}

void PlayListCard::mousePressEvent(QMouseEvent* event) {
    const QRect rows = RowsRect();
    const QPoint at = event->position().toPoint();
    if (!rows.contains(at))
        return;
    const unsigned entry = first_ + static_cast<unsigned>((at.y() - rows.top()) / kRowHeight);
    if (entry >= 1 && entry <= entries_.size()) {
        Select(entry);
        emit PlayRequested(entry);
    }
}

void PlayListCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
    painter.fillPath(card, kCard);
    painter.setPen(QPen(kCardEdge, 1.0));
    painter.drawPath(card);

    // The header: what the card is and how long the list is.
    QFont header = CardFont(20, QFont::DemiBold);
    header.setLetterSpacing(QFont::PercentageSpacing, 108);
    header.setCapitalization(QFont::AllUppercase);
    painter.setFont(header);
    painter.setPen(kLabel);
    const QRect headerRect(kMargin, 0, width() - 2 * kMargin, kHeaderHeight);
    painter.drawText(headerRect, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Play list"));
    painter.drawText(headerRect, Qt::AlignRight | Qt::AlignVCenter,
                     entries_.size() == 1 ? QStringLiteral("1 track")
                                          : QStringLiteral("%1 tracks").arg(entries_.size()));

    const QRect rows = RowsRect();
    const QFont text = CardFont(kTextPx);
    const QFontMetrics metrics(text);
    painter.setFont(text);
    const int numberWidth = metrics.horizontalAdvance(QStringLiteral("000")) + 16;
    const int timeWidth = metrics.horizontalAdvance(QStringLiteral("00:00")) + 8;
    const auto last = std::min<std::size_t>(entries_.size(), first_ + VisibleRows() - 1);
    for (std::size_t entry = first_; entry <= last; ++entry) {
        const Entry& e = entries_[entry - 1];
        const QRect row(rows.left(), rows.top() + static_cast<int>(entry - first_) * kRowHeight, rows.width(),
                        kRowHeight);
        if (entry == selected_) {
            QPainterPath band;
            band.addRoundedRect(QRectF(row).adjusted(-10, 1, 10, -1), 8, 8);
            painter.fillPath(band, kSelection);
        }
        const bool lit = entry == playing_;
        painter.setPen(lit ? kAmber : kLabel);
        painter.drawText(QRect(row.left(), row.top(), numberWidth - 16, row.height()),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(entry));
        painter.setPen(lit ? kAmber : kText);
        const QRect title(row.left() + numberWidth, row.top(), row.width() - numberWidth - timeWidth,
                          row.height());
        painter.drawText(title, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(e.text, Qt::ElideRight, title.width() - 8));
        if (e.lengthMs != 0) {
            painter.setPen(lit ? kAmber : kLabel);
            painter.drawText(QRect(row.right() - timeWidth, row.top(), timeWidth, row.height()),
                             Qt::AlignRight | Qt::AlignVCenter, TimeText(e.lengthMs));
        }
    }
}

} // namespace app
