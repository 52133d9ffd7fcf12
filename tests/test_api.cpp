// The Controller API below the tool: the strict reading of configuration files, and what
// counts as an answer on the wire (a controller played by the test on a pseudo-terminal).
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <lumitrax/controller.h>

#include "file_size_limit.h"
#include "pty_pair.h"

namespace {

using lumitrax::ConfigError;
using lumitrax::ConfigReading;
using lumitrax::ErrorKind;

const std::string kGood = "model LX-1608\nS/N AB-1\nID 7\nchannel 16\npwm_offset 65535\nuse_pwm 1\n"
                          "dac_bandwidth 15 0.5 2.5\n";

TEST(ApiConfiguration, StrictReadingNamesEveryBadLineAndItsProblem) {
    const struct {
        std::string line;
        const char* message;
    } cases[] = {
        {"hello world", "unknown line"},
        {"ID", "ID takes one number"},
        {"ID 3 4", "ID takes one number"},
        {"pwm_offset abc", "\"abc\" is not a whole number"},
        {"pwm_offset 1.5", "\"1.5\" is not a whole number"},
        {"pwm_offset 65536", "pwm_offset 65536 is not 0..65535"},
        {"channel 3", "channel 3 is not 4..16"},
        {"ID 256", "ID 256 is not 0..255"},
        {"use_debug 2", "use_debug takes 0 or 1"},
        {"S/N ABCDEFGHIJKLMNOP", "longer than the controller keeps (15 bytes)"},
        {"model a b", "model takes one word"},
        {"dac_bandwidth 16 0 1", "row \"16\" is not 0..15"},
        {"dac_bandwidth 2 0,5 1", "\"0,5\" is not a finite number"},
        {"dac_bandwidth 2 nan 1", "\"nan\" is not a finite number"},
        {"dac_bandwidth 2 1 1", "low 1.000000 is not below high 1.000000"},
        {"dac_bandwidth 2 1e-7 2e-7", "low 0.000000 is not below high 0.000000"},
        {"dac_bandwidth 2 0 1e30", "too long for the link"},
        {"ID 8", "given twice (first on line 3)"},
        {"dac_bandwidth 015 0.1 1", "given twice (first on line 7)"},  // the same row as 15
        {"S/N", "the serial number is empty"},
        {std::string("ID 7\0", 5), "NUL byte"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        try {
            lumitrax::parseConfiguration(kGood + c.line + "\n", "rig.ini");
            ADD_FAILURE() << "accepted";
        } catch (const ConfigError& e) {
            EXPECT_EQ(e.kind(), ErrorKind::File);
            ASSERT_EQ(e.problems().size(), 1u);
            EXPECT_EQ(e.problems()[0].line, 8);
            EXPECT_NE(e.problems()[0].message.find(c.message), std::string::npos) << e.problems()[0].message;
            EXPECT_NE(std::string(e.what()).find("rig.ini:8: "), std::string::npos) << e.what();
        }
    }
}

TEST(ApiConfiguration, AHugeBadLineIsNamedByItsEndsNotPrintedWhole) {
    try {
        lumitrax::parseConfiguration("pwm_offset " + std::string(1 << 20, '7') + "x\n", "rig.ini");
        ADD_FAILURE() << "accepted";
    } catch (const ConfigError& e) {
        const std::string what = e.what();
        EXPECT_LT(what.size(), 1000u);
        EXPECT_NE(what.find("7x\" is not a whole number"), std::string::npos) << what;
        EXPECT_EQ(e.problems().at(0).text.size(), (1u << 20) + 12);  // the problem itself keeps the line
    }
}

TEST(ApiConfiguration, ReadsWhatTheFileGivesAndLenientReadingSkipsWhatItDoesNotKnow) {
    const lumitrax::Configuration c = lumitrax::parseConfiguration(kGood + "\r\n   \n", "rig.ini");
    EXPECT_EQ(c.model, "LX-1608");
    EXPECT_EQ(c.serialNumber, "AB-1");
    EXPECT_EQ(c.offset, 65535);
    EXPECT_EQ(c.usePwm, true);
    EXPECT_FALSE(c.usePacket.has_value());
    EXPECT_FALSE(c.dac[0].has_value());
    ASSERT_TRUE(c.dac[15].has_value());
    EXPECT_EQ(c.dac[15]->channel, 16);
    EXPECT_FLOAT_EQ(c.dac[15]->high, 2.5f);

    std::vector<lumitrax::ConfigProblem> warnings;
    const lumitrax::Configuration lenient =
        lumitrax::parseConfiguration("hello world\npwm_offset abc\n", "old.ini", ConfigReading::Lenient, &warnings);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].line, 1);
    EXPECT_EQ(lenient.offset, 0);  // as the panel reads it
    EXPECT_THROW(lumitrax::parseConfiguration("dac_bandwidth 1 2 1\n", "old.ini", ConfigReading::Lenient),
                 ConfigError);
}

