// Request tests of the account family: list ("/6070"), add ("/6071"), change ("/6072"), delete
// ("/6073") through the real binary with the account table checked afterwards, the OEM list
// ("/6074") and the PoE-camera password and notice requests ("/6075"-"/6077").
#include <future>
#include <set>

#include "test_system_users_fixture.h"

namespace {

std::string ones(size_t n) { return std::string(n, '1'); }

const std::string kAdminObject =
    "{ \"id\": 0, \"enable\": 1, \"name\": \"admin\", \"password\": \"" + kAdminDigest +
    "\", \"type\": 0, \"permission\": -1, \"localLiveView\": 1, \"localPlayback\": 1, \"localRetrieve\": 1, "
    "\"localSmartAnalysis\": 1, \"localEvent\": 1, \"localCamera\": 1, \"localStorage\": 1, "
    "\"localSettings\": 1, \"localStatus\": 1, \"localShutdown\": 1, \"localliveview\": \"" + kAllChannels +
    "\", \"localplayback\": \"" + kAllChannels + "\", \"remotePermission\": -1, \"remoteLiveView\": 1, "
    "\"remotePlayback\": 1, \"remoteRetrieve\": 1, \"remoteSmartAnalysis\": 1, \"remoteEvent\": 1, "
    "\"remoteCamera\": 1, \"remoteStorage\": 1, \"remoteSettings\": 1, \"remoteStatus\": 1, "
    "\"remoteShutdown\": 1, \"remoteliveview\": \"" + kAllChannels + "\", \"remoteplayback\": \"" +
    kAllChannels + "\" }";

const std::string kBobObject =
    "{ \"id\": 3, \"enable\": 1, \"name\": \"bob\", \"password\": \"" + kDigestA +
    "\", \"type\": 1, \"permission\": 5, \"localLiveView\": 1, \"localPlayback\": 0, \"localRetrieve\": 1, "
    "\"localSmartAnalysis\": 1, \"localEvent\": 0, \"localCamera\": 1, \"localStorage\": 0, "
    "\"localSettings\": 1, \"localStatus\": 1, \"localShutdown\": 0, \"localliveview\": \"1010\", "
    "\"localplayback\": \"0110\", \"remotePermission\": -1, \"remoteLiveView\": 0, \"remotePlayback\": 1, "
    "\"remoteRetrieve\": 1, \"remoteSmartAnalysis\": 0, \"remoteEvent\": 1, \"remoteCamera\": 0, "
    "\"remoteStorage\": 0, \"remoteSettings\": 1, \"remoteStatus\": 0, \"remoteShutdown\": 1, "
    "\"remoteliveview\": \"1\", \"remoteplayback\": \"\" }";

// --- list ------------------------------------------------------------------------------------

TEST(SystemUserList, SeededSandboxListsTheAdministrator)
{
    UsersBox users;
    CgiResult r = run_webcgi(users.box, CgiRequest::get("/6070"));
    EXPECT_EQ(r.out, kJsonHeader + "[ " + kAdminObject + " ]");
    EXPECT_TRUE(r.daemon.empty());
}

TEST(SystemUserList, SkipsFreeSlotsAndAnswersEveryKey)
{
    UsersBox users;
    UserRecord cleared{};
    cleared.id = 1;
    users.put(cleared);
    users.put(make_bob(3));
    CgiResult r = run_webcgi(users.box, CgiRequest::get("/6070"));
    EXPECT_EQ(r.out, kJsonHeader + "[ " + kAdminObject + ", " + kBobObject + " ]");
}

// --- add -------------------------------------------------------------------------------------

const std::string kRightsJson =
    "\"localLiveView\":1,\"localPlayback\":0,\"localRetrieve\":1,\"localSmartAnalysis\":0,\"localEvent\":1,"
    "\"localCamera\":0,\"localStorage\":1,\"localSettings\":0,\"localStatus\":1,\"localShutdown\":0,"
    "\"remoteLiveView\":0,\"remotePlayback\":1,\"remoteRetrieve\":0,\"remoteSmartAnalysis\":1,"
    "\"remoteEvent\":0,\"remoteCamera\":1,\"remoteStorage\":0,\"remoteSettings\":1,\"remoteStatus\":0,"
    "\"remoteShutdown\":1";

std::string carol_json(const std::string &name = "carol", int permission = -1)
{
    return "{\"id\":0,\"enable\":0,\"name\":\"" + name + "\",\"password\":\"" + kDigestA +
           "\",\"type\":2,\"permission\":" + std::to_string(permission) + ",\"remotePermission\":7," + kRightsJson +
           ",\"localliveview\":\"101\",\"localplayback\":\"" + ones(40) +
           "\",\"remoteliveview\":\"" + std::string(32, '0') + "11\",\"remoteplayback\":\"1x1\"}";
}

UserRecord carol_record(int id)
{
    UserRecord user = make_user(id, "carol", kDigestA, 2);
    user.permission = -1;
    user.remotePermission = 7;
    const int32_t rights[20] = {1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};
    std::memcpy(reinterpret_cast<char *>(&user) + offsetof(UserRecord, localLiveView), rights, sizeof rights);
    copy_text(user.localliveview, "101");
    copy_text(user.localplayback, ones(40));
    copy_text(user.remoteliveview, std::string(32, '0') + "11");
    copy_text(user.remoteplayback, "1x1");
    user.localMask = 5;
    user.localPlaybackMask = 0xFFFFFFFFu; // 40 channels allowed, 32 represented
    user.remoteMask = 0;                  // channels 33 and 34 only
    user.remotePlaybackMask = 5;
    return user;
}

TEST(SystemUserAdd, StoresTheAccountInTheLowestFreeSlotAndAnnouncesIt)
{
    UsersBox users;
    users.put(make_bob(1));
    CgiRequest req = CgiRequest::post_json("/6071", carol_json());
    req.cookie = "userName=admin";
    CgiResult r = run_webcgi(users.box, req);
    EXPECT_EQ(r.out, kTextHeader + "id=2");
    UserRecord stored = users.get(2);
    EXPECT_TRUE(same_record(stored, carol_record(2))) << hex_of(stored) << "\n" << hex_of(carol_record(2));
    ASSERT_EQ(r.daemon_ids(), (std::vector<int>{3505, 3485}));
    EXPECT_EQ(r.daemon[0].payload, "");
    EXPECT_EQ(to_hex(r.daemon[1].payload), hex_of(expected_log(204, 921, "admin")));
}

TEST(SystemUserAdd, ReusesADeletedSlot)
{
    UsersBox users;
    users.put(make_bob(1));
    UserRecord cleared{};
    cleared.id = 2;
    users.put(cleared);
    users.put(make_user(3, "dave", kDigestA, 1));
    EXPECT_EQ(run_webcgi(users.box, CgiRequest::post_json("/6071", carol_json())).out, kTextHeader + "id=2");
    EXPECT_TRUE(same_record(users.get(2), carol_record(2)));
}

TEST(SystemUserAdd, AbsentRightsStayZeroAndLongTextsAreCut)
{
    UsersBox users;
    std::string body = "{\"name\":\"" + std::string(80, 'n') + "\",\"password\":\"" + kDigestA + "ffff" +
                       "\",\"type\":1,\"permission\":0,\"remotePermission\":-1,\"remoteEvent\":1,"
                       "\"localliveview\":\"" + ones(70) + "\"}";
    CgiResult r = run_webcgi(users.box, CgiRequest::post_json("/6071", body));
    EXPECT_EQ(r.out, kTextHeader + "id=1");
    UserRecord expected = make_user(1, std::string(63, 'n').c_str(), kDigestA, 1);
    expected.permission = 0;
    expected.remotePermission = -1;
    expected.remoteEvent = 1;
    copy_text(expected.localliveview, ones(64));
    expected.localMask = 0xFFFFFFFFu;
    EXPECT_TRUE(same_record(users.get(1), expected)) << hex_of(users.get(1));
}

TEST(SystemUserAdd, SameNameAnswersSameUserAndStoresNothing)
{
    UsersBox users;
    CgiResult r = run_webcgi(users.box, CgiRequest::post_json("/6071", carol_json("admin")));
    EXPECT_EQ(r.out, kTextHeader + "SAMEUSER");
    EXPECT_TRUE(r.daemon.empty());
    EXPECT_EQ(users.all().size(), 1u);
}

// The name is looked up by its first 31 characters, and a longer name is never stored twice.
TEST(SystemUserAdd, LongNamesAnswerSameUserByTheirFirst31CharactersOrWhole)
{
    struct Case {
        const char *what;
        std::string stored, added;
        const char *answer;
    };
    const Case cases[] = {
        {"stored name is the first 31 characters", std::string(31, 'n'), std::string(40, 'n'), "SAMEUSER"},
        {"same long name", std::string(40, 'm'), std::string(40, 'm'), "SAMEUSER"},
        {"long names that differ after 31", std::string(40, 'k'), std::string(39, 'k') + "x", "id=2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        UsersBox users;
        users.put(make_user(1, c.stored.c_str(), kDigestA, 1));
        CgiResult r = run_webcgi(users.box, CgiRequest::post_json("/6071", carol_json(c.added)));
        EXPECT_EQ(r.out, kTextHeader + c.answer);
        EXPECT_EQ(users.all().size(), std::string(c.answer) == "SAMEUSER" ? 2u : 3u);
    }
}

TEST(SystemUserAdd, NameOfADeletedAccountIsFreeAgain)
{
    UsersBox users;
    run_webcgi(users.box, CgiRequest::post_json("/6073", "{\"id\":0,\"type\":0}"));
    EXPECT_EQ(run_webcgi(users.box, CgiRequest::post_json("/6071", carol_json("admin"))).out, kTextHeader + "id=0");
}

TEST(SystemUserAdd, InvalidRequestsAnswerNothingAndStoreNothing)
{
    UsersBox users;
    const std::string rest = ",\"name\":\"x\",\"password\":\"" + kDigestA + "\"";
    const char *cases[] = {
        "{\"permission\":0,\"remotePermission\":0",             // no type
        "{\"type\":4,\"permission\":0,\"remotePermission\":0",  // type too high
        "{\"type\":-1,\"permission\":0,\"remotePermission\":0", // type negative
        "{\"type\":1,\"remotePermission\":0",                   // no permission
        "{\"type\":1,\"permission\":-2,\"remotePermission\":0", // permission below -1
        "{\"type\":1,\"permission\":0",                         // no remotePermission
        "{\"type\":1,\"permission\":0,\"remotePermission\":-5", // remotePermission below -1
        "{\"type\":\"x\",\"permission\":0,\"remotePermission\":0", // type not a number
    };
    for (const char *c : cases) {
        SCOPED_TRACE(c);
        CgiResult r = run_webcgi(users.box, CgiRequest::post_json("/6071", c + rest + "}"));
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.daemon.empty());
    }
    for (const char *body : {"", "not json", "[1]"}) {
        SCOPED_TRACE(body);
        EXPECT_EQ(run_webcgi(users.box, CgiRequest::post_json("/6071", body)).out, "");
    }
    EXPECT_EQ(users.all().size(), 1u);
}

TEST(SystemUserAdd, FullTableAnswersFailedFullBeforeReadingTheBody)
{
    UsersBox users;
    for (int id = 1; id < USER_MAX_COUNT; ++id)
        users.put(make_user(id, ("u" + std::to_string(id)).c_str(), kDigestA, 1));
    for (const std::string &body : {std::string(""), carol_json()}) {
        CgiResult r = run_webcgi(users.box, CgiRequest::post_json("/6071", body));
        EXPECT_EQ(r.out, kTextHeader + "FAILED_FULL");
        EXPECT_TRUE(r.daemon.empty());
    }
    // One deleted slot makes room for exactly one more.
    UserRecord cleared{};
    cleared.id = 57;
    users.put(cleared);
    EXPECT_EQ(run_webcgi(users.box, CgiRequest::post_json("/6071", carol_json())).out, kTextHeader + "id=57");
    EXPECT_EQ(run_webcgi(users.box, CgiRequest::post_json("/6071", carol_json("erin"))).out,
              kTextHeader + "FAILED_FULL");
}

// Pages saving at the same moment: every account gets its own slot, and of two accounts with
// one name only the first is stored.
TEST(SystemUserAdd, ConcurrentAddsNeitherShareASlotNorAName)
{
    UsersBox users;
    auto add = [&](const std::string &name) {
        CgiRequest req = CgiRequest::post_json("/6071", carol_json(name));
        req.daemon = Daemon::None;
        return run_webcgi(users.box, req).out;
    };
    std::vector<std::future<std::string>> answers;
    for (int i = 0; i < 6; ++i)
        answers.push_back(std::async(std::launch::async, add, "user" + std::to_string(i)));
    for (int i = 0; i < 4; ++i)
        answers.push_back(std::async(std::launch::async, add, "twin"));
    std::set<std::string> ids;
    int same_user = 0;
    for (auto &answer : answers) {
        std::string out = answer.get();
        if (out == kTextHeader + "SAMEUSER")
            ++same_user;
        else
            ids.insert(out);
    }
    EXPECT_EQ(same_user, 3);
    EXPECT_EQ(ids, (std::set<std::string>{kTextHeader + "id=1", kTextHeader + "id=2", kTextHeader + "id=3",
                                          kTextHeader + "id=4", kTextHeader + "id=5", kTextHeader + "id=6",
                                          kTextHeader + "id=7"}));
    EXPECT_EQ(users.all().size(), 8u);
}

// --- change ----------------------------------------------------------------------------------

TEST(SystemUserModify, TakesThePresentKeysAndKeepsTheMasks)
{
    UsersBox users;
    users.put(make_bob(3));
    std::string body = "{\"id\":3,\"name\":\"robert\",\"password\":\"" + kAdminDigest +
                       "\",\"type\":2,\"localEvent\":1,\"remoteShutdown\":0,\"localliveview\":\"0001\","
                       "\"remoteplayback\":\"11\",\"permission\":9,\"enable\":0}";
    CgiResult r = run_webcgi(users.box, CgiRequest::post_json("/6072", body));
    EXPECT_EQ(r.out, kTextHeader + "OK");
    UserRecord expected = make_bob(3);
    copy_text(expected.name, "robert");
    copy_text(expected.password, kAdminDigest);
    expected.type = 2;
    expected.localEvent = 1;
    expected.remoteShutdown = 0;
    std::memset(expected.localliveview, 0, sizeof expected.localliveview);
    copy_text(expected.localliveview, "0001");
    copy_text(expected.remoteplayback, "11");
    EXPECT_TRUE(same_record(users.get(3), expected)) << hex_of(users.get(3));
    ASSERT_EQ(r.daemon_ids(), std::vector<int>{3505});
    EXPECT_EQ(r.daemon[0].payload, int32_bytes(3));
}

TEST(SystemUserModify, RenameToOwnNameSucceedsToAnotherAnswersSameUser)
{
    UsersBox users;
    users.put(make_bob(3));
    CgiResult r = run_webcgi(users.box, CgiRequest::post_json("/6072", "{\"id\":3,\"name\":\"admin\",\"type\":0}"));
    EXPECT_EQ(r.out, kTextHeader + "SAMEUSER");
    EXPECT_TRUE(r.daemon.empty());
    EXPECT_TRUE(same_record(users.get(3), make_bob(3)));

    r = run_webcgi(users.box, CgiRequest::post_json("/6072", "{\"id\":3,\"name\":\"bob\",\"type\":0}"));
    EXPECT_EQ(r.out, kTextHeader + "OK");
    EXPECT_EQ(users.get(3).type, 0);
}

TEST(SystemUserModify, RefusesAnIdThatIsNoAccountInUse)
{
    UsersBox users;
    UserRecord cleared{};
    cleared.id = 4;
    users.put(cleared);
    const UserRecord admin = users.get(0);
    const char *ids[] = {"100", "-1", "4", "9", "\"x\""};
    for (const char *id : ids) {
        SCOPED_TRACE(id);
        std::string body = std::string("{\"id\":") + id + ",\"name\":\"mallory\",\"password\":\"" + kDigestA +
                           "\",\"type\":0}";
        CgiResult r = run_webcgi(users.box, CgiRequest::post_json("/6072", body));
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.daemon.empty());
    }
    EXPECT_EQ(run_webcgi(users.box, CgiRequest::post_json("/6072", "{\"name\":\"mallory\"}")).out, "");
    EXPECT_EQ(run_webcgi(users.box, CgiRequest::post_json("/6072", "nonsense")).out, "");
    // The administrator is untouched, the free slot stays free and nothing was added.
    EXPECT_TRUE(same_record(users.get(0), admin));
    EXPECT_EQ(users.get(4).enable, 0);
    EXPECT_FALSE(users.stored(9));
    EXPECT_FALSE(users.stored(100));
}

