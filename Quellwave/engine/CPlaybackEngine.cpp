// The engine's public calls, made on the UI thread: initialising and ending, the list and the disc,
// selecting a track, Play and Pause, the level. The threads' own work is in CPlaybackEngineReader.cpp and
// CPlaybackEngineOutput.cpp.
#include "CPlaybackEngine.h"

#include "RateChoice.h"
#include "shell/Settings.h"

#include "Platform/Text.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace engine {

namespace {

std::uint32_t CappedMs(std::uint64_t ms) noexcept {
    // A header may declare more than 2^32 ms (about 3 TB of samples): such a length is capped rather than
    // wrapped to a short one.
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, std::numeric_limits<std::uint32_t>::max()));
}

} // namespace

CPlaybackEngine::CPlaybackEngine()
    : cdStream_(drive_, control_.repeatMode), join_(sources_, control_, list_) {}

CPlaybackEngine::~CPlaybackEngine() {
    Shutdown();
}

void CPlaybackEngine::SetDriverNameOverride(std::string driverName) {
    driverNameOverride_ = std::move(driverName);
}

void CPlaybackEngine::SetRFModeOverride(bool rfMode) {
    rfModeOverride_ = rfMode;
}

void CPlaybackEngine::SetGaplessOverride(bool gapless) {
    gaplessOverride_ = gapless;
}

void CPlaybackEngine::SetDsdRateOverride(DWORD rate) {
    dsdRateOverride_ = rate;
}

void CPlaybackEngine::SetLevelSelectorFactory(std::function<std::unique_ptr<CChanterel>()> factory) {
    levelSelectorFactory_ = std::move(factory);
}

// ---- lifetime --------------------------------------------------------------------------------------

HRESULT CPlaybackEngine::Initialize(platform::MessageTarget* window, UINT driverErrorMessage) {
    window_ = window;
    driverErrorMessage_ = driverErrorMessage;
    const bool rfMode = rfModeOverride_ ? *rfModeOverride_ : ReadRFMode();

    const bool threadsRunning = outputThread_.Joinable() || readerThread_.Joinable();
    {
        std::lock_guard lock(control_.mutex);
        control_.rfMode = rfMode;
        if (!control_.initialized) {
            // As made anew: nothing asked, nothing playing, the driver still to be opened.
            control_.initialized = true;
            control_.readerQuit = control_.outputQuit = false;
            control_.readerRun = control_.outputRun = false;
            control_.idle = true;
            control_.driver = DriverState::Opening;
        }
    }
    if (!workBuffers_) {
        workBuffers_ = std::make_unique<std::array<std::array<std::uint8_t, kDsdChannelBytes>, 6>>();
        for (std::size_t i = 0; i < workTable_.size(); ++i)
            workTable_[i] = (*workBuffers_)[i].data();
    }
    // Running threads use the rings; emptying them under their feet would tear blocks apart.
    if (!threadsRunning) {
        // Rings 0 and 1 carry the channels; the others are made as they always were and stay empty.
        for (std::size_t r = 0; r < rings_.size(); ++r)
            rings_[r].Create(r < 2 ? kRingStorage : kRingCapacity, kRingDefaultRead, kRingDefaultWrite,
                             false);
    }
    StartThreads();

    if (levelSelector_)
        return S_OK;
    try {
        levelSelector_ = levelSelectorFactory_ ? levelSelectorFactory_() : std::make_unique<CChanterel>();
    } catch (const std::bad_alloc&) {
        levelSelector_.reset();
    }
    if (!levelSelector_)
        return E_FAIL;
    // The level follows whichever driver the output device has open, and sets the preview's gain on it.
    levelSelector_->SetOutput(outputProcessor_.GetDSDASIO(0));
    if (!levelSelector_->Initialize(true, true)) {
        levelSelector_.reset();
        return E_FAIL;
    }
    return S_OK;
}

