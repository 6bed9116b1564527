// Processor time of the player window: the idle window (stopped, its load timer running) and the window
// while a WAV file plays to the "null" output in real time (a position a second, each repainting the
// display, a cover beside the file). Reports the UI thread's own processor time (the window: timers,
// messages, repaints) and the whole process's (with the engine's reader and output threads), each as a share
// of one core.
//
//   WindowBench [SECONDS]      (default 10 for each phase; QT_QPA_PLATFORM chooses the display)
#include "app/CBGDialog.h"
#include "app/PlayerServices.h"
#include "shell/PlaylistFile.h"
#include "shell/ResourceModules.h"
#include "shell/Settings.h"

#include "Platform/SystemProbe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double ProcessSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The desktop's services without anything modal: a box would stop the measurement.
class QuietServices final : public app::PlayerServices {
public:
    void MessageBox(QWidget*, unsigned text, unsigned, UINT) override {
        std::fprintf(stderr, "message %u\n", text);
    }
    bool ScreenSaverActive() override { return false; }
    void SetScreenSaverActive(bool) override {}
    void SetExecutionState(DWORD) override {}
    DWORD TickCount() override { return probe_->TickCount(); }
    platform::SystemProbe& Probe() override { return *probe_; }
    app::TrayState GetTrayState(unsigned char) override { return app::TrayState::Unknown; }
    bool RunSettings(QWidget*) override { return false; }
    bool RunFileSelect(QWidget*, bool, std::vector<std::string>*) override { return false; }
    void RunDriveCheck(QWidget*, unsigned, UINT) override {}
    void RunAbout(QWidget*) override {}
    bool RunStartupNotice() override { return true; }
    void ShowHelp() override {}

private:
    std::unique_ptr<platform::SystemProbe> probe_ = platform::OpenSystemProbe();
};

void WriteWav(const std::filesystem::path& path, double seconds) {
    const auto frames = static_cast<std::uint32_t>(seconds * 44100);
    const std::uint32_t bytes = frames * 4;
    std::ofstream out(path, std::ios::binary);
    auto put = [&](std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            out.put(static_cast<char>(v >> (8 * i)));
    };
    out.write("RIFF", 4);
    put(36 + bytes, 4);
    out.write("WAVEfmt ", 8);
    put(16, 4), put(1, 2), put(2, 2), put(44100, 4), put(44100 * 4, 4), put(4, 2), put(16, 2);
    out.write("data", 4);
    put(bytes, 4);
    for (std::uint32_t n = 0; n < frames; ++n) {
        const auto s = static_cast<std::int16_t>(8000 * std::sin(2 * 3.14159265358979 * 440 * n / 44100.0));
        put(static_cast<std::uint16_t>(s), 2), put(static_cast<std::uint16_t>(s), 2);
    }
}

struct Share {
    double ui;
    double process;
};

// Runs the event loop as the program does (the panel's messages arrive through its notifier).
Share Measure(double seconds) {
    QElapsedTimer wall;
    const double ui0 = ThreadSeconds(), p0 = ProcessSeconds();
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
    return {100.0 * (ThreadSeconds() - ui0) / elapsed, 100.0 * (ProcessSeconds() - p0) / elapsed};
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    char folder[] = "/tmp/qwbench-XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        return 1;
    const std::filesystem::path dir(folder);
    setenv("QUELLWAVE_REGISTRY_DIR", folder, 1);
    // A busy machine (another build) must not make the window refuse to play: the load check never fires.
    std::ofstream(dir / "machine.reg")
        << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Quellwave\\App]\r\n"
           "\"OverloadValue\"=dword:00000064\r\n";
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);

    QApplication application(argc, argv);
    std::filesystem::current_path(QW_PROGRAM_DIR);
    TheResources().LoadResourceModule(kStringResourceModule, QW_PROGRAM_DIR);
    TheResources().ChooseSkin(std::filesystem::path(QW_PROGRAM_DIR) / "skin");

    WriteWav(dir / "tone.wav", seconds + 30);
    // A cover beside the file, as an album's folder has: the window shows it while the file plays.
    QImage cover(600, 600, QImage::Format_RGB32);
    for (int y = 0; y < cover.height(); ++y)
        for (int x = 0; x < cover.width(); ++x)
            cover.setPixel(x, y, qRgb(40 + x / 5, 60 + y / 6, 90 + (x + y) / 12));
    cover.save(QString::fromStdString((dir / "folder.jpg").string()), "JPG", 90);
    WritePlaylist({(dir / "tone.wav").string()});
    WriteMode(1);

    QuietServices services;
    app::PlayerOptions options;
    options.driverName = "null";
    {
        app::CBGDialog window(services, options);
        window.OnInitDialog();
        app::CPlayerDialog& panel = window.Panel();
        Measure(1.0); // the fades end
        const Share idle = Measure(seconds);
        panel.post(0x0111, 1004, 0);
        Measure(1.0); // the start
        if (panel.Engine().Playing() != 1) {
            std::fprintf(stderr, "the window did not start playing\n");
            return 1;
        }
        const Share playing = Measure(seconds);
        std::printf("platform %s, %.0f s each\n", qPrintable(QGuiApplication::platformName()), seconds);
        std::printf("idle window:    UI thread %5.2f %% of a core, whole process %5.2f %%\n", idle.ui,
                    idle.process);
        std::printf(
            "playing window: UI thread %5.2f %% of a core, whole process %5.2f %% (engine included)\n",
            playing.ui, playing.process);
        window.EndNow();
    }
    std::filesystem::remove_all(dir);
    return 0;
}
