// Log detail packing stand-in of the file-system and log library (see vkfs_log.h).
#include "vkfs_log.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/web_utils.h"

static_assert(sizeof(LogRecord::detail) == VKFS_LOG_DETAIL_AREA);

namespace {

void put_be32(char *at, uint32_t value)
{
    at[0] = static_cast<char>(value >> 24);
    at[1] = static_cast<char>(value >> 16);
    at[2] = static_cast<char>(value >> 8);
    at[3] = static_cast<char>(value);
}

uint32_t get_be32(const char *at)
{
    auto byte = [at](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(at[i])); };
    return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

} // namespace

int vkfs_log_pack_detail(LogRecord *record, int code, const void *block, int length)
{
    if (record == nullptr || length < 0 || length > VKFS_LOG_DETAIL_MAX_BLOCK ||
        (block == nullptr && length > 0))
        return -1;
    std::memset(record->detail, 0, sizeof(record->detail));
    put_be32(record->detail, static_cast<uint32_t>(code));
    put_be32(record->detail + 4, static_cast<uint32_t>(length));
    if (length > 0)
        std::memcpy(record->detail + VKFS_LOG_DETAIL_HEADER, block, static_cast<size_t>(length));
    return 0;
}

int vkfs_log_unpack_detail(const LogRecord *record, int *code, void *block, int size)
{
    if (record == nullptr)
        return -1;
    uint32_t length = get_be32(record->detail + 4);
    if (length > static_cast<uint32_t>(VKFS_LOG_DETAIL_MAX_BLOCK))
        return -1;
    if (code != nullptr)
        *code = static_cast<int>(get_be32(record->detail));
    if (block != nullptr && size > 0)
        std::memcpy(block, record->detail + VKFS_LOG_DETAIL_HEADER,
                    std::min(static_cast<size_t>(size), static_cast<size_t>(length)));
    return static_cast<int>(length);
}
