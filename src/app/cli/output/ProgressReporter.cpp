#include "app/cli/output/ProgressReporter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <vector>

#include "app/cli/console/Console.h"

namespace tarvex::cli {
namespace {

constexpr int kMinBarWidth = 10;
constexpr int kMaxBarWidth = 40;

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

std::string ItemLabel(const TransferItem& item) {
    std::string label(TransferItemLabel(item.kind));
    if (!item.name.empty()) {
        label += " \"";
        for (const char c : item.name) {
            // A recipe name is bytes from a file: nothing that moves the cursor.
            label.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
        }
        label += "\"";
    }
    return label;
}

}  // namespace

int ProgressReporter::TerminalWidth() {
    if (const int columns = ConsoleColumns(); columns > 0) {
        return columns;
    }
    if (const char* columns = std::getenv("COLUMNS");
        columns != nullptr && std::atoi(columns) > 0) {
        return std::atoi(columns);
    }
    return 80;
}

ProgressReporter::ProgressReporter(std::ostream& out, Style style, Now now, Width width)
    : out_(out), style_(style), now_(std::move(now)), width_(std::move(width)) {}

void ProgressReporter::Start() {
    if (!started_) {
        started_ = true;
        start_ = now_();
        if (planner_) {
            planned_ = planner_();
        }
    }
}

void ProgressReporter::EndPause() {
    if (paused_) {
        pausedTotal_ += now_() - pauseStart_;
        paused_ = false;
    }
}

void ProgressReporter::OnItemStarted(const TransferItem& item) {
    Start();
    EndPause();
    before_ += itemDone_;
    itemDone_ = 0;
    itemBytes_ = item.bytes;
    itemLabel_ = ItemLabel(item);
    Update(false);
}

void ProgressReporter::OnPhase(TransferPhase phase) {
    Start();
    if (phase == TransferPhase::Erasing) {
        if (!paused_) {
            paused_ = true;
            pauseStart_ = now_();
        }
    } else {
        EndPause();
    }
}

void ProgressReporter::OnDescribeWaitOver() {
    EndPause();
}

void ProgressReporter::OnPacketSent(std::uint32_t /*packetsDone*/, std::uint64_t bytesDone) {
    Start();
    EndPause();
    itemDone_ = bytesDone;
    Update(false);
}

int ProgressReporter::Percent() const {
    if (planned_ > 0) {
        return static_cast<int>(std::min<std::uint64_t>(100, BytesSent() * 100 / planned_));
    }
    if (itemBytes_ > 0) {
        return static_cast<int>(std::min<std::uint64_t>(100, itemDone_ * 100 / itemBytes_));
    }
    return -1;
}

double ProgressReporter::ActiveSeconds() const {
    Clock::duration active = now_() - start_ - pausedTotal_;
    if (paused_) {
        active -= now_() - pauseStart_;
    }
    return std::chrono::duration<double>(active).count();
}

double ProgressReporter::BytesPerSecond() const {
    const double seconds = ActiveSeconds();
    return seconds > 0.0 ? static_cast<double>(BytesSent()) / seconds : 0.0;
}

std::string ProgressReporter::PlainLine() const {
    const int percent = Percent();
    const double speed = BytesPerSecond();
    const std::uint64_t sent = BytesSent();
    std::string text = "Sent";
    if (percent >= 0) {
        text += " " + std::to_string(percent) + "%";
    }
    text += (percent >= 0 ? " (" : " ") + Bytes(static_cast<double>(sent));
    if (planned_ > 0) {
        text += " of " + Bytes(static_cast<double>(planned_));
    }
    if (percent >= 0) {
        text += ")";
    }
    text += ", " + Bytes(speed) + "/s";
    if (planned_ > 0 && speed > 0.0 && sent < planned_) {
        text += ", " + Duration(static_cast<double>(planned_ - sent) / speed) + " left";
    }
    if (!itemLabel_.empty()) {
        text += ", " + std::string(paused_ ? "the panel erases for " : "sending ") + itemLabel_;
    }
    return text;
}

std::string ProgressReporter::BarLine() const {
    const int percent = Percent();
    const double speed = BytesPerSecond();
    const std::uint64_t sent = BytesSent();
    char pct[16];
    std::snprintf(pct, sizeof pct, "%3d%%", std::max(percent, 0));
    std::string amount = Bytes(static_cast<double>(sent));
    if (planned_ > 0) {
        amount += " of " + Bytes(static_cast<double>(planned_));
    }
    // Parts in the order they give way when the terminal is narrow: the last goes first.
    std::vector<std::string> tail = {pct, amount, paused_ ? "erasing" : Bytes(speed) + "/s"};
    if (planned_ > 0 && speed > 0.0 && sent < planned_ && !paused_) {
        tail.push_back(Duration(static_cast<double>(planned_ - sent) / speed) + " left");
    }
    // One column stays free: a line that fills the terminal wraps on some of them.
    const int columns = std::max(width_() - 1, 20);
    std::string label = itemLabel_;
    const auto length = [&](int bar) {
        std::size_t n = (label.empty() ? 0 : label.size() + 1) + static_cast<std::size_t>(bar) + 2;
        for (const std::string& t : tail) {
            n += t.size() + 2;
        }
        return static_cast<int>(n);
    };
    while (tail.size() > 1 && length(kMinBarWidth) > columns) {
        tail.pop_back();
    }
    if (length(kMinBarWidth) > columns && !label.empty()) {
        const int room = columns - (length(kMinBarWidth) - static_cast<int>(label.size()));
        label =
            room > 3 ? label.substr(0, static_cast<std::size_t>(room - 3)) + "..." : std::string();
    }
    const int barWidth = std::clamp(columns - (length(0)), kMinBarWidth, kMaxBarWidth);
    const int filled = percent < 0 ? 0 : percent * barWidth / 100;
    std::string text = label.empty() ? std::string() : label + " ";
    text += "[" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(barWidth - filled), '-') + "]";
    for (const std::string& t : tail) {
        text += "  " + t;
    }
    return text;
}

void ProgressReporter::Update(bool force) {
    if (style_ == Style::None || finished_ || !started_) {
        return;
    }
    const Clock::time_point now = now_();
    if (style_ == Style::Bar) {
        if (!force && lineOpen_ && now - lastShown_ < kBarInterval) {
            return;
        }
        // Back to the start of the line, and away with what a longer text left behind.
        std::string text = BarLine();
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
        out_ << PlainLine() << '\n' << std::flush;
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
    EndPause();
    if (style_ == Style::Bar) {
        BreakLine();
    } else {
        const double seconds = std::chrono::duration<double>(now_() - start_).count();
        char text[32];
        std::snprintf(text, sizeof text, "%.1f s", seconds);
        out_ << "Sent " << Bytes(static_cast<double>(BytesSent())) << " in " << text << " ("
             << Bytes(BytesPerSecond()) << "/s)\n"
             << std::flush;
    }
    finished_ = true;
}

}  // namespace tarvex::cli
