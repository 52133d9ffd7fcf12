// The Python module "lumitrax": lumitrax::Controller and the configuration functions, one to
// one, with snake_case names. Argument parsing and conversion only; every protocol decision
// stays in liblumitrax.
//
// The GIL is released for every call that opens a port or waits on the line, so other Python
// threads (a camera grab loop) run meanwhile. Callbacks into Python (the traffic handler, the
// progress of apply_configuration) take it back for their own duration.

#include "casters.h"

#include "bindings.h"
#include "conversions.h"
#include "errors.h"
#include "interrupt.h"
#include "py_controller.h"

#include <lumitrax/configuration.h>
#include <lumitrax/controller.h>
#include <lumitrax/error.h>
#include <lumitrax/version.h>

#include <atomic>
#include <string>
#include <vector>

using namespace pybind11::literals;

namespace {

// ---- docstrings ----

constexpr const char* kModuleDoc = R"(Lumitrax LED lighting controllers from Python.

    import lumitrax
    with lumitrax.Controller("/dev/ttyUSB0") as c:
        print(c.identity().serial_number)
        c.set_brightness(3, 512)          # channel 1..16, brightness 0..1024
        state = c.state()

Conventions of every call:
- Channels 1..16, trigger rows 1..4 and memories 0..9 are counted as the operator's panel
  counts them. The controller's own 8-bit text (Korean in code page 949) is converted both ways.
- A value out of range raises ValueError, and nothing reaches the line.
- A call returns once the controller has answered every command it sent. Where the echo of a
  command could pass for its answer, a line only an answer gives decides (the acknowledgement
  after the echo, or the answer to one more query, "getoffset"), so a refusal counts however
  late it comes. No answer within the timeout (default 1000 ms after the last command) raises
  NoAnswerError; an "error" reply raises RefusedError with that line. After a call that failed
  on the line, the next one first sends "getoffset" and skips every line before its answer, so
  a late answer is never taken for its own.
- While the connection is down every call raises PortError at once; by default the Controller
  reconnects by itself (see Controller).
- Ctrl+C during a call on the main thread stops it within 250 ms and raises KeyboardInterrupt,
  whose __context__ is the call's CancelledError (.steps_written, .steps_not_written). A call
  of the same Controller on another thread that it waits behind is cancelled too.
- Closing a Controller (close(), leaving a with block, or dropping it) sends nothing: the
  lights stay as they are.
- The GIL is released while a call waits on the line. A Controller may be used from several
  threads; its calls run one at a time. cancel() may be called from any thread.)";

}  // namespace

