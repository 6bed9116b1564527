#include "CPlayerDialog.h"

#include "CDialCtrl.h"
#include "CLEDDialog.h"
#include "CLongPushButton.h"
#include "ControlNotify.h"
#include "ImageSource.h"
#include "PlayCtrlButton.h"
#include "PlaylistFile.h"
#include "ResourceIds.h"
#include "ResourceModules.h"
#include "Settings.h"
#include "SystemEvents.h"
#include "TransparentBitmapStatic.h"

#include "Platform/DriveTable.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QPainter>
#include <QSocketNotifier>
#include <QToolTip>

#include <cerrno>
#include <numeric>
#include <stdexcept>
#include <utility>

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
const std::array<ControlPlan, 31> kControls = {{
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

constexpr QRect kDisplayRect(276, 91, CLEDDialog::kWidth, CLEDDialog::kHeight);
constexpr DWORD kEjectQuickMs = 300;

} // namespace

CPlayerDialog::CPlayerDialog(PlayerServices& services, PlayerHost* host, PlayerOptions options,
                             QWidget* parent)
    : QWidget(parent), services_(services), host_(host), options_(std::move(options)) {
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    loadMonitor_ = std::make_unique<CProcessLoadMonitor>(services_.Probe());
    if (wake_.Valid()) {
        notifier_ = new QSocketNotifier(wake_.Descriptor(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { DispatchPostedMessages(); });
    }
    qApp->installEventFilter(this);
}

CPlayerDialog::~CPlayerDialog() {
    qApp->removeEventFilter(this);
    // The engine's threads post here: they end before the queue goes.
    engine_.Shutdown();
    if (notifier_ != nullptr)
        notifier_->setEnabled(false);
}

// ---- Posted messages --------------------------------------------------------------------------------------

bool CPlayerDialog::post(UINT msg, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard lock(queueLock_);
        if (queueSize_ == kQueueCapacity)
            return false;
        queue_[(queueHead_ + queueSize_) % kQueueCapacity] = {msg, wParam, lParam};
        ++queueSize_;
    }
    wake_.Signal();
    return true;
}

int CPlayerDialog::DispatchPostedMessages() {
    wake_.Drain();
    int dispatched = 0;
    for (;;) {
        platform::Message m;
        {
            std::lock_guard lock(queueLock_);
            if (queueSize_ == 0)
                break;
            m = queue_[queueHead_];
            queueHead_ = (queueHead_ + 1) % kQueueCapacity;
            --queueSize_;
        }
        WindowProc(m.msg, m.wParam, m.lParam);
        ++dispatched;
    }
    NoteStateChange();
    return dispatched;
}

PlayerState CPlayerDialog::State() const {
    PlayerState state;
    // A play the engine has accepted counts from then on, not from when its output begins: a track change
    // while playing is no pause to those who follow the panel.
    const bool playing = EnginePlaying() || (started_ && engine_.StartIsPending());
    state.transport = playing    ? PlayerState::Transport::Playing
                      : started_ ? PlayerState::Transport::Paused
                                 : PlayerState::Transport::Stopped;
    state.discMode = discMode_;
    state.sourceOpen = engine_.SourceOpen();
    state.track = currentTrack_;
    state.trackCount = state.sourceOpen ? trackCount_ : 0;
    state.volume = dial_ != nullptr ? dial_->GetValue() : 0;
    return state;
}

void CPlayerDialog::NoteStateChange() {
    const PlayerState now = State();
    if (now == announced_)
        return;
    announced_ = now;
    emit StateChanged();
}

void CPlayerDialog::DrainPositions() {
    std::vector<platform::Message> positions;
    {
        std::lock_guard lock(queueLock_);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < queueSize_; ++i) {
            const platform::Message m = queue_[(queueHead_ + i) % kQueueCapacity];
            if (m.msg == WM_PLAYER_POSITION)
                positions.push_back(m);
            else
                queue_[(queueHead_ + kept++) % kQueueCapacity] = m;
        }
        queueSize_ = kept;
    }
    for (const platform::Message& m : positions)
        OnPosition(m.wParam, m.lParam);
}

void CPlayerDialog::RemoveQueued(UINT msg) {
    std::lock_guard lock(queueLock_);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < queueSize_; ++i) {
        const platform::Message m = queue_[(queueHead_ + i) % kQueueCapacity];
        if (m.msg != msg)
            queue_[(queueHead_ + kept++) % kQueueCapacity] = m;
    }
    queueSize_ = kept;
}

