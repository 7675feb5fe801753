// tarvex-cli ports [--json] [--port NAME]...: the serial ports of this machine, with what the
// system knows of each, and why one that exists cannot be opened; and the ports named, a
// network port as it is named.
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
#include "serial/NetworkLine.h"
#include "serial/PortAccess.h"
#include "serial/PortProbe.h"

namespace tarvex::cli {
namespace {

struct PortsOptions {
    bool json = false;
    std::string sysfsRoot;
    std::string devRoot;
    std::vector<std::string> ports;  // named with --port
};

// A network port named with --port. It is not reached: a device server may serve one
// connection at a time (it may be a download's just now), and a connect may take its whole
// deadline. Only its name is checked, as a download checks it.
struct NetworkEntry {
    std::string name;
    std::optional<NetworkPortName> parsed;
};

std::string NetworkText(const NetworkEntry& port) {
    if (!port.parsed) {
        return std::string(SerialErrorText(SerialError::BadName));
    }
    return std::string("network port over ") + (port.parsed->rfc2217 ? "RFC 2217" : "raw TCP") +
           ", not reached before a download";
}

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

nlohmann::json ToJson(const std::vector<PortInfo>& ports, const std::vector<NetworkEntry>& network,
                      const std::string& devRoot) {
    nlohmann::json out = nlohmann::json::array();
    for (const PortInfo& p : ports) {
        nlohmann::json j;
        j["path"] = p.path;
        j["kind"] = "local";
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
    // The same keys; what only a device has is null, and whether it opens is not known.
    for (const NetworkEntry& p : network) {
        nlohmann::json j;
        j["path"] = p.name;
        j["kind"] = "network";
        j["opens"] = p.parsed ? nlohmann::json(nullptr) : nlohmann::json(false);
        j["error"] = p.parsed ? nlohmann::json(nullptr) : nlohmann::json(NetworkText(p));
        for (const char* key : {"driver", "usb_vendor_id", "usb_product_id", "manufacturer",
                                "product", "serial_number", "group", "latency_timer_ms"}) {
            j[key] = nullptr;
        }
        j["advice"] = j["error"];
        j["from_environment"] = false;
        j["name_warning"] = nullptr;
        out.push_back(std::move(j));
    }
    return out;
}

void PrintText(const std::vector<PortInfo>& ports, const std::vector<NetworkEntry>& network,
               const std::string& devRoot) {
    if (ports.empty() && network.empty()) {
        std::cout << "No serial ports found.\n";
        return;
    }
    std::size_t width = 0;
    for (const PortInfo& p : ports) {
        width = std::max(width, p.path.size());
    }
    for (const NetworkEntry& p : network) {
        width = std::max(width, p.name.size());
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
    for (const NetworkEntry& p : network) {
        std::cout << p.name << std::string(width - p.name.size() + 2, ' ') << NetworkText(p)
                  << '\n';
    }
}

// The ports named with --port: network ones aside, local ones probed with the rest (a path
// the probe finds no device at is listed as not found rather than left out).
void TakeNamedPorts(const std::vector<std::string>& names, ProbeOptions& probe,
                    std::vector<std::string>& local, std::vector<NetworkEntry>& network) {
    for (const std::string& name : names) {
        if (IsNetworkPortName(name)) {
            if (std::none_of(network.begin(), network.end(),
                             [&](const NetworkEntry& e) { return e.name == name; })) {
                network.push_back({name, ParseNetworkPortName(name)});
            }
        } else if (std::find(local.begin(), local.end(), name) == local.end()) {
            local.push_back(name);
            if (std::find(probe.extraPorts.begin(), probe.extraPorts.end(), name) ==
                probe.extraPorts.end()) {
                probe.extraPorts.push_back(name);
            }
        }
    }
}

void AddNamedLocalPorts(const std::vector<std::string>& local,
                        const std::vector<std::string>& fromEnvironment,
                        std::vector<PortInfo>& ports) {
    for (const std::string& name : local) {
        const auto it = std::find_if(ports.begin(), ports.end(),
                                     [&](const PortInfo& p) { return p.path == name; });
        if (it == ports.end()) {
            PortInfo missing;
            missing.path = name;
            missing.error = SerialError::NotFound;
            ports.push_back(std::move(missing));
        } else if (std::find(fromEnvironment.begin(), fromEnvironment.end(), name) ==
                   fromEnvironment.end()) {
            it->fromEnvironment = false;
        }
    }
}

}  // namespace

void RegisterPortsCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<PortsOptions>();
    auto* cmd = app.add_subcommand("ports", "List the serial ports of this machine");
    cmd->add_flag(
        "--json", options->json,
        "Print a JSON array of objects (path, kind, opens, error, driver, "
        "usb_vendor_id, usb_product_id, manufacturer, product, serial_number, location, "
        "group, latency_timer_ms, from_environment, advice, name_warning); kind is local or "
        "network, and opens is null for a network port");
    cmd->add_option("--port", options->ports,
                    "Also list this port; repeat for more. A device path is probed as the "
                    "system's ports are; a network port (rfc2217://HOST:PORT, "
                    "socket://HOST:PORT) is listed as named, its name checked, and not "
                    "connected to")
        ->type_name("PORT");
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
        const std::vector<std::string> fromEnvironment = probe.extraPorts;
        std::vector<std::string> local;
        std::vector<NetworkEntry> network;
        TakeNamedPorts(options->ports, probe, local, network);
        std::vector<PortInfo> ports = ProbePorts(probe);
        AddNamedLocalPorts(local, fromEnvironment, ports);
        if (options->json) {
            std::cout << ToJson(ports, network, probe.devRoot).dump(2) << '\n';
        } else {
            PrintText(ports, network, probe.devRoot);
        }
        exitStatus = kExitOk;
    });
}

}  // namespace tarvex::cli
