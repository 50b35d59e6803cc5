// Storage family of the simulated core daemon: a small disk model that answers every request of
// the storage pages.
//
// The recorder starts with two local disks (ports 1 and 2), two RAID member disks (3 and 4), one
// RAID 1 array over them (id 10) and an eSATA disk (port 17, the export disk). Network disks come
// and go with the add and delete requests: the pages store their config disk records first, and
// the model mounts what it finds there (and, like the recorder, removes the records again when a
// share is deleted). Formatting and the eSATA backup advance one step each time their progress is
// asked for, so that a page polling them sees them finish.
//
// coresim serves one message at a time on one thread, so the model needs no lock.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>

#include "coresim.h"
#include "storage/storage_records.h"
#include "web_utils.h"

namespace {

constexpr uint64_t GiB = 1ull << 30;
constexpr int32_t OK = 0;
constexpr int32_t FAILED = -1;
constexpr int32_t STATE_NORMAL = 1;
constexpr int32_t TYPE_SATA = 0;
constexpr int32_t TYPE_ESATA = 2;
constexpr int ESATA_PORT = 17;

struct FormatTask {
    int port = 0;
    int percent = 100;
    int type = 0;
    bool running() const { return percent < 100; }
};

struct BackupTask {
    bool running = false;
    float percent = 0;
    std::string last_time;
};

struct StorageModel {
    std::map<int, DaemonDiskRecord> disks; // by port (RAID arrays by id)
    RecycleModeRecord recycle{1, 0};
    QuotaPayload quotas{};
    FormatTask format;
    BackupTask backup;
};

DaemonDiskRecord local_disk(int port, const char *vendor, uint64_t total, uint64_t used, int type = TYPE_SATA)
{
    DaemonDiskRecord disk{};
    disk.port = port;
    copy_text(disk.vendor, vendor);
    disk.state = STATE_NORMAL;
    disk.usable = 1;
    disk.total_size = total;
    disk.used_size = used;
    disk.free_size = total - used;
    disk.disk_type = type;
    disk.property = 1;
    return disk;
}

StorageModel make_model()
{
    StorageModel model;
    auto add = [&](const DaemonDiskRecord &disk) { model.disks[disk.port] = disk; };
    add(local_disk(1, "ST2000VX008-2E3164", 2000398934016ull, 612 * GiB));
    add(local_disk(2, "WDC WD40PURZ-85TTDY0", 4000787030016ull, 1200 * GiB));
    add(local_disk(3, "ST1000VX005-2EZ102", 1000204886016ull, 0));
    add(local_disk(4, "ST1000VX005-2EZ102", 1000204886016ull, 0));
    add(local_disk(ESATA_PORT, "TOSHIBA MQ04ABF100", 1000204886016ull, 40 * GiB, TYPE_ESATA));

    DaemonDiskRecord raid = local_disk(10, "RAID1", 1000204886016ull, 80 * GiB, DISK_TYPE_RAID);
    raid.raid_level = 1;
    raid.raid_state = STATE_NORMAL;
    raid.raid_progress = 100;
    raid.raid_member_count = 2;
    raid.raid_members[0] = 3;
    raid.raid_members[1] = 4;
    add(raid);

    model.quotas.count = 4;
    for (int channel = 0; channel < model.quotas.count; ++channel) {
        QuotaEntry &entry = model.quotas.entries[channel];
        entry.channel = static_cast<uint8_t>(channel);
        entry.video_used = 10 * (channel + 1);
        entry.picture_used = channel;
    }
    return model;
}

bool mount_network_disk(int port);

// Made on the first request, when the sandbox root is known; the shares configured in the
// database are mounted as the recorder mounts them at start.
StorageModel &model()
{
    static bool made = false;
    static StorageModel the_model;
    if (!made) {
        made = true;
        the_model = make_model();
        std::array<DiskConfigRecord, STORAGE_MAX_DISKS> configs{};
        int count = 0;
        read_disks(VKDB_MAIN, configs.data(), &count);
        for (int i = 0; i < std::clamp(count, 0, STORAGE_MAX_DISKS); ++i)
            if (configs[i].port >= 1 && configs[i].port <= STORAGE_MAX_DISKS)
                mount_network_disk(configs[i].port);
    }
    return the_model;
}

bool has_disk(int port) { return model().disks.count(port) != 0; }

void reply_status(CoreRequest &request, int32_t status) { request.reply_record(request.request_id + 5000, status); }

// The ports of a disk-list payload (3507, 3508), count kept within the payload.
DiskListPayload disk_list(const CoreRequest &request)
{
    DiskListPayload list{};
    std::memcpy(&list, request.payload.data(), std::min(sizeof(list), request.payload.size()));
    list.count = std::clamp(list.count, 0, STORAGE_MAX_LIST_PORTS);
    return list;
}

// Mounts (or remounts) the network disk configured on `port`; false when there is none.
bool mount_network_disk(int port)
{
    DiskConfigRecord config{};
    if (read_disk(VKDB_MAIN, &config, port) != 0 || config.enable != 1 || !is_network_disk_type(config.disk_type))
        return false;
    DaemonDiskRecord disk = local_disk(port, "", 8000 * GiB, 350 * GiB, config.disk_type);
    copy_text(disk.vendor, field_text(config.vendor));
    copy_text(disk.address, field_text(config.address));
    copy_text(disk.directory, field_text(config.directory));
    copy_text(disk.user_name, field_text(config.user_name));
    copy_text(disk.password, field_text(config.password));
    disk.group = config.group;
    disk.property = config.property;
    model().disks[port] = disk;
    return true;
}

void on_disk_list(CoreRequest &request)
{
    std::string records;
    for (const auto &[port, disk] : model().disks)
        records.append(reinterpret_cast<const char *>(&disk), sizeof(disk));
    request.reply(8433, records.data(), records.size());
}

void on_disk_settings(CoreRequest &request)
{
    auto settings = request.arg<DiskSettingsPayload>();
    auto it = model().disks.find(settings.port);
    if (it == model().disks.end())
        return;
    it->second.property = settings.property;
    it->second.group = settings.group;
}

void on_format(CoreRequest &request)
{
    int port = request.arg<int32_t>();
    if (!has_disk(port) || model().disks[port].disk_type == DISK_TYPE_RAID) {
        reply_status(request, FAILED);
        return;
    }
    if (model().format.running()) {
        reply_status(request, 1); // busy with another format
        return;
    }
    model().format = FormatTask{port, 0, model().disks[port].disk_type};
    DaemonDiskRecord &disk = model().disks[port];
    disk.used_size = 0;
    disk.free_size = disk.total_size;
    reply_status(request, OK);
}

void on_format_info(CoreRequest &request)
{
    FormatTask &task = model().format;
    FormatInfoRecord info{};
    if (task.running()) {
        task.percent = std::min(100, task.percent + 25);
        info.status = task.running() ? 1 : 0;
    }
    info.percent = static_cast<uint8_t>(task.percent);
    info.port = static_cast<uint8_t>(task.port);
    info.type = task.type;
    request.reply_record(8540, info);
}

void on_smart(CoreRequest &request)
{
    int port = request.arg<int32_t>();
    SmartResultRecord result{};
    result.port = port;
    bool local = has_disk(port) && !is_network_disk_type(model().disks[port].disk_type) &&
                 model().disks[port].disk_type != DISK_TYPE_RAID;
    // A full field without its NUL, as the daemon may send it.
    std::memset(result.evaluation, ' ', sizeof(result.evaluation));
    std::memcpy(result.evaluation, local ? "SMART overall: PASSED" : "SMART overall: UNKNOWN",
                local ? 21 : 22);
    request.reply_record(8403, result);
}

void on_raid_create(CoreRequest &request)
{
    auto raid = request.arg<RaidPayload>();
    if (raid.id < 10 || raid.id > 15 || has_disk(raid.id) || raid.member_count < 1) {
        reply_status(request, FAILED);
        return;
    }
    DaemonDiskRecord array = local_disk(raid.id, "RAID", 0, 0, DISK_TYPE_RAID);
    copy_text(array.vendor, "RAID" + std::to_string(raid.level));
    array.raid_level = raid.level;
    array.raid_state = STATE_NORMAL;
    array.raid_progress = 0;
    int members = std::min(raid.member_count, STORAGE_MAX_RAID_MEMBERS);
    array.raid_member_count = members;
    std::copy(raid.members, raid.members + members, array.raid_members);
    array.total_size = 1000204886016ull;
    array.free_size = array.total_size;
    model().disks[raid.id] = array;
    reply_status(request, OK);
}

void on_raid_remove(CoreRequest &request)
{
    int id = request.arg<int32_t>();
    auto it = model().disks.find(id);
    bool found = it != model().disks.end() && it->second.disk_type == DISK_TYPE_RAID;
    if (found)
        model().disks.erase(it);
    reply_status(request, found ? OK : FAILED);
}

void on_hot_spare(CoreRequest &request) { reply_status(request, has_disk(request.arg<int32_t>()) ? OK : FAILED); }

void on_raid_rebuild(CoreRequest &request)
{
    auto rebuild = request.arg<RaidRebuildPayload>();
    auto it = model().disks.find(rebuild.raid_port);
    if (it == model().disks.end() || it->second.disk_type != DISK_TYPE_RAID || !has_disk(rebuild.disk_port)) {
        reply_status(request, FAILED);
        return;
    }
    it->second.raid_progress = 0;
    reply_status(request, OK);
}

void on_local_disk_remove(CoreRequest &request)
{
    bool found = model().disks.erase(request.arg<int32_t>()) != 0;
    reply_status(request, found ? OK : FAILED);
}

void on_network_disks_add(CoreRequest &request)
{
    DiskListPayload list = disk_list(request);
    int32_t status = OK;
    for (int i = 0; i < list.count; ++i)
        if (!mount_network_disk(list.ports[i]))
            status = FAILED;
    reply_status(request, status);
}

void on_network_disks_delete(CoreRequest &request)
{
    DiskListPayload list = disk_list(request);
    for (int i = 0; i < list.count; ++i) {
        auto it = model().disks.find(list.ports[i]);
        if (it != model().disks.end() && is_network_disk_type(it->second.disk_type))
            model().disks.erase(it);
        DiskConfigRecord config{};
        if (read_disk(VKDB_MAIN, &config, list.ports[i]) == 0 && is_network_disk_type(config.disk_type))
            vkdb_delete(VKDB_MAIN, k_disk_kind, list.ports[i]);
    }
    reply_status(request, OK);
}

void on_network_disk_edit(CoreRequest &request)
{
    reply_status(request, mount_network_disk(request.arg<int32_t>()) ? OK : FAILED);
}

void on_share_search(CoreRequest &request)
{
    auto search = request.arg<ShareSearchPayload>();
    ShareListRecord shares{};
    if (!field_text(search.server).empty()) {
        const char *paths[] = {"/export/nvr", "/srv/recordings", "/volume1/backup"};
        for (const char *path : paths)
            copy_text(shares.paths[shares.count++], path);
    }
    request.reply_record(8440, shares);
}

void on_recycle_set(CoreRequest &request)
{
    model().recycle = request.arg<RecycleModeRecord>();
    reply_status(request, OK);
}

void on_recycle_get(CoreRequest &request) { request.reply_record(8431, model().recycle); }

void on_quota_get(CoreRequest &request) { request.reply_record(8529, model().quotas); }

void on_quota_set(CoreRequest &request)
{
    auto quotas = request.arg<QuotaPayload>();
    quotas.count = std::clamp(quotas.count, 0, STORAGE_MAX_QUOTAS);
    // The daemon keeps its own figures of what is used.
    for (int i = 0; i < quotas.count; ++i)
        for (int k = 0; k < model().quotas.count; ++k)
            if (model().quotas.entries[k].channel == quotas.entries[i].channel) {
                quotas.entries[i].video_used = model().quotas.entries[k].video_used;
                quotas.entries[i].picture_used = model().quotas.entries[k].picture_used;
            }
    model().quotas = quotas;
    reply_status(request, OK);
}

// The daemon renames a group in the config database.
void on_group_rename(CoreRequest &request)
{
    auto rename = request.arg<GroupRecord>();
    GroupRecord group{};
    if (read_group(VKDB_MAIN, &group, rename.id) != 0)
        return;
    std::memset(group.name, 0, sizeof(group.name));
    copy_text(group.name, field_text(rename.name));
    write_group(VKDB_MAIN, &group);
}

std::string now_text()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

void on_backup_set(CoreRequest &request)
{
    EsataAutoBackupRecord settings{};
    read_esata_auto_backup(VKDB_MAIN, &settings);
    BackupTask &backup = model().backup;
    backup.running = settings.enable != 0 && has_disk(ESATA_PORT);
    backup.percent = 0;
    reply_status(request, backup.running || settings.enable == 0 ? OK : FAILED);
}

void on_backup_progress(CoreRequest &request)
{
    BackupTask &backup = model().backup;
    if (backup.running) {
        backup.percent = std::min(100.0f, backup.percent + 12.5f);
        backup.last_time = now_text();
        if (backup.percent >= 100.0f)
            backup.running = false;
    }
    BackupProgressRecord progress{};
    progress.status = backup.running ? 1 : 0;
    copy_text(progress.last_time, backup.last_time);
    progress.percent = backup.percent;
    if (has_disk(ESATA_PORT))
        progress.capacity = static_cast<int32_t>(model().disks[ESATA_PORT].free_size >> 20);
    request.reply_record(6317, progress);
}

void on_export_disk(CoreRequest &request)
{
    std::string records;
    for (const auto &[port, disk] : model().disks) {
        if (is_network_disk_type(disk.disk_type) || disk.disk_type == DISK_TYPE_RAID)
            continue;
        ExportDiskRecord record{};
        record.port = static_cast<uint8_t>(port);
        record.marker = disk.disk_type == TYPE_ESATA ? EXPORT_DISK_MARKER : 1;
        records.append(reinterpret_cast<const char *>(&record), sizeof(record));
    }
    request.reply(8457, records.data(), records.size());
}

void on_esata_format(CoreRequest &request)
{
    int port = request.arg<int32_t>();
    if (!has_disk(port) || model().disks[port].disk_type != TYPE_ESATA || model().format.running()) {
        reply_status(request, FAILED);
        return;
    }
    model().format = FormatTask{port, 0, TYPE_ESATA};
    reply_status(request, OK);
}

void on_backup_status(CoreRequest &request) { reply_status(request, model().backup.running ? 1 : 0); }

void on_backup_stop(CoreRequest &request)
{
    model().backup.running = false;
    reply_status(request, OK);
}

} // namespace

