// The display panel, read back as a listener would: which elements are shown and which digit each shows.
#include "TestSupport.h"
#include "ui/CLEDDialog.h"
#include "ui/TransparentBitmapStatic.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Panel = CLEDDialog;

class LedDialogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(panel_->CreatePanel(&owner_)); }

    bool Shown(int id) const { return !panel_->Element(id)->isHidden(); }
    // The digit an element shows from the set starting at bitmap first; '?' for any other picture.
    char Digit(int id, unsigned first) const {
        const QString tag = panel_->Element(id)->Bitmap().text(QStringLiteral("id"));
        const unsigned bitmap = tag.toUInt();
        return tag.isEmpty() || bitmap < first || bitmap > first + 9 ? '?' : char('0' + bitmap - first);
    }
    std::string Time() const {
        std::string out;
        for (int id : {Panel::kHourTens, Panel::kHourUnits, Panel::kFirstColon, Panel::kMinuteTens,
                       Panel::kMinuteUnits, Panel::kSecondColon, Panel::kSecondTens, Panel::kSecondUnits}) {
            if (!Shown(id))
                continue;
            if (panel_->Element(id)->Bitmap().text(QStringLiteral("id")) == QLatin1String("4102"))
                out += '-';
            else
                out += id == Panel::kFirstColon || id == Panel::kSecondColon ? ':' : Digit(id, 4092);
        }
        return out;
    }
    // Hundreds and tens from the track set, units from the track units set.
    std::string Track() const {
        std::string out;
        for (auto [id, first] : {std::pair{Panel::kTrackHundreds, 359u}, std::pair{Panel::kTrackTens, 359u},
                                 std::pair{Panel::kTrackUnits, 369u}}) {
            if (Shown(id))
                out += Digit(id, first);
        }
        return out;
    }
    // Upper case for a lit label, lower case for a dim one.
    std::string Labels() const {
        return std::string(Shown(Panel::kTrackLabelLit) ? "T" : "") +
               (Shown(Panel::kTrackLabelDim) ? "t" : "") + (Shown(Panel::kTimeLabelLit) ? "M" : "") +
               (Shown(Panel::kTimeLabelDim) ? "m" : "");
    }

    QWidget owner_;
    CLEDDialog* panel_ = new CLEDDialog(uitest::PaintedBitmaps());
};

TEST_F(LedDialogTest, StartsEmptyAtZeroAndReadsTimeAndTrack) {
    EXPECT_EQ(panel_->geometry(), QRect(0, 0, 472, 80));
    EXPECT_EQ(Time(), "0:00");
    EXPECT_EQ(Track(), "");
    EXPECT_EQ(Labels(), "TM");
    for (int id : {Panel::kPlayA, Panel::kPlayB, Panel::kSourceA, Panel::kSourceB, Panel::kUpperLampLit,
                   Panel::kLowerLampLit, Panel::kWideBanner, Panel::kBanner1, Panel::kBanner2})
        EXPECT_FALSE(Shown(id)) << id;

    struct TimeCase {
        unsigned ms;
        const char* reads;
    };
    // Beyond 99 hours the hour tens are no digit: that element shows no picture.
    for (const TimeCase& c :
         {TimeCase{999, "0:00"}, TimeCase{65000, "1:05"}, TimeCase{599999, "9:59"}, TimeCase{600000, "10:00"},
          TimeCase{3599999, "59:59"}, TimeCase{3600000, "1:00:00"}, TimeCase{3725000, "1:02:05"},
          TimeCase{36000000, "10:00:00"}, TimeCase{360000000, "?0:00:00"}}) {
        panel_->SetTime(c.ms);
        EXPECT_EQ(Time(), c.reads) << c.ms;
        EXPECT_EQ(panel_->LastTime(), c.ms);
    }
    struct TrackCase {
        unsigned number;
        const char* reads;
    };
    for (const TrackCase& c : {TrackCase{1005, "5"}, TrackCase{100, "100"}, TrackCase{0, ""},
                               TrackCase{10, "10"}, TrackCase{999, "999"}, TrackCase{1000, ""}}) {
        panel_->ShowTrack(c.number);
        EXPECT_EQ(Track(), c.reads) << c.number;
        EXPECT_EQ(panel_->TrackNumber(), c.number % 1000);
    }
}

TEST_F(LedDialogTest, EntryModeDarkensAndOnlyTakesEnteredTracks) {
    panel_->SetTime(65000);
    panel_->ShowTrack(12);
    panel_->ShowEnteredTrack(77); // outside entry mode: ignored
    EXPECT_EQ(Track(), "12");
    panel_->SetEntryMode(true);
    EXPECT_EQ(Time() + "|" + Track() + "|" + Labels(), "||TM");
    panel_->SetTime(3725000);
    panel_->ShowTrack(9);
    EXPECT_EQ(Time() + "|" + Track(), "|");
    EXPECT_EQ(panel_->LastTime(), 65000u);
    panel_->ShowEnteredTrack(42);
    EXPECT_EQ(Track(), "42");
    panel_->SetEntryMode(false);
    panel_->SetTime(3725000);
    panel_->ShowTrack(3);
    EXPECT_EQ(Time() + "|" + Track(), "1:02:05|3");
}

