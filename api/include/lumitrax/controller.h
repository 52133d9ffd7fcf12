#pragma once
// lumitrax::Controller: one Lumitrax LED lighting controller on one port.
//
//   #include <lumitrax/controller.h>
//   lumitrax::Controller c{"/dev/ttyUSB0"};   // throws lumitrax::Error with the reason
//   lumitrax::Identity id = c.identity();
//   c.setBrightness(3, 512);                   // channel 1..16, brightness 0..1024
//
// Conventions of every call:
// - Channels are counted 1..16, trigger rows 1..4, memories 0..9, as the operator's panel
//   shows them. Texts are UTF-8; the controller's own 8-bit text (Korean in code page 949)
//   is converted both ways, and bytes that do not decode survive the round trip.
// - Arguments are checked before anything is written: an out-of-range value throws
//   Error(ErrorKind::Argument) and nothing reaches the line.
// - Every command is followed by the controller's 10 ms pacing. A call returns when the
//   controller has answered every command it sent, not after a fixed wait. Where a terminal's
//   echo of the command line would pass for its acknowledgement ("setonex 0000ffff",
//   "# 2 512"), the outcome is decided by a line that only an answer gives, never by a wait,
//   so a refusal counts however late it comes: with a controller seen to echo (a query's own
//   line came just before its answer), such a command takes two lines, the echo and then the
//   acknowledgement or the refusal; otherwise (no echo, not known yet, or after raw(), which
//   may switch it) the call ends with one more query, "getoffset", which the controller
//   answers only after every line of the commands before it: 10 ms more. No answer within
//   the timeout (default 1000 ms, counted from the last command sent) throws
//   Error(ErrorKind::NoAnswer); a reply line whose first word is "error" throws
//   Error(ErrorKind::Refused) with that line. Success is never reported for either.
// - After a call that failed on the line (no answer, refused, interrupted; raw() that heard
//   nothing), the next call first sends one query ("getoffset") and passes
//   over every line before its answer: an answer still on its way to the failed call (a
//   controller answering after the timeout) never passes for the next call's.
// - The connection (see ConnectionState and Options): a call made while it is not Connected
//   throws Error(ErrorKind::Port) at once ("connection lost, reconnecting"); a call in flight
//   when the line drops throws Error(ErrorKind::Port) within about 100 ms, naming in
//   stepsWritten() the commands that went out. By default the Controller reopens the same
//   target by itself (a /dev/serial/by-id/ link after a USB replug, a device server that
//   returns). Nothing is re-sent after a reconnection: the lights stay as the controller holds
//   them, and only the caller knows whether to restore a state.
// - Destroying a Controller closes the port and leaves the lights as they are: it sends
//   nothing.
//
// Threads: the library runs its own threads per Controller (the port's receive thread, a
// supervisor that watches and reopens the connection, and one that delivers to subscribers)
// and needs no Qt object, event loop or application object from its caller. A Controller may
// be called from any thread; its calls are served one at a time, in the order they were made,
// and never interleave on the wire. Subscribers (subscribe(), onConnectionChange()) and
// monitor() run beside the calls. cancel() may be called from any thread and from a signal
// handler. A call made back into a Controller from inside one of its own calls (the traffic
// handler, applyConfiguration's progress) throws Error(ErrorKind::Argument) rather than wait for
// itself; cancel() is allowed there. Use one Controller per port: a second Controller on a port
// that one holds fails with ErrorKind::Port.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lumitrax/configuration.h"
#include "lumitrax/error.h"
#include "lumitrax/export.h"

