// Test kit of the installer tests: one sandbox root per test process (the sandbox path helper
// reads NVR_ROOT once), laid out afresh for each test by build/bin/nvr-sandbox; upgrade images
// written from chosen parts and versions; helpers to read and change the emulated flash and the
// boot environment; and a runner for build/bin/update as a child process.
#pragma once
#include "bootenv.h"
#include "crc32.h"
#include "emulator.h"
#include "image.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace u2test {

using Bytes = std::vector<unsigned char>;

// The sandbox root of this process; NVR_ROOT is set before anything reads it, and the root is
// removed when the process ends.
inline const std::string &sandbox_root()
{
    static const std::string *root = [] {
        const char *tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/u2-install-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data()))
            std::abort();
        setenv("NVR_ROOT", buf.data(), 1);
        return new std::string(buf.data());
    }();
    static const bool cleanup_registered = [] {
        std::atexit([] {
            std::error_code ec;
            for (const char *suffix : {"", ".pristine", ".out", ".err"})
                std::filesystem::remove_all(*root + suffix, ec);
        });
        return true;
    }();
    (void)cleanup_registered;
    return *root;
}

inline std::string host(const std::string &recorder_path) { return sandbox_root() + recorder_path; }

struct RunResult {
    int status = -1;
    std::string out, err;
};

inline std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs argv with NVR_ROOT set to this process's sandbox plus `extra` variables ("NAME=value";
// "NAME=" removes NAME); stdout and stderr are captured.
inline RunResult run(const std::vector<std::string> &command, const std::vector<std::string> &extra = {})
{
    const update_test::launch l = update_test::launch_of(command.at(0), command);
    const std::vector<std::string> &argv = l.argv;
    const std::string out = sandbox_root() + ".out", err = sandbox_root() + ".err";

    // The child's environment: this one with NVR_ROOT set, no power cut, then `extra`.
    std::map<std::string, std::string> vars;
    for (char **e = environ; *e; e++) {
        const std::string v = *e;
        const size_t eq = v.find('=');
        if (eq != std::string::npos)
            vars[v.substr(0, eq)] = v.substr(eq + 1);
    }
    vars["NVR_ROOT"] = sandbox_root();
    vars.erase("NVR_POWER_CUT_AFTER");
    for (const std::string &e : extra) {
        const size_t eq = e.find('=');
        if (eq + 1 == e.size())
            vars.erase(e.substr(0, eq));
        else
            vars[e.substr(0, eq)] = e.substr(eq + 1);
    }
    std::vector<std::string> env_text;
    for (const auto &[k, v] : vars)
        env_text.push_back(k + "=" + v);
    std::vector<char *> envp, args;
    for (std::string &e : env_text)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);

    // Spawned rather than forked: the test process holds whole flash images in memory.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::fflush(nullptr);
    pid_t pid = -1;
    RunResult result;
    const int rc = posix_spawnp(&pid, l.path.c_str(), &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.status = 127;
        return result;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = slurp(out);
    result.err = slurp(err);
    return result;
}

// Programs of the build (U2_BIN_DIR may name a copy, so that a long run is not disturbed by a
// rebuild).
inline std::string bin(const char *name)
{
    const char *dir = std::getenv("U2_BIN_DIR");
    return std::string(dir && *dir ? dir : NVR_BIN_DIR) + "/" + name;
}

// Lays out the sandbox afresh and forgets any environment loaded before. The sandbox maker runs
// once per process; later tests start from a copy of its result.
inline void fresh_sandbox()
{
    env_deinit();
    const std::string root = sandbox_root();
    const std::string pristine = root + ".pristine";
    static bool made = false;
    if (!made) {
        RunResult r = run({bin("nvr-sandbox"), pristine});
        ASSERT_EQ(r.status, 0) << r.err;
        made = true;
    }
    ASSERT_EQ(run({"/bin/rm", "-rf", root}).status, 0);
    ASSERT_EQ(run({"/bin/cp", "-a", pristine, root}).status, 0);
}

inline Bytes read_bytes(const std::string &path)
{
    std::string s = slurp(path);
    return Bytes(s.begin(), s.end());
}

