// "rip LETTER --disc DIR": every audio track of a disc read twice, securely, into FLAC files with a CUE
// sheet and a log, checked against the AccurateRip database. "offset LETTER N": a drive model's read
// offset stored for later rips.
#include "CdCommands.h"
#include "CdReport.h"

#include "CDiscPilot.h"
#include "CliSupport.h"
#include "DiscPilotDiagnostics.h"
#include "Platform/FileIo.h"
#include "Platform/Registry.h"
#include "Platform/Text.h"
#include "rip/AccurateRip.h"
#include "rip/DatabaseLookup.h"
#include "rip/RipSheet.h"

#include <discid/discid.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace cli {

namespace {

using rip::kSamplesPerSector;
using rip::kSectorBytes;

constexpr std::uint32_t kPieceSectors = 75; // one second of audio per GetData
constexpr int kExitReadWithErrors = 5;
constexpr int kExitNotVerified = 6;
// Re-reads of sectors whose test and copy differ before they are named as never read alike twice.
constexpr int kRereads = 8;
constexpr long kLookupTimeoutSeconds = 20;
constexpr const char* kDatabaseKey = "Software\\Orva Corporation\\Quellwave";
constexpr const char* kDatabaseValue = "AccurateRipAddress";

int Fail(const std::string& message) {
    std::fprintf(stderr, "quellwave-cli: %s\n", message.c_str());
    return 1;
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

constexpr long kLargestOffset = 5880; // ten sectors either way, as the drive settings keep it

// A read offset: a whole number of samples, signed ("+6" as well as "6"), within ten sectors.
std::optional<long> ParseOffset(const std::string& text) {
    const std::string digits = !text.empty() && text[0] == '+' ? text.substr(1) : text;
    if (digits.empty() || digits[0] == '+' || (digits[0] == '-' && text[0] == '+')) {
        return std::nullopt;
    }
    const auto value = platform::ParseInteger<long>(digits);
    if (!value || *value < -kLargestOffset || *value > kLargestOffset) {
        return std::nullopt;
    }
    return value;
}

// An identity field as the drive pads it, without its trailing blanks.
std::string Trimmed(const char* field, std::size_t size) {
    std::string text(field, strnlen(field, size));
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

long long FloorDiv(long long a, long long b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// The machine setting naming where the database is; the public address when it is not set.
std::string DatabaseAddress() {
    platform::RegKeyHolder key;
    if (platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, kDatabaseKey, platform::KEY_READ, key.Out()) !=
        ERROR_SUCCESS) {
        return rip::kDefaultDatabaseAddress;
    }
    BYTE data[1024];
    DWORD type = 0;
    DWORD size = sizeof data;
    if (platform::RegQueryValueEx(key.Get(), kDatabaseValue, &type, data, &size) != ERROR_SUCCESS ||
        type != platform::REG_SZ) {
        return rip::kDefaultDatabaseAddress;
    }
    return platform::RegStringFromData(data, size);
}

// Runs of sector numbers, for a listener: "3 sectors at 01:02.03, 1 sector at 02:00.00", times from base.
std::string Runs(const std::set<std::uint32_t>& sectors, std::uint32_t base) {
    std::string text;
    for (auto it = sectors.begin(); it != sectors.end();) {
        const std::uint32_t first = *it;
        std::uint32_t count = 0;
        while (it != sectors.end() && *it == first + count) {
            ++count;
            ++it;
        }
        if (!text.empty()) {
            text += ", ";
        }
        text += std::to_string(count) + (count == 1 ? " sector at " : " sectors at ") +
                TrackTime(first >= base ? first - base : 0);
    }
    return text.empty() ? "none" : text;
}

// Tracks done, speed and time left on standard error while it is a terminal; nothing otherwise.
class Progress {
public:
    Progress(std::uint64_t totalBytes, int files)
        : total_(totalBytes), files_(files), shown_(platform::StandardErrorIsTerminal()),
          begun_(std::chrono::steady_clock::now()) {}
    void Add(std::uint64_t bytes) {
        done_ += bytes;
        Show(false);
    }
    void FileDone() {
        ++filesDone_;
        Show(true);
    }
    void End() const {
        if (shown_) {
            std::fputc('\n', stderr);
        }
    }
    // The whole run's speed as a multiple of real time (both reads of every sector counted).
    double Speed() const {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begun_).count();
        return seconds > 0 ? static_cast<double>(done_) / 176400.0 / seconds : 0.0;
    }

private:
    void Show(bool now) {
        if (!shown_) {
            return;
        }
        const auto t = std::chrono::steady_clock::now();
        if (!now && t - last_ < std::chrono::milliseconds(250)) {
            return;
        }
        last_ = t;
        const double speed = Speed();
        const double left =
            speed > 0 ? static_cast<double>(total_ - std::min(done_, total_)) / 176400.0 / speed : 0;
        const int seconds = static_cast<int>(left + 0.5);
        std::fprintf(stderr, "\rtracks done %d of %d, %.1fx, %d:%02d left   ", filesDone_, files_, speed,
                     seconds / 60, seconds % 60);
        std::fflush(stderr);
    }

    std::uint64_t total_;
    std::uint64_t done_ = 0;
    int files_;
    int filesDone_ = 0;
    bool shown_;
    std::chrono::steady_clock::time_point begun_;
    std::chrono::steady_clock::time_point last_{};
};

// What reading a run of sectors found: the sectors delivered as silence and those whose place was
// never settled (by disc sector).
struct ReadFindings {
    std::set<std::uint32_t> unreadable;
    std::set<std::uint32_t> unsettled;
};

void CollectSpans(const CDiscPilot& pilot, ReadFindings& findings) {
    discpilot::UnreadableSpan spans[64];
    const int unreadable = CDiscPilot::Diagnostics::GetUnreadableSpans(pilot, spans, 64);
    for (int i = 0; i < unreadable; ++i) {
        for (std::uint32_t s = 0; s < spans[i].count; ++s) {
            findings.unreadable.insert(spans[i].lba + s);
        }
    }
    const int unsettled = CDiscPilot::Diagnostics::GetUnsettledSpans(pilot, spans, 64);
    for (int i = 0; i < unsettled; ++i) {
        for (std::uint32_t s = 0; s < spans[i].count; ++s) {
            findings.unsettled.insert(spans[i].lba + s);
        }
    }
}

// Reads count sectors from lba securely into out. False with *why when the read ended short.
bool ReadRun(CDiscPilot& pilot, std::uint32_t lba, std::uint32_t count, unsigned char* out,
             Progress* progress, ReadFindings& findings, std::string* why) {
    discpilot::ReadCounts counts;
    if (!CDiscPilot::Diagnostics::SetSectorRange(pilot, lba, count)) {
        CDiscPilot::Diagnostics::GetReadCounts(pilot, counts);
        *why = "sectors " + std::to_string(lba) + " to " + std::to_string(lba + count - 1) +
               " cannot be read as audio: " + ReaderStatusText(counts.status);
        return false;
    }
    const std::uint64_t total = std::uint64_t{count} * kSectorBytes;
    std::uint64_t done = 0;
    while (done < total) {
        const auto piece =
            static_cast<unsigned long>(std::min<std::uint64_t>(kPieceSectors * kSectorBytes, total - done));
        pilot.GetData(out + done, piece);
        CDiscPilot::Diagnostics::GetReadCounts(pilot, counts);
        done += counts.lastDelivered;
        if (progress != nullptr) {
            progress->Add(counts.lastDelivered);
        }
        if (counts.lastDelivered < piece) {
            break;
        }
    }
    CollectSpans(pilot, findings);
    if (done < total) {
        const auto at = lba + static_cast<std::uint32_t>(done / kSectorBytes);
        *why = "the read ended at sector " + std::to_string(at) + ": " + ReaderStatusText(counts.status);
        return false;
    }
    return true;
}

// One file of the rip: a track (or the audio before track 1, number 0) and what became of it.
struct RipFile {
    int number = 0;
    std::uint32_t start = 0, length = 0; // disc sectors
    bool preEmphasis = false;
    std::string name;
    std::string title, performer; // the track's CD-Text
    bool written = false;
    std::uint32_t testCrc = 0, copyCrc = 0;
    rip::ArChecksums ar;
    rip::TrackVerdict verdict;
    int peak = 0; // largest sample magnitude, 0 .. 32768
    std::uint32_t pregapStart = 0;
    std::set<std::uint32_t> silent, unsettled, neverAlike;
    std::uint32_t reread = 0; // sectors whose test and copy differed
};

// The track's audio, the read offset corrected, from a read of drive sectors [first, first + count) held
// in `read` (sectors outside it are silence: the drive cannot reach them).
std::vector<unsigned char> Corrected(const std::vector<unsigned char>& read, long long first,
                                     const RipFile& file, long offset) {
    std::vector<unsigned char> out(std::size_t{file.length} * kSectorBytes, 0);
    const long long from = (static_cast<long long>(file.start) * kSamplesPerSector + offset) * 4;
    const long long readFrom = first * kSectorBytes;
    const long long readTo = readFrom + static_cast<long long>(read.size());
    for (std::size_t i = 0; i < out.size();) {
        const long long at = from + static_cast<long long>(i);
        if (at < readFrom || at >= readTo) {
            ++i;
            continue;
        }
        const std::size_t n = static_cast<std::size_t>(
            std::min<long long>(readTo - at, static_cast<long long>(out.size() - i)));
        std::memcpy(out.data() + i, read.data() + (at - readFrom), n);
        i += n;
    }
    return out;
}

// Writes pcm as a 16-bit FLAC file at target (through a temporary file renamed over it), decoding it
// back and comparing it with pcm before it counts as written. False with *why.
// The disc's CD-Text as the files' tags.
struct FlacTags {
    std::string title, artist, album;
};

bool WriteFlac(const std::filesystem::path& target, const std::vector<unsigned char>& pcm, int number,
               const FlacTags& tags, std::string* why) {
    TemporaryOutput temporary;
    if (!temporary.Create(target, "rip", why)) {
        return false;
    }
    const sf_count_t frames = static_cast<sf_count_t>(pcm.size() / 4);
    std::vector<short> block(2 * 4096);
    const auto samplesAt = [&pcm](sf_count_t frame, sf_count_t n, short* out) {
        for (sf_count_t i = 0; i < 2 * n; ++i) {
            const unsigned char* p = pcm.data() + (frame * 2 + i) * 2;
            out[i] = static_cast<short>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
        }
    };
    {
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        SNDFILE* out = sf_open(temporary.Path().c_str(), SFM_WRITE, &info);
        if (out == nullptr) {
            *why = std::string("cannot write FLAC: ") + sf_strerror(nullptr);
            temporary.Discard();
            return false;
        }
        const std::string track = std::to_string(number);
        sf_set_string(out, SF_STR_TRACKNUMBER, track.c_str());
        for (const auto& [kind, text] :
             {std::pair{SF_STR_TITLE, &tags.title}, std::pair{SF_STR_ARTIST, &tags.artist},
              std::pair{SF_STR_ALBUM, &tags.album}}) {
            if (!text->empty()) {
                sf_set_string(out, kind, text->c_str());
            }
        }
        for (sf_count_t at = 0; at < frames;) {
            const sf_count_t n = std::min<sf_count_t>(4096, frames - at);
            samplesAt(at, n, block.data());
            if (sf_writef_short(out, block.data(), n) != n) {
                *why = std::string("write failed: ") + sf_strerror(out);
                sf_close(out);
                temporary.Discard();
                return false;
            }
            at += n;
        }
        if (sf_close(out) != 0) {
            *why = "write failed while finishing the FLAC file";
            temporary.Discard();
            return false;
        }
    }
    // Decoded back: the file counts only when it holds exactly what was read.
    SF_INFO info{};
    SNDFILE* in = sf_open(temporary.Path().c_str(), SFM_READ, &info);
    bool same = in != nullptr && info.frames == frames && info.channels == 2 && info.samplerate == 44100;
    std::vector<short> expected(block.size());
    for (sf_count_t at = 0; same && at < frames;) {
        const sf_count_t n = std::min<sf_count_t>(4096, frames - at);
        samplesAt(at, n, expected.data());
        same = sf_readf_short(in, block.data(), n) == n &&
               std::equal(block.begin(), block.begin() + 2 * n, expected.begin());
        at += n;
    }
    if (in != nullptr) {
        sf_close(in);
    }
    if (!same) {
        *why = "the FLAC file written does not decode to the audio read";
        temporary.Discard();
        return false;
    }
    FILE* sync = std::fopen(temporary.Path().c_str(), "rb");
    const bool synced = sync != nullptr && platform::SyncFile(::fileno(sync));
    if (sync != nullptr) {
        std::fclose(sync);
    }
    if (!synced) {
        *why = "write failed: " + ErrnoText(errno);
        temporary.Discard();
        return false;
    }
    return temporary.Commit(why);
}

// Writes a text file whole or not at all.
bool WriteText(const std::filesystem::path& target, const std::string& text, std::string* why) {
    TemporaryOutput temporary;
    if (!temporary.Create(target, "rip", why)) {
        return false;
    }
    FILE* file = std::fopen(temporary.Path().c_str(), "wb");
    bool ok = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
              std::fflush(file) == 0 && platform::SyncFile(::fileno(file));
    if (file != nullptr && std::fclose(file) != 0) {
        ok = false;
    }
    if (!ok) {
        *why = "write failed: " + ErrnoText(errno);
        temporary.Discard();
        return false;
    }
    return temporary.Commit(why);
}

std::string MusicBrainzId(const rip::DiscLayout& disc) {
    int last = 0;
    for (const rip::TocTrack& t : disc.tracks) {
        if (!t.data) {
            last = t.number;
        }
    }
    if (disc.tracks.empty() || last == 0) {
        return "unknown";
    }
    const int first = disc.tracks.front().number;
    int offsets[100] = {};
    offsets[0] = static_cast<int>(disc.AudioLeadOut()) + 150;
    for (const rip::TocTrack& t : disc.tracks) {
        if (t.number >= first && t.number <= last) {
            offsets[t.number] = static_cast<int>(t.start) + 150;
        }
    }
    const std::unique_ptr<DiscId, decltype(&discid_free)> id(discid_new(), discid_free);
    if (!id || discid_put(id.get(), first, last, offsets) == 0) {
        return "unknown";
    }
    return discid_get_id(id.get());
}

std::string VerdictText(const rip::TrackVerdict& v, rip::LookupResult::Outcome outcome) {
    if (outcome == rip::LookupResult::kFailed) {
        return "could not look up";
    }
    if (outcome == rip::LookupResult::kNotInDatabase || !v.listed) {
        return "not in the database";
    }
    if (v.v2Confidence > 0) {
        return "accurately ripped (confidence " + std::to_string(v.v2Confidence) + ", v2)";
    }
    if (v.v1Confidence > 0) {
        return "accurately ripped (confidence " + std::to_string(v.v1Confidence) + ", v1)";
    }
    return "not accurate";
}

} // namespace

int RunRipDisc(const std::vector<std::string>& args) {
    unsigned char letter = 0;
    std::string folder;
    std::optional<long> givenOffset;
    bool letterSeen = false;
    bool ok = true;
    for (std::size_t i = 0; i < args.size() && ok; ++i) {
        if (args[i] == "--disc" && i + 1 < args.size()) {
            folder = args[++i];
        } else if (args[i] == "--offset" && i + 1 < args.size()) {
            givenOffset = ParseOffset(args[++i]);
            ok = givenOffset.has_value();
        } else if (!letterSeen && ParseDriveLetter(args[i], letter)) {
            letterSeen = true;
        } else {
            ok = false;
        }
    }
    if (!ok || !letterSeen || folder.empty()) {
        std::fputs("usage: quellwave-cli rip LETTER --disc DIR [--offset N]   (N: -5880 .. 5880 samples)\n",
                   stderr);
        return 2;
    }
    const std::filesystem::path dir = folder;
    std::error_code error;
    if (!std::filesystem::is_directory(dir, error)) {
        return Fail(folder + ": not a folder");
    }

    CDiscPilot pilot;
    if (!pilot.SetDrive(letter)) {
        return Fail(NoDiscText(letter));
    }
    discpilot::DiscToc toc;
    if (!CDiscPilot::Diagnostics::GetDiscToc(pilot, toc) || toc.count == 0) {
        return Fail("the disc has no table of contents");
    }
    rip::DiscLayout disc;
    for (int i = 0; i < toc.count; ++i) {
        const discpilot::DiscTrack& t = toc.tracks[i];
        disc.tracks.push_back({t.number, t.start, t.length, t.data});
    }
    disc.leadOut = toc.lastReadableLba + 1;
    if (disc.AudioTrackCount() == 0) {
        return Fail("the disc holds no audio tracks");
    }
    discpilot::DriveProbe probe;
    CDiscPilot::Diagnostics::ProbeDrive(static_cast<char>(letter), probe);
    discpilot::ConditionSummary condition;
    CDiscPilot::Diagnostics::GetReadCondition(pilot, condition);
    long offset = 0;
    std::string offsetSource = "none known for this drive model";
    if (givenOffset) {
        offset = *givenOffset;
        offsetSource = "given for this rip";
    } else if (CDiscPilot::Diagnostics::GetReadOffset(pilot, offset)) {
        offsetSource = "stored for this drive model";
    }
    CDiscPilot::Diagnostics::SetSecureReading(pilot, true);
    const std::string albumTitle = CdTextOf(pilot, 0, discpilot::kCdTextTitle);
    const std::string albumPerformer = CdTextOf(pilot, 0, discpilot::kCdTextPerformer);

    // The files: the audio before the first track where that one is audio and does not start the disc,
    // then every audio track.
    std::vector<RipFile> files;
    if (!disc.tracks.front().data && disc.tracks.front().start > 0) {
        RipFile f;
        f.number = 0;
        f.start = 0;
        f.length = disc.tracks.front().start;
        files.push_back(f);
    }
    for (int i = 0; i < toc.count; ++i) {
        const discpilot::DiscTrack& t = toc.tracks[i];
        if (!t.data) {
            RipFile f;
            f.number = t.number;
            f.start = t.start;
            f.length = t.length;
            f.preEmphasis = t.preEmphasis;
            f.title = CdTextOf(pilot, t.number, discpilot::kCdTextTitle);
            f.performer = CdTextOf(pilot, t.number, discpilot::kCdTextPerformer);
            f.name = rip::TrackFileName(t.number, f.title);
            files.push_back(f);
        }
    }
    // The runs of audio the drive can read around a file: sectors beyond them read as silence.
    const auto audioRun = [&](std::uint32_t lba, std::uint32_t& from, std::uint32_t& to) {
        std::size_t i = 0;
        while (i < disc.tracks.size() &&
               !(lba >= disc.tracks[i].start && lba - disc.tracks[i].start < disc.tracks[i].length)) {
            ++i;
        }
        if (i == disc.tracks.size()) {
            i = 0; // before the first track: its pregap
        }
        std::size_t a = i, b = i;
        while (a > 0 && !disc.tracks[a - 1].data) {
            --a;
        }
        while (b + 1 < disc.tracks.size() && !disc.tracks[b + 1].data) {
            ++b;
        }
        from = a == 0 ? 0 : disc.tracks[a].start;
        to = disc.tracks[b].start + disc.tracks[b].length;
    };
    std::uint64_t totalBytes = 0;
    for (const RipFile& f : files) {
        totalBytes += 2ull * f.length * kSectorBytes;
    }
    Progress progress(totalBytes, static_cast<int>(files.size()));

    const int audioTracks = disc.AudioTrackCount();
    int audioIndex = 0;
    for (RipFile& f : files) {
        // The drive sectors that hold the file's audio, the offset corrected; those the drive can reach.
        const long long firstSample = static_cast<long long>(f.start) * kSamplesPerSector + offset;
        const long long endSample = static_cast<long long>(f.start + f.length) * kSamplesPerSector + offset;
        const long long s0 = FloorDiv(firstSample, kSamplesPerSector);
        const long long s1 = FloorDiv(endSample + kSamplesPerSector - 1, kSamplesPerSector);
        std::uint32_t runFrom = 0, runTo = 0;
        audioRun(f.start, runFrom, runTo);
        const long long r0 = std::max<long long>(s0, runFrom);
        const long long r1 = std::min<long long>(s1, runTo);
        const auto count = static_cast<std::uint32_t>(std::max<long long>(0, r1 - r0));
        std::vector<unsigned char> test(std::size_t{count} * kSectorBytes), copy(test.size());
        ReadFindings testFound, copyFound;
        std::string why;
        const auto lba = static_cast<std::uint32_t>(r0);
        if (count > 0 && (!ReadRun(pilot, lba, count, test.data(), &progress, testFound, &why) ||
                          !ReadRun(pilot, lba, count, copy.data(), &progress, copyFound, &why))) {
            progress.End();
            return Fail("track " + std::to_string(f.number) + ": " + why);
        }
        // Where the test and the copy differ, the sectors are read again until two reads agree.
        std::vector<std::uint32_t> differ;
        for (std::uint32_t i = 0; i < count; ++i) {
            if (std::memcmp(test.data() + std::size_t{i} * kSectorBytes,
                            copy.data() + std::size_t{i} * kSectorBytes, kSectorBytes) != 0) {
                differ.push_back(i);
            }
        }
        f.reread = static_cast<std::uint32_t>(differ.size());
        std::vector<std::vector<std::vector<unsigned char>>> versions(differ.size());
        for (std::size_t d = 0; d < differ.size(); ++d) {
            const unsigned char* t = test.data() + std::size_t{differ[d]} * kSectorBytes;
            const unsigned char* c = copy.data() + std::size_t{differ[d]} * kSectorBytes;
            versions[d] = {{t, t + kSectorBytes}, {c, c + kSectorBytes}};
        }
        std::vector<bool> agreed(differ.size(), false);
        ReadFindings rereadFound;
        for (int attempt = 0; attempt < kRereads; ++attempt) {
            for (std::size_t d = 0; d < differ.size();) {
                if (agreed[d]) {
                    ++d;
                    continue;
                }
                std::size_t e = d + 1;
                while (e < differ.size() && !agreed[e] && differ[e] == differ[e - 1] + 1) {
                    ++e;
                }
                const std::uint32_t n = differ[e - 1] - differ[d] + 1;
                std::vector<unsigned char> again(std::size_t{n} * kSectorBytes);
                if (!ReadRun(pilot, lba + differ[d], n, again.data(), nullptr, rereadFound, &why)) {
                    progress.End();
                    return Fail("track " + std::to_string(f.number) + ": " + why);
                }
                for (std::size_t k = d; k < e; ++k) {
                    const unsigned char* s = again.data() + std::size_t{differ[k] - differ[d]} * kSectorBytes;
                    for (const auto& earlier : versions[k]) {
                        if (std::equal(earlier.begin(), earlier.end(), s)) {
                            std::memcpy(copy.data() + std::size_t{differ[k]} * kSectorBytes, s, kSectorBytes);
                            agreed[k] = true;
                            break;
                        }
                    }
                    if (!agreed[k]) {
                        versions[k].emplace_back(s, s + kSectorBytes);
                    }
                }
                d = e;
            }
        }
        for (std::size_t d = 0; d < differ.size(); ++d) {
            if (!agreed[d]) {
                f.neverAlike.insert(lba + differ[d]);
            }
        }
        for (const std::set<std::uint32_t>* found : {&copyFound.unreadable, &rereadFound.unreadable}) {
            for (const std::uint32_t s : *found) {
                const unsigned char* at = copy.data() + std::size_t{s - lba} * kSectorBytes;
                if (s >= lba && s - lba < count &&
                    std::all_of(at, at + kSectorBytes, [](unsigned char b) { return b == 0; })) {
                    f.silent.insert(s);
                }
            }
        }
        for (const ReadFindings* found : {&testFound, &copyFound, &rereadFound}) {
            f.unsettled.insert(found->unsettled.begin(), found->unsettled.end());
        }

        // Each read given up as soon as its part is done: a long track is held twice at most.
        {
            const std::vector<unsigned char> testAudio = Corrected(test, r0, f, offset);
            f.testCrc = rip::Crc32(testAudio.data(), testAudio.size());
        }
        std::vector<unsigned char>().swap(test);
        const std::vector<unsigned char> audio = Corrected(copy, r0, f, offset);
        std::vector<unsigned char>().swap(copy);
        f.copyCrc = rip::Crc32(audio.data(), audio.size());
        for (std::size_t i = 0; i + 1 < audio.size(); i += 2) {
            const auto sample =
                static_cast<std::int16_t>(static_cast<std::uint16_t>(audio[i] | audio[i + 1] << 8));
            f.peak = std::max(f.peak, std::abs(static_cast<int>(sample)));
        }
        if (f.number > 0) {
            f.ar = rip::AccurateRipChecksums(audio.data(), audio.size(), audioIndex == 0,
                                             audioIndex == audioTracks - 1);
            ++audioIndex;
        } else if (f.peak > 0) {
            f.name = rip::TrackFileName(0, "");
        }
        // Audio before the first track is written only where there is any: a silent pregap is a gap.
        if (!f.name.empty()) {
            const FlacTags tags{f.title, f.performer.empty() ? albumPerformer : f.performer, albumTitle};
            if (!WriteFlac(dir / f.name, audio, f.number, tags, &why)) {
                progress.End();
                return Fail((dir / f.name).string() + ": " + why);
            }
            f.written = true;
        }
        progress.FileDone();
    }
    progress.End();

    // Where each track's pregap begins, asked of the drive once the reading is done.
    std::vector<std::uint32_t> pregaps(static_cast<std::size_t>(toc.count));
    const int found = CDiscPilot::Diagnostics::GetPregapStarts(pilot, pregaps.data(), toc.count);
    for (RipFile& f : files) {
        f.pregapStart = f.start;
        for (int i = 0; i < found; ++i) {
            if (toc.tracks[i].number == f.number && f.number > 0) {
                f.pregapStart = std::min(pregaps[static_cast<std::size_t>(i)], f.start);
            }
        }
    }
    if (!files.empty() && files.front().number == 0 && files.size() > 1) {
        files[1].pregapStart = 0; // the first track's index 0 runs from the disc's start
    }

    // The database.
    const rip::DiscIds ids = rip::ComputeDiscIds(disc);
    const std::string address = DatabaseAddress();
    rip::LookupResult lookup;
    if (address.empty()) {
        lookup.why = "no database address is set";
    } else {
        lookup = rip::FetchDbar(address, rip::DbarPath(ids), kLookupTimeoutSeconds);
    }
    std::vector<rip::DbarEntry> entries;
    if (lookup.outcome == rip::LookupResult::kFound) {
        std::string bad;
        if (!rip::ParseDbar(lookup.body.data(), lookup.body.size(), entries, &bad)) {
            lookup.outcome = rip::LookupResult::kFailed;
            lookup.why = "the database's answer is damaged: " + bad;
        }
    }
    audioIndex = 0;
    for (RipFile& f : files) {
        if (f.number > 0) {
            f.verdict = rip::Verdict(entries, ids, audioIndex++, f.ar);
        }
    }

    // The CUE sheet.
    std::vector<rip::SheetTrack> sheetTracks;
    std::string firstFile;
    for (const RipFile& f : files) {
        if (f.number == 0) {
            firstFile = f.written ? f.name : "";
            continue;
        }
        sheetTracks.push_back(
            {f.number, f.start, f.pregapStart, f.preEmphasis, f.name, f.title, f.performer});
    }
    std::string why;
    if (!WriteText(dir / "rip.cue",
                   rip::RipCueSheet(sheetTracks, firstFile, ids.cddb, albumTitle, albumPerformer), &why)) {
        return Fail((dir / "rip.cue").string() + ": " + why);
    }

    // The log.
    std::string log =
        "quellwave-cli rip of the disc in drive " + std::string(1, static_cast<char>(letter)) + "\n";
    log += "Drive: " + Trimmed(probe.vendor, sizeof probe.vendor) + " " +
           Trimmed(probe.product, sizeof probe.product) + " " +
           Trimmed(probe.revision, sizeof probe.revision) + "\n";
    log += std::string("Transport: ") +
           (probe.passThrough ? "SCSI pass-through (ASPI)" : "CD device controls (RAW)") + "\n";
    if (condition.stored != 0) {
        log += "Read condition: stored by the drive check: speed " + std::to_string(condition.speed) +
               "x, overlap " + std::to_string(condition.overlap) + " sectors, " +
               (condition.accurate != 0 ? "accurate" : "not accurate") + ", buffer " +
               std::to_string(condition.bufferSize) + " bytes\n";
    } else {
        log += "Read condition: none stored (the drive check has not run)\n";
    }
    log +=
        "Reading: secure (overlap correction, verified starts, cache defeat), every track read twice: test, "
        "then copy\n";
    log += "Read offset: " + std::string(offset > 0 ? "+" : "") + std::to_string(offset) + " samples (" +
           offsetSource + ")\n";
    log += "Tracks: " + std::to_string(audioTracks) + " audio of " + std::to_string(toc.count) + "\n";
    char name[64];
    std::snprintf(name, sizeof name, "%03d-%08x-%08x-%08x", ids.audioTracks, ids.id1, ids.id2, ids.cddb);
    log += std::string("AccurateRip disc id: ") + name + "\n";
    log += "CDDB disc id: " + Hex(ids.cddb) + "\n";
    log += "MusicBrainz disc id: " + MusicBrainzId(disc) + "\n";
    log +=
        "Database: " + address + ": " +
        (lookup.outcome == rip::LookupResult::kFound           ? std::string("found")
         : lookup.outcome == rip::LookupResult::kNotInDatabase ? std::string("not in the database")
                                                               : "could not look up (" + lookup.why + ")") +
        "\n";
    std::vector<std::string> failures;
    bool allAccurate = lookup.outcome == rip::LookupResult::kFound;
    bool silence = false;
    bool unverified = false;
    for (const RipFile& f : files) {
        // A file name from a title may be long: no fixed buffer for it.
        char number[16];
        std::snprintf(number, sizeof number, "%02d", f.number);
        if (f.number == 0) {
            log += std::string("\nTrack 00 (audio before track 1, ") +
                   (f.written ? "\"" + f.name + "\"" : std::string("silence, not written")) + ")\n";
        } else {
            log += std::string("\nTrack ") + number + " \"" + f.name + "\"\n";
        }
        char peak[32];
        std::snprintf(peak, sizeof peak, "%.1f %%", f.peak * 100.0 / 32768.0);
        log += "  Pregap: " + TrackTime(f.start - f.pregapStart) + "\n";
        log += std::string("  Peak: ") + peak + "\n";
        log += "  Test CRC: " + Hex(f.testCrc) + "\n";
        log += "  Copy CRC: " + Hex(f.copyCrc) + (f.testCrc == f.copyCrc ? " (same)" : " (differs)") + "\n";
        if (f.number > 0) {
            log += "  AccurateRip v1: " + Hex(f.ar.v1) + "\n";
            log += "  AccurateRip v2: " + Hex(f.ar.v2) + "\n";
            log += "  Database: " + VerdictText(f.verdict, lookup.outcome) + "\n";
        }
        log += "  Unreadable (silence): " + Runs(f.silent, f.start) + "\n";
        log += "  Unsettled: " + Runs(f.unsettled, f.start) + "\n";
        if (f.reread > 0) {
            log += "  Test and copy differed in " + std::to_string(f.reread) +
                   " sectors, read again until two "
                   "reads agreed; never alike: " +
                   Runs(f.neverAlike, f.start) + "\n";
        }
        const std::string track = "track " + std::to_string(f.number);
        if (!f.silent.empty()) {
            silence = true;
            failures.push_back(track + ": " + std::to_string(f.silent.size()) +
                               (f.silent.size() == 1 ? " sector" : " sectors") + " written as silence");
        }
        if (!f.neverAlike.empty()) {
            unverified = true;
            failures.push_back(track + ": test and copy differ");
        }
        if (!f.unsettled.empty()) {
            unverified = true;
            failures.push_back(track + ": " + std::to_string(f.unsettled.size()) +
                               (f.unsettled.size() == 1 ? " sector" : " sectors") + " unsettled");
        }
        if (f.number > 0) {
            if (f.verdict.listed && !f.verdict.Accurate() && lookup.outcome == rip::LookupResult::kFound) {
                unverified = true;
                failures.push_back(track + ": not accurate");
            }
            allAccurate = allAccurate && f.verdict.Accurate();
        }
    }
    if (!failures.empty()) {
        std::string line;
        for (const std::string& failure : failures) {
            line += (line.empty() ? "" : "; ") + failure;
        }
        log += "\n" + line + "\n";
    } else {
        log += allAccurate ? "\nall tracks accurate\n" : "\nall tracks ripped, not verified\n";
    }
    char speed[48];
    std::snprintf(speed, sizeof speed, "%.2f", progress.Speed());
    if (!WriteText(dir / "rip.log", log, &why)) {
        return Fail((dir / "rip.log").string() + ": " + why);
    }
    std::fputs(log.c_str(), stdout);
    std::fprintf(stderr, "quellwave-cli: read at %sx real time (both reads)\n", speed);
    if (unverified) {
        return kExitNotVerified;
    }
    return silence ? kExitReadWithErrors : 0;
}

int RunOffset(const std::vector<std::string>& args) {
    unsigned char letter = 0;
    const auto value = args.size() == 2 ? ParseOffset(args[1]) : std::nullopt;
    if (args.size() != 2 || !ParseDriveLetter(args[0], letter) || !value) {
        std::fputs(
            "usage: quellwave-cli offset LETTER N   (N: the drive's read offset, -5880 .. 5880 samples)\n",
            stderr);
        return 2;
    }
    CDiscPilot pilot;
    if (!pilot.SetDrive(letter)) {
        return Fail(NoDiscText(letter));
    }
    if (!CDiscPilot::Diagnostics::StoreReadOffset(pilot, *value)) {
        return Fail("the read offset could not be stored");
    }
    std::printf("read offset %+ld samples stored for this drive model\n", *value);
    return 0;
}

} // namespace cli
