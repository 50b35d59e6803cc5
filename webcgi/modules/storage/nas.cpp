// Storage module, network-disk family: adding, editing, deleting NFS and SMB/CIFS shares and
// searching a server for them. The config database keeps one disk record per share (credentials
// stored decoded); the daemon is told the ports and mounts them.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/lib/url_coding.h"
#include "storage.h"
#include "storage_records.h"
#include "web_utils.h"

namespace {

constexpr int LOG_SUB_NAS_ADD = 219;
constexpr int LOG_SUB_NAS_DELETE = 220;
constexpr int LOG_SUB_NAS_EDIT = 221;
constexpr int LOG_DETAIL_NAS = 101;
constexpr int LOG_DETAIL_NAS_EDIT = 110;

// Number of list entries a request selects: "num", but never more than the "port" array holds,
// never negative, at most one disk-list payload.
int selected_count(json_object *body, json_object *ports)
{
    int num = json_member_int_or(body, "num", 0);
    return std::clamp(std::min(num, json_array_count(ports)), 0, STORAGE_MAX_LIST_PORTS);
}

// Credentials arrive URL-encoded and are stored decoded, 32 characters at most.
void copy_decoded(char (&field)[33], std::string_view encoded)
{
    std::string text(encoded);
    get_url_decode(text.c_str(), field, sizeof(field));
}

struct NetDiskTexts {
    std::string_view vendor, address, directory, user_name, password;
};

DiskConfigRecord net_disk_record(int port, int type, const NetDiskTexts &texts)
{
    DiskConfigRecord disk{};
    disk.port = port;
    disk.enable = 1;
    disk.disk_type = type;
    disk.property = 1;
    copy_text(disk.vendor, texts.vendor);
    copy_text(disk.address, texts.address);
    copy_text(disk.directory, texts.directory);
    copy_decoded(disk.user_name, texts.user_name);
    copy_decoded(disk.password, texts.password);
    return disk;
}

void send_nas_log(int64_t sub_type, int code, const char *protocol, const DiskConfigRecord &disk)
{
    NetDiskLogDetail detail{};
    copy_text(detail.protocol, protocol);
    copy_text(detail.address, field_text(disk.address));
    copy_text(detail.directory, field_text(disk.directory));
    storage_send_log(sub_type, 0, disk.port, code, &detail, sizeof(detail));
}

} // namespace

// /6200: delete network disks.
int on_set_nas_delete(const char *request)
{
    JsonPtr body = json_parse_object(request);
    if (!body)
        return 0;
    json_object *ports = json_member_array(body.get(), "port");
    DiskListPayload list{};
    list.count = selected_count(body.get(), ports);
    DiskConfigRecord disks[STORAGE_MAX_LIST_PORTS] = {};
    for (int i = 0; i < list.count; ++i) {
        list.ports[i] = json_array_int(ports, i);
        read_disk(VKDB_MAIN, &disks[i], list.ports[i]);
    }
    if (!storage_exchange(3508, list, StorageAnswer::Text))
        return 0;
    for (int i = 0; i < list.count; ++i)
        if (disks[i].port != 0)
            send_nas_log(LOG_SUB_NAS_DELETE, LOG_DETAIL_NAS, disks[i].disk_type == DISK_TYPE_NFS ? "NFS" : "SMB/CIFS",
                         disks[i]);
    return 0;
}

// /6201: add network disks.
int on_set_nas_add(const char *request)
{
    JsonPtr body = json_parse_object(request);
    if (!body)
        return 0;
    json_object *object = body.get();
    int type = json_member_int_or(object, "type", DISK_TYPE_NFS);
    json_object *ports = json_member_array(object, "port");
    json_object *vendors = json_member_array(object, "vendor");
    json_object *addresses = json_member_array(object, "address");
    json_object *directories = json_member_array(object, "directory");
    json_object *user_names = json_member_array(object, "userName");
    json_object *passwords = json_member_array(object, "password");
    DiskListPayload list{};
    list.count = selected_count(object, ports);
    DiskConfigRecord disks[STORAGE_MAX_LIST_PORTS] = {};
    for (int i = 0; i < list.count; ++i) {
        list.ports[i] = json_array_int(ports, i);
        disks[i] = net_disk_record(list.ports[i], type,
                                   {json_array_text(vendors, i), json_array_text(addresses, i),
                                    json_array_text(directories, i), json_array_text(user_names, i),
                                    json_array_text(passwords, i)});
        write_disk(VKDB_MAIN, &disks[i]);
    }
    if (!storage_exchange(3507, list, StorageAnswer::Text))
        return 0;
    for (int i = 0; i < list.count; ++i)
        send_nas_log(LOG_SUB_NAS_ADD, LOG_DETAIL_NAS, type == DISK_TYPE_NFS ? "NFS" : "SMB/CIFS", disks[i]);
    return 0;
}

// Answer of an add or edit: {"status": 0, "res": daemon status}.
int on_set_nas_info_cb(int count, const void *payload)
{
    JsonPtr answer(json_object_new_object());
    json_put_int(answer.get(), "status", 0);
    json_put_int(answer.get(), "res", payload_word(payload));
    storage_answer_json(answer.get());
    return 0;
}

// /6202: search a server for shares.
int on_get_nas_search(const char *request)
{
    JsonPtr body = json_parse_object(request);
    if (!body)
        return 0;
    ShareSearchPayload search{};
    search.port = json_member_int_or(body.get(), "port", 0);
    copy_text(search.server, json_member_text(body.get(), "serverAddr"));
    storage_exchange(3440, search, StorageAnswer::Json);
    return 0;
}

int on_get_nas_search_cb(int count, const void *payload)
{
    const char *bytes = static_cast<const char *>(payload);
    int32_t found = payload_word(payload);
    int shares = std::clamp(found, 0, STORAGE_MAX_SHARES);
    json_object *list = json_object_new_array();
    for (int i = 0; i < shares; ++i) {
        const char *path = bytes + offsetof(ShareListRecord, paths) + static_cast<size_t>(i) * 256;
        json_object *share = json_object_new_object();
        json_put_text(share, "filePath", field_text(path, 256));
        json_object_array_add(list, share);
    }
    JsonPtr answer(json_object_new_object());
    json_put_text(answer.get(), "resultString", found > 0 ? "OK" : "NO");
    json_object_object_add(answer.get(), "NAS", list);
    storage_answer_json(answer.get());
    return 0;
}

// /6203: edit one network disk.
int on_set_nas_edit(const char *request)
{
    JsonPtr body = json_parse_object(request);
    if (!body)
        return 0;
    json_object *object = body.get();
    int type = json_member_int_or(object, "type", DISK_TYPE_NFS);
    DiskConfigRecord disk = net_disk_record(
        json_member_int_or(object, "port", 0), type,
        {json_member_text(object, "vendor"), json_member_text(object, "address"),
         json_member_text(object, "directory"), json_member_text(object, "userName"),
         json_member_text(object, "password")});
    write_disk(VKDB_MAIN, &disk);
    if (!storage_exchange(3439, static_cast<int32_t>(disk.port), StorageAnswer::Text))
        return 0;
    const char *protocol = type == DISK_TYPE_NFS ? "NFS" : type == DISK_TYPE_SMB ? "SMB/CIFS" : "";
    send_nas_log(LOG_SUB_NAS_EDIT, LOG_DETAIL_NAS_EDIT, protocol, disk);
    return 0;
}
