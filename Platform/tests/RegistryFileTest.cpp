// The .reg text format on its own: what the parser accepts, where it reports damage, and that what the
// writer produces reads back unchanged.
#include "../src/RegFile.h"

#include "TestKit/Bytes.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace platform::reg;

namespace {

std::string Header(std::string_view body) {
    return std::string(kHeader) + "\n\n" + std::string(body);
}

const Key* Find(const Document& doc, std::string_view root, std::initializer_list<std::string_view> path) {
    const Key* key = doc.FindRoot(root);
    for (const auto name : path) {
        key = key == nullptr ? nullptr : key->FindSubKey(name);
    }
    return key;
}

std::vector<BYTE> Bytes(std::initializer_list<int> values) {
    std::vector<BYTE> out;
    for (const int v : values) {
        out.push_back(static_cast<BYTE>(v));
    }
    return out;
}

} // namespace

struct DamageCase {
    const char* what;
    std::string text;
    std::size_t line;
};

class RegFileDamageTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(RegFileDamageTest, IsReportedAtItsLine) {
    Document doc;
    ParseError error;
    EXPECT_FALSE(ParseDocument(GetParam().text, doc, error)) << GetParam().what;
    EXPECT_EQ(error.line, GetParam().line) << GetParam().what << ": " << error.reason;
    EXPECT_FALSE(error.reason.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegFileDamageTest,
    ::testing::Values(DamageCase{"empty file", "", 1}, DamageCase{"no header", "[HKEY_CURRENT_USER\\A]\n", 1},
                      DamageCase{"old header", "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n", 1},
                      DamageCase{"value before section", Header("\"a\"=dword:00000001\n"), 3},
                      DamageCase{"bad hex digit", Header("[HKEY_CURRENT_USER\\A]\n\"a\"=hex:0g\n"), 4},
                      DamageCase{"three-digit byte", Header("[HKEY_CURRENT_USER\\A]\n\"a\"=hex:123\n"), 4},
                      DamageCase{"empty byte", Header("[HKEY_CURRENT_USER\\A]\n\"a\"=hex:01,,02\n"), 4},
                      DamageCase{"bad escape", Header("[HKEY_CURRENT_USER\\A]\n\"a\"=\"x\\n\"\n"), 4},
                      DamageCase{"unterminated", Header("[HKEY_CURRENT_USER\\A]\n\"a\"=\"x\n"), 4},
                      DamageCase{"junk after string", Header("[HKEY_CURRENT_USER\\A]\n\"a\"=\"x\"y\n"), 4},
                      DamageCase{"dword too long", Header("[HKEY_CURRENT_USER\\A]\n\"a\"=dword:123456789\n"),
                                 4},
                      DamageCase{"unknown data", Header("[HKEY_CURRENT_USER\\A]\n\"a\"=qword:1\n"), 4},
                      DamageCase{"unknown root", Header("[HKEY_NOWHERE\\A]\n"), 3},
                      DamageCase{"empty key name", Header("[HKEY_CURRENT_USER\\A\\\\B]\n"), 3},
                      DamageCase{"open section", Header("[HKEY_CURRENT_USER\\A\n"), 3},
                      DamageCase{"stray text", Header("[HKEY_CURRENT_USER\\A]\nhello\n"), 4}));

TEST(RegFileTest, AnOldFormatFileSaysThatFormatIsNotSupported) {
    Document doc;
    ParseError error;
    for (const char* text : {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n", "REGEDIT4\r\n"}) {
        EXPECT_FALSE(ParseDocument(text, doc, error));
        EXPECT_NE(error.reason.find("REGEDIT4 files are not supported"), std::string::npos) << error.reason;
    }
}

TEST(RegFileTest, Utf16WithUnpairedSurrogateIsDamagedAtItsLine) {
    std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"a\"=\"x";
    text.push_back(0xD800);
    text += u"\"\r\n";
    const testkit::Bytes units = testkit::Utf16Le(u"\uFEFF" + text);
    std::string bytes(units.begin(), units.end());
    Document doc;
    ParseError error;
    EXPECT_FALSE(ParseDocument(bytes, doc, error));
    EXPECT_EQ(error.line, 4u);
    bytes.push_back('x'); // odd length
    EXPECT_FALSE(ParseDocument(bytes, doc, error));
}

TEST(RegFileTest, InputAboveTheSizeCapIsDamagedWithoutBeingParsed) {
    const std::string text = Header("[HKEY_CURRENT_USER\\A]\n");
    Document doc;
    ParseError error;
    EXPECT_TRUE(ParseDocument(text, doc, error, text.size()));
    Document other;
    EXPECT_FALSE(ParseDocument(text, other, error, text.size() - 1));
}

TEST(RegFileTest, KeyPathsDeeperThanTheLimitAreDamage) {
    std::string path = "HKEY_CURRENT_USER";
    for (std::size_t i = 0; i <= kMaxKeyDepth; ++i) {
        path += "\\k";
    }
    Document doc;
    ParseError error;
    EXPECT_FALSE(ParseDocument(Header("[" + path + "]\n"), doc, error));
}

TEST(RegFileTest, ReadsLenientlyWhatTheEditorAccepts) {
    const std::string text = Header("; a comment\n"
                                    "\n"
                                    "  [hkey_current_user\\Software\\Orva]  \n"
                                    "\"Name\" = \"v\"\t\n"
                                    "\"Count\"=DWORD:2A\n"
                                    "\"Bin\"=hex:01, 02,\\\n"
                                    "      03 ,04\n"
                                    "\"Tail\"=hex:05,\\\n");
    Document doc;
    ParseError error;
    ASSERT_TRUE(ParseDocument(text, doc, error)) << error.line << " " << error.reason;
    const Key* key = Find(doc, "HKEY_CURRENT_USER", {"SOFTWARE", "orva"});
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->FindValue("name")->data, Bytes({'v', 0}));
    EXPECT_EQ(key->FindValue("Count")->data, Bytes({0x2a, 0, 0, 0}));
    EXPECT_EQ(key->FindValue("Bin")->data, Bytes({1, 2, 3, 4}));
    EXPECT_EQ(key->FindValue("Tail")->data, Bytes({5}));
}

TEST(RegFileTest, SectionImpliesItsParentsAndDeletionLinesApply) {
    const std::string text =
        Header("[HKEY_CURRENT_USER\\A\\B\\C]\n\"x\"=dword:00000001\n\"y\"=dword:00000002\n\n"
               "[HKEY_CURRENT_USER\\A\\D]\n\n"
               "[HKEY_CURRENT_USER\\A\\B\\C]\n\"x\"=-\n\n"
               "[-HKEY_CURRENT_USER\\A\\D]\n\"ignored\"=dword:00000003\n\n"
               "[-HKEY_CURRENT_USER\\Missing\\Key]\n");
    Document doc;
    ParseError error;
    ASSERT_TRUE(ParseDocument(text, doc, error)) << error.reason;
    const Key* a = Find(doc, "HKEY_CURRENT_USER", {"A"});
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->SubKeys().size(), 1u);
    EXPECT_EQ(a->SubKeys()[0]->Name(), "B");
    const Key* c = Find(doc, "HKEY_CURRENT_USER", {"A", "B", "C"});
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->FindValue("x"), nullptr);
    EXPECT_NE(c->FindValue("y"), nullptr);
}

