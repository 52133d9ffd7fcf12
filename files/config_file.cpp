#include "config_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/xattr.h>
#endif

#include <cerrno>
#endif

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <string>

#include "c_format.h"
#include "device_text.h"

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c, int base) {
    int v = 99;
    if (c >= '0' && c <= '9') {
        v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        v = c - 'A' + 10;
    }
    return v < base ? v : -1;
}

// For a number that from_chars found out of a float's range: true when it lies beyond the
// largest float (it reads as infinity), false when below the smallest (it reads as zero).
// The sign of its order of magnitude decides; the text in [s, end) is a valid number.
bool BeyondFloatRange(const char* s, const char* end, bool hex) {
    const int base = hex ? 16 : 10;
    long long integerDigits = 0;  // digits before the point, from the first non-zero one
    long long fractionZeros = 0;  // zeros after the point before the first non-zero digit
    bool inFraction = false;
    bool significant = false;
    const char* p = s;
    for (; p < end; ++p) {
        if (*p == '.') {
            inFraction = true;
            continue;
        }
        const int d = DigitValue(*p, base);
        if (d < 0) {
            break;
        }
        significant = significant || d != 0;
        if (!inFraction && significant) {
            ++integerDigits;
        } else if (inFraction && !significant) {
            ++fractionZeros;
        }
    }
    long long exponent = 0;
    if (p < end && (*p == (hex ? 'p' : 'e') || *p == (hex ? 'P' : 'E'))) {
        ++p;
        const bool negative = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+')) {
            ++p;
        }
        for (; p < end && DigitValue(*p, 10) >= 0; ++p) {
            exponent = std::min(exponent * 10 + DigitValue(*p, 10), 1'000'000'000LL);
        }
        exponent = negative ? -exponent : exponent;
    }
    // Order of the leading digit in units of the base (bits for hex, whose exponent is binary).
    const long long order = integerDigits > 0 ? integerDigits - 1 : -(fractionZeros + 1);
    return (hex ? order * 4 : order) + exponent >= 0;
}

// A cursor over one line with the conversions of the configuration scans. Each conversion
// skips leading white space and reads a prefix of what follows, as the C library's scan
// functions do, but without the locale and without writing past a field. A conversion that
// fails leaves its target unchanged.
class Scanner {
public:
    explicit Scanner(QByteArrayView line) : p_(line.data()), end_(line.data() + line.size()) {}

    // A run of non-space characters; the field keeps as much as fits, the rest is consumed.
    template <std::size_t N>
    bool Word(char (&field)[N]) {
        SkipSpace();
        if (p_ == end_) {
            return false;
        }
        std::size_t n = 0;
        for (; p_ != end_ && !IsSpace(*p_); ++p_) {
            if (n + 1 < N) {
                field[n++] = *p_;
            }
        }
        field[n] = '\0';
        return true;
    }

    // A decimal or hexadecimal float with an optional sign, or inf/nan.
    bool Float(float& out) {
        SkipSpace();
        const char* s = p_;
        bool negative = false;
        if (s != end_ && (*s == '+' || *s == '-')) {
            negative = *s++ == '-';
        }
        if (s != end_ && (*s == '+' || *s == '-')) {
            return false;
        }
        const bool hex = end_ - s >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
        const char* digits = hex ? s + 2 : s;
        const std::chars_format format = hex ? std::chars_format::hex : std::chars_format::general;
        float value = 0.0f;
        std::from_chars_result r = std::from_chars(digits, end_, value, format);
        if (r.ec == std::errc::invalid_argument && hex) {
            // "0x" without hex digits is the number 0 followed by the letter x.
            r = std::from_chars(s, s + 1, value);
        }
        if (r.ec == std::errc::invalid_argument) {
            return false;
        }
        if (r.ec == std::errc::result_out_of_range) {
            value = BeyondFloatRange(digits, r.ptr, hex) ? std::numeric_limits<float>::infinity() : 0.0f;
        }
        out = negative ? -value : value;
        p_ = r.ptr;
        return true;
    }

