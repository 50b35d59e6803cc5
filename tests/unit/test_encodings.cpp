// The shared JSON encodings of the event pages and the stores behind them: schedules in their
// three variants, copy masks, trigger masks, PTZ lists, white-LED tables in both element forms,
// HTTP-notification parameters, alarm-output pairs, the audio file mask and the file helpers.
// The config database lives in a temporary sandbox root for the whole program.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "event_records.h"
#include "json_answer.h"
#include "json_encodings.h"
#include "lib/vk_alloc.h"

namespace {

// The sandbox root must be set before the first database call of the process.
const std::string g_root = [] {
    char pattern[] = "/tmp/nvr-encodings-XXXXXX";
    const char *dir = mkdtemp(pattern);
    std::string root = dir != nullptr ? dir : "/tmp/nvr-encodings";
    setenv("NVR_ROOT", root.c_str(), 1);
    return root;
}();

struct RootCleanup : ::testing::Environment {
    void TearDown() override { std::filesystem::remove_all(g_root); }
};
const auto *g_cleanup = ::testing::AddGlobalTestEnvironment(new RootCleanup);

JsonPtr parse(const std::string &text)
{
    JsonPtr o = json_parse_request(text.c_str());
    EXPECT_TRUE(o) << text;
    return o;
}

std::string text(json_object *o) { return json_text(o); }

std::unique_ptr<ScheduleRecord> blank_schedule()
{
    auto s = std::make_unique<ScheduleRecord>();
    std::memset(s.get(), 0, sizeof *s);
    return s;
}

// A schedule request member of 8 days x 12 periods, period p of day d = ["dd:pp", "dd:pp+1", d*100+p].
std::string full_schedule_json()
{
    std::string days = "[";
    for (int d = 0; d < 8; ++d) {
        days += d ? ",[" : "[";
        for (int p = 0; p < 12; ++p) {
            char period[64];
            snprintf(period, sizeof period, "%s[\"%02d:%02d\",\"%02d:%02d\",%d]", p ? "," : "", d, p, d, p + 1, d * 100 + p);
            days += period;
        }
        days += "]";
    }
    return days + "]";
}

struct Encodings : ::testing::Test {
    void SetUp() override
    {
        for (const VkdbKind *kind : {&k_kind_ptz_params, &k_kind_peoplecnt_ptz_params, &k_kind_whiteled_params,
                                     &k_kind_peoplecnt_wled_params, &k_kind_http_notification_params,
                                     &k_kind_alarm_audio_file}) {
            vkdb_delete_all(VKDB_MAIN, *kind);
            for (const char *table : {"t1", "t2", "event_type_1", "event_type_2"})
                vkdb_delete_all(VKDB_MAIN, *kind, table);
        }
    }
};

// ---- schedules ------------------------------------------------------------------------------------

TEST_F(Encodings, ScheduleOutputFormHasEightDaysOfTwelvePeriodObjects)
{
    auto s = blank_schedule();
    copy_text(s->days[0].periods[0].start_time, "00:00");
    copy_text(s->days[0].periods[0].end_time, "23:59");
    s->days[0].periods[0].action_type = 3;
    std::memset(s->days[7].periods[11].start_time, 'x', SCHEDULE_TIME_SIZE); // no NUL in the field
    copy_text(s->days[7].periods[12].start_time, "never answered");
    JsonPtr o(get_schedule_json_object(s.get()));
    ASSERT_EQ(json_length(o.get()), 8);
    for (int d = 0; d < 8; ++d)
        ASSERT_EQ(json_length(json_element(o.get(), d)), 12);
    EXPECT_EQ(text(json_element(json_element(o.get(), 0), 0)),
              R"({ "startTime": "00:00", "endTime": "23:59", "actionType": 3 })");
    EXPECT_EQ(text(json_element(json_element(o.get(), 0), 1)), R"({ "startTime": "", "endTime": "", "actionType": 0 })");
    EXPECT_EQ(json_object_get_string(json_member(json_element(json_element(o.get(), 7), 11), "startTime")),
              std::string(32, 'x'));
    EXPECT_EQ(text(o.get()).find("never"), std::string::npos);
}

TEST_F(Encodings, ScheduleInputIsPositionalAndClearsTheRest)
{
    JsonPtr request = parse("{\"s\": " + full_schedule_json() + "}");
    auto s = blank_schedule();
    std::memset(s.get(), 0x5a, sizeof *s);
    ASSERT_EQ(get_schedule_by_json(request.get(), "s", s.get()), 0);
    EXPECT_STREQ(s->days[3].periods[4].start_time, "03:04");
    EXPECT_STREQ(s->days[3].periods[4].end_time, "03:05");
    EXPECT_EQ(s->days[7].periods[11].action_type, 711);
    // Places beyond the twelfth and the whole-day words are cleared.
    EXPECT_EQ(s->days[2].periods[12].start_time[0], 0);
    EXPECT_EQ(s->days[2].whole_day_enable, 0);
    EXPECT_EQ(s->days[2].whole_day_action_type, 0);
}

TEST_F(Encodings, ScheduleInputCutsTimesAndReadsMissingPartsAsEmpty)
{
    const std::string long_time(40, '9');
    JsonPtr request = parse(R"({"s": [[[")" + long_time + R"(", "b"]], [], [[], ["x"]]]})");
    auto s = blank_schedule();
    ASSERT_EQ(get_schedule_by_json(request.get(), "s", s.get()), 0);
    EXPECT_EQ(std::string(s->days[0].periods[0].start_time), std::string(31, '9'));
    EXPECT_STREQ(s->days[0].periods[0].end_time, "b");
    EXPECT_EQ(s->days[0].periods[0].action_type, 0);
    EXPECT_STREQ(s->days[2].periods[1].start_time, "x");
    EXPECT_EQ(s->days[2].periods[1].end_time[0], 0);
    EXPECT_EQ(s->days[5].periods[0].start_time[0], 0);
}

TEST_F(Encodings, ScheduleOutputSentBackIsNotAcceptedAsInput)
{
    auto s = blank_schedule();
    copy_text(s->days[1].periods[0].start_time, "08:00");
    JsonPtr answer(get_schedule_json_object(s.get()));
    JsonPtr request(json_object_new_object());
    json_object_object_add(request.get(), "schedule", json_object_get(answer.get()));
    auto target = blank_schedule();
    copy_text(target->days[0].periods[0].start_time, "kept");
    EXPECT_EQ(get_schedule_by_json(request.get(), "schedule", target.get()), -1);
    EXPECT_STREQ(target->days[0].periods[0].start_time, "kept");
}

TEST_F(Encodings, ScheduleInputRefusals)
{
    auto s = blank_schedule();
    JsonPtr request = parse(R"({"a": 5, "b": {"x": 1}, "c": [5]})");
    EXPECT_EQ(get_schedule_by_json(request.get(), "missing", s.get()), -1);
    EXPECT_EQ(get_schedule_by_json(request.get(), "a", s.get()), -1);
    EXPECT_EQ(get_schedule_by_json(request.get(), "b", s.get()), -1);
    EXPECT_EQ(get_schedule_by_json(request.get(), "c", s.get()), -1);
    EXPECT_EQ(get_schedule_by_json(nullptr, "a", s.get()), -1);
    EXPECT_EQ(get_schedule_by_json(request.get(), nullptr, s.get()), -1);
    EXPECT_EQ(get_schedule_by_json(request.get(), "a", nullptr), -1);
    EXPECT_EQ(get_schedule_json_object(nullptr), nullptr);
}

TEST_F(Encodings, CameraScheduleVariantBlanksDisabledDaysAndEnablesEveryDay)
{
    auto s = blank_schedule();
    copy_text(s->days[0].periods[0].start_time, "01:00");
    copy_text(s->days[1].periods[0].start_time, "02:00");
    s->days[1].whole_day_enable = 1;
    JsonPtr out(get_schedule_json_object_ipc(s.get()));
    EXPECT_EQ(text(json_element(json_element(out.get(), 0), 0)), R"({ "startTime": "", "endTime": "", "actionType": 0 })");
    EXPECT_EQ(json_object_get_string(json_member(json_element(json_element(out.get(), 1), 0), "startTime")),
              std::string("02:00"));

    JsonPtr request = parse("{\"s\": " + full_schedule_json() + "}");
    ASSERT_EQ(get_schedule_by_json_ipc(request.get(), "s", s.get()), 0);
    for (const ScheduleDay &day : s->days)
        EXPECT_EQ(day.whole_day_enable, 1);
    EXPECT_STREQ(s->days[6].periods[2].start_time, "06:02");
}

TEST_F(Encodings, ExtendedScheduleVariantBehavesAsThePlainPair)
{
    JsonPtr request = parse("{\"s\": " + full_schedule_json() + "}");
    auto plain = blank_schedule(), ex = blank_schedule();
    ASSERT_EQ(get_schedule_by_json(request.get(), "s", plain.get()), 0);
    ASSERT_EQ(get_schedule_by_json_ex(request.get(), "s", ex.get()), 0);
    EXPECT_EQ(std::memcmp(plain.get(), ex.get(), sizeof *plain), 0);
    JsonPtr a(get_schedule_json_object(plain.get())), b(get_schedule_json_object_ex(ex.get()));
    EXPECT_EQ(text(a.get()), text(b.get()));
}

TEST_F(Encodings, SchedulesRoundTripThroughTheDatabase)
{
    JsonPtr request = parse("{\"s\": " + full_schedule_json() + "}");
    auto s = blank_schedule();
    ASSERT_EQ(get_schedule_by_json(request.get(), "s", s.get()), 0);
    ASSERT_EQ(write_whiteled_effective_schedule(VKDB_MAIN, s.get(), 4, "t1"), 0);
    auto back = blank_schedule();
    EXPECT_EQ(read_whiteled_effective_schedule(VKDB_MAIN, back.get(), 4, "t2"), -1); // other table
    ASSERT_EQ(read_whiteled_effective_schedule(VKDB_MAIN, back.get(), 4, "t1"), 0);
    EXPECT_EQ(std::memcmp(s.get(), back.get(), sizeof *s), 0);

    ASSERT_EQ(copy_http_notification_schedules(VKDB_MAIN, s.get(), "t1", (1ull << 9) | (1ull << 63)), 0);
    auto copied = blank_schedule();
    EXPECT_EQ(read_http_notification_schedule(VKDB_MAIN, copied.get(), "t1", 8), -1);
    ASSERT_EQ(read_http_notification_schedule(VKDB_MAIN, copied.get(), "t1", 63), 0);
    EXPECT_EQ(std::memcmp(s.get(), copied.get(), sizeof *s), 0);
}

// ---- copy masks and trigger masks -------------------------------------------------------------------

TEST_F(Encodings, CopyMaskFromChannelList)
{
    struct Case {
        const char *json;
        uint64_t mask;
    } cases[] = {
        {R"({"copyChn": [3, 70, 5], "copyCnt": 3})", (1ull << 3) | (1ull << 5)},
        {R"({"copyChn": [3, 70, 5], "copyCnt": 1})", 1ull << 3},
        {R"({"copyChn": [3, 5], "copyCnt": 9})", (1ull << 3) | (1ull << 5)},
        {R"({"copyChn": [0, 63, -1, 64], "copyCnt": 4})", 1ull | (1ull << 63)},
        {R"({"copyChn": [3, "x", null, {}, 6], "copyCnt": 5})", (1ull << 3) | (1ull << 6)},
        {R"({"copyChn": [3, 5], "copyCnt": 0})", 0},
        {R"({"copyChn": [3, 5], "copyCnt": -2})", 0},
        {R"({"copyChn": [3, 5]})", 0},
        {R"({"copyChn": 5, "copyCnt": 1})", 0},
        {R"({"copyCnt": 2})", 0},
    };
    for (const Case &c : cases) {
        JsonPtr o = parse(c.json);
        EXPECT_EQ(get_copy_flag_by_json(o.get(), "copyChn", "copyCnt"), c.mask) << c.json;
    }
    EXPECT_EQ(get_copy_flag_by_json(nullptr, "copyChn", "copyCnt"), 0u);
}

TEST_F(Encodings, CopyMaskChannelsAscending)
{
    int32_t channels[EVENT_CHANNELS];
    std::memset(channels, 0x7f, sizeof channels);
    EXPECT_EQ(copy_mask_channels((1ull << 63) | (1ull << 5) | 1ull, channels), 3);
    EXPECT_EQ(channels[0], 0);
    EXPECT_EQ(channels[1], 5);
    EXPECT_EQ(channels[2], 63);
    EXPECT_EQ(channels[3], 0);
    EXPECT_EQ(channels[63], 0);
    EXPECT_EQ(copy_mask_channels(0, channels), 0);
}

TEST_F(Encodings, TriggerMaskTakesOnlyTheFirst32Positions)
{
    EXPECT_EQ(get_trigger_channel_mask(std::string(40, '1').c_str()), 0xFFFFFFFFu);
    EXPECT_EQ(get_trigger_channel_mask("0101"), 0xAu);
    EXPECT_EQ(get_trigger_channel_mask("1x2 1"), 0x11u);
    EXPECT_EQ(get_trigger_channel_mask((std::string(32, '0') + "11").c_str()), 0u);
    EXPECT_EQ(get_trigger_channel_mask(""), 0u);
    EXPECT_EQ(get_trigger_channel_mask(nullptr), 0u);
}

// ---- PTZ actions ---------------------------------------------------------------------------------------

TEST_F(Encodings, PtzListAnswersOnlyActiveEntriesWithoutPattern)
{
    JsonPtr array = parse(R"([
        {"acto_ptz_channel": 2, "acto_ptz_type": 1, "acto_ptz_preset": 7, "acto_ptz_patrol": 0, "acto_ptz_pattern": 9},
        {"acto_ptz_channel": 0, "acto_ptz_type": 2, "acto_ptz_patrol": 4},
        {"acto_ptz_channel": 5, "acto_ptz_type": 2, "acto_ptz_patrol": 3}])");
    ASSERT_EQ(set_ptz_params_by_json(6, PTZ_EVENT_MOTION, array.get()), 1);
    JsonPtr out(get_ptz_params_json_object(PTZ_EVENT_MOTION, 6));
    EXPECT_EQ(text(out.get()),
              R"([ { "acto_ptz_channel": 2, "acto_ptz_type": 1, "acto_ptz_preset": 7, "acto_ptz_patrol": 0 }, )"
              R"({ "acto_ptz_channel": 5, "acto_ptz_type": 2, "acto_ptz_preset": 0, "acto_ptz_patrol": 3 } ])");

