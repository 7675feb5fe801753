// Replacing a file on POSIX, with real files: the temporary file beside it and the clean-up of
// temporary files that earlier writers left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "support/TempDir.h"

namespace tarvex::platform {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Several writers of one settings file at once: each one's clean-up of leftover temporary
// files must never take away the temporary file another has just created and not yet renamed
// (the moment between its creation and its lock is short, so the writers are many and save
// often). Every save succeeds, and the file ends as one writer's whole text.
TEST(ReplaceFile, ConcurrentWritersNeverRemoveEachOthersTemporaryFile) {
    TempDir dir;
    const std::string path = dir / "dnld.sv";
    constexpr int kWriters = 4;
    const std::string texts[kWriters] = {std::string(300, 'a'), std::string(200, 'b'),
                                         std::string(100, 'c'), std::string(50, 'd')};
    std::atomic<int> failures{0};
    auto writer = [&](int which) {
        for (int i = 0; i < 600; ++i) {
            if (!ReplaceFileKeepingAccess(path, texts[which], NewFileAccess::Usual)) {
                ++failures;
            }
        }
    };
    std::vector<std::thread> writers;
    for (int k = 0; k < kWriters; ++k) {
        writers.emplace_back(writer, k);
    }
    for (std::thread& t : writers) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);
    const std::string last = test::ReadFileText(path);
    EXPECT_TRUE(std::find(std::begin(texts), std::end(texts), last) != std::end(texts)) << last;
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1) << "temporary files left behind";
}

}  // namespace
}  // namespace tarvex::platform
