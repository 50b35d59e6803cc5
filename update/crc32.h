// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320), the checksum of every part of an
// upgrade image and of each boot environment copy. Same results as zlib's crc32: start from 0
// and pass the running value back in to continue across reads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <array>

// The 256-entry table, built at compile time.
extern const std::array<uint32_t, 256> crc32_table;

// Running CRC with the usual complements: crc32(0, "abc", 3) == 0x352441C2, and
// crc32(crc32(0, a, n), b, m) == crc32 of a followed by b.
uint32_t crc32(uint32_t crc, const unsigned char *data, size_t length);

// The bare table loop without the complements before and after:
// crc32(c, d, n) == ~crc32_no_comp(~c, d, n).
uint32_t crc32_no_comp(uint32_t crc, const unsigned char *data, size_t length);

// As crc32, computed in bounded chunks (the boot loader's watchdog-friendly variant).
uint32_t crc32_wd(uint32_t crc, const unsigned char *data, size_t length);
