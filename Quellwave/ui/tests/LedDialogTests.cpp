// The display panel: the time and track read-outs, entry mode, banners and the indicators, read back from
// which elements are shown and which digit picture each one holds.
#include "CLEDDialog.h"
#include "TestSupport.h"
#include "TransparentBitmapStatic.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using Panel = CLEDDialog;

class LedDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        owner_ = std::make_unique<QWidget>();
        panel_ = new CLEDDialog(uitest::PaintedBitmaps());
        ASSERT_TRUE(panel_->CreatePanel(owner_.get()));
    }

    bool Shown(int id) const {
        TransparentBitmapStatic* element = panel_->Element(id);
        return element != nullptr && !element->isHidden();
    }

    // The digit an element shows, or '?' for a picture that is not a digit of the expected set.
    char DigitOf(int id, unsigned firstBitmap) const {
        const QString tag = panel_->Element(id)->Bitmap().text(QStringLiteral("id"));
        const unsigned bitmap = tag.toUInt();
        if (tag.isEmpty() || bitmap < firstBitmap || bitmap > firstBitmap + 9)
            return '?';
        return static_cast<char>('0' + (bitmap - firstBitmap));
    }

    // What a listener reads: the shown time digits and colons, e.g. "1:00:00".
    std::string Time() const {
        std::string out;
        for (int id : {Panel::kHourTens, Panel::kHourUnits, Panel::kFirstColon, Panel::kMinuteTens,
                       Panel::kMinuteUnits, Panel::kSecondColon, Panel::kSecondTens, Panel::kSecondUnits}) {
            if (!Shown(id))
                continue;
            out += (id == Panel::kFirstColon || id == Panel::kSecondColon) ? ':' : DigitOf(id, 4092);
        }
        return out;
    }

    // The shown track digits; the units must come from the units set.
    std::string Track() const {
        std::string out;
        if (Shown(Panel::kTrackHundreds))
            out += DigitOf(Panel::kTrackHundreds, 359);
        if (Shown(Panel::kTrackTens))
            out += DigitOf(Panel::kTrackTens, 359);
        if (Shown(Panel::kTrackUnits))
            out += DigitOf(Panel::kTrackUnits, 369);
        return out;
    }

    std::string Labels() const {
        std::string out;
        out += Shown(Panel::kTrackLabelLit) ? "T" : "";
        out += Shown(Panel::kTrackLabelDim) ? "t" : "";
        out += Shown(Panel::kTimeLabelLit) ? "M" : "";
        out += Shown(Panel::kTimeLabelDim) ? "m" : "";
        return out;
    }

    std::unique_ptr<QWidget> owner_;
    CLEDDialog* panel_ = nullptr;
};

TEST_F(LedDialogTest, StartsWithNoTrackZeroTimeLitLabelsAndDarkLamps) {
    EXPECT_EQ(panel_->geometry(), QRect(0, 0, 472, 80));
    EXPECT_EQ(Time(), "0:00");
    EXPECT_EQ(Track(), "");
    EXPECT_EQ(Labels(), "TM");
    EXPECT_EQ(panel_->LastTime(), 0u);
    EXPECT_FALSE(panel_->EntryMode());
    for (int id : {Panel::kPlayA, Panel::kPlayB, Panel::kPlayC, Panel::kSourceA, Panel::kSourceB,
                   Panel::kUpperLampLit, Panel::kLowerLampLit, Panel::kWideBanner, Panel::kBanner1,
                   Panel::kBanner2, Panel::kBanner3, Panel::kBanner4})
        EXPECT_FALSE(Shown(id)) << id;
    EXPECT_TRUE(Shown(Panel::kUpperLampDark));
    EXPECT_TRUE(Shown(Panel::kLowerLampDark));
    EXPECT_EQ(panel_->Element(Panel::kSecondUnits)->geometry(), QRect(395, 33, 24, 34));
    EXPECT_EQ(panel_->Element(Panel::kPlayA)->geometry(), QRect(68, 41, 33, 19));
    EXPECT_EQ(panel_->Element(Panel::kBanner2)->geometry(), QRect(214, 33, 204, 34));
}

