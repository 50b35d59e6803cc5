// CRC-32 of images and environment copies: the known value, agreement with zlib on a large
// buffer, continuation across pieces, and the two variants.
#include "crc32.h"
#include "update_sandbox.h"

#include <gtest/gtest.h>
#ifdef NVR_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

const unsigned char *u(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

TEST(ImageCrc, KnownValues)
{
    EXPECT_EQ(crc32(0u, u("abc"), size_t{3}), 0x352441C2u);
    EXPECT_EQ(crc32(0u, u("123456789"), size_t{9}), 0xCBF43926u);
    EXPECT_EQ(crc32(0u, u(""), size_t{0}), 0u);
    EXPECT_EQ(crc32_table[1], 0x77073096u);
}

TEST(ImageCrc, LargeBufferMatchesZlibAndContinuesAcrossPieces)
{
    const std::string data = upd::pattern(3 * 1024 * 1024 + 77, 7);
    const uint32_t whole = crc32(0u, u(data), data.size());
#ifdef NVR_HAVE_ZLIB
    EXPECT_EQ(whole, static_cast<uint32_t>(crc32_z(0UL, u(data), data.size())));
#endif
    uint32_t running = 0;
    for (size_t at = 0; at < data.size(); at += 1024) {
        size_t n = std::min<size_t>(1024, data.size() - at);
        running = crc32(running, u(data) + at, n);
    }
    EXPECT_EQ(running, whole);
    EXPECT_EQ(crc32_wd(0u, u(data), data.size()), whole);
}

// Every length up to a few words from every start offset: the eight-byte steps, the byte-wise
// tail and unaligned starts all give the byte-at-a-time result.
TEST(ImageCrc, EveryShortLengthAndOffsetMatchesTheBytewiseCrc)
{
    const std::string data = upd::pattern(64, 11);
    for (size_t offset = 0; offset < 8; offset++)
        for (size_t length = 0; offset + length <= data.size(); length++) {
            uint32_t bytewise = 0xFFFFFFFFu;
            for (size_t i = offset; i < offset + length; i++)
                bytewise = crc32_table[(bytewise ^ u(data)[i]) & 0xFF] ^ (bytewise >> 8);
            EXPECT_EQ(crc32(0u, u(data) + offset, length), ~bytewise)
                << "offset " << offset << " length " << length;
        }
}

TEST(ImageCrc, NoComplementVariant)
{
    const std::string data = upd::pattern(4096, 3);
    for (uint32_t start : {0u, 0x12345678u, 0xFFFFFFFFu})
        EXPECT_EQ(crc32(start, u(data), data.size()), ~crc32_no_comp(~start, u(data), data.size()));
}

} // namespace
