// Runs "quellwave-cli rip V --disc DIR" on a twelve-track image with a hidden track-one pregap, INDEX 00
// pregaps and a data track last, and checks what it wrote against independent tools: flac for the files,
// accuraterip-checksum (whipper) for the AccurateRip checksums, libdiscid for the MusicBrainz id, the
// virtual drive (through "toc") for the CUE sheet, and a loopback HTTP server for the database.
#include "CliHarness.h"
#include "TestKit/DiscImage.h"

#include <discid/discid.h>
#include <gtest/gtest.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using clitest::Quote;

constexpr std::uint32_t kSector = 2352;
// The audio tracks: the sectors of index 0 before each (the first track's is a hidden track) and of
// index 1 on; then a data track.
struct Shape {
    std::uint32_t pregap, length;
};
const std::vector<Shape> kTracks = {{225, 400}, {0, 380}, {75, 500}, {0, 310},   {150, 420}, {0, 330},
                                    {30, 450},  {0, 360}, {0, 390},  {100, 410}, {0, 370},   {60, 345}};
constexpr std::uint32_t kDataSectors = 300;

class RipDiscTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string kinds;
        std::string sheet = "FILE \"disc.bin\" BINARY\n";
        std::uint32_t at = 0;
        for (std::size_t i = 0; i < kTracks.size(); ++i) {
            char line[48];
            std::snprintf(line, sizeof line, "  TRACK %02zu AUDIO\n", i + 1);
            sheet += line;
            if (kTracks[i].pregap > 0) {
                sheet += "    INDEX 00 " + testkit::CueTime(at) + "\n";
            }
            indexZero_.push_back(at);
            at += kTracks[i].pregap;
            sheet += "    INDEX 01 " + testkit::CueTime(at) + "\n";
            starts_.push_back(at);
            at += kTracks[i].length;
        }
        dataStart_ = at;
        sheet += "  TRACK 13 MODE1/2352\n    INDEX 01 " + testkit::CueTime(at) + "\n";
        kinds = std::string(at, 'a') + std::string(kDataSectors, '1');
        image_ = testkit::BuildFile(37, kinds, 0);
        testkit::WriteBytes(dir_ / "disc.bin", image_);
        testkit::WriteText(dir_ / "disc.cue", sheet);
        WriteMachine("", "");
    }
    void TearDown() override { StopServer(); }

    // machine.reg: V is the disc, with these values in its drive profile, and the database's address.
    void WriteMachine(const std::string& profile, const std::string& address,
                      const std::string& transport = "RAW") {
        testkit::WriteText(dir_ / "machine.reg",
                           "Windows Registry Editor Version 5.00\n\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]\n"
                           "\"V\"=\"image:" +
                               (dir_ / "disc.cue").string() +
                               "\"\n\n[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives\\V]\n" +
                               profile +
                               "\n[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Quellwave]\n"
                               "\"AccurateRipAddress\"=\"" +
                               address +
                               "\"\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orva Corporation\\Tarnix\\Corvex]\n"
                               "\"Cdrom_Mode\"=\"" +
                               transport + "\"\n");
    }
    clitest::RunResult Run(const std::string& command) const {
        return clitest::Shell("cd " + Quote(dir_) + " && " + command, dir_);
    }
    clitest::RunResult Rip(const std::string& folder, const std::string& options = "") const {
        std::filesystem::remove_all(dir_ / folder);
        std::filesystem::create_directories(dir_ / folder);
        return Run(std::string("'") + QW_CLI_PATH + "' rip V --disc " + folder + " " + options);
    }
    static std::string FileName(int track) {
        char name[32];
        std::snprintf(name, sizeof name, "%02d - Track %02d.flac", track, track);
        return name;
    }
    // A FLAC file decoded by flac to raw little-endian 16-bit samples.
    testkit::Bytes Decoded(const std::filesystem::path& flacFile) const {
        const auto raw = dir_ / "decoded.raw";
        const auto r = Run("flac -s -f -d --force-raw-format --endian=little --sign=signed -o " + Quote(raw) +
                           " " + Quote(flacFile));
        EXPECT_EQ(r.status, 0) << r.err;
        return testkit::ReadBytes(raw);
    }
    // accuraterip-checksum's v1 or v2 checksum of a ripped track.
    std::string Reference(const std::filesystem::path& flacFile, int track, bool v1) const {
        const auto wav = dir_ / "reference.wav";
        EXPECT_EQ(Run("flac -s -f -d -o " + Quote(wav) + " " + Quote(flacFile)).status, 0);
        const auto r = Run(std::string("accuraterip-checksum ") + (v1 ? "--accuraterip-v1 " : "") +
                           Quote(wav) + " " + std::to_string(track) + " " + std::to_string(kTracks.size()));
        EXPECT_EQ(r.status, 0) << r.err;
        std::string out = r.out;
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) {
            out.pop_back();
        }
        for (char& c : out) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return out;
    }
    // The value of a "  Name: value" line of a track's part of the log (track 0 .. 12).
    static std::string LogValue(const std::string& log, int track, const std::string& name) {
        char head[24];
        std::snprintf(head, sizeof head, "\nTrack %02d ", track);
        const std::size_t from = log.find(head);
        if (from == std::string::npos) {
            return "(no track)";
        }
        const std::size_t end = log.find("\nTrack ", from + 1);
        const std::size_t at = log.find("  " + name + ": ", from);
        if (at == std::string::npos || at > end) {
            return "(no " + name + ")";
        }
        const std::size_t valueFrom = at + name.size() + 4;
        return log.substr(valueFrom, log.find('\n', valueFrom) - valueFrom);
    }
    static std::string LastLine(const std::string& text) {
        std::string t = text;
        while (!t.empty() && t.back() == '\n') {
            t.pop_back();
        }
        return t.substr(t.rfind('\n') + 1);
    }
    testkit::Bytes Slice(std::uint32_t from, std::uint32_t sectors) const {
        return {image_.begin() + std::size_t{from} * kSector,
                image_.begin() + std::size_t{from + sectors} * kSector};
    }
    // The audio of track t's file: from its start to the next track's (its successor's pregap kept).
    testkit::Bytes TrackAudio(std::size_t t) const {
        const std::uint32_t end = t + 1 < starts_.size() ? starts_[t + 1] : dataStart_;
        return Slice(starts_[t], end - starts_[t]);
    }

    // A loopback HTTP server over folder `root`; its address is returned.
    std::string StartServer(const std::filesystem::path& root) {
        testkit::WriteText(
            dir_ / "server.py",
            "import http.server, sys, functools\n"
            "handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])\n"
            "server = http.server.HTTPServer(('127.0.0.1', 0), handler)\n"
            "open(sys.argv[2] + '.tmp', 'w').write(str(server.server_address[1]))\n"
            "import os; os.rename(sys.argv[2] + '.tmp', sys.argv[2])\n"
            "server.serve_forever()\n");
        std::filesystem::remove(dir_ / "port");
        const auto r = Run("python3 server.py " + Quote(root) + " port >/dev/null 2>&1 & echo $!");
        serverPid_ = std::stoi(r.out);
        for (int i = 0; i < 200 && !std::filesystem::exists(dir_ / "port"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        std::ifstream port(dir_ / "port");
        std::string number;
        port >> number;
        EXPECT_FALSE(number.empty()) << "the loopback server did not start";
        return "http://127.0.0.1:" + number + "/accuraterip";
    }
    void StopServer() {
        if (serverPid_ > 0) {
            ::kill(serverPid_, SIGTERM);
            serverPid_ = 0;
        }
    }

    testkit::RegistrySandbox registry_{"ripdisc"};
    const std::filesystem::path dir_ = registry_.Path();
    testkit::Bytes image_;
    std::vector<std::uint32_t> starts_, indexZero_;
    std::uint32_t dataStart_ = 0;
    int serverPid_ = 0;
};

bool HaveTools() {
    return clitest::Have("flac") && clitest::Have("accuraterip-checksum") && clitest::Have("python3");
}

// Every file decodes to exactly the disc's samples, the hidden track's too; the checksums are those of the
// independent tool and the MusicBrainz id libdiscid's; the CUE sheet, its files laid end to end, gives
// the disc's table of contents back through the virtual drive. Both transports.
TEST_F(RipDiscTest, AWholeDiscRipHoldsTheDiscsSamplesAndItsChecksums) {
    if (!HaveTools()) {
        GTEST_SKIP() << "flac, accuraterip-checksum or python3 missing (scripts/setup installs them)";
    }
    // libdiscid's id of the disc's table: the audio tracks, ending where the data track starts.
    int offsets[100] = {};
    offsets[0] = static_cast<int>(dataStart_) + 150;
    for (std::size_t t = 0; t < starts_.size(); ++t) {
        offsets[t + 1] = static_cast<int>(starts_[t]) + 150;
    }
    const std::unique_ptr<DiscId, decltype(&discid_free)> id(discid_new(), discid_free);
    ASSERT_EQ(discid_put(id.get(), 1, static_cast<int>(starts_.size()), offsets), 1);
    const std::string musicBrainz = discid_get_id(id.get());

    for (const char* transport : {"RAW", "ASPI"}) {
        SCOPED_TRACE(transport);
        WriteMachine("", "", transport);
        const auto r = Rip("out");
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string log = testkit::ReadText(dir_ / "out" / "rip.log");
        EXPECT_EQ(r.out, log);
        EXPECT_EQ(LastLine(log), "all tracks ripped, not verified");
        EXPECT_NE(log.find("MusicBrainz disc id: " + musicBrainz + "\n"), std::string::npos) << log;
        EXPECT_NE(log.find(std::string("Transport: ") + (transport == std::string("RAW")
                                                             ? "CD device controls (RAW)"
                                                             : "SCSI pass-through (ASPI)")),
                  std::string::npos);
        EXPECT_EQ(Run("flac -t -s " + Quote(dir_ / "out") + "/*.flac").status, 0);
        EXPECT_EQ(Decoded(dir_ / "out" / FileName(0)), Slice(0, starts_[0])) << "the hidden track";
        for (std::size_t t = 0; t < kTracks.size(); ++t) {
            const int n = static_cast<int>(t + 1);
            const auto file = dir_ / "out" / FileName(n);
            EXPECT_EQ(Decoded(file), TrackAudio(t)) << "track " << n;
            EXPECT_EQ(LogValue(log, n, "AccurateRip v1"), Reference(file, n, true)) << "track " << n;
            EXPECT_EQ(LogValue(log, n, "AccurateRip v2"), Reference(file, n, false)) << "track " << n;
            char pregap[16];
            std::snprintf(pregap, sizeof pregap, "%02u:%02u.%02u", kTracks[t].pregap / 4500,
                          kTracks[t].pregap / 75 % 60, kTracks[t].pregap % 75);
            EXPECT_EQ(LogValue(log, n, "Pregap"), pregap) << "track " << n;
            EXPECT_EQ(LogValue(log, n, "Copy CRC"), LogValue(log, n, "Test CRC") + " (same)");
        }
    }

    // The sheet's files laid end to end as one image, its positions turned into the image's: the same
    // index positions as the disc's, and the virtual drive reads the disc's table back from it (the data
    // track, not ripped, left out).
    const std::string sheet = testkit::ReadText(dir_ / "out" / "rip.cue");
    std::istringstream lines(sheet);
    std::string line, joined = "FILE \"joined.bin\" BINARY\n";
    std::uint32_t fileStart = 0, nextStart = 0;
    testkit::Bytes all;
    const std::regex fileLine("FILE \"(.*)\" WAVE"),
        indexLine("    INDEX (0[01]) (\\d\\d):(\\d\\d):(\\d\\d)");
    std::smatch m;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, m, fileLine)) {
            const auto pcm = Decoded(dir_ / "out" / m[1].str());
            fileStart = nextStart;
            nextStart += static_cast<std::uint32_t>(pcm.size() / kSector);
            all.insert(all.end(), pcm.begin(), pcm.end());
        } else if (std::regex_match(line, m, indexLine)) {
            const std::uint32_t at = fileStart + std::stoul(m[2].str()) * 4500 + std::stoul(m[3].str()) * 75 +
                                     std::stoul(m[4].str());
            joined += "    INDEX " + m[1].str() + " " + testkit::CueTime(at) + "\n";
        } else if (line.rfind("  TRACK", 0) == 0) {
            joined += line + "\n";
        }
    }
    testkit::WriteBytes(dir_ / "joined.bin", all);
    testkit::WriteText(dir_ / "joined.cue", joined);
    EXPECT_EQ(all, Slice(0, dataStart_));
    std::string expected = "FILE \"joined.bin\" BINARY\n";
    for (std::size_t t = 0; t < kTracks.size(); ++t) {
        char track[48];
        std::snprintf(track, sizeof track, "  TRACK %02zu AUDIO\n", t + 1);
        expected += track;
        if (kTracks[t].pregap > 0) {
            expected += "    INDEX 00 " + testkit::CueTime(indexZero_[t]) + "\n";
        }
        expected += "    INDEX 01 " + testkit::CueTime(starts_[t]) + "\n";
    }
    EXPECT_EQ(joined, expected) << sheet;
    // Played as a disc in the virtual drive, the joined sheet's tracks are the disc's.
    testkit::WriteText(dir_ / "machine.reg",
                       testkit::ReadText(dir_ / "machine.reg") +
                           "\n[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]\n"
                           "\"W\"=\"image:" +
                           (dir_ / "joined.cue").string() + "\"\n");
    const auto disc = Run(std::string("'") + QW_CLI_PATH + "' toc V");
    const auto ripped = Run(std::string("'") + QW_CLI_PATH + "' toc W");
    ASSERT_EQ(disc.status, 0) << disc.err;
    ASSERT_EQ(ripped.status, 0) << ripped.err;
    const auto tracksOf = [](const std::string& toc) {
        return toc.substr(0, std::min(toc.find("\n   13 "), toc.find("\nlead-out")));
    };
    EXPECT_EQ(tracksOf(ripped.out), tracksOf(disc.out)) << ripped.out;
    EXPECT_NE(ripped.out.find("   12 "), std::string::npos) << ripped.out;
}

