#include "support/PanelSimProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/RunProgram.h"

namespace tarvex::test {

using namespace std::chrono_literals;

std::string PanelSimProcess::Path() {
    return std::string(TARVEX_BINARY_DIR) + "/tarvex-panel-sim";
}

PanelSimProcess::PanelSimProcess(const std::vector<std::string>& args) {
    auto [readEnd, writeEnd] = MakePipe();
    SpawnActions actions;
    actions.Dup(writeEnd.get(), 1);
    pid_ = Spawn(Path(), args, actions);
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
    if (!status_) {
        status_ = ExitStatusWithin(pid_, timeout);
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
