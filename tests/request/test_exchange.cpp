// Request tests of the daemon exchange: webcgi-probe's exchange handlers (tests/support/
// probe_ipc.cpp) against `coresim --replay`. They cover answered and unanswered requests, answers
// that must be ignored (another response id, a null payload, a late answer after the wait gave
// up), no-wait sends, a callback that ends the wait without an answer, a daemon that is not
// running, short and empty payloads handed to builders, the shared answer builders, several
// exchanges in one process, and the wait limit of a request id (counted in poll ticks with a
// large NVR_TIME_SCALE; times are checked with loose bounds only).
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "webcgi_run.h"

namespace {

struct Exchange {
    const char *name;
    std::string body;   // request text for /9100
    std::string replay; // coresim --replay script
    std::string out;    // exact stdout
    size_t sent = 1;    // messages the daemon receives
};

CgiRequest probe(const std::string &code, const std::string &body, const std::string &replay, long scale)
{
    CgiRequest req = CgiRequest::post_json(code, body);
    req.program = "webcgi-probe";
    req.replay = replay;
    req.time_scale = scale;
    return req;
}

// The lines the probe's callback reported on standard error.
std::vector<std::string> deliveries(const CgiResult &r)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while ((pos = r.err.find("probe: ", pos)) != std::string::npos) {
        size_t end = r.err.find('\n', pos);
        lines.push_back(r.err.substr(pos + 7, end - pos - 7));
        pos = end;
    }
    return lines;
}

// "done=D us=N wake=W" of /9101.
struct Timing {
    int done = -1;
    long long us = -1;
    long long wake = -2;
    long long sleeps = -1;
};
Timing timed(const CgiResult &r)
{
    Timing t;
    const std::string prefix = kTextHeader;
    if (r.out.compare(0, prefix.size(), prefix) == 0)
        std::sscanf(r.out.c_str() + prefix.size(), "done=%d us=%lld wake=%lld sleeps=%lld", &t.done, &t.us,
                    &t.wake, &t.sleeps);
    return t;
}

// One sandbox for the suite: the probe handlers leave nothing in it that a later case reads.
class ExchangeTest : public ::testing::Test {
protected:
    static inline Sandbox *shared = nullptr;
    static void SetUpTestSuite() { shared = new Sandbox; }
    static void TearDownTestSuite()
    {
        delete shared;
        shared = nullptr;
    }
    Sandbox &box = *shared;
    CgiResult run(const std::string &body, const std::string &replay, long scale = 1000)
    {
        return run_webcgi(box, probe("/9100", body, replay, scale));
    }
    Timing time(const std::string &body, const std::string &replay, long scale, Daemon daemon = Daemon::Replay)
    {
        CgiRequest req = probe("/9101", body, replay, scale);
        req.daemon = daemon;
        CgiResult r = run_webcgi(box, req);
        Timing t = timed(r);
        EXPECT_GE(t.us, 0) << r.out;
        return t;
    }
};

