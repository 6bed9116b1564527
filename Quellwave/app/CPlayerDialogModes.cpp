// The player panel: disc mode and file mode, which controls each shows and the track lengths.
#include "CPlayerDialog.h"

#include "PlayerControls.h"
#include "shell/PlaylistFile.h"
#include "shell/ResourceModules.h"
#include "shell/Settings.h"
#include "ui/CLEDDialog.h"

#include <QApplication>

#include <algorithm>

namespace app {

void CPlayerDialog::ShowButton(int id, bool show) {
    if (const auto it = controls_.find(id); it != controls_.end())
        it->second->setVisible(show);
}

void CPlayerDialog::LoadTrackLengths() {
    ++sourceGeneration_;
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
    for (int id : kDiscModeControls)
        ShowButton(id, true);
    for (int id : kFileModeControls)
        ShowButton(id, false);
    update();
    // What was known of the last disc's titles goes with it; the disc read now brings its own text.
    nowPlaying_.ClearDiscText();
    const auto letter = static_cast<unsigned char>(drive_);
    if (letter == 0 || engine_.OpenDrive(letter) != 1) {
        trackCount_ = 0;
        // An open tray is told from a drive without a disc.
        if (letter != 0 && DriveTrayOpen())
            ShowTrayOpen();
        else
            display_->ShowBanner(2);
        return;
    }
    trayOpen_ = false;
    // The disc's own text, as the engine read it at the open, names its tracks on the panel and the bus.
    const engine::CPlaybackEngine::DiscTitles& titles = engine_.DiscText();
    DiscText text{titles.albumTitle, titles.albumPerformer, {}};
    for (std::uint32_t track = 1; track <= titles.trackTitles.size(); ++track)
        text.tracks.push_back({titles.TrackTitle(track), titles.TrackPerformer(track)});
    nowPlaying_.SetDiscText(std::move(text));
    {
        CDiscPilot pilot;
        if (pilot.SetDrive(letter) && !pilot.IsDriveChecked() && letter >= 'A')
            post(Registered().needDriveCheck, static_cast<WPARAM>(letter - 'A'), 0);
    }
    LoadTrackLengths();
    WriteMode(0);
}

void CPlayerDialog::EnterFileMode() {
    OpenFileList(trackList_);
}

void CPlayerDialog::OpenFileList(const TrackList& list) {
    discMode_ = false;
    for (int id : kFileModeControls)
        ShowButton(id, true);
    for (int id : kDiscModeControls)
        ShowButton(id, false);
    update();
    display_->SetSourceIndicator(2);
    display_->ShowBanner(0);
    if (engine_.OpenFiles(list) != 1) {
        // No source: commands must see an empty one, not the count of what was open before.
        trackCount_ = 0;
        display_->ShowBanner(3);
        update();
        return;
    }
    WriteMode(1);
    LoadTrackLengths();
    update();
}

TrackList CPlayerDialog::EnterFileMode(const TrackList& list) {
    OpenFileList(list);
    TrackList accepted;
    if (engine_.SourceOpen() && !engine_.IsCD()) {
        // A list the listener chose (opened, dropped, handed over by a later start) is kept for the next
        // start; entering file mode with the stored list rewrites nothing.
        WritePlaylist(list);
        engine_.GetFileList(&accepted);
    }
    return accepted;
}

void CPlayerDialog::ReloadPlaylist() {
    Stop();
    TrackList stored;
    ReadPlaylist(&stored);
    trackList_ = LoadTrackList(std::move(stored), *this, engine_.RFMode());
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

} // namespace app
