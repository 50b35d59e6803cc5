// The JSON face of a user record: one table of the account keys in the order the account list
// answers them, with where each lives in the record. The login answer, the account list, the OEM
// list and the add/change requests all go through it, so a key is spelled in one place.
#pragma once
#include <cstddef>
#include <cstdint>
#include <json-c/json.h>

#include "user_records.h"

enum class UserFieldRole : uint8_t {
    Id,
    Enable,
    Name,
    Password,
    Type,
    Summary,  // "permission", "remotePermission": -1 or 0 and more
    Right,    // one of the twenty rights, 1 = allowed
    Channels, // a channel string, with its bit mask beside it
};

struct UserField {
    const char *key;
    UserFieldRole role;
    uint16_t offset;
    uint16_t size;        // bytes of the field (a text field counts its NUL)
    uint16_t mask_offset; // Channels: the matching mask
};

#define USER_INT(KEY, ROLE) \
    UserField{#KEY, UserFieldRole::ROLE, offsetof(UserRecord, KEY), 4, 0}
#define USER_TEXT(KEY, ROLE) \
    UserField{#KEY, UserFieldRole::ROLE, offsetof(UserRecord, KEY), sizeof(UserRecord::KEY), 0}
#define USER_CHANNELS(KEY, MASK)                                                                \
    UserField{#KEY, UserFieldRole::Channels, offsetof(UserRecord, KEY), sizeof(UserRecord::KEY), \
              offsetof(UserRecord, MASK)}

// Account keys in list order.
inline constexpr UserField k_user_fields[] = {
    USER_INT(id, Id),
    USER_INT(enable, Enable),
    USER_TEXT(name, Name),
    USER_TEXT(password, Password),
    USER_INT(type, Type),
    USER_INT(permission, Summary),
    USER_INT(localLiveView, Right),
    USER_INT(localPlayback, Right),
    USER_INT(localRetrieve, Right),
    USER_INT(localSmartAnalysis, Right),
    USER_INT(localEvent, Right),
    USER_INT(localCamera, Right),
    USER_INT(localStorage, Right),
    USER_INT(localSettings, Right),
    USER_INT(localStatus, Right),
    USER_INT(localShutdown, Right),
    USER_CHANNELS(localliveview, localMask),
    USER_CHANNELS(localplayback, localPlaybackMask),
    USER_INT(remotePermission, Summary),
    USER_INT(remoteLiveView, Right),
    USER_INT(remotePlayback, Right),
    USER_INT(remoteRetrieve, Right),
    USER_INT(remoteSmartAnalysis, Right),
    USER_INT(remoteEvent, Right),
    USER_INT(remoteCamera, Right),
    USER_INT(remoteStorage, Right),
    USER_INT(remoteSettings, Right),
    USER_INT(remoteStatus, Right),
    USER_INT(remoteShutdown, Right),
    USER_CHANNELS(remoteliveview, remoteMask),
    USER_CHANNELS(remoteplayback, remotePlaybackMask),
};
#undef USER_INT
#undef USER_TEXT
#undef USER_CHANNELS
static_assert(sizeof(k_user_fields) / sizeof(k_user_fields[0]) == 31);

// Adds the field's value under `key` (the field's own key when null).
void add_user_field(json_object *object, const UserRecord &user, const UserField &field,
                    const char *key = nullptr);
// Adds the rights part of an account, "permission" to "remoteplayback", naming the network
// summary `remote_permission_key` (the login answer spells it differently).
void add_user_rights(json_object *object, const UserRecord &user, const char *remote_permission_key);
// The whole account, every key of k_user_fields.
json_object *user_to_json(const UserRecord &user);

int32_t user_field_int(const UserRecord &user, const UserField &field);
void set_user_field_int(UserRecord &user, const UserField &field, int32_t value);
// Stores at most size - 1 characters; the rest of the field is cleared.
void set_user_field_text(UserRecord &user, const UserField &field, const char *text);
// A channel string and the mask made from it.
void set_user_channels(UserRecord &user, const UserField &field, const char *channels);
