// Test kit for the update utility: a fresh sandbox made by build/bin/nvr-sandbox in a temp dir
// (removed afterwards), build/bin/update run in it as a child process with its output captured,
// and helpers to read and write environment copies and part files directly.
//
// Tests that call update_core in-process share one sandbox per test process
// (process_sandbox()), because the sandbox root is fixed once a process has asked for it.
#pragma once
#include "crc32.h"
#include "emulator.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace upd {

using bytes = std::vector<unsigned char>;
using env_list = std::vector<std::pair<std::string, std::string>>;

inline std::string bin_path(const char *name) { return std::string(NVR_BIN_DIR) + "/" + name; }

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_file(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

// True when every byte of `s` is `c` (keeps failure messages short for big buffers).
inline bool all_bytes(const std::string &s, char c)
{
    return s.find_first_not_of(c) == std::string::npos;
}

inline bool file_exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

struct run_result {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
};

// Runs `program` with argv (argv[0] included), the environment of the test plus `env` (an empty
// value removes the variable); stdout and stderr go to files under `scratch`.
inline run_result run_program(const std::string &program, const std::vector<std::string> &argv,
                              const env_list &env, const std::string &scratch)
{
    static int serial = 0;
    const std::string out_file = scratch + "/run-" + std::to_string(getpid()) + "-" +
                                 std::to_string(++serial);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        unsetenv("NVR_POWER_CUT_AFTER");
        for (const auto &[k, v] : env) {
            if (v.empty())
                unsetenv(k.c_str());
            else
                setenv(k.c_str(), v.c_str(), 1);
        }
        int o = open((out_file + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open((out_file + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(o, 1);
        dup2(e, 2);
        dup2(in, 0);
        const update_test::launch l = update_test::launch_of(program, argv);
        std::vector<char *> args;
        for (const std::string &a : l.argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(l.path.c_str(), args.data());
        _exit(127);
    }
    run_result r;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = read_file(out_file + ".out");
    r.err = read_file(out_file + ".err");
    unlink((out_file + ".out").c_str());
    unlink((out_file + ".err").c_str());
    return r;
}

// Copy layout of the environment: CRC over bytes 4..65535, strings from byte 4, flag last.
constexpr size_t COPY_SIZE = 0x10000;

inline std::string env_strings(const std::vector<std::string> &vars)
{
    std::string s;
    for (const std::string &v : vars) {
        s += v;
        s += '\0';
    }
    s += '\0';
    return s;
}

// A 64 KiB copy holding `strings` (already NUL-separated), flag byte, and a valid CRC unless
// `good_crc` is false.
inline std::string make_copy(const std::string &strings, unsigned char flag, bool good_crc = true)
{
    std::string copy(COPY_SIZE, '\0');
    copy.replace(4, strings.size(), strings);
    copy[COPY_SIZE - 1] = static_cast<char>(flag);
    uint32_t crc = crc32(0, reinterpret_cast<const unsigned char *>(copy.data()) + 4,
                         COPY_SIZE - 4);
    if (!good_crc)
        crc ^= 0x1;
    std::memcpy(&copy[0], &crc, 4);
    return copy;
}

inline bool copy_crc_ok(const std::string &copy)
{
    uint32_t stored = 0;
    std::memcpy(&stored, copy.data(), 4);
    return copy.size() == COPY_SIZE &&
           crc32(0, reinterpret_cast<const unsigned char *>(copy.data()) + 4, COPY_SIZE - 4) ==
               stored;
}

class sandbox {
public:
    sandbox()
    {
        char tmpl[] = "/tmp/nvr-update-test-XXXXXX";
        const char *dir = mkdtemp(tmpl);
        if (!dir)
            throw std::runtime_error("mkdtemp failed");
        root = dir;
        run_result r = run_program(bin_path("nvr-sandbox"), {"nvr-sandbox", root}, {}, root);
        if (r.status != 0)
            throw std::runtime_error("nvr-sandbox failed: " + r.err);
    }
    ~sandbox()
    {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    sandbox(const sandbox &) = delete;
    sandbox &operator=(const sandbox &) = delete;

    // Host path of a recorder path.
    std::string path(const std::string &recorder_path) const { return root + recorder_path; }

    // build/bin/update with `args`, started under the name `name` (fw_printenv, fw_setenv).
    run_result run_as(const std::string &name, const std::vector<std::string> &args,
                      env_list env = {}) const
    {
        std::vector<std::string> argv{name};
        argv.insert(argv.end(), args.begin(), args.end());
        env.insert(env.begin(), {"NVR_TIME_SCALE", "1000"});
        env.insert(env.begin(), {"NVR_ROOT", root});
        return run_program(bin_path("update"), argv, env, root + "/tmp");
    }
    run_result update(const std::vector<std::string> &args, env_list env = {}) const
    {
        return run_as("update", args, std::move(env));
    }
    run_result printenv(const std::vector<std::string> &args, env_list env = {}) const
    {
        return run_as("fw_printenv", args, std::move(env));
    }
    run_result setenv_(const std::vector<std::string> &args, env_list env = {}) const
    {
        return run_as("fw_setenv", args, std::move(env));
    }

    // The two environment copies on mtd1.
    std::string env_device() const { return path("/dev/mtd1"); }
    std::string read_copy(int which) const
    {
        return read_file(env_device()).substr(which * COPY_SIZE, COPY_SIZE);
    }
    void write_copy(int which, const std::string &copy) const
    {
        std::fstream f(env_device(), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(which * COPY_SIZE));
        f.write(copy.data(), static_cast<std::streamsize>(copy.size()));
    }
    void write_copies(const std::string &copy1, const std::string &copy2) const
    {
        write_copy(0, copy1);
        write_copy(1, copy2);
    }

    std::string root;
};

// One sandbox for the in-process tests of this test program; NVR_ROOT is set before the first
// use of the sandbox helper.
inline const sandbox &process_sandbox()
{
    static sandbox box;
    static bool set = (setenv("NVR_ROOT", box.root.c_str(), 1), true);
    (void)set;
    return box;
}

// Captures what a function prints on stdout and stderr (in-process).
struct captured {
    int result = 0;
    std::string out, err;
};

template <typename F>
captured capture(F f)
{
    std::fflush(nullptr);
    FILE *o = std::tmpfile();
    FILE *e = std::tmpfile();
    int saved_out = dup(1), saved_err = dup(2);
    dup2(fileno(o), 1);
    dup2(fileno(e), 2);
    captured c;
    c.result = f();
    std::fflush(nullptr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    for (auto [file, text] : {std::pair{o, &c.out}, std::pair{e, &c.err}}) {
        std::rewind(file);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, file)) > 0)
            text->append(buf, n);
        std::fclose(file);
    }
    return c;
}

// Part files for `update --build-image`: name -> content.
inline void write_parts(const std::string &dir,
                        std::initializer_list<std::pair<const char *, std::string>> parts)
{
    std::filesystem::create_directories(dir);
    for (const auto &[name, content] : parts)
        write_file(dir + "/" + name, content);
}

inline std::string pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}

} // namespace upd
