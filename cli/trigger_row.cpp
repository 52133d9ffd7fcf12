#include "trigger_row.h"

#include <cstdint>

#include "c_format.h"

namespace {
constexpr int kLongestTime = 4000;  // microseconds, as sent
}  // namespace

TriggerSetting TriggerRowSetting(int row, int delayPosition, int onPosition, int edge, int enable) {
    TriggerSetting s;
    s.triggerNo = static_cast<std::uint8_t>(row);
    s.enable = static_cast<std::uint8_t>(enable);
    s.edge = static_cast<std::uint8_t>(edge);
    s.delay = static_cast<std::uint16_t>(delayPosition - 1);
    s.onTime = static_cast<std::uint16_t>(onPosition - 1);
    s.offTime = static_cast<std::uint16_t>(s.onTime * 10);
    return s;
}

std::string TriggerRowProblem(const TriggerSetting& setting) {
    if (setting.delay > kLongestTime) {
        return CFormat("trig:%d,delay:%d", {setting.triggerNo, setting.delay});
    }
    if (setting.onTime > kLongestTime) {
        return CFormat("trig:%d,on:%d", {setting.triggerNo, setting.onTime});
    }
    return {};
}
