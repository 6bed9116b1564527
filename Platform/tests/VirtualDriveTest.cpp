// The virtual drive against its image: every read form returns the image's bytes, the TOC agrees with
// what libcdio's cd-info reads from the same sheet, and each command answers with the data layout and
// sense of a real MMC drive.
#include "Platform/VirtualDrive.h"
#include "Platform/CdTextPacks.h"
#include "Platform/DriveTable.h"
#include "Platform/Registry.h"

#include "TestKit/Command.h"
#include "TestKit/DiscImage.h"
#include "TestKit/RegistrySandbox.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

using namespace platform;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testkit::Bytes;

namespace {

constexpr DWORD kRaw = kCdSectorBytes;

// The disc every test starts from: three audio tracks (the second with an INDEX 00 pregap in the file,
// pre-emphasis and copy flags), then a mode 1 and a mode 2 data track.
constexpr const char* kSheet = "CATALOG 0123456789012\n"
                               "FILE \"disc.bin\" BINARY\n"
                               "  TRACK 01 AUDIO\n"
                               "    ISRC GBAYE6500001\n"
                               "    INDEX 01 00:00:00\n"
                               "  TRACK 02 AUDIO\n"
                               "    FLAGS PRE DCP\n"
                               "    INDEX 00 00:04:00\n"
                               "    INDEX 01 00:05:00\n"
                               "  TRACK 03 AUDIO\n"
                               "    INDEX 01 00:08:00\n"
                               "  TRACK 04 MODE1/2352\n"
                               "    INDEX 01 00:10:50\n"
                               "  TRACK 05 MODE2/2352\n"
                               "    INDEX 01 00:12:00\n";
constexpr LONG kTrackStart[] = {0, 375, 600, 800, 900};
constexpr LONG kLeadOut = 1000;

using testkit::PutBe;
using Sandbox = testkit::RegistrySandbox;

std::vector<BYTE> Cdb(std::initializer_list<int> bytes) {
    std::vector<BYTE> cdb;
    for (int b : bytes) {
        cdb.push_back(static_cast<BYTE>(b));
    }
    return cdb;
}

// The command blocks as the CD library lays them out for each read mode.
std::vector<BYTE> ReadCdCdb(DWORD mode, LONG lba, DWORD count) {
    Bytes cdb{0xBE, static_cast<BYTE>(mode >> 8)};
    PutBe(cdb, static_cast<DWORD>(lba), 4);
    PutBe(cdb, count, 3);
    cdb.insert(cdb.end(), {static_cast<BYTE>(mode), 0, 0});
    return cdb;
}
std::vector<BYTE> ReadTenCdb(DWORD mode, LONG lba, DWORD count) {
    Bytes cdb;
    PutBe(cdb, mode >> 8, 2);
    cdb.push_back(0);
    PutBe(cdb, static_cast<DWORD>(lba), 3);
    cdb.insert(cdb.end(), {0, 0, static_cast<BYTE>(count), 0});
    return cdb;
}
std::vector<BYTE> VendorTwelveCdb(LONG lba, DWORD count) {
    Bytes cdb{0xD8, 0};
    PutBe(cdb, static_cast<DWORD>(lba), 4);
    cdb.insert(cdb.end(), {0, 0});
    PutBe(cdb, count, 2);
    cdb.insert(cdb.end(), {0, 0});
    return cdb;
}

struct Result {
    ScsiAnswer answer;
    Bytes data;
    std::vector<int> Sense() const { return {answer.SenseKey(), answer.Asc(), answer.Ascq()}; }
};

class VirtualDriveTest : public ::testing::Test {
protected:
    void SetUp() override {
        image_ =
            testkit::BuildFile(7, std::string(800, 'a') + std::string(100, '1') + std::string(100, '2'), 0);
        testkit::WriteBytes(dir_ / "disc.bin", image_);
        testkit::WriteText(dir_ / "disc.cue", kSheet);
    }
    void Open(VirtualDriveProfile profile = {}) {
        DiscLayout layout;
        std::string error;
        ASSERT_TRUE(LoadCueImage(dir_ / "disc.cue", layout, error)) << error;
        drive_ = VirtualDrive::Create(std::move(layout), std::move(profile), error);
        ASSERT_TRUE(drive_) << error;
    }

    Result In(const std::vector<BYTE>& cdb, DWORD length) {
        Result r;
        r.data.assign(length, 0xEE);
        ScsiCommand cmd;
        std::copy(cdb.begin(), cdb.end(), cmd.cdb.begin());
        cmd.cdbLength = static_cast<BYTE>(cdb.size());
        cmd.direction = length > 0 ? ScsiDirection::In : ScsiDirection::None;
        cmd.data = length > 0 ? r.data.data() : nullptr;
        cmd.dataLength = length;
        drive_->Execute(cmd, r.answer);
        r.data.resize(r.answer.transferred);
        return r;
    }
    Result Out(const std::vector<BYTE>& cdb, Bytes params) {
        Result r;
        ScsiCommand cmd;
        std::copy(cdb.begin(), cdb.end(), cmd.cdb.begin());
        cmd.cdbLength = static_cast<BYTE>(cdb.size());
        cmd.direction = ScsiDirection::Out;
        cmd.data = params.data();
        cmd.dataLength = static_cast<DWORD>(params.size());
        drive_->Execute(cmd, r.answer);
        return r;
    }
    Bytes Image(LONG lba, DWORD count) const {
        return Bytes(image_.begin() + lba * kRaw, image_.begin() + (lba + static_cast<LONG>(count)) * kRaw);
    }
    // The MODE SELECT(6) the CD library sends: 128 bytes out, parameter list of 12.
    Result SelectDensity(BYTE density, DWORD blockLength) {
        Bytes params(128, 0);
        params[3] = 8;
        params[4] = density;
        params[10] = static_cast<BYTE>(blockLength >> 8);
        params[11] = static_cast<BYTE>(blockLength);
        return Out(Cdb({0x15, 0x10, 0x01, 0, 12, 0}), params);
    }
    static void ExpectGood(const Result& r) {
        EXPECT_EQ(r.answer.error, 0);
        EXPECT_EQ(r.answer.status, kScsiGood) << "sense " << int(r.answer.SenseKey()) << "/" << std::hex
                                              << int(r.answer.Asc()) << "/" << int(r.answer.Ascq());
    }
    static void ExpectSense(const Result& r, int key, int asc, int ascq) {
        EXPECT_EQ(r.answer.error, 0);
        EXPECT_EQ(r.answer.status, kScsiCheckCondition);
        EXPECT_EQ(r.answer.sense[0] & 0x7F, 0x70);
        EXPECT_EQ(r.Sense(), (std::vector<int>{key, asc, ascq}));
    }
    static LONG SenseInformation(const Result& r) {
        EXPECT_NE(r.answer.sense[0] & 0x80, 0) << "VALID bit";
        return static_cast<LONG>(testkit::Be(Bytes(r.answer.sense.begin(), r.answer.sense.end()), 3, 4));
    }

