// The controller's configuration from a read-all, and its comparison with a file.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "config_compare.h"
#include "config_file.h"

namespace {

DeviceState Controller() {
    DeviceState s;
    std::strcpy(s.moduleName, "LX-1608");
    std::strcpy(s.serialNumber, "SN0042");
    s.moduleId = 7;
    s.modelChannels = 12;
    s.offset = 33;
    s.trigChannelCount = 3;
    s.usePwm = 1;
    s.debug = 1;
    s.useOnOff = 1;
    for (int i = 0; i < kChannelCount; ++i) {
        s.bandwidthLow[i] = 0.25f;
        s.bandwidthHigh[i] = 1.5f + static_cast<float>(i);
    }
    return s;
}

struct ParsedFile {
    ModuleConfig config;
    ConfigLines lines;
    ConfigFields given;
};

ParsedFile Parse(const QByteArray& text) {
    ParsedFile f;
    EXPECT_TRUE(ReadConfigText(text, f.config, f.lines).empty());
    f.given = FieldsGiven(f.lines);
    return f;
}

TEST(ConfigFromState, WrittenAsAFileReadsBackToTheController) {
    const DeviceState s = Controller();
    const ParsedFile file = Parse(FormatConfigFile(ConfigFromState(s)));
    EXPECT_EQ(file.config.model, "LX-1608");
    EXPECT_EQ(file.config.serial, "SN0042");
    EXPECT_EQ(file.config.id, 7);
    EXPECT_EQ(file.config.channels, 12);
    EXPECT_EQ(file.config.offset, 33);
    EXPECT_EQ(file.config.usePwm, 1);
    EXPECT_EQ(file.config.usePacket, 0);
    EXPECT_EQ(file.config.useDebug, 1);
    EXPECT_FLOAT_EQ(file.config.bandwidthHigh[15], 16.5f);
    EXPECT_TRUE(CompareConfig(file.config, file.given, s).empty());

    // Not in the file, but kept for "Apply to module".
    const ModuleConfig c = ConfigFromState(s);
    EXPECT_EQ(c.trigChannels, 3);
    EXPECT_EQ(c.useOnOff, 1);
    EXPECT_EQ(c.bandwidthAll, 0);
}

TEST(CompareConfig, ReportsEachDifferingFieldInTheFormApplySendsIt) {
    const struct {
        const char* name;
        std::function<void(DeviceState&)> change;
        const char* field;  // null: the controller still agrees
        const char* fileValue;
        const char* controllerValue;
    } cases[] = {
        {"model", [](DeviceState& s) { std::strcpy(s.moduleName, "LX-0808"); }, "model", "LX-1608", "LX-0808"},
        {"serial", [](DeviceState& s) { s.serialNumber[0] = '\0'; }, "S/N", "SN0042", ""},
        {"id", [](DeviceState& s) { s.moduleId = 8; }, "ID", "7", "8"},
        {"id byte", [](DeviceState& s) { s.moduleId = 7 + 256; }, nullptr, nullptr, nullptr},
        {"channels", [](DeviceState& s) { s.modelChannels = 16; }, "channel", "12", "16"},
        {"offset", [](DeviceState& s) { s.offset = 40; }, "pwm_offset", "33", "40"},
        {"pwm", [](DeviceState& s) { s.usePwm = 0; }, "use_pwm", "1", "0"},
        {"pwm any non-zero", [](DeviceState& s) { s.usePwm = 2; }, nullptr, nullptr, nullptr},
        {"packet", [](DeviceState& s) { s.usePacket = 1; }, "use_packet", "0", "1"},
        {"debug", [](DeviceState& s) { s.debug = 0; }, "use_debug", "1", "0"},
        {"dac", [](DeviceState& s) { s.bandwidthHigh[3] = 2.0f; }, "dac_bandwidth 3", "0.250000 4.500000",
         "0.250000 2.000000"},
        {"dac below six decimals", [](DeviceState& s) { s.bandwidthLow[9] = 0.2500001f; }, nullptr, nullptr, nullptr},
        {"not in the file", [](DeviceState& s) { s.trigChannelCount = 9; s.softStart = 1; }, nullptr, nullptr, nullptr},
    };
    const ParsedFile file = Parse(FormatConfigFile(ConfigFromState(Controller())));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceState s = Controller();
        c.change(s);
        const std::vector<ConfigDifference> diffs = CompareConfig(file.config, file.given, s);
        if (c.field == nullptr) {
            EXPECT_TRUE(diffs.empty());
            continue;
        }
        ASSERT_EQ(diffs.size(), 1u);
        EXPECT_EQ(diffs[0].field, QLatin1String(c.field));
        EXPECT_EQ(diffs[0].fileValue, QLatin1String(c.fileValue));
        EXPECT_EQ(diffs[0].controllerValue, QLatin1String(c.controllerValue));
    }
}

TEST(CompareConfig, LooksOnlyAtTheFieldsTheFileGives) {
    const ParsedFile file = Parse("ID 200\ndac_bandwidth 2 0.25 3.5\ndac_bandwidth 16 9 9\n");
    EXPECT_TRUE(file.given.id);
    EXPECT_FALSE(file.given.model || file.given.serial || file.given.channels || file.given.offset ||
                 file.given.usePwm || file.given.usePacket || file.given.useDebug);
    for (int row = 0; row < kChannelCount; ++row) {
        EXPECT_EQ(file.given.dacRow[static_cast<std::size_t>(row)], row == 2) << row;
    }

    DeviceState s = Controller();  // differs from the defaults in nearly every field
    s.moduleId = 200;
    EXPECT_TRUE(CompareConfig(file.config, file.given, s).empty());
    s.moduleId = 201;
    s.bandwidthLow[2] = 0.5f;
    const std::vector<ConfigDifference> diffs = CompareConfig(file.config, file.given, s);
    ASSERT_EQ(diffs.size(), 2u);
    EXPECT_EQ(diffs[0].field, "ID");
    EXPECT_EQ(diffs[1].field, "dac_bandwidth 2");
}

}  // namespace
