#include "PlayerControls.h"

#include "shell/ResourceIds.h"
#include "shell/ResourceModules.h"
#include "ui/CDialCtrl.h"
#include "ui/CLongPushButton.h"
#include "ui/ImageSource.h"
#include "ui/PlayCtrlButton.h"
#include "ui/TransparentBitmapStatic.h"

#include <QToolTip>

namespace app {

namespace {

enum class Kind { Button, LongPush, Picture, Dial };

struct ControlPlan {
    int id;
    Kind kind;
    QRect rect;
    std::array<unsigned, 6> bitmaps;
    unsigned tooltip;
    bool visible;
};

constexpr std::array<unsigned, 6> kRound = {4037, 4036, 4037, 4037, 4038, 4038};
constexpr std::array<unsigned, 6> kNone = {};

// The panel's controls at their client positions. The mode-dependent ones are shown by the mode entries.
const std::array<ControlPlan, 32> kControls = {{
    {1, Kind::Button, {992, 16, 16, 16}, {4046, 4048, 4046, 4046, 4047, 4047}, 301, true},
    {5018, Kind::Button, {974, 16, 16, 16}, {4049, 4051, 4049, 4049, 4050, 4050}, 300, true},
    {5028, Kind::Picture, {432, 55, 162, 16}, kNone, 0, true},
    {1004, Kind::Button, {328, 237, 32, 32}, kRound, 302, true},
    {1005, Kind::Button, {328, 237, 32, 32}, kRound, 303, false},
    {1006, Kind::Button, {440, 237, 32, 32}, kRound, 304, true},
    {1007, Kind::Button, {552, 237, 32, 32}, kRound, 305, true},
    {1008, Kind::Button, {664, 237, 32, 32}, kRound, 306, true},
    {5023, Kind::Picture, {327, 212, 34, 12}, kNone, 0, true},
    {5024, Kind::Picture, {450, 212, 12, 12}, kNone, 0, true},
    {5025, Kind::Picture, {555, 212, 26, 12}, kNone, 0, true},
    {5026, Kind::Picture, {667, 212, 26, 12}, kNone, 0, true},
    {1046, Kind::Button, {775, 91, 91, 40}, {351, 353, 351, 351, 352, 352}, 308, true},
    {1027, Kind::Button, {775, 131, 84, 40}, {348, 350, 348, 348, 349, 349}, 307, true},
    {1028, Kind::Button, {877, 131, 20, 20}, {4039, 4041, 4039, 4039, 4040, 4040}, 0, false},
    {5029, Kind::Button, {877, 91, 71, 40}, {345, 347, 345, 345, 346, 346}, 309, true},
    {5072, Kind::Button, {877, 131, 71, 40}, {354, 356, 354, 354, 355, 355}, 317, true},
    {1053, Kind::Picture, {77, 78, 91, 13}, kNone, 0, false},
    {5034, Kind::Picture, {77, 78, 91, 13}, kNone, 0, false},
    {1052, Kind::Button, {88, 103, 56, 56}, {4043, 4045, 4043, 4043, 4044, 4044}, 310, false},
    {5019, Kind::Button, {88, 103, 56, 56}, {4043, 4045, 4043, 4043, 4044, 4044}, 311, false},
    {1048, Kind::Button, {144, 111, 96, 40}, {324, 326, 324, 324, 325, 325}, 313, false},
    {5069, Kind::Button, {144, 111, 96, 40}, {327, 329, 327, 327, 328, 328}, 312, false},
    {5042, Kind::Picture, {456, 304, 113, 12}, kNone, 0, true},
    {5071, Kind::Dial, {394, 335, 236, 236}, kNone, 316, true},
    {5038, Kind::LongPush, {378, 555, 32, 32}, kRound, 314, true},
    {5040, Kind::Picture, {351, 563, 16, 16}, kNone, 0, true},
    {5039, Kind::LongPush, {614, 555, 32, 32}, kRound, 315, true},
    {5041, Kind::Picture, {657, 563, 16, 16}, kNone, 0, true},
    {1054, Kind::Picture, {458, 626, 109, 57}, kNone, 0, true},
    // Pictures of the template that the window never shows.
    {1047, Kind::Picture, {}, kNone, 0, false},
    {5027, Kind::Picture, {}, kNone, 0, false},
}};
// The rest of the never-shown pictures.
constexpr std::array<int, 5> kUnusedPictures = {5030, 5031, 5032, 5033, 5037};

} // namespace

PanelControls CreatePanelControls(QWidget& parent) {
    PanelControls made;
    const ui::BitmapLoader loader = ui::DefaultBitmapLoader();
    const int scale = ui::ScaleForPixelRatio(parent.devicePixelRatioF());
    for (const ControlPlan& plan : kControls) {
        QWidget* control = nullptr;
        switch (plan.kind) {
        case Kind::Button:
        case Kind::LongPush: {
            PlayCtrlButton* button = plan.kind == Kind::LongPush ? new CLongPushButton(plan.id, &parent)
                                                                 : new PlayCtrlButton(plan.id, &parent);
            button->MakeOwnerDraw();
            const auto& b = plan.bitmaps;
            button->LoadBitmaps(b[0], b[1], b[2], b[3], b[4], b[5]);
            button->setFocusPolicy(Qt::NoFocus);
            control = button;
            break;
        }
        case Kind::Picture: {
            auto* picture = new TransparentBitmapStatic(plan.id, &parent);
            picture->SetBitmap(loader(static_cast<unsigned>(plan.id), scale));
            control = picture;
            break;
        }
        case Kind::Dial:
            made.dial = new CDialCtrl(plan.id, &parent);
            control = made.dial;
            break;
        }
        control->setGeometry(plan.rect);
        control->setVisible(plan.visible);
        if (plan.tooltip != 0)
            control->setToolTip(ResourceString(plan.tooltip));
        made.byId[plan.id] = control;
    }
    for (int id : kUnusedPictures) {
        auto* picture = new TransparentBitmapStatic(id, &parent);
        picture->hide();
        made.byId[id] = picture;
    }
    // The tooltips' colours: dark grey with light text, readable over the panel.
    QPalette tips = QToolTip::palette();
    tips.setColor(QPalette::ToolTipBase, QColor(0x47, 0x47, 0x45));
    tips.setColor(QPalette::ToolTipText, QColor(0xED, 0xEC, 0xED));
    QToolTip::setPalette(tips);
    return made;
}

unsigned RateBadgeBitmap(platform::DsdRate rate) noexcept {
    switch (rate) {
    case platform::DsdRate::kDsd128:
        return resid::kPictureBottomDsd128;
    case platform::DsdRate::kDsd256:
        return resid::kPictureBottomDsd256;
    case platform::DsdRate::kDsd512:
        return resid::kPictureBottomDsd512;
    case platform::DsdRate::kDsd64:
        break;
    }
    return resid::kPictureBottom;
}

void ShowRateBadge(const std::map<int, QWidget*>& controls, platform::DsdRate rate, int scale) {
    const auto it = controls.find(static_cast<int>(resid::kPictureBottom));
    auto* badge = it == controls.end() ? nullptr : qobject_cast<TransparentBitmapStatic*>(it->second);
    if (badge == nullptr)
        return;
    const unsigned wanted = RateBadgeBitmap(rate);
    const QVariant shown = badge->property("rateBadge");
    if (shown.isValid() ? shown.toUInt() == wanted : wanted == resid::kPictureBottom)
        return;
    const ui::BitmapLoader loader = ui::DefaultBitmapLoader();
    QImage image = loader(wanted, scale);
    if (image.isNull())
        image = loader(resid::kPictureBottom, scale);
    badge->SetBitmap(image);
    badge->setProperty("rateBadge", wanted);
}

} // namespace app
