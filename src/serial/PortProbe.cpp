// Which ports exist and which of them can be had now. The list of candidates comes from the
// system (one file per platform: PortListLinux.cpp), plus the paths named in
// TARVEX_EXTRA_PORTS, through which tests and the panel simulator offer pseudo-terminals.
#include "serial/PortProbe.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "serial/SerialInternal.h"

namespace tarvex {
namespace {

constexpr const char* kExtraPortsVariable = "TARVEX_EXTRA_PORTS";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Compares two runs of digits by value without converting them, so that runs of any length
// work: leading zeros are skipped, then the longer run is the larger number.
int CompareDigitRuns(std::string_view a, std::string_view b) {
    auto strip = [](std::string_view s) {
        const std::size_t nz = s.find_first_not_of('0');
        return nz == std::string_view::npos ? std::string_view() : s.substr(nz);
    };
    const std::string_view sa = strip(a);
    const std::string_view sb = strip(b);
    if (sa.size() != sb.size()) {
        return sa.size() < sb.size() ? -1 : 1;
    }
    const int c = sa.compare(sb);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void AddUnique(std::vector<std::string>& list, std::string_view item) {
    if (!item.empty() && std::find(list.begin(), list.end(), item) == list.end()) {
        list.emplace_back(item);
    }
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t ie = i;
            std::size_t je = j;
            while (ie < a.size() && IsDigit(a[ie])) {
                ++ie;
            }
            while (je < b.size() && IsDigit(b[je])) {
                ++je;
            }
            const int c = CompareDigitRuns(std::string_view(a).substr(i, ie - i),
                                           std::string_view(b).substr(j, je - j));
            if (c != 0) {
                return c < 0;
            }
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        }
        ++i;
        ++j;
    }
    if ((i < a.size()) != (j < b.size())) {
        return i >= a.size();  // the shorter one, a prefix of the other, comes first
    }
    // Equal but for leading zeros ("ttyS01", "ttyS1"): any fixed order will do.
    return a < b;
}

ProbeOptions ProbeOptionsFromEnvironment() {
    ProbeOptions options;
    const char* value = std::getenv(kExtraPortsVariable);
    if (value == nullptr) {
        return options;
    }
    std::string_view rest(value);
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        AddUnique(options.extraPorts, rest.substr(0, colon));
        if (colon == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(colon + 1);
    }
    return options;
}

std::vector<PortInfo> ProbePorts(const ProbeOptions& options) {
    std::vector<PortInfo> candidates =
        serial_detail::ListSystemPorts(options.sysfsRoot, options.devRoot);
    for (const std::string& extra : options.extraPorts) {
        const bool known =
            extra.empty() || std::any_of(candidates.begin(), candidates.end(),
                                         [&](const PortInfo& p) { return p.path == extra; });
        if (!known) {
            PortInfo info;
            info.path = extra;
            info.fromEnvironment = true;
            candidates.push_back(std::move(info));
        }
    }

    IModemLines& lines = options.modemLines != nullptr ? *options.modemLines : SystemModemLines();
    std::vector<PortInfo> ports;
    for (PortInfo& info : candidates) {
        const SerialError error = serial_detail::PortAvailability(info.path, lines);
        if (error == SerialError::None) {
            info.opens = true;
        } else if (error == SerialError::NotFound) {
            continue;  // named by the system or the environment, but no device node exists
        } else {
            info.error = error;
            if (error == SerialError::PermissionDenied) {
                info.group = serial_detail::OwningGroup(info.path);
            }
        }
        ports.push_back(std::move(info));
    }
    if (options.findHolders) {
        std::vector<std::string> free;
        for (const PortInfo& info : ports) {
            if (info.opens) {
                free.push_back(info.path);
            }
        }
        const std::vector<std::vector<PortHolder>> holders = FindPortHoldersOfEach(free);
        std::size_t next = 0;
        for (PortInfo& info : ports) {
            if (info.opens && !holders[next++].empty()) {
                info.opens = false;
                info.error = SerialError::Busy;
            }
        }
    }
    std::sort(ports.begin(), ports.end(),
              [](const PortInfo& a, const PortInfo& b) { return NaturalLess(a.path, b.path); });
    return ports;
}

SerialError PortAvailable(const std::string& path, const ProbeOptions& options) {
    IModemLines& lines = options.modemLines != nullptr ? *options.modemLines : SystemModemLines();
    return serial_detail::PortAvailability(path, lines);
}

std::vector<std::string> OpenablePorts(const ProbeOptions& options) {
    std::vector<std::string> paths;
    for (const PortInfo& info : ProbePorts(options)) {
        if (info.opens) {
            paths.push_back(info.path);
        }
    }
    return paths;
}

std::vector<PortInfo> ListPorts(const ProbeOptions& options) {
    return serial_detail::ListSystemPorts(options.sysfsRoot, options.devRoot);
}

std::string PortSearchText(const ProbeOptions& options) {
    std::string text = serial_detail::SystemPortSource(options.sysfsRoot) + ", and ";
    if (options.extraPorts.empty()) {
        return text + "the paths in " + kExtraPortsVariable + ", which names none";
    }
    text += std::string(kExtraPortsVariable) + ":";
    for (const std::string& extra : options.extraPorts) {
        text += " " + extra;
    }
    return text;
}

}  // namespace tarvex
