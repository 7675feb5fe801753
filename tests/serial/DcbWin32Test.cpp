// The line settings of the form as a DCB, field by field. A pseudo-terminal under Wine keeps no
// parity bit, so only these checks see a wrong parity or stop-bit field before a real panel.
#include <gtest/gtest.h>

#include "serial/CommLineWin32.h"

namespace tarvex {
namespace {

LineSettings Line(std::uint32_t baud, std::uint8_t parity, std::uint8_t stop = 0,
                  std::uint8_t dataBits = 8, bool check = false) {
    LineSettings line;
    line.baudRate = baud;
    line.parityCode = parity;
    line.stopBitsCode = stop;
    line.dataBits = dataBits;
    line.parityChecking = check;
    return line;
}

// What a port used before might hold: hardware and software flow control, DTR handshake.
DCB UsedPort() {
    DCB d{};
    d.DCBlength = sizeof d;
    d.BaudRate = 9600;
    d.ByteSize = 7;
    d.Parity = MARKPARITY;
    d.StopBits = TWOSTOPBITS;
    d.fOutxCtsFlow = TRUE;
    d.fOutxDsrFlow = TRUE;
    d.fDtrControl = DTR_CONTROL_HANDSHAKE;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    d.fOutX = TRUE;
    d.fInX = TRUE;
    d.fErrorChar = TRUE;
    d.fNull = TRUE;
    d.XonChar = 0x11;
    return d;
}

TEST(BuildDcb, FieldsFromTheFormOnAUsedPort) {
    struct Case {
        LineSettings line;
        BYTE parity;
        BYTE stopBits;
        BYTE byteSize;
    };
    const Case cases[] = {
        {Line(115200, 0), NOPARITY, ONESTOPBIT, 8},
        {Line(19200, 1), ODDPARITY, ONESTOPBIT, 8},
        {Line(19200, 2, 2), EVENPARITY, TWOSTOPBITS, 8},
        {Line(9600, 3), MARKPARITY, ONESTOPBIT, 8},
        {Line(9600, 4, 0, 7), SPACEPARITY, ONESTOPBIT, 7},
        {Line(300, 0, 1, 5), NOPARITY, ONE5STOPBITS, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.line.baudRate << " parity " << int(c.line.parityCode));
        DCB d{};
        ASSERT_TRUE(BuildDcb(c.line, UsedPort(), d));
        EXPECT_EQ(d.DCBlength, sizeof(DCB));
        EXPECT_EQ(d.BaudRate, c.line.baudRate);
        EXPECT_EQ(d.Parity, c.parity);
        EXPECT_EQ(d.StopBits, c.stopBits);
        EXPECT_EQ(d.ByteSize, c.byteSize);
        EXPECT_EQ(d.fParity, FALSE);
        EXPECT_EQ(d.fBinary, TRUE);
        EXPECT_EQ(d.fOutxCtsFlow, FALSE);
        EXPECT_EQ(d.fOutxDsrFlow, FALSE);
        EXPECT_EQ(d.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
        EXPECT_EQ(d.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
        EXPECT_EQ(d.fOutX, FALSE);
        EXPECT_EQ(d.fInX, FALSE);
        EXPECT_EQ(d.fErrorChar, FALSE);
        EXPECT_EQ(d.fNull, FALSE);
        EXPECT_EQ(d.fAbortOnError, TRUE);
        EXPECT_EQ(d.XonChar, 0x11);  // fields the form does not choose keep their values
        EXPECT_TRUE(DcbTakenByDevice(d, d));
    }
    DCB checked{};
    ASSERT_TRUE(BuildDcb(Line(19200, 2, 0, 8, true), UsedPort(), checked));
    EXPECT_EQ(checked.fParity, TRUE);
}

TEST(BuildDcb, ImpossibleValuesRefusedAndOutputUntouched) {
    const LineSettings refused[] = {
        Line(0, 0),          Line(9600, 5),       Line(9600, 0, 3),    Line(9600, 0, 1),
        Line(9600, 0, 2, 5), Line(9600, 0, 0, 9), Line(9600, 0, 0, 4),
    };
    for (const LineSettings& line : refused) {
        DCB out = UsedPort();
        EXPECT_FALSE(BuildDcb(line, UsedPort(), out));
        EXPECT_EQ(out.BaudRate, 9600u);
        EXPECT_EQ(out.fOutX, TRUE);
    }
}

TEST(DcbTakenByDevice, SpeedFramingAndFlowControlMustBeKept) {
    DCB wanted{};
    ASSERT_TRUE(BuildDcb(Line(115200, 2, 2), UsedPort(), wanted));
    DCB slower = wanted;
    slower.BaudRate = 57600;
    DCB noParity = wanted;  // what a pseudo-terminal under Wine reports
    noParity.Parity = NOPARITY;
    DCB oneStop = wanted;
    oneStop.StopBits = ONESTOPBIT;
    DCB handshake = wanted;
    handshake.fRtsControl = RTS_CONTROL_HANDSHAKE;
    DCB xonXoff = wanted;
    xonXoff.fInX = TRUE;
    for (const DCB* actual : {&slower, &noParity, &oneStop, &handshake, &xonXoff}) {
        EXPECT_FALSE(DcbTakenByDevice(wanted, *actual));
    }
    DCB dtrOn = wanted;  // a driver may report DTR as it left it: no flow control, no matter
    dtrOn.fDtrControl = DTR_CONTROL_ENABLE;
    EXPECT_TRUE(DcbTakenByDevice(wanted, dtrOn));
}

// Two-wire RS-485: the driver raises RTS while it sends. Asked at the open on the DCB found
// (nothing else changes, and RTS cannot stay a handshake line), kept by every later
// configuration, and a driver that reports anything else back has no such mode.
TEST(BuildDcb, RtsToggleWhenAskedAndKeptByTheDriver) {
    const DCB toggled = WithRtsToggle(UsedPort());
    EXPECT_EQ(toggled.fRtsControl, static_cast<DWORD>(RTS_CONTROL_TOGGLE));
    EXPECT_EQ(toggled.fOutxCtsFlow, FALSE);
    EXPECT_EQ(toggled.BaudRate, 9600u);
    EXPECT_EQ(toggled.Parity, MARKPARITY);
    EXPECT_EQ(toggled.fOutX, TRUE);  // the rest waits for the configuration
    EXPECT_EQ(toggled.DCBlength, sizeof(DCB));

    struct Case {
        bool asked;
        DWORD rts;
    };
    for (const Case c : {Case{false, RTS_CONTROL_DISABLE}, Case{true, RTS_CONTROL_TOGGLE}}) {
        SCOPED_TRACE(c.asked ? "RS-485" : "plain");
        DCB d{};
        ASSERT_TRUE(BuildDcb(Line(19200, 2), toggled, d, c.asked));
        EXPECT_EQ(d.fRtsControl, c.rts);
        EXPECT_EQ(d.fOutxCtsFlow, FALSE);
        EXPECT_EQ(d.fOutX, FALSE);
        EXPECT_TRUE(DcbTakenByDevice(d, d));
        for (const DWORD reported :
             {static_cast<DWORD>(RTS_CONTROL_DISABLE), static_cast<DWORD>(RTS_CONTROL_ENABLE)}) {
            DCB actual = d;
            actual.fRtsControl = reported;
            // Asked for the toggle, a driver that reports another RTS use did not take it.
            EXPECT_EQ(DcbTakenByDevice(d, actual), !c.asked) << reported;
        }
    }
}

}  // namespace
}  // namespace tarvex
