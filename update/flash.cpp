// The flash layer: MTD devices for real on the recorder, emulated device files in a sandbox.
// See flash.h for the emulation's rules. The emulated state of an open device is its file, its
// ".geometry" sidecar (re-read whenever it changed, so that a flash_erase run or another process
// sees the same bad blocks) and nothing else, so that it survives a power cut like real flash.
#include "flash.h"

#include "nvr_path.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using block_set = std::set<uint32_t>;

struct emulated_device {
    std::string file;        // host path of the device file
    struct timespec geometry_mtime {};
    flash_geometry geometry;
    block_set bad, failwrite, locked;
};

std::map<int, emulated_device> &emulated_devices()
{
    static std::map<int, emulated_device> devices;
    return devices;
}

block_set parse_blocks(const std::string &text)
{
    block_set blocks;
    const char *p = text.c_str();
    while (*p) {
        char *end = nullptr;
        unsigned long b = std::strtoul(p, &end, 0);
        if (end == p) {
            p++;
            continue;
        }
        blocks.insert(static_cast<uint32_t>(b));
        p = end;
    }
    return blocks;
}

std::string format_blocks(const block_set &blocks)
{
    std::string text;
    for (uint32_t b : blocks) {
        if (!text.empty())
            text += ',';
        text += std::to_string(b);
    }
    return text;
}

std::string geometry_path(const std::string &device_file) { return device_file + ".geometry"; }

long flash_operations_done = 0;

constexpr const char *OPS_REPORT_VAR = "NVR_FLASH_OPS_REPORT";

// A process started by another that counts its operations writes its own count, at its end, to
// the file the parent named.
void report_operations_to_parent()
{
    const char *file = std::getenv(OPS_REPORT_VAR);
    if (!file || !*file)
        return;
    if (FILE *f = std::fopen(file, "w")) {
        std::fprintf(f, "%ld\n", flash_operations_done);
        std::fclose(f);
    }
}

// Power cuts: NVR_POWER_CUT_AFTER=N ends the process just before its N-th flash operation.
long power_cut_limit()
{
    static const long limit = [] {
        if (!nvr_in_sandbox())
            return 0L;
        const char *s = std::getenv("NVR_POWER_CUT_AFTER");
        long v = s ? std::strtol(s, nullptr, 10) : 0L;
        if (v > 0 && std::getenv(OPS_REPORT_VAR))
            std::atexit(report_operations_to_parent);
        return v > 0 ? v : 0L;
    }();
    return limit;
}

std::string child_report_file()
{
    return nvr_path("/tmp/.flash-operations-" + std::to_string(getpid()));
}

// How many of `wanted` operations may run before the cut (all of them without a cut pending).
uint64_t operations_allowed(uint64_t wanted)
{
    const long limit = power_cut_limit();
    if (limit == 0)
        return wanted;
    const uint64_t left = limit - 1 > flash_operations_done ? limit - 1 - flash_operations_done : 0;
    return wanted < left ? wanted : left;
}

void count_operations(uint64_t n) { flash_operations_done += static_cast<long>(n); }

[[noreturn]] void power_cut() { _exit(137); }

emulated_device *find_emulated(int fd)
{
    auto &devices = emulated_devices();
    auto it = devices.find(fd);
    if (it == devices.end())
        return nullptr;
    emulated_device &dev = it->second;
    struct stat st {};
    if (stat(geometry_path(dev.file).c_str(), &st) == 0 &&
        (st.st_mtim.tv_sec != dev.geometry_mtime.tv_sec ||
         st.st_mtim.tv_nsec != dev.geometry_mtime.tv_nsec)) {
        flash_geometry g;
        if (flash_read_geometry(dev.file.c_str(), &g) == 0) {
            dev.geometry = g;
            dev.bad = parse_blocks(g.bad);
            dev.failwrite = parse_blocks(g.failwrite);
            dev.locked = parse_blocks(g.locked);
            dev.geometry_mtime = st.st_mtim;
        }
    }
    return &dev;
}

