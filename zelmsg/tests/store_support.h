// Helpers for the store and flash tests: whole-file bytes, captured output streams,
// and the guard that keeps these tests off the host's own /tmp and /dev.
#ifndef ZELMSG_TESTS_STORE_SUPPORT_H
#define ZELMSG_TESTS_STORE_SUPPORT_H

#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <linux/audit.h>
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

// The store runs on kernels from 2.6 on: the calls they lack are refused here for the
// whole test program, as a 2.6 kernel refuses them. Open-file-description locks
// (3.15) fail with EINVAL; fallocate (on tmpfs from 3.5) kills the program, since the
// store must not even try it.
inline bool old_kernel_profile()
{
#if defined(__x86_64__)
    static bool installed = false;
    if (installed)
        return true;
    struct sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fallocate, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fcntl, 0, 4),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[1])),
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 36 /* F_OFD_GETLK */, 0, 2),
        BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, 38 /* F_OFD_SETLKW */, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog prog = {static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    installed = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0;
    return installed;
#else
    return false;
#endif
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
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0)
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
        if (!zeltest::old_kernel_profile())                                                                            \
            fprintf(stderr, "note: calls that 2.6 kernels lack are not refused on this machine\n");                    \
        return true;                                                                                                   \
    }()

#endif
