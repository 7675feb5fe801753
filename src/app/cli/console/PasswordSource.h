// Where the download password comes from when it is not typed on the command line (where `ps`
// shows it to everyone): a file, the environment, or a question on the terminal.
//
//   PasswordFromFileOrEnvironment(file)  --password-file FILE (its first line), else
//                                        TARVEX_PASSWORD; nothing when neither is given
//   VersionNeedsPassword(form)           the chosen version takes a download password and the
//                                        Password field is empty
//   AskPasswordOnTerminal()              asks on the terminal without echo; nothing when
//                                        standard input is no terminal
#pragma once

#include <optional>
#include <string>

#include "ui/TarvexDlg.h"

namespace tarvex::cli {

inline constexpr char kPasswordVariable[] = "TARVEX_PASSWORD";

// Throws UsageError when the file cannot be read.
std::optional<std::string> PasswordFromFileOrEnvironment(const std::optional<std::string>& file);

bool VersionNeedsPassword(const CTarvexDlg& form);

std::optional<std::string> AskPasswordOnTerminal(const std::string& prompt);

}  // namespace tarvex::cli
