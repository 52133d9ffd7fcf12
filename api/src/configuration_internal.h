#pragma once
// The configuration checks and conversions that the file reader and the Controller share.

#include <string>
#include <vector>

#include "lumitrax/configuration.h"
#include "module_config.h"

namespace lumitrax::detail {

// Each returns an empty string when the value may be sent, else what is wrong with it.
std::string CheckModel(const std::string& model);
std::string CheckSerial(const std::string& serial);
std::string CheckRange(const char* what, long long value, long long low, long long high);
std::string CheckDac(const DacRow& row);

// Every problem of the fields present ("pwm_offset: pwm_offset 70000 is not 0..65535").
std::vector<std::string> CheckConfiguration(const Configuration& configuration);
// Empty, or why row cannot stand in dac[slot] (it names another channel).
std::string DacSlotProblem(const DacRow& row, std::size_t slot);

// base with the fields present in configuration over it.
ModuleConfig ToModuleConfig(const Configuration& configuration, ModuleConfig base);
// Every field present.
Configuration FromModuleConfig(const ModuleConfig& module);

// The fields present in both in which they differ, compared as apply sends them.
std::vector<Difference> CompareConfiguration(const Configuration& file, const Configuration& controller);

}  // namespace lumitrax::detail
