// The network services of the player, in one table: group, setting, processes, status
// marker, request letters, how reset_zel's restart-all takes each, and command lines.
// zeldaemon runs its requests and the watchdog's restarts from it, reset_zel its start
// and stop operations and the restart-all, and the simulated player its stand-ins
// (service_table_sh.cpp prints the table for the shell). A new service is a group
// name and a row here; docs/adding-a-service.md says what the tests then expect.
#ifndef ZEL_SERVICE_TABLE_H
#define ZEL_SERVICE_TABLE_H

#include "zel_paths.h"

#include <stdio.h>

// The daemon creates the reset marker and reset_zel removes it.
#define RESET_MARKER ZEL_RESET_MARKER

// The folders of the command lines below.
#define ZEL_SERVER ZEL_SERVER_DIR "/"
#define ZEL_ETC ZEL_ETC_DIR "/"
#define ZEL_BIN ZEL_BIN_DIR "/"

// Groups number the rows from 1; a request of a group refreshes that group's marker.
enum zel_group {
    ZEL_UPNP = 1,
    ZEL_HLINK,
    ZEL_FTP,
    ZEL_SMB,
    ZEL_NFS,
    ZEL_BTPD,
    ZEL_NZB,
    ZEL_VANTLE,
    ZEL_GROUP_END
};

// The polls of every start of the restart-all and of most of its stops.
constexpr int zel_restart_polls = 200;

// Which processes reset_zel looks at. The pair is up only when both run, down only
// when neither does, and a wait for it ends as soon as either has moved; the result
// follows the first alone. By the first: the second is left to the daemon's marker.
enum zel_judged_by {
    ZEL_BY_FIRST_PROCESS,
    ZEL_BY_BOTH_PROCESSES
};
// When a start of reset_zel pauses between its checks. Check then pause: the first
// recheck follows the first check at once, and a pause follows the last check.
enum zel_poll_order {
    ZEL_PAUSE_THEN_CHECK,
    ZEL_CHECK_THEN_PAUSE
};

// How reset_zel's restart-all takes a service: its turn among the stops and among the
// starts (the lowest first; spaced by ten, so that a service can go between two), the
// polls its stop waits, what its operations look at, and when its start pauses.
struct zel_restart {
    int stop_turn;
    int start_turn;
    int stop_polls = zel_restart_polls;
    zel_judged_by judged_by = ZEL_BY_FIRST_PROCESS;
    zel_poll_order start_poll_order = ZEL_PAUSE_THEN_CHECK;
};

struct zel_service {
    int group;
    const char *setting_key;
    // A service runs when all of them do; the second is looked for only when the first
    // runs.
    const char *processes[2];
    const char *marker;
    char start_letter;
    char stop_letter;
    zel_restart restart;
    // Handed to the shell exactly as they stand, in order, each run to its end (a line
    // ending in "&" returns at once). The first word of the first start and the first
    // stop line is the program that brings the processes up or ends them.
    const char *start_lines[2];
    const char *stop_lines[2];
    // The watchdog's lines where they are not the stop lines followed by the start lines.
    const char *restart_lines[4] = {};
};

// "SCRIPT start" and "SCRIPT stop", the lines of most services.
// clang-format off
#define ZEL_START_STOP(script) {script " start"}, {script " stop"}
// clang-format on

