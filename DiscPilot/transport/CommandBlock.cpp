#include "transport/CommandBlock.h"

#include "Platform/ByteOrder.h"
#include "Platform/MmcCommands.h"

#include <algorithm>
#include <cstring>

namespace discpilot {

namespace {

CommandBlock Block(WORD cdbLength, BYTE opcode, BYTE* data, DWORD transferLength, int direction) noexcept {
    CommandBlock block;
    block.cdbLength = cdbLength;
    block.cdb[0] = opcode;
    block.data = data;
    block.transferLength = transferLength;
    block.direction = direction;
    return block;
}

} // namespace

CommandBlock BuildTestUnitReady() noexcept {
    // Sent as a 12-byte all-zero block, the form the drives this was written for accept.
    return Block(12, platform::mmc::kTestUnitReady, nullptr, 0, kDirectionIn);
}

CommandBlock BuildInquiry(BYTE* buffer) noexcept {
    CommandBlock block = Block(6, platform::mmc::kInquiry, buffer, kInquiryReplyBytes, kDirectionIn);
    block.cdb[4] = kInquiryReplyBytes;
    return block;
}

CommandBlock BuildModeSense(int page, bool tenByte, BYTE* buffer) noexcept {
    CommandBlock block = tenByte
                             ? Block(10, platform::mmc::kModeSense10, buffer, kModeBufferBytes, kDirectionIn)
                             : Block(6, platform::mmc::kModeSense6, buffer, kModeBufferBytes, kDirectionIn);
    block.cdb[2] = static_cast<BYTE>(page & 0x3F);
    block.cdb[tenByte ? 8 : 4] = kModeBufferBytes;
    return block;
}

CommandBlock BuildModeSelect(BYTE density, WORD blockLength, bool tenByte, BYTE* buffer) noexcept {
    std::memset(buffer, 0, kModeBufferBytes);
    CommandBlock block =
        tenByte ? Block(10, platform::mmc::kModeSelect10, buffer, kModeBufferBytes, kDirectionOut)
                : Block(6, platform::mmc::kModeSelect6, buffer, kModeBufferBytes, kDirectionOut);
    block.cdb[1] = 0x10; // page format
    block.cdb[2] = 0x01;
    if (tenByte) {
        block.cdb[8] = 16;
        buffer[7] = 8;
        buffer[8] = density;
        platform::WriteBe16(buffer + 14, blockLength);
    } else {
        block.cdb[4] = 12;
        buffer[3] = 8;
        buffer[4] = density;
        platform::WriteBe16(buffer + 10, blockLength);
    }
    return block;
}

CommandBlock BuildReadSubChannel(int format, int track, BYTE* buffer, int& result) noexcept {
    CommandBlock block =
        Block(10, platform::mmc::kReadSubChannel, buffer, kSubChannelReplyBytes, kDirectionIn);
    result = kTransportOk;
    if (format < 1 || format > 3) {
        result = kTransportBadArgument;
        return block;
    }
    block.cdb[2] = 0x40; // SubQ
    block.cdb[3] = static_cast<BYTE>(format);
    if (format == 3) {
        block.cdb[6] = static_cast<BYTE>(track);
    }
    block.cdb[8] = format == 1 ? 16 : kSubChannelReplyBytes;
    return block;
}

CommandBlock BuildReadToc(int format, int trackOrSession, bool olderForm, BYTE* buffer,
                          int& result) noexcept {
    struct Shape {
        BYTE allocation;
        DWORD transfer;
    };
    // Allocation and transfer lengths per format; the session-info reply is fetched into 12 bytes although
    // only 10 are asked for, and PMA and ATIP only have their header looked at.
    static constexpr Shape kShapes[] = {
        {12, 12}, {10, 12}, {kTocReplyBytes, kTocReplyBytes}, {15, 2}, {50, 2}};
    result = kTransportOk;
    if (format < 0 || format > 4) {
        result = kTransportBadArgument;
        return Block(10, platform::mmc::kReadToc, buffer, 0, kDirectionIn);
    }
    CommandBlock block = Block(10, platform::mmc::kReadToc, buffer, kShapes[format].transfer, kDirectionIn);
    if (format == 2 || format == 3) {
        block.cdb[1] = 0x02; // MSF addresses
    }
    if (olderForm) {
        block.cdb[9] = static_cast<BYTE>(format << 6);
    } else {
        block.cdb[2] = static_cast<BYTE>(format & 0x0F);
    }
    block.cdb[6] = format == 0 ? static_cast<BYTE>(trackOrSession) : format == 2 ? 1 : 0;
    block.cdb[8] = kShapes[format].allocation;
    return block;
}

CommandBlock BuildReadCdText(BYTE* buffer, DWORD allocation) noexcept {
    allocation = std::min<DWORD>(allocation, 0xFFFF);
    CommandBlock block = Block(10, platform::mmc::kReadToc, buffer, allocation, kDirectionIn);
    block.cdb[2] = 0x05;
    platform::WriteBe16(block.cdb.data() + 7, allocation);
    return block;
}

CommandBlock BuildSeek6(DWORD lba) noexcept {
    CommandBlock block = Block(6, platform::mmc::kSeek6, nullptr, 0, kDirectionIn);
    block.cdb[1] = static_cast<BYTE>((lba >> 16) & 0x1F);
    platform::WriteBe16(block.cdb.data() + 2, lba & 0xFFFF);
    return block;
}

CommandBlock BuildSeek10(DWORD lba) noexcept {
    CommandBlock block = Block(10, platform::mmc::kSeek10, nullptr, 0, kDirectionIn);
    platform::WriteBe32(block.cdb.data() + 2, lba);
    return block;
}

CommandBlock BuildSetCdSpeed(int multiple) noexcept {
    CommandBlock block = Block(12, platform::mmc::kSetCdSpeed, nullptr, 0, kDirectionIn);
    const DWORD speed = multiple <= 0 ? 0xFFFF : static_cast<DWORD>(multiple) * 176 & 0xFFFF;
    platform::WriteBe16(block.cdb.data() + 2, speed);
    platform::WriteBe16(block.cdb.data() + 4, speed);
    return block;
}

DWORD MaxSectorsPerRead(DWORD readMode) noexcept {
    if (IsReadCdMode(readMode)) {
        return 0xFFFFFF;
    }
    return readMode == kReadModeVendorD8 ? 0xFFFF : 0xFF;
}

CommandBlock BuildReadAudio(DWORD readMode, DWORD lba, DWORD count, BYTE* buffer) noexcept {
    const DWORD bytes = count * kSectorBytes;
    if (IsReadCdMode(readMode)) {
        CommandBlock block = Block(12, platform::mmc::kReadCd, buffer, bytes, kDirectionIn);
        block.cdb[1] = static_cast<BYTE>(readMode >> 8);
        platform::WriteBe32(block.cdb.data() + 2, lba);
        platform::WriteBe24(block.cdb.data() + 6, count);
        block.cdb[9] = static_cast<BYTE>(readMode);
        return block;
    }
    if (readMode == kReadModeVendorD8) {
        CommandBlock block = Block(12, static_cast<BYTE>(readMode >> 16), buffer, bytes, kDirectionIn);
        block.cdb[1] = static_cast<BYTE>(readMode >> 8);
        platform::WriteBe32(block.cdb.data() + 2, lba);
        platform::WriteBe16(block.cdb.data() + 8, count);
        return block;
    }
    CommandBlock block = Block(10, static_cast<BYTE>(readMode >> 16), buffer, bytes, kDirectionIn);
    block.cdb[1] = static_cast<BYTE>(readMode >> 8);
    platform::WriteBe24(block.cdb.data() + 3, lba);
    block.cdb[8] = static_cast<BYTE>(count);
    return block;
}

std::size_t ModePageOffset(const BYTE* reply, bool tenByte) noexcept {
    return tenByte ? 8 + std::size_t{platform::ReadBe16(reply + 6)} : 4 + static_cast<std::size_t>(reply[3]);
}

TocAnswer ParseToc(const BYTE* reply) noexcept {
    TocAnswer answer;
    answer.first = reply[2];
    answer.last = reply[3];
    answer.adrControl = reply[5];
    answer.lba = platform::ReadBe32(reply + 8);
    return answer;
}

FullTocAnswer ParseFullToc(const BYTE* reply, std::size_t size) noexcept {
    FullTocAnswer answer;
    if (size < 4) {
        return answer;
    }
    answer.firstSession = reply[2];
    answer.lastSession = reply[3];
    // The data length counts the bytes after itself; never walk past what was transferred.
    std::size_t end = 2 + std::size_t{platform::ReadBe16(reply + 0)};
    if (end > size) {
        end = size;
    }
    bool first = false, last = false, leadOut = false, track1 = false;
    for (std::size_t at = 4; at + 11 <= end; at += 11) {
        const BYTE* d = reply + at;
        if (d[0] != 1) {
            continue;
        }
        switch (d[3]) {
        case 0xA0:
            answer.firstTrack = d[8];
            first = true;
            break;
        case 0xA1:
            answer.lastTrack = d[8];
            last = true;
            break;
        case 0xA2:
            std::memcpy(answer.leadOut, d + 8, 3);
            leadOut = true;
            break;
        case 0x01:
            std::memcpy(answer.track1, d + 8, 3);
            track1 = true;
            break;
        default:
            break;
        }
    }
    answer.complete = first && last && leadOut && track1;
    return answer;
}

int MapSense(const BYTE* sense) noexcept {
    const int key = sense[2] & 0x0F;
    const int asc = sense[12];
    const int ascq = sense[13];
    struct Row {
        int key, asc, ascq; // ascq -1: any
        int result;
    };
    static constexpr Row kRows[] = {
        {2, 0x04, -1, 509},   {2, 0x3A, -1, 510},      {2, 0x53, -1, 511},      {3, 0x02, -1, 512},
        {5, 0x00, 0x11, 521}, {5, 0x1A, 0x00, 527},    {5, 0x20, 0x00, 526},    {5, 0x24, 0x00, 519},
        {5, 0x26, 0x00, 520}, {5, 0x2C, -1, 514},      {5, 0x30, -1, 513},      {5, 0x64, 0x00, 525},
        {5, 0x6F, 0x01, 515}, {5, 0xBF, 0x00, 528},    {6, 0x28, 0x00, 522},    {6, 0x29, 0x00, 523},
        {6, 0x2A, 0x01, 524}, {0x0B, 0xB9, 0x00, 529}, {0x0B, 0xBF, 0x00, 528},
    };
    for (const Row& row : kRows) {
        if (row.key == key && row.asc == asc && (row.ascq < 0 || row.ascq == ascq)) {
            return row.result;
        }
    }
    return 500 + ((key * 256 + asc) * 256 + ascq);
}

} // namespace discpilot
