// Which items a download carries, and where their bytes come from.
//
//   ParseDownloadData(lines)     the seven positional lines of "DnldData.txt"
//   FillDownloadSet(...)         takes each ticked item out of the checked container (a copy
//                                of a form's own container, a shared window onto a container
//                                several forms share) and names, in order, every ticked item
//                                the container lacks
//
// "DnldData.txt" names the HMI product (line 1), the project directory (line 2), the
// application (line 3) and the HMI type (line 7); lines 4 to 6 are not used. The file ends at a
// line "[EOF]" in any letter case.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "download/DownloadContainer.h"
#include "download/SharedContainer.h"
#include "hmi/ItemImage.h"

namespace tarvex::hmi {

inline constexpr char kDownloadDataFileName[] = "DnldData.txt";
inline constexpr std::size_t kDownloadDataLines = 7;

struct DownloadData {
    std::array<std::string, kDownloadDataLines> lines;  // positional, as read

    const std::string& Product() const { return lines[0]; }
    const std::string& BinFileDir() const { return lines[1]; }
    const std::string& ApplicationName() const { return lines[2]; }
    const std::string& HmiType() const { return lines[6]; }
};

// The first seven lines before the terminator. A file that ends early, at its terminator or
// without one, gives the lines it has and empty texts for the rest; the terminator itself is
// never taken as a value. Lines are kept as they are, blanks included.
DownloadData ParseDownloadData(const std::vector<std::string>& lines);

struct DownloadSetChoice {
    bool application = false;
    bool bitmap = false;
    bool font = false;
    bool recipe = false;
};

// The four item buffers of the form: views into the container's one copy.
struct ItemBuffers {
    SharedBytes& application;
    SharedBytes& bitmap;
    SharedBytes& font;
    SharedBytes& recipe;
};

// Points every ticked item that the container holds into its buffer; a buffer whose item is
// not ticked, or missing, keeps what it held. Returns the notices for the ticked items that
// are missing, in the order Application, Bitmap, Font, Recipe; empty when all are there.
std::vector<std::string_view> FillDownloadSet(const DownloadSetChoice& choice,
                                              const CDownloadInfo& info, ItemBuffers buffers);
// The same from a shared container: the buffers become windows onto its parts, no copy.
std::vector<std::string_view> FillDownloadSet(const DownloadSetChoice& choice,
                                              const SharedContainer& shared, ItemBuffers buffers);

}  // namespace tarvex::hmi
