// The flash settings partition on the emulated MTD devices (libzel_mtdemu): the
// image's bytes, the erase loop with its retries, and the reader's rules.
#include "zelmsg.h"
#include "zelmsg_tool.h"
#include "store_support.h"
#include "../os_calls.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

using zeltest::Capture;
using zeltest::exists;
using zeltest::read_bytes;
using zeltest::same_bytes;
using zeltest::write_bytes;

ZELTEST_REQUIRE_PRIVATE_ROOT();

namespace {
const std::string kNul(1, '\0');
const std::string kFile = SETTING_FILE;
const std::string kMtd = SETTING_DEVICE;
const std::string kMtd0 = SETTING_UNLOCK_DEVICE;
constexpr size_t kImage = 65536;
constexpr size_t kPartition = 2 * kImage;

std::string erased(size_t n)
{
    return std::string(n, '\xff');
}

void knob(const std::string &dev, const char *name, const std::string &text)
{
    write_bytes(dev + "." + name, text);
}

class Flash : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *k : {"erasesize", "getinfo_fail", "erase_fail", "open_fail", "cut", "log", "nor"}) {
            unlink((kMtd + "." + k).c_str());
            unlink((kMtd0 + "." + k).c_str());
        }
        unlink(SETTING_FILE);
        write_bytes(kMtd, erased(kPartition));
        write_bytes(kMtd0, erased(4 * kImage));
        // Every write in these tests must land on erased flash.
        knob(kMtd, "nor", "");
        knob(kMtd, "log", "");
        knob(kMtd0, "log", "");
    }
    static std::string image() { return read_bytes(kMtd); }
    static std::string log(const std::string &dev = kMtd) { return read_bytes(dev + ".log"); }
    // Puts an image (padded with erased bytes) on the partition, bypassing the library.
    static void put_image(const std::string &bytes) { write_bytes(kMtd, bytes + erased(kPartition - bytes.size())); }
};

// Little-endian 32-bit number, as the spare copy's trailer holds it.
std::string le32(uint32_t v)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>(v >> (8 * i));
    return out;
}

TEST_F(Flash, CommitWritesSpareCopyThenImage)
{
    memset(buffer_setting, 'Q', SETTING_BUF_SIZE);
    // "123456789" is CRC-32's check text: its CRC is 0xCBF43926.
    write_bytes(kFile, "123456789" + kNul);

    EXPECT_EQ(save_commit(), 65536);
    std::string img = image();
    ASSERT_EQ(img.size(), kPartition);
    const std::string tail(kImage - 10, 'Q');
    // Offset 0 as every reader knows it: the file's bytes, then the buffer's tail.
    EXPECT_TRUE(same_bytes(img.substr(0, kImage), "123456789" + kNul + tail));
    // The spare copy: the same bytes but for the last 16, which hold the trailer.
    EXPECT_TRUE(same_bytes(img.substr(kImage, kImage - 16), "123456789" + kNul + tail.substr(16)));
    EXPECT_EQ(img.substr(2 * kImage - 16), "ZSP1" + le32(1) + le32(9) + le32(0xCBF43926));
    EXPECT_EQ(log(kMtd0), "unlock 0 65536\n");
    EXPECT_EQ(log(), "getinfo\nerase 65536 65536 ok\nerase 0 65536 ok\n");

    // Each commit counts on from the spare copy it replaces.
    write_bytes(kFile, "\na=1" + kNul);
    EXPECT_EQ(save_commit(), 65536);
    EXPECT_EQ(image().substr(2 * kImage - 16, 8), "ZSP1" + le32(2));

    // The same settings again: nothing erased, nothing written, whatever the tail.
    memset(buffer_setting, 'R', SETTING_BUF_SIZE);
    write_bytes(kFile, "");
    write_bytes(kMtd + ".log", "");
    const std::string before = image();
    write_bytes(kFile, "\na=1" + kNul);
    EXPECT_EQ(save_commit(), 65536);
    EXPECT_EQ(log(), "getinfo\n");
    EXPECT_TRUE(same_bytes(image(), before));
}

