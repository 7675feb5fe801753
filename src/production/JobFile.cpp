#include "production/JobFile.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>

#include "download/Sha256.h"
#include "platform/Files.h"
#include "production/UnitIds.h"

namespace tarvex::production {
namespace {

constexpr std::array<std::string_view, 4> kItems = {"application", "bitmap", "font", "recipe"};
// A job file is a few hundred bytes; anything near this is not one.
constexpr std::uint64_t kMaxJobBytes = 1 << 20;

using Json = nlohmann::json;

// Reads one field; false with `error` naming it when it has the wrong type. A missing optional
// field leaves `out` alone.
class Fields {
  public:
    Fields(const Json& object, std::string& error) : object_(object), error_(error) {}

    bool Text(const char* key, std::string& out, bool required) {
        if (!object_.contains(key)) {
            return Missing(key, required);
        }
        const Json& v = object_[key];
        if (!v.is_string()) {
            return Fail(std::string("\"") + key + "\" is not a string");
        }
        out = v.get<std::string>();
        return true;
    }
    bool Texts(const char* key, std::vector<std::string>& out, bool required) {
        if (!object_.contains(key)) {
            return Missing(key, required);
        }
        const Json& v = object_[key];
        if (!v.is_array() ||
            !std::all_of(v.begin(), v.end(), [](const Json& e) { return e.is_string(); })) {
            return Fail(std::string("\"") + key + "\" is not a list of strings");
        }
        out = v.get<std::vector<std::string>>();
        return true;
    }
    const Json* Object(const char* key) {
        if (!object_.contains(key)) {
            Missing(key, true);
            return nullptr;
        }
        if (!object_[key].is_object()) {
            Fail(std::string("\"") + key + "\" is not an object");
            return nullptr;
        }
        return &object_[key];
    }
    bool Fail(std::string why) {
        if (error_.empty()) {
            error_ = std::move(why);
        }
        return false;
    }

  private:
    bool Missing(const char* key, bool required) {
        return required ? Fail(std::string("no \"") + key + "\"") : true;
    }

    const Json& object_;
    std::string& error_;
};

// A field this reader does not know would be ignored, and a misspelt one silently changes
// nothing: both are refused.
bool OnlyKnown(const Json& object, std::initializer_list<std::string_view> known,
               std::string_view where, std::string& error) {
    for (const auto& [key, value] : object.items()) {
        (void)value;
        if (std::find(known.begin(), known.end(), key) == known.end()) {
            error = "unknown field \"" + key + "\"" +
                    (where.empty() ? std::string() : " in \"" + std::string(where) + "\"");
            return false;
        }
    }
    return true;
}

bool IsSha256(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

}  // namespace

std::string ItemsText(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ",") + item;
    }
    return text.empty() ? "none" : text;
}

nlohmann::ordered_json JobToJson(const Job& job) {
    nlohmann::ordered_json j;
    j["format"] = job.format;
    j["name"] = job.name;
    j["workspace"] = job.workspace;
    nlohmann::ordered_json form;
    form["product"] = job.product;
    form["bootloader"] = job.bootloader;
    form["firmware"] = job.firmware;
    form["transfer"] = job.usb ? "usb" : "serial";
    form["slave_id"] = job.slaveId;
    form["baud"] = job.baud;
    form["parity"] = job.parity;
    form["data_bits"] = job.dataBits;
    form["stop_bits"] = job.stopBits;
    form["echo"] = job.echo;
    form["rs485"] = job.rs485;
    form["items"] = job.items;
    j["form"] = form;
    j["container"] = {
        {"path", job.container}, {"sha256", job.containerSha256}, {"size", job.containerSize}};
    nlohmann::ordered_json line;
    line["ports"] = job.ports;
    line["report"] = job.report ? nlohmann::ordered_json(*job.report) : nullptr;
    line["retries"] = job.retries ? nlohmann::ordered_json(*job.retries) : nullptr;
    line["unit_id_from"] = job.unitIdFrom ? nlohmann::ordered_json(*job.unitIdFrom) : nullptr;
    line["allow_repeat"] = job.allowRepeat ? nlohmann::ordered_json(*job.allowRepeat) : nullptr;
    j["line"] = line;
    return j;
}