namespace lumitrax {

constexpr int kChannels = 16;        // channels 1..16
constexpr int kMaxBrightness = 1024; // brightness 0..1024
constexpr int kTriggerRows = 4;      // trigger rows 1..4
constexpr int kMemories = 10;        // bright and trigger memories 0..9
constexpr int kMaxTriggerUs = 4000;  // trigger delay and on time 1..4000 us
constexpr int kDefaultTimeoutMs = 1000;
// The longest raw command text: the link carries at most 63 characters per command, the
// carriage return that raw() adds included.
constexpr int kMaxRawLength = 62;

// The library's version, the same as the programs' --version ("2.5.0").
LUMITRAX_API const char* version() noexcept;

struct Identity {
    std::string model;         // module name, at most 31 characters
    std::string serialNumber;  // at most 15 characters
    int moduleId = 0;
    std::string firmware;
    std::string fpga;          // may be empty
    std::string build;
};

struct ChannelState {
    int channel = 0;      // 1..16
    int brightness = 0;   // 0..1024 as set (the controller's own number, not checked when read)
    bool on = false;      // the channel's bit in the memory's on mask
};

enum class Edge { Positive, Negative };

struct TriggerRow {
    int row = 1;          // 1..4
    bool enable = false;
    Edge edge = Edge::Positive;
    int delayUs = 1;      // 1..4000
    int onUs = 1;         // 1..4000
    int offUs = 0;        // read only: the controller keeps ten times the on time
};

// The four switches on the controller's front, as "getswitch" reports them (true = on).
struct Switches {
    bool mode = false;     // MODE
    bool grab = false;     // GRAB
    bool hold = false;     // HOLD
    bool highLow = false;  // HIGH/LOW
};

// The controller's own error status ("geterrstatus"; "code:%d,%xh" on the panel).
struct ErrorStatus {
    int code = 0;    // 0: no error; otherwise the controller's error number, 0..255
    int detail = 0;  // the controller's detail bits for it, 0..255 (shown in hexadecimal)
    bool operator==(const ErrorStatus& o) const { return code == o.code && detail == o.detail; }
    bool operator!=(const ErrorStatus& o) const { return !(*this == o); }
};

// Everything the read-all reports.
struct State {
    Identity identity;
    int modelChannels = 0;
    int triggerChannels = 0;
    int offset = 0;               // the controller's offset value ("getoffset"), 0..65535
    Features features;
    Switches switches;
    ErrorStatus errorStatus;
    bool out0 = false;            // output OUT0 switched on
    bool out1 = false;            // output OUT1 switched on
    bool in0 = false;             // input IN0 active
    bool in1 = false;             // input IN1 active
    int tof = 0;                  // the state of the "TOF" input ("gettotalonoff"), 0..255 as reported
    int brightMemory = 0;         // current bright memory 0..9
    int triggerMemory = 0;        // current trigger memory 0..9
    std::array<ChannelState, kChannels> channels{};   // of the current bright memory
    std::array<TriggerRow, kTriggerRows> triggers{};  // of the current trigger memory
    std::array<DacRow, kChannels> dac{};
};

// Which way a line of traffic went (setTrafficHandler).
enum class Direction { Sent, Received };

// Where a Controller's connection stands.
//   Connected     the port is open and calls go to the controller.
//   Lost          the transport said it ended (hang-up, read error, the server closed or reset
//                 the connection), or a heartbeat query went unanswered, and reconnection is
//                 off (Options::reconnect): it stays so until reconnect(). With reconnection on
//                 a loss shows as Reconnecting at once.
//   Reconnecting  the same target is being reopened, with backoff (about 100 ms, doubling up to
//                 about 2 s between tries) until it opens or the Controller is closed.
//   Closed        the Controller was closed or is being destroyed; it does not come back.
enum class ConnectionState { Connected, Lost, Reconnecting, Closed };

// "connected", "lost", "reconnecting", "closed".
LUMITRAX_API const char* connectionStateName(ConnectionState state) noexcept;

constexpr int kDefaultConnectTimeoutMs = 3000;
constexpr int kMaxTimeoutMs = 600000;

// How a Controller opens, waits and keeps its connection (the constructor's options).
struct Options {
    // How long a call waits for answers after its last command: 1..600000 ms.
    int timeoutMs = kDefaultTimeoutMs;
    // How long opening a network target (tcp://, rfc2217://) may take to connect: 1..600000 ms.
    // A device path opens or fails at once.
    int connectTimeoutMs = kDefaultConnectTimeoutMs;
    // Reopen the same target by itself after a loss (backoff about 100 ms up to about 2 s).
    // Off: a lost Controller stays Lost until reconnect() is called.
    bool reconnect = true;
    // 0: off. Otherwise, once the line has been idle (nothing sent or received) this many
    // milliseconds, one query ("getoffset") is sent; no answer within timeoutMs counts as a lost
    // connection. 100..600000 ms.
    int heartbeatMs = 0;
    // false: a target that does not open at construction does not throw (but for a malformed
    // name or a bad option: Error(Argument)); the Controller starts Lost and, with reconnect
    // on, keeps trying. For a service that must start while a controller is unplugged.
    bool requireOpen = true;
};

// The controller's inputs and outputs (getportstatus).
struct PortStatus {
    bool in0 = false;   // input IN0 is active
    bool in1 = false;   // input IN1 is active
    bool out0 = false;  // output OUT0 is switched on
    bool out1 = false;  // output OUT1 is switched on
    bool operator==(const PortStatus& o) const {
        return in0 == o.in0 && in1 == o.in1 && out0 == o.out0 && out1 == o.out1;
    }
    bool operator!=(const PortStatus& o) const { return !(*this == o); }
};

// The light of the current bright memory (currentBrightness).
struct Brightness {
    int memory = 0;                                   // the current bright memory, 0..9
    std::array<ChannelState, kChannels> channels{};   // channels 1..16 of that memory
    std::uint16_t onMask = 0;                         // bit 0 = channel 1 on, ... bit 15 = channel 16
};

class Controller;
struct Recipe;        // lumitrax/recipe.h
struct RecipeReport;  // lumitrax/recipe.h

// A subscription's lifetime (Controller::subscribe, onConnectionChange). Destroying it, or
// calling cancel(), ends the deliveries; when it returns, no callback of it runs any more
// (unless cancel() is called from inside one of its own callbacks, which only stops later
// ones). Moves; does not copy. An empty Subscription (default-constructed or moved from)
// does nothing.
class LUMITRAX_API Subscription {
public:
    Subscription() noexcept;
    ~Subscription();
    Subscription(Subscription&& other) noexcept;
    Subscription& operator=(Subscription&& other) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    void cancel() noexcept;
    // Received lines dropped because this subscriber was slower than the line: at most 4096
    // deliveries wait, the oldest line goes first (a state change is never dropped).
    std::uint64_t dropped() const noexcept;

