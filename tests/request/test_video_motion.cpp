// Motion settings through the real webcgi: the full read (/6010), the schedule reads and writes,
// the whole-record set (/6012) with its camera requests, the camera grid (/6098, 8206), the
// settings-and-schedule and trigger sets (/6113, /6114) and the e-mail and trigger-type sets
// (/6118, /6119). Every case checks the exact answer, the daemon messages in order and what the
// config database holds afterwards.
#include "test_video_fixture.h"

namespace {

using Motion = VideoTest;

const std::string kOk = kTextHeader + "OK";

// ---- /6010 -----------------------------------------------------------------------------------------

TEST_F(Motion, GetAnswersEveryKeyInOrder)
{
    put_motion(sample_motion(63));
    const TaggedSchedule effective{"e", 1}, audible{"a", 2}, email{"m", 3}, ptz{"p", 4}, white{"w", 5}, http{"h", 6};
    put_schedule(SCHEDULE_KIND_MOTION_EFFECTIVE, 63, effective);
    put_schedule(SCHEDULE_KIND_MOTION_AUDIBLE, 63, audible);
    put_schedule(SCHEDULE_KIND_MOTION_EMAIL, 63, email);
    put_schedule(SCHEDULE_KIND_MOTION_PTZ, 63, ptz);
    put_schedule(SCHEDULE_KIND_WHITELED_EFFECTIVE, 63, white, MOTION_WHITELED_SCHEDULE_TABLE);
    put_schedule(SCHEDULE_KIND_HTTP_NOTIFICATION, 63, http, MOTION_HTTP_SCHEDULE_TABLE);
    // Another family's schedules under the shared kinds are not the motion ones.
    put_schedule(SCHEDULE_KIND_WHITELED_EFFECTIVE, 63, TaggedSchedule{"x", 9}, "videoloss_whiteled_esche");

    WhiteLedBlock block{};
    block.entries[0] = {63, 2, 1, 30};
    WhiteLedKey key{63, {}};
    copy_text(key.table, MOTION_WHITELED_PARAMS_TABLE);
    write_whiteled_params_all(db().c_str(), &block, &key, 1);
    HttpNotificationParams http_params{};
    http_params.channel = 63;
    copy_text(http_params.url, "http://x/%20");
    copy_text(http_params.username, "u");
    copy_text(http_params.password, "p");
    write_http_notification_params(db().c_str(), &http_params, MOTION_HTTP_PARAMS_TABLE);
    PtzActionList list{};
    list.entries[0] = {63, 3, 0, 1, 5, 0, 0};
    list.entries[1] = {63, 0, 0, 2, 0, 7, 0};
    write_ptz_params_all(db().c_str(), &list, PTZ_EVENT_MOTION, 63);
    for (int id : {0, 2}) {
        AlarmAudioFileRecord audio{id, 1, "x.wav"};
        write_alarm_audio_file(db().c_str(), &audio);
    }

    CgiResult r = post("/6010", R"({"chnid": 63})");
    EXPECT_EQ(r.out, kJsonHeader +
                         R"({ "chnid": 63, "enable": 1, "sensitivity": 4, "triChannels": "1010", "triAlarms": 6, )"
                         R"("interval": 7, "enableMS": 1, "motionTable": "grid-63", "email_enable": 1, )"
                         R"("email_interval": 8, "email_pic_enable": 1, "tri_channels_pic": "0001", "ptz_interval": 9, )"
                         R"("alarmout_interval": 10, "http_notification_interval": 12, "effective": )" +
                         effective.answer() + R"(, "audible": )" + audible.answer() + R"(, "email": )" + email.answer() +
                         R"(, "ptz": )" + ptz.answer() + R"(, "triChnAlarms": [ "0110", "1001" ], "white": )" +
                         white.answer() +
                         R"(, "whiteInfo": [ { "chnid": 2, "mode": 1, "time": 30 } ], "white_interval": 11, "httpSche": )" +
                         http.answer() +
                         R"(, "httpParams": { "chnId": 63, "url": "http:\/\/x\/%20", "username": "u", "password": "p" }, )"
                         R"("audioId": 2, "audioIdMask": 5, "ptzParams": [ { "acto_ptz_channel": 3, "acto_ptz_type": 1, )"
                         R"("acto_ptz_preset": 5, "acto_ptz_patrol": 0 } ] })");
    EXPECT_TRUE(r.daemon.empty());
}

TEST_F(Motion, GetOfAFreshChannelAnswersEmptyActions)
{
    CgiResult r = post("/6010", R"({"chnid": 0})");
    const std::string e = empty_schedule_answer();
    EXPECT_EQ(r.out, kJsonHeader +
                         R"({ "chnid": 0, "enable": 0, "sensitivity": 0, "triChannels": "", "triAlarms": 0, "interval": 0, )"
                         R"("enableMS": 0, "motionTable": "", "email_enable": 0, "email_interval": 0, "email_pic_enable": 0, )"
                         R"("tri_channels_pic": "", "ptz_interval": 0, "alarmout_interval": 0, "http_notification_interval": 0, )"
                         R"("effective": )" + e + R"(, "audible": )" + e + R"(, "email": )" + e + R"(, "ptz": )" + e +
                         R"(, "triChnAlarms": [ "", "" ], "white": )" + e + R"(, "whiteInfo": [ ], "white_interval": 0, "httpSche": )" +
                         e + R"(, "httpParams": { "chnId": 0, "url": "", "username": "", "password": "" }, "audioId": 0, )"
                         R"("audioIdMask": 0, "ptzParams": [ ] })");
}

TEST_F(Motion, GetRefusesWithTheJsonError)
{
    for (const char *body : {R"({"chnid": 64})", R"({"chnid": -1})", R"({"id": 1})", "not json", "", "[1]"}) {
        CgiResult r = post("/6010", body);
        EXPECT_EQ(r.out, kJsonError) << body;
    }
}

// ---- schedule reads and writes ----------------------------------------------------------------------------

TEST_F(Motion, ScheduleReadsAnswerTheirOwnSchedule)
{
    struct Case {
        const char *code;
        const char *kind;
    } cases[] = {{"/6011", SCHEDULE_KIND_MOTION_AUDIBLE},
                 {"/6120", SCHEDULE_KIND_MOTION_EMAIL},
                 {"/6153", SCHEDULE_KIND_MOTION_EFFECTIVE},
                 {"/6158", SCHEDULE_KIND_MOTION_PTZ}};
    int n = 1;
    for (const Case &c : cases)
        put_schedule(c.kind, 2, TaggedSchedule{"s", n++});
    put_schedule(SCHEDULE_KIND_MOTION_AUDIBLE, 0, TaggedSchedule{"zero", 0});
    n = 1;
    for (const Case &c : cases) {
        const TaggedSchedule expected{"s", n++};
        EXPECT_EQ(get(c.code, "2").out, kJsonHeader + expected.answer()) << c.code;
        EXPECT_EQ(get(c.code, "9").out, kJsonHeader + empty_schedule_answer()) << c.code;
    }
    // The text is read like atoi: no digits read channel 0; no text gets no answer.
    const TaggedSchedule zero{"zero", 0};
    EXPECT_EQ(get("/6011", "abc").out, kJsonHeader + zero.answer());
    EXPECT_EQ(get("/6011", "").out, "");
}

TEST_F(Motion, ScheduleWritesStoreAnnounceAndAnswerOk)
{
    struct Case {
        const char *code;
        const char *kind;
        const char *read_code;
    } cases[] = {{"/6013", SCHEDULE_KIND_MOTION, nullptr},
                 {"/6152", SCHEDULE_KIND_MOTION_EFFECTIVE, "/6153"},
                 {"/6159", SCHEDULE_KIND_MOTION_PTZ, "/6158"}};
    for (const Case &c : cases) {
        const TaggedSchedule tagged{"t", 5};
        CgiResult r = post(c.code, R"({"camId": 12, "schedule": )" + tagged.request() + "}");
        EXPECT_EQ(r.out, kOk) << c.code;
        ASSERT_EQ(r.daemon_ids(), std::vector<int>{1403}) << c.code;
        EXPECT_EQ(r.daemon[0].payload, word_bytes(12));
        EXPECT_TRUE(schedule_is(c.kind, 12, tagged)) << c.code;
        if (c.read_code != nullptr) {
            EXPECT_EQ(get(c.read_code, "12").out, kJsonHeader + tagged.answer());
        }
    }
}

TEST_F(Motion, ScheduleWriteCutsTimesTo31Characters)
{
    const std::string long_time(40, '7');
    post("/6152", R"({"camId": 1, "schedule": [[[")" + long_time + R"(", "b", 2]]]})");
    auto s = schedule(SCHEDULE_KIND_MOTION_EFFECTIVE, 1);
    ASSERT_TRUE(s);
    EXPECT_EQ(std::string(s->days[0].periods[0].start_time), std::string(31, '7'));
    EXPECT_EQ(s->days[0].periods[0].action_type, 2);
}

TEST_F(Motion, ScheduleWriteRefusals)
{
    const std::string schedule = TaggedSchedule{"t", 1}.request();
    for (const char *code : {"/6013", "/6152", "/6159"}) {
        // A channel outside 0 to 63: the text error where the request has one, else no answer.
        const std::string refused = std::string(code) == "/6013" ? "" : kTextError;
        for (int channel : {-1, 64, 1000}) {
            CgiResult r = post(code, R"({"camId": )" + std::to_string(channel) + R"(, "schedule": )" + schedule + "}");
            EXPECT_EQ(r.out, refused) << code << " " << channel;
            EXPECT_TRUE(r.daemon.empty()) << code << " " << channel;
        }
        CgiResult r = post(code, "{");
        EXPECT_EQ(r.out, "") << code;
        EXPECT_TRUE(r.daemon.empty());
    }
    EXPECT_EQ(vkdb_count(db().c_str(), VkdbKind{SCHEDULE_KIND_MOTION_PTZ, sizeof(StoredSchedule), 0}), 0);
}

TEST_F(Motion, ScheduleWriteWithAMalformedScheduleKeepsTheStoredOne)
{
    const TaggedSchedule stored{"old", 1};
    put_schedule(SCHEDULE_KIND_MOTION_EFFECTIVE, 3, stored);
    CgiResult r = post("/6152", R"({"camId": 3, "schedule": [[{"startTime": "1"}]]})");
    EXPECT_EQ(r.out, kOk);
    EXPECT_EQ(r.daemon_ids(), std::vector<int>{1403});
    EXPECT_TRUE(schedule_is(SCHEDULE_KIND_MOTION_EFFECTIVE, 3, stored));
}

// ---- /6012 ------------------------------------------------------------------------------------------

const char *kSetMotion = R"({"camId": 5, "enable": 1, "sensitivity": 3, "triChannels": "0110", "triAlarms": 2,
                             "interval": 30, "motionTable": "ffff00", "enableMS": 1})";

