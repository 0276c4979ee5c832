// Logged setting changes against the real settings store. Runs inside the simulated
// player: the settings file and the log have fixed paths under /tmp.
#include "reset_zel.h"
#include "zelmsg.h"

#include "read_file.h"

#include <gtest/gtest.h>

#include <string>

#include <stdio.h>
#include <stdlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string read_log()
{
    return zeltest::read_file(SETUP_LOG, "<none>");
}

std::string setting(const char *key)
{
    char *v = get_var_mem(key);
    std::string s = v ? v : "<none>";
    free(v);
    return s;
}

class SettingLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        remove(SETUP_LOG);
        FILE *f = fopen(SETTING_FILE, "w");
        ASSERT_NE(f, nullptr);
        fclose(f);
    }
    void TearDown() override
    {
        remove(SETUP_LOG);
        remove(SETTING_FILE);
    }
};

TEST_F(SettingLog, TextChangeIsComparedLoggedAndWritten)
{
    ASSERT_GE(write_str("upnp", "1"), 0);
    EXPECT_EQ(save_setting_change_str("upnp", "1"), 0);
    EXPECT_EQ(read_log(), "Comparing [upnp] : Current=1 to New=1\r\n");

    EXPECT_EQ(save_setting_change_str("upnp", "0"), 1);
    EXPECT_EQ(setting("upnp"), "0");
    // A prefix is not the same value.
    ASSERT_GE(write_str("upnp", "10"), 0);
    EXPECT_EQ(save_setting_change_str("upnp", "1"), 1);
    EXPECT_EQ(setting("upnp"), "1");
    EXPECT_EQ(read_log(), "Comparing [upnp] : Current=1 to New=1\r\n"
                          "Comparing [upnp] : Current=1 to New=0\r\n"
                          "*Updating [upnp] to 0\r\n"
                          "Comparing [upnp] : Current=10 to New=1\r\n"
                          "*Updating [upnp] to 1\r\n");
}

TEST_F(SettingLog, MissingOrEmptySettingIsWrittenWithoutALogLine)
{
    EXPECT_EQ(save_setting_change_str("ftpserv", "1"), 1);
    EXPECT_EQ(setting("ftpserv"), "1");
    ASSERT_GE(write_str("nzb", ""), 0);
    int seven = 7;
    EXPECT_EQ(save_setting_change_int("nzb", &seven), 1);
    EXPECT_EQ(setting("nzb"), "7");
    EXPECT_EQ(read_log(), "<none>");
}

TEST_F(SettingLog, IntegerComparesTheNumberButLogsTheStoredText)
{
    ASSERT_GE(write_str("mode", "abc"), 0);
    int zero = 0;
    EXPECT_EQ(save_setting_change_int("mode", &zero), 0);
    EXPECT_EQ(setting("mode"), "abc");

    ASSERT_GE(write_str("mode", " 7x"), 0);
    int eight = 8;
    EXPECT_EQ(save_setting_change_int("mode", &eight), 1);
    EXPECT_EQ(setting("mode"), "8");
    int minus = -3;
    EXPECT_EQ(save_setting_change_int("mode", &minus), 1);
    EXPECT_EQ(setting("mode"), "-3");
    EXPECT_EQ(read_log(), "Comparing [mode] : Current=abc to New=0\r\n"
                          "Comparing [mode] : Current= 7x to New=8\r\n"
                          "*Updating [mode] to 8\r\n"
                          "Comparing [mode] : Current=8 to New=-3\r\n"
                          "*Updating [mode] to -3\r\n");
}

TEST_F(SettingLog, NullArgumentsTouchNothing)
{
    ASSERT_GE(write_str("upnp", "1"), 0);
    int one = 1;
    EXPECT_EQ(save_setting_change_str(nullptr, "0"), -1);
    EXPECT_EQ(save_setting_change_int(nullptr, &one), -1);
    EXPECT_EQ(save_setting_change_str("upnp", nullptr), -1);
    EXPECT_EQ(save_setting_change_int("upnp", nullptr), -1);
    EXPECT_EQ(setting("upnp"), "1");
    EXPECT_EQ(read_log(), "<none>");
}

