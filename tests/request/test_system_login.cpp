// Request tests of the login family: sign-in ("/1000") with its full answer, its refusals, the
// device facts and the log record; the session identifier; the mail-link sign-in ("/1018") with
// its cookies and redirects; the sign-off entry ("/1014").
#include <ctime>
#include <filesystem>
#include <json-c/json.h>
#include <set>

#include "test_system_users_fixture.h"

namespace {

CgiRequest login(const std::string &name, const std::string &md5)
{
    return CgiRequest::post_json("/1000", "{\"userName\":\"" + name + "\",\"md5\":\"" + md5 + "\"}");
}

// The answer with its session identifier replaced by "SID"; the identifier itself in *sid.
std::string without_session_id(const std::string &out, std::string *sid)
{
    const std::string key = "\"sessionId\": \"";
    size_t start = out.find(key);
    if (start == std::string::npos)
        return out;
    start += key.size();
    size_t end = out.find('"', start);
    if (end == std::string::npos)
        return out;
    *sid = out.substr(start, end - start);
    return out.substr(0, start) + "SID" + out.substr(end);
}

// `text` is `length` characters, each one of `alphabet`.
bool made_of(const std::string &text, size_t length, const char *alphabet)
{
    return text.size() == length && text.find_first_not_of(alphabet) == std::string::npos;
}
constexpr const char *kDigits = "0123456789";

const std::string kBobAnswer =
    "{ \"type\": 1, \"userName\": \"bob\", \"permission\": 5, \"localLiveView\": 1, \"localPlayback\": 0, "
    "\"localRetrieve\": 1, \"localSmartAnalysis\": 1, \"localEvent\": 0, \"localCamera\": 1, "
    "\"localStorage\": 0, \"localSettings\": 1, \"localStatus\": 1, \"localShutdown\": 0, "
    "\"localliveview\": \"1010\", \"localplayback\": \"0110\", \"remotePermisson\": -1, "
    "\"remoteLiveView\": 0, \"remotePlayback\": 1, \"remoteRetrieve\": 1, \"remoteSmartAnalysis\": 0, "
    "\"remoteEvent\": 1, \"remoteCamera\": 0, \"remoteStorage\": 0, \"remoteSettings\": 1, "
    "\"remoteStatus\": 0, \"remoteShutdown\": 1, \"remoteliveview\": \"1\", \"remoteplayback\": \"\", "
    "\"sessionId\": \"SID\", \"failoverMode\": 0, \"sameChannel\": 0, \"hardwareVersion\": \"V1.1\", "
    "\"softwareVersion\": \"7x.7.0.9\", \"model\": \"\" }";

const std::vector<std::string> kDeviceFactKeys = {"failover_mode", "same_channel_exist", "hardware_version",
                                                  "software_version", "model"};

class SystemLogin : public ::testing::Test {
protected:
    UsersBox users;
    void SetUp() override
    {
        users.drop_params(kDeviceFactKeys);
        users.put(make_bob());
    }
};

TEST_F(SystemLogin, AnswersEveryKeyInOrderAndLogsTheLogin)
{
    CgiRequest req = login("bob", kDigestA);
    req.cookie = "userName=someoneelse; lang=en";
    CgiResult r = run_webcgi(users.box, req);
    std::string sid;
    EXPECT_EQ(without_session_id(r.out, &sid), kTextHeader + kBobAnswer);
    EXPECT_TRUE(made_of(sid, 32, kDigits)) << sid;

    // The record names the user of the request, not the one of the cookie.
    ASSERT_EQ(r.daemon_ids(), std::vector<int>{3485});
    EXPECT_EQ(to_hex(r.daemon[0].payload), hex_of(expected_log(201, 900, "bob")));
}

TEST_F(SystemLogin, AnswersKeysWithTheirJsonTypes)
{
    CgiResult r = run_webcgi(users.box, login("bob", kDigestA));
    ASSERT_EQ(r.out.rfind(kTextHeader, 0), 0u);
    json_object *answer = json_tokener_parse(r.out.c_str() + kTextHeader.size());
    ASSERT_NE(answer, nullptr);
    const std::set<std::string> strings = {"userName", "localliveview", "localplayback", "remoteliveview",
                                           "remoteplayback", "sessionId", "hardwareVersion",
                                           "softwareVersion", "model"};
    int keys = 0;
    json_object_object_foreach(answer, key, value)
    {
        ++keys;
        EXPECT_EQ(json_object_get_type(value), strings.count(key) ? json_type_string : json_type_int) << key;
    }
    EXPECT_EQ(keys, 34);
    json_object_put(answer);
}

TEST_F(SystemLogin, AcceptsTheDigestInAnyLetterCase)
{
    std::string upper = kDigestA;
    for (char &c : upper)
        c = (char)std::toupper((unsigned char)c);
    CgiResult r = run_webcgi(users.box, login("bob", upper));
    std::string sid;
    EXPECT_EQ(without_session_id(r.out, &sid), kTextHeader + kBobAnswer);
}

TEST_F(SystemLogin, SeededAdministratorSignsIn)
{
    CgiResult r = run_webcgi(users.box, login("admin", kAdminDigest));
    EXPECT_NE(r.out.find("{ \"type\": 0, \"userName\": \"admin\", \"permission\": -1, \"localLiveView\": 1, "),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"remoteplayback\": \"" + kAllChannels + "\""), std::string::npos);
}

