// tarvex-cli ports [--json]: the serial ports of this machine, with what the system knows of
// each, and why one that exists cannot be opened.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/Commands.h"
#include "app/cli/commands/PlatformHelp.h"
#include "app/cli/commands/PortNames.h"
#include "serial/PortAccess.h"
#include "serial/PortProbe.h"

namespace tarvex::cli {
namespace {

struct PortsOptions {
    bool json = false;
    std::string sysfsRoot;
    std::string devRoot;
};

std::string HexId(std::uint16_t id) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", static_cast<unsigned>(id));
    return buf;
}

// What the user can do about a port that will not open.
std::string StateText(const PortInfo& port) {
    if (port.opens) {
        return "ok";
    }
    switch (port.error) {
        case SerialError::Busy:
            return "busy (" + HolderText(port.path, FindPortHolders(port.path)) + ")";
        case SerialError::PermissionDenied:
            // The same advice as `doctor` gives: owner, group, mode and the exact fix.
            return PermissionAdvice(port.path, ExaminePortAccess(port.path));
        default:
            return std::string(SerialErrorText(port.error));
    }
}

// Driver, USB ids and strings, as far as known.
std::string Details(const PortInfo& port) {
    std::vector<std::string> parts;
    if (!port.driver.empty()) {
        parts.push_back("driver " + port.driver);
    }
    if (port.usbVendorId && port.usbProductId) {
        std::string usb = "USB " + HexId(*port.usbVendorId) + ":" + HexId(*port.usbProductId);
        for (const std::string* s : {&port.manufacturer, &port.product}) {
            if (!s->empty()) {
                usb += " " + *s;
            }
        }
        if (!port.serialNumber.empty()) {
            usb += " (serial " + port.serialNumber + ")";
        }
        parts.push_back(usb);
    }
    if (!port.location.empty()) {
        parts.push_back("at " + port.location);
    }
    if (port.latencyTimerMs) {
        parts.push_back("latency timer " + std::to_string(*port.latencyTimerMs) + " ms");
    }
    if (port.fromEnvironment) {
        parts.push_back("from TARVEX_EXTRA_PORTS");
    }
    std::string out;
    for (const std::string& p : parts) {
        out += out.empty() ? p : ", " + p;
    }
    return out;
}

nlohmann::json TextOrNull(const std::string& s) {
    return s.empty() ? nlohmann::json(nullptr) : nlohmann::json(s);
}

nlohmann::json ToJson(const std::vector<PortInfo>& ports, const std::string& devRoot) {
    nlohmann::json out = nlohmann::json::array();
    for (const PortInfo& p : ports) {
        nlohmann::json j;
        j["path"] = p.path;
        j["opens"] = p.opens;
        j["error"] = p.opens ? nlohmann::json(nullptr)
                             : nlohmann::json(std::string(SerialErrorText(p.error)));
        j["driver"] = TextOrNull(p.driver);
        j["usb_vendor_id"] = p.usbVendorId ? nlohmann::json(HexId(*p.usbVendorId)) : nullptr;
        j["usb_product_id"] = p.usbProductId ? nlohmann::json(HexId(*p.usbProductId)) : nullptr;
        j["manufacturer"] = TextOrNull(p.manufacturer);
        j["product"] = TextOrNull(p.product);
        j["serial_number"] = TextOrNull(p.serialNumber);
        j["location"] = TextOrNull(p.location);
        j["group"] = TextOrNull(p.group);
        j["latency_timer_ms"] = p.latencyTimerMs ? nlohmann::json(*p.latencyTimerMs) : nullptr;
        j["advice"] = p.opens ? nlohmann::json(nullptr) : nlohmann::json(StateText(p));
        j["from_environment"] = p.fromEnvironment;
        j["name_warning"] = TextOrNull(UnstableNameWarning(p, devRoot));
        out.push_back(std::move(j));
    }
    return out;
}

void PrintText(const std::vector<PortInfo>& ports, const std::string& devRoot) {
    if (ports.empty()) {
        std::cout << "No serial ports found.\n";
        return;
    }
    std::size_t width = 0;
    for (const PortInfo& p : ports) {
        width = std::max(width, p.path.size());
    }
    for (const PortInfo& p : ports) {
        std::string line = p.path;
        line.append(width - p.path.size() + 2, ' ');
        line += StateText(p);
        const std::string details = Details(p);
        if (!details.empty()) {
            line += "; " + details;
        }
        std::cout << line << '\n';
        if (const std::string warning = UnstableNameWarning(p, devRoot); !warning.empty()) {
            std::cout << std::string(width + 2, ' ') << "warning: " << warning << '\n';
        }
    }
}

}  // namespace

void RegisterPortsCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<PortsOptions>();
    auto* cmd = app.add_subcommand("ports", "List the serial ports of this machine");
    cmd->add_flag("--json", options->json,
                  "Print a JSON array of objects (path, opens, error, driver, usb_vendor_id, "
                  "usb_product_id, manufacturer, product, serial_number, location, group, "
                  "latency_timer_ms, from_environment, advice, name_warning)");
    AddPortsRootOptions(*cmd, options->sysfsRoot, options->devRoot);
    cmd->footer(PortsSourceHelpText() +
                "\n\n"
                "Exit status: 0 also when no port is found; 2 usage error.");
    cmd->callback([options, &exitStatus] {
        ProbeOptions probe = ProbeOptionsFromEnvironment();
        if (!options->sysfsRoot.empty()) {
            probe.sysfsRoot = options->sysfsRoot;
        }
        if (!options->devRoot.empty()) {
            probe.devRoot = options->devRoot;
        }
        probe.findHolders = true;
        const std::vector<PortInfo> ports = ProbePorts(probe);
        if (options->json) {
            std::cout << ToJson(ports, probe.devRoot).dump(2) << '\n';
        } else {
            PrintText(ports, probe.devRoot);
        }
        exitStatus = kExitOk;
    });
}

}  // namespace tarvex::cli
