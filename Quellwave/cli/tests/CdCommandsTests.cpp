// Runs "quellwave-cli toc/rip/eject/load" on a mixed CUE/BIN disc mapped to a letter, and checks the
// results against what independent tools read from the same image: cd-info's table of contents and
// cd-paranoia's raw extraction.
#include "CliHarness.h"
#include "TestKit/DiscImage.h"
#include "TestKit/ToneDisc.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Track {
    char kind; // 'a' audio, '1' data
    std::uint32_t sectors;
};
const std::vector<Track> kDisc = {{'1', 150}, {'a', 1200}, {'a', 1}, {'a', 613}, {'a', 75}};

class CdCommandsTest : public ::testing::Test {
protected:
    // Also run again by a test to start over with a fresh disc and settings.
    void SetUp() override {
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "sys");
        std::string kinds;
        std::vector<std::uint32_t> sectors;
        std::set<std::size_t> data;
        for (std::size_t i = 0; i < kDisc.size(); ++i) {
            kinds += std::string(kDisc[i].sectors, kDisc[i].kind);
            sectors.push_back(kDisc[i].sectors);
            if (kDisc[i].kind != 'a')
                data.insert(i + 1);
        }
        image_ = testkit::BuildFile(21, kinds, 0);
        testkit::WriteBytes(dir_ / "disc.bin", image_);
        testkit::WriteText(dir_ / "disc.cue", testkit::CueSheet("disc.bin", sectors, data));
        testkit::WriteText(dir_ / "machine.reg", "Windows Registry Editor Version 5.00\n\n"
                                                 "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]\n"
                                                 "\"V\"=\"image:" +
                                                     (dir_ / "disc.cue").string() + "\"\n");
    }
    int Shell(const std::string& command, std::string& out, std::string& err) {
        using clitest::Quote;
        const auto r = clitest::Shell("cd " + Quote(dir_) + " && " + command, dir_);
        out = r.out;
        err = r.err;
        return r.status;
    }
    int Cli(const std::string& args, std::string& out, std::string& err) {
        return Shell(std::string("'") + QW_CLI_PATH + "' " + args, out, err);
    }
    static bool Have(const char* tool) { return clitest::Have(tool); }
    // Files in the folder other than the test's own: what a rip left behind.
    std::vector<std::string> Leftovers() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) {
            const std::string n = e.path().filename().string();
            if (n.rfind(".", 0) == 0 || n.find(".wav") != std::string::npos) {
                names.push_back(n);
            }
        }
        return names;
    }

    // Writes machine.reg with V mapped to the disc and these values in its drive profile.
    void WriteDriveProfile(const std::string& values, const std::string& cue = "disc.cue") {
        testkit::WriteText(dir_ / "machine.reg",
                           "Windows Registry Editor Version 5.00\n\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]\n"
                           "\"V\"=\"image:" +
                               (dir_ / cue).string() +
                               "\"\n\n[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives\\V]\n" +
                               values);
    }
    std::vector<unsigned char> TrackBytes(std::size_t track) const {
        std::uint32_t start = 0;
        for (std::size_t i = 0; i + 1 < track; ++i)
            start += kDisc[i].sectors;
        return {image_.begin() + std::size_t{start} * 2352,
                image_.begin() + std::size_t{start + kDisc[track - 1].sectors} * 2352};
    }

    // The disc, the program's settings and its kernel drive list, all in one folder of the test's own.
    testkit::RegistrySandbox registry_{"cdcli"};
    const std::filesystem::path dir_ = registry_.Path();
    testkit::Bytes image_;
};

