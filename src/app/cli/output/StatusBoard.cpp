#include "app/cli/output/StatusBoard.h"

#include <unistd.h>

#include <cstdio>

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

std::string StatusBoard::Line(const std::string& port, const PortStatus& s, bool counts) {
    char text[96];
    std::snprintf(text, sizeof text, "%3d%%  %12s  ", Percent(s), Rate(s.bytesPerSecond).c_str());
    std::string line = port + "  " + text + s.state;
    if (!s.item.empty() && s.state == "downloading") {
        line += " " + s.item;
    }
    if (!s.unitId.empty() && s.state.rfind("unit ", 0) != 0) {
        line += "  unit " + s.unitId;
    }
    if (s.attempt > 1) {
        line += "  attempt " + std::to_string(s.attempt) + "/" + std::to_string(s.attempts);
    }
    if (counts) {
        line +=
            "  (passed " + std::to_string(s.passed) + ", failed " + std::to_string(s.failed) + ")";
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
        for (const std::string& port : ports_) {
            text += "\x1b[2K" + Line(port, state_.Status(port), counts_) + "\n";
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
