// Controller::applyRecipe, verifyRecipe and captureRecipe: a recipe written with as few
// commands as the controller takes, read back and compared field by field, kept in its
// memories only where they do not hold it yet, and recorded.
#include <algorithm>
#include <chrono>

#include "controller_impl.h"
#include "device_values.h"
#include "lumitrax/recipe.h"
#include "recipe_check.h"
#include "recipe_record.h"

namespace lumitrax {

using detail::Make;
using detail::Outgoing;

namespace {

using Clock = std::chrono::steady_clock;

bool ValidMemory(int m) { return m >= 0 && m < kMemories; }

OneValueArg Byte(int v) { return {static_cast<std::uint8_t>(v & 0xFF)}; }

const char* OnText(bool on) { return on ? "on" : "off"; }
const char* BoolText(bool b) { return b ? "true" : "false"; }
const char* EdgeText(std::uint8_t edge) { return detail::EdgeName(edge == 0 ? Edge::Positive : Edge::Negative); }

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Refuses (Error(Argument)) a recipe that names a channel the model does not have.
void CheckAgainstModel(const Recipe& recipe, int count, const std::string& target) {
    const std::string has = target + " has " + std::to_string(count) + " channels";
    const std::string range = "1.." + std::to_string(count);
    std::string message;
    const auto add = [&message](const std::string& text) { message += (message.empty() ? "" : "\n") + text; };
    if (recipe.brightness.size() > static_cast<std::size_t>(count)) {
        add("brightness gives " + std::to_string(recipe.brightness.size()) + " values, but " + has +
            "; allowed: at most " + std::to_string(count) + " values");
    }
    for (const int ch : recipe.on) {
        if (ch > count) {
            add("on names channel " + std::to_string(ch) + ", but " + has + "; allowed: channels " + range);
        }
    }
    if (!message.empty()) {
        throw Error(ErrorKind::Argument, message);
    }
}

// The controller's light as the read-back reports it.
struct Found {
    int brightMemory = 0;
    int triggerMemory = 0;
    DeviceState state;

