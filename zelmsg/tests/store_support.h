// Helpers for the store and flash tests: whole-file bytes, captured output streams,
// and the guard that keeps these tests off the host's own /tmp and /dev.
#ifndef ZELMSG_TESTS_STORE_SUPPORT_H
#define ZELMSG_TESTS_STORE_SUPPORT_H

#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <linux/filter.h>
#include <linux/seccomp.h>

#include "read_file.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace zeltest {

inline std::string read_bytes(const std::string &path)
{
    return read_file(path);
}

inline void write_bytes(const std::string &path, const std::string &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) {
        perror(path.c_str());
        abort();
    }
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// Compares two byte strings; on a difference says where, without printing 64 KiB.
inline ::testing::AssertionResult same_bytes(const std::string &actual, const std::string &expected)
{
    if (actual == expected)
        return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    auto around = [at](const std::string &s) {
        std::string part = at < s.size() ? s.substr(at, 24) : "";
        std::string out;
        for (unsigned char c : part) {
            char hex[8];
            snprintf(hex, sizeof hex, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02X", c);
            out += hex;
        }
        return out;
    };
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                         << ", first difference at offset " << at << ": \"" << around(actual)
                                         << "\" against \"" << around(expected) << "\"";
}

inline bool exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

// Collects what one descriptor (1 or 2) receives while it is alive.
class Capture {
public:
    explicit Capture(int fd) : fd_(fd)
    {
        fflush(nullptr);
        char tmpl[] = "/tmp/zelcapXXXXXX";
        tmp_ = mkstemp(tmpl);
        unlink(tmpl);
        saved_ = dup(fd_);
        dup2(tmp_, fd_);
    }
    ~Capture()
    {
        restore();
        close(tmp_);
    }
    std::string text()
    {
        restore();
        std::string out;
        lseek(tmp_, 0, SEEK_SET);
        char buf[4096];
        ssize_t n;
        while ((n = read(tmp_, buf, sizeof buf)) > 0)
            out.append(buf, static_cast<size_t>(n));
        return out;
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        fflush(nullptr);
        dup2(saved_, fd_);
        close(saved_);
        saved_ = -1;
    }
    int fd_;
    int tmp_;
    int saved_;
};

// These tests write /tmp/setting.txt and /dev/mtd*: only inside private_root.sh.
inline bool in_private_root()
{
    const char *v = getenv("ZEL_PRIVATE_ROOT");
    return v && v[0] == '1';
}

// The store runs on kernels from 2.6 on. The old kernel's profile (player/zel-kernel.c,
// which ZP_KERNEL names) refuses what 2.6 lacks the way 2.6 refuses it; the kernel26
// runs of these tests are under it.
inline bool old_kernel_profile()
{
    const char *v = getenv("ZP_KERNEL");
    return v != nullptr && strcmp(v, "2.6") == 0;
}

constexpr int kNoFilter = -98;

// Runs op() in a child process in which the given system calls fail with err, and
// returns op's result (a small int), kNoFilter when no filter can be installed here
// (another architecture, or a profile that refuses filters), or -99 when the child
// did not exit normally.
template <typename F>
int with_failing_calls(std::initializer_list<int> calls, int err, F op)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
#if defined(__x86_64__)
        struct sock_filter code[64];
        unsigned short n = 0;
        code[n++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr));
        for (int nr : calls) {
            code[n++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(nr), 0, 1);
            code[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<unsigned>(err));
        }
        code[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
        struct sock_fprog prog = {n, code};
        // Root may install a filter as it is (the old kernel's profile refuses
        // PR_SET_NO_NEW_PRIVS, which 2.6 lacks); anyone else must give up privileges first.
        if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0 &&
            (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0))
            _exit(kNoFilter & 0xff);
#else
        _exit(kNoFilter & 0xff);
#endif
        int rc = op();
        fflush(nullptr);
        _exit(rc & 0xff);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status))
        return -99;
    return static_cast<signed char>(WEXITSTATUS(status));
}

} // namespace zeltest

#define ZELTEST_REQUIRE_PRIVATE_ROOT()                                                                                 \
    static const bool zeltest_private_root_checked = [] {                                                              \
        if (!zeltest::in_private_root()) {                                                                             \
            fprintf(stderr, "refusing to run: start me through testsupport/private_root.sh\n");                        \
            exit(1);                                                                                                   \
        }                                                                                                              \
        return true;                                                                                                   \
    }()

#endif
