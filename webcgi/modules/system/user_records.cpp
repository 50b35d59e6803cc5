// Account lookups over the user records (user_records.h): by name, the count of accounts in use,
// and the slot choice of a new account. Every function reads the whole table of at most 100
// records, which is one small database read.
#include "user_records.h"

#include <array>

#include "web_utils.h"

namespace {
bool user_in_use(const UserRecord &record) { return record.enable != 0; }

// All stored records in id order, and their number.
int read_user_table(const char *db, std::array<UserRecord, USER_MAX_COUNT> &table, int *count)
{
    *count = 0;
    table = {};
    if (read_users(db, table.data(), count) != 0) {
        *count = 0;
        return -1;
    }
    if (*count < 0 || *count > USER_MAX_COUNT)
        *count = 0;
    return 0;
}
} // namespace

int read_user_by_name(const char *db, UserRecord *record, const char *name)
{
    if (record == nullptr || name == nullptr || name[0] == '\0')
        return -1;
    std::array<UserRecord, USER_MAX_COUNT> table;
    int count = 0;
    read_user_table(db, table, &count);
    for (int i = 0; i < count; ++i) {
        const UserRecord &candidate = table[i];
        if (user_in_use(candidate) && field_text(candidate.name) == name) {
            std::memcpy(record, &candidate, sizeof(UserRecord));
            return 0;
        }
    }
    return -1;
}

int read_user_count(const char *db)
{
    std::array<UserRecord, USER_MAX_COUNT> table;
    int count = 0;
    read_user_table(db, table, &count);
    int in_use = 0;
    for (int i = 0; i < count; ++i)
        if (user_in_use(table[i]))
            ++in_use;
    return in_use;
}

int add_user(const char *db, UserRecord *record)
{
    std::array<UserRecord, USER_MAX_COUNT> table;
    int count = 0;
    read_user_table(db, table, &count);
    std::array<bool, USER_MAX_COUNT> taken{};
    for (int i = 0; i < count; ++i)
        if (user_in_use(table[i]) && table[i].id >= 0 && table[i].id < USER_MAX_COUNT)
            taken[table[i].id] = true;
    for (int id = 0; id < USER_MAX_COUNT; ++id) {
        if (!taken[id]) {
            record->id = id;
            return write_user(db, record);
        }
    }
    return -1;
}
