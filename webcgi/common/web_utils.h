// Services every handler uses: the one HTTP answer of the process, the generic error answer, the
// debug log file, shell commands, the requesting user's name, the operation log record sent to
// the core daemon, an advisory file lock, the MAC addresses, the cookie and redirect headers, and
// the bounded text helpers the house uses instead of strcpy/sprintf.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Answer types of cgi_writeback_webserver / cgi_error_to_webserver.
enum { CGI_TEXT = 0, CGI_JSON = 1 };

int cgi_writeback_webserver(int type, const char *body);
int cgi_error_to_webserver(int type);

// Appends "[toman debug] <time>  <file>:<line> in <function>: <message>" to /mnt/nand/cgi_log.txt.
int cgi_log(const char *file, int line, const char *function, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
// Callers pass their own source file name and an empty function name.
#define CGI_LOG(FILE_NAME, ...) cgi_log(FILE_NAME, __LINE__, "", __VA_ARGS__)

// Runs a command through the shell; 0 only for a normal exit with status 0. In a sandbox the
// stand-in tools in $NVR_ROOT/bin come first on PATH. Request data must reach `command` only
// through shell_quote().
int web_system(const char *command);
// 'text' quoted for the shell: single quotes, with each embedded quote written as '\''.
std::string shell_quote(std::string_view text);

int get_current_username(char *buffer); // buffer of at least 64 bytes; 63 characters kept

// Operation log record: sent to the core daemon with request 3485 (672 bytes) and returned by
// log searches.
#pragma pack(push, 1)
struct LogRecord {
    int32_t main_type;     // 4 = operation
    int32_t zero0;
    int64_t sub_type;
    int32_t zero1;
    int32_t pts;           // seconds since 1970, UTC
    int32_t parameter;     // translation id of the log texts
    int32_t remote;        // 1 = from the web
    int32_t channel;
    char client_addr[46];
    char user_name[64];
    char zero2[2];
    int32_t size;
    char detail[512];
    char zero3[8];
};
#pragma pack(pop)
static_assert(sizeof(LogRecord) == 672);
static_assert(offsetof(LogRecord, main_type) == 0);
static_assert(offsetof(LogRecord, sub_type) == 8);
static_assert(offsetof(LogRecord, pts) == 20);
static_assert(offsetof(LogRecord, parameter) == 24);
static_assert(offsetof(LogRecord, remote) == 28);
static_assert(offsetof(LogRecord, channel) == 32);
static_assert(offsetof(LogRecord, client_addr) == 36);
static_assert(offsetof(LogRecord, user_name) == 82);
static_assert(offsetof(LogRecord, size) == 148);
static_assert(offsetof(LogRecord, detail) == 152);
static_assert(offsetof(LogRecord, zero3) == 664);

constexpr int LOG_MAIN_OPERATION = 4;
constexpr int REQ_OPERATION_LOG = 3485;

int cgi_init_log_info(LogRecord *record);

int file_lock(const char *path);
void file_unlock(int descriptor);

int get_mac_addr(char *eth0, char *eth1); // two 18-byte buffers

int cgiHeaderCookieSetString(const char *name, const char *value, int seconds_to_live,
                             const char *path, const char *domain);
int cgiHeaderLocation(const char *url);

// Bounded copy: at most size - 1 characters of src, always NUL-terminated (when size > 0).
// Returns the length of src, so a result >= size means the text was cut.
size_t copy_text(char *dst, size_t size, std::string_view src);
// Text of a fixed field that may lack its NUL: at most `size` bytes.
std::string_view field_text(const char *field, size_t size);
template <size_t N> std::string_view field_text(const char (&field)[N]) { return field_text(field, N); }
template <size_t N> size_t copy_text(char (&dst)[N], std::string_view src) { return copy_text(dst, N, src); }