int CPlaybackEngine::StartThreads() {
    if (outputThread_.Joinable() || readerThread_.Joinable())
        return kThreadsAlreadyRunning;
    {
        std::lock_guard lock(control_.mutex);
        if (!control_.initialized)
            return 0;
        control_.outputQuit = false;
        control_.outputRun = false;
        control_.playing = 0;
        // Zeroed here rather than by the output thread once it has primed the device: by then the UI
        // thread may already have selected a track at an offset, whose played bytes must survive.
        control_.playedBytes = 0;
        control_.lastReportedMs = 0;
        control_.readerQuit = false;
        control_.readerRun = false;
    }
    try {
        outputThread_ = platform::Thread([this] { OutputThread(); }, platform::ThreadPriority::TimeCritical);
        readerThread_ = platform::Thread([this] { ReaderThread(); }, platform::ThreadPriority::Normal);
    } catch (const std::system_error&) {
        StopThreads();
        return 0;
    }
    return 1;
}

int CPlaybackEngine::StopThreads() {
    if (readerThread_.Joinable()) {
        {
            std::lock_guard lock(control_.mutex);
            control_.readerQuit = true;
        }
        control_.changed.notify_all();
        readerThread_.Join();
        readerThread_ = platform::Thread();
    }
    if (outputThread_.Joinable()) {
        {
            std::lock_guard lock(control_.mutex);
            control_.outputQuit = true;
        }
        control_.changed.notify_all();
        outputThread_.Join();
        outputThread_ = platform::Thread();
    }
    {
        std::lock_guard lock(control_.mutex);
        control_.playing = 0;
        // Nothing plays or starts any more: a later Pause must find the engine idle rather than wait for
        // an output thread that is gone.
        control_.readerRun = false;
        control_.idle = true;
    }
    control_.changed.notify_all();
    return 1;
}

int CPlaybackEngine::Shutdown() {
    StopThreads();
    {
        std::lock_guard lock(control_.mutex);
        control_.initialized = false;
    }
    workBuffers_.reset();
    workTable_.fill(nullptr);
    if (levelSelector_) {
        levelSelector_->Uninitialize(false);
        levelSelector_.reset();
    }
    return 0;
}

// ---- the list and the disc -------------------------------------------------------------------------

int CPlaybackEngine::OpenFiles(const std::vector<std::string>& paths) {
    CloseDrive();
    CloseFiles();
    // DSD files go to the device unconverted, which only suits a setup made for them: they are accepted
    // only in RF mode.
    const bool rfMode = rfModeOverride_ ? *rfModeOverride_ : ReadRFMode();
    {
        std::lock_guard lock(control_.mutex);
        control_.rfMode = rfMode;
    }
    CWaveSource& wave = sources_.Wave();
    CDsdFileSource& dsd = sources_.Dsd();
    CPcmFileSource& pcm = sources_.Pcm();
    for (const std::string& path : paths) {
        if (wave.Open(path.c_str())) {
            list_.files.push_back(path);
            list_.lengthsMs.push_back(static_cast<std::uint32_t>(wave.LengthMs()));
            list_.joinKinds.push_back(GaplessJoin::kJoinWave);
            wave.Close();
        } else if (rfMode && dsd.Open(path.c_str(), 1, 1)) {
            list_.files.push_back(path);
            list_.lengthsMs.push_back(CappedMs(dsd.LengthMs()));
            list_.joinKinds.push_back(
                std::max(dsd.Format().samplingFrequency, GaplessJoin::kJoinPcmFile + 1));
            dsd.Close();
        } else if (pcm.Open(path.c_str())) {
            list_.files.push_back(path);
            list_.lengthsMs.push_back(CappedMs(pcm.LengthMs()));
            list_.joinKinds.push_back(GaplessJoin::kJoinPcmFile);
            pcm.Close();
        }
    }
    if (list_.files.empty())
        return 0;
    {
        std::lock_guard lock(control_.mutex);
        control_.sourceOpen = true;
        control_.isCD = false;
        control_.currentTrack = 1;
        control_.readerTrack = 1;
    }
    if (const std::int32_t kind = OpenTrackFile(list_.files.front()); kind != kSourceNone) {
        const DsdRate rate = IsDsdKind(kind) ? sources_.Dsd().Rate() : PcmRate();
        std::lock_guard lock(control_.mutex);
        control_.sourceKind = kind;
        control_.trackRate = rate;
    }
    return 1;
}

