// Config database: the recorder's settings in SQLite files ("/mnt/nand/app/vkdb.db",
// "/mnt/nand/app/anpr.db", "/mnt/nand2/oem.db", sandboxed through nvr_path).
//
// Every call opens the file, works in one transaction and closes it, with a long busy timeout and
// WAL journal, so concurrent webcgi processes and the core daemon never lose a write or fail a
// call because another process holds the file.
//
// Two families:
// - parameters: text keys with integer or text values (get_param_int ...);
// - records: fixed-layout structures stored whole, keyed by kind, table name ("" where no table
//   name applies) and id. A kind is one row of a table of kinds (VkdbKind: name, record size,
//   offset of the 32-bit id inside the record); the documented read_/write_/copy_ functions are
//   thin wrappers over vkdb_read/vkdb_write/... (VKDB_RECORD_FUNCTIONS below writes them).
// A read of a missing record leaves the caller's buffer as it was; missing parameters give the
// caller's default.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr const char *VKDB_MAIN = "/mnt/nand/app/vkdb.db";
constexpr const char *VKDB_ANPR = "/mnt/nand/app/anpr.db";
constexpr const char *VKDB_OEM = "/mnt/nand2/oem.db";

// Parameters.
int get_param_int(const char *db, const char *key, int default_value);
int set_param_int(const char *db, const char *key, int value);          // stores (adds if missing)
int get_param_value(const char *db, const char *key, char *buffer, int size, const char *default_value);
int set_param_value(const char *db, const char *key, const char *text); // existing key only; -1 if missing
int check_param_key(const char *db, const char *key);                   // non-zero: key missing
int add_param_value(const char *db, const char *key, const char *text);

// Records.
struct VkdbKind {
    const char *name;
    uint32_t size;      // bytes of one record
    uint32_t id_offset; // offset of the int32 id (channel, port, user id ...) inside the record
};

// Reads the record `id` into `record` (kind.size bytes); 0, or -1 when missing (buffer untouched).
int vkdb_read(const char *db, const VkdbKind &kind, int id, void *record, const char *table = "");
// Reads all records of the kind in id order into `array` (at most `max` records); stores their
// number in *count. 0 or -1.
int vkdb_read_all(const char *db, const VkdbKind &kind, void *array, int max, int *count,
                  const char *table = "");
// Stores the record under the id it carries.
int vkdb_write(const char *db, const VkdbKind &kind, const void *record, const char *table = "");
// Stores the record under an explicit id (the record's id field is set to `id` in the copy stored).
int vkdb_write_id(const char *db, const VkdbKind &kind, int id, const void *record, const char *table = "");
int vkdb_delete(const char *db, const VkdbKind &kind, int id, const char *table = "");
int vkdb_delete_all(const char *db, const VkdbKind &kind, const char *table = "");
// Writes `record` to every channel n (0-63) whose bit is set in `mask`, with n in its id field.
int vkdb_copy(const char *db, const VkdbKind &kind, const void *record, uint64_t mask,
              const char *table = "");
// Number of stored records of the kind.
int vkdb_count(const char *db, const VkdbKind &kind, const char *table = "");

// read_<kind>(db, record, id), write_<kind>(db, record), read_<kind>s(db, array, count) for a
// record struct TYPE. The array form reads at most MAX records.
#define VKDB_RECORD_FUNCTIONS(NAME, TYPE, KIND, MAX)                                            \
    inline int read_##NAME(const char *db, TYPE *record, int id) { return vkdb_read(db, KIND, id, record); } \
    inline int write_##NAME(const char *db, const TYPE *record) { return vkdb_write(db, KIND, record); }     \
    inline int read_##NAME##s(const char *db, TYPE *array, int *count) { return vkdb_read_all(db, KIND, array, MAX, count); }
