#include "production/ExitStatus.h"

namespace tarvex::production {
namespace {

constexpr ExitStatusRow kTable[] = {
    {ExitStatus::Ok, "ok", "\"Download Complete!\""},
    {ExitStatus::Failure, "failure",
     "any other failure: no reply, attempts used up, the line lost"},
    {ExitStatus::Usage, "usage",
     "usage error: an option names something the form does not offer; a password needed and "
     "none given without a terminal"},
    {ExitStatus::Refused, "refused",
     "refused before the port was opened: the form's checks, the container or its product, a "
     "selection the protocol cannot serve, a choice the form refused (USB Download for a "
     "firmware without it), the saved port not present, a container whose body does not match "
     "its checksum (without `--allow-damaged-body`)"},
    {ExitStatus::PortFailed, "port_failed", "the port could not be opened or configured"},
    {ExitStatus::ItemMissing, "item_missing", "a ticked item is not in the container"},
    {ExitStatus::Cancelled, "cancelled", "cancelled by the user (Ctrl-C, SIGTERM)"},
    {ExitStatus::PanelCode1, "panel_code_1",
     "the panel reported code 1: \"Received an invalid command!\""},
    {ExitStatus::PanelCode2, "panel_code_2", "code 2: \"Password Verification Failed!\""},
    {ExitStatus::PanelCode3, "panel_code_3", "code 3: \"Product ID Verification Failed!\""},
    {ExitStatus::PanelCode4, "panel_code_4", "code 4: \"File size has exceeded!\""},
    {ExitStatus::PanelCode5, "panel_code_5", "code 5: \"Software version mismatch!\""},
    {ExitStatus::PanelCode6, "panel_code_6", "code 6: \"Hardware version mismatch!\""},
    {ExitStatus::PanelCode7, "panel_code_7", "code 7: \"SD Card not found!\""},
    {ExitStatus::PanelCode8, "panel_code_8",
     "code 8: \"Could not find Recipe File for Download!\""},
    {ExitStatus::PanelCode9, "panel_code_9",
     "code 9: \"Invalid comm port selected,please select comm port applicable to serial "
     "downloading\" (USB downloading for a USB download)"},
    {ExitStatus::SecondInterrupt, "second_interrupt",
     "a second Ctrl-C (SIGINT) stopped the program at once; the panel was not told"},
    {ExitStatus::SecondTerminate, "second_terminate", "the same for a second SIGTERM"},
};

}  // namespace

std::span<const ExitStatusRow> ExitStatusTable() {
    return kTable;
}

ExitStatus PanelCodeStatus(int panelCode) {
    return panelCode >= 1 && panelCode <= 9
               ? static_cast<ExitStatus>(Code(ExitStatus::PanelCode1) + panelCode - 1)
               : ExitStatus::Failure;
}

ExitStatus ExitStatusOf(DownloadOutcome outcome, int panelCode) {
    switch (outcome) {
        case DownloadOutcome::Complete:
            return ExitStatus::Ok;
        case DownloadOutcome::Refused:
            return ExitStatus::Refused;
        case DownloadOutcome::PortFailed:
            return ExitStatus::PortFailed;
        case DownloadOutcome::ItemMissing:
            return ExitStatus::ItemMissing;
        case DownloadOutcome::PanelCode:
            return PanelCodeStatus(panelCode);
        case DownloadOutcome::Cancelled:
            return ExitStatus::Cancelled;
        case DownloadOutcome::None:
        case DownloadOutcome::Failed:
            break;
    }
    return ExitStatus::Failure;
}

}  // namespace tarvex::production
