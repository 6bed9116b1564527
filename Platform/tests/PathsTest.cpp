#include "Platform/Paths.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include <pwd.h>
#include <unistd.h>

namespace platform {
namespace {

namespace fs = std::filesystem;

// Sets the variables the folders depend on and puts back what was there before.
class PathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (std::size_t i = 0; i < std::size(kVariables); ++i) {
            if (const char* value = std::getenv(kVariables[i])) {
                saved_[i] = value;
            }
        }
    }

    void TearDown() override {
        for (std::size_t i = 0; i < std::size(kVariables); ++i) {
            saved_[i] ? setenv(kVariables[i], saved_[i]->c_str(), 1) : unsetenv(kVariables[i]);
        }
    }

    static constexpr const char* kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"};
    std::optional<std::string> saved_[std::size(kVariables)];
};

TEST_F(PathsTest, AbsoluteXdgVariablesWinElseHomeIsUsed) {
    setenv("HOME", "/home/listener", 1);
    setenv("XDG_DATA_HOME", "/srv/data", 1);
    setenv("XDG_CONFIG_HOME", "/srv/config", 1);
    EXPECT_EQ(AppDataDir(), fs::path("/srv/data"));
    EXPECT_EQ(ConfigDir(), fs::path("/srv/config"));
    unsetenv("XDG_DATA_HOME");
    setenv("XDG_CONFIG_HOME", "relative/config", 1); // would land under the working folder: ignored
    EXPECT_EQ(AppDataDir(), fs::path("/home/listener/.local/share"));
    EXPECT_EQ(ConfigDir(), fs::path("/home/listener/.config"));
}

TEST_F(PathsTest, MissingOrRelativeHomeFallsBackToTheUserDatabase) {
    const passwd* entry = getpwuid(getuid());
    if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] != '/') {
        GTEST_SKIP() << "this user has no home folder in the user database";
    }
    const fs::path home(entry->pw_dir);
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("HOME");
    EXPECT_EQ(AppDataDir(), home / ".local/share");
    EXPECT_EQ(ConfigDir(), home / ".config");
    setenv("HOME", "not/absolute", 1);
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

} // namespace
} // namespace platform
