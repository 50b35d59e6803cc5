// Request-table driver (see webcgi_run.h).
#include "webcgi_run.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

std::string bin_path(const std::string &name) { return std::string(NVR_BIN_DIR) + "/" + name; }

namespace {

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Programs of another architecture run under the emulator named by NVR_TEST_EMULATOR
// (for example "qemu-arm -L /usr/arm-linux-gnueabihf").
std::vector<std::string> emulated(std::vector<std::string> argv)
{
    const char *emu = std::getenv("NVR_TEST_EMULATOR");
    if (emu == nullptr || *emu == '\0')
        return argv;
    std::vector<std::string> out;
    std::istringstream words(emu);
    std::string w;
    while (words >> w)
        out.push_back(w);
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

// Runs argv with the given environment, feeding `input` and collecting stdout/stderr.
int run_process(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                const std::string &input, std::string *out, std::string *err)
{
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC))
        throw std::runtime_error("pipe");
    // A program that ends without reading all its input must not take the test down with it.
    std::signal(SIGPIPE, SIG_IGN);
    pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        std::vector<char *> args, envp;
        for (auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        for (auto &e : env)
            envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);
        if (args[0][0] == '/')
            execve(args[0], args.data(), envp.data());
        else
            execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    size_t written = 0;
    bool in_open = true;
    if (input.empty()) {
        close(in_pipe[1]);
        in_open = false;
    } else {
        fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
    }
    bool out_open = true, err_open = true;
    char buf[65536];
    while (out_open || err_open) {
        std::vector<pollfd> fds;
        if (out_open)
            fds.push_back({out_pipe[0], POLLIN, 0});
        if (err_open)
            fds.push_back({err_pipe[0], POLLIN, 0});
        if (in_open)
            fds.push_back({in_pipe[1], POLLOUT, 0});
        if (poll(fds.data(), fds.size(), 60000) <= 0)
            break;
        for (auto &p : fds) {
            if (!p.revents)
                continue;
            if (p.fd == in_pipe[1]) {
                ssize_t n = write(in_pipe[1], input.data() + written, input.size() - written);
                if (n > 0)
                    written += static_cast<size_t>(n);
                if (n < 0 && errno != EAGAIN) {
                    close(in_pipe[1]);
                    in_open = false;
                } else if (written == input.size()) {
                    close(in_pipe[1]);
                    in_open = false;
                }
                continue;
            }
            ssize_t n = read(p.fd, buf, sizeof buf);
            if (n <= 0) {
                close(p.fd);
                (p.fd == out_pipe[0] ? out_open : err_open) = false;
            } else {
                (p.fd == out_pipe[0] ? *out : *err).append(buf, static_cast<size_t>(n));
            }
        }
    }
    if (in_open)
        close(in_pipe[1]);
    if (out_open)
        close(out_pipe[0]);
    if (err_open)
        close(err_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

pid_t start_coresim(const Sandbox &box, const std::vector<std::string> &extra)
{
    std::string sock = box.path("/var/run/vksocket");
    unlink(sock.c_str());
    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        std::vector<std::string> argv = {bin_path("coresim"), "--root", box.root};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv = emulated(argv);
        std::vector<char *> args;
        for (auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    // Wait until the socket is there.
    for (int i = 0; i < 2000; ++i) {
        struct stat st;
        if (stat(sock.c_str(), &st) == 0)
            return pid;
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid)
            throw std::runtime_error("coresim did not start");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    throw std::runtime_error("coresim socket did not appear");
}

void stop_coresim(pid_t pid)
{
    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
}

} // namespace

Sandbox::Sandbox()
{
    char tmpl[] = "/tmp/nvr-test-XXXXXX";
    if (!mkdtemp(tmpl))
        throw std::runtime_error("mkdtemp");
    root = tmpl;
    std::string out, err;
    int rc = run_process({bin_path("nvr-sandbox"), root}, {"PATH=/usr/bin:/bin"}, "", &out, &err);
    if (rc != 0)
        throw std::runtime_error("nvr-sandbox failed: " + err);
}

Sandbox::~Sandbox()
{
    if (!root.empty() && root.rfind("/tmp/nvr-test-", 0) == 0) {
        std::string out, err;
        run_process({"/bin/rm", "-rf", root}, {}, "", &out, &err);
    }
}

std::string Sandbox::read_file(const std::string &recorder_path) const { return slurp(path(recorder_path)); }

void Sandbox::write_file(const std::string &recorder_path, const std::string &content) const
{
    std::ofstream out(path(recorder_path), std::ios::binary | std::ios::trunc);
    out << content;
}

bool Sandbox::exists(const std::string &recorder_path) const
{
    struct stat st;
    return lstat(path(recorder_path).c_str(), &st) == 0;
}

std::vector<std::string> Sandbox::commands() const
{
    std::vector<std::string> lines;
    std::istringstream in(read_file("/var/log/commands.log"));
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

CgiRequest CgiRequest::post_json(const std::string &code, const std::string &json)
{
    CgiRequest r;
    r.method = "POST";
    r.code = code;
    r.content_type = "application/json";
    r.body = json;
    return r;
}

CgiRequest CgiRequest::get(const std::string &code, const std::string &query)
{
    CgiRequest r;
    r.code = code;
    r.query = query;
    return r;
}

std::vector<int> CgiResult::daemon_ids() const
{
    std::vector<int> ids;
    for (auto &m : daemon)
        ids.push_back(m.id);
    return ids;
}

std::vector<std::string> CgiResult::payloads(int id) const
{
    std::vector<std::string> out;
    for (auto &m : daemon)
        if (m.id == id)
            out.push_back(m.payload);
    return out;
}

CgiResult run_webcgi(Sandbox &box, const CgiRequest &request)
{
    CgiResult result;
    const std::string log_file = box.path("/var/log/coresim.msgs");
    unlink(log_file.c_str());
    pid_t daemon = -1;
    if (request.daemon == Daemon::Replay) {
        const std::string script = box.path("/var/log/coresim.replay");
        box.write_file("/var/log/coresim.replay", request.replay);
        daemon = start_coresim(box, {"--replay", script, "--log", log_file});
    } else if (request.daemon == Daemon::Recorder) {
        daemon = start_coresim(box, {"--log", log_file});
    }

    std::vector<std::string> env = {
        "NVR_ROOT=" + box.root,
        "NVR_TIME_SCALE=" + std::to_string(request.time_scale),
        "PATH=/usr/bin:/bin",
        "GATEWAY_INTERFACE=CGI/1.1",
        "SERVER_PROTOCOL=HTTP/1.1",
        "SERVER_SOFTWARE=lighttpd",
        "SCRIPT_NAME=/cgi-bin/webcgi",
        "REQUEST_METHOD=" + request.method,
        "PATH_INFO=" + request.code,
        "QUERY_STRING=" + request.query,
        "REMOTE_ADDR=" + request.remote_addr,
        "HTTP_HOST=" + request.host,
    };
    if (!request.content_type.empty())
        env.push_back("CONTENT_TYPE=" + request.content_type);
    if ((!request.body.empty() || request.method == "POST") && !request.no_content_length)
        env.push_back("CONTENT_LENGTH=" + std::to_string(request.body.size()));
    if (!request.cookie.empty())
        env.push_back("HTTP_COOKIE=" + request.cookie);
    for (auto &[k, v] : request.env)
        env.push_back(k + "=" + v);
    if (const char *asan = std::getenv("ASAN_OPTIONS"))
        env.push_back(std::string("ASAN_OPTIONS=") + asan);
    if (const char *ubsan = std::getenv("UBSAN_OPTIONS"))
        env.push_back(std::string("UBSAN_OPTIONS=") + ubsan);

    result.status = run_process(emulated({bin_path(request.program)}), env, request.body, &result.out, &result.err);
    if (daemon > 0)
        stop_coresim(daemon);

    std::istringstream in(slurp(log_file));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        DaemonMessage m;
        std::string hex;
        if (!(words >> m.id >> hex))
            continue;
        m.payload = hex == "-" ? std::string() : from_hex(hex);
        result.daemon.push_back(std::move(m));
    }
    return result;
}

std::string to_hex(const void *data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    const unsigned char *p = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[p[i] >> 4]);
        out.push_back(digits[p[i] & 15]);
    }
    return out;
}

std::string to_hex(const std::string &bytes) { return to_hex(bytes.data(), bytes.size()); }

std::string from_hex(const std::string &hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}
