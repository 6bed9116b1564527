// Resources by id over real resource files built with rcc: the look-up chain, the skin choice with its
// stored name, broken files, the key colour and the scales.
#include "ModuleBuilder.h"

#include "shell/RccImage.h"
#include "shell/ResourceModules.h"
#include "shell/Settings.h"

#include "TestKit/Bytes.h"
#include "TestKit/Environment.h"
#include "TestKit/Scratch.h"

#include <gtest/gtest.h>

#include <QFile>

#include <vector>

namespace fs = std::filesystem;
using qwtest::BuildModule;
using qwtest::ModuleFiles;
using qwtest::SolidPng;

namespace {

QByteArray Text(const char* text) {
    return QByteArray(text);
}

QRgb PixelOf(const QImage& image) {
    return image.isNull() ? 0 : image.pixel(0, 0);
}

class ResourceModulesTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_ / "registry");
        fs::create_directories(dir_ / "skin");
    }

    static ModuleFiles Skin(const char* name, unsigned rgb) {
        return {{"strings/3000.txt", Text(name)}, {"bitmaps/4042.png", SolidPng(4, 4, rgb)}};
    }
    static std::string StoredSkinName() {
        std::string name = "<none>";
        ReadSkinName(&name);
        return name;
    }

    testkit::ScratchFolder scratch_{"res"};
    const fs::path& dir_ = scratch_.Path();
    testkit::EnvironmentGuard registry_{"QUELLWAVE_REGISTRY_DIR", (dir_ / "registry").string()};
};

TEST_F(ResourceModulesTest, LookUpGoesResourceModuleThenSkinThenProgram) {
    BuildModule(dir_ / "QuellwaveRes.rcc", {{"strings/260.txt", Text("No playable files")},
                                            {"strings/57344.txt", Text("Quellwave Player")},
                                            {"strings/3000.txt", Text("")},
                                            {"bitmaps/215.png", SolidPng(2, 2, 0x112233)}});
    BuildModule(dir_ / "skin" / "a.rcc", {{"strings/3000.txt", Text("Graphite")},
                                          {"strings/260.txt", Text("skin text")},
                                          {"strings/301.txt", Text("Close")},
                                          {"bitmaps/215.png", SolidPng(2, 2, 0x445566)},
                                          {"bitmaps/4042.png", SolidPng(2, 2, 0x778899)}});
    CResourceModules chain;
    EXPECT_EQ(chain.ApplicationTitle(), QStringLiteral("Quellwave"));
    ASSERT_TRUE(chain.LoadResourceModule(kStringResourceModule, dir_));
    ASSERT_TRUE(chain.ChooseSkin(dir_ / "skin"));

    struct Case {
        unsigned id;
        QString text;
    };
    for (const Case& c : std::vector<Case>{{260, "No playable files"}, // resource module over skin
                                           {301, "Close"},             // only in the skin
                                           {101, "About Quellwave…"},  // only in the program
                                           {3000, "Graphite"},         // empty string counts as missing
                                           {9999, ""}}) {
        EXPECT_EQ(chain.String(c.id), c.text) << c.id;
    }
    EXPECT_EQ(chain.ApplicationTitle(), QStringLiteral("Quellwave Player"));
    EXPECT_EQ(PixelOf(chain.BitmapUnkeyed(215)), 0xFF112233u);
    EXPECT_EQ(PixelOf(chain.BitmapUnkeyed(4042)), 0xFF778899u);
    EXPECT_TRUE(chain.Bitmap(4043).isNull());

    chain.ReleaseSkin();
    EXPECT_TRUE(chain.Bitmap(4042).isNull());
    EXPECT_EQ(chain.String(301), QString());
    chain.ReleaseResourceModule();
    EXPECT_EQ(chain.String(260), QString());
    EXPECT_EQ(chain.String(kStringResourceModule), QStringLiteral("QuellwaveRes.rcc"));
}

