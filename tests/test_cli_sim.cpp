// End to end: the lumitrax program against lumitrax-sim on a pseudo-terminal, each command a
// process of its own as a script would run it; what one command changed is seen by the next.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config_file.h"
#include "sim_process.h"

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
    QJsonObject Json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
};

Outcome Lumitrax(const QStringList& args, const QString& outputFile = {}) {
    QProcess p;
    if (!outputFile.isEmpty()) {
        p.setStandardOutputFile(outputFile);
    }
    p.start(QStringLiteral(LUMITRAX_CLI_PATH), args);
    Outcome o;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit) {
        p.kill();
        p.waitForFinished();
        return o;
    }
    o.exitCode = p.exitCode();
    o.out = QString::fromUtf8(p.readAllStandardOutput());
    o.err = QString::fromUtf8(p.readAllStandardError());
    return o;
}

QString Path(const SimProcess& sim) { return QString::fromStdString(sim.devicePath()); }

bool WriteFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

ModuleConfig ReadFileConfig(const QString& path) {
    ModuleConfig config;
    ConfigLines lines;
    EXPECT_TRUE(ReadConfigFile(path, config, lines).opened) << path.toStdString();
    return config;
}

TEST(CliSim, InfoShowsTheSimulatorsIdentityInTextAndJson) {
    SimProcess sim({"--model", "LT-E2E", "--serial", "SN-E2E-1", "--firmware", "9.8.7", "--fpga", "4.2",
                    "--build", "20240102", "--module-id", "42"});
    ASSERT_FALSE(sim.devicePath().empty());

    const Outcome text = Lumitrax({"--port", Path(sim), "info"});
    EXPECT_EQ(text.exitCode, 0) << text.err.toStdString();
    for (const char* line : {"model            LT-E2E", "serial number    SN-E2E-1", "module ID        42",
                             "firmware         9.8.7", "FPGA             4.2", "build            20240102"}) {
        EXPECT_TRUE(text.out.split('\n').contains(QLatin1String(line))) << line << "\n" << text.out.toStdString();
    }

    const Outcome json = Lumitrax({"--json", "--port", Path(sim), "info"});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    const QJsonObject doc = json.Json();
    EXPECT_EQ(doc["command"].toString(), "info");
    ASSERT_EQ(doc["ports"].toArray().size(), 1);
    EXPECT_EQ(doc["schema"].toInt(), 1);
    const QJsonObject port = doc["ports"][0].toObject();
    EXPECT_EQ(port["port"].toString(), Path(sim));
    const QJsonObject state = port["state"].toObject();
    const QJsonObject id = state["identity"].toObject();
    EXPECT_EQ(id["model"].toString(), "LT-E2E");
    EXPECT_EQ(id["serial"].toString(), "SN-E2E-1");
    EXPECT_EQ(id["firmware"].toString(), "9.8.7");
    EXPECT_EQ(id["fpga"].toString(), "4.2");
    EXPECT_EQ(id["build"].toString(), "20240102");
    EXPECT_EQ(id["module_id"].toInt(), 42);
    EXPECT_EQ(state["channels"].toArray().size(), 16);
    EXPECT_EQ(state["triggers"].toArray().size(), 4);
    EXPECT_TRUE(state["features"]["pwm"].isBool());
    EXPECT_FALSE(doc.contains("error"));

    // read-config --json names the same facts as info does, with the same values.
    const Outcome config = Lumitrax({"--json", "--port", Path(sim), "read-config", "-"});
    ASSERT_EQ(config.exitCode, 0) << config.err.toStdString();
    const QJsonObject c = config.Json()["ports"][0]["config"].toObject();
    ASSERT_FALSE(c.isEmpty());
    for (auto it = c.begin(); it != c.end(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        if (it.value().isObject()) {
            const QJsonObject sub = it.value().toObject();
            for (auto f = sub.begin(); f != sub.end(); ++f) {
                EXPECT_EQ(f.value(), state[it.key()][f.key()]) << f.key().toStdString();
            }
        } else {
            EXPECT_EQ(it.value(), state[it.key()]);
        }
    }
}

TEST(CliSim, SetAndOnChangeTheControllerAndOutlastTheTool) {
    SimProcess sim({});
    ASSERT_FALSE(sim.devicePath().empty());
    const QString p = Path(sim);
    // Every run closes its connection; were that switching all off, "on 3 5" would start
    // from nothing and the mask would be gone after it.
    for (const QStringList& args : {QStringList{"set", "3", "777"}, QStringList{"off", "all"},
                                    QStringList{"on", "1", "3"}, QStringList{"on", "5"}, QStringList{"off", "1"}}) {
        const Outcome o = Lumitrax(QStringList{"--port", p} + args);
        EXPECT_EQ(o.exitCode, 0) << args.join(' ').toStdString() << ": " << o.err.toStdString();
    }
    const Outcome info = Lumitrax({"--json", "--port", p, "info"});
    ASSERT_EQ(info.exitCode, 0);
    const QJsonArray channels = info.Json()["ports"][0]["state"]["channels"].toArray();
    ASSERT_EQ(channels.size(), 16);
    EXPECT_EQ(channels[2]["brightness"].toInt(), 777);
    int mask = 0;
    for (int i = 0; i < 16; ++i) {
        mask |= channels[i]["on"].toBool() ? 1 << i : 0;
    }
    EXPECT_EQ(mask, 0x14);
}

TEST(CliSim, ConfigurationRoundTripsAndVerifyFindsTheFieldChangedBehindItsBack) {
    SimProcess sim({});
    ASSERT_FALSE(sim.devicePath().empty());
    const QString p = Path(sim);
    QTemporaryDir dir;
    const QString file = dir.filePath("rig.ini");
    QByteArray content = "model LX-1608\nS/N RT-0001\nID 77\nchannel 12\npwm_offset 33\n"
                         "use_pwm 1\nuse_packet 1\nuse_debug 0\n";
    for (int row = 0; row < 16; ++row) {
        content += "dac_bandwidth " + QByteArray::number(row) + " 0." + QByteArray::number(row % 10) + "00000 " +
                   QByteArray::number(row + 1) + ".250000\n";
    }
    ASSERT_TRUE(WriteFile(file, content));

    const Outcome apply = Lumitrax({"--port", p, "apply-config", file});
    ASSERT_EQ(apply.exitCode, 0) << apply.err.toStdString();
    const QString back = dir.filePath("back.ini");
    const Outcome read = Lumitrax({"--port", p, "read-config", back});
    ASSERT_EQ(read.exitCode, 0) << read.err.toStdString();
    EXPECT_EQ(ReadFileConfig(back), ReadFileConfig(file));
    QFile written(back);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), content);

    const Outcome agree = Lumitrax({"--port", p, "verify-config", file});
    EXPECT_EQ(agree.exitCode, 0) << agree.out.toStdString() << agree.err.toStdString();

    ASSERT_EQ(Lumitrax({"--port", p, "raw", "setoffset", "99"}).exitCode, 0);
    const Outcome differ = Lumitrax({"--json", "--port", p, "verify-config", file});
    EXPECT_EQ(differ.exitCode, 1);
    EXPECT_EQ(differ.Json()["error"].toObject()["kind"].toString(), "mismatch");
    const QJsonArray diffs = differ.Json()["ports"][0]["differences"].toArray();
    ASSERT_EQ(diffs.size(), 1) << differ.out.toStdString();
    EXPECT_EQ(diffs[0]["field"].toString(), "pwm_offset");
    EXPECT_EQ(diffs[0]["file"].toString(), "33");
    EXPECT_EQ(diffs[0]["controller"].toString(), "99");

    const Outcome both = Lumitrax({"--port", p, "apply-config", "--verify", file});
    EXPECT_EQ(both.exitCode, 0) << both.err.toStdString();
    EXPECT_TRUE(both.out.contains("written (6 steps), verified")) << both.out.toStdString();

    // Only the offset's high byte differs: 289 is 0x121, 33 is 0x21.
    ASSERT_EQ(Lumitrax({"--port", p, "raw", "setoffset", "289"}).exitCode, 0);
    const Outcome high = Lumitrax({"--port", p, "verify-config", file});
    EXPECT_EQ(high.exitCode, 1);
    EXPECT_TRUE(high.out.contains("pwm_offset: file 33, controller 289")) << high.out.toStdString();
}

