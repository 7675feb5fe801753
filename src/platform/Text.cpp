#include "platform/Text.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace tarvex {
namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

std::int32_t ParseDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate in 64 bits and saturate, so that an overlong number cannot overflow.
    constexpr std::int64_t kLimit =
        static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), kLimit);
    }
    if (negative) {
        return static_cast<std::int32_t>(-value);  // -2^31 at the most
    }
    return static_cast<std::int32_t>(std::min<std::int64_t>(value, kLimit - 1));
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

std::string ToUpperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::string_view TrimWhitespace(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

LabelValue SplitLabelValue(std::string_view line) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
        return {std::string_view{}, line};
    }
    return {line.substr(0, colon), line.substr(colon + 1)};
}

std::string Printable(std::string_view raw, bool rawBytes) {
    std::string out;
    for (const unsigned char c : raw) {
        if (c < 0x20 || c == 0x7F || (rawBytes && (c > 0x7F || c == '\\'))) {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out.append(buf);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

}  // namespace tarvex
