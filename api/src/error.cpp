#include "lumitrax/error.h"

namespace lumitrax {

const char* ErrorKindName(ErrorKind kind) noexcept {
    switch (kind) {
    case ErrorKind::Argument: return "argument";
    case ErrorKind::Port: return "port";
    case ErrorKind::NoAnswer: return "no answer";
    case ErrorKind::Refused: return "refused";
    case ErrorKind::File: return "file";
    case ErrorKind::Interrupted: return "interrupted";
    }
    return "unknown";
}

Error::Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}

Error::Error(ErrorKind kind, const std::string& message, std::vector<std::string> written,
             std::vector<std::string> notWritten)
    : std::runtime_error(message), kind_(kind), written_(std::move(written)), notWritten_(std::move(notWritten)) {}

}  // namespace lumitrax