// A scratch: one sector of track 2 (LBA 700, 550 sectors into the track) never reads. The rip is complete
// with silence there, names the place, and says so in its exit status; every other sector is exact.
TEST_F(CdCommandsTest, RipOfAScratchedTrackWritesSilenceThereNamesItAndExitsFive) {
    for (const char* mode : {"RAW", "ASPI"}) {
        WriteDriveProfile("\"ReadErrors\"=\"700:3/11/00\"\n\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orva Corporation\\Tarnix\\Corvex]\n"
                          "\"Cdrom_Mode\"=\"" +
                          std::string(mode) + "\"\n");
        std::string out, err;
        EXPECT_EQ(Cli("rip V 2 t2.wav", out, err), 5) << mode << ": " << err;
        EXPECT_NE(out.find("track 2: 1 sector unreadable at 00:07.25 (silence)\n"), std::string::npos) << out;
        EXPECT_NE(err.find("track 2: read with errors: 1 sector written as silence"), std::string::npos)
            << err;
        auto expected = TrackBytes(2);
        std::fill_n(expected.begin() + 550 * 2352, 2352, 0);
        const auto bytes = testkit::ReadBytes(dir_ / "t2.wav");
        ASSERT_EQ(bytes.size(), 44 + expected.size()) << mode;
        EXPECT_TRUE(std::equal(bytes.begin() + 44, bytes.end(), expected.begin())) << mode;
        // The other tracks know nothing of it.
        EXPECT_EQ(Cli("rip V 4 t4.wav", out, err), 0) << mode << ": " << err;
        const auto four = testkit::ReadBytes(dir_ / "t4.wav");
        const auto expectedFour = TrackBytes(4);
        ASSERT_EQ(four.size(), 44 + expectedFour.size());
        EXPECT_TRUE(std::equal(four.begin() + 44, four.end(), expectedFour.begin())) << mode;
    }
}

// Combinations of faults that each alone were ripped exactly, under both transports, with nothing stored and
// with the condition a drive check stored: each rip is exact with exit 0, and where nothing can settle a
// place the rip names it and exits 6, never 0. Track 2 (LBA 150, after the data track) is ripped.
TEST_F(CdCommandsTest, RipsOfFaultCombinationsAreExactOrNameWhatCouldNotBeSettled) {
    struct Case {
        const char* what;
        const char* profile;
        int exit;
        const char* line; // a line the rip must print, or null
    };
    const Case cases[] = {
        {"becoming ready, then landing off once mid-track",
         "\"NotReadyCommands\"=dword:00000005\n\"Jitter\"=\"175:1176:1, 176:1176:1, 550:1176:1\"\n", 0,
         nullptr},
        {"every read of two places landing off", "\"Jitter\"=\"151:1176, 700:-1176\"\n", 0, nullptr},
        {"becoming ready over dozens of commands", "\"NotReadyCommands\"=dword:00000018\n", 0, nullptr},
        // The track's first bytes follow a data track and every read of them lands late: no read has them.
        {"every read of the track's first sector landing late", "\"Jitter\"=\"150:1176\"\n", 6,
         "track 2: 1 sector unsettled at 00:00.00 (the reads disagree where it belongs)\n"},
    };
    const auto expected = TrackBytes(2);
    for (const char* mode : {"RAW", "ASPI"}) {
        for (const bool stored : {false, true}) {
            const std::string transport =
                "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orva Corporation\\Tarnix\\Corvex]\n"
                "\"Cdrom_Mode\"=\"" +
                std::string(mode) + "\"\n";
            std::filesystem::remove(dir_ / "user.reg");
            std::string out, err;
            if (stored) {
                // The drive check of a faultless drive of the same model stores how it is read.
                WriteDriveProfile(transport);
                ASSERT_EQ(Cli("check V", out, err), 0) << mode << ": " << out << err;
            }
            for (const Case& c : cases) {
                SCOPED_TRACE(std::string(mode) + (stored ? ", stored condition: " : ", nothing stored: ") +
                             c.what);
                WriteDriveProfile(std::string(c.profile) + transport);
                std::filesystem::remove(dir_ / "t2.wav");
                EXPECT_EQ(Cli("rip V 2 t2.wav", out, err), c.exit) << out << err;
                const auto bytes = testkit::ReadBytes(dir_ / "t2.wav");
                ASSERT_EQ(bytes.size(), 44 + expected.size());
                if (c.line == nullptr) {
                    EXPECT_TRUE(std::equal(bytes.begin() + 44, bytes.end(), expected.begin()));
                    EXPECT_EQ(out.find("unsettled"), std::string::npos) << out;
                } else {
                    EXPECT_NE(out.find(c.line), std::string::npos) << out;
                    EXPECT_NE(err.find("track 2: not verified: 1 sector could not be settled"),
                              std::string::npos)
                        << err;
                    // Only the named sector may differ from the disc.
                    EXPECT_TRUE(std::equal(bytes.begin() + 44 + 2352, bytes.end(), expected.begin() + 2352));
                }
            }
        }
    }
}

