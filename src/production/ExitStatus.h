// The exit statuses of tarvex-cli, written down once: each with its number, a name for
// programs and a meaning for people. The download command's --help, the manual page and the
// README's table are made from (or checked against) this table.
//
//   ExitStatusTable()        every status in ascending order
//   ExitStatusOf(outcome, panelCode)  the status a download's outcome ends with
//   PanelCodeStatus(code)    11..19 for the panel's codes 1..9, else Failure
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "ui/TarvexDlg.h"

namespace tarvex::production {

enum class ExitStatus : int {
    Ok = 0,
    Failure = 1,
    Usage = 2,
    Refused = 3,
    PortFailed = 4,
    ItemMissing = 5,
    Cancelled = 6,
    PanelCode1 = 11,
    PanelCode2 = 12,
    PanelCode3 = 13,
    PanelCode4 = 14,
    PanelCode5 = 15,
    PanelCode6 = 16,
    PanelCode7 = 17,
    PanelCode8 = 18,
    PanelCode9 = 19,
    SecondInterrupt = 130,
    SecondTerminate = 143,
};

struct ExitStatusRow {
    ExitStatus status;
    std::string_view name;     // snake_case, stable: "port_failed"
    std::string_view meaning;  // as the README's table has it (Markdown: `code` in backticks)
};

std::span<const ExitStatusRow> ExitStatusTable();

constexpr int Code(ExitStatus status) {
    return static_cast<int>(status);
}

ExitStatus PanelCodeStatus(int panelCode);
ExitStatus ExitStatusOf(DownloadOutcome outcome, int panelCode);

}  // namespace tarvex::production
