#include "configuration_internal.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <charconv>
#include <cmath>
#include <map>
#include <string_view>

#include "c_format.h"
#include "qt_runtime.h"
#include "commands.h"
#include "config_file.h"
#include "text.h"

namespace lumitrax {

namespace {

using detail::DecodeToUtf8;
using detail::EncodeFromUtf8;

constexpr std::size_t kModelLimit = 31;   // bytes the controller keeps of a module name
constexpr std::size_t kSerialLimit = 15;  // and of a serial number
constexpr std::size_t kReadLimit = 1 << 20;

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        std::size_t e = i;
        while (e < line.size() && line[e] != ' ' && line[e] != '\t') {
            ++e;
        }
        if (e > i) {
            words.push_back(line.substr(i, e - i));
        }
        i = e;
    }
    return words;
}

bool ParseInt(const std::string& word, long long& value) {
    const char* b = word.data();
    const char* e = b + word.size();
    if (b != e && *b == '+') {
        ++b;
    }
    const auto r = std::from_chars(b, e, value);
    return r.ec == std::errc() && r.ptr == e && b != e;
}

bool ParseFloat(const std::string& word, float& value) {
    const char* b = word.data();
    const char* e = b + word.size();
    if (b != e && *b == '+') {
        ++b;
    }
    const auto r = std::from_chars(b, e, value);
    return r.ec == std::errc() && r.ptr == e && b != e && std::isfinite(value);
}

std::string Six(float v) { return CFormat("%f", {v}); }

// A DAC value as the controller reads it from the command ("%f").
double AsSent(float v) {
    const std::string text = Six(v);
    double value = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// Whether "setbandwidthex <row> <low> <high>" fits the link.
bool DacFitsLink(int row, float low, float high) {
    BandwidthArg arg{static_cast<std::uint8_t>(row), low, high};
    EncodedCommand encoded;
    return EncodeCommand(CMD_SETBANDWIDTHEX, &arg, encoded) == EncodeResult::Ok &&
           EncodeCommand(CMD_SETBANDWIDTH, &arg, encoded) == EncodeResult::Ok;
}

}  // namespace

bool Configuration::empty() const {
    bool any = model || serialNumber || moduleId || channels || offset || usePwm || usePacket || useDebug;
    for (const auto& row : dac) {
        any = any || row.has_value();
    }
    return !any;
}

ConfigError::ConfigError(const std::string& message, std::vector<ConfigProblem> problems)
    : Error(ErrorKind::File, message), problems_(std::move(problems)) {}

