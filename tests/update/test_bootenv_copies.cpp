// The boot environment on its two copies: which copy is loaded for every flag and CRC
// combination, the default environment after two bad copies, the order and flags of a write,
// exact lookup, overflow, an unterminated copy, and NAND copies with bad blocks.
#include "bootenv.h"
#include "update_sandbox.h"

#include <gtest/gtest.h>

namespace {

using upd::env_strings;
using upd::make_copy;

const std::string DEFAULT_ENV =
    "bootcmd=bootp; setenv bootargs root=/dev/nfs nfsroot=${serverip}:${rootpath} "
    "ip=${ipaddr}:${serverip}:${gatewayip}:${netmask}:${hostname}::off; bootm\n"
    "bootdelay=5\nbaudrate=115200\n";
const std::string BAD_CRC_WARNING = "Warning: Bad CRC, using default environment\n";

unsigned char flag_of(const std::string &copy) { return static_cast<unsigned char>(copy.back()); }

TEST(BootenvCopies, ChoiceForEveryFlagAndCrcCombination)
{
    upd::sandbox box;
    struct choice {
        bool valid1, valid2;
        unsigned char flag1, flag2;
        int expected;  // 1, 2, or 0 for the default environment
    } cases[] = {
        {true, true, 0, 0, 1},     {true, true, 1, 0, 1},     {true, true, 0, 1, 2},
        {true, true, 5, 5, 1},     {true, true, 255, 0, 2},   {true, true, 0, 255, 2},
        {true, true, 254, 255, 2}, {true, true, 255, 254, 1}, {true, true, 200, 7, 1},
        {true, false, 0, 9, 1},    {true, false, 255, 0, 1},  {false, true, 9, 0, 2},
        {false, true, 255, 0, 2},  {false, false, 1, 2, 0},
    };
    for (const choice &c : cases) {
        SCOPED_TRACE(testing::Message() << "valid " << c.valid1 << c.valid2 << " flags "
                                        << int(c.flag1) << "," << int(c.flag2));
        box.write_copies(make_copy(env_strings({"which=1", "a=x"}), c.flag1, c.valid1),
                         make_copy(env_strings({"which=2", "b=y"}), c.flag2, c.valid2));
        upd::run_result r = box.printenv({});
        EXPECT_EQ(r.status, 0);
        if (c.expected == 0) {
            EXPECT_EQ(r.out, DEFAULT_ENV);
            EXPECT_EQ(r.err, BAD_CRC_WARNING);
        } else {
            EXPECT_EQ(r.out, c.expected == 1 ? "which=1\na=x\n" : "which=2\nb=y\n");
            EXPECT_EQ(r.err, "");
        }
    }
}

TEST(BootenvCopies, DefaultEnvironmentPlusTheNewVariableGoesToBothCopies)
{
    upd::sandbox box;
    box.write_copies(make_copy(env_strings({"x=1"}), 3, false), make_copy(env_strings({"y=2"}), 4, false));
    upd::run_result r = box.setenv_({"sn", "ABC123"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, BAD_CRC_WARNING);
    const std::string expected = env_strings(
        {"bootcmd=bootp; setenv bootargs root=/dev/nfs nfsroot=${serverip}:${rootpath} "
         "ip=${ipaddr}:${serverip}:${gatewayip}:${netmask}:${hostname}::off; bootm",
         "bootdelay=5", "baudrate=115200", "sn=ABC123"});
    for (int which : {0, 1}) {
        const std::string copy = box.read_copy(which);
        EXPECT_TRUE(upd::copy_crc_ok(copy)) << which;
        EXPECT_EQ(copy.substr(4, expected.size()), expected) << which;
    }
    // The default stands in copy 1's place: copy 2 is written first.
    EXPECT_EQ(flag_of(box.read_copy(1)), 1);
    EXPECT_EQ(flag_of(box.read_copy(0)), 2);
    r = box.printenv({});
    EXPECT_EQ(r.out, DEFAULT_ENV + "sn=ABC123\n");
    EXPECT_EQ(r.err, "");
}

TEST(BootenvCopies, WriteGoesFirstToTheCopyNotLoadedWithTheFlagGrown)
{
    upd::sandbox box;
    struct order {
        unsigned char flag1, flag2;
        int loaded;  // 0 or 1
        unsigned char new_flag1, new_flag2;
    } cases[] = {
        {3, 4, 1, 5, 6},      // copy 2 loaded: copy 1 gets 5, then copy 2 gets 6
        {9, 2, 0, 11, 10},    // copy 1 loaded: copy 2 first
        {255, 254, 0, 1, 0},  // the counter wraps
        {255, 0, 1, 1, 2},    // 255 then 0: copy 2 is the newer
    };
    for (const order &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.flag1) << "," << int(c.flag2));
        box.write_copies(make_copy(env_strings({"v=1"}), c.flag1),
                         make_copy(env_strings({"v=2"}), c.flag2));
        // Cut just before the first page: only the copy written first has been erased.
        upd::run_result cut = box.setenv_({"v", "3"}, {{"NVR_POWER_CUT_AFTER", "2"}});
        ASSERT_EQ(cut.status, 137);
        const int first = 1 - c.loaded;
        EXPECT_TRUE(upd::all_bytes(box.read_copy(first), '\xff'));
        EXPECT_TRUE(upd::copy_crc_ok(box.read_copy(c.loaded)));

        box.write_copies(make_copy(env_strings({"v=1"}), c.flag1),
                         make_copy(env_strings({"v=2"}), c.flag2));
        upd::run_result r = box.setenv_({"v", "3"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(flag_of(box.read_copy(0)), c.new_flag1);
        EXPECT_EQ(flag_of(box.read_copy(1)), c.new_flag2);
        EXPECT_EQ(box.printenv({"v"}).out, "v=3\n");
    }
}

TEST(BootenvCopies, LookupMatchesWholeNamesOnly)
{
    upd::sandbox box;
    box.write_copies(make_copy(env_strings({"bootdelay=3", "boot=x", "bootdelayx=9"}), 1),
                     make_copy(env_strings({}), 0, false));
    upd::run_result r = box.printenv({"bootdelay", "boot", "bootdela", "bootdelayx"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "bootdelay=3\nboot=x\nbootdelayx=9\n");
    EXPECT_EQ(r.err, "## Error: \"bootdela\" not defined\n");

    r = box.printenv({"-n", "bootdelay"});
    EXPECT_EQ(r.out, "3\n");
    r = box.printenv({"-n", "bootdelay", "boot"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "## Error: `-n' option requires exactly one argument\n");

    // A name with '=' would corrupt the list: refused, nothing written.
    const std::string before = upd::read_file(box.env_device());
    r = box.setenv_({"a=b", "c"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(upd::read_file(box.env_device()), before);

    // Deleting: no value words.
    r = box.setenv_({"boot"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(box.printenv({}).out, "bootdelay=3\nbootdelayx=9\n");
}

TEST(BootenvCopies, SerialNumberIsNeverOverwritten)
{
    upd::sandbox box;
    EXPECT_EQ(box.setenv_({"serial#", "S1"}).status, 0);
    upd::run_result r = box.setenv_({"serial#", "S2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can't overwrite \"serial#\"\n");
    EXPECT_EQ(box.printenv({"serial#"}).out, "serial#=S1\n");
    EXPECT_EQ(box.setenv_({"greeting", "hello", "big", "world"}).status, 0);
    EXPECT_EQ(box.printenv({"greeting"}).out, "greeting=hello big world\n");
}

TEST(BootenvCopies, UnterminatedCopyStopsTheWalk)
{
    upd::sandbox box;
    std::string strings = "good=1";
    strings += '\0';
    strings += std::string(ENV_DATA_SIZE - strings.size(), 'z');
    box.write_copies(make_copy(strings, 1), make_copy(env_strings({}), 0, false));
    upd::run_result r = box.printenv({});
    EXPECT_EQ(r.out, "good=1\n");
    EXPECT_EQ(r.err, "## Error: environment not terminated\n");
}

TEST(BootenvCopies, NandCopiesSkipNothingAndFailOnABadBlock)
{
    upd::sandbox box;
    const std::string geometry = box.env_device() + ".geometry";
    upd::write_file(geometry, "type nand\nerasesize 65536\nwritesize 2048\noobsize 64\nbad \n");
    ASSERT_EQ(box.setenv_({"on", "nand"}).status, 0);
    EXPECT_EQ(box.printenv({"on"}).out, "on=nand\n");

    upd::write_file(geometry, "type nand\nerasesize 65536\nwritesize 2048\noobsize 64\nbad 0\n");
    upd::run_result r = box.printenv({"on"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Too few good blocks within range\n");
}

TEST(BootenvCopies, MissingDeviceIsReported)
{
    upd::sandbox box;
    unlink(box.env_device().c_str());
    upd::run_result r = box.printenv({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Cannot access MTD device /dev/mtd1: No such file or directory\n");
    // Without options the utility still ends normally.
    EXPECT_EQ(box.update({}).status, 0);
}

// In-process: the overflow rule at its exact boundary.
TEST(BootenvOverflow, ValueThatDoesNotFitDeletesTheVariable)
{
    const upd::sandbox &box = upd::process_sandbox();
    const std::string filler = "f=" + std::string(60000, 'x');
    box.write_copies(make_copy(env_strings({"keep=1", filler}), 1), make_copy(env_strings({}), 0, false));
    env_deinit();
    ASSERT_EQ(env_init(), 0);
    const size_t used = 7 + filler.size() + 1;
    const size_t free_space = ENV_STRINGS_SIZE - used;

    // name + value + 3 == free space: fits exactly, the flag byte stays clear of the strings.
    const std::string fits(free_space - 4, 'v');
    upd::captured c = upd::capture([&] { return hs_setenv("a", fits.c_str()); });
    ASSERT_EQ(c.result, 0) << c.err;
    env_deinit();
    ASSERT_STREQ(hs_getenv("a"), fits.c_str());

    // One byte more for "a": the old value is gone and the error says so.
    const std::string too_long(free_space - 3, 'w');
    const std::string flash_before = upd::read_file(box.env_device());
    c = upd::capture([&] { return hs_setenv("a", too_long.c_str()); });
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "Error: environment overflow, \"a\" deleted\n");
    EXPECT_EQ(hs_getenv("a"), nullptr);
    EXPECT_STREQ(hs_getenv("keep"), "1");
    EXPECT_EQ(upd::read_file(box.env_device()), flash_before);  // nothing half-written
    env_deinit();
}

} // namespace