// A bad file writes nothing: the simulator's transcript stays empty.
TEST(CliSim, BadConfigurationFilesWriteNothingAndNameEachBadLine) {
    QTemporaryDir dir;
    const QString transcript = dir.filePath("transcript");
    SimProcess sim({"--transcript", transcript.toStdString()});
    ASSERT_FALSE(sim.devicePath().empty());
    QByteArray good = "S/N X-1\n";
    const struct {
        QByteArray content;
        const char* message;
    } cases[] = {
        {"hello world\n", ":1: \"hello world\": unknown line"},
        {"", "holds no configuration line"},
        {good + "dac_bandwidth 5 3.0 1.0\n", ":2: \"dac_bandwidth 5 3.0 1.0\": low 3.000000 is not below high 1.000000"},
        {good + "dac_bandwidth 0 1e30 1e31\n", ":2: \"dac_bandwidth 0 1e30 1e31\": the values make the command too long"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content.toStdString());
        const QString file = dir.filePath("bad.ini");
        ASSERT_TRUE(WriteFile(file, c.content));
        for (const char* command : {"apply-config", "verify-config"}) {
            const Outcome o = Lumitrax({"--port", Path(sim), command, file});
            EXPECT_EQ(o.exitCode, 2) << command;
            EXPECT_TRUE(o.err.contains(QLatin1String(c.message))) << o.err.toStdString();
        }
    }
    // A model name alone can be compared but gives apply nothing to write.
    const QString modelOnly = dir.filePath("model.ini");
    ASSERT_TRUE(WriteFile(modelOnly, "model LX-1608\n"));
    const Outcome o = Lumitrax({"--port", Path(sim), "apply-config", modelOnly});
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_TRUE(o.err.contains("nothing to write")) << o.err.toStdString();
    QFile t(transcript);
    EXPECT_TRUE(!t.exists() || (t.open(QIODevice::ReadOnly) && t.readAll().isEmpty()));
}