TEST_F(Motion, SetBuildsTheRecordFromTheRequestAlone)
{
    put_motion(sample_motion(5));
    CgiResult r = post("/6012", kSetMotion);
    EXPECT_EQ(r.out, kOk);

    MotionRecord expected{};
    expected.chnid = 5;
    expected.enable = 1;
    expected.sensitivity = 3;
    copy_text(expected.tri_channels, "0110");
    expected.tri_channel_mask = 0x6;
    expected.tri_alarms = 2;
    expected.interval = 30;
    copy_text(expected.motion_table, "ffff00");
    expected.enable_ms = 1;
    EXPECT_EQ(to_hex(bytes_of(motion(5))), to_hex(bytes_of(expected)));

    CameraMotionMap map{};
    copy_text(map.map, "ffff00");
    map.sensitivity = 3;
    map.channel = 5;
    ASSERT_EQ(r.daemon_ids(), (std::vector<int>{1403, 3207, 3212, 3209, 3485}));
    EXPECT_EQ(r.daemon[0].payload, word_bytes(5));
    EXPECT_EQ(to_hex(r.daemon[1].payload), hex_of(map));
    EXPECT_EQ(to_hex(r.daemon[2].payload), hex_of(camera_switch(5, 1)));
    EXPECT_EQ(to_hex(r.daemon[3].payload), hex_of(camera_week(5)));
    EXPECT_EQ(to_hex(r.daemon[4].payload), hex_of(motion_log(6)));
}

