// The console the command line front end writes to.
//
//   PrepareConsole()   readies standard output for UTF-8 text and, where the console has them,
//                      virtual-terminal sequences; tells what it found
//
// ConsolePosix.cpp and ConsoleWin32.cpp are the two implementations.
#pragma once

namespace tarvex::cli {

struct ConsoleTraits {
    bool stdoutIsTerminal = false;  // a person watches standard output
    bool vtSequences = false;       // it takes ESC [ sequences (erase to end of line)
};

ConsoleTraits PrepareConsole();

}  // namespace tarvex::cli