inline void write_bytes(const std::string &path, const Bytes &data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline void write_text(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Deterministic bytes, different for each seed.
inline Bytes pattern(size_t size, unsigned seed)
{
    Bytes b(size);
    uint32_t x = seed * 2654435761u + 12345;
    for (size_t i = 0; i < size; i++) {
        x = x * 1103515245u + 12345;
        b[i] = static_cast<unsigned char>(x >> 16);
    }
    return b;
}

// ---- Emulated flash ----------------------------------------------------------------------------

// Device file of a partition, as the sandbox lays them out (mtd0 = uboot ... mtd9 = rsd).
inline std::string device_of(const std::string &partition)
{
    for (int i = 0; i < ENV_PART_COUNT; i++)
        if (partition == env_part_names[i])
            return host("/dev/mtd" + std::to_string(i));
    ADD_FAILURE() << "no partition " << partition;
    return "";
}

inline Bytes device_bytes(const std::string &partition) { return read_bytes(device_of(partition)); }

// Replaces a line of a device's geometry sidecar ("bad 1,3", "failwrite 2").
inline void set_geometry(const std::string &partition, const std::string &key, const std::string &value)
{
    const std::string path = device_of(partition) + ".geometry";
    std::istringstream in(slurp(path));
    std::string line, text;
    bool found = false;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size() + 1, key + " ") == 0 || line == key) {
            line = key + " " + value;
            found = true;
        }
        text += line + "\n";
    }
    if (!found)
        text += key + " " + value + "\n";
    write_text(path, text);
}

inline std::string geometry_line(const std::string &partition, const std::string &key)
{
    std::istringstream in(slurp(device_of(partition) + ".geometry"));
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, key.size() + 1, key + " ") == 0)
            return line.substr(key.size() + 1);
    return "";
}

// True when `data` lies at `offset` of `flash`.
inline bool holds(const Bytes &flash, const Bytes &data, size_t offset = 0)
{
    return flash.size() >= offset + data.size() &&
           std::equal(data.begin(), data.end(), flash.begin() + static_cast<long>(offset));
}

// ---- Boot environment --------------------------------------------------------------------------

// Value of a variable as stored on flash now ("" when absent).
inline std::string env_value(const char *name)
{
    env_deinit();
    const char *v = hs_getenv(name);
    return v ? v : "";
}

inline env_mtd_entry env_entry(const char *partition)
{
    env_deinit();
    env_mtd_table table;
    EXPECT_EQ(get_env_mtd_table(&table), 0);
    for (const env_mtd_entry &e : table.part)
        if (std::strcmp(e.name, partition) == 0)
            return e;
    ADD_FAILURE() << "no entry " << partition;
    return env_mtd_entry{};
}

inline void set_env(const char *name, const char *value)
{
    env_deinit();
    ASSERT_EQ(hs_setenv(name, value), 0);
    env_deinit();
}

inline void set_entry(const char *partition, uint32_t version, uint32_t size = 0x1000,
                      uint32_t date = 0x07E60712)
{
    env_mtd_entry e{};
    std::snprintf(e.name, sizeof e.name, "%s", partition);
    e.version = version;
    e.size = size;
    e.date = date;
    env_deinit();
    ASSERT_EQ(set_env_partition(&e), 0);
    env_deinit();
}

// Runs the recorder on slots 2: "ubi.mtd=fs2" and "ker2".
inline void boot_from_slot2()
{
    set_env("bootargs", "mem=1024M console=ttyAMA0,115200 ubi.mtd=fs2 root=ubi0:rootfs rw rootfstype=ubifs");
    set_env("bootcmd", "nand read 0x42000000 ker2 0x200000; bootm 0x42000000");
}

// ---- Upgrade images ----------------------------------------------------------------------------

struct ImagePart {
    std::string name;   // "bld", "ker", "fs", "cmd", "jpg", "bld2", "tool"
    uint32_t version;
    Bytes data;         // padded with 0xFF to a multiple of 2048 in the image
    uint32_t date = 0x07E60712;
};

