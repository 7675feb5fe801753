// The line settings of the download form expressed as terminal settings. Kept free of any
// device access so that the mapping can be checked bit by bit: a pseudo-terminal ignores speed
// and parity, so on one a wrong parity bit would go unnoticed until a real panel met it.
#include <termios.h>

#include <utility>

#include "serial/TermiosLinePosix.h"

namespace tarvex {
namespace {

// Linux spells mark and space parity as "sticky" parity: CMSPAR with PARODD gives mark, without
// it space. Systems without CMSPAR cannot express either.
#ifdef CMSPAR
constexpr tcflag_t kStickParity = CMSPAR;
#else
constexpr tcflag_t kStickParity = 0;
#endif

#ifdef CRTSCTS
constexpr tcflag_t kHardwareFlow = CRTSCTS;
#else
constexpr tcflag_t kHardwareFlow = 0;
#endif

// The bits BuildTermios decides; the device is expected to keep these as set.
constexpr tcflag_t kInputBits = IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                                ICRNL | IXON | IXOFF | IXANY;
constexpr tcflag_t kOutputBits = OPOST;
constexpr tcflag_t kLocalBits = ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN;
constexpr tcflag_t kControlBits = CLOCAL | CREAD | HUPCL | kHardwareFlow;
constexpr tcflag_t kFramingBits = CSIZE | CSTOPB | PARENB | PARODD | kStickParity;

bool SpeedFor(std::uint32_t baud, speed_t& out) {
    static constexpr std::pair<std::uint32_t, speed_t> kRates[] = {
        {50, B50},           {75, B75},     {110, B110},   {134, B134},     {150, B150},
        {200, B200},         {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
        {2400, B2400},       {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
        {57600, B57600},
#else
        {57600, B0},
#endif
#ifdef B115200
        {115200, B115200},
#else
        {115200, B0},
#endif
#ifdef B230400
        {230400, B230400},
#else
        {230400, B0},
#endif
#ifdef B460800
        {460800, B460800},
#else
        {460800, B0},
#endif
#ifdef B500000
        {500000, B500000},
#else
        {500000, B0},
#endif
#ifdef B576000
        {576000, B576000},
#else
        {576000, B0},
#endif
#ifdef B921600
        {921600, B921600},
#else
        {921600, B0},
#endif
#ifdef B1000000
        {1000000, B1000000},
#else
        {1000000, B0},
#endif
#ifdef B1152000
        {1152000, B1152000},
#else
        {1152000, B0},
#endif
#ifdef B1500000
        {1500000, B1500000},
#else
        {1500000, B0},
#endif
#ifdef B2000000
        {2000000, B2000000},
#else
        {2000000, B0},
#endif
#ifdef B2500000
        {2500000, B2500000},
#else
        {2500000, B0},
#endif
#ifdef B3000000
        {3000000, B3000000},
#else
        {3000000, B0},
#endif
#ifdef B3500000
        {3500000, B3500000},
#else
        {3500000, B0},
#endif
#ifdef B4000000
        {4000000, B4000000},
#else
        {4000000, B0},
#endif
    };
    for (const auto& [rate, code] : kRates) {
        if (rate == baud) {
            // B0 means "hang up", never a speed: a rate this system has no code for is refused.
            if (code == B0) {
                return false;
            }
            out = code;
            return true;
        }
    }
    return false;
}

bool CharacterSize(std::uint8_t dataBits, tcflag_t& out) {
    switch (dataBits) {
        case 5:
            out = CS5;
            return true;
        case 6:
            out = CS6;
            return true;
        case 7:
            out = CS7;
            return true;
        case 8:
            out = CS8;
            return true;
        default:
            return false;
    }
}

bool ParityBits(std::uint8_t code, tcflag_t& out) {
    switch (code) {
        case 0:  // none
            out = 0;
            return true;
        case 1:  // odd
            out = PARENB | PARODD;
            return true;
        case 2:  // even
            out = PARENB;
            return true;
        case 3:  // mark: the parity bit is always 1
            out = PARENB | kStickParity | PARODD;
            return kStickParity != 0;
        case 4:  // space: the parity bit is always 0
            out = PARENB | kStickParity;
            return kStickParity != 0;
        default:
            return false;
    }
}

// The UART sends one and a half stop bits when asked for two with five data bits, which is
// the only case where the form's code 1 can be honoured; code 2 with five data bits would
// silently give one and a half as well, so it is refused.
bool StopBits(std::uint8_t code, std::uint8_t dataBits, tcflag_t& out) {
    switch (code) {
        case 0:
            out = 0;
            return true;
        case 1:
            out = CSTOPB;
            return dataBits == 5;
        case 2:
            out = CSTOPB;
            return dataBits != 5;
        default:
            return false;
    }
}

}  // namespace

bool BuildTermios(const LineSettings& line, const struct termios& current, struct termios& out) {
    speed_t speed = B0;
    tcflag_t size = 0;
    tcflag_t parity = 0;
    tcflag_t stop = 0;
    if (!SpeedFor(line.baudRate, speed) || !CharacterSize(line.dataBits, size) ||
        !ParityBits(line.parityCode, parity) || !StopBits(line.stopBitsCode, line.dataBits, stop)) {
        return false;
    }

    // Everything not named below (the flow-control characters, the other control characters)
    // keeps the value the device reported.
    struct termios t = current;

    // Binary input: no break or parity marking, no stripping, no CR/LF translation, no
    // XON/XOFF. A break is a line state, not data, so it is dropped rather than read as a NUL.
    // Received parity is checked only on request; a byte that fails the check then reads as 0.
    t.c_iflag &= ~kInputBits;
    t.c_iflag |= IGNBRK;
    if (line.parityChecking) {
        t.c_iflag |= INPCK;
    }

    // Bytes go out exactly as written.
    t.c_oflag &= ~kOutputBits;

    // No line editing, echo or signal characters.
    t.c_lflag &= ~kLocalBits;

    // A stale PARODD or CMSPAR from whoever used the device before would turn even parity into
    // space parity (or odd into mark), so every framing bit is cleared before the new ones go in.
    t.c_cflag &= ~(kFramingBits | kControlBits);
    t.c_cflag |= size | parity | stop;
    // CLOCAL: carrier detect is not wired on the panel's cable; without it, opens and reads
    // would wait for a carrier that never comes. No RTS/CTS flow control. HUPCL drops DTR and
    // RTS when the last descriptor closes, so the lines end up off even after a crash.
    t.c_cflag |= CREAD | CLOCAL | HUPCL;

    // The port is read non-blocking after poll says bytes are there. With VMIN 1 a read of an
    // empty queue then fails with EAGAIN, so a read that returns 0 can only mean a hang-up
    // (VMIN 0 would make an empty queue look like one).
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    if (::cfsetospeed(&t, speed) != 0 || ::cfsetispeed(&t, speed) != 0) {
        return false;
    }
    out = t;
    return true;
}

bool SettingsTakenByDevice(const struct termios& wanted, const struct termios& actual,
                           bool pseudoTerminal) {
    // Compared are only the bits chosen by BuildTermios: a driver may report other bits its own
    // way (CIBAUD, ADDRB, ...) without any effect on the line.
    if ((wanted.c_iflag & kInputBits) != (actual.c_iflag & kInputBits) ||
        (wanted.c_oflag & kOutputBits) != (actual.c_oflag & kOutputBits) ||
        (wanted.c_lflag & kLocalBits) != (actual.c_lflag & kLocalBits) ||
        (wanted.c_cflag & kControlBits) != (actual.c_cflag & kControlBits) ||
        wanted.c_cc[VMIN] != actual.c_cc[VMIN] || wanted.c_cc[VTIME] != actual.c_cc[VTIME]) {
        return false;
    }
    if (pseudoTerminal) {
        // A pseudo-terminal forces CS8, clears PARENB and keeps whatever speed it is given:
        // it has no line that framing could apply to.
        return true;
    }
    // A real driver clears what its hardware cannot do (a UART without sticky parity drops
    // CMSPAR) and falls back to another speed when the rate is out of reach: either would put
    // the wrong bits on the line, so the settings count as refused.
    return (wanted.c_cflag & kFramingBits) == (actual.c_cflag & kFramingBits) &&
           ::cfgetospeed(&wanted) == ::cfgetospeed(&actual) &&
           ::cfgetispeed(&wanted) == ::cfgetispeed(&actual);
}

}  // namespace tarvex
