// A console is asked for its pending key events (Enter pressed), a pipe for the bytes waiting
// in it (a closed pipe has ended), a file is read: it never makes one wait.
#include <windows.h>

#include "app/cli/console/StandardInput.h"

namespace tarvex::cli {
namespace {

InputPoll FromConsole(HANDLE in) {
    for (;;) {
        DWORD pending = 0;
        if (::GetNumberOfConsoleInputEvents(in, &pending) == 0 || pending == 0) {
            return InputPoll::Nothing;
        }
        INPUT_RECORD record{};
        DWORD got = 0;
        if (::ReadConsoleInputW(in, &record, 1, &got) == 0 || got == 0) {
            return InputPoll::Nothing;
        }
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown != 0 &&
            record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN) {
            return InputPoll::Line;
        }
    }
}

InputPoll FromStream(HANDLE in, bool pipe) {
    for (;;) {
        if (pipe) {
            DWORD available = 0;
            if (::PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr) == 0) {
                return ::GetLastError() == ERROR_BROKEN_PIPE ? InputPoll::End : InputPoll::Nothing;
            }
            if (available == 0) {
                return InputPoll::Nothing;
            }
        }
        char c = 0;
        DWORD got = 0;
        if (::ReadFile(in, &c, 1, &got, nullptr) == 0 || got == 0) {
            return InputPoll::End;
        }
        if (c == '\n') {
            return InputPoll::Line;
        }
    }
}

}  // namespace

InputPoll PollStandardInput() {
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    if (in == INVALID_HANDLE_VALUE || in == nullptr) {
        return InputPoll::End;
    }
    switch (::GetFileType(in)) {
        case FILE_TYPE_CHAR: {
            DWORD mode = 0;
            if (::GetConsoleMode(in, &mode) != 0) {
                return FromConsole(in);
            }
            return FromStream(in, false);  // a character device such as NUL
        }
        case FILE_TYPE_PIPE:
            return FromStream(in, true);
        default:
            return FromStream(in, false);
    }
}

}  // namespace tarvex::cli
