// The command line's boot-loader options, run as build/bin/update in a fresh sandbox: the help
// listing byte for byte, unknown options, every setter, the boot state, the slot switch with
// its reboot, the version and show listings, and the default image.
#include "update_sandbox.h"

#include <gtest/gtest.h>

namespace {

const std::string HELP =
    "Usage:\n  update [OPTION] upfw_file \n  Writes to the specified MTD device.\n\n"
    "   --help\tdisplay this help and exit\n"
    "   --version\toutput version information and exit\n"
    "   --show\tShow Varkstone AMBOOT information \n"
    "-u --upfw\tUpdate Varkstone upgrade images\n"
    "-a --analysis\tAnalysis Varkstone upgrade images\n"
    "-e --oem\tAnalysis Varkstone upgrade OEM images\n"
    "-l --list\tList upgrade image information\n"
    "-B --bootState [state]\tset boot state\n"
    "-S --system [id]\tSwitch Varkstone System\n"
    "-N --sn [sn]\tUpdate Varkstone AMBOOT SN \n"
    "-C --cmdline [str]\tUpdate Varkstone AMBOOT cmdline \n"
    "-D --delay [digit]\tUpdate Varkstone AMBOOT bootdelay \n"
    "   --auto_boot [digit]\tUpdate Varkstone AMBOOT load linux from nandflash or no \n"
    "   --auto_dl [digit]\tUpdate Varkstone AMBOOT load linux from network or no \n"
    "   --pri_addr [hex]\tUpdate Varkstone AMBOOT pri_addr \n"
    "   --pri_file [str]\tUpdate Varkstone updated file name(32bytes) \n"
    "   --serverip [ip]\tUpdate Varkstone AMBOOT tftpd server ip \n"
    "-E --eth0_mac [MAC]\tUpdate Varkstone AMBOOT eth0 MAC \n"
    "   --eth0_ip [ip]\tUpdate Varkstone AMBOOT eth0 lan ip \n"
    "   --eth0_mask [ip]\tUpdate Varkstone AMBOOT eth0 lan mask \n"
    "   --eth0_gw [ip]\tUpdate Varkstone AMBOOT eth0 lan gw \n"
    "   --uboot_ver [ver]\tset uboot version , eg: xx.xx.xx.xx\n"
    "-W --wifi0_mac [MAC]\tUpdate Varkstone AMBOOT wifi0 MAC \n"
    "   --wifi0_ip [ip]\tUpdate Varkstone AMBOOT wifi0 ip \n"
    "   --wifi0_mask [ip]\tUpdate Varkstone AMBOOT wifi0 mask\n"
    "   --wifi0_gw [ip]\tUpdate Varkstone AMBOOT wifi0 gw \n"
    "\n";

class CliEnv : public ::testing::Test {
protected:
    std::string value(const char *name) const
    {
        std::string v = box.printenv({"-n", name}).out;
        if (!v.empty() && v.back() == '\n')
            v.pop_back();
        return v;
    }
    void set(const char *name, const std::string &v) const
    {
        ASSERT_EQ(box.setenv_({name, v}).status, 0);
    }
    std::string flash() const { return upd::read_file(box.env_device()); }
    std::string commands() const { return upd::read_file(box.path("/var/log/commands.log")); }

