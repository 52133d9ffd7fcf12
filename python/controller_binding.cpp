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

#include <algorithm>
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

Controller(target, timeout_ms=1000) opens target: a device path ("/dev/ttyUSB0",
"/dev/serial/by-id/...", a pseudo-terminal), "COM<n>" as list_ports() names it, or a serial
device server as "tcp://HOST:PORT" or "rfc2217://HOST:PORT". 115200 baud, 8N1, no flow control.
Sends nothing. Raises PortError with the reason (missing, no permission and what to do, held by
another program, not a serial device; for a server: refused, host not found, no answer within
3 s), ValueError for a timeout outside 1..600000 ms. Ctrl+C ends an open that is still
connecting to a server.

A context manager: leaving the with block closes the port, as close() does. Use one Controller
per port: a second one on a port that one holds raises PortError.)";

}  // namespace

void BindController(py::module_& m) {
    py::class_<Monitor>(m, "Monitor",
                        R"(The lines a controller sends, as Controller.monitor() yields them.

An iterator: each next() waits for the next received line (str, without its line break). It
ends when stop() or the Controller's cancel() or close() is called, and raises PortError when
the connection is lost. Of lines not yet taken it keeps the newest 4096: a loop slower than the
controller sends loses the oldest. Ctrl+C (KeyboardInterrupt) while it waits stops it. While it
runs, the Controller's other calls wait for it to end. Also a context manager that stops it on
exit.)")
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

    py::class_<PyController>(m, "Controller", kControllerDoc)
        .def(py::init([](const py::object& path, int timeoutMs) {
                 const std::string target = PathArg(path);  // a str or a pathlib.Path
                 py::gil_scoped_release release;
                 // Ctrl+C also ends an open that is still connecting to a device server.
                 std::atomic<bool> stop{false};
                 return InterruptibleBy([&stop] { stop.store(true); },
                                        [&] { return std::make_unique<PyController>(target, timeoutMs, stop); });
             }),
             "target"_a,
             "timeout_ms"_a = lumitrax::kDefaultTimeoutMs)
        .def("close", &PyController::Close, py::call_guard<py::gil_scoped_release>(),
             R"(Closes the port; sends nothing, so the lights stay as they are. A running monitor is
cancelled, and a call running on another thread is let finish first. Calling it again does
nothing; any other call afterwards raises PortError.)")
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
        .def("raw", Waiting(+[](lumitrax::Controller& c, const std::string& text) { return c.raw(text); }),
             py::call_guard<py::gil_scoped_release>(), "text"_a,
             R"(Sends one line of text (at most MAX_RAW_LENGTH bytes) and returns the lines received within
the timeout: RefusedError when one starts with "error", NoAnswerError when none came.)")
        .def(
            "monitor", [](PyController& self) { return self.StartMonitor(); },
            py::keep_alive<0, 1>(),  // the Controller stays open while its Monitor lives
            R"(Yields every line received, until the Monitor's stop(), this Controller's cancel() or
close(), or Ctrl+C (the Controller stays open while the Monitor lives):

    for line in c.monitor():
        print(line)

Raises PortError when the connection is lost. See Monitor.)")
        .def(
            "cancel", [](PyController& self) { self.Get()->cancel(); },
            R"(Stops the call running on another thread: it sends no further command and raises
CancelledError within 250 ms; a monitor ends.)");
}

}  // namespace lumitrax::python
