// The flash layer: every access of `update` to an MTD device goes through here. On the recorder
// these are the plain system calls and MTD ioctls. In a sandbox (NVR_ROOT set) "/dev/mtdN" is a
// regular file of the device's size with its geometry beside it in "/dev/mtdN.geometry":
//
//   type nand|nor        erasesize N        writesize N        oobsize N
//   bad B,B,...          (bad erase blocks, by block number)
//   failwrite B,...      (blocks whose writes read back corrupted)
//   locked B,...         (blocks locked with MEMLOCK; kept by the layer itself)
//
// and the layer answers the ioctls from it the way the kernel would: MEMGETINFO, MEMGETBADBLOCK,
// MEMSETBADBLOCK (adds to `bad`), MEMERASE (block aligned, sets 0xFF, refuses bad or locked
// blocks with EIO/EROFS), MEMLOCK and MEMUNLOCK. Writes program like flash does: a written byte
// becomes old & new, so a page must be erased first; NAND writes must be whole pages; a write into
// a `failwrite` block reads back with its first byte of each page inverted.
//
// Power cuts (sandbox only): with NVR_POWER_CUT_AFTER=N the process ends at once with status 137
// just before its N-th flash operation, counting every erased block and every written page (the
// device's writesize; whole pages of one write before the cut are on the device) across all
// devices of the process. A tool the process starts (flash_erase) shares the count: its
// environment carries the operations left before the cut and a file in which it reports how
// many it did (flash_child_environment, flash_child_finished), so a cut can fall inside it too.
//
// Paths given to flash_open are recorder paths ("/dev/mtd5"); the layer puts them through
// nvr_path. Messages that name a device should use the recorder path.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <mtd/mtd-user.h>  // MEMGETINFO, mtd_info_user, erase_info_user, MTD_NORFLASH ...

// open(2) of a device; -1 with errno on failure. A descriptor from flash_open must be closed
// with flash_close, which also forgets its emulation state.
int flash_open(const char *recorder_path, int flags);
int flash_close(int fd);

// ioctl(2) for the MTD requests above; other requests go to the real ioctl (on an emulated
// device they fail with ENOTTY). -1 with errno on failure; MEMGETBADBLOCK returns 1 for a bad
// block, 0 for a good one.
int flash_ioctl(int fd, unsigned long request, void *arg);

// Reads and writes at a position or at the file offset (flash_read/flash_write advance it).
ssize_t flash_pread(int fd, void *buf, size_t len, off_t offset);
ssize_t flash_pwrite(int fd, const void *buf, size_t len, off_t offset);
ssize_t flash_read(int fd, void *buf, size_t len);
ssize_t flash_write(int fd, const void *buf, size_t len);
off_t flash_lseek(int fd, off_t offset, int whence);

// Typed shorthands for the common requests.
int flash_get_info(int fd, mtd_info_user *info);                  // MEMGETINFO
int flash_block_is_bad(int fd, uint64_t offset);                  // MEMGETBADBLOCK: 1, 0, -1
int flash_mark_bad(int fd, uint64_t offset);                      // MEMSETBADBLOCK
int flash_erase_range(int fd, uint32_t start, uint32_t length);  // MEMERASE

// The environment ("NAME=value" entries) for a program this process starts: `parent`'s own with
// the power-cut entries made for the child (none without a cut pending); and the child's end: its
// operations are added to this process's count, and a child that the cut ended (status 137) ends
// this process the same way, as the power is gone for both.
std::vector<std::string> flash_child_environment(char **parent);
void flash_child_finished(int exit_status);

// The geometry of an emulated device, for the sandbox tools (flash_erase, the sandbox maker).
// Block lists are "B,B,..." of erase block numbers, as stored in the sidecar.
struct flash_geometry {
    bool nand = false;
    uint32_t erasesize = 0x10000;
    uint32_t writesize = 1;
    uint32_t oobsize = 0;
    std::string bad;
    std::string failwrite;
    std::string locked;
};
// Reads / writes "<device_file>.geometry" for the emulated device file `device_file` (a host
// path, not put through nvr_path). 0 / -1.
int flash_read_geometry(const char *device_file, flash_geometry *geometry);
int flash_write_geometry(const char *device_file, const flash_geometry &geometry);
