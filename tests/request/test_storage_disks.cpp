// Request tests of the storage disk family: the disk list (/6100) and its merge with the
// configured network disks, disk settings (/6101), formatting (/6102, /6103), SMART (/6206) and
// disk removal (/6207).
#include "json_answer.h"

#include "test_storage_fixture.h"

namespace {

DaemonDiskRecord daemon_disk(int port, const char *vendor, int type = 0)
{
    DaemonDiskRecord disk{};
    disk.port = port;
    copy_text(disk.vendor, vendor);
    disk.state = 1;
    disk.usable = 1;
    disk.disk_type = type;
    disk.property = 1;
    return disk;
}

std::string disk_records(const std::vector<DaemonDiskRecord> &disks)
{
    std::string bytes;
    for (const DaemonDiskRecord &disk : disks)
        bytes += bytes_of(disk);
    return bytes;
}

// The objects of "HDD" of a disk-list answer, parsed.
struct DiskList {
    JsonPtr answer;
    explicit DiskList(const CgiResult &result)
    {
        EXPECT_EQ(result.out.substr(0, kJsonHeader.size()), kJsonHeader);
        answer.reset(json_tokener_parse(result.out.substr(std::min(result.out.size(), kJsonHeader.size())).c_str()));
    }
    json_object *disks() const
    {
        json_object *hdd = nullptr;
        json_object_object_get_ex(answer.get(), "HDD", &hdd);
        return hdd;
    }
    int count() const { return disks() ? static_cast<int>(json_object_array_length(disks())) : -1; }
    json_object *disk(int i) const { return json_object_array_get_idx(disks(), static_cast<size_t>(i)); }
    int64_t number(int i, const char *key) const
    {
        json_object *member = nullptr;
        json_object_object_get_ex(disk(i), key, &member);
        return json_object_get_int64(member);
    }
    std::string text(int i, const char *key) const
    {
        json_object *member = nullptr;
        json_object_object_get_ex(disk(i), key, &member);
        return member ? json_object_get_string(member) : "<absent>";
    }
};

using DiskListTest = StorageTest;

TEST_F(DiskListTest, MergesDaemonDisksWithConfiguredNetworkDisksInPortOrder)
{
    DaemonDiskRecord second = daemon_disk(2, "ST2000DM008");
    second.total_size = 2000398934016ull;
    second.used_size = 100ull << 20;
    second.free_size = second.total_size - second.used_size;
    second.group = 1;
    DaemonDiskRecord raid = daemon_disk(5, "RAID5", DISK_TYPE_RAID);
    raid.raid_level = 5;
    raid.raid_state = 2;
    raid.raid_progress = 40;
    raid.raid_member_count = 3;
    raid.raid_members[0] = 1;
    raid.raid_members[1] = 2;
    raid.raid_members[2] = 3;
    put_disk(config_disk(7, DISK_TYPE_NFS, "nas", "10.0.0.9", "/rec", "a b&c", "p%w"));
    set_param("esata_type", 2);

    CgiResult r = get("/6100", "", answer_line(3433, disk_records({raid, second})));

    EXPECT_EQ(r.out,
              kJsonHeader +
                  "{ \"resultString\": \"OK\", \"esataType\": 2, \"HDD\": [ "
                  "{ \"portId\": 2, \"vendorName\": \"ST2000DM008\", \"address\": \"\", \"directory\": \"\", "
                  "\"totalSize\": 1907729, \"usedSize\": 100, \"freeSize\": 1907629, \"hddType\": 0, \"state\": 1, "
                  "\"group\": 1, \"property\": 1, \"bUsable\": 1, \"raid_id\": 2, \"raid_level\": 0, "
                  "\"raid_state\": 0, \"raid_progress\": 0, \"raid_sata_cnt\": 0, \"raid_task\": 0, "
                  "\"userName\": \"\", \"password\": \"\", \"raid_sata_port\": 0 }, "
                  "{ \"portId\": 5, \"vendorName\": \"RAID5\", \"address\": \"\", \"directory\": \"\", "
                  "\"totalSize\": 0, \"usedSize\": 0, \"freeSize\": 0, \"hddType\": 4, \"state\": 1, "
                  "\"group\": 0, \"property\": 1, \"bUsable\": 1, \"raid_id\": 5, \"raid_level\": 5, "
                  "\"raid_state\": 2, \"raid_progress\": 40, \"raid_sata_cnt\": 3, \"raid_task\": 40, "
                  "\"userName\": \"\", \"password\": \"\", \"raid_sata_port\": 14 }, "
                  "{ \"portId\": 7, \"vendorName\": \"nas\", \"address\": \"10.0.0.9\", \"directory\": \"\\/rec\", "
                  "\"totalSize\": 0, \"usedSize\": 0, \"freeSize\": 0, \"hddType\": 3, \"state\": 2, "
                  "\"group\": 0, \"property\": 1, \"bUsable\": 0, \"raid_id\": 7, \"raid_level\": 0, "
                  "\"raid_state\": 0, \"raid_progress\": 0, \"raid_sata_cnt\": 0, \"raid_task\": 0, "
                  "\"userName\": \"a%20b%26c\", \"password\": \"p%25w\", \"raid_sata_port\": 0 } ], "
                  "\"maxDiskNum\": 36 }");
    EXPECT_EQ(r.daemon_ids(), std::vector<int>{3433});
    EXPECT_EQ(r.payloads(3433), std::vector<std::string>{""});
}

TEST_F(DiskListTest, ConfiguredTextsReplaceOnlyNetworkDisksTheDaemonReports)
{
    DaemonDiskRecord local = daemon_disk(2, "local-vendor");
    copy_text(local.address, "daemon-address");
    DaemonDiskRecord smb = daemon_disk(3, "daemon-smb", DISK_TYPE_SMB);
    copy_text(smb.address, "daemon-address");
    smb.total_size = 5ull << 30;
    put_disk(config_disk(2, DISK_TYPE_NFS, "cfg2", "cfg-address", "/cfg2", "u2"));
    put_disk(config_disk(3, DISK_TYPE_SMB, "cfg3", "cfg-address", "/cfg3", "u3", "pw3"));
    put_disk(config_disk(9, DISK_TYPE_NFS, "off", "x", "/x", "", "", 0)); // not enabled

    DiskList list(get("/6100", "", answer_line(3433, disk_records({local, smb}))));

    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.text(0, "vendorName"), "local-vendor");
    EXPECT_EQ(list.text(0, "address"), "daemon-address");
    EXPECT_EQ(list.number(0, "hddType"), 0);
    EXPECT_EQ(list.text(1, "vendorName"), "cfg3");
    EXPECT_EQ(list.text(1, "address"), "cfg-address");
    EXPECT_EQ(list.text(1, "directory"), "/cfg3");
    EXPECT_EQ(list.text(1, "userName"), "u3");
    EXPECT_EQ(list.text(1, "password"), "pw3");
    EXPECT_EQ(list.number(1, "state"), 1);      // the daemon's figures stay
    EXPECT_EQ(list.number(1, "totalSize"), 5120);
}

