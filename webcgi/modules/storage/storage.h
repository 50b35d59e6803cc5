// Storage module, shared declarations: the handlers and answer builders of its families
// (disk.cpp: disk list, settings, format, SMART and removal; raid.cpp: RAID arrays and mode;
// nas.cpp: network disks; quota.cpp: recycle mode, quotas and groups; esata.cpp: eSATA backup and
// format) and the small helpers they share (storage_common.cpp). storage.cpp holds the request
// table, the answer table and the one response callback.
#pragma once
#include <cstdint>
#include <string_view>

#include "common/ipc.h"
#include "common/json_answer.h"

int on_storage_ipc_callback(void *context, const uint32_t *header, const void *payload);
// Payload length of the answer being dispatched (for builders whose record count alone does not
// say how much of the payload is there).
int storage_answer_size();

// disk.cpp
int on_get_disk_info(const char *request);          // /6100
int on_set_disk_info(const char *request);          // /6101
int on_set_disk_format(const char *request);        // /6102
int on_get_format_progress(const char *request);    // /6103
int on_get_smart_info(const char *request);         // /6206
int on_set_disk_remove(const char *request);        // /6207
int on_get_storage_info_cb(int count, const void *payload);
int on_set_disk_format_cb(int count, const void *payload);
int on_get_smart_info_cb(int count, const void *payload);

// raid.cpp
int on_set_raid_create(const char *request);        // /6104
int on_set_raid_delete(const char *request);        // /6105
int on_set_raid_hot_spare(const char *request);     // /6106
int on_set_raid_rebuild(const char *request);       // /6107
int on_get_raid_mode(const char *request);          // /6108
int on_set_raid_mode(const char *request);          // /6109

// nas.cpp
int on_set_nas_delete(const char *request);         // /6200
int on_set_nas_add(const char *request);            // /6201
int on_get_nas_search(const char *request);         // /6202
int on_set_nas_edit(const char *request);           // /6203
int on_set_nas_info_cb(int count, const void *payload);
int on_get_nas_search_cb(int count, const void *payload);

// quota.cpp
int on_set_recycle_mode(const char *request);       // /6204
int on_get_recycle_mode(const char *request);       // /6205
int on_get_quota_info(const char *request);         // /6208
int on_set_quota_info(const char *request);         // /6209
int on_set_group_info(const char *request);         // /6210
int on_set_recycle_mode_cb(int count, const void *payload);
int on_get_recycle_mode_cb(int count, const void *payload);
int on_get_quota_info_cb(int count, const void *payload);

// esata.cpp
int on_get_esata_backup_info(const char *request);      // /6220
int on_set_esata_backup_info(const char *request);      // /6221
int on_get_esata_backup_progress(const char *request);  // /6222
int on_get_export_disk(const char *request);            // /6223
int on_set_esata_format(const char *request);           // /6224
int on_get_backup_status(const char *request);          // /6225
int on_set_backup_stop(const char *request);            // /6226
int on_get_format_info(const char *request);            // /6227
int on_get_esata_backup_progress_cb(int count, const void *payload);
int on_get_export_disk_cb(int count, const void *payload);
int on_get_backup_status_cb(int count, const void *payload);
int on_get_format_info_cb(int count, const void *payload);

// storage_common.cpp: answer builders shared by several responses.
int on_storage_result_text_cb(int count, const void *payload);  // "OK" for status 0, else "Error"
int on_storage_result_json_cb(int count, const void *payload);  // {"result": status}

// Helpers.
enum class StorageAnswer { Text, Json };
// One daemon exchange: sends and waits; writes the generic error answer of `error_type` when no
// answer came. Returns true when a builder answered.
bool storage_exchange(int request_id, const void *payload, int size, StorageAnswer error_type);
template <typename T> bool storage_exchange(int request_id, const T &payload, StorageAnswer error_type)
{
    return storage_exchange(request_id, &payload, static_cast<int>(sizeof(T)), error_type);
}
// A notice without waiting.
template <typename T> void storage_notice(int request_id, const T &payload)
{
    cgi_send_notice(request_id, &payload, static_cast<int>(sizeof(T)));
}

// Builders: the text or JSON answer, then g_callback_done := 1.
void storage_answer_text(const char *text);
void storage_answer_json(json_object *object);
// The first signed 32-bit word of a payload (payloads may be unaligned).
int32_t payload_word(const void *payload, int index = 0);

// Operation log record (main type 4) sent without waiting, optionally with a detail block.
void storage_send_log(int64_t sub_type, int parameter, int channel, int detail_code = 0,
                      const void *detail = nullptr, int detail_size = 0);

// Decimal value of a text request (0 for a null or non-numeric text; overflow saturates).
long request_decimal(const char *request);

// JSON request members.
bool json_member_int(json_object *object, const char *key, int *out);   // false when absent
int json_member_int_or(json_object *object, const char *key, int fallback);
std::string_view json_member_text(json_object *object, const char *key); // "" when absent
json_object *json_member_array(json_object *object, const char *key);   // null unless an array
int json_array_count(json_object *array);                               // 0 for null
int json_array_int(json_object *array, int index);                      // 0 when missing
std::string_view json_array_text(json_object *array, int index);        // "" when missing

// JSON answer members.
void json_put_int(json_object *object, const char *key, int64_t value);
void json_put_text(json_object *object, const char *key, std::string_view text);
