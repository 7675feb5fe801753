// The RS-485 request and its restore, over whatever controls reach the driver.
#include "serial/Rs485.h"

#include <cerrno>

namespace tarvex {
namespace {

// The kernel's "no such ioctl here" before the tty layer turns it into ENOTTY.
constexpr int kNoIoctlCommand = 515;

bool ModeTaken(const Rs485Record& wanted, const Rs485Record& actual) {
    // A driver that cannot do a part of the request clears it in what it reports back.
    constexpr std::uint32_t kMustKeep = kRs485Enabled | kRs485RtsOnSend | kRs485RtsAfterSend;
    return (actual.flags & kMustKeep) == (wanted.flags & kMustKeep);
}

}  // namespace

Rs485Record WantedRs485(const Rs485Record& found, bool hearOwnFrames) {
    Rs485Record wanted = found;
    wanted.flags |= kRs485Enabled | kRs485RtsOnSend;
    wanted.flags &= ~kRs485RtsAfterSend;
    if (hearOwnFrames) {
        wanted.flags |= kRs485RxDuringTx;
    }
    wanted.delayRtsBeforeSend = 0;
    wanted.delayRtsAfterSend = 0;
    return wanted;
}

bool MeansNoRs485Mode(int error) {
    return error == ENOTTY || error == EINVAL || error == kNoIoctlCommand;
}

Rs485Request RequestRs485(int fd, bool hearOwnFrames, IRs485Controls& controls) {
    Rs485Request request;
    auto failure = [](int error) {
        return MeansNoRs485Mode(error) ? SerialError::NoRs485Mode : SerialError::Io;
    };
    Rs485Record found;
    if (const int error = controls.Get(fd, found); error != 0) {
        request.error = failure(error);
        return request;
    }
    const Rs485Record wanted = WantedRs485(found, hearOwnFrames);
    if (const int error = controls.Set(fd, wanted); error != 0) {
        // A refused request changes nothing in the driver; there is nothing to put back.
        request.error = failure(error);
        return request;
    }
    Rs485Record actual;
    if (const int error = controls.Get(fd, actual); error != 0) {
        (void)controls.Set(fd, found);
        request.error = failure(error);
        return request;
    }
    if (!ModeTaken(wanted, actual)) {
        // Taken in part: the driver cleared what it cannot do. Without the whole mode the
        // direction is not switched as the panel needs it, so the port is left as found.
        (void)controls.Set(fd, found);
        request.error = SerialError::NoRs485Mode;
        return request;
    }
    request.previous = found;
    return request;
}

void RestoreRs485(int fd, const Rs485Record& previous, IRs485Controls& controls) {
    (void)controls.Set(fd, previous);
}

}  // namespace tarvex
