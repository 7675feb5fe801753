// A job file: what a production line runs, fixed by the engineer once and run as it stands by
// the operator (`tarvex-cli gang --job`, `station --job`), and shown read-only by the dialog.
//
//   Job                   the form's choices as the form had them when the job was made (every
//                         choice, not only those given: the settings file cannot change a job
//                         later), the container pinned by SHA-256 and size, and the line's
//                         settings (ports, report, retries, unit ids, repeats)
//   JobToJson(job)        the file's JSON, `format` first
//   ParseJob(text, ...)   a job from its JSON, or why not (the field that is wrong)
//   ReadJob / WriteJob    the same through a file; WriteJob replaces the file atomically
//   ContainerChange(job)  empty when the container on disk is the one pinned; else the refusal,
//                         naming both hashes
//   JobStamp              what every report record of a job's run carries: name and hash
//
// The job never holds a password: it comes at run time (the terminal, --password-file,
// TARVEX_PASSWORD), as it does for a download without a job.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tarvex::production {

// Raised whenever a reader of an older format could misread a newer file.
inline constexpr int kJobFormat = 1;

struct Job {
    int format = kJobFormat;
    std::string name;
    std::string workspace;  // absolute: where the form starts (Pxx, Vxx, DnldData.txt)

    // The form.
    std::string product;
    std::string bootloader;
    std::string firmware;
    bool usb = false;
    std::string container;  // absolute path
    std::string containerSha256;
    std::uint64_t containerSize = 0;
    std::string slaveId;
    std::string baud;
    std::string parity;
    std::string dataBits;
    std::string stopBits;
    // The two-wire line; a file without them has none (older files read as before).
    std::string echo = "None";  // the Echo list's text: None, Discard or Verify
    bool rs485 = false;
    std::vector<std::string> items;  // of "application", "bitmap", "font", "recipe"; may be empty

    // The line: empty or unset leaves the choice to the command line.
    std::vector<std::string> ports;
    std::optional<std::string> report;
    // Neither changes what is sent: a job run's command line may give others (see LineOptions).
    std::optional<int> retries;
    std::optional<std::string> unitIdFrom;  // as ParseUnitIdFrom takes it
    std::optional<bool> allowRepeat;
};

// The most --retries a line takes.
inline constexpr int kMaxRetries = 100;

struct JobStamp {
    std::string name;
    std::string sha256;
};

inline JobStamp StampOf(const Job& job) {
    return {job.name, job.containerSha256};
}

nlohmann::ordered_json JobToJson(const Job& job);
bool ParseJob(const std::string& text, Job& job, std::string& error);
bool ReadJob(const std::string& path, Job& job, std::string& error);
bool WriteJob(const std::string& path, const Job& job, std::string& error);

std::string ContainerChange(const Job& job);

// "application,recipe", or "none": the items as the download's --items takes them.
std::string ItemsText(const std::vector<std::string>& items);

}  // namespace tarvex::production