CORESIM_REQUEST(3433, on_disk_list);
CORESIM_REQUEST(3435, on_disk_settings);
CORESIM_REQUEST(3434, on_format);
CORESIM_REQUEST(3540, on_format_info);
CORESIM_REQUEST(3403, on_smart);
CORESIM_REQUEST(3420, on_raid_create);
CORESIM_REQUEST(3421, on_raid_remove);
CORESIM_REQUEST(3423, on_hot_spare);
CORESIM_REQUEST(3424, on_hot_spare);
CORESIM_REQUEST(3425, on_raid_rebuild);
CORESIM_REQUEST(3496, on_local_disk_remove);
CORESIM_REQUEST(3507, on_network_disks_add);
CORESIM_REQUEST(3508, on_network_disks_delete);
CORESIM_REQUEST(3439, on_network_disk_edit);
CORESIM_REQUEST(3440, on_share_search);
CORESIM_REQUEST(3475, on_recycle_set);
CORESIM_REQUEST(3431, on_recycle_get);
CORESIM_REQUEST(3529, on_quota_get);
CORESIM_REQUEST(3530, on_quota_set);
CORESIM_REQUEST(3436, on_group_rename);
CORESIM_REQUEST(1316, on_backup_set);
CORESIM_REQUEST(1317, on_backup_progress);
CORESIM_REQUEST(3457, on_export_disk);
CORESIM_REQUEST(3535, on_esata_format);
CORESIM_REQUEST(3536, on_backup_status);
CORESIM_REQUEST(3537, on_backup_stop);
// 3442 (group mode) and 1307 (groups changed) are notices the model simply accepts.
