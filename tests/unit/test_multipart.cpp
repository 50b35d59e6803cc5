// Multipart parser and its input stream, called directly: mpRead/mpPutBack on streams we make,
// cgiParseMultipart on bodies fed through a reader that hands out one or a few bytes per call (so
// that delimiters and header lines are split across reads), every truncation of a sample body,
// and the temporary files a parse leaves behind (none after cgiReleaseRequest).
//
// Temporary files go to nvr_path("/tmp/cgicXXXXXX"), so NVR_ROOT must name a scratch root before
// anything asks for the sandbox root (it is read once): the constructor below runs before the
// test runner starts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <ftw.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cgic.h"
#include "nvr_path.h"

namespace {

// A plain array: it must outlive every static object's destructor.
char g_root[64];

int remove_entry(const char *path, const struct stat *, int, struct FTW *) { return std::remove(path); }

__attribute__((constructor(101))) void make_scratch_root()
{
    snprintf(g_root, sizeof g_root, "/tmp/nvr-unit-mp-XXXXXX");
    if (mkdtemp(g_root) == nullptr)
        std::abort();
    mkdir((std::string(g_root) + "/tmp").c_str(), 0777);
    setenv("NVR_ROOT", g_root, 1);
}

__attribute__((destructor(101))) void remove_scratch_root()
{
    if (g_root[0])
        nftw(g_root, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::vector<std::string> temp_files()
{
    std::vector<std::string> names;
    DIR *d = opendir(nvr_path("/tmp").c_str());
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

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A read-only stream over `data` whose reader hands out at most `chunk` bytes per call; the
// stream is unbuffered for small chunks so that every mpRead reaches the reader.
struct Source {
    std::string data;
    size_t pos = 0;
    size_t chunk;
    FILE *file = nullptr;

    Source(std::string bytes, size_t chunk_size) : data(std::move(bytes)), chunk(chunk_size ? chunk_size : 1)
    {
        cookie_io_functions_t io{};
        io.read = [](void *c, char *buf, size_t size) -> ssize_t {
            auto *s = static_cast<Source *>(c);
            size_t n = std::min({size, s->chunk, s->data.size() - s->pos});
            std::memcpy(buf, s->data.data() + s->pos, n);
            s->pos += n;
            return static_cast<ssize_t>(n);
        };
        file = fopencookie(this, "r", io);
        if (chunk < 16)
            setvbuf(file, nullptr, _IONBF, 0);
    }
    ~Source() { std::fclose(file); }
    Source(const Source &) = delete;
    Source &operator=(const Source &) = delete;
};

struct Entry {
    std::string name, value, file, type, temp, content;
    int length;
    mode_t mode;
};

std::vector<Entry> entries()
{
    std::vector<Entry> out;
    for (cgiFormEntry *e = cgiFormEntryFirst; e; e = e->next) {
        Entry x{e->attr, std::string(e->value, e->fileName[0] ? std::strlen(e->value) : e->valueLength),
                e->fileName, e->contentType, e->tfileName, "", e->valueLength, 0};
        struct stat st;
        if (e->tfileName[0] && stat(e->tfileName, &st) == 0) {
            x.content = slurp(e->tfileName);
            x.mode = st.st_mode & 07777;
        }
        out.push_back(x);
    }
    return out;
}

class Multipart : public ::testing::Test {
protected:
    void SetUp() override
    {
        cgiReleaseRequest();
        ASSERT_TRUE(temp_files().empty());
    }
    void TearDown() override
    {
        cgiReleaseRequest();
        EXPECT_EQ(cgiFormEntryFirst, nullptr);
        EXPECT_TRUE(temp_files().empty()) << "temporary files left after cgiReleaseRequest";
    }
    // Parses `body` read through a reader of `chunk` bytes per call; `length` is the content
    // length (-1: the body's size).
    int parse(const std::string &body, const std::string &boundary, size_t chunk = 1, long length = -1)
    {
        Source src(body, chunk);
        mpStream s;
        long len = length < 0 ? static_cast<long>(body.size()) : length;
        mpInit(&s, src.file, len);
        int rc = cgiParseMultipart(&s, boundary.c_str(), len);
        last_consumed = src.pos;
        return rc;
    }
    size_t last_consumed = 0;
};

// --- the input stream -------------------------------------------------------------------------

std::string read_all(mpStream *s, int count)
{
    std::string out(static_cast<size_t>(count), '\0');
    int n = mpRead(s, out.data(), count);
    return n < 0 ? std::string("<end>") : out.substr(0, static_cast<size_t>(n));
}

TEST(MpStream, NeverReadsPastTheContentLength)
{
    Source src("abcdefEXTRA", 1);
    mpStream s;
    mpInit(&s, src.file, 6);
    EXPECT_EQ(read_all(&s, 4), "abcd");
    EXPECT_EQ(read_all(&s, 10), "ef");
    EXPECT_EQ(read_all(&s, 10), "<end>");
    EXPECT_EQ(mpRead(&s, nullptr, 0), 0) << "a read of nothing is no end of input";
    EXPECT_EQ(src.pos, 6u) << "bytes beyond the content length were taken from the stream";
}

TEST(MpStream, EmptyOrNegativeLengthIsAtEnd)
{
    for (long length : {0L, -5L}) {
        Source src("abc", 1);
        mpStream s;
        mpInit(&s, src.file, length);
        char c;
        EXPECT_EQ(mpRead(&s, &c, 1), -1) << length;
        EXPECT_EQ(src.pos, 0u);
    }
}

TEST(MpStream, StreamEndingBeforeTheLengthIsEndOfInput)
{
    Source src("abc", 2);
    mpStream s;
    mpInit(&s, src.file, 100);
    EXPECT_EQ(read_all(&s, 10), "abc");
    EXPECT_EQ(read_all(&s, 10), "<end>");
}

TEST(MpStream, PushedBackBytesComeFirstInTheirOwnOrder)
{
    Source src("abcdef", 1);
    mpStream s;
    mpInit(&s, src.file, 6);
    EXPECT_EQ(read_all(&s, 2), "ab");
    mpPutBack(&s, "12", 2);
    EXPECT_EQ(read_all(&s, 3), "12c") << "ring first, then the stream, in one read";
    mpPutBack(&s, "yz", 2);
    mpPutBack(&s, "wx", 2); // the latest push comes out first
    EXPECT_EQ(read_all(&s, 3), "wxy");
    EXPECT_EQ(read_all(&s, 10), "zdef");
    EXPECT_EQ(read_all(&s, 1), "<end>");
    mpPutBack(&s, "Q", 1);
    EXPECT_EQ(read_all(&s, 5), "Q") << "bytes pushed back after the end are still served";
    EXPECT_EQ(read_all(&s, 5), "<end>");
}

TEST(MpStream, RingHoldsAFullKilobyteAndWrapsAround)
{
    Source src("", 1);
    mpStream s;
    mpInit(&s, src.file, 0);
    std::string full(1024, '\0');
    for (size_t i = 0; i < full.size(); ++i)
        full[i] = static_cast<char>(i * 7 + 3);
    mpPutBack(&s, full.data(), 1024);
    EXPECT_EQ(read_all(&s, 2000), full);

    // Many push/read cycles at shifting ring positions keep every byte in order.
    std::mt19937 rng(7);
    std::string pending; // what the ring holds, in read order
    for (int round = 0; round < 3000; ++round) {
        size_t room = 1024 - pending.size();
        size_t push = room ? rng() % (std::min<size_t>(room, 300) + 1) : 0;
        std::string bytes;
        for (size_t i = 0; i < push; ++i)
            bytes.push_back(static_cast<char>(rng()));
        mpPutBack(&s, bytes.data(), static_cast<int>(bytes.size()));
        pending = bytes + pending;
        int take = static_cast<int>(rng() % 400);
        std::string got = read_all(&s, take);
        if (pending.empty() && take > 0) {
            ASSERT_EQ(got, "<end>");
            continue;
        }
        ASSERT_EQ(got, pending.substr(0, static_cast<size_t>(take))) << "round " << round;
        pending.erase(0, got.size());
    }
}

// --- whole bodies -----------------------------------------------------------------------------

TEST_F(Multipart, FieldsAndAFileInArrivalOrder)
{
    const std::string firmware("\x01\x02\x00\x03 firmware", 13);
    const std::string body =
        "--XyZ\r\n"
        "Content-Disposition: form-data; name=\"user\"\r\n"
        "\r\n"
        "admin\r\n"
        "--XyZ\r\n"
        "Content-Disposition: form-data; name=\"file\"; filename=\"fw.bin\"\r\n"
        "Content-Type: application/octet-stream\r\n"
        "\r\n" + firmware + "\r\n"
        "--XyZ\r\n"
        "Content-Disposition: form-data; name=\"empty\"\r\n"
        "\r\n"
        "\r\n"
        "--XyZ--\r\n";
    for (size_t chunk : {1, 2, 3, 5, 4096}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        ASSERT_EQ(parse(body, "XyZ", chunk), cgiParseSuccess);
        auto e = entries();
        ASSERT_EQ(e.size(), 3u);
        EXPECT_EQ(e[0].name, "user");
        EXPECT_EQ(e[0].value, "admin");
        EXPECT_EQ(e[0].length, 5);
        EXPECT_EQ(e[0].file, "");
        EXPECT_EQ(e[0].type, "");
        EXPECT_EQ(e[0].temp, "");
        EXPECT_EQ(e[1].name, "file");
        EXPECT_EQ(e[1].value, "");
        EXPECT_EQ(e[1].file, "fw.bin");
        EXPECT_EQ(e[1].type, "application/octet-stream");
        EXPECT_EQ(e[1].content, firmware);
        EXPECT_EQ(e[1].length, 13);
        EXPECT_EQ(e[1].temp.rfind(nvr_path("/tmp/cgic"), 0), 0u) << e[1].temp;
        EXPECT_EQ(e[1].temp.size(), nvr_path("/tmp/cgic").size() + 6);
        EXPECT_EQ(e[1].mode, 0600u);
        EXPECT_EQ(e[2].name, "empty");
        EXPECT_EQ(e[2].value, "");
        EXPECT_EQ(e[2].length, 0);
        EXPECT_EQ(temp_files().size(), 1u);
        cgiReleaseRequest();
        EXPECT_TRUE(temp_files().empty());
    }
}

TEST_F(Multipart, GlobalsDriveCgiReadMultipartForm)
{
    std::string body = "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--b--";
    FILE *in = fmemopen(body.data(), body.size(), "r");
    FILE *saved_in = cgiIn;
    char *saved_boundary = cgiMultipartBoundary;
    int saved_length = cgiContentLength;
    char boundary[] = "b";
    cgiIn = in;
    cgiMultipartBoundary = boundary;
    cgiContentLength = static_cast<int>(body.size());
    EXPECT_EQ(cgiReadMultipartForm(), cgiParseSuccess);
    cgiIn = saved_in;
    cgiMultipartBoundary = saved_boundary;
    cgiContentLength = saved_length;
    std::fclose(in);
    auto e = entries();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].value, "1");
}

// Header lines: endings, case, white space and the decomposition of Content-Disposition.
struct HeaderCase {
    const char *what;
    std::string headers; // between "--b\r\n" and the part's body "v"
    std::string name, file, type;
    bool entry = true;
};

TEST_F(Multipart, HeaderLines)
{
    const std::vector<HeaderCase> cases = {
        {"CR LF lines", "Content-Disposition: form-data; name=\"a\"\r\nContent-Type: text/plain\r\n\r\n", "a", "", "text/plain"},
        {"LF lines", "Content-Disposition: form-data; name=\"a\"\nContent-Type: text/plain\n\n", "a", "", "text/plain"},
        {"CR without LF ends the line", "Content-Disposition: form-data; name=\"a\"\rContent-Type: text/plain\r\n\r\n", "a", "", "text/plain"},
        {"CR CR LF: line end, then the empty line", "Content-Disposition: form-data; name=\"a\"\r\r\n", "a", "", ""},
        {"names of any case", "content-DISPOSITION: FORM-DATA; NAME=\"a\"; FileName=\"f.txt\"\r\nCONTENT-type: image/png\r\n\r\n", "a", "f.txt", "image/png"},
        {"white space in the attribute and around '='", " Content- Disposition :   form-data;  name = \"a\";filename= \"f\"\r\n\r\n", "a", "f", ""},
        {"unquoted values up to ';'", "Content-Disposition: form-data; name=a; filename=f.txt\r\n\r\n", "a", "f.txt", ""},
        {"quoted disposition token", "Content-Disposition: \"form-data\"; name=\"a\"\r\n\r\n", "a", "", ""},
        {"';' inside quotes", "Content-Disposition: form-data; name=\"a;b\"; filename=\"x;y.txt\"\r\n\r\n", "a;b", "x;y.txt", ""},
        {"other parameters are skipped", "Content-Disposition: form-data; size=12; name=\"a\"; creation=\"x\"\r\n\r\n", "a", "", ""},
        {"parameter without '=' ends the decomposition", "Content-Disposition: form-data; bogus; name=\"a\"\r\n\r\n", "", "", ""},
        {"content type parameters dropped", "Content-Disposition: form-data; name=\"a\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n", "a", "", "text/plain"},
        {"other headers ignored", "X-Junk: 1\r\nContent-Disposition: form-data; name=\"a\"\r\nContent-Transfer-Encoding: binary\r\n\r\n", "a", "", ""},
        {"a header without value ends the headers", "Content-Disposition: form-data; name=\"a\"\r\nX-Empty:   \r\nContent-Type: text/plain\r\n\r\n", "a", "", "", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        for (size_t chunk : {1, 4096}) {
            std::string body = "--b\r\n" + c.headers + "v\r\n--b--\r\n";
            ASSERT_EQ(parse(body, "b", chunk), cgiParseSuccess);
            auto e = entries();
            ASSERT_EQ(e.size(), c.entry ? 1u : 0u);
            if (!c.entry)
                continue;
            EXPECT_EQ(e[0].name, c.name);
            EXPECT_EQ(e[0].file, c.file);
            EXPECT_EQ(e[0].type, c.type);
            if (c.file.empty()) {
                EXPECT_EQ(e[0].value, std::string(c.what).find("without value") != std::string::npos
                                          ? "Content-Type: text/plain\r\n\r\nv"
                                          : "v");
            } else {
                EXPECT_EQ(e[0].content, "v");
            }
            cgiReleaseRequest();
        }
    }
}

// Part bodies: every byte up to CR LF "--" boundary; false starts of the delimiter are data.
TEST_F(Multipart, FalseDelimiterStartsAreData)
{
    const std::string boundary = "----WebKitFormBoundary7MA4YWxk";
    const std::string d = "\r\n--" + boundary;
    const std::vector<std::string> data = {
        "",
        "\r",
        "\r\n",
        "\r\n-",
        "\r\n--",
        d.substr(0, d.size() - 1),
        d.substr(0, d.size() - 1) + "X" + d.substr(0, 10),
        "\r\r\n--" + boundary.substr(0, 5) + "\r\n\r\n--",
        "--" + boundary + " at the start of a line without CR LF",
        "\n--" + boundary + "\r--" + boundary + "\r\n-" + "-" + boundary.substr(1),
        "tail\r",
        "tail\r\n--",
        std::string("\0\r\0\n\0", 5),
        "\r\n------WebKitFormBoundary7MA4YWx",
    };
    for (size_t i = 0; i < data.size(); ++i) {
        SCOPED_TRACE("data " + std::to_string(i));
        for (size_t chunk : {1, 2, 3, 7, 4096}) {
            std::string body = "--" + boundary + "\r\n"
                               "Content-Disposition: form-data; name=\"file\"; filename=\"a.bin\"\r\n\r\n" +
                               data[i] + d + "\r\n"
                               "Content-Disposition: form-data; name=\"text\"\r\n\r\n" +
                               data[i] + d + "--\r\n";
            ASSERT_EQ(parse(body, boundary, chunk), cgiParseSuccess);
            auto e = entries();
            ASSERT_EQ(e.size(), 2u);
            EXPECT_EQ(e[0].content, data[i]);
            EXPECT_EQ(e[0].length, static_cast<int>(data[i].size()));
            EXPECT_EQ(e[1].value, data[i]);
            EXPECT_EQ(e[1].length, static_cast<int>(data[i].size()));
            cgiReleaseRequest();
        }
    }
}

std::string random_bytes(size_t n, unsigned seed, const std::string &boundary)
{
    // Binary data thick with CR, LF, '-' and prefixes of the delimiter, never the whole delimiter.
    std::mt19937 rng(seed);
    const std::string d = "\r\n--" + boundary;
    std::string out;
    while (out.size() < n) {
        switch (rng() % 4) {
        case 0:
            out += d.substr(0, 1 + rng() % (d.size() - 1));
            break;
        case 1:
            out.push_back("\r\n-"[rng() % 3]);
            break;
        default:
            out.push_back(static_cast<char>(rng()));
        }
    }
    out.resize(n);
    // A cut may have completed a delimiter across two pieces: break any that appeared.
    for (size_t p = out.find(d); p != std::string::npos; p = out.find(d, p))
        out[p + d.size() - 1] ^= 0x20;
    return out;
}

TEST_F(Multipart, BodiesFarLargerThanTheRing)
{
    const std::string boundary = "BoUnDaRy";
    const std::string file1 = random_bytes(200000, 1, boundary);
    const std::string file2 = random_bytes(3000, 2, boundary);
    const std::string field = random_bytes(70000, 3, boundary); // memory buffer doubles many times
    std::string body = "preamble\r\n--" + boundary + "\r\n"
                       "Content-Disposition: form-data; name=\"file\"; filename=\"one.bin\"\r\n\r\n" + file1 +
                       "\r\n--" + boundary + "\r\n"
                       "Content-Disposition: form-data; name=\"big\"\r\n\r\n" + field +
                       "\r\n--" + boundary + "\r\n"
                       "Content-Disposition: form-data; name=\"other\"; filename=\"two.bin\"\r\n"
                       "Content-Type: application/x-tar\r\n\r\n" + file2 +
                       "\r\n--" + boundary + "\r\n"
                       "Content-Disposition: form-data; name=\"third\"; filename=\"three.bin\"\r\n\r\n"
                       "\r\n--" + boundary + "--\r\nepilogue";
    for (size_t chunk : {1, 3, 1000, 65536}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        ASSERT_EQ(parse(body, boundary, chunk), cgiParseSuccess);
        auto e = entries();
        ASSERT_EQ(e.size(), 4u);
        EXPECT_TRUE(e[0].content == file1) << "file one differs";
        EXPECT_EQ(e[0].length, 200000);
        EXPECT_TRUE(e[1].value == field) << "field differs";
        EXPECT_EQ(e[1].length, 70000);
        EXPECT_TRUE(e[2].content == file2);
        EXPECT_EQ(e[2].type, "application/x-tar");
        EXPECT_EQ(e[3].file, "three.bin");
        EXPECT_EQ(e[3].content, "");
        EXPECT_EQ(e[3].length, 0);
        EXPECT_NE(e[0].temp, e[2].temp);
        EXPECT_NE(e[2].temp, e[3].temp);
        EXPECT_EQ(temp_files().size(), 3u);
        cgiReleaseRequest();
    }
}

TEST_F(Multipart, LongestBoundaryWithNearMatchesFillingTheRing)
{
    // A delimiter of 1004 bytes; the data repeats almost all of it, so that each false start
    // pushes about a kilobyte back into the ring.
    std::string boundary(1000, 'q');
    for (size_t i = 0; i < boundary.size(); i += 37)
        boundary[i] = 'Q';
    const std::string d = "\r\n--" + boundary;
    std::string data;
    for (int i = 0; i < 6; ++i)
        data += d.substr(0, d.size() - 1 - static_cast<size_t>(i)) + "\r";
    std::string body = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x\"\r\n\r\n" +
                       data + d + "--";
    ASSERT_EQ(parse(body, boundary, 5), cgiParseSuccess);
    auto e = entries();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_TRUE(e[0].content == data);
}

// A part whose disposition is not form-data makes no entry, and nothing is read for it: the
// loop goes on with the bytes after its header lines, which it reads as header lines again. So
// such a part ends the form unless what follows it happens to be a part's headers.
TEST_F(Multipart, PartsWithoutFormDataDispositionMakeNoEntry)
{
    const std::string kept = "Content-Disposition: form-data; name=\"kept\"; filename=\"k.txt\"\r\n\r\nkept body";
    struct Case {
        const char *what;
        std::string body;
        std::vector<std::string> names; // entries made, in order
    };
    const std::vector<Case> cases = {
        {"attachment, then a form field: the form ends at the attachment",
         "--b\r\nContent-Disposition: attachment; name=\"x\"; filename=\"a.bin\"\r\n\r\nbody\r\n--b\r\n" + kept +
             "\r\n--b--",
         {}},
        {"no disposition at all", "--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n--b\r\n" + kept + "\r\n--b--", {}},
        {"form-datax is not form-data", "--b\r\nContent-Disposition: form-datax; name=\"y\"\r\n\r\nbody\r\n--b\r\n" + kept + "\r\n--b--", {}},
        {"an empty body of the skipped part still ends the form",
         "--b\r\nContent-Disposition: inline\r\n\r\n\r\n--b\r\n" + kept + "\r\n--b--", {}},
        {"entries before it are kept",
         "--b\r\n" + kept + "\r\n--b\r\nContent-Disposition: attachment\r\n\r\nbody\r\n--b\r\n"
             "Content-Disposition: form-data; name=\"late\"\r\n\r\nL\r\n--b--",
         {"kept"}},
        {"what follows its headers is read as the next part's headers",
         "--b\r\nContent-Disposition: attachment\r\n\r\n" + kept + "\r\n--b--", {"kept"}},
        {"a part without header lines is no entry either", "--b\r\n\r\nbody\r\n--b\r\n" + kept + "\r\n--b--", {}},
        {"end of input after its headers", "--b\r\nContent-Disposition: inline\r\n\r\nxx", {}},
        {"end of input inside the disposition", "--b\r\nContent-Disposition: form-da", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        for (size_t chunk : {1, 4096}) {
            ASSERT_EQ(parse(c.body, "b", chunk), cgiParseSuccess);
            std::vector<std::string> names;
            for (const Entry &e : entries())
                names.push_back(e.name);
            EXPECT_EQ(names, c.names);
            if (!names.empty() && names[0] == "kept") {
                EXPECT_EQ(entries()[0].content, "kept body");
            }
            EXPECT_EQ(temp_files().size(), names.empty() ? 0u : 1u) << "a part without entry left a temporary file";
            cgiReleaseRequest();
        }
    }
}

// The first boundary is read without the two bytes after it: they begin the first part.
TEST_F(Multipart, BytesAfterTheFirstBoundaryBeginTheFirstPart)
{
    // "--bX" then the headers: "XContent-Disposition" is no disposition header, so the first
    // part makes no entry (the form ends at its body); with the usual CR LF it does.
    const std::string part = "Content-Disposition: form-data; name=\"a\"\r\n\r\nA\r\n--b--";
    ASSERT_EQ(parse("--bX" + part, "b"), cgiParseSuccess);
    EXPECT_TRUE(entries().empty());
    cgiReleaseRequest();
    ASSERT_EQ(parse("--b\r\n" + part, "b"), cgiParseSuccess);
    ASSERT_EQ(entries().size(), 1u);
    EXPECT_EQ(entries()[0].value, "A");
    cgiReleaseRequest();
    // Without any line end the headers start right after the boundary.
    ASSERT_EQ(parse("--b" + part, "b"), cgiParseSuccess);
    ASSERT_EQ(entries().size(), 1u);
    EXPECT_EQ(entries()[0].name, "a");
}

// How a body may end: the result of each form.
struct EndingCase {
    const char *what;
    std::string body;
    int result;
    size_t entries;
};

TEST_F(Multipart, Endings)
{
    const std::string part = "Content-Disposition: form-data; name=\"a\"; filename=\"a.txt\"\r\n\r\nAAA";
    const std::vector<EndingCase> cases = {
        {"empty body", "", cgiParseSuccess, 0},
        {"no boundary at all", "just some text\r\n", cgiParseSuccess, 0},
        {"first boundary then the end", "--b", cgiParseSuccess, 0},
        {"first boundary, CR LF, end", "--b\r\n", cgiParseSuccess, 0},
        {"first boundary is the closing one", "--b--\r\n", cgiParseSuccess, 0},
        {"first boundary after a preamble with '--'", "-- x -b- --\r\n--b\r\n" + part + "\r\n--b--", cgiParseSuccess, 1},
        {"closing delimiter", "--b\r\n" + part + "\r\n--b--", cgiParseSuccess, 1},
        {"closing delimiter and epilogue", "--b\r\n" + part + "\r\n--b--\r\nepilogue --b\r\n", cgiParseSuccess, 1},
        {"delimiter, CR LF, end", "--b\r\n" + part + "\r\n--b\r\n", cgiParseSuccess, 1},
        {"delimiter, CR LF, one byte", "--b\r\n" + part + "\r\n--b\r\nC", cgiParseSuccess, 1},
        {"delimiter then end", "--b\r\n" + part + "\r\n--b", cgiParseIO, 0},
        {"delimiter then one byte", "--b\r\n" + part + "\r\n--b\r", cgiParseIO, 0},
        {"delimiter then one dash", "--b\r\n" + part + "\r\n--b-", cgiParseIO, 0},
        {"body without delimiter", "--b\r\n" + part, cgiParseIO, 0},
        {"end inside the headers of a form field", "--b\r\nContent-Disposition: form-data; name=a", cgiParseIO, 0},
        {"end inside a part that is not form-data", "--b\r\nContent-Disposition: inline\r\n\r\nxx", cgiParseSuccess, 0},
        {"any other pair after a delimiter is dropped",
         "--b\r\n" + part + "\r\n--bXYContent-Disposition: form-data; name=\"c\"\r\n\r\nC\r\n--b--", cgiParseSuccess, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        for (size_t chunk : {1, 4096}) {
            EXPECT_EQ(parse(c.body, "b", chunk), c.result);
            if (c.result == cgiParseSuccess) {
                EXPECT_EQ(entries().size(), c.entries);
            }
            cgiReleaseRequest();
            EXPECT_TRUE(temp_files().empty());
        }
    }
}

TEST_F(Multipart, ZeroContentLengthReadsNothing)
{
    std::string body = "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--b--";
    EXPECT_EQ(parse(body, "b", 1, 0), cgiParseSuccess);
    EXPECT_EQ(last_consumed, 0u);
    EXPECT_TRUE(entries().empty());
}

TEST_F(Multipart, ContentLengthBoundsTheBody)
{
    // The bytes after the content length are not part of the body, even when they would
    // complete it.
    std::string body = "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--b--";
    std::string stream = body + "\r\n--b\r\nContent-Disposition: form-data; name=\"z\"\r\n\r\nz\r\n--b--";
    Source src(stream, 1);
    mpStream s;
    mpInit(&s, src.file, static_cast<long>(body.size()));
    EXPECT_EQ(cgiParseMultipart(&s, "b", static_cast<long>(body.size())), cgiParseSuccess);
    EXPECT_LE(src.pos, body.size());
    ASSERT_EQ(entries().size(), 1u);
    cgiReleaseRequest();

    // Cut inside the body: the part never ends.
    std::string cut = body.substr(0, body.size() - 8);
    Source src2(stream, 1);
    mpInit(&s, src2.file, static_cast<long>(cut.size()));
    EXPECT_EQ(cgiParseMultipart(&s, "b", static_cast<long>(cut.size())), cgiParseIO);
    EXPECT_LE(src2.pos, cut.size());
}

// Every truncation of a sample body, by content length and by a stream that ends early: the
// result is success or 2, never anything else; the entries of a successful parse are exactly the
// parts completed before the cut; and nothing is left in /tmp after cgiReleaseRequest.
TEST_F(Multipart, EveryTruncation)
{
    const std::string b = "AaB03x";
    const std::string body =
        "ignored preamble -- \r\n"
        "--AaB03x\r\n"
        "Content-Disposition: form-data; name=\"title\"\r\n"
        "\r\n"
        "Larry \r\n--AaB0\r\n"
        "--AaB03x\r\n"
        "Content-Disposition: form-data; name=\"file\"; filename=\"file1.txt\"\r\n"
        "Content-Type: text/plain\r\n"
        "\r\n"
        "line one\r\n--AaB03\r\r\n--A\r\n"
        "--AaB03x\r\n"
        "Content-Disposition: form-data; name=\"file2\"; filename=\"f2.bin\"\r\n"
        "\r\n"
        "\r\n"
        "--AaB03x--\r\n"
        "epilogue\r\n";
    // Where the first boundary ends, and where each delimiter ends (before its two bytes).
    const std::string first = "--" + b;
    const size_t first_end = body.find(first) + first.size();
    std::vector<size_t> delim_end;
    for (size_t p = body.find("\r\n--" + b, first_end); p != std::string::npos; p = body.find("\r\n--" + b, p + 1))
        delim_end.push_back(p + 4 + b.size());
    ASSERT_EQ(delim_end.size(), 3u);
    const size_t closing = delim_end.back();
    // Where the disposition token "form-data" of each part ends: a part whose header lines end
    // before it is not form-data, makes no entry and, the input being over, ends the form.
    std::vector<size_t> form_data_end;
    for (size_t i = 0; i < delim_end.size(); ++i)
        form_data_end.push_back(body.find("form-data", i == 0 ? first_end : delim_end[i - 1]) + 9);

    auto expected = [&](size_t cut, size_t *parts) {
        *parts = 0;
        if (cut < form_data_end[0])
            return cgiParseSuccess;
        for (size_t i = 0; i + 1 < delim_end.size(); ++i)
            if (cut >= delim_end[i] + 2 && cut < form_data_end[i + 1]) {
                *parts = i + 1;
                return cgiParseSuccess;
            }
        if (cut >= closing + 2) {
            *parts = delim_end.size();
            return cgiParseSuccess;
        }
        return cgiParseIO;
    };

    for (size_t cut = 0; cut <= body.size(); ++cut) {
        size_t parts;
        const int want = expected(cut, &parts);
        for (size_t chunk : {1, 3, 4096}) {
            SCOPED_TRACE("cut " + std::to_string(cut) + " chunk " + std::to_string(chunk));
            // By content length, over the whole body.
            int rc = parse(body, b, chunk, static_cast<long>(cut));
            ASSERT_EQ(rc, want);
            if (rc == cgiParseSuccess) {
                ASSERT_EQ(entries().size(), parts);
            }
            cgiReleaseRequest();
            ASSERT_TRUE(temp_files().empty());
            // By a stream that ends early, the content length claiming the whole body.
            rc = parse(body.substr(0, cut), b, chunk, static_cast<long>(body.size()));
            ASSERT_EQ(rc, want);
            if (rc == cgiParseSuccess) {
                ASSERT_EQ(entries().size(), parts);
            }
            cgiReleaseRequest();
            ASSERT_TRUE(temp_files().empty());
        }
    }
    // The whole body once more, checked in full.
    ASSERT_EQ(parse(body, b), cgiParseSuccess);
    auto e = entries();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].value, "Larry \r\n--AaB0");
    EXPECT_EQ(e[1].content, "line one\r\n--AaB03\r\r\n--A");
    EXPECT_EQ(e[1].type, "text/plain");
    EXPECT_EQ(e[2].content, "");
}

TEST_F(Multipart, PlainFieldsKeepEmbeddedNulsInTheirLength)
{
    std::string value("a\0b\0", 4);
    std::string body = "--b\r\nContent-Disposition: form-data; name=\"bin\"\r\n\r\n" + value + "\r\n--b--";
    ASSERT_EQ(parse(body, "b"), cgiParseSuccess);
    auto e = entries();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].length, 4);
    EXPECT_EQ(e[0].value, value);
}

TEST_F(Multipart, EmptyFileNameIsAPlainField)
{
    // What a browser sends for a file input left empty.
    std::string body = "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"\"\r\n"
                       "Content-Type: application/octet-stream\r\n\r\n\r\n--b--";
    ASSERT_EQ(parse(body, "b"), cgiParseSuccess);
    auto e = entries();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].file, "");
    EXPECT_EQ(e[0].temp, "");
    EXPECT_TRUE(temp_files().empty());
    char name[16] = "junk";
    EXPECT_EQ(cgiFormFileName("file", name, sizeof name), cgiFormNoFileName);
    EXPECT_STREQ(name, "");
}

