// Compatibility rules of an upgrade image: whether the image's firmware release may replace the
// one this recorder runs. UPFW_version_check (install.h) gathers the facts (image header, the
// running file-system entry, boot-loader platform, PHY id, I2C byte, model, OEM markers, the
// "hard_version" boot variable) and hands them to upfw_compat_decide, which applies the rules in
// their fixed order; the decision is a plain function of the facts so that the rule table can be
// tested case by case.
#pragma once
#include <functional>
#include <string>

struct UpfwCompatFacts {
    int new_major = 0;  // N: byte 2 of the image's "fs" version
    int new_minor = 0;  // n: byte 1
    int new_patch = 0;  // P: byte 0
    int cur_major = 0;  // C: byte 2 of the running file-system entry's version
    int cur_patch = 0;  // Q: byte 0
    bool oem = false;          // "/mnt/nand2/oem.db" exists
    bool special_oem = false;  // "/opt/app/bin/special_oem.cfg" exists
    int phy_id = -1;           // register 2 of the Ethernet PHY, -1 when unreadable
    int i2c_byte = -1;         // register 67 of I2C device 0x42, -1 when unreadable
    std::string model;         // model name
    std::string hard_version;  // boot variable "hard_version" ("" when absent)
    // The PoE-controller test; asked only when a rule needs it (it prints what it found).
    std::function<bool()> pse_is_ir808ar;
};

struct UpfwCompatDecision {
    int result = 0;            // 0 accepted, -1 refused
    std::string message;       // the refusal text ("" when accepted)
    bool mark_db_upgrade = false;  // accepted 7.x -> 8.x+: create "/mnt/nand/updb.cfg"
};

UpfwCompatDecision upfw_compat_decide(const UpfwCompatFacts &facts);

// "N%d-%d-V%d-" read from the text up to its first 'M'; numbers not read stay 0.
void upfw_parse_hard_version(const std::string &text, int &first, int &second, int &third);
