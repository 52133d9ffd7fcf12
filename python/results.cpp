// The result and value classes: Identity, ChannelState, TriggerRow, DacRow, Features,
// Switches, ErrorStatus, PortStatus, Brightness, State, Configuration, ConfigProblem,
// Difference, PortInfo, SearchResult.

#include "casters.h"

#include "bindings.h"
#include "conversions.h"
#include "repr.h"

#include <lumitrax/configuration.h>
#include <lumitrax/controller.h>

#include <algorithm>
#include <cstdint>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace pybind11::literals;

namespace lumitrax::python {
namespace {

bool Same(const lumitrax::ChannelState& a, const lumitrax::ChannelState& b) {
    return a.channel == b.channel && a.brightness == b.brightness && a.on == b.on;
}

bool Same(const lumitrax::Brightness& a, const lumitrax::Brightness& b) {
    return a.memory == b.memory && a.onMask == b.onMask &&
           std::equal(a.channels.begin(), a.channels.end(), b.channels.begin(),
                      [](const auto& x, const auto& y) { return Same(x, y); });
}

std::string Hex(int value, int digits) {
    std::ostringstream s;
    s << "0x" << std::hex << std::setfill('0') << std::setw(digits) << value;
    return s.str();
}

}  // namespace

void BindResults(py::module_& m) {
    py::class_<lumitrax::Identity>(m, "Identity", "Who a controller is (Controller.identity()).")
        .def(py::init<>())
        .def_readwrite("model", &lumitrax::Identity::model, "module name, at most 31 characters")
        .def_readwrite("serial_number", &lumitrax::Identity::serialNumber, "at most 15 characters")
        .def_readwrite("module_id", &lumitrax::Identity::moduleId, "module ID 0..255, as the controller reports it")
        .def_readwrite("firmware", &lumitrax::Identity::firmware, "firmware version text")
        .def_readwrite("fpga", &lumitrax::Identity::fpga, "may be empty")
        .def_readwrite("build", &lumitrax::Identity::build, "firmware build text")
        .def("__repr__", [](const lumitrax::Identity& i) {
            return "Identity(model=" + Quoted(i.model) + ", serial_number=" + Quoted(i.serialNumber) +
                   ", module_id=" + std::to_string(i.moduleId) + ", firmware=" + Quoted(i.firmware) +
                   ", fpga=" + Quoted(i.fpga) + ", build=" + Quoted(i.build) + ")";
        });

    py::class_<lumitrax::ChannelState>(m, "ChannelState", "One channel of the current bright memory.")
        .def(py::init<>())
        .def_readwrite("channel", &lumitrax::ChannelState::channel, "1..16")
        .def_readwrite("brightness", &lumitrax::ChannelState::brightness, "as the controller reports it")
        .def_readwrite("on", &lumitrax::ChannelState::on, "True when the channel is switched on in the current bright memory")
        .def("__repr__", [](const lumitrax::ChannelState& c) {
            return "ChannelState(channel=" + std::to_string(c.channel) + ", brightness=" + std::to_string(c.brightness) +
                   ", on=" + Bool(c.on) + ")";
        })
        .def(
            "__eq__", [](const lumitrax::ChannelState& a, const lumitrax::ChannelState& b) { return Same(a, b); },
            py::is_operator());

    py::class_<lumitrax::TriggerRow>(m, "TriggerRow",
                                     "One strobe trigger row. Give one to Controller.set_trigger(); read ones come "
                                     "from state() and load_trigger_memory().")
        .def(py::init([](int row, bool enable, lumitrax::Edge edge, int delayUs, int onUs) {
                 lumitrax::TriggerRow r;
                 r.row = row;
                 r.enable = enable;
                 r.edge = edge;
                 r.delayUs = delayUs;
                 r.onUs = onUs;
                 return r;
             }),
             "row"_a = 1, "enable"_a.noconvert() = false, "edge"_a = lumitrax::Edge::Positive, "delay_us"_a = 1, "on_us"_a = 1)
        .def_readwrite("row", &lumitrax::TriggerRow::row, "1..4")
        .def_property(
            "enable", [](const lumitrax::TriggerRow& r) { return r.enable; },
            [](lumitrax::TriggerRow& r, const py::handle& v) { r.enable = StrictBool(v); }, "True or False")
        .def_readwrite("edge", &lumitrax::TriggerRow::edge, "the Edge the row fires on")
        .def_readwrite("delay_us", &lumitrax::TriggerRow::delayUs, "1..4000")
        .def_readwrite("on_us", &lumitrax::TriggerRow::onUs, "1..4000")
        .def_readonly("off_us", &lumitrax::TriggerRow::offUs, "read only: the controller keeps ten times the on time")
        .def("__repr__", [](const lumitrax::TriggerRow& r) {
            return "TriggerRow(row=" + std::to_string(r.row) + ", enable=" + Bool(r.enable) + ", edge=" + Repr(r.edge) +
                   ", delay_us=" + std::to_string(r.delayUs) + ", on_us=" + std::to_string(r.onUs) +
                   ", off_us=" + std::to_string(r.offUs) + ")";
        });

    py::class_<lumitrax::DacRow>(m, "DacRow", "One DAC bandwidth row.")
        .def(py::init([](int channel, float low, float high) { return lumitrax::DacRow{channel, low, high}; }),
             "channel"_a = 1, "low"_a = 0.0f, "high"_a = 0.0f)
        .def_readwrite("channel", &lumitrax::DacRow::channel, "1..16 (the file's row 0 is channel 1)")
        .def_property(
            "low", [](const lumitrax::DacRow& r) { return Shortest(r.low); },
            [](lumitrax::DacRow& r, float v) { r.low = v; }, "DAC low value, below high (sent with six decimals)")
        .def_property(
            "high", [](const lumitrax::DacRow& r) { return Shortest(r.high); },
            [](lumitrax::DacRow& r, float v) { r.high = v; }, "DAC high value")
        .def("__repr__", [](const lumitrax::DacRow& r) {
            return "DacRow(channel=" + std::to_string(r.channel) + ", low=" + Repr(Shortest(r.low)) + ", high=" + Repr(Shortest(r.high)) + ")";
        });

    py::class_<lumitrax::Features>(m, "Features", "The six feature switches of a controller.")
        .def(py::init<>())
        .def_readwrite("pwm", &lumitrax::Features::pwm, "PWM dimming in use")
        .def_readwrite("packet", &lumitrax::Features::packet, "brightness packets accepted")
        .def_readwrite("debug", &lumitrax::Features::debug, "debug output")
        .def_readwrite("trigger_input", &lumitrax::Features::triggerInput, "the trigger input in use")
        .def_readwrite("on_off_input", &lumitrax::Features::onOffInput, "the on/off input in use")
        .def_readwrite("soft_start", &lumitrax::Features::softStart, "soft start in use")
        .def("__repr__", [](const lumitrax::Features& f) {
            return "Features(pwm=" + Bool(f.pwm) + ", packet=" + Bool(f.packet) + ", debug=" + Bool(f.debug) +
                   ", trigger_input=" + Bool(f.triggerInput) + ", on_off_input=" + Bool(f.onOffInput) +
                   ", soft_start=" + Bool(f.softStart) + ")";
        });

    py::class_<lumitrax::Switches>(m, "Switches", "The controller's four switches.")
        .def(py::init<>())
        .def_readwrite("mode", &lumitrax::Switches::mode, "the mode switch")
        .def_readwrite("grab", &lumitrax::Switches::grab, "the grab switch")
        .def_readwrite("hold", &lumitrax::Switches::hold, "the hold switch")
        .def_readwrite("high_low", &lumitrax::Switches::highLow, "the high/low switch")
        .def("__repr__", [](const lumitrax::Switches& s) {
            return "Switches(mode=" + Bool(s.mode) + ", grab=" + Bool(s.grab) + ", hold=" + Bool(s.hold) +
                   ", high_low=" + Bool(s.highLow) + ")";
        });

    py::class_<lumitrax::ErrorStatus>(m, "ErrorStatus", "The controller's own error status (\"code:%d,%xh\" on the panel).")
        .def(py::init([](int code, int detail) { return lumitrax::ErrorStatus{code, detail}; }), "code"_a = 0,
             "detail"_a = 0)
        .def_readwrite("code", &lumitrax::ErrorStatus::code, "the error code; 0 when there is no error")
        .def_readwrite("detail", &lumitrax::ErrorStatus::detail, "the error detail bits")
        .def("__repr__",
             [](const lumitrax::ErrorStatus& e) {
                 return "ErrorStatus(code=" + std::to_string(e.code) + ", detail=" + Hex(e.detail, 1) + ")";
             })
        .def(
            "__eq__",
            [](const lumitrax::ErrorStatus& a, const lumitrax::ErrorStatus& b) {
                return a.code == b.code && a.detail == b.detail;
            },
            py::is_operator());

    py::class_<lumitrax::PortStatus>(m, "PortStatus", "The controller's inputs and outputs (Controller.port_status()).")
        .def(py::init([](bool in0, bool in1, bool out0, bool out1) { return lumitrax::PortStatus{in0, in1, out0, out1}; }),
             py::kw_only(), "in0"_a.noconvert() = false, "in1"_a.noconvert() = false, "out0"_a.noconvert() = false,
             "out1"_a.noconvert() = false)
        .def_readwrite("in0", &lumitrax::PortStatus::in0, "input IN0 is active")
        .def_readwrite("in1", &lumitrax::PortStatus::in1, "input IN1 is active")
        .def_readwrite("out0", &lumitrax::PortStatus::out0, "output OUT0 is switched on")
        .def_readwrite("out1", &lumitrax::PortStatus::out1, "output OUT1 is switched on")
        .def("__repr__",
             [](const lumitrax::PortStatus& p) {
                 return "PortStatus(in0=" + Bool(p.in0) + ", in1=" + Bool(p.in1) + ", out0=" + Bool(p.out0) +
                        ", out1=" + Bool(p.out1) + ")";
             })
        .def(
            "__eq__", [](const lumitrax::PortStatus& a, const lumitrax::PortStatus& b) { return a == b; },
            py::is_operator());

    py::class_<lumitrax::Brightness>(m, "Brightness",
                                     "The light of the current bright memory (Controller.current_brightness()).")
        .def(py::init<>())
        .def_readwrite("memory", &lumitrax::Brightness::memory, "the current bright memory, 0..9")
        .def_readwrite("channels", &lumitrax::Brightness::channels,
                       "16 ChannelState of that memory (a list: channels[0] is channel 1)")
        .def_property(
            "on_mask", [](const lumitrax::Brightness& b) { return static_cast<int>(b.onMask); },
            [](lumitrax::Brightness& b, int mask) {
                if (mask < 0 || mask > 0xffff) {
                    throw py::value_error("the on mask is 0..0xffff");
                }
                b.onMask = static_cast<std::uint16_t>(mask);
            },
            "the channels switched on: bit 0 = channel 1 ... bit 15 = channel 16")
        .def("__repr__",
             [](const lumitrax::Brightness& b) {
                 return "Brightness(memory=" + std::to_string(b.memory) + ", on_mask=" + Hex(b.onMask, 4) +
                        ", channels=" + ListRepr(b.channels) + ")";
             })
        .def(
            "__eq__", [](const lumitrax::Brightness& a, const lumitrax::Brightness& b) { return Same(a, b); },
            py::is_operator());

    py::class_<lumitrax::State>(m, "State", "Everything the read-all reports (Controller.state()).")
        .def(py::init<>())
        .def_readwrite("identity", &lumitrax::State::identity, "an Identity")
        .def_readwrite("model_channels", &lumitrax::State::modelChannels, "the model's channel count (4..16)")
        .def_readwrite("trigger_channels", &lumitrax::State::triggerChannels, "the trigger channel count")
        .def_readwrite("offset", &lumitrax::State::offset, "the PWM offset 0..65535")
        .def_readwrite("features", &lumitrax::State::features, "the Features switches")
        .def_readwrite("switches", &lumitrax::State::switches, "the Switches")
        .def_readwrite("error_status", &lumitrax::State::errorStatus, "the controller's ErrorStatus")
        .def_readwrite("out0", &lumitrax::State::out0, "output 0 is on")
        .def_readwrite("out1", &lumitrax::State::out1, "output 1 is on")
        .def_readwrite("in0", &lumitrax::State::in0, "input 0 is on")
        .def_readwrite("in1", &lumitrax::State::in1, "input 1 is on")
        .def_readwrite("tof", &lumitrax::State::tof, "the \"TOF\" input")
        .def_readwrite("bright_memory", &lumitrax::State::brightMemory, "current bright memory 0..9")
        .def_readwrite("trigger_memory", &lumitrax::State::triggerMemory, "current trigger memory 0..9")
        .def_readwrite("channels", &lumitrax::State::channels,
                       "16 ChannelState of the current bright memory (a list: channels[0] is channel 1)")
        .def_readwrite("triggers", &lumitrax::State::triggers, "4 TriggerRow of the current trigger memory")
        .def_readwrite("dac", &lumitrax::State::dac, "16 DacRow")
        .def("__repr__", [](const lumitrax::State& s) {
            return "State(identity=" + Repr(s.identity) + ", model_channels=" + std::to_string(s.modelChannels) +
                   ", trigger_channels=" + std::to_string(s.triggerChannels) + ", offset=" + std::to_string(s.offset) +
                   ", features=" + Repr(s.features) + ", switches=" + Repr(s.switches) +
                   ", error_status=" + Repr(s.errorStatus) + ", out0=" + Bool(s.out0) + ", out1=" + Bool(s.out1) +
                   ", in0=" + Bool(s.in0) + ", in1=" + Bool(s.in1) + ", tof=" + std::to_string(s.tof) +
                   ", bright_memory=" + std::to_string(s.brightMemory) +
                   ", trigger_memory=" + std::to_string(s.triggerMemory) + ", channels=" + ListRepr(s.channels) +
                   ", triggers=" + ListRepr(s.triggers) + ", dac=" + ListRepr(s.dac) + ")";
        });

    py::class_<lumitrax::Configuration>(m, "Configuration",
                                        "A module configuration. Read from a file, a field is present only when the "
                                        "file gives it (None otherwise); read from a controller, every field is present.")
        .def(py::init([](std::optional<std::string> model, std::optional<std::string> serialNumber,
                         std::optional<int> moduleId, std::optional<int> channels, std::optional<int> offset,
                         std::optional<bool> usePwm, std::optional<bool> usePacket, std::optional<bool> useDebug,
                         std::optional<std::vector<std::optional<lumitrax::DacRow>>> dac) {
                 lumitrax::Configuration c;
                 c.model = std::move(model);
                 c.serialNumber = std::move(serialNumber);
                 c.moduleId = moduleId;
                 c.channels = channels;
                 c.offset = offset;
                 c.usePwm = usePwm;
                 c.usePacket = usePacket;
                 c.useDebug = useDebug;
                 if (dac) {
                     if (dac->size() != c.dac.size()) {
                         throw py::value_error("dac holds 16 entries (DacRow or None), one per channel");
                     }
                     std::copy(dac->begin(), dac->end(), c.dac.begin());
                 }
                 return c;
             }),
             py::kw_only(), "model"_a = py::none(), "serial_number"_a = py::none(), "module_id"_a = py::none(),
             "channels"_a = py::none(), "offset"_a = py::none(), "use_pwm"_a.noconvert() = py::none(), "use_packet"_a.noconvert() = py::none(),
             "use_debug"_a.noconvert() = py::none(), "dac"_a = py::none())
        .def_readwrite("model", &lumitrax::Configuration::model, "\"model\"; no command sets it")
        .def_readwrite("serial_number", &lumitrax::Configuration::serialNumber, "\"S/N\", at most 15 bytes on the controller")
        .def_readwrite("module_id", &lumitrax::Configuration::moduleId, "\"ID\"")
        .def_readwrite("channels", &lumitrax::Configuration::channels, "\"channel\"")
        .def_readwrite("offset", &lumitrax::Configuration::offset, "\"pwm_offset\"")
        .def_property(
            "use_pwm", [](const lumitrax::Configuration& c) { return c.usePwm; },
            [](lumitrax::Configuration& c, const py::handle& v) { c.usePwm = StrictOptionalBool(v); },
            "\"use_pwm\": True, False or None")
        .def_property(
            "use_packet", [](const lumitrax::Configuration& c) { return c.usePacket; },
            [](lumitrax::Configuration& c, const py::handle& v) { c.usePacket = StrictOptionalBool(v); },
            "\"use_packet\": True, False or None")
        .def_property(
            "use_debug", [](const lumitrax::Configuration& c) { return c.useDebug; },
            [](lumitrax::Configuration& c, const py::handle& v) { c.useDebug = StrictOptionalBool(v); },
            "\"use_debug\": True, False or None")
        .def_readwrite("dac", &lumitrax::Configuration::dac,
                       "\"dac_bandwidth\": 16 entries, DacRow or None, by channel - 1 (assign a whole list)")
        .def("empty", &lumitrax::Configuration::empty, "True when no field is present.")
        .def("__repr__", [](const lumitrax::Configuration& c) {
            std::string out = "Configuration(";
            const auto field = [&out](const char* name, const std::string& value) {
                if (out.back() != '(') {
                    out += ", ";
                }
                out.append(name).append("=").append(value);
            };
            if (c.model) field("model", Quoted(*c.model));
            if (c.serialNumber) field("serial_number", Quoted(*c.serialNumber));
            if (c.moduleId) field("module_id", std::to_string(*c.moduleId));
            if (c.channels) field("channels", std::to_string(*c.channels));
            if (c.offset) field("offset", std::to_string(*c.offset));
            if (c.usePwm) field("use_pwm", Bool(*c.usePwm));
            if (c.usePacket) field("use_packet", Bool(*c.usePacket));
            if (c.useDebug) field("use_debug", Bool(*c.useDebug));
            if (std::any_of(c.dac.begin(), c.dac.end(), [](const auto& r) { return r.has_value(); })) {
                field("dac", Repr(c.dac));
            }
            return out + ")";
        });

    py::class_<lumitrax::ConfigProblem>(m, "ConfigProblem", "A line of a configuration file that could not be taken as it stands.")
        .def_readonly("line", &lumitrax::ConfigProblem::line, "1-based line number")
        .def_readonly("text", &lumitrax::ConfigProblem::text, "the line as read, without its line break")
        .def_readonly("message", &lumitrax::ConfigProblem::message, "what is wrong with it")
        .def("__repr__", [](const lumitrax::ConfigProblem& p) {
            return "ConfigProblem(line=" + std::to_string(p.line) + ", text=" + Quoted(p.text) +
                   ", message=" + Quoted(p.message) + ")";
        });

    py::class_<lumitrax::Difference>(m, "Difference", "A field in which a controller differs from a configuration.")
        .def_readonly("field", &lumitrax::Difference::field, "the file's keyword: \"pwm_offset\", \"dac_bandwidth 5\"")
        .def_readonly("configuration", &lumitrax::Difference::configuration, "the value as the file writes it")
        .def_readonly("controller", &lumitrax::Difference::controller, "the controller's value in the same form")
        .def("__repr__", [](const lumitrax::Difference& d) {
            return "Difference(field=" + Quoted(d.field) + ", configuration=" + Quoted(d.configuration) +
                   ", controller=" + Quoted(d.controller) + ")";
        });

    py::class_<lumitrax::PortInfo>(m, "PortInfo", "A port the system lists.")
        .def_readonly("name", &lumitrax::PortInfo::name, "\"COM3\": the number stays with the device for the process's life")
        .def_readonly("path", &lumitrax::PortInfo::path, "\"/dev/ttyUSB0\"")
        .def_readonly("description", &lumitrax::PortInfo::description, "\"FT232R USB UART\", may be empty")
        .def("__repr__", [](const lumitrax::PortInfo& p) {
            return "PortInfo(name=" + Quoted(p.name) + ", path=" + Quoted(p.path) + ", description=" + Quoted(p.description) + ")";
        });

    py::class_<lumitrax::SearchResult>(m, "SearchResult", "What search() found on one target.")
        .def_readonly("target", &lumitrax::SearchResult::target, "the port probed, as given")
        .def_readonly("found", &lumitrax::SearchResult::found, "True when a controller answered with its identity")
        .def_readonly("identity", &lumitrax::SearchResult::identity, "when found")
        .def_readonly("problem", &lumitrax::SearchResult::problem,
                      "when not found: why (did not open: the reason; or no answer)")
        .def("__repr__", [](const lumitrax::SearchResult& r) {
            return "SearchResult(target=" + Quoted(r.target) + ", found=" + Bool(r.found) +
                   (r.found ? ", identity=" + Repr(r.identity) : ", problem=" + Quoted(r.problem)) + ")";
        });
}

}  // namespace lumitrax::python
