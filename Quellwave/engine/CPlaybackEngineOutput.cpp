// The engine's output thread and the device: opening the driver, the silent blocks, writing the rings'
// blocks at the device's pace, the position reports and what follows the end of a track.
#include "CPlaybackEngine.h"

#include "RateChoice.h"
#include "shell/Settings.h"

#include "Platform/Text.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace engine {

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(10);
} // namespace

std::string CPlaybackEngine::DriverName() const {
    if (driverNameOverride_)
        return *driverNameOverride_;
    // No setting at all means the installed default; a value that is there but unusable stays unusable,
    // so its reason is reported rather than hidden behind another output.
    switch (ASIODriverNameStored()) {
    case StoredValue::Missing:
        return kDefaultDriverName;
    case StoredValue::OtherType:
        return {};
    case StoredValue::String:
        break;
    }
    std::string name;
    ReadASIODriverName(&name);
    return name;
}

std::string CPlaybackEngine::DriverOpenError() const {
    if (!driverNameOverride_ && ASIODriverNameStored() == StoredValue::OtherType)
        return "DefaultASIODriverName is not a string";
    const CDSDASIO* device = outputProcessor_.GetDSDASIO(0);
    return device ? device->LastOpenError() : std::string("no output device");
}

bool CPlaybackEngine::OpenOutputDevice(CDSDASIO* device) {
    bool opened = false;
    if (device != nullptr) {
        const std::u16string name = platform::Utf8ToUtf16(DriverName());
        outputProcessor_.LockProcess();
        opened = device->OpenDriver(name.c_str());
        outputProcessor_.UnlockProcess();
    }
    {
        std::lock_guard lock(control_.mutex);
        control_.driver = opened ? DriverState::Ready : DriverState::Failed;
    }
    control_.changed.notify_all();
    if (!opened)
        Post(driverErrorMessage_, 0, 0);
    return opened;
}

void CPlaybackEngine::WriteSilentBlocks(CDSDASIO* device, int count) {
    // The silent buffers are made once per thread start, not per call; they are refilled here because a
    // device may use its work buffers as scratch space. The silence lasts as long at every rate: count
    // is in DSD64 blocks.
    for (auto& buffer : silentBuffers_)
        buffer.fill(kDsdSilenceByte);
    count *= platform::DsdRateMultiple(device->Rate());
    for (int i = 0; i < count; ++i) {
        device->WriteBlock(devicePosition_, silentChannels_.data(), silentWork_.data());
        devicePosition_ += CDSDASIO::kPositionPerBlock;
    }
}

void CPlaybackEngine::WriteRingBlock(CDSDASIO* device, std::uint8_t* const* channels, bool& resetSeen) {
    {
        std::lock_guard lock(ringLock_);
        rings_[0].Read(reinterpret_cast<CSampleRing::Element*>(channels[0]), kBlockElements);
        rings_[1].Read(reinterpret_cast<CSampleRing::Element*>(channels[1]), kBlockElements);
    }
    ++blocksPlayed_;
    if (control_.seeking) {
        std::unique_lock lock(control_.mutex);
        const bool moved = control_.seekAtBlock != 0 && blocksPlayed_ >= control_.seekAtBlock;
        lock.unlock();
        if (moved)
            TakeSeekPosition();
    }
    const bool seeking = control_.seeking;
    if (muteToEnd_) {
        for (int c = 0; c < 2; ++c)
            std::fill(channels[c], channels[c] + kDsdChannelBytes, kDsdSilenceByte);
    } else if (!trackChangePending_ && !seeking) {
        DecideAtTrackEnd(channels);
    }
    if (device->resetRequest) {
        if (!resetSeen) {
            resetSeen = true;
            Post(WM_COMMAND, kStopCommandId, 0);
            device->AcknowledgeReset();
            device->resetRequest = false;
        }
    } else if (!resetSeen) {
        device->WriteBlock(devicePosition_, channels, workTable_.data());
    }
    devicePosition_ += CDSDASIO::kPositionPerBlock;
    if (!trackChangePending_ && !seeking) {
        // The output thread's own count while a run plays: nobody else reads it until the run is over.
        control_.playedBytes += kDsdBlockBytes;
        PositionCheck();
        control_.heardMs = PlayedMs(control_.playedBytes, control_.trackRate);
    }
}