class RegFileRoundTripTest : public ::testing::Test {
protected:
    // Builds a document with every kind of value, writes it, parses it back and compares.
    void ExpectRoundTrip(const Document& doc) {
        const std::string text = WriteDocument(doc);
        Document back;
        ParseError error;
        ASSERT_TRUE(ParseDocument(text, back, error)) << error.line << ": " << error.reason << "\n" << text;
        EXPECT_TRUE(Equal(doc, back)) << text;
        written_ = text;
    }
    std::string written_;
};

TEST_F(RegFileRoundTripTest, EveryValueShapeSurvivesWriteAndRead) {
    Document doc;
    Key& key = doc.GetRoot("HKEY_CURRENT_USER").CreateSubKey("Soft \"quoted\" ]key[").CreateSubKey("Ünï");
    key.SetValue("", 1, Bytes({'u', 0}));
    key.SetValue("dword", 4, Bytes({0x2a, 0, 0, 0x80}));
    key.SetValue("short dword", 4, Bytes({1, 2}));
    key.SetValue("quote\"and\\slash", 1, Bytes({'"', 0, '\\', 0, 'x', 0}));
    key.SetValue("terminated", 1, Bytes({'a', 0, 0, 0}));
    key.SetValue("odd", 1, Bytes({'a', 0, 'b'}));
    key.SetValue("newline", 1, Bytes({'a', 0, '\n', 0}));
    key.SetValue("surrogate", 1, Bytes({0x00, 0xD8, 'a', 0}));
    key.SetValue("clef", 1, Bytes({0x34, 0xD8, 0x1E, 0xDD}));
    key.SetValue("empty bin", 3, {});
    std::vector<BYTE> big(200);
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<BYTE>(i * 7);
    }
    key.SetValue("big", 3, big);
    key.SetValue("expand", 2, Bytes({'%', 0, 'x', 0, '%', 0, 0, 0}));
    key.SetValue("multi", 7, Bytes({'a', 0, 0, 0, 0, 0}));
    key.SetValue("qword", 11, Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    key.SetValue("none", 0, Bytes({9}));
    key.SetValue("high type", 0x12345678, Bytes({1}));
    doc.GetRoot("HKEY_LOCAL_MACHINE").CreateSubKey("Other");
    ExpectRoundTrip(doc);

    EXPECT_NE(written_.find("\n@=\"u\"\n"), std::string::npos);
    EXPECT_NE(written_.find("\n\"dword\"=dword:8000002a\n"), std::string::npos);
    EXPECT_NE(written_.find("\n\"quote\\\"and\\\\slash\"=\"\\\"\\\\x\"\n"), std::string::npos);
    EXPECT_NE(written_.find("\n\"terminated\"=hex(1):61,00,00,00\n"), std::string::npos);
    EXPECT_NE(written_.find("\n\"empty bin\"=hex:\n"), std::string::npos);
    EXPECT_NE(written_.find("\n\"clef\"=\"\xF0\x9D\x84\x9E\"\n"), std::string::npos);
    EXPECT_NE(written_.find("\n\"multi\"=hex(7):61,00,00,00,00,00\n"), std::string::npos);
    EXPECT_NE(written_.find("\n\"qword\"=hex(b):01,02"), std::string::npos);
    // Long data wraps: every line at most 80 columns, continuation lines indented by two blanks.
    std::istringstream lines(written_);
    std::string line;
    int continued = 0;
    while (std::getline(lines, line)) {
        EXPECT_LE(line.size(), 80u) << line;
        continued += line.rfind("  ", 0) == 0 ? 1 : 0;
    }
    EXPECT_GE(continued, 2);
}

