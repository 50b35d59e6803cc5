// Storage module: disks, formatting, RAID, network disks, quotas, recycle mode, groups, eSATA and
// automatic backup. This file is the module's map: the request table (one row per request code),
// the answer table (one row per daemon response id: record size and answer builder), the one
// response callback the daemon channel calls, and the registration. The handlers live in the
// family files beside it (see storage.h).
#include <array>
#include <atomic>

#include "dispatchreq.h"
#include "storage.h"
#include "storage_records.h"

namespace {

constexpr std::array<WebReqEntry, 29> k_storage_requests{{
    {"/6100", on_get_disk_info},
    {"/6101", on_set_disk_info},
    {"/6102", on_set_disk_format},
    {"/6103", on_get_format_progress},
    {"/6104", on_set_raid_create},
    {"/6105", on_set_raid_delete},
    {"/6106", on_set_raid_hot_spare},
    {"/6107", on_set_raid_rebuild},
    {"/6108", on_get_raid_mode},
    {"/6109", on_set_raid_mode},
    {"/6200", on_set_nas_delete},
    {"/6201", on_set_nas_add},
    {"/6202", on_get_nas_search},
    {"/6203", on_set_nas_edit},
    {"/6204", on_set_recycle_mode},
    {"/6205", on_get_recycle_mode},
    {"/6206", on_get_smart_info},
    {"/6207", on_set_disk_remove},
    {"/6208", on_get_quota_info},
    {"/6209", on_set_quota_info},
    {"/6210", on_set_group_info},
    {"/6220", on_get_esata_backup_info},
    {"/6221", on_set_esata_backup_info},
    {"/6222", on_get_esata_backup_progress},
    {"/6223", on_get_export_disk},
    {"/6224", on_set_esata_format},
    {"/6225", on_get_backup_status},
    {"/6226", on_set_backup_stop},
    {"/6227", on_get_format_info},
}};

constexpr IpcAnswer k_storage_answers[] = {
    {8433, sizeof(DaemonDiskRecord), on_get_storage_info_cb},   // disk list
    {8434, 4, on_set_disk_format_cb},                          // format
    {8402, 4, on_set_disk_format_cb},                          // format (finished)
    {8420, 4, on_storage_result_text_cb},                      // RAID created
    {8421, 4, on_storage_result_text_cb},                      // RAID removed
    {8423, 4, on_storage_result_text_cb},                      // hot spare set
    {8424, 4, on_storage_result_text_cb},                      // hot spare cleared
    {8425, 4, on_storage_result_text_cb},                      // RAID rebuilt
    {8496, 4, on_storage_result_text_cb},                      // local disk removed
    {8508, 4, on_storage_result_text_cb},                      // network disks deleted
    {8530, 4, on_storage_result_text_cb},                      // quotas set
    {8507, 4, on_set_nas_info_cb},                             // network disks added
    {8439, 4, on_set_nas_info_cb},                             // network disk edited
    {8440, sizeof(ShareListRecord), on_get_nas_search_cb},     // shares found
    {8475, 4, on_set_recycle_mode_cb},
    {8431, sizeof(RecycleModeRecord), on_get_recycle_mode_cb},
    {8403, sizeof(SmartResultRecord), on_get_smart_info_cb},
    {8529, sizeof(QuotaEntry), on_get_quota_info_cb},
    {6316, 4, on_storage_result_json_cb},                      // auto backup set or stopped
    {6317, sizeof(BackupProgressRecord), on_get_esata_backup_progress_cb},
    {8457, sizeof(ExportDiskRecord), on_get_export_disk_cb},
    {8535, 4, on_storage_result_json_cb},                      // eSATA format
    {8536, 4, on_get_backup_status_cb},
    {8537, 4, on_storage_result_json_cb},                      // auto backup stopped
    {8540, sizeof(FormatInfoRecord), on_get_format_info_cb},
};

// Set on the receiving thread just before the builder runs there.
std::atomic<int> g_answer_size{0};

} // namespace

int storage_answer_size() { return g_answer_size.load(); }

int on_storage_ipc_callback(void *context, const uint32_t *header, const void *payload)
{
    if (header != nullptr)
        g_answer_size = static_cast<int>(header[5]);
    return ipc_dispatch_answer(k_storage_answers, ipc_table_size(k_storage_answers), header, payload);
}

WEBCGI_MODULE(storage, k_storage_requests)
