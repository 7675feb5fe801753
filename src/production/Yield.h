// How a line did: the units that passed, the ones that failed and why, the share that passed
// on their first attempt, and the median cycle time. The gang's and the station's summaries
// count their run; `tarvex-cli report summary` counts the records of report files.
//
//   YieldTally            the counts of one set of units (each counted once, by its last attempt)
//   SummarizeReports(files)  the units of report files per product and firmware; a unit's
//                         attempts are its records on one host and port, the first with
//                         attempt 1; lines that are no record (torn, not JSON, another
//                         program's) are counted and named, never fatal
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvex::production {

class YieldTally {
  public:
    // One unit: passed or not, the outcome key of its last attempt, the attempt it ended on,
    // the seconds from its first attempt's start to its last one's end.
    void Add(bool passed, const std::string& outcome, int attempt, double seconds);

    int Units() const { return passed_ + failed_; }
    int Passed() const { return passed_; }
    int Failed() const { return failed_; }
    int FirstPass() const { return firstPass_; }
    const std::map<std::string, int>& FailedBy() const { return failedBy_; }
    // firstPass / units, 0 for no unit.
    double FirstPassYield() const;
    std::optional<double> MedianSeconds() const;

    // {"units", "passed", "failed", "failed_by_outcome", "first_pass", "first_pass_yield",
    //  "median_seconds"}
    nlohmann::json Json() const;
    // "passed 3, failed 1 (panel_code 1); first-pass yield 75.0 % (3 of 4); median cycle
    // time 2.1 s"
    std::string Text() const;

  private:
    int passed_ = 0;
    int failed_ = 0;
    int firstPass_ = 0;
    std::map<std::string, int> failedBy_;
    std::vector<double> seconds_;
};

struct SkippedLine {
    std::string file;
    int line = 0;     // from 1
    std::string why;  // "damaged: not JSON", "foreign: not a tarvex-cli record", ...
};

struct ReportSummary {
    // (product, firmware) -> the units loaded with it
    std::map<std::pair<std::string, std::string>, YieldTally> groups;
    int records = 0;
    int damaged = 0;  // not JSON, or cut short
    int foreign = 0;  // JSON, but not a record of this tool
    std::vector<SkippedLine> skipped;
    std::vector<std::string> unreadable;  // files that could not be opened
};

ReportSummary SummarizeReports(const std::vector<std::string>& files);

nlohmann::json SummaryJson(const ReportSummary& summary);
// A table: PRODUCT FIRMWARE UNITS PASSED FAILED FIRST-PASS MEDIAN, the failures by outcome
// under each group, then the lines passed over with their file and line number.
std::string SummaryTable(const ReportSummary& summary);

}  // namespace tarvex::production