    struct Impl;

private:
    friend class Controller;
    explicit Subscription(std::shared_ptr<Impl> impl) noexcept;
    std::shared_ptr<Impl> d;
};

class LUMITRAX_API Controller {
public:
    // Opens target: a device path ("/dev/ttyUSB0", "/dev/serial/by-id/...", a pseudo-terminal),
    // "COM<n>" as ports() lists it, or a serial device server's "tcp://HOST:PORT" or
    // "rfc2217://HOST:PORT". 115200 baud, 8 data bits, no parity, 1 stop bit, no flow
    // control. Sends nothing. Throws Error(Port) with the reason (missing, no permission and
    // what to do, held by another program, not a serial device; for a server: refused, host
    // not found, no answer within 3 s, or the connection closed at once, quoting what the
    // server said then, such as ser2net's "Port already in use"). A timeoutMs outside
    // 1..600000 throws Error(Argument) before anything is opened. The Controller reopens the
    // target by itself after a loss (Options' defaults; see the other constructors).
    explicit Controller(const std::string& target, int timeoutMs = kDefaultTimeoutMs);
    // The same, but stop set (from any thread or a signal handler) while a network target is
    // still connecting ends the open within 50 ms: throws Error(Interrupted), nothing was sent.
    // stop must outlive the constructor; it is not looked at afterwards.
    Controller(const std::string& target, int timeoutMs, const std::atomic<bool>& stop);
    // Opens target with options (see Options; a value out of its range throws
    // Error(Argument) before anything is opened). With options.reconnect on (the default) the
    // Controller reopens the target by itself whenever the connection is lost. stop, when given,
    // cuts the first open short as above; it is not looked at afterwards.
    Controller(const std::string& target, const Options& options);
    Controller(const std::string& target, const Options& options, const std::atomic<bool>& stop);
    // Closes the port (Closed is delivered to subscribers first); sends nothing, so the lights
    // stay as they are. Waits for a call running on another thread to end (it fails with
    // Error(Port) within about 100 ms) and for a subscriber's callback that is running.
    ~Controller();

    // A Controller neither copies nor moves (its threads hold on to it): hold it by
    // std::unique_ptr to hand it around.
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    const std::string& target() const noexcept;

    // ---- connection ----

