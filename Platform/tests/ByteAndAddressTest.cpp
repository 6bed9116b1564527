// The low-level helpers every layer shares: byte order, CD addresses, whole-buffer file transfers and
// numbers in text.
#include "Platform/ByteOrder.h"
#include "Platform/CdAddress.h"
#include "Platform/FileIo.h"
#include "Platform/Text.h"

#include "TestKit/Scratch.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

TEST(ByteOrderTest, WritersAndReadersAgreeOnEveryWidth) {
    std::array<BYTE, 8> b{};
    WriteBe16(b.data(), 0x12345678); // only the low 16 bits fit
    EXPECT_EQ(b[0], 0x56);
    EXPECT_EQ(b[1], 0x78);
    EXPECT_EQ(ReadBe16(b.data()), 0x5678u);

    WriteBe24(b.data(), 0xABCDEF);
    EXPECT_EQ((std::array<BYTE, 3>{b[0], b[1], b[2]}), (std::array<BYTE, 3>{0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(ReadBe24(b.data()), 0xABCDEFu);

    WriteBe32(b.data(), 0xFEDCBA98);
    EXPECT_EQ(b[0], 0xFE);
    EXPECT_EQ(b[3], 0x98);
    EXPECT_EQ(ReadBe32(b.data()), 0xFEDCBA98u);

    WriteLe32(b.data(), 0xFEDCBA98);
    EXPECT_EQ(b[0], 0x98);
    EXPECT_EQ(b[3], 0xFE);
    EXPECT_EQ(ReadLe32(b.data()), 0xFEDCBA98u);
    EXPECT_EQ(ReadLe16(b.data()), 0xBA98u);

    WriteLe64(b.data(), 0x0102030405060708ull);
    EXPECT_EQ(b[0], 0x08);
    EXPECT_EQ(b[7], 0x01);
    EXPECT_EQ(ReadLe64(b.data()), 0x0102030405060708ull);
}

TEST(CdAddressTest, SectorsAndTimesConvertBothWays) {
    struct Case {
        LONG lba;
        BYTE minute, second, frame;
    };
    const Case cases[] = {
        {-150, 0, 0, 0}, {-1, 0, 1, 74},  {0, 0, 2, 0},         {74, 0, 2, 74},
        {75, 0, 3, 0},   {4350, 1, 0, 0}, {449849, 99, 59, 74}, // the last address a disc can have
    };
    for (const Case& c : cases) {
        const CdMsf msf = LbaToMsf(c.lba);
        EXPECT_EQ(msf.minute, c.minute) << c.lba;
        EXPECT_EQ(msf.second, c.second) << c.lba;
        EXPECT_EQ(msf.frame, c.frame) << c.lba;
        EXPECT_EQ(MsfToLba(c.minute, c.second, c.frame), c.lba);
    }
    EXPECT_EQ(MsfToFrames(99, 59, 74), kCdMaxMsfFrames);
    // Before the disc's first address, and negative track times, read as 00:00:00.
    const CdMsf early = LbaToMsf(-151);
    EXPECT_EQ(early.minute + early.second + early.frame, 0);
    const CdMsf negative = FramesToMsf(-5);
    EXPECT_EQ(negative.minute + negative.second + negative.frame, 0);
}

TEST(ParseIntegerTest, WholeTextOnly) {
    EXPECT_EQ(ParseInteger<long long>("12000"), 12000);
    EXPECT_EQ(ParseInteger<long long>("-4"), -4);
    EXPECT_EQ(ParseInteger<int>("1a", 16), 0x1A);
    EXPECT_EQ(ParseInteger<int>("FF", 16), 0xFF);
    EXPECT_EQ(ParseInteger<unsigned>("4294967295"), 4294967295u);
    for (const char* bad : {"", " 1", "1 ", "+1", "1x", "0x10", "--1", "-"}) {
        EXPECT_FALSE(ParseInteger<long long>(bad).has_value()) << '"' << bad << '"';
    }
    EXPECT_FALSE(ParseInteger<unsigned>("-1").has_value());
    EXPECT_FALSE(ParseInteger<unsigned>("4294967296").has_value()); // does not fit
    EXPECT_FALSE(ParseInteger<int>("g", 16).has_value());
}

class FileIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override { ::close(fd_); }
    const testkit::ScratchFolder scratch_{"fileio"};
    const std::filesystem::path path_ = scratch_ / "file";
    int fd_ = -1;
};

TEST_F(FileIoTest, WholeBuffersAtThePositionAndAtOffsets) {
    const std::string text = "0123456789";
    ASSERT_TRUE(WriteFully(fd_, text.data(), text.size()));
    ASSERT_TRUE(WriteFullyAt(fd_, "AB", 2, 4)); // overwrites 4..5, file position stays at the end
    ASSERT_TRUE(WriteFully(fd_, "!", 1));

    std::string back(20, '?');
    EXPECT_EQ(ReadFullyAt(fd_, back.data(), 5, 3), 5);
    EXPECT_EQ(back.substr(0, 5), "3AB67");
    // Past the end: what there is, then 0.
    EXPECT_EQ(ReadFullyAt(fd_, back.data(), back.size(), 8), 3);
    EXPECT_EQ(back.substr(0, 3), "89!");
    EXPECT_EQ(ReadFullyAt(fd_, back.data(), 4, 11), 0);
    ASSERT_EQ(::lseek(fd_, 0, SEEK_SET), 0);
    EXPECT_EQ(ReadFully(fd_, back.data(), back.size()), 11);
    EXPECT_EQ(back.substr(0, 11), "0123AB6789!");
}

TEST_F(FileIoTest, ShortTransfersAreContinuedAndFailuresReported) {
    // A pipe hands out what the writer has put in so far: the reader must keep reading.
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    std::thread writer([&] {
        for (int i = 0; i < 4; ++i) {
            const char piece[3] = {static_cast<char>('a' + i), static_cast<char>('a' + i),
                                   static_cast<char>('a' + i)};
            EXPECT_TRUE(WriteFully(pipe[1], piece, sizeof piece));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::close(pipe[1]);
    });
    std::string got(12, '?');
    EXPECT_EQ(ReadFully(pipe[0], got.data(), got.size()), 12);
    writer.join();
    EXPECT_EQ(got, "aaabbbcccddd");
    ::close(pipe[0]);

    char byte = 0;
    errno = 0;
    EXPECT_EQ(ReadFully(-1, &byte, 1), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(WriteFully(-1, &byte, 1));
    EXPECT_FALSE(WriteFullyAt(-1, &byte, 1, 0));
    EXPECT_EQ(ReadFullyAt(-1, &byte, 1, 0), -1);
}

TEST_F(FileIoTest, CreatingSeekingSizingTruncatingAndClosing) {
    const std::filesystem::path made = path_.string() + ".made";
    const mode_t mask = ::umask(022);
    int fd = CreateFileForWriting(made.c_str(), true, 0640);
    ::umask(mask);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(std::filesystem::status(made).permissions(), std::filesystem::perms::owner_read |
                                                               std::filesystem::perms::owner_write |
                                                               std::filesystem::perms::group_read);
    ASSERT_TRUE(WriteFully(fd, "0123456789", 10));
    EXPECT_EQ(FileSize(fd), 10);

    struct Move {
        std::int64_t distance;
        SeekOrigin origin;
        std::int64_t at; // -1: refused
    };
    for (const Move& m :
         {Move{3, SeekOrigin::Begin, 3}, Move{2, SeekOrigin::Current, 5}, Move{-4, SeekOrigin::End, 6},
          Move{-7, SeekOrigin::Current, -1}, Move{20, SeekOrigin::Begin, 20}}) {
        EXPECT_EQ(SeekFile(fd, m.distance, m.origin), m.at) << m.distance;
    }
    ASSERT_TRUE(TruncateFile(fd, 4));
    EXPECT_EQ(FileSize(fd), 4);
    EXPECT_TRUE(SyncFile(fd));
    EXPECT_TRUE(CloseFile(fd));

    // Creating again empties the file; a write-only descriptor cannot be read.
    fd = CreateFileForWriting(made.c_str(), false);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(FileSize(fd), 0);
    char byte = 0;
    EXPECT_EQ(ReadFully(fd, &byte, 1), -1);
    EXPECT_TRUE(CloseFile(fd));

    errno = 0;
    EXPECT_EQ(CreateFileForWriting((path_ / "no-folder" / "x").c_str(), false), -1);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(SeekFile(-1, 0, SeekOrigin::Begin), -1);
    EXPECT_EQ(FileSize(-1), -1);
    EXPECT_FALSE(TruncateFile(-1, 0));
    EXPECT_FALSE(SyncFile(-1));
    EXPECT_FALSE(CloseFile(-1));
}

TEST_F(FileIoTest, OnlyRegularFilesAreOpenedForReading) {
    ASSERT_TRUE(WriteFully(fd_, "abc", 3));
    const std::filesystem::path fifo = path_.string() + ".fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        ReadFileError error;
    };
    const Case cases[] = {
        {path_.string(), ReadFileError::None},
        {path_.string() + ".missing", ReadFileError::NoSuchFile},
        {(path_ / "below-a-file").string(), ReadFileError::NoSuchFile},
        {path_.parent_path().string(), ReadFileError::IsDirectory},
        {fifo.string(), ReadFileError::NotRegularFile}, // refused without waiting for a writer
        {"/dev/null", ReadFileError::NotRegularFile},
    };
    for (const Case& c : cases) {
        ReadFileError error = ReadFileError::Unreadable;
        std::uint64_t size = 99;
        const int fd = OpenRegularFileForReading(c.path.c_str(), &error, &size);
        EXPECT_EQ(error, c.error) << c.path;
        EXPECT_EQ(fd >= 0, c.error == ReadFileError::None) << c.path;
        if (fd >= 0) {
            EXPECT_EQ(size, 3u);
            char back[3] = {};
            EXPECT_EQ(ReadFully(fd, back, 3), 3); // blocking again, from the start
            CloseFile(fd);
        } else {
            EXPECT_EQ(size, 99u) << c.path;
        }
    }
    EXPECT_EQ(OpenRegularFileForReading(nullptr, nullptr, nullptr), -1);
}

TEST_F(FileIoTest, UniqueFilesArePrivateUntilGivenTheirPermissions) {
    namespace fs = std::filesystem;
    const fs::path folder = path_.string() + ".d";
    fs::create_directories(folder);
    std::string first = (folder / "a.XXXXXX").string();
    std::string second = first;
    const int a = CreateUniqueFile(first.data());
    const int b = CreateUniqueFile(second.data());
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.find("XXXXXX"), std::string::npos);
    EXPECT_EQ(fs::status(first).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    const mode_t mask = ::umask(027);
    const unsigned permissions = NewFilePermissions();
    ::umask(mask);
    EXPECT_EQ(permissions, 0640u);
    EXPECT_EQ(NewFilePermissions(), 0666u & ~static_cast<unsigned>(mask)); // the umask is left as it was
    ASSERT_TRUE(SetFilePermissions(a, permissions));
    EXPECT_EQ(fs::status(first).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_TRUE(CloseFile(a));
    EXPECT_TRUE(CloseFile(b));

    EXPECT_TRUE(SyncFolder(folder));
    EXPECT_FALSE(SyncFolder(folder / "missing"));
    EXPECT_FALSE(SyncFolder(first)); // a file is not a folder
    EXPECT_TRUE(RemoveFile(first.c_str()));
    EXPECT_FALSE(fs::exists(first));
    errno = 0;
    EXPECT_FALSE(RemoveFile(first.c_str()));
    EXPECT_EQ(errno, ENOENT);
    std::string bad = (folder / "missing" / "x.XXXXXX").string();
    EXPECT_EQ(CreateUniqueFile(bad.data()), -1);
    std::string noPattern = (folder / "x").string();
    EXPECT_EQ(CreateUniqueFile(noPattern.data()), -1);
}

} // namespace
} // namespace platform
