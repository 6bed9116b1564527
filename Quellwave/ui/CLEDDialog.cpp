#include "CLEDDialog.h"

#include "TransparentBitmapStatic.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPalette>

#include <utility>

namespace {

struct ElementPlace {
    int id;
    int left, top, width, height;
    bool shown; // at creation; the digits are then set by the first time and track shown
};

constexpr std::array<ElementPlace, CLEDDialog::kElementCount> kElements{{
    {CLEDDialog::kPlayA, 68, 41, 33, 19, false},          {CLEDDialog::kPlayB, 68, 41, 33, 19, false},
    {CLEDDialog::kPlayC, 68, 41, 33, 19, false},          {CLEDDialog::kSourceA, 17, 41, 44, 18, false},
    {CLEDDialog::kSourceB, 17, 41, 44, 18, false},        {CLEDDialog::kLowerLampLit, 430, 54, 28, 14, false},
    {CLEDDialog::kLowerLampDark, 430, 54, 28, 14, true},  {CLEDDialog::kUpperLampLit, 430, 32, 28, 14, false},
    {CLEDDialog::kUpperLampDark, 430, 32, 28, 14, true},  {CLEDDialog::kTrackLabelLit, 152, 10, 48, 14, true},
    {CLEDDialog::kTrackLabelDim, 152, 10, 48, 14, false}, {CLEDDialog::kTimeLabelLit, 385, 10, 35, 14, true},
    {CLEDDialog::kTimeLabelDim, 385, 10, 35, 14, false},  {CLEDDialog::kWideBanner, 114, 33, 304, 34, false},
    {CLEDDialog::kBanner1, 274, 33, 144, 34, false},      {CLEDDialog::kBanner2, 214, 33, 204, 34, false},
    {CLEDDialog::kBanner3, 214, 33, 204, 34, false},      {CLEDDialog::kBanner4, 304, 33, 114, 34, false},
    {CLEDDialog::kTrackHundreds, 114, 33, 24, 34, true},  {CLEDDialog::kTrackTens, 145, 33, 24, 34, true},
    {CLEDDialog::kTrackUnits, 175, 33, 24, 34, true},     {CLEDDialog::kHourTens, 225, 33, 24, 34, true},
    {CLEDDialog::kHourUnits, 255, 33, 24, 34, true},      {CLEDDialog::kFirstColon, 285, 33, 4, 34, true},
    {CLEDDialog::kMinuteTens, 295, 33, 24, 34, true},     {CLEDDialog::kMinuteUnits, 325, 33, 24, 34, true},
    {CLEDDialog::kSecondColon, 355, 33, 4, 34, true},     {CLEDDialog::kSecondTens, 365, 33, 24, 34, true},
    {CLEDDialog::kSecondUnits, 395, 33, 24, 34, true},
}};

// The elements whose picture is a digit, set by the read-out rather than at creation.
bool IsDigitElement(int id) {
    switch (id) {
    case CLEDDialog::kTrackHundreds:
    case CLEDDialog::kTrackTens:
    case CLEDDialog::kTrackUnits:
    case CLEDDialog::kHourTens:
    case CLEDDialog::kHourUnits:
    case CLEDDialog::kMinuteTens:
    case CLEDDialog::kMinuteUnits:
    case CLEDDialog::kSecondTens:
    case CLEDDialog::kSecondUnits:
        return true;
    default:
        return false;
    }
}

constexpr std::array<int, 11> kDigitElements{
    CLEDDialog::kTrackHundreds, CLEDDialog::kTrackTens,  CLEDDialog::kTrackUnits,  CLEDDialog::kHourTens,
    CLEDDialog::kHourUnits,     CLEDDialog::kFirstColon, CLEDDialog::kMinuteTens,  CLEDDialog::kMinuteUnits,
    CLEDDialog::kSecondColon,   CLEDDialog::kSecondTens, CLEDDialog::kSecondUnits,
};

// How bright an unlit segment is against a lit one (the skin draws its unlit segments so too).
constexpr double kUnlitShare = 0.07;

// Bitmap id of digit 0 in each set.
constexpr std::array<unsigned, 3> kDigitBase{4092, 359, 369};

} // namespace

CLEDDialog::CLEDDialog(ui::BitmapLoader loader)
    : loader_(loader ? std::move(loader) : ui::DefaultBitmapLoader()) {}

CLEDDialog::~CLEDDialog() = default;

bool CLEDDialog::CreatePanel(QWidget* owner) {
    setParent(owner);
    const int scale = ui::ScaleForPixelRatio(devicePixelRatioF());
    for (std::size_t i = 0; i < kElements.size(); ++i) {
        const ElementPlace& place = kElements[i];
        auto* element = new TransparentBitmapStatic(place.id, this);
        if (!IsDigitElement(place.id))
            element->SetBitmap(loader_(static_cast<unsigned>(place.id), scale));
        elements_[i] = element;
    }
    const QImage background = loader_(kBackgroundBitmap, scale);
    if (!background.isNull())
        background_ = QPixmap::fromImage(ui::AtPixelRatio(background, devicePixelRatioF()));
    // Text on the panel (none in the default look) is drawn light blue on the background.
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, QColor(0x99, 0xCC, 0xFF));
    setPalette(colours);
    OnInitDialog();
    return true;
}

