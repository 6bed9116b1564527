// "rip": one audio track of a disc into a WAV file, read through the CD library's controller.
#include "CdCommands.h"
#include "CdReport.h"

#include "CDiscPilot.h"
#include "CliSupport.h"
#include "DiscPilotDiagnostics.h"
#include "Platform/ByteOrder.h"
#include "Platform/CdAddress.h"
#include "Platform/FileIo.h"
#include "Platform/Text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cli {

namespace {

constexpr std::uint32_t kSectorBytes = platform::kCdSectorBytes;
constexpr std::uint32_t kPieceSectors = platform::kCdFramesPerSecond; // one second of audio per GetData

// The exit status of a rip that is complete but holds silence where the disc could not be read.
constexpr int kExitReadWithErrors = 5;
// The exit status of a rip that holds places whose reads never settled where they belong on the disc:
// their audio may be misplaced.
constexpr int kExitUnsettled = 6;

// The runs of a span list that lie in the track [start, start + length), cut to it; their sectors added
// to `sectors`.
std::vector<discpilot::UnreadableSpan> InTrack(const discpilot::UnreadableSpan* spans, int count,
                                               std::uint32_t start, std::uint32_t length,
                                               std::uint32_t& sectors) {
    std::vector<discpilot::UnreadableSpan> in;
    sectors = 0;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t from = std::max(spans[i].lba, start);
        const std::uint32_t to = std::min(spans[i].lba + spans[i].count, start + length);
        if (from < to) {
            in.push_back({from, to - from});
            sectors += to - from;
        }
    }
    return in;
}

// The 44-byte header of a 16-bit stereo 44 100 Hz PCM WAV file holding dataBytes of samples.
std::array<unsigned char, 44> WaveHeader(std::uint32_t dataBytes) {
    std::array<unsigned char, 44> h{};
    const auto text = [&h](std::size_t at, const char* s) { std::memcpy(h.data() + at, s, 4); };
    const auto le = [&h](std::size_t at, std::uint32_t value, int bytes) {
        if (bytes == 4) {
            platform::WriteLe32(h.data() + at, value);
        } else {
            platform::WriteLe16(h.data() + at, value);
        }
    };
    text(0, "RIFF");
    le(4, 36 + dataBytes, 4);
    text(8, "WAVE");
    text(12, "fmt ");
    le(16, 16, 4);
    le(20, 1, 2); // PCM
    le(22, 2, 2);
    le(24, 44100, 4);
    le(28, 44100 * 4, 4);
    le(32, 4, 2);
    le(34, 16, 2);
    text(36, "data");
    le(40, dataBytes, 4);
    return h;
}

void ShowProgress(std::uint64_t done, std::uint64_t total, int& shown) {
    if (!platform::StandardErrorIsTerminal() || total == 0) {
        return;
    }
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == shown) {
        return;
    }
    shown = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kWidth - filled), '-').c_str(), percent);
    std::fflush(stderr);
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "quellwave-cli: %s\n", message.c_str());
    return 1;
}

} // namespace