    int Brightness(int channel) const { return state.brightness[brightMemory][channel - 1]; }
    bool On(int channel) const { return ((state.onMask[brightMemory] >> (channel - 1)) & 1u) != 0; }
    const TriggerSetting& Row(int row) const { return state.trigger[triggerMemory][row - 1]; }
};

// The queries that read back what a recipe sets: the current bright memory's brightness and on
// mask, and the recipe's trigger rows of the current trigger memory.
std::vector<Outgoing> ReadBackCommands(const Recipe& recipe) {
    std::vector<Outgoing> c{Make(CMD_GETBRIGHTINDEX), Make(CMD_GETBRIGHTNESS, OneValueArg{255}), Make(CMD_GETONEX)};
    if (!recipe.triggers.empty()) {
        c.push_back(Make(CMD_GETTRIGINDEX));
        for (const RecipeTrigger& t : recipe.triggers) {
            c.push_back(Make(CMD_GETTRIGGER, Byte(t.row - 1)));
        }
    }
    return c;
}

Found FoundOf(const DeviceState& s, const std::string& target) {
    if (!ValidMemory(s.brightIndex)) {
        throw Error(ErrorKind::NoAnswer, target + ": the controller reported bright memory " +
                                             std::to_string(s.brightIndex) + ", which does not exist");
    }
    return Found{s.brightIndex, s.trigIndex, s};
}

// Every field the recipe gives that the controller does not have: brightness and on state of
// channels 1..count, then the recipe's trigger rows, field by field.
std::vector<RecipeDifference> Compare(const Recipe& recipe, int count, const Found& f) {
    std::vector<RecipeDifference> out;
    const std::array<int, kChannels> wanted = recipe.channelBrightness();
    for (int ch = 1; ch <= count; ++ch) {
        if (wanted[static_cast<std::size_t>(ch - 1)] != f.Brightness(ch)) {
            out.push_back({"brightness " + std::to_string(ch), std::to_string(wanted[static_cast<std::size_t>(ch - 1)]),
                           std::to_string(f.Brightness(ch))});
        }
    }
    const std::uint16_t mask = recipe.onMask();
    for (int ch = 1; ch <= count; ++ch) {
        const bool on = ((mask >> (ch - 1)) & 1u) != 0;
        if (on != f.On(ch)) {
            out.push_back({"on " + std::to_string(ch), OnText(on), OnText(f.On(ch))});
        }
    }
    for (const RecipeTrigger& t : recipe.triggers) {
        const TriggerSetting& r = f.Row(t.row);
        const std::string name = "trigger " + std::to_string(t.row) + " ";
        if (t.delayUs != r.delay + 1) {
            out.push_back({name + "delay_us", std::to_string(t.delayUs), std::to_string(r.delay + 1)});
        }
        if (t.onUs != r.onTime + 1) {
            out.push_back({name + "on_us", std::to_string(t.onUs), std::to_string(r.onTime + 1)});
        }
        if (t.edge && (*t.edge == Edge::Positive) != (r.edge == 0)) {
            out.push_back({name + "edge", detail::EdgeName(*t.edge), EdgeText(r.edge)});
        }
        if (t.enable && *t.enable != (r.enable != 0)) {
            out.push_back({name + "enable", BoolText(*t.enable), BoolText(r.enable != 0)});
        }
    }
    return out;
}

bool SameRow(const TriggerSetting& a, const TriggerSetting& b) {
    return a.enable == b.enable && a.edge == b.edge && a.delay == b.delay && a.onTime == b.onTime &&
           a.offTime == b.offTime;
}

// One apply, under the call lock: the steps it writes, named as the report names them.
class Applier {
public:
    Applier(Controller::Impl& d, const Recipe& recipe, RecipeReport& report) : d_(d), recipe_(recipe), report_(report) {
        plan_ = {"brightness", "on mask"};
        for (const RecipeTrigger& t : recipe.triggers) {
            plan_.push_back("trigger " + std::to_string(t.row));
        }
        if (recipe.brightMemory) {
            plan_.push_back(SaveBrightName());
        }
        if (recipe.triggerMemory) {
            plan_.push_back(SaveTriggerName());
        }
    }

    // Every step, for a call that failed before it wrote anything.
    const std::vector<std::string>& Plan() const { return plan_; }

    void Run(std::optional<Identity>* identity) {
        try {
            count_ = d_.ChannelCount();
        } catch (const Error& e) {
            if (e.kind() == ErrorKind::Argument) {
                throw;
            }
            throw Error(e.kind(), e.what(), {}, plan_);
        }
        CheckAgainstModel(recipe_, count_, d_.target);

        // What the writes depend on, and the identity for the record: all read before the first write.
        std::vector<Outgoing> ask{Make(CMD_GETUSEPACKET)};
        if (identity != nullptr) {
            const std::vector<Outgoing> id = detail::IdentityCommands();
            ask.insert(ask.end(), id.begin(), id.end());
        }
        const bool keepsFields = std::any_of(recipe_.triggers.begin(), recipe_.triggers.end(),
                                             [](const RecipeTrigger& t) { return !t.edge || !t.enable; });
        if (keepsFields) {
            ask.push_back(Make(CMD_GETTRIGINDEX));
            for (const RecipeTrigger& t : recipe_.triggers) {
                if (!t.edge || !t.enable) {
                    ask.push_back(Make(CMD_GETTRIGGER, Byte(t.row - 1)));
                }
            }
        }
        const DeviceState before = Read(ask);
        if (identity != nullptr) {
            *identity = detail::IdentityOf(before);
        }

        for (const RecipeTrigger& t : recipe_.triggers) {
            const TriggerSetting& now = before.trigger[before.trigIndex < kMemories ? before.trigIndex : 0][t.row - 1];
            TriggerRow row;
            row.row = t.row;
            row.delayUs = t.delayUs;
            row.onUs = t.onUs;
            row.edge = t.edge.value_or(now.edge == 0 ? Edge::Positive : Edge::Negative);
            row.enable = t.enable.value_or(now.enable != 0);
            rows_.push_back(detail::TriggerSettingOf(row));
        }
        brightnessCommands_ = BrightnessCommands(before.usePacket != 0);

        Step("brightness", brightnessCommands_);
        Step("on mask", {Make(CMD_SETONEX, MaskArg{recipe_.onMask()})});
        for (const TriggerSetting& s : rows_) {
            Step("trigger " + std::to_string(s.triggerNo + 1), {Make(CMD_SETTRIGGER, s)});
        }

        const Found f = FoundOf(Read(ReadBackCommands(recipe_)), d_.target);
        report_.differences = Compare(recipe_, count_, f);
        report_.result = report_.differences.empty() ? RecipeResult::Verified : RecipeResult::Differs;
        if (report_.result != RecipeResult::Verified) {
            return;
        }
        if (recipe_.brightMemory) {
            StoreBright(*recipe_.brightMemory, f.brightMemory);
        }
        if (recipe_.triggerMemory) {
            StoreTriggers(*recipe_.triggerMemory, f);
        }
    }

private:
    std::string SaveBrightName() const { return "save bright memory " + std::to_string(*recipe_.brightMemory); }
    std::string SaveTriggerName() const { return "save trigger memory " + std::to_string(*recipe_.triggerMemory); }

