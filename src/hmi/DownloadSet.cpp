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

namespace {

// The container's parts in the order Application, Bitmap, Font, Recipe.
std::vector<std::string_view> Fill(const DownloadSetChoice& choice, const SharedBytes* (&parts)[4],
                                   ItemBuffers buffers) {
    struct Item {
        bool ticked;
        ItemImage& target;
        std::string_view missing;
    };
    const Item items[] = {
        {choice.application, buffers.application, "Application doesnot exist to download!"},
        {choice.bitmap, buffers.bitmap, "Bitmap doesnot exist to download!"},
        {choice.font, buffers.font, "Font doesnot exist to download!"},
        {choice.recipe, buffers.recipe, "Recipe doesnot exist to download!"},
    };
    std::vector<std::string_view> notices;
    for (std::size_t i = 0; i < 4; ++i) {
        if (!items[i].ticked) {
            continue;
        }
        if (parts[i]->empty()) {
            notices.push_back(items[i].missing);
        } else {
            items[i].target = *parts[i];  // a view: nothing is copied
        }
    }
    return notices;
}

}  // namespace

std::vector<std::string_view> FillDownloadSet(const DownloadSetChoice& choice,
                                              const CDownloadInfo& info, ItemBuffers buffers) {
    const SharedBytes* parts[4] = {&info.m_arrApplication, &info.m_arrBitmap, &info.m_arrFont,
                                   &info.m_arrRecipe};
    return Fill(choice, parts, buffers);
}

std::vector<std::string_view> FillDownloadSet(const DownloadSetChoice& choice,
                                              const SharedContainer& shared, ItemBuffers buffers) {
    const SharedBytes* parts[4] = {&shared.application, &shared.bitmap, &shared.font,
                                   &shared.recipe};
    return Fill(choice, parts, buffers);
}

}  // namespace tarvex::hmi
