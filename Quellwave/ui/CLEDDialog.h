// The player window's LED-style read-out (472 x 80): track number, playing time as [h]h:mm:ss, a play-state
// and a source indicator, two repeat lamps, track and time labels that are lit or dimmed, and one of four
// banners across the digit area. Every element is a TransparentBitmapStatic over a background tiled from
// bitmap 4042; the panel only chooses pictures and shows or hides elements, the window decides what to show.
// UI thread only.
//
// Pictures come by id through the loader: digits 0..9 of the time set (4092..4101), the track set
// (359..368, hundreds and tens) and the track units set (369..378), the background 4042, and for every other
// element the bitmap whose id is the element's own control id (e.g. banner 2 shows bitmap 5054).
#pragma once

#include "ImageSource.h"

#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QWidget>

#include <array>

class TransparentBitmapStatic;

class CLEDDialog : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 472;
    static constexpr int kHeight = 80;
    static constexpr unsigned kBackgroundBitmap = 4042;
    static constexpr unsigned kMinusBitmap = 4102;
    // The time read-out with its label, in the panel's coordinates: a click there switches what it shows.
    static constexpr QRect kTimeArea{225, 10, 195, 58};

    // Element control ids.
    enum : int {
        kPlayA = 1030,
        kPlayB = 1041,
        kPlayC = 5046,
        kSourceA = 5047,
        kSourceB = 5048,
        kLowerLampLit = 1044,
        kLowerLampDark = 5052,
        kUpperLampLit = 1045,
        kUpperLampDark = 5051,
        kTrackLabelLit = 5045,
        kTrackLabelDim = 5049,
        kTimeLabelLit = 5044,
        kTimeLabelDim = 5050,
        kWideBanner = 5043,
        kBanner1 = 5053,
        kBanner2 = 5054,
        kBanner3 = 5055,
        kBanner4 = 5056,
        kTrackHundreds = 5057,
        kTrackTens = 5058,
        kTrackUnits = 5059,
        kHourTens = 5060,
        kHourUnits = 5061,
        kFirstColon = 5066,
        kMinuteTens = 5062,
        kMinuteUnits = 5063,
        kSecondColon = 5067,
        kSecondTens = 5064,
        kSecondUnits = 5065,
    };
    static constexpr int kElementCount = 29;

    // Without a loader the program-wide default is used (ui::DefaultBitmapLoader at construction).
    explicit CLEDDialog(ui::BitmapLoader loader = {});
    ~CLEDDialog() override;

    // Makes the panel a child of owner with its 29 elements and their first pictures, and shows the
    // initial read-out (no track, 0:00, labels lit, repeat lamps dark). Returns true.
    bool CreatePanel(QWidget* owner);

    // 0 none, 1 picture A, 2 picture B; any other state changes nothing.
    void SetSourceIndicator(int state);
    // 1 picture B, 2 picture A, 0 and 3 none; picture C is always hidden; any other state changes nothing.
    void SetPlayIndicator(unsigned state);
    // Lit shows the lit labels, else the dim ones; with alsoDigits the eleven digit elements are shown
    // when lit and hidden when not.
    void SetLabelsLit(bool lit, bool alsoDigits);
    // Entry mode darkens the digits; while it holds SetTime and ShowTrack do nothing and only
    // ShowEnteredTrack changes the track digits.
    void SetEntryMode(bool on);
    // 0 both lamps dark, 1 upper lit, 2 lower lit; other states only repaint.
    void SetRepeatIndicator(int state);
    // Dims the labels and hides every digit; 1..4 show that banner (hiding the play indicator), 0 and
    // anything above 4 hide all four.
    void ShowBanner(unsigned which);
    void SetTime(unsigned milliseconds);
    // Shows milliseconds as SetTime does, as the time left: with a minus sign (bitmap 4102) lit in the
    // digit place before the first digit shown, none when the hour tens are shown. Ignored in entry mode.
    void ShowRemainingTime(unsigned milliseconds);
    void ShowTrack(unsigned number);
    void ShowEnteredTrack(unsigned number);
    // Shows number mod 1000 without leading zeros (0 shows nothing) and stores it.
    void SetTrackDigits(unsigned number);

    unsigned LastTime() const noexcept { return lastTime_; }
    unsigned TrackNumber() const noexcept { return trackNumber_; }
    bool EntryMode() const noexcept { return entryMode_; }
    // Whether the time shown is a time left (ShowRemainingTime), and the digit place its minus sign is in
    // (0 when none is shown).
    bool RemainingShown() const noexcept { return remaining_; }
    int MinusPlace() const noexcept { return minusPlace_; }

    // The element with this control id, or nullptr.
    TransparentBitmapStatic* Element(int id) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    enum DigitSet { kTimeSet = 0, kTrackSet = 1, kTrackUnitsSet = 2 };

    void OnInitDialog();
    const QImage& Digit(DigitSet set, unsigned digit);
    // Sets the element to the digit's picture (no picture for a digit above 9) and shows or hides it.
    void SetDigit(int element, DigitSet set, unsigned digit, bool show);
    void Show(int element, bool show);
    void LightLabels();
    // The faint unlit segments of every digit place (and the colons) that shows nothing, as a real LED
    // display shows them; none under a banner.
    void PaintUnlitPlaces(QPainter& painter);

    ui::BitmapLoader loader_;
    QPixmap background_;
    unsigned lastTime_ = 0;
    unsigned trackNumber_ = 0;
    bool entryMode_ = false;
    bool remaining_ = false;
    int minusPlace_ = 0;
    QImage minus_;
    int minusScale_ = 0;
    std::array<TransparentBitmapStatic*, kElementCount> elements_{};
    std::array<std::array<QImage, 10>, 3> digits_{};
    std::array<std::array<bool, 10>, 3> digitLoaded_{};
    int digitScale_ = 0;
};