    // One packet where the controller takes packets; otherwise "# ch value" for the model's channels.
    std::vector<Outgoing> BrightnessCommands(bool packet) const {
        const std::array<int, kChannels> values = recipe_.channelBrightness();
        if (packet) {
            PacketArg p;
            for (std::size_t i = 0; i < values.size(); ++i) {
                p.values[i] = static_cast<std::uint16_t>(values[i]);
            }
            return {Make(CMD_SETBRIGHTPACKET, p)};
        }
        std::vector<Outgoing> c;
        for (int ch = 0; ch < count_; ++ch) {
            c.push_back(Make(CMD_SETBRIGHTNESS, BrightnessArg{static_cast<std::uint8_t>(ch),
                                                              static_cast<std::uint16_t>(values[static_cast<std::size_t>(ch)])}));
        }
        return c;
    }

    // Flash wears, so a memory is saved only when a look shows it does not hold the recipe yet.
    // No query reads a memory without loading it, and a load makes the loaded memory the one the
    // controller works on. So the memory is loaded and compared; where it differs, the recipe's
    // light is written again and saved. Where another memory was the current one, that one is
    // loaded back and the recipe's light written over it again: the controller ends as a plain
    // apply leaves it, working on the memory it worked on, with the recipe's light.
    void StoreBright(int memory, int current) {
        const std::string name = std::to_string(memory);
        const DeviceState s = Step("load bright memory " + name + " (to compare)",
                                   {Make(CMD_LOADBRIGHT, Byte(memory)), Make(CMD_GETBRIGHTNESS, OneValueArg{255}),
                                    Make(CMD_GETONEX)},
                                   false);
        const Found stored{memory, 0, s};
        const std::array<int, kChannels> wanted = recipe_.channelBrightness();
        const std::uint16_t mask = recipe_.onMask();
        bool holds = true;
        for (int ch = 1; ch <= count_; ++ch) {
            holds = holds && stored.Brightness(ch) == wanted[static_cast<std::size_t>(ch - 1)] &&
                    stored.On(ch) == (((mask >> (ch - 1)) & 1u) != 0);
        }
        const auto writeAgain = [&] {
            Step("brightness (again)", brightnessCommands_, false);
            Step("on mask (again)", {Make(CMD_SETONEX, MaskArg{mask})}, false);
        };
        if (holds) {
            Skip(SaveBrightName());
        } else {
            writeAgain();
            Step(SaveBrightName(), {Make(CMD_SAVEBRIGHT, Byte(memory))});
            report_.savedBrightMemory = true;
        }
        if (memory != current) {
            Step("load bright memory " + std::to_string(current) + " (back)", {Make(CMD_LOADBRIGHT, Byte(current))},
                 false);
            writeAgain();
        }
    }

