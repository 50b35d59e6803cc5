// Request tests of the storage network-disk family: adding (/6201), deleting (/6200), searching
// (/6202) and editing (/6203) NFS and SMB/CIFS shares, and the recorder-mode round trip in which
// a share added through the page appears in the next disk list.
#include <algorithm>

#include "json_answer.h"
#include "test_storage_fixture.h"

namespace {

using NasTest = StorageTest;

DiskListPayload port_list(std::vector<int32_t> ports)
{
    DiskListPayload list{};
    list.count = static_cast<int32_t>(ports.size());
    std::copy(ports.begin(), ports.end(), list.ports);
    return list;
}

// A JSON array of n texts made by `make(i)`.
template <typename F> std::string json_array(int n, F make)
{
    std::string text = "[";
    for (int i = 0; i < n; ++i)
        text += (i ? ", " : "") + make(i);
    return text + "]";
}

TEST_F(NasTest, AddStoresDecodedRecordsAnnouncesAndLogsEachDisk)
{
    CgiResult r = post("/6201",
                       "{\"num\": 2, \"type\": 10, \"port\": [7, 8], \"vendor\": [\"nas-a\", \"nas-b\"], "
                       "\"address\": [\"10.0.0.7\", \"10.0.0.8\"], \"directory\": [\"/share/a\", \"/share/b\"], "
                       "\"userName\": [\"us%20er\", \"plain+user\"], "
                       "\"password\": [\"p%25%2B%26%22%C3%A9\", \"50%\"]}",
                       status_line(3507, 0));

    EXPECT_EQ(r.out, kJsonHeader + "{ \"status\": 0, \"res\": 0 }");
    EXPECT_EQ(r.daemon_ids(), (std::vector<int>{3507, REQ_OPERATION_LOG, REQ_OPERATION_LOG}));
    expect_same_bytes(r.payloads(3507)[0], bytes_of(port_list({7, 8})));
    expect_same_bytes(bytes_of(disk(7)),
                      bytes_of(config_disk(7, DISK_TYPE_SMB, "nas-a", "10.0.0.7", "/share/a", "us er", "p%+&\"\xc3\xa9")));
    expect_same_bytes(bytes_of(disk(8)),
                      bytes_of(config_disk(8, DISK_TYPE_SMB, "nas-b", "10.0.0.8", "/share/b", "plain+user", "50%")));
    expect_logs(r, {with_detail(expected_log(219, 0, 7), 101, nas_detail("SMB/CIFS", "10.0.0.7", "/share/a")),
                    with_detail(expected_log(219, 0, 8), 101, nas_detail("SMB/CIFS", "10.0.0.8", "/share/b"))});
}

TEST_F(NasTest, AddWithoutTypeStoresNfsDisks)
{
    CgiResult r = post("/6201",
                       "{\"num\": 1, \"port\": [9], \"vendor\": [\"v\"], \"address\": [\"h\"], "
                       "\"directory\": [\"/d\"], \"userName\": [\"\"], \"password\": [\"\"]}",
                       status_line(3507, 3));
    EXPECT_EQ(r.out, kJsonHeader + "{ \"status\": 0, \"res\": 3 }");
    EXPECT_EQ(disk(9).disk_type, DISK_TYPE_NFS);
    expect_logs(r, {with_detail(expected_log(219, 0, 9), 101, nas_detail("NFS", "h", "/d"))});
}

TEST_F(NasTest, AddTakesAtMostThirtyThreeDisks)
{
    auto port = [](int i) { return std::to_string(i + 1); };
    auto text = [](int i) { return "\"t" + std::to_string(i) + "\""; };
    CgiResult r = post("/6201",
                       "{\"num\": 40, \"port\": " + json_array(40, port) + ", \"vendor\": " + json_array(40, text) +
                           ", \"address\": " + json_array(40, text) + ", \"directory\": " + json_array(40, text) + "}",
                       status_line(3507, 0));
    std::vector<int32_t> ports;
    for (int i = 1; i <= 33; ++i)
        ports.push_back(i);
    expect_same_bytes(r.payloads(3507)[0], bytes_of(port_list(ports)));
    EXPECT_EQ(disk_count(), 33);
    EXPECT_FALSE(has_disk(34));
    EXPECT_EQ(r.payloads(REQ_OPERATION_LOG).size(), 33u);
}

TEST_F(NasTest, AddNeverTakesMoreThanThePortArrayHoldsNorANegativeCount)
{
    CgiResult more = post("/6201", "{\"num\": 5, \"port\": [4, 5], \"vendor\": [\"only-one\"]}", status_line(3507, 0));
    expect_same_bytes(more.payloads(3507)[0], bytes_of(port_list({4, 5})));
    EXPECT_EQ(disk_count(), 2);
    EXPECT_FALSE(has_disk(0));
    EXPECT_EQ(field_text(disk(5).vendor), ""); // missing elements are empty texts

    CgiResult negative = post("/6201", "{\"num\": -3, \"port\": [4, 5]}", status_line(3507, 0));
    expect_same_bytes(negative.payloads(3507)[0], bytes_of(port_list({})));
    EXPECT_TRUE(negative.payloads(REQ_OPERATION_LOG).empty());
}

TEST_F(NasTest, AddCutsTextsToTheirFields)
{
    const std::string long_text(300, 'x');
    const std::string encoded_user(50, 'u');
    CgiResult r = post("/6201",
                       "{\"num\": 1, \"port\": [3], \"vendor\": [\"" + long_text + "\"], \"address\": [\"" + long_text +
                           "\"], \"directory\": [\"" + long_text + "\"], \"userName\": [\"" + encoded_user +
                           "\"], \"password\": [\"" + std::string(40, 'p') + "%41\"]}",
                       status_line(3507, 0));
    DiskConfigRecord stored = disk(3);
    EXPECT_EQ(field_text(stored.vendor), std::string(63, 'x'));
    EXPECT_EQ(field_text(stored.address), std::string(63, 'x'));
    EXPECT_EQ(field_text(stored.directory), std::string(127, 'x'));
    EXPECT_EQ(field_text(stored.user_name), std::string(32, 'u'));
    EXPECT_EQ(field_text(stored.password), std::string(32, 'p'));
    expect_logs(r, {with_detail(expected_log(219, 0, 3), 101,
                                nas_detail("NFS", std::string(63, 'x').c_str(), std::string(127, 'x').c_str()))});
}

TEST_F(NasTest, AddWithoutAnswerKeepsTheRecordsButLogsNothing)
{
    CgiResult r = post("/6201", "{\"num\": 1, \"port\": [6], \"vendor\": [\"v\"]}");
    EXPECT_EQ(r.out, kTextError);
    EXPECT_TRUE(has_disk(6));
    EXPECT_TRUE(r.payloads(REQ_OPERATION_LOG).empty());
    CgiResult bad = post("/6201", "{\"num\": 1, ");
    EXPECT_EQ(bad.out, "");
    EXPECT_TRUE(bad.daemon.empty());
}

TEST_F(NasTest, DeleteLogsEachConfiguredDiskAfterTheDaemonAnswered)
{
    put_disk(config_disk(7, DISK_TYPE_NFS, "a", "10.0.0.7", "/nfs"));
    put_disk(config_disk(8, DISK_TYPE_SMB, "b", "10.0.0.8", "/smb"));
    CgiResult r = post("/6200", "{\"num\": 3, \"port\": [7, 8, 9]}", status_line(3508, 0));
    EXPECT_EQ(r.out, kTextHeader + "OK");
    expect_same_bytes(r.payloads(3508)[0], bytes_of(port_list({7, 8, 9})));
    expect_logs(r, {with_detail(expected_log(220, 0, 7), 101, nas_detail("NFS", "10.0.0.7", "/nfs")),
                    with_detail(expected_log(220, 0, 8), 101, nas_detail("SMB/CIFS", "10.0.0.8", "/smb"))});

    CgiResult refused = post("/6200", "{\"num\": 99, \"port\": [8]}", status_line(3508, 1));
    EXPECT_EQ(refused.out, kTextHeader + "Error");
    expect_same_bytes(refused.payloads(3508)[0], bytes_of(port_list({8})));
    EXPECT_EQ(refused.payloads(REQ_OPERATION_LOG).size(), 1u);

    CgiResult silent = post("/6200", "{\"num\": 1, \"port\": [8]}");
    EXPECT_EQ(silent.out, kTextError);
    EXPECT_TRUE(silent.payloads(REQ_OPERATION_LOG).empty());
    EXPECT_EQ(post("/6200", "num=1").out, "");
}

TEST_F(NasTest, SearchListsTheSharesFound)
{
    ShareListRecord shares{};
    shares.count = 2;
    copy_text(shares.paths[0], "/export/nvr");
    std::memset(shares.paths[1], 'p', sizeof(shares.paths[1])); // a full field without NUL
    CgiResult r = post("/6202", "{\"port\": 12, \"serverAddr\": \"192.168.1.50\"}", answer_line(3440, bytes_of(shares)));
    EXPECT_EQ(r.out, kJsonHeader + "{ \"resultString\": \"OK\", \"NAS\": [ { \"filePath\": \"\\/export\\/nvr\" }, " +
                         "{ \"filePath\": \"" + std::string(256, 'p') + "\" } ] }");
    ShareSearchPayload search{};
    search.port = 12;
    copy_text(search.server, "192.168.1.50");
    EXPECT_EQ(r.payloads(3440), std::vector<std::string>{bytes_of(search)});
}

TEST_F(NasTest, SearchWithoutSharesAnswersNo)
{
    EXPECT_EQ(post("/6202", "{\"port\": 1, \"serverAddr\": \"h\"}", answer_line(3440, word_bytes(0))).out,
              kJsonHeader + "{ \"resultString\": \"NO\", \"NAS\": [ ] }");
    ShareListRecord many{};
    many.count = 1000;
    CgiResult r = post("/6202", "{\"port\": 1, \"serverAddr\": \"h\"}", answer_line(3440, bytes_of(many)));
    JsonPtr answer(json_tokener_parse(r.out.substr(kJsonHeader.size()).c_str()));
    EXPECT_EQ(json_object_array_length(json_object_object_get(answer.get(), "NAS")), 64u);
    EXPECT_EQ(post("/6202", "{\"port\": 1, \"serverAddr\": \"h\"}").out, kJsonError);
}

TEST_F(NasTest, EditStoresTheRecordAndLogsByProtocol)
{
    struct {
        int type;
        const char *protocol;
    } cases[] = {{DISK_TYPE_NFS, "NFS"}, {DISK_TYPE_SMB, "SMB/CIFS"}, {5, ""}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.type);
        CgiResult r = post("/6203",
                           "{\"port\": 7, \"type\": " + std::to_string(c.type) +
                               ", \"vendor\": \"v\", \"address\": \"10.0.0.1\", \"directory\": \"/d\", "
                               "\"userName\": \"a%26b\", \"password\": \"c%20d\"}",
                           status_line(3439, 0));
        EXPECT_EQ(r.out, kJsonHeader + "{ \"status\": 0, \"res\": 0 }");
        EXPECT_EQ(r.payloads(3439), std::vector<std::string>{word_bytes(7)});
        expect_same_bytes(bytes_of(disk(7)), bytes_of(config_disk(7, c.type, "v", "10.0.0.1", "/d", "a&b", "c d")));
        expect_logs(r, {with_detail(expected_log(221, 0, 7), 110, nas_detail(c.protocol, "10.0.0.1", "/d"))});
    }
}

