#pragma once
// A controller in a few lines for the fake serial line: each command (without its carriage
// return) maps to the reply lines it gets. Unknown commands get no answer.

#include <map>
#include <string>
#include <string_view>

struct ScriptedController {
    std::map<std::string, std::string> replies;

    // Adds a reply line (the CR LF is appended).
    ScriptedController& On(const std::string& command, const std::string& line) {
        replies[command] += line + "\r\n";
        return *this;
    }

    std::string operator()(int, std::string_view written) const {
        std::string command(written);
        if (!command.empty() && command.back() == '\r') {
            command.pop_back();
        }
        const auto it = replies.find(command);
        return it == replies.end() ? std::string() : it->second;
    }
};
