// The event-action set shared by every event family: presence-driven update of a family's record
// through its field map, the save and copy of the schedules, white-LED, HTTP-notification and PTZ
// parts, and the table-driven answer (see event_actions.h).
#include "event_actions.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "ipc.h"
#include "json_encodings.h"
#include "vkdb/vkdb.h"

namespace {

constexpr ActionField k_event_action_fields[] = {
    action_int("chnid", offsetof(EventActionRecord, chnid)),
    action_int("enable", offsetof(EventActionRecord, enable)),
    action_tri_channels(offsetof(EventActionRecord, tri_channels), offsetof(EventActionRecord, tri_channel_mask)),
    action_int("triAlarms", offsetof(EventActionRecord, tri_alarms)),
    action_int("interval", offsetof(EventActionRecord, interval)),
    action_int("email_interval", offsetof(EventActionRecord, email_interval)),
    action_chn_alarms(offsetof(EventActionRecord, tri_chn_alarms), offsetof(EventActionRecord, tri_chn_alarms) + 65),
    action_int("ptz_interval", offsetof(EventActionRecord, ptz_interval)),
    action_int("alarmout_interval", offsetof(EventActionRecord, alarmout_interval)),
    action_int("white_interval", offsetof(EventActionRecord, white_interval)),
    action_int("email_pic_enable", offsetof(EventActionRecord, email_pic_enable)),
    action_text("tri_channels_pic", offsetof(EventActionRecord, tri_channels_pic), 65),
    action_int("audioId", offsetof(EventActionRecord, audio_id)),
    action_int("http_notification_interval", offsetof(EventActionRecord, http_notification_interval)),
};

char *field_at(void *record, uint16_t offset) { return static_cast<char *>(record) + offset; }
const char *field_at(const void *record, uint16_t offset) { return static_cast<const char *>(record) + offset; }

bool fits(const ActionRecordMap &map, const ActionField &field)
{
    const uint32_t width = field.type == ActionFieldType::Int ? 4u : field.size;
    uint32_t end = field.offset + width;
    if (field.type == ActionFieldType::TriChannels)
        end = std::max(end, uint32_t{field.extra} + 4u);
    if (field.type == ActionFieldType::ChnAlarms)
        end = std::max(end, uint32_t{field.extra} + field.size);
    return field.size > 0 && end <= map.record_size;
}

void put_int(void *record, uint16_t offset, int32_t value) { std::memcpy(field_at(record, offset), &value, 4); }

int32_t get_int(const void *record, uint16_t offset)
{
    int32_t value;
    std::memcpy(&value, field_at(record, offset), 4);
    return value;
}

void put_text(void *record, uint16_t offset, uint16_t size, const char *text)
{
    char *field = field_at(record, offset);
    std::memset(field, 0, size);
    copy_text(field, size, text != nullptr ? text : "");
}

std::string get_text(const void *record, uint16_t offset, uint16_t size)
{
    return std::string(field_text(field_at(record, offset), size));
}

const char *text_of(json_object *value)
{
    const char *text = value != nullptr ? json_object_get_string(value) : nullptr;
    return text != nullptr ? text : "";
}

void apply_field(void *record, const ActionField &field, json_object *value)
{
    switch (field.type) {
    case ActionFieldType::Int:
        put_int(record, field.offset, json_object_get_int(value));
        break;
    case ActionFieldType::Text:
        put_text(record, field.offset, field.size, text_of(value));
        break;
    case ActionFieldType::TriChannels: {
        put_text(record, field.offset, field.size, text_of(value));
        const uint32_t mask = get_trigger_channel_mask(get_text(record, field.offset, field.size).c_str());
        std::memcpy(field_at(record, field.extra), &mask, 4);
        break;
    }
    case ActionFieldType::ChnAlarms: {
        // Both texts of the pair; an element the array lacks leaves its text as it was.
        const uint16_t offsets[2] = {field.offset, field.extra};
        for (int i = 0; i < 2; ++i)
            if (json_object *text = json_element(value, i))
                put_text(record, offsets[i], field.size, text_of(text));
        break;
    }
    }
}

json_object *field_value(const void *record, const ActionField &field)
{
    switch (field.type) {
    case ActionFieldType::Int:
        return json_object_new_int(get_int(record, field.offset));
    case ActionFieldType::Text:
    case ActionFieldType::TriChannels:
        return json_object_new_string(get_text(record, field.offset, field.size).c_str());
    case ActionFieldType::ChnAlarms:
        return get_event_chn_alarmout_object(get_text(record, field.offset, field.size).c_str(),
                                             get_text(record, field.extra, field.size).c_str());
    }
    return nullptr;
}

const char *table_of(const char *table) { return table != nullptr ? table : ""; }

bool has_part(const EventActionStore &store, unsigned part)
{
    for (int slot = 0; slot < SLOT_COUNT; ++slot)
        if (part == (1u << slot))
            return store.schedules[slot].kind != nullptr;
    if (part == PART_WHITE_PARAMS)
        return store.white_params_table != nullptr;
    if (part == PART_HTTP_PARAMS)
        return store.http_params_table != nullptr;
    if (part == PART_PTZ_LIST)
        return store.ptz_event_type >= 0;
    return false;
}

int read_slot_schedule(const EventActionStore &store, int slot, int channel, ScheduleRecord *schedule)
{
    const ScheduleStore &s = store.schedules[slot];
    return read_event_schedule(VKDB_MAIN, s.kind, channel, schedule, table_of(s.table));
}

WhiteLedKey white_key(const EventActionStore &store, int channel)
{
    WhiteLedKey key{};
    key.channel = channel;
    copy_text(key.table, table_of(store.white_params_table));
    return key;
}

} // namespace

