// Renders the controls as a listener sees them, to PNG files under the build folder (screenshots/): the dial
// at 0, 150 and 300 degrees and muting, the display panel in each of its modes, and a row of buttons in each
// state, all in the default look as the build painted it (the skin and the dial images in the program's
// folder). Not compared with stored pictures: they are for looking at. The checks make sure each picture is
// really there.
#include "CDialCtrl.h"
#include "CLEDDialog.h"
#include "CLongPushButton.h"
#include "PlayCtrlButton.h"
#include "ResourceIds.h"
#include "ResourceModules.h"
#include "TestSupport.h"
#include "TransparentBitmapStatic.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QMouseEvent>
#include <QPainter>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

const QColor kMetal(0x1C, 0x1E, 0x21);
const QColor kLabel(0x8A, 0x8F, 0x96);

// The default skin and resource module as built, searched in that order, keyed as the controls expect.
ui::BitmapLoader DefaultLook() {
    static std::vector<std::shared_ptr<CResourceModule>> modules = [] {
        std::vector<std::shared_ptr<CResourceModule>> found;
        const QDir skins(QStringLiteral(QW_PROGRAM_DIR "/skin"));
        for (const QString& name : skins.entryList({QStringLiteral("*.rcc")}, QDir::Files, QDir::Name)) {
            if (auto skin = CResourceModule::Load(skins.filePath(name).toStdString())) {
                found.push_back(std::move(skin));
                break;
            }
        }
        if (auto res = CResourceModule::Load(QW_PROGRAM_DIR "/QuellwaveRes.rcc"))
            found.push_back(std::move(res));
        return found;
    }();
    return [](unsigned id, int scale) {
        for (const auto& module : modules) {
            const QImage image = module->Bitmap(id, scale);
            if (!image.isNull())
                return ui::KeyedImage(image);
        }
        return QImage();
    };
}

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
    CDialCtrl dial(5071, &parent, ui::DialImagesIn(QStringLiteral(QW_PROGRAM_DIR "/Data/Image")));
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
        // The knob is really drawn: its middle is opaque.
        EXPECT_EQ(qAlpha(dial.grab().toImage().pixel(118, 118)), 255);
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
        auto* panel = new CLEDDialog(DefaultLook());
        panel->CreatePanel(&owner);
        owner.resize(CLEDDialog::kWidth, CLEDDialog::kHeight);
        mode.set(*panel);
        const QImage shot = panel->grab().toImage();
        ASSERT_EQ(shot.size(), QSize(CLEDDialog::kWidth, CLEDDialog::kHeight));
        ASSERT_FALSE(panel->Element(CLEDDialog::kTrackLabelLit)->Bitmap().isNull())
            << "the skin is not there";
        p.drawImage(30, y, shot);
        Caption(p, QRect(30, y + CLEDDialog::kHeight + 8, CLEDDialog::kWidth, 20),
                QString::fromLatin1(mode.caption));
        y += rowHeight;
    }
    p.end();
    EXPECT_TRUE(sheet.save(OutputPath("display.png")));
}

TEST(Screenshots, ButtonRow) {
    // Each of the window's picture buttons in its four looks, painted by the button itself.
    struct Kind {
        const char* caption;
        unsigned normal, hovered, pressed;
    };
    const Kind kinds[] = {
        {"transport", resid::kRoundNormal, resid::kRoundHover, resid::kRoundPressed},
        {"eject", resid::kEjectNormal, resid::kEjectHover, resid::kEjectPressed},
        {"to file mode", resid::kToFileNormal, resid::kToFileHover, resid::kToFilePressed},
        {"settings", resid::kSettingsNormal, resid::kSettingsHover, resid::kSettingsPressed},
        {"repeat", resid::kRepeatNormal, resid::kRepeatHover, resid::kRepeatPressed},
        {"help", resid::kHelpNormal, resid::kHelpHover, resid::kHelpPressed},
        {"close", resid::kCloseNormal, resid::kCloseHover, resid::kClosePressed},
    };
    const char* looks[] = {"normal", "hovered", "pressed", "disabled"};
    constexpr int kCell = 120;
    constexpr int kRow = 84;
    QImage sheet = Sheet(QSize(130 + 4 * kCell, 40 + int(std::size(kinds)) * kRow));
    QPainter p(&sheet);
    for (int look = 0; look < 4; ++look)
        Caption(p, QRect(130 + look * kCell, 12, kCell, 20), QString::fromLatin1(looks[look]));
    uitest::RecordingParent parent;
    int y = 40;
    for (const Kind& kind : kinds) {
        p.setFont(CaptionFont());
        p.setPen(kLabel);
        p.drawText(QRect(10, y, 115, kRow - 20), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromLatin1(kind.caption).toUpper());
        for (int look = 0; look < 4; ++look) {
            CLongPushButton button(5039, &parent, DefaultLook());
            button.MakeOwnerDraw();
            ASSERT_TRUE(button.LoadBitmaps(kind.normal, kind.pressed, kind.normal, kind.normal, kind.hovered,
                                           kind.hovered))
                << kind.caption;
            button.show();
            if (look == 1) {
                QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), button.mapToGlobal(QPointF(2, 2)),
                                 Qt::NoButton, Qt::NoButton, Qt::NoModifier);
                QApplication::sendEvent(&button, &move);
            } else if (look == 2) {
                button.setDown(true);
            } else if (look == 3) {
                button.setEnabled(false);
            }
            const PlayCtrlButton::Picture expected[] = {PlayCtrlButton::kNormal, PlayCtrlButton::kHovered,
                                                        PlayCtrlButton::kPressed, PlayCtrlButton::kDisabled};
            EXPECT_EQ(button.CurrentPicture(), expected[look]);
            const QSize size = button.size();
            const QPoint at(130 + look * kCell + (kCell - size.width()) / 2,
                            y + (kRow - 20 - size.height()) / 2);
            button.render(&p, at, QRegion(), QWidget::DrawChildren);
        }
        y += kRow;
    }
    p.end();
    EXPECT_TRUE(sheet.save(OutputPath("buttons.png")));
}

} // namespace
