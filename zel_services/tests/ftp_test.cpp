// The pure-pw command line: the login reaches the tool as one word and nothing in it
// is ever run.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string>

#include "ftp_internal.h"
#include "read_file.h"
#include "zel_paths.h"

namespace {

std::string passwd_command(const std::string &login)
{
    char cmd[COMMAND_SIZE];
    if (compose_passwd_command(cmd, sizeof cmd, login.c_str()) != 0)
        return "<refused>";
    return cmd;
}

TEST(FtpCommand, PlainLoginGivesTheUsualCommandLine)
{
    EXPECT_EQ(passwd_command("ftpuser"), ZEL_BIN_DIR "/pure-pw passwd ftpuser -f /etc/pureftpd.passwd -m ");
    EXPECT_EQ(passwd_command("joe.smith-2@home"),
              ZEL_BIN_DIR "/pure-pw passwd joe.smith-2@home -f /etc/pureftpd.passwd -m ");
}

TEST(FtpCommand, ShellTextIsQuoted)
{
    EXPECT_EQ(passwd_command("x; touch /tmp/pwned"),
              ZEL_BIN_DIR "/pure-pw passwd 'x; touch /tmp/pwned' -f /etc/pureftpd.passwd -m ");
    EXPECT_EQ(passwd_command("$(reboot)"), ZEL_BIN_DIR "/pure-pw passwd '$(reboot)' -f /etc/pureftpd.passwd -m ");
    EXPECT_EQ(passwd_command("it's"), ZEL_BIN_DIR "/pure-pw passwd 'it'\\''s' -f /etc/pureftpd.passwd -m ");
    // An empty login stays one (empty) word, so "-f" is not taken for the login.
    EXPECT_EQ(passwd_command(""), ZEL_BIN_DIR "/pure-pw passwd '' -f /etc/pureftpd.passwd -m ");
}

TEST(FtpCommand, LoginThatWouldCutTheCommandIsRefused)
{
    // 60 characters of template leave 194 for the login within 254.
    EXPECT_NE(passwd_command(std::string(194, 'u')), "<refused>");
    EXPECT_EQ(passwd_command(std::string(195, 'u')), "<refused>");
    EXPECT_EQ(passwd_command(std::string(60, '\'')), "<refused>");
    EXPECT_EQ(passwd_command(std::string(255, '\'')), "<refused>");
}

// Runs the quoted word through the real /bin/sh and reads back what it made of it.
std::string through_shell(const std::string &word)
{
    char quoted[4 * OPT_TEXT_SIZE + 3];
    if (quote_shell_word(quoted, sizeof quoted, word.c_str()) != 0)
        return "<refused>";
    std::string cmd = std::string("set -- ") + quoted + "; printf '%d:%s' $# \"$1\"";
    FILE *p = popen(cmd.c_str(), "r");
    std::string out = zeltest::read_stream(p);
    pclose(p);
    return out;
}

TEST(FtpCommand, ShellSeesExactlyOneLiteralWord)
{
    const char *logins[] = {"ftpuser",    "x; touch /tmp/zs-never",
                            "$(echo no)", "`echo no`",
                            "a'b\"c",     "''",
                            "\\",         "a\nb",
                            "*",          "~root",
                            "a b  c",     "!x",
                            "",           "-m",
                            "$HOME",      "x|y&z>w<v",
                            "#"};
    for (const char *login : logins)
        EXPECT_EQ(through_shell(login), std::string("1:") + login) << login;
}

TEST(FtpAnswerFile, WriteThatFailsIsReported)
{
    // fopen succeeds on /dev/full; the write fails when the file is closed.
    EXPECT_EQ(-1, create_input_script("/dev/full"));
    EXPECT_EQ(-1, create_input_script("/nonexistent/input.script"));
}

} // namespace