TEST_F(ResourceModulesTest, WithoutAResourceModuleOnlyTheProgramsOwnStringsLoad) {
    struct Case {
        const char* what;
        QByteArray bytes; // empty: no file at all
    };
    QByteArray damaged("qres\0\0\0\3", 8);
    damaged.append(40, '\xff');
    for (const Case& c : std::vector<Case>{{"missing", {}},
                                           {"not a resource file", "MZ this is something else"},
                                           {"damaged header", damaged}}) {
        SCOPED_TRACE(c.what);
        fs::remove(dir_ / "QuellwaveRes.rcc");
        if (!c.bytes.isEmpty()) {
            ASSERT_TRUE(testkit::WriteText(dir_ / "QuellwaveRes.rcc", c.bytes.toStdString()));
        }
        CResourceModules chain;
        EXPECT_FALSE(chain.LoadResourceModule(kStringResourceModule, dir_));
        EXPECT_EQ(chain.ResourceModule(), nullptr);
        EXPECT_EQ(chain.String(260), QString());
        EXPECT_EQ(chain.String(kStringAppTitle), QStringLiteral("Quellwave"));
        EXPECT_TRUE(chain.Bitmap(4042).isNull());
        EXPECT_TRUE(chain.Icon(9999).isNull());
        // An id whose string is empty names no module.
        EXPECT_FALSE(chain.LoadResourceModule(9999, dir_));
    }
}

TEST_F(ResourceModulesTest, LoadingAgainReplacesTheResourceModule) {
    BuildModule(dir_ / "QuellwaveRes.rcc",
                {{"strings/102.txt", Text("Other.rcc")}, {"strings/57344.txt", Text("First")}});
    BuildModule(dir_ / "Other.rcc", {{"strings/57344.txt", Text("Second")}});
    CResourceModules chain;
    ASSERT_TRUE(chain.LoadResourceModule(kStringResourceModule, dir_));
    EXPECT_EQ(chain.ApplicationTitle(), QStringLiteral("First"));
    // String 102 is now read from the loaded module, which names the other file.
    ASSERT_TRUE(chain.LoadResourceModule(kStringResourceModule, dir_));
    EXPECT_EQ(chain.ApplicationTitle(), QStringLiteral("Second"));
    EXPECT_EQ(chain.ResourceModule()->file(), dir_ / "Other.rcc");
    // A failed load leaves the module in place.
    fs::remove(dir_ / "QuellwaveRes.rcc");
    EXPECT_FALSE(chain.LoadResourceModule(kStringAppTitle, dir_));
    EXPECT_EQ(chain.String(kStringAppTitle), QStringLiteral("Second"));
}

