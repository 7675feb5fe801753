// UniqueFd: the one owner of a POSIX file descriptor. Closes it when it goes out of scope or is
// reset; moves, never copies. Included by POSIX code only.
//
//   UniqueFd fd(::open(...));   owns what open() returned (-1: owns nothing)
//   fd.get()                    the descriptor, still owned
//   fd.release()                gives it up without closing it
//   fd.reset(other)             closes the old one, owns `other`
//   fd.Close()                  closes now and tells whether close() reported success
//
// close() is never retried after EINTR: Linux releases the descriptor even then, and a retry
// could close a descriptor another thread has just been given.
#pragma once

#include <unistd.h>

namespace tarvex::platform {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }

    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0 && fd_ != fd) {
            (void)::close(fd_);
        }
        fd_ = fd;
    }
    // For writers that must know whether the data reached the file: close() reports late
    // write errors (NFS, a full disk) that write() did not.
    bool Close() {
        if (fd_ < 0) {
            return true;
        }
        return ::close(release()) == 0;
    }

  private:
    int fd_ = -1;
};

}  // namespace tarvex::platform
