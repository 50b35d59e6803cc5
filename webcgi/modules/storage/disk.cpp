// Storage module, disk family: the disk list (the daemon's disks merged with the network disks
// of the config database), a disk's group and property, formatting and its progress, SMART
// self-evaluation and the removal of any kind of disk.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <string>

#include "platform/lib/url_coding.h"
#include "storage.h"
#include "storage_records.h"
#include "web_utils.h"

namespace {

// Set by the format answer builder when the daemon reports success; read by the format handler
// for its log entry.
std::atomic<int> g_format_done{0};

constexpr int LOG_SUB_DISK_SETTINGS = 204;
constexpr int LOG_SUB_DISK_FORMAT = 207;
constexpr int LOG_SUB_DISK_REMOVE = 224;
constexpr int LOG_PARAM_DISK = 900;
constexpr int LOG_PARAM_DISK_SETTINGS = 919;
constexpr int LOG_DETAIL_FORMAT = 102;
constexpr int STATE_CONFIGURED = 2;  // state of a configured disk the daemon did not report

// Network-disk texts of a config record into a disk-list slot (each text cut as the list answers
// it: 63 characters, credentials 32).
void copy_config_texts(DaemonDiskRecord &slot, const DiskConfigRecord &config)
{
    copy_text(slot.vendor, field_text(config.vendor));
    copy_text(slot.address, field_text(config.address));
    std::memset(slot.directory, 0, sizeof(slot.directory));
    copy_text(slot.directory, 64, field_text(config.directory));
    copy_text(slot.user_name, field_text(config.user_name));
    copy_text(slot.password, field_text(config.password));
}

// Merges the configured network disks into the daemon's slots.
void merge_config_disks(std::array<DaemonDiskRecord, STORAGE_MAX_DISKS> &slots)
{
    std::array<DiskConfigRecord, STORAGE_MAX_DISKS> configs{};
    int count = 0;
    read_disks(VKDB_MAIN, configs.data(), &count);
    count = std::clamp(count, 0, STORAGE_MAX_DISKS);
    for (int i = 0; i < count; ++i) {
        const DiskConfigRecord &config = configs[i];
        if (config.enable != 1 || config.port < 1 || config.port > STORAGE_MAX_DISKS)
            continue;
        DaemonDiskRecord &slot = slots[config.port - 1];
        if (slot.port == 0) {
            slot = DaemonDiskRecord{};
            slot.port = config.port;
            slot.disk_type = config.disk_type;
            slot.property = config.property;
            slot.group = config.group;
            slot.state = STATE_CONFIGURED;
            copy_config_texts(slot, config);
        } else if (is_network_disk_type(slot.disk_type)) {
            copy_config_texts(slot, config);
        }
    }
}

// Bit n for each RAID member port n; the daemon's count is not trusted beyond the 16 member words
// and only ports 1-31 have a bit.
int32_t raid_member_mask(const DaemonDiskRecord &slot)
{
    int members = std::clamp(slot.raid_member_count, 0, STORAGE_MAX_RAID_MEMBERS);
    uint32_t mask = 0;
    for (int i = 0; i < members; ++i) {
        int port = slot.raid_members[i];
        if (port >= 1 && port <= 31)
            mask |= 1u << port;
    }
    return static_cast<int32_t>(mask);
}

std::string url_encoded(std::string_view text)
{
    char encoded[128];
    std::string plain(text);
    get_url_encode(plain.c_str(), encoded, sizeof(encoded));
    return encoded;
}

int32_t mebibytes(uint64_t bytes) { return static_cast<int32_t>(bytes >> 20); }

json_object *disk_object(const DaemonDiskRecord &slot)
{
    json_object *disk = json_object_new_object();
    json_put_int(disk, "portId", slot.port);
    json_put_text(disk, "vendorName", field_text(slot.vendor));
    json_put_text(disk, "address", field_text(slot.address));
    json_put_text(disk, "directory", field_text(slot.directory, 64));
    json_put_int(disk, "totalSize", mebibytes(slot.total_size));
    json_put_int(disk, "usedSize", mebibytes(slot.used_size));
    json_put_int(disk, "freeSize", mebibytes(slot.free_size));
    json_put_int(disk, "hddType", slot.disk_type);
    json_put_int(disk, "state", slot.state);
    json_put_int(disk, "group", slot.group);
    json_put_int(disk, "property", slot.property);
    json_put_int(disk, "bUsable", slot.usable);
    json_put_int(disk, "raid_id", slot.port);
    json_put_int(disk, "raid_level", slot.raid_level);
    json_put_int(disk, "raid_state", slot.raid_state);
    json_put_int(disk, "raid_progress", slot.raid_progress);
    json_put_int(disk, "raid_sata_cnt", slot.raid_member_count);
    json_put_int(disk, "raid_task", slot.raid_progress);
    json_put_text(disk, "userName", url_encoded(field_text(slot.user_name)));
    json_put_text(disk, "password", url_encoded(field_text(slot.password)));
    json_put_int(disk, "raid_sata_port", raid_member_mask(slot));
    return disk;
}

// /6101 input: "portId" 0-35 and "property" 0 or 1.
bool check_disk_info(json_object *request, int *port, int *property)
{
    return json_member_int(request, "portId", port) && *port >= 0 && *port <= 35 &&
           json_member_int(request, "property", property) && (*property == 0 || *property == 1);
}

} // namespace

// /6100: the disk list.
int on_get_disk_info(const char *request)
{
    storage_exchange(3433, nullptr, 0, StorageAnswer::Json);
    return 0;
}

