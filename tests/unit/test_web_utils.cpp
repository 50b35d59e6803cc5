// Services every handler uses: the exact bytes of the answers and headers, the debug log line,
// the success rule of web_system and the quoting helper, the user name from the cookie, the
// operation log record, the file lock between processes, and the MAC address texts.
//
// The log and lock files live under NVR_ROOT, which names a scratch root before anything asks for
// the sandbox root (it is read once).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cgic.h"
#include "nvr_path.h"
#include "web_utils.h"

namespace {

char g_root[64]; // a plain array: it must outlive every static object's destructor

int remove_entry(const char *path, const struct stat *, int, struct FTW *) { return std::remove(path); }

__attribute__((constructor(101))) void make_scratch_root()
{
    snprintf(g_root, sizeof g_root, "/tmp/nvr-unit-utils-XXXXXX");
    if (mkdtemp(g_root) == nullptr)
        std::abort();
    for (const char *d : {"/mnt", "/mnt/nand", "/tmp", "/bin"})
        mkdir((std::string(g_root) + d).c_str(), 0777);
    setenv("NVR_ROOT", g_root, 1);
}

__attribute__((destructor(101))) void remove_scratch_root()
{
    if (g_root[0])
        nftw(g_root, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// cgiOut redirected to a temporary file for the life of the object.
struct CapturedOut {
    FILE *saved = cgiOut;
    FILE *file = std::tmpfile();
    CapturedOut() { cgiOut = file; }
    ~CapturedOut()
    {
        cgiOut = saved;
        std::fclose(file);
    }
    // What reached the file itself (so unflushed bytes do not count).
    std::string written() const
    {
        struct stat st;
        fstat(fileno(file), &st);
        std::string out(static_cast<size_t>(st.st_size), '\0');
        pread(fileno(file), out.data(), out.size(), 0);
        return out;
    }
    std::string text()
    {
        std::fflush(file);
        return written();
    }
};

// Candidate texts for the time range [before, after], so that a second boundary crossed during
// a call never fails a test.
template <typename F> bool any_second(std::time_t before, std::time_t after, F matches)
{
    for (std::time_t t = before; t <= after; ++t)
        if (matches(t))
            return true;
    return false;
}

// The text with every digit shown as '9', to compare the shape of clock-dependent texts.
std::string digits_masked(std::string text)
{
    for (char &c : text)
        if (c >= '0' && c <= '9')
            c = '9';
    return text;
}

// --- answers ----------------------------------------------------------------------------------

TEST(Writeback, ExactBytesByType)
{
    struct Case {
        int type;
        const char *body;
        int result;
        std::string out;
    };
    const Case cases[] = {
        {CGI_TEXT, "hello", 0, "Content-type: text/plain\r\n\r\nhello"},
        {CGI_JSON, "{}", 0, "Content-type: application/json\r\n\r\n{}"},
        {CGI_JSON, "", 0, "Content-type: application/json\r\n\r\n"},
        {CGI_TEXT, "line\n", 0, "Content-type: text/plain\r\n\r\nline\n"},
        {2, "raw body", 0, "raw body"},
        {-1, "raw", 0, "raw"},
        {CGI_TEXT, nullptr, -1, ""},
        {CGI_JSON, nullptr, -1, ""},
        {7, nullptr, -1, ""},
    };
    for (const auto &c : cases) {
        CapturedOut out;
        EXPECT_EQ(cgi_writeback_webserver(c.type, c.body), c.result) << c.type;
        EXPECT_EQ(out.written(), c.out) << "type " << c.type << ": not written, or not flushed";
    }
    EXPECT_EQ(std::string("Content-type: text/plain\r\n\r\n").size(), 28u);
    EXPECT_EQ(std::string("Content-type: application/json\r\n\r\n").size(), 34u);
}

TEST(Writeback, ErrorBodies)
{
    struct Case {
        int type;
        std::string out;
    };
    const Case cases[] = {
        {CGI_TEXT, "Content-type: text/plain\r\n\r\nCGI ERROR"},
        {CGI_JSON, "Content-type: application/json\r\n\r\n{status:\"CGI ERROR\"}"},
        {2, ""},
        {-1, ""},
    };
    for (const auto &c : cases) {
        CapturedOut out;
        EXPECT_EQ(cgi_error_to_webserver(c.type), 0);
        EXPECT_EQ(out.written(), c.out) << c.type;
    }
    EXPECT_EQ(std::string("{status:\"CGI ERROR\"}").size(), 20u);
}

TEST(Headers, LocationEndsTheHeaderBlock)
{
    CapturedOut out;
    EXPECT_EQ(cgiHeaderLocation("/index.html?lang=en"), 0);
    EXPECT_EQ(out.text(), "Location: /index.html?lang=en\r\n\r\n");
}

std::string cookie_line(std::time_t expires, const char *name, const char *value, const char *path,
                        const char *domain)
{
    static const char *days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm g;
    gmtime_r(&expires, &g);
    char line[512];
    snprintf(line, sizeof line, "Set-Cookie: %s=%s; domain=%s; expires=%s, %02d-%s-%04d %02d:%02d:%02d GMT; path=%s\r\n",
             name, value, domain, days[g.tm_wday], g.tm_mday, months[g.tm_mon], g.tm_year + 1900, g.tm_hour,
             g.tm_min, g.tm_sec, path);
    return line;
}

TEST(Headers, SetCookieLine)
{
    for (int ttl : {0, 3600, 86400 * 40, -86400}) {
        CapturedOut out;
        std::time_t before = std::time(nullptr);
        EXPECT_EQ(cgiHeaderCookieSetString("sid", "A1b2", ttl, "/", "192.168.1.100"), 0);
        std::time_t after = std::time(nullptr);
        const std::string got = out.text();
        EXPECT_TRUE(any_second(before, after, [&](std::time_t t) {
            return got == cookie_line(t + ttl, "sid", "A1b2", "/", "192.168.1.100");
        })) << got;
        // The fixed shape, independent of the clock: "Thu, 09-Jan-2025 10:00:00 GMT".
        const std::string head = "Set-Cookie: sid=A1b2; domain=192.168.1.100; expires=";
        ASSERT_EQ(got.size(), head.size() + 29 + std::string("; path=/\r\n").size()) << got;
        EXPECT_EQ(got.substr(0, head.size()), head);
        const std::string date = got.substr(head.size(), 29);
        EXPECT_NE(std::string("SunMonTueWedThuFriSat").find(date.substr(0, 3)), std::string::npos) << date;
        EXPECT_NE(std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(date.substr(8, 3)), std::string::npos) << date;
        EXPECT_EQ(digits_masked(date.substr(3)), ", 99-" + date.substr(8, 3) + "-9999 99:99:99 GMT") << date;
    }
}

TEST(Headers, SetCookieThenLocationMakeOneHeaderBlock)
{
    CapturedOut out;
    cgiHeaderCookieSetString("userName", "admin", 60, "/", "nvr");
    cgiHeaderLocation("/main.html");
    const std::string got = out.text();
    EXPECT_EQ(got.rfind("Set-Cookie: userName=admin; domain=nvr; expires=", 0), 0u) << got;
    const std::string tail = " GMT; path=/\r\nLocation: /main.html\r\n\r\n";
    ASSERT_GE(got.size(), tail.size());
    EXPECT_EQ(got.substr(got.size() - tail.size()), tail);
}

// --- debug log --------------------------------------------------------------------------------

class DebugLog : public ::testing::Test {
protected:
    std::string file = nvr_path("/mnt/nand/cgi_log.txt");
    void SetUp() override { std::remove(file.c_str()); }
    void TearDown() override { std::remove(file.c_str()); }
};

TEST_F(DebugLog, LineFormatAndLocalTime)
{
    std::time_t before = std::time(nullptr);
    EXPECT_EQ(cgi_log("OnState.c", 663, "", "real_name:%s id=%d", "cam", 7), 0);
    EXPECT_EQ(cgi_log("storage.c", 12, "fn", "%s", "second"), 0);
    std::time_t after = std::time(nullptr);
    const std::string log = slurp(file);
    const std::string first = "[toman debug] 9999-99-99 99:99:99  OnState.c:663 in : real_name:cam id=7\n";
    const std::string second = "[toman debug] 9999-99-99 99:99:99  storage.c:12 in fn: second\n";
    ASSERT_EQ(log.size(), first.size() + second.size()) << log;
    EXPECT_EQ(digits_masked(log.substr(0, 34)) + log.substr(34, first.size() - 34), first) << log;
    EXPECT_EQ(digits_masked(log.substr(first.size(), 34)) + log.substr(first.size() + 34), second) << log;
    const std::string when = log.substr(14, 19);
    EXPECT_TRUE(any_second(before, after, [&](std::time_t t) {
        std::tm tm;
        localtime_r(&t, &tm);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
        return when == text;
    })) << when;
}

TEST_F(DebugLog, MacroPassesTheLineAndAnEmptyFunction)
{
    const int line = __LINE__ + 1;
    CGI_LOG("storage.c", "disk %d", 3);
    const std::string log = slurp(file);
    const std::string want = "  storage.c:" + std::to_string(line) + " in : disk 3\n";
    ASSERT_GE(log.size(), want.size());
    EXPECT_EQ(log.substr(log.size() - want.size()), want);
}

TEST_F(DebugLog, AppendsAndCutsLongLines)
{
    { std::ofstream(file) << "earlier line\n"; }
    const std::string big(5000, 'm');
    EXPECT_EQ(cgi_log("a.c", 1, "", "%s", big.c_str()), 0);
    const std::string log = slurp(file);
    ASSERT_EQ(log.rfind("earlier line\n[toman debug] ", 0), 0u) << "the log was not appended to";
    const std::string line = log.substr(13);
    EXPECT_EQ(line.size(), 2047u) << "a line is cut to 2047 characters";
    EXPECT_EQ(line.find("  a.c:1 in : mmm"), 33u);
    EXPECT_EQ(line.back(), 'm');
}

TEST_F(DebugLog, UnopenableFileLosesTheLine)
{
    ASSERT_EQ(mkdir(file.c_str(), 0755), 0); // a directory where the file should be
    EXPECT_EQ(cgi_log("a.c", 1, "", "lost"), -1);
    rmdir(file.c_str());
}

// --- commands ---------------------------------------------------------------------------------

TEST(WebSystem, SuccessOnlyForANormalExitWithStatusZero)
{
    struct Case {
        const char *command;
        int result;
    };
    const Case cases[] = {
        {"true", 0},
        {"exit 0", 0},
        {"exit 1", -1},
        {"exit 2", -1},
        {"false", -1},
        {"kill -KILL $$", -1},
        {"kill -TERM $$", -1},
        {"kill -SEGV $$", -1},
        {"nvr-no-such-command-anywhere", -1},
        {"", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(web_system(c.command), c.result) << c.command;
    EXPECT_EQ(web_system(nullptr), -1);
}

TEST(WebSystem, SandboxStandInsComeFirstOnThePath)
{
    const std::string tool = nvr_path("/bin/nvr-test-standin");
    {
        std::ofstream out(tool);
        out << "#!/bin/sh\necho \"standin $*\" >> \"$NVR_ROOT/standin.log\"\n";
    }
    chmod(tool.c_str(), 0755);
    EXPECT_EQ(web_system("nvr-test-standin one two"), 0);
    EXPECT_EQ(slurp(nvr_path("/standin.log")), "standin one two\n");
}

TEST(WebSystem, QuotedTextsReachTheCommandAsOneArgument)
{
    const std::vector<std::string> hostile = {
        "plain", "", "it's", "'", "''", "a b  c", "$(touch MARK)", "`touch MARK`", "x; touch MARK", "a\"b",
        "a\\b", "line\nbreak", "*", "-n", "$HOME", "!x", "a|b&c>d<e",
    };
    const std::string out = nvr_path("/tmp/quoted.out");
    const std::string mark = nvr_path("/tmp/MARK");
    for (const auto &text : hostile) {
        std::string cmd = "cd " + shell_quote(nvr_path("/tmp")) + " && printf '%s' " + shell_quote(text) + " > " +
                          shell_quote(out);
        ASSERT_EQ(web_system(cmd.c_str()), 0) << text;
        EXPECT_EQ(slurp(out), text);
        EXPECT_FALSE(exists(mark)) << text;
    }
    EXPECT_EQ(shell_quote("it's"), "'it'\\''s'");
    EXPECT_EQ(shell_quote(""), "''");
}

// --- user name and operation log record --------------------------------------------------------

struct CookieScope {
    char *saved = cgiCookie;
    std::string text;
    explicit CookieScope(const std::string &cookie) : text(cookie) { cgiCookie = text.data(); }
    ~CookieScope() { cgiCookie = saved; }
};

TEST(UserName, FromTheCookie)
{
    struct Case {
        std::string cookie;
        int result;
        std::string name;
    };
    const std::vector<Case> cases = {
        {"sid=1; userName=admin; lang=en", 0, "admin"},
        {"sid=1; lang=en; userName=admin", 0, "admin"},
        {"userName=admin", 0, "admin"},
        {"userName=a=b", 0, "b"},
        {"userName=a=b=c; x=1", 0, "b=c"},
        {"userName=; lang=en", 0, ""},
        {"userName=" + std::string(100, 'u'), 0, std::string(63, 'u')},
        {"sid=1; lang=en", -1, "untouched"},
        {"username=admin", -1, "untouched"},
        {"", -1, "untouched"},
    };
    for (const auto &c : cases) {
        CookieScope scope(c.cookie);
        char buffer[64];
        snprintf(buffer, sizeof buffer, "untouched");
        EXPECT_EQ(get_current_username(buffer), c.result) << c.cookie;
        EXPECT_EQ(std::string(buffer), c.name) << c.cookie;
    }
    CookieScope scope("userName=admin");
    EXPECT_EQ(get_current_username(nullptr), -1);
}

TEST(UserName, NameAtTheVeryEndReadsNothingBeyondTheCookie)
{
    for (const char *cookie : {"userName", "a=1; userName"}) {
        CookieScope scope(cookie);
        char buffer[64] = "x";
        get_current_username(buffer);
        EXPECT_STREQ(buffer, "") << cookie;
    }
}

TEST(LogRecord, InitFillsTypeRemoteUserAndAddress)
{
    char *saved_addr = cgiRemoteAddr;
    std::string addr = "192.168.1.20";
    cgiRemoteAddr = addr.data();
    {
        CookieScope scope("sid=9; userName=operator; lang=en");
        LogRecord r;
        std::memset(&r, 0xAB, sizeof r);
        ASSERT_EQ(cgi_init_log_info(&r), 0);
        LogRecord want;
        std::memset(&want, 0, sizeof want);
        want.main_type = 4;
        want.remote = 1;
        snprintf(want.client_addr, sizeof want.client_addr, "192.168.1.20");
        snprintf(want.user_name, sizeof want.user_name, "operator");
        EXPECT_EQ(std::memcmp(&r, &want, sizeof r), 0) << "every other byte is zero";
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&r);
        EXPECT_EQ(bytes[0], 4);
        EXPECT_EQ(bytes[28], 1);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(bytes + 36)), "192.168.1.20");
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(bytes + 82)), "operator");
    }
    {
        // No user in the cookie; an address longer than its field (an IPv6 text with a zone).
        addr = "fe80:0000:0000:0000:0202:b3ff:fe1e:8329%eth0-extra-long";
        cgiRemoteAddr = addr.data();
        CookieScope scope("sid=9");
        LogRecord r;
        std::memset(&r, 0xAB, sizeof r);
        ASSERT_EQ(cgi_init_log_info(&r), 0);
        EXPECT_EQ(std::string(r.user_name), "");
        EXPECT_EQ(std::string(r.client_addr), addr.substr(0, 45));
        EXPECT_EQ(r.zero2[0], 0);
        EXPECT_EQ(r.zero2[1], 0);
    }
    {
        CookieScope scope("userName=" + std::string(80, 'n'));
        LogRecord r;
        ASSERT_EQ(cgi_init_log_info(&r), 0);
        EXPECT_EQ(std::string(r.user_name), std::string(63, 'n'));
        EXPECT_EQ(r.zero2[0], 0) << "the user name ran over its field";
    }
    cgiRemoteAddr = saved_addr;
    EXPECT_EQ(cgi_init_log_info(nullptr), -1);
}

