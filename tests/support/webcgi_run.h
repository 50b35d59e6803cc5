// Request-table driver: runs build/bin/webcgi as the web server would (CGI environment, body on
// standard input) inside a fresh sandbox, with coresim answering from a replay script (or in
// recorder mode), and gives back the exact standard output, the daemon messages received and
// access to the sandbox's databases and files.
//
//   Sandbox box;                                   // build/bin/nvr-sandbox in a temp dir
//   CgiRequest req{.code = "/6100"};
//   req.replay = "3433 8433 0100000002000000\n";   // coresim --replay lines
//   CgiResult r = run_webcgi(box, req);
//   EXPECT_EQ(r.out, "Content-type: application/json\r\n\r\n{ ... }");
//   EXPECT_EQ(r.daemon_ids(), std::vector<int>{3433});
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct Sandbox {
    std::string root;
    Sandbox();                // fresh sandbox made by nvr-sandbox
    ~Sandbox();               // removed again
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;
    std::string path(const std::string &recorder_path) const { return root + recorder_path; }
    std::string read_file(const std::string &recorder_path) const;
    void write_file(const std::string &recorder_path, const std::string &content) const;
    bool exists(const std::string &recorder_path) const;
    // Lines appended by the stand-in tools.
    std::vector<std::string> commands() const;
};

enum class Daemon {
    Replay,   // coresim --replay with CgiRequest::replay (empty script: nothing answered)
    Recorder, // coresim in recorder mode
    None,     // no daemon running
};

struct CgiRequest {
    std::string method = "GET";
    std::string code;          // PATH_INFO
    std::string query;         // QUERY_STRING
    std::string content_type;  // CONTENT_TYPE (POST)
    std::string body;          // standard input
    std::string cookie;        // HTTP_COOKIE
    std::string remote_addr = "192.168.1.20";
    std::string host = "192.168.1.100";  // HTTP_HOST
    Daemon daemon = Daemon::Replay;
    std::string replay;        // coresim --replay script
    long time_scale = 100;     // NVR_TIME_SCALE: a 40 s wait lasts 0.4 s
    std::vector<std::pair<std::string, std::string>> env; // further variables
    std::string program = "webcgi"; // program in build/bin to run
    bool no_content_length = false; // leave CONTENT_LENGTH unset
    // A JSON POST (sets method, content type and body).
    static CgiRequest post_json(const std::string &code, const std::string &json);
    static CgiRequest get(const std::string &code, const std::string &query = "");
};

struct DaemonMessage {
    int id;
    std::string payload; // raw bytes
};

struct CgiResult {
    int status = -1;           // exit status of webcgi
    std::string out;           // exact standard output
    std::string err;           // standard error
    std::vector<DaemonMessage> daemon; // messages coresim received, in order
    std::vector<int> daemon_ids() const;
    // The payloads of every message with this id.
    std::vector<std::string> payloads(int id) const;
};

CgiResult run_webcgi(Sandbox &box, const CgiRequest &request);

// Hex helpers for replay scripts and payload checks.
std::string to_hex(const std::string &bytes);
std::string to_hex(const void *data, size_t size);
std::string from_hex(const std::string &hex);
template <typename T> std::string hex_of(const T &record) { return to_hex(&record, sizeof(T)); }

// Standard answer prefixes.
inline const std::string kJsonHeader = "Content-type: application/json\r\n\r\n";
inline const std::string kTextHeader = "Content-type: text/plain\r\n\r\n";
inline const std::string kJsonError = kJsonHeader + "{status:\"CGI ERROR\"}";
inline const std::string kTextError = kTextHeader + "CGI ERROR";

// Path of a program in build/bin.
std::string bin_path(const std::string &name);