const ActionRecordMap k_event_action_record_map{sizeof(EventActionRecord), k_event_action_fields};

const char *const k_schedule_slot_keys[SLOT_COUNT] = {"effective", "audible", "email", "ptz", "white", "httpSche"};

const ActionField *find_action_field(const ActionRecordMap &map, const char *key)
{
    if (key == nullptr)
        return nullptr;
    for (const ActionField &field : map.fields)
        if (std::strcmp(field.key, key) == 0)
            return fits(map, field) ? &field : nullptr;
    return nullptr;
}

int update_event_action_fields(void *record, const ActionRecordMap &map, json_object *object,
                               std::span<const char *const> keys)
{
    if (record == nullptr)
        return 0;
    int present = 0;
    for (const char *key : keys) {
        const ActionField *field = find_action_field(map, key);
        json_object *value = nullptr;
        if (field == nullptr || !json_object_is_type(object, json_type_object) ||
            !json_object_object_get_ex(object, key, &value))
            continue;
        apply_field(record, *field, value);
        ++present;
    }
    return present;
}

unsigned save_event_action_parts(const EventActionStore &store, int channel, json_object *dialog, unsigned parts)
{
    if (!event_channel_valid(channel) || !json_object_is_type(dialog, json_type_object))
        return 0;
    unsigned stored = 0;
    auto schedule = std::make_unique<ScheduleRecord>();
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        const unsigned part = 1u << slot;
        if (!(parts & part) || !has_part(store, part))
            continue;
        if (get_schedule_by_json(dialog, k_schedule_slot_keys[slot], schedule.get()) != 0)
            continue;
        const ScheduleStore &s = store.schedules[slot];
        write_event_schedule(VKDB_MAIN, s.kind, channel, schedule.get(), table_of(s.table));
        stored |= part;
    }
    if ((parts & PART_WHITE_PARAMS) && has_part(store, PART_WHITE_PARAMS)) {
        auto table = std::make_unique<WhiteLedTable>();
        int count = 0;
        if (get_white_params_by_json(channel, table.get(), dialog, "whiteInfo", &count) == 0) {
            const WhiteLedKey key = white_key(store, channel);
            write_whiteled_params_all(VKDB_MAIN, &table->blocks[channel], &key, count);
            stored |= PART_WHITE_PARAMS;
        }
    }
    if ((parts & PART_HTTP_PARAMS) && has_part(store, PART_HTTP_PARAMS)) {
        HttpNotificationParams params;
        if (get_http_params_by_json(channel, &params, dialog, "httpParams") == 0) {
            write_http_notification_params(VKDB_MAIN, &params, store.http_params_table);
            stored |= PART_HTTP_PARAMS;
        }
    }
    if ((parts & PART_PTZ_LIST) && has_part(store, PART_PTZ_LIST)) {
        if (json_object *list = json_member(dialog, "ptzParams")) {
            int ptz_channel = channel;
            int ptz_type = store.ptz_event_type;
            on_cgi_get_int_from_json(dialog, "ptzChnId", &ptz_channel);
            on_cgi_get_int_from_json(dialog, "ptzType", &ptz_type);
            if (set_ptz_params_by_json(ptz_channel, ptz_type, list) == 1)
                stored |= PART_PTZ_LIST;
        }
    }
    return stored;
}

