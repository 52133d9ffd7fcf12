#pragma once
// Module configuration files: the 24-line text files the operator's panel loads and saves.
//
//   model <word>          S/N <word>         ID <0..255>        channel <4..16>
//   pwm_offset <0..65535> use_pwm <0|1>      use_packet <0|1>   use_debug <0|1>
//   dac_bandwidth <row 0..15> <low> <high>   (16 lines; low below high)
//
// Texts in the file are 8-bit (ASCII, Korean in code page 949); here they are UTF-8.
// Numbers are read and written in the C locale whatever the process's locale. Pure; any thread.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "lumitrax/error.h"
#include "lumitrax/export.h"

namespace lumitrax {

// The six feature switches of a controller.
struct Features {
    bool pwm = false;
    bool packet = false;
    bool debug = false;         // debug output
    bool triggerInput = false;
    bool onOffInput = false;
    bool softStart = false;
};

// One DAC bandwidth row.
struct DacRow {
    int channel = 1;  // 1..16 (the file's row 0 is channel 1)
    float low = 0.0f;
    float high = 0.0f;
};

// A module configuration. Read from a file, a field is present only when the file gives it;
// read from a controller, every field is present.
struct Configuration {
    std::optional<std::string> model;         // "model"; no command sets it
    std::optional<std::string> serialNumber;  // "S/N", at most 15 bytes on the controller
    std::optional<int> moduleId;              // "ID"
    std::optional<int> channels;              // "channel"
    std::optional<int> offset;                // "pwm_offset"
    std::optional<bool> usePwm;               // "use_pwm"
    std::optional<bool> usePacket;            // "use_packet"
    std::optional<bool> useDebug;             // "use_debug"
    std::array<std::optional<DacRow>, 16> dac{};  // "dac_bandwidth", by channel - 1 (dac[i] names channel i + 1)

    // True when no field is present.
    LUMITRAX_API bool empty() const;
};

// A line of a file that could not be taken as it stands.
struct ConfigProblem {
    int line = 0;         // 1-based line number
    std::string text;     // the line as read (UTF-8, without its line break)
    std::string message;  // what is wrong with it
};

// Error(ErrorKind::File) for a file that fails the checks; problems() names each bad line.
class LUMITRAX_API ConfigError : public Error {
public:
    ConfigError(const std::string& message, std::vector<ConfigProblem> problems);
    const std::vector<ConfigProblem>& problems() const noexcept { return problems_; }

private:
    std::vector<ConfigProblem> problems_;
};

enum class ConfigReading {
    // Every line must be one of the known keywords with the right number of values, each a
    // number in its range; no keyword twice; each DAC low below its high as sent (with six
    // decimals); at least one field. Blank lines are allowed. Anything else throws ConfigError
    // naming every bad line.
    Strict,
    // As the panel reads a file: unknown lines are reported in warnings and skipped, a value
    // that does not parse reads as 0, the last of a repeated keyword wins. Only the DAC check
    // and the ranges of what would be sent still throw.
    Lenient,
};

// Parses file content. name appears in messages ("rig.ini:3: ...").
LUMITRAX_API Configuration parseConfiguration(const std::string& content, const std::string& name,
                                              ConfigReading reading = ConfigReading::Strict,
                                              std::vector<ConfigProblem>* warnings = nullptr);

// Reads and parses the file at path; Error(File) when it cannot be read.
LUMITRAX_API Configuration readConfigurationFile(const std::string& path,
                                                 ConfigReading reading = ConfigReading::Strict,
                                                 std::vector<ConfigProblem>* warnings = nullptr);

// The 24 lines the panel saves, for a configuration with every field present
// (Error(Argument) otherwise).
LUMITRAX_API std::string formatConfiguration(const Configuration& configuration);

// Writes formatConfiguration(configuration) to path: an existing file is replaced whole, only
// when the new content is complete, and keeps its permissions. Error(File) when it cannot.
LUMITRAX_API void writeConfigurationFile(const std::string& path, const Configuration& configuration);

// A field in which a controller differs from a configuration.
struct Difference {
    std::string field;            // the file's keyword: "pwm_offset", "dac_bandwidth 5"
    std::string configuration;    // the value as the file writes it
    std::string controller;       // the controller's value in the same form
};

}  // namespace lumitrax
