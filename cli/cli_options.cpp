#include "cli_options.h"

#include <map>

#include "commands.h"
#include "device_text.h"
#include "trigger_row.h"

namespace {

struct CommandEntry {
    const char* name;
    CliCommand command;
};

constexpr CommandEntry kCommands[] = {
    {"ports", CliCommand::Ports},
    {"search", CliCommand::Search},
    {"info", CliCommand::Info},
    {"set", CliCommand::Set},
    {"on", CliCommand::On},
    {"off", CliCommand::Off},
    {"packet", CliCommand::Packet},
    {"trigger", CliCommand::Trigger},
    {"oneshot", CliCommand::OneShot},
    {"save-bright", CliCommand::SaveBright},
    {"load-bright", CliCommand::LoadBright},
    {"save-trigger", CliCommand::SaveTrigger},
    {"load-trigger", CliCommand::LoadTrigger},
    {"apply-config", CliCommand::ApplyConfig},
    {"read-config", CliCommand::ReadConfig},
    {"verify-config", CliCommand::VerifyConfig},
    {"raw", CliCommand::Raw},
    {"monitor", CliCommand::Monitor},
};

// How many --port values a command takes.
enum class PortRule { Any, OneOrMore, ExactlyOne };

PortRule PortRuleOf(CliCommand c) {
    switch (c) {
    case CliCommand::Ports:
    case CliCommand::Search:
        return PortRule::Any;
    case CliCommand::Info:
    case CliCommand::ApplyConfig:
    case CliCommand::VerifyConfig:
        return PortRule::OneOrMore;
    default:
        return PortRule::ExactlyOne;
    }
}

// A decimal number of plain digits within lo..hi.
bool ParseNumber(const QString& text, int lo, int hi, int& out) {
    if (text.isEmpty() || text.size() > 9) {
        return false;
    }
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
    }
    const int v = text.toInt();
    if (v < lo || v > hi) {
        return false;
    }
    out = v;
    return true;
}

class Parser {
public:
    explicit Parser(CliParse& out) : out_(out), r_(out.request) {}

    bool Fail(const QString& message) {
        out_.action = CliParse::Fail;
        out_.message = message;
        return false;
    }

    bool Run(const QStringList& arguments);

private:
    bool Words(const QStringList& words);
    bool CommandOptions();
    bool Channels(const QStringList& args);
    bool Brightness(const QString& text, int& out) {
        return ParseNumber(text, 0, kMaxBrightness, out) ||
               Fail(QStringLiteral("brightness '%1' is not a number 0..%2").arg(text).arg(kMaxBrightness));
    }
    bool Count(const QStringList& args, int n, const QString& what) {
        if (args.size() == n) {
            return true;
        }
        return Fail(n == 0 ? QStringLiteral("%1 takes no arguments").arg(r_.name)
                           : QStringLiteral("%1 takes %2").arg(r_.name, what));
    }

    CliParse& out_;
    CliRequest& r_;
    std::map<QString, QString> commandOptions_;  // --delay etc., by name
};

bool Parser::Run(const QStringList& arguments) {
    QStringList words;
    bool timeoutGiven = false;
    bool optionsEnded = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (optionsEnded || !arg.startsWith(QLatin1String("-")) || arg == QLatin1String("-")) {
            words.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            out_.action = CliParse::Help;
            return true;
        }
        QString name = arg;
        QString value;
        bool hasValue = false;
        if (const int eq = arg.indexOf(QLatin1Char('=')); eq > 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            hasValue = true;
        }
        static const QStringList kFlags = {QStringLiteral("--json"), QStringLiteral("--verify")};
        static const QStringList kValued = {QStringLiteral("--port"), QStringLiteral("--timeout"),
                                            QStringLiteral("--delay"), QStringLiteral("--on"),
                                            QStringLiteral("--edge"), QStringLiteral("--enable")};
        if (kFlags.contains(name)) {
            if (hasValue) {
                return Fail(QStringLiteral("option %1 takes no value").arg(name));
            }
        } else if (kValued.contains(name)) {
            if (!hasValue) {
                if (i + 1 >= arguments.size()) {
                    return Fail(QStringLiteral("option %1 needs a value").arg(name));
                }
                value = arguments[++i];
            }
        } else {
            return Fail(QStringLiteral("unknown option %1").arg(name));
        }

        if (name == QLatin1String("--json")) {
            r_.json = true;
        } else if (name == QLatin1String("--port")) {
            if (value.isEmpty()) {
                return Fail(QStringLiteral("--port needs a device path"));
            }
            r_.ports.append(value);
        } else if (name == QLatin1String("--timeout")) {
            if (timeoutGiven) {
                return Fail(QStringLiteral("--timeout is given twice"));
            }
            timeoutGiven = true;
            if (!ParseNumber(value, 0, kMaxTimeoutMs, r_.timeoutMs)) {
                return Fail(QStringLiteral("--timeout takes milliseconds 0..%1").arg(kMaxTimeoutMs));
            }
        } else {
            if (commandOptions_.count(name) != 0) {
                return Fail(QStringLiteral("%1 is given twice").arg(name));
            }
            commandOptions_[name] = value;
        }
    }
    return Words(words);
}

