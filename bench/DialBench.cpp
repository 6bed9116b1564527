// The volume dial's drawing cost on a full-screen window: a whole repaint (every layer composed into the
// dial's picture and copied to the window) and one animation step (the changed wedge recomposed and copied).
// The window's 1024 x 768 panel fills a 1920 x 1080 screen at a scale of 1.40625, which this program sets
// unless QT_SCALE_FACTOR names another (2.8125 for 3840 x 2160):
// The dial's images are the default look's, from the program's folder (at @2x for these scales).
// CPU is the whole process's processor time (the painter may use helper threads); on a busy machine the
// wall-clock time is mostly waiting for a core.
//   DialBench
//   QT_SCALE_FACTOR=2.8125 DialBench
#include "TestKit/RecordingParent.h"
#include "ui/CDialCtrl.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

std::unique_ptr<testkit::RecordingParent> window;
CDialCtrl* dial = nullptr;

void FullRepaint(benchmark::State& state) {
    dial->MoveTo(150, true);
    for (auto _ : state) {
        dial->SetMuting(false); // composes the whole dial
        dial->repaint();        // and copies it to the window at once
    }
    state.counters["pixels"] = dial->Cache().width() * dial->Cache().height();
    state.counters["scale"] = dial->devicePixelRatioF();
    if (dial->Cache().isNull() ||
        qAlpha(dial->Cache().pixel(dial->Cache().width() / 2, dial->Cache().height() / 2)) == 0)
        state.SkipWithError("the dial's images were not found; build the quellwave-look target");
}
BENCHMARK(FullRepaint)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

// The composition alone, without the copy to the window.
void FullCompose(benchmark::State& state) {
    dial->MoveTo(150, true);
    for (auto _ : state)
        dial->SetMuting(false);
}
BENCHMARK(FullCompose)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

void AnimationStep(benchmark::State& state) {
    int position = 0;
    int step = 4;
    dial->MoveTo(0, true);
    for (auto _ : state) {
        if (position + step > 300 || position + step < 0)
            step = -step;
        position += step;
        dial->MoveTo(position, true);
        dial->repaint();
    }
}
BENCHMARK(AnimationStep)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (std::getenv("QT_SCALE_FACTOR") == nullptr)
        setenv("QT_SCALE_FACTOR", "1.40625", 1);
    QApplication app(argc, argv);
    window = std::make_unique<testkit::RecordingParent>();
    window->resize(1024, 768);
    dial = new CDialCtrl(5071, window.get(), ui::DialImagesIn(QStringLiteral(QW_PROGRAM_DIR "/Data/Image")));
    dial->move(394, 335);
    window->show();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    window.reset();
    return 0;
}
