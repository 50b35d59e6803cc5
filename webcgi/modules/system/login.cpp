// Login family: sign-in with user name and password digest ("/1000"), sign-in from the link of
// an alarm e-mail ("/1018", judged by the core daemon) and the sign-off log entry ("/1014").
//
// webcgi keeps no session: a sign-in answers the account's type and rights, a fresh session
// identifier and a few device facts, and leaves an operation log record on the core daemon.
// The accounts are the user records of user_records.h.
#include "login.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cgic.h"
#include "ipc.h"
#include "json_answer.h"
#include "nvr_path.h"
#include "system.h"
#include "user_fields.h"
#include "user_records.h"
#include "web_utils.h"

namespace {
constexpr int LOG_SUB_LOGIN = 201;
constexpr int LOG_SUB_LOGOUT = 202;
constexpr int LOG_PARAMETER_LOGIN = 900;
constexpr int REQ_MAIL_LOGIN = 3504;
constexpr int MAIL_LINK_SIZE = 256;
constexpr int MAIL_COOKIE_SECONDS = 600;
constexpr int MAIL_DOMAIN_MAX = 53;

constexpr int LOGIN_REFUSED = -1;   // unknown user or wrong digest
constexpr int LOGIN_NOT_WEB = -2;   // type 3: never admitted to the web interface

constexpr const char *k_ssl_dirs[] = {"/mnt/nand/ssl", "/mnt/nand/ssl/tmp"};

// The certificate directories the HTTPS pages rely on, made the first time anyone signs in.
void config_ssl_params()
{
    for (const char *dir : k_ssl_dirs) {
        std::string path = nvr_path(dir);
        struct stat st;
        if (stat(path.c_str(), &st) != 0 && mkdir(path.c_str(), 0777) != 0)
            CGI_LOG("login.cpp", "mkdir %s failed: %s", path.c_str(), std::strerror(errno));
    }
}

// Fills `buffer` with random bytes from the kernel; false when no random source answers.
bool read_random(unsigned char *buffer, size_t size)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = getrandom(buffer + done, size - done, 0);
        if (n > 0) {
            done += (size_t)n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    if (done == size)
        return true;
    // Kernels older than getrandom: the same source through its device.
    FILE *device = std::fopen("/dev/urandom", "rb");
    if (device == nullptr)
        return false;
    bool ok = std::fread(buffer + done, 1, size - done, device) == size - done;
    std::fclose(device);
    return ok;
}

void send_login_log(int sub_type, const char *user_name)
{
    LogRecord record;
    cgi_init_log_info(&record);
    record.main_type = LOG_MAIN_OPERATION;
    record.sub_type = sub_type;
    record.parameter = LOG_PARAMETER_LOGIN;
    if (user_name != nullptr) {
        std::memset(record.user_name, 0, sizeof record.user_name);
        copy_text(record.user_name, user_name);
    }
    cgi_send_log(&record);
}

// The login type of an account: its stored type, -1 for no account or a digest that differs
// (letter case aside), and -2 for type 3 whatever the digest. An empty digest matches nothing,
// not even an account stored without one.
int login_type_of(bool found, const UserRecord &user, const char *md5)
{
    if (!found)
        return LOGIN_REFUSED;
    if (user.type == USER_TYPE_NO_WEB)
        return LOGIN_NOT_WEB;
    std::string stored(field_text(user.password));
    if (md5[0] == '\0' || strcasecmp(stored.c_str(), md5) != 0)
        return LOGIN_REFUSED;
    return user.type;
}

void add_string(json_object *object, const char *key, std::string_view text)
{
    json_object_object_add(object, key, json_object_new_string_len(text.data(), (int)text.size()));
}
} // namespace

std::string get_session_id()
{
    constexpr int digits = 32;
    std::string id;
    id.reserve(digits);
    unsigned char bytes[64];
    while ((int)id.size() < digits) {
        if (!read_random(bytes, sizeof bytes))
            return "";
        // Bytes from 250 up would favour the low digits.
        for (unsigned char b : bytes)
            if (b < 250 && (int)id.size() < digits)
                id.push_back((char)('0' + b % 10));
    }
    return id;
}