TEST_F(RegFileRoundTripTest, EveryKeyIsItsOwnSectionInCreationOrder) {
    Document doc;
    Key& root = doc.GetRoot("HKEY_CURRENT_USER");
    root.CreateSubKey("Zeta").CreateSubKey("Inner").CreateSubKey("Leaf").SetValue("v", 4,
                                                                                  Bytes({1, 0, 0, 0}));
    root.CreateSubKey("Alpha");
    ExpectRoundTrip(doc);
    const std::string expected = std::string(kHeader) +
                                 "\n\n[HKEY_CURRENT_USER\\Zeta]\n\n[HKEY_CURRENT_USER\\Zeta\\Inner]\n\n"
                                 "[HKEY_CURRENT_USER\\Zeta\\Inner\\Leaf]\n\"v\"=dword:00000001\n\n"
                                 "[HKEY_CURRENT_USER\\Alpha]\n\n";
    EXPECT_EQ(written_, expected);
}

TEST(RegFileKeyTest, LookupIgnoresCaseAndKeepsFirstSpellingAndOrder) {
    Key key("k");
    EXPECT_TRUE(key.SetValue("Beta", 4, Bytes({1, 0, 0, 0})));
    EXPECT_TRUE(key.SetValue("alpha", 4, Bytes({2, 0, 0, 0})));
    EXPECT_TRUE(key.SetValue("BETA", 4, Bytes({3, 0, 0, 0})));
    EXPECT_FALSE(key.SetValue("beta", 4, Bytes({3, 0, 0, 0}))); // unchanged
    ASSERT_EQ(key.Values().size(), 2u);
    EXPECT_EQ(key.Values()[0].name, "Beta");
    EXPECT_EQ(key.Values()[0].data, Bytes({3, 0, 0, 0}));
    EXPECT_TRUE(key.DeleteValue("BETA"));
    EXPECT_EQ(key.FindValue("ALPHA")->data, Bytes({2, 0, 0, 0})); // index repaired after the erase
    EXPECT_FALSE(key.DeleteValue("beta"));

    bool created = false;
    key.CreateSubKey("Sub", &created);
    EXPECT_TRUE(created);
    key.CreateSubKey("SUB", &created);
    EXPECT_FALSE(created);
    EXPECT_EQ(key.SubKeys().size(), 1u);
    EXPECT_TRUE(key.DeleteSubKey("sub"));
    EXPECT_EQ(key.FindSubKey("Sub"), nullptr);
}
