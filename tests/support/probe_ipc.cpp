// Test-only handlers for webcgi-probe that run daemon exchanges, so that the exchange itself
// (wait limits, wake-up, late answers, short payloads, the shared answer builders) can be checked
// against `coresim --replay` without depending on any real handler.
//
//   /9100  one exchange, or a JSON array of exchanges run one after another. Members:
//          "id"       request id (default 9100)
//          "payload"  request payload as hex (default none)
//          "nowait"   1: send without waiting, close, answer the text "OK"
//          "response" response id listed in the answer table (default id + 5000)
//          "size"     record size of that row (default 4)
//          "answer"   builder: "json" (on_cgi_common_json_cb), "text" (on_cgi_common_text_cb
//                     with the first word as status and "data" as data), "done2" (sets
//                     g_callback_done to 2 and writes nothing), "record" (writes the count and
//                     the bytes the builder was handed)
//          "null"     1: the callback hands the dispatcher a null payload
//          "nocallback" 1: cgi_start_ipc with a null callback; answers "start=<result>"
//          "late"     request id sent on the still open channel after the wait gave up, so that
//                     its answer (scripted with this exchange's response id) arrives late
//          The JSON error body follows when g_callback_done is still 0 after the wait.
//   /9101  {"id", "nowait", "repeat"}: `repeat` exchanges (default 1) whose answers set
//          g_callback_done to 2; answers the text "done=<g_callback_done after the last one>
//          us=<least microseconds spent in cgi_start_ipc> wake=<median microseconds from the
//          answer to the waiter's return, -1 when nothing was answered> sleeps=<least number of
//          times the thread slept in cgi_start_ipc>".
//   /9102  config database only: {"max_cameras": get_param_int("max_cameras", 32)}.
//
// Every message the callback receives is reported on standard error as
// "probe: delivered id=<response id> length=<header length> pointer=<yes|null>".
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "dispatchreq.h"
#include "ipc.h"
#include "json_answer.h"
#include "vkdb/vkdb.h"
#include "vksocket/vksocket.h"
#include "web_utils.h"

namespace {

std::string encode_hex(const unsigned char *bytes, size_t size);

IpcAnswer g_probe_answers[1];
bool g_hand_null = false;
std::atomic<int> g_delivered{0};
std::string g_text_data;
bool g_have_text_data = false;

int on_probe_ipc_callback(void *, const uint32_t *header, const void *payload)
{
    if (header != nullptr)
        std::fprintf(stderr, "probe: delivered id=%u length=%u pointer=%s\n", header[3], header[5],
                     payload ? "yes" : "null");
    int r = ipc_dispatch_answer(g_probe_answers, ipc_table_size(g_probe_answers), header,
                                g_hand_null ? nullptr : payload);
    g_delivered++;
    return r;
}

int on_probe_done2_cb(int, const void *)
{
    g_callback_done = 2;
    return 0;
}

// Sets g_callback_done to 2 and notes when, for the wake-up time of the waiter.
using Clock = std::chrono::steady_clock;
std::atomic<Clock::time_point> g_answered_at{};
long long microseconds(Clock::duration d) { return std::chrono::duration_cast<std::chrono::microseconds>(d).count(); }

int on_probe_stamp_cb(int, const void *)
{
    g_answered_at = Clock::now();
    g_callback_done = 2;
    return 0;
}

int on_probe_record_cb(int count, const void *payload)
{
    const int size = g_probe_answers[0].record_size;
    const int records = count > 0 ? count : 1;
    std::string out = "count=" + std::to_string(count) + " bytes=" +
                      encode_hex(static_cast<const unsigned char *>(payload), static_cast<size_t>(records * size));
    cgi_writeback_webserver(CGI_TEXT, out.c_str());
    g_callback_done = 1;
    return 0;
}

int on_probe_text_cb(int count, const void *payload)
{
    int32_t status = 0;
    std::memcpy(&status, payload, sizeof status); // at least one zero-padded record
    (void)count;
    return on_cgi_common_text_cb(0, status, g_have_text_data ? g_text_data.c_str() : nullptr);
}

cgi_answer_builder builder_named(const std::string &name)
{
    if (name == "done2")
        return on_probe_done2_cb;
    if (name == "record")
        return on_probe_record_cb;
    if (name == "text")
        return on_probe_text_cb;
    return on_cgi_common_json_cb;
}

int member_int(json_object *o, const char *key, int fallback)
{
    int v = fallback;
    on_cgi_get_int_from_json(o, key, &v);
    return v;
}

std::string member_text(json_object *o, const char *key)
{
    char buffer[4096] = "";
    on_cgi_get_string_from_json(o, key, buffer, sizeof buffer);
    return buffer;
}

std::string encode_hex(const unsigned char *bytes, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 15]);
    }
    return out;
}

std::string decode_hex(const std::string &hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16)));
    return out;
}

