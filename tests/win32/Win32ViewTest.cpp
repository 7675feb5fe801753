#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "app/win32/WideText.h"
#include "app/win32/Win32UserInterface.h"

namespace tarvex::win32 {
namespace {

TEST(WideText, FormFiltersBecomeNulSeparatedParts) {
    using namespace std::string_view_literals;
    struct Case {
        std::string_view filter;
        std::wstring_view expected;  // without the NUL that c_str() adds at the end
    };
    const Case cases[] = {
        {"BIN Files (*.bin)|*.bin||", L"BIN Files (*.bin)\0*.bin\0"sv},
        {"BIN Files (*.bin)|*.bin|", L"BIN Files (*.bin)\0*.bin\0"sv},
        {"BIN Files (*.bin)|*.bin", L"BIN Files (*.bin)\0*.bin\0"sv},
        {"NEW.BIN Files (*.new.bin)|*.new.bin||", L"NEW.BIN Files (*.new.bin)\0*.new.bin\0"sv},
        {"A|*.a|B|*.b;*.c||", L"A\0*.a\0B\0*.b;*.c\0"sv},
        {" Files (*.)|*.||", L" Files (*.)\0*.\0"sv},
    };
    for (const Case& c : cases) {
        const std::wstring filter = WinFileFilter(c.filter);
        EXPECT_EQ(std::wstring_view(filter), c.expected) << c.filter;
        // GetOpenFileNameW stops at the first empty part: two NULs in a row end the list.
        EXPECT_EQ(filter.c_str()[filter.size()], L'\0');
    }
}

TEST(WideText, Utf8AndUtf16RoundTrip) {
    struct Case {
        std::string_view utf8;
        std::wstring_view utf16;
    };
    const Case cases[] = {
        {"", L""},
        {"project\\H1.bin", L"project\\H1.bin"},
        {"C:\\Z\xC3\xBCrich\\\xD0\xBF\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82\\H1.bin",
         L"C:\\Z\u00FCrich\\\u043F\u0440\u043E\u0435\u043A\u0442\\H1.bin"},
        {"\xE6\x97\xA5\xE6\x9C\xAC", L"\u65E5\u672C"},
        {"\xF0\x9F\x93\x9F panel", L"\xD83D\xDCDF panel"},  // outside the BMP: a surrogate pair
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Widen(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(Narrow(c.utf16), c.utf8) << c.utf8;
    }
    // Bytes that are not UTF-8 still show (as U+FFFD) rather than vanish.
    EXPECT_EQ(Widen("a\xFF"
                    "b"),
              L"a\uFFFDb");
}

TEST(Win32UserInterface, MessageBoxStylesFollowThePresentations) {
    EXPECT_EQ(MessageBoxStyle(MessageKind::Notice), static_cast<UINT>(MB_OK));
    EXPECT_EQ(MessageBoxStyle(MessageKind::PlainBox), static_cast<UINT>(MB_OK));
    EXPECT_EQ(MessageBoxStyle(MessageKind::ErrorBox), static_cast<UINT>(MB_OK | MB_ICONERROR));
}

}  // namespace
}  // namespace tarvex::win32
