// The player panel's controls: the transport, mode and window buttons, the pictures and the volume dial at
// their places on the 1024 x 768 panel, with their bitmaps and tooltips. The panel creates them once; which
// of the mode-dependent ones show is the panel's business (kDiscModeControls, kFileModeControls).
#pragma once

#include "Platform/DsdRate.h"

#include <array>
#include <map>

class CDialCtrl;
class QWidget;

namespace app {

// Shown in disc mode and hidden in file mode (the source picture, the eject and the mode buttons) ...
inline constexpr std::array<int, 3> kDiscModeControls = {1053, 1052, 1048};
// ... and their file-mode counterparts at the same places.
inline constexpr std::array<int, 3> kFileModeControls = {5034, 5019, 5069};

struct PanelControls {
    std::map<int, QWidget*> byId; // every control, by its id
    CDialCtrl* dial = nullptr;    // the volume dial (also in byId)
};

// Creates every control of the panel as a child of parent (which owns them), at its place, visible as the
// panel starts; sets the tooltips' colours.
PanelControls CreatePanelControls(QWidget& parent);

// The bitmap of the rate badge (picture 1054) for a rate: 1054 at DSD64, its DSD128, DSD256 and DSD512
// siblings.
unsigned RateBadgeBitmap(platform::DsdRate rate) noexcept;
// Shows the badge of rate in picture 1054 of controls, loaded at scale; a skin without that badge keeps
// the DSD64 one. Does nothing when the badge shown is already that rate's.
void ShowRateBadge(const std::map<int, QWidget*>& controls, platform::DsdRate rate, int scale);

} // namespace app
