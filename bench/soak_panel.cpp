// Soak driver: the real main window on a real port runs test program 0 ("ramp all") on 16
// channels for a given time, then reports resident memory, the message list's size and how long
// the window takes to answer a click. Run by bench/soak.sh against lumitrax-sim.
//   soak_panel DEVICE SECONDS
// With --idle it only opens the port (the status timer runs) and reports the CPU time the
// process used over SECONDS; bench/startup.sh runs it so.
#include <sys/resource.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

#include "control_panel.h"
#include "message_list.h"
#include "main_dialog.h"
#include "port_list.h"

namespace {

// VmRSS or VmHWM of this process, in KiB.
long StatusKib(const char* field) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(key)) {
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

// Posts a press and release on the button's centre (as the window system would deliver them)
// and returns the milliseconds until its clicked signal has been handled.
double ClickLatencyMs(QAbstractButton* button) {
    QElapsedTimer timer;
    bool answered = false;
    double ms = -1;
    const auto connection = QObject::connect(button, &QAbstractButton::clicked, button, [&] {
        ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        answered = true;
    });
    const QPointF centre = QRectF(button->rect()).center();
    const QPointF global = button->mapToGlobal(centre);
    timer.start();
    QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonPress, centre, global, Qt::LeftButton,
                                                        Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton,
                                                        Qt::NoButton, Qt::NoModifier));
    QElapsedTimer limit;
    limit.start();
    while (!answered && limit.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    QObject::disconnect(connection);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    const bool idle = argc == 4 && QByteArray(argv[3]) == "--idle";
    if (argc != 3 && !idle) {
        std::fprintf(stderr, "usage: %s DEVICE SECONDS [--idle]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const QString device = QString::fromLocal8Bit(argv[1]);
    const int seconds = QString::fromLocal8Bit(argv[2]).toInt();
    AddPortPath(device);

    CMainDlg window;
    window.show();
    CControlPanelDlg* panel = window.Panel();
    // The channel rows and the port list are completed after the window's first frame.
    QElapsedTimer shown;
    shown.start();
    while (!panel->IsCreated() && shown.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    panel->m_editChannelInput->setText(QStringLiteral("16"));
    panel->m_comboPort->setCurrentIndex(0);
    panel->OnOpenPort();
    if (panel->m_bPortOpen != 1) {
        std::fprintf(stderr, "soak: %s did not open\n", argv[1]);
        return 1;
    }
    if (idle) {
        QTimer::singleShot(1000, &app, &QCoreApplication::quit);  // the read-all and splash settle
        app.exec();
        const auto cpu = [] {
            rusage usage {};
            ::getrusage(RUSAGE_SELF, &usage);
            return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        };
        const double before = cpu();
        QElapsedTimer wall;
        wall.start();
        QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
        app.exec();
        const double used = cpu() - before;
        std::printf("idle with the port open: %.3f s CPU in %.1f s = %.2f %% of one core\n", used,
                    static_cast<double>(wall.elapsed()) / 1000.0, 100.0 * used * 1000.0 / static_cast<double>(wall.elapsed()));
        panel->OnClosePort();
        return 0;
    }
    panel->m_comboTestMode->setCurrentIndex(0);
    panel->m_checkTest->click();
    std::printf("start: rss %ld KiB, messages %d\n", StatusKib("VmRSS"), panel->MessageCount());
    std::fflush(stdout);

    QElapsedTimer clock;
    clock.start();
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [&] {
        std::printf("%4lld s: rss %ld KiB, messages %d\n", clock.elapsed() / 1000, StatusKib("VmRSS"),
                    panel->MessageCount());
        std::fflush(stdout);
    });
    progress.start(60000);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    progress.stop();

    // Channel 1's "on" box: a click sends one command while the test program keeps running.
    QCheckBox* on1 = panel->m_checkMatrix[kOnColumn];
    double worst = 0;
    double total = 0;
    for (int i = 0; i < 5; ++i) {
        const double ms = ClickLatencyMs(on1);
        worst = std::max(worst, ms);
        total += ms;
    }
    std::printf("end: rss %ld KiB (peak %ld KiB), messages %d, click answered in %.1f ms mean, %.1f ms worst of 5\n",
                StatusKib("VmRSS"), StatusKib("VmHWM"), panel->MessageCount(), total / 5, worst);
    const MessageRing& ring = panel->m_listMessages->Ring();
    std::printf("message list: %d lines, their bytes and index hold %zu bytes = %.1f bytes a line\n", ring.Count(),
                ring.BytesHeld(), ring.Count() > 0 ? static_cast<double>(ring.BytesHeld()) / ring.Count() : 0.0);
    panel->m_checkTest->click();
    panel->OnClosePort();
    return 0;
}
