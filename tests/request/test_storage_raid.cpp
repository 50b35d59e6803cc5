// Request tests of the storage RAID family: creating (/6104) and removing (/6105) arrays, hot
// spares (/6106), rebuilds (/6107) and the RAID mode parameter (/6108, /6109).
#include "test_storage_fixture.h"

namespace {

using RaidTest = StorageTest;

RaidPayload raid_payload(int32_t id, int32_t enable, int32_t level, int32_t count, std::vector<int32_t> members)
{
    RaidPayload raid{};
    raid.id = id;
    raid.enable = enable;
    raid.level = level;
    raid.member_count = count;
    for (size_t i = 0; i < members.size(); ++i)
        raid.members[i] = members[i];
    return raid;
}

TEST_F(RaidTest, CreateBuildsMembersFromTheSataPortMask)
{
    CgiResult r = post("/6104", "{\"id\": 10, \"enable\": 1, \"level\": 1, \"sata_cnt\": 2, \"sata_port\": 5}",
                       status_line(3420, 0));
    EXPECT_EQ(r.out, kTextHeader + "OK");
    EXPECT_EQ(r.daemon_ids(), std::vector<int>{3420});
    expect_same_bytes(r.payloads(3420)[0], bytes_of(raid_payload(10, 1, 1, 2, {0, 2})));
}

TEST_F(RaidTest, CreateTakesAtMostTheSixteenLowBits)
{
    std::vector<int32_t> all;
    for (int i = 0; i < 16; ++i)
        all.push_back(i);
    CgiResult r = post("/6104", "{\"id\": 15, \"enable\": 0, \"level\": 5, \"sata_cnt\": 16, \"sata_port\": 262143}",
                       status_line(3420, -1));
    EXPECT_EQ(r.out, kTextHeader + "Error");
    expect_same_bytes(r.payloads(3420)[0], bytes_of(raid_payload(15, 0, 5, 16, all)));
}

TEST_F(RaidTest, CreateRefusesIncompleteOrOutOfRangeInput)
{
    const char *bodies[] = {
        "{\"id\": 9, \"enable\": 1, \"level\": 1, \"sata_cnt\": 2, \"sata_port\": 5}",
        "{\"id\": 16, \"enable\": 1, \"level\": 1, \"sata_cnt\": 2, \"sata_port\": 5}",
        "{\"enable\": 1, \"level\": 1, \"sata_cnt\": 2, \"sata_port\": 5}",
        "{\"id\": 10, \"level\": 1, \"sata_cnt\": 2, \"sata_port\": 5}",
        "{\"id\": 10, \"enable\": 1, \"level\": -1, \"sata_cnt\": 2, \"sata_port\": 5}",
        "{\"id\": 10, \"enable\": 1, \"level\": 1, \"sata_cnt\": -2, \"sata_port\": 5}",
        "{\"id\": 10, \"enable\": 1, \"level\": 1, \"sata_cnt\": 2, \"sata_port\": -5}",
        "{\"id\": 10, \"enable\": 1, \"level\": 1, \"sata_cnt\": 2}",
        "{\"id\": 10, \"enable\": 1, \"sata_cnt\": 2, \"sata_port\": 5}",
        "{\"id\": 10, \"enable\": 1, \"level\": 1, \"sata_port\": 5}",
        "{\"id\": 10,",
    };
    for (const char *body : bodies) {
        CgiResult r = post("/6104", body, status_line(3420, 0));
        EXPECT_EQ(r.out, "") << body;
        EXPECT_TRUE(r.daemon.empty()) << body;
    }
}

TEST_F(RaidTest, NoAnswerGivesTheTextError)
{
    EXPECT_EQ(post("/6104", "{\"id\": 12, \"enable\": 1, \"level\": 0, \"sata_cnt\": 1, \"sata_port\": 1}").out,
              kTextError);
    EXPECT_EQ(get("/6105", "12").out, kTextError);
    EXPECT_EQ(post("/6106", "{\"port\": 3, \"hotflag\": 1}").out, kTextError);
    EXPECT_EQ(post("/6107", "{\"diskport\": 3, \"raidport\": 10}").out, kTextError);
}

TEST_F(RaidTest, RemoveTakesABareIdFromTenToSixteen)
{
    for (int id : {10, 16}) {
        CgiResult r = get("/6105", std::to_string(id), status_line(3421, 0));
        EXPECT_EQ(r.out, kTextHeader + "OK");
        RaidPayload raid{};
        raid.id = id;
        EXPECT_EQ(r.payloads(3421), std::vector<std::string>{bytes_of(raid)});
    }
    EXPECT_EQ(get("/6105", "11", status_line(3421, 2)).out, kTextHeader + "Error");
    for (const char *text : {"9", "17", "abc", "{\"id\": 12}", ""}) {
        CgiResult r = get("/6105", text, status_line(3421, 0));
        EXPECT_EQ(r.out, "") << text;
        EXPECT_TRUE(r.daemon.empty()) << text;
    }
}

TEST_F(RaidTest, HotSpareSetsOrClearsByFlag)
{
    CgiResult set = post("/6106", "{\"port\": 3, \"hotflag\": 2}", status_line(3423, 0) + status_line(3424, 1));
    EXPECT_EQ(set.out, kTextHeader + "OK");
    EXPECT_EQ(set.daemon_ids(), std::vector<int>{3423});
    EXPECT_EQ(set.payloads(3423)[0], word_bytes(3));

    CgiResult clear = post("/6106", "{\"port\": 40, \"hotflag\": 0}", status_line(3423, 0) + status_line(3424, 1));
    EXPECT_EQ(clear.out, kTextHeader + "Error");
    EXPECT_EQ(clear.daemon_ids(), std::vector<int>{3424});
    EXPECT_EQ(clear.payloads(3424)[0], word_bytes(40));

    CgiResult bad = post("/6106", "hotflag=1", status_line(3423, 0));
    EXPECT_EQ(bad.out, "");
    EXPECT_TRUE(bad.daemon.empty());
}

TEST_F(RaidTest, RebuildSendsDiskAndArray)
{
    CgiResult r = post("/6107", "{\"diskport\": 5, \"raidport\": 11}", status_line(3425, 0));
    EXPECT_EQ(r.out, kTextHeader + "OK");
    EXPECT_EQ(r.payloads(3425), std::vector<std::string>{bytes_of(RaidRebuildPayload{5, 11})});
    EXPECT_EQ(post("/6107", "{\"diskport\": 5, \"raidport\": 11}", status_line(3425, -4)).out, kTextHeader + "Error");
    EXPECT_EQ(post("/6107", "[", status_line(3425, 0)).out, "");
}

TEST_F(RaidTest, ModeIsStoredAsZeroOrOne)
{
    EXPECT_EQ(get("/6108").out, kTextHeader + "0");
    CgiResult r = get("/6109", "1");
    EXPECT_EQ(r.out, kTextHeader + "OK");
    EXPECT_TRUE(r.daemon.empty());
    EXPECT_EQ(param("raidmode", -1), 1);
    EXPECT_EQ(get("/6108").out, kTextHeader + "1");
    for (const char *text : {"7", "-1", "x"}) {
        set_param("raidmode", 1);
        EXPECT_EQ(get("/6109", text).out, kTextHeader + "OK") << text;
        EXPECT_EQ(param("raidmode", -1), 0) << text;
    }
}

} // namespace