TEST_F(NasTest, EditWithoutAnswerStoresButDoesNotLog)
{
    CgiResult r = post("/6203", "{\"port\": 4, \"vendor\": \"v\"}");
    EXPECT_EQ(r.out, kTextError);
    EXPECT_EQ(disk(4).disk_type, DISK_TYPE_NFS);
    EXPECT_TRUE(r.payloads(REQ_OPERATION_LOG).empty());
}

// The recorder's daemon mounts what the page configured; the next disk list shows it.
TEST_F(NasTest, RecorderListsANetworkDiskAddedThroughThePage)
{
    auto list_disks = [&] {
        CgiRequest request = CgiRequest::get("/6100");
        request.daemon = Daemon::Recorder;
        return run(request).out;
    };
    const std::string before = list_disks();
    EXPECT_NE(before.find("\"portId\": 1,"), std::string::npos);
    EXPECT_EQ(before.find("\"portId\": 20,"), std::string::npos);

    CgiRequest add = CgiRequest::post_json("/6201", "{\"num\": 1, \"type\": 10, \"port\": [20], \"vendor\": [\"office\"], "
                                                    "\"address\": [\"192.168.1.60\"], \"directory\": [\"rec\"], "
                                                    "\"userName\": [\"nvr%40office\"], \"password\": [\"s%26cret\"]}");
    add.daemon = Daemon::Recorder;
    EXPECT_EQ(run(add).out, kJsonHeader + "{ \"status\": 0, \"res\": 0 }");

    const std::string after = list_disks();
    const std::string added = "{ \"portId\": 20, \"vendorName\": \"office\", \"address\": \"192.168.1.60\", "
                              "\"directory\": \"rec\", ";
    EXPECT_NE(after.find(added), std::string::npos) << after;
    EXPECT_NE(after.find("\"hddType\": 10, \"state\": 1,"), std::string::npos);
    EXPECT_NE(after.find("\"userName\": \"nvr%40office\", \"password\": \"s%26cret\""), std::string::npos);

    CgiRequest remove = CgiRequest::post_json("/6200", "{\"num\": 1, \"port\": [20]}");
    remove.daemon = Daemon::Recorder;
    EXPECT_EQ(run(remove).out, kTextHeader + "OK");
    EXPECT_FALSE(has_disk(20));
    EXPECT_EQ(list_disks().find("\"portId\": 20,"), std::string::npos);
}

} // namespace