void CPlaybackEngine::OutputThread() {
    outputProcessor_.Setup(static_cast<int>(kUnitFrames), CProcessProc::kBaseRate, true);
    outputProcessor_.Enable(true);
    outputProcessor_.SetRate(CProcessProc::kBaseRate);

    CDSDASIO* device = outputProcessor_.GetDSDASIO(0);
    if (!OpenOutputDevice(device)) {
        outputProcessor_.Release();
        return;
    }

    // Everything the streaming loop touches is made here, before the first block: silent channel and work
    // tables for the silent blocks, and the left and right block buffers with every further channel of the
    // table pointing at silence.
    constexpr std::size_t kEntries = CDSDASIO::kTableEntries;
    silentBuffers_.assign(2 * kEntries, {});
    for (std::size_t i = 0; i < kEntries; ++i) {
        silentChannels_[i] = silentBuffers_[i].data();
        silentWork_[i] = silentBuffers_[kEntries + i].data();
    }
    std::vector<std::array<std::uint8_t, kDsdChannelBytes>> blockBuffers(3);
    blockBuffers[2].fill(kDsdSilenceByte);
    std::array<std::uint8_t*, kEntries> channels{};
    channels[0] = blockBuffers[0].data();
    channels[1] = blockBuffers[1].data();
    for (std::size_t i = 2; i < kEntries; ++i)
        channels[i] = blockBuffers[2].data();

    device->started = false;
    devicePosition_ = 0;
    WriteSilentBlocks(device, kPrimingSilentBlocks);
    bool resetSeen = false;

    for (;;) {
        bool starting = false;
        {
            std::unique_lock lock(control_.mutex);
            control_.changed.wait(lock, [this] { return control_.outputQuit || control_.outputRun; });
            if (control_.outputQuit)
                break;
            starting = control_.playing != 1;
        }
        if (starting) {
            if (!SwitchRate(device))
                resetSeen = true; // the device is failed: play out the rings without writing them
            devicePosition_ = 0;
            WriteSilentBlocks(device, kEdgeSilentBlocks);
            blocksPlayed_ = 0;
            std::lock_guard lock(control_.mutex);
            control_.playing = 1;
        }
        const CSampleRing& left = rings_[0];
        const CSampleRing& right = rings_[1];
        if (left.Readable() >= kBlockElements && right.Readable() >= kBlockElements && !left.Overflowed() &&
            !right.Overflowed()) {
            blockBuffers[0].fill(0);
            blockBuffers[1].fill(0);
            WriteRingBlock(device, channels.data(), resetSeen);
        } else if (Read(&PlayerControl::endOfData)) {
            WriteSilentBlocks(device, kEdgeSilentBlocks);
            EndOfTrack();
            resetSeen = false;
        } else {
            std::this_thread::sleep_for(kPollInterval);
        }
    }
    outputProcessor_.Release();
}

bool CPlaybackEngine::SwitchRate(CDSDASIO* device) {
    const DsdRate rate = control_.trackRate;
    if (device->Rate() == rate)
        return true;
    // A DAC needs a moment of silence to lock onto a new rate, and drops the first of what it is given
    // while it does: the new stream starts with the same silence as a freshly opened device.
    outputProcessor_.LockProcess();
    const bool changed = device->ChangeRate(rate);
    outputProcessor_.UnlockProcess();
    if (!changed) {
        // The device raised its reset request: the window is told to stop, and the rings drain unheard.
        Post(WM_COMMAND, kStopCommandId, 0);
        device->AcknowledgeReset();
        device->resetRequest = false;
        return false;
    }
    devicePosition_ = 0;
    WriteSilentBlocks(device, kPrimingSilentBlocks);
    return true;
}

bool CPlaybackEngine::PlayingTrackLength(std::uint32_t* ms) const {
    // Per block, so without the lock: the source is set while nothing plays, and the current track is
    // this thread's own while a run plays (PlayerControl.h).
    const std::uint32_t track = control_.currentTrack;
    if (!control_.sourceOpen)
        return false;
    if (control_.isCD) {
        unsigned long length = 0;
        const bool known = drive_.GetTrackLength(track, length);
        *ms = static_cast<std::uint32_t>(length);
        return known;
    }
    if (track == 0 || track > list_.lengthsMs.size())
        return false;
    *ms = list_.lengthsMs[track - 1];
    // Once a gapless run has moved the sources on to a later file, the early end they know is that file's.
    if (control_.sourceKind == kSourcePcmFile && control_.readerTrack <= track)
        *ms = std::min(*ms, sources_.Pcm().EarlyEndMs());
    return true;
}

