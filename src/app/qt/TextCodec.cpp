#include "app/qt/TextCodec.h"

#include <QStringList>
#include <cstdint>
#include <vector>

namespace tarvex::qt {
namespace {

constexpr char16_t kEscapeBase = 0xDC80;  // U+DC80 + byte, for bytes 0x80..0xFF
constexpr char32_t kReplacement = 0xFFFD;

// Length of the well-formed UTF-8 sequence at `at` and its code point; 0 when the bytes there
// do not start one (overlong forms, surrogates and values past U+10FFFF are not well-formed).
std::size_t DecodeOne(std::string_view bytes, std::size_t at, char32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[at + i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    std::size_t length = 0;
    char32_t value = 0;
    std::uint8_t low = 0x80;  // allowed range of the second byte
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        if (lead == 0xE0) {
            low = 0xA0;  // overlong below
        } else if (lead == 0xED) {
            high = 0x9F;  // U+D800..U+DFFF are not characters
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;  // nothing past U+10FFFF
        }
    } else {
        return 0;
    }
    if (bytes.size() - at < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const std::uint8_t b = byte(i);
        const std::uint8_t lo = i == 1 ? low : 0x80;
        const std::uint8_t hi = i == 1 ? high : 0xBF;
        if (b < lo || b > hi) {
            return 0;
        }
        value = (value << 6) | (b & 0x3F);
    }
    codePoint = value;
    return length;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

QString ToQString(std::string_view bytes) {
    std::u16string units;
    units.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        char32_t cp = 0;
        const std::size_t length = DecodeOne(bytes, at, cp);
        if (length == 0) {
            // Only bytes 0x80..0xFF can fail to start a sequence.
            units.push_back(
                static_cast<char16_t>(kEscapeBase - 0x80 + static_cast<std::uint8_t>(bytes[at])));
            ++at;
            continue;
        }
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(cp));
        }
        at += length;
    }
    return QString::fromStdU16String(units);
}

std::string ToBytes(const QString& text) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t unit = text.at(i).unicode();
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < n) {
            const char16_t next = text.at(i + 1).unicode();
            if (next >= 0xDC00 && next <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                                    (static_cast<char32_t>(next) - 0xDC00));
                ++i;
                continue;
            }
        }
        if (unit >= kEscapeBase && unit <= kEscapeBase + 0x7F) {
            out.push_back(static_cast<char>(unit - kEscapeBase + 0x80));
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, kReplacement);  // any other lone surrogate stands for nothing
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

QString QtFileFilter(std::string_view filter) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (start < filter.size()) {
        const std::size_t bar = filter.find('|', start);
        const std::size_t end = bar == std::string_view::npos ? filter.size() : bar;
        if (end == start) {
            break;  // "||" ends the list
        }
        fields.push_back(filter.substr(start, end - start));
        start = end + 1;
    }
    QStringList parts;
    for (std::size_t i = 0; i < fields.size(); i += 2) {
        const QString description = ToQString(fields[i]);
        QString patterns = i + 1 < fields.size() ? ToQString(fields[i + 1]) : QString();
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (patterns.isEmpty() || description.contains(QLatin1Char('('))) {
            parts.push_back(description);
        } else {
            parts.push_back(description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
        }
    }
    return parts.join(QStringLiteral(";;"));
}

}  // namespace tarvex::qt