struct Refusal {
    const char *what;
    std::string body;
    int type;
};

TEST_F(SystemLogin, RefusesWithTheTypeAloneAndLogsNothing)
{
    UserRecord viewer = make_user(4, "viewer", kDigestA, 3);
    users.put(viewer);
    UserRecord deleted{};
    deleted.id = 5; // a deleted slot: all zero
    users.put(deleted);
    UserRecord no_password = make_user(6, "nopass", "", 0);
    users.put(no_password);

    const Refusal cases[] = {
        {"wrong digest", "{\"userName\":\"bob\",\"md5\":\"" + kAdminDigest + "\"}", -1},
        {"unknown user", "{\"userName\":\"carol\",\"md5\":\"" + kDigestA + "\"}", -1},
        {"name differs in case", "{\"userName\":\"Bob\",\"md5\":\"" + kDigestA + "\"}", -1},
        {"no digest", "{\"userName\":\"bob\"}", -1},
        {"no name", "{\"md5\":\"" + kDigestA + "\"}", -1},
        {"type 3, right digest", "{\"userName\":\"viewer\",\"md5\":\"" + kDigestA + "\"}", -2},
        {"type 3, wrong digest", "{\"userName\":\"viewer\",\"md5\":\"" + kAdminDigest + "\"}", -2},
        {"empty name and digest over a deleted slot", "{\"userName\":\"\",\"md5\":\"\"}", -1},
        {"empty digest of an account without password", "{\"userName\":\"nopass\",\"md5\":\"\"}", -1},
        {"not an object", "[1,2]", -1},
    };
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.what);
        CgiResult r = run_webcgi(users.box, CgiRequest::post_json("/1000", c.body));
        EXPECT_EQ(r.out, kTextHeader + "{ \"type\": " + std::to_string(c.type) + " }");
        EXPECT_TRUE(r.daemon.empty());
    }
}

TEST_F(SystemLogin, WritesNothingWithoutAJsonBody)
{
    std::filesystem::remove_all(users.box.path("/mnt/nand/ssl"));
    for (const char *body : {"", "userName=bob", "{\"userName\":"}) {
        SCOPED_TRACE(body);
        CgiResult r = run_webcgi(users.box, CgiRequest::post_json("/1000", body));
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.daemon.empty());
    }
    EXPECT_FALSE(users.box.exists("/mnt/nand/ssl"));
}

TEST_F(SystemLogin, MakesTheCertificateDirectories)
{
    std::filesystem::remove_all(users.box.path("/mnt/nand/ssl"));
    run_webcgi(users.box, login("nobody", kDigestA)); // refused, but the directories come first
    EXPECT_TRUE(users.box.exists("/mnt/nand/ssl"));
    EXPECT_TRUE(users.box.exists("/mnt/nand/ssl/tmp"));
}

