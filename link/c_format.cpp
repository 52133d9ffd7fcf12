#include "c_format.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Appends to a bounded text; false once the text would pass its limit.
class Writer {
public:
    Writer(char* buffer, int limit) : buf_(buffer), limit_(limit) {}
    bool Put(char c) {
        if (len_ >= limit_) {
            return false;
        }
        buf_[len_++] = c;
        return true;
    }
    bool Put(const char* s, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (!Put(s[i])) {
                return false;
            }
        }
        return true;
    }
    bool Pad(char c, int n) {
        for (int i = 0; i < n; ++i) {
            if (!Put(c)) {
                return false;
            }
        }
        return true;
    }
    int Length() const { return len_; }

private:
    char* buf_;
    int limit_;
    int len_ = 0;
};

struct Conversion {
    bool left = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
    char conversion = 0;
};

// Reads the flags, width, precision and conversion after a '%'; p is left on the conversion.
bool ParseConversion(const char*& p, Conversion& conv) {
    for (;; ++p) {
        if (*p == '-') {
            conv.left = true;
        } else if (*p == '0') {
            conv.zero = true;
        } else {
            break;
        }
    }
    while (*p >= '0' && *p <= '9') {
        conv.width = conv.width * 10 + (*p - '0');
        if (conv.width > 200) {
            return false;
        }
        ++p;
    }
    if (*p == '.') {
        ++p;
        conv.precision = 0;
        while (*p >= '0' && *p <= '9') {
            conv.precision = conv.precision * 10 + (*p - '0');
            if (conv.precision > 60) {
                return false;
            }
            ++p;
        }
    }
    conv.conversion = *p;
    return conv.conversion != '\0';
}

// Digits of one conversion (sign included); false for an unknown conversion or kind mismatch.
bool Convert(const Conversion& conv, const CArg& arg, char* digits, std::size_t size, std::size_t& n) {
    std::to_chars_result r{};
    const auto asInt32 = [&arg] {
        return static_cast<std::uint32_t>(static_cast<unsigned long long>(arg.integer));
    };
    switch (conv.conversion) {
    case 'd':
    case 'i':
        if (arg.kind != CArg::Integer) {
            return false;
        }
        r = std::to_chars(digits, digits + size, arg.integer);
        break;
    case 'u':
        if (arg.kind != CArg::Integer) {
            return false;
        }
        r = std::to_chars(digits, digits + size, asInt32());
        break;
    case 'x':
    case 'X':
        if (arg.kind != CArg::Integer) {
            return false;
        }
        r = std::to_chars(digits, digits + size, asInt32(), 16);
        if (r.ec == std::errc() && conv.conversion == 'X') {
            for (char* c = digits; c < r.ptr; ++c) {
                if (*c >= 'a' && *c <= 'f') {
                    *c = static_cast<char>(*c - 'a' + 'A');
                }
            }
        }
        break;
    case 'f':
    case 'g': {
        const double v = arg.kind == CArg::Real ? arg.real : static_cast<double>(arg.integer);
        if (std::isnan(v)) {
            std::memcpy(digits, std::signbit(v) ? "-nan" : "nan", std::signbit(v) ? 4 : 3);
            n = std::signbit(v) ? 4 : 3;
            return true;
        }
        if (std::isinf(v)) {
            std::memcpy(digits, v < 0 ? "-inf" : "inf", v < 0 ? 4 : 3);
            n = v < 0 ? 4 : 3;
            return true;
        }
        if (conv.conversion == 'f') {
            r = std::to_chars(digits, digits + size, v, std::chars_format::fixed,
                              conv.precision < 0 ? 6 : conv.precision);
        } else {
            r = std::to_chars(digits, digits + size, v, std::chars_format::general,
                              conv.precision < 0 ? 6 : (conv.precision == 0 ? 1 : conv.precision));
        }
        break;
    }
    case 'c':
        if (arg.kind != CArg::Integer) {
            return false;
        }
        digits[0] = static_cast<char>(arg.integer);
        n = 1;
        return true;
    default:
        return false;
    }
    if (r.ec != std::errc()) {
        return false;
    }
    n = static_cast<std::size_t>(r.ptr - digits);
    return true;
}

}  // namespace

bool CFormatTo(char* buffer, int limit, int& length, const char* format, const CArg* args, int count) {
    length = 0;
    if (format == nullptr || limit < 0) {
        return false;
    }
    Writer out(buffer, limit);
    int next = 0;
    // Large enough for any double in fixed notation with the largest precision allowed.
    char digits[400];
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            if (!out.Put(*p)) {
                return false;
            }
            continue;
        }
        ++p;
        if (*p == '%') {
            if (!out.Put('%')) {
                return false;
            }
            continue;
        }
        Conversion conv;
        if (!ParseConversion(p, conv) || next >= count) {
            return false;
        }
        const CArg& arg = args[next++];
        const char* body = digits;
        std::size_t n = 0;
        if (conv.conversion == 's') {
            if (arg.kind != CArg::Text) {
                return false;
            }
            body = arg.text;
            n = std::strlen(arg.text);
            if (conv.precision >= 0 && n > static_cast<std::size_t>(conv.precision)) {
                n = static_cast<std::size_t>(conv.precision);
            }
        } else if (!Convert(conv, arg, digits, sizeof digits, n)) {
            return false;
        }
        const int pad = conv.width > static_cast<int>(n) ? conv.width - static_cast<int>(n) : 0;
        if (conv.left) {
            if (!out.Put(body, n) || !out.Pad(' ', pad)) {
                return false;
            }
        } else if (conv.zero && conv.conversion != 's' && conv.conversion != 'c') {
            // Zeros go between the sign and the digits.
            std::size_t sign = (n > 0 && body[0] == '-') ? 1 : 0;
            if (!out.Put(body, sign) || !out.Pad('0', pad) || !out.Put(body + sign, n - sign)) {
                return false;
            }
        } else if (!out.Pad(' ', pad) || !out.Put(body, n)) {
            return false;
        }
    }
    length = out.Length();
    return true;
}

std::string CFormat(const char* format, std::initializer_list<CArg> args) {
    // Room for the format's own text plus the widest conversion of each argument.
    std::size_t size = 16 + (format != nullptr ? std::strlen(format) : 0);
    for (const CArg& a : args) {
        size += 620 + (a.kind == CArg::Text ? std::strlen(a.text) : 0);
    }
    std::vector<char> buffer(size);
    int length = 0;
    if (!CFormatTo(buffer.data(), static_cast<int>(buffer.size()), length, format, args.begin(),
                   static_cast<int>(args.size()))) {
        return {};
    }
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

QString QCFormat(const char* format, std::initializer_list<CArg> args) {
    return QString::fromStdString(CFormat(format, args));
}
