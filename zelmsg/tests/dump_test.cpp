// Diagnostics and the store's pure helpers: byte-exact output against golden files.
#include "zelmsg.h"
#include "store_support.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

using zeltest::Capture;
using zeltest::read_bytes;
using zeltest::write_bytes;

namespace {
// Addresses differ from run to run: name them by their offset from the region.
std::string symbolic(std::string out, const void *base, int length)
{
    auto replace_all = [&out](const std::string &from, const std::string &to) {
        for (size_t at = out.find(from); at != std::string::npos; at = out.find(from, at + to.size()))
            out.replace(at, from.size(), to);
    };
    char text[64];
    snprintf(text, sizeof text, "=0x%p,", base);
    replace_all(text, "=0x<%p>,");
    for (int off = 0; off < length; off += 16) {
        snprintf(text, sizeof text, "0x%08x :  ",
                 static_cast<unsigned>(reinterpret_cast<uintptr_t>(static_cast<const char *>(base) + off)));
        char name[32];
        snprintf(name, sizeof name, "0x<%%08x of base+%d> :  ", off);
        replace_all(text, name);
    }
    return out;
}

void expect_golden(const std::string &name, const std::string &actual)
{
    const std::string path = std::string(ZELMSG_GOLDEN_DIR) + "/" + name;
    if (getenv("ZEL_UPDATE_GOLDEN")) {
        write_bytes(path, actual);
        return;
    }
    EXPECT_EQ(actual, read_bytes(path)) << "golden file " << path;
}

struct DumpCase {
    const char *golden;
    int line;
    int length;
};

TEST(Dump, PrintsHexAndCharacterTables)
{
    unsigned char bytes[40];
    for (int i = 0; i < 40; ++i)
        bytes[i] = static_cast<unsigned char>(i * 37 + 0x1D);
    const unsigned char edges[] = {0x00, 0x1F, 0x20, 0x41, 0x7E, 0x7F, 0x80, 0xFE, 0xFF, '\n'};
    memcpy(bytes + 6, edges, sizeof edges);

    for (const DumpCase &c : {DumpCase{"dump_20.txt", 7, 20}, DumpCase{"dump_16.txt", -1, 16},
                              DumpCase{"dump_0.txt", 0, 0}, DumpCase{"dump_40.txt", 0, 40}}) {
        SCOPED_TRACE(c.golden);
        Capture out(1);
        int rc = dump(c.line, bytes, c.length);
        std::string text = out.text();
        EXPECT_EQ(rc, 1); // the closing line feed
        expect_golden(c.golden, symbolic(text, bytes, c.length));
    }
}

TEST(Dump, EscapesControlBytesOnly)
{
    EXPECT_EQ(escape_control(0x00), '.');
    EXPECT_EQ(escape_control(0x1F), '.');
    EXPECT_EQ(escape_control(0xFF), '.');
    EXPECT_EQ(escape_control(-1), '.');
    EXPECT_EQ(escape_control(0x20), ' ');
    EXPECT_EQ(escape_control(0x7F), 0x7F);
    EXPECT_EQ(escape_control(0x80), 0x80);
    EXPECT_EQ(escape_control(0xFE), 0xFE);
    EXPECT_EQ(escape_control(0x141), 'A');
}

TEST(StrcpyDel2, CopiesUpToDelimiterOrSize)
{
    char buf[8];
    EXPECT_EQ(strcpy_del2(nullptr, "x", 8, '\n'), 0);
    EXPECT_EQ(strcpy_del2(buf, nullptr, 8, '\n'), 0);
    EXPECT_EQ(strcpy_del2(buf, "ab\ncd", 8, '\n'), 2);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(strcpy_del2(buf, "", 8, '\n'), 0);
    EXPECT_STREQ(buf, "");
    // Exactly size - 1 characters still fit, with their terminator.
    EXPECT_EQ(strcpy_del2(buf, "1234567", 8, '\n'), 7);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(strcpy_del2(buf, "1234567\nx", 8, '\n'), 7);
    memset(buf, 'X', sizeof buf);
    EXPECT_EQ(strcpy_del2(buf, "12345678", 8, '\n'), 2147483647);
    EXPECT_EQ(std::string(buf, 8), "1234567X");
}

// read_file and write_file take any path; here a private folder, never the store's.
TEST(FileIo, WriteFileReplacesContentInPlace)
{
    char dir[] = "/tmp/zelmsg_fileio_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/s.txt";

    EXPECT_EQ(write_file(path.c_str(), "\nlong=value here"), 17);
    EXPECT_EQ(write_file(path.c_str(), "\na=1"), 5);
    EXPECT_EQ(read_bytes(path), std::string("\na=1\0", 5));

    char buf[16];
    memset(buf, 'X', sizeof buf);
    EXPECT_EQ(read_file(path.c_str(), buf, 16), 0);
    EXPECT_EQ(std::string(buf, 6), std::string("\na=1\0X", 6)); // no terminator added
    memset(buf, 'X', sizeof buf);
    EXPECT_EQ(read_file(path.c_str(), buf, 3), 0);
    EXPECT_EQ(std::string(buf, 4), "\na=X");

    unlink(path.c_str());
    rmdir(dir);
}
} // namespace
