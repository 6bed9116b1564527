// The built default look: every resource id the windows use is there, at the size the layout gives it
// and at 2x and 3x, keyed pictures have clean edges, and the modules sit where the program finds them.
#include "shell/ResourceIds.h"
#include "shell/ResourceModules.h"
#include "shell/Settings.h"

#include "TestKit/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

#include <set>
#include <vector>

namespace fs = std::filesystem;
using namespace resid;

namespace {

const fs::path kProgramDir = QW_PROGRAM_DIR;

struct Size {
    unsigned id;
    int w;
    int h;
    bool keyed;
};

// Every bitmap of the skin with the size the windows lay it out at.
std::vector<Size> SkinBitmaps() {
    std::vector<Size> all;
    auto triple = [&](unsigned a, unsigned b, unsigned c, int w, int h) {
        for (unsigned id : {a, b, c}) {
            all.push_back({id, w, h, true});
        }
    };
    triple(kRoundNormal, kRoundHover, kRoundPressed, 32, 32);
    triple(kFadeNormal, kFadeHover, kFadePressed, 20, 20);
    triple(kEjectNormal, kEjectHover, kEjectPressed, 56, 56);
    triple(kCloseNormal, kCloseHover, kClosePressed, 16, 16);
    triple(kMinimiseNormal, kMinimiseHover, kMinimisePressed, 16, 16);
    triple(kToFileNormal, kToFileHover, kToFilePressed, 96, 40);
    triple(kToDiscNormal, kToDiscHover, kToDiscPressed, 96, 40);
    triple(kHelpNormal, kHelpHover, kHelpPressed, 71, 40);
    triple(kRepeatNormal, kRepeatHover, kRepeatPressed, 84, 40);
    triple(kSettingsNormal, kSettingsHover, kSettingsPressed, 91, 40);
    for (const Size& s : std::vector<Size>{{kPictureTop, 162, 16, true},
                                           {kLabelPlay, 34, 12, true},
                                           {kLabelStop, 12, 12, true},
                                           {kLabelPrevious, 26, 12, true},
                                           {kLabelNext, 26, 12, true},
                                           {kLabelDiscMode, 91, 13, true},
                                           {kLabelFileMode, 91, 13, true},
                                           {kLabelVolume, 113, 12, true},
                                           {kMarkVolumeDown, 16, 16, true},
                                           {kMarkVolumeUp, 16, 16, true},
                                           {kPictureBottom, 109, 57, true},
                                           {kPictureBottomDsd128, 109, 57, true},
                                           {kPictureBottomDsd256, 109, 57, true},
                                           {kPictureBottomDsd512, 109, 57, true},
                                           {kPanelFace, 1024, 768, false},
                                           {kDisplayBackground, 472, 80, false},
                                           {kPlayIndicatorA, 33, 19, true},
                                           {kPlayIndicatorB, 33, 19, true},
                                           {kPlayIndicatorC, 33, 19, true},
                                           {kSourceIndicatorA, 44, 18, true},
                                           {kSourceIndicatorB, 44, 18, true},
                                           {kRepeatLowerLit, 28, 14, true},
                                           {kRepeatLowerDark, 28, 14, true},
                                           {kRepeatUpperLit, 28, 14, true},
                                           {kRepeatUpperDark, 28, 14, true},
                                           {kTrackLabelLit, 48, 14, true},
                                           {kTrackLabelDim, 48, 14, true},
                                           {kTimeLabelLit, 35, 14, true},
                                           {kTimeLabelDim, 35, 14, true},
                                           {kBannerWide, 304, 34, true},
                                           {kBanner1, 144, 34, true},
                                           {kBanner2, 204, 34, true},
                                           {kBanner3, 204, 34, true},
                                           {kBanner4, 114, 34, true},
                                           {kColon1, 4, 34, true},
                                           {kColon2, 4, 34, true}}) {
        all.push_back(s);
    }
    for (unsigned first : {kTimeDigits, kTrackDigits, kTrackUnitsDigits}) {
        for (unsigned d = 0; d < 10; ++d) {
            all.push_back({first + d, 24, 34, true});
        }
    }
    return all;
}

// A pixel that is almost the key colour but not quite: an edge blended into the key, which shows as a
// pink fringe once the key is left out.
bool NearKey(QRgb pixel) {
    const int dr = qRed(pixel) - 0xFF, dg = qGreen(pixel), db = qBlue(pixel) - 0x80;
    return (pixel & 0xFFFFFF) != kKeyColourRgb && dr * dr + dg * dg + db * db < 150 * 150 &&
           qRed(pixel) > 0x90;
}

class DefaultLookTest : public ::testing::Test {
protected:
    testkit::RegistrySandbox registry_{"look"};
};

TEST_F(DefaultLookTest, TheProgramFindsItsResourceModuleAndTheDefaultSkin) {
    CResourceModules chain;
    ASSERT_TRUE(chain.LoadResourceModule(kStringResourceModule, kProgramDir));
    ASSERT_TRUE(chain.ChooseSkin(kProgramDir / "skin"));
    EXPECT_EQ(chain.SkinName(), QStringLiteral("Quellwave Graphite"));
    EXPECT_EQ(chain.ApplicationTitle(), QStringLiteral("Quellwave"));
    std::string stored;
    EXPECT_TRUE(ReadSkinName(&stored));
    EXPECT_EQ(stored, "Quellwave Graphite");
}

TEST_F(DefaultLookTest, EveryTextTheWindowsShowIsThere) {
    CResourceModules chain;
    ASSERT_TRUE(chain.LoadResourceModule(kStringResourceModule, kProgramDir));
    std::vector<unsigned> ids = {
        kStringAboutItem,     kStringAppTitle,    kStrVersionPrefix,     kStrAboutTitle,
        kStrPowerLimited,     kStrWarningCaption, kStrOverloadAtStart,   kStrOverloadPaused,
        kStrOverloadRefused,  kStrCheckCancelled, kStrCheckFailed,       kStrCheckDone,
        kStrSecondCopyFailed, kStrDriverMissing,  kStrNoPlayableFiles,   kStrSomeFilesRefused,
        kStrTooManyFiles,     kStrFileFilter,     kStrFileDialogTitle,   kStrSelectAll,
        kStrAboutCaption,     kStrAboutCopyright, kStrSettingsShowTitles};
    for (unsigned id = kStrTipFirst; id <= kStrTipLast; ++id) {
        ids.push_back(id);
    }
    for (unsigned id = kStrSettingsCaption; id <= kStrSettingsDsdRate; ++id) {
        ids.push_back(id);
    }
    for (unsigned id = kStrCheckCaption; id <= kStrCheckStart; ++id) {
        ids.push_back(id);
    }
    for (unsigned id = kStrNoticeCaption; id <= kStrNoticeQuit; ++id) {
        ids.push_back(id);
    }
    std::set<QString> tooltips;
    for (unsigned id : ids) {
        const QString text = chain.String(id);
        EXPECT_FALSE(text.trimmed().isEmpty()) << "string " << id;
        EXPECT_FALSE(text.contains(QLatin1String("\\"))) << "string " << id << " kept an escape";
        if (id >= kStrTipFirst && id <= kStrTipLast) {
            tooltips.insert(text);
        }
    }
    EXPECT_EQ(tooltips.size(), std::size_t(kStrTipLast - kStrTipFirst + 1)) << "two controls share a tooltip";
    EXPECT_TRUE(chain.String(kStrNoticeBody).contains(QLatin1Char('\n')));
    const QIcon icon = chain.Icon(kIconProgram);
    for (int size : {16, 32, 48}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
    }
}

TEST_F(DefaultLookTest, EverySkinBitmapIsThereAtEachScaleWithCleanKeyedEdges) {
    const auto skin = CResourceModule::Load(kProgramDir / "skin" / "Graphite.rcc");
    ASSERT_NE(skin, nullptr);
    for (const Size& s : SkinBitmaps()) {
        SCOPED_TRACE(testing::Message() << "bitmap " << s.id);
        for (int scale : {1, 2, 3}) {
            const QImage image = skin->Bitmap(s.id, scale);
            ASSERT_FALSE(image.isNull()) << "at " << scale << "x";
            EXPECT_EQ(image.size(), QSize(s.w * scale, s.h * scale)) << "at " << scale << "x";
            int keyPixels = 0, nearKey = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb pixel = image.pixel(x, y);
                    keyPixels += (pixel & 0xFFFFFF) == kKeyColourRgb;
                    nearKey += NearKey(pixel);
                }
            }
            EXPECT_EQ(nearKey, 0) << "pink fringe at " << scale << "x";
            if (s.keyed) {
                EXPECT_GT(keyPixels, 0) << "nothing left out at " << scale << "x";
                EXPECT_LT(keyPixels, image.width() * image.height()) << "empty at " << scale << "x";
            } else {
                EXPECT_EQ(keyPixels, 0) << "an unkeyed picture holds the key colour";
            }
        }
    }
}

