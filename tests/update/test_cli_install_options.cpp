// The command line of build/bin/update, option by option: the help listing byte for byte, every
// boot-loader setting reaching its variable, numbers read with base detection, failures that
// print their text and the help listing and end with status 255, and the run without options.
#include "test_install_fixture.h"

#include <gtest/gtest.h>

using namespace u2test;

namespace {

RunResult update(const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {bin("update")};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, {"NVR_TIME_SCALE=1000"});
}

std::string expected_help()
{
    struct Line {
        char letter;
        const char *name, *argument, *help;
    };
    const Line lines[] = {
        {0, "help", nullptr, "display this help and exit"},
        {0, "version", nullptr, "output version information and exit"},
        {0, "show", nullptr, "Show Varkstone AMBOOT information "},
        {'u', "upfw", nullptr, "Update Varkstone upgrade images"},
        {'a', "analysis", nullptr, "Analysis Varkstone upgrade images"},
        {'e', "oem", nullptr, "Analysis Varkstone upgrade OEM images"},
        {'l', "list", nullptr, "List upgrade image information"},
        {'B', "bootState", "state", "set boot state"},
        {'S', "system", "id", "Switch Varkstone System"},
        {'N', "sn", "sn", "Update Varkstone AMBOOT SN "},
        {'C', "cmdline", "str", "Update Varkstone AMBOOT cmdline "},
        {'D', "delay", "digit", "Update Varkstone AMBOOT bootdelay "},
        {0, "auto_boot", "digit", "Update Varkstone AMBOOT load linux from nandflash or no "},
        {0, "auto_dl", "digit", "Update Varkstone AMBOOT load linux from network or no "},
        {0, "pri_addr", "hex", "Update Varkstone AMBOOT pri_addr "},
        {0, "pri_file", "str", "Update Varkstone updated file name(32bytes) "},
        {0, "serverip", "ip", "Update Varkstone AMBOOT tftpd server ip "},
        {'E', "eth0_mac", "MAC", "Update Varkstone AMBOOT eth0 MAC "},
        {0, "eth0_ip", "ip", "Update Varkstone AMBOOT eth0 lan ip "},
        {0, "eth0_mask", "ip", "Update Varkstone AMBOOT eth0 lan mask "},
        {0, "eth0_gw", "ip", "Update Varkstone AMBOOT eth0 lan gw "},
        {0, "uboot_ver", "ver", "set uboot version , eg: xx.xx.xx.xx"},
        {'W', "wifi0_mac", "MAC", "Update Varkstone AMBOOT wifi0 MAC "},
        {0, "wifi0_ip", "ip", "Update Varkstone AMBOOT wifi0 ip "},
        {0, "wifi0_mask", "ip", "Update Varkstone AMBOOT wifi0 mask"},
        {0, "wifi0_gw", "ip", "Update Varkstone AMBOOT wifi0 gw "},
    };
    std::string text = "Usage:\n  update [OPTION] upfw_file \n  Writes to the specified MTD device.\n\n";
    for (const Line &l : lines) {
        text += l.letter ? std::string("-") + l.letter + " " : std::string("   ");
        text += std::string("--") + l.name;
        if (l.argument)
            text += std::string(" [") + l.argument + "]";
        text += std::string("\t") + l.help + "\n";
    }
    return text + "\n";
}

class CliOptions : public ::testing::Test {
protected:
    void SetUp() override { fresh_sandbox(); }
};

} // namespace

