// PTZ action entries of an event (/6160 to /6164) through the real webcgi: add, list, delete,
// change and delete several, for any event type, with the people-counting list kept apart.
#include "test_video_fixture.h"

namespace {

const std::string kOk = kTextHeader + "OK";

struct PtzActions : VideoTest {
    PtzActionList list(int event_type, int channel) const
    {
        PtzActionList l{};
        int count = 0;
        if (event_type == PTZ_EVENT_PEOPLE_COUNTING)
            read_peoplecnt_ptz_params(db().c_str(), &l, channel, &count);
        else
            read_ptz_params(db().c_str(), &l, event_type, channel, &count);
        return l;
    }
    std::string listed(int event_type, int channel)
    {
        return post("/6161", R"({"type": )" + std::to_string(event_type) + R"(, "chn_id": )" + std::to_string(channel) + "}").out;
    }
    void add(int event_type, int channel, const std::string &entry)
    {
        ASSERT_EQ(post("/6160", R"({"type": )" + std::to_string(event_type) + R"(, "chn_id": )" + std::to_string(channel) +
                                    ", " + entry + "}")
                      .out,
                  kOk);
    }
};

std::string info(const std::string &entries) { return kJsonHeader + R"({ "ptzInfo": [ )" + entries + R"( ] })"; }
const std::string kEmptyInfo = kJsonHeader + R"({ "ptzInfo": [ ] })";

TEST_F(PtzActions, AddStoresTheNumberOfItsTypeAndListAnswersIt)
{
    add(1, 4, R"("acto_ptz_channel": 2, "acto_ptz_type": 1, "acto_ptz_preset": 5, "acto_ptz_patrol": 6, "acto_ptz_pattern": 7)");
    add(1, 4, R"("acto_ptz_channel": 3, "acto_ptz_type": 2, "acto_ptz_preset": 5, "acto_ptz_patrol": 6, "acto_ptz_pattern": 7)");
    add(1, 4, R"("acto_ptz_channel": 9, "acto_ptz_type": 3, "acto_ptz_preset": 5, "acto_ptz_patrol": 6, "acto_ptz_pattern": 7)");
    const PtzActionList l = list(1, 4);
    EXPECT_EQ(to_hex(bytes_of(l.entries[0])), hex_of(PtzActionEntry{4, 2, 0, 1, 5, 0, 0}));
    EXPECT_EQ(to_hex(bytes_of(l.entries[1])), hex_of(PtzActionEntry{4, 3, 0, 2, 0, 6, 0}));
    EXPECT_EQ(to_hex(bytes_of(l.entries[2])), hex_of(PtzActionEntry{4, 9, 0, 3, 0, 0, 7}));
    EXPECT_EQ(listed(1, 4), info(R"({ "acto_ptz_channel": 2, "acto_ptz_type": 1, "acto_ptz_preset": 5, "acto_ptz_patrol": 0 }, )"
                                 R"({ "acto_ptz_channel": 3, "acto_ptz_type": 2, "acto_ptz_preset": 0, "acto_ptz_patrol": 6 }, )"
                                 R"({ "acto_ptz_channel": 9, "acto_ptz_type": 3, "acto_ptz_preset": 0, "acto_ptz_patrol": 0 })"));
    // Each event type and channel has its own list.
    EXPECT_EQ(listed(2, 4), kEmptyInfo);
    EXPECT_EQ(listed(1, 5), kEmptyInfo);
    EXPECT_EQ(listed(20, 4), kEmptyInfo);
}

TEST_F(PtzActions, ListLeavesOutEmptyPlaces)
{
    PtzActionList l{};
    l.entries[0] = {6, 0, 0, 1, 4, 0, 0};
    l.entries[1] = {6, -2, 0, 1, 4, 0, 0};
    l.entries[5] = {6, 8, 0, 2, 0, 3, 0};
    write_ptz_params_all(db().c_str(), &l, 0, 6);
    EXPECT_EQ(listed(0, 6), info(R"({ "acto_ptz_channel": 8, "acto_ptz_type": 2, "acto_ptz_preset": 0, "acto_ptz_patrol": 3 })"));
}

TEST_F(PtzActions, PeopleCountingKeepsItsOwnList)
{
    add(20, 1, R"("acto_ptz_channel": 2, "acto_ptz_type": 1, "acto_ptz_preset": 5)");
    EXPECT_EQ(list(20, 1).entries[0].acto_ptz_preset, 5);
    EXPECT_EQ(vkdb_count(db().c_str(), k_kind_ptz_params, "event_type_20"), 0);
    EXPECT_EQ(listed(20, 1), info(R"({ "acto_ptz_channel": 2, "acto_ptz_type": 1, "acto_ptz_preset": 5, "acto_ptz_patrol": 0 })"));
    EXPECT_EQ(post("/6163", R"({"type": 20, "chn_id": 1, "old_chn_id": 2, "acto_ptz_channel": 4, "acto_ptz_type": 2, "acto_ptz_patrol": 1})").out, kOk);
    EXPECT_EQ(listed(20, 1), info(R"({ "acto_ptz_channel": 4, "acto_ptz_type": 2, "acto_ptz_preset": 0, "acto_ptz_patrol": 1 })"));
    EXPECT_EQ(post("/6162", R"({"type": 20, "chn_id": 1, "acto_ptz_channel": 4})").out, kOk);
    EXPECT_EQ(listed(20, 1), kEmptyInfo);
}

TEST_F(PtzActions, ChangeReplacesTheEntryOfTheOldPtzChannel)
{
    add(5, 2, R"("acto_ptz_channel": 3, "acto_ptz_type": 1, "acto_ptz_preset": 1)");
    add(5, 2, R"("acto_ptz_channel": 4, "acto_ptz_type": 1, "acto_ptz_preset": 2)");
    EXPECT_EQ(post("/6163", R"({"type": 5, "chn_id": 2, "old_chn_id": 3, "acto_ptz_channel": 7, "acto_ptz_type": 3,
                                "acto_ptz_pattern": 9})").out, kOk);
    EXPECT_EQ(listed(5, 2), info(R"({ "acto_ptz_channel": 7, "acto_ptz_type": 3, "acto_ptz_preset": 0, "acto_ptz_patrol": 0 }, )"
                                 R"({ "acto_ptz_channel": 4, "acto_ptz_type": 1, "acto_ptz_preset": 2, "acto_ptz_patrol": 0 })"));
    EXPECT_EQ(list(5, 2).entries[0].acto_ptz_pattern, 9);
    // Changing an entry that is not there changes nothing.
    EXPECT_EQ(post("/6163", R"({"type": 5, "chn_id": 2, "old_chn_id": 30, "acto_ptz_channel": 8, "acto_ptz_type": 1})").out, kOk);
    EXPECT_EQ(list(5, 2).entries[0].acto_ptz_channel, 7);
    EXPECT_EQ(list(5, 2).entries[2].acto_ptz_channel, 0);
}

TEST_F(PtzActions, DeleteOneAndSeveral)
{
    for (int ptz : {2, 3, 4, 5})
        add(2, 9, R"("acto_ptz_channel": )" + std::to_string(ptz) + R"(, "acto_ptz_type": 1, "acto_ptz_preset": 1)");
    EXPECT_EQ(post("/6162", R"({"type": 2, "chn_id": 9, "acto_ptz_channel": 3})").out, kOk);
    EXPECT_EQ(post("/6164", R"({"type": 2, "chn_id": 9, "ptzChannel": [5, 2, 40]})").out, kOk);
    EXPECT_EQ(listed(2, 9), info(R"({ "acto_ptz_channel": 4, "acto_ptz_type": 1, "acto_ptz_preset": 1, "acto_ptz_patrol": 0 })"));
    EXPECT_EQ(post("/6162", R"({"type": 2, "chn_id": 9, "acto_ptz_channel": -1})").out, kTextError);
    EXPECT_EQ(post("/6162", R"({"type": 2, "chn_id": 9})").out, kTextError);
    EXPECT_EQ(listed(2, 9), info(R"({ "acto_ptz_channel": 4, "acto_ptz_type": 1, "acto_ptz_preset": 1, "acto_ptz_patrol": 0 })"));
}

TEST_F(PtzActions, BadTargetsGetTheTextErrorAndBadBodiesNoAnswer)
{
    const std::string entry = R"("acto_ptz_channel": 2, "acto_ptz_type": 1, "acto_ptz_preset": 1, "old_chn_id": 2, "ptzChannel": [2])";
    for (const char *code : {"/6160", "/6161", "/6162", "/6163", "/6164"}) {
        for (const std::string target : {R"("type": 1, "chn_id": -1)", R"("type": 1, "chn_id": 64)", R"("type": 1)", R"("chn_id": 1)"}) {
            CgiResult r = post(code, "{" + target + ", " + entry + "}");
            EXPECT_EQ(r.out, kTextError) << code << target;
        }
        EXPECT_EQ(post(code, "[").out, "") << code;
    }
    EXPECT_EQ(vkdb_count(db().c_str(), k_kind_ptz_params, "event_type_1"), 0);
}

} // namespace
