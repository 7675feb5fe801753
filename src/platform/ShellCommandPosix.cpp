#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string_view>

#include "platform/ShellCommand.h"

extern char** environ;

namespace tarvex::platform {
namespace {

std::string_view NameOf(std::string_view entry) {
    return entry.substr(0, entry.find('='));
}

}  // namespace

std::optional<int> RunShellCommand(const std::string& command,
                                   const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view name = NameOf(*e);
        bool replaced = false;
        for (const std::string& x : extra) {
            replaced = replaced || NameOf(x) == name;
        }
        if (!replaced) {
            env.emplace_back(*e);
        }
    }
    env.insert(env.end(), extra.begin(), extra.end());
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::string sh = "/bin/sh", dashC = "-c", cmd = command;
    char* argv[] = {sh.data(), dashC.data(), cmd.data(), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, envp.data()) != 0) {
        return std::nullopt;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

const char* ShellName() {
    return "/bin/sh";
}

}  // namespace tarvex::platform
