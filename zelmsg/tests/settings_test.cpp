// The settings store on /tmp/setting.txt, byte for byte, in the variant this binary
// links (ZELMSG_WITH_LOCK 1: service programs, 0: configurator).
#include "zelmsg.h"
#include "../os_calls.h"
#include "store_support.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/wait.h>

#include <algorithm>
#include <string>
#include <vector>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>

using zeltest::Capture;
using zeltest::exists;
using zeltest::read_bytes;
using zeltest::same_bytes;
using zeltest::write_bytes;

ZELTEST_REQUIRE_PRIVATE_ROOT();

namespace {
const std::string kFile = SETTING_FILE;
const std::string kNul(1, '\0');

class Store : public ::testing::Test {
protected:
    void SetUp() override { unlink(SETTING_FILE); }
    static void store(const std::string &text) { write_bytes(kFile, text + kNul); }
    static std::string file() { return read_bytes(kFile); }
    static std::string value(const char *key)
    {
        char buf[1024];
        int n = get_var(buf, sizeof buf, key);
        return n == 0 ? "<none>" : std::string(buf);
    }
};

TEST_F(Store, ReadsRecordsOfEighteenByteFile)
{
    store("\nupnp=1\nftpserv=0");
    ASSERT_EQ(file().size(), 18u);
    char buf[1024];
    EXPECT_EQ(get_var(buf, sizeof buf, "upnp"), 1);
    EXPECT_STREQ(buf, "1");
    EXPECT_EQ(value("ftpserv"), "0");
    // Only whole keys match.
    EXPECT_EQ(get_var(buf, sizeof buf, "upn"), 0);
    EXPECT_EQ(get_var(buf, sizeof buf, "pnp"), 0);
    EXPECT_EQ(get_var(buf, sizeof buf, "serv"), 0);
}

TEST_F(Store, OnlyAWholeRecordOfTheKeyIsFound)
{
    // Texts where the key's end, or all of "key=", also stands where no record of
    // the key begins: before it, inside another key, in a value, at the text's start.
    const struct {
        const char *text, *key, *want;
    } cases[] = {
        {"\nxupnp=5\nupnp=1", "upnp", "1"}, {"\nupnp=1\nxupnp=5", "upnp", "1"}, {"\nx=upnp=5\nupnp=1", "upnp", "1"},
        {"upnp=5\nupnp=1", "upnp", "1"},    {"np=5\nupnp=1", "upnp", "1"},      {"\naaa=5\naa=2", "aa", "2"},
        {"\naa=2\naaa=5", "aaa", "5"},      {"\nxab=5\nab=3", "ab", "3"},       {"\nxk=5\nk=4", "k", "4"},
        {"\nxupnp=5", "upnp", "<none>"},    {"upnp=5", "upnp", "<none>"},       {"p=", "upnp", "<none>"},
    };
    for (const auto &c : cases) {
        store(c.text);
        EXPECT_EQ(value(c.key), c.want) << c.key << " in " << c.text;
    }
}

TEST_F(Store, ReadingFollowsTheFileFormat)
{
    // A record at the very start without its line feed is no record.
    store("upnp=1\nnzb=0");
    EXPECT_EQ(value("upnp"), "<none>");
    EXPECT_EQ(value("nzb"), "0");

    // An empty value reads as absent.
    store("\nupnp=\nnzb=1");
    EXPECT_EQ(value("upnp"), "<none>");
    EXPECT_EQ(get_var_mem("upnp"), nullptr);

    // Of two records of one key the first counts.
    store("\nk=first\nk=second");
    EXPECT_EQ(value("k"), "first");

    char *v = get_var_mem("nzb");
    EXPECT_EQ(v, nullptr);
    store("\nnzb=12");
    v = get_var_mem("nzb");
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v, "12");
    free(v);
}

TEST_F(Store, GetVarReportsValueThatDoesNotFit)
{
    store("\nk=abcdef");
    char buf[8];
    memset(buf, 'X', sizeof buf);
    EXPECT_EQ(get_var(buf, 4, "k"), 2147483647);
    EXPECT_EQ(std::string(buf, 4), "abcX"); // no terminator written
    EXPECT_EQ(get_var(buf, 7, "k"), 6);
    EXPECT_STREQ(buf, "abcdef");
}

