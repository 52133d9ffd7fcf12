// Configuration file content of any kind through the panel's reader, then its first line alone
// through ParseConfigLine at an index chosen by the first byte (some outside 0..127), and the
// result saved and read back. The same content through the Controller API's reader (strict or
// lenient by the first byte): what it accepts, completed and saved, reads back strictly as the
// same configuration.
#include <cstddef>
#include <cstdint>
#include <string>

#include <lumitrax/configuration.h>

#include "config_file.h"
#include "module_config.h"

namespace {

void ApiRoundTrip(const std::string& content, bool strict) {
    lumitrax::Configuration c;
    try {
        c = lumitrax::parseConfiguration(content, "fuzz", strict ? lumitrax::ConfigReading::Strict
                                                                 : lumitrax::ConfigReading::Lenient);
    } catch (const lumitrax::ConfigError&) {
        return;
    }
    if (!c.model) c.model = "M";
    if (!c.serialNumber) c.serialNumber = "S";
    if (!c.moduleId) c.moduleId = 1;
    if (!c.channels) c.channels = 16;
    if (!c.offset) c.offset = 0;
    if (!c.usePwm) c.usePwm = false;
    if (!c.usePacket) c.usePacket = false;
    if (!c.useDebug) c.useDebug = false;
    for (std::size_t i = 0; i < c.dac.size(); ++i) {
        if (!c.dac[i]) c.dac[i] = lumitrax::DacRow{static_cast<int>(i) + 1, 0.5f, 2.5f};
    }
    const std::string saved = lumitrax::formatConfiguration(c);
    // Throws, and so fails the run, when the saved text does not read strictly.
    const lumitrax::Configuration again = lumitrax::parseConfiguration(saved, "saved");
    if (lumitrax::formatConfiguration(again) != saved) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const int index = static_cast<int>(data[0]) - 64;  // -64..191
    const QByteArrayView content(reinterpret_cast<const char*>(data + 1),
                                 static_cast<qsizetype>(size - 1));

    static ConfigLines lines;  // zeroed by every ReadConfigText
    ModuleConfig config;
    ReadConfigText(content, config, lines);

    const qsizetype end = content.indexOf('\n');
    const QByteArrayView first = end < 0 ? content : content.first(end);
    const int got = ParseConfigLine(first, index, lines, config);
    if (got != -1 && got != index) {
        __builtin_trap();
    }

    // What was read saves, and the saved text reads again.
    const QByteArray saved = FormatConfigFile(config);
    ModuleConfig again;
    ReadConfigText(saved, again, lines);

    ApiRoundTrip(std::string(content.data(), static_cast<std::size_t>(content.size())), (data[0] & 1) == 0);
    return 0;
}