    // As StoreBright, for trigger rows 1..4: the memory is saved unless it held the recipe's
    // rows already, and afterwards every row the loads changed gets its working values back.
    void StoreTriggers(int memory, const Found& f) {
        const int current = f.triggerMemory;
        std::vector<Outgoing> rows;
        for (std::uint8_t k = 0; k < kTriggerRows; ++k) {
            rows.push_back(Make(CMD_GETTRIGGER, OneValueArg{k}));
        }
        const auto loadAndRead = [&](int m) {
            std::vector<Outgoing> c{Make(CMD_LOADTRIGGER, Byte(m))};
            c.insert(c.end(), rows.begin(), rows.end());
            return c;
        };
        std::vector<Outgoing> ask{Make(CMD_GETTRIGINDEX)};
        ask.insert(ask.end(), rows.begin(), rows.end());
        const DeviceState working = Read(ask);
        // Every row whose values in `now` (memory m's rows) differ from the working ones.
        const auto differing = [&](const DeviceState& now, int m) {
            std::vector<Outgoing> restore;
            for (int k = 0; k < kTriggerRows; ++k) {
                const TriggerSetting& was = working.trigger[current][k];
                if (!SameRow(was, now.trigger[m][k])) {
                    TriggerSetting back = was;
                    back.triggerNo = static_cast<std::uint8_t>(k);
                    restore.push_back(Make(CMD_SETTRIGGER, back));
                }
            }
            return restore;
        };
        const DeviceState stored =
            Step("load trigger memory " + std::to_string(memory) + " (to compare)", loadAndRead(memory), false);
        bool holds = true;
        for (const RecipeTrigger& t : recipe_.triggers) {
            holds = holds && SameRow(working.trigger[current][t.row - 1], stored.trigger[memory][t.row - 1]);
        }
        std::vector<Outgoing> restore = differing(stored, memory);
        if (!restore.empty() && (!holds || memory == current)) {
            Step("trigger rows (again)", restore, false);
        }
        if (holds) {
            Skip(SaveTriggerName());
        } else {
            Step(SaveTriggerName(), {Make(CMD_SAVETRIGGER, Byte(memory))});
            report_.savedTriggerMemory = true;
        }
        if (memory != current) {
            const DeviceState back = Step("load trigger memory " + std::to_string(current) + " (back)",
                                          loadAndRead(current), false);
            restore = differing(back, current);
            if (!restore.empty()) {
                Step("trigger rows (again)", restore, false);
            }
        }
    }

    // A planned step that is not needed.
    void Skip(const std::string& name) { plan_.erase(std::remove(plan_.begin(), plan_.end(), name), plan_.end()); }

    // The planned steps not yet written.
    std::vector<std::string> Rest() const { return {plan_.begin() + static_cast<std::ptrdiff_t>(next_), plan_.end()}; }

    // Queries only: a failure names the steps written so far.
    DeviceState Read(const std::vector<Outgoing>& commands) {
        try {
            return d_.Ask(commands);
        } catch (const Error& e) {
            if (e.kind() == ErrorKind::Argument) {
                throw;
            }
            throw Error(e.kind(), e.what(), report_.stepsWritten, Rest());
        }
    }

