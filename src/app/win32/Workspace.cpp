#include "app/win32/Workspace.h"

#include "app/win32/Win32Api.h"

#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "app/win32/WideText.h"
#include "catalogue/Catalogue.h"

namespace tarvex::win32 {
namespace {

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring Join(const std::wstring& dir, const std::wstring& name) {
    if (dir.empty() || dir.back() == L'\\' || dir.back() == L'/') {
        return dir + name;
    }
    return dir + L'\\' + name;
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(length < size ? length : 0);
    return full.empty() ? path : full;
}

std::wstring CurrentFolder() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    std::wstring dir(size, L'\0');
    const DWORD length = GetCurrentDirectoryW(size, dir.data());
    dir.resize(length < size ? length : 0);
    return dir;
}

// Whether a file can be made in dir: a dnld.sv is written there at each download.
bool Writable(const std::wstring& dir) {
    const std::wstring probe = Join(dir, L"tarvex-write-check.tmp");
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

// Copies the folder from into to (made), with everything in it; false at the first failure.
bool CopyFolder(const std::wstring& from, const std::wstring& to) {
    if (!CreateDirectoryW(to.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(Join(from, L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = true;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ok = CopyFolder(Join(from, name), Join(to, name));
        } else {
            ok = CopyFileW(Join(from, name).c_str(), Join(to, name).c_str(), TRUE) != 0;
        }
    } while (ok && FindNextFileW(find, &entry));
    FindClose(find);
    return ok;
}

// The sample that comes with the program, where a download can write its settings: the one
// beside tarvex.exe, else a copy in Documents (made when it is not there yet). Empty when
// there is no sample or no usable copy.
std::wstring SampleWorkspace(const WorkspaceLocations& locations) {
    const std::wstring sample = Join(locations.programDir, kSampleWorkspaceFolder);
    if (locations.programDir.empty() || !HoldsCatalogue(sample)) {
        return {};
    }
    if (Writable(sample)) {
        return sample;
    }
    if (locations.documents.empty()) {
        return {};
    }
    const std::wstring copy = Join(locations.documents, kSampleCopyFolder);
    if (!HoldsCatalogue(copy) && !CopyFolder(sample, copy)) {
        return {};
    }
    return HoldsCatalogue(copy) ? copy : std::wstring();
}

int CALLBACK StartAt(HWND window, UINT message, LPARAM, LPARAM startDir) {
    if (message == BFFM_INITIALIZED && startDir != 0) {
        SendMessageW(window, BFFM_SETSELECTIONW, TRUE, startDir);
    }
    return 0;
}

}  // namespace

std::wstring RegistryWorkspaceStore::Remembered() const {
    wchar_t value[MAX_PATH * 4] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, key_.c_str(), kWorkspaceValue, RRF_RT_REG_SZ, nullptr,
                     value, &size) != ERROR_SUCCESS) {
        return {};
    }
    return value;
}

void RegistryWorkspaceStore::Remember(const std::wstring& dir) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return;  // not remembered: the next start asks again
    }
    RegSetValueExW(key, kWorkspaceValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()),
                   static_cast<DWORD>((dir.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

FolderChooser SystemFolderChooser() {
    return [](const std::wstring& title, const std::wstring& startDir) {
        std::optional<std::wstring> chosen;
        // The shell's newer chooser is a COM object of this thread's apartment.
        const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        BROWSEINFOW info = {};
        info.lpszTitle = title.c_str();
        info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
        info.lpfn = StartAt;
        info.lParam = reinterpret_cast<LPARAM>(startDir.c_str());
        if (PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&info)) {
            wchar_t path[MAX_PATH] = {};
            if (SHGetPathFromIDListW(list, path)) {
                chosen = path;
            }
            CoTaskMemFree(list);
        }
        if (SUCCEEDED(com)) {
            CoUninitialize();
        }
        return chosen;
    };
}

bool HoldsCatalogue(const std::wstring& dir) {
    const std::string bytes = Narrow(dir);
    for (const char* name : {kProductFolder, kBootLoaderFolder}) {
        if (IsFolder(Widen(FindCatalogueFolder(bytes, name)))) {
            return true;
        }
    }
    return false;
}

WorkspaceLocations SystemWorkspaceLocations() {
    WorkspaceLocations locations;
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            break;
        }
        if (length < path.size()) {
            std::wstring exe(path.data(), length);
            const auto slash = exe.find_last_of(L"\\/");
            locations.programDir =
                slash == std::wstring::npos ? std::wstring() : exe.substr(0, slash);
            break;
        }
        path.resize(path.size() * 2);
    }
    PWSTR documents = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &documents))) {
        locations.documents = documents;
    }
    CoTaskMemFree(documents);
    return locations;
}

WorkspaceResult EnterWorkspace(const std::wstring& named, const WorkspaceLocations& locations,
                               WorkspaceStore& store, const FolderChooser& choose) {
    std::wstring dir = named.empty() ? CurrentFolder() : FullPath(named);
    if (!named.empty() && !IsFolder(dir)) {
        return {{}, "the workspace " + Narrow(named) + " is not a folder"};
    }
    if (named.empty() && !HoldsCatalogue(dir)) {
        const std::wstring remembered = store.Remembered();
        std::wstring found;
        if (!remembered.empty() && HoldsCatalogue(remembered)) {
            found = remembered;
        } else {
            found = SampleWorkspace(locations);
        }
        if (found.empty()) {
            const std::wstring startDir =
                !remembered.empty() && IsFolder(remembered) ? remembered : dir;
            if (const auto chosen = choose(kChooseWorkspaceTitle, startDir)) {
                found = FullPath(*chosen);
            }
        }
        if (!found.empty()) {
            dir = found;
            store.Remember(dir);
        }
    } else if (!named.empty() && !HoldsCatalogue(dir)) {
        // A folder named without a catalogue: the user is asked, starting there.
        if (const auto chosen = choose(kChooseWorkspaceTitle, dir)) {
            dir = FullPath(*chosen);
            store.Remember(dir);
        }
    }
    if (!SetCurrentDirectoryW(dir.c_str())) {
        return {{}, "cannot change to the workspace " + Narrow(dir)};
    }
    return {CurrentFolder(), {}};
}

std::wstring NamedWorkspace(std::string& error) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring named;
    if (arguments != nullptr) {
        if (count > 2) {
            error = "one workspace only: " + Narrow(arguments[1]) + " and " + Narrow(arguments[2]) +
                    " given";
        } else if (count == 2) {
            named = arguments[1];
        }
        LocalFree(arguments);
    }
    return named.empty() ? EnvironmentValue(kWorkspaceEnvironmentVariable) : named;
}

}  // namespace tarvex::win32
