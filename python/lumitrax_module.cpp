// The Python module "lumitrax": lumitrax::Controller and the configuration functions, one to
// one, with snake_case names. Argument parsing and conversion only; every protocol decision
// stays in liblumitrax.
//
// The GIL is released for every call that opens a port or waits on the line, so other Python
// threads (a camera grab loop) run meanwhile. Callbacks into Python (the traffic handler, the
// progress of apply_configuration) take it back for their own duration.

#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <charconv>
#include <climits>
#include <cstdlib>

#include <lumitrax/configuration.h>
#include <lumitrax/controller.h>
#include <lumitrax/error.h>
#include <lumitrax/version.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>


// An int argument (a channel, a brightness, a memory, ...) takes any Python int: one too large
// for the C int underneath is out of range like any other (ValueError), where pybind11 would
// call it an argument of the wrong type. True and False are not channel numbers.
namespace pybind11::detail {
template <>
struct type_caster<int> {
    PYBIND11_TYPE_CASTER(int, const_name("int"));

    bool load(handle src, bool convert) {
        if (!src || PyFloat_Check(src.ptr()) != 0 || PyBool_Check(src.ptr()) != 0) {
            return false;
        }
        if (!convert && PyLong_Check(src.ptr()) == 0 && PyIndex_Check(src.ptr()) == 0) {
            return false;
        }
        const object index = reinterpret_steal<object>(PyNumber_Index(src.ptr()));
        if (!index) {
            PyErr_Clear();
            return false;
        }
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
        if (overflow == 0 && v == -1 && PyErr_Occurred() != nullptr) {
            PyErr_Clear();
            return false;
        }
        if (overflow != 0 || v < INT_MIN || v > INT_MAX) {
            throw value_error(str(index).cast<std::string>() + " is out of range");
        }
        value = static_cast<int>(v);
        return true;
    }

    static handle cast(int src, return_value_policy /*policy*/, handle /*parent*/) { return PyLong_FromLong(src); }
};
}  // namespace pybind11::detail

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

// ---- exceptions ----

struct Exceptions {
    PyObject* base = nullptr;
    PyObject* port = nullptr;
    PyObject* noAnswer = nullptr;
    PyObject* refused = nullptr;
    PyObject* file = nullptr;
    PyObject* config = nullptr;
    PyObject* cancelled = nullptr;
};
Exceptions exceptions;

PyObject* ClassFor(lumitrax::ErrorKind kind) {
    switch (kind) {
    case lumitrax::ErrorKind::Port: return exceptions.port;
    case lumitrax::ErrorKind::NoAnswer: return exceptions.noAnswer;
    case lumitrax::ErrorKind::Refused: return exceptions.refused;
    case lumitrax::ErrorKind::File: return exceptions.file;
    case lumitrax::ErrorKind::Interrupted: return exceptions.cancelled;
    case lumitrax::ErrorKind::Argument: break;
    }
    return exceptions.base;
}

// Sets the Python exception for e: ValueError for a bad argument, otherwise the lumitrax.Error
// subclass of its kind with .kind, .steps_written and .steps_not_written.
void Raise(const lumitrax::Error& e) {
    if (e.kind() == lumitrax::ErrorKind::Argument) {
        PyErr_SetString(PyExc_ValueError, e.what());
        return;
    }
    const auto* config = dynamic_cast<const lumitrax::ConfigError*>(&e);
    PyObject* type = config != nullptr ? exceptions.config : ClassFor(e.kind());
    py::object error = py::reinterpret_borrow<py::object>(type)(e.what());
    error.attr("kind") = e.kind();
    error.attr("steps_written") = e.stepsWritten();
    error.attr("steps_not_written") = e.stepsNotWritten();
    if (config != nullptr) {
        error.attr("problems") = config->problems();
    }
    PyErr_SetObject(type, error.ptr());
}

PyObject* NewException(py::module_& m, const char* name, PyObject* base, const char* doc) {
    const std::string qualified = std::string("lumitrax.") + name;
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base, nullptr);
    if (type == nullptr) {
        throw py::error_already_set();
    }
    m.add_object(name, py::handle(type));
    return type;
}