    // Writes one step (planned: one of Plan(), in order) and waits for its answers; a failure
    // or cancel() names what went out, as applyConfiguration does.
    DeviceState Step(const std::string& name, const std::vector<Outgoing>& commands, bool planned = true) {
        std::vector<std::string>& written = report_.stepsWritten;
        if (planned) {
            next_ = static_cast<std::size_t>(std::find(plan_.begin(), plan_.end(), name) - plan_.begin());
        }
        const auto after = [&] {
            std::vector<std::string> rest = Rest();
            if (planned && !rest.empty()) {
                rest.erase(rest.begin());
            }
            return rest;
        };
        if (d_.cancelled.load()) {
            std::vector<std::string> notWritten = after();
            notWritten.insert(notWritten.begin(), name);
            throw Error(ErrorKind::Interrupted, d_.target + ": interrupted", written, notWritten);
        }
        std::size_t sent = 0;
        detail::Wire::Outcome outcome;
        try {
            outcome = d_.wire->Exchange(commands, d_.timeoutMs.load(), &d_.cancelled, &sent);
        } catch (const Error& e) {
            std::vector<std::string> notWritten = after();
            if (sent == commands.size()) {
                written.push_back(name + " (sent, not confirmed)");
            } else {
                if (sent > 0) {
                    written.push_back(name + " (" + std::to_string(sent) + " of " + std::to_string(commands.size()) +
                                      " commands, not confirmed)");
                }
                notWritten.insert(notWritten.begin(), sent > 0 ? name + " (the rest)" : name);
            }
            throw Error(e.kind(), e.what(), written, notWritten);
        }
        if (outcome.sent < commands.size()) {
            std::vector<std::string> notWritten = after();
            if (outcome.sent > 0) {
                written.push_back(name + " (" + std::to_string(outcome.sent) + " of " +
                                  std::to_string(commands.size()) + " commands)");
            }
            notWritten.insert(notWritten.begin(), outcome.sent > 0 ? name + " (the rest)" : name);
            throw Error(ErrorKind::Interrupted, d_.target + ": interrupted", written, notWritten);
        }
        written.push_back(name);
        if (planned) {
            ++next_;
        }
        return d_.wire->Snapshot();
    }

    Controller::Impl& d_;
    const Recipe& recipe_;
    RecipeReport& report_;
    std::vector<std::string> plan_;
    std::size_t next_ = 0;  // the first planned step not written
    int count_ = 0;
    std::vector<TriggerSetting> rows_;
    std::vector<Outgoing> brightnessCommands_;
};

// What became of the light, for a record that could not be written.
std::string Outcome(const RecipeReport& r) {
    switch (r.result) {
    case RecipeResult::Verified: return "the light was set and verified";
    case RecipeResult::Differs:
        return "the light was set but differs from the recipe in " + std::to_string(r.differences.size()) + " field(s)";
    case RecipeResult::Failed: break;
    }
    if (r.stepsWritten.empty()) {
        return "the light was not set (" + r.error + ")";
    }
    std::string steps;
    for (const std::string& step : r.stepsWritten) {
        steps += (steps.empty() ? "" : ", ") + step;
    }
    return "the apply failed after writing " + steps + " (" + r.error + ")";
}

}  // namespace

namespace {

// What applyRecipe and verifyRecipe share: the recipe and the record file's name checked before
// anything is sent, the clocks started, and at the end the duration set and the record appended.
struct Recording {
    Recording(const Recipe& recipe, const std::string& recordPath) : path(recordPath) {
        checkRecipe(recipe);
        if (path.find('\0') != std::string::npos) {
            throw Error(ErrorKind::Argument, "the record file name holds a NUL byte");
        }
    }

    // identity, when recording; nullptr otherwise.
    std::optional<Identity>* IdentityWanted() { return path.empty() ? nullptr : &identity; }

    void Finish(const std::string& target, const Recipe& recipe, RecipeReport& report, const char* action,
                const std::string& outcome) {
        report.durationMs = MsSince(start);
        if (!path.empty()) {
            detail::RecipeRecord record{startedAt, target, identity, &recipe, &report};
            record.action = action;
            detail::AppendRecord(path, detail::RecordLine(record), outcome);
        }
    }

