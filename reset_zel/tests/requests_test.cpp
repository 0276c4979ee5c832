// Start and stop requests against a fake process table, a fake pause and a fake
// daemon behind the queue. Runs inside the simulated player: the settings file has a
// fixed path under /tmp.
#include "reset_zel.h"
#include "zelmsg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <stdio.h>
#include <stdlib.h>

namespace {
std::set<std::string> running;
// Every check, pause and request in order: "?name", "pause", "!letter".
std::vector<std::string> trace;
std::string letters;
int pauses;
bool queue_broken;
// The fake daemon: a request changes the process table after this many pauses
// (negative: never).
int daemon_delay;
std::set<std::string> stuck; // processes that ignore a stop
struct pending_change {
    int due;
    std::vector<std::string> start, stop;
};
std::vector<pending_change> pending;

const std::map<char, std::vector<std::string>> starts = {
    {'a', {"ms-mips"}},        {'c', {"msUPnP-mips", "mDNSrespd-mips"}},
    {'e', {"pure-ftpd"}},      {'g', {"smbd", "nmbd"}},
    {'j', {"nfsd", "mountd"}}, {'l', {"btpd"}},
    {'n', {"nzbget"}},         {'p', {"client"}},
};
const std::map<char, std::vector<std::string>> stops = {
    {'b', {"ms-mips"}},        {'d', {"msUPnP-mips", "mDNSrespd-mips"}},
    {'f', {"pure-ftpd"}},      {'h', {"smbd", "nmbd"}},
    {'k', {"nfsd", "mountd"}}, {'m', {"btpd"}},
    {'o', {"nzbget"}},         {'q', {"client"}},
};

void apply_due()
{
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->due > pauses) {
            ++it;
            continue;
        }
        for (const std::string &p : it->start)
            running.insert(p);
        for (const std::string &p : it->stop)
            if (!stuck.count(p))
                running.erase(p);
        it = pending.erase(it);
    }
}

int fake_check(const char *name)
{
    trace.push_back(std::string("?") + name);
    return running.count(name) ? 0 : 256;
}

void fake_pause(unsigned usec)
{
    EXPECT_EQ(usec, 200000u);
    trace.push_back("pause");
    ++pauses;
    apply_due();
}

int fake_send(const char *letter)
{
    EXPECT_EQ(letter[1], '\0');
    trace.push_back(std::string("!") + letter);
    if (queue_broken)
        return -1;
    letters += letter[0];
    if (daemon_delay >= 0) {
        pending_change c{pauses + daemon_delay, {}, {}};
        auto s = starts.find(letter[0]);
        if (s != starts.end())
            c.start = s->second;
        auto t = stops.find(letter[0]);
        if (t != stops.end())
            c.stop = t->second;
        pending.push_back(c);
        apply_due();
    }
    return 0;
}

std::string setting(const char *key)
{
    char *v = get_var_mem(key);
    std::string s = v ? v : "<none>";
    free(v);
    return s;
}

const char *const all_processes[] = {"ms-mips", "msUPnP-mips", "mDNSrespd-mips", "pure-ftpd", "smbd",  "nmbd",
                                     "nfsd",    "mountd",      "btpd",           "nzbget",    "client"};
const char *const keys[] = {"upnp", "hlink", "ftpserv", "smbserv", "nfsserv", "btpdserv", "nzb", "vantle"};

class Requests : public ::testing::Test {
protected:
    void SetUp() override
    {
        check_process = fake_check;
        pause_usec = fake_pause;
        send_request = fake_send;
        running.clear();
        trace.clear();
        letters.clear();
        pauses = 0;
        queue_broken = false;
        daemon_delay = -1;
        stuck.clear();
        pending.clear();
        FILE *f = fopen(SETTING_FILE, "w");
        ASSERT_NE(f, nullptr);
        fclose(f);
    }
    void TearDown() override { remove(SETTING_FILE); }
};

struct operation {
    int (*run)(int);
    const char *process;
    const char *key;
    const char *value;
    char letter;
};

const operation operations[] = {
    {start_upnp, "ms-mips", "upnp", "1", 'a'},     {stop_upnp, "ms-mips", "upnp", "0", 'b'},
    {start_ftp, "pure-ftpd", "ftpserv", "1", 'e'}, {stop_ftp, "pure-ftpd", "ftpserv", "0", 'f'},
    {restart_smb, "smbd", "smbserv", "1", 'g'},    {stop_smb, "smbd", "smbserv", "0", 'h'},
    {start_nfs, "nfsd", "nfsserv", "1", 'j'},      {stop_nfs, "nfsd", "nfsserv", "0", 'k'},
    {start_btpd, "btpd", "btpdserv", "1", 'l'},    {stop_btpd, "btpd", "btpdserv", "0", 'm'},
    {start_nzb, "nzbget", "nzb", "1", 'n'},        {stop_nzb, "nzbget", "nzb", "0", 'o'},
    {start_vantle, "client", "vantle", "1", 'p'},  {stop_vantle, "client", "vantle", "0", 'q'},
};

