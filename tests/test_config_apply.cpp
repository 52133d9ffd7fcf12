// "Apply to module": the commands on the wire, their order, the waits and the DAC check.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "c_format.h"
#include "config_apply.h"
#include "device_text.h"
#include "fake_serial_port.h"

namespace {

const char kWait[] = "<500 ms>";

// The configuration of the example run: ID 5, 8 channels, 2 trigger channels, switches off.
ModuleConfig ExampleConfig() {
    ModuleConfig c;
    c.serial = "SN-0042";
    c.id = 5;
    c.channels = 8;
    c.trigChannels = 2;
    return c;
}

// Up to saveid; the DAC check comes next.
const std::vector<std::string> kHead = {
    "setsn SN-0042\r", "setmoduleid 5\r", "setmodelch 8\r", "settrigchannel 2\r",
    "setusepacket 0\r", "setuseonoff 0\r", "setsoftstart 0\r", "setusetrig 0\r",
    "setusepwm 0\r", "setdebug 0\r", "savesn\r", kWait, "saveid\r", kWait,
};

std::vector<std::string> FullRun(const std::function<std::string(int)>& pairOfRow, int offset = 17) {
    std::vector<std::string> run = kHead;
    run.push_back("setbandwidth " + pairOfRow(0) + "\r");
    for (int i = 0; i < 16; ++i) {
        run.push_back("setbandwidthex " + std::to_string(i) + " " + pairOfRow(i) + "\r");
    }
    run.insert(run.end(), {kWait, "setoffset " + std::to_string(offset) + "\r", kWait, "setmodelsave\r", kWait});
    return run;
}

std::vector<std::string> DefaultRun() {
    return FullRun([](int) { return std::string("0.000000 1.200000"); });
}

class ApplyConfig : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(link.OpenPort(3), 0);
        line.writes.clear();
        recorder.pauses.clear();
    }

    // Every command of the run is written once and followed by its 10 ms pause; the
    // 500 ms waits fall between them where the run has them.
    void ExpectRun(const std::vector<std::string>& run) {
        std::vector<std::string> writes;
        std::vector<int> pauses;
        for (const std::string& step : run) {
            if (step == kWait) {
                pauses.push_back(500);
            } else {
                writes.push_back(step);
                pauses.push_back(10);
            }
        }
        EXPECT_EQ(line.writes, writes);
        EXPECT_EQ(recorder.pauses, pauses);
    }

    PauseRecorder recorder;
    FakeLine line;
    DeviceLink link{line.Factory()};
};

TEST_F(ApplyConfig, SendsTheConfigurationInOrderWithItsWaits) {
    EXPECT_EQ(SendConfigToModule(link, ExampleConfig()), ConfigApplyResult::Sent);
    ExpectRun(DefaultRun());
    EXPECT_EQ(recorder.Total(), 31 * 10 + 5 * 500);
}

struct FieldCase {
    const char* name;
    std::function<void(ModuleConfig&)> change;
    std::size_t position;  // index of the command among the writes
    const char* command;
};

const FieldCase kFieldCases[] = {
    {"id200", [](ModuleConfig& c) { c.id = 200; }, 1, "setmoduleid -56\r"},
    {"id128", [](ModuleConfig& c) { c.id = 128; }, 1, "setmoduleid -128\r"},
    {"idMinus1", [](ModuleConfig& c) { c.id = -1; }, 1, "setmoduleid -1\r"},
    {"id300", [](ModuleConfig& c) { c.id = 300; }, 1, "setmoduleid 44\r"},
    {"channels260", [](ModuleConfig& c) { c.channels = 260; }, 2, "setmodelch 4\r"},
    {"trig257", [](ModuleConfig& c) { c.trigChannels = 257; }, 3, "settrigchannel 1\r"},
    {"packet", [](ModuleConfig& c) { c.usePacket = 1; }, 4, "setusepacket 1\r"},
    {"onOff", [](ModuleConfig& c) { c.useOnOff = 1; }, 5, "setuseonoff 1\r"},
    {"soft", [](ModuleConfig& c) { c.useSoft = 1; }, 6, "setsoftstart 1\r"},
    {"trig", [](ModuleConfig& c) { c.useTrig = 1; }, 7, "setusetrig 1\r"},
    {"pwm", [](ModuleConfig& c) { c.usePwm = 1; }, 8, "setusepwm 1\r"},
    {"debug", [](ModuleConfig& c) { c.useDebug = 1; }, 9, "setdebug 1\r"},
    {"offset70000", [](ModuleConfig& c) { c.offset = 70000; }, 29, "setoffset 4464\r"},
    {"offsetMinus1", [](ModuleConfig& c) { c.offset = -1; }, 29, "setoffset 65535\r"},
    {"serialBytes", [](ModuleConfig& c) { c.serial = DecodeDeviceText("\xB8\xF0\xFF"); }, 0, "setsn \xB8\xF0\xFF\r"},
};