TEST_F(ResourceModulesTest, SkinChoiceFollowsTheStoredNameAndFallsBack) {
    struct Case {
        const char* what;
        const char* stored; // nullptr: no SkinName stored
        QString chosen;     // empty: no skin
        std::string storedAfter;
    };
    const std::vector<Case> cases = {
        {"named skin", "Night", "Night", "Night"},
        {"case-only difference selects and keeps the stored spelling", "nIGHT", "Night", "nIGHT"},
        {"missing skin falls back to the first usable and is rewritten", "Gone", "Daylight", "Daylight"},
        {"no stored name takes the first usable", nullptr, "Daylight", "Daylight"},
        {"same display name twice: the first file wins", "Twin", "Twin", "Twin"},
    };
    // File order: b.rcc is not a skin, c.RCC is damaged, d.rcc is text, e..g are skins, h.txt is ignored.
    BuildModule(dir_ / "skin" / "b.rcc", {{"strings/260.txt", Text("no name")}});
    BuildModule(dir_ / "skin" / "c.RCC", Skin("Broken", 0x000001));
    fs::resize_file(dir_ / "skin" / "c.RCC", fs::file_size(dir_ / "skin" / "c.RCC") - 30);
    ASSERT_TRUE(testkit::WriteText(dir_ / "skin" / "d.rcc", "just text"));
    BuildModule(dir_ / "skin" / "e.rcc", Skin("Daylight", 0x000002));
    BuildModule(dir_ / "skin" / "f.rcc", Skin("Night", 0x000003));
    BuildModule(dir_ / "skin" / "g1.rcc", Skin("Twin", 0x000004));
    BuildModule(dir_ / "skin" / "g2.rcc", Skin("Twin", 0x000005));
    BuildModule(dir_ / "skin" / "h.txt", Skin("Hidden", 0x000006));

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir_ / "registry");
        fs::create_directories(dir_ / "registry");
        if (c.stored != nullptr) {
            ASSERT_TRUE(WriteSkinName(c.stored));
        }
        CResourceModules chain;
        EXPECT_EQ(chain.ChooseSkin(dir_ / "skin"), !c.chosen.isEmpty());
        EXPECT_EQ(chain.SkinName(), c.chosen);
        EXPECT_EQ(StoredSkinName(), c.storedAfter);
        if (c.chosen == "Twin") {
            EXPECT_EQ(chain.Skin()->file().filename(), "g1.rcc");
            EXPECT_EQ(PixelOf(chain.BitmapUnkeyed(4042)), 0xFF000004u);
        }
    }
}

// A name longer than SkinName can hold is cut as it is read, so the stored name selects it next time
// instead of falling back to another skin.
TEST_F(ResourceModulesTest, ALongSkinNameIsChosenAgainFromItsStoredForm) {
    const QByteArray longName(300, 'L');
    BuildModule(dir_ / "skin" / "a.rcc", Skin("Another", 0x000001));
    BuildModule(dir_ / "skin" / "b.rcc", {{"strings/3000.txt", longName}});
    ASSERT_TRUE(WriteSkinName(std::string(300, 'L'))); // stored cut to 259
    for (int start = 0; start < 2; ++start) {
        CResourceModules chain;
        ASSERT_TRUE(chain.ChooseSkin(dir_ / "skin"));
        EXPECT_EQ(chain.Skin()->file().filename(), "b.rcc") << "start " << start;
        EXPECT_EQ(chain.SkinName().size(), 259);
        EXPECT_EQ(StoredSkinName(), std::string(259, 'L'));
    }
}

TEST_F(ResourceModulesTest, NoUsableSkinLeavesTheChainWithoutOne) {
    BuildModule(dir_ / "skin" / "b.rcc", {{"strings/260.txt", Text("no name")}});
    ASSERT_TRUE(WriteSkinName("Night"));
    for (const fs::path& folder : {dir_ / "skin", dir_ / "absent"}) {
        CResourceModules chain;
        EXPECT_FALSE(chain.ChooseSkin(folder));
        EXPECT_EQ(chain.Skin(), nullptr);
        EXPECT_EQ(chain.SkinName(), QString());
        EXPECT_TRUE(chain.Bitmap(4042).isNull());
        EXPECT_EQ(StoredSkinName(), "Night");
    }
}

TEST_F(ResourceModulesTest, KeyColourBecomesTransparentOnlyWhereItIsExact) {
    QImage picture(3, 1, QImage::Format_RGB32);
    picture.setPixel(0, 0, 0xFFFF0080u); // the key colour
    picture.setPixel(1, 0, 0xFFFF0081u); // one step off: kept
    picture.setPixel(2, 0, 0xFF1C1E21u);
    BuildModule(dir_ / "skin" / "a.rcc",
                {{"strings/3000.txt", Text("Graphite")}, {"bitmaps/4036.png", qwtest::Png(picture)}});
    CResourceModules chain;
    ASSERT_TRUE(chain.ChooseSkin(dir_ / "skin"));
    const QImage keyed = chain.Bitmap(4036);
    ASSERT_EQ(keyed.size(), QSize(3, 1));
    EXPECT_EQ(qAlpha(keyed.pixel(0, 0)), 0);
    EXPECT_EQ(keyed.pixel(1, 0), 0xFFFF0081u);
    EXPECT_EQ(keyed.pixel(2, 0), 0xFF1C1E21u);
    EXPECT_EQ(chain.BitmapUnkeyed(4036).pixel(0, 0), 0xFFFF0080u);
}

