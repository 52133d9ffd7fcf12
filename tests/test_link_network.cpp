// The link over a TCP connection with the real serial object and its receive thread, against a
// server in this test. (A suite of its own: processes started by QProcess in the same program
// would blind ThreadSanitizer to this thread's locks.)
#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>

#include "device_link.h"
#include "fake_serial_port.h"
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

}  // namespace
