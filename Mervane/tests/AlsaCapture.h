// A private ALSA configuration whose PCMs write every byte they are given to a file (the "file" plugin
// over a "null" slave), so tests see exactly what reached ALSA without any sound card.
#pragma once

#include "PcmDevice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace mervanetest {

class AlsaCapture {
public:
    // Makes a folder with an ALSA configuration defining pcm.<name> for each name, capturing to
    // <folder>/<name>.raw, and points ALSA_CONFIG_PATH at it for this process.
    explicit AlsaCapture(const std::vector<std::string>& names) {
        std::string t = (std::filesystem::temp_directory_path() / "qwalsa-XXXXXX").string();
        if (::mkdtemp(t.data()) == nullptr)
            ADD_FAILURE() << "mkdtemp";
        dir_ = t;
        std::ofstream conf(dir_ / "asound.conf");
        for (const std::string& name : names)
            conf << "pcm." << name << " { type file slave { pcm { type null } } file \"" << Path(name)
                 << "\" format \"raw\" }\n";
        conf.close();
        ::setenv("ALSA_CONFIG_PATH", (dir_ / "asound.conf").c_str(), 1);
    }
    ~AlsaCapture() { std::filesystem::remove_all(dir_); }
    AlsaCapture(const AlsaCapture&) = delete;
    AlsaCapture& operator=(const AlsaCapture&) = delete;

    std::string Path(const std::string& name) const { return (dir_ / (name + ".raw")).string(); }
    std::vector<std::uint8_t> Bytes(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    std::filesystem::path dir_;
};

// A real ALSA device that claims to take only some formats: the null slave takes every format, so this
// is how a capture stands in for a DAC that takes, say, only DSD_U8.
class OnlyFormats final : public mervane::PcmDevice {
public:
    OnlyFormats(std::unique_ptr<mervane::PcmDevice> inner, std::set<mervane::PcmFormat> formats)
        : inner_(std::move(inner)), formats_(std::move(formats)) {}
    bool Accepts(mervane::PcmFormat f, unsigned rate) override {
        return formats_.count(f) != 0 && inner_->Accepts(f, rate);
    }
    bool Configure(mervane::PcmFormat f, unsigned rate, unsigned us, unsigned periods,
                   std::string* e) override {
        return inner_->Configure(f, rate, us, periods, e);
    }
    long Write(const void* d, std::size_t n) noexcept override { return inner_->Write(d, n); }
    int Prepare() noexcept override { return inner_->Prepare(); }
    int Resume() noexcept override { return inner_->Resume(); }
    std::size_t QueuedFrames() noexcept override { return inner_->QueuedFrames(); }
    std::size_t BufferFrames() const noexcept override { return inner_->BufferFrames(); }
    std::size_t PeriodFrames() const noexcept override { return inner_->PeriodFrames(); }
    void Drain() noexcept override { inner_->Drain(); }
    int Card() const noexcept override { return inner_->Card(); }
    std::string DeviceName() const override { return inner_->DeviceName(); }

private:
    std::unique_ptr<mervane::PcmDevice> inner_;
    std::set<mervane::PcmFormat> formats_;
};

} // namespace mervanetest
