#include "sim_controller.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace sim {

namespace {

constexpr int kMaxArgs = 12;
constexpr int kNoneOrOne = -1;  // argument count of a command whose one argument may be left out

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Whole-word decimal integer within [lo, hi].
bool ParseInt(std::string_view s, long long lo, long long hi, long long& out) {
    if (s.empty()) {
        return false;
    }
    long long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
    if (ec != std::errc() || end != s.data() + s.size() || v < lo || v > hi) {
        return false;
    }
    out = v;
    return true;
}

// Whole-word hexadecimal number (optional 0x) not above hi.
bool ParseHex(std::string_view s, unsigned long long hi, unsigned long long& out) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
    }
    if (s.empty()) {
        return false;
    }
    unsigned long long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
    if (ec != std::errc() || end != s.data() + s.size() || v > hi) {
        return false;
    }
    out = v;
    return true;
}

bool ParseFloat(std::string_view s, float& out) {
    if (!s.empty() && s[0] == '+') {
        s.remove_prefix(1);
    }
    if (s.empty()) {
        return false;
    }
    float v = 0.0f;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) {
        return false;
    }
    out = v;
    return true;
}

struct Flag {
    std::string_view setWord;
    std::string_view getWord;
    std::uint8_t State::*field;
};

constexpr Flag kFlags[] = {
    {"setusepwm", "getusepwm", &State::usePwm},
    {"setusepacket", "getusepacket", &State::usePacket},
    {"setdebug", "getdebug", &State::debug},
    {"setusetrig", "getusetrig", &State::useTrig},
    {"setuseonoff", "getuseonoff", &State::useOnOff},
    {"setsoftstart", "getsoftstart", &State::softStart},
};

}  // namespace

struct Controller::Args {
    std::string_view word;
    std::string_view arg[kMaxArgs];
    int count = 0;

    bool Int(int i, long long lo, long long hi, long long& out) const {
        return ParseInt(arg[i], lo, hi, out);
    }
};

// Builds reply lines: words separated by one blank, each line ended by CR LF.
class Controller::Reply {
public:
    explicit Reply(std::string& text) : text_(text) {}

    Reply& Word(std::string_view w) {
        Separate();
        text_.append(w);
        return *this;
    }
    Reply& Dec(long long v) {
        char buf[24];
        const auto res = std::to_chars(buf, buf + sizeof buf, v);
        return Word(std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)));
    }
    Reply& Hex(unsigned long long v, int width = 0) {
        char buf[24];
        const auto res = std::to_chars(buf, buf + sizeof buf, v, 16);
        const auto len = static_cast<int>(res.ptr - buf);
        Separate();
        for (int i = len; i < width; ++i) {
            text_.push_back('0');
        }
        text_.append(buf, static_cast<std::size_t>(len));
        return *this;
    }
    Reply& Real(float v) {
        char buf[48];
        const auto res = std::to_chars(buf, buf + sizeof buf, v);
        return Word(std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)));
    }
    void End() {
        text_.append("\r\n");
        lineOpen_ = false;
    }

private:
    void Separate() {
        if (lineOpen_) {
            text_.push_back(' ');
        }
        lineOpen_ = true;
    }
    std::string& text_;
    bool lineOpen_ = false;
};

