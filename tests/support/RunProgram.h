// Runs one of the project's executables from a test and captures what it prints.
//
//   RunProgram(path, args, timeout, workingDir)   stdin from /dev/null; stdout and stderr
//                                                 captured; killed when the time-out passes
//   ProjectBinary("tarvex-cli")                   path of an executable of this build
//
// For tests that act on a program while it runs:
//   MakePipe()                                    both ends of a pipe, closed on exec
//   SpawnActions                                  the child's descriptors and folder
//   Spawn(path, args, actions)                    starts it; throws when it cannot
//   ExitStatusWithin(pid, timeout)                its exit status (128 + n for a signal n)
//                                                 once it has ended within the time-out
//
// The time-out only guards against a hang; it is not a measure of speed.
#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/PtyPair.h"

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

struct PipeEnds {
    UniqueFd read;
    UniqueFd write;
};
PipeEnds MakePipe();

// Owns a posix_spawn_file_actions_t; stdin comes from /dev/null unless a test changes it.
class SpawnActions {
  public:
    SpawnActions();
    ~SpawnActions();
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;

    void Dup(int fd, int target);
    void OpenForWriting(int target, const std::string& path);
    void ChangeDirectory(const std::string& dir);
    const posix_spawn_file_actions_t* get() const { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_{};
};

pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            const SpawnActions& actions);
std::optional<int> ExitStatusWithin(pid_t pid, std::chrono::milliseconds timeout);

}  // namespace tarvex::test