TEST(CliSim, InterruptedApplyFinishesTheCommandOnTheLineAndNamesTheSteps) {
    QTemporaryDir dir;
    const QString transcript = dir.filePath("transcript");
    SimProcess sim({"--transcript", transcript.toStdString()});
    ASSERT_FALSE(sim.devicePath().empty());
    const QString file = dir.filePath("rig.ini");
    ASSERT_TRUE(WriteFile(file, "S/N INT-1\npwm_offset 40\n"));
    QProcess p;
    p.start(QStringLiteral(LUMITRAX_CLI_PATH), {"--port", Path(sim), "apply-config", file});
    ASSERT_TRUE(p.waitForStarted());
    // The read-all and the first step take about half a second; the flash waits 1.5 s more.
    QThread::msleep(700);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 130);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_TRUE(err.contains("interrupted")) << err.toStdString();
    EXPECT_TRUE(err.contains(QRegularExpression("written: identity and switches"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QRegularExpression("not written: .*save model$", QRegularExpression::MultilineOption)))
        << err.toStdString();
    sim.Stop();
    QFile t(transcript);
    ASSERT_TRUE(t.open(QIODevice::ReadOnly));
    const QByteArray sent = t.readAll();
    EXPECT_TRUE(sent.contains("setsn INT-1"));
    EXPECT_FALSE(sent.contains("setmodelsave"));
}

// An interrupt ends a wait for a controller that does not answer; it once waited out the
// whole timeout (here a minute).
TEST(CliSim, AnInterruptDoesNotWaitOutALongTimeout) {
    SimProcess sim({"--silent"});
    ASSERT_FALSE(sim.devicePath().empty());
    for (const QStringList& command : {QStringList{"info"}, QStringList{"raw", "getsn"}, QStringList{"set", "1", "5"},
                                      QStringList{"search"}}) {
        QProcess p;
        p.start(QStringLiteral(LUMITRAX_CLI_PATH), QStringList{"--port", Path(sim), "--timeout", "60000"} + command);
        ASSERT_TRUE(p.waitForStarted());
        QThread::msleep(400);
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        ASSERT_TRUE(p.waitForFinished(10000)) << command.join(' ').toStdString();
        EXPECT_EQ(p.exitCode(), 130);
        EXPECT_TRUE(p.readAllStandardError().contains("interrupted"));
    }
}

// Commands against a working controller that were once reported wrongly. The line dying in a
// step: its commands that went out count as written, though unconfirmed (the operator was told
// "written: nothing" of a controller given its serial number). Switch reports sent unasked
// every 5 ms: no part of an answer (a set waited out its whole timeout, here a minute). A port
// named relative to the current folder: that file, not one in /dev.
TEST(CliSim, CommandsOnceReportedWronglyAreReportedAsTheyWent) {
    QTemporaryDir dir;
    ASSERT_TRUE(WriteFile(dir.filePath("rig.ini"), "S/N LOST-1\n"));
    const struct {
        std::vector<std::string> sim;
        QStringList args;
        int exitCode;
        const char* said;  // on stderr, or stdout when exit 0
    } cases[] = {
        {{"--hangup-after", "31"}, {"apply-config", "rig.ini"}, 1,
         R"(\bwritten: identity and switches \(.*not confirmed\))"},
        {{"--switch-every", "5"}, {"--timeout", "60000", "set", "1", "5"}, 0, "^$"},
        {{"--serial", "HERE-1"}, {"info"}, 0, "HERE-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        std::vector<std::string> args = c.sim;
        args.insert(args.end(), {"--link", dir.filePath("controller").toStdString()});
        SimProcess sim(args);
        ASSERT_FALSE(sim.devicePath().empty());
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(LUMITRAX_CLI_PATH), QStringList{"--port", "controller"} + c.args);
        ASSERT_TRUE(p.waitForFinished(20000)) << "still waiting";
        EXPECT_EQ(p.exitCode(), c.exitCode);
        const QString said = QString::fromUtf8(c.exitCode == 0 ? p.readAllStandardOutput() : p.readAllStandardError());
        EXPECT_TRUE(said.contains(QRegularExpression(c.said))) << said.toStdString();
    }
}