// A drive still spinning up when the command starts, under the default transport (the device controls):
// the rip waits for it and is exact.
TEST_F(CdCommandsTest, RipWaitsForADriveThatIsSpinningUp) {
    WriteDriveProfile("\"SpinUpMs\"=dword:000005dc\n"); // 1.5 s
    std::string out, err;
    ASSERT_EQ(Cli("rip V 2 t2.wav", out, err), 0) << err;
    const auto bytes = testkit::ReadBytes(dir_ / "t2.wav");
    const auto expected = TrackBytes(2);
    ASSERT_EQ(bytes.size(), 44 + expected.size());
    EXPECT_TRUE(std::equal(bytes.begin() + 44, bytes.end(), expected.begin()));
}

// A drive that stops answering: the rip ends after one retry and says why in words.
TEST_F(CdCommandsTest, ADriveThatStopsAnsweringEndsTheRipWithASentence) {
    WriteDriveProfile("\"HangReads\"=\"400\"\n\"HangMs\"=dword:000000c8\n");
    std::string out, err;
    EXPECT_EQ(Cli("rip V 2 t2.wav", out, err), 1);
    EXPECT_NE(err.find("the drive stopped answering"), std::string::npos) << err;
    EXPECT_EQ(err.find("reader status"), std::string::npos) << err;
}

TEST_F(CdCommandsTest, TocAgreesWithCdInfo) {
    std::string out, err;
    ASSERT_EQ(Cli("toc V", out, err), 0) << err;
    // Our lines: number, start, sectors, mm:ss.ff, type, pre-emphasis; then the lead-out.
    std::map<int, std::pair<std::uint32_t, std::string>> ours;
    std::uint32_t leadOut = 0;
    std::istringstream lines(out);
    std::string line;
    std::getline(lines, line); // heading
    std::uint32_t start = 0;
    for (std::size_t i = 0; i < kDisc.size() && std::getline(lines, line); ++i) {
        std::istringstream f(line);
        int number = 0;
        std::uint32_t at = 0, sectors = 0;
        std::string length, type, pre;
        f >> number >> at >> sectors >> length >> type >> pre;
        EXPECT_EQ(at, start) << line;
        EXPECT_EQ(sectors, kDisc[i].sectors) << line;
        EXPECT_EQ(type, kDisc[i].kind == 'a' ? "audio" : "data") << line;
        EXPECT_EQ(pre, "no") << line;
        ours[number] = {at, type};
        start += kDisc[i].sectors;
    }
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(std::sscanf(line.c_str(), "lead-out %u", &leadOut), 1) << line;
    EXPECT_EQ(leadOut, start);
    EXPECT_EQ(ours.size(), kDisc.size());

    ASSERT_TRUE(Have("cd-info")) << "cd-info (libcdio-utils) is missing: scripts/setup installs it";
    ASSERT_EQ(Shell("cd-info --no-header --no-cddb --cue-file disc.cue", out, err), 0) << err;
    std::map<int, std::pair<std::uint32_t, std::string>> theirs;
    std::istringstream info(out);
    while (std::getline(info, line)) {
        int number = 0;
        char msf[16];
        std::uint32_t lsn = 0;
        char type[16];
        if (std::sscanf(line.c_str(), " %d: %15s %u %15s", &number, msf, &lsn, type) == 4) {
            if (number == 170) {
                EXPECT_EQ(lsn, leadOut);
            } else {
                theirs[number] = {lsn, type};
            }
        }
    }
    EXPECT_EQ(ours, theirs);
}