// Answers that reach the builder: exact answer bytes.
const std::vector<Exchange> kAnswered = {
    {"json status", R"({"id":9100,"answer":"json"})", "9100 14100 2a000000\n", kJsonHeader + "{ \"status\": 42 }"},
    {"json status of several records takes the first", R"({"id":9100,"answer":"json"})",
     "9100 14100 feffffff07000000\n", kJsonHeader + "{ \"status\": -2 }"},
    {"listed wait-limit id answered", R"({"id":3700,"answer":"json"})", "3700 8700 01000000\n",
     kJsonHeader + "{ \"status\": 1 }"},
    {"another response id first, then the right one", R"({"id":9100,"answer":"json"})",
     "9100 14101 09000000\n9100 9100 08000000\n9100 14100 03000000\n", kJsonHeader + "{ \"status\": 3 }"},
    {"whole records counted", R"({"id":9100,"answer":"record","size":4})", "9100 14100 0100000002000000ff\n",
     kTextHeader + "count=2 bytes=0100000002000000"},
    {"payload shorter than a record zero-padded, count 0", R"({"id":9100,"answer":"record","size":8})",
     "9100 14100 0102\n", kTextHeader + "count=0 bytes=0102000000000000"},
    {"empty payload handed as one zero record, count 0", R"({"id":9100,"answer":"record","size":6})",
     "9100 14100 -\n", kTextHeader + "count=0 bytes=000000000000"},
    {"text builder, negative status", R"({"id":9100,"answer":"text"})", "9100 14100 ffffffff\n",
     kTextHeader + "CGI ERROR status:[-1]"},
    {"text builder, status and data", R"({"id":9100,"answer":"text","data":"disk 3"})", "9100 14100 00000000\n",
     kTextHeader + "CGI OK status:[0], data:[disk 3]"},
    {"text builder, text cut to 255 characters", R"({"id":9100,"answer":"text","data":")" + std::string(300, 'x') + "\"}",
     "9100 14100 05000000\n", kTextHeader + "CGI OK status:[5], data:[" + std::string(255 - 25, 'x')},
    {"text builder on an empty payload reads status 0", R"({"id":9100,"answer":"text"})", "9100 14100 -\n",
     kTextHeader + "CGI OK status:[0]"},
    {"g_callback_done 2 ends the wait without an error answer", R"({"id":9100,"answer":"done2"})",
     "9100 14100 00000000\n", ""},
    {"no-wait send answers by itself", R"({"id":9100,"nowait":1})", "9100 none\n", kTextHeader + "OK"},
    {"null callback sends nothing", R"({"id":9100,"nocallback":1})", "9100 14100 00000000\n",
     kTextHeader + "start=-1", 0},
};

TEST_F(ExchangeTest, AnswersReachTheBuilder)
{
    for (const Exchange &c : kAnswered) {
        SCOPED_TRACE(c.name);
        CgiResult r = run(c.body, c.replay, 10);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.daemon.size(), c.sent);
    }
}

// Nothing usable arrives: the full wait, then the JSON error body (milliseconds at this scale).
const std::vector<Exchange> kUnanswered = {
    {"accepted, never answered", R"({"id":9100})", "9100 none\n", kJsonError},
    {"not in the script", R"({"id":9100})", "", kJsonError},
    {"answer for another request id only", R"({"id":9100})", "9100 14101 01000000\n9100 9100 01000000\n", kJsonError},
    {"null payload ignored", R"({"id":9100,"null":1})", "9100 14100 01000000\n", kJsonError},
    {"json status with count 0 writes nothing", R"({"id":9100,"answer":"json"})", "9100 14100 0100\n", kJsonError},
    {"json status with empty payload writes nothing", R"({"id":9100,"answer":"json"})", "9100 14100 -\n", kJsonError},
};

TEST_F(ExchangeTest, UnansweredRequestsGetTheErrorBody)
{
    for (const Exchange &c : kUnanswered) {
        SCOPED_TRACE(c.name);
        CgiResult r = run(c.body, c.replay);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.daemon_ids(), std::vector<int>{9100});
    }
}

TEST_F(ExchangeTest, RequestPayloadReachesTheDaemonAsSent)
{
    CgiResult r = run(R"({"id":3433,"payload":"0102030405060708ff"})", "3433 8433 00000000\n");
    EXPECT_EQ(r.out, kJsonHeader + "{ \"status\": 0 }");
    ASSERT_EQ(r.daemon_ids(), std::vector<int>{3433});
    EXPECT_EQ(to_hex(r.daemon[0].payload), "0102030405060708ff");

    CgiResult empty = run(R"({"id":3433})", "3433 8433 00000000\n");
    ASSERT_EQ(empty.daemon.size(), 1u);
    EXPECT_EQ(empty.daemon[0].payload, "");
}

TEST_F(ExchangeTest, EmptyPayloadIsDeliveredWithAPointerAndLengthZero)
{
    CgiResult r = run(R"({"id":9100,"answer":"record","size":4})", "9100 14100 -\n", 10);
    EXPECT_EQ(r.out, kTextHeader + "count=0 bytes=00000000");
    EXPECT_EQ(deliveries(r), std::vector<std::string>{"delivered id=14100 length=0 pointer=yes"});
}

