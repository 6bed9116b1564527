// A private ALSA configuration whose PCMs write every byte they are given to a file (the "file" plugin
// over a "null" slave), so tests see exactly what reached ALSA without any sound card.
#pragma once

#include "TestKit/Bytes.h"
#include "TestKit/Environment.h"
#include "TestKit/Scratch.h"

#include <fstream>
#include <string>
#include <vector>

namespace testkit {

class AlsaCapture {
public:
    // Makes a folder with an ALSA configuration defining pcm.<name> for each name, capturing to
    // <folder>/<name><fileTag>.raw, and points ALSA_CONFIG_PATH at it for this process while it lives.
    // The tag may hold ALSA's "%r" and "%f", which the plugin replaces by the rate and the format the
    // stream was opened with, so that a stream opened wrongly lands in a file of another name.
    explicit AlsaCapture(const std::vector<std::string>& names, const std::string& fileTag = "")
        : dir_("alsa") {
        std::ofstream conf(dir_ / "asound.conf");
        for (const std::string& name : names)
            conf << "pcm." << name << " { type file slave { pcm { type null } } file \""
                 << Path(name + fileTag) << "\" format \"raw\" }\n";
        conf.close();
        environment_.Set("ALSA_CONFIG_PATH", (dir_ / "asound.conf").string());
    }
    AlsaCapture(const AlsaCapture&) = delete;
    AlsaCapture& operator=(const AlsaCapture&) = delete;

    std::string Path(const std::string& name) const { return (dir_ / (name + ".raw")).string(); }
    testkit::Bytes Bytes(const std::string& name) const { return ReadBytes(Path(name)); }

private:
    ScratchFolder dir_;
    EnvironmentGuard environment_;
};

} // namespace testkit
