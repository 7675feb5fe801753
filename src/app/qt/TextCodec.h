// The core keeps text as 8-bit strings: file contents, paths and the panel's names are bytes
// that need not be valid UTF-8 (a project folder named in Latin-1, say). Qt keeps UTF-16.
//
//   ToQString(bytes)   UTF-8 decoded; each byte that is not part of a well-formed sequence
//                      becomes the lone surrogate U+DC80 + byte, so nothing is lost
//   ToBytes(text)      UTF-8 encoded; those surrogates become their bytes again
//   QtFileFilter(f)    "BIN Files (*.bin)|*.bin||" as Qt's file dialog writes it
//
// ToBytes(ToQString(b)) == b for every byte string b. For text typed by a person (no lone
// surrogates) ToQString(ToBytes(t)) == t.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tarvex::qt {

QString ToQString(std::string_view bytes);
std::string ToBytes(const QString& text);

// A filter of the form "Description|pattern;pattern|...||" in Qt's form
// "Description (pattern pattern);;...". A description that already names its patterns in
// parentheses is kept as it is.
QString QtFileFilter(std::string_view filter);

}  // namespace tarvex::qt
