// Low latency on Windows is the adapter driver's own setting (its "Latency Timer" in the
// device's advanced port settings); the tool neither reads nor changes it.
#include "serial/LowLatency.h"

namespace tarvex {

std::optional<bool> SystemLatencyControls::GetLowLatencyFlag(int /*fd*/) {
    return std::nullopt;
}

bool SystemLatencyControls::SetLowLatencyFlag(int /*fd*/, bool /*on*/) {
    return false;
}

std::optional<std::string> SystemLatencyControls::ReadAttribute(const std::string& /*path*/) {
    return std::nullopt;
}

bool SystemLatencyControls::WriteAttribute(const std::string& /*path*/,
                                           const std::string& /*value*/) {
    return false;
}

std::string TtyNameOf(const std::string& devicePath) {
    return devicePath;
}

UsbLatency FindUsbLatency(const std::string& /*sysfsRoot*/, const std::string& /*ttyName*/) {
    return {};
}

std::optional<int> LatencyTimerMs(const std::string& /*sysfsRoot*/,
                                  const std::string& /*devicePath*/) {
    return std::nullopt;
}

std::optional<int> TtyLatencyTimerMs(const std::string& /*sysfsRoot*/,
                                     const std::string& /*ttyName*/) {
    return std::nullopt;
}

LatencyRestore RequestLowLatency(int /*fd*/, const UsbLatency& /*device*/,
                                 ILatencyControls& /*controls*/) {
    return {};
}

LatencyRestore RequestSystemLowLatency(int /*fd*/, const std::string& /*devicePath*/) {
    return {};
}

void RestoreLatency(int /*fd*/, const LatencyRestore& /*restore*/, ILatencyControls& /*controls*/) {
}

EmergencyLatency PrepareEmergencyLatency(int /*fd*/, const LatencyRestore& /*restore*/) {
    return {};
}

void EmergencyRestoreLatency(int /*fd*/, const EmergencyLatency& /*prepared*/) {}

}  // namespace tarvex
