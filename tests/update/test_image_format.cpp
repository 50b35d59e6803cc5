// Upgrade images: the header the builder writes, the list and verify outputs byte for byte,
// cutting in both modes, and the edge cases of the format (short image, one flipped CRC bit,
// no "cmd" slot, a named slot of size 0, an image shorter than its header says).
#include "image.h"
#include "update_sandbox.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using upd::read_file;
using upd::write_file;

// Part contents of the test image, by builder file name; boot.jpg is empty (named slot, size 0).
const std::string BLD = upd::pattern(3000, 1);     // slot 0, padded to 4096
const std::string KER = upd::pattern(5000, 2);     // slot 1, padded to 6144
const std::string FS = upd::pattern(4096, 3);      // slot 2, already whole pages
const std::string CMD = "#!/bin/sh\necho cut utility\n";  // slot 3, padded to 2048

std::string padded(const std::string &s)
{
    std::string p = s;
    p.resize((s.size() + 2047) / 2048 * 2048, '\xff');
    return p;
}

uint32_t crc_of(const std::string &s)
{
    return crc32(0u, reinterpret_cast<const unsigned char *>(s.data()), s.size());
}

std::string hex8(uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", v);
    return b;
}

upfw_image_header header_of(const std::string &image)
{
    upfw_image_header h;
    std::memcpy(&h, image.data(), sizeof h);
    return h;
}

class ImageFormat : public ::testing::Test {
protected:
    void build(bool with_cmd = true)
    {
        parts = box.root + "/parts";
        upd::write_parts(parts, {{"uboot_2048M", BLD}, {"uImage", KER}, {"ubifs", FS},
                                 {"boot.jpg", ""}});
        if (with_cmd)
            upd::write_parts(parts, {{"update", CMD}});
        image = box.root + "/img.bin";
        upd::run_result r = box.update({"--build-image", parts, image});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(r.out, "Copy data to image!!!\n");
    }
    upd::sandbox box;
    std::string parts, image;
};

TEST_F(ImageFormat, BuilderWritesTheHeaderAndPadsPartsInPlace)
{
    build();
    const std::string img = read_file(image);
    ASSERT_EQ(img.size(), 2048u + 4096 + 6144 + 4096 + 2048);
    const upfw_image_header h = header_of(img);
    struct expect {
        const char *name;
        uint32_t offset, size, version, flag;
        const std::string *data;
    } slots[] = {
        {"bld", 2048, 4096, 0x0701021B, 0, &BLD},
        {"ker", 6144, 6144, 0x0701000D, 0, &KER},
        {"fs", 12288, 4096, 0x47090010, 1, &FS},
        {"cmd", 16384, 2048, 0x00010001, 1, &CMD},
    };
    for (int i = 0; i < 4; i++) {
        SCOPED_TRACE(slots[i].name);
        const upfw_part_record &p = h.part[i];
        EXPECT_STREQ(p.name, slots[i].name);
        EXPECT_EQ(p.offset, slots[i].offset);
        EXPECT_EQ(p.size, slots[i].size);
        EXPECT_EQ(p.version, slots[i].version);
        EXPECT_EQ(p.flag, slots[i].flag);
        EXPECT_EQ(p.load_addr, 0u);
        EXPECT_EQ(p.date, 0x07E60712u);
        EXPECT_EQ(p.crc, crc_of(padded(*slots[i].data)));
        EXPECT_EQ(img.substr(p.offset, p.size), padded(*slots[i].data));
    }
    // boot.jpg was empty: a named slot with offset and size 0; bld2 and tool are absent.
    EXPECT_STREQ(h.part[4].name, "jpg");
    EXPECT_EQ(h.part[4].size, 0u);
    EXPECT_EQ(h.part[4].version, 0x07010002u);
    EXPECT_EQ(h.part[5].name[0], '\0');
    EXPECT_EQ(h.part[6].name[0], '\0');
    EXPECT_EQ(std::string(h.release, 7), std::string("9.0.16\0", 7));
    int y, mo, d, hh, mm, ss;
    EXPECT_EQ(std::sscanf(h.build_time, "%4d-%2d-%2d %2d:%2d:%2d", &y, &mo, &d, &hh, &mm, &ss), 6);
    EXPECT_EQ(std::strlen(h.build_time), 19u);
    EXPECT_EQ(img.substr(600, 1448), std::string(1448, '\0'));
    // The part files themselves were padded with 0xFF.
    EXPECT_EQ(read_file(parts + "/uImage"), padded(KER));
}

