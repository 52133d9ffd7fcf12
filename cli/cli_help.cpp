// The tool's help: the overview and one page per command.

#include "cli_options.h"

namespace {

struct CommandHelp {
    const char* name;
    const char* usage;  // after "lumitrax"
    const char* text;   // what it does, arguments and ranges, an example
};

constexpr CommandHelp kHelp[] = {
    {"ports", "ports",
     "Lists the serial ports of this machine, one per line: COM<n> <path> (<description>).\n"
     "Example: lumitrax ports\n"},
    {"search", "[--port PATH]... search",
     "Probes the given ports (default: every port 'ports' lists) side by side for controllers and\n"
     "prints one line per controller found: port, model, firmware, FPGA, build, serial number.\n"
     "Standard error names every port probed and why nothing was found on it. Exit 1 when no\n"
     "controller answered. The channels of every controller probed stay as they were.\n"
     "Example: lumitrax search\n"},
    {"info", "--port PATH [--port PATH]... info",
     "Reads identity, switches, configuration, error status, memories, channels, trigger rows 1..4\n"
     "and the DAC table of each controller. Sends only queries.\n"
     "Example: lumitrax --port /dev/ttyUSB0 --json info\n"},
    {"set", "--port PATH set CHANNEL|all VALUE",
     "Sets the brightness of channel 1..16 (or all 16) to VALUE 0..1024.\n"
     "Example: lumitrax --port /dev/ttyUSB0 set 3 512\n"},
    {"on", "--port PATH on CHANNEL...|all",
     "Switches channels 1..16 on; the other channels keep their state (the controller's current\n"
     "on mask is read first, then one setonex is sent).\n"
     "Example: lumitrax --port /dev/ttyUSB0 on 1 3\n"},
    {"off", "--port PATH off CHANNEL...|all",
     "Switches channels 1..16 off; the other channels keep their state.\n"
     "Example: lumitrax --port /dev/ttyUSB0 off all\n"},
    {"packet", "--port PATH packet V1 ... V16",
     "Sets all 16 brightness values (0..1024 each) in one binary packet.\n"
     "Example: lumitrax --port /dev/ttyUSB0 packet 0 64 128 192 256 320 384 448 512 576 640 704 768 832 896 960\n"},
    {"trigger", "--port PATH trigger N --delay US --on US --edge positive|negative --enable 0|1",
     "Sets trigger row N (1..4): delay and on time in microseconds 1..4000, the edge, enabled or not.\n"
     "Example: lumitrax --port /dev/ttyUSB0 trigger 2 --delay 100 --on 50 --edge negative --enable 1\n"},
    {"oneshot", "--port PATH oneshot",
     "Fires one trigger with the settings the controller holds.\n"
     "Example: lumitrax --port /dev/ttyUSB0 oneshot\n"},
    {"save-bright", "--port PATH save-bright M",
     "Saves the current brightness and on state into bright memory M (0..9).\n"
     "Example: lumitrax --port /dev/ttyUSB0 save-bright 3\n"},
    {"load-bright", "--port PATH load-bright M",
     "Loads bright memory M (0..9) and prints the channels it brought back.\n"
     "Example: lumitrax --port /dev/ttyUSB0 load-bright 3\n"},
    {"save-trigger", "--port PATH save-trigger M",
     "Saves the trigger rows the controller holds into trigger memory M (0..9).\n"
     "Example: lumitrax --port /dev/ttyUSB0 save-trigger 1\n"},
    {"load-trigger", "--port PATH load-trigger M",
     "Loads trigger memory M (0..9) and prints trigger rows 1..4.\n"
     "Example: lumitrax --port /dev/ttyUSB0 load-trigger 1\n"},
    {"apply-config", "--port PATH [--port PATH]... apply-config FILE [--verify] [--lenient]",
     "Writes a module configuration file into each controller. The file is read whole and checked\n"
     "first (keywords, numbers, ranges, each DAC low below its high, command lengths): a bad file\n"
     "writes nothing, names each bad line and exits 2. --lenient reads as the panel does (unknown\n"
     "lines skipped, unparsed values 0). --verify reads the controller back and compares. On\n"
     "Ctrl+C the command on the line is finished and the steps written are named (exit 130).\n"
     "Example: lumitrax --port /dev/ttyUSB0 apply-config rig.ini --verify\n"},
    {"read-config", "--port PATH read-config FILE|-",
     "Writes the controller's configuration as the file the panel loads (an existing file is\n"
     "replaced whole and keeps its permissions; '-' prints it).\n"
     "Example: lumitrax --port /dev/ttyUSB0 read-config rig.ini\n"},
    {"verify-config", "--port PATH [--port PATH]... verify-config FILE [--lenient]",
     "Compares each controller with the fields the file holds and prints each difference as\n"
     "field, file value, controller value. Exit 1 when one differs.\n"
     "Example: lumitrax --port /dev/ttyUSB0 verify-config rig.ini\n"},
    {"raw", "--port PATH raw TEXT...",
     "Sends TEXT (at most 62 bytes) and a carriage return and prints the lines received within\n"
     "--timeout. Exit 1 when none came or one starts with \"error\".\n"
     "Example: lumitrax --port /dev/ttyUSB0 raw getsn\n"},
    {"monitor", "--port PATH monitor [--reconnect]",
     "Prints every received line with a time stamp (local time with its UTC offset) until Ctrl+C\n"
     "(exit 0) or until the connection is lost (exit 1). --reconnect keeps watching across a lost\n"
     "connection, reopening the port by itself, and prints the connection's state as it starts\n"
     "and at every change: '<time> -- reconnecting' when it is lost, '<time> -- connected' when it\n"
     "is back. Only Ctrl+C ends it.\n"
     "Example: lumitrax --port /dev/ttyUSB0 monitor --reconnect\n"},
    {"status", "--port PATH status",
     "Prints the connection, the controller's error status (code, detail in hex), inputs IN0 IN1\n"
     "and outputs OUT0 OUT1 in one line, e.g. 'connected  error 0,0h  in 0 0  out 1 0'. Sends only\n"
     "geterrstatus and getportstatus.\n"
     "Example: lumitrax --port /dev/ttyUSB0 status\n"},
    {"outputs", "--port PATH outputs OUT0 OUT1",
     "Switches outputs OUT0 and OUT1 on (1) or off (0), both in one command.\n"
     "Example: lumitrax --port /dev/ttyUSB0 outputs 1 0\n"},
    {"factory-reset", "--port PATH factory-reset --yes",
     "Returns the controller to its factory settings: its bright and trigger memories, DAC table\n"
     "and configuration are lost. Without --yes nothing is sent (exit 2). Takes about 2 s.\n"
     "Example: lumitrax --port /dev/ttyUSB0 factory-reset --yes\n"},
    {"recipe check", "recipe check FILE|FOLDER...",
     "Reads each recipe file (TOML, docs/recipes.md) strictly, and every *.toml file of a folder,\n"
     "whose recipes must differ in name and number. Opens no port. Prints one line per recipe\n"
     "('housing-a12-top  number 12  ok') and each error as FILE:LINE:COLUMN: what is wrong.\n"
     "Exit 2 when any is bad.\n"
     "Example: lumitrax recipe check recipes/\n"},
    {"recipe apply", "--port PATH [--port PATH]... recipe apply FILE [--record FILE]",
     "Sets each controller's light to the recipe: checks it against the model's channel count\n"
     "(a channel above it writes nothing, exit 2), writes it, reads it back and compares. Prints\n"
     "'verified', or 'differs' and each difference ('  brightness 3: wanted 512, found 600'), and\n"
     "'saved bright memory M' where the recipe's [store] was saved. Exit 1 when it differs or the\n"
     "controller failed (the steps written are named). --record appends one JSON line per\n"
     "controller to FILE (time, controller, recipe name and SHA-256, result); a record that cannot\n"
     "be written is exit 2, the light having been set.\n"
     "Example: lumitrax --port /dev/ttyUSB0 recipe apply housing-a12-top.toml --record applied.jsonl\n"},
    {"recipe verify", "--port PATH [--port PATH]... recipe verify FILE [--record FILE]",
     "Compares each controller's light with the recipe and prints 'verified', or 'differs' and\n"
     "each difference. Sends only queries. Exit 1 when it differs. --record appends one JSON line\n"
     "per controller to FILE, as recipe apply does (its \"action\" \"verify\").\n"
     "Example: lumitrax --port /dev/ttyUSB0 recipe verify housing-a12-top.toml\n"},
    {"recipe capture", "--port PATH recipe capture --name NAME [FILE|-]",
     "Writes the controller's current light (current bright memory, trigger rows 1..4) as a recipe\n"
     "named NAME to FILE (replaced whole), or to standard output.\n"
     "Example: lumitrax --port /dev/ttyUSB0 recipe capture --name housing-a12-top top.toml\n"},
    {"fleet", "fleet --broker URL [--prefix FILTER]... [--wait MS] | fleet --broker URL apply RECIPE --where FILTER",
     "Every lumitraxd of the plant through its MQTT broker (URL mqtt://HOST[:PORT] or\n"
     "mqtts://HOST[:PORT]). Without apply: reads the controllers' retained states under each\n"
     "--prefix (default lumitrax/#) until 300 ms pass without one (or for --wait MS) and prints one\n"
     "line each: where (the topic path), connection, serial, last recipe, its result, error status.\n"
     "'service-offline' is a controller whose service is gone. apply RECIPE: sends the recipe to\n"
     "every controller under --where and waits for each (--timeout S, default 30); prints\n"
     "'verified', 'differs' or 'failed' for each and a summary; exit 1 when any is not verified.\n"
     "A FILTER ending in '#' is taken as it is; any other names controllers. --ca-file FILE,\n"
     "--username NAME and --password-file FILE (mode 600) for the broker.\n"
     "Example: lumitrax fleet --broker mqtt://broker.plant apply housing-a12-top --where lumitrax/plant1/#\n"},
};

}  // namespace

