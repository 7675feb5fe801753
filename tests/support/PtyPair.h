// A pseudo-terminal pair for tests of the serial line: the code under test opens the slave side
// by its path, like any serial device; the test plays the device on the master side.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/UniqueFdPosix.h"

namespace tarvex::test {

using platform::UniqueFd;

// Reads from fd until count bytes arrived or the time-out passed. When the other end is gone
// (end of file or a read error), stops there and sets `ended` if given.
std::vector<std::uint8_t> ReadFor(int fd, std::size_t count, std::chrono::milliseconds timeout,
                                  bool* ended = nullptr);

class PtyPair {
  public:
    // Opens a pair in raw mode. The slave descriptor is closed again at once unless
    // keepSlaveOpen is set: while no one holds the slave, the master reads EIO, so tests that
    // write before the code under test opens the slave keep it open.
    explicit PtyPair(bool keepSlaveOpen = true);

    int master() const { return master_.get(); }
    const std::string& slavePath() const { return slavePath_; }
    void CloseSlave() { slave_.reset(); }
    void CloseMaster() { master_.reset(); }

    // Writes all bytes to the master side.
    void Write(const std::vector<std::uint8_t>& bytes);
    // Reads from the master side until count bytes arrived or the time-out passed.
    std::vector<std::uint8_t> Read(std::size_t count, std::chrono::milliseconds timeout);

  private:
    UniqueFd master_;
    UniqueFd slave_;
    std::string slavePath_;
};

}  // namespace tarvex::test