    // A folder of the test's own that holds the image and the registry, new for every test so that the
    // drives, known by their image's path, start anew.
    const testkit::RegistrySandbox sandbox_{"vd"};
    const std::filesystem::path dir_ = sandbox_.Path();
    Bytes image_;
    std::shared_ptr<VirtualDrive> drive_;
};

// ---- reads ---------------------------------------------------------------------------------------------

TEST_F(VirtualDriveTest, EveryAudioTrackReadsBitExactThroughEachReadCommand) {
    Open();
    for (int t = 0; t < 3; ++t) {
        const LONG start = kTrackStart[t];
        const DWORD length = static_cast<DWORD>(kTrackStart[t + 1] - start);
        // 26 sectors per command (one ring slot of the reader) leaves a ragged last chunk.
        for (DWORD mode : {0xBE0010u, 0xBE00F8u, 0xBE04F8u}) {
            Bytes got;
            for (DWORD done = 0; done < length; done += 26) {
                const DWORD n = std::min<DWORD>(26, length - done);
                const Result r = In(ReadCdCdb(mode, start + static_cast<LONG>(done), n), n * kRaw);
                ExpectGood(r);
                got.insert(got.end(), r.data.begin(), r.data.end());
            }
            EXPECT_TRUE(got == Image(start, length)) << "track " << t + 1 << " mode " << std::hex << mode;
        }
        Bytes vendor;
        for (DWORD done = 0; done < length; done += 26) {
            const DWORD n = std::min<DWORD>(26, length - done);
            const Result r = In(VendorTwelveCdb(start + static_cast<LONG>(done), n), n * kRaw);
            ExpectGood(r);
            vendor.insert(vendor.end(), r.data.begin(), r.data.end());
        }
        EXPECT_TRUE(vendor == Image(start, length)) << "track " << t + 1 << " 0xD8";
        const Result d4 = In(ReadTenCdb(0xD40000, start, 20), 20 * kRaw);
        ExpectGood(d4);
        EXPECT_TRUE(d4.data == Image(start, 20));

        auto cd = MakeVirtualCdDevice(drive_);
        Bytes raw(std::size_t{length} * kRaw);
        ASSERT_EQ(cd->ReadAudio(start, length, raw.data()), 0);
        EXPECT_TRUE(raw == Image(start, length)) << "track " << t + 1 << " raw device read";
    }
}

TEST_F(VirtualDriveTest, TenByteReadNeedsTheDensitySelectAndThenReadsRawSectors) {
    Open();
    // In the default 2048-byte blocks an audio sector is refused.
    const Result cooked = In(ReadTenCdb(0x10280000, 10, 2), 2 * kRaw);
    ExpectSense(cooked, 5, 0x64, 0x00);
    EXPECT_EQ(SenseInformation(cooked), 10);
    for (DWORD mode : {0x10280000u, 0x10280082u, 0x11280000u}) {
        ExpectGood(SelectDensity(static_cast<BYTE>(mode & 0xFF), kRaw));
        const Result r = In(ReadTenCdb(mode, 598, 4), 4 * kRaw);
        ExpectGood(r);
        EXPECT_TRUE(r.data == Image(598, 4)) << std::hex << mode;
    }
    // Back to 2048-byte blocks: the data track gives its user data.
    ExpectGood(SelectDensity(0, 2048));
    const Result data = In(ReadTenCdb(0x10280000, 800, 2), 2 * 2048);
    ExpectGood(data);
    EXPECT_TRUE(Bytes(data.data.begin(), data.data.begin() + 2048) ==
                Bytes(image_.begin() + 800 * kRaw + 16, image_.begin() + 800 * kRaw + 16 + 2048));
}

TEST_F(VirtualDriveTest, ReadCdFieldsOfDataSectorsAndTheAudioOnlyMode) {
    Open();
    const Result user = In(ReadCdCdb(0xBE0010, 800, 1), kRaw);
    ExpectGood(user);
    ASSERT_EQ(user.data.size(), 2048u);
    EXPECT_TRUE(user.data == Bytes(image_.begin() + 800 * kRaw + 16, image_.begin() + 800 * kRaw + 2064));
    const Result all = In(ReadCdCdb(0xBE00F8, 900, 2), 2 * kRaw);
    ExpectGood(all);
    EXPECT_TRUE(all.data == Image(900, 2));
    const Result mode2 = In(ReadCdCdb(0xBE0010, 901, 1), kRaw);
    EXPECT_EQ(mode2.data.size(), 2336u);
    // Expected type CD-DA across the boundary into the data track: the audio sectors come, then 5/64/00.
    const Result mixed = In(ReadCdCdb(0xBE04F8, 798, 4), 4 * kRaw);
    ExpectSense(mixed, 5, 0x64, 0x00);
    EXPECT_EQ(SenseInformation(mixed), 800);
    EXPECT_TRUE(mixed.data == Image(798, 2));
    // Sync with user data but no header is not a run of the sector: refused.
    ExpectSense(In(ReadCdCdb(0xBE0090, 800, 1), kRaw), 5, 0x24, 0x00);
    // C2 pointers follow each sector.
    const Result c2 = In(ReadCdCdb(0xBE00FA, 10, 2), 2 * (kRaw + 294));
    ExpectGood(c2);
    ASSERT_EQ(c2.data.size(), 2 * (kRaw + 294));
    EXPECT_TRUE(Bytes(c2.data.begin() + kRaw + 294, c2.data.begin() + 2 * kRaw + 294) == Image(11, 1));
}

TEST_F(VirtualDriveTest, ReadsOutsideTheDiscAreRefusedWithLbaOutOfRange) {
    Open();
    const Result past = In(ReadCdCdb(0xBE0010, kLeadOut - 1, 2), 2 * kRaw);
    ExpectSense(past, 5, 0x21, 0x00);
    EXPECT_TRUE(past.data.empty());
    ExpectSense(In(ReadCdCdb(0xBE0010, -1, 1), kRaw), 5, 0x21, 0x00);
    ExpectSense(In(Cdb({0x2B, 0, 0, 0, 0x03, 0xE8, 0, 0, 0, 0}), 0), 5, 0x21, 0x00); // SEEK(10) to 1000
    ExpectGood(In(ReadCdCdb(0xBE0010, kLeadOut - 1, 1), kRaw));
    ExpectGood(In(ReadCdCdb(0xBE0010, 5, 0), 0));
    auto cd = MakeVirtualCdDevice(drive_);
    Bytes buffer(2 * kRaw);
    EXPECT_EQ(cd->ReadAudio(kLeadOut - 1, 2, buffer.data()), EINVAL);
    EXPECT_EQ(cd->ReadAudio(800, 1, buffer.data()), EIO); // a data sector is not CD-DA
}

// ---- table of contents ---------------------------------------------------------------------------------

struct CdInfoTrack {
    int number;
    LONG lsn;
    std::string type;
    std::string copy;
    std::string preemphasis;
};

// Runs cd-info on a sheet and returns its track list (the lead-out as number 170).
std::vector<CdInfoTrack> RunCdInfo(const std::filesystem::path& cue, std::string& output) {
    const std::string command =
        "cd-info --no-header --no-device-info -A --cue-file='" + cue.string() + "' 2>&1";
    output += testkit::CommandOutput(command);
    std::vector<CdInfoTrack> tracks;
    const std::regex line(R"(^\s*(\d+): \d\d:\d\d:\d\d\s+(\d+) (\w+)\s*(\w+)?\s*(\w+)?\s*(\w+)?\s*(\w+)?)");
    std::istringstream in(output);
    std::string text;
    while (std::getline(in, text)) {
        std::smatch m;
        if (std::regex_search(text, m, line)) {
            tracks.push_back({std::stoi(m[1]), std::stoi(m[2]), m[3], m[5], m[7]});
        }
    }
    return tracks;
}

TEST_F(VirtualDriveTest, TocAgreesWithCdInfoOnTheSameImage) {
    ASSERT_EQ(std::system("command -v cd-info >/dev/null 2>&1"), 0)
        << "cd-info (package libcdio-utils) is missing: scripts/setup installs it";
    Open();
    std::string output;
    const auto reference = RunCdInfo(dir_ / "disc.cue", output);
    ASSERT_EQ(reference.size(), 6u) << output;

    // READ TOC format 0 in LBA form, from track 1, as the drive answers it.
    const Result toc = In(Cdb({0x43, 0, 0, 0, 0, 0, 1, 0x03, 0x24, 0}), 804);
    ExpectGood(toc);
    ASSERT_EQ(toc.data.size(), 4u + 6 * 8);
    EXPECT_EQ(toc.data[2], 1);
    EXPECT_EQ(toc.data[3], 5);
    auto cd = MakeVirtualCdDevice(drive_);
    CdToc ioctlToc;
    ASSERT_EQ(cd->ReadToc(ioctlToc), 0);
    ASSERT_EQ(ioctlToc.entries.size(), 6u);
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const BYTE* d = toc.data.data() + 4 + i * 8;
        const int number = d[2] == 0xAA ? 170 : d[2];
        const LONG lba = static_cast<LONG>(testkit::Be(toc.data, 4 + i * 8 + 4, 4));
        SCOPED_TRACE("cd-info track " + std::to_string(reference[i].number));
        EXPECT_EQ(number, reference[i].number);
        EXPECT_EQ(lba, reference[i].lsn);
        EXPECT_EQ(ioctlToc.entries[i].Lba(), reference[i].lsn);
        if (number != 170) {
            const bool data = (d[1] & kCdControlData) != 0;
            EXPECT_EQ(data, reference[i].type != "audio");
            EXPECT_EQ((d[1] & kCdControlCopyPermitted) != 0, reference[i].copy == "yes");
            EXPECT_EQ((d[1] & kCdControlPreEmphasis) != 0, reference[i].preemphasis == "yes");
            EXPECT_EQ(d[1] >> 4, 1); // ADR 1: Q mode 1
        }
    }
    EXPECT_THAT(output, HasSubstr("Media Catalog Number (MCN): 0123456789012"));
}

