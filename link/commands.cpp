#include "commands.h"

#include "c_format.h"

#include <cstring>

namespace {


int ReadArgs(ArgKind kind, const void* args, CArg (&v)[6]) {
    auto integer = [](long long x) { return CArg(x); };
    auto real = [](float x) { return CArg(static_cast<double>(x)); };
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
    case ArgKind::Text:
        v[0] = CArg(static_cast<const TextArg*>(args)->text);
        return 1;
    }
    return 0;
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
    return &kCommandCatalogue[id];
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

    CArg values[6];
    const int count = ReadArgs(info->args, args, values);
    char text[kCommandBufferSize] = {};
    int length = 0;
    // The catalogue's formats are well formed, so a failure can only be a text too long.
    if (!CFormatTo(text, kCommandBufferSize - 1, length, info->format, values, count)) {
        return EncodeResult::TooLong;
    }
    std::memcpy(out.bytes, text, static_cast<std::size_t>(length));
    out.length = static_cast<std::uint32_t>(length);
    LogEntry(text, static_cast<std::size_t>(length), out.logText);
    return EncodeResult::Ok;
}