TEST_F(Multipart, TemporaryFileNotCreatableIsAnInputFailure)
{
    const std::string tmp = nvr_path("/tmp"), away = nvr_path("/tmp.away");
    ASSERT_EQ(rename(tmp.c_str(), away.c_str()), 0);
    std::string body = "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nfield\r\n--b\r\n"
                       "Content-Disposition: form-data; name=\"file\"; filename=\"x.bin\"\r\n\r\nX\r\n--b--";
    int rc = parse(body, "b");
    ASSERT_EQ(rename(away.c_str(), tmp.c_str()), 0);
    EXPECT_EQ(rc, cgiParseIO);
}

// --- lookups ----------------------------------------------------------------------------------

TEST_F(Multipart, FormFileNameAndLookup)
{
    const std::string long_name(127, 'n');
    std::string body =
        "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"first.bin\"\r\n\r\n1\r\n"
        "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"second.bin\"\r\n\r\n2\r\n"
        "--b\r\nContent-Disposition: form-data; name=\"plain\"\r\n\r\n3\r\n"
        "--b\r\nContent-Disposition: form-data; name=\"long\"; filename=\"" + long_name + "\"\r\n\r\n4\r\n"
        "--b--";
    ASSERT_EQ(parse(body, "b"), cgiParseSuccess);
    ASSERT_EQ(entries().size(), 4u);

    char buf[128];
    EXPECT_EQ(cgiFormFileName("file", buf, sizeof buf), cgiFormSuccess);
    EXPECT_STREQ(buf, "first.bin") << "first entry of that name";
    EXPECT_EQ(cgiFormFileName("long", buf, sizeof buf), cgiFormSuccess);
    EXPECT_EQ(std::string(buf), long_name);
    char small[6];
    EXPECT_EQ(cgiFormFileName("file", small, sizeof small), cgiFormTruncated);
    EXPECT_STREQ(small, "first");
    EXPECT_EQ(cgiFormFileName("long", small, sizeof small), cgiFormTruncated);
    snprintf(buf, sizeof buf, "junk");
    EXPECT_EQ(cgiFormFileName("FILE", buf, sizeof buf), cgiFormNotFound) << "names match case-sensitively";
    EXPECT_STREQ(buf, "");
    snprintf(buf, sizeof buf, "junk");
    EXPECT_EQ(cgiFormFileName("plain", buf, sizeof buf), cgiFormNoFileName);
    EXPECT_STREQ(buf, "");

    cgiFormEntry *e = cgiFormEntryFindFirst("file");
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->fileName, "first.bin");
    EXPECT_EQ(cgiFormEntryFindFirst("fil"), nullptr);
    EXPECT_EQ(cgiFormEntryFindFirst("files"), nullptr);
    EXPECT_EQ(cgiFormEntryFindFirst(""), nullptr);
}