TEST_F(VirtualDriveTest, TocFormatsAnswerInTheLayoutsTheReaderParses) {
    Open();
    // Format 0, one track as the reader asks for it (allocation 12): header then track 3's descriptor,
    // and the data length still counts every descriptor that follows.
    const Result one = In(Cdb({0x43, 0, 0, 0, 0, 0, 3, 0, 12, 0}), 12);
    ExpectGood(one);
    EXPECT_THAT(one.data, ElementsAre(0, 34, 1, 5, 0, 0x10, 3, 0, 0, 0, 0x02, 0x58));
    const Result leadOut = In(Cdb({0x43, 0x02, 0, 0, 0, 0, 0xAA, 0, 12, 0}), 12);
    EXPECT_THAT(leadOut.data,
                ElementsAre(0, 10, 1, 5, 0, 0x14, 0xAA, 0, 0, 0, 15, 25)); // 00:15:25 = 1000+150
    ExpectSense(In(Cdb({0x43, 0, 0, 0, 0, 0, 6, 0, 12, 0}), 12), 5, 0x24, 0x00);
    // Format 1, session info.
    EXPECT_THAT(In(Cdb({0x43, 0, 1, 0, 0, 0, 0, 0, 12, 0}), 12).data,
                ElementsAre(0, 10, 1, 1, 0, 0x10, 1, 0, 0, 0, 0, 0));
    // Format 2 with 48 bytes: the header and exactly points A0, A1, A2 and track 1 of session 1.
    const Result full = In(Cdb({0x43, 0x02, 2, 0, 0, 0, 1, 0, 48, 0}), 48);
    ExpectGood(full);
    ASSERT_EQ(full.data.size(), 48u);
    EXPECT_THAT(Bytes(full.data.begin(), full.data.begin() + 4), ElementsAre(0, 2 + 8 * 11, 1, 1));
    EXPECT_THAT(Bytes(full.data.begin() + 4, full.data.begin() + 15),
                ElementsAre(1, 0x10, 0, 0xA0, 0, 0, 0, 0, 1, 0x20, 0));
    EXPECT_THAT(Bytes(full.data.begin() + 15, full.data.begin() + 26),
                ElementsAre(1, 0x14, 0, 0xA1, 0, 0, 0, 0, 5, 0, 0));
    EXPECT_THAT(Bytes(full.data.begin() + 26, full.data.begin() + 37),
                ElementsAre(1, 0x14, 0, 0xA2, 0, 0, 0, 0, 0, 15, 25));
    EXPECT_THAT(Bytes(full.data.begin() + 37, full.data.begin() + 48),
                ElementsAre(1, 0x10, 0, 0x01, 0, 0, 0, 0, 0, 2, 0));
    // The older form: format in byte 9 bits 6..7 gives the same answer.
    const Result older = In(Cdb({0x43, 0x02, 0, 0, 0, 0, 1, 0, 48, 0x80}), 48);
    EXPECT_TRUE(older.data == full.data);
    EXPECT_THAT(In(Cdb({0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0x40}), 12).data,
                ElementsAre(0, 10, 1, 1, 0, 0x10, 1, 0, 0, 0, 0, 0));
    // PMA and ATIP of a pressed disc: the 4-byte header only.
    EXPECT_THAT(In(Cdb({0x43, 0x02, 3, 0, 0, 0, 0, 0, 15, 0}), 15).data, ElementsAre(0, 2, 0, 0));
    EXPECT_THAT(In(Cdb({0x43, 0x02, 4, 0, 0, 0, 0, 0, 50, 0}), 50).data, ElementsAre(0, 2, 0, 0));
    ExpectSense(In(Cdb({0x43, 0, 6, 0, 0, 0, 0, 0, 12, 0}), 12), 5, 0x24, 0x00);
    ExpectSense(In(Cdb({0x43, 0, 2, 0, 0, 0, 2, 0, 48, 0}), 48), 5, 0x24, 0x00); // no session 2
}