TEST(CliSim, RawTakesTextUpToTheLinksLimitAndOneMoreByteIsRefused) {
    QTemporaryDir dir;
    const QString transcript = dir.filePath("transcript");
    SimProcess sim({"--transcript", transcript.toStdString()});
    ASSERT_FALSE(sim.devicePath().empty());
    const QString atLimit = "setsn " + QString(56, 'A');  // 62 bytes and the carriage return
    EXPECT_NE(Lumitrax({"--port", Path(sim), "--timeout", "200", "raw", atLimit}).exitCode, 2);
    EXPECT_EQ(Lumitrax({"--port", Path(sim), "raw", atLimit + "A"}).exitCode, 2);
    // What comes back is shown, its control characters made visible: the simulator's refusal
    // quotes the escape sequence that would have cleared the screen.
    const Outcome escaped = Lumitrax({"--port", Path(sim), "--timeout", "200", "raw", "zz\x1b[2J"});
    EXPECT_TRUE(escaped.err.contains("zz\\x1B[2J") && !escaped.err.contains(QChar(0x1b))) << escaped.err.toStdString();
    // So is a byte that is no Korean text (sent here as the character that carries it).
    const Outcome byte = Lumitrax({"--port", Path(sim), "--timeout", "200", "raw", QStringLiteral("zz") + QChar(0xF7FF)});
    EXPECT_TRUE(byte.err.contains("zz\\xFF")) << byte.err.toStdString();
    sim.Stop();
    QFile t(transcript);
    ASSERT_TRUE(t.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = t.readAll().split('\n');
    EXPECT_TRUE(lines.contains(atLimit.toLatin1()));
    EXPECT_FALSE(lines.contains((atLimit + "A").toLatin1()));
}

TEST(CliSim, OutputThatCannotBeWrittenIsAFailure) {
    SimProcess sim({});
    ASSERT_FALSE(sim.devicePath().empty());
    for (const QStringList& command : {QStringList{"read-config", "-"}, QStringList{"info"}, QStringList{"--help"}}) {
        SCOPED_TRACE(command.join(' ').toStdString());
        const Outcome full = Lumitrax(QStringList{"--port", Path(sim)} + command, QStringLiteral("/dev/full"));
        EXPECT_EQ(full.exitCode, 2);
        EXPECT_TRUE(full.err.contains("standard output: cannot be written")) << full.err.toStdString();
    }
    // So is an output file: read-config into a folder that is not there.
    QTemporaryDir dir;
    const Outcome file = Lumitrax({"--port", Path(sim), "read-config", dir.filePath("missing/rig.ini")});
    EXPECT_EQ(file.exitCode, 2) << file.err.toStdString();
    // A pipe whose reader has gone: exit 2 and a word on stderr, not a death by SIGPIPE.
    QProcess p;
    p.start(QStringLiteral("bash"), {"-c", "set -o pipefail; \"$@\" | true", "-", QStringLiteral(LUMITRAX_CLI_PATH),
                                     "--port", Path(sim), "info"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 2) << "141 is a death by SIGPIPE";
}

TEST(CliSim, SearchFindsTheSimulatorAndNothingOnASilentOne) {
    SimProcess sim({"--serial", "FIND-ME"});
    SimProcess silent({"--silent"});
    ASSERT_FALSE(sim.devicePath().empty());
    ASSERT_FALSE(silent.devicePath().empty());

    const Outcome found = Lumitrax({"--port", Path(sim), "search"});
    EXPECT_EQ(found.exitCode, 0) << found.err.toStdString();
    EXPECT_EQ(found.out, Path(sim) + " LX-1608 2.5.0 1.3 20130225 FIND-ME\n");
    // Named twice, probed once (two probes would hold the port against each other).
    const Outcome twice = Lumitrax({"--port", Path(sim), "--port", Path(sim), "search"});
    EXPECT_EQ(twice.out, found.out);
    EXPECT_FALSE(twice.err.contains("held")) << twice.err.toStdString();

    // Both probed side by side: the silent one costs the timeout once, not per port.
    const Outcome none = Lumitrax({"--json", "--timeout", "300", "--port", Path(silent), "search"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_FALSE(none.Json()["ports"][0]["found"].toBool());
    EXPECT_TRUE(none.err.contains("no controller found; probed 1 port(s): " + Path(silent))) << none.err.toStdString();
}

TEST(CliSim, APortNamedAsPortsListsItIsThatPort) {
    // Each run is a process of its own: COM<n> must name what `ports` listed as COM<n>.
    const QStringList listed = Lumitrax({"ports"}).out.split('\n', Qt::SkipEmptyParts);
    if (listed.isEmpty()) {
        GTEST_SKIP() << "this machine lists no serial port";
    }
    const QString name = listed.first().section(' ', 0, 0);
    const Outcome o = Lumitrax({"--port", name, "--timeout", "100", "info"});
    EXPECT_FALSE(o.err.contains("no port has this number") || o.err.contains("the device is gone")) << o.err.toStdString();
}

TEST(CliSim, PortsThatDoNotOpenGiveExit3WithTheReason) {
    QTemporaryDir dir;
    const QString plain = dir.filePath("not-a-tty");
    ASSERT_TRUE(WriteFile(plain, "x"));
    const QString missing = dir.filePath("ttyGone");
    const struct {
        QString path;
        const char* reason;
    } cases[] = {{missing, "the device is gone"}, {plain, "not a serial device"}};
    for (const auto& c : cases) {
        const Outcome o = Lumitrax({"--port", c.path, "set", "1", "100"});
        EXPECT_EQ(o.exitCode, 3);
        EXPECT_TRUE(o.err.contains(c.path + ": " + c.reason)) << o.err.toStdString();
    }

    // With several ports each gets its report and the worst status is the tool's.
    SimProcess a({"--serial", "A-1"});
    SimProcess b({"--serial", "B-2"});
    const Outcome o = Lumitrax({"--json", "--port", Path(a), "--port", missing, "--port", Path(b), "info"});
    EXPECT_EQ(o.exitCode, 3);
    const QJsonArray ports = o.Json()["ports"].toArray();
    ASSERT_EQ(ports.size(), 3);
    EXPECT_EQ(ports[0]["state"]["identity"]["serial"].toString(), "A-1");
    EXPECT_EQ(ports[1]["exit"].toInt(), 3);
    EXPECT_EQ(ports[1]["error"]["kind"].toString(), "port");
    EXPECT_TRUE(ports[1]["error"]["message"].toString().contains(missing));
    EXPECT_EQ(ports[2]["state"]["identity"]["serial"].toString(), "B-2");
}

TEST(CliSim, BadUsageGivesExit2AndOpensNothing) {
    QTemporaryDir dir;
    const QString transcript = dir.filePath("transcript");
    SimProcess sim({"--transcript", transcript.toStdString()});
    ASSERT_FALSE(sim.devicePath().empty());
    const QString p = Path(sim);
    const QStringList cases[] = {
        {},
        {"--port", p, "blink"},
        {"--port", p, "set", "17", "100"},
        {"--port", p, "trigger", "3", "--delay", "0", "--on", "10", "--edge", "positive", "--enable", "1"},
        {"set", "1", "100"},
        {"--port", p, "--json", "on"},
        {"--port", p, "outputs", "2", "0"},
        {"--port", p, "outputs", "1"},
        {"--port", p, "factory-reset"},
    };
    for (const QStringList& args : cases) {
        const Outcome o = Lumitrax(args);
        EXPECT_EQ(o.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(o.err.contains("Try 'lumitrax help")) << o.err.toStdString();
    }
    const Outcome trigger = Lumitrax(QStringList{"--json"} + cases[3]);
    EXPECT_EQ(trigger.Json()["error"].toObject()["kind"].toString(), "argument");
    EXPECT_EQ(trigger.Json()["error"].toObject()["message"].toString(), "trigger 3: delay 0 us is not 1..4000");
    EXPECT_EQ(trigger.Json()["exit"].toInt(), 2);
    // A factory reset is refused without --yes, saying what it would have done.
    const Outcome reset = Lumitrax({"--port", p, "factory-reset"});
    EXPECT_TRUE(reset.err.contains("factory settings") && reset.err.contains("--yes")) << reset.err.toStdString();
    // A malformed second name is found before the first controller is written.
    EXPECT_EQ(Lumitrax({"--port", p, "--port", "tcp://127.0.0.1:99999", "set", "1", "5"}).exitCode, 2);
    sim.Stop();
    EXPECT_EQ(QFileInfo(transcript).size(), 0) << "something was sent";
}

QStringList TranscriptLines(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
}

// status asks geterrstatus and getportstatus, nothing else, and shows what the controller holds:
// its error status, the inputs it was started with, the outputs set before (or reset since).
TEST(CliSim, StatusShowsErrorStatusInputsAndOutputsFromTwoQuestions) {
    const auto expected = [](int code, int detail, bool in0, bool in1, bool out0, bool out1) {
        return QJsonObject{{"connection", "connected"},
                           {"error_status", QJsonObject{{"code", code}, {"detail", detail}}},
                           {"io", QJsonObject{{"in0", in0}, {"in1", in1}, {"out0", out0}, {"out1", out1}}}};
    };
    const struct {
        std::vector<std::string> sim;
        std::vector<QStringList> before;  // commands run first
        QStringList sent;                 // what they send (a setting, then the query that confirms it)
        const char* line;
        QJsonObject json;                 // the port's object but for "port" and "exit"
    } cases[] = {
        {{}, {}, {}, "connected  error 0,0h  in 0 0  out 0 0", expected(0, 0, false, false, false, false)},
        {{"--inputs", "1", "--error", "3,26"}, {{"outputs", "1", "0"}}, {"setoutportall 1", "getoffset"},
         "connected  error 3,1ah  in 1 0  out 1 0", expected(3, 26, true, false, true, false)},
        {{"--inputs", "2", "--error", "255,255"}, {{"outputs", "0", "1"}}, {"setoutportall 2", "getoffset"},
         "connected  error 255,ffh  in 0 1  out 0 1", expected(255, 255, false, true, false, true)},
        {{}, {{"outputs", "1", "1"}, {"factory-reset", "--yes"}},
         {"setoutportall 3", "getoffset", "factoryreset", "getoffset"},
         "connected  error 0,0h  in 0 0  out 0 0", expected(0, 0, false, false, false, false)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        QTemporaryDir dir;
        const QString transcript = dir.filePath("transcript");
        std::vector<std::string> args = c.sim;
        args.insert(args.end(), {"--transcript", transcript.toStdString()});
        SimProcess sim(args);
        ASSERT_FALSE(sim.devicePath().empty());
        for (const QStringList& command : c.before) {
            const Outcome o = Lumitrax(QStringList{"--port", Path(sim)} + command);
            ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
            EXPECT_TRUE(o.out.isEmpty()) << o.out.toStdString();
        }
        const Outcome text = Lumitrax({"--port", Path(sim), "-q", "status"});
        EXPECT_EQ(text.exitCode, 0) << text.err.toStdString();
        EXPECT_EQ(text.out, QLatin1String(c.line) + '\n');
        const Outcome json = Lumitrax({"--json", "--port", Path(sim), "status"});
        ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
        QJsonObject port = json.Json()["ports"][0].toObject();
        port.remove("port");
        port.remove("exit");
        EXPECT_EQ(port, c.json);
        sim.Stop();
        EXPECT_EQ(TranscriptLines(transcript),
                  c.sent + QStringList({"geterrstatus", "getportstatus", "geterrstatus", "getportstatus"}));
    }
}

// monitor --reconnect across a simulator killed (its link left behind) and started again on
// the same --link path: the states in order, then lines from the new simulator.
TEST(CliSim, MonitorReconnectKeepsWatchingAcrossARestartedSimulator) {
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json ? "--json" : "text");
        QTemporaryDir dir;
        const std::vector<std::string> simArgs = {"--link", dir.filePath("controller").toStdString(), "--switch-every", "50"};
        auto sim = std::make_unique<SimProcess>(simArgs);
        ASSERT_FALSE(sim->devicePath().empty());
        QProcess p;
        p.start(QStringLiteral(LUMITRAX_CLI_PATH), QStringList{"--port", dir.filePath("controller"), "monitor", "--reconnect"} +
                                                       (json ? QStringList{"--json"} : QStringList{}));
        QStringList lines;
        QByteArray partial;
        const auto waitFor = [&](const std::function<bool()>& done) {
            for (QDeadlineTimer deadline(30000); !done();) {
                if (deadline.hasExpired() || !p.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                    return false;
                }
                partial += p.readAllStandardOutput();
                for (qsizetype end; (end = partial.indexOf('\n')) >= 0; partial.remove(0, end + 1)) {
                    lines.append(QString::fromUtf8(partial.left(end)));
                }
            }
            return true;
        };
        const QRegularExpression stateText(R"(^\S+[+-]\d\d:\d\d -- (\w+)$)");
        const auto stateOf = [&](const QString& line) {  // empty for a received line
            return json ? QJsonDocument::fromJson(line.toUtf8()).object().value("state").toString()
                        : stateText.match(line).captured(1);
        };
        const auto states = [&] {
            QStringList out;
            for (const QString& line : lines) {
                if (!stateOf(line).isEmpty()) out.append(stateOf(line));
            }
            return out;
        };
        ASSERT_TRUE(waitFor([&] { return lines.size() >= 2; })) << "no lines";
        EXPECT_EQ(states(), QStringList{"connected"});
        sim->Stop(SIGKILL);
        ASSERT_TRUE(waitFor([&] { return states().contains("reconnecting"); })) << lines.join('\n').toStdString();
        sim = std::make_unique<SimProcess>(simArgs);
        ASSERT_FALSE(sim->devicePath().empty());
        ASSERT_TRUE(waitFor([&] { return states().size() >= 3 && stateOf(lines.last()).isEmpty(); }))
            << lines.join('\n').toStdString();
        // With reconnection on, a loss shows as reconnecting at once.
        EXPECT_EQ(states(), (QStringList{"connected", "reconnecting", "connected"}));
        EXPECT_TRUE(lines.last().contains("getswitch")) << lines.last().toStdString();
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    }
}

QProcessEnvironment InTimeZone(const QString& tz) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TZ"), tz);
    return env;
}

// The time stamps are local time with its offset from UTC, in a zone of half hours too and in
// UTC itself (written +00:00 like any other offset).
TEST(CliSim, MonitorPrintsTimeStampedLinesUntilInterrupted) {
    SimProcess sim({"--switch-every", "50"});
    ASSERT_FALSE(sim.devicePath().empty());
    QProcess p;
    p.setProcessEnvironment(InTimeZone(QStringLiteral("IST-05:30")));
    p.start(QStringLiteral(LUMITRAX_CLI_PATH), {"--port", Path(sim), "monitor"});
    ASSERT_TRUE(p.waitForStarted());
    QByteArray out;
    while (out.count('\n') < 3 && p.waitForReadyRead(5000)) {
        out += p.readAllStandardOutput();
    }
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    out += p.readAllStandardOutput();
    const QStringList lines = QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3);
    const QRegularExpression stamped(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}\+05:30 getswitch [01] [01] [01] [01]$)");
    for (const QString& line : lines) {
        EXPECT_TRUE(stamped.match(line).hasMatch()) << line.toStdString();
    }
    // With --json, a monitor that ends on a lost line says so in its last line, as a document.
    QProcess json;
    json.setProcessEnvironment(InTimeZone(QStringLiteral("UTC0")));
    json.start(QStringLiteral(LUMITRAX_CLI_PATH), {"--json", "--port", Path(sim), "monitor"});
    ASSERT_TRUE(json.waitForReadyRead(5000));
    sim.Stop();
    ASSERT_TRUE(json.waitForFinished(5000));
    EXPECT_EQ(json.exitCode(), 1);
    const QList<QByteArray> jsonLines = json.readAllStandardOutput().trimmed().split('\n');
    const QJsonObject first = QJsonDocument::fromJson(jsonLines.first()).object();
    EXPECT_TRUE(first.value("line").toString().startsWith("getswitch")) << jsonLines.first().toStdString();
    const QDateTime time = QDateTime::fromString(first.value("time").toString(), Qt::ISODateWithMs);
    EXPECT_TRUE(time.isValid() && first.value("time").toString().endsWith("+00:00")) << jsonLines.first().toStdString();
    const QByteArray last = jsonLines.last();
    EXPECT_EQ(QJsonDocument::fromJson(last).object().value("error").toObject().value("kind").toString(), "port")
        << last.toStdString();
}

// ---- recipes ----

// Channel 3 at 512, channels 1 and 3 on; the simulator's model has 8 channels.
const QByteArray kTopRecipe = "name = \"housing-a12-top\"\nnumber = 12\nbrightness = [100, 0, 512, 0, 0, 0, 0, 800]\n"
                              "on = [1, 3]\n";

TEST(CliSim, RecipeCheckReadsFilesAndFoldersStrictly) {
    QTemporaryDir dir;
    ASSERT_TRUE(WriteFile(dir.filePath("top.toml"), kTopRecipe));
    // The bad value stands on line 3, from column 15.
    ASSERT_TRUE(WriteFile(dir.filePath("bad.toml"), "name = \"bad\"\nnumber = 3\nbrightness = [1100]\n"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("set"));
    ASSERT_TRUE(WriteFile(dir.filePath("set/a.toml"), "name = \"twin\"\nnumber = 1\n"));
    ASSERT_TRUE(WriteFile(dir.filePath("set/b.toml"), "name = \"twin\"\nnumber = 2\n"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("good"));
    ASSERT_TRUE(WriteFile(dir.filePath("good/a.toml"), "name = \"left\"\nnumber = 1\n"));
    ASSERT_TRUE(WriteFile(dir.filePath("good/b.toml"), "name = \"right\"\n"));
    ASSERT_TRUE(WriteFile(dir.filePath("good/notes.txt"), "not a recipe"));
    const struct {
        QStringList paths;
        int exitCode;
        QString out;
        const char* err;  // a pattern stderr matches; empty: stderr is empty
    } cases[] = {
        {{"top.toml"}, 0, "housing-a12-top  number 12  ok\n", ""},
        {{"good"}, 0, "left  number 1  ok\nright  ok\n", ""},
        {{"bad.toml"}, 2, "", R"(bad\.toml:3:15: .*1100)"},
        {{"set"}, 2, "", R"(a\.toml.*b\.toml|b\.toml.*a\.toml)"},
        // A bad one does not hide the good ones after it.
        {{"bad.toml", "top.toml"}, 2, "housing-a12-top  number 12  ok\n", R"(bad\.toml:3:15)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.paths.join(' ').toStdString());
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(LUMITRAX_CLI_PATH), QStringList{"recipe", "check"} + c.paths);
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitCode(), c.exitCode);
        EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()), c.out);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (c.err[0] == '\0') {
            EXPECT_TRUE(err.isEmpty()) << err.toStdString();
        } else {
            EXPECT_TRUE(err.contains(QRegularExpression(QLatin1String(c.err)))) << err.toStdString();
        }
    }
    const Outcome json = Lumitrax({"--json", "recipe", "check", dir.filePath("top.toml"), dir.filePath("set")});
    EXPECT_EQ(json.exitCode, 2);
    const QJsonArray checked = json.Json()["checked"].toArray();
    ASSERT_EQ(checked.size(), 2) << json.out.toStdString();
    EXPECT_EQ(checked[0]["recipes"][0]["name"].toString(), "housing-a12-top");
    EXPECT_EQ(checked[0]["recipes"][0]["number"].toInt(), 12);
    EXPECT_FALSE(checked[1]["ok"].toBool());
    EXPECT_EQ(json.Json()["error"].toObject()["kind"].toString(), "file");
}