namespace detail {

namespace {
// What ends a word of the file or of a command; the NUL would cut the text sent.
constexpr std::string_view kWordBreaks(" \t\r\n\0", 5);
// What would break the file's lines.
constexpr std::string_view kLineBreaks("\r\n\0", 3);
}  // namespace

std::string CheckModel(const std::string& model) {
    if (model.find_first_of(kWordBreaks) != std::string::npos) {
        return "the model name is one word";
    }
    if (EncodeFromUtf8(model).size() > kModelLimit) {
        return "the model name is longer than the controller keeps (31 bytes)";
    }
    return {};
}

std::string CheckSerial(const std::string& serial) {
    if (serial.empty()) {
        return "the serial number is empty (the controller is given one word)";
    }
    if (serial.find_first_of(kWordBreaks) != std::string::npos) {
        return "the serial number is one word";
    }
    if (EncodeFromUtf8(serial).size() > kSerialLimit) {
        return "the serial number is longer than the controller keeps (15 bytes)";
    }
    return {};
}

std::string CheckRange(const char* what, long long value, long long low, long long high) {
    if (value < low || value > high) {
        return std::string(what) + " " + std::to_string(value) + " is not " + std::to_string(low) + ".." +
               std::to_string(high);
    }
    return {};
}

std::string CheckDac(const DacRow& row) {
    if (row.channel < 1 || row.channel > kChannelCount) {
        return CFormat("DAC channel %d is not 1..16", {row.channel});
    }
    if (!std::isfinite(row.low) || !std::isfinite(row.high)) {
        return "a DAC value is not a finite number";
    }
    // Compared as the link writes them, with six decimals: 1e-7 and 2e-7 both go out as
    // 0.000000, and the controller would be given a low equal to its high.
    if (!(AsSent(row.low) < AsSent(row.high))) {
        return CFormat("low %f is not below high %f", {row.low, row.high});
    }
    if (!DacFitsLink(row.channel - 1, row.low, row.high)) {
        return "the values make the command too long for the link (at most 63 characters)";
    }
    return {};
}

std::vector<std::string> CheckConfiguration(const Configuration& c) {
    std::vector<std::string> problems;
    const auto add = [&problems](const std::string& field, const std::string& problem) {
        if (!problem.empty()) {
            problems.push_back(field + ": " + problem);
        }
    };
    if (c.model) add("model", CheckModel(*c.model));
    if (c.serialNumber) add("S/N", CheckSerial(*c.serialNumber));
    if (c.moduleId) add("ID", CheckRange("ID", *c.moduleId, 0, 255));
    if (c.channels) add("channel", CheckRange("channel", *c.channels, 4, 16));
    if (c.offset) add("pwm_offset", CheckRange("pwm_offset", *c.offset, 0, 65535));
    for (std::size_t i = 0; i < c.dac.size(); ++i) {
        if (c.dac[i]) {
            const std::string slot = DacSlotProblem(*c.dac[i], i);
            add(CFormat("dac_bandwidth %d", {static_cast<int>(i)}), slot.empty() ? CheckDac(*c.dac[i]) : slot);
        }
    }
    return problems;
}

std::string DacSlotProblem(const DacRow& row, std::size_t slot) {
    // The row goes out under its slot's number; a row that names another channel is a mix-up
    // on the caller's side, not something to send under either number.
    const int channel = static_cast<int>(slot) + 1;
    if (row.channel != channel) {
        return CFormat("the row for channel %d holds channel %d", {channel, row.channel});
    }
    return {};
}

ModuleConfig ToModuleConfig(const Configuration& c, ModuleConfig base) {
    if (c.model) base.model = QString::fromStdString(*c.model);
    if (c.serialNumber) base.serial = QString::fromStdString(*c.serialNumber);
    if (c.moduleId) base.id = *c.moduleId;
    if (c.channels) base.channels = *c.channels;
    if (c.offset) base.offset = *c.offset;
    if (c.usePwm) base.usePwm = *c.usePwm ? 1 : 0;
    if (c.usePacket) base.usePacket = *c.usePacket ? 1 : 0;
    if (c.useDebug) base.useDebug = *c.useDebug ? 1 : 0;
    for (std::size_t i = 0; i < c.dac.size(); ++i) {
        if (c.dac[i]) {
            base.bandwidthLow[i] = c.dac[i]->low;
            base.bandwidthHigh[i] = c.dac[i]->high;
        }
    }
    return base;
}

Configuration FromModuleConfig(const ModuleConfig& m) {
    Configuration c;
    c.model = m.model.toStdString();
    c.serialNumber = m.serial.toStdString();
    c.moduleId = m.id;
    c.channels = m.channels;
    c.offset = m.offset;
    c.usePwm = m.usePwm != 0;
    c.usePacket = m.usePacket != 0;
    c.useDebug = m.useDebug != 0;
    for (std::size_t i = 0; i < c.dac.size(); ++i) {
        c.dac[i] = DacRow{static_cast<int>(i) + 1, m.bandwidthLow[i], m.bandwidthHigh[i]};
    }
    return c;
}

std::vector<Difference> CompareConfiguration(const Configuration& file, const Configuration& controller) {
    std::vector<Difference> out;
    const auto text = [&out](const char* field, const std::optional<std::string>& f, const std::optional<std::string>& k) {
        if (f && k && *f != *k) {
            out.push_back({field, *f, *k});
        }
    };
    const auto number = [&out](const char* field, const std::optional<int>& f, const std::optional<int>& k, unsigned bits) {
        if (f && k && (static_cast<unsigned>(*f) & bits) != (static_cast<unsigned>(*k) & bits)) {
            out.push_back({field, std::to_string(*f), std::to_string(*k)});
        }
    };
    const auto onOff = [&out](const char* field, const std::optional<bool>& f, const std::optional<bool>& k) {
        if (f && k && *f != *k) {
            out.push_back({field, *f ? "1" : "0", *k ? "1" : "0"});
        }
    };
    text("model", file.model, controller.model);
    text("S/N", file.serialNumber, controller.serialNumber);
    number("ID", file.moduleId, controller.moduleId, 0xFFu);
    number("channel", file.channels, controller.channels, 0xFFu);
    number("pwm_offset", file.offset, controller.offset, 0xFFFFu);
    onOff("use_pwm", file.usePwm, controller.usePwm);
    onOff("use_packet", file.usePacket, controller.usePacket);
    onOff("use_debug", file.useDebug, controller.useDebug);
    for (std::size_t i = 0; i < file.dac.size(); ++i) {
        if (file.dac[i] && controller.dac[i]) {
            const std::string f = Six(file.dac[i]->low) + " " + Six(file.dac[i]->high);
            const std::string k = Six(controller.dac[i]->low) + " " + Six(controller.dac[i]->high);
            if (f != k) {
                out.push_back({"dac_bandwidth " + std::to_string(i), f, k});
            }
        }
    }
    return out;
}

}  // namespace detail