void CLEDDialog::OnInitDialog() {
    for (std::size_t i = 0; i < kElements.size(); ++i) {
        elements_[i]->SetKeyColour(ui::kKeyColour);
        elements_[i]->setVisible(kElements[i].shown);
    }
    lastTime_ = 0;
    SetSourceIndicator(0);
    SetPlayIndicator(0);
    SetTime(0);
    LightLabels();
    SetTrackDigits(0);
    SetRepeatIndicator(0);
    setGeometry(0, 0, kWidth, kHeight);
    for (std::size_t i = 0; i < kElements.size(); ++i) {
        const ElementPlace& place = kElements[i];
        elements_[i]->setGeometry(place.left, place.top, place.width, place.height);
    }
    update();
}

TransparentBitmapStatic* CLEDDialog::Element(int id) const {
    for (std::size_t i = 0; i < kElements.size(); ++i) {
        if (kElements[i].id == id)
            return elements_[i];
    }
    return nullptr;
}

void CLEDDialog::Show(int element, bool show) {
    if (TransparentBitmapStatic* control = Element(element))
        control->setVisible(show);
}

const QImage& CLEDDialog::Digit(DigitSet set, unsigned digit) {
    const int scale = ui::ScaleForPixelRatio(devicePixelRatioF());
    if (scale != digitScale_) {
        // Pictures for another screen scale: drop the cached ones, they load again on first use.
        digits_ = {};
        digitLoaded_ = {};
        digitScale_ = scale;
    }
    if (!digitLoaded_[set][digit]) {
        digits_[set][digit] =
            ui::AtPixelRatio(ui::KeyedImage(loader_(kDigitBase[set] + digit, scale)), devicePixelRatioF());
        digitLoaded_[set][digit] = true;
    }
    return digits_[set][digit];
}

void CLEDDialog::SetDigit(int element, DigitSet set, unsigned digit, bool show) {
    TransparentBitmapStatic* control = Element(element);
    if (control == nullptr)
        return;
    control->SetBitmap(digit <= 9 ? Digit(set, digit) : QImage());
    control->setVisible(show);
}

void CLEDDialog::SetSourceIndicator(int state) {
    switch (state) {
    case 0:
        Show(kSourceA, false);
        Show(kSourceB, false);
        break;
    case 1:
        Show(kSourceA, true);
        Show(kSourceB, false);
        break;
    case 2:
        Show(kSourceA, false);
        Show(kSourceB, true);
        break;
    default:
        break;
    }
}

void CLEDDialog::SetPlayIndicator(unsigned state) {
    switch (state) {
    case 1:
        Show(kPlayA, false);
        Show(kPlayB, true);
        Show(kPlayC, false);
        break;
    case 2:
        Show(kPlayA, true);
        Show(kPlayB, false);
        Show(kPlayC, false);
        break;
    case 0:
    case 3:
        Show(kPlayA, false);
        Show(kPlayB, false);
        Show(kPlayC, false);
        break;
    default:
        break;
    }
}

void CLEDDialog::SetLabelsLit(bool lit, bool alsoDigits) {
    Show(kTrackLabelLit, lit);
    Show(kTimeLabelLit, lit);
    Show(kTrackLabelDim, !lit);
    Show(kTimeLabelDim, !lit);
    if (alsoDigits) {
        for (int id : kDigitElements)
            Show(id, lit);
    }
}

void CLEDDialog::LightLabels() {
    SetLabelsLit(true, false);
}

void CLEDDialog::SetEntryMode(bool on) {
    entryMode_ = on;
    if (on) {
        SetLabelsLit(false, true);
        LightLabels();
    }
}

void CLEDDialog::SetRepeatIndicator(int state) {
    switch (state) {
    case 0:
        Show(kUpperLampLit, false);
        Show(kUpperLampDark, true);
        Show(kLowerLampLit, false);
        Show(kLowerLampDark, true);
        break;
    case 1:
        Show(kUpperLampLit, true);
        Show(kUpperLampDark, false);
        Show(kLowerLampLit, false);
        Show(kLowerLampDark, true);
        break;
    case 2:
        Show(kUpperLampLit, false);
        Show(kUpperLampDark, true);
        Show(kLowerLampLit, true);
        Show(kLowerLampDark, false);
        break;
    default:
        break;
    }
    update();
}

