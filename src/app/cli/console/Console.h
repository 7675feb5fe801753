// The console the command line front end writes to.
//
//   PrepareConsole()   readies standard output for UTF-8 text and, where the console has them,
//                      virtual-terminal sequences; tells what it found
//   ConsoleColumns()   the width of the console on standard output, 0 when unknown
//   ReadLineWithoutEcho(prompt)  asks on the console with echo off; nothing when standard
//                      input is not a console
//   Arguments(argc, argv)  the command line in UTF-8, program name first (on Windows read
//                      from the wide command line, since argv is in the ANSI code page)
//
// ConsolePosix.cpp and ConsoleWin32.cpp are the two implementations.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvex::cli {

struct ConsoleTraits {
    bool stdoutIsTerminal = false;  // a person watches standard output
    bool vtSequences = false;       // it takes ESC [ sequences (erase to end of line)
};

ConsoleTraits PrepareConsole();

int ConsoleColumns();

std::optional<std::string> ReadLineWithoutEcho(const std::string& prompt);

std::vector<std::string> Arguments(int argc, char** argv);

}  // namespace tarvex::cli
