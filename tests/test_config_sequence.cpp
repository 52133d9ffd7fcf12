// The configuration write that the panel and the API both send: its steps in order, each
// step's commands on the wire, and the steps after which the controller writes its flash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_sequence.h"
#include "fake_serial_port.h"

namespace {

// Values beyond their command's range go out as their low bits; the serial number in code
// page 949 ("한" is 0xC7 0xD1).
ModuleConfig WrappingConfig() {
    ModuleConfig c;
    c.serial = QStringLiteral("SN한");
    c.id = 0x1FF;
    c.channels = 0x110;
    c.trigChannels = -1;
    c.usePwm = 1;
    c.offset = 0x10011;
    c.bandwidthLow[3] = 0.5f;
    return c;
}

std::vector<std::string> DacTable() {
    std::vector<std::string> c{"setbandwidth 0.000000 1.200000\r"};
    for (int i = 0; i < 16; ++i) {
        c.push_back("setbandwidthex " + std::to_string(i) + (i == 3 ? " 0.500000" : " 0.000000") + " 1.200000\r");
    }
    return c;
}

struct StepCase {
    ConfigStepId id;
    std::string name;
    bool savesToFlash;
    std::vector<std::string> wire;
};

const std::vector<StepCase> kSteps = {
    {ConfigStepId::Identity, "identity and switches", false,
     {"setsn SN\xC7\xD1\r", "setmoduleid -1\r", "setmodelch 16\r", "settrigchannel 255\r", "setusepacket 0\r",
      "setuseonoff 0\r", "setsoftstart 0\r", "setusetrig 0\r", "setusepwm 1\r", "setdebug 0\r"}},
    {ConfigStepId::SaveSerial, "save serial number", true, {"savesn\r"}},
    {ConfigStepId::SaveId, "save module ID", true, {"saveid\r"}},
    {ConfigStepId::DacTable, "DAC table", false, DacTable()},
    {ConfigStepId::Offset, "offset", false, {"setoffset 17\r"}},
    {ConfigStepId::SaveModel, "save model", true, {"setmodelsave\r"}},
};

TEST(ConfigSequence, StepsInOrderWithTheirCommandsAndFlashWrites) {
    PauseRecorder recorder;
    FakeLine line;
    DeviceLink link{line.Factory()};
    ASSERT_NE(link.OpenPort(3), 0);

    const std::vector<ConfigStep> steps = ConfigWriteSequence(WrappingConfig());
    ASSERT_EQ(steps.size(), kSteps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(kSteps[i].name);
        EXPECT_EQ(steps[i].id, kSteps[i].id);
        EXPECT_EQ(steps[i].name, kSteps[i].name);
        EXPECT_EQ(steps[i].savesToFlash, kSteps[i].savesToFlash);
        line.writes.clear();
        for (const ConfigCommand& command : steps[i].commands) {
            SendConfigCommand(link, command);
        }
        EXPECT_EQ(line.writes, kSteps[i].wire);
    }
}

}  // namespace
