// Runs one of the project's executables from a test and captures what it prints.
//
//   RunProgram(path, args, timeout, workingDir)   stdin from /dev/null; stdout and stderr
//                                                 captured; killed when the time-out passes
//   ProjectBinary("tarvex-cli")                   path of an executable of this build
//
// The time-out only guards against a hang; it is not a measure of speed.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::test {

struct ProgramResult {
    int exitStatus = -1;  // the exit status, or -1 when the program did not exit normally
    int signal = 0;       // the signal that ended it, if any
    bool timedOut = false;
    std::string out;  // everything written to stdout
    std::string err;  // everything written to stderr
};

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10),
                         const std::string& workingDir = {});

std::string ProjectBinary(std::string_view name);

}  // namespace tarvex::test