// A drive that reads 667 samples early (or 30 late), ripped with the matching offset (given, or stored
// with "offset"), gives the disc's checksums; the log names the offset and where it came from.
// A disc with CD-Text: each titled track's file is named by its title (a '/' made safe), the others
// keep "Track NN"; the sheet carries the titles and performers and the files their tags.
TEST_F(RipDiscTest, CdTextNamesTheFilesAndGoesIntoTheSheetAndTheTags) {
    std::string sheet = testkit::ReadText(dir_ / "disc.cue");
    sheet.insert(0, "PERFORMER \"The Harbour Band\"\nTITLE \"Songs of the Sea\"\n");
    sheet.insert(sheet.find("TRACK 01 AUDIO\n") + 15, "    TITLE \"High Water\"\n");
    sheet.insert(sheet.find("TRACK 03 AUDIO\n") + 15, "    TITLE \"Live/Loud\"\n    PERFORMER \"Guest\"\n");
    testkit::WriteText(dir_ / "disc.cue", sheet);
    const auto r = Rip("titled");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name :
         {"01 - High Water.flac", "02 - Track 02.flac", "03 - Live_Loud.flac", "12 - Track 12.flac"}) {
        EXPECT_TRUE(std::filesystem::exists(dir_ / "titled" / name)) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ / "titled" / "01 - Track 01.flac"));
    const std::string cue = testkit::ReadText(dir_ / "titled" / "rip.cue");
    EXPECT_NE(cue.find("PERFORMER \"The Harbour Band\"\nTITLE \"Songs of the Sea\"\nFILE "),
              std::string::npos)
        << cue;
    EXPECT_NE(cue.find("  TRACK 01 AUDIO\n    TITLE \"High Water\"\n"), std::string::npos) << cue;
    EXPECT_NE(cue.find("  TRACK 03 AUDIO\n    TITLE \"Live/Loud\"\n    PERFORMER \"Guest\"\n"),
              std::string::npos)
        << cue;
    EXPECT_NE(cue.find("FILE \"03 - Live_Loud.flac\" WAVE\n"), std::string::npos) << cue;
    EXPECT_NE(testkit::ReadText(dir_ / "titled" / "rip.log").find("\nTrack 03 \"03 - Live_Loud.flac\"\n"),
              std::string::npos);
    if (!clitest::Have("metaflac")) {
        GTEST_SKIP() << "metaflac missing";
    }
    const auto tags = [&](const char* name) {
        // Vorbis comment field names are case-insensitive: compared upper-cased.
        std::string out = Run("metaflac --show-tag=TITLE --show-tag=ARTIST --show-tag=ALBUM " +
                              Quote(dir_ / "titled" / name))
                              .out;
        for (std::size_t at = 0; at < out.size(); at = out.find('\n', at) + 1) {
            for (std::size_t k = at; k < out.size() && out[k] != '='; ++k) {
                out[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[k])));
            }
            if (out.find('\n', at) == std::string::npos) {
                break;
            }
        }
        return out;
    };
    EXPECT_EQ(tags("01 - High Water.flac"),
              "TITLE=High Water\nARTIST=The Harbour Band\nALBUM=Songs of the Sea\n");
    EXPECT_EQ(tags("03 - Live_Loud.flac"), "TITLE=Live/Loud\nARTIST=Guest\nALBUM=Songs of the Sea\n");
}