lumitrax::Configuration Complete(const std::string& serial = "AB-1") {
    std::string text = "model LX-1608\nID 7\nchannel 16\npwm_offset 1\nuse_pwm 1\nuse_packet 0\nuse_debug 0\n";
    for (int row = 0; row < 16; ++row) {
        text += "dac_bandwidth " + std::to_string(row) + " 0.5 2.5\n";
    }
    lumitrax::Configuration c = lumitrax::parseConfiguration(text, "rig.ini");
    c.serialNumber = serial;
    return c;
}

// The kind of Error a call throws; none when it returns.
std::optional<ErrorKind> Thrown(const std::function<void()>& call) {
    try {
        call();
    } catch (const lumitrax::Error& e) {
        return e.kind();
    }
    return std::nullopt;
}

// A write that cannot be whole (a full disk), and names that a NUL byte would cut to "<dir>/rig",
// leave nothing on disk; a search on such a name once crashed in Qt's lock file.
TEST(ApiConfiguration, NothingIsWrittenWhereTheFileWouldBeCutOrMisnamed) {
    char dir[] = "/tmp/lumitrax-api-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/rig";
    const std::string nul = path + std::string(1, '\0') + ".ini";
    const lumitrax::Configuration c = Complete();
    EXPECT_EQ(Thrown([&] {
                  FileSizeLimit full(16);
                  lumitrax::writeConfigurationFile(path, c);
              }),
              ErrorKind::File);
    EXPECT_EQ(Thrown([&] { lumitrax::writeConfigurationFile(nul, c); }), ErrorKind::File);
    EXPECT_EQ(Thrown([&] { lumitrax::readConfigurationFile(nul); }), ErrorKind::File);
    EXPECT_EQ(Thrown([&] { lumitrax::Controller controller{nul}; }), ErrorKind::Port);
    EXPECT_FALSE(lumitrax::search({nul}, 100).at(0).found);

    EXPECT_FALSE(std::filesystem::exists(path));
    lumitrax::writeConfigurationFile(path, c);
    EXPECT_EQ(lumitrax::readConfigurationFile(path).dac[15]->high, 2.5f);
    std::filesystem::remove_all(dir);
}

TEST(ApiSearch, MorePortsThanAreProbedAtATimeAreEachProbedOnceInTheirPlace) {
    std::vector<std::string> missing;
    for (int i = 0; i < 70; ++i) {
        missing.push_back("/nonexistent/tty" + std::to_string(i));
    }
    const std::vector<lumitrax::SearchResult> results = lumitrax::search(missing, 100);
    ASSERT_EQ(results.size(), missing.size());
    for (std::size_t i = 0; i < missing.size(); ++i) {
        EXPECT_EQ(results[i].target, missing[i]);
        EXPECT_EQ(results[i].problem.rfind(missing[i] + ":", 0), 0u) << results[i].problem;
    }
    // Stopped before it began, a search opens nothing.
    const std::atomic<bool> stop{true};
    const std::vector<lumitrax::SearchResult> stopped = lumitrax::search(missing, 100, stop);
    ASSERT_EQ(stopped.size(), missing.size());
    EXPECT_EQ(stopped[69].problem, missing[69] + ": interrupted before a controller answered");
}