TEST_F(DiskListTest, LaterRecordForAPortWinsAndPortsOutsideTheRangeAreIgnored)
{
    DiskList list(get("/6100", "",
                      answer_line(3433, disk_records({daemon_disk(4, "first"), daemon_disk(0, "zero"),
                                                      daemon_disk(37, "too-far"), daemon_disk(4, "second"),
                                                      daemon_disk(36, "last")}))));
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.text(0, "vendorName"), "second");
    EXPECT_EQ(list.number(1, "portId"), 36);
}

TEST_F(DiskListTest, NoDisksAnywhereAnswersNoWithAnEmptyList)
{
    EXPECT_EQ(get("/6100", "", answer_line(3433, "")).out,
              kJsonHeader + "{ \"resultString\": \"NO\", \"esataType\": 0, \"HDD\": [ ], \"maxDiskNum\": 36 }");
}

TEST_F(DiskListTest, ResultIsOkWhenTheDaemonSentRecordsOrTheDatabaseFilledASlot)
{
    // A record whose port is unusable still counts as an answer with records.
    EXPECT_EQ(get("/6100", "", answer_line(3433, disk_records({daemon_disk(0, "x")}))).out,
              kJsonHeader + "{ \"resultString\": \"OK\", \"esataType\": 0, \"HDD\": [ ], \"maxDiskNum\": 36 }");
    put_disk(config_disk(12, DISK_TYPE_SMB, "share", "host", "/d"));
    DiskList list(get("/6100", "", answer_line(3433, "")));
    EXPECT_EQ(list.count(), 1);
    EXPECT_EQ(json_object_get_string(json_object_object_get(list.answer.get(), "resultString")), std::string("OK"));
}

