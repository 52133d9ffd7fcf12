// lumitrax.Controller and lumitrax.Monitor: the library's Controller call by call, with
// snake_case names. Every call that opens a port or waits on the line runs with the GIL
// released, and on the main thread Ctrl+C stops it (interrupt.h).

#include "casters.h"

#include "bindings.h"
#include "conversions.h"
#include "interrupt.h"
#include "monitor.h"
#include "py_controller.h"
#include "repr.h"

#include <lumitrax/configuration.h>
#include <lumitrax/controller.h>
#include <lumitrax/error.h>
#include <lumitrax/recipe.h>

#include <algorithm>
#include <cstdint>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace pybind11::literals;

namespace lumitrax::python {
namespace {

constexpr const char* kControllerDoc = R"(One Lumitrax controller on one port.

Controller(target, timeout_ms=1000, *, connect_timeout_ms=3000, reconnect=True, heartbeat_ms=0)
opens target: a device path ("/dev/ttyUSB0", "/dev/serial/by-id/...", a pseudo-terminal),
"COM<n>" as list_ports() names it, or a serial device server as "tcp://HOST:PORT" or
"rfc2217://HOST:PORT". 115200 baud, 8N1, no flow control. Sends nothing.
- timeout_ms: how long a call waits for answers after its last command, 1..600000.
- connect_timeout_ms: how long opening a device server may take, 1..600000.
- reconnect: after the connection is lost (adapter unplugged, server gone) the same target is
  reopened by itself, with backoff from about 100 ms up to about 2 s. False: it stays LOST
  until reconnect() is called.
- heartbeat_ms: 0 (off), or 100..600000: once the line has been idle this long one query is
  sent, and no answer counts as a lost connection.
Raises PortError with the reason (missing, no permission and what to do, held by another
program, not a serial device; for a server: refused, host not found, no answer in time),
ValueError for an option out of range. Ctrl+C ends an open that is still connecting to a
server.

While the connection is down every call raises PortError at once, and one under way when it
drops raises PortError within about 100 ms. Nothing is re-sent after a reconnection: the
controller keeps its own state. See connection_state, on_connection_change().

A context manager: leaving the with block closes the port, as close() does. Use one Controller
per port: a second one on a port that one holds raises PortError.)";

}  // namespace

