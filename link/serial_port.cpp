#include "serial_port.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "network_transport.h"
#include "port_list.h"
#include "port_transport.h"
#include "serial_transport.h"

namespace {

bool SelectSettings(int speedCode, int formatCode, LineSettings& out) {
    static const qint32 kBauds[] = {9600, 19200, 38400, 57600, 115200};
    if (speedCode < 0 || speedCode > 4 || formatCode < 0 || formatCode > 4) {
        return false;
    }
    out.baud = kBauds[speedCode];
    out.dataBits = QSerialPort::Data8;
    out.parity = formatCode == 1   ? QSerialPort::EvenParity
                 : formatCode == 2 ? QSerialPort::OddParity
                                   : QSerialPort::NoParity;
    out.stopBits = formatCode == 3 ? QSerialPort::TwoStop : QSerialPort::OneStop;
    out.flow = formatCode == 4 ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl;
    return true;
}

#ifdef Q_OS_UNIX
// Why a device path that QSerialPort refused did not open. The file system tells most of it;
// QSerialPort reports a port held by another program as a permission error, so an accessible
// device refused "for permission" is taken to be busy.
OpenFailure ClassifyOpenFailure(const QString& path, QSerialPort::SerialPortError error) {
    const QByteArray native = path.toLocal8Bit();
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        return OpenFailure::NotFound;
    }
    if (!S_ISCHR(st.st_mode)) {
        return OpenFailure::NotSerial;
    }
    if (::access(native.constData(), R_OK | W_OK) != 0) {
        return OpenFailure::NoPermission;
    }
    if (error == QSerialPort::PermissionError) {
        return OpenFailure::Busy;
    }
    if (error == QSerialPort::DeviceNotFoundError) {
        return OpenFailure::NotFound;
    }
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        const bool terminal = ::isatty(fd) != 0;
        ::close(fd);
        if (!terminal) {
            return OpenFailure::NotSerial;
        }
    }
    return OpenFailure::Other;
}
#else
OpenFailure ClassifyOpenFailure(const QString&, QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::DeviceNotFoundError: return OpenFailure::NotFound;
    case QSerialPort::PermissionError: return OpenFailure::Busy;
    default: return OpenFailure::Other;
    }
}
#endif

}  // namespace

std::unique_ptr<PortTransport> MakePortTransport(const QString& path, const LineSettings& settings,
                                                 const std::atomic<bool>* stop, int connectTimeoutMs,
                                                 OpenFailure* failure) {
    if (IsNetworkPortName(path)) {
        NetworkPortName target;
        if (!ParseNetworkPortName(path, target)) {
            *failure = OpenFailure::BadAddress;
            return nullptr;
        }
        return std::make_unique<NetworkTransport>(target, settings, stop, connectTimeoutMs);
    }
    return std::make_unique<SerialTransport>(path, settings, &ClassifyOpenFailure);
}

QString DescribeOpenFailure(OpenFailure failure, int portNumber, const QString& serverMessage, int connectTimeoutMs) {
    const QString name = QStringLiteral("COM%1").arg(portNumber);
    const QString path = ResolvePortName(name.toLatin1().constData());
    const QString device = path.isEmpty() ? name : path;
    switch (failure) {
    case OpenFailure::None:
        return {};
    case OpenFailure::NotFound:
        return path.isEmpty() ? QStringLiteral("%1: no device has this number").arg(name)
                              : QStringLiteral("%1: the device is gone; check the cable or adapter and choose the port again").arg(device);
    case OpenFailure::NoPermission: {
        QString owner;
        QString group;
        bool groupMayUse = false;
        bool ownerMayUse = false;
#ifdef Q_OS_UNIX
        struct stat st {};
        if (::stat(path.toLocal8Bit().constData(), &st) == 0) {
            if (const struct group* g = ::getgrgid(st.st_gid)) {
                group = QString::fromLocal8Bit(g->gr_name);
            }
            if (const struct passwd* u = ::getpwuid(st.st_uid)) {
                owner = QString::fromLocal8Bit(u->pw_name);
            }
            groupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
            ownerMayUse = (st.st_mode & (S_IRUSR | S_IWUSR)) == (S_IRUSR | S_IWUSR);
        }
#endif
        // Joining the device's group helps only when that group may read and write it, and
        // the administrators' group "root" is never the advice.
        if (!group.isEmpty() && groupMayUse && group != QLatin1String("root")) {
            return QStringLiteral("%1: no permission; join the group \"%2\" (sudo usermod -aG %2 $USER) and log in again")
                .arg(device, group);
        }
        const QString udev = QStringLiteral("a udev rule can give a group access (GROUP=\"dialout\", MODE=\"0660\")");
        if (!owner.isEmpty() && ownerMayUse && !groupMayUse) {
            return QStringLiteral("%1: no permission; only its owner \"%2\" may open it; %3").arg(device, owner, udev);
        }
        if (!group.isEmpty()) {
            return QStringLiteral("%1: no permission; %2").arg(device, udev);
        }
        return QStringLiteral("%1: no permission to use the device").arg(device);
    }
    case OpenFailure::Busy:
        return QStringLiteral("%1: held by another program; close the port there first").arg(device);
    case OpenFailure::NotSerial:
        return QStringLiteral("%1: not a serial device").arg(device);
    case OpenFailure::Other:
        break;
    case OpenFailure::Interrupted:
        return QStringLiteral("%1: interrupted while connecting").arg(device);
    case OpenFailure::BadAddress:
        return QStringLiteral("%1: not a network address; write tcp://HOST:PORT or rfc2217://HOST:PORT").arg(device);
    case OpenFailure::HostNotFound:
        return QStringLiteral("%1: host not found; check the name, or give the device server's IP address").arg(device);
    case OpenFailure::Refused:
        return QStringLiteral("%1: connection refused; check the port number and that the device server (ser2net) is running and serves that port").arg(device);
    case OpenFailure::LineSettings:
        return QStringLiteral("%1: the device server keeps its serial line at %2, not 115200 baud 8N1; let clients set the line, or set it to 115200n81 there").arg(device, serverMessage);
    case OpenFailure::Unreachable:
        return QStringLiteral("%1: no route to the host from this computer; check the address and this computer's network").arg(device);
    case OpenFailure::NoAnswer:
        return QStringLiteral("%1: no answer within %2; check that the device server is on and reachable from this computer (network, firewall)")
            .arg(device, connectTimeoutMs % 1000 == 0 ? QStringLiteral("%1 s").arg(connectTimeoutMs / 1000)
                                                      : QStringLiteral("%1 ms").arg(connectTimeoutMs));
    case OpenFailure::ConnectionLost:
        if (!serverMessage.isEmpty()) {
            return QStringLiteral("%1: connection lost; the device server closed it at once, saying \"%2\"").arg(device, serverMessage);
        }
        return QStringLiteral("%1: connection lost; the device server closed it (its serial port may be in use by another client) or the network failed; close and open the port again").arg(device);
    }
    return QStringLiteral("%1: the port could not be set up").arg(device);
}

