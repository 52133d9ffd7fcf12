#pragma once
// What the service knows of one controller without asking it: connection, error status,
// inputs and outputs (read by the service's status poll), the light (read once per
// connection, then kept by the service's own writes from every front end), identity and the
// last recipe apply. Front ends that are polled often (a PLC every 10-100 ms) answer from here,
// so their reads add no traffic on the serial line. Any thread.

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include <lumitrax/controller.h>

namespace service {

// The last recipe apply started through the service, as a PLC hand-shakes on it.
enum class ApplyState : std::uint16_t { Idle = 0, Applying = 1, Verified = 2, Differs = 3, Failed = 4 };

struct ViewSnapshot {
    bool connected = false;
    lumitrax::ErrorStatus error;
    lumitrax::PortStatus io;
    bool lightKnown = false;  // false until read after a (re)connection
    std::array<int, lumitrax::kChannels> brightness{};
    std::uint16_t onMask = 0;
    int modelChannels = 0;  // 0 until read
    std::string serialNumber;
    ApplyState apply = ApplyState::Idle;
    int applyRecipe = 0;  // the recipe number of the last apply
    int applyDifferences = 0;
    // Whole seconds counted while the controller was connected (a PLC's sign of life).
    std::uint64_t connectedSeconds = 0;
};

class ControllerView {
public:
    ViewSnapshot Snapshot() const;

    void SetConnected(bool connected);
    void SetStatus(const lumitrax::ErrorStatus& error, const lumitrax::PortStatus& io);
    void SetOutputs(bool out0, bool out1);
    void SetIdentity(const std::string& serialNumber, int modelChannels);
    // The light as read from the controller.
    void SetLight(const std::array<int, lumitrax::kChannels>& brightness, std::uint16_t onMask);
    // A write the service made: only meaningful once the light is known.
    void SetBrightness(int channel, int value);
    void SetOnMask(std::uint16_t mask);
    // The light changed in a way not followed here (a memory loaded, a write that failed half
    // way): the next status poll reads it again.
    void ForgetLight();

    // Marks an apply of recipe number as running; false (nothing changed) while one is.
    bool BeginApply(int number);
    void EndApply(ApplyState result, int differences);

private:
    mutable std::mutex mutex_;
    ViewSnapshot view_;
    std::chrono::steady_clock::time_point connectedAt_{};
};

}  // namespace service
