// The boot loader's environment: two redundant 64 KiB copies on "/dev/mtd1" (offsets 0 and
// 0x10000, one 0x10000 erase sector each). Each copy is a U-Boot environment block: a CRC-32 over
// bytes 4..65535, then name=value strings, each NUL-terminated, ended by an empty string; the
// last byte is the copy's flag, a counter that grows with every write (255 -> 0 wraps). Loading
// takes the valid copy with the newer flag, or the built-in default environment when neither is
// valid; every change writes both copies, first the one that was not loaded.
//
// On top of that sit the recorder's own variables: the boot arguments that choose the kernel and
// file-system slots, the partition entries (one variable per flash partition), the boot state,
// the serial number and the boot loader's network settings.
//
// Messages follow U-Boot's fw_env tools; failures go to standard error. Functions return 0 or -1.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr const char *ENV_DEVICE = "/dev/mtd1";  // recorder path of both copies
constexpr uint32_t ENV_COPY_SIZE = 0x10000;
constexpr uint32_t ENV_COPY_OFFSET[2] = {0x00000, 0x10000};
constexpr uint32_t ENV_SECTOR_SIZE = 0x10000;
constexpr uint32_t ENV_SECTORS = 1;
constexpr uint32_t ENV_DATA_SIZE = ENV_COPY_SIZE - 4;  // 65532, bytes 4..65535 under the CRC
// The strings must end before the flag byte, so they may use the first 65531 data bytes.
constexpr uint32_t ENV_STRINGS_SIZE = ENV_DATA_SIZE - 1;

#pragma pack(push, 1)
struct env_copy {
    uint32_t crc;                    // CRC-32 of bytes 4..65535 (data and flag)
    char data[ENV_STRINGS_SIZE];     // name=value\0 ... \0
    uint8_t flag;                    // write counter
};
#pragma pack(pop)
static_assert(sizeof(env_copy) == ENV_COPY_SIZE);
static_assert(offsetof(env_copy, crc) == 0);
static_assert(offsetof(env_copy, data) == 4);
static_assert(offsetof(env_copy, flag) == 65535);

// ---- Loading, lookup, setting --------------------------------------------------------------

// Loads the environment once per process (later calls return 0 at once). -1 when the device
// cannot be read; a pair of bad copies gives the default environment and 0.
int env_init();
// Releases the loaded environment; the next call loads again from flash. 0.
int env_deinit();
// Value of `name` inside the loaded environment (valid until the next change), nullptr when
// absent or when nothing could be loaded. Loads first if needed.
const char *hs_getenv(const char *name);
// Replaces or adds `name` (a value of nullptr or "" deletes it) and writes both copies at once.
// A value that does not fit prints "Error: environment overflow, "NAME" deleted" and fails; the
// old value is then gone from memory (flash keeps it until the next successful write).
int hs_setenv(const char *name, const char *value);
// Prints every name=value line in storage order to standard output.
int hs_printenv();

// U-Boot's fw_env interface. argv[0] is the program name, as in main().
const char *fw_getenv(const char *name);
// No names: print all. Names: print each as name=value ("## Error: "NAME" not defined" for a
// missing one, -1). "-n NAME": print only the value.
int fw_printenv(int argc, char *argv[]);
// argv[1] = name, argv[2..] = value words joined with single blanks; no words deletes. Refuses
// to overwrite an existing "serial#".
int fw_setenv(int argc, char *argv[]);

int vk_env_init();
int vk_env_deinit();
const char *vk_getenv(const char *name);
int vk_setenv(const char *name, const char *value);

// Sets several variables and writes the environment once (a nullptr or "" value deletes). All
// or nothing: on overflow nothing is written and the message names the variable that did not
// fit. Used where two settings must never be split by a power cut (bootargs with bootcmd).
// The copies' write counters advance as if each variable had been set on its own.
struct env_assignment {
    const char *name;
    const char *value;
};
int env_set_many(const env_assignment *assignments, size_t count);

// ---- Partition entries ---------------------------------------------------------------------

