#pragma once
// The controller's end of a pseudo-terminal. The panel opens the other end (the slave
// device, e.g. /dev/pts/5) as if it were a serial port.
//
// The simulator keeps a descriptor of the slave open itself, for three reasons: the device
// path stays valid while the panel closes and reopens it (a port search does that often), the
// master never reports a hang-up between two panel sessions, and the terminal settings (raw:
// no echo, no CR/LF translation, 8 bits) stay as set here. It never reads that descriptor,
// so everything written to the master is for the panel alone.
//
// Because of that descriptor the master cannot tell when the panel opens or closes the
// device; opens are watched on the device path instead (inotify), where the system allows it.
//
// The master is non-blocking: Write takes what the terminal accepts and never waits.
// Single-threaded use.

#include <cstddef>
#include <string>

namespace sim {

class Pty {
public:
    Pty() = default;
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Creates the pair and sets the slave to raw mode. False with a message on failure.
    bool Open(std::string& error);
    // Closes both ends: the device path disappears and a panel that has it open sees the
    // line hang up, as with a pulled USB adapter.
    void Close();

    bool IsOpen() const { return master_ >= 0; }
    int MasterFd() const { return master_; }
    const std::string& DevicePath() const { return devicePath_; }

    // Bytes the panel sent: > 0 taken, 0 none waiting, -1 the terminal failed.
    long Read(unsigned char* buffer, std::size_t size);
    // Bytes taken by the terminal: > 0, 0 when it is full for now, -1 when it failed.
    long Write(const char* data, std::size_t size);

    // Readable when the device was opened; -1 when opens are not watched.
    int OpenWatchFd() const { return watch_; }
    // Whether the device was opened since the last call. Opens by the Pty itself do not count.
    bool WasOpened();

    // Bytes written towards the panel that no reader has taken from the slave yet.
    int Unread() const;
    // Throws those bytes away, as a line with nothing attached loses them.
    void DiscardUnread();

private:
    int master_ = -1;
    int slave_ = -1;
    int watch_ = -1;
    std::string devicePath_;
};

}  // namespace sim