TEST(CliSim, RecipeApplyVerifiesAndVerifyFindsAChannelSetBehindItsBack) {
    QTemporaryDir dir;
    const QString recipe = dir.filePath("top.toml");
    ASSERT_TRUE(WriteFile(recipe, kTopRecipe));
    SimProcess sim({});
    ASSERT_FALSE(sim.devicePath().empty());
    const QString p = Path(sim);

    const QString record = dir.filePath("record.jsonl");
    const Outcome apply = Lumitrax({"--port", p, "recipe", "apply", recipe, "--record", record});
    EXPECT_EQ(apply.exitCode, 0) << apply.err.toStdString();
    EXPECT_EQ(apply.out, "verified\n");
    const Outcome verify = Lumitrax({"--port", p, "recipe", "verify", recipe});
    EXPECT_EQ(verify.exitCode, 0) << verify.err.toStdString();
    EXPECT_EQ(verify.out, "verified\n");
    // The light really is the recipe's, as info reads it.
    const QJsonArray channels = Lumitrax({"--json", "--port", p, "info"}).Json()["ports"][0]["state"]["channels"].toArray();
    ASSERT_EQ(channels.size(), 16);
    EXPECT_EQ(channels[2]["brightness"].toInt(), 512);
    EXPECT_EQ(channels[7]["brightness"].toInt(), 800);
    EXPECT_TRUE(channels[0]["on"].toBool() && channels[2]["on"].toBool() && !channels[7]["on"].toBool());

    ASSERT_EQ(Lumitrax({"--port", p, "set", "3", "600"}).exitCode, 0);
    const Outcome differs = Lumitrax({"--port", p, "recipe", "verify", recipe, "--record", record});
    EXPECT_EQ(differs.exitCode, 1);
    EXPECT_EQ(differs.out, "differs\n  brightness 3: wanted 512, found 600\n");
    EXPECT_TRUE(differs.err.contains("differs from recipe housing-a12-top in 1 field(s)")) << differs.err.toStdString();
    const Outcome json = Lumitrax({"--json", "--port", p, "recipe", "verify", recipe});
    EXPECT_EQ(json.exitCode, 1);
    EXPECT_EQ(json.Json()["error"].toObject()["kind"].toString(), "mismatch");
    const QJsonObject report = json.Json()["ports"][0]["recipe"].toObject();
    EXPECT_EQ(report["result"].toString(), "differs");
    EXPECT_EQ(report["differences"].toArray(),
              (QJsonArray{QJsonObject{{"field", "brightness 3"}, {"wanted", "512"}, {"found", "600"}}}));
    EXPECT_TRUE(report["duration_ms"].isDouble());

    // The record: the apply, then the check that found channel 3, each with the file's SHA-256.
    QFile recordFile(record);
    ASSERT_TRUE(recordFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = recordFile.readAll().split('\n');
    ASSERT_EQ(lines.size(), 3);  // two lines, each ended by a line feed
    QFile recipeFile(recipe);
    ASSERT_TRUE(recipeFile.open(QIODevice::ReadOnly));
    const QString sha256 = QString::fromLatin1(QCryptographicHash::hash(recipeFile.readAll(), QCryptographicHash::Sha256).toHex());
    const QJsonObject applied = QJsonDocument::fromJson(lines[0]).object();
    const QJsonObject checked = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_EQ(applied["action"].toString(), "apply");
    EXPECT_EQ(applied["result"].toString(), "verified");
    EXPECT_EQ(checked["action"].toString(), "verify");
    EXPECT_EQ(checked["result"].toString(), "differs");
    EXPECT_EQ(checked["differences"].toArray(), report["differences"].toArray());
    EXPECT_EQ(checked["serial"].toString(), applied["serial"].toString());
    EXPECT_FALSE(applied["serial"].toString().isEmpty());
    EXPECT_EQ(applied["sha256"].toString(), sha256);
    EXPECT_EQ(checked["sha256"].toString(), sha256);

    // Applied again, it is the recipe's once more.
    const Outcome again = Lumitrax({"--json", "--port", p, "recipe", "apply", recipe});
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_EQ(again.Json()["ports"][0]["recipe"]["result"].toString(), "verified");
    EXPECT_FALSE(again.Json()["ports"][0]["recipe"]["steps_written"].toArray().isEmpty());
}

// A recipe that cannot be read, or names a channel the model lacks, writes nothing: exit 2.
TEST(CliSim, RecipesThatCannotBeAppliedWriteNothing) {
    QTemporaryDir dir;
    const QString transcript = dir.filePath("transcript");
    SimProcess sim({"--transcript", transcript.toStdString()});
    ASSERT_FALSE(sim.devicePath().empty());
    const struct {
        QByteArray content;
        const char* kind;
    } cases[] = {
        {"name = \"x\"\ncolour = 3\n", "file"},
        {"name = \"wide\"\non = [1, 12]\n", "argument"},  // the simulator's model has 8 channels
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content.toStdString());
        const QString file = dir.filePath("r.toml");
        ASSERT_TRUE(WriteFile(file, c.content));
        const Outcome o = Lumitrax({"--json", "--port", Path(sim), "recipe", "apply", file});
        EXPECT_EQ(o.exitCode, 2) << o.err.toStdString();
        EXPECT_EQ(o.Json()["error"].toObject()["kind"].toString(), c.kind) << o.out.toStdString();
    }
    sim.Stop();
    const QStringList sent = TranscriptLines(transcript);
    EXPECT_TRUE(std::all_of(sent.begin(), sent.end(), [](const QString& l) { return l.startsWith("get"); }))
        << sent.join('\n').toStdString();
}

