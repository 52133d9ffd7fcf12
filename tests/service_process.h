#pragma once
// lumitraxd and curl as child processes for the service's end-to-end tests.
//
// ServiceProcess starts lumitraxd with a configuration file and reads the URL it serves from
// its first line of output; the destructor ends it. Curl() runs curl once and returns the
// status and body; CurlStream runs curl -N on an event stream and reads its output as it comes.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class ServiceProcess {
public:
    // args after the program, such as {"--config", path}.
    explicit ServiceProcess(const std::vector<std::string>& args);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // "http://127.0.0.1:PORT"; empty when the service printed none (it refused to start).
    const std::string& url() const { return url_; }
    // Sends the signal and waits up to timeoutMs; the exit status, or -1.
    int Stop(int signo, int timeoutMs);
    // Sends the signal and returns at once.
    void Signal(int signo);
    // Waits for the end by itself; the exit status, or -1.
    int Wait(int timeoutMs);
    // What the service wrote to standard error so far.
    std::string ErrorOutput() const;

private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    int status_ = -1;
    std::string url_;
    std::string errorFile_;
};

struct CurlResult {
    int status = 0;  // the HTTP status; 0 when curl got no answer
    std::string body;
};

// curl -s with args (method, headers, data, URL...).
CurlResult Curl(const std::vector<std::string>& args);

class CurlStream {
public:
    explicit CurlStream(const std::string& url);
    ~CurlStream();
    CurlStream(const CurlStream&) = delete;
    CurlStream& operator=(const CurlStream&) = delete;

    // Reads until the output so far contains text or the deadline passes; whether it does.
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout);
    const std::string& output() const { return output_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};
