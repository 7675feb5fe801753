// A POSIX terminal: UTF-8 and the usual escape sequences are taken as given.
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "app/cli/console/Console.h"

namespace tarvex::cli {

ConsoleTraits PrepareConsole() {
    ConsoleTraits traits;
    traits.stdoutIsTerminal = ::isatty(STDOUT_FILENO) == 1;
    traits.vtSequences = traits.stdoutIsTerminal;
    return traits;
}

int ConsoleColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) {
        return size.ws_col;
    }
    return 0;
}

std::optional<std::string> ReadLineWithoutEcho(const std::string& prompt) {
    if (::isatty(STDIN_FILENO) != 1) {
        return std::nullopt;
    }
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) {
        return std::nullopt;
    }
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    (void)::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::string line;
    char c = 0;
    bool ended = false;
    while (::read(STDIN_FILENO, &c, 1) == 1) {
        if (c == '\n') {
            ended = true;
            break;
        }
        line.push_back(c);
    }
    (void)::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!ended && line.empty()) {
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

}  // namespace tarvex::cli
