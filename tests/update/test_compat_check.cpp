// UPFW_version_check on the sandbox recorder: the facts come from where the recorder keeps them
// (image header, the running file-system entry, the boot loader's platform, etc/hw, the OEM
// marker files, "hard_version"), and each refusal prints its text. The rules themselves are
// tabled in test_compat_rules.cpp; here each fact is shown to reach them.
#include "install.h"
#include "test_install_fixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace u2test;

namespace {

constexpr uint32_t fs_version(int N, int n, int P) { return 0x47000000u | N << 16 | n << 8 | P; }

class CompatCheck : public ::testing::Test {
protected:
    void SetUp() override { fresh_sandbox(); }

    // Checks an image whose file system has release N.n.P; returns the result.
    int check(uint32_t fs, uint32_t bld = BLD_NEWER, uint32_t bld2 = BLD2_OTHER)
    {
        std::vector<ImagePart> parts = {{"ker", KER_NEW, pattern(4096, 2)}, {"fs", fs, pattern(4096, 3)}};
        if (bld)
            parts.push_back({"bld", bld, pattern(4096, 1)});
        if (bld2)
            parts.push_back({"bld2", bld2, pattern(4096, 6)});
        write_image(image_path(), parts);
        env_deinit();
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int rc = UPFW_version_check(image_path().c_str());
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return rc;
    }

    void fact(const char *name, const char *text) { write_text(host(std::string("/etc/hw/") + name), text); }
    void marker(const char *recorder_path) { write_text(host(recorder_path), ""); }

    std::string out, err;
};

} // namespace

TEST_F(CompatCheck, ANewerReleaseIsAccepted)
{
    EXPECT_EQ(check(fs_version(9, 0, 17)), 0) << err;
    EXPECT_NE(out.find("version = 9.0.17\n"), std::string::npos);
    EXPECT_EQ(err, "");
    EXPECT_NE(access(host("/mnt/nand/updb.cfg").c_str(), F_OK), 0);
}

TEST_F(CompatCheck, NoWayBackBelowNine)
{
    EXPECT_EQ(check(fs_version(8, 0, 5)), -1);
    EXPECT_NE(err.find("do not support back to < 9.0.x from 9.0.x. "), std::string::npos);
}

TEST_F(CompatCheck, TheRunningSlotNamesTheCurrentRelease)
{
    // fs1 runs 9.0.16; fs2 holds 7.1.20. Booting fs2, an 8.x image is an upgrade from 7.x.
    set_entry("fs2", fs_version(7, 1, 20));
    EXPECT_EQ(check(fs_version(8, 0, 3)), -1);
    boot_from_slot2();
    EXPECT_EQ(check(fs_version(8, 0, 3)), 0) << err;
    EXPECT_EQ(access(host("/mnt/nand/updb.cfg").c_str(), F_OK), 0);
}

TEST_F(CompatCheck, ThePlatformOfTheBootLoaderMustMatch)
{
    EXPECT_EQ(check(fs_version(9, 0, 17), 0x0801021B, 0x0801031B), -1);
    EXPECT_NE(err.find("platform dismatch !"), std::string::npos);
    EXPECT_EQ(check(fs_version(9, 0, 17), 0x0801021B, 0x0701031B), 0) << err;
    EXPECT_EQ(check(fs_version(9, 0, 17), 0, 0x0701031B), 0) << err;
    EXPECT_EQ(check(fs_version(9, 0, 17), 0, 0), -1);
}

TEST_F(CompatCheck, OemMarkers)
{
    set_entry("fs1", fs_version(7, 1, 20));
    marker("/mnt/nand2/oem.db");
    EXPECT_EQ(check(fs_version(8, 0, 3)), -1);
    EXPECT_NE(err.find("OEM do not support update 7.x to 8.x "), std::string::npos);
    marker("/opt/app/bin/special_oem.cfg");
    EXPECT_EQ(check(fs_version(8, 0, 3)), 0) << err;
    EXPECT_EQ(check(fs_version(7, 0, 22)), -1);
    EXPECT_NE(err.find("OEM special do not support update 7.0.x "), std::string::npos);
}

TEST_F(CompatCheck, PhyAndPowerBoardOfOldReleases)
{
    set_entry("fs1", fs_version(7, 1, 20));
    fact("phy_id", "0x0011\n");
    EXPECT_EQ(check(fs_version(7, 1, 9)), -1);
    EXPECT_NE(err.find("do not support update < 8.x.10 data 0x11\n"), std::string::npos);
    unlink(host("/etc/hw/phy_id").c_str());
    EXPECT_EQ(check(fs_version(7, 1, 9)), -1);
    EXPECT_NE(err.find("Fail to open /dev/mem"), std::string::npos);
    EXPECT_NE(err.find("do not support update < 8.x.10 data 0xffffffff\n"), std::string::npos);

    fact("phy_id", "4d\n");
    fact("i2c_42_67", "0x44\n");
    EXPECT_EQ(check(fs_version(7, 1, 9)), -1);
    EXPECT_NE(err.find("do not support update < 8.x.10 0x44\n"), std::string::npos);
    fact("i2c_42_67", "0xe3\n");
    EXPECT_EQ(check(fs_version(7, 1, 9)), -1);
    EXPECT_EQ(check(fs_version(7, 1, 10)), 0) << err;
}

TEST_F(CompatCheck, ModelRules)
{
    fact("model", "QRN5217-16\n");
    set_env("hard_version", "N3-1-V12-M2048");
    EXPECT_EQ(check(fs_version(9, 0, 9)), -1);
    EXPECT_NE(err.find("5217 use USART control power do not support update to 9.x.10- "), std::string::npos);
    set_env("hard_version", "N3-0-V12-M2048");
    EXPECT_EQ(check(fs_version(9, 0, 9)), 0) << err;

    set_entry("fs1", fs_version(7, 1, 9));
    EXPECT_EQ(check(fs_version(7, 1, 8)), -1);
    EXPECT_NE(err.find("5217 do not support update 7.x.9+ to 7.x.8- "), std::string::npos);

    fresh_sandbox();
    fact("model", "QRN6158\n");
    EXPECT_EQ(check(fs_version(9, 0, 14)), 0) << err;
    EXPECT_NE(out.find("pse is not ir808ar!!!"), std::string::npos);
    marker("/etc/hw/ir808ar");
    EXPECT_EQ(check(fs_version(9, 0, 14)), -1);
    EXPECT_NE(out.find("pse is ir808ar!!!"), std::string::npos);
    EXPECT_NE(err.find("R610_ir808ar do not support update 9+.x.15+ to 9.x.15- "), std::string::npos);
    EXPECT_EQ(check(fs_version(9, 0, 15)), 0) << err;
}

TEST_F(CompatCheck, UnreadableImageOrEnvironment)
{
    env_deinit();
    testing::internal::CaptureStderr();
    EXPECT_EQ(UPFW_version_check(host("/dev/shm/none.bin").c_str()), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("open output imager"), std::string::npos);

    write_text(image_path(), std::string(2047, 'x'));
    testing::internal::CaptureStderr();
    EXPECT_EQ(UPFW_version_check(image_path().c_str()), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Bad size"), std::string::npos);

    // Both environment copies erased: the default environment has no partition entries.
    write_bytes(device_of("env"), Bytes(device_bytes("env").size(), 0xFF));
    EXPECT_EQ(check(fs_version(9, 0, 17)), -4);
    EXPECT_NE(err.find("flprog_get_part_table faild!\n"), std::string::npos);
}
