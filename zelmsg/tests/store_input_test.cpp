// Inputs found by the store's differential fuzz target: keys that no record can
// carry, and destinations without room for a terminator.
#include "zelmsg.h"
#include "store_support.h"
#include "own_file.h"
#include "../os_calls.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using zeltest::read_bytes;
using zeltest::write_bytes;

ZELTEST_REQUIRE_PRIVATE_ROOT();

namespace {
const std::string kNul(1, '\0');

// The pattern "\nkey=" of such a key spans two records: it used to find the second
// record's value, and remove_var used to drop the first record.
TEST(StoreInput, KeysWithLineFeedOrEqualsNameNoRecord)
{
    const std::string text = "\nb=1\na=2\nc==x";
    write_bytes(SETTING_FILE, text + kNul);
    char buf[64];
    for (const char *key : {"b=1\na", "\nb", "b=", "c=", "=x"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(get_var(buf, sizeof buf, key), 0);
        EXPECT_EQ(get_var_mem(key), nullptr);
        EXPECT_EQ(remove_var(key), 0);
        EXPECT_EQ(read_bytes(SETTING_FILE), text + kNul);
    }
    // The records themselves are still found by their own keys.
    EXPECT_EQ(get_var(buf, sizeof buf, "c"), 2);
    EXPECT_STREQ(buf, "=x");
    EXPECT_EQ(remove_var("b"), 1);
    EXPECT_EQ(read_bytes(SETTING_FILE), "\na=2\nc==x" + kNul);
}

TEST(StoreInput, DestinationWithoutRoomIsNeverWritten)
{
    char dest[2] = {'Z', 'Z'};
    for (int size : {0, -1, INT_MIN}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(strcpy_del2(dest + 1, "", size, '\n'), 0);
        EXPECT_EQ(strcpy_del2(dest + 1, "\nx", size, '\n'), 0);
        EXPECT_EQ(strcpy_del2(dest + 1, "abc", size, '\n'), INT_MAX);
        EXPECT_EQ(dest[1], 'Z');
    }
    write_bytes(SETTING_FILE, "\nempty=\nfull=1" + kNul);
    EXPECT_EQ(get_var(dest + 1, 0, "empty"), 0);
    EXPECT_EQ(get_var(dest + 1, 0, "full"), INT_MAX);
    EXPECT_EQ(dest[1], 'Z');
    // Size 1 has room for the terminator alone.
    EXPECT_EQ(get_var(dest + 1, 1, "empty"), 0);
    EXPECT_EQ(dest[1], '\0');

    // read_file with no room reads nothing, through its own descriptor and, under the
    // settings lock, through the lock's.
    auto reads_nothing = [&dest] {
        for (int size : {0, -1, INT_MIN}) {
            SCOPED_TRACE(size);
            dest[1] = 'Z';
            EXPECT_EQ(read_file(SETTING_FILE, dest + 1, size), 0);
            EXPECT_EQ(dest[1], 'Z');
        }
    };
    reads_nothing();
#if ZELMSG_WITH_LOCK
    ASSERT_EQ(get_lock(), 0);
    reads_nothing();
    ASSERT_EQ(release_lock(), 0);
#endif
}
} // namespace

// A second name of a file elsewhere on /tmp's file system (a hard link, which an old
// kernel lets anyone make) is not ours: the victim keeps its bytes. An own file whose
// open fails for want of a descriptor is left as it is, not removed and made anew.
TEST(OwnFile, HardLinkIsRefusedAndOwnFileOutlivesAFailedOpen)
{
    const char *victim = "/tmp/own_victim", *path = "/tmp/own_file";
    write_bytes(victim, "keep");
    unlink(path);
    ASSERT_EQ(link(victim, path), 0);
    errno = 0;
    EXPECT_EQ(zelmsg::open_own(path, O_RDONLY), -1);
    EXPECT_EQ(errno, EPERM);
    int fd = zelmsg::create_own(path, O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(read_bytes(victim), "keep");

    struct Case {
        int flags;
        const char *left;
    } cases[] = {{O_WRONLY | O_TRUNC, ""}, {O_WRONLY | O_APPEND, "mine"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flags);
        write_bytes(path, "mine");
        fd = zelmsg::create_own(path, c.flags, 0600);
        ASSERT_GE(fd, 0);
        close(fd);
        EXPECT_EQ(read_bytes(path), c.left);
    }

    write_bytes(path, "mine");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rlimit none = {0, 0};
        setrlimit(RLIMIT_NOFILE, &none);
        int got = zelmsg::create_own(path, O_WRONLY | O_TRUNC, 0600);
        _exit(got == -1 && errno == EMFILE ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(read_bytes(path), "mine");
    unlink(path);
    unlink(victim);
}

namespace {
namespace seam {
int interrupts = 0;
int rename_errno = 0;

ssize_t read_file(int fd, void *buf, size_t count)
{
    if (interrupts > 0) {
        --interrupts;
        errno = EINTR;
        return -1;
    }
    return zelmsg::real_os.read_file(fd, buf, count);
}

int rename_path(const char *from, const char *to)
{
    if (rename_errno != 0) {
        errno = rename_errno;
        return -1;
    }
    return zelmsg::real_os.rename_path(from, to);
}
} // namespace seam

int names_starting(const char *dir, const std::string &prefix)
{
    int n = 0;
    DIR *d = opendir(dir);
    for (struct dirent *e; d != nullptr && (e = readdir(d)) != nullptr;)
        n += std::string(e->d_name).compare(0, prefix.size(), prefix) == 0;
    if (d != nullptr)
        closedir(d);
    return n;
}
} // namespace

// create_own's copy of a file of ours with a second name calls through the library's
// OS table: a read that a signal interrupts is made again, and a rename that fails
// leaves both names on the old file and no copy behind.
TEST(OwnFile, CopyOfASecondNameRetriesReadsAndUndoesAFailedRename)
{
    const char *victim = "/tmp/own_victim", *path = "/tmp/own_file";
    struct Case {
        const char *what;
        int interrupts;
        int rename_errno;
        bool opened;
        const char *left;
        nlink_t victim_links;
    } cases[] = {
        {"interrupted reads", 2, 0, true, "mine+", 1},
        {"rename refused", 0, EACCES, false, "mine", 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        unlink(path);
        write_bytes(victim, "mine");
        ASSERT_EQ(link(victim, path), 0);
        seam::interrupts = c.interrupts;
        seam::rename_errno = c.rename_errno;
        zelmsg::os.read_file = seam::read_file;
        zelmsg::os.rename_path = seam::rename_path;
        errno = 0;
        int fd = zelmsg::create_own(path, O_WRONLY | O_APPEND, 0600);
        int e = errno;
        zelmsg::os = zelmsg::real_os;
        if (fd >= 0) {
            EXPECT_EQ(write(fd, "+", 1), 1);
            close(fd);
        }
        EXPECT_EQ(fd >= 0, c.opened);
        if (!c.opened) {
            EXPECT_EQ(e, c.rename_errno);
        }
        EXPECT_EQ(seam::interrupts, 0) << "no interrupt reached the copy";
        EXPECT_EQ(read_bytes(path), c.left);
        EXPECT_EQ(read_bytes(victim), "mine");
        struct stat st = {};
        EXPECT_EQ(stat(victim, &st), 0);
        EXPECT_EQ(st.st_nlink, c.victim_links);
        EXPECT_EQ(names_starting("/tmp", "own_file."), 0);
    }
    unlink(path);
    unlink(victim);
}