// --- delete ----------------------------------------------------------------------------------

TEST(SystemUserDelete, ClearsTheSlotAnnouncesAndLogs)
{
    UsersBox users;
    users.put(make_bob(3));
    CgiRequest req = CgiRequest::post_json("/6073", "{\"id\":3,\"type\":1}");
    req.cookie = "userName=admin";
    CgiResult r = run_webcgi(users.box, req);
    EXPECT_EQ(r.out, kTextHeader + "OK");
    UserRecord cleared{};
    cleared.id = 3;
    EXPECT_TRUE(users.stored(3));
    EXPECT_TRUE(same_record(users.get(3), cleared));
    ASSERT_EQ(r.daemon_ids(), (std::vector<int>{3505, 3485}));
    EXPECT_EQ(r.daemon[0].payload, int32_bytes(3));
    EXPECT_EQ(to_hex(r.daemon[1].payload), hex_of(expected_log(204, 922, "admin")));

    EXPECT_EQ(run_webcgi(users.box, CgiRequest::get("/6070")).out, kJsonHeader + "[ " + kAdminObject + " ]");
}

TEST(SystemUserDelete, InvalidRequestsDeleteNothing)
{
    UsersBox users;
    users.put(make_bob(3));
    const char *cases[] = {"{\"id\":100,\"type\":1}", "{\"id\":-1,\"type\":1}", "{\"id\":3,\"type\":4}",
                           "{\"id\":3,\"type\":-1}", "{\"id\":3}",           "{\"type\":1}",
                           "{\"id\":\"x\",\"type\":1}", "{\"id\":null,\"type\":1}", "{\"id\":3,\"type\":\"\"}",
                           "garbage"};
    for (const char *c : cases) {
        SCOPED_TRACE(c);
        CgiResult r = run_webcgi(users.box, CgiRequest::post_json("/6073", c));
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.daemon.empty());
    }
    EXPECT_TRUE(same_record(users.get(3), make_bob(3)));
    EXPECT_EQ(users.get(0).enable, 1);
    EXPECT_FALSE(users.stored(100));
}