const Controller::Entry Controller::kEntries[] = {
    {"settrigchannel", 1, &Controller::SetTrigChannel},
    {"gettrigchannel", 0, &Controller::GetTrigChannel},
    {"getswitch", 0, &Controller::GetSwitch},
    {"getmanbright", 1, &Controller::GetManBright},
    {"reset", 0, &Controller::Acknowledge},
    {"reboot", 0, &Controller::Acknowledge},
    {"restart", 0, &Controller::Acknowledge},
    {"getmoduleinfo", 0, &Controller::GetModuleInfo},
    {"getbuildinfo", 0, &Controller::GetBuildInfo},
    {"setmodelch", 1, &Controller::SetModelCh},
    {"getmodelch", 0, &Controller::GetModelCh},
    {"getversioninfo", 0, &Controller::GetVersionInfo},
    {"getfwversioninfo", 0, &Controller::GetFwVersionInfo},
    {"getfpgaversioninfo", 0, &Controller::GetFpgaVersionInfo},
    {"setmodelsave", 0, &Controller::Acknowledge},
    {"#", 2, &Controller::SetBrightness},
    {"setbrightness", 2, &Controller::SetBrightness},
    {"$", 1, &Controller::GetBrightness},
    {"getbrightness", 1, &Controller::GetBrightness},
    {"seton", 2, &Controller::SetOn},
    {"geton", 1, &Controller::GetOn},
    {"setonex", 1, &Controller::SetOnEx},
    {"getonex", 0, &Controller::GetOnEx},
    {"savebright", 1, &Controller::SaveBright},
    {"loadbright", 1, &Controller::LoadBright},
    {"factoryreset", 0, &Controller::FactoryReset},
    {"seterrignore", 1, &Controller::SetErrIgnore},
    {"geterrstatus", 0, &Controller::GetErrStatus},
    {"settrigger", 6, &Controller::SetTrigger},
    {"gettrigger", 1, &Controller::GetTrigger},
    {"savetrigger", 1, &Controller::SaveTrigger},
    {"loadtrigger", 1, &Controller::LoadTrigger},
    {"setbandwidth", 2, &Controller::SetBandwidth},
    {"getbandwidth", 0, &Controller::GetBandwidth},
    {"setbandwidthex", 3, &Controller::SetBandwidthEx},
    {"getbandwidthex", 1, &Controller::GetBandwidthEx},
    {"getbrightindex", 0, &Controller::GetBrightIndex},
    {"gettrigindex", 0, &Controller::GetTrigIndex},
    {"settrigtest", 1, &Controller::SetTrigTest},
    {"setoneshottrig", 0, &Controller::Acknowledge},
    {"fpgaregset", 2, &Controller::FpgaRegSet},
    {"fpgaregget", 1, &Controller::FpgaRegGet},
    {"setsn", kNoneOrOne, &Controller::SetSn},
    {"getsn", 0, &Controller::GetSn},
    {"setmoduleid", 1, &Controller::SetModuleId},
    {"getmoduleid", 0, &Controller::GetModuleId},
    {"savesn", 0, &Controller::SaveSn},
    {"saveid", 0, &Controller::SaveId},
    {"setbuzzer", 1, &Controller::SetBuzzer},
    {"setoutport", 2, &Controller::SetOutPort},
    {"setoutportall", 1, &Controller::SetOutPortAll},
    {"getportstatus", 0, &Controller::GetPortStatus},
    {"gettotalonoff", 0, &Controller::GetTotalOnOff},
    {"setoffset", 1, &Controller::SetOffset},
    {"getoffset", 0, &Controller::GetOffset},
    {"echo", 1, &Controller::Echo},
    {"help", 0, &Controller::Help},
};

Controller::Controller(const Identity& identity)
    : identity_(identity), state_(DefaultState(identity)) {
    line_.reserve(kMaxLineLength);
}

void Controller::Feed(const unsigned char* data, std::size_t size, std::vector<Received>& out) {
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char b = data[i];
        if (packetPos_ == 1 && b != kPacketStart) {
            // A lone FE starts an ordinary (and surely unknown) text command.
            packetPos_ = 0;
            line_.push_back(static_cast<char>(kPacketStart));
        } else if (packetPos_ > 0) {
            packet_[packetPos_++] = b;
            if (packetPos_ == kPacketLength) {
                EndPacket(out);
            }
            continue;
        }

        if (skipLineFeed_) {
            skipLineFeed_ = false;
            if (b == '\n') {
                continue;
            }
        }
        if (b == kPacketStart && line_.empty() && !lineTooLong_) {
            packet_[0] = b;
            packetPos_ = 1;
            continue;
        }
        if (b == '\r' || b == '\n') {
            skipLineFeed_ = (b == '\r');
            EndLine(out);
            continue;
        }
        if (line_.size() < kMaxLineLength) {
            line_.push_back(static_cast<char>(b));
        } else {
            lineTooLong_ = true;
        }
    }
}

void Controller::DropUnfinished() {
    line_.clear();
    lineTooLong_ = false;
    packetPos_ = 0;
}