void CPlayerDialog::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    const RegisteredMessages& reg = Registered();
    switch (msg) {
    case ui::WM_COMMAND:
        OnCommand(ui::LOWORD(wParam));
        return;
    case WM_PLAYER_END:
        Stop();
        return;
    case WM_PLAYER_POSITION:
        OnPosition(wParam, lParam);
        return;
    case ui::WM_HSCROLL:
        OnDialMoved(wParam);
        return;
    case ui::WM_LONG_PUSH_REPEAT:
        if (wParam == kCmdVolumeDown || wParam == kCmdVolumeUp)
            VolumeStep(wParam == kCmdVolumeUp ? 1 : -1);
        return;
    case WM_RELOAD_PLAYLIST:
        ReloadPlaylist();
        return;
    case WM_QUERYENDSESSION:
        Stop();
        return;
    case WM_POWERBROADCAST:
        OnPowerBroadcast(wParam);
        return;
    case WM_DEVICECHANGE:
        OnDeviceChange(wParam, lParam);
        return;
    case WM_APPCOMMAND:
        OnAppCommand(ui::HIWORD(static_cast<WPARAM>(lParam)) & 0x0FFF);
        return;
    case WM_CLOSE:
        OnClose();
        return;
    default:
        break;
    }
    if (msg == reg.playSelectedTrack)
        OnPlaySelectedTrack(wParam);
    else if (msg == reg.needDriveCheck)
        OnNeedDriveCheck(wParam);
    else if (msg == reg.loadDriverError)
        OnDriverError();
    else if (msg == reg.volumeMuteChange)
        dial_->SetMuting(engine_.GetMute());
    else if (msg == reg.volumeVolChange)
        dial_->SetValue(static_cast<unsigned>(wParam));
}

// ---- Start and close
// ---------------------------------------------------------------------------------------

void CPlayerDialog::SetUpControls() {
    const ui::BitmapLoader loader = ui::DefaultBitmapLoader();
    const int scale = ui::ScaleForPixelRatio(devicePixelRatioF());
    for (const ControlPlan& plan : kControls) {
        QWidget* control = nullptr;
        switch (plan.kind) {
        case Kind::Button:
        case Kind::LongPush: {
            PlayCtrlButton* button = plan.kind == Kind::LongPush ? new CLongPushButton(plan.id, this)
                                                                 : new PlayCtrlButton(plan.id, this);
            button->MakeOwnerDraw();
            const auto& b = plan.bitmaps;
            button->LoadBitmaps(b[0], b[1], b[2], b[3], b[4], b[5]);
            button->setFocusPolicy(Qt::NoFocus);
            control = button;
            break;
        }
        case Kind::Picture: {
            auto* picture = new TransparentBitmapStatic(plan.id, this);
            picture->SetBitmap(loader(static_cast<unsigned>(plan.id), scale));
            control = picture;
            break;
        }
        case Kind::Dial:
            dial_ = new CDialCtrl(plan.id, this);
            control = dial_;
            break;
        }
        control->setGeometry(plan.rect);
        control->setVisible(plan.visible);
        if (plan.tooltip != 0)
            control->setToolTip(ResourceString(plan.tooltip));
        controls_[plan.id] = control;
    }
    for (int id : kUnusedPictures) {
        auto* picture = new TransparentBitmapStatic(id, this);
        picture->hide();
        controls_[id] = picture;
    }
    // The tooltips' colours: dark grey with light text, readable over the panel.
    QPalette tips = QToolTip::palette();
    tips.setColor(QPalette::ToolTipBase, QColor(0x47, 0x47, 0x45));
    tips.setColor(QPalette::ToolTipText, QColor(0xED, 0xEC, 0xED));
    QToolTip::setPalette(tips);
}