TEST_F(Store, FileWithoutClosingNulDoesNotPickUpEarlierContent)
{
    store("\nlong=" + std::string(3000, 'v') + "\nother=1");
    EXPECT_EQ(value("other"), "1");
    write_bytes(kFile, "\nk=1"); // as a shell would write it
    EXPECT_EQ(value("k"), "1");
    EXPECT_EQ(value("other"), "<none>");
    write_bytes(kFile, "");
    EXPECT_EQ(value("long"), "<none>");
}

TEST_F(Store, WriteMovesChangedRecordToEnd)
{
    store("\nnzb=0\nupnp=1");
    f_dirty = 0;
    EXPECT_EQ(write_str("nzb", "1"), 14); // text length + 1
    EXPECT_EQ(file(), "\nupnp=1\nnzb=1" + kNul);
    EXPECT_EQ(f_dirty, 1);

    int v = -5;
    EXPECT_EQ(write_int("upnp", &v), 15);
    EXPECT_EQ(file(), "\nnzb=1\nupnp=-5" + kNul);
}

TEST_F(Store, WriteOnEmptyStore)
{
    write_bytes(kFile, kNul);
    EXPECT_EQ(write_str("upnp", "1"), 8);
    EXPECT_EQ(file(), "\nupnp=1" + kNul);
}

TEST_F(Store, WriteReplacesOnlyFirstOfDuplicates)
{
    store("\nk=1\nk=2\nx=0");
    EXPECT_EQ(write_str("k", "3"), 13);
    EXPECT_EQ(file(), "\nk=2\nx=0\nk=3" + kNul);
    EXPECT_EQ(value("k"), "2");
}

TEST_F(Store, RemoveVarDropsFirstRecordAndAlwaysRewrites)
{
    store("\na=1\nb=2\na=3");
    EXPECT_EQ(remove_var("a"), 1);
    EXPECT_EQ(file(), "\nb=2\na=3" + kNul);
    EXPECT_EQ(remove_var("a"), 1); // the last record
    EXPECT_EQ(file(), "\nb=2" + kNul);

    // A missing key still rewrites the file with the text just read.
    write_bytes(kFile, "\nb=2");
    EXPECT_EQ(remove_var("zz"), 0);
    EXPECT_EQ(file(), "\nb=2" + kNul);
}

TEST_F(Store, DirtyFlagFollowsChanges)
{
    store("\na=1");
    f_dirty = 0;
    EXPECT_EQ(remove_var_("missing"), 0);
    EXPECT_EQ(f_dirty, 0);
    EXPECT_EQ(remove_var_("a"), 1);
    EXPECT_EQ(f_dirty, 1);
    // Every write_var sets it, also one that is refused or cannot take the lock.
    int one = 1;
    const struct {
        const char *why;
        bool file;
        int (*write)(int *);
    } writes[] = {
        {"refused value", true, [](int *) { return write_str("a", "x\ny=1"); }},
        {"refused key", true, [](int *v) { return write_int("a=b", v); }},
        {"null value", true, [](int *) { return write_str("a", nullptr); }},
        {"no file", false, [](int *) { return write_str("a", "1"); }},
    };
    for (const auto &w : writes) {
        SCOPED_TRACE(w.why);
        unlink(SETTING_FILE);
        if (w.file)
            store("\na=1");
        f_dirty = 0;
        Capture err(2);
        w.write(&one);
        EXPECT_EQ(f_dirty, 1);
    }
#if !ZELMSG_WITH_LOCK
    EXPECT_EQ(get_dirty(), 1);
    f_dirty = 0;
    EXPECT_EQ(get_dirty(), 0);
#endif
}

// A store whose text holds exactly `len` characters, ending in a record of key "k".
std::string text_of_length(size_t len)
{
    std::string head = "\nk=old\nfill=";
    return head + std::string(len - head.size(), 'f');
}

TEST_F(Store, WriteRefusesRecordThatDoesNotFit)
{
    // 65534 characters take no further record, and the file stays as it was.
    std::string full = text_of_length(65534);
    store(full);
    EXPECT_EQ(write_str("z", "1"), -1);
    EXPECT_TRUE(same_bytes(file(), full + kNul));

    // The old record of the key is not lost when its new one is too long.
    EXPECT_EQ(write_str("k", "long"), -1);
    EXPECT_TRUE(same_bytes(file(), full + kNul));
    EXPECT_EQ(value("k"), "old");

    // A record that fills the room to the last character is taken whole.
    EXPECT_EQ(write_str("k", "new"), 65535);
    EXPECT_EQ(file().size(), 65535u);
    EXPECT_EQ(value("k"), "new");
}

