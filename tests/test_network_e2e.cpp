// Controllers behind a serial device server: the lumitrax program against lumitrax-sim
// forwarded by ser2net, raw and RFC 2217; servers that refuse or never answer.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <thread>

#include "loopback_listener.h"
#include "ser2net_process.h"
#include "sim_process.h"

namespace {

struct Outcome {
    int exitCode = -1;  // -1: did not end normally within a minute
    QString out, err;
};

Outcome Lumitrax(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(LUMITRAX_CLI_PATH), args);
    const bool ended = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit;
    p.kill();
    p.waitForFinished();
    return ended ? Outcome{p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()} : Outcome{};
}

TEST(NetworkEndToEnd, ToolReachesTheSimulatorThroughSer2netRawAndRfc2217) {
    if (Ser2netProcess::Program().isEmpty()) {
        GTEST_SKIP() << "ser2net is not installed (scripts/setup installs it)";
    }
    for (const bool rfc2217 : {false, true}) {
        SCOPED_TRACE(rfc2217 ? "rfc2217" : "raw");
        QTemporaryDir dir;
        const QString transcript = dir.filePath(QStringLiteral("t.txt"));
        SimProcess sim({"--model", "LX-NET", "--transcript", transcript.toStdString()});
        ASSERT_FALSE(sim.devicePath().empty()) << sim.ErrorOutput();
        Ser2netProcess server(sim.devicePath(), rfc2217);
        ASSERT_TRUE(server.ok()) << server.Output().toStdString();

        const Outcome info = Lumitrax({"--port", server.Url(), "info"});
        EXPECT_EQ(info.exitCode, 0) << info.err.toStdString();
        EXPECT_TRUE(info.out.split('\n').contains(QStringLiteral("model            LX-NET"))) << info.out.toStdString();
        EXPECT_EQ(Lumitrax({"--port", server.Url(), "set", "3", "512"}).exitCode, 0);
        // 255 is 0xFF 0x00 in the packet: the telnet escape must not show at the controller.
        EXPECT_EQ(Lumitrax({"--port", server.Url(), "packet", "255", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10",
                            "11", "12", "13", "14", "1023"})
                      .exitCode,
                  0);
        QFile t(transcript);
        ASSERT_TRUE(t.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromLatin1(t.readAll()).split('\n');
        EXPECT_TRUE(lines.contains(QStringLiteral("# 2 512"))) << lines.join('|').toStdString();
        EXPECT_TRUE(lines.contains(QStringLiteral("fe fe 1b 00 20 00 ff 00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00 "
                                                  "09 00 0a 00 0b 00 0c 00 0d 00 0e 03 ff fd")))
            << lines.join('|').toStdString();
    }
}

TEST(NetworkEndToEnd, RefusedAndSilentServersEndTheToolWithTheirExitStatus) {
    const Outcome refused = Lumitrax({"--port", QStringLiteral("tcp://127.0.0.1:%1").arg(FreeTcpPort()), "info"});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("refused"))) << refused.err.toStdString();

    // Accepted by the kernel, never read or answered.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    for (const char* scheme : {"tcp", "rfc2217"}) {
        const Outcome o = Lumitrax({"--port", QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(silent.serverPort()), "info"});
        EXPECT_EQ(o.exitCode, 1) << scheme << ": " << o.err.toStdString();
    }
    // Ctrl+C while the silent server holds the negotiation: once forgotten when the call began,
    // so that a configuration was written all the same.
    QTcpServer holding;
    ASSERT_TRUE(holding.listen(QHostAddress::LocalHost, 0));
    QProcess interrupted;
    interrupted.start(QStringLiteral(LUMITRAX_CLI_PATH),
                      {"--port", QStringLiteral("rfc2217://127.0.0.1:%1").arg(holding.serverPort()), "set", "3", "5"});
    ASSERT_TRUE(interrupted.waitForStarted());
    QThread::msleep(300);
    ::kill(static_cast<pid_t>(interrupted.processId()), SIGINT);
    ASSERT_TRUE(interrupted.waitForFinished(10000));
    EXPECT_EQ(interrupted.exitCode(), 130);
    ASSERT_TRUE(holding.waitForNewConnection(1000));
    QTcpSocket* connection = holding.nextPendingConnection();
    connection->waitForReadyRead(1000);
    const QByteArray received = connection->readAll();
    EXPECT_FALSE(received.isEmpty());         // the negotiation
    EXPECT_FALSE(received.contains('\r')) << received.toHex().toStdString();  // and no command

    // Opened, then lost at the first command: the controller gone (1), not a port that did not
    // open (3).
    std::promise<std::uint16_t> listening;
    std::thread hangUp([&listening] {
        QTcpServer server;
        listening.set_value(server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0);
        if (server.waitForNewConnection(30000)) {
            server.nextPendingConnection()->waitForReadyRead(30000);
        }
    });  // the connection, a child of the server, closes with it
    const QString url = QStringLiteral("tcp://127.0.0.1:%1").arg(listening.get_future().get());
    const Outcome lost = Lumitrax({"--port", url, "set", "3", "5"});
    hangUp.join();
    EXPECT_EQ(lost.exitCode, 1) << lost.err.toStdString();
    EXPECT_TRUE(lost.err.contains(QStringLiteral("lost"))) << lost.err.toStdString();
}