void BindController(py::module_& m) {
    py::class_<Monitor>(m, "Monitor",
                        R"(The lines a controller sends, as Controller.monitor() yields them.

An iterator: each next() waits for the next received line (str, without its line break),
answers to the Controller's own calls included. It ends when stop() or the Controller's
cancel() or close() is called. When the connection is lost it raises PortError if the
Controller does not reconnect; with reconnect=True it goes on across the reconnection (the
lines sent meanwhile are lost). Of lines not yet taken it keeps the newest 4096: a loop slower
than the controller loses the oldest. Ctrl+C (KeyboardInterrupt) while it waits stops it. The
Controller's calls run beside it, from any thread, the loop's own included. Also a context
manager that stops it on exit.)")
        .def("__iter__", [](Monitor& self) -> Monitor& { return self; })
        .def("__next__",
             [](Monitor& self) {
                 std::optional<std::string> line = self.Next();
                 if (!line) {
                     throw py::stop_iteration();
                 }
                 return *line;
             })
        .def("stop", &Monitor::Stop, "Ends the monitor; lines not yet taken are dropped.")
        .def("__enter__", [](Monitor& self) -> Monitor& { return self; })
        .def("__exit__", [](Monitor& self, const py::args&) {
            self.Stop();
            return false;
        });

    py::class_<Watch, std::shared_ptr<Watch>>(m, "Subscription",
                                              R"(A callback subscribed by Controller.on_connection_change().

The Controller keeps it too, so the callback is called until cancel() or the Controller's
close(), whether or not the script keeps this object.)")
        .def("cancel", &Watch::Cancel,
             "Ends the calls of the callback: when it returns none runs any more (called from inside the "
             "callback, it stops the later ones). Calling it again does nothing.");

    py::class_<PyController>(m, "Controller", kControllerDoc)
        .def(py::init([](const py::object& path, int timeoutMs, int connectTimeoutMs, bool reconnect, int heartbeatMs) {
                 const std::string target = PathArg(path);  // a str or a pathlib.Path
                 lumitrax::Options options;
                 options.timeoutMs = timeoutMs;
                 options.connectTimeoutMs = connectTimeoutMs;
                 options.reconnect = reconnect;
                 options.heartbeatMs = heartbeatMs;
                 py::gil_scoped_release release;
                 // Ctrl+C also ends an open that is still connecting to a device server.
                 std::atomic<bool> stop{false};
                 return InterruptibleBy([&stop] { stop.store(true); },
                                        [&] { return std::make_unique<PyController>(target, options, stop); });
             }),
             "target"_a, "timeout_ms"_a = lumitrax::kDefaultTimeoutMs, py::kw_only(),
             "connect_timeout_ms"_a = lumitrax::kDefaultConnectTimeoutMs, "reconnect"_a.noconvert() = true,
             "heartbeat_ms"_a = 0)
        .def("close", &PyController::Close, py::call_guard<py::gil_scoped_release>(),
             R"(Closes the port; sends nothing, so the lights stay as they are. A running monitor ends, a
call running on another thread is let finish first, and the connection change callbacks are
called with CLOSED. Calling it again does nothing; any other call afterwards raises PortError.)")
        .def_property_readonly("closed", &PyController::closed, "True once close() was called.")
        .def("__enter__", [](PyController& self) -> PyController& { return self; })
        .def("__exit__",
             [](PyController& self, const py::args&) {
                 py::gil_scoped_release release;
                 self.Close();
                 return false;
             })
        .def("__repr__",
             [](const PyController& self) {
                 return "<lumitrax.Controller " + Quoted(self.target()) + (self.closed() ? " closed>" : " open>");
             })
        .def_property_readonly("target", &PyController::target, "The target the Controller was opened with.")
        .def_property(
            "timeout", [](const PyController& self) { return self.Get()->timeout(); },
            [](PyController& self, int ms) { self.Get()->setTimeout(ms); },
            "How long a call waits for answers after its last command, in ms: 1..600000 (ValueError otherwise).")
        .def_property_readonly("connection_state", &PyController::connectionState,
                               "Where the connection stands, a ConnectionState (CLOSED after close()). Never blocks.")
        .def_property_readonly(
            "is_connected",
            [](const PyController& self) { return self.connectionState() == lumitrax::ConnectionState::Connected; },
            "True while connection_state is CONNECTED.")
        .def("reconnect", Waiting(+[](lumitrax::Controller& c) { c.reconnect(); }),
             py::call_guard<py::gil_scoped_release>(),
             R"(Closes the connection now and reopens the same target, waiting up to connect_timeout_ms.
Sends nothing. Raises PortError with the reason when it does not open (with reconnect=True the
Controller goes on trying by itself). A call running on another thread raises PortError.)")
        .def("on_connection_change", &PyController::OnConnectionChange, "callback"_a,
             R"(Calls callback(state) with every change of connection_state (a ConnectionState), in order,
on a library thread with the GIL taken, until the returned Subscription's cancel() or close().
The callback may make calls on this Controller. An exception it raises is reported through
sys.unraisablehook and otherwise ignored.)")
        .def("set_traffic_handler", &PyController::SetTrafficHandler,
            "handler"_a,
            R"doc(handler(direction, text) is called with every command sent (its text without the carriage
return; the binary packet as "(brightness packet)") and every line received, on the thread
that sent it or on the library's receive thread. For logging: a call of this Controller from
it (close() too) raises ValueError; cancel() is allowed. An exception it raises is reported
as unraisable and otherwise ignored. None removes it.)doc")
        .def("identity", Waiting(+[](lumitrax::Controller& c) { return c.identity(); }),
             py::call_guard<py::gil_scoped_release>(),
             "Who the controller is, as an Identity (six queries).")
        .def("state", Waiting(+[](lumitrax::Controller& c) { return c.state(); }), py::call_guard<py::gil_scoped_release>(),
             "Everything the controller reports, as a State: the read-all (29 queries, ~0.3 s; sends only queries).")
        .def("set_brightness", Waiting(+[](lumitrax::Controller& c, int channel, int value) { c.setBrightness(channel, value); }),
             py::call_guard<py::gil_scoped_release>(), "channel"_a, "value"_a,
             "Sets one channel's brightness: channel 1..16, value 0..1024.")
        .def("set_all_brightness", Waiting(+[](lumitrax::Controller& c, int value) { c.setAllBrightness(value); }),
             py::call_guard<py::gil_scoped_release>(), "value"_a,
             "The same as set_brightness() for channels 1..16 in turn (16 commands).")
        .def("set_brightness_packet",
             Waiting(+[](lumitrax::Controller& c, const std::vector<int>& values) {
                 if (values.size() != static_cast<std::size_t>(lumitrax::kChannels)) {
                     throw lumitrax::Error(lumitrax::ErrorKind::Argument, "the packet holds 16 values, not " +
                                                                                std::to_string(values.size()));
                 }
                 std::array<int, lumitrax::kChannels> a{};
                 std::copy(values.begin(), values.end(), a.begin());
                 c.setBrightnessPacket(a);
             }),
             py::call_guard<py::gil_scoped_release>(), "values"_a,
             "All 16 values (0..1024 each, channel 1 first) in one 38-byte binary packet.")
        .def("switch_channels",
             Waiting(+[](lumitrax::Controller& c, const std::vector<int>& channels, bool on) {
                 return c.switchChannels(channels, on);
             }),
             py::call_guard<py::gil_scoped_release>(), "channels"_a, "on"_a.noconvert(),
             R"(Switches the given channels (1..16, at least one) on or off, leaving the others as they are
(reads the on mask, then sends one "setonex"). Returns the mask sent (bit 0 = channel 1).)")
        .def("switch_all", Waiting(+[](lumitrax::Controller& c, bool on) { return c.switchAll(on); }),
             py::call_guard<py::gil_scoped_release>(), "on"_a.noconvert(),
             "Switches all 16 channels on or off in one command; returns the mask sent.")
        .def("set_trigger", Waiting(+[](lumitrax::Controller& c, const lumitrax::TriggerRow& row) { c.setTrigger(row); }),
             py::call_guard<py::gil_scoped_release>(), "row"_a,
             "Sets a TriggerRow (row 1..4, delay_us and on_us 1..4000); the off time is ten times the on time.")
        .def("fire_one_shot", Waiting(+[](lumitrax::Controller& c) { c.fireOneShot(); }),
             py::call_guard<py::gil_scoped_release>(),
             "Fires one trigger with the settings the controller holds.")
        .def("save_bright_memory", Waiting(+[](lumitrax::Controller& c, int memory) { c.saveBrightMemory(memory); }),
             py::call_guard<py::gil_scoped_release>(), "memory"_a,
             "Saves the current brightness and on state into bright memory 0..9 (the controller's flash).")
        .def("save_trigger_memory", Waiting(+[](lumitrax::Controller& c, int memory) { c.saveTriggerMemory(memory); }),
             py::call_guard<py::gil_scoped_release>(), "memory"_a,
             "Saves the current trigger rows into trigger memory 0..9 (the controller's flash).")
        .def("load_bright_memory", Waiting(+[](lumitrax::Controller& c, int memory) { return c.loadBrightMemory(memory); }),
             py::call_guard<py::gil_scoped_release>(), "memory"_a,
             "Loads bright memory 0..9; returns its 16 ChannelState.")
        .def("load_trigger_memory", Waiting(+[](lumitrax::Controller& c, int memory) { return c.loadTriggerMemory(memory); }),
             py::call_guard<py::gil_scoped_release>(), "memory"_a,
             "Loads trigger memory 0..9; returns its TriggerRow 1..4.")
        .def("read_configuration", Waiting(+[](lumitrax::Controller& c) { return c.readConfiguration(); }),
             py::call_guard<py::gil_scoped_release>(),
             "The controller's Configuration with every field present, as read-config saves it.")
        .def(
            "apply_configuration",
            [](PyController& self, const lumitrax::Configuration& configuration, const py::object& progress) {
                std::function<void(const std::string&)> f;
                if (!progress.is_none()) {
                    f = [held = HoldCallable(progress)](const std::string& step) {
                        py::gil_scoped_acquire gil;
                        (*held)(step);
                    };
                }
                const auto c = self.Get();
                py::gil_scoped_release release;
                Interruptible(*c, [&] { c->applyConfiguration(configuration, f); });
            },
            "configuration"_a, "progress"_a = py::none(),
            R"(Writes a Configuration into the controller; ValueError, and nothing sent, when any value is
bad. Fields it lacks are sent as the controller has them; the model name is never sent. Steps:
"identity and switches", "save serial number", "save module ID", "DAC table", "offset", "save
model" (each save then gives the flash 500 ms). An error or cancel() ends the write after the
command on the line; the error's .steps_written / .steps_not_written say how far it came.
progress(step), when given, is called after each step; an exception it raises ends the write.)")
        .def("verify_configuration",
             Waiting(+[](lumitrax::Controller& c, const lumitrax::Configuration& configuration) {
                 return c.verifyConfiguration(configuration);
             }),
             py::call_guard<py::gil_scoped_release>(), "configuration"_a,
             R"(The fields of configuration that the controller does not have, as Difference in file order,
each compared as apply_configuration() would send it.)")
        .def(
            "apply_recipe",
            [](PyController& self, const lumitrax::Recipe& recipe, const py::object& record) {
                const std::string recordPath = record.is_none() ? std::string() : PathArg(record);
                const auto c = self.Get();
                py::gil_scoped_release release;
                return Interruptible(*c, [&] { return c->applyRecipe(recipe, recordPath); });
            },
            "recipe"_a, "record"_a = py::none(),
            R"(Sets the controller's light to a Recipe and returns a RecipeReport. The recipe is checked
first against the model's channel count (ValueError, nothing sent), then written with as few
commands as the controller takes, read back and compared: result "verified" or "differs". A
failure on the line (no answer, refused, lost, cancelled) raises nothing: result "failed", with
error and the steps written. With the recipe's bright_memory / trigger_memory, a verified light
is saved there where the memory does not hold it already. record (str or os.PathLike), when
given, gets one JSON line for the apply, appended under a file lock and on disk before the call
returns; FileError when it cannot be written, the light having been set all the same.)")
        .def(
            "verify_recipe",
            [](PyController& self, const lumitrax::Recipe& recipe, const py::object& record) {
                const std::string recordPath = record.is_none() ? std::string() : PathArg(record);
                const auto c = self.Get();
                py::gil_scoped_release release;
                return Interruptible(*c, [&] { return c->verifyRecipe(recipe, recordPath); });
            },
            "recipe"_a, "record"_a = py::none(),
            R"(Compares the controller's current light with a Recipe, sending only queries; a RecipeReport
whose result is "verified", "differs" (with the differences) or "failed". record, when given,
gets one JSON line for the check (its "action" "verify"), as apply_recipe writes one.)")
        .def("capture_recipe",
             Waiting(+[](lumitrax::Controller& c, const std::string& name) { return c.captureRecipe(name); }),
             py::call_guard<py::gil_scoped_release>(), "name"_a,
             R"(The controller's current light (current bright memory, trigger rows 1..4 of the current
trigger memory) as a Recipe named name; ValueError for a name a recipe cannot have.)")
        .def("raw", Waiting(+[](lumitrax::Controller& c, const std::string& text) { return c.raw(text); }),
             py::call_guard<py::gil_scoped_release>(), "text"_a,
             R"(Sends one line of text (at most MAX_RAW_LENGTH bytes) and returns the lines received within
the timeout: RefusedError when one starts with "error", NoAnswerError when none came.)")
        .def("channel_count", Waiting(+[](lumitrax::Controller& c) { return c.channelCount(); }),
             py::call_guard<py::gil_scoped_release>(),
             "The model's channel count, 1..16 (asked once per connection). A call naming a channel above it "
             "raises ValueError and sends no command.")
        .def("error_status", Waiting(+[](lumitrax::Controller& c) { return c.errorStatus(); }),
             py::call_guard<py::gil_scoped_release>(), "The controller's own ErrorStatus.")
        .def("port_status", Waiting(+[](lumitrax::Controller& c) { return c.portStatus(); }),
             py::call_guard<py::gil_scoped_release>(), "The inputs IN0, IN1 and outputs OUT0, OUT1, as a PortStatus.")
        .def("set_outputs", Waiting(+[](lumitrax::Controller& c, bool out0, bool out1) { c.setOutputs(out0, out1); }),
             py::call_guard<py::gil_scoped_release>(), "out0"_a.noconvert(), "out1"_a.noconvert(),
             "Switches the outputs OUT0 and OUT1 on (True) or off.")
        .def("current_brightness", Waiting(+[](lumitrax::Controller& c) { return c.currentBrightness(); }),
             py::call_guard<py::gil_scoped_release>(),
             "The current bright memory's 16 channels and on mask, as a Brightness (3 queries, not the read-all).")
        .def("set_on_mask",
             Waiting(+[](lumitrax::Controller& c, int mask) {
                 if (mask < 0 || mask > 0xffff) {
                     throw lumitrax::Error(lumitrax::ErrorKind::Argument,
                                           "the on mask is 0..0xffff, not " + std::to_string(mask));
                 }
                 c.setOnMask(static_cast<std::uint16_t>(mask));
             }),
             py::call_guard<py::gil_scoped_release>(), "mask"_a,
             "Switches on exactly the channels whose bit is set (bit 0 = channel 1), every other off. A bit "
             "above channel_count() raises ValueError, nothing sent.")
        .def("set_error_ignore", Waiting(+[](lumitrax::Controller& c, bool ignore) { c.setErrorIgnore(ignore); }),
             py::call_guard<py::gil_scoped_release>(), "ignore"_a.noconvert(),
             "The controller ignores its errors (True) or reports them (False).")
        .def("set_buzzer", Waiting(+[](lumitrax::Controller& c, bool on) { c.setBuzzer(on); }),
             py::call_guard<py::gil_scoped_release>(), "on"_a.noconvert(), "Switches the buzzer on or off.")
        .def("factory_reset", Waiting(+[](lumitrax::Controller& c) { c.factoryReset(); }),
             py::call_guard<py::gil_scoped_release>(),
             "Returns the controller to its factory settings (memories, DAC table and configuration "
             "included); takes about 2 s, until it answers again.")
        .def(
            "monitor", [](PyController& self) { return self.StartMonitor(); },
            py::keep_alive<0, 1>(),  // the Controller stays open while its Monitor lives
            R"(Yields every line received, until the Monitor's stop(), this Controller's cancel() or
close(), or Ctrl+C (the Controller stays open while the Monitor lives). Calls may be made
meanwhile, from the loop too:

    for line in c.monitor():
        print(line)

Raises PortError when the connection is lost and not reconnecting. See Monitor.)")
        .def(
            "cancel", &PyController::Cancel,
            R"(Stops the call running on another thread: it sends no further command and raises
CancelledError within 250 ms; running monitors end.)");
}

}  // namespace lumitrax::python