TEST_F(ResourceModulesTest, ScalesFallBackWithinTheFirstModuleThatHasTheBitmap) {
    BuildModule(dir_ / "QuellwaveRes.rcc", {{"bitmaps/215.png", SolidPng(4, 4, 0x000001)}});
    BuildModule(dir_ / "skin" / "a.rcc", {{"strings/3000.txt", Text("Graphite")},
                                          {"bitmaps/215@2x.png", SolidPng(8, 8, 0x000002)},
                                          {"bitmaps/4042.png", SolidPng(4, 4, 0x000003)},
                                          {"bitmaps/4042@2x.png", SolidPng(8, 8, 0x000004)}});
    CResourceModules chain;
    ASSERT_TRUE(chain.LoadResourceModule(kStringResourceModule, dir_));
    ASSERT_TRUE(chain.ChooseSkin(dir_ / "skin"));
    struct Case {
        unsigned id;
        int asked;
        QRgb pixel;
        qreal ratio;
    };
    for (const Case& c : std::vector<Case>{{215, 2, 0xFF000001u, 1.0},
                                           {4042, 1, 0xFF000003u, 1.0},
                                           {4042, 2, 0xFF000004u, 2.0},
                                           {4042, 3, 0xFF000004u, 2.0},
                                           {4042, 0, 0xFF000003u, 1.0}}) {
        const QImage image = chain.Bitmap(c.id, c.asked);
        EXPECT_EQ(PixelOf(image), c.pixel) << c.id << " at " << c.asked;
        EXPECT_EQ(image.devicePixelRatio(), c.ratio) << c.id << " at " << c.asked;
    }
}

TEST_F(ResourceModulesTest, IconsCarryEverySizeTheModuleHolds) {
    BuildModule(dir_ / "QuellwaveRes.rcc", {{"icons/102/16.png", SolidPng(16, 16, 0x202020)},
                                            {"icons/102/48.png", SolidPng(48, 48, 0x404040)}});
    CResourceModules chain;
    ASSERT_TRUE(chain.LoadResourceModule(kStringResourceModule, dir_));
    const QIcon icon = chain.Icon(kIconProgram);
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(48, 48)));
    EXPECT_EQ(icon.pixmap(QSize(48, 48)).toImage().pixel(0, 0), 0xFF404040u);
}

