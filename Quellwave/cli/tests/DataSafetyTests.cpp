// The real quellwave-cli never loses a file: inputs are never overwritten, a failed or interrupted convert
// leaves the old output as it was and no temporary file, a recording ended by a signal is complete, and
// files that are not regular files are refused at once.
#include "CliHarness.h"
#include "TestKit/DsfReadback.h"
#include "TestKit/Wav.h"
#include "shell/Settings.h"

#include "Platform/Process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

using namespace testkit;

namespace {

using clitest::Quote;
using Result = clitest::RunResult;

class DataSafetyTest : public clitest::CliFixture {
protected:
    // Runs quellwave-cli under sh with `prefix` in front (limits, traps), never waiting more than a minute
    // on it.
    Result Cli(const std::vector<std::string>& args, const std::string& prefix = "") const {
        return Shell("sh -c " + Quote(prefix + " timeout 60 " + clitest::CliCommand(args)));
    }
    std::string Wav(const std::string& name, double seconds) const {
        WavShape s;
        s.data = Pattern(static_cast<std::size_t>(seconds * 44100) * 4);
        return Write(name, BuildWav(s));
    }
    // Files whose names say they are temporary outputs.
    std::vector<std::string> Leftovers(const std::filesystem::path& folder) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().filename().string().find(".convert-") != std::string::npos)
                names.push_back(entry.path().filename().string());
        return names;
    }
    // Starts quellwave-cli in the background, its output thrown away.
    static platform::ChildProcess Spawn(const std::vector<std::string>& args) {
        return platform::ChildProcess::Start(QW_CLI_PATH, args, {}, true);
    }
    // Polls until done() holds, for at most 30 s.
    static bool Eventually(const std::function<bool()>& done) {
        for (int i = 0; i < 3000; ++i) {
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

TEST_F(DataSafetyTest, PlayNeverRecordsOverAFileItPlays) {
    const std::string a = Wav("a.wav", 0.2);
    const Bytes before = ReadBytes(a);
    std::filesystem::create_symlink(a, dir_ / "link.wav");
    std::filesystem::create_hard_link(a, dir_ / "hard.wav");
    for (const std::string& target :
         {a, (dir_ / "." / "a.wav").string(), (dir_ / "link.wav").string(), (dir_ / "hard.wav").string()}) {
        const Result r = Cli({"play", "--driver", "dsf:" + target, a});
        EXPECT_EQ(r.status, 1) << target;
        EXPECT_NE(r.err.find("one of the files to play"), std::string::npos) << r.err;
        EXPECT_EQ(ReadBytes(a), before) << target;
    }
    // The same through the stored driver name.
    RegistrySandbox::SetString(platform::HKEY_LOCAL_MACHINE, kAsioSettingsKey, "DefaultASIODriverName",
                               "dsf:" + (dir_ / "link.wav").string());
    EXPECT_EQ(Cli({"play", a}).status, 1);
    EXPECT_EQ(ReadBytes(a), before);
}

TEST_F(DataSafetyTest, AFailedConvertKeepsTheOldOutputAndLeavesNoTemporaryFile) {
    const std::string in = Wav("in.wav", 1.0); // about 700 kB of DSF
    const std::string out = (dir_ / "out.dsf").string();
    const Bytes old = Pattern(5000);
    // Writes fail past a file size limit (a full disk as the program sees it), in KiB; at 1 KiB the first
    // block fails. (The limit also holds for the file standard error goes to: it must stay above 0.)
    for (const char* limit : {"200", "1"}) {
        WriteBytes(out, old);
        const Result r = Cli({"convert", in, out}, std::string("trap '' XFSZ; ulimit -f ") + limit + ";");
        EXPECT_EQ(r.status, 1) << limit;
        EXPECT_NE(r.err.find("file too large"), std::string::npos) << r.err;
        EXPECT_EQ(ReadBytes(out), old) << limit;
        EXPECT_EQ(Leftovers(dir_.Path()), std::vector<std::string>{}) << limit;
    }
    // And the success: the target is replaced whole.
    ASSERT_EQ(Cli({"convert", in, out}).status, 0);
    EXPECT_TRUE(testkit::ReadDsf(out).valid);
    EXPECT_EQ(Leftovers(dir_.Path()), std::vector<std::string>{});
}

TEST_F(DataSafetyTest, AConvertOntoAFullDiskKeepsTheOldOutput) {
    const std::filesystem::path disk = dir_ / "disk";
    std::filesystem::create_directory(disk);
    if (::geteuid() != 0 ||
        std::system(("mount -t tmpfs -o size=64k tmpfs " + Quote(disk.string()) + " 2>/dev/null").c_str()) !=
            0)
        GTEST_SKIP() << "no tmpfs can be mounted here; the injected write failure covers the same path";
    const std::string in = Wav("in.wav", 1.0);
    const std::string out = (disk / "out.dsf").string();
    const Bytes old = Pattern(20000);
    WriteBytes(out, old);
    const Result r = Cli({"convert", in, out});
    const Bytes after = ReadBytes(out);
    const auto leftovers = Leftovers(disk);
    std::system(("umount " + Quote(disk.string())).c_str());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no space left on device"), std::string::npos) << r.err;
    EXPECT_EQ(after, old);
    EXPECT_EQ(leftovers, std::vector<std::string>{});
}

TEST_F(DataSafetyTest, AnInterruptedConvertRemovesItsTemporaryFile) {
    const std::string in = Wav("long.wav", 150.0);
    const std::string out = (dir_ / "out.dsf").string();
    const Bytes old = Pattern(3000);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        WriteBytes(out, old);
        platform::ChildProcess child = Spawn({"convert", in, out});
        ASSERT_TRUE(Eventually([&] { return !Leftovers(dir_.Path()).empty(); })) << "no temporary file";
        ASSERT_TRUE(child.Signal(signal));
        EXPECT_EQ(child.Wait().Code(), 128 + signal);
        EXPECT_EQ(Leftovers(dir_.Path()), std::vector<std::string>{}) << signal;
        EXPECT_EQ(ReadBytes(out), old) << signal;
    }
    // SIGKILL cannot be caught: only the clearly named temporary file may remain, never a half target.
    WriteBytes(out, old);
    platform::ChildProcess child = Spawn({"convert", in, out});
    ASSERT_TRUE(Eventually([&] { return !Leftovers(dir_.Path()).empty(); }));
    child.Signal(SIGKILL);
    child.Wait();
    EXPECT_EQ(ReadBytes(out), old);
}

TEST_F(DataSafetyTest, ARecordingEndedBySigtermOrSighupSaysHowMuchItHolds) {
    const std::string in = Wav("long.wav", 120.0);
    for (int signal : {SIGTERM, SIGHUP}) {
        const std::string out = (dir_ / ("rec" + std::to_string(signal) + ".dsf")).string();
        platform::ChildProcess child = Spawn({"play", "--driver", "dsf:" + out, in});
        // Some audio beyond the priming silence has been recorded.
        ASSERT_TRUE(Eventually([&] {
            std::error_code ec;
            return std::filesystem::file_size(out, ec) > 92 + 200u * 8192 && !ec;
        }));
        ASSERT_TRUE(child.Signal(signal));
        EXPECT_EQ(child.Wait().Code(), 128 + signal);
        const auto stream = testkit::ReadDsf(out);
        EXPECT_TRUE(stream.valid) << stream.error; // the header counts exactly the blocks in the file
        EXPECT_GT(stream.blocks.size(), 200u);
    }
}

TEST_F(DataSafetyTest, ARecordingOntoAFullDiskStopsAndSaysWhy) {
    const std::string in = Wav("long.wav", 30.0);
    // An injected write failure (a file size limit of 1 MiB), then a real full disk where one can be made.
    const std::string out = (dir_ / "rec.dsf").string();
    Result r = Cli({"play", "--driver", "dsf:" + out, in}, "trap '' XFSZ; ulimit -f 1024;");
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("the output failed: file too large"), std::string::npos) << r.err;
    EXPECT_TRUE(testkit::ReadDsf(out).valid); // what was recorded stays a whole, readable file

    const std::filesystem::path disk = dir_ / "disk";
    std::filesystem::create_directory(disk);
    if (::geteuid() != 0 ||
        std::system(("mount -t tmpfs -o size=512k tmpfs " + Quote(disk.string()) + " 2>/dev/null").c_str()) !=
            0)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    r = Cli({"play", "--driver", "dsf:" + (disk / "rec.dsf").string(), in});
    const bool valid = testkit::ReadDsf(disk / "rec.dsf").valid;
    std::system(("umount " + Quote(disk.string())).c_str());
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("the output failed: no space left on device"), std::string::npos) << r.err;
    EXPECT_TRUE(valid);
}

