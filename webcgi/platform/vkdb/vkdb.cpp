// Config database on SQLite (see vkdb.h). Schema, the same in all three files:
//   params(key TEXT PRIMARY KEY, value TEXT)
//   records(kind TEXT, tbl TEXT, id INTEGER, data BLOB, PRIMARY KEY(kind, tbl, id))
// Each call opens the file, runs in one transaction (BEGIN IMMEDIATE for writes, so that two
// writers queue up instead of failing), and closes it. A busy file is waited for.
#include "vkdb.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "sandbox/nvr_path.h"

namespace {

constexpr int k_busy_timeout_ms = 30000;
constexpr int k_busy_retries = 200;

// One open connection for the duration of a call.
struct Db {
    sqlite3 *handle = nullptr;
    ~Db()
    {
        if (handle)
            sqlite3_close_v2(handle);
    }
};

void make_parent_dirs(const std::string &path)
{
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1))
        mkdir(path.substr(0, pos).c_str(), 0755);
}

bool exec(sqlite3 *db, const char *sql)
{
    for (int attempt = 0; attempt < k_busy_retries; ++attempt) {
        int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            return true;
        if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED)
            return false;
        usleep(10000);
    }
    return false;
}

bool open_db(const char *recorder_path, Db &db)
{
    if (recorder_path == nullptr)
        return false;
    std::string path = nvr_path(recorder_path);
    if (access(path.c_str(), F_OK) != 0)
        make_parent_dirs(path);
    if (sqlite3_open_v2(path.c_str(), &db.handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
        return false;
    sqlite3_busy_timeout(db.handle, k_busy_timeout_ms);
    // Keep the write-ahead log between calls instead of creating and deleting it every time.
    int persist = 1;
    sqlite3_file_control(db.handle, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    // Creating the schema is idempotent; journal_mode=WAL persists in the file once set.
    static const char *schema =
        "CREATE TABLE IF NOT EXISTS params(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
        "CREATE TABLE IF NOT EXISTS records(kind TEXT NOT NULL, tbl TEXT NOT NULL, id INTEGER NOT NULL,"
        " data BLOB NOT NULL, PRIMARY KEY(kind, tbl, id));";
    sqlite3_stmt *st = nullptr;
    bool have_schema = false;
    if (sqlite3_prepare_v2(db.handle, "SELECT count(*) FROM sqlite_master WHERE name='records'", -1, &st, nullptr) ==
        SQLITE_OK) {
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_BUSY)
            usleep(10000);
        have_schema = rc == SQLITE_ROW && sqlite3_column_int(st, 0) > 0;
    }
    sqlite3_finalize(st);
    if (!have_schema) {
        exec(db.handle, "PRAGMA journal_mode=WAL");
        if (!exec(db.handle, schema))
            return false;
    }
    return true;
}

// Runs `work` inside one transaction; a write transaction takes the write lock at its start.
bool transaction(const char *file, bool write, const std::function<bool(sqlite3 *)> &work)
{
    Db db;
    if (!open_db(file, db))
        return false;
    if (!exec(db.handle, write ? "BEGIN IMMEDIATE" : "BEGIN"))
        return false;
    bool ok = work(db.handle);
    if (ok)
        ok = exec(db.handle, "COMMIT");
    if (!ok)
        exec(db.handle, "ROLLBACK");
    return ok;
}

// A prepared statement that finalises itself; step() waits out a busy file.
struct Stmt {
    sqlite3_stmt *st = nullptr;
    Stmt(sqlite3 *db, const char *sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK)
            st = nullptr;
    }
    ~Stmt() { sqlite3_finalize(st); }
    explicit operator bool() const { return st != nullptr; }
    Stmt &text(int i, const char *v)
    {
        sqlite3_bind_text(st, i, v ? v : "", -1, SQLITE_TRANSIENT);
        return *this;
    }
    Stmt &integer(int i, int64_t v)
    {
        sqlite3_bind_int64(st, i, v);
        return *this;
    }
    Stmt &blob(int i, const void *data, int size)
    {
        sqlite3_bind_blob(st, i, data, size, SQLITE_TRANSIENT);
        return *this;
    }
    int step()
    {
        int rc;
        int attempts = 0;
        while ((rc = sqlite3_step(st)) == SQLITE_BUSY && attempts++ < k_busy_retries)
            usleep(10000);
        return rc;
    }
};

bool get_param_text(const char *db, const char *key, std::string &out)
{
    bool found = false;
    transaction(db, false, [&](sqlite3 *h) {
        Stmt s(h, "SELECT value FROM params WHERE key=?");
        if (!s)
            return false;
        s.text(1, key);
        if (s.step() == SQLITE_ROW) {
            const unsigned char *v = sqlite3_column_text(s.st, 0);
            out = v ? reinterpret_cast<const char *>(v) : "";
            found = true;
        }
        return true;
    });
    return found;
}

bool put_param(const char *db, const char *key, const char *value, bool must_exist, bool must_be_new)
{
    if (key == nullptr || value == nullptr)
        return false;
    bool stored = false;
    transaction(db, true, [&](sqlite3 *h) {
        Stmt probe(h, "SELECT 1 FROM params WHERE key=?");
        if (!probe)
            return false;
        probe.text(1, key);
        bool exists = probe.step() == SQLITE_ROW;
        if ((must_exist && !exists) || (must_be_new && exists))
            return true;
        Stmt s(h, "INSERT OR REPLACE INTO params(key, value) VALUES(?, ?)");
        if (!s)
            return false;
        s.text(1, key).text(2, value);
        stored = s.step() == SQLITE_DONE;
        return stored;
    });
    return stored;
}

int32_t record_id(const VkdbKind &kind, const void *record)
{
    int32_t id = 0;
    std::memcpy(&id, static_cast<const char *>(record) + kind.id_offset, sizeof id);
    return id;
}

bool store_record(sqlite3 *h, const VkdbKind &kind, const char *table, int id, const void *record)
{
    Stmt s(h, "INSERT OR REPLACE INTO records(kind, tbl, id, data) VALUES(?, ?, ?, ?)");
    if (!s)
        return false;
    if (kind.id_offset + sizeof(int32_t) <= kind.size && record_id(kind, record) != id) {
        std::string copy(static_cast<const char *>(record), kind.size);
        int32_t v = id;
        std::memcpy(copy.data() + kind.id_offset, &v, sizeof v);
        s.text(1, kind.name).text(2, table).integer(3, id).blob(4, copy.data(), static_cast<int>(kind.size));
    } else {
        s.text(1, kind.name).text(2, table).integer(3, id).blob(4, record, static_cast<int>(kind.size));
    }
    return s.step() == SQLITE_DONE;
}

} // namespace

