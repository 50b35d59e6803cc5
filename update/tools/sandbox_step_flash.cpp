// Sandbox step "flash": lays out a recorder's flash in a fresh sandbox DIR (run by
// build/bin/nvr-sandbox with DIR and NVR_ROOT=DIR):
//   - dev/mtd0..mtd9, emulated MTD devices (erased, 0xFF) with their .geometry sidecars: the boot
//     loader and its environment on NOR, everything else on NAND (2048-byte pages, 64-byte spare,
//     128 KiB blocks), sizes kept small so that tests stay fast;
//   - proc/mtd in the kernel's format;
//   - a valid boot environment in both copies on mtd1, booting ker1/fs1, with the ten partition
//     entries and the variables the installer reads;
//   - etc/hw facts of a plain model (no IR808AR, PHY 0x4D);
//   - usr/sbin/flash_erase, our stand-in (nvr-flash-erase from beside this program).
#include "bootenv.h"
#include "crc32.h"
#include "flash.h"

#include <climits>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct partition {
    const char *name;
    bool nand;
    uint32_t size;
};

constexpr uint32_t NOR_BLOCK = 0x10000;
constexpr uint32_t NAND_BLOCK = 0x20000;

constexpr partition PARTITIONS[] = {
    {"uboot", false, 0x100000}, {"env", false, 0x20000},  {"logo", true, 0x80000},
    {"ker1", true, 0x200000},   {"ker2", true, 0x200000}, {"fs1", true, 0x400000},
    {"fs2", true, 0x400000},    {"cfg", true, 0x80000},   {"oem", true, 0x80000},
    {"rsd", true, 0x80000},
};

struct entry_values {
    uint32_t version, size, date;
};
// Installed firmware as the partition entries record it, in the order of PARTITIONS.
constexpr entry_values ENTRIES[] = {
    {0x0701021A, 0x40000, 0x07E60712},   // uboot 7.1.2.26
    {0, 0, 0},                           // env
    {0x07010001, 0x20000, 0x07E60712},   // logo 7.1.0.1
    {0x0701000D, 0x100000, 0x07E60712},  // ker1 7.1.0.13 (running)
    {0x0701000C, 0x100000, 0x07E60301},  // ker2 7.1.0.12
    {0x47090010, 0x300000, 0x07E60712},  // fs1 71.9.0.16 (running)
    {0x4709000F, 0x300000, 0x07E60301},  // fs2 71.9.0.15
    {0, 0, 0},
    {0, 0, 0},
    {0, 0, 0},
};

const char *const VARIABLES[] = {
    "bootargs=mem=1024M console=ttyAMA0,115200 ubi.mtd=fs1 root=ubi0:rootfs rw rootfstype=ubifs",
    "bootcmd=nand read 0x42000000 ker1 0x200000; bootm 0x42000000",
    "bootdelay=1",
    "baudrate=115200",
    "ethaddr=00:18:ae:00:00:01",
    "ipaddr=192.168.1.88",
    "serverip=192.168.1.2",
    "netmask=255.255.255.0",
    "gatewayip=192.168.1.1",
    "sn=NVR32160000001",
    "ver=U-Boot 2010.06 (Jul 18 2022 - 10:21:33)",
    "hard_version=N3-0-V12-M2048",
    "bootState=Done",
};

bool write_text(const std::string &path, const std::string &text)
{
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f)
        return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

bool make_device(const std::string &file, const partition &p)
{
    FILE *f = std::fopen(file.c_str(), "w");
    if (!f)
        return false;
    std::vector<unsigned char> erased(0x10000, 0xFF);
    bool ok = true;
    for (uint32_t at = 0; at < p.size && ok; at += erased.size())
        ok = std::fwrite(erased.data(), 1, erased.size(), f) == erased.size();
    if (std::fclose(f) != 0 || !ok)
        return false;
    flash_geometry g;
    g.nand = p.nand;
    g.erasesize = p.nand ? NAND_BLOCK : NOR_BLOCK;
    // NOR has no pages; the emulation counts one flash operation per 256 bytes written, the
    // program page of the usual SPI NOR chips.
    g.writesize = p.nand ? 2048 : 256;
    g.oobsize = p.nand ? 64 : 0;
    return flash_write_geometry(file.c_str(), g) == 0;
}

