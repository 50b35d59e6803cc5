// Accounts family of the simulated core daemon: judges the sign-in links of alarm e-mails
// (request 3504) and answers the PoE-camera password change (request 3265). The account-change
// notices (3505) and the unanswered PoE request (3267) are accepted as they come.
//
// A mail link is accepted when one of its parameters is "token=<T>", T being the token this
// daemon keeps in "<root>/var/lib/coresim/mail_token" (first line). Without that file a random
// token is made and written there, so the demo can show a working link and a test can set its own.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

#include "coresim.h"

namespace {
constexpr int REQ_MAIL_LOGIN = 3504;
constexpr int RESP_MAIL_LOGIN = 8504;
constexpr int REQ_POE_PASSWORD = 3265;
constexpr int RESP_POE_PASSWORD = 8265;
constexpr int32_t MAIL_ACCEPTED = 0;
constexpr int32_t MAIL_REFUSED = 1;

std::string mail_token_path() { return coresim_root() + "/var/lib/coresim/mail_token"; }

std::string make_token()
{
    std::random_device source;
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 32; ++i)
        token.push_back(digits[source() % 16]);
    return token;
}

// The kept token, made on first use.
std::string mail_token()
{
    const std::string path = mail_token_path();
    std::string token;
    {
        std::ifstream in(path);
        std::getline(in, token);
    }
    while (!token.empty() && (token.back() == '\r' || token.back() == ' ' || token.back() == '\t'))
        token.pop_back();
    if (!token.empty())
        return token;
    token = make_token();
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    std::ofstream(path) << token << '\n';
    return token;
}

bool mail_link_valid(std::string_view link, const std::string &token)
{
    if (!link.empty() && link.front() == '?')
        link.remove_prefix(1);
    while (!link.empty()) {
        size_t end = link.find('&');
        std::string_view parameter = link.substr(0, end);
        if (parameter.substr(0, 6) == "token=" && parameter.substr(6) == token)
            return true;
        if (end == std::string_view::npos)
            break;
        link.remove_prefix(end + 1);
    }
    return false;
}

void on_mail_login(CoreRequest &request)
{
    std::string_view link(request.payload);
    link = link.substr(0, link.find('\0'));
    int32_t result = mail_link_valid(link, mail_token()) ? MAIL_ACCEPTED : MAIL_REFUSED;
    request.reply_record(RESP_MAIL_LOGIN, result);
}

void on_poe_password(CoreRequest &request)
{
    const int32_t done = 0;
    request.reply_record(RESP_POE_PASSWORD, done);
}
} // namespace

CORESIM_REQUEST(REQ_MAIL_LOGIN, on_mail_login);
CORESIM_REQUEST(REQ_POE_PASSWORD, on_poe_password);
