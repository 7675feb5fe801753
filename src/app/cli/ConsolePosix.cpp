// A POSIX terminal: UTF-8 and the usual escape sequences are taken as given.
#include <unistd.h>

#include "app/cli/Console.h"

namespace tarvex::cli {

ConsoleTraits PrepareConsole() {
    ConsoleTraits traits;
    traits.stdoutIsTerminal = ::isatty(STDOUT_FILENO) == 1;
    traits.vtSequences = traits.stdoutIsTerminal;
    return traits;
}

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

}  // namespace tarvex::cli