TEST(Strrpl, ReplacesEveryOccurrenceWithinTheBound)
{
    struct Case {
        const char *src, *find, *repl, *want;
        int size;
    };
    const Case cases[] = {
        {"{%22portId%22:3}", "%22", "\"", "{\"portId\":3}", 256},
        {"%22%22%22", "%22", "\"", "\"\"\"", 256},
        {"%%222", "%22", "\"", "%\"2", 256},
        {"%2522%7B+", "%22", "\"", "%2522%7B+", 256},
        {"", "%22", "\"", "", 256},
        {"abc", "b", "XYZ", "aXYZc", 256},
        {"abcabc", "b", "XYZ", "aXY", 4},
        {"aaaa", "aa", "a", "aa", 256},
    };
    for (const auto &c : cases) {
        char dst[256];
        std::memset(dst, 'Z', sizeof dst);
        strrpl(dst, c.size, c.src, c.find, c.repl);
        EXPECT_STREQ(dst, c.want) << c.src;
    }
}

// A plain field too large for memory is a memory failure (result 1), not an abort.
TEST_F(Multipart, FieldTooLargeForMemoryIsAMemoryFailure)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit does not combine with the sanitizer's reservations";
#else
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // A body of 'x' without end: the field's buffer outgrows what the process may map.
        struct Endless {
            std::string head = "--b\r\nContent-Disposition: form-data; name=\"big\"\r\n\r\n";
            size_t pos = 0;
        } endless;
        cookie_io_functions_t io{};
        io.read = [](void *c, char *buf, size_t size) -> ssize_t {
            auto *e = static_cast<Endless *>(c);
            for (size_t i = 0; i < size; ++i, ++e->pos)
                buf[i] = e->pos < e->head.size() ? e->head[e->pos] : 'x';
            return static_cast<ssize_t>(size);
        };
        FILE *in = fopencookie(&endless, "r", io);
        long pages = 0;
        if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (48u << 20);
        rlimit rl{limit, limit};
        setrlimit(RLIMIT_AS, &rl);
        mpStream s;
        mpInit(&s, in, 1L << 30);
        try {
            int rc = cgiParseMultipart(&s, "b", 1L << 30);
            cgiReleaseRequest();
            _exit(rc == cgiParseMemory ? 0 : 10 + rc);
        } catch (...) {
            _exit(3); // in webcgi this would end the process by std::terminate
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "the parser died of signal " << WTERMSIG(status);
    EXPECT_NE(WEXITSTATUS(status), 3) << "an exception escaped the parser";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "exit " << WEXITSTATUS(status) << " (10 + result)";
#endif
}

} // namespace
