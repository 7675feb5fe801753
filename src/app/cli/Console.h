// The console the command line front end writes to.
//
//   PrepareConsole()   readies standard output for UTF-8 text and, where the console has them,
//                      virtual-terminal sequences; tells what it found
//   Arguments(argc, argv)  the command line in UTF-8, program name first (on Windows read
//                      from the wide command line, since argv is in the ANSI code page)
//
// ConsolePosix.cpp and ConsoleWin32.cpp are the two implementations.
#pragma once

#include <string>
#include <vector>

namespace tarvex::cli {

struct ConsoleTraits {
    bool stdoutIsTerminal = false;  // a person watches standard output
    bool vtSequences = false;       // it takes ESC [ sequences (erase to end of line)
};

ConsoleTraits PrepareConsole();

std::vector<std::string> Arguments(int argc, char** argv);

}  // namespace tarvex::cli
