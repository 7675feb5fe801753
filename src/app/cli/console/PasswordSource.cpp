#include "app/cli/console/PasswordSource.h"

#include <cstdio>
#include <cstdlib>

#include "app/cli/Commands.h"
#include "app/cli/console/Console.h"
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
    return ReadLineWithoutEcho(prompt);
}

}  // namespace tarvex::cli
