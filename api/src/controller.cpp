#include "lumitrax/controller.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <cstring>
#include <mutex>
#include <thread>

#include "config_sequence.h"
#include "configuration_internal.h"
#include "controller_impl.h"
#include "controller_queries.h"
#include "device_values.h"
#include "lumitrax/version.h"
#include "pause.h"
#include "qt_runtime.h"
#include "port_list.h"
#include "text.h"
#include "trigger_setting.h"
#include "wire.h"

namespace lumitrax {

using detail::Make;
using detail::MakeText;
using detail::Outgoing;

namespace detail {

std::vector<Outgoing> IdentityCommands() {
    return {Make(CMD_GETMODULEINFO), Make(CMD_GETBUILDINFO), Make(CMD_GETFWVERSIONINFO), Make(CMD_GETFPGAVERSIONINFO),
            Make(CMD_GETSN), Make(CMD_GETMODULEID)};
}

Identity IdentityOf(const DeviceState& s) {
    Identity id;
    id.model = FieldText(s.moduleName);
    id.serialNumber = FieldText(s.serialNumber);
    id.moduleId = s.moduleId;
    id.firmware = FieldText(s.firmwareVersion);
    id.fpga = FieldText(s.fpgaVersion);
    id.build = FieldText(s.buildInfo);
    return id;
}

TriggerSetting TriggerSettingOf(const TriggerRow& row) {
    return MakeTriggerSetting(static_cast<std::uint8_t>(row.row - 1), row.enable ? 1 : 0,
                              row.edge == Edge::Positive ? 0 : 1, static_cast<std::uint16_t>(row.delayUs - 1),
                              static_cast<std::uint16_t>(row.onUs - 1));
}

}  // namespace detail

namespace {

using detail::IdentityOf;

// The controller writes its flash after these and gives no sign when it is done.
constexpr int kFlashWaitMs = 500;
constexpr int kFactoryResetWaitMs = 2000;

void Require(bool ok, const std::string& message) {
    if (!ok) {
        throw Error(ErrorKind::Argument, message);
    }
}

bool ValidMemory(int m) { return m >= 0 && m < kMemories; }

// Every value of a configuration as apply would send it, or Error(Argument) naming each bad one.
void CheckForWrite(const Configuration& configuration) {
    std::string message;
    for (const std::string& p : detail::CheckConfiguration(configuration)) {
        message += (message.empty() ? "" : "; ") + p;
    }
    Require(message.empty(), message);
}

std::vector<Outgoing> ReadAllCommands() {
    std::vector<Outgoing> c;
    for (const int id : {CMD_GETMODULEINFO, CMD_GETBUILDINFO, CMD_GETUSEPACKET, CMD_GETTRIGCHANNEL, CMD_GETUSEONOFF,
                         CMD_GETUSETRIG, CMD_GETSOFTSTART, CMD_GETUSEPWM, CMD_GETMODELCH, CMD_GETDEBUG,
                         CMD_GETFWVERSIONINFO, CMD_GETFPGAVERSIONINFO, CMD_GETBANDWIDTH, CMD_GETOFFSET, CMD_GETONEX,
                         CMD_GETERRSTATUS, CMD_GETBRIGHTINDEX, CMD_GETTRIGINDEX, CMD_GETSN, CMD_GETMODULEID}) {
        c.push_back(Make(id));
    }
    c.push_back(Make(CMD_GETBANDWIDTHEX, OneValueArg{255}));
    c.push_back(Make(CMD_GETBRIGHTNESS, OneValueArg{255}));
    for (std::uint8_t k = 0; k < kTriggerRows; ++k) {
        c.push_back(Make(CMD_GETTRIGGER, OneValueArg{k}));
    }
    for (const int id : {CMD_GETPORTSTATUS, CMD_GETTOTALONOFF, CMD_GETSWITCH}) {
        c.push_back(Make(id));
    }
    return c;
}

std::array<ChannelState, kChannels> ChannelsOf(const DeviceState& s, int memory) {
    std::array<ChannelState, kChannels> out{};
    for (int i = 0; i < kChannels; ++i) {
        out[static_cast<std::size_t>(i)].channel = i + 1;
        if (ValidMemory(memory)) {
            out[static_cast<std::size_t>(i)].brightness = s.brightness[memory][i];
            out[static_cast<std::size_t>(i)].on = ((s.onMask[memory] >> i) & 1u) != 0;
        }
    }
    return out;
}

std::array<TriggerRow, kTriggerRows> TriggersOf(const DeviceState& s, int memory) {
    std::array<TriggerRow, kTriggerRows> out{};
    for (int k = 0; k < kTriggerRows; ++k) {
        TriggerRow& r = out[static_cast<std::size_t>(k)];
        r.row = k + 1;
        if (ValidMemory(memory)) {
            const TriggerSetting& t = s.trigger[memory][k];
            r.enable = t.enable != 0;
            r.edge = t.edge == 0 ? Edge::Positive : Edge::Negative;
            r.delayUs = t.delay + 1;
            r.onUs = t.onTime + 1;
            r.offUs = t.offTime;
        }
    }
    return out;
}

// What the panel's "[Config]" group shows after its read-all.
ModuleConfig ModuleOf(const DeviceState& s) {
    ModuleConfig c;
    c.model = QString::fromStdString(detail::FieldText(s.moduleName));
    c.serial = QString::fromStdString(detail::FieldText(s.serialNumber));
    c.id = s.moduleId;
    c.channels = s.modelChannels;
    c.offset = s.offset;
    c.trigChannels = s.trigChannelCount;
    c.usePwm = s.usePwm != 0 ? 1 : 0;
    c.usePacket = s.usePacket != 0 ? 1 : 0;
    c.useDebug = s.debug != 0 ? 1 : 0;
    c.useOnOff = s.useOnOff != 0 ? 1 : 0;
    c.useSoft = s.softStart != 0 ? 1 : 0;
    c.useTrig = s.useTrig != 0 ? 1 : 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannels); ++i) {
        c.bandwidthLow[i] = s.bandwidthLow[i];
        c.bandwidthHigh[i] = s.bandwidthHigh[i];
    }
    return c;
}