// --- file lock --------------------------------------------------------------------------------

bool wait_readable(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}

TEST(FileLock, ExcludesASecondProcessUntilUnlocked)
{
    const char *path = "/tmp/lang.lock";
    std::remove(nvr_path(path).c_str());
    EXPECT_EQ(file_lock(nullptr), -1);
    EXPECT_EQ(file_lock("/no/such/dir/x.lock"), -1);
    file_unlock(-1); // ignored

    const int fd = file_lock(path);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(exists(nvr_path(path))) << "the lock file is created inside the sandbox";

    int to_child[2], to_parent[2];
    ASSERT_EQ(pipe(to_child), 0);
    ASSERT_EQ(pipe(to_parent), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Probe without waiting, then wait for the lock.
        int probe = open(nvr_path(path).c_str(), O_RDWR);
        char held = (probe >= 0 && lockf(probe, F_TLOCK, 0) != 0) ? 'H' : 'F';
        if (write(to_parent[1], &held, 1) != 1)
            _exit(2);
        int got = file_lock(path);
        char done = got >= 0 ? 'L' : 'E';
        if (write(to_parent[1], &done, 1) != 1)
            _exit(2);
        file_unlock(got);
        _exit(0);
    }
    close(to_child[0]);
    close(to_parent[1]);
    char c = 0;
    ASSERT_EQ(read(to_parent[0], &c, 1), 1);
    EXPECT_EQ(c, 'H') << "a second process took the lock while it was held";
    EXPECT_FALSE(wait_readable(to_parent[0], 100)) << "file_lock did not wait for the holder";
    file_unlock(fd);
    ASSERT_TRUE(wait_readable(to_parent[0], 10000));
    ASSERT_EQ(read(to_parent[0], &c, 1), 1);
    EXPECT_EQ(c, 'L');
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(to_child[1]);
    close(to_parent[0]);
}

