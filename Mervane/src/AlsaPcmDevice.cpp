// PcmDevice over libasound.
#include "PcmDevice.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <mutex>

namespace mervane {

namespace {

snd_pcm_format_t ToAlsa(PcmFormat format) noexcept {
    switch (format) {
    case PcmFormat::DsdU32Be:
        return SND_PCM_FORMAT_DSD_U32_BE;
    case PcmFormat::DsdU32Le:
        return SND_PCM_FORMAT_DSD_U32_LE;
    case PcmFormat::DsdU16Be:
        return SND_PCM_FORMAT_DSD_U16_BE;
    case PcmFormat::DsdU16Le:
        return SND_PCM_FORMAT_DSD_U16_LE;
    case PcmFormat::DsdU8:
        return SND_PCM_FORMAT_DSD_U8;
    case PcmFormat::S32Le:
        return SND_PCM_FORMAT_S32_LE;
    case PcmFormat::S24_3Le:
        return SND_PCM_FORMAT_S24_3LE;
    case PcmFormat::S16Le:
        return SND_PCM_FORMAT_S16_LE;
    }
    return SND_PCM_FORMAT_UNKNOWN;
}

bool IsDsd(PcmFormat format) noexcept {
    return DsdFrameRate(format) != 0;
}

class AlsaPcmDevice final : public PcmDevice {
public:
    explicit AlsaPcmDevice(snd_pcm_t* pcm) : pcm_(pcm) {}
    ~AlsaPcmDevice() override { snd_pcm_close(pcm_); }
    AlsaPcmDevice(const AlsaPcmDevice&) = delete;
    AlsaPcmDevice& operator=(const AlsaPcmDevice&) = delete;

    bool Accepts(PcmFormat format, unsigned rate) override {
        snd_pcm_hw_params_t* hw = nullptr;
        snd_pcm_hw_params_alloca(&hw);
        return Restrict(hw, format, rate) == 0;
    }

    bool Configure(PcmFormat format, unsigned rate, unsigned bufferUs, unsigned periods,
                   std::string* error) override {
        snd_pcm_hw_params_t* hw = nullptr;
        snd_pcm_hw_params_alloca(&hw);
        int err = Restrict(hw, format, rate);
        if (err < 0)
            return Fail(error,
                        std::string("the device does not take ") + PcmFormatName(format) + " at " +
                            std::to_string(rate) + " Hz in two channels",
                        err);
        unsigned minPeriods = periods;
        int dir = 0;
        if ((err = snd_pcm_hw_params_set_periods_min(pcm_, hw, &minPeriods, &dir)) < 0)
            return Fail(error,
                        "the device cannot cut its buffer into " + std::to_string(periods) + " periods", err);
        unsigned time = bufferUs;
        dir = 0;
        if ((err = snd_pcm_hw_params_set_buffer_time_near(pcm_, hw, &time, &dir)) < 0)
            return Fail(error, "the device refuses a buffer of " + std::to_string(bufferUs / 1000) + " ms",
                        err);
        if ((err = snd_pcm_hw_params(pcm_, hw)) < 0)
            return Fail(error, "the device refused its settings", err);
        snd_pcm_uframes_t buffer = 0, period = 0;
        snd_pcm_hw_params_get_buffer_size(hw, &buffer);
        dir = 0;
        snd_pcm_hw_params_get_period_size(hw, &period, &dir);
        buffer_ = buffer;
        period_ = period;

        snd_pcm_sw_params_t* sw = nullptr;
        snd_pcm_sw_params_alloca(&sw);
        snd_pcm_sw_params_current(pcm_, sw);
        // Start once the buffer is full, so the first moments of a stream do not run on an almost empty
        // buffer; wake the writer a period at a time.
        snd_pcm_sw_params_set_start_threshold(pcm_, sw, buffer_);
        snd_pcm_sw_params_set_avail_min(pcm_, sw, period_);
        if ((err = snd_pcm_sw_params(pcm_, sw)) < 0)
            return Fail(error, "the device refused its start settings", err);
        return true;
    }

    long Write(const void* data, std::size_t frames) noexcept override {
        return snd_pcm_writei(pcm_, data, frames);
    }
    int Prepare() noexcept override { return snd_pcm_prepare(pcm_); }
    int Resume() noexcept override { return snd_pcm_resume(pcm_); }

    std::size_t QueuedFrames() noexcept override {
        const snd_pcm_sframes_t avail = snd_pcm_avail(pcm_);
        if (avail < 0 || static_cast<std::size_t>(avail) >= buffer_)
            return 0;
        return buffer_ - static_cast<std::size_t>(avail);
    }
    std::size_t BufferFrames() const noexcept override { return buffer_; }
    std::size_t PeriodFrames() const noexcept override { return period_; }
    void Drain() noexcept override { snd_pcm_drain(pcm_); }

