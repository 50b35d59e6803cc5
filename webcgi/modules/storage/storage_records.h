// Binary records of the storage module: the daemon's disk records and request payloads, and the
// config-database kinds (disk, group, eSATA auto backup). Every record is packed, with its size
// and the offset of every field that someone reads asserted, so that webcgi, coresim and the
// recorder's core daemon agree on the bytes on x86-64 and 32-bit ARM alike.
//
// Also included by coresim's storage family and the sandbox seed, which build the same records.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/vkdb/vkdb.h"

constexpr int STORAGE_MAX_DISKS = 36;       // ports 1-36, also answered as "maxDiskNum"
constexpr int STORAGE_MAX_RAID_MEMBERS = 16;
constexpr int STORAGE_MAX_LIST_PORTS = 33;  // ports of one disk-list payload
constexpr int STORAGE_MAX_GROUPS = 16;
constexpr int STORAGE_MAX_QUOTAS = 64;
constexpr int STORAGE_MAX_SHARES = 64;

// Disk type numbers ("hddType"); any other value is a local disk.
constexpr int DISK_TYPE_NFS = 3;
constexpr int DISK_TYPE_RAID = 4;
constexpr int DISK_TYPE_SMB = 10;
inline bool is_network_disk_type(int type) { return type == DISK_TYPE_NFS || type == DISK_TYPE_SMB; }

#pragma pack(push, 1)

// One disk as the core daemon reports it (response 8433).
struct DaemonDiskRecord {
    int32_t port;            // 1-36; the RAID id for an array
    char vendor[64];
    char address[64];
    char directory[128];     // only the first 64 bytes are answered
    int32_t state;
    int32_t usable;
    int32_t reserved0;
    uint64_t total_size;     // bytes
    uint64_t used_size;
    uint64_t free_size;
    int32_t disk_type;
    int32_t group;
    int32_t property;
    int32_t reserved1;
    int32_t raid_level;
    int32_t raid_state;
    int32_t raid_progress;
    int32_t raid_member_count;
    int32_t raid_members[STORAGE_MAX_RAID_MEMBERS];
    char user_name[33];
    char password[33];
    char reserved2[6];
};
static_assert(sizeof(DaemonDiskRecord) == 464);
static_assert(offsetof(DaemonDiskRecord, vendor) == 4);
static_assert(offsetof(DaemonDiskRecord, address) == 68);
static_assert(offsetof(DaemonDiskRecord, directory) == 132);
static_assert(offsetof(DaemonDiskRecord, state) == 260);
static_assert(offsetof(DaemonDiskRecord, usable) == 264);
static_assert(offsetof(DaemonDiskRecord, total_size) == 272);
static_assert(offsetof(DaemonDiskRecord, used_size) == 280);
static_assert(offsetof(DaemonDiskRecord, free_size) == 288);
static_assert(offsetof(DaemonDiskRecord, disk_type) == 296);
static_assert(offsetof(DaemonDiskRecord, group) == 300);
static_assert(offsetof(DaemonDiskRecord, property) == 304);
static_assert(offsetof(DaemonDiskRecord, raid_level) == 312);
static_assert(offsetof(DaemonDiskRecord, raid_state) == 316);
static_assert(offsetof(DaemonDiskRecord, raid_progress) == 320);
static_assert(offsetof(DaemonDiskRecord, raid_member_count) == 324);
static_assert(offsetof(DaemonDiskRecord, raid_members) == 328);
static_assert(offsetof(DaemonDiskRecord, user_name) == 392);
static_assert(offsetof(DaemonDiskRecord, password) == 425);

// One configured disk of the config database (read_disk, read_disks, write_disk).
struct DiskConfigRecord {
    int32_t port;
    int32_t enable;          // 1 for a configured network disk
    char vendor[64];
    char address[64];        // server
    char directory[128];
    int32_t disk_type;
    int32_t group;
    int32_t property;
    int32_t reserved0;
    char user_name[33];      // stored decoded
    char password[33];
    char reserved1[2];
};
static_assert(sizeof(DiskConfigRecord) == 348);
static_assert(offsetof(DiskConfigRecord, enable) == 4);
static_assert(offsetof(DiskConfigRecord, vendor) == 8);
static_assert(offsetof(DiskConfigRecord, address) == 72);
static_assert(offsetof(DiskConfigRecord, directory) == 136);
static_assert(offsetof(DiskConfigRecord, disk_type) == 264);
static_assert(offsetof(DiskConfigRecord, group) == 268);
static_assert(offsetof(DiskConfigRecord, property) == 272);
static_assert(offsetof(DiskConfigRecord, user_name) == 280);
static_assert(offsetof(DiskConfigRecord, password) == 313);