int save_geometry(emulated_device &dev)
{
    dev.geometry.bad = format_blocks(dev.bad);
    dev.geometry.failwrite = format_blocks(dev.failwrite);
    dev.geometry.locked = format_blocks(dev.locked);
    if (flash_write_geometry(dev.file.c_str(), dev.geometry) != 0)
        return -1;
    struct stat st {};
    if (stat(geometry_path(dev.file).c_str(), &st) == 0)
        dev.geometry_mtime = st.st_mtim;
    return 0;
}

off_t device_size(int fd)
{
    struct stat st {};
    return fstat(fd, &st) == 0 ? st.st_size : -1;
}

int fail(int err)
{
    errno = err;
    return -1;
}

// Checks that [start, start + length) is a whole number of erase blocks inside the device.
bool block_range_ok(const emulated_device &dev, off_t size, uint64_t start, uint64_t length)
{
    const uint32_t es = dev.geometry.erasesize;
    return es != 0 && start % es == 0 && length % es == 0 && start + length <= uint64_t(size) &&
           start + length >= start;
}

int emulated_erase(int fd, emulated_device &dev, const erase_info_user &e)
{
    const off_t size = device_size(fd);
    if (size < 0 || !block_range_ok(dev, size, e.start, e.length))
        return fail(EINVAL);
    const uint32_t es = dev.geometry.erasesize;
    std::vector<unsigned char> erased(es, 0xFF);
    for (uint64_t pos = e.start; pos < uint64_t(e.start) + e.length; pos += es) {
        const uint32_t block = static_cast<uint32_t>(pos / es);
        if (dev.bad.count(block))
            return fail(EIO);
        if (dev.locked.count(block))
            return fail(EROFS);
        if (operations_allowed(1) == 0)
            power_cut();
        count_operations(1);
        if (pwrite(fd, erased.data(), es, static_cast<off_t>(pos)) != ssize_t(es))
            return fail(EIO);
    }
    return 0;
}

int emulated_lock(int fd, emulated_device &dev, const erase_info_user &e, bool lock)
{
    const off_t size = device_size(fd);
    if (size < 0 || !block_range_ok(dev, size, e.start, e.length))
        return fail(EINVAL);
    const uint32_t es = dev.geometry.erasesize;
    for (uint64_t pos = e.start; pos < uint64_t(e.start) + e.length; pos += es) {
        const uint32_t block = static_cast<uint32_t>(pos / es);
        if (lock)
            dev.locked.insert(block);
        else
            dev.locked.erase(block);
    }
    return save_geometry(dev);
}

int emulated_ioctl(int fd, emulated_device &dev, unsigned long request, void *arg)
{
    const off_t size = device_size(fd);
    if (size < 0)
        return -1;
    switch (request) {
    case MEMGETINFO: {
        auto *info = static_cast<mtd_info_user *>(arg);
        std::memset(info, 0, sizeof *info);
        info->type = dev.geometry.nand ? MTD_NANDFLASH : MTD_NORFLASH;
        info->flags = dev.geometry.nand ? MTD_CAP_NANDFLASH : MTD_CAP_NORFLASH;
        info->size = static_cast<uint32_t>(size);
        info->erasesize = dev.geometry.erasesize;
        info->writesize = dev.geometry.writesize;
        info->oobsize = dev.geometry.oobsize;
        return 0;
    }
    case MEMGETBADBLOCK: {
        const auto offs = *static_cast<const loff_t *>(arg);
        if (offs < 0 || offs >= size || dev.geometry.erasesize == 0)
            return fail(EINVAL);
        if (!dev.geometry.nand)
            return 0;
        return dev.bad.count(static_cast<uint32_t>(offs / dev.geometry.erasesize)) ? 1 : 0;
    }
    case MEMSETBADBLOCK: {
        const auto offs = *static_cast<const loff_t *>(arg);
        if (offs < 0 || offs >= size || dev.geometry.erasesize == 0)
            return fail(EINVAL);
        if (!dev.geometry.nand)
            return fail(EOPNOTSUPP);
        dev.bad.insert(static_cast<uint32_t>(offs / dev.geometry.erasesize));
        return save_geometry(dev);
    }
    case MEMERASE:
        return emulated_erase(fd, dev, *static_cast<const erase_info_user *>(arg));
    case MEMLOCK:
    case MEMUNLOCK:
        return emulated_lock(fd, dev, *static_cast<const erase_info_user *>(arg),
                             request == MEMLOCK);
    default:
        return fail(ENOTTY);
    }
}

