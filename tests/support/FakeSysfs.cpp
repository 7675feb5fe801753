#include "support/FakeSysfs.h"

#include <filesystem>

namespace tarvex::test {

namespace fs = std::filesystem;

FakeSysfs::FakeSysfs() {
    fs::create_directories(Sys("class/tty"));
    fs::create_directories(dev());
}

void FakeSysfs::AddTty(const std::string& name, const std::string& devicePath,
                       const std::optional<std::string>& type) {
    const fs::path ttyDir = Sys(devicePath + "/tty/" + name);
    fs::create_directories(ttyDir);
    fs::create_directory_symlink(fs::relative(Sys(devicePath), ttyDir), ttyDir / "device");
    if (type) {
        dir_.Write("sys/" + devicePath + "/tty/" + name + "/type", *type + "\n");
    }
    fs::create_directory_symlink(fs::relative(ttyDir, Sys("class/tty")), Sys("class/tty/" + name));
}

void FakeSysfs::AddVirtualTty(const std::string& name) {
    fs::create_directories(Sys("devices/virtual/tty/" + name));
    fs::create_directory_symlink(fs::relative(Sys("devices/virtual/tty/" + name), Sys("class/tty")),
                                 Sys("class/tty/" + name));
}

void FakeSysfs::Bind(const std::string& devicePath, const std::string& bus,
                     const std::string& driver) {
    fs::create_directories(Sys(devicePath));
    fs::create_directories(Sys("bus/" + bus + "/drivers/" + driver));
    fs::create_directory_symlink(
        fs::relative(Sys("bus/" + bus + "/drivers/" + driver), Sys(devicePath)),
        Sys(devicePath + "/driver"));
    fs::create_directory_symlink(fs::relative(Sys("bus/" + bus), Sys(devicePath)),
                                 Sys(devicePath + "/subsystem"));
}

void FakeSysfs::Attribute(const std::string& devicePath, const std::string& name,
                          const std::string& value) {
    dir_.Write("sys/" + devicePath + "/" + name, value + "\n");
}

void FakeSysfs::Node(const std::string& name, const std::string& target) {
    fs::create_symlink(target, dir_ / ("dev/" + name));
}

void FakeSysfs::AddPnpPort(const std::string& name, const std::string& device,
                           const std::string& target) {
    Bind("devices/pnp0/" + device, "pnp", "serial");
    AddTty(name, "devices/pnp0/" + device, "4");
    Node(name, target);
}

ProbeOptions FakeSysfs::Options() const {
    ProbeOptions options;
    options.sysfsRoot = sysfs();
    options.devRoot = dev();
    return options;
}

}  // namespace tarvex::test