// ---- repr ----

std::string Quoted(const std::string& s) { return py::repr(py::str(s)).cast<std::string>(); }

template <typename T>
std::string Repr(const T& value) {
    return py::repr(py::cast(value)).template cast<std::string>();
}

template <typename T>
std::string ListRepr(const T& items) {
    std::string out = "[";
    for (const auto& item : items) {
        if (out.size() > 1) {
            out += ", ";
        }
        out += Repr(item);
    }
    return out + "]";
}

std::string Bool(bool b) { return b ? "True" : "False"; }

// A DAC value (a C float) as the Python float of its shortest decimal: 0.1 reads back as 0.1,
// not as 0.10000000149011612, and compares equal to the 0.1 a script gave.
double Shortest(float v) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    *r.ptr = '\0';
    return std::strtod(text, nullptr);
}

// An on/off value set on a result class: True or False (or a numpy bool), nothing that merely
// has a truth value. None or 0.0 read as False would switch lights off. Arguments get the same
// rule from py::arg().noconvert().
bool StrictBool(const py::handle& v) {
    if (PyBool_Check(v.ptr()) != 0) {
        return v.ptr() == Py_True;
    }
    const std::string type = Py_TYPE(v.ptr())->tp_name;
    if (type == "numpy.bool_" || type == "numpy.bool") {
        return PyObject_IsTrue(v.ptr()) == 1;
    }
    throw py::type_error("True or False expected, not " + type);
}

std::optional<bool> StrictOptionalBool(const py::handle& v) {
    return v.is_none() ? std::nullopt : std::optional<bool>(StrictBool(v));
}

std::string PathArg(const py::object& path) { return py::module_::import("os").attr("fspath")(path).cast<std::string>(); }

// A Python callable kept by C++ code that may drop it on a thread without the GIL.
std::shared_ptr<py::object> HoldCallable(py::object f) {
    return {new py::object(std::move(f)), [](py::object* p) {
                py::gil_scoped_acquire gil;
                delete p;
            }};
}

// ---- the Controller ----

class PyController;

// The running Controller.monitor(): a thread of its own runs the library's monitor() and queues
// the lines, so that the Python side can wait in short steps and let signal handlers
// (Ctrl+C) run between them.
class Monitor {
public:
    // running counts the monitors of one Controller that are running, for its close().
    Monitor(std::shared_ptr<lumitrax::Controller> controller, std::shared_ptr<std::atomic<int>> running)
        : controller_(controller) {
        ++*running;
        struct Uncount {
            std::atomic<int>* n;
            ~Uncount() {
                if (n != nullptr) {
                    --*n;
                }
            }
        } uncount{running.get()};  // unless the thread starts
        thread_ = std::thread([this, controller, running] {
            try {
                controller->monitor([this](const std::string& line) {
                    std::lock_guard lock(mutex_);
                    // A loop slower than the line must not fill memory: the newest lines are kept.
                    if (lines_.size() >= kKeptLines) {
                        lines_.pop_front();
                    }
                    lines_.push_back(line);
                    arrived_.notify_one();
                    return !stop_.load();
                });
            } catch (...) {
                std::lock_guard lock(mutex_);
                error_ = std::current_exception();
            }
            --*running;
            std::lock_guard lock(mutex_);
            running_ = false;
            arrived_.notify_one();
        });
        uncount.n = nullptr;
    }

    ~Monitor() { Stop(); }

    // The next line, or nullopt once the monitor ended.
    std::optional<std::string> Next() {
        for (;;) {
            {
                py::gil_scoped_release release;
                std::unique_lock lock(mutex_);
                arrived_.wait_for(lock, std::chrono::milliseconds(100), [this] { return !lines_.empty() || !running_; });
                if (!lines_.empty()) {
                    std::string line = std::move(lines_.front());
                    lines_.pop_front();
                    return line;
                }
                if (!running_) {
                    lock.unlock();
                    Join();
                    if (error_) {
                        std::rethrow_exception(std::exchange(error_, nullptr));
                    }
                    return std::nullopt;
                }
            }
            if (PyErr_CheckSignals() != 0) {
                const py::error_already_set interrupt;  // KeyboardInterrupt, usually
                Stop();
                throw interrupt;
            }
        }
    }

