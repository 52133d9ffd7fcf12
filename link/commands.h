#pragma once
// The outgoing vocabulary: command identifiers, their argument blocks and the encoder.

#include <cstddef>
#include <cstdint>

#include "device_state.h"

enum CommandId : int {
    CMD_SETTRIGCHANNEL = 0,
    CMD_GETTRIGCHANNEL = 1,
    CMD_SETUSEONOFF = 2,
    CMD_GETUSEONOFF = 3,
    CMD_SETUSETRIG = 4,
    CMD_GETUSETRIG = 5,
    CMD_SETSOFTSTART = 6,
    CMD_GETSOFTSTART = 7,
    CMD_SETUSEPWM = 8,
    CMD_GETUSEPWM = 9,
    CMD_GETSWITCH = 10,
    CMD_GETMANBRIGHT = 11,
    CMD_SETDEBUG = 12,
    CMD_GETDEBUG = 13,
    CMD_RESET = 14,
    CMD_GETMODULEINFO = 15,
    CMD_GETBUILDINFO = 16,
    CMD_SETUSEPACKET = 17,
    CMD_GETUSEPACKET = 18,
    CMD_SETMODELCH = 19,
    CMD_GETMODELCH = 20,
    CMD_GETVERSIONINFO = 21,
    CMD_GETFWVERSIONINFO = 22,
    CMD_GETFPGAVERSIONINFO = 23,
    CMD_SETMODELSAVE = 24,
    CMD_SETBRIGHTNESS = 25,
    CMD_GETBRIGHTNESS = 26,
    CMD_SETBRIGHTPACKET = 27,
    CMD_SETON = 28,
    CMD_GETON = 29,
    CMD_SETONEX = 30,
    CMD_GETONEX = 31,
    CMD_SAVEBRIGHT = 32,
    CMD_LOADBRIGHT = 33,
    CMD_FACTORYRESET = 34,
    CMD_SETERRIGNORE = 35,
    CMD_GETERRSTATUS = 36,
    CMD_SETTRIGGER = 37,
    CMD_GETTRIGGER = 38,
    CMD_SAVETRIGGER = 39,
    CMD_LOADTRIGGER = 40,
    CMD_SETBANDWIDTH = 41,
    CMD_GETBANDWIDTH = 42,
    CMD_SETBANDWIDTHEX = 43,
    CMD_GETBANDWIDTHEX = 44,
    CMD_GETBRIGHTINDEX = 45,
    CMD_GETTRIGINDEX = 46,
    CMD_SETTRIGTEST = 47,
    CMD_SETONESHOTTRIG = 48,
    CMD_FPGAREGSET = 49,
    CMD_RESERVED50 = 50,
    CMD_RESERVED51 = 51,
    CMD_SETSN = 52,
    CMD_GETSN = 53,
    CMD_SETMODULEID = 54,
    CMD_GETMODULEID = 55,
    CMD_SAVESN = 56,
    CMD_SAVEID = 57,
    CMD_SETBUZZER = 58,
    CMD_RAW = 59,
    CMD_SETOUTPORT = 60,
    CMD_SETOUTPORTALL = 61,
    CMD_GETPORTSTATUS = 62,
    CMD_GETTOTALONOFF = 63,
    CMD_SETOFFSET = 64,
    CMD_GETOFFSET = 65,
};

constexpr int kCommandCount = 66;
constexpr int kCommandBufferSize = 64;  // a command holds at most 63 characters
constexpr int kPacketSize = 38;
constexpr std::uint8_t PACKET_START = 0xFE;
constexpr std::uint8_t PACKET_END = 0xFD;

// Argument blocks. Each command reads the block its catalogue entry names.
struct OneValueArg {        // unsigned for most commands
    std::uint8_t value = 0;
};
struct SignedValueArg {     // CMD_SETMODULEID, CMD_SETBUZZER
    std::int8_t value = 0;
};
struct TwoValuesArg {
    std::uint8_t first = 0;
    std::uint8_t second = 0;
};
struct BrightnessArg {
    std::uint8_t channel = 0;  // 0-based
    std::uint16_t value = 0;
};
struct MaskArg {
    std::uint32_t mask = 0;    // bit n set = channel n
};
struct Value16Arg {
    std::uint16_t value = 0;
};
struct BandwidthArg {
    std::uint8_t channel = 0;
    float low = 0.0f;
    float high = 0.0f;
};
struct TextArg {
    const char* text = nullptr;  // NUL-terminated
};
struct PacketArg {
    std::uint16_t values[kChannelCount] = {};
};
// CMD_SETTRIGGER takes a TriggerSetting (device_state.h), which this builds for every trigger
// write (the panel's and the API's): trigger 0-based, times as sent (the microseconds shown
// minus one), and an off time of ten times the on time, in 16 bits.
inline TriggerSetting MakeTriggerSetting(std::uint8_t trigger, std::uint8_t enable, std::uint8_t edge,
                                         std::uint16_t delay, std::uint16_t onTime) {
    TriggerSetting s;
    s.triggerNo = trigger;
    s.enable = enable;
    s.edge = edge;
    s.delay = delay;
    s.onTime = onTime;
    s.offTime = static_cast<std::uint16_t>(onTime * 10);
    return s;
}

// What the argument block of a command is.
// BandwidthPair reads a BandwidthArg but prints only low and high.
enum class ArgKind { None, Value, SignedValue, TwoValues, Brightness, Mask, Value16, Trigger,
                     BandwidthPair, Bandwidth, Text, Packet, NotSent };

struct CommandInfo {
    CommandId id;
    const char* format;  // printf-style text of the command; null for the packet and reserved ids
    ArgKind args;
};

// The catalogue: entry i is the command with id i.
inline constexpr CommandInfo kCommandCatalogue[kCommandCount] = {
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

constexpr bool CatalogueInIdOrder() {
    for (int i = 0; i < kCommandCount; ++i) {
        if (kCommandCatalogue[i].id != i) {
            return false;
        }
    }
    return true;
}
static_assert(CatalogueInIdOrder(), "the catalogue is indexed by command id");

// Catalogue entry of an id in 0..65; null for any other id.
const CommandInfo* FindCommand(int id);

// Result of encoding one command.
struct EncodedCommand {
    unsigned char bytes[kCommandBufferSize] = {};  // what goes on the line (38 for the packet)
    std::uint32_t length = 0;
    char logText[kCommandBufferSize + 4] = {};     // "-> " and the command (packet: up to its first 0)
};

enum class EncodeResult { Ok, UnknownId, NothingToSend, TooLong, MissingArgs };

// Builds the bytes and the log entry of a command, numbers in the C locale whatever the
// user's locale. TooLong: the text would exceed 63 characters (nothing may be sent then).
// MissingArgs: the command needs a block and args is null. Pure; any thread.
EncodeResult EncodeCommand(int id, const void* args, EncodedCommand& out);