int get_param_int(const char *db, const char *key, int default_value)
{
    std::string v;
    if (key == nullptr || !get_param_text(db, key, v))
        return default_value;
    return static_cast<int>(std::strtol(v.c_str(), nullptr, 10));
}

int set_param_int(const char *db, const char *key, int value)
{
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    return put_param(db, key, text, false, false) ? 0 : -1;
}

int get_param_value(const char *db, const char *key, char *buffer, int size, const char *default_value)
{
    if (buffer == nullptr || size <= 0)
        return -1;
    std::string v;
    bool found = key != nullptr && get_param_text(db, key, v);
    const char *text = found ? v.c_str() : (default_value ? default_value : "");
    snprintf(buffer, static_cast<size_t>(size), "%s", text);
    return found ? 0 : -1;
}

int set_param_value(const char *db, const char *key, const char *text)
{
    return put_param(db, key, text, true, false) ? 0 : -1;
}

int check_param_key(const char *db, const char *key)
{
    std::string v;
    return key != nullptr && get_param_text(db, key, v) ? 0 : 1;
}

int add_param_value(const char *db, const char *key, const char *text)
{
    return put_param(db, key, text, false, true) ? 0 : -1;
}

int vkdb_read(const char *db, const VkdbKind &kind, int id, void *record, const char *table)
{
    if (record == nullptr)
        return -1;
    bool found = false;
    transaction(db, false, [&](sqlite3 *h) {
        Stmt s(h, "SELECT data FROM records WHERE kind=? AND tbl=? AND id=?");
        if (!s)
            return false;
        s.text(1, kind.name).text(2, table).integer(3, id);
        if (s.step() == SQLITE_ROW) {
            const void *data = sqlite3_column_blob(s.st, 0);
            int n = sqlite3_column_bytes(s.st, 0);
            std::memset(record, 0, kind.size);
            if (data && n > 0)
                std::memcpy(record, data, static_cast<size_t>(n) < kind.size ? static_cast<size_t>(n) : kind.size);
            found = true;
        }
        return true;
    });
    return found ? 0 : -1;
}

