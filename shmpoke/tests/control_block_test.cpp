// Runs in a private IPC namespace (see CMakeLists.txt): key 9230 belongs to the test.
#include "control_block.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char **environ;

namespace {

constexpr key_t kKey = 9230;
constexpr size_t kSize = 4096;

void remove_segment()
{
    int id = shmget(kKey, 0, 0);
    if (id >= 0)
        shmctl(id, IPC_RMID, nullptr);
}

bool segment_exists()
{
    return shmget(kKey, 0, 0) >= 0;
}

// A segment made the way the outside process would, filled with a pattern that no
// field operation produces by accident.
unsigned char *make_segment(size_t size)
{
    int id = shmget(kKey, size, IPC_CREAT | IPC_EXCL | 0666);
    if (id < 0)
        return nullptr;
    void *p = shmat(id, nullptr, 0);
    if (p == reinterpret_cast<void *>(-1))
        return nullptr;
    auto *bytes = static_cast<unsigned char *>(p);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    return bytes;
}

std::vector<unsigned char> snapshot(const unsigned char *p, size_t size)
{
    return std::vector<unsigned char>(p, p + size);
}

// Indices at which two snapshots differ, so a failure names the stray bytes.
std::vector<size_t> changed_bytes(const std::vector<unsigned char> &a, const std::vector<unsigned char> &b)
{
    std::vector<size_t> out;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            out.push_back(i);
    return out;
}

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(int fd)
{
    std::string s;
    char buf[512];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        s.append(buf, static_cast<size_t>(n));
    close(fd);
    return s;
}

// Runs the real shmpoke binary (through the emulator when cross-built).
ToolRun run_tool()
{
    ToolRun r;
    const char *tool = getenv("SHMPOKE_TOOL");
    const char *emulator = getenv("SHMPOKE_EMULATOR");
    if (!tool) {
        ADD_FAILURE() << "SHMPOKE_TOOL is not set";
        return r;
    }
    std::vector<char *> argv;
    if (emulator && *emulator)
        argv.push_back(const_cast<char *>(emulator));
    argv.push_back(const_cast<char *>(tool));
    argv.push_back(nullptr);

    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return r;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    posix_spawn_file_actions_addclose(&fa, err[0]);
    pid_t pid;
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        ADD_FAILURE() << "spawn " << argv[0] << ": " << strerror(rc);
        return r;
    }
    r.out = slurp(out[0]);
    r.err = slurp(err[0]);
    int st;
    if (waitpid(pid, &st, 0) == pid && WIFEXITED(st))
        r.status = WEXITSTATUS(st);
    return r;
}

class ControlBlockTest : public ::testing::Test {
protected:
    void SetUp() override { remove_segment(); }
    void TearDown() override { remove_segment(); }
};

TEST_F(ControlBlockTest, CreateZeroesWholeBlockAndRemovesItWhenDestroyed)
{
    ASSERT_NE(make_segment(kSize), nullptr);
    {
        ControlBlock cb;
        ASSERT_EQ(cb.create(), 1);
        const auto *p = static_cast<const unsigned char *>(cb.getMapAddr());
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(static_cast<void *>(cb.getTextA()), cb.getMapAddr());
        EXPECT_EQ(snapshot(p, kSize), std::vector<unsigned char>(kSize, 0));
    }
    EXPECT_FALSE(segment_exists());
}

TEST_F(ControlBlockTest, AttachLeavesContentsAndSegmentInPlace)
{
    unsigned char *raw = make_segment(kSize);
    ASSERT_NE(raw, nullptr);
    const auto before = snapshot(raw, kSize);
    {
        ControlBlock cb;
        ASSERT_EQ(cb.attach(), 0);
        const auto *p = static_cast<const unsigned char *>(cb.getMapAddr());
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(snapshot(p, kSize), before);
    }
    ASSERT_TRUE(segment_exists());
    EXPECT_EQ(snapshot(raw, kSize), before);
}

