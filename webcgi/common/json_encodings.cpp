// Shared JSON encodings of the event pages and the config-database stores they read and write
// (see json_encodings.h and event_records.h).
#include "json_encodings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "lib/vk_alloc.h"

// ---- small JSON helpers ---------------------------------------------------------------------------

json_object *json_member(json_object *object, const char *key)
{
    json_object *member = nullptr;
    if (object == nullptr || key == nullptr || !json_object_is_type(object, json_type_object) ||
        !json_object_object_get_ex(object, key, &member))
        return nullptr;
    return member;
}

int json_length(json_object *array)
{
    if (array == nullptr || !json_object_is_type(array, json_type_array))
        return 0;
    return static_cast<int>(json_object_array_length(array));
}

json_object *json_element(json_object *array, int index)
{
    if (index < 0 || index >= json_length(array))
        return nullptr;
    return json_object_array_get_idx(array, static_cast<size_t>(index));
}

namespace {

const char *text_of(json_object *value)
{
    if (value == nullptr)
        return "";
    const char *text = json_object_get_string(value);
    return text != nullptr ? text : "";
}

int int_of(json_object *value) { return value != nullptr ? json_object_get_int(value) : 0; }

int int_member(json_object *object, const char *key) { return int_of(json_member(object, key)); }

// ---- schedules ------------------------------------------------------------------------------------

json_object *schedule_period_object(const char *start, const char *end, int action_type)
{
    json_object *period = json_object_new_object();
    json_object_object_add(period, "startTime", json_object_new_string(start));
    json_object_object_add(period, "endTime", json_object_new_string(end));
    json_object_object_add(period, "actionType", json_object_new_int(action_type));
    return period;
}

json_object *schedule_to_json(const ScheduleRecord *schedule, bool blank_disabled_days)
{
    if (schedule == nullptr)
        return nullptr;
    json_object *days = json_object_new_array();
    for (const ScheduleDay &day : schedule->days) {
        json_object *periods = json_object_new_array();
        const bool blank = blank_disabled_days && day.whole_day_enable == 0;
        for (int p = 0; p < SCHEDULE_JSON_PERIODS; ++p) {
            const SchedulePeriod &period = day.periods[p];
            if (blank)
                json_object_array_add(periods, schedule_period_object("", "", 0));
            else
                json_object_array_add(periods, schedule_period_object(
                    std::string(field_text(period.start_time)).c_str(),
                    std::string(field_text(period.end_time)).c_str(), period.action_type));
        }
        json_object_array_add(days, periods);
    }
    return days;
}

bool is_array_or_missing(json_object *value)
{
    return value == nullptr || json_object_is_type(value, json_type_array);
}

int schedule_from_json(json_object *object, const char *key, ScheduleRecord *schedule, bool enable_days)
{
    if (object == nullptr || key == nullptr || schedule == nullptr)
        return -1;
    json_object *days = json_member(object, key);
    if (days == nullptr || !json_object_is_type(days, json_type_array))
        return -1;
    // Check the shape first so that a malformed member leaves the caller's schedule alone.
    for (int d = 0; d < SCHEDULE_DAYS; ++d) {
        json_object *day = json_element(days, d);
        if (!is_array_or_missing(day))
            return -1;
        for (int p = 0; p < SCHEDULE_JSON_PERIODS; ++p)
            if (!is_array_or_missing(json_element(day, p)))
                return -1;
    }
    std::memset(schedule, 0, sizeof *schedule);
    for (int d = 0; d < SCHEDULE_DAYS; ++d) {
        json_object *day = json_element(days, d);
        for (int p = 0; p < SCHEDULE_JSON_PERIODS; ++p) {
            json_object *period = json_element(day, p);
            SchedulePeriod &out = schedule->days[d].periods[p];
            copy_text(out.start_time, text_of(json_element(period, 0)));
            copy_text(out.end_time, text_of(json_element(period, 1)));
            out.action_type = int_of(json_element(period, 2));
        }
        if (enable_days)
            schedule->days[d].whole_day_enable = 1;
    }
    return 0;
}

} // namespace

json_object *get_schedule_json_object(const ScheduleRecord *schedule) { return schedule_to_json(schedule, false); }