void Controller::EndLine(std::vector<Received>& out) {
    Received r;
    r.transcript = line_;
    if (state_.echo) {
        r.answer = line_;
        r.answer.append("\r\n");
    }
    std::size_t first = 0;
    while (first < line_.size() && IsBlank(line_[first])) {
        ++first;
    }
    r.isCommand = lineTooLong_ || first < line_.size();
    if (lineTooLong_) {
        r.answer.append("error line too long\r\n");
    } else if (r.isCommand) {
        r.answer.append(Execute(line_));
    }
    out.push_back(std::move(r));
    line_.clear();
    lineTooLong_ = false;
}

void Controller::EndPacket(std::vector<Received>& out) {
    static const char kDigits[] = "0123456789abcdef";
    Received r;
    r.isCommand = true;
    for (int i = 0; i < kPacketLength; ++i) {
        if (i > 0) {
            r.transcript.push_back(' ');
        }
        r.transcript.push_back(kDigits[packet_[i] >> 4]);
        r.transcript.push_back(kDigits[packet_[i] & 0x0F]);
    }
    r.answer = ExecutePacket(packet_);
    out.push_back(std::move(r));
    packetPos_ = 0;
}

std::string Controller::Execute(std::string_view line) {
    Args a;
    std::size_t i = 0;
    bool tooMany = false;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && !IsBlank(line[i])) {
            ++i;
        }
        if (start == i) {
            break;
        }
        const std::string_view w = line.substr(start, i - start);
        if (a.word.empty()) {
            a.word = w;
        } else if (a.count < kMaxArgs) {
            a.arg[a.count++] = w;
        } else {
            tooMany = true;
        }
    }

    std::string text;
    if (a.word.empty()) {
        return text;
    }
    Reply reply(text);
    if (!refused_.empty() && a.word == refused_) {
        reply.Word("error").Word("refused").Word(a.word).End();
        return text;
    }

    bool known = false;
    bool ok = false;
    for (const Flag& f : kFlags) {
        if (a.word == f.setWord || a.word == f.getWord) {
            known = true;
            ok = !tooMany && RunFlag(a, reply);
            break;
        }
    }
    if (!known) {
        for (const Entry& e : kEntries) {
            if (a.word == e.word) {
                known = true;
                const bool countFits =
                    e.argCount == kNoneOrOne ? a.count <= 1 : a.count == e.argCount;
                ok = !tooMany && countFits && (this->*e.run)(a, reply);
                break;
            }
        }
    }

    if (!known) {
        text.clear();
        Reply error(text);
        error.Word("error").Word("unknown").Word("command")
            .Word(a.word.substr(0, 31)).End();
    } else if (!ok) {
        text.clear();
        Reply error(text);
        error.Word("error").Word("bad").Word("arguments").Word(a.word).End();
    }
    return text;
}

std::string Controller::ExecutePacket(const unsigned char* p) {
    std::string text;
    Reply reply(text);
    if (p[0] != kPacketStart || p[1] != kPacketStart || p[2] != 0x1B || p[3] != 0x00 ||
        p[4] != 0x20 || p[kPacketLength - 1] != kPacketEnd) {
        reply.Word("error").Word("bad").Word("packet").End();
        return text;
    }
    for (int c = 0; c < kChannels; ++c) {
        state_.working.level[c] = static_cast<std::uint16_t>((p[5 + 2 * c] << 8) | p[6 + 2 * c]);
    }
    reply.Word("setbrightpacket").End();
    return text;
}

std::string Controller::NextSwitchLine() {
    ++switchStep_;
    std::string text;
    Reply reply(text);
    reply.Word("getswitch");
    for (int i = 0; i < kSwitches; ++i) {
        state_.switches[i] = static_cast<std::uint8_t>((switchStep_ >> i) & 1u);
        reply.Dec(state_.switches[i]);
    }
    reply.End();
    return text;
}

bool Controller::RunFlag(const Args& a, Reply& r) {
    for (const Flag& f : kFlags) {
        if (a.word == f.getWord) {
            if (a.count != 0) {
                return false;
            }
            r.Word(a.word).Dec(state_.*f.field).End();
            return true;
        }
        if (a.word == f.setWord) {
            long long v = 0;
            if (a.count != 1 || !a.Int(0, 0, 1, v)) {
                return false;
            }
            state_.*f.field = static_cast<std::uint8_t>(v);
            r.Word(a.word).Dec(v).End();
            return true;
        }
    }
    return false;
}

