// Web resource table: registration limits (the refusal at 512 and its log line), unregistration
// and the reuse of the lowest free slots, and dispatch (exact code match, first slot wins, the
// handler called once with the request text as given).
//
// The refusal is logged to nvr_path("/mnt/nand/cgi_log.txt"), so NVR_ROOT names a scratch root
// before anything asks for the sandbox root (it is read once).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <ctime>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "dispatchreq.h"
#include "nvr_path.h"

namespace {

char g_root[64]; // a plain array: it must outlive every static object's destructor

int remove_entry(const char *path, const struct stat *, int, struct FTW *) { return std::remove(path); }

__attribute__((constructor(101))) void make_scratch_root()
{
    snprintf(g_root, sizeof g_root, "/tmp/nvr-unit-webres-XXXXXX");
    if (mkdtemp(g_root) == nullptr)
        std::abort();
    for (const char *d : {"/mnt", "/mnt/nand"})
        mkdir((std::string(g_root) + d).c_str(), 0777);
    setenv("NVR_ROOT", g_root, 1);
}

__attribute__((destructor(101))) void remove_scratch_root()
{
    if (g_root[0])
        nftw(g_root, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

struct Call {
    int handler;
    const char *request;
};
std::vector<Call> g_calls;

template <int N> int handler(const char *request)
{
    g_calls.push_back({N, request});
    return 0;
}

WebReqEntry entry(const std::string &code, WebReqHandler h = handler<0>)
{
    WebReqEntry e{};
    snprintf(e.code, sizeof e.code, "%s", code.c_str());
    e.handler = h;
    return e;
}

// `count` entries with codes PREFIX000, PREFIX001 ... (prefix of at most 3 characters).
std::vector<WebReqEntry> table(const std::string &prefix, int count, WebReqHandler h = handler<0>)
{
    std::vector<WebReqEntry> t;
    for (int i = 0; i < count; ++i) {
        char code[16];
        snprintf(code, sizeof code, "%s%03d", prefix.c_str(), i);
        t.push_back(entry(code, h));
    }
    return t;
}

std::string log_text()
{
    std::ifstream in(nvr_path("/mnt/nand/cgi_log.txt"), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Each test leaves the table as it found it.
class WebRes : public ::testing::Test {
protected:
    void SetUp() override
    {
        base = WebResUsedCount();
        g_calls.clear();
        std::remove(nvr_path("/mnt/nand/cgi_log.txt").c_str());
    }
    void TearDown() override
    {
        for (auto &t : registered)
            WebResUnregister(t.data(), static_cast<int>(t.size()));
        EXPECT_EQ(WebResUsedCount(), base);
    }
    int add(const std::vector<WebReqEntry> &t)
    {
        registered.push_back(t);
        return WebResRegister(t.data(), static_cast<int>(t.size()));
    }
    int base = 0;
    std::vector<std::vector<WebReqEntry>> registered;
};

TEST_F(WebRes, RefusesNullOrEmptyTables)
{
    WebReqEntry one = entry("/a");
    EXPECT_EQ(WebResRegister(nullptr, 1), -1);
    EXPECT_EQ(WebResRegister(&one, 0), -1);
    EXPECT_EQ(WebResRegister(&one, -3), -1);
    EXPECT_EQ(WebResUnregister(nullptr, 1), -1);
    EXPECT_EQ(WebResUnregister(&one, 0), -1);
    EXPECT_EQ(WebResUnregister(&one, -1), -1);
    EXPECT_EQ(WebResUsedCount(), base);
    EXPECT_EQ(log_text(), "") << "only an overflow is logged";
}

TEST_F(WebRes, FiveHundredElevenFitAndTheNextIsRefusedWithALogLine)
{
    ASSERT_LT(base, 500);
    ASSERT_EQ(add(table("/a", 511 - base, handler<1>)), 0);
    EXPECT_EQ(WebResUsedCount(), 511);
    const std::string last = table("/a", 511 - base).back().code;
    DispatchWebReq(last.c_str(), "x");
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].handler, 1);

    std::time_t before = std::time(nullptr);
    EXPECT_EQ(add({entry("/z", handler<2>)}), -1);
    std::time_t after = std::time(nullptr);
    EXPECT_EQ(WebResUsedCount(), 511);
    DispatchWebReq("/z", "x");
    EXPECT_EQ(g_calls.size(), 1u) << "a refused entry dispatches";

    const std::string log = log_text();
    const std::string prefix = "[toman debug] ";
    const std::string rest = "  dispatchreq.c:62 in : [ulvar debug] WEBREQ exceeded maximum value(MAX_WEBREQ_COUNT)\n";
    ASSERT_EQ(log.size(), prefix.size() + 19 + rest.size()) << log;
    EXPECT_EQ(log.substr(0, prefix.size()), prefix);
    EXPECT_EQ(log.substr(prefix.size() + 19), rest);
    const std::string when = log.substr(prefix.size(), 19);
    // The time is the local time of the refusal.
    bool time_ok = false;
    for (std::time_t t = before; t <= after; ++t) {
        std::tm tm;
        localtime_r(&t, &tm);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
        time_ok = time_ok || when == text;
    }
    EXPECT_TRUE(time_ok) << when;

    // A second refusal appends a second line.
    EXPECT_EQ(add({entry("/y")}), -1);
    const std::string twice = log_text();
    EXPECT_EQ(twice.compare(0, log.size(), log), 0);
    EXPECT_EQ(std::count(twice.begin(), twice.end(), '\n'), 2);
}

TEST_F(WebRes, ATableReachingExactly512IsRefusedAsAWhole)
{
    ASSERT_EQ(add(table("/a", 100)), 0);
    const int used = WebResUsedCount();
    const auto big = table("/b", 512 - used, handler<3>);
    EXPECT_EQ(add(big), -1);
    EXPECT_EQ(WebResUsedCount(), used) << "no entry of a refused table is registered";
    DispatchWebReq(big.front().code, "x");
    DispatchWebReq(big.back().code, "x");
    EXPECT_TRUE(g_calls.empty());
    EXPECT_NE(log_text().find("WEBREQ exceeded maximum value(MAX_WEBREQ_COUNT)\n"), std::string::npos);

    // One fewer fits, and fills the table to 511.
    const auto fits = table("/c", 511 - used, handler<4>);
    EXPECT_EQ(add(fits), 0);
    EXPECT_EQ(WebResUsedCount(), 511);
    DispatchWebReq(fits.back().code, "x");
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].handler, 4);
}

TEST_F(WebRes, DispatchMatchesTheWholeCodeExactly)
{
    ASSERT_EQ(add({entry("/6100", handler<1>), entry("/json", handler<2>), entry("/vb.htm", handler<3>),
                   entry("/123456", handler<4>)}),
              0);
    const char *request = "{\"portId\":3}";
    DispatchWebReq("/6100", request);
    ASSERT_EQ(g_calls.size(), 1u) << "the handler runs exactly once";
    EXPECT_EQ(g_calls[0].handler, 1);
    EXPECT_EQ(g_calls[0].request, request) << "the request text is handed on as it is";
    EXPECT_STREQ(g_calls[0].request, "{\"portId\":3}");

    g_calls.clear();
    for (const char *code : {"/6100x", "/6100/", "6100", "/610", "/61000", "", "/JSON", "/Json", "/vb.ht",
                             "/vb.htmx", "/1234567", "/12345"})
        DispatchWebReq(code, "x");
    DispatchWebReq(nullptr, "x");
    EXPECT_TRUE(g_calls.empty()) << g_calls.size() << " handler(s) ran for codes that are not registered";

    DispatchWebReq("/json", "");
    DispatchWebReq("/vb.htm", nullptr);
    DispatchWebReq("/123456", "y");
    ASSERT_EQ(g_calls.size(), 3u);
    EXPECT_EQ(g_calls[0].handler, 2);
    EXPECT_EQ(g_calls[1].handler, 3);
    EXPECT_EQ(g_calls[1].request, nullptr);
    EXPECT_EQ(g_calls[2].handler, 4);
}

TEST_F(WebRes, UnregisterFreesSlotsAndTheLowestAreReusedFirst)
{
    // Slots in registration order: A takes the first three free slots, B the next three.
    const std::vector<WebReqEntry> a = {entry("/a1"), entry("/a2"), entry("/a3")};
    const std::vector<WebReqEntry> b = {entry("/b1"), entry("/dup", handler<2>), entry("/b3")};
    ASSERT_EQ(add(a), 0);
    ASSERT_EQ(add(b), 0);
    EXPECT_EQ(WebResUsedCount(), base + 6);

    ASSERT_EQ(WebResUnregister(a.data(), static_cast<int>(a.size())), 0);
    EXPECT_EQ(WebResUsedCount(), base + 3);
    DispatchWebReq("/a2", "x");
    EXPECT_TRUE(g_calls.empty()) << "an unregistered code still dispatches";
    DispatchWebReq("/dup", "x");
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].handler, 2);

    // C lands in A's old slots, below B's "/dup": the lowest slot with the code wins.
    const std::vector<WebReqEntry> c = {entry("/dup", handler<3>), entry("/c2"), entry("/c3"), entry("/c4")};
    ASSERT_EQ(add(c), 0);
    EXPECT_EQ(WebResUsedCount(), base + 7);
    g_calls.clear();
    DispatchWebReq("/dup", "x");
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].handler, 3) << "the new entry did not take the lowest free slot";
    DispatchWebReq("/c4", "x"); // the fourth went past B into the next free slot
    EXPECT_EQ(g_calls.size(), 2u);

    // Unregistering by code frees every slot with that code, whoever registered it.
    const std::vector<WebReqEntry> dup = {entry("/dup"), entry("/never")};
    EXPECT_EQ(WebResUnregister(dup.data(), static_cast<int>(dup.size())), 0);
    EXPECT_EQ(WebResUsedCount(), base + 5);
    g_calls.clear();
    DispatchWebReq("/dup", "x");
    EXPECT_TRUE(g_calls.empty());
    // Codes that are not registered change nothing.
    EXPECT_EQ(WebResUnregister(dup.data(), 1), 0);
    EXPECT_EQ(WebResUsedCount(), base + 5);
}

TEST_F(WebRes, FreedSlotsCountAgainstTheLimitNoMore)
{
    const auto first = table("/a", 400);
    ASSERT_EQ(add(first), 0);
    EXPECT_EQ(add(table("/b", 200)), -1);
    ASSERT_EQ(WebResUnregister(first.data(), 200), 0); // half of the first table
    EXPECT_EQ(WebResUsedCount(), base + 200);
    EXPECT_EQ(add(table("/b", 200)), 0);
    EXPECT_EQ(WebResUsedCount(), base + 400);
    EXPECT_EQ(add(table("/c", 511 - base - 400)), 0);
    EXPECT_EQ(WebResUsedCount(), 511);
    EXPECT_EQ(add({entry("/d")}), -1);
}

TEST_F(WebRes, HugeCountIsRefusedWithoutOverflow)
{
    ASSERT_EQ(add({entry("/one")}), 0);
    const auto many = table("/m", 600);
    EXPECT_EQ(WebResRegister(many.data(), INT_MAX), -1);
    EXPECT_EQ(WebResUsedCount(), base + 1) << "a count past the table's size was accepted";
    registered.push_back(many);
}

} // namespace