// A whole round through the real binary: add, change, sign in with the new digest, delete.
TEST(SystemUserFlow, AddChangeSignInDelete)
{
    UsersBox users;
    CgiResult r = run_webcgi(users.box, CgiRequest::post_json("/6071", carol_json()));
    ASSERT_EQ(r.out, kTextHeader + "id=1");
    r = run_webcgi(users.box,
                   CgiRequest::post_json("/6072", "{\"id\":1,\"password\":\"" + kAdminDigest + "\"}"));
    ASSERT_EQ(r.out, kTextHeader + "OK");
    r = run_webcgi(users.box, CgiRequest::post_json("/1000", "{\"userName\":\"carol\",\"md5\":\"" + kAdminDigest +
                                                                   "\"}"));
    EXPECT_EQ(r.out.rfind(kTextHeader + "{ \"type\": 2, \"userName\": \"carol\", ", 0), 0u) << r.out;
    r = run_webcgi(users.box, CgiRequest::post_json("/6073", "{\"id\":\"1\",\"type\":2}")); // id as text
    ASSERT_EQ(r.out, kTextHeader + "OK");
    r = run_webcgi(users.box, CgiRequest::post_json("/1000", "{\"userName\":\"carol\",\"md5\":\"" + kAdminDigest +
                                                                   "\"}"));
    EXPECT_EQ(r.out, kTextHeader + "{ \"type\": -1 }");
}

