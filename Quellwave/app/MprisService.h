// The player on the session bus as an MPRIS2 media player ("org.mpris.MediaPlayer2.quellwave"), so that
// the desktop's media keys, its sound menu and phone remotes reach it as they reach every other player.
// Commands are posted to the panel as the media keys post them, so they behave exactly as the keys do;
// the properties are read from the panel, and PropertiesChanged goes out whenever the panel reports a
// change of its state. UI thread only.
#pragma once

#include "CBGDialog.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

#include <cstdint>

namespace app {

class MprisService : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.quellwave";
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";

    // window: the main window, raised by Raise, whose panel is followed and commanded; it may go before
    // this object (nothing is done for a window that is gone). bus: the session bus.
    MprisService(CBGDialog& window, QDBusConnection bus);
    ~MprisService() override;
    MprisService(const MprisService&) = delete;
    MprisService& operator=(const MprisService&) = delete;

    // Puts the player on the bus. False when there is no bus or the name cannot be had; the player then
    // runs without it.
    bool Start();

    // org.mpris.MediaPlayer2.
    void Raise();
    void Quit();
    // org.mpris.MediaPlayer2.Player: the commands.
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next();
    void Previous();
    // Relative, in µs (negative goes back): before the track's start to its start, at or past its end to
    // the next track. Nothing unless CanSeek.
    void Seek(qlonglong offset);
    // To position (µs) in the track trackId names; nothing when that is not the current track, or the
    // position lies outside it, or unless CanSeek.
    void SetPosition(const QString& trackId, qlonglong position);
    // org.mpris.MediaPlayer2.Player: the properties.
    QString PlaybackStatus() const;
    QVariantMap Metadata() const;
    double Volume() const;
    void SetVolume(double volume);
    qlonglong Position() const;
    bool CanGoNext() const;
    bool CanGoPrevious() const;
    bool CanPlay() const;
    bool CanPause() const;
    bool CanSeek() const;

private:
    void PostAppCommand(unsigned command);
    // The player interface's properties that change, by name.
    QVariantMap ChangingProperties() const;
    void OnStateChanged();
    // The panel moved the position other than by playing on: the Seeked signal (µs).
    void OnSeeked(std::uint32_t ms);
    // The object path naming the current track (a list entry by its place, or a disc's track).
    QString CurrentTrackId() const;

    QPointer<CBGDialog> window_;
    QDBusConnection bus_;
    bool started_ = false;
    QVariantMap announced_;
};

} // namespace app
