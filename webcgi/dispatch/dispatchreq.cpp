// Web resource table: 512 slots filled by the module constructors before main() (see
// dispatchreq.h). A linear scan per request is enough: each process serves one request.
#include "dispatchreq.h"

#include <cstring>

#include "web_utils.h"

namespace {
struct WebResTable {
    WebReqEntry slots[MAX_WEBREQ_COUNT];
    unsigned char used[MAX_WEBREQ_COUNT];
    int count;
};
WebResTable g_webres; // static storage: zero before any constructor runs

bool same_code(const char *a, const char *b) { return std::strncmp(a, b, sizeof(WebReqEntry::code)) == 0; }
} // namespace

int WebResRegister(const WebReqEntry *entries, int count)
{
    if (entries == nullptr || count <= 0)
        return -1;
    if (count >= MAX_WEBREQ_COUNT - g_webres.count) { // used + count >= 512, without overflow
        cgi_log("dispatchreq.c", 62, "", "[ulvar debug] WEBREQ exceeded maximum value(MAX_WEBREQ_COUNT)");
        return -1;
    }
    int next = 0;
    for (int slot = 0; slot < MAX_WEBREQ_COUNT && next < count; ++slot) {
        if (g_webres.used[slot])
            continue;
        WebReqEntry &e = g_webres.slots[slot];
        std::memcpy(e.code, entries[next].code, sizeof e.code);
        e.code[sizeof e.code - 1] = '\0';
        e.handler = entries[next].handler;
        g_webres.used[slot] = 1;
        ++g_webres.count;
        ++next;
    }
    return 0;
}

int WebResUnregister(const WebReqEntry *entries, int count)
{
    if (entries == nullptr || count <= 0)
        return -1;
    for (int slot = 0; slot < MAX_WEBREQ_COUNT; ++slot) {
        if (!g_webres.used[slot])
            continue;
        for (int i = 0; i < count; ++i) {
            if (same_code(g_webres.slots[slot].code, entries[i].code)) {
                std::memset(&g_webres.slots[slot], 0, sizeof(WebReqEntry));
                g_webres.used[slot] = 0;
                --g_webres.count;
                break;
            }
        }
    }
    return 0;
}

void DispatchWebReq(const char *code, const char *request)
{
    if (code == nullptr)
        return;
    for (int slot = 0; slot < MAX_WEBREQ_COUNT; ++slot) {
        const WebReqEntry &e = g_webres.slots[slot];
        if (g_webres.used[slot] && std::strcmp(e.code, code) == 0) {
            if (e.handler)
                e.handler(request);
            return;
        }
    }
}

int WebResUsedCount() { return g_webres.count; }