TEST_F(Flash, CommitErasesOnlyTheBlocksOfEachCopy)
{
    write_bytes(kMtd, std::string(kPartition, '\0') + std::string(kImage, '\0'));
    knob(kMtd, "erasesize", "16384");
    write_bytes(kFile, "\na=1" + kNul);
    EXPECT_EQ(save_commit(), 65536);
    EXPECT_EQ(log(), "getinfo\nerase 65536 16384 ok\nerase 81920 16384 ok\nerase 98304 16384 ok\n"
                     "erase 114688 16384 ok\nerase 0 16384 ok\nerase 16384 16384 ok\nerase 32768 16384 ok\n"
                     "erase 49152 16384 ok\n");
    // Blocks beyond the two copies are left alone.
    EXPECT_TRUE(same_bytes(image().substr(kPartition), std::string(kImage, '\0')));
    EXPECT_EQ(log(kMtd0), "unlock 0 16384\n");
}

// Without room for a spare copy (one 64 KiB block, or blocks as large as the
// partition) a commit erases the whole partition and writes the image, as it always did.
TEST_F(Flash, PartitionWithoutRoomKeepsTheSingleImage)
{
    for (const char *geometry : {"65536:65536", "131072:131072"}) {
        SCOPED_TRACE(geometry);
        size_t size = strtoul(geometry, nullptr, 10);
        write_bytes(kMtd, std::string(size, '\0'));
        knob(kMtd, "erasesize", strchr(geometry, ':') + 1);
        write_bytes(kMtd + ".log", "");
        memset(buffer_setting, 0, SETTING_BUF_SIZE);
        write_bytes(kFile, "\na=1" + kNul);
        EXPECT_EQ(save_commit(), 65536);
        std::string want = "\na=1" + kNul + std::string(kImage - 5, '\0') + erased(size - kImage);
        EXPECT_TRUE(same_bytes(image(), want));
        std::string erases = size == kImage ? "erase 0 65536 ok\n" : "erase 0 131072 ok\n";
        EXPECT_EQ(log(), "getinfo\ngetinfo\n" + erases);
        // The same image again: no erase.
        EXPECT_EQ(save_commit(), 65536);
        EXPECT_EQ(log(), "getinfo\ngetinfo\n" + erases + "getinfo\n");
    }
}

// A text too long for the spare copy is committed as a single image, and the spare
// copy of older settings goes with the erase: it must not come back at the next boot.
TEST_F(Flash, TextTooLongForTheSpareCopyDropsIt)
{
    write_bytes(kFile, "\nold=1" + kNul);
    ASSERT_EQ(save_commit(), 65536);
    const std::string text = "\nk=" + std::string(65520 - 3, 'v');
    write_bytes(kFile, text + kNul);
    EXPECT_EQ(save_commit(), 65536);
    EXPECT_TRUE(same_bytes(image().substr(kImage), erased(kImage)));
    EXPECT_EQ(init_flash_var(), 1);
    EXPECT_TRUE(same_bytes(read_bytes(kFile), text + kNul));
}

TEST_F(Flash, CommitAndInitRoundTrip)
{
    write_bytes(kFile, kNul);
    ASSERT_GT(write_str("upnp", "1"), 0);
    ASSERT_GT(write_str("wireless", "0"), 0);
    const std::string committed = read_bytes(kFile);
    ASSERT_EQ(save_commit(), 65536);

    write_bytes(kFile, "\nupnp=0" + kNul);
    memset(buffer_setting, 'Z', SETTING_BUF_SIZE);
    EXPECT_EQ(init_flash_var(), 1);
    EXPECT_TRUE(same_bytes(read_bytes(kFile), committed));
}

TEST_F(Flash, InitReadsImagesAsTheReaderRulesSay)
{
    // Erased partition: empty store.
    EXPECT_EQ(init_flash_var(), 1);
    EXPECT_EQ(read_bytes(kFile), kNul);

    // Leading erased bytes are no part of the text.
    put_image("\xff\xff\nupnp=1" + kNul);
    EXPECT_EQ(init_flash_var(), 1);
    EXPECT_EQ(read_bytes(kFile), "\nupnp=1" + kNul);

    // An erased byte after records drops everything up to it.
    put_image("\na=1\nb=2\xff\nc=3" + kNul + "\nd=4");
    EXPECT_EQ(init_flash_var(), 1);
    EXPECT_EQ(read_bytes(kFile), "\nc=3" + kNul);

    // Text without "=" is an empty store.
    put_image("\nnothing here" + kNul);
    EXPECT_EQ(init_flash_var(), 1);
    EXPECT_EQ(read_bytes(kFile), kNul);

    // No NUL and no erased byte in the image: all 65536 characters are the text.
    std::string full = "\nk=" + std::string(kImage - 3, 'v');
    put_image(full);
    EXPECT_EQ(init_flash_var(), 1);
    EXPECT_TRUE(same_bytes(read_bytes(kFile), full + kNul));
}

