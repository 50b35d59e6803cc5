// Motion detection of the recorder's 64 channels: the settings of a channel, the camera's motion
// grid (through the core daemon), the actions a detected motion sets off with their schedules,
// copying all of it to other channels, and the notices that tell the core daemon what changed
// (1403 for a channel, 1410 for a copy). The actions are the event-action set of
// event_actions.h, described here by the motion tables below; the other event families describe
// theirs the same way.
//
// Codes: /6010 /6011 /6012 /6013 /6098 /6112 /6113 /6114 /6117 /6118 /6119 /6120 /6152 /6153
// /6158 /6159 (request table in video.cpp).
//
// Every channel that reaches the config database or the core daemon is 0 to 63; a request naming
// another channel is refused the way the request refuses a negative one.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "event_actions.h"
#include "ipc.h"
#include "json_answer.h"
#include "json_encodings.h"
#include "motion_records.h"
#include "video.h"
#include "web_utils.h"

namespace {

// ---- the motion family's tables ---------------------------------------------------------------------

constexpr ActionField k_motion_fields[] = {
    action_int("chnid", offsetof(MotionRecord, chnid)),
    action_int("enable", offsetof(MotionRecord, enable)),
    action_int("sensitivity", offsetof(MotionRecord, sensitivity)),
    action_tri_channels(offsetof(MotionRecord, tri_channels), offsetof(MotionRecord, tri_channel_mask)),
    action_int("triAlarms", offsetof(MotionRecord, tri_alarms)),
    action_text("motionTable", offsetof(MotionRecord, motion_table), sizeof(MotionRecord::motion_table)),
    action_int("interval", offsetof(MotionRecord, interval)),
    action_int("enableMS", offsetof(MotionRecord, enable_ms)),
    action_int("email_enable", offsetof(MotionRecord, email_enable)),
    action_int("email_interval", offsetof(MotionRecord, email_interval)),
    action_chn_alarms(offsetof(MotionRecord, tri_chn_alarms), offsetof(MotionRecord, tri_chn_alarms) + 65),
    action_int("ptz_interval", offsetof(MotionRecord, ptz_interval)),
    action_int("alarmout_interval", offsetof(MotionRecord, alarmout_interval)),
    action_int("white_interval", offsetof(MotionRecord, white_interval)),
    action_int("email_pic_enable", offsetof(MotionRecord, email_pic_enable)),
    action_text("tri_channels_pic", offsetof(MotionRecord, tri_channels_pic), sizeof(MotionRecord::tri_channels_pic)),
    action_int("audioId", offsetof(MotionRecord, audio_id)),
    action_int("http_notification_interval", offsetof(MotionRecord, http_notification_interval)),
};
constexpr ActionRecordMap k_motion_map{sizeof(MotionRecord), k_motion_fields};

constexpr EventActionStore k_motion_store{
    {{SCHEDULE_KIND_MOTION_EFFECTIVE, ""},
     {SCHEDULE_KIND_MOTION_AUDIBLE, ""},
     {SCHEDULE_KIND_MOTION_EMAIL, ""},
     {SCHEDULE_KIND_MOTION_PTZ, ""},
     {SCHEDULE_KIND_WHITELED_EFFECTIVE, MOTION_WHITELED_SCHEDULE_TABLE},
     {SCHEDULE_KIND_HTTP_NOTIFICATION, MOTION_HTTP_SCHEDULE_TABLE}},
    MOTION_WHITELED_PARAMS_TABLE,
    MOTION_HTTP_PARAMS_TABLE,
    PTZ_EVENT_MOTION,
};

// Record keys of the dialog of /6112; /6117 takes all but the last, the HTTP-notification interval.
constexpr const char *k_motion_dialog_keys[] = {
    "triChnAlarms", "enable", "triAlarms", "interval", "audioId", "email_interval", "email_pic_enable",
    "tri_channels_pic", "ptz_interval", "alarmout_interval", "white_interval", "triChannels",
    "http_notification_interval",
};
constexpr std::span<const char *const> k_motion_action_keys{k_motion_dialog_keys, std::size(k_motion_dialog_keys) - 1};

const EventActionFamily k_motion_dialog_family{k_motion_store, &k_motion_map, k_motion_dialog_keys, PART_ALL};
const EventActionFamily k_motion_action_family{
    k_motion_store, &k_motion_map, k_motion_action_keys,
    PART_EFFECTIVE | PART_AUDIBLE | PART_EMAIL | PART_PTZ_SCHEDULE | PART_WHITE_SCHEDULE | PART_WHITE_PARAMS};

// The answer of /6010, in answer order.
constexpr ActionAnswerRow k_motion_answer[] = {
    {"chnid", ActionAnswer::Channel},
    answer_field("enable"),
    answer_field("sensitivity"),
    answer_field("triChannels"),
    answer_field("triAlarms"),
    answer_field("interval"),
    answer_field("enableMS"),
    answer_field("motionTable"),
    answer_field("email_enable"),
    answer_field("email_interval"),
    answer_field("email_pic_enable"),
    answer_field("tri_channels_pic"),
    answer_field("ptz_interval"),
    answer_field("alarmout_interval"),
    answer_field("http_notification_interval"),
    answer_schedule("effective", SLOT_EFFECTIVE),
    answer_schedule("audible", SLOT_AUDIBLE),
    answer_schedule("email", SLOT_EMAIL),
    answer_schedule("ptz", SLOT_PTZ),
    answer_field("triChnAlarms"),
    answer_schedule("white", SLOT_WHITE),
    {"whiteInfo", ActionAnswer::WhiteInfo},
    answer_field("white_interval"),
    answer_schedule("httpSche", SLOT_HTTP),
    {"httpParams", ActionAnswer::HttpParams},
    answer_field("audioId"),
    {"audioIdMask", ActionAnswer::AudioIdMask},
    {"ptzParams", ActionAnswer::PtzParams},
};

// Record keys of /6113 and /6114 (besides camId).
constexpr const char *k_motion_schedule_info_keys[] = {"sensitivity", "enableMS", "enable", "triAlarms", "interval"};
constexpr const char *k_motion_trigger_info_keys[] = {"sensitivity", "triChannels", "triAlarms", "interval", "enableMS"};

// ---- helpers ------------------------------------------------------------------------------------------

constexpr const char *k_ok = "OK";

void answer_ok() { cgi_writeback_webserver(CGI_TEXT, k_ok); }

int int_or(json_object *object, const char *key, int fallback)
{
    int value = fallback;
    on_cgi_get_int_from_json(object, key, &value);
    return value;
}

bool has_key(json_object *object, const char *key)
{
    return json_object_is_type(object, json_type_object) && json_object_object_get_ex(object, key, nullptr);
}

// The text form of member `key` ("" when it is missing or null).
const char *text_member(json_object *object, const char *key)
{
    const char *text = json_object_get_string(json_member(object, key));
    return text != nullptr ? text : "";
}

// The channel of member `key` when it is present and 0 to 63.
bool channel_member(json_object *object, const char *key, int *channel)
{
    int value = -1;
    if (on_cgi_get_int_from_json(object, key, &value) != 0 || !event_channel_valid(value))
        return false;
    *channel = value;
    return true;
}

MotionRecord read_motion_of(int channel)
{
    MotionRecord record{};
    read_motion(VKDB_MAIN, &record, channel);
    record.chnid = channel;
    return record;
}

void notify_motion_changed(int channel)
{
    const int32_t payload = channel;
    cgi_send_notice(REQ_MOTION_CHANGED, &payload, sizeof payload);
}

void send_motion_log(int channel)
{
    LogRecord record;
    cgi_init_log_info(&record);
    record.sub_type = MOTION_LOG_SUB_TYPE;
    record.parameter = MOTION_LOG_PARAMETER;
    record.channel = channel + 1;
    cgi_send_log(&record);
}

void send_motion_batch_log(uint64_t mask)
{
    BatchLogRecord batch;
    std::memset(&batch, 0, sizeof batch);
    cgi_init_log_info(&batch.record);
    batch.record.sub_type = MOTION_LOG_SUB_TYPE;
    batch.record.parameter = MOTION_LOG_PARAMETER;
    batch.mask = mask;
    cgi_send_notice(REQ_BATCH_OPERATION_LOG, &batch, sizeof batch);
}

CameraMotionSwitch motion_switch(int channel, int enable_ms)
{
    CameraMotionSwitch payload{};
    payload.channel = channel;
    payload.enable = enable_ms == 1 ? 1 : 0;
    return payload;
}

// The week schedule that arms the camera's detection all week.
CameraMotionSchedule whole_week_camera_schedule(int channel)
{
    CameraMotionSchedule payload{};
    payload.channel = channel;
    for (int d = 0; d < 7; ++d) {
        payload.days[d].day = d;
        payload.days[d].enable = 1;
        for (CameraMotionPeriod &period : payload.days[d].periods)
            period = {0, 0, 24, 0};
    }
    return payload;
}

// The camera-side motion switch of one channel, with the whole-week schedule when it is on.
void send_camera_motion_switch(int channel, int enable_ms)
{
    const CameraMotionSwitch payload = motion_switch(channel, enable_ms);
    cgi_send_notice(REQ_CAMERA_MOTION_SWITCH, &payload, sizeof payload);
    if (enable_ms == 1) {
        const CameraMotionSchedule schedule = whole_week_camera_schedule(channel);
        cgi_send_notice(REQ_CAMERA_MOTION_SCHEDULE, &schedule, sizeof schedule);
    }
}

// The schedule of member "schedule" stored by `write`; a missing or malformed member stores
// nothing.
void store_schedule_member(json_object *request, int channel,
                           int (*write)(const char *, const ScheduleRecord *, int))
{
    auto schedule = std::make_unique<ScheduleRecord>();
    if (get_schedule_by_json(request, "schedule", schedule.get()) == 0)
        write(VKDB_MAIN, schedule.get(), channel);
}

// Schedule reads: the channel number as text (atoi rule, not range-checked).
int answer_schedule_of(const char *request, int (*read)(const char *, ScheduleRecord *, int))
{
    if (request == nullptr || request[0] == '\0')
        return 0;
    auto schedule = std::make_unique<ScheduleRecord>();
    std::memset(schedule.get(), 0, sizeof *schedule);
    read(VKDB_MAIN, schedule.get(), std::atoi(request));
    JsonPtr answer(get_schedule_json_object(schedule.get()));
    json_answer(answer.get());
    return 0;
}

// Schedule writes {"camId", "schedule"}: a channel outside 0 to 63 gets the text error.
int set_schedule_of(const char *request, int (*write)(const char *, const ScheduleRecord *, int))
{
    JsonPtr object = json_parse_object(request);
    if (!object)
        return 0;
    int channel = -1;
    if (!channel_member(object.get(), "camId", &channel)) {
        cgi_error_to_webserver(CGI_TEXT);
        return 0;
    }
    store_schedule_member(object.get(), channel, write);
    notify_motion_changed(channel);
    answer_ok();
    return 0;
}

// /6113 and /6114 select the record by camId among the stored records.
bool stored_motion_channel(json_object *object, int *channel)
{
    auto records = std::make_unique<MotionRecord[]>(EVENT_CHANNELS);
    int count = 0;
    read_motions(VKDB_MAIN, records.get(), &count);
    int value = -1;
    if (on_cgi_get_int_from_json(object, "camId", &value) != 0 || value < 0 || value >= count ||
        !event_channel_valid(value))
        return false;
    *channel = value;
    return true;
}

// The checked values of /6012.
struct MotionSettings {
    int channel, enable, sensitivity, tri_alarms, interval, enable_ms;
    const char *tri_channels;
    const char *motion_table;
};

} // namespace

