#pragma once
// A pseudo-terminal for end-to-end tests: the test holds the controller's end (master) and
// the link opens the device path (slave) like any serial port.

#include <string>

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& path() const { return path_; }

    // Writes bytes from the controller's end; false when the other end stopped taking them
    // for about a second.
    bool Write(const std::string& bytes);
    // Reads from the controller's end until `count` bytes came or `timeoutMs` passed.
    std::string Read(std::size_t count, int timeoutMs);
    // Reads whatever arrives within `timeoutMs`.
    std::string ReadAll(int timeoutMs);
    // Closes the controller's end, as a pulled adapter would.
    void Hangup();

private:
    int master_ = -1;
    std::string path_;
};

// Polls `condition` every few milliseconds until it holds or `timeoutMs` passed.
template <typename F>
bool WaitUntil(F condition, int timeoutMs);

#include <chrono>
#include <thread>

template <typename F>
bool WaitUntil(F condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
