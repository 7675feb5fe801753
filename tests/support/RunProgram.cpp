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

#include "support/PtyPair.h"

extern char** environ;

namespace tarvex::test {
namespace {

using Clock = std::chrono::steady_clock;

void Check(int rc, const char* what) {
    if (rc != 0) {
        throw std::runtime_error(std::string(what) + ": " + std::strerror(rc));
    }
}

// Owns a posix_spawn_file_actions_t.
class FileActions {
  public:
    FileActions() { Check(::posix_spawn_file_actions_init(&actions_), "file actions"); }
    ~FileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_{};
};

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         std::chrono::milliseconds timeout, const std::string& workingDir) {
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    UniqueFd outRead(outPipe[0]), outWrite(outPipe[1]);
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    UniqueFd errRead(errPipe[0]), errWrite(errPipe[1]);

    FileActions actions;
    Check(::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0), "stdin");
    Check(::posix_spawn_file_actions_adddup2(actions.get(), outWrite.get(), 1), "stdout");
    Check(::posix_spawn_file_actions_adddup2(actions.get(), errWrite.get(), 2), "stderr");
    if (!workingDir.empty()) {
        Check(::posix_spawn_file_actions_addchdir_np(actions.get(), workingDir.c_str()), "chdir");
    }

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

}  // namespace tarvex::test
