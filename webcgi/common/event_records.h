// Records shared by every event page: the week schedule, the PTZ action entry, the white-LED
// action entry, the HTTP-notification parameters, the event alarm-output record, the alarm audio
// file record and the batch operation log record; with the config-database kinds that hold them
// and the store functions the event families call (json_encodings.h turns them into JSON).
//
// Storage, as the config database keeps it (every kind keyed by kind name, table name, id):
// - a schedule is one row of a schedule kind ("motion_effective_schedule" ...), keyed by the
//   channel (or input) and, where a family keeps several per channel, a table name;
// - a PTZ action list is one row of 64 places per event type and event channel (table
//   "event_type_<n>"); people counting keeps its own kind;
// - the white-LED entries of an event channel are one row per table name and channel;
// - HTTP-notification parameters are one row per table name and channel.
// All records are packed, little-endian, with the same layout on x86-64 and 32-bit ARM.
#pragma once
#include <cstddef>
#include <cstdint>

#include "vkdb/vkdb.h"
#include "web_utils.h"

constexpr int EVENT_CHANNELS = 64; // channel numbers 0 to 63

inline bool event_channel_valid(int channel) { return channel >= 0 && channel < EVENT_CHANNELS; }

#pragma pack(push, 1)

// ---- week schedule ----------------------------------------------------------------------------

constexpr int SCHEDULE_DAYS = 8;
constexpr int SCHEDULE_PLACES = 48;       // period places of a day row
constexpr int SCHEDULE_JSON_PERIODS = 12; // the places the JSON forms use
constexpr int SCHEDULE_TIME_SIZE = 32;

struct SchedulePeriod {
    char start_time[SCHEDULE_TIME_SIZE];
    char end_time[SCHEDULE_TIME_SIZE];
    int32_t action_type;
};
static_assert(sizeof(SchedulePeriod) == 68);
static_assert(offsetof(SchedulePeriod, end_time) == 32);
static_assert(offsetof(SchedulePeriod, action_type) == 64);

struct ScheduleDay {
    SchedulePeriod periods[SCHEDULE_PLACES];
    int32_t whole_day_enable;
    int32_t whole_day_action_type; // used by the recording schedules only
};
static_assert(sizeof(ScheduleDay) == 3272);
static_assert(offsetof(ScheduleDay, whole_day_enable) == 3264);
static_assert(offsetof(ScheduleDay, whole_day_action_type) == 3268);

struct ScheduleRecord {
    ScheduleDay days[SCHEDULE_DAYS];
};
static_assert(sizeof(ScheduleRecord) == 26176);

// The database row of a schedule: the channel it belongs to, then the schedule.
struct StoredSchedule {
    int32_t id;
    ScheduleRecord schedule;
};
static_assert(sizeof(StoredSchedule) == 26180);
static_assert(offsetof(StoredSchedule, schedule) == 4);

// ---- PTZ actions ------------------------------------------------------------------------------

constexpr int PTZ_LIST_ENTRIES = 64;
constexpr int PTZ_EVENT_ALARM_IN = 0;
constexpr int PTZ_EVENT_MOTION = 1;
constexpr int PTZ_EVENT_VIDEO_LOSS = 2;
constexpr int PTZ_EVENT_PEOPLE_COUNTING = 20;

struct PtzActionEntry {
    int32_t chn_id;           // event channel
    int32_t acto_ptz_channel; // the PTZ camera that acts; 0 or less marks an empty place
    int32_t zero;
    int32_t acto_ptz_type;    // 1 preset, 2 patrol, 3 pattern
    int32_t acto_ptz_preset;
    int32_t acto_ptz_patrol;
    int32_t acto_ptz_pattern;
};
static_assert(sizeof(PtzActionEntry) == 28);
static_assert(offsetof(PtzActionEntry, chn_id) == 0);
static_assert(offsetof(PtzActionEntry, acto_ptz_channel) == 4);
static_assert(offsetof(PtzActionEntry, zero) == 8);
static_assert(offsetof(PtzActionEntry, acto_ptz_type) == 12);
static_assert(offsetof(PtzActionEntry, acto_ptz_preset) == 16);
static_assert(offsetof(PtzActionEntry, acto_ptz_patrol) == 20);
static_assert(offsetof(PtzActionEntry, acto_ptz_pattern) == 24);