// Request 3435: a disk's new property and group (sent without waiting).
struct DiskSettingsPayload {
    int32_t port;
    int32_t property;
    int32_t group;
    int32_t zero;
};
static_assert(sizeof(DiskSettingsPayload) == 16);

// Requests 3420 (create) and 3421 (remove: id only).
struct RaidPayload {
    int32_t id;
    int32_t enable;
    int32_t level;
    int32_t zero0[2];
    int32_t member_count;
    int32_t members[STORAGE_MAX_RAID_MEMBERS];
    int32_t zero1[4];
};
static_assert(sizeof(RaidPayload) == 104);
static_assert(offsetof(RaidPayload, enable) == 4);
static_assert(offsetof(RaidPayload, level) == 8);
static_assert(offsetof(RaidPayload, member_count) == 20);
static_assert(offsetof(RaidPayload, members) == 24);

// Request 3425: rebuild an array onto a disk.
struct RaidRebuildPayload {
    int32_t disk_port;
    int32_t raid_port;
};
static_assert(sizeof(RaidRebuildPayload) == 8);

// Log detail of a format (code 102).
struct FormatLogDetail {
    char zero[64];
    int32_t port;
    int32_t result;          // 1 formatted, -1 not
};
static_assert(sizeof(FormatLogDetail) == 72);
static_assert(offsetof(FormatLogDetail, port) == 64);
static_assert(offsetof(FormatLogDetail, result) == 68);

// Requests 3507 (add) and 3508 (delete): a list of ports.
struct DiskListPayload {
    int32_t count;
    int32_t ports[STORAGE_MAX_LIST_PORTS];
};
static_assert(sizeof(DiskListPayload) == 136);
static_assert(offsetof(DiskListPayload, ports) == 4);

// Log detail of a network disk (codes 101 and 110).
struct NetDiskLogDetail {
    char protocol[16];       // "NFS", "SMB/CIFS" or empty
    char address[64];
    char directory[128];
};
static_assert(sizeof(NetDiskLogDetail) == 208);
static_assert(offsetof(NetDiskLogDetail, address) == 16);
static_assert(offsetof(NetDiskLogDetail, directory) == 80);

// Request 3440: search the shares of a server.
struct ShareSearchPayload {
    int32_t port;
    char server[64];
};
static_assert(sizeof(ShareSearchPayload) == 68);

// Response 8440: the shares found.
struct ShareListRecord {
    int32_t count;
    char paths[STORAGE_MAX_SHARES][256];
};
static_assert(sizeof(ShareListRecord) == 16388);
static_assert(offsetof(ShareListRecord, paths) == 4);

// Request 3475 and response 8431: recycle (overwrite) mode.
struct RecycleModeRecord {
    int32_t mode;
    int32_t esata;
};
static_assert(sizeof(RecycleModeRecord) == 8);

// Response 8403: SMART self-evaluation of one disk.
struct SmartResultRecord {
    int32_t port;
    int32_t reserved[2];
    char evaluation[28];     // "PASSED" when the disk passed; may lack its NUL
};
static_assert(sizeof(SmartResultRecord) == 40);
static_assert(offsetof(SmartResultRecord, evaluation) == 12);

// One channel's storage quota (request 3530, response 8529).
struct QuotaEntry {
    uint8_t channel;
    uint8_t zero[3];
    int32_t video_quota;
    int32_t picture_quota;
    int32_t video_used;      // zero in requests
    int32_t picture_used;
};
static_assert(sizeof(QuotaEntry) == 20);
static_assert(offsetof(QuotaEntry, video_quota) == 4);
static_assert(offsetof(QuotaEntry, picture_quota) == 8);
static_assert(offsetof(QuotaEntry, video_used) == 12);
static_assert(offsetof(QuotaEntry, picture_used) == 16);