// A controller that answers every command line in one way: with the lines answer returns, or
// by writing to its end of the line, in as many pieces and after as many pauses as it likes.
// It takes the next command when it is done with one, as a controller does.
class PlayedController {
public:
    explicit PlayedController(std::function<void(const std::string& command, PtyPair& line)> answer)
        : answer_(std::move(answer)) {
        thread_ = std::thread([this] {
            std::string pending;
            while (!stop_.load()) {
                pending += pty_.ReadAll(20);
                for (std::size_t cr; (cr = pending.find('\r')) != std::string::npos;) {
                    const std::string command = pending.substr(0, cr);
                    pending.erase(0, cr + 1);
                    answer_(command, pty_);
                }
            }
        });
    }
    explicit PlayedController(std::function<std::string(const std::string& command)> answer)
        : PlayedController([answer = std::move(answer)](const std::string& c, PtyPair& line) {
              const std::string reply = answer(c);
              if (!reply.empty()) {
                  line.Write(reply);
              }
          }) {}
    ~PlayedController() {
        stop_.store(true);
        thread_.join();
    }
    const std::string& path() const { return pty_.path(); }

private:
    PtyPair pty_;
    std::function<void(const std::string&, PtyPair&)> answer_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A setting's line may be echoed, so a setting is followed by one query ("getoffset") that only
// an answer satisfies; answered here whole, the setting's own line is on trial.
std::string OrOffset(const std::string& command, const std::string& reply) {
    if (command == "getmodelch") {  // asked once per connection before a channel is set
        return "getmodelch 16\r\n";
    }
    return command == "getoffset" ? std::string("getoffset 17\r\n") : reply;
}

// A query's echo holds its word but not its number. What is left of a line that lost bytes on
// the way (the tail of one longer than the receiver takes, the text before a NUL) is noise,
// however much it looks like the answer (the echo that answers a setting).
TEST(ApiWire, OnlyACompleteAnswerCounts) {
    const struct {
        const char* name;
        std::string (*answer)(const std::string&);
        bool query;  // state(), else setBrightness()
        std::optional<ErrorKind> expected;
    } cases[] = {
        {"echo only", [](const std::string& c) { return c + "\r\n"; }, true, ErrorKind::NoAnswer},
        {"silence", [](const std::string&) { return std::string(); }, true, ErrorKind::NoAnswer},
        {"refusal", [](const std::string&) { return std::string("error unknown command\r\n"); }, true,
         ErrorKind::Refused},
        {"whole echo", [](const std::string& c) { return OrOffset(c, c + "\r\n"); }, false, std::nullopt},
        {"tail of an over-long line",
         [](const std::string& c) { return OrOffset(c, std::string(1001, '#') + c + "\r\n"); }, false,
         ErrorKind::NoAnswer},
        {"cut by a NUL", [](const std::string& c) { return OrOffset(c, c + std::string("\0 x", 3) + "\r\n"); }, false,
         ErrorKind::NoAnswer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PlayedController controller(c.answer);
        lumitrax::Controller lx(controller.path(), 300);
        EXPECT_EQ(Thrown([&] { c.query ? (void)lx.state() : lx.setBrightness(3, 512); }), c.expected);
    }
}

// A call that timed out leaves its answer on the way; it must not pass for the next call's,
// which the controller refuses (after a moment) and a third call then finds in order.
TEST(ApiWire, ALateAnswerDoesNotPassForTheNextCallsAnswer) {
    PlayedController controller([settings = std::make_shared<std::atomic<int>>(0)](const std::string& c) {
        if (c.rfind("# ", 0) == 0 && (*settings)++ == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(750));  // the timeout and a half
            return c + "\r\n";
        }
        if (c == "# 2 700") {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return std::string("error value\r\n");
        }
        return c + (c == "getmodelch" ? " 16\r\n" : " 17\r\n");
    });
    lumitrax::Controller lx(controller.path(), 500);
    EXPECT_EQ(Thrown([&] { lx.setBrightness(3, 512); }), ErrorKind::NoAnswer);
    EXPECT_EQ(Thrown([&] { lx.setBrightness(3, 700); }), ErrorKind::Refused);
    EXPECT_EQ(Thrown([&] { lx.setBrightness(3, 100); }), std::nullopt);
}

// A controller may refuse a setting well after echoing its line; the refusal is the outcome
// however late it comes, whether or not the controller echoes, and whether or not the call
// knows yet that it does (the first call; the third, after a call that showed it). The
// controller holds its answer to "# 2 ..." for the row's time or until the call has returned,
// so that a call which ended on the echo alone fails here on any machine, however slow, and
// one that waits for the answer cannot see it come too early.
TEST(ApiWire, ARefusalAfterTheEchoIsARefusalHoweverLate) {
    const struct {
        bool echo;
        int afterMs;  // from the echo to the answer
        bool refuse;
    } rows[] = {
        {true, 5, true},  {true, 20, true},  {true, 50, true},  {true, 50, false},
        {false, 5, true}, {false, 20, true}, {false, 50, true}, {false, 50, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.echo ? "echo on, " : "echo off, ") + (r.refuse ? "refused " : "acknowledged ") +
                     std::to_string(r.afterMs) + " ms after the echo");
        std::atomic<int> returned{0};
        PlayedController controller([&](const std::string& c, PtyPair& line) {
            const std::string echo = r.echo ? c + "\r\n" : "";
            if (c.rfind("# 2 ", 0) != 0) {
                line.Write(echo + (c.rfind("# ", 0) == 0 ? c + "\r\n" : c + (c == "getmodelch" ? " 16\r\n" : " 17\r\n")));
                return;
            }
            const int before = returned.load();
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(r.afterMs);
            if (r.echo) {
                line.Write(echo);
            }
            while (returned.load() == before && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            line.Write(r.refuse ? "error bad arguments #\r\n" : c + "\r\n");
        });
        lumitrax::Controller lx(controller.path(), 5000);
        const std::optional<ErrorKind> expected = r.refuse ? std::optional(ErrorKind::Refused) : std::nullopt;
        for (const int channel : {3, 1, 3}) {
            SCOPED_TRACE("channel " + std::to_string(channel));
            EXPECT_EQ(Thrown([&] { lx.setBrightness(channel, 512); }), channel == 3 ? expected : std::nullopt);
            ++returned;
        }
    }
}

// Raw text may switch the echo off (or a reboot on): a call after it does not wait for an echo
// the controller no longer sends.
TEST(ApiWire, AnEchoSwitchedOffByRawTextIsNotWaitedFor) {
    std::atomic<bool> echo{true};
    PlayedController controller([&echo](const std::string& c, PtyPair& line) {
        line.Write((echo.load() ? c + "\r\n" : "") + (c.rfind("get", 0) == 0 ? c + " 17\r\n" : c + "\r\n"));
        echo.store(echo.load() && c != "echo 0");
    });
    lumitrax::Controller lx(controller.path(), 1000);
    lx.setBrightness(1, 512);
    lx.setBrightness(2, 512);  // knowing that the controller echoes
    EXPECT_EQ(lx.raw("echo 0"), (std::vector<std::string>{"echo 0", "echo 0"}));
    EXPECT_EQ(Thrown([&] { lx.setBrightness(3, 512); }), std::nullopt);
}

TEST(ApiWire, ArgumentsAreCheckedBeforeAnythingIsSent) {
    PlayedController controller([](const std::string& c) { return c + " 1\r\n"; });
    lumitrax::Controller lx(controller.path(), 300);
    const std::function<void()> calls[] = {
        [&] { lx.setBrightness(0, 1); },      [&] { lx.setBrightness(17, 1); },
        [&] { lx.setBrightness(1, 1025); },   [&] { lx.switchChannels({}, true); },
        [&] { lx.saveBrightMemory(10); },     [&] { lx.setTrigger({1, true, lumitrax::Edge::Positive, 4001, 1, 0}); },
        [&] { lx.raw(std::string(63, 'a')); }, [&] { lx.raw("a\rb"); },
        // A NUL would cut the text sent ("setsn AB"); a line break would add a line to a file.
        [&] { lx.raw(std::string("getsn\0x", 7)); },
        [&] { lx.applyConfiguration(Complete(std::string("AB\0CD", 5))); },
        [&] { lumitrax::formatConfiguration(Complete("AB\nID 5")); },
    };
    for (const auto& call : calls) {
        EXPECT_EQ(Thrown(call), ErrorKind::Argument);
    }
    EXPECT_THROW(lumitrax::Controller("/nonexistent/tty", 300), lumitrax::Error);
}

// A call back into the Controller from its own traffic handler (on the calling thread and on
// the receive thread) once waited forever for itself.
TEST(ApiWire, ACallBackFromInsideItsOwnCallFailsInsteadOfWaitingForItself) {
    PlayedController controller([](const std::string& c) { return c + " 1\r\n"; });
    lumitrax::Controller lx(controller.path(), 200);
    std::mutex mutex;
    std::vector<std::optional<ErrorKind>> inner;
    lx.setTrafficHandler([&](lumitrax::Direction, const std::string&) {
        const auto raw = Thrown([&] { lx.raw("getsn"); });
        const auto handler = Thrown([&] { lx.setTrafficHandler(nullptr); });
        std::lock_guard lock(mutex);
        inner.insert(inner.end(), {raw, handler});
    });
    EXPECT_EQ(lx.raw("getsn"), std::vector<std::string>{"getsn 1"});
    lx.setTrafficHandler(nullptr);
    std::lock_guard lock(mutex);
    EXPECT_GE(inner.size(), 4U);  // the command sent and its answer
    EXPECT_EQ(std::count(inner.begin(), inner.end(), ErrorKind::Argument), static_cast<long>(inner.size()));
}

}  // namespace
