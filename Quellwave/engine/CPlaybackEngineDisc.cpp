// The audio CD as the engine's source: opening and closing the drive, the tray, and which tracks hold
// audio.
#include "CPlaybackEngine.h"

#include "DiscPilotDiagnostics.h"

#include <algorithm>

namespace engine {

namespace {

std::string CdTextOf(const CDiscPilot& drive, int track, int item) {
    const int length = CDiscPilot::Diagnostics::GetCdText(drive, track, item, nullptr, 0);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    CDiscPilot::Diagnostics::GetCdText(drive, track, item, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

const std::string& Entry(const std::vector<std::string>& texts, std::uint32_t track) noexcept {
    static const std::string kNone;
    return track >= 1 && track <= texts.size() ? texts[track - 1] : kNone;
}

} // namespace

const std::string& CPlaybackEngine::DiscTitles::TrackTitle(std::uint32_t track) const noexcept {
    return Entry(trackTitles, track);
}

const std::string& CPlaybackEngine::DiscTitles::TrackPerformer(std::uint32_t track) const noexcept {
    return Entry(trackPerformers, track);
}

int CPlaybackEngine::OpenDrive(unsigned char letter) {
    CloseFiles();
    CloseDrive();
    if (!drive_.SetDrive(letter))
        return 0;
    cdDataTracks_.clear();
    discpilot::DiscToc toc;
    if (CDiscPilot::Diagnostics::GetDiscToc(drive_, toc)) {
        for (int i = 0; i < toc.count; ++i)
            cdDataTracks_.push_back(toc.tracks[i].data);
    }
    discTitles_ = DiscTitles{};
    discTitles_.albumTitle = CdTextOf(drive_, 0, discpilot::kCdTextTitle);
    discTitles_.albumPerformer = CdTextOf(drive_, 0, discpilot::kCdTextPerformer);
    for (int i = 0; i < toc.count; ++i) {
        discTitles_.trackTitles.push_back(CdTextOf(drive_, toc.tracks[i].number, discpilot::kCdTextTitle));
        discTitles_.trackPerformers.push_back(
            CdTextOf(drive_, toc.tracks[i].number, discpilot::kCdTextPerformer));
    }
    std::lock_guard lock(control_.mutex);
    control_.isCD = true;
    control_.sourceOpen = true;
    return 1;
}

int CPlaybackEngine::CloseDrive() {
    if (SourceOpen() && IsCD()) {
        // The reader thread may be inside the drive's GetData: closing the drive under it would free what
        // it reads. Playback ends first, with its fade-out.
        Pause();
        drive_.CloseDrive();
        discTitles_ = DiscTitles{};
        std::lock_guard lock(control_.mutex);
        control_.sourceOpen = false;
        control_.isCD = false;
    }
    return 1;
}

bool CPlaybackEngine::EjectDisc(unsigned char letter) {
    CloseDrive();
    return drive_.EjectVolume(letter) != 0;
}

bool CPlaybackEngine::LoadDisc(unsigned char letter) {
    return drive_.InsertVolume(letter) != 0;
}

bool CPlaybackEngine::IsDataTrack(std::uint32_t track) const {
    return track >= 1 && track <= cdDataTracks_.size() && cdDataTracks_[track - 1];
}

std::uint32_t CPlaybackEngine::AudioTrackFrom(std::uint32_t track) const {
    unsigned long count = 0;
    if (!drive_.GetTrackNum(count))
        return 0;
    for (std::uint32_t t = std::max<std::uint32_t>(track, 1); t <= count; ++t) {
        if (!IsDataTrack(t))
            return t;
    }
    return 0;
}

} // namespace engine
