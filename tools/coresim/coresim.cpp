// coresim --root DIR [--replay FILE] [--log FILE]: the core daemon simulator (see coresim.h).
//
// One thread, one poll loop over the listening socket and the connected clients. Every message
// received is logged (when --log is given) before it is answered. On SIGTERM or SIGINT the loop
// reads what the clients have already sent, then removes the socket and exits.
#include "coresim.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "nvr_path.h"
#include "vksocket/vksocket.h"

namespace {

std::map<int, CoreHandler> &handlers()
{
    static std::map<int, CoreHandler> table;
    return table;
}

std::string g_root;
volatile sig_atomic_t g_stop = 0;

void on_signal(int) { g_stop = 1; }

// --replay: for each request id the answers to send, in order, each time the request arrives.
struct ReplayAnswer {
    int response_id;
    std::string payload;
};
std::map<int, std::vector<ReplayAnswer>> g_replay;
bool g_replay_mode = false;

std::string hex_decode(const std::string &hex, bool &ok)
{
    ok = hex.size() % 2 == 0;
    std::string out;
    for (size_t i = 0; ok && i + 1 < hex.size(); i += 2) {
        char pair[3] = {hex[i], hex[i + 1], 0};
        char *end = nullptr;
        long v = std::strtol(pair, &end, 16);
        if (end != pair + 2)
            ok = false;
        out.push_back(static_cast<char>(v));
    }
    return out;
}

bool load_replay(const std::string &file)
{
    std::ifstream in(file);
    if (!in)
        return false;
    std::string line;
    int lineno = 0;
    while (std::getline(in, line)) {
        ++lineno;
        size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.resize(hash);
        std::istringstream words(line);
        std::string req, resp, payload;
        if (!(words >> req))
            continue;
        words >> resp >> payload;
        int request_id = std::atoi(req.c_str());
        auto &answers = g_replay[request_id];
        if (resp == "none" || resp.empty())
            continue; // accepted without answering
        ReplayAnswer a;
        a.response_id = std::atoi(resp.c_str());
        if (!payload.empty() && payload != "-") {
            bool ok = true;
            a.payload = hex_decode(payload, ok);
            if (!ok) {
                std::fprintf(stderr, "coresim: %s:%d: bad hex payload\n", file.c_str(), lineno);
                return false;
            }
        }
        answers.push_back(std::move(a));
    }
    return true;
}

FILE *g_log = nullptr;

void log_message(int id, const std::string &payload)
{
    if (!g_log)
        return;
    std::string hex;
    static const char digits[] = "0123456789abcdef";
    for (unsigned char c : payload) {
        hex.push_back(digits[c >> 4]);
        hex.push_back(digits[c & 15]);
    }
    std::fprintf(g_log, "%d %s\n", id, hex.empty() ? "-" : hex.c_str());
    std::fflush(g_log);
}

uint32_t g_sequence = 0;

void serve(int fd, const VkMessage &m)
{
    const int id = static_cast<int>(m.header[3]);
    log_message(id, m.payload);
    if (g_replay_mode) {
        auto it = g_replay.find(id);
        if (it == g_replay.end())
            return;
        for (const ReplayAnswer &a : it->second)
            vksock_write_message(fd, a.response_id, a.payload.data(), static_cast<uint32_t>(a.payload.size()), ++g_sequence);
        return;
    }
    auto it = handlers().find(id);
    if (it == handlers().end())
        return;
    CoreRequest req{id, m.payload, {}};
    it->second(req);
    for (auto &[response_id, payload] : req.replies)
        vksock_write_message(fd, response_id, payload.data(), static_cast<uint32_t>(payload.size()), ++g_sequence);
}

int usage()
{
    std::fprintf(stderr, "usage: coresim --root DIR [--replay FILE] [--log FILE]\n");
    return 2;
}

} // namespace

void coresim_register(int request_id, CoreHandler handler) { handlers()[request_id] = handler; }

const std::string &coresim_root() { return g_root; }

int main(int argc, char **argv)
{
    std::string replay, log;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc)
            return usage();
        if (a == "--root")
            g_root = argv[++i];
        else if (a == "--replay")
            replay = argv[++i];
        else if (a == "--log")
            log = argv[++i];
        else
            return usage();
    }
    if (g_root.empty())
        return usage();
    setenv("NVR_ROOT", g_root.c_str(), 1);
    if (!replay.empty()) {
        g_replay_mode = true;
        if (!load_replay(replay))
            return 1;
    }
    if (!log.empty()) {
        g_log = std::fopen(log.c_str(), "a");
        if (!g_log) {
            std::perror("coresim: log");
            return 1;
        }
    }
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const std::string path = nvr_path(VKSOCK_PATH);
    int listener = vksock_server_listen(path);
    if (listener < 0) {
        std::fprintf(stderr, "coresim: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }

    std::vector<int> clients;
    auto drop = [&](size_t i) {
        close(clients[i]);
        clients.erase(clients.begin() + static_cast<long>(i));
    };
    while (!g_stop) {
        std::vector<pollfd> fds;
        fds.push_back({listener, POLLIN, 0});
        for (int c : clients)
            fds.push_back({c, POLLIN, 0});
        int n = poll(fds.data(), fds.size(), 1000);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (size_t i = fds.size(); i-- > 1;) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            VkMessage m;
            if (vksock_read_message(clients[i - 1], m) == 1)
                serve(clients[i - 1], m);
            else
                drop(i - 1);
        }
        if (fds[0].revents & POLLIN) {
            int c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0)
                clients.push_back(c);
        }
    }
    // Stopping: take in what the clients have sent already, without waiting for more.
    fcntl(listener, F_SETFL, fcntl(listener, F_GETFL) | O_NONBLOCK);
    for (int round = 0; round < 100; ++round) {
        int c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (c < 0)
            break;
        clients.push_back(c);
    }
    for (int c : clients) {
        fcntl(c, F_SETFL, fcntl(c, F_GETFL) | O_NONBLOCK);
        for (;;) {
            pollfd p{c, POLLIN, 0};
            if (poll(&p, 1, 0) <= 0)
                break;
            fcntl(c, F_SETFL, fcntl(c, F_GETFL) & ~O_NONBLOCK);
            VkMessage m;
            if (vksock_read_message(c, m) != 1)
                break;
            serve(c, m);
        }
        close(c);
    }
    close(listener);
    unlink(path.c_str());
    if (g_log)
        std::fclose(g_log);
    return 0;
}
