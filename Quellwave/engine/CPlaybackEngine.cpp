#include "CPlaybackEngine.h"

#include "shell/Settings.h"

#include "DiscPilotDiagnostics.h"

#include "Platform/CdAddress.h"
#include "Platform/Text.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace engine {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(10);

// Elapsed ms of a count of played bytes (both channels) at the rate: DSD64 has 352 800 bytes per second
// of one channel (2 822 400 / 8), the higher rates two and four times that.
std::uint32_t PlayedMs(std::uint64_t playedBytes, DsdRate rate) noexcept {
    return static_cast<std::uint32_t>(((playedBytes / 2) * 1000) / platform::DsdBytesPerSecond(rate));
}

// The smallest played-bytes count, in whole stereo bytes, whose PlayedMs is ms.
std::uint64_t PlayedBytesForMs(std::uint32_t ms, DsdRate rate) noexcept {
    return ((std::uint64_t{ms} * platform::DsdBytesPerSecond(rate) + 999) / 1000) * 2;
}

// The DSD file source counts 4-byte elements per channel: 88 200 a second at DSD64.
std::uint64_t DsdElementsPerSecond(DsdRate rate) noexcept {
    return platform::DsdBytesPerSecond(rate) / 4;
}

int Multiple(DsdRate rate) noexcept {
    return platform::DsdRateMultiple(rate);
}

bool IsSet(const std::unique_ptr<platform::Event>& event) noexcept {
    return event && event->TryWait(); // manual-reset: only looks
}

} // namespace

// The wave source as the chunk producers' PCM reader.
class CPlaybackEngine::WaveReader final : public PcmReader {
public:
    explicit WaveReader(CWaveSource& source) : source_(source) {}
    void ReadPcm(void* buffer, std::uint32_t byteCount) override {
        // Read zero-fills first; a short or failed read leaves silence, and tracks end by elapsed time.
        if (!source_.Read(buffer, byteCount) && !source_.IsOpen())
            std::memset(buffer, 0, byteCount);
    }

private:
    CWaveSource& source_;
};

// The PCM file source as the chunk producers' reader: already 44 100 Hz packed 24-bit stereo.
class CPlaybackEngine::PcmFileReader final : public PcmReader {
public:
    explicit PcmFileReader(CPcmFileSource& source) : source_(source) {}
    void ReadPcm(void* buffer, std::uint32_t byteCount) override {
        if (!source_.Read(buffer, byteCount) && !source_.IsOpen())
            std::memset(buffer, 0, byteCount);
    }

private:
    CPcmFileSource& source_;
};

// A gapless run's PCM: whichever file the sources hold, as packed 24-bit stereo (16-bit WAV samples widened,
// which the up-converter takes exactly as it takes them at 16 bits), running on into the next file of the
// list inside one read when the engine joins it.
class CPlaybackEngine::JoinedPcmReader final : public PcmReader {
public:
    explicit JoinedPcmReader(CPlaybackEngine& engine)
        : engine_(engine), narrow_(std::size_t{kSteadyChunkUnits} * kUnitFrames * 4) {}

    void ReadPcm(void* buffer, std::uint32_t byteCount) override {
        auto* bytes = static_cast<std::uint8_t*>(buffer);
        std::memset(bytes, 0, byteCount);
        std::uint32_t done = 0;
        while (done < byteCount) {
            done += ReadFromSource(bytes + done, byteCount - done);
            if (done >= byteCount || !engine_.JoinNextTrack())
                break;
        }
    }

private:
    static constexpr std::uint32_t kFrameBytes = 6;

    // Up to byteCount bytes of whole frames from the file the sources hold; the count that holds audio.
    std::uint32_t ReadFromSource(std::uint8_t* out, std::uint32_t byteCount) {
        const std::uint32_t frames = byteCount / kFrameBytes;
        switch (engine_.sourceKind_.load()) {
        case kSourcePcmFile:
            return static_cast<std::uint32_t>(engine_.pcmSource_.ReadFrames(out, frames)) * kFrameBytes;
        case kSourceWave24: {
            const std::uint64_t before = engine_.waveSource_.ReadPosition();
            engine_.waveSource_.Read(out, frames * kFrameBytes);
            return static_cast<std::uint32_t>(engine_.waveSource_.ReadPosition() - before);
        }
        default: {
            const std::uint32_t wanted =
                std::min<std::uint32_t>(frames, static_cast<std::uint32_t>(narrow_.size() / 4));
            const std::uint64_t before = engine_.waveSource_.ReadPosition();
            engine_.waveSource_.Read(narrow_.data(), wanted * 4);
            const auto got = static_cast<std::uint32_t>((engine_.waveSource_.ReadPosition() - before) / 2);
            for (std::uint32_t i = 0; i < got; ++i) {
                out[3 * i] = 0;
                out[3 * i + 1] = narrow_[2 * i];
                out[3 * i + 2] = narrow_[2 * i + 1];
            }
            return got / 2 * kFrameBytes;
        }
        }
    }

