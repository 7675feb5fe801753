// Ctrl-C and SIGTERM during a download.
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
// What the handler needs (the open port's descriptor and settings, the priority to restore)
// is kept up to date from the main thread with PublishPort while the download runs.
//
// One watch at a time per process: signal dispositions belong to the process.
#pragma once

#include <termios.h>

#include <atomic>
#include <csignal>

#include "platform/ProcessPriority.h"

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

    // A first SIGINT or SIGTERM has arrived.
    bool Requested() const { return state_.interrupts != 0; }
    int Signal() const { return state_.signal; }

    // The port the emergency exit must restore and close: its descriptor (-1: none) and the
    // settings found when it was opened. Cheap when nothing changed; call it often.
    void PublishPort(int fd, const struct termios* saved);

    // Everything the signal handler reads. Lock-free atomics and sig_atomic_t only, so that
    // the handler may read what the main thread writes; the settings are written before the
    // descriptor that makes them valid and only while no descriptor is published.
    struct State {
        volatile std::sig_atomic_t interrupts = 0;
        volatile std::sig_atomic_t signal = 0;
        std::atomic<long long> firstAtNs{0};  // CLOCK_MONOTONIC of the first signal
        std::atomic<int> portFd{-1};
        struct termios portSettings {};
        volatile std::sig_atomic_t haveSettings = 0;
        platform::SavedPriority priority{};
    };

  private:
    State state_;
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
    bool installedInt_ = false;
    bool installedTerm_ = false;
};

}  // namespace tarvex::cli
