// Request tests of the storage settings family: recycle mode (/6204, /6205), quotas (/6208,
// /6209) and disk groups (/6210), including a group rename carried out by the recorder's daemon.
#include "test_storage_fixture.h"

namespace {

using RecycleTest = StorageTest;

TEST_F(RecycleTest, SetAnswersOkOnlyWhenTheDaemonAgrees)
{
    CgiResult ok = post("/6204", "{\"mode\": 1, \"esata\": 2}", status_line(3475, 0));
    EXPECT_EQ(ok.out, kJsonHeader + "{ \"status\": \"OK\" }");
    EXPECT_EQ(ok.payloads(3475), std::vector<std::string>{bytes_of(RecycleModeRecord{1, 2})});
    for (int32_t status : {-1, 1})
        EXPECT_EQ(post("/6204", "{\"mode\": 0, \"esata\": 0}", status_line(3475, status)).out,
                  kJsonHeader + "{ \"status\": \"ERROR\" }")
            << status;
    EXPECT_EQ(post("/6204", "{\"mode\": 0, \"esata\": 0}").out, kJsonError);
    CgiResult bad = post("/6204", "mode=1", status_line(3475, 0));
    EXPECT_EQ(bad.out, "");
    EXPECT_TRUE(bad.daemon.empty());
}

TEST_F(RecycleTest, ReadAnswersModeAndEsata)
{
    CgiResult r = get("/6205", "", answer_line(3431, bytes_of(RecycleModeRecord{2, 1})));
    EXPECT_EQ(r.out, kJsonHeader + "{ \"mode\": 2, \"esata\": 1 }");
    EXPECT_EQ(r.payloads(3431), std::vector<std::string>{word_bytes(0)});
    EXPECT_EQ(get("/6205").out, kJsonError);
}

using QuotaTest = StorageTest;

QuotaEntry quota_entry(int channel, int video_quota, int picture_quota, int video_used, int picture_used)
{
    QuotaEntry entry{};
    entry.channel = static_cast<uint8_t>(channel);
    entry.video_quota = video_quota;
    entry.picture_quota = picture_quota;
    entry.video_used = video_used;
    entry.picture_used = picture_used;
    return entry;
}

std::string quota_payload(int32_t enable, int32_t count, const std::vector<QuotaEntry> &entries)
{
    std::string bytes = word_bytes(enable) + word_bytes(count);
    for (const QuotaEntry &entry : entries)
        bytes += bytes_of(entry);
    return bytes;
}

std::string zeros_json(int n)
{
    std::string text = "[ ";
    for (int i = 0; i < n; ++i)
        text += i ? ", 0" : "0";
    return text + " ]";
}

TEST_F(QuotaTest, ReadAnswersQuotasWithGroupsAndDisks)
{
    GroupRecord second{};
    second.id = 1;
    copy_text(second.name, "Lobby");
    ASSERT_EQ(write_group(db().c_str(), &second), 0);
    DiskConfigRecord first_disk = config_disk(3, 0, "", "", "");
    first_disk.group = 1;
    put_disk(first_disk);
    put_disk(config_disk(5, 0, "", "", "", "", "", 0));
    set_param("max_cameras", 16);
    set_param("group_mode", 1);

    CgiResult r = get("/6208", "",
                      answer_line(3529, quota_payload(1, 2, {quota_entry(0, 100, 10, 40, 2), quota_entry(200, 5, 6, 7, 8)})));

    std::string disks = "[ 2, 0";
    for (int i = 2; i < 36; ++i)
        disks += ", 0";
    disks += " ]";
    EXPECT_EQ(r.out, kJsonHeader +
                         "{ \"enable\": 1, \"quota_array\": [ "
                         "{ \"channel\": 0, \"video_used\": 40, \"video_quota\": 100, \"picture_used\": 2, "
                         "\"picture_quota\": 10 }, "
                         "{ \"channel\": 200, \"video_used\": 7, \"video_quota\": 5, \"picture_used\": 8, "
                         "\"picture_quota\": 6 } ], "
                         "\"channel\": [ \"\", \"Lobby\", \"\", \"\", \"\", \"\", \"\", \"\", \"\", \"\", \"\", \"\", "
                         "\"\", \"\", \"\", \"\" ], "
                         "\"disk\": " + disks + ", \"max_chan\": 16, \"group_enable\": 1 }");
    EXPECT_EQ(r.payloads(3529), std::vector<std::string>{""});
}

TEST_F(QuotaTest, ReadsNoMoreEntriesThanThePayloadHolds)
{
    auto entries_answered = [&](const std::string &payload) {
        CgiResult r = get("/6208", "", answer_line(3529, payload));
        size_t count = 0;
        for (size_t at = r.out.find("\"video_used\""); at != std::string::npos; at = r.out.find("\"video_used\"", at + 1))
            ++count;
        return count;
    };
    std::vector<QuotaEntry> sixty_four(64, quota_entry(1, 1, 1, 1, 1));
    EXPECT_EQ(entries_answered(quota_payload(1, 64, {quota_entry(1, 1, 1, 1, 1), quota_entry(2, 2, 2, 2, 2)})), 2u);
    EXPECT_EQ(entries_answered(quota_payload(1, 64, sixty_four)), 64u);
    EXPECT_EQ(entries_answered(quota_payload(1, 500, sixty_four)), 64u);
    EXPECT_EQ(entries_answered(quota_payload(1, 3, sixty_four)), 3u);
    EXPECT_EQ(entries_answered(quota_payload(1, -1, sixty_four)), 0u);
}

TEST_F(QuotaTest, AnEmptyAnswerGivesDefaults)
{
    EXPECT_EQ(get("/6208", "", answer_line(3529, "")).out,
              kJsonHeader + "{ \"enable\": 0, \"quota_array\": [ ], \"channel\": [ \"\", \"\", \"\", \"\", \"\", \"\", "
                            "\"\", \"\", \"\", \"\", \"\", \"\", \"\", \"\", \"\", \"\" ], \"disk\": " +
                  zeros_json(36) + ", \"max_chan\": 32, \"group_enable\": 0 }");
    EXPECT_EQ(get("/6208").out, kJsonError);
}

TEST_F(QuotaTest, SetSendsTheQuotaPayload)
{
    CgiResult r = post("/6209",
                       "{\"enable\": 1, \"quota_array\": [ {\"channel\": 3, \"video_quota\": 50, \"picture_quota\": 5, "
                       "\"video_used\": 9}, {\"channel\": 300, \"video_quota\": 1} ]}",
                       status_line(3530, 0));
    EXPECT_EQ(r.out, kTextHeader + "OK");
    QuotaPayload expected{};
    expected.enable = 1;
    expected.count = 2;
    expected.entries[0] = quota_entry(3, 50, 5, 0, 0);
    expected.entries[1] = quota_entry(44, 1, 0, 0, 0); // the channel is one byte
    expect_same_bytes(r.payloads(3530)[0], bytes_of(expected));
    EXPECT_EQ(post("/6209", "{\"enable\": 0}", status_line(3530, 2)).out, kTextHeader + "Error");
}

TEST_F(QuotaTest, SetTakesAtMostSixtyFourEntriesAndNeedsEnable)
{
    std::string entries;
    for (int i = 0; i < 70; ++i)
        entries += std::string(i ? ", " : "") + "{\"channel\": " + std::to_string(i) + "}";
    CgiResult r = post("/6209", "{\"enable\": 1, \"quota_array\": [" + entries + "]}", status_line(3530, 0));
    QuotaPayload sent{};
    std::memcpy(&sent, r.payloads(3530)[0].data(), sizeof(sent));
    EXPECT_EQ(sent.count, 64);
    EXPECT_EQ(sent.entries[63].channel, 63);

    for (const char *body : {"{\"quota_array\": []}", "{\"enable\": "}) {
        CgiResult refused = post("/6209", body, status_line(3530, 0));
        EXPECT_EQ(refused.out, "") << body;
        EXPECT_TRUE(refused.daemon.empty()) << body;
    }
    EXPECT_EQ(post("/6209", "{\"enable\": 1}").out, kTextError);
}

using GroupTest = StorageTest;

GroupRecord rename_payload(int id, const char *name, const char *second = "")
{
    GroupRecord rename{};
    rename.id = id;
    copy_text(rename.name, name);
    copy_text(rename.second, second);
    return rename;
}

TEST_F(GroupTest, DisablingStoresZeroAndTellsTheDaemon)
{
    set_param("group_mode", 1);
    for (const char *body : {"{\"group_enable\": 0, \"channel\": [\"a\"]}", "{}"}) {
        CgiResult r = post("/6210", body);
        EXPECT_EQ(r.out, kTextHeader + "OK") << body;
        EXPECT_EQ(r.daemon_ids(), std::vector<int>{3442}) << body;
        EXPECT_EQ(r.payloads(3442)[0], word_bytes(0));
        EXPECT_EQ(param("group_mode", -1), 0);
    }
}

TEST_F(GroupTest, EnablingStoresTheModeAndRenamesTheGroups)
{
    GroupRecord second{};
    second.id = 1;
    copy_text(second.name, "old");
    copy_text(second.second, "0101");
    ASSERT_EQ(write_group(db().c_str(), &second), 0);
    CgiResult r = post("/6210", "{\"group_enable\": 2, \"channel\": [\"Entrance\", \"Yard\"]}");
    EXPECT_EQ(r.out, kTextHeader + "OK");
    EXPECT_EQ(r.daemon_ids(), (std::vector<int>{3442, 3436, 3436, 1307}));
    EXPECT_EQ(r.payloads(3442)[0], word_bytes(2));
    std::vector<std::string> renames = r.payloads(3436);
    expect_same_bytes(renames[0], bytes_of(rename_payload(0, "Entrance")));
    expect_same_bytes(renames[1], bytes_of(rename_payload(1, "Yard", "0101")));
    EXPECT_EQ(r.payloads(1307), std::vector<std::string>{""});
    EXPECT_EQ(param("group_mode", -1), 2);
}

TEST_F(GroupTest, AnActiveModeIsKeptAndAtMostSixteenGroupsAreRenamed)
{
    set_param("group_mode", 1);
    std::string names;
    for (int i = 0; i < 17; ++i)
        names += std::string(i ? ", " : "") + "\"" + std::string(70, static_cast<char>('a' + i)) + "\"";
    CgiResult r = post("/6210", "{\"group_enable\": 2, \"channel\": [" + names + "]}");
    EXPECT_EQ(r.out, kTextHeader + "OK");
    EXPECT_TRUE(r.payloads(3442).empty());
    EXPECT_EQ(param("group_mode", -1), 1);
    std::vector<std::string> renames = r.payloads(3436);
    ASSERT_EQ(renames.size(), 16u);
    expect_same_bytes(renames[15], bytes_of(rename_payload(15, std::string(64, 'p').c_str())));
    EXPECT_EQ(r.daemon_ids().back(), 1307);
    EXPECT_EQ(post("/6210", "{\"group_enable\"").out, "");
}

TEST_F(GroupTest, RecorderRenamesTheGroupInTheDatabase)
{
    CgiRequest request = CgiRequest::post_json("/6210", "{\"group_enable\": 1, \"channel\": [\"Front\", \"Back\"]}");
    request.daemon = Daemon::Recorder;
    EXPECT_EQ(run(request).out, kTextHeader + "OK");
    EXPECT_EQ(field_text(group(0).name), "Front");
    EXPECT_EQ(field_text(group(1).name), "Back");
    EXPECT_EQ(field_text(group(2).name), "");

    CgiRequest quotas = CgiRequest::get("/6208");
    quotas.daemon = Daemon::Recorder;
    EXPECT_NE(run(quotas).out.find("\"channel\": [ \"Front\", \"Back\", \"\""), std::string::npos);
}

} // namespace