// ---- the dialog of /6112 ----------------------------------------------------------------------------------

// Stores an event-action set for the dialog's "chnid": schedules, white-LED and HTTP-notification
// parameters and PTZ list when present, the record when one of its keys was present; tells the
// core daemon about the channel in every case. Nothing at all for a missing dialog or channel.
int save_motion_dialog_data(json_object *dialog)
{
    int channel = -1;
    if (!json_object_is_type(dialog, json_type_object) || !channel_member(dialog, "chnid", &channel))
        return -1;
    MotionRecord record = read_motion_of(channel);
    if (save_event_actions(k_motion_dialog_family, channel, &record, dialog))
        write_motion(VKDB_MAIN, &record);
    notify_motion_changed(channel);
    return 0;
}

// ---- handlers -------------------------------------------------------------------------------------------

int on_get_motion_info(const char *request)
{
    JsonPtr object = json_parse_object(request);
    int channel = -1;
    if (!object || !channel_member(object.get(), "chnid", &channel)) {
        cgi_error_to_webserver(CGI_JSON);
        return 0;
    }
    const MotionRecord record = read_motion_of(channel);
    JsonPtr answer(json_object_new_object());
    add_event_action_answer(answer.get(), k_motion_answer, {channel, &record, &k_motion_map, &k_motion_store, nullptr});
    json_answer(answer.get());
    return 0;
}