    upd::sandbox box;
};

TEST_F(CliEnv, HelpListingAndHelpThenImageOptions)
{
    for (const char *opt : {"--help", "-?"}) {
        upd::run_result r = box.update({opt});
        EXPECT_EQ(r.status, 0) << opt;
        EXPECT_EQ(r.out, HELP) << opt;
        EXPECT_EQ(r.err, "") << opt;
    }
    upd::run_result r = box.update({"--help", box.root + "/some-image.bin"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, HELP);
}

TEST_F(CliEnv, UnknownOptionPrintsHelpAndFails)
{
    const std::string before = flash();
    for (std::vector<std::string> args : {std::vector<std::string>{"-x"}, {"--nope"}, {"-B"},
                                          {"-x", "-N", "NOT-SET"}}) {
        upd::run_result r = box.update(args);
        EXPECT_EQ(r.status, 255) << args[0];
        EXPECT_EQ(r.err, "Error: Unknow option\n") << args[0];
        EXPECT_EQ(r.out, HELP) << args[0];
    }
    EXPECT_EQ(flash(), before);  // reading stops at the unknown option
}

TEST_F(CliEnv, NoOptionsWritesNothing)
{
    const std::string before = flash();
    upd::run_result r = box.update({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(flash(), before);
    EXPECT_FALSE(upd::file_exists(box.path("/mnt/nand/upfw.log")));
}

TEST_F(CliEnv, TextSettersStoreTheirVariables)
{
    const std::string long40(40, 'L');
    const std::string cmdline600(600, 'c');
    struct setter {
        std::vector<std::string> args;
        const char *variable;
        std::string expected;
    } cases[] = {
        {{"-N", "SN0001"}, "sn", "SN0001"},
        {{"--sn", long40}, "sn", std::string(32, 'L')},
        {{"-C", "console=ttyAMA0 ubi.mtd=fs2"}, "bootargs", "console=ttyAMA0 ubi.mtd=fs2"},
        {{"--cmdline", cmdline600}, "bootargs", std::string(512, 'c')},
        {{"--pri_file", long40}, "bootfile", std::string(32, 'L')},
        {{"--serverip", "192.168.7.1"}, "serverip", "192.168.7.1"},
        {{"-E", "00:11:22:33:44:55"}, "ethaddr", "00:11:22:33:44:55"},
        {{"--eth0_mac=00:11:22:33:44:66"}, "ethaddr", "00:11:22:33:44:66"},
        {{"--eth0_ip", "10.0.0.2"}, "ipaddr", "10.0.0.2"},
        {{"--eth0_mask", "255.255.0.0"}, "netmask", "255.255.0.0"},
        {{"--eth0_gw", "10.0.0.1"}, "gateway", "10.0.0.1"},
        {{"-W", "66:55:44:33:22:11"}, "wifimac", "66:55:44:33:22:11"},
        {{"--wifi0_ip", "10.9.0.2"}, "wifiip", "10.9.0.2"},
        {{"--wifi0_mask", "255.0.0.0"}, "wifinm", "255.0.0.0"},
        {{"--wifi0_gw", "10.9.0.1"}, "wifigw", "10.9.0.1"},
        {{"-N", "FIRST", "-N", "SECOND"}, "sn", "SECOND"},
    };
    for (const setter &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.variable);
        upd::run_result r = box.update(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(value(c.variable), c.expected);
    }
}

// The setters without a length limit hand the whole text to the environment: one that does not
// fit is refused with the overflow message, and the variable is gone from what the next
// setting of the same run writes.
TEST_F(CliEnv, TextThatDoesNotFitDeletesItsVariable)
{
    set("serverip", "192.168.1.1");
    const std::string huge(70000, '9');
    upd::run_result r = box.update({"--serverip", huge, "-N", "SN9"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Error: environment overflow, \"serverip\" deleted\n"
                     "update tftpd ip address faild.\n");
    EXPECT_EQ(r.out, HELP);
    EXPECT_EQ(value("sn"), "SN9");
    upd::run_result gone = box.printenv({"serverip"});
    EXPECT_NE(gone.status, 0);
    EXPECT_EQ(gone.err, "## Error: \"serverip\" not defined\n");
}

TEST_F(CliEnv, NumbersUseBaseDetection)
{
    struct delay {
        const char *arg, *stored;
    } cases[] = {{"300", "44"}, {"0x10", "16"}, {"010", "8"}, {"-1", "255"}, {"3", "3"}};
    for (const delay &c : cases) {
        ASSERT_EQ(box.update({"-D", c.arg}).status, 0);
        EXPECT_EQ(value("bootdelay"), c.stored) << c.arg;
    }
    // Accepted and ignored: nothing is written.
    const std::string before = flash();
    upd::run_result r = box.update({"--auto_boot", "1", "--auto_dl", "0", "--pri_addr", "0x8000"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(flash(), before);
}

TEST_F(CliEnv, BootStateChangesOnlyTheMatchingState)
{
    struct state {
        const char *stored;
        std::vector<std::string> args;
        const char *expected;
        bool writes;
    } cases[] = {
        {"None", {"--bootState", "1"}, "Done", true},
        {"None", {"--bootState=1"}, "Done", true},
        {"Done", {"-B", "1"}, "Done", false},
        {"Done", {"-B", "0"}, "None", true},
        {"None", {"-B", "0"}, "None", false},
        {"xNone", {"-B", "0x2"}, "Done", true},
        {"Boot", {"-B", "1"}, "Boot", false},
    };
    for (const state &c : cases) {
        SCOPED_TRACE(std::string(c.stored) + " " + c.args.back());
        set("bootState", c.stored);
        const std::string before = flash();
        upd::run_result r = box.update(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(value("bootState"), c.expected);
        EXPECT_EQ(flash() != before, c.writes);
    }
    ASSERT_EQ(box.setenv_({"bootState"}).status, 0);  // absent: nothing to change
    EXPECT_EQ(box.update({"-B", "1"}).status, 0);
    EXPECT_EQ(box.printenv({"bootState"}).status, 1);
}

TEST_F(CliEnv, UbootVersionSetsThePartitionEntry)
{
    upd::run_result r = box.update({"--uboot_ver", "7.1.2.30"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(value("uboot"), "name:uboot\tver:0x0701021e\tsize:262144\tdate:0x07e60712 ");

    r = box.update({"--uboot_ver", "7.1"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "uboot version format invalid, eg: xx.xx.xx.xx\n" + HELP);
    EXPECT_EQ(r.err, "update uboot version faild.\n");
    EXPECT_EQ(value("uboot"), "name:uboot\tver:0x0701021e\tsize:262144\tdate:0x07e60712 ");
}

TEST_F(CliEnv, OldBootLoaderVersionIsTakenFromVer)
{
    set("uboot", "name:uboot\tver:0x07000005\tsize:262144\tdate:0x07e60712 ");
    set("ver", "U-Boot 71.3.4.5 (Jul 18 2022)");
    upd::run_result r = box.update({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("uboot:\n\tversion = 71.3.4.5\n"), std::string::npos) << r.out;
    EXPECT_EQ(value("uboot"), "name:uboot\tver:0x47030405\tsize:262144\tdate:0x07e60712 ");

    set("uboot", "name:uboot\tver:0x07000005\tsize:262144\tdate:0x07e60712 ");
    set("ver", "71.x");
    r = box.update({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("uboot version format invalid, eg: xx.xx.xx.xx\n"), std::string::npos);
    EXPECT_NE(r.out.find("uboot:\n\tversion = 7.0.0.5\n"), std::string::npos) << r.out;
}

TEST_F(CliEnv, SlotSwitchPointsBothSlotsAndReboots)
{
    set("bootargs", "mem=1024M console=ttyAMA0,115200 ubi.mtd=fs2 root=ubi0:rootfs rw rootfstype=ubifs");
    set("bootcmd", "nand read 0x42000000 ker2 0x200000; bootm 0x42000000");
    upd::run_result r = box.update({"-S", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\tFilesys will switch to fs1 after reboot!\n");
    EXPECT_EQ(value("bootargs"),
              "mem=1024M console=ttyAMA0,115200 ubi.mtd=fs1 root=ubi0:rootfs rw rootfstype=ubifs");
    EXPECT_EQ(value("bootcmd"), "nand read 0x42000000 ker1 0x200000; bootm 0x42000000");
    EXPECT_NE(commands().find("reboot \n"), std::string::npos) << commands();

    r = box.update({"--system", "2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(value("bootcmd"), "nand read 0x42000000 ker2 0x200000; bootm 0x42000000");
    EXPECT_NE(value("bootargs").find("ubi.mtd=fs2 "), std::string::npos);

    // A network root has no "=fs": the model's default arguments come in first.
    set("bootargs", "root=/dev/nfs nfsroot=192.168.1.2:/nfs");
    r = box.update({"-S", "2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(value("bootargs"),
              "mem=1024M console=ttyAMA0,115200 ubi.mtd=fs2 root=ubi0:rootfs rw rootfstype=ubifs");
    upd::write_file(box.path("/etc/hw/model"), "QRN5217-8P\n");
    set("bootargs", "root=/dev/nfs");
    ASSERT_EQ(box.update({"-S", "1"}).status, 0);
    EXPECT_EQ(value("bootargs"), "mem=2048M console=ttyAMA0,115200 ubi.mtd=fs1 root=ubi0:rootfs rw "
                                 "rootfstype=ubifs vmalloc=1024M");
}

// The switch writes both boot variables at once, yet leaves both copies exactly as setting the
// two variables one after the other would: same strings, same write counters.
TEST_F(CliEnv, SlotSwitchLeavesTheCopiesOfTwoSingleSettings)
{
    set("bootargs", "mem=1024M console=ttyAMA0,115200 ubi.mtd=fs2 root=ubi0:rootfs rw rootfstype=ubifs");
    set("bootcmd", "nand read 0x42000000 ker2 0x200000; bootm 0x42000000");
    const std::string start = flash();

    ASSERT_EQ(box.update({"-S", "0"}).status, 0);
    const std::string switched = flash();

    upd::write_file(box.env_device(), start);
    set("bootargs", "mem=1024M console=ttyAMA0,115200 ubi.mtd=fs1 root=ubi0:rootfs rw rootfstype=ubifs");
    set("bootcmd", "nand read 0x42000000 ker1 0x200000; bootm 0x42000000");
    const std::string one_by_one = flash();
    ASSERT_EQ(switched.size(), one_by_one.size());
    EXPECT_TRUE(switched == one_by_one) << "flags " << int(uint8_t(switched[upd::COPY_SIZE - 1]))
                                        << "," << int(uint8_t(switched[2 * upd::COPY_SIZE - 1]))
                                        << " against "
                                        << int(uint8_t(one_by_one[upd::COPY_SIZE - 1])) << ","
                                        << int(uint8_t(one_by_one[2 * upd::COPY_SIZE - 1]));
}

TEST_F(CliEnv, SlotSwitchRefusals)
{
    const std::string reboots_before = commands();
    upd::run_result r = box.update({"-S", "3"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Unknown fs index, please choose 1 or 2\nswitch system faild.\n");
    EXPECT_EQ(r.out, HELP);

    set("bootcmd", "bootm 0x42000000");
    r = box.update({"-S", "1"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Can't find kernel partition!\nswitch system faild.\n");
    EXPECT_EQ(commands(), reboots_before);  // never rebooted
}

TEST_F(CliEnv, VersionAndShowListings)
{
    upd::run_result r = box.update({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Varkstone update version: 0.1.0.1\n"
              "uboot:\n\tversion = 7.1.2.26\n\tsize    = 256 K\n\tdate    = 2022/7/18\n"
              "logo:\n\tversion = 7.1.0.1\n\tsize    = 128 K\n\tdate    = 2022/7/18\n"
              "ker1:(current)\n\tversion = 7.1.0.13\n\tsize    = 1024 K\n\tdate    = 2022/7/18\n"
              "ker2:\n\tversion = 7.1.0.12\n\tsize    = 1024 K\n\tdate    = 2022/3/1\n"
              "fs1:(current)\n\tversion = 71.9.0.16\n\tsize    = 3072 K\n\tdate    = 2022/7/18\n"
              "fs2:\n\tversion = 71.9.0.15\n\tsize    = 3072 K\n\tdate    = 2022/3/1\n");

    // Show: entries with a size (env has a size but no version here), /proc/mtd, all variables.
    set("env", "name:env\tver:0x00000000\tsize:131072\tdate:0x00000000 ");
    set("bootargs", "root=/dev/nfs nfsroot=192.168.1.2:/nfs");
    const std::string all = box.printenv({}).out;
    r = box.update({"--show"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Varkstone update version: 1.0.1 \n"
              "uboot:\n\tversion = 7.1.2.26\n\tsize    = 0x00040000 (256 K)\n\tdate    = 2022/7/18\n"
              "env:\n\tversion = 0.0.0.0\n\tsize    = 0x00020000 (128 K)\n\tdate    = 0/0/0\n"
              "logo:\n\tversion = 7.1.0.1\n\tsize    = 0x00020000 (128 K)\n\tdate    = 2022/7/18\n"
              "ker1:(current)\n\tversion = 7.1.0.13\n\tsize    = 0x00100000 (1024 K)\n\tdate    = 2022/7/18\n"
              "ker2:\n\tversion = 7.1.0.12\n\tsize    = 0x00100000 (1024 K)\n\tdate    = 2022/3/1\n"
              "fs1:(nfs)\n\tversion = 71.9.0.16\n\tsize    = 0x00300000 (3072 K)\n\tdate    = 2022/7/18\n"
              "fs2:(nfs)\n\tversion = 71.9.0.15\n\tsize    = 0x00300000 (3072 K)\n\tdate    = 2022/3/1\n"
              "\nMore details:\nMtd information: \n" +
                  upd::read_file(box.path("/proc/mtd")) + all);

    // Without any partition entry the listings fail.
    for (const char *part : {"uboot", "env", "logo", "ker1", "ker2", "fs1", "fs2", "cfg", "oem", "rsd"})
        ASSERT_EQ(box.setenv_({part}).status, 0);
    r = box.update({"--show"});
    EXPECT_EQ(r.out, "Varkstone update version: 1.0.1 \n");
    EXPECT_EQ(r.err, "flprog_get_part_table faild!\n");
}

TEST_F(CliEnv, DefaultImageAndListThenCut)
{
    const std::string default_image = box.path("/dev/shm/updateFM.bin");
    upd::run_result r = box.update({"-l"});
    // An unreadable image lists nothing; the reason is the only complaint.
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "List upfw " + default_image + " infomation.\nImage info: \n");
    EXPECT_EQ(r.err, "open output imager: No such file or directory\n");

    const std::string parts = box.root + "/parts";
    upd::write_parts(parts, {{"update", "utility"}});
    r = box.update({"--build-image", parts, default_image});
    ASSERT_EQ(r.status, 0) << r.err;
    r = box.update({"-e", "-l"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "List upfw " + default_image + " infomation.\n");
    EXPECT_NE(r.out.find("cmd: \n"), std::string::npos);
    EXPECT_NE(r.out.find("Analysis image " + default_image + " \n"), std::string::npos);
    EXPECT_EQ(upd::read_file(box.path("/dev/shm/update")).substr(0, 7), "utility");

    r = box.update({"--build-image", box.root + "/no-such-dir", box.root + "/x.bin"});
    EXPECT_EQ(r.status, 255);
    EXPECT_FALSE(upd::file_exists(box.root + "/x.bin"));
}

} // namespace
