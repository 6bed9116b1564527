#include "Platform/Paths.h"

#include "TestKit/Environment.h"
#include "TestKit/Scratch.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace platform {
namespace {

namespace fs = std::filesystem;

// Each test sets the variables the folders depend on; the guard puts back what was there before.
class PathsTest : public ::testing::Test {
protected:
    testkit::EnvironmentGuard environment_;
};

TEST_F(PathsTest, AbsoluteXdgVariablesWinElseHomeIsUsed) {
    environment_.Set("HOME", "/home/listener");
    environment_.Set("XDG_DATA_HOME", "/srv/data");
    environment_.Set("XDG_CONFIG_HOME", "/srv/config");
    EXPECT_EQ(AppDataDir(), fs::path("/srv/data"));
    EXPECT_EQ(ConfigDir(), fs::path("/srv/config"));
    environment_.Unset("XDG_DATA_HOME");
    environment_.Set("XDG_CONFIG_HOME", "relative/config"); // would land under the working folder: ignored
    EXPECT_EQ(AppDataDir(), fs::path("/home/listener/.local/share"));
    EXPECT_EQ(ConfigDir(), fs::path("/home/listener/.config"));
}

TEST_F(PathsTest, MissingOrRelativeHomeFallsBackToTheUserDatabase) {
    const passwd* entry = getpwuid(getuid());
    if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] != '/') {
        GTEST_SKIP() << "this user has no home folder in the user database";
    }
    const fs::path home(entry->pw_dir);
    environment_.Unset("XDG_DATA_HOME");
    environment_.Unset("XDG_CONFIG_HOME");
    environment_.Unset("HOME");
    EXPECT_EQ(AppDataDir(), home / ".local/share");
    EXPECT_EQ(ConfigDir(), home / ".config");
    environment_.Set("HOME", "not/absolute");
    EXPECT_EQ(AppDataDir(), home / ".local/share")
        << "a relative HOME would put data under the working folder";
}

TEST(ProgramPathTest, NamesThisTestProgram) {
    const fs::path path = ProgramPath();
    EXPECT_TRUE(path.is_absolute());
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_EQ(path.filename(), fs::path(program_invocation_short_name));
    EXPECT_EQ(ProgramDir(), path.parent_path());
}

// Where a program finds its data, in trees laid out in a fresh temporary folder.
TEST(ProgramDataDirTest, SharedFolderOfAnInstalledProgramElseTheProgramsOwn) {
    struct Case {
        const char* what;
        std::vector<const char*> folders; // made under the temporary root
        const char* program;              // relative to the root
        const char* expected;             // relative to the root
        const char* file = nullptr;       // a plain file made under the root, if any
    };
    const Case cases[] = {
        {"installed under a prefix",
         {"usr/bin", "usr/share/quellwave"},
         "usr/bin/quellwave",
         "usr/share/quellwave"},
        {"build tree: no shared folder", {"build/bin"}, "build/bin/quellwave", "build/bin"},
        {"another program's shared folder only", {"p/bin", "p/share/other"}, "p/bin/quellwave", "p/bin"},
        {"not in a bin folder", {"opt/q", "opt/share/quellwave"}, "opt/q/quellwave", "opt/q"},
        {"shared name is a file, not a folder",
         {"p/bin", "p/share"},
         "p/bin/quellwave",
         "p/bin",
         "p/share/quellwave"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const testkit::ScratchFolder scratch("datadir");
        const fs::path& root = scratch.Path();
        for (const char* folder : c.folders) {
            fs::create_directories(root / folder);
        }
        if (c.file != nullptr) {
            scratch.Put(c.file);
        }
        EXPECT_EQ(ProgramDataDirFor(root / c.program), root / c.expected);
    }
    EXPECT_EQ(ProgramDataDirFor({}), fs::path());
    EXPECT_EQ(ProgramDataDir(), ProgramDir()) << "a test program has no shared folder";
}

} // namespace
} // namespace platform
