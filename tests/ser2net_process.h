#pragma once
// Debian's ser2net (4.x) serving one device on a free local TCP port, raw or as RFC 2217,
// run in the foreground for the end-to-end tests and stopped by the destructor. A suite that
// needs it skips when it is not installed (scripts/setup installs it).

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>

#include <string>

// A local TCP port that nothing listens on (at the time of the call).
inline quint16 FreeTcpPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

class Ser2netProcess {
public:
    static QString Program() { return QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/usr/local/sbin"}); }

    // port 0: a free one.
    Ser2netProcess(const std::string& device, bool rfc2217, quint16 port = 0)
        : port_(port != 0 ? port : FreeTcpPort()), rfc2217_(rfc2217) {
        // One configuration block on the command line; '#' stands for a line break there.
        const QString config = QStringLiteral("connection: &controller#  accepter: %1tcp,127.0.0.1,%2#"
                                              "  connector: serialdev,%3,115200n81,local")
                                   .arg(rfc2217 ? "telnet(rfc2217)," : "")
                                   .arg(port_)
                                   .arg(QString::fromStdString(device));
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(Program(), {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-Y"), config});
        // Listening shows in the kernel's socket table; a probe connection would open the device.
        for (int i = 0; i < 100 && process_.waitForStarted(1000) && !Listening(); ++i) {
            QThread::msleep(50);
        }
    }
    ~Ser2netProcess() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished();
        }
    }

    bool ok() const { return Listening(); }
    quint16 Port() const { return port_; }
    QString Url() const { return QStringLiteral("%1://127.0.0.1:%2").arg(rfc2217_ ? "rfc2217" : "tcp").arg(port_); }
    QString Output() { return QString::fromLocal8Bit(process_.readAll()); }

private:
    bool Listening() const {
        QFile tcp(QStringLiteral("/proc/net/tcp"));
        const QString local = QStringLiteral("0100007F:%1").arg(port_, 4, 16, QLatin1Char('0')).toUpper();
        return tcp.open(QIODevice::ReadOnly) && QString::fromLatin1(tcp.readAll()).contains(local + QStringLiteral(" 00000000:0000 0A"));
    }

    QProcess process_;
    quint16 port_;
    bool rfc2217_;
};
