// Unit tests of the config database library: parameters with their defaults and missing-key
// rules, records by kind (round trips, the id field, id order, missing records, copies to a
// channel mask, table-named records, the generated read_/write_ wrappers) and concurrent writers
// in several processes. The whole program runs in a sandbox of its own: NVR_ROOT is set to a
// fresh temporary directory before anything asks for a path.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "sandbox/nvr_path.h"
#include "vkdb/vkdb.h"

namespace {

// Runs before main(): the library caches the sandbox root at its first path. The root lies in
// memory where there is a /dev/shm, so that thousands of committed writes do not wait for a disk.
struct TempRoot {
    std::string dir;
    TempRoot()
    {
        char shm_tmpl[] = "/dev/shm/nvr-vkdb-XXXXXX";
        char tmp_tmpl[] = "/tmp/nvr-vkdb-XXXXXX";
        const char *made = mkdtemp(shm_tmpl);
        if (made == nullptr)
            made = mkdtemp(tmp_tmpl);
        if (made == nullptr)
            std::abort();
        dir = made;
        setenv("NVR_ROOT", dir.c_str(), 1);
    }
    ~TempRoot()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};
TempRoot g_root;

#pragma pack(push, 1)
struct ChannelRecord {
    int32_t channel;
    char name[32];
    int64_t value;
    uint8_t flags[4];
};
// A kind whose id does not lead the record.
struct PortRecord {
    int32_t enable;
    char label[16];
    int32_t port;
    int32_t extra;
};
#pragma pack(pop)
static_assert(sizeof(ChannelRecord) == 48);
static_assert(offsetof(ChannelRecord, channel) == 0);
static_assert(offsetof(ChannelRecord, value) == 36);
static_assert(sizeof(PortRecord) == 28);
static_assert(offsetof(PortRecord, port) == 20);

constexpr VkdbKind k_channel_kind{"test_channel", sizeof(ChannelRecord), offsetof(ChannelRecord, channel)};
constexpr VkdbKind k_port_kind{"test_port", sizeof(PortRecord), offsetof(PortRecord, port)};
VKDB_RECORD_FUNCTIONS(test_port, PortRecord, k_port_kind, 8)

ChannelRecord channel_record(int channel, const char *name, int64_t value)
{
    ChannelRecord r{};
    r.channel = channel;
    std::snprintf(r.name, sizeof r.name, "%s", name);
    r.value = value;
    r.flags[3] = 0xA5;
    return r;
}

bool same(const void *a, const void *b, size_t size) { return std::memcmp(a, b, size) == 0; }

// Each test works in a database file of its own.
class Vkdb : public ::testing::Test {
protected:
    std::string db_name;
    const char *db() const { return db_name.c_str(); }
    void SetUp() override
    {
        db_name = std::string("/mnt/nand/app/") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".db";
    }
};

TEST_F(Vkdb, FilesLiveInTheSandbox)
{
    ASSERT_EQ(set_param_int(db(), "max_cameras", 16), 0);
    EXPECT_TRUE(std::filesystem::exists(g_root.dir + db_name));
    EXPECT_EQ(nvr_path(db_name), g_root.dir + db_name);
}

TEST_F(Vkdb, MissingParametersGiveTheDefault)
{
    EXPECT_EQ(get_param_int(db(), "max_cameras", 32), 32);
    EXPECT_EQ(get_param_int(db(), "max_cameras", -7), -7);
    char text[16];
    std::memset(text, 'z', sizeof text);
    EXPECT_NE(get_param_value(db(), "model", text, sizeof text, "V1.1"), 0);
    EXPECT_STREQ(text, "V1.1");
    // The default is cut to the buffer like a stored value.
    get_param_value(db(), "model", text, 5, "0123456789");
    EXPECT_STREQ(text, "0123");
    EXPECT_NE(check_param_key(db(), "model"), 0);
    // A file that does not exist yet reads as empty, too.
    EXPECT_EQ(get_param_int("/mnt/nand/app/never-written.db", "x", 5), 5);
}

TEST_F(Vkdb, IntegerAndTextParametersRoundTrip)
{
    ASSERT_EQ(set_param_int(db(), "max_cameras", 16), 0); // adds a missing key
    EXPECT_EQ(get_param_int(db(), "max_cameras", 32), 16);
    ASSERT_EQ(set_param_int(db(), "max_cameras", -64), 0);
    EXPECT_EQ(get_param_int(db(), "max_cameras", 32), -64);
    EXPECT_EQ(check_param_key(db(), "max_cameras"), 0);

    ASSERT_EQ(add_param_value(db(), "model", "NVR-3264 \"x\" ä"), 0);
    char text[64];
    ASSERT_EQ(get_param_value(db(), "model", text, sizeof text, "default"), 0);
    EXPECT_STREQ(text, "NVR-3264 \"x\" ä");
    get_param_value(db(), "model", text, 4, "default");
    EXPECT_STREQ(text, "NVR");
    // An integer stored as text reads as an integer; an empty text reads as 0.
    ASSERT_EQ(add_param_value(db(), "raidmode", "1"), 0);
    EXPECT_EQ(get_param_int(db(), "raidmode", 9), 1);
    ASSERT_EQ(add_param_value(db(), "empty", ""), 0);
    EXPECT_EQ(check_param_key(db(), "empty"), 0);
    EXPECT_EQ(get_param_value(db(), "empty", text, sizeof text, "default"), 0);
    EXPECT_STREQ(text, "");
}

TEST_F(Vkdb, DecimalTextWithLeadingZeroReadsAsDecimal)
{
    // Values typed into pages ("08" hours, "010" minutes) are decimal, not octal.
    ASSERT_EQ(add_param_value(db(), "hour", "08"), 0);
    ASSERT_EQ(add_param_value(db(), "minutes", "010"), 0);
    EXPECT_EQ(get_param_int(db(), "hour", -1), 8);
    EXPECT_EQ(get_param_int(db(), "minutes", -1), 10);
}

TEST_F(Vkdb, SetAndAddFollowTheMissingKeyRules)
{
    // set_param_value only changes an existing key.
    EXPECT_NE(set_param_value(db(), "hostname", "nvr"), 0);
    EXPECT_NE(check_param_key(db(), "hostname"), 0);
    // add_param_value only creates a missing key and leaves an existing one alone.
    ASSERT_EQ(add_param_value(db(), "hostname", "nvr"), 0);
    EXPECT_EQ(check_param_key(db(), "hostname"), 0);
    EXPECT_NE(add_param_value(db(), "hostname", "other"), 0);
    char text[32];
    get_param_value(db(), "hostname", text, sizeof text, "");
    EXPECT_STREQ(text, "nvr");
    ASSERT_EQ(set_param_value(db(), "hostname", "recorder"), 0);
    get_param_value(db(), "hostname", text, sizeof text, "");
    EXPECT_STREQ(text, "recorder");
    // The caller's pattern for a key that may be missing.
    for (const char *value : {"first", "second"}) {
        if (check_param_key(db(), "ntp_server") != 0)
            EXPECT_EQ(add_param_value(db(), "ntp_server", value), 0);
        else
            EXPECT_EQ(set_param_value(db(), "ntp_server", value), 0);
    }
    get_param_value(db(), "ntp_server", text, sizeof text, "");
    EXPECT_STREQ(text, "second");
    // Null keys and texts are refused without touching anything.
    EXPECT_NE(add_param_value(db(), nullptr, "x"), 0);
    EXPECT_NE(add_param_value(db(), "nullvalue", nullptr), 0);
    EXPECT_NE(check_param_key(db(), "nullvalue"), 0);
    EXPECT_EQ(get_param_int(db(), nullptr, 3), 3);
}

TEST_F(Vkdb, RecordsRoundTripWholeAndInIdOrder)
{
    const ChannelRecord a = channel_record(7, "front door", 1LL << 40);
    const ChannelRecord b = channel_record(2, "garage", -5);
    const ChannelRecord c = channel_record(63, "yard", 0);
    for (const ChannelRecord &r : {a, b, c})
        ASSERT_EQ(vkdb_write(db(), k_channel_kind, &r), 0);
    ChannelRecord got{};
    ASSERT_EQ(vkdb_read(db(), k_channel_kind, 7, &got), 0);
    EXPECT_TRUE(same(&got, &a, sizeof a));
    EXPECT_EQ(vkdb_count(db(), k_channel_kind), 3);

    std::array<ChannelRecord, 8> all{};
    int count = -1;
    ASSERT_EQ(vkdb_read_all(db(), k_channel_kind, all.data(), 8, &count), 0);
    ASSERT_EQ(count, 3);
    EXPECT_TRUE(same(&all[0], &b, sizeof b));
    EXPECT_TRUE(same(&all[1], &a, sizeof a));
    EXPECT_TRUE(same(&all[2], &c, sizeof c));
    // At most `max` records.
    ASSERT_EQ(vkdb_read_all(db(), k_channel_kind, all.data(), 2, &count), 0);
    EXPECT_EQ(count, 2);

    // A write replaces the record of that id.
    ChannelRecord a2 = channel_record(7, "front gate", 9);
    ASSERT_EQ(vkdb_write(db(), k_channel_kind, &a2), 0);
    ASSERT_EQ(vkdb_read(db(), k_channel_kind, 7, &got), 0);
    EXPECT_TRUE(same(&got, &a2, sizeof a2));
    EXPECT_EQ(vkdb_count(db(), k_channel_kind), 3);

    // Deletes.
    ASSERT_EQ(vkdb_delete(db(), k_channel_kind, 7), 0);
    EXPECT_NE(vkdb_read(db(), k_channel_kind, 7, &got), 0);
    EXPECT_EQ(vkdb_count(db(), k_channel_kind), 2);
    ASSERT_EQ(vkdb_delete_all(db(), k_channel_kind), 0);
    EXPECT_EQ(vkdb_count(db(), k_channel_kind), 0);
    ASSERT_EQ(vkdb_read_all(db(), k_channel_kind, all.data(), 8, &count), 0);
    EXPECT_EQ(count, 0);
}

TEST_F(Vkdb, IdFieldAnywhereInTheRecord)
{
    PortRecord p{};
    p.enable = 1;
    std::snprintf(p.label, sizeof p.label, "nas");
    p.port = 33;
    p.extra = -1;
    ASSERT_EQ(write_test_port(db(), &p), 0);
    PortRecord got{};
    ASSERT_EQ(read_test_port(db(), &got, 33), 0);
    EXPECT_TRUE(same(&got, &p, sizeof p));
    EXPECT_NE(read_test_port(db(), &got, 1), 0); // not stored under the first word (1)

    // vkdb_write_id stores under the given id with that id in the record's field.
    ASSERT_EQ(vkdb_write_id(db(), k_port_kind, 5, &p), 0);
    ASSERT_EQ(read_test_port(db(), &got, 5), 0);
    EXPECT_EQ(got.port, 5);
    EXPECT_STREQ(got.label, "nas");

    std::array<PortRecord, 8> ports{};
    int count = 0;
    ASSERT_EQ(read_test_ports(db(), ports.data(), &count), 0);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(ports[0].port, 5);
    EXPECT_EQ(ports[1].port, 33);
}

TEST_F(Vkdb, MissingRecordLeavesTheBufferUntouched)
{
    ChannelRecord stored = channel_record(1, "one", 1);
    ASSERT_EQ(vkdb_write(db(), k_channel_kind, &stored), 0);
    ChannelRecord buffer;
    std::memset(&buffer, 0xAB, sizeof buffer);
    ChannelRecord before = buffer;
    EXPECT_NE(vkdb_read(db(), k_channel_kind, 2, &buffer), 0);
    EXPECT_NE(vkdb_read(db(), k_port_kind, 1, &buffer), 0);         // another kind
    EXPECT_NE(vkdb_read(db(), k_channel_kind, 1, &buffer, "t"), 0); // another table
    EXPECT_NE(vkdb_read("/mnt/nand/app/absent.db", k_channel_kind, 1, &buffer), 0);
    EXPECT_TRUE(same(&buffer, &before, sizeof buffer));
}

TEST_F(Vkdb, CopyWritesEachSelectedChannelWithItsNumber)
{
    const ChannelRecord source = channel_record(4, "template", 77);
    ChannelRecord untouched = channel_record(1, "keep", 1);
    ASSERT_EQ(vkdb_write(db(), k_channel_kind, &untouched), 0);
    const uint64_t mask = (1ull << 0) | (1ull << 4) | (1ull << 31) | (1ull << 32) | (1ull << 63);
    ASSERT_EQ(vkdb_copy(db(), k_channel_kind, &source, mask), 0);

    EXPECT_EQ(vkdb_count(db(), k_channel_kind), 6);
    for (int ch = 0; ch < 64; ++ch) {
        SCOPED_TRACE(ch);
        ChannelRecord got{};
        const int r = vkdb_read(db(), k_channel_kind, ch, &got);
        if ((mask >> ch) & 1u) {
            ASSERT_EQ(r, 0);
            ChannelRecord expected = source;
            expected.channel = ch;
            EXPECT_TRUE(same(&got, &expected, sizeof got));
        } else if (ch == 1) {
            EXPECT_TRUE(same(&got, &untouched, sizeof got));
        } else {
            EXPECT_NE(r, 0);
        }
    }
    // An empty mask writes nothing.
    ASSERT_EQ(vkdb_copy(db(), k_channel_kind, &source, 0), 0);
    EXPECT_EQ(vkdb_count(db(), k_channel_kind), 6);
}

TEST_F(Vkdb, TableNamedRecordsAreSeparate)
{
    // The same kind and id under different table names, e.g. one schedule per event table.
    const ChannelRecord plain = channel_record(3, "plain", 1);
    const ChannelRecord motion = channel_record(3, "motion", 2);
    const ChannelRecord alarm = channel_record(3, "alarm", 3);
    ASSERT_EQ(vkdb_write(db(), k_channel_kind, &plain), 0);
    ASSERT_EQ(vkdb_write(db(), k_channel_kind, &motion, "motion_schedule"), 0);
    ASSERT_EQ(vkdb_write(db(), k_channel_kind, &alarm, "alarm_schedule"), 0);
    ASSERT_EQ(vkdb_copy(db(), k_channel_kind, &alarm, 0x30, "alarm_schedule"), 0);

    ChannelRecord got{};
    ASSERT_EQ(vkdb_read(db(), k_channel_kind, 3, &got), 0);
    EXPECT_TRUE(same(&got, &plain, sizeof got));
    ASSERT_EQ(vkdb_read(db(), k_channel_kind, 3, &got, "motion_schedule"), 0);
    EXPECT_TRUE(same(&got, &motion, sizeof got));
    ASSERT_EQ(vkdb_read(db(), k_channel_kind, 3, &got, "alarm_schedule"), 0);
    EXPECT_TRUE(same(&got, &alarm, sizeof got));
    EXPECT_EQ(vkdb_count(db(), k_channel_kind), 1);
    EXPECT_EQ(vkdb_count(db(), k_channel_kind, "motion_schedule"), 1);
    EXPECT_EQ(vkdb_count(db(), k_channel_kind, "alarm_schedule"), 3);

    std::array<ChannelRecord, 8> all{};
    int count = 0;
    ASSERT_EQ(vkdb_read_all(db(), k_channel_kind, all.data(), 8, &count, "alarm_schedule"), 0);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(all[0].channel, 3);
    EXPECT_EQ(all[1].channel, 4);
    EXPECT_EQ(all[2].channel, 5);

    ASSERT_EQ(vkdb_delete_all(db(), k_channel_kind, "alarm_schedule"), 0);
    EXPECT_EQ(vkdb_count(db(), k_channel_kind, "alarm_schedule"), 0);
    EXPECT_EQ(vkdb_count(db(), k_channel_kind, "motion_schedule"), 1);
    EXPECT_EQ(vkdb_count(db(), k_channel_kind), 1);
}

TEST_F(Vkdb, DatabaseFilesAreSeparate)
{
    ASSERT_EQ(set_param_int(VKDB_MAIN, "shared_key", 1), 0);
    ASSERT_EQ(set_param_int(VKDB_OEM, "shared_key", 2), 0);
    EXPECT_EQ(get_param_int(VKDB_MAIN, "shared_key", 0), 1);
    EXPECT_EQ(get_param_int(VKDB_OEM, "shared_key", 0), 2);
    EXPECT_EQ(get_param_int(VKDB_ANPR, "shared_key", 0), 0);
    EXPECT_TRUE(std::filesystem::exists(g_root.dir + "/mnt/nand2/oem.db"));
}

TEST_F(Vkdb, ConcurrentProcessesLoseNoWriteAndFailNoCall)
{
    // 8 processes start together on a file none of them has created yet; each writes 200
    // parameters and 200 records of its own.
    constexpr int k_processes = 8;
    constexpr int k_writes = 200;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < k_processes; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(gate[1]);
            char go;
            if (read(gate[0], &go, 1) != 0)
                _exit(100);
            int failures = 0;
            for (int i = 0; i < k_writes; ++i) {
                const std::string key = "p" + std::to_string(p) + "_" + std::to_string(i);
                const ChannelRecord r = channel_record(p * 1000 + i, key.c_str(), p * 1000000LL + i);
                failures += set_param_int(db(), key.c_str(), p * 1000 + i) != 0;
                failures += vkdb_write(db(), k_channel_kind, &r) != 0;
            }
            _exit(failures > 99 ? 99 : failures);
        }
        children.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]); // everyone starts
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "failed calls in one writer";
    }

    int missing = 0;
    for (int p = 0; p < k_processes; ++p)
        for (int i = 0; i < k_writes; ++i) {
            const std::string key = "p" + std::to_string(p) + "_" + std::to_string(i);
            missing += get_param_int(db(), key.c_str(), -1) != p * 1000 + i;
            ChannelRecord got{};
            const ChannelRecord r = channel_record(p * 1000 + i, key.c_str(), p * 1000000LL + i);
            missing += vkdb_read(db(), k_channel_kind, p * 1000 + i, &got) != 0 || !same(&got, &r, sizeof r);
        }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(vkdb_count(db(), k_channel_kind), k_processes * k_writes);
}

} // namespace