void CPlaybackEngine::DecideAtTrackEnd(std::uint8_t* const* channels) {
    if (endRepeatMode_ >= 0)
        return;
    const DsdRate rate = control_.trackRate;
    std::uint32_t length = 0;
    if (!PlayingTrackLength(&length) || PlayedMs(control_.playedBytes + kDsdBlockBytes, rate) <= length)
        return;
    endRepeatMode_ = control_.repeatMode;
    // The reader runs a ring ahead: by now it may have read on into the next track (the mode was not 1
    // when it got there). That audio is not to be heard when this track is to repeat: it becomes
    // silence from the end on, as where the reader itself stops at an end that repeats.
    const std::uint32_t track = control_.currentTrack;
    const bool ranOn = control_.isCD ? cdStream_.SilentAfter() != track : control_.readerTrack > track;
    if (endRepeatMode_ != 1 || !ranOn)
        return;
    const std::uint64_t end = PlayedBytesForMs(length, rate);
    const std::uint64_t from = std::min<std::uint64_t>(
        end > control_.playedBytes ? (end - control_.playedBytes) / 2 : 0, kDsdChannelBytes);
    for (int c = 0; c < 2; ++c)
        std::fill(channels[c] + from, channels[c] + kDsdChannelBytes, kDsdSilenceByte);
    muteToEnd_ = true;
}

void CPlaybackEngine::PositionCheck() {
    // The fields read here without the lock are this thread's own while a run plays (PlayerControl.h).
    const DsdRate rate = control_.trackRate;
    const std::uint32_t ms = PlayedMs(control_.playedBytes, rate);
    std::uint32_t length = 0;
    if (!PlayingTrackLength(&length))
        return;
    if (ms <= length) {
        const std::uint32_t last = control_.lastReportedMs;
        if (ms / 1000 == last / 1000 && last != 0)
            return;
        {
            // A seek asked since this block began keeps the place it reported.
            std::lock_guard lock(control_.mutex);
            if (control_.seeking)
                return;
            control_.lastReportedMs = ms;
        }
        Post(WM_PLAYER_POSITION, ms, static_cast<LPARAM>(control_.currentTrack));
        return;
    }
    const std::uint32_t carried = ms - length;
    // The mode decided when this block was about to be written (DecideAtTrackEnd).
    const std::int32_t repeat = endRepeatMode_ >= 0 ? endRepeatMode_ : control_.repeatMode.load();
    if (control_.isCD) {
        // The disc is read on without a break: the next track's audio is already flowing, so only the
        // number changes and the time carries over. Past the last track (or to repeat this one) playback
        // ends through the drain like a file's; a data track ends the read too (a range never holds one),
        // and the next audio track starts anew, as it does when the reader went silent at this end for
        // a repeat that was turned off before it was heard.
        const std::uint32_t next = control_.currentTrack + 1;
        const bool ends = next > GetTrackCount() || repeat == 1 || IsDataTrack(next) ||
                          cdStream_.SilentAfter() == control_.currentTrack;
        {
            std::lock_guard lock(control_.mutex);
            control_.currentTrack = next;
            control_.playedBytes = PlayedBytesForMs(carried, rate);
            if (ends)
                control_.stopRequest = true;
            else
                control_.lastReportedMs = carried;
        }
        if (ends) {
            trackChangePending_ = true;
            return;
        }
        endRepeatMode_ = -1;
        Post(WM_PLAYER_POSITION, carried, static_cast<LPARAM>(next));
        return;
    }
    if (control_.readerTrack > control_.currentTrack && repeat != 1) {
        // Gapless: the reader ran on into the next file, whose audio is already flowing. As on a disc, only
        // the number changes and the time carries over.
        endRepeatMode_ = -1;
        const std::uint32_t next = control_.currentTrack + 1;
        {
            std::lock_guard lock(control_.mutex);
            control_.currentTrack = next;
            control_.playedBytes = PlayedBytesForMs(carried, rate);
            control_.lastReportedMs = carried;
        }
        Post(WM_PLAYER_POSITION, carried, static_cast<LPARAM>(next));
        return;
    }
    // The track is over: the next step follows the drain, in End of track.
    {
        std::lock_guard lock(control_.mutex);
        control_.currentTrack += 1;
        control_.stopRequest = true;
    }
    trackChangePending_ = true;
}

