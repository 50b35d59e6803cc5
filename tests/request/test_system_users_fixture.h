// Shared pieces of the login and account request tests: a sandbox whose account table the test
// reads and writes directly (through vkdb with the sandbox's own paths; the test process has no
// NVR_ROOT, so vkdb takes them as they are), ready-made accounts and the operation log record a
// handler is expected to send.
#pragma once
#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <string>
#include <vector>

#include "modules/system/user_records.h"
#include "web_utils.h"
#include "webcgi_run.h"

inline const std::string kAdminDigest = "21232f297a57a5a743894a0e4a801fc3"; // "admin"
inline const std::string kDigestA = "0cc175b9c0f1b6a831c399e269772661";     // "a"
inline const std::string kAllChannels(64, '1');

struct UsersBox {
    Sandbox box;
    std::string db() const { return box.path(VKDB_MAIN); }
    std::string oem_db() const { return box.path(VKDB_OEM); }

    void put(const UserRecord &user) const { ASSERT_EQ(write_user(db().c_str(), &user), 0); }
    // The stored record of slot `id` (all zero when there is none).
    UserRecord get(int id) const
    {
        UserRecord user{};
        read_user(db().c_str(), &user, id);
        return user;
    }
    bool stored(int id) const
    {
        UserRecord user{};
        return read_user(db().c_str(), &user, id) == 0;
    }
    std::vector<UserRecord> all() const
    {
        std::vector<UserRecord> users(USER_MAX_COUNT);
        int count = 0;
        read_users(db().c_str(), users.data(), &count);
        users.resize(count);
        return users;
    }
    void set_int(const char *key, int value) const { set_param_int(db().c_str(), key, value); }
    void set_text(const char *key, const char *text) const
    {
        if (check_param_key(db().c_str(), key) != 0)
            add_param_value(db().c_str(), key, text);
        else
            set_param_value(db().c_str(), key, text);
    }
    // Removes parameters that other families may have seeded.
    void drop_params(const std::vector<std::string> &keys) const
    {
        sqlite3 *handle = nullptr;
        ASSERT_EQ(sqlite3_open(db().c_str(), &handle), SQLITE_OK);
        for (const std::string &key : keys) {
            sqlite3_stmt *st = nullptr;
            sqlite3_prepare_v2(handle, "DELETE FROM params WHERE key = ?", -1, &st, nullptr);
            sqlite3_bind_text(st, 1, key.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(st);
            sqlite3_finalize(st);
        }
        sqlite3_close(handle);
    }
};

inline bool same_record(const UserRecord &a, const UserRecord &b)
{
    return std::memcmp(&a, &b, sizeof(UserRecord)) == 0;
}

// An account in use with the given rights pattern; the channel strings are set, the masks too.
inline UserRecord make_user(int id, const char *name, const std::string &digest, int type)
{
    UserRecord user{};
    user.id = id;
    user.enable = 1;
    copy_text(user.name, name);
    copy_text(user.password, digest);
    user.type = type;
    return user;
}

// "bob": every field different from its neighbours, so that a key read from the wrong field
// shows.
inline UserRecord make_bob(int id = 3)
{
    UserRecord user = make_user(id, "bob", kDigestA, 1);
    const int32_t local[10] = {1, 0, 1, 1, 0, 1, 0, 1, 1, 0};
    const int32_t remote[10] = {0, 1, 1, 0, 1, 0, 0, 1, 0, 1};
    std::memcpy(reinterpret_cast<char *>(&user) + offsetof(UserRecord, localLiveView), local, sizeof local);
    std::memcpy(reinterpret_cast<char *>(&user) + offsetof(UserRecord, remoteLiveView), remote, sizeof remote);
    user.permission = 5;
    user.remotePermission = -1;
    copy_text(user.localliveview, "1010");
    copy_text(user.localplayback, "0110");
    copy_text(user.remoteliveview, "1");
    user.localMask = 5;
    user.localPlaybackMask = 6;
    user.remoteMask = 1;
    return user;
}

// The operation log record a handler sends from the web (main type 4).
inline LogRecord expected_log(int64_t sub_type, int parameter, const char *user_name,
                              const char *address = "192.168.1.20")
{
    LogRecord record{};
    record.main_type = LOG_MAIN_OPERATION;
    record.sub_type = sub_type;
    record.parameter = parameter;
    record.remote = 1;
    copy_text(record.client_addr, address);
    copy_text(record.user_name, user_name);
    return record;
}

inline std::string int32_bytes(int32_t value) { return std::string(reinterpret_cast<char *>(&value), 4); }
