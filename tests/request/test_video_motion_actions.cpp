// The actions of a motion event through the real webcgi: the event-action set of /6117, the
// dialog save of /6112 with its presence rule, and the copy of a channel's whole motion
// configuration to the channels of a copy mask with the camera requests and the batch log entry.
#include "test_video_fixture.h"

namespace {

const std::string kOk = kTextHeader + "OK";

struct MotionActions : VideoTest {
    std::vector<WhiteLedEntry> white_entries(int channel, const char *table = MOTION_WHITELED_PARAMS_TABLE) const
    {
        WhiteLedBlock block{};
        WhiteLedKey key{channel, {}};
        copy_text(key.table, table);
        int count = 0;
        read_whiteled_params(db().c_str(), &block, &key, &count);
        return std::vector<WhiteLedEntry>(block.entries, block.entries + count);
    }
    HttpNotificationParams http_params(int channel) const
    {
        HttpNotificationParams params{};
        read_http_notification_params(db().c_str(), &params, MOTION_HTTP_PARAMS_TABLE, channel);
        return params;
    }
    bool has_http_params(int channel) const
    {
        HttpNotificationParams params{};
        return read_http_notification_params(db().c_str(), &params, MOTION_HTTP_PARAMS_TABLE, channel) == 0;
    }
    PtzActionList ptz_list(int channel, int event_type = PTZ_EVENT_MOTION) const
    {
        PtzActionList list{};
        int count = 0;
        read_ptz_params(db().c_str(), &list, event_type, channel, &count);
        return list;
    }
    int ptz_lists() const { return vkdb_count(db().c_str(), k_kind_ptz_params, "event_type_1"); }
};

// Every part of the set, schedules tagged by kind.
std::string full_action_set(int channel)
{
    return R"("chnid": )" + std::to_string(channel) + R"(, "enable": 1, "triAlarms": 3, "interval": 15, "audioId": 4,
        "email_interval": 16, "email_pic_enable": 1, "tri_channels_pic": "0011", "ptz_interval": 17,
        "alarmout_interval": 18, "white_interval": 19, "http_notification_interval": 20,
        "triChannels": "1100000000000000000000000000000000000001", "triChnAlarms": ["0101", "1010"],
        "effective": )" + TaggedSchedule{"e", 1}.request() + R"(, "audible": )" + TaggedSchedule{"a", 2}.request() +
           R"(, "email": )" + TaggedSchedule{"m", 3}.request() + R"(, "ptz": )" + TaggedSchedule{"p", 4}.request() +
           R"(, "white": )" + TaggedSchedule{"w", 5}.request() + R"(, "httpSche": )" + TaggedSchedule{"h", 6}.request() +
           R"(, "whiteInfo": [[2, 1, 30], [3, 0, 10]], "httpParams": {"url": "http://a/%d", "username": "u", "password": "p"},
        "ptzChnId": )" + std::to_string(channel) + R"(, "ptzType": 1,
        "ptzParams": [{"acto_ptz_channel": 2, "acto_ptz_type": 3, "acto_ptz_pattern": 8}])";
}

// The record a full action set leaves on top of `before`.
MotionRecord with_full_action_set(MotionRecord r)
{
    r.enable = 1;
    r.tri_alarms = 3;
    r.interval = 15;
    r.audio_id = 4;
    r.email_interval = 16;
    r.email_pic_enable = 1;
    copy_text(r.tri_channels_pic, "0011");
    r.ptz_interval = 17;
    r.alarmout_interval = 18;
    r.white_interval = 19;
    r.http_notification_interval = 20;
    copy_text(r.tri_channels, "1100000000000000000000000000000000000001");
    r.tri_channel_mask = 0x3;
    copy_text(r.tri_chn_alarms[0], "0101");
    copy_text(r.tri_chn_alarms[1], "1010");
    return r;
}

// ---- /6117 -------------------------------------------------------------------------------------

TEST_F(MotionActions, EventActionsWithOnlyTheChannelStoreNothing)
{
    drop_motion(6);
    CgiResult r = post("/6117", R"({"chnid": 6})");
    EXPECT_EQ(r.out, kOk);
    ASSERT_EQ(r.daemon_ids(), std::vector<int>{1403});
    EXPECT_EQ(r.daemon[0].payload, word_bytes(6));
    EXPECT_FALSE(has_motion(6));
    EXPECT_FALSE(schedule(SCHEDULE_KIND_MOTION_EFFECTIVE, 6));
}

