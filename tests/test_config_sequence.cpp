// The configuration write that the panel and the API both send (the panel's tests check each
// value on the wire): its steps, the commands of each, and where the controller writes its flash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_sequence.h"
#include "fake_serial_port.h"

namespace {

TEST(ConfigSequence, StepsInOrderWithTheirCommandsAndFlashWrites) {
    const struct {
        ConfigStepId id;
        std::string name;
        bool savesToFlash;
        std::size_t commands;
        std::string first;  // on the wire
    } steps[] = {
        // setsn in code page 949 ("한" is 0xC7 0xD1), as the API sent it before it shared this.
        {ConfigStepId::Identity, "identity and switches", false, 10, "setsn SN\xC7\xD1\r"},
        {ConfigStepId::SaveSerial, "save serial number", true, 1, "savesn\r"},
        {ConfigStepId::SaveId, "save module ID", true, 1, "saveid\r"},
        {ConfigStepId::DacTable, "DAC table", false, 17, "setbandwidth 0.000000 1.200000\r"},
        {ConfigStepId::Offset, "offset", false, 1, "setoffset 17\r"},
        {ConfigStepId::SaveModel, "save model", true, 1, "setmodelsave\r"},
    };
    PauseRecorder recorder;
    FakeLine line;
    DeviceLink link{line.Factory()};
    ASSERT_NE(link.OpenPort(3), 0);
    ModuleConfig config;
    config.serial = QStringLiteral("SN한");

    const std::vector<ConfigStep> sequence = ConfigWriteSequence(config);
    ASSERT_EQ(sequence.size(), std::size(steps));
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        SCOPED_TRACE(steps[i].name);
        EXPECT_EQ(sequence[i].id, steps[i].id);
        EXPECT_EQ(sequence[i].name, steps[i].name);
        EXPECT_EQ(sequence[i].savesToFlash, steps[i].savesToFlash);
        line.writes.clear();
        for (const ConfigCommand& command : sequence[i].commands) {
            SendConfigCommand(link, command);
        }
        ASSERT_EQ(line.writes.size(), steps[i].commands);
        EXPECT_EQ(line.writes.front(), steps[i].first);
    }
}

}  // namespace