void copy_event_action_parts(const EventActionStore &store, int channel, uint64_t mask, unsigned parts)
{
    if (mask == 0 || !event_channel_valid(channel))
        return;
    auto schedule = std::make_unique<ScheduleRecord>();
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        const unsigned part = 1u << slot;
        if (!(parts & part) || !has_part(store, part))
            continue;
        std::memset(schedule.get(), 0, sizeof *schedule);
        read_slot_schedule(store, slot, channel, schedule.get());
        const ScheduleStore &s = store.schedules[slot];
        copy_event_schedules(VKDB_MAIN, s.kind, schedule.get(), mask, table_of(s.table));
    }
    if ((parts & PART_WHITE_PARAMS) && has_part(store, PART_WHITE_PARAMS)) {
        WhiteLedBlock block{};
        int count = 0;
        const WhiteLedKey key = white_key(store, channel);
        read_whiteled_params(VKDB_MAIN, &block, &key, &count);
        copy_whiteled_params(VKDB_MAIN, &block, count, store.white_params_table, mask);
    }
    if ((parts & PART_HTTP_PARAMS) && has_part(store, PART_HTTP_PARAMS)) {
        HttpNotificationParams params{};
        read_http_notification_params(VKDB_MAIN, &params, store.http_params_table, channel);
        copy_http_notification_params(VKDB_MAIN, &params, store.http_params_table, mask);
    }
    if ((parts & PART_PTZ_LIST) && has_part(store, PART_PTZ_LIST)) {
        PtzActionList list{};
        int count = 0;
        read_ptz_params(VKDB_MAIN, &list, store.ptz_event_type, channel, &count);
        copy_ptz_params_all(VKDB_MAIN, &list, store.ptz_event_type, mask);
    }
}

bool save_event_actions(const EventActionFamily &family, int channel, void *record, json_object *dialog)
{
    const unsigned stored = save_event_action_parts(family.store, channel, dialog, family.parts);
    int present = 0;
    if (family.map != nullptr)
        present = update_event_action_fields(record, *family.map, dialog, family.record_keys);
    return present > 0 || (stored & PART_PTZ_LIST) != 0;
}

json_object *event_action_answer_value(const ActionAnswerRow &row, const ActionAnswerContext &context)
{
    const EventActionStore *store = context.store;
    switch (row.source) {
    case ActionAnswer::Channel:
        return json_object_new_int(context.channel);
    case ActionAnswer::Field: {
        const ActionField *field =
            context.map != nullptr ? find_action_field(*context.map, row.field != nullptr ? row.field : row.key) : nullptr;
        if (field == nullptr || context.record == nullptr)
            return nullptr;
        return field_value(context.record, *field);
    }
    case ActionAnswer::Schedule: {
        auto schedule = std::make_unique<ScheduleRecord>();
        std::memset(schedule.get(), 0, sizeof *schedule);
        if (store != nullptr && row.slot >= 0 && row.slot < SLOT_COUNT && store->schedules[row.slot].kind != nullptr)
            read_slot_schedule(*store, row.slot, context.channel, schedule.get());
        return get_schedule_json_object(schedule.get());
    }
    case ActionAnswer::WhiteInfo:
        return get_white_params_json_object(context.channel, store != nullptr ? table_of(store->white_params_table) : "");
    case ActionAnswer::HttpParams:
        return get_http_params_json_object(context.channel, store != nullptr ? table_of(store->http_params_table) : "");
    case ActionAnswer::AudioIdMask:
        return json_object_new_int(get_audio_file_id_mask());
    case ActionAnswer::PtzParams:
        return get_ptz_params_json_object(store != nullptr ? store->ptz_event_type : 0, context.channel);
    case ActionAnswer::Custom:
        return row.custom != nullptr ? row.custom(context) : nullptr;
    }
    return nullptr;
}

void add_event_action_answer(json_object *answer, std::span<const ActionAnswerRow> rows,
                             const ActionAnswerContext &context)
{
    for (const ActionAnswerRow &row : rows)
        json_object_object_add(answer, row.key, event_action_answer_value(row, context));
}
