// The settings lock between processes: held from get_lock to release_lock although
// the store opens and closes the file inside, and shared with lockf users.
#include "zelmsg.h"
#include "zelmsg_tool.h"
#include "../store_internal.h"
#include "store_support.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>

#include <algorithm>
#include <vector>

using zeltest::read_bytes;
using zeltest::write_bytes;

ZELTEST_REQUIRE_PRIVATE_ROOT();

namespace {
const std::string kNul(1, '\0');

// Runs body(i) in n child processes; returns how many of them exited non-zero.
template <typename F>
int run_children(int n, F body)
{
    std::vector<pid_t> pids;
    for (int i = 0; i < n; ++i) {
        pid_t pid = fork();
        if (pid == 0)
            _exit(body(i));
        pids.push_back(pid);
    }
    int failed = 0;
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            ++failed;
    }
    return failed;
}

// Blob values of very different lengths, so that a torn file shows.
std::string blob(int writer, int round)
{
    char c = static_cast<char>('a' + (writer * 7 + round) % 26);
    size_t len = 1000 + static_cast<size_t>(c - 'a') * 2200;
    return std::string(len, c);
}

// A complete store: one NUL at its very end, the fixed record, one whole blob.
bool consistent(const std::string &s)
{
    if (s.empty() || s.find('\0') != s.size() - 1)
        return false;
    if (s.compare(0, 7, "\nkeep=1") != 0)
        return false;
    size_t at = s.find("\nblob=");
    if (at == std::string::npos)
        return false;
    std::string v = s.substr(at + 6, s.size() - 1 - (at + 6));
    return !v.empty() && v == std::string(1000 + static_cast<size_t>(v[0] - 'a') * 2200, v[0]);
}

// The same with other records after the blob.
bool whole(const std::string &s)
{
    size_t at = s.find("\nblob=");
    if (at == std::string::npos || s.find('\0') != s.size() - 1 || s.compare(0, 7, "\nkeep=1") != 0)
        return false;
    size_t end = std::min(s.find('\n', at + 1), s.size() - 1);
    std::string v = s.substr(at + 6, end - (at + 6));
    return !v.empty() && v == std::string(1000 + static_cast<size_t>(v[0] - 'a') * 2200, v[0]) &&
           s.find("\nblob=", end) == std::string::npos;
}

TEST(Lock, LockedReadersNeverSeeATornFile)
{
    write_bytes(SETTING_FILE, "\nkeep=1\nblob=" + blob(0, 0) + kNul);
    constexpr int kWriters = 3, kReaders = 3, kRounds = 300;

    int failed = run_children(kWriters + kReaders, [](int i) {
        if (i < kWriters) {
            for (int r = 0; r < kRounds; ++r)
                if (write_str("blob", blob(i, r).c_str()) <= 0)
                    return 1;
            return 0;
        }
        int torn = 0;
        static char buf[SETTING_BUF_SIZE];
        for (int r = 0; r < kRounds; ++r) {
            if (get_lock() != 0)
                return 2;
            // Read as the store reads: a descriptor of our own, closed here, would
            // give the lock back.
            int n = zelmsg_load_file(SETTING_FILE, buf, SETTING_BUF_SIZE);
            if (n < 0 || !consistent(std::string(buf, static_cast<size_t>(n))))
                ++torn;
            if (release_lock() != 0)
                return 2;
        }
        if (torn)
            fprintf(stderr, "reader %d saw %d torn files\n", i, torn);
        return torn ? 3 : 0;
    });
    EXPECT_EQ(failed, 0);
    EXPECT_TRUE(consistent(read_bytes(SETTING_FILE)));
}

TEST(Lock, ConcurrentWritersLoseNoUpdate)
{
    write_bytes(SETTING_FILE, "\nkeep=1" + kNul);
    constexpr int kProcs = 4, kRounds = 150;

    // Each process rewrites its own key: a write based on a stale load would put
    // back another process's older value.
    int failed = run_children(kProcs, [](int i) {
        char key[8];
        snprintf(key, sizeof key, "p%d", i);
        for (int r = 1; r <= kRounds; ++r)
            if (write_int(key, &r) <= 0)
                return 1;
        return 0;
    });
    EXPECT_EQ(failed, 0);
    for (int i = 0; i < kProcs; ++i) {
        char key[8], buf[32];
        snprintf(key, sizeof key, "p%d", i);
        EXPECT_EQ(get_var(buf, sizeof buf, key), 3) << key;
        EXPECT_STREQ(buf, "150") << key;
    }
}