void CPlayerDialog::OnInitDialog() {
    setWindowIcon(ResourceIcon(kIconProgram));
    queryCancelAutoPlay_ = platform::RegisterMessageName("QueryCancelAutoPlay");
    SetUpControls();

    if (options_.driverName)
        engine_.SetDriverNameOverride(*options_.driverName);
    engine_.Initialize(this, Registered().loadDriverError);
    trackCount_ = 0;
    currentTrack_ = 1;

    DWORD drive = 0;
    if (ReadDrive(&drive)) {
        drive_ = drive;
    } else {
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            if (platform::GetDriveType(letter) == platform::DRIVE_CDROM) {
                drive_ = static_cast<unsigned char>(letter);
                WriteDrive(drive_);
                break;
            }
        }
    }

    trackList_.clear();
    ReadPlaylist(&trackList_);
    lengths_.fill(0);
    started_ = false;
    services_.SetExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);

    display_ = new CLEDDialog();
    display_->CreatePanel(this);
    display_->setGeometry(kDisplayRect);
    display_->show();
    display_->SetPlayIndicator(0);

    if (IsFileMode(ReadMode())) {
        EnterFileMode();
        // The list as the engine took it; a list that could not be opened at all stays in PlayList.txt
        // (its files may be on a disk that is not there yet) instead of being emptied.
        if (engine_.SourceOpen()) {
            engine_.GetFileList(&trackList_);
            WritePlaylist(trackList_);
        }
    } else {
        EnterDiscMode();
    }

    panelVisible_ = true;
    setWindowTitle(TheResources().ApplicationTitle());
    panelFade_ = 0;
    ApplyPanelFade();
    StartTimer(kTimerFadeIn, 10);
    StartTimer(kTimerLoad, 5000);
    thresholds_ = ReadLoadThresholds(kPlaybackOverloadValue, 2);

    activateWindow();

    DWORD repeat = 0;
    ReadRepeat(&repeat);
    repeat = RepeatModeFromSetting(repeat);
    engine_.SetRepeatMode(static_cast<std::int32_t>(repeat));
    display_->SetRepeatIndicator(static_cast<int>(repeat));

    float level = 0.0f;
    engine_.GetLevel(&level);
    dial_->SetMaximum(100);
    dial_->SetValue(static_cast<unsigned>(level * 100.0f));
    dial_->SetMuting(engine_.GetMute());
}

void CPlayerDialog::OnClose() {
    if (closed_)
        return;
    closed_ = true;
    Stop();
    engine_.CloseFiles();
    engine_.CloseDrive();
    services_.SetExecutionState(ES_CONTINUOUS);
    if (screenSaverFlag_)
        services_.SetScreenSaverActive(true);
}

// ---- Commands
// ----------------------------------------------------------------------------------------------

void CPlayerDialog::OnCommand(unsigned id) {
    switch (id) {
    case kCmdPlay:
    case kCmdPause:
        PlayPause();
        break;
    case kCmdStop:
        Stop();
        break;
    case kCmdPrevious:
        Previous();
        break;
    case kCmdNext:
        Next();
        break;
    case kCmdRepeat:
        Repeat();
        break;
    case kCmdFadeOut:
        FadePanelOut();
        break;
    case kCmdSettings:
        Settings();
        break;
    case kCmdToFileMode:
    case kCmdToDiscMode:
        SwitchMode();
        break;
    case kCmdEject:
    case kCmdOpenFiles:
        EjectOrOpen();
        break;
    case kCmdClose:
        CloseCommand();
        break;
    case kCmdMinimise:
        if (host_ != nullptr)
            host_->Minimise();
        break;
    case kCmdHelp:
        services_.ShowHelp();
        break;
    case kCmdVolumeDown:
        VolumeStep(-1);
        break;
    case kCmdVolumeUp:
        VolumeStep(1);
        break;
    case kCmdAboutDialog:
        services_.RunAbout(this);
        break;
    default:
        break;
    }
}

void CPlayerDialog::PausePlaying() {
    if (!EnginePlaying())
        return;
    engine_.Pause();
    DrainPositions();
    display_->SetPlayIndicator(1);
    ShowButton(kCmdPlay, true);
    ShowButton(kCmdPause, false);
    update();
    if (screenSaverFlag_)
        services_.SetScreenSaverActive(true);
}

