// The command processor named by COMSPEC (cmd.exe when unset). The environment block is built
// from the program's own in UTF-16, names compared without case as Windows compares them.
#include <windows.h>

#include <cwctype>
#include <string_view>

#include "platform/ShellCommand.h"
#include "platform/UniqueHandleWin32.h"
#include "platform/Utf16Win32.h"

namespace tarvex::platform {
namespace {

bool SameName(std::wstring_view a, std::wstring_view b) {
    // Entries such as "=C:=C:\dir" start with '=': their name is what follows it.
    const auto nameOf = [](std::wstring_view e) { return e.substr(0, e.find(L'=', 1)); };
    a = nameOf(a);
    b = nameOf(b);
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towupper(a[i]) != std::towupper(b[i])) {
            return false;
        }
    }
    return true;
}

std::wstring EnvironmentBlock(const std::vector<std::string>& extra) {
    std::vector<std::wstring> wide;
    for (const std::string& x : extra) {
        wide.push_back(Widen(x));
    }
    std::wstring block;
    if (wchar_t* own = ::GetEnvironmentStringsW(); own != nullptr) {
        for (const wchar_t* e = own; *e != L'\0'; e += std::wcslen(e) + 1) {
            bool replaced = false;
            for (const std::wstring& x : wide) {
                replaced = replaced || SameName(e, x);
            }
            if (!replaced) {
                block.append(e).push_back(L'\0');
            }
        }
        (void)::FreeEnvironmentStringsW(own);
    }
    for (const std::wstring& x : wide) {
        block.append(x).push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

std::wstring CommandProcessor() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableW(L"COMSPEC", path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(path, n) : std::wstring(L"cmd.exe");
}

}  // namespace

std::optional<int> RunShellCommand(const std::string& command,
                                   const std::vector<std::string>& extra) {
    const std::wstring shell = CommandProcessor();
    // cmd.exe takes everything after /c as the command, quotes included (/s: as given).
    std::wstring line = L"\"" + shell + L"\" /d /s /c \"" + Widen(command) + L"\"";
    std::wstring env = EnvironmentBlock(extra);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (::CreateProcessW(shell.c_str(), line.data(), nullptr, nullptr, TRUE,
                         CREATE_UNICODE_ENVIRONMENT, env.data(), nullptr, &si, &pi) == 0) {
        return std::nullopt;
    }
    const UniqueHandle process(pi.hProcess);
    const UniqueHandle thread(pi.hThread);
    (void)::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    if (::GetExitCodeProcess(process.get(), &code) == 0) {
        return std::nullopt;
    }
    return static_cast<int>(code);
}

const char* ShellName() {
    return "cmd.exe";
}

}  // namespace tarvex::platform