inline int slot_of(const std::string &name)
{
    for (int i = 0; i < UPFW_SLOT_COUNT; i++)
        if (name == upfw_slots[i].name)
            return i;
    return -1;
}

inline Bytes padded(const Bytes &data)
{
    Bytes p = data;
    p.resize((data.size() + 2047) / 2048 * 2048, 0xFF);
    return p;
}

// Writes an image of `parts` (each in its fixed slot) to `path`.
inline void write_image(const std::string &path, const std::vector<ImagePart> &parts)
{
    upfw_image_header header;
    std::memset(&header, 0, sizeof header);
    Bytes body;
    for (const ImagePart &part : parts) {
        const int slot = slot_of(part.name);
        ASSERT_GE(slot, 0) << part.name;
        const Bytes data = padded(part.data);
        upfw_part_record &r = header.part[slot];
        r.offset = static_cast<uint32_t>(UPFW_HEADER_SIZE + body.size());
        r.size = static_cast<uint32_t>(data.size());
        r.version = part.version;
        r.flag = upfw_slots[slot].flag;
        r.date = part.date;
        r.crc = crc32(0, data.data(), data.size());
        std::snprintf(r.name, sizeof r.name, "%s", part.name.c_str());
        body.insert(body.end(), data.begin(), data.end());
    }
    std::snprintf(header.build_time, sizeof header.build_time, "2024-05-06 07:08:09");
    std::snprintf(header.release, sizeof header.release, "9.0.16");
    Bytes file(reinterpret_cast<const unsigned char *>(&header),
               reinterpret_cast<const unsigned char *>(&header) + sizeof header);
    file.insert(file.end(), body.begin(), body.end());
    write_bytes(path, file);
}

// Versions of a release newer than the sandbox's installed one (uboot 7.1.2.26, logo 7.1.0.1,
// kernel 7.1.0.13, file system 71.9.0.16).
constexpr uint32_t BLD_NEWER = 0x0701021B;   // 7.1.2.27: same board variant, next build
constexpr uint32_t BLD2_OTHER = 0x0701031B;  // 7.1.3.27: the 4096 MB board's loader
constexpr uint32_t KER_NEW = 0x0701000E;     // 7.1.0.14
constexpr uint32_t FS_NEW = 0x47090011;      // 71.9.0.17
constexpr uint32_t JPG_NEW = 0x07010002;     // 7.1.0.2

// A full release: every part, each with its own bytes.
inline std::vector<ImagePart> full_release()
{
    return {
        {"bld", BLD_NEWER, pattern(200 * 1024, 1)},
        {"ker", KER_NEW, pattern(300 * 1024, 2)},
        {"fs", FS_NEW, pattern(700 * 1024, 3)},
        {"cmd", 0x00010001, pattern(64 * 1024, 4)},
        {"jpg", JPG_NEW, pattern(40 * 1024, 5)},
        {"bld2", BLD2_OTHER, pattern(210 * 1024, 6)},
    };
}

inline ImagePart *part_named(std::vector<ImagePart> &parts, const std::string &name)
{
    for (ImagePart &p : parts)
        if (p.name == name)
            return &p;
    return nullptr;
}

inline void drop_part(std::vector<ImagePart> &parts, const std::string &name)
{
    for (auto it = parts.begin(); it != parts.end(); ++it)
        if (it->name == name) {
            parts.erase(it);
            return;
        }
}

inline std::string image_path() { return host("/dev/shm/updateFM.bin"); }

// Every device's bytes, to tell afterwards which partitions changed.
inline std::map<std::string, Bytes> snapshot_devices()
{
    std::map<std::string, Bytes> all;
    for (int i = 0; i < ENV_PART_COUNT; i++)
        all[env_part_names[i]] = device_bytes(env_part_names[i]);
    return all;
}

// Fills the running slots with recognisable content, as an installed system would have.
inline void fill_slot(const std::string &partition, unsigned seed)
{
    Bytes data = device_bytes(partition);
    Bytes content = pattern(data.size(), seed);
    write_bytes(device_of(partition), content);
}

} // namespace u2test
