// The Windows side of CSerialPort, for an emergency exit from a console control handler: the
// handle of the port's COM device and the line settings found at open, so that the line can
// be put back before the process ends (EmergencyRestoreAndClose). Included by Win32 code only.
#pragma once

#include <windows.h>

#include "serial/CommLineWin32.h"
#include "serial/SerialPort.h"

namespace tarvex {

// The handle, or INVALID_HANDLE_VALUE when the port is closed or its line is no COM port.
inline HANDLE NativeHandle(const CSerialPort& port) {
    const auto* line = dynamic_cast<const CCommLine*>(port.Line());
    return line != nullptr ? line->Handle() : INVALID_HANDLE_VALUE;
}

// The settings found at open; none when the port is closed or its line is no COM port.
inline const DCB* SavedSettings(const CSerialPort& port) {
    const auto* line = dynamic_cast<const CCommLine*>(port.Line());
    return line != nullptr ? line->SavedSettings() : nullptr;
}

}  // namespace tarvex
