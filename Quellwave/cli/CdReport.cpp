#include "CdReport.h"

#include <algorithm>
#include <cstdio>

namespace cli {

std::string ReaderStatusText(int status) {
    switch (status) {
    case 0:
        return {};
    case 1:
        return "the drive could not be opened";
    case 3:
        return "the disc's table of contents could not be read";
    case 4:
        return "the disc could not be read there, not even slowly and sector by sector (a long scratch or "
               "a damaged disc)";
    case 8:
    case 23:
        return "that position is not on the disc";
    case 9:
        return "that track is a data track, not audio";
    case 13:
        return "the drive is not ready or holds no disc";
    case 14:
        return "the drive is busy playing audio itself";
    case 15:
        return "the drive kept delivering audio that would not join up with what it delivered before";
    case 20:
        return "there was not enough memory to read the disc";
    case 24:
        return "the drive stopped answering (a command timed out twice)";
    default:
        return "the read failed (reader status " + std::to_string(status) + ")";
    }
}

std::string TrackTime(std::uint32_t sectors) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u.%02u", sectors / 4500, sectors / 75 % 60, sectors % 75);
    return text;
}

std::vector<std::string> UnreadableLines(const discpilot::DiscToc& toc,
                                         const discpilot::UnreadableSpan* spans, int count) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        std::uint32_t lba = spans[i].lba;
        std::uint32_t left = spans[i].count;
        while (left > 0) {
            // The track holding lba, and how much of the run lies in it.
            const discpilot::DiscTrack* track = nullptr;
            for (int t = 0; t < toc.count; ++t) {
                if (lba >= toc.tracks[t].start && lba - toc.tracks[t].start < toc.tracks[t].length)
                    track = &toc.tracks[t];
            }
            if (track == nullptr)
                break;
            const std::uint32_t in = std::min(left, track->start + track->length - lba);
            lines.push_back("track " + std::to_string(track->number) + ": " + std::to_string(in) +
                            (in == 1 ? " sector" : " sectors") + " unreadable at " +
                            TrackTime(lba - track->start) + " (silence)");
            lba += in;
            left -= in;
        }
    }
    return lines;
}

std::string CdTextOf(const CDiscPilot& controller, int track, int item) {
    const int length = CDiscPilot::Diagnostics::GetCdText(controller, track, item, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    CDiscPilot::Diagnostics::GetCdText(controller, track, item, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

UnreadableReporter::UnreadableReporter(const CDiscPilot& controller) : controller_(controller) {}

std::vector<std::string> UnreadableReporter::Take(bool all) {
    std::vector<std::string> lines;
    discpilot::UnreadableSpan spans[64];
    const int n = CDiscPilot::Diagnostics::GetUnreadableSpans(controller_, spans, 64);
    if (n == 0) {
        seen_.clear();
        return lines;
    }
    discpilot::DiscToc toc;
    if (!CDiscPilot::Diagnostics::GetDiscToc(controller_, toc))
        return lines;
    std::vector<discpilot::UnreadableSpan> now(spans, spans + n);
    for (const discpilot::UnreadableSpan& span : now) {
        const auto same = [&span](const discpilot::UnreadableSpan& s) {
            return s.lba == span.lba && s.count == span.count;
        };
        const bool stable = std::any_of(seen_.begin(), seen_.end(), same);
        if ((all || stable) && std::none_of(shown_.begin(), shown_.end(), same)) {
            for (std::string& line : UnreadableLines(toc, &span, 1))
                lines.push_back(std::move(line));
            shown_.push_back(span);
        }
    }
    seen_ = std::move(now);
    return lines;
}

} // namespace cli