struct MaskCase {
    const char *name;
    int32_t count;
    std::vector<int32_t> members;
    int64_t mask;
};

TEST_F(DiskListTest, RaidMemberMaskReadsAtMostSixteenMembersAndPortsOneToThirtyOne)
{
    std::vector<int32_t> seventeen;
    for (int i = 1; i <= 16; ++i)
        seventeen.push_back(i);
    const MaskCase cases[] = {
        {"two members", 2, {3, 4}, 24},
        {"count limits the members", 1, {3, 4}, 8},
        {"zero, negative and large ports set no bit", 5, {0, -1, -40, 32, 35}, 0},
        {"port 31 is the top bit", 1, {31}, INT32_MIN},
        {"a huge count reads 16 words only", 1000, seventeen, 0x1FFFE},
        {"a negative count reads none", -3, {3, 4}, 0},
    };
    std::vector<DaemonDiskRecord> disks;
    int port = 1;
    for (const MaskCase &c : cases) {
        DaemonDiskRecord disk = daemon_disk(port++, c.name, DISK_TYPE_RAID);
        disk.raid_member_count = c.count;
        for (size_t i = 0; i < c.members.size(); ++i)
            disk.raid_members[i] = c.members[i];
        disks.push_back(disk);
    }
    // Member words beyond the 16 must not be read: the user name that follows reads as port 20.
    copy_text(disks[4].user_name, "\x14");

    DiskList list(get("/6100", "", answer_line(3433, disk_records(disks))));
    ASSERT_EQ(list.count(), static_cast<int>(std::size(cases)));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(list.number(static_cast<int>(i), "raid_sata_port"), cases[i].mask) << cases[i].name;
        EXPECT_EQ(list.number(static_cast<int>(i), "raid_sata_cnt"), cases[i].count) << cases[i].name;
    }
}

TEST_F(DiskListTest, TextsAreCutAtTheirFieldsAndCredentialsAreEncoded)
{
    DaemonDiskRecord disk = daemon_disk(6, "");
    std::memset(disk.vendor, 'v', sizeof(disk.vendor));       // no NUL in the field
    std::memset(disk.directory, 'd', sizeof(disk.directory)); // only the first 64 bytes count
    std::memset(disk.user_name, 'u', sizeof(disk.user_name));
    copy_text(disk.password, "\"quote\" +&%\xc3\xa9");
    disk.total_size = 0xFFFFFFFFFFFFFFFFull;
    DiskList list(get("/6100", "", answer_line(3433, bytes_of(disk))));
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(list.text(0, "vendorName"), std::string(64, 'v'));
    EXPECT_EQ(list.text(0, "directory"), std::string(64, 'd'));
    EXPECT_EQ(list.text(0, "userName"), std::string(33, 'u'));
    EXPECT_EQ(list.text(0, "password"), "%22quote%22%20%2B%26%25%C3%A9");
    EXPECT_EQ(list.number(0, "totalSize"), -1); // 2^44 - 1 MiB as a 32-bit integer
}

TEST_F(DiskListTest, NoAnswerGivesTheJsonError)
{
    CgiResult r = get("/6100");
    EXPECT_EQ(r.out, kJsonError);
    EXPECT_EQ(r.daemon_ids(), std::vector<int>{3433});
}

