#include "app/win32/Win32UserInterface.h"

#include <commdlg.h>

#include <vector>

#include "app/win32/WideText.h"
#include "app/win32/resource.h"

namespace tarvex::win32 {
namespace {

// Longest path the open-file dialog may return (the API's own limit for long paths).
constexpr DWORD kPathChars = 32768;

// Scripted runs: the box that is up is the thread's one shown and enabled dialog window other
// than the form's own (which its box disables, but which is enabled until the box is made); it
// is answered with the button asked for (OK, or No for a question).
struct BoxAnswer {
    int button;
    HWND form;
    bool answered = false;
};

BOOL CALLBACK AnswerBox(HWND window, LPARAM param) {
    auto& answer = *reinterpret_cast<BoxAnswer*>(param);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (window != answer.form && std::wstring_view(className) == L"#32770" &&
        IsWindowVisible(window) && IsWindowEnabled(window)) {
        PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(answer.button), 0);
        answer.answered = true;
        return FALSE;
    }
    return TRUE;
}

// The timer belongs to the form's window (none before it exists) and is set just before the
// box is made. On a busy machine it can come while the box is not shown yet: it then tries
// again at its next tick, until the box is there.
constexpr UINT_PTR kAnswerTimer = 0x7A5B;

void AnswerWhenUp(HWND form, UINT_PTR timer, int button) {
    BoxAnswer answer{button, form};
    EnumThreadWindows(GetCurrentThreadId(), AnswerBox, reinterpret_cast<LPARAM>(&answer));
    if (answer.answered) {
        KillTimer(form, timer);
    }
}

void CALLBACK AnswerBoxTimer(HWND form, UINT, UINT_PTR timer, DWORD) {
    AnswerWhenUp(form, timer, IDOK);
}

void CALLBACK AnswerQuestionTimer(HWND form, UINT, UINT_PTR timer, DWORD) {
    AnswerWhenUp(form, timer, IDNO);
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetDlgItemTextW(dialog, IDC_ABOUT_TEXT, Widen(kAboutText).c_str());
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

}  // namespace

UINT MessageBoxStyle(MessageKind kind) {
    switch (kind) {
        case MessageKind::ErrorBox:
            return MB_OK | MB_ICONERROR;
        case MessageKind::Notice:
        case MessageKind::PlainBox:
            return MB_OK;
    }
    return MB_OK;
}

void Win32UserInterface::ShowMessage(MessageKind kind, std::string_view caption,
                                     std::string_view text) {
    if (autoTest_ != nullptr) {
        std::string line = "message\t";
        line.append(MessageKindName(kind)).append("\t").append(caption).append("\t").append(text);
        autoTest_->Log(line);
        SetTimer(owner_, kAnswerTimer, autoTest_->holdMs, AnswerBoxTimer);
    }
    MessageBoxW(owner_, Widen(text).c_str(), Widen(caption).c_str(), MessageBoxStyle(kind));
}

bool Win32UserInterface::AskYesNo(std::string_view caption, std::string_view text,
                                  bool defaultYes) {
    if (autoTest_ != nullptr) {
        std::string line = "question\t";
        line.append(caption).append("\t").append(text);
        autoTest_->Log(line);
        SetTimer(owner_, kAnswerTimer, autoTest_->holdMs, AnswerQuestionTimer);
    }
    const UINT style = MB_YESNO | MB_ICONQUESTION | (defaultYes ? MB_DEFBUTTON1 : MB_DEFBUTTON2);
    return MessageBoxW(owner_, Widen(text).c_str(), Widen(caption).c_str(), style) == IDYES;
}

std::optional<std::string> Win32UserInterface::AskOpenFile(std::string_view filter,
                                                           std::string_view initialDir) {
    const std::wstring winFilter = WinFileFilter(filter);
    const std::wstring dir = Widen(initialDir);
    std::vector<wchar_t> path(kPathChars, L'\0');

    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner_;
    ofn.lpstrFilter = winFilter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path.data();
    ofn.nMaxFile = kPathChars;
    ofn.lpstrInitialDir = dir.empty() ? nullptr : dir.c_str();
    // The form finds its files relative to the current directory: the dialog must not move it.
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                OFN_NOCHANGEDIR | OFN_LONGNAMES;
    if (!GetOpenFileNameW(&ofn)) {
        return std::nullopt;
    }
    return Narrow(path.data());
}

void Win32UserInterface::PumpEvents() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (owner_ != nullptr && IsDialogMessageW(owner_, &msg)) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void Win32UserInterface::Idle() {
    PumpEvents();
}

void Win32UserInterface::ShowAbout() {
    if (autoTest_ != nullptr) {
        autoTest_->Log("about");
        SetTimer(owner_, kAnswerTimer, autoTest_->holdMs, AnswerBoxTimer);
    }
    DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_ABOUTBOX), owner_, AboutProc, 0);
}

}  // namespace tarvex::win32