void CPlayerDialog::PlayPause() {
    if (EnginePlaying()) {
        PausePlaying();
        return;
    }
    if (!started_) {
        if (!engine_.SourceOpen())
            return;
        if (lastLoad_ > thresholds_.load) {
            services_.MessageBox(this, resid::kStrOverloadRefused, resid::kStrWarningCaption,
                                 MB_ICONEXCLAMATION);
            return;
        }
        display_->ShowBanner(0);
        try {
            engine_.SelectTrack(currentTrack_, 0);
        } catch (const std::invalid_argument&) {
            return;
        }
        started_ = true;
    }
    display_->ShowTrack(currentTrack_);
    if (engine_.Play() != 1) {
        // The output could not be opened: the engine reports why by its driver error message; the panel
        // shows what is true, paused, instead of a play that never starts.
        display_->SetPlayIndicator(1);
        return;
    }
    display_->SetPlayIndicator(2);
    ShowButton(kCmdPause, true);
    ShowButton(kCmdPlay, false);
    update();
    screenSaverFlag_ = services_.ScreenSaverActive();
    if (screenSaverFlag_)
        services_.SetScreenSaverActive(false);
    StartTimer(kTimerBattery, 10000);
}

void CPlayerDialog::Stop() {
    if (!engine_.SourceOpen())
        return;
    PausePlaying();
    display_->SetPlayIndicator(3);
    currentTrack_ = 1;
    ShowStoppedDisplay();
    update();
    started_ = false;
}

void CPlayerDialog::ShowStoppedDisplay() {
    display_->ShowTrack(trackCount_);
    const std::uint64_t total =
        std::accumulate(lengths_.begin(), lengths_.begin() + std::min<unsigned>(trackCount_, kMaxTrackTable),
                        std::uint64_t{0});
    display_->SetTime(static_cast<unsigned>(std::min<std::uint64_t>(total, 0xFFFFFFFFu)));
}

std::uint32_t CPlayerDialog::TrackLength(unsigned track) const {
    return track >= 1 && track <= kMaxTrackTable ? lengths_[track - 1] : 0;
}

void CPlayerDialog::Previous() {
    if (trackCount_ == 0)
        return;
    const bool wasPlaying = EnginePlaying();
    PausePlaying();
    if (display_->LastTime() < 3000 || !started_)
        currentTrack_ = currentTrack_ > 1 ? currentTrack_ - 1 : trackCount_;
    try {
        engine_.SelectTrack(currentTrack_, 0);
    } catch (const std::invalid_argument&) {
        return;
    }
    if (wasPlaying) {
        display_->ShowBanner(0);
        PlayPause();
    } else {
        display_->ShowTrack(currentTrack_);
        display_->SetTime(started_ ? 0 : TrackLength(currentTrack_));
    }
}

void CPlayerDialog::Next() {
    if (trackCount_ == 0)
        return;
    const bool wasPlaying = EnginePlaying();
    PausePlaying();
    currentTrack_ = currentTrack_ < trackCount_ ? currentTrack_ + 1 : 1;
    try {
        engine_.SelectTrack(currentTrack_, 0);
    } catch (const std::invalid_argument&) {
        return;
    }
    display_->SetTime(0);
    display_->ShowTrack(currentTrack_);
    if (wasPlaying) {
        display_->ShowBanner(0);
        PlayPause();
    } else {
        display_->ShowTrack(currentTrack_);
        display_->SetTime(started_ ? 0 : TrackLength(currentTrack_));
    }
}

void CPlayerDialog::DigitEntry(unsigned digit) {
    if (trackCount_ == 0)
        return;
    StartTimer(kTimerEntry, 2000);
    display_->SetEntryMode(true);
    entry_ = entry_ * 10 + digit;
    if (entry_ >= 1000)
        entry_ %= 1000;
    display_->ShowEnteredTrack(entry_);
}

void CPlayerDialog::CancelEntry() {
    KillTimer(kTimerEntry);
    entry_ = 0;
    if (!display_->EntryMode())
        return;
    display_->SetEntryMode(false);
    if (!started_) {
        Stop();
    } else if (EnginePlaying()) {
        return;
    } else if (display_->TrackNumber() != currentTrack_) {
        display_->ShowTrack(currentTrack_);
        display_->SetTime(engine_.LastReportedMs());
    }
}

void CPlayerDialog::OnPlaySelectedTrack(WPARAM track) {
    CancelEntry();
    if (!engine_.SourceOpen() || track < 1 || track > engine_.GetTrackCount())
        return;
    PausePlaying();
    display_->ShowBanner(0);
    try {
        if (engine_.SelectTrack(static_cast<std::uint32_t>(track), 0) == 1)
            currentTrack_ = static_cast<unsigned>(track);
    } catch (const std::invalid_argument&) {
        return;
    }
    started_ = true;
    display_->SetTime(0);
    display_->ShowTrack(currentTrack_);
    PlayPause();
}

