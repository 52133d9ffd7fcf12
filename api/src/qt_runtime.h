#pragma once
// The Qt objects of a port (serial port, sockets, timers) run an event loop on the port's
// receive thread, and Qt gives such a loop to a thread of the caller's only while an
// application object exists. A program that uses the library has none of its own (a plain
// C++ main(), a Python interpreter): EnsureQtRuntime makes one, once per process, on a
// thread that the library keeps for the rest of the run. A program that has its own
// QCoreApplication keeps it, and nothing is made.

namespace lumitrax::detail {

// Any thread; cheap after the first call.
void EnsureQtRuntime();

}  // namespace lumitrax::detail
