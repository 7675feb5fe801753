// One checked container for several forms.
//
// When forms run side by side (one per port), the container is read and checked once and its
// parts are shared read-only: every form's item images are windows onto the same bytes.
//
//   SharedContainer               a container that passed CheckDownloadContainer, immutable
//   ContainerCache::Get(path)     the checked container at path, read and checked on the first
//                                 call and again only when the file was replaced since; safe
//                                 to call from several threads at once
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/DownloadContainer.h"
#include "platform/FileStamp.h"
#include "platform/SharedBytes.h"

namespace tarvex {

struct SharedContainer {
    using Part = SharedBytes;  // a view into the container's one copy

    std::string path;
    std::string signature;
    std::int32_t productCode = 65535;
    Part application, bitmap, font, recipe;  // empty for a missing part
    std::vector<std::string> recipeNames;
    std::vector<std::uint32_t> recipeSizes;
    ContainerReport report;  // the check's findings: size, both stored checksums, parts
    std::string sha256;      // of the bytes read, lower-case hex
};

// Reads and checks the container at path. On failure: nullptr, and `report` says why.
std::shared_ptr<const SharedContainer> LoadSharedContainer(const std::string& path,
                                                           ContainerReport& report);

class ContainerCache {
  public:
    // The checked container at path; nullptr when it does not pass (report tells why). A file
    // whose size, modification time or identity changed since the last call is read again.
    std::shared_ptr<const SharedContainer> Get(const std::string& path,
                                               ContainerReport* report = nullptr);
    // How many times a file was actually read and checked.
    int Loads() const;

  private:
    mutable std::mutex mutex_;
    std::string path_;
    platform::FileStamp stamp_;
    std::shared_ptr<const SharedContainer> loaded_;
    ContainerReport failure_;
    bool failed_ = false;
    bool haveStamp_ = false;
    int loads_ = 0;
};

}  // namespace tarvex
