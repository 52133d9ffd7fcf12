#include "sim_options.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace sim {

namespace {

bool ParseNumber(std::string_view s, long long lo, long long hi, long long& out) {
    long long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v < lo || v > hi) {
        return false;
    }
    out = v;
    return true;
}

// One word of printable ASCII: the controller's replies carry identity texts as single words.
bool ValidText(std::string_view s) {
    if (s.empty() || s.size() > static_cast<std::size_t>(kMaxTextLength)) {
        return false;
    }
    for (const char c : s) {
        if (c <= ' ' || c > '~') {
            return false;
        }
    }
    return true;
}

// "a,b,c" with exactly count numbers in [lo, hi].
bool ParseList(std::string_view s, int count, long long lo, long long hi, long long* out) {
    for (int i = 0; i < count; ++i) {
        const std::size_t comma = s.find(',');
        const bool last = i == count - 1;
        if (last != (comma == std::string_view::npos)) {
            return false;
        }
        if (!ParseNumber(s.substr(0, comma), lo, hi, out[i])) {
            return false;
        }
        if (!last) {
            s.remove_prefix(comma + 1);
        }
    }
    return true;
}

}  // namespace

std::string UsageText() {
    return "Usage: lumitrax-sim [options]\n"
           "A virtual Lumitrax lighting controller on a pseudo-terminal. Prints the device\n"
           "path on its first line of output and serves until SIGINT or SIGTERM.\n"
           "\n"
           "  --link PATH           also make PATH a symbolic link to the device (removed on exit)\n"
           "  --transcript FILE     write every received command to FILE, one per line\n"
           "  --verbose             show received commands and answers on standard error\n"
           "  --echo 0|1            echo of received command lines at start (default 1)\n"
           "\n"
           "Identity and inputs:\n"
           "  --model NAME          model name (default LX-1608)\n"
           "  --serial TEXT         serial number (default LX24A00017)\n"
           "  --firmware TEXT       firmware version (default 2.5.0)\n"
           "  --fpga TEXT           FPGA version (default 1.3)\n"
           "  --build TEXT          build text (default 20130225)\n"
           "  --module-id N         module ID 0..255 (default 1)\n"
           "  --channels N          model channel count 4..16 (default 8)\n"
           "  --trig-channels N     trigger channel count 0..16 (default 4)\n"
           "  --inputs N            IN0/IN1 bit mask 0..3 (default 0)\n"
           "  --tof 0|1             TOF input (default 0)\n"
           "  --packet 0|1          packet mode, as \"getusepacket\" reports it (default 0)\n"
           "  --error CODE,DETAIL   error status, 0..255 each (default 0,0)\n"
           "  --switches A,B,C,D    MODE, GRAB, HOLD, HIGH/LOW, 0 or 1 each (default 0,0,0,1)\n"
           "\n"
           "Faults (all off by default):\n"
           "  --silent              never answer\n"
           "  --delay MS            answer MS milliseconds late\n"
           "  --refuse WORD         answer every WORD command with an error line, changing nothing\n"
           "  --garbage             mix junk bytes and over-long lines into the answers\n"
           "  --seed N              seed of the junk (default 1)\n"
           "  --hangup-after N      close the terminal after N commands, like a pulled adapter\n"
           "  --switch-every MS     send unasked getswitch lines with changing values\n"
           "\n"
           "  --help                show this text\n"
           "  --version             show the version\n"
           "Texts are single words of printable ASCII, at most 63 characters.\n"
           "Exit status: 0 after a signal, 1 when the terminal cannot be set up, 2 for a bad option.\n";
}

