// The A/B installation of an upgrade image. The recorder keeps two kernel slots (ker1, ker2) and
// two file-system slots (fs1, fs2); "bootargs" ("ubi.mtd=fsN") and "bootcmd" ("... kerN ...")
// name the running pair. An installation verifies the image, plans which parts go where (boot
// loader to "uboot" on SPI flash when it is newer, boot logo to "logo" when it changed, kernel
// and file system to the slots that are not running), writes them, and only then points both
// boot variables at the new slots in one environment write, so that a power cut at any moment
// leaves either the old pair or the complete new pair booting.
//
// Also here: the result log "/mnt/nand/upfw.log", dropping the page cache, the device map read
// from "/proc/mtd", and the runner for the few platform tools the installer starts.
#include "install.h"

#include "bootenv.h"
#include "flash.h"
#include "hw.h"
#include "image.h"
#include "nvr_path.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

struct ResultText {
    int code;
    const char *message;
};
constexpr std::array<ResultText, 14> k_result_texts{{
    {UPFW_OK, "update success!"},
    {UPFW_ERR_FAILED, "update faild!"},
    {UPFW_ERR_VERIFY, "verify update firmware faild!"},
    {UPFW_ERR_ANALYSIS, "analysis update firmware faild!"},
    {UPFW_ERR_PTB, "update ptb partition faild!"},
    {UPFW_ERR_BLD, "update bld partition faild!"},
    {UPFW_ERR_HAL, "update hal partition faild!"},
    {UPFW_ERR_DSP, "update dsp partition faild!"},
    {UPFW_ERR_KERNEL, "update kernel partition faild!"},
    {UPFW_ERR_FILESYS, "update filesys partition faild!"},
    {UPFW_ERR_CMDLINE, "update cmdline faild!"},
    {UPFW_ERR_KER1_VERSION, "kernel 1 version mismatch!"},
    {UPFW_ERR_KER2_VERSION, "kernel 2 version mismatch!"},
    {UPFW_ERR_MISMATCH, "firmware mismatch!"},
}};

constexpr const char *RESULT_LOG = "/mnt/nand/upfw.log";
constexpr size_t RESULT_BLOCK = 256;
constexpr const char *DROP_CACHES = "/proc/sys/vm/drop_caches";
constexpr const char *MTD_LIST = "/proc/mtd";

} // namespace

const char *upfw_result_message(int code)
{
    for (const ResultText &t : k_result_texts)
        if (t.code == code)
            return t.message;
    return "unknow error!";
}

int UPFW_log(int code, const char *message)
{
    if (!message)
        message = "";
    std::array<char, 2 * RESULT_BLOCK> log{};
    std::snprintf(log.data(), RESULT_BLOCK, "%d\n", code);
    // The message always gets its newline, also one that carries its own ("... faild!\n").
    std::snprintf(log.data() + RESULT_BLOCK, RESULT_BLOCK, "%s\n", message);
    // A message cut short still ends its line.
    char *text = log.data() + RESULT_BLOCK;
    if (std::strlen(text) == RESULT_BLOCK - 1)
        text[RESULT_BLOCK - 2] = '\n';
    std::fputs(text, stderr);

    const std::string path = nvr_path(RESULT_LOG);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        std::perror(path.c_str());
        return -1;
    }
    ssize_t n = write(fd, log.data(), log.size());
    if (close(fd) != 0 || n != ssize_t(log.size()))
        return -1;
    return static_cast<int>(n);
}

// ---- Platform tools ----------------------------------------------------------------------------

