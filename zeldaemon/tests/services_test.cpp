// Watchdog and status markers against a recording shell that plays the process table.
// Runs inside the simulated player: the markers and the settings file have fixed
// paths under /tmp.
#include "daemon.h"
#include "zelmsg.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::set<std::string> running;
std::vector<std::string> shell_lines;
// Command line -> processes it starts (names) or stops (names prefixed with '-').
std::map<std::string, std::vector<std::string>> effects;

int fake_shell(const char *command)
{
    std::string line(command);
    shell_lines.push_back(line);
    const std::string pidof = "pidof ";
    const std::string tail = " 1>/dev/null 2>/dev/null";
    if (line.compare(0, pidof.size(), pidof) == 0) {
        EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
        std::string name = line.substr(pidof.size(), line.size() - pidof.size() - tail.size());
        return running.count(name) ? 0 : 256;
    }
    for (const std::string &p : effects[line]) {
        if (p[0] == '-')
            running.erase(p.substr(1));
        else
            running.insert(p);
    }
    return 0;
}

std::string check(const char *name)
{
    return std::string("pidof ") + name + " 1>/dev/null 2>/dev/null";
}

const char *const markers[] = {"/tmp/zel_ms",  "/tmp/zel_mi", "/tmp/zel_ftp", "/tmp/zel_smb",
                               "/tmp/zel_nfs", "/tmp/zel_bt", "/tmp/zel_nzb", "/tmp/zel_vantle"};
const char *const keys[] = {"upnp", "hlink", "ftpserv", "smbserv", "nfsserv", "btpdserv", "nzb", "vantle"};
const char *const all_processes[] = {"ms-mips", "msUPnP-mips", "mDNSrespd-mips", "pure-ftpd", "smbd",  "nmbd",
                                     "nfsd",    "mountd",      "btpd",           "nzbget",    "client"};

