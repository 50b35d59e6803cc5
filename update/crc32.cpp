// CRC-32 (IEEE 802.3, reflected polynomial 0xEDB88320) with a 256-entry table built at compile
// time. See crc32.h.
#include "crc32.h"

static constexpr std::array<uint32_t, 256> make_crc32_table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

// Declared extern in the header, so it keeps external linkage.
constexpr std::array<uint32_t, 256> crc32_table = make_crc32_table();
static_assert(crc32_table[1] == 0x77073096u && crc32_table[255] == 0x2D02EF8Du);

uint32_t crc32_no_comp(uint32_t crc, const unsigned char *data, size_t length)
{
    for (size_t i = 0; i < length; i++)
        crc = crc32_table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint32_t crc32(uint32_t crc, const unsigned char *data, size_t length)
{
    return ~crc32_no_comp(~crc, data, length);
}

uint32_t crc32_wd(uint32_t crc, const unsigned char *data, size_t length)
{
    constexpr size_t chunk = 64 * 1024;
    while (length > 0) {
        size_t n = length < chunk ? length : chunk;
        crc = crc32(crc, data, n);
        data += n;
        length -= n;
    }
    return crc;
}
