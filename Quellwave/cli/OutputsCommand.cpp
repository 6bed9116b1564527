#include "OutputsCommand.h"

#include "Mervane/OutputSurvey.h"
#include "Platform/DsdRate.h"

#include <cstdio>

namespace cli {

namespace {

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items)
        out += (out.empty() ? "" : ", ") + item;
    return out;
}

} // namespace

int RunOutputs(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "quellwave-cli outputs: takes no arguments\n");
        return 2;
    }
    const auto reports = mervane::SurveyOutputs();
    if (reports.size() <= 1)
        std::printf("No sound card found.\n\n");
    for (const mervane::OutputReport& r : reports) {
        std::printf("%s: %s\n", r.pcmName.c_str(), r.description.c_str());
        if (!r.error.empty()) {
            std::printf("    cannot be opened: %s\n\n", r.error.c_str());
            continue;
        }
        const bool hardware = r.pcmName != "default";
        if (hardware) {
            if (r.nativeFormats.empty())
                std::printf("    native DSD:  no\n");
            else
                std::printf("    native DSD:  %-28s --driver alsa:%s\n", Join(r.nativeFormats).c_str(),
                            r.pcmName.c_str());
            if (r.dopFormats.empty())
                std::printf("    DoP:         no\n");
            else
                std::printf("    DoP:         %-28s --driver dop:%s  (only if the DAC decodes DoP)\n",
                            Join(r.dopFormats).c_str(), r.pcmName.c_str());
            if (r.nativeRates != 0 || r.dopRates != 0) {
                std::string rates;
                if (r.nativeRates != 0)
                    rates += platform::DsdRateSetText(r.nativeRates) + " native";
                if (r.dopRates != 0)
                    rates += (rates.empty() ? "" : "; ") + platform::DsdRateSetText(r.dopRates) + " as DoP";
                std::printf("    DSD rates:   %s\n", rates.c_str());
            }
        }
        if (r.pcmFormat.empty())
            std::printf("    PCM preview: no\n");
        else
            std::printf("    PCM preview: %-28s --driver pcm:%s\n", r.pcmFormat.c_str(), r.pcmName.c_str());
        std::printf("\n");
    }
    std::printf(
        "Put the chosen name in DefaultASIODriverName, or use \"auto\": the first card with native DSD,\n"
        "else pcm:default, else null.\n"
        "Of the cards with native DSD, \"auto\" takes the one that takes the highest rate.\n");
    return 0;
}

} // namespace cli
