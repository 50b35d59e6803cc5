// Request intake through the real program: webcgi-probe is the real intake and dispatch with
// test handlers that print the request text they were handed and the form entries of an upload.
// Covers the GET/POST/upload texts, the intake limits, method and content-type choice, the
// multipart failure exit, and uploads whose client file names are hostile.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <cctype>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "webcgi_run.h"

namespace {

std::vector<std::string> list_dir(const std::string &dir)
{
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr)
        return names;
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
    }
    closedir(d);
    return names;
}

void remove_tree(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        for (auto &n : list_dir(path))
            remove_tree(path + "/" + n);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

// Every path under `dir` whose last component starts with `prefix`.
void find_named(const std::string &dir, const std::string &prefix, std::vector<std::string> &found)
{
    for (auto &n : list_dir(dir)) {
        std::string p = dir + "/" + n;
        if (n.rfind(prefix, 0) == 0)
            found.push_back(p);
        struct stat st;
        if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            find_named(p, prefix, found);
    }
}

// The text with the six characters after each "/tmp/cgic" shown as XXXXXX (mkstemp's part of a
// temporary file name), once they are checked to be letters and digits.
std::string temp_names_masked(std::string text)
{
    for (size_t p = text.find("/tmp/cgic"); p != std::string::npos; p = text.find("/tmp/cgic", p + 1)) {
        size_t at = p + 9;
        if (at + 6 > text.size())
            break;
        for (size_t i = at; i < at + 6; ++i)
            if (std::isalnum(static_cast<unsigned char>(text[i])))
                text[i] = 'X';
    }
    return text;
}

struct Part {
    std::string headers;
    std::string body;
};

Part field(const std::string &name, const std::string &value)
{
    return {"Content-Disposition: form-data; name=\"" + name + "\"\r\n", value};
}

Part file_part(const std::string &name, const std::string &filename, const std::string &content,
               const std::string &type = "application/octet-stream")
{
    return {"Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + filename + "\"\r\n" +
                "Content-Type: " + type + "\r\n",
            content};
}

std::string multipart(const std::string &boundary, const std::vector<Part> &parts, const std::string &end = "--\r\n")
{
    std::string body;
    for (auto &p : parts)
        body += "--" + boundary + "\r\n" + p.headers + "\r\n" + p.body + "\r\n";
    if (parts.empty())
        body += "--" + boundary;
    else
        body.erase(body.size() - 2); // the CR LF before the closing delimiter belongs to it
    return body + "\r\n--" + boundary + end;
}

CgiRequest upload(const std::string &code, const std::string &query, const std::string &body,
                  const std::string &content_type = "multipart/form-data; boundary=----probeB0undary")
{
    CgiRequest r;
    r.method = "POST";
    r.code = code;
    r.query = query;
    r.content_type = content_type;
    r.body = body;
    return r;
}

const std::string kB = "----probeB0undary";

// The probe's answer: the request text, then one line per form entry.
std::string probe(const std::string &request, const std::vector<std::string> &entries = {})
{
    std::string out = kTextHeader + "request=[" + request + "]\n";
    for (auto &e : entries)
        out += "entry " + e + "\n";
    return out;
}

std::string file_entry(const std::string &client, size_t length, const std::string &type, bool temp,
                       const std::string &name = "file")
{
    return "name=[" + name + "] length=" + std::to_string(length) + " file=[" + client + "] type=[" + type +
           "] temp=" + (temp ? "yes" : "no");
}

std::string field_entry(const std::string &name, const std::string &value)
{
    return "name=[" + name + "] length=" + std::to_string(value.size()) + " file=[] type=[] temp=no value=[" +
           value + "]";
}

class Intake : public ::testing::Test {
protected:
    Sandbox box;

    CgiResult run(CgiRequest r)
    {
        r.program = "webcgi-probe";
        r.daemon = Daemon::None;
        return run_webcgi(box, r);
    }
    std::vector<std::string> tmp() { return list_dir(box.path("/tmp")); }
    void clear_tmp()
    {
        for (auto &n : tmp())
            remove_tree(box.path("/tmp/" + n));
    }
};

// --- GET ------------------------------------------------------------------------------------

TEST_F(Intake, GetQueryReachesTheHandlerWithOnlyQuotesDecoded)
{
    struct Case {
        std::string method, code, query, request;
    };
    const std::vector<Case> cases = {
        {"GET", "/6100", "{%22portId%22:3}", "{\"portId\":3}"},
        {"GET", "/6100", "%7B%22a%22+1%7D%2522", "%7B\"a\"+1%7D%2522"},
        {"GET", "/6100", "", ""},
        {"get", "/probe", "a=1&b=2", "a=1&b=2"},
        {"GeT", "/123456", "x", "x"},
        {"GET", "/6100", std::string(255, 'q'), std::string(255, 'q')},
        {"GET", "/6100", std::string(256, 'q'), std::string(255, 'q')},
        {"GET", "/6100", std::string(4000, 'q'), std::string(255, 'q')},
        // The cut comes first: a quote escape across it stays as cut.
        {"GET", "/6100", std::string(253, 'q') + "%22", std::string(253, 'q') + "%2"},
        {"GET", "/6100", std::string(252, 'q') + "%22", std::string(252, 'q') + "\""},
    };
    for (const auto &c : cases) {
        CgiRequest r = CgiRequest::get(c.code, c.query);
        r.method = c.method;
        CgiResult res = run(r);
        EXPECT_EQ(res.status, 0) << c.query;
        EXPECT_EQ(res.out, probe(c.request)) << c.method << " " << c.query;
    }
}

TEST_F(Intake, GetIgnoresTheBody)
{
    CgiRequest r = CgiRequest::get("/6100", "q=1");
    r.content_type = "application/json";
    r.body = "{\"body\":1}";
    EXPECT_EQ(run(r).out, probe("q=1"));
}

// Requests that reach no handler: status 0 and nothing at all on standard output.
TEST_F(Intake, NoHandlerNoOutput)
{
    struct Case {
        const char *what;
        std::string method, code, content_type, body;
    };
    const std::vector<Case> cases = {
        {"empty PATH_INFO", "GET", "", "", ""},
        {"empty PATH_INFO, POST", "POST", "", "application/json", "{}"},
        {"unknown code", "GET", "/9999", "", ""},
        {"suffixed code", "GET", "/6100x", "", ""},
        {"trailing slash", "GET", "/6100/", "", ""},
        {"no slash", "GET", "6100", "", ""},
        {"case differs", "GET", "/PROBE", "", ""},
        {"very long code", "GET", "/6100" + std::string(5000, '0'), "", ""},
        {"PUT", "PUT", "/6100", "application/json", "{}"},
        {"HEAD", "HEAD", "/6100", "", ""},
        {"DELETE", "DELETE", "/6100", "", ""},
        {"no method", "", "/6100", "", ""},
        {"method with a suffix", "GETX", "/6100", "", ""},
        {"method with a blank", " GET", "/6100", "", ""},
        {"POSTX", "POSTX", "/6100", "application/json", "{}"},
        {"text/plain", "POST", "/6100", "text/plain", "{}"},
        {"no content type", "POST", "/6100", "", "{}"},
        {"application/jsonx", "POST", "/6100", "application/jsonx", "{}"},
        {"application/xml", "POST", "/6100", "application/xml", "<a/>"},
        {"multipart/mixed", "POST", "/6100", "multipart/mixed; boundary=x", "--x--"},
        {"json with a blank before the ';'", "POST", "/6100", "application/json ; charset=utf-8", "{}"},
    };
    for (const auto &c : cases) {
        CgiRequest r;
        r.method = c.method;
        r.code = c.code;
        r.content_type = c.content_type;
        r.body = c.body;
        CgiResult res = run(r);
        EXPECT_EQ(res.status, 0) << c.what;
        EXPECT_EQ(res.out, "") << c.what;
    }
}

// --- POST -----------------------------------------------------------------------------------

TEST_F(Intake, PostBodyAsSent)
{
    struct Case {
        std::string method, content_type, body;
    };
    const std::vector<Case> cases = {
        {"POST", "application/json", "{\"a\":1}"},
        {"Post", "application/json; charset=UTF-8", "{\"a\":1}"},
        {"post", "APPLICATION/JSON;charset=utf-8", "[1,2]\n"},
        {"POST", "application/x-www-form-urlencoded", "a=%22b%22+c&d=%7B"}, // no decoding at all
        {"POST", "Application/X-WWW-Form-Urlencoded; charset=iso-8859-1", "x=1"},
        {"POST", "application/json", ""},
        {"POST", "application/json", "line one\r\nline two\n\nline four"},
    };
    for (const auto &c : cases) {
        CgiRequest r = CgiRequest::post_json("/6100", c.body);
        r.method = c.method;
        r.content_type = c.content_type;
        CgiResult res = run(r);
        EXPECT_EQ(res.status, 0);
        EXPECT_EQ(res.out, probe(c.body)) << c.method << " " << c.content_type;
    }
}

TEST_F(Intake, PostKeepsAtMost128Lines)
{
    std::string body, first128;
    for (int i = 0; i < 200; ++i) {
        std::string line = "line " + std::to_string(i) + "\n";
        body += line;
        if (i < 128)
            first128 += line;
    }
    EXPECT_EQ(run(CgiRequest::post_json("/6100", body)).out, probe(first128));

    // Exactly 128 lines, the last without a line feed, arrive whole.
    std::string exact = first128 + "tail";
    exact.erase(exact.rfind("line 127\n"));
    exact += "line 127";
    EXPECT_EQ(run(CgiRequest::post_json("/6100", exact)).out, probe(exact));
}

// The body is read line by line into a text: a line read after one that carried a NUL byte
// goes where the text ends, at that NUL.
TEST_F(Intake, PostLineAfterANulContinuesTheText)
{
    EXPECT_EQ(run(CgiRequest::post_json("/6100", std::string("{\"a\"\0junk\n:1}\n", 14))).out, probe("{\"a\":1}\n"));
    EXPECT_EQ(run(CgiRequest::post_json("/6100", std::string("x\0", 2))).out, probe("x"));
}

TEST_F(Intake, PostKeepsAtMost30719Characters)
{
    const std::string one_line(40000, 'x');
    EXPECT_EQ(run(CgiRequest::post_json("/6100", one_line)).out, probe(std::string(30719, 'x')));

    std::string lines; // 100 lines of 400 bytes: cut inside line 77
    for (int i = 0; i < 100; ++i)
        lines += std::string(399, static_cast<char>('a' + i % 26)) + "\n";
    EXPECT_EQ(run(CgiRequest::post_json("/6100", lines)).out, probe(lines.substr(0, 30719)));

    const std::string fits(30719, 'y');
    EXPECT_EQ(run(CgiRequest::post_json("/6100", fits)).out, probe(fits));
}

// Bodies longer than what the intake reads: the program ends with input left unread, and the
// request still gets its answer (the cut body, or the upload text).
TEST_F(Intake, BodiesLeftPartlyUnread)
{
    const std::string big(300000, 'z');
    CgiResult res = run(CgiRequest::post_json("/6100", big));
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.out, probe(std::string(30719, 'z')));
    res = run(upload("/1010", "size=300000", multipart(kB, {file_part("file", "fw.bin", big)})));
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.out, probe("temp & size=300000"));
}