    // Ends the monitor and waits for its thread; the lines not yet taken are dropped.
    void Stop() {
        py::gil_scoped_release release;
        stop_.store(true);
        for (;;) {
            // The library clears its cancel flag when a call starts, so ask until it has ended.
            if (auto c = controller_.lock()) {
                c->cancel();
            }
            std::unique_lock lock(mutex_);
            if (arrived_.wait_for(lock, std::chrono::milliseconds(20), [this] { return !running_; })) {
                break;
            }
        }
        Join();
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    void Join() {
        std::lock_guard lock(joinMutex_);
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    static constexpr std::size_t kKeptLines = 4096;

    std::weak_ptr<lumitrax::Controller> controller_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;  // guards lines_, running_, error_
    std::condition_variable arrived_;
    std::deque<std::string> lines_;
    bool running_ = true;
    std::exception_ptr error_;
    std::mutex joinMutex_;
    std::thread thread_;  // last: started when every member above exists
};

// The Controllers whose traffic handler runs on this thread (innermost last).
thread_local std::vector<const PyController*> tlHandlersRunning;

bool InOwnHandler(const PyController* c) {
    return std::find(tlHandlersRunning.begin(), tlHandlersRunning.end(), c) != tlHandlersRunning.end();
}

class PyController {
public:
    PyController(const std::string& target, int timeoutMs, const std::atomic<bool>& stop)
        : target_(target), controller_(std::make_shared<lumitrax::Controller>(target, timeoutMs, stop)) {}

    ~PyController() {
        if (InOwnHandler(this)) {
            // Dropped by its own traffic handler: the port cannot close on a thread that is inside
            // it, so another thread closes it once the handler has returned.
            std::shared_ptr<lumitrax::Controller> c = std::move(controller_);
            std::thread([c = std::move(c)]() mutable { c.reset(); }).detach();
            return;
        }
        // Python drops the object with the GIL held; the receive thread may be waiting for it in
        // the traffic handler, so let go while the port closes.
        if (Py_IsInitialized() != 0 && PyGILState_Check() != 0) {
            py::gil_scoped_release release;
            Drop();
        } else {
            Drop();
        }
    }

    // The Controller for one call; Error(Port) once closed. Any thread, GIL held or not.
    std::shared_ptr<lumitrax::Controller> Get() const {
        std::lock_guard lock(mutex_);
        if (!controller_) {
            throw lumitrax::Error(lumitrax::ErrorKind::Port, target_ + ": the port is closed");
        }
        return controller_;
    }

    // Closes the port once every call that is running on another thread has ended: such a call
    // is let finish (a configuration write is not cut in half), a running monitor is cancelled.
    // Sends nothing. Called with the GIL released.
    void Close() {
        if (InOwnHandler(this)) {
            throw lumitrax::Error(lumitrax::ErrorKind::Argument,
                                  target_ + ": close() from its own traffic handler would wait for itself; "
                                            "call cancel() there and close() after the call");
        }
        std::weak_ptr<lumitrax::Controller> last = Drop();
        while (auto c = last.lock()) {
            // Asked again and again: the library clears its cancel flag when a call starts, and
            // a monitor may be queued behind another call.
            if (monitors_->load() > 0) {
                c->cancel();
            }
            c.reset();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    std::unique_ptr<Monitor> StartMonitor() { return std::make_unique<Monitor>(Get(), monitors_); }

    bool closed() const {
        std::lock_guard lock(mutex_);
        return !controller_;
    }
    const std::string& target() const { return target_; }

private:
    std::weak_ptr<lumitrax::Controller> Drop() {
        std::lock_guard lock(mutex_);
        return std::exchange(controller_, nullptr);
    }

    std::string target_;
    mutable std::mutex mutex_;  // guards controller_
    std::shared_ptr<lumitrax::Controller> controller_;
    std::shared_ptr<std::atomic<int>> monitors_ = std::make_shared<std::atomic<int>>(0);
};

// Python's main thread, the one its signal handlers (Ctrl+C) run on; found at import.
unsigned long g_mainThread = 0;

// Runs call(); called with the GIL released. On Python's main thread the call runs on a thread
// of its own while this one looks for Ctrl+C every 50 ms: a KeyboardInterrupt cancels the call
// (cancel(), asked until the call has ended; a controller stops waiting within 250 ms) and is
// raised once the call has ended, with the call's own error (a CancelledError naming the steps
// written) as its context, or with a note when the call completed all the same.
template <typename C, typename F>
auto InterruptibleBy(const C& cancel, const F& call) -> decltype(call()) {
    if (PyThread_get_thread_ident() != g_mainThread) {
        return call();
    }
    std::future<decltype(call())> done;
    try {
        done = std::async(std::launch::async, call);
    } catch (const std::system_error&) {  // no thread to be had: no Ctrl+C either
        return call();
    }
    while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() == 0) {
            continue;
        }
        const py::error_already_set interrupt;
        {
            // The library clears its cancel flag when a call starts: ask until this one has
            // ended, in case it was still waiting for a call on another thread.
            py::gil_scoped_release release;
            do {
                cancel();
            } while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready);
        }
        try {
            done.get();
            // Stopped too late: its last command had been answered. Say so, or a script would
            // take a completed write for an interrupted one.
            if (py::hasattr(interrupt.value(), "add_note")) {
                interrupt.value().attr("add_note")("lumitrax: the call had completed when it was interrupted");
            }
        } catch (const lumitrax::Error& e) {
            Raise(e);
            const py::error_already_set failed;
            if (PyExceptionInstance_Check(interrupt.value().ptr()) != 0) {
                PyException_SetContext(interrupt.value().ptr(), failed.value().inc_ref().ptr());
            }
        } catch (...) {  // the interrupt is what the caller hears
        }
        throw interrupt;
    }
    return done.get();
}

// The same for a call of controller c.
template <typename F>
auto Interruptible(lumitrax::Controller& c, const F& call) -> decltype(call()) {
    return InterruptibleBy([&c] { c.cancel(); }, call);
}

// A Controller call bound as a method: f(controller, args...) on the open Controller, which a
// close() on another thread cannot destroy while f runs.
template <typename R, typename... A>
auto Waiting(R (*f)(lumitrax::Controller&, A...)) {
    return [f](PyController& self, A... args) -> R {
        const std::shared_ptr<lumitrax::Controller> c = self.Get();
        return Interruptible(*c, [&] { return f(*c, args...); });
    };
}

// ---- docstrings ----

constexpr const char* kModuleDoc = R"(Lumitrax LED lighting controllers from Python.

