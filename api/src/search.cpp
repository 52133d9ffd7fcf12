#include <algorithm>
#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

#include "controller_queries.h"
#include "lumitrax/controller.h"
#include "qt_runtime.h"
#include "text.h"
#include "wire.h"

namespace lumitrax {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kQuietGap = std::chrono::milliseconds(20);

// How often a probe looks whether the search was stopped.
constexpr int kStopCheckMs = 50;

// The panel's probe, paced but without its fixed waits: a carriage return and "echo 0" put a
// terminal-style firmware into a known state, then the identity queries.
SearchResult Probe(const std::string& target, int timeoutMs, const std::atomic<bool>* stop) {
    SearchResult result;
    result.target = target;
    const auto stopped = [&] {
        if (stop != nullptr && stop->load()) {
            result.problem = target + ": interrupted before a controller answered";
            return true;
        }
        return false;
    };
    if (stopped()) {
        return result;
    }
    try {
        detail::Wire wire(target, stop);
        wire.Forget();
        for (const detail::Outgoing& c :
             {detail::MakeText(CMD_RAW, "\r"), detail::MakeText(CMD_RAW, "echo 0\r"), detail::Make(CMD_GETMODULEINFO),
              detail::Make(CMD_GETBUILDINFO), detail::Make(CMD_GETVERSIONINFO), detail::Make(CMD_GETFWVERSIONINFO),
              detail::Make(CMD_GETFPGAVERSIONINFO), detail::Make(CMD_GETSN)}) {
            wire.Send(c);
        }
        ControllerIdentity identity;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string line;
        while (!identity.Complete() && Clock::now() < deadline) {
            if (stopped()) {
                return result;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (wire.NextLine(line, static_cast<int>(std::clamp<long long>(left, 1, kStopCheckMs)))) {
                ParseIdentityLine(line.c_str(), identity);
            }
        }
        // The FPGA version is asked before the serial number but may follow it; once it is in
        // nothing more is due.
        while (identity.Complete() && identity.fpgaVersion.empty() &&
               wire.NextLine(line, static_cast<int>(kQuietGap.count()))) {
            ParseIdentityLine(line.c_str(), identity);
        }
        if (!identity.Complete()) {
            result.problem = "no controller answered within " + std::to_string(timeoutMs) + " ms";
            return result;
        }
        result.found = true;
        result.identity.model = detail::DecodeToUtf8(identity.moduleName);
        result.identity.firmware = detail::DecodeToUtf8(identity.firmwareVersion);
        result.identity.fpga = detail::DecodeToUtf8(identity.fpgaVersion);
        result.identity.build = detail::DecodeToUtf8(identity.build);
        result.identity.serialNumber = detail::DecodeToUtf8(identity.serialNumber);
        result.identity.moduleId = wire.Snapshot().moduleId;
    } catch (const Error& e) {
        result.problem = e.what();
    } catch (const std::exception& e) {  // the system out of threads or memory for this probe
        result.problem = target + ": cannot be probed now (" + e.what() + ")";
    }
    return result;
}

// Probes side by side, but not more at a time than this: each holds a port and threads of its
// own, and a list of hundreds of network ports must not exhaust the process.
constexpr std::size_t kProbesAtOnce = 64;

std::vector<SearchResult> Search(const std::vector<std::string>& targets, int timeoutMs,
                                 const std::atomic<bool>* stop) {
    if (timeoutMs < 1 || timeoutMs > 600000) {
        throw Error(ErrorKind::Argument, "the timeout is not 1..600000 ms");
    }
    detail::EnsureQtRuntime();
    std::vector<SearchResult> results(targets.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i; (i = next++) < targets.size();) {
            results[i] = Probe(targets[i], timeoutMs, stop);
        }
    };
    std::vector<std::thread> workers;
    while (workers.size() < std::min(targets.size(), kProbesAtOnce)) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // the workers there are take the rest
        }
    }
    if (workers.empty()) {
        work();  // no thread to be had: one after another, here
    }
    for (std::thread& t : workers) {
        t.join();
    }
    return results;
}

}  // namespace

std::vector<SearchResult> search(const std::vector<std::string>& targets, int timeoutMs) {
    return Search(targets, timeoutMs, nullptr);
}

std::vector<SearchResult> search(const std::vector<std::string>& targets, int timeoutMs,
                                 const std::atomic<bool>& stop) {
    return Search(targets, timeoutMs, &stop);
}

}  // namespace lumitrax
