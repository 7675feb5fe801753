// The exit-status table as the program shows it: in download --help, and as the Markdown rows
// the manual page is made from, which are the README's table line for line.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/cli/Commands.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace tarvex::test {
namespace {

using namespace std::chrono_literals;

TEST(ExitStatusHelp, HelpAndManualPageShowTheTableTheReadmeHas) {
    const ProgramResult table = RunProgram(ProjectBinary("tarvex-cli"), {"--exit-statuses"}, 10s);
    ASSERT_EQ(table.exitStatus, 0) << table.err;
    EXPECT_EQ(table.out, cli::ExitStatusMarkdown());
    const std::string readme = ReadFileText(std::string(TARVEX_SOURCE_DIR) + "/README.md");
    std::istringstream rows(table.out);
    for (std::string row; std::getline(rows, row);) {
        if (row.rfind("|---", 0) != 0) {
            EXPECT_NE(readme.find("\n" + row + "\n"), std::string::npos) << row;
        }
    }

    const ProgramResult help = RunProgram(ProjectBinary("tarvex-cli"), {"download", "--help"}, 10s);
    ASSERT_EQ(help.exitStatus, 0) << help.err;
    EXPECT_NE(help.out.find(cli::ExitStatusHelp()), std::string::npos) << help.out;
    for (const production::ExitStatusRow& row : production::ExitStatusTable()) {
        EXPECT_NE(help.out.find("\n  " + std::to_string(production::Code(row.status)) + " "),
                  std::string::npos)
            << row.name;
    }
}

}  // namespace
}  // namespace tarvex::test
