#pragma once
// lumitrax-sim run as a child process for end-to-end tests. The constructor starts it and
// reads the device path from its first line of output; the destructor stops it (SIGTERM,
// then SIGKILL if it does not end within a few seconds).

#include <csignal>
#include <string>
#include <sys/types.h>
#include <vector>

class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Empty when the simulator did not print a device path (it failed or is not there).
    const std::string& devicePath() const { return devicePath_; }
    bool running() const;

    // Sends the signal and waits for the end; returns the exit status, or -1 when the process
    // did not exit normally within timeoutMs.
    int Stop(int signo = SIGTERM, int timeoutMs = 10000);
    // Waits for the process to end by itself; same result as Stop.
    int Wait(int timeoutMs);
    // What the process wrote to standard error so far.
    std::string ErrorOutput();

private:
    void DrainErrors();

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool reaped_ = false;
    int status_ = -1;
    std::string devicePath_;
    std::string errors_;
};

// Starts lumitrax-sim with args, waits for it to end (it should refuse to start) and returns
// its exit status; its standard error goes to errors.
int RunSimToEnd(const std::vector<std::string>& args, std::string& errors);