int on_get_motion_audible_schedule(const char *request) { return answer_schedule_of(request, read_motion_audible_schedule); }
int on_get_motion_email_schedule(const char *request) { return answer_schedule_of(request, read_motion_email_schedule); }
int on_get_motion_effective_schedule(const char *request) { return answer_schedule_of(request, read_motion_effective_schedule); }
int on_get_motion_ptz_schedule(const char *request) { return answer_schedule_of(request, read_motion_ptz_schedule); }

int on_set_motion_effective_schedule(const char *request) { return set_schedule_of(request, write_motion_effective_schedule); }
int on_set_motion_ptz_schedule(const char *request) { return set_schedule_of(request, write_motion_ptz_schedule); }

static bool check_motion_info(json_object *object, MotionSettings *settings)
{
    auto present = [object](const char *key) { return has_key(object, key); };
    MotionSettings s{};
    s.channel = int_or(object, "camId", -1);
    s.enable = int_or(object, "enable", -1);
    s.sensitivity = int_or(object, "sensitivity", -1);
    s.tri_alarms = int_or(object, "triAlarms", -1);
    s.interval = int_or(object, "interval", -1);
    s.enable_ms = int_or(object, "enableMS", 0);
    if (!present("camId") || !event_channel_valid(s.channel) || !present("enable") || s.enable < 0 || s.enable > 2 ||
        !present("sensitivity") || s.sensitivity < 0 || !present("triAlarms") || s.tri_alarms < 0 ||
        !present("interval") || s.interval < 0 || !present("triChannels") || !present("motionTable") ||
        !present("enableMS"))
        return false;
    s.tri_channels = text_member(object, "triChannels");
    s.motion_table = text_member(object, "motionTable");
    *settings = s;
    return true;
}