TEST_F(Motion, SetWithTheCameraSwitchOffSendsNoSchedule)
{
    const std::string tri(70, '1');
    const std::string grid(400, 'a');
    CgiResult r = post("/6012", R"({"camId": 0, "enable": 2, "sensitivity": 0, "triChannels": ")" + tri +
                                    R"(", "triAlarms": 0, "interval": 0, "motionTable": ")" + grid + R"(", "enableMS": 2})");
    EXPECT_EQ(r.out, kOk);
    ASSERT_EQ(r.daemon_ids(), (std::vector<int>{1403, 3207, 3212, 3485}));
    EXPECT_EQ(to_hex(r.daemon[2].payload), hex_of(camera_switch(0, 0)));
    const MotionRecord stored = motion(0);
    EXPECT_EQ(std::string(field_text(stored.tri_channels)), std::string(64, '1'));
    EXPECT_EQ(stored.tri_channel_mask, 0xFFFFFFFFu);
    EXPECT_EQ(std::string(field_text(stored.motion_table)), std::string(367, 'a'));
    CameraMotionMap map;
    std::memcpy(&map, r.daemon[1].payload.data(), sizeof map);
    EXPECT_EQ(std::string(field_text(map.map)), std::string(299, 'a'));
    EXPECT_EQ(map.enable, 0);
}

