#include "replies.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

const ReplyEntry kReplyTable[kReplyKeywordCount + 1] = {
    {0, "settrigchannel"}, {1, "gettrigchannel"}, {2, "setuseonoff"}, {3, "getuseonoff"},
    {4, "setusetrig"}, {5, "getusetrig"}, {6, "setsoftstart"}, {7, "getsoftstart"},
    {8, "setusepwm"}, {9, "getusepwm"}, {10, "setmodelch"}, {11, "getmodelch"},
    {12, "getswitch"}, {13, "getmanbright"}, {14, "setdebug"}, {15, "getdebug"},
    {16, "setusepacket"}, {17, "getusepacket"}, {18, "getfwversioninfo"},
    {19, "getfpgaversioninfo"}, {20, "restart"}, {21, "reboot"}, {22, "reset"},
    {23, "updateflip"}, {24, "bootloader"}, {25, "setmoduleid"}, {26, "ID:"}, {27, "setsn"},
    {28, "S/N:"}, {29, "saveid"}, {30, "savesn"}, {31, "modulename"}, {32, "f/w_version"},
    {33, "fpga_version"}, {34, "build"}, {35, "seteeprom"}, {36, "geteeprom"},
    {37, "eepromtest"}, {38, "echo"}, {39, "setbrightness"}, {40, "#"},
    {41, "setbrightpacket"}, {42, "getbrightness"}, {43, "$"}, {44, "seton"}, {45, "setonex"},
    {46, "getonex"}, {47, "getbrightindex"}, {48, "savebright"}, {49, "loadbright"},
    {50, "factoryreset"}, {51, "fpgaregset"}, {52, "fpgaregget"}, {53, "fpgaregtest"},
    {54, "segset"}, {55, "setdac"}, {56, "loaddac"}, {57, "testdac"}, {58, "geterrstatus"},
    {59, "seterrignore"}, {60, "settrigger"}, {61, "gettrigger"}, {62, "savetrigger"},
    {63, "loadtrigger"}, {64, "gettrigindex"}, {65, "setbandwidth"}, {66, "getbandwidth"},
    {67, "setbandwidthex"}, {68, "getbandwidthex"}, {69, "setoffset"}, {70, "getoffset"},
    {71, "getportstatus"}, {72, "gettotalonoff"}, {73, "help"}, {74, ""},
};

namespace {

// The reply ids that carry data.
enum : int {
    R_GETTRIGCHANNEL = 1, R_GETUSEONOFF = 3, R_GETUSETRIG = 5, R_GETSOFTSTART = 7,
    R_GETUSEPWM = 9, R_GETMODELCH = 11, R_GETSWITCH = 12, R_GETMANBRIGHT = 13, R_GETDEBUG = 15,
    R_GETUSEPACKET = 17, R_GETFWVERSIONINFO = 18, R_GETFPGAVERSIONINFO = 19, R_ID = 26,
    R_SN = 28, R_MODULENAME = 31, R_FW_VERSION = 32, R_FPGA_VERSION = 33, R_BUILD = 34,
    R_GETBRIGHTNESS = 42, R_DOLLAR = 43, R_GETONEX = 46, R_GETBRIGHTINDEX = 47,
    R_GETERRSTATUS = 58, R_GETTRIGGER = 61, R_GETTRIGINDEX = 64, R_GETBANDWIDTH = 66,
    R_GETBANDWIDTHEX = 68, R_GETOFFSET = 70, R_GETPORTSTATUS = 71, R_GETTOTALONOFF = 72,
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A cursor over the line with the three conversions of the reply scans. Each conversion
// skips leading white space and reads a prefix of what follows, like the C library's scan
// functions do, but without depending on the locale and without writing past a slot.
class Scanner {
public:
    explicit Scanner(const char* line) : p_(line) {}

