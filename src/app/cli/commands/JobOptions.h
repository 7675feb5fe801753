// Job files on the command line.
//
//   RegisterJobCommand      tarvex-cli job create FILE (the form options of download, the
//                           line's ports, report, retries and unit ids; the form filled in and
//                           read back, the container pinned), job show FILE
//   AddJobOption(cmd, o)    --job FILE for gang and station
//   TakeJob(cmd, o)         when --job was given: reads the job, refuses the options that
//                           would change what is sent (and the line settings the job fixes),
//                           works in the job's workspace, checks the container against the
//                           pinned hash, and fills the options in from the job (retries and
//                           unit ids only where the command line gives none). 0, or the exit
//                           status of a refusal told on standard error; a usage error is thrown
#pragma once

#include <CLI/CLI.hpp>

#include "app/cli/commands/MultiPort.h"

namespace tarvex::cli {

void AddJobOption(CLI::App& cmd, MultiPortOptions& options);
int TakeJob(const CLI::App& cmd, MultiPortOptions& options);

}  // namespace tarvex::cli