bool exists(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

long file_size(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

void put_file(const char *path, const char *text)
{
    FILE *f = fopen(path, "w");
    ASSERT_NE(f, nullptr) << path;
    fputs(text, f);
    fclose(f);
}

class Services : public ::testing::Test {
protected:
    void SetUp() override
    {
        run_command = fake_shell;
        running.clear();
        shell_lines.clear();
        effects.clear();
        for (const char *m : markers)
            remove(m);
        put_file(SETTING_FILE, "");
    }
    void TearDown() override
    {
        for (const char *m : markers)
            remove(m);
        remove(SETTING_FILE);
    }
    static void set_all(const char *value)
    {
        for (const char *k : keys)
            ASSERT_GE(write_str(k, value), 0) << k;
    }
};

TEST_F(Services, MarkersFollowProcessesWhateverTheSettings)
{
    set_all("0");
    running = {"ms-mips", "msUPnP-mips", "smbd", "nmbd", "btpd", "client", "mountd"};
    // Stale markers of services that are down, and one with content to be cut.
    for (const char *m : markers)
        put_file(m, "stale");

    update_markers(0);

    // Pairs count only with both processes; the second is not what makes them count.
    const bool want[] = {true, false, false, true, false, true, false, true};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(exists(markers[i]), want[i]) << markers[i];
        if (want[i]) {
            EXPECT_EQ(file_size(markers[i]), 0) << markers[i];
        }
    }
    EXPECT_TRUE(effects.empty());
}

TEST_F(Services, EachGroupRefreshesOnlyItsOwnMarker)
{
    for (const char *p : all_processes)
        running.insert(p);
    for (int group = 1; group <= 8; ++group) {
        for (const char *m : markers)
            remove(m);
        update_markers(group);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(exists(markers[i]), i == group - 1) << "group " << group << " " << markers[i];
    }
    // A group outside the table refreshes nothing.
    shell_lines.clear();
    update_markers(9);
    EXPECT_TRUE(shell_lines.empty());
}

TEST_F(Services, SecondProcessOfAPairIsCheckedOnlyWhenTheFirstRuns)
{
    update_markers(4);
    EXPECT_EQ(shell_lines, (std::vector<std::string>{check("smbd")}));

    shell_lines.clear();
    running = {"smbd"};
    put_file("/tmp/zel_smb", "");
    update_markers(4);
    EXPECT_EQ(shell_lines, (std::vector<std::string>{check("smbd"), check("nmbd")}));
    EXPECT_FALSE(exists("/tmp/zel_smb"));
}

TEST_F(Services, MarkerThatCannotBeCreatedIsReportedAndTheRestStillRefreshed)
{
    for (const char *p : all_processes)
        running.insert(p);
    ASSERT_EQ(mkdir("/tmp/zel_ftp", 0755), 0);

    testing::internal::CaptureStderr();
    update_markers(0);
    std::string err = testing::internal::GetCapturedStderr();
    rmdir("/tmp/zel_ftp");

    EXPECT_EQ(err, "/tmp/zel_ftp: Is a directory\n");
    EXPECT_TRUE(exists("/tmp/zel_smb"));
    EXPECT_TRUE(exists("/tmp/zel_vantle"));
}

TEST_F(Services, WatchdogRestartsEveryWantedServiceWithItsLinesInOrder)
{
    set_all("1");
    check_services();
    const std::vector<std::string> expected = {
        check("ms-mips"),
        "/mnt/oak7210/server/ms stop",
        "/mnt/oak7210/server/ms start",
        check("msUPnP-mips"),
        "/mnt/oak7210/server/server stop",
        "/mnt/oak7210/server/server start",
        check("pure-ftpd"),
        "/mnt/oak7210/etc/ftpserver.sh stop",
        "/mnt/oak7210/etc/ftpserver.sh start &",
        check("smbd"),
        "/mnt/oak7210/etc/smb.sh stop",
        "/mnt/oak7210/etc/smb.sh restart",
        check("nfsd"),
        " /mnt/oak7210/etc/nfsserver.sh stop",
        " /mnt/oak7210/etc/nfsserver.sh start",
        check("btpd"),
        std::string(ZEL_BIN_DIR) + "/btcli -d /share/.btpd/ kill",
        "/mnt/oak7210/server/clutch stop",
        "/mnt/oak7210/etc/btpd.sh",
        "/mnt/oak7210/server/clutch start",
        check("nzbget"),
        "/mnt/oak7210/server/nzb stop",
        "/mnt/oak7210/server/nzb start",
        check("client"),
        "/mnt/oak7210/server/vantle stop",
        "/mnt/oak7210/server/vantle start",
    };
    EXPECT_EQ(shell_lines, expected);
    // The watchdog leaves the markers to the refresh that follows it.
    for (const char *m : markers)
        EXPECT_FALSE(exists(m)) << m;
}

TEST_F(Services, OnlySettingsThatReadAsOneAreSupervised)
{
    for (const char *value : {"1", " 1", "01", "1x", "+1"}) {
        shell_lines.clear();
        ASSERT_GE(write_str("nzb", value), 0);
        check_services();
        EXPECT_EQ(shell_lines, (std::vector<std::string>{check("nzbget"), "/mnt/oak7210/server/nzb stop",
                                                         "/mnt/oak7210/server/nzb start"}))
            << "\"" << value << "\"";
    }
    for (const char *value : {"0", "yes", "2", "", "11", "-1"}) {
        shell_lines.clear();
        ASSERT_GE(write_str("nzb", value), 0);
        check_services();
        EXPECT_TRUE(shell_lines.empty()) << "\"" << value << "\"";
    }
    ASSERT_GE(remove_var("nzb"), 0);
    shell_lines.clear();
    check_services();
    EXPECT_TRUE(shell_lines.empty());

    // Without a settings file nothing is supervised, not even what it asked for last.
    ASSERT_GE(write_str("nzb", "1"), 0);
    remove(SETTING_FILE);
    testing::internal::CaptureStderr();
    check_services();
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(shell_lines.empty());
}

TEST_F(Services, RunningServicesAreLeftAloneAndHalfPairsRestarted)
{
    set_all("1");
    for (const char *p : all_processes)
        running.insert(p);
    running.erase("nmbd");
    running.erase("msUPnP-mips");
    check_services();
    const std::vector<std::string> expected = {
        check("ms-mips"),
        check("msUPnP-mips"),
        "/mnt/oak7210/server/server stop",
        "/mnt/oak7210/server/server start",
        check("pure-ftpd"),
        check("smbd"),
        check("nmbd"),
        "/mnt/oak7210/etc/smb.sh stop",
        "/mnt/oak7210/etc/smb.sh restart",
        check("nfsd"),
        check("mountd"),
        check("btpd"),
        check("nzbget"),
        check("client"),
    };
    EXPECT_EQ(shell_lines, expected);
}

// In one pass the watchdog runs before the markers, so a service it brought back
// shows as running at once; five timed sweeps pass before that.
TEST_F(Services, LoopRestartsOnTheSixthSweepAndShowsTheResultAtOnce)
{
    static long fake_now;
    fake_now = 1000;
    read_clock = [](struct timeval *tv) {
        tv->tv_sec = fake_now;
        tv->tv_usec = 0;
    };
    sleep_seconds = [](unsigned s) { fake_now += s; };
    remove(RESET_MARKER);

    ASSERT_GE(write_str("upnp", "1"), 0);
    effects["/mnt/oak7210/server/ms start"] = {"ms-mips"};
    effects["/mnt/oak7210/server/ms stop"] = {"-ms-mips"};

    loop_state s;
    loop_start(&s);
    int sweeps = 0;
    while (sweeps < 6) {
        fake_now += 30;
        loop_pass(&s);
        sweeps = 0;
        for (const std::string &l : shell_lines)
            sweeps += l == check("client");
        if (sweeps < 6) {
            EXPECT_FALSE(exists("/tmp/zel_ms")) << "sweep " << sweeps;
        }
    }
    EXPECT_TRUE(running.count("ms-mips"));
    EXPECT_TRUE(exists("/tmp/zel_ms"));
}
} // namespace
