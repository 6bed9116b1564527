#include "CdCommands.h"

#include "CDiscPilot.h"
#include "CdReport.h"
#include "CliSupport.h"
#include "DiscPilotDiagnostics.h"

#include <cctype>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace cli {

bool ParseDriveLetter(const std::string& text, unsigned char& letter) {
    if (text.empty() || text.size() > 2 || (text.size() == 2 && text[1] != ':') ||
        std::isalpha(static_cast<unsigned char>(text[0])) == 0) {
        return false;
    }
    letter = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(text[0])));
    return true;
}

int RunToc(const std::vector<std::string>& args) {
    unsigned char letter = 0;
    if (args.size() != 1 || !ParseDriveLetter(args[0], letter)) {
        std::fputs("usage: quellwave-cli toc LETTER\n", stderr);
        return 2;
    }
    CDiscPilot pilot;
    if (!pilot.SetDrive(letter)) {
        std::fprintf(stderr, "quellwave-cli: %s\n", NoDiscText(letter).c_str());
        return 1;
    }
    discpilot::DiscToc toc;
    if (!CDiscPilot::Diagnostics::GetDiscToc(pilot, toc)) {
        std::fprintf(stderr, "quellwave-cli: %c: the table of contents cannot be read\n", letter);
        return 1;
    }
    std::printf("track  start  sectors  length    type   pre-emphasis\n");
    for (int i = 0; i < toc.count; ++i) {
        const discpilot::DiscTrack& t = toc.tracks[i];
        std::printf("%5d  %5u  %7u  %02u:%02u.%02u  %-5s  %s\n", t.number, t.start, t.length, t.length / 4500,
                    t.length / 75 % 60, t.length % 75, t.data ? "data" : "audio",
                    t.preEmphasis ? "yes" : "no");
    }
    std::printf("lead-out  %u\n", toc.lastReadableLba + 1);
    // The disc's CD-Text, where it has any: the album's, then each track's, one item a line.
    std::vector<std::string> lines;
    for (int i = -1; i < toc.count; ++i) {
        const int track = i < 0 ? 0 : toc.tracks[i].number;
        for (const auto& [item, name] : {std::pair{discpilot::kCdTextTitle, "title"},
                                         std::pair{discpilot::kCdTextPerformer, "performer"}}) {
            const std::string text = CdTextOf(pilot, track, item);
            if (text.empty()) {
                continue;
            }
            char head[32];
            if (track == 0) {
                std::snprintf(head, sizeof head, "album  %-9s  ", name);
            } else {
                std::snprintf(head, sizeof head, "%5d  %-9s  ", track, name);
            }
            lines.push_back(head + text);
        }
    }
    if (!lines.empty()) {
        std::printf("track  cd-text    text\n");
        for (const std::string& line : lines) {
            std::printf("%s\n", line.c_str());
        }
    }
    return 0;
}

} // namespace cli
