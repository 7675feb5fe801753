// Puts a PanelSession on a pseudo-terminal: the tool under test opens the slave side like a
// serial port, and the panel answers on the master side, paced like a real line if asked.
#pragma once

#include <cstdint>
#include <string>

#include "panel-sim/PanelSession.h"

namespace tarvex::panelsim {

struct LineOptions {
    std::string linkPath;          // symbolic link to the slave, made and removed here
    std::string portFile;          // receives the slave's path once the line is ready
    std::string outDir;            // item files and session.json
    std::string logFile;           // one JSON line per event
    std::uint32_t baud = 0;        // 0: unpaced
    std::uint64_t closeAfter = 0;  // close the line after this many replies; 0: never
    bool exitAfterOver = false;
    std::uint32_t idleExitMs = 0;    // 0: never
    std::uint32_t frameGapMs = 200;  // quiet time that ends an unfinished frame; 0: never
    bool echo = false;               // send back every byte received, as a two-wire line does
    std::uint64_t corruptEchoByte =
        0;  // flip a bit in every echoed byte from this one (from 1); 0: none
};

// Serves the panel until SIGINT/SIGTERM or one of the ends the options ask for; returns the
// process exit status. Throws std::runtime_error when the line or an output cannot be set up
// or written.
int RunPanel(PanelSession& session, const LineOptions& options);

}  // namespace tarvex::panelsim