bool Controller::Acknowledge(const Args& a, Reply& r) {
    r.Word(a.word).End();
    return true;
}

bool Controller::SetTrigChannel(const Args& a, Reply& r) {
    long long v = 0;
    if (!a.Int(0, 0, 255, v)) {
        return false;
    }
    state_.trigChannels = static_cast<int>(v);
    r.Word(a.word).Dec(v).End();
    return true;
}

bool Controller::GetTrigChannel(const Args& a, Reply& r) {
    r.Word(a.word).Dec(state_.trigChannels).End();
    return true;
}

bool Controller::GetSwitch(const Args& a, Reply& r) {
    r.Word(a.word);
    for (int i = 0; i < kSwitches; ++i) {
        r.Dec(state_.switches[i]);
    }
    r.End();
    return true;
}

bool Controller::GetManBright(const Args& a, Reply& r) {
    long long c = 0;
    if (!a.Int(0, 0, kChannels - 1, c)) {
        return false;
    }
    r.Word(a.word).Dec(c).Dec(state_.manualBright[c]).End();
    return true;
}

bool Controller::GetModuleInfo(const Args&, Reply& r) {
    r.Word("modulename").Word(state_.model).End();
    r.Word("ID:").Dec(state_.moduleId).End();
    return true;
}

bool Controller::GetBuildInfo(const Args&, Reply& r) {
    r.Word("build").Word(state_.build).End();
    return true;
}

bool Controller::SetModelCh(const Args& a, Reply& r) {
    long long v = 0;
    if (!a.Int(0, 1, kChannels, v)) {
        return false;
    }
    state_.modelChannels = static_cast<int>(v);
    r.Word(a.word).Dec(v).End();
    return true;
}

bool Controller::GetModelCh(const Args& a, Reply& r) {
    r.Word(a.word).Dec(state_.modelChannels).End();
    return true;
}

bool Controller::GetVersionInfo(const Args&, Reply& r) {
    r.Word("f/w_version").Word(state_.firmware).End();
    r.Word("fpga_version").Word(state_.fpga).End();
    r.Word("build").Word(state_.build).End();
    return true;
}

bool Controller::GetFwVersionInfo(const Args& a, Reply& r) {
    r.Word(a.word).Word(state_.firmware).End();
    return true;
}

bool Controller::GetFpgaVersionInfo(const Args& a, Reply& r) {
    r.Word(a.word).Word(state_.fpga).End();
    return true;
}

bool Controller::SetBrightness(const Args& a, Reply& r) {
    long long c = 0;
    long long v = 0;
    if (!a.Int(0, 0, kChannels - 1, c) || !a.Int(1, 0, 0xFFFF, v)) {
        return false;
    }
    state_.working.level[c] = static_cast<std::uint16_t>(v);
    r.Word(a.word).Dec(c).Dec(v).End();
    return true;
}

bool Controller::GetBrightness(const Args& a, Reply& r) {
    long long c = 0;
    const bool all = a.Int(0, 255, 255, c);
    if (!all && !a.Int(0, 0, kChannels - 1, c)) {
        return false;
    }
    const int from = all ? 0 : static_cast<int>(c);
    const int to = all ? kChannels : from + 1;
    for (int ch = from; ch < to; ++ch) {
        r.Word(a.word).Dec(state_.brightIndex).Dec(ch).Dec(state_.working.level[ch]).End();
    }
    return true;
}

bool Controller::SetOn(const Args& a, Reply& r) {
    long long c = 0;
    long long on = 0;
    if (!a.Int(0, 0, kChannels - 1, c) || !a.Int(1, 0, 1, on)) {
        return false;
    }
    std::uint16_t& mask = state_.working.onMask;
    const auto bit = static_cast<std::uint16_t>(1u << c);
    mask = static_cast<std::uint16_t>(on ? (mask | bit) : (mask & ~bit));
    r.Word(a.word).Dec(c).Dec(on).End();
    return true;
}

