#include "app/cli/ProgressReporter.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "hmi/HmiFrames.h"

namespace tarvex::cli {
namespace {

constexpr int kBarWidth = 30;

std::string Bytes(double bytes) {
    char text[32];
    if (bytes < 1024.0) {
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    } else if (bytes < 1024.0 * 1024.0) {
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
    }
    return text;
}

std::string Duration(double seconds) {
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    }
    return text;
}

}  // namespace

ProgressReporter::ProgressReporter(std::ostream& out, Style style, Now now)
    : out_(out), style_(style), now_(std::move(now)) {}

void ProgressReporter::OnFrame(bool written, std::span<const std::uint8_t> frame) {
    if (!written || frame.size() < 2) {
        return;
    }
    if (!started_) {
        started_ = true;
        start_ = now_();
    }
    if (frame[1] != hmi::kDataLetter || frame.size() < hmi::kFrameOverhead) {
        // A resend repeats the frame just written; any other frame between two data frames
        // means the next one is new, even when it looks the same (two equal recipes).
        lastDataFrame_.clear();
        Update(false);
        return;
    }
    if (!std::equal(frame.begin(), frame.end(), lastDataFrame_.begin(), lastDataFrame_.end())) {
        sent_ += frame.size() - hmi::kFrameOverhead;
        lastDataFrame_.assign(frame.begin(), frame.end());
    }
    Update(false);
}

void ProgressReporter::OnBar(int lower, int upper, int position) {
    barLower_ = lower;
    barUpper_ = upper;
    barPosition_ = position;
    // A bar whose line a message has ended comes back with the next frame, not before: the
    // form moves its bar once more when it is done (back to 0).
    if (started_ && (style_ == Style::Lines || lineOpen_)) {
        Update(false);
    }
}

int ProgressReporter::Percent() const {
    if (planned_ > 0) {
        return static_cast<int>(std::min<std::uint64_t>(100, sent_ * 100 / planned_));
    }
    if (barUpper_ > barLower_) {
        const int done = std::clamp(barPosition_ - barLower_, 0, barUpper_ - barLower_);
        return done * 100 / (barUpper_ - barLower_);
    }
    return -1;
}

double ProgressReporter::BytesPerSecond() const {
    const double seconds = std::chrono::duration<double>(now_() - start_).count();
    return seconds > 0.0 ? static_cast<double>(sent_) / seconds : 0.0;
}

std::string ProgressReporter::Summary(bool forBar) const {
    const int percent = Percent();
    const double speed = BytesPerSecond();
    std::string text;
    if (forBar) {
        const int filled = percent < 0 ? 0 : percent * kBarWidth / 100;
        text = "[" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] ";
        char pct[16];
        std::snprintf(pct, sizeof pct, "%3d%%", std::max(percent, 0));
        text += pct;
        text += "  " + Bytes(static_cast<double>(sent_));
    } else {
        text = "Sent";
        if (percent >= 0) {
            text += " " + std::to_string(percent) + "%";
        }
        text += (percent >= 0 ? " (" : " ") + Bytes(static_cast<double>(sent_));
    }
    if (planned_ > 0) {
        text += " of " + Bytes(static_cast<double>(planned_));
    }
    if (!forBar && percent >= 0) {
        text += ")";
    }
    text += (forBar ? "  " : ", ") + Bytes(speed) + "/s";
    if (planned_ > 0 && speed > 0.0 && sent_ < planned_) {
        text += (forBar ? "  " : ", ") + Duration(static_cast<double>(planned_ - sent_) / speed) +
                " left";
    }
    return text;
}

void ProgressReporter::Update(bool force) {
    if (style_ == Style::None || finished_) {
        return;
    }
    const Clock::time_point now = now_();
    if (style_ == Style::Bar) {
        if (!force && lineOpen_ && now - lastShown_ < kBarInterval) {
            return;
        }
        // Back to the start of the line, and away with what a longer text left behind.
        std::string text = Summary(true);
        const std::size_t length = text.size();
        if (vtSequences_) {
            text += "\x1b[K";
        } else if (length < barLength_) {
            text.append(barLength_ - length, ' ');
        }
        out_ << '\r' << text << std::flush;
        barLength_ = length;
        lineOpen_ = true;
        lastShown_ = now;
        return;
    }
    const int percent = Percent();
    const int tenth = percent < 0 ? -1 : percent / 10;
    const bool newTenth = tenth > lastTenth_ || (planned_ == 0 && tenth != lastTenth_);
    if (force || newTenth || now - lastShown_ >= kLineInterval) {
        out_ << Summary(false) << '\n' << std::flush;
        lastShown_ = now;
        lastTenth_ = tenth;
    }
}

void ProgressReporter::BreakLine() {
    if (lineOpen_) {
        Update(true);  // the state the message speaks of
        out_ << '\n' << std::flush;
        lineOpen_ = false;
    }
}

void ProgressReporter::Finish() {
    if (finished_ || !started_ || style_ == Style::None) {
        finished_ = true;
        return;
    }
    if (style_ == Style::Bar) {
        BreakLine();
    } else {
        const double seconds = std::chrono::duration<double>(now_() - start_).count();
        char text[32];
        std::snprintf(text, sizeof text, "%.1f s", seconds);
        out_ << "Sent " << Bytes(static_cast<double>(sent_)) << " in " << text << " ("
             << Bytes(BytesPerSecond()) << "/s)\n"
             << std::flush;
    }
    finished_ = true;
}

}  // namespace tarvex::cli
