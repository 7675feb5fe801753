// Standard input looked at without waiting: a station's operator presses Enter for the next
// panel, whether the input is a console, a pipe or a file.
//
//   PollStandardInput()   Line when a whole line has come (what it held is read and dropped),
//                         End when the input has ended and nothing more can come, Nothing
//                         otherwise
//
// StandardInputPosix.cpp and StandardInputWin32.cpp are the two implementations.
#pragma once

namespace tarvex::cli {

enum class InputPoll { Nothing, Line, End };

InputPoll PollStandardInput();

}  // namespace tarvex::cli
