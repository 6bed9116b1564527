#include "drives/DriveInquiry.h"

#include "Platform/ByteOrder.h"
#include "Platform/Text.h"

#include <cctype>
#include <cstring>

namespace discpilot {

namespace {

void CopyBytes(char* field, std::size_t size, const BYTE* from, std::size_t count) noexcept {
    const std::size_t n = count < size - 1 ? count : size - 1;
    std::memcpy(field, from, n);
    field[n] = '\0';
}

// A stored field may lack its terminator (a damaged value): never read past the field.
void CopyTerminated(char* field, std::size_t size, const BYTE* from) noexcept {
    std::size_t n = 0;
    while (n < size - 1 && from[n] != 0) {
        ++n;
    }
    CopyBytes(field, size, from, n);
}

} // namespace

DriveInquiry ParseInquiry(const BYTE* reply) noexcept {
    DriveInquiry inquiry;
    std::memcpy(inquiry.raw.data(), reply, inquiry.raw.size());
    inquiry.removable = (reply[1] & 0x80) != 0 ? 1 : 0;
    CopyBytes(inquiry.vendor, sizeof inquiry.vendor, reply + 8, 8);
    CopyBytes(inquiry.product, sizeof inquiry.product, reply + 16, 16);
    CopyBytes(inquiry.revision, sizeof inquiry.revision, reply + 32, 4);
    return inquiry;
}

void CopyField(char* field, std::size_t size, const std::string& text) noexcept {
    CopyBytes(field, size, reinterpret_cast<const BYTE*>(text.data()), text.size());
}

std::array<BYTE, kDriveIdentityBytes> DriveIdentity::Pack() const noexcept {
    std::array<BYTE, kDriveIdentityBytes> out{};
    out[0] = letter;
    out[1] = target;
    out[2] = hostAdapter;
    platform::WriteLe32(out.data() + 4, static_cast<DWORD>(removable));
    std::memcpy(out.data() + 8, vendor, sizeof vendor);
    std::memcpy(out.data() + 17, product, sizeof product);
    std::memcpy(out.data() + 34, revision, sizeof revision);
    out[16] = out[33] = out[38] = out[39] = 0;
    return out;
}

DriveIdentity DriveIdentity::Unpack(const std::array<BYTE, kDriveIdentityBytes>& bytes) noexcept {
    DriveIdentity identity;
    identity.letter = bytes[0];
    identity.target = bytes[1];
    identity.hostAdapter = bytes[2];
    identity.removable = static_cast<LONG>(platform::ReadLe32(bytes.data() + 4));
    CopyTerminated(identity.vendor, sizeof identity.vendor, bytes.data() + 8);
    CopyTerminated(identity.product, sizeof identity.product, bytes.data() + 17);
    CopyTerminated(identity.revision, sizeof identity.revision, bytes.data() + 34);
    return identity;
}

std::string DriveIdentity::ModelName() const {
    return platform::Latin1ToUtf8(std::string(vendor) + product + revision);
}

bool DriveIdentity::SameDrive(const DriveIdentity& other) const noexcept {
    return std::toupper(letter) == std::toupper(other.letter) && target == other.target &&
           hostAdapter == other.hostAdapter && removable == other.removable &&
           std::strcmp(vendor, other.vendor) == 0 && std::strcmp(product, other.product) == 0 &&
           std::strcmp(revision, other.revision) == 0;
}

DriveIdentity MakeIdentity(char letter, int hostAdapter, int target, const DriveInquiry& inquiry) noexcept {
    DriveIdentity identity;
    identity.letter = static_cast<BYTE>(letter);
    identity.target = static_cast<BYTE>(target);
    identity.hostAdapter = static_cast<BYTE>(hostAdapter);
    identity.removable = inquiry.removable;
    std::memcpy(identity.vendor, inquiry.vendor, sizeof identity.vendor);
    std::memcpy(identity.product, inquiry.product, sizeof identity.product);
    std::memcpy(identity.revision, inquiry.revision, sizeof identity.revision);
    return identity;
}

} // namespace discpilot