TEST_F(Flash, InitLeavesFileAloneWhenFlashUnreadable)
{
    write_bytes(kFile, "\nupnp=1" + kNul);
    unlink(kMtd.c_str());
    Capture err(2);
    EXPECT_EQ(init_flash_var(), 0);
    EXPECT_EQ(err.text(), "open: No such file or directory\nerror reading flash: [/dev/mtd1] size 010000\r\n");
    EXPECT_EQ(read_bytes(kFile), "\nupnp=1" + kNul);
}

TEST_F(Flash, ShortPartitionEndsTheTextWhereTheReadEnds)
{
    memset(buffer_setting, 0, SETTING_BUF_SIZE);
    memcpy(buffer_setting + 40000, "\nstale=1", sizeof "\nstale=1");
    write_bytes(kMtd, "\na=1" + erased(32768 - 4));
    EXPECT_EQ(init_flash_var(), 1);
    EXPECT_EQ(read_bytes(kFile), kNul);
}

TEST_F(Flash, EraseRetriesAfterReopening)
{
    write_bytes(kFile, "\na=1" + kNul);
    knob(kMtd, "erase_fail", "1");
    EXPECT_EQ(save_commit(), 65536);
    EXPECT_EQ(log(), "getinfo\nerase 65536 65536 fail\nerase 65536 65536 ok\nerase 0 65536 ok\n");
    EXPECT_EQ(image().substr(0, 5), "\na=1" + kNul);
}

TEST_F(Flash, EraseThatFailsForGoodWritesNothing)
{
    put_image("\nold=1" + kNul);
    write_bytes(kFile, "\nnew=1" + kNul);
    knob(kMtd, "erase_fail", "-1");
    EXPECT_EQ(save_commit(), -2);
    EXPECT_EQ(log(), "getinfo\nerase 65536 65536 fail\nerase 65536 65536 fail\nerase 65536 65536 fail\n"
                     "erase 65536 65536 fail\n");
    EXPECT_EQ(image().substr(0, 7), "\nold=1" + kNul);
}

TEST_F(Flash, EraseGivesUpAfterThreeRetries)
{
    knob(kMtd, "erase_fail", "3");
    EXPECT_EQ(mtd_erase_setting(), 0);
    knob(kMtd, "erase_fail", "4");
    EXPECT_EQ(mtd_erase_setting(), -2);
    // A failure on the second block counts on its own.
    knob(kMtd, "erasesize", "32768");
    unlink((kMtd + ".log").c_str());
    knob(kMtd, "log", "");
    write_bytes(kMtd + ".erase_fail", "0");
    EXPECT_EQ(mtd_erase_setting_(SETTING_DEVICE), 0);
    EXPECT_EQ(log(), "getinfo\nerase 0 32768 ok\nerase 32768 32768 ok\nerase 65536 32768 ok\nerase 98304 32768 ok\n");
}

TEST_F(Flash, UnreadableGeometry)
{
    put_image("\nold=1" + kNul);
    write_bytes(kFile, "\nnew=1" + kNul);
    knob(kMtd, "getinfo_fail", "");
    EXPECT_EQ(mtd_erase_setting(), -1);
    EXPECT_EQ(flash_write_0(SETTING_DEVICE), -2);
    EXPECT_EQ(save_commit(), -1);
    EXPECT_EQ(image().substr(0, 7), "\nold=1" + kNul);
}

