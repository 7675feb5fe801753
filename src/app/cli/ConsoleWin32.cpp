// A Windows console: UTF-8 output, and virtual-terminal sequences where the console has them
// (Windows 10 and later); older consoles redraw the progress bar with carriage returns alone.
#include <windows.h>

#include "app/cli/Console.h"

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

}  // namespace tarvex::cli
