// The ports' progress on standard output while several run at once, drawn from the line's
// board state: one line per port (port,
// item, percent, speed, state, and a station's counts), redrawn in place on a terminal; plain
// lines when a port's state or tenth of the way changes (at most every 5 s) otherwise. Message
// lines of the ports (standard error) are written above the board: the board steps aside and
// is drawn again below them.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "app/cli/output/MessageLines.h"
#include "production/BoardState.h"

namespace tarvex::cli {

class StatusBoard {
  public:
    enum class Style { Redraw, Lines, None };

    StatusBoard(std::vector<std::string> ports, const production::BoardState& state, Style style,
                LineOutput& messages, bool counts);
    ~StatusBoard();
    StatusBoard(const StatusBoard&) = delete;
    StatusBoard& operator=(const StatusBoard&) = delete;

    void Update();
    void Finish();  // the final state, the board's lines left standing

    // One port's line, at most `columns` wide (0: no limit): a long port name gives way
    // first, keeping its end (by-id names differ there), then the line's end.
    static std::string Line(const std::string& port, const production::PortStatus& status,
                            bool counts, std::size_t columns = 0);

  private:
    void StepAsideLocked();  // under the message output's lock
    void DrawLocked();

    std::vector<std::string> ports_;
    const production::BoardState& state_;
    Style style_;
    LineOutput& messages_;
    bool counts_;
    int drawn_ = 0;
    std::vector<std::string> lastLines_;
    std::vector<std::chrono::steady_clock::time_point> lastShown_;
};

}  // namespace tarvex::cli
