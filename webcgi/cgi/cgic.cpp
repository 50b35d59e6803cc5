// CGI intake: environment, the GET/POST/upload request texts, and the multipart parser with its
// form entry list (see cgic.h).
//
// Paths handed to handlers are recorder paths ("/tmp/fw.bin"); in a sandbox the files themselves
// live under NVR_ROOT and handlers reach them through nvr_path(), like every other path.
#include "cgic.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dispatchreq.h"
#include "nvr_path.h"
#include "web_utils.h"

char *cgiServerSoftware;
char *cgiServerName;
char *cgiGatewayInterface;
char *cgiServerProtocol;
char *cgiServerPort;
char *cgiRequestMethod;
char *cgiPathInfo;
char *cgiPathTranslated;
char *cgiScriptName;
char *cgiQueryString;
char *cgiRemoteHost;
char *cgiRemoteAddr;
char *cgiAuthType;
char *cgiRemoteUser;
char *cgiRemoteIdent;
char *cgiServerAddr;
char *cgiContentType;
char cgiContentTypeData[1024];
int cgiContentLength;
char *cgiAccept;
char *cgiUserAgent;
char *cgiReferrer;
char *cgiCookie;
char *cgiMultipartBoundary;
FILE *cgiIn;
FILE *cgiOut;
cgiFormEntry *cgiFormEntryFirst;

static char k_empty[] = "";

static char *env_text(const char *name)
{
    char *v = std::getenv(name);
    return v ? v : k_empty;
}

// Splits CONTENT_TYPE into the bare media type and the boundary parameter, in place.
static void parse_content_type()
{
    copy_text(cgiContentTypeData, env_text("CONTENT_TYPE"));
    cgiContentType = cgiContentTypeData;
    cgiMultipartBoundary = k_empty;
    char *semi = std::strchr(cgiContentTypeData, ';');
    if (semi == nullptr)
        return;
    *semi = '\0';
    char *param = semi + 1;
    while (param != nullptr) {
        char *next = std::strchr(param, ';');
        if (next)
            *next++ = '\0';
        while (std::isspace(static_cast<unsigned char>(*param)))
            ++param;
        if (strncasecmp(param, "boundary=", 9) == 0) {
            char *b = param + 9;
            char *end = b;
            while (*end && !std::isspace(static_cast<unsigned char>(*end)))
                ++end;
            *end = '\0';
            cgiMultipartBoundary = b;
            return;
        }
        param = next;
    }
}

void cgi_read_environment()
{
    cgiServerSoftware = env_text("SERVER_SOFTWARE");
    cgiServerName = env_text("SERVER_NAME");
    cgiGatewayInterface = env_text("GATEWAY_INTERFACE");
    cgiServerProtocol = env_text("SERVER_PROTOCOL");
    cgiServerPort = env_text("SERVER_PORT");
    cgiRequestMethod = env_text("REQUEST_METHOD");
    cgiPathInfo = env_text("PATH_INFO");
    cgiPathTranslated = env_text("PATH_TRANSLATED");
    cgiScriptName = env_text("SCRIPT_NAME");
    cgiQueryString = env_text("QUERY_STRING");
    cgiRemoteHost = env_text("REMOTE_HOST");
    cgiRemoteAddr = env_text("REMOTE_ADDR");
    cgiAuthType = env_text("AUTH_TYPE");
    cgiRemoteUser = env_text("REMOTE_USER");
    cgiRemoteIdent = env_text("REMOTE_IDENT");
    cgiServerAddr = env_text("HTTP_HOST");
    parse_content_type();
    cgiContentLength = std::atoi(env_text("CONTENT_LENGTH"));
    cgiAccept = env_text("HTTP_ACCEPT");
    cgiUserAgent = env_text("HTTP_USER_AGENT");
    cgiReferrer = env_text("HTTP_REFERER");
    cgiCookie = env_text("HTTP_COOKIE");
    cgiIn = stdin;
    cgiOut = stdout;
    cgiFormEntryFirst = nullptr;
}

void strrpl(char *dst, int dst_size, const char *src, const char *find, const char *replacement)
{
    if (dst == nullptr || dst_size <= 0)
        return;
    std::string out;
    std::string_view s(src ? src : "");
    std::string_view f(find ? find : "");
    if (f.empty()) {
        out = s;
    } else {
        size_t pos = 0;
        for (;;) {
            size_t hit = s.find(f, pos);
            if (hit == std::string_view::npos) {
                out.append(s.substr(pos));
                break;
            }
            out.append(s.substr(pos, hit - pos));
            out.append(replacement ? replacement : "");
            pos = hit + f.size();
        }
    }
    copy_text(dst, static_cast<size_t>(dst_size), out);
}

// Request code from PATH_INFO (at most 127 characters); false when empty.
static bool request_code(char (&code)[CGI_CODE_SIZE])
{
    copy_text(code, cgiPathInfo ? cgiPathInfo : "");
    return code[0] != '\0';
}

void cgiDealGet()
{
    char code[CGI_CODE_SIZE];
    if (!request_code(code))
        return;
    char query[CGI_QUERY_SIZE];
    copy_text(query, cgiQueryString ? cgiQueryString : "");
    char request[CGI_QUERY_SIZE];
    strrpl(request, sizeof request, query, "%22", "\"");
    DispatchWebReq(code, request);
}