TEST(CliSim, RecipeApplyRecordsEachApplyAsAJsonLineWithTheFilesHash) {
    QTemporaryDir dir;
    const QString recipe = dir.filePath("top.toml");
    ASSERT_TRUE(WriteFile(recipe, kTopRecipe));
    const QString sha256 = QString::fromLatin1(QCryptographicHash::hash(kTopRecipe, QCryptographicHash::Sha256).toHex());
    SimProcess sim({});
    ASSERT_FALSE(sim.devicePath().empty());
    const QString record = dir.filePath("applied.jsonl");
    for (int i = 0; i < 2; ++i) {
        const Outcome o = Lumitrax({"--port", Path(sim), "recipe", "apply", recipe, "--record", record});
        ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
    }
    QFile f(record);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    for (const QByteArray& line : lines) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_TRUE(line.contains(sha256.toLatin1())) << line.toStdString();
        EXPECT_TRUE(line.contains("housing-a12-top")) << line.toStdString();
    }

    // A record that cannot be written: the light is set all the same, and the tool says so.
    const Outcome unwritable =
        Lumitrax({"--port", Path(sim), "recipe", "apply", recipe, "--record", dir.filePath("missing/applied.jsonl")});
    EXPECT_EQ(unwritable.exitCode, 2);
    EXPECT_TRUE(unwritable.err.contains("missing/applied.jsonl")) << unwritable.err.toStdString();
}

