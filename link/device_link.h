#pragma once
// DeviceLink: the panel's one connection to the controller. It owns the serial object of the
// open port, frames received bytes into reply lines, keeps the traffic log of sent and
// received lines, and holds the DeviceState that the replies fill.
//
// Threads: the window thread calls everything except ReceivePending/OnSerialReceive, which
// the serial receive thread runs. One mutex guards the log, the state and replySeen; it is
// taken per push, per pop, per snapshot and around the filing of one received line, and is
// never held across a pause or while the serial object is created or destroyed.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "commands.h"
#include "device_state.h"
#include "serial_port.h"

constexpr int LINE_LIMIT = 1000;
constexpr int kLogSlots = 128;
constexpr int kLogSlotSize = 128;
constexpr int kLineBufferSize = 4096;

class DeviceLink;
// The newest link; set by the constructor, cleared by the destructor. It serves one link at a
// time, so the receive callback does not rely on it: each open port is routed to the link that
// opened it (by port number), and a port number that another live link has open is refused
// (OpenPort returns 0, LastOpenFailure() is Busy). currentLink only serves callbacks of a
// port that no link has registered (a test double calling with 0).
extern std::atomic<DeviceLink*> currentLink;

class DeviceLink {
public:
    // What ending a connection does to the controller's outputs.
    //   SwitchAllOff (the default, the panel's): ClosePort sends the all-off command and
    //     pauses 1000 ms before the port closes; the destructor sends it without the pause.
    //   KeepOutputs (the command-line tool's): ClosePort and the destructor close the port
    //     without a command and without the pause; the channels stay as last set.
    enum class CloseAction { SwitchAllOff, KeepOutputs };

    // factory makes the serial object at each OpenPort; empty means a real CPortwire.
    explicit DeviceLink(SerialPortFactory factory = {});
    // With a port open: sends the all-off command (no 1000 ms wait; see CloseAction) and
    // closes the port.
    virtual ~DeviceLink();

    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Opens "COM<portNumber>". Non-zero when the port is now open; 0 when it failed or a port
    // is already open (that port stays open). Clears neither the log nor the state. stop, when
    // given, cuts the connecting to a network port short (ISerialPort::SetOpenStop).
    int OpenPort(int portNumber, const std::atomic<bool>* stop = nullptr);
    // With a port open: sends the all-off command, pauses 1000 ms (both only with
    // SwitchAllOff), closes the port. Always: zeroes the state, replySeen and the log.
    void ClosePort();
    // How long each later OpenPort of a network port may spend connecting (the host's name and
    // the TCP connection; ISerialPort::SetConnectTimeout), kDefaultConnectTimeoutMs until set.
    // Window thread.
    void SetConnectTimeout(int milliseconds) { connectTimeoutMs_ = milliseconds < 1 ? 1 : milliseconds; }
    int ConnectTimeout() const { return connectTimeoutMs_; }
    // Called on the receive thread when a later OpenPort's connection goes away by itself
    // (ISerialPort::SetLostHandler); it must not block or call into the link. Window thread.
    void SetLostObserver(std::function<void()> observer) { lostObserver_ = std::move(observer); }
    // Window thread; takes effect at the next ClosePort or destruction.
    void SetCloseAction(CloseAction action) { closeAction_ = action; }

    // When the 10 ms the controller needs between two commands are waited for.
    //   AfterEach (the default, the panel's): SendCommand pauses 10 ms after every write.
    //   BeforeNext (the API's): SendCommand returns after the write and the next one waits
    //     until 10 ms have passed since it, so that a caller waiting for the answers does not
    //     also wait out the last command's pause. The spacing on the line is the same.
    enum class Pacing { AfterEach, BeforeNext };
    // Set while no command is being sent.
    void SetPacing(Pacing pacing) { pacing_ = pacing; }
    CloseAction GetCloseAction() const { return closeAction_; }
    bool IsOpen() const { return serialPort != nullptr; }
    // True while a port is open and its connection lasts; false when closed, and once the
    // device or the network connection went away while open (nothing is received any more and
    // commands go nowhere; ClosePort and a new OpenPort start afresh). Window thread.
    bool IsConnected() const { return serialPort != nullptr && serialPort->IsConnected(); }
    // Why the last OpenPort that returned 0 failed; None after a success. Window thread.
    OpenFailure LastOpenFailure() const { return lastOpenFailure_; }
    // With it: the device server's own words (ISerialPort::LastOpenMessage), else empty.
    const QString& LastOpenMessage() const { return lastOpenMessage_; }

    // What became of one SendCommand.
    enum class SendResult {
        Sent,         // written whole, logged, paced
        NotOpen,      // no port open: nothing written
        NotEncoded,   // unknown id, no bytes, longer than 63 characters or no block: nothing written
        WriteFailed,  // the port took fewer bytes than the command has (connection gone or stalled)
    };

    // Encodes and writes one command, logs "-> " and its text, pauses 10 ms. Does nothing
    // (no write, no log, no pause) with no port open, an unknown id, a command without bytes,
    // a command longer than 63 characters, or a command whose block is missing. The panel
    // ignores the result; tools act on it.
    SendResult SendCommand(int id, const void* args);

    // Sees every command written (sent = true, its log text without "-> ") and every line
    // received (sent = false), as the traffic log gets them but without its bounds: on the
    // thread that sends, or on the receive thread with the link's lock held (the observer
    // must not call back into the link). Set it while no port is open. whole is false for a
    // received line that lost bytes: over LINE_LIMIT (only its tail is left) or holding a NUL
    // (the text ends there).
    using TrafficObserver = std::function<void(bool sent, const char* text, bool whole)>;
    void SetTrafficObserver(TrafficObserver observer) { observer_ = std::move(observer); }

    // Receive callback handed to CPortwire::Create: runs ReceivePending on the link that has
    // port portNumber open (on currentLink when none has).
    static void OnSerialReceive(int portNumber);
    // Takes every waiting byte from the serial object and files complete lines.
    void ReceivePending();

    // Traffic log: 1 stored (first 127 characters), -1 when 127 lines wait (dropped).
    int PushLogLine(const char* text);
    // 1 with the oldest line copied into buffer (at least 128 bytes), 0 when none waits.
    int PopLogLine(char* buffer);
    int LogLineCount();

    // Files one reply line into the state (see replies.h); returns the reply id or 255.
    int DispatchReply(const char* line);

    // Copies the state into out and returns replySeen, clearing it; all under the lock.
    std::int32_t TakeSnapshot(DeviceState& out);

private:
    void ResetLogLocked();
    int PushLogLineLocked(const char* text);

    std::mutex mutex_;
    char trafficLog[kLogSlots][kLogSlotSize];
    std::int32_t logWrite = 0;
    std::int32_t logRead = 0;
    DeviceState state;
    std::int32_t replySeen = 0;
    std::unique_ptr<ISerialPort> serialPort;
    std::unique_ptr<unsigned char[]> lineBuffer;
    std::int32_t linePos = 0;
    bool lineBroken = false;  // the line being received lost bytes (see TrafficObserver)
    SerialPortFactory factory_;
    OpenFailure lastOpenFailure_ = OpenFailure::None;
    QString lastOpenMessage_;
    int openPortNumber_ = 0;  // the number of the open port (window thread)
    CloseAction closeAction_ = CloseAction::SwitchAllOff;
    Pacing pacing_ = Pacing::AfterEach;
    std::chrono::steady_clock::time_point lastSent_{};  // BeforeNext: the last write's time
    int connectTimeoutMs_ = kDefaultConnectTimeoutMs;
    std::function<void()> lostObserver_;
    TrafficObserver observer_;
};
