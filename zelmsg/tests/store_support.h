// Helpers for the store and flash tests: whole-file bytes, captured output streams,
// and the guard that keeps these tests off the host's own /tmp and /dev.
#ifndef ZELMSG_TESTS_STORE_SUPPORT_H
#define ZELMSG_TESTS_STORE_SUPPORT_H

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

namespace zeltest {

inline std::string read_bytes(const std::string &path)
{
    std::string out;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return "<missing>";
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
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

} // namespace zeltest

#define ZELTEST_REQUIRE_PRIVATE_ROOT()                                                                                 \
    static const bool zeltest_private_root_checked = [] {                                                              \
        if (!zeltest::in_private_root()) {                                                                             \
            fprintf(stderr, "refusing to run: start me through zelmsg/tests/private_root.sh\n");                       \
            exit(1);                                                                                                   \
        }                                                                                                              \
        return true;                                                                                                   \
    }()

#endif
