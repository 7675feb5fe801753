// Small text helpers shared by the readers of the catalogue, settings and data files.
//
//   ParseDecimal(text)          leading blanks, optional sign, digits up to the first other
//                               character; 0 when there is no number; saturates at the int32 range
//   EqualsIgnoringCase(a, b)    ASCII letter case ignored
//   ToUpperAscii(text)
//   TrimWhitespace(text)        blanks, tabs, CR and LF removed at both ends
//   Printable(raw, rawBytes)    text from files written elsewhere, safe to print: control
//                               characters and DEL as \xHH, so that a damaged file cannot send
//                               control sequences to a terminal; with `rawBytes` (names and
//                               signatures that need not be text at all) also every byte
//                               outside ASCII and the backslash
//   SplitLabelValue(line)       label before the first ':', value after it (no ':': empty label,
//                               the whole line as value)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex {

std::int32_t ParseDecimal(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
std::string ToUpperAscii(std::string_view text);
std::string_view TrimWhitespace(std::string_view text);

struct LabelValue {
    std::string_view label;
    std::string_view value;
};
LabelValue SplitLabelValue(std::string_view line);

std::string Printable(std::string_view raw, bool rawBytes = false);

}  // namespace tarvex
