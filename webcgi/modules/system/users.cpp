// User management family: the account list ("/6070"), adding ("/6071"), changing ("/6072") and
// deleting ("/6073") accounts, the OEM account list ("/6074"), and the requests that hand the
// PoE-camera password work and the account-change notice to the core daemon ("/6075"-"/6077").
//
// Accounts are the user records of user_records.h, read and written whole; after each change
// the core daemon is told (request 3505) so that it reloads them. Check-and-write sequences
// (name unique, free slot, slot in use) hold an advisory lock so that two pages saving at once
// cannot both take the same slot or the same name.
#include "users.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <sys/stat.h>

#include "ipc.h"
#include "json_answer.h"
#include "nvr_path.h"
#include "system.h"
#include "user_fields.h"
#include "user_records.h"
#include "web_utils.h"

namespace {
constexpr int REQ_USERS_CHANGED = 3505;
constexpr int REQ_POE_PASSWORD = 3265;
constexpr int REQ_POE_PASSWORD_NOWAIT = 3267;
constexpr int LOG_SUB_SETTINGS = 204;
constexpr int LOG_PARAMETER_USER_ADDED = 921;
constexpr int LOG_PARAMETER_USER_DELETED = 922;

constexpr const char *k_user_lock = "/tmp/user_records.lock";

// Holds the account lock for its lifetime (no lock when the file cannot be made).
struct UserLock {
    int descriptor;
    UserLock() : descriptor(file_lock(k_user_lock)) {}
    ~UserLock() { file_unlock(descriptor); }
    UserLock(const UserLock &) = delete;
    UserLock &operator=(const UserLock &) = delete;
};

void answer_text(const char *text) { cgi_writeback_webserver(CGI_TEXT, text); }

void send_user_log(int parameter)
{
    LogRecord record;
    cgi_init_log_info(&record);
    record.main_type = LOG_MAIN_OPERATION;
    record.sub_type = LOG_SUB_SETTINGS;
    record.parameter = parameter;
    cgi_send_log(&record);
}

void send_users_changed(int32_t id) { cgi_send_notice(REQ_USERS_CHANGED, &id, sizeof id); }

// A text member into `buffer` (at most size - 1 characters); false when absent.
template <size_t N> bool member_text(json_object *body, const char *key, char (&buffer)[N])
{
    return on_cgi_get_string_from_json(body, key, buffer, (int)N) == 0;
}

bool member_int(json_object *body, const char *key, int *value)
{
    return on_cgi_get_int_from_json(body, key, value) == 0;
}

// An account id or type: a JSON integer, or a text that is one whole decimal integer. Anything
// else would read as 0 and select the administrator's slot.
bool member_number(json_object *body, const char *key, int *value)
{
    json_object *member = nullptr;
    if (!json_object_object_get_ex(body, key, &member))
        return false;
    if (json_object_is_type(member, json_type_int)) {
        int64_t number = json_object_get_int64(member);
        if (number < INT32_MIN || number > INT32_MAX)
            return false;
        *value = (int)number;
        return true;
    }
    if (!json_object_is_type(member, json_type_string))
        return false;
    const char *text = json_object_get_string(member);
    char *end = nullptr;
    errno = 0;
    long long number = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || number < INT32_MIN || number > INT32_MAX)
        return false;
    *value = (int)number;
    return true;
}

bool summary_valid(int value) { return value == -1 || value >= 0; }

// Takes the twenty rights present in the request.
void take_rights(json_object *body, UserRecord &user)
{
    for (const UserField &field : k_user_fields) {
        int value;
        if (field.role == UserFieldRole::Right && member_int(body, field.key, &value))
            set_user_field_int(user, field, value);
    }
}

// Takes the channel strings present in the request; with `with_masks` also their masks.
void take_channels(json_object *body, UserRecord &user, bool with_masks)
{
    for (const UserField &field : k_user_fields) {
        char channels[USER_CHANNEL_STRING + 1] = "";
        if (field.role != UserFieldRole::Channels || !member_text(body, field.key, channels))
            continue;
        if (with_masks)
            set_user_channels(user, field, channels);
        else
            set_user_field_text(user, field, channels);
    }
}

const UserField &user_field(std::string_view key)
{
    for (const UserField &field : k_user_fields)
        if (key == field.key)
            return field;
    return k_user_fields[0];
}

// Another account in use (not `own_id`) already carries `name`.
bool name_taken(const char *name, int own_id)
{
    UserRecord other{};
    other.id = -1;
    return read_user_by_name(VKDB_MAIN, &other, name) == 0 && other.id >= 0 && other.id != own_id;
}
} // namespace

int check_user_info(json_object *body)
{
    int type, permission, remote_permission;
    if (!member_number(body, "type", &type) || type < 0 || type > USER_TYPE_MAX)
        return -1;
    if (!member_number(body, "permission", &permission) || !summary_valid(permission))
        return -1;
    if (!member_number(body, "remotePermission", &remote_permission) || !summary_valid(remote_permission))
        return -1;
    return 0;
}

int on_get_user_list(const char *request)
{
    std::array<UserRecord, USER_MAX_COUNT> users{};
    int count = 0;
    if (read_users(VKDB_MAIN, users.data(), &count) != 0 || count < 0 || count > USER_MAX_COUNT)
        count = 0;
    JsonPtr list(json_object_new_array());
    for (int i = 0; i < count; ++i)
        if (users[i].enable != 0)
            json_object_array_add(list.get(), user_to_json(users[i]));
    json_answer(list.get());
    return 0;
}

