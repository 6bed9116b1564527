// Renders the controls in the default look as the build painted it (skin and dial images in the program's
// folder) to PNG files under the build folder (screenshots/): the dial at 0, 150 and 300 and muting, the
// display panel in each mode, and the window's picture buttons in each look. They are for looking at; the
// checks only make sure each picture is really there.
#include "TestSupport.h"
#include "shell/ResourceIds.h"
#include "shell/ResourceModules.h"
#include "ui/CDialCtrl.h"
#include "ui/CLEDDialog.h"
#include "ui/CLongPushButton.h"
#include "ui/TransparentBitmapStatic.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QPainter>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The built skin, then the resource module, keyed as the program's look-up keys them.
QImage DefaultLook(unsigned id, int scale) {
    static const auto modules = [] {
        std::vector<std::shared_ptr<CResourceModule>> found;
        const QDir skins(QStringLiteral(QW_PROGRAM_DIR "/skin"));
        for (const QString& name : skins.entryList({QStringLiteral("*.rcc")}, QDir::Files, QDir::Name)) {
            if (auto skin = CResourceModule::Load(skins.filePath(name).toStdString()); skin && found.empty())
                found.push_back(std::move(skin));
        }
        if (auto res = CResourceModule::Load(QW_PROGRAM_DIR "/QuellwaveRes.rcc"))
            found.push_back(std::move(res));
        return found;
    }();
    for (const auto& module : modules) {
        if (QImage image = module->Bitmap(id, scale); !image.isNull())
            return ui::KeyedImage(image);
    }
    return {};
}

// A sheet of the panel's brushed metal with a caption under each picture laid on it.
class Sheet {
public:
    explicit Sheet(QSize size) : image_(size, QImage::Format_RGB32), painter_(&image_) {
        for (int y = 0; y < size.height(); ++y) {
            const int shade = (y * 7919) % 13 / 2 - 3; // a fine, irregular horizontal brush
            painter_.setPen(QColor(0x1C + shade, 0x1E + shade, 0x21 + shade));
            painter_.drawLine(0, y, size.width(), y);
        }
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(12);
        font.setLetterSpacing(QFont::PercentageSpacing, 108);
        painter_.setFont(font);
    }
    void Put(QWidget& control, QPoint at, const QString& caption, QRect captionBox) {
        control.render(&painter_, at, QRegion(), QWidget::DrawChildren);
        painter_.setPen(QColor(0x8A, 0x8F, 0x96));
        painter_.drawText(captionBox, Qt::AlignCenter, caption.toUpper());
    }
    bool Save(const char* name) {
        painter_.end();
        QDir().mkpath(QStringLiteral(QW_SCREENSHOT_DIR));
        return image_.save(QStringLiteral(QW_SCREENSHOT_DIR "/") + QLatin1String(name));
    }

private:
    QImage image_;
    QPainter painter_;
};

TEST(Screenshots, Dial) {
    uitest::RecordingParent parent;
    CDialCtrl dial(5071, &parent, ui::DialImagesIn(QStringLiteral(QW_PROGRAM_DIR "/Data/Image")));
    Sheet sheet(QSize(4 * 276 + 20, 310));
    int x = 30;
    for (auto [position, muting] : {std::pair{0, false}, {150, false}, {300, false}, {150, true}}) {
        dial.SetMuting(false);
        dial.MoveTo(position, true);
        dial.SetMuting(muting);
        EXPECT_EQ(qAlpha(dial.grab().toImage().pixel(118, 118)), 255) << "the knob is drawn";
        sheet.Put(dial, QPoint(x, 20), QString::number(position) + (muting ? " muting" : ""),
                  QRect(x, 262, 236, 30));
        x += 276;
    }
    EXPECT_TRUE(sheet.Save("dial.png"));
}

TEST(Screenshots, DisplayPanelModes) {
    struct Mode {
        const char* caption;
        int source, play, repeat;
        unsigned track, ms, entered, banner;
    };
    const Mode modes[] = {{"disc, playing track 5, repeat one", 1, 2, 1, 5, 207000, 0, 0},
                          {"file, paused, repeat all", 2, 1, 2, 128, 3725000, 0, 0},
                          {"stopped at the start", 1, 3, 0, 1, 0, 0, 0},
                          {"track entry: 42 typed", 1, 2, 0, 7, 65000, 42, 0},
                          {"the disc cannot be opened", 1, 0, 0, 0, 0, 0, 2},
                          {"the file list cannot be opened", 2, 0, 0, 0, 0, 0, 3}};
    Sheet sheet(QSize(532, int(std::size(modes)) * 124 + 20));
    int y = 20;
    for (const Mode& m : modes) {
        QWidget owner;
        auto* panel = new CLEDDialog(DefaultLook);
        panel->CreatePanel(&owner);
        panel->SetSourceIndicator(m.source);
        panel->SetPlayIndicator(unsigned(m.play));
        panel->SetRepeatIndicator(m.repeat);
        panel->ShowTrack(m.track);
        panel->SetTime(m.ms);
        if (m.entered != 0) {
            panel->SetEntryMode(true);
            panel->ShowEnteredTrack(m.entered);
        }
        if (m.banner != 0)
            panel->ShowBanner(m.banner);
        ASSERT_FALSE(panel->Element(CLEDDialog::kTrackLabelLit)->Bitmap().isNull())
            << "the skin is not there";
        sheet.Put(*panel, QPoint(30, y), QString::fromLatin1(m.caption), QRect(30, y + 82, 472, 30));
        y += 124;
    }
    EXPECT_TRUE(sheet.Save("display.png"));
}

TEST(Screenshots, ButtonRow) {
    // The transport, eject and settings buttons in each look, as the window loads them: the normal picture
    // also for focused and disabled, the hover picture also for hovered and focused.
    using namespace resid;
    const unsigned kinds[][3] = {{kRoundNormal, kRoundHover, kRoundPressed},
                                 {kEjectNormal, kEjectHover, kEjectPressed},
                                 {kSettingsNormal, kSettingsHover, kSettingsPressed}};
    const char* looks[] = {"normal", "hovered", "pressed", "disabled"};
    Sheet sheet(QSize(4 * 120 + 20, 3 * 70 + 40));
    uitest::RecordingParent parent;
    for (int row = 0; row < 3; ++row) {
        for (int look = 0; look < 4; ++look) {
            CLongPushButton button(5039, &parent, DefaultLook);
            button.MakeOwnerDraw();
            ASSERT_TRUE(button.LoadBitmaps(kinds[row][0], kinds[row][2], kinds[row][0], kinds[row][0],
                                           kinds[row][1], kinds[row][1]));
            QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), QPointF(2, 2), Qt::NoButton, Qt::NoButton,
                             Qt::NoModifier);
            if (look == 1)
                QApplication::sendEvent(&button, &move);
            button.setDown(look == 2);
            button.setEnabled(look != 3);
            const QPoint at(10 + look * 120 + (120 - button.width()) / 2,
                            10 + row * 70 + (60 - button.height()) / 2);
            sheet.Put(button, at, row == 2 ? QString::fromLatin1(looks[look]) : QString(),
                      QRect(10 + look * 120, 220, 120, 30));
        }
    }
    EXPECT_TRUE(sheet.Save("buttons.png"));
}

} // namespace
