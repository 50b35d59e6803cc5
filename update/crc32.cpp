// CRC-32 (IEEE 802.3, reflected polynomial 0xEDB88320) with tables built at compile time. See
// crc32.h. Long runs go eight bytes a step through eight tables ("slicing by 8"): the image check
// reads every byte of a 64 MiB image, and a byte a step is several times slower than the reading.
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

// slices[k][n]: the CRC of byte n followed by k zero bytes; slices[0] is crc32_table.
static constexpr std::array<std::array<uint32_t, 256>, 8> make_slices()
{
    std::array<std::array<uint32_t, 256>, 8> slices{};
    slices[0] = make_crc32_table();
    for (size_t k = 1; k < 8; k++)
        for (size_t n = 0; n < 256; n++) {
            const uint32_t prev = slices[k - 1][n];
            slices[k][n] = slices[0][prev & 0xFF] ^ (prev >> 8);
        }
    return slices;
}
static constexpr std::array<std::array<uint32_t, 256>, 8> slices = make_slices();

// Declared extern in the header, so it keeps external linkage.
constexpr std::array<uint32_t, 256> crc32_table = slices[0];
static_assert(crc32_table[1] == 0x77073096u && crc32_table[255] == 0x2D02EF8Du);

// Little-endian word from four bytes, whatever the machine's byte order (one load where that is
// little-endian).
static inline uint32_t le32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t crc32_no_comp(uint32_t crc, const unsigned char *data, size_t length)
{
    for (; length >= 8; data += 8, length -= 8) {
        const uint32_t lo = le32(data) ^ crc;
        const uint32_t hi = le32(data + 4);
        crc = slices[7][lo & 0xFF] ^ slices[6][(lo >> 8) & 0xFF] ^ slices[5][(lo >> 16) & 0xFF] ^
              slices[4][lo >> 24] ^ slices[3][hi & 0xFF] ^ slices[2][(hi >> 8) & 0xFF] ^
              slices[1][(hi >> 16) & 0xFF] ^ slices[0][hi >> 24];
    }
    for (; length > 0; data++, length--)
        crc = crc32_table[(crc ^ *data) & 0xFF] ^ (crc >> 8);
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
