// The install check against the built tree, an empty folder and copies of the tree with one file spoiled.
#include "AppTestSupport.h"
#include "TestKit/Bytes.h"

#include "app/InstallCheck.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Missing(const std::vector<app::InstallItem>& items) {
    std::vector<std::string> missing;
    for (const app::InstallItem& item : items)
        if (!item.found)
            missing.push_back(item.what + " " + item.path.filename().string());
    return missing;
}

TEST(InstallCheckTest, BuiltTreeHasEverythingAndAnEmptyFolderNothing) {
    const auto built = app::CheckInstall(QW_PROGRAM_DIR, "quellwave");
    EXPECT_TRUE(Missing(built).empty()) << testing::PrintToString(Missing(built));
    EXPECT_EQ(app::ReportInstall(built), 0);
    // One resource module, at least one skin, the seven dial images, the help page and the version.
    EXPECT_GE(built.size(), 11u);

    testkit::ScratchFolder empty;
    const auto none = app::CheckInstall(empty.Path(), "quellwave");
    EXPECT_EQ(Missing(none).size(), none.size()) << "nothing can be found in an empty folder";
    EXPECT_EQ(app::ReportInstall(none), 1);
}

TEST(InstallCheckTest, EachSpoiledFileIsTheOneReported) {
    struct Case {
        const char* file;     // relative to the tree
        const char* contents; // what replaces it; nullptr removes it
        const char* missing;
    };
    const Case cases[] = {
        {"QuellwaveRes.rcc", "not a resource file", "resource module QuellwaveRes.rcc"},
        {"skin/Graphite.rcc", "not a resource file", "skin Graphite.rcc"},
        {"skin/Graphite.rcc", nullptr, "skin skin"},
        {"Data/Image/mojiban.png", "not a picture", "dial image mojiban.png"},
        {"quellwave.html", "", "help page quellwave.html"},
        {"Version.txt", nullptr, "version Version.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        testkit::ScratchFolder tree;
        fs::copy(QW_PROGRAM_DIR, tree.Path(), fs::copy_options::recursive);
        fs::remove(tree.Path() / "quellwave"); // the program itself is not needed
        if (c.contents == nullptr) {
            fs::remove(tree.Path() / c.file);
        } else {
            ASSERT_TRUE(testkit::WriteText(tree.Path() / c.file, c.contents));
        }
        EXPECT_EQ(Missing(app::CheckInstall(tree.Path(), "quellwave")), std::vector<std::string>{c.missing});
    }
}

} // namespace
} // namespace apptest
