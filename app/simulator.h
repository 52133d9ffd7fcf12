#pragma once
// The virtual controller for --simulate: starts lumitrax-sim, which opens a pseudo-terminal
// and prints its device path on the first line of its standard output, and stops it again.
// Window thread only.

#include <QString>

#include <memory>

class QProcess;

class SimulatorProcess {
public:
    SimulatorProcess();
    // Stops a simulator that still runs.
    ~SimulatorProcess();

    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Starts program and waits until it reports its device path. On failure returns false with
    // the reason in *error, and nothing is left running.
    bool Start(const QString& program, QString* error, int timeoutMilliseconds = 10000);
    // The device path reported by the running simulator; empty before Start.
    const QString& DevicePath() const { return m_devicePath; }
    bool IsRunning() const;
    // Asks the simulator to end (SIGTERM) and kills it when it does not within 3 s.
    void Stop();

    // Where lumitrax-sim is: beside the panel's executable, else where this build tree made
    // it, else on the PATH; empty when it is nowhere.
    static QString Locate();

private:
    std::unique_ptr<QProcess> m_process;
    QString m_devicePath;
};
