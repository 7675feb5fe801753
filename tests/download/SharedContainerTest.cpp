// A container shared by several forms: checked once, its parts shared rather than copied, read
// again only when the file was replaced; and the SHA-256 that names it in the download record.
#include "download/SharedContainer.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "download/Sha256.h"
#include "hmi/DownloadSet.h"
#include "support/ContainerBuilder.h"
#include "support/TempDir.h"

namespace tarvex {
namespace {

using test::ContainerParts;
using test::PatternBytes;

TEST(ContainerCache, ChecksOnceSharesThePartsAndRereadsAReplacedFile) {
    test::TempDir dir;
    ContainerParts parts;
    parts.productCode = 17;
    parts.application = PatternBytes(5000);
    const std::string path = dir.WriteBytes("c.bin", test::BuildContainer(parts));

    ContainerCache cache;
    std::vector<std::shared_ptr<const SharedContainer>> got(8);
    std::vector<std::thread> forms;
    for (std::size_t i = 0; i < got.size(); ++i) {
        forms.emplace_back([&, i] { got[i] = cache.Get(path); });
    }
    for (std::thread& t : forms) {
        t.join();
    }
    EXPECT_EQ(cache.Loads(), 1);
    ASSERT_NE(got[0], nullptr);
    for (const auto& container : got) {
        EXPECT_EQ(container, got[0]);
    }
    EXPECT_EQ(got[0]->productCode, 17);
    EXPECT_EQ(got[0]->application, parts.application);

    // Two forms' images are windows onto the same bytes; the transfer consumes its own window.
    ItemImage app1, app2, none1, none2, font1, font2, recipe1, recipe2;
    EXPECT_TRUE(hmi::FillDownloadSet({.application = true}, *got[0], {app1, none1, font1, recipe1})
                    .empty());
    EXPECT_TRUE(hmi::FillDownloadSet({.application = true}, *got[0], {app2, none2, font2, recipe2})
                    .empty());
    EXPECT_EQ(app1.Storage(), got[0]->application.Storage());
    EXPECT_EQ(app2.Storage(), app1.Storage());
    app1.DropFront(4096);
    EXPECT_EQ(app1.size(), 904U);
    EXPECT_EQ(app2, parts.application);
    EXPECT_EQ(app1.Slice(0, 2),
              (std::vector<std::uint8_t>{parts.application[4096], parts.application[4097]}));

    // A replaced file is read again; one that no longer passes gives nothing, with the reason.
    parts.application = PatternBytes(300);
    dir.WriteBytes("c.bin", test::BuildContainer(parts));
    EXPECT_EQ(cache.Get(path)->application, parts.application);
    EXPECT_EQ(cache.Loads(), 2);
    EXPECT_EQ(app2.size(), 5000U) << "a form's images keep the old container alive";
    dir.WriteBytes("c.bin", {'Q', 'R', 'Z'});
    ContainerReport report;
    EXPECT_EQ(cache.Get(path, &report), nullptr);
    EXPECT_EQ(report.fault, ContainerFault::TooShort);
}

TEST(Sha256, KnownDigests) {
    const auto digest = [](std::string_view text, int repeat = 1) {
        Sha256 h;
        for (int i = 0; i < repeat; ++i) {
            h.Update({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
        }
        return h.HexDigest();
    };
    EXPECT_EQ(digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // Pieces that straddle the 64-byte blocks.
    EXPECT_EQ(digest("a", 1000000),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    test::TempDir dir;
    EXPECT_EQ(Sha256OfFile(dir.WriteBytes("f", {'a', 'b', 'c'})), digest("abc"));
    EXPECT_FALSE(Sha256OfFile(dir / "missing").has_value());
}

}  // namespace
}  // namespace tarvex