int get_schedule_by_json(json_object *object, const char *key, ScheduleRecord *schedule)
{
    return schedule_from_json(object, key, schedule, false);
}

json_object *get_schedule_json_object_ipc(const ScheduleRecord *schedule) { return schedule_to_json(schedule, true); }

int get_schedule_by_json_ipc(json_object *object, const char *key, ScheduleRecord *schedule)
{
    return schedule_from_json(object, key, schedule, true);
}

json_object *get_schedule_json_object_ex(const ScheduleRecord *schedule) { return get_schedule_json_object(schedule); }

int get_schedule_by_json_ex(json_object *object, const char *key, ScheduleRecord *schedule)
{
    return get_schedule_by_json(object, key, schedule);
}

// ---- copy mask and trigger channels -----------------------------------------------------------------

uint64_t get_copy_flag_by_json(json_object *object, const char *channels_key, const char *count_key)
{
    if (object == nullptr || channels_key == nullptr || count_key == nullptr)
        return 0;
    const int count = int_member(object, count_key);
    if (count <= 0)
        return 0;
    json_object *channels = json_member(object, channels_key);
    uint64_t mask = 0;
    for (int i = 0; i < count && i < json_length(channels); ++i) {
        json_object *element = json_element(channels, i);
        if (element == nullptr || !(json_object_is_type(element, json_type_int) ||
                                    json_object_is_type(element, json_type_double)))
            continue;
        const int64_t channel = json_object_get_int64(element);
        if (channel >= 0 && channel < EVENT_CHANNELS)
            mask |= uint64_t{1} << channel;
    }
    return mask;
}

int copy_mask_channels(uint64_t mask, int32_t channels[EVENT_CHANNELS])
{
    int count = 0;
    for (int n = 0; n < EVENT_CHANNELS; ++n)
        channels[n] = 0;
    for (int n = 0; n < EVENT_CHANNELS; ++n)
        if (mask & (uint64_t{1} << n))
            channels[count++] = n;
    return count;
}

uint32_t get_trigger_channel_mask(const char *channel_mask_text)
{
    if (channel_mask_text == nullptr)
        return 0;
    uint32_t mask = 0;
    for (int i = 0; i < 32 && channel_mask_text[i] != '\0'; ++i)
        if (channel_mask_text[i] == '1')
            mask |= uint32_t{1} << i;
    return mask;
}

// ---- PTZ actions ---------------------------------------------------------------------------------------

json_object *get_ptz_list_json_object(const PtzActionList *list)
{
    json_object *array = json_object_new_array();
    if (list == nullptr)
        return array;
    for (const PtzActionEntry &entry : list->entries) {
        if (entry.acto_ptz_channel <= 0)
            continue;
        json_object *item = json_object_new_object();
        json_object_object_add(item, "acto_ptz_channel", json_object_new_int(entry.acto_ptz_channel));
        json_object_object_add(item, "acto_ptz_type", json_object_new_int(entry.acto_ptz_type));
        json_object_object_add(item, "acto_ptz_preset", json_object_new_int(entry.acto_ptz_preset));
        json_object_object_add(item, "acto_ptz_patrol", json_object_new_int(entry.acto_ptz_patrol));
        json_object_array_add(array, item);
    }
    return array;
}

json_object *get_ptz_params_json_object(int event_type, int channel)
{
    PtzActionList list{};
    int count = 0;
    if (event_type == PTZ_EVENT_PEOPLE_COUNTING)
        read_peoplecnt_ptz_params(VKDB_MAIN, &list, channel, &count);
    else
        read_ptz_params(VKDB_MAIN, &list, event_type, channel, &count);
    return get_ptz_list_json_object(&list);
}