TEST_F(MotionActions, EventActionsStoreWhatIsPresentAndLeaveTheRest)
{
    const MotionRecord before = sample_motion(6);
    put_motion(before);
    CgiResult r = post("/6117", "{" + full_action_set(6) + "}");
    EXPECT_EQ(r.out, kOk);
    EXPECT_EQ(r.daemon_ids(), std::vector<int>{1403});

    // The HTTP-notification interval, schedule and parameters and the PTZ list are not this
    // request's business.
    MotionRecord expected = with_full_action_set(before);
    expected.http_notification_interval = before.http_notification_interval;
    EXPECT_EQ(to_hex(bytes_of(motion(6))), to_hex(bytes_of(expected)));
    EXPECT_TRUE(schedule_is(SCHEDULE_KIND_MOTION_EFFECTIVE, 6, TaggedSchedule{"e", 1}));
    EXPECT_TRUE(schedule_is(SCHEDULE_KIND_MOTION_AUDIBLE, 6, TaggedSchedule{"a", 2}));
    EXPECT_TRUE(schedule_is(SCHEDULE_KIND_MOTION_EMAIL, 6, TaggedSchedule{"m", 3}));
    EXPECT_TRUE(schedule_is(SCHEDULE_KIND_MOTION_PTZ, 6, TaggedSchedule{"p", 4}));
    EXPECT_TRUE(schedule_is(SCHEDULE_KIND_WHITELED_EFFECTIVE, 6, TaggedSchedule{"w", 5}, MOTION_WHITELED_SCHEDULE_TABLE));
    EXPECT_FALSE(schedule(SCHEDULE_KIND_HTTP_NOTIFICATION, 6, MOTION_HTTP_SCHEDULE_TABLE));
    EXPECT_EQ(white_entries(6).size(), 2u);
    EXPECT_FALSE(has_http_params(6));
    EXPECT_EQ(ptz_lists(), 0);

    // A second request with a single key changes that key only.
    r = post("/6117", R"({"chnid": 6, "white_interval": 99})");
    expected.white_interval = 99;
    EXPECT_EQ(to_hex(bytes_of(motion(6))), to_hex(bytes_of(expected)));
    EXPECT_TRUE(schedule_is(SCHEDULE_KIND_MOTION_EFFECTIVE, 6, TaggedSchedule{"e", 1}));
}

TEST_F(MotionActions, EventActionsRefuseWithTheJsonError)
{
    for (const char *body : {R"({"chnid": 64, "enable": 1})", R"({"chnid": -1, "enable": 1})", R"({"enable": 1})", "{{"}) {
        CgiResult r = post("/6117", body);
        EXPECT_EQ(r.out, kJsonError) << body;
        EXPECT_TRUE(r.daemon.empty()) << body;
    }
    EXPECT_FALSE(has_motion(64));
}

// ---- /6112: the dialog ---------------------------------------------------------------------------

TEST_F(MotionActions, DialogSavesTheWholeSetAndReadsBack)
{
    const MotionRecord before = sample_motion(2);
    put_motion(before);
    CgiResult r = post("/6112", R"({"chnid": 2, "sensitivity": 1, "enableMS": 0, "motionTable": "g", "copyCnt": 0,
                                    "dialog": {)" + full_action_set(2) + "}}");
    EXPECT_EQ(r.out, kOk);
    EXPECT_EQ(to_hex(bytes_of(motion(2))), to_hex(bytes_of(with_full_action_set(before))));
    EXPECT_TRUE(schedule_is(SCHEDULE_KIND_HTTP_NOTIFICATION, 2, TaggedSchedule{"h", 6}, MOTION_HTTP_SCHEDULE_TABLE));
    const HttpNotificationParams http = http_params(2);
    EXPECT_EQ(http.channel, 2);
    EXPECT_STREQ(http.url, "http://a/%d");
    const PtzActionList list = ptz_list(2);
    EXPECT_EQ(list.entries[0].chn_id, 2);
    EXPECT_EQ(list.entries[0].acto_ptz_pattern, 8);

    // Read back through /6010: what was sent comes out again.
    const std::string got = post("/6010", R"({"chnid": 2})").out;
    for (const std::string &part :
         {std::string(R"("triChannels": "1100000000000000000000000000000000000001", "triAlarms": 3, "interval": 15, )"
                      R"("enableMS": 1, "motionTable": "grid-2", "email_enable": 1, "email_interval": 16, )"
                      R"("email_pic_enable": 1, "tri_channels_pic": "0011", "ptz_interval": 17, "alarmout_interval": 18, )"
                      R"("http_notification_interval": 20, "effective": )") + TaggedSchedule{"e", 1}.answer(),
          std::string(R"("triChnAlarms": [ "0101", "1010" ], "white": )") + TaggedSchedule{"w", 5}.answer() +
              R"(, "whiteInfo": [ { "chnid": 2, "mode": 1, "time": 30 }, { "chnid": 3, "mode": 0, "time": 10 } ], )"
              R"("white_interval": 19, "httpSche": )" + TaggedSchedule{"h", 6}.answer() +
              R"(, "httpParams": { "chnId": 2, "url": "http:\/\/a\/%d", "username": "u", "password": "p" }, "audioId": 4, )"
              R"("audioIdMask": 0, "ptzParams": [ { "acto_ptz_channel": 2, "acto_ptz_type": 3, "acto_ptz_preset": 0, )"
              R"("acto_ptz_patrol": 0 } ] })"})
        EXPECT_NE(got.find(part), std::string::npos) << part;
}

