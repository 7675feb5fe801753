// The parts of `tarvex-cli doctor` that differ by platform, behind one interface. Doctor.cpp
// holds the portable checks (the ports present, the workspace and its files, the catalogue,
// the settings file) and the output; DoctorLinux.cpp and DoctorWin32.cpp look at what each
// system puts between the tool and a port.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "serial/PortProbe.h"

namespace CLI {
class App;
}

namespace tarvex::cli::doctor {

enum class Level { Ok, Warning, Problem };

struct Options {
    std::optional<std::string> port;
    bool json = false;
    std::string sysfsRoot;  // Linux only
    std::string devRoot;    // Linux only
};

// Where the checks put what they find: area "port", "system" or "workspace"; the subject is a
// device, a service or a file; the fix the command or step that mends it, empty for none.
class FindingSink {
  public:
    virtual ~FindingSink() = default;
    virtual void Add(std::string area, std::string subject, Level level, std::string text,
                     std::string fix = {}) = 0;
};

class PlatformChecks {
  public:
    virtual ~PlatformChecks() = default;
    // How the ports are to be probed (the platform's roots and extra ports applied).
    virtual ProbeOptions Probe() const = 0;
    // A port named with --port that the probe does not list, examined on its own; nothing when
    // it is not there at all.
    virtual std::optional<PortInfo> ExamineUnlisted(const std::string& device) = 0;
    // What to say when no port is present at all.
    virtual std::string NoPortText() const = 0;
    // One port: whether it opens, and when not, why and what to do.
    virtual void CheckPort(const PortInfo& port) = 0;
    // The rest of the system, once, after the ports; portsExamined is false when none was.
    virtual void CheckSystem(bool portsExamined) = 0;
};

std::unique_ptr<PlatformChecks> MakePlatformChecks(const Options& options, FindingSink& sink,
                                                   const std::string& appDir);
// The platform's own options of the command and the text of its help's first paragraph.
void AddPlatformOptions(CLI::App& command, Options& options);
std::string PlatformHelpText();

// Files, as the system answers for them.
std::string ReadFailure(const std::string& path);  // why a file or folder cannot be read
bool PathExists(const std::string& path);          // anything at all is there
bool IsAbsolutePath(const std::string& path);
// Why a folder cannot be entered and listed; nothing when it can.
std::optional<std::string> FolderUnreadable(const std::string& path);

}  // namespace tarvex::cli::doctor
