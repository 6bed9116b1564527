#include "CPlayerDialog.h"

#include "PlayerControls.h"
#include "shell/PlaylistFile.h"
#include "shell/ResourceIds.h"
#include "shell/ResourceModules.h"
#include "shell/Settings.h"
#include "shell/SystemEvents.h"
#include "ui/CDialCtrl.h"
#include "ui/CLEDDialog.h"
#include "ui/ControlNotify.h"
#include "ui/ImageSource.h"

#include "Platform/DriveTable.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QSocketNotifier>
#include <QUrl>

#include <cerrno>
#include <numeric>
#include <stdexcept>
#include <utility>

namespace app {

namespace {

constexpr QRect kDisplayRect(276, 91, CLEDDialog::kWidth, CLEDDialog::kHeight);
constexpr DWORD kEjectQuickMs = 300;

} // namespace

CPlayerDialog::CPlayerDialog(PlayerServices& services, PlayerHost* host, PlayerOptions options,
                             QWidget* parent)
    : QWidget(parent), services_(services), host_(host), options_(std::move(options)) {
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    // Files and folders dropped on the panel become the play list.
    setAcceptDrops(true);
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
    if (!queue_.post(msg, wParam, lParam))
        return false;
    wake_.Signal();
    return true;
}

int CPlayerDialog::DispatchPostedMessages() {
    wake_.Drain();
    int dispatched = 0;
    while (const std::optional<platform::Message> m = queue_.TryGet()) {
        WindowProc(m->msg, m->wParam, m->lParam);
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
    state.canSeek = CanSeek();
    state.trayOpen = TrayOpen();
    return state;
}

void CPlayerDialog::NoteStateChange() {
    const PlayerState now = State();
    if (now == announced_) {
        // A list opened in place of another of the same shape changes no part of the state.
        RefreshNowPlaying();
        return;
    }
    announced_ = now;
    RefreshNowPlaying();
    emit StateChanged();
}

void CPlayerDialog::DrainPositions() {
    for (const platform::Message& m : queue_.Take(WM_PLAYER_POSITION))
        OnPosition(m.wParam, m.lParam);
}

void CPlayerDialog::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    const RegisteredMessages& reg = Registered();
    switch (msg) {
    case WM_COMMAND:
        OnCommand(ui::LOWORD(wParam));
        return;
    case WM_PLAYER_END:
        Stop();
        return;
    case WM_PLAYER_POSITION:
        OnPosition(wParam, lParam);
        return;
    case WM_HSCROLL:
        OnDialMoved(wParam);
        return;
    case WM_LONG_PUSH_REPEAT:
        if (wParam == kCmdVolumeDown || wParam == kCmdVolumeUp)
            VolumeStep(wParam == kCmdVolumeUp ? 1 : -1);
        return;
    case WM_SEEK_BY:
        SeekBy(static_cast<std::int64_t>(lParam));
        return;
    case WM_SEEK_TO:
        if (static_cast<unsigned>(lParam) == currentTrack_)
            SeekTo(static_cast<std::uint32_t>(std::min<WPARAM>(wParam, 0xFFFFFFFFu)));
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

void CPlayerDialog::OnInitDialog() {
    setWindowIcon(ResourceIcon(kIconProgram));
    queryCancelAutoPlay_ = platform::RegisterMessageName(kQueryCancelAutoPlayName);
    PanelControls controls = CreatePanelControls(*this);
    controls_ = std::move(controls.byId);
    dial_ = controls.dial;

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
        // The panel plays the list as the engine took it; PlayList.txt keeps every entry, also those whose
        // files are not there now (a disk not mounted yet): only the listener's own changes rewrite it.
        if (engine_.SourceOpen())
            engine_.GetFileList(&trackList_);
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

    showRemaining_ = ReadShowRemainingTime();
    showTitles_ = ReadShowTitles();
    // The list's button is new on the panel too: with the titles off the panel is the one it always was
    // (the list is still at L).
    ShowButton(kCmdList, showTitles_);

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
    case kCmdList:
        ToggleListCard();
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
    // The pause took a seek not yet heard as the place to go on from; one asked after it moves there now.
    seekTarget_.reset();
    if (const std::optional<std::uint32_t> pending = std::exchange(seekPending_, std::nullopt))
        IssueSeek(*pending);
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
        // With the tray open, play closes it and plays the disc, as a disc player's play button does.
        if (!engine_.SourceOpen() && !(TrayOpen() && CloseTrayAndReload()))
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
    DropSeeks();
    PausePlaying();
    // A play that ended by itself (the end of the list) never went through the pause above, which lets
    // the screen saver go; without this it stayed held off until the program ended.
    if (screenSaverFlag_)
        services_.SetScreenSaverActive(true);
    display_->SetPlayIndicator(3);
    currentTrack_ = 1;
    ShowStoppedDisplay();
    update();
    started_ = false;
    reportedTrack_ = 0;
}

void CPlayerDialog::ShowStoppedDisplay() {
    display_->ShowTrack(trackCount_);
    const std::uint64_t total =
        std::accumulate(lengths_.begin(), lengths_.begin() + std::min<unsigned>(trackCount_, kMaxTrackTable),
                        std::uint64_t{0});
    shownElapsed_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, 0xFFFFFFFFu));
    display_->SetTime(shownElapsed_);
}

void CPlayerDialog::ShowTrackTime(unsigned track, std::uint32_t elapsedMs) {
    shownElapsed_ = elapsedMs;
    const std::uint32_t length = TrackLength(track);
    if (showRemaining_ && started_ && length > 0)
        display_->ShowRemainingTime(length > elapsedMs ? length - elapsedMs : 0);
    else
        display_->SetTime(elapsedMs);
}

void CPlayerDialog::ToggleRemainingTime() {
    showRemaining_ = !showRemaining_;
    WriteShowRemainingTime(showRemaining_);
    // A stopped display (the list's count and total) and a typed number stay as they are.
    if (started_ && !display_->EntryMode())
        ShowTrackTime(currentTrack_, shownElapsed_);
}

std::uint32_t CPlayerDialog::TrackLength(unsigned track) const {
    return track >= 1 && track <= kMaxTrackTable ? lengths_[track - 1] : 0;
}

void CPlayerDialog::Previous() {
    if (trackCount_ == 0)
        return;
    const bool wasPlaying = EnginePlaying();
    DropSeeks();
    PausePlaying();
    if (shownElapsed_ < 3000 || !started_)
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
        ShowTrackTime(currentTrack_, started_ ? 0 : TrackLength(currentTrack_));
    }
}