TEST_F(VirtualDriveTest, CdTextComesFromTheSheetsTitlesWithinTheAllocationLength) {
    // A pressed disc without CD-Text: the drive refuses the format, as drives do.
    Open();
    ExpectSense(In(Cdb({0x43, 0, 5, 0, 0, 0, 0, 0, 4, 0}), 4), 5, 0x24, 0x00);

    std::string sheet = kSheet;
    sheet.insert(sheet.find("FILE"), "TITLE \"Album\"\n");
    sheet.insert(sheet.find("    ISRC"), "    TITLE \"One\"\n    PERFORMER \"Band\"\n");
    testkit::WriteText(dir_ / "disc.cue", sheet);
    Open();
    // Titles "Album\0One\0\0\0\0\0" (14 bytes: 2 packs), performers "\0Band\0\0\0\0\0" (10: 1 pack), then the
    // three size-information packs.
    constexpr DWORD kPacks = 2 + 1 + 3;
    const Result header = In(Cdb({0x43, 0, 5, 0, 0, 0, 0, 0, 4, 0}), 4);
    ExpectGood(header);
    EXPECT_THAT(header.data, ElementsAre(0, 2 + kPacks * 18, 0, 0));
    const Result one = In(Cdb({0x43, 0, 5, 0, 0, 0, 0, 0, 22, 0}), 22);
    ASSERT_EQ(one.data.size(), 22u);
    EXPECT_EQ(one.data[1], 2 + kPacks * 18); // the length of the whole list, however much was asked for
    const Result all = In(Cdb({0x43, 0, 5, 0, 0, 0, 0, 0xFF, 0xFF, 0}), 1000);
    ASSERT_EQ(all.data.size(), 4 + kPacks * 18);
    const BYTE* p = all.data.data() + 4;
    const BYTE types[kPacks] = {0x80, 0x80, 0x81, 0x8F, 0x8F, 0x8F};
    const BYTE tracks[kPacks] = {0, 4, 0, 0, 1, 2}; // the track each pack's first byte belongs to
    for (DWORD i = 0; i < kPacks; ++i, p += 18) {
        EXPECT_EQ(p[0], types[i]) << i;
        EXPECT_EQ(p[1], tracks[i]) << i;
        EXPECT_EQ(p[2], i) << "sequence numbers run through the block";
        EXPECT_EQ((p[16] << 8 | p[17]), CdTextCrc(p)) << i;
    }
    p = all.data.data() + 4;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 4), 12), std::string("Album\0One\0\0\0", 12));
    EXPECT_EQ(p[18 + 3], 0) << "the second pack begins with track 4's (empty) title";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 36 + 4), 6), std::string("\0Band\0", 6));
    // Size information: ISO 8859-1, tracks 1..5, pack counts, the last sequence number, English.
    const BYTE* size = p + 3 * 18;
    EXPECT_THAT(Bytes(size + 4, size + 16), ElementsAre(0, 1, 5, 0, 2, 1, 0, 0, 0, 0, 0, 0));
    EXPECT_THAT(Bytes(size + 18 + 4, size + 18 + 16), ElementsAre(0, 0, 0, 0, 0, 0, 0, 3, 5, 0, 0, 0));
    EXPECT_EQ(size[36 + 8], 0x09);
}

TEST_F(VirtualDriveTest, ImagesOfSeveralFilesWithPregapsPlaceAndReadEverySector) {
    testkit::WriteBytes(dir_ / "one.bin", testkit::BuildFile(1, std::string(300, 'a'), 0));
    testkit::WriteBytes(dir_ / "two.bin", testkit::BuildFile(2, std::string(200, 'a'), 0));
    testkit::WriteText(dir_ / "multi.cue", "FILE one.bin BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
                                           "FILE two.bin BINARY\n TRACK 02 AUDIO\n  PREGAP 00:01:00\n"
                                           "  INDEX 01 00:00:00\n");
    DiscLayout layout;
    std::string error;
    ASSERT_TRUE(LoadCueImage(dir_ / "multi.cue", layout, error)) << error;
    drive_ = VirtualDrive::Create(std::move(layout), {}, error);
    ASSERT_TRUE(drive_);
    const Result toc = In(Cdb({0x43, 0, 0, 0, 0, 0, 1, 0, 100, 0}), 100);
    EXPECT_THAT(Bytes(toc.data.begin() + 8, toc.data.begin() + 12), ElementsAre(0, 0, 0, 0));
    EXPECT_THAT(Bytes(toc.data.begin() + 16, toc.data.begin() + 20), ElementsAre(0, 0, 0x01, 0x77)); // 375
    EXPECT_THAT(Bytes(toc.data.begin() + 24, toc.data.begin() + 28), ElementsAre(0, 0, 0x02, 0x3F)); // 575
    const Result across = In(ReadCdCdb(0xBE0010, 298, 80), 80 * kRaw);
    ExpectGood(across);
    Bytes expected = testkit::BuildFile(1, std::string(300, 'a'), 0);
    expected.erase(expected.begin(), expected.begin() + 298 * kRaw);
    expected.insert(expected.end(), 75 * kRaw, 0); // the PREGAP reads as silence
    const Bytes two = testkit::BuildFile(2, "aaa", 0);
    expected.insert(expected.end(), two.begin(), two.end());
    EXPECT_TRUE(across.data == expected);
}

// ---- identity, modes, position -------------------------------------------------------------------------

