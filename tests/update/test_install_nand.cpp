// The NAND and SPI writers under trouble: bad blocks are skipped, a block whose pages read back
// wrong is marked bad and its share written again into the next good block, bad blocks that eat
// the room a part needs fail the part, and a NOR part that does not verify fails the boot loader.
// In every failure the boot variables keep naming the running slots.
#include "install.h"
#include "test_install_fixture.h"

#include <gtest/gtest.h>

using namespace u2test;

namespace {

constexpr size_t BLOCK = 0x20000;  // NAND erase block of the sandbox

class InstallNand : public ::testing::Test {
protected:
    void SetUp() override
    {
        fresh_sandbox();
        fill_slot("fs2", 104);
        fs = pattern(5 * BLOCK + 3000, 77);  // six blocks, the last one partly
        parts = {{"ker", KER_NEW, pattern(3000, 2)}, {"fs", FS_NEW, fs}};
        bootargs = env_value("bootargs");
    }

    int install()
    {
        write_image(image_path(), parts);
        before = device_bytes("fs2");
        env_deinit();
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int rc = UPFW_run_update(image_path().c_str());
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        env_deinit();
        return rc;
    }

    // The file system's data, block by block, laid into the given device blocks.
    void expect_fs_in_blocks(const std::vector<size_t> &blocks)
    {
        const Bytes flash = device_bytes("fs2");
        const Bytes data = padded(fs);
        for (size_t i = 0; i < blocks.size(); i++) {
            const size_t from = i * BLOCK;
            const size_t len = std::min(BLOCK, data.size() - from);
            Bytes piece(data.begin() + static_cast<long>(from), data.begin() + static_cast<long>(from + len));
            EXPECT_TRUE(holds(flash, piece, blocks[i] * BLOCK)) << "part block " << i << " in device block " << blocks[i];
        }
    }

    bool block_unchanged(size_t block)
    {
        const Bytes flash = device_bytes("fs2");
        return std::equal(flash.begin() + static_cast<long>(block * BLOCK),
                          flash.begin() + static_cast<long>((block + 1) * BLOCK),
                          before.begin() + static_cast<long>(block * BLOCK));
    }

    Bytes fs;
    std::vector<ImagePart> parts;
    std::string bootargs, out, err;
    Bytes before;
};

} // namespace

TEST_F(InstallNand, BadBlocksAreSkipped)
{
    set_geometry("fs2", "bad", "1,3");
    ASSERT_EQ(install(), 0) << err;
    expect_fs_in_blocks({0, 2, 4, 5, 6, 7});
    EXPECT_TRUE(block_unchanged(1));
    EXPECT_TRUE(block_unchanged(3));
    // Skipped blocks are reported among the progress lines, each followed by the next block.
    EXPECT_NE(out.find("Writing data to block 20000\n"
                       "Bad block at 20000, 1 block(s) from 20000 will be skipped\n"
                       "Writing data to block 40000\n"
                       "Writing data to block 60000\n"
                       "Bad block at 60000, 1 block(s) from 60000 will be skipped\n"
                       "Writing data to block 80000\n"),
              std::string::npos) << out;
    EXPECT_EQ(err.find("Bad block"), std::string::npos) << err;
    EXPECT_EQ(env_entry("fs2").version, FS_NEW);
    EXPECT_EQ(env_entry("fs2").size, padded(fs).size());
    EXPECT_NE(env_value("bootargs").find("ubi.mtd=fs2"), std::string::npos);
}

TEST_F(InstallNand, AFailingBlockIsMarkedBadAndRewrittenInTheNextGoodBlock)
{
    set_geometry("fs2", "failwrite", "2");
    set_geometry("fs2", "bad", "3");
    ASSERT_EQ(install(), 0) << err;
    EXPECT_NE(out.find("Writing data to block 40000\nset Bad block at 40000 !\n"
                       "Writing data to block 60000\n"
                       "Bad block at 60000, 1 block(s) from 60000 will be skipped\n"),
              std::string::npos) << out;
    EXPECT_EQ(geometry_line("fs2", "bad"), "2,3");
    expect_fs_in_blocks({0, 1, 4, 5, 6, 7});
    EXPECT_NE(env_value("bootargs").find("ubi.mtd=fs2"), std::string::npos);
    EXPECT_EQ(env_entry("fs2").version, FS_NEW);
}

