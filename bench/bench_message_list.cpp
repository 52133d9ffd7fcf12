// The panel's message list at its bound: inserting a line on top of 100,000 lines (and
// dropping the oldest), as a test program left running for hours does, with the window shown.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <memory>

#include "control_panel.h"

namespace {

constexpr int kBound = 100000;

void BM_AddMessageAtTheBound(benchmark::State& state) {
    QWidget host;
    host.resize(1200, 900);
    CControlPanelDlg panel(&host);
    panel.Create();
    host.show();
    for (int i = 0; i < kBound; ++i) {
        panel.AddMessage(QStringLiteral("-> # 2 512\r"));
    }
    QApplication::processEvents();
    long long n = 0;
    for (auto _ : state) {
        panel.AddMessage(QStringLiteral("gettrigger 0 1 1 1 0 99 49 490"));
        // A status tick adds its lines and then the window repaints once.
        if (++n % 64 == 0) {
            QApplication::processEvents();
        }
    }
    state.counters["lines"] = panel.MessageCount();
}
BENCHMARK(BM_AddMessageAtTheBound)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