    CPlaybackEngine& engine_;
    std::vector<std::uint8_t> narrow_; // one steady chunk of 16-bit PCM
};

// A gapless run's DSD: the next file of the list follows in the same source.
class CPlaybackEngine::DsdJoin final : public DsdContinuation {
public:
    explicit DsdJoin(CPlaybackEngine& engine) : engine_(engine) {}
    bool Continue() override { return engine_.JoinNextTrack(); }

private:
    CPlaybackEngine& engine_;
};

// A gapless run's PCM file source: it decodes on into the next file of the list through the same resampler.
class CPlaybackEngine::PcmFollow final : public PcmFileFollower {
public:
    explicit PcmFollow(CPlaybackEngine& engine) : engine_(engine) {}
    const char* NextPath() override { return engine_.NextPcmFilePath(); }
    void Followed() override { engine_.readerTrack_ += 1; }

private:
    CPlaybackEngine& engine_;
};

// The CD as the chunk producers' PCM reader: the disc is one continuous stream from the selected track on.
// It also follows the track boundaries in that stream, so that a track that is to repeat ends in silence
// (as a file does) instead of running on into the next track while the output plays out what it holds.
class CPlaybackEngine::CdReader final : public PcmReader {
public:
    CdReader(CDiscPilot& drive, const std::atomic<std::int32_t>& repeatMode)
        : drive_(drive), repeatMode_(repeatMode) {}

    // A new read from offsetMs into track; the reader thread is idle.
    void Start(std::uint32_t track, std::uint32_t offsetMs) {
        track_ = track;
        blank_ = false;
        const std::uint64_t sectors = TrackSectors(track);
        const std::uint64_t offset = std::uint64_t{offsetMs} * 3 / 40;
        leftInTrack_ = sectors > offset ? (sectors - offset) * kSectorBytes : 0;
    }

    void ReadPcm(void* buffer, std::uint32_t byteCount) override {
        // What the drive does not deliver (a read failure, the end of the disc) plays as silence; the
        // track still ends by its length.
        auto* bytes = static_cast<std::uint8_t*>(buffer);
        std::memset(bytes, 0, byteCount);
        drive_.GetData(bytes, byteCount);
        std::uint32_t done = 0;
        while (done < byteCount && !blank_) {
            if (leftInTrack_ == 0) {
                if (repeatMode_ == 1) {
                    blank_ = true;
                    break;
                }
                const std::uint64_t next = TrackSectors(track_ + 1);
                if (next == 0) {
                    return; // past the last track the drive delivers nothing anyway
                }
                ++track_;
                leftInTrack_ = next * kSectorBytes;
            }
            const auto n =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(leftInTrack_, byteCount - done));
            leftInTrack_ -= n;
            done += n;
        }
        if (blank_)
            std::memset(bytes + done, 0, byteCount - done);
    }

private:
    static constexpr std::uint64_t kSectorBytes = platform::kCdSectorBytes;

    // The exact sector count behind a length in ms (ms = sectors × 40 / 3, truncated); 0 for no track.
    std::uint64_t TrackSectors(std::uint32_t track) const {
        unsigned long ms = 0;
        if (!drive_.GetTrackLength(track, ms))
            return 0;
        return (std::uint64_t{ms} * 3 + 39) / 40;
    }

    CDiscPilot& drive_;
    const std::atomic<std::int32_t>& repeatMode_;
    std::uint32_t track_ = 0;
    std::uint64_t leftInTrack_ = 0;
    bool blank_ = false;
};

CPlaybackEngine::CPlaybackEngine()
    : waveReader_(std::make_unique<WaveReader>(waveSource_)),
      pcmReader_(std::make_unique<PcmFileReader>(pcmSource_)),
      joinedReader_(std::make_unique<JoinedPcmReader>(*this)), dsdJoin_(std::make_unique<DsdJoin>(*this)),
      pcmFollow_(std::make_unique<PcmFollow>(*this)),
      cdReader_(std::make_unique<CdReader>(drive_, repeatMode_)) {}

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

void CPlaybackEngine::SetLevelSelectorFactory(std::function<std::unique_ptr<CChanterel>()> factory) {
    levelSelectorFactory_ = std::move(factory);
}

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