TEST_F(RipDiscTest, ADriveWithAReadOffsetRippedWithItGivesTheDiscsChecksums) {
    if (!HaveTools()) {
        GTEST_SKIP() << "flac or accuraterip-checksum missing";
    }
    ASSERT_EQ(Rip("exact").status, 0);
    const std::string exact = testkit::ReadText(dir_ / "exact" / "rip.log");
    const auto checksums = [](const std::string& log) {
        std::vector<std::string> sums;
        for (int t = 1; t <= static_cast<int>(kTracks.size()); ++t) {
            sums.push_back(LogValue(log, t, "AccurateRip v1") + " " + LogValue(log, t, "AccurateRip v2"));
        }
        return sums;
    };
    struct Case {
        long offset;
        bool stored;
        const char* named;
    };
    for (const Case c : {Case{667, false, "+667 samples (given for this rip)"},
                         Case{-30, false, "-30 samples (given for this rip)"},
                         Case{667, true, "+667 samples (stored for this drive model)"}}) {
        SCOPED_TRACE(c.named);
        char profile[64];
        std::snprintf(profile, sizeof profile, "\"ReadOffset\"=dword:%08x\n",
                      static_cast<std::uint32_t>(c.offset));
        WriteMachine(profile, "");
        // Without the correction every track's checksum is another.
        ASSERT_EQ(Rip("off").status, 0);
        const std::string off = testkit::ReadText(dir_ / "off" / "rip.log");
        EXPECT_NE(LogValue(off, 5, "AccurateRip v2"), LogValue(exact, 5, "AccurateRip v2"));
        std::string options;
        if (c.stored) {
            const auto stored =
                Run(std::string("'") + QW_CLI_PATH + "' offset V " + std::to_string(c.offset));
            ASSERT_EQ(stored.status, 0) << stored.err;
        } else {
            options = "--offset " + std::to_string(c.offset);
        }
        const auto r = Rip("corrected", options);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string log = testkit::ReadText(dir_ / "corrected" / "rip.log");
        EXPECT_EQ(checksums(log), checksums(exact));
        EXPECT_NE(log.find(std::string("Read offset: ") + c.named + "\n"), std::string::npos) << log;
        // Inside the disc the files are exact; only what lies beyond the drive's reach is silence.
        EXPECT_EQ(Decoded(dir_ / "corrected" / FileName(6)), TrackAudio(5));
    }
    const auto bad = Rip("bad", "--offset 5881");
    EXPECT_EQ(bad.status, 2);
}