bool Controller::GetOn(const Args& a, Reply& r) {
    long long c = 0;
    if (!a.Int(0, 0, kChannels - 1, c)) {
        return false;
    }
    const std::uint16_t mask = state_.working.onMask;
    r.Word(a.word).Dec(c).Dec((mask >> c) & 1).End();
    return true;
}

bool Controller::SetOnEx(const Args& a, Reply& r) {
    unsigned long long v = 0;
    if (!ParseHex(a.arg[0], 0xFFFFFFFFull, v)) {
        return false;
    }
    // The hardware has 16 channels; higher bits of the mask have nothing to switch.
    const auto mask = static_cast<std::uint16_t>(v & 0xFFFFu);
    state_.working.onMask = mask;
    r.Word(a.word).Hex(mask, 8).End();
    return true;
}

bool Controller::GetOnEx(const Args& a, Reply& r) {
    r.Word(a.word).Dec(state_.brightIndex).Hex(state_.working.onMask).End();
    return true;
}

bool Controller::SaveBright(const Args& a, Reply& r) {
    long long m = 0;
    if (!a.Int(0, 0, kMemories - 1, m)) {
        return false;
    }
    state_.bright[m] = state_.working;
    r.Word(a.word).Dec(m).End();
    return true;
}

bool Controller::LoadBright(const Args& a, Reply& r) {
    long long m = 0;
    if (!a.Int(0, 0, kMemories - 1, m)) {
        return false;
    }
    state_.working = state_.bright[m];
    state_.brightIndex = static_cast<std::uint8_t>(m);
    r.Word(a.word).Dec(m).End();
    return true;
}

bool Controller::FactoryReset(const Args& a, Reply& r) {
    const bool echo = state_.echo;  // a terminal setting, not part of the configuration
    state_ = DefaultState(identity_);
    state_.echo = echo;
    r.Word(a.word).End();
    return true;
}

bool Controller::SetErrIgnore(const Args& a, Reply& r) {
    long long v = 0;
    if (!a.Int(0, 0, 1, v)) {
        return false;
    }
    state_.errorIgnore = static_cast<std::uint8_t>(v);
    r.Word(a.word).Dec(v).End();
    return true;
}

bool Controller::GetErrStatus(const Args& a, Reply& r) {
    r.Word(a.word).Hex(state_.errorCode).Hex(state_.errorDetail).End();
    return true;
}

bool Controller::SetTrigger(const Args& a, Reply& r) {
    long long t = 0, enable = 0, edge = 0, delay = 0, on = 0, off = 0;
    // Enable and edge are kept as sent: the panel sends any non-zero edge for "Negative" and
    // 255 for an edge it has no selection for.
    if (!a.Int(0, 0, kTriggers - 1, t) || !a.Int(1, 0, 255, enable) || !a.Int(2, 0, 255, edge) ||
        !a.Int(3, 0, 0xFFFF, delay) || !a.Int(4, 0, 0xFFFF, on) || !a.Int(5, 0, 0xFFFF, off)) {
        return false;
    }
    Trigger& tr = state_.workingTriggers[t];
    tr.number = static_cast<std::uint8_t>(t);
    tr.enable = static_cast<std::uint8_t>(enable);
    tr.edge = static_cast<std::uint8_t>(edge);
    tr.delay = static_cast<std::uint16_t>(delay);
    tr.onTime = static_cast<std::uint16_t>(on);
    tr.offTime = static_cast<std::uint16_t>(off);
    r.Word(a.word).Dec(t).Dec(enable).Dec(edge).Dec(delay).Dec(on).Dec(off).End();
    return true;
}

bool Controller::GetTrigger(const Args& a, Reply& r) {
    long long t = 0;
    const bool all = a.Int(0, 255, 255, t);
    if (!all && !a.Int(0, 0, kTriggers - 1, t)) {
        return false;
    }
    const int from = all ? 0 : static_cast<int>(t);
    const int to = all ? kTriggers : from + 1;
    for (int k = from; k < to; ++k) {
        const Trigger& tr = state_.workingTriggers[k];
        r.Word(a.word).Dec(state_.trigIndex).Dec(k).Dec(tr.number).Dec(tr.enable).Dec(tr.edge)
            .Dec(tr.delay).Dec(tr.onTime).Dec(tr.offTime).End();
    }
    return true;
}

