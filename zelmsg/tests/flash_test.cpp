// The flash settings partition on the emulated MTD devices (libzel_mtdemu): the
// image's bytes, the erase loop with its retries, and the reader's rules.
#include "zelmsg.h"
#include "store_support.h"

#include <gtest/gtest.h>
#include <signal.h>
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

TEST_F(Flash, CommitWritesFileBytesThenBufferTail)
{
    memset(buffer_setting, 'Q', SETTING_BUF_SIZE);
    const std::string file = "\nupnp=1\nftpserv=0" + kNul;
    write_bytes(kFile, file);
    ASSERT_EQ(file.size(), 18u);

    EXPECT_EQ(save_commit(), 65536);
    std::string img = image();
    ASSERT_EQ(img.size(), kPartition);
    EXPECT_EQ(img.substr(0, 18), file);
    EXPECT_TRUE(same_bytes(img.substr(18, kImage - 18), std::string(kImage - 18, 'Q')));
    EXPECT_TRUE(same_bytes(img.substr(kImage), erased(kPartition - kImage)));
    EXPECT_EQ(log(kMtd0), "unlock 0 65536\n");
    EXPECT_EQ(log(), "getinfo\nerase 0 65536 ok\nerase 65536 65536 ok\n");
}

TEST_F(Flash, CommitErasesEveryBlockOfThePartition)
{
    write_bytes(kMtd, std::string(kPartition, '\0'));
    knob(kMtd, "erasesize", "16384");
    write_bytes(kFile, "\na=1" + kNul);
    EXPECT_EQ(save_commit(), 65536);
    EXPECT_TRUE(same_bytes(image().substr(kImage), erased(kImage)));
    EXPECT_EQ(log(kMtd0), "unlock 0 16384\n");
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
    EXPECT_EQ(log(), "getinfo\nerase 0 65536 fail\nerase 0 65536 ok\nerase 65536 65536 ok\n");
    EXPECT_EQ(image().substr(0, 5), "\na=1" + kNul);
}

TEST_F(Flash, EraseThatFailsForGoodWritesNothing)
{
    put_image("\nold=1" + kNul);
    write_bytes(kFile, "\nnew=1" + kNul);
    knob(kMtd, "erase_fail", "-1");
    EXPECT_EQ(save_commit(), -2);
    EXPECT_EQ(log(), "getinfo\nerase 0 65536 fail\nerase 0 65536 fail\nerase 0 65536 fail\nerase 0 65536 fail\n");
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

// A power cut during a commit leaves a partition that reads as an empty store.
TEST_F(Flash, CutCommitReadsAsEmptyStore)
{
    for (const char *cut : {"erase", "write 10"}) {
        SCOPED_TRACE(cut);
        put_image("\nold=1" + kNul);
        write_bytes(kFile, "\nupnp=1\nhlink=1" + kNul);
        knob(kMtd, "cut", cut);
        pid_t pid = fork();
        if (pid == 0)
            _exit(save_commit() == 65536 ? 0 : 1);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        unlink((kMtd + ".cut").c_str());
        EXPECT_EQ(init_flash_var(), 1);
        EXPECT_EQ(read_bytes(kFile), kNul);
    }
}
} // namespace