TEST_F(Store, WriteRefusesKeysAndValuesThatForgeRecords)
{
    store("\nupnp=0");
    const std::string before = file();
    EXPECT_EQ(write_str("x", "1\nupnp=1"), -1);
    EXPECT_EQ(write_str("", "1"), -1);
    EXPECT_EQ(write_str("a\nupnp", "1"), -1);
    EXPECT_EQ(write_str("upnp=1\nx", "1"), -1);
    EXPECT_EQ(write_str("a=b", "1"), -1);
    EXPECT_EQ(write_str("a", nullptr), -1);
    int one = 1;
    EXPECT_EQ(write_int("a=b", &one), -1);
    // A byte 0xFF makes the next boot from flash drop every record before it.
    EXPECT_EQ(write_str("x", "1\xff"), -1);
    EXPECT_EQ(write_str("\xff", "1"), -1);
    EXPECT_EQ(write_str("a\xff"
                        "b",
                        "1"),
              -1);
    EXPECT_EQ(write_int("\xff", &one), -1);
    EXPECT_EQ(file(), before);
    EXPECT_EQ(value("upnp"), "0");
}

// A store that could not be read whole, or not written back, must not be taken for
// one that was: no write from a stale or partial buffer, no failure reported as done.
TEST_F(Store, FailedLoadsAndRewritesAreReported)
{
    const std::string text = "\na=1\nb=2";
    struct Case {
        const char *what;
        std::initializer_list<int> calls;
        int (*op)();
        int rc;
    } cases[] = {
        {"write after a failed read", {__NR_pread64, __NR_read}, [] { return write_str("c", "3"); }, -1},
        {"removal after a failed read", {__NR_pread64, __NR_read}, [] { return remove_var("a"); }, -1},
        {"removal whose rewrite failed",
         {__NR_pwrite64, __NR_write, __NR_ftruncate},
         [] { return remove_var("a"); },
         -1},
        {"removal of nothing whose rewrite failed",
         {__NR_pwrite64, __NR_write, __NR_ftruncate},
         [] { return remove_var("zz"); },
         -1},
        {"write whose rewrite failed", {__NR_pwrite64, __NR_write}, [] { return write_str("a", "5"); }, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        store(text);
        // A process that read other settings before: its buffer must not come back.
        memcpy(buffer_setting, "\nstale=1", sizeof "\nstale=1");
        Capture err(2);
        int rc = zeltest::with_failing_calls(c.calls, EIO, c.op);
        if (rc == zeltest::kNoFilter)
            GTEST_SKIP() << "no system call filter can be installed here";
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(file(), text + kNul);
    }
#if !ZELMSG_WITH_LOCK
    // A file there but not readable is no missing file: it is not replaced.
    EXPECT_EQ(zeltest::with_failing_calls({__NR_open, __NR_openat}, EACCES, [] { return write_str("c", "3"); }), -1);
    EXPECT_EQ(file(), text + kNul);
#endif
}

// Faults put in at the store's table of system calls, with no root and no small file
// system: an interrupted call is made again, a short count is carried on from where it
// ended, and a file system without room leaves the file as it was.
namespace injected {
enum Call {
    kRead,
    kWrite,
    kLockRequest
};
enum Kind {
    kInterrupt, // EINTR
    kShort,     // at most 3 bytes a call
    kNoRoom,    // 2 bytes of room beyond the stored file, then ENOSPC
    kNoProgress // a write of nothing
};
struct Fault {
    Call call;
    Kind kind;
    int left; // calls still to fault
    off_t room_end;
} fault;

bool fires(Call call)
{
    if (fault.call != call || fault.left <= 0)
        return false;
    --fault.left;
    return true;
}

ssize_t pread_file(int fd, void *buf, size_t count, off_t at)
{
    if (fires(kRead)) {
        if (fault.kind == kInterrupt) {
            errno = EINTR;
            return -1;
        }
        count = std::min<size_t>(count, 3);
    }
    return zelmsg::real_os.pread_file(fd, buf, count, at);
}

ssize_t pwrite_file(int fd, const void *buf, size_t count, off_t at)
{
    if (fault.call == kWrite && fault.kind == kNoRoom && at + static_cast<off_t>(count) > fault.room_end) {
        if (at >= fault.room_end) {
            errno = ENOSPC;
            return -1;
        }
        count = static_cast<size_t>(fault.room_end - at);
    } else if (fires(kWrite)) {
        if (fault.kind == kInterrupt) {
            errno = EINTR;
            return -1;
        }
        if (fault.kind == kNoProgress)
            return 0;
        count = std::min<size_t>(count, 3);
    }
    return zelmsg::real_os.pwrite_file(fd, buf, count, at);
}

int lock_record(int fd, int cmd, struct flock *fl)
{
    if (fires(kLockRequest)) {
        errno = EINTR;
        return -1;
    }
    return zelmsg::real_os.lock_record(fd, cmd, fl);
}
} // namespace injected

TEST_F(Store, SystemCallFaultsAreRetriedOrLeaveTheFileAsItWas)
{
    const std::string text = "\na=1\nb=2";
    const char *fail = "0150 write error /tmp/setting.txt\r\n";
    constexpr int kEvery = 1 << 20;
    auto add = [] { return write_str("c", "3"); };
    struct Case {
        const char *what;
        injected::Call call;
        injected::Kind kind;
        int times;
        int (*op)();
        int rc;
        std::string file;
        const char *err;
    } cases[] = {
        {"interrupted reads", injected::kRead, injected::kInterrupt, 3, add, 13, text + "\nc=3", ""},
        {"interrupted writes", injected::kWrite, injected::kInterrupt, 3, add, 13, text + "\nc=3", ""},
        {"interrupted lock requests", injected::kLockRequest, injected::kInterrupt, 3, add, 13, text + "\nc=3", ""},
        {"short writes", injected::kWrite, injected::kShort, kEvery, add, 13, text + "\nc=3", ""},
        // Outside the lock a read may end short anywhere.
        {"short reads", injected::kRead, injected::kShort, kEvery,
         [] {
             char v[4];
             return get_var(v, sizeof v, "b") == 1 && v[0] == '2' ? 1 : 0;
         },
         1, text, ""},
        {"no room for the new record", injected::kWrite, injected::kNoRoom, 0, add, 2, text, fail},
        {"no room needed", injected::kWrite, injected::kNoRoom, 0, [] { return write_str("a", "5"); }, 9, "\nb=2\na=5",
         ""},
        {"a write of nothing", injected::kWrite, injected::kNoProgress, 1, add, 2, text, fail},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        store(text);
        injected::fault = {c.call, c.kind, c.times, static_cast<off_t>(text.size() + 1 + 2)};
        zelmsg::os.pread_file = injected::pread_file;
        zelmsg::os.pwrite_file = injected::pwrite_file;
        zelmsg::os.lock_record = injected::lock_record;
        Capture err(2);
        int rc = c.op();
        zelmsg::os = zelmsg::real_os;
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(err.text(), c.err);
        EXPECT_TRUE(same_bytes(file(), c.file + kNul));
        if (c.times > 0) {
            EXPECT_LT(injected::fault.left, c.times) << "no fault reached the store";
        }
    }
}

TEST_F(Store, LongKeysStayInsideThePatternBuffer)
{
    store("\nk=1");
    const std::string longest(1021, 'K');
    EXPECT_EQ(write_str(longest.c_str(), "v"), static_cast<int>(4 + 1021 + 3 + 1));
    EXPECT_EQ(value(longest.c_str()), "v");

    const std::string before = file();
    const std::string too_long(1022, 'K');
    EXPECT_EQ(write_str(too_long.c_str(), "v"), -1);
    EXPECT_EQ(file(), before);
    EXPECT_EQ(value(too_long.c_str()), "<none>");
    EXPECT_EQ(get_var_mem(too_long.c_str()), nullptr);
    EXPECT_EQ(remove_var(too_long.c_str()), 0);
    EXPECT_EQ(file(), before);
    EXPECT_EQ(remove_var(longest.c_str()), 1);
    EXPECT_EQ(file(), "\nk=1" + kNul);
}

TEST_F(Store, GetVarMemHandsOutAtMost1023Characters)
{
    const std::string fits(1023, 'a');
    store("\nk=" + fits + "\nl=" + fits + "b");
    char *v = get_var_mem("k");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::string(v), fits);
    free(v);
    // A longer value is not handed out cut.
    EXPECT_EQ(get_var_mem("l"), nullptr);
}

