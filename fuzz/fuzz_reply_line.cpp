// One reply line of any content and length through the reply dispatcher.
#include <cstddef>
#include <cstdint>
#include <string>

#include "device_state.h"
#include "replies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DeviceState state{};
    std::int32_t replySeen = 0;
    // The dispatcher reads up to the first NUL, as it does with a framed line.
    const std::string line(reinterpret_cast<const char*>(data), size);
    const int id = DispatchReplyLine(line.c_str(), state, replySeen);
    if (id != kNoReply && (id < 0 || id >= kReplyKeywordCount)) {
        __builtin_trap();
    }
    if (id != kNoReply && replySeen != 1) {
        __builtin_trap();
    }
    return 0;
}
