// CRC-16 and the download container check over containers of a few hundred KiB.
//
// CRC16 runs over every frame on the line and over a container's header and body;
// CheckDownloadContainer reads and judges a whole file before every download.
#if __has_include(<benchmark/benchmark.h>)
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "download/Crc16.h"
#include "download/DownloadContainer.h"

namespace {

using namespace tarvex;

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131 + 7) & 0xFF);
    }
    return bytes;
}

void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// A container of `kib` KiB: half application, a quarter each font and bitmap, no recipes.
std::string WriteContainer(std::size_t kib) {
    const std::size_t body = kib * 1024;
    std::vector<std::uint8_t> bytes(kContainerHeaderSize);
    std::copy_n(kContainerSignature, 6, bytes.begin());
    bytes[6] = 17;
    const auto s1 = static_cast<std::uint32_t>(kContainerHeaderSize);
    const auto s2 = static_cast<std::uint32_t>(s1 + body / 2);
    const auto s3 = static_cast<std::uint32_t>(s2 + body / 4);
    const auto end = static_cast<std::uint32_t>(s1 + body);
    PutLe32(bytes, 7, s1);
    PutLe32(bytes, 11, s2);
    PutLe32(bytes, 15, s3);
    PutLe32(bytes, 19, end);  // the Recipe part is empty
    const std::vector<std::uint8_t> parts = Pattern(body);
    bytes.insert(bytes.end(), parts.begin(), parts.end());
    const std::uint16_t headerCrc = CRC16(bytes.data(), 23);
    const std::uint16_t bodyCrc = CRC16(bytes.data() + kContainerHeaderSize, body);
    bytes[23] = static_cast<std::uint8_t>(headerCrc & 0xFF);
    bytes[24] = static_cast<std::uint8_t>(headerCrc >> 8);
    bytes[25] = static_cast<std::uint8_t>(bodyCrc & 0xFF);
    bytes[26] = static_cast<std::uint8_t>(bodyCrc >> 8);
    const std::string path =
        (std::filesystem::temp_directory_path() /
         ("tarvex-bench-" + std::to_string(::getpid()) + "-" + std::to_string(kib) + ".bin"))
            .string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    return path;
}

void BM_Crc16(benchmark::State& state) {
    const std::vector<std::uint8_t> data = Pattern(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(CRC16(data.data(), data.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
// A data frame of the sample's packet sizes, and the most a checksum covers.
BENCHMARK(BM_Crc16)->Arg(262)->Arg(518)->Arg(65535);

void BM_CheckDownloadContainer(benchmark::State& state) {
    const std::string path = WriteContainer(static_cast<std::size_t>(state.range(0)));
    CDownloadInfo info;
    std::vector<std::string> names;
    std::vector<std::uint32_t> sizes;
    for (auto _ : state) {
        if (!CheckDownloadContainer(path, info, names, sizes)) {
            state.SkipWithError("the container was refused");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) * 1024);
    std::remove(path.c_str());
}
// Not multiples of 64 KiB: the body checksum covers the body length modulo 65536.
BENCHMARK(BM_CheckDownloadContainer)->Arg(250)->Arg(500);

}  // namespace

BENCHMARK_MAIN();

#else
#include <cstdio>

int main() {
    std::puts("crc_container: Google Benchmark was not found when this was built");
    return 0;
}
#endif