int get_ptz_params_by_json(int channel, int event_type, json_object *array, PtzActionList *list)
{
    if (!event_channel_valid(channel) || array == nullptr || list == nullptr ||
        !json_object_is_type(array, json_type_array))
        return -1;
    std::memset(list, 0, sizeof *list);
    const int n = json_length(array);
    for (int i = 0; i < n && i < PTZ_LIST_ENTRIES; ++i) {
        json_object *element = json_element(array, i);
        PtzActionEntry &entry = list->entries[i];
        entry.chn_id = channel;
        entry.acto_ptz_channel = int_member(element, "acto_ptz_channel");
        entry.acto_ptz_type = int_member(element, "acto_ptz_type");
        entry.acto_ptz_preset = int_member(element, "acto_ptz_preset");
        entry.acto_ptz_patrol = int_member(element, "acto_ptz_patrol");
        entry.acto_ptz_pattern = int_member(element, "acto_ptz_pattern");
    }
    return 0;
}

int set_ptz_params_by_json(int channel, int event_type, json_object *array)
{
    PtzActionList list;
    if (get_ptz_params_by_json(channel, event_type, array, &list) != 0)
        return 0;
    const int stored = event_type == PTZ_EVENT_PEOPLE_COUNTING
                           ? write_peoplecnt_ptz_params_ex(VKDB_MAIN, &list, channel)
                           : write_ptz_params_all(VKDB_MAIN, &list, event_type, channel);
    return stored == 0 ? 1 : 0;
}

// ---- white-LED actions ---------------------------------------------------------------------------------

namespace {

json_object *white_block_json(const WhiteLedBlock &block, int count)
{
    json_object *array = json_object_new_array();
    for (int i = 0; i < count && i < WHITE_LED_ENTRIES; ++i) {
        const WhiteLedEntry &entry = block.entries[i];
        json_object *item = json_object_new_object();
        json_object_object_add(item, "chnid", json_object_new_int(entry.chnid));
        json_object_object_add(item, "mode", json_object_new_int(entry.mode));
        json_object_object_add(item, "time", json_object_new_int(entry.time));
        json_object_array_add(array, item);
    }
    return array;
}

// One white-LED element in either form.
void white_entry_from_json(json_object *element, bool object_form, int channel, WhiteLedEntry &entry)
{
    entry.chn_id = channel;
    if (object_form) {
        entry.chnid = int_member(element, "chnid");
        entry.mode = int_member(element, "mode");
        entry.time = int_member(element, "time");
    } else {
        entry.chnid = int_of(json_element(element, 0));
        entry.mode = int_of(json_element(element, 1));
        entry.time = int_of(json_element(element, 2));
    }
}

bool white_elements_are_objects(json_object *array) { return std::strstr(json_object_get_string(array), "chnid") != nullptr; }

WhiteLedKey white_key(int channel, const char *table)
{
    WhiteLedKey key{};
    key.channel = channel;
    copy_text(key.table, table != nullptr ? table : "");
    return key;
}

} // namespace

json_object *get_white_params_json_object(int channel, const char *table_name)
{
    WhiteLedBlock block{};
    int count = 0;
    const WhiteLedKey key = white_key(channel, table_name);
    read_whiteled_params(VKDB_MAIN, &block, &key, &count);
    return white_block_json(block, count);
}

int get_white_params_by_json(int channel, WhiteLedTable *table, json_object *object, const char *key, int *count)
{
    if (table == nullptr || object == nullptr || key == nullptr || !event_channel_valid(channel))
        return -1;
    json_object *array = json_member(object, key);
    if (array == nullptr || !json_object_is_type(array, json_type_array))
        return -1;
    std::memset(table, 0, sizeof *table);
    WhiteLedBlock &block = table->blocks[channel];
    block.entries[0].chn_id = channel;
    const bool objects = white_elements_are_objects(array);
    const int n = std::min(json_length(array), WHITE_LED_ENTRIES);
    for (int i = 0; i < n; ++i)
        white_entry_from_json(json_element(array, i), objects, channel, block.entries[i]);
    if (count != nullptr)
        *count = n;
    return 0;
}

json_object *get_pcnt_white_params_json_object(int channel)
{
    WhiteLedBlock list{};
    int count = 0;
    read_peoplecnt_wled_params(VKDB_MAIN, &list, channel, &count);
    return white_block_json(list, count);
}