// The database on a loopback server, its file built from accuraterip-checksum's checksums: accurate,
// not accurate (one byte of the disc changed), not in the database (no file), and no server.
TEST_F(RipDiscTest, TheDatabaseAnswersAreReportedWithTheirExitCodes) {
    if (!HaveTools()) {
        GTEST_SKIP() << "flac, accuraterip-checksum or python3 missing";
    }
    ASSERT_EQ(Rip("first").status, 0);
    const std::string first = testkit::ReadText(dir_ / "first" / "rip.log");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        first, m, std::regex("AccurateRip disc id: (\\d{3})-([0-9a-f]{8})-([0-9a-f]{8})-([0-9a-f]{8})")));
    const std::uint32_t id1 = std::stoul(m[2].str(), nullptr, 16), id2 = std::stoul(m[3].str(), nullptr, 16),
                        cddb = std::stoul(m[4].str(), nullptr, 16);
    // Two submissions: one of v2 checksums (confidence 3), one of v1 checksums (confidence 2).
    testkit::Bytes dbar;
    const auto le = [&dbar](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            dbar.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    };
    for (const bool v1 : {false, true}) {
        dbar.push_back(static_cast<std::uint8_t>(kTracks.size()));
        le(id1);
        le(id2);
        le(cddb);
        for (std::size_t t = 0; t < kTracks.size(); ++t) {
            const int n = static_cast<int>(t + 1);
            dbar.push_back(v1 ? 2 : 3);
            le(std::stoul(Reference(dir_ / "first" / FileName(n), n, v1), nullptr, 16));
            le(0);
        }
    }
    const auto root = dir_ / "www";
    const std::string path = "accuraterip/" + m[2].str().substr(7, 1) + "/" + m[2].str().substr(6, 1) + "/" +
                             m[2].str().substr(5, 1) + "/dBAR-" + m[0].str().substr(21) + ".bin";
    std::filesystem::create_directories((root / path).parent_path());
    testkit::WriteBytes(root / path, dbar);
    const std::string address = StartServer(root);

    WriteMachine("", address);
    auto r = Rip("accurate");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string log = testkit::ReadText(dir_ / "accurate" / "rip.log");
    EXPECT_EQ(LastLine(log), "all tracks accurate") << log;
    EXPECT_EQ(LogValue(log, 4, "Database"), "accurately ripped (confidence 3, v2)");

    // One byte of track 5 changed on the disc: that track is not accurate, the others still are.
    testkit::Bytes changed = image_;
    changed[std::size_t{starts_[4] + 200} * kSector + 7] ^= 0x01;
    testkit::WriteBytes(dir_ / "disc.bin", changed);
    r = Rip("changed");
    EXPECT_EQ(r.status, 6) << r.err;
    log = testkit::ReadText(dir_ / "changed" / "rip.log");
    EXPECT_EQ(LogValue(log, 5, "Database"), "not accurate");
    EXPECT_EQ(LogValue(log, 6, "Database"), "accurately ripped (confidence 3, v2)");
    EXPECT_EQ(LastLine(log), "track 5: not accurate");
    testkit::WriteBytes(dir_ / "disc.bin", image_);

    std::filesystem::remove(root / path);
    r = Rip("absent");
    EXPECT_EQ(r.status, 0) << r.err;
    log = testkit::ReadText(dir_ / "absent" / "rip.log");
    EXPECT_EQ(LogValue(log, 1, "Database"), "not in the database");
    EXPECT_EQ(LastLine(log), "all tracks ripped, not verified");

    StopServer();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    r = Rip("down");
    EXPECT_EQ(r.status, 0) << r.err;
    log = testkit::ReadText(dir_ / "down" / "rip.log");
    EXPECT_EQ(LogValue(log, 12, "Database"), "could not look up");
    EXPECT_NE(log.find("Database: " + address + ": could not look up ("), std::string::npos) << log;
    EXPECT_EQ(LastLine(log), "all tracks ripped, not verified");
    // The checksums are written all the same.
    EXPECT_EQ(LogValue(log, 12, "AccurateRip v2"), LogValue(first, 12, "AccurateRip v2"));
}

