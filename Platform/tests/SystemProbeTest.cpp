// The Linux system probe over trees the tests build, and once over this machine's own /proc.
#include "../src/linux/LinuxSystemProbe.h"

#include "TestKit/Scratch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

class SystemTree : public ::testing::Test {
protected:
    void Put(const std::string& name, const std::string& text) { scratch_.Put(name, text); }
    // A stat line with the given name, flags and user time in clock ticks.
    static std::string Stat(int pid, const std::string& name, std::uint64_t flags, std::uint64_t utime) {
        return std::to_string(pid) + " (" + name + ") S 1 2 3 0 -1 " + std::to_string(flags) + " 10 0 0 0 " +
               std::to_string(utime) + " 7 0 0 20 0 1 0 100 1000 50\n";
    }
    LinuxSystemProbe Probe() { return LinuxSystemProbe({root_ / "proc", root_ / "sys"}); }
    std::map<DWORD, std::uint64_t> Walk() {
        std::map<DWORD, std::uint64_t> seen;
        Probe().WalkProcesses([&](DWORD pid, std::uint64_t time) {
            seen[pid] = time;
            return true;
        });
        return seen;
    }

    const testkit::ScratchFolder scratch_{"probe"};
    const fs::path root_ = scratch_.Path();
};

TEST_F(SystemTree, WalkReadsUserTimeOfEveryReadableProcess) {
    const std::uint64_t tick = 10'000'000 / static_cast<std::uint64_t>(sysconf(_SC_CLK_TCK));
    Put("proc/1/stat", Stat(1, "init", 0x400100, 250));
    Put("proc/42/stat", Stat(42, "odd) (name", 0, 7));             // names may hold parentheses and spaces
    Put("proc/77/stat", Stat(77, "kworker/0:1", 0x00208040, 999)); // a kernel thread
    Put("proc/80/stat", "80 (cut short) S 1 2");                   // damaged
    Put("proc/81/stat", "");                                       // gone while read
    fs::create_directories(root_ / "proc/82");                     // no stat file at all
    Put("proc/self/stat", Stat(1, "self", 0, 1));                  // not a process number
    Put("proc/uptime", "12.0 3.0\n");
    const std::map<DWORD, std::uint64_t> expected = {{1, 250 * tick}, {42, 7 * tick}};
    EXPECT_EQ(Walk(), expected);

    int visits = 0;
    Probe().WalkProcesses([&](DWORD, std::uint64_t) { return ++visits < 1; });
    EXPECT_EQ(visits, 1) << "the walk stops when asked";
}

