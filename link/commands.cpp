#include "commands.h"

#include <charconv>
#include <cstring>

namespace {

constexpr CommandInfo kCatalogue[kCommandCount] = {
    {CMD_SETTRIGCHANNEL, "settrigchannel %d\r", ArgKind::Value},
    {CMD_GETTRIGCHANNEL, "gettrigchannel\r", ArgKind::None},
    {CMD_SETUSEONOFF, "setuseonoff %d\r", ArgKind::Value},
    {CMD_GETUSEONOFF, "getuseonoff\r", ArgKind::None},
    {CMD_SETUSETRIG, "setusetrig %d\r", ArgKind::Value},
    {CMD_GETUSETRIG, "getusetrig\r", ArgKind::None},
    {CMD_SETSOFTSTART, "setsoftstart %d\r", ArgKind::Value},
    {CMD_GETSOFTSTART, "getsoftstart\r", ArgKind::None},
    {CMD_SETUSEPWM, "setusepwm %d\r", ArgKind::Value},
    {CMD_GETUSEPWM, "getusepwm\r", ArgKind::None},
    {CMD_GETSWITCH, "getswitch\r", ArgKind::None},
    {CMD_GETMANBRIGHT, "getmanbright %d\r", ArgKind::Value},
    {CMD_SETDEBUG, "setdebug %d\r", ArgKind::Value},
    {CMD_GETDEBUG, "getdebug\r", ArgKind::None},
    {CMD_RESET, "reset\r", ArgKind::None},
    {CMD_GETMODULEINFO, "getmoduleinfo\r", ArgKind::None},
    {CMD_GETBUILDINFO, "getbuildinfo\r", ArgKind::None},
    {CMD_SETUSEPACKET, "setusepacket %d\r", ArgKind::Value},
    {CMD_GETUSEPACKET, "getusepacket\r", ArgKind::None},
    {CMD_SETMODELCH, "setmodelch %d\r", ArgKind::Value},
    {CMD_GETMODELCH, "getmodelch\r", ArgKind::None},
    {CMD_GETVERSIONINFO, "getversioninfo\r", ArgKind::None},
    {CMD_GETFWVERSIONINFO, "getfwversioninfo\r", ArgKind::None},
    {CMD_GETFPGAVERSIONINFO, "getfpgaversioninfo\r", ArgKind::None},
    {CMD_SETMODELSAVE, "setmodelsave\r", ArgKind::None},
    {CMD_SETBRIGHTNESS, "# %d %d\r", ArgKind::Brightness},
    {CMD_GETBRIGHTNESS, "$ %d\r", ArgKind::Value},
    {CMD_SETBRIGHTPACKET, nullptr, ArgKind::Packet},
    {CMD_SETON, "seton %d %d\r", ArgKind::TwoValues},
    {CMD_GETON, "geton %d\r", ArgKind::Value},
    {CMD_SETONEX, "setonex %08x\r", ArgKind::Mask},
    {CMD_GETONEX, "getonex\r", ArgKind::None},
    {CMD_SAVEBRIGHT, "savebright %d\r", ArgKind::Value},
    {CMD_LOADBRIGHT, "loadbright %d\r", ArgKind::Value},
    {CMD_FACTORYRESET, "factoryreset\r", ArgKind::None},
    {CMD_SETERRIGNORE, "seterrignore %d\r", ArgKind::Value},
    {CMD_GETERRSTATUS, "geterrstatus\r", ArgKind::None},
    {CMD_SETTRIGGER, "settrigger %d %d %d %d %d %d\r", ArgKind::Trigger},
    {CMD_GETTRIGGER, "gettrigger %d\r", ArgKind::Value},
    {CMD_SAVETRIGGER, "savetrigger %d\r", ArgKind::Value},
    {CMD_LOADTRIGGER, "loadtrigger %d\r", ArgKind::Value},
    {CMD_SETBANDWIDTH, "setbandwidth %f %f\r", ArgKind::BandwidthPair},
    {CMD_GETBANDWIDTH, "getbandwidth\r", ArgKind::None},
    {CMD_SETBANDWIDTHEX, "setbandwidthex %d %f %f\r", ArgKind::Bandwidth},
    {CMD_GETBANDWIDTHEX, "getbandwidthex %d\r", ArgKind::Value},
    {CMD_GETBRIGHTINDEX, "getbrightindex\r", ArgKind::None},
    {CMD_GETTRIGINDEX, "gettrigindex\r", ArgKind::None},
    {CMD_SETTRIGTEST, "settrigtest %d\r", ArgKind::Value},
    {CMD_SETONESHOTTRIG, "setoneshottrig\r", ArgKind::None},
    {CMD_FPGAREGSET, "fpgaregset %x %x\r", ArgKind::TwoValues},
    {CMD_RESERVED50, nullptr, ArgKind::NotSent},
    {CMD_RESERVED51, nullptr, ArgKind::NotSent},
    {CMD_SETSN, "setsn %s\r", ArgKind::Text},
    {CMD_GETSN, "getsn\r", ArgKind::None},
    {CMD_SETMODULEID, "setmoduleid %d\r", ArgKind::SignedValue},
    {CMD_GETMODULEID, "getmoduleid\r", ArgKind::None},
    {CMD_SAVESN, "savesn\r", ArgKind::None},
    {CMD_SAVEID, "saveid\r", ArgKind::None},
    {CMD_SETBUZZER, "setbuzzer %d\r", ArgKind::SignedValue},
    {CMD_RAW, "%s", ArgKind::Text},
    {CMD_SETOUTPORT, "setoutport %d %d\r", ArgKind::TwoValues},
    {CMD_SETOUTPORTALL, "setoutportall %x\r", ArgKind::Value},
    {CMD_GETPORTSTATUS, "getportstatus\r", ArgKind::None},
    {CMD_GETTOTALONOFF, "gettotalonoff\r", ArgKind::None},
    {CMD_SETOFFSET, "setoffset %d\r", ArgKind::Value16},
    {CMD_GETOFFSET, "getoffset\r", ArgKind::None},
};

// One printed argument: an integer (for %d and %x), a float (%f) or a text (%s).
struct Value {
    enum Kind { Int, Float, Text } kind = Int;
    long long integer = 0;
    double real = 0.0;
    const char* text = "";
};

// Reads the block of a command into the values its text prints, in order.
int ReadArgs(ArgKind kind, const void* args, Value (&v)[6]) {
    auto integer = [](long long x) { Value out; out.integer = x; return out; };
    auto real = [](float x) { Value out; out.kind = Value::Float; out.real = x; return out; };
    switch (kind) {
    case ArgKind::None:
    case ArgKind::Packet:
    case ArgKind::NotSent:
        return 0;
    case ArgKind::Value:
        v[0] = integer(static_cast<const OneValueArg*>(args)->value);
        return 1;
    case ArgKind::SignedValue:
        v[0] = integer(static_cast<const SignedValueArg*>(args)->value);
        return 1;
    case ArgKind::TwoValues: {
        const auto* a = static_cast<const TwoValuesArg*>(args);
        v[0] = integer(a->first);
        v[1] = integer(a->second);
        return 2;
    }
    case ArgKind::Brightness: {
        const auto* a = static_cast<const BrightnessArg*>(args);
        v[0] = integer(a->channel);
        v[1] = integer(a->value);
        return 2;
    }
    case ArgKind::Mask:
        v[0] = integer(static_cast<const MaskArg*>(args)->mask);
        return 1;
    case ArgKind::Value16:
        v[0] = integer(static_cast<const Value16Arg*>(args)->value);
        return 1;
    case ArgKind::Trigger: {
        const auto* t = static_cast<const TriggerSetting*>(args);
        v[0] = integer(t->triggerNo);
        v[1] = integer(t->enable);
        v[2] = integer(t->edge);
        v[3] = integer(t->delay);
        v[4] = integer(t->onTime);
        v[5] = integer(t->offTime);
        return 6;
    }
    case ArgKind::BandwidthPair: {
        const auto* a = static_cast<const BandwidthArg*>(args);
        v[0] = real(a->low);
        v[1] = real(a->high);
        return 2;
    }
    case ArgKind::Bandwidth: {
        const auto* a = static_cast<const BandwidthArg*>(args);
        v[0] = integer(a->channel);
        v[1] = real(a->low);
        v[2] = real(a->high);
        return 3;
    }
    case ArgKind::Text: {
        Value t;
        t.kind = Value::Text;
        t.text = static_cast<const TextArg*>(args)->text;
        if (t.text == nullptr) {
            t.text = "";
        }
        v[0] = t;
        return 1;
    }
    }
    return 0;
}

// Appends to a bounded text; false once the text would pass its limit.
class Writer {
public:
    Writer(char* buffer, int limit) : buf_(buffer), limit_(limit) {}
    bool put(char c) {
        if (len_ >= limit_) {
            return false;
        }
        buf_[len_++] = c;
        return true;
    }
    bool put(const char* s, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (!put(s[i])) {
                return false;
            }
        }
        return true;
    }
    int length() const { return len_; }

private:
    char* buf_;
    int limit_;
    int len_ = 0;
};

