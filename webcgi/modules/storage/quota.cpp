// Storage module, settings family: the recycle (overwrite) mode, the per-channel storage quotas
// and the disk groups (group mode and group names). Quotas live in the daemon; groups live in the
// config database, where the daemon renames them on request 3436.
#include <algorithm>
#include <array>
#include <cstring>

#include "storage.h"
#include "storage_records.h"
#include "web_utils.h"

// /6204: set the recycle mode.
int on_set_recycle_mode(const char *request)
{
    JsonPtr body = json_parse_object(request);
    if (!body)
        return 0;
    RecycleModeRecord mode{json_member_int_or(body.get(), "mode", 0), json_member_int_or(body.get(), "esata", 0)};
    storage_exchange(3475, mode, StorageAnswer::Json);
    return 0;
}

// "OK" only when the daemon took the mode: answering OK whatever its status would report a
// failure as success.
int on_set_recycle_mode_cb(int count, const void *payload)
{
    JsonPtr answer(json_object_new_object());
    json_put_text(answer.get(), "status", payload_word(payload) == 0 ? "OK" : "ERROR");
    storage_answer_json(answer.get());
    return 0;
}

// /6205: read the recycle mode.
int on_get_recycle_mode(const char *request)
{
    storage_exchange(3431, int32_t{0}, StorageAnswer::Json);
    return 0;
}

int on_get_recycle_mode_cb(int count, const void *payload)
{
    RecycleModeRecord mode;
    std::memcpy(&mode, payload, sizeof(mode));
    JsonPtr answer(json_object_new_object());
    json_put_int(answer.get(), "mode", mode.mode);
    json_put_int(answer.get(), "esata", mode.esata);
    storage_answer_json(answer.get());
    return 0;
}

// /6208: read the quotas, with the groups and disks the page shows beside them.
int on_get_quota_info(const char *request)
{
    storage_exchange(3529, nullptr, 0, StorageAnswer::Json);
    return 0;
}

int on_get_quota_info_cb(int count, const void *payload)
{
    // The builder gets at least one whole record; the payload may be longer than the records
    // counted. Entries are read only as far as the payload really goes.
    int size = std::max(storage_answer_size(), count * static_cast<int>(sizeof(QuotaEntry)));
    size = std::max(size, static_cast<int>(sizeof(QuotaEntry)));
    const char *bytes = static_cast<const char *>(payload);
    int held = std::max(0, (size - static_cast<int>(offsetof(QuotaPayload, entries))) /
                               static_cast<int>(sizeof(QuotaEntry)));
    int entries = std::clamp(static_cast<int>(payload_word(payload, 1)), 0, std::min(held, STORAGE_MAX_QUOTAS));

    json_object *quotas = json_object_new_array();
    for (int i = 0; i < entries; ++i) {
        QuotaEntry entry;
        std::memcpy(&entry, bytes + offsetof(QuotaPayload, entries) + static_cast<size_t>(i) * sizeof(entry),
                    sizeof(entry));
        json_object *quota = json_object_new_object();
        json_put_int(quota, "channel", entry.channel);
        json_put_int(quota, "video_used", entry.video_used);
        json_put_int(quota, "video_quota", entry.video_quota);
        json_put_int(quota, "picture_used", entry.picture_used);
        json_put_int(quota, "picture_quota", entry.picture_quota);
        json_object_array_add(quotas, quota);
    }

    std::array<DiskConfigRecord, STORAGE_MAX_DISKS> disks{};
    int disk_count = 0;
    read_disks(VKDB_MAIN, disks.data(), &disk_count);
    std::array<GroupRecord, STORAGE_MAX_GROUPS> groups{};
    int group_count = 0;
    read_groups(VKDB_MAIN, groups.data(), &group_count);

    json_object *group_names = json_object_new_array();
    for (const GroupRecord &group : groups)
        json_object_array_add(group_names, json_object_new_string(std::string(field_text(group.name)).c_str()));
    json_object *disk_groups = json_object_new_array();
    for (const DiskConfigRecord &disk : disks)
        json_object_array_add(disk_groups, json_object_new_int(disk.enable == 0 ? 0 : disk.group + 1));

    JsonPtr answer(json_object_new_object());
    json_put_int(answer.get(), "enable", payload_word(payload, 0));
    json_object_object_add(answer.get(), "quota_array", quotas);
    json_object_object_add(answer.get(), "channel", group_names);
    json_object_object_add(answer.get(), "disk", disk_groups);
    json_put_int(answer.get(), "max_chan", get_param_int(VKDB_MAIN, "max_cameras", 32));
    json_put_int(answer.get(), "group_enable", get_param_int(VKDB_MAIN, "group_mode", 0));
    storage_answer_json(answer.get());
    return 0;
}

namespace {

// /6209 input: "enable" present; the entries of "quota_array" (at most 64).
bool check_quota_info(json_object *request, QuotaPayload *quotas)
{
    if (!json_member_int(request, "enable", &quotas->enable))
        return false;
    json_object *array = json_member_array(request, "quota_array");
    quotas->count = std::min(json_array_count(array), STORAGE_MAX_QUOTAS);
    for (int i = 0; i < quotas->count; ++i) {
        json_object *element = json_object_array_get_idx(array, static_cast<size_t>(i));
        QuotaEntry &entry = quotas->entries[i];
        entry.channel = static_cast<uint8_t>(json_member_int_or(element, "channel", 0));
        entry.video_quota = json_member_int_or(element, "video_quota", 0);
        entry.picture_quota = json_member_int_or(element, "picture_quota", 0);
    }
    return true;
}

} // namespace

// /6209: set the quotas.
int on_set_quota_info(const char *request)
{
    JsonPtr body = json_parse_object(request);
    QuotaPayload quotas{};
    if (!body || !check_quota_info(body.get(), &quotas))
        return 0;
    storage_exchange(3530, quotas, StorageAnswer::Text);
    return 0;
}

// /6210: group mode and group names.
int on_set_group_info(const char *request)
{
    JsonPtr body = json_parse_object(request);
    if (!body)
        return 0;
    int32_t mode = json_member_int_or(body.get(), "group_enable", 0);
    if (mode == 0) {
        set_param_int(VKDB_MAIN, "group_mode", 0);
        storage_notice(3442, mode);
        cgi_writeback_webserver(CGI_TEXT, "OK");
        return 0;
    }
    if (get_param_int(VKDB_MAIN, "group_mode", 0) == 0) {
        set_param_int(VKDB_MAIN, "group_mode", mode);
        storage_notice(3442, mode);
    }
    std::array<GroupRecord, STORAGE_MAX_GROUPS> groups{};
    int group_count = 0;
    read_groups(VKDB_MAIN, groups.data(), &group_count);
    // One rename per given name (at most 16), in the order the groups were read. Names beyond the
    // stored groups are not sent: an empty place would carry group id 0 and rename that group.
    json_object *names = json_member_array(body.get(), "channel");
    int renames = std::min({json_array_count(names), STORAGE_MAX_GROUPS, std::max(group_count, 0)});
    for (int i = 0; i < renames; ++i) {
        GroupRecord rename{};
        rename.id = groups[i].id;
        copy_text(rename.name, json_array_text(names, i));
        std::memcpy(rename.second, groups[i].second, sizeof(rename.second));
        storage_notice(3436, rename);
    }
    cgi_send_notice(1307, nullptr, 0);
    cgi_writeback_webserver(CGI_TEXT, "OK");
    return 0;
}
