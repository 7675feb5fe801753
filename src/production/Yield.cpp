#include "production/Yield.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

namespace tarvex::production {
namespace {

std::string Seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", s);
    return text;
}

std::string Percent(double share) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", share * 100);
    return text;
}

// "2026-12-08T21:44:12.123Z" as milliseconds since any fixed point; nothing for other text.
std::optional<double> SecondsOf(const nlohmann::json& time) {
    if (!time.is_string()) {
        return std::nullopt;
    }
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    if (std::sscanf(time.get<std::string>().c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &y, &mo, &d,
                    &h, &mi, &s, &ms) != 7) {
        return std::nullopt;
    }
    const std::chrono::sys_days day =
        std::chrono::year(y) / std::chrono::month(mo) / std::chrono::day(static_cast<unsigned>(d));
    return static_cast<double>(day.time_since_epoch().count()) * 86400.0 + h * 3600.0 + mi * 60.0 +
           s + ms / 1000.0;
}

std::string Field(const nlohmann::json& record, const char* name) {
    const auto found = record.find(name);
    return found != record.end() && found->is_string() ? found->get<std::string>() : "";
}

int IntField(const nlohmann::json& record, const char* name, int otherwise) {
    const auto found = record.find(name);
    return found != record.end() && found->is_number_integer() ? found->get<int>() : otherwise;
}

// What makes a line a record of this tool; empty when it is one.
std::string NotARecord(const nlohmann::json& record) {
    if (!record.is_object() || Field(record, "tool") != "tarvex-cli") {
        return "foreign: not a tarvex-cli record";
    }
    for (const char* name : {"port", "product", "firmware", "outcome"}) {
        if (!record.contains(name) || !record[name].is_string()) {
            return std::string("foreign: no \"") + name + "\"";
        }
    }
    if (!record.contains("exit_status") || !record["exit_status"].is_number_integer()) {
        return "foreign: no \"exit_status\"";
    }
    return {};
}

// A unit being gathered from its records.
struct OpenUnit {
    std::pair<std::string, std::string> group;
    bool passed = false;
    std::string outcome;
    int attempt = 1;
    std::optional<double> start;
    std::optional<double> end;
};

}  // namespace

void YieldTally::Add(bool passed, const std::string& outcome, int attempt, double seconds) {
    if (passed) {
        ++passed_;
        firstPass_ += attempt <= 1 ? 1 : 0;
    } else {
        ++failed_;
        ++failedBy_[outcome];
    }
    seconds_.push_back(seconds);
}

double YieldTally::FirstPassYield() const {
    return Units() == 0 ? 0.0 : static_cast<double>(firstPass_) / Units();
}

std::optional<double> YieldTally::MedianSeconds() const {
    if (seconds_.empty()) {
        return std::nullopt;
    }
    std::vector<double> sorted = seconds_;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

nlohmann::json YieldTally::Json() const {
    nlohmann::json j;
    j["units"] = Units();
    j["passed"] = passed_;
    j["failed"] = failed_;
    j["failed_by_outcome"] = failedBy_;
    j["first_pass"] = firstPass_;
    j["first_pass_yield"] = FirstPassYield();
    const std::optional<double> median = MedianSeconds();
    j["median_seconds"] = median ? nlohmann::json(*median) : nlohmann::json(nullptr);
    return j;
}

std::string YieldTally::Text() const {
    std::string text = "passed " + std::to_string(passed_) + ", failed " + std::to_string(failed_);
    if (!failedBy_.empty()) {
        std::string why;
        for (const auto& [outcome, n] : failedBy_) {
            why += (why.empty() ? "" : ", ") + outcome + " " + std::to_string(n);
        }
        text += " (" + why + ")";
    }
    if (Units() > 0) {
        text += "; first-pass yield " + Percent(FirstPassYield()) + " (" +
                std::to_string(firstPass_) + " of " + std::to_string(Units()) + ")";
    }
    if (const std::optional<double> median = MedianSeconds()) {
        text += "; median cycle time " + Seconds(*median);
    }
    return text;
}

ReportSummary SummarizeReports(const std::vector<std::string>& files) {
    ReportSummary summary;
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            summary.unreadable.push_back(file);
            continue;
        }
        // The unit still open on each host and port: a retry follows on the same port.
        std::map<std::pair<std::string, std::string>, OpenUnit> open;
        const auto close = [&summary](OpenUnit& unit) {
            const double seconds =
                unit.start && unit.end ? std::max(0.0, *unit.end - *unit.start) : 0.0;
            summary.groups[unit.group].Add(unit.passed, unit.outcome, unit.attempt, seconds);
        };
        int number = 0;
        for (std::string line; std::getline(in, line);) {
            ++number;
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (line.find_first_not_of(" \t") == std::string::npos) {
                continue;
            }
            const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
            if (record.is_discarded()) {
                ++summary.damaged;
                summary.skipped.push_back({file, number, "damaged: not JSON (torn or cut short)"});
                continue;
            }
            if (std::string why = NotARecord(record); !why.empty()) {
                ++summary.foreign;
                summary.skipped.push_back({file, number, std::move(why)});
                continue;
            }
            ++summary.records;
            const std::pair<std::string, std::string> where{Field(record, "host"),
                                                            Field(record, "port")};
            const int attempt = IntField(record, "attempt", 1);
            auto found = open.find(where);
            if (found != open.end() && attempt <= 1) {
                close(found->second);
                open.erase(found);
                found = open.end();
            }
            if (found == open.end()) {
                found = open.emplace(where, OpenUnit{}).first;
                found->second.start = SecondsOf(record.value("start", nlohmann::json()));
            }
            OpenUnit& unit = found->second;
            unit.group = {Field(record, "product"), Field(record, "firmware")};
            unit.passed = record["exit_status"].get<int>() == 0;
            unit.outcome = Field(record, "outcome");
            unit.attempt = attempt;
            unit.end = SecondsOf(record.value("end", nlohmann::json()));
            // A unit that passed, or had its last attempt, is whole.
            if (unit.passed || attempt >= IntField(record, "attempts", 1)) {
                close(unit);
                open.erase(found);
            }
        }
        for (auto& [where, unit] : open) {
            close(unit);
        }
    }
    return summary;
}

