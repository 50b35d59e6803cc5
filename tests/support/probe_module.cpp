// Test-only handler module for webcgi-probe: the real intake and dispatch with a request table
// whose handlers print what they were handed, so that the request texts of the intake paths and
// the form entries of an upload can be checked byte for byte.
#include <array>
#include <string>
#include <sys/stat.h>

#include "cgic.h"
#include "dispatchreq.h"
#include "nvr_path.h"
#include "web_utils.h"

namespace {
int on_probe(const char *request)
{
    std::string out = "request=[";
    out += request ? request : "(null)";
    out += "]\n";
    for (cgiFormEntry *e = cgiFormEntryFirst; e; e = e->next) {
        struct stat st;
        bool temp_exists = e->tfileName[0] && stat(e->tfileName, &st) == 0;
        out += "entry name=[" + std::string(e->attr) + "] length=" + std::to_string(e->valueLength) +
               " file=[" + e->fileName + "] type=[" + e->contentType + "] temp=" + (temp_exists ? "yes" : "no");
        if (!e->fileName[0])
            out += " value=[" + std::string(e->value) + "]";
        out += "\n";
    }
    return cgi_writeback_webserver(CGI_TEXT, out.c_str());
}

constexpr std::array<WebReqEntry, 9> k_probe_requests{{
    {"/probe", on_probe}, {"/6100", on_probe}, {"/1010", on_probe}, {"/6082", on_probe},
    {"/2079", on_probe}, {"/1019", on_probe}, {"/oem", on_probe}, {"/3001", on_probe},
    {"/123456", on_probe},
}};
} // namespace

WEBCGI_MODULE(probe, k_probe_requests)
