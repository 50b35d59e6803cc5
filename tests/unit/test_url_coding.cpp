// Unit tests of the platform's URL coding (get_url_encode / get_url_decode) and of the log detail
// packing (vkfs_log_pack_detail) that the handler modules share.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/lib/url_coding.h"
#include "platform/lib/vkfs_log.h"
#include "web_utils.h"

namespace {

std::string encoded(const std::string &text, int size = 512)
{
    std::string buffer(static_cast<size_t>(size), '#');
    int length = get_url_encode(text.c_str(), buffer.data(), size);
    EXPECT_EQ(length, static_cast<int>(std::strlen(buffer.c_str())));
    return buffer.c_str();
}

std::string decoded(const std::string &text, int size = 512)
{
    std::string buffer(static_cast<size_t>(size), '#');
    int length = get_url_decode(text.c_str(), buffer.data(), size);
    EXPECT_EQ(length, static_cast<int>(std::strlen(buffer.c_str())));
    return buffer.c_str();
}

TEST(UrlCoding, EncodesAllButTheUnreservedCharacters)
{
    EXPECT_EQ(encoded("Az09-_.~"), "Az09-_.~");
    EXPECT_EQ(encoded("a b+c&d=e%f\"g'h/i"), "a%20b%2Bc%26d%3De%25f%22g%27h%2Fi");
    EXPECT_EQ(encoded("\xc3\xa9\xff\x01"), "%C3%A9%FF%01");
    EXPECT_EQ(encoded(""), "");
}

TEST(UrlCoding, DecodeRestoresWhatEncodeProduced)
{
    std::string every_byte;
    for (int c = 1; c < 256; ++c)
        every_byte += static_cast<char>(c);
    for (const std::string &text : {std::string("p%+&\"'<>"), std::string("100% + 50%2B"), every_byte,
                                    std::string("%%%"), std::string("user name@host")}) {
        EXPECT_EQ(decoded(encoded(text, 1024), 1024), text);
        EXPECT_EQ(url_decode(url_encode(text)), text);
    }
}

TEST(UrlCoding, DecodeKeepsWhatIsNotAPercentGroup)
{
    EXPECT_EQ(decoded("a+b"), "a+b");
    EXPECT_EQ(decoded("%41%62%2b%2B"), "Ab++");
    EXPECT_EQ(decoded("100%"), "100%");
    EXPECT_EQ(decoded("%4"), "%4");
    EXPECT_EQ(decoded("%G1%zz"), "%G1%zz");
    EXPECT_EQ(decoded("a%00b"), "a%00b"); // a NUL would cut the text short
}

TEST(UrlCoding, OutputStaysInsideTheBufferAndNeverSplitsAGroup)
{
    EXPECT_EQ(encoded("abc", 3), "ab");
    EXPECT_EQ(encoded("a&b", 3), "a");     // "%26" does not fit after "a"
    EXPECT_EQ(encoded("a&b", 5), "a%26");
    EXPECT_EQ(encoded("&&&&", 1), "");
    EXPECT_EQ(decoded("%41%42%43", 3), "AB");
    EXPECT_EQ(decoded(std::string(100, 'x'), 33), std::string(32, 'x'));

    char guard[8];
    std::memset(guard, '#', sizeof(guard));
    EXPECT_EQ(get_url_encode("&&&&", guard, 4), 3);
    EXPECT_EQ(guard[4], '#');
    EXPECT_EQ(get_url_encode(nullptr, guard, 4), -1);
    EXPECT_EQ(get_url_decode("x", guard, 0), -1);
    EXPECT_EQ(get_url_decode("x", nullptr, 4), -1);
}

TEST(LogDetail, PacksCodeLengthAndBlock)
{
    LogRecord record{};
    std::memset(record.detail, 0x55, sizeof(record.detail));
    const char block[6] = {'N', 'F', 'S', 0, 1, 2};
    ASSERT_EQ(vkfs_log_pack_detail(&record, 101, block, sizeof(block)), 0);
    const unsigned char head[8] = {0, 0, 0, 101, 0, 0, 0, 6};
    EXPECT_EQ(std::memcmp(record.detail, head, 8), 0);
    EXPECT_EQ(std::memcmp(record.detail + 8, block, sizeof(block)), 0);
    for (size_t i = 8 + sizeof(block); i < sizeof(record.detail); ++i)
        ASSERT_EQ(record.detail[i], 0) << i;

    int code = 0;
    char back[16] = {};
    EXPECT_EQ(vkfs_log_unpack_detail(&record, &code, back, sizeof(back)), 6);
    EXPECT_EQ(code, 101);
    EXPECT_EQ(std::memcmp(back, block, sizeof(block)), 0);
}

TEST(LogDetail, RefusesWhatDoesNotFitAndLeavesTheRecordAlone)
{
    LogRecord record{};
    record.size = 7;
    char big[VKFS_LOG_DETAIL_MAX_BLOCK + 1] = {};
    EXPECT_EQ(vkfs_log_pack_detail(&record, 1, big, sizeof(big)), -1);
    EXPECT_EQ(vkfs_log_pack_detail(&record, 1, nullptr, 4), -1);
    EXPECT_EQ(vkfs_log_pack_detail(nullptr, 1, big, 4), -1);
    LogRecord untouched{};
    untouched.size = 7;
    EXPECT_EQ(std::memcmp(&record, &untouched, sizeof(record)), 0);
    EXPECT_EQ(vkfs_log_pack_detail(&record, 1, big, VKFS_LOG_DETAIL_MAX_BLOCK), 0);
    EXPECT_EQ(record.size, 7); // the size field is the handler's
    std::memset(record.detail, 0xFF, 8);
    EXPECT_EQ(vkfs_log_unpack_detail(&record, nullptr, nullptr, 0), -1);
}

} // namespace
