// The command line with an upgrade image: -u checks and installs (the default image is
// "/dev/shm/updateFM.bin"), -a checks and cuts the update utility out, -e cuts without the
// check, -l lists; the exit status is the result code and the result log "/mnt/nand/upfw.log"
// holds the code and its message whenever a check refused, a cut failed or an installation ran.
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

std::string result_log(int code, const std::string &message)
{
    std::string log(512, '\0');
    const std::string c = std::to_string(code) + "\n";
    log.replace(0, c.size(), c);
    log.replace(256, message.size(), message);
    return log;
}

std::string upfw_log() { return slurp(host("/mnt/nand/upfw.log")); }
bool log_written() { return access(host("/mnt/nand/upfw.log").c_str(), F_OK) == 0; }

class CliImage : public ::testing::Test {
protected:
    void SetUp() override
    {
        fresh_sandbox();
        parts = full_release();
        write_image(image_path(), parts);
    }
    std::vector<ImagePart> parts;
};

} // namespace

TEST_F(CliImage, UpdateAloneInstallsTheDefaultImage)
{
    RunResult r = update({"-u"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Begin update " + image_path() + " \n"), std::string::npos);
    EXPECT_NE(r.out.find("version = 9.0.17\n"), std::string::npos);
    EXPECT_EQ(upfw_log(), result_log(0, "update success!\n"));
    EXPECT_NE(r.err.find("update success!\n"), std::string::npos);
    EXPECT_TRUE(holds(device_bytes("fs2"), padded(part_named(parts, "fs")->data)));
    EXPECT_NE(env_value("bootargs").find("ubi.mtd=fs2"), std::string::npos);
    EXPECT_NE(env_value("bootcmd").find("ker2"), std::string::npos);
}

TEST_F(CliImage, ARefusedImageIsNotInstalled)
{
    part_named(parts, "fs")->version = 0x47080005;  // 71.8.0.5 on a 9.0.16 recorder
    write_image(image_path(), parts);
    const auto before = snapshot_devices();
    for (const char *mode : {"-u", "--upfw", "-a", "--analysis"}) {
        SCOPED_TRACE(mode);
        unlink(host("/mnt/nand/upfw.log").c_str());
        RunResult r = update({mode, image_path()});
        EXPECT_EQ(r.status, 256 - 14);
        EXPECT_NE(r.err.find("do not support back to < 9.0.x from 9.0.x. "), std::string::npos);
        EXPECT_NE(r.err.find("firmware mismatch!\n"), std::string::npos);
        EXPECT_EQ(upfw_log(), result_log(-14, "firmware mismatch!\n"));
        EXPECT_EQ(snapshot_devices(), before);
        EXPECT_NE(access(host("/dev/shm/update").c_str(), F_OK), 0);
    }
}

TEST_F(CliImage, OemSkipsTheCheckCutsAndInstalls)
{
    part_named(parts, "fs")->version = 0x47080005;
    write_image(image_path(), parts);
    RunResult r = update({"-e", "-u", image_path()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("version = 8.0.5"), std::string::npos);  // no compatibility check
    EXPECT_NE(r.out.find("Analysis image " + image_path() + " \n"), std::string::npos);
    EXPECT_TRUE(holds(read_bytes(host("/dev/shm/update")), padded(part_named(parts, "cmd")->data)));
    EXPECT_EQ(upfw_log(), result_log(0, "update success!\n"));
    EXPECT_EQ(env_entry("fs2").version, 0x47080005u);
}

TEST_F(CliImage, AnalysisCutsTheUtilityWithoutInstalling)
{
    const auto before = snapshot_devices();
    RunResult r = update({"-a", image_path()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(holds(read_bytes(host("/dev/shm/update")), padded(part_named(parts, "cmd")->data)));
    EXPECT_FALSE(log_written());
    EXPECT_EQ(snapshot_devices(), before);

    RunResult missing = update({"-e", host("/dev/shm/none.bin")});
    EXPECT_EQ(missing.status, 255);
    // The message carries its own newline and the log adds one more, on both outputs.
    const std::string message = "Analysis " + host("/dev/shm/none.bin") + " faild!\n\n";
    EXPECT_EQ(upfw_log(), result_log(-1, message));
    EXPECT_NE(missing.err.find(message), std::string::npos);
}

TEST_F(CliImage, ListPrintsTheHeaderAndLogsNothing)
{
    RunResult r = update({"-l", image_path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("List upfw " + image_path() + " infomation.\n", 0), 0u);
    EXPECT_NE(r.out.find("fs: \n"), std::string::npos);
    EXPECT_FALSE(log_written());

    // An unreadable image: the reason is printed, no slot is listed, and the run ends well.
    r = update({"--list", host("/dev/shm/none.bin")});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("open output imager"), std::string::npos);
    EXPECT_EQ(r.err.find("failed!"), std::string::npos);
    EXPECT_FALSE(log_written());
}

TEST_F(CliImage, AFailedInstallationLogsItsCode)
{
    part_named(parts, "fs")->data = pattern(0x400000 + 2048, 11);  // larger than fs2
    write_image(image_path(), parts);
    RunResult r = update({"-u", image_path()});
    EXPECT_EQ(r.status, 256 - 9);
    EXPECT_EQ(upfw_log(), result_log(-9, "update filesys partition faild!\n"));
    EXPECT_NE(env_value("bootargs").find("ubi.mtd=fs1"), std::string::npos);

    set_env("bootargs", "root=/dev/nfs nfsroot=10.0.0.2:/srv/nfs");
    r = update({"-u", image_path()});
    EXPECT_EQ(r.status, 256 - 4);
    EXPECT_EQ(upfw_log(), result_log(-4, "update ptb partition faild!\n"));
}

TEST_F(CliImage, OptionsActBeforeTheImageModes)
{
    // Permuted arguments: the image path may come first; settings act at once.
    RunResult r = update({image_path(), "-D", "7", "-u"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(env_value("bootdelay"), "7");
    EXPECT_NE(env_value("bootargs").find("ubi.mtd=fs2"), std::string::npos);
}