    // A decimal integer with an optional sign; values beyond 32 bits saturate.
    bool Int(std::int32_t& out) {
        SkipSpace();
        const char* s = p_;
        bool negative = false;
        if (s != end_ && (*s == '+' || *s == '-')) {
            negative = *s++ == '-';
        }
        if (s == end_ || DigitValue(*s, 10) < 0) {
            return false;
        }
        constexpr long long kMax = std::numeric_limits<std::int32_t>::max();
        long long magnitude = 0;
        for (; s != end_ && DigitValue(*s, 10) >= 0; ++s) {
            magnitude = std::min(magnitude * 10 + DigitValue(*s, 10), kMax + 1);
        }
        out = static_cast<std::int32_t>(negative ? -magnitude : std::min(magnitude, kMax));
        p_ = s;
        return true;
    }

private:
    void SkipSpace() {
        while (p_ != end_ && IsSpace(*p_)) {
            ++p_;
        }
    }

    const char* p_;
    const char* end_;
};

// The nine keywords, compared exactly and with case, in this order.
enum class Key { Model, Serial, Id, Channel, Offset, UsePwm, UsePacket, UseDebug, Bandwidth, Count };
constexpr const char* kKeywords[] = {"model",   "S/N",     "ID",         "channel",      "pwm_offset",
                                     "use_pwm", "use_packet", "use_debug", "dac_bandwidth"};
static_assert(std::size(kKeywords) == static_cast<std::size_t>(Key::Count));

int CheckState(std::int32_t value) {
    return value != 0 ? 1 : 0;
}

// Pieces 0..127 need at most 127 characters each; a character of text mode takes at most two
// bytes of the file ("\r\n"), and one byte more decides whether a last '\r' ends a line.
constexpr qint64 kConfigReadLimit = 2LL * kConfigLineCount * (kConfigPieceSize - 1) + 1;

}  // namespace

int ParseConfigLine(QByteArrayView line, int index, ConfigLines& lines, ModuleConfig& config) {
    if (index < 0 || index >= kConfigLineCount) {
        return -1;
    }
    // The line ends at a NUL, as a C string would.
    const qsizetype nul = line.indexOf('\0');
    if (nul >= 0) {
        line = line.first(nul);
    }
    ConfigLine& r = lines[static_cast<std::size_t>(index)];
    {
        Scanner in(line);
        if (in.Word(r.keyword)) {
            in.Word(r.text);
        }
    }
    {
        Scanner in(line);
        if (in.Word(r.keyword)) {
            for (int k = 0; k < 4 && in.Float(r.numbers[k]); ++k) {
            }
        }
    }
    {
        Scanner in(line);
        if (in.Word(r.keyword)) {
            for (int k = 0; k < 4 && in.Int(r.integers[k]); ++k) {
            }
        }
    }
    r.recognised = 1;

    Key key = Key::Count;
    for (std::size_t k = 0; k < std::size(kKeywords); ++k) {
        if (std::strcmp(r.keyword, kKeywords[k]) == 0) {
            key = static_cast<Key>(k);
            break;
        }
    }
    const std::int32_t first = r.integers[0];
    switch (key) {
    case Key::Model:
        r.kind = 0;
        config.model = DecodeDeviceText(QByteArrayView(r.text, static_cast<qsizetype>(std::strlen(r.text))));
        break;
    case Key::Serial:
        r.kind = 0;
        config.serial = DecodeDeviceText(QByteArrayView(r.text, static_cast<qsizetype>(std::strlen(r.text))));
        break;
    case Key::Id:
        r.kind = 1;
        config.id = first;
        break;
    case Key::Channel:
        r.kind = 1;
        config.channels = first;
        break;
    case Key::Offset:
        r.kind = 1;
        config.offset = first;
        break;
    case Key::UsePwm:
        r.kind = 1;
        config.usePwm = CheckState(first);
        break;
    case Key::UsePacket:
        r.kind = 1;
        config.usePacket = CheckState(first);
        break;
    case Key::UseDebug:
        r.kind = 1;
        config.useDebug = CheckState(first);
        break;
    case Key::Bandwidth:
        r.kind = 2;
        if (first >= 0 && first < kChannelCount) {
            config.bandwidthLow[static_cast<std::size_t>(first)] = r.numbers[1];
            config.bandwidthHigh[static_cast<std::size_t>(first)] = r.numbers[2];
        }
        break;
    case Key::Count:
        r.recognised = 0;
        return -1;
    }
    return index;
}

