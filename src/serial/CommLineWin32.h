// The serial line over a Windows COM port, and the DCB helpers of CommLineWin32.cpp. Included
// by Win32 code only.
#pragma once

#include <windows.h>

#include <string>

#include "platform/UniqueHandleWin32.h"
#include "serial/SerialInternal.h"
#include "serial/SerialLine.h"

namespace tarvex {

// The port is opened without sharing, so a port another program holds fails to open. The line
// is set through the DCB field by field, read back and compared, and the DCB and time-outs
// found at open are put back at close.
class CCommLine final : public ISerialLine {
  public:
    CCommLine() = default;
    ~CCommLine() override;
    CCommLine(const CCommLine&) = delete;
    CCommLine& operator=(const CCommLine&) = delete;

    SerialError Open(const std::string& path) override;
    bool IsOpen() const override { return handle_.valid(); }
    SerialError ReadState() override;
    SerialError Configure(const LineSettings& settings) override;
    SerialError Write(const std::uint8_t* data, std::size_t length, const LineWait& wait,
                      std::size_t& written) override;
    SerialError Read(std::uint8_t* buffer, std::size_t length, const LineWait& wait,
                     std::size_t& received) override;
    SerialError Purge(LineQueue queue) override;
    SerialError SetModemLines(bool dtr, bool rts) override;
    SerialError RequestRs485(bool hearOwnFrames) override;
    bool LineErrorSeen() override;
    void Close() override;

    // For an emergency exit from a console control handler: the handle (INVALID_HANDLE_VALUE:
    // closed) and the line settings found at open.
    HANDLE Handle() const { return handle_.get(); }
    const DCB* SavedSettings() const { return haveSaved_ ? &saved_ : nullptr; }

  private:
    platform::UniqueHandle handle_;
    platform::UniqueHandle
        claim_;    // the named mutex that keeps other instances of this program out
    DCB saved_{};  // as found at open, restored at close
    bool haveSaved_ = false;
    COMMTIMEOUTS savedTimeouts_{};
    bool haveSavedTimeouts_ = false;
    DWORD baudRate_ = 9600;   // what the line runs at: the size of a write's pieces
    bool rtsToggle_ = false;  // RS-485: the driver raises RTS while it sends

    // The time-outs last given to the driver: SetCommTimeouts is only called when they change.
    COMMTIMEOUTS applied_{};
    bool haveApplied_ = false;

    // Abort-on-error: ClearCommError reports the line errors since it was last called.
    bool watchLineErrors_ = false;
    bool checkParity_ = false;

    // Gives the driver `wanted` unless it has it already.
    bool Apply(const COMMTIMEOUTS& wanted);
};

SerialError SerialErrorFromWin32(DWORD error);

// The DCB for `line`, built field by field on the device's current one. Pure. False (and `out`
// untouched) for a value the line cannot take. RTS is held off, or with `rtsToggle` (two-wire
// RS-485) raised by the driver while it sends.
bool BuildDcb(const LineSettings& line, const DCB& current, DCB& out, bool rtsToggle = false);

// Whether the driver kept what shapes the bytes on the line: speed, framing, flow control, and
// RTS toggle when it was asked.
bool DcbTakenByDevice(const DCB& wanted, const DCB& actual);

// The device's current DCB with RTS toggle, and nothing else changed. Pure.
DCB WithRtsToggle(const DCB& current);

// Restores `saved` (when given) and closes the handle.
void EmergencyRestoreAndClose(HANDLE handle, const DCB* saved);

}  // namespace tarvex