HRESULT CPlaybackEngine::Initialize(platform::MessageTarget* window, UINT driverErrorMessage) {
    window_ = window;
    driverErrorMessage_ = driverErrorMessage;
    rfMode_ = rfModeOverride_ ? *rfModeOverride_ : ReadRFMode();

    const bool threadsRunning = outputThread_.Joinable() || readerThread_.Joinable();
    if (!outputQuit_) {
        outputQuit_ = std::make_unique<platform::Event>(true, false);
        readerQuit_ = std::make_unique<platform::Event>(true, false);
        idle_ = std::make_unique<platform::Event>(true, true);
        readerRun_ = std::make_unique<platform::Event>(true, false);
        outputRun_ = std::make_unique<platform::Event>(true, false);
        driverReady_ = std::make_unique<platform::Event>(true, false);
        driverFailed_ = std::make_unique<platform::Event>(true, false);
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
    if (!outputQuit_)
        return 0;
    outputQuit_->Reset();
    outputRun_->Reset();
    playing_ = 0;
    // Zeroed here rather than by the output thread once it has primed the device: by then the UI thread
    // may already have selected a track at an offset, whose played bytes must survive.
    playedBytes_ = 0;
    lastReportedMs_ = 0;
    try {
        outputThread_ = platform::Thread([this] { OutputThread(); }, platform::ThreadPriority::TimeCritical);
        readerQuit_->Reset();
        readerRun_->Reset();
        readerThread_ = platform::Thread([this] { ReaderThread(); }, platform::ThreadPriority::Normal);
    } catch (const std::system_error&) {
        StopThreads();
        return 0;
    }
    return 1;
}

int CPlaybackEngine::StopThreads() {
    if (readerThread_.Joinable()) {
        readerQuit_->Set();
        readerThread_.Join();
        readerThread_ = platform::Thread();
    }
    if (outputThread_.Joinable()) {
        outputQuit_->Set();
        outputThread_.Join();
        outputThread_ = platform::Thread();
    }
    playing_ = 0;
    // Nothing plays or starts any more: a later Pause must find the engine idle rather than wait for an
    // output thread that is gone.
    if (readerRun_)
        readerRun_->Reset();
    if (idle_)
        idle_->Set();
    return 1;
}

int CPlaybackEngine::Shutdown() {
    StopThreads();
    outputQuit_.reset();
    readerQuit_.reset();
    idle_.reset();
    readerRun_.reset();
    outputRun_.reset();
    driverReady_.reset();
    driverFailed_.reset();
    workBuffers_.reset();
    workTable_.fill(nullptr);
    if (levelSelector_) {
        levelSelector_->Uninitialize(false);
        levelSelector_.reset();
    }
    return 0;
}

int CPlaybackEngine::OpenFiles(const std::vector<std::string>& paths) {
    CloseDrive();
    CloseFiles();
    // DSD files go to the device unconverted, which only suits a setup made for them: they are accepted
    // only in RF mode.
    rfMode_ = rfModeOverride_ ? *rfModeOverride_ : ReadRFMode();
    for (const std::string& path : paths) {
        if (waveSource_.Open(path.c_str())) {
            fileList_.push_back(path);
            trackLengths_.push_back(static_cast<std::uint32_t>(waveSource_.LengthMs()));
            trackJoinKinds_.push_back(kJoinWave);
            waveSource_.Close();
        } else if (rfMode_.load() && dsdSource_.Open(path.c_str(), 1, 1)) {
            fileList_.push_back(path);
            // A header may declare more than 2^32 ms (about 3 TB of samples): such a length is capped
            // rather than wrapped to a short one.
            trackLengths_.push_back(static_cast<std::uint32_t>(
                std::min<std::uint64_t>(dsdSource_.LengthMs(), std::numeric_limits<std::uint32_t>::max())));
            trackJoinKinds_.push_back(std::max(dsdSource_.Format().samplingFrequency, kJoinPcmFile + 1));
            dsdSource_.Close();
        } else if (pcmSource_.Open(path.c_str())) {
            fileList_.push_back(path);
            trackLengths_.push_back(static_cast<std::uint32_t>(
                std::min<std::uint64_t>(pcmSource_.LengthMs(), std::numeric_limits<std::uint32_t>::max())));
            trackJoinKinds_.push_back(kJoinPcmFile);
            pcmSource_.Close();
        }
    }
    if (fileList_.empty())
        return 0;
    sourceOpen_ = true;
    isCD_ = false;
    currentTrack_ = 1;
    readerTrack_ = 1;
    if (waveSource_.Open(fileList_.front().c_str())) {
        sourceKind_ = waveSource_.BytesPerSample() == 2 ? kSourceWave16 : kSourceWave24;
        trackRate_ = PcmRate();
    } else {
        OpenOtherFile(fileList_.front());
    }
    return 1;
}

bool CPlaybackEngine::OpenOtherFile(const std::string& path) {
    if (rfMode_.load() && OpenDsdFile(path))
        return true;
    if (!pcmSource_.Open(path.c_str()))
        return false;
    sourceKind_ = kSourcePcmFile;
    trackRate_ = PcmRate();
    return true;
}

bool CPlaybackEngine::PlayingTrackLength(std::uint32_t* ms) const {
    if (!GetTrackLength(currentTrack_, ms))
        return false;
    // Once a gapless run has moved the sources on to a later file, the early end they know is that file's.
    if (!isCD_ && sourceKind_ == kSourcePcmFile && readerTrack_ <= currentTrack_)
        *ms = std::min(*ms, pcmSource_.EarlyEndMs());
    return true;
}

bool CPlaybackEngine::OpenDsdFile(const std::string& path) {
    if (!dsdSource_.Open(path.c_str(), 1, 1))
        return false;
    sourceKind_ = dsdSource_.IsDsdiff() ? kSourceDsdiff : kSourceDsf;
    trackRate_ = dsdSource_.Rate();
    return true;
}

int CPlaybackEngine::CloseFiles() {
    if (sourceOpen_ && !isCD_) {
        fileList_.clear();
        trackLengths_.clear();
        trackJoinKinds_.clear();
        waveSource_.Close();
        dsdSource_.Close();
        pcmSource_.Close();
        sourceOpen_ = false;
    }
    return 1;
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
    isCD_ = true;
    sourceOpen_ = true;
    return 1;
}

int CPlaybackEngine::CloseDrive() {
    if (sourceOpen_ && isCD_) {
        // The reader thread may be inside the drive's GetData: closing the drive under it would free what
        // it reads. Playback ends first, with its fade-out.
        Pause();
        drive_.CloseDrive();
        sourceOpen_ = false;
        isCD_ = false;
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

std::uint32_t CPlaybackEngine::GetTrackCount() const {
    if (!sourceOpen_)
        return 0;
    if (isCD_) {
        unsigned long count = 0;
        if (!drive_.GetTrackNum(count))
            return 0;
        // Data tracks after the last audio track (a disc with a data session) are not part of the album.
        while (count > 0 && IsDataTrack(static_cast<std::uint32_t>(count)))
            --count;
        return static_cast<std::uint32_t>(count);
    }
    return static_cast<std::uint32_t>(fileList_.size());
}

bool CPlaybackEngine::GetTrackLength(std::uint32_t track, std::uint32_t* ms) const {
    if (!sourceOpen_ || ms == nullptr)
        return false;
    if (isCD_) {
        unsigned long length = 0;
        const bool known = drive_.GetTrackLength(track, length);
        *ms = static_cast<std::uint32_t>(length);
        return known;
    }
    if (track == 0 || track > trackLengths_.size())
        return false;
    *ms = trackLengths_[track - 1];
    return true;
}

int CPlaybackEngine::GetFileList(std::vector<std::string>* files) const {
    if (files)
        *files = fileList_;
    return 0;
}

int CPlaybackEngine::SelectTrack(std::uint32_t track, std::uint32_t offsetMs) {
    if (!sourceOpen_)
        return 0;
    if (isCD_) {
        // A data track holds no audio: the next audio track plays instead, from its start.
        if (const std::uint32_t audio = AudioTrackFrom(track); audio != 0 && audio != track) {
            track = audio;
            offsetMs = 0;
        }
        currentTrack_ = track;
        readerTrack_ = track;
        lastReportedMs_ = 0;
        trackRate_ = PcmRate();
        playedBytes_ = PlayedBytesForMs(offsetMs, trackRate_);
        cdReader_->Start(track, offsetMs);
        return drive_.SetPosition(track, offsetMs) ? 1 : 0;
    }
    waveSource_.Close();
    dsdSource_.Close();
    pcmSource_.Close();
    currentTrack_ = track;
    readerTrack_ = track;
    if (track == 0 || track > fileList_.size())
        throw std::invalid_argument("CPlaybackEngine::SelectTrack: no such track");
    const std::string& path = fileList_[track - 1];
    if (!waveSource_.Open(path.c_str())) {
        if (!OpenOtherFile(path))
            return 0;
        playedBytes_ = PlayedBytesForMs(offsetMs, trackRate_);
        lastReportedMs_ = 0;
        if (sourceKind_ == kSourcePcmFile) {
            pcmSource_.SeekMs(offsetMs);
            return 1;
        }
        // The source counts 4-byte elements per channel. A position past the end fails and leaves nothing
        // to read: the track then plays silence and ends by its elapsed time at once.
        dsdSource_.Seek((std::uint64_t{offsetMs} * DsdElementsPerSecond(trackRate_)) / 1000);
        return 1;
    }
    const std::uint32_t bytesPerSample = waveSource_.BytesPerSample();
    sourceKind_ = bytesPerSample == 2 ? kSourceWave16 : kSourceWave24;
    trackRate_ = PcmRate();
    playedBytes_ = PlayedBytesForMs(offsetMs, trackRate_);
    lastReportedMs_ = 0;
    waveSource_.Seek(WaveDataOffsetForMs(offsetMs, bytesPerSample));
    return 1;
}

int CPlaybackEngine::Play() {
    if (!driverReady_)
        return 0;
    // Normally this waits only while the output thread opens the driver at start-up. When the opening
    // failed the thread has ended and will never set the ready event: give up at once instead.
    const std::size_t which = platform::WaitAny({driverReady_.get(), driverFailed_.get()});
    if (playing_ == 1)
        return 1;
    if (which != 0)
        return 0;
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
        const bool opened = device->OpenDriver(name.c_str(), trackRate_);
        outputProcessor_.UnlockProcess();
        if (!opened)
            return 0;
    }
    gapless_ = gaplessOverride_ ? *gaplessOverride_ : ReadGaplessPlayback();
    if (Idle() && (isCD_ || (sourceKind_ != kSourceDsf && sourceKind_ != kSourceDsdiff))) {
        // PCM plays at the rate asked for as far as the output takes it: the output may have been opened
        // (or the setting changed) since the track was selected. The position carries over.
        const DsdRate before = trackRate_;
        trackRate_ = PcmRate();
        playedBytes_ = PlayedBytesForMs(PlayedMs(playedBytes_, before), trackRate_);
    }
    if (!RateTaken(device))
        return 0;
    std::lock_guard lock(stateLock_);
    StartOrHonourPause();
    return 1;
}

bool CPlaybackEngine::RateTaken(const CDSDASIO* device) {
    const DsdRate rate = trackRate_;
    const platform::DsdRateSet rates = device->Rates();
    if (platform::DsdRateSetHas(rates, rate))
        return true;
    std::lock_guard lock(rateRefusalLock_);
    rateRefusal_ = "the output \"" + DriverName() + "\" does not take " + platform::DsdRateName(rate) +
                   "; it takes " + platform::DsdRateSetText(rates);
    return false;
}

std::string CPlaybackEngine::RateRefusal() const {
    std::lock_guard lock(rateRefusalLock_);
    return rateRefusal_;
}

DsdRate CPlaybackEngine::PcmRate() const {
    const DWORD setting = dsdRateOverride_ ? *dsdRateOverride_ : ReadDsdRate();
    const DsdRate wanted = platform::DsdRateFromNumber(DsdRateFromSetting(setting)).value_or(DsdRate::kDsd64);
    // The highest rate the output takes, up to the one asked for; DSD64 when nothing is open yet (the
    // output thread opens the driver at start-up, before any track plays).
    const CDSDASIO* device = outputProcessor_.GetDSDASIO(0);
    const platform::DsdRateSet rates = device ? device->Rates() : 0;
    return platform::HighestDsdRate(rates, wanted).value_or(DsdRate::kDsd64);
}

void CPlaybackEngine::SetDsdRateOverride(DWORD rate) {
    dsdRateOverride_ = rate;
}

void CPlaybackEngine::StartOrHonourPause() {
    if (!IsSet(idle_)) {
        // A Pause is waiting for the end of playback: it wins, nothing starts, and it is released.
        idle_->Set();
        stopRequest_ = false;
        return;
    }
    endOfData_ = false;
    stopRequest_ = false;
    readerRun_->Set();
}

bool CPlaybackEngine::Idle() const {
    return playing_ == 0 && !StartIsPending() && IsSet(idle_);
}

bool CPlaybackEngine::StartIsPending() const {
    return playing_ == 0 && IsSet(readerRun_);
}

int CPlaybackEngine::Pause() {
    // Without the output thread nothing plays, and nothing would ever release the wait below.
    if (!idle_ || !outputThread_.Joinable())
        return 1;
    {
        std::lock_guard lock(stateLock_);
        // A Play whose reader has not yet handed the first blocks to the output counts as playing: it
        // will play, so it must be stopped too.
        if (playing_ != 1 && !StartIsPending())
            return 1;
        idle_->Reset();
        stopRequest_ = true;
    }
    idle_->Wait();
    return 1;
}

HRESULT CPlaybackEngine::SetLevel(float level) {
    if (!levelSelector_)
        return E_FAIL;
    levelSelector_->SetRFPlaybackMute(false);
    if (level == currentLevel_.load())
        return S_OK;
    if (!levelSelector_->SetRFPlayBackLevelALL(level))
        return E_FAIL;
    currentLevel_ = level;
    return S_OK;
}

HRESULT CPlaybackEngine::GetLevel(float* level) {
    if (!levelSelector_)
        return E_FAIL;
    float louder = 0.0f;
    for (long channel = 0; channel < 2; ++channel) {
        if (levelSelector_->GetRFPlaybackLevel(channel) > louder)
            louder = levelSelector_->GetRFPlaybackLevel(channel);
    }
    currentLevel_ = louder;
    if (level)
        *level = louder;
    return S_OK;
}

bool CPlaybackEngine::SetMute(bool mute) {
    return levelSelector_ && levelSelector_->SetRFPlaybackMute(mute);
}

bool CPlaybackEngine::GetMute() {
    return levelSelector_ && levelSelector_->GetRFPlaybackMute();
}

void CPlaybackEngine::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (window_)
        window_->post(msg, wParam, lParam);
}

// ---- reader thread ---------------------------------------------------------------------------------

bool CPlaybackEngine::JoinNextTrack() {
    // A stop asks for this file's fade-out, and a track to repeat ends in silence as without gapless play.
    if (joinFailed_ || stopRequest_ || repeatMode_ == 1)
        return false;
    const std::uint32_t from = readerTrack_;
    const std::uint32_t to = from + 1;
    if (from == 0 || to > fileList_.size() ||
        JoinClass(trackJoinKinds_[to - 1]) != JoinClass(trackJoinKinds_[from - 1]))
        return false;
    const std::string& path = fileList_[to - 1];
    waveSource_.Close();
    dsdSource_.Close();
    pcmSource_.Close();
    bool opened = false;
    if (JoinClass(trackJoinKinds_[to - 1]) != kJoinWave) {
        opened = OpenDsdFile(path);
    } else if (waveSource_.Open(path.c_str()) && waveSource_.Seek(0)) {
        sourceKind_ = waveSource_.BytesPerSample() == 2 ? kSourceWave16 : kSourceWave24;
        opened = true;
    } else {
        waveSource_.Close();
        opened = pcmSource_.Open(path.c_str());
        if (opened)
            sourceKind_ = kSourcePcmFile;
    }
    if (!opened) {
        // The file went away since the list was made: this run plays out the track it has, and the
        // output moves on through End of track, which skips what cannot be opened.
        joinFailed_ = true;
        return false;
    }
    readerTrack_ = to;
    return true;
}

const char* CPlaybackEngine::NextPcmFilePath() const {
    if (joinFailed_ || stopRequest_ || repeatMode_ == 1)
        return nullptr;
    const std::uint32_t from = readerTrack_;
    if (from == 0 || from >= fileList_.size() || trackJoinKinds_[from - 1] != kJoinPcmFile ||
        trackJoinKinds_[from] != kJoinPcmFile)
        return nullptr;
    return fileList_[from].c_str();
}

std::uint32_t CPlaybackEngine::ReaderPositionMs() const {
    std::uint64_t ms = 0;
    switch (sourceKind_.load()) {
    case kSourceWave16:
    case kSourceWave24:
        ms = waveSource_.ReadPosition() / (2 * std::uint64_t{waveSource_.BytesPerSample()}) * 1000 / 44100;
        break;
    case kSourcePcmFile:
        ms = pcmSource_.DeliveredFrames() * 1000 / CPcmFileSource::kOutputRate;
        break;
    default: {
        const std::uint64_t perChannel =
            dsdSource_.Format().channelCount
                ? dsdSource_.TotalSampleBytes() / dsdSource_.Format().channelCount
                : 0;
        const std::uint64_t rate = std::max<std::uint64_t>(dsdSource_.Format().samplingFrequency / 8, 1);
        ms = (perChannel - std::min(perChannel, dsdSource_.BytesLeftPerChannel())) * 1000 / rate;
        break;
    }
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, std::numeric_limits<std::uint32_t>::max()));
}