    PtzActionList list{};
    int count = -1;
    ASSERT_EQ(read_ptz_params(VKDB_MAIN, &list, PTZ_EVENT_MOTION, 6, &count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(list.entries[0].chn_id, 6);
    EXPECT_EQ(list.entries[0].acto_ptz_pattern, 9); // stored, only not answered
    EXPECT_EQ(list.entries[0].zero, 0);

    // Other event types and channels keep their own lists.
    JsonPtr other(get_ptz_params_json_object(PTZ_EVENT_VIDEO_LOSS, 6));
    EXPECT_EQ(text(other.get()), "[ ]");
    JsonPtr pcnt(get_ptz_params_json_object(PTZ_EVENT_PEOPLE_COUNTING, 6));
    EXPECT_EQ(text(pcnt.get()), "[ ]");
}

TEST_F(Encodings, PtzDecoderBounds)
{
    PtzActionList list;
    JsonPtr array = parse("[]");
    JsonPtr object = parse("{}");
    EXPECT_EQ(get_ptz_params_by_json(64, 1, array.get(), &list), -1);
    EXPECT_EQ(get_ptz_params_by_json(-1, 1, array.get(), &list), -1);
    EXPECT_EQ(get_ptz_params_by_json(0, 1, nullptr, &list), -1);
    EXPECT_EQ(get_ptz_params_by_json(0, 1, array.get(), nullptr), -1);
    EXPECT_EQ(get_ptz_params_by_json(0, 1, object.get(), &list), -1);
    EXPECT_EQ(set_ptz_params_by_json(0, 1, nullptr), 0);
    EXPECT_EQ(set_ptz_params_by_json(64, 1, array.get()), 0);

    std::string many = "[";
    for (int i = 0; i < 70; ++i)
        many += std::string(i ? "," : "") + "{\"acto_ptz_channel\": " + std::to_string(i + 1) + "}";
    JsonPtr big = parse(many + "]");
    std::memset(&list, 0x33, sizeof list);
    ASSERT_EQ(get_ptz_params_by_json(63, 1, big.get(), &list), 0);
    EXPECT_EQ(list.entries[63].acto_ptz_channel, 64);
    EXPECT_EQ(list.entries[63].chn_id, 63);
    EXPECT_EQ(list.entries[63].acto_ptz_type, 0); // missing keys give 0, the list was cleared
}

TEST_F(Encodings, PtzEntryOperations)
{
    PtzActionEntry a{3, 2, 0, 1, 5, 0, 0};
    PtzActionEntry b{3, 4, 0, 2, 0, 6, 0};
    ASSERT_EQ(write_ptz_params(VKDB_MAIN, &a, 2), 0);
    ASSERT_EQ(write_ptz_params(VKDB_MAIN, &b, 2), 0);
    a.acto_ptz_preset = 9;
    ASSERT_EQ(write_ptz_params(VKDB_MAIN, &a, 2), 0); // same PTZ channel: replaced, not added
    PtzActionList list{};
    int count = 0;
    read_ptz_params(VKDB_MAIN, &list, 2, 3, &count);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(list.entries[0].acto_ptz_preset, 9);

    PtzActionEntry changed{3, 7, 0, 3, 0, 0, 8};
    EXPECT_EQ(update_ptz_params(VKDB_MAIN, &changed, 2, 4), 0);
    EXPECT_EQ(update_ptz_params(VKDB_MAIN, &changed, 2, 40), -1);
    read_ptz_params(VKDB_MAIN, &list, 2, 3, &count);
    EXPECT_EQ(list.entries[1].acto_ptz_channel, 7);
    EXPECT_EQ(list.entries[1].acto_ptz_pattern, 8);

    EXPECT_EQ(delete_ptz_params(VKDB_MAIN, 2, 3, 2), 0);
    read_ptz_params(VKDB_MAIN, &list, 2, 3, &count);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list.entries[1].acto_ptz_channel, 7);

    PtzActionEntry far{64, 1, 0, 1, 1, 0, 0};
    EXPECT_EQ(write_ptz_params(VKDB_MAIN, &far, 2), -1);
    EXPECT_EQ(vkdb_count(VKDB_MAIN, k_kind_ptz_params, "event_type_2"), 1);

    // A copy gives every active entry the target as its event channel.
    ASSERT_EQ(copy_ptz_params_all(VKDB_MAIN, &list, 2, (1ull << 10) | (1ull << 11)), 0);
    PtzActionList copied{};
    read_ptz_params(VKDB_MAIN, &copied, 2, 11, &count);
    EXPECT_EQ(copied.entries[1].chn_id, 11);
    EXPECT_EQ(copied.entries[1].acto_ptz_channel, 7);
}

TEST_F(Encodings, PeopleCountingPtzListIsItsOwn)
{
    PtzActionEntry entry{1, 3, 0, 1, 2, 0, 0};
    ASSERT_EQ(write_peoplecnt_ptz_params(VKDB_MAIN, &entry), 0);
    JsonPtr out(get_ptz_params_json_object(PTZ_EVENT_PEOPLE_COUNTING, 1));
    EXPECT_EQ(json_length(out.get()), 1);
    EXPECT_EQ(vkdb_count(VKDB_MAIN, k_kind_ptz_params, "event_type_20"), 0);
    JsonPtr array = parse("[]");
    EXPECT_EQ(set_ptz_params_by_json(1, PTZ_EVENT_PEOPLE_COUNTING, array.get()), 1);
    JsonPtr cleared(get_ptz_params_json_object(PTZ_EVENT_PEOPLE_COUNTING, 1));
    EXPECT_EQ(json_length(cleared.get()), 0);
}

// ---- white-LED actions ---------------------------------------------------------------------------------

TEST_F(Encodings, WhiteLedBothElementFormsStoreTheSameEntry)
{
    auto positional = std::make_unique<WhiteLedTable>();
    auto objects = std::make_unique<WhiteLedTable>();
    JsonPtr a = parse(R"({"w": [[2, 1, 30]]})");
    JsonPtr b = parse(R"({"w": [{"chnid": 2, "mode": 1, "time": 30}]})");
    int count_a = 0, count_b = 0;
    ASSERT_EQ(get_white_params_by_json(5, positional.get(), a.get(), "w", &count_a), 0);
    ASSERT_EQ(get_white_params_by_json(5, objects.get(), b.get(), "w", &count_b), 0);
    EXPECT_EQ(count_a, 1);
    EXPECT_EQ(count_b, 1);
    EXPECT_EQ(std::memcmp(positional.get(), objects.get(), sizeof(WhiteLedTable)), 0);
    const WhiteLedEntry &e = positional->blocks[5].entries[0];
    EXPECT_EQ(e.chn_id, 5);
    EXPECT_EQ(e.chnid, 2);
    EXPECT_EQ(e.mode, 1);
    EXPECT_EQ(e.time, 30);
}

TEST_F(Encodings, WhiteLedDecoderClearsTheTableAndBoundsTheEntries)
{
    auto table = std::make_unique<WhiteLedTable>();
    std::memset(table.get(), 0x44, sizeof(WhiteLedTable));
    JsonPtr empty = parse(R"({"w": []})");
    ASSERT_EQ(get_white_params_by_json(9, table.get(), empty.get(), "w"), 0);
    EXPECT_EQ(table->blocks[9].entries[0].chn_id, 9); // the channel's first word
    EXPECT_EQ(table->blocks[0].entries[0].chn_id, 0);
    EXPECT_EQ(table->blocks[63].entries[63].time, 0);

    std::string many = "{\"w\": [";
    for (int i = 0; i < 70; ++i)
        many += std::string(i ? "," : "") + "[" + std::to_string(i) + ",1,2]";
    JsonPtr big = parse(many + "]}");
    int count = 0;
    ASSERT_EQ(get_white_params_by_json(63, table.get(), big.get(), "w", &count), 0);
    EXPECT_EQ(count, 64);
    EXPECT_EQ(table->blocks[63].entries[63].chnid, 63);

    JsonPtr odd = parse(R"({"w": {"chnid": 1}, "v": 5})");
    EXPECT_EQ(get_white_params_by_json(1, table.get(), odd.get(), "w"), -1);
    EXPECT_EQ(get_white_params_by_json(1, table.get(), odd.get(), "v"), -1);
    EXPECT_EQ(get_white_params_by_json(1, table.get(), odd.get(), "missing"), -1);
    EXPECT_EQ(get_white_params_by_json(64, table.get(), big.get(), "w"), -1);
    EXPECT_EQ(get_white_params_by_json(1, nullptr, big.get(), "w"), -1);
}

TEST_F(Encodings, WhiteLedParamsRoundTripThroughTheDatabase)
{
    auto table = std::make_unique<WhiteLedTable>();
    JsonPtr request = parse(R"({"w": [[2, 1, 30], [3, 0, 15]]})");
    int count = 0;
    ASSERT_EQ(get_white_params_by_json(7, table.get(), request.get(), "w", &count), 0);
    WhiteLedKey key{7, "t1"};
    ASSERT_EQ(write_whiteled_params_all(VKDB_MAIN, &table->blocks[7], &key, count), 0);
    JsonPtr out(get_white_params_json_object(7, "t1"));
    EXPECT_EQ(text(out.get()), R"([ { "chnid": 2, "mode": 1, "time": 30 }, { "chnid": 3, "mode": 0, "time": 15 } ])");
    JsonPtr other(get_white_params_json_object(7, "t2"));
    EXPECT_EQ(text(other.get()), "[ ]");

    ASSERT_EQ(copy_whiteled_params(VKDB_MAIN, &table->blocks[7], count, "t1", 1ull << 12), 0);
    WhiteLedBlock block{};
    WhiteLedKey copied_key{12, "t1"};
    int copied = 0;
    ASSERT_EQ(read_whiteled_params(VKDB_MAIN, &block, &copied_key, &copied), 0);
    EXPECT_EQ(copied, 2);
    EXPECT_EQ(block.entries[1].chn_id, 12);
    EXPECT_EQ(block.entries[1].time, 15);
}

TEST_F(Encodings, PeopleCountingWhiteLedDecoderStopsAtTheFirstMissingElement)
{
    WhiteLedBlock list;
    std::memset(&list, 0x11, sizeof list);
    JsonPtr request = parse(R"({"w": [[2, 1, 30], null, [4, 4, 4]]})");
    int count = -1;
    ASSERT_EQ(get_pcnt_white_params_by_json(3, &list, request.get(), "w", &count), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list.entries[0].chn_id, 3);
    EXPECT_EQ(list.entries[0].time, 30);
    EXPECT_EQ(list.entries[1].chn_id, 0x11111111); // not cleared first

    ASSERT_EQ(write_peoplecnt_wled_params(VKDB_MAIN, &list, 3, count), 0);
    JsonPtr out(get_pcnt_white_params_json_object(3));
    EXPECT_EQ(text(out.get()), R"([ { "chnid": 2, "mode": 1, "time": 30 } ])");
    EXPECT_EQ(get_pcnt_white_params_by_json(3, &list, request.get(), "none"), -1);
}

// ---- HTTP notification ---------------------------------------------------------------------------------

TEST_F(Encodings, HttpParamsAreCopiedUnchangedAndCut)
{
    const std::string url = "http://host/x?a=%41%20b&c=%%";
    JsonPtr request = parse(R"({"h": {"url": ")" + url + R"(", "username": "u", "password": "p%s"}})");
    HttpNotificationParams record;
    std::memset(&record, 0x55, sizeof record);
    ASSERT_EQ(get_http_params_by_json(4, &record, request.get(), "h"), 0);
    EXPECT_EQ(record.channel, 4);
    EXPECT_EQ(std::string(record.url), url);
    EXPECT_STREQ(record.password, "p%s");
    EXPECT_EQ(record.zero, 0);
    ASSERT_EQ(write_http_notification_params(VKDB_MAIN, &record, "t1"), 0);
    JsonPtr out(get_http_params_json_object(4, "t1"));
    EXPECT_EQ(text(out.get()), R"({ "chnId": 4, "url": "http:\/\/host\/x?a=%41%20b&c=%%", "username": "u", "password": "p%s" })");

    const std::string huge(600, 'u'), name(120, 'n'), pass(90, 'p');
    JsonPtr big = parse(R"({"h": {"url": ")" + huge + R"(", "username": ")" + name + R"(", "password": ")" + pass + R"("}})");
    ASSERT_EQ(get_http_params_by_json(4, &record, big.get(), "h"), 0);
    EXPECT_EQ(std::strlen(record.url), 512u);
    EXPECT_EQ(std::strlen(record.username), 96u);
    EXPECT_EQ(std::strlen(record.password), 64u);

    JsonPtr odd = parse(R"({"h": [1]})");
    EXPECT_EQ(get_http_params_by_json(4, &record, odd.get(), "h"), -1);
    EXPECT_EQ(get_http_params_by_json(4, &record, odd.get(), "none"), -1);
    EXPECT_EQ(get_http_params_by_json(4, nullptr, odd.get(), "h"), -1);

    // A channel without parameters answers empty texts under the channel asked for.
    JsonPtr none(get_http_params_json_object(30, "t1"));
    EXPECT_EQ(text(none.get()), R"({ "chnId": 30, "url": "", "username": "", "password": "" })");
}

// ---- alarm-output pair and other functions ----------------------------------------------------------------

TEST_F(Encodings, AlarmOutputPair)
{
    JsonPtr out(get_event_chn_alarmout_object("01", "10"));
    EXPECT_EQ(text(out.get()), R"([ "01", "10" ])");

    EventAlarmOutRecord pair[2];
    std::memset(pair, 0, sizeof pair);
    copy_text(pair[1].text, "kept");
    JsonPtr one = parse(R"({"a": [")" + std::string(70, '1') + R"("]})");
    ASSERT_EQ(get_event_chn_alarmout_by_object(8, one.get(), "a", pair), 0);
    EXPECT_EQ(pair[0].channel, 8);
    EXPECT_EQ(pair[0].index, 0);
    EXPECT_EQ(std::string(pair[0].text), std::string(64, '1'));
    EXPECT_STREQ(pair[1].text, "kept");

    JsonPtr two = parse(R"({"a": ["x", "y", "z"]})");
    ASSERT_EQ(get_event_chn_alarmout_by_object(8, two.get(), "a", pair), 0);
    EXPECT_EQ(pair[1].index, 1);
    EXPECT_STREQ(pair[1].text, "y");
    EXPECT_EQ(get_event_chn_alarmout_by_object(8, two.get(), "none", pair), -1);
    EXPECT_EQ(get_event_chn_alarmout_by_object(8, nullptr, "a", pair), -1);
}

TEST_F(Encodings, AudioFileMaskHasABitPerInstalledFile)
{
    EXPECT_EQ(get_audio_file_id_mask(), 0);
    for (int id : {0, 3, 9, 5}) {
        AlarmAudioFileRecord record{};
        record.id = id;
        record.present = id == 5 ? 0 : 1;
        write_alarm_audio_file(VKDB_MAIN, &record);
    }
    EXPECT_EQ(get_audio_file_id_mask(), (1 << 0) | (1 << 3) | (1 << 9));
}

TEST_F(Encodings, RequestTokener)
{
    EXPECT_EQ(get_request_tokener_json_object(nullptr), nullptr);
    EXPECT_EQ(get_request_tokener_json_object("not json"), nullptr);
    EXPECT_EQ(get_request_tokener_json_object("{\"a\": "), nullptr);
    JsonPtr o(get_request_tokener_json_object(R"({"a": 1})"));
    ASSERT_TRUE(o);
    EXPECT_EQ(json_object_get_int(json_member(o.get(), "a")), 1);
}

TEST_F(Encodings, FileDataRoundTrip)
{
    const std::string path = g_root + "/file.bin";
    const std::string bytes("a\0b\nc", 5);
    ASSERT_EQ(vk_wirte_file_data(path.c_str(), bytes.data(), static_cast<int>(bytes.size())), 0);
    int size = -1;
    char *data = vk_get_file_data(path.c_str(), &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(data, static_cast<size_t>(size)), bytes);
    vk_free(data);

    ASSERT_EQ(vk_wirte_file_data(path.c_str(), "", 0), 0); // truncates
    data = vk_get_file_data(path.c_str(), &size);
    EXPECT_EQ(size, 0);
    vk_free(data);

    size = 7;
    EXPECT_EQ(vk_get_file_data((g_root + "/missing").c_str(), &size), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(vk_get_file_data(nullptr, &size), nullptr);
    EXPECT_EQ(vk_wirte_file_data((g_root + "/no/such/dir/f").c_str(), "x", 1), -1);
    EXPECT_EQ(vk_wirte_file_data(nullptr, "x", 1), -1);
}

} // namespace
