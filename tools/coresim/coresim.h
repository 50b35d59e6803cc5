// coresim: the core daemon as a program of ours. It listens on the sandbox's "/var/run/vksocket"
// and, in recorder mode, answers each request id with a family's handler. A handler family is
// one file in families/ that registers its request ids with CORESIM_REQUEST; it keeps its own
// model state in file-local variables (one coresim process serves a whole demo or test).
//
//   static void on_disk_list(CoreRequest &req) { req.reply(8433, records.data(), size); }
//   CORESIM_REQUEST(3433, on_disk_list);
//
// A request with no handler is accepted and not answered (notices such as 3485 log records
// are mostly of that kind; a family that keeps them registers a handler that stores and does not
// reply). `--replay FILE` replaces every family by the script; `--log FILE` appends each message
// received as "<request id> <payload hex or ->".
#pragma once
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

struct CoreRequest {
    int request_id;
    std::string payload;
    std::vector<std::pair<int, std::string>> replies; // (response id, payload) sent in order

    void reply(int response_id, const void *data, size_t size)
    {
        replies.emplace_back(response_id, std::string(static_cast<const char *>(data), size));
    }
    template <typename T> void reply_record(int response_id, const T &record)
    {
        reply(response_id, &record, sizeof(T));
    }
    // Reads a T from the payload at `offset`; zero where the payload is shorter.
    template <typename T> T arg(size_t offset = 0) const
    {
        T v{};
        if (offset < payload.size())
            std::memcpy(&v, payload.data() + offset, std::min(sizeof(T), payload.size() - offset));
        return v;
    }
};

typedef void (*CoreHandler)(CoreRequest &request);

void coresim_register(int request_id, CoreHandler handler);

// The sandbox root coresim serves (for families that read the config database).
const std::string &coresim_root();

struct CoreRegistrar {
    CoreRegistrar(int request_id, CoreHandler handler) { coresim_register(request_id, handler); }
};
#define CORESIM_CONCAT2(a, b) a##b
#define CORESIM_CONCAT(a, b) CORESIM_CONCAT2(a, b)
#define CORESIM_REQUEST(ID, HANDLER) \
    static CoreRegistrar CORESIM_CONCAT(coresim_registrar_, __LINE__)(ID, HANDLER)