// The receive thread is a std::thread running a Qt event loop; every Qt object of the port is
// created, used and deleted on it. The window thread hands jobs (write, close) over through
// `mutex`/`cv` and wakes the loop through a pipe, so the hand-over never relies on Qt's
// internal (uninstrumented) locking and the sanitizers see every ordering the code needs.
struct CPortwire::Impl {
    std::thread thread;
    std::thread::id threadId;
    ReceiveCallback callback = nullptr;
    int portNumber = 0;  // set before the receive thread starts
    std::atomic<bool> open{false};
    std::unique_ptr<PortTransport> transport;  // made on the window thread, then receive thread only

    // Receive thread only.
    QEventLoop* loop = nullptr;
    QObject* context = nullptr;
#ifdef Q_OS_UNIX
    QSocketNotifier* wakeNotifier = nullptr;
    int wakePipe[2] = {-1, -1};
#endif

    std::mutex mutex;
    std::condition_variable cv;
    bool started = false;  // the open attempt has finished
    bool opened = false;
    OpenFailure failure = OpenFailure::None;  // written before `started`, then window thread
    QString openMessage;                      // the same
    const std::atomic<bool>* openStop = nullptr;  // window thread, before Create
    int connectTimeoutMs = kDefaultConnectTimeoutMs;  // the same
    std::function<void()> lostHandler;                // the same

    struct Job {
        enum Kind { Write, Close };
        explicit Job(Kind k) : kind(k) {}
        Kind kind;
        const unsigned char* data = nullptr;
        std::uint32_t length = 0;
        bool done = false;
        std::uint32_t result = 0;
    };
    std::deque<Job*> jobs;

    // Received bytes not yet taken; receive thread only.
    std::vector<unsigned char> rx;
    std::size_t rxHead = 0;

    ~Impl() {
#ifdef Q_OS_UNIX
        for (int& fd : wakePipe) {
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
        }
#endif
    }

    // Window thread: queues a job for the receive thread and waits until it has run.
    std::uint32_t Run(Job& job) {
        {
            std::lock_guard lock(mutex);
            jobs.push_back(&job);
        }
        Wake();
        std::unique_lock lock(mutex);
        cv.wait(lock, [&job] { return job.done; });
        return job.result;
    }

    void Wake() {
#ifdef Q_OS_UNIX
        const char byte = 1;
        // A full pipe already holds a pending wake-up.
        (void)!::write(wakePipe[1], &byte, 1);
#else
        QMetaObject::invokeMethod(context, [this] { RunJobs(); }, Qt::QueuedConnection);
#endif
    }

