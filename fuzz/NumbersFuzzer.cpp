// The number and text helpers every reader shares, on arbitrary text, each against a reference
// written with the standard library's own conversions: the decimal numbers of the catalogue and
// settings files and the password of the file-information block; the bootloader and firmware
// numbers and the label/value and white-space helpers against what they promise.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "hmi/HmiFrames.h"
#include "platform/Text.h"

namespace {

using namespace tarvex;

constexpr std::string_view kBlanks = " \t\r\n\v\f";

// The digits at the start of text, leading zeros dropped, and where they end.
std::string_view LeadingDigits(std::string_view text, std::size_t& end) {
    end = 0;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
        ++end;
    }
    std::string_view digits = text.substr(0, end);
    while (digits.size() > 1 && digits.front() == '0') {
        digits.remove_prefix(1);
    }
    return digits;
}

// The value of the digits, or `cap` when it is larger than cap.
std::uint64_t CappedValue(std::string_view digits, std::uint64_t cap) {
    if (digits.empty()) {
        return 0;
    }
    if (digits.size() > 19) {
        return cap;
    }
    std::uint64_t value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return value > cap ? cap : value;
}

std::int32_t ReferenceDecimal(std::string_view text) {
    const auto start = text.find_first_not_of(kBlanks);
    text = start == std::string_view::npos ? std::string_view{} : text.substr(start);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::size_t end = 0;
    const std::string_view digits = LeadingDigits(text, end);
    if (negative) {
        const std::uint64_t magnitude = CappedValue(digits, std::uint64_t{1} << 31);
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
    }
    return static_cast<std::int32_t>(CappedValue(digits, std::numeric_limits<std::int32_t>::max()));
}

std::uint32_t ReferencePassword(std::string_view text) {
    const auto start = text.find_first_not_of(' ');
    text = start == std::string_view::npos ? std::string_view{} : text.substr(start);
    std::size_t end = 0;
    return static_cast<std::uint32_t>(
        CappedValue(LeadingDigits(text, end), std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::AsText(data, size);

    fuzz::Require(ParseDecimal(text) == ReferenceDecimal(text), "ParseDecimal differs");
    fuzz::Require(hmi::PasswordNumber(text) == ReferencePassword(text), "PasswordNumber differs");

    // Only the number's form is fixed; its value follows ParseDecimal, checked above.
    (void)hmi::FirmwareNumber(text);
    if (text.find('-') == std::string_view::npos) {
        fuzz::Require(hmi::BootloaderNumber(text) == 0, "a bootloader number without a '-'");
    }

    const std::string_view trimmed = TrimWhitespace(text);
    fuzz::Require(trimmed.empty() || (kBlanks.find(trimmed.front()) == std::string_view::npos &&
                                      kBlanks.find(trimmed.back()) == std::string_view::npos),
                  "blanks left at an end");
    fuzz::Require(text.find(trimmed) != std::string_view::npos, "trimmed text not from the text");

    const LabelValue lv = SplitLabelValue(text);
    fuzz::Require(lv.label.find(':') == std::string_view::npos, "a label with a ':'");
    fuzz::Require(lv.label.size() + lv.value.size() + (text.find(':') != std::string_view::npos) ==
                      text.size(),
                  "label and value do not make up the line");

    const std::string upper = ToUpperAscii(text);
    fuzz::Require(upper.size() == text.size() && EqualsIgnoringCase(upper, text),
                  "upper case differs in more than case");
    return 0;
}
