// The compatibility rules as a table: each row starts from a recorder and image that every rule
// accepts (a plain 9.0.16 recorder taking 9.0.17), changes the facts one rule looks at, and
// names the decision. Rows sit on both sides of each rule's boundaries.
#include "compat.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

UpfwCompatFacts plain_recorder()
{
    UpfwCompatFacts f;
    f.new_major = 9;
    f.new_minor = 0;
    f.new_patch = 17;
    f.cur_major = 9;
    f.cur_patch = 16;
    f.phy_id = 0x4D;
    f.i2c_byte = 0;
    f.model = "QRN6116";
    f.pse_is_ir808ar = [] { return false; };
    return f;
}

struct CompatCase {
    const char *what;
    std::function<void(UpfwCompatFacts &)> change;
    int result;
    const char *message;  // "" when accepted
    bool mark_db_upgrade = false;
};

void release(UpfwCompatFacts &f, int N, int n, int P, int C, int Q)
{
    f.new_major = N;
    f.new_minor = n;
    f.new_patch = P;
    f.cur_major = C;
    f.cur_patch = Q;
}

const std::vector<CompatCase> &cases()
{
    static const std::vector<CompatCase> table = {
        {"plain 9.0.16 -> 9.0.17", [](UpfwCompatFacts &) {}, 0, ""},

        // a. OEM within 7.x
        {"a: OEM 7.1 -> 7.1", [](auto &f) { release(f, 7, 1, 20, 7, 20); f.oem = true; }, 0, ""},
        {"a: OEM 7.0 -> 7.0 without the special marker",
         [](auto &f) { release(f, 7, 0, 20, 7, 20); f.oem = true; }, 0, ""},
        {"a: special OEM refuses 7.0.x",
         [](auto &f) { release(f, 7, 0, 20, 7, 20); f.oem = f.special_oem = true; }, -1,
         "OEM special do not support update 7.0.x "},
        {"a: special OEM takes 7.1.x",
         [](auto &f) { release(f, 7, 1, 20, 7, 20); f.oem = f.special_oem = true; }, 0, ""},
        {"a: OEM wins over the PHY rule",
         [](auto &f) { release(f, 7, 1, 5, 7, 5); f.oem = true; f.phy_id = 0x11; }, 0, ""},

        // b. OEM 7.x -> 8.x and later
        {"b: OEM 7 -> 8", [](auto &f) { release(f, 8, 0, 1, 7, 20); f.oem = true; }, -1,
         "OEM do not support update 7.x to 8.x "},
        {"b: OEM 7 -> 9", [](auto &f) { release(f, 9, 0, 1, 7, 20); f.oem = true; }, -1,
         "OEM do not support update 7.x to 8.x "},
        {"b: special OEM 7 -> 8 (decided by the OEM rule, no database mark)",
         [](auto &f) { release(f, 8, 0, 1, 7, 20); f.oem = f.special_oem = true; }, 0, ""},

        // c. OEM back from 8.x
        {"c: OEM 8 -> 7", [](auto &f) { release(f, 7, 1, 20, 8, 1); f.oem = true; }, -1,
         "OEM do not support update 8.x to 7.x "},
        {"c: special OEM 8 -> 7 is refused too",
         [](auto &f) { release(f, 7, 1, 20, 8, 1); f.oem = f.special_oem = true; }, -1,
         "OEM do not support update 8.x to 7.x "},

        // d. OEM 8.x -> 9.x
        {"d: OEM 8 -> 9", [](auto &f) { release(f, 9, 0, 16, 8, 20); f.oem = true; }, -1,
         "OEM do not support update 8.x to 9.x "},
        {"d: special OEM 8 -> 9",
         [](auto &f) { release(f, 9, 0, 16, 8, 20); f.oem = f.special_oem = true; }, 0, ""},
        {"d: OEM 8 -> 8 passes the OEM rules",
         [](auto &f) { release(f, 8, 0, 16, 8, 20); f.oem = true; }, 0, ""},
        {"d: OEM 9 -> 9 passes the OEM rules", [](auto &f) { f.oem = true; }, 0, ""},

        // e. old releases need the 0x4D PHY
        {"e: 7.x.9 on another PHY", [](auto &f) { release(f, 7, 1, 9, 7, 9); f.phy_id = 0x4C; },
         -1, "do not support update < 8.x.10 data 0x4c\n"},
        {"e: unreadable PHY", [](auto &f) { release(f, 7, 1, 9, 7, 9); f.phy_id = -1; }, -1,
         "do not support update < 8.x.10 data 0xffffffff\n"},
        {"e: 7.x.10 on another PHY", [](auto &f) { release(f, 7, 1, 10, 7, 9); f.phy_id = 0x4C; },
         0, ""},
        {"e: 8.x.9 on another PHY", [](auto &f) { release(f, 8, 1, 9, 8, 9); f.phy_id = 0x4C; },
         0, ""},
        {"e: 7.x.9 on the 0x4D PHY", [](auto &f) { release(f, 7, 1, 9, 7, 9); }, 0, ""},

        // f. old releases and the power board
        {"f: I2C byte 68", [](auto &f) { release(f, 7, 1, 9, 7, 9); f.i2c_byte = 68; }, -1,
         "do not support update < 8.x.10 0x44\n"},
        {"f: I2C byte 227", [](auto &f) { release(f, 7, 1, 0, 7, 9); f.i2c_byte = 227; }, -1,
         "do not support update < 8.x.10 0xe3\n"},
        {"f: I2C byte 69", [](auto &f) { release(f, 7, 1, 9, 7, 9); f.i2c_byte = 69; }, 0, ""},
        {"f: unreadable I2C", [](auto &f) { release(f, 7, 1, 9, 7, 9); f.i2c_byte = -1; }, 0, ""},
        {"f: 7.x.10 with byte 68", [](auto &f) { release(f, 7, 1, 10, 7, 9); f.i2c_byte = 68; },
         0, ""},

        // g. no way back from 9.x
        {"g: 8 from 9", [](auto &f) { release(f, 8, 0, 5, 9, 16); }, -1,
         "do not support back to < 9.0.x from 9.0.x. "},
        {"g: 7 from 10", [](auto &f) { release(f, 7, 1, 20, 10, 1); }, -1,
         "do not support back to < 9.0.x from 9.0.x. "},
        {"g: 8 from 8", [](auto &f) { release(f, 8, 0, 5, 8, 16); }, 0, ""},
        {"g: 9.0.1 from 9.0.16", [](auto &f) { release(f, 9, 0, 1, 9, 16); }, 0, ""},

        // h. QRN5217 within 7.x
        {"h: 5217 7.x.9 -> 7.x.8",
         [](auto &f) { release(f, 7, 2, 8, 7, 9); f.model = "QRN5217-16"; }, -1,
         "5217 do not support update 7.x.9+ to 7.x.8- "},
        {"h: 5217 7.x.9 -> 7.x.9",
         [](auto &f) { release(f, 7, 2, 9, 7, 9); f.model = "QRN5217-16"; }, 0, ""},
        {"h: 5217 7.x.8 -> 7.x.8",
         [](auto &f) { release(f, 7, 2, 8, 7, 8); f.model = "QRN5217-16"; }, 0, ""},
        {"h: 5217 8.x.9 -> 7.x.8",
         [](auto &f) { release(f, 7, 2, 8, 8, 9); f.model = "QRN5217-16"; }, 0, ""},
        {"h: 5216 7.x.9 -> 7.x.8",
         [](auto &f) { release(f, 7, 2, 8, 7, 9); f.model = "QRN5216"; }, 0, ""},

        // i. QRN52 boards with the USART power control
        {"i: second number 1",
         [](auto &f) { release(f, 9, 0, 9, 9, 16); f.model = "QRN5243"; f.hard_version = "N2-1-V10-"; },
         -1, "5217 use USART control power do not support update to 9.x.10- "},
        {"i: third number 20",
         [](auto &f) { release(f, 9, 0, 9, 9, 16); f.model = "QRN5217"; f.hard_version = "N2-0-V20-"; },
         -1, "5217 use USART control power do not support update to 9.x.10- "},
        {"i: third number 19",
         [](auto &f) { release(f, 9, 0, 9, 9, 16); f.model = "QRN5217"; f.hard_version = "N2-0-V19-"; },
         0, ""},
        {"i: only the text before 'M' counts",
         [](auto &f) { release(f, 9, 0, 9, 9, 16); f.model = "QRN5217"; f.hard_version = "N2-0-V19-M1-V30-"; },
         0, ""},
        {"i: 'M' before the numbers leaves nothing to read",
         [](auto &f) { release(f, 9, 0, 9, 9, 16); f.model = "QRN5217"; f.hard_version = "MN2-5-V40-"; },
         0, ""},
        {"i: no hard_version",
         [](auto &f) { release(f, 9, 0, 9, 9, 16); f.model = "QRN5217"; }, 0, ""},
        {"i: 9.x.10 is fine",
         [](auto &f) { release(f, 9, 0, 10, 9, 16); f.model = "QRN5243"; f.hard_version = "N2-1-V10-"; },
         0, ""},
        {"i: 10.x.9 is fine",
         [](auto &f) { release(f, 10, 0, 9, 9, 16); f.model = "QRN5243"; f.hard_version = "N2-1-V10-"; },
         0, ""},
        {"i: other models",
         [](auto &f) { release(f, 9, 0, 9, 9, 16); f.model = "QRN5125"; f.hard_version = "N2-1-V10-"; },
         0, ""},

        // j. R610 boards with the IR808AR PoE controller
        {"j: QRN6125 9.x.14",
         [](auto &f) { release(f, 9, 0, 14, 9, 16); f.model = "QRN6125"; f.pse_is_ir808ar = [] { return true; }; },
         -1, "R610_ir808ar do not support update 9+.x.15+ to 9.x.15- "},
        {"j: QRN6143",
         [](auto &f) { release(f, 9, 1, 3, 9, 16); f.model = "QRN6143-P"; f.pse_is_ir808ar = [] { return true; }; },
         -1, "R610_ir808ar do not support update 9+.x.15+ to 9.x.15- "},
        {"j: QRN6158",
         [](auto &f) { release(f, 9, 1, 0, 9, 16); f.model = "QRN6158"; f.pse_is_ir808ar = [] { return true; }; },
         -1, "R610_ir808ar do not support update 9+.x.15+ to 9.x.15- "},
        {"j: 9.x.15 is fine",
         [](auto &f) { release(f, 9, 0, 15, 9, 16); f.model = "QRN6125"; f.pse_is_ir808ar = [] { return true; }; },
         0, ""},
        {"j: another PoE controller",
         [](auto &f) { release(f, 9, 0, 14, 9, 16); f.model = "QRN6125"; }, 0, ""},
        {"j: 10.x.14 is fine",
         [](auto &f) { release(f, 10, 0, 14, 9, 16); f.model = "QRN6125"; f.pse_is_ir808ar = [] { return true; }; },
         0, ""},
        {"j: other models are not probed",
         [](auto &f) { release(f, 9, 0, 14, 9, 16); f.model = "QRN6116"; f.pse_is_ir808ar = [] { ADD_FAILURE() << "probed"; return true; }; },
         0, ""},

        // k. accepted; the database is upgraded when leaving 7.x
        {"k: 7 -> 8 marks the database upgrade", [](auto &f) { release(f, 8, 0, 1, 7, 20); }, 0, "", true},
        {"k: 7 -> 9 marks the database upgrade", [](auto &f) { release(f, 9, 0, 16, 7, 20); }, 0, "", true},
        {"k: 8 -> 9 does not", [](auto &f) { release(f, 9, 0, 16, 8, 20); }, 0, "", false},
        {"k: 7 -> 7 does not", [](auto &f) { release(f, 7, 1, 20, 7, 20); }, 0, "", false},
    };
    return table;
}

} // namespace

TEST(CompatRules, EveryRuleAndItsBoundaries)
{
    for (const CompatCase &c : cases()) {
        SCOPED_TRACE(c.what);
        UpfwCompatFacts facts = plain_recorder();
        c.change(facts);
        const UpfwCompatDecision d = upfw_compat_decide(facts);
        EXPECT_EQ(d.result, c.result);
        EXPECT_EQ(d.message, c.message);
        EXPECT_EQ(d.mark_db_upgrade, c.mark_db_upgrade);
    }
}

TEST(CompatRules, HardVersionIsReadUpToTheFirstM)
{
    int a, b, c;
    upfw_parse_hard_version("N3-1-V22-M7-8-V9-", a, b, c);
    EXPECT_EQ(a, 3);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(c, 22);
    upfw_parse_hard_version("N3-1M-V22-", a, b, c);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(c, 0);
    upfw_parse_hard_version("garbage", a, b, c);
    EXPECT_EQ(a + b + c, 0);
}
