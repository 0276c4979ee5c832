// Share lists, the rules for names written into the tables, and the disk-share scan.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string>
#include <vector>

#include "test_entry.h"

namespace {

struct Cut {
    std::vector<std::string> names;
    int result;
    explicit Cut(const char *list)
    {
        result = for_each_share_name(
            list, [](const char *name, void *ctx) { static_cast<std::vector<std::string> *>(ctx)->push_back(name); },
            &names);
    }
};

using Names = std::vector<std::string>;

TEST(ShareList, CountIsSeparatorsPlusOne)
{
    EXPECT_EQ(count_share_names(""), 1);
    EXPECT_EQ(count_share_names("HARD_DISK"), 1);
    EXPECT_EQ(count_share_names("HARD_DISK|#USB_DRIVE_A-1"), 2);
    EXPECT_EQ(count_share_names("a|#"), 2);
    EXPECT_EQ(count_share_names("|#a"), 2);
    EXPECT_EQ(count_share_names("|#|#"), 3);
    // Matches do not overlap: "|#|#" is two separators, "|#" then "#" is one.
    EXPECT_EQ(count_share_names("a|##b"), 2);
    EXPECT_EQ(count_share_names("a|b#c"), 1);
}

TEST(ShareList, CutsNamesInOrderWithEmptyEnds)
{
    EXPECT_EQ(Cut("HARD_DISK").names, Names({"HARD_DISK"}));
    EXPECT_EQ(Cut("HARD_DISK|#USB_DRIVE_A-1").names, Names({"HARD_DISK", "USB_DRIVE_A-1"}));
    EXPECT_EQ(Cut("a|#").names, Names({"a", ""}));
    EXPECT_EQ(Cut("|#a").names, Names({"", "a"}));
    EXPECT_EQ(Cut("").names, Names({""}));
    EXPECT_EQ(Cut("a|##b").names, Names({"a", "#b"}));
    EXPECT_EQ(Cut("a|#b").result, 2);
}

TEST(ShareList, StopsBeforeANameTooLongForItsBuffer)
{
    std::string fits(49, 'f');
    std::string too_long(50, 'l');
    EXPECT_EQ(Cut(fits.c_str()).names, Names({fits}));
    Cut cut(("ok|#" + too_long + "|#after").c_str());
    EXPECT_EQ(cut.result, -1);
    EXPECT_EQ(cut.names, Names({"ok"}));
}

TEST(ShareNames, AcceptsFoldersDirectlyUnderTheRoot)
{
    EXPECT_EQ(check_share_name("HARD_DISK"), 0);
    EXPECT_EQ(check_share_name("USB_DRIVE_A-1"), 0);
    EXPECT_EQ(check_share_name("share"), 0);
    EXPECT_EQ(check_share_name("..."), 0);
    EXPECT_EQ(check_share_name(std::string(49, 'n').c_str()), 0);
    EXPECT_EQ(check_share_name("My Disk"), 0);
    EXPECT_EQ(check_share_name("a#b=c;d"), 0);
    EXPECT_EQ(check_share_name("global2"), 0);
    // UTF-8 in the scripts whose case the rule knows, and in scripts without case.
    for (const char *name : {"Fotos ü", "Été", "Łódź", "Ωμέγα", "Дача", "音楽", "שירים", "a'b", "d$"})
        EXPECT_EQ(check_share_name(name), 0) << name;
    EXPECT_EQ(check_share_list("HARD_DISK|#USB_DRIVE_A-1|#SATA_DISK|#My Disk"), 0);
}

TEST(ShareNames, RefusesNamesThatWouldExportAnotherFolderOrAddLines)
{
    const char *bad[] = {"", ".", "..", "a/b", "../etc", "/", "x\n/ *(rw)", "a\rb", "tab\there", "del\x7f", "a\"b",
                         "a\\040b", "a]b", "]", "100%", "%m", "global", "GLOBAL", "Homes", "printers", " lead",
                         "trail ", "two  blanks", "x[share", "[", "IPC$", "ipc$",
                         // Not UTF-8 (Latin-1 bytes, overlong, cut, surrogate), C1 controls,
                         // letters whose case Samba folds in ways not known here.
                         "l\xe9", "\xc0\xaf", "\xe2\x82", "\xed\xa0\x80", "\xc2\x85", "\xef\xbc\xa1", "\xe2\x84\xaa"};
    for (const char *name : bad)
        EXPECT_EQ(check_share_name(name), -1) << name;
    EXPECT_EQ(check_share_name(std::string(50, 'n').c_str()), -1);

    EXPECT_EQ(check_share_list("HARD_DISK|#"), -1);
    EXPECT_EQ(check_share_list("|#HARD_DISK"), -1);
    EXPECT_EQ(check_share_list("HARD_DISK|#x\n/ *(rw)"), -1);
    EXPECT_EQ(check_share_list(("HARD_DISK|#" + std::string(60, 'n')).c_str()), -1);
}

// Samba takes section names without regard to case: a name that is another section in
// another case (one of the configuration, "share", Samba's own or an earlier one of the
// list) would take that section over. The same name again is no other section.
TEST(ShareNames, RefusesAnotherSectionInAnotherCase)
{
    std::string conf = "[global]\n\tworkgroup = W\n  [Music] \n\tpath = /Music\n[HARD_DISK]\n";
    const struct {
        const char *list;
        int with_conf;
        int without;
    } cases[] = {
        {"HARD_DISK", 0, 0},
        {"hard_disk", -1, 0},
        {"MUSIC", -1, 0},
        {"SHARE", -1, -1},
        {"share", 0, 0},
        {"Share|#x", -1, -1},
        {"x|#Share", -1, -1},
        {"USB_DRIVE_A|#USB_DRIVE_a", -1, -1},
        {"USB_DRIVE_A|#USB_DRIVE_A", 0, 0},
        {"My Disk", 0, 0},
        {"a|#b|#A", -1, -1},
        // Samba folds the case of letters beyond ASCII too: [\xc3\x9c] merged into [\xc3\xbc].
        {"\xc3\xbc|#\xc3\x9c", -1, -1},
        {"\xc3\xa9t\xc3\xa9|#\xc3\x89T\xc3\x89", -1, -1},
        {"\xc5\x82|#\xc5\x81", -1, -1},
        {"\xd0\xb4|#\xd0\x94", -1, -1},
        {"\xcf\x82|#\xce\xa3", -1, -1},
        {"\xc4\xb1|#I", -1, -1},
        {"\xc3\xbc|#\xc3\xa9", 0, 0},
        {"\xc3\x9f|#SS", 0, 0},
    };
    for (const auto &c : cases) {
        FILE *f = fmemopen(const_cast<char *>(conf.data()), conf.size(), "r");
        EXPECT_EQ(check_new_sections(c.list, f), c.with_conf) << c.list;
        fclose(f);
        EXPECT_EQ(check_new_sections(c.list, nullptr), c.without) << c.list;
    }
    EXPECT_TRUE(same_section("My  Disk ", "my disk"));
    EXPECT_FALSE(same_section("MyDisk", "My Disk"));
}

TEST(ConfigText, RefusesControlCharactersOnly)
{
    EXPECT_EQ(check_config_text("WORKGROUP"), 0);
    EXPECT_EQ(check_config_text("My Home Group"), 0);
    EXPECT_EQ(check_config_text(""), 0);
    EXPECT_EQ(check_config_text("G\ninclude = /tmp/x"), -1);
    EXPECT_EQ(check_config_text("G\r"), -1);
    EXPECT_EQ(check_config_text("G\t"), -1);
    // A workgroup ending in a backslash would take the next line of the template in.
    EXPECT_EQ(check_workgroup("My Home Group"), 0);
    EXPECT_EQ(check_workgroup("G\\"), -1);
    EXPECT_EQ(check_workgroup("a\\b"), -1);
    EXPECT_EQ(check_workgroup("G\n"), -1);
    EXPECT_EQ(check_workgroup("Gr\xc3\xbcppe"), 0);
    // nmbd announced an empty workgroup for a Latin-1 one, none for NetBIOS's "*".
    EXPECT_EQ(check_workgroup("Gr\xfc"), -1);
    EXPECT_EQ(check_workgroup("*"), -1);
    EXPECT_EQ(check_workgroup("*G"), -1);
}

TEST(DiskShares, MarkersAnywhereCaseSensitive)
{
    EXPECT_TRUE(is_disk_share("HARD_DISK"));
    EXPECT_TRUE(is_disk_share("SATA_DISK2"));
    EXPECT_TRUE(is_disk_share("myUSB_DRIVE_x"));
    EXPECT_FALSE(is_disk_share("usb_drive_a"));
    EXPECT_FALSE(is_disk_share("Hard_Disk"));
    EXPECT_FALSE(is_disk_share("USB_DRIVE"));
    EXPECT_FALSE(is_disk_share("share"));
}

std::vector<std::string> scan(const std::string &listing)
{
    std::vector<std::string> found;
    FILE *f = fmemopen(const_cast<char *>(listing.data()), listing.size(), "r");
    char line[LINE_SIZE];
    while (next_disk_share(f, line))
        found.push_back(line);
    fclose(f);
    return found;
}

TEST(DiskShares, ScanKeepsListingOrderAndSkipsOtherEntries)
{
    EXPECT_EQ(scan("bin\nHARD_DISK\netc\nusb_drive_a\nUSB_DRIVE_A-1\nxSATA_DISKy\nshare\n"),
              Names({"HARD_DISK", "USB_DRIVE_A-1", "xSATA_DISKy"}));
    EXPECT_EQ(scan(""), Names());
    // The last entry keeps its last character when no newline follows it.
    EXPECT_EQ(scan("HARD_DISK"), Names({"HARD_DISK"}));
    // Samba would serve two disks whose names differ only in case as one section.
    testing::internal::CaptureStderr();
    EXPECT_EQ(scan("USB_DRIVE_A\nHARD_DISK\nUSB_DRIVE_a\nhard_diskHARD_DISK\nHARD_DISKHARD_DISK\n"),
              Names({"USB_DRIVE_A", "HARD_DISK", "hard_diskHARD_DISK"}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[zel_services] Disk USB_DRIVE_a left out: Samba takes it for USB_DRIVE_A\n"
              "[zel_services] Disk HARD_DISKHARD_DISK left out: Samba takes it for hard_diskHARD_DISK\n");
}

TEST(DiskShares, ScanSkipsEntriesThatCannotBeWrittenWhole)
{
    std::string long_entry = std::string(250, 'a') + "HARD_DISK" + std::string(40, 'b');
    EXPECT_EQ(scan(long_entry + "\nUSB_DRIVE_B\n"), Names({"USB_DRIVE_B"}));
    // Pieces of a long entry must not pass as names: the tail here holds a marker.
    std::string tail_marker = std::string(260, 'a') + "USB_DRIVE_X\nSATA_DISK\n";
    EXPECT_EQ(scan(tail_marker), Names({"SATA_DISK"}));
    EXPECT_EQ(scan("HARD_DISK\r\n" + std::string(50, 'H') + "HARD_DISK\nHARD_DISK\"\nglobalHARD_DISK%m\n"), Names());
    // The rule of add_share and remove_share: a 49-character disk is shared, a blank
    // between words is kept.
    std::string longest = "HARD_DISK" + std::string(40, 'x');
    EXPECT_EQ(scan(longest + "\nUSB_DRIVE_ A\n"), Names({longest, "USB_DRIVE_ A"}));
}

} // namespace