void run_exchange(json_object *spec)
{
    const int id = member_int(spec, "id", 9100);
    const std::string payload = decode_hex(member_text(spec, "payload"));
    g_probe_answers[0] = {member_int(spec, "response", id + VKSOCK_RESPONSE_OFFSET), member_int(spec, "size", 4),
                          builder_named(member_text(spec, "answer"))};
    g_hand_null = member_int(spec, "null", 0) == 1;
    json_object *data = nullptr;
    g_have_text_data = json_object_object_get_ex(spec, "data", &data);
    g_text_data = g_have_text_data ? member_text(spec, "data") : "";

    if (member_int(spec, "nocallback", 0) == 1) {
        const int result = cgi_start_ipc(nullptr, id, 0, nullptr, 0);
        cgi_stop_ipc();
        cgi_writeback_webserver(CGI_TEXT, ("start=" + std::to_string(result)).c_str());
        return;
    }
    if (member_int(spec, "nowait", 0) == 1) {
        cgi_start_ipc(on_probe_ipc_callback, id, static_cast<int>(payload.size()),
                      payload.empty() ? nullptr : payload.data(), 1);
        cgi_stop_ipc();
        cgi_writeback_webserver(CGI_TEXT, "OK");
        return;
    }
    cgi_start_ipc(on_probe_ipc_callback, id, static_cast<int>(payload.size()),
                  payload.empty() ? nullptr : payload.data(), 0);
    if (g_callback_done == 0)
        cgi_error_to_webserver(CGI_JSON);
    const int late = member_int(spec, "late", 0);
    if (late != 0) {
        // Provoke an answer after the wait has given up and wait (bounded) until it was delivered.
        const int before = g_delivered;
        vk_sock_send_msg(1, late, nullptr, 0, 0);
        for (int i = 0; i < 2000 && g_delivered == before; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::fprintf(stderr, "probe: late delivered=%d\n", g_delivered - before);
    }
    cgi_stop_ipc();
}

int on_probe_exchange(const char *request)
{
    JsonPtr parsed = json_parse_request(request);
    if (!parsed)
        return 0;
    if (json_object_is_type(parsed.get(), json_type_array)) {
        for (size_t i = 0; i < json_object_array_length(parsed.get()); ++i)
            run_exchange(json_object_array_get_idx(parsed.get(), i));
    } else if (json_object_is_type(parsed.get(), json_type_object)) {
        run_exchange(parsed.get());
    }
    return 0;
}

// Times this thread went to sleep: one per poll tick of a waiter that receives nothing, however
// long the machine keeps it from running again.
long long voluntary_switches()
{
    FILE *f = std::fopen("/proc/thread-self/status", "r");
    if (f == nullptr)
        return -1;
    char line[256];
    long long n = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "voluntary_ctxt_switches: %lld", &n) == 1)
            break;
    std::fclose(f);
    return n;
}

int on_probe_exchange_timing(const char *request)
{
    JsonPtr o = json_parse_object(request);
    if (!o)
        return 0;
    const int id = member_int(o.get(), "id", 9101);
    const int repeat = std::clamp(member_int(o.get(), "repeat", 1), 1, 100);
    g_probe_answers[0] = {id + VKSOCK_RESPONSE_OFFSET, 4, on_probe_stamp_cb};
    g_hand_null = false;
    std::vector<long long> spent, wake, sleeps;
    int done = 0;
    for (int i = 0; i < repeat; ++i) {
        g_answered_at = Clock::time_point{};
        const long long slept_before = voluntary_switches();
        const auto start = Clock::now();
        cgi_start_ipc(on_probe_ipc_callback, id, 0, nullptr, member_int(o.get(), "nowait", 0));
        const auto end = Clock::now();
        sleeps.push_back(voluntary_switches() - slept_before);
        done = g_callback_done;
        cgi_stop_ipc();
        spent.push_back(microseconds(end - start));
        if (g_answered_at.load() != Clock::time_point{})
            wake.push_back(microseconds(end - g_answered_at.load()));
    }
    std::sort(spent.begin(), spent.end());
    std::sort(wake.begin(), wake.end());
    std::sort(sleeps.begin(), sleeps.end());
    const std::string out = "done=" + std::to_string(done) + " us=" + std::to_string(spent.front()) +
                            " wake=" + std::to_string(wake.empty() ? -1 : wake[wake.size() / 2]) +
                            " sleeps=" + std::to_string(sleeps.front());
    return cgi_writeback_webserver(CGI_TEXT, out.c_str());
}

int on_probe_database(const char *)
{
    JsonPtr answer(json_object_new_object());
    json_object_object_add(answer.get(), "max_cameras", json_object_new_int(get_param_int(VKDB_MAIN, "max_cameras", 32)));
    return json_answer(answer.get());
}

constexpr std::array<WebReqEntry, 3> k_probe_ipc_requests{{
    {"/9100", on_probe_exchange},
    {"/9101", on_probe_exchange_timing},
    {"/9102", on_probe_database},
}};

} // namespace

WEBCGI_MODULE(probe_ipc, k_probe_ipc_requests)
