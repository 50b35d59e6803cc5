// Storage module, RAID family: creating and removing arrays, hot spares, rebuilds, and the RAID
// mode parameter. The daemon builds the arrays; its answers are one status word each, answered
// "OK" or "Error" by the module's shared builder.
#include <cstdio>

#include "storage.h"
#include "storage_records.h"
#include "web_utils.h"

namespace {

constexpr int RAID_ID_FIRST = 10;
constexpr int RAID_ID_LAST = 15;
constexpr int RAID_REMOVE_ID_LAST = 16;

// /6104 input: "id" 10-15, "enable", and "sata_port", "sata_cnt", "level" of 0 or more.
bool check_raid_info(json_object *request, RaidPayload *raid)
{
    int sata_port = 0;
    if (!json_member_int(request, "id", &raid->id) || raid->id < RAID_ID_FIRST || raid->id > RAID_ID_LAST)
        return false;
    if (!json_member_int(request, "enable", &raid->enable))
        return false;
    if (!json_member_int(request, "sata_port", &sata_port) || sata_port < 0)
        return false;
    if (!json_member_int(request, "sata_cnt", &raid->member_count) || raid->member_count < 0)
        return false;
    if (!json_member_int(request, "level", &raid->level) || raid->level < 0)
        return false;
    // Members from the "sata_port" mask: bit n adds member n, lowest first.
    int members = 0;
    for (int bit = 0; bit < STORAGE_MAX_RAID_MEMBERS; ++bit)
        if (sata_port & (1 << bit))
            raid->members[members++] = bit;
    return true;
}

} // namespace

// /6104: create an array.
int on_set_raid_create(const char *request)
{
    JsonPtr body = json_parse_object(request);
    RaidPayload raid{};
    if (!body || !check_raid_info(body.get(), &raid))
        return 0;
    storage_exchange(3420, raid, StorageAnswer::Text);
    return 0;
}

// /6105: remove an array; the request text is the bare RAID id.
int on_set_raid_delete(const char *request)
{
    JsonPtr parsed = json_parse_request(request);
    long id = request_decimal(request);
    if (!parsed || id < RAID_ID_FIRST || id > RAID_REMOVE_ID_LAST)
        return 0;
    RaidPayload raid{};
    raid.id = static_cast<int32_t>(id);
    storage_exchange(3421, raid, StorageAnswer::Text);
    return 0;
}

// /6106: set ("hotflag" non-zero) or clear a hot spare.
int on_set_raid_hot_spare(const char *request)
{
    JsonPtr body = json_parse_object(request);
    if (!body)
        return 0;
    int32_t port = json_member_int_or(body.get(), "port", 0);
    int request_id = json_member_int_or(body.get(), "hotflag", 0) != 0 ? 3423 : 3424;
    storage_exchange(request_id, port, StorageAnswer::Text);
    return 0;
}

// /6107: rebuild an array onto a disk.
int on_set_raid_rebuild(const char *request)
{
    JsonPtr body = json_parse_object(request);
    if (!body)
        return 0;
    RaidRebuildPayload rebuild{json_member_int_or(body.get(), "diskport", 0),
                               json_member_int_or(body.get(), "raidport", 0)};
    storage_exchange(3425, rebuild, StorageAnswer::Text);
    return 0;
}

// /6108: the RAID mode.
int on_get_raid_mode(const char *request)
{
    char text[16];
    snprintf(text, sizeof(text), "%d", get_param_int(VKDB_MAIN, "raidmode", 0));
    cgi_writeback_webserver(CGI_TEXT, text);
    return 0;
}

// /6109: store the RAID mode; anything but 0 or 1 stores 0.
int on_set_raid_mode(const char *request)
{
    long mode = request_decimal(request);
    set_param_int(VKDB_MAIN, "raidmode", mode == 1 ? 1 : 0);
    cgi_writeback_webserver(CGI_TEXT, "OK");
    return 0;
}