TEST_F(DataSafetyTest, FilesThatAreNotRegularAreRefusedAtOnce) {
    const std::string fifo = (dir_ / "pipe.wav").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string folder = (dir_ / "folder.wav").string();
    std::filesystem::create_directory(folder);
    const std::pair<std::string, std::string> cases[] = {
        {fifo, "not a regular file"},
        {"/dev/zero", "not a regular file"},
        {folder, "is a directory"},
        {(dir_ / "missing.wav").string(), "no such file"},
    };
    for (const auto& [path, reason] : cases) {
        Result r = Cli({"info", path});
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_EQ(r.out, path + ": rejected (" + reason + ")\n");
        r = Cli({"convert", path, (dir_ / "o.dsf").string()});
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_NE(r.err.find("rejected (" + reason + ")"), std::string::npos) << r.err;
        r = Cli({"play", "--rf-mode", "--driver", "dsf:" + (dir_ / "o.dsf").string(), path});
        EXPECT_EQ(r.status, 2) << path;
        EXPECT_NE(r.err.find(path + ": rejected (" + reason + ")"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ / "o.dsf"));
}

TEST_F(DataSafetyTest, DoubleDashEndsTheOptionsOfEveryCommand) {
    const std::string a = Wav("-a.wav", 0.1);
    Result r = Cli({"info", "-a.wav"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown option \"-a.wav\""), std::string::npos) << r.err;
    ASSERT_EQ(::chdir(dir_.Path().c_str()), 0);
    EXPECT_EQ(Cli({"info", "--", "-a.wav"}).out, "-a.wav: wav16 length_ms=100\n");
    EXPECT_EQ(Cli({"convert", "--", "-a.wav", "-a.dsf"}).status, 0);
    EXPECT_TRUE(testkit::ReadDsf(dir_ / "-a.dsf").valid);
    EXPECT_EQ(Cli({"play", "--driver", "null", "--", "-a.wav"}).status, 0);
}

} // namespace