TEST_F(VirtualDriveTest, InquiryAndCapabilitiesComeFromTheRegistryProfile) {
    // Strings as a hand-written file holds them: without their terminating zero.
    const std::string profile = std::string(kDrivesKey) + "\\V";
    auto setString = [&](const char* name, std::u16string_view text) {
        Sandbox::SetValue(HKEY_LOCAL_MACHINE, profile, name, REG_SZ, testkit::Utf16Le(text));
    };
    setString("Vendor", u"PHILIPS");
    setString("Product", u"CDD3610 CD-R/RW");
    setString("Revision", u"3.01");
    Sandbox::SetDword(HKEY_LOCAL_MACHINE, profile, "MaxSpeed", 8);
    Sandbox::SetDword(HKEY_LOCAL_MACHINE, profile, "BufferKB", 64);
    Sandbox::SetDword(HKEY_LOCAL_MACHINE, profile, "CddaAccurate", 0);
    Sandbox::SetDword(HKEY_LOCAL_MACHINE, profile, "Upc", 0);
    setString("\\", u"");
    Sandbox::SetValue(HKEY_LOCAL_MACHINE, kDrivesKey, "V", REG_SZ,
                      testkit::Utf16Le(Utf8ToUtf16("image:" + (dir_ / "disc.cue").string())));

    std::string error;
    auto scsi = OpenScsiPassThrough('v', error);
    ASSERT_TRUE(scsi) << error;
    ScsiIdentity id;
    ASSERT_EQ(Inquire(*scsi, id), 0);
    EXPECT_EQ(id.deviceType, kScsiDeviceTypeCdDvd);
    EXPECT_TRUE(id.removable);
    EXPECT_EQ(id.vendor, "PHILIPS ");
    EXPECT_EQ(id.product, "CDD3610 CD-R/RW ");
    EXPECT_EQ(id.revision, "3.01");
    EXPECT_EQ(scsi->Address().target, 'V' - 'A');

    // MODE SENSE(10) page 0x2A as the reader sends it: header, block descriptor, then the page.
    Bytes reply(128, 0);
    ScsiCommand cmd;
    cmd.cdb = {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 128};
    cmd.cdbLength = 10;
    cmd.direction = ScsiDirection::In;
    cmd.data = reply.data();
    cmd.dataLength = 128;
    ScsiAnswer answer;
    ASSERT_EQ(scsi->Execute(cmd, answer), 0);
    ASSERT_EQ(answer.status, kScsiGood);
    ASSERT_EQ(answer.transferred, 8u + 8 + 22);
    EXPECT_THAT(Bytes(reply.begin(), reply.begin() + 16),
                ElementsAre(0, 36, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x08, 0));
    const BYTE* page = reply.data() + 16;
    EXPECT_EQ(page[0], 0x2A);
    EXPECT_EQ(page[1], 0x14);
    EXPECT_EQ(page[5], 0x01 | 0x20); // CD-DA commands and ISRC; not accurate, no UPC
    EXPECT_EQ((page[8] << 8) | page[9], 8 * 176);
    EXPECT_EQ((page[12] << 8) | page[13], 64);
    EXPECT_EQ((page[14] << 8) | page[15], 8 * 176);
}

TEST_F(VirtualDriveTest, ModeSelectChangesTheBlockDescriptorAndRefusesWhatADriveRefuses) {
    Open();
    ExpectGood(SelectDensity(0x82, kRaw));
    const Result sense6 = In(Cdb({0x1A, 0, 0x3F, 0, 128, 0}), 128);
    ExpectGood(sense6);
    ASSERT_GE(sense6.data.size(), 12u);
    EXPECT_EQ(sense6.data[0], sense6.data.size() - 1);
    EXPECT_EQ(sense6.data[3], 8);
    EXPECT_THAT(Bytes(sense6.data.begin() + 4, sense6.data.begin() + 12),
                ElementsAre(0x82, 0, 0, 0, 0, 0, 0x09, 0x30));
    EXPECT_EQ(sense6.data[12], 0x01); // page 0x3F: the error recovery page, then 0x2A
    EXPECT_EQ(sense6.data[24], 0x2A);
    // MODE SELECT(10) as the reader sends it: 16-byte list, descriptor at byte 8.
    Bytes params(128, 0);
    params[7] = 8;
    params[8] = 0;
    params[14] = 0x08;
    params[15] = 0x00;
    ExpectGood(Out(Cdb({0x55, 0x10, 0x01, 0, 0, 0, 0, 0, 16, 0}), params));
    const Result noDescriptor = In(Cdb({0x1A, 0x08, 0x2A, 0, 128, 0}), 128);
    EXPECT_EQ(noDescriptor.data[3], 0);
    EXPECT_EQ(noDescriptor.data[4], 0x2A);
    const Result back = In(Cdb({0x1A, 0, 0x2A, 0, 128, 0}), 128);
    EXPECT_THAT(Bytes(back.data.begin() + 4, back.data.begin() + 12),
                ElementsAre(0, 0, 0, 0, 0, 0, 0x08, 0x00));

    ExpectSense(SelectDensity(0, 1000), 5, 0x26, 0x00);
    ExpectSense(SelectDensity(0x55, kRaw), 5, 0x26, 0x00);
    ExpectSense(Out(Cdb({0x15, 0x10, 0, 0, 12, 0}), Bytes(8, 0)), 5, 0x1A, 0x00);
    ExpectSense(In(Cdb({0x1A, 0, 0xEA, 0, 128, 0}), 128), 5, 0x39, 0x00); // saved values
    ExpectSense(In(Cdb({0x5A, 0, 0x0E, 0, 0, 0, 0, 0, 128, 0}), 128), 5, 0x24, 0x00);
}

TEST_F(VirtualDriveTest, SetCdSpeedShowsInTheCapabilitiesPage) {
    Open();
    auto currentSpeed = [&] {
        const Result r = In(Cdb({0x1A, 0x08, 0x2A, 0, 128, 0}), 128);
        return (r.data[4 + 14] << 8) | r.data[4 + 15];
    };
    ExpectGood(In(Cdb({0xBB, 0, 0x02, 0xC0, 0x02, 0xC0, 0, 0, 0, 0, 0, 0}), 0)); // 704 kB/s
    EXPECT_EQ(currentSpeed(), 704);
    ExpectGood(In(Cdb({0xBB, 0, 0x03, 0x00, 0x03, 0x00, 0, 0, 0, 0, 0, 0}), 0)); // 768: settles on 4x
    EXPECT_EQ(currentSpeed(), 704);
    ExpectGood(In(Cdb({0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}), 0));
    EXPECT_EQ(currentSpeed(), 24 * 176);
}