namespace {

// The panel's own reading, for files it made: unknown lines skipped, unparsed values 0.
Configuration ParseLenient(const std::string& content, std::vector<ConfigProblem>* warnings) {
    ModuleConfig module;
    ConfigLines lines;
    const auto unknown = ReadConfigText(QByteArrayView(content.data(), static_cast<qsizetype>(content.size())), module, lines);
    if (warnings != nullptr) {
        for (const UnknownConfigLine& u : unknown) {
            std::string text = DecodeToUtf8(u.piece.toStdString());
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
                text.pop_back();
            }
            warnings->push_back({u.index + 1, text, "unknown line, skipped"});
        }
    }
    const Configuration all = detail::FromModuleConfig(module);
    Configuration c;
    for (const ConfigLine& line : lines) {
        if (line.recognised == 0) {
            continue;
        }
        const std::string k = line.keyword;
        if (k == "model") c.model = all.model;
        else if (k == "S/N") c.serialNumber = all.serialNumber;
        else if (k == "ID") c.moduleId = all.moduleId;
        else if (k == "channel") c.channels = all.channels;
        else if (k == "pwm_offset") c.offset = all.offset;
        else if (k == "use_pwm") c.usePwm = all.usePwm;
        else if (k == "use_packet") c.usePacket = all.usePacket;
        else if (k == "use_debug") c.useDebug = all.useDebug;
        else if (k == "dac_bandwidth" && line.integers[0] >= 0 && line.integers[0] < kChannelCount) {
            c.dac[static_cast<std::size_t>(line.integers[0])] = all.dac[static_cast<std::size_t>(line.integers[0])];
        }
    }
    return c;
}

struct LineReader {
    Configuration c;
    std::vector<ConfigProblem> problems;
    std::map<std::string, int> firstLine;  // keyword (with the DAC row) -> line
    int number = 0;
    std::string text;

    void Fail(const std::string& message) { problems.push_back({number, text, message}); }

    bool Once(const std::string& key) {
        const auto [it, inserted] = firstLine.emplace(key, number);
        if (!inserted) {
            Fail(CFormat("given twice (first on line %d)", {it->second}));
        }
        return inserted;
    }

    void Int(const std::vector<std::string>& w, std::optional<int>& field, long long low, long long high) {
        long long v = 0;
        if (w.size() != 2) {
            Fail(w[0] + " takes one number");
        } else if (!ParseInt(w[1], v)) {
            Fail("\"" + w[1] + "\" is not a whole number");
        } else if (const std::string p = detail::CheckRange(w[0].c_str(), v, low, high); !p.empty()) {
            Fail(p);
        } else if (Once(w[0])) {
            field = static_cast<int>(v);
        }
    }