TEST_F(Intake, PostDoesNotConsultContentLength)
{
    CgiRequest r = CgiRequest::post_json("/6100", "{\"long\":\"body\"}");
    r.no_content_length = true;
    EXPECT_EQ(run(r).out, probe("{\"long\":\"body\"}"));
    r.env = {{"CONTENT_LENGTH", "3"}};
    EXPECT_EQ(run(r).out, probe("{\"long\":\"body\"}"));
    r.env = {{"CONTENT_LENGTH", "junk"}};
    EXPECT_EQ(run(r).out, probe("{\"long\":\"body\"}"));
}

// --- uploads ----------------------------------------------------------------------------------

TEST_F(Intake, UploadMovesTheFileToTmpUnderItsBaseName)
{
    const std::string content = "\x89PNG\r\n\x1a\n fake image \r\n--" + kB.substr(0, 8);
    const std::string client = "C:\\Users\\x\\logo.png";
    struct Case {
        std::string query, request;
    };
    const std::vector<Case> cases = {
        {"param:2&t=5", "/tmp/logo.png & 2"},
        {"", "/tmp/logo.png"},
        {"t=5", "/tmp/logo.png"},
        {"t=1&param:abc", "/tmp/logo.png & abc"},
        {"param:", "/tmp/logo.png & "},
        {"x=param:7&param:8", "/tmp/logo.png & 7"},
        {"param:" + std::string(300, 'p') + "&t=1", "/tmp/logo.png & " + std::string(255, 'p')},
    };
    for (const auto &c : cases) {
        clear_tmp();
        CgiResult res = run(upload("/3001", c.query,
                                   multipart(kB, {field("note", "hi"), file_part("file", client, content, "image/png")})));
        EXPECT_EQ(res.status, 0) << c.query;
        EXPECT_EQ(res.out, probe(c.request, {field_entry("note", "hi"),
                                             file_entry(client, content.size(), "image/png", false)}))
            << c.query;
        EXPECT_EQ(tmp(), std::vector<std::string>{"logo.png"}) << "temporary files left behind";
        EXPECT_EQ(box.read_file("/tmp/logo.png"), content);
    }
}

