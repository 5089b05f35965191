// The network window as a surveyor feels it: a folder of 1,000 field books dropped on it and
// listed with their lines and sections, and a 10⁴-point job from F5 to its results on screen;
// each with the longest the window went without answering (the longest gap between two turns
// of its event loop) as a counter.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "netui/NetworkWindow.h"

namespace {

namespace fs = std::filesystem;
using rendle::netui::NetworkWindow;

/// Runs the event loop until `done`, measuring the longest gap between its turns (ms).
double Answering(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start();
    while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return static_cast<double>(longest);
}

void BM_ListAFolderOfBooks(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string north = std::string(RENDLE_EXAMPLES_DIR) + "/network/north.gsi";
    for (int i = 0; i < state.range(0); ++i) {
        fs::copy_file(north, dir.filePath(QString("day-%1.gsi").arg(i)).toStdString());
    }
    double longest = 0;
    for (auto _ : state) {
        NetworkWindow window;
        window.tell = [](const QString&) {};
        window.show();
        window.addPaths({dir.path().toStdString()});
        longest = std::max(longest, Answering([&] { return !window.busy(); }));
        if (window.job().inputs.size() != static_cast<size_t>(state.range(0))) {
            state.SkipWithError("not every book was listed");
        }
    }
    state.counters["longest_unanswered_ms"] = longest;
}
BENCHMARK(BM_ListAFolderOfBooks)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_AdjustAGridOnScreen(benchmark::State& state) {
    QTemporaryDir dir;
    const int n = static_cast<int>(state.range(0));
    const std::string csv = dir.filePath("grid.csv").toStdString();
    {
        std::ofstream out(csv);
        out << "from,to,dh,length_km\n";
        const auto name = [](int i, int j) {
            return "P" + std::to_string(i) + "_" + std::to_string(j);
        };
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                // Heights from a smooth surface, each section off by up to 0.3 mm.
                const auto h = [](int a, int b) { return 0.01 * a * a - 0.02 * a * b + 0.5 * b; };
                const double wobble = ((i * 7 + j * 13) % 7 - 3) * 0.0001;
                if (i + 1 < n)
                    out << name(i, j) << "," << name(i + 1, j) << ","
                        << h(i + 1, j) - h(i, j) + wobble << ",0.5\n";
                if (j + 1 < n)
                    out << name(i, j) << "," << name(i, j + 1) << ","
                        << h(i, j + 1) - h(i, j) - wobble << ",0.5\n";
            }
        }
    }
    NetworkWindow window;
    window.tell = [](const QString&) {};
    window.show();
    rendle::network::NetworkJob job;
    job.fixes = {"P0_0=10"};
    window.setJob(job);
    window.addPaths({csv});
    Answering([&] { return !window.busy(); });
    double longest = 0;
    for (auto _ : state) {
        QSignalSpy finished(&window, &NetworkWindow::adjustmentFinished);
        window.adjust();
        longest = std::max(longest, Answering([&] { return finished.count() > 0; }));
        if (!window.result()) state.SkipWithError("not adjusted");
    }
    state.counters["longest_unanswered_ms"] = longest;
}
BENCHMARK(BM_AdjustAGridOnScreen)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
