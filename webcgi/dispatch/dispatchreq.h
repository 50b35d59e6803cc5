// Web resource table: maps request codes ("/6100", "/json", "/vb.htm") to handlers. Each handler
// module registers its request table from a constructor before main() runs (WEBCGI_MODULE below)
// and removes it from a destructor; the intake functions call DispatchWebReq once per process.
#pragma once

typedef int (*WebReqHandler)(const char *request);

struct WebReqEntry {
    char code[8]; // NUL-terminated, at most 7 characters
    WebReqHandler handler;
};

constexpr int MAX_WEBREQ_COUNT = 512;

int WebResRegister(const WebReqEntry *entries, int count);
int WebResUnregister(const WebReqEntry *entries, int count);
void DispatchWebReq(const char *code, const char *request);
// Number of used slots (for tests and diagnostics).
int WebResUsedCount();

// Defines NAME_register()/NAME_unregister() for a module's request table and the constructor
// and destructor that call them. TABLE may be empty (std::array<WebReqEntry, 0>).
#define WEBCGI_MODULE(NAME, TABLE)                                                            \
    int NAME##_register() { return WebResRegister(TABLE.data(), (int)TABLE.size()); }         \
    int NAME##_unregister() { return WebResUnregister(TABLE.data(), (int)TABLE.size()); }     \
    __attribute__((constructor)) static void NAME##_constructor() { NAME##_register(); }      \
    __attribute__((destructor)) static void NAME##_destructor() { NAME##_unregister(); }