TEST_F(InstallNand, AFailingFirstBlock)
{
    set_geometry("fs2", "failwrite", "0");
    ASSERT_EQ(install(), 0) << err;
    EXPECT_EQ(geometry_line("fs2", "bad"), "0");
    expect_fs_in_blocks({1, 2, 3, 4, 5, 6});
}

TEST_F(InstallNand, BadBlocksThatLeaveNoRoomFailThePart)
{
    // 31 blocks of data into 32 device blocks, two of them bad.
    fs = pattern(31 * BLOCK, 78);
    parts = {{"ker", KER_NEW, pattern(3000, 2)}, {"fs", FS_NEW, fs}};
    set_geometry("fs2", "bad", "5,9");
    EXPECT_EQ(install(), -9);
    EXPECT_NE(err.find("Data was only partially written due to error\n"), std::string::npos);
    EXPECT_EQ(env_value("bootargs"), bootargs);
    EXPECT_NE(env_entry("fs2").version, FS_NEW);
}

TEST_F(InstallNand, EveryBlockFailing)
{
    std::string all;
    for (int b = 0; b < 32; b++)
        all += (b ? "," : "") + std::to_string(b);
    set_geometry("fs2", "failwrite", all);
    EXPECT_EQ(install(), -9);
    EXPECT_NE(err.find("Data was only partially written due to error\n"), std::string::npos);
    EXPECT_EQ(geometry_line("fs2", "bad"), all);
    EXPECT_EQ(env_value("bootargs"), bootargs);
}

TEST_F(InstallNand, AnUnusualNandGeometryIsRefused)
{
    set_geometry("ker2", "writesize", "4096");
    set_geometry("ker2", "oobsize", "224");
    EXPECT_EQ(install(), -8);
    EXPECT_NE(err.find("Unknown flash (not normal NAND)\n"), std::string::npos);
    EXPECT_EQ(env_value("bootargs"), bootargs);
}

TEST_F(InstallNand, SmallPageNandIsWrittenToo)
{
    // 512-byte pages with 16 spare bytes, 16 KiB blocks; the kernel's last page is partial.
    set_geometry("ker2", "writesize", "512");
    set_geometry("ker2", "oobsize", "16");
    set_geometry("ker2", "erasesize", "16384");
    set_geometry("ker2", "bad", "1");
    parts[0].data = pattern(40 * 1024 + 2048, 31);
    ASSERT_EQ(install(), 0) << err;
    const Bytes flash = device_bytes("ker2");
    const Bytes data = padded(parts[0].data);
    EXPECT_TRUE(holds(flash, Bytes(data.begin(), data.begin() + 16384)));
    EXPECT_TRUE(holds(flash, Bytes(data.begin() + 16384, data.end()), 2 * 16384));
    EXPECT_EQ(env_entry("ker2").version, KER_NEW);
}

TEST_F(InstallNand, ABootLoaderThatDoesNotVerifyFails)
{
    parts.push_back({"bld", BLD_NEWER, pattern(70 * 1024, 5)});
    set_geometry("uboot", "failwrite", "1");
    EXPECT_EQ(install(), -5);
    EXPECT_NE(err.find("File does not seem to match flash data. "), std::string::npos);
    EXPECT_NE(env_entry("uboot").version, BLD_NEWER);
    EXPECT_EQ(env_value("bootargs"), bootargs);
}

TEST_F(InstallNand, SpiWriterErasesWholeBlocksAndRecordsTheEntry)
{
    fill_slot("uboot", 9);
    const Bytes loader = pattern(0x10000 + 4096, 5);  // one block and a bit
    parts.push_back({"bld", BLD_NEWER, loader});
    ASSERT_EQ(install(), 0) << err;
    const Bytes flash = device_bytes("uboot");
    EXPECT_TRUE(holds(flash, padded(loader)));
    // The rest of the second erase block is erased, the third block is left as it was.
    EXPECT_TRUE(std::all_of(flash.begin() + static_cast<long>(padded(loader).size()),
                            flash.begin() + 0x20000, [](unsigned char c) { return c == 0xFF; }));
    const Bytes old = pattern(flash.size(), 9);
    EXPECT_TRUE(std::equal(flash.begin() + 0x20000, flash.end(), old.begin() + 0x20000));
    EXPECT_EQ(env_entry("uboot").version, BLD_NEWER);
    EXPECT_EQ(env_entry("uboot").size, padded(loader).size());
}
