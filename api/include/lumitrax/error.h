#pragma once
// lumitrax::Error: every failure of the Controller API.
//
// An Error says what went wrong in words an operator can act on (what()) and what kind of
// failure it is (kind()), so a program can tell a wrong argument from a controller that
// does not answer without reading the text. A multi-step write that stopped part way says
// which steps reached the controller and which did not.

#include <stdexcept>
#include <string>
#include <vector>

#include "lumitrax/export.h"

namespace lumitrax {

enum class ErrorKind {
    Argument,     // a value out of range, a malformed request: nothing was sent
    Port,         // the port did not open, or the connection to it was lost
    NoAnswer,     // the controller did not answer within the timeout
    Refused,      // the controller answered with an "error" line
    File,         // a configuration file that cannot be read, is invalid, or cannot be written
    Interrupted,  // cancel() stopped the call between two commands
};

// "argument", "port", "no answer", "refused", "file", "interrupted": the names programs match
// on, the same as the command-line tool's --json "kind" and Python's lumitrax.error_kind_name().
// They do not change; a new kind gets a new name.
LUMITRAX_API const char* ErrorKindName(ErrorKind kind) noexcept;

class LUMITRAX_API Error : public std::runtime_error {
public:
    Error(ErrorKind kind, const std::string& message);
    Error(ErrorKind kind, const std::string& message, std::vector<std::string> written,
          std::vector<std::string> notWritten);

    ErrorKind kind() const noexcept { return kind_; }
    // For a multi-step write that stopped: the steps that were sent, in order, and those that
    // were not. Both are empty for a call that writes in one step or wrote nothing. A step cut
    // short is named in both, "(n of m commands...)" and "(the rest)"; one whose commands all
    // went out but whose answers did not all come is written "(sent, not confirmed)".
    const std::vector<std::string>& stepsWritten() const noexcept { return written_; }
    const std::vector<std::string>& stepsNotWritten() const noexcept { return notWritten_; }

private:
    ErrorKind kind_;
    std::vector<std::string> written_;
    std::vector<std::string> notWritten_;
};

}  // namespace lumitrax
