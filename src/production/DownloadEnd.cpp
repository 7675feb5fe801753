#include "production/DownloadEnd.h"

#include "production/DownloadReport.h"
#include "production/ExitStatus.h"
#include "serial/NetworkLine.h"

namespace tarvex::production {

std::uint64_t PlannedDataBytes(const CTarvexDlg& form) {
    std::uint64_t total = 0;
    if (form.m_chkBitmap.GetCheck()) {
        total += form.m_arrBitmapImage.size();
    }
    if (form.m_chkFont.GetCheck()) {
        total += form.m_arrFontImage.size();
    }
    if (form.m_chkRecipe.GetCheck()) {
        for (const std::uint32_t size : form.m_arrRecipeSizes) {
            total += size;
        }
    }
    if (form.m_chkApplication.GetCheck()) {
        total += form.m_arrAppImage.size();
    }
    return total;
}

bool MayRetry(DownloadOutcome outcome, bool pressed, bool interrupted) {
    // Failed is what is left when the panel gave no code: its replies stopped, or the line
    // went away. A refusal, a missing item or a damaged container fail again the same way.
    return pressed && !interrupted &&
           (outcome == DownloadOutcome::Failed || outcome == DownloadOutcome::PortFailed);
}

UnitResult FinishDownload(CTarvexDlg& form, UnitEvents& events, const DownloadEnding& end) {
    UnitResult r;
    r.port = events.Port();
    r.outcome = end.pressed ? form.LastDownloadOutcome() : DownloadOutcome::Failed;
    r.panelCode = r.outcome == DownloadOutcome::PanelCode ? form.OutcomePanelCode() : 0;
    r.exitStatus = Code(end.pressed ? ExitStatusOf(r.outcome, r.panelCode) : ExitStatus::Failure);
    if (end.interrupted) {
        // Whatever the panel got, the run was interrupted: a script must not take it for a
        // clean download, nor for a failure of the line.
        if (r.exitStatus == Code(ExitStatus::Ok) || r.exitStatus == Code(ExitStatus::Failure)) {
            r.exitStatus = Code(ExitStatus::Cancelled);
        }
        // The record and the line's counts go by the outcome: a cancel is none of their
        // failures.
        if (r.exitStatus == Code(ExitStatus::Cancelled)) {
            r.outcome = DownloadOutcome::Cancelled;
        }
    } else if (end.pressed && r.outcome == DownloadOutcome::Failed) {
        // The form has said "Download not successful!"; say what that means on the line.
        const SerialError lineError = form.SerialPort().LastError();
        if (lineError == SerialError::Disconnected) {
            r.hint = LineLostHint(end.line);
        } else if (lineError == SerialError::EchoMismatch) {
            r.hint = EchoFaultHint(end.line);
        } else if (end.repliesRead == 0) {
            r.hint = NoReplyHint(end.line);
        }
    }
    // The form's box asks for a restart of the PC; for a network port the reason is known.
    if (end.pressed && r.outcome == DownloadOutcome::PortFailed &&
        IsNetworkPortName(end.line.port)) {
        if (const SerialError e = form.SerialPort().LastError();
            e == SerialError::Refused || e == SerialError::ConnectTimeout ||
            e == SerialError::NotFound || e == SerialError::BadName) {
            r.hint = NetworkOpenHint(end.line, e);
        }
    }
    // The form names no path; a command line can.
    constexpr std::string_view kNoBinFile = "Bin file does not exist!";
    if (r.hint.empty() && end.lastMessage.size() >= kNoBinFile.size() &&
        end.lastMessage.compare(end.lastMessage.size() - kNoBinFile.size(), kNoBinFile.size(),
                                kNoBinFile) == 0) {
        r.hint = MissingContainerHint(form);
    }
    r.message = end.lastMessage;
    if (!end.pressed) {
        r.message = "the Download button cannot be pressed";
        events.Note("tarvex-cli: " + r.message);
    }
    if (!r.hint.empty()) {
        events.Note(r.hint);
    }
    r.bytes = events.BytesDone();
    r.seconds = events.Seconds();
    r.unit = events.Unit();
    r.mayRetry = MayRetry(r.outcome, end.pressed, end.interrupted);

    ResultEvent result;
    result.port = r.port;
    UnitFacts& facts = result.facts;
    facts.started = end.started;
    facts.ended = std::chrono::system_clock::now();
    facts.port = end.recordPort;
    if (events.Stream().KeepsRecords() || end.describeAdapter) {
        const std::string& opened = form.SerialPort().DevicePath();
        facts.adapter =
            DescribeDevice(form.Environment().probe,
                           opened.empty() ? DevicePathForPortName(end.recordPort) : opened);
        if (facts.adapter) {
            r.serialNumber = facts.adapter->serialNumber;
        }
    }
    facts.product = form.m_cmbProduct.GetWindowText();
    facts.bootloader = form.m_cmbBootloaderVersion.GetWindowText();
    facts.firmware = form.m_cmbFirmwareVersion.GetWindowText();
    facts.slaveId = form.m_settings.m_nSlaveID;
    facts.containerPath = form.m_editFileToSend.GetWindowText();
    facts.sharedContainer = form.UsedSharedContainer();
    facts.items = events.Items();
    result.outcome = r.outcome;
    result.exitStatus = r.exitStatus;
    result.panelCode = r.panelCode;
    result.message = r.message;
    result.hint = r.hint;
    result.bytesDone = r.bytes;
    result.resends = events.Resends();
    result.seconds = r.seconds;
    result.unit = r.unit;

    if (std::string failure; !events.Stream().Keep(result, failure)) {
        events.Note(failure);
        if (r.exitStatus == Code(ExitStatus::Ok)) {
            // A unit without its record is no pass, in the result, the summary and the JSON
            // alike; loading it again would not mend the report.
            r.exitStatus = Code(ExitStatus::Failure);
            r.outcome = DownloadOutcome::Failed;
            r.message = failure;
            r.mayRetry = false;
            result.exitStatus = r.exitStatus;
            result.outcome = r.outcome;
            result.message = r.message;
        }
    }
    result.again = r.mayRetry && r.unit.attempt < r.unit.attempts;
    result.time = std::chrono::system_clock::now();
    events.Stream().Emit(result);
    return r;
}

}  // namespace tarvex::production