TEST_F(Intake, UploadBaseNames)
{
    struct Case {
        std::string client, base;
    };
    const std::vector<Case> cases = {
        {"fw.bin", "fw.bin"},
        {"dir/sub/fw.bin", "fw.bin"},
        {"a\\b/c\\d.bin", "d.bin"},
        {"/abs/path/e.bin", "e.bin"},
        {std::string(127, 'n'), std::string(127, 'n')},
        {"dir/" + std::string(120, 'm'), std::string(120, 'm')},
    };
    for (const auto &c : cases) {
        clear_tmp();
        CgiResult res = run(upload("/3001", "", multipart(kB, {file_part("file", c.client, "data")})));
        EXPECT_EQ(res.out, probe("/tmp/" + c.base, {file_entry(c.client, 4, "application/octet-stream", false)}))
            << c.client;
        EXPECT_EQ(tmp(), std::vector<std::string>{c.base});
    }
}

// Uploads to ordinary codes that are refused: status 0, no output, nothing left in /tmp.
TEST_F(Intake, UploadsRefused)
{
    struct Case {
        const char *what;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"client name of 128 characters", multipart(kB, {file_part("file", std::string(128, 'n'), "x")})},
        {"no file field", multipart(kB, {field("note", "x"), file_part("other", "o.bin", "x")})},
        {"file field without a file name", multipart(kB, {field("file", "x")})},
        {"empty file name", multipart(kB, {file_part("file", "", "")})},
        {"field name of another case", multipart(kB, {file_part("File", "f.bin", "x")})},
        {"empty submission", multipart(kB, {})},
        // A part that is not form-data makes no entry, and the parse reads its body as header
        // lines: the file part after it is never reached.
        {"a part that is not form-data before the file",
         multipart(kB, {{"Content-Disposition: attachment; name=\"file\"; filename=\"a.bin\"\r\n", "att"},
                        file_part("file", "f.bin", "x")})},
        {"no body", ""},
    };
    for (const auto &c : cases) {
        clear_tmp();
        CgiResult res = run(upload("/3001", "param:1", c.body));
        EXPECT_EQ(res.status, 0) << c.what;
        EXPECT_EQ(res.out, "") << c.what;
        EXPECT_TRUE(tmp().empty()) << c.what;
    }
}

