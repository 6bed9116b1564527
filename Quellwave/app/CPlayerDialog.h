// The player panel: a 1024 x 768 child of the main window carrying the transport and mode buttons, the
// volume dial, the display panel and the playback engine. It plays a disc (disc mode) or the track list of
// PlayList.txt (file mode), answers the engine's messages, the keys, the mouse wheel and the media keys,
// the registered messages, power and device events, and runs the fade, battery, load and digit-entry
// timers.
//
// Everything reaches the panel as a posted message (platform::MessageTarget): the engine's threads, the
// controls, the event sources and the panel itself post, and the UI thread dispatches them in the order
// they were posted. Posting never allocates and never blocks, so the engine's output thread may post.
// Every other member runs on the UI thread.
//
// Its start, close, commands and message handlers are in CPlayerDialog.cpp, the two modes in
// CPlayerDialogModes.cpp, the keys and the mouse in CPlayerDialogKeys.cpp, the timers and fades in
// CPlayerDialogTimers.cpp; the controls and their places in PlayerControls.
#pragma once

#include "NowPlaying.h"
#include "PlayerMessages.h"
#include "PlayerServices.h"
#include "engine/CPlaybackEngine.h"
#include "shell/CProcessLoadMonitor.h"
#include "shell/TrackList.h"

#include "Platform/MessageTarget.h"
#include "Platform/WakeSignal.h"

#include <QBasicTimer>
#include <QImage>
#include <QWidget>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <tuple>

class CDialCtrl;
class CLEDDialog;
class QPainter;
class PlayCtrlButton;
class QSocketNotifier;
class TransparentBitmapStatic;

namespace app {

class PlayListCard;

// What the panel asks of the main window around it.
class PlayerHost {
public:
    virtual ~PlayerHost() = default;
    // Starts the main window's fade out, at whose end the program ends.
    virtual void StartFadeOut() = 0;
    // Ends the main window's modal loop at once (no fade).
    virtual void EndNow() = 0;
    virtual void Minimise() = 0;
};

// What the panel shows of its transport, for those who follow it from outside (the session bus, the sleep
// inhibit): compared as a whole, so a change of any part is a change.
struct PlayerState {
    enum class Transport { Stopped, Playing, Paused };
    Transport transport = Transport::Stopped;
    bool discMode = true;
    bool sourceOpen = false;
    unsigned track = 0;      // the current track, 1-based
    unsigned trackCount = 0; // 0 when no source is open
    unsigned volume = 0;     // the dial, 0..100
    bool canSeek = false;    // CanSeek()
    bool trayOpen = false;   // disc mode with the playback drive's tray open (TrayOpen())
    bool operator==(const PlayerState&) const = default;
};

struct PlayerOptions {
    // The output driver for this run instead of DefaultASIODriverName (the setting is left as it is).
    std::optional<std::string> driverName;
};

class CPlayerDialog : public QWidget, public platform::MessageTarget, public TrackListWindow {
    Q_OBJECT

public:
    static constexpr int kWidth = 1024;
    static constexpr int kHeight = 768;
    static constexpr std::size_t kQueueCapacity = 4096;
    static constexpr unsigned kMaxTrackTable = 255;

    CPlayerDialog(PlayerServices& services, PlayerHost* host, PlayerOptions options = {},
                  QWidget* parent = nullptr);
    ~CPlayerDialog() override;

    // The panel's start: controls, engine, drive, track list, mode, timers, repeat and volume.
    void OnInitDialog();
    // What the panel does when the main window closes: stop, close the sources, release the sleep inhibit.
    void OnClose();

    // Any thread. False when the queue is full (the message is dropped, as a full window queue would).
    bool post(UINT msg, WPARAM wParam, LPARAM lParam) override;
    // Dispatches the messages posted so far (and any they post in turn); returns how many. The notifier
    // does this when the event loop runs; tests call it to step the panel deterministically.
    int DispatchPostedMessages();
    // The window procedure: handles one message at once.
    void WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // One tick of a panel timer (the QBasicTimers call it; tests step it directly).
    void OnTimer(int id);
    bool TimerActive(int id) const;

    // Operations of the panel (the commands of the buttons and keys post to these).
    void PausePlaying();
    void PlayPause();
    void Stop() override;
    void Previous();
    void Next();
    void DigitEntry(unsigned digit);
    void CancelEntry();
    void Repeat();
    // Switches the display between the time played and the time left in the track (stored as
    // ShowRemainingTime); the stopped display stays as it is.
    void ToggleRemainingTime();
    bool ShowsRemainingTime() const noexcept { return showRemaining_; }
    void VolumeStep(int delta);
    // Opens the play list card over the panel, or closes it when it is open.
    void ToggleListCard();
    // The card, while it is open; null otherwise.
    PlayListCard* ListCard() const noexcept;
    // Moves within the current track by deltaMs from where it is (or from where a seek not yet heard goes):
    // to its start at the most, and at or past its end on to the next track, as Next. Only when CanSeek.
    void SeekBy(std::int64_t deltaMs);
    // Moves to ms in the current track; false, with nothing done, unless CanSeek and ms lies inside the
    // track. While playing the display shows ms at once, the engine's own reports from before the move
    // are not shown, and a seek asked while the engine still moves to the last one follows when it
    // gets there.
    bool SeekTo(std::uint32_t ms);
    // A track is playing or paused, and its length is known.
    bool CanSeek() const;
    void EnterDiscMode();
    void EnterFileMode();
    void ReloadPlaylist();
    // Handles a key as the panel's key filter does; true when the key goes no further.
    bool HandleKey(int qtKey, Qt::KeyboardModifiers modifiers);
    void OnAppCommand(unsigned command);