void CPlayerDialog::Next() {
    if (trackCount_ == 0)
        return;
    const bool wasPlaying = EnginePlaying();
    DropSeeks();
    PausePlaying();
    currentTrack_ = currentTrack_ < trackCount_ ? currentTrack_ + 1 : 1;
    try {
        engine_.SelectTrack(currentTrack_, 0);
    } catch (const std::invalid_argument&) {
        return;
    }
    ShowTrackTime(currentTrack_, 0);
    display_->ShowTrack(currentTrack_);
    if (wasPlaying) {
        display_->ShowBanner(0);
        PlayPause();
    } else {
        display_->ShowTrack(currentTrack_);
        ShowTrackTime(currentTrack_, started_ ? 0 : TrackLength(currentTrack_));
    }
}

std::uint32_t CPlayerDialog::PositionMs() const {
    if (!started_)
        return 0;
    if (seekPending_)
        return *seekPending_;
    if (seekTarget_)
        return *seekTarget_;
    return engine_.PositionMs();
}

bool CPlayerDialog::CanSeek() const {
    return started_ && engine_.SourceOpen() && TrackLength(currentTrack_) > 0;
}

void CPlayerDialog::SeekBy(std::int64_t deltaMs) {
    if (!CanSeek())
        return;
    std::uint32_t length = 0;
    if (!engine_.GetTrackLength(currentTrack_, &length))
        return;
    const std::int64_t to = std::max<std::int64_t>(static_cast<std::int64_t>(PositionMs()) + deltaMs, 0);
    if (to >= length) {
        Next();
        return;
    }
    SeekTo(static_cast<std::uint32_t>(to));
}

bool CPlayerDialog::SeekTo(std::uint32_t ms) {
    std::uint32_t length = 0;
    if (!CanSeek() || !engine_.GetTrackLength(currentTrack_, &length) || ms >= length)
        return false;
    if (seekTarget_) {
        // The engine takes one seek at a time: this one waits until it has reached the last.
        seekPending_ = ms;
        ShowTrackTime(currentTrack_, ms);
        emit Seeked(ms);
        return true;
    }
    return IssueSeek(ms);
}

void CPlayerDialog::DropSeeks() {
    seekTarget_.reset();
    seekPending_.reset();
}

bool CPlayerDialog::IssueSeek(std::uint32_t ms) {
    const bool playing = EnginePlaying();
    if (engine_.Seek(ms) != 1)
        return false;
    if (playing) {
        seekTarget_ = ms;
        seekTrack_ = currentTrack_;
    } else {
        pausedSeek_ = ms;
    }
    ShowTrackTime(currentTrack_, ms);
    emit Seeked(ms);
    return true;
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
        ShowTrackTime(currentTrack_, engine_.LastReportedMs());
    }
}

