// The upgrade image: a 2048-byte header describing up to seven parts (boot loaders, kernel, root
// file system, the update utility itself, boot logo, tool archive), followed by the parts' data.
// This module reads, lists and verifies that header, cuts parts out into files, and builds
// images. All multi-byte fields are little-endian (the recorder and every build host are).
//
// Reading functions never change the image file. Messages go to standard output, failures to
// standard error; every function returns 0 or -1.
#pragma once
#include <cstddef>
#include <cstdint>

struct env_mtd_table;  // bootenv.h

constexpr int UPFW_SLOT_COUNT = 7;
constexpr uint32_t UPFW_HEADER_SIZE = 2048;

#pragma pack(push, 1)
struct upfw_part_record {
    uint32_t offset;     // of the part's data in the image file (the first part starts at 2048)
    uint32_t size;       // of the part's data in bytes, a multiple of 2048
    uint32_t version;    // a.b.c.d, a in the most significant byte
    uint32_t load_addr;
    uint32_t flag;       // load flag
    uint32_t date;       // year << 16 | month << 8 | day
    char name[52];       // NUL-terminated; "" = unused slot
    uint32_t crc;        // CRC-32 of the part's data
};
struct upfw_image_header {
    upfw_part_record part[UPFW_SLOT_COUNT];
    char build_time[32];  // "%Y-%m-%d %H:%M:%S", NUL-padded
    char release[8];      // "9.0.16", NUL-padded
    uint8_t reserved[1448];
};
#pragma pack(pop)
static_assert(sizeof(upfw_part_record) == 80);
static_assert(offsetof(upfw_part_record, offset) == 0);
static_assert(offsetof(upfw_part_record, size) == 4);
static_assert(offsetof(upfw_part_record, version) == 8);
static_assert(offsetof(upfw_part_record, load_addr) == 12);
static_assert(offsetof(upfw_part_record, flag) == 16);
static_assert(offsetof(upfw_part_record, date) == 20);
static_assert(offsetof(upfw_part_record, name) == 24);
static_assert(offsetof(upfw_part_record, crc) == 76);
static_assert(sizeof(upfw_image_header) == UPFW_HEADER_SIZE);
static_assert(offsetof(upfw_image_header, part) == 0);
static_assert(offsetof(upfw_image_header, build_time) == 560);
static_assert(offsetof(upfw_image_header, release) == 592);
static_assert(offsetof(upfw_image_header, reserved) == 600);

// The fixed use of each slot: its name, where the maker's build tree keeps its source ("" =
// none), the file it is cut to (a recorder path), its load flag and the version the builder
// writes.
struct upfw_slot_info {
    const char *name;
    const char *source;
    const char *output;
    uint32_t flag;
    uint32_t version;
};
extern const upfw_slot_info upfw_slots[UPFW_SLOT_COUNT];

// Where the builder writes the image (a recorder path; through nvr_path when opened).
constexpr const char *UPFW_BUILD_OUTPUT = "/share/vkhn/src/boards/hi3536/firmware/update_IMG";
// Date the builder stamps on every part: 2022-07-18.
constexpr uint32_t UPFW_BUILD_DATE = 0x07E60712;

// A slot is in use when its offset and size are both non-zero.
inline bool upfw_slot_in_use(const upfw_part_record &p) { return p.offset != 0 && p.size != 0; }

// Reads the 2048-byte header of `path` (an ordinary file path, used as given) into `header`.
// Prints "Please input datafile", perror "open output imager" / "read output imager", or the
// "Bad size" message for a file shorter than 2048 bytes. 0 / -1.
int image_get_header_info(const char *path, upfw_image_header *header);

// CRC-32 of `size` bytes at `offset` of the open image, read in 1024-byte pieces
// (perror "lseek output imager" / "read output imager" on failure). 0 / -1.
int image_part_crc(int fd, uint32_t offset, uint32_t size, uint32_t *crc);

// Prints "Image info: " and the header's slots. 0; -1 when the path is missing or the header
// cannot be read.
int UPFW_list_intfo(const char *path);

// Checks every used slot's CRC-32, printing each slot; stops at the first mismatch with
// "check_img_crc NAME failed". The table argument is not used. 0 / -1.
int UPFW_verify(const char *path, const env_mtd_table *table);

// Cuts parts into their output files: mode 0 only the "cmd" slot (to "/dev/shm/update", made
// executable); any other mode slots 0 to 3. 0, or -1 at the first failure.
int UPFW_analysis_img(const char *path, int mode);

// Builds an image from the maker's build tree into UPFW_BUILD_OUTPUT. In a sandbox the part
// files come from the directory named by NVR_IMAGE_PARTS_DIR when it is set (see
// UPFW_creat_img_from).
int UPFW_creat_img();

// Builds an image whose part files are taken from `parts_dir`, each by the last component of its
// source path (uboot_2048M, uImage, ubifs, update, boot.jpg, uboot_4096M); a file absent from the
// directory leaves its slot empty, an empty file gives a named slot of size 0. parts_dir ==
// nullptr takes the maker's build paths (every one must exist). The image is written to
// `output` (used as given), or to UPFW_BUILD_OUTPUT through nvr_path when output is nullptr.
// Part files are padded in place with 0xFF to a multiple of 2048, as the maker's builder does.
int UPFW_creat_img_from(const char *parts_dir, const char *output);