struct PtzActionList {
    PtzActionEntry entries[PTZ_LIST_ENTRIES];
};
static_assert(sizeof(PtzActionList) == 1792);

// The database row of a PTZ action list.
struct StoredPtzList {
    int32_t channel;
    int32_t event_type;
    PtzActionList list;
};
static_assert(sizeof(StoredPtzList) == 1800);
static_assert(offsetof(StoredPtzList, list) == 8);

// ---- white-LED actions ------------------------------------------------------------------------

constexpr int WHITE_LED_ENTRIES = 64;
constexpr int WHITE_LED_TABLE_NAME_SIZE = 64;

struct WhiteLedEntry {
    int32_t chn_id; // event channel
    int32_t chnid;  // white-LED channel
    int32_t mode;
    int32_t time;
};
static_assert(sizeof(WhiteLedEntry) == 16);
static_assert(offsetof(WhiteLedEntry, chnid) == 4);
static_assert(offsetof(WhiteLedEntry, mode) == 8);
static_assert(offsetof(WhiteLedEntry, time) == 12);

// The entries of one event channel.
struct WhiteLedBlock {
    WhiteLedEntry entries[WHITE_LED_ENTRIES];
};
static_assert(sizeof(WhiteLedBlock) == 1024);

// All channels of one event type together: block n holds the entries of event channel n.
struct WhiteLedTable {
    WhiteLedBlock blocks[EVENT_CHANNELS];
};
static_assert(sizeof(WhiteLedTable) == 65536);

// The database row of one channel's white-LED entries: the channel, how many entries are used,
// then the entries.
struct StoredWhiteLed {
    int32_t channel;
    int32_t count;
    WhiteLedBlock block;
};
static_assert(sizeof(StoredWhiteLed) == 1032);
static_assert(offsetof(StoredWhiteLed, block) == 8);

// Selects one channel's entries in a white-LED parameter table.
struct WhiteLedKey {
    int32_t channel;
    char table[WHITE_LED_TABLE_NAME_SIZE]; // at most 63 characters
};

// ---- HTTP notification ------------------------------------------------------------------------

struct HttpNotificationParams {
    int32_t channel;
    char url[513];
    char username[97];
    char password[65];
    char zero;
};
static_assert(sizeof(HttpNotificationParams) == 680);
static_assert(offsetof(HttpNotificationParams, url) == 4);
static_assert(offsetof(HttpNotificationParams, username) == 517);
static_assert(offsetof(HttpNotificationParams, password) == 614);
static_assert(offsetof(HttpNotificationParams, zero) == 679);

// ---- event alarm outputs (always a pair, index 0 and 1) ----------------------------------------

struct EventAlarmOutRecord {
    int32_t channel;
    int32_t index;
    char text[65];
    char zero[3];
};
static_assert(sizeof(EventAlarmOutRecord) == 76);
static_assert(offsetof(EventAlarmOutRecord, index) == 4);
static_assert(offsetof(EventAlarmOutRecord, text) == 8);
static_assert(offsetof(EventAlarmOutRecord, zero) == 73);

// ---- alarm audio files ------------------------------------------------------------------------

constexpr int ALARM_AUDIO_FILES = 10;

struct AlarmAudioFileRecord {
    int32_t id;      // 0 to 9
    int32_t present; // 1: the file is installed
    char name[128];
};
static_assert(sizeof(AlarmAudioFileRecord) == 136);
static_assert(offsetof(AlarmAudioFileRecord, present) == 4);
static_assert(offsetof(AlarmAudioFileRecord, name) == 8);

// ---- batch operation log record (request 3509) --------------------------------------------------

constexpr int REQ_BATCH_OPERATION_LOG = 3509;