TEST_F(ControlBlockTest, TextSettersFillTheirFieldAndNothingElse)
{
    unsigned char *raw = make_segment(kSize);
    ASSERT_NE(raw, nullptr);
    ControlBlock cb;
    ASSERT_EQ(cb.attach(), 0);

    // A text longer than the field keeps 255 bytes and a NUL; text B is untouched.
    auto before = snapshot(raw, kSize);
    const std::string longText(300, 'L');
    cb.setTextA(longText.c_str());
    EXPECT_EQ(std::string(cb.getTextA()), longText.substr(0, 255));
    EXPECT_EQ(raw[255], 0);
    EXPECT_EQ(std::vector<unsigned char>(raw + 256, raw + kSize),
              std::vector<unsigned char>(before.begin() + 256, before.end()));

    // A short text is padded with NULs to the end of the field.
    cb.setTextA("abc");
    EXPECT_STREQ(cb.getTextA(), "abc");
    EXPECT_EQ(std::vector<unsigned char>(raw + 3, raw + 256), std::vector<unsigned char>(253, 0));

    // Text B of exactly 255 bytes and its NUL fill bytes 256 to 511.
    before = snapshot(raw, kSize);
    const std::string full(255, 'B');
    cb.setTextB(full.c_str());
    EXPECT_EQ(cb.getTextB() - static_cast<char *>(cb.getMapAddr()), 256);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(raw + 256), 255), full);
    EXPECT_EQ(raw[511], 0);
    auto changed = changed_bytes(before, snapshot(raw, kSize));
    ASSERT_FALSE(changed.empty());
    EXPECT_GE(changed.front(), 256u);
    EXPECT_LE(changed.back(), 511u);

    // Clearing stores one NUL at the start of the field only.
    before = snapshot(raw, kSize);
    cb.clearTextA();
    cb.clearTextB();
    EXPECT_EQ(changed_bytes(before, snapshot(raw, kSize)), (std::vector<size_t>{0, 256}));
    EXPECT_STREQ(cb.getTextB(), "");
}

TEST_F(ControlBlockTest, FlagsAndPokeWordTouchOnlyTheirBytes)
{
    unsigned char *raw = make_segment(kSize);
    ASSERT_NE(raw, nullptr);
    ControlBlock cb;
    ASSERT_EQ(cb.attach(), 0);

    raw[512] = 0x10;
    auto before = snapshot(raw, kSize);
    cb.setFlags(0x05);
    EXPECT_EQ(raw[512], 0x15);
    cb.clearFlags(0x04);
    EXPECT_EQ(raw[512], 0x11);
    EXPECT_EQ(changed_bytes(before, snapshot(raw, kSize)), (std::vector<size_t>{512}));

    before = snapshot(raw, kSize);
    EXPECT_EQ(cb.setPokeWord(-2), -2);
    int32_t word;
    memcpy(&word, raw + 1588, sizeof word);
    EXPECT_EQ(word, -2);
    EXPECT_EQ(changed_bytes(before, snapshot(raw, kSize)), (std::vector<size_t>{1588, 1589, 1590, 1591}));
}

TEST_F(ControlBlockTest, ToolSetsOnlyTheWordAndLeavesTheSegment)
{
    unsigned char *raw = make_segment(kSize);
    ASSERT_NE(raw, nullptr);
    auto expected = snapshot(raw, kSize);
    const int32_t one = 1;
    memcpy(expected.data() + 1588, &one, sizeof one);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    EXPECT_EQ(expected[1588], 1);
#endif

    ToolRun r = run_tool();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "before...\nafter...\n");
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(segment_exists());
    EXPECT_EQ(changed_bytes(expected, snapshot(raw, kSize)), std::vector<size_t>{});
}

TEST_F(ControlBlockTest, ToolFailsCleanlyWithoutSegment)
{
    ToolRun r = run_tool();
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("shmget"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("9230"), std::string::npos) << r.err;
    EXPECT_FALSE(segment_exists());

    ControlBlock cb;
    EXPECT_EQ(cb.attach(), -1);
    EXPECT_EQ(cb.getMapAddr(), nullptr);
}

TEST_F(ControlBlockTest, SegmentSmallerThanBlockIsRefused)
{
    constexpr size_t small = 100;
    unsigned char *raw = make_segment(small);
    ASSERT_NE(raw, nullptr);
    const auto before = snapshot(raw, small);

    ToolRun r = run_tool();
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("9230"), std::string::npos) << r.err;

    {
        ControlBlock user;
        EXPECT_EQ(user.attach(), -1);
        EXPECT_EQ(user.getMapAddr(), nullptr);
        ControlBlock creator;
        EXPECT_EQ(creator.create(), -1);
        EXPECT_EQ(creator.getMapAddr(), nullptr);
    }
    // A failed create owns nothing, so the outside process keeps its segment.
    ASSERT_TRUE(segment_exists());
    EXPECT_EQ(snapshot(raw, small), before);
}

} // namespace