TEST_F(Requests, EachOperationWritesItsSettingSendsItsLetterAndWaits)
{
    daemon_delay = 3;
    for (const operation &op : operations) {
        SCOPED_TRACE(op.key + std::string("=") + op.value);
        bool is_start = op.value[0] == '1';
        running.clear();
        if (!is_start)
            running.insert(op.process);
        letters.clear();
        pauses = 0;
        ASSERT_GE(write_str(op.key, is_start ? "0" : "1"), 0);

        EXPECT_EQ(op.run(200), 0);
        EXPECT_EQ(letters, std::string(1, op.letter));
        EXPECT_EQ(setting(op.key), op.value);
        EXPECT_GE(pauses, 3);
        EXPECT_LE(pauses, 4);
        EXPECT_EQ(running.count(op.process) == 1, is_start);
    }
}

TEST_F(Requests, NothingToDoMeansNothingWrittenOrSent)
{
    running = {"pure-ftpd", "smbd"};
    EXPECT_EQ(start_ftp(200), 0);
    EXPECT_EQ(stop_upnp(200), 0);
    // Samba is judged by smbd alone here, although its marker also wants nmbd.
    EXPECT_EQ(restart_smb(200), 0);
    EXPECT_EQ(letters, "");
    EXPECT_EQ(setting("ftpserv"), "<none>");
    EXPECT_EQ(setting("upnp"), "<none>");
    EXPECT_EQ(setting("smbserv"), "<none>");
    EXPECT_EQ(pauses, 0);
}

TEST_F(Requests, NoWaitWhenMaxChecksIsZeroOrLess)
{
    EXPECT_EQ(start_nzb(0), 0);
    running.insert("client");
    EXPECT_EQ(stop_vantle(-5), 0);
    EXPECT_EQ(letters, "nq");
    EXPECT_EQ(setting("nzb"), "1");
    EXPECT_EQ(setting("vantle"), "0");
    EXPECT_EQ(trace, (std::vector<std::string>{"?nzbget", "!n", "?client", "!q"}));
}

TEST_F(Requests, WaitsRunOutWhenNoDaemonActs)
{
    running.insert("btpd");
    EXPECT_EQ(stop_btpd(300), -1);
    EXPECT_EQ(pauses, 300);
    EXPECT_EQ(setting("btpdserv"), "0");

    pauses = 0;
    // A start that times out hands back the status of its last check.
    EXPECT_EQ(start_ftp(7), 256);
    EXPECT_EQ(pauses, 7);
    EXPECT_EQ(trace.size(), 1u + 1 + 1 + 300 * 2 + 1 + 1 + 1 + 7 * 2);
    EXPECT_EQ(letters, "me");
}

TEST_F(Requests, QueueFailureEndsTheOperationAfterTheSettingIsWritten)
{
    queue_broken = true;
    EXPECT_EQ(start_upnp(200), -1);
    running.insert("nfsd");
    EXPECT_EQ(stop_nfs(200), -1);
    EXPECT_EQ(setting("upnp"), "1");
    EXPECT_EQ(setting("nfsserv"), "0");
    EXPECT_EQ(pauses, 0);
    EXPECT_EQ(update_smbpasswd(), -1);
    EXPECT_EQ(reset_zel_apps(), -1);

    queue_broken = false;
    trace.clear();
    EXPECT_EQ(update_smbpasswd(), 0);
    EXPECT_EQ(reset_zel_apps(), 0);
    EXPECT_EQ(trace, (std::vector<std::string>{"!i", "!r"}));
}

// Samba checks before it pauses; every other start pauses before it checks.
TEST_F(Requests, SambaPollsInTheOtherOrder)
{
    EXPECT_EQ(restart_smb(2), 256);
    EXPECT_EQ(trace, (std::vector<std::string>{"?smbd", "!g", "?smbd", "?smbd", "pause", "?smbd", "pause"}));
    trace.clear();
    EXPECT_EQ(start_nfs(2), 256);
    EXPECT_EQ(trace, (std::vector<std::string>{"?nfsd", "!j", "?nfsd", "pause", "?nfsd", "pause", "?nfsd"}));
}