constexpr int ENV_PART_COUNT = 10;
// "uboot", "env", "logo", "ker1", "ker2", "fs1", "fs2", "cfg", "oem", "rsd", then "all"
// (index 10, never an entry).
extern const char *const env_part_names[ENV_PART_COUNT + 1];

// One partition entry, the variable named after the partition whose value is
// "name:%s\tver:0x%08x\tsize:%u\tdate:0x%08x ".
struct env_mtd_entry {
    char name[32];
    uint32_t size;     // bytes written to the partition
    uint32_t version;  // a.b.c.d as in the image header
    uint32_t date;     // year << 16 | month << 8 | day
};
struct env_mtd_table {
    env_mtd_entry part[ENV_PART_COUNT];  // in the order of env_part_names
    char bootargs[512];
    char bootcmd[512];
};

// Fills the table from the environment: every entry carries its partition's name; an absent
// variable leaves its numbers 0. If the "uboot" entry's version has 0 in bits 8-15 and "ver"
// contains "71.", the version is taken from there and the entry written back. -1 when the
// environment cannot be loaded or none of the ten entries is present.
int get_env_mtd_table(env_mtd_table *table);
// Writes one entry's variable (the variable named entry->name). 0 / -1.
int set_env_partition(const env_mtd_entry *entry);
// Writes every entry of the table (one flash write). 0 / -1.
int set_env_mtd_table(const env_mtd_table *table);
// Writes "bootargs" and "bootcmd" together in one flash write; an empty or nullptr text leaves
// that variable alone. 0 / -1.
int set_env_cmdline(const char *bootargs, const char *bootcmd);
// Names used by the boot loader tools of the installer.
int flprog_get_part_table(env_mtd_table *table);        // = get_env_mtd_table
int flprog_set_part_table(const env_mtd_table *table);  // = set_env_mtd_table

// Copies the name of partition `index` (0-9) into `buf`; -1 for any other index.
int get_part_name(int index, char *buf, size_t len);

// ---- Slots, boot state, setters of the command line ----------------------------------------

// Points "bootcmd" (digit after "ker") and "bootargs" (digit after "=fs") at slot 1 or 2, or
// for slot 0 at the other slot; missing "=fs" puts the model's default bootargs in first.
int set_env_boot(int slot);
// set_env_boot, then after 3 seconds runs "reboot". Slot above 2: "Unknown fs index..." and -1.
int set_switch_filesys(int slot);
// Non-zero: a "bootState" containing "None" becomes "Done"; 0: "Done" becomes "None"; anything
// else changes nothing. 0 / -1 (write failure).
int set_boot_state(int state);

int set_ptb_cmdline(const char *text);        // "bootargs"
int set_ptb_sn(const char *text);             // "sn", at most 32 characters
int set_ptb_bootdelay(long delay);            // "bootdelay", the low 8 bits as "%d"
int set_ptb_pri_file(const char *text);       // "bootfile", at most 32 characters
int set_ptb_tftpd_ip(const char *text);       // "serverip"
int set_ptb_eth_mac(const char *text);        // "ethaddr"
int set_ptb_eth_ip(const char *text);         // "ipaddr"
int set_ptb_eth_netmask(const char *text);    // "netmask"
int set_ptb_eth_gateway(const char *text);    // "gateway"
int set_ptb_wifi_mac(const char *text);       // "wifimac"
int set_ptb_wifi_ip(const char *text);        // "wifiip"
int set_ptb_wifi_netmask(const char *text);   // "wifinm"
int set_ptb_wifi_gateway(const char *text);   // "wifigw"
// "%2d.%2d.%2d.%2d" into the "uboot" entry's version, most significant first.
int set_ptb_uboot_version(const char *text);
// Accepted and ignored (the boot loader has no such settings any more). 0.
int set_ptb_autoboot(long value);
int set_ptb_autodownload(long value);
int set_ptb_pri_addr(unsigned long value);

// Listings of the command line's version and show options.
int env_print_version_listing();  // "Varkstone update version: 0.1.0.1" + entries with a version
int env_print_show_listing();     // "Varkstone update version: 1.0.1 " + entries, /proc/mtd, all
