// Power cuts during an installation. build/bin/update -u runs with NVR_POWER_CUT_AFTER=N, so the
// flash layer ends it just before its N-th erase or page write; afterwards the environment must
// load and name one consistent pair of slots: the old one with the old kernel and file system
// untouched, or the new one, completely written and recorded. The cut points are spread over the
// whole installation and packed around the final write of the boot variables, where the pair
// switches; U2_POWER_CUT_EVERY=1 in the environment tries every single operation instead.
#include "test_install_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace u2test;

namespace {

struct Slots {
    char fs = 0, ker = 0;
};

Slots running_slots()
{
    Slots s;
    const std::string args = env_value("bootargs"), cmd = env_value("bootcmd");
    if (size_t p = args.find("=fs"); p != std::string::npos && p + 3 < args.size())
        s.fs = args[p + 3];
    if (size_t p = cmd.find("ker"); p != std::string::npos && p + 3 < cmd.size())
        s.ker = cmd[p + 3];
    return s;
}

class PowerCut : public ::testing::Test {
protected:
    void SetUp() override
    {
        fresh_sandbox();
        fill_slot("ker1", 101);
        fill_slot("fs1", 102);
        fill_slot("ker2", 103);
        fill_slot("fs2", 104);
        parts = {
            {"bld", BLD_NEWER, pattern(12 * 1024, 1)},
            {"ker", KER_NEW, pattern(60 * 1024, 2)},
            {"fs", FS_NEW, pattern(300 * 1024, 3)},
            {"jpg", JPG_NEW, pattern(8 * 1024, 5)},
        };
        write_image(image_path(), parts);
        pristine = snapshot_devices();
        for (const auto &[name, bytes] : pristine)
            geometry[name] = slurp(device_of(name) + ".geometry");
        old_entries = {env_entry("ker1"), env_entry("fs1")};
    }

    void restore()
    {
        for (const auto &[name, bytes] : pristine) {
            write_bytes(device_of(name), bytes);
            write_text(device_of(name) + ".geometry", geometry[name]);
        }
        unlink(host("/mnt/nand/upfw.log").c_str());
        env_deinit();
    }

    // 0 = no cut.
    RunResult install(long cut_after)
    {
        return run({bin("update"), "-u", image_path()},
                   {cut_after > 0 ? "NVR_POWER_CUT_AFTER=" + std::to_string(cut_after) : "NVR_POWER_CUT_AFTER="});
    }

    // What a restart after a cut at `point` finds.
    void check_after_cut(long point)
    {
        SCOPED_TRACE(testing::Message() << "cut before flash operation " << point);
        env_deinit();
        ASSERT_EQ(env_init(), 0);
        ASSERT_NE(hs_getenv("bootargs"), nullptr) << "environment lost";
        const Slots s = running_slots();
        ASSERT_EQ(s.fs, s.ker) << env_value("bootargs") << " / " << env_value("bootcmd");
        if (s.fs == '1') {
            EXPECT_EQ(device_bytes("ker1"), pristine["ker1"]);
            EXPECT_EQ(device_bytes("fs1"), pristine["fs1"]);
            EXPECT_EQ(env_entry("ker1").version, old_entries[0].version);
            EXPECT_EQ(env_entry("fs1").version, old_entries[1].version);
            old_seen++;
        } else {
            ASSERT_EQ(s.fs, '2');
            EXPECT_TRUE(holds(device_bytes("ker2"), padded(part_named(parts, "ker")->data)));
            EXPECT_TRUE(holds(device_bytes("fs2"), padded(part_named(parts, "fs")->data)));
            EXPECT_EQ(env_entry("ker2").version, KER_NEW);
            EXPECT_EQ(env_entry("fs2").version, FS_NEW);
            EXPECT_EQ(env_entry("fs2").size, padded(part_named(parts, "fs")->data).size());
            new_seen++;
        }
    }

    std::vector<ImagePart> parts;
    std::map<std::string, Bytes> pristine;
    std::map<std::string, std::string> geometry;
    std::vector<env_mtd_entry> old_entries;
    int old_seen = 0, new_seen = 0;
};

} // namespace