int on_cgi_user_login(const char *request)
{
    JsonPtr body = json_parse_request(request);
    if (!body)
        return -1;
    config_ssl_params();

    char user_name[256] = "";
    char md5[33] = "";
    if (json_object_is_type(body.get(), json_type_object)) {
        on_cgi_get_string_from_json(body.get(), "userName", user_name, sizeof user_name);
        on_cgi_get_string_from_json(body.get(), "md5", md5, sizeof md5);
    }

    UserRecord user{};
    bool found = read_user_by_name(VKDB_MAIN, &user, user_name) == 0;
    int type = login_type_of(found, user, md5);

    JsonPtr answer(json_object_new_object());
    json_object_object_add(answer.get(), "type", json_object_new_int(type));

    int failover_mode = get_param_int(VKDB_MAIN, "failover_mode", 0);
    int same_channel = get_param_int(VKDB_MAIN, "same_channel_exist", 0) == 2 ? 1 : 0;
    char hardware_version[32] = "";
    get_param_value(VKDB_MAIN, "hardware_version", hardware_version, sizeof hardware_version, "V1.1");

    if (type >= 0) {
        std::string session_id = get_session_id();
        if (session_id.empty()) {
            CGI_LOG("login.cpp", "login: no random source for the session id");
            cgi_error_to_webserver(CGI_TEXT);
            return -1;
        }
        char software_version[256] = "";
        char model[256] = "";
        get_param_value(VKDB_MAIN, "software_version", software_version, sizeof software_version,
                        "7x.7.0.9");
        get_param_value(VKDB_MAIN, "model", model, sizeof model, "");

        add_string(answer.get(), "userName", field_text(user.name));
        add_user_rights(answer.get(), user, "remotePermisson");
        add_string(answer.get(), "sessionId", session_id);
        json_object_object_add(answer.get(), "failoverMode", json_object_new_int(failover_mode));
        json_object_object_add(answer.get(), "sameChannel", json_object_new_int(same_channel));
        add_string(answer.get(), "hardwareVersion", field_text(hardware_version));
        add_string(answer.get(), "softwareVersion", field_text(software_version));
        add_string(answer.get(), "model", field_text(model));

        send_login_log(LOG_SUB_LOGIN, user_name);
    }
    cgi_writeback_webserver(CGI_TEXT, json_text(answer.get()));
    return 0;
}

int on_cgi_user_logout(const char *request)
{
    send_login_log(LOG_SUB_LOGOUT, nullptr);
    cgi_writeback_webserver(CGI_TEXT, "OK");
    return 0;
}

int on_cgi_user_login_from_mail(const char *request)
{
    // A link without any text (a bare GET) has nothing for the core daemon to judge.
    if (request == nullptr || request[0] == '\0')
        return -1;
    char link[MAIL_LINK_SIZE] = {};
    copy_text(link, request);
    cgi_start_ipc(on_system_ipc_callback, REQ_MAIL_LOGIN, sizeof link, link, 0);
    if (g_callback_done == 0)
        cgi_error_to_webserver(CGI_TEXT);
    cgi_stop_ipc();
    return 0;
}

int on_user_login_from_mail_cb(int count, const void *payload)
{
    int32_t result = -1; // an answer without its result word accepts nothing
    if (count >= 1)
        std::memcpy(&result, payload, sizeof result);
    if (result == 0) {
        std::string_view host = cgiServerAddr != nullptr ? cgiServerAddr : "";
        host = host.substr(0, host.find(':'));
        char domain[MAIL_DOMAIN_MAX + 1] = "";
        copy_text(domain, host);
        constexpr const char *cookies[][2] = {
            {"userName", "temp"}, {"userType", "2"}, {"permission", "0"},
            {"sessionId", "0"},   {"language", "en-US"},
        };
        for (const auto &cookie : cookies)
            cgiHeaderCookieSetString(cookie[0], cookie[1], MAIL_COOKIE_SECONDS, "/", domain);
        cgiHeaderLocation("../../html/index.html");
    } else {
        cgiHeaderLocation("../../html/home.html");
    }
    std::fflush(cgiOut);
    g_callback_done = 1;
    return 0;
}
