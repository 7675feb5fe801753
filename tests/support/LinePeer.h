// The far end of a serial line for the line contract test: a small device that answers
// commands sent over the line itself, so that the same cases run against a pseudo-terminal
// played in this process (Linux) and against a Wine COM port whose far end is a process on the
// Linux side (tarvex-line-peer).
//
// Commands (sizes are two bytes, high byte first):
//   'E' size payload                    sends the payload back whole
//   'P' size pieces gapHi gapLo payload sends it back in `pieces` parts, gap ms apart
//   'F' size                            sends `size` filler bytes (kFiller) at once
//   'V'                                 closes its end of the line, as a pulled cable would
//   'W' kib                             takes the next `kib` KiB slowly (1 KiB every 2 ms,
//                                       so a large block waits for room) and answers with the
//                                       longest wait in ms (two bytes) when none was there
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvex::test {

namespace line_peer {

inline constexpr std::uint8_t kEcho = 'E';
inline constexpr std::uint8_t kPieces = 'P';
inline constexpr std::uint8_t kFlood = 'F';
inline constexpr std::uint8_t kVanish = 'V';
inline constexpr std::uint8_t kWatch = 'W';
inline constexpr std::uint8_t kFiller = 0xA5;

inline void AppendSize(std::vector<std::uint8_t>& out, std::size_t n) {
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(n & 0xFF));
}

inline std::vector<std::uint8_t> Echo(const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> out{kEcho};
    AppendSize(out, payload.size());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

inline std::vector<std::uint8_t> InPieces(const std::vector<std::uint8_t>& payload,
                                          std::uint8_t pieces, std::uint16_t gapMs) {
    std::vector<std::uint8_t> out{kPieces};
    AppendSize(out, payload.size());
    out.push_back(pieces);
    AppendSize(out, gapMs);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

inline std::vector<std::uint8_t> Flood(std::size_t size) {
    std::vector<std::uint8_t> out{kFlood};
    AppendSize(out, size);
    return out;
}

// The command alone: the `kib` KiB it watches follow it.
inline std::vector<std::uint8_t> Watch(std::size_t kib) {
    std::vector<std::uint8_t> out{kWatch};
    AppendSize(out, kib);
    return out;
}

inline std::vector<std::uint8_t> Vanish() {
    return {kVanish};
}

}  // namespace line_peer

// A peer for one test, serving the port PortName() names, until it is destroyed.
class LinePeer {
  public:
    virtual ~LinePeer() = default;
    virtual const std::string& PortName() const = 0;
};

// Linux: a fresh pseudo-terminal played by a thread of this process. Windows: the COM port
// named by TARVEX_TEST_LINE, played by tarvex-line-peer. None (and why, in `whyNot`) when
// there is no peer.
std::unique_ptr<LinePeer> StartLinePeer(std::string& whyNot);

}  // namespace tarvex::test
