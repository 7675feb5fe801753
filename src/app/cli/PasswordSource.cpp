#include "app/cli/PasswordSource.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/cli/Commands.h"
#include "platform/Files.h"

namespace tarvex::cli {

std::optional<std::string> PasswordFromFileOrEnvironment(const std::optional<std::string>& file) {
    if (file) {
        const platform::FileBytes bytes = platform::ReadWholeFile(*file, 64 * 1024);
        if (bytes.error != platform::ReadError::None) {
            throw UsageError("--password-file: cannot read " + *file);
        }
        std::string text(reinterpret_cast<const char*>(bytes.bytes.data()), bytes.bytes.size());
        text = text.substr(0, text.find('\n'));
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        return text;
    }
    if (const char* value = std::getenv(kPasswordVariable); value != nullptr) {
        return std::string(value);
    }
    return std::nullopt;
}

bool VersionNeedsPassword(const CTarvexDlg& form) {
    const int index = form.CurrentVersionIndex();
    const auto& support = form.m_curCfg.m_arrDnldPswdSupport;
    return index >= 0 && static_cast<std::size_t>(index) < support.size() &&
           support[static_cast<std::size_t>(index)] == "1" &&
           form.m_editPassword.GetWindowText().empty();
}

std::optional<std::string> AskPasswordOnTerminal(const std::string& prompt) {
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

}  // namespace tarvex::cli
