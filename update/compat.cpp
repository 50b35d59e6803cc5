// Compatibility rules of an upgrade image. upfw_compat_decide is the rule table proper: given
// the facts about the image and this recorder, the first rule that matches decides; it does no
// I/O, so every rule and its boundaries can be tested case by case. UPFW_version_check reads the
// facts (image header, boot environment, hardware facts of hw.h, OEM marker files) and acts on
// the decision.
#include "compat.h"

#include "bootenv.h"
#include "hw.h"
#include "image.h"
#include "install.h"
#include "nvr_path.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void upfw_parse_hard_version(const std::string &text, int &first, int &second, int &third)
{
    first = second = third = 0;
    std::string head = text.substr(0, text.find('M'));
    std::sscanf(head.c_str(), "N%d-%d-V%d-", &first, &second, &third);
}

static bool contains(const std::string &text, const char *part)
{
    return text.find(part) != std::string::npos;
}

static UpfwCompatDecision refuse(std::string message)
{
    UpfwCompatDecision d;
    d.result = -1;
    d.message = std::move(message);
    return d;
}

static UpfwCompatDecision accept() { return UpfwCompatDecision{}; }

UpfwCompatDecision upfw_compat_decide(const UpfwCompatFacts &f)
{
    const int N = f.new_major, n = f.new_minor, P = f.new_patch;
    const int C = f.cur_major, Q = f.cur_patch;

    // OEM builds: which release families an OEM recorder may move between.
    if (N <= 7 && C <= 7 && f.oem) {
        if (n == 0 && f.special_oem)
            return refuse("OEM special do not support update 7.0.x ");
        return accept();
    }
    if (N > 7 && C <= 7 && f.oem)
        return f.special_oem ? accept() : refuse("OEM do not support update 7.x to 8.x ");
    if (N <= 7 && C > 7 && f.oem)
        return refuse("OEM do not support update 8.x to 7.x ");
    if (N > 8 && C <= 8 && f.oem)
        return f.special_oem ? accept() : refuse("OEM do not support update 8.x to 9.x ");

    // Old releases do not drive newer boards (PHY and power-controller revisions).
    char text[96];
    if (N <= 7 && P <= 9 && f.phy_id != 0x4D) {
        std::snprintf(text, sizeof text, "do not support update < 8.x.10 data 0x%x\n",
                      static_cast<unsigned>(f.phy_id));
        return refuse(text);
    }
    if (N <= 7 && P <= 9 && (f.i2c_byte == 68 || f.i2c_byte == 227)) {
        std::snprintf(text, sizeof text, "do not support update < 8.x.10 0x%x\n",
                      static_cast<unsigned>(f.i2c_byte));
        return refuse(text);
    }
    if (N <= 8 && C >= 9)
        return refuse("do not support back to < 9.0.x from 9.0.x. ");

    if (contains(f.model, "QRN5217") && N == 7 && C == 7 && P <= 8 && Q > 8)
        return refuse("5217 do not support update 7.x.9+ to 7.x.8- ");

    if (contains(f.model, "QRN52")) {
        int first, second, third;
        upfw_parse_hard_version(f.hard_version, first, second, third);
        if ((second != 0 || third >= 20) && N == 9 && P <= 9)
            return refuse("5217 use USART control power do not support update to 9.x.10- ");
    }

    if ((contains(f.model, "QRN6125") || contains(f.model, "QRN6143") ||
         contains(f.model, "QRN6158")) &&
        f.pse_is_ir808ar && f.pse_is_ir808ar() && N == 9 && P <= 14)
        return refuse("R610_ir808ar do not support update 9+.x.15+ to 9.x.15- ");

    UpfwCompatDecision d;
    d.mark_db_upgrade = N > 7 && C <= 7;
    return d;
}

// ---- Gathering the facts -----------------------------------------------------------------------