int upfw_run_tool(const std::vector<std::string> &argv, bool search_path)
{
    if (argv.empty())
        return -1;
    std::string program = argv[0];
    if (search_path && program.find('/') == std::string::npos) {
        // In a sandbox the stand-ins in $NVR_ROOT/bin come first.
        std::string dirs = nvr_in_sandbox() ? nvr_root() + "/bin:" : "";
        const char *path = std::getenv("PATH");
        dirs += path ? path : "/usr/bin:/bin";
        size_t start = 0;
        std::string found;
        while (found.empty() && start <= dirs.size()) {
            size_t end = dirs.find(':', start);
            if (end == std::string::npos)
                end = dirs.size();
            std::string candidate = dirs.substr(start, end - start) + "/" + program;
            if (end > start && access(candidate.c_str(), X_OK) == 0)
                found = candidate;
            start = end + 1;
        }
        if (found.empty()) {
            std::fprintf(stderr, "%s: command not found\n", program.c_str());
            return -1;
        }
        program = found;
    }

    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    // A tool started by the installer shares its power-cut count (flash.h): the cut point of a
    // test counts the flash operations of the installer and its tools together.
    const std::vector<std::string> child_env = flash_child_environment(environ);
    std::vector<char *> env;
    for (const std::string &entry : child_env)
        env.push_back(const_cast<char *>(entry.c_str()));
    env.push_back(nullptr);

    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid;
    int err = posix_spawn(&pid, program.c_str(), nullptr, nullptr, args.data(), env.data());
    if (err != 0) {
        errno = err;
        std::perror(program.c_str());
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    const int result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    flash_child_finished(result);
    return result;
}

int clean_memory_and_sync()
{
    const std::string path = nvr_path(DROP_CACHES);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && write(fd, "3\n", 2) == 2;
    if (fd >= 0 && close(fd) != 0)
        ok = false;
    if (!ok) {
        std::fprintf(stderr, "clean memory error!\n");
        return -1;
    }
    upfw_run_tool({"sync"}, true);
    return 0;
}

// ---- Device map --------------------------------------------------------------------------------

namespace {

// For each partition name the device that carries it, from the kernel's list of MTD devices
// ("mtd5: 00800000 00020000 \"fs1\""): the first line that contains the name anywhere (as a
// grep for it would find) gives "/dev/mtd5"; "" when no line contains it.
int get_mtd_info(std::array<std::string, ENV_PART_COUNT> &devices)
{
    FILE *f = std::fopen(nvr_path(MTD_LIST).c_str(), "r");
    if (!f)
        return -1;
    for (std::string &d : devices)
        d.clear();
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        char dev[32] = "";
        if (std::sscanf(line, "%31[^:]:", dev) != 1)
            continue;
        for (int i = 0; i < ENV_PART_COUNT; i++)
            if (devices[i].empty() && std::strstr(line, env_part_names[i]))
                devices[i] = std::string("/dev/") + dev;
    }
    std::fclose(f);
    return 0;
}

// ---- Installation ------------------------------------------------------------------------------

int part_index(const char *name)
{
    for (int i = 0; i < ENV_PART_COUNT; i++)
        if (std::strcmp(env_part_names[i], name) == 0)
            return i;
    return -1;
}

const upfw_part_record *find_slot(const upfw_image_header &header, const char *name, int *slot)
{
    for (int i = 0; i < UPFW_SLOT_COUNT; i++) {
        const upfw_part_record &p = header.part[i];
        if (std::strncmp(p.name, name, sizeof p.name) == 0 && upfw_slot_in_use(p)) {
            if (slot)
                *slot = i;
            return &p;
        }
    }
    return nullptr;
}

uint32_t variant_of(uint32_t version) { return (version >> 8) & 0xFF; }
uint32_t build_of(uint32_t version) { return version & 0xFF; }

bool contains(const char *text, const char *part) { return std::strstr(text, part) != nullptr; }

bool model_is_any(const char *model, std::initializer_list<const char *> names)
{
    for (const char *n : names)
        if (contains(model, n))
            return true;
    return false;
}

// The boot loader for bigger memory: "mem=1024M" becomes "mem=<megabytes>M" and the kernel's
// vmalloc area is enlarged unless the arguments already size it.
void set_boot_memory(char *bootargs, size_t capacity, const char megabytes[5])
{
    if (char *mem = std::strstr(bootargs, "mem=1024M"))
        std::memcpy(mem + 4, megabytes, 4);
    if (!contains(bootargs, "vmalloc")) {
        const size_t len = std::strlen(bootargs);
        std::snprintf(bootargs + len, capacity - len, "%s",
                      len + 14 < capacity ? " vmalloc=1024M" : "");
    }
}

// Flips the slot digit after `marker` (1 <-> 2); returns the digit that was running or 0.
char flip_slot(char *text, const char *marker)
{
    char *p = std::strstr(text, marker);
    if (!p)
        return 0;
    p += std::strlen(marker);
    const char running = *p;
    if (running == '1')
        *p = '2';
    else if (running == '2')
        *p = '1';
    else
        return '?';
    return running;
}

void print_plan(const UpfwPlan &plan)
{
    std::printf("Update %s partition:\n", plan.part_name);
    std::printf("dev \t    = %s\n", plan.device);
    std::printf("offset   = 0x%08X\n", plan.offset);
    std::printf("size\t    = 0x%08X (%d K)\n", plan.size, static_cast<int>(plan.size / 1024));
    std::printf("addr\t    = 0x%08X\n", plan.load_addr);
    std::printf("flag\t    = 0x%08X\n", plan.flag);
    std::printf("date\t    = %d/%d/%d\n", plan.date >> 16, (plan.date >> 8) & 0xFF, plan.date & 0xFF);
    std::printf("version = %d.%d.%d.%d\n", plan.version >> 24, (plan.version >> 16) & 0xFF,
                (plan.version >> 8) & 0xFF, plan.version & 0xFF);
}

} // namespace

