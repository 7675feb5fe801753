// UniqueHandle: the one owner of a Win32 kernel object handle (a file, a device, a mutex, an
// event). Closes it with CloseHandle when it goes out of scope or is reset; moves, never copies.
// Included by Win32 code only.
//
// The API marks "no handle" two ways: CreateFileW returns INVALID_HANDLE_VALUE, CreateMutexW
// and most others return NULL. Both count as empty here, so either result can be taken as it
// comes; get() of an empty owner is INVALID_HANDLE_VALUE.
#pragma once

#include <windows.h>

namespace tarvex::platform {

class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h == nullptr ? INVALID_HANDLE_VALUE : h) {}
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return valid(); }

    HANDLE release() {
        const HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (h == nullptr) {
            h = INVALID_HANDLE_VALUE;
        }
        if (valid() && h_ != h) {
            (void)::CloseHandle(h_);
        }
        h_ = h;
    }
    // Closes now and tells whether CloseHandle succeeded: a file's last buffered write can
    // still fail there.
    bool Close() {
        if (!valid()) {
            return true;
        }
        return ::CloseHandle(release()) != 0;
    }

  private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace tarvex::platform