TEST_F(Flash, UnopenableDevice)
{
    write_bytes(kFile, "\nnew=1" + kNul);
    unlink(kMtd.c_str());
    Capture err(2);
    char buf[16];
    EXPECT_EQ(flash_read_setting_device(buf), -1);
    EXPECT_EQ(mtd_erase_setting(), -1);
    EXPECT_EQ(flash_write_0("/any/path"), -1);
    EXPECT_EQ(save_commit(), -1);
    EXPECT_EQ(err.text(), "open: No such file or directory\nopen: No such file or directory\n");
}

TEST_F(Flash, MissingSettingsFileLeavesFlashUntouched)
{
    put_image("\nold=1" + kNul);
    Capture err(2);
    EXPECT_EQ(flash_write_setting_device(SETTING_FILE), -1);
    EXPECT_EQ(err.text(), "File open r error /tmp/setting.txt\r\n");
    EXPECT_EQ(image().substr(0, 7), "\nold=1" + kNul);
    EXPECT_EQ(log(), "");
}

TEST_F(Flash, WriteZeroProgramsWholePartitionWithoutErase)
{
    put_image("\nold=1" + kNul);
    EXPECT_EQ(flash_write_0("ignored"), 512);
    EXPECT_TRUE(same_bytes(image(), std::string(kPartition, '\0')));
    EXPECT_EQ(log(), "getinfo\n");
    // A commit over programmed flash only works because it erases first.
    write_bytes(kFile, "\na=1" + kNul);
    EXPECT_EQ(save_commit(), 65536);
}

TEST_F(Flash, DescriptorZeroIsADescriptor)
{
    put_image("\nupnp=1" + kNul);
    static char buf[kImage];
    int saved = dup(0);
    close(0);
    int n = flash_read_setting_device(buf);
    int e = mtd_erase_setting();
    int w = flash_write_0("x");
    dup2(saved, 0);
    close(saved);
    EXPECT_EQ(n, 65536);
    EXPECT_EQ(std::string(buf, 8), "\nupnp=1" + kNul);
    EXPECT_EQ(e, 0);
    EXPECT_EQ(w, 512);
}

// Starts from "\nold=1" committed, cuts the commit of new settings at one point, and
// returns what the next boot reads.
std::string boot_after_cut(const char *cut)
{
    write_bytes(kFile, "\nold=1" + kNul);
    EXPECT_EQ(save_commit(), 65536);
    write_bytes(kFile, "\nupnp=1\nhlink=1" + kNul);
    knob(kMtd, "cut", cut);
    pid_t pid = fork();
    if (pid == 0)
        _exit(save_commit() == 65536 ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "not cut";
    unlink((kMtd + ".cut").c_str());
    unlink(SETTING_FILE);
    EXPECT_EQ(init_flash_var(), 1);
    return read_bytes(kFile);
}

// A cut before the spare copy is whole leaves the old image; a cut after it leaves the
// spare copy, which the boot writes back to offset 0.
TEST_F(Flash, CutCommitLeavesOldOrNewSettingsWhole)
{
    const std::string old_file = "\nold=1" + kNul, new_file = "\nupnp=1\nhlink=1" + kNul;
    const struct {
        const char *cut;
        bool now_new;
    } points[] = {
        {"erase 1", false},       {"erase 1 torn", false}, {"write 1 0", false},   {"write 1 15", false},
        {"write 1 65535", false}, {"erase 2", true},       {"erase 2 torn", true}, {"write 2 0", true},
        {"write 2 15", true},     {"write 2 65535", true},
    };
    for (const auto &p : points) {
        SCOPED_TRACE(p.cut);
        EXPECT_TRUE(same_bytes(boot_after_cut(p.cut), p.now_new ? new_file : old_file));
        // Offset 0 holds what the boot read, so the next boot reads it without a write.
        write_bytes(kMtd + ".log", "");
        EXPECT_EQ(init_flash_var(), 1);
        EXPECT_TRUE(same_bytes(read_bytes(kFile), p.now_new ? new_file : old_file));
        EXPECT_EQ(image().substr(0, p.now_new ? 16 : 7), p.now_new ? new_file : old_file);
        EXPECT_EQ(log().find("erase"), std::string::npos);
    }
}

// On a partition without room a cut between the erase and the text's NUL still
// empties the store.
TEST_F(Flash, CutCommitWithoutRoomEmptiesTheStore)
{
    write_bytes(kMtd, erased(kImage));
    // The knobs' older forms too: "erase" (after the last block) and "write N".
    for (const char *cut : {"erase 1", "erase", "write 1 10", "write 10"}) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(boot_after_cut(cut), kNul);
    }
}