TEST_F(CliOptions, NothingToDo)
{
    const Bytes env = device_bytes("env");
    RunResult r = update({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(device_bytes("env"), env);
    EXPECT_NE(access(host("/mnt/nand/upfw.log").c_str(), F_OK), 0);
}

TEST_F(CliOptions, HelpListingByteForByte)
{
    RunResult r = update({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected_help());

    // Help followed by an image: the listing, then the image options given (none).
    r = update({"--help", image_path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected_help());
    EXPECT_NE(access(host("/mnt/nand/upfw.log").c_str(), F_OK), 0);
}

TEST_F(CliOptions, AnUnknownOptionEndsWith255)
{
    for (const char *bad : {"-x", "--nonsense", "-D"}) {
        SCOPED_TRACE(bad);
        RunResult r = update({bad});
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "Error: Unknow option\n");
        EXPECT_EQ(r.out, expected_help());
    }
    // Reading ends at the unknown option: what follows is not done.
    RunResult r = update({"-N", "first", "-x", "-N", "second"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(env_value("sn"), "first");
}

TEST_F(CliOptions, TextSettingsReachTheirVariables)
{
    struct {
        std::vector<std::string> args;
        const char *variable, *value;
    } cases[] = {
        {{"-N", "NVR-0042"}, "sn", "NVR-0042"},
        {{"--sn", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"}, "sn", "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
        {{"-C", "mem=1024M ubi.mtd=fs2"}, "bootargs", "mem=1024M ubi.mtd=fs2"},
        {{"--cmdline=console=ttyAMA0 ubi.mtd=fs1"}, "bootargs", "console=ttyAMA0 ubi.mtd=fs1"},
        {{"--pri_file", "0123456789012345678901234567890123456789"}, "bootfile", "01234567890123456789012345678901"},
        {{"--serverip", "10.0.0.9"}, "serverip", "10.0.0.9"},
        {{"-E", "00:11:22:33:44:55"}, "ethaddr", "00:11:22:33:44:55"},
        {{"--eth0_mac", "00:11:22:33:44:66"}, "ethaddr", "00:11:22:33:44:66"},
        {{"--eth0_ip", "10.0.0.5"}, "ipaddr", "10.0.0.5"},
        {{"--eth0_mask", "255.255.0.0"}, "netmask", "255.255.0.0"},
        {{"--eth0_gw", "10.0.0.1"}, "gateway", "10.0.0.1"},
        {{"-W", "00:aa:bb:cc:dd:ee"}, "wifimac", "00:aa:bb:cc:dd:ee"},
        {{"--wifi0_ip", "10.1.0.5"}, "wifiip", "10.1.0.5"},
        {{"--wifi0_mask", "255.0.0.0"}, "wifinm", "255.0.0.0"},
        {{"--wifi0_gw", "10.1.0.1"}, "wifigw", "10.1.0.1"},
        {{"-D", "300"}, "bootdelay", "44"},
        {{"--delay", "0x10"}, "bootdelay", "16"},
        {{"--delay=010"}, "bootdelay", "8"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0]);
        RunResult r = update(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(env_value(c.variable), c.value);
    }
}

TEST_F(CliOptions, BootStateAndUbootVersion)
{
    set_env("bootState", "None");
    EXPECT_EQ(update({"--bootState", "1"}).status, 0);
    EXPECT_EQ(env_value("bootState"), "Done");
    EXPECT_EQ(update({"--bootState=1"}).status, 0);
    EXPECT_EQ(env_value("bootState"), "Done");
    EXPECT_EQ(update({"-B", "0"}).status, 0);
    EXPECT_EQ(env_value("bootState"), "None");

    EXPECT_EQ(update({"--uboot_ver", "71.2.3.4"}).status, 0);
    EXPECT_EQ(env_entry("uboot").version, 0x47020304u);
}

TEST_F(CliOptions, AcceptedOptionsThatChangeNothing)
{
    const Bytes env = device_bytes("env");
    RunResult r = update({"--auto_boot", "1", "--auto_dl", "0", "--pri_addr", "0x42000000"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(device_bytes("env"), env);
}

TEST_F(CliOptions, SwitchingTheSystem)
{
    RunResult r = update({"-S", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(env_value("bootargs").find("ubi.mtd=fs2"), std::string::npos);
    EXPECT_NE(env_value("bootcmd").find("ker2"), std::string::npos);
    EXPECT_NE(slurp(host("/var/log/commands.log")).find("reboot"), std::string::npos);

    // A failing setting prints its text, the others still act, and the run ends with 255.
    r = update({"--system", "7", "-D", "3"});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("switch system faild.\n"), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - expected_help().size()), expected_help());
    EXPECT_EQ(env_value("bootdelay"), "3");
}

TEST_F(CliOptions, VersionAndShowListings)
{
    RunResult r = update({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Varkstone update version: 0.1.0.1\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("fs1:(current)\n"), std::string::npos);
    r = update({"--show"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Varkstone update version: 1.0.1 \n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\nMore details:\n"), std::string::npos);
}
