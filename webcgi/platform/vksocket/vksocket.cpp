// Daemon channel over a Unix-domain stream socket (wire format in vksocket.h). One channel per
// process at a time: vk_sock_init connects and starts the receiving thread, vk_sock_uninit
// closes the socket and joins the thread, so no callback runs after it returns.
#include "vksocket.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "nvr_path.h"

namespace {

struct Channel {
    std::mutex lock; // guards fd and sequence for senders
    int fd = -1;
    std::string path;
    vk_sock_callback callback = nullptr;
    std::thread receiver;
    uint32_t sequence = 0;
};
Channel g_channel;

bool write_all(int fd, const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// 1 all read, 0 end of stream before the first byte, -1 error or end in the middle.
int read_all(int fd, void *data, size_t size)
{
    char *p = static_cast<char *>(data);
    size_t got = 0;
    while (got < size) {
        ssize_t n = recv(fd, p + got, size - got, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            return got == 0 ? 0 : -1;
        got += static_cast<size_t>(n);
    }
    return 1;
}

int connect_to(const std::string &path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        close(fd);
        return -1;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void receive_loop(int fd, vk_sock_callback callback)
{
    VkMessage m;
    while (vksock_read_message(fd, m) == 1) {
        if (callback)
            callback(nullptr, m.header, m.payload.data()); // data() is never null
    }
}

void start_receiver()
{
    if (g_channel.fd >= 0 && !g_channel.receiver.joinable())
        g_channel.receiver = std::thread(receive_loop, g_channel.fd, g_channel.callback);
}

} // namespace

int vksock_write_message(int fd, int msg_id, const void *payload, uint32_t size, uint32_t sequence)
{
    uint32_t header[VKSOCK_HEADER_WORDS] = {VKSOCK_MAGIC, VKSOCK_VERSION, sequence,
                                            static_cast<uint32_t>(msg_id), 0, size, 0, 0};
    // Header words are little-endian on the wire; both ends of this project are little-endian.
    if (!write_all(fd, header, sizeof header))
        return -1;
    if (size > 0 && !write_all(fd, payload, size))
        return -1;
    return 0;
}

int vksock_read_message(int fd, VkMessage &message)
{
    int r = read_all(fd, message.header, sizeof message.header);
    if (r <= 0)
        return r;
    if (message.header[0] != VKSOCK_MAGIC || message.header[5] > VKSOCK_MAX_PAYLOAD)
        return -1;
    message.payload.assign(message.header[5], '\0');
    if (message.header[5] > 0 && read_all(fd, message.payload.data(), message.header[5]) != 1)
        return -1;
    return 1;
}

int vksock_server_listen(const std::string &path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        close(fd);
        return -1;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0) {
        close(fd);
        return -1;
    }
    chmod(path.c_str(), 0666);
    return fd;
}

int vk_sock_init(vk_sock_callback callback, int, int, const char *path)
{
    vk_sock_uninit();
    std::lock_guard<std::mutex> hold(g_channel.lock);
    g_channel.callback = callback;
    g_channel.path = nvr_path(path ? path : VKSOCK_PATH);
    g_channel.fd = connect_to(g_channel.path);
    start_receiver();
    return g_channel.fd >= 0 ? 0 : -1;
}

int vk_sock_send_msg(int, int msg_id, const void *payload, int size, uint64_t)
{
    if (size < 0 || (size > 0 && payload == nullptr))
        return -1;
    std::lock_guard<std::mutex> hold(g_channel.lock);
    if (g_channel.fd < 0) {
        // The daemon may have come up since the channel was opened.
        if (g_channel.path.empty())
            return -1;
        g_channel.fd = connect_to(g_channel.path);
        if (g_channel.fd < 0)
            return -1;
        start_receiver();
    }
    return vksock_write_message(g_channel.fd, msg_id, payload, static_cast<uint32_t>(size), ++g_channel.sequence);
}

int vk_sock_uninit()
{
    std::thread receiver;
    {
        std::lock_guard<std::mutex> hold(g_channel.lock);
        if (g_channel.fd >= 0)
            shutdown(g_channel.fd, SHUT_RDWR);
        receiver = std::move(g_channel.receiver);
    }
    if (receiver.joinable())
        receiver.join();
    std::lock_guard<std::mutex> hold(g_channel.lock);
    if (g_channel.fd >= 0)
        close(g_channel.fd);
    g_channel.fd = -1;
    g_channel.callback = nullptr;
    return 0;
}