int get_pcnt_white_params_by_json(int channel, WhiteLedBlock *list, json_object *object, const char *key, int *count)
{
    if (list == nullptr || object == nullptr || key == nullptr)
        return -1;
    json_object *array = json_member(object, key);
    if (array == nullptr || !json_object_is_type(array, json_type_array))
        return -1;
    const bool objects = white_elements_are_objects(array);
    int n = 0;
    for (; n < WHITE_LED_ENTRIES; ++n) {
        json_object *element = json_element(array, n);
        if (element == nullptr)
            break;
        white_entry_from_json(element, objects, channel, list->entries[n]);
    }
    if (count != nullptr)
        *count = n;
    return 0;
}

// ---- HTTP notification ---------------------------------------------------------------------------------

json_object *get_http_params_json_object(int channel, const char *table_name)
{
    HttpNotificationParams record{};
    read_http_notification_params(VKDB_MAIN, &record, table_name != nullptr ? table_name : "", channel);
    json_object *params = json_object_new_object();
    json_object_object_add(params, "chnId", json_object_new_int(channel));
    json_object_object_add(params, "url", json_object_new_string(std::string(field_text(record.url)).c_str()));
    json_object_object_add(params, "username", json_object_new_string(std::string(field_text(record.username)).c_str()));
    json_object_object_add(params, "password", json_object_new_string(std::string(field_text(record.password)).c_str()));
    return params;
}

int get_http_params_by_json(int channel, HttpNotificationParams *record, json_object *object, const char *key)
{
    if (record == nullptr || object == nullptr || key == nullptr)
        return -1;
    json_object *params = json_member(object, key);
    if (params == nullptr || !json_object_is_type(params, json_type_object))
        return -1;
    std::memset(record, 0, sizeof *record);
    record->channel = channel;
    copy_text(record->url, text_of(json_member(params, "url")));
    copy_text(record->username, text_of(json_member(params, "username")));
    copy_text(record->password, text_of(json_member(params, "password")));
    return 0;
}

// ---- event alarm outputs -------------------------------------------------------------------------------

json_object *get_event_chn_alarmout_object(const char *text0, const char *text1)
{
    json_object *array = json_object_new_array();
    json_object_array_add(array, json_object_new_string(text0 != nullptr ? text0 : ""));
    json_object_array_add(array, json_object_new_string(text1 != nullptr ? text1 : ""));
    return array;
}

int get_event_chn_alarmout_by_object(int channel, json_object *object, const char *key, EventAlarmOutRecord pair[2])
{
    if (object == nullptr || key == nullptr || pair == nullptr)
        return -1;
    json_object *array = json_member(object, key);
    if (array == nullptr || !json_object_is_type(array, json_type_array))
        return -1;
    for (int index = 0; index < 2; ++index) {
        json_object *element = json_element(array, index);
        if (element == nullptr)
            continue;
        EventAlarmOutRecord &record = pair[index];
        std::memset(&record, 0, sizeof record);
        record.channel = channel;
        record.index = index;
        copy_text(record.text, text_of(element));
    }
    return 0;
}

// ---- other functions ------------------------------------------------------------------------------------

int get_audio_file_id_mask()
{
    int mask = 0;
    for (int id = 0; id < ALARM_AUDIO_FILES; ++id) {
        AlarmAudioFileRecord record{};
        if (read_alarm_audio_file(VKDB_MAIN, &record, id) == 0 && record.present == 1)
            mask |= 1 << id;
    }
    return mask;
}

json_object *get_request_tokener_json_object(const char *text)
{
    return text != nullptr ? json_tokener_parse(text) : nullptr;
}

char *vk_get_file_data(const char *path, int *size)
{
    if (size != nullptr)
        *size = 0;
    if (path == nullptr)
        return nullptr;
    std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path, "r"), std::fclose);
    if (!file)
        return nullptr;
    std::string data;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        data.append(chunk, got);
    if (std::ferror(file.get()) || data.size() > 0x7fffffffu)
        return nullptr;
    char *buffer = static_cast<char *>(vk_malloc(data.size()));
    if (buffer == nullptr)
        return nullptr;
    std::memcpy(buffer, data.data(), data.size());
    if (size != nullptr)
        *size = static_cast<int>(data.size());
    return buffer;
}

