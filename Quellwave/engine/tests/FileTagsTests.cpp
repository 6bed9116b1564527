// Tags for the desktop: the ID3 tag of a DSF file in every version and text encoding a writer uses, damaged
// tags refused without reading past them, and every other file's tags through the PCM decoder.
#include "TestKit/DsdFiles.h"
#include "TestKit/PcmFiles.h"
#include "TestKit/Scratch.h"
#include "TestKit/Wav.h"
#include "engine/FileTags.h"

#include <gtest/gtest.h>

using engine::ParseId3Tag;
using engine::PcmTags;
using engine::ReadFileTags;

namespace {

using testkit::Bytes;

Bytes SyncSafe(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 21 & 0x7F), static_cast<std::uint8_t>(v >> 14 & 0x7F),
            static_cast<std::uint8_t>(v >> 7 & 0x7F), static_cast<std::uint8_t>(v & 0x7F)};
}

Bytes Be(std::uint32_t v, int n) {
    Bytes b;
    testkit::PutBe(b, v, n);
    return b;
}

// One frame of the version: id, size (sync-safe in 2.4), flags, body.
Bytes Frame(int version, const std::string& id, const Bytes& body, std::uint8_t formatFlags = 0) {
    Bytes f(id.begin(), id.end());
    const Bytes size = version == 2   ? Be(static_cast<std::uint32_t>(body.size()), 3)
                       : version == 4 ? SyncSafe(static_cast<std::uint32_t>(body.size()))
                                      : Be(static_cast<std::uint32_t>(body.size()), 4);
    f.insert(f.end(), size.begin(), size.end());
    if (version != 2)
        f.insert(f.end(), {0, formatFlags});
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

Bytes Text(std::uint8_t encoding, const Bytes& text) {
    Bytes b{encoding};
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

Bytes Utf8(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Tag(int version, const std::vector<Bytes>& frames, std::uint8_t flags = 0, std::size_t padding = 16) {
    Bytes body;
    for (const Bytes& f : frames)
        body.insert(body.end(), f.begin(), f.end());
    body.resize(body.size() + padding, 0);
    Bytes tag{'I', 'D', '3', static_cast<std::uint8_t>(version), 0, flags};
    const Bytes size = SyncSafe(static_cast<std::uint32_t>(body.size()));
    tag.insert(tag.end(), size.begin(), size.end());
    tag.insert(tag.end(), body.begin(), body.end());
    return tag;
}

TEST(Id3Tag, EveryVersionAndEncodingGivesTheTexts) {
    const Bytes utf16le{0xFF, 0xFE, 'L', 0, 'a', 0, 0xE9, 0, 0, 0}; // "Laé" with a byte-order mark
    const Bytes utf16be{0xFE, 0xFF, 0, 'A', 0, 0xD6, 0, 0};         // "AÖ" big-endian by its mark
    const struct {
        const char* name;
        Bytes tag;
        PcmTags expected;
    } cases[] = {
        {"2.3 latin-1",
         Tag(3, {Frame(3, "TIT2", Text(0, {'T', 0xEA, 't', 'e'})), Frame(3, "TPE1", Text(0, Utf8("Art"))),
                 Frame(3, "TALB", Text(0, Utf8("Alb")))}),
         {"T\xC3\xAAte", "Art", "Alb"}},
        {"2.3 utf-16",
         Tag(3, {Frame(3, "TIT2", Text(1, utf16le)), Frame(3, "TPE1", Text(1, utf16be))}),
         {"La\xC3\xA9", "A\xC3\x96", ""}},
        {"2.4 utf-8, sizes sync-safe",
         Tag(4, {Frame(4, "TALB", Text(3, Bytes(200, 'x'))), Frame(4, "TIT2", Text(3, Utf8("Ö")))}),
         {"Ö", "", std::string(200, 'x')}},
        {"2.4 utf-16be", Tag(4, {Frame(4, "TPE1", Text(2, {0, 'Z', 0, 'e'}))}), {"", "Ze", ""}},
        {"2.2",
         Tag(2, {Frame(2, "TT2", Text(0, Utf8("Old"))), Frame(2, "TP1", Text(0, Utf8("Them"))),
                 Frame(2, "TAL", Text(0, Utf8("LP")))}),
         {"Old", "Them", "LP"}},
        {"other frames skipped, first value of several",
         Tag(3, {Frame(3, "TXXX", Text(0, Utf8("x"))), Frame(3, "TIT2", Text(3, {'A', 0, 'B'}))}),
         {"A", "", ""}},
        {"a compressed frame is not read as text",
         Tag(3, {Frame(3, "TIT2", Text(0, Utf8("zip")), 0x80), Frame(3, "TPE1", Text(0, Utf8("ok")))}),
         {"", "ok", ""}},
        {"unsynchronised",
         Tag(3, {Frame(3, "TIT2", Text(0, {'a', 0xFF, 0x00, 'b'}))}, 0x80),
         {"a\xC3\xBF"
          "b",
          "", ""}},
    };
    for (const auto& c : cases) {
        PcmTags tags;
        EXPECT_TRUE(ParseId3Tag(c.tag.data(), c.tag.size(), &tags)) << c.name;
        EXPECT_EQ(tags.title, c.expected.title) << c.name;
        EXPECT_EQ(tags.artist, c.expected.artist) << c.name;
        EXPECT_EQ(tags.album, c.expected.album) << c.name;
    }
}

TEST(Id3Tag, DamagedTagsAreRefusedWithoutReadingPastThem) {
    const Bytes good = Tag(3, {Frame(3, "TIT2", Text(0, Utf8("Title")))}, 0, 0);
    Bytes frameTooLong = good;
    frameTooLong[10 + 7] = 0x7F; // the frame claims more bytes than the tag holds
    Bytes notSyncSafe = good;
    notSyncSafe[9] |= 0x80;
    Bytes badVersion = good;
    badVersion[3] = 5;
    Bytes extendedTooLong = good;
    extendedTooLong[5] = 0x40; // an extended header larger than the tag
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"frame past the end", frameTooLong},
        {"size not sync-safe", notSyncSafe},
        {"version 5", badVersion},
        {"extended header past the end", extendedTooLong},
        {"header cut", Bytes(good.begin(), good.begin() + 9)},
        {"not ID3", Utf8("TAG plus some bytes")},
        {"empty", {}},
    };
    for (const auto& [name, tag] : cases) {
        // A copy of exactly the tag's bytes on the heap, so reading past them shows under the sanitizers.
        std::vector<std::uint8_t> exact(tag.begin(), tag.end());
        PcmTags tags;
        EXPECT_FALSE(ParseId3Tag(exact.data(), exact.size(), &tags)) << name;
        EXPECT_TRUE(tags.title.empty()) << name;
    }
    // A tag cut inside its frames still gives the frames it holds whole.
    const Bytes two =
        Tag(3, {Frame(3, "TPE1", Text(0, Utf8("Who"))), Frame(3, "TIT2", Text(0, Utf8("What")))}, 0, 0);
    PcmTags cut;
    EXPECT_TRUE(ParseId3Tag(two.data(), two.size() - 2, &cut));
    EXPECT_EQ(cut.artist, "Who");
    EXPECT_EQ(cut.title, "");
}

TEST(FileTags, ADsfsTagIsFoundThroughItsHeaderAndOtherFilesThroughTheDecoder) {
    testkit::ScratchFolder dir;
    testkit::DsfShape shape;
    shape.channels = testkit::StereoPattern(4096, 1);
    Bytes dsf = testkit::BuildDsf(shape);
    const std::uint64_t at = dsf.size();
    const Bytes tag =
        Tag(4, {Frame(4, "TIT2", Text(3, Utf8("Spem in alium"))), Frame(4, "TPE1", Text(3, Utf8("Choir")))});
    dsf.insert(dsf.end(), tag.begin(), tag.end());
    for (int i = 0; i < 8; ++i)
        dsf[20 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(at >> (8 * i));
    testkit::WriteBytes(dir / "tagged.dsf", dsf);
    PcmTags tags;
    ASSERT_TRUE(ReadFileTags((dir / "tagged.dsf").c_str(), &tags));
    EXPECT_EQ(tags.title, "Spem in alium");
    EXPECT_EQ(tags.artist, "Choir");

    // A pointer past the end of the file, and none at all: no tags, no reading out of bounds.
    for (int i = 0; i < 8; ++i)
        dsf[20 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((at + 1000000) >> (8 * i));
    testkit::WriteBytes(dir / "beyond.dsf", dsf);
    const Bytes untagged = testkit::BuildDsf(shape);
    testkit::WriteBytes(dir / "untagged.dsf", untagged);
    for (const char* name : {"beyond.dsf", "untagged.dsf", "missing.dsf"}) {
        PcmTags none;
        EXPECT_FALSE(ReadFileTags((dir / name).c_str(), &none)) << name;
    }

    testkit::PcmShape flac;
    flac.seconds = 0.1;
    flac.title = "Track";
    flac.album = "Album";
    ASSERT_TRUE(testkit::WritePcm(dir / "tagged.flac", flac));
    PcmTags fromFlac;
    ASSERT_TRUE(ReadFileTags((dir / "tagged.flac").c_str(), &fromFlac));
    EXPECT_EQ(fromFlac.title, "Track");
    EXPECT_EQ(fromFlac.album, "Album");
    flac.title = flac.album = "";
    ASSERT_TRUE(testkit::WritePcm(dir / "plain.flac", flac));
    PcmTags plain;
    EXPECT_FALSE(ReadFileTags((dir / "plain.flac").c_str(), &plain));
}

} // namespace
