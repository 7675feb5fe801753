#include "app/cli/output/StatusBoard.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "app/cli/output/ProgressReporter.h"
#include "platform/Files.h"

namespace tarvex::cli {
namespace {

using production::PortStatus;

std::string Rate(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024 * 1024));
    } else {
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024);
    }
    return text;
}

int Percent(const PortStatus& s) {
    if (s.state == "passed") {
        return 100;  // the plan counts the last packets' padding, which carries no bytes
    }
    if (s.bytesPlanned == 0) {
        return 0;
    }
    return static_cast<int>(std::min<std::uint64_t>(100, s.bytesDone * 100 / s.bytesPlanned));
}

}  // namespace

StatusBoard::StatusBoard(std::vector<std::string> ports, const production::BoardState& state,
                         Style style, LineOutput& messages, bool counts)
    : ports_(std::move(ports)),
      state_(state),
      style_(style),
      messages_(messages),
      counts_(counts),
      lastLines_(ports_.size()),
      lastShown_(ports_.size()) {
    if (style_ == Style::Redraw) {
        messages_.SetBeforeWrite([this] { StepAsideLocked(); });
    }
}

StatusBoard::~StatusBoard() {
    messages_.SetBeforeWrite({});
}

std::string StatusBoard::Line(const std::string& port, const PortStatus& s, bool counts,
                              std::size_t columns) {
    char text[96];
    const bool running = s.state == "downloading";
    const bool hasPercent = running || s.state == "passed" || s.state == "failed";
    const std::string percent = hasPercent ? std::to_string(Percent(s)) + "%" : "";
    std::snprintf(text, sizeof text, "%4s  %12s  ", percent.c_str(),
                  running ? Rate(s.bytesPerSecond).c_str() : "");
    std::string rest = std::string("  ") + text + s.state;
    if (!s.item.empty() && running) {
        rest += " " + s.item;
    }
    if (!s.unitId.empty() && s.state.rfind("unit ", 0) != 0) {
        rest += "  unit " + s.unitId;
    }
    if (s.attempt > 1) {
        rest += "  attempt " + std::to_string(s.attempt) + "/" + std::to_string(s.attempts);
    }
    if (counts) {
        rest += "  (passed " + std::to_string(s.passed) + ", failed " + std::to_string(s.failed) +
                (s.cancelled > 0 ? ", cancelled " + std::to_string(s.cancelled) : "") + ")";
    }
    std::string name = port;
    if (columns > 0 && name.size() + rest.size() > columns) {
        // The port keeps at least 24 characters of its end, the part that tells adapters of
        // one make apart (serial number, interface); the line's end gives way after it.
        const std::size_t room =
            columns > rest.size() + 24 ? columns - rest.size() : std::min<std::size_t>(24, columns);
        if (name.size() > room) {
            name = "..." + name.substr(name.size() - (room - 3));
        }
    }
    std::string line = name + rest;
    if (columns > 0 && line.size() > columns) {
        line.resize(columns);
    }
    return line;
}

void StatusBoard::StepAsideLocked() {
    if (drawn_ > 0) {
        // Up to the board's first line and clear to the end of the screen.
        const std::string up = "\x1b[" + std::to_string(drawn_) + "F\x1b[J";
        (void)platform::WriteAll(STDOUT_FILENO, up);
        drawn_ = 0;
    }
}

void StatusBoard::DrawLocked() {
    const auto now = std::chrono::steady_clock::now();
    if (style_ == Style::Redraw) {
        std::string text = drawn_ > 0 ? "\x1b[" + std::to_string(drawn_) + "F" : "";
        // One column stays free: a line that fills the terminal wraps on some of them, and a
        // wrapped line would leave the cursor-up count short.
        const std::size_t columns =
            static_cast<std::size_t>(std::max(ProgressReporter::TerminalWidth() - 1, 20));
        for (const std::string& port : ports_) {
            text += "\x1b[2K" + Line(port, state_.Status(port), counts_, columns) + "\n";
        }
        (void)platform::WriteAll(STDOUT_FILENO, text);
        drawn_ = static_cast<int>(ports_.size());
        return;
    }
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        const PortStatus status = state_.Status(ports_[i]);
        // A line when the state or item changes or another tenth is done; at least every 5 s.
        const std::string key = status.state + "|" + status.item + "|" +
                                std::to_string(Percent(status) / 10) + "|" +
                                std::to_string(status.passed) + "|" + std::to_string(status.failed);
        const bool stale =
            status.state == "downloading" && now - lastShown_[i] >= std::chrono::seconds(5);
        if (key != lastLines_[i] || stale) {
            lastLines_[i] = key;
            lastShown_[i] = now;
            (void)platform::WriteAll(STDOUT_FILENO, Line(ports_[i], status, counts_) + "\n");
        }
    }
}

void StatusBoard::Update() {
    if (style_ == Style::None) {
        return;
    }
    const std::lock_guard<std::mutex> lock(messages_.Mutex());
    DrawLocked();
}

void StatusBoard::Finish() {
    Update();
    drawn_ = 0;  // the last drawing stays on the screen
}

}  // namespace tarvex::cli
