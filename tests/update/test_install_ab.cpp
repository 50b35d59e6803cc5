// A/B installation on the sandbox recorder: which partitions an installation writes, what the
// partition entries and boot arguments say afterwards, and that the running slots are never
// touched; the boot-loader and logo plan; the refusals that stop before anything is written.
#include "install.h"
#include "test_install_fixture.h"

#include <gtest/gtest.h>

using namespace u2test;

namespace {

class InstallAb : public ::testing::Test {
protected:
    void SetUp() override
    {
        fresh_sandbox();
        fill_slot("ker1", 101);
        fill_slot("fs1", 102);
        fill_slot("ker2", 103);
        fill_slot("fs2", 104);
    }

    // Installs `parts` and returns the result; `before` holds the devices as they were.
    int install(const std::vector<ImagePart> &parts)
    {
        write_image(image_path(), parts);
        before = snapshot_devices();
        env_deinit();
        const int rc = UPFW_run_update(image_path().c_str());
        env_deinit();
        return rc;
    }

    bool changed(const char *partition) { return device_bytes(partition) != before[partition]; }

    void expect_entry(const char *partition, const ImagePart &part)
    {
        SCOPED_TRACE(partition);
        const env_mtd_entry e = env_entry(partition);
        EXPECT_EQ(e.version, part.version);
        EXPECT_EQ(e.size, padded(part.data).size());
        EXPECT_EQ(e.date, part.date);
    }

    std::map<std::string, Bytes> before;
};

} // namespace

TEST_F(InstallAb, FromSlot1WritesSlot2AndSwitchesBothBootVariables)
{
    const std::string bootargs = env_value("bootargs");
    const env_mtd_entry ker1 = env_entry("ker1"), fs1 = env_entry("fs1");
    auto parts = full_release();
    ASSERT_EQ(install(parts), 0);

    EXPECT_TRUE(holds(device_bytes("ker2"), padded(part_named(parts, "ker")->data)));
    EXPECT_TRUE(holds(device_bytes("fs2"), padded(part_named(parts, "fs")->data)));
    EXPECT_TRUE(holds(device_bytes("uboot"), padded(part_named(parts, "bld")->data)));
    EXPECT_TRUE(holds(device_bytes("logo"), padded(part_named(parts, "jpg")->data)));
    for (const char *untouched : {"ker1", "fs1", "cfg", "oem", "rsd"})
        EXPECT_FALSE(changed(untouched)) << untouched;

    expect_entry("ker2", *part_named(parts, "ker"));
    expect_entry("fs2", *part_named(parts, "fs"));
    expect_entry("uboot", *part_named(parts, "bld"));
    expect_entry("logo", *part_named(parts, "jpg"));
    EXPECT_EQ(env_entry("ker1").version, ker1.version);
    EXPECT_EQ(env_entry("fs1").version, fs1.version);

    std::string expected_args = bootargs;
    expected_args.replace(expected_args.find("fs1"), 3, "fs2");
    EXPECT_EQ(env_value("bootargs"), expected_args);
    EXPECT_EQ(env_value("bootcmd"), "nand read 0x42000000 ker2 0x200000; bootm 0x42000000");
}

TEST_F(InstallAb, FromSlot2WritesSlot1)
{
    boot_from_slot2();
    auto parts = full_release();
    ASSERT_EQ(install(parts), 0);
    EXPECT_TRUE(holds(device_bytes("ker1"), padded(part_named(parts, "ker")->data)));
    EXPECT_TRUE(holds(device_bytes("fs1"), padded(part_named(parts, "fs")->data)));
    EXPECT_FALSE(changed("ker2"));
    EXPECT_FALSE(changed("fs2"));
    expect_entry("ker1", *part_named(parts, "ker"));
    expect_entry("fs1", *part_named(parts, "fs"));
    EXPECT_NE(env_value("bootargs").find("ubi.mtd=fs1"), std::string::npos);
    EXPECT_NE(env_value("bootcmd").find("ker1"), std::string::npos);
    EXPECT_EQ(env_value("bootargs").find("fs2"), std::string::npos);
}

