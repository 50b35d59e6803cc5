// webcgi entry: one process per HTTP request. The module constructors have filled the web
// resource table before main() runs; main reads the CGI environment, picks the intake path by
// method and content type, lets the one handler run, and releases the upload's files.
#include <cstring>
#include <strings.h>

#include "cgic.h"

int main(int, char **)
{
    cgi_read_environment();

    if (strcasecmp(cgiRequestMethod, "post") == 0) {
        if (strcasecmp(cgiContentType, "application/x-www-form-urlencoded") == 0 ||
            strcasecmp(cgiContentType, "application/json") == 0) {
            cgiDealPost();
        } else if (strcasecmp(cgiContentType, "multipart/form-data") == 0) {
            // "/1010" streams its body itself; everything else is parsed into form entries first.
            if (std::strcmp(cgiPathInfo, "/1010") != 0 && cgiReadMultipartForm() != cgiParseSuccess) {
                cgiReleaseRequest();
                return -1;
            }
            cgiDealUpload();
        }
    } else if (strcasecmp(cgiRequestMethod, "get") == 0) {
        cgiContentLength = static_cast<int>(std::strlen(cgiQueryString));
        cgiDealGet();
    }
    cgiReleaseRequest();
    return 0;
}
