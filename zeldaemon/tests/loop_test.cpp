// The request loop driven pass by pass with a fake clock, a fake sleep and a
// recording shell. Runs inside the simulated player: the queue and /tmp are its own.
#include "daemon.h"
#include "zelmsg.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string>
#include <sys/ipc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
std::vector<std::string> ran;
std::vector<std::string> sweeps;
time_t fake_now;

int record_command(const char *command)
{
    ran.push_back(command);
    return 0;
}

void fake_clock(struct timeval *now)
{
    now->tv_sec = fake_now;
    now->tv_usec = 0;
}

void fake_sleep(unsigned seconds)
{
    fake_now += seconds;
}

void record_watchdog()
{
    sweeps.push_back("watchdog");
}

void record_markers(int group)
{
    sweeps.push_back("markers " + std::to_string(group));
}

void drain_queue()
{
    char msg[2];
    while (getmsg(msg, SETUP_2_ZELD, 0) == 0) {
    }
}

class LoopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        run_command = record_command;
        read_clock = fake_clock;
        sleep_seconds = fake_sleep;
        run_watchdog = record_watchdog;
        refresh_markers = record_markers;
        ran.clear();
        sweeps.clear();
        fake_now = 1000000;
        unlink(RESET_MARKER);
        drain_queue();
        loop_start(&state);
    }
    void TearDown() override { unlink(RESET_MARKER); }

    void send(const char *letter) { ASSERT_EQ(0, addmsg(letter, SETUP_2_ZELD, IPC_NOWAIT)); }
    void passes(int n)
    {
        for (int i = 0; i < n; i++)
            loop_pass(&state);
    }

    loop_state state;
};

TEST_F(LoopTest, EveryLetterRunsItsLinesAndRefreshesItsGroup)
{
    struct {
        const char *letter;
        std::vector<std::string> lines;
        const char *markers;
    } cases[] = {
        {"a", {"/mnt/oak7210/server/ms start"}, "markers 1"},
        {"d", {"/mnt/oak7210/server/server stop"}, "markers 2"},
        {"e", {"/mnt/oak7210/etc/ftpserver.sh start &"}, "markers 3"},
        {"i", {"/mnt/oak7210/etc/smb.sh passwd"}, "markers 4"},
        {"k", {" /mnt/oak7210/etc/nfsserver.sh stop"}, "markers 5"},
        {"l", {"/mnt/oak7210/etc/btpd.sh", "/mnt/oak7210/server/clutch start"}, "markers 6"},
        {"m", {ZEL_BIN_DIR "/btcli -d /share/.btpd/ kill", "/mnt/oak7210/server/clutch stop"}, "markers 6"},
        {"o", {"/mnt/oak7210/server/nzb stop"}, "markers 7"},
        {"p", {"/mnt/oak7210/server/vantle start"}, "markers 8"},
    };
    for (const auto &c : cases) {
        ran.clear();
        sweeps.clear();
        send(c.letter);
        passes(1);
        EXPECT_EQ(c.lines, ran) << c.letter;
        EXPECT_EQ(std::vector<std::string>{c.markers}, sweeps) << c.letter;
    }
    // Targeted refreshes are no timed sweeps: the watchdog counter did not move.
    EXPECT_EQ(0, state.count_check_starting);
}

TEST_F(LoopTest, UnknownLettersRunNothing)
{
    send("s");
    send("A");
    passes(2);
    EXPECT_TRUE(ran.empty());
    EXPECT_TRUE(sweeps.empty());
}

TEST_F(LoopTest, RequestsAreServedOnePerPassInOrderSent)
{
    send("a");
    send("b");
    passes(1);
    EXPECT_EQ(std::vector<std::string>{"/mnt/oak7210/server/ms start"}, ran);
    passes(1);
    EXPECT_EQ((std::vector<std::string>{"/mnt/oak7210/server/ms start", "/mnt/oak7210/server/ms stop"}), ran);
}

TEST_F(LoopTest, FirstTimedSweepAfterThirtyOneSeconds)
{
    passes(29);
    EXPECT_TRUE(sweeps.empty());
    passes(1); // 30 seconds
    EXPECT_TRUE(sweeps.empty());
    passes(1); // 31 seconds
    EXPECT_EQ(std::vector<std::string>{"markers 0"}, sweeps);
    EXPECT_EQ(1, state.count_check_starting);
}