TEST_F(LedDialogTest, TimeReadsAsHoursMinutesSeconds) {
    struct Case {
        unsigned ms;
        const char* reads;
    };
    for (const Case& c :
         {Case{0, "0:00"}, Case{999, "0:00"}, Case{65000, "1:05"}, Case{599999, "9:59"},
          Case{600000, "10:00"}, Case{3599999, "59:59"}, Case{3600000, "1:00:00"}, Case{3725000, "1:02:05"},
          Case{36000000, "10:00:00"}, Case{359999999, "99:59:59"}, Case{360000000, "?0:00:00"}}) {
        SCOPED_TRACE(c.ms);
        panel_->SetTime(c.ms);
        EXPECT_EQ(Time(), c.reads);
        EXPECT_EQ(panel_->LastTime(), c.ms);
    }
}

TEST_F(LedDialogTest, TrackReadsWithoutLeadingZerosModuloAThousand) {
    struct Case {
        unsigned number;
        const char* reads;
        unsigned stored;
    };
    for (const Case& c : {Case{1005, "5", 5}, Case{100, "100", 100}, Case{0, "", 0}, Case{7, "7", 7},
                          Case{10, "10", 10}, Case{999, "999", 999}, Case{1000, "", 0}, Case{42, "42", 42}}) {
        SCOPED_TRACE(c.number);
        panel_->ShowTrack(c.number);
        EXPECT_EQ(Track(), c.reads);
        EXPECT_EQ(panel_->TrackNumber(), c.stored);
    }
}

TEST_F(LedDialogTest, EntryModeDarkensAndOnlyTakesEnteredTracks) {
    panel_->SetTime(65000);
    panel_->ShowTrack(12);
    panel_->ShowEnteredTrack(77); // outside entry mode: ignored
    EXPECT_EQ(Track(), "12");

    panel_->SetEntryMode(true);
    EXPECT_TRUE(panel_->EntryMode());
    EXPECT_EQ(Time(), "");
    EXPECT_EQ(Track(), "");
    EXPECT_EQ(Labels(), "TM");

    panel_->SetTime(3725000);
    panel_->ShowTrack(9);
    EXPECT_EQ(Time(), "");
    EXPECT_EQ(Track(), "");
    EXPECT_EQ(panel_->LastTime(), 65000u);
    EXPECT_EQ(panel_->TrackNumber(), 12u);

    panel_->ShowEnteredTrack(42);
    EXPECT_EQ(Track(), "42");
    EXPECT_EQ(panel_->TrackNumber(), 42u);

    panel_->SetEntryMode(false);
    EXPECT_EQ(Track(), "42") << "leaving entry mode only clears the flag";
    panel_->SetTime(3725000);
    panel_->ShowTrack(3);
    EXPECT_EQ(Time(), "1:02:05");
    EXPECT_EQ(Track(), "3");
}

TEST_F(LedDialogTest, BannersDimLabelsHideDigitsAndThePlayIndicator) {
    panel_->SetTime(65000);
    panel_->ShowTrack(4);
    panel_->SetPlayIndicator(2);
    constexpr int banners[] = {Panel::kBanner1, Panel::kBanner2, Panel::kBanner3, Panel::kBanner4};
    for (unsigned which : {2u, 1u, 4u, 3u, 0u, 5u}) {
        SCOPED_TRACE(which);
        panel_->SetPlayIndicator(2);
        panel_->ShowBanner(which);
        EXPECT_EQ(Labels(), "tm");
        EXPECT_EQ(Time(), "");
        EXPECT_EQ(Track(), "");
        for (unsigned i = 0; i < 4; ++i)
            EXPECT_EQ(Shown(banners[i]), i + 1 == which) << banners[i];
        EXPECT_FALSE(Shown(Panel::kWideBanner));
        // Banners 1..4 hide the play indicator; 0 and others leave it.
        EXPECT_EQ(Shown(Panel::kPlayA), which == 0 || which > 4);
    }
    panel_->ShowBanner(2);
    panel_->SetTime(0);
    EXPECT_EQ(Time(), "0:00");
    EXPECT_EQ(Labels(), "TM");
    EXPECT_TRUE(Shown(Panel::kBanner2)) << "a time does not take the banner down; ShowBanner(0) does";
}