    // Any thread, never blocks.
    ConnectionState connectionState() const noexcept;
    bool isConnected() const noexcept;
    // Closes the connection now and reopens the same target, waiting up to the connect
    // timeout (for a device path: at once). Throws Error(Port) with the reason when it does not
    // open (with reconnection on the Controller goes on trying by itself) and Error(Port) after
    // close(). Sends nothing: the lights stay as the controller holds them. Waits for a call
    // running on another thread, which ends with Error(Port).
    void reconnect();
    // Closes the connection for good: state Closed, every later call throws Error(Port). A call
    // running on another thread ends with Error(Port). Sends nothing.
    void close();
    // Calls onChange with every change of connectionState(), on a library thread of this
    // Controller (the same one for every subscriber, in order of the changes), never while a
    // lock of this Controller is held: a callback may make calls on this Controller (they block
    // the deliveries to every subscriber meanwhile). An exception it throws is dropped.
    [[nodiscard]] Subscription onConnectionChange(std::function<void(ConnectionState)> onChange);
    // The same, and onLine with every line received from the controller (UTF-8, without its line
    // break), in order, interleaved with the changes as they happened. Either may be empty.
    // Lines are delivered while other threads make calls: a subscriber sees their answers.
    [[nodiscard]] Subscription subscribe(std::function<void(const std::string& line)> onLine,
                                         std::function<void(ConnectionState)> onChange = {});

    // How long a call waits for answers after its last command: 1..600000 ms.
    void setTimeout(int milliseconds);
    int timeout() const noexcept;

    // Called with every command sent (its text without the carriage return; the binary
    // packet as "(brightness packet)") on the thread making the call (or the supervisor's, for a
    // heartbeat), and every line received, on the receive thread; kept across reconnections. For
    // logging: a call into this Controller from it throws Error(Argument), and an exception it
    // throws on the receive thread is dropped. To watch the traffic from another thread, use
    // subscribe().
    void setTrafficHandler(std::function<void(Direction, const std::string&)> handler);

    // Sends getmoduleinfo, getbuildinfo, getfwversioninfo, getfpgaversioninfo, getsn and
    // getmoduleid; waits for their answers.
    Identity identity();

    // The read-all: identity, switches, configuration, error status, memories, DAC table,
    // brightness and on state of the current bright memory, trigger rows 1..4 of the current
    // trigger memory, inputs and outputs (29 queries, ~0.3 s). Sends only queries.
    State state();

    // "# <channel-1> <value>". channel 1..16, value 0..1024. Waits for the acknowledgement.
    void setBrightness(int channel, int value);
    // The same for channels 1..16 in turn (16 commands).
    void setAllBrightness(int value);
    // All 16 values (0..1024 each) in one 38-byte binary packet.
    void setBrightnessPacket(const std::array<int, kChannels>& values);
    // Channels 1..values.size() (1..16 values, 0..1024 each, none beyond the model's channel
    // count, all checked before anything is sent); the others are left as they are. Values for
    // every channel of the model go out as one packet (zeros after the model's channels) where
    // the controller is in packet mode ("getusepacket", asked once a connection), otherwise as
    // one "#" command each. Waits for the acknowledgements.
    void setBrightnessList(const std::vector<int>& values);

    // Switches the given channels (1..16, at least one) on or off and leaves the others as
    // they are: reads the current bright memory's on mask (getbrightindex, getonex), then sends
    // one "setonex" with those bits changed. Returns the mask sent (bit 0 = channel 1).
    std::uint16_t switchChannels(const std::vector<int>& channels, bool on);
    // One "setonex 0000ffff" or "setonex 00000000"; returns the mask sent.
    std::uint16_t switchAll(bool on);

    // "settrigger": row 1..4, delayUs and onUs 1..4000; the controller is sent the times minus
    // one and an off time of ten times the sent on time.
    void setTrigger(const TriggerRow& row);
    // "setoneshottrig": fires one trigger with the settings the controller holds.
    void fireOneShot();

    // "savebright M" / "savetrigger M", memory 0..9. The controller writes its flash; the call
    // returns on its acknowledgement.
    void saveBrightMemory(int memory);
    void saveTriggerMemory(int memory);
    // "loadbright M", then the brightness and on mask it brought back.
    std::array<ChannelState, kChannels> loadBrightMemory(int memory);
    // "loadtrigger M", then trigger rows 1..4 it brought back.
    std::array<TriggerRow, kTriggerRows> loadTriggerMemory(int memory);