// A sector that never reads is silence in its file, named with its time in the track, and the rip says
// so in its last line and its exit status; nothing is left under a temporary name.
TEST_F(RipDiscTest, AnUnreadableSectorIsNamedAndExitsFive) {
    const std::uint32_t bad = starts_[2] + 100;
    WriteMachine("\"ReadErrors\"=\"" + std::to_string(bad) + ":3/11/00\"\n", "");
    const auto r = Rip("scratched");
    EXPECT_EQ(r.status, 5) << r.err;
    const std::string log = testkit::ReadText(dir_ / "scratched" / "rip.log");
    EXPECT_EQ(LogValue(log, 3, "Unreadable (silence)"), "1 sector at 00:01.25");
    EXPECT_EQ(LogValue(log, 4, "Unreadable (silence)"), "none");
    EXPECT_EQ(LastLine(log), "track 3: 1 sector written as silence");
    for (const auto& e : std::filesystem::directory_iterator(dir_ / "scratched")) {
        EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
    }
    if (clitest::Have("flac")) {
        auto expected = TrackAudio(2);
        std::fill_n(expected.begin() + 100 * kSector, kSector, 0);
        EXPECT_EQ(Decoded(dir_ / "scratched" / FileName(3)), expected);
    }
}

// A drive that adds noise to a few samples of every read: where the test and the copy differ the
// sectors are read again until two reads agree; the sectors that never agreed are named, and every
// sector of the file that is not named is the disc's own. The rip is not verified: exit 6.
TEST_F(RipDiscTest, SectorsWhoseReadsNeverAgreeAreNamedAndTheRestIsExact) {
    if (!clitest::Have("flac")) {
        GTEST_SKIP() << "flac missing";
    }
    WriteMachine("\"Noise\"=dword:00000001\n", "");
    const auto r = Rip("noisy");
    EXPECT_EQ(r.status, 6) << r.err;
    const std::string log = testkit::ReadText(dir_ / "noisy" / "rip.log");
    EXPECT_NE(LastLine(log).find("track 2: test and copy differ"), std::string::npos) << LastLine(log);
    const std::size_t named = log.find("never alike: ", log.find("\nTrack 02 "));
    ASSERT_NE(named, std::string::npos) << log;
    std::set<std::uint32_t> never;
    const std::string list = log.substr(named + 13, log.find('\n', named) - named - 13);
    const std::regex run("(\\d+) sectors? at (\\d\\d):(\\d\\d)\\.(\\d\\d)");
    for (auto it = std::sregex_iterator(list.begin(), list.end(), run); it != std::sregex_iterator(); ++it) {
        const std::uint32_t at =
            std::stoul((*it)[2].str()) * 4500 + std::stoul((*it)[3].str()) * 75 + std::stoul((*it)[4].str());
        for (std::uint32_t k = 0; k < std::stoul((*it)[1].str()); ++k) {
            never.insert(at + k);
        }
    }
    EXPECT_FALSE(never.empty());
    const auto pcm = Decoded(dir_ / "noisy" / FileName(2));
    const auto disc = TrackAudio(1);
    ASSERT_EQ(pcm.size(), disc.size());
    std::size_t wrong = 0;
    for (std::uint32_t i = 0; i < pcm.size() / kSector; ++i) {
        if (!std::equal(pcm.begin() + std::size_t{i} * kSector, pcm.begin() + std::size_t{i + 1} * kSector,
                        disc.begin() + std::size_t{i} * kSector)) {
            ++wrong;
            EXPECT_TRUE(never.count(i) == 1) << "sector " << i << " is wrong and not named";
        }
    }
    // Most sectors got noise in one of the two first reads, and most of those read alike later.
    EXPECT_LT(never.size(), pcm.size() / kSector / 2);
    EXPECT_GT(wrong, 0u);
}