    int Card() const noexcept override {
        snd_pcm_info_t* info = nullptr;
        snd_pcm_info_alloca(&info);
        if (snd_pcm_info(pcm_, info) < 0)
            return -1;
        const int card = snd_pcm_info_get_card(info);
        return card >= 0 ? card : -1;
    }
    std::string DeviceName() const override {
        snd_pcm_info_t* info = nullptr;
        snd_pcm_info_alloca(&info);
        if (snd_pcm_info(pcm_, info) < 0)
            return {};
        const char* name = snd_pcm_info_get_name(info);
        return name ? name : "";
    }

private:
    int Restrict(snd_pcm_hw_params_t* hw, PcmFormat format, unsigned rate) {
        int err = snd_pcm_hw_params_any(pcm_, hw);
        if (err < 0)
            return err;
        // A DSD stream must reach the device bit for bit: no plugin may resample or convert it. The PCM
        // preview may go through the sound server's rate conversion.
        if ((err = snd_pcm_hw_params_set_rate_resample(pcm_, hw, IsDsd(format) ? 0 : 1)) < 0)
            return err;
        if ((err = snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
            return err;
        if ((err = snd_pcm_hw_params_set_format(pcm_, hw, ToAlsa(format))) < 0)
            return err;
        if ((err = snd_pcm_hw_params_set_channels(pcm_, hw, 2)) < 0)
            return err;
        return snd_pcm_hw_params_set_rate(pcm_, hw, rate, 0);
    }

    static bool Fail(std::string* error, const std::string& what, int err) {
        if (error)
            *error = what + " (" + snd_strerror(err) + ")";
        return false;
    }

    snd_pcm_t* pcm_;
    std::size_t buffer_ = 0;
    std::size_t period_ = 0;
};

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

} // namespace

void QuietAlsaLibrary() noexcept {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(IgnoreAlsaMessage); });
}

std::size_t PcmFormatBytes(PcmFormat format) noexcept {
    switch (format) {
    case PcmFormat::DsdU32Be:
    case PcmFormat::DsdU32Le:
    case PcmFormat::S32Le:
        return 4;
    case PcmFormat::S24_3Le:
        return 3;
    case PcmFormat::DsdU16Be:
    case PcmFormat::DsdU16Le:
    case PcmFormat::S16Le:
        return 2;
    case PcmFormat::DsdU8:
        return 1;
    }
    return 0;
}

const char* PcmFormatName(PcmFormat format) noexcept {
    switch (format) {
    case PcmFormat::DsdU32Be:
        return "DSD_U32_BE";
    case PcmFormat::DsdU32Le:
        return "DSD_U32_LE";
    case PcmFormat::DsdU16Be:
        return "DSD_U16_BE";
    case PcmFormat::DsdU16Le:
        return "DSD_U16_LE";
    case PcmFormat::DsdU8:
        return "DSD_U8";
    case PcmFormat::S32Le:
        return "S32_LE";
    case PcmFormat::S24_3Le:
        return "S24_3LE";
    case PcmFormat::S16Le:
        return "S16_LE";
    }
    return "?";
}

unsigned DsdFrameRate(PcmFormat format) noexcept {
    switch (format) {
    case PcmFormat::DsdU32Be:
    case PcmFormat::DsdU32Le:
        return 88200;
    case PcmFormat::DsdU16Be:
    case PcmFormat::DsdU16Le:
        return 176400;
    case PcmFormat::DsdU8:
        return 352800;
    default:
        return 0;
    }
}

unsigned DsdFrameRate(PcmFormat format, platform::DsdRate rate) noexcept {
    return DsdFrameRate(format) * static_cast<unsigned>(platform::DsdRateMultiple(rate));
}

std::unique_ptr<PcmDevice> OpenAlsaPcm(std::string_view name, std::string* error) {
    QuietAlsaLibrary();
    const std::string pcmName(name);
    snd_pcm_t* pcm = nullptr;
    // Opened without blocking so that a device another program holds is refused at once rather than
    // waited for; writes then block as usual.
    int err = snd_pcm_open(&pcm, pcmName.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        if (error)
            *error = "cannot open the ALSA device \"" + pcmName + "\": " + snd_strerror(err);
        return nullptr;
    }
    if ((err = snd_pcm_nonblock(pcm, 0)) < 0) {
        snd_pcm_close(pcm);
        if (error)
            *error = "cannot use the ALSA device \"" + pcmName + "\": " + snd_strerror(err);
        return nullptr;
    }
    return std::make_unique<AlsaPcmDevice>(pcm);
}

} // namespace mervane