// Lines longer than the 259 characters an old line buffer held are logged whole.
TEST_F(SettingLog, LongValuesAreLoggedWhole)
{
    const std::string stored(1023, 's');
    const std::string wanted(900, 'w');
    ASSERT_GE(write_str("share_list", stored.c_str()), 0);
    EXPECT_EQ(save_setting_change_str("share_list", wanted.c_str()), 1);
    EXPECT_EQ(setting("share_list"), wanted);
    EXPECT_EQ(read_log(), "Comparing [share_list] : Current=" + stored + " to New=" + wanted + "\r\n" +
                              "*Updating [share_list] to " + wanted + "\r\n");
}

// Whatever is planted at the log's path, the setting still changes and nothing is
// written through it or waited on: a link, a FIFO or another user's file gives way to
// a log of our own, a directory costs the line (with a message).
TEST_F(SettingLog, PlantedLogStillChangesTheSettingAndWritesNothingElsewhere)
{
    const char *victim = "/tmp/victim";
    const std::string lines = "Comparing [upnp] : Current=1 to New=0\r\n*Updating [upnp] to 0\r\n";
    const struct {
        const char *planted;
        int (*plant)();
        bool directory;
        const char *err;
    } cases[] = {
        {"directory", [] { return mkdir(SETUP_LOG, 0755); }, true,
         "/tmp/setup_cgi_log: Is a directory\n/tmp/setup_cgi_log: Is a directory\n"},
        {"link", [] { return symlink("/tmp/victim", SETUP_LOG); }, false, ""},
        {"FIFO", [] { return mkfifo(SETUP_LOG, 0666); }, false, ""},
        {"file of another user",
         [] {
             int fd = creat(SETUP_LOG, 0666);
             return fd < 0 || close(fd) != 0 ? -1 : chown(SETUP_LOG, 1000, 1000);
         },
         false, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.planted);
        FILE *v = fopen(victim, "w");
        ASSERT_NE(v, nullptr);
        fputs("victim\n", v);
        fclose(v);
        ASSERT_EQ(c.plant(), 0);
        ASSERT_GE(write_str("upnp", "1"), 0);
        testing::internal::CaptureStderr();
        EXPECT_EQ(save_setting_change_str("upnp", "0"), 1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        EXPECT_EQ(setting("upnp"), "0");
        if (!c.directory) {
            EXPECT_EQ(read_log(), lines);
        }
        struct stat st;
        ASSERT_EQ(lstat(SETUP_LOG, &st), 0);
        EXPECT_EQ(S_ISDIR(st.st_mode), c.directory);
        FILE *after = fopen(victim, "r");
        char text[16] = "";
        ASSERT_NE(after, nullptr);
        EXPECT_NE(fgets(text, sizeof text, after), nullptr);
        fclose(after);
        EXPECT_STREQ(text, "victim\n");
        rmdir(SETUP_LOG);
        remove(SETUP_LOG);
        remove(victim);
    }
}
} // namespace

// Somebody gives the log a second name: the new lines go into a log of our own at the
// path, after the old ones, and the other name keeps the old lines only.
TEST_F(SettingLog, ASecondNameKeepsTheOldLinesAndGetsNoNewOne)
{
    const char *mine = "/tmp/.mine_log";
    const std::string old = "Comparing [x] : Current=1 to New=1\r\n";
    FILE *log = fopen(SETUP_LOG, "w");
    ASSERT_NE(log, nullptr);
    fputs(old.c_str(), log);
    fclose(log);
    unlink(mine);
    ASSERT_EQ(link(SETUP_LOG, mine), 0);
    ASSERT_GE(write_str("upnp", "1"), 0);
    EXPECT_EQ(save_setting_change_str("upnp", "0"), 1);
    EXPECT_EQ(setting("upnp"), "0");
    EXPECT_EQ(read_log(), old + "Comparing [upnp] : Current=1 to New=0\r\n*Updating [upnp] to 0\r\n");
    EXPECT_EQ(zeltest::read_file(mine, "<none>"), old);
    unlink(mine);
}