int on_get_storage_info_cb(int count, const void *payload)
{
    std::array<DaemonDiskRecord, STORAGE_MAX_DISKS> slots{};
    const char *records = static_cast<const char *>(payload);
    for (int i = 0; i < count; ++i) {
        DaemonDiskRecord record;
        std::memcpy(&record, records + static_cast<size_t>(i) * sizeof(record), sizeof(record));
        if (record.port >= 1 && record.port <= STORAGE_MAX_DISKS)
            slots[record.port - 1] = record;
    }
    merge_config_disks(slots);

    json_object *disks = json_object_new_array();
    for (const DaemonDiskRecord &slot : slots)
        if (slot.port != 0)
            json_object_array_add(disks, disk_object(slot));
    bool nothing = count == 0 && json_object_array_length(disks) == 0;

    JsonPtr answer(json_object_new_object());
    json_put_text(answer.get(), "resultString", nothing ? "NO" : "OK");
    json_put_int(answer.get(), "esataType", get_param_int(VKDB_MAIN, "esata_type", 0));
    json_object_object_add(answer.get(), "HDD", disks);
    json_put_int(answer.get(), "maxDiskNum", STORAGE_MAX_DISKS);
    storage_answer_json(answer.get());
    return 0;
}

// /6101: a disk's property and group.
int on_set_disk_info(const char *request)
{
    JsonPtr body = json_parse_object(request);
    int port = 0;
    int property = 0;
    if (!body || !check_disk_info(body.get(), &port, &property))
        return 0;
    DiskConfigRecord disk{};
    read_disk(VKDB_MAIN, &disk, port);
    disk.port = port;  // a port without a record yet gets its own row
    disk.property = property;
    json_member_int(body.get(), "group", &disk.group);
    write_disk(VKDB_MAIN, &disk);
    storage_notice(3435, DiskSettingsPayload{port, property, disk.group, 0});
    storage_send_log(LOG_SUB_DISK_SETTINGS, LOG_PARAM_DISK_SETTINGS, port);
    cgi_writeback_webserver(CGI_TEXT, "OK");
    return 0;
}

// /6102: format the disk on the port in the request text.
int on_set_disk_format(const char *request)
{
    long port = request_decimal(request);
    if (port < 0 || port > STORAGE_MAX_DISKS)
        return 0;
    g_format_done = 0;
    storage_exchange(3434, static_cast<int32_t>(port), StorageAnswer::Json);
    FormatLogDetail detail{};
    detail.port = static_cast<int32_t>(port);
    detail.result = g_format_done ? 1 : -1;
    storage_send_log(LOG_SUB_DISK_FORMAT, LOG_PARAM_DISK, static_cast<int>(port), LOG_DETAIL_FORMAT, &detail,
                     sizeof(detail));
    return 0;
}

int on_set_disk_format_cb(int count, const void *payload)
{
    switch (payload_word(payload)) {
    case 0:
        g_format_done = 1;
        cgi_writeback_webserver(CGI_TEXT, "OK");
        break;
    case 1:
        cgi_writeback_webserver(CGI_TEXT, "USING");
        break;
    case -1:
        cgi_writeback_webserver(CGI_TEXT, "ERROR FORMAT");
        break;
    case -3:
        cgi_writeback_webserver(CGI_TEXT, "NAS LOW CAP");
        break;
    default:
        break;  // an unknown status answers nothing
    }
    g_callback_done = 1;
    return 0;
}

// /6103: format progress of a port 0-16 (the page polls the disk list for the figures).
int on_get_format_progress(const char *request)
{
    long port = request_decimal(request);
    if (port >= 0 && port <= 16)
        cgi_writeback_webserver(CGI_TEXT, "OK");
    return 0;
}

// /6206: SMART self-evaluation of the last port listed within "num".
int on_get_smart_info(const char *request)
{
    JsonPtr body = json_parse_object(request);
    if (!body)
        return 0;
    json_object *ports = json_member_array(body.get(), "port");
    int taken = std::min(json_member_int_or(body.get(), "num", 0), json_array_count(ports));
    int32_t port = taken > 0 ? json_array_int(ports, taken - 1) : 0;
    storage_exchange(3403, port, StorageAnswer::Json);
    return 0;
}

// "PASSED" is looked for only inside the evaluation field, which may fill its 28 bytes without
// a NUL: a search running on past it would read the next record or beyond the payload.
int on_get_smart_info_cb(int count, const void *payload)
{
    SmartResultRecord result;
    std::memcpy(&result, payload, sizeof(result));
    bool passed = field_text(result.evaluation).find("PASSED") != std::string_view::npos;
    JsonPtr answer(json_object_new_object());
    json_put_int(answer.get(), "selfEvaluation", passed ? 1 : 0);
    storage_answer_json(answer.get());
    return 0;
}

// /6207: remove a RAID array, a network disk or a local disk.
int on_set_disk_remove(const char *request)
{
    JsonPtr body = json_parse_object(request);
    if (!body)
        return 0;
    int port = json_member_int_or(body.get(), "port", 0);
    int type = json_member_int_or(body.get(), "hddType", 0);
    if (type == DISK_TYPE_RAID) {
        RaidPayload raid{};
        raid.id = port;
        storage_exchange(3421, raid, StorageAnswer::Text);
    } else if (is_network_disk_type(type)) {
        DiskListPayload list{};
        list.count = 1;
        list.ports[0] = port;
        storage_exchange(3508, list, StorageAnswer::Text);
        return 0;
    } else {
        storage_exchange(3496, static_cast<int32_t>(port), StorageAnswer::Text);
        DiskConfigRecord fresh{};
        fresh.port = port;
        fresh.property = 1;
        write_disk(VKDB_MAIN, &fresh);
    }
    storage_send_log(LOG_SUB_DISK_REMOVE, LOG_PARAM_DISK, port);
    return 0;
}
