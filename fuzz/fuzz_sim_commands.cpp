// The virtual controller's framing and command interpreter fed an arbitrary byte stream. The
// first byte chooses the chunk size (1..32). Each input starts from a new controller, so a
// finding reproduces from its input alone.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim_controller.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    sim::Controller controller{sim::Identity{}};
    const std::size_t chunk = 1 + data[0] % 32;
    ++data;
    --size;
    std::vector<sim::Controller::Received> out;
    for (std::size_t pos = 0; pos < size; pos += chunk) {
        const std::size_t n = std::min(chunk, size - pos);
        controller.Feed(data + pos, n, out);
        if (out.size() > 64) {
            out.clear();
        }
    }
    if (data != nullptr && size > 0 && data[0] == 0xAA) {
        controller.DropUnfinished();
    }
    controller.NextSwitchLine();
    return 0;
}
