// The emulated flash of a sandbox: geometry from the sidecar, erase by block, program semantics
// (bits only clear), whole NAND pages, bad blocks (MEMGETBADBLOCK, MEMSETBADBLOCK adding to
// `bad`), `failwrite` blocks, MEMLOCK/MEMUNLOCK, power cuts counted across operations, the
// flash_erase stand-in, the partitions the sandbox maker lays out, and the hardware facts.
#include "flash.h"
#include "hw.h"
#include "update_sandbox.h"

#include <gtest/gtest.h>

#include <fcntl.h>

namespace {

// A fresh emulated device inside the process sandbox.
class FlashEmulation : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = upd::process_sandbox().root;
        name = std::string("/dev/mtd-test-") +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    void TearDown() override
    {
        if (fd >= 0)
            flash_close(fd);
        unlink((root + name).c_str());
        unlink((root + name + ".geometry").c_str());
    }
    void make(bool nand, uint32_t blocks, const char *extra = "")
    {
        erasesize = nand ? 0x20000 : 0x10000;
        writesize = nand ? 2048 : 256;
        upd::write_file(root + name, std::string(size_t(blocks) * erasesize, '\xff'));
        upd::write_file(root + name + ".geometry",
                        std::string("type ") + (nand ? "nand" : "nor") + "\nerasesize " +
                            std::to_string(erasesize) + "\nwritesize " + std::to_string(writesize) +
                            "\noobsize " + (nand ? "64" : "0") + "\n" + extra);
        fd = flash_open(name.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
    }
    std::string read(uint32_t offset, size_t len) const
    {
        std::string s(len, '\0');
        EXPECT_EQ(flash_pread(fd, s.data(), len, offset), ssize_t(len));
        return s;
    }
    std::string sidecar() const { return upd::read_file(root + name + ".geometry"); }

    std::string root, name;
    uint32_t erasesize = 0, writesize = 0;
    int fd = -1;
};

TEST_F(FlashEmulation, InfoComesFromTheSidecar)
{
    make(true, 4);
    mtd_info_user info{};
    ASSERT_EQ(flash_get_info(fd, &info), 0);
    EXPECT_EQ(info.type, MTD_NANDFLASH);
    EXPECT_EQ(info.size, 4u * 0x20000);
    EXPECT_EQ(info.erasesize, 0x20000u);
    EXPECT_EQ(info.writesize, 2048u);
    EXPECT_EQ(info.oobsize, 64u);
    flash_close(fd);
    fd = -1;

    make(false, 2);
    ASSERT_EQ(flash_ioctl(fd, MEMGETINFO, &info), 0);
    EXPECT_EQ(info.type, MTD_NORFLASH);
    EXPECT_EQ(info.erasesize, 0x10000u);
    // Ioctls that are not MTD requests fail as on a plain file.
    int dummy = 0;
    EXPECT_EQ(flash_ioctl(fd, 0x5401 /* TCGETS */, &dummy), -1);
    EXPECT_EQ(errno, ENOTTY);
}

TEST_F(FlashEmulation, WritesOnlyClearBitsUntilTheBlockIsErased)
{
    make(false, 2);
    const std::string a(256, '\x0f'), b(256, '\xf3');
    ASSERT_EQ(flash_pwrite(fd, a.data(), a.size(), 0x10000), 256);
    ASSERT_EQ(flash_pwrite(fd, b.data(), b.size(), 0x10000), 256);
    EXPECT_EQ(read(0x10000, 256), std::string(256, '\x03'));
    EXPECT_EQ(flash_erase_range(fd, 0x10000, 0x10000), 0);
    EXPECT_EQ(read(0x10000, 256), std::string(256, '\xff'));
    // Erase is by whole blocks inside the device.
    EXPECT_EQ(flash_erase_range(fd, 0x100, 0x10000), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(flash_erase_range(fd, 0x10000, 0x20000), -1);
    // Writing past the end.
    EXPECT_EQ(flash_pwrite(fd, a.data(), a.size(), 0x20000 - 100), -1);
}

TEST_F(FlashEmulation, NandTakesWholePagesAndKnowsItsBadBlocks)
{
    make(true, 4, "bad 2\nfailwrite 3\n");
    const std::string page = upd::pattern(2048, 5);
    EXPECT_EQ(flash_pwrite(fd, page.data(), 1000, 0), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(flash_pwrite(fd, page.data(), 2048, 100), -1);
    ASSERT_EQ(flash_pwrite(fd, page.data(), 2048, 2048), 2048);
    EXPECT_EQ(read(2048, 2048), page);

    EXPECT_EQ(flash_block_is_bad(fd, 0), 0);
    EXPECT_EQ(flash_block_is_bad(fd, 2 * 0x20000 + 4096), 1);
    EXPECT_EQ(flash_block_is_bad(fd, 4 * 0x20000), -1);  // past the end
    erase_info_user e{2 * 0x20000, 0x20000};
    EXPECT_EQ(flash_ioctl(fd, MEMERASE, &e), -1);
    EXPECT_EQ(errno, EIO);

    // A failing block: the page reads back different from what was written.
    ASSERT_EQ(flash_pwrite(fd, page.data(), 2048, 3 * 0x20000), 2048);
    EXPECT_NE(read(3 * 0x20000, 2048), page);

    // Marking bad adds to the sidecar, and a second open sees it.
    ASSERT_EQ(flash_mark_bad(fd, 1 * 0x20000 + 2048), 0);
    EXPECT_NE(sidecar().find("bad 1,2\n"), std::string::npos) << sidecar();
    int other = flash_open(name.c_str(), O_RDONLY);
    ASSERT_GE(other, 0);
    EXPECT_EQ(flash_block_is_bad(other, 0x20000), 1);
    flash_close(other);
}

TEST_F(FlashEmulation, LockedBlocksRefuseEraseAndWrite)
{
    make(false, 2);
    erase_info_user e{0, 0x10000};
    ASSERT_EQ(flash_ioctl(fd, MEMLOCK, &e), 0);
    EXPECT_EQ(flash_ioctl(fd, MEMERASE, &e), -1);
    EXPECT_EQ(errno, EROFS);
    const std::string data(256, '\0');
    EXPECT_EQ(flash_pwrite(fd, data.data(), data.size(), 0), -1);
    ASSERT_EQ(flash_ioctl(fd, MEMUNLOCK, &e), 0);
    EXPECT_EQ(flash_ioctl(fd, MEMERASE, &e), 0);
    EXPECT_EQ(flash_pwrite(fd, data.data(), data.size(), 0), 256);
}

TEST_F(FlashEmulation, PlainFilesAreNotFlash)
{
    upd::write_file(root + name, std::string(4096, '\0'));
    fd = flash_open(name.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    mtd_info_user info{};
    EXPECT_EQ(flash_get_info(fd, &info), -1);
}

// The flash_erase stand-in, run as the installer runs it.
TEST(FlashEraseTool, ErasesEveryGoodBlockAndCountsTowardsThePowerCut)
{
    upd::sandbox box;
    const std::string dev = box.path("/dev/mtd2");  // logo: NAND, 4 blocks of 128 KiB
    upd::write_file(dev, std::string(4 * 0x20000, '\0'));
    std::string geometry = upd::read_file(dev + ".geometry");
    upd::write_file(dev + ".geometry", geometry.replace(geometry.find("bad "), 4, "bad 1"));

    const std::string tool = box.path("/usr/sbin/flash_erase");
    upd::run_result r = upd::run_program(tool, {"flash_erase", "/dev/mtd2", "0", "0"},
                                         {{"NVR_ROOT", box.root}}, box.root + "/tmp");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Skipping bad block at 00020000\n");
    const std::string after = upd::read_file(dev);
    EXPECT_TRUE(upd::all_bytes(after.substr(0, 0x20000), '\xff'));
    EXPECT_TRUE(upd::all_bytes(after.substr(0x20000, 0x20000), '\0'));  // bad: untouched
    EXPECT_TRUE(upd::all_bytes(after.substr(0x40000), '\xff'));
    EXPECT_NE(upd::read_file(box.path("/var/log/commands.log")).find("flash_erase /dev/mtd2 0 0\n"),
              std::string::npos);

    // The sandboxed path works too, and without NVR_ROOT the tool finds its sandbox itself;
    // a cut before the second erase leaves only the first block erased.
    upd::write_file(dev, std::string(4 * 0x20000, '\0'));
    r = upd::run_program(tool, {"flash_erase", dev, "0", "0"},
                         {{"NVR_ROOT", ""}, {"NVR_POWER_CUT_AFTER", "2"}}, box.root + "/tmp");
    EXPECT_EQ(r.status, 137) << r.err;
    const std::string cut = upd::read_file(dev);
    EXPECT_TRUE(upd::all_bytes(cut.substr(0, 0x20000), '\xff'));
    EXPECT_TRUE(upd::all_bytes(cut.substr(0x40000), '\0'));
}

TEST(FlashSandbox, PartitionsProcMtdAndHardwareFacts)
{
    upd::sandbox box;
    EXPECT_EQ(upd::read_file(box.path("/proc/mtd")),
              "dev:    size   erasesize  name\n"
              "mtd0: 00100000 00010000 \"uboot\"\n"
              "mtd1: 00020000 00010000 \"env\"\n"
              "mtd2: 00080000 00020000 \"logo\"\n"
              "mtd3: 00200000 00020000 \"ker1\"\n"
              "mtd4: 00200000 00020000 \"ker2\"\n"
              "mtd5: 00400000 00020000 \"fs1\"\n"
              "mtd6: 00400000 00020000 \"fs2\"\n"
              "mtd7: 00080000 00020000 \"cfg\"\n"
              "mtd8: 00080000 00020000 \"oem\"\n"
              "mtd9: 00080000 00020000 \"rsd\"\n");
    for (int i = 0; i < 10; i++) {
        const std::string dev = box.path("/dev/mtd" + std::to_string(i));
        const std::string geometry = upd::read_file(dev + ".geometry");
        const bool nor = i < 2;
        EXPECT_EQ(geometry.substr(0, 9), nor ? "type nor\n" : "type nand") << i;
        if (!nor) {
            EXPECT_NE(geometry.find("writesize 2048\noobsize 64\n"), std::string::npos) << i;
        }
    }
    EXPECT_TRUE(upd::copy_crc_ok(box.read_copy(0)));
    EXPECT_TRUE(upd::copy_crc_ok(box.read_copy(1)));
    upd::run_result r = box.printenv({"-n", "bootargs"});
    EXPECT_EQ(r.out, "mem=1024M console=ttyAMA0,115200 ubi.mtd=fs1 root=ubi0:rootfs rw "
                     "rootfstype=ubifs\n");
    EXPECT_EQ(box.printenv({"-n", "bootState"}).out, "Done\n");
    EXPECT_EQ(upd::read_file(box.path("/etc/hw/model")), "QRN3216\n");
    EXPECT_TRUE(upd::file_exists(box.path("/etc/hw/phy_id")));
    EXPECT_FALSE(upd::file_exists(box.path("/etc/hw/ir808ar")));
}

} // namespace

namespace {

// The hardware facts of a sandbox, and the failure path of each when its file is missing.
TEST(HardwareFacts, ReadFromEtcHwWithTheDeviceFailurePaths)
{
    const std::string hw = upd::process_sandbox().root + "/etc/hw/";
    upd::write_file(hw + "model", "QRN6143-16P " + std::string(80, 'x') + "\nsecond line\n");
    upd::write_file(hw + "phy_id", "0x004d\n");
    upd::write_file(hw + "i2c_42_67", "e3\n");
    unlink((hw + "ir808ar").c_str());

    char model[128];
    ASSERT_EQ(hw_get_model(model, sizeof model), 0);
    EXPECT_EQ(std::string(model), ("QRN6143-16P " + std::string(80, 'x')).substr(0, 63));
    EXPECT_EQ(hw_read_phy_id(), 0x4D);
    EXPECT_EQ(hw_read_i2c_byte(0x42, 67), 227);
    upd::captured c = upd::capture([] { return int(hw_pse_is_ir808ar()); });
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out, "pse is not ir808ar!!!\n");
    upd::write_file(hw + "ir808ar", "");
    c = upd::capture([] { return int(hw_pse_is_ir808ar()); });
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.out, "pse is ir808ar!!!\n");

    for (const char *f : {"model", "phy_id", "i2c_42_67", "ir808ar"})
        unlink((hw + f).c_str());
    EXPECT_EQ(hw_get_model(model, sizeof model), -1);
    EXPECT_STREQ(model, "");
    c = upd::capture([] { return hw_read_phy_id(); });
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "Fail to open /dev/mem fd=ffffffff\n");
    c = upd::capture([] { return hw_read_i2c_byte(0x42, 67); });
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "Unable to open i2c bus 2!!!\n");
    upd::write_file(hw + "i2c_42_67", "junk\n");
    c = upd::capture([] { return hw_read_i2c_byte(0x42, 67); });
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "read addr 0x43 error. \n");
}

} // namespace
