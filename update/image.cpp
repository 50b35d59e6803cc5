// Upgrade images: reading the 2048-byte header, listing it, checking every part's CRC-32,
// cutting parts out into files, and building an image from part files. See image.h for the
// layout; the slot table below is the one place that says what each slot holds.
#include "image.h"

#include "crc32.h"
#include "nvr_path.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

const upfw_slot_info upfw_slots[UPFW_SLOT_COUNT] = {
    {"bld", "/share/vkhn/targets/hi3536g/firmware/uboot_2048M", "/dev/shm/bld.bin", 0, 0x0701021B},
    {"ker", "/share/vkhn/targets/hi3536g/firmware/uImage", "/dev/shm/ker.bin", 0, 0x0701000D},
    {"fs", "/share/vkhn/targets/hi3536g/firmware/ubifs", "/dev/shm/ubifs.bin", 1, 0x47090010},
    {"cmd", "/share/vkhn/src/boards/hi3536/firmware/update", "/dev/shm/update", 1, 0x00010001},
    {"jpg", "/share/vkhn/targets/hi3536g/firmware/boot.jpg", "/dev/shm/boot.jpg", 1, 0x07010002},
    {"bld2", "/share/vkhn/targets/hi3536g/firmware/uboot_4096M", "/dev/shm/bld2.bin", 0,
     0x0701031B},
    {"tool", "", "/dev/shm/tool.bin", 1, 0x00000100},
};

