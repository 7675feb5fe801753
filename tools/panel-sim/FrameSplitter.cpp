#include "panel-sim/FrameSplitter.h"

#include "panel-sim/Protocol.h"

namespace tarvex::panelsim {

void FrameSplitter::Append(std::span<const std::uint8_t> bytes) {
    // Consumed bytes are dropped only once they outweigh the rest, so a long stream of small
    // frames costs no repeated copying.
    if (start_ > 0 && start_ >= buffer_.size() - start_) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::span<const std::uint8_t> FrameSplitter::Pending() const {
    return std::span<const std::uint8_t>(buffer_).subspan(start_);
}

std::vector<std::uint8_t> FrameSplitter::Take(std::size_t count) {
    const auto pending = Pending();
    std::vector<std::uint8_t> out(pending.begin(),
                                  pending.begin() + static_cast<std::ptrdiff_t>(count));
    start_ += count;
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    return out;
}

std::size_t FrameSplitter::FrameLength(std::uint8_t letter) const {
    if (letter == kLetterFileInfo) {
        return kFileInfoFrameSize;
    }
    if (letter == kLetterData) {
        return kHeaderSize + packetSize_ + kCrcSize;
    }
    return kCommandFrameSize;
}

std::optional<SplitResult> FrameSplitter::Next(bool lineQuiet) {
    const auto pending = Pending();
    if (pending.empty()) {
        return std::nullopt;
    }
    if (pending.size() < 2) {
        if (!lineQuiet) {
            return std::nullopt;
        }
        return SplitResult{SplitKind::Garbage, Take(1)};
    }

    if (!IsRequestLetter(pending[1])) {
        // Drop up to the next byte that is followed by a command letter. The last byte stays
        // while the line is live: its letter may still be on the way.
        std::size_t drop = 1;
        while (drop + 1 < pending.size() && !IsRequestLetter(pending[drop + 1])) {
            ++drop;
        }
        if (drop + 1 == pending.size() && lineQuiet) {
            drop = pending.size();
        }
        return SplitResult{SplitKind::Garbage, Take(drop)};
    }

    const bool own = pending[0] == address_;
    const std::uint8_t letter = pending[1];
    std::size_t length = FrameLength(letter);
    bool matched = false;
    bool incomplete = false;

    if (letter == kLetterCommand) {
        if (pending.size() < kCommandFrameSize) {
            incomplete = true;
        } else if (FrameCrcMatches(pending.first(kCommandFrameSize))) {
            matched = true;
        } else if (pending.size() == kCommandFrameSize) {
            // Six bytes that do not check may still be a Download with its link byte.
            if (!lineQuiet) {
                return std::nullopt;
            }
        } else {
            length = kCommandFrameSize + 1;
            matched = FrameCrcMatches(pending.first(length));
        }
    } else if (pending.size() < length) {
        incomplete = true;
    } else {
        matched = FrameCrcMatches(pending.first(length));
    }

    if (matched) {
        return SplitResult{own ? SplitKind::Frame : SplitKind::ForeignFrame, Take(length)};
    }
    if (incomplete && !lineQuiet) {
        return std::nullopt;
    }
    if (!own) {
        return SplitResult{SplitKind::Garbage, Take(1)};
    }
    SplitResult result;
    result.kind = incomplete ? SplitKind::Truncated : SplitKind::BadCrc;
    const auto checked = pending.first(std::min(length, pending.size()));
    result.bytes.assign(checked.begin(), checked.end());
    Take(1);
    return result;
}

}  // namespace tarvex::panelsim
