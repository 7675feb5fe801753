// The POSIX side of CSerialPort, for an emergency exit from a signal handler: the descriptor
// of the port's tty, the settings found at open and the adapter's latency to put back, so that the
// line can be put back with async-signal-safe calls alone (EmergencyRestoreAndClose). Included by
// POSIX code only.
#pragma once

#include <termios.h>

#include "serial/SerialPort.h"
#include "serial/TermiosLinePosix.h"

namespace tarvex {

// The descriptor, or -1 when the port is closed or its line is no tty.
inline int NativeHandle(const CSerialPort& port) {
    const auto* line = dynamic_cast<const CTermiosLine*>(port.Line());
    return line != nullptr ? line->Descriptor() : -1;
}

// The settings found at open; none when the port is closed or its line is no tty.
inline const struct termios* SavedSettings(const CSerialPort& port) {
    const auto* line = dynamic_cast<const CTermiosLine*>(port.Line());
    return line != nullptr ? line->SavedSettings() : nullptr;
}

// What closing the port puts back of the adapter's latency, in the emergency form; none when
// the port is closed or its line is no tty.
inline const EmergencyLatency* SavedLatency(const CSerialPort& port) {
    const auto* line = dynamic_cast<const CTermiosLine*>(port.Line());
    return line != nullptr ? &line->EmergencyLatencyRestore() : nullptr;
}

}  // namespace tarvex
