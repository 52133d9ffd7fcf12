#pragma once
// The serial ports the panel can open, each under a number that the "COM%d" parse of the
// panel and CPortwire::Create share.
//
// A port is named by a device path or, for a controller behind a serial device server, by a
// network address: tcp://HOST:PORT (the bytes as they are) or rfc2217://HOST:PORT (telnet
// with the com-port option). Both kinds are added, numbered and resolved alike.
//
// Entries read "COM<n> <device path>" followed by " (<description>)" when the platform gives
// one, e.g. "COM3 /dev/ttyUSB0 (FT232R USB UART)". Paths added with AddPortPath come first,
// in the order given, then the platform's ports in its enumeration order (not sorted).
// A number is given to a device path the first time it is seen and stays with it for the
// rest of the run; numbers start at 1 and are never reused. All functions are thread-safe.

#include <QString>
#include <vector>

#include <cstdint>

struct PortEntry {
    int number = 0;        // > 0
    QString devicePath;    // e.g. /dev/ttyUSB0, /dev/pts/4 or tcp://10.0.0.7:4001
    QString description;   // may be empty
    QString text;          // what the port drop-down shows
};

// Adds a device path ahead of the platform's ports (duplicates are ignored).
void AddPortPath(const QString& devicePath);
// Forgets the added paths (numbers already given stay reserved). For tests.
void ClearAddedPortPaths();

// Added paths, then the platform's ports; a path appears once.
std::vector<PortEntry> ListPorts();

// Number of a device path, giving it a new one when it has none yet.
int PortNumberForPath(const QString& devicePath);

// Device path behind "COM<n>" (or a bare number n); empty when the number is unknown.
QString ResolvePortName(const char* portName);

// A device path typed relative to the current folder ("lx" for a link here) made absolute, as
// any other program would take it; a bare device name ("ttyUSB0") that /dev holds, an absolute
// path, and a network name are returned as they are.
QString PathRelativeToHere(const QString& name);

// A network port name taken apart.
struct NetworkPortName {
    bool rfc2217 = false;  // rfc2217:// rather than tcp://
    QString host;          // a name, an IPv4 address or an IPv6 address (without brackets)
    std::uint16_t port = 0;
};

// True when name begins with "tcp://" or "rfc2217://" (any case): a network name, whether
// well-formed or not.
bool IsNetworkPortName(const QString& name);
// Takes "tcp://HOST:PORT" or "rfc2217://HOST:PORT" apart, an IPv6 HOST in brackets
// ("tcp://[fe80::1]:4001"); PORT is 1..65535. False when name is not of that form.
bool ParseNetworkPortName(const QString& name, NetworkPortName& out);
