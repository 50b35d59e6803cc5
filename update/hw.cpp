// Hardware facts for the compatibility rules: model name, PoE controller, PHY identifier, one I2C
// byte. Each fact has a recorder path (the real device) and a sandbox path (a file under
// "$NVR_ROOT/etc/hw/"); both take the same failure path and print the same messages, so the
// callers cannot tell them apart. See hw.h.
#include "hw.h"

#include "nvr_path.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr const char *MODEL_QUERY = "/proc/device-tree/model";
constexpr const char *I2C_BUS = "/dev/i2c-0";
constexpr uint32_t MDIO_BASE = 0x11020000;
constexpr size_t MDIO_MAP_SIZE = 1024;
constexpr int PHY_MDIO_ADDR = 4;
constexpr int PHY_ID_REG = 2;
constexpr int PSE_I2C_ADDR = 0xE0;
// The recorder's I2C driver: register and data width (0 = 8 bits).
constexpr unsigned long I2C_REG_WIDTH = 0x709;
constexpr unsigned long I2C_DATA_WIDTH = 0x70A;

std::string hw_fact_path(const char *name) { return nvr_path(std::string("/etc/hw/") + name); }

// First line of a text file, without its newline; false when it cannot be opened.
bool read_first_line(const std::string &path, std::string &line)
{
    FILE *f = std::fopen(path.c_str(), "r");
    if (!f)
        return false;
    char buf[256] = "";
    bool ok = std::fgets(buf, sizeof buf, f) != nullptr || !std::ferror(f);
    std::fclose(f);
    buf[std::strcspn(buf, "\r\n")] = '\0';
    line = buf;
    return ok;
}

// A hex number from a fact file; false when absent or not a number.
bool read_hex_fact(const char *name, long &value)
{
    std::string text;
    if (!read_first_line(hw_fact_path(name), text))
        return false;
    char *end = nullptr;
    value = std::strtol(text.c_str(), &end, 16);
    return end != text.c_str();
}

// Polls the MDIO busy bit; false after about a second.
bool mdio_wait(volatile uint32_t *regs)
{
    for (int i = 0; i < 100000; i++) {
        if (!(regs[1] & 1))
            return true;
        usleep(10);
    }
    return false;
}

int real_phy_id()
{
    int fd = open("/dev/mem", O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "Fail to open /dev/mem fd=%08x\n", static_cast<unsigned>(fd));
        return -1;
    }
    void *map = mmap(nullptr, MDIO_MAP_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, MDIO_BASE);
    close(fd);
    if (map == MAP_FAILED) {
        std::fprintf(stderr, "mmap phyaddr %#x failed ! \n", MDIO_BASE);
        return -1;
    }
    auto *regs = static_cast<volatile uint32_t *>(map);
    int id = -1;
    if (mdio_wait(regs)) {
        regs[1] = (PHY_MDIO_ADDR << 11) | (PHY_ID_REG << 6) | 1;
        if (mdio_wait(regs))
            id = static_cast<int>(regs[5] & 0xFFFF);
    }
    munmap(map, MDIO_MAP_SIZE);
    return id;
}

int real_i2c_byte(int addr, int reg)
{
    int fd = open(I2C_BUS, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "Unable to open i2c bus 2!!!\n");
        return -1;
    }
    unsigned char value = 0;
    unsigned char r = static_cast<unsigned char>(reg);
    int result = -1;
    if (ioctl(fd, I2C_SLAVE_FORCE, addr) >= 0 && write(fd, &r, 1) == 1 &&
        read(fd, &value, 1) == 1)
        result = value;
    else
        std::fprintf(stderr, "read addr 0x%x error. \n", reg);
    close(fd);
    return result;
}

bool real_pse_probe()
{
    int fd = open(I2C_BUS, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    unsigned char value = 0;
    bool found = ioctl(fd, I2C_SLAVE_FORCE, PSE_I2C_ADDR) >= 0 &&
                 ioctl(fd, I2C_REG_WIDTH, 0) >= 0 && ioctl(fd, I2C_DATA_WIDTH, 0) >= 0 &&
                 read(fd, &value, 1) == 1;
    close(fd);
    return found;
}

} // namespace

int hw_get_model(char *buf, size_t len)
{
    if (!buf || len == 0)
        return -1;
    buf[0] = '\0';
    std::string line;
    const std::string path = nvr_in_sandbox() ? hw_fact_path("model") : MODEL_QUERY;
    if (!read_first_line(path, line))
        return -1;
    if (line.size() > 63)
        line.resize(63);
    std::snprintf(buf, len, "%s", line.c_str());
    return 0;
}

bool hw_pse_is_ir808ar()
{
    bool found = nvr_in_sandbox() ? access(hw_fact_path("ir808ar").c_str(), F_OK) == 0
                                  : real_pse_probe();
    std::puts(found ? "pse is ir808ar!!!" : "pse is not ir808ar!!!");
    return found;
}

int hw_read_phy_id()
{
    if (!nvr_in_sandbox())
        return real_phy_id();
    long id = 0;
    if (!read_hex_fact("phy_id", id)) {
        std::fprintf(stderr, "Fail to open /dev/mem fd=%08x\n", static_cast<unsigned>(-1));
        return -1;
    }
    return static_cast<int>(id & 0xFFFF);
}

int hw_read_i2c_byte(int addr, int reg)
{
    if (!nvr_in_sandbox())
        return real_i2c_byte(addr, reg);
    long value = 0;
    if (access(hw_fact_path("i2c_42_67").c_str(), F_OK) != 0) {
        std::fprintf(stderr, "Unable to open i2c bus 2!!!\n");
        return -1;
    }
    if (addr != 0x42 || reg != 67 || !read_hex_fact("i2c_42_67", value)) {
        std::fprintf(stderr, "read addr 0x%x error. \n", reg);
        return -1;
    }
    return static_cast<int>(value & 0xFF);
}
