// Which unit is which: an id for every panel a line loads (a serial number scanned from its
// label, or a number the line draws), and the options of a line that a job file fixes along
// with the form's.
//
//   LineOptions           retries, the report's path, where unit ids come from, whether an id
//                         that passed before may be loaded again
//   IUnitIdSource         where ids come from: standard input (a barcode scanner types a line),
//                         a counter, or a front end of its own (the dashboard: one id per
//                         port, typed or scanned into the port's tile)
//   CounterIds            PREFIX + a number counting up from START; the last number drawn is
//                         kept in a file in the report's folder, so the next run goes on from it
//   UnitIds               the source with the report's memory: an id that already passed in the
//                         report file is refused (unless repeats are allowed) and the next one
//                         is asked for
//   ParseUnitIdFrom(spec) "stdin", "dashboard" or "counter:PREFIX:START"; nothing for any other
//                         text
//   PassedIdsInReport     the unit ids of the records that passed in a report file (unreadable
//                         and foreign lines are passed over)
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace tarvex::production {

struct LineOptions {
    int retries = 0;                    // further attempts after no reply, a lost line, no port
    std::optional<std::string> report;  // the report file
    std::string unitIdFrom;             // empty: no unit ids; else as ParseUnitIdFrom takes it
    bool allowRepeat = false;           // load a unit whose id passed before in the report
};

class IUnitIdSource {
  public:
    virtual ~IUnitIdSource() = default;
    // The next unit's id for `port` if one is ready now; nothing yet otherwise. Called from a
    // port's thread (one port at a time); must return at once.
    virtual std::optional<std::string> Take(const std::string& port) = 0;
    // No id will come any more (the end of standard input): the ports stop.
    virtual bool Exhausted() const = 0;
    // An id comes once the operator has the unit in place (a label scanned): taking it is what
    // starts the next panel on a fixed port, no Enter needed.
    virtual bool IdMarksNextUnit() const { return false; }
    // Each port has ids of its own (a tile per port), so that ports wait for theirs side by
    // side; else the ids come in one sequence that the ports take in turn.
    virtual bool IdsPerPort() const { return false; }
    // Waits for the next id for `port`: nothing when the source is exhausted or `stop` says
    // so. `idle` runs while nothing is ready. This one asks Take about every 50 ms.
    virtual std::optional<std::string> Wait(const std::string& port,
                                            const std::function<bool()>& stop,
                                            const std::function<void()>& idle);
    // The id taken for `port` is not loaded (`why`: it has passed before); another is waited for.
    virtual void Refused(const std::string& /*port*/, const std::string& /*why*/) {}
};

struct UnitIdSpec {
    enum class Kind { Stdin, Counter, Dashboard } kind = Kind::Stdin;
    std::string prefix;
    std::uint64_t start = 1;
    std::size_t digits = 0;  // START's width when it has leading zeros ("0001"), else 0
};

std::optional<UnitIdSpec> ParseUnitIdFrom(const std::string& spec);

class CounterIds final : public IUnitIdSource {
  public:
    // `folder`: where the last number is kept (the report's folder).
    CounterIds(const UnitIdSpec& spec, std::string folder);

    std::optional<std::string> Take(const std::string& port) override;
    bool Exhausted() const override { return false; }
    // The file the last number is kept in.
    const std::string& StatePath() const { return statePath_; }
    // False with the reason when the last number could not be kept.
    bool Failed(std::string& why) const;

  private:
    UnitIdSpec spec_;
    std::string statePath_;
    std::uint64_t next_ = 0;
    std::string failure_;
    mutable std::mutex mutex_;
};

std::set<std::string> PassedIdsInReport(const std::string& reportPath);

class UnitIds {
  public:
    UnitIds(IUnitIdSource& source, bool allowRepeat) : source_(source), allowRepeat_(allowRepeat) {}

    // The ids that passed before (from the report file) are refused.
    void RememberPassed(std::set<std::string> ids);
    // Waits for the next id that may be loaded on `port`: `tell` gets each refusal, `idle` runs
    // while nothing is ready (about every 50 ms). Nothing when the source is exhausted or
    // `stop` says so. One port at a time waits, unless the source has ids per port.
    std::optional<std::string> Next(const std::string& port, const std::function<bool()>& stop,
                                    const std::function<void(const std::string&)>& tell,
                                    const std::function<void()>& idle = {});
    // The unit passed: its id is refused from now on.
    void Passed(const std::string& id);
    bool IdMarksNextUnit() const { return source_.IdMarksNextUnit(); }
    bool IdsPerPort() const { return source_.IdsPerPort(); }

  private:
    IUnitIdSource& source_;
    bool allowRepeat_;
    std::mutex mutex_;  // one port at a time takes an id
    std::mutex passedMutex_;
    std::set<std::string> passed_;
};

}  // namespace tarvex::production
