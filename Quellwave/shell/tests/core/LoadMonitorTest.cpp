// The load monitor over a scripted machine, and once over this machine's own /proc with a process that
// burns a processor.
#include "TestKit/Bytes.h"
#include "TestKit/RegistrySandbox.h"
#include "TestKit/Scratch.h"
#include "shell/CProcessLoadMonitor.h"

#include "Platform/Process.h"
#include "Platform/Registry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <map>
#include <thread>
#include <vector>

namespace {

constexpr std::uint64_t kSecond = 10'000'000; // 100 ns units

// A machine whose processes, user times and clock the test sets. Each walk takes walkMs on the clock.
class ScriptedProbe final : public platform::SystemProbe {
public:
    void WalkProcesses(const std::function<bool(DWORD, std::uint64_t)>& visit) override {
        ++walks;
        now += walkMs;
        for (const auto& [pid, time] : processes) {
            if (!visit(pid, time)) {
                return;
            }
        }
    }
    DWORD CurrentProcessId() override { return ownPid; }
    DWORD ProcessorCount() override { return processors; }
    DWORD TickCount() override { return now; }
    std::optional<DWORD> MaxProcessorState() override { return maxState; }
    bool GetPowerStatus(platform::PowerStatus* status) override {
        if (power) {
            *status = *power;
        }
        return power.has_value();
    }

