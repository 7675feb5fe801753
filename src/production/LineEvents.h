// What a production line tells the world: one typed stream of events, one per thing that
// happened on a port, handed to every sink in the order the sinks were added.
//
//   StartEvent           a download begins on a port (the form's product, versions, container,
//                        the unit's id and attempt)
//   ItemEvent            an item starts: its kind, recipe name, bytes and packets
//   ProgressEvent        a packet was confirmed: the item's and the whole download's share
//   MessageEvent         a message box of the form, or (no box) a line of the line's own: a
//                        hint, a question answered by its default, a record that failed
//   ResultEvent          the download's end: outcome, exit status, the panel's code, the last
//                        message, the hint, the unit's id and attempt, and the facts a record
//                        of the unit needs
//   PortStateEvent       what a port waits for between downloads ("waiting for a panel")
//   PortAppearedEvent,   a station saw the port's device appear or go away
//   PortLeftEvent
//
// Sinks run on the thread that emits, which is a port's own thread while it downloads: a sink
// must return at once (take a lock, copy, write one line). A view that may stall (a client on
// the network) keeps a queue of its own and drops what it cannot take; the line never waits
// for it. Sinks are added before the line starts and stay until it has ended.
//
// A record sink (IRecordSink, the report file) sees each result before the other sinks do:
// when it cannot keep the record, the unit is no pass, and the result says so everywhere.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "download/SharedContainer.h"
#include "platform/UserInterface.h"
#include "serial/PortProbe.h"
#include "ui/TarvexDlg.h"

namespace tarvex::production {

using WallTime = std::chrono::system_clock::time_point;

// Which unit a download is for, and which of its attempts this is.
struct UnitTag {
    std::string unitId;  // empty when the line numbers no units
    int attempt = 1;     // from 1
    int attempts = 1;    // the most this unit may get: 1 + the retries
};

struct StartEvent {
    std::string port;
    WallTime time;
    std::string product;
    std::string bootloader;
    std::string firmware;
    std::string container;  // the File to Send field
    UnitTag unit;
};

struct ItemEvent {
    std::string port;
    WallTime time;
    std::string item;  // "Application", "Recipe", ...
    std::string name;  // a recipe's name; empty for the others
    std::uint64_t bytes = 0;
    std::uint32_t packets = 0;
};

struct ProgressEvent {
    std::string port;
    WallTime time;
    std::string item;
    std::string name;
    std::uint32_t packetsDone = 0;
    std::uint32_t packets = 0;
    std::uint64_t bytesDone = 0;         // of this item
    std::uint64_t bytesTotal = 0;        // of this item
    double rate = 0;                     // this item's bytes per second
    std::uint64_t unitBytesDone = 0;     // of every item so far
    std::uint64_t unitBytesPlanned = 0;  // of every ticked item; 0 while unknown
    double unitRate = 0;                 // since the download started
};

struct MessageEvent {
    std::string port;
    WallTime time;
    std::optional<MessageKind> box;  // none: a line of the line's own, in `text`
    std::string caption;
    std::string text;
};

struct RecordItem {
    std::string item;
    std::string name;
    std::uint64_t bytes = 0;
    int result = -1;  // 0 done, 1 failed or cancelled, -1 not ended
};

// What a record of the unit takes from the form and the port.
struct UnitFacts {
    WallTime started;
    WallTime ended;
    std::string port;  // as the record names it
    std::optional<PortInfo> adapter;
    std::string product;
    std::string bootloader;
    std::string firmware;
    int slaveId = 0;
    std::string containerPath;
    std::shared_ptr<const SharedContainer> sharedContainer;  // the checked one the form used
    std::vector<RecordItem> items;
};

struct ResultEvent {
    std::string port;
    WallTime time;
    DownloadOutcome outcome = DownloadOutcome::None;
    int exitStatus = 0;
    int panelCode = 0;    // 1..9, else 0
    std::string message;  // the form's last message, "Caption: text"
    std::string hint;     // what to check, after a failure on the line
    std::uint64_t bytesDone = 0;
    std::uint64_t resends = 0;
    double seconds = 0;
    UnitTag unit;
    bool again = false;  // the attempt may be retried and has attempts left: another follows
    UnitFacts facts;
};

struct PortStateEvent {
    std::string port;
    WallTime time;
    std::string state;
};

struct PortAppearedEvent {
    std::string port;
    WallTime time;
};

struct PortLeftEvent {
    std::string port;
    WallTime time;
};

using LineEvent = std::variant<StartEvent, ItemEvent, ProgressEvent, MessageEvent, ResultEvent,
                               PortStateEvent, PortAppearedEvent, PortLeftEvent>;

const std::string& PortOf(const LineEvent& event);

// "notice", "error", "plain": how a message was presented.
const char* MessageKindKey(MessageKind kind);
// "complete", "refused", "port_failed", "item_missing", "panel_code", "failed", "cancelled"
const char* OutcomeKey(DownloadOutcome outcome);

class IEventSink {
  public:
    virtual ~IEventSink() = default;
    virtual void OnEvent(const LineEvent& event) = 0;
};

class IRecordSink {
  public:
    virtual ~IRecordSink() = default;
    // Keeps the unit's record; false with a line that says why when it could not.
    virtual bool Keep(const ResultEvent& result, std::string& failure) = 0;
};

class EventStream {
  public:
    void Add(IEventSink* sink);
    void AddRecordSink(IRecordSink* sink);

    void Emit(const LineEvent& event) const;
    bool KeepsRecords() const { return !records_.empty(); }
    // Every record sink in turn; false with the first failure's line.
    bool Keep(const ResultEvent& result, std::string& failure) const;

  private:
    std::vector<IEventSink*> sinks_;
    std::vector<IRecordSink*> records_;
};

}  // namespace tarvex::production