    void Flag(const std::vector<std::string>& w, std::optional<bool>& field) {
        if (w.size() != 2 || (w[1] != "0" && w[1] != "1")) {
            Fail(w[0] + " takes 0 or 1");
        } else if (Once(w[0])) {
            field = w[1] == "1";
        }
    }

    void Text(const std::vector<std::string>& w, std::optional<std::string>& field,
              std::string (*check)(const std::string&)) {
        const std::string value = w.size() > 1 ? DecodeToUtf8(w[1]) : std::string();
        if (w.size() > 2) {
            Fail(w[0] + " takes one word");
        } else if (const std::string p = check(value); !p.empty()) {
            Fail(p);
        } else if (Once(w[0])) {
            field = value;
        }
    }

    void Dac(const std::vector<std::string>& w) {
        long long row = 0;
        float low = 0.0f;
        float high = 0.0f;
        if (w.size() != 4) {
            Fail("dac_bandwidth takes a row 0..15 and two numbers");
        } else if (!ParseInt(w[1], row) || row < 0 || row >= kChannelCount) {
            Fail("row \"" + w[1] + "\" is not 0..15");
        } else if (!ParseFloat(w[2], low) || !ParseFloat(w[3], high)) {
            Fail("\"" + (ParseFloat(w[2], low) ? w[3] : w[2]) + "\" is not a finite number");
        } else {
            const DacRow r{static_cast<int>(row) + 1, low, high};
            if (const std::string p = detail::CheckDac(r); !p.empty()) {
                Fail(p);
            } else if (Once("dac_bandwidth " + std::to_string(row))) {  // 00 and +0 are row 0 too
                c.dac[static_cast<std::size_t>(row)] = r;
            }
        }
    }

    void Line(const std::string& line) {
        text = DecodeToUtf8(line);
        if (line.find('\0') != std::string::npos) {
            Fail("the line holds a NUL byte");
            return;
        }
        if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) {
            // An editor's mark, which the panel would read as part of the first word.
            Fail("the file starts with a UTF-8 byte order mark: save it without one");
            return;
        }
        const std::vector<std::string> w = Words(line);
        if (w.empty()) {
            return;
        }
        const std::string& k = w[0];
        if (k == "model") Text(w, c.model, detail::CheckModel);
        else if (k == "S/N") Text(w, c.serialNumber, detail::CheckSerial);
        else if (k == "ID") Int(w, c.moduleId, 0, 255);
        else if (k == "channel") Int(w, c.channels, 4, 16);
        else if (k == "pwm_offset") Int(w, c.offset, 0, 65535);
        else if (k == "use_pwm") Flag(w, c.usePwm);
        else if (k == "use_packet") Flag(w, c.usePacket);
        else if (k == "use_debug") Flag(w, c.useDebug);
        else if (k == "dac_bandwidth") Dac(w);
        else Fail("unknown line");
    }
};

// At most about limit bytes of text: its start and its end with "..." between, cut between
// UTF-8 sequences. A line of a megabyte is named by its ends, not printed whole (and twice: as
// the line and in its problem), and a problem keeps its last words ("is not a whole number").
std::string Shortened(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    const auto continuation = [&text](std::size_t i) { return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; };
    std::size_t head = limit * 2 / 3;
    while (head > 0 && continuation(head)) {
        --head;
    }
    std::size_t tail = text.size() - limit / 3;
    while (tail < text.size() && continuation(tail)) {
        ++tail;
    }
    return text.substr(0, head) + "..." + text.substr(tail);
}

std::string ProblemText(const std::string& name, const ConfigProblem& p) {
    constexpr std::size_t kShownBytes = 160;
    std::string s = p.line > 0 ? name + ":" + std::to_string(p.line) + ": " : name + ": ";
    if (!p.text.empty()) {
        std::string text = Shortened(p.text, kShownBytes);
        for (std::size_t nul; (nul = text.find('\0')) != std::string::npos;) {
            text.replace(nul, 1, "\\0");  // shown, not ending the message there
        }
        s += "\"" + text + "\": ";
    }
    return s + Shortened(p.message, kShownBytes);
}

}  // namespace

