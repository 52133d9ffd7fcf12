#include "recipe_record.h"

#include <QString>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace lumitrax::detail {

namespace {

// A JSON string. Text that is not UTF-8 has its bad bytes replaced (U+FFFD): a record line
// must stay readable JSON whatever a controller sent.
std::string Json(const std::string& text) {
    const std::string utf8 = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUtf8().toStdString();
    std::string out = "\"";
    for (const char c : utf8) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                static const char kHex[] = "0123456789abcdef";
                out += "\\u00";
                out += kHex[(c >> 4) & 0xF];
                out += kHex[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string JsonOrNull(const std::optional<std::string>& text) { return text ? Json(*text) : "null"; }

// "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string UtcTime(std::chrono::system_clock::time_point t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1000));
    return text;
}

// A number with one decimal, whatever the locale.
std::string Decimal(double value) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
    return std::string(text, r.ptr);
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

}  // namespace

std::string RecordLine(const RecipeRecord& r) {
    const Recipe& recipe = *r.recipe;
    const RecipeReport& report = *r.report;
    const auto field = [&r](std::string Identity::*member) {
        return r.identity ? std::optional<std::string>((*r.identity).*member) : std::nullopt;
    };
    std::string line = "{\"time\": " + Json(UtcTime(r.time));
    line += ", \"action\": " + Json(r.action);
    line += ", \"host\": " + Json(HostName());
    line += ", \"port\": " + Json(r.port);
    line += ", \"serial\": " + JsonOrNull(field(&Identity::serialNumber));
    line += ", \"model\": " + JsonOrNull(field(&Identity::model));
    line += ", \"firmware\": " + JsonOrNull(field(&Identity::firmware));
    line += ", \"recipe\": " + Json(recipe.name);
    line += ", \"number\": " + (recipe.number ? std::to_string(*recipe.number) : std::string("null"));
    line += ", \"sha256\": " + (recipe.sha256.empty() ? std::string("null") : Json(recipe.sha256));
    line += ", \"result\": " + Json(recipeResultName(report.result));
    line += ", \"differences\": [";
    for (std::size_t i = 0; i < report.differences.size(); ++i) {
        const RecipeDifference& d = report.differences[i];
        line += (i == 0 ? "" : ", ") + std::string("{\"field\": ") + Json(d.field) + ", \"wanted\": " + Json(d.wanted) +
                ", \"found\": " + Json(d.found) + "}";
    }
    line += "]";
    if (report.result == RecipeResult::Failed) {
        line += ", \"error\": " + Json(report.error);
    }
    line += ", \"duration_ms\": " + Decimal(report.durationMs);
    return line + "}\n";
}

void AppendRecord(const std::string& path, const std::string& line, const std::string& outcome) {
    const auto fail = [&](const char* doing, int error) {
        throw Error(ErrorKind::File, outcome + ", but its record was not written: " + path + ": " + doing + ": " +
                                         std::strerror(error));
    };
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        fail("cannot be opened", errno);
    }
    // Closed on every way out; the lock goes with it.
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    int r = 0;
    while ((r = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (r != 0) {
        fail("cannot be locked", errno);
    }
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            fail("cannot be written", n < 0 ? errno : EIO);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        fail("cannot be synced to the disk", errno);
    }
}

}  // namespace lumitrax::detail
