#pragma once
// Test doubles for the link's platform effects: a serial port that records what is written
// and delivers scripted bytes, and a pause that records instead of sleeping.

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "device_link.h"
#include "pause.h"
#include "serial_port.h"

class FakeSerialPort;

// The line behind the fake ports a link opens: one test sees every port made by Factory().
struct FakeLine {
    std::vector<std::string> writes;  // one entry per WriteData call
    std::string lastName;
    int lastSpeed = -1;
    int lastFormat = -1;
    int lastNumber = -1;
    bool failCreate = false;
    std::set<int> failingPorts;  // port numbers whose Create fails
    OpenFailure failure = OpenFailure::NotFound;  // what a failed Create reports
    // Answers each write on port portNumber; the answer waits in `pending` until the next
    // DeliverPending (a PauseRecorder can run it while the caller "waits").
    std::function<std::string(int portNumber, std::string_view written)> responder;
    std::string pending;
    int created = 0;
    int destroyed = 0;
    FakeSerialPort* current = nullptr;  // the port in use, null when none

    // All bytes written so far, in order.
    std::string Written() const;
    // Makes the bytes waiting on the current port and runs its receive callback, as the
    // receive thread would (here on the calling thread).
    void Deliver(std::string_view bytes);
    // Delivers and clears `pending`.
    void DeliverPending();
    SerialPortFactory Factory();
};

class FakeSerialPort final : public ISerialPort {
public:
    explicit FakeSerialPort(FakeLine& line);
    ~FakeSerialPort() override;
    int Create(const char* portName, int speedCode, std::uint16_t portNumber,
               std::uint8_t formatCode, ReceiveCallback callback) override;
    std::uint32_t WriteData(const unsigned char* data, std::uint32_t length) override;
    int GetSize() override;
    void GetByte(unsigned char* out) override;
    OpenFailure LastOpenFailure() const override { return line_.failure; }

    void Deliver(std::string_view bytes);

private:
    FakeLine& line_;
    int portNumber_ = 0;
    ReceiveCallback callback_ = nullptr;
    std::string waiting_;
    std::size_t head_ = 0;
};

// Replaces Pause for the lifetime of the object and records every requested duration.
class PauseRecorder {
public:
    PauseRecorder();
    ~PauseRecorder();
    std::vector<int> pauses;
    int Total() const;
    // Runs at every pause, after it was recorded (for example FakeLine::DeliverPending).
    std::function<void(int milliseconds)> onPause;

private:
    PauseFunction previous_;
};

// Takes every waiting line out of the link's traffic log, oldest first.
std::vector<std::string> DrainLog(DeviceLink& link);
