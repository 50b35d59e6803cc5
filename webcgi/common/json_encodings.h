// JSON encodings shared by the event pages (motion, video loss, alarm inputs, smart events,
// licence plates, people counting, camera alarms): the week schedule in its three variants, the
// copy mask, PTZ action lists, white-LED tables (both element forms), HTTP-notification
// parameters, the alarm-output pair, the mask of installed alarm sounds, and the small file and
// parsing helpers of the platform.
//
// Encoders return new json-c values that the caller adds to its answer (and releases with it).
// Decoders read from a parsed request object; they never read past the elements that exist and
// never store more than a record holds. A member of the wrong JSON type is treated as not well
// formed (result -1, nothing decoded), never dereferenced as something it is not.
// The records and the config-database functions behind them are in event_records.h.
#pragma once
#include <cstdint>
#include <json-c/json.h>

#include "event_records.h"

// ---- small JSON helpers used by every decoder ----------------------------------------------------
// Member `key` of `object`, or null when the object is null, not an object, or lacks the key.
json_object *json_member(json_object *object, const char *key);
// Element `index` of `array`, or null when it is not an array or has no such element.
json_object *json_element(json_object *array, int index);
// Number of elements, 0 for anything that is not an array.
int json_length(json_object *array);

// ---- schedules -------------------------------------------------------------------------------------
// Output form: 8 arrays (days) of 12 objects {"startTime", "endTime", "actionType"}.
json_object *get_schedule_json_object(const ScheduleRecord *schedule);
// Input form: member `key`, 8 arrays of 12 arrays [start, end, action type]. Clears the schedule,
// then fills the first 12 periods of each day (times cut to 31 characters). Missing days and
// periods read as empty; a day or period that is not an array makes the member not well formed.
// 0, or -1 (schedule untouched) for a null argument, a missing or not well formed member.
int get_schedule_by_json(json_object *object, const char *key, ScheduleRecord *schedule);
// Camera-side variant: a day whose whole-day enable is 0 is answered as 12 empty periods; input as
// above with every day's whole-day enable set to 1.
json_object *get_schedule_json_object_ipc(const ScheduleRecord *schedule);
int get_schedule_by_json_ipc(json_object *object, const char *key, ScheduleRecord *schedule);
// Same as the plain pair.
json_object *get_schedule_json_object_ex(const ScheduleRecord *schedule);
int get_schedule_by_json_ex(json_object *object, const char *key, ScheduleRecord *schedule);

// ---- copy mask ---------------------------------------------------------------------------------------
// Bit n for each of the first `count_key` elements of `channels_key` that holds 0-63.
uint64_t get_copy_flag_by_json(json_object *object, const char *channels_key, const char *count_key);
// The channels of `mask` in ascending order into `channels` (64 places, the rest zeroed); returns
// how many there are.
int copy_mask_channels(uint64_t mask, int32_t channels[EVENT_CHANNELS]);

// ---- trigger channels ----------------------------------------------------------------------------------
// Bit i for every '1' at position i < 32 of a channel mask string (at most 64 characters count).
uint32_t get_trigger_channel_mask(const char *channel_mask_text);

// ---- PTZ actions ---------------------------------------------------------------------------------------
// The non-empty entries of (event type, channel): [{"acto_ptz_channel", "acto_ptz_type",
// "acto_ptz_preset", "acto_ptz_patrol"}, ...].
json_object *get_ptz_params_json_object(int event_type, int channel);
// The same for a list already read.
json_object *get_ptz_list_json_object(const PtzActionList *list);
// Clears `list` and fills one entry per element of `array` (at most 64). -1 for a channel outside
// 0-63, a null argument or an `array` that is not an array.
int get_ptz_params_by_json(int channel, int event_type, json_object *array, PtzActionList *list);
// Decodes and stores the list; 1 when it was stored, else 0.
int set_ptz_params_by_json(int channel, int event_type, json_object *array);

// ---- white-LED actions ---------------------------------------------------------------------------------
// [{"chnid", "mode", "time"}, ...] of `channel` in table `table_name`.
json_object *get_white_params_json_object(int channel, const char *table_name);
// Clears the whole table, puts `channel` into the first word of its block and fills one entry per
// element of member `key` (at most 64): objects {"chnid", "mode", "time"} when the array's text
// holds "chnid", else positional arrays [chnid, mode, time]. `count` (optional) receives the number
// of entries. -1 for a null argument, a channel outside 0-63 or a missing member that is no array.
int get_white_params_by_json(int channel, WhiteLedTable *table, json_object *object, const char *key,
                             int *count = nullptr);
// People counting: one list of 64 entries per channel; the decoder reads elements until the first
// missing one and does not clear the list first.
json_object *get_pcnt_white_params_json_object(int channel);
int get_pcnt_white_params_by_json(int channel, WhiteLedBlock *list, json_object *object, const char *key,
                                  int *count = nullptr);

// ---- HTTP notification ---------------------------------------------------------------------------------
// {"chnId", "url", "username", "password"} of `channel` in table `table_name`.
json_object *get_http_params_json_object(int channel, const char *table_name);
// Clears the record, sets the channel and copies "url" (512), "username" (96) and "password" (64
// characters) of the member object unchanged. -1 for a null argument or a member that is missing
// or not an object.
int get_http_params_by_json(int channel, HttpNotificationParams *record, json_object *object, const char *key);

// ---- event alarm outputs -------------------------------------------------------------------------------
json_object *get_event_chn_alarmout_object(const char *text0, const char *text1);
// For index 0 and 1 that the member array has: pair[index] := {channel, index, text (64 characters)};
// others are left as they were. -1 for a null argument or a member that is missing or no array.
int get_event_chn_alarmout_by_object(int channel, json_object *object, const char *key, EventAlarmOutRecord pair[2]);

// ---- other functions ------------------------------------------------------------------------------------
// Bit i (0-9) for every installed alarm audio file i ("audioIdMask").
int get_audio_file_id_mask();
// The parsed JSON value (owned by the caller), or null for a null text or one that is not JSON.
json_object *get_request_tokener_json_object(const char *text);
// The whole file in a new buffer from __vk_malloc (release with __vk_free), not NUL-terminated;
// `size` gets its length. Null and size 0 for a null path, an unreadable file or short memory.
char *vk_get_file_data(const char *path, int *size);
// Creates or truncates the file and writes `size` bytes; 0 when all were written, else -1.
int vk_wirte_file_data(const char *path, const void *data, int size);