TEST_F(MotionActions, DialogWithoutRecordKeysWritesNoRecordButStillAnnounces)
{
    drop_motion(2);
    CgiResult r = post("/6112", R"({"chnid": 2, "copyCnt": 0, "dialog": {"chnid": 2, "white": [], "whiteInfo": []}})");
    EXPECT_EQ(r.out, kOk);
    EXPECT_FALSE(has_motion(2));
    EXPECT_TRUE(schedule(SCHEDULE_KIND_WHITELED_EFFECTIVE, 2, MOTION_WHITELED_SCHEDULE_TABLE));
    EXPECT_EQ(r.daemon_ids(), (std::vector<int>{1403, 3509, 3251, 1410, 3212}));
}

TEST_F(MotionActions, DialogPtzListForAnotherChannelStoresTheRecordToo)
{
    drop_motion(2);
    CgiResult r = post("/6112", R"({"chnid": 2, "dialog": {"chnid": 2, "ptzChnId": 7,
                                    "ptzParams": [{"acto_ptz_channel": 4, "acto_ptz_type": 1, "acto_ptz_preset": 3}]}})");
    EXPECT_EQ(r.out, kOk);
    EXPECT_EQ(ptz_list(7).entries[0].acto_ptz_preset, 3);
    EXPECT_EQ(ptz_list(7).entries[0].chn_id, 7);
    EXPECT_TRUE(has_motion(2)); // the written list counts as a change
    EXPECT_EQ(motion(2).chnid, 2);
}

TEST_F(MotionActions, DialogWithABadChannelIsSkippedWhole)
{
    for (const char *dialog : {R"({"chnid": 64, "enable": 1, "white": []})", R"({"enable": 1})", R"(5)"}) {
        CgiResult r = post("/6112", std::string(R"({"chnid": 1, "copyCnt": 0, "dialog": )") + dialog + "}");
        EXPECT_EQ(r.out, kOk) << dialog;
        EXPECT_EQ(r.daemon_ids(), (std::vector<int>{3509, 3251, 1410, 3212})) << dialog;
    }
    EXPECT_FALSE(has_motion(64));
    EXPECT_FALSE(schedule(SCHEDULE_KIND_WHITELED_EFFECTIVE, 64, MOTION_WHITELED_SCHEDULE_TABLE));
}

// ---- /6112: the copy -------------------------------------------------------------------------------