void CLEDDialog::ShowBanner(unsigned which) {
    SetLabelsLit(false, true);
    static constexpr std::array<int, 4> kBanners{kBanner1, kBanner2, kBanner3, kBanner4};
    if (which >= 1 && which <= 4) {
        Show(kPlayA, false);
        Show(kPlayB, false);
        Show(kPlayC, false);
        for (unsigned i = 0; i < kBanners.size(); ++i)
            Show(kBanners[i], i + 1 == which);
    } else {
        for (int id : kBanners)
            Show(id, false);
    }
    // Shown at once: a disc spinning up or a file opening may hold the thread for a while, and the old
    // read-out must not stay up meanwhile.
    repaint();
}

void CLEDDialog::SetTime(unsigned milliseconds) {
    if (entryMode_)
        return;
    LightLabels();
    remaining_ = false;
    minusPlace_ = 0;
    lastTime_ = milliseconds;
    const unsigned s = milliseconds / 1000;
    const unsigned h = s / 3600;
    const unsigned m = (s - 3600 * h) / 60;
    const unsigned sec = s - 60 * (60 * h + m);

    const unsigned hourTens = h / 10;
    const unsigned hourUnits = h % 10;
    const bool hourUnitsShown = hourTens > 0 || hourUnits > 0;
    SetDigit(kHourTens, kTimeSet, hourTens, hourTens > 0);
    SetDigit(kHourUnits, kTimeSet, hourUnits, hourUnitsShown);
    Show(kFirstColon, hourUnitsShown);
    SetDigit(kMinuteTens, kTimeSet, m / 10, h > 0 || m / 10 > 0);
    SetDigit(kMinuteUnits, kTimeSet, m % 10, true);
    Show(kSecondColon, true);
    SetDigit(kSecondTens, kTimeSet, sec / 10, true);
    SetDigit(kSecondUnits, kTimeSet, sec % 10, true);
    repaint(); // at once, as the banner
}

void CLEDDialog::ShowRemainingTime(unsigned milliseconds) {
    if (entryMode_)
        return;
    SetTime(milliseconds);
    remaining_ = true;
    // The sign takes the place just before the first digit shown; between hours and minutes the colon
    // stays dark, so the sign never reads as part of the time.
    for (int place : {kMinuteTens, kHourUnits, kHourTens}) {
        if (const TransparentBitmapStatic* element = Element(place);
            element != nullptr && element->isHidden()) {
            minusPlace_ = place;
            break;
        }
    }
    if (minusPlace_ == 0)
        return;
    const int scale = ui::ScaleForPixelRatio(devicePixelRatioF());
    if (scale != minusScale_) {
        minus_ = ui::AtPixelRatio(ui::KeyedImage(loader_(kMinusBitmap, scale)), devicePixelRatioF());
        minusScale_ = scale;
    }
    TransparentBitmapStatic* element = Element(minusPlace_);
    element->SetBitmap(minus_);
    element->setVisible(true);
    repaint();
}

void CLEDDialog::ShowTrack(unsigned number) {
    if (entryMode_)
        return;
    LightLabels();
    SetTrackDigits(number);
}

void CLEDDialog::ShowEnteredTrack(unsigned number) {
    if (!entryMode_)
        return;
    SetTrackDigits(number);
}

void CLEDDialog::SetTrackDigits(unsigned number) {
    const unsigned n = number % 1000;
    trackNumber_ = n;
    const unsigned hundreds = n / 100;
    const unsigned tens = (n % 100) / 10;
    const unsigned units = n % 10;
    SetDigit(kTrackHundreds, kTrackSet, hundreds, hundreds > 0);
    SetDigit(kTrackTens, kTrackSet, tens, hundreds > 0 || tens > 0);
    SetDigit(kTrackUnits, kTrackUnitsSet, units, hundreds > 0 || tens > 0 || units > 0);
    repaint(); // at once, as the banner
}

void CLEDDialog::paintEvent(QPaintEvent* event) {
    if (background_.isNull())
        return;
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.drawTiledPixmap(rect(), background_);
    PaintUnlitPlaces(painter);
}

void CLEDDialog::PaintUnlitPlaces(QPainter& painter) {
    QRegion banners;
    for (int id : {kWideBanner, kBanner1, kBanner2, kBanner3, kBanner4}) {
        if (const TransparentBitmapStatic* banner = Element(id); banner != nullptr && !banner->isHidden())
            banners += banner->geometry();
    }
    painter.setOpacity(kUnlitShare);
    for (int id : kDigitElements) {
        const TransparentBitmapStatic* place = Element(id);
        if (place == nullptr || !place->isHidden() || banners.intersects(place->geometry()))
            continue;
        // An "8" lights every segment; a colon's picture is both its dots.
        QImage picture;
        if (id == kFirstColon || id == kSecondColon)
            picture = place->Bitmap();
        else
            picture =
                Digit(id == kTrackUnits ? kTrackUnitsSet : (id <= kTrackUnits ? kTrackSet : kTimeSet), 8);
        if (!picture.isNull())
            painter.drawImage(QPointF(place->geometry().topLeft()), ui::KeyedImage(picture));
    }
    painter.setOpacity(1.0);
}