// --- MAC addresses ----------------------------------------------------------------------------

std::string interface_mac(const std::string &name)
{
    std::string text = slurp("/sys/class/net/" + name + "/address");
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    for (char &ch : text)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return text;
}

TEST(MacAddr, RealAddressesOrTheFixedFallbacks)
{
    char eth0[18], eth1[18];
    std::memset(eth0, 'x', sizeof eth0);
    std::memset(eth1, 'x', sizeof eth1);
    EXPECT_EQ(get_mac_addr(eth0, eth1), 0);
    auto is_mac = [](const std::string &m) {
        if (m.size() != 17)
            return false;
        for (size_t i = 0; i < m.size(); ++i)
            if (i % 3 == 2 ? m[i] != ':' : !std::isxdigit(static_cast<unsigned char>(m[i])) || std::islower(m[i]))
                return false;
        return true;
    };
    EXPECT_TRUE(is_mac(eth0)) << eth0;
    EXPECT_TRUE(is_mac(eth1)) << eth1;
    const std::string real0 = interface_mac("eth0"), real1 = interface_mac("eth1");
    EXPECT_EQ(std::string(eth0), real0.empty() ? "02:4B:7D:0A:19:C8" : real0);
    EXPECT_EQ(std::string(eth1), real1.empty() ? "02:4B:7D:0A:19:C9" : real1);
}

// --- bounded copies ---------------------------------------------------------------------------

TEST(CopyText, CutsAndTerminates)
{
    char small[4];
    EXPECT_EQ(copy_text(small, "abcdef"), 6u);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(copy_text(small, "ab"), 2u);
    EXPECT_STREQ(small, "ab");
    EXPECT_EQ(copy_text(nullptr, 0, "ab"), 2u);
    char field[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(field_text(field), "abcd");
    char shorter[4] = {'a', 0, 'c', 'd'};
    EXPECT_EQ(field_text(shorter), "a");
}

} // namespace