TEST_F(ImageFormat, ListPrintsEveryNamedSlotByteForByte)
{
    build();
    upd::run_result r = box.update({"-l", image});
    ASSERT_EQ(r.status, 0) << r.err;
    auto block = [](const char *name, uint32_t offset, int kb, uint32_t flag, uint32_t crc,
                    const char *version) {
        return std::string(name) + ": \noffset  = " + hex8(offset) + "\nsize    = " +
               std::to_string(kb) + " K\naddr    = 0x00000000\nflag    = " + hex8(flag) +
               "\ndate    = 2022/7/18\ncrc32   = " + hex8(crc) + "\nversion = " + version + "\n";
    };
    const std::string expected =
        "List upfw " + image + " infomation.\nImage info: \n" +
        block("bld", 2048, 4, 0, crc_of(padded(BLD)), "7.1.2.27") +
        block("ker", 6144, 6, 0, crc_of(padded(KER)), "7.1.0.13") +
        block("fs", 12288, 4, 1, crc_of(padded(FS)), "71.9.0.16") +
        block("cmd", 16384, 2, 1, crc_of(padded(CMD)), "0.1.0.1") + "jpg: \nversion = 7.1.0.2\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
}

TEST_F(ImageFormat, ShortImageIsRefusedWithBadSize)
{
    const std::string path = box.root + "/short.bin";
    write_file(path, std::string(2047, '\0'));
    upd::run_result r = box.update({"-l", path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "List upfw " + path + " infomation.\nImage info: \n");
    EXPECT_EQ(r.err, "Bad size: \"/share/vkhn/src/boards/hi3536/firmware/update_IMG\" is no "
                     "valid image\n");

    // Exactly one header of zeros is a valid, empty image.
    write_file(path, std::string(2048, '\0'));
    r = box.update({"-l", path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "List upfw " + path + " infomation.\nImage info: \n");

    r = box.update({"-l", box.root + "/missing.bin"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("open output imager: No such file or directory\n"), std::string::npos);
}

TEST_F(ImageFormat, CutMode0TakesOnlyTheUtilityAndMakesItExecutable)
{
    build();
    // A longer leftover must not keep its tail.
    write_file(box.path("/dev/shm/update"), std::string(10000, 'x'));
    upd::run_result r = box.update({"-e", image});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Analysis image " + image + " \n==============name " + image +
                         "=\nCreate file: /dev/shm/update \n");
    EXPECT_EQ(read_file(box.path("/dev/shm/update")), padded(CMD));
    struct stat st {};
    ASSERT_EQ(stat(box.path("/dev/shm/update").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0777u);
    for (const char *other : {"/dev/shm/bld.bin", "/dev/shm/ker.bin", "/dev/shm/ubifs.bin"})
        EXPECT_FALSE(upd::file_exists(box.path(other))) << other;
    EXPECT_FALSE(upd::file_exists(box.path("/mnt/nand/upfw.log")));
}

TEST_F(ImageFormat, CutMode0WithoutCmdCreatesNothing)
{
    build(false);
    upd::run_result r = box.update({"-e", image});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Analysis image " + image + " \n==============name " + image + "=\n");
    EXPECT_FALSE(upd::file_exists(box.path("/dev/shm/update")));
}

TEST_F(ImageFormat, ImageShorterThanItsHeaderFailsTheCutAndIsLogged)
{
    build();
    const std::string img = read_file(image);
    write_file(image, img.substr(0, img.size() - 1000));  // the cmd part loses its end
    upd::run_result r = box.update({"-e", image});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("write /dev/shm/update faild\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Analysis " + image + " faild!\n"), std::string::npos) << r.err;
    const std::string log = read_file(box.path("/mnt/nand/upfw.log"));
    ASSERT_EQ(log.size(), 512u);
    EXPECT_EQ(log.substr(0, 4), std::string("-1\n\0", 4));
    EXPECT_EQ(log.substr(256, 256).c_str(), "Analysis " + image + " faild!\n\n");
}

// In-process: verification and the other cutting mode, with their exact outputs.
class ImageInProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        const upd::sandbox &box = upd::process_sandbox();
        root = box.root;
        parts = root + "/parts-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        upd::write_parts(parts, {{"uboot_2048M", BLD}, {"uImage", KER}, {"ubifs", FS},
                                 {"update", CMD}, {"boot.jpg", ""}});
        image = parts + ".bin";
        captured c = upd::capture([&] { return UPFW_creat_img_from(parts.c_str(), image.c_str()); });
        ASSERT_EQ(c.result, 0) << c.err;
    }
    using captured = upd::captured;
    std::string root, parts, image;
};

