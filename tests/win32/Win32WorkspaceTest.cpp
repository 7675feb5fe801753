// Where tarvex.exe starts, in real folders: a named workspace, the remembered one, the sample
// beside the program (or its copy in Documents where the sample cannot be written), and the
// folder chooser when there is none.
#include <gtest/gtest.h>

#include "app/win32/Win32Api.h"

#include <shellapi.h>

#include <optional>
#include <string>
#include <vector>

#include "app/win32/Workspace.h"

namespace tarvex::win32 {
namespace {

std::wstring NewFolder(const std::wstring& parent, const std::wstring& name) {
    const std::wstring dir = parent + L"\\" + name;
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

std::wstring Current() {
    wchar_t dir[MAX_PATH * 2] = {};
    GetCurrentDirectoryW(MAX_PATH * 2, dir);
    return dir;
}

class MemoryStore final : public WorkspaceStore {
  public:
    std::wstring Remembered() const override { return dir; }
    void Remember(const std::wstring& d) override { dir = d; }
    std::wstring dir;
};

class WorkspaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        std::wstring base = temp;
        while (!base.empty() && base.back() == L'\\') {
            base.pop_back();
        }
        root_ = NewFolder(base, L"tarvex-ws-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                    std::to_wstring(++counter_));
        start_ = Current();
        empty = NewFolder(root_, L"empty");
        SetCurrentDirectoryW(empty.c_str());
        program = NewFolder(root_, L"program");
        documents = NewFolder(root_, L"documents");
        other = NewFolder(root_, L"other");
        NewFolder(other, L"pxx");  // any letter case
    }
    void TearDown() override {
        SetCurrentDirectoryW(start_.c_str());
        SHFILEOPSTRUCTW op = {};
        const std::wstring from = root_ + L'\0';
        op.wFunc = FO_DELETE;
        op.pFrom = from.c_str();
        op.fFlags = FOF_NO_UI;
        SHFileOperationW(&op);
    }

    // A sample workspace beside the program: a catalogue folder and one file in a subfolder.
    std::wstring AddSample() {
        const std::wstring sample = NewFolder(program, kSampleWorkspaceFolder);
        NewFolder(sample, L"Vxx");
        const std::wstring project = NewFolder(sample, L"project");
        HANDLE file = CreateFileW((project + L"\\H1.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        CloseHandle(file);
        return sample;
    }

    FolderChooser Chooser(std::optional<std::wstring> answer) {
        return [this, answer](const std::wstring& title, const std::wstring& startDir) {
            asked.push_back(startDir);
            EXPECT_EQ(title, kChooseWorkspaceTitle);
            return answer;
        };
    }
    WorkspaceLocations Locations() const { return {program, documents}; }

    std::wstring empty, program, documents, other;
    MemoryStore store;
    std::vector<std::wstring> asked;

  private:
    static inline int counter_ = 0;
    std::wstring root_, start_;
};

TEST_F(WorkspaceTest, ANamedFolderWithACatalogueIsEnteredWithoutAsking) {
    AddSample();
    const WorkspaceResult r = EnterWorkspace(other, Locations(), store, Chooser(empty));
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.dir, other);
    EXPECT_EQ(Current(), other);
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(store.dir, L"") << "a folder named is not remembered";

    const WorkspaceResult missing =
        EnterWorkspace(other + L"\\nothing", Locations(), store, Chooser(empty));
    EXPECT_NE(missing.error.find("is not a folder"), std::string::npos);
}

TEST_F(WorkspaceTest, FirstStartOpensTheSampleBesideTheProgramAndRemembersIt) {
    const std::wstring sample = AddSample();
    WorkspaceResult r = EnterWorkspace({}, Locations(), store, Chooser(other));
    EXPECT_EQ(r.dir, sample);
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(store.dir, sample);

    // Remembered, the other workspace wins over the sample.
    store.dir = other;
    SetCurrentDirectoryW(empty.c_str());
    r = EnterWorkspace({}, Locations(), store, Chooser(empty));
    EXPECT_EQ(r.dir, other);
    EXPECT_TRUE(asked.empty());
}

TEST_F(WorkspaceTest, WithoutAnyWorkspaceTheUserIsAskedAndTheChoiceRemembered) {
    WorkspaceResult r = EnterWorkspace({}, Locations(), store, Chooser(std::nullopt));
    EXPECT_EQ(r.dir, empty) << "cancelled: the dialog starts where it was going to";
    EXPECT_EQ(asked, std::vector<std::wstring>{empty});
    EXPECT_EQ(store.dir, L"");

    r = EnterWorkspace({}, Locations(), store, Chooser(other));
    EXPECT_EQ(r.dir, other);
    EXPECT_EQ(store.dir, other);
}

TEST_F(WorkspaceTest, ASampleThatCannotBeWrittenIsCopiedToDocumentsOnce) {
    const std::wstring sample = AddSample();
    // Not writable, as in Program Files: the file of the write check cannot be made anew.
    HANDLE taken = CreateFileW((sample + L"\\tarvex-write-check.tmp").c_str(), GENERIC_WRITE, 0,
                               nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(taken, INVALID_HANDLE_VALUE);
    CloseHandle(taken);
    const WorkspaceResult r = EnterWorkspace({}, Locations(), store, Chooser(std::nullopt));
    const std::wstring copy = documents + L"\\" + kSampleCopyFolder;
    EXPECT_EQ(r.dir, copy);
    EXPECT_TRUE(HoldsCatalogue(copy));
    EXPECT_NE(GetFileAttributesW((copy + L"\\project\\H1.bin").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(asked.empty());
}

}  // namespace
}  // namespace tarvex::win32
