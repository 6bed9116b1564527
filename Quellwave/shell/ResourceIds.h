// Ids of the resources the windows look up (ResourceModules.h). Bitmaps of the player window's and the
// display panel's fixed pictures carry the id of the control that shows them: control 5042 shows bitmap
// 5042. Buttons take six bitmaps (normal, pressed, focused, disabled, hovered, hovered-focused) from three
// pictures each; the id triples below are (normal, hovered, pressed).
#pragma once

namespace resid {

// ---- Bitmaps -----------------------------------------------------------------------------------------

// Player window buttons.
inline constexpr unsigned kRoundNormal = 4037, kRoundHover = 4038, kRoundPressed = 4036;          // 32 x 32
inline constexpr unsigned kFadeNormal = 4039, kFadeHover = 4040, kFadePressed = 4041;             // 20 x 20
inline constexpr unsigned kEjectNormal = 4043, kEjectHover = 4044, kEjectPressed = 4045;          // 56 x 56
inline constexpr unsigned kCloseNormal = 4046, kCloseHover = 4047, kClosePressed = 4048;          // 16 x 16
inline constexpr unsigned kMinimiseNormal = 4049, kMinimiseHover = 4050, kMinimisePressed = 4051; // 16 x 16
inline constexpr unsigned kToFileNormal = 324, kToFileHover = 325, kToFilePressed = 326;          // 96 x 40
inline constexpr unsigned kToDiscNormal = 327, kToDiscHover = 328, kToDiscPressed = 329;          // 96 x 40
inline constexpr unsigned kHelpNormal = 345, kHelpHover = 346, kHelpPressed = 347;                // 71 x 40
inline constexpr unsigned kRepeatNormal = 348, kRepeatHover = 349, kRepeatPressed = 350;          // 84 x 40
inline constexpr unsigned kSettingsNormal = 351, kSettingsHover = 352, kSettingsPressed = 353;    // 91 x 40

// Player window pictures (bitmap id = control id).
inline constexpr unsigned kPictureTop = 5028;     // 162 x 16, the name plate above the display
inline constexpr unsigned kLabelPlay = 5023;      // 34 x 12, play/pause glyph above button 1004
inline constexpr unsigned kLabelStop = 5024;      // 12 x 12
inline constexpr unsigned kLabelPrevious = 5025;  // 26 x 12
inline constexpr unsigned kLabelNext = 5026;      // 26 x 12
inline constexpr unsigned kLabelDiscMode = 1053;  // 91 x 13
inline constexpr unsigned kLabelFileMode = 5034;  // 91 x 13
inline constexpr unsigned kLabelVolume = 5042;    // 113 x 12
inline constexpr unsigned kMarkVolumeDown = 5040; // 16 x 16
inline constexpr unsigned kMarkVolumeUp = 5041;   // 16 x 16
inline constexpr unsigned kPictureBottom = 1054;  // 109 x 57, keyed: the DSD64 badge
// Its siblings, shown in its place while DSD128, DSD256 or DSD512 plays (same size, keyed). A skin without
// them keeps showing 1054.
inline constexpr unsigned kPictureBottomDsd128 = 1058, kPictureBottomDsd256 = 1059,
                          kPictureBottomDsd512 = 1060;
// The panel's face, 1024 x 768, for a window that paints brushed metal under its controls; the keyed
// pictures' edges are blended for it.
inline constexpr unsigned kPanelFace = 4052;

// Display panel (bitmap id = control id), all keyed, drawn over the background 4042.
inline constexpr unsigned kDisplayBackground = 4042; // 472 x 80
inline constexpr unsigned kPlayIndicatorA = 1030;    // 33 x 19, playing
inline constexpr unsigned kPlayIndicatorB = 1041;    // paused
inline constexpr unsigned kPlayIndicatorC = 5046;    // stopped (never shown by the window)
inline constexpr unsigned kSourceIndicatorA = 5047;  // 44 x 18, disc
inline constexpr unsigned kSourceIndicatorB = 5048;  // file
inline constexpr unsigned kRepeatLowerLit = 1044, kRepeatLowerDark = 5052; // 28 x 14, all tracks
inline constexpr unsigned kRepeatUpperLit = 1045, kRepeatUpperDark = 5051; // 28 x 14, one track
inline constexpr unsigned kTrackLabelLit = 5045, kTrackLabelDim = 5049;    // 48 x 14
inline constexpr unsigned kTimeLabelLit = 5044, kTimeLabelDim = 5050;      // 35 x 14
inline constexpr unsigned kBannerWide = 5043;                              // 304 x 34
inline constexpr unsigned kBanner1 = 5053;                                 // 144 x 34
inline constexpr unsigned kBanner2 = 5054;                // 204 x 34, the disc cannot be opened
inline constexpr unsigned kBanner3 = 5055;                // 204 x 34, the file list cannot be opened
inline constexpr unsigned kBanner4 = 5056;                // 114 x 34
inline constexpr unsigned kColon1 = 5066, kColon2 = 5067; // 4 x 34
// Digit sets: id of digit 0; digits 1..9 follow. 24 x 34 each.
inline constexpr unsigned kTimeDigits = 4092;
inline constexpr unsigned kTrackDigits = 359;
inline constexpr unsigned kTrackUnitsDigits = 369;
// The minus sign of the time set (24 x 34), before a time left.
inline constexpr unsigned kTimeMinus = 4102;

// About box pictures and the start-up notice's frame (bottom edge, bottom-left, bottom-right, middle,
// left, right).
inline constexpr unsigned kAboutPicture1 = 215, kAboutPicture2 = 216;
inline constexpr unsigned kNoticeBottom = 317, kNoticeBottomLeft = 318, kNoticeBottomRight = 319;
inline constexpr unsigned kNoticeMiddle = 320, kNoticeLeft = 321, kNoticeRight = 322;
// The dialogs' marks: a ticked box's tick (18 x 18) and a drop-down list's arrow (12 x 8).
inline constexpr unsigned kDialogTick = 380, kDialogDropArrow = 381;

// ---- Strings -----------------------------------------------------------------------------------------

inline constexpr unsigned kStrVersionPrefix = 217, kStrAboutTitle = 223;
inline constexpr unsigned kStrPowerLimited = 218, kStrWarningCaption = 219, kStrOverloadAtStart = 220;
inline constexpr unsigned kStrOverloadPaused = 221, kStrOverloadRefused = 222;
inline constexpr unsigned kStrCheckCancelled = 230, kStrCheckFailed = 231, kStrCheckDone = 232;
inline constexpr unsigned kStrSecondCopyFailed = 240, kStrDriverMissing = 241;
inline constexpr unsigned kStrNoPlayableFiles = 260, kStrSomeFilesRefused = 264, kStrTooManyFiles = 266;
// Tooltips 300..317: minimise, close, play, pause, stop, previous, next, repeat, settings, help, eject,
// open files, disc mode, file mode, volume down, volume up, volume dial, play list.
inline constexpr unsigned kStrTipFirst = 300, kStrTipLast = 317;
inline constexpr unsigned kStrFileFilter = 600, kStrFileDialogTitle = 601;
// The filter when DSD files play too (useRFMode = 1).
inline constexpr unsigned kStrDsdFileFilter = 602;

// Texts of the dialogs built in code.
inline constexpr unsigned kStrSettingsCaption = 700, kStrSettingsDrive = 701, kStrSettingsFolder = 702;
inline constexpr unsigned kStrSettingsBrowse = 703, kStrSettingsAbout = 704, kStrSettingsShowNotice = 705;
inline constexpr unsigned kStrOk = 706, kStrCancel = 707, kStrSettingsGapless = 708;
inline constexpr unsigned kStrSettingsDsdRate = 709, kStrSettingsShowTitles = 750;
inline constexpr unsigned kStrCheckCaption = 710, kStrCheckIntro = 711, kStrCheckDrive = 712;
inline constexpr unsigned kStrCheckStart = 713;
inline constexpr unsigned kStrNoticeCaption = 720, kStrNoticeBody = 721, kStrNoticeDontShow = 722;
inline constexpr unsigned kStrNoticeHelp = 723, kStrNoticeContinue = 724, kStrNoticeQuit = 725;
inline constexpr unsigned kStrAboutCaption = 730, kStrAboutCopyright = 731;
inline constexpr unsigned kStrSelectAll = 740;
inline constexpr unsigned kStrHelpCaption = 760, kStrHelpClose = 761, kStrHelpMissing = 762;

} // namespace resid