int UPFW_run_update(const char *image)
{
    upfw_image_header header;
    if (image_get_header_info(image, &header) != 0) {
        std::fprintf(stderr, "image_get_header_info faild!\n");
        return UPFW_ERR_FAILED;
    }
    upfw_print_line("Get old ptb information!", stdout);
    env_mtd_table table;
    if (get_env_mtd_table(&table) != 0) {
        std::fprintf(stderr, "flprog_get_part_table faild!\n");
        return UPFW_ERR_PTB;
    }

    std::printf("Verify image %s \n", image);
    std::fflush(stdout);
    if (UPFW_verify(image, &table) != 0) {
        std::fprintf(stderr, "Verify update firmware faild!\n");
        return UPFW_ERR_VERIFY;
    }

    upfw_print_line("Get mtd device information!", stdout);
    std::array<std::string, ENV_PART_COUNT> devices;
    if (get_mtd_info(devices) != 0) {
        std::fprintf(stderr, "get_mtd_info faild!\n");
        return UPFW_ERR_PTB;
    }

    // The slots not running now receive the new kernel and file system.
    const char fs_running = flip_slot(table.bootargs, "=fs");
    if (fs_running == 0) {
        std::fprintf(stderr, "cmdline: %s \n", table.bootargs);
        std::fprintf(stderr, "bootargs not find fs, maybe NFS!\n");
        return UPFW_ERR_PTB;
    }
    if (fs_running == '?') {
        std::fprintf(stderr, "unknow fs partition!\n");
        return UPFW_ERR_PTB;
    }
    std::printf("  current is fs%c ", fs_running);
    const char ker_running = flip_slot(table.bootcmd, "ker");
    if (ker_running == 0) {
        std::fprintf(stderr, " bootcmd is null!\n");
        return UPFW_ERR_PTB;
    }
    if (ker_running == '?') {
        std::fprintf(stderr, "  unknow bootcmd!\n");
        return UPFW_ERR_PTB;
    }
    std::printf("  current is ker%c ", ker_running);

    // Which part goes to which partition; indexed by image slot, nullptr = not written.
    std::array<const char *, UPFW_SLOT_COUNT> target{};
    const uint32_t uboot = table.part[part_index("uboot")].version;
    const uint32_t logo = table.part[part_index("logo")].version;
    char model[64];
    hw_get_model(model, sizeof model);

    int slot = -1;
    auto newer_loader = [&](const upfw_part_record *p) {
        return p && variant_of(p->version) == variant_of(uboot) && build_of(p->version) > build_of(uboot);
    };
    const bool qrn5217 = contains(model, "QRN5217");
    int bld_slot = -1, bld2_slot = -1;
    const upfw_part_record *bld = find_slot(header, "bld", &bld_slot);
    const upfw_part_record *bld2 = find_slot(header, "bld2", &bld2_slot);
    if (!qrn5217 && newer_loader(bld)) {
        target[bld_slot] = "uboot";
        if (model_is_any(model, {"QRN5243", "QRN6143", "QRN4843"}))
            set_boot_memory(table.bootargs, sizeof table.bootargs, "1224");
    }
    if (newer_loader(bld2))
        target[bld2_slot] = "uboot";
    if (qrn5217 && bld2 && build_of(bld2->version) > build_of(uboot)) {
        target[bld2_slot] = "uboot";
        set_boot_memory(table.bootargs, sizeof table.bootargs, "2048");
    }
    if (const upfw_part_record *jpg = find_slot(header, "jpg", &slot);
        jpg && variant_of(jpg->version) == variant_of(logo) && jpg->version != logo)
        target[slot] = "logo";
    if (!find_slot(header, "fs", &slot)) {
        std::fprintf(stderr, "No filesys image!\n");
        return UPFW_ERR_FILESYS;
    }
    target[slot] = fs_running == '1' ? "fs2" : "fs1";
    if (!find_slot(header, "ker", &slot)) {
        std::fprintf(stderr, "No kernel image!\n");
        return UPFW_ERR_KERNEL;
    }
    // The kernel goes to the slot that "bootcmd" will name, the one not running now, even when
    // the two variables disagree about the running pair (a kernel switched by hand).
    target[slot] = ker_running == '1' ? "ker2" : "ker1";

    for (int i = 0; i < UPFW_SLOT_COUNT; i++) {
        if (!target[i])
            continue;
        const upfw_part_record &p = header.part[i];
        UpfwPlan plan{};
        std::snprintf(plan.device, sizeof plan.device, "%s", devices[part_index(target[i])].c_str());
        std::snprintf(plan.part_name, sizeof plan.part_name, "%s", target[i]);
        plan.offset = p.offset;
        plan.size = p.size;
        plan.flag = p.flag;
        plan.load_addr = p.load_addr;
        plan.version = p.version;
        plan.date = p.date;
        plan.pad = 1;
        print_plan(plan);
        std::fflush(stdout);

        clean_memory_and_sync();
        const std::string name(p.name, strnlen(p.name, sizeof p.name));
        if (name == "bld" || name == "bld2") {
            if (spi_flash_write_file(image, &plan) != 0)
                return UPFW_ERR_BLD;
        } else if (nand_flash_write_file(image, &plan) != 0) {
            if (name == "ker")
                return UPFW_ERR_KERNEL;
            if (name == "fs")
                return UPFW_ERR_FILESYS;
            std::fprintf(stderr, "nand_flash_write_file unkown parttition faild!\n");
            return UPFW_ERR_FAILED;
        }
        clean_memory_and_sync();
    }

    // Both boot variables in one environment write: a cut before it boots the old pair, after
    // it the new pair, never a new file system with the old kernel.
    if (set_env_cmdline(table.bootargs, table.bootcmd) != 0) {
        std::fprintf(stderr, "set_env_cmdline faild!\n");
        return UPFW_ERR_PTB;
    }
    return UPFW_OK;
}

void upfw_print_line(const char *text, FILE *stream)
{
    std::fputs(text, stream);
    const size_t len = std::strlen(text);
    if (len == 0 || text[len - 1] != '\n')
        std::fputc('\n', stream);
}