int on_set_motion_info(const char *request)
{
    JsonPtr object = json_parse_object(request);
    MotionSettings s;
    if (!object || !check_motion_info(object.get(), &s))
        return 0;

    // The record is built from the request alone: every field it does not carry is zero.
    MotionRecord record{};
    record.chnid = s.channel;
    record.enable = s.enable;
    record.sensitivity = s.sensitivity;
    record.tri_alarms = s.tri_alarms;
    record.interval = s.interval;
    record.enable_ms = s.enable_ms;
    copy_text(record.motion_table, s.motion_table);
    copy_text(record.tri_channels, s.tri_channels);
    record.tri_channel_mask = get_trigger_channel_mask(record.tri_channels);
    write_motion(VKDB_MAIN, &record);
    notify_motion_changed(s.channel);

    CameraMotionMap map{};
    copy_text(map.map, s.motion_table);
    map.sensitivity = s.sensitivity;
    map.channel = s.channel;
    cgi_send_notice(REQ_CAMERA_MOTION_MAP_SET, &map, sizeof map);
    send_camera_motion_switch(s.channel, s.enable_ms);
    send_motion_log(s.channel);
    answer_ok();
    return 0;
}

int on_set_motion_schedule(const char *request)
{
    JsonPtr object = json_parse_object(request);
    int channel = -1;
    if (!object || !channel_member(object.get(), "camId", &channel))
        return 0;
    store_schedule_member(object.get(), channel, write_motion_schedule);
    notify_motion_changed(channel);
    answer_ok();
    return 0;
}