// ser2net accepts and closes at once, saying why, when its device does not open (or another
// client holds it): the open fails with the server's words, and monitor prints none of them.
TEST(NetworkEndToEnd, AServerThatClosesAtOnceFailsTheOpenWithItsOwnWords) {
    if (Ser2netProcess::Program().isEmpty()) {
        GTEST_SKIP() << "ser2net is not installed (scripts/setup installs it)";
    }
    for (const bool rfc2217 : {false, true}) {
        Ser2netProcess server("/nonexistent/lumitrax-tty", rfc2217);
        ASSERT_TRUE(server.ok()) << server.Output().toStdString();
        for (const char* command : {"info", "monitor"}) {
            const Outcome o = Lumitrax({"--port", server.Url(), command});
            EXPECT_EQ(o.exitCode, 3) << command << " " << o.err.toStdString();
            EXPECT_TRUE(o.err.contains(QStringLiteral("saying \"Device open failure"))) << o.err.toStdString();
            EXPECT_TRUE(o.out.isEmpty()) << o.out.toStdString();
        }
    }
}

// An interrupt while the connect waits (the listener's queue is full: its SYN is dropped) ends
// every command, monitor included, as interrupted: not after the 3 s connect timeout as a port
// that did not open.
TEST(NetworkEndToEnd, AnInterruptEndsAConnectThatStillWaits) {
    sockaddr_in a{};
    const int listener = ListenOnLoopback(0, a);  // room for one connection, never accepted
    ASSERT_GE(listener, 0);
    const int queued = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(queued, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    // A connect that waits shows in the kernel's table as SYN_SENT (02) towards the port.
    const QString waiting =
        QStringLiteral(" 0100007F:%1 02 ").arg(ntohs(a.sin_port), 4, 16, QLatin1Char('0')).toUpper();
    const auto someoneWaits = [&waiting] {
        QFile tcp(QStringLiteral("/proc/net/tcp"));
        return tcp.open(QIODevice::ReadOnly) && QString::fromLatin1(tcp.readAll()).contains(waiting);
    };
    for (const auto& [command, signal] : {std::pair{"monitor", SIGINT}, std::pair{"info", SIGTERM}}) {
        QProcess p;
        p.start(QStringLiteral(LUMITRAX_CLI_PATH),
                {"--port", QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(a.sin_port)), command});
        for (int i = 0; i < 500 && !someoneWaits(); ++i) {
            QThread::msleep(10);
        }
        ASSERT_TRUE(someoneWaits()) << command;
        ::kill(static_cast<pid_t>(p.processId()), signal);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 128 + signal) << command;
        EXPECT_TRUE(p.readAllStandardError().contains("interrupted while connecting")) << command;
    }
    ::close(queued);
    ::close(listener);
}

TEST(NetworkEndToEnd, MonitorEndsWithExit1WhenTheServerGoesAway) {
    if (Ser2netProcess::Program().isEmpty()) {
        GTEST_SKIP() << "ser2net is not installed (scripts/setup installs it)";
    }
    SimProcess sim({"--switch-every", "50"});
    ASSERT_FALSE(sim.devicePath().empty()) << sim.ErrorOutput();
    auto server = std::make_unique<Ser2netProcess>(sim.devicePath(), false);
    ASSERT_TRUE(server->ok()) << server->Output().toStdString();
    QProcess monitor;
    monitor.start(QStringLiteral(LUMITRAX_CLI_PATH), {"--port", server->Url(), "monitor"});
    QByteArray out;
    while (out.count('\n') < 2 && monitor.waitForReadyRead(5000)) {
        out += monitor.readAllStandardOutput();
    }
    ASSERT_GE(out.count('\n'), 2) << out.toStdString();
    server.reset();
    ASSERT_TRUE(monitor.waitForFinished(10000));
    EXPECT_EQ(monitor.exitCode(), 1);
    EXPECT_TRUE(monitor.readAllStandardError().contains("connection was lost"));
}

}  // namespace