int on_set_user_add(const char *request)
{
    if (read_user_count(VKDB_MAIN) > USER_MAX_COUNT - 1) {
        answer_text("FAILED_FULL");
        return 0;
    }
    JsonPtr body = json_parse_object(request);
    if (!body || check_user_info(body.get()) != 0)
        return -1;

    UserRecord user{};
    user.enable = 1;
    char name[sizeof user.name] = "";
    char password[sizeof user.password] = "";
    member_text(body.get(), "name", name);
    member_text(body.get(), "password", password);
    copy_text(user.name, name);
    copy_text(user.password, password);
    int value = 0;
    member_int(body.get(), "type", &value);
    user.type = value;
    member_int(body.get(), "permission", &value);
    user.permission = value;
    member_int(body.get(), "remotePermission", &value);
    user.remotePermission = value;
    take_channels(body.get(), user, true);
    take_rights(body.get(), user);

    {
        UserLock lock;
        // The page's rule looks the name up by its first 31 characters; the whole name is looked
        // up too, so that two accounts never share a longer name.
        char short_name[32] = "";
        copy_text(short_name, name);
        if (name_taken(short_name, -1) || name_taken(name, -1)) {
            answer_text("SAMEUSER");
            return 0;
        }
        if (add_user(VKDB_MAIN, &user) != 0) {
            answer_text("FAILED_FULL");
            return 0;
        }
    }
    cgi_send_notice(REQ_USERS_CHANGED, nullptr, 0);
    send_user_log(LOG_PARAMETER_USER_ADDED);
    char answer[32];
    std::snprintf(answer, sizeof answer, "id=%d", user.id);
    answer_text(answer);
    return 0;
}

int on_set_user_modify(const char *request)
{
    JsonPtr body = json_parse_object(request);
    int id = -1;
    if (!body || !member_number(body.get(), "id", &id) || id < 0 || id >= USER_MAX_COUNT)
        return -1;
    {
        UserLock lock;
        // Only an account in use can be changed: a free slot would come back as a new account
        // with whatever the request carries.
        UserRecord user{};
        if (read_user(VKDB_MAIN, &user, id) != 0 || user.enable == 0)
            return -1;
        char name[sizeof user.name] = "";
        if (member_text(body.get(), "name", name)) {
            if (name_taken(name, id)) {
                answer_text("SAMEUSER");
                return 0;
            }
            set_user_field_text(user, user_field("name"), name);
        }
        char password[sizeof user.password] = "";
        if (member_text(body.get(), "password", password))
            set_user_field_text(user, user_field("password"), password);
        int type;
        if (member_int(body.get(), "type", &type))
            user.type = type;
        take_rights(body.get(), user);
        take_channels(body.get(), user, false);
        user.id = id;
        write_user(VKDB_MAIN, &user);
    }
    send_users_changed(id);
    answer_text("OK");
    return 0;
}

int on_set_user_delete(const char *request)
{
    JsonPtr body = json_parse_object(request);
    int id = -1, type = -1;
    if (!body || !member_number(body.get(), "id", &id) || id < 0 || id >= USER_MAX_COUNT)
        return -1;
    if (!member_number(body.get(), "type", &type) || type < 0 || type > USER_TYPE_MAX)
        return -1;
    {
        UserLock lock;
        UserRecord cleared{};
        cleared.id = id;
        write_user(VKDB_MAIN, &cleared);
    }
    send_users_changed(id);
    send_user_log(LOG_PARAMETER_USER_DELETED);
    answer_text("OK");
    return 0;
}

int on_get_oem_user_list(const char *request)
{
    struct stat st;
    if (stat(nvr_path(VKDB_OEM).c_str(), &st) != 0)
        return -1;
    std::array<UserRecord, USER_MAX_COUNT> users{};
    int count = 0;
    if (read_users_oem(users.data(), &count) != 0 || count < 0 || count > USER_MAX_COUNT)
        count = 0;
    constexpr const char *keys[] = {"id", "enable", "name", "password", "type", "permission",
                                    "remotePermission"};
    JsonPtr list(json_object_new_array());
    for (int i = 0; i < count; ++i) {
        if (users[i].enable == 0)
            continue;
        json_object *account = json_object_new_object();
        for (const char *key : keys)
            add_user_field(account, users[i], user_field(key));
        json_object_array_add(list.get(), account);
    }
    json_answer(list.get());
    return 0;
}

int on_set_poe_camera_password(const char *request)
{
    cgi_start_ipc(on_system_ipc_callback, REQ_POE_PASSWORD, 0, nullptr, 0);
    if (g_callback_done == 0)
        cgi_error_to_webserver(CGI_JSON);
    cgi_stop_ipc();
    return 0;
}

int on_set_poe_camera_password_cb(int count, const void *payload)
{
    if (count < 1)
        return -1;
    int32_t result = 0;
    std::memcpy(&result, payload, sizeof result);
    char text[16];
    std::snprintf(text, sizeof text, "%d", (int)result);
    answer_text(text);
    g_callback_done = 1;
    return 0;
}

int on_set_poe_camera_password_nowait(const char *request)
{
    cgi_send_notice(REQ_POE_PASSWORD_NOWAIT, nullptr, 0);
    answer_text("OK");
    return 0;
}

int on_set_user_notify(const char *request)
{
    cgi_send_notice(REQ_USERS_CHANGED, nullptr, 0);
    answer_text("OK");
    return 0;
}