// --- OEM accounts ----------------------------------------------------------------------------

TEST(SystemOemUserList, AnswersNothingWithoutTheOemDatabase)
{
    UsersBox users;
    ASSERT_FALSE(users.box.exists(VKDB_OEM));
    CgiResult r = run_webcgi(users.box, CgiRequest::get("/6074"));
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(users.box.exists(VKDB_OEM));
}

TEST(SystemOemUserList, ListsTheAccountsInUse)
{
    UsersBox users;
    UserRecord oem = make_bob(2);
    ASSERT_EQ(write_user(users.oem_db().c_str(), &oem), 0);
    UserRecord cleared{};
    cleared.id = 5;
    ASSERT_EQ(write_user(users.oem_db().c_str(), &cleared), 0);
    CgiResult r = run_webcgi(users.box, CgiRequest::get("/6074"));
    EXPECT_EQ(r.out, kJsonHeader + "[ { \"id\": 2, \"enable\": 1, \"name\": \"bob\", \"password\": \"" + kDigestA +
                         "\", \"type\": 1, \"permission\": 5, \"remotePermission\": -1 } ]");
}

// --- PoE-camera password and notices ---------------------------------------------------------

TEST(SystemPoePassword, AnswersTheDaemonResultAsText)
{
    Sandbox box;
    const char *answers[][2] = {{"00000000", "0"}, {"07000000", "7"}, {"fdffffff", "-3"}};
    for (const auto &[hex, text] : answers) {
        CgiRequest req = CgiRequest::get("/6075");
        req.replay = std::string("3265 8265 ") + hex + "\n";
        CgiResult r = run_webcgi(box, req);
        EXPECT_EQ(r.out, kTextHeader + text);
        ASSERT_EQ(r.daemon_ids(), std::vector<int>{3265});
        EXPECT_EQ(r.daemon[0].payload, "");
    }
    CgiRequest recorder = CgiRequest::get("/6075");
    recorder.daemon = Daemon::Recorder;
    EXPECT_EQ(run_webcgi(box, recorder).out, kTextHeader + "0");
}

TEST(SystemPoePassword, WithoutAnswerWritesTheJsonError)
{
    Sandbox box;
    EXPECT_EQ(run_webcgi(box, CgiRequest::get("/6075")).out, kJsonError);
}

TEST(SystemUserNotices, SendWithoutWaitingAndAnswerOk)
{
    Sandbox box;
    const struct {
        const char *code;
        int request;
    } cases[] = {{"/6076", 3267}, {"/6077", 3505}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        CgiResult r = run_webcgi(box, CgiRequest::get(c.code));
        EXPECT_EQ(r.out, kTextHeader + "OK");
        ASSERT_EQ(r.daemon_ids(), std::vector<int>{c.request});
        EXPECT_EQ(r.daemon[0].payload, "");
    }
}

} // namespace
