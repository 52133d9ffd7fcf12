// The receive path (framing, traffic log, dispatch) fed an arbitrary byte stream in chunks,
// as the receive thread takes them from the port. The first four input bytes choose the chunk
// sizes (1..64, used in turn); between chunks the log is partly drained and a snapshot taken.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "device_link.h"
#include "pause.h"
#include "serial_port.h"

namespace {

// Hands out whatever chunk was last placed on it, byte by byte.
class ChunkPort final : public ISerialPort {
public:
    int Create(const char*, int, std::uint16_t, std::uint8_t, ReceiveCallback cb) override {
        callback_ = cb;
        return 1;
    }
    std::uint32_t WriteData(const unsigned char*, std::uint32_t length) override { return length; }
    int GetSize() override { return static_cast<int>(chunk_.size() - pos_); }
    void GetByte(unsigned char* out) override {
        if (pos_ >= chunk_.size()) {
            __builtin_trap();  // the link read past what the port said was waiting
        }
        *out = static_cast<unsigned char>(chunk_[pos_++]);
    }
    void Deliver(std::string_view chunk) {
        chunk_ = chunk;
        pos_ = 0;
        callback_(0);
    }

private:
    std::string_view chunk_;
    std::size_t pos_ = 0;
    ReceiveCallback callback_ = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        SetPauseFunction([](int) {});
        return true;
    }();
    (void)quiet;
    if (size < 4) {
        return 0;
    }
    std::size_t sizes[4];
    for (int i = 0; i < 4; ++i) {
        sizes[i] = 1 + data[i] % 64;
    }
    data += 4;
    size -= 4;

    ChunkPort* port = nullptr;
    DeviceLink link([&port] {
        auto p = std::make_unique<ChunkPort>();
        port = p.get();
        return p;
    });
    if (link.OpenPort(1) == 0 || port == nullptr) {
        __builtin_trap();
    }
    char buffer[kLogSlotSize + 16];
    DeviceState snapshot;
    std::size_t pos = 0;
    for (int turn = 0; pos < size; ++turn) {
        const std::size_t n = std::min(sizes[turn % 4], size - pos);
        port->Deliver(std::string_view(reinterpret_cast<const char*>(data + pos), n));
        pos += n;
        // Drain a varying share of the log so that it sometimes fills up.
        for (int k = 0; k < (turn % 3) && link.PopLogLine(buffer) == 1; ++k) {
            if (std::memchr(buffer, '\0', kLogSlotSize) == nullptr) {
                __builtin_trap();  // a log line must end within its slot
            }
        }
        link.TakeSnapshot(snapshot);
    }
    while (link.PopLogLine(buffer) == 1) {
    }
    link.TakeSnapshot(snapshot);
    link.SetCloseAction(DeviceLink::CloseAction::KeepOutputs);
    link.ClosePort();
    return 0;
}
