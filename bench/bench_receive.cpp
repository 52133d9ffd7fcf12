// The receive path (framing, traffic log, dispatch) fed typical reply lines through a port
// that hands out a prepared block of bytes, as the receive thread would take them.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "device_link.h"
#include "pause.h"
#include "serial_port.h"

namespace {

// Replies a controller sends to one "Refresh".
const char* const kReplies[] = {
    "modulename LT-1608\r\n", "ID: 3\r\n", "build 20130225\r\n", "getusepacket 1\r\n",
    "gettrigchannel 4\r\n", "getuseonoff 0\r\n", "getusetrig 1\r\n", "getsoftstart 0\r\n",
    "getusepwm 1\r\n", "getmodelch 8\r\n", "getdebug 0\r\n", "getfwversioninfo V2.5.1\r\n",
    "getfpgaversioninfo F1.3\r\n", "getbandwidth 0.000000 1.200000\r\n", "getoffset 17\r\n",
    "getonex 0 ff\r\n", "geterrstatus 0 0\r\n", "getbrightindex 0\r\n", "gettrigindex 0\r\n",
    "S/N: LX2013-0042\r\n", "getbandwidthex 5 0.250000 1.200000\r\n", "$ 0 7 1024\r\n",
    "gettrigger 0 1 1 1 0 99 49 490\r\n", "getportstatus 1 2\r\n", "gettotalonoff 1\r\n",
    "# 2 512\r\n", "error unknown\r\n",
};

class BlockPort final : public ISerialPort {
public:
    explicit BlockPort(const std::string* block) : block_(block) {}
    int Create(const char*, int, std::uint16_t, std::uint8_t, ReceiveCallback cb) override {
        callback_ = cb;
        return 1;
    }
    std::uint32_t WriteData(const unsigned char*, std::uint32_t length) override { return length; }
    int GetSize() override { return static_cast<int>(block_->size() - pos_); }
    void GetByte(unsigned char* out) override { *out = static_cast<unsigned char>((*block_)[pos_++]); }
    void Fire() {
        pos_ = 0;
        callback_(0);
    }

private:
    const std::string* block_;
    std::size_t pos_ = 0;
    ReceiveCallback callback_ = nullptr;
};

void BM_ReceiveReplyLines(benchmark::State& state) {
    SetPauseFunction([](int) {});
    std::string block;
    int lines = 0;
    while (lines < 100) {  // fits the 127-line log, drained between rounds
        for (const char* r : kReplies) {
            if (lines == 100) break;
            block += r;
            ++lines;
        }
    }
    BlockPort* port = nullptr;
    DeviceLink link([&] {
        auto p = std::make_unique<BlockPort>(&block);
        port = p.get();
        return p;
    });
    link.OpenPort(1);
    char buffer[kLogSlotSize];
    DeviceState snapshot;
    for (auto _ : state) {
        port->Fire();
        while (link.PopLogLine(buffer) == 1) {
        }
        benchmark::DoNotOptimize(link.TakeSnapshot(snapshot));
    }
    state.counters["lines_per_second"] =
        benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(block.size()));
    SetPauseFunction({});
}
BENCHMARK(BM_ReceiveReplyLines);

}  // namespace

BENCHMARK_MAIN();