bool CPlaybackEngine::WaitForRoom(bool mayDrop, DsdRate rate) {
    // The rings hold about 0.37 s at every rate: at DSD64 a quarter of their storage, counted as a ring of
    // that size counts its free elements (its one always-empty slot among them).
    const std::int32_t capacity = kRingCapacity * Multiple(rate);
    const auto hasRoom = [this, capacity] {
        for (int c = 0; c < 2; ++c) {
            const CSampleRing& ring = rings_[static_cast<std::size_t>(c)];
            if (!ring.Allocated() || !(ring.Empty() || capacity - ring.Readable() > kBlockElements))
                return false;
        }
        return true;
    };
    while (!hasRoom()) {
        // Without this the engine could never be shut down while the output is not draining the rings.
        if (IsSet(readerQuit_))
            return false;
        if (playing_ == 0) {
            // The rings are full before the output has started: wake it. It first writes its silent
            // lead-in, so poll rather than spin while it does.
            outputRun_->Set();
        } else if (stopRequest_ && mayDrop) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

void CPlaybackEngine::ReaderThread() {
    bool first = true;
    bool last = false;
    bool joining = false; // this run is gapless: files follow one another inside its chunks
    for (;;) {
        if (platform::WaitAny({readerQuit_.get(), readerRun_.get()}) != 1)
            return;
        // The source kind is set with the track, before the run event that woke this thread. A CD is
        // always 16-bit PCM, whatever the kind says. In a gapless run a join may change the kind, but only
        // between files of one kind of run: PCM, always read as 24-bit, or DSD.
        const bool cd = isCD_;
        if (first) {
            joining = !cd && gapless_;
            joinFailed_ = false;
            // The UI thread leaves the PCM file source alone while a run plays.
            pcmSource_.SetFollower(joining ? pcmFollow_.get() : nullptr);
        }
        const std::int32_t kind = sourceKind_;
        const bool dsd = !cd && (kind == kSourceDsf || kind == kSourceDsdiff);
        const bool pcmFile = !cd && kind == kSourcePcmFile;
        const std::uint32_t bytesPerSample = !cd && (kind == kSourceWave24 || pcmFile || joining) ? 3 : 2;
        const DsdRate rate = trackRate_;
        PcmReader& pcm = cd        ? static_cast<PcmReader&>(*cdReader_)
                         : joining ? static_cast<PcmReader&>(*joinedReader_)
                         : pcmFile ? static_cast<PcmReader&>(*pcmReader_)
                                   : *waveReader_;
        DsdChunk chunk;
        if (first) {
            if (dsd)
                chunk = joining ? dsdChunks_.FirstChunk(dsdSource_, *dsdJoin_, rate)
                                : dsdChunks_.FirstChunk(dsdSource_, rate);
            else
                chunk = chunks_.FirstChunk(pcm, bytesPerSample, rate);
            first = false;
        } else if (stopRequest_) {
            chunk = dsd ? dsdChunks_.FinalChunk(rate) : chunks_.FinalChunk(pcm, bytesPerSample, rate);
            last = true;
        } else if (dsd) {
            chunk = joining ? dsdChunks_.NextChunk(dsdSource_, *dsdJoin_, rate)
                            : dsdChunks_.NextChunk(dsdSource_, rate);
        } else {
            chunk = chunks_.NextChunk(pcm, bytesPerSample, rate);
        }

        const std::uint32_t blocks = chunk.data ? chunk.size / kDsdBlockBytes : 0;
        for (std::uint32_t b = 0; b < blocks; ++b) {
            // The rest of a chunk is dropped when a stop is requested, but never the final chunk's: it
            // carries the fade-out and the silence after it, and the output is draining to make room.
            if (!WaitForRoom(!last, rate))
                break;
            const auto* block =
                reinterpret_cast<const CSampleRing::Element*>(chunk.data + b * kDsdBlockBytes);
            std::lock_guard lock(ringLock_);
            rings_[0].Write(block, kBlockElements);
            rings_[1].Write(block + kBlockElements, kBlockElements);
        }
        if (playing_ == 0)
            outputRun_->Set();

        if (last) {
            // Clear the run event before announcing the end of data: the output thread may run End of
            // track and Play (which sets the run event again) as soon as it sees the end, and that Play
            // must not be undone here.
            readerRun_->Reset();
            endOfData_ = true;
            first = true;
            last = false;
        }
    }
}

// ---- output thread ---------------------------------------------------------------------------------

void CPlaybackEngine::WriteSilentBlocks(CDSDASIO* device, int count) {
    // The silent buffers are made once per thread start, not per call; they are refilled here because a
    // device may use its work buffers as scratch space. The silence lasts as long at every rate: count
    // is in DSD64 blocks.
    for (auto& buffer : silentBuffers_)
        buffer.fill(kDsdSilenceByte);
    count *= Multiple(device->Rate());
    for (int i = 0; i < count; ++i) {
        device->WriteBlock(devicePosition_, silentChannels_.data(), silentWork_.data());
        devicePosition_ += CDSDASIO::kPositionPerBlock;
    }
}

bool CPlaybackEngine::OpenOutputDevice(CDSDASIO* device) {
    bool opened = false;
    if (device != nullptr) {
        const std::u16string name = platform::Utf8ToUtf16(DriverName());
        outputProcessor_.LockProcess();
        opened = device->OpenDriver(name.c_str());
        outputProcessor_.UnlockProcess();
    }
    if (!opened) {
        driverFailed_->Set();
        Post(driverErrorMessage_, 0, 0);
        return false;
    }
    driverReady_->Set();
    return true;
}

void CPlaybackEngine::WriteRingBlock(CDSDASIO* device, std::uint8_t* const* channels, bool& resetSeen) {
    {
        std::lock_guard lock(ringLock_);
        rings_[0].Read(reinterpret_cast<CSampleRing::Element*>(channels[0]), kBlockElements);
        rings_[1].Read(reinterpret_cast<CSampleRing::Element*>(channels[1]), kBlockElements);
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
    if (!trackChangePending_) {
        playedBytes_ += kDsdBlockBytes;
        PositionCheck();
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
        if (platform::WaitAny({outputQuit_.get(), outputRun_.get()}) != 1)
            break;
        if (playing_ != 1) {
            if (!SwitchRate(device))
                resetSeen = true; // the device is failed: play out the rings without writing them
            devicePosition_ = 0;
            WriteSilentBlocks(device, kEdgeSilentBlocks);
            playing_ = 1;
        }
        const CSampleRing& left = rings_[0];
        const CSampleRing& right = rings_[1];
        if (left.Readable() >= kBlockElements && right.Readable() >= kBlockElements && !left.Overflowed() &&
            !right.Overflowed()) {
            blockBuffers[0].fill(0);
            blockBuffers[1].fill(0);
            WriteRingBlock(device, channels.data(), resetSeen);
        } else if (endOfData_) {
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
    const DsdRate rate = trackRate_;
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

void CPlaybackEngine::PositionCheck() {
    const DsdRate rate = trackRate_;
    const std::uint32_t ms = PlayedMs(playedBytes_, rate);
    std::uint32_t length = 0;
    if (!PlayingTrackLength(&length))
        return;
    if (ms > length && isCD_) {
        // The disc is read on without a break: the next track's audio is already flowing, so only the
        // number changes and the time carries over. Past the last track (or to repeat this one) playback
        // ends through the drain like a file's.
        currentTrack_ += 1;
        const std::uint32_t carried = ms - length;
        playedBytes_ = PlayedBytesForMs(carried, rate);
        // A data track ends the read (a range never holds one): the next audio track starts anew.
        if (currentTrack_ > GetTrackCount() || repeatMode_ == 1 || IsDataTrack(currentTrack_)) {
            stopRequest_ = true;
            trackChangePending_ = true;
            return;
        }
        lastReportedMs_ = carried;
        Post(WM_PLAYER_POSITION, carried, static_cast<LPARAM>(currentTrack_.load()));
        return;
    }
    if (ms > length && readerTrack_ > currentTrack_) {
        // Gapless: the reader ran on into the next file, whose audio is already flowing. As on a disc, only
        // the number changes and the time carries over.
        currentTrack_ += 1;
        const std::uint32_t carried = ms - length;
        playedBytes_ = PlayedBytesForMs(carried, rate);
        lastReportedMs_ = carried;
        Post(WM_PLAYER_POSITION, carried, static_cast<LPARAM>(currentTrack_.load()));
        return;
    }
    if (ms > length) {
        // The track is over: the next step follows the drain, in End of track.
        currentTrack_ += 1;
        stopRequest_ = true;
        trackChangePending_ = true;
        return;
    }
    const std::uint32_t last = lastReportedMs_;
    if (ms / 1000 == last / 1000 && last != 0)
        return;
    lastReportedMs_ = ms;
    Post(WM_PLAYER_POSITION, ms, static_cast<LPARAM>(currentTrack_.load()));
}

void CPlaybackEngine::CatchUpWithReader() {
    // The reader can be a file ahead of what was heard when a Pause drains a gapless run (the rest of a
    // chunk is dropped at a stop): a resume goes on in the reader's file, so that is the track now, at the
    // time its source has reached.
    if (isCD_ || readerTrack_ <= currentTrack_)
        return;
    currentTrack_ = readerTrack_.load();
    const std::uint32_t ms = ReaderPositionMs();
    playedBytes_ = PlayedBytesForMs(ms, trackRate_);
    lastReportedMs_ = ms;
    Post(WM_PLAYER_POSITION, ms, static_cast<LPARAM>(currentTrack_.load()));
}

void CPlaybackEngine::EndOfTrack() {
    // Playback ends here: nothing runs on the output until the next Play.
    const auto goIdle = [this] {
        std::lock_guard lock(stateLock_);
        outputRun_->Reset();
        playing_ = 0;
        idle_->Set();
    };
    if (!trackChangePending_) {
        // A Pause ended this playback.
        CatchUpWithReader();
        goIdle();
        return;
    }
    trackChangePending_ = false;
    std::uint32_t track = 0;
    if (repeatMode_ == 1)
        track = currentTrack_ - 1;
    else if (isCD_) {
        // Within the disc the position check already moved on; it stops at a data track, after which
        // the next audio track plays.
        const std::uint32_t next = currentTrack_ <= GetTrackCount() ? AudioTrackFrom(currentTrack_) : 0;
        track = next != 0 ? next : (repeatMode_ == 2 ? 1 : 0);
    } else if (currentTrack_ <= GetTrackCount())
        track = currentTrack_;
    else if (repeatMode_ == 2)
        track = 1;

    if (track == 0) {
        Post(WM_PLAYER_END, 0, 0);
        goIdle();
        return;
    }
    SelectTrack(track, 0);
    if (const CDSDASIO* device = outputProcessor_.GetDSDASIO(0); device && !RateTaken(device)) {
        // The next file is at a rate the output does not take: it is not resampled, playback stops here.
        Post(WM_PLAYER_RATE_REFUSED, static_cast<WPARAM>(currentTrack_.load()), 0);
        Post(WM_PLAYER_END, 0, 0);
        goIdle();
        return;
    }
    Post(WM_PLAYER_POSITION, 0, static_cast<LPARAM>(currentTrack_.load()));
    // Play, on this thread. The driver is open (this thread opened it) and the device exists, so only
    // its last step remains; it runs under the state lock together with playing = 0, so that a Pause
    // sees either this playback or the next one starting, never the gap between them.
    std::lock_guard lock(stateLock_);
    outputRun_->Reset();
    playing_ = 0;
    StartOrHonourPause();
}

} // namespace engine
