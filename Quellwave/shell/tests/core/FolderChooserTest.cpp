// The folder chooser's rules, with a browser that answers as the listener would.
#include "shell/FolderChooser.h"
#include "TestKit/Bytes.h"
#include "TestKit/Scratch.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

class ScriptedBrowser final : public FolderBrowser {
public:
    std::optional<std::string> Browse(const Request& request) override {
        seen = request;
        return answer;
    }
    std::optional<std::string> answer;
    Request seen;
};

TEST(FolderChooser, WhichFoldersMayBeChosen) {
    testkit::ScratchFolder root;
    root.Put("file.wav");
    std::filesystem::create_directories(root / "Music/Album");
    std::filesystem::create_directory_symlink(root / "Music", root / "link");
    struct Case {
        std::string path;
        bool choosable;
    };
    const Case cases[] = {
        {(root / "Music/Album").string(), true},
        {(root / "link").string(), true},
        {root.Path().string() + "/Music/", true},
        {"/", true},
        {(root / "file.wav").string(), false},
        {(root / "missing").string(), false},
        {"", false},
        {(root / "Music/*").string(), false},
        {(root / "Music/a?").string(), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsChoosableFolder(c.path), c.choosable) << c.path;
    }
}

TEST(FolderChooser, FoldersOffTheFixedDisksAreRefused) {
    // A RAM disk is local but not a disk that stays; the other kinds (removable, optical, network, FUSE)
    // are told apart by the same drive-type rule, whose table the platform tests cover.
    if (!std::filesystem::is_directory("/dev/shm"))
        GTEST_SKIP() << "no /dev/shm here";
    const std::filesystem::path folder =
        std::filesystem::path("/dev/shm") / ("qw-chooser-" + std::to_string(::getpid()));
    std::filesystem::create_directory(folder);
    EXPECT_FALSE(IsChoosableFolder(folder.string()));
    EXPECT_FALSE(IsChoosableFolder("/dev/shm"));
    std::filesystem::remove(folder);
}

TEST(FolderChooser, ChoiceIsCheckedAndCancelLeavesTheBufferAlone) {
    testkit::ScratchFolder root;
    std::filesystem::create_directory(root / "Music");
    ScriptedBrowser browser;
    std::string folder = "unchanged";

    EXPECT_FALSE(ChooseFolder(browser, &folder, false, "/start", "Caption", "Title"));
    EXPECT_EQ(folder, "unchanged");
    EXPECT_FALSE(browser.seen.allowNewFolder);
    EXPECT_EQ(browser.seen.initialFolder, "/start");
    EXPECT_EQ(browser.seen.caption, "Caption");
    EXPECT_EQ(browser.seen.title, "Title");
    ASSERT_TRUE(browser.seen.canChoose);
    EXPECT_TRUE(browser.seen.canChoose((root / "Music").string()));
    EXPECT_FALSE(browser.seen.canChoose((root / "nothing").string()));

    browser.answer = (root / "gone").string(); // typed by hand, never existed
    EXPECT_FALSE(ChooseFolder(browser, &folder, true, "", "", ""));
    EXPECT_EQ(folder, "unchanged");
    EXPECT_TRUE(browser.seen.allowNewFolder);

    browser.answer = (root / "Music").string();
    EXPECT_TRUE(ChooseFolder(browser, &folder, true, "", "", ""));
    EXPECT_EQ(folder, (root / "Music").string());
}

} // namespace
