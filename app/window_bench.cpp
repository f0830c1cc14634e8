// The window program's two costs that a user feels, in a real window (run under
// a display, e.g. xvfb-run -a -s "-screen 0 1280x1024x24" window_bench):
//   - start-up: from creating the window to its first frame on the screen;
//   - one tick with its frame, as each expiry of the fast timer delivers it. At
//     the fast rate it must stay well below the 50 ms period.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>

#include "app/extras.h"
#include "app/shell.h"

namespace {

const PictureSetup PICTURES{{MAROVEL_SOURCE_DATA}, nullptr};

// Runs the event loop until the window has shown `frames` frames in all.
bool wait_for_frames(WindowHandle window, long frames) {
    QElapsedTimer clock;
    clock.start();
    while (frame_counts(window).shown < frames) {
        if (clock.elapsed() > 10000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Quits the way the menu does and lets the loop end, so that the next window
// starts from a clean slate.
void close_app(App& app) {
    quit_app(app);
    run_message_loop();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void BM_StartupToFirstFrame(benchmark::State& state) {
    for (auto _ : state) {
        auto app = std::make_unique<App>();
        QElapsedTimer clock;
        clock.start();
        start_app(*app, PICTURES);
        const bool shown = wait_for_frames(app->mainWindow, 1);
        state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) * 1e-9);
        if (!shown) state.SkipWithError("no frame within 10 s");
        close_app(*app);
    }
}
BENCHMARK(BM_StartupToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// What the fast timer delivers once: the tick, then the frame until it is on
// the screen. The town evolves over the iterations as in a real run. With the
// argument 1 the side panel is open (its monitors, plot and parameters live),
// with 0 the window is as it starts; the two must stay within 10 % of each other.
void BM_TickAndFrame(benchmark::State& state) {
    auto app = std::make_unique<App>();
    start_app(*app, PICTURES);
    WindowExtras extras(*app);
    extras.show_panel(state.range(0) != 0);
    wait_for_frames(app->mainWindow, 1);
    start_run(*app);
    kill_timer(app->mainWindow, TIMER_ID);  // the benchmark delivers the expiries itself
    for (auto _ : state) {
        const long before = frame_counts(app->mainWindow).shown;
        send_message(app->mainWindow, WM_TIMER, TIMER_ID, 0);
        if (!wait_for_frames(app->mainWindow, before + 1)) state.SkipWithError("no frame");
    }
    state.counters["simTime"] = app->sim.storm.simTime;
    close_app(*app);
}
BENCHMARK(BM_TickAndFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(600);

// The tick alone, for comparison: what the simulation costs of the above.
void BM_TickOnly(benchmark::State& state) {
    auto sim = std::make_unique<Simulation>();
    init_app(*sim);
    for (auto _ : state) sim_tick(*sim);
}
BENCHMARK(BM_TickOnly)->Unit(benchmark::kMillisecond)->Iterations(600);

}  // namespace

int main(int argc, char** argv) {
    prepare_window_system();
    QApplication qt(argc, argv);
    // The panel's choice is the benchmark's own: no settings are read or kept.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QCoreApplication::setOrganizationName(QStringLiteral("marovel-bench"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
