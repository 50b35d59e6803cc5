// Exchange with the core daemon: one binary request over the daemon channel, a wait for the
// answer within the request's wait limit, and the module response callback that writes the HTTP
// answer. The handler pattern:
//
//     cgi_start_ipc(on_storage_ipc_callback, 3433, 0, nullptr, 0);
//     if (g_callback_done == 0) cgi_error_to_webserver(CGI_JSON);
//     cgi_stop_ipc();
//
// A module callback is one ipc_dispatch_answer() over the module's answer table: it ignores null
// payloads and unlisted response ids, hands builders whole records (a payload shorter than one
// record comes zero-padded to one record, count 0), and drops answers that arrive after the
// waiter has given up, so that a process never writes a second answer.
#pragma once
#include <atomic>
#include <cstdint>
#include <json-c/json.h>

extern std::atomic<int> g_callback_done;

// The daemon channel's callback signature: (context, header words, payload).
typedef int (*cgi_ipc_callback)(void *context, const uint32_t *header, const void *payload);

int cgi_start_ipc(cgi_ipc_callback callback, int request_id, int payload_size, const void *payload,
                  int no_wait);
int cgi_stop_ipc();
// Wait limit of a request id in 40 ms ticks.
int cgi_ipc_wait_ticks(int request_id);

// One row of a module's answer table.
typedef int (*cgi_answer_builder)(int count, const void *payload);
struct IpcAnswer {
    int response_id;
    int record_size;
    cgi_answer_builder builder;
};
template <typename T, size_t N>
constexpr int ipc_table_size(const T (&)[N]) { return (int)N; }
int ipc_dispatch_answer(const IpcAnswer *table, int rows, const uint32_t *header, const void *payload);

// Sends a notice or a log record without waiting for an answer (cgi_start_ipc + cgi_stop_ipc).
void cgi_send_notice(int request_id, const void *payload, int payload_size);
// Sends the operation log record (request 3485).
struct LogRecord;
void cgi_send_log(const LogRecord *record);

int on_cgi_common_json_cb(int count, const void *payload);
int on_cgi_common_text_cb(int unused, int status, const char *data);
int on_cgi_get_value_by_json(const char *request, const char *key, int *out);
int on_cgi_get_int_from_json(json_object *object, const char *key, int *out);
int on_cgi_get_string_from_json(json_object *object, const char *key, char *buffer, int size);
