#include "cli_options.h"

#include <lumitrax/recipe.h>

#include <map>

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
    {"status", CliCommand::Status},
    {"outputs", CliCommand::Outputs},
    {"factory-reset", CliCommand::FactoryReset},
    {"recipe check", CliCommand::RecipeCheck},
    {"recipe apply", CliCommand::RecipeApply},
    {"recipe verify", CliCommand::RecipeVerify},
    {"recipe capture", CliCommand::RecipeCapture},
};

// The commands of two words: "recipe apply". A command's name is its first word, and its
// second when the first is one of these.
bool TakesSecondWord(const QString& first) { return first == QLatin1String("recipe"); }

// The command's name in words (one word, or two for recipe's), as kCommands spells it.
QString CommandName(const QStringList& words) {
    if (words.size() > 1 && TakesSecondWord(words.first())) {
        return words[0] + QLatin1Char(' ') + words[1];
    }
    return words.value(0);
}

// How many --port values a command takes.
enum class PortRule { Any, None, OneOrMore, ExactlyOne };

PortRule PortRuleOf(CliCommand c) {
    switch (c) {
    case CliCommand::Ports:
    case CliCommand::Search:
        return PortRule::Any;
    case CliCommand::RecipeCheck:
        return PortRule::None;
    case CliCommand::Info:
    case CliCommand::ApplyConfig:
    case CliCommand::VerifyConfig:
    case CliCommand::RecipeApply:
    case CliCommand::RecipeVerify:
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
    bool Help(const QStringList& command);
    // The API's own check of a value; its message becomes the usage error.
    template <typename F>
    bool Check(F&& check) {
        try {
            check();
            return true;
        } catch (const lumitrax::Error& e) {
            return Fail(QString::fromStdString(e.what()));
        }
    }
    bool CommandOptions();
    bool Channels(const QStringList& args);
    bool Brightness(const QString& text, int& out) {
        return ParseNumber(text, 0, lumitrax::kMaxBrightness, out) ||
               Fail(QStringLiteral("brightness '%1' is not a number 0..%2").arg(text).arg(lumitrax::kMaxBrightness));
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
    bool helpAsked_ = false;
};

bool Parser::Run(const QStringList& arguments) {
    QStringList words;
    bool timeoutGiven = false;
    bool optionsEnded = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        // A negative number is an argument (its range check names it), not an option.
        const bool negativeNumber = arg.size() > 1 && arg[1].isDigit();
        if (optionsEnded || !arg.startsWith(QLatin1String("-")) || arg == QLatin1String("-") || negativeNumber) {
            words.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            helpAsked_ = true;
            continue;
        }
        if (arg == QLatin1String("--version")) {
            out_.action = CliParse::Version;
            return true;
        }
        if (arg == QLatin1String("-v") || arg == QLatin1String("--verbose")) {
            r_.verbose = true;
            continue;
        }
        if (arg == QLatin1String("-q") || arg == QLatin1String("--quiet")) {
            r_.quiet = true;
            continue;
        }
        QString name = arg;
        QString value;
        bool hasValue = false;
        if (const int eq = arg.indexOf(QLatin1Char('=')); eq > 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            hasValue = true;
        }
        static const QStringList kFlags = {QStringLiteral("--json"), QStringLiteral("--verify"),
                                           QStringLiteral("--lenient"), QStringLiteral("--yes"),
                                           QStringLiteral("--reconnect")};
        static const QStringList kValued = {QStringLiteral("--port"), QStringLiteral("--timeout"),
                                            QStringLiteral("--delay"), QStringLiteral("--on"),
                                            QStringLiteral("--edge"), QStringLiteral("--enable"),
                                            QStringLiteral("--record"), QStringLiteral("--name")};
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
            if (!ParseNumber(value, 1, kMaxTimeoutMs, r_.timeoutMs)) {
                return Fail(QStringLiteral("--timeout takes milliseconds 1..%1").arg(kMaxTimeoutMs));
            }
        } else {
            if (commandOptions_.count(name) != 0) {
                return Fail(QStringLiteral("%1 is given twice").arg(name));
            }
            commandOptions_[name] = value;
        }
    }
    if (r_.verbose && r_.quiet) {
        return Fail(QStringLiteral("-v and -q exclude each other"));
    }
    if (!words.isEmpty() && words.first() == QLatin1String("help")) {
        return Help(words.mid(1, 2));
    }
    if (helpAsked_) {
        return Help(words.mid(0, 2));
    }
    return Words(words);
}