struct BatchLogRecord {
    LogRecord record;
    uint64_t mask; // channels the change was copied to
};
static_assert(sizeof(BatchLogRecord) == 680);
static_assert(offsetof(BatchLogRecord, mask) == 672);

#pragma pack(pop)

// ---- config-database kinds ------------------------------------------------------------------------

inline constexpr VkdbKind k_kind_ptz_params{"ptz_params", sizeof(StoredPtzList), 0};
inline constexpr VkdbKind k_kind_peoplecnt_ptz_params{"peoplecnt_ptz_params", sizeof(StoredPtzList), 0};
inline constexpr VkdbKind k_kind_whiteled_params{"whiteled_params", sizeof(StoredWhiteLed), 0};
inline constexpr VkdbKind k_kind_peoplecnt_wled_params{"peoplecnt_wled_params", sizeof(StoredWhiteLed), 0};
inline constexpr VkdbKind k_kind_http_notification_params{"http_notification_params", sizeof(HttpNotificationParams), 0};
inline constexpr VkdbKind k_kind_alarm_audio_file{"alarm_audio_file", sizeof(AlarmAudioFileRecord), 0};

// Schedule kinds shared by several families (the white-LED and HTTP-notification schedules are
// told apart by their table names).
constexpr const char *SCHEDULE_KIND_WHITELED_EFFECTIVE = "whiteled_effective_schedule";
constexpr const char *SCHEDULE_KIND_HTTP_NOTIFICATION = "http_notification_schedule";
constexpr const char *PEOPLECNT_WLED_TABLE = "peoplecnt_wled_params";

// ---- schedules ------------------------------------------------------------------------------------
// Every schedule kind is one VkdbKind of StoredSchedule rows named `kind`. A read of a missing
// schedule leaves `schedule` as it was (-1).
int read_event_schedule(const char *db, const char *kind, int id, ScheduleRecord *schedule, const char *table = "");
int write_event_schedule(const char *db, const char *kind, int id, const ScheduleRecord *schedule, const char *table = "");
int copy_event_schedules(const char *db, const char *kind, const ScheduleRecord *schedule, uint64_t mask,
                         const char *table = "");

// read_NAME_schedule(db, schedule, channel), write_NAME_schedule(db, schedule, channel) and
// copy_NAME_schedules(db, schedule, mask) for a family's own schedule kind KIND.
#define EVENT_SCHEDULE_FUNCTIONS(NAME, KIND)                                                          \
    inline int read_##NAME##_schedule(const char *db, ScheduleRecord *schedule, int channel)         \
    {                                                                                               \
        return read_event_schedule(db, KIND, channel, schedule);                                    \
    }                                                                                               \
    inline int write_##NAME##_schedule(const char *db, const ScheduleRecord *schedule, int channel)  \
    {                                                                                               \
        return write_event_schedule(db, KIND, channel, schedule);                                   \
    }                                                                                               \
    inline int copy_##NAME##_schedules(const char *db, const ScheduleRecord *schedule, uint64_t mask) \
    {                                                                                               \
        return copy_event_schedules(db, KIND, schedule, mask);                                      \
    }

// White-LED schedule of a channel, keyed by the channel and an event family's table name.
inline int read_whiteled_effective_schedule(const char *db, ScheduleRecord *schedule, int channel, const char *table)
{
    return read_event_schedule(db, SCHEDULE_KIND_WHITELED_EFFECTIVE, channel, schedule, table);
}
inline int write_whiteled_effective_schedule(const char *db, const ScheduleRecord *schedule, int channel, const char *table)
{
    return write_event_schedule(db, SCHEDULE_KIND_WHITELED_EFFECTIVE, channel, schedule, table);
}
inline int copy_whiteled_effective_schedules(const char *db, const ScheduleRecord *schedule, const char *table, uint64_t mask)
{
    return copy_event_schedules(db, SCHEDULE_KIND_WHITELED_EFFECTIVE, schedule, mask, table);
}
// HTTP-notification schedule, keyed by an event family's table name and the channel.
inline int read_http_notification_schedule(const char *db, ScheduleRecord *schedule, const char *table, int channel)
{
    return read_event_schedule(db, SCHEDULE_KIND_HTTP_NOTIFICATION, channel, schedule, table);
}
inline int write_http_notification_schedule(const char *db, const ScheduleRecord *schedule, const char *table, int channel)
{
    return write_event_schedule(db, SCHEDULE_KIND_HTTP_NOTIFICATION, channel, schedule, table);
}
inline int copy_http_notification_schedules(const char *db, const ScheduleRecord *schedule, const char *table, uint64_t mask)
{
    return copy_event_schedules(db, SCHEDULE_KIND_HTTP_NOTIFICATION, schedule, mask, table);
}

