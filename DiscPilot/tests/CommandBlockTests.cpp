// Every command block the transport sends, byte for byte, with its length and direction; and the parsing
// of the READ TOC and MODE SENSE replies.
#include "transport/CommandBlock.h"

#include <gtest/gtest.h>

#include <vector>

namespace discpilot {
namespace {

using Cdb = std::vector<int>;

void ExpectBlock(const CommandBlock& block, const Cdb& cdb, DWORD transfer, int direction) {
    ASSERT_EQ(block.cdbLength, cdb.size());
    for (std::size_t i = 0; i < 16; ++i) {
        const int expected = i < cdb.size() ? cdb[i] : 0;
        EXPECT_EQ(block.cdb[i], expected) << "CDB byte " << i;
    }
    EXPECT_EQ(block.transferLength, transfer);
    EXPECT_EQ(block.direction, direction);
}

class CommandBuilderTest : public ::testing::Test {
protected:
    BYTE buffer_[128 * 1024] = {};
};

TEST_F(CommandBuilderTest, TestUnitReadyIsTwelveZeroBytes) {
    ExpectBlock(BuildTestUnitReady(), Cdb(12, 0), 0, kDirectionIn);
}

TEST_F(CommandBuilderTest, InquiryAsksForThirtySixBytes) {
    const CommandBlock block = BuildInquiry(buffer_);
    ExpectBlock(block, {0x12, 0, 0, 0, 36, 0}, 36, kDirectionIn);
    EXPECT_EQ(block.data, buffer_);
}

TEST_F(CommandBuilderTest, ModeSenseInBothSizes) {
    ExpectBlock(BuildModeSense(0x2A, false, buffer_), {0x1A, 0, 0x2A, 0, 128, 0}, 128, kDirectionIn);
    ExpectBlock(BuildModeSense(0x2A, true, buffer_), {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 128, 0}, 128,
                kDirectionIn);
    // Only the page code's six bits go out; the page-control bits of a caller's value are dropped.
    ExpectBlock(BuildModeSense(0xFF, false, buffer_), {0x1A, 0, 0x3F, 0, 128, 0}, 128, kDirectionIn);
}

TEST_F(CommandBuilderTest, ModeSelectSixCarriesDensityAndBlockLengthInItsParameterList) {
    std::fill(std::begin(buffer_), std::begin(buffer_) + 128, 0xEE);
    ExpectBlock(BuildModeSelect(0x82, 2352, false, buffer_), {0x15, 0x10, 0x01, 0, 12, 0}, 128,
                kDirectionOut);
    for (int i = 0; i < 128; ++i) {
        const int expected = i == 3 ? 8 : i == 4 ? 0x82 : i == 10 ? 0x09 : i == 11 ? 0x30 : 0;
        EXPECT_EQ(buffer_[i], expected) << "parameter byte " << i;
    }
}

TEST_F(CommandBuilderTest, ModeSelectTenCarriesDensityAndBlockLengthInItsParameterList) {
    std::fill(std::begin(buffer_), std::begin(buffer_) + 128, 0xEE);
    ExpectBlock(BuildModeSelect(0x00, 2048, true, buffer_), {0x55, 0x10, 0x01, 0, 0, 0, 0, 0, 16, 0}, 128,
                kDirectionOut);
    for (int i = 0; i < 128; ++i) {
        const int expected = i == 7 ? 8 : i == 14 ? 0x08 : 0;
        EXPECT_EQ(buffer_[i], expected) << "parameter byte " << i;
    }
}

TEST_F(CommandBuilderTest, ReadSubChannelPerFormat) {
    int result = -1;
    ExpectBlock(BuildReadSubChannel(1, 7, buffer_, result), {0x42, 0, 0x40, 1, 0, 0, 0, 0, 16, 0}, 24,
                kDirectionIn);
    EXPECT_EQ(result, 0);
    ExpectBlock(BuildReadSubChannel(2, 7, buffer_, result), {0x42, 0, 0x40, 2, 0, 0, 0, 0, 24, 0}, 24,
                kDirectionIn);
    EXPECT_EQ(result, 0);
    // Only the ISRC names a track.
    ExpectBlock(BuildReadSubChannel(3, 7, buffer_, result), {0x42, 0, 0x40, 3, 0, 0, 7, 0, 24, 0}, 24,
                kDirectionIn);
    EXPECT_EQ(result, 0);
    BuildReadSubChannel(0, 1, buffer_, result);
    EXPECT_EQ(result, 501);
    BuildReadSubChannel(4, 1, buffer_, result);
    EXPECT_EQ(result, 501);
}

TEST_F(CommandBuilderTest, ReadTocWithTheFormatInByteTwo) {
    int result = -1;
    ExpectBlock(BuildReadToc(0, 5, false, buffer_, result), {0x43, 0, 0, 0, 0, 0, 5, 0, 12, 0}, 12,
                kDirectionIn);
    ExpectBlock(BuildReadToc(0, 0xAA, false, buffer_, result), {0x43, 0, 0, 0, 0, 0, 0xAA, 0, 12, 0}, 12,
                kDirectionIn);
    ExpectBlock(BuildReadToc(1, 5, false, buffer_, result), {0x43, 0, 1, 0, 0, 0, 0, 0, 10, 0}, 12,
                kDirectionIn);
    ExpectBlock(BuildReadToc(2, 5, false, buffer_, result), {0x43, 2, 2, 0, 0, 0, 1, 0, 48, 0}, 48,
                kDirectionIn);
    ExpectBlock(BuildReadToc(3, 5, false, buffer_, result), {0x43, 2, 3, 0, 0, 0, 0, 0, 15, 0}, 2,
                kDirectionIn);
    ExpectBlock(BuildReadToc(4, 5, false, buffer_, result), {0x43, 0, 4, 0, 0, 0, 0, 0, 50, 0}, 2,
                kDirectionIn);
    EXPECT_EQ(result, 0);
    BuildReadToc(5, 0, false, buffer_, result);
    EXPECT_EQ(result, 501);
}

TEST_F(CommandBuilderTest, ReadTocInTheOlderFormPutsTheFormatInByteNine) {
    int result = -1;
    ExpectBlock(BuildReadToc(0, 3, true, buffer_, result), {0x43, 0, 0, 0, 0, 0, 3, 0, 12, 0x00}, 12,
                kDirectionIn);
    ExpectBlock(BuildReadToc(1, 3, true, buffer_, result), {0x43, 0, 0, 0, 0, 0, 0, 0, 10, 0x40}, 12,
                kDirectionIn);
    ExpectBlock(BuildReadToc(2, 3, true, buffer_, result), {0x43, 2, 0, 0, 0, 0, 1, 0, 48, 0x80}, 48,
                kDirectionIn);
    ExpectBlock(BuildReadToc(3, 3, true, buffer_, result), {0x43, 2, 0, 0, 0, 0, 0, 0, 15, 0xC0}, 2,
                kDirectionIn);
    // Format 4 does not fit two bits: the older form cannot name it and sends format 0's bits.
    ExpectBlock(BuildReadToc(4, 3, true, buffer_, result), {0x43, 0, 0, 0, 0, 0, 0, 0, 50, 0x00}, 2,
                kDirectionIn);
    EXPECT_EQ(result, 0);
}

TEST_F(CommandBuilderTest, SeekInBothSizes) {
    ExpectBlock(BuildSeek6(0x123456), {0x0B, 0x12, 0x34, 0x56, 0, 0}, 0, kDirectionIn);
    // SEEK(6) has 21 address bits: the rest is cut.
    ExpectBlock(BuildSeek6(0xFF3456), {0x0B, 0x1F, 0x34, 0x56, 0, 0}, 0, kDirectionIn);
    ExpectBlock(BuildSeek10(0x01234567), {0x2B, 0, 0x01, 0x23, 0x45, 0x67, 0, 0, 0, 0}, 0, kDirectionIn);
}

TEST_F(CommandBuilderTest, SetCdSpeedCarriesTheSameSpeedInBothFields) {
    ExpectBlock(BuildSetCdSpeed(4), {0xBB, 0, 0x02, 0xC0, 0x02, 0xC0, 0, 0, 0, 0, 0, 0}, 0, kDirectionIn);
    ExpectBlock(BuildSetCdSpeed(0), {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, 0, kDirectionIn);
    ExpectBlock(BuildSetCdSpeed(-3), {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, 0, kDirectionIn);
    ExpectBlock(BuildSetCdSpeed(1), {0xBB, 0, 0x00, 0xB0, 0x00, 0xB0, 0, 0, 0, 0, 0, 0}, 0, kDirectionIn);
}

TEST_F(CommandBuilderTest, ReadCdForEachOfItsModes) {
    ExpectBlock(BuildReadAudio(0xBE0010, 0x00012345, 27, buffer_),
                {0xBE, 0x00, 0, 0x01, 0x23, 0x45, 0, 0, 27, 0x10, 0, 0}, 27 * 2352, kDirectionIn);
    ExpectBlock(BuildReadAudio(0xBE00F8, 0x00012345, 27, buffer_),
                {0xBE, 0x00, 0, 0x01, 0x23, 0x45, 0, 0, 27, 0xF8, 0, 0}, 27 * 2352, kDirectionIn);
    ExpectBlock(BuildReadAudio(0xBE04F8, 0x00012345, 0x010203, buffer_),
                {0xBE, 0x04, 0, 0x01, 0x23, 0x45, 0x01, 0x02, 0x03, 0xF8, 0, 0}, 0x010203u * 2352,
                kDirectionIn);
    EXPECT_TRUE(IsReadCdMode(0xBE04F8));
    EXPECT_FALSE(IsReadCdMode(0xD80000));
}

TEST_F(CommandBuilderTest, ReadTenForEachOfItsModes) {
    // Byte 2 stays 0: the ten-byte form carries 24 address bits, and the count only in byte 8.
    ExpectBlock(BuildReadAudio(0x10280000, 0x12345678, 26, buffer_),
                {0x28, 0x00, 0, 0x34, 0x56, 0x78, 0, 0, 26, 0}, 26 * 2352, kDirectionIn);
    ExpectBlock(BuildReadAudio(0x10280082, 0x00012345, 26, buffer_),
                {0x28, 0x00, 0, 0x01, 0x23, 0x45, 0, 0, 26, 0}, 26 * 2352, kDirectionIn);
    ExpectBlock(BuildReadAudio(0x11280000, 0x00012345, 0x1A2, buffer_),
                {0x28, 0x00, 0, 0x01, 0x23, 0x45, 0, 0, 0xA2, 0}, 0x1A2u * 2352, kDirectionIn);
    ExpectBlock(BuildReadAudio(0xD40000, 0x00012345, 26, buffer_),
                {0xD4, 0x00, 0, 0x01, 0x23, 0x45, 0, 0, 26, 0}, 26 * 2352, kDirectionIn);
}

TEST_F(CommandBuilderTest, VendorReadCdDaTwelveBytes) {
    ExpectBlock(BuildReadAudio(0xD80000, 0x01234567, 0x0123, buffer_),
                {0xD8, 0x00, 0x01, 0x23, 0x45, 0x67, 0, 0, 0x01, 0x23, 0, 0}, 0x123u * 2352, kDirectionIn);
}

TEST(ReplyParsingTest, TocEntryAndSessionInfo) {
    const BYTE toc[12] = {0, 10, 1, 12, 0, 0x14, 3, 0, 0x00, 0x01, 0x02, 0x03};
    const TocAnswer answer = ParseToc(toc);
    EXPECT_EQ(answer.first, 1);
    EXPECT_EQ(answer.last, 12);
    EXPECT_EQ(answer.adrControl, 0x14);
    EXPECT_EQ(answer.lba, 0x010203u);
}

// A full TOC of session 1 as a drive sends it: A0, A1, A2, then track 1.
std::vector<BYTE> FullToc(int descriptors, int session = 1) {
    std::vector<BYTE> reply(48, 0);
    reply[1] = static_cast<BYTE>(2 + descriptors * 11);
    reply[2] = 1;
    reply[3] = 2;
    const BYTE points[4][4] = {{0xA0, 1, 0, 0}, {0xA1, 9, 0, 0}, {0xA2, 40, 12, 34}, {0x01, 0, 2, 0}};
    for (int i = 0; i < descriptors; ++i) {
        BYTE* d = reply.data() + 4 + i * 11;
        d[0] = static_cast<BYTE>(session);
        d[1] = 0x10;
        d[3] = points[i][0];
        d[8] = points[i][1];
        d[9] = points[i][2];
        d[10] = points[i][3];
    }
    return reply;
}

TEST(ReplyParsingTest, FullTocIsCompleteWithAllFourPointsOfSessionOne) {
    const auto reply = FullToc(4);
    const FullTocAnswer answer = ParseFullToc(reply.data(), reply.size());
    EXPECT_TRUE(answer.complete);
    EXPECT_EQ(answer.firstSession, 1);
    EXPECT_EQ(answer.lastSession, 2);
    EXPECT_EQ(answer.firstTrack, 1);
    EXPECT_EQ(answer.lastTrack, 9);
    EXPECT_EQ(answer.leadOut[0], 40);
    EXPECT_EQ(answer.leadOut[1], 12);
    EXPECT_EQ(answer.leadOut[2], 34);
    EXPECT_EQ(answer.track1[1], 2);
}

TEST(ReplyParsingTest, FullTocMissingAPointOrFromAnotherSessionIsIncomplete) {
    const auto three = FullToc(3);
    EXPECT_FALSE(ParseFullToc(three.data(), three.size()).complete);
    const auto otherSession = FullToc(4, 2);
    EXPECT_FALSE(ParseFullToc(otherSession.data(), otherSession.size()).complete);
    // A data length claiming more than was transferred is not walked past the reply.
    auto lying = FullToc(4);
    lying[0] = 0x7F;
    EXPECT_TRUE(ParseFullToc(lying.data(), lying.size()).complete);
    EXPECT_FALSE(ParseFullToc(lying.data(), 40).complete);
}

TEST(ReplyParsingTest, ModePageFollowsHeaderAndBlockDescriptors) {
    BYTE six[128] = {};
    six[3] = 8;
    EXPECT_EQ(ModePageOffset(six, false), 12u);
    BYTE ten[128] = {};
    ten[6] = 0;
    ten[7] = 8;
    EXPECT_EQ(ModePageOffset(ten, true), 16u);
    ten[7] = 0;
    EXPECT_EQ(ModePageOffset(ten, true), 8u);
}

} // namespace
} // namespace discpilot