bool Parser::Help(const QStringList& words) {
    out_.action = CliParse::Help;
    // "help recipe" is every recipe command's page; "help recipe apply" is one of them.
    QString name = CommandName(words);
    out_.message = words.isEmpty() ? CliUsage() : CommandUsage(name);
    if (out_.message.isEmpty() && name != words.value(0)) {
        name = words.first();
        out_.message = CommandUsage(name);
    }
    if (out_.message.isEmpty()) {
        return Fail(QStringLiteral("unknown command '%1'").arg(name));
    }
    return true;
}

bool Parser::Words(const QStringList& words) {
    if (words.isEmpty()) {
        return Fail(QStringLiteral("no command given"));
    }
    if (words.size() == 1 && TakesSecondWord(words.first())) {
        return Fail(QStringLiteral("%1 takes check, apply, verify or capture").arg(words.first()));
    }
    r_.name = CommandName(words);
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
    case PortRule::None:
        if (!r_.ports.isEmpty()) {
            return Fail(QStringLiteral("%1 reads files only and takes no --port").arg(r_.name));
        }
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

    const QStringList args = words.mid(static_cast<qsizetype>(r_.name.count(QLatin1Char(' ')) + 1));
    switch (r_.command) {
    case CliCommand::Ports:
    case CliCommand::Search:
    case CliCommand::Info:
    case CliCommand::OneShot:
    case CliCommand::Monitor:
    case CliCommand::Status:
        return Count(args, 0, QString());
    case CliCommand::FactoryReset:
        if (!Count(args, 0, QString())) {
            return false;
        }
        // Nothing opens without --yes: the controller's memories, DAC table and configuration
        // would be gone.
        return commandOptions_.count(QStringLiteral("--yes")) != 0 ||
               Fail(QStringLiteral("factory-reset returns the controller to its factory settings: its bright and "
                                   "trigger memories, DAC table and configuration are lost; give --yes to do it"));
    case CliCommand::Outputs: {
        if (!Count(args, 2, QStringLiteral("OUT0 and OUT1, each 0 or 1"))) {
            return false;
        }
        int out[2] = {};
        for (int i = 0; i < 2; ++i) {
            if (!ParseNumber(args[i], 0, 1, out[i])) {
                return Fail(QStringLiteral("OUT%1 '%2' is not 0 or 1").arg(i).arg(args[i]));
            }
        }
        r_.out0 = out[0] != 0;
        r_.out1 = out[1] != 0;
        return true;
    }
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
        if (!Count(args, lumitrax::kChannels, QStringLiteral("16 brightness values"))) {
            return false;
        }
        for (int i = 0; i < lumitrax::kChannels; ++i) {
            if (!Brightness(args[i], r_.packet[static_cast<std::size_t>(i)])) {
                return false;
            }
        }
        return true;
    case CliCommand::Trigger: {
        if (!Count(args, 1, QStringLiteral("a trigger number 1..4"))) {
            return false;
        }
        if (!ParseNumber(args[0], 1, lumitrax::kTriggerRows, r_.trigger.row)) {
            return Fail(QStringLiteral("trigger number '%1' is not 1..4").arg(args[0]));
        }
        return Check([this] { lumitrax::checkTriggerRow(r_.trigger); });
    }
    case CliCommand::SaveBright:
    case CliCommand::LoadBright:
    case CliCommand::SaveTrigger:
    case CliCommand::LoadTrigger:
        if (!Count(args, 1, QStringLiteral("a memory number 0..9"))) {
            return false;
        }
        return ParseNumber(args[0], 0, lumitrax::kMemories - 1, r_.memory) ||
               Fail(QStringLiteral("memory number '%1' is not 0..9").arg(args[0]));
    case CliCommand::ApplyConfig:
    case CliCommand::ReadConfig:
    case CliCommand::VerifyConfig:
        if (!Count(args, 1, QStringLiteral("one configuration file"))) {
            return false;
        }
        r_.file = args[0];
        return !r_.file.isEmpty() || Fail(QStringLiteral("the file name is empty"));
    case CliCommand::RecipeCheck:
        if (args.isEmpty()) {
            return Fail(QStringLiteral("recipe check takes recipe files or folders"));
        }
        for (const QString& a : args) {
            if (a.isEmpty()) {
                return Fail(QStringLiteral("the file name is empty"));
            }
        }
        r_.paths = args;
        return true;
    case CliCommand::RecipeApply:
    case CliCommand::RecipeVerify:
        if (!Count(args, 1, QStringLiteral("one recipe file"))) {
            return false;
        }
        r_.file = args[0];
        return !r_.file.isEmpty() || Fail(QStringLiteral("the file name is empty"));
    case CliCommand::RecipeCapture:
        if (args.size() > 1) {
            return Fail(QStringLiteral("recipe capture takes one file to write, or '-' or nothing for standard output"));
        }
        r_.file = args.value(0);
        if (r_.file == QLatin1String("-")) {
            r_.file.clear();
        }
        if (r_.recipeName.isEmpty()) {
            return Fail(QStringLiteral("recipe capture needs --name NAME, the name the recipe gets"));
        }
        // The name is checked as the recipe file's name is, before the port opens.
        return Check([this] {
            lumitrax::Recipe named;
            named.name = r_.recipeName.toStdString();
            lumitrax::checkRecipe(named);
        });
    case CliCommand::Raw: {
        if (args.isEmpty()) {
            return Fail(QStringLiteral("raw takes the command text"));
        }
        r_.rawText = args.join(QLatin1Char(' '));
        return Check([this] { lumitrax::checkRawText(r_.rawText.toStdString()); });
    }
    }
    return true;
}

