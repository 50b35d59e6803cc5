// Installation of an upgrade image: the compatibility rules that decide whether an image may be
// installed on this recorder (compat.cpp), the A/B installation that writes the boot loader to
// the SPI flash and the kernel and file system to the inactive NAND slots before pointing the
// boot arguments at them (install.cpp), the page writers for NAND and SPI flash (flash_write.cpp)
// and the 512-byte result log "/mnt/nand/upfw.log".
//
// The command line (main.cpp) calls UPFW_version_check for -u/-a, UPFW_run_update for -u and
// UPFW_log at the end of every run that checked, cut or installed.
#pragma once
#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

// Result codes of an installation run; upfw_result_message gives the logged text of each.
enum : int {
    UPFW_OK = 0,
    UPFW_ERR_FAILED = -1,
    UPFW_ERR_VERIFY = -2,
    UPFW_ERR_ANALYSIS = -3,
    UPFW_ERR_PTB = -4,
    UPFW_ERR_BLD = -5,
    UPFW_ERR_HAL = -6,
    UPFW_ERR_DSP = -7,
    UPFW_ERR_KERNEL = -8,
    UPFW_ERR_FILESYS = -9,
    UPFW_ERR_CMDLINE = -10,
    UPFW_ERR_KER1_VERSION = -11,
    UPFW_ERR_KER2_VERSION = -12,
    UPFW_ERR_MISMATCH = -14,
};

// "update success!", "update faild!", ... ; "unknow error!" for a code not in the table.
const char *upfw_result_message(int code);

// One part of the image to be written to one partition (in memory only, never stored).
struct UpfwPlan {
    char device[128];   // recorder path of the device ("/dev/mtd5"; flash_open sandboxes it)
    char part_name[32]; // partition entry name: "uboot", "logo", "ker1", "fs2", ...
    uint32_t offset;    // of the part's data in the image file
    uint32_t size;      // of the part's data in bytes
    uint32_t flag;
    uint32_t load_addr;
    uint32_t version;
    uint32_t date;
    int pad;            // fill the last page with 0xFF (always set)
};

// Compatibility rules: 0 = may be installed, -1 refused or unreadable, -4 no partition table.
int UPFW_version_check(const char *image);

// Installs the image: 0, -1, -2, -4, -5, -8 or -9.
int UPFW_run_update(const char *image);

// Writes the result log "/mnt/nand/upfw.log" (a 256-byte block with "%d\n" of the code, then a
// 256-byte block with the message and a newline, both NUL-padded) and prints the message and
// newline on standard error (a message ending in its own newline gets a second one); the
// logged text is cut to 255 characters. Returns the number of bytes written (512) or -1.
int UPFW_log(int code, const char *message);

// Prints a message as one line: the texts without their own "\n" end their line too.
void upfw_print_line(const char *text, FILE *stream);

// Writes one planned part to a NAND partition page by page with read-back, skipping bad blocks
// and marking blocks bad whose pages do not read back; then updates the partition entry. 0 / -1.
int nand_flash_write_file(const char *image, const UpfwPlan *plan);

// Writes one planned part to a NOR (SPI) partition: erase, copy, verify, update the entry. 0 / -1.
int spi_flash_write_file(const char *image, const UpfwPlan *plan);

// Drops the page cache (sandboxed drop_caches) and runs "sync". 0 / -1.
int clean_memory_and_sync();

// Starts a platform tool with an argument vector (no shell) and waits for it: argv[0] is an
// absolute path (already through nvr_path), or a name looked up on PATH with "$NVR_ROOT/bin"
// first in a sandbox. Returns the exit status, -1 when it could not be started.
int upfw_run_tool(const std::vector<std::string> &argv, bool search_path);
