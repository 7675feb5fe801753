#include "hmi/DownloadSet.h"

#include "platform/Text.h"

namespace tarvex::hmi {

DownloadData ParseDownloadData(const std::vector<std::string>& lines) {
    DownloadData data;
    for (std::size_t i = 0; i < lines.size() && i < kDownloadDataLines; ++i) {
        // A CR left at the end of a line (the last line of a CR LF file without a final LF)
        // belongs to the line end.
        std::string_view line = lines[i];
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (EqualsIgnoringCase(line, "[EOF]")) {
            break;
        }
        data.lines[i] = std::string(line);
    }
    return data;
}

std::vector<std::string_view> FillDownloadSet(const DownloadSetChoice& choice,
                                              const CDownloadInfo& info, ItemBuffers buffers) {
    struct Item {
        bool ticked;
        const SharedBytes& source;
        SharedBytes& target;
        std::string_view missing;
    };
    const Item items[] = {
        {choice.application, info.m_arrApplication, buffers.application,
         "Application doesnot exist to download!"},
        {choice.bitmap, info.m_arrBitmap, buffers.bitmap, "Bitmap doesnot exist to download!"},
        {choice.font, info.m_arrFont, buffers.font, "Font doesnot exist to download!"},
        {choice.recipe, info.m_arrRecipe, buffers.recipe, "Recipe doesnot exist to download!"},
    };
    std::vector<std::string_view> notices;
    for (const Item& item : items) {
        if (!item.ticked) {
            continue;
        }
        if (item.source.empty()) {
            notices.push_back(item.missing);
        } else {
            item.target = item.source;
        }
    }
    return notices;
}

}  // namespace tarvex::hmi