TEST_F(SystemTree, ProcessorCountAndLimit) {
    struct Case {
        const char* online;
        DWORD count;
    };
    for (const Case& c : {Case{"0-3", 4}, Case{"0", 1}, Case{"0-1,4,6-7", 5}, Case{"3-1", 0}, Case{"x", 0}}) {
        Put("sys/devices/system/cpu/online", std::string(c.online) + "\n");
        EXPECT_EQ(Probe().ProcessorCount(), c.count) << c.online;
    }

    EXPECT_EQ(Probe().MaxProcessorState(), std::nullopt) << "nothing to read";
    Put("sys/devices/system/cpu/cpu0/cpufreq/scaling_max_freq", "3000000\n");
    Put("sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "3000000\n");
    Put("sys/devices/system/cpu/cpu1/cpufreq/scaling_max_freq", "2999000\n");
    Put("sys/devices/system/cpu/cpu1/cpufreq/cpuinfo_max_freq", "3000000\n");
    Put("sys/devices/system/cpu/cpufreq/policy0/scaling_max_freq", "1\n"); // not a processor folder
    EXPECT_EQ(Probe().MaxProcessorState(), 100u) << "rounded to the nearest percent";
    Put("sys/devices/system/cpu/cpu1/cpufreq/scaling_max_freq", "2400000\n");
    EXPECT_EQ(Probe().MaxProcessorState(), 80u) << "the most limited processor";
    Put("sys/devices/system/cpu/intel_pstate/max_perf_pct", "60\n");
    EXPECT_EQ(Probe().MaxProcessorState(), 60u);
    Put("sys/devices/system/cpu/cpu1/cpufreq/cpuinfo_max_freq", "0\n");
    Put("sys/devices/system/cpu/intel_pstate/max_perf_pct", "100\n");
    EXPECT_EQ(Probe().MaxProcessorState(), 100u) << "a zero maximum is skipped";
}

TEST_F(SystemTree, PowerStatus) {
    PowerStatus status{7, 7};
    EXPECT_FALSE(Probe().GetPowerStatus(&status));
    EXPECT_EQ(status.ACLineStatus, 7) << "untouched when unreadable";

    fs::create_directories(root_ / "sys/class/power_supply");
    ASSERT_TRUE(Probe().GetPowerStatus(&status));
    EXPECT_EQ(status.ACLineStatus, 255);
    EXPECT_EQ(status.BatteryLifePercent, 255) << "a desktop without supplies";

    // A wireless mouse's battery says nothing about the machine.
    Put("sys/class/power_supply/hidpp_battery_0/type", "Battery\n");
    Put("sys/class/power_supply/hidpp_battery_0/scope", "Device\n");
    Put("sys/class/power_supply/hidpp_battery_0/capacity", "3\n");
    Put("sys/class/power_supply/hidpp_battery_0/status", "Discharging\n");
    ASSERT_TRUE(Probe().GetPowerStatus(&status));
    EXPECT_EQ(status.BatteryLifePercent, 255);
    EXPECT_EQ(status.ACLineStatus, 255);

    Put("sys/class/power_supply/BAT0/type", "Battery\n");
    Put("sys/class/power_supply/BAT0/capacity", "5\n");
    Put("sys/class/power_supply/BAT0/status", "Discharging\n");
    ASSERT_TRUE(Probe().GetPowerStatus(&status));
    EXPECT_EQ(status.BatteryLifePercent, 5);
    EXPECT_EQ(status.ACLineStatus, 0) << "no external supply listed: the battery's state tells";

    Put("sys/class/power_supply/AC/type", "Mains\n");
    Put("sys/class/power_supply/AC/online", "0\n");
    Put("sys/class/power_supply/ucsi-source-psy-1/type", "USB\n");
    Put("sys/class/power_supply/ucsi-source-psy-1/online", "0\n");
    ASSERT_TRUE(Probe().GetPowerStatus(&status));
    EXPECT_EQ(status.ACLineStatus, 0);
    Put("sys/class/power_supply/ucsi-source-psy-1/online", "1\n");
    ASSERT_TRUE(Probe().GetPowerStatus(&status));
    EXPECT_EQ(status.ACLineStatus, 1) << "charging through USB-C";

    // A second battery without a capacity file: its energy counters give the level; the two are averaged.
    Put("sys/class/power_supply/BAT1/type", "Battery\n");
    Put("sys/class/power_supply/BAT1/energy_now", "30000000\n");
    Put("sys/class/power_supply/BAT1/energy_full", "40000000\n");
    ASSERT_TRUE(Probe().GetPowerStatus(&status));
    EXPECT_EQ(status.BatteryLifePercent, 40);
    Put("sys/class/power_supply/BAT1/present", "0\n");
    ASSERT_TRUE(Probe().GetPowerStatus(&status));
    EXPECT_EQ(status.BatteryLifePercent, 5) << "an absent battery is left out";
}

TEST(SystemProbeOnThisMachine, SeesItselfAndACountAndAClock) {
    LinuxSystemProbe probe;
    bool self = false;
    int count = 0;
    probe.WalkProcesses([&](DWORD pid, std::uint64_t) {
        self = self || pid == static_cast<DWORD>(getpid());
        ++count;
        return true;
    });
    EXPECT_TRUE(self);
    EXPECT_EQ(probe.CurrentProcessId(), static_cast<DWORD>(getpid()));
    EXPECT_EQ(probe.ProcessorCount(), static_cast<DWORD>(sysconf(_SC_NPROCESSORS_ONLN)));
    const DWORD t0 = probe.TickCount();
    usleep(20'000);
    const DWORD elapsed = probe.TickCount() - t0;
    EXPECT_GE(elapsed, 20u);
    EXPECT_LT(elapsed, 5000u);
    probe.SetClock([] { return DWORD{7}; });
    EXPECT_EQ(probe.TickCount(), 7u);
}

} // namespace
