// Storage module, eSATA family: the automatic backup to an eSATA disk (settings in the config
// database, start, stop, status and progress from the daemon), finding the export disk, and
// formatting the eSATA disk with its progress.
#include <cstdio>
#include <cstring>

#include "storage.h"
#include "storage_records.h"
#include "web_utils.h"

// /6220: the auto-backup settings.
int on_get_esata_backup_info(const char *request)
{
    EsataAutoBackupRecord backup{};
    read_esata_auto_backup(VKDB_MAIN, &backup);
    JsonPtr answer(json_object_new_object());
    json_put_int(answer.get(), "enable", backup.enable);
    json_put_int(answer.get(), "streamType", backup.stream_type);
    json_put_int(answer.get(), "fileType", backup.file_type);
    json_put_int(answer.get(), "recycle", backup.recycle);
    json_put_text(answer.get(), "channel", field_text(backup.channel));
    json_put_text(answer.get(), "backupTime", field_text(backup.backup_time));
    json_put_int(answer.get(), "device", backup.device);
    json_put_int(answer.get(), "port", backup.port);
    json_answer(answer.get());
    return 0;
}

// /6221: store the auto-backup settings built from the request (unless "stopBackup" is set), then
// tell the daemon to start or stop. The request carries the whole record: a member it leaves out
// is stored as 0 or an empty text.
int on_set_esata_backup_info(const char *request)
{
    JsonPtr body = json_parse_object(request);
    if (!body)
        return 0;
    json_object *object = body.get();
    if (json_member_int_or(object, "stopBackup", 0) == 0) {
        EsataAutoBackupRecord backup{};
        backup.enable = json_member_int_or(object, "enable", 0);
        backup.stream_type = json_member_int_or(object, "streamType", 0);
        backup.file_type = json_member_int_or(object, "fileType", 0);
        backup.recycle = json_member_int_or(object, "recycle", 0);
        backup.device = json_member_int_or(object, "device", 0);
        backup.port = json_member_int_or(object, "port", 0);
        copy_text(backup.backup_time, json_member_text(object, "backupTime"));
        copy_text(backup.channel, json_member_text(object, "channel"));
        write_esata_auto_backup(VKDB_MAIN, &backup);
    }
    storage_exchange(1316, nullptr, 0, StorageAnswer::Json);
    return 0;
}

// /6222: progress of the running backup.
int on_get_esata_backup_progress(const char *request)
{
    storage_exchange(1317, nullptr, 0, StorageAnswer::Json);
    return 0;
}

int on_get_esata_backup_progress_cb(int count, const void *payload)
{
    BackupProgressRecord progress;
    std::memcpy(&progress, payload, sizeof(progress));
    char percent[8];
    snprintf(percent, sizeof(percent), "%.1f", static_cast<double>(progress.percent));
    JsonPtr answer(json_object_new_object());
    json_put_int(answer.get(), "status", progress.status);
    json_put_text(answer.get(), "percent", percent);
    json_put_text(answer.get(), "last_time", field_text(progress.last_time));
    json_put_int(answer.get(), "capacity", progress.capacity);
    storage_answer_json(answer.get());
    return 0;
}

// /6223: the disk to export to (the first the daemon marks as such).
int on_get_export_disk(const char *request)
{
    storage_exchange(3457, nullptr, 0, StorageAnswer::Json);
    return 0;
}

int on_get_export_disk_cb(int count, const void *payload)
{
    const char *bytes = static_cast<const char *>(payload);
    JsonPtr answer(json_object_new_object());
    for (int i = 0; i < count; ++i) {
        ExportDiskRecord disk;
        std::memcpy(&disk, bytes + static_cast<size_t>(i) * sizeof(disk), sizeof(disk));
        if (disk.marker == EXPORT_DISK_MARKER) {
            json_put_int(answer.get(), "port", disk.port);
            json_put_int(answer.get(), "result", 0);
            storage_answer_json(answer.get());
            return 0;
        }
    }
    json_put_int(answer.get(), "result", -1);
    storage_answer_json(answer.get());
    return 0;
}

// /6224: format the eSATA disk; a bad request gets the JSON error at once.
int on_set_esata_format(const char *request)
{
    JsonPtr body = json_parse_object(request);
    int port = -1;
    if (!body || !json_member_int(body.get(), "port", &port) || port < 0 || port > STORAGE_MAX_DISKS) {
        cgi_error_to_webserver(CGI_JSON);
        return 0;
    }
    storage_exchange(3535, static_cast<int32_t>(port), StorageAnswer::Json);
    return 0;
}

// /6225: auto-backup status.
int on_get_backup_status(const char *request)
{
    storage_exchange(3536, nullptr, 0, StorageAnswer::Json);
    return 0;
}

int on_get_backup_status_cb(int count, const void *payload)
{
    JsonPtr answer(json_object_new_object());
    json_put_int(answer.get(), "status", payload_word(payload));
    storage_answer_json(answer.get());
    return 0;
}

// /6226: stop the auto backup.
int on_set_backup_stop(const char *request)
{
    storage_exchange(3537, nullptr, 0, StorageAnswer::Json);
    return 0;
}

// /6227: state of a running format.
int on_get_format_info(const char *request)
{
    storage_exchange(3540, nullptr, 0, StorageAnswer::Json);
    return 0;
}

int on_get_format_info_cb(int count, const void *payload)
{
    FormatInfoRecord info;
    std::memcpy(&info, payload, sizeof(info));
    JsonPtr answer(json_object_new_object());
    json_put_int(answer.get(), "status", info.status);
    json_put_int(answer.get(), "port", info.port);
    json_put_int(answer.get(), "type", info.type);
    json_put_int(answer.get(), "percent", info.percent);
    storage_answer_json(answer.get());
    return 0;
}