QString UnknownLineMessage(const UnknownConfigLine& line) {
    return QCFormat("Unknown string(%d):", {line.index}) + DecodeDeviceText(line.piece);
}

std::vector<UnknownConfigLine> ReadConfigText(QByteArrayView content, ModuleConfig& config,
                                              ConfigLines& lines, const UnknownLineHandler& onUnknown) {
    lines.fill(ConfigLine{});
    QByteArray text = content.toByteArray();
    text.replace("\r\n", "\n");

    std::vector<UnknownConfigLine> unknown;
    qsizetype pos = 0;
    for (int i = 0; i < kConfigLineCount && pos < text.size(); ++i) {
        qsizetype length = 0;
        while (pos + length < text.size() && length < kConfigPieceSize - 1) {
            if (text[pos + length++] == '\n') {
                break;
            }
        }
        const QByteArrayView piece(text.constData() + pos, length);
        pos += length;
        if (ParseConfigLine(piece, i, lines, config) < 0) {
            unknown.push_back({i, piece.toByteArray()});
            if (onUnknown) {
                onUnknown(unknown.back());
            }
        }
    }
    return unknown;
}

ConfigReadResult ReadConfigFile(const QString& path, ModuleConfig& config, ConfigLines& lines,
                                const UnknownLineHandler& onUnknown) {
    ConfigReadResult result;
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        return result;
    }
    const QByteArray content = file.read(kConfigReadLimit);
    if (file.error() != QFileDevice::NoError) {
        return result;
    }
    result.opened = true;
    result.unknown = ReadConfigText(content, config, lines, onUnknown);
    return result;
}

QByteArray FormatConfigFile(const ModuleConfig& config) {
    const QByteArray model = EncodeDeviceText(config.model);
    const QByteArray serial = EncodeDeviceText(config.serial);
    std::string out;
    out += CFormat("model %s\n", {model.constData()});
    out += CFormat("S/N %s\n", {serial.constData()});
    out += CFormat("ID %d\n", {config.id});
    out += CFormat("channel %d\n", {config.channels});
    out += CFormat("pwm_offset %d\n", {config.offset});
    out += CFormat("use_pwm %d\n", {config.usePwm});
    out += CFormat("use_packet %d\n", {config.usePacket});
    out += CFormat("use_debug %d\n", {config.useDebug});
    for (int i = 0; i < kChannelCount; ++i) {
        const auto row = static_cast<std::size_t>(i);
        out += CFormat("dac_bandwidth %d %f %f\n", {i, config.bandwidthLow[row], config.bandwidthHigh[row]});
    }
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

bool ConfigFileOpensForSave(const QString& path) {
    // Only a regular file: a device or a directory is never replaced.
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        return false;
    }
    QFile file(path);
    return file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly);
}