using DiskSettingsTest = StorageTest;

TEST_F(DiskSettingsTest, StoresPropertyAndGroupAnnouncesAndLogs)
{
    put_disk(config_disk(5, DISK_TYPE_NFS, "nas", "10.0.0.9", "/rec", "user"));
    CgiResult r = post("/6101", "{\"portId\": 5, \"property\": 0, \"group\": 3}");

    EXPECT_EQ(r.out, kTextHeader + "OK");
    EXPECT_EQ(r.daemon_ids(), (std::vector<int>{3435, REQ_OPERATION_LOG}));
    EXPECT_EQ(r.payloads(3435)[0], bytes_of(DiskSettingsPayload{5, 0, 3, 0}));
    expect_logs(r, {expected_log(204, 919, 5)});
    DiskConfigRecord expected = config_disk(5, DISK_TYPE_NFS, "nas", "10.0.0.9", "/rec", "user");
    expected.property = 0;
    expected.group = 3;
    expect_same_bytes(bytes_of(disk(5)), bytes_of(expected));
}

TEST_F(DiskSettingsTest, APortWithoutRecordGetsItsOwnRow)
{
    put_disk(config_disk(0, 0, "row-zero", "", ""));
    CgiResult r = post("/6101", "{\"portId\": 4, \"property\": 1, \"group\": 2}");
    EXPECT_EQ(r.out, kTextHeader + "OK");
    DiskConfigRecord stored = disk(4);
    EXPECT_EQ(stored.port, 4);
    EXPECT_EQ(stored.property, 1);
    EXPECT_EQ(stored.group, 2);
    EXPECT_EQ(field_text(disk(0).vendor), "row-zero"); // the other row is untouched
    EXPECT_EQ(disk_count(), 2);
}

TEST_F(DiskSettingsTest, AbsentGroupKeepsTheStoredGroup)
{
    DiskConfigRecord stored = config_disk(3, 0, "", "", "");
    stored.group = 6;
    put_disk(stored);
    CgiResult r = post("/6101", "{\"portId\": 3, \"property\": 0}");
    EXPECT_EQ(r.payloads(3435)[0], bytes_of(DiskSettingsPayload{3, 0, 6, 0}));
    EXPECT_EQ(disk(3).group, 6);
}

TEST_F(DiskSettingsTest, RefusesBadInputSilently)
{
    for (const char *body : {"{\"portId\": 36, \"property\": 0}", "{\"portId\": -1, \"property\": 0}",
                             "{\"portId\": 2, \"property\": 2}", "{\"portId\": 2}", "{\"property\": 1}", "not json",
                             "[1, 2]"}) {
        CgiResult r = post("/6101", body);
        EXPECT_EQ(r.out, "") << body;
        EXPECT_TRUE(r.daemon.empty()) << body;
    }
    EXPECT_EQ(disk_count(), 0);
}

using FormatTest = StorageTest;

struct FormatCase {
    int32_t status;
    std::string answer;
    int32_t logged;
};

TEST_F(FormatTest, AnswersEachStatusAndLogsTheOutcome)
{
    const FormatCase cases[] = {
        {0, kTextHeader + "OK", 1},
        {1, kTextHeader + "USING", -1},
        {-1, kTextHeader + "ERROR FORMAT", -1},
        {-3, kTextHeader + "NAS LOW CAP", -1},
        {7, "", -1}, // unknown: no answer at all, and no error either
    };
    for (const FormatCase &c : cases) {
        SCOPED_TRACE("status " + std::to_string(c.status));
        CgiResult r = get("/6102", "3", status_line(3434, c.status));
        EXPECT_EQ(r.out, c.answer);
        EXPECT_EQ(r.daemon_ids(), (std::vector<int>{3434, REQ_OPERATION_LOG}));
        EXPECT_EQ(r.payloads(3434)[0], word_bytes(3));
        FormatLogDetail detail{};
        detail.port = 3;
        detail.result = c.logged;
        expect_logs(r, {with_detail(expected_log(207, 900, 3), 102, detail)});
    }
}