State StateOf(const DeviceState& s) {
    State st;
    st.identity = IdentityOf(s);
    st.modelChannels = s.modelChannels;
    st.triggerChannels = s.trigChannelCount;
    st.offset = s.offset;
    st.features = {s.usePwm != 0, s.usePacket != 0, s.debug != 0, s.useTrig != 0, s.useOnOff != 0, s.softStart != 0};
    st.switches = {s.switches[0] != 0, s.switches[1] != 0, s.switches[2] != 0, s.switches[3] != 0};
    st.errorStatus = {s.errorCode, s.errorDetail};
    st.out0 = s.out0 != 0;
    st.out1 = s.out1 != 0;
    st.in0 = s.in0 != 0;
    st.in1 = s.in1 != 0;
    st.tof = s.totalOnOff;
    st.brightMemory = s.brightIndex;
    st.triggerMemory = s.trigIndex;
    st.channels = ChannelsOf(s, s.brightIndex);
    st.triggers = TriggersOf(s, s.trigIndex);
    for (int i = 0; i < kChannels; ++i) {
        st.dac[static_cast<std::size_t>(i)] = DacRow{i + 1, s.bandwidthLow[i], s.bandwidthHigh[i]};
    }
    return st;
}

struct Step {
    std::string name;
    std::vector<Outgoing> commands;
    int waitAfterMs = 0;
};

