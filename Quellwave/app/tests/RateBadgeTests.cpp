// The badge below the dial names the DSD rate playing: the DSD64 picture, or its DSD128 and DSD256 siblings
// from the default look, in the real main window against the null output.
#include "AppTestSupport.h"

#include "app/PlayerControls.h"
#include "app/PlayerMessages.h"
#include "shell/ResourceIds.h"
#include "ui/ControlNotify.h"
#include "ui/ImageSource.h"
#include "ui/TransparentBitmapStatic.h"

namespace apptest {
namespace {

using namespace app;

constexpr char kSettingsKey[] = "Software\\Orva Corporation\\Quellwave\\Settings";

class RateBadgeTest : public PlayerFixture {
protected:
    QImage Badge() {
        auto* badge = qobject_cast<TransparentBitmapStatic*>(
            ui::FindControl(&Panel(), static_cast<int>(resid::kPictureBottom)));
        return badge ? badge->Bitmap() : QImage();
    }
    static QImage Bitmap(unsigned id) { return ui::DefaultBitmapLoader()(id, 1); }
};

TEST_F(RateBadgeTest, TheDefaultLookHasABadgeForEveryRateAndEachDiffers) {
    const QImage dsd64 = Bitmap(resid::kPictureBottom);
    const QImage dsd128 = Bitmap(resid::kPictureBottomDsd128);
    const QImage dsd256 = Bitmap(resid::kPictureBottomDsd256);
    const QImage dsd512 = Bitmap(resid::kPictureBottomDsd512);
    ASSERT_FALSE(dsd64.isNull() || dsd128.isNull() || dsd256.isNull() || dsd512.isNull());
    EXPECT_EQ(dsd128.size(), dsd64.size());
    EXPECT_EQ(dsd256.size(), dsd64.size());
    EXPECT_EQ(dsd512.size(), dsd64.size());
    EXPECT_NE(dsd64, dsd128);
    EXPECT_NE(dsd128, dsd256);
    EXPECT_NE(dsd256, dsd512);
    EXPECT_EQ(RateBadgeBitmap(platform::DsdRate::kDsd64), resid::kPictureBottom);
    EXPECT_EQ(RateBadgeBitmap(platform::DsdRate::kDsd256), resid::kPictureBottomDsd256);
    EXPECT_EQ(RateBadgeBitmap(platform::DsdRate::kDsd512), resid::kPictureBottomDsd512);
}

TEST_F(RateBadgeTest, PlayingShowsTheBadgeOfTheRateAndItStaysWhenStopped) {
    for (const auto& [stored, id] :
         {std::pair{DWORD{512}, resid::kPictureBottomDsd512},
          std::pair{DWORD{256}, resid::kPictureBottomDsd256},
          std::pair{DWORD{128}, resid::kPictureBottomDsd128}, std::pair{DWORD{64}, resid::kPictureBottom}}) {
        SCOPED_TRACE(stored);
        SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "DsdRate", stored);
        StartFiles({WriteWav(dir_ / "tone.wav", 20.0)});
        // Before anything plays the badge is the DSD64 one, as the panel was made.
        EXPECT_EQ(Badge(), Bitmap(resid::kPictureBottom));
        Click(kCmdPlay);
        ASSERT_TRUE(Pump(Panel(), [&] { return Playing() && Badge() == Bitmap(id); }));
        Click(kCmdStop);
        EXPECT_FALSE(Playing());
        EXPECT_EQ(Badge(), Bitmap(id));
        TearDown();
        SetUp();
    }
}

} // namespace
} // namespace apptest
