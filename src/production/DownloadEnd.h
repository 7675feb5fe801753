// The end of a download, the same for every command that presses Download (download, gang,
// station): the exit status and outcome, the message, the hint, the record, the result event.
//
//   PlannedDataBytes(form)    image bytes the ticked items carry (padding not counted, as the
//                             progress sink counts them); right when the first item starts
//   FinishDownload(...)       after Download returned: judges the outcome (an interrupt turns
//                             a clean end or a plain failure into a cancel), adds the hint for
//                             a silent panel or a lost line, has the record kept (a unit
//                             without its record is no pass), and sends the result event; the
//                             hint and a record that failed also go out as notes; a unit
//                             whose record failed is failed everywhere, not complete
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "production/Hints.h"
#include "production/UnitEvents.h"
#include "ui/TarvexDlg.h"

namespace tarvex::production {

std::uint64_t PlannedDataBytes(const CTarvexDlg& form);

struct DownloadEnding {
    bool pressed = false;      // the Download button could be pressed
    bool interrupted = false;  // a cancel was asked for from outside (Ctrl-C, SIGTERM)
    std::uint64_t repliesRead = 0;
    LineDescription line;          // what the press used
    std::string lastMessage;       // the form's last message during the download, "Caption: text"
    std::string recordPort;        // the port as the record names it
    bool describeAdapter = false;  // look the adapter up even when no record is kept
    WallTime started;
};

struct UnitResult {
    std::string port;
    int exitStatus = 0;
    DownloadOutcome outcome = DownloadOutcome::None;
    int panelCode = 0;
    std::string message;
    std::string hint;
    std::uint64_t bytes = 0;
    double seconds = 0;
    std::string serialNumber;  // the adapter's, when it was looked up
    UnitTag unit;
    double cycleSeconds = 0;  // every attempt of the unit, and the pauses between them
    // The attempt ended in a way another attempt may mend: no reply, the line lost, the port
    // not opened. Never after the panel's code, a refusal, a damaged container or a cancel.
    bool mayRetry = false;
};

// Whether an attempt that ended so may be tried again (see UnitResult::mayRetry).
bool MayRetry(DownloadOutcome outcome, bool pressed, bool interrupted);

UnitResult FinishDownload(CTarvexDlg& form, UnitEvents& events, const DownloadEnding& end);

}  // namespace tarvex::production