// A sheet with TITLE and PERFORMER lines (one title in ISO 8859-1, as such sheets often are): "toc"
// keeps its track lines and adds the disc's CD-Text, the same texts cd-info reads from the sheet; through
// either transport.
TEST_F(CdCommandsTest, TocAddsTheCdTextThatCdInfoReadsFromTheSameSheet) {
    std::string sheet = testkit::ReadText(dir_ / "disc.cue");
    sheet.insert(0, "PERFORMER \"The Harbour Band\"\nTITLE \"Songs of the Sea\"\n");
    const std::vector<std::pair<int, std::string>> titles = {
        {2, "    TITLE \"Low Tide\"\n    PERFORMER \"The Harbour Band\"\n"},
        {3, "    TITLE \"Caf\xE9 du Port\"\n    PERFORMER \"Guest Singer\"\n"},
        {5, "    TITLE \"A Rather Long Title That Spans Several Packs\"\n"}};
    for (const auto& [track, lines] : titles) {
        char head[32];
        std::snprintf(head, sizeof head, "TRACK %02d AUDIO\n", track);
        const std::size_t at = sheet.find(head);
        ASSERT_NE(at, std::string::npos) << sheet;
        sheet.insert(at + std::strlen(head), lines);
    }
    testkit::WriteText(dir_ / "titled.cue", sheet);
    std::string before, out, err;
    ASSERT_EQ(Cli("toc V", before, err), 0) << err;
    const std::string expected = "track  cd-text    text\n"
                                 "album  title      Songs of the Sea\n"
                                 "album  performer  The Harbour Band\n"
                                 "    2  title      Low Tide\n"
                                 "    2  performer  The Harbour Band\n"
                                 "    3  title      Caf\xC3\xA9 du Port\n"
                                 "    3  performer  Guest Singer\n"
                                 "    5  title      A Rather Long Title That Spans Several Packs\n";
    for (const char* mode : {"ASPI", "RAW"}) {
        WriteDriveProfile("\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orva Corporation\\Tarnix\\Corvex]\n"
                          "\"Cdrom_Mode\"=\"" +
                              std::string(mode) + "\"\n",
                          "titled.cue");
        ASSERT_EQ(Cli("toc V", out, err), 0) << mode << ": " << err;
        // The table of contents as it was without titles, then the texts.
        EXPECT_EQ(out, before + expected) << mode;
    }
    // A disc without CD-Text: no text lines at all.
    EXPECT_EQ(before.find("cd-text"), std::string::npos) << before;

    ASSERT_TRUE(Have("cd-info")) << "cd-info (libcdio-utils) is missing: scripts/setup installs it";
    // cd-info reads the image named as its sheet is, whatever the FILE line says.
    std::filesystem::copy_file(dir_ / "disc.bin", dir_ / "titled.bin");
    ASSERT_EQ(Shell("cd-info --no-header --no-device-info --no-cddb --cue-file titled.cue", out, err), 0)
        << err;
    // cd-info: "CD-TEXT for Disc:" or "CD-TEXT for Track  N:", then "\tTITLE: ..." and "\tPERFORMER: ...".
    std::string theirs = "track  cd-text    text\n";
    std::istringstream info(out);
    std::string line, who;
    int track = -1;
    while (std::getline(info, line)) {
        if (line == "CD-TEXT for Disc:") {
            who = "album";
        } else if (std::sscanf(line.c_str(), "CD-TEXT for Track %d:", &track) == 1) {
            char number[8];
            std::snprintf(number, sizeof number, "%5d", track);
            who = number;
        } else if (!who.empty() && line.rfind("\tTITLE: ", 0) == 0) {
            theirs += who + "  title      " + line.substr(8) + "\n";
        } else if (!who.empty() && line.rfind("\tPERFORMER: ", 0) == 0) {
            theirs += who + "  performer  " + line.substr(12) + "\n";
        }
    }
    EXPECT_EQ(theirs, expected) << out;
}

