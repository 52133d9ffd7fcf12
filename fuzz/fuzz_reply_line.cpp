// One reply line of any content and length through the reply dispatcher. When the line is a
// single well-formed decimal or hexadecimal number, it is also read as a bandwidth value and
// compared with the C library's reading of it (this process stays in the C locale).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device_state.h"
#include "replies.h"

namespace {

bool IsDigit(char c, bool hex) {
    return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

// [+-] digits [. digits] [e [+-] digits], or the same after 0x with hex digits and p.
bool WellFormedNumber(const std::string& s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    bool hex = false;
    if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    std::size_t digits = 0;
    for (; i < s.size() && IsDigit(s[i], hex); ++i) ++digits;
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && IsDigit(s[i], hex); ++i) ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] | 0x20) == (hex ? 'p' : 'e')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exp = 0;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) ++exp;
        if (exp == 0) return false;
    }
    return i == s.size() && s.size() <= 400;
}

void CheckNumber(const std::string& token) {
    if (!WellFormedNumber(token)) {
        return;
    }
    const std::string line = "getbandwidthex 0 " + token + " 0";
    DeviceState state{};
    std::int32_t seen = 0;
    DispatchReplyLine(line.c_str(), state, seen);
    const float expected = std::strtof(token.c_str(), nullptr);
    const float got = state.bandwidthLow[0];
    if (std::memcmp(&expected, &got, sizeof got) != 0 && !(got == 0.0f && expected == 0.0f)) {
        __builtin_trap();  // the reply reads this number differently from the C library
    }
}

}  // namespace

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
    CheckNumber(line);
    return 0;
}
