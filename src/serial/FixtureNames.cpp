#include "serial/FixtureNames.h"

#include "platform/Text.h"

namespace tarvex {
namespace {

constexpr std::string_view kSerialPrefix = "usb-serial:";
constexpr std::string_view kLocationPrefix = "location:";

std::optional<std::string> After(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() ||
        !EqualsIgnoringCase(name.substr(0, prefix.size()), prefix)) {
        return std::nullopt;
    }
    const std::string_view value = TrimWhitespace(name.substr(prefix.size()));
    return value.empty() ? std::nullopt : std::optional<std::string>(value);
}

}  // namespace

std::optional<FixtureName> ParseFixtureName(std::string_view name) {
    if (std::optional<std::string> serial = After(name, kSerialPrefix)) {
        return FixtureName{FixtureName::By::SerialNumber, std::move(*serial)};
    }
    if (std::optional<std::string> location = After(name, kLocationPrefix)) {
        return FixtureName{FixtureName::By::Location, std::move(*location)};
    }
    return std::nullopt;
}

std::string PortForFixture(const FixtureName& fixture, const std::vector<PortInfo>& ports) {
    const PortInfo* found = nullptr;
    for (const PortInfo& port : ports) {
        const std::string& have =
            fixture.by == FixtureName::By::SerialNumber ? port.serialNumber : port.location;
        if (have.empty() || !EqualsIgnoringCase(have, fixture.value)) {
            continue;
        }
        if (found == nullptr) {
            found = &port;
        } else if (!EqualsIgnoringCase(found->path, port.path)) {
            return {};
        }
    }
    return found != nullptr ? found->path : std::string();
}

}  // namespace tarvex