int on_get_motion_map(const char *request)
{
    JsonPtr object = json_parse_object(request);
    int32_t channel = -1;
    if (!object || !channel_member(object.get(), "id", &channel))
        return 0;
    cgi_start_ipc(on_video_ipc_callback, REQ_CAMERA_MOTION_MAP_GET, sizeof channel, &channel, 0);
    if (g_callback_done == 0)
        cgi_error_to_webserver(CGI_TEXT);
    cgi_stop_ipc();
    return 0;
}

int on_get_motion_map_cb(int, const void *payload)
{
    if (payload == nullptr)
        return 0;
    CameraMotionMap map;
    std::memcpy(&map, payload, sizeof map);
    JsonPtr answer(json_object_new_object());
    json_object *o = answer.get();
    json_object_object_add(o, "map", json_object_new_string(std::string(field_text(map.map)).c_str()));
    json_object_object_add(o, "sensitivity", json_object_new_int(map.sensitivity));
    json_object_object_add(o, "result", json_object_new_int(map.result));
    json_object_object_add(o, "enable", json_object_new_int(map.enable));
    json_object_object_add(o, "modelType", json_object_new_int(map.model_type));
    json_object_object_add(o, "fishdisplay", json_object_new_int(map.fishdisplay));
    json_object_object_add(o, "fishtransfer", json_object_new_int(map.fishtransfer));
    json_object_object_add(o, "fishinstall", json_object_new_int(map.fishinstall));
    json_answer(o);
    g_callback_done = 1;
    return 0;
}

int on_set_motion_copy_info(const char *request)
{
    JsonPtr object = json_parse_object(request);
    int channel = -1;
    if (!object || !channel_member(object.get(), "chnid", &channel))
        return 0;
    json_object *o = object.get();
    save_motion_dialog_data(json_member(o, "dialog"));
    const uint64_t mask = get_copy_flag_by_json(o, "copyChn", "copyCnt");

    // The source's record carries the request's sensitivity and camera switch to the copies; the
    // source's own record is left as stored.
    MotionRecord record = read_motion_of(channel);
    record.sensitivity = int_or(o, "sensitivity", record.sensitivity);
    record.enable_ms = int_or(o, "enableMS", record.enable_ms);
    const std::string motion_table =
        has_key(o, "motionTable") ? std::string(text_member(o, "motionTable")) : std::string(field_text(record.motion_table));

    CameraMotionMapCopy map_copy{};
    copy_text(map_copy.motion_table, motion_table);
    map_copy.sensitivity = record.sensitivity;
    map_copy.source_channel = channel;
    map_copy.enable_ms = record.enable_ms;
    map_copy.target_count = copy_mask_channels(mask, map_copy.targets);
    CameraMotionSwitch camera_switch = motion_switch(channel, record.enable_ms);
    camera_switch.target_count = copy_mask_channels(mask, camera_switch.targets);
    CameraMotionSchedule camera_schedule = whole_week_camera_schedule(0);
    camera_schedule.target_count = copy_mask_channels(mask, camera_schedule.targets);

    if (mask != 0) {
        copy_motions(VKDB_MAIN, &record, mask);
        copy_event_action_parts(k_motion_store, channel, mask, PART_ALL);
    }
    send_motion_batch_log(mask);
    cgi_send_notice(REQ_CAMERA_MOTION_MAP_COPY, &map_copy, sizeof map_copy);
    cgi_send_notice(REQ_MOTION_COPIED, &mask, sizeof mask);
    cgi_send_notice(REQ_CAMERA_MOTION_SWITCH, &camera_switch, sizeof camera_switch);
    if (record.enable_ms == 1)
        cgi_send_notice(REQ_CAMERA_MOTION_SCHEDULE_COPY, &camera_schedule, sizeof camera_schedule);
    answer_ok();
    return 0;
}