class ApplyField : public ApplyConfig, public ::testing::WithParamInterface<FieldCase> {};

// One field changed changes exactly its own command.
TEST_P(ApplyField, ChangesOnlyItsCommand) {
    const FieldCase& c = GetParam();
    ModuleConfig config = ExampleConfig();
    c.change(config);
    EXPECT_EQ(SendConfigToModule(link, config), ConfigApplyResult::Sent);

    std::vector<std::string> expected;
    for (const std::string& step : DefaultRun()) {
        if (step != kWait) {
            expected.push_back(step);
        }
    }
    ASSERT_LT(c.position, expected.size());
    expected[c.position] = c.command;
    EXPECT_EQ(line.writes, expected);
}

INSTANTIATE_TEST_SUITE_P(Fields, ApplyField, ::testing::ValuesIn(kFieldCases),
                         [](const auto& p) { return std::string(p.param.name); });

struct BadRowCase {
    const char* name;
    std::function<void(ModuleConfig&)> change;
};

const BadRowCase kBadRows[] = {
    {"row16Equal", [](ModuleConfig& c) { c.bandwidthLow[15] = 1.2f; }},
    {"row1Reversed", [](ModuleConfig& c) { c.bandwidthLow[0] = 2.0f; c.bandwidthHigh[0] = 1.0f; }},
    {"row8NaN", [](ModuleConfig& c) { c.bandwidthLow[7] = std::nanf(""); }},
    // "All" sends row 0's pair everywhere, but every row's own pair is still checked.
    {"row6WithAll", [](ModuleConfig& c) { c.bandwidthAll = 1; c.bandwidthHigh[5] = -1.0f; }},
};

class ApplyBadRow : public ApplyConfig, public ::testing::WithParamInterface<BadRowCase> {};

TEST_P(ApplyBadRow, StopsAfterSaveId) {
    ModuleConfig config = ExampleConfig();
    GetParam().change(config);
    EXPECT_EQ(SendConfigToModule(link, config), ConfigApplyResult::InvalidBandwidth);
    ExpectRun(kHead);
    EXPECT_EQ(recorder.Total(), 12 * 10 + 2 * 500);
}

INSTANTIATE_TEST_SUITE_P(Rows, ApplyBadRow, ::testing::ValuesIn(kBadRows),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(ApplyConfig, AllSendsRowZeroForEveryRow) {
    ModuleConfig config = ExampleConfig();
    for (int i = 0; i < 16; ++i) {
        config.bandwidthLow[static_cast<std::size_t>(i)] = 0.5f * static_cast<float>(i);
        config.bandwidthHigh[static_cast<std::size_t>(i)] = 10.0f + static_cast<float>(i);
    }
    EXPECT_EQ(SendConfigToModule(link, config), ConfigApplyResult::Sent);
    ExpectRun(FullRun([](int i) {
        return CFormat("%f %f", {0.5 * i, 10.0 + i});
    }));

    config.bandwidthAll = 1;
    line.writes.clear();
    recorder.pauses.clear();
    EXPECT_EQ(SendConfigToModule(link, config), ConfigApplyResult::Sent);
    ExpectRun(FullRun([](int) { return std::string("0.000000 10.000000"); }));
}

}  // namespace