    // The controller's configuration with every field present, as read-config saves it.
    Configuration readConfiguration();

    // Writes a configuration into the controller. Every value is checked and every command
    // built before the first is sent (Error(Argument) on a bad one, nothing sent; also for a
    // configuration that holds no field but the model name, which no command sets). The fields
    // the configuration lacks, and the trigger channel count, on/off input, soft start and
    // trigger input switches that no file holds, are first read from the controller and sent
    // as it has them. Steps, in order, each waiting for its answers: "identity and switches"
    // (setsn ... setdebug), "save serial number" (savesn, then 500 ms for the flash),
    // "save module ID" (saveid, 500 ms), "DAC table" (setbandwidth, setbandwidthex 0..15),
    // "offset" (setoffset), "save model" (setmodelsave, 500 ms). The model name has no
    // command and is not sent. An error in a step, or cancel(), ends the write after the
    // command on the line and throws with stepsWritten()/stepsNotWritten().
    // progress, when given, is called with each step's name once it was written.
    void applyConfiguration(const Configuration& configuration,
                            const std::function<void(const std::string& step)>& progress = {});

    // The fields configuration holds that the controller does not have, in file order. Each
    // field is compared as apply sends it: ID and channel count as their low byte, offset as
    // its low 16 bits, switches as on/off, DAC values with six decimals, texts exactly. A value
    // applyConfiguration would refuse throws Error(Argument) here too, before anything is read.
    std::vector<Difference> verifyConfiguration(const Configuration& configuration);

    // ---- single questions and the remaining commands ----

    // The model's channel count (getmodelch), asked once per connection and kept; 1..16 (a
    // count the controller reports outside that range reads as 16). Calls that name a channel
    // above it throw Error(Argument) before anything is written.
    int channelCount();
    // "geterrstatus": the controller's error code and detail.
    ErrorStatus errorStatus();
    // "getportstatus": inputs IN0, IN1 and outputs OUT0, OUT1.
    PortStatus portStatus();
    // "setoutportall %x" with bit 0 = OUT0, bit 1 = OUT1. Waits for the acknowledgement.
    void setOutputs(bool out0, bool out1);
    // The current bright memory's 16 values and on mask: getbrightindex, "$ 255", getonex
    // (18 answers, not the read-all).
    Brightness currentBrightness();
    // "setonex %08x" with exactly mask (bit 0 = channel 1): every channel on whose bit is set,
    // every other off. A bit above channelCount() throws Error(Argument), nothing sent.
    void setOnMask(std::uint16_t mask);
    // "seterrignore 1|0": the controller ignores (true) or reports its errors.
    void setErrorIgnore(bool ignore);
    // "setbuzzer 1|0".
    void setBuzzer(bool on);
    // "factoryreset": the controller returns to its factory settings (its memories, DAC table
    // and configuration included) and is given 2000 ms before the call returns, as it needs
    // before it answers again.
    void factoryReset();

    // ---- recipes (lumitrax/recipe.h) ----

    // Checks recipe against the model's channel count (Error(Argument), nothing written),
    // then writes the light with as few commands as the controller takes: the brightness (one
    // packet where the controller uses packets, else one command per channel), the on mask, the
    // named trigger rows; then reads it back and compares. A failure on the line (no answer,
    // refused, lost, cancelled) does not throw: the report says Failed, why, and the steps
    // written. With the recipe's [store], saves to the named memories after a verified apply,
    // only where a memory does not already hold the recipe's values (flash wears). No query
    // reads a memory without loading it: a memory that is not the current one is saved without
    // a look (and stays not current); the current one is loaded and compared, and where it
    // differs the light is written again before the save (docs/recipes.md).
    // recordPath, when not empty, gets one JSON line for the apply (docs/recipes.md), appended
    // under a file lock and on disk (fsync) before the call returns; a record that cannot be
    // written throws Error(File), whose message says the light was set all the same.
    RecipeReport applyRecipe(const Recipe& recipe, const std::string& recordPath = {});
    // Reads only: compares the controller's current light with recipe (Verified or Differs;
    // Failed on a failure on the line). A recipe applyRecipe would refuse throws
    // Error(Argument) here too.
    RecipeReport verifyRecipe(const Recipe& recipe);
    // The same, and recordPath, when not empty, gets one JSON line for the check as applyRecipe
    // writes one (its "action" "verify"); a record that cannot be written throws Error(File).
    RecipeReport verifyRecipe(const Recipe& recipe, const std::string& recordPath);
    // The controller's current light (current bright memory, trigger rows 1..4 of the current
    // trigger memory) as a recipe named name; brightness for channels 1..channelCount().
    Recipe captureRecipe(const std::string& name);