bool Parser::CommandOptions() {
    const bool trigger = r_.command == CliCommand::Trigger;
    for (const auto& [name, value] : commandOptions_) {
        const bool fits = name == QLatin1String("--verify")      ? r_.command == CliCommand::ApplyConfig
                          : name == QLatin1String("--lenient")   ? r_.command == CliCommand::ApplyConfig ||
                                                                       r_.command == CliCommand::VerifyConfig
                          : name == QLatin1String("--yes")       ? r_.command == CliCommand::FactoryReset
                          : name == QLatin1String("--reconnect") ? r_.command == CliCommand::Monitor
                          : name == QLatin1String("--record")    ? r_.command == CliCommand::RecipeApply ||
                                                                       r_.command == CliCommand::RecipeVerify
                          : name == QLatin1String("--name")      ? r_.command == CliCommand::RecipeCapture
                                                                 : trigger;
        if (!fits) {
            return Fail(QStringLiteral("option %1 does not apply to %2").arg(name, r_.name));
        }
    }
    if (!trigger) {
        r_.verify = commandOptions_.count(QStringLiteral("--verify")) != 0;
        r_.lenient = commandOptions_.count(QStringLiteral("--lenient")) != 0;
        r_.reconnect = commandOptions_.count(QStringLiteral("--reconnect")) != 0;
        if (const auto record = commandOptions_.find(QStringLiteral("--record")); record != commandOptions_.end()) {
            if (record->second.isEmpty()) {
                return Fail(QStringLiteral("--record needs a file"));
            }
            r_.recordFile = record->second;
        }
        if (const auto name = commandOptions_.find(QStringLiteral("--name")); name != commandOptions_.end()) {
            r_.recipeName = name->second;
            if (r_.recipeName.isEmpty()) {
                return Fail(QStringLiteral("--name needs a recipe name"));
            }
        }
        return true;
    }
    for (const char* needed : {"--delay", "--on", "--edge", "--enable"}) {
        if (commandOptions_.count(QLatin1String(needed)) == 0) {
            return Fail(QStringLiteral("trigger needs --delay US --on US --edge positive|negative --enable 0|1"));
        }
    }
    lumitrax::TriggerRow& t = r_.trigger;
    // Plain numbers here; their range is the API's check once the row number is known.
    if (!ParseNumber(commandOptions_[QStringLiteral("--delay")], 0, 999999999, t.delayUs)) {
        return Fail(QStringLiteral("--delay takes microseconds 1..4000"));
    }
    if (!ParseNumber(commandOptions_[QStringLiteral("--on")], 0, 999999999, t.onUs)) {
        return Fail(QStringLiteral("--on takes microseconds 1..4000"));
    }
    const QString edge = commandOptions_[QStringLiteral("--edge")];
    if (edge == QLatin1String("positive")) {
        t.edge = lumitrax::Edge::Positive;
    } else if (edge == QLatin1String("negative")) {
        t.edge = lumitrax::Edge::Negative;
    } else {
        return Fail(QStringLiteral("--edge takes positive or negative"));
    }
    int enable = 0;
    if (!ParseNumber(commandOptions_[QStringLiteral("--enable")], 0, 1, enable)) {
        return Fail(QStringLiteral("--enable takes 0 or 1"));
    }
    t.enable = enable != 0;
    return true;
}

bool Parser::Channels(const QStringList& args) {
    if (args.size() == 1 && args[0] == QLatin1String("all")) {
        r_.allChannels = true;
        return true;
    }
    for (const QString& a : args) {
        int channel = 0;
        if (!ParseNumber(a, 1, lumitrax::kChannels, channel)) {
            return Fail(QStringLiteral("channel '%1' is not 1..16%2")
                            .arg(a, args.size() > 1 && a == QLatin1String("all")
                                        ? QStringLiteral(" ('all' stands alone)")
                                        : QString()));
        }
        r_.channels.push_back(channel);
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