bool ParseJob(const std::string& text, Job& job, std::string& error) {
    error.clear();
    const Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        error = "not a JSON object";
        return false;
    }
    if (!j.contains("format") || !j["format"].is_number_integer()) {
        error = "no \"format\" number";
        return false;
    }
    job = Job{};
    job.format = j["format"].get<int>();
    if (job.format != kJobFormat) {
        error = "format " + std::to_string(job.format) + " (this tarvex-cli reads format " +
                std::to_string(kJobFormat) + ")";
        return false;
    }
    if (!OnlyKnown(j, {"format", "name", "workspace", "form", "container", "line"}, "", error)) {
        return false;
    }
    Fields top(j, error);
    top.Text("name", job.name, true);
    top.Text("workspace", job.workspace, true);
    if (const Json* form = top.Object("form")) {
        if (!OnlyKnown(*form,
                       {"product", "bootloader", "firmware", "transfer", "slave_id", "baud",
                        "parity", "data_bits", "stop_bits", "echo", "rs485", "items"},
                       "form", error)) {
            return false;
        }
        Fields f(*form, error);
        f.Text("product", job.product, true);
        f.Text("bootloader", job.bootloader, true);
        f.Text("firmware", job.firmware, true);
        std::string transfer;
        if (f.Text("transfer", transfer, true)) {
            if (transfer != "serial" && transfer != "usb") {
                f.Fail("\"transfer\" is neither \"serial\" nor \"usb\"");
            }
            job.usb = transfer == "usb";
        }
        f.Text("slave_id", job.slaveId, true);
        f.Text("baud", job.baud, true);
        f.Text("parity", job.parity, true);
        f.Text("data_bits", job.dataBits, true);
        f.Text("stop_bits", job.stopBits, true);
        if (f.Text("echo", job.echo, false) && job.echo != "None" && job.echo != "Discard" &&
            job.echo != "Verify") {
            f.Fail("\"echo\" is none of \"None\", \"Discard\" and \"Verify\"");
        }
        if (form->contains("rs485")) {
            if (!(*form)["rs485"].is_boolean()) {
                f.Fail("\"rs485\" is not true or false");
            } else {
                job.rs485 = (*form)["rs485"].get<bool>();
            }
        }
        if (f.Texts("items", job.items, true)) {
            for (const std::string& item : job.items) {
                if (std::find(kItems.begin(), kItems.end(), item) == kItems.end()) {
                    f.Fail("unknown item \"" + item + "\"");
                }
            }
        }
    }
    if (const Json* container = top.Object("container")) {
        if (!OnlyKnown(*container, {"path", "sha256", "size"}, "container", error)) {
            return false;
        }
        Fields c(*container, error);
        c.Text("path", job.container, true);
        if (c.Text("sha256", job.containerSha256, true) && !IsSha256(job.containerSha256)) {
            c.Fail("\"sha256\" is not 64 lower-case hex digits");
        }
        if (!container->contains("size") || !(*container)["size"].is_number_unsigned()) {
            c.Fail("no \"size\" in bytes");
        } else {
            job.containerSize = (*container)["size"].get<std::uint64_t>();
        }
    }
    if (j.contains("line")) {
        if (const Json* line = top.Object("line")) {
            if (!OnlyKnown(*line, {"ports", "report", "retries", "unit_id_from", "allow_repeat"},
                           "line", error)) {
                return false;
            }
            Fields l(*line, error);
            l.Texts("ports", job.ports, false);
            if (line->contains("report") && !(*line)["report"].is_null()) {
                std::string report;
                if (l.Text("report", report, true)) {
                    job.report = report;
                }
            }
            if (const Json& retries = line->value("retries", Json()); !retries.is_null()) {
                if (!retries.is_number_integer() || retries.get<std::int64_t>() < 0 ||
                    retries.get<std::int64_t>() > kMaxRetries) {
                    l.Fail("\"retries\" is not a number from 0 to " + std::to_string(kMaxRetries));
                } else {
                    job.retries = retries.get<int>();
                }
            }
            if (line->contains("unit_id_from") && !(*line)["unit_id_from"].is_null()) {
                std::string from;
                if (l.Text("unit_id_from", from, true)) {
                    if (ParseUnitIdFrom(from)) {
                        job.unitIdFrom = from;
                    } else {
                        l.Fail(
                            "\"unit_id_from\" is neither \"stdin\", \"dashboard\" nor "
                            "\"counter:PREFIX:START\"");
                    }
                }
            }
            if (const Json& repeat = line->value("allow_repeat", Json()); !repeat.is_null()) {
                if (!repeat.is_boolean()) {
                    l.Fail("\"allow_repeat\" is not true or false");
                } else {
                    job.allowRepeat = repeat.get<bool>();
                }
            }
        }
    }
    if (error.empty() && job.name.empty()) {
        error = "\"name\" is empty";
    }
    return error.empty();
}

bool ReadJob(const std::string& path, Job& job, std::string& error) {
    const platform::FileBytes file = platform::ReadWholeFile(path, kMaxJobBytes);
    if (file.error != platform::ReadError::None) {
        error = "cannot read " + path;
        return false;
    }
    if (!ParseJob(std::string(file.bytes.begin(), file.bytes.end()), job, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool WriteJob(const std::string& path, const Job& job, std::string& error) {
    const std::string text = JobToJson(job).dump(2) + "\n";
    if (!platform::WriteFileAtomically(path, text, 0644)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

std::string ContainerChange(const Job& job) {
    const std::optional<std::string> now = Sha256OfFile(job.container);
    if (!now) {
        return "the container of the job cannot be read: " + job.container;
    }
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(job.container, ec);
    if (*now == job.containerSha256 && !ec && size == job.containerSize) {
        return {};
    }
    return "the container changed since the job was made: " + job.container + " has SHA-256 " +
           *now + " (" + std::to_string(size) + " bytes), the job \"" + job.name + "\" has " +
           job.containerSha256 + " (" + std::to_string(job.containerSize) + " bytes)";
}

}  // namespace tarvex::production
