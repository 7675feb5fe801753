#include "app/win32/AutoTest.h"

#include "app/win32/Win32Api.h"

#include <cwchar>

#include "app/win32/WideText.h"

namespace tarvex::win32 {

std::optional<AutoTest> AutoTest::FromEnvironment() {
    AutoTest test;
    test.logPath = EnvironmentValue(L"TARVEX_AUTOTEST");
    if (test.logPath.empty()) {
        return std::nullopt;
    }
    const std::wstring hold = EnvironmentValue(L"TARVEX_AUTOTEST_HOLD_MS");
    if (!hold.empty()) {
        const unsigned long value = std::wcstoul(hold.c_str(), nullptr, 10);
        test.holdMs = value > 600000 ? 600000u : static_cast<unsigned>(value);
    }
    return test;
}

void AutoTest::Log(std::string_view line) const {
    HANDLE file = CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    std::string text(line);
    text.push_back('\n');
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string_view OutcomeName(DownloadOutcome outcome) {
    switch (outcome) {
        case DownloadOutcome::None:
            return "none";
        case DownloadOutcome::Complete:
            return "complete";
        case DownloadOutcome::Refused:
            return "refused";
        case DownloadOutcome::PortFailed:
            return "port-failed";
        case DownloadOutcome::ItemMissing:
            return "item-missing";
        case DownloadOutcome::PanelCode:
            return "panel-code";
        case DownloadOutcome::Failed:
            return "failed";
        case DownloadOutcome::Cancelled:
            return "cancelled";
    }
    return "unknown";
}

std::string_view MessageKindName(MessageKind kind) {
    switch (kind) {
        case MessageKind::Notice:
            return "notice";
        case MessageKind::ErrorBox:
            return "error";
        case MessageKind::PlainBox:
            return "plain";
    }
    return "unknown";
}

}  // namespace tarvex::win32