// The catalogue's formats use only %d, %x, %08x, %f and %s; numbers are printed with
// to_chars, which ignores the locale.
bool Format(const char* format, const Value* values, int count, Writer& out) {
    int next = 0;
    char digits[400];
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            if (!out.put(*p)) {
                return false;
            }
            continue;
        }
        ++p;
        int width = 0;
        bool zeroPad = false;
        if (*p == '0') {
            zeroPad = true;
            ++p;
        }
        while (*p >= '0' && *p <= '9') {
            width = width * 10 + (*p - '0');
            ++p;
        }
        if (next >= count) {
            return false;
        }
        const Value& v = values[next++];
        std::to_chars_result r{};
        switch (*p) {
        case 'd':
            r = std::to_chars(digits, digits + sizeof digits, v.integer);
            break;
        case 'x':
            // %x prints the value as an unsigned int.
            r = std::to_chars(digits, digits + sizeof digits,
                              static_cast<unsigned>(static_cast<unsigned long long>(v.integer)), 16);
            break;
        case 'f':
            r = std::to_chars(digits, digits + sizeof digits, v.real, std::chars_format::fixed, 6);
            break;
        case 's':
            if (!out.put(v.text, std::strlen(v.text))) {
                return false;
            }
            continue;
        default:
            return false;
        }
        if (r.ec != std::errc()) {
            return false;
        }
        const int n = static_cast<int>(r.ptr - digits);
        for (int i = n; i < width; ++i) {
            if (!out.put(zeroPad ? '0' : ' ')) {
                return false;
            }
        }
        if (!out.put(digits, static_cast<std::size_t>(n))) {
            return false;
        }
    }
    return true;
}