nlohmann::json SummaryJson(const ReportSummary& summary) {
    nlohmann::json groups = nlohmann::json::array();
    for (const auto& [key, tally] : summary.groups) {
        nlohmann::json g = tally.Json();
        g["product"] = key.first;
        g["firmware"] = key.second;
        groups.push_back(std::move(g));
    }
    nlohmann::json skipped = nlohmann::json::array();
    for (const SkippedLine& s : summary.skipped) {
        skipped.push_back({{"file", s.file}, {"line", s.line}, {"why", s.why}});
    }
    return {{"groups", groups},           {"records", summary.records},
            {"damaged", summary.damaged}, {"foreign", summary.foreign},
            {"skipped", skipped},         {"unreadable", summary.unreadable}};
}

std::string SummaryTable(const ReportSummary& summary) {
    std::size_t productWidth = 7, firmwareWidth = 8;
    for (const auto& [key, tally] : summary.groups) {
        productWidth = std::max(productWidth, key.first.size());
        firmwareWidth = std::max(firmwareWidth, key.second.size());
    }
    std::string out;
    char line[512];
    std::snprintf(line, sizeof line, "%-*s  %-*s  %6s  %6s  %6s  %10s  %8s\n",
                  static_cast<int>(productWidth), "PRODUCT", static_cast<int>(firmwareWidth),
                  "FIRMWARE", "UNITS", "PASSED", "FAILED", "FIRST-PASS", "MEDIAN");
    out += line;
    for (const auto& [key, tally] : summary.groups) {
        const std::optional<double> median = tally.MedianSeconds();
        std::snprintf(line, sizeof line, "%-*s  %-*s  %6d  %6d  %6d  %10s  %8s\n",
                      static_cast<int>(productWidth), key.first.c_str(),
                      static_cast<int>(firmwareWidth), key.second.c_str(), tally.Units(),
                      tally.Passed(), tally.Failed(), Percent(tally.FirstPassYield()).c_str(),
                      median ? Seconds(*median).c_str() : "-");
        out += line;
        for (const auto& [outcome, n] : tally.FailedBy()) {
            out += "    failed " + outcome + ": " + std::to_string(n) + "\n";
        }
    }
    out += std::to_string(summary.records) + " records";
    out += ", " + std::to_string(summary.damaged) + " damaged lines, " +
           std::to_string(summary.foreign) + " foreign lines\n";
    for (const SkippedLine& s : summary.skipped) {
        out += "  " + s.file + ":" + std::to_string(s.line) + ": " + s.why + "\n";
    }
    for (const std::string& file : summary.unreadable) {
        out += "  " + file + ": cannot be read\n";
    }
    return out;
}

}  // namespace tarvex::production
