// How far a download has got, on standard output.
//
//   Style::Bar     one line redrawn in place (for a terminal): a bar, the bytes sent of those
//                  planned, the speed and the time left; at most ten redraws a second. The rest
//                  of a longer earlier line is erased with ESC [ K, or with blanks for a console
//                  without virtual-terminal sequences (SetVtSequences(false))
//   Style::Lines   a plain line at every tenth of the way and at least every few seconds while
//                  data flows (for a log file or a pipe)
//   Style::None    nothing
//
// It is fed from two sides of the form: the frame observer (every frame written, every reply
// read) gives the bytes, the progress bar's model gives the position within the current item
// when no plan is known. "Bytes" are image bytes carried by data frames, each packet counted
// once however often it had to be resent; the plan is the ticked items' sizes in whole packets.
//
// Time comes from the clock passed in, so that tests can drive it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

namespace tarvex::cli {

class ProgressReporter {
  public:
    enum class Style { Bar, Lines, None };
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    // How often a plain line is written at the least while data flows.
    static constexpr std::chrono::seconds kLineInterval{5};
    // How often the bar is redrawn at the most.
    static constexpr std::chrono::milliseconds kBarInterval{100};

    ProgressReporter(std::ostream& out, Style style, Now now = &Clock::now);

    // Image bytes the download will carry in its data frames; 0 while unknown.
    void SetPlannedBytes(std::uint64_t bytes) { planned_ = bytes; }
    void SetVtSequences(bool on) { vtSequences_ = on; }
    void OnFrame(bool written, std::span<const std::uint8_t> frame);
    void OnBar(int lower, int upper, int position);
    // Ends the bar's line, so that what is printed next starts on a line of its own.
    void BreakLine();
    // The final state; the bar's line is ended.
    void Finish();

    std::uint64_t BytesSent() const { return sent_; }

  private:
    void Update(bool force);
    std::string Summary(bool forBar) const;
    int Percent() const;  // -1 when there is nothing to measure against
    double BytesPerSecond() const;

    std::ostream& out_;
    Style style_;
    Now now_;
    std::uint64_t planned_ = 0;
    std::uint64_t sent_ = 0;
    std::vector<std::uint8_t> lastDataFrame_;  // to tell a resend from the next packet
    int barLower_ = 0;
    int barUpper_ = 0;
    int barPosition_ = 0;
    bool started_ = false;
    Clock::time_point start_{};
    Clock::time_point lastShown_{};
    int lastTenth_ = -1;     // Lines: the last tenth of the way reported
    bool lineOpen_ = false;  // Bar: the bar is on the current line
    bool vtSequences_ = true;
    std::size_t barLength_ = 0;  // Bar: the length of the line shown last
    bool finished_ = false;
};

}  // namespace tarvex::cli