void cgiDealPost()
{
    char code[CGI_CODE_SIZE];
    if (!request_code(code))
        return;
    char *body = static_cast<char *>(std::calloc(CGI_POST_SIZE, 1));
    if (body == nullptr)
        return;
    FILE *in = cgiIn ? cgiIn : stdin;
    bool at_end = false;
    for (int line = 0; line < CGI_POST_MAX_LINES && !at_end; ++line) {
        // The body is a text: each line goes where the text ends, so a line after one that
        // carried a NUL byte continues the text at that NUL.
        const int length = static_cast<int>(std::strlen(body));
        const int room = CGI_POST_SIZE - length;
        if (room <= 1)
            break;
        int got = 0;
        for (;;) {
            if (got >= room - 1)
                break;
            int c = std::getc(in);
            if (c == EOF) {
                at_end = true;
                break;
            }
            body[length + got++] = static_cast<char>(c);
            if (c == '\n')
                break;
        }
        body[length + got] = '\0';
    }
    DispatchWebReq(code, body);
    std::free(body);
}

static bool is_raw_upload(std::string_view code) { return code == "/1010" || code == "/6082" || code == "/2079"; }

// The recorder form of a sandboxed path (the path itself on the recorder).
static std::string recorder_path(const std::string &real)
{
    const std::string &root = nvr_root();
    if (!root.empty() && real.compare(0, root.size(), root) == 0 && real.size() > root.size() &&
        real[root.size()] == '/')
        return real.substr(root.size());
    return real;
}

// Moves a file by rename, or by copy and unlink when the target is on another file system.
static int move_file(const std::string &from, const std::string &to)
{
    if (std::rename(from.c_str(), to.c_str()) == 0)
        return 0;
    if (errno != EXDEV)
        return -1;
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return -1;
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (out < 0) {
        close(in);
        return -1;
    }
    char buf[65536];
    ssize_t n;
    int rc = 0;
    while ((n = read(in, buf, sizeof buf)) > 0) {
        if (write(out, buf, static_cast<size_t>(n)) != n) {
            rc = -1;
            break;
        }
    }
    if (n < 0)
        rc = -1;
    close(in);
    if (close(out) != 0)
        rc = -1;
    if (rc == 0)
        unlink(from.c_str());
    else
        unlink(to.c_str());
    return rc;
}

void cgiDealUpload()
{
    char code[CGI_CODE_SIZE];
    if (!request_code(code))
        return;
    const bool raw = is_raw_upload(code);

    char client_name[CGI_FILENAME_SIZE] = "";
    char base_name[CGI_FILENAME_SIZE] = "";
    if (!raw) {
        if (cgiFormFileName("file", client_name, sizeof client_name) != cgiFormSuccess)
            return;
        std::string_view name(client_name);
        size_t sep = name.find_last_of("/\\");
        std::string_view base = sep == std::string_view::npos ? name : name.substr(sep + 1);
        // A name that leaves no file of its own in /tmp is no file name.
        if (base.empty() || base == "." || base == "..")
            return;
        copy_text(base_name, base);
    }
    cgiFormEntry *entry = cgiFormEntryFindFirst("file");
    if (!raw && entry == nullptr)
        return;

    const char *query = cgiQueryString ? cgiQueryString : "";
    char request[CGI_UPLOAD_TEXT_SIZE];
    std::string_view code_view(code);
    if (raw) {
        snprintf(request, sizeof request, "%s & %s", "temp", query);
    } else if (code_view == "/1019" || code_view == "/oem") {
        snprintf(request, sizeof request, "%s & %s", recorder_path(entry->tfileName).c_str(), query);
    } else {
        std::string temp = entry->tfileName;
        size_t slash = temp.rfind('/');
        std::string target = (slash == std::string::npos ? std::string() : temp.substr(0, slash + 1)) + base_name;
        move_file(temp, target); // the handler finds out when it opens the file
        std::string text = recorder_path(target);
        const char *param = std::strstr(query, "param:");
        if (param != nullptr) {
            std::string_view p(param + 6);
            p = p.substr(0, p.find('&'));
            char value[CGI_UPLOAD_PARAM_SIZE];
            copy_text(value, p);
            text += " & ";
            text += value;
        }
        copy_text(request, text);
    }
    DispatchWebReq(code, request);
}

int cgiReadMultipartForm()
{
    mpStream stream;
    mpInit(&stream, cgiIn ? cgiIn : stdin, cgiContentLength);
    return cgiParseMultipart(&stream, cgiMultipartBoundary ? cgiMultipartBoundary : "", cgiContentLength);
}

cgiFormEntry *cgiFormEntryFindFirst(const char *name)
{
    for (cgiFormEntry *e = cgiFormEntryFirst; e != nullptr; e = e->next)
        if (name && std::strcmp(e->attr, name) == 0)
            return e;
    return nullptr;
}

int cgiFormFileName(const char *name, char *buffer, int size)
{
    cgiFormEntry *e = cgiFormEntryFindFirst(name);
    if (e == nullptr) {
        if (buffer && size > 0)
            buffer[0] = '\0';
        return cgiFormNotFound;
    }
    if (e->fileName[0] == '\0') {
        if (buffer && size > 0)
            buffer[0] = '\0';
        return cgiFormNoFileName;
    }
    size_t full = copy_text(buffer, size > 0 ? static_cast<size_t>(size) : 0, e->fileName);
    return full >= static_cast<size_t>(size) ? cgiFormTruncated : cgiFormSuccess;
}

static void free_entry(cgiFormEntry *e)
{
    if (e == nullptr)
        return;
    std::free(e->attr);
    std::free(e->value);
    std::free(e->fileName);
    std::free(e->contentType);
    std::free(e->tfileName);
    std::free(e);
}

void cgiReleaseRequest()
{
    cgiFormEntry *e = cgiFormEntryFirst;
    while (e != nullptr) {
        cgiFormEntry *next = e->next;
        if (e->tfileName && e->tfileName[0] != '\0')
            unlink(e->tfileName);
        free_entry(e);
        e = next;
    }
    cgiFormEntryFirst = nullptr;
}