ssize_t emulated_pwrite(int fd, emulated_device &dev, const void *buf, size_t len, off_t offset)
{
    const off_t size = device_size(fd);
    if (size < 0 || offset < 0)
        return fail(EINVAL);
    if (len == 0)
        return 0;
    if (uint64_t(offset) + len > uint64_t(size))
        return fail(ENOSPC);
    const uint32_t ws = dev.geometry.writesize ? dev.geometry.writesize : 1;
    const uint32_t es = dev.geometry.erasesize ? dev.geometry.erasesize : 1;
    if (dev.geometry.nand && (offset % ws != 0 || len % ws != 0))
        return fail(EINVAL);
    for (uint64_t b = uint64_t(offset) / es; b <= (uint64_t(offset) + len - 1) / es; b++)
        if (dev.locked.count(static_cast<uint32_t>(b)))
            return fail(EROFS);

    // Program: bits can only go from 1 to 0; a failing block corrupts each page it receives.
    std::vector<unsigned char> data(len);
    if (pread(fd, data.data(), len, offset) != ssize_t(len))
        return fail(EIO);
    const auto *in = static_cast<const unsigned char *>(buf);
    for (size_t i = 0; i < len; i++)
        data[i] &= in[i];
    for (uint64_t pos = uint64_t(offset); pos < uint64_t(offset) + len;) {
        const uint64_t page_end = (pos / ws + 1) * ws;
        if (dev.failwrite.count(static_cast<uint32_t>(pos / es)))
            data[pos - offset] = static_cast<unsigned char>(~data[pos - offset]);
        pos = page_end;
    }

    // One flash operation per page touched; a cut keeps the pages programmed before it.
    const uint64_t first_page = uint64_t(offset) / ws;
    const uint64_t pages = (uint64_t(offset) + len - 1) / ws - first_page + 1;
    const uint64_t allowed = operations_allowed(pages);
    if (allowed < pages) {
        const uint64_t end = (first_page + allowed) * ws;
        const size_t n = end > uint64_t(offset) ? static_cast<size_t>(end - offset) : 0;
        if (n > 0 && pwrite(fd, data.data(), n, offset) != ssize_t(n))
            return fail(EIO);
        power_cut();
    }
    count_operations(pages);
    if (pwrite(fd, data.data(), len, offset) != ssize_t(len))
        return fail(EIO);
    return static_cast<ssize_t>(len);
}

} // namespace

int flash_read_geometry(const char *device_file, flash_geometry *g)
{
    FILE *f = std::fopen(geometry_path(device_file).c_str(), "r");
    if (!f)
        return -1;
    *g = flash_geometry{};
    char line[4096];
    while (std::fgets(line, sizeof line, f)) {
        char key[32] = "";
        char value[4000] = "";
        int n = std::sscanf(line, "%31s %3999[^\n]", key, value);
        if (n < 1)
            continue;
        std::string v = n == 2 ? value : "";
        if (!std::strcmp(key, "type"))
            g->nand = v == "nand";
        else if (!std::strcmp(key, "erasesize"))
            g->erasesize = static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 0));
        else if (!std::strcmp(key, "writesize"))
            g->writesize = static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 0));
        else if (!std::strcmp(key, "oobsize"))
            g->oobsize = static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 0));
        else if (!std::strcmp(key, "bad"))
            g->bad = v;
        else if (!std::strcmp(key, "failwrite"))
            g->failwrite = v;
        else if (!std::strcmp(key, "locked"))
            g->locked = v;
    }
    std::fclose(f);
    return 0;
}

int flash_write_geometry(const char *device_file, const flash_geometry &g)
{
    // Written beside and renamed over, so that a reader never sees half a sidecar.
    const std::string path = geometry_path(device_file);
    const std::string tmp = path + ".tmp";
    FILE *f = std::fopen(tmp.c_str(), "w");
    if (!f)
        return -1;
    std::fprintf(f, "type %s\nerasesize %u\nwritesize %u\noobsize %u\nbad %s\nfailwrite %s\n",
                 g.nand ? "nand" : "nor", g.erasesize, g.writesize, g.oobsize, g.bad.c_str(),
                 g.failwrite.c_str());
    if (!g.locked.empty())
        std::fprintf(f, "locked %s\n", g.locked.c_str());
    if (std::fclose(f) != 0 || std::rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        return -1;
    }
    return 0;
}