std::int32_t CPlaybackEngine::OpenTrackFile(const std::string& path) {
    return sources_.Open(path, RFMode());
}

int CPlaybackEngine::CloseFiles() {
    if (SourceOpen() && !IsCD()) {
        list_.files.clear();
        list_.lengthsMs.clear();
        list_.joinKinds.clear();
        sources_.Close();
        std::lock_guard lock(control_.mutex);
        control_.sourceOpen = false;
    }
    return 1;
}

std::uint32_t CPlaybackEngine::GetTrackCount() const {
    if (!SourceOpen())
        return 0;
    if (IsCD()) {
        unsigned long count = 0;
        if (!drive_.GetTrackNum(count))
            return 0;
        // Data tracks after the last audio track (a disc with a data session) are not part of the album.
        while (count > 0 && IsDataTrack(static_cast<std::uint32_t>(count)))
            --count;
        return static_cast<std::uint32_t>(count);
    }
    return static_cast<std::uint32_t>(list_.files.size());
}

bool CPlaybackEngine::GetTrackLength(std::uint32_t track, std::uint32_t* ms) const {
    if (!SourceOpen() || ms == nullptr)
        return false;
    if (IsCD()) {
        unsigned long length = 0;
        const bool known = drive_.GetTrackLength(track, length);
        *ms = static_cast<std::uint32_t>(length);
        return known;
    }
    if (track == 0 || track > list_.lengthsMs.size())
        return false;
    *ms = list_.lengthsMs[track - 1];
    return true;
}

int CPlaybackEngine::GetFileList(std::vector<std::string>* files) const {
    if (files)
        *files = list_.files;
    return 0;
}

int CPlaybackEngine::SelectTrack(std::uint32_t track, std::uint32_t offsetMs) {
    if (!SourceOpen())
        return 0;
    if (IsCD()) {
        // A data track holds no audio: the next audio track plays instead, from its start.
        if (const std::uint32_t audio = AudioTrackFrom(track); audio != 0 && audio != track) {
            track = audio;
            offsetMs = 0;
        }
        const DsdRate rate = PcmRate();
        {
            std::lock_guard lock(control_.mutex);
            control_.currentTrack = track;
            control_.readerTrack = track;
            control_.lastReportedMs = 0;
            control_.trackRate = rate;
            control_.playedBytes = PlayedBytesForMs(offsetMs, rate);
            control_.heardMs = offsetMs;
        }
        cdStream_.Start(track, offsetMs);
        return drive_.SetPosition(track, offsetMs) ? 1 : 0;
    }
    sources_.Close();
    {
        std::lock_guard lock(control_.mutex);
        control_.currentTrack = track;
        control_.readerTrack = track;
    }
    if (track == 0 || track > list_.files.size())
        throw std::invalid_argument("CPlaybackEngine::SelectTrack: no such track");
    const std::int32_t kind = OpenTrackFile(list_.files[track - 1]);
    if (kind == kSourceNone)
        return 0;
    const DsdRate rate = IsDsdKind(kind) ? sources_.Dsd().Rate() : PcmRate();
    {
        std::lock_guard lock(control_.mutex);
        control_.sourceKind = kind;
        control_.trackRate = rate;
        control_.playedBytes = PlayedBytesForMs(offsetMs, rate);
        control_.lastReportedMs = 0;
        control_.heardMs = offsetMs;
    }
    sources_.SeekTo(kind, offsetMs, rate);
    return 1;
}

int CPlaybackEngine::Seek(std::uint32_t ms) {
    std::uint32_t length = 0;
    const std::uint32_t track = CurrentTrack();
    if (!GetTrackLength(track, &length) || ms >= length)
        return 0;
    {
        std::lock_guard lock(control_.mutex);
        if (!control_.initialized)
            return 0;
        if (!IdleLocked()) {
            // A run plays or starts: the reader moves it. A run that is ending keeps its position.
            if (control_.stopRequest || control_.seeking)
                return 0;
            control_.seekTrack = track;
            control_.seekMs = ms;
            control_.seekToMs = ms;
            control_.seekAtBlock = 0;
            control_.seeking = true;
            control_.lastReportedMs = ms;
            control_.changed.notify_all();
            // The output reports the new place when it gets there: a report of its own from before the
            // seek cannot then follow this one.
            return 1;
        }
    }
    // Nothing plays: the output waits for a start that only this thread can give.
    if (SelectTrack(track, ms) == 0)
        return 0;
    {
        std::lock_guard lock(control_.mutex);
        control_.lastReportedMs = ms;
    }
    Post(WM_PLAYER_POSITION, ms, static_cast<LPARAM>(track));
    return 1;
}

