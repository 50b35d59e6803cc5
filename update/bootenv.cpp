// The boot loader's environment: loading the valid copy, lookup, setting and power-safe writing
// of both copies (flash.h does the device access), and the recorder's variables on top of it:
// partition entries, boot slots, boot state, the setters of the command line and its listings.
// See bootenv.h for the storage format.
#include "bootenv.h"

#include "crc32.h"
#include "flash.h"
#include "hw.h"
#include "nvr_path.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

const char *const env_part_names[ENV_PART_COUNT + 1] = {
    "uboot", "env", "logo", "ker1", "ker2", "fs1", "fs2", "cfg", "oem", "rsd", "all",
};

namespace {

constexpr const char *DEFAULT_ENVIRONMENT[] = {
    "bootcmd=bootp; setenv bootargs root=/dev/nfs nfsroot=${serverip}:${rootpath} "
    "ip=${ipaddr}:${serverip}:${gatewayip}:${netmask}:${hostname}::off; bootm",
    "bootdelay=5",
    "baudrate=115200",
};

constexpr const char *DEFAULT_BOOTARGS =
    "mem=1024M console=ttyAMA0,115200 ubi.mtd=fs1 root=ubi0:rootfs rw rootfstype=ubifs";
constexpr const char *DEFAULT_BOOTARGS_QRN5217 =
    "mem=2048M console=ttyAMA0,115200 ubi.mtd=fs1 root=ubi0:rootfs rw rootfstype=ubifs "
    "vmalloc=1024M";

// The loaded environment: its name=value strings in storage order, which copy it came from and
// that copy's flag (the write counter the next write continues from).
struct environment {
    bool loaded = false;
    std::vector<std::string> vars;
    int loaded_copy = 0;  // 0 = copy 1, 1 = copy 2
    uint8_t flag = 0;
};

environment &env()
{
    static environment e;
    return e;
}

// An open environment device, closed on every path ("I/O error" when close fails).
struct env_device {
    int fd = -1;
    explicit env_device(int flags) : fd(flash_open(ENV_DEVICE, flags)) {}
    ~env_device()
    {
        if (fd >= 0 && flash_close(fd) != 0)
            std::fprintf(stderr, "I/O error on %s: %s\n", ENV_DEVICE, std::strerror(errno));
    }
    env_device(const env_device &) = delete;
    env_device &operator=(const env_device &) = delete;
};

uint32_t copy_crc(const env_copy &copy)
{
    return crc32(0, reinterpret_cast<const unsigned char *>(&copy) + 4, ENV_DATA_SIZE);
}

bool device_type(int fd, uint8_t &type)
{
    mtd_info_user info{};
    if (flash_get_info(fd, &info) != 0) {
        std::perror("Cannot get MTD information");
        return false;
    }
    if (info.type != MTD_NORFLASH && info.type != MTD_NANDFLASH) {
        std::fprintf(stderr, "Unsupported flash type %u\n", static_cast<unsigned>(info.type));
        return false;
    }
    type = info.type;
    return true;
}

// The blocks of a copy's sector range, in order, skipping bad ones on NAND: calls
// `use(block_offset, block_index_within_copy)` for as many good blocks as the copy needs.
// Returns false after printing the reason.
template <typename Use>
bool for_each_copy_block(int fd, uint8_t type, uint32_t offset, const char *out_of_range,
                         Use use)
{
    const uint32_t top = offset + ENV_SECTORS * ENV_SECTOR_SIZE;
    const uint32_t blocks_needed = (ENV_COPY_SIZE + ENV_SECTOR_SIZE - 1) / ENV_SECTOR_SIZE;
    uint32_t done = 0;
    for (uint32_t block = offset; done < blocks_needed; block += ENV_SECTOR_SIZE) {
        if (block + ENV_SECTOR_SIZE > top) {
            std::fputs(out_of_range, stderr);
            return false;
        }
        if (type == MTD_NANDFLASH) {
            int bad = flash_block_is_bad(fd, block);
            if (bad < 0) {
                std::perror("Cannot read bad block mark");
                return false;
            }
            if (bad)
                continue;
        }
        if (!use(block, done))
            return false;
        done++;
    }
    return true;
}

bool read_copy(uint32_t offset, env_copy &copy, uint8_t &type)
{
    env_device dev(O_RDONLY);
    if (dev.fd < 0) {
        std::fprintf(stderr, "Can't open %s: %s\n", ENV_DEVICE, std::strerror(errno));
        return false;
    }
    if (!device_type(dev.fd, type))
        return false;
    auto *bytes = reinterpret_cast<unsigned char *>(&copy);
    return for_each_copy_block(
        dev.fd, type, offset, "Too few good blocks within range\n",
        [&](uint32_t block, uint32_t index) {
            const uint32_t at = index * ENV_SECTOR_SIZE;
            const uint32_t len = std::min(ENV_SECTOR_SIZE, ENV_COPY_SIZE - at);
            ssize_t n = flash_pread(dev.fd, bytes + at, len, block);
            if (n != ssize_t(len)) {
                std::fprintf(stderr, "Read error on %s: %s\n", ENV_DEVICE,
                             n < 0 ? std::strerror(errno) : "short read");
                return false;
            }
            return true;
        });
}

bool write_copy(uint32_t offset, const env_copy &copy)
{
    env_device dev(O_RDWR);
    if (dev.fd < 0) {
        std::fprintf(stderr, "Can't open %s: %s\n", ENV_DEVICE, std::strerror(errno));
        return false;
    }
    uint8_t type = 0;
    if (!device_type(dev.fd, type))
        return false;
    const auto *bytes = reinterpret_cast<const unsigned char *>(&copy);
    return for_each_copy_block(
        dev.fd, type, offset, "End of range reached, aborting\n",
        [&](uint32_t block, uint32_t index) {
            erase_info_user erase{block, ENV_SECTOR_SIZE};
            flash_ioctl(dev.fd, MEMUNLOCK, &erase);  // NAND and unlocked NOR refuse: harmless
            if (flash_ioctl(dev.fd, MEMERASE, &erase) != 0) {
                std::fprintf(stderr, "MTD erase error on %s: %s\n", ENV_DEVICE,
                             std::strerror(errno));
                return false;
            }
            if (flash_lseek(dev.fd, block, SEEK_SET) == -1) {
                std::fprintf(stderr, "Seek error on %s: %s\n", ENV_DEVICE, std::strerror(errno));
                return false;
            }
            const uint32_t at = index * ENV_SECTOR_SIZE;
            const uint32_t len = std::min(ENV_SECTOR_SIZE, ENV_COPY_SIZE - at);
            ssize_t n = flash_write(dev.fd, bytes + at, len);
            if (n != ssize_t(len)) {
                std::fprintf(stderr, "Write error on %s: %s\n", ENV_DEVICE,
                             n < 0 ? std::strerror(errno) : "short write");
                return false;
            }
            flash_ioctl(dev.fd, MEMLOCK, &erase);
            return true;
        });
}

// Splits a copy's data area into its strings; an unterminated string ends the walk.
std::vector<std::string> parse_strings(const env_copy &copy)
{
    std::vector<std::string> vars;
    // The walk may use the whole area under the CRC, flag byte included (as a copy written by
    // another tool may).
    const char *data = reinterpret_cast<const char *>(&copy) + offsetof(env_copy, data);
    const size_t size = ENV_DATA_SIZE;
    size_t pos = 0;
    while (pos < size && data[pos] != '\0') {
        const void *nul = std::memchr(data + pos, '\0', size - pos);
        if (!nul) {
            std::fputs("## Error: environment not terminated\n", stderr);
            break;
        }
        const size_t len = static_cast<const char *>(nul) - (data + pos);
        vars.emplace_back(data + pos, len);
        pos += len + 1;
    }
    return vars;
}

size_t strings_used(const std::vector<std::string> &vars)
{
    size_t used = 0;
    for (const std::string &v : vars)
        used += v.size() + 1;
    return used;
}

// Index of the variable `name` (exact name up to the '='), or -1.
long find_var(const std::vector<std::string> &vars, std::string_view name)
{
    for (size_t i = 0; i < vars.size(); i++) {
        const std::string &v = vars[i];
        if (v.size() > name.size() && v[name.size()] == '=' && v.compare(0, name.size(), name) == 0)
            return static_cast<long>(i);
    }
    return -1;
}

bool valid_name(const char *name)
{
    if (!name || !*name)
        return false;
    if (std::strchr(name, '=')) {
        std::fprintf(stderr, "## Error: illegal character '=' in variable name \"%s\"\n", name);
        return false;
    }
    return true;
}

// Removes `name` and appends name=value (nothing for an empty value). False on overflow.
bool assign(std::vector<std::string> &vars, const char *name, const char *value)
{
    long i = find_var(vars, name);
    if (i >= 0)
        vars.erase(vars.begin() + i);
    if (!value || !*value)
        return true;
    const size_t needed = std::strlen(name) + std::strlen(value) + 3;  // '=', NUL, final NUL
    if (needed > ENV_STRINGS_SIZE - strings_used(vars)) {
        std::fprintf(stderr, "Error: environment overflow, \"%s\" deleted\n", name);
        return false;
    }
    vars.push_back(std::string(name) + "=" + value);
    return true;
}

// Writes both copies: first the one that was not loaded, then the loaded one, each with the
// write counter grown by one and its CRC computed again. Power-safe: while one copy is being
// written the other is intact and valid.
//
// `settings` is the number of variables this write carries. Several settings go down in one
// write (so that a power cut never splits them), but the counters end where a write per
// setting would have left them: the copies look the same as after that sequence.
int write_environment(size_t settings = 1)
{
    environment &e = env();
    if (settings > 1)
        e.flag = static_cast<uint8_t>(e.flag + 2 * (settings - 1));
    std::unique_ptr<env_copy> copy(new (std::nothrow) env_copy);
    if (!copy) {
        std::fprintf(stderr, "Not enough memory for environment (%ld bytes)\n",
                     static_cast<long>(sizeof(env_copy)));
        return -1;
    }
    std::memset(copy.get(), 0, sizeof *copy);
    size_t pos = 0;
    for (const std::string &v : e.vars) {
        std::memcpy(copy->data + pos, v.data(), v.size());
        pos += v.size() + 1;
    }
    const int order[2] = {1 - e.loaded_copy, e.loaded_copy};
    for (int which : order) {
        e.flag = static_cast<uint8_t>(e.flag + 1);
        copy->flag = e.flag;
        copy->crc = copy_crc(*copy);
        if (!write_copy(ENV_COPY_OFFSET[which], *copy))
            return -1;
    }
    return 0;
}

int write_or_report(size_t settings = 1)
{
    if (write_environment(settings) != 0) {
        std::fputs("Error: can't write fw_env to flash\n", stderr);
        return -1;
    }
    return 0;
}

const char *value_of(const std::string &var) { return var.c_str() + var.find('=') + 1; }

void format_entry(const env_mtd_entry &p, char *buf, size_t len)
{
    if (std::snprintf(buf, len, "name:%s\tver:0x%08x\tsize:%u\tdate:0x%08x ", p.name, p.version,
                      p.size, p.date) < 0 && len > 0)
        buf[0] = '\0';
}

// "%2d.%2d.%2d.%2d" -> a << 24 | b << 16 | c << 8 | d.
bool parse_dotted_version(const char *text, uint32_t &version)
{
    int a = 0, b = 0, c = 0, d = 0;
    if (!text || std::sscanf(text, "%2d.%2d.%2d.%2d", &a, &b, &c, &d) != 4)
        return false;
    version = (uint32_t(a & 0xFF) << 24) | (uint32_t(b & 0xFF) << 16) |
              (uint32_t(c & 0xFF) << 8) | uint32_t(d & 0xFF);
    return true;
}

// Digit of a slot after "ker" / "=fs": the requested one, or for slot 0 the other one.
char slot_digit(char current, int slot)
{
    if (slot == 1 || slot == 2)
        return static_cast<char>('0' + slot);
    return current == '1' ? '2' : '1';
}

// Sets the character after the first `marker` in `text` to the slot's digit; false when the
// marker is absent. Returns the digit written in `digit`.
bool point_at_slot(std::string &text, const char *marker, int slot, char &digit)
{
    size_t at = text.find(marker);
    if (at == std::string::npos)
        return false;
    at += std::strlen(marker);
    if (at < text.size()) {
        digit = slot_digit(text[at], slot);
        text[at] = digit;
    } else {
        digit = slot_digit('\0', slot);
        text.push_back(digit);
    }
    return true;
}

// Runs a platform tool by name through PATH (the sandbox's bin first); its exit status or -1.
int run_tool(const char *name)
{
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (nvr_in_sandbox()) {
            const char *path = std::getenv("PATH");
            std::string p = nvr_path("/bin");
            if (path && *path)
                p += std::string(":") + path;
            setenv("PATH", p.c_str(), 1);
        }
        execlp(name, name, static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The setters without a length limit store the whole text; one that does not fit in the
// environment fails with the overflow message like any other setting.
constexpr size_t NO_LIMIT = static_cast<size_t>(-1);

int set_text(const char *name, const char *text, size_t max_chars)
{
    if (!text)
        return -1;
    std::string value(text, strnlen(text, max_chars));
    return hs_setenv(name, value.c_str());
}

const char *listing_suffix(const env_mtd_table &t, const char *name)
{
    if (std::strstr(t.bootargs, name) || std::strstr(t.bootcmd, name))
        return ":(current)\n";
    if (std::strstr(t.bootargs, "nfs") && std::strstr(name, "fs"))
        return ":(nfs)\n";
    return ":\n";
}

void print_version_line(uint32_t v)
{
    std::printf("\tversion = %d.%d.%d.%d\n", int(v >> 24), int((v >> 16) & 0xFF),
                int((v >> 8) & 0xFF), int(v & 0xFF));
}

void print_date_line(uint32_t d)
{
    std::printf("\tdate    = %d/%d/%d\n", int(d >> 16), int((d >> 8) & 0xFF), int(d & 0xFF));
}

} // namespace

// ---- Loading, lookup, setting --------------------------------------------------------------

int env_init()
{
    environment &e = env();
    if (e.loaded)
        return 0;
    const std::string device = nvr_path(ENV_DEVICE);
    if (access(device.c_str(), F_OK) != 0) {
        std::fprintf(stderr, "Cannot access MTD device %s: %s\n", ENV_DEVICE,
                     std::strerror(errno));
        return -1;
    }
    std::unique_ptr<env_copy> copies[2];
    for (auto &c : copies) {
        c.reset(new (std::nothrow) env_copy);
        if (!c) {
            std::fprintf(stderr, "Not enough memory for environment (%ld bytes)\n",
                         static_cast<long>(sizeof(env_copy)));
            return -1;
        }
    }
    uint8_t types[2] = {0, 0};
    for (int i = 0; i < 2; i++)
        if (!read_copy(ENV_COPY_OFFSET[i], *copies[i], types[i]))
            return -1;
    if (types[0] != types[1]) {
        std::fputs("Incompatible flash types!\n", stderr);
        return -1;
    }

    const bool valid1 = copy_crc(*copies[0]) == copies[0]->crc;
    const bool valid2 = copy_crc(*copies[1]) == copies[1]->crc;
    const uint8_t flag1 = copies[0]->flag, flag2 = copies[1]->flag;
    int chosen = 0;
    if (valid1 && valid2)
        chosen = ((flag1 == 255 && flag2 == 0) || flag1 < flag2) ? 1 : 0;
    else if (valid2)
        chosen = 1;

    if (!valid1 && !valid2) {
        std::fputs("Warning: Bad CRC, using default environment\n", stderr);
        e.vars.assign(std::begin(DEFAULT_ENVIRONMENT), std::end(DEFAULT_ENVIRONMENT));
        e.loaded_copy = 0;
        e.flag = 0;
    } else {
        e.vars = parse_strings(*copies[chosen]);
        e.loaded_copy = chosen;
        e.flag = copies[chosen]->flag;
    }
    e.loaded = true;
    return 0;
}

int env_deinit()
{
    environment &e = env();
    e.vars.clear();
    e.loaded = false;
    return 0;
}

const char *hs_getenv(const char *name)
{
    if (!name || env_init() != 0)
        return nullptr;
    const environment &e = env();
    long i = find_var(e.vars, name);
    return i < 0 ? nullptr : value_of(e.vars[i]);
}

int hs_setenv(const char *name, const char *value)
{
    if (env_init() != 0 || !valid_name(name))
        return -1;
    if (!assign(env().vars, name, value))
        return -1;
    return write_or_report();
}

int env_set_many(const env_assignment *assignments, size_t count)
{
    if (env_init() != 0)
        return -1;
    std::vector<std::string> vars = env().vars;
    for (size_t i = 0; i < count; i++)
        if (!valid_name(assignments[i].name) ||
            !assign(vars, assignments[i].name, assignments[i].value))
            return -1;
    env().vars = std::move(vars);
    return write_or_report(count);
}

int hs_printenv()
{
    if (env_init() != 0)
        return -1;
    for (const std::string &v : env().vars)
        std::printf("%s\n", v.c_str());
    return 0;
}

const char *fw_getenv(const char *name) { return hs_getenv(name); }

int fw_printenv(int argc, char *argv[])
{
    if (env_init() != 0)
        return -1;
    if (argc <= 1)
        return hs_printenv();
    bool value_only = false;
    int first = 1;
    if (std::strcmp(argv[1], "-n") == 0) {
        if (argc != 3) {
            std::fputs("## Error: `-n' option requires exactly one argument\n", stderr);
            return -1;
        }
        value_only = true;
        first = 2;
    }
    int rc = 0;
    for (int i = first; i < argc; i++) {
        const char *value = hs_getenv(argv[i]);
        if (!value) {
            std::fprintf(stderr, "## Error: \"%s\" not defined\n", argv[i]);
            rc = -1;
            continue;
        }
        if (value_only)
            std::printf("%s\n", value);
        else
            std::printf("%s=%s\n", argv[i], value);
    }
    return rc;
}

int fw_setenv(int argc, char *argv[])
{
    if (argc < 2 || env_init() != 0)
        return -1;
    const char *name = argv[1];
    if (std::strcmp(name, "serial#") == 0 && hs_getenv(name)) {
        std::fprintf(stderr, "Can't overwrite \"%s\"\n", name);
        return -1;
    }
    std::string value;
    for (int i = 2; i < argc; i++) {
        if (i > 2)
            value += ' ';
        value += argv[i];
    }
    return hs_setenv(name, value.c_str());
}

int vk_env_init() { return env_init(); }
int vk_env_deinit() { return env_deinit(); }
const char *vk_getenv(const char *name) { return hs_getenv(name); }
int vk_setenv(const char *name, const char *value)
{
    return hs_setenv(name, value) == 0 ? 0 : -1;
}

// ---- Partition entries ---------------------------------------------------------------------

int get_env_mtd_table(env_mtd_table *t)
{
    if (!t || env_init() != 0)
        return -1;
    std::memset(t, 0, sizeof *t);
    int present = 0;
    for (int i = 0; i < ENV_PART_COUNT; i++) {
        env_mtd_entry &p = t->part[i];
        std::snprintf(p.name, sizeof p.name, "%s", env_part_names[i]);
        const char *value = hs_getenv(env_part_names[i]);
        if (!value)
            continue;
        present++;
        char name[32] = "";
        unsigned ver = 0, size = 0, date = 0;
        std::sscanf(value, "name:%31[^\t]\tver:%x\tsize:%u\tdate:%x", name, &ver, &size, &date);
        p.version = ver;
        p.size = size;
        p.date = date;
    }
    if (present == 0)
        return -1;
    const char *bootargs = hs_getenv("bootargs");
    const char *bootcmd = hs_getenv("bootcmd");
    std::snprintf(t->bootargs, sizeof t->bootargs, "%s", bootargs ? bootargs : "");
    std::snprintf(t->bootcmd, sizeof t->bootcmd, "%s", bootcmd ? bootcmd : "");

    // Older boot loaders kept their version only in "ver".
    env_mtd_entry &uboot = t->part[0];
    const char *ver = hs_getenv("ver");
    const char *at = ver ? std::strstr(ver, "71.") : nullptr;
    if ((uboot.version & 0xFF00) == 0 && at) {
        uint32_t version = 0;
        if (parse_dotted_version(at, version)) {
            uboot.version = version;
            set_env_partition(&uboot);
        } else {
            std::puts("uboot version format invalid, eg: xx.xx.xx.xx");
        }
    }
    return 0;
}

int set_env_partition(const env_mtd_entry *entry)
{
    if (!entry)
        return -1;
    char value[160];
    format_entry(*entry, value, sizeof value);
    return hs_setenv(entry->name, value);
}

int set_env_mtd_table(const env_mtd_table *t)
{
    if (!t)
        return -1;
    char values[ENV_PART_COUNT][160];
    env_assignment list[ENV_PART_COUNT];
    size_t n = 0;
    for (const env_mtd_entry &p : t->part) {
        if (!p.name[0])
            continue;
        format_entry(p, values[n], sizeof values[n]);
        list[n] = {p.name, values[n]};
        n++;
    }
    return env_set_many(list, n);
}

int set_env_cmdline(const char *bootargs, const char *bootcmd)
{
    env_assignment list[2];
    size_t n = 0;
    if (bootargs && *bootargs)
        list[n++] = {"bootargs", bootargs};
    if (bootcmd && *bootcmd)
        list[n++] = {"bootcmd", bootcmd};
    if (n == 0)
        return 0;
    return env_set_many(list, n);
}

int flprog_get_part_table(env_mtd_table *table) { return get_env_mtd_table(table); }
int flprog_set_part_table(const env_mtd_table *table) { return set_env_mtd_table(table); }

int get_part_name(int index, char *buf, size_t len)
{
    if (index < 0 || index >= ENV_PART_COUNT || !buf || len == 0)
        return -1;
    std::snprintf(buf, len, "%s", env_part_names[index]);
    return 0;
}

// ---- Slots, boot state, setters ------------------------------------------------------------

int set_env_boot(int slot)
{
    auto table = std::make_unique<env_mtd_table>();
    if (get_env_mtd_table(table.get()) != 0) {
        std::fputs("get_env_mtd_table faild!\n", stderr);
        return -1;
    }
    // The full texts, not the table's 512-byte copies, so that nothing is cut off.
    const char *cmd = hs_getenv("bootcmd");
    const char *args = hs_getenv("bootargs");
    std::string bootcmd = cmd ? cmd : "";
    std::string bootargs = args ? args : "";

    char digit = 0;
    if (!point_at_slot(bootcmd, "ker", slot, digit)) {
        std::fputs("Can't find kernel partition!\n", stderr);
        return -1;
    }
    if (bootargs.find("=fs") == std::string::npos) {
        char model[64] = "";
        hw_get_model(model, sizeof model);
        bootargs = std::strstr(model, "QRN5217") ? DEFAULT_BOOTARGS_QRN5217 : DEFAULT_BOOTARGS;
    }
    point_at_slot(bootargs, "=fs", slot, digit);
    std::printf("\tFilesys will switch to fs%c after reboot!\n", digit);
    return set_env_cmdline(bootargs.c_str(), bootcmd.c_str());
}

int set_switch_filesys(int slot)
{
    if (slot < 0 || slot > 2) {
        std::fputs("Unknown fs index, please choose 1 or 2\n", stderr);
        return -1;
    }
    if (set_env_boot(slot) != 0)
        return -1;
    nvr_sleep_ms(3000);
    run_tool("reboot");
    return 0;
}

int set_boot_state(int state)
{
    const char *current = hs_getenv("bootState");
    if (!current)
        return 0;
    if (state != 0 && std::strstr(current, "None"))
        return hs_setenv("bootState", "Done");
    if (state == 0 && std::strstr(current, "Done"))
        return hs_setenv("bootState", "None");
    return 0;
}

int set_ptb_cmdline(const char *text) { return set_text("bootargs", text, 512); }
int set_ptb_sn(const char *text) { return set_text("sn", text, 32); }
int set_ptb_pri_file(const char *text) { return set_text("bootfile", text, 32); }
int set_ptb_tftpd_ip(const char *text) { return set_text("serverip", text, NO_LIMIT); }
int set_ptb_eth_mac(const char *text) { return set_text("ethaddr", text, NO_LIMIT); }
int set_ptb_eth_ip(const char *text) { return set_text("ipaddr", text, NO_LIMIT); }
int set_ptb_eth_netmask(const char *text) { return set_text("netmask", text, NO_LIMIT); }
int set_ptb_eth_gateway(const char *text) { return set_text("gateway", text, NO_LIMIT); }
int set_ptb_wifi_mac(const char *text) { return set_text("wifimac", text, NO_LIMIT); }
int set_ptb_wifi_ip(const char *text) { return set_text("wifiip", text, NO_LIMIT); }
int set_ptb_wifi_netmask(const char *text) { return set_text("wifinm", text, NO_LIMIT); }
int set_ptb_wifi_gateway(const char *text) { return set_text("wifigw", text, NO_LIMIT); }

int set_ptb_bootdelay(long delay)
{
    char value[8];
    std::snprintf(value, sizeof value, "%d", static_cast<int>(static_cast<unsigned long>(delay) & 0xFF));
    return hs_setenv("bootdelay", value);
}

int set_ptb_uboot_version(const char *text)
{
    uint32_t version = 0;
    if (!parse_dotted_version(text, version)) {
        std::puts("uboot version format invalid, eg: xx.xx.xx.xx");
        return -1;
    }
    auto table = std::make_unique<env_mtd_table>();
    if (get_env_mtd_table(table.get()) != 0)
        return -1;
    table->part[0].version = version;
    return set_env_partition(&table->part[0]);
}

int set_ptb_autoboot(long) { return 0; }
int set_ptb_autodownload(long) { return 0; }
int set_ptb_pri_addr(unsigned long) { return 0; }

// ---- Listings ------------------------------------------------------------------------------

int env_print_version_listing()
{
    std::printf("Varkstone update version: %s\n", "0.1.0.1");
    auto t = std::make_unique<env_mtd_table>();
    if (get_env_mtd_table(t.get()) != 0) {
        std::fputs("flprog_get_part_table faild!\n", stderr);
        return -1;
    }
    for (const env_mtd_entry &p : t->part) {
        if (p.version == 0)
            continue;
        std::printf("%s%s", p.name, listing_suffix(*t, p.name));
        print_version_line(p.version);
        std::printf("\tsize    = %d K\n", int(p.size / 1024));
        print_date_line(p.date);
    }
    return 0;
}

int env_print_show_listing()
{
    std::printf("Varkstone update version: %s \n", "1.0.1");
    auto t = std::make_unique<env_mtd_table>();
    if (get_env_mtd_table(t.get()) != 0) {
        std::fputs("flprog_get_part_table faild!\n", stderr);
        return -1;
    }
    for (const env_mtd_entry &p : t->part) {
        if (p.size == 0)
            continue;
        std::printf("%s%s", p.name, listing_suffix(*t, p.name));
        print_version_line(p.version);
        std::printf("\tsize    = 0x%08X (%d K)\n", p.size, int(p.size / 1024));
        print_date_line(p.date);
    }
    std::printf("\nMore details:\n");
    std::puts("Mtd information: ");
    if (FILE *f = std::fopen(nvr_path("/proc/mtd").c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            std::fwrite(buf, 1, n, stdout);
        std::fclose(f);
    }
    if (hs_printenv() != 0) {
        std::fputs("hs_printenv faild!\n", stderr);
        return -1;
    }
    return 0;
}
