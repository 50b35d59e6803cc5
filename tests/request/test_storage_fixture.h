// Shared pieces of the storage request tests: a fresh sandbox per test with direct access to its
// config database (vkdb with the sandbox's own paths), replay-script lines built from records,
// and the operation log records the storage handlers are expected to send.
#pragma once
#include <cstring>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <string>
#include <vector>

#include "modules/storage/storage_records.h"
#include "web_utils.h"
#include "webcgi_run.h"

// No-answer cases wait the full limit: scaled so that even 15000 ticks pass in well under a second.
constexpr long kFastTimeout = 20000;

inline std::string bytes_of(const void *data, size_t size) { return std::string(static_cast<const char *>(data), size); }
template <typename T> std::string bytes_of(const T &record) { return bytes_of(&record, sizeof(T)); }
inline std::string word_bytes(int32_t value) { return bytes_of(value); }

// One replay line: request `request_id` is answered with `payload` under response id + 5000.
inline std::string answer_line(int request_id, const std::string &payload)
{
    return std::to_string(request_id) + " " + std::to_string(request_id + 5000) + " " +
           (payload.empty() ? std::string("-") : to_hex(payload)) + "\n";
}
inline std::string status_line(int request_id, int32_t status) { return answer_line(request_id, word_bytes(status)); }

// One sandbox per test suite (making one costs seconds); each test starts from the storage state
// of a fresh sandbox: no disk records, the sixteen unnamed groups, no eSATA backup record and the
// storage parameters at their defaults.
struct StorageTest : ::testing::Test {
    static inline Sandbox *shared = nullptr;
    static void SetUpTestSuite() { shared = new Sandbox(); }
    static void TearDownTestSuite()
    {
        delete shared;
        shared = nullptr;
    }
    Sandbox &box = *shared;

    void SetUp() override
    {
        const std::string file = db();
        vkdb_delete_all(file.c_str(), k_disk_kind);
        vkdb_delete_all(file.c_str(), k_esata_auto_backup_kind);
        vkdb_delete_all(file.c_str(), k_group_kind);
        const GroupRecord unnamed{};
        vkdb_copy(file.c_str(), k_group_kind, &unnamed, 0xFFFF);
        sqlite3 *handle = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &handle), SQLITE_OK);
        sqlite3_busy_timeout(handle, 5000);
        ASSERT_EQ(sqlite3_exec(handle,
                               "DELETE FROM params WHERE key IN "
                               "('raidmode', 'esata_type', 'group_mode', 'max_cameras')",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(handle);
    }

    std::string db() const { return box.path(VKDB_MAIN); }
    // Also fails on a webcgi that did not end normally (a sanitizer report lands in `err`).
    CgiResult run(const CgiRequest &request)
    {
        CgiResult result = run_webcgi(box, request);
        EXPECT_EQ(result.status, 0) << request.code << ": " << result.err;
        return result;
    }
    CgiResult post(const std::string &code, const std::string &json, const std::string &replay = "",
                   long time_scale = kFastTimeout)
    {
        CgiRequest request = CgiRequest::post_json(code, json);
        request.replay = replay;
        request.time_scale = time_scale;
        return run(request);
    }
    CgiResult get(const std::string &code, const std::string &query = "", const std::string &replay = "",
                  long time_scale = kFastTimeout)
    {
        CgiRequest request = CgiRequest::get(code, query);
        request.replay = replay;
        request.time_scale = time_scale;
        return run(request);
    }

    void put_disk(const DiskConfigRecord &disk) const { ASSERT_EQ(write_disk(db().c_str(), &disk), 0); }
    bool has_disk(int port) const
    {
        DiskConfigRecord disk{};
        return read_disk(db().c_str(), &disk, port) == 0;
    }
    DiskConfigRecord disk(int port) const
    {
        DiskConfigRecord disk{};
        read_disk(db().c_str(), &disk, port);
        return disk;
    }
    int disk_count() const { return vkdb_count(db().c_str(), k_disk_kind); }
    int param(const char *key, int fallback) const { return get_param_int(db().c_str(), key, fallback); }
    void set_param(const char *key, int value) const { set_param_int(db().c_str(), key, value); }
    GroupRecord group(int id) const
    {
        GroupRecord group{};
        read_group(db().c_str(), &group, id);
        return group;
    }
};

// A configured disk record as the network-disk pages store it.
inline DiskConfigRecord config_disk(int port, int type, const char *vendor, const char *address, const char *directory,
                                    const char *user = "", const char *password = "", int enable = 1)
{
    DiskConfigRecord disk{};
    disk.port = port;
    disk.enable = enable;
    disk.disk_type = type;
    disk.property = 1;
    copy_text(disk.vendor, vendor);
    copy_text(disk.address, address);
    copy_text(disk.directory, directory);
    copy_text(disk.user_name, user);
    copy_text(disk.password, password);
    return disk;
}

// The operation log record a handler sends (prepared by cgi_init_log_info for the driver's
// default request: no cookie, client 192.168.1.20).
inline LogRecord expected_log(int64_t sub_type, int parameter, int channel)
{
    LogRecord record{};
    record.main_type = LOG_MAIN_OPERATION;
    record.remote = 1;
    record.sub_type = sub_type;
    record.parameter = parameter;
    record.channel = channel;
    copy_text(record.client_addr, "192.168.1.20");
    return record;
}

// The detail area as packed: code and length as big-endian words, then the block.
template <typename T> LogRecord with_detail(LogRecord record, int code, const T &block)
{
    auto be32 = [](char *at, uint32_t v) {
        at[0] = static_cast<char>(v >> 24);
        at[1] = static_cast<char>(v >> 16);
        at[2] = static_cast<char>(v >> 8);
        at[3] = static_cast<char>(v);
    };
    be32(record.detail, static_cast<uint32_t>(code));
    be32(record.detail + 4, sizeof(T));
    std::memcpy(record.detail + 8, &block, sizeof(T));
    return record;
}

inline NetDiskLogDetail nas_detail(const char *protocol, const char *address, const char *directory)
{
    NetDiskLogDetail detail{};
    copy_text(detail.protocol, protocol);
    copy_text(detail.address, address);
    copy_text(detail.directory, directory);
    return detail;
}

// Compares whole records and, on a difference, names the first differing offset.
inline void expect_same_bytes(const std::string &actual, const std::string &expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i)
        if (actual[i] != expected[i]) {
            ADD_FAILURE() << "first difference at offset " << i;
            return;
        }
}
inline void expect_logs(const CgiResult &result, const std::vector<LogRecord> &expected)
{
    std::vector<std::string> logs = result.payloads(REQ_OPERATION_LOG);
    ASSERT_EQ(logs.size(), expected.size());
    for (size_t i = 0; i < logs.size(); ++i) {
        SCOPED_TRACE("log record " + std::to_string(i));
        expect_same_bytes(logs[i], bytes_of(expected[i]));
    }
}
