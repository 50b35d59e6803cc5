// Sandbox stand-in for the platform tool "/usr/sbin/flash_erase DEVICE START COUNT": erases
// COUNT erase blocks (0 = to the end) of an emulated MTD device from byte offset START, skipping
// bad blocks, through the same flash layer as `update` (so power cuts and bad blocks behave the
// same). Like every stand-in it appends its command line to $NVR_ROOT/var/log/commands.log.
//
// It is installed as $NVR_ROOT/usr/sbin/flash_erase; without NVR_ROOT it takes the sandbox root
// from its own place. DEVICE may be the recorder path ("/dev/mtd5") or the path inside the
// sandbox.
#include "flash.h"
#include "nvr_path.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

static void take_root_from_own_place()
{
    if (std::getenv("NVR_ROOT"))
        return;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return;
    exe[n] = '\0';
    std::string path = exe;
    const std::string tail = "/usr/sbin/flash_erase";
    if (path.size() > tail.size() && path.compare(path.size() - tail.size(), tail.size(), tail) == 0)
        setenv("NVR_ROOT", path.substr(0, path.size() - tail.size()).c_str(), 1);
}

static void log_command_line(int argc, char *argv[])
{
    FILE *log = std::fopen(nvr_path("/var/log/commands.log").c_str(), "a");
    if (!log)
        return;
    std::fputs("flash_erase", log);
    for (int i = 1; i < argc; i++)
        std::fprintf(log, " %s", argv[i]);
    std::fputc('\n', log);
    std::fclose(log);
}

int main(int argc, char *argv[])
{
    take_root_from_own_place();
    if (argc != 4) {
        std::fprintf(stderr, "usage: flash_erase DEVICE START COUNT\n");
        return 1;
    }
    log_command_line(argc, argv);

    std::string device = argv[1];
    const std::string &root = nvr_root();
    if (!root.empty() && device.compare(0, root.size() + 1, root + "/") == 0)
        device.erase(0, root.size());
    const unsigned long long start = std::strtoull(argv[2], nullptr, 0);
    const unsigned long long count = std::strtoull(argv[3], nullptr, 0);

    int fd = flash_open(device.c_str(), O_RDWR);
    if (fd < 0) {
        std::fprintf(stderr, "flash_erase: %s: %s\n", device.c_str(), std::strerror(errno));
        return 1;
    }
    mtd_info_user info{};
    if (flash_get_info(fd, &info) != 0 || info.erasesize == 0) {
        std::fprintf(stderr, "flash_erase: %s: unable to get MTD device info\n", device.c_str());
        flash_close(fd);
        return 1;
    }
    if (start % info.erasesize != 0 || start >= info.size) {
        std::fprintf(stderr, "flash_erase: %s: bad start offset\n", device.c_str());
        flash_close(fd);
        return 1;
    }
    const unsigned long long blocks = (info.size - start) / info.erasesize;
    const unsigned long long todo = count == 0 || count > blocks ? blocks : count;
    int rc = 0;
    for (unsigned long long b = 0; b < todo; b++) {
        const uint32_t offset = static_cast<uint32_t>(start + b * info.erasesize);
        if (info.type == MTD_NANDFLASH) {
            int bad = flash_block_is_bad(fd, offset);
            if (bad < 0) {
                std::fprintf(stderr, "flash_erase: %s: MTD get bad block failed\n", device.c_str());
                rc = 1;
                break;
            }
            if (bad) {
                std::printf("Skipping bad block at %08x\n", offset);
                continue;
            }
        }
        if (flash_erase_range(fd, offset, info.erasesize) != 0) {
            std::fprintf(stderr, "flash_erase: %s: MTD Erase failure: %s\n", device.c_str(),
                         std::strerror(errno));
            rc = 1;
        }
    }
    flash_close(fd);
    return rc;
}
