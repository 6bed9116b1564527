// Renders the controls as a listener sees them, to PNG files under the build folder (screenshots/): the dial
// at 0, 150 and 300 degrees and muting, the display panel in each of its modes, and a row of buttons in each
// state. Not compared with stored pictures: they are for looking at. The checks make sure each picture is
// really there.
#include "CDialCtrl.h"
#include "CLEDDialog.h"
#include "CLongPushButton.h"
#include "PlayCtrlButton.h"
#include "TestSupport.h"

#include <QDir>
#include <QFont>
#include <QPainter>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QColor kMetal(0x1C, 0x1E, 0x21);
const QColor kLabel(0x8A, 0x8F, 0x96);

QString OutputPath(const char* name) {
    QDir().mkpath(QStringLiteral(QW_SCREENSHOT_DIR));
    return QDir(QStringLiteral(QW_SCREENSHOT_DIR)).filePath(QString::fromLatin1(name));
}

QFont CaptionFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    font.setLetterSpacing(QFont::PercentageSpacing, 108);
    return font;
}

// A brushed-metal sheet to lay the controls on.
QImage Sheet(QSize size) {
    QImage sheet(size, QImage::Format_RGB32);
    sheet.fill(kMetal);
    QPainter p(&sheet);
    for (int y = 0; y < size.height(); ++y) {
        const int shade = ((y * 7919) % 13) - 6; // a fine, irregular horizontal brush
        p.setPen(QColor(0x1C + shade / 2, 0x1E + shade / 2, 0x21 + shade / 2));
        p.drawLine(0, y, size.width(), y);
    }
    p.setPen(QColor(0x3A, 0x3D, 0x42));
    p.drawLine(0, 0, size.width() - 1, 0);
    p.drawLine(0, 0, 0, size.height() - 1);
    p.setPen(QColor(0x0B, 0x0C, 0x0D));
    p.drawLine(0, size.height() - 1, size.width() - 1, size.height() - 1);
    p.drawLine(size.width() - 1, 0, size.width() - 1, size.height() - 1);
    return sheet;
}

void Caption(QPainter& p, QRect box, const QString& text) {
    p.setFont(CaptionFont());
    p.setPen(kLabel);
    p.drawText(box, Qt::AlignHCenter | Qt::AlignTop, text.toUpper());
}

TEST(Screenshots, Dial) {
    uitest::RecordingParent parent;
    CDialCtrl dial(5071, &parent, uitest::PaintedDialImages());
    QImage sheet = Sheet(QSize(4 * 276 + 20, 310));
    QPainter p(&sheet);
    struct Shot {
        int position;
        bool muting;
        const char* caption;
    };
    int x = 30;
    for (const Shot& s : {Shot{0, false, "0"}, Shot{150, false, "150"}, Shot{300, false, "300"},
                          Shot{150, true, "150 muting"}}) {
        dial.SetMuting(false);
        dial.MoveTo(s.position, true);
        dial.SetMuting(s.muting);
        EXPECT_STREQ(uitest::GlowAt(dial.grab().toImage(), 125),
                     s.position > 5 ? (s.muting ? "muting" : "on") : "off");
        // Laid straight on the metal, as in the window (no widget background).
        dial.render(&p, QPoint(x, 20), QRegion(), QWidget::DrawChildren);
        Caption(p, QRect(x, 268, CDialCtrl::kBoxSize, 20), QString::fromLatin1(s.caption));
        x += 276;
    }
    p.end();
    EXPECT_TRUE(sheet.save(OutputPath("dial.png")));
}

TEST(Screenshots, DisplayPanelModes) {
    struct Mode {
        const char* caption;
        std::function<void(CLEDDialog&)> set;
    };
    const Mode modes[] = {
        {"disc, playing track 5, repeat one",
         [](CLEDDialog& d) {
             d.SetSourceIndicator(1);
             d.SetPlayIndicator(2);
             d.SetRepeatIndicator(1);
             d.ShowTrack(5);
             d.SetTime(207000);
         }},
        {"file, paused, repeat all, long track",
         [](CLEDDialog& d) {
             d.SetSourceIndicator(2);
             d.SetPlayIndicator(1);
             d.SetRepeatIndicator(2);
             d.ShowTrack(128);
             d.SetTime(3725000);
         }},
        {"stopped at the start",
         [](CLEDDialog& d) {
             d.SetSourceIndicator(1);
             d.SetPlayIndicator(3);
             d.ShowTrack(1);
             d.SetTime(0);
         }},
        {"track entry: 42 typed",
         [](CLEDDialog& d) {
             d.SetSourceIndicator(1);
             d.SetPlayIndicator(2);
             d.ShowTrack(7);
             d.SetTime(65000);
             d.SetEntryMode(true);
             d.ShowEnteredTrack(42);
         }},
        {"the disc cannot be opened",
         [](CLEDDialog& d) {
             d.SetSourceIndicator(1);
             d.ShowBanner(2);
         }},
        {"the file list cannot be opened",
         [](CLEDDialog& d) {
             d.SetSourceIndicator(2);
             d.ShowBanner(3);
         }},
    };
    const int rowHeight = CLEDDialog::kHeight + 44;
    QImage sheet = Sheet(QSize(CLEDDialog::kWidth + 60, int(std::size(modes)) * rowHeight + 20));
    QPainter p(&sheet);
    int y = 20;
    for (const Mode& mode : modes) {
        QWidget owner;
        auto* panel = new CLEDDialog(uitest::PaintedBitmaps());
        panel->CreatePanel(&owner);
        owner.resize(CLEDDialog::kWidth, CLEDDialog::kHeight);
        mode.set(*panel);
        const QImage shot = panel->grab().toImage();
        ASSERT_EQ(shot.size(), QSize(CLEDDialog::kWidth, CLEDDialog::kHeight));
        p.drawImage(30, y, shot);
        Caption(p, QRect(30, y + CLEDDialog::kHeight + 8, CLEDDialog::kWidth, 20),
                QString::fromLatin1(mode.caption));
        y += rowHeight;
    }
    p.end();
    EXPECT_TRUE(sheet.save(OutputPath("display.png")));
}

TEST(Screenshots, ButtonRow) {
    uitest::RecordingParent parent;
    struct State {
        const char* caption;
        bool disabled, hovered, focused, pressed;
    };
    const State states[] = {
        {"normal", false, false, false, false},    {"hovered", false, true, false, false},
        {"pressed", false, true, false, true},     {"focused", false, false, true, false},
        {"hover+focus", false, true, true, false}, {"disabled", false, false, false, false}};
    QImage sheet = Sheet(QSize(int(std::size(states)) * 110 + 20, 110));
    QPainter p(&sheet);
    int x = 10;
    for (const State& s : states) {
        CLongPushButton button(5039, &parent, uitest::PaintedBitmaps());
        button.MakeOwnerDraw();
        ASSERT_TRUE(button.LoadBitmaps(4037, 4036, 4039, 4040, 4038, 4041));
        const PlayCtrlButton::Picture picture =
            PlayCtrlButton::PictureFor(std::string(s.caption) == "disabled", s.pressed, s.focused, s.hovered);
        // Paint the chosen state's bitmap as the button does, at twice the size so the detail shows.
        const QImage& bitmap = button.Bitmap(picture);
        ASSERT_FALSE(bitmap.isNull());
        p.drawImage(QRect(x + 23, 14, 64, 64), bitmap);
        Caption(p, QRect(x, 84, 110, 20), QString::fromLatin1(s.caption));
        x += 110;
    }
    p.end();
    EXPECT_TRUE(sheet.save(OutputPath("buttons.png")));
}

} // namespace
