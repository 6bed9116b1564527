#include "MprisService.h"

#include "PlayerMessages.h"
#include "ui/CDialCtrl.h"
#include "ui/ControlNotify.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QUrl>

#include <cmath>

namespace app {

namespace {

constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
// MPRIS's own path for "no track"; tracks of this player live under a path of its own, by the source they
// belong to (each list or disc opened) and their place in it: the same while an entry plays, and another
// for every other entry, also of a list opened later.
constexpr const char* kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

// org.mpris.MediaPlayer2: the application itself.
class RootAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

public:
    explicit RootAdaptor(MprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}

    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("Quellwave"); }
    QString DesktopEntry() const { return QStringLiteral("quellwave"); }
    // Nothing is opened through the bus (OpenUri is not offered), so no schemes or types are listed.
    QStringList SupportedUriSchemes() const { return {}; }
    QStringList SupportedMimeTypes() const { return {}; }

public slots:
    void Raise() { service_->Raise(); }
    void Quit() { service_->Quit(); }

private:
    MprisService* service_;
};

// org.mpris.MediaPlayer2.Player: the transport.
class PlayerAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(bool CanGoNext READ CanGoNext)
    Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPause)
    Q_PROPERTY(bool CanSeek READ CanSeek)
    Q_PROPERTY(bool CanControl READ CanControl)

public:
    explicit PlayerAdaptor(MprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}

    QString PlaybackStatus() const { return service_->PlaybackStatus(); }
    // The player plays at its own speed only.
    double Rate() const { return 1.0; }
    void SetRate(double) {}
    QVariantMap Metadata() const { return service_->Metadata(); }
    double Volume() const { return service_->Volume(); }
    void SetVolume(double volume) { service_->SetVolume(volume); }
    qlonglong Position() const { return service_->Position(); }
    bool CanGoNext() const { return service_->CanGoNext(); }
    bool CanGoPrevious() const { return service_->CanGoPrevious(); }
    bool CanPlay() const { return service_->CanPlay(); }
    bool CanPause() const { return service_->CanPause(); }
    bool CanSeek() const { return service_->CanSeek(); }
    bool CanControl() const { return true; }

public slots:
    void Next() { service_->Next(); }
    void Previous() { service_->Previous(); }
    void Pause() { service_->Pause(); }
    void PlayPause() { service_->PlayPause(); }
    void Stop() { service_->Stop(); }
    void Play() { service_->Play(); }
    void Seek(qlonglong offset) { service_->Seek(offset); }
    void SetPosition(const QDBusObjectPath& trackId, qlonglong position) {
        service_->SetPosition(trackId.path(), position);
    }
    void OpenUri(const QString&) {}

signals:
    // Sent by MprisService itself (OnSeeked); declared so that the interface lists it.
    void Seeked(qlonglong position);

private:
    MprisService* service_;
};

} // namespace

MprisService::MprisService(CBGDialog& window, QDBusConnection bus) : window_(&window), bus_(std::move(bus)) {
    new RootAdaptor(this);
    new PlayerAdaptor(this);
    connect(&window.Panel(), &CPlayerDialog::StateChanged, this, &MprisService::OnStateChanged);
    connect(&window.Panel(), &CPlayerDialog::Seeked, this, &MprisService::OnSeeked);
}

MprisService::~MprisService() {
    if (!started_)
        return;
    bus_.unregisterService(QString::fromLatin1(kServiceName));
    bus_.unregisterObject(QString::fromLatin1(kObjectPath));
}

bool MprisService::Start() {
    if (started_)
        return true;
    if (!bus_.isConnected())
        return false;
    if (!bus_.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAdaptors))
        return false;
    if (!bus_.registerService(QString::fromLatin1(kServiceName))) {
        bus_.unregisterObject(QString::fromLatin1(kObjectPath));
        return false;
    }
    started_ = true;
    announced_ = ChangingProperties();
    return true;
}

void MprisService::Raise() {
    if (window_)
        window_->RestoreAndRaise();
}

void MprisService::Quit() {
    // The panel's close button: the window fades out and the program ends.
    if (window_)
        window_->Panel().post(WM_COMMAND, kCmdClose, 0);
}

void MprisService::PostAppCommand(unsigned command) {
    if (window_)
        window_->Panel().post(WM_APPCOMMAND, 0, static_cast<LPARAM>(command << 16));
}

void MprisService::Play() {
    PostAppCommand(APPCOMMAND_MEDIA_PLAY);
}

void MprisService::Pause() {
    // The pause media key resumes a paused player; MPRIS's Pause leaves it paused.
    if (window_ && window_->Panel().State().transport == PlayerState::Transport::Playing)
        PostAppCommand(APPCOMMAND_MEDIA_PAUSE);
}

void MprisService::PlayPause() {
    PostAppCommand(APPCOMMAND_MEDIA_PLAY_PAUSE);
}

void MprisService::Stop() {
    PostAppCommand(APPCOMMAND_MEDIA_STOP);
}

void MprisService::Next() {
    PostAppCommand(APPCOMMAND_MEDIA_NEXTTRACK);
}

void MprisService::Previous() {
    PostAppCommand(APPCOMMAND_MEDIA_PREVIOUSTRACK);
}

void MprisService::Seek(qlonglong offset) {
    if (!CanSeek())
        return;
    // Whole ms toward zero; the message carries them signed.
    window_->Panel().post(WM_SEEK_BY, 0, static_cast<LPARAM>(offset / 1000));
}