// ---- Play and Pause --------------------------------------------------------------------------------

int CPlaybackEngine::Play() {
    {
        // Normally this waits only while the output thread opens the driver at start-up. When the
        // opening failed the thread has ended and will never report it ready: give up at once instead.
        std::unique_lock lock(control_.mutex);
        if (!control_.initialized)
            return 0;
        control_.changed.wait(lock, [this] { return control_.driver != DriverState::Opening; });
        if (control_.playing == 1)
            return 1;
        if (control_.driver != DriverState::Ready)
            return 0;
    }
    // After StopThreads nothing would ever take the blocks.
    if (!outputThread_.Joinable())
        return 0;
    CDSDASIO* device = outputProcessor_.GetDSDASIO(0);
    if (device == nullptr)
        return 0;
    if (!device->open && Idle()) {
        // The device failed and was closed: open it again. Nothing touches the device while the engine
        // is idle (the output thread waits for a start that only this thread can give).
        const std::u16string name = platform::Utf8ToUtf16(DriverName());
        outputProcessor_.LockProcess();
        const bool opened = device->OpenDriver(name.c_str(), TrackRate());
        outputProcessor_.UnlockProcess();
        if (!opened)
            return 0;
    }
    const bool gapless = gaplessOverride_ ? *gaplessOverride_ : ReadGaplessPlayback();
    const DsdRate pcmRate = PcmRate();
    {
        std::lock_guard lock(control_.mutex);
        control_.gapless = gapless;
        if (IdleLocked() && (control_.isCD || !IsDsdKind(control_.sourceKind))) {
            // PCM plays at the rate asked for as far as the output takes it: the output may have been
            // opened (or the setting changed) since the track was selected. The position carries over,
            // scaled to the new rate (whole stereo bytes); at the same rate it stays exact.
            const DsdRate before = control_.trackRate;
            control_.trackRate = pcmRate;
            if (before != pcmRate)
                control_.playedBytes = control_.playedBytes * platform::DsdRateMultiple(pcmRate) /
                                       platform::DsdRateMultiple(before) / 2 * 2;
        }
    }
    if (!RateTaken(device))
        return 0;
    std::lock_guard lock(control_.mutex);
    StartOrHonourPause();
    return 1;
}

void CPlaybackEngine::StartOrHonourPause() {
    if (!control_.idle) {
        // A Pause is waiting for the end of playback: it wins, nothing starts, and it is released.
        control_.idle = true;
        control_.stopRequest = false;
        control_.changed.notify_all();
        return;
    }
    control_.endOfData = false;
    control_.stopRequest = false;
    control_.readerRun = true;
    control_.changed.notify_all();
}

bool CPlaybackEngine::IdleLocked() const {
    return control_.playing == 0 && !control_.readerRun && control_.idle;
}

bool CPlaybackEngine::Idle() const {
    std::lock_guard lock(control_.mutex);
    return IdleLocked();
}

int CPlaybackEngine::Pause() {
    // Without the output thread nothing plays, and nothing would ever release the wait below.
    if (!outputThread_.Joinable())
        return 1;
    std::unique_lock lock(control_.mutex);
    if (!control_.initialized)
        return 1;
    // A Play whose reader has not yet handed the first blocks to the output counts as playing: it will
    // play, so it must be stopped too.
    if (control_.playing != 1 && !(control_.playing == 0 && control_.readerRun))
        return 1;
    control_.idle = false;
    control_.stopRequest = true;
    control_.changed.wait(lock, [this] { return control_.idle; });
    return 1;
}

void CPlaybackEngine::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (window_)
        window_->post(msg, wParam, lParam);
}

} // namespace engine
