#pragma once
// lumitraxd --simulate: lumitrax-sim as a child process on a pseudo-terminal, whose device path
// is the first line it prints. Ended (SIGTERM, then SIGKILL) when destroyed.

#include <memory>
#include <string>
#include <sys/types.h>

namespace service {

class SimChild {
public:
    // nullptr with error set when it did not start or printed no device path within 10 s.
    static std::unique_ptr<SimChild> Start(const std::string& program, std::string& error);
    ~SimChild();
    SimChild(const SimChild&) = delete;
    SimChild& operator=(const SimChild&) = delete;

    const std::string& DevicePath() const { return devicePath_; }

private:
    SimChild() = default;
    pid_t pid_ = -1;
    int out_ = -1;
    std::string devicePath_;
};

}  // namespace service
