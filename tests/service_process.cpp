#include "service_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kStartTimeoutMs = 15000;

// Spawns program with args, its standard output on a pipe (returned in out) and its standard
// error to errorFile (or inherited when empty).
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, int& out,
            const std::string& errorFile) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    if (!errorFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out = pipeFds[0];
    return rc == 0 ? pid : -1;
}

// Reads what is there within waitMs into text; false at the end of the output.
bool ReadSome(int fd, std::string& text, int waitMs) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return true;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    text.append(buffer, static_cast<std::size_t>(n));
    return true;
}

int WaitPid(pid_t pid, bool& reaped, int& status, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid > 0 && !reaped) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) {
            reaped = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return reaped && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ServiceProcess::ServiceProcess(const std::vector<std::string>& args) {
    char pattern[] = "/tmp/lumitraxd-stderr-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    errorFile_ = pattern;
    pid_ = Spawn(LUMITRAXD_PATH, args, out_, errorFile_);
    if (pid_ < 0) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    std::string text;
    while (std::chrono::steady_clock::now() < deadline && text.find('\n') == std::string::npos) {
        if (!ReadSome(out_, text, 100)) break;
    }
    const auto nl = text.find('\n');
    if (nl != std::string::npos) url_ = text.substr(0, nl);
}

ServiceProcess::~ServiceProcess() {
    if (pid_ > 0 && !reaped_ && Stop(SIGTERM, 5000) == -1 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
    if (out_ >= 0) close(out_);
    unlink(errorFile_.c_str());
}

int ServiceProcess::Stop(int signo, int timeoutMs) {
    if (pid_ > 0 && !reaped_) kill(pid_, signo);
    return Wait(timeoutMs);
}

void ServiceProcess::Signal(int signo) {
    if (pid_ > 0 && !reaped_) kill(pid_, signo);
}

int ServiceProcess::Wait(int timeoutMs) { return WaitPid(pid_, reaped_, status_, timeoutMs); }

std::string ServiceProcess::ErrorOutput() const {
    std::ifstream in(errorFile_);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

CurlResult Curl(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"-s", "--max-time", "20", "-o", "-", "-w", "\n%{http_code}"};
    all.insert(all.end(), args.begin(), args.end());
    int out = -1;
    const pid_t pid = Spawn("curl", all, out, "");
    CurlResult r;
    if (pid < 0) return r;
    std::string text;
    while (ReadSome(out, text, 1000)) {
    }
    close(out);
    int status = 0;
    waitpid(pid, &status, 0);
    const auto nl = text.rfind('\n');
    if (nl == std::string::npos) return r;
    r.status = std::atoi(text.c_str() + nl + 1);
    r.body = text.substr(0, nl);
    return r;
}

CurlStream::CurlStream(const std::string& url) { pid_ = Spawn("curl", {"-s", "-N", url}, out_, ""); }

CurlStream::~CurlStream() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    if (out_ >= 0) close(out_);
}

bool CurlStream::WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline || out_ < 0) return false;
        if (!ReadSome(out_, output_, 100)) return output_.find(text) != std::string::npos;
    }
    return true;
}