bool Controller::SaveTrigger(const Args& a, Reply& r) {
    long long m = 0;
    if (!a.Int(0, 0, kMemories - 1, m)) {
        return false;
    }
    std::memcpy(state_.trigger[m], state_.workingTriggers, sizeof state_.trigger[m]);
    r.Word(a.word).Dec(m).End();
    return true;
}

bool Controller::LoadTrigger(const Args& a, Reply& r) {
    long long m = 0;
    if (!a.Int(0, 0, kMemories - 1, m)) {
        return false;
    }
    std::memcpy(state_.workingTriggers, state_.trigger[m], sizeof state_.workingTriggers);
    state_.trigIndex = static_cast<std::uint8_t>(m);
    r.Word(a.word).Dec(m).End();
    return true;
}

bool Controller::SetBandwidth(const Args& a, Reply& r) {
    float low = 0.0f;
    float high = 0.0f;
    if (!ParseFloat(a.arg[0], low) || !ParseFloat(a.arg[1], high)) {
        return false;
    }
    for (int c = 0; c < kChannels; ++c) {
        state_.bandwidthLow[c] = low;
        state_.bandwidthHigh[c] = high;
    }
    r.Word(a.word).Real(low).Real(high).End();
    return true;
}

bool Controller::GetBandwidth(const Args& a, Reply& r) {
    r.Word(a.word).Real(state_.bandwidthLow[0]).Real(state_.bandwidthHigh[0]).End();
    return true;
}

bool Controller::SetBandwidthEx(const Args& a, Reply& r) {
    long long c = 0;
    float low = 0.0f;
    float high = 0.0f;
    if (!a.Int(0, 0, kChannels - 1, c) || !ParseFloat(a.arg[1], low) ||
        !ParseFloat(a.arg[2], high)) {
        return false;
    }
    state_.bandwidthLow[c] = low;
    state_.bandwidthHigh[c] = high;
    r.Word(a.word).Dec(c).Real(low).Real(high).End();
    return true;
}

bool Controller::GetBandwidthEx(const Args& a, Reply& r) {
    long long c = 0;
    const bool all = a.Int(0, 255, 255, c);
    if (!all && !a.Int(0, 0, kChannels - 1, c)) {
        return false;
    }
    const int from = all ? 0 : static_cast<int>(c);
    const int to = all ? kChannels : from + 1;
    for (int ch = from; ch < to; ++ch) {
        r.Word(a.word).Dec(ch).Real(state_.bandwidthLow[ch]).Real(state_.bandwidthHigh[ch]).End();
    }
    return true;
}

bool Controller::GetBrightIndex(const Args& a, Reply& r) {
    r.Word(a.word).Dec(state_.brightIndex).End();
    return true;
}

bool Controller::GetTrigIndex(const Args& a, Reply& r) {
    r.Word(a.word).Dec(state_.trigIndex).End();
    return true;
}

bool Controller::SetTrigTest(const Args& a, Reply& r) {
    long long v = 0;
    if (!a.Int(0, 0, 255, v)) {
        return false;
    }
    state_.trigTest = static_cast<std::uint8_t>(v);
    r.Word(a.word).Dec(v).End();
    return true;
}

bool Controller::FpgaRegSet(const Args& a, Reply& r) {
    unsigned long long reg = 0;
    unsigned long long value = 0;
    if (!ParseHex(a.arg[0], 0xFF, reg) || !ParseHex(a.arg[1], 0xFF, value)) {
        return false;
    }
    state_.fpgaRegister[reg] = static_cast<std::uint8_t>(value);
    r.Word(a.word).Hex(reg).Hex(value).End();
    return true;
}

bool Controller::FpgaRegGet(const Args& a, Reply& r) {
    unsigned long long reg = 0;
    if (!ParseHex(a.arg[0], 0xFF, reg)) {
        return false;
    }
    r.Word(a.word).Hex(reg).Hex(state_.fpgaRegister[reg]).End();
    return true;
}