TEST_F(Motion, SetRefusesWithoutAnswerOrWrite)
{
    const std::string base = R"("triChannels": "1", "triAlarms": 0, "interval": 0, "motionTable": "x", "enableMS": 0)";
    const std::string bodies[] = {
        R"({"camId": 5, "enable": 3, "sensitivity": 1, )" + base + "}",
        R"({"camId": 5, "enable": -1, "sensitivity": 1, )" + base + "}",
        R"({"camId": 5, "enable": 1, "sensitivity": -1, )" + base + "}",
        R"({"camId": 64, "enable": 1, "sensitivity": 1, )" + base + "}",
        R"({"camId": -1, "enable": 1, "sensitivity": 1, )" + base + "}",
        R"({"enable": 1, "sensitivity": 1, )" + base + "}",
        R"({"camId": 5, "enable": 1, "sensitivity": 1, "triChannels": "1", "triAlarms": -4, "interval": 0, "motionTable": "x", "enableMS": 0})",
        R"({"camId": 5, "enable": 1, "sensitivity": 1, "triChannels": "1", "triAlarms": 0, "interval": -1, "motionTable": "x", "enableMS": 0})",
        R"({"camId": 5, "enable": 1, "sensitivity": 1, "triChannels": "1", "triAlarms": 0, "interval": 0, "enableMS": 0})",
        R"({"camId": 5, "enable": 1, "sensitivity": 1, "triAlarms": 0, "interval": 0, "motionTable": "x", "enableMS": 0})",
        R"({"camId": 5, "enable": 1, "sensitivity": 1, "triChannels": "1", "triAlarms": 0, "interval": 0, "motionTable": "x"})",
        "garbage",
    };
    const MotionRecord before = sample_motion(5);
    put_motion(before);
    for (const std::string &body : bodies) {
        CgiResult r = post("/6012", body);
        EXPECT_EQ(r.out, "") << body;
        EXPECT_TRUE(r.daemon.empty()) << body;
    }
    EXPECT_EQ(to_hex(bytes_of(motion(5))), to_hex(bytes_of(before)));
    EXPECT_FALSE(has_motion(64));
}

// ---- /6098 ------------------------------------------------------------------------------------------

TEST_F(Motion, CameraGridAnswersTheFirstRecord)
{
    CameraMotionMap map{};
    map.enable = 1;
    copy_text(map.map, "00ff");
    map.sensitivity = 4;
    map.channel = 7;
    map.result = 0;
    map.model_type = 2;
    map.fishdisplay = 3;
    map.fishtransfer = 5;
    map.fishinstall = 6;
    CgiResult r = post("/6098", R"({"id": 7})", answer_line(3206, bytes_of(map) + bytes_of(map)));
    EXPECT_EQ(r.out, kJsonHeader + R"({ "map": "00ff", "sensitivity": 4, "result": 0, "enable": 1, "modelType": 2, )"
                                   R"("fishdisplay": 3, "fishtransfer": 5, "fishinstall": 6 })");
    ASSERT_EQ(r.daemon_ids(), std::vector<int>{3206});
    EXPECT_EQ(r.daemon[0].payload, word_bytes(7));
}