TEST_F(DefaultLookTest, DigitSetsShowTenDifferentDigits) {
    const auto skin = CResourceModule::Load(kProgramDir / "skin" / "Graphite.rcc");
    ASSERT_NE(skin, nullptr);
    for (unsigned first : {kTimeDigits, kTrackDigits, kTrackUnitsDigits}) {
        std::set<QByteArray> seen;
        for (unsigned d = 0; d < 10; ++d) {
            const QImage image = skin->Bitmap(first + d, 1).convertToFormat(QImage::Format_RGB32);
            seen.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
        }
        EXPECT_EQ(seen.size(), 10u) << "set " << first;
    }
}

TEST_F(DefaultLookTest, TheNoticeFrameAndAboutPicturesFitTheirPainting) {
    CResourceModules chain;
    ASSERT_TRUE(chain.LoadResourceModule(kStringResourceModule, kProgramDir));
    for (int scale : {1, 2, 3}) {
        SCOPED_TRACE(testing::Message() << scale << "x");
        auto size = [&](unsigned id) { return chain.BitmapUnkeyed(id, scale).size() / scale; };
        // The notice is painted in rows: the three pieces of a row share a height, and the middle pieces
        // are one-pixel columns repeated across.
        EXPECT_EQ(size(kNoticeBottom).width(), 1);
        EXPECT_EQ(size(kNoticeMiddle).width(), 1);
        EXPECT_EQ(size(kNoticeBottomLeft).height(), size(kNoticeBottom).height());
        EXPECT_EQ(size(kNoticeBottomRight).height(), size(kNoticeBottom).height());
        EXPECT_EQ(size(kNoticeLeft).height(), size(kNoticeMiddle).height());
        EXPECT_EQ(size(kNoticeRight).height(), size(kNoticeMiddle).height());
        EXPECT_GE(size(kNoticeMiddle).height(), 3);
        EXPECT_FALSE(chain.Bitmap(kAboutPicture1, scale).isNull());
        EXPECT_FALSE(chain.Bitmap(kAboutPicture2, scale).isNull());
    }
}

TEST_F(DefaultLookTest, TheDialsSevenImagesFitItsBox) {
    const char* names[] = {"volume_dial",        "mojiban",
                           "indicator_slit",     "indicator_glow_on",
                           "indicator_glow_off", "indicator_glow_muting",
                           "volume_dial_marks_7"};
    for (const char* name : names) {
        for (int scale : {1, 2, 3}) {
            const std::string file =
                std::string(name) + (scale == 1 ? "" : "@" + std::to_string(scale) + "x") + ".png";
            const QImage image(QString::fromStdString((kProgramDir / "Data" / "Image" / file).string()));
            ASSERT_FALSE(image.isNull()) << file;
            EXPECT_TRUE(image.hasAlphaChannel()) << file;
            EXPECT_LE(image.width(), 236 * scale) << file;
            EXPECT_EQ(image.width(), image.height()) << file; // the marks turn about their centre
            EXPECT_EQ(image.width() % scale, 0) << file;
            // The corners are outside every layer: the panel shows through there.
            EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << file;
        }
    }
}

} // namespace
