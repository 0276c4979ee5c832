// Export table lines: the client network, the entry format and which lines a
// removal drops.
#include <gtest/gtest.h>

#include <string>

#include "nfs_internal.h"
#include "stream_helpers.h"

namespace {

std::string network(const char *addr, const char *mask)
{
    char out[CLIENT_SPEC_SIZE];
    compose_export_network(out, addr, mask);
    return out;
}

TEST(ExportNetwork, ClearsOnlyTheLastPartOfTheAddress)
{
    EXPECT_EQ(network("192.168.1.23", "255.255.255.0"), "192.168.1.0/255.255.255.0");
    EXPECT_EQ(network("10.1.2.3", "255.0.0.0"), "10.1.2.0/255.0.0.0");
    EXPECT_EQ(network("255.255.255.255", "255.255.255.255"), "255.255.255.0/255.255.255.255");
}

TEST(ExportNetwork, AsksTheKernelAndFallsBackToEveryClient)
{
    char addr[IF_TEXT_SIZE];
    char out[CLIENT_SPEC_SIZE];
    ASSERT_EQ(get_interface_addr(addr, "lo"), 0);
    EXPECT_STREQ(addr, "127.0.0.1");
    ASSERT_EQ(get_interface_netmask(addr, "lo"), 0);
    EXPECT_STREQ(addr, "255.0.0.0");
    get_export_network(out, "lo");
    EXPECT_STREQ(out, "127.0.0.0/255.0.0.0");

    EXPECT_EQ(get_interface_addr(addr, "nosuch9"), -1);
    EXPECT_STREQ(addr, "#");
    EXPECT_EQ(get_interface_netmask(addr, ""), -1);
    EXPECT_STREQ(addr, "#");
    get_export_network(out, "nosuch9");
    EXPECT_STREQ(out, "*");
}

TEST(ExportEntry, FolderClientAndOptionsWithoutBlank)
{
    EXPECT_EQ(write_to_string([](FILE *f) {
                  write_export_entry(f, "share", "192.168.1.0/255.255.255.0");
                  write_export_entry(f, "USB_DRIVE_A-1", "*");
              }),
              "/share 192.168.1.0/255.255.255.0(rw,sync,root_squash,anonuid=1001,anongid=1001)\n"
              "/USB_DRIVE_A-1 *(rw,sync,root_squash,anonuid=1001,anongid=1001)\n");
    // A blank would end the folder field: the path is quoted.
    EXPECT_EQ(write_to_string([](FILE *f) { write_export_entry(f, "My Disk", "*"); }),
              "\"/My Disk\" *(rw,sync,root_squash,anonuid=1001,anongid=1001)\n");
}

TEST(ExportEntry, MatchesTheWholeFolderField)
{
    EXPECT_TRUE(export_entry_is("/USB_DRIVE_A-1 *(rw)\n", "USB_DRIVE_A-1"));
    EXPECT_TRUE(export_entry_is("  /HARD_DISK\t10.0.0.0/255.0.0.0(rw)\n", "HARD_DISK"));
    EXPECT_TRUE(export_entry_is("/HARD_DISK", "HARD_DISK"));
    EXPECT_FALSE(export_entry_is("/USB_DRIVE_A-10 *(rw)\n", "USB_DRIVE_A-1"));
    EXPECT_FALSE(export_entry_is("/HARD_DISK2 *(rw)\n", "HARD_DISK"));
    EXPECT_FALSE(export_entry_is("/share/HARD_DISK *(rw)\n", "HARD_DISK"));
    EXPECT_FALSE(export_entry_is("# /HARD_DISK *(rw)\n", "HARD_DISK"));
    EXPECT_FALSE(export_entry_is("\n", "HARD_DISK"));
    EXPECT_TRUE(export_entry_is("\"/My Disk\" *(rw)\n", "My Disk"));
    EXPECT_TRUE(export_entry_is("\"/HARD_DISK\" *(rw)\n", "HARD_DISK"));
    EXPECT_FALSE(export_entry_is("\"/My Disk2\" *(rw)\n", "My Disk"));
    EXPECT_FALSE(export_entry_is("\"/My\" Disk *(rw)\n", "My Disk"));
    // Folders inside the disk go with it.
    EXPECT_TRUE(export_entry_is("/HARD_DISK/Movies *(rw)\n", "HARD_DISK"));
    EXPECT_TRUE(export_entry_is("\"/My Disk/My Movies\" *(rw)\n", "My Disk"));
    EXPECT_FALSE(export_entry_is("/HARD_DISK2/Movies *(rw)\n", "HARD_DISK"));
}

std::string remove_from(const std::string &table, const char *name)
{
    return filter_string(table, [name](FILE *in, FILE *out) { filter_exports(in, out, name); });
}

TEST(ExportRemoval, DropsOnlyTheFoldersEntriesAndKeepsEveryOtherLine)
{
    const std::string table = "/share *(rw)\n"
                              "\n"
                              "/USB_DRIVE_A-1 *(rw)\n"
                              "\n"
                              "/USB_DRIVE_A-10 *(rw)\n"
                              "/USB_DRIVE_A-1 10.0.0.0/255.0.0.0(rw)\n"
                              "/HARD_DISK *(rw,fsid=1,nohide)";
    EXPECT_EQ(remove_from(table, "USB_DRIVE_A-1"),
              "/share *(rw)\n\n\n/USB_DRIVE_A-10 *(rw)\n/HARD_DISK *(rw,fsid=1,nohide)");
    EXPECT_EQ(remove_from(table, "HARD_DISK"), "/share *(rw)\n\n/USB_DRIVE_A-1 *(rw)\n\n/USB_DRIVE_A-10 *(rw)\n"
                                               "/USB_DRIVE_A-1 10.0.0.0/255.0.0.0(rw)\n");
    EXPECT_EQ(remove_from(table, "SATA_DISK"), table);
    EXPECT_EQ(remove_from("", "share"), "");
}

TEST(ExportRemoval, LongLinesGoOrStayWhole)
{
    std::string clients;
    for (int i = 1; i <= 20; i++)
        clients += " 192.168." + std::to_string(i) + ".0/255.255.255.0(rw)";
    std::string long_drop = "/HARD_DISK" + clients + "\n";
    std::string long_keep = "/SATA_DISK" + clients + "\n";
    ASSERT_GT(long_drop.size(), 300u);
    EXPECT_EQ(remove_from(long_drop + long_keep + "/share *(rw)\n", "HARD_DISK"), long_keep + "/share *(rw)\n");
    // A continuation piece that starts with the folder's name is part of its line.
    std::string wrapped = "/" + std::string(253, 'k') + "/HARD_DISK x\n";
    EXPECT_EQ(remove_from(wrapped, "HARD_DISK"), wrapped);
}

} // namespace