void CPlayerDialog::Repeat() {
    const std::int32_t mode = engine_.RepeatMode();
    const std::int32_t next = mode == 0 ? 2 : mode == 2 ? 1 : 0;
    engine_.SetRepeatMode(next);
    display_->SetRepeatIndicator(next);
    WriteRepeat(static_cast<DWORD>(next));
}

void CPlayerDialog::VolumeStep(int delta) {
    const int value = std::clamp(static_cast<int>(dial_->GetValue()) + delta, 0, 100);
    dial_->SetValue(static_cast<unsigned>(value));
    engine_.SetLevel(static_cast<float>(value) * 0.01f);
}

void CPlayerDialog::OnDialMoved(WPARAM wParam) {
    engine_.SetLevel(static_cast<float>(ui::HIWORD(wParam)) * 0.01f);
    if (dial_->IsMuting() != engine_.GetMute())
        engine_.SetMute(dial_->IsMuting());
}

void CPlayerDialog::ToggleMute() {
    const bool mute = !engine_.GetMute();
    engine_.SetMute(mute);
    dial_->SetMuting(mute);
}

void CPlayerDialog::FadePanelOut() {
    panelFade_ = 255;
    ApplyPanelFade();
    StartTimer(kTimerFadeOut, 10);
}

void CPlayerDialog::Settings() {
    PausePlaying();
    if (!services_.RunSettings(this))
        return;
    SetWaitCursor(true);
    DWORD drive = 0;
    ReadDrive(&drive);
    if (drive != drive_) {
        if (discMode_) {
            Stop();
            engine_.CloseDrive();
        }
        drive_ = drive;
        if (discMode_)
            EnterDiscMode();
    }
    SetWaitCursor(false);
}

void CPlayerDialog::SwitchMode() {
    Stop();
    if (discMode_) {
        engine_.CloseDrive();
        EnterFileMode();
        WriteMode(1);
    } else {
        engine_.CloseFiles();
        EnterDiscMode();
        WriteMode(0);
    }
}

void CPlayerDialog::EjectOrOpen() {
    if (discMode_) {
        Stop();
        engine_.CloseDrive();
        const auto letter = static_cast<unsigned char>(drive_);
        // Where the drive tells whether its tray is open, that decides; otherwise an eject that returns at
        // once found the tray open already, and the tray is closed instead.
        switch (services_.GetTrayState(letter)) {
        case TrayState::Open:
            engine_.LoadDisc(letter);
            break;
        case TrayState::Closed:
            engine_.EjectDisc(letter);
            break;
        case TrayState::Unknown: {
            const DWORD before = services_.TickCount();
            engine_.EjectDisc(letter);
            if (services_.TickCount() - before < kEjectQuickMs)
                engine_.LoadDisc(letter);
            break;
        }
        }
        return;
    }
    PausePlaying();
    std::vector<std::string> paths;
    if (!services_.RunFileSelect(this, engine_.RFMode(), &paths))
        return;
    Stop();
    trackList_.clear();
    trackList_.insert(trackList_.end(), paths.begin(), paths.end());
    LoadTrackList(&trackList_, *this, engine_.RFMode());
}

void CPlayerDialog::CloseCommand() {
    if (EnginePlaying())
        engine_.Pause();
    if (host_ != nullptr)
        host_->StartFadeOut();
}

// ---- Modes
// -------------------------------------------------------------------------------------------------

void CPlayerDialog::ShowButton(int id, bool show) {
    if (const auto it = controls_.find(id); it != controls_.end())
        it->second->setVisible(show);
}

void CPlayerDialog::LoadTrackLengths() {
    trackCount_ = engine_.GetTrackCount();
    for (unsigned n = 1; n <= std::min<unsigned>(trackCount_, kMaxTrackTable); ++n) {
        std::uint32_t ms = 0;
        if (engine_.GetTrackLength(n, &ms))
            lengths_[n - 1] = ms;
    }
    currentTrack_ = 1;
    ShowStoppedDisplay();
}