TEST_F(InstallAb, TheKernelNeverOverwritesTheRunningKernel)
{
    // File system 1 with kernel 2 (switched by hand): the new kernel goes to ker1, the slot that
    // "bootcmd" names afterwards, and the running ker2 stays as it is.
    set_env("bootcmd", "nand read 0x42000000 ker2 0x200000; bootm 0x42000000");
    auto parts = full_release();
    ASSERT_EQ(install(parts), 0);
    EXPECT_TRUE(holds(device_bytes("ker1"), padded(part_named(parts, "ker")->data)));
    EXPECT_TRUE(holds(device_bytes("fs2"), padded(part_named(parts, "fs")->data)));
    EXPECT_FALSE(changed("ker2"));
    EXPECT_FALSE(changed("fs1"));
    EXPECT_NE(env_value("bootcmd").find("ker1"), std::string::npos);
    EXPECT_NE(env_value("bootargs").find("ubi.mtd=fs2"), std::string::npos);
    expect_entry("ker1", *part_named(parts, "ker"));
}

TEST_F(InstallAb, TwoInstallationsAlternateTheSlots)
{
    auto first = full_release();
    ASSERT_EQ(install(first), 0);
    auto second = full_release();
    part_named(second, "ker")->data = pattern(120 * 1024, 42);
    part_named(second, "fs")->data = pattern(500 * 1024, 43);
    ASSERT_EQ(install(second), 0);
    EXPECT_TRUE(holds(device_bytes("ker1"), padded(part_named(second, "ker")->data)));
    EXPECT_TRUE(holds(device_bytes("fs1"), padded(part_named(second, "fs")->data)));
    EXPECT_FALSE(changed("ker2"));
    EXPECT_FALSE(changed("fs2"));
    EXPECT_NE(env_value("bootargs").find("ubi.mtd=fs1"), std::string::npos);
    EXPECT_NE(env_value("bootcmd").find("ker1"), std::string::npos);
}

// The boot-loader plan: which loader (if any) reaches "uboot", and the boot arguments after.
struct LoaderCase {
    const char *what;
    const char *model;
    uint32_t uboot;       // installed loader version
    uint32_t bld, bld2;   // 0 = part absent
    const char *written;  // "bld", "bld2" or nullptr
    const char *bootargs_before;
    const char *bootargs_after;  // with fs1 -> fs2 applied
};

TEST_F(InstallAb, BootLoaderPlan)
{
    const char *plain = "mem=1024M console=ttyAMA0,115200 ubi.mtd=fs1 rw";
    const char *plain2 = "mem=1024M console=ttyAMA0,115200 ubi.mtd=fs2 rw";
    const LoaderCase cases[] = {
        {"same variant, newer build", "QRN3216", 0x0701021A, 0x0701021B, 0, "bld", plain, plain2},
        {"same variant, same build", "QRN3216", 0x0701021B, 0x0701021B, 0, nullptr, plain, plain2},
        {"same variant, older build", "QRN3216", 0x0701021C, 0x0701021B, 0, nullptr, plain, plain2},
        {"other variant, newer build", "QRN3216", 0x0701011A, 0x0701021B, 0, nullptr, plain, plain2},
        {"builds compare as unsigned bytes", "QRN3216", 0x0701027F, 0x07010280, 0, "bld", plain, plain2},
        {"build 0xFF installed, 0x01 offered", "QRN3216", 0x070102FF, 0x07010201, 0, nullptr, plain, plain2},
        {"4096 MB board takes bld2", "QRN3216", 0x0701031A, 0x0701021B, 0x0701031B, "bld2", plain, plain2},
        {"QRN5243 gets more memory with a new bld", "QRN5243", 0x0701021A, 0x0701021B, 0, "bld", plain,
         "mem=1224M console=ttyAMA0,115200 ubi.mtd=fs2 rw vmalloc=1024M"},
        {"QRN6143 keeps its vmalloc", "QRN6143", 0x0701021A, 0x0701021B, 0, "bld",
         "mem=1024M ubi.mtd=fs1 vmalloc=512M", "mem=1224M ubi.mtd=fs2 vmalloc=512M"},
        {"QRN4843 without a new bld keeps its memory", "QRN4843", 0x0701021B, 0x0701021B, 0, nullptr,
         plain, plain2},
        {"QRN5217 never takes bld", "QRN5217", 0x0701021A, 0x0701021B, 0, nullptr, plain, plain2},
        {"QRN5217 takes a newer bld2 of any variant", "QRN5217", 0x0701021A, 0x0701021B, 0x0701031B,
         "bld2", plain, "mem=2048M console=ttyAMA0,115200 ubi.mtd=fs2 rw vmalloc=1024M"},
        {"QRN5217 and an older bld2", "QRN5217", 0x0701021C, 0x0701021D, 0x0701031B, nullptr, plain,
         plain2},
    };
    for (const LoaderCase &c : cases) {
        SCOPED_TRACE(c.what);
        fresh_sandbox();
        write_text(host("/etc/hw/model"), std::string(c.model) + "\n");
        set_entry("uboot", c.uboot, 0x40000);
        set_env("bootargs", c.bootargs_before);
        std::vector<ImagePart> parts = {{"ker", KER_NEW, pattern(20 * 1024, 2)},
                                        {"fs", FS_NEW, pattern(30 * 1024, 3)}};
        if (c.bld)
            parts.push_back({"bld", c.bld, pattern(70 * 1024, 7)});
        if (c.bld2)
            parts.push_back({"bld2", c.bld2, pattern(90 * 1024, 8)});
        ASSERT_EQ(install(parts), 0);
        if (c.written) {
            EXPECT_TRUE(holds(device_bytes("uboot"), padded(part_named(parts, c.written)->data)));
            expect_entry("uboot", *part_named(parts, c.written));
        } else {
            EXPECT_FALSE(changed("uboot"));
            EXPECT_EQ(env_entry("uboot").version, c.uboot);
        }
        EXPECT_EQ(env_value("bootargs"), c.bootargs_after);
    }
}