    import lumitrax
    with lumitrax.Controller("/dev/ttyUSB0") as c:
        print(c.identity().serial_number)
        c.set_brightness(3, 512)          # channel 1..16, brightness 0..1024
        state = c.state()

Conventions of every call:
- Channels are counted 1..16, trigger rows 1..4, memories 0..9, as the operator's panel shows
  them. The controller's own 8-bit text (Korean in code page 949) is converted both ways.
- Arguments are checked before anything is written: an out-of-range value raises ValueError
  and nothing reaches the line.
- A call returns when the controller has answered every command it sent, not after a fixed
  wait; where an echo could pass for the answer, once a line only an answer gives has come
  (the acknowledgement after the echo, or the answer to one more query, "getoffset"), so a
  refusal counts however late it comes. No answer within the
  timeout (default 1000 ms, counted from the last command sent) raises NoAnswerError; a reply
  line starting with "error" raises RefusedError with that line. After a call that failed on
  the line, the next one first sends "getoffset" and passes over every line before its
  answer, so that a late answer never passes for its own. A lost connection raises PortError
  at the next call.
- Ctrl+C during a call on the main thread stops it within 250 ms (a configuration write after
  the command on the line) and raises KeyboardInterrupt, whose __context__ is the call's
  CancelledError with .steps_written and .steps_not_written. A call of the same Controller on
  another thread that it waits behind is cancelled too (CancelledError there).
- Closing a Controller (close(), leaving a with block, or dropping it) leaves the lights as
  they are: it sends nothing.
- The GIL is released while a call waits on the line. A Controller may be used from several
  threads; its calls run one at a time. cancel() may be called from any thread.)";

