// Configuration file content of any kind through the reader, then its first line alone
// through ParseConfigLine at an index chosen by the first byte (some outside 0..127), and the
// result saved and read back.
#include <cstddef>
#include <cstdint>

#include "config_file.h"
#include "module_config.h"

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
    return 0;
}
