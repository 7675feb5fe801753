// The simulated panel's frame splitter on an arbitrary byte stream, fed in pieces of arbitrary
// size with the line going quiet at arbitrary moments, and the packet size taken from every
// file-information frame as the panel takes it. Every byte that goes in comes out exactly once,
// as a frame or as a discard, and nothing stays behind once the line is quiet.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "FuzzSupport.h"
#include "panel-sim/FrameSplitter.h"
#include "panel-sim/Protocol.h"

namespace {

using namespace tarvex;
using namespace tarvex::panelsim;

struct Tally {
    std::size_t in = 0;
    std::size_t out = 0;  // bytes that left the splitter for good
};

void Drain(FrameSplitter& splitter, std::uint8_t address, bool lineQuiet, Tally& tally) {
    // Every result takes at least one byte, so this ends after at most `buffered` rounds.
    const std::size_t limit = splitter.buffered() + 1;
    for (std::size_t round = 0;; ++round) {
        fuzz::Require(round <= limit, "the splitter makes no progress");
        const std::size_t before = splitter.buffered();
        const std::optional<SplitResult> result = splitter.Next(lineQuiet);
        if (!result) {
            fuzz::Require(!lineQuiet || before == 0, "bytes left waiting on a quiet line");
            return;
        }
        const std::size_t taken = before - splitter.buffered();
        fuzz::Require(taken > 0, "a result that takes no byte");
        tally.out += taken;
        switch (result->kind) {
            case SplitKind::Frame:
            case SplitKind::ForeignFrame:
                fuzz::Require(taken == result->bytes.size(), "a frame of another length");
                fuzz::Require(FrameCrcMatches(result->bytes), "a frame whose CRC does not check");
                fuzz::Require((result->bytes[0] == address) == (result->kind == SplitKind::Frame),
                              "a frame sorted to the wrong panel");
                if (result->kind == SplitKind::Frame && result->bytes[1] == kLetterFileInfo) {
                    const FileInfo info =
                        ParseFileInfo(std::span<const std::uint8_t, kFileInfoSize>(
                            result->bytes.data() + kHeaderSize, kFileInfoSize));
                    splitter.SetPacketSize(info.packetSize);
                }
                break;
            case SplitKind::BadCrc:
            case SplitKind::Truncated:
                fuzz::Require(taken == 1 && !result->bytes.empty() && result->bytes[0] == address,
                              "a bad start dropped wrongly");
                break;
            case SplitKind::Garbage:
                fuzz::Require(taken == result->bytes.size(), "garbage of another length");
                break;
        }
    }
}

}  // namespace

// Input layout: address, packet size (LE16, up to 1024), then pieces of the stream, each a
// header byte (bits 0..6: length - 1; bit 7: the line goes quiet after it) and its bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteReader input(data, size);
    const std::uint8_t address = input.Byte();
    FrameSplitter splitter(address);
    splitter.SetPacketSize(static_cast<std::uint16_t>(input.Le16() % 1025));
    Tally tally;
    while (!input.empty()) {
        const std::uint8_t header = input.Byte();
        const std::vector<std::uint8_t> bytes = input.Bytes((header & 0x7FU) + 1U);
        splitter.Append(bytes);
        tally.in += bytes.size();
        Drain(splitter, address, (header & 0x80U) != 0, tally);
        fuzz::Require(tally.in == tally.out + splitter.buffered(), "bytes lost or made up");
    }
    Drain(splitter, address, true, tally);
    fuzz::Require(splitter.buffered() == 0 && tally.in == tally.out, "bytes left at the end");
    return 0;
}