TEST(CliSim, RecipeCaptureWritesARecipeThatChecksAndVerifies) {
    SimProcess sim({});
    ASSERT_FALSE(sim.devicePath().empty());
    const QString p = Path(sim);
    for (const QStringList& command : {QStringList{"set", "2", "345"}, QStringList{"off", "all"}, QStringList{"on", "2", "7"}}) {
        ASSERT_EQ(Lumitrax(QStringList{"--port", p} + command).exitCode, 0);
    }
    QTemporaryDir dir;
    const QString captured = dir.filePath("captured.toml");
    const Outcome capture = Lumitrax({"--port", p, "recipe", "capture", "--name", "bench-7", captured});
    ASSERT_EQ(capture.exitCode, 0) << capture.err.toStdString();
    EXPECT_TRUE(capture.out.isEmpty()) << capture.out.toStdString();
    const Outcome check = Lumitrax({"recipe", "check", captured});
    EXPECT_EQ(check.exitCode, 0) << check.err.toStdString();
    EXPECT_EQ(check.out, "bench-7  ok\n");
    const Outcome verify = Lumitrax({"--port", p, "recipe", "verify", captured});
    EXPECT_EQ(verify.exitCode, 0) << verify.out.toStdString() << verify.err.toStdString();

    // To standard output, the same text; with --json the fields.
    const Outcome printed = Lumitrax({"--port", p, "recipe", "capture", "--name", "bench-7", "-"});
    QFile f(captured);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(printed.out.toUtf8(), f.readAll());
    const QJsonObject json = Lumitrax({"--json", "--port", p, "recipe", "capture", "--name", "bench-7"}).Json();
    const QJsonObject fields = json["ports"][0]["captured"].toObject();
    EXPECT_EQ(fields["name"].toString(), "bench-7");
    EXPECT_EQ(fields["brightness"][1].toInt(), 345);
    EXPECT_EQ(fields["on"].toArray(), (QJsonArray{2, 7}));
}

}  // namespace
