// The dialog's status line, under the progress bar, in a QLabel: what the transfer is doing,
// and after a probe of the ports, which ports are present but not usable and why, and whether
// the saved port is missing. The texts are the toolkit-free StatusText's (ui/StatusText.h),
// which the native Windows dialog shows as well.
#pragma once

#include <QLabel>
#include <string>

#include "ui/StatusText.h"

namespace tarvex::qt {

class StatusLine {
  public:
    explicit StatusLine(QLabel* label);

    // The transfer's progress sink that keeps the line.
    ITransferProgress& Progress() { return text_; }
    // After the Com Port list was filled: probes again for the reasons.
    void ShowPorts(const ProbeOptions& probe, const std::string& savedPort,
                   const std::string& chosenPort) {
        text_.ShowPorts(probe, savedPort, chosenPort);
    }
    const std::string& Text() const { return text_.Text(); }

  private:
    StatusText text_;
};

}  // namespace tarvex::qt