// Every command of a configuration write, built (and so checked against the link's limits)
// before the first is sent; the link's sequence, with a wait after each flash write.
std::vector<Step> ApplySteps(const ModuleConfig& c) {
    std::vector<Step> steps;
    for (const ConfigStep& from : ConfigWriteSequence(c)) {
        Step step{from.name, {}, from.savesToFlash ? kFlashWaitMs : 0};
        for (const ConfigCommand& command : from.commands) {
            step.commands.push_back(std::visit(
                [id = command.id](const auto& args) {
                    using Args = std::decay_t<decltype(args)>;
                    if constexpr (std::is_same_v<Args, NoArgs>) {
                        return Make(id);
                    } else if constexpr (std::is_same_v<Args, QByteArray>) {
                        return MakeText(id, args.toStdString());
                    } else {
                        return Make(id, args);
                    }
                },
                command.args));
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

}  // namespace

const char* version() noexcept { return LUMITRAX_VERSION; }

void checkChannel(int channel) {
    Require(channel >= 1 && channel <= kChannels, "channel " + std::to_string(channel) + " is not 1..16");
}

void checkBrightness(int value) {
    Require(value >= 0 && value <= kMaxBrightness, "brightness " + std::to_string(value) + " is not 0..1024");
}

void checkMemory(int memory) {
    Require(memory >= 0 && memory < kMemories, "memory " + std::to_string(memory) + " is not 0..9");
}

void checkTriggerRow(const TriggerRow& row) {
    const std::string name = "trigger " + std::to_string(row.row);
    Require(row.row >= 1 && row.row <= kTriggerRows, name + " is not 1..4");
    Require(row.delayUs >= 1 && row.delayUs <= kMaxTriggerUs,
            name + ": delay " + std::to_string(row.delayUs) + " us is not 1..4000");
    Require(row.onUs >= 1 && row.onUs <= kMaxTriggerUs, name + ": on time " + std::to_string(row.onUs) + " us is not 1..4000");
}

void checkRawText(const std::string& text) {
    Require(text.find_first_of("\r\n") == std::string::npos, "raw text is one line: it may not hold a line break");
    Require(text.find('\0') == std::string::npos, "raw text may not hold a NUL byte");
    Require(static_cast<int>(detail::EncodeFromUtf8(text).size()) <= kMaxRawLength,
            "raw text is too long: at most " + std::to_string(kMaxRawLength) + " bytes");
}

void checkTarget(const std::string& target) {
    const QString name = QString::fromStdString(target);
    NetworkPortName parsed;
    Require(!IsNetworkPortName(name) || ParseNetworkPortName(name, parsed),
            target + ": not a network address; write tcp://HOST:PORT or rfc2217://HOST:PORT");
}

DeviceState Controller::Impl::Ask(const std::vector<Outgoing>& commands) {
    std::size_t sent = 0;
    try {
        if (wire->Exchange(commands, timeoutMs.load(), &cancelled, &sent).sent < commands.size()) {
            throw Error(ErrorKind::Interrupted, target + ": interrupted");
        }
    } catch (const Error& e) {
        if (e.kind() != ErrorKind::Port || !e.stepsWritten().empty() || sent == 0) {
            throw;
        }
        // A loss in the middle: say which commands went out (unconfirmed) and which did not.
        std::vector<std::string> written;
        std::vector<std::string> notWritten;
        for (std::size_t i = 0; i < commands.size(); ++i) {
            (i < sent ? written : notWritten).push_back(commands[i].shown);
        }
        throw Error(ErrorKind::Port,
                    std::string(e.what()) + " (" + std::to_string(sent) + " of " + std::to_string(commands.size()) +
                        (commands.size() == 1 ? " command" : " commands") + " sent, not confirmed)",
                    written, notWritten);
    }
    return wire->Snapshot();
}

int Controller::Impl::ChannelCount() {
    if (channels == 0) {
        const int n = Ask({Make(CMD_GETMODELCH)}).modelChannels;
        // A count outside 1..16 says nothing usable: it restricts nothing beyond 1..16.
        channels = n >= 1 && n <= kChannels ? n : kChannels;
    }
    return channels;
}

namespace {

// Inside a call: a channel above the model's count is refused before anything is written.
void CheckModelChannel(Controller::Impl& d, int channel) {
    const int count = d.ChannelCount();
    Require(channel <= count, "channel " + std::to_string(channel) + " is not 1.." + std::to_string(count) + " (" +
                                  d.target + " has " + std::to_string(count) + " channels)");
}

}  // namespace

void Controller::setTimeout(int milliseconds) {
    Require(milliseconds >= 1 && milliseconds <= kMaxTimeoutMs, "the timeout is not 1..600000 ms");
    d->timeoutMs.store(milliseconds);
}

int Controller::timeout() const noexcept { return d->timeoutMs.load(); }

void Controller::setTrafficHandler(std::function<void(Direction, const std::string&)> handler) {
    detail::InCall::Refuse(d.get(), true);
    std::lock_guard lock(d->trafficMutex);
    d->traffic = std::move(handler);
}

Identity Controller::identity() {
    return d->Run([this] {
        return IdentityOf(d->Ask(detail::IdentityCommands()));
    });
}

State Controller::state() {
    return d->Run([this] { return StateOf(d->Ask(ReadAllCommands())); });
}

void Controller::setBrightness(int channel, int value) {
    checkChannel(channel);
    checkBrightness(value);
    const Outgoing c = Make(CMD_SETBRIGHTNESS, BrightnessArg{static_cast<std::uint8_t>(channel - 1),
                                                             static_cast<std::uint16_t>(value)});
    d->Run([&] {
        CheckModelChannel(*d, channel);
        d->Ask({c});
    });
}

void Controller::setAllBrightness(int value) {
    checkBrightness(value);
    std::vector<Outgoing> c;
    for (std::uint8_t i = 0; i < kChannels; ++i) {
        c.push_back(Make(CMD_SETBRIGHTNESS, BrightnessArg{i, static_cast<std::uint16_t>(value)}));
    }
    d->Run([&] { d->Ask(c); });
}

void Controller::setBrightnessPacket(const std::array<int, kChannels>& values) {
    PacketArg packet;
    for (std::size_t i = 0; i < values.size(); ++i) {
        checkBrightness(values[i]);
        packet.values[i] = static_cast<std::uint16_t>(values[i]);
    }
    const Outgoing c = Make(CMD_SETBRIGHTPACKET, packet);
    d->Run([&] { d->Ask({c}); });
}

void Controller::setBrightnessList(const std::vector<int>& values) {
    Require(!values.empty() && values.size() <= static_cast<std::size_t>(kChannels), "give 1..16 brightness values");
    for (const int v : values) {
        checkBrightness(v);
    }
    d->Run([&] {
        const int count = d->ChannelCount();
        Require(values.size() <= static_cast<std::size_t>(count),
                "channel " + std::to_string(values.size()) + " is not 1.." + std::to_string(count) + " (the model has " +
                    std::to_string(count) + " channels)");
        if (d->packetMode < 0) {
            d->packetMode = d->Ask({Make(CMD_GETUSEPACKET)}).usePacket != 0 ? 1 : 0;
        }
        std::vector<Outgoing> c;
        if (d->packetMode == 1 && values.size() == static_cast<std::size_t>(count)) {
            PacketArg packet;
            for (std::size_t i = 0; i < values.size(); ++i) {
                packet.values[i] = static_cast<std::uint16_t>(values[i]);
            }
            c.push_back(Make(CMD_SETBRIGHTPACKET, packet));
        } else {
            for (std::size_t i = 0; i < values.size(); ++i) {
                c.push_back(Make(CMD_SETBRIGHTNESS,
                                 BrightnessArg{static_cast<std::uint8_t>(i), static_cast<std::uint16_t>(values[i])}));
            }
        }
        d->Ask(c);
    });
}

std::uint16_t Controller::switchChannels(const std::vector<int>& channels, bool on) {
    Require(!channels.empty(), "no channel given");
    std::uint16_t bits = 0;
    for (const int ch : channels) {
        checkChannel(ch);
        bits = static_cast<std::uint16_t>(bits | (1u << (ch - 1)));
    }
    return d->Run([&] {
        CheckModelChannel(*d, *std::max_element(channels.begin(), channels.end()));
        const DeviceState s = d->Ask({Make(CMD_GETBRIGHTINDEX), Make(CMD_GETONEX)});
        if (!ValidMemory(s.brightIndex)) {
            throw Error(ErrorKind::NoAnswer, d->target + ": the controller reported bright memory " +
                                                 std::to_string(s.brightIndex) + ", which does not exist");
        }
        const std::uint16_t current = s.onMask[s.brightIndex];
        const auto mask = static_cast<std::uint16_t>(on ? (current | bits) : (current & ~bits));
        d->Ask({Make(CMD_SETONEX, MaskArg{mask})});
        return mask;
    });
}

std::uint16_t Controller::switchAll(bool on) {
    const std::uint16_t mask = on ? 0xFFFF : 0;
    const Outgoing c = Make(CMD_SETONEX, MaskArg{mask});
    d->Run([&] { d->Ask({c}); });
    return mask;
}

void Controller::setTrigger(const TriggerRow& row) {
    checkTriggerRow(row);
    const Outgoing c = Make(CMD_SETTRIGGER, detail::TriggerSettingOf(row));
    d->Run([&] { d->Ask({c}); });
}

void Controller::fireOneShot() {
    d->Run([this] { d->Ask({Make(CMD_SETONESHOTTRIG)}); });
}

void Controller::saveBrightMemory(int memory) {
    checkMemory(memory);
    d->Run([&] { d->Ask({Make(CMD_SAVEBRIGHT, Byte(memory))}); });
}

void Controller::saveTriggerMemory(int memory) {
    checkMemory(memory);
    d->Run([&] { d->Ask({Make(CMD_SAVETRIGGER, Byte(memory))}); });
}

std::array<ChannelState, kChannels> Controller::loadBrightMemory(int memory) {
    checkMemory(memory);
    return d->Run([&] {
        return ChannelsOf(d->Ask({Make(CMD_LOADBRIGHT, Byte(memory)), Make(CMD_GETBRIGHTNESS, OneValueArg{255}),
                                  Make(CMD_GETONEX)}),
                          memory);
    });
}

std::array<TriggerRow, kTriggerRows> Controller::loadTriggerMemory(int memory) {
    checkMemory(memory);
    return d->Run([&] {
        std::vector<Outgoing> c{Make(CMD_LOADTRIGGER, Byte(memory))};
        for (std::uint8_t k = 0; k < kTriggerRows; ++k) {
            c.push_back(Make(CMD_GETTRIGGER, OneValueArg{k}));
        }
        return TriggersOf(d->Ask(c), memory);
    });
}

Configuration Controller::readConfiguration() {
    return d->Run([this] { return detail::FromModuleConfig(ModuleOf(d->Ask(ReadAllCommands()))); });
}

void Controller::applyConfiguration(const Configuration& configuration,
                                    const std::function<void(const std::string&)>& progress) {
    CheckForWrite(configuration);
    Require(!configuration.empty(), "the configuration holds no field");
    // A model name alone would only have the controller's own values written back and saved
    // three times over, and be reported as done.
    Configuration withoutModel = configuration;
    withoutModel.model.reset();
    Require(!withoutModel.empty(), "the configuration holds nothing to write: no command sets the model name");
    d->Run([&] {
        ModuleConfig current;
        try {
            current = ModuleOf(d->Ask(ReadAllCommands()));
        } catch (const Error& e) {  // nothing written yet
            std::vector<std::string> names;
            for (const Step& step : ApplySteps(current)) {
                names.push_back(step.name);
            }
            throw Error(e.kind(), e.what(), {}, names);
        }
        const ModuleConfig merged = detail::ToModuleConfig(configuration, current);
        for (std::size_t i = 0; i < static_cast<std::size_t>(kChannels); ++i) {
            const std::string p = detail::CheckDac({static_cast<int>(i) + 1, merged.bandwidthLow[i], merged.bandwidthHigh[i]});
            Require(p.empty(), "dac_bandwidth " + std::to_string(i) + " (as the controller has it): " + p);
        }
        const std::vector<Step> steps = ApplySteps(merged);
        // The channel count and packet mode may change here: ask them again when next needed.
        d->channels = 0;
        d->packetMode = -1;
        std::vector<std::string> written;
        const auto rest = [&steps](std::size_t from) {
            std::vector<std::string> names;
            for (std::size_t i = from; i < steps.size(); ++i) {
                names.push_back(steps[i].name);
            }
            return names;
        };
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Step& step = steps[i];
            if (d->cancelled.load()) {
                throw Error(ErrorKind::Interrupted, d->target + ": interrupted", written, rest(i));
            }
            detail::Wire::Outcome outcome;
            std::size_t sent = 0;
            try {
                outcome = d->wire->Exchange(step.commands, d->timeoutMs.load(), &d->cancelled, &sent);
            } catch (const Error& e) {
                // Commands that went out count as written, though unconfirmed: a "savesn" whose
                // answer never came may well have saved, and the operator must not be told not.
                std::vector<std::string> notWritten = rest(i + 1);
                if (sent == step.commands.size()) {
                    written.push_back(step.name + " (sent, not confirmed)");
                } else {
                    if (sent > 0) {
                        written.push_back(step.name + " (" + std::to_string(sent) + " of " +
                                          std::to_string(step.commands.size()) + " commands, not confirmed)");
                    }
                    notWritten.insert(notWritten.begin(), sent > 0 ? step.name + " (the rest)" : step.name);
                }
                throw Error(e.kind(), e.what(), written, notWritten);
            }
            if (outcome.sent < step.commands.size()) {
                std::vector<std::string> notWritten = rest(i + 1);
                if (outcome.sent > 0) {
                    written.push_back(step.name + " (" + std::to_string(outcome.sent) + " of " +
                                      std::to_string(step.commands.size()) + " commands)");
                }
                notWritten.insert(notWritten.begin(), outcome.sent > 0 ? step.name + " (the rest)" : step.name);
                throw Error(ErrorKind::Interrupted, d->target + ": interrupted", written, notWritten);
            }
            written.push_back(step.name);
            if (progress) {
                progress(step.name);
            }
            if (step.waitAfterMs > 0) {
                Pause(step.waitAfterMs);
            }
        }
    });
}

std::vector<Difference> Controller::verifyConfiguration(const Configuration& configuration) {
    // A value apply would refuse (ID 257) is refused here too: compared as apply sends it (its
    // low byte), it would agree with a controller that holds 1.
    CheckForWrite(configuration);
    return detail::CompareConfiguration(configuration, readConfiguration());
}

std::vector<std::string> Controller::raw(const std::string& text) {
    checkRawText(text);
    const std::string bytes = detail::EncodeFromUtf8(text);
    const Outgoing c = MakeText(CMD_RAW, bytes + "\r");
    return d->Run([&] {
        const detail::Wire::Outcome outcome = d->wire->SendAndCollect(c, d->timeoutMs.load(), &d->cancelled);
        std::vector<std::string> lines;
        for (const std::string& line : outcome.lines) {
            lines.push_back(detail::DecodeToUtf8(line));
        }
        for (const std::string& line : outcome.lines) {
            if (detail::FirstWord(line) == "error") {
                throw Error(ErrorKind::Refused, d->target + ": the controller refused: " + detail::DecodeToUtf8(line));
            }
        }
        if (lines.empty()) {
            throw Error(ErrorKind::NoAnswer,
                        d->target + ": the controller did not answer within " + std::to_string(d->timeoutMs.load()) + " ms");
        }
        return lines;
    });
}

void Controller::monitor(const std::function<bool(const std::string&)>& onLine) {
    detail::InCall::Refuse(d.get());
    d->RequireConnected();
    // Lines come through a subscription, so that calls from other threads (and from onLine)
    // go on meanwhile; they are handed to onLine here, on the calling thread.
    struct Queue {
        std::mutex mutex;
        std::condition_variable cv;
        std::deque<std::string> lines;
        bool lost = false;
    };
    const auto q = std::make_shared<Queue>();
    const std::uint64_t generation = d->cancelGeneration.load();
    Subscription sub = subscribe(
        [q](const std::string& line) {
            std::lock_guard lock(q->mutex);
            if (q->lines.size() >= detail::EventHub::kMaxWaiting) {
                q->lines.pop_front();
            }
            q->lines.push_back(line);
            q->cv.notify_all();
        },
        [q](ConnectionState s) {
            std::lock_guard lock(q->mutex);
            q->lost = q->lost || s != ConnectionState::Connected;
            q->cv.notify_all();
        });
    constexpr auto kPoll = std::chrono::milliseconds(50);  // cancel() is async-signal-safe: no notify
    while (d->cancelGeneration.load() == generation) {
        std::string line;
        {
            std::unique_lock lock(q->mutex);
            q->cv.wait_for(lock, kPoll, [&] { return !q->lines.empty() || q->lost; });
            if (q->lines.empty()) {
                if (q->lost || !isConnected()) {
                    throw Error(ErrorKind::Port, d->target + ": the connection was lost");
                }
                continue;
            }
            line = std::move(q->lines.front());
            q->lines.pop_front();
        }
        if (!onLine(line)) {
            return;
        }
    }
}

void Controller::cancel() noexcept {
    d->cancelled.store(true);
    d->cancelGeneration.fetch_add(1);
}

// ---- single questions and the remaining commands ----

int Controller::channelCount() {
    return d->Run([this] { return d->ChannelCount(); });
}

ErrorStatus Controller::errorStatus() {
    return d->Run([this] {
        const DeviceState s = d->Ask({Make(CMD_GETERRSTATUS)});
        return ErrorStatus{s.errorCode, s.errorDetail};
    });
}

PortStatus Controller::portStatus() {
    return d->Run([this] {
        const DeviceState s = d->Ask({Make(CMD_GETPORTSTATUS)});
        return PortStatus{s.in0 != 0, s.in1 != 0, s.out0 != 0, s.out1 != 0};
    });
}

void Controller::setOutputs(bool out0, bool out1) {
    const Outgoing c = Make(CMD_SETOUTPORTALL, Byte((out0 ? 1 : 0) | (out1 ? 2 : 0)));
    d->Run([&] { d->Ask({c}); });
}

Brightness Controller::currentBrightness() {
    return d->Run([this] {
        const DeviceState s = d->Ask({Make(CMD_GETBRIGHTINDEX), Make(CMD_GETBRIGHTNESS, OneValueArg{255}), Make(CMD_GETONEX)});
        if (!ValidMemory(s.brightIndex)) {
            throw Error(ErrorKind::NoAnswer, d->target + ": the controller reported bright memory " +
                                                 std::to_string(s.brightIndex) + ", which does not exist");
        }
        Brightness b;
        b.memory = s.brightIndex;
        b.channels = ChannelsOf(s, s.brightIndex);
        b.onMask = s.onMask[s.brightIndex];
        return b;
    });
}

void Controller::setOnMask(std::uint16_t mask) {
    const Outgoing c = Make(CMD_SETONEX, MaskArg{mask});
    d->Run([&] {
        const int count = d->ChannelCount();
        if (count < kChannels && (mask >> count) != 0) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%04x", static_cast<unsigned>(mask));
            Require(false, std::string("on mask ") + hex + " switches a channel above " + std::to_string(count) + " (" +
                               d->target + " has " + std::to_string(count) + " channels)");
        }
        d->Ask({c});
    });
}

void Controller::setErrorIgnore(bool ignore) {
    const Outgoing c = Make(CMD_SETERRIGNORE, Byte(ignore ? 1 : 0));
    d->Run([&] { d->Ask({c}); });
}

void Controller::setBuzzer(bool on) {
    const Outgoing c = Make(CMD_SETBUZZER, SignedValueArg{static_cast<std::int8_t>(on ? 1 : 0)});
    d->Run([&] { d->Ask({c}); });
}

void Controller::factoryReset() {
    d->Run([this] {
        d->Ask({Make(CMD_FACTORYRESET)});
        // The controller rewrites its memories and answers nothing meanwhile.
        Pause(kFactoryResetWaitMs);
        d->channels = 0;
        d->packetMode = -1;
    });
}

std::vector<PortInfo> listPorts() {
    detail::EnsureQtRuntime();
    std::vector<PortInfo> out;
    for (const PortEntry& e : ListPorts()) {
        out.push_back({"COM" + std::to_string(e.number), e.devicePath.toStdString(), e.description.toStdString()});
    }
    return out;
}

}  // namespace lumitrax