TEST_F(Store, WriteFileReplacesContentAndReportsCount)
{
    EXPECT_EQ(write_file(SETTING_FILE, "\nlonger=text here"), 18);
    EXPECT_EQ(write_file(SETTING_FILE, "\na=1"), 5);
    EXPECT_EQ(file(), "\na=1" + kNul);
    EXPECT_EQ(write_file(SETTING_FILE, ""), 1);
    EXPECT_EQ(file(), kNul);

    Capture err(2);
    EXPECT_EQ(write_file("/tmp/no/such/dir", "x"), 1);
    char buf[4];
    EXPECT_EQ(read_file("/tmp/no/such/file", buf, 4), -1);
    EXPECT_EQ(err.text(), "File open w error /tmp/no/such/dir\r\nFile open r error /tmp/no/such/file\r\n");
}

// A full /tmp must cost the new record, not every setting; what needs no new room
// still works. Without fallocate (old kernels' tmpfs lacks it): the file grows first.
TEST_F(Store, FullFileSystemKeepsOldSettings)
{
    const std::string big = "\nbig=" + std::string(10000, 'b');
    const std::string text = "\nupnp=1" + big; // 10012 characters: 3 pages
    const std::string more(8000, 'm');         // with it 5 pages
    const char *fail = "0150 write error /tmp/setting.txt\r\n";
    struct Case {
        const char *what;
        int spare_pages;
        int (*op)(const std::string &);
        int rc;
        std::string file;
        const char *err;
    } cases[] = {
        {"record that does not fit", 0, [](const std::string &m) { return write_str("more", m.c_str()); }, 2,
         text + kNul, fail},
        {"record that fits in part", 1, [](const std::string &m) { return write_str("more", m.c_str()); }, 2,
         text + kNul, fail},
        {"record that just fits", 2, [](const std::string &m) { return write_str("more", m.c_str()); }, 18019,
         text + "\nmore=" + more + kNul, ""},
        {"value of the same length", 0, [](const std::string &) { return write_str("upnp", "0"); }, 10013,
         big + "\nupnp=0" + kNul, ""},
        {"removal", 0, [](const std::string &) { return remove_var("upnp"); }, 1, big + kNul, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Capture err(2); // its file stays on the roomy /tmp underneath
        ASSERT_EQ(mount("zelfull", "/tmp", "tmpfs", 0, "size=64k"), 0) << strerror(errno);
        store(text);
        // Fill every remaining page, then give back the spare ones.
        FILE *f = fopen("/tmp/filler", "wb");
        ASSERT_NE(f, nullptr);
        static const char chunk[4096] = {};
        while (fwrite(chunk, 1, sizeof chunk, f) == sizeof chunk && fflush(f) == 0) {
        }
        fclose(f);
        struct stat st;
        ASSERT_EQ(stat("/tmp/filler", &st), 0);
        ASSERT_EQ(truncate("/tmp/filler", (st.st_size / 4096 - c.spare_pages) * 4096), 0);

        int rc = c.op(more);
        std::string msg = err.text();
        std::string after = file();
        umount2("/tmp", MNT_DETACH);

        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(msg, c.err);
        EXPECT_TRUE(same_bytes(after, c.file));
    }
}

// Writers in several processes, each counting its own key up while the others write
// theirs: every write is whole, so at the end each key holds its last count once and
// the file holds nothing else. (Without the lock the configurator's build rewrote
// only past the bytes it had loaded, over another writer's newer text.)
TEST_F(Store, ConcurrentWritersLeaveOneWholeText)
{
    constexpr int kWriters = 4;
    constexpr int kCounts = 300;
    // A long record in front makes each rewrite take a while.
    store("\nfill=" + std::string(4000, 'f'));
    pid_t pids[kWriters];
    for (int w = 0; w < kWriters; ++w) {
        pids[w] = fork();
        ASSERT_GE(pids[w], 0);
        if (pids[w] == 0) {
            char key[8];
            snprintf(key, sizeof key, "w%d", w);
            int failed = 0;
            for (int i = 1; i <= kCounts; ++i)
                failed += write_int(key, &i) < 0;
            _exit(failed == 0 ? 0 : 1);
        }
    }
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string want = "\nfill=" + std::string(4000, 'f');
    std::string got = file();
    // Records in any order: compare them sorted.
    std::vector<std::string> records;
    for (size_t at = 0; at < got.size() && got[at] == '\n';) {
        size_t end = got.find_first_of(std::string("\n") + kNul, at + 1);
        records.push_back(got.substr(at, end - at));
        at = end;
    }
    std::sort(records.begin(), records.end());
    std::string joined;
    for (const auto &r : records)
        joined += r;
    std::string expected = want;
    for (int w = 0; w < kWriters; ++w)
        expected += "\nw" + std::to_string(w) + "=" + std::to_string(kCounts);
    EXPECT_TRUE(same_bytes(joined, expected));
    EXPECT_EQ(got.size(), expected.size() + 1) << "bytes beyond the records";
}

// Another user gives the settings file a second name (a kernel without protected hard
// links lets anyone; here the file's mode 0666 lets a user do it on any kernel): every
// operation goes on, a change goes into a file of ours that takes the path with the
// same mode, and the other name keeps the old text, then and after later changes.
TEST_F(Store, ASecondNameStopsNothingAndGetsNoLaterWrite)
{
    const std::string text = "\na=1\nb=2";
    const char *mine = "/tmp/.mine";
    struct Case {
        const char *what;
        bool (*op)();
        std::string after;
    } cases[] = {
        {"get_var_mem",
         [] {
             char *v = get_var_mem("b");
             bool ok = v != nullptr && strcmp(v, "2") == 0;
             free(v);
             return ok;
         },
         text},
        {"get_var", [] { return value("a") == "1"; }, text},
        {"write_str", [] { return write_str("c", "3") == 13; }, text + "\nc=3"},
        {"remove_var", [] { return remove_var("a") == 1; }, "\nb=2"},
        {"write_file", [] { return write_file(SETTING_FILE, "\nx=1") == 5; }, "\nx=1"},
        {"save_commit",
         [] {
             write_bytes(SETTING_DEVICE, std::string(size_t{2} * SETTING_IMAGE_SIZE, '\xff'));
             return save_commit() == SETTING_IMAGE_SIZE;
         },
         text},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        unlink(mine);
        store(text);
        ASSERT_EQ(chmod(SETTING_FILE, 0666), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            _exit(setgid(65534) == 0 && setuid(65534) == 0 && link(SETTING_FILE, mine) == 0 ? 0 : 1);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another user could not link the file";
        Capture err(2);
        EXPECT_TRUE(c.op());
        EXPECT_EQ(err.text(), "");
        EXPECT_EQ(file(), c.after + kNul);
        // A second change after the first, and the other name still has the old text.
        EXPECT_EQ(write_str("z", "9"), static_cast<int>(c.after.size() + 5));
        EXPECT_EQ(read_bytes(mine), text + kNul);
        struct stat path_st, mine_st;
        ASSERT_EQ(stat(SETTING_FILE, &path_st), 0);
        ASSERT_EQ(stat(mine, &mine_st), 0);
        EXPECT_NE(path_st.st_ino, mine_st.st_ino);
        EXPECT_EQ(path_st.st_nlink, 1u);
        EXPECT_EQ(path_st.st_mode & 07777, 0666u);
        EXPECT_EQ(mine_st.st_mode & 0777, 0666u);
    }
    unlink(mine);
}

#if ZELMSG_WITH_LOCK
TEST_F(Store, MissingFileFailsQuietlyAndCreatesNothing)
{
    Capture err(2);
    int one = 1;
    EXPECT_EQ(get_var_mem("upnp"), nullptr);
    EXPECT_EQ(write_str("upnp", "1"), -1);
    EXPECT_EQ(write_int("upnp", &one), -1);
    EXPECT_EQ(remove_var("upnp"), -1);
    EXPECT_EQ(save_commit(), -1);
    EXPECT_EQ(err.text(), "");
    EXPECT_FALSE(exists(kFile));
}

TEST_F(Store, LockIsTakenOnceAndGivenBack)
{
    store("");
    EXPECT_EQ(release_lock(), -1);
    ASSERT_EQ(get_lock(), 0);
    EXPECT_EQ(get_lock(), -1); // would wait for itself
    EXPECT_EQ(release_lock(), 0);
    EXPECT_EQ(release_lock(), -1);
}
#else
TEST_F(Store, MissingFileIsCreatedByFirstWrite)
{
    Capture err(2);
    EXPECT_EQ(get_var_mem("wireless"), nullptr);
    buffer_setting[0] = '\0'; // as in a process that never loaded the file
    EXPECT_EQ(write_str("wireless", "1"), 12);
    EXPECT_EQ(err.text(), "File open r error /tmp/setting.txt\r\nFile open r error /tmp/setting.txt\r\n");
    EXPECT_EQ(file(), "\nwireless=1" + kNul);
}
#endif
} // namespace
