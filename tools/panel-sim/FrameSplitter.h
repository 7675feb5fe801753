// Cuts the byte stream that arrives from the tool into request frames.
//
// Nothing on the line marks where a frame ends: the length follows from the command letter
// (R: 54 bytes, P: 6 + the packet size of the last file-information block) except for Q, which
// is 6 bytes, or 7 when a Download command carries the link byte. The CRC decides: a Q frame
// whose first 6 bytes check is 6 bytes long; otherwise the 7th byte is awaited and checked.
// A start that does not check is given up one byte at a time, so the splitter finds the next
// frame behind any noise.
//
// A candidate that waits for more bytes holds up everything behind it; when the line has been
// quiet for a while the caller says so (lineQuiet), and whatever cannot complete is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tarvex::panelsim {

enum class SplitKind {
    Frame,         // a whole frame for this panel, CRC good
    ForeignFrame,  // a whole frame for another address, CRC good: a panel ignores it
    BadCrc,        // a frame start for this panel whose CRC does not check: first byte dropped
    Truncated,     // a frame start for this panel cut short by a quiet line: first byte dropped
    Garbage,       // bytes that start no frame: dropped
};

struct SplitResult {
    SplitKind kind = SplitKind::Garbage;
    // The frame (Frame, ForeignFrame), the candidate bytes that were checked (BadCrc,
    // Truncated), or the dropped bytes (Garbage).
    std::vector<std::uint8_t> bytes;
};

class FrameSplitter {
  public:
    explicit FrameSplitter(std::uint8_t address) : address_(address) {}

    // Payload size of data frames, taken from the last file-information block.
    void SetPacketSize(std::uint16_t size) { packetSize_ = size; }
    std::uint16_t packetSize() const { return packetSize_; }

    void Append(std::span<const std::uint8_t> bytes);
    std::size_t buffered() const { return buffer_.size() - start_; }

    // The next frame or discard, or nothing when the buffered bytes need more to decide.
    // With lineQuiet no more bytes are expected, so nothing is left waiting.
    std::optional<SplitResult> Next(bool lineQuiet);

  private:
    std::span<const std::uint8_t> Pending() const;
    std::vector<std::uint8_t> Take(std::size_t count);
    std::size_t FrameLength(std::uint8_t letter) const;

    std::uint8_t address_;
    std::uint16_t packetSize_ = 0;
    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0;
};

}  // namespace tarvex::panelsim
