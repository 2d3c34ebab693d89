// A 200 MB attachment: imported and read back with memory bounded (label `large`).
#include <gtest/gtest.h>

#include <fstream>

#include "mime/import.h"
#include "test_support.h"
#include "tests/support/platform.h"

namespace mime {
namespace {

using namespace mime::testing;

TEST(Large, TwoHundredMegabyteAttachmentKeepsMemoryBounded) {
    TempDir dir;
    constexpr size_t kLineBytes = 57;  // one 76-character base64 line
    constexpr size_t kLines = 200u * 1024 * 1024 / kLineBytes + 1;
    const auto file = dir / "big.eml";
    {
        std::ofstream out(file, std::ios::binary);
        out << "Subject: big\nContent-Type: multipart/mixed; boundary=M\n\n--M\n"
               "Content-Type: text/plain\n\nsee attachment\n--M\n"
               "Content-Type: application/octet-stream; name=big.bin\n"
               "Content-Transfer-Encoding: base64\n\n";
        std::string line;
        unsigned char raw[kLineBytes];
        for (size_t i = 0; i < kLines; ++i) {
            for (size_t k = 0; k < kLineBytes; ++k) raw[k] = uint8_t(i * 31 + k);
            gchar* b64 = g_base64_encode(raw, kLineBytes);
            out << b64 << '\n';
            g_free(b64);
        }
        out << "--M--\n";
    }
    long before = testsupport::PeakResidentKb();
    auto r = ImportMessageFile(fs::Utf8FromPath(file));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.content.attachments.size(), 1u);
    const auto* data = r.content.attachments[0].props.Find(tag::kAttachDataBinary);
    ASSERT_TRUE(data);
    ASSERT_TRUE(data->IsStream());
    EXPECT_EQ(data->size(), uint64_t(kLines) * kLineBytes);
    uint64_t total = 0;
    bool same = true;
    data->Producer()([&](std::span<const uint8_t> chunk) {
        for (size_t k = 0; k < chunk.size(); ++k, ++total) {
            size_t line = size_t(total / kLineBytes), col = size_t(total % kLineBytes);
            same = same && chunk[k] == uint8_t(line * 31 + col);
        }
    });
    EXPECT_EQ(total, data->size());
    EXPECT_TRUE(same);
    long grown = testsupport::PeakResidentKb() - before;
    RecordProperty("peak_rss_growth_kb", std::to_string(grown));
    std::cout << "peak RSS growth while importing and reading 200 MB: " << grown / 1024 << " MB\n";
    EXPECT_LT(grown, 64 * 1024);
}

}  // namespace
}  // namespace mime