// The check refuses every damaged variant of a real file and accepts the file itself.
TEST_F(ResourceModulesTest, DamagedResourceFilesAreRefused) {
    BuildModule(dir_ / "m.rcc", {{"strings/3000.txt", Text("Graphite")},
                                 {"bitmaps/4042.png", SolidPng(4, 4, 0x123456)},
                                 {"icons/102/16.png", SolidPng(16, 16, 0x202020)}});
    QFile file(QString::fromStdString((dir_ / "m.rcc").string()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    auto check = [](const QByteArray& bytes) {
        return rcc::CheckImage(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               static_cast<std::size_t>(bytes.size()));
    };
    ASSERT_EQ(check(good), rcc::ImageCheck::kOk);
    for (qsizetype cut = 0; cut < good.size(); ++cut) {
        ASSERT_NE(check(good.left(cut)), rcc::ImageCheck::kOk) << "cut at " << cut;
    }
    auto patched = [&](int at, std::uint32_t value) {
        QByteArray bytes = good;
        for (int i = 0; i < 4; ++i) {
            bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
        }
        return bytes;
    };
    const std::uint32_t tree = (std::uint8_t(good[8]) << 24) | (std::uint8_t(good[9]) << 16) |
                               (std::uint8_t(good[10]) << 8) | std::uint8_t(good[11]);
    struct Case {
        const char* what;
        QByteArray bytes;
        rcc::ImageCheck expected;
    };
    std::vector<Case> cases = {
        {"magic", patched(0, 0x71726573 + 1), rcc::ImageCheck::kBadMagic},
        {"version", patched(4, 7), rcc::ImageCheck::kBadVersion},
        {"format flags", patched(20, 0x100), rcc::ImageCheck::kBadFlags},
        {"tree past the end", patched(8, 0xFFFFFFF0), rcc::ImageCheck::kOutOfBounds},
        {"root's child count", patched(int(tree) + 6, 0x7FFFFFFF), rcc::ImageCheck::kOutOfBounds},
        {"root's children start at the root", patched(int(tree) + 10, 0), rcc::ImageCheck::kBadTree},
    };
    QByteArray slash = good;
    const QByteArray strings("\0s\0t\0r\0i\0n\0g\0s", 14);
    ASSERT_GE(slash.indexOf(strings), 0);
    slash[slash.indexOf(strings) + 1] = '/';
    cases.push_back({"a name with a slash", slash, rcc::ImageCheck::kBadName});
    QByteArray dot = good;
    // "strings" (7 units) becomes "." by its length and first unit.
    dot[dot.indexOf(strings) - 6] = 0;
    dot[dot.indexOf(strings) - 5] = 1;
    dot[dot.indexOf(strings) + 1] = '.';
    cases.push_back({"a name that is a dot", dot, rcc::ImageCheck::kBadName});
    for (const Case& c : cases) {
        EXPECT_EQ(check(c.bytes), c.expected) << c.what;
    }
}

// Qt allocates what a compressed block claims to unpack to before unpacking it; a damaged claim is
// refused instead of costing gigabytes.
TEST_F(ResourceModulesTest, CompressedBlocksClaimingHugeSizesAreRefused) {
    const QByteArray text(20000, 'a');
    auto check = [](const QByteArray& bytes) {
        return rcc::CheckImage(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               static_cast<std::size_t>(bytes.size()));
    };
    auto read = [&](const char* algorithm) {
        BuildModule(dir_ / "c.rcc", {{"strings/260.txt", text}},
                    {QStringLiteral("--compress-algo"), QString::fromLatin1(algorithm)});
        QFile file(QString::fromStdString((dir_ / "c.rcc").string()));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    };
    // zlib: the block starts with the unpacked size, 20000 = 0x4E20, before the stream's 0x78 header.
    QByteArray zlib = read("zlib");
    ASSERT_EQ(check(zlib), rcc::ImageCheck::kOk);
    const qsizetype claim = zlib.indexOf(QByteArray("\0\0\x4E\x20\x78", 5));
    ASSERT_GE(claim, 0);
    zlib.replace(claim, 4, QByteArray("\x7F\xFF\xFF\xFF", 4));
    EXPECT_EQ(check(zlib), rcc::ImageCheck::kTooLarge);

    // zstd: the frame header's content size, here made an 8-byte field of all ones.
    QByteArray zstd = read("zstd");
    ASSERT_EQ(check(zstd), rcc::ImageCheck::kOk);
    const qsizetype frame = zstd.indexOf(QByteArray("\x28\xB5\x2F\xFD", 4));
    if (frame < 0) {
        GTEST_SKIP() << "this rcc does not write zstd";
    }
    zstd[frame + 4] = char(0xE0); // single segment, 8-byte content size, no dictionary
    zstd.replace(frame + 5, 8, QByteArray(8, char(0xFF)));
    EXPECT_EQ(check(zstd), rcc::ImageCheck::kTooLarge);

    // The undamaged module unpacks in full.
    const auto module = CResourceModule::Load(dir_ / "c.rcc");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->String(260).size(), text.size());
}

} // namespace