    const std::string& path;
    const std::chrono::system_clock::time_point startedAt = std::chrono::system_clock::now();
    const Clock::time_point start = Clock::now();
    std::optional<Identity> identity;
};

}  // namespace

RecipeReport Controller::applyRecipe(const Recipe& recipe, const std::string& recordPath) {
    Recording recording(recipe, recordPath);
    RecipeReport report;
    Applier applier(*d, recipe, report);
    try {
        d->Run([&] { applier.Run(recording.IdentityWanted()); });
    } catch (const Error& e) {
        if (e.kind() == ErrorKind::Argument) {
            throw;
        }
        report.result = RecipeResult::Failed;
        report.error = e.what();
        report.differences.clear();
        report.savedBrightMemory = false;
        report.savedTriggerMemory = false;
        // Before the first step (not connected, a read that failed): nothing was written.
        const bool anyStepNamed = !e.stepsWritten().empty() || !e.stepsNotWritten().empty();
        report.stepsWritten = anyStepNamed ? e.stepsWritten() : std::vector<std::string>{};
        report.stepsNotWritten = anyStepNamed ? e.stepsNotWritten() : applier.Plan();
    }
    recording.Finish(d->target, recipe, report, "apply", Outcome(report));
    return report;
}

RecipeReport Controller::verifyRecipe(const Recipe& recipe) { return verifyRecipe(recipe, {}); }

RecipeReport Controller::verifyRecipe(const Recipe& recipe, const std::string& recordPath) {
    Recording recording(recipe, recordPath);
    RecipeReport report;
    try {
        d->Run([&] {
            const int count = d->ChannelCount();
            CheckAgainstModel(recipe, count, d->target);
            std::vector<Outgoing> ask = ReadBackCommands(recipe);
            std::optional<Identity>* identity = recording.IdentityWanted();
            if (identity != nullptr) {
                const std::vector<Outgoing> id = detail::IdentityCommands();
                ask.insert(ask.end(), id.begin(), id.end());
            }
            const DeviceState s = d->Ask(ask);
            if (identity != nullptr) {
                *identity = detail::IdentityOf(s);
            }
            report.differences = Compare(recipe, count, FoundOf(s, d->target));
            report.result = report.differences.empty() ? RecipeResult::Verified : RecipeResult::Differs;
        });
    } catch (const Error& e) {
        if (e.kind() == ErrorKind::Argument) {
            throw;
        }
        report.result = RecipeResult::Failed;
        report.error = e.what();
    }
    const std::string outcome =
        report.result == RecipeResult::Failed
            ? "the check failed (" + report.error + ")"
            : std::string("the controller ") + (report.result == RecipeResult::Verified ? "matches" : "differs from") +
                  " the recipe";
    recording.Finish(d->target, recipe, report, "verify", outcome);
    return report;
}

Recipe Controller::captureRecipe(const std::string& name) {
    if (const auto fault = detail::NameFault(name)) {
        throw Error(ErrorKind::Argument, detail::FaultText(*fault));
    }
    return d->Run([&] {
        const int count = d->ChannelCount();
        std::vector<Outgoing> ask{Make(CMD_GETBRIGHTINDEX), Make(CMD_GETBRIGHTNESS, OneValueArg{255}), Make(CMD_GETONEX),
                                  Make(CMD_GETTRIGINDEX)};
        for (std::uint8_t k = 0; k < kTriggerRows; ++k) {
            ask.push_back(Make(CMD_GETTRIGGER, OneValueArg{k}));
        }
        const Found f = FoundOf(d->Ask(ask), d->target);
        const auto impossible = [&](const std::string& what) {
            return Error(ErrorKind::NoAnswer, d->target + ": the controller reported " + what +
                                                  ", which a recipe cannot hold");
        };
        Recipe r;
        r.name = name;
        for (int ch = 1; ch <= count; ++ch) {
            if (f.Brightness(ch) > kMaxBrightness) {
                throw impossible("brightness " + std::to_string(f.Brightness(ch)) + " on channel " + std::to_string(ch));
            }
            r.brightness.push_back(f.Brightness(ch));
            if (f.On(ch)) {
                r.on.push_back(ch);
            }
        }
        for (int row = 1; row <= kTriggerRows; ++row) {
            const TriggerSetting& s = f.Row(row);
            if (s.delay + 1 > kMaxTriggerUs || s.onTime + 1 > kMaxTriggerUs) {
                throw impossible("trigger " + std::to_string(row) + " times " + std::to_string(s.delay + 1) + "/" +
                                 std::to_string(s.onTime + 1) + " us");
            }
            RecipeTrigger t;
            t.row = row;
            t.delayUs = s.delay + 1;
            t.onUs = s.onTime + 1;
            t.edge = s.edge == 0 ? Edge::Positive : Edge::Negative;
            t.enable = s.enable != 0;
            r.triggers.push_back(t);
        }
        return r;
    });
}

}  // namespace lumitrax