TEST_F(FormatTest, TheFinishedFormatResponseAnswersToo)
{
    CgiResult r = get("/6102", "36", "3434 8402 " + to_hex(word_bytes(0)) + "\n");
    EXPECT_EQ(r.out, kTextHeader + "OK");
    EXPECT_EQ(r.payloads(3434)[0], word_bytes(36));
}

TEST_F(FormatTest, NoAnswerGivesTheJsonErrorAndStillLogs)
{
    CgiRequest request;
    request.method = "POST";
    request.code = "/6102";
    request.content_type = "application/x-www-form-urlencoded";
    request.body = "0";
    request.time_scale = kFastTimeout;
    CgiResult r = run(request);
    EXPECT_EQ(r.out, kJsonError);
    FormatLogDetail detail{};
    detail.port = 0;
    detail.result = -1;
    expect_logs(r, {with_detail(expected_log(207, 900, 0), 102, detail)});
}

TEST_F(FormatTest, RefusesPortsOutsideTheRange)
{
    for (const char *port : {"37", "-1", "99999999999999999999"}) {
        CgiResult r = get("/6102", port, status_line(3434, 0));
        EXPECT_EQ(r.out, "") << port;
        EXPECT_TRUE(r.daemon.empty()) << port;
    }
}

TEST_F(FormatTest, ProgressAnswersOkForPortsUpToSixteen)
{
    EXPECT_EQ(get("/6103", "0").out, kTextHeader + "OK");
    CgiResult r = get("/6103", "16");
    EXPECT_EQ(r.out, kTextHeader + "OK");
    EXPECT_TRUE(r.daemon.empty());
    EXPECT_EQ(get("/6103", "17").out, "");
    EXPECT_EQ(get("/6103", "-2").out, "");
}

using SmartTest = StorageTest;

SmartResultRecord smart(const char *text)
{
    SmartResultRecord result{};
    std::memcpy(result.evaluation, text, std::min(std::strlen(text), sizeof(result.evaluation)));
    return result;
}

TEST_F(SmartTest, AsksAboutTheLastPortWithinNum)
{
    struct {
        const char *body;
        int32_t port;
    } cases[] = {
        {"{\"num\": 2, \"port\": [1, 4]}", 4},
        {"{\"num\": 1, \"port\": [1, 4]}", 1},
        {"{\"num\": 5, \"port\": [1, 4]}", 4},  // num beyond the array: its last element
        {"{\"num\": 0, \"port\": [1, 4]}", 0},
        {"{\"num\": -2, \"port\": [1, 4]}", 0},
        {"{\"port\": [9]}", 0},
    };
    for (auto &c : cases) {
        CgiResult r = post("/6206", c.body, answer_line(3403, bytes_of(smart("PASSED"))));
        EXPECT_EQ(r.out, kJsonHeader + "{ \"selfEvaluation\": 1 }") << c.body;
        EXPECT_EQ(r.payloads(3403), std::vector<std::string>{word_bytes(c.port)}) << c.body;
    }
}

TEST_F(SmartTest, LooksForPassedOnlyInsideTheField)
{
    auto evaluate = [&](const std::string &payload) {
        return post("/6206", "{\"num\": 1, \"port\": [2]}", answer_line(3403, payload)).out;
    };
    const std::string passed = kJsonHeader + "{ \"selfEvaluation\": 1 }";
    const std::string failed = kJsonHeader + "{ \"selfEvaluation\": 0 }";
    EXPECT_EQ(evaluate(bytes_of(smart("SMART overall-health: PASSED"))), passed); // fills the field, no NUL
    EXPECT_EQ(evaluate(bytes_of(smart("FAILED"))), failed);
    // "PASS" ends the field and "ED" begins the next record: not a PASSED inside the field.
    SmartResultRecord first = smart("xxxxxxxxxxxxxxxxxxxxxxxxPASS");
    SmartResultRecord second{};
    std::memcpy(&second, "ED", 2);
    EXPECT_EQ(evaluate(bytes_of(first) + bytes_of(second)), failed);
    EXPECT_EQ(evaluate(bytes_of(first) + "ED"), failed);
    EXPECT_EQ(evaluate(""), failed); // an empty answer reads as an empty field
}

