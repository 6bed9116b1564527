// What the CD subcommands tell a user about a read: the reader's outcomes in words, and the runs of
// sectors that could not be read (which the reader delivered as silence), one line per run with its
// track and its time within the track.
#pragma once

#include "CDiscPilot.h"
#include "DiscPilotDiagnostics.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// The reader status of a read that ended early, as a sentence for a listener (what failed); empty for 0.
std::string ReaderStatusText(int status);

// The disc's CD-Text item (discpilot::kCdTextTitle, ...) of the disc (track 0) or a track, UTF-8; empty
// when it has none.
std::string CdTextOf(const CDiscPilot& controller, int track, int item);

// A sector count as a time within its track: mm:ss.ff (75 frames a second).
std::string TrackTime(std::uint32_t sectors);

// One line per run of unreadable sectors, split at track boundaries: "track N: C sector(s) unreadable at
// mm:ss.ff (silence)".
std::vector<std::string> UnreadableLines(const discpilot::DiscToc& toc,
                                         const discpilot::UnreadableSpan* spans, int count);

// Follows the runs of unreadable sectors of a controller's current read while it goes on and gives each
// run's lines once, when the run stopped growing (or at the end).
class UnreadableReporter {
public:
    explicit UnreadableReporter(const CDiscPilot& controller);
    // The lines of runs that did not grow since the last look (all runs not given yet when `all`).
    std::vector<std::string> Take(bool all);

private:
    const CDiscPilot& controller_;
    std::vector<discpilot::UnreadableSpan> seen_;  // the runs at the last look
    std::vector<discpilot::UnreadableSpan> shown_; // the runs already given
};

} // namespace cli