    // A run of non-space characters; the slot keeps its first 31, the rest is consumed.
    bool Word(char (&slot)[kWordLimit + 1]) {
        SkipSpace();
        if (*p_ == '\0') {
            return false;
        }
        int n = 0;
        while (*p_ != '\0' && !IsSpace(*p_)) {
            if (n < kWordLimit) {
                slot[n++] = *p_;
            }
            ++p_;
        }
        slot[n] = '\0';
        return true;
    }

    // A decimal or hexadecimal float with optional sign, or inf/nan.
    bool Float(float& out) {
        SkipSpace();
        const char* s = p_;
        const bool negative = TakeSign(s);
        if (*s == '+' || *s == '-') {
            return false;
        }
        const bool hex = s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
        const char* digits = hex ? s + 2 : s;
        const std::chars_format format = hex ? std::chars_format::hex : std::chars_format::general;
        const char* end = digits + std::strlen(digits);
        float value = 0.0f;
        std::from_chars_result r = std::from_chars(digits, end, value, format);
        if (r.ec == std::errc::invalid_argument && hex) {
            // "0x" without digits is the number 0 followed by the letter x.
            r = std::from_chars(s, s + 1, value);
        }
        if (r.ec == std::errc::invalid_argument) {
            return false;
        }
        if (r.ec == std::errc::result_out_of_range) {
            // Beyond a float: infinity, as the C library gives; below its smallest: zero.
            value = Overflows(digits, r.ptr, hex) ? std::numeric_limits<float>::infinity() : 0.0f;
        }
        out = negative ? -value : value;
        p_ = r.ptr;
        return true;
    }

    // A hexadecimal number with optional sign and 0x prefix; keeps the low 32 bits.
    bool Hex(std::uint32_t& out) {
        SkipSpace();
        const char* s = p_;
        const bool negative = TakeSign(s);
        if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && HexDigit(s[2]) >= 0) {
            s += 2;
        }
        if (HexDigit(*s) < 0) {
            return false;
        }
        std::uint32_t value = 0;
        while (HexDigit(*s) >= 0) {
            value = (value << 4) | static_cast<std::uint32_t>(HexDigit(*s));
            ++s;
        }
        out = negative ? (0u - value) : value;
        p_ = s;
        return true;
    }

private:
    // Whether an out-of-range number [begin, end) is too large rather than too small. The
    // text decides, not a wider parse: "1e400" is beyond a double as well. What counts is
    // where the first non-zero digit stands once the exponent is applied, so "1000e-2" style
    // numbers with a long whole part and "0.0001e5" style ones with a long fraction go the
    // right way. Out of range means far beyond 1 either way, so the side of 1 is enough.
    static bool Overflows(const char* begin, const char* end, bool hex) {
        const char exponentMark = hex ? 'p' : 'e';
        const long digitWeight = hex ? 4 : 1;  // a hex digit is four binary places
        constexpr long kLimit = 1L << 40;      // far beyond any float, and no overflow here
        const char* p = begin;
        long position = 0;  // places of the first non-zero digit: 1 for "5", 0 for ".5", -1 ".05"
        bool seenNonZero = false;
        bool inFraction = false;
        for (; p < end && (*p | 0x20) != exponentMark; ++p) {
            if (*p == '.') {
                inFraction = true;
            } else if (seenNonZero) {
                if (!inFraction && position < kLimit) position += digitWeight;
            } else if (*p != '0') {
                seenNonZero = true;
                position = inFraction ? position : digitWeight;
            } else if (inFraction && position > -kLimit) {
                position -= digitWeight;
            }
        }
        if (!seenNonZero) {
            return false;
        }
        long exponent = 0;
        if (p < end) {
            ++p;
            const bool negative = p < end && *p == '-';
            if (p < end && (*p == '-' || *p == '+')) ++p;
            for (; p < end && *p >= '0' && *p <= '9'; ++p) {
                if (exponent < kLimit) exponent = exponent * 10 + (*p - '0');
            }
            exponent = negative ? -exponent : exponent;
        }
        return position + exponent > 0;
    }
    static int HexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    // Skips an optional sign; true for a minus.
    static bool TakeSign(const char*& s) {
        if (*s == '+' || *s == '-') {
            return *s++ == '-';
        }
        return false;
    }
    void SkipSpace() {
        while (IsSpace(*p_)) {
            ++p_;
        }
    }

