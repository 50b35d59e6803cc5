// Sandbox root and time scale: see nvr_path.h.
#include "nvr_path.h"

#include <cstdlib>
#include <ctime>
#include <cerrno>

const std::string &nvr_root()
{
    static const std::string root = [] {
        const char *r = std::getenv("NVR_ROOT");
        std::string s = r ? r : "";
        while (s.size() > 1 && s.back() == '/')
            s.pop_back();
        return s;
    }();
    return root;
}

bool nvr_in_sandbox() { return !nvr_root().empty(); }

std::string nvr_path(std::string_view recorder_path)
{
    const std::string &root = nvr_root();
    if (root.empty() || recorder_path.empty() || recorder_path.front() != '/')
        return std::string(recorder_path);
    std::string out;
    out.reserve(root.size() + recorder_path.size());
    out.append(root);
    out.append(recorder_path);
    return out;
}

long nvr_time_scale()
{
    static const long scale = [] {
        if (!nvr_in_sandbox())
            return 1L;
        const char *s = std::getenv("NVR_TIME_SCALE");
        long v = s ? std::strtol(s, nullptr, 10) : 1;
        return v >= 1 ? v : 1L;
    }();
    return scale;
}

void nvr_sleep_us(long long us)
{
    us /= nvr_time_scale();
    if (us <= 0)
        return;
    struct timespec ts;
    ts.tv_sec = us / 1000000;
    ts.tv_nsec = (us % 1000000) * 1000;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void nvr_sleep_ms(long ms) { nvr_sleep_us(static_cast<long long>(ms) * 1000); }
