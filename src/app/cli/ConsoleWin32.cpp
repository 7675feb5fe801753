// A Windows console: UTF-8 output, and virtual-terminal sequences where the console has them
// (Windows 10 and later); older consoles redraw the progress bar with carriage returns alone.
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>

#include "app/cli/Console.h"
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