    const char* p_;
};

struct Slots {
    char word1[kWordLimit + 1] = {};
    char word2[kWordLimit + 1] = {};
    char word3[kWordLimit + 1] = {};
    int words = 0;
    float num[8] = {};
    int nums = 0;
    std::uint32_t hex[2] = {};
    int hexes = 0;
};

void Scan(const char* line, Slots& s) {
    {
        Scanner in(line);
        char (*words[3])[kWordLimit + 1] = {&s.word1, &s.word2, &s.word3};
        while (s.words < 3 && in.Word(*words[s.words])) {
            ++s.words;
        }
    }
    {
        Scanner in(line);
        char skip[kWordLimit + 1];
        if (in.Word(skip)) {
            while (s.nums < 8 && in.Float(s.num[s.nums])) {
                ++s.nums;
            }
        }
    }
    {
        Scanner in(line);
        char skip[kWordLimit + 1];
        if (in.Word(skip)) {
            while (s.hexes < 2 && in.Hex(s.hex[s.hexes])) {
                ++s.hexes;
            }
        }
    }
}

// The float cut toward zero to a 32-bit integer; values beyond that range saturate and
// NaN gives 0, where a plain conversion would be undefined.
std::int32_t Trunc(float x) {
    if (std::isnan(x)) {
        return 0;
    }
    if (x >= 2147483648.0f) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (x <= -2147483648.0f) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(x);
}
std::uint8_t Low8(float x) { return static_cast<std::uint8_t>(static_cast<std::uint32_t>(Trunc(x)) & 0xFFu); }
std::uint16_t Low16(float x) { return static_cast<std::uint16_t>(static_cast<std::uint32_t>(Trunc(x)) & 0xFFFFu); }

bool InRange(float x, int limit) { return x >= 0.0f && x < static_cast<float>(limit); }

template <std::size_t N>
void CopyText(char (&field)[N], const char* word) {
    std::size_t n = std::strlen(word);
    if (n > N - 1) {
        n = N - 1;
    }
    std::memcpy(field, word, n);
    std::memset(field + n, 0, N - n);
}

void Apply(int id, const Slots& s, DeviceState& st) {
    const float* num = s.num;
    auto nums = [&s](int n) { return s.nums >= n; };
    switch (id) {
    case R_GETTRIGCHANNEL: if (nums(1)) st.trigChannelCount = Trunc(num[0]); break;
    case R_GETUSEONOFF: if (nums(1)) st.useOnOff = Trunc(num[0]); break;
    case R_GETUSETRIG: if (nums(1)) st.useTrig = Trunc(num[0]); break;
    case R_GETSOFTSTART: if (nums(1)) st.softStart = Trunc(num[0]); break;
    case R_GETUSEPWM: if (nums(1)) st.usePwm = Trunc(num[0]); break;
    case R_GETMODELCH: if (nums(1)) st.modelChannels = Trunc(num[0]); break;
    case R_GETDEBUG: if (nums(1)) st.debug = Trunc(num[0]); break;
    case R_GETUSEPACKET: if (nums(1)) st.usePacket = Trunc(num[0]); break;
    case R_ID: if (nums(1)) st.moduleId = Trunc(num[0]); break;
    case R_GETSWITCH:
        if (nums(4)) {
            for (int i = 0; i < kSwitchCount; ++i) {
                st.switches[i] = Low8(num[i]);
            }
        }
        break;
    case R_GETMANBRIGHT:
        if (nums(2)) {
            const std::int32_t channel = Trunc(num[0]);
            if (channel >= 0 && channel < kChannelCount) {
                st.manualBright[channel] = Low16(num[1]);
            }
        }
        break;
    case R_GETFWVERSIONINFO:
    case R_FW_VERSION:
        if (s.words >= 2) CopyText(st.firmwareVersion, s.word2);
        break;
    case R_GETFPGAVERSIONINFO:
    case R_FPGA_VERSION:
        if (s.words >= 2) CopyText(st.fpgaVersion, s.word2);
        break;
    case R_SN: if (s.words >= 2) CopyText(st.serialNumber, s.word2); break;
    case R_MODULENAME: if (s.words >= 2) CopyText(st.moduleName, s.word2); break;
    case R_BUILD: if (s.words >= 2) CopyText(st.buildInfo, s.word2); break;
    case R_GETBRIGHTNESS:
    case R_DOLLAR:
        if (nums(3) && InRange(num[0], kMemoryCount) && InRange(num[1], kChannelCount)) {
            st.brightness[Trunc(num[0])][Trunc(num[1])] = Low16(num[2]);
        }
        break;
    case R_GETONEX:
        if (nums(1) && s.hexes >= 2 && InRange(num[0], kMemoryCount)) {
            st.onMask[Trunc(num[0])] = static_cast<std::uint16_t>(s.hex[1] & 0xFFFFu);
        }
        break;
    case R_GETBRIGHTINDEX: if (nums(1)) st.brightIndex = Low8(num[0]); break;
    case R_GETERRSTATUS:
        if (s.hexes >= 2) {
            st.errorCode = static_cast<std::uint8_t>(s.hex[0] & 0xFFu);
            st.errorDetail = static_cast<std::uint8_t>(s.hex[1] & 0xFFu);
        }
        break;
    case R_GETTRIGGER:
        if (nums(8) && InRange(num[0], kMemoryCount) && InRange(num[1], kTriggersPerMemory)) {
            TriggerSetting& t = st.trigger[Trunc(num[0])][Trunc(num[1])];
            t.triggerNo = Low8(num[2]);
            t.enable = Low8(num[3]);
            t.edge = Low8(num[4]);
            t.delay = Low16(num[5]);
            t.onTime = Low16(num[6]);
            t.offTime = Low16(num[7]);
        }
        break;
    case R_GETTRIGINDEX:
        if (nums(1)) st.trigIndex = InRange(num[0], kMemoryCount) ? Low8(num[0]) : 0;
        break;
    case R_GETBANDWIDTH:
        if (nums(2)) {
            for (int c = 0; c < kChannelCount; ++c) {
                st.bandwidthLow[c] = num[0];
                st.bandwidthHigh[c] = num[1];
            }
        }
        break;
    case R_GETBANDWIDTHEX:
        if (nums(3) && InRange(num[0], kChannelCount)) {
            st.bandwidthLow[Trunc(num[0])] = num[1];
            st.bandwidthHigh[Trunc(num[0])] = num[2];
        }
        break;
    case R_GETOFFSET: if (nums(1)) st.offset = Low16(num[0]); break;
    case R_GETPORTSTATUS:
        if (s.hexes >= 2) {
            st.in0 = s.hex[0] & 1u;
            st.in1 = (s.hex[0] >> 1) & 1u;
            st.out0 = s.hex[1] & 1u;
            st.out1 = (s.hex[1] >> 1) & 1u;
        }
        break;
    case R_GETTOTALONOFF: if (nums(1)) st.totalOnOff = Low8(num[0]); break;
    default:
        break;
    }
}

}  // namespace

int FindReply(const char* word) {
    for (const ReplyEntry* e = kReplyTable; e->keyword[0] != '\0'; ++e) {
        if (std::strcmp(word, e->keyword) == 0) {
            return e->id;
        }
    }
    return kNoReply;
}

int DispatchReplyLine(const char* line, DeviceState& state, std::int32_t& replySeen) {
    Slots s;
    Scan(line, s);
    if (s.words == 0) {
        return kNoReply;
    }
    const int id = FindReply(s.word1);
    if (id == kNoReply) {
        return kNoReply;
    }
    replySeen = 1;
    Apply(id, s, state);
    return id;
}
