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
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

// A local TCP port that nothing listens on (at the time of the call).
inline quint16 FreeTcpPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// ser2net's arguments: one configuration block on the command line ('#' stands for a line
// break there), in the foreground, serving device on 127.0.0.1:port.
inline QStringList Ser2netArguments(const std::string& device, bool rfc2217, quint16 port) {
    const QString config = QStringLiteral("connection: &controller#  accepter: %1tcp,127.0.0.1,%2#"
                                          "  connector: serialdev,%3,115200n81,local")
                               .arg(rfc2217 ? "telnet(rfc2217)," : "")
                               .arg(port)
                               .arg(QString::fromStdString(device));
    return {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-Y"), config};
}

// Something listens on 127.0.0.1:port, as the kernel's socket table shows.
inline bool ListeningOn(quint16 port) {
    QFile tcp(QStringLiteral("/proc/net/tcp"));
    const QString local = QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    return tcp.open(QIODevice::ReadOnly) && QString::fromLatin1(tcp.readAll()).contains(local + QStringLiteral(" 00000000:0000 0A"));
}

class Ser2netProcess {
public:
    static QString Program() { return QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/usr/local/sbin"}); }

    // port 0: a free one.
    Ser2netProcess(const std::string& device, bool rfc2217, quint16 port = 0)
        : port_(port != 0 ? port : FreeTcpPort()), rfc2217_(rfc2217) {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(Program(), Ser2netArguments(device, rfc2217, port_));
        // Listening shows in the kernel's socket table; a probe connection would open the device.
        for (int i = 0; i < 100 && process_.waitForStarted(1000) && !ListeningOn(port_); ++i) {
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

    bool ok() const { return ListeningOn(port_); }
    quint16 Port() const { return port_; }
    QString Url() const { return QStringLiteral("%1://127.0.0.1:%2").arg(rfc2217_ ? "rfc2217" : "tcp").arg(port_); }
    QString Output() { return QString::fromLocal8Bit(process_.readAll()); }

private:
    QProcess process_;
    quint16 port_;
    bool rfc2217_;
};

// The same server started with fork and exec instead of QProcess, for suites that run the link
// in their own process under ThreadSanitizer: QProcess's way of starting a child blinds it to
// the locks of the thread that started it.
class Ser2netChild {
public:
    Ser2netChild(const std::string& device, bool rfc2217, quint16 port = 0)
        : port_(port != 0 ? port : FreeTcpPort()), rfc2217_(rfc2217) {
        const std::string program = Ser2netProcess::Program().toStdString();
        std::vector<std::string> args{program};
        for (const QString& a : Ser2netArguments(device, rfc2217, port_)) {
            args.push_back(a.toStdString());
        }
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        for (int i = 0; i < 200 && pid_ > 0 && !ListeningOn(port_); ++i) {
            QThread::msleep(50);
        }
    }
    ~Ser2netChild() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    Ser2netChild(const Ser2netChild&) = delete;
    Ser2netChild& operator=(const Ser2netChild&) = delete;

    bool ok() const { return ListeningOn(port_); }
    quint16 Port() const { return port_; }
    std::string Url() const {
        return (rfc2217_ ? "rfc2217://127.0.0.1:" : "tcp://127.0.0.1:") + std::to_string(port_);
    }

private:
    pid_t pid_ = -1;
    quint16 port_;
    bool rfc2217_;
};
