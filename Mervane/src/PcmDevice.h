// The playback PCM as the ALSA drivers use it: a narrow interface over one opened device, so that format
// choice, underrun recovery and device loss can be exercised against a fake as well as against ALSA.
#pragma once

#include "Platform/DsdRate.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace mervane {

// Sample formats the drivers ask for. The native DSD formats carry the earliest one-bit sample in the most
// significant bit of each byte; the _BE/_LE suffix is the order of the bytes of one word in memory (big
// endian: the earliest byte first).
enum class PcmFormat {
    DsdU32Be,
    DsdU32Le,
    DsdU16Be,
    DsdU16Le,
    DsdU8,
    S32Le,   // DoP and the PCM preview
    S24_3Le, // DoP and the PCM preview, packed three bytes
    S16Le,   // the PCM preview
};

// Bytes of one sample of one channel.
std::size_t PcmFormatBytes(PcmFormat format) noexcept;
// The name ALSA gives the format ("DSD_U32_BE", ...).
const char* PcmFormatName(PcmFormat format) noexcept;
// The frame rate at which a native DSD format carries DSD64 (2 822 400 one-bit samples a second): 88 200
// words of 32 bits, 176 400 of 16, 352 800 bytes; at another DSD rate that times its multiple. 0 for a
// PCM format.
unsigned DsdFrameRate(PcmFormat format) noexcept;
unsigned DsdFrameRate(PcmFormat format, platform::DsdRate rate) noexcept;

// One opened playback PCM, two channels, interleaved. Not thread-safe: the owner serialises calls.
class PcmDevice {
public:
    virtual ~PcmDevice() = default;

    // Whether the device would take format at rate with two channels. Changes nothing; may be asked for
    // several formats before Configure.
    virtual bool Accepts(PcmFormat format, unsigned rate) = 0;

    // Sets the device up for format at rate, two channels, a buffer near bufferUs microseconds cut into at
    // least `periods` periods. False (with *error saying why) when the device refuses.
    virtual bool Configure(PcmFormat format, unsigned rate, unsigned bufferUs, unsigned periods,
                           std::string* error) = 0;

    // Writes up to `frames` frames, blocking while the device buffer is full. Returns the frames taken, or
    // a negative errno: -EPIPE after an underrun, -ESTRPIPE while suspended, anything else when the device
    // is gone or broken. Does not allocate.
    virtual long Write(const void* data, std::size_t frames) noexcept = 0;
    // After -EPIPE: makes the device ready to take frames again. 0, or a negative errno.
    virtual int Prepare() noexcept = 0;
    // After -ESTRPIPE: resumes a suspended device. 0 when resumed, -EAGAIN while the resume is not possible
    // yet, another negative errno when the device cannot resume (Prepare may still succeed).
    virtual int Resume() noexcept = 0;

    // Frames queued in the device and not yet played; 0 when unknown.
    virtual std::size_t QueuedFrames() noexcept = 0;
    // The configured buffer size in frames.
    virtual std::size_t BufferFrames() const noexcept = 0;
    virtual std::size_t PeriodFrames() const noexcept = 0;
    // Plays out what is queued (blocking up to the buffer length), then stops.
    virtual void Drain() noexcept = 0;

    // The card the PCM sits on, -1 when it has none (a plugin or a sound server), and the PCM's own name
    // as the device reports it ("USB Audio", ...; may be empty). For picking the card's mixer element.
    virtual int Card() const noexcept = 0;
    virtual std::string DeviceName() const = 0;
};

// Stops libasound printing its own diagnostics on standard error: every failure reaches the user once,
// in our words, through the error texts here. Idempotent; any thread.
void QuietAlsaLibrary() noexcept;

// Opens the ALSA playback PCM called name ("hw:1,0", "default", a name from the configuration). Null when
// it cannot be opened; *error says why. Blocks until the device is free or refuses (never waits for ever:
// a busy device is refused).
std::unique_ptr<PcmDevice> OpenAlsaPcm(std::string_view name, std::string* error);

} // namespace mervane
