#include "device_link.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "pause.h"
#include "replies.h"

std::atomic<DeviceLink*> currentLink{nullptr};

namespace {

// Which live link has which port open. An entry is made before the port is created (its
// callback may fire at once) and removed only after the serial object is destroyed, when no
// callback of that port can run any more: a link found here stays alive while its callback runs.
struct PortRoutes {
    std::mutex mutex;
    std::map<int, DeviceLink*> links;

    // False when another link holds the number.
    bool Claim(int portNumber, DeviceLink* link) {
        std::lock_guard lock(mutex);
        const auto [it, inserted] = links.emplace(portNumber, link);
        return inserted || it->second == link;
    }
    void Release(int portNumber, DeviceLink* link) {
        std::lock_guard lock(mutex);
        const auto it = links.find(portNumber);
        if (it != links.end() && it->second == link) {
            links.erase(it);
        }
    }
    DeviceLink* Find(int portNumber) {
        std::lock_guard lock(mutex);
        const auto it = links.find(portNumber);
        return it != links.end() ? it->second : nullptr;
    }
};

PortRoutes& Routes() {
    static PortRoutes routes;
    return routes;
}

constexpr int kCommandPauseMs = 10;
constexpr int kClosePauseMs = 1000;
constexpr int kSpeedCode = 4;   // 115200 baud
constexpr int kFormatCode = 0;  // 8N1, no flow control
}  // namespace

DeviceLink::DeviceLink(SerialPortFactory factory)
    : lineBuffer(new unsigned char[kLineBufferSize]()), factory_(std::move(factory)) {
    std::memset(trafficLog, 0, sizeof trafficLog);
    if (!factory_) {
        factory_ = [] { return std::make_unique<CPortwire>(); };
    }
    currentLink.store(this);
}

DeviceLink::~DeviceLink() {
    if (serialPort) {
        if (closeAction_ == CloseAction::SwitchAllOff) {
            MaskArg allOff{0};
            SendCommand(CMD_SETONEX, &allOff);
        }
        std::unique_ptr<ISerialPort> closing;
        {
            std::lock_guard lock(mutex_);
            closing = std::move(serialPort);
        }
        // The serial object's destructor returns only when its callback can no longer run;
        // lineBuffer is freed after that, with the members.
        closing.reset();
        Routes().Release(openPortNumber_, this);
    }
    DeviceLink* self = this;
    currentLink.compare_exchange_strong(self, nullptr);
}

int DeviceLink::OpenPort(int portNumber, const std::atomic<bool>* stop) {
    lastOpenMessage_.clear();
    if (serialPort) {
        lastOpenFailure_ = OpenFailure::Busy;  // held by this very link
        return 0;
    }
    lastOpenFailure_ = OpenFailure::NotFound;
    if (portNumber <= 0 || portNumber > 0xFFFF) {
        return 0;
    }
    if (!Routes().Claim(portNumber, this)) {
        lastOpenFailure_ = OpenFailure::Busy;  // another link of this program has it open
        return 0;
    }
    std::unique_ptr<ISerialPort> port = factory_();
    if (!port) {
        Routes().Release(portNumber, this);
        lastOpenFailure_ = OpenFailure::Other;
        return 0;
    }
    openPortNumber_ = portNumber;
    char name[16];
    std::snprintf(name, sizeof name, "COM%d", portNumber);
    // The callback can fire as soon as Create arms it, before serialPort is set; receiving
    // reads serialPort under the lock, so publish the object first.
    ISerialPort* raw = port.get();
    {
        std::lock_guard lock(mutex_);
        serialPort = std::move(port);
    }
    raw->SetOpenStop(stop);
    raw->SetConnectTimeout(connectTimeoutMs_);
    if (lostObserver_) {
        raw->SetLostHandler(lostObserver_);
    }
    const int result = raw->Create(name, kSpeedCode, static_cast<std::uint16_t>(portNumber),
                                   kFormatCode, &DeviceLink::OnSerialReceive);
    if (result != 0) {
        lastOpenFailure_ = OpenFailure::None;
        return result;
    }
    lastOpenFailure_ = raw->LastOpenFailure();
    lastOpenMessage_ = raw->LastOpenMessage();
    std::unique_ptr<ISerialPort> failed;
    {
        std::lock_guard lock(mutex_);
        failed = std::move(serialPort);
    }
    failed.reset();
    Routes().Release(portNumber, this);
    return 0;
}

