#pragma once
// Typed sending: the argument block of every command is fixed by the catalogue, and these
// templates make the compiler hold a caller to it. SendTyped<CMD_SETBRIGHTNESS>(link, {2, 512})
// compiles; passing a MaskArg to it, or no block at all, does not. DeviceLink::SendCommand
// stays the untyped entry beneath.
//
// Threads and effects as DeviceLink::SendCommand: window thread; one write, one log entry and
// a 10 ms pause, or nothing at all with no port open.

#include <type_traits>

#include "commands.h"
#include "device_link.h"

// The block of a command that takes none (the reserved ids take none as well).
struct NoArgs {};

template <ArgKind K> struct BlockOfKind { using type = NoArgs; };
template <> struct BlockOfKind<ArgKind::Value> { using type = OneValueArg; };
template <> struct BlockOfKind<ArgKind::SignedValue> { using type = SignedValueArg; };
template <> struct BlockOfKind<ArgKind::TwoValues> { using type = TwoValuesArg; };
template <> struct BlockOfKind<ArgKind::Brightness> { using type = BrightnessArg; };
template <> struct BlockOfKind<ArgKind::Mask> { using type = MaskArg; };
template <> struct BlockOfKind<ArgKind::Value16> { using type = Value16Arg; };
template <> struct BlockOfKind<ArgKind::Trigger> { using type = TriggerSetting; };
template <> struct BlockOfKind<ArgKind::BandwidthPair> { using type = BandwidthArg; };
template <> struct BlockOfKind<ArgKind::Bandwidth> { using type = BandwidthArg; };
template <> struct BlockOfKind<ArgKind::Text> { using type = TextArg; };
template <> struct BlockOfKind<ArgKind::Packet> { using type = PacketArg; };

// The argument block type of command Id.
template <CommandId Id>
using CommandBlock = typename BlockOfKind<kCommandCatalogue[Id].args>::type;

template <CommandId Id>
constexpr bool kTakesNoBlock = std::is_same_v<CommandBlock<Id>, NoArgs>;

template <CommandId Id>
    requires kTakesNoBlock<Id>
void SendTyped(DeviceLink& link) {
    link.SendCommand(Id, nullptr);
}

template <CommandId Id>
    requires(!kTakesNoBlock<Id>)
void SendTyped(DeviceLink& link, const CommandBlock<Id>& block) {
    link.SendCommand(Id, &block);
}