void LogEntry(const char* command, std::size_t length, char* logText) {
    std::memcpy(logText, "-> ", 3);
    std::memcpy(logText + 3, command, length);
    logText[3 + length] = '\0';
}

}  // namespace

const CommandInfo* FindCommand(int id) {
    if (id < 0 || id >= kCommandCount) {
        return nullptr;
    }
    return &kCatalogue[id];
}

EncodeResult EncodeCommand(int id, const void* args, EncodedCommand& out) {
    out = EncodedCommand{};
    const CommandInfo* info = FindCommand(id);
    if (info == nullptr) {
        return EncodeResult::UnknownId;
    }
    if (info->args == ArgKind::NotSent) {
        return EncodeResult::NothingToSend;
    }
    if (info->args != ArgKind::None && args == nullptr) {
        return EncodeResult::MissingArgs;
    }

    if (info->args == ArgKind::Packet) {
        const auto* packet = static_cast<const PacketArg*>(args);
        unsigned char* b = out.bytes;
        b[0] = PACKET_START;
        b[1] = PACKET_START;
        b[2] = static_cast<unsigned char>(CMD_SETBRIGHTPACKET);
        b[3] = 0x00;
        b[4] = 0x20;
        for (int i = 0; i < kChannelCount; ++i) {
            b[5 + 2 * i] = static_cast<unsigned char>(packet->values[i] >> 8);
            b[6 + 2 * i] = static_cast<unsigned char>(packet->values[i] & 0xFF);
        }
        b[kPacketSize - 1] = PACKET_END;
        out.length = kPacketSize;
        // The log shows the packet as text, which ends at its first zero byte.
        LogEntry(reinterpret_cast<const char*>(b), 3, out.logText);
        return EncodeResult::Ok;
    }

    Value values[6];
    const int count = ReadArgs(info->args, args, values);
    char text[kCommandBufferSize] = {};
    Writer writer(text, kCommandBufferSize - 1);
    if (!Format(info->format, values, count, writer)) {
        return EncodeResult::TooLong;
    }
    const int length = writer.length();
    std::memcpy(out.bytes, text, static_cast<std::size_t>(length));
    out.length = static_cast<std::uint32_t>(length);
    LogEntry(text, static_cast<std::size_t>(length), out.logText);
    return EncodeResult::Ok;
}