bool Parser::Words(const QStringList& words) {
    if (words.isEmpty()) {
        return Fail(QStringLiteral("no command given"));
    }
    r_.name = words.first();
    bool known = false;
    for (const CommandEntry& e : kCommands) {
        if (r_.name == QLatin1String(e.name)) {
            r_.command = e.command;
            known = true;
        }
    }
    if (!known) {
        return Fail(QStringLiteral("unknown command '%1'").arg(r_.name));
    }
    switch (PortRuleOf(r_.command)) {
    case PortRule::Any:
        break;
    case PortRule::OneOrMore:
        if (r_.ports.isEmpty()) {
            return Fail(QStringLiteral("%1 needs --port PATH (one or more)").arg(r_.name));
        }
        break;
    case PortRule::ExactlyOne:
        if (r_.ports.size() != 1) {
            return Fail(QStringLiteral("%1 needs exactly one --port PATH").arg(r_.name));
        }
        break;
    }
    if (!CommandOptions()) {
        return false;
    }

    const QStringList args = words.mid(1);
    switch (r_.command) {
    case CliCommand::Ports:
    case CliCommand::Search:
    case CliCommand::Info:
    case CliCommand::OneShot:
    case CliCommand::Monitor:
        return Count(args, 0, QString());
    case CliCommand::Set:
        if (!Count(args, 2, QStringLiteral("a channel 1..16 or 'all' and a brightness"))) {
            return false;
        }
        return Channels(args.mid(0, 1)) && Brightness(args[1], r_.value);
    case CliCommand::On:
    case CliCommand::Off:
        if (args.isEmpty()) {
            return Fail(QStringLiteral("%1 takes channels 1..16 or 'all'").arg(r_.name));
        }
        return Channels(args);
    case CliCommand::Packet:
        if (!Count(args, kChannelCount, QStringLiteral("16 brightness values"))) {
            return false;
        }
        for (int i = 0; i < kChannelCount; ++i) {
            int v = 0;
            if (!Brightness(args[i], v)) {
                return false;
            }
            r_.packet[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(v);
        }
        return true;
    case CliCommand::Trigger: {
        if (!Count(args, 1, QStringLiteral("a trigger number 1..4"))) {
            return false;
        }
        int number = 0;
        if (!ParseNumber(args[0], 1, kTriggerRows, number)) {
            return Fail(QStringLiteral("trigger number '%1' is not 1..4").arg(args[0]));
        }
        r_.trigger.row = number - 1;
        const TriggerSetting s = TriggerRowSetting(r_.trigger.row, r_.trigger.delayPosition,
                                                   r_.trigger.onPosition, r_.trigger.edge,
                                                   r_.trigger.enable);
        const std::string problem = TriggerRowProblem(s);
        if (!problem.empty()) {
            return Fail(QStringLiteral("%1 %2").arg(QLatin1String(kInvalidTriggerCaption),
                                                    QString::fromStdString(problem)));
        }
        return true;
    }
    case CliCommand::SaveBright:
    case CliCommand::LoadBright:
    case CliCommand::SaveTrigger:
    case CliCommand::LoadTrigger:
        if (!Count(args, 1, QStringLiteral("a memory number 0..9"))) {
            return false;
        }
        return ParseNumber(args[0], 0, kMemoryNumbers - 1, r_.memory) ||
               Fail(QStringLiteral("memory number '%1' is not 0..9").arg(args[0]));
    case CliCommand::ApplyConfig:
    case CliCommand::ReadConfig:
    case CliCommand::VerifyConfig:
        if (!Count(args, 1, QStringLiteral("one configuration file"))) {
            return false;
        }
        r_.file = args[0];
        return !r_.file.isEmpty() || Fail(QStringLiteral("the file name is empty"));
    case CliCommand::Raw: {
        if (args.isEmpty()) {
            return Fail(QStringLiteral("raw takes the command text"));
        }
        r_.rawText = args.join(QLatin1Char(' '));
        if (r_.rawText.contains(QLatin1Char('\r')) || r_.rawText.contains(QLatin1Char('\n'))) {
            return Fail(QStringLiteral("raw sends one line: the text may not hold a line break"));
        }
        // The carriage return that raw adds must fit the command buffer as well.
        if (EncodeDeviceText(r_.rawText).size() + 1 > kCommandBufferSize - 1) {
            return Fail(QStringLiteral("raw text is too long: at most %1 bytes").arg(kCommandBufferSize - 2));
        }
        return true;
    }
    }
    return true;
}

bool Parser::CommandOptions() {
    const bool trigger = r_.command == CliCommand::Trigger;
    for (const auto& [name, value] : commandOptions_) {
        const bool fits = name == QLatin1String("--verify") ? r_.command == CliCommand::ApplyConfig : trigger;
        if (!fits) {
            return Fail(QStringLiteral("option %1 does not apply to %2").arg(name, r_.name));
        }
    }
    if (!trigger) {
        r_.verify = commandOptions_.count(QStringLiteral("--verify")) != 0;
        return true;
    }
    for (const char* needed : {"--delay", "--on", "--edge", "--enable"}) {
        if (commandOptions_.count(QLatin1String(needed)) == 0) {
            return Fail(QStringLiteral("trigger needs --delay US --on US --edge positive|negative --enable 0|1"));
        }
    }
    TriggerRequest& t = r_.trigger;
    // The panel's up-down holds a 16-bit position; the row check judges what it gives.
    if (!ParseNumber(commandOptions_[QStringLiteral("--delay")], 0, 0xFFFF, t.delayPosition)) {
        return Fail(QStringLiteral("--delay takes microseconds 1..4000"));
    }
    if (!ParseNumber(commandOptions_[QStringLiteral("--on")], 0, 0xFFFF, t.onPosition)) {
        return Fail(QStringLiteral("--on takes microseconds 1..4000"));
    }
    const QString edge = commandOptions_[QStringLiteral("--edge")];
    if (edge == QLatin1String("positive")) {
        t.edge = 0;
    } else if (edge == QLatin1String("negative")) {
        t.edge = 1;
    } else {
        return Fail(QStringLiteral("--edge takes positive or negative"));
    }
    if (!ParseNumber(commandOptions_[QStringLiteral("--enable")], 0, 1, t.enable)) {
        return Fail(QStringLiteral("--enable takes 0 or 1"));
    }
    return true;
}

bool Parser::Channels(const QStringList& args) {
    if (args.size() == 1 && args[0] == QLatin1String("all")) {
        r_.allChannels = true;
        return true;
    }
    for (const QString& a : args) {
        int channel = 0;
        if (!ParseNumber(a, 1, kChannelCount, channel)) {
            return Fail(QStringLiteral("channel '%1' is not 1..16%2")
                            .arg(a, args.size() > 1 && a == QLatin1String("all")
                                        ? QStringLiteral(" ('all' stands alone)")
                                        : QString()));
        }
        r_.channels.push_back(channel - 1);
    }
    return true;
}

}  // namespace

