#pragma once
// The controller's 8-bit text (code page 949) and the API's UTF-8, both ways, through the
// link's one conversion pair, so that undecodable bytes survive the round trip.

#include <string>

#include <lumitrax/error.h>

namespace lumitrax::detail {

std::string DecodeToUtf8(const std::string& bytes);
std::string EncodeFromUtf8(const std::string& utf8);

// Port and file names reach the system as C strings, where a NUL byte would end the name early
// and so name another device or file: such a name is refused with an error of kind, before
// anything is opened.
void RefuseNul(const std::string& name, ErrorKind kind, const char* what);

// Decodes a NUL-terminated field of at most N bytes.
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n] != '\0') {
        ++n;
    }
    return DecodeToUtf8(std::string(field, n));
}

}  // namespace lumitrax::detail
