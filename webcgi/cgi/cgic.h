// CGI layer: the CGI environment as globals, the three intake paths (GET query, POST body,
// multipart upload) that build the one request text a handler receives, the multipart parser
// with its form entry list, and the release of what the request collected.
//
// main() reads the environment (cgi_read_environment), picks the intake path and hands the
// request text to DispatchWebReq (dispatch/dispatchreq.h).
#pragma once
#include <cstdio>

// CGI variables, read once at start in this order; an unset variable reads as "".
extern char *cgiServerSoftware;
extern char *cgiServerName;
extern char *cgiGatewayInterface;
extern char *cgiServerProtocol;
extern char *cgiServerPort;
extern char *cgiRequestMethod;
extern char *cgiPathInfo;
extern char *cgiPathTranslated;
extern char *cgiScriptName;
extern char *cgiQueryString;
extern char *cgiRemoteHost;
extern char *cgiRemoteAddr;
extern char *cgiAuthType;
extern char *cgiRemoteUser;
extern char *cgiRemoteIdent;
extern char *cgiServerAddr;  // HTTP_HOST
extern char *cgiContentType; // bare media type, inside cgiContentTypeData
extern char cgiContentTypeData[1024];
extern int cgiContentLength;
extern char *cgiAccept;
extern char *cgiUserAgent;
extern char *cgiReferrer;
extern char *cgiCookie;
extern char *cgiMultipartBoundary; // inside cgiContentTypeData, or ""
extern FILE *cgiIn;
extern FILE *cgiOut;

// Buffer sizes of the intake paths.
constexpr int CGI_CODE_SIZE = 128;        // request code from PATH_INFO
constexpr int CGI_QUERY_SIZE = 256;       // GET query
constexpr int CGI_POST_SIZE = 30720;      // POST body
constexpr int CGI_POST_MAX_LINES = 128;
constexpr int CGI_FILENAME_SIZE = 128;    // client file name and its base name
constexpr int CGI_UPLOAD_TEXT_SIZE = 1088;
constexpr int CGI_UPLOAD_PARAM_SIZE = 256;
constexpr int CGI_MULTIPART_FIELD_SIZE = 1024;

// One part of a multipart body, in arrival order.
struct cgiFormEntry {
    char *attr;          // field name
    char *value;         // body of a plain field ("" for a file part)
    int valueLength;
    char *fileName;      // client file name ("" for a plain field)
    char *contentType;   // first token of the part's Content-Type ("" when absent)
    char *tfileName;     // temporary file holding a file part's body ("" for a plain field)
    cgiFormEntry *next;
};
extern cgiFormEntry *cgiFormEntryFirst;

// Results of cgiReadMultipartForm.
enum { cgiParseSuccess = 0, cgiParseMemory = 1, cgiParseIO = 2 };
// Results of cgiFormFileName.
enum { cgiFormSuccess = 0, cgiFormTruncated = 1, cgiFormNotFound = 4, cgiFormNoFileName = 8 };

void cgi_read_environment();
void cgiDealGet();
void cgiDealPost();
void cgiDealUpload();
int cgiReadMultipartForm();
int cgiFormFileName(const char *name, char *buffer, int size);
cgiFormEntry *cgiFormEntryFindFirst(const char *name);
void cgiReleaseRequest();
// Copies src to dst replacing every `find` by `replacement`; dst holds at most dst_size - 1
// characters (the bound the caller used to guarantee by hand).
void strrpl(char *dst, int dst_size, const char *src, const char *find, const char *replacement);

// The multipart input stream: never reads more than cgiContentLength bytes of cgiIn; bytes that
// the parser pushes back come out first.
struct mpStream {
    FILE *in;
    long remaining;          // bytes of the body not yet read from `in`
    unsigned char ring[1024];
    int ring_start;
    int ring_count;
};
void mpInit(mpStream *s, FILE *in, long length);
int mpRead(mpStream *s, char *buffer, int count);
void mpPutBack(mpStream *s, const char *bytes, int count);
// Parses a multipart body with the given boundary from the stream (cgiReadMultipartForm reads
// the CGI globals and calls this); appends to the form entry list.
int cgiParseMultipart(mpStream *s, const char *boundary, long content_length);
