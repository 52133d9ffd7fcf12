#include "controller_queries.h"

#include <cstring>

#include "c_format.h"
#include "command_send.h"
#include "pause.h"

namespace {

constexpr int kProbeStepWaitMs = 100;
constexpr int kProbeLastWaitMs = 800;
constexpr int kProbeLogLines = 100;
constexpr int kProbeWordLimit = 127;

// The word that starts at p (blank-delimited), at most kProbeWordLimit characters.
std::string WordAt(const char* p) {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') {
        ++p;
    }
    const char* end = p;
    while (*end != '\0' && *end != ' ' && *end != '\t' && *end != '\n' && *end != '\r' && *end != '\v' &&
           *end != '\f') {
        ++end;
    }
    const std::size_t n = static_cast<std::size_t>(end - p);
    return std::string(p, n > kProbeWordLimit ? kProbeWordLimit : n);
}

}  // namespace

void SendReadAllBatch(DeviceLink& link, int channelCount) {
    SendTyped<CMD_GETMODULEINFO>(link);
    SendTyped<CMD_GETBUILDINFO>(link);
    SendTyped<CMD_GETUSEPACKET>(link);
    SendTyped<CMD_GETTRIGCHANNEL>(link);
    SendTyped<CMD_GETUSEONOFF>(link);
    SendTyped<CMD_GETUSETRIG>(link);
    SendTyped<CMD_GETSOFTSTART>(link);
    SendTyped<CMD_GETUSEPWM>(link);
    SendTyped<CMD_GETMODELCH>(link);
    SendTyped<CMD_GETDEBUG>(link);
    SendTyped<CMD_GETFWVERSIONINFO>(link);
    SendTyped<CMD_GETFPGAVERSIONINFO>(link);
    SendTyped<CMD_GETBANDWIDTH>(link);
    SendTyped<CMD_GETOFFSET>(link);
    SendTyped<CMD_GETONEX>(link);
    SendTyped<CMD_GETERRSTATUS>(link);
    SendTyped<CMD_GETBRIGHTINDEX>(link);
    SendTyped<CMD_GETTRIGINDEX>(link);
    SendTyped<CMD_GETSN>(link);
    SendTyped<CMD_GETMODULEID>(link);
    SendTyped<CMD_GETBANDWIDTHEX>(link, {255});
    SendTyped<CMD_GETBRIGHTNESS>(link, {255});
    for (int k = 0; k < 4 && k < channelCount; ++k) {
        SendTyped<CMD_GETTRIGGER>(link, {static_cast<std::uint8_t>(k)});
    }
    SendTyped<CMD_GETVERSIONINFO>(link);
    SendTyped<CMD_GETPORTSTATUS>(link);
    SendTyped<CMD_GETTOTALONOFF>(link);
}

int ReadAll(DeviceLink& link, int channelCount, DeviceState& state) {
    SendReadAllBatch(link, channelCount);
    Pause(kReadAllWaitMs);
    return link.TakeSnapshot(state);
}

bool ControllerIdentity::Complete() const {
    return !moduleName.empty() && !firmwareVersion.empty() && !build.empty() && !serialNumber.empty();
}

void ParseIdentityLine(const char* line, ControllerIdentity& identity) {
    if (line == nullptr) {
        return;
    }
    const char* blank = std::strchr(line, ' ');
    const std::size_t firstLength = blank != nullptr ? static_cast<std::size_t>(blank - line) : std::strlen(line);
    const std::string first(line, firstLength);
    std::string* target = nullptr;
    if (first == "modulename") {
        target = &identity.moduleName;
    } else if (first == "getfwversioninfo" || first == "f/w_version") {
        target = &identity.firmwareVersion;
    } else if (first == "getfpgaversioninfo" || first == "fpga_version") {
        target = &identity.fpgaVersion;
    } else if (first == "build") {
        target = &identity.build;
    } else if (first == "S/N:") {
        target = &identity.serialNumber;
    }
    if (target == nullptr || blank == nullptr) {
        return;  // a keyword with no value leaves the value as it was
    }
    std::string word = WordAt(blank);
    if (!word.empty()) {
        *target = std::move(word);
    }
}

bool ProbePort(DeviceLink& link, int portNumber, ControllerIdentity& identity) {
    identity = ControllerIdentity{};
    if (link.OpenPort(portNumber) == 0) {
        link.ClosePort();
        return false;
    }
    SendTyped<CMD_RAW>(link, {"\r"});
    Pause(kProbeStepWaitMs);
    SendTyped<CMD_RAW>(link, {"echo 0\r"});
    Pause(kProbeStepWaitMs);
    SendTyped<CMD_GETMODULEINFO>(link);
    Pause(kProbeStepWaitMs);
    SendTyped<CMD_GETBUILDINFO>(link);
    Pause(kProbeStepWaitMs);
    SendTyped<CMD_GETVERSIONINFO>(link);
    Pause(kProbeStepWaitMs);
    SendTyped<CMD_GETFWVERSIONINFO>(link);
    Pause(kProbeStepWaitMs);
    SendTyped<CMD_GETFPGAVERSIONINFO>(link);
    Pause(kProbeStepWaitMs);
    SendTyped<CMD_GETSN>(link);
    Pause(kProbeLastWaitMs);

    char line[kLogSlotSize];
    for (int i = 0; i < kProbeLogLines && link.PopLogLine(line) == 1; ++i) {
        ParseIdentityLine(line, identity);
    }
    const bool found = identity.Complete();
    link.ClosePort();
    return found;
}

std::vector<SearchHit> SearchPorts(DeviceLink& link, const std::vector<SearchTarget>& ports,
                                   const std::function<void(const SearchHit&)>& found) {
    std::vector<SearchHit> hits;
    for (const SearchTarget& port : ports) {
        if (port.portNumber <= 0) {
            continue;
        }
        SearchHit hit{port, {}};
        if (ProbePort(link, port.portNumber, hit.identity)) {
            if (found) {
                found(hit);
            }
            hits.push_back(std::move(hit));
        }
    }
    return hits;
}

std::string SearchReportLine(const SearchHit& hit) {
    return CFormat("%s %s %s %s %s %s",
                   {hit.port.name, hit.identity.moduleName, hit.identity.firmwareVersion, hit.identity.fpgaVersion,
                    hit.identity.build, hit.identity.serialNumber});
}