    // Sends text (no line break, at most kMaxRawLength bytes once encoded) and a carriage
    // return, then collects the reply lines for exactly timeout(). Throws Refused when one of
    // them starts with "error", NoAnswer when none came.
    std::vector<std::string> raw(const std::string& text);

    // Calls onLine with every line received, on the calling thread, until onLine returns
    // false (then it returns normally) or cancel() is called (then too; cancel() also stops a
    // call running on another thread). Other threads, and onLine itself, may make calls
    // meanwhile: their answers are among the lines. At most 4096 lines wait for a slow onLine;
    // the oldest go first. Throws Error(Port) when the connection is lost (or is not Connected
    // when monitor() is called).
    void monitor(const std::function<bool(const std::string& line)>& onLine);

    // Asks the running call (any call, from any thread) to stop: it sends no further command,
    // waits at most 250 ms more for the answers to those sent, and throws Error(Interrupted)
    // (a multi-command write names the steps written and not); raw() stops collecting and
    // throws it; a running monitor() returns normally. When no call is running, cancel() does
    // nothing to later calls: the flag clears when a call starts.
    // Async-signal-safe.
    void cancel() noexcept;

    struct Impl;  // the library's own

private:
    std::unique_ptr<Impl> d;
};

// The checks the calls above make before they write, for a front end that checks a request
// before it opens a port. Each throws Error(Argument) with the call's own message.
LUMITRAX_API void checkChannel(int channel);
LUMITRAX_API void checkBrightness(int value);
LUMITRAX_API void checkMemory(int memory);
LUMITRAX_API void checkTriggerRow(const TriggerRow& row);
LUMITRAX_API void checkRawText(const std::string& text);
// A network port name ("tcp://..." or "rfc2217://...", any case) must be "tcp://HOST:PORT" or
// "rfc2217://HOST:PORT" (an IPv6 HOST in brackets, PORT 1..65535). Device paths and "COM<n>"
// are not looked at: whether they open is found by opening them.
LUMITRAX_API void checkTarget(const std::string& target);

// A port the system lists, or one named on a command line.
struct PortInfo {
    std::string name;         // "COM3": the number stays with the device for the process's life
    std::string path;         // "/dev/ttyUSB0"
    std::string description;  // "FT232R USB UART", may be empty
};

// The serial ports the system has now (USB adapters, built-in ports; not network targets), in
// its enumeration order, each with the "COM<n>" name this process gives it. Opens nothing.
LUMITRAX_API std::vector<PortInfo> listPorts();

struct SearchResult {
    std::string target;
    bool found = false;
    Identity identity;    // when found
    std::string problem;  // when not found: why (did not open: the reason; or no answer)
};

// Probes the targets side by side (up to 64 at a time, each on a thread): opens it, sends a carriage
// return and "echo 0", asks for the identity and waits up to timeoutMs for it. A controller is
// found when its model, firmware, build and serial number came. Results in the order of
// targets. Leaves the lights as they are. Never throws for a port; Argument for a bad timeout.
LUMITRAX_API std::vector<SearchResult> search(const std::vector<std::string>& targets,
                                              int timeoutMs = kDefaultTimeoutMs);
// The same, ended early once stop is set (from any thread or a signal handler): a target not
// yet probed is not opened, a probe under way (a network target's opening included) stops
// waiting within 50 ms; their problem says "interrupted".
LUMITRAX_API std::vector<SearchResult> search(const std::vector<std::string>& targets, int timeoutMs,
                                              const std::atomic<bool>& stop);

}  // namespace lumitrax

#include "lumitrax/recipe.h"  // the recipe calls above
