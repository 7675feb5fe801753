// What Linux tells about an open tty beyond termios: whether it is a pseudo-terminal, and the
// driver's counts of line errors.
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "serial/TermiosLinePosix.h"

namespace tarvex::serial_detail {
namespace {

// Device majors of pseudo-terminal slaves: 136 to 143 for the Unix 98 ones under /dev/pts,
// 3 for the old BSD-style /dev/ttyp*.
constexpr unsigned kUnix98SlaveFirst = 136;
constexpr unsigned kUnix98SlaveLast = 143;
constexpr unsigned kBsdSlave = 3;

}  // namespace

bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    const unsigned maj = major(st.st_rdev);
    return (maj >= kUnix98SlaveFirst && maj <= kUnix98SlaveLast) || maj == kBsdSlave;
}

bool ReadLineErrorCounts(int fd, LineErrorCounts& out) {
    serial_icounter_struct counts{};
    // Drivers without counters (pseudo-terminals, some USB adapters) answer ENOTTY or EINVAL;
    // the caller then has no line errors to watch.
    if (::ioctl(fd, TIOCGICOUNT, &counts) != 0) {
        return false;
    }
    out.frame = counts.frame;
    out.overrun = counts.overrun;
    out.parity = counts.parity;
    out.brk = counts.brk;
    out.bufferOverrun = counts.buf_overrun;
    return true;
}

}  // namespace tarvex::serial_detail
