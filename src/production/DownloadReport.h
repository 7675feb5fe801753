// --report FILE: one JSON line appended per panel, a traceable record of what went into which
// unit.
//
//   ReportSink         the record sink of the line: builds each unit's record from its result
//                      (times, host, port and adapter, product and versions, slave ID, the
//                      container's path, size, SHA-256 and stored checksums, the items,
//                      outcome, exit status, the panel's code and message, resends, the tool's
//                      version; never a password) and appends it
//   AppendLine(...)    O_APPEND, the whole line in one write(), then fsync: several processes
//                      may append to one file at once and no line is lost or torn
//                      (with the job's name and container hash when a job runs)
//   DescribeDevice     what the system knows of a device (USB ids, serial number), without
//                      opening it
#pragma once

#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "download/SharedContainer.h"
#include "production/JobFile.h"
#include "production/LineEvents.h"
#include "serial/PortProbe.h"

namespace tarvex::production {

// Appends line (a newline is added) to path. False, with the reason, when it could not be
// written completely and synced.
bool AppendLine(const std::string& path, const std::string& line, std::string& error);

class ReportSink final : public IRecordSink {
  public:
    explicit ReportSink(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    // Set before the line starts.
    void SetJob(JobStamp job) { job_ = std::move(job); }
    nlohmann::json Record(const ResultEvent& result);
    bool Keep(const ResultEvent& result, std::string& failure) override;

  private:
    std::string Digest(const UnitFacts& facts);

    std::string path_;
    std::optional<JobStamp> job_;
    std::mutex mutex_;  // the digests of the shared containers, computed once each
    std::vector<std::pair<std::weak_ptr<const SharedContainer>, std::string>> digests_;
};

std::optional<PortInfo> DescribeDevice(const ProbeOptions& probe, const std::string& devicePath);

// "2026-12-08T21:44:12.123Z"
std::string IsoTimeUtc(std::chrono::system_clock::time_point when);

}  // namespace tarvex::production
