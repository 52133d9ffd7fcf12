// The link over a TCP connection with the real serial object and its receive thread, against a
// server in this test. (A suite of its own: processes started by QProcess in the same program
// would blind ThreadSanitizer to this thread's locks.)
#include <gtest/gtest.h>

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "device_link.h"
#include "fake_serial_port.h"
#include "loopback_listener.h"
#include "network_transport.h"
#include "port_list.h"
#include "pty_pair.h"

namespace {

TEST(NetworkLink, ALostConnectionStopsTheLinkAndANewOpenWorks) {
    PauseRecorder pauses;  // SendCommand's pacing is not what is under test
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    const QString url = QStringLiteral("tcp://127.0.0.1:%1").arg(server.serverPort());
    AddPortPath(url);
    DeviceLink link;
    link.SetCloseAction(DeviceLink::CloseAction::KeepOutputs);
    ASSERT_NE(link.OpenPort(PortNumberForPath(url)), 0);
    ASSERT_TRUE(server.waitForNewConnection(3000));
    QTcpSocket* peer = server.nextPendingConnection();
    EXPECT_TRUE(link.IsConnected());
    peer->abort();
    EXPECT_TRUE(WaitUntil([&] { return !link.IsConnected(); }, 5000));
    EXPECT_TRUE(link.IsOpen());
    const BrightnessArg bright{2, 512};
    link.SendCommand(CMD_SETBRIGHTNESS, &bright);  // goes nowhere, returns
    link.ClosePort();

    ASSERT_NE(link.OpenPort(PortNumberForPath(url)), 0);
    ASSERT_TRUE(server.waitForNewConnection(3000));
    QTcpSocket* second = server.nextPendingConnection();
    link.SendCommand(CMD_SETBRIGHTNESS, &bright);
    QByteArray got;
    while (got.size() < 8 && second->waitForReadyRead(3000)) {
        got += second->readAll();
    }
    EXPECT_EQ(got, QByteArray("# 2 512\r"));
}

// A server on a raw socket that, once told that the client's open is done, sends its last
// words and ends the connection: with a close, or with a reset once the words are in the
// client's socket.
struct HangingUpServer {
    sockaddr_in address{};
    int listener = ListenOnLoopback(1, address);
    std::promise<void> opened;
    std::thread thread;

    HangingUpServer(std::string words, bool reset)
        : thread([this, words = std::move(words), reset, go = opened.get_future()] {
              const int peer = ::accept(listener, nullptr, nullptr);
              go.wait();  // a server that hangs up during the open fails the open instead
              ::send(peer, words.data(), words.size(), MSG_NOSIGNAL);
              int unacknowledged = 1;
              while (reset && ::ioctl(peer, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged > 0) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
              const linger now{1, 0};
              if (reset) {
                  ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &now, sizeof now);
              }
              ::close(peer);
          }) {}
    std::uint16_t Port() const { return ntohs(address.sin_port); }
    void HangUp() {
        opened.set_value();
        thread.join();
        ::close(listener);
    }
};

// A server that ends the connection, closing it or with a reset, is reported lost as soon as
// the end arrives (the Controller API reopens on it), and the line it sent before is filed.
TEST(NetworkLink, ReportsTheServersEndAndFilesWhatCameBefore) {
    PauseRecorder pauses;
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "close");
        HangingUpServer server("getmodelch 8\r\n", reset);
        ASSERT_GE(server.listener, 0);
        const QString url = QStringLiteral("tcp://127.0.0.1:%1").arg(server.Port());
        AddPortPath(url);
        DeviceLink link;
        link.SetCloseAction(DeviceLink::CloseAction::KeepOutputs);
        const int result = link.OpenPort(PortNumberForPath(url));
        server.HangUp();
        ASSERT_NE(result, 0);
        EXPECT_TRUE(WaitUntil([&] { return !link.IsConnected(); }, 5000));
        DeviceState state;
        link.TakeSnapshot(state);
        EXPECT_EQ(state.modelChannels, 8);
    }
}

// A connect whose SYN goes unanswered (the listener's queue is full) fails with NoAnswer once
// the connect timeout set on the link has passed, here one longer than the default; the
// message names the timeout.
TEST(NetworkLink, AConnectWithoutAnswerLastsTheTimeoutSetOnTheLink) {
    sockaddr_in a{};
    const int listener = ListenOnLoopback(0, a);  // room for one connection, never accepted
    ASSERT_GE(listener, 0);
    const int queued = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(queued, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const QString url = QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(a.sin_port));
    AddPortPath(url);
    const int number = PortNumberForPath(url);
    DeviceLink link;
    constexpr int kTimeoutMs = kDefaultConnectTimeoutMs + 500;
    link.SetConnectTimeout(kTimeoutMs);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.OpenPort(number), 0);
    // Not a speed check: a deadline never ends early (a millisecond of rounding aside).
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kTimeoutMs - 20));
    EXPECT_EQ(link.LastOpenFailure(), OpenFailure::NoAnswer);
    const QString message = DescribeOpenFailure(OpenFailure::NoAnswer, number, {}, link.ConnectTimeout());
    EXPECT_TRUE(message.contains(QLatin1String("no answer within 3500 ms;"))) << message.toStdString();
    ::close(queued);
    ::close(listener);
}