inline constexpr zel_service zel_services[] = {
    {ZEL_UPNP, "upnp", {"ms-mips"}, ZEL_TMP_DIR "/zel_ms", 'a', 'b', {60, 10}, ZEL_START_STOP(ZEL_SERVER "ms")},
    {ZEL_HLINK,
     "hlink",
     {"msUPnP-mips", "mDNSrespd-mips"},
     ZEL_TMP_DIR "/zel_mi",
     'c',
     'd',
     {20, 20, zel_restart_polls, ZEL_BY_BOTH_PROCESSES},
     ZEL_START_STOP(ZEL_SERVER "server")},
    // The FTP script does not return while the server runs: it is started in the
    // background.
    {ZEL_FTP,
     "ftpserv",
     {"pure-ftpd"},
     ZEL_TMP_DIR "/zel_ftp",
     'e',
     'f',
     {70, 30},
     {ZEL_ETC "ftpserver.sh start &"},
     {ZEL_ETC "ftpserver.sh stop"}},
    // Samba is started with "restart"; its password request is zel_smb_passwd below.
    // reset_zel looks at smbd alone, and its start checks before it pauses.
    {ZEL_SMB,
     "smbserv",
     {"smbd", "nmbd"},
     ZEL_TMP_DIR "/zel_smb",
     'g',
     'h',
     {30, 50, zel_restart_polls, ZEL_BY_FIRST_PROCESS, ZEL_CHECK_THEN_PAUSE},
     {ZEL_ETC "smb.sh restart"},
     {ZEL_ETC "smb.sh stop"}},
    // The stop line and both restart lines begin with a blank, which the shell ignores.
    {ZEL_NFS,
     "nfsserv",
     {"nfsd", "mountd"},
     ZEL_TMP_DIR "/zel_nfs",
     'j',
     'k',
     {40, 40},
     {ZEL_ETC "nfsserver.sh start"},
     {" " ZEL_ETC "nfsserver.sh stop"},
     {" " ZEL_ETC "nfsserver.sh stop", " " ZEL_ETC "nfsserver.sh start"}},
    // btpd.sh starts btpd and btcli ends it; clutch is a companion with no process to
    // check, started after btpd and stopped after it. The restart-all stops it first,
    // with the longest wait, and starts it last.
    {ZEL_BTPD,
     "btpdserv",
     {"btpd"},
     ZEL_TMP_DIR "/zel_bt",
     'l',
     'm',
     {10, 80, 300},
     {ZEL_ETC "btpd.sh", ZEL_SERVER "clutch start"},
     {ZEL_BIN "btcli -d /share/.btpd/ kill", ZEL_SERVER "clutch stop"}},
    {ZEL_NZB, "nzb", {"nzbget"}, ZEL_TMP_DIR "/zel_nzb", 'n', 'o', {80, 60}, ZEL_START_STOP(ZEL_SERVER "nzb")},
    {ZEL_VANTLE,
     "vantle",
     {"client"},
     ZEL_TMP_DIR "/zel_vantle",
     'p',
     'q',
     {50, 70},
     ZEL_START_STOP(ZEL_SERVER "vantle")},
};

constexpr int zel_service_count = sizeof zel_services / sizeof zel_services[0];

// The requests that are neither a start nor a stop of a service.
struct zel_request {
    char letter;
    int group;
    const char *line;
};
inline constexpr zel_request zel_smb_passwd = {'i', ZEL_SMB, ZEL_ETC "smb.sh passwd"};
// The restart of all services: the daemon hands it to reset_zel.
constexpr char zel_reset_letter = 'r';

// The checks of a table, made when this is compiled (below) and by the tests on
// tables of their own.

// Row N is group N, and every group has its row.
template <int N>
constexpr bool zel_rows_in_group_order(const zel_service (&rows)[N])
{
    for (int i = 0; i < N; ++i) {
        if (rows[i].group != i + 1)
            return false;
    }
    return N == ZEL_GROUP_END - 1;
}

// Every letter names one request: no two rows share one, and none is the password's
// or the reset's letter, which the daemon would serve instead.
template <int N>
constexpr bool zel_letters_unique(const zel_service (&rows)[N])
{
    char letters[2 * N + 2] = {zel_smb_passwd.letter, zel_reset_letter};
    int count = 2;
    for (const zel_service &s : rows) {
        letters[count++] = s.start_letter;
        letters[count++] = s.stop_letter;
    }
    for (int i = 0; i < count; ++i) {
        if (letters[i] == '\0')
            return false;
        for (int j = 0; j < i; ++j) {
            if (letters[i] == letters[j])
                return false;
        }
    }
    return true;
}

// Each service has a turn of its own among the stops and among the starts, its stop
// waits, and a service judged by both processes has two.
template <int N>
constexpr bool zel_restart_turns_clear(const zel_service (&rows)[N])
{
    for (int i = 0; i < N; ++i) {
        const zel_restart &r = rows[i].restart;
        if (r.stop_polls <= 0)
            return false;
        if (r.judged_by == ZEL_BY_BOTH_PROCESSES && rows[i].processes[1] == nullptr)
            return false;
        for (int j = 0; j < i; ++j) {
            if (r.stop_turn == rows[j].restart.stop_turn || r.start_turn == rows[j].restart.start_turn)
                return false;
        }
    }
    return true;
}

static_assert(zel_rows_in_group_order(zel_services), "row N of zel_services is group N, one row per group");
static_assert(zel_letters_unique(zel_services), "each request letter once, and neither \"i\" nor \"r\"");
static_assert(zel_restart_turns_clear(zel_services), "each service its own stop and start turn");

// The process check: the status of "pidof NAME 1>/dev/null 2>/dev/null" run through
// RUN (the shell, or a test's stand-in for it); 0 while a process of that name runs.
inline int run_process_check(int (*run)(const char *command), const char *name)
{
    char command[256];
    snprintf(command, sizeof command, "pidof %s 1>/dev/null 2>/dev/null", name);
    return run(command);
}

#endif
