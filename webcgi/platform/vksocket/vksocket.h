// Daemon channel: messages between webcgi and the core daemon over the Unix-domain socket
// "/var/run/vksocket" (sandboxed through nvr_path).
//
// Wire format: each message is a header of eight little-endian 32-bit words followed by the
// payload.
//   word 0  magic 0x4B53564B ("VKSK")
//   word 1  format version (1)
//   word 2  sequence number of the sender
//   word 3  message id: a request id, or the response id (request id + 5000) of an answer
//   word 4  flags (0)
//   word 5  payload length in bytes
//   word 6, 7  zero
// A receiver that meets a bad magic or an absurd length (> VKSOCK_MAX_PAYLOAD) drops the
// connection.
//
// Client side (webcgi): vk_sock_init connects and starts a receiving thread that calls the
// callback once per message with (context, header words, payload). The payload pointer is never
// null for a received message: an empty payload is delivered as a valid pointer with length 0.
// Server side (coresim, tests): vksock_server_* below.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t VKSOCK_MAGIC = 0x4B53564B;
constexpr uint32_t VKSOCK_VERSION = 1;
constexpr int VKSOCK_HEADER_WORDS = 8;
constexpr uint32_t VKSOCK_MAX_PAYLOAD = 64u << 20;
constexpr int VKSOCK_RESPONSE_OFFSET = 5000;
constexpr const char *VKSOCK_PATH = "/var/run/vksocket";

typedef int (*vk_sock_callback)(void *context, const uint32_t *header, const void *payload);

int vk_sock_init(vk_sock_callback callback, int mode, int type, const char *path);
int vk_sock_send_msg(int target, int msg_id, const void *payload, int size, uint64_t flags);
int vk_sock_uninit();

// Framing shared by both sides.
struct VkMessage {
    uint32_t header[VKSOCK_HEADER_WORDS];
    std::string payload;
};
// Writes one message; 0 or -1.
int vksock_write_message(int fd, int msg_id, const void *payload, uint32_t size, uint32_t sequence);
// Reads one whole message (blocking); 1 read, 0 orderly end of stream, -1 error or bad frame.
int vksock_read_message(int fd, VkMessage &message);

// Server side: a listening socket at `path` (an existing stale socket file is replaced).
int vksock_server_listen(const std::string &path);