void MprisService::SetPosition(const QString& trackId, qlonglong position) {
    if (!CanSeek() || trackId != CurrentTrackId() || position < 0)
        return;
    CPlayerDialog& panel = window_->Panel();
    const unsigned track = panel.State().track;
    if (position / 1000 >= static_cast<qlonglong>(panel.TrackLength(track)))
        return;
    // The panel checks again that the track is still the current one when the message comes.
    panel.post(WM_SEEK_TO, static_cast<WPARAM>(position / 1000), static_cast<LPARAM>(track));
}

QString MprisService::CurrentTrackId() const {
    if (!window_ || window_->Panel().State().trackCount == 0)
        return QString::fromLatin1(kNoTrack);
    return QStringLiteral("/org/quellwave/source/%1/track/%2")
        .arg(window_->Panel().SourceGeneration())
        .arg(window_->Panel().State().track);
}

QString MprisService::PlaybackStatus() const {
    if (!window_)
        return QStringLiteral("Stopped");
    switch (window_->Panel().State().transport) {
    case PlayerState::Transport::Playing:
        return QStringLiteral("Playing");
    case PlayerState::Transport::Paused:
        return QStringLiteral("Paused");
    case PlayerState::Transport::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

QVariantMap MprisService::Metadata() const {
    QVariantMap metadata;
    if (!window_ || window_->Panel().State().trackCount == 0) {
        metadata.insert(QStringLiteral("mpris:trackid"),
                        QVariant::fromValue(QDBusObjectPath(CurrentTrackId())));
        return metadata;
    }
    CPlayerDialog& panel = window_->Panel();
    const PlayerState state = panel.State();
    const unsigned track = state.track;
    metadata.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(CurrentTrackId())));
    metadata.insert(QStringLiteral("mpris:length"), static_cast<qlonglong>(panel.TrackLength(track)) * 1000);
    metadata.insert(QStringLiteral("xesam:trackNumber"), static_cast<int>(track));
    // The same look-up as the panel's title line, so the two never disagree.
    const TrackInfo info = panel.CurrentTrackInfo();
    const QString title = info.title.isEmpty() ? QStringLiteral("Track %1").arg(track) : info.title;
    if (!info.artist.isEmpty())
        metadata.insert(QStringLiteral("xesam:artist"), QStringList{info.artist});
    if (!info.album.isEmpty())
        metadata.insert(QStringLiteral("xesam:album"), info.album);
    if (!info.path.isEmpty())
        metadata.insert(QStringLiteral("xesam:url"),
                        QUrl::fromLocalFile(info.path).toString(QUrl::FullyEncoded));
    if (const QString art = panel.Titles().ArtUrl(info); !art.isEmpty())
        metadata.insert(QStringLiteral("mpris:artUrl"), art);
    metadata.insert(QStringLiteral("xesam:title"), title);
    return metadata;
}

double MprisService::Volume() const {
    return window_ ? window_->Panel().State().volume / 100.0 : 0.0;
}

void MprisService::SetVolume(double volume) {
    if (!window_)
        return;
    // MPRIS allows any value: below 0 is silence, above 1 the dial's top (the dial has no more). NaN fails
    // every comparison and is taken as silence too.
    if (!(volume > 0.0))
        volume = 0.0;
    const auto value = static_cast<WORD>(std::lround(std::min(volume, 1.0) * 100.0));
    // What an outside volume change does to the dial, then what turning the dial to it does to the level.
    CPlayerDialog& panel = window_->Panel();
    panel.post(Registered().volumeVolChange, value, 0);
    panel.post(WM_HSCROLL, ui::MAKEWPARAM(ui::SB_THUMBPOSITION, value), 0);
}

qlonglong MprisService::Position() const {
    // Exact to the block the output last wrote, and from a seek on where it goes (0 when stopped).
    return window_ ? static_cast<qlonglong>(window_->Panel().PositionMs()) * 1000 : 0;
}

bool MprisService::CanGoNext() const {
    // Next and previous wrap around the list, so any track has both.
    return window_ && window_->Panel().State().trackCount > 0;
}

bool MprisService::CanGoPrevious() const {
    return CanGoNext();
}

bool MprisService::CanPlay() const {
    if (!window_)
        return false;
    // An open tray plays too: play closes it and plays the disc.
    const PlayerState state = window_->Panel().State();
    return state.trackCount > 0 || state.trayOpen;
}

bool MprisService::CanPause() const {
    return window_ && window_->Panel().State().trackCount > 0;
}

bool MprisService::CanSeek() const {
    return window_ && window_->Panel().CanSeek();
}

QVariantMap MprisService::ChangingProperties() const {
    return {
        {QStringLiteral("PlaybackStatus"), PlaybackStatus()},
        {QStringLiteral("Metadata"), Metadata()},
        {QStringLiteral("Volume"), Volume()},
        {QStringLiteral("CanGoNext"), CanGoNext()},
        {QStringLiteral("CanGoPrevious"), CanGoPrevious()},
        {QStringLiteral("CanPlay"), CanPlay()},
        {QStringLiteral("CanPause"), CanPause()},
        {QStringLiteral("CanSeek"), CanSeek()},
    };
}

void MprisService::OnStateChanged() {
    if (!started_)
        return;
    const QVariantMap now = ChangingProperties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        if (announced_.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    announced_ = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
    bus_.send(signal);
}

void MprisService::OnSeeked(std::uint32_t ms) {
    if (!started_)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(kObjectPath), QString::fromLatin1(kPlayerInterface), QStringLiteral("Seeked"));
    signal << static_cast<qlonglong>(ms) * 1000;
    bus_.send(signal);
}

} // namespace app

#include "MprisService.moc"