constexpr const char* kControllerDoc = R"(One Lumitrax controller on one port.

Controller(target, timeout_ms=1000) opens target: a device path ("/dev/ttyUSB0",
"/dev/serial/by-id/...", a pseudo-terminal) or "COM<n>" as list_ports() names it. 115200 baud,
8N1, no flow control. Sends nothing. Raises PortError with the reason (missing, no permission
and what to do, held by another program, not a serial device), ValueError for a timeout
outside 1..600000 ms.

A context manager: leaving the with block closes the port, as close() does. Use one Controller
per port: a second one on a port that one holds raises PortError.)";

}  // namespace

PYBIND11_MODULE(lumitrax, m) {
    m.doc() = kModuleDoc;
    m.attr("__version__") = lumitrax::version();
    m.def("version", &lumitrax::version, "The library's version, the same as the programs' --version (\"2.5.0\").");
    m.attr("CHANNELS") = lumitrax::kChannels;
    m.attr("MAX_BRIGHTNESS") = lumitrax::kMaxBrightness;
    m.attr("TRIGGER_ROWS") = lumitrax::kTriggerRows;
    m.attr("MEMORIES") = lumitrax::kMemories;
    m.attr("MAX_TRIGGER_US") = lumitrax::kMaxTriggerUs;
    m.attr("DEFAULT_TIMEOUT_MS") = lumitrax::kDefaultTimeoutMs;
    m.attr("MAX_RAW_LENGTH") = lumitrax::kMaxRawLength;

    // ---- enums ----
    py::enum_<lumitrax::ErrorKind>(m, "ErrorKind", "What kind of failure a lumitrax.Error is.")
        .value("Argument", lumitrax::ErrorKind::Argument, "a value out of range, a malformed request: nothing was sent (ValueError)")
        .value("Port", lumitrax::ErrorKind::Port, "the port did not open, or the connection to it was lost")
        .value("NoAnswer", lumitrax::ErrorKind::NoAnswer, "the controller did not answer within the timeout")
        .value("Refused", lumitrax::ErrorKind::Refused, "the controller answered with an \"error\" line")
        .value("File", lumitrax::ErrorKind::File, "a configuration file that cannot be read, is invalid, or cannot be written")
        .value("Interrupted", lumitrax::ErrorKind::Interrupted, "cancel() stopped the call between two commands");
    m.def("error_kind_name", &lumitrax::ErrorKindName, "kind"_a,
          "The kind's name as programs read it: \"argument\", \"port\", \"no answer\", \"refused\", \"file\", "
          "\"interrupted\"; the same as the C++ lumitrax::ErrorKindName() and the \"kind\" of the command-line "
          "tool's --json errors.");
    py::enum_<lumitrax::Edge>(m, "Edge", "The edge a trigger row fires on.")
        .value("Positive", lumitrax::Edge::Positive, "fires on the rising edge of the trigger input")
        .value("Negative", lumitrax::Edge::Negative, "fires on the falling edge");
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
    exceptions.base = NewException(m, "Error", PyExc_Exception,
                                   "A failure of a controller or configuration call. .kind is an ErrorKind; for a "
                                   "multi-step write that stopped part way, .steps_written and .steps_not_written "
                                   "name the steps that reached the controller and those that did not.");
    py::handle base(exceptions.base);
    base.attr("kind") = py::none();
    base.attr("steps_written") = py::tuple();
    base.attr("steps_not_written") = py::tuple();
    exceptions.port = NewException(m, "PortError", exceptions.base,
                                   "The port did not open (the reason is in the message), the connection was lost, "
                                   "or the Controller was closed.");
    exceptions.noAnswer = NewException(m, "NoAnswerError", exceptions.base,
                                       "The controller did not answer within the timeout.");
    exceptions.refused = NewException(m, "RefusedError", exceptions.base,
                                      "The controller answered with an \"error\" line (in the message).");
    exceptions.file = NewException(m, "FileError", exceptions.base,
                                   "A configuration file cannot be read, is invalid, or cannot be written.");
    exceptions.config = NewException(m, "ConfigError", exceptions.file,
                                     "A configuration that fails the checks; .problems lists a ConfigProblem per bad line.");
    py::handle(exceptions.config).attr("problems") = py::list();
    exceptions.cancelled = NewException(m, "CancelledError", exceptions.base,
                                        "cancel() stopped a multi-command write between two commands (ErrorKind.Interrupted); "
                                        ".steps_written and .steps_not_written say how far it came.");
    g_mainThread = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) {
                std::rethrow_exception(p);
            }
        } catch (const lumitrax::Error& e) {
            Raise(e);
        }
    });

    // ---- results ----
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
        });

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
        .def(py::init<>())
        .def_readwrite("code", &lumitrax::ErrorStatus::code, "the error code; 0 when there is no error")
        .def_readwrite("detail", &lumitrax::ErrorStatus::detail, "the error detail bits")
        .def("__repr__", [](const lumitrax::ErrorStatus& e) {
            std::ostringstream s;
            s << "ErrorStatus(code=" << e.code << ", detail=0x" << std::hex << e.detail << ")";
            return s.str();
        });

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
          R"(Probes the targets side by side (up to 64 at a time, each on a thread): opens it, sends a carriage
