// Wall time of the panel's "Refresh" and of "Search" per answering port against lumitrax-sim
// on a pseudo-terminal, beside the floor that the fixed waits set:
//   Refresh: 1000 ms + 29 commands x 10 ms (8 channels)            = 1290 ms
//   Search, per port: 7 x 100 ms + 800 ms + 1000 ms + 9 x 10 ms    = 2590 ms
// Usage: bench_port_actions PATH-TO-lumitrax-sim [rounds]
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QComboBox>
#include <QProcess>

#include <cstdio>
#include <memory>

#include "control_panel.h"

namespace {

class NoBox final : public IMessageBox {
public:
    void Show(QWidget*, const QString&, const QString&, MessageIcon) override {}
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH-TO-lumitrax-sim [rounds]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    QProcess sim;
    sim.start(QString::fromLocal8Bit(argv[1]), {QStringLiteral("--echo"), QStringLiteral("0")});
    if (!sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();

    PanelPlatform platform = PanelPlatform::Real();
    platform.messageBox = std::make_shared<NoBox>();
    platform.listPorts = [path] {
        AddPortPath(path);
        const int n = PortNumberForPath(path);
        return std::vector<PortEntry>{{n, path, QString(), QStringLiteral("COM%1 %2").arg(n).arg(path)}};
    };
    QWidget host;
    CControlPanelDlg panel(&host, platform);
    panel.Create();
    panel.m_editChannelInput->setText(QStringLiteral("8"));
    panel.OnOpenPort();
    if (panel.m_bPortOpen != 1) {
        std::fprintf(stderr, "open failed\n");
        return 1;
    }
    double refreshBest = 1e9, refreshSum = 0;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        panel.OnRefresh();
        const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        refreshBest = std::min(refreshBest, ms);
        refreshSum += ms;
        app.processEvents();
    }
    panel.OnClosePort();
    double searchBest = 1e9, searchSum = 0;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        panel.OnSearchPorts();
        const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        searchBest = std::min(searchBest, ms);
        searchSum += ms;
    }
    std::printf("Refresh: best %.1f ms, mean %.1f ms, floor 1290 ms (+%.2f%%)\n", refreshBest, refreshSum / rounds,
                (refreshBest / 1290.0 - 1.0) * 100.0);
    std::printf("Search, one answering port: best %.1f ms, mean %.1f ms, floor 2590 ms (+%.2f%%)\n", searchBest,
                searchSum / rounds, (searchBest / 2590.0 - 1.0) * 100.0);
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