TEST_F(SmartTest, NoAnswerGivesTheJsonErrorAndBadJsonNothing)
{
    EXPECT_EQ(post("/6206", "{\"num\": 1, \"port\": [2]}").out, kJsonError);
    CgiResult r = post("/6206", "{num");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.daemon.empty());
}

using DiskRemoveTest = StorageTest;

TEST_F(DiskRemoveTest, RaidArrayIsRemovedAndLogged)
{
    CgiResult r = post("/6207", "{\"port\": 11, \"hddType\": 4}", status_line(3421, 0));
    EXPECT_EQ(r.out, kTextHeader + "OK");
    RaidPayload raid{};
    raid.id = 11;
    EXPECT_EQ(r.payloads(3421), std::vector<std::string>{bytes_of(raid)});
    expect_logs(r, {expected_log(224, 900, 11)});
}

TEST_F(DiskRemoveTest, NetworkDiskIsDeletedAsAOneDiskListWithoutLog)
{
    for (int type : {DISK_TYPE_NFS, DISK_TYPE_SMB}) {
        CgiResult r = post("/6207", "{\"port\": 8, \"hddType\": " + std::to_string(type) + "}", status_line(3508, 1));
        EXPECT_EQ(r.out, kTextHeader + "Error");
        DiskListPayload list{};
        list.count = 1;
        list.ports[0] = 8;
        EXPECT_EQ(r.payloads(3508), std::vector<std::string>{bytes_of(list)});
        EXPECT_TRUE(r.payloads(REQ_OPERATION_LOG).empty());
    }
}

TEST_F(DiskRemoveTest, LocalDiskIsRemovedAndItsRecordReset)
{
    DiskConfigRecord old = config_disk(2, 0, "old", "addr", "/dir", "user");
    old.group = 5;
    put_disk(old);
    CgiResult r = post("/6207", "{\"port\": 2, \"hddType\": 0}", status_line(3496, 0));
    EXPECT_EQ(r.out, kTextHeader + "OK");
    EXPECT_EQ(r.payloads(3496), std::vector<std::string>{word_bytes(2)});
    expect_logs(r, {expected_log(224, 900, 2)});
    DiskConfigRecord fresh{};
    fresh.port = 2;
    fresh.property = 1;
    expect_same_bytes(bytes_of(disk(2)), bytes_of(fresh));
}

TEST_F(DiskRemoveTest, NoAnswerGivesTheTextErrorAndStillLogsLocalRemovals)
{
    CgiResult r = post("/6207", "{\"port\": 6, \"hddType\": 1}");
    EXPECT_EQ(r.out, kTextError);
    expect_logs(r, {expected_log(224, 900, 6)});
    EXPECT_EQ(disk(6).port, 6);
    CgiResult nas = post("/6207", "{\"port\": 6, \"hddType\": 10}");
    EXPECT_EQ(nas.out, kTextError);
    EXPECT_TRUE(nas.payloads(REQ_OPERATION_LOG).empty());
}

TEST_F(DiskRemoveTest, RefusesBadJsonOnly)
{
    for (const char *body : {"{\"port\": ", "[1, 4]", "7"}) {
        CgiResult r = post("/6207", body, status_line(3496, 0));
        EXPECT_EQ(r.out, "") << body;
        EXPECT_TRUE(r.daemon.empty()) << body;
    }
    EXPECT_EQ(disk_count(), 0);
    // Absent members read as 0: port 0, a local disk.
    CgiResult r = post("/6207", "{\"hddType\": 0}", status_line(3496, 0));
    EXPECT_EQ(r.out, kTextHeader + "OK");
    EXPECT_EQ(r.payloads(3496), std::vector<std::string>{word_bytes(0)});
    expect_logs(r, {expected_log(224, 900, 0)});
}

} // namespace
