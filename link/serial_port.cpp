#include "serial_port.h"

#include <QMetaObject>
#include <QObject>
#include <QSerialPort>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "port_list.h"

namespace {

constexpr int kWriteTimeoutMs = 2000;

struct LineSettings {
    qint32 baud;
    QSerialPort::DataBits dataBits;
    QSerialPort::Parity parity;
    QSerialPort::StopBits stopBits;
    QSerialPort::FlowControl flow;
};

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

}  // namespace

// All cross-thread hand-over goes through `mutex`/`cv` (never through Qt's event queue
// alone), so that the sanitizers see every ordering the code relies on. Qt events only wake
// the receive thread up.
struct CPortwire::Impl {
    QThread thread;
    QObject* context = nullptr;      // lives on `thread`
    QSerialPort* port = nullptr;     // created, used and deleted on `thread` only
    ReceiveCallback callback = nullptr;
    std::atomic<bool> open{false};

    std::mutex mutex;
    std::condition_variable cv;
    struct Job {
        enum Kind { Open, Write, Close };
        explicit Job(Kind k) : kind(k) {}
        Kind kind;
        const unsigned char* data = nullptr;
        std::uint32_t length = 0;
        QString path;
        LineSettings settings{};
        bool done = false;
        std::uint32_t result = 0;
    };
    std::deque<Job*> jobs;

    // Received bytes not yet taken; receive thread only.
    std::vector<unsigned char> rx;
    std::size_t rxHead = 0;

    // Queues a job for the receive thread and waits until it has run.
    std::uint32_t Run(Job& job) {
        {
            std::lock_guard lock(mutex);
            jobs.push_back(&job);
        }
        QMetaObject::invokeMethod(context, [this] { RunJobs(); }, Qt::QueuedConnection);
        std::unique_lock lock(mutex);
        cv.wait(lock, [&job] { return job.done; });
        return job.result;
    }

    // Receive thread.
    void RunJobs() {
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
            switch (job->kind) {
            case Job::Open: result = OpenOnThread(job->path, job->settings) ? 1 : 0; break;
            case Job::Write: result = WriteOnThread(job->data, job->length); break;
            case Job::Close: CloseOnThread(); break;
            }
            std::lock_guard lock(mutex);
            job->result = result;
            job->done = true;
            cv.notify_all();
        }
    }

    bool OpenOnThread(const QString& path, const LineSettings& s) {
        port = new QSerialPort(context);
        port->setPortName(path);
        if (!port->open(QIODevice::ReadWrite)) {
            delete port;
            port = nullptr;
            return false;
        }
        // A pseudo-terminal may refuse some settings; the bytes still flow.
        port->setBaudRate(s.baud);
        port->setDataBits(s.dataBits);
        port->setParity(s.parity);
        port->setStopBits(s.stopBits);
        port->setFlowControl(s.flow);
        QObject::connect(port, &QSerialPort::readyRead, context, [this] { OnReadyRead(); });
        QObject::connect(port, &QSerialPort::errorOccurred, context,
                         [this](QSerialPort::SerialPortError e) { OnError(e); });
        open.store(true);
        return true;
    }

    std::uint32_t WriteOnThread(const unsigned char* data, std::uint32_t length) {
        if (port == nullptr || !port->isOpen() || length == 0) {
            return 0;
        }
        const qint64 n = port->write(reinterpret_cast<const char*>(data), length);
        if (n < 0) {
            return 0;
        }
        // Hand everything to the OS before returning; a stalled line gives up after a while
        // rather than blocking the window for good.
        while (port != nullptr && port->isOpen() && port->bytesToWrite() > 0) {
            if (!port->waitForBytesWritten(kWriteTimeoutMs)) {
                if (port != nullptr && port->isOpen()) {
                    port->clear(QSerialPort::Output);
                }
                return 0;
            }
        }
        return static_cast<std::uint32_t>(n);
    }

    void CloseOnThread() {
        if (port != nullptr) {
            port->disconnect(context);
            if (port->isOpen()) {
                port->close();
            }
            delete port;
            port = nullptr;
        }
        open.store(false);
    }

    void OnReadyRead() {
        if (port == nullptr) {
            return;
        }
        const QByteArray data = port->readAll();
        if (data.isEmpty()) {
            return;
        }
        if (rxHead == rx.size()) {
            rx.clear();
            rxHead = 0;
        }
        rx.insert(rx.end(), data.begin(), data.end());
        if (callback != nullptr) {
            callback(0);
        }
    }

    void OnError(QSerialPort::SerialPortError e) {
        switch (e) {
        case QSerialPort::NoError:
        case QSerialPort::TimeoutError:
            return;
        case QSerialPort::ResourceError:
        case QSerialPort::PermissionError:
        case QSerialPort::DeviceNotFoundError:
            // The device went away (hang-up, adapter pulled): stop watching it, or its
            // descriptor would keep signalling and spin this thread.
            if (port != nullptr && port->isOpen()) {
                port->close();
            }
            open.store(false);
            return;
        default:
            // Read, write or parity errors: the port stays usable.
            port->clearError();
            return;
        }
    }
};

CPortwire::CPortwire() : d(std::make_unique<Impl>()) {}

CPortwire::~CPortwire() {
    if (d->context != nullptr) {
        Impl::Job job(Impl::Job::Close);
        d->Run(job);
        d->thread.quit();
        d->thread.wait();
        delete d->context;
        d->context = nullptr;
    }
}

int CPortwire::Create(const char* portName, int speedCode, std::uint16_t portNumber,
                      std::uint8_t formatCode, ReceiveCallback callback) {
    (void)portNumber;  // the name carries it
    if (d->context != nullptr) {
        return 0;
    }
    LineSettings settings{};
    if (!SelectSettings(speedCode, formatCode, settings)) {
        return 0;
    }
    const QString path = ResolvePortName(portName);
    if (path.isEmpty()) {
        return 0;
    }
    d->callback = callback;
    d->thread.setObjectName(QStringLiteral("serial-receive"));
    d->thread.start();
    d->context = new QObject;
    d->context->moveToThread(&d->thread);

    Impl::Job job(Impl::Job::Open);
    job.path = path;
    job.settings = settings;
    if (d->Run(job) != 0) {
        return 1;
    }
    d->thread.quit();
    d->thread.wait();
    delete d->context;
    d->context = nullptr;
    return 0;
}

std::uint32_t CPortwire::WriteData(const unsigned char* data, std::uint32_t length) {
    if (d->context == nullptr || !d->open.load()) {
        return 0;
    }
    if (QThread::currentThread() == &d->thread) {
        return d->WriteOnThread(data, length);
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

bool CPortwire::IsOpen() const {
    return d->open.load();
}