    // Lets interval ms pass in which each process in busy used the given share of one processor.
    void Run(DWORD interval, const std::map<DWORD, double>& busy) {
        now += interval;
        for (const auto& [pid, share] : busy) {
            processes[pid] += static_cast<std::uint64_t>(share * interval * 10'000);
        }
    }

    std::map<DWORD, std::uint64_t> processes = {{1, 0}, {200, 0}, {300, 0}, {400, 0}};
    DWORD ownPid = 400;
    DWORD processors = 2;
    DWORD now = 1'000'000;
    DWORD walkMs = 0;
    int walks = 0;
    std::optional<DWORD> maxState;
    std::optional<platform::PowerStatus> power;
};

TEST(LoadMonitor, BusiestOtherProcessAsShareOfTheMachine) {
    struct Case {
        DWORD processors;
        std::map<DWORD, double> busy;
        unsigned load;
    };
    const Case cases[] = {
        {2, {{200, 1.0}}, 50},
        {4, {{200, 1.0}}, 25},
        {1, {{200, 1.0}}, 100},
        {2, {{200, 0.5}, {300, 0.9}}, 45},
        {0, {{200, 0.6}}, 60},             // an unreported count counts as one processor
        {129, {{200, 0.6}}, 60},           // and so does an implausible one
        {2, {{400, 2.0}, {300, 0.2}}, 10}, // the player's own time never counts
        {2, {}, 0},
    };
    for (const Case& c : cases) {
        ScriptedProbe probe;
        probe.processors = c.processors;
        CProcessLoadMonitor monitor(probe);
        probe.Run(5000, c.busy);
        EXPECT_EQ(monitor.Sample(), c.load) << c.processors << " processors";
    }
}

TEST(LoadMonitor, RepeatCountFollowsTheSameBusiestProcess) {
    ScriptedProbe probe;
    CProcessLoadMonitor monitor(probe);
    EXPECT_EQ(monitor.RepeatCount(), 0u);
    const std::vector<std::pair<std::map<DWORD, double>, DWORD>> steps = {
        {{{200, 1.0}}, 1}, {{{200, 1.0}}, 2}, {{{200, 0.9}, {300, 0.1}}, 3},
        {{{200, 1.0}}, 4}, {{{200, 1.0}}, 4}, // at most 4
        {{{300, 1.0}}, 1},                    // another process is now the busiest
        {{{300, 1.0}}, 2},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        probe.Run(5000, steps[i].first);
        monitor.Sample();
        EXPECT_EQ(monitor.RepeatCount(), steps[i].second) << "sample " << i + 1;
    }
}

TEST(LoadMonitor, StartingOrEndingAProcessResetsTheRun) {
    ScriptedProbe probe;
    CProcessLoadMonitor monitor(probe);
    probe.Run(5000, {{200, 1.0}});
    monitor.Sample();
    probe.Run(5000, {{200, 1.0}});
    EXPECT_EQ(monitor.Sample(), 50u);
    EXPECT_EQ(monitor.RepeatCount(), 2u);

    probe.processes[500] = 0; // a process starts: no reading, and the run begins again
    probe.Run(5000, {{200, 1.0}});
    EXPECT_EQ(monitor.Sample(), 0u);
    EXPECT_EQ(monitor.RepeatCount(), 0u);
    probe.Run(5000, {{200, 1.0}});
    EXPECT_EQ(monitor.Sample(), 50u);
    EXPECT_EQ(monitor.RepeatCount(), 1u);
    probe.Run(5000, {{200, 1.0}});
    monitor.Sample();
    EXPECT_EQ(monitor.RepeatCount(), 2u);

    probe.processes.erase(300); // one ends
    probe.Run(5000, {{200, 1.0}});
    EXPECT_EQ(monitor.Sample(), 0u);
    EXPECT_EQ(monitor.RepeatCount(), 0u);

    // One starts while another ends: same count, so the newcomer has no previous time and is left out.
    probe.processes.erase(1);
    probe.processes[600] = 900 * kSecond;
    probe.Run(5000, {{200, 0.2}});
    EXPECT_EQ(monitor.Sample(), 10u);
}

TEST(LoadMonitor, SlowWalkGivesNoReadingAndResets) {
    ScriptedProbe probe;
    CProcessLoadMonitor monitor(probe);
    probe.Run(5000, {{200, 1.0}});
    monitor.Sample();
    EXPECT_EQ(monitor.RepeatCount(), 1u);

    probe.walkMs = 101;
    probe.Run(5000, {{200, 1.0}});
    EXPECT_EQ(monitor.Sample(), 0u);
    EXPECT_EQ(monitor.RepeatCount(), 0u);
    EXPECT_EQ(monitor.TimeSinceLastSample(), 0u);

    // A walk of exactly 100 ms still counts; the first one after the reset has no base to compare with.
    probe.walkMs = 100;
    probe.Run(5000, {{200, 1.0}});
    EXPECT_EQ(monitor.Sample(), 0u);
    EXPECT_EQ(monitor.RepeatCount(), 1u);
    probe.walkMs = 0;
    probe.Run(5000, {{200, 1.0}});
    EXPECT_EQ(monitor.Sample(), 50u);
}

TEST(LoadMonitor, ClockWrapIsNotASlowWalk) {
    // The clock is 50 ms from its wrap when the walk starts, so "start + 100 ms" has already wrapped: a
    // 5 ms walk must still count.
    ScriptedProbe probe;
    probe.walkMs = 5;
    probe.now = 0xFFFFFFFFu - 5055;
    CProcessLoadMonitor monitor(probe);
    probe.now += 4995;
    probe.processes[200] += 5 * kSecond;
    EXPECT_EQ(monitor.Sample(), 50u);
    // And the interval that crosses the wrap still measures 5000 ms.
    probe.now += 4995;
    probe.processes[200] += 5 * kSecond;
    EXPECT_EQ(monitor.Sample(), 50u);
    EXPECT_LT(probe.now, 10000u);
}

TEST(LoadMonitor, ArraysGrowBySixteenUpTo512) {
    ScriptedProbe probe;
    for (DWORD pid = 1000; pid < 1000 + 150; ++pid) {
        probe.processes[pid] = 0;
    }
    CProcessLoadMonitor monitor(probe); // 154 processes: the first sample overflows 128
    EXPECT_EQ(monitor.Capacity(), 144u);
    probe.Run(5000, {{200, 1.0}});
    EXPECT_EQ(monitor.Sample(), 0u); // overflows 144
    EXPECT_EQ(monitor.Capacity(), 160u);
    probe.Run(5000, {{200, 1.0}});
    EXPECT_EQ(monitor.Sample(), 0u); // fits: the new base
    probe.Run(5000, {{200, 1.0}});
    EXPECT_EQ(monitor.Sample(), 50u);
    EXPECT_EQ(monitor.Capacity(), 160u);

    for (DWORD pid = 2000; pid < 2000 + 600; ++pid) {
        probe.processes[pid] = 0;
    }
    for (int i = 0; i < 40; ++i) {
        probe.Run(5000, {{200, 1.0}});
        EXPECT_EQ(monitor.Sample(), 0u);
    }
    EXPECT_EQ(monitor.Capacity(), CProcessLoadMonitor::kMaxCapacity);
}

TEST(LoadMonitor, TimeSinceLastSample) {
    ScriptedProbe probe;
    CProcessLoadMonitor monitor(probe);
    EXPECT_EQ(monitor.TimeSinceLastSample(), 0u);
    probe.now += 40;
    EXPECT_EQ(monitor.TimeSinceLastSample(), 40u);
    probe.Run(5000, {});
    monitor.Sample();
    probe.now += 7;
    EXPECT_EQ(monitor.TimeSinceLastSample(), 7u);
}

TEST(LoadMonitor, Thresholds) {
    const LoadThresholds playback{30, 2};
    EXPECT_FALSE(LoadCallsForPause(30, 4, playback));
    EXPECT_FALSE(LoadCallsForPause(31, 1, playback));
    EXPECT_TRUE(LoadCallsForPause(31, 2, playback));

    using Step = BatteryTimerStep;
    struct Case {
        std::optional<platform::PowerStatus> power;
        bool playing;
        Step step;
    };
    const Case cases[] = {
        {platform::PowerStatus{0, 5}, true, Step::Stop},
        {platform::PowerStatus{0, 0}, false, Step::Stop},
        {platform::PowerStatus{0, 6}, true, Step::KeepTimer},
        {platform::PowerStatus{0, 6}, false, Step::EndTimer},
        {platform::PowerStatus{0, 255}, true, Step::KeepTimer}, // level not reported
        {platform::PowerStatus{1, 3}, true, Step::KeepTimer},   // on line power
        {platform::PowerStatus{255, 3}, true, Step::KeepTimer}, // line status unknown
        {std::nullopt, true, Step::EndTimer},                   // status unreadable
    };
    for (const Case& c : cases) {
        ScriptedProbe probe;
        probe.power = c.power;
        EXPECT_EQ(CheckBattery(probe, c.playing), c.step)
            << (c.power ? int(c.power->ACLineStatus) : -1) << " "
            << (c.power ? int(c.power->BatteryLifePercent) : -1);
    }

    ScriptedProbe probe;
    EXPECT_EQ(MaxProcessorState(probe), 100u);
    probe.maxState = 80;
    EXPECT_EQ(MaxProcessorState(probe), 80u);
}

// The monitor over this machine's /proc, narrowed to a burning child and this test process itself so that
// the other processes of a shared build machine neither start nor end under the measurement. On an idle
// two-processor machine the reading is about 50; on a busy one it is the share the burner really got.
TEST(LoadMonitor, ProcessBurningAProcessorOnThisMachine) {
    platform::ChildProcess burnerProcess = platform::ChildProcess::Fork([] {
        volatile std::uint64_t spin = 0;
        for (;;) {
            spin = spin + 1;
        }
        return 0;
    });
    ASSERT_TRUE(burnerProcess.Started());
    const int burner = burnerProcess.Id();
    testkit::ScratchFolder proc;
    std::filesystem::create_directory_symlink(platform::ProcessInfoFolder(burner),
                                              proc / std::to_string(burner));
    std::filesystem::create_directory_symlink(platform::ProcessInfoFolder(platform::ProcessId()),
                                              proc / std::to_string(platform::ProcessId()));

    const std::unique_ptr<platform::SystemProbe> probe = platform::OpenSystemProbe({proc.Path(), "/sys"});
    CProcessLoadMonitor monitor(*probe);
    const DWORD processors = monitor.ProcessorCount();
    clockid_t burnerClock;
    ASSERT_EQ(clock_getcpuclockid(burner, &burnerClock), 0);
    const auto cpuNs = [&] {
        timespec t{};
        clock_gettime(burnerClock, &t);
        return std::uint64_t(t.tv_sec) * 1'000'000'000 + std::uint64_t(t.tv_nsec);
    };
    std::vector<unsigned> loads;
    std::vector<double> shares;
    for (int i = 0; i < 2; ++i) {
        const std::uint64_t cpu0 = cpuNs();
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        loads.push_back(monitor.Sample());
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        shares.push_back(100.0 * double(cpuNs() - cpu0) / 1e9 / wall / processors);
    }
    const DWORD repeat = monitor.RepeatCount();

    // Another process starts: the run of comparable samples begins again.
    platform::ChildProcess newcomerProcess = platform::ChildProcess::Fork([] {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
        return 0;
    });
    ASSERT_TRUE(newcomerProcess.Started());
    const int newcomer = newcomerProcess.Id();
    std::filesystem::create_directory_symlink(platform::ProcessInfoFolder(newcomer),
                                              proc / std::to_string(newcomer));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const unsigned loadAfterStart = monitor.Sample();
    const DWORD repeatAfterStart = monitor.RepeatCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    monitor.Sample();
    const DWORD repeatAfterNext = monitor.RepeatCount();
    for (platform::ChildProcess* child : {&burnerProcess, &newcomerProcess}) {
        child->Signal(SIGKILL);
        child->Wait();
    }
    EXPECT_EQ(loadAfterStart, 0u);
    EXPECT_EQ(repeatAfterStart, 0u);
    EXPECT_EQ(repeatAfterNext, 1u);

    EXPECT_EQ(repeat, 2u) << "two samples after the first, the same busiest process";
    for (std::size_t i = 0; i < loads.size(); ++i) {
        // The reading must match the burner's own processor time as the kernel's clock for it reports
        // (the burner gets a whole processor only on an idle machine; 100 / processors then).
        EXPECT_NEAR(double(loads[i]), shares[i], 6.0)
            << "sample " << i + 1 << " of " << processors << " processors";
        std::printf("load %u (burner's measured share %.1f) on %u processors\n", loads[i], shares[i],
                    processors);
    }
}

} // namespace

namespace {

TEST(LoadThresholds, ReadFromTheMachineSectionOrDefaults) {
    testkit::RegistrySandbox registry("load");
    EXPECT_EQ(ReadLoadThresholds(kPlaybackOverloadValue).load, 30u);
    EXPECT_EQ(ReadLoadThresholds(kStartupOverloadValue).load, 50u);
    EXPECT_EQ(ReadLoadThresholds(kStartupOverloadValue).count, 2u);

    testkit::RegistrySandbox::SetDword(platform::HKEY_LOCAL_MACHINE,
                                       "Software\\Orva Corporation\\Quellwave\\App", "overloadvalue", 70);
    const LoadThresholds read = ReadLoadThresholds(kPlaybackOverloadValue);
    EXPECT_EQ(read.load, 70u) << "names match without regard to case";
    EXPECT_EQ(read.count, 2u);
}

} // namespace
