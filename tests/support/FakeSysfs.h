// A fake sysfs tree laid out like a real one (class links into a device tree, driver and
// subsystem links, USB attribute files), with a device folder whose nodes are links to real
// pseudo-terminals so that opening them means something. The real /sys is never used: a
// machine's own serial ports (possibly its console) are not the tests' to open.
#pragma once

#include <optional>
#include <string>

#include "serial/PortProbe.h"
#include "support/TempDir.h"

namespace tarvex::test {

class FakeSysfs {
  public:
    FakeSysfs();

    std::string sysfs() const { return dir_ / "sys"; }
    std::string dev() const { return dir_ / "dev"; }

    // A tty entry as the kernel lays it out: the class entry is a link into the device tree,
    // where the tty directory holds a "device" link to the device that drives it.
    void AddTty(const std::string& name, const std::string& devicePath,
                const std::optional<std::string>& type = std::nullopt);
    // A virtual terminal: a class entry without a device behind it.
    void AddVirtualTty(const std::string& name);
    // Binds a device to a driver on a bus: "driver" and "subsystem" links.
    void Bind(const std::string& devicePath, const std::string& bus, const std::string& driver);
    void Attribute(const std::string& devicePath, const std::string& name,
                   const std::string& value);
    // The device node: a link to a real pseudo-terminal slave.
    void Node(const std::string& name, const std::string& target);
    // A UART port on a PnP device (devices/pnp0/<device>) as the 8250_pnp driver ("serial")
    // binds it, with its node linked to target.
    void AddPnpPort(const std::string& name, const std::string& device, const std::string& target);

    ProbeOptions Options() const;

  private:
    std::string Sys(const std::string& rel) const { return dir_ / ("sys/" + rel); }

    TempDir dir_;
};

}  // namespace tarvex::test
