#include "support/RunProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tarvex::test {
namespace {

using Clock = std::chrono::steady_clock;

void Check(int rc, const char* what) {
    if (rc != 0) {
        throw std::runtime_error(std::string(what) + ": " + std::strerror(rc));
    }
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         std::chrono::milliseconds timeout, const std::string& workingDir) {
    auto [outRead, outWrite] = MakePipe();
    auto [errRead, errWrite] = MakePipe();
    SpawnActions actions;
    actions.Dup(outWrite.get(), 1);
    actions.Dup(errWrite.get(), 2);
    if (!workingDir.empty()) {
        actions.ChangeDirectory(workingDir);
    }
    const pid_t pid = Spawn(program, args, actions);
    outWrite.reset();
    errWrite.reset();

    ProgramResult result;
    const auto deadline = Clock::now() + timeout;
    while (outRead.get() >= 0 || errRead.get() >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd fds[2] = {{outRead.get(), POLLIN, 0}, {errRead.get(), POLLIN, 0}};
        const int n = ::poll(fds, 2, static_cast<int>(left.count()));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ::kill(pid, SIGKILL);
            break;
        }
        UniqueFd* owners[2] = {&outRead, &errRead};
        std::string* sinks[2] = {&result.out, &result.err};
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buf[4096];
            const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                owners[i]->reset();
            }
        }
    }

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error("waitpid failed");
        }
    }
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

std::string ProjectBinary(std::string_view name) {
    return std::string(TARVEX_BINARY_DIR) + "/" + std::string(name);
}

PipeEnds MakePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

SpawnActions::SpawnActions() {
    Check(::posix_spawn_file_actions_init(&actions_), "file actions");
    Check(::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0), "stdin");
}

SpawnActions::~SpawnActions() {
    ::posix_spawn_file_actions_destroy(&actions_);
}

void SpawnActions::Dup(int fd, int target) {
    Check(::posix_spawn_file_actions_adddup2(&actions_, fd, target), "dup2");
}

void SpawnActions::OpenForWriting(int target, const std::string& path) {
    Check(::posix_spawn_file_actions_addopen(&actions_, target, path.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644),
          "open");
}

void SpawnActions::ChangeDirectory(const std::string& dir) {
    Check(::posix_spawn_file_actions_addchdir_np(&actions_, dir.c_str()), "chdir");
}

pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            const SpawnActions& actions) {
    std::vector<std::string> argStrings;
    argStrings.push_back(program);
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    Check(::posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ),
          program.c_str());
    return pid;
}

std::optional<int> ExitStatusWithin(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace tarvex::test