// "setsn" alone sets an empty serial number (a configuration can hold one).
bool Controller::SetSn(const Args& a, Reply& r) {
    if (a.arg[0].size() > static_cast<std::size_t>(kMaxTextLength)) {
        return false;
    }
    state_.serial.assign(a.arg[0]);
    r.Word(a.word).Word(state_.serial).End();
    return true;
}

bool Controller::GetSn(const Args&, Reply& r) {
    r.Word("S/N:").Word(state_.serial).End();
    return true;
}

bool Controller::SaveSn(const Args& a, Reply& r) {
    identity_.serial = state_.serial;
    r.Word(a.word).End();
    return true;
}

bool Controller::SetModuleId(const Args& a, Reply& r) {
    long long v = 0;
    if (!a.Int(0, -128, 255, v)) {
        return false;
    }
    // The panel prints the ID byte as a signed number; the module keeps the byte.
    state_.moduleId = static_cast<std::uint8_t>(v & 0xFF);
    r.Word(a.word).Dec(state_.moduleId).End();
    return true;
}

bool Controller::GetModuleId(const Args&, Reply& r) {
    r.Word("ID:").Dec(state_.moduleId).End();
    return true;
}

bool Controller::SaveId(const Args& a, Reply& r) {
    identity_.moduleId = state_.moduleId;
    r.Word(a.word).End();
    return true;
}

bool Controller::SetBuzzer(const Args& a, Reply& r) {
    long long v = 0;
    if (!a.Int(0, -128, 255, v)) {
        return false;
    }
    state_.buzzer = v != 0 ? 1 : 0;
    r.Word(a.word).Dec(state_.buzzer).End();
    return true;
}

bool Controller::SetOutPort(const Args& a, Reply& r) {
    long long port = 0;
    long long on = 0;
    if (!a.Int(0, 0, 1, port) || !a.Int(1, 0, 1, on)) {
        return false;
    }
    const auto bit = static_cast<std::uint8_t>(1u << port);
    state_.outputs = static_cast<std::uint8_t>(on ? (state_.outputs | bit)
                                                  : (state_.outputs & ~bit));
    r.Word(a.word).Dec(port).Dec(on).End();
    return true;
}

bool Controller::SetOutPortAll(const Args& a, Reply& r) {
    unsigned long long v = 0;
    if (!ParseHex(a.arg[0], 0x3, v)) {
        return false;
    }
    state_.outputs = static_cast<std::uint8_t>(v);
    r.Word(a.word).Hex(v).End();
    return true;
}

bool Controller::GetPortStatus(const Args& a, Reply& r) {
    r.Word(a.word).Hex(state_.inputs).Hex(state_.outputs).End();
    return true;
}

bool Controller::GetTotalOnOff(const Args& a, Reply& r) {
    r.Word(a.word).Dec(state_.totalOnOff).End();
    return true;
}

bool Controller::SetOffset(const Args& a, Reply& r) {
    long long v = 0;
    if (!a.Int(0, 0, 0xFFFF, v)) {
        return false;
    }
    state_.offset = static_cast<std::uint16_t>(v);
    r.Word(a.word).Dec(v).End();
    return true;
}

bool Controller::GetOffset(const Args& a, Reply& r) {
    r.Word(a.word).Dec(state_.offset).End();
    return true;
}

bool Controller::Echo(const Args& a, Reply& r) {
    long long v = 0;
    if (!a.Int(0, 0, 1, v)) {
        return false;
    }
    state_.echo = v != 0;
    r.Word(a.word).Dec(v).End();
    return true;
}

bool Controller::Help(const Args& a, Reply& r) {
    // A few words per line keeps every line far below what a receiver must take.
    int onLine = 0;
    auto add = [&](std::string_view w) {
        if (onLine == 0) {
            r.Word(a.word);
        }
        r.Word(w);
        if (++onLine == 10) {
            r.End();
            onLine = 0;
        }
    };
    for (const Flag& f : kFlags) {
        add(f.setWord);
        add(f.getWord);
    }
    for (const Entry& e : kEntries) {
        add(e.word);
    }
    if (onLine != 0) {
        r.End();
    }
    return true;
}

}  // namespace sim
