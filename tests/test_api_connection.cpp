// The Controller API on a production line, end to end: every checked range at both ends
// against lumitrax-sim, a line that drops and returns (a pseudo-terminal link re-pointed, a
// device server restarted), calls in flight and while down, and several threads on one
// Controller with a subscriber beside them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <lumitrax/controller.h>

#include "pty_pair.h"
#include "ser2net_process.h"
#include "sim_process.h"
#include "temp_files.h"

namespace {

using lumitrax::ConnectionState;
using lumitrax::ErrorKind;
using Clock = std::chrono::steady_clock;

constexpr int kWaitMs = 20000;  // a deadline for what must happen, not a measurement

std::optional<ErrorKind> Thrown(const std::function<void()>& f) {
    try {
        f();
    } catch (const lumitrax::Error& e) {
        return e.kind();
    }
    return std::nullopt;
}

// The connection states a Controller announced, in order.
class StateLog {
public:
    explicit StateLog(lumitrax::Controller& c)
        : sub_(c.onConnectionChange([this](ConnectionState s) {
              std::lock_guard lock(mutex_);
              states_.push_back(s);
              cv_.notify_all();
          })) {}
    // Waits until the newest state is s.
    bool WaitFor(ConnectionState s) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                            [&] { return !states_.empty() && states_.back() == s; });
    }
    std::vector<ConnectionState> States() {
        std::lock_guard lock(mutex_);
        return states_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<ConnectionState> states_;
    lumitrax::Subscription sub_;
};