TEST_F(CdCommandsTest, RipOfEveryAudioTrackEqualsCdParanoia) {
    ASSERT_TRUE(Have("cd-paranoia")) << "cd-paranoia (libcdio-utils) is missing: scripts/setup installs it";
    std::uint32_t start = 0;
    for (std::size_t i = 0; i < kDisc.size(); start += kDisc[i].sectors, ++i) {
        if (kDisc[i].kind != 'a') {
            continue;
        }
        const std::string wav = "t" + std::to_string(i + 1) + ".wav";
        std::string out, err;
        ASSERT_EQ(Cli("rip V " + std::to_string(i + 1) + " " + wav, out, err), 0) << err;
        EXPECT_EQ(err, "") << "no progress bar when standard error is not a terminal";
        EXPECT_NE(out.find("jitter corrections 0, realignments 0, retries 0"), std::string::npos) << out;
        const auto bytes = testkit::ReadBytes(dir_ / wav);
        const std::size_t data = std::size_t{kDisc[i].sectors} * 2352;
        ASSERT_EQ(bytes.size(), 44 + data);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
        EXPECT_TRUE(std::equal(bytes.begin() + 44, bytes.end(), image_.begin() + std::size_t{start} * 2352));
        const std::string raw = "p" + std::to_string(i + 1) + ".raw";
        ASSERT_EQ(Shell("cd-paranoia -d disc.cue -r " + std::to_string(i + 1) + " " + raw, out, err), 0)
            << err;
        const auto theirs = testkit::ReadBytes(dir_ / raw);
        EXPECT_TRUE(theirs.size() == data && std::equal(bytes.begin() + 44, bytes.end(), theirs.begin()))
            << "track " << i + 1;
    }
}

TEST_F(CdCommandsTest, FailedRipsLeaveNoFileBehind) {
    // Four seconds of read errors that never clear: the reader gives up there.
    std::string errors;
    for (int lba = 700; lba < 1000; ++lba)
        errors += std::to_string(lba) + ":3/11/00 ";
    WriteDriveProfile("\"ReadErrors\"=\"" + errors + "\"\n");
    testkit::WriteBytes(dir_ / "keep.wav", {1, 2, 3});
    struct Case {
        std::string args;
        int status;
        const char* message;
    };
    for (const Case& c :
         {Case{"rip V 2 keep.wav", 1, "the read ended after"},
          Case{"rip V 2 keep.wav", 1, ": the disc could not be read there"},
          Case{"rip V 1 keep.wav", 1, "data track"}, Case{"rip V 9 keep.wav", 1, "the disc has 5 tracks"},
          Case{"rip Q 2 keep.wav", 1, "no audio disc"}, Case{"rip V two keep.wav", 2, "usage"},
          Case{"rip V 2", 2, "usage"}}) {
        std::string out, err;
        EXPECT_EQ(Cli(c.args, out, err), c.status) << c.args;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.args << ": " << err;
        EXPECT_EQ(testkit::ReadBytes(dir_ / "keep.wav"), (std::vector<unsigned char>{1, 2, 3})) << c.args;
        EXPECT_EQ(Leftovers(), std::vector<std::string>{"keep.wav"}) << c.args;
    }
}

TEST_F(CdCommandsTest, EjectAndLoadAnswerForCdDrivesOnly) {
    struct Case {
        const char* args;
        int status;
    };
    for (const Case& c : {Case{"eject V", 0}, Case{"load v:", 0}, Case{"eject Q", 1}, Case{"load", 2},
                          Case{"eject VV", 2}, Case{"toc Q", 1}}) {
        std::string out, err;
        EXPECT_EQ(Cli(c.args, out, err), c.status) << c.args << ": " << err;
    }
}