void CPlayerDialog::OnPlaySelectedTrack(WPARAM track) {
    CancelEntry();
    if (!engine_.SourceOpen() || track < 1 || track > engine_.GetTrackCount())
        return;
    DropSeeks();
    PausePlaying();
    display_->ShowBanner(0);
    try {
        if (engine_.SelectTrack(static_cast<std::uint32_t>(track), 0) == 1)
            currentTrack_ = static_cast<unsigned>(track);
    } catch (const std::invalid_argument&) {
        return;
    }
    started_ = true;
    ShowTrackTime(currentTrack_, 0);
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

bool CPlayerDialog::DriveTrayOpen() {
    switch (services_.GetTrayState(static_cast<unsigned char>(drive_))) {
    case TrayState::Open:
        return true;
    case TrayState::Closed:
        return false;
    case TrayState::Unknown:
        break;
    }
    return trayOpen_;
}

void CPlayerDialog::ShowTrayOpen() {
    trayOpen_ = true;
    started_ = false;
    trackCount_ = 0;
    currentTrack_ = 1;
    display_->ShowBanner(1);
    update();
}

bool CPlayerDialog::CloseTrayAndReload() {
    const auto letter = static_cast<unsigned char>(drive_);
    engine_.CloseDrive();
    engine_.LoadDisc(letter);
    trayOpen_ = false;
    EnterDiscMode();
    return engine_.SourceOpen();
}

void CPlayerDialog::Settings() {
    PausePlaying();
    if (!services_.RunSettings(this))
        return;
    showTitles_ = ReadShowTitles();
    ShowButton(kCmdList, showTitles_);
    RefreshNowPlaying();
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
        bool closing = false;
        switch (services_.GetTrayState(letter)) {
        case TrayState::Open:
            closing = true;
            break;
        case TrayState::Closed:
            engine_.EjectDisc(letter);
            break;
        case TrayState::Unknown: {
            const DWORD before = services_.TickCount();
            engine_.EjectDisc(letter);
            closing = services_.TickCount() - before < kEjectQuickMs;
            break;
        }
        }
        // The drive reports no media change of its own for a tray it was told to move (a disc image
        // never does): the panel shows the open tray, or reads the disc that the closed tray holds.
        if (closing)
            CloseTrayAndReload();
        else
            ShowTrayOpen();
        return;
    }
    PausePlaying();
    std::vector<std::string> paths;
    if (!services_.RunFileSelect(this, engine_.RFMode(), &paths))
        return;
    Stop();
    trackList_ = LoadTrackList(TrackList(paths.begin(), paths.end()), *this, engine_.RFMode());
}

void CPlayerDialog::CloseCommand() {
    if (EnginePlaying())
        engine_.Pause();
    if (host_ != nullptr)
        host_->StartFadeOut();
}

// ---- Engine, registered and system messages ---------------------------------------------------------------

void CPlayerDialog::OnPosition(WPARAM ms, LPARAM track) {
    const auto number = static_cast<unsigned>(track);
    const auto at = static_cast<std::uint32_t>(ms);
    bool show = true;
    bool jumped = false;
    bool pausedReport = false;
    if (pausedSeek_ && *pausedSeek_ == at && number == currentTrack_) {
        // What a seek while paused reports at once: announced when it was asked, and nothing plays.
        pausedSeek_.reset();
        pausedReport = true;
    } else if (seekTarget_) {
        if (number != seekTrack_) {
            // Playback went on to another track before it reached the place.
            seekTarget_.reset();
            seekPending_.reset();
        } else if (at == *seekTarget_) {
            seekTarget_.reset();
            if (const std::optional<std::uint32_t> pending = std::exchange(seekPending_, std::nullopt)) {
                IssueSeek(*pending);
                show = false;
            }
        } else {
            // A report of the audio queued before the move: the display keeps the place it goes to.
            show = false;
        }
    } else if (number == reportedTrack_ && at < reportedMs_) {
        jumped = true;
    }
    if (!show)
        return;
    reportedTrack_ = number;
    reportedMs_ = at;
    if (!pausedReport)
        display_->SetPlayIndicator(2);
    // The badge below the dial names the DSD rate playing.
    ShowRateBadge(controls_, engine_.TrackRate(), ui::ScaleForPixelRatio(devicePixelRatioF()));
    ShowTrackTime(number, at);
    if (jumped)
        emit Seeked(at);
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
    queue_.Take(Registered().needDriveCheck);
    update();
    driveCheckOpen_ = false;
}

void CPlayerDialog::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const int scale = ui::ScaleForPixelRatio(devicePixelRatioF());
    if (face_.isNull() || faceScale_ != scale || face_.devicePixelRatio() != devicePixelRatioF()) {
        // Resampled once to the screen's own scale (the 2x face on a panel scaled by 1.4).
        face_ = ui::AtPixelRatio(ui::DefaultBitmapLoader()(resid::kPanelFace, scale), devicePixelRatioF());
        faceScale_ = scale;
    }
    if (face_.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(QPointF(0, 0), face_);
    PaintNowPlaying(painter, event->rect());
}

void CPlayerDialog::dragEnterEvent(QDragEnterEvent* event) {
    // Files and folders from a file manager; nothing else is taken.
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            return;
        }
    }
}

void CPlayerDialog::dropEvent(QDropEvent* event) {
    std::vector<std::string> items;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            items.push_back(QDir::cleanPath(url.toLocalFile()).toStdString());
    }
    if (items.empty())
        return;
    event->acceptProposedAction();
    // A folder gives its playable files; the new list replaces the old one and is kept in PlayList.txt.
    trackList_ = DropFiles(items, *this, engine_.RFMode());
}

} // namespace app