// The help names the whole-disc rip and its exit statuses; wrong arguments are refused before the drive
// is touched, and a folder that is not there is named.
TEST_F(RipDiscTest, HelpAndWrongArguments) {
    const auto help = Run(std::string("'") + QW_CLI_PATH + "' --help");
    EXPECT_NE(help.out.find("rip LETTER --disc DIR [--offset N]"), std::string::npos);
    EXPECT_NE(help.out.find("Exit status 0 all tracks verified, 5 sectors"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("offset LETTER N"), std::string::npos);
    struct Case {
        const char* args;
        int status;
        const char* says;
    };
    for (const Case c :
         {Case{"rip V --disc", 2, "usage: quellwave-cli rip LETTER --disc DIR"},
          Case{"rip --disc out", 2, "usage:"}, Case{"rip V --disc out --offset 1.5", 2, "usage:"},
          Case{"rip V --disc out --offset +-3", 2, "usage:"}, Case{"rip V W --disc out", 2, "usage:"},
          Case{"rip V --disc missing", 1, "missing: not a folder"},
          Case{"offset V 6000", 2, "usage: quellwave-cli offset"}}) {
        std::filesystem::create_directories(dir_ / "out");
        const auto r = Run(std::string("'") + QW_CLI_PATH + "' " + c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
    }
}

} // namespace
