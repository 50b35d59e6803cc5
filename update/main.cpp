// `update`, the recorder's firmware installer: "update [OPTION] upfw_file".
//
// Options that change boot-loader settings act at once, in the order given; -u, -a, -e and -l
// choose what is done with the upgrade image once all options are read: check it against the
// compatibility rules (-u, -a without -e), list its header (-l), cut the update utility out of
// it (-a, -e), install it (-u). Every run that checked, cut or installed ends with the result
// log "/mnt/nand/upfw.log". The option table below drives getopt_long, the help listing and the
// action of each option.
//
// Started under the name fw_printenv or fw_setenv (a link to this program), it behaves as
// U-Boot's tools of those names on the recorder's environment.
//
// Not in the help listing: --build-image DIR builds an upgrade image from the part files in DIR
// (written to the image path when one is given, else to the builder's usual place).
#include "bootenv.h"
#include "image.h"
#include "install.h"
#include "nvr_path.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string>

namespace {

constexpr const char *DEFAULT_IMAGE = "/dev/shm/updateFM.bin";
constexpr const char *SHORT_OPTIONS = "?uaelB:S:N:C:D:E:W:";
constexpr int OPT_BUILD_IMAGE = 1000;

enum class action {
    help, version, show, mode, text, number,
};

// Values of the options without a short letter.
enum : int {
    OPT_HELP = 256, OPT_VERSION, OPT_SHOW, OPT_AUTO_BOOT, OPT_AUTO_DL, OPT_PRI_ADDR,
    OPT_PRI_FILE, OPT_SERVERIP, OPT_ETH0_IP, OPT_ETH0_MASK, OPT_ETH0_GW, OPT_UBOOT_VER,
    OPT_WIFI0_IP, OPT_WIFI0_MASK, OPT_WIFI0_GW,
};

struct cli_option {
    const char *name;
    int value;             // short letter or OPT_*
    const char *argument;  // shown in the help listing; nullptr = takes none
    const char *help;
    action act;
    int (*set_text)(const char *);
    int (*set_number)(long);
    const char *failure;
};

int boot_state(long v) { return set_boot_state(static_cast<int>(v)); }
int switch_system(long v) { return set_switch_filesys(static_cast<int>(v)); }
int pri_addr(long v) { return set_ptb_pri_addr(static_cast<unsigned long>(v)); }

// In the order of the help listing.
const cli_option OPTIONS[] = {
    {"help", OPT_HELP, nullptr, "display this help and exit", action::help, nullptr, nullptr, nullptr},
    {"version", OPT_VERSION, nullptr, "output version information and exit", action::version, nullptr, nullptr, nullptr},
    {"show", OPT_SHOW, nullptr, "Show Varkstone AMBOOT information ", action::show, nullptr, nullptr, nullptr},
    {"upfw", 'u', nullptr, "Update Varkstone upgrade images", action::mode, nullptr, nullptr, nullptr},
    {"analysis", 'a', nullptr, "Analysis Varkstone upgrade images", action::mode, nullptr, nullptr, nullptr},
    {"oem", 'e', nullptr, "Analysis Varkstone upgrade OEM images", action::mode, nullptr, nullptr, nullptr},
    {"list", 'l', nullptr, "List upgrade image information", action::mode, nullptr, nullptr, nullptr},
    {"bootState", 'B', "state", "set boot state", action::number, nullptr, boot_state,
     "set boot state faild.\n"},
    {"system", 'S', "id", "Switch Varkstone System", action::number, nullptr, switch_system,
     "switch system faild.\n"},
    {"sn", 'N', "sn", "Update Varkstone AMBOOT SN ", action::text, set_ptb_sn, nullptr,
     "update sn faild.\n"},
    {"cmdline", 'C', "str", "Update Varkstone AMBOOT cmdline ", action::text, set_ptb_cmdline,
     nullptr, "update cmdline faild.\n"},
    {"delay", 'D', "digit", "Update Varkstone AMBOOT bootdelay ", action::number, nullptr,
     set_ptb_bootdelay, "update bootdelay faild.\n"},
    {"auto_boot", OPT_AUTO_BOOT, "digit", "Update Varkstone AMBOOT load linux from nandflash or no ",
     action::number, nullptr, set_ptb_autoboot, "update auto_boot faild.\n"},
    {"auto_dl", OPT_AUTO_DL, "digit", "Update Varkstone AMBOOT load linux from network or no ",
     action::number, nullptr, set_ptb_autodownload, "update auto_dl faild.\n"},
    {"pri_addr", OPT_PRI_ADDR, "hex", "Update Varkstone AMBOOT pri_addr ", action::number, nullptr,
     pri_addr, "update pri_addr faild.\n"},
    {"pri_file", OPT_PRI_FILE, "str", "Update Varkstone updated file name(32bytes) ", action::text,
     set_ptb_pri_file, nullptr, "update pri_file faild.\n"},
    {"serverip", OPT_SERVERIP, "ip", "Update Varkstone AMBOOT tftpd server ip ", action::text,
     set_ptb_tftpd_ip, nullptr, "update tftpd ip address faild.\n"},
    {"eth0_mac", 'E', "MAC", "Update Varkstone AMBOOT eth0 MAC ", action::text, set_ptb_eth_mac,
     nullptr, "update eth0 mac faild.\n"},
    {"eth0_ip", OPT_ETH0_IP, "ip", "Update Varkstone AMBOOT eth0 lan ip ", action::text,
     set_ptb_eth_ip, nullptr, "update eth0 ip address faild.\n"},
    {"eth0_mask", OPT_ETH0_MASK, "ip", "Update Varkstone AMBOOT eth0 lan mask ", action::text,
     set_ptb_eth_netmask, nullptr, "update eth0 netmask faild.\n"},
    {"eth0_gw", OPT_ETH0_GW, "ip", "Update Varkstone AMBOOT eth0 lan gw ", action::text,
     set_ptb_eth_gateway, nullptr, "update eth0 gateway faild.\n"},
    {"uboot_ver", OPT_UBOOT_VER, "ver", "set uboot version , eg: xx.xx.xx.xx", action::text,
     set_ptb_uboot_version, nullptr, "update uboot version faild.\n"},
    {"wifi0_mac", 'W', "MAC", "Update Varkstone AMBOOT wifi0 MAC ", action::text, set_ptb_wifi_mac,
     nullptr, "update wifi0 mac faild.\n"},
    {"wifi0_ip", OPT_WIFI0_IP, "ip", "Update Varkstone AMBOOT wifi0 ip ", action::text,
     set_ptb_wifi_ip, nullptr, "update wifi0 ip address faild.\n"},
    {"wifi0_mask", OPT_WIFI0_MASK, "ip", "Update Varkstone AMBOOT wifi0 mask", action::text,
     set_ptb_wifi_netmask, nullptr, "update wifi0 netmask faild.\n"},
    {"wifi0_gw", OPT_WIFI0_GW, "ip", "Update Varkstone AMBOOT wifi0 gw ", action::text,
     set_ptb_wifi_gateway, nullptr, "update wifi0 gateway faild.\n"},
};
constexpr size_t OPTION_COUNT = std::size(OPTIONS);

void print_help()
{
    std::printf("Usage:\n  update [OPTION] upfw_file \n  Writes to the specified MTD device.\n\n");
    for (const cli_option &o : OPTIONS) {
        if (o.value < 256)
            std::printf("-%c ", o.value);
        else
            std::printf("   ");
        std::printf("--%s", o.name);
        if (o.argument)
            std::printf(" [%s]", o.argument);
        std::printf("\t%s\n", o.help);
    }
    std::printf("\n");
}

const cli_option *find_option(int value)
{
    for (const cli_option &o : OPTIONS)
        if (o.value == value)
            return &o;
    return nullptr;
}

// What the image options asked for.
struct image_modes {
    bool update = false, analysis = false, oem = false, list = false;
    const char *build_parts = nullptr;
};

// Runs one option; false when it failed.
bool run_option(const cli_option &o, const char *arg, image_modes &modes)
{
    switch (o.act) {
    case action::help:
        print_help();
        return true;
    case action::version:
        env_print_version_listing();
        return true;
    case action::show:
        env_print_show_listing();
        return true;
    case action::mode:
        (o.value == 'u' ? modes.update : o.value == 'a' ? modes.analysis
                          : o.value == 'e' ? modes.oem : modes.list) = true;
        return true;
    case action::text:
        if (o.set_text(arg) == 0)
            return true;
        break;
    case action::number:
        if (o.set_number(std::strtol(arg, nullptr, 0)) == 0)
            return true;
        break;
    }
    std::fputs(o.failure, stderr);
    return false;
}

// Ends a run that checked, cut or installed: the result log (which also prints the message on
// standard error); the code is the exit status.
int finish(int code, const std::string &message)
{
    UPFW_log(code, message.c_str());
    env_deinit();
    return code;
}

int run_env_tool(const char *tool, int argc, char *argv[])
{
    int rc = std::strcmp(tool, "fw_setenv") == 0 ? fw_setenv(argc, argv) : fw_printenv(argc, argv);
    return rc == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    const char *base = std::strrchr(argv[0], '/');
    base = base ? base + 1 : argv[0];
    if (std::strcmp(base, "fw_printenv") == 0 || std::strcmp(base, "fw_setenv") == 0)
        return run_env_tool(base, argc, argv);

    env_init();

    option long_options[OPTION_COUNT + 2] = {};
    for (size_t i = 0; i < OPTION_COUNT; i++)
        long_options[i] = {OPTIONS[i].name, OPTIONS[i].argument ? required_argument : no_argument,
                           nullptr, OPTIONS[i].value};
    long_options[OPTION_COUNT] = {"build-image", required_argument, nullptr, OPT_BUILD_IMAGE};

    image_modes modes;
    bool failed = false;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, SHORT_OPTIONS, long_options, nullptr)) != -1) {
        if (c == OPT_BUILD_IMAGE) {
            modes.build_parts = optarg;
            continue;
        }
        // getopt_long answers '?' both for "-?" and for an unknown option; an unknown or
        // incomplete option leaves optopt set, except an unknown long one ("--...").
        if (c == '?' && optopt == 0 && std::strncmp(argv[optind - 1], "--", 2) != 0) {
            print_help();
            continue;
        }
        const cli_option *o = c == '?' ? nullptr : find_option(c);
        if (!o) {
            std::fputs("Error: Unknow option\n", stderr);
            failed = true;
            break;
        }
        if (!run_option(*o, optarg, modes))
            failed = true;
    }
    if (failed) {
        print_help();
        env_deinit();
        return -1 & 0xFF;
    }

    std::string image = nvr_path(DEFAULT_IMAGE);
    const bool image_named = argc - optind == 1;
    if (image_named)
        image.assign(argv[optind], strnlen(argv[optind], 127));
    const char *path = image.c_str();

    if (modes.build_parts &&
        UPFW_creat_img_from(modes.build_parts, image_named ? path : nullptr) != 0) {
        env_deinit();
        return -1 & 0xFF;
    }

    if ((modes.update || modes.analysis) && !modes.oem && UPFW_version_check(path) != 0)
        return finish(UPFW_ERR_MISMATCH, "firmware mismatch!");

    if (modes.list) {
        std::printf("List upfw %s infomation.\n", path);
        int r = UPFW_list_intfo(path);
        if (r != 0) {
            std::fflush(stdout);
            std::fprintf(stderr, "List upfw %s infomation failed!\n", path);
            env_deinit();
            return r;
        }
    }

    if (modes.oem || modes.analysis) {
        std::printf("Analysis image %s \n", path);
        int r = UPFW_analysis_img(path, 0);
        if (r != 0) {
            return finish(r, "Analysis " + image + " faild!\n");
        }
    }

    if (!modes.update) {
        env_deinit();
        return 0;
    }
    std::printf("Begin update %s \n", path);
    std::fflush(stdout);
    const int code = UPFW_run_update(path);
    return finish(code, upfw_result_message(code));
}
