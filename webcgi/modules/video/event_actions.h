// The event-action set: what an event sets off (recording on chosen channels, alarm outputs,
// camera alarm outputs, e-mail with snapshots, audible alarm, PTZ, white LED, HTTP notification),
// each action with its week schedule and repeat interval, under the same JSON keys in every event
// family (motion, video loss, alarm inputs, smart events, licence plates, people counting, POS).
//
// A family is described by tables instead of code:
// - an ActionRecordMap: where each JSON key of the set lies in the family's own record (motion
//   record, 328-byte event-action record, video-loss record ...);
// - an EventActionStore: which schedule kinds and tables hold the family's schedules, its white-LED
//   and HTTP-notification tables, and its PTZ event type number;
// - a key list for the presence-driven update and a row list for the answer.
// The functions below then do the presence-driven save, the copy to other channels and the answer
// for any family. Handlers keep their own checks, record reads and writes and daemon notices.
//
// A family in a few rows (other modules include "modules/video/event_actions.h"):
//
//   constexpr ActionField k_loss_fields[] = {action_int("enable", offsetof(VideoLossRecord, enable)), ...};
//   constexpr ActionRecordMap k_loss_map{sizeof(VideoLossRecord), k_loss_fields};
//   constexpr EventActionStore k_loss_store{
//       {{nullptr, ""}, {"videoloss_audible_schedule", ""}, ..., {SCHEDULE_KIND_WHITELED_EFFECTIVE,
//        "videoloss_whiteled_esche"}, {SCHEDULE_KIND_HTTP_NOTIFICATION, "videoloss_http_notification_sche"}},
//       "video_loss_white_led_params", "videoloss_http_notification_params", PTZ_EVENT_VIDEO_LOSS};
//   const EventActionFamily k_loss_family{k_loss_store, &k_loss_map, k_loss_keys, PART_ALL};
//
//   read the record; if (save_event_actions(k_loss_family, channel, &record, dialog)) write it;
//   copy_event_action_parts(k_loss_store, channel, mask, PART_ALL);
//   add_event_action_answer(answer, k_loss_answer_rows, {channel, &record, &k_loss_map, &k_loss_store, nullptr});
//
// Families whose schedules are keyed by more than the channel (a smart event, an alarm index) put
// that key into the schedule tables (ScheduleStore::table).
#pragma once
#include <cstddef>
#include <cstdint>
#include <json-c/json.h>
#include <span>

#include "event_records.h"

// ---- the 328-byte event-action record (smart events, ANPR modes, counting regions, camera alarm
// inputs ...) ----------------------------------------------------------------------------------------

#pragma pack(push, 1)
struct EventActionRecord {
    int32_t chnid;
    int32_t enable;
    uint32_t tri_channel_mask;
    char tri_channels[65];
    char pad0[3];
    int32_t tri_alarms;
    int32_t interval;
    int32_t email_interval;
    char tri_chn_alarms[2][65];
    char pad1[6];
    int32_t ptz_interval;
    int32_t alarmout_interval;
    int32_t white_interval;
    int32_t email_pic_enable;
    char tri_channels_pic[65];
    char pad2[3];
    int32_t audio_id;
    int32_t http_notification_interval;
    char reserved[8];
};
#pragma pack(pop)
static_assert(sizeof(EventActionRecord) == 328);
static_assert(offsetof(EventActionRecord, enable) == 4);
static_assert(offsetof(EventActionRecord, tri_channel_mask) == 8);
static_assert(offsetof(EventActionRecord, tri_channels) == 12);
static_assert(offsetof(EventActionRecord, tri_alarms) == 80);
static_assert(offsetof(EventActionRecord, interval) == 84);
static_assert(offsetof(EventActionRecord, email_interval) == 88);
static_assert(offsetof(EventActionRecord, tri_chn_alarms) == 92);
static_assert(offsetof(EventActionRecord, tri_chn_alarms) + 65 == 157);
static_assert(offsetof(EventActionRecord, ptz_interval) == 228);
static_assert(offsetof(EventActionRecord, alarmout_interval) == 232);
static_assert(offsetof(EventActionRecord, white_interval) == 236);
static_assert(offsetof(EventActionRecord, email_pic_enable) == 240);
static_assert(offsetof(EventActionRecord, tri_channels_pic) == 244);
static_assert(offsetof(EventActionRecord, audio_id) == 312);
static_assert(offsetof(EventActionRecord, http_notification_interval) == 316);

// ---- field map: JSON key -> place in a family's record ------------------------------------------------

enum class ActionFieldType : uint8_t {
    Int,         // int32 at offset
    Text,        // char[size] at offset, cut to size - 1 characters
    TriChannels, // channel mask string char[size] at offset; uint32 trigger mask at `extra`
    ChnAlarms,   // two char[size] texts at offset and at `extra` (the "triChnAlarms" pair)
};

struct ActionField {
    const char *key;
    ActionFieldType type;
    uint16_t offset;
    uint16_t size;  // text fields
    uint16_t extra; // TriChannels: mask offset; ChnAlarms: offset of the second text
};

struct ActionRecordMap {
    uint32_t record_size;
    std::span<const ActionField> fields;
};