int flash_open(const char *recorder_path, int flags)
{
    const std::string path = nvr_path(recorder_path);
    int fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0 || !nvr_in_sandbox())
        return fd;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        access(geometry_path(path).c_str(), F_OK) == 0) {
        emulated_device dev;
        dev.file = path;
        emulated_devices()[fd] = dev;
        if (!find_emulated(fd)) {
            emulated_devices().erase(fd);
            close(fd);
            return fail(EIO);
        }
    }
    return fd;
}

int flash_close(int fd)
{
    emulated_devices().erase(fd);
    return close(fd);
}

int flash_ioctl(int fd, unsigned long request, void *arg)
{
    if (emulated_device *dev = find_emulated(fd))
        return emulated_ioctl(fd, *dev, request, arg);
    return ioctl(fd, request, arg);
}

ssize_t flash_pread(int fd, void *buf, size_t len, off_t offset)
{
    return pread(fd, buf, len, offset);
}

ssize_t flash_pwrite(int fd, const void *buf, size_t len, off_t offset)
{
    if (emulated_device *dev = find_emulated(fd))
        return emulated_pwrite(fd, *dev, buf, len, offset);
    return pwrite(fd, buf, len, offset);
}

ssize_t flash_read(int fd, void *buf, size_t len) { return read(fd, buf, len); }

ssize_t flash_write(int fd, const void *buf, size_t len)
{
    emulated_device *dev = find_emulated(fd);
    if (!dev)
        return write(fd, buf, len);
    off_t pos = lseek(fd, 0, SEEK_CUR);
    if (pos < 0)
        return -1;
    ssize_t n = emulated_pwrite(fd, *dev, buf, len, pos);
    if (n > 0)
        lseek(fd, pos + n, SEEK_SET);
    return n;
}

off_t flash_lseek(int fd, off_t offset, int whence) { return lseek(fd, offset, whence); }

int flash_get_info(int fd, mtd_info_user *info) { return flash_ioctl(fd, MEMGETINFO, info); }

int flash_block_is_bad(int fd, uint64_t offset)
{
    loff_t offs = static_cast<loff_t>(offset);
    return flash_ioctl(fd, MEMGETBADBLOCK, &offs);
}

int flash_mark_bad(int fd, uint64_t offset)
{
    loff_t offs = static_cast<loff_t>(offset);
    return flash_ioctl(fd, MEMSETBADBLOCK, &offs);
}

int flash_erase_range(int fd, uint32_t start, uint32_t length)
{
    erase_info_user e{start, length};
    return flash_ioctl(fd, MEMERASE, &e);
}

std::vector<std::string> flash_child_environment(char **parent)
{
    const std::string cut_prefix = "NVR_POWER_CUT_AFTER=";
    const std::string report_prefix = std::string(OPS_REPORT_VAR) + "=";
    std::vector<std::string> env;
    for (char **e = parent; e && *e; e++)
        if (std::strncmp(*e, cut_prefix.c_str(), cut_prefix.size()) != 0 &&
            std::strncmp(*e, report_prefix.c_str(), report_prefix.size()) != 0)
            env.emplace_back(*e);
    const long limit = power_cut_limit();
    if (limit == 0)
        return env;
    const std::string report = child_report_file();
    unlink(report.c_str());
    env.push_back(cut_prefix + std::to_string(limit - flash_operations_done));
    env.push_back(report_prefix + report);
    return env;
}

void flash_child_finished(int exit_status)
{
    if (power_cut_limit() == 0)
        return;
    if (exit_status == 137)
        power_cut();
    const std::string report = child_report_file();
    if (FILE *f = std::fopen(report.c_str(), "r")) {
        long done = 0;
        if (std::fscanf(f, "%ld", &done) == 1 && done > 0)
            count_operations(static_cast<uint64_t>(done));
        std::fclose(f);
    }
    unlink(report.c_str());
}