void CPlayerDialog::EnterDiscMode() {
    discMode_ = true;
    display_->ShowBanner(0);
    display_->SetSourceIndicator(1);
    for (int id : {1053, 1052, 1048})
        ShowButton(id, true);
    for (int id : {5034, 5019, 5069})
        ShowButton(id, false);
    update();
    const auto letter = static_cast<unsigned char>(drive_);
    if (letter == 0 || engine_.OpenDrive(letter) != 1) {
        trackCount_ = 0;
        display_->ShowBanner(2);
        return;
    }
    {
        CDiscPilot pilot;
        if (pilot.SetDrive(letter) && !pilot.IsDriveChecked() && letter >= 'A')
            post(Registered().needDriveCheck, static_cast<WPARAM>(letter - 'A'), 0);
    }
    LoadTrackLengths();
    WriteMode(0);
}

void CPlayerDialog::EnterFileMode() {
    discMode_ = false;
    for (int id : {5034, 5019, 5069})
        ShowButton(id, true);
    for (int id : {1053, 1052, 1048})
        ShowButton(id, false);
    update();
    display_->SetSourceIndicator(2);
    display_->ShowBanner(0);
    if (engine_.OpenFiles(trackList_) != 1) {
        // No source: commands must see an empty one, not the count of what was open before.
        trackCount_ = 0;
        display_->ShowBanner(3);
        update();
        return;
    }
    WritePlaylist(trackList_);
    WriteMode(1);
    LoadTrackLengths();
    update();
}

TrackList CPlayerDialog::EnterFileMode(const TrackList& list) {
    trackList_ = list;
    EnterFileMode();
    TrackList accepted;
    if (engine_.SourceOpen() && !engine_.IsCD())
        engine_.GetFileList(&accepted);
    return accepted;
}

void CPlayerDialog::ReloadPlaylist() {
    Stop();
    trackList_.clear();
    ReadPlaylist(&trackList_);
    LoadTrackList(&trackList_, *this, engine_.RFMode());
}

void CPlayerDialog::ShowMessage(UINT stringId) {
    services_.MessageBox(this, stringId, kStringAppTitle, MB_ICONEXCLAMATION);
}