// Every range the API checks, at both ends, in and out, against the simulator's 16-channel
// model: a value inside is carried out, one outside is Error(Argument) with nothing sent.
TEST(ApiRanges, EveryCheckedValueAtBothEnds) {
    TempDir dir;
    SimProcess sim({"--channels", "16", "--transcript", dir / "t"});
    ASSERT_FALSE(sim.devicePath().empty());
    lumitrax::Controller lx(sim.devicePath());
    const auto row = [](int r, int delay, int on) { return lumitrax::TriggerRow{r, true, lumitrax::Edge::Positive, delay, on, 0}; };
    const auto config = [](int channels, int id) {
        lumitrax::Configuration c;
        c.channels = channels;
        c.moduleId = id;
        return c;
    };
    const struct {
        const char* name;
        std::function<void()> call;
        bool inside;
    } cases[] = {
        {"channel 1", [&] { lx.setBrightness(1, 5); }, true},
        {"channel 16", [&] { lx.setBrightness(16, 5); }, true},
        {"channel 0", [&] { lx.setBrightness(0, 5); }, false},
        {"channel 17", [&] { lx.setBrightness(17, 5); }, false},
        {"brightness 0", [&] { lx.setBrightness(2, 0); }, true},
        {"brightness 1024", [&] { lx.setBrightness(2, 1024); }, true},
        {"brightness -1", [&] { lx.setBrightness(2, -1); }, false},
        {"brightness 1025", [&] { lx.setBrightness(2, 1025); }, false},
        {"all brightness 1024", [&] { lx.setAllBrightness(1024); }, true},
        {"all brightness 1025", [&] { lx.setAllBrightness(1025); }, false},
        {"packet 1024", [&] { lx.setBrightnessPacket({1024}); }, true},
        {"packet -1", [&] { lx.setBrightnessPacket({0, -1}); }, false},
        {"switch channel 16", [&] { lx.switchChannels({16}, true); }, true},
        {"switch channel 17", [&] { lx.switchChannels({1, 17}, true); }, false},
        {"switch channel 0", [&] { lx.switchChannels({0}, true); }, false},
        {"on mask ffff", [&] { lx.setOnMask(0xFFFF); }, true},
        {"memory 0", [&] { lx.saveBrightMemory(0); }, true},
        {"memory 9", [&] { lx.loadTriggerMemory(9); }, true},
        {"memory -1", [&] { lx.saveBrightMemory(-1); }, false},
        {"memory 10", [&] { lx.loadBrightMemory(10); }, false},
        {"trigger row 1, 1 us", [&] { lx.setTrigger(row(1, 1, 1)); }, true},
        {"trigger row 4, 4000 us", [&] { lx.setTrigger(row(4, 4000, 4000)); }, true},
        {"trigger row 0", [&] { lx.setTrigger(row(0, 1, 1)); }, false},
        {"trigger row 5", [&] { lx.setTrigger(row(5, 1, 1)); }, false},
        {"trigger delay 0", [&] { lx.setTrigger(row(1, 0, 1)); }, false},
        {"trigger delay 4001", [&] { lx.setTrigger(row(1, 4001, 1)); }, false},
        {"trigger on 0", [&] { lx.setTrigger(row(1, 1, 0)); }, false},
        {"trigger on 4001", [&] { lx.setTrigger(row(1, 1, 4001)); }, false},
        {"timeout 1", [&] { lx.setTimeout(1); lx.setTimeout(1000); }, true},
        {"timeout 600000", [&] { lx.setTimeout(600000); lx.setTimeout(1000); }, true},
        {"timeout 0", [&] { lx.setTimeout(0); }, false},
        {"timeout 600001", [&] { lx.setTimeout(600001); }, false},
        {"configuration channel 16, ID 255", [&] { lx.verifyConfiguration(config(16, 255)); }, true},
        {"configuration channel 17", [&] { lx.verifyConfiguration(config(17, 1)); }, false},
        {"configuration ID 256", [&] { lx.verifyConfiguration(config(16, 256)); }, false},
        {"configuration ID -1", [&] { lx.applyConfiguration(config(16, -1)); }, false},
        {"configuration channel 0", [&] { lx.applyConfiguration(config(0, 1)); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = Lines(dir / "t").size();
        EXPECT_EQ(Thrown(c.call), c.inside ? std::nullopt : std::optional(ErrorKind::Argument));
        if (!c.inside) {
            // The transcript is written as commands arrive; one sent would be there by the next
            // answer, so ask for one before looking.
            lx.errorStatus();
            const std::vector<std::string> lines = Lines(dir / "t");
            ASSERT_EQ(lines.size(), before + 1);
            EXPECT_EQ(lines.back(), "geterrstatus");
        }
    }
    const auto options = [](int timeout, int connect, int heartbeat) {
        lumitrax::Options o;
        o.timeoutMs = timeout;
        o.connectTimeoutMs = connect;
        o.heartbeatMs = heartbeat;
        return o;
    };
    const struct {
        const char* name;
        lumitrax::Options options;
        bool inside;
    } opening[] = {
        {"heartbeat 100", options(1000, 3000, 100), true},      {"heartbeat 600000", options(1000, 3000, 600000), true},
        {"heartbeat 99", options(1000, 3000, 99), false},       {"heartbeat 600001", options(1000, 3000, 600001), false},
        {"connect timeout 1", options(1000, 1, 0), true},       {"connect timeout 0", options(1000, 0, 0), false},
        {"connect timeout 600001", options(1000, 600001, 0), false}, {"timeout 0", options(0, 3000, 0), false},
    };
    lx.close();  // the port is free for the Controllers below
    for (const auto& o : opening) {
        SCOPED_TRACE(o.name);
        EXPECT_EQ(Thrown([&] { lumitrax::Controller other(sim.devicePath(), o.options); }),
                  o.inside ? std::nullopt : std::optional(ErrorKind::Argument));
    }
}

// An 8-channel model: channel 9 is refused before anything is written, by every call that
// names a channel; the count is asked once.
TEST(ApiRanges, AChannelAboveTheModelsCountIsRefusedBeforeAnythingIsWritten) {
    TempDir dir;
    SimProcess sim({"--channels", "8", "--transcript", dir / "t"});
    ASSERT_FALSE(sim.devicePath().empty());
    lumitrax::Controller lx(sim.devicePath());
    EXPECT_EQ(Thrown([&] { lx.setBrightness(9, 1); }), ErrorKind::Argument);
    EXPECT_EQ(Thrown([&] { lx.switchChannels({1, 9}, true); }), ErrorKind::Argument);
    EXPECT_EQ(Thrown([&] { lx.setOnMask(0x01FF); }), ErrorKind::Argument);
    EXPECT_EQ(lx.channelCount(), 8);
    lx.setBrightness(8, 1);
    lx.setOnMask(0x00FF);
    EXPECT_EQ(lx.currentBrightness().onMask, 0x00FF);
    EXPECT_EQ(Lines(dir / "t"), (std::vector<std::string>{"getmodelch", "# 7 1", "setonex 000000ff", "getbrightindex",
                                                           "$ 255", "getonex"}));
    // A configuration write that changes the count is not answered from the count asked before.
    lumitrax::Configuration twelve;
    twelve.channels = 12;
    lx.applyConfiguration(twelve);
    EXPECT_EQ(lx.channelCount(), 12);
    EXPECT_EQ(Thrown([&] { lx.setBrightness(12, 1); }), std::nullopt);
}

// A list of values goes out as one packet only where the controller takes packets and every
// channel of the model is given; otherwise one "#" each, and channels beyond the list untouched.
TEST(ApiCalls, BrightnessListIsOnePacketOnlyWhereTheControllerTakesIt) {
    const std::string packet8 =
        "fe fe 1b 00 20 00 01 00 02 00 03 00 04 00 05 00 06 00 07 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 fd";
    const struct {
        const char* name;
        const char* packetMode;
        std::vector<int> values;
        std::vector<std::string> sent;  // after "getmodelch"; "getoffset" closes what an echo could acknowledge
    } cases[] = {
        {"packet mode, every channel", "1", {1, 2, 3, 4, 5, 6, 7, 1024}, {"getusepacket", packet8}},
        {"packet mode, some channels", "1", {1, 2}, {"getusepacket", "# 0 1", "# 1 2", "getoffset"}},
        {"no packet mode", "0", {1, 2, 3, 4, 5, 6, 7, 1024},
         {"getusepacket", "# 0 1", "# 1 2", "# 2 3", "# 3 4", "# 4 5", "# 5 6", "# 6 7", "# 7 1024", "getoffset"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        SimProcess sim({"--channels", "8", "--packet", c.packetMode, "--echo", "0", "--transcript", dir / "t"});
        ASSERT_FALSE(sim.devicePath().empty());
        lumitrax::Controller lx(sim.devicePath());
        lx.setBrightnessList(c.values);
        std::vector<std::string> expected{"getmodelch"};
        expected.insert(expected.end(), c.sent.begin(), c.sent.end());
        EXPECT_EQ(Lines(dir / "t"), expected);
        EXPECT_EQ(lx.currentBrightness().channels[c.values.size() - 1].brightness, c.values.back());
    }
    TempDir dir;
    SimProcess sim({"--channels", "8", "--transcript", dir / "t"});
    ASSERT_FALSE(sim.devicePath().empty());
    lumitrax::Controller lx(sim.devicePath());
    for (const std::vector<int>& bad : {std::vector<int>{}, std::vector<int>{1, 1025}, std::vector<int>(9, 1)}) {
        EXPECT_EQ(Thrown([&] { lx.setBrightnessList(bad); }), ErrorKind::Argument);
    }
    EXPECT_EQ(Lines(dir / "t"), std::vector<std::string>{"getmodelch"});
}

// The single questions and the remaining commands, read back from the simulator.
TEST(ApiCalls, SingleQuestionsAndTheRemainingCommands) {
    TempDir dir;
    SimProcess sim({"--inputs", "2", "--error", "3,160", "--transcript", dir / "t"});
    ASSERT_FALSE(sim.devicePath().empty());
    lumitrax::Controller lx(sim.devicePath());
    const lumitrax::Brightness factory = lx.currentBrightness();
    EXPECT_EQ(lx.errorStatus(), (lumitrax::ErrorStatus{3, 160}));
    EXPECT_EQ(lx.portStatus(), (lumitrax::PortStatus{false, true, false, false}));
    lx.setOutputs(true, false);
    EXPECT_EQ(lx.portStatus(), (lumitrax::PortStatus{false, true, true, false}));
    lx.setOutputs(false, true);
    EXPECT_EQ(lx.portStatus(), (lumitrax::PortStatus{false, true, false, true}));
    lx.setBrightness(3, 700);
    lx.setOnMask(0x0005);
    const lumitrax::Brightness b = lx.currentBrightness();
    EXPECT_EQ(b.channels[2].brightness, 700);
    EXPECT_EQ(b.onMask, 0x0005);
    EXPECT_TRUE(b.channels[0].on && !b.channels[1].on && b.channels[2].on);
    lx.setErrorIgnore(true);
    lx.setBuzzer(true);
    lx.setBuzzer(false);
    lx.factoryReset();
    const lumitrax::Brightness reset = lx.currentBrightness();
    EXPECT_EQ(reset.channels[2].brightness, factory.channels[2].brightness);
    EXPECT_EQ(reset.onMask, factory.onMask);
    EXPECT_NE(factory.channels[2].brightness, 700);
    const std::vector<std::string> sent = Lines(dir / "t");
    for (const char* command : {"setoutportall 1", "setoutportall 2", "seterrignore 1", "setbuzzer 1", "setbuzzer 0",
                                "factoryreset"}) {
        EXPECT_NE(std::find(sent.begin(), sent.end(), command), sent.end()) << command;
    }
}

// A pseudo-terminal behind a symbolic link that vanishes and returns on another pty, as a
// /dev/serial/by-id/ link does when an adapter is re-plugged.
TEST(ApiConnection, ALinkThatVanishesAndReturnsIsReconnected) {
    TempDir dir;
    const std::string link = dir / "ttyLX";
    auto sim = std::make_unique<SimProcess>(std::vector<std::string>{"--link", link});
    ASSERT_FALSE(sim->devicePath().empty());
    lumitrax::Controller lx(link);
    StateLog log(lx);
    lx.setBrightness(1, 100);
    EXPECT_TRUE(lx.isConnected());

    sim->Stop();
    ASSERT_TRUE(log.WaitFor(ConnectionState::Reconnecting));
    EXPECT_FALSE(lx.isConnected());
    // A call while down fails at once, saying so.
    try {
        lx.setBrightness(1, 200);
        ADD_FAILURE() << "a call while down succeeded";
    } catch (const lumitrax::Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Port);
        EXPECT_NE(std::string(e.what()).find("connection lost, reconnecting"), std::string::npos) << e.what();
    }

    sim = std::make_unique<SimProcess>(
        std::vector<std::string>{"--link", link, "--serial", "SECOND", "--transcript", dir / "second"});
    ASSERT_TRUE(log.WaitFor(ConnectionState::Connected));
    EXPECT_EQ(lx.identity().serialNumber, "SECOND");
    // Nothing was sent on its own: the controller heard only the identity call's queries.
    const std::vector<std::string> heard = Lines(dir / "second");
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.front(), "getmoduleinfo");
    for (const std::string& line : heard) {
        EXPECT_EQ(line.rfind("get", 0), 0U) << line;
    }
    EXPECT_EQ(log.States(), (std::vector<ConnectionState>{ConnectionState::Reconnecting, ConnectionState::Connected}));
}

// A device server stopped and started again under an rfc2217:// target.
TEST(ApiConnection, ADeviceServerThatRestartsIsReconnected) {
    if (Ser2netProcess::Program().isEmpty()) {
        GTEST_SKIP() << "ser2net is not installed (scripts/setup installs it)";
    }
    SimProcess sim({});
    ASSERT_FALSE(sim.devicePath().empty());
    auto server = std::make_unique<Ser2netChild>(sim.devicePath(), true);
    ASSERT_TRUE(server->ok());
    const quint16 port = server->Port();
    lumitrax::Controller lx(server->Url());
    StateLog log(lx);
    lx.setBrightness(2, 300);

    server.reset();
    ASSERT_TRUE(log.WaitFor(ConnectionState::Reconnecting));
    EXPECT_EQ(Thrown([&] { lx.portStatus(); }), ErrorKind::Port);
    server = std::make_unique<Ser2netChild>(sim.devicePath(), true, port);
    ASSERT_TRUE(server->ok());
    ASSERT_TRUE(log.WaitFor(ConnectionState::Connected));
    EXPECT_EQ(lx.currentBrightness().channels[1].brightness, 300);  // the controller kept it
}

// A controller played by the test: answers every command with its echo, but hangs up (as a
// pulled adapter) when it receives hangupOn, or stops answering (the line stays) after it.
class DroppingController {
public:
    enum class Then { HangUp, FallSilent };
    DroppingController(std::string trigger, Then then) : trigger_(std::move(trigger)), then_(then) {
        thread_ = std::thread([this] {
            std::string pending;
            bool silent = false;
            while (!stop_.load()) {
                pending += pty_.ReadAll(20);
                for (std::size_t cr; (cr = pending.find('\r')) != std::string::npos;) {
                    const std::string command = pending.substr(0, cr);
                    pending.erase(0, cr + 1);
                    if (command == trigger_ && then_ == Then::HangUp) {
                        pty_.Hangup();
                        return;
                    }
                    silent = silent || command == trigger_;
                    if (!silent) {
                        pty_.Write(command + (command.rfind("get", 0) == 0 ? " 1" : "") + "\r\n");
                    }
                }
            }
        });
    }
    ~DroppingController() {
        stop_.store(true);
        thread_.join();
    }
    const std::string& path() const { return pty_.path(); }

private:
    PtyPair pty_;
    std::string trigger_;
    Then then_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A call in flight when the line drops fails as a lost connection, not at the end of its
// (here long) timeout, and names the commands that went out; without reconnection the
// Controller stays Lost until reconnect().
TEST(ApiConnection, ACallInFlightWhenTheLineDropsFailsAndNamesWhatWentOut) {
    DroppingController controller("# 3 400", DroppingController::Then::HangUp);
    lumitrax::Options options;
    options.timeoutMs = 600000;
    options.reconnect = false;
    lumitrax::Controller lx(controller.path(), options);
    StateLog log(lx);
    try {
        lx.setAllBrightness(400);
        ADD_FAILURE() << "the call succeeded";
    } catch (const lumitrax::Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Port) << e.what();
        // Commands were sent 10 ms apart: some after the hang-up may have gone out too.
        ASSERT_GE(e.stepsWritten().size(), 4U) << e.what();
        EXPECT_EQ(e.stepsWritten()[3], "# 3 400");
        EXPECT_EQ(e.stepsWritten().size() + e.stepsNotWritten().size(), 16U);
    }
    ASSERT_TRUE(log.WaitFor(ConnectionState::Lost));
    EXPECT_EQ(Thrown([&] { lx.reconnect(); }), ErrorKind::Port);  // the pty is gone
    EXPECT_EQ(lx.connectionState(), ConnectionState::Lost);
    lx.close();
    EXPECT_EQ(lx.connectionState(), ConnectionState::Closed);
    EXPECT_EQ(Thrown([&] { lx.errorStatus(); }), ErrorKind::Port);
}

// With a heartbeat, a controller that stops answering while the line stays up is noticed
// while nobody calls.
TEST(ApiConnection, AHeartbeatNoticesAControllerThatFellSilent) {
    DroppingController controller("# 0 1", DroppingController::Then::FallSilent);
    lumitrax::Options options;
    options.timeoutMs = 200;
    options.heartbeatMs = 100;
    options.reconnect = false;
    lumitrax::Controller lx(controller.path(), options);
    StateLog log(lx);
    EXPECT_EQ(Thrown([&] { lx.setBrightness(1, 1); }), ErrorKind::NoAnswer);
    ASSERT_TRUE(log.WaitFor(ConnectionState::Lost));
    EXPECT_EQ(Thrown([&] { lx.errorStatus(); }), ErrorKind::Port);
}

// Two threads call, each on its own channel, reading back what it set; a third thread
// watches the traffic. Every answer belongs to its call: a crossed answer would show another
// thread's value.
TEST(ApiThreads, TwoCallersAndASubscriberShareOneController) {
    SimProcess sim({"--channels", "16"});
    ASSERT_FALSE(sim.devicePath().empty());
    lumitrax::Controller lx(sim.devicePath());
    std::atomic<int> seen{0};
    lumitrax::Subscription watch = lx.subscribe([&](const std::string& line) {
        if (line.rfind("# ", 0) == 0) {
            seen.fetch_add(1);
        }
    });
    constexpr int kRounds = 15;
    std::atomic<int> mismatches{0};
    const auto caller = [&](int channel) {
        for (int i = 0; i < kRounds; ++i) {
            const int value = channel * 100 + i;
            lx.setBrightness(channel, value);
            if (lx.currentBrightness().channels[static_cast<std::size_t>(channel - 1)].brightness != value) {
                mismatches.fetch_add(1);
            }
        }
    };
    std::thread a(caller, 1);
    std::thread b(caller, 2);
    // monitor() runs beside them, and may itself call.
    std::atomic<int> monitored{0};
    std::optional<ErrorKind> inner;
    std::thread m([&] {
        lx.monitor([&](const std::string&) {
            if (++monitored == 3) {
                inner = Thrown([&] { lx.errorStatus(); });
            }
            return monitored < 20;
        });
    });
    a.join();
    b.join();
    // However late the monitor began, lines keep coming until it has seen its 20.
    EXPECT_TRUE(WaitUntil([&] { return monitored.load() >= 20 || (lx.errorStatus(), false); }, kWaitMs));
    m.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(inner, std::nullopt);
    // Every "# ..." echo reached the subscriber (its deliveries may still be on their way).
    EXPECT_TRUE(WaitUntil([&] { return seen.load() >= 2 * kRounds; }, kWaitMs)) << seen.load();
}

}  // namespace
