#include "controller_view.h"

namespace service {

ViewSnapshot ControllerView::Snapshot() const {
    std::lock_guard lock(mutex_);
    ViewSnapshot v = view_;
    if (v.connected) {
        v.connectedSeconds += static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - connectedAt_).count());
    }
    return v;
}

void ControllerView::SetConnected(bool connected) {
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (connected == view_.connected) return;
    if (connected) {
        connectedAt_ = now;
        // The controller may have been switched off or changed meanwhile.
        view_.lightKnown = false;
    } else {
        view_.connectedSeconds += static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::seconds>(now - connectedAt_).count());
    }
    view_.connected = connected;
}

void ControllerView::SetStatus(const lumitrax::ErrorStatus& error, const lumitrax::PortStatus& io) {
    std::lock_guard lock(mutex_);
    view_.error = error;
    view_.io = io;
}

void ControllerView::SetOutputs(bool out0, bool out1) {
    std::lock_guard lock(mutex_);
    view_.io.out0 = out0;
    view_.io.out1 = out1;
}

void ControllerView::SetIdentity(const std::string& serialNumber, int modelChannels) {
    std::lock_guard lock(mutex_);
    view_.serialNumber = serialNumber;
    view_.modelChannels = modelChannels;
}

void ControllerView::SetLight(const std::array<int, lumitrax::kChannels>& brightness, std::uint16_t onMask) {
    std::lock_guard lock(mutex_);
    view_.brightness = brightness;
    view_.onMask = onMask;
    view_.lightKnown = true;
}

void ControllerView::SetBrightness(int channel, int value) {
    if (channel < 1 || channel > lumitrax::kChannels) return;
    std::lock_guard lock(mutex_);
    view_.brightness[static_cast<std::size_t>(channel - 1)] = value;
}

void ControllerView::SetOnMask(std::uint16_t mask) {
    std::lock_guard lock(mutex_);
    view_.onMask = mask;
}

void ControllerView::ForgetLight() {
    std::lock_guard lock(mutex_);
    view_.lightKnown = false;
}

bool ControllerView::BeginApply(int number) {
    std::lock_guard lock(mutex_);
    if (view_.apply == ApplyState::Applying) return false;
    view_.apply = ApplyState::Applying;
    view_.applyRecipe = number;
    view_.applyDifferences = 0;
    return true;
}

void ControllerView::EndApply(ApplyState result, int differences) {
    std::lock_guard lock(mutex_);
    view_.apply = result;
    view_.applyDifferences = differences;
}

}  // namespace service
