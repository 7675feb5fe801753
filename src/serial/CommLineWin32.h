// The Windows side of the serial port: what CSerialPort keeps of a COM port, and the DCB
// helpers of SerialPortWin32.cpp. Included by Win32 code only.
#pragma once

#include <windows.h>

#include "serial/SerialInternal.h"
#include "serial/SerialPort.h"

namespace tarvex {

struct CSerialPort::Native {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE claim = nullptr;  // the named mutex that keeps other instances of this program out
    DCB saved{};             // as found at open, restored at close
    bool haveSaved = false;
    COMMTIMEOUTS savedTimeouts{};
    bool haveSavedTimeouts = false;

    // The time-outs last given to the driver: SetCommTimeouts is only called when they change.
    COMMTIMEOUTS applied{};
    bool haveApplied = false;

    // Abort-on-error: ClearCommError reports the line errors since it was last called; the
    // first one seen after ConfigureLine makes every later read and write fail until Close.
    bool watchLineErrors = false;
    bool checkParity = false;
    bool lineFailed = false;
};

// For an emergency exit from a console control handler: the handle (INVALID_HANDLE_VALUE:
// closed) and the line settings found at open.
inline HANDLE NativeHandle(const CSerialPort& port) {
    return port.NativeState().handle;
}
inline const DCB* SavedSettings(const CSerialPort& port) {
    return port.NativeState().haveSaved ? &port.NativeState().saved : nullptr;
}

SerialError SerialErrorFromWin32(DWORD error);

// The DCB for `line`, built field by field on the device's current one. Pure. False (and `out`
// untouched) for a value the line cannot take.
bool BuildDcb(const LineSettings& line, const DCB& current, DCB& out);

// Whether the driver kept what shapes the bytes on the line: speed, framing, flow control.
bool DcbTakenByDevice(const DCB& wanted, const DCB& actual);

// Restores `saved` (when given) and closes the handle.
void EmergencyRestoreAndClose(HANDLE handle, const DCB* saved);

}  // namespace tarvex