TEST_F(ExchangeTest, LateAnswerAfterTheTimeoutWritesNothingMore)
{
    // 9100 is never answered; after the wait gave up, 9200 provokes an answer with 9100's
    // response id on the still open channel.
    CgiResult r = run(R"({"id":9100,"answer":"json","late":9200})", "9100 none\n9200 14100 05000000\n");
    EXPECT_EQ(r.out, kJsonError);
    EXPECT_EQ(r.daemon_ids(), (std::vector<int>{9100, 9200}));
    EXPECT_NE(r.err.find("probe: late delivered=1"), std::string::npos) << r.err;
}

TEST_F(ExchangeTest, SeveralExchangesInOneProcess)
{
    // An answered exchange, one that times out, and one answered after it: each has its own
    // start and stop, and the timed-out one does not keep later answers out.
    CgiResult r = run(R"([{"id":9100,"answer":"json"},{"id":9110},{"id":9120,"answer":"record","size":4}])",
                      "9100 14100 01000000\n9120 14120 02000000\n");
    EXPECT_EQ(r.out, kJsonHeader + "{ \"status\": 1 }" + kJsonError + kTextHeader + "count=1 bytes=02000000");
    EXPECT_EQ(r.daemon_ids(), (std::vector<int>{9100, 9110, 9120}));
}

TEST_F(ExchangeTest, DaemonNotRunning)
{
    // Every send attempt fails; the handler still waits its limit and answers the error.
    CgiRequest req = probe("/9100", R"({"id":9100,"answer":"json"})", "", 1000);
    req.daemon = Daemon::None;
    CgiResult r = run_webcgi(box, req);
    EXPECT_EQ(r.out, kJsonError);
    EXPECT_EQ(r.status, 0);

    req.body = R"({"id":9100,"nowait":1})";
    r = run_webcgi(box, req);
    EXPECT_EQ(r.out, kTextHeader + "OK");
}

TEST_F(ExchangeTest, AnsweredWaitEndsAtOnce)
{
    // At the real time scale a waiter that only looked every 40 ms would return a uniform 0-40 ms
    // after the answer, a median of about 20 ms over 15 exchanges; one woken by the builder
    // returns within scheduling latency.
    Timing t = time(R"({"id":9101,"repeat":15})", "9101 14101 00000000\n", 1);
    EXPECT_EQ(t.done, 2);
    EXPECT_GE(t.wake, 0);
    EXPECT_LT(t.wake, 8000);
}

TEST_F(ExchangeTest, NoWaitReturnsWithoutWaitingForAnAnswer)
{
    // The daemon never answers; waiting would take 4 s at this scale.
    Timing t = time(R"({"id":9101,"nowait":1})", "9101 none\n", 10);
    EXPECT_EQ(t.done, 0);
    EXPECT_LT(t.us, 1000000);
}

TEST_F(ExchangeTest, WaitLimitOfTheRequestId)
{
    // A waiter that receives nothing sleeps once per poll tick, so the number of times the
    // probe's thread slept in cgi_start_ipc counts the ticks however busy the machine is; the
    // time spent is at least the scaled limit (a tick is 20 us at this scale).
    struct Limit {
        int request_id;
        int ticks;
    };
    const Limit limits[] = {{9101, 1000}, {3700, 1500}, {1153, 3000}, {1701, 6000}, {3434, 15000}};
    const long scale = 2000;
    for (const Limit &l : limits) {
        SCOPED_TRACE(l.request_id);
        Timing t = time("{\"id\":" + std::to_string(l.request_id) + "}", "", scale);
        EXPECT_EQ(t.done, 0);
        EXPECT_EQ(t.wake, -1);
        EXPECT_GE(t.sleeps, l.ticks - l.ticks / 100);
        EXPECT_LE(t.sleeps, l.ticks + l.ticks / 20 + 20);
        EXPECT_GE(t.us, l.ticks * 40000LL / scale);
    }
}

} // namespace
