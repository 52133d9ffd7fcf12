#pragma once
// What every front end hands the service with a write, and what it gets back: the shared
// terms of the service's operations (Service, and the Modbus map's view of it).

#include <optional>
#include <string>

#include <lumitrax/error.h>

namespace service {

// Who asked for a change: the client's address and the front end ("http", "modbus"), for the
// change event, the log and the metrics.
struct Origin {
    std::string client;
    std::string via;
};

// How a write asked of the service went. Each front end says it in its own terms.
struct OpResult {
    enum class Code {
        Done,
        NoController,  // no controller of that name or unit
        NotConnected,  // message says its connection state
        Unknown,       // no recipe of that number
        Busy,          // a recipe apply is still running on that controller
        Failed,        // error says why (a bad value: ErrorKind::Argument, nothing written)
    };
    Code code = Code::Done;
    std::string message;
    std::optional<lumitrax::Error> error;
};

}  // namespace service