namespace {

constexpr size_t PIECE = 1024;
constexpr const char *UTILITY_OUTPUT = "/dev/shm/update";
constexpr const char *RELEASE = "9.0.16";

// A file descriptor closed when it goes out of scope.
struct unique_fd {
    int fd = -1;
    explicit unique_fd(int f) : fd(f) {}
    ~unique_fd()
    {
        if (fd >= 0)
            close(fd);
    }
    unique_fd(const unique_fd &) = delete;
    unique_fd &operator=(const unique_fd &) = delete;
    // Closes now and reports the result (for files whose close may lose data).
    int release_close()
    {
        int r = close(fd);
        fd = -1;
        return r;
    }
};

// The part name as a bounded string (an image may carry an unterminated name).
std::string part_name(const upfw_part_record &p) { return std::string(p.name, strnlen(p.name, sizeof p.name)); }

bool has_name(const upfw_part_record &p) { return p.name[0] != '\0'; }

bool read_full(int fd, void *buf, size_t len)
{
    auto *p = static_cast<unsigned char *>(buf);
    while (len > 0) {
        ssize_t n = read(fd, p, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool write_full(int fd, const void *buf, size_t len)
{
    const auto *p = static_cast<const unsigned char *>(buf);
    while (len > 0) {
        ssize_t n = write(fd, p, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

void print_version(uint32_t v)
{
    std::printf("version = %d.%d.%d.%d\n", int(v >> 24), int((v >> 16) & 0xFF),
                int((v >> 8) & 0xFF), int(v & 0xFF));
}

// The lines shared by the list and the verification of a slot in use; only the size differs.
void print_slot_details(const upfw_part_record &p, bool size_in_hex)
{
    std::printf("offset  = 0x%08X\n", p.offset);
    if (size_in_hex)
        std::printf("size    = 0x%08X (%d K)\n", p.size, int(p.size / 1024));
    else
        std::printf("size    = %d K\n", int(p.size / 1024));
    std::printf("addr    = 0x%08X\n", p.load_addr);
    std::printf("flag    = 0x%08X\n", p.flag);
    std::printf("date    = %d/%d/%d\n", int(p.date >> 16), int((p.date >> 8) & 0xFF),
                int(p.date & 0xFF));
    std::printf("crc32   = 0x%08X\n", p.crc);
}

// Copies one part of the image to its output file (a recorder path).
bool cut_part(int image, const upfw_part_record &p, const char *output)
{
    std::printf("Create file: %s \n", output);
    const std::string out_path = nvr_path(output);
    // Truncated, so that a shorter part never keeps the tail of an older, longer file.
    unique_fd out(open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (out.fd < 0) {
        std::perror("write output imager");
        return false;
    }
    if (lseek(image, p.offset, SEEK_SET) == -1) {
        std::perror("lseek input imager");
        return false;
    }
    unsigned char buf[PIECE];
    for (uint32_t left = p.size; left > 0;) {
        const size_t want = left < PIECE ? left : PIECE;
        ssize_t n = read(image, buf, want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            std::perror("read input imager");
            return false;
        }
        if (n == 0) {
            // The image is shorter than its header says: the cut file would be incomplete.
            std::fputs("read input imager: image ends inside the part\n", stderr);
            return false;
        }
        if (!write_full(out.fd, buf, static_cast<size_t>(n))) {
            std::perror("write output imager");
            return false;
        }
        left -= static_cast<uint32_t>(n);
    }
    if (out.release_close() != 0) {
        std::perror("write output imager");
        return false;
    }
    return true;
}

// Pads `file` in place with 0xFF to a multiple of 2048 and returns its size and CRC-32.
bool pad_and_checksum(const std::string &file, uint32_t &size, uint32_t &crc)
{
    unique_fd fd(open(file.c_str(), O_RDWR | O_CLOEXEC));
    struct stat st {};
    if (fd.fd < 0 || fstat(fd.fd, &st) != 0)
        return false;
    const uint64_t padded = (uint64_t(st.st_size) + UPFW_HEADER_SIZE - 1) / UPFW_HEADER_SIZE *
                            UPFW_HEADER_SIZE;
    if (padded > 0xFFFFFFFFull)
        return false;
    if (padded > uint64_t(st.st_size)) {
        std::vector<unsigned char> fill(padded - st.st_size, 0xFF);
        if (pwrite(fd.fd, fill.data(), fill.size(), st.st_size) != ssize_t(fill.size()))
            return false;
    }
    size = static_cast<uint32_t>(padded);
    crc = 0;
    unsigned char buf[PIECE];
    for (uint32_t pos = 0; pos < size; pos += PIECE) {
        if (pread(fd.fd, buf, PIECE, pos) != ssize_t(PIECE))
            return false;
        crc = crc32(crc, buf, PIECE);
    }
    return fd.release_close() == 0;
}

bool append_file(int out, const std::string &file)
{
    unique_fd in(open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0)
        return false;
    unsigned char buf[64 * 1024];
    for (;;) {
        ssize_t n = read(in.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (!write_full(out, buf, static_cast<size_t>(n)))
            return false;
    }
    return fsync(out) == 0;
}

void make_parent_dirs(const std::string &path)
{
    for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        mkdir(path.substr(0, at).c_str(), 0755);
}

} // namespace

int image_get_header_info(const char *path, upfw_image_header *header)
{
    if (!path || !*path) {
        std::fputs("Please input datafile\n", stderr);
        return -1;
    }
    unique_fd fd(open(path, O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0) {
        std::perror("open output imager");
        return -1;
    }
    struct stat st {};
    if (fstat(fd.fd, &st) != 0 || st.st_size < off_t(UPFW_HEADER_SIZE)) {
        std::fprintf(stderr, "Bad size: \"%s\" is no valid image\n", UPFW_BUILD_OUTPUT);
        return -1;
    }
    if (!read_full(fd.fd, header, sizeof *header)) {
        std::perror("read output imager");
        return -1;
    }
    return 0;
}

int image_part_crc(int fd, uint32_t offset, uint32_t size, uint32_t *crc)
{
    if (lseek(fd, offset, SEEK_SET) == -1) {
        std::perror("lseek output imager");
        return -1;
    }
    // Read in large pieces: a part is up to tens of MiB, and 1 KiB reads cost more in system
    // calls than the CRC itself. A part that ends early fails the same way at any piece size.
    constexpr size_t CRC_PIECE = 64 * 1024;
    static unsigned char buf[CRC_PIECE]; // the utility is single-threaded
    uint32_t c = 0;
    for (uint32_t left = size; left > 0;) {
        const size_t want = left < CRC_PIECE ? left : CRC_PIECE;
        if (!read_full(fd, buf, want)) {
            std::perror("read output imager");
            return -1;
        }
        c = crc32(c, buf, want);
        left -= static_cast<uint32_t>(want);
    }
    *crc = c;
    return 0;
}

int UPFW_list_intfo(const char *path)
{
    if (!path || !*path) {
        std::fputs("Please input datafile\n", stderr);
        return -1;
    }
    std::puts("Image info: ");
    upfw_image_header h;
    if (image_get_header_info(path, &h) != 0)
        return 0; // the reason is printed; nothing to list
    for (const upfw_part_record &p : h.part) {
        if (!has_name(p))
            continue;
        std::printf("%s: \n", part_name(p).c_str());
        if (upfw_slot_in_use(p))
            print_slot_details(p, false);
        print_version(p.version);
    }
    return 0;
}

int UPFW_verify(const char *path, const env_mtd_table *)
{
    upfw_image_header h;
    if (image_get_header_info(path, &h) != 0)
        return -1;
    unique_fd fd(open(path, O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0) {
        std::perror("open output imager");
        return -1;
    }
    for (const upfw_part_record &p : h.part) {
        if (!has_name(p) || !upfw_slot_in_use(p))
            continue;
        const std::string name = part_name(p);
        std::printf("%s: \n", name.c_str());
        print_slot_details(p, true);
        print_version(p.version);
        uint32_t crc = 0;
        if (image_part_crc(fd.fd, p.offset, p.size, &crc) != 0)
            return -1;
        if (crc != p.crc) {
            std::fflush(stdout);
            std::fprintf(stderr, "check_img_crc %s failed\n", name.c_str());
            return -1;
        }
    }
    return 0;
}

int UPFW_analysis_img(const char *path, int mode)
{
    std::printf("==============name %s=\n", path ? path : "");
    upfw_image_header h;
    if (image_get_header_info(path, &h) != 0)
        return -1;
    unique_fd image(open(path, O_RDONLY | O_CLOEXEC));
    if (image.fd < 0) {
        std::perror("open output imager");
        return -1;
    }
    for (int i = 0; i < UPFW_SLOT_COUNT; i++) {
        const upfw_part_record &p = h.part[i];
        if (!upfw_slot_in_use(p))
            continue;
        const char *output = nullptr;
        if (mode == 0)
            output = part_name(p) == "cmd" ? UTILITY_OUTPUT : nullptr;
        else
            output = i <= 3 ? upfw_slots[i].output : nullptr;
        if (!output)
            continue;
        if (!cut_part(image.fd, p, output)) {
            std::fflush(stdout);
            std::fprintf(stderr, "write %s faild\n", output);
            return -1;
        }
        // The utility is started from where it was cut.
        if (std::strcmp(output, UTILITY_OUTPUT) == 0)
            chmod(nvr_path(output).c_str(), 0777);
    }
    return 0;
}

int UPFW_creat_img_from(const char *parts_dir, const char *output)
{
    struct stat dir_st {};
    if (parts_dir) {
        const int rc = stat(parts_dir, &dir_st);
        if (rc != 0 || !S_ISDIR(dir_st.st_mode)) {
            if (rc == 0)
                errno = ENOTDIR;
            std::perror(parts_dir);
            return -1;
        }
    }
    upfw_image_header h;
    std::memset(&h, 0, sizeof h);
    std::vector<std::pair<int, std::string>> parts;  // slot, file
    uint64_t offset = UPFW_HEADER_SIZE;

    for (int i = 0; i < UPFW_SLOT_COUNT; i++) {
        const upfw_slot_info &slot = upfw_slots[i];
        if (!slot.source[0])
            continue;
        std::string file;
        if (parts_dir) {
            const char *base = std::strrchr(slot.source, '/');
            file = std::string(parts_dir) + "/" + (base ? base + 1 : slot.source);
            if (access(file.c_str(), F_OK) != 0)
                continue;
        } else {
            file = nvr_path(slot.source);
        }
        uint32_t size = 0, crc = 0;
        if (!pad_and_checksum(file, size, crc) || offset + size > 0xFFFFFFFFull) {
            std::fprintf(stderr, "   Copy %s: %s failed!\n", slot.name, file.c_str());
            std::fputs("image_copy_data faild.\n", stderr);
            return -1;
        }
        upfw_part_record &p = h.part[i];
        p.offset = static_cast<uint32_t>(offset);
        p.size = size;
        p.version = slot.version;
        p.load_addr = 0;
        p.flag = slot.flag;
        p.date = UPFW_BUILD_DATE;
        p.crc = crc;
        std::snprintf(p.name, sizeof p.name, "%s", slot.name);
        offset += size;
        parts.emplace_back(i, file);
    }

    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    strftime(h.build_time, sizeof h.build_time, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(h.release, sizeof h.release, "%s", RELEASE);

    std::string out_path;
    if (output) {
        out_path = output;
    } else {
        out_path = nvr_path(UPFW_BUILD_OUTPUT);
        if (nvr_in_sandbox())
            make_parent_dirs(out_path);
    }
    unique_fd out(open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (out.fd < 0) {
        std::perror("open output imager");
        return -1;
    }
    if (!write_full(out.fd, &h, sizeof h)) {
        std::perror("write output imager");
        return -1;
    }
    std::puts("Copy data to image!!!");
    for (const auto &[slot, file] : parts) {
        if (!append_file(out.fd, file)) {
            std::fflush(stdout);
            std::fprintf(stderr, "   Copy %s: %s failed!\n", upfw_slots[slot].name, file.c_str());
            std::fputs("image_copy_data faild.\n", stderr);
            return -1;
        }
    }
    if (out.release_close() != 0) {
        std::fputs("close output imager\n", stderr);
        return -1;
    }
    return 0;
}

int UPFW_creat_img()
{
    const char *dir = nvr_in_sandbox() ? std::getenv("NVR_IMAGE_PARTS_DIR") : nullptr;
    return UPFW_creat_img_from(dir && *dir ? dir : nullptr, nullptr);
}
