// The registry through its public interface: values and keys as callers see them, the files they land in,
// and several threads and processes changing one root at once.
#include "Platform/Registry.h"

#include "TestKit/Bytes.h"
#include "TestKit/Environment.h"
#include "TestKit/Scratch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

extern char** environ;

using namespace platform;
using ::testing::HasSubstr;

namespace {

constexpr const char* kChildVariable = "QW_REGISTRY_TEST_CHILD";
constexpr int kIncrements = 200;

using testkit::Utf16Le;

LONG SetDword(HKEY key, std::string_view name, DWORD value) {
    return RegSetValueEx(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG SetBytes(HKEY key, std::string_view name, DWORD type, const std::vector<BYTE>& data) {
    return RegSetValueEx(key, name, type, data.data(), static_cast<DWORD>(data.size()));
}

// The value's type and bytes, or an empty optional when the query fails.
std::optional<std::pair<DWORD, std::vector<BYTE>>> Query(HKEY key, std::string_view name) {
    DWORD size = 0;
    if (RegQueryValueEx(key, name, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<BYTE> data(size);
    DWORD type = 0;
    if (RegQueryValueEx(key, name, &type, data.data(), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    data.resize(size);
    return std::make_pair(type, data);
}

DWORD QueryDword(HKEY key, std::string_view name) {
    const auto value = Query(key, name);
    DWORD result = 0xFFFFFFFF;
    if (value && value->second.size() == 4) {
        std::memcpy(&result, value->second.data(), 4);
    }
    return result;
}

HKEY Create(HKEY root, std::string_view path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyEx(root, path, REG_OPTION_NON_VOLATILE, access, &key, nullptr), ERROR_SUCCESS);
    return key;
}

// Runs this test binary again as a child process for one RegistryChild test, with the given mode.
pid_t SpawnChild(const std::string& mode) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        env.emplace_back(*entry);
    }
    env.push_back(std::string(kChildVariable) + "=" + mode);
    std::vector<char*> envp;
    for (auto& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string exe = "/proc/self/exe";
    std::string filter = "--gtest_filter=RegistryChild.Run";
    char* argv[] = {exe.data(), filter.data(), nullptr};
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    return pid;
}

int WaitChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

const char* const kSettingsPath = "Software\\Orva Corporation\\Quellwave\\Settings";

// The value set that crosses processes and the file: every type and awkward string.
void WriteValueSet() {
    HKEY key = Create(HKEY_CURRENT_USER, kSettingsPath);
    EXPECT_EQ(SetDword(key, "DefaultMode", 42), ERROR_SUCCESS);
    EXPECT_EQ(
        SetBytes(key, "SkinName", REG_SZ, Utf16Le(u"Dunkel \"Nacht\" C:\\skins \u00e9\u043a\U0001D11E")),
        ERROR_SUCCESS);
    EXPECT_EQ(SetBytes(key, "", REG_SZ, Utf16Le(u"unnamed")), ERROR_SUCCESS);
    EXPECT_EQ(SetBytes(key, "Cdrom_Mode", REG_SZ, Utf16Le(std::u16string(u"RAW\0", 4))), ERROR_SUCCESS);
    EXPECT_EQ(SetBytes(key, "Empty", REG_BINARY, {}), ERROR_SUCCESS);
    std::vector<BYTE> big(100);
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<BYTE>(255 - i);
    }
    EXPECT_EQ(SetBytes(key, "Drive Info", REG_BINARY, big), ERROR_SUCCESS);
    EXPECT_EQ(SetBytes(key, "Multi", REG_MULTI_SZ, Utf16Le(std::u16string(u"a\0b\0\0", 5))), ERROR_SUCCESS);
    RegCloseKey(key);
}

void VerifyValueSet() {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kSettingsPath, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryDword(key, "defaultmode"), 42u);
    const auto skin = Query(key, "SkinName");
    ASSERT_TRUE(skin);
    EXPECT_EQ(skin->first, REG_SZ);
    EXPECT_EQ(skin->second, Utf16Le(u"Dunkel \"Nacht\" C:\\skins \u00e9\u043a\U0001D11E"));
    EXPECT_EQ(Query(key, "")->second, Utf16Le(u"unnamed"));
    EXPECT_EQ(Query(key, "Cdrom_Mode")->second, Utf16Le(std::u16string(u"RAW\0", 4)));
    EXPECT_EQ(Query(key, "Empty")->first, REG_BINARY);
    EXPECT_TRUE(Query(key, "Empty")->second.empty());
    EXPECT_EQ(Query(key, "Drive Info")->second.size(), 100u);
    EXPECT_EQ(Query(key, "Drive Info")->second[99], 255 - 99);
    EXPECT_EQ(Query(key, "Multi")->first, REG_MULTI_SZ);
    EXPECT_EQ(Query(key, "Multi")->second, Utf16Le(std::u16string(u"a\0b\0\0", 5)));
    RegCloseKey(key);
}

LONG IncrementCounter() {
    return RegWithLock(HKEY_CURRENT_USER, [] {
        HKEY key = nullptr;
        LONG status = RegCreateKeyEx(HKEY_CURRENT_USER, "Counter", 0, KEY_ALL_ACCESS, &key, nullptr);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        DWORD value = 0;
        DWORD size = sizeof value;
        if (RegQueryValueEx(key, "n", nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS) {
            value = 0;
        }
        status = SetDword(key, "n", value + 1);
        RegCloseKey(key);
        return status;
    });
}

} // namespace

// Each test gets its own registry folder (and only the registry's files in it); nothing touches the real
// configuration, and what a test changes in the environment is put back after it.
class RegistryTest : public ::testing::Test {
protected:
    std::filesystem::path UserFile() const { return dir_ / "user.reg"; }

    const testkit::ScratchFolder scratch_{"registry"};
    const std::filesystem::path dir_ = scratch_.Path();
    testkit::EnvironmentGuard environment_{"QUELLWAVE_REGISTRY_DIR", dir_.string()};
};

// Entry point of the child processes; skipped in an ordinary run.
TEST(RegistryChild, Run) {
    const char* mode = std::getenv(kChildVariable);
    if (mode == nullptr) {
        GTEST_SKIP() << "only runs as a child of another registry test";
    }
    const std::string m = mode;
    if (m == "write") {
        WriteValueSet();
    } else if (m == "verify") {
        VerifyValueSet();
    } else if (m == "count") {
        for (int i = 0; i < kIncrements; ++i) {
            ASSERT_EQ(IncrementCounter(), ERROR_SUCCESS);
        }
    } else if (m.rfind("distinct:", 0) == 0) {
        HKEY key = Create(HKEY_CURRENT_USER, "Distinct");
        for (int i = 0; i < kIncrements; ++i) {
            ASSERT_EQ(SetDword(key, m.substr(9) + std::to_string(i), static_cast<DWORD>(i)), ERROR_SUCCESS);
        }
        RegCloseKey(key);
    } else {
        FAIL() << "unknown child mode " << m;
    }
}

TEST_F(RegistryTest, ValuesCrossToAnotherProcessAndBack) {
    WriteValueSet();
    const pid_t reader = SpawnChild("verify");
    EXPECT_EQ(WaitChild(reader), 0);

    std::filesystem::remove(UserFile());
    const pid_t writer = SpawnChild("write");
    ASSERT_EQ(WaitChild(writer), 0);
    VerifyValueSet();

    const std::string text = testkit::ReadText(UserFile());
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n", 0), 0u);
    EXPECT_THAT(text, HasSubstr("[HKEY_CURRENT_USER\\Software]\n\n[HKEY_CURRENT_USER\\Software\\Orva "
                                "Corporation]\n"));
    EXPECT_THAT(text, HasSubstr("\n\"DefaultMode\"=dword:0000002a\n"));
    EXPECT_THAT(text, HasSubstr("\n\"SkinName\"=\"Dunkel \\\"Nacht\\\" C:\\\\skins \xC3\xA9\xD0\xBA"));
    EXPECT_THAT(text, HasSubstr("\n@=\"unnamed\"\n"));
    EXPECT_THAT(text, HasSubstr("\n\"Cdrom_Mode\"=hex(1):52,00,41,00,57,00,00,00\n"));
    EXPECT_THAT(text, HasSubstr("\n\"Empty\"=hex:\n"));
    EXPECT_THAT(text, HasSubstr(",\\\n  "));
}

TEST_F(RegistryTest, StringReadFromAFileHasNoTerminator) {
    testkit::WriteText(UserFile(), "Windows Registry Editor Version 5.00\n\n"
                                   "[HKEY_CURRENT_USER\\Software\\Orva Corporation\\Quellwave\\Settings]\n"
                                   "\"SkinName\"=\"abc\"\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kSettingsPath, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueEx(key, "SkinName", &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 6u);
    RegCloseKey(key);
}

TEST_F(RegistryTest, NamesMatchWithoutCaseAndKeepTheirSpelling) {
    HKEY key = Create(HKEY_CURRENT_USER, "Software\\\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87\\Caf\xC3\xA9");
    EXPECT_EQ(SetDword(key, "SkinName", 1), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, "SKINNAME", 2), ERROR_SUCCESS);
    RegCloseKey(key);

    HKEY upper = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "SOFTWARE\\\xD0\xBA\xD0\x9B\xD0\xAE\xD0\xA7\\CAF\xC3\x89",
                           KEY_READ, &upper),
              ERROR_SUCCESS);
    EXPECT_EQ(QueryDword(upper, "skinname"), 2u);
    DWORD values = 0;
    EXPECT_EQ(RegQueryInfoKey(upper, nullptr, nullptr, &values, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(values, 1u);
    RegCloseKey(upper);

    const std::string text = testkit::ReadText(UserFile());
    EXPECT_THAT(text,
                HasSubstr("[HKEY_CURRENT_USER\\Software\\\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87\\Caf\xC3\xA9]"));
    EXPECT_THAT(text, HasSubstr("\"SkinName\"=dword:00000002"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("SKINNAME")));
}

TEST_F(RegistryTest, CreateMakesTheWholeChainOnceAndOpenReportsMissingKeys) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "A\\B\\C", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "A\\B\\C", 0, KEY_WRITE, &key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "a\\b\\c\\", 0, KEY_WRITE, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);
    EXPECT_THAT(testkit::ReadText(UserFile()),
                HasSubstr("[HKEY_CURRENT_USER\\A]\n\n[HKEY_CURRENT_USER\\A\\B]\n\n"
                          "[HKEY_CURRENT_USER\\A\\B\\C]\n\n"));
}

TEST_F(RegistryTest, EnumerationKeepsCreationOrderAcrossRewritesAndProcesses) {
    HKEY key = Create(HKEY_CURRENT_USER, "Order");
    for (const char* name : {"zeta", "alpha", "mid"}) {
        ASSERT_EQ(SetDword(key, name, 1), ERROR_SUCCESS);
        RegCloseKey(Create(key, std::string("K") + name));
    }
    ASSERT_EQ(RegDeleteValue(key, "ALPHA"), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, "beta", 2), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, "zeta", 3), ERROR_SUCCESS); // replacing keeps the place
    ASSERT_EQ(RegDeleteKey(key, "kmid"), ERROR_SUCCESS);

    std::vector<std::string> names;
    std::string name;
    for (DWORD i = 0;; ++i) {
        DWORD chars = 256;
        const LONG status = RegEnumValue(key, i, &name, &chars, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        ASSERT_EQ(status, ERROR_SUCCESS);
        names.push_back(name);
    }
    EXPECT_THAT(names, ::testing::ElementsAre("zeta", "mid", "beta"));
    names.clear();
    for (DWORD i = 0; RegEnumKeyEx(key, i, &name, nullptr) == ERROR_SUCCESS; ++i) {
        names.push_back(name);
    }
    EXPECT_THAT(names, ::testing::ElementsAre("Kzeta", "Kalpha"));
    RegCloseKey(key);
    const std::string text = testkit::ReadText(UserFile());
    EXPECT_LT(text.find("\"zeta\""), text.find("\"mid\""));
    EXPECT_LT(text.find("\"mid\""), text.find("\"beta\""));
}

