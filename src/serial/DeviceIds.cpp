#include "serial/DeviceIds.h"

#include "platform/Text.h"

namespace tarvex {
namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + 1);
    }
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

std::optional<std::uint16_t> UsbIdAfter(std::string_view text, std::string_view tag) {
    const std::size_t at = ToUpperAscii(text).find(ToUpperAscii(tag));
    if (at == std::string::npos || at + tag.size() + 4 > text.size()) {
        return std::nullopt;
    }
    std::uint16_t v = 0;
    for (const char c : text.substr(at + tag.size(), 4)) {
        const int digit = (c >= '0' && c <= '9')   ? c - '0'
                          : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                          : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                   : -1;
        if (digit < 0) {
            return std::nullopt;
        }
        v = static_cast<std::uint16_t>(v * 16 + digit);
    }
    return v;
}

InstanceId ParseInstanceId(std::string_view id) {
    InstanceId out;
    const std::vector<std::string_view> parts = Split(id, '\\');
    out.bus = ToUpperAscii(parts[0]);
    out.vendorId = UsbIdAfter(id, "VID_");
    out.productId = UsbIdAfter(id, "PID_");
    if (parts.size() != 3 || parts[1].empty() || parts[2].empty()) {
        return out;
    }
    if (out.bus == "USB") {
        // A composite device's interfaces are named after the device's ids and their own
        // number; their last part is made up. So is a device's without a serial number, and
        // Windows' made-up parts contain '&', which no serial number it takes does.
        const std::string ids = ToUpperAscii(parts[1]);
        if (ids.find("&MI_") != std::string::npos) {
            out.askParent = true;
        } else if (parts[2].find('&') == std::string_view::npos) {
            out.serialNumber = std::string(parts[2]);
        }
    } else if (out.bus == "FTDIBUS") {
        // VID_0403+PID_6001+A12345A: the adapter's serial number and the port's letter.
        const std::vector<std::string_view> fields = Split(parts[1], '+');
        if (fields.size() == 3 && fields[2].size() > 1) {
            const char letter = fields[2].back();
            const std::string_view serial = fields[2];
            out.serialNumber = std::string(
                letter >= 'A' && letter <= 'Z' ? serial.substr(0, serial.size() - 1) : serial);
        }
        out.askParent = true;
    }
    return out;
}

std::string LocationFromPaths(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (StartsWithIgnoringCase(path, "PCIROOT(")) {
            return path;
        }
    }
    for (const std::string& path : paths) {
        if (!path.empty()) {
            return path;
        }
    }
    return {};
}

}  // namespace tarvex