// A cut while the boot writes the spare copy back to offset 0 leaves the spare copy
// valid: the next boot takes it again.
TEST_F(Flash, CutRestoreLeavesTheSpareCopyToTheNextBoot)
{
    const std::string new_file = "\nupnp=1\nhlink=1" + kNul;
    for (const char *cut : {"erase 1", "erase 1 torn", "write 1 0", "write 1 10", "write 1 65536"}) {
        SCOPED_TRACE(cut);
        // The new settings' spare copy whole, offset 0 torn by the cut commit.
        write_bytes(kFile, "\nold=1" + kNul);
        ASSERT_EQ(save_commit(), 65536);
        write_bytes(kFile, new_file);
        knob(kMtd, "cut", "erase 2 torn");
        pid_t pid = fork();
        if (pid == 0)
            _exit(save_commit());
        waitpid(pid, nullptr, 0);
        knob(kMtd, "cut", cut);
        pid = fork();
        if (pid == 0)
            _exit(init_flash_var());
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status)) << "not cut";
        unlink((kMtd + ".cut").c_str());
        unlink(SETTING_FILE);
        EXPECT_EQ(init_flash_var(), 1);
        EXPECT_TRUE(same_bytes(read_bytes(kFile), new_file));
    }
}

// Commits the text in a child process that the knob cuts at one point.
void cut_commit(const std::string &file, const char *cut)
{
    write_bytes(kFile, file);
    knob(kMtd, "cut", cut);
    pid_t pid = fork();
    if (pid == 0)
        _exit(save_commit());
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "not cut at " << cut;
    unlink((kMtd + ".cut").c_str());
}

// A boot that could not put the spare copy back leaves it the one whole copy: the
// next commit writes offset 0 first, so a cut anywhere in it boots the old settings
// or the new ones. A commit's result tells what the next boot reads: once the spare
// copy holds the new settings, a failing erase of offset 0 does not fail the commit.
TEST_F(Flash, SpareCopyStaysWholeUntilOffsetZeroIs)
{
    const std::string a1 = "\na=1" + kNul, a2 = "\na=2" + kNul, a3 = "\na=3" + kNul;
    // The sequence of a failed restore, then commits cut at each point.
    const struct {
        const char *cut;
        const std::string &boots;
    } cuts[] = {
        {"erase 1", a2},       {"erase 1 torn", a2}, {"write 1 0", a2},    {"write 1 100", a2},
        {"write 1 65536", a2}, {"erase 2", a3},      {"erase 2 torn", a3}, {"write 2 100", a3},
    };
    for (const auto &c : cuts) {
        SCOPED_TRACE(c.cut);
        write_bytes(kFile, a1);
        ASSERT_EQ(save_commit(), 65536);
        cut_commit(a2, "erase 2");
        // The boot reads the spare copy but cannot erase offset 0.
        knob(kMtd, "erase_fail", "-1");
        EXPECT_EQ(init_flash_var(), 1);
        EXPECT_EQ(read_bytes(kFile), a2);
        unlink((kMtd + ".erase_fail").c_str());
        cut_commit(a3, c.cut);
        unlink(SETTING_FILE);
        EXPECT_EQ(init_flash_var(), 1);
        EXPECT_EQ(read_bytes(kFile), c.boots);
    }

    // The spare copy holds a=2 whole, offset 0 still a=1; offset 0 cannot be erased.
    write_bytes(kFile, a1);
    ASSERT_EQ(save_commit(), 65536);
    cut_commit(a2, "write 1 65536");
    knob(kMtd, "erase_fail", "-1");
    write_bytes(kFile, a2);
    EXPECT_EQ(save_commit(), 65536);
    unlink(SETTING_FILE);
    EXPECT_EQ(init_flash_var(), 1);
    EXPECT_EQ(read_bytes(kFile), a2);
    // While nothing is written, the settings the next boot would not read fail.
    write_bytes(kFile, a3);
    EXPECT_EQ(save_commit(), -2);
    unlink(SETTING_FILE);
    EXPECT_EQ(init_flash_var(), 1);
    EXPECT_EQ(read_bytes(kFile), a2);
}

