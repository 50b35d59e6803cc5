// Storage module helpers shared by its families: the daemon exchange with the module's callback,
// answer writers, the operation log record, and readers of JSON request members.
#include <cstdlib>
#include <cstring>

#include "platform/lib/vkfs_log.h"
#include "storage.h"
#include "web_utils.h"

bool storage_exchange(int request_id, const void *payload, int size, StorageAnswer error_type)
{
    cgi_start_ipc(on_storage_ipc_callback, request_id, size, payload, 0);
    bool answered = g_callback_done != 0;
    if (!answered)
        cgi_error_to_webserver(error_type == StorageAnswer::Json ? CGI_JSON : CGI_TEXT);
    cgi_stop_ipc();
    return answered;
}

void storage_answer_text(const char *text)
{
    cgi_writeback_webserver(CGI_TEXT, text);
    g_callback_done = 1;
}

void storage_answer_json(json_object *object)
{
    json_answer(object);
    g_callback_done = 1;
}

int32_t payload_word(const void *payload, int index)
{
    int32_t word = 0;
    std::memcpy(&word, static_cast<const char *>(payload) + 4 * index, sizeof(word));
    return word;
}

int on_storage_result_text_cb(int count, const void *payload)
{
    storage_answer_text(payload_word(payload) == 0 ? "OK" : "Error");
    return 0;
}

int on_storage_result_json_cb(int count, const void *payload)
{
    JsonPtr answer(json_object_new_object());
    json_put_int(answer.get(), "result", payload_word(payload));
    storage_answer_json(answer.get());
    return 0;
}

void storage_send_log(int64_t sub_type, int parameter, int channel, int detail_code, const void *detail,
                      int detail_size)
{
    LogRecord record;
    cgi_init_log_info(&record);
    record.sub_type = sub_type;
    record.parameter = parameter;
    record.channel = channel;
    if (detail != nullptr)
        vkfs_log_pack_detail(&record, detail_code, detail, detail_size);
    cgi_send_log(&record);
}

long request_decimal(const char *request)
{
    if (request == nullptr)
        return 0;
    return std::strtol(request, nullptr, 10);
}

bool json_member_int(json_object *object, const char *key, int *out)
{
    json_object *member = nullptr;
    if (object == nullptr || !json_object_object_get_ex(object, key, &member))
        return false;
    *out = json_object_get_int(member);
    return true;
}

int json_member_int_or(json_object *object, const char *key, int fallback)
{
    int value = fallback;
    json_member_int(object, key, &value);
    return value;
}

// Missing texts are "" views with a real address: an empty default view has a null data pointer,
// which must never reach memcpy.
constexpr std::string_view k_no_text("");

std::string_view json_member_text(json_object *object, const char *key)
{
    json_object *member = nullptr;
    if (object == nullptr || !json_object_object_get_ex(object, key, &member) || member == nullptr)
        return k_no_text;
    const char *text = json_object_get_string(member);
    return text != nullptr ? std::string_view(text) : k_no_text;
}

json_object *json_member_array(json_object *object, const char *key)
{
    json_object *member = nullptr;
    if (object == nullptr || !json_object_object_get_ex(object, key, &member) ||
        !json_object_is_type(member, json_type_array))
        return nullptr;
    return member;
}

int json_array_count(json_object *array)
{
    return array != nullptr ? static_cast<int>(json_object_array_length(array)) : 0;
}

int json_array_int(json_object *array, int index)
{
    if (index < 0 || index >= json_array_count(array))
        return 0;
    return json_object_get_int(json_object_array_get_idx(array, static_cast<size_t>(index)));
}

std::string_view json_array_text(json_object *array, int index)
{
    if (index < 0 || index >= json_array_count(array))
        return k_no_text;
    json_object *element = json_object_array_get_idx(array, static_cast<size_t>(index));
    if (element == nullptr)
        return k_no_text;
    const char *text = json_object_get_string(element);
    return text != nullptr ? std::string_view(text) : k_no_text;
}

void json_put_int(json_object *object, const char *key, int64_t value)
{
    json_object_object_add(object, key, json_object_new_int64(value));
}

void json_put_text(json_object *object, const char *key, std::string_view text)
{
    json_object_object_add(object, key,
                           text.empty() ? json_object_new_string("")
                                        : json_object_new_string_len(text.data(), static_cast<int>(text.size())));
}
