#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

namespace tarvex::fuzz {

InputFile::InputFile(std::string_view name) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tarvex-fuzz-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        Broken("cannot create the scratch folder");
    }
    dir_ = buffer.data();
    path_ = dir_ + "/" + std::string(name);
}

InputFile::~InputFile() {
    unlink(path_.c_str());
    rmdir(dir_.c_str());
}

const std::string& InputFile::Write(std::span<const std::uint8_t> bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        Broken("cannot write the scratch file");
    }
    return path_;
}

}  // namespace tarvex::fuzz