struct QuotaPayload {
    int32_t enable;
    int32_t count;
    QuotaEntry entries[STORAGE_MAX_QUOTAS];
};
static_assert(sizeof(QuotaPayload) == 1288);
static_assert(offsetof(QuotaPayload, count) == 4);
static_assert(offsetof(QuotaPayload, entries) == 8);

// A disk group of the config database (read_groups); also the rename payload of request 3436.
struct GroupRecord {
    int32_t id;
    char name[65];
    char second[65];         // passed through unchanged
    char unused[2];
};
static_assert(sizeof(GroupRecord) == 136);
static_assert(offsetof(GroupRecord, name) == 4);
static_assert(offsetof(GroupRecord, second) == 69);

// eSATA automatic backup settings (read_esata_auto_backup, write_esata_auto_backup).
struct EsataAutoBackupRecord {
    int32_t enable;
    int32_t zero0;           // also the record's id in the config database (always 0)
    char backup_time[32];
    int32_t stream_type;
    int32_t file_type;
    int32_t recycle;
    char channel[65];
    char zero1[3];
    int32_t device;
    int32_t port;
};
static_assert(sizeof(EsataAutoBackupRecord) == 128);
static_assert(offsetof(EsataAutoBackupRecord, zero0) == 4);
static_assert(offsetof(EsataAutoBackupRecord, backup_time) == 8);
static_assert(offsetof(EsataAutoBackupRecord, stream_type) == 40);
static_assert(offsetof(EsataAutoBackupRecord, file_type) == 44);
static_assert(offsetof(EsataAutoBackupRecord, recycle) == 48);
static_assert(offsetof(EsataAutoBackupRecord, channel) == 52);
static_assert(offsetof(EsataAutoBackupRecord, device) == 120);
static_assert(offsetof(EsataAutoBackupRecord, port) == 124);

// Response 6317: progress of the running eSATA backup.
struct BackupProgressRecord {
    int32_t status;
    char last_time[32];
    float percent;
    int32_t capacity;
    int32_t reserved;
};
static_assert(sizeof(BackupProgressRecord) == 48);
static_assert(offsetof(BackupProgressRecord, last_time) == 4);
static_assert(offsetof(BackupProgressRecord, percent) == 36);
static_assert(offsetof(BackupProgressRecord, capacity) == 40);

// Response 8457: one candidate export disk.
constexpr int32_t EXPORT_DISK_MARKER = 5;
struct ExportDiskRecord {
    uint8_t port;
    char reserved0[151];
    int32_t marker;          // EXPORT_DISK_MARKER for the export disk
    char reserved1[28];
};
static_assert(sizeof(ExportDiskRecord) == 184);
static_assert(offsetof(ExportDiskRecord, marker) == 152);

// Response 8540: state of a running format.
struct FormatInfoRecord {
    int32_t status;
    uint8_t percent;
    uint8_t port;
    uint8_t zero[2];
    int32_t type;
};
static_assert(sizeof(FormatInfoRecord) == 12);
static_assert(offsetof(FormatInfoRecord, percent) == 4);
static_assert(offsetof(FormatInfoRecord, port) == 5);
static_assert(offsetof(FormatInfoRecord, type) == 8);

#pragma pack(pop)

// Config-database kinds.
inline constexpr VkdbKind k_disk_kind{"disk", sizeof(DiskConfigRecord), offsetof(DiskConfigRecord, port)};
inline constexpr VkdbKind k_group_kind{"disk_group", sizeof(GroupRecord), offsetof(GroupRecord, id)};
inline constexpr VkdbKind k_esata_auto_backup_kind{"esata_auto_backup", sizeof(EsataAutoBackupRecord),
                                                   offsetof(EsataAutoBackupRecord, zero0)};

VKDB_RECORD_FUNCTIONS(disk, DiskConfigRecord, k_disk_kind, STORAGE_MAX_DISKS)
VKDB_RECORD_FUNCTIONS(group, GroupRecord, k_group_kind, STORAGE_MAX_GROUPS)

// The eSATA auto-backup settings are a single record.
inline int read_esata_auto_backup(const char *db, EsataAutoBackupRecord *record)
{
    return vkdb_read(db, k_esata_auto_backup_kind, 0, record);
}
inline int write_esata_auto_backup(const char *db, const EsataAutoBackupRecord *record)
{
    return vkdb_write_id(db, k_esata_auto_backup_kind, 0, record);
}
