// The panel's side of the loader protocol, without any I/O: bytes go in, and for each request
// frame out comes what the panel does about it (the reply, how long it thinks first, faults).
//
// One item is announced by a Download command (Q), described by its file-information block (R)
// and carried by numbered data packets (P). An Over command ends a session; a new Download
// starts the next one. Cancel abandons the current item. Resent frames are harmless: the same
// Download before the description, the same description, or the same packet number again leave
// the item as one more copy would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "panel-sim/FaultPlan.h"
#include "panel-sim/FrameSplitter.h"
#include "panel-sim/Protocol.h"

namespace tarvex::panelsim {

struct PanelConfig {
    std::uint8_t address = 1;
    std::optional<std::uint16_t> productCode;  // none: any product code is accepted
    std::optional<std::uint16_t> password;     // none: any password is accepted
    std::optional<std::uint32_t> maxItemSize;  // none: no limit
    std::uint32_t replyDelayMs = 0;
    std::uint32_t infoDelayMs = 0;  // flash erase before answering bitmap and font blocks
};

// One item as the panel received it.
struct ItemRecord {
    std::size_t index = 0;    // 1, 2, ... in order of arrival
    std::size_t session = 0;  // 1 for the items before the first Over, and so on
    std::uint8_t itemCode = 0;
    std::optional<std::uint8_t> linkByte;
    bool described = false;                  // a file-information block was accepted
    std::optional<std::uint8_t> infoStatus;  // status of the last answered block
    FileInfo info;
    std::vector<std::uint8_t> data;  // received bytes, never beyond the item's size
    std::vector<bool> seen;          // packets received, by number; grows as they come
    std::optional<std::uint64_t> lastPacket;
    std::uint64_t packetsReceived = 0;
    bool complete = false;
    bool cancelled = false;
    bool ended = false;  // a later command closed the item

    std::string Kind() const { return ItemKindName(itemCode); }
    // "01-application-NAME": the stem of the item's files in the output folder.
    std::string FileStem() const;
    std::uint16_t ReceivedByteSum() const { return ByteSum16(data); }
    bool ByteSumOk() const { return complete && ReceivedByteSum() == info.byteSum; }
};

struct SessionStats {
    std::uint64_t framesReceived = 0;  // frames for this panel with a good CRC
    std::uint64_t repliesSent = 0;
    std::uint64_t badCrcFrames = 0;
    std::uint64_t truncatedFrames = 0;
    std::uint64_t ignoredFrames = 0;  // good frames for other addresses
    std::uint64_t garbageBytes = 0;
    std::uint64_t faultsInjected = 0;
    std::uint64_t sessionsOver = 0;
    bool overReceived = false;
};

// What the panel does after one step of splitting the input.
struct Step {
    SplitKind kind = SplitKind::Garbage;
    std::vector<std::uint8_t> bytes;  // the frame, or the bytes given up

    // The rest concerns frames for this panel (kind Frame).
    std::uint64_t frameNumber = 0;
    std::uint8_t status = kStatusAccepted;
    std::optional<Reply> reply;  // none: the panel stays silent
    std::uint32_t delayMs = 0;   // thinking time before the reply
    bool closeLine = false;      // drop the line instead of answering
    bool endsSession = false;    // an accepted Over whose reply goes out intact
    std::vector<FiredFault> faults;
    std::vector<std::size_t> itemsToWrite;  // item indices whose files changed
    bool reportChanged = false;
};

class PanelSession {
  public:
    explicit PanelSession(PanelConfig config, FaultPlan faults = {});

    void Receive(std::span<const std::uint8_t> bytes) { splitter_.Append(bytes); }
    bool HasPartialFrame() const { return splitter_.buffered() > 0; }

    // Handles the next frame or discard in the buffered input; nothing when the input needs
    // more bytes. lineQuiet: no more bytes are coming soon, so incomplete starts are dropped.
    std::optional<Step> Next(bool lineQuiet);

    void NoteReplySent() { ++stats_.repliesSent; }

    // Closes the item in progress, as at the end of the panel's life; returns the indices of
    // items whose files changed.
    std::vector<std::size_t> Finish();

    const std::vector<ItemRecord>& items() const { return items_; }
    const ItemRecord& item(std::size_t index) const { return items_.at(index - 1); }
    const SessionStats& stats() const { return stats_; }
    const PanelConfig& config() const { return config_; }

  private:
    struct Decision {
        std::uint8_t status = kStatusAccepted;
        std::uint32_t delayMs = 0;
        bool endsSession = false;
    };

    Step HandleFrame(std::vector<std::uint8_t> frame);
    FrameFacts FactsOf(std::span<const std::uint8_t> frame, std::uint64_t number) const;
    Decision Process(std::span<const std::uint8_t> frame, Step& step);
    Decision ProcessCommand(std::span<const std::uint8_t> frame, Step& step);
    Decision ProcessFileInfo(std::span<const std::uint8_t> frame, Step& step);
    Decision ProcessData(std::span<const std::uint8_t> frame, Step& step);
    void EndCurrent(Step& step);
    ItemRecord* Current();

    PanelConfig config_;
    FaultPlan faults_;
    FrameSplitter splitter_;
    std::vector<ItemRecord> items_;
    SessionStats stats_;
    std::size_t sessionNumber_ = 1;
    bool overSeen_ = false;  // the last command was an accepted Over
};

// Maps a 16-bit packet number from the wire to the packet it means: packets past 65535 are
// numbered modulo 65536, so the one nearest to the packet after `last` is taken.
std::optional<std::uint64_t> ResolvePacketNumber(std::uint16_t wire,
                                                 std::optional<std::uint64_t> last,
                                                 std::uint64_t packetCount);

}  // namespace tarvex::panelsim
