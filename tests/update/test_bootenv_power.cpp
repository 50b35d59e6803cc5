// Power safety of the boot environment: for every flash operation of one setting (each erased
// block and each written page), cut the power just before it (NVR_POWER_CUT_AFTER, in the real
// program as a child process) and check that the next load finds a valid environment holding the
// old or the new value, never neither; the same for a slot switch, whose two variables must
// never be split.
#include "bootenv.h"
#include "update_sandbox.h"

#include <gtest/gtest.h>

namespace {

using upd::env_strings;
using upd::make_copy;

// Loads the environment in-process as the next start would; "" when it had to fall back.
struct loaded {
    bool valid = false;  // a copy with a good CRC was found
    std::string sn, bootargs, bootcmd;
};

loaded load_now()
{
    loaded l;
    upd::captured c = upd::capture([&] {
        env_deinit();
        if (env_init() != 0)
            return -1;
        auto get = [](const char *n) { const char *v = hs_getenv(n); return std::string(v ? v : ""); };
        l.sn = get("sn");
        l.bootargs = get("bootargs");
        l.bootcmd = get("bootcmd");
        env_deinit();
        return 0;
    });
    l.valid = c.result == 0 && c.err.find("Bad CRC") == std::string::npos;
    return l;
}

class BootenvPower : public ::testing::Test {
protected:
    void SetUp() override { box = &upd::process_sandbox(); }

    // The environment device programs in 4 KiB pages here (the sandbox's 256 bytes would give
    // 514 cut points per setting, too slow a sweep under the sanitizers).
    void start_from(const std::string &copy1, const std::string &copy2)
    {
        box->write_copies(copy1, copy2);
        upd::write_file(box->env_device() + ".geometry",
                        "type nor\nerasesize 65536\nwritesize 4096\noobsize 0\nbad \nfailwrite \n");
        geometry = upd::read_file(box->env_device() + ".geometry");
        device = upd::read_file(box->env_device());
    }
    void restore() const
    {
        upd::write_file(box->env_device(), device);
        upd::write_file(box->env_device() + ".geometry", geometry);
    }

    // Cuts `args` at every operation; returns the number of operations of a whole run.
    template <typename Check>
    int cut_everywhere(const std::vector<std::string> &args, Check check)
    {
        int n = 1;
        for (;; n++) {
            restore();
            upd::run_result r =
                box->update(args, {{"NVR_POWER_CUT_AFTER", std::to_string(n)}});
            if (r.status == 0)
                break;
            EXPECT_EQ(r.status, 137) << "cut " << n << ": " << r.err;
            if (r.status != 137 || n > 10000)
                break;
            check(n, load_now());
        }
        return n - 1;
    }

    const upd::sandbox *box = nullptr;
    std::string device, geometry;
};

const std::vector<std::string> VARS = {
    "bootargs=mem=1024M console=ttyAMA0,115200 ubi.mtd=fs1 root=ubi0:rootfs rw rootfstype=ubifs",
    "bootcmd=nand read 0x42000000 ker1 0x200000; bootm 0x42000000",
    "sn=OLD",
    "uboot=name:uboot\tver:0x0701021a\tsize:262144\tdate:0x07e60712 ",
};

TEST_F(BootenvPower, EverySettingCutLeavesTheOldOrTheNewValue)
{
    // From copy 1 loaded, and from copy 2 loaded with the counter about to wrap.
    const std::pair<unsigned char, unsigned char> starts[] = {{1, 0}, {254, 255}};
    for (auto [flag1, flag2] : starts) {
        SCOPED_TRACE(testing::Message() << "flags " << int(flag1) << "," << int(flag2));
        start_from(make_copy(env_strings(VARS), flag1), make_copy(env_strings(VARS), flag2));
        int saw_old = 0, saw_new = 0;
        const int operations = cut_everywhere({"-N", "NEW"}, [&](int n, const loaded &l) {
            EXPECT_TRUE(l.valid) << "cut " << n;
            EXPECT_TRUE(l.sn == "OLD" || l.sn == "NEW") << "cut " << n << ": sn=" << l.sn;
            (l.sn == "OLD" ? saw_old : saw_new)++;
            // A setting after the cut must work from whatever was left.
            if (n % 11 == 1) {
                upd::run_result again = box->update({"-N", "AGAIN"});
                EXPECT_EQ(again.status, 0) << again.err;
                EXPECT_EQ(box->printenv({"sn"}).out, "sn=AGAIN\n") << "cut " << n;
            }
        });
        // Two copies, each one erased sector and 16 program pages of 4 KiB.
        EXPECT_EQ(operations, 2 * (1 + 65536 / 4096));
        EXPECT_GT(saw_old, 0);
        EXPECT_GT(saw_new, 0);
        EXPECT_EQ(load_now().sn, "NEW");
    }
}

TEST_F(BootenvPower, SlotSwitchNeverSplitsKernelAndFileSystem)
{
    start_from(make_copy(env_strings(VARS), 1), make_copy(env_strings(VARS), 0));
    auto slot = [](const std::string &text, const char *marker) {
        size_t at = text.find(marker);
        return at == std::string::npos ? '?' : text[at + std::strlen(marker)];
    };
    const int operations = cut_everywhere({"-S", "0"}, [&](int n, const loaded &l) {
        EXPECT_TRUE(l.valid) << "cut " << n;
        EXPECT_EQ(slot(l.bootargs, "=fs"), slot(l.bootcmd, "ker")) << "cut " << n;
    });
    EXPECT_EQ(operations, 2 * (1 + 65536 / 4096));
    const loaded after = load_now();
    EXPECT_EQ(slot(after.bootargs, "=fs"), '2');
    EXPECT_EQ(slot(after.bootcmd, "ker"), '2');
}

} // namespace