int vkdb_read_all(const char *db, const VkdbKind &kind, void *array, int max, int *count, const char *table)
{
    int n = 0;
    bool ok = transaction(db, false, [&](sqlite3 *h) {
        Stmt s(h, "SELECT data FROM records WHERE kind=? AND tbl=? ORDER BY id");
        if (!s)
            return false;
        s.text(1, kind.name).text(2, table);
        while (n < max && s.step() == SQLITE_ROW) {
            char *slot = static_cast<char *>(array) + static_cast<size_t>(n) * kind.size;
            const void *data = sqlite3_column_blob(s.st, 0);
            size_t bytes = static_cast<size_t>(sqlite3_column_bytes(s.st, 0));
            std::memset(slot, 0, kind.size);
            if (data)
                std::memcpy(slot, data, bytes < kind.size ? bytes : kind.size);
            ++n;
        }
        return true;
    });
    if (count)
        *count = n;
    return ok ? 0 : -1;
}

int vkdb_write(const char *db, const VkdbKind &kind, const void *record, const char *table)
{
    if (record == nullptr)
        return -1;
    return vkdb_write_id(db, kind, record_id(kind, record), record, table);
}

int vkdb_write_id(const char *db, const VkdbKind &kind, int id, const void *record, const char *table)
{
    if (record == nullptr)
        return -1;
    return transaction(db, true, [&](sqlite3 *h) { return store_record(h, kind, table, id, record); }) ? 0 : -1;
}

int vkdb_delete(const char *db, const VkdbKind &kind, int id, const char *table)
{
    return transaction(db, true, [&](sqlite3 *h) {
               Stmt s(h, "DELETE FROM records WHERE kind=? AND tbl=? AND id=?");
               if (!s)
                   return false;
               s.text(1, kind.name).text(2, table).integer(3, id);
               return s.step() == SQLITE_DONE;
           })
               ? 0
               : -1;
}

int vkdb_delete_all(const char *db, const VkdbKind &kind, const char *table)
{
    return transaction(db, true, [&](sqlite3 *h) {
               Stmt s(h, "DELETE FROM records WHERE kind=? AND tbl=?");
               if (!s)
                   return false;
               s.text(1, kind.name).text(2, table);
               return s.step() == SQLITE_DONE;
           })
               ? 0
               : -1;
}

int vkdb_copy(const char *db, const VkdbKind &kind, const void *record, uint64_t mask, const char *table)
{
    if (record == nullptr)
        return -1;
    return transaction(db, true, [&](sqlite3 *h) {
               for (int ch = 0; ch < 64; ++ch)
                   if ((mask >> ch) & 1u)
                       if (!store_record(h, kind, table, ch, record))
                           return false;
               return true;
           })
               ? 0
               : -1;
}

int vkdb_count(const char *db, const VkdbKind &kind, const char *table)
{
    int n = 0;
    transaction(db, false, [&](sqlite3 *h) {
        Stmt s(h, "SELECT count(*) FROM records WHERE kind=? AND tbl=?");
        if (!s)
            return false;
        s.text(1, kind.name).text(2, table);
        if (s.step() == SQLITE_ROW)
            n = sqlite3_column_int(s.st, 0);
        return true;
    });
    return n;
}
