#pragma once
// Command line of lumitrax-sim.

#include <cstdint>
#include <string>

#include "sim_state.h"

namespace sim {

struct Options {
    Identity identity;
    std::string linkPath;        // --link: symbolic link made to the device path
    std::string transcriptPath;  // --transcript: every received command, one per line
    bool verbose = false;        // received commands and answers on standard error

    // Faults, all off by default.
    bool silent = false;          // writes nothing at all
    int delayMs = 0;              // every answer leaves this much later
    bool garbage = false;         // junk lines and over-long lines between the answers
    std::uint32_t seed = 1;       // of the junk
    long hangupAfter = 0;         // > 0: close the terminal after this many commands
    int switchEveryMs = 0;        // > 0: unasked "getswitch" lines at this period
    std::string refuse;           // commands with this keyword are answered with an error
};

enum class ParseResult { Run, Help, Error };

// Parses argv (both "--name value" and "--name=value"). On Error, message says what is wrong.
ParseResult ParseOptions(int argc, const char* const* argv, Options& options,
                         std::string& message);

// Text of --help.
std::string UsageText();

}  // namespace sim
