// Multipart/form-data parser (RFC 7578 over RFC 2046 bodies) for uploads: each part becomes a
// form entry; file parts are written to temporary files "/tmp/cgicXXXXXX" (sandboxed), plain
// fields are kept in memory. The input stream never reads past CONTENT_LENGTH; bytes the parser
// pushes back while matching a delimiter come out of a 1024-byte ring first.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cgic.h"
#include "nvr_path.h"

void mpInit(mpStream *s, FILE *in, long length)
{
    s->in = in;
    s->remaining = length > 0 ? length : 0;
    s->ring_start = 0;
    s->ring_count = 0;
}

int mpRead(mpStream *s, char *buffer, int count)
{
    int got = 0;
    while (got < count && s->ring_count > 0) {
        buffer[got++] = static_cast<char>(s->ring[s->ring_start]);
        s->ring_start = (s->ring_start + 1) % static_cast<int>(sizeof s->ring);
        --s->ring_count;
    }
    if (got < count && s->remaining > 0) {
        long want = count - got;
        if (want > s->remaining)
            want = s->remaining;
        size_t n = std::fread(buffer + got, 1, static_cast<size_t>(want), s->in);
        s->remaining -= static_cast<long>(n);
        if (n < static_cast<size_t>(want))
            s->remaining = 0; // the body ended early
        got += static_cast<int>(n);
    }
    if (got == 0 && count > 0)
        return -1;
    return got;
}

void mpPutBack(mpStream *s, const char *bytes, int count)
{
    const int size = static_cast<int>(sizeof s->ring);
    // Pushed in reverse at the front, so that they come out in their own order. The parser never
    // pushes back more than the ring holds (delimiters are kept shorter than the ring).
    for (int i = count - 1; i >= 0 && s->ring_count < size; --i) {
        s->ring_start = (s->ring_start - 1 + size) % size;
        s->ring[s->ring_start] = static_cast<unsigned char>(bytes[i]);
        ++s->ring_count;
    }
}