ParseResult ParseOptions(int argc, const char* const* argv, Options& o, std::string& message) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return ParseResult::Help;
        }
        if (arg.substr(0, 2) != "--") {
            message = "unexpected argument '" + std::string(arg) + "'";
            return ParseResult::Error;
        }
        std::string_view name = arg;
        std::string_view value;
        bool hasValue = false;
        if (const std::size_t eq = arg.find('='); eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }

        auto flag = [&](bool& target) {
            if (hasValue) {
                message = "option '" + std::string(name) + "' takes no value";
                return false;
            }
            target = true;
            return true;
        };
        auto needValue = [&]() {
            if (!hasValue) {
                if (i + 1 >= argc) {
                    message = "option '" + std::string(name) + "' needs a value";
                    return false;
                }
                value = argv[++i];
            }
            return true;
        };
        auto number = [&](long long lo, long long hi, long long& out) {
            if (!needValue()) {
                return false;
            }
            if (!ParseNumber(value, lo, hi, out)) {
                message = "option '" + std::string(name) + "' needs a number from " +
                          std::to_string(lo) + " to " + std::to_string(hi) + ", not '" +
                          std::string(value) + "'";
                return false;
            }
            return true;
        };
        auto text = [&](std::string& out) {
            if (!needValue()) {
                return false;
            }
            if (!ValidText(value)) {
                message = "option '" + std::string(name) +
                          "' needs one word of printable ASCII, at most 63 characters";
                return false;
            }
            out.assign(value);
            return true;
        };
        auto path = [&](std::string& out) {
            if (!needValue()) {
                return false;
            }
            if (value.empty()) {
                message = "option '" + std::string(name) + "' needs a path";
                return false;
            }
            out.assign(value);
            return true;
        };

        Identity& id = o.identity;
        long long n = 0;
        bool ok = true;
        if (name == "--link") {
            ok = path(o.linkPath);
        } else if (name == "--transcript") {
            ok = path(o.transcriptPath);
        } else if (name == "--verbose") {
            ok = flag(o.verbose);
        } else if (name == "--refuse") {
            ok = needValue();
            if (ok && (value.empty() || value.size() > 31 || value.find_first_of(" \t\r\n") != std::string_view::npos)) {
                message = "option '--refuse' needs one command keyword";
                ok = false;
            }
            o.refuse.assign(value);
        } else if (name == "--silent") {
            ok = flag(o.silent);
        } else if (name == "--garbage") {
            ok = flag(o.garbage);
        } else if (name == "--echo") {
            ok = number(0, 1, n);
            id.echo = n != 0;
        } else if (name == "--model") {
            ok = text(id.model);
        } else if (name == "--serial") {
            ok = text(id.serial);
        } else if (name == "--firmware") {
            ok = text(id.firmware);
        } else if (name == "--fpga") {
            ok = text(id.fpga);
        } else if (name == "--build") {
            ok = text(id.build);
        } else if (name == "--module-id") {
            ok = number(0, 255, n);
            id.moduleId = static_cast<int>(n);
        } else if (name == "--channels") {
            // What a module reports: the smallest model has four channels.
            ok = number(kMinModelChannels, kChannels, n);
            id.channels = static_cast<int>(n);
        } else if (name == "--trig-channels") {
            ok = number(0, kChannels, n);
            id.trigChannels = static_cast<int>(n);
        } else if (name == "--inputs") {
            ok = number(0, 3, n);
            id.inputs = static_cast<std::uint8_t>(n);
        } else if (name == "--tof") {
            ok = number(0, 1, n);
            id.totalOnOff = static_cast<std::uint8_t>(n);
        } else if (name == "--packet") {
            ok = number(0, 1, n);
            id.usePacket = static_cast<std::uint8_t>(n);
        } else if (name == "--error" || name == "--switches") {
            const bool isError = name == "--error";
            const int count = isError ? 2 : kSwitches;
            long long v[kSwitches] = {};
            ok = needValue();
            if (ok && !ParseList(value, count, 0, isError ? 255 : 1, v)) {
                message = isError ? "option '--error' needs CODE,DETAIL with 0..255 each"
                                  : "option '--switches' needs four values 0 or 1, as 0,1,0,1";
                ok = false;
            }
            if (ok && isError) {
                id.errorCode = static_cast<std::uint8_t>(v[0]);
                id.errorDetail = static_cast<std::uint8_t>(v[1]);
            } else if (ok) {
                for (int k = 0; k < kSwitches; ++k) {
                    id.switches[k] = static_cast<std::uint8_t>(v[k]);
                }
            }
        } else if (name == "--delay") {
            ok = number(0, 600000, n);
            o.delayMs = static_cast<int>(n);
        } else if (name == "--seed") {
            ok = number(0, 0xFFFFFFFFll, n);
            o.seed = static_cast<std::uint32_t>(n);
        } else if (name == "--hangup-after") {
            ok = number(1, 1000000000, n);
            o.hangupAfter = static_cast<long>(n);
        } else if (name == "--switch-every") {
            ok = number(1, 600000, n);
            o.switchEveryMs = static_cast<int>(n);
        } else {
            message = "unknown option '" + std::string(name) + "'";
            ok = false;
        }
        if (!ok) {
            return ParseResult::Error;
        }
    }
    return ParseResult::Run;
}

}  // namespace sim