void CPlaybackEngine::CatchUpWithReader() {
    // The reader can be a file ahead of what was heard when a Pause drains a gapless run (the rest of a
    // chunk is dropped at a stop): a resume goes on in the reader's file, so that is the track now, at the
    // time its source has reached.
    if (control_.isCD || control_.readerTrack <= control_.currentTrack)
        return;
    const std::uint32_t track = control_.readerTrack;
    const std::uint32_t ms = sources_.PositionMs(control_.sourceKind);
    {
        std::lock_guard lock(control_.mutex);
        control_.currentTrack = track;
        control_.playedBytes = PlayedBytesForMs(ms, control_.trackRate);
        control_.lastReportedMs = ms;
        control_.heardMs = ms;
    }
    Post(WM_PLAYER_POSITION, ms, static_cast<LPARAM>(track));
}

void CPlaybackEngine::TakeSeekPosition() {
    std::uint32_t track = 0;
    std::uint32_t ms = 0;
    {
        std::lock_guard lock(control_.mutex);
        track = control_.currentTrack = control_.seekTrack;
        ms = control_.lastReportedMs = control_.seekToMs;
        control_.playedBytes = PlayedBytesForMs(ms, control_.trackRate);
        control_.heardMs = ms;
        control_.seekAtBlock = 0;
        control_.seekMs = -1;
        control_.seeking = false;
    }
    Post(WM_PLAYER_POSITION, ms, static_cast<LPARAM>(track));
}

void CPlaybackEngine::EndOfTrack() {
    // Playback ends here: nothing runs on the output until the next Play.
    const auto goIdle = [this] {
        {
            std::lock_guard lock(control_.mutex);
            control_.outputRun = false;
            control_.playing = 0;
            control_.idle = true;
        }
        control_.changed.notify_all();
    };
    const std::int32_t repeat = endRepeatMode_ >= 0 ? endRepeatMode_ : control_.repeatMode.load();
    endRepeatMode_ = -1;
    muteToEnd_ = false;
    if (!trackChangePending_) {
        // A Pause ended this playback. A seek not yet heard counts: the next Play goes on from there
        // (when the reader never took it, the track is selected there now).
        if (control_.seeking) {
            const bool taken = Read(&PlayerControl::seekMs) < 0;
            TakeSeekPosition();
            if (!taken) {
                const std::uint32_t ms = control_.lastReportedMs;
                SelectTrack(control_.currentTrack, ms);
                std::lock_guard lock(control_.mutex);
                control_.lastReportedMs = ms;
            }
        }
        CatchUpWithReader();
        goIdle();
        return;
    }
    trackChangePending_ = false;
    const std::uint32_t ended = control_.currentTrack;
    std::uint32_t track = 0;
    if (repeat == 1)
        track = ended - 1;
    else if (control_.isCD) {
        // Within the disc the position check already moved on; it stops at a data track, after which
        // the next audio track plays.
        const std::uint32_t next = ended <= GetTrackCount() ? AudioTrackFrom(ended) : 0;
        track = next != 0 ? next : (repeat == 2 ? 1 : 0);
    } else if (ended <= GetTrackCount())
        track = ended;
    else if (repeat == 2)
        track = 1;

    // A file that went away since the list was made is skipped: the next one that opens plays. A disc
    // plays on whatever the drive then delivers (its silence ends by the track's length).
    const std::uint32_t count = GetTrackCount();
    for (std::uint32_t tried = 0; track != 0 && SelectTrack(track, 0) == 0 && !control_.isCD; ++tried)
        track = tried + 1 >= count ? 0 : track < count ? track + 1 : repeat == 2 ? 1 : 0;
    if (track == 0) {
        Post(WM_PLAYER_END, 0, 0);
        goIdle();
        return;
    }
    if (const CDSDASIO* device = outputProcessor_.GetDSDASIO(0); device && !RateTaken(device)) {
        // The next file is at a rate the output does not take: it is not resampled, playback stops here.
        Post(WM_PLAYER_RATE_REFUSED, static_cast<WPARAM>(control_.currentTrack), 0);
        Post(WM_PLAYER_END, 0, 0);
        goIdle();
        return;
    }
    Post(WM_PLAYER_POSITION, 0, static_cast<LPARAM>(control_.currentTrack));
    // Play, on this thread. This thread opened the driver, and a device that failed during the run plays
    // the next one out unheard until the window's Stop arrives; so only Play's last step remains. It
    // runs under the lock together with playing = 0, so that a Pause sees either this playback or the
    // next one starting, never the gap between them.
    std::lock_guard lock(control_.mutex);
    control_.outputRun = false;
    control_.playing = 0;
    StartOrHonourPause();
}

} // namespace engine