TEST_F(Motion, CameraGridShorterThanARecordReadsZeros)
{
    // Enable 1 and the first four characters of the grid, nothing more.
    CgiResult r = post("/6098", R"({"id": 1})", "3206 8206 0100000061626364\n");
    EXPECT_EQ(r.out, kJsonHeader + R"({ "map": "abcd", "sensitivity": 0, "result": 0, "enable": 1, "modelType": 0, )"
                                   R"("fishdisplay": 0, "fishtransfer": 0, "fishinstall": 0 })");
}

TEST_F(Motion, CameraGridWithoutAnswerGivesTheTextError)
{
    CgiResult r = post("/6098", R"({"id": 1})", "3206 none\n");
    EXPECT_EQ(r.out, kTextError);
    EXPECT_EQ(r.daemon_ids(), std::vector<int>{3206});
}

TEST_F(Motion, CameraGridRefusesWithoutAnswer)
{
    for (const char *body : {R"({"id": -1})", R"({"id": 64})", R"({"chnid": 1})", "nope"}) {
        CgiResult r = post("/6098", body, answer_line(3206, std::string(332, '\0')));
        EXPECT_EQ(r.out, "") << body;
        EXPECT_TRUE(r.daemon.empty()) << body;
    }
}

TEST_F(Motion, RecorderCameraGridFollowsTheStoredSettings)
{
    put_motion(sample_motion(9));
    CgiRequest request = CgiRequest::post_json("/6098", R"({"id": 9})");
    request.daemon = Daemon::Recorder;
    EXPECT_EQ(run(request).out, kJsonHeader + R"({ "map": "grid-9", "sensitivity": 4, "result": 0, "enable": 1, )"
                                              R"("modelType": 0, "fishdisplay": 0, "fishtransfer": 0, "fishinstall": 0 })");
}

// ---- /6113 and /6114 ----------------------------------------------------------------------------------

TEST_F(Motion, SettingsAndScheduleReplaceTheirFields)
{
    put_motion(sample_motion(4));
    const TaggedSchedule tagged{"q", 3};
    CgiResult r = post("/6113", R"({"camId": 4, "sensitivity": 1, "enableMS": 1, "enable": 0, "triAlarms": 9,
                                    "interval": 2, "schedule": )" + tagged.request() + "}");
    EXPECT_EQ(r.out, kOk);
    MotionRecord expected = sample_motion(4);
    expected.sensitivity = 1;
    expected.enable_ms = 1;
    expected.enable = 0;
    expected.tri_alarms = 9;
    expected.interval = 2;
    EXPECT_EQ(to_hex(bytes_of(motion(4))), to_hex(bytes_of(expected)));
    EXPECT_TRUE(schedule_is(SCHEDULE_KIND_MOTION, 4, tagged));
    ASSERT_EQ(r.daemon_ids(), (std::vector<int>{1403, 1403, 3212, 3209}));
    EXPECT_EQ(to_hex(r.daemon[2].payload), hex_of(camera_switch(4, 1)));
    EXPECT_EQ(to_hex(r.daemon[3].payload), hex_of(camera_week(4)));

    // Absent keys stay; the switch off sends no camera schedule.
    r = post("/6113", R"({"camId": 4, "enableMS": 0})");
    expected.enable_ms = 0;
    EXPECT_EQ(to_hex(bytes_of(motion(4))), to_hex(bytes_of(expected)));
    EXPECT_EQ(r.daemon_ids(), (std::vector<int>{1403, 1403, 3212}));
    EXPECT_TRUE(schedule_is(SCHEDULE_KIND_MOTION, 4, tagged));
}

TEST_F(Motion, TriggerSettingsReplaceTheirFieldsAndLog)
{
    put_motion(sample_motion(10));
    CgiResult r = post("/6114", R"({"camId": 10, "sensitivity": 2, "triChannels": "11000000000000000000000000000000111",
                                    "triAlarms": 1, "interval": 5, "enableMS": 0})");
    EXPECT_EQ(r.out, kOk);
    MotionRecord expected = sample_motion(10);
    expected.sensitivity = 2;
    copy_text(expected.tri_channels, "11000000000000000000000000000000111");
    expected.tri_channel_mask = 0x3;
    expected.tri_alarms = 1;
    expected.interval = 5;
    expected.enable_ms = 0;
    EXPECT_EQ(to_hex(bytes_of(motion(10))), to_hex(bytes_of(expected)));
    ASSERT_EQ(r.daemon_ids(), (std::vector<int>{1403, 3485}));
    EXPECT_EQ(r.daemon[0].payload, word_bytes(10));
    EXPECT_EQ(to_hex(r.daemon[1].payload), hex_of(motion_log(11)));
}