PYBIND11_MODULE(lumitrax, m) {
    using namespace lumitrax::python;
    m.doc() = kModuleDoc;
    m.attr("__version__") = lumitrax::version();
    m.def("version", &lumitrax::version, "The library's version, the same as the programs' --version (\"2.5.0\").");
    m.attr("CHANNELS") = lumitrax::kChannels;
    m.attr("MAX_BRIGHTNESS") = lumitrax::kMaxBrightness;
    m.attr("TRIGGER_ROWS") = lumitrax::kTriggerRows;
    m.attr("MEMORIES") = lumitrax::kMemories;
    m.attr("MAX_TRIGGER_US") = lumitrax::kMaxTriggerUs;
    m.attr("DEFAULT_TIMEOUT_MS") = lumitrax::kDefaultTimeoutMs;
    m.attr("DEFAULT_CONNECT_TIMEOUT_MS") = lumitrax::kDefaultConnectTimeoutMs;
    m.attr("MAX_RAW_LENGTH") = lumitrax::kMaxRawLength;

    // ---- enums ----
    py::enum_<lumitrax::ErrorKind>(m, "ErrorKind", "What kind of failure a lumitrax.Error is.")
        .value("Argument", lumitrax::ErrorKind::Argument, "a value out of range, a malformed request: nothing was sent (ValueError)")
        .value("Port", lumitrax::ErrorKind::Port, "the port did not open, or the connection to it was lost")
        .value("NoAnswer", lumitrax::ErrorKind::NoAnswer, "the controller did not answer within the timeout")
        .value("Refused", lumitrax::ErrorKind::Refused, "the controller answered with an \"error\" line")
        .value("File", lumitrax::ErrorKind::File, "a configuration file that cannot be read, is invalid, or cannot be written")
        .value("Interrupted", lumitrax::ErrorKind::Interrupted, "cancel() or Ctrl+C stopped the call (CancelledError)");
    m.def("error_kind_name", &lumitrax::ErrorKindName, "kind"_a,
          "The kind's name as programs read it: \"argument\", \"port\", \"no answer\", \"refused\", \"file\", "
          "\"interrupted\"; the same as C++ ErrorKindName() and the \"kind\" of the tool's --json errors.");
    py::enum_<lumitrax::Edge>(m, "Edge", "The edge a trigger row fires on.")
        .value("Positive", lumitrax::Edge::Positive, "fires on the rising edge of the trigger input")
        .value("Negative", lumitrax::Edge::Negative, "fires on the falling edge");
    py::enum_<lumitrax::ConnectionState>(m, "ConnectionState",
                                         "Where a Controller's connection stands (Controller.connection_state).")
        .value("CONNECTED", lumitrax::ConnectionState::Connected, "the port is open and calls go to the controller")
        .value("LOST", lumitrax::ConnectionState::Lost,
               "the connection ended (or a heartbeat went unanswered) and reconnection is off: it stays so "
               "until reconnect()")
        .value("RECONNECTING", lumitrax::ConnectionState::Reconnecting,
               "the connection ended and the same target is being reopened (about 100 ms, doubling up to "
               "about 2 s between tries)")
        .value("CLOSED", lumitrax::ConnectionState::Closed, "the Controller was closed; it does not come back");
    py::enum_<lumitrax::Direction>(m, "Direction", "Which way a line of traffic went (set_traffic_handler).")
        .value("Sent", lumitrax::Direction::Sent, "a command written to the controller")
        .value("Received", lumitrax::Direction::Received, "a line the controller sent");
    py::enum_<lumitrax::ConfigReading>(m, "ConfigReading", "How strictly a configuration file is read.")
        .value("Strict", lumitrax::ConfigReading::Strict,
               "every line a known keyword with the right values in range, no keyword twice, each DAC low "
               "below its high, at least one field; anything else raises ConfigError naming every bad line")
        .value("Lenient", lumitrax::ConfigReading::Lenient,
               "as the panel reads a file: unknown lines are reported as warnings and skipped, a value that "
               "does not parse reads as 0, the last of a repeated keyword wins");

    // ---- exceptions ----
    RegisterExceptions(m);
    RememberMainThread();
    py::module_::import("atexit").attr("register")(py::cpp_function(&CancelCallbacksAtExit));

    BindResults(m);
    BindRecipes(m);

    // ---- module functions ----
    m.def("list_ports", &lumitrax::listPorts, "The ports of the system in its enumeration order, as PortInfo.");
    m.def(
        "search",
        [](const std::vector<std::string>& targets, int timeoutMs) {
            std::atomic<bool> stop{false};
            return InterruptibleBy([&stop] { stop.store(true); },
                                   [&] { return lumitrax::search(targets, timeoutMs, stop); });
        },
        py::call_guard<py::gil_scoped_release>(), "targets"_a, "timeout_ms"_a = lumitrax::kDefaultTimeoutMs,
        R"(Probes the targets side by side (up to 64 at a time) for a controller's identity, waiting up
to timeout_ms for each. Returns a SearchResult per target, in the order given. Leaves the
lights as they are; never raises for a port; ValueError for a timeout outside 1..600000 ms. Ctrl+C stops
every probe, a network target's opening included, within 50 ms and raises KeyboardInterrupt.)");

    const auto warningsOut = [](const std::vector<lumitrax::ConfigProblem>& found, const py::object& warnings) {
        if (!warnings.is_none()) {
            for (const lumitrax::ConfigProblem& p : found) {
                warnings.attr("append")(p);
            }
        }
    };
    m.def(
        "parse_configuration",
        [warningsOut](const std::string& content, const std::string& name, lumitrax::ConfigReading reading,
                      const py::object& warnings) {
            std::vector<lumitrax::ConfigProblem> found;
            lumitrax::Configuration c = lumitrax::parseConfiguration(content, name, reading, &found);
            warningsOut(found, warnings);
            return c;
        },
        "content"_a, "name"_a = "", "reading"_a = lumitrax::ConfigReading::Strict, "warnings"_a = py::none(),
        R"(Parses configuration file content (str) into a Configuration. name appears in messages
("rig.ini:3: ..."). Strict reading raises ConfigError naming every bad line; Lenient reading
appends a ConfigProblem per skipped line to warnings, when a list is given.)");
    m.def(
        "read_configuration_file",
        [warningsOut](const py::object& path, lumitrax::ConfigReading reading, const py::object& warnings) {
            const std::string p = PathArg(path);
            std::vector<lumitrax::ConfigProblem> found;
            lumitrax::Configuration c = lumitrax::readConfigurationFile(p, reading, &found);
            warningsOut(found, warnings);
            return c;
        },
        "path"_a, "reading"_a = lumitrax::ConfigReading::Strict, "warnings"_a = py::none(),
        "Reads and parses the file at path (str or os.PathLike) as parse_configuration() does; FileError "
        "when it cannot be read.");
    m.def("format_configuration", &lumitrax::formatConfiguration, "configuration"_a,
          "The 24 lines the panel saves, for a configuration with every field present (ValueError otherwise).");
    m.def(
        "write_configuration_file",
        [](const py::object& path, const lumitrax::Configuration& configuration) {
            lumitrax::writeConfigurationFile(PathArg(path), configuration);
        },
        "path"_a, "configuration"_a,
        "Writes format_configuration(configuration) to path: an existing file is replaced whole, only when the "
        "new content is complete, and keeps its permissions. FileError when it cannot.");

    BindController(m);
}
