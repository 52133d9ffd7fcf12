#pragma once
// The receive side of the protocol above line framing: which reply a line is and what it
// stores in the DeviceState.

#include <cstdint>

#include "device_state.h"

constexpr int kReplyKeywordCount = 74;
constexpr int kNoReply = 255;
constexpr int kWordLimit = 31;  // characters a word slot keeps

struct ReplyEntry {
    std::int32_t id;
    const char* keyword;
};

// The 74 reply keywords by id, followed by the terminating entry {74, ""}.
extern const ReplyEntry kReplyTable[kReplyKeywordCount + 1];

// Id of a first word (exact, case-sensitive), or kNoReply.
int FindReply(const char* word);

// Interprets one reply line (NUL-terminated, without CR/LF): sets replySeen to 1 when the
// first word is a reply keyword (before any check on the rest), stores what the line carries
// into state, and returns the reply id or kNoReply. Reads at most the line; never writes it.
// A row is applied only when every slot it reads was filled by the line.
// Caller holds whatever lock guards state and replySeen.
int DispatchReplyLine(const char* line, DeviceState& state, std::int32_t& replySeen);
