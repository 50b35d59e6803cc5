// Interoperation with U-Boot's Debian tools on the same environment: every copy `update` writes
// reads back with libubootenv's fw_printenv configured for that copy alone (same CRC and data
// layout), and an environment made by u-boot-tools' mkenvimage loads in `update`.
#include "update_sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::string find_tool(const char *name)
{
    for (const char *dir : {"/usr/bin", "/usr/sbin", "/bin", "/sbin", "/usr/local/bin"}) {
        std::string path = std::string(dir) + "/" + name;
        if (access(path.c_str(), X_OK) == 0)
            return path;
    }
    return "";
}

std::vector<std::string> sorted_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(BootenvInterop, EachCopyReadsBackWithLibubootenvFwPrintenv)
{
    const std::string tool = find_tool("fw_printenv");
    if (tool.empty())
        GTEST_SKIP() << "libubootenv-tool (fw_printenv) is not installed";
    upd::sandbox box;
    upd::run_result r = box.update({"-N", "SN-INTEROP", "--eth0_ip", "10.1.2.3"});
    ASSERT_EQ(r.status, 0) << r.err;
    // And once more, so that each copy has been written with a grown flag.
    ASSERT_EQ(box.update({"-D", "7"}).status, 0);
    const std::string ours = box.printenv({}).out;
    ASSERT_NE(ours.find("sn=SN-INTEROP\n"), std::string::npos);

    for (const char *offset : {"0x0", "0x10000"}) {
        SCOPED_TRACE(offset);
        const std::string config = box.root + "/fw_env-" + offset + ".config";
        upd::write_file(config, box.env_device() + " " + offset + " 0x10000 0x10000 1\n");
        upd::run_result theirs = upd::run_program(tool, {"fw_printenv", "-c", config}, {},
                                                  box.root + "/tmp");
        ASSERT_EQ(theirs.status, 0) << theirs.err;
        EXPECT_EQ(sorted_lines(theirs.out), sorted_lines(ours));
        upd::run_result one = upd::run_program(tool, {"fw_printenv", "-c", config, "bootdelay"},
                                               {}, box.root + "/tmp");
        EXPECT_EQ(one.out, "bootdelay=7\n");
    }
}

TEST(BootenvInterop, MkenvimageEnvironmentLoads)
{
    const std::string tool = find_tool("mkenvimage");
    if (tool.empty())
        GTEST_SKIP() << "u-boot-tools (mkenvimage) is not installed";
    upd::sandbox box;
    const std::string text = box.root + "/env.txt";
    upd::write_file(text, "bootargs=console=ttyAMA0 ubi.mtd=fs2\nbootcmd=run ker2\n"
                          "ker2=name:ker2\tver:0x0701000e\tsize:4096\tdate:0x07e60712 \n"
                          "bootState=None\n");
    // Zero padding (flag 0) and 0xFF padding (flag 255): the copy is valid either way.
    for (const char *pad : {"0x00", "0xff"}) {
        SCOPED_TRACE(pad);
        const std::string image = box.root + "/env.bin";
        upd::run_result m = upd::run_program(
            tool, {"mkenvimage", "-s", "0x10000", "-p", pad, "-o", image, text}, {},
            box.root + "/tmp");
        ASSERT_EQ(m.status, 0) << m.err;
        const std::string made = upd::read_file(image);
        ASSERT_EQ(made.size(), upd::COPY_SIZE);
        box.write_copies(made, upd::make_copy(upd::env_strings({"old=1"}), 0, false));
        upd::run_result r = box.printenv({});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, upd::read_file(text));
        // The utility works on it: the boot state changes and the other copy becomes valid.
        ASSERT_EQ(box.update({"-B", "1"}).status, 0);
        EXPECT_EQ(box.printenv({"bootState"}).out, "bootState=Done\n");
        EXPECT_TRUE(upd::copy_crc_ok(box.read_copy(1)));
    }
}

} // namespace
