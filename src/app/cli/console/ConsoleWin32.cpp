// A Windows console: UTF-8 output, and virtual-terminal sequences where the console has them
// (Windows 10 and later); older consoles redraw the progress bar with carriage returns alone.
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>

#include <cstdio>

#include "app/cli/console/Console.h"
#include "platform/Utf16Win32.h"

namespace tarvex::cli {

ConsoleTraits PrepareConsole() {
    ConsoleTraits traits;
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || out == nullptr || ::GetConsoleMode(out, &mode) == 0) {
        return traits;  // a file or a pipe
    }
    traits.stdoutIsTerminal = true;
    (void)::SetConsoleOutputCP(CP_UTF8);
    traits.vtSequences = (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
                         ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    return traits;
}

int ConsoleColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

std::optional<std::string> ReadLineWithoutEcho(const std::string& prompt) {
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    if (in == INVALID_HANDLE_VALUE || in == nullptr || ::GetConsoleMode(in, &saved) == 0) {
        return std::nullopt;  // not a console: nobody to ask
    }
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    (void)::SetConsoleMode(in, (saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) |
                                   ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
    std::wstring line;
    wchar_t c = 0;
    DWORD got = 0;
    bool ended = false;
    while (::ReadConsoleW(in, &c, 1, &got, nullptr) != 0 && got == 1) {
        if (c == L'\n') {
            ended = true;
            break;
        }
        if (c != L'\r') {
            line.push_back(c);
        }
    }
    (void)::SetConsoleMode(in, saved);
    std::fputs("\n", stderr);
    if (!ended && line.empty()) {
        return std::nullopt;
    }
    return platform::Narrow(line);
}

std::vector<std::string> Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        out.push_back(platform::Narrow(wide[i]));
    }
    ::LocalFree(wide);
    return out;
}

}  // namespace tarvex::cli
