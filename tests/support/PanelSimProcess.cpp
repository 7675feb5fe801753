#include "support/PanelSimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace tarvex::test {

using namespace std::chrono_literals;

std::string PanelSimProcess::Path() {
    return std::string(TARVEX_BINARY_DIR) + "/tarvex-panel-sim";
}

PanelSimProcess::PanelSimProcess(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
    const std::string program = Path();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + program);
    }
    writeEnd.reset();
    out_ = std::move(readEnd);
    const std::string line = ReadLine(5000ms);
    if (line.rfind("port: ", 0) == 0) {
        port_ = line.substr(6);
    }
}

PanelSimProcess::~PanelSimProcess() {
    if (!status_) {
        ::kill(pid_, SIGTERM);
        if (!WaitExit(2000ms)) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
}

void PanelSimProcess::Signal(int signal) const {
    ::kill(pid_, signal);
}

std::optional<int> PanelSimProcess::WaitExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!status_) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            break;
        } else {
            std::this_thread::sleep_for(5ms);
        }
    }
    return status_;
}

std::string PanelSimProcess::ReadLine(std::chrono::milliseconds timeout) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        struct pollfd pfd {
            out_.get(), POLLIN, 0
        };
        if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            return line;
        }
        char c = 0;
        if (::read(out_.get(), &c, 1) != 1 || c == '\n') {
            return line;
        }
        line.push_back(c);
    }
}

}  // namespace tarvex::test
