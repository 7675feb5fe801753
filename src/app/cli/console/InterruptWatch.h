// Ctrl-C and SIGTERM (on Windows: Ctrl-C, Ctrl-Break and the console closing) during a download.
//
// The first SIGINT or SIGTERM only raises a flag; the download command looks at it from the
// form's event pump (Requested()) and presses Cancel, so that the transfer stops the way the
// dialog's Cancel stops it: the panel gets its Cancel command, the port is closed and the
// priority restored. A second signal ends the program at once from inside the handler: the
// line is put back as it was found and closed, the priority restored, and the process ends
// with 128 + the signal number (130 for Ctrl-C). Only a second signal that comes at least
// kSecondSignalGap after the first counts: tools such as `timeout` deliver one signal twice
// within microseconds (to the process and to its group), and the panel must still be told
// Cancel then.
//
// What the handler needs (the open port's descriptor or handle and its settings, the priority
// to restore) is kept up to date from the main thread with PublishPort while the download runs.
//
// One watch at a time per process: signal dispositions and console handlers belong to the
// process. InterruptWatchPosix.cpp and InterruptWatchWin32.cpp are the two implementations.
#pragma once

#include <memory>

#include "platform/ProcessPriority.h"
#include "serial/SerialPort.h"

namespace tarvex::cli {

class InterruptWatch {
  public:
    // Installs the handlers; `priority` is what the emergency exit restores.
    explicit InterruptWatch(const platform::SavedPriority& priority);
    // Puts the previous handlers back.
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    static constexpr long long kSecondSignalGapNs = 1'000'000'000;

    // A first interrupt has arrived.
    bool Requested() const;
    // The signal number it came as (SIGINT for Ctrl-C and Ctrl-Break on Windows).
    int Signal() const;

    // Windows: closing the console counts as a first interrupt, not as the second: the handler
    // holds the close (Windows grants a few seconds) until the watch ends, so that every port
    // of a line is cancelled the way Ctrl-C cancels it. Nothing to do on POSIX.
    void CancelOnClose();

    // The port the emergency exit must restore and close (nullptr: none). Cheap when nothing
    // changed; call it often.
    void PublishPort(const CSerialPort* port);

    // Everything the handler reads; the platform's own.
    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace tarvex::cli
