#include "download/SharedContainer.h"

#include <utility>

namespace tarvex {
std::shared_ptr<const SharedContainer> LoadSharedContainer(const std::string& path,
                                                           ContainerReport& report) {
    CDownloadInfo info;
    auto shared = std::make_shared<SharedContainer>();
    if (!CheckDownloadContainer(path, info, shared->recipeNames, shared->recipeSizes, &report,
                                &shared->sha256)) {
        return nullptr;
    }
    shared->path = path;
    shared->signature = info.m_strSignature;
    shared->productCode = info.m_nProductCode;
    shared->application = info.m_arrApplication;  // views: nothing is copied
    shared->bitmap = info.m_arrBitmap;            // views: nothing is copied
    shared->font = info.m_arrFont;                // views: nothing is copied
    shared->recipe = info.m_arrRecipe;            // views: nothing is copied
    shared->report = report;
    return shared;
}

std::shared_ptr<const SharedContainer> ContainerCache::Get(const std::string& path,
                                                           ContainerReport* report) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::optional<platform::FileStamp> stamp = platform::StampOf(path);
    const bool same = stamp && haveStamp_ && path == path_ && *stamp == stamp_;
    if (!same) {
        // Let go of the old container before the new one is read: the two never need to be
        // held at once.
        loaded_.reset();
        ContainerReport fresh;
        loaded_ = LoadSharedContainer(path, fresh);
        ++loads_;
        failed_ = loaded_ == nullptr;
        failure_ = failed_ ? fresh : ContainerReport{};
        path_ = path;
        stamp_ = stamp.value_or(platform::FileStamp{});
        haveStamp_ = stamp.has_value();  // without one, the next call reads again
    }
    if (report != nullptr) {
        *report = loaded_ ? loaded_->report : failure_;
    }
    return loaded_;
}

int ContainerCache::Loads() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return loads_;
}

}  // namespace tarvex