TEST_F(Intake, UploadUsesTheFirstFileFieldAndDropsTheOthers)
{
    CgiResult res = run(upload("/3001", "", multipart(kB, {file_part("other", "o.bin", "other"),
                                                          file_part("file", "first.bin", "one"),
                                                          file_part("file", "second.bin", "two")})));
    EXPECT_EQ(res.out, probe("/tmp/first.bin", {file_entry("o.bin", 5, "application/octet-stream", true, "other"),
                                                file_entry("first.bin", 3, "application/octet-stream", false),
                                                file_entry("second.bin", 3, "application/octet-stream", true)}));
    EXPECT_EQ(tmp(), std::vector<std::string>{"first.bin"});
    EXPECT_EQ(box.read_file("/tmp/first.bin"), "one");
}

TEST_F(Intake, UploadKeepsTheTemporaryFileFor1019AndOem)
{
    for (const std::string code : {"/1019", "/oem"}) {
        clear_tmp();
        CgiResult res = run(upload(code, "lang=en&x=%22", multipart(kB, {file_part("file", "pack.tar", "TAR")})));
        EXPECT_EQ(res.status, 0);
        EXPECT_EQ(temp_names_masked(res.out),
                  probe("/tmp/cgicXXXXXX & lang=en&x=%22", {file_entry("pack.tar", 3, "application/octet-stream", true)}))
            << code;
        EXPECT_TRUE(tmp().empty()) << code << ": the temporary file outlived the process";
    }
}