TEST_F(RegistryTest, DeletedKeysTakeTheirSubtreeAndStaleHandlesSaySo) {
    HKEY leaf = Create(HKEY_CURRENT_USER, "Tarnix\\Corvex\\D\\Model");
    ASSERT_EQ(SetDword(leaf, "Buffer Size", 65536), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "tarnix\\corvex"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "Tarnix\\Corvex"), ERROR_FILE_NOT_FOUND);

    DWORD size = 0;
    EXPECT_EQ(RegQueryValueEx(leaf, "Buffer Size", nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(SetDword(leaf, "Buffer Size", 1), ERROR_KEY_DELETED);
    EXPECT_EQ(RegFlushKey(leaf), ERROR_KEY_DELETED);
    HKEY sub = nullptr;
    EXPECT_EQ(RegCreateKeyEx(leaf, "X", 0, KEY_ALL_ACCESS, &sub, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(leaf), ERROR_SUCCESS);

    HKEY tarnix = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Tarnix", KEY_READ, &tarnix), ERROR_SUCCESS);
    DWORD subKeys = 9;
    EXPECT_EQ(RegQueryInfoKey(tarnix, &subKeys, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 0u);
    RegCloseKey(tarnix);
    EXPECT_THAT(testkit::ReadText(UserFile()), ::testing::Not(HasSubstr("Corvex")));
}

TEST_F(RegistryTest, SmallBuffersGetMoreDataAndTheNeededSize) {
    HKEY key = Create(HKEY_CURRENT_USER, "Sizes");
    const std::vector<BYTE> ten(10, 0xAB);
    ASSERT_EQ(SetBytes(key, "Drive \xE2\x82\xAC\xF0\x9D\x84\x9E", REG_BINARY, ten), ERROR_SUCCESS);

    BYTE buffer[16] = {};
    DWORD size = 4;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueEx(key, "drive \xE2\x82\xAC\xF0\x9D\x84\x9E", &type, buffer, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(buffer[0], 0); // nothing copied
    size = 10;
    EXPECT_EQ(RegQueryValueEx(key, "drive \xE2\x82\xAC\xF0\x9D\x84\x9E", &type, buffer, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(buffer[9], 0xAB);

    // The name is 9 UTF-16 units: "Drive ", the euro sign and a surrogate pair.
    std::string name;
    DWORD chars = 9;
    size = sizeof buffer;
    EXPECT_EQ(RegEnumValue(key, 0, &name, &chars, nullptr, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(chars, 9u);
    chars = 10;
    size = 3;
    EXPECT_EQ(RegEnumValue(key, 0, &name, &chars, nullptr, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    chars = 10;
    size = sizeof buffer;
    EXPECT_EQ(RegEnumValue(key, 0, &name, &chars, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(name, "Drive \xE2\x82\xAC\xF0\x9D\x84\x9E");
    EXPECT_EQ(chars, 9u);
    EXPECT_EQ(RegEnumValue(key, 1, &name, &chars, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    DWORD values = 0;
    DWORD maxName = 0;
    DWORD maxData = 0;
    EXPECT_EQ(RegQueryInfoKey(key, nullptr, nullptr, &values, &maxName, &maxData), ERROR_SUCCESS);
    EXPECT_EQ(values, 1u);
    EXPECT_EQ(maxName, 9u);
    EXPECT_EQ(maxData, 10u);
    RegCloseKey(key);
}

TEST_F(RegistryTest, ReadOnlyHandlesRefuseChanges) {
    RegCloseKey(Create(HKEY_CURRENT_USER, "Ro\\Sub"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Ro", KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, "x", 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValue(key, "x"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(key, "Sub"), ERROR_ACCESS_DENIED);
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyEx(key, "New", 0, KEY_ALL_ACCESS, &created, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCreateKeyEx(key, "Sub", 0, KEY_READ, &created, nullptr), ERROR_SUCCESS); // exists already
    RegCloseKey(created);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Ro", KEY_SET_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, "x", 1), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, AnUnwritableRootRefusesChangesAndReadsEmpty) {
    testkit::WriteText(dir_ / "plain-file", "x");
    environment_.Set("QUELLWAVE_REGISTRY_DIR", (dir_ / "plain-file" / "sub").string());
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS, &key, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, "x", 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegWithLock(HKEY_LOCAL_MACHINE, [] { return ERROR_SUCCESS; }), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, AFileThatCannotBeReadIsNeverReplaced) {
    std::filesystem::create_directory(UserFile()); // a folder where the file should be
    EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "x", 1), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(std::filesystem::is_directory(UserFile()));
}

TEST_F(RegistryTest, MalformedArgumentsAreRefusedWithoutHarm) {
    HKEY key = Create(HKEY_CURRENT_USER, "Args");
    DWORD size = 4;
    BYTE data[4] = {};
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Args", KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "A\\\\B", KEY_READ, &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "\\Args", KEY_READ, &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Bad\xFFName", 0, KEY_ALL_ACCESS, &key, nullptr),
              ERROR_INVALID_PARAMETER);
    key = Create(HKEY_CURRENT_USER, "Args");
    EXPECT_EQ(RegSetValueEx(key, "line\nbreak", REG_DWORD, data, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(key, std::string_view("nul\0", 4), REG_DWORD, data, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(key, "x", REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueEx(key, "x", nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKey(key, ""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegWithLock(HKEY_CURRENT_USER, {}), ERROR_INVALID_PARAMETER);

    int notAKey = 0;
    const HKEY bogus = reinterpret_cast<HKEY>(&notAKey);
    EXPECT_EQ(RegQueryValueEx(bogus, "x", nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE); // already closed
    EXPECT_EQ(SetDword(key, "x", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
}

TEST_F(RegistryTest, FileLocationFollowsTheEnvironmentAtEachCall) {
    EXPECT_EQ(RegistryFilePath(HKEY_CURRENT_USER), dir_ / "user.reg");
    EXPECT_EQ(RegistryFilePath(HKEY_LOCAL_MACHINE), dir_ / "machine.reg");
    environment_.Unset("QUELLWAVE_REGISTRY_DIR");
    environment_.Set("XDG_CONFIG_HOME", "/cfg/home");
    EXPECT_EQ(RegistryFilePath(HKEY_CURRENT_USER), "/cfg/home/quellwave/user.reg");
    EXPECT_EQ(RegistryFilePath(HKEY_LOCAL_MACHINE), "/etc/quellwave/machine.reg");
    environment_.Set("XDG_CONFIG_HOME", "relative/ignored");
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        EXPECT_EQ(RegistryFilePath(HKEY_CURRENT_USER),
                  std::filesystem::path(home) / ".config" / "quellwave" / "user.reg");
    }
}

TEST_F(RegistryTest, TheMachineRootHasItsOwnFileAndOtherRootsInAFileSurvive) {
    testkit::WriteText(UserFile(), "Windows Registry Editor Version 5.00\n\n"
                                   "[HKEY_LOCAL_MACHINE\\Stray]\n\"keep\"=hex(2):25,00,00,00\n\n"
                                   "[HKEY_CURRENT_USER\\Mine]\n\"v\"=dword:00000001\n");
    HKEY stray = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Stray", KEY_READ, &stray), ERROR_FILE_NOT_FOUND);
    HKEY machine = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orva Corporation\\Tarnix\\Corvex");
    ASSERT_EQ(SetDword(machine, "MARGIN_LBA", 375), ERROR_SUCCESS);
    RegCloseKey(machine);
    HKEY mine = Create(HKEY_CURRENT_USER, "Mine");
    ASSERT_EQ(SetDword(mine, "v", 2), ERROR_SUCCESS);
    RegCloseKey(mine);

    const std::string user = testkit::ReadText(UserFile());
    EXPECT_THAT(user, HasSubstr("[HKEY_LOCAL_MACHINE\\Stray]\n\"keep\"=hex(2):25,00,00,00\n"));
    EXPECT_THAT(user, HasSubstr("\"v\"=dword:00000002"));
    EXPECT_THAT(user, ::testing::Not(HasSubstr("Corvex")));
    const std::string machineText = testkit::ReadText(dir_ / "machine.reg");
    EXPECT_THAT(machineText, HasSubstr("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orva Corporation\\Tarnix\\Corvex]\n"
                                       "\"MARGIN_LBA\"=dword:00000177\n"));
    EXPECT_THAT(machineText, ::testing::Not(HasSubstr("HKEY_CURRENT_USER")));
}

TEST_F(RegistryTest, ChangesMadeByAnEditorAreSeenAndImportDeletionsApply) {
    HKEY key = Create(HKEY_CURRENT_USER, "Ext");
    ASSERT_EQ(SetDword(key, "a", 1), ERROR_SUCCESS);
    testkit::WriteText(UserFile(), "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Ext]\n"
                                   "\"a\"=dword:00000005\n\"b\"=dword:00000006\n\"b\"=-\n\n"
                                   "[HKEY_CURRENT_USER\\Ext\\Gone]\n\n[-HKEY_CURRENT_USER\\Ext\\Gone]\n");
    EXPECT_EQ(QueryDword(key, "a"), 5u);
    EXPECT_FALSE(Query(key, "b"));
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyEx(key, "Gone", KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(RegistryTest, AWindowsEditorExportInUtf16IsRead) {
    std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_CURRENT_USER\\Software\\Orva Corporation\\Tarnix\\Corvex\\D\\"
        u"HL-DT-ST DVDRAM GH24NSD1 1.00]\r\n"
        u"\"Drive Info\"=hex:44,00,00,00,01,00,00,00,00,00,00,00,48,4c,2d,44,54,2d,53,54,\\\r\n"
        u"  44,56,44,52,41,4d,20,47,48,32,34,4e,53,44,31,20,31,2e,30,30\r\n"
        u"\"Name\"=\"\u00c4rger \u043a\U0001D11E\"\r\n"
        u"\"Count\"=dword:0000002a\r\n\r\n";
    testkit::WriteBytes(UserFile(), Utf16Le(u"\uFEFF" + text));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER,
                           "Software\\Orva Corporation\\Tarnix\\Corvex\\D\\HL-DT-ST DVDRAM GH24NSD1 1.00",
                           KEY_READ, &key),
              ERROR_SUCCESS);
    const auto info = Query(key, "Drive Info");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->second.size(), 40u);
    EXPECT_EQ(info->second[39], 0x30);
    EXPECT_EQ(Query(key, "Name")->second, Utf16Le(u"\u00c4rger \u043a\U0001D11E"));
    EXPECT_EQ(QueryDword(key, "Count"), 42u);
    RegCloseKey(key);
}

TEST_F(RegistryTest, ADamagedFileIsReportedOnceByLineReadsEmptyAndIsNeverReplaced) {
    // A hand-written file with one slip, in either root: every change that would rewrite it is refused,
    // so nothing it holds is lost, and the report names the line to mend.
    const std::string damaged =
        "Windows Registry Editor Version 5.00\n\n; my drives\n[HKEY_CURRENT_USER\\Keep]\n"
        "\"a\"=dword:00000001\n\"b\"=\"bad \\q escape\"\n";
    const std::string machine = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orva "
                                "Corporation\\Drives]\n\"V\"=\"image:/a.cue\"\n\"W\"=\"image:/b.cue\"\n\n[\n";
    struct Case {
        HKEY root;
        std::filesystem::path file;
        std::string text;
        const char* line;
    };
    for (const Case& c : {Case{HKEY_CURRENT_USER, UserFile(), damaged, "line 6"},
                          Case{HKEY_LOCAL_MACHINE, dir_ / "machine.reg", machine, "line 7"}}) {
        testkit::WriteText(c.file, c.text);
        ::testing::internal::CaptureStderr();
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyEx(c.root, "Keep", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(RegOpenKeyEx(c.root, "Software", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(RegCreateKeyEx(c.root, "Fresh", 0, KEY_ALL_ACCESS, &key, nullptr), ERROR_BADDB);
        EXPECT_EQ(key, nullptr);
        EXPECT_EQ(SetDword(c.root, "n", 7), ERROR_BADDB);
        EXPECT_EQ(RegWithLock(c.root, [&] { return SetDword(c.root, "n", 7); }), ERROR_BADDB);
        const std::string report = ::testing::internal::GetCapturedStderr();
        EXPECT_THAT(report, HasSubstr(c.file.string()));
        EXPECT_THAT(report, HasSubstr(c.line));
        EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
        EXPECT_EQ(testkit::ReadText(c.file), c.text);
        EXPECT_FALSE(std::filesystem::exists(c.file.string() + ".damaged"));

        // Once mended, the file is written as usual.
        testkit::WriteText(c.file, "Windows Registry Editor Version 5.00\n");
        EXPECT_EQ(SetDword(c.root, "n", 8), ERROR_SUCCESS);
        EXPECT_THAT(testkit::ReadText(c.file), HasSubstr("\"n\"=dword:00000008\n"));
    }
}

TEST_F(RegistryTest, AnEmptyFileIsAnEmptyRootAndOpeningWhatExistsWritesNothing) {
    testkit::WriteText(UserFile(), "");
    ::testing::internal::CaptureStderr();
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "A", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    HKEY created = Create(HKEY_CURRENT_USER, "A\\B");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(SetDword(created, "n", 1), ERROR_SUCCESS);
    RegCloseKey(created);

    // A hand-written file keeps every byte (comments, spacing, CRLF) through opens, creates of keys that
    // exist and sets of a value to what it holds.
    const std::string hand = "Windows Registry Editor Version 5.00\r\n\r\n; written by hand\r\n"
                             "[HKEY_CURRENT_USER\\A\\B]\r\n\"n\"=dword:00000001\r\n";
    testkit::WriteText(UserFile(), hand);
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "a\\b", 0, KEY_ALL_ACCESS, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(SetDword(key, "N", 1), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(testkit::ReadText(UserFile()), hand);
}

TEST_F(RegistryTest, RegWithLockIsReentrantAndMakesReadThenWriteAtomicAcrossThreads) {
    EXPECT_EQ(RegWithLock(HKEY_CURRENT_USER,
                          [] { return RegWithLock(HKEY_CURRENT_USER, [] { return IncrementCounter(); }); }),
              ERROR_SUCCESS);
    EXPECT_EQ(RegWithLock(HKEY_CURRENT_USER, [] { return ERROR_MORE_DATA; }), ERROR_MORE_DATA);

    constexpr int kThreads = 4;
    constexpr int kEach = 50;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&failures, t] {
            HKEY key = nullptr;
            if (RegCreateKeyEx(HKEY_CURRENT_USER, "Threads", 0, KEY_ALL_ACCESS, &key, nullptr) !=
                ERROR_SUCCESS) {
                ++failures;
                return;
            }
            for (int i = 0; i < kEach; ++i) {
                if (IncrementCounter() != ERROR_SUCCESS ||
                    SetDword(key, "t" + std::to_string(t) + "-" + std::to_string(i), 1) != ERROR_SUCCESS) {
                    ++failures;
                }
                DWORD size = 0;
                RegQueryValueEx(key, "t0-0", nullptr, nullptr, &size); // readers run alongside writers
            }
            RegCloseKey(key);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    HKEY counter = Create(HKEY_CURRENT_USER, "Counter");
    EXPECT_EQ(QueryDword(counter, "n"), 1u + kThreads * kEach);
    RegCloseKey(counter);
    HKEY key = Create(HKEY_CURRENT_USER, "Threads");
    DWORD values = 0;
    EXPECT_EQ(RegQueryInfoKey(key, nullptr, nullptr, &values, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(values, static_cast<DWORD>(kThreads * kEach));
    RegCloseKey(key);
}

TEST_F(RegistryTest, TwoProcessesChangingOneRootLoseNoUpdate) {
    const pid_t a = SpawnChild("count");
    const pid_t b = SpawnChild("count");
    EXPECT_EQ(WaitChild(a), 0);
    EXPECT_EQ(WaitChild(b), 0);
    HKEY counter = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Counter", KEY_READ, &counter), ERROR_SUCCESS);
    EXPECT_EQ(QueryDword(counter, "n"), 2u * kIncrements);
    RegCloseKey(counter);

    const pid_t c = SpawnChild("distinct:a");
    const pid_t d = SpawnChild("distinct:b");
    EXPECT_EQ(WaitChild(c), 0);
    EXPECT_EQ(WaitChild(d), 0);
    HKEY distinct = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Distinct", KEY_READ, &distinct), ERROR_SUCCESS);
    DWORD values = 0;
    EXPECT_EQ(RegQueryInfoKey(distinct, nullptr, nullptr, &values, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(values, 2u * kIncrements);
    EXPECT_EQ(QueryDword(distinct, "a199"), 199u);
    EXPECT_EQ(QueryDword(distinct, "b0"), 0u);
    RegCloseKey(distinct);
    // Nothing left behind but the file, its lock and no temporary files.
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        EXPECT_THAT(entry.path().filename().string(), ::testing::AnyOf("user.reg", "user.reg.lock"));
    }
}
