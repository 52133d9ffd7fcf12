#include "simulator.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#ifdef __linux__
#include <sys/prctl.h>
#endif

SimulatorProcess::SimulatorProcess() = default;

SimulatorProcess::~SimulatorProcess() { Stop(); }

bool SimulatorProcess::IsRunning() const {
    return m_process != nullptr && m_process->state() != QProcess::NotRunning;
}

bool SimulatorProcess::Start(const QString& program, QString* error, int timeoutMilliseconds) {
    Stop();
    const auto fail = [&](const QString& reason) {
        if (error != nullptr) {
            *error = reason;
        }
        Stop();
        return false;
    };
    if (program.isEmpty()) {
        return fail(QStringLiteral("lumitrax-sim was not found (build it, or put it on the PATH)."));
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(program);
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
#ifdef __linux__
    // A panel that dies without cleaning up still takes its simulator with it.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
    m_process->start(QIODevice::ReadOnly);
    if (!m_process->waitForStarted(timeoutMilliseconds)) {
        return fail(QStringLiteral("%1 could not be started: %2").arg(program, m_process->errorString()));
    }
    const QDeadlineTimer deadline(timeoutMilliseconds);
    while (!m_process->canReadLine()) {
        if (m_process->state() == QProcess::NotRunning) {
            return fail(QStringLiteral("%1 ended before it reported its port.").arg(program));
        }
        if (deadline.hasExpired()) {
            return fail(QStringLiteral("%1 did not report its port within %2 ms.").arg(program).arg(timeoutMilliseconds));
        }
        m_process->waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
    m_devicePath = QString::fromLocal8Bit(m_process->readLine()).trimmed();
    if (m_devicePath.isEmpty()) {
        return fail(QStringLiteral("%1 reported no port.").arg(program));
    }
    // Whatever it prints later is not needed.
    QObject::connect(m_process.get(), &QProcess::readyReadStandardOutput, m_process.get(),
                     [process = m_process.get()] { process->readAllStandardOutput(); });
    return true;
}

void SimulatorProcess::Stop() {
    if (m_process == nullptr) {
        return;
    }
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
    }
    m_process.reset();
    m_devicePath.clear();
}

QString SimulatorProcess::Locate() {
    const QString name = QStringLiteral("lumitrax-sim");
    const QFileInfo beside(QDir(QCoreApplication::applicationDirPath()).filePath(name));
    if (beside.isFile() && beside.isExecutable()) {
        return beside.absoluteFilePath();
    }
#ifdef LUMITRAX_SIM_BUILD_PATH
    const QFileInfo built(QStringLiteral(LUMITRAX_SIM_BUILD_PATH));
    if (built.isFile() && built.isExecutable()) {
        return built.absoluteFilePath();
    }
#endif
    return QStandardPaths::findExecutable(name);
}