TEST_F(CdCommandsTest, CheckStoresAConditionOrSaysWhyNot) {
    struct Case {
        const char* name;
        std::string profile; // values under the drive's profile key
        int status;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"clean",
         "",
         0,
         {"result 0 (checked, read condition stored)\n", "grade 1\n", "buffer 65536 bytes\n",
          "status 0, reader status 0\n"}},
        {"inaccurate",
         "\"CddaAccurate\"=dword:00000000\n",
         0,
         {"result 0 ", "grade 1\n", "buffer 1048576 bytes\n", "overlap-corrected"}},
        {"noisy", "\"Noise\"=dword:00000078\n", 1, {"result 2 (failed)\n", "status 12,"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(dir_ / "machine.reg", std::ios::app)
            << "\n[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives\\V]\n"
            << c.profile;
        std::filesystem::remove(dir_ / "user.reg");
        std::string out, err;
        EXPECT_EQ(Cli("check V", out, err), c.status) << err;
        for (const std::string& line : c.lines)
            EXPECT_NE(out.find(line), std::string::npos) << "missing \"" << line << "\" in\n" << out;
        SetUp();
    }
    std::string out, err;
    EXPECT_EQ(Cli("check", out, err), 2);
    EXPECT_EQ(Cli("check Q", out, err), 1);
}

// "play --cd" through the real binary: the recording decoded is the image's audio from the chosen track
// on, and the position lines renumber at each boundary.
TEST_F(CdCommandsTest, PlayCdRecordsTheDiscFromTheChosenTrackOn) {
    const std::array<std::uint32_t, 5> tracks = {40, 75, 60, 90, 50};
    testkit::cdtone::WriteDisc(dir_, tracks);
    testkit::WriteText(dir_ / "machine.reg", "Windows Registry Editor Version 5.00\n\n"
                                             "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]\n"
                                             "\"V\"=\"image:" +
                                                 (dir_ / "tones.cue").string() + "\"\n");
    std::string out, err;
    ASSERT_EQ(Cli("play --cd V --track 3 --driver dsf:out.dsf", out, err), 0) << err;
    std::vector<std::pair<unsigned, unsigned>> firsts; // track, ms of its first position line
    std::istringstream lines(out);
    std::string word;
    unsigned track = 0, ms = 0;
    while (lines >> word) {
        if (word == "position" && lines >> track >> ms && (firsts.empty() || firsts.back().first != track))
            firsts.emplace_back(track, ms);
    }
    EXPECT_NE(out.find("end\n"), std::string::npos);
    ASSERT_EQ(firsts.size(), 3u) << out;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(firsts[i].first, 3 + i);
        EXPECT_LE(firsts[i].second, 12u) << "time carried over at the boundary";
    }
    const testkit::DsfStream stream = testkit::ReadDsf(dir_ / "out.dsf");
    ASSERT_TRUE(stream.valid) << stream.error;
    const auto segments = stream.Segments();
    ASSERT_EQ(segments.size(), 1u);
    const double frames = (tracks[2] + tracks[3] + tracks[4]) * double{testkit::cdtone::kFramesPerSector};
    for (int channel = 0; channel < 2; ++channel) {
        const std::vector<float> y = testkit::cdtone::Decode(stream, segments[0], channel);
        ASSERT_GE(y.size(), static_cast<std::size_t>(frames));
        const testkit::cdtone::Fit fit =
            testkit::cdtone::FitTones(y, 2205, static_cast<std::size_t>(frames) - 2205);
        EXPECT_GT(fit.SnrDb(), 90.0) << "channel " << channel;
        EXPECT_NEAR(fit.level1, testkit::cdtone::kLevel1[channel], 0.005);
        EXPECT_NEAR(fit.level2, testkit::cdtone::kLevel2[channel], 0.005);
        std::printf("[ measured ] quellwave-cli play --cd, channel %d: SNR %.1f dB\n", channel, fit.SnrDb());
    }

    // A scratch in track 3 is played as silence and named on standard error; playback goes on.
    testkit::WriteText(dir_ / "machine.reg",
                       "Windows Registry Editor Version 5.00\n\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]\n"
                       "\"V\"=\"image:" +
                           (dir_ / "tones.cue").string() +
                           "\"\n\n[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives\\V]\n"
                           "\"ReadErrors\"=\"" +
                           std::to_string(tracks[0] + tracks[1] + 30) + ":3/11/00\"\n");
    ASSERT_EQ(Cli("play --cd V --track 3 --driver null", out, err), 0) << err;
    EXPECT_NE(err.find("quellwave-cli: track 3: 1 sector unreadable at 00:00.30 (silence)\n"),
              std::string::npos)
        << err;
    EXPECT_NE(out.find("position 5 "), std::string::npos) << out;

    struct Bad {
        const char* args;
        int status;
    };
    for (const Bad& b :
         {Bad{"play --cd V --track 6 --driver null", 1}, Bad{"play --cd V a.wav", 1},
          Bad{"play --track 2 a.wav", 1}, Bad{"play --cd 7", 1}, Bad{"play --cd Q --driver null", 2}}) {
        EXPECT_EQ(Cli(b.args, out, err), b.status) << b.args << ": " << err;
    }
}

} // namespace
