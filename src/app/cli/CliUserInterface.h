// The command line's message interface lives in console/; this name stays for the commands
// that still include it from here.
#pragma once

#include "app/cli/console/CliUserInterface.h"