// ---- PTZ action lists -------------------------------------------------------------------------------
// The list of (event type, event channel): 64 places; `count` receives the number of places in use.
// Event type 20 (people counting) is kept by the peoplecnt_ functions.
int read_ptz_params(const char *db, PtzActionList *list, int event_type, int channel, int *count);
// Adds an entry to the list of (event type, entry.chn_id); an entry for the same PTZ channel is
// replaced. -1 when the channel is out of range or the list is full.
int write_ptz_params(const char *db, const PtzActionEntry *entry, int event_type);
// Replaces the whole list of (event type, channel).
int write_ptz_params_all(const char *db, const PtzActionList *list, int event_type, int channel);
// Replaces the entry whose PTZ channel is `old_ptz_channel` in the list of entry.chn_id; -1 when
// there is none.
int update_ptz_params(const char *db, const PtzActionEntry *entry, int event_type, int old_ptz_channel);
// Removes the entry of PTZ channel `ptz_channel` from the list of (event type, channel).
int delete_ptz_params(const char *db, int event_type, int channel, int ptz_channel);
// Writes `list` for every channel of `mask`, each entry carrying that channel as its event channel.
int copy_ptz_params_all(const char *db, const PtzActionList *list, int event_type, uint64_t mask);

int read_peoplecnt_ptz_params(const char *db, PtzActionList *list, int channel, int *count);
int write_peoplecnt_ptz_params(const char *db, const PtzActionEntry *entry);
int write_peoplecnt_ptz_params_ex(const char *db, const PtzActionList *list, int channel);
int update_peoplecnt_ptz_params(const char *db, const PtzActionEntry *entry, int old_ptz_channel);
int delete_peoplecnt_ptz_params(const char *db, int channel, int ptz_channel);

// ---- white-LED parameters ---------------------------------------------------------------------------
// The entries of key.channel in table key.table; `count` receives how many are in use.
int read_whiteled_params(const char *db, WhiteLedBlock *block, const WhiteLedKey *key, int *count);
// Replaces the entries of key.channel with the first `count` entries of `block`.
int write_whiteled_params_all(const char *db, const WhiteLedBlock *block, const WhiteLedKey *key, int count);
// Writes the first `count` entries of `block` for every channel of `mask`, each entry carrying that
// channel as its event channel.
int copy_whiteled_params(const char *db, const WhiteLedBlock *block, int count, const char *table, uint64_t mask);
int read_peoplecnt_wled_params(const char *db, WhiteLedBlock *list, int channel, int *count);
int write_peoplecnt_wled_params(const char *db, const WhiteLedBlock *list, int channel, int count);

// ---- HTTP-notification parameters -------------------------------------------------------------------
int read_http_notification_params(const char *db, HttpNotificationParams *record, const char *table, int channel);
// Stores the record under the channel it carries.
int write_http_notification_params(const char *db, const HttpNotificationParams *record, const char *table);
int copy_http_notification_params(const char *db, const HttpNotificationParams *record, const char *table, uint64_t mask);

// ---- alarm audio files ------------------------------------------------------------------------------
int read_alarm_audio_file(const char *db, AlarmAudioFileRecord *record, int id);
int write_alarm_audio_file(const char *db, const AlarmAudioFileRecord *record);
