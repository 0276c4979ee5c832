// The Samba master text and the removal of a share section.
#include <gtest/gtest.h>

#include <string>

#include "samba_internal.h"
#include "stream_helpers.h"

namespace {

TEST(SambaMaster, GlobalAndShareSectionsByteForByte)
{
    std::string text = write_to_string([](FILE *f) {
        write_global_section(f, "HOME GROUP");
        write_share_section(f, "share");
        write_share_section(f, "HARD_DISK");
        write_share_section(f, "USB_DRIVE_A-1");
    });
    EXPECT_EQ(text, golden("smb_master_two_disks.conf"));
}

std::string section(const std::string &name, const std::string &path)
{
    return "[" + name + "]\n\tpath = /" + path +
           "\n\twriteable = yes\n\tvalid users = zel\n\tforce create mode = 0644\n"
           "\tforce directory mode = 0755\n";
}

std::string remove_section(const std::string &conf, const char *name)
{
    std::string header = std::string("[") + name + "]";
    return filter_string(conf, [&header](FILE *in, FILE *out) { filter_smb_sections(in, out, header.c_str()); });
}

TEST(SambaRemoval, DropsHeaderAndFiveLinesOfTheExactSection)
{
    std::string global = "[global]\n\tworkgroup = W\n";
    std::string conf =
        global + section("shared", "shared") + section("share", "share") + section("HARD_DISK", "HARD_DISK");
    EXPECT_EQ(remove_section(conf, "share"), global + section("shared", "shared") + section("HARD_DISK", "HARD_DISK"));
    EXPECT_EQ(remove_section(conf, "USB_DRIVE_A-1"), conf);
    // Only a header line that is the whole header: not "[x[share]", which holds it.
    std::string other = section("x[share", "x[share");
    EXPECT_EQ(remove_section(other + section("share", "share"), "share"), other);
    EXPECT_EQ(remove_section("  [share] \r\n\ta\n\tb\n\tc\n\td\n\te\n[x]\n", "share"), "[x]\n");
    // Two sections of one name (a folder added twice) both go.
    EXPECT_EQ(remove_section(section("HARD_DISK", "a") + global + section("HARD_DISK", "b"), "HARD_DISK"), global);
}

TEST(SambaRemoval, FiveLinesAfterTheHeaderWhateverTheyHold)
{
    // The tool's own output: sorted parameters and an empty line between sections.
    std::string tool_output = "# Global parameters\n[global]\n\tworkgroup = W\n\n\n"
                              "[HARD_DISK]\n\tforce create mode = 0644\n"
                              "\tforce directory mode = 0755\n\tpath = /HARD_DISK\n"
                              "\tread only = No\n\tvalid users = zel\n\n\n"
                              "[share]\n\tforce create mode = 0644\n"
                              "\tforce directory mode = 0755\n\tpath = /share\n"
                              "\tread only = No\n\tvalid users = zel\n";
    EXPECT_EQ(remove_section(tool_output, "HARD_DISK"), "# Global parameters\n[global]\n\tworkgroup = W\n\n\n\n\n"
                                                        "[share]\n\tforce create mode = 0644\n"
                                                        "\tforce directory mode = 0755\n\tpath = /share\n"
                                                        "\tread only = No\n\tvalid users = zel\n");
}

TEST(SambaRemoval, LongLinesCountOnce)
{
    std::string long_line = "\tcomment = " + std::string(400, 'c') + "\n";
    std::string conf = "[HARD_DISK]\n" + long_line + "\ta = 1\n\tb = 2\n\tc = 3\n\td = 4\n" + section("share", "share");
    EXPECT_EQ(remove_section(conf, "HARD_DISK"), section("share", "share"));
}

} // namespace