std::string verify_block(const char *name, uint32_t offset, uint32_t size, uint32_t flag,
                         uint32_t crc, const char *version)
{
    return std::string(name) + ": \noffset  = " + hex8(offset) + "\nsize    = " + hex8(size) +
           " (" + std::to_string(size / 1024) + " K)\naddr    = 0x00000000\nflag    = " +
           hex8(flag) + "\ndate    = 2022/7/18\ncrc32   = " + hex8(crc) + "\nversion = " +
           version + "\n";
}

TEST_F(ImageInProcess, VerifyChecksEveryUsedSlot)
{
    captured c = upd::capture([&] { return UPFW_verify(image.c_str(), nullptr); });
    EXPECT_EQ(c.result, 0) << c.err;
    EXPECT_EQ(c.out, verify_block("bld", 2048, 4096, 0, crc_of(padded(BLD)), "7.1.2.27") +
                         verify_block("ker", 6144, 6144, 0, crc_of(padded(KER)), "7.1.0.13") +
                         verify_block("fs", 12288, 4096, 1, crc_of(padded(FS)), "71.9.0.16") +
                         verify_block("cmd", 16384, 2048, 1, crc_of(padded(CMD)), "0.1.0.1"));
    EXPECT_EQ(c.err, "");
}

TEST_F(ImageInProcess, OneFlippedCrcBitStopsVerificationAtThatSlot)
{
    std::string img = read_file(image);
    img[80 * 1 + 76] ^= 0x10;  // stored CRC of slot 1, "ker"
    write_file(image, img);
    captured c = upd::capture([&] { return UPFW_verify(image.c_str(), nullptr); });
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "check_img_crc ker failed\n");
    EXPECT_EQ(c.out, verify_block("bld", 2048, 4096, 0, crc_of(padded(BLD)), "7.1.2.27") +
                         verify_block("ker", 6144, 6144, 0, crc_of(padded(KER)) ^ 0x10,
                                      "7.1.0.13"));

    // A flipped data bit is caught the same way.
    img = read_file(image);
    img[80 + 76] ^= 0x10;
    img[12288 + 100] ^= 0x01;  // inside "fs"
    write_file(image, img);
    c = upd::capture([&] { return UPFW_verify(image.c_str(), nullptr); });
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "check_img_crc fs failed\n");
    EXPECT_EQ(c.out.find("cmd: "), std::string::npos);
}

TEST_F(ImageInProcess, OtherModeCutsSlotsZeroToThree)
{
    for (const char *f : {"/dev/shm/bld.bin", "/dev/shm/ker.bin", "/dev/shm/ubifs.bin",
                          "/dev/shm/update", "/dev/shm/boot.jpg"})
        unlink((root + f).c_str());
    captured c = upd::capture([&] { return UPFW_analysis_img(image.c_str(), 1); });
    EXPECT_EQ(c.result, 0) << c.err;
    EXPECT_EQ(c.out, "==============name " + image +
                         "=\nCreate file: /dev/shm/bld.bin \nCreate file: /dev/shm/ker.bin \n"
                         "Create file: /dev/shm/ubifs.bin \nCreate file: /dev/shm/update \n");
    EXPECT_EQ(read_file(root + "/dev/shm/bld.bin"), padded(BLD));
    EXPECT_EQ(read_file(root + "/dev/shm/ker.bin"), padded(KER));
    EXPECT_EQ(read_file(root + "/dev/shm/ubifs.bin"), padded(FS));
    EXPECT_EQ(read_file(root + "/dev/shm/update"), padded(CMD));
    EXPECT_FALSE(upd::file_exists(root + "/dev/shm/boot.jpg"));  // named, size 0: skipped
}

TEST_F(ImageInProcess, MissingPathAndSandboxPartsDirectory)
{
    captured c = upd::capture([] { return UPFW_list_intfo(nullptr); });
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.err, "Please input datafile\n");
    EXPECT_EQ(c.out, "");

    // UPFW_creat_img takes its parts from NVR_IMAGE_PARTS_DIR in a sandbox and writes the
    // builder's output inside the sandbox.
    setenv("NVR_IMAGE_PARTS_DIR", parts.c_str(), 1);
    c = upd::capture([] { return UPFW_creat_img(); });
    unsetenv("NVR_IMAGE_PARTS_DIR");
    ASSERT_EQ(c.result, 0) << c.err;
    const std::string built = read_file(root + UPFW_BUILD_OUTPUT);
    const std::string reference = read_file(image);
    ASSERT_EQ(built.size(), reference.size());
    EXPECT_EQ(built.substr(0, 560), reference.substr(0, 560));  // all records
    EXPECT_EQ(built.substr(2048), reference.substr(2048));
}

} // namespace