TEST_F(SystemLogin, AnswersTheStoredDeviceFacts)
{
    users.set_int("failover_mode", 2);
    users.set_text("hardware_version", "H2.0");
    users.set_text("software_version", "S7.1.2");
    users.set_text("model", "NVR-3216");
    const int same_channel[][2] = {{0, 0}, {1, 0}, {2, 1}, {3, 0}};
    for (const auto &[stored, answered] : same_channel) {
        SCOPED_TRACE(stored);
        users.set_int("same_channel_exist", stored);
        CgiResult r = run_webcgi(users.box, login("bob", kDigestA));
        std::string tail = "\"failoverMode\": 2, \"sameChannel\": " + std::to_string(answered) +
                           ", \"hardwareVersion\": \"H2.0\", \"softwareVersion\": \"S7.1.2\", "
                           "\"model\": \"NVR-3216\" }";
        ASSERT_GE(r.out.size(), tail.size());
        EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    }
}

TEST_F(SystemLogin, GivesEveryLoginANewSessionIdentifier)
{
    std::set<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        std::string sid;
        without_session_id(run_webcgi(users.box, login("bob", kDigestA)).out, &sid);
        EXPECT_TRUE(made_of(sid, 32, kDigits)) << sid;
        seen.insert(sid);
    }
    EXPECT_EQ(seen.size(), 3u);
}

TEST_F(SystemLogin, DeletedAccountCannotSignIn)
{
    UserRecord cleared{};
    cleared.id = 3;
    users.put(cleared);
    CgiResult r = run_webcgi(users.box, login("bob", kDigestA));
    EXPECT_EQ(r.out, kTextHeader + "{ \"type\": -1 }");
}

TEST(SystemSignOff, LogsTheCookieUserAndAnswersOk)
{
    Sandbox box;
    CgiRequest req = CgiRequest::get("/1014");
    req.cookie = "sid=1; userName=alice; lang=en";
    CgiResult r = run_webcgi(box, req);
    EXPECT_EQ(r.out, kTextHeader + "OK");
    ASSERT_EQ(r.daemon_ids(), std::vector<int>{3485});
    EXPECT_EQ(to_hex(r.daemon[0].payload), hex_of(expected_log(202, 900, "alice")));
}

// --- sign-in from an alarm e-mail link -------------------------------------------------------

// The five cookie lines for `domain` expiring at `expires`.
std::string mail_cookies(const std::string &domain, time_t expires)
{
    static const char *days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm gmt;
    gmtime_r(&expires, &gmt);
    char when[64];
    std::snprintf(when, sizeof when, "%s, %02d-%s-%04d %02d:%02d:%02d GMT", days[gmt.tm_wday], gmt.tm_mday,
                  months[gmt.tm_mon], gmt.tm_year + 1900, gmt.tm_hour, gmt.tm_min, gmt.tm_sec);
    std::string out;
    const char *cookies[][2] = {{"userName", "temp"}, {"userType", "2"}, {"permission", "0"},
                                {"sessionId", "0"},   {"language", "en-US"}};
    for (const auto &c : cookies)
        out += std::string("Set-Cookie: ") + c[0] + "=" + c[1] + "; domain=" + domain + "; expires=" + when +
               "; path=/\r\n";
    return out;
}

// True when `out` is the accepted answer for `domain`, issued between the two times.
::testing::AssertionResult accepted_answer(const std::string &out, const std::string &domain, time_t before,
                                           time_t after)
{
    for (time_t t = before; t <= after; ++t)
        if (out == mail_cookies(domain, t + 600) + "Location: ../../html/index.html\r\n\r\n")
            return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "answer: " << out;
}

const std::string kHomeRedirect = "Location: ../../html/home.html\r\n\r\n";

TEST(SystemMailLogin, AcceptedLinkSetsTheCookiesForTheHostWithoutItsPort)
{
    Sandbox box;
    const char *hosts[][2] = {{"192.168.1.10:8080", "192.168.1.10"}, {"nvr.example.com", "nvr.example.com"}};
    for (const auto &[host, domain] : hosts) {
        SCOPED_TRACE(host);
        CgiRequest req = CgiRequest::get("/1018", "token=abc&ch=3");
        req.host = host;
        req.replay = "3504 8504 00000000\n";
        time_t before = std::time(nullptr);
        CgiResult r = run_webcgi(box, req);
        time_t after = std::time(nullptr);
        EXPECT_TRUE(accepted_answer(r.out, domain, before, after));
        ASSERT_EQ(r.daemon_ids(), std::vector<int>{3504});
        std::string link = "token=abc&ch=3";
        EXPECT_EQ(r.daemon[0].payload, link + std::string(256 - link.size(), '\0'));
    }
}