TEST_F(VirtualDriveTest, SubChannelGivesPositionCatalogueAndIsrc) {
    Open();
    ExpectGood(In(Cdb({0x2B, 0, 0, 0, 0x01, 0x5E, 0, 0, 0, 0}), 0)); // SEEK(10) to 350: track 2, index 0
    EXPECT_THAT(In(Cdb({0x42, 0, 0x40, 1, 0, 0, 0, 0, 16, 0}), 24).data,
                ElementsAre(0, 0x15, 0, 12, 1, 0x13, 2, 0, 0, 0, 0x01, 0x5E, 0xFF, 0xFF, 0xFF, 0xE7));
    ExpectGood(In(Cdb({0x0B, 0, 0x01, 0x90, 0, 0}), 0)); // SEEK(6) to 400: index 1, 25 into the track
    const Result msf = In(Cdb({0x42, 0x02, 0x40, 1, 0, 0, 0, 0, 16, 0}), 24);
    EXPECT_THAT(msf.data, ElementsAre(0, 0x15, 0, 12, 1, 0x13, 2, 1, 0, 0, 7, 25, 0, 0, 0, 25));
    CdQPosition q;
    ASSERT_EQ(MakeVirtualCdDevice(drive_)->ReadPosition(q), 0);
    EXPECT_EQ(q.track, 2);
    EXPECT_EQ(q.relativeLba, 25);

    const Result mcn = In(Cdb({0x42, 0, 0x40, 2, 0, 0, 0, 0, 24, 0}), 24);
    ASSERT_EQ(mcn.data.size(), 24u);
    EXPECT_THAT(Bytes(mcn.data.begin(), mcn.data.begin() + 9), ElementsAre(0, 0x15, 0, 20, 2, 0, 0, 0, 0x80));
    EXPECT_EQ(std::string(mcn.data.begin() + 9, mcn.data.begin() + 22), "0123456789012");
    const Result isrc = In(Cdb({0x42, 0, 0x40, 3, 0, 0, 1, 0, 24, 0}), 24);
    EXPECT_THAT(Bytes(isrc.data.begin(), isrc.data.begin() + 9),
                ElementsAre(0, 0x15, 0, 20, 3, 0x10, 1, 0, 0x80));
    EXPECT_EQ(std::string(isrc.data.begin() + 9, isrc.data.begin() + 21), "GBAYE6500001");
    const Result none = In(Cdb({0x42, 0, 0x40, 3, 0, 0, 2, 0, 24, 0}), 24);
    EXPECT_EQ(none.data[8], 0); // track 2 has no ISRC: TCVAL clear
    ExpectSense(In(Cdb({0x42, 0, 0x40, 3, 0, 0, 9, 0, 24, 0}), 24), 5, 0x24, 0x00);
    ExpectSense(In(Cdb({0x42, 0, 0x40, 0, 0, 0, 0, 0, 24, 0}), 24), 5, 0x24, 0x00);
    ExpectSense(In(Cdb({0x42, 0, 0x40, 4, 0, 0, 0, 0, 24, 0}), 24), 5, 0x24, 0x00);
    EXPECT_THAT(In(Cdb({0x42, 0, 0, 1, 0, 0, 0, 0, 16, 0}), 24).data,
                ElementsAre(0, 0x15, 0, 0)); // SubQ clear
}