int on_set_motion_schedule_info(const char *request)
{
    JsonPtr object = json_parse_object(request);
    int channel = -1;
    if (!object || !stored_motion_channel(object.get(), &channel))
        return 0;
    MotionRecord record = read_motion_of(channel);
    update_event_action_fields(&record, k_motion_map, object.get(), k_motion_schedule_info_keys);
    write_motion(VKDB_MAIN, &record);
    notify_motion_changed(channel);
    store_schedule_member(object.get(), channel, write_motion_schedule);
    notify_motion_changed(channel);
    send_camera_motion_switch(channel, record.enable_ms);
    answer_ok();
    return 0;
}

int on_set_motion_trigger_info(const char *request)
{
    JsonPtr object = json_parse_object(request);
    int channel = -1;
    if (!object || !stored_motion_channel(object.get(), &channel))
        return 0;
    MotionRecord record = read_motion_of(channel);
    update_event_action_fields(&record, k_motion_map, object.get(), k_motion_trigger_info_keys);
    write_motion(VKDB_MAIN, &record);
    notify_motion_changed(channel);
    send_motion_log(channel);
    answer_ok();
    return 0;
}

int on_set_motion_event_actions(const char *request)
{
    JsonPtr object = json_parse_object(request);
    int channel = -1;
    if (!object || !channel_member(object.get(), "chnid", &channel)) {
        cgi_error_to_webserver(CGI_JSON);
        return 0;
    }
    MotionRecord record = read_motion_of(channel);
    if (save_event_actions(k_motion_action_family, channel, &record, object.get()))
        write_motion(VKDB_MAIN, &record);
    notify_motion_changed(channel);
    answer_ok();
    return 0;
}

int on_set_motion_email_info(const char *request)
{
    JsonPtr object = json_parse_object(request);
    if (!object)
        return 0;
    int channel = -1;
    if (!channel_member(object.get(), "camId", &channel)) {
        cgi_error_to_webserver(CGI_TEXT);
        return 0;
    }
    MotionRecord record = read_motion_of(channel);
    record.email_enable = int_or(object.get(), "enable", record.email_enable);
    record.email_interval = int_or(object.get(), "interval", record.email_interval);
    write_motion(VKDB_MAIN, &record);
    store_schedule_member(object.get(), channel, write_motion_email_schedule);
    notify_motion_changed(channel);
    answer_ok();
    return 0;
}

int on_set_motion_trigger_type(const char *request)
{
    JsonPtr object = json_parse_object(request);
    if (!object)
        return 0;
    json_object *o = object.get();
    int channel = -1;
    if (!channel_member(o, "camId", &channel)) {
        cgi_error_to_webserver(CGI_TEXT);
        return 0;
    }
    MotionRecord record = read_motion_of(channel);
    const int type = int_or(o, "type", 0);
    if (type == 1 && has_key(o, "triChannels")) {
        // Only the trigger mask follows the text; the stored string stays as it was.
        char text[65] = {};
        copy_text(text, text_member(o, "triChannels"));
        record.tri_channel_mask = get_trigger_channel_mask(text);
    } else if (type == 2 && has_key(o, "triAlarms")) {
        record.tri_alarms = int_or(o, "triAlarms", record.tri_alarms);
    }
    write_motion(VKDB_MAIN, &record);
    notify_motion_changed(channel);
    send_motion_log(channel);
    answer_ok();
    return 0;
}
