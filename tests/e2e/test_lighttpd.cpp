// End to end through a real web server: lighttpd with mod_cgi on a free loopback port runs
// build/bin/webcgi-probe (the real intake with handlers that print what they were handed) for
// http://127.0.0.1:PORT/cgi-bin/webcgi/CODE, inside a fresh sandbox; curl sends a GET with a
// query, a JSON POST and multipart uploads. The server is started and stopped by each test.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <cctype>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "webcgi_run.h"

namespace {

std::string find_program(const std::string &name)
{
    for (const char *dir : {"/usr/sbin", "/usr/bin", "/sbin", "/bin", "/usr/local/sbin", "/usr/local/bin"}) {
        std::string p = std::string(dir) + "/" + name;
        if (access(p.c_str(), X_OK) == 0)
            return p;
    }
    return "";
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_text(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

// Runs argv, standard output captured, standard input empty.
int run(const std::vector<std::string> &argv, std::string *out)
{
    int pipe_fd[2];
    if (pipe(pipe_fd) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(pipe_fd[1], 1);
        close(pipe_fd[0]);
        std::vector<char *> args;
        for (auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipe_fd[1]);
    char buf[65536];
    ssize_t n;
    while ((n = read(pipe_fd[0], buf, sizeof buf)) > 0)
        out->append(buf, static_cast<size_t>(n));
    close(pipe_fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int free_port()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        close(s);
        return -1;
    }
    close(s);
    return ntohs(a.sin_port);
}

bool accepts(int port)
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

// The text with the six characters after each "/tmp/cgic" shown as XXXXXX (mkstemp's part of a
// temporary file name), once they are checked to be letters and digits.
std::string temp_names_masked(std::string text)
{
    for (size_t p = text.find("/tmp/cgic"); p != std::string::npos; p = text.find("/tmp/cgic", p + 1)) {
        size_t at = p + 9;
        if (at + 6 > text.size())
            break;
        for (size_t i = at; i < at + 6; ++i)
            if (std::isalnum(static_cast<unsigned char>(text[i])))
                text[i] = 'X';
    }
    return text;
}

struct Response {
    int status = 0;
    std::string headers; // the header block as received
    std::string body;
    std::string header(const std::string &name) const
    {
        // Header names compare without regard to case.
        std::istringstream lines(headers);
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.size() > name.size() + 1 && strncasecmp(line.c_str(), name.c_str(), name.size()) == 0 &&
                line.compare(name.size(), 2, ": ") == 0)
                return line.substr(name.size() + 2);
        }
        return "<none>";
    }
};

class Lighttpd : public ::testing::Test {
protected:
    Sandbox box;
    std::string dir; // server configuration, logs, files to upload
    std::string curl;
    pid_t server = -1;
    int port = -1;

    void SetUp() override
    {
        const std::string lighttpd = find_program("lighttpd");
        curl = find_program("curl");
        if (lighttpd.empty() || curl.empty())
            GTEST_SKIP() << "lighttpd or curl is not installed";
        char tmpl[] = "/tmp/nvr-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        mkdir((dir + "/www").c_str(), 0755);

        // The CGI program; under an emulator (cross builds) a launcher script stands in front.
        std::string program = bin_path("webcgi-probe");
        if (const char *emu = std::getenv("NVR_TEST_EMULATOR"); emu && *emu) {
            write_text(dir + "/webcgi-probe", std::string("#!/bin/sh\nexec ") + emu + " " + program + " \"$@\"\n");
            chmod((dir + "/webcgi-probe").c_str(), 0755);
            program = dir + "/webcgi-probe";
        }
        for (int attempt = 0; attempt < 5 && server < 0; ++attempt) {
            port = free_port();
            ASSERT_GT(port, 0);
            write_text(dir + "/lighttpd.conf",
                       "server.document-root = \"" + dir + "/www\"\n"
                       "server.bind = \"127.0.0.1\"\n"
                       "server.port = " + std::to_string(port) + "\n"
                       "server.errorlog = \"" + dir + "/error.log\"\n"
                       "server.modules = ( \"mod_alias\", \"mod_setenv\", \"mod_cgi\" )\n"
                       // Queries reach the program as the page sent them ({, } and " unescaped).
                       "server.http-parseopts = ( \"url-normalize\" => \"disable\" )\n"
                       "alias.url = ( \"/cgi-bin/webcgi\" => \"" + program + "\" )\n"
                       "cgi.assign = ( \"/webcgi-probe\" => \"\" )\n"
                       "setenv.add-environment = ( \"NVR_ROOT\" => \"" + box.root + "\", \"NVR_TIME_SCALE\" => \"100\" )\n");
            pid_t pid = fork();
            if (pid == 0) {
                int null_fd = open("/dev/null", O_RDWR);
                dup2(null_fd, 0);
                dup2(null_fd, 1);
                execl(lighttpd.c_str(), lighttpd.c_str(), "-D", "-f", (dir + "/lighttpd.conf").c_str(), nullptr);
                _exit(127);
            }
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (std::chrono::steady_clock::now() < deadline) {
                int status;
                if (waitpid(pid, &status, WNOHANG) == pid) {
                    pid = -1; // did not start (port taken meanwhile?): try another port
                    break;
                }
                if (accepts(port)) {
                    server = pid;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (server < 0 && pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
        ASSERT_GT(server, 0) << "lighttpd did not start: " << slurp(dir + "/error.log");
    }

    void TearDown() override
    {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
        if (!dir.empty()) {
            std::string out;
            run({"/bin/rm", "-rf", dir}, &out);
        }
    }

    std::string url(const std::string &path_and_query) const
    {
        return "http://127.0.0.1:" + std::to_string(port) + "/cgi-bin/webcgi" + path_and_query;
    }

    Response request(std::vector<std::string> args)
    {
        std::vector<std::string> argv = {curl, "-s", "-S", "-g", "--max-time", "60", "-D", dir + "/headers",
                                         "-o", dir + "/body", "-w", "%{http_code}"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string code;
        Response r;
        EXPECT_EQ(run(argv, &code), 0) << "curl failed";
        r.status = std::atoi(code.c_str());
        r.headers = slurp(dir + "/headers");
        r.body = slurp(dir + "/body");
        return r;
    }

    // Names in the sandbox's /tmp.
    std::vector<std::string> tmp_files()
    {
        std::string out;
        run({"/bin/ls", "-A", box.path("/tmp")}, &out);
        std::vector<std::string> names;
        std::istringstream in(out);
        std::string line;
        while (std::getline(in, line))
            names.push_back(line);
        return names;
    }
};

TEST_F(Lighttpd, GetWithAQuery)
{
    Response r = request({url("/6100?{%22portId%22:3}")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("Content-type"), "text/plain");
    EXPECT_EQ(r.body, "request=[{\"portId\":3}]\n");

    r = request({url("/probe?a=%7B+b%2F")});
    EXPECT_EQ(r.body, "request=[a=%7B+b%2F]\n");

    // A code that no handler claims: an empty CGI answer, which the server turns into an error.
    r = request({url("/9999?x=1")});
    EXPECT_GE(r.status, 500);
}

TEST_F(Lighttpd, PostOfJson)
{
    const std::string json = "{\"name\":\"disk 1\",\"list\":[1,2,3]}";
    Response r = request({"-H", "Content-Type: application/json; charset=UTF-8", "--data-binary", json,
                          url("/6100")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("Content-type"), "text/plain");
    EXPECT_EQ(r.body, "request=[" + json + "]\n");

    // A form post is handed on undecoded.
    r = request({"--data-binary", "a=%22b%22&c=d+e", url("/6100")});
    EXPECT_EQ(r.body, "request=[a=%22b%22&c=d+e]\n");
}

TEST_F(Lighttpd, MultipartUploadWithCurl)
{
    std::string content;
    for (int i = 0; i < 300000; ++i)
        content.push_back(static_cast<char>((i * 37) ^ (i >> 7)));
    write_text(dir + "/fw.bin", content);
    const std::string log_before = box.read_file("/var/log/commands.log");

    Response r = request({"-F", "note=hello", "-F", "file=@" + dir + "/fw.bin;filename=C:\\fw\\update.bin",
                          url("/3001?param:2&t=5")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "request=[/tmp/update.bin & 2]\n"
                      "entry name=[note] length=5 file=[] type=[] temp=no value=[hello]\n"
                      "entry name=[file] length=" + std::to_string(content.size()) +
                      " file=[C:\\fw\\update.bin] type=[application/octet-stream] temp=no\n");
    EXPECT_TRUE(box.read_file("/tmp/update.bin") == content) << "the uploaded file differs";
    EXPECT_EQ(tmp_files(), std::vector<std::string>{"update.bin"});

    // A code that keeps the temporary file: it is gone once the request is answered.
    r = request({"-F", "file=@" + dir + "/fw.bin;filename=pack.tar", url("/1019?lang=en")});
    EXPECT_EQ(temp_names_masked(r.body), "request=[/tmp/cgicXXXXXX & lang=en]\n"
                                         "entry name=[file] length=300000 file=[pack.tar] type=[application/octet-stream] temp=yes\n");
    EXPECT_EQ(tmp_files(), std::vector<std::string>{"update.bin"});

    // A hostile client name is only a name.
    r = request({"-F", "file=@" + dir + "/fw.bin;filename=\"$(reboot);`reboot`;x.bin\"", url("/3001")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body.rfind("request=[/tmp/$(reboot);`reboot`;x.bin]\n", 0), 0u) << r.body;
    EXPECT_TRUE(box.read_file("/tmp/$(reboot);`reboot`;x.bin") == content);
    EXPECT_EQ(box.read_file("/var/log/commands.log"), log_before) << "a command ran";
}

} // namespace
