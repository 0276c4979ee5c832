// The command line: which texts reach the operations, and when a run ends early.
#include <gtest/gtest.h>

#include <string>

#include "commands.h"

namespace {

struct CommandLine {
    char cmd[CMD_TEXT_SIZE];
    char opt[OPT_TEXT_SIZE];
    std::string err;
    int result;

    explicit CommandLine(std::initializer_list<const char *> args)
    {
        char *argv[8] = {};
        int argc = 0;
        for (const char *a : args)
            argv[argc++] = const_cast<char *>(a);
        memset(cmd, 'X', sizeof cmd);
        memset(opt, 'X', sizeof opt);
        testing::internal::CaptureStderr();
        result = read_command_line(argc, argv, cmd, opt);
        err = testing::internal::GetCapturedStderr();
    }
};

TEST(CommandLine, FewerThanTwoArgumentsEndSilently)
{
    CommandLine none({"zel_services"});
    EXPECT_EQ(none.result, -1);
    EXPECT_EQ(none.err, "");
    CommandLine one({"zel_services", "cmd=add_share"});
    EXPECT_EQ(one.result, -1);
    EXPECT_EQ(one.err, "");
}

TEST(CommandLine, KeysAloneEndWithTheirMessage)
{
    // The second argument is not looked at once the command is missing.
    CommandLine cmd_alone({"zel_services", "cmd=", "opt="});
    EXPECT_EQ(cmd_alone.result, -1);
    EXPECT_EQ(cmd_alone.err, "[zel_services] cmd = NULL!\n");

    CommandLine opt_alone({"zel_services", "cmd=add_share", "opt="});
    EXPECT_EQ(opt_alone.result, -1);
    EXPECT_EQ(opt_alone.err, "[zel_services] opt = NULL!\n");
}

TEST(CommandLine, TextBeforeTheKeysIsIgnored)
{
    CommandLine c({"zel_services", "xcmd=add_share", "--opt=HARD_DISK", "extra"});
    EXPECT_EQ(c.result, 0);
    EXPECT_STREQ(c.cmd, "add_share");
    EXPECT_STREQ(c.opt, "HARD_DISK");
    EXPECT_EQ(c.err, "");
}

TEST(CommandLine, MissingKeysLeaveEmptyTexts)
{
    CommandLine c({"zel_services", "add_share", "HARD_DISK"});
    EXPECT_EQ(c.result, 0);
    EXPECT_STREQ(c.cmd, "");
    EXPECT_STREQ(c.opt, "");
}

TEST(CommandLine, TextsAreCutToTheirBuffers)
{
    std::string long_cmd = "cmd=" + std::string("remove_share") + std::string(20, 'y');
    std::string long_opt = "opt=" + std::string(300, 'o');
    CommandLine c({"zel_services", long_cmd.c_str(), long_opt.c_str()});
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(std::string(c.cmd), long_cmd.substr(4, 19));
    EXPECT_EQ(std::string(c.opt), std::string(255, 'o'));
    EXPECT_EQ(parse_cmd(c.cmd), -1);
}

TEST(ParseCmd, ExactCaseSensitiveNames)
{
    EXPECT_EQ(parse_cmd("nfs_share"), 0);
    EXPECT_EQ(parse_cmd("ftp_passwd"), 1);
    EXPECT_EQ(parse_cmd("smb_workgrp"), 2);
    EXPECT_EQ(parse_cmd("add_share"), 3);
    EXPECT_EQ(parse_cmd("remove_share"), 4);
    EXPECT_EQ(parse_cmd("Add_share"), -1);
    EXPECT_EQ(parse_cmd("add_shares"), -1);
    EXPECT_EQ(parse_cmd("add_shar"), -1);
    EXPECT_EQ(parse_cmd(""), -1);
    // The count is the table's: every row up to it answers to its own name.
    EXPECT_EQ(APPS_COUNT, 5);
    for (int code = 0; code < APPS_COUNT; code++)
        EXPECT_EQ(parse_cmd(apps_type[code].name), code) << apps_type[code].name;
}

} // namespace
