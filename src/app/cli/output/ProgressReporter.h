// How far a download has got, on standard output: a listener of the transfer's progress sink.
//
//   Style::Bar     one line redrawn in place (for a terminal): the item being sent, a bar, the
//                  bytes sent of those planned, the speed and the time left; fitted to the
//                  terminal's width, read again at every redraw so that it follows a resize; at
//                  most ten redraws a second. The rest of a longer earlier line is erased with
//                  ESC [ K, or with blanks for a console without virtual-terminal sequences
//                  (SetVtSequences(false))
//   Style::Lines   a plain line at every tenth of the way and at least every few seconds while
//                  data flows (for a log file or a pipe)
//   Style::None    nothing
//
// "Bytes" are the image bytes of confirmed packets (padding not counted); the plan is the
// ticked items' sizes. Without a plan the current item's share is shown. The panel's erase
// pauses (a Bitmap or Font waits for the panel before its data) do not count into the speed.
//
// Time and the terminal width come from the functions passed in, so that tests can drive them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "hmi/TransferProgress.h"

namespace tarvex::cli {

class ProgressReporter final : public ITransferProgress {
  public:
    enum class Style { Bar, Lines, None };
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;
    using Width = std::function<int()>;

    // How often a plain line is written at the least while data flows.
    static constexpr std::chrono::seconds kLineInterval{5};
    // How often the bar is redrawn at the most.
    static constexpr std::chrono::milliseconds kBarInterval{100};

    ProgressReporter(std::ostream& out, Style style, Now now = &Clock::now,
                     Width width = &TerminalWidth);

    // Image bytes the download will carry; 0 while unknown.
    void SetPlannedBytes(std::uint64_t bytes) { planned_ = bytes; }
    void SetVtSequences(bool on) { vtSequences_ = on; }
    // Asked once, at the transfer's first event (when the items are known).
    void SetPlanner(std::function<std::uint64_t()> planner) { planner_ = std::move(planner); }

    void OnItemStarted(const TransferItem& item) override;
    void OnPhase(TransferPhase phase) override;
    void OnDescribeWaitOver() override;
    void OnPacketSent(std::uint32_t packetsDone, std::uint64_t bytesDone) override;

    // Ends the bar's line, so that what is printed next starts on a line of its own.
    void BreakLine();
    // The final state; the bar's line is ended.
    void Finish();

    std::uint64_t BytesSent() const { return before_ + itemDone_; }

    // Columns of the console on standard output, else COLUMNS, else 80.
    static int TerminalWidth();

  private:
    void Start();
    void EndPause();
    void Update(bool force);
    std::string BarLine() const;
    std::string PlainLine() const;
    int Percent() const;  // -1 when there is nothing to measure against
    double BytesPerSecond() const;
    double ActiveSeconds() const;

    std::ostream& out_;
    Style style_;
    Now now_;
    Width width_;
    std::uint64_t planned_ = 0;
    std::function<std::uint64_t()> planner_;
    std::uint64_t before_ = 0;    // bytes of the items before the current one
    std::uint64_t itemDone_ = 0;  // bytes of the current item
    std::uint64_t itemBytes_ = 0;
    std::string itemLabel_;
    bool started_ = false;
    Clock::time_point start_{};
    bool paused_ = false;
    Clock::time_point pauseStart_{};
    Clock::duration pausedTotal_{};
    Clock::time_point lastShown_{};
    int lastTenth_ = -1;     // Lines: the last tenth of the way reported
    bool lineOpen_ = false;  // Bar: the bar is on the current line
    bool vtSequences_ = true;
    std::size_t barLength_ = 0;  // Bar: the length of the line shown last
    bool finished_ = false;
};

}  // namespace tarvex::cli
