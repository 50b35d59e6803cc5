// Answers, debug log, shell commands, the user name, the operation log record, the file lock,
// MAC addresses and the cookie/redirect headers (see web_utils.h).
#include "web_utils.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <net/if.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cgic.h"
#include "nvr_path.h"

static constexpr const char *k_log_file = "/mnt/nand/cgi_log.txt";

size_t copy_text(char *dst, size_t size, std::string_view src)
{
    if (size == 0 || dst == nullptr)
        return src.size();
    size_t n = src.size() < size - 1 ? src.size() : size - 1;
    if (n > 0)
        std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
    return src.size();
}

std::string_view field_text(const char *field, size_t size)
{
    const void *nul = std::memchr(field, '\0', size);
    return std::string_view(field, nul ? static_cast<const char *>(nul) - field : size);
}

int cgi_writeback_webserver(int type, const char *body)
{
    if (body == nullptr)
        return -1;
    FILE *out = cgiOut ? cgiOut : stdout;
    if (type == CGI_TEXT)
        std::fputs("Content-type: text/plain\r\n\r\n", out);
    else if (type == CGI_JSON)
        std::fputs("Content-type: application/json\r\n\r\n", out);
    std::fputs(body, out);
    std::fflush(out);
    return 0;
}

int cgi_error_to_webserver(int type)
{
    if (type == CGI_TEXT)
        cgi_writeback_webserver(CGI_TEXT, "CGI ERROR");
    else if (type == CGI_JSON)
        cgi_writeback_webserver(CGI_JSON, "{status:\"CGI ERROR\"}");
    return 0;
}

int cgi_log(const char *file, int line, const char *function, const char *format, ...)
{
    time_t now = time(nullptr);
    struct tm tm_now;
    localtime_r(&now, &tm_now);
    char when[64];
    snprintf(when, sizeof when, "%4d-%02d-%02d %02d:%02d:%02d", tm_now.tm_year + 1900,
             tm_now.tm_mon + 1, tm_now.tm_mday, tm_now.tm_hour, tm_now.tm_min, tm_now.tm_sec);

    char message[2048];
    va_list ap;
    va_start(ap, format);
    vsnprintf(message, sizeof message, format, ap);
    va_end(ap);

    char text[2048];
    int n = snprintf(text, sizeof text, "[toman debug] %s  %s:%d in %s: %s\n", when, file ? file : "",
                     line, function ? function : "", message);
    if (n < 0)
        return -1;
    size_t len = static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;

    FILE *f = std::fopen(nvr_path(k_log_file).c_str(), "a+");
    if (f == nullptr)
        return -1;
    std::fwrite(text, 1, len, f);
    std::fflush(f);
    std::fclose(f);
    return 0;
}

int web_system(const char *command)
{
    if (command == nullptr)
        return -1;
    // In a sandbox the stand-in tools shadow the machine's own.
    if (nvr_in_sandbox()) {
        static bool path_set = false;
        if (!path_set) {
            const char *old = std::getenv("PATH");
            std::string path = nvr_root() + "/bin:" + (old ? old : "/usr/bin:/bin");
            setenv("PATH", path.c_str(), 1);
            setenv("NVR_ROOT", nvr_root().c_str(), 1);
            path_set = true;
        }
    }
    std::fflush(nullptr);
    int status = std::system(command);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return 0;
}

std::string shell_quote(std::string_view text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

int get_current_username(char *buffer)
{
    if (buffer == nullptr || cgiCookie == nullptr)
        return -1;
    const char *found = std::strstr(cgiCookie, "userName");
    if (found == nullptr)
        return -1;
    // The value starts after "userName" and the character that follows it.
    size_t start = static_cast<size_t>(found - cgiCookie) + 9;
    std::string_view cookie(cgiCookie);
    std::string_view value = start <= cookie.size() ? cookie.substr(start) : std::string_view();
    size_t semi = value.find(';');
    if (semi != std::string_view::npos)
        value = value.substr(0, semi);
    size_t eq = value.find('=');
    if (eq != std::string_view::npos)
        value = value.substr(eq + 1);
    copy_text(buffer, 64, value);
    return 0;
}

int cgi_init_log_info(LogRecord *record)
{
    if (record == nullptr)
        return -1;
    std::memset(record, 0, sizeof *record);
    record->main_type = LOG_MAIN_OPERATION;
    record->remote = 1;
    char user[64] = "";
    if (get_current_username(user) == 0)
        copy_text(record->user_name, user);
    copy_text(record->client_addr, 46, cgiRemoteAddr ? cgiRemoteAddr : "");
    return 0;
}

int file_lock(const char *path)
{
    if (path == nullptr)
        return -1;
    int fd = open(nvr_path(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    while (lockf(fd, F_LOCK, 0) != 0) {
        if (errno != EINTR) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

void file_unlock(int descriptor)
{
    if (descriptor < 0)
        return;
    lockf(descriptor, F_ULOCK, 0);
    close(descriptor);
}

static void read_mac(const char *ifname, char *out, const char *fallback)
{
    copy_text(out, 18, fallback);
    int sock = socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0) {
        perror("create socket fail\n");
        return;
    }
    struct ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    copy_text(ifr.ifr_name, IFNAMSIZ, ifname);
    int rc = ioctl(sock, SIOCGIFHWADDR, &ifr);
    close(sock);
    if (rc < 0)
        return;
    const unsigned char *m = reinterpret_cast<const unsigned char *>(ifr.ifr_hwaddr.sa_data);
    snprintf(out, 18, "%02X:%02X:%02X:%02X:%02X:%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
}

int get_mac_addr(char *eth0, char *eth1)
{
    if (eth0)
        read_mac("eth0", eth0, "02:4B:7D:0A:19:C8");
    if (eth1)
        read_mac("eth1", eth1, "02:4B:7D:0A:19:C9");
    return 0;
}

int cgiHeaderCookieSetString(const char *name, const char *value, int seconds_to_live,
                             const char *path, const char *domain)
{
    static constexpr const char *days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    time_t expires = time(nullptr) + seconds_to_live;
    struct tm gmt;
    gmtime_r(&expires, &gmt);
    FILE *out = cgiOut ? cgiOut : stdout;
    std::fprintf(out, "Set-Cookie: %s=%s; domain=%s; expires=%s, %02d-%s-%04d %02d:%02d:%02d GMT; path=%s\r\n",
                 name ? name : "", value ? value : "", domain ? domain : "", days[gmt.tm_wday],
                 gmt.tm_mday, months[gmt.tm_mon], gmt.tm_year + 1900, gmt.tm_hour, gmt.tm_min,
                 gmt.tm_sec, path ? path : "");
    return 0;
}

int cgiHeaderLocation(const char *url)
{
    FILE *out = cgiOut ? cgiOut : stdout;
    std::fprintf(out, "Location: %s\r\n\r\n", url ? url : "");
    std::fflush(out);
    return 0;
}