Configuration parseConfiguration(const std::string& content, const std::string& name, ConfigReading reading,
                                 std::vector<ConfigProblem>* warnings) {
    Configuration c;
    std::vector<ConfigProblem> problems;
    if (reading == ConfigReading::Lenient) {
        c = ParseLenient(content, warnings);
        for (const std::string& p : detail::CheckConfiguration(c)) {
            problems.push_back({0, {}, p});
        }
    } else {
        LineReader reader;
        std::size_t pos = 0;
        while (pos < content.size()) {
            std::size_t end = content.find('\n', pos);
            if (end == std::string::npos) {
                end = content.size();
            }
            std::string line = content.substr(pos, end - pos);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            ++reader.number;
            reader.Line(line);
            pos = end + 1;
        }
        c = std::move(reader.c);
        problems = std::move(reader.problems);
    }
    if (problems.empty() && c.empty()) {
        problems.push_back({0, {}, "the file holds no configuration line"});
    }
    if (!problems.empty()) {
        std::string message;
        for (const ConfigProblem& p : problems) {
            if (!message.empty()) {
                message += '\n';
            }
            message += ProblemText(name, p);
        }
        throw ConfigError(message, std::move(problems));
    }
    return c;
}

Configuration readConfigurationFile(const std::string& path, ConfigReading reading,
                                    std::vector<ConfigProblem>* warnings) {
    detail::EnsureQtRuntime();
    detail::RefuseNul(path, ErrorKind::File, "file name");
    QFile file(QString::fromStdString(path));
    if (path.empty() || !file.open(QIODevice::ReadOnly)) {
        throw Error(ErrorKind::File, path + ": cannot be read (" + file.errorString().toStdString() + ")");
    }
    const QByteArray bytes = file.read(kReadLimit + 1);
    if (file.error() != QFileDevice::NoError) {
        throw Error(ErrorKind::File, path + ": cannot be read (" + file.errorString().toStdString() + ")");
    }
    if (static_cast<std::size_t>(bytes.size()) > kReadLimit) {
        throw Error(ErrorKind::File, path + ": is too large for a configuration file (over 1 MiB)");
    }
    return parseConfiguration(bytes.toStdString(), path, reading, warnings);
}

std::string formatConfiguration(const Configuration& c) {
    bool complete = c.model && c.serialNumber && c.moduleId && c.channels && c.offset && c.usePwm && c.usePacket &&
                    c.useDebug;
    for (const auto& row : c.dac) {
        complete = complete && row.has_value();
    }
    if (!complete) {
        throw Error(ErrorKind::Argument, "a configuration to save needs every field");
    }
    if (c.model->find_first_of(detail::kLineBreaks) != std::string::npos ||
        c.serialNumber->find_first_of(detail::kLineBreaks) != std::string::npos) {
        throw Error(ErrorKind::Argument, "the model name and the serial number are one line each");
    }
    return FormatConfigFile(detail::ToModuleConfig(c, ModuleConfig{})).toStdString();
}

void writeConfigurationFile(const std::string& path, const Configuration& c) {
    detail::EnsureQtRuntime();
    detail::RefuseNul(path, ErrorKind::File, "file name");
    const std::string content = formatConfiguration(c);
    const QString qpath = QString::fromStdString(path);
    if (QFileInfo::exists(qpath)) {
        if (WriteConfigFile(qpath, detail::ToModuleConfig(c, ModuleConfig{})) != ConfigSaveResult::Saved) {
            throw Error(ErrorKind::File, path + ": cannot be written");
        }
        return;
    }
    // The flush before commit: commit() does not see a write that fails while it flushes (a
    // full disk) and would put an empty file in place.
    QSaveFile out(qpath);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(content.data(), static_cast<qint64>(content.size())) != static_cast<qint64>(content.size()) ||
        !out.flush() || !out.commit()) {
        throw Error(ErrorKind::File, path + ": cannot be written (" + out.errorString().toStdString() + ")");
    }
}

}  // namespace lumitrax