TEST_F(Motion, SettingsSetsNeedAStoredChannel)
{
    drop_motion(63); // 63 records remain: channels 0 to 62 can be chosen
    for (const char *code : {"/6113", "/6114"})
        for (const char *body : {R"({"camId": 63, "sensitivity": 1})", R"({"camId": -1, "sensitivity": 1})",
                                 R"({"camId": 64, "sensitivity": 1})", R"({"sensitivity": 1})", "}"}) {
            CgiResult r = post(code, body);
            EXPECT_EQ(r.out, "") << code << body;
            EXPECT_TRUE(r.daemon.empty()) << code << body;
        }
    EXPECT_FALSE(has_motion(63));
    EXPECT_EQ(post("/6114", R"({"camId": 62, "sensitivity": 1})").out, kOk);
}

// ---- /6118 and /6119 ----------------------------------------------------------------------------------

TEST_F(Motion, EmailActionStoresSwitchIntervalAndSchedule)
{
    put_motion(sample_motion(3));
    const TaggedSchedule tagged{"mail", 2};
    CgiResult r = post("/6118", R"({"camId": 3, "enable": 0, "interval": 60, "schedule": )" + tagged.request() + "}");
    EXPECT_EQ(r.out, kOk);
    MotionRecord expected = sample_motion(3);
    expected.email_enable = 0;
    expected.email_interval = 60;
    EXPECT_EQ(to_hex(bytes_of(motion(3))), to_hex(bytes_of(expected)));
    EXPECT_TRUE(schedule_is(SCHEDULE_KIND_MOTION_EMAIL, 3, tagged));
    EXPECT_EQ(get("/6120", "3").out, kJsonHeader + tagged.answer());
    ASSERT_EQ(r.daemon_ids(), std::vector<int>{1403});
    EXPECT_EQ(r.daemon[0].payload, word_bytes(3));
}

TEST_F(Motion, TriggerTypeChangesOnlyWhatTheTypeNames)
{
    const MotionRecord start = sample_motion(8);
    put_motion(start);
    // Type 1: only the bit mask follows triChannels; the stored string stays.
    CgiResult r = post("/6119", R"({"camId": 8, "type": 1, "triChannels": "0000000011", "triAlarms": 99})");
    EXPECT_EQ(r.out, kOk);
    MotionRecord expected = start;
    expected.tri_channel_mask = 0x300;
    EXPECT_EQ(to_hex(bytes_of(motion(8))), to_hex(bytes_of(expected)));
    ASSERT_EQ(r.daemon_ids(), (std::vector<int>{1403, 3485}));
    EXPECT_EQ(to_hex(r.daemon[1].payload), hex_of(motion_log(9)));

    r = post("/6119", R"({"camId": 8, "type": 2, "triChannels": "1", "triAlarms": 99})");
    expected.tri_alarms = 99;
    EXPECT_EQ(to_hex(bytes_of(motion(8))), to_hex(bytes_of(expected)));

    // Any other type writes the record back unchanged and still announces and logs.
    r = post("/6119", R"({"camId": 8, "type": 3, "triChannels": "1", "triAlarms": 1})");
    EXPECT_EQ(r.out, kOk);
    EXPECT_EQ(to_hex(bytes_of(motion(8))), to_hex(bytes_of(expected)));
    EXPECT_EQ(r.daemon_ids(), (std::vector<int>{1403, 3485}));
}

TEST_F(Motion, EmailAndTriggerTypeRefuseBadChannelsWithTheTextError)
{
    for (const char *code : {"/6118", "/6119"}) {
        for (const char *body : {R"({"camId": -1, "type": 2, "triAlarms": 1})", R"({"camId": 64, "type": 2, "triAlarms": 1})",
                                 R"({"type": 2})"}) {
            CgiResult r = post(code, body);
            EXPECT_EQ(r.out, kTextError) << code << body;
            EXPECT_TRUE(r.daemon.empty());
        }
        CgiResult r = post(code, "not json");
        EXPECT_EQ(r.out, "") << code;
        EXPECT_TRUE(r.daemon.empty());
    }
    EXPECT_FALSE(has_motion(64));
}

} // namespace