TEST_F(Intake, RawUploadCodesGetTempAndTheQuery)
{
    const std::string body = multipart(kB, {field("a", "1"), file_part("file", "x.bin", "XX")});
    for (const std::string code : {"/6082", "/2079"}) {
        clear_tmp();
        CgiResult res = run(upload(code, "ch=3&param:9", body));
        EXPECT_EQ(res.status, 0);
        EXPECT_EQ(res.out, probe("temp & ch=3&param:9",
                                 {field_entry("a", "1"), file_entry("x.bin", 2, "application/octet-stream", true)}))
            << code;
        EXPECT_TRUE(tmp().empty()) << code;
        // No file field is no refusal for a raw code.
        res = run(upload(code, "q", multipart(kB, {field("a", "1")})));
        EXPECT_EQ(res.out, probe("temp & q", {field_entry("a", "1")})) << code;
        res = run(upload(code, "q", ""));
        EXPECT_EQ(res.out, probe("temp & q")) << code;
    }
}

TEST_F(Intake, Upload1010LeavesTheBodyUnread)
{
    struct Case {
        const char *what;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"empty body", ""},
        {"multipart body", multipart(kB, {file_part("file", "fw.bin", "FIRMWARE")})},
        {"body that would not parse", "--" + kB + "\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\nx\r\n--" + kB},
    };
    for (const auto &c : cases) {
        clear_tmp();
        CgiResult res = run(upload("/1010", "size=8", c.body));
        EXPECT_EQ(res.status, 0) << c.what;
        EXPECT_EQ(res.out, probe("temp & size=8")) << c.what;
        EXPECT_TRUE(tmp().empty()) << c.what;
    }
}

TEST_F(Intake, MultipartEndingAfterADelimiterFails)
{
    const std::string start = "--" + kB + "\r\n" + file_part("file", "fw.bin", "").headers + "\r\nDATA\r\n--" + kB;
    for (const std::string code : {"/3001", "/6082", "/1019"}) {
        clear_tmp();
        CgiResult res = run(upload(code, "", start));
        EXPECT_EQ(res.status, 255) << code;
        EXPECT_EQ(res.out, "") << code;
        EXPECT_TRUE(tmp().empty()) << code;

        res = run(upload(code, "", start + "\r\n"));
        EXPECT_EQ(res.status, 0) << code;
        EXPECT_NE(res.out, "") << code << ": a delimiter followed by CR LF and the end is accepted";
        if (code == "/3001") {
            EXPECT_EQ(box.read_file("/tmp/fw.bin"), "DATA");
        }
    }
    // Ending inside a part, or before the closing dashes are complete.
    for (const std::string &body : {start.substr(0, start.size() - 10), start + "-"}) {
        CgiResult res = run(upload("/3001", "", body));
        EXPECT_EQ(res.status, 255);
        EXPECT_EQ(res.out, "");
    }
}

TEST_F(Intake, BoundaryFromTheContentType)
{
    const std::string body = multipart("xyz", {file_part("file", "b.bin", "B")});
    for (const std::string type : {"multipart/form-data; boundary=xyz", "Multipart/Form-Data; BOUNDARY=xyz",
                                   "multipart/form-data;boundary=xyz", "multipart/form-data; boundary=xyz ",
                                   "multipart/form-data; charset=utf-8; boundary=xyz",
                                   "multipart/form-data; boundary=xyz; charset=utf-8",
                                   "multipart/form-data;\tboundary=xyz"}) {
        clear_tmp();
        CgiResult res = run(upload("/3001", "", body, type));
        EXPECT_EQ(res.out, probe("/tmp/b.bin", {file_entry("b.bin", 1, "application/octet-stream", false)})) << type;
    }
    // Without a boundary parameter the boundary is empty: "--" opens the form and CR LF "--"
    // ends a part, so the file part is still found (its body cut at the first CR LF "--").
    CgiResult res = run(upload("/3001", "", body, "multipart/form-data"));
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.out, probe("/tmp/b.bin", {file_entry("b.bin", 1, "application/octet-stream", false)}));
}

