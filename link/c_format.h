#pragma once
// printf-style formatting in the C locale, whatever locale the process runs under.
//
// Qt puts the C library into the user's locale at start-up, so snprintf would print "0,5"
// under a German locale. Every number that goes on the wire, into a file or into a field with
// a fixed format ("code:%d,%xh", "%8.3f") is formatted here instead.
//
// Conversions: %d %i %u %x %X %f %g %s %c and %%, with the flags '-' and '0', a width and a
// precision ("%02d", "%08x", "%8.3f", "%.3f"). %x and %u print the value as a 32-bit unsigned
// int, as printf does for an int argument; %g uses six significant digits unless a precision
// is given. A conversion without an argument, or one that does not fit, fails the whole call.
// Pure; any thread.

#include <QString>

#include <cstdint>
#include <initializer_list>
#include <string>

struct CArg {
    enum Kind { Integer, Real, Text };
    Kind kind = Integer;
    long long integer = 0;
    double real = 0.0;
    const char* text = "";

    CArg() = default;
    CArg(int v) : integer(v) {}                      // NOLINT: implicit by design
    CArg(unsigned v) : integer(v) {}                 // NOLINT
    CArg(long v) : integer(v) {}                     // NOLINT
    CArg(long long v) : integer(v) {}                // NOLINT
    CArg(unsigned long v) : integer(static_cast<long long>(v)) {}       // NOLINT
    CArg(unsigned long long v) : integer(static_cast<long long>(v)) {}  // NOLINT
    CArg(double v) : kind(Real), real(v) {}          // NOLINT
    CArg(float v) : kind(Real), real(v) {}           // NOLINT
    CArg(const char* v) : kind(Text), text(v != nullptr ? v : "") {}  // NOLINT
    CArg(const std::string& v) : kind(Text), text(v.c_str()) {}      // NOLINT
};

// Writes at most limit bytes (no terminator) into buffer and sets length. False when a
// conversion is unknown, an argument is missing, or the text would exceed limit.
bool CFormatTo(char* buffer, int limit, int& length, const char* format, const CArg* args, int count);

// The formatted text; empty when the format is malformed.
std::string CFormat(const char* format, std::initializer_list<CArg> args);
// The same as a QString, the bytes read as UTF-8 (numbers are ASCII).
QString QCFormat(const char* format, std::initializer_list<CArg> args);