    // TrackListWindow.
    TrackList EnterFileMode(const TrackList& list) override;
    void ShowMessage(UINT stringId) override;
    void SetWaitCursor(bool waiting) override;
    void Repaint() override;

    // State, for the main window and tests.
    engine::CPlaybackEngine& Engine() noexcept { return engine_; }
    CLEDDialog* Display() const noexcept { return display_; }
    CDialCtrl* Dial() const noexcept { return dial_; }
    unsigned CurrentTrack() const noexcept { return currentTrack_; }
    unsigned TrackCount() const noexcept { return trackCount_; }
    bool Started() const noexcept { return started_; }
    bool DiscMode() const noexcept { return discMode_; }
    // Disc mode, and the playback drive's tray open as far as the panel knows: opened by its eject
    // button, or found open when the disc could not be read. Play then closes it and plays the disc.
    bool TrayOpen() const noexcept { return discMode_ && trayOpen_; }
    unsigned Entry() const noexcept { return entry_; }
    unsigned PlaybackDrive() const noexcept { return drive_; }
    const TrackList& Tracks() const noexcept { return trackList_; }
    bool PanelVisible() const noexcept { return panelVisible_; }
    int PanelFadeLevel() const noexcept { return panelFade_; }
    unsigned LastLoad() const noexcept { return lastLoad_; }
    bool ScreenSaverFlag() const noexcept { return screenSaverFlag_; }
    std::uint32_t TrackLength(unsigned track) const;
    // Counts the sources opened (each list of files, each disc), so that track n of one is told from
    // track n of the next.
    unsigned SourceGeneration() const noexcept { return sourceGeneration_; }
    // Where in the current track playback is, in ms: where the last seek goes from the moment it was
    // asked, else the engine's place exact to the block; 0 when stopped.
    std::uint32_t PositionMs() const;
    PlayerState State() const;
    // What the current entry is (the list's file or the disc's track): title, artist, album, cover. The
    // panel's title line and the session bus both show this. Reads the file's tags when the entry changes.
    TrackInfo CurrentTrackInfo();
    // Where what is known of the loaded disc's titles is kept (the disc's text is set there when read).
    NowPlaying& Titles() noexcept { return nowPlaying_; }
    // ShowTitles: the title line and the cover are shown (read at start and after the settings dialog).
    bool ShowsTitles() const noexcept { return showTitles_; }
    // The title line as drawn ("Title — Artist", cut with an ellipsis to its place) and the album below
    // it; empty while nothing plays or the titles are off.
    QString ShownTitleLine() const;
    QString ShownAlbumLine() const;
    // Whether a cover is drawn now.
    bool ShowsCover() const noexcept { return showTitles_ && shown_ && !shownCover_.isNull(); }
    // The panel's places for the title line, the album below it and the cover, in panel coordinates.
    static QRect TitleRect();
    static QRect AlbumRect();
    static QRect CoverRect();
    // Emits StateChanged when the state differs from what was last announced. The panel calls it after
    // each batch of messages, key and timer tick; whoever changes the panel's state directly calls it too.
    void NoteStateChange();

signals:
    // The panel's state (State()) differs from what it was when this was last emitted. Emitted on the UI
    // thread once the messages, the key or the timer tick that changed it have been handled.
    void StateChanged();
    // The position moved other than by playing on: at once after each seek (ms is where it goes), and
    // when a report shows the track gone back (restarted by repeat one, or by Previous).
    void Seeked(std::uint32_t ms);

protected:
    void timerEvent(QTimerEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnCommand(unsigned id);
    void OnPlaySelectedTrack(WPARAM track);
    void OnDriverError();
    void OnPosition(WPARAM ms, LPARAM track);
    void OnPowerBroadcast(WPARAM event);
    void OnDeviceChange(WPARAM event, LPARAM change);
    void OnNeedDriveCheck(WPARAM index);
    void OnDialMoved(WPARAM wParam);
    void ToggleMute();
    void SwitchMode();
    void EjectOrOpen();
    // Whether the playback drive's tray is open: what the drive tells, else what the panel last did to it.
    bool DriveTrayOpen();
    // The tray was opened: no disc to play, and the display says so.
    void ShowTrayOpen();
    // Closes the tray and reads the disc (disc mode entered again); true when it can be played.
    bool CloseTrayAndReload();
    void Settings();
    void CloseCommand();
    void FadePanelOut();
    void FadePanelInIfHidden();
    void ApplyPanelFade();
    // Processes the position messages already posted, leaving the others queued in order: what a pause
    // shows must include every position the engine reported before it halted.
    void DrainPositions();
    void LoadTrackLengths();
    // File mode with list: shows the file-mode controls and has the engine open list (the panel's own list
    // or one LoadTrackList hands over); when it opens, PlayList.txt is written and the lengths are read.
    void OpenFileList(const TrackList& list);
    void ShowStoppedDisplay();
    // Takes what the current entry is when the entry, the source or the transport changed, and repaints
    // the title line and the cover when that changes what they show.
    void RefreshNowPlaying();
    void PaintNowPlaying(QPainter& painter, const QRect& dirty);
    // Shows elapsedMs into track, as the time played or, when chosen and a track is started, as the
    // time left in it.
    void ShowTrackTime(unsigned track, std::uint32_t elapsedMs);
    void ShowButton(int id, bool show);
    void StartTimer(int id, int periodMs);
    void KillTimer(int id);
    void LoadCheck();
    void BatteryCheck();
    // Playing, or a Play accepted whose first sound has not reached the output yet: the reader is at work
    // then too, so a pause, a track change or a close must stop it before the source changes under it.
    bool EnginePlaying() const noexcept { return engine_.Playing() == 1 || engine_.StartIsPending(); }
    void OnTimerTick(int id);
    // The engine's seek, the display and the announcement; false when the engine refused.
    bool IssueSeek(std::uint32_t ms);
    // Before the track changes or stops: a seek not yet made is not made, and one on its way is forgotten.
    void DropSeeks();
    // The seek keys (Left, Right, rewind, fast forward): the step of a press or of a repeat, 0 for other
    // keys; a press seeks at once and, held, repeats at the volume buttons' pace.
    static std::int64_t SeekStepOf(int key, Qt::KeyboardModifiers modifiers);
    void PressSeekKey(int key, std::int64_t step);
    void EndSeekRepeat();

    PlayerServices& services_;
    PlayerHost* host_;
    PlayerOptions options_;

    UINT queryCancelAutoPlay_ = 0;
    CDialCtrl* dial_ = nullptr;
    engine::CPlaybackEngine engine_;
    unsigned currentTrack_ = 1;
    unsigned trackCount_ = 0;
    std::array<std::uint32_t, kMaxTrackTable> lengths_{};
    bool started_ = false;
    bool discMode_ = true;
    bool trayOpen_ = false;
    bool showRemaining_ = false;
    // The time into the track behind what the display shows (it may show the time left instead).
    std::uint32_t shownElapsed_ = 0;
    TrackList trackList_;
    unsigned drive_ = 0;
    bool screenSaverFlag_ = false;
    CLEDDialog* display_ = nullptr;
    int panelFade_ = 0;
    bool panelVisible_ = false;
    bool cursorHidden_ = false;
    std::unique_ptr<CProcessLoadMonitor> loadMonitor_;
    LoadThresholds thresholds_{kPlaybackOverloadValue, 2};
    unsigned lastLoad_ = 0;
    unsigned entry_ = 0;
    bool driveCheckOpen_ = false;
    bool closed_ = false;
    QImage face_;
    int faceScale_ = 0;
    PlayerState announced_;
    NowPlaying nowPlaying_;
    bool showTitles_ = true;
    // What the title line and the cover show (nothing while stopped), and what they were taken for.
    std::optional<TrackInfo> shown_;
    QImage shownCover_;
    std::tuple<unsigned, unsigned, bool, bool, bool> shownFor_{};
    PlayListCard* card_ = nullptr;
    unsigned sourceGeneration_ = 0;

    // A seek the engine moves to while playing, not yet heard, and one asked meanwhile, which follows it.
    std::optional<std::uint32_t> seekTarget_;
    std::optional<std::uint32_t> seekPending_;
    unsigned seekTrack_ = 0;
    // A seek made while paused: the engine's report of it is no jump and no sign of playing.
    std::optional<std::uint32_t> pausedSeek_;
    // The last position report taken, to see the track go back.
    unsigned reportedTrack_ = 0;
    std::uint32_t reportedMs_ = 0;
    // The seek key held, its step and how many repeat ticks it has seen.
    int seekKey_ = 0;
    std::int64_t seekStep_ = 0;
    int seekTicks_ = 0;

    std::map<int, QWidget*> controls_;
    std::map<int, QBasicTimer> timers_;

    // The posted-message queue: a fixed ring so that posting never allocates, and an event descriptor the
    // notifier watches to wake the UI thread.
    platform::MessageRing queue_{kQueueCapacity};
    platform::WakeSignal wake_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace app
