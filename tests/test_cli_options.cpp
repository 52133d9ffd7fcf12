// The command line of lumitrax and the trigger row check it applies before anything opens.
#include <gtest/gtest.h>

#include <QStringList>

#include <string>

#include "cli_options.h"

namespace {

CliParse Parse(const QStringList& args) { return ParseCliArguments(QStringList{"lumitrax"} + args); }

TEST(CliOptions, AcceptsEachCommandWithItsArguments) {
    const CliParse set = Parse({"--port", "/dev/x", "set", "3", "1024"});
    ASSERT_EQ(set.action, CliParse::Run) << set.message.toStdString();
    EXPECT_EQ(set.request.command, CliCommand::Set);
    EXPECT_EQ(set.request.channels, std::vector<int>{3});
    EXPECT_EQ(set.request.value, 1024);
    EXPECT_FALSE(set.request.allChannels);

    // Global options anywhere, "=" forms, several ports where a command takes them.
    const CliParse info = Parse({"info", "--json", "--port=/dev/a", "--timeout=250", "--port", "/dev/b"});
    ASSERT_EQ(info.action, CliParse::Run) << info.message.toStdString();
    EXPECT_EQ(info.request.ports, (QStringList{"/dev/a", "/dev/b"}));
    EXPECT_TRUE(info.request.json);
    EXPECT_EQ(info.request.timeoutMs, 250);

    const CliParse on = Parse({"--port", "/dev/x", "on", "16", "1", "16"});
    ASSERT_EQ(on.action, CliParse::Run);
    EXPECT_EQ(on.request.channels, (std::vector<int>{16, 1, 16}));

    const CliParse off = Parse({"--port", "/dev/x", "off", "all"});
    ASSERT_EQ(off.action, CliParse::Run);
    EXPECT_TRUE(off.request.allChannels);

    QStringList packetArgs = {"--port", "/dev/x", "packet"};
    for (int i = 0; i < 16; ++i) {
        packetArgs.append(QString::number(i * 64));
    }
    const CliParse packet = Parse(packetArgs);
    ASSERT_EQ(packet.action, CliParse::Run) << packet.message.toStdString();
    EXPECT_EQ(packet.request.packet[0], 0);
    EXPECT_EQ(packet.request.packet[15], 960);

    const CliParse trigger = Parse({"--port", "/dev/x", "trigger", "3", "--delay", "100", "--on", "50",
                                    "--edge", "negative", "--enable", "1"});
    ASSERT_EQ(trigger.action, CliParse::Run) << trigger.message.toStdString();
    EXPECT_EQ(trigger.request.trigger.row, 3);
    EXPECT_EQ(trigger.request.trigger.delayUs, 100);
    EXPECT_EQ(trigger.request.trigger.onUs, 50);
    EXPECT_EQ(trigger.request.trigger.edge, lumitrax::Edge::Negative);
    EXPECT_TRUE(trigger.request.trigger.enable);

    const CliParse apply = Parse({"--port", "/dev/x", "apply-config", "rig.ini", "--verify"});
    ASSERT_EQ(apply.action, CliParse::Run);
    EXPECT_EQ(apply.request.file, "rig.ini");
    EXPECT_TRUE(apply.request.verify);

    // raw joins its words; "--" lets a text start with a dash.
    const CliParse raw = Parse({"--port", "/dev/x", "raw", "setsn", "AB", "--", "-x"});
    ASSERT_EQ(raw.action, CliParse::Run);
    EXPECT_EQ(raw.request.rawText, "setsn AB -x");

    const CliParse load = Parse({"--port", "/dev/x", "load-trigger", "9"});
    ASSERT_EQ(load.action, CliParse::Run);
    EXPECT_EQ(load.request.memory, 9);

    const CliParse outputs = Parse({"--port", "/dev/x", "outputs", "0", "1"});
    ASSERT_EQ(outputs.action, CliParse::Run) << outputs.message.toStdString();
    EXPECT_TRUE(!outputs.request.out0 && outputs.request.out1);
    EXPECT_TRUE(Parse({"--port", "/dev/x", "monitor", "--reconnect"}).request.reconnect);
    EXPECT_FALSE(Parse({"--port", "/dev/x", "monitor"}).request.reconnect);

    EXPECT_EQ(Parse({"ports"}).action, CliParse::Run);
    EXPECT_EQ(Parse({"search"}).action, CliParse::Run);
    // Help for one command, by either spelling; an unknown one is an error.
    const CliParse help = Parse({"set", "--help"});
    EXPECT_EQ(help.action, CliParse::Help);
    EXPECT_EQ(help.message, CommandUsage("set"));
    EXPECT_EQ(Parse({"help", "set"}).message, help.message);
    EXPECT_EQ(Parse({"help"}).message, CliUsage());
    EXPECT_EQ(Parse({"help", "dim"}).action, CliParse::Fail);
    EXPECT_EQ(Parse({"--version"}).action, CliParse::Version);
}

TEST(CliOptions, RefusesBadUsageWithAMessageThatNamesTheProblem) {
    const std::string longText(63, 'a');  // with its CR one more than a command holds
    const struct {
        QStringList args;
        const char* message;  // a part of the message
    } cases[] = {
        {{}, "no command"},
        {{"--port", "/dev/x", "dim", "3"}, "unknown command 'dim'"},
        {{"--port", "/dev/x", "--colour", "info"}, "unknown option --colour"},
        {{"set", "1", "5"}, "needs exactly one --port"},
        {{"--port", "/dev/a", "--port", "/dev/b", "set", "1", "5"}, "needs exactly one --port"},
        {{"info"}, "needs --port PATH (one or more)"},
        {{"--port", "/dev/x", "set", "0", "5"}, "channel '0' is not 1..16"},
        {{"--port", "/dev/x", "set", "17", "5"}, "channel '17' is not 1..16"},
        {{"--port", "/dev/x", "set", "1", "1025"}, "brightness '1025' is not a number 0..1024"},
        {{"--port", "/dev/x", "set", "1", "-5"}, "brightness '-5' is not a number 0..1024"},
        {{"--port", "/dev/x", "save-bright", "-1"}, "memory number '-1' is not 0..9"},
        {{"--port", "/dev/x", "set", "1"}, "set takes a channel"},
        {{"--port", "/dev/x", "on"}, "on takes channels"},
        {{"--port", "/dev/x", "on", "1", "all"}, "'all' stands alone"},
        {{"--port", "/dev/x", "packet", "1", "2"}, "packet takes 16 brightness values"},
        {{"--port", "/dev/x", "info", "now"}, "info takes no arguments"},
        {{"--port", "/dev/x", "save-bright", "10"}, "memory number '10' is not 0..9"},
        {{"--port", "/dev/x", "trigger", "5", "--delay", "1", "--on", "1", "--edge", "positive", "--enable", "0"},
         "trigger number '5' is not 1..4"},
        {{"--port", "/dev/x", "trigger", "1", "--delay", "1", "--on", "1", "--enable", "0"}, "trigger needs --delay"},
        {{"--port", "/dev/x", "trigger", "1", "--delay", "1", "--on", "1", "--edge", "up", "--enable", "0"},
         "--edge takes positive or negative"},
        {{"--port", "/dev/x", "trigger", "1", "--delay", "1", "--delay", "2"}, "--delay is given twice"},
        {{"--port", "/dev/x", "set", "1", "5", "--delay", "3"}, "option --delay does not apply to set"},
        {{"--port", "/dev/x", "info", "--verify"}, "option --verify does not apply to info"},
        {{"--port", "/dev/x", "--timeout", "soon", "info"}, "--timeout takes milliseconds"},
        {{"--port", "/dev/x", "--json=1", "info"}, "option --json takes no value"},
        {{"--port"}, "option --port needs a value"},
        {{"--port", "/dev/x", "raw", QString::fromStdString(longText)}, "raw text is too long"},
        {{"--port", "/dev/x", "-v", "-q", "info"}, "-v and -q exclude each other"},
        {{"--port", "/dev/x", "info", "--lenient"}, "option --lenient does not apply to info"},
        {{"--port", "/dev/x", "status", "now"}, "status takes no arguments"},
        {{"--port", "/dev/x", "status", "--yes"}, "option --yes does not apply to status"},
        {{"--port", "/dev/x", "info", "--reconnect"}, "option --reconnect does not apply to info"},
        {{"--port", "/dev/x", "outputs", "1"}, "outputs takes OUT0 and OUT1, each 0 or 1"},
        {{"--port", "/dev/x", "outputs", "1", "2"}, "OUT1 '2' is not 0 or 1"},
        {{"--port", "/dev/x", "outputs", "on", "0"}, "OUT0 'on' is not 0 or 1"},
        {{"--port", "/dev/x", "factory-reset"}, "factory settings"},
        {{"--port", "/dev/x", "recipe"}, "recipe takes check, apply, verify or capture"},
        {{"--port", "/dev/x", "recipe", "load", "r.toml"}, "unknown command 'recipe load'"},
        {{"--port", "/dev/x", "recipe", "check", "r.toml"}, "recipe check reads files only and takes no --port"},
        {{"recipe", "check"}, "recipe check takes recipe files or folders"},
        {{"recipe", "apply", "r.toml"}, "recipe apply needs --port PATH (one or more)"},
        {{"--port", "/dev/x", "recipe", "apply"}, "recipe apply takes one recipe file"},
        {{"--port", "/dev/x", "recipe", "verify", "a.toml", "b.toml"}, "recipe verify takes one recipe file"},
        {{"--port", "/dev/x", "recipe", "capture", "--name", "n", "--record", "log"}, "option --record does not apply to recipe capture"},
        {{"--port", "/dev/x", "recipe", "apply", "r.toml", "--record="}, "--record needs a file"},
        {{"--port", "/dev/x", "--port", "/dev/y", "recipe", "capture", "--name", "n"}, "needs exactly one --port"},
        {{"--port", "/dev/x", "recipe", "capture"}, "recipe capture needs --name NAME"},
        {{"--port", "/dev/x", "recipe", "capture", "--name", "n", "a", "b"}, "recipe capture takes one file"},
        {{"--port", "/dev/x", "recipe", "apply", "r.toml", "--name", "n"}, "option --name does not apply to recipe apply"},
    };
    for (const auto& c : cases) {
        const CliParse p = Parse(c.args);
        SCOPED_TRACE(c.args.join(' ').toStdString());
        EXPECT_EQ(p.action, CliParse::Fail);
        EXPECT_TRUE(p.message.contains(QLatin1String(c.message))) << p.message.toStdString();
    }
}

// recipe is a command of two words; its help is every recipe command's page or one of them.
TEST(CliOptions, RecipeCommandsTakeTheirFilesAndOptions) {
    const CliParse check = Parse({"recipe", "check", "a.toml", "recipes/"});
    ASSERT_EQ(check.action, CliParse::Run) << check.message.toStdString();
    EXPECT_EQ(check.request.command, CliCommand::RecipeCheck);
    EXPECT_EQ(check.request.name, "recipe check");
    EXPECT_EQ(check.request.paths, (QStringList{"a.toml", "recipes/"}));

    const CliParse apply = Parse({"--port", "/dev/a", "recipe", "apply", "--record", "log.jsonl", "r.toml", "--port=/dev/b"});
    ASSERT_EQ(apply.action, CliParse::Run) << apply.message.toStdString();
    EXPECT_EQ(apply.request.command, CliCommand::RecipeApply);
    EXPECT_EQ(apply.request.file, "r.toml");
    EXPECT_EQ(apply.request.recordFile, "log.jsonl");
    EXPECT_EQ(apply.request.ports, (QStringList{"/dev/a", "/dev/b"}));

    const CliParse verify = Parse({"--port", "/dev/a", "recipe", "verify", "r.toml"});
    ASSERT_EQ(verify.action, CliParse::Run) << verify.message.toStdString();
    EXPECT_EQ(verify.request.command, CliCommand::RecipeVerify);
    EXPECT_TRUE(verify.request.recordFile.isEmpty());
    const CliParse recorded = Parse({"--port", "/dev/a", "recipe", "verify", "r.toml", "--record", "log.jsonl"});
    ASSERT_EQ(recorded.action, CliParse::Run) << recorded.message.toStdString();
    EXPECT_EQ(recorded.request.recordFile, "log.jsonl");

    // capture writes to a file, or with "-" or nothing to standard output (file left empty).
    const struct {
        QStringList args;
        const char* file;
    } captures[] = {{{"out.toml"}, "out.toml"}, {{"-"}, ""}, {{}, ""}};
    for (const auto& c : captures) {
        const CliParse capture = Parse(QStringList{"--port", "/dev/a", "recipe", "capture", "--name", "top-1.b_c"} + c.args);
        ASSERT_EQ(capture.action, CliParse::Run) << capture.message.toStdString();
        EXPECT_EQ(capture.request.command, CliCommand::RecipeCapture);
        EXPECT_EQ(capture.request.recipeName, "top-1.b_c");
        EXPECT_EQ(capture.request.file, QLatin1String(c.file));
    }
    // The name is checked as a recipe file's is, before any port opens.
    const CliParse badName = Parse({"--port", "/dev/a", "recipe", "capture", "--name", "top 1"});
    EXPECT_EQ(badName.action, CliParse::Fail);
    EXPECT_FALSE(badName.message.isEmpty());

    EXPECT_EQ(Parse({"help", "recipe", "apply"}).message, CommandUsage("recipe apply"));
    EXPECT_EQ(Parse({"recipe", "apply", "--help"}).message, CommandUsage("recipe apply"));
    const QString all = Parse({"help", "recipe"}).message;
    for (const char* command : {"recipe check", "recipe apply", "recipe verify", "recipe capture"}) {
        EXPECT_TRUE(all.contains(CommandUsage(QLatin1String(command)))) << command;
    }
}

TEST(CliOptions, TriggerTimesAreMicrosecondsOneTo4000InTheToolsOwnWords) {
    const struct {
        const char* delay;
        const char* on;
        const char* message;  // empty: accepted
    } cases[] = {
        {"1", "1", ""},
        {"4000", "4000", ""},
        {"4001", "1", "trigger 3: delay 4001 us is not 1..4000"},
        {"0", "10", "trigger 3: delay 0 us is not 1..4000"},
        {"10", "0", "trigger 3: on time 0 us is not 1..4000"},
        {"5000", "4001", "trigger 3: delay 5000 us is not 1..4000"},  // the delay is judged first
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.delay) + " " + c.on);
        const CliParse p = Parse({"--port", "/dev/x", "trigger", "3", "--delay", c.delay, "--on", c.on, "--edge",
                                  "positive", "--enable", "1"});
        if (c.message[0] == '\0') {
            EXPECT_EQ(p.action, CliParse::Run) << p.message.toStdString();
        } else {
            EXPECT_EQ(p.action, CliParse::Fail);
            EXPECT_EQ(p.message, QLatin1String(c.message));
        }
    }
}

}  // namespace