TEST_F(InstallAb, LogoIsWrittenOnlyWhenItChangedWithinItsVariant)
{
    struct {
        uint32_t installed, offered;
        bool written;
    } cases[] = {{0x07010001, 0x07010002, true},
                 {0x07010002, 0x07010002, false},
                 {0x07010001, 0x07010101, false},
                 {0x07010005, 0x07010002, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.installed << " <- " << c.offered);
        fresh_sandbox();
        set_entry("logo", c.installed);
        std::vector<ImagePart> parts = {{"ker", KER_NEW, pattern(2048, 2)},
                                        {"fs", FS_NEW, pattern(2048, 3)},
                                        {"jpg", c.offered, pattern(5000, 9)}};
        ASSERT_EQ(install(parts), 0);
        EXPECT_EQ(changed("logo"), c.written);
        EXPECT_EQ(env_entry("logo").version, c.written ? c.offered : c.installed);
    }
}

TEST_F(InstallAb, RefusalsBeforeAnythingIsWritten)
{
    struct {
        const char *what;
        const char *bootargs;
        const char *bootcmd;
        int result;
        const char *message;
    } cases[] = {
        {"network root", "console=ttyAMA0 root=/dev/nfs nfsroot=1.2.3.4:/nfs", nullptr, -4,
         "bootargs not find fs, maybe NFS!"},
        {"unknown file-system slot", "ubi.mtd=fs3 rw", nullptr, -4, "unknow fs partition!"},
        {"no kernel slot", nullptr, "bootm 0x42000000", -4, "bootcmd is null!"},
        {"unknown kernel slot", nullptr, "nand read 0x42000000 ker7 0x200000", -4, "unknow bootcmd!"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fresh_sandbox();
        if (c.bootargs)
            set_env("bootargs", c.bootargs);
        if (c.bootcmd)
            set_env("bootcmd", c.bootcmd);
        const Bytes env_before = device_bytes("env");
        testing::internal::CaptureStderr();
        EXPECT_EQ(install(full_release()), c.result);
        EXPECT_NE(testing::internal::GetCapturedStderr().find(c.message), std::string::npos);
        EXPECT_EQ(snapshot_devices(), before);
        EXPECT_EQ(device_bytes("env"), env_before);
    }
}

TEST_F(InstallAb, MissingOrDamagedPartsFailWithTheirCodes)
{
    auto no_fs = full_release();
    drop_part(no_fs, "fs");
    testing::internal::CaptureStderr();
    EXPECT_EQ(install(no_fs), -9);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("No filesys image!"), std::string::npos);
    EXPECT_EQ(snapshot_devices(), before);

    auto no_ker = full_release();
    drop_part(no_ker, "ker");
    EXPECT_EQ(install(no_ker), -8);
    EXPECT_EQ(snapshot_devices(), before);

    // One flipped bit in the file system's data: the image fails verification.
    write_image(image_path(), full_release());
    Bytes image = read_bytes(image_path());
    image[image.size() - 300 * 1024] ^= 0x10;
    write_bytes(image_path(), image);
    before = snapshot_devices();
    testing::internal::CaptureStderr();
    EXPECT_EQ(UPFW_run_update(image_path().c_str()), -2);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Verify update firmware faild!"), std::string::npos);
    EXPECT_EQ(snapshot_devices(), before);

    EXPECT_EQ(UPFW_run_update(host("/dev/shm/absent.bin").c_str()), -1);
}