void CPlayerDialog::SetWaitCursor(bool waiting) {
    if (waiting)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void CPlayerDialog::Repaint() {
    update();
}

// ---- Engine, registered and system messages ---------------------------------------------------------------

void CPlayerDialog::OnPosition(WPARAM ms, LPARAM track) {
    display_->SetPlayIndicator(2);
    display_->SetTime(static_cast<unsigned>(ms));
    const auto number = static_cast<unsigned>(track);
    if (number != currentTrack_)
        currentTrack_ = number;
    if (number != display_->TrackNumber())
        display_->ShowTrack(number);
}

void CPlayerDialog::OnDriverError() {
    services_.MessageBox(this, resid::kStrDriverMissing, kStringAppTitle, MB_ICONHAND);
    if (engine_.RFMode())
        return;
    Stop();
    engine_.CloseFiles();
    engine_.CloseDrive();
    services_.SetExecutionState(ES_CONTINUOUS);
    closed_ = true;
    if (host_ != nullptr)
        host_->EndNow();
}

void CPlayerDialog::OnPowerBroadcast(WPARAM event) {
    if (event == PBT_APMSUSPEND || event == PBT_APMSTANDBY) {
        Stop();
    } else if ((event == PBT_APMRESUMESUSPEND || event == PBT_APMRESUMESTANDBY) && discMode_) {
        engine_.OpenDrive(static_cast<unsigned char>(drive_));
    }
}

void CPlayerDialog::OnDeviceChange(WPARAM event, LPARAM change) {
    if (!discMode_)
        return;
    const char letter = MediaChangeLetter(event, DecodeDeviceChange(change));
    // The stored letter may be lower case (as a command line gave it); drives are the same either way.
    const auto upper = static_cast<unsigned>(std::toupper(static_cast<unsigned char>(drive_)));
    if (letter == 0 || static_cast<unsigned>(letter) != upper)
        return;
    Stop();
    engine_.CloseDrive();
    EnterDiscMode();
}

void CPlayerDialog::OnNeedDriveCheck(WPARAM index) {
    if (driveCheckOpen_)
        return;
    driveCheckOpen_ = true;
    services_.RunDriveCheck(this, 'A' + static_cast<unsigned>(index), queryCancelAutoPlay_);
    // Requests made while the check was open are dropped, whether or not the check's own loop got to them.
    RemoveQueued(Registered().needDriveCheck);
    update();
    driveCheckOpen_ = false;
}

// ---- Keys, mouse and media keys
// ----------------------------------------------------------------------------

bool CPlayerDialog::HandleKey(int key, Qt::KeyboardModifiers modifiers) {
    const RegisteredMessages& reg = Registered();
    switch (key) {
    case Qt::Key_Space:
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        post(reg.playSelectedTrack, entry_, 0);
        return true;
    case Qt::Key_Escape:
        CancelEntry();
        if (started_)
            display_->ShowTrack(currentTrack_);
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (modifiers & Qt::ControlModifier)
            post(ui::WM_COMMAND, key == Qt::Key_Left ? kCmdPrevious : kCmdNext, 0);
        CancelEntry();
        return true;
    case Qt::Key_F6:
    case Qt::Key_F7:
    case Qt::Key_F9:
    case Qt::Key_F10: {
        const unsigned command = key == Qt::Key_F6   ? kCmdPlay
                                 : key == Qt::Key_F7 ? kCmdStop
                                 : key == Qt::Key_F9 ? kCmdVolumeDown
                                                     : kCmdVolumeUp;
        post(ui::WM_COMMAND, command, 0);
        CancelEntry();
        return true;
    }
    case Qt::Key_F8:
        ToggleMute();
        CancelEntry();
        return true;
    default:
        break;
    }
    // Media keys are the system's media commands, as the keyboard's driver would send them.
    static constexpr std::pair<int, unsigned> kMediaKeys[] = {
        {Qt::Key_MediaNext, APPCOMMAND_MEDIA_NEXTTRACK},
        {Qt::Key_MediaPrevious, APPCOMMAND_MEDIA_PREVIOUSTRACK},
        {Qt::Key_MediaStop, APPCOMMAND_MEDIA_STOP},
        {Qt::Key_MediaTogglePlayPause, APPCOMMAND_MEDIA_PLAY_PAUSE},
        {Qt::Key_MediaPlay, APPCOMMAND_MEDIA_PLAY},
        {Qt::Key_MediaPause, APPCOMMAND_MEDIA_PAUSE},
    };
    for (const auto& [mediaKey, command] : kMediaKeys) {
        if (key == mediaKey) {
            OnAppCommand(command);
            return true;
        }
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        DigitEntry(static_cast<unsigned>(key - Qt::Key_0));
        return true;
    }
    CancelEntry();
    if (started_)
        display_->ShowTrack(currentTrack_);
    FadePanelInIfHidden();
    return false;
}

void CPlayerDialog::OnAppCommand(unsigned command) {
    const RegisteredMessages& reg = Registered();
    const bool running = EnginePlaying();
    switch (command) {
    case APPCOMMAND_MEDIA_NEXTTRACK:
        post(ui::WM_COMMAND, kCmdNext, 0);
        break;
    case APPCOMMAND_MEDIA_PREVIOUSTRACK:
        post(ui::WM_COMMAND, kCmdPrevious, 0);
        break;
    case APPCOMMAND_MEDIA_STOP:
        post(ui::WM_COMMAND, kCmdStop, 0);
        break;
    case APPCOMMAND_MEDIA_PLAY_PAUSE:
        if (running)
            post(ui::WM_COMMAND, kCmdPause, 0);
        else if (!started_ && entry_ != 0)
            post(reg.playSelectedTrack, entry_, 0);
        else
            post(ui::WM_COMMAND, kCmdPlay, 0);
        break;
    case APPCOMMAND_MEDIA_PLAY:
        if (running)
            break;
        if (entry_ != 0)
            post(reg.playSelectedTrack, entry_, 0);
        else
            post(ui::WM_COMMAND, kCmdPlay, 0);
        break;
    case APPCOMMAND_MEDIA_PAUSE:
        if (running)
            post(ui::WM_COMMAND, kCmdPause, 0);
        else if (started_)
            post(ui::WM_COMMAND, kCmdPlay, 0);
        break;
    default:
        CancelEntry();
        if (started_)
            display_->ShowTrack(currentTrack_);
        FadePanelInIfHidden();
        return;
    }
    CancelEntry();
}

bool CPlayerDialog::eventFilter(QObject* watched, QEvent* event) {
    // Every key pressed anywhere in the main window comes here first, as the panel's message filter sees
    // it before the control that has the focus. A handled key goes no further; an unhandled one may come
    // by again on its way up to the parents, and what is done for it is the same done twice.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == window()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool handled = HandleKey(key->key(), key->modifiers());
        NoteStateChange();
        if (handled)
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CPlayerDialog::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        CancelEntry();
    QWidget::mousePressEvent(event);
}

void CPlayerDialog::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta > 0)
        post(ui::WM_COMMAND, kCmdVolumeUp, 0);
    else if (delta < 0)
        post(ui::WM_COMMAND, kCmdVolumeDown, 0);
    event->accept();
}

void CPlayerDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int scale = ui::ScaleForPixelRatio(devicePixelRatioF());
    if (face_.isNull() || faceScale_ != scale) {
        face_ = ui::DefaultBitmapLoader()(resid::kPanelFace, scale);
        faceScale_ = scale;
    }
    if (face_.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(rect(), face_);
}

// ---- Timers and fades
// --------------------------------------------------------------------------------------

void CPlayerDialog::StartTimer(int id, int periodMs) {
    timers_[id].start(periodMs, this);
}

void CPlayerDialog::KillTimer(int id) {
    if (const auto it = timers_.find(id); it != timers_.end())
        it->second.stop();
}

bool CPlayerDialog::TimerActive(int id) const {
    const auto it = timers_.find(id);
    return it != timers_.end() && it->second.isActive();
}

void CPlayerDialog::timerEvent(QTimerEvent* event) {
    for (const auto& [id, timer] : timers_) {
        if (timer.timerId() == event->timerId()) {
            OnTimer(id);
            return;
        }
    }
    QWidget::timerEvent(event);
}

void CPlayerDialog::OnTimer(int id) {
    OnTimerTick(id);
    // The battery and load checks may stop or pause playback.
    NoteStateChange();
}

void CPlayerDialog::OnTimerTick(int id) {
    switch (id) {
    case kTimerFadeIn:
        panelFade_ += 20;
        if (panelFade_ >= 255) {
            panelFade_ = 255;
            KillTimer(kTimerFadeIn);
            panelVisible_ = true;
        }
        ApplyPanelFade();
        if (panelVisible_ && cursorHidden_) {
            unsetCursor();
            cursorHidden_ = false;
        }
        activateWindow();
        break;
    case kTimerFadeOut:
        panelFade_ -= 20;
        if (panelFade_ <= 0) {
            panelFade_ = 0;
            KillTimer(kTimerFadeOut);
            panelVisible_ = false;
        }
        ApplyPanelFade();
        if (!panelVisible_ && !cursorHidden_) {
            setCursor(Qt::BlankCursor);
            cursorHidden_ = true;
        }
        break;
    case kTimerBattery:
        BatteryCheck();
        break;
    case kTimerLoad:
        LoadCheck();
        break;
    case kTimerEntry:
        // Posted once: the selection handler ends the entry.
        KillTimer(kTimerEntry);
        post(Registered().playSelectedTrack, entry_, 0);
        break;
    default:
        break;
    }
}

void CPlayerDialog::ApplyPanelFade() {
    if (panelFade_ >= 255) {
        // Fully shown: no effect, so painting costs nothing extra.
        if (graphicsEffect() != nullptr)
            setGraphicsEffect(nullptr);
        return;
    }
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(graphicsEffect());
    if (effect == nullptr) {
        effect = new QGraphicsOpacityEffect(this);
        setGraphicsEffect(effect);
    }
    effect->setOpacity(panelFade_ / 255.0);
}

void CPlayerDialog::FadePanelInIfHidden() {
    if (panelVisible_)
        return;
    panelFade_ = 0;
    ApplyPanelFade();
    KillTimer(kTimerFadeOut);
    StartTimer(kTimerFadeIn, 10);
}

void CPlayerDialog::LoadCheck() {
    lastLoad_ = loadMonitor_->Sample();
    if (!LoadCallsForPause(lastLoad_, loadMonitor_->RepeatCount(), thresholds_))
        return;
    const bool wasPlaying = EnginePlaying();
    PausePlaying();
    if (wasPlaying)
        services_.MessageBox(this, resid::kStrOverloadPaused, resid::kStrWarningCaption, MB_ICONEXCLAMATION);
}

void CPlayerDialog::BatteryCheck() {
    switch (CheckBattery(services_.Probe(), EnginePlaying())) {
    case BatteryTimerStep::Stop:
        Stop();
        KillTimer(kTimerBattery);
        break;
    case BatteryTimerStep::EndTimer:
        KillTimer(kTimerBattery);
        break;
    case BatteryTimerStep::KeepTimer:
        break;
    }
}

} // namespace app
