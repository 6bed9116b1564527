// The play list as a dark card over the panel, legible from across the room: the entries numbered, with
// their titles and lengths, the one playing lit in the display's amber, and one selected, which the arrow
// keys move and Enter plays. The panel opens and closes it and decides what its keys do; the card only
// draws and keeps the selection. UI thread only.
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <vector>

namespace app {

class PlayListCard : public QWidget {
    Q_OBJECT

public:
    struct Entry {
        QString text;           // "Title — Artist"
        std::uint32_t lengthMs; // 0 when not known
    };
    // What a key did to the card.
    enum class KeyResult { Ignored, Moved, Play, Close };

    static constexpr int kRowHeight = 36;
    static constexpr int kTextPx = 22;

    // playing: the entry playing or paused, 1-based; 0 for none. The selection starts on it (else on the
    // first entry).
    PlayListCard(QWidget* panel, std::vector<Entry> entries, unsigned playing);

    // Up, Down, Page Up, Page Down, Home and End move the selection; Enter and Return ask to play it;
    // Escape asks to close. Every other key is Ignored and goes on to the panel.
    KeyResult HandleKey(int qtKey);
    void SetPlaying(unsigned playing);

    unsigned Selected() const noexcept { return selected_; }
    unsigned Playing() const noexcept { return playing_; }
    const std::vector<Entry>& Entries() const noexcept { return entries_; }
    // The first entry shown (1-based) and how many rows fit.
    unsigned FirstShown() const noexcept { return first_; }
    int VisibleRows() const noexcept;
    // The card's place on the panel.
    static QRect CardRect();

signals:
    // A row was clicked: play entry (1-based).
    void PlayRequested(unsigned entry);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void Select(long entry);
    QRect RowsRect() const;

    std::vector<Entry> entries_;
    unsigned playing_ = 0;
    unsigned selected_ = 0;
    unsigned first_ = 1;
};

} // namespace app