namespace {

constexpr const char *OEM_MARKER = "/mnt/nand2/oem.db";
constexpr const char *SPECIAL_OEM_MARKER = "/opt/app/bin/special_oem.cfg";
constexpr const char *DB_UPGRADE_MARKER = "/mnt/nand/updb.cfg";
constexpr int PHY_I2C_DEVICE = 0x42;
constexpr int PHY_I2C_REGISTER = 67;

const upfw_part_record *find_part(const upfw_image_header &header, const char *name)
{
    for (const upfw_part_record &p : header.part)
        if (std::strncmp(p.name, name, sizeof p.name) == 0)
            return &p;
    return nullptr;
}

uint32_t part_version(const upfw_image_header &header, const char *name)
{
    const upfw_part_record *p = find_part(header, name);
    return p ? p->version : 0;
}

const env_mtd_entry *find_entry(const env_mtd_table &table, const char *name)
{
    for (const env_mtd_entry &e : table.part)
        if (std::strncmp(e.name, name, sizeof e.name) == 0)
            return &e;
    return nullptr;
}

int byte_of(uint32_t value, int index) { return static_cast<int>((value >> (8 * index)) & 0xFF); }

bool marker_exists(const char *recorder_path)
{
    return access(nvr_path(recorder_path).c_str(), F_OK) == 0;
}

// "touch": creates the marker or refreshes its time.
void touch_marker(const char *recorder_path)
{
    const std::string path = nvr_path(recorder_path);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        std::perror(path.c_str());
        return;
    }
    futimens(fd, nullptr);
    close(fd);
}

} // namespace

int UPFW_version_check(const char *image)
{
    upfw_image_header header;
    if (image_get_header_info(image, &header) != 0)
        return -1;
    env_mtd_table table;
    if (get_env_mtd_table(&table) != 0) {
        std::fprintf(stderr, "flprog_get_part_table faild!\n");
        return -4;
    }

    UpfwCompatFacts facts;
    const uint32_t new_fs = part_version(header, "fs");
    facts.new_major = byte_of(new_fs, 2);
    facts.new_minor = byte_of(new_fs, 1);
    facts.new_patch = byte_of(new_fs, 0);
    std::printf("version = %d.%d.%d\n", facts.new_major, facts.new_minor, facts.new_patch);

    const bool running_fs2 = std::strstr(table.bootargs, "fs2") != nullptr;
    const env_mtd_entry *running = find_entry(table, running_fs2 ? "fs2" : "fs1");
    const uint32_t cur_fs = running ? running->version : 0;
    facts.cur_major = byte_of(cur_fs, 2);
    facts.cur_patch = byte_of(cur_fs, 0);

    // The boot loader installed names the platform; the image must carry one for it.
    const env_mtd_entry *uboot = find_entry(table, "uboot");
    const int platform = byte_of(uboot ? uboot->version : 0, 3);
    if (platform != byte_of(part_version(header, "bld"), 3) &&
        platform != byte_of(part_version(header, "bld2"), 3)) {
        upfw_print_line("platform dismatch !", stderr);
        return -1;
    }

    facts.phy_id = hw_read_phy_id();
    facts.i2c_byte = hw_read_i2c_byte(PHY_I2C_DEVICE, PHY_I2C_REGISTER);
    facts.oem = marker_exists(OEM_MARKER);
    facts.special_oem = marker_exists(SPECIAL_OEM_MARKER);
    char model[64];
    hw_get_model(model, sizeof model);
    facts.model = model;
    if (const char *hard = hs_getenv("hard_version"))
        facts.hard_version = hard;
    facts.pse_is_ir808ar = hw_pse_is_ir808ar;

    const UpfwCompatDecision decision = upfw_compat_decide(facts);
    if (decision.result != 0) {
        upfw_print_line(decision.message.c_str(), stderr);
        return decision.result;
    }
    if (decision.mark_db_upgrade)
        touch_marker(DB_UPGRADE_MARKER);
    return 0;
}
