// The download data file "DnldData.txt" on arbitrary bytes, read as the form reads it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "hmi/DownloadSet.h"
#include "platform/Files.h"
#include "platform/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvex;
    static fuzz::InputFile file("DnldData.txt");
    const std::optional<std::vector<std::string>> lines =
        platform::ReadTextLines(file.Write(std::span(data, size)));
    fuzz::Require(lines.has_value(), "a written data file cannot be read");
    const hmi::DownloadData parsed = hmi::ParseDownloadData(*lines);
    // Where the file ends: its first line that is "[EOF]" in any case, a CR before the LF aside.
    std::size_t end = lines->size();
    for (std::size_t i = 0; i < lines->size(); ++i) {
        std::string_view line = (*lines)[i];
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (EqualsIgnoringCase(line, "[EOF]")) {
            end = i;
            break;
        }
    }
    for (std::size_t i = 0; i < parsed.lines.size(); ++i) {
        const std::string& value = parsed.lines[i];
        fuzz::Require(!EqualsIgnoringCase(value, "[EOF]"), "the terminator taken as a value");
        fuzz::Require(value.size() <= size, "a value longer than the file");
        fuzz::Require(i < end || value.empty(), "a value read behind the terminator");
    }
    return 0;
}
