#include <optional>
#include <string>

#include "app/cli/Commands.h"
#include "app/cli/commands/PlatformHelp.h"

namespace tarvex::cli {
namespace {

std::string WithoutBackticks(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c != '`') {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

std::string ExitStatusHelp() {
    std::string text = "Exit status:";
    for (const production::ExitStatusRow& row : production::ExitStatusTable()) {
        const std::optional<std::string> meaning = ExitMeaningHelp(row);
        if (!meaning) {
            continue;
        }
        std::string number = std::to_string(production::Code(row.status));
        number.resize(std::max<std::size_t>(number.size() + 1, 7), ' ');
        text += "\n  " + number + WithoutBackticks(*meaning);
    }
    return text;
}

std::string ExitStatusMarkdown() {
    std::string text = "| Exit status | Meaning |\n|---|---|\n";
    for (const production::ExitStatusRow& row : production::ExitStatusTable()) {
        text += "| " + std::to_string(production::Code(row.status)) + " | " +
                std::string(row.meaning) + " |\n";
    }
    return text;
}

}  // namespace tarvex::cli
