// The user record: one recorder account per slot (ids 0-99) in the config database, with its
// password digest, type, the twenty local/remote rights, the two permission summaries and the
// four per-channel strings with their bit masks. The login (login.cpp), the account pages
// (users.cpp) and the sandbox seed read and write it through the functions declared here; the
// OEM build keeps records of the same layout in "/mnt/nand2/oem.db".
//
// A free slot is a record whose enable field is 0 (a deleted account is written back as an
// all-zero record carrying only its id), or no record at all.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vkdb/vkdb.h"

constexpr int USER_MAX_COUNT = 100;      // slots 0-99
constexpr int USER_CHANNEL_STRING = 64;  // characters of a channel string
constexpr int USER_MASK_CHANNELS = 32;   // channels a channel mask represents
constexpr int USER_RIGHT_COUNT = 10;     // rights of each side (local, remote)
constexpr int USER_TYPE_MAX = 3;         // types 0-3
constexpr int USER_TYPE_NO_WEB = 3;      // never admitted to the web interface

#pragma pack(push, 1)
struct UserRecord {
    int32_t id;
    int32_t enable;
    char name[64];
    char password[33]; // MD5 digest as 32 hexadecimal characters
    char pad0[3];
    int32_t type;
    char reserved0[4];
    char localliveview[65];
    char localplayback[65];
    char remoteliveview[65];
    char remoteplayback[65];
    char reserved1[48];
    int32_t localLiveView;
    int32_t localPlayback;
    int32_t localRetrieve;
    int32_t localSmartAnalysis;
    int32_t localEvent;
    int32_t localCamera;
    int32_t localStorage;
    int32_t localSettings;
    int32_t localStatus;
    int32_t localShutdown;
    int32_t remoteLiveView;
    int32_t remotePlayback;
    int32_t remoteRetrieve;
    int32_t remoteSmartAnalysis;
    int32_t remoteEvent;
    int32_t remoteCamera;
    int32_t remoteStorage;
    int32_t remoteSettings;
    int32_t remoteStatus;
    int32_t remoteShutdown;
    int32_t permission;
    int32_t remotePermission;
    uint32_t localMask;
    uint32_t localPlaybackMask;
    uint32_t remoteMask;
    uint32_t remotePlaybackMask;
};
#pragma pack(pop)
static_assert(sizeof(UserRecord) == 528);
static_assert(offsetof(UserRecord, id) == 0);
static_assert(offsetof(UserRecord, enable) == 4);
static_assert(offsetof(UserRecord, name) == 8);
static_assert(offsetof(UserRecord, password) == 72);
static_assert(offsetof(UserRecord, type) == 108);
static_assert(offsetof(UserRecord, localliveview) == 116);
static_assert(offsetof(UserRecord, localplayback) == 181);
static_assert(offsetof(UserRecord, remoteliveview) == 246);
static_assert(offsetof(UserRecord, remoteplayback) == 311);
static_assert(offsetof(UserRecord, localLiveView) == 424);
static_assert(offsetof(UserRecord, localPlayback) == 428);
static_assert(offsetof(UserRecord, localRetrieve) == 432);
static_assert(offsetof(UserRecord, localSmartAnalysis) == 436);
static_assert(offsetof(UserRecord, localEvent) == 440);
static_assert(offsetof(UserRecord, localCamera) == 444);
static_assert(offsetof(UserRecord, localStorage) == 448);
static_assert(offsetof(UserRecord, localSettings) == 452);
static_assert(offsetof(UserRecord, localStatus) == 456);
static_assert(offsetof(UserRecord, localShutdown) == 460);
static_assert(offsetof(UserRecord, remoteLiveView) == 464);
static_assert(offsetof(UserRecord, remotePlayback) == 468);
static_assert(offsetof(UserRecord, remoteRetrieve) == 472);
static_assert(offsetof(UserRecord, remoteSmartAnalysis) == 476);
static_assert(offsetof(UserRecord, remoteEvent) == 480);
static_assert(offsetof(UserRecord, remoteCamera) == 484);
static_assert(offsetof(UserRecord, remoteStorage) == 488);
static_assert(offsetof(UserRecord, remoteSettings) == 492);
static_assert(offsetof(UserRecord, remoteStatus) == 496);
static_assert(offsetof(UserRecord, remoteShutdown) == 500);
static_assert(offsetof(UserRecord, permission) == 504);
static_assert(offsetof(UserRecord, remotePermission) == 508);
static_assert(offsetof(UserRecord, localMask) == 512);
static_assert(offsetof(UserRecord, localPlaybackMask) == 516);
static_assert(offsetof(UserRecord, remoteMask) == 520);
static_assert(offsetof(UserRecord, remotePlaybackMask) == 524);

inline constexpr VkdbKind k_user_kind{"user", sizeof(UserRecord), offsetof(UserRecord, id)};

// read_user(db, record, id), write_user(db, record), read_users(db, array, count).
VKDB_RECORD_FUNCTIONS(user, UserRecord, k_user_kind, USER_MAX_COUNT)

// The records of the OEM account database, in id order.
inline int read_users_oem(UserRecord *array, int *count)
{
    return vkdb_read_all(VKDB_OEM, k_user_kind, array, USER_MAX_COUNT, count);
}

// The account in use whose name is exactly `name`, into `record`: 0, or -1 with `record` left as
// it was. Free slots and empty names never match, so a cleared slot cannot be signed into.
int read_user_by_name(const char *db, UserRecord *record, const char *name);
// Number of accounts in use.
int read_user_count(const char *db);
// Stores `record` in the lowest free slot and sets its id: 0, or -1 when every slot is taken.
int add_user(const char *db, UserRecord *record);

// Channel mask of a channel string: bit i for character i == '1', channels 0-31 only.
inline uint32_t user_channel_mask(const char *channels, size_t size)
{
    uint32_t mask = 0;
    for (size_t i = 0; i < size && i < (size_t)USER_MASK_CHANNELS && channels[i] != '\0'; ++i)
        if (channels[i] == '1')
            mask |= 1u << i;
    return mask;
}
