#include "PrivateBus.h"

#include "TestKit/Bytes.h"

#include <chrono>
#include <csignal>
#include <thread>

namespace apptest {

namespace {

// Runs the program with its output in files of the run folder and, once it ends, its exit code written
// to "status" (whole: written aside, then renamed). SIGTERM to the shell ends the program (quietly: the
// shell's own report of it goes nowhere).
constexpr char kClientScript[] =
    "\"$0\" \"$@\" >\"$QW_RUN/out\" 2>\"$QW_RUN/err\" & program=$!; "
    "exec 2>/dev/null; trap 'kill $program' TERM; wait $program; status=$?; wait $program; "
    "echo $status >\"$QW_RUN/status.part\"; mv \"$QW_RUN/status.part\" \"$QW_RUN/status\"";

} // namespace

PrivateBus::PrivateBus(const std::filesystem::path& folder) : folder_(folder / "bus") {
    std::filesystem::create_directories(folder_);
    const std::filesystem::path socket = folder_ / "socket";
    daemon_ = platform::ChildProcess::Start(
        QW_DBUS_DAEMON, {"--session", "--nofork", "--nopidfile", "--address=unix:path=" + socket.string()},
        {}, true);
    if (!daemon_.Started())
        return;
    // The daemon listens once its socket is there.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(socket) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (std::filesystem::exists(socket))
        address_ = QString::fromStdString("unix:path=" + socket.string());
}

PrivateBus::~PrivateBus() {
    if (daemon_.Started()) {
        daemon_.Signal(SIGTERM);
        daemon_.Wait();
    }
}

QDBusConnection PrivateBus::Connect(const QString& name) const {
    // The socket's file appears when the daemon binds it, a moment before it listens: a connection
    // made in that moment is refused, so try again (a refused connection must be dropped by name first).
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        QDBusConnection connection = QDBusConnection::connectToBus(address_, name);
        if (connection.isConnected() || address_.isEmpty() || std::chrono::steady_clock::now() >= end)
            return connection;
        QDBusConnection::disconnectFromBus(name);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string PrivateBus::SessionEnv() const {
    return "DBUS_SESSION_BUS_ADDRESS=" + address_.toStdString();
}

BusClient::BusClient(const PrivateBus& bus, const std::string& program,
                     const std::vector<std::string>& args) {
    static int runs = 0;
    run_ = bus.Folder() / ("client-" + std::to_string(++runs));
    std::filesystem::create_directories(run_);
    std::vector<std::string> shellArgs = {"-c", kClientScript, program};
    shellArgs.insert(shellArgs.end(), args.begin(), args.end());
    child_ =
        platform::ChildProcess::Start("/bin/sh", shellArgs, {bus.SessionEnv(), "QW_RUN=" + run_.string()});
}

BusClient::~BusClient() {
    Stop();
}

bool BusClient::Finished() {
    if (!child_.Started())
        return true;
    if (!std::filesystem::exists(run_ / "status"))
        return false;
    child_.Wait();
    exitCode_ = std::stoi(testkit::ReadText(run_ / "status"));
    return true;
}

std::string BusClient::Out() const {
    return testkit::ReadText(run_ / "out");
}

std::string BusClient::Err() const {
    return testkit::ReadText(run_ / "err");
}

void BusClient::Stop() {
    if (!child_.Started())
        return;
    child_.Signal(SIGTERM);
    child_.Wait();
}

ClientRun RunClient(const PrivateBus& bus, const std::string& program, const std::vector<std::string>& args,
                    const std::function<void()>& pump, unsigned timeoutMs) {
    BusClient client(bus, program, args);
    ClientRun run;
    if (!client.Started())
        return run;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!client.Finished()) {
        if (std::chrono::steady_clock::now() > end)
            return run;
        pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    run.exitCode = client.ExitCode();
    run.out = QString::fromStdString(client.Out()).trimmed();
    run.err = QString::fromStdString(client.Err()).trimmed();
    return run;
}

} // namespace apptest