bool write_environment(const std::string &device)
{
    auto copy = std::make_unique<env_copy>();
    std::memset(copy.get(), 0, sizeof *copy);
    std::vector<std::string> vars(std::begin(VARIABLES), std::end(VARIABLES));
    for (size_t i = 0; i < std::size(PARTITIONS); i++) {
        char value[160];
        std::snprintf(value, sizeof value, "%s=name:%s\tver:0x%08x\tsize:%u\tdate:0x%08x ",
                      PARTITIONS[i].name, PARTITIONS[i].name, ENTRIES[i].version,
                      ENTRIES[i].size, ENTRIES[i].date);
        vars.emplace_back(value);
    }
    size_t pos = 0;
    for (const std::string &v : vars) {
        std::memcpy(copy->data + pos, v.data(), v.size());
        pos += v.size() + 1;
    }
    FILE *f = std::fopen(device.c_str(), "r+");
    if (!f)
        return false;
    bool ok = true;
    // Copy 1 is the newer (flag 1 against 0); both hold the same variables.
    for (int i = 0; i < 2 && ok; i++) {
        copy->flag = static_cast<uint8_t>(1 - i);
        copy->crc = crc32(0, reinterpret_cast<const unsigned char *>(copy.get()) + 4,
                          ENV_DATA_SIZE);
        ok = std::fseek(f, ENV_COPY_OFFSET[i], SEEK_SET) == 0 &&
             std::fwrite(copy.get(), 1, sizeof *copy, f) == sizeof *copy;
    }
    return std::fclose(f) == 0 && ok;
}

bool install_flash_erase(const std::string &root)
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return false;
    exe[n] = '\0';
    std::string source = exe;
    source = source.substr(0, source.rfind('/') + 1) + "nvr-flash-erase";
    const std::string target = root + "/usr/sbin/flash_erase";
    FILE *in = std::fopen(source.c_str(), "rb");
    if (!in)
        return false;
    FILE *out = std::fopen(target.c_str(), "wb");
    if (!out) {
        std::fclose(in);
        return false;
    }
    char buf[65536];
    size_t got;
    bool ok = true;
    while (ok && (got = std::fread(buf, 1, sizeof buf, in)) > 0)
        ok = std::fwrite(buf, 1, got, out) == got;
    std::fclose(in);
    ok = std::fclose(out) == 0 && ok;
    return ok && chmod(target.c_str(), 0755) == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2 || !argv[1][0]) {
        std::fprintf(stderr, "usage: nvr-sandbox-step-flash DIR\n");
        return 2;
    }
    const std::string root = argv[1];
    for (const char *dir : {"/dev", "/proc", "/etc/hw", "/usr/sbin"}) {
        std::string path = root + dir;
        mkdir(path.c_str(), 0755);
    }

    std::string proc_mtd = "dev:    size   erasesize  name\n";
    for (size_t i = 0; i < std::size(PARTITIONS); i++) {
        const partition &p = PARTITIONS[i];
        const std::string file = root + "/dev/mtd" + std::to_string(i);
        if (!make_device(file, p)) {
            std::fprintf(stderr, "nvr-sandbox-step-flash: cannot make %s\n", file.c_str());
            return 1;
        }
        char line[96];
        std::snprintf(line, sizeof line, "mtd%zu: %08x %08x \"%s\"\n", i, p.size,
                      p.nand ? NAND_BLOCK : NOR_BLOCK, p.name);
        proc_mtd += line;
    }
    bool ok = write_text(root + "/proc/mtd", proc_mtd) && write_environment(root + "/dev/mtd1") &&
              write_text(root + "/etc/hw/model", "QRN3216\n") &&
              write_text(root + "/etc/hw/phy_id", "0x004d\n") &&
              write_text(root + "/etc/hw/i2c_42_67", "0x10\n") && install_flash_erase(root);
    if (!ok) {
        std::fprintf(stderr, "nvr-sandbox-step-flash: cannot lay out %s\n", root.c_str());
        return 1;
    }
    return 0;
}
