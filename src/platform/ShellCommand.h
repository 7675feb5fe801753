// A command line run the way a person types it at the system's shell.
//
//   RunShellCommand(command, extra)   runs `command` with /bin/sh -c (on Windows with the
//                                     command processor, cmd.exe /c) and waits for it; its
//                                     environment is the program's own with the NAME=value
//                                     entries of `extra` set on top. The command's exit
//                                     status, or nothing when the shell could not be started.
//   ShellName()                       the shell's name as help texts give it
//
// ShellCommandPosix.cpp and ShellCommandWin32.cpp are the two implementations.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvex::platform {

std::optional<int> RunShellCommand(const std::string& command,
                                   const std::vector<std::string>& extra);

const char* ShellName();

}  // namespace tarvex::platform
