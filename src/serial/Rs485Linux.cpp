// The driver's RS-485 record on Linux: TIOCGRS485 and TIOCSRS485.
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "serial/Rs485.h"

namespace tarvex {
namespace {

static_assert(kRs485Enabled == SER_RS485_ENABLED);
static_assert(kRs485RtsOnSend == SER_RS485_RTS_ON_SEND);
static_assert(kRs485RtsAfterSend == SER_RS485_RTS_AFTER_SEND);
static_assert(kRs485RxDuringTx == SER_RS485_RX_DURING_TX);
static_assert(sizeof(struct serial_rs485) == sizeof(Rs485Record));

struct serial_rs485 ToSystem(const Rs485Record& r) {
    struct serial_rs485 s {};
    s.flags = r.flags;
    s.delay_rts_before_send = r.delayRtsBeforeSend;
    s.delay_rts_after_send = r.delayRtsAfterSend;
    static_assert(sizeof s.padding == sizeof r.rest);
    for (std::size_t i = 0; i < r.rest.size(); ++i) {
        s.padding[i] = r.rest[i];
    }
    return s;
}

Rs485Record FromSystem(const struct serial_rs485& s) {
    Rs485Record r;
    r.flags = s.flags;
    r.delayRtsBeforeSend = s.delay_rts_before_send;
    r.delayRtsAfterSend = s.delay_rts_after_send;
    for (std::size_t i = 0; i < r.rest.size(); ++i) {
        r.rest[i] = s.padding[i];
    }
    return r;
}

}  // namespace

int SystemRs485Controls::Get(int fd, Rs485Record& out) {
    struct serial_rs485 s {};
    if (::ioctl(fd, TIOCGRS485, &s) != 0) {
        return errno;
    }
    out = FromSystem(s);
    return 0;
}

int SystemRs485Controls::Set(int fd, const Rs485Record& record) {
    struct serial_rs485 s = ToSystem(record);
    if (::ioctl(fd, TIOCSRS485, &s) != 0) {
        return errno;
    }
    return 0;
}

}  // namespace tarvex