TEST_F(Requests, AnnouncementPairNeedsBothToSkipAndEitherToEndTheWait)
{
    // Both up: nothing to start.
    running = {"msUPnP-mips", "mDNSrespd-mips"};
    EXPECT_EQ(start_hlink(200), 0);
    EXPECT_EQ(trace, (std::vector<std::string>{"?msUPnP-mips", "?mDNSrespd-mips"}));

    // Only the second up: the start is sent, the wait ends at once, and the result
    // follows msUPnP-mips, which is still down.
    trace.clear();
    running = {"mDNSrespd-mips"};
    EXPECT_EQ(start_hlink(200), 256);
    EXPECT_EQ(trace, (std::vector<std::string>{"?msUPnP-mips", "!c", "?msUPnP-mips", "?mDNSrespd-mips"}));
    EXPECT_EQ(setting("hlink"), "1");

    // Neither up: nothing to stop, and the second is looked at only then.
    trace.clear();
    running.clear();
    EXPECT_EQ(stop_hlink(200), 0);
    EXPECT_EQ(trace, (std::vector<std::string>{"?msUPnP-mips", "?mDNSrespd-mips"}));
    EXPECT_EQ(letters, "c");

    // Only the first up: the stop is sent, the wait ends at once, msUPnP-mips still
    // runs, so the stop failed.
    trace.clear();
    running = {"msUPnP-mips"};
    EXPECT_EQ(stop_hlink(200), -1);
    EXPECT_EQ(trace, (std::vector<std::string>{"?msUPnP-mips", "!d", "?msUPnP-mips", "?mDNSrespd-mips"}));
    EXPECT_EQ(setting("hlink"), "0");

    // Both up and a slow daemon: the wait goes on while both run.
    trace.clear();
    running = {"msUPnP-mips", "mDNSrespd-mips"};
    daemon_delay = 2;
    pauses = 0;
    EXPECT_EQ(stop_hlink(200), 0);
    EXPECT_EQ(pauses, 2);
}

TEST_F(Requests, RestartAllFromNothingStartsAllEightInOrder)
{
    daemon_delay = 1;
    restart_services();
    EXPECT_EQ(letters, "acejgnpl");
    for (const char *k : keys)
        EXPECT_EQ(setting(k), "1") << k;
    for (const char *p : all_processes)
        EXPECT_TRUE(running.count(p)) << p;
}

TEST_F(Requests, RestartAllStopsEverythingFirstAndBitTorrentLongest)
{
    daemon_delay = 2;
    for (const char *p : all_processes)
        running.insert(p);
    restart_services();
    EXPECT_EQ(letters, "mdhkqbfoacejgnpl");
    for (const char *k : keys)
        EXPECT_EQ(setting(k), "1") << k;

    // A BitTorrent that will not stop holds the sequence for its full 300 polls;
    // its start then finds it running and leaves its setting at "0".
    for (const char *p : all_processes)
        running.insert(p);
    stuck = {"btpd"};
    letters.clear();
    pauses = 0;
    restart_services();
    EXPECT_EQ(letters, "mdhkqbfoacejgnp");
    EXPECT_GE(pauses, 300);
    EXPECT_EQ(setting("btpdserv"), "0");
    EXPECT_EQ(setting("nzb"), "1");
}

// The checks made on the service table when it is compiled, tried on copies of it with
// one fault each: the real table passes, and each fault is caught.
TEST(ServiceTable, CompileTimeChecksCatchEachFault)
{
    struct fault {
        const char *what;
        void (*make)(zel_service *rows);
    };
    const fault faults[] = {
        {"NZB started by the reset's letter", [](zel_service *t) { t[ZEL_NZB - 1].start_letter = 'r'; }},
        {"NZB stopped by the password's letter", [](zel_service *t) { t[ZEL_NZB - 1].stop_letter = 'i'; }},
        {"vantle started by the media server's letter", [](zel_service *t) { t[ZEL_VANTLE - 1].start_letter = 'a'; }},
        {"one letter for both requests of FTP", [](zel_service *t) { t[ZEL_FTP - 1].stop_letter = 'e'; }},
        {"no stop letter", [](zel_service *t) { t[ZEL_NFS - 1].stop_letter = '\0'; }},
        {"rows of Samba and NFS swapped",
         [](zel_service *t) {
             t[ZEL_SMB - 1].group = ZEL_NFS;
             t[ZEL_NFS - 1].group = ZEL_SMB;
         }},
        {"vantle stopped in BitTorrent's turn",
         [](zel_service *t) { t[ZEL_VANTLE - 1].restart.stop_turn = t[ZEL_BTPD - 1].restart.stop_turn; }},
        {"NZB started in the media server's turn",
         [](zel_service *t) { t[ZEL_NZB - 1].restart.start_turn = t[ZEL_UPNP - 1].restart.start_turn; }},
        {"a stop that never polls", [](zel_service *t) { t[ZEL_UPNP - 1].restart.stop_polls = 0; }},
        {"FTP judged by a second process it does not have",
         [](zel_service *t) { t[ZEL_FTP - 1].restart.judged_by = ZEL_BY_BOTH_PROCESSES; }},
    };
    zel_service rows[zel_service_count];
    auto all_hold = [&rows] {
        return zel_rows_in_group_order(rows) && zel_letters_unique(rows) && zel_restart_turns_clear(rows);
    };
    std::copy(std::begin(zel_services), std::end(zel_services), rows);
    EXPECT_TRUE(all_hold());
    for (const fault &f : faults) {
        std::copy(std::begin(zel_services), std::end(zel_services), rows);
        f.make(rows);
        EXPECT_FALSE(all_hold()) << f.what;
    }
}
} // namespace