TEST_F(InstallAb, APartThatDoesNotFitLeavesTheBootVariables)
{
    const std::string bootargs = env_value("bootargs"), bootcmd = env_value("bootcmd");
    auto parts = full_release();
    part_named(parts, "fs")->data = pattern(0x400000 + 2048, 11);  // fs2 holds 4 MiB
    testing::internal::CaptureStderr();
    EXPECT_EQ(install(parts), -9);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Input file does not fit into device"),
              std::string::npos);
    EXPECT_FALSE(changed("fs1"));
    EXPECT_FALSE(changed("ker1"));
    EXPECT_EQ(env_value("bootargs"), bootargs);
    EXPECT_EQ(env_value("bootcmd"), bootcmd);

    fresh_sandbox();
    auto big_loader = full_release();
    part_named(big_loader, "bld")->data = pattern(0x100000 + 2048, 12);  // uboot holds 1 MiB
    testing::internal::CaptureStderr();
    EXPECT_EQ(install(big_loader), -5);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("The image length > mtd size ! "), std::string::npos);
    EXPECT_FALSE(changed("uboot"));
    EXPECT_EQ(env_value("bootargs"), bootargs);
}

TEST_F(InstallAb, LogAndCacheDrop)
{
    ASSERT_EQ(install(full_release()), 0);
    EXPECT_EQ(slurp(host("/proc/sys/vm/drop_caches")), "3\n");
    const std::string commands = slurp(host("/var/log/commands.log"));
    EXPECT_NE(commands.find("sync"), std::string::npos);
    EXPECT_NE(commands.find("flash_erase " + device_of("ker2") + " 0 0"), std::string::npos);
    EXPECT_NE(commands.find("flash_erase " + device_of("fs2") + " 0 0"), std::string::npos);
    EXPECT_EQ(commands.find(device_of("fs1")), std::string::npos);

    testing::internal::CaptureStderr();
    EXPECT_EQ(UPFW_log(-9, "update filesys partition faild!"), 512);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "update filesys partition faild!\n");
    std::string log(512, '\0');
    std::memcpy(log.data(), "-9\n", 3);
    std::memcpy(log.data() + 256, "update filesys partition faild!\n", 32);
    EXPECT_EQ(slurp(host("/mnt/nand/upfw.log")), log);

    // A long message is cut, keeps its newline and its NUL.
    testing::internal::CaptureStderr();
    EXPECT_EQ(UPFW_log(0, std::string(400, 'x').c_str()), 512);
    testing::internal::GetCapturedStderr();
    const std::string cut = slurp(host("/mnt/nand/upfw.log"));
    ASSERT_EQ(cut.size(), 512u);
    EXPECT_EQ(cut.substr(256, 255), std::string(254, 'x') + "\n");
    EXPECT_EQ(cut[511], '\0');

    EXPECT_STREQ(upfw_result_message(-14), "firmware mismatch!");
    EXPECT_STREQ(upfw_result_message(-13), "unknow error!");
    EXPECT_STREQ(upfw_result_message(0), "update success!");
}

// The device of a partition is the first line of the kernel's MTD list that contains its name,
// however that line writes the name.
TEST_F(InstallAb, DeviceMapFindsTheNameAnywhereInItsLine)
{
    const std::string mtd_list = slurp(host("/proc/mtd"));
    std::string bare = mtd_list;
    for (size_t at; (at = bare.find('"')) != std::string::npos;)
        bare.erase(at, 1);
    write_text(host("/proc/mtd"), bare);

    auto parts = full_release();
    ASSERT_EQ(install(parts), 0);
    EXPECT_TRUE(holds(device_bytes("fs2"), padded(part_named(parts, "fs")->data)));
    EXPECT_TRUE(holds(device_bytes("ker2"), padded(part_named(parts, "ker")->data)));
    EXPECT_FALSE(changed("fs1"));
}