int vk_wirte_file_data(const char *path, const void *data, int size)
{
    if (path == nullptr || size < 0 || (data == nullptr && size > 0))
        return -1;
    FILE *file = std::fopen(path, "w");
    if (file == nullptr)
        return -1;
    const size_t written = size > 0 ? std::fwrite(data, 1, static_cast<size_t>(size), file) : 0;
    const bool closed = std::fclose(file) == 0;
    return written == static_cast<size_t>(size) && closed ? 0 : -1;
}

// ---- config-database stores -------------------------------------------------------------------------------

namespace {

VkdbKind schedule_kind(const char *kind) { return VkdbKind{kind, sizeof(StoredSchedule), 0}; }

bool safe_kind(const char *kind) { return kind != nullptr && kind[0] != '\0'; }

const char *table_or_empty(const char *table) { return table != nullptr ? table : ""; }

} // namespace

int read_event_schedule(const char *db, const char *kind, int id, ScheduleRecord *schedule, const char *table)
{
    if (!safe_kind(kind) || schedule == nullptr)
        return -1;
    auto row = std::make_unique<StoredSchedule>();
    if (vkdb_read(db, schedule_kind(kind), id, row.get(), table_or_empty(table)) != 0)
        return -1;
    std::memcpy(schedule, &row->schedule, sizeof *schedule);
    return 0;
}

int write_event_schedule(const char *db, const char *kind, int id, const ScheduleRecord *schedule, const char *table)
{
    if (!safe_kind(kind) || schedule == nullptr)
        return -1;
    auto row = std::make_unique<StoredSchedule>();
    row->id = id;
    std::memcpy(&row->schedule, schedule, sizeof *schedule);
    return vkdb_write(db, schedule_kind(kind), row.get(), table_or_empty(table));
}

int copy_event_schedules(const char *db, const char *kind, const ScheduleRecord *schedule, uint64_t mask,
                         const char *table)
{
    if (!safe_kind(kind) || schedule == nullptr)
        return -1;
    if (mask == 0)
        return 0;
    auto row = std::make_unique<StoredSchedule>();
    std::memcpy(&row->schedule, schedule, sizeof *schedule);
    return vkdb_copy(db, schedule_kind(kind), row.get(), mask, table_or_empty(table));
}