#ifdef Q_OS_UNIX
namespace {

bool WriteAll(int fd, const QByteArray& content) {
    const char* p = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<std::size_t>(left));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

enum class Replace { Done, Failed, NotPossible };

// The file's extended attributes (its access control list among them) onto the replacement;
// false when one cannot be carried over, so that the file is written in place instead.
bool CopyExtendedAttributes(const QByteArray& file, int to) {
#ifdef Q_OS_LINUX
    const ssize_t size = ::listxattr(file.constData(), nullptr, 0);
    if (size <= 0) {
        return size == 0 || errno == ENOTSUP;
    }
    QByteArray names(size, '\0');
    if (::listxattr(file.constData(), names.data(), names.size()) != size) {
        return false;
    }
    for (const QByteArray& name : names.split('\0')) {
        if (name.isEmpty()) {
            continue;
        }
        const ssize_t length = ::getxattr(file.constData(), name.constData(), nullptr, 0);
        QByteArray value(std::max<ssize_t>(length, 0), '\0');
        if (length < 0 || ::getxattr(file.constData(), name.constData(), value.data(), value.size()) != length ||
            ::fsetxattr(to, name.constData(), value.constData(), value.size(), 0) != 0) {
            return false;
        }
    }
    return true;
#else
    Q_UNUSED(file);
    Q_UNUSED(to);
    return true;
#endif
}

// The new content in a file beside the old one, renamed over it when complete. Not possible
// when the replacement would differ from the file in anything but its content: a second name
// (hard link) would keep the old content, and owner, group, mode and extended attributes
// (an access control list) must be those of the file.
Replace ReplaceBeside(const QByteArray& file, const QByteArray& folder, const QByteArray& content) {
    struct stat st {};
    if (::stat(file.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        return Replace::NotPossible;
    }
    QByteArray temp = folder + "/.lumitrax-save-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return errno == EACCES || errno == EPERM || errno == EROFS ? Replace::NotPossible : Replace::Failed;
    }
    // Owner and group first: changing them clears set-id bits that the mode then restores.
    if (::fchown(fd, st.st_uid, st.st_gid) != 0 || !CopyExtendedAttributes(file, fd) ||
        ::fchmod(fd, st.st_mode & 07777) != 0) {
        ::close(fd);
        ::unlink(temp.constData());
        return Replace::NotPossible;
    }
    const bool written = WriteAll(fd, content) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || ::rename(temp.constData(), file.constData()) != 0) {
        ::unlink(temp.constData());
        return Replace::Failed;
    }
    if (const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return Replace::Done;
}

// Over the old content from its start, then cut to the new length: the file stays the same
// file (links, owner, group, mode).
bool WriteInPlace(const QByteArray& file, const QByteArray& content) {
    const int fd = ::open(file.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written = WriteAll(fd, content) && ::ftruncate(fd, content.size()) == 0 && ::fsync(fd) == 0;
    return ::close(fd) == 0 && written;
}

}  // namespace
#endif

ConfigSaveResult WriteConfigFile(const QString& path, const ModuleConfig& config) {
    if (!ConfigFileOpensForSave(path)) {
        return ConfigSaveResult::OpenError;
    }
    const QByteArray content = FormatConfigFile(config);
#ifdef Q_OS_UNIX
    const QFileInfo target(QFileInfo(path).canonicalFilePath());
    const QByteArray file = QFile::encodeName(target.filePath());
    switch (ReplaceBeside(file, QFile::encodeName(target.absolutePath()), content)) {
    case Replace::Done:
        return ConfigSaveResult::Saved;
    case Replace::Failed:
        return ConfigSaveResult::WriteError;
    case Replace::NotPossible:
        break;
    }
    return WriteInPlace(file, content) ? ConfigSaveResult::Saved : ConfigSaveResult::WriteError;
#else
    // QSaveFile writes beside the file and renames over it on commit, copying its permissions;
    // without commit the temporary file is removed. The explicit flush matters: commit()
    // ignores a failed flush of buffered data and would put a cut-off file in place.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        return ConfigSaveResult::WriteError;
    }
    if (file.write(content) != content.size() || !file.flush() || !file.commit()) {
        return ConfigSaveResult::WriteError;
    }
    return ConfigSaveResult::Saved;
#endif
}