void DeviceLink::ClosePort() {
    if (serialPort) {
        if (closeAction_ == CloseAction::SwitchAllOff) {
            MaskArg allOff{0};
            SendCommand(CMD_SETONEX, &allOff);
            Pause(kClosePauseMs);
        }
        std::unique_ptr<ISerialPort> closing;
        {
            std::lock_guard lock(mutex_);
            closing = std::move(serialPort);
        }
        // Destroyed outside the lock: its receive thread may be waiting for the lock.
        closing.reset();
        Routes().Release(openPortNumber_, this);
    }
    std::lock_guard lock(mutex_);
    state = DeviceState{};
    replySeen = 0;
    ResetLogLocked();
    // A line half received from this port must not prefix the first line of the next.
    linePos = 0;
    lineBroken = false;
}

DeviceLink::SendResult DeviceLink::SendCommand(int id, const void* args) {
    if (!serialPort) {
        return SendResult::NotOpen;
    }
    EncodedCommand cmd;
    if (EncodeCommand(id, args, cmd) != EncodeResult::Ok) {
        return SendResult::NotEncoded;
    }
    if (pacing_ == Pacing::BeforeNext) {
        std::this_thread::sleep_until(lastSent_ + std::chrono::milliseconds(kCommandPauseMs));
    }
    const std::uint32_t written = serialPort->WriteData(cmd.bytes, cmd.length);
    PushLogLine(cmd.logText);
    if (observer_) {
        observer_(true, cmd.logText + 3, true);
    }
    if (pacing_ == Pacing::AfterEach) {
        Pause(kCommandPauseMs);
    } else {
        lastSent_ = std::chrono::steady_clock::now();
    }
    return written == cmd.length ? SendResult::Sent : SendResult::WriteFailed;
}

void DeviceLink::OnSerialReceive(int portNumber) {
    DeviceLink* link = Routes().Find(portNumber);
    if (link == nullptr) {
        link = currentLink.load();
    }
    if (link != nullptr) {
        link->ReceivePending();
    }
}

void DeviceLink::ReceivePending() {
    ISerialPort* port = nullptr;
    {
        std::lock_guard lock(mutex_);
        port = serialPort.get();
    }
    // The window thread destroys the port only after taking it out under the lock and then
    // waits in the port's destructor for this callback to return, so port stays valid here.
    if (port == nullptr) {
        return;
    }
    const int waiting = port->GetSize();
    for (int i = 0; i < waiting; ++i) {
        unsigned char* slot = lineBuffer.get() + linePos;
        port->GetByte(slot);
        ++linePos;
        if (linePos > LINE_LIMIT) {
            linePos = 0;
            lineBroken = true;
            continue;
        }
        lineBroken = lineBroken || *slot == 0;
        if (*slot == '\r') {
            *slot = 0;
        } else if (*slot == '\n') {
            *slot = 0;
            linePos = 0;
            const char* line = reinterpret_cast<const char*>(lineBuffer.get());
            std::lock_guard lock(mutex_);
            PushLogLineLocked(line);
            DispatchReplyLine(line, state, replySeen);
            if (observer_) {
                observer_(false, line, !lineBroken);
            }
            lineBroken = false;
        }
    }
}

int DeviceLink::PushLogLine(const char* text) {
    std::lock_guard lock(mutex_);
    return PushLogLineLocked(text);
}

int DeviceLink::PushLogLineLocked(const char* text) {
    if ((logWrite - logRead + kLogSlots) % kLogSlots == kLogSlots - 1) {
        return -1;
    }
    char* slot = trafficLog[logWrite];
    std::size_t n = std::strlen(text);
    if (n > kLogSlotSize - 1) {
        n = kLogSlotSize - 1;
    }
    std::memcpy(slot, text, n);
    std::memset(slot + n, 0, kLogSlotSize - n);
    logWrite = (logWrite + 1) % kLogSlots;
    return 1;
}

int DeviceLink::PopLogLine(char* buffer) {
    std::lock_guard lock(mutex_);
    if (logWrite == logRead) {
        return 0;
    }
    std::memcpy(buffer, trafficLog[logRead], kLogSlotSize);
    logRead = (logRead + 1) % kLogSlots;
    return 1;
}

int DeviceLink::LogLineCount() {
    std::lock_guard lock(mutex_);
    return (logWrite - logRead + kLogSlots) % kLogSlots;
}

int DeviceLink::DispatchReply(const char* line) {
    std::lock_guard lock(mutex_);
    return DispatchReplyLine(line, state, replySeen);
}

std::int32_t DeviceLink::TakeSnapshot(DeviceState& out) {
    std::lock_guard lock(mutex_);
    out = state;
    const std::int32_t seen = replySeen;
    replySeen = 0;
    return seen;
}

void DeviceLink::ResetLogLocked() {
    std::memset(trafficLog, 0, sizeof trafficLog);
    logWrite = 0;
    logRead = 0;
}
