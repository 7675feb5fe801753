#include "app/cli/console/StdinUnitIds.h"

#include <iostream>
#include <memory>
#include <thread>

#include "platform/Text.h"

namespace tarvex::cli {

StdinUnitIds::StdinUnitIds() {
    std::thread([lines = lines_] {
        for (std::string line; std::getline(std::cin, line);) {
            const std::string id(TrimWhitespace(line));
            if (!id.empty()) {
                const std::lock_guard<std::mutex> lock(lines->mutex);
                lines->ready.push_back(id);
            }
        }
        const std::lock_guard<std::mutex> lock(lines->mutex);
        lines->ended = true;
    }).detach();
}

std::optional<std::string> StdinUnitIds::Take(const std::string& /*port*/) {
    const std::lock_guard<std::mutex> lock(lines_->mutex);
    if (lines_->ready.empty()) {
        return std::nullopt;
    }
    std::string id = std::move(lines_->ready.front());
    lines_->ready.pop_front();
    return id;
}

bool StdinUnitIds::Exhausted() const {
    const std::lock_guard<std::mutex> lock(lines_->mutex);
    return lines_->ended && lines_->ready.empty();
}

}  // namespace tarvex::cli
