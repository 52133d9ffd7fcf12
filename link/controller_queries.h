#pragma once
// The parts of the panel's port actions that touch no control, for the panel and for tools
// without a window: the read-all batch and its wait, the probe of one port with the parse of
// its identity lines, and the search over a list of ports.
//
// Window thread (the thread that owns the link); every call blocks for the fixed waits of the
// protocol, during which the receive thread files the replies.

#include <functional>
#include <string>
#include <vector>

#include "device_link.h"
#include "device_state.h"

// The wait after the read-all batch before the state is read.
constexpr int kReadAllWaitMs = 1000;

// Sends the read-all batch: identity, switches, configuration, error status, memory indexes,
// DAC table, brightness, the trigger rows 0..3 (only the first channelCount of them when
// fewer than four channels are in use), versions, port status and the TOF input.
void SendReadAllBatch(DeviceLink& link, int channelCount);

// The batch, the 1000 ms wait and a snapshot into state. Returns the snapshot's replySeen:
// 0 means no reply arrived and state holds nothing new.
int ReadAll(DeviceLink& link, int channelCount, DeviceState& state);

// What a probe learns of a controller. Each text is one blank-delimited word of at most 127
// characters, in the controller's own 8-bit bytes.
struct ControllerIdentity {
    std::string moduleName;
    std::string firmwareVersion;
    std::string fpgaVersion;
    std::string build;
    std::string serialNumber;

    // Module name, firmware version, build and serial number all known (the FPGA version
    // may be missing).
    bool Complete() const;
};

// Files one identity line ("modulename LT-16", "S/N: 0042", "f/w_version 1.2" ...) into
// identity; a line with any other first word, the "-> " log entries among them, changes nothing.
// The first word is compared exactly, case included; the value is the next word.
void ParseIdentityLine(const char* line, ControllerIdentity& identity);

// Opens port portNumber on the (closed) link, asks for the identity with the fixed waits,
// reads up to 100 lines from the traffic log and closes the port again (all channels off,
// 1000 ms). True when the identity is complete. A port that fails to open gives false.
bool ProbePort(DeviceLink& link, int portNumber, ControllerIdentity& identity);

struct SearchTarget {
    int portNumber = 0;
    std::string name;  // how the caller names the port in its report
};

struct SearchHit {
    SearchTarget port;
    ControllerIdentity identity;
};

// Probes every port in order; found runs after each probe that found a controller (the
// caller can report it at once). Returns the controllers found.
std::vector<SearchHit> SearchPorts(DeviceLink& link, const std::vector<SearchTarget>& ports,
                                   const std::function<void(const SearchHit&)>& found = {});

// The report line of a found controller: port name, module name, firmware, FPGA, build and
// serial number, separated by single blanks (an empty FPGA version leaves two blanks).
std::string SearchReportLine(const SearchHit& hit);
