// The terminal settings built for the download form's line settings, checked bit by bit. A
// pseudo-terminal ignores speed and parity, so these are the only tests that see them.
#include <gtest/gtest.h>
#include <termios.h>

#include <cstring>

#include "serial/TermiosLinePosix.h"

namespace tarvex {
namespace {

constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;

// Settings as a device might report them after another program used it: cooked mode, echo,
// XON/XOFF, hardware flow control, odd sticky parity, seven bits, two stop bits.
struct termios UsedDevice() {
    struct termios t {};
    t.c_iflag = ICRNL | IXON | IXOFF | ISTRIP | INPCK | PARMRK | BRKINT | IGNPAR;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    t.c_cflag = CS7 | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 5;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    cfsetspeed(&t, B300);
    return t;
}

LineSettings Line(std::uint32_t baud, std::uint8_t parity, std::uint8_t stop = 0,
                  std::uint8_t dataBits = 8) {
    LineSettings line;
    line.baudRate = baud;
    line.parityCode = parity;
    line.stopBitsCode = stop;
    line.dataBits = dataBits;
    return line;
}

struct termios Build(const LineSettings& line, const struct termios& from = UsedDevice()) {
    struct termios out {};
    EXPECT_TRUE(BuildTermios(line, from, out));
    return out;
}

TEST(BuildTermios, ParityCodesFromStaleStickyOddSettings) {
    // The device was left at odd sticky (mark) parity: every code must clear what it does not
    // want, or even would become space and none would stay mark.
    struct Case {
        std::uint8_t code;
        tcflag_t bits;
    };
    const Case cases[] = {
        {0, 0},
        {1, PARENB | PARODD},
        {2, PARENB},
        {3, PARENB | CMSPAR | PARODD},
        {4, PARENB | CMSPAR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        EXPECT_EQ(Build(Line(19200, c.code)).c_cflag & kParityBits, c.bits);
    }
}

TEST(BuildTermios, ParityFromCleanSettingsMatchesFromStale) {
    struct termios clean {};
    for (std::uint8_t code = 0; code <= 4; ++code) {
        SCOPED_TRACE(static_cast<int>(code));
        EXPECT_EQ(Build(Line(9600, code), clean).c_cflag & kParityBits,
                  Build(Line(9600, code)).c_cflag & kParityBits);
    }
}

TEST(BuildTermios, UnknownParityCodeRefusedAndOutputUntouched) {
    struct termios out {};
    std::memset(&out, 0xAB, sizeof out);
    struct termios before = out;
    EXPECT_FALSE(BuildTermios(Line(9600, 5), UsedDevice(), out));
    EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
}

TEST(BuildTermios, ParityCheckingOnlyWhenAsked) {
    LineSettings line = Line(9600, 2);
    EXPECT_EQ(Build(line).c_iflag & (INPCK | IGNPAR | PARMRK), 0u);
    line.parityChecking = true;
    EXPECT_EQ(Build(line).c_iflag & (INPCK | IGNPAR | PARMRK), static_cast<tcflag_t>(INPCK));
}

TEST(BuildTermios, StopBits) {
    EXPECT_EQ(Build(Line(9600, 0, 0)).c_cflag & CSTOPB, 0u);  // stale CSTOPB cleared
    EXPECT_EQ(Build(Line(9600, 0, 2)).c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));

    // One and a half exists only with five data bits, where two cannot be had.
    struct termios out {};
    EXPECT_FALSE(BuildTermios(Line(9600, 0, 1), UsedDevice(), out));
    EXPECT_EQ(Build(Line(9600, 0, 1, 5)).c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    EXPECT_FALSE(BuildTermios(Line(9600, 0, 2, 5), UsedDevice(), out));
    EXPECT_FALSE(BuildTermios(Line(9600, 0, 3), UsedDevice(), out));
}

TEST(BuildTermios, DataBits) {
    EXPECT_EQ(Build(Line(9600, 0, 0, 8)).c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(Build(Line(9600, 0, 0, 7)).c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_EQ(Build(Line(9600, 0, 0, 6)).c_cflag & CSIZE, static_cast<tcflag_t>(CS6));
    EXPECT_EQ(Build(Line(9600, 0, 0, 5)).c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
    struct termios out {};
    EXPECT_FALSE(BuildTermios(Line(9600, 0, 0, 9), UsedDevice(), out));
    EXPECT_FALSE(BuildTermios(Line(9600, 0, 0, 4), UsedDevice(), out));
}

TEST(BuildTermios, StandardRatesAndUnknownRate) {
    const std::pair<std::uint32_t, speed_t> rates[] = {
        {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
        {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
        {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const auto& [baud, code] : rates) {
        SCOPED_TRACE(baud);
        const struct termios t = Build(Line(baud, 0));
        EXPECT_EQ(cfgetospeed(&t), code);
        EXPECT_EQ(cfgetispeed(&t), code);
    }
    struct termios out {};
    EXPECT_FALSE(BuildTermios(Line(12345, 0), UsedDevice(), out));
    EXPECT_FALSE(BuildTermios(Line(0, 0), UsedDevice(), out));  // 0 would hang the line up
}

TEST(BuildTermios, RawBinaryLineWithoutFlowControl) {
    const struct termios t = Build(Line(115200, 0));
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | IXANY | BRKINT), 0u);
    EXPECT_NE(t.c_iflag & IGNBRK, 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL | HUPCL), static_cast<tcflag_t>(CREAD | CLOCAL | HUPCL));
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    // Characters the form does not set keep the device's values.
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
}

TEST(SettingsTakenByDevice, HardwareMustKeepFramingAndSpeed) {
    const struct termios wanted = Build(Line(19200, 3));
    EXPECT_TRUE(SettingsTakenByDevice(wanted, wanted, false));

    struct termios noSticky = wanted;  // a UART without mark/space support drops CMSPAR
    noSticky.c_cflag &= ~CMSPAR;
    EXPECT_FALSE(SettingsTakenByDevice(wanted, noSticky, false));

    struct termios slower = wanted;  // the driver fell back to another speed
    cfsetspeed(&slower, B9600);
    EXPECT_FALSE(SettingsTakenByDevice(wanted, slower, false));
}

TEST(SettingsTakenByDevice, PseudoTerminalMayDropFramingButNotRawMode) {
    const struct termios wanted = Build(Line(19200, 2, 2, 7));
    struct termios asPty = wanted;  // what a pty reports: CS8, no PARENB
    asPty.c_cflag = (asPty.c_cflag & ~(CSIZE | PARENB)) | CS8;
    EXPECT_TRUE(SettingsTakenByDevice(wanted, asPty, true));
    EXPECT_FALSE(SettingsTakenByDevice(wanted, asPty, false));

    struct termios cooked = asPty;
    cooked.c_lflag |= ICANON;
    EXPECT_FALSE(SettingsTakenByDevice(wanted, cooked, true));
    struct termios flow = asPty;
    flow.c_iflag |= IXON;
    EXPECT_FALSE(SettingsTakenByDevice(wanted, flow, true));
    struct termios vmin = asPty;
    vmin.c_cc[VMIN] = 0;
    EXPECT_FALSE(SettingsTakenByDevice(wanted, vmin, true));
}

}  // namespace
}  // namespace tarvex