// Field rows, written with offsetof of the family's record.
constexpr ActionField action_int(const char *key, size_t offset)
{
    return {key, ActionFieldType::Int, static_cast<uint16_t>(offset), 4, 0};
}
constexpr ActionField action_text(const char *key, size_t offset, size_t size)
{
    return {key, ActionFieldType::Text, static_cast<uint16_t>(offset), static_cast<uint16_t>(size), 0};
}
constexpr ActionField action_tri_channels(size_t text_offset, size_t mask_offset, size_t size = 65)
{
    return {"triChannels", ActionFieldType::TriChannels, static_cast<uint16_t>(text_offset),
            static_cast<uint16_t>(size), static_cast<uint16_t>(mask_offset)};
}
constexpr ActionField action_chn_alarms(size_t first_offset, size_t second_offset, size_t size = 65)
{
    return {"triChnAlarms", ActionFieldType::ChnAlarms, static_cast<uint16_t>(first_offset),
            static_cast<uint16_t>(size), static_cast<uint16_t>(second_offset)};
}

// The field map of the 328-byte event-action record.
extern const ActionRecordMap k_event_action_record_map;

// Presence-driven update: each key of `keys` that `object` has replaces its field of `record`
// as given (no range check); "triChannels" also rebuilds the trigger mask. Returns how many keys
// were present. Keys missing from the map are ignored.
int update_event_action_fields(void *record, const ActionRecordMap &map, json_object *object,
                               std::span<const char *const> keys);
// The field of `key`, or null.
const ActionField *find_action_field(const ActionRecordMap &map, const char *key);

// ---- where a family keeps its actions -------------------------------------------------------------

enum ScheduleSlot { SLOT_EFFECTIVE, SLOT_AUDIBLE, SLOT_EMAIL, SLOT_PTZ, SLOT_WHITE, SLOT_HTTP, SLOT_COUNT };
// JSON keys of the slots: "effective", "audible", "email", "ptz", "white", "httpSche".
extern const char *const k_schedule_slot_keys[SLOT_COUNT];

// A schedule kind (null: the family has no such schedule) and the table that selects the family
// inside a shared kind ("" when the kind is the family's own).
struct ScheduleStore {
    const char *kind;
    const char *table;
};

struct EventActionStore {
    ScheduleStore schedules[SLOT_COUNT];
    const char *white_params_table; // "whiteInfo"
    const char *http_params_table;  // "httpParams"
    int ptz_event_type;             // "ptzParams"
};

// Parts of the set besides the record fields, as bits.
enum ActionPart : unsigned {
    PART_EFFECTIVE = 1u << SLOT_EFFECTIVE,
    PART_AUDIBLE = 1u << SLOT_AUDIBLE,
    PART_EMAIL = 1u << SLOT_EMAIL,
    PART_PTZ_SCHEDULE = 1u << SLOT_PTZ,
    PART_WHITE_SCHEDULE = 1u << SLOT_WHITE,
    PART_HTTP_SCHEDULE = 1u << SLOT_HTTP,
    PART_WHITE_PARAMS = 1u << 6,
    PART_HTTP_PARAMS = 1u << 7,
    PART_PTZ_LIST = 1u << 8,
    PART_SCHEDULES = 0x3fu,
    PART_ALL = 0x1ffu,
};

// Stores, for `channel`, each part of `parts` that `dialog` carries well formed: schedules,
// "whiteInfo", "httpParams", and "ptzParams" (for "ptzChnId" and "ptzType", which default to the
// channel and the store's event type). Returns the parts stored.
unsigned save_event_action_parts(const EventActionStore &store, int channel, json_object *dialog, unsigned parts);

// Reads each part of `parts` of `channel` and writes it to every channel of `mask`.
void copy_event_action_parts(const EventActionStore &store, int channel, uint64_t mask, unsigned parts);

// One family's dialog save: the parts, then the presence-driven update of `record`.
struct EventActionFamily {
    EventActionStore store;
    const ActionRecordMap *map;
    std::span<const char *const> record_keys;
    unsigned parts;
};
// true when the record must be written back: a record key was present or the PTZ list was stored.
bool save_event_actions(const EventActionFamily &family, int channel, void *record, json_object *dialog);

// ---- answers --------------------------------------------------------------------------------------

struct ActionAnswerContext {
    int channel;
    const void *record;
    const ActionRecordMap *map;
    const EventActionStore *store;
    const void *family_data; // for Custom rows
};

enum class ActionAnswer : uint8_t {
    Channel,     // the channel
    Field,       // the record field named `field` (or the row's key)
    Schedule,    // the schedule of `slot`, output form
    WhiteInfo,   // the white-LED entries
    HttpParams,  // the HTTP-notification parameters
    AudioIdMask, // the mask of installed alarm sounds
    PtzParams,   // the PTZ action list
    Custom,      // custom(context)
};

struct ActionAnswerRow {
    const char *key;
    ActionAnswer source;
    int slot = 0;
    const char *field = nullptr;
    json_object *(*custom)(const ActionAnswerContext &) = nullptr;
};

constexpr ActionAnswerRow answer_field(const char *key) { return {key, ActionAnswer::Field}; }
constexpr ActionAnswerRow answer_schedule(const char *key, ScheduleSlot slot) { return {key, ActionAnswer::Schedule, slot}; }

// Adds one member per row to `answer`, in row order.
void add_event_action_answer(json_object *answer, std::span<const ActionAnswerRow> rows,
                             const ActionAnswerContext &context);
// The value of one row (a new json-c value).
json_object *event_action_answer_value(const ActionAnswerRow &row, const ActionAnswerContext &context);