// The boot takes the spare copy only when it is whole and offset 0 differs from it;
// otherwise offset 0 is read exactly as before.
TEST_F(Flash, InitTrustsOnlyAWholeSpareCopy)
{
    write_bytes(kFile, "\nold=1" + kNul);
    ASSERT_EQ(save_commit(), 65536);
    const std::string committed = image();
    const struct {
        const char *name;
        size_t at;
        std::string bytes;
        std::string reads;
    } damages[] = {
        {"offset 0 erased", 0, erased(kImage), "\nold=1" + kNul},
        {"offset 0 cut inside the text", 3, erased(kImage - 3), "\nold=1" + kNul},
        {"offset 0 holds an empty text", 0, kNul, "\nold=1" + kNul},
        {"trailer CRC wrong", 2 * kImage - 1, "\x01", "\nold=1" + kNul},
        {"spare text changed", kImage + 1, "p", "\nold=1" + kNul},
        {"trailer CRC wrong, offset 0 erased", 2 * kImage - 1, "\x01", kNul},
        {"spare erased, offset 0 cut", kImage, erased(kImage), kNul},
    };
    for (const auto &d : damages) {
        SCOPED_TRACE(d.name);
        std::string img = committed;
        if (d.reads == kNul && d.at >= kImage)
            img.replace(0, kImage, erased(kImage));
        img.replace(d.at, d.bytes.size(), d.bytes);
        write_bytes(kMtd, img);
        // zelctl's report reads what the boot reads, writing nothing and leaving the
        // settings this process holds alone.
        memcpy(buffer_setting, "\nmine=1", sizeof "\nmine=1");
        zelmsg_flash_report report;
        ASSERT_EQ(zelmsg_read_flash_report(&report), 0);
        EXPECT_EQ(std::string(report.text) + kNul, d.reads);
        EXPECT_STREQ(buffer_setting, "\nmine=1");
        EXPECT_TRUE(same_bytes(image(), img));
        write_bytes(kMtd + ".log", "");
        EXPECT_EQ(init_flash_var(), 1);
        EXPECT_EQ(read_bytes(kFile), d.reads);
        bool restored = d.at < kImage;
        EXPECT_EQ(log().find("erase 0 65536 ok") != std::string::npos, restored);
        if (restored) {
            const std::string back = committed.substr(0, kImage - 16) + std::string(16, '\0');
            EXPECT_TRUE(same_bytes(image().substr(0, kImage), back));
        }
    }
}

namespace seam {
int failing = 0;

ssize_t read_file(int fd, void *buf, size_t count)
{
    if (failing != 0) {
        errno = failing;
        return -1;
    }
    return zelmsg::real_os.read_file(fd, buf, count);
}

ssize_t write_file(int fd, const void *buf, size_t count)
{
    if (failing != 0) {
        errno = failing;
        return -1;
    }
    return zelmsg::real_os.write_file(fd, buf, count);
}
} // namespace seam

// The flash code reads and writes the device through the library's OS table, where
// they fail here as on a worn device: the boot leaves the file alone, the commit
// reports the failure and offset 0 keeps the old settings.
TEST_F(Flash, DeviceReadsAndWritesThatFailKeepWhatWasThere)
{
    put_image("\nold=1" + kNul);
    write_bytes(kFile, "\nnew=1" + kNul);
    zelmsg::os.read_file = seam::read_file;
    zelmsg::os.write_file = seam::write_file;
    seam::failing = EIO;
    Capture err(2);
    int boot = init_flash_var();
    int commit = save_commit();
    seam::failing = 0;
    zelmsg::os = zelmsg::real_os;
    EXPECT_EQ(boot, 0);
    EXPECT_EQ(err.text(), "error reading flash: [/dev/mtd1] size 010000\r\n");
    EXPECT_EQ(read_bytes(kFile), "\nnew=1" + kNul);
    EXPECT_EQ(commit, -1);
    EXPECT_EQ(image().substr(0, 7), "\nold=1" + kNul);
}
} // namespace
