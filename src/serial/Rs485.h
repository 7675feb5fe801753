// Two-wire RS-485 direction control by the driver.
//
// A two-wire RS-485 transceiver must drive the line only while this side sends. Adapters that
// do not switch by themselves leave that to RTS, and only the driver knows when the last bit of
// a frame has left the shift register. So the tool asks the driver's own RS-485 mode, and only
// when the user asks (--rs485): RTS on while sending, off after it, no extra delays.
//
//   - Linux: the serial core's RS-485 record (TIOCGRS485 / TIOCSRS485). The record found at
//     open is kept and put back at close, on every path; a driver that refuses the request, or
//     reports back a record without the mode, has none: the open fails and says so, for a
//     download sent without direction control would collide with the panel's replies.
//   - Windows: RTS_CONTROL_TOGGLE in the port's DCB (CommLineWin32.cpp); the DCB found at open
//     goes back at close as always.
//
// The device access goes through IRs485Controls, so that tests record the requests instead of
// needing an adapter.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "serial/SerialLine.h"

namespace tarvex {

// The driver's RS-485 record, field for field as the Linux serial core keeps it.
struct Rs485Record {
    std::uint32_t flags = 0;
    std::uint32_t delayRtsBeforeSend = 0;  // milliseconds
    std::uint32_t delayRtsAfterSend = 0;   // milliseconds
    std::array<std::uint32_t, 5> rest{};   // addresses and reserved words, kept as found

    bool operator==(const Rs485Record&) const = default;
};

// The bits of Rs485Record::flags the tool sets or clears.
inline constexpr std::uint32_t kRs485Enabled = 1u << 0;
inline constexpr std::uint32_t kRs485RtsOnSend = 1u << 1;
inline constexpr std::uint32_t kRs485RtsAfterSend = 1u << 2;
inline constexpr std::uint32_t kRs485RxDuringTx = 1u << 4;

// How the driver is asked; the system's implementation is the ioctl pair. Each returns 0 or the
// system's error number.
class IRs485Controls {
  public:
    virtual ~IRs485Controls() = default;
    virtual int Get(int fd, Rs485Record& out) = 0;
    virtual int Set(int fd, const Rs485Record& record) = 0;
};

// The system's own controls (no state).
class SystemRs485Controls final : public IRs485Controls {
  public:
    int Get(int fd, Rs485Record& out) override;
    int Set(int fd, const Rs485Record& record) override;
};

// The record asked for, built on the one found: the mode on, RTS on while sending and off after
// it, no delays around the frame. A port that is to hear its own frames (--echo discard or
// verify) keeps its receiver on while sending, which many drivers otherwise switch off; one
// that is not leaves that bit as found, and so the addresses.
Rs485Record WantedRs485(const Rs485Record& found, bool hearOwnFrames);

// True for the error numbers with which a driver says it has no RS-485 mode (the ioctl is not
// its: ENOTTY, EINVAL, and the kernel's internal ENOIOCTLCMD should it ever come through).
bool MeansNoRs485Mode(int error);

// What RequestRs485 found and did.
struct Rs485Request {
    SerialError error = SerialError::None;  // NoRs485Mode, or the device's error
    std::optional<Rs485Record> previous;    // the record to put back at close, once changed
};

// Asks the driver's RS-485 mode on an open descriptor: reads the record, sets the wanted one
// and reads it back. On any failure after the set, the previous record is put back at once and
// `previous` is empty; on success `previous` holds what RestoreRs485 must put back.
Rs485Request RequestRs485(int fd, bool hearOwnFrames, IRs485Controls& controls);
// Puts back the record found. Call before the descriptor is closed; failures are of no
// consequence (the device may have gone).
void RestoreRs485(int fd, const Rs485Record& previous, IRs485Controls& controls);

}  // namespace tarvex