return and "echo 0", asks for the identity and waits up to timeout_ms for it. A controller is
found when its model, firmware, build and serial number came. Returns a SearchResult per
target, in the order of targets. Leaves the lights as they are. Never raises for a port;
ValueError for a timeout outside 1..600000 ms. Ctrl+C stops the probes within 50 ms (opening a
network target is not cut short) and raises KeyboardInterrupt.)");

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

    // ---- Monitor and Controller ----
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
        .def(
            "set_traffic_handler",
            [](PyController& self, const py::object& handler) {
                std::function<void(lumitrax::Direction, const std::string&)> f;
                if (!handler.is_none() && PyCallable_Check(handler.ptr()) == 0) {
                    throw py::type_error("the traffic handler is a callable or None");
                }
                if (!handler.is_none()) {
                    f = [held = HoldCallable(handler), owner = &self](lumitrax::Direction direction,
                                                                      const std::string& text) {
                        py::gil_scoped_acquire gil;
                        tlHandlersRunning.push_back(owner);
                        try {
                            (*held)(direction, text);
                        } catch (py::error_already_set& e) {
                            e.discard_as_unraisable("lumitrax traffic handler");
                        }
                        tlHandlersRunning.pop_back();
                    };
                }
                const auto c = self.Get();
                py::gil_scoped_release release;
                c->setTrafficHandler(std::move(f));
            },
            "handler"_a,
            R"doc(handler(direction, text) is called with every command sent (its text without the carriage
return; the binary packet as "(brightness packet)") and every line received, on the thread
that sent it or on the library's receive thread. For logging: a call of this Controller from
it (close() too) raises ValueError; cancel() is allowed. An exception it raises is reported
as unraisable and otherwise ignored. None removes it.)doc")
        .def("identity", Waiting(+[](lumitrax::Controller& c) { return c.identity(); }),
             py::call_guard<py::gil_scoped_release>(),
             "Sends getmoduleinfo, getbuildinfo, getfwversioninfo, getfpgaversioninfo, getsn and getmoduleid; waits "
             "for their answers and returns an Identity.")
        .def("state", Waiting(+[](lumitrax::Controller& c) { return c.state(); }), py::call_guard<py::gil_scoped_release>(),
             R"(The read-all: identity, switches, configuration, error status, memories, DAC table,
brightness and on state of the current bright memory, trigger rows 1..4 of the current trigger
memory, inputs and outputs (29 queries, ~0.3 s). Sends only queries. Returns a State.)")
        .def("set_brightness", Waiting(+[](lumitrax::Controller& c, int channel, int value) { c.setBrightness(channel, value); }),
             py::call_guard<py::gil_scoped_release>(), "channel"_a, "value"_a,
             "Sends \"# <channel-1> <value>\": channel 1..16, value 0..1024. Waits for the acknowledgement.")
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
             R"(Switches the given channels (1..16, at least one) on or off and leaves the others as they