// One read-modify-write section of the lower-level operations under one lock:
// read_file and write_file open and close the file inside it.
int increment(const char *key)
{
    if (get_lock() != 0)
        return -1;
    char buf[32] = "";
    get_var(buf, sizeof buf, key);
    int n = atoi(buf) + 1;
    remove_var_(key);
    size_t len = strlen(buffer_setting);
    snprintf(buffer_setting + len, 64, "\n%s=%d", key, n);
    int w = write_file(SETTING_FILE, buffer_setting);
    return release_lock() == 0 && w > 0 ? 0 : -1;
}

TEST(Lock, IncrementsUnderOneLockLoseNothing)
{
    write_bytes(SETTING_FILE, "\nkeep=1" + kNul);
    constexpr int kProcs = 4, kRounds = 200;
    int failed = run_children(kProcs, [](int) {
        for (int r = 0; r < kRounds; ++r)
            if (increment("count") != 0)
                return 1;
        return 0;
    });
    EXPECT_EQ(failed, 0);
    char buf[32];
    ASSERT_GT(get_var(buf, sizeof buf, "count"), 0);
    EXPECT_EQ(atoi(buf), kProcs * kRounds);
}

// Whether another process's lockf finds the file locked.
bool locked_for_others()
{
    return run_children(1, [](int) {
               int fd = open(SETTING_FILE, O_RDWR);
               return lockf(fd, F_TLOCK, 0) == 0 ? 0 : 1;
           }) == 1;
}

// A POSIX lock goes with the first close of any descriptor of the file: every access
// to the settings file inside a section must leave it held.
TEST(Lock, LockSurvivesInnerReadsAndWrites)
{
    write_bytes(SETTING_FILE, "\nkeep=1" + kNul);
    ASSERT_EQ(symlink(SETTING_FILE, "/tmp/link.txt"), 0);
    char buf[64];
    struct Step {
        const char *what;
        bool (*run)(char *);
    } steps[] = {
        {"read_file", [](char *b) { return read_file(SETTING_FILE, b, 64) == 0; }},
        {"write_file", [](char *) { return write_file(SETTING_FILE, "\nkeep=1\nx=2") == 12; }},
        {"get_var", [](char *b) { return get_var(b, 64, "x") == 1; }},
        {"remove_var_", [](char *) { return remove_var_("x") == 1; }},
        {"load for a commit", [](char *) { return zelmsg_load_settings(SETTING_FILE) == 12; }},
        {"read by another name", [](char *b) { return read_file("/tmp/link.txt", b, 64) == 0; }},
        {"write by another name", [](char *) { return write_file("/tmp/link.txt", "\nkeep=2") == 8; }},
        {"read of another file", [](char *b) { return read_file("/tmp/link.txt", b, -1) == 0; }},
    };
    ASSERT_EQ(get_lock(), 0);
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        EXPECT_TRUE(step.run(buf));
        EXPECT_TRUE(locked_for_others());
    }
    ASSERT_EQ(release_lock(), 0);
    EXPECT_FALSE(locked_for_others());
    EXPECT_EQ(read_bytes(SETTING_FILE), "\nkeep=2" + kNul);
    unlink("/tmp/link.txt");
}