TEST_F(PowerCut, EveryCutLeavesOneCompletePairBootable)
{
    // Count the installation's flash operations: the smallest cut point that no longer cuts.
    long low = 1, high = 1024;
    for (;;) {
        restore();
        RunResult r = install(high);
        if (r.status == 0)
            break;
        ASSERT_EQ(r.status, 137) << r.err;
        low = high;
        high *= 2;
        ASSERT_LT(high, 1L << 24);
    }
    while (high - low > 1) {
        const long mid = (low + high) / 2;
        restore();
        RunResult r = install(mid);
        ASSERT_TRUE(r.status == 0 || r.status == 137) << r.err;
        (r.status == 0 ? high : low) = mid;
    }
    const long total = high - 1;  // operations of a complete installation
    ASSERT_GT(total, 500);

    std::set<long> points;
    if (std::getenv("U2_POWER_CUT_EVERY")) {
        for (long p = 1; p <= total + 1; p++)
            points.insert(p);
    } else {
        for (long i = 0; i < 50; i++)
            points.insert(1 + i * total / 50);
        // The last write of the boot variables: both environment copies, each an erase and its
        // pages. Its first and last operations, and those of each copy, are where the pair flips.
        const long page = std::stol(geometry_line("env", "writesize"));
        const long sector = std::stol(geometry_line("env", "erasesize"));
        const long env_ops = 2 * (ENV_COPY_SIZE / sector + ENV_COPY_SIZE / page);
        const long start = total - env_ops + 1;
        for (long p : {start, start + env_ops / 2, total})
            for (long d = -3; d <= 3; d++)
                points.insert(p + d);
        for (long p = start; p <= total; p += 64)
            points.insert(p);
        points.insert(total + 1);
    }
    for (long p : points) {
        if (p < 1 || p > total + 1)
            continue;
        restore();
        RunResult r = install(p);
        ASSERT_EQ(r.status, p <= total ? 137 : 0) << "cut point " << p << "\n" << r.err;
        check_after_cut(p);
        if (HasFatalFailure())
            return;
    }
    RecordProperty("cut_points", static_cast<int>(points.size()));
    RecordProperty("flash_operations", static_cast<int>(total));
    std::printf("power cuts tried: %zu of %ld flash operations; old pair %d, new pair %d\n",
                points.size(), total, old_seen, new_seen);
    EXPECT_GT(old_seen, 0);
    EXPECT_GT(new_seen, 0);
}

TEST_F(PowerCut, AnInstallationCutShortCanBeRunAgain)
{
    for (long p : {40L, 400L, 900L}) {
        SCOPED_TRACE(p);
        restore();
        ASSERT_EQ(install(p).status, 137);
        RunResult again = install(0);
        ASSERT_EQ(again.status, 0) << again.err;
        const Slots s = running_slots();
        EXPECT_EQ(s.fs, '2');
        EXPECT_EQ(s.ker, '2');
        EXPECT_TRUE(holds(device_bytes("fs2"), padded(part_named(parts, "fs")->data)));
        EXPECT_EQ(device_bytes("fs1"), pristine["fs1"]);
    }
}

// The erase tool the NAND writer starts shares the installer's count: a cut can fall between two
// of its block erases, and ends the installation there (the power is gone for both).
TEST_F(PowerCut, ACutInsideTheEraseToolEndsTheInstallationThere)
{
    const std::string commands = host("/var/log/commands.log");
    auto erase_tool_ran = [&](long cut) {
        restore();
        write_text(commands, "");
        RunResult r = install(cut);
        EXPECT_EQ(r.status, 137) << "cut " << cut << "\n" << r.err;
        return slurp(commands).find("flash_erase") != std::string::npos;
    };
    // The smallest cut point at which the erase tool starts: it starts with one operation left.
    long low = 1, high = 2;
    while (!erase_tool_ran(high)) {
        low = high;
        high *= 2;
        ASSERT_LT(high, 1L << 16);
    }
    while (high - low > 1) {
        const long mid = (low + high) / 2;
        (erase_tool_ran(mid) ? high : low) = mid;
    }

    for (long blocks_erased : {0L, 1L}) {
        SCOPED_TRACE(blocks_erased);
        restore();
        RunResult r = install(high + blocks_erased);
        ASSERT_EQ(r.status, 137) << r.err;
        EXPECT_EQ(r.err.find("Fail on erase"), std::string::npos) << r.err;
        long changed_devices = 0;
        for (const char *slot : {"ker2", "fs2"}) {
            const Bytes now = device_bytes(slot);
            const Bytes &before = pristine[slot];
            ASSERT_EQ(now.size(), before.size());
            if (now == before)
                continue;
            changed_devices++;
            const size_t block = std::stoul(geometry_line(slot, "erasesize"));
            EXPECT_TRUE(std::all_of(now.begin(), now.begin() + static_cast<long>(block),
                                    [](unsigned char b) { return b == 0xFF; }));
            EXPECT_TRUE(std::equal(now.begin() + static_cast<long>(block), now.end(),
                                   before.begin() + static_cast<long>(block)));
        }
        EXPECT_EQ(changed_devices, blocks_erased);
        check_after_cut(high + blocks_erased);
    }
}
