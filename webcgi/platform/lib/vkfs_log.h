// Log detail packing of the recorder's file-system and log library: places a handler's binary
// detail block (a network disk's protocol and share, a format result, a camera's address ...)
// into the 512-byte detail area of an operation log record (common/web_utils.h), where log
// searches later read it back as 128 big-endian 32-bit words.
//
// Layout of a packed detail area: word 0 the detail code, word 1 the block length in bytes (both
// big-endian, so that a reader of the 128 words sees them as they are), then the block's bytes as
// the handler laid them out, then zeros. One block per record: packing replaces what the area
// held before.
#pragma once

struct LogRecord;

constexpr int VKFS_LOG_DETAIL_AREA = 512;
constexpr int VKFS_LOG_DETAIL_HEADER = 8;
constexpr int VKFS_LOG_DETAIL_MAX_BLOCK = VKFS_LOG_DETAIL_AREA - VKFS_LOG_DETAIL_HEADER;

// Packs `block` (`length` bytes, 0 to VKFS_LOG_DETAIL_MAX_BLOCK) under `code`. Returns 0, or -1
// (record untouched) for a null record, a null block with a length, or a block that does not fit.
int vkfs_log_pack_detail(LogRecord *record, int code, const void *block, int length);

// Reads a packed block back: stores its code in *code and copies at most `size` bytes of it into
// `block`. Returns the block's length, or -1 when the area holds no valid packed block.
int vkfs_log_unpack_detail(const LogRecord *record, int *code, void *block, int size);