CliParse ParseCliArguments(const QStringList& arguments) {
    CliParse out;
    Parser parser(out);
    parser.Run(arguments);
    return out;
}

QString CliUsage() {
    return QStringLiteral(
        "Usage: lumitrax [--port PATH]... [--json] [--timeout MS] COMMAND [ARGS]\n"
        "Scripts the Lumitrax LED lighting controller over its serial line.\n"
        "\n"
        "Commands:\n"
        "  ports                        the serial ports, one per line\n"
        "  search                       probe the --port paths (default: every port) for controllers\n"
        "  info                         identity and state of the controller\n"
        "  set CH|all VALUE             brightness 0..1024 of channel 1..16, or of all 16\n"
        "  on CH...|all, off CH...|all  switch channels on or off (one setonex)\n"
        "  packet V1 ... V16            all 16 brightness values in one binary packet\n"
        "  trigger N --delay US --on US --edge positive|negative --enable 0|1\n"
        "                               set trigger row N (1..4); times 1..4000 us\n"
        "  oneshot                      fire one trigger with the controller's settings\n"
        "  save-bright M, load-bright M, save-trigger M, load-trigger M\n"
        "                               bright and trigger memories 0..9\n"
        "  apply-config FILE [--verify] write a configuration file into the controller\n"
        "  read-config FILE             write the controller's configuration to FILE ('-': stdout)\n"
        "  verify-config FILE           compare the controller with FILE field by field\n"
        "  raw TEXT                     send TEXT and a carriage return, print the reply lines\n"
        "  monitor                      print every received line with a time stamp until Ctrl+C\n"
        "\n"
        "Options:\n"
        "  --port PATH    serial device; info, apply-config and verify-config take several\n"
        "  --json         print one JSON document (monitor: one JSON object per line)\n"
        "  --timeout MS   wait for answers (default 1000); raw waits exactly this long\n"
        "  -h, --help     show this text\n"
        "\n"
        "Exit status: 0 done; 1 no answer, refused, or (verify) a difference; 2 bad usage or\n"
        "file; 3 a port could not be opened. Ending the tool never switches the lights off.\n");
}