TEST_F(LedDialogTest, IndicatorsAndLampsIgnoreInvalidStates) {
    struct Play {
        unsigned state;
        bool a, b;
    };
    for (const Play& c : {Play{1, false, true}, Play{2, true, false}, Play{0, false, false},
                          Play{2, true, false}, Play{3, false, false}}) {
        panel_->SetPlayIndicator(c.state);
        EXPECT_EQ(Shown(Panel::kPlayA), c.a) << c.state;
        EXPECT_EQ(Shown(Panel::kPlayB), c.b) << c.state;
        EXPECT_FALSE(Shown(Panel::kPlayC));
    }
    panel_->SetPlayIndicator(1);
    panel_->SetPlayIndicator(4);
    panel_->SetPlayIndicator(0xFFFFFFFFu);
    EXPECT_TRUE(Shown(Panel::kPlayB));
    EXPECT_FALSE(Shown(Panel::kPlayA));

    panel_->SetSourceIndicator(2);
    panel_->SetSourceIndicator(3);
    panel_->SetSourceIndicator(-1);
    EXPECT_FALSE(Shown(Panel::kSourceA));
    EXPECT_TRUE(Shown(Panel::kSourceB));
    panel_->SetSourceIndicator(1);
    EXPECT_TRUE(Shown(Panel::kSourceA));
    EXPECT_FALSE(Shown(Panel::kSourceB));

    struct Repeat {
        int state;
        bool upperLit, lowerLit;
    };
    for (const Repeat& c : {Repeat{1, true, false}, Repeat{2, false, true}, Repeat{3, false, true},
                            Repeat{-1, false, true}, Repeat{0, false, false}}) {
        panel_->SetRepeatIndicator(c.state);
        EXPECT_EQ(Shown(Panel::kUpperLampLit), c.upperLit) << c.state;
        EXPECT_EQ(Shown(Panel::kUpperLampDark), !c.upperLit) << c.state;
        EXPECT_EQ(Shown(Panel::kLowerLampLit), c.lowerLit) << c.state;
        EXPECT_EQ(Shown(Panel::kLowerLampDark), !c.lowerLit) << c.state;
    }
}

TEST_F(LedDialogTest, DigitPicturesAreLoadedOnceAndShared) {
    int loads = 0;
    auto counting = [&loads, inner = uitest::PaintedBitmaps()](unsigned id, int scale) {
        if (id >= 4092 && id <= 4101)
            ++loads;
        return inner(id, scale);
    };
    QWidget owner;
    CLEDDialog* panel = new CLEDDialog(counting);
    panel->CreatePanel(&owner);
    for (unsigned ms = 0; ms < 200000; ms += 1000)
        panel->SetTime(ms);
    EXPECT_EQ(loads, 10) << "each time digit is loaded once, on first use";
    // Two elements showing the same digit hold the same picture, not copies.
    panel->SetTime(11000);
    EXPECT_EQ(panel->Element(Panel::kSecondTens)->Bitmap().cacheKey(),
              panel->Element(Panel::kSecondUnits)->Bitmap().cacheKey());
}

TEST_F(LedDialogTest, KeyColourIsLeftOutWhenPainting) {
    // A digit painted on the key colour shows the background through it.
    QWidget owner;
    owner.setAutoFillBackground(true);
    QPalette green = owner.palette();
    green.setColor(QPalette::Window, Qt::green);
    owner.setPalette(green);
    TransparentBitmapStatic element(1, &owner);
    element.setGeometry(0, 0, 24, 34);
    element.SetBitmap(uitest::PaintedBitmaps()(4092 + 8, 1));
    const QImage shot = owner.grab(QRect(0, 0, 24, 34)).toImage();
    EXPECT_EQ(shot.pixelColor(0, 0), QColor(Qt::green)) << "key colour must not be painted";
    EXPECT_EQ(shot.pixelColor(12, 17), uitest::kAmber) << "the lit middle segment of an 8";

    element.SetBitmap(QImage());
    EXPECT_EQ(owner.grab(QRect(0, 0, 24, 34)).toImage().pixelColor(12, 17), QColor(Qt::green));
}

} // namespace