QString CommandUsage(const QString& command) {
    // A command, or the first word of commands of two words ("recipe"): each of their pages.
    QString text;
    for (const CommandHelp& h : kHelp) {
        const QLatin1String name(h.name);
        if (command == name || (name.startsWith(command + QLatin1Char(' ')))) {
            text += (text.isEmpty() ? QString() : QStringLiteral("\n")) +
                    QStringLiteral("Usage: lumitrax %1\n\n%2").arg(QLatin1String(h.usage), QLatin1String(h.text));
        }
    }
    return text;
}

QString CliUsage() {
    QString text = QStringLiteral(
        "Usage: lumitrax [--port PATH]... [--json] [--timeout MS] [-v|-q] COMMAND [ARGS]\n"
        "Scripts the Lumitrax LED lighting controller over its serial line.\n"
        "\n"
        "Commands (lumitrax help COMMAND, or COMMAND --help, for each):\n");
    for (const CommandHelp& h : kHelp) {
        text += QStringLiteral("  %1\n").arg(QLatin1String(h.usage));
    }
    text += QStringLiteral(
        "\n"
        "Options:\n"
        "  --port PATH    serial device, COM<n> as ports lists it, tcp://HOST:PORT or\n"
        "                 rfc2217://HOST:PORT; info, apply-config, verify-config, recipe apply,\n"
        "                 recipe verify and search take several\n"
        "  --json         print one JSON document (monitor: one JSON object per line)\n"
        "  --timeout MS   wait for answers, 1..600000 (default 1000); raw waits exactly this long\n"
        "  -v, --verbose  print the wire traffic on standard error\n"
        "  -q, --quiet    print only errors\n"
        "  -h, --help     show this text\n"
        "  --version      show the version\n"
        "\n"
        "Exit status: 0 done; 1 no answer, refused, connection lost, or a difference; 2 bad usage,\n"
        "file, or output that cannot be written; 3 a port could not be opened; 130 interrupted.\n"
        "Ending the tool never switches the lights off.\n");
    return text;
}