namespace {

int read_byte(mpStream *s)
{
    char c;
    return mpRead(s, &c, 1) == 1 ? static_cast<unsigned char>(c) : -1;
}

// Where the bytes before a delimiter go: a temporary file, memory, or nowhere (preamble).
struct BodySink {
    FILE *file = nullptr;
    std::string *memory = nullptr;
    bool failed = false;
    void put(char c)
    {
        if (file) {
            if (std::fputc(c, file) == EOF)
                failed = true;
        } else if (memory) {
            memory->push_back(c);
        }
    }
};

enum class Delim { Found, Closing, End };

// Reads up to and including `delimiter`, sending the bytes before it to `sink`. With `trailer`
// the two bytes that follow it are read too. Found: CR LF (or another pair) followed, or no
// trailer was asked for; Closing: "--" follows (pushed back).
Delim read_to_delimiter(mpStream *s, const std::string &delimiter, BodySink &sink, bool trailer = true)
{
    size_t matched = 0;
    for (;;) {
        int c = read_byte(s);
        if (c < 0)
            return Delim::End;
        if (static_cast<char>(c) == delimiter[matched]) {
            if (++matched == delimiter.size())
                break;
            continue;
        }
        if (matched == 0) {
            sink.put(static_cast<char>(c));
            continue;
        }
        // False start: the first matched byte is data; the rest, and this byte, are read again.
        sink.put(delimiter[0]);
        std::string again = delimiter.substr(1, matched - 1);
        again.push_back(static_cast<char>(c));
        mpPutBack(s, again.data(), static_cast<int>(again.size()));
        matched = 0;
    }
    if (!trailer)
        return Delim::Found;
    char d[2];
    if (mpRead(s, d, 2) != 2)
        return Delim::End;
    if (d[0] == '\r' && d[1] == '\n')
        return Delim::Found;
    if (d[0] == '-') {
        mpPutBack(s, d, 2);
        return Delim::Closing;
    }
    return Delim::Found; // any other pair is dropped
}

// One header line: attribute (white space dropped) before the first ':', value after it with
// the white space after ':' skipped. Lines end at LF or CR LF; a CR followed by anything else ends
// the line and that byte is read again.
void read_header_line(mpStream *s, std::string &attr, std::string &value)
{
    attr.clear();
    value.clear();
    bool in_value = false, skipping = false;
    for (;;) {
        int c = read_byte(s);
        if (c < 0 || c == '\n')
            return;
        if (c == '\r') {
            int next = read_byte(s);
            if (next >= 0 && next != '\n') {
                char b = static_cast<char>(next);
                mpPutBack(s, &b, 1);
            }
            return;
        }
        if (!in_value) {
            if (c == ':') {
                in_value = true;
                skipping = true;
            } else if (!std::isspace(c) && attr.size() < CGI_MULTIPART_FIELD_SIZE - 1) {
                attr.push_back(static_cast<char>(c));
            }
        } else {
            if (skipping && std::isspace(c))
                continue;
            skipping = false;
            if (value.size() < CGI_MULTIPART_FIELD_SIZE - 1)
                value.push_back(static_cast<char>(c));
        }
    }
}

// Content-Disposition: form-data; name="x"; filename="y"
void parse_disposition(const std::string &v, std::string &disposition, std::string &name, std::string &filename)
{
    size_t i = 0;
    auto skip_ws = [&] {
        while (i < v.size() && std::isspace(static_cast<unsigned char>(v[i])))
            ++i;
    };
    auto read_value = [&](std::string &out) {
        out.clear();
        if (i < v.size() && v[i] == '"') {
            ++i;
            while (i < v.size() && v[i] != '"')
                out.push_back(v[i++]);
            if (i < v.size())
                ++i;
        } else {
            while (i < v.size() && v[i] != ';')
                out.push_back(v[i++]);
        }
        if (out.size() > CGI_MULTIPART_FIELD_SIZE - 1)
            out.resize(CGI_MULTIPART_FIELD_SIZE - 1);
    };
    read_value(disposition);
    for (;;) {
        skip_ws();
        if (i >= v.size() || v[i] != ';')
            return;
        ++i;
        skip_ws();
        std::string key;
        while (i < v.size() && std::isalnum(static_cast<unsigned char>(v[i])))
            key.push_back(v[i++]);
        skip_ws();
        if (i >= v.size() || v[i] != '=')
            return;
        ++i;
        skip_ws();
        std::string value;
        read_value(value);
        if (strcasecmp(key.c_str(), "name") == 0)
            name = value;
        else if (strcasecmp(key.c_str(), "filename") == 0)
            filename = value;
    }
}

char *dup_text(const std::string &s)
{
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    if (p) {
        std::memcpy(p, s.data(), s.size());
        p[s.size()] = '\0';
    }
    return p;
}

int parse_multipart(mpStream *s, const char *boundary, long content_length)
{
    if (content_length == 0)
        return cgiParseSuccess;
    const std::string first = std::string("--") + boundary;
    const std::string delimiter = std::string("\r\n--") + boundary;
    // A delimiter longer than the push-back ring could not be matched safely.
    if (delimiter.size() >= sizeof s->ring)
        return cgiParseIO;

    // The first boundary is read without what follows it: its line end comes back below as a
    // part with no header lines at all, which makes no entry.
    BodySink nowhere;
    if (read_to_delimiter(s, first, nowhere, false) == Delim::End)
        return cgiParseSuccess; // an empty submission is no error

    cgiFormEntry **tail = &cgiFormEntryFirst;
    while (*tail)
        tail = &(*tail)->next;

    for (;;) {
        char d[2];
        if (mpRead(s, d, 2) < 2)
            return cgiParseSuccess;
        if (d[0] == '-' && d[1] == '-')
            return cgiParseSuccess;
        mpPutBack(s, d, 2);

        std::string disposition, name, filename, content_type, attr, value;
        for (;;) {
            read_header_line(s, attr, value);
            if (attr.empty() || value.empty())
                break;
            if (strcasecmp(attr.c_str(), "Content-Disposition") == 0) {
                parse_disposition(value, disposition, name, filename);
            } else if (strcasecmp(attr.c_str(), "Content-Type") == 0) {
                size_t end = value.find_first_of("; \t");
                content_type = value.substr(0, end);
            }
        }
        // Not a form field: no entry, and nothing more is read for it. What follows its header
        // lines is read as the next part's header lines, so that a part that is not form-data
        // ends the form in all but contrived bodies (the browser never sends one).
        if (strcasecmp(disposition.c_str(), "form-data") != 0)
            continue;

        BodySink sink;
        std::string memory;
        std::string temp_name;
        if (!filename.empty()) {
            std::string tmpl = nvr_path("/tmp/cgicXXXXXX");
            int fd = mkstemp(tmpl.data());
            if (fd < 0)
                return cgiParseIO;
            if (fchmod(fd, 0600) != 0) {
                close(fd);
                unlink(tmpl.c_str());
                return cgiParseIO;
            }
            sink.file = fdopen(fd, "wb");
            if (sink.file == nullptr) {
                close(fd);
                unlink(tmpl.c_str());
                return cgiParseIO;
            }
            temp_name = tmpl;
        } else {
            memory.reserve(256);
            sink.memory = &memory;
        }
        Delim r = read_to_delimiter(s, delimiter, sink);
        if (sink.file) {
            bool close_failed = std::fclose(sink.file) != 0;
            if (close_failed)
                sink.failed = true;
        }
        if (r == Delim::End || sink.failed) {
            if (!temp_name.empty())
                unlink(temp_name.c_str());
            return cgiParseIO;
        }

        cgiFormEntry *e = static_cast<cgiFormEntry *>(std::calloc(1, sizeof(cgiFormEntry)));
        if (e != nullptr) {
            e->attr = dup_text(name);
            e->value = dup_text(filename.empty() ? memory : std::string());
            e->fileName = dup_text(filename);
            e->contentType = dup_text(content_type);
            e->tfileName = dup_text(temp_name);
        }
        if (e == nullptr || !e->attr || !e->value || !e->fileName || !e->contentType || !e->tfileName) {
            if (e) {
                std::free(e->attr);
                std::free(e->value);
                std::free(e->fileName);
                std::free(e->contentType);
                std::free(e->tfileName);
                std::free(e);
            }
            if (!temp_name.empty())
                unlink(temp_name.c_str());
            return cgiParseMemory;
        }
        // A file part's length is the size of its temporary file.
        if (!temp_name.empty()) {
            struct stat st;
            e->valueLength = stat(temp_name.c_str(), &st) == 0 ? static_cast<int>(st.st_size) : 0;
        } else {
            e->valueLength = static_cast<int>(memory.size());
        }
        *tail = e;
        tail = &e->next;
    }
}

} // namespace

// Fields are collected in memory: running out of it is result 1, never an exception out of the
// parser.
int cgiParseMultipart(mpStream *s, const char *boundary, long content_length)
{
    try {
        return parse_multipart(s, boundary, content_length);
    } catch (const std::bad_alloc &) {
        return cgiParseMemory;
    }
}