// PTZ action lists: one row per (kind, event type, event channel).
namespace {

struct PtzStore {
    VkdbKind kind;
    std::string table;
};

PtzStore ptz_store(int event_type)
{
    if (event_type == PTZ_EVENT_PEOPLE_COUNTING)
        return {k_kind_peoplecnt_ptz_params, ""};
    char table[32];
    snprintf(table, sizeof table, "event_type_%d", event_type);
    return {k_kind_ptz_params, table};
}

int ptz_read(const char *db, int event_type, int channel, StoredPtzList &row)
{
    row = StoredPtzList{};
    row.channel = channel;
    row.event_type = event_type;
    const PtzStore store = ptz_store(event_type);
    return vkdb_read(db, store.kind, channel, &row, store.table.c_str());
}

int ptz_write(const char *db, int event_type, int channel, const PtzActionList &list)
{
    if (!event_channel_valid(channel))
        return -1;
    StoredPtzList row{};
    row.channel = channel;
    row.event_type = event_type;
    row.list = list;
    const PtzStore store = ptz_store(event_type);
    return vkdb_write(db, store.kind, &row, store.table.c_str());
}

int ptz_used_places(const PtzActionList &list)
{
    int used = 0;
    for (const PtzActionEntry &entry : list.entries)
        used += entry.acto_ptz_channel > 0 ? 1 : 0;
    return used;
}

int ptz_read_list(const char *db, PtzActionList *list, int event_type, int channel, int *count)
{
    if (list == nullptr)
        return -1;
    StoredPtzList row;
    const int result = ptz_read(db, event_type, channel, row);
    if (result == 0)
        *list = row.list;
    if (count != nullptr)
        *count = result == 0 ? ptz_used_places(row.list) : 0;
    return result;
}

int ptz_add(const char *db, const PtzActionEntry *entry, int event_type)
{
    if (entry == nullptr || !event_channel_valid(entry->chn_id))
        return -1;
    StoredPtzList row;
    ptz_read(db, event_type, entry->chn_id, row);
    PtzActionEntry *place = nullptr;
    for (PtzActionEntry &e : row.list.entries)
        if (e.acto_ptz_channel > 0 && e.acto_ptz_channel == entry->acto_ptz_channel) {
            place = &e;
            break;
        }
    for (PtzActionEntry &e : row.list.entries)
        if (place == nullptr && e.acto_ptz_channel <= 0)
            place = &e;
    if (place == nullptr)
        return -1;
    *place = *entry;
    return ptz_write(db, event_type, entry->chn_id, row.list);
}

int ptz_update(const char *db, const PtzActionEntry *entry, int event_type, int old_ptz_channel)
{
    if (entry == nullptr || !event_channel_valid(entry->chn_id))
        return -1;
    StoredPtzList row;
    if (ptz_read(db, event_type, entry->chn_id, row) != 0)
        return -1;
    PtzActionEntry *place = nullptr;
    for (PtzActionEntry &e : row.list.entries)
        if (e.acto_ptz_channel > 0 && e.acto_ptz_channel == old_ptz_channel) {
            place = &e;
            break;
        }
    if (place == nullptr)
        return -1;
    // One entry per PTZ channel: another entry of the new PTZ channel gives way.
    for (PtzActionEntry &e : row.list.entries)
        if (&e != place && e.acto_ptz_channel > 0 && e.acto_ptz_channel == entry->acto_ptz_channel)
            e = PtzActionEntry{};
    *place = *entry;
    return ptz_write(db, event_type, entry->chn_id, row.list);
}

int ptz_delete(const char *db, int event_type, int channel, int ptz_channel)
{
    if (!event_channel_valid(channel))
        return -1;
    StoredPtzList row;
    if (ptz_read(db, event_type, channel, row) != 0)
        return -1;
    for (PtzActionEntry &e : row.list.entries)
        if (e.acto_ptz_channel == ptz_channel)
            e = PtzActionEntry{};
    return ptz_write(db, event_type, channel, row.list);
}

} // namespace

int read_ptz_params(const char *db, PtzActionList *list, int event_type, int channel, int *count)
{
    return ptz_read_list(db, list, event_type, channel, count);
}

int write_ptz_params(const char *db, const PtzActionEntry *entry, int event_type) { return ptz_add(db, entry, event_type); }

int write_ptz_params_all(const char *db, const PtzActionList *list, int event_type, int channel)
{
    return list != nullptr ? ptz_write(db, event_type, channel, *list) : -1;
}

int update_ptz_params(const char *db, const PtzActionEntry *entry, int event_type, int old_ptz_channel)
{
    return ptz_update(db, entry, event_type, old_ptz_channel);
}

int delete_ptz_params(const char *db, int event_type, int channel, int ptz_channel)
{
    return ptz_delete(db, event_type, channel, ptz_channel);
}

int copy_ptz_params_all(const char *db, const PtzActionList *list, int event_type, uint64_t mask)
{
    if (list == nullptr)
        return -1;
    int result = 0;
    for (int n = 0; n < EVENT_CHANNELS; ++n) {
        if (!(mask & (uint64_t{1} << n)))
            continue;
        PtzActionList copy = *list;
        for (PtzActionEntry &e : copy.entries)
            if (e.acto_ptz_channel > 0)
                e.chn_id = n;
        if (ptz_write(db, event_type, n, copy) != 0)
            result = -1;
    }
    return result;
}

int read_peoplecnt_ptz_params(const char *db, PtzActionList *list, int channel, int *count)
{
    return ptz_read_list(db, list, PTZ_EVENT_PEOPLE_COUNTING, channel, count);
}

int write_peoplecnt_ptz_params(const char *db, const PtzActionEntry *entry)
{
    return ptz_add(db, entry, PTZ_EVENT_PEOPLE_COUNTING);
}

int write_peoplecnt_ptz_params_ex(const char *db, const PtzActionList *list, int channel)
{
    return write_ptz_params_all(db, list, PTZ_EVENT_PEOPLE_COUNTING, channel);
}