TEST_F(VirtualDriveTest, TrayAndUnknownCommandsAnswerAsADrive) {
    Open();
    auto cd = MakeVirtualCdDevice(drive_);
    ExpectGood(In(Cdb({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0)); // the 12-byte TEST UNIT READY
    ExpectSense(In(Cdb({0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}), kRaw), 5, 0x20, 0x00);
    ExpectGood(In(Cdb({0x1E, 0, 0, 0, 1, 0}), 0));
    ExpectSense(In(Cdb({0x1B, 0, 0, 0, 0x02, 0}), 0), 5, 0x53, 0x02);
    EXPECT_EQ(cd->Eject(), EBUSY);
    ASSERT_EQ(cd->PreventRemoval(false), 0);
    ASSERT_EQ(cd->Eject(), 0);
    ExpectSense(In(Cdb({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0), 2, 0x3A, 0x02);
    ExpectSense(In(ReadCdCdb(0xBE0010, 0, 1), kRaw), 2, 0x3A, 0x02);
    DWORD type = 0;
    EXPECT_EQ(cd->GetDiskType(type), ENOMEDIUM);
    // REQUEST SENSE returns what the last command reported.
    EXPECT_THAT(Bytes(In(Cdb({0x03, 0, 0, 0, 18, 0}), 18).data).at(12), 0x3A);
    ExpectGood(In(Cdb({0x1B, 0, 0, 0, 0x03, 0}), 0)); // load
    ExpectGood(In(Cdb({0, 0, 0, 0, 0, 0}), 0));
    ASSERT_EQ(cd->GetDiskType(type), 0);
    EXPECT_EQ(type, kCdDiskMixed);
    CdQText text;
    ASSERT_EQ(cd->ReadIsrc(1, text), 0);
    EXPECT_EQ(text.text, "GBAYE6500001");
    ASSERT_EQ(cd->ReadCatalogue(text), 0);
    EXPECT_EQ(text.text, "0123456789012");
    CdSessionInfo session;
    ASSERT_EQ(cd->GetLastSession(session), 0);
    EXPECT_EQ(session.lastSession, 1);
}

// ---- faults --------------------------------------------------------------------------------------------

class VirtualDriveFaultTest : public VirtualDriveTest {};

TEST_F(VirtualDriveFaultTest, RefusedReadCdAnswersInvalidOpcodeWhileOtherReadsWork) {
    VirtualDriveProfile profile;
    profile.refuseReadCd = true;
    Open(profile);
    for (DWORD mode : {0xBE0010u, 0xBE00F8u, 0xBE04F8u}) {
        const Result r = In(ReadCdCdb(mode, 0, 1), kRaw);
        ExpectSense(r, 5, 0x20, 0x00);
        EXPECT_EQ(r.answer.transferred, 0u);
    }
    ExpectGood(In(VendorTwelveCdb(0, 1), kRaw));
    ExpectGood(SelectDensity(0, kRaw));
    const Result ten = In(ReadTenCdb(0x10280000, 0, 1), kRaw);
    ExpectGood(ten);
    EXPECT_TRUE(ten.data == Image(0, 1));
}

TEST_F(VirtualDriveFaultTest, BigEndianDriveSwapsTheSamplesOfTheTenByteReadOnly) {
    VirtualDriveProfile profile;
    profile.bigEndianRead10 = true;
    Open(profile);
    ExpectGood(SelectDensity(0, kRaw));
    const Result ten = In(ReadTenCdb(0x11280000, 100, 3), 3 * kRaw);
    ExpectGood(ten);
    Bytes swapped = Image(100, 3);
    for (std::size_t i = 0; i < swapped.size(); i += 2) {
        std::swap(swapped[i], swapped[i + 1]);
    }
    EXPECT_TRUE(ten.data == swapped);
    EXPECT_TRUE(In(ReadCdCdb(0xBE0010, 100, 3), 3 * kRaw).data == Image(100, 3));
    // Data sectors in raw blocks are not samples: they come unswapped.
    EXPECT_TRUE(In(ReadTenCdb(0x11280000, 800, 1), kRaw).data == Image(800, 1));
}

TEST_F(VirtualDriveFaultTest, JitterShiftsTheWholeReadThatCoversItsPlace) {
    VirtualDriveProfile profile;
    std::string error;
    ASSERT_TRUE(ParseJitterList("200:1176:1, 500:-4", profile.jitter, error)) << error;
    Open(profile);
    // Half a sector late, once: the read covering 200 starts 1176 bytes further on.
    const Result late = In(ReadCdCdb(0xBE0010, 190, 20), 20 * kRaw);
    ExpectGood(late);
    EXPECT_TRUE(late.data == Bytes(image_.begin() + 190 * kRaw + 1176, image_.begin() + 210 * kRaw + 1176));
    EXPECT_TRUE(In(ReadCdCdb(0xBE0010, 190, 20), 20 * kRaw).data == Image(190, 20));
    // One stereo frame early, every time; the raw device read sees it too.
    for (int i = 0; i < 2; ++i) {
        const Result early = In(ReadCdCdb(0xBE0010, 500, 2), 2 * kRaw);
        EXPECT_TRUE(early.data == Bytes(image_.begin() + 500 * kRaw - 4, image_.begin() + 502 * kRaw - 4));
    }
    Bytes raw(kRaw);
    ASSERT_EQ(MakeVirtualCdDevice(drive_)->ReadAudio(500, 1, raw.data()), 0);
    EXPECT_TRUE(raw == Bytes(image_.begin() + 500 * kRaw - 4, image_.begin() + 501 * kRaw - 4));
    // A shift before the disc's first byte reads silence there.
    ASSERT_TRUE(ParseJitterList("0:-8", profile.jitter, error));
    Open(profile);
    const Result edge = In(ReadCdCdb(0xBE0010, 0, 1), kRaw);
    EXPECT_TRUE(Bytes(edge.data.begin(), edge.data.begin() + 8) == Bytes(8, 0));
    EXPECT_TRUE(Bytes(edge.data.begin() + 8, edge.data.end()) ==
                Bytes(image_.begin(), image_.begin() + kRaw - 8));
}

TEST_F(VirtualDriveFaultTest, ReadErrorsDeliverTheSectorsBeforeThemThenTheirSenseForTheGivenTries) {
    VirtualDriveProfile profile;
    std::string error;
    ASSERT_TRUE(ParseReadErrorList("305:3/11/05:2 610:4/44/0", profile.readErrors, error)) << error;
    Open(profile);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const Result r = In(ReadCdCdb(0xBE0010, 300, 10), 10 * kRaw);
        ExpectSense(r, 3, 0x11, 0x05);
        EXPECT_EQ(SenseInformation(r), 305);
        EXPECT_EQ(r.answer.transferred, 5 * kRaw);
        EXPECT_TRUE(r.data == Image(300, 5));
    }
    const Result third = In(ReadCdCdb(0xBE0010, 300, 10), 10 * kRaw);
    ExpectGood(third);
    EXPECT_TRUE(third.data == Image(300, 10));
    // No try count: the sector never reads, through any read form.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const Result r = In(VendorTwelveCdb(610, 1), kRaw);
        ExpectSense(r, 4, 0x44, 0x00);
        EXPECT_EQ(r.answer.transferred, 0u);
    }
    Bytes raw(kRaw);
    EXPECT_EQ(MakeVirtualCdDevice(drive_)->ReadAudio(610, 1, raw.data()), EIO);
    ExpectGood(In(ReadCdCdb(0xBE0010, 611, 1), kRaw));
}

TEST_F(VirtualDriveFaultTest, NotReadyAnswersTheFirstCommandsButNotInquiry) {
    VirtualDriveProfile profile;
    profile.notReadyCommands = 3;
    Open(profile);
    ExpectGood(In(Cdb({0x12, 0, 0, 0, 36, 0}), 36));
    ExpectSense(In(Cdb({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0), 2, 0x04, 0x01);
    ExpectSense(In(Cdb({0x43, 0x02, 2, 0, 0, 0, 1, 0, 48, 0}), 48), 2, 0x04, 0x01);
    const Result read = In(ReadCdCdb(0xBE0010, 0, 1), kRaw);
    ExpectSense(read, 2, 0x04, 0x01);
    EXPECT_EQ(read.answer.transferred, 0u);
    EXPECT_EQ(read.answer.sense[0], 0x70); // no information field
    ExpectGood(In(Cdb({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0));
    ExpectGood(In(ReadCdCdb(0xBE0010, 0, 1), kRaw));
}

TEST_F(VirtualDriveFaultTest, StaleCacheReturnsTheEarlierAnswerForReReadsOfTheLastSectors) {
    VirtualDriveProfile profile;
    std::string error;
    ASSERT_TRUE(ParseJitterList("119:2352:1", profile.jitter, error));
    profile.staleCacheSectors = 4;
    Open(profile);
    // The first read is a sector late (jitter once); its last four sectors stay in the cache.
    const Result first = In(ReadCdCdb(0xBE0010, 110, 10), 10 * kRaw);
    EXPECT_TRUE(first.data == Image(111, 10));
    // Re-reading with overlap: 116..119 come from the cache (still late), 120..125 from the disc.
    const Result again = In(ReadCdCdb(0xBE0010, 116, 10), 10 * kRaw);
    ExpectGood(again);
    Bytes expected = Image(117, 4);
    const Bytes fresh = Image(120, 6);
    expected.insert(expected.end(), fresh.begin(), fresh.end());
    EXPECT_TRUE(again.data == expected);
    // Without the cache the same re-read is fresh throughout.
    profile.staleCacheSectors = 0;
    profile.jitter[0].used = 0;
    Open(profile);
    In(ReadCdCdb(0xBE0010, 110, 10), 10 * kRaw);
    EXPECT_TRUE(In(ReadCdCdb(0xBE0010, 116, 10), 10 * kRaw).data == Image(116, 10));
}

TEST_F(VirtualDriveFaultTest, NoiseChangesHighBytesDifferentlyOnEveryRead) {
    VirtualDriveProfile profile;
    profile.noisePerMille = 100;
    Open(profile);
    const Result first = In(ReadCdCdb(0xBE0010, 40, 10), 10 * kRaw);
    const Result second = In(ReadCdCdb(0xBE0010, 40, 10), 10 * kRaw);
    ExpectGood(first);
    ExpectGood(second);
    const Bytes clean = Image(40, 10);
    std::size_t lowChanged = 0, firstChanged = 0, betweenReads = 0;
    for (std::size_t i = 0; i < clean.size(); ++i) {
        lowChanged += (i % 2 == 0 && first.data[i] != clean[i]) ? 1 : 0;
        firstChanged += first.data[i] != clean[i] ? 1 : 0;
        betweenReads += first.data[i] != second.data[i] ? 1 : 0;
    }
    EXPECT_EQ(lowChanged, 0u);
    // About one sample in ten, each a random byte (equal to the old one once in 256).
    EXPECT_GT(firstChanged, clean.size() / 2 / 10 * 8 / 10);
    EXPECT_LT(firstChanged, clean.size() / 2 / 10 * 12 / 10);
    EXPECT_GT(betweenReads, firstChanged) << "the next read has noise of its own";
}

// A drive's read offset: every audio read, through both interfaces, early by the offset (late when it is
// negative), with silence beyond the disc's first and last samples; data sectors are not moved.
TEST_F(VirtualDriveFaultTest, ReadOffsetMovesEveryAudioReadAlike) {
    const auto shifted = [this](LONG lba, DWORD count, long bytes) {
        Bytes out(std::size_t{count} * kRaw, 0);
        for (std::size_t i = 0; i < out.size(); ++i) {
            const long at = static_cast<long>(lba) * static_cast<long>(kRaw) + static_cast<long>(i) + bytes;
            if (at >= 0 && at < static_cast<long>(image_.size())) {
                out[i] = image_[static_cast<std::size_t>(at)];
            }
        }
        return out;
    };
    for (const LONG offset : {30, -30, 667, -1164}) {
        SCOPED_TRACE("offset " + std::to_string(offset));
        VirtualDriveProfile profile;
        profile.readOffset = offset;
        Open(profile);
        const long early = -4L * offset;
        for (int i = 0; i < 2; ++i) { // the same every time, not once
            EXPECT_TRUE(In(ReadCdCdb(0xBE0010, 300, 5), 5 * kRaw).data == shifted(300, 5, early));
        }
        EXPECT_TRUE(In(VendorTwelveCdb(40, 2), 2 * kRaw).data == shifted(40, 2, early));
        Bytes raw(3 * kRaw);
        ASSERT_EQ(MakeVirtualCdDevice(drive_)->ReadAudio(120, 3, raw.data()), 0);
        EXPECT_TRUE(raw == shifted(120, 3, early));
        // The disc's first sector: what lies before it is silence.
        EXPECT_TRUE(In(ReadCdCdb(0xBE0010, 0, 1), kRaw).data == shifted(0, 1, early));
        // Data sectors keep their place.
        EXPECT_TRUE(In(ReadCdCdb(0xBE00F8, 850, 1), kRaw).data == Image(850, 1));
    }

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Orva Corporation\\Drives\\W", 0, KEY_ALL_ACCESS,
                             &key, nullptr),
              ERROR_SUCCESS);
    std::string error;
    for (const auto& [stored, expected] :
         {std::pair<DWORD, LONG>{48, 48}, {0xFFFFFE94u, -364}, {5880, 5880}}) {
        ASSERT_EQ(RegSetValueEx(key, "ReadOffset", REG_DWORD, reinterpret_cast<const BYTE*>(&stored), 4),
                  ERROR_SUCCESS);
        VirtualDriveProfile profile;
        EXPECT_TRUE(LoadVirtualDriveProfile('W', profile, error)) << error;
        EXPECT_EQ(profile.readOffset, expected);
    }
    for (const DWORD stored : {5881u, 0xFFFFE907u /* -5881 */}) {
        ASSERT_EQ(RegSetValueEx(key, "ReadOffset", REG_DWORD, reinterpret_cast<const BYTE*>(&stored), 4),
                  ERROR_SUCCESS);
        VirtualDriveProfile profile;
        EXPECT_FALSE(LoadVirtualDriveProfile('W', profile, error));
        EXPECT_THAT(error, HasSubstr("\"ReadOffset\": must be within -5880..5880 samples"));
    }
    RegCloseKey(key);
}

TEST_F(VirtualDriveFaultTest, TransfersAboveTheMaximumFailBeforeReachingTheDrive) {
    VirtualDriveProfile profile;
    profile.maxTransfer = 65536;
    Open(profile);
    const Result tooLong = In(ReadCdCdb(0xBE0010, 0, 28), 28 * kRaw);
    EXPECT_EQ(tooLong.answer.error, EINVAL);
    EXPECT_EQ(tooLong.answer.status, kScsiGood);
    EXPECT_EQ(tooLong.answer.transferred, 0u);
    EXPECT_EQ(tooLong.answer.sense, (std::array<BYTE, kSenseBytes>{}));
    ExpectGood(In(ReadCdCdb(0xBE0010, 0, 27), 27 * kRaw)); // 63 504 bytes
    EXPECT_EQ(MakeVirtualScsiPassThrough(drive_, {})->MaxTransferLength(), 65536u);
}

TEST_F(VirtualDriveFaultTest, ProfileValuesOfTheWrongShapeAreReportedByName) {
    std::vector<VirtualDriveProfile::Jitter> jitter;
    std::vector<VirtualDriveProfile::ReadError> errors;
    std::string error;
    EXPECT_FALSE(ParseJitterList("100", jitter, error));
    EXPECT_THAT(error, HasSubstr("\"100\" is not LBA:SHIFT[:READS]"));
    EXPECT_FALSE(ParseJitterList("100:x", jitter, error));
    EXPECT_FALSE(ParseReadErrorList("5:3/11", errors, error));
    EXPECT_FALSE(ParseReadErrorList("5:0/11/00", errors, error)); // key 0 is no error
    EXPECT_TRUE(ParseReadErrorList("5:3/1a/FF:7", errors, error));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].asc, 0x1A);
    EXPECT_EQ(errors[0].ascq, 0xFF);
    EXPECT_EQ(errors[0].tries, 7u);

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Orva Corporation\\Drives\\W", 0, KEY_ALL_ACCESS,
                             &key, nullptr),
              ERROR_SUCCESS);
    const BYTE text[] = {'8', 0};
    ASSERT_EQ(RegSetValueEx(key, "MaxSpeed", REG_SZ, text, 2), ERROR_SUCCESS);
    VirtualDriveProfile profile;
    EXPECT_FALSE(LoadVirtualDriveProfile('W', profile, error));
    EXPECT_THAT(error, HasSubstr("\"MaxSpeed\": must be a DWORD"));
    RegDeleteValue(key, "MaxSpeed");
    const BYTE list[] = {'1', 0, '2', 0};
    ASSERT_EQ(RegSetValueEx(key, "Jitter", REG_SZ, list, 4), ERROR_SUCCESS);
    EXPECT_FALSE(LoadVirtualDriveProfile('W', profile, error));
    EXPECT_THAT(error, HasSubstr("\"Jitter\": \"12\" is not LBA:SHIFT[:READS]"));
    RegDeleteValue(key, "Jitter");
    const DWORD noise = 1001;
    ASSERT_EQ(RegSetValueEx(key, "Noise", REG_DWORD, reinterpret_cast<const BYTE*>(&noise), 4),
              ERROR_SUCCESS);
    EXPECT_FALSE(LoadVirtualDriveProfile('W', profile, error));
    EXPECT_THAT(error, HasSubstr("\"Noise\": more than 1000 per mille"));
    RegCloseKey(key);
}

} // namespace
