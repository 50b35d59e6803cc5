// Writers of one planned part (install.h's UpfwPlan) into its partition, and the update of the
// partition's entry in the boot environment once the data is completely on flash.
//
// NAND (kernel, file system, logo): the whole partition is erased with the platform's
// flash_erase, then the part is written in whole pages (the last one filled with 0xFF) block by
// block, each block's pages read back and compared. Bad blocks are skipped; a block whose pages
// do not read back as written is marked bad and its share of the part is written again into the
// next good block.
//
// SPI NOR (boot loaders): the part's range is erased, the part copied in 10240-byte pieces and
// read back whole for comparison.
//
// Every device access goes through the flash layer (flash.h); device paths are recorder paths.
#include "install.h"

#include "bootenv.h"
#include "crc32.h"
#include "flash.h"
#include "nvr_path.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char *FLASH_ERASE_TOOL = "/usr/sbin/flash_erase";
constexpr size_t SPI_PIECE = 10240;

// Closes a device or file on every way out.
struct Fd {
    int fd = -1;
    bool device = false;
    Fd(int f, bool is_device) : fd(f), device(is_device) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd()
    {
        if (fd >= 0)
            device ? flash_close(fd) : close(fd);
    }
    operator int() const { return fd; }
};

struct EntryMessages {
    const char *read_failed;
    const char *write_failed;
};
constexpr EntryMessages k_nand_entry{"get_env_mtd_table faild!\n", "set_env_partition faild!\n"};
constexpr EntryMessages k_spi_entry{"flprog_get_part_table faild!\n", "flprog_set_part_table faild!\n"};

// Records the part now on flash in its partition's entry (size, version, date).
int update_partition_entry(const UpfwPlan *plan, const EntryMessages &messages)
{
    int index = -1;
    for (int i = 0; i < ENV_PART_COUNT; i++)
        if (std::strcmp(env_part_names[i], plan->part_name) == 0)
            index = i;
    if (index < 0) {
        std::fprintf(stderr, "Not valid image, exit without update ptb!\n");
        return -1;
    }
    env_mtd_table table;
    if (get_env_mtd_table(&table) != 0) {
        std::fprintf(stderr, "%s", messages.read_failed);
        return -1;
    }
    env_mtd_entry &entry = table.part[index];
    entry.size = plan->size;
    entry.version = plan->version;
    entry.date = plan->date;
    if (set_env_partition(&entry) != 0) {
        std::fprintf(stderr, "%s", messages.write_failed);
        return -1;
    }
    return 0;
}

// Flushes what was written to the device to stable storage. An emulated device is a file of
// the host, where flushing adds nothing but time.
void sync_device(int fd)
{
    if (nvr_in_sandbox())
        return;
    fsync(fd);
    sync();
}

// Boot loaders are written synchronously on the recorder; see sync_device for the sandbox.
int spi_open_flags() { return O_RDWR | (nvr_in_sandbox() ? 0 : O_SYNC); }

bool normal_nand_geometry(const mtd_info_user &info)
{
    struct PageSpare {
        uint32_t page, spare;
    };
    constexpr PageSpare accepted[] = {{512, 16}, {256, 8}, {2048, 64}, {2048, 128}};
    return std::any_of(std::begin(accepted), std::end(accepted), [&](const PageSpare &g) {
        return g.page == info.writesize && g.spare == info.oobsize;
    });
}

} // namespace