TEST_F(LoopTest, WatchdogRunsOnSixthSweepThenEveryFifth)
{
    std::vector<int> watchdog_sweeps;
    int sweep = 0;
    for (int pass = 0; pass < 31 * 12; pass++) {
        sweeps.clear();
        passes(1);
        if (sweeps.empty())
            continue;
        sweep++;
        if (sweeps.front() == "watchdog")
            watchdog_sweeps.push_back(sweep);
    }
    EXPECT_EQ(12, sweep);
    EXPECT_EQ((std::vector<int>{6, 11}), watchdog_sweeps);
}

TEST_F(LoopTest, TargetedRefreshRunsDueWatchdogWithoutCountingASweep)
{
    state.count_check_starting = 5;
    send("g");
    passes(1);
    EXPECT_EQ((std::vector<std::string>{"watchdog", "markers 4"}), sweeps);
    EXPECT_EQ(0, state.count_check_starting);
}

TEST_F(LoopTest, ClockSetBackDelaysTimedSweepsButNotTargetedRefreshes)
{
    fake_now -= 3600;
    passes(40);
    EXPECT_TRUE(sweeps.empty());
    send("c");
    passes(1);
    EXPECT_EQ(std::vector<std::string>{"markers 2"}, sweeps);
    sweeps.clear();
    passes(3600);
    EXPECT_FALSE(sweeps.empty());
}

TEST_F(LoopTest, ResetCreatesMarkerRunsSetupThenResetZel)
{
    FILE *f = fopen(RESET_MARKER, "w");
    ASSERT_NE(nullptr, f);
    fputs("stale", f);
    fclose(f);
    state.count_check_starting = 4;

    send("r");
    passes(1);
    EXPECT_EQ((std::vector<std::string>{ZEL_SETUP_CGI, RESET_ZEL_START}), ran);
    EXPECT_EQ(0, state.count_check_starting);
    struct stat st;
    ASSERT_EQ(0, stat(RESET_MARKER, &st));
    EXPECT_EQ(0, st.st_size);
}

TEST_F(LoopTest, WhileResetRunsRequestsAreServedButNothingRefreshed)
{
    send("r");
    send("a");
    passes(1 + 1 + 100);
    EXPECT_EQ(3u, ran.size());
    EXPECT_EQ("/mnt/oak7210/server/ms start", ran[2]);
    EXPECT_TRUE(sweeps.empty());

    // With the marker gone the overdue sweep comes at once; the watchdog only on
    // the sixth sweep after the reset.
    unlink(RESET_MARKER);
    passes(1);
    EXPECT_EQ(std::vector<std::string>{"markers 0"}, sweeps);
}

// Somebody gives the daemon's reset marker a second name: the reset still holds the
// sweeps back, and the marker is made anew as a file of the daemon's own. A second
// name of another file planted there holds nothing back.
TEST_F(LoopTest, ResetMarkerWithASecondNameStillCounts)
{
    const char *mine = "/tmp/.mine";
    unlink(mine);
    send("r");
    passes(1);
    ASSERT_EQ(0, link(RESET_MARKER, mine));
    passes(100);
    EXPECT_TRUE(sweeps.empty());
    struct stat marker, other;
    ASSERT_EQ(0, lstat(RESET_MARKER, &marker));
    ASSERT_EQ(0, lstat(mine, &other));
    EXPECT_NE(marker.st_ino, other.st_ino);
    EXPECT_EQ(1u, marker.st_nlink);

    unlink(RESET_MARKER);
    passes(1);
    sweeps.clear();
    ASSERT_EQ(0, link(mine, RESET_MARKER));
    passes(40);
    EXPECT_FALSE(sweeps.empty());
    unlink(mine);
}

TEST_F(LoopTest, ResetMarkerThatCannotBeCreatedStartsNothing)
{
    ASSERT_EQ(0, mkdir(RESET_MARKER, 0755)); // fopen "w+" of a folder fails
    state.count_check_starting = 3;
    send("r");
    testing::internal::CaptureStderr();
    passes(1);
    std::string err = testing::internal::GetCapturedStderr();
    rmdir(RESET_MARKER);
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ("create /tmp/reset_zel: Is a directory\n", err);
    EXPECT_EQ(0, state.count_check_starting);
}
} // namespace