TEST(SystemMailLogin, LongDomainIsCut)
{
    Sandbox box;
    CgiRequest req = CgiRequest::get("/1018", "token=abc");
    req.host = std::string(70, 'h') + ":80";
    req.replay = "3504 8504 00000000\n";
    time_t before = std::time(nullptr);
    CgiResult r = run_webcgi(box, req);
    EXPECT_TRUE(accepted_answer(r.out, std::string(53, 'h'), before, std::time(nullptr)));
}

TEST(SystemMailLogin, RefusedOrEmptyAnswerRedirectsHome)
{
    Sandbox box;
    for (const char *script : {"3504 8504 01000000\n", "3504 8504 ffffffff\n", "3504 8504 -\n"}) {
        SCOPED_TRACE(script);
        CgiRequest req = CgiRequest::get("/1018", "token=abc");
        req.replay = script;
        EXPECT_EQ(run_webcgi(box, req).out, kHomeRedirect);
    }
}

TEST(SystemMailLogin, SendsAtMost255CharactersOfTheLink)
{
    Sandbox box;
    std::string link = "token=" + std::string(300, 'x');
    CgiRequest req = CgiRequest::post_json("/1018", link);
    req.replay = "3504 8504 01000000\n";
    CgiResult r = run_webcgi(box, req);
    ASSERT_EQ(r.payloads(3504).size(), 1u);
    EXPECT_EQ(r.payloads(3504)[0], link.substr(0, 255) + std::string(1, '\0'));
}

TEST(SystemMailLogin, WithoutLinkTextWritesNothingAndAsksNothing)
{
    Sandbox box;
    for (CgiRequest req : {CgiRequest::get("/1018", ""), CgiRequest::post_json("/1018", "")}) {
        req.replay = "3504 8504 00000000\n";
        CgiResult r = run_webcgi(box, req);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.daemon.empty());
    }
}

TEST(SystemMailLogin, WithoutAnswerWritesTheTextError)
{
    Sandbox box;
    CgiRequest req = CgiRequest::get("/1018", "token=abc");
    CgiResult r = run_webcgi(box, req);
    EXPECT_EQ(r.out, kTextError);
}

TEST(SystemMailLogin, RecorderJudgesTheLinkByItsToken)
{
    Sandbox box;
    std::filesystem::create_directories(box.path("/var/lib/coresim"));
    box.write_file("/var/lib/coresim/mail_token", "5f2c9e\n");
    const struct {
        const char *link;
        bool accepted;
    } cases[] = {
        {"token=5f2c9e", true},
        {"ch=2&token=5f2c9e&x=1", true},
        {"token=5f2c9", false},
        {"token=5f2c9e0", false},
        {"xtoken=5f2c9e", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.link);
        CgiRequest req = CgiRequest::get("/1018", c.link);
        req.daemon = Daemon::Recorder;
        time_t before = std::time(nullptr);
        CgiResult r = run_webcgi(box, req);
        if (c.accepted)
            EXPECT_TRUE(accepted_answer(r.out, "192.168.1.100", before, std::time(nullptr)));
        else
            EXPECT_EQ(r.out, kHomeRedirect);
    }
}

TEST(SystemMailLogin, RecorderMakesAndKeepsATokenWhenNoneIsSet)
{
    Sandbox box;
    CgiRequest req = CgiRequest::get("/1018", "token=guess");
    req.daemon = Daemon::Recorder;
    EXPECT_EQ(run_webcgi(box, req).out, kHomeRedirect);
    std::string token = box.read_file("/var/lib/coresim/mail_token");
    ASSERT_FALSE(token.empty());
    ASSERT_EQ(token.back(), '\n');
    token.pop_back();
    ASSERT_TRUE(made_of(token, 32, "0123456789abcdef")) << token;
    time_t before = std::time(nullptr);
    req = CgiRequest::get("/1018", "token=" + token);
    req.daemon = Daemon::Recorder;
    CgiResult r = run_webcgi(box, req);
    EXPECT_TRUE(accepted_answer(r.out, "192.168.1.100", before, std::time(nullptr)));
}

} // namespace