    // Receive thread: the whole life of the connection.
    void Main() {
        threadId = std::this_thread::get_id();
        QEventLoop eventLoop;
        QObject holder;
        loop = &eventLoop;
        context = &holder;
        PortTransport::Sink sink;
        sink.received = [this](const unsigned char* data, std::size_t n) { OnReceived(data, n); };
        sink.lost = [this] {
            open.store(false);
            if (lostHandler) {
                lostHandler();
            }
        };
        const OpenFailure result = transport->Open(context, sink);
        const QString message = transport->OpenMessage();
        const bool ok = result == OpenFailure::None;
        if (ok) {
#ifdef Q_OS_UNIX
            wakeNotifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, context);
            QObject::connect(wakeNotifier, &QSocketNotifier::activated, context, [this] { RunJobs(); });
#endif
            open.store(true);
        }
        {
            std::lock_guard lock(mutex);
            started = true;
            opened = ok;
            failure = result;
            openMessage = message;
            cv.notify_all();
        }
        if (ok) {
            eventLoop.exec();
        }
        CloseOnThread();
        transport.reset();
        context = nullptr;
        loop = nullptr;
    }

    void RunJobs() {
#ifdef Q_OS_UNIX
        char drain[64];
        while (::read(wakePipe[0], drain, sizeof drain) > 0) {
        }
#endif
        for (;;) {
            Job* job = nullptr;
            {
                std::lock_guard lock(mutex);
                if (jobs.empty()) {
                    return;
                }
                job = jobs.front();
                jobs.pop_front();
            }
            std::uint32_t result = 0;
            if (job->kind == Job::Write) {
                result = open.load() ? transport->Write(job->data, job->length) : 0;
            } else {
                CloseOnThread();
                loop->quit();
            }
            std::lock_guard lock(mutex);
            job->result = result;
            job->done = true;
            cv.notify_all();
        }
    }

    void CloseOnThread() {
#ifdef Q_OS_UNIX
        delete wakeNotifier;
        wakeNotifier = nullptr;
#endif
        if (transport) {
            transport->Close();
        }
        open.store(false);
    }

    void OnReceived(const unsigned char* data, std::size_t n) {
        if (rxHead == rx.size()) {
            rx.clear();
            rxHead = 0;
        }
        rx.insert(rx.end(), data, data + n);
        if (callback != nullptr) {
            callback(portNumber);
        }
    }
};

CPortwire::CPortwire() : d(std::make_unique<Impl>()) {}

CPortwire::~CPortwire() {
    if (d->thread.joinable()) {
        // An opened port's loop runs until the close job, even after a hang-up.
        if (d->opened) {
            Impl::Job job(Impl::Job::Close);
            d->Run(job);
        }
        d->thread.join();
    }
}

int CPortwire::Create(const char* portName, int speedCode, std::uint16_t portNumber,
                      std::uint8_t formatCode, ReceiveCallback callback) {
    // The name carries the number for opening; the callback is told it, so that each port's
    // bytes reach the link that opened that port.
    d->portNumber = portNumber;
    if (d->thread.joinable()) {
        return 0;
    }
    LineSettings settings{};
    if (!SelectSettings(speedCode, formatCode, settings)) {
        d->failure = OpenFailure::Other;
        return 0;
    }
    const QString path = ResolvePortName(portName);
    if (path.isEmpty()) {
        d->failure = OpenFailure::NotFound;
        return 0;
    }
    d->transport = MakePortTransport(path, settings, d->openStop, d->connectTimeoutMs, &d->failure);
    if (!d->transport) {
        return 0;
    }
#ifdef Q_OS_UNIX
    if (::pipe(d->wakePipe) != 0) {
        d->failure = OpenFailure::Other;
        return 0;
    }
    for (int fd : d->wakePipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
#endif
    d->callback = callback;
    try {
        d->thread = std::thread(&Impl::Main, d.get());
    } catch (const std::system_error&) {
        // No thread to be had (the process is at its limit): the port cannot be served.
        d->transport.reset();
        d->failure = OpenFailure::Other;
        return 0;
    }
    std::unique_lock lock(d->mutex);
    d->cv.wait(lock, [this] { return d->started; });
    if (d->opened) {
        return 1;
    }
    lock.unlock();
    d->thread.join();
    return 0;
}

std::uint32_t CPortwire::WriteData(const unsigned char* data, std::uint32_t length) {
    if (!d->thread.joinable() || !d->open.load()) {
        return 0;
    }
    if (std::this_thread::get_id() == d->threadId) {
        return d->transport->Write(data, length);
    }
    Impl::Job job(Impl::Job::Write);
    job.data = data;
    job.length = length;
    return d->Run(job);
}

int CPortwire::GetSize() {
    return static_cast<int>(d->rx.size() - d->rxHead);
}

void CPortwire::GetByte(unsigned char* out) {
    if (d->rxHead < d->rx.size()) {
        *out = d->rx[d->rxHead++];
    } else {
        *out = 0;
    }
}

OpenFailure CPortwire::LastOpenFailure() const {
    return d->failure;
}

QString CPortwire::LastOpenMessage() const {
    return d->openMessage;
}

void CPortwire::SetOpenStop(const std::atomic<bool>* stop) {
    d->openStop = stop;
}

void CPortwire::SetConnectTimeout(int milliseconds) {
    d->connectTimeoutMs = std::max(milliseconds, 1);
}

void CPortwire::SetLostHandler(std::function<void()> handler) {
    d->lostHandler = std::move(handler);
}

bool CPortwire::IsOpen() const {
    return d->open.load();
}

bool CPortwire::IsConnected() const {
    return d->open.load();
}
