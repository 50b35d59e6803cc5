// Reading and writing user record fields through the account key table (user_fields.h). Fields
// are copied with memcpy: records come packed and may sit at any address.
#include "user_fields.h"

#include <cstring>
#include <string_view>

#include "web_utils.h"

namespace {
char *field_at(UserRecord &user, const UserField &field)
{
    return reinterpret_cast<char *>(&user) + field.offset;
}
const char *field_at(const UserRecord &user, const UserField &field)
{
    return reinterpret_cast<const char *>(&user) + field.offset;
}
bool is_text(const UserField &field)
{
    return field.role == UserFieldRole::Name || field.role == UserFieldRole::Password ||
           field.role == UserFieldRole::Channels;
}
} // namespace

int32_t user_field_int(const UserRecord &user, const UserField &field)
{
    int32_t value = 0;
    std::memcpy(&value, field_at(user, field), sizeof value);
    return value;
}

void set_user_field_int(UserRecord &user, const UserField &field, int32_t value)
{
    std::memcpy(field_at(user, field), &value, sizeof value);
}

void set_user_field_text(UserRecord &user, const UserField &field, const char *text)
{
    char *dst = field_at(user, field);
    std::memset(dst, 0, field.size);
    copy_text(dst, field.size, text != nullptr ? text : "");
}

void set_user_channels(UserRecord &user, const UserField &field, const char *channels)
{
    set_user_field_text(user, field, channels);
    uint32_t mask = user_channel_mask(field_at(user, field), field.size);
    std::memcpy(reinterpret_cast<char *>(&user) + field.mask_offset, &mask, sizeof mask);
}

void add_user_field(json_object *object, const UserRecord &user, const UserField &field, const char *key)
{
    json_object *value;
    if (is_text(field)) {
        std::string_view text = field_text(field_at(user, field), field.size);
        value = json_object_new_string_len(text.data(), (int)text.size());
    } else {
        value = json_object_new_int(user_field_int(user, field));
    }
    json_object_object_add(object, key != nullptr ? key : field.key, value);
}

void add_user_rights(json_object *object, const UserRecord &user, const char *remote_permission_key)
{
    bool in_rights = false;
    for (const UserField &field : k_user_fields) {
        if (std::string_view(field.key) == "permission")
            in_rights = true;
        if (!in_rights)
            continue;
        bool remote_summary = std::string_view(field.key) == "remotePermission";
        add_user_field(object, user, field, remote_summary ? remote_permission_key : nullptr);
    }
}

json_object *user_to_json(const UserRecord &user)
{
    json_object *object = json_object_new_object();
    for (const UserField &field : k_user_fields)
        add_user_field(object, user, field);
    return object;
}