TEST_F(MotionActions, CopyReachesExactlyTheMaskedChannels)
{
    const MotionRecord source = sample_motion(1);
    put_motion(source);
    MotionRecord untouched = sample_motion(4);
    untouched.sensitivity = 9;
    put_motion(untouched);
    CgiResult r = post("/6112", R"({"chnid": 1, "sensitivity": 2, "enableMS": 1, "motionTable": "abc",
                                    "copyChn": [3, 70, 5], "copyCnt": 3, "dialog": {)" + full_action_set(1) + "}}");
    EXPECT_EQ(r.out, kOk);

    // The source keeps its own sensitivity and switch; the copies carry the request's.
    const MotionRecord stored_source = with_full_action_set(source);
    EXPECT_EQ(to_hex(bytes_of(motion(1))), to_hex(bytes_of(stored_source)));
    for (int channel : {3, 5}) {
        MotionRecord expected = stored_source;
        expected.chnid = channel;
        expected.sensitivity = 2;
        expected.enable_ms = 1;
        EXPECT_EQ(to_hex(bytes_of(motion(channel))), to_hex(bytes_of(expected))) << channel;
        EXPECT_TRUE(schedule_is(SCHEDULE_KIND_MOTION_EFFECTIVE, channel, TaggedSchedule{"e", 1}));
        EXPECT_TRUE(schedule_is(SCHEDULE_KIND_MOTION_AUDIBLE, channel, TaggedSchedule{"a", 2}));
        EXPECT_TRUE(schedule_is(SCHEDULE_KIND_MOTION_EMAIL, channel, TaggedSchedule{"m", 3}));
        EXPECT_TRUE(schedule_is(SCHEDULE_KIND_MOTION_PTZ, channel, TaggedSchedule{"p", 4}));
        EXPECT_TRUE(schedule_is(SCHEDULE_KIND_WHITELED_EFFECTIVE, channel, TaggedSchedule{"w", 5}, MOTION_WHITELED_SCHEDULE_TABLE));
        EXPECT_TRUE(schedule_is(SCHEDULE_KIND_HTTP_NOTIFICATION, channel, TaggedSchedule{"h", 6}, MOTION_HTTP_SCHEDULE_TABLE));
        const auto white = white_entries(channel);
        ASSERT_EQ(white.size(), 2u);
        EXPECT_EQ(white[1].chn_id, channel);
        EXPECT_EQ(white[1].time, 10);
        EXPECT_EQ(http_params(channel).channel, channel);
        EXPECT_STREQ(http_params(channel).url, "http://a/%d");
        EXPECT_EQ(ptz_list(channel).entries[0].chn_id, channel);
        EXPECT_EQ(ptz_list(channel).entries[0].acto_ptz_pattern, 8);
    }
    EXPECT_EQ(to_hex(bytes_of(motion(4))), to_hex(bytes_of(untouched)));
    EXPECT_FALSE(schedule(SCHEDULE_KIND_MOTION_EFFECTIVE, 4));
    EXPECT_TRUE(white_entries(4).empty());
    EXPECT_FALSE(has_http_params(4));
    EXPECT_EQ(ptz_lists(), 3); // channels 1, 3 and 5

    const uint64_t mask = (1ull << 3) | (1ull << 5);
    ASSERT_EQ(r.daemon_ids(), (std::vector<int>{1403, 3509, 3251, 1410, 3212, 3252}));
    EXPECT_EQ(r.daemon[0].payload, word_bytes(1));
    EXPECT_EQ(to_hex(r.daemon[1].payload), hex_of(motion_log(0)) + hex_of(mask));
    CameraMotionMapCopy map{};
    copy_text(map.motion_table, "abc");
    map.sensitivity = 2;
    map.source_channel = 1;
    map.enable_ms = 1;
    map.targets[0] = 3;
    map.targets[1] = 5;
    map.target_count = 2;
    EXPECT_EQ(to_hex(r.daemon[2].payload), hex_of(map));
    EXPECT_EQ(to_hex(r.daemon[3].payload), hex_of(mask));
    EXPECT_EQ(to_hex(r.daemon[4].payload), hex_of(camera_switch(1, 1, {3, 5})));
    EXPECT_EQ(to_hex(r.daemon[5].payload), hex_of(camera_week(0, {3, 5})));
}

TEST_F(MotionActions, CopyWithCountZeroCopiesNothingButTellsTheCameras)
{
    put_motion(sample_motion(1));
    CgiResult r = post("/6112", R"({"chnid": 1, "sensitivity": 2, "enableMS": 1, "motionTable": "abc",
                                    "copyChn": [3, 5], "copyCnt": 0})");
    EXPECT_EQ(r.out, kOk);
    EXPECT_EQ(motion(3).sensitivity, 0);
    EXPECT_EQ(motion(1).sensitivity, 4);
    ASSERT_EQ(r.daemon_ids(), (std::vector<int>{3509, 3251, 1410, 3212, 3252}));
    EXPECT_EQ(to_hex(r.daemon[0].payload), hex_of(motion_log(0)) + hex_of(uint64_t{0}));
    CameraMotionMapCopy map{};
    copy_text(map.motion_table, "abc");
    map.sensitivity = 2;
    map.source_channel = 1;
    map.enable_ms = 1;
    EXPECT_EQ(to_hex(r.daemon[1].payload), hex_of(map));
    EXPECT_EQ(to_hex(r.daemon[2].payload), hex_of(uint64_t{0}));
    EXPECT_EQ(to_hex(r.daemon[3].payload), hex_of(camera_switch(1, 1)));
    EXPECT_EQ(to_hex(r.daemon[4].payload), hex_of(camera_week(0)));

    // With the camera switch off no camera schedule goes out.
    r = post("/6112", R"({"chnid": 1, "enableMS": 0, "copyChn": [63], "copyCnt": 1})");
    EXPECT_EQ(r.daemon_ids(), (std::vector<int>{3509, 3251, 1410, 3212}));
    EXPECT_EQ(to_hex(r.daemon[3].payload), hex_of(camera_switch(1, 0, {63})));
    EXPECT_EQ(motion(63).enable_ms, 0);
    EXPECT_EQ(motion(63).sensitivity, 4);
}

TEST_F(MotionActions, CopyRefusesABadSourceChannelWithoutAnswer)
{
    for (const char *body : {R"({"chnid": 64, "copyChn": [3], "copyCnt": 1})", R"({"chnid": -1, "copyChn": [3], "copyCnt": 1})",
                             R"({"copyChn": [3], "copyCnt": 1})", "not json"}) {
        CgiResult r = post("/6112", body);
        EXPECT_EQ(r.out, "") << body;
        EXPECT_TRUE(r.daemon.empty()) << body;
    }
}

} // namespace