are: reads the current bright memory's on mask (getbrightindex, getonex), then sends one
"setonex" with those bits changed. Returns the mask sent (bit 0 = channel 1).)")
        .def("switch_all", Waiting(+[](lumitrax::Controller& c, bool on) { return c.switchAll(on); }),
             py::call_guard<py::gil_scoped_release>(), "on"_a.noconvert(),
             "One \"setonex 0000ffff\" or \"setonex 00000000\"; returns the mask sent.")
        .def("set_trigger", Waiting(+[](lumitrax::Controller& c, const lumitrax::TriggerRow& row) { c.setTrigger(row); }),
             py::call_guard<py::gil_scoped_release>(), "row"_a,
             R"(Sends "settrigger" for a TriggerRow: row 1..4, delay_us and on_us 1..4000; the controller
is sent the times minus one and an off time of ten times the sent on time.)")
        .def("fire_one_shot", Waiting(+[](lumitrax::Controller& c) { c.fireOneShot(); }),
             py::call_guard<py::gil_scoped_release>(),
             "\"setoneshottrig\": fires one trigger with the settings the controller holds.")
        .def("save_bright_memory", Waiting(+[](lumitrax::Controller& c, int memory) { c.saveBrightMemory(memory); }),
             py::call_guard<py::gil_scoped_release>(), "memory"_a,
             "\"savebright M\", memory 0..9. The controller writes its flash; returns on its acknowledgement.")
        .def("save_trigger_memory", Waiting(+[](lumitrax::Controller& c, int memory) { c.saveTriggerMemory(memory); }),
             py::call_guard<py::gil_scoped_release>(), "memory"_a,
             "\"savetrigger M\", memory 0..9. The controller writes its flash; returns on its acknowledgement.")
        .def("load_bright_memory", Waiting(+[](lumitrax::Controller& c, int memory) { return c.loadBrightMemory(memory); }),
             py::call_guard<py::gil_scoped_release>(), "memory"_a,
             "\"loadbright M\" (0..9); returns the 16 ChannelState it brought back.")
        .def("load_trigger_memory", Waiting(+[](lumitrax::Controller& c, int memory) { return c.loadTriggerMemory(memory); }),
             py::call_guard<py::gil_scoped_release>(), "memory"_a,
             "\"loadtrigger M\" (0..9); returns the TriggerRow 1..4 it brought back.")
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
            R"(Writes a Configuration into the controller. Every value is checked and every command built
before the first is sent (ValueError on a bad one, nothing sent). The fields the configuration
lacks, and the trigger channel count, on/off input, soft start and trigger input switches that
no file holds, are first read from the controller and sent as it has them. Steps, in order,
each waiting for its answers: "identity and switches", "save serial number" (then 500 ms for
the flash), "save module ID" (500 ms), "DAC table", "offset", "save model" (500 ms). The model
name has no command and is not sent. An error in a step, or cancel(), ends the write after the
command on the line and raises with .steps_written / .steps_not_written (CancelledError for
cancel()). progress, when given, is called with each step's name once it was written; an
exception it raises ends the write.)")
        .def("verify_configuration",
             Waiting(+[](lumitrax::Controller& c, const lumitrax::Configuration& configuration) {
                 return c.verifyConfiguration(configuration);
             }),
             py::call_guard<py::gil_scoped_release>(), "configuration"_a,
             R"(The fields configuration holds that the controller does not have, in file order, as
Difference. Each field is compared as apply sends it: ID and channel count as their low byte,
offset as its low 16 bits, switches as on/off, DAC values with six decimals, texts exactly.)")
        .def("raw", Waiting(+[](lumitrax::Controller& c, const std::string& text) { return c.raw(text); }),
             py::call_guard<py::gil_scoped_release>(), "text"_a,
             R"(Sends text (one line, at most MAX_RAW_LENGTH bytes once encoded) and a carriage return,
then collects the reply lines for exactly the timeout and returns them. Raises RefusedError when
one of them starts with "error", NoAnswerError when none came.)")
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
            R"(Asks the running call (on another thread) to stop: it sends no further command, waits at most
250 ms more for the answers to those sent and raises CancelledError (a configuration write
names the steps written and not); a monitor ends.)");
}