int update_peoplecnt_ptz_params(const char *db, const PtzActionEntry *entry, int old_ptz_channel)
{
    return ptz_update(db, entry, PTZ_EVENT_PEOPLE_COUNTING, old_ptz_channel);
}

int delete_peoplecnt_ptz_params(const char *db, int channel, int ptz_channel)
{
    return ptz_delete(db, PTZ_EVENT_PEOPLE_COUNTING, channel, ptz_channel);
}

// White-LED parameters: one row per (table, event channel).
namespace {

int wled_read(const char *db, const VkdbKind &kind, const char *table, int channel, WhiteLedBlock *block, int *count)
{
    StoredWhiteLed row{};
    const int result = vkdb_read(db, kind, channel, &row, table_or_empty(table));
    if (result == 0 && block != nullptr)
        *block = row.block;
    if (count != nullptr)
        *count = result == 0 ? std::clamp(row.count, 0, WHITE_LED_ENTRIES) : 0;
    return result;
}

int wled_write(const char *db, const VkdbKind &kind, const char *table, int channel, const WhiteLedBlock *block, int count)
{
    if (block == nullptr || !event_channel_valid(channel))
        return -1;
    StoredWhiteLed row{};
    row.channel = channel;
    row.count = std::clamp(count, 0, WHITE_LED_ENTRIES);
    for (int i = 0; i < row.count; ++i) {
        row.block.entries[i] = block->entries[i];
        row.block.entries[i].chn_id = channel;
    }
    return vkdb_write(db, kind, &row, table_or_empty(table));
}

} // namespace

int read_whiteled_params(const char *db, WhiteLedBlock *block, const WhiteLedKey *key, int *count)
{
    if (key == nullptr)
        return -1;
    const std::string table(field_text(key->table));
    return wled_read(db, k_kind_whiteled_params, table.c_str(), key->channel, block, count);
}

int write_whiteled_params_all(const char *db, const WhiteLedBlock *block, const WhiteLedKey *key, int count)
{
    if (key == nullptr)
        return -1;
    const std::string table(field_text(key->table));
    return wled_write(db, k_kind_whiteled_params, table.c_str(), key->channel, block, count);
}

int copy_whiteled_params(const char *db, const WhiteLedBlock *block, int count, const char *table, uint64_t mask)
{
    int result = 0;
    for (int n = 0; n < EVENT_CHANNELS; ++n)
        if ((mask & (uint64_t{1} << n)) && wled_write(db, k_kind_whiteled_params, table, n, block, count) != 0)
            result = -1;
    return result;
}

int read_peoplecnt_wled_params(const char *db, WhiteLedBlock *list, int channel, int *count)
{
    return wled_read(db, k_kind_peoplecnt_wled_params, "", channel, list, count);
}

int write_peoplecnt_wled_params(const char *db, const WhiteLedBlock *list, int channel, int count)
{
    return wled_write(db, k_kind_peoplecnt_wled_params, "", channel, list, count);
}

// HTTP-notification parameters: one row per (table, channel).
int read_http_notification_params(const char *db, HttpNotificationParams *record, const char *table, int channel)
{
    if (record == nullptr)
        return -1;
    return vkdb_read(db, k_kind_http_notification_params, channel, record, table_or_empty(table));
}

int write_http_notification_params(const char *db, const HttpNotificationParams *record, const char *table)
{
    if (record == nullptr || !event_channel_valid(record->channel))
        return -1;
    return vkdb_write(db, k_kind_http_notification_params, record, table_or_empty(table));
}

int copy_http_notification_params(const char *db, const HttpNotificationParams *record, const char *table, uint64_t mask)
{
    if (record == nullptr)
        return -1;
    return mask == 0 ? 0 : vkdb_copy(db, k_kind_http_notification_params, record, mask, table_or_empty(table));
}

int read_alarm_audio_file(const char *db, AlarmAudioFileRecord *record, int id)
{
    return record != nullptr ? vkdb_read(db, k_kind_alarm_audio_file, id, record) : -1;
}

int write_alarm_audio_file(const char *db, const AlarmAudioFileRecord *record)
{
    return record != nullptr ? vkdb_write(db, k_kind_alarm_audio_file, record) : -1;
}
