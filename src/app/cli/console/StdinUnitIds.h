// Unit ids typed on standard input, one per line: a barcode scanner in keyboard mode types the
// label and Enter. A thread of its own reads the lines, so that the line's ports ask without
// waiting; blank lines are passed over, and the end of input ends the ids.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "production/UnitIds.h"

namespace tarvex::cli {

class StdinUnitIds final : public production::IUnitIdSource {
  public:
    StdinUnitIds();
    std::optional<std::string> Take(const std::string& port) override;
    bool Exhausted() const override;
    bool IdMarksNextUnit() const override { return true; }

  private:
    struct Lines {
        std::mutex mutex;
        std::deque<std::string> ready;
        bool ended = false;
    };
    // Shared with the reading thread, which may outlive this object: a read from standard
    // input cannot be called off, so the thread is left to end with the process.
    std::shared_ptr<Lines> lines_ = std::make_shared<Lines>();
};

}  // namespace tarvex::cli
