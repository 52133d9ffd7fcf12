#include "fake_serial_port.h"

std::string FakeLine::Written() const {
    std::string all;
    for (const std::string& w : writes) {
        all += w;
    }
    return all;
}

void FakeLine::Deliver(std::string_view bytes) {
    if (current != nullptr) {
        current->Deliver(bytes);
    }
}

void FakeLine::DeliverPending() {
    if (pending.empty()) {
        return;
    }
    const std::string bytes = std::move(pending);
    pending.clear();
    Deliver(bytes);
}

SerialPortFactory FakeLine::Factory() {
    return [this] { return std::make_unique<FakeSerialPort>(*this); };
}

FakeSerialPort::FakeSerialPort(FakeLine& line) : line_(line) {
    ++line_.created;
}

FakeSerialPort::~FakeSerialPort() {
    ++line_.destroyed;
    if (line_.current == this) {
        line_.current = nullptr;
    }
}

int FakeSerialPort::Create(const char* portName, int speedCode, std::uint16_t portNumber,
                           std::uint8_t formatCode, ReceiveCallback callback) {
    line_.lastName = portName;
    line_.lastSpeed = speedCode;
    line_.lastNumber = portNumber;
    line_.lastFormat = formatCode;
    portNumber_ = portNumber;
    if (line_.failCreate || line_.failingPorts.count(portNumber) != 0) {
        return 0;
    }
    callback_ = callback;
    line_.current = this;
    return 1;
}

std::uint32_t FakeSerialPort::WriteData(const unsigned char* data, std::uint32_t length) {
    line_.writes.emplace_back(reinterpret_cast<const char*>(data), length);
    if (line_.responder) {
        line_.pending += line_.responder(portNumber_, line_.writes.back());
    }
    return length;
}

int FakeSerialPort::GetSize() {
    return static_cast<int>(waiting_.size() - head_);
}

void FakeSerialPort::GetByte(unsigned char* out) {
    *out = static_cast<unsigned char>(waiting_[head_++]);
}

void FakeSerialPort::Deliver(std::string_view bytes) {
    waiting_.erase(0, head_);
    head_ = 0;
    waiting_.append(bytes);
    if (callback_ != nullptr) {
        callback_(portNumber_);
    }
}

PauseRecorder::PauseRecorder()
    : previous_(SetPauseFunction([this](int ms) {
          pauses.push_back(ms);
          if (onPause) {
              onPause(ms);
          }
      })) {}

PauseRecorder::~PauseRecorder() {
    SetPauseFunction(previous_);
}

int PauseRecorder::Total() const {
    int total = 0;
    for (int p : pauses) {
        total += p;
    }
    return total;
}

std::vector<std::string> DrainLog(DeviceLink& link) {
    std::vector<std::string> lines;
    char buffer[kLogSlotSize];
    while (link.PopLogLine(buffer) == 1) {
        lines.emplace_back(buffer);
    }
    return lines;
}
