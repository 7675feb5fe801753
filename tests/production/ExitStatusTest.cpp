// The exit-status table against the README's: the same numbers with the same meanings, in
// the same order, so that neither can change without the other.
#include "production/ExitStatus.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace tarvex::production {
namespace {

struct Row {
    std::string status;
    std::string meaning;
    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Row& row) {
    return os << row.status << " | " << row.meaning;
}

// The rows of the Markdown table that follows "| Exit status | Meaning |".
std::vector<Row> ReadmeRows() {
    std::ifstream in(std::string(TARVEX_SOURCE_DIR) + "/README.md");
    const std::regex header(R"(^\| *Exit status *\| *Meaning *\|$)");
    const std::regex separator(R"(^\|[- |]+\|$)");
    const std::regex row(R"(^\| *([^|]*[^ |]) *\| *(.*[^ |]) *\|$)");
    std::vector<Row> rows;
    bool inTable = false;
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_match(line, header)) {
            inTable = true;
        } else if (inTable && std::regex_match(line, separator)) {
            continue;
        } else if (inTable && std::regex_match(line, m, row)) {
            rows.push_back({m[1], m[2]});
        } else if (inTable) {
            break;
        }
    }
    return rows;
}

TEST(ExitStatusTable, AgreesWithTheReadme) {
    std::vector<Row> table;
    for (const ExitStatusRow& r : ExitStatusTable()) {
        table.push_back({std::to_string(Code(r.status)), std::string(r.meaning)});
    }
    EXPECT_EQ(ReadmeRows(), table);
}

TEST(ExitStatusTable, NamesAreUniqueAndOutcomesMapIntoIt) {
    std::vector<std::string> names;
    int last = -1;
    for (const ExitStatusRow& r : ExitStatusTable()) {
        EXPECT_GT(Code(r.status), last) << r.name;
        last = Code(r.status);
        EXPECT_EQ(std::count(names.begin(), names.end(), r.name), 0) << r.name;
        names.emplace_back(r.name);
    }
    const auto inTable = [](ExitStatus s) {
        for (const ExitStatusRow& r : ExitStatusTable()) {
            if (r.status == s) {
                return true;
            }
        }
        return false;
    };
    struct Case {
        DownloadOutcome outcome;
        int panelCode;
        ExitStatus expected;
    };
    for (const Case& c : {Case{DownloadOutcome::Complete, 0, ExitStatus::Ok},
                          Case{DownloadOutcome::Refused, 0, ExitStatus::Refused},
                          Case{DownloadOutcome::PortFailed, 0, ExitStatus::PortFailed},
                          Case{DownloadOutcome::ItemMissing, 0, ExitStatus::ItemMissing},
                          Case{DownloadOutcome::PanelCode, 2, ExitStatus::PanelCode2},
                          Case{DownloadOutcome::PanelCode, 9, ExitStatus::PanelCode9},
                          Case{DownloadOutcome::PanelCode, 10, ExitStatus::Failure},
                          Case{DownloadOutcome::Cancelled, 0, ExitStatus::Cancelled},
                          Case{DownloadOutcome::Failed, 0, ExitStatus::Failure},
                          Case{DownloadOutcome::None, 0, ExitStatus::Failure}}) {
        SCOPED_TRACE(c.panelCode);
        EXPECT_EQ(ExitStatusOf(c.outcome, c.panelCode), c.expected);
        EXPECT_TRUE(inTable(ExitStatusOf(c.outcome, c.panelCode)));
    }
}

}  // namespace
}  // namespace tarvex::production