TEST_F(Intake, LargeUploadArrivesWhole)
{
    std::string content;
    for (int i = 0; i < 600000; ++i)
        content.push_back(static_cast<char>((i * 131) ^ (i >> 8)));
    for (size_t p = content.find("\r\n--"); p != std::string::npos; p = content.find("\r\n--", p + 1))
        content[p + 2] = '+';
    CgiResult res = run(upload("/3001", "", multipart(kB, {file_part("file", "big.bin", content)})));
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.out, probe("/tmp/big.bin", {file_entry("big.bin", content.size(), "application/octet-stream", false)}));
    EXPECT_TRUE(box.read_file("/tmp/big.bin") == content);
}

// --- hostile client file names ----------------------------------------------------------------

// Each name either is refused or becomes a plain file in /tmp named exactly by its base name; no
// command runs (no marker appears anywhere, the stand-in tools record nothing).
TEST_F(Intake, HostileFileNamesRunNothing)
{
    struct Case {
        std::string disposition_filename; // as written after "filename=" in the part's header
        std::string client;               // the client name the parser reads from it
        std::string base;                 // "" = refused
    };
    const std::vector<Case> cases = {
        {"a\"b.txt", "a\"b.txt", "a\"b.txt"}, // unquoted, so the quote is part of the name
        {"\"$(touch MARK1).txt\"", "$(touch MARK1).txt", "$(touch MARK1).txt"},
        {"\"`touch MARK2`.txt\"", "`touch MARK2`.txt", "`touch MARK2`.txt"},
        {"\"x; touch MARK3; y.txt\"", "x; touch MARK3; y.txt", "x; touch MARK3; y.txt"},
        {"\"x && touch MARK4\"", "x && touch MARK4", "x && touch MARK4"},
        {"\"x | touch MARK5 | y\"", "x | touch MARK5 | y", "x | touch MARK5 | y"},
        {"\"x' ; touch MARK6 ; '\"", "x' ; touch MARK6 ; '", "x' ; touch MARK6 ; '"},
        {"\"$(reboot)\"", "$(reboot)", "$(reboot)"},
        {"\"`reboot`\"", "`reboot`", "`reboot`"},
        {"\"; rm -rf ..; reboot;\"", "; rm -rf ..; reboot;", "; rm -rf ..; reboot;"},
        {"\"-rf\"", "-rf", "-rf"},
        {"\"* ?[a] ~root $HOME\"", "* ?[a] ~root $HOME", "* ?[a] ~root $HOME"},
        {"\"../../etc/passwd\"", "../../etc/passwd", "passwd"},
        {"\"..\\\\..\\\\x.bin\"", "..\\\\..\\\\x.bin", "x.bin"},
        {"\"...\"", "...", "..."},
        {"\".hidden\"", ".hidden", ".hidden"},
        {"\"..\"", "..", ""},
        {"\".\"", ".", ""},
        {"\"dir/\"", "dir/", ""},
        {"\"dir\\\\\"", "dir\\\\", ""},
        {"\"C:\\\\x\\\\..\"", "C:\\\\x\\\\..", ""},
        {"\"up/..\"", "up/..", ""},
        {"\"/\"", "/", ""},
    };
    const std::string cwd = box.path("/cwd");
    mkdir(cwd.c_str(), 0755);
    char saved_cwd[4096];
    ASSERT_NE(getcwd(saved_cwd, sizeof saved_cwd), nullptr);
    ASSERT_EQ(chdir(cwd.c_str()), 0); // where a shell command would create its markers
    const std::string log_before = box.read_file("/var/log/commands.log");

    for (const auto &c : cases) {
        SCOPED_TRACE(c.disposition_filename);
        clear_tmp();
        Part part{"Content-Disposition: form-data; name=\"file\"; filename=" + c.disposition_filename + "\r\n", "CONTENT"};
        CgiResult res = run(upload("/3001", "param:1", multipart(kB, {part})));
        EXPECT_EQ(res.status, 0);
        if (c.base.empty()) {
            EXPECT_EQ(res.out, "");
            EXPECT_TRUE(tmp().empty());
        } else {
            EXPECT_EQ(res.out, probe("/tmp/" + c.base + " & 1", {file_entry(c.client, 7, "", false)}));
            EXPECT_EQ(tmp(), std::vector<std::string>{c.base});
            struct stat st;
            ASSERT_EQ(lstat(box.path("/tmp/" + c.base).c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(box.read_file("/tmp/" + c.base), "CONTENT");
        }
        std::vector<std::string> markers;
        find_named(box.root, "MARK", markers);
        find_named(saved_cwd, "MARK", markers);
        for (auto &m : markers)
            ADD_FAILURE() << "a command ran: " << m;
        EXPECT_EQ(box.read_file("/var/log/commands.log"), log_before) << "a stand-in tool ran";
    }
    // The sandbox around /tmp is untouched.
    EXPECT_FALSE(box.exists("/etc/passwd"));
    EXPECT_TRUE(box.exists("/var/log/commands.log"));
    EXPECT_TRUE(box.exists("/bin/reboot"));
    ASSERT_EQ(chdir(saved_cwd), 0);
}

// A name that cannot be carried whole in a header line (LF or CR in it): whatever the parser
// makes of it, no command runs and nothing but plain files appear directly in /tmp.
TEST_F(Intake, LineBreaksInFileNamesRunNothing)
{
    const std::string log_before = box.read_file("/var/log/commands.log");
    for (const std::string name : {"a\nb.txt", "a\rb.txt", "$(reboot)\n.txt", "x\r\n; reboot"}) {
        clear_tmp();
        Part part{"Content-Disposition: form-data; name=\"file\"; filename=\"" + name + "\"\r\n", "CONTENT"};
        CgiResult res = run(upload("/3001", "", multipart(kB, {part})));
        EXPECT_TRUE(res.status == 0 || res.status == 255) << res.status;
        for (auto &n : tmp()) {
            struct stat st;
            ASSERT_EQ(lstat(box.path("/tmp/" + n).c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode)) << n;
            EXPECT_EQ(n.find_first_of("\r\n"), std::string::npos) << n;
            if (!res.out.empty()) {
                EXPECT_NE(res.out.find("request=[/tmp/" + n + "]"), std::string::npos) << res.out;
            }
        }
        EXPECT_LE(tmp().size(), 1u);
        EXPECT_EQ(box.read_file("/var/log/commands.log"), log_before);
    }
}

TEST_F(Intake, UploadReplacesALinkInTmpNotItsTarget)
{
    box.write_file("/etc/target", "precious");
    ASSERT_EQ(symlink(box.path("/etc/target").c_str(), box.path("/tmp/link.txt").c_str()), 0);
    CgiResult res = run(upload("/3001", "", multipart(kB, {file_part("file", "link.txt", "NEW")})));
    EXPECT_EQ(res.out, probe("/tmp/link.txt", {file_entry("link.txt", 3, "application/octet-stream", false)}));
    EXPECT_EQ(box.read_file("/etc/target"), "precious");
    struct stat st;
    ASSERT_EQ(lstat(box.path("/tmp/link.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(box.read_file("/tmp/link.txt"), "NEW");
}

TEST_F(Intake, UploadOntoADirectoryLeavesNoTemporaryFile)
{
    ASSERT_EQ(mkdir(box.path("/tmp/taken").c_str(), 0755), 0);
    CgiResult res = run(upload("/3001", "", multipart(kB, {file_part("file", "taken", "X")})));
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.out, probe("/tmp/taken", {file_entry("taken", 1, "application/octet-stream", true)}));
    EXPECT_EQ(tmp(), std::vector<std::string>{"taken"});
    EXPECT_TRUE(list_dir(box.path("/tmp/taken")).empty());
}

} // namespace