// Writers and readers while another process gives the file second names again and
// again: each writer that finds one as it takes the lock puts a file of its own at the
// path, and whoever waited for the lock of the file put aside opens the path again.
// No increment is lost, no reader sees a torn text, and the lock goes on in the new
// file inside a section.
TEST(Lock, SecondNamesLoseNoUpdateAndKeepTheLock)
{
    write_bytes(SETTING_FILE, "\nkeep=1\nblob=" + blob(0, 0) + kNul);
    ASSERT_EQ(link(SETTING_FILE, "/tmp/.mine"), 0);
    ASSERT_EQ(get_lock(), 0);
    ASSERT_EQ(write_file(SETTING_FILE, "\nkeep=1\nblob=x"), 15);
    EXPECT_TRUE(locked_for_others());
    ASSERT_EQ(release_lock(), 0);
    EXPECT_FALSE(locked_for_others());
    EXPECT_EQ(read_bytes("/tmp/.mine"), "\nkeep=1\nblob=" + blob(0, 0) + kNul);
    unlink("/tmp/.mine");

    constexpr int kWriters = 4, kReaders = 2, kRounds = 150;
    pid_t linker = fork();
    ASSERT_GE(linker, 0);
    if (linker == 0) {
        for (;;) {
            link(SETTING_FILE, "/tmp/.mine");
            unlink("/tmp/.mine");
        }
    }
    int failed = run_children(kWriters + kReaders, [](int i) {
        if (i < kWriters) {
            for (int r = 1; r <= kRounds; ++r)
                if (increment("count") != 0 || write_str("blob", blob(i, r).c_str()) <= 0)
                    return 1;
            return 0;
        }
        static char buf[SETTING_BUF_SIZE];
        for (int r = 0; r < kRounds; ++r) {
            if (get_lock() != 0)
                return 2;
            int n = zelmsg_load_file(SETTING_FILE, buf, SETTING_BUF_SIZE);
            bool torn = n < 0 || !whole(std::string(buf, static_cast<size_t>(n)));
            if (release_lock() != 0 || torn)
                return 3;
        }
        return 0;
    });
    kill(linker, SIGKILL);
    waitpid(linker, nullptr, 0);
    unlink("/tmp/.mine");
    EXPECT_EQ(failed, 0);
    char buf[32];
    ASSERT_GT(get_var(buf, sizeof buf, "count"), 0);
    EXPECT_EQ(atoi(buf), kWriters * kRounds);
}

// The kernel26 runs of these tests have the calls refused that a 2.6 kernel lacks, as
// it refuses them (see store_support.h), so every test of the store shows it needs
// none of them.
TEST(Lock, OldKernelProfileIsInForce)
{
    if (!zeltest::old_kernel_profile())
        GTEST_SKIP() << "not under the old kernel's profile (the kernel26 run of this test is)";
    write_bytes(SETTING_FILE, kNul);
    int fd = open(SETTING_FILE, O_RDWR);
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    errno = 0;
    EXPECT_EQ(fcntl(fd, 37 /* F_OFD_SETLK */, &fl), -1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(syscall(SYS_fallocate, fd, 0, 0L, 4096L), -1);
    EXPECT_EQ(errno, EOPNOTSUPP);
    close(fd);
}

TEST(Lock, ConflictsWithLockfOfOtherPrograms)
{
    write_bytes(SETTING_FILE, "\nkeep=1" + kNul);
    ASSERT_EQ(get_lock(), 0);
    // While held, another program's lockf cannot get the file...
    int busy = run_children(1, [](int) {
        int fd = open(SETTING_FILE, O_RDWR);
        return lockf(fd, F_TLOCK, 0) == 0 ? 0 : 1;
    });
    EXPECT_EQ(busy, 1);
    ASSERT_EQ(release_lock(), 0);
    // ...and gets it once given back.
    EXPECT_EQ(run_children(1,
                           [](int) {
                               int fd = open(SETTING_FILE, O_RDWR);
                               return lockf(fd, F_TLOCK, 0) == 0 ? 0 : 1;
                           }),
              0);

    // A store write, and a read, wait for another program's lockf section to end.
    for (bool reading : {false, true}) {
        SCOPED_TRACE(reading ? "get_var_mem" : "write_str");
        write_bytes(SETTING_FILE, "\nkeep=1" + kNul);
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t pid = fork();
        if (pid == 0) {
            int fd = open(SETTING_FILE, O_RDWR);
            if (lockf(fd, F_LOCK, 0) != 0)
                _exit(1);
            char c = 'x';
            if (write(ready[1], &c, 1) != 1)
                _exit(1);
            usleep(300 * 1000);
            write_file(SETTING_FILE, "\nother=1");
            _exit(lockf(fd, F_ULOCK, 0) == 0 ? 0 : 1);
        }
        char c;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        if (reading) {
            char *v = get_var_mem("other");
            EXPECT_STREQ(v, "1");
            free(v);
        } else {
            EXPECT_EQ(write_str("mine", "1"), 16);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(read_bytes(SETTING_FILE), std::string(reading ? "\nother=1" : "\nother=1\nmine=1") + kNul);
        close(ready[0]);
        close(ready[1]);
    }
}
} // namespace