// The transport alone, on this thread: its waits need no event loop.
struct TransportAt {
    QTcpServer server;
    QObject context;
    bool lost = false;
    std::string received;  // what reached the sink before the loss
    std::unique_ptr<NetworkTransport> transport;

    OpenFailure Open(const QString& host) {
        if (!server.listen(QHostAddress::LocalHost, 0)) {
            return OpenFailure::Other;
        }
        return OpenAt(NetworkPortName{false, host, server.serverPort()});
    }
    OpenFailure OpenAt(const NetworkPortName& target) {
        transport = std::make_unique<NetworkTransport>(target, LineSettings{});
        return transport->Open(&context, {[this](const unsigned char* data, std::size_t n) {
                                               if (!lost) {
                                                   received.append(reinterpret_cast<const char*>(data), n);
                                               }
                                           },
                                           [this] { lost = true; }});
    }
};

TEST(NetworkTransport, ReachesTheServerByAddressOrByName) {
    // A name may resolve to ::1 first, where nothing listens: the next address is tried.
    for (const char* host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        TransportAt t;
        ASSERT_EQ(t.Open(QString::fromLatin1(host)), OpenFailure::None);
        ASSERT_TRUE(t.server.waitForNewConnection(3000));
        QTcpSocket* peer = t.server.nextPendingConnection();
        EXPECT_EQ(t.transport->Write(reinterpret_cast<const unsigned char*>("# 1 2\r"), 6), 6u);
        t.transport->Close();
        QByteArray got;
        while (peer->waitForReadyRead(3000)) {
            got += peer->readAll();
        }
        EXPECT_EQ(got, QByteArray("# 1 2\r"));
        EXPECT_FALSE(t.lost);
    }
}

TEST(NetworkTransport, AServerThatStopsReadingLosesTheConnectionAfterTheWriteTimeout) {
    TransportAt t;
    ASSERT_EQ(t.Open(QStringLiteral("127.0.0.1")), OpenFailure::None);
    ASSERT_TRUE(t.server.waitForNewConnection(3000));  // accepted, never read
    const std::vector<unsigned char> block(1 << 20, 'x');
    std::uint32_t written = 1;
    for (int i = 0; i < 64 && written != 0; ++i) {  // far more than the socket buffers hold
        written = t.transport->Write(block.data(), static_cast<std::uint32_t>(block.size()));
    }
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(t.lost);
    EXPECT_EQ(t.transport->Write(block.data(), 1), 0u);
}

// Whether the kernel still lists a connection to the local TCP port (the client's end of it:
// a reset takes it out).
bool ConnectionTo(std::uint16_t port) {
    QFile tcp(QStringLiteral("/proc/net/tcp"));
    const QString remote = QStringLiteral(" 0100007F:%1 ").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    return tcp.open(QIODevice::ReadOnly) && QString::fromLatin1(tcp.readAll()).contains(remote);
}

// The server says something and resets the connection, and both wait unread (no event loop
// runs here) when the next write fails on the reset: what the server said still reaches the
// sink, before the loss (the answer to the last command, or why the server hung up).
TEST(NetworkTransport, AWriteThatMeetsAResetFirstDeliversWhatTheServerSaidBefore) {
    HangingUpServer server("Port already in use\r\n", true);
    ASSERT_GE(server.listener, 0);
    TransportAt t;
    const OpenFailure result = t.OpenAt(NetworkPortName{false, QStringLiteral("127.0.0.1"), server.Port()});
    server.HangUp();
    ASSERT_EQ(result, OpenFailure::None);
    ASSERT_TRUE(WaitUntil([&] { return !ConnectionTo(server.Port()); }, 5000));
    EXPECT_EQ(t.transport->Write(reinterpret_cast<const unsigned char*>("getsn\r"), 6), 0u);
    EXPECT_TRUE(t.lost);
    EXPECT_EQ(t.received, "Port already in use\r\n");
}

// A server that streams telnet subnegotiation starts (IAC SB ...) without pause: the client
// always has bytes to read and never gets its answers. Open and Close end by their deadlines
// (about 2 s and 0.3 s), so the client hangs up while the server still streams; a client that
// waited for a pause would see the server stop by itself after 10 s.
TEST(NetworkTransport, AServerThatNeverPausesHoldsNeitherOpenNorClosePastTheirDeadlines) {
    sockaddr_in address{};
    const int listener = ListenOnLoopback(1, address);
    ASSERT_GE(listener, 0);
    std::atomic<bool> hungUpOn{false};
    std::thread server([&] {
        const int peer = ::accept(listener, nullptr, nullptr);
        const std::string flood = QByteArray("\xFF\xFA").repeated(32 * 1024).toStdString();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!hungUpOn && std::chrono::steady_clock::now() < end) {
            hungUpOn = ::send(peer, flood.data(), flood.size(), MSG_NOSIGNAL) < 0;
        }
        ::close(peer);
    });
    TransportAt t;
    EXPECT_EQ(t.OpenAt(NetworkPortName{true, QStringLiteral("127.0.0.1"), ntohs(address.sin_port)}), OpenFailure::None);
    t.transport->Close();
    server.join();
    ::close(listener);
    EXPECT_TRUE(hungUpOn);
}

}  // namespace