int nand_flash_write_file(const char *image, const UpfwPlan *plan)
{
    Fd dev(flash_open(plan->device, O_RDWR), true);
    if (dev < 0) {
        std::perror("open flash");
        return -1;
    }
    mtd_info_user info{};
    if (flash_get_info(dev, &info) != 0) {
        std::perror("MEMGETINFO");
        return -1;
    }
    if (!normal_nand_geometry(info)) {
        std::fprintf(stderr, "Unknown flash (not normal NAND)\n");
        return -1;
    }
    Fd img(open(image, O_RDONLY | O_CLOEXEC), false);
    if (img < 0) {
        std::perror("open input file");
        return -1;
    }
    const uint32_t page = info.writesize;
    const uint32_t block = info.erasesize;
    const uint64_t pages_needed = (uint64_t(plan->size) + page - 1) / page;
    if (uint64_t(info.size) < pages_needed * page || block == 0 || block % page != 0) {
        std::fprintf(stderr, "Image %d bytes, NAND page %d bytes, OOB area %u bytes, device size %u bytes\n",
                     static_cast<int>(plan->size), static_cast<int>(page), info.oobsize, info.size);
        errno = ENOSPC;
        std::perror("Input file does not fit into device");
        return -1;
    }

    if (upfw_run_tool({nvr_path(FLASH_ERASE_TOOL), nvr_path(plan->device), "0", "0"}, false) != 0) {
        std::fprintf(stderr, "Fail on erase mtd device!\n");
        return -1;
    }

    // The pages of one erase block go down in one write and come back in one read; a block that
    // does not return every page as written is retired whole.
    std::vector<unsigned char> data(block), back(block);
    uint64_t done = 0;  // bytes of the part on flash and verified
    size_t last_page = 0;
    for (uint64_t block_start = 0; done < plan->size && block_start < info.size; block_start += block) {
        std::printf("Writing data to block %x\n", static_cast<unsigned>(block_start));
        const int bad = flash_block_is_bad(dev, block_start);
        if (bad < 0) {
            std::perror("ioctl(MEMGETBADBLOCK)");
            break;
        }
        if (bad == 1) {
            // Skipping a bad block is the normal course of a NAND write, reported with the
            // progress lines; only a part that cannot be written whole is a failure.
            std::printf("Bad block at %x, %u block(s) from %x will be skipped\n",
                         static_cast<unsigned>(block_start), 1u, static_cast<unsigned>(block_start));
            continue;
        }

        const size_t len = static_cast<size_t>(std::min<uint64_t>(block, plan->size - done));
        const size_t span = (len + page - 1) / page * page;  // the last page filled with 0xFF
        std::fill(data.begin(), data.begin() + static_cast<long>(span), 0xFF);
        const ssize_t got = pread(img, data.data(), len, static_cast<off_t>(plan->offset + done));
        if (got != ssize_t(len)) {
            if (got == 0)
                std::fprintf(stderr, "read file return 0 size!\n");
            else
                std::perror("File I/O error on input file");
            break;
        }
        if (flash_pwrite(dev, data.data(), span, static_cast<off_t>(block_start)) != ssize_t(span)) {
            std::perror("pwrite");
            break;
        }
        if (flash_pread(dev, back.data(), span, static_cast<off_t>(block_start)) != ssize_t(span)) {
            std::perror("pread");
            break;
        }
        if (std::memcmp(data.data(), back.data(), len) != 0) {
            // The block does not hold what it was given: retire it and write its share again
            // into the next good block.
            if (flash_mark_bad(dev, block_start) != 0) {
                std::perror("ioctl(MEMSETBADBLOCK)");
                break;
            }
            std::printf("set Bad block at %x !\n", static_cast<unsigned>(block_start));
            continue;
        }
        last_page = span - page;
        done += len;
    }
    if (done < plan->size) {
        std::fprintf(stderr, "Data was only partially written due to error\n");
        return -1;
    }
    std::printf("image_length = 0x%08x\n", plan->size);
    std::printf("image_crc = 0x%08x\n", ~crc32(0, data.data() + last_page, page));
    if (update_partition_entry(plan, k_nand_entry) != 0)
        return -1;
    sync_device(dev);
    return 0;
}

int spi_flash_write_file(const char *image, const UpfwPlan *plan)
{
    Fd dev(flash_open(plan->device, spi_open_flags()), true);
    mtd_info_user info{};
    if (dev < 0 || flash_get_info(dev, &info) != 0) {
        std::fprintf(stderr, "This doesn't seem to be a valid MTD flash device! \n");
        return -1;
    }
    Fd img(open(image, O_RDONLY | O_CLOEXEC), false);
    if (img < 0) {
        std::fprintf(stderr, "Open image failed ! \n");
        return -1;
    }
    if (plan->size > info.size || info.erasesize == 0) {
        upfw_print_line("The image length > mtd size ! ", stderr);
        return -1;
    }

    const uint32_t erase_len = (plan->size + info.erasesize - 1) / info.erasesize * info.erasesize;
    if (flash_erase_range(dev, 0, erase_len) != 0) {
        std::fprintf(stderr, "Fail erasing blocks from 0x%.8x-0x%.8x on %s \n", 0u, erase_len,
                     plan->device);
        return -1;
    }

    std::vector<unsigned char> piece(SPI_PIECE), back(SPI_PIECE);
    bool complete = flash_lseek(dev, 0, SEEK_SET) == 0;
    for (uint32_t done = 0; complete && done < plan->size;) {
        const size_t want = std::min<size_t>(SPI_PIECE, plan->size - done);
        const ssize_t got = pread(img, piece.data(), want, static_cast<off_t>(plan->offset + done));
        if (got != ssize_t(want)) {
            std::fprintf(stderr, "Read image count error, result = [0x%x] ! \n", static_cast<unsigned>(got));
            complete = false;
            break;
        }
        const ssize_t put = flash_write(dev, piece.data(), want);
        if (put != ssize_t(want)) {
            std::fprintf(stderr, "Write image count error, reault = [0x%x] ! \n", static_cast<unsigned>(put));
            complete = false;
            break;
        }
        done += static_cast<uint32_t>(want);
    }

    // Read both back from the start and compare piece by piece.
    for (uint32_t done = 0; complete && done < plan->size;) {
        const size_t want = std::min<size_t>(SPI_PIECE, plan->size - done);
        const ssize_t got = pread(img, piece.data(), want, static_cast<off_t>(plan->offset + done));
        if (got != ssize_t(want)) {
            std::fprintf(stderr, " Verify that flash, read image count error, result = [0x%x] ! \n",
                         static_cast<unsigned>(got));
            complete = false;
            break;
        }
        const ssize_t read_back = flash_pread(dev, back.data(), want, static_cast<off_t>(done));
        if (read_back != ssize_t(want)) {
            std::fprintf(stderr, " Verify that flash, write image count error, result = [0x%x] ! \n",
                         static_cast<unsigned>(read_back));
            complete = false;
            break;
        }
        if (std::memcmp(piece.data(), back.data(), want) != 0) {
            upfw_print_line("File does not seem to match flash data. ", stderr);
            complete = false;
            break;
        }
        done += static_cast<uint32_t>(want);
    }
    if (!complete) {
        std::fprintf(stderr, "Data was only partially written due to error\n");
        return -1;
    }
    if (update_partition_entry(plan, k_spi_entry) != 0)
        return -1;
    sync_device(dev);
    return 0;
}