TEST_F(LedDialogTest, ATimeLeftHasAMinusSignBeforeItsFirstDigit) {
    struct Case {
        unsigned ms;
        const char* shown;
        int minusPlace;
    };
    for (const Case& c :
         {Case{205'000, "-3:25", Panel::kMinuteTens}, Case{754'000, "-12:34", Panel::kHourUnits},
          Case{3'725'000, "-1:02:05", Panel::kHourTens}, Case{0, "-0:00", Panel::kMinuteTens},
          Case{43'200'000, "12:00:00", 0}}) {
        SCOPED_TRACE(c.ms);
        panel_->ShowRemainingTime(c.ms);
        EXPECT_EQ(Time(), c.shown);
        EXPECT_TRUE(panel_->RemainingShown());
        EXPECT_EQ(panel_->MinusPlace(), c.minusPlace);
        EXPECT_EQ(panel_->LastTime(), c.ms);
        EXPECT_EQ(Labels(), "TM");
        // The time played again: no sign left behind.
        panel_->SetTime(c.ms);
        EXPECT_EQ(Time(), std::string(c.shown).substr(c.minusPlace != 0 ? 1 : 0));
        EXPECT_FALSE(panel_->RemainingShown());
    }
    // A banner and entry mode hide the sign with the digits; in entry mode a time left is not shown.
    panel_->ShowRemainingTime(205'000);
    panel_->ShowBanner(2);
    EXPECT_EQ(Time(), "");
    panel_->ShowBanner(0);
    panel_->SetEntryMode(true);
    panel_->ShowRemainingTime(100'000);
    EXPECT_EQ(Time(), "");
    EXPECT_EQ(panel_->LastTime(), 205'000u);
}

TEST_F(LedDialogTest, BannersDimLabelsAndHideDigits) {
    const int banners[] = {Panel::kBanner1, Panel::kBanner2, Panel::kBanner3, Panel::kBanner4};
    for (unsigned which : {2u, 1u, 4u, 3u, 0u, 5u}) {
        SCOPED_TRACE(which);
        panel_->SetTime(65000);
        panel_->ShowTrack(4);
        panel_->SetPlayIndicator(2);
        panel_->ShowBanner(which);
        EXPECT_EQ(Labels() + Time() + Track(), "tm");
        for (unsigned i = 0; i < 4; ++i)
            EXPECT_EQ(Shown(banners[i]), i + 1 == which);
        // Banners 1..4 take the play indicator down; 0 and others leave it.
        EXPECT_EQ(Shown(Panel::kPlayA), which == 0 || which > 4);
    }
}

TEST_F(LedDialogTest, IndicatorsAndLampsIgnoreInvalidStates) {
    const auto shown = [&](std::initializer_list<int> ids) {
        std::string out;
        for (int id : ids)
            out += Shown(id) ? '1' : '0';
        return out;
    };
    struct Case {
        int state;
        const char* play;   // A B C
        const char* source; // A B
        const char* lamps;  // upper lit, upper dark, lower lit, lower dark
    };
    // Each row follows the one before: an invalid state leaves what the previous row showed.
    for (const Case& c :
         {Case{1, "010", "10", "1001"}, Case{2, "100", "01", "0110"}, Case{3, "000", "01", "0110"},
          Case{4, "000", "01", "0110"}, Case{0, "000", "00", "0101"}, Case{2, "100", "01", "0110"},
          Case{-1, "100", "01", "0110"}}) {
        SCOPED_TRACE(c.state);
        panel_->SetPlayIndicator(static_cast<unsigned>(c.state));
        panel_->SetSourceIndicator(c.state);
        panel_->SetRepeatIndicator(c.state);
        EXPECT_EQ(shown({Panel::kPlayA, Panel::kPlayB, Panel::kPlayC}), c.play);
        EXPECT_EQ(shown({Panel::kSourceA, Panel::kSourceB}), c.source);
        EXPECT_EQ(
            shown({Panel::kUpperLampLit, Panel::kUpperLampDark, Panel::kLowerLampLit, Panel::kLowerLampDark}),
            c.lamps);
    }
}

TEST_F(LedDialogTest, DigitsLoadOnceAndKeyColourIsLeftOut) {
    int loads = 0;
    QWidget owner;
    // No background picture, so that whatever an element leaves out shows the owner's green.
    auto* panel = new CLEDDialog([&loads](unsigned id, int scale) {
        loads += id >= 4092 && id <= 4101;
        return id == CLEDDialog::kBackgroundBitmap ? QImage() : uitest::PaintedBitmaps()(id, scale);
    });
    panel->CreatePanel(&owner);
    for (unsigned ms = 0; ms < 200000; ms += 1000)
        panel->SetTime(ms);
    EXPECT_EQ(loads, 10);

    owner.setAutoFillBackground(true);
    QPalette green = owner.palette();
    green.setColor(QPalette::Window, Qt::green);
    owner.setPalette(green);
    const QImage shot = owner.grab(QRect(395, 33, 24, 34)).toImage();
    EXPECT_EQ(shot.pixelColor(0, 0), QColor(Qt::green)) << "the key-coloured border is not painted";
    EXPECT_EQ(shot.pixelColor(12, 17), uitest::kBitmapFill);
    panel->Element(Panel::kSecondUnits)->SetBitmap(QImage());
    EXPECT_EQ(owner.grab(QRect(395, 33, 24, 34)).toImage().pixelColor(12, 17), QColor(Qt::green));
}

} // namespace