int RunRip(const std::vector<std::string>& args) {
    unsigned char letter = 0;
    const auto parsed = args.size() == 3 ? platform::ParseInteger<unsigned long>(args[1]) : std::nullopt;
    const unsigned long track = parsed.value_or(0);
    if (args.size() != 3 || !ParseDriveLetter(args[0], letter) || track == 0) {
        std::fputs("usage: quellwave-cli rip LETTER TRACK OUT.wav\n", stderr);
        return 2;
    }
    const std::filesystem::path outPath = args[2];

    CDiscPilot pilot;
    if (!pilot.SetDrive(letter)) {
        return Fail(NoDiscText(letter));
    }
    discpilot::DiscToc toc;
    if (!CDiscPilot::Diagnostics::GetDiscToc(pilot, toc) || track > static_cast<unsigned long>(toc.count)) {
        return Fail("track " + args[1] + ": the disc has " + std::to_string(toc.count) + " tracks");
    }
    const discpilot::DiscTrack& entry = toc.tracks[track - 1];
    if (entry.data) {
        return Fail("track " + args[1] + " is a data track");
    }
    const std::uint64_t total = std::uint64_t{entry.length} * kSectorBytes;
    if (total > 0xFFFFFFFFull - 36) {
        return Fail("track " + args[1] + " is too long for a WAV file");
    }

    // Write beside the target and rename at the end: the target is never a half file, and an ending
    // signal removes the temporary one.
    TemporaryOutput temporary;
    std::string why;
    if (!temporary.Create(outPath, "rip", &why)) {
        return Fail(outPath.string() + ": " + why);
    }
    FILE* file = std::fopen(temporary.Path().c_str(), "wb");
    const auto abandon = [&](const std::string& message) {
        if (file != nullptr) {
            std::fclose(file);
        }
        temporary.Discard();
        return Fail(message);
    };
    if (file == nullptr) {
        return abandon(outPath.string() + ": cannot write: " + ErrnoText(errno));
    }
    const std::array<unsigned char, 44> header = WaveHeader(static_cast<std::uint32_t>(total));
    if (std::fwrite(header.data(), 1, header.size(), file) != header.size()) {
        return abandon(outPath.string() + ": write failed: " + ErrnoText(errno));
    }

    // A rip is read securely whatever the drive's stored condition says: every sector is read twice where
    // it joins the one before, and the range's start is confirmed.
    CDiscPilot::Diagnostics::SetSecureReading(pilot, true);
    if (!pilot.SetPosition(track, 0)) {
        return abandon("the drive closed");
    }
    std::vector<unsigned char> pcm(std::size_t{kPieceSectors} * kSectorBytes);
    std::uint64_t done = 0;
    int shown = -1;
    discpilot::ReadCounts counts;
    while (done < total) {
        const auto piece = static_cast<unsigned long>(std::min<std::uint64_t>(pcm.size(), total - done));
        pilot.GetData(pcm.data(), piece);
        CDiscPilot::Diagnostics::GetReadCounts(pilot, counts);
        if (counts.lastDelivered > 0 &&
            std::fwrite(pcm.data(), 1, counts.lastDelivered, file) != counts.lastDelivered) {
            return abandon(outPath.string() + ": write failed: " + ErrnoText(errno));
        }
        done += counts.lastDelivered;
        ShowProgress(done, total, shown);
        if (counts.lastDelivered < piece) {
            break;
        }
    }
    if (shown >= 0) {
        std::fputc('\n', stderr);
    }
    if (done < total) {
        const auto sectors = static_cast<std::uint32_t>(done / kSectorBytes);
        return abandon("track " + args[1] + ": the read ended after " + std::to_string(sectors) + " of " +
                       std::to_string(entry.length) + " sectors, at " + TrackTime(sectors) + ": " +
                       ReaderStatusText(counts.status));
    }
    // The runs of this track that could not be read, and those whose place was never settled (the reader
    // may have read on into the next track).
    discpilot::UnreadableSpan spans[64];
    const int found = CDiscPilot::Diagnostics::GetUnreadableSpans(pilot, spans, 64);
    std::uint32_t unreadable = 0;
    const std::vector<discpilot::UnreadableSpan> inTrack =
        InTrack(spans, found, entry.start, entry.length, unreadable);
    const int foundUnsettled = CDiscPilot::Diagnostics::GetUnsettledSpans(pilot, spans, 64);
    std::uint32_t unsettled = 0;
    const std::vector<discpilot::UnreadableSpan> unsettledInTrack =
        InTrack(spans, foundUnsettled, entry.start, entry.length, unsettled);
    if (std::fflush(file) != 0 || !platform::SyncFile(::fileno(file))) {
        return abandon(outPath.string() + ": write failed: " + ErrnoText(errno));
    }
    if (std::fclose(file) != 0) {
        file = nullptr;
        return abandon(outPath.string() + ": write failed: " + ErrnoText(errno));
    }
    file = nullptr;
    if (!temporary.Commit(&why)) {
        return Fail(outPath.string() + ": " + why);
    }
    for (const std::string& line : UnreadableLines(toc, inTrack.data(), static_cast<int>(inTrack.size()))) {
        std::printf("%s\n", line.c_str());
    }
    for (const discpilot::UnreadableSpan& span : unsettledInTrack) {
        std::printf("track %lu: %u %s unsettled at %s (the reads disagree where %s)\n", track, span.count,
                    span.count == 1 ? "sector" : "sectors", TrackTime(span.lba - entry.start).c_str(),
                    span.count == 1 ? "it belongs" : "they belong");
    }
    std::printf("track %lu: %llu sectors, jitter corrections %d, realignments %d, retries %d\n", track,
                static_cast<unsigned long long>(entry.length), counts.jitterCorrections, counts.realignments,
                counts.retries);
    if (unreadable > 0) {
        std::fprintf(stderr, "quellwave-cli: track %lu: read with errors: %u %s written as silence\n", track,
                     unreadable, unreadable == 1 ? "sector" : "sectors");
    }
    if (unsettled > 0) {
        std::fprintf(stderr, "quellwave-cli: track %lu: not verified: %u %s could not be settled\n", track,
                     unsettled, unsettled == 1 ? "sector" : "sectors");
        return kExitUnsettled;
    }
    return unreadable > 0 ? kExitReadWithErrors : 0;
}

} // namespace cli
