// Exchange with the core daemon (see ipc.h).
//
// The waiter sleeps on a condition variable in 40 ms ticks and wakes as soon as an answer
// builder has set g_callback_done, so an answered request costs the round trip. A send that
// succeeded goes straight to waiting; only failed attempts are spaced 10 ms apart. When the
// waiter gives up it closes the exchange under the same lock the callbacks run under, so an
// answer arriving later writes nothing.
#include "ipc.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "json_answer.h"
#include "nvr_path.h"
#include "vksocket/vksocket.h"
#include "web_utils.h"

std::atomic<int> g_callback_done{0};

namespace {
std::mutex g_answer_lock;          // held while an answer builder runs
std::condition_variable g_answer_cv;
bool g_exchange_open = false;      // false once the waiter gave up or the channel closed

constexpr int k_tick_ms = 40;
constexpr int k_send_attempts = 3000;
constexpr int k_retry_ms = 10;
constexpr int k_default_ticks = 1000;

struct WaitLimit {
    int request_id;
    int ticks;
};
constexpr WaitLimit k_wait_limits[] = {
    {1153, 3000}, {1171, 3000}, {1701, 6000}, {1713, 6000}, {1716, 6000}, {3200, 6000},
    {3201, 6000}, {3202, 6000}, {3203, 6000}, {3204, 6000}, {3205, 6000}, {3223, 3000},
    {3227, 6000}, {3230, 15000}, {3259, 3000}, {3263, 3000}, {3350, 15000}, {3360, 3000},
    {3365, 3000}, {3379, 6000}, {3409, 6000}, {3420, 6000}, {3434, 15000}, {3440, 6000},
    {3494, 15000}, {3495, 15000}, {3528, 6000}, {3535, 3000}, {3700, 1500}, {3702, 1500},
};

int ignore_answers(void *, const uint32_t *, const void *) { return 0; }
} // namespace

int cgi_ipc_wait_ticks(int request_id)
{
    for (const WaitLimit &w : k_wait_limits)
        if (w.request_id == request_id)
            return w.ticks;
    return k_default_ticks;
}

int cgi_start_ipc(cgi_ipc_callback callback, int request_id, int payload_size, const void *payload,
                  int no_wait)
{
    if (callback == nullptr)
        return -1;
    {
        std::lock_guard<std::mutex> hold(g_answer_lock);
        g_exchange_open = true;
    }
    vk_sock_init(callback, 0, 3, VKSOCK_PATH);
    g_callback_done = 0;

    for (int attempt = 0; attempt < k_send_attempts; ++attempt) {
        if (vk_sock_send_msg(1, request_id, payload, payload_size, 0) == 0)
            break;
        nvr_sleep_ms(k_retry_ms);
    }
    if (no_wait == 1) {
        std::lock_guard<std::mutex> hold(g_answer_lock);
        g_exchange_open = false; // a notice has no answer to write
        return 0;
    }

    // Poll in 40 ms ticks; an answer delivered through ipc_dispatch_answer wakes the waiter at once.
    const auto tick = std::chrono::microseconds(k_tick_ms * 1000L / nvr_time_scale());
    const int ticks = cgi_ipc_wait_ticks(request_id);
    std::unique_lock<std::mutex> hold(g_answer_lock);
    for (int t = 0; t < ticks && g_callback_done == 0; ++t)
        g_answer_cv.wait_for(hold, tick, [] { return g_callback_done != 0; });
    if (g_callback_done == 0)
        g_exchange_open = false; // the handler answers with the error; later answers are dropped
    return 0;
}

int cgi_stop_ipc()
{
    {
        std::lock_guard<std::mutex> hold(g_answer_lock);
        g_exchange_open = false;
    }
    vk_sock_uninit();
    return 0;
}

int ipc_dispatch_answer(const IpcAnswer *table, int rows, const uint32_t *header, const void *payload)
{
    if (header == nullptr || payload == nullptr)
        return 0;
    const int response_id = static_cast<int>(header[3]);
    const uint32_t length = header[5];
    for (int i = 0; i < rows; ++i) {
        const IpcAnswer &row = table[i];
        if (row.response_id != response_id)
            continue;
        std::lock_guard<std::mutex> hold(g_answer_lock);
        if (!g_exchange_open || g_callback_done != 0)
            return 0; // the process has its answer already
        const int size = row.record_size > 0 ? row.record_size : 1;
        const int count = static_cast<int>(length / static_cast<uint32_t>(size));
        if (length < static_cast<uint32_t>(size)) {
            // Shorter than one record: the builder reads zeros, never foreign memory.
            std::string padded(static_cast<size_t>(size), '\0');
            std::memcpy(padded.data(), payload, length);
            row.builder(count, padded.data());
        } else {
            row.builder(count, payload);
        }
        g_answer_cv.notify_all();
        return 0;
    }
    return 0;
}

void cgi_send_notice(int request_id, const void *payload, int payload_size)
{
    cgi_start_ipc(ignore_answers, request_id, payload_size, payload, 1);
    cgi_stop_ipc();
}

void cgi_send_log(const LogRecord *record)
{
    cgi_send_notice(REQ_OPERATION_LOG, record, static_cast<int>(sizeof(LogRecord)));
}

int on_cgi_common_json_cb(int count, const void *payload)
{
    if (count < 1 || payload == nullptr)
        return 0;
    int32_t status;
    std::memcpy(&status, payload, sizeof status);
    JsonPtr answer(json_object_new_object());
    json_object_object_add(answer.get(), "status", json_object_new_int(status));
    json_answer(answer.get());
    g_callback_done = 1;
    return 0;
}

int on_cgi_common_text_cb(int, int status, const char *data)
{
    char text[256];
    if (data != nullptr)
        snprintf(text, sizeof text, "%s status:[%d], data:[%s]", status < 0 ? "CGI ERROR" : "CGI OK", status, data);
    else
        snprintf(text, sizeof text, "%s status:[%d]", status < 0 ? "CGI ERROR" : "CGI OK", status);
    cgi_writeback_webserver(CGI_TEXT, text);
    g_callback_done = 1;
    return 0;
}

int on_cgi_get_value_by_json(const char *request, const char *key, int *out)
{
    JsonPtr o = json_parse_object(request);
    if (!o || key == nullptr)
        return -1;
    json_object *member = nullptr;
    if (!json_object_object_get_ex(o.get(), key, &member))
        return -1;
    if (out)
        *out = json_object_get_int(member);
    return 0;
}

int on_cgi_get_int_from_json(json_object *object, const char *key, int *out)
{
    json_object *member = nullptr;
    if (object == nullptr || key == nullptr || !json_object_object_get_ex(object, key, &member))
        return -1;
    if (out)
        *out = json_object_get_int(member);
    return 0;
}

int on_cgi_get_string_from_json(json_object *object, const char *key, char *buffer, int size)
{
    json_object *member = nullptr;
    if (object == nullptr || key == nullptr || buffer == nullptr || size <= 0 ||
        !json_object_object_get_ex(object, key, &member))
        return -1;
    copy_text(buffer, static_cast<size_t>(size), json_object_get_string(member) ? json_object_get_string(member) : "");
    return 0;
}
