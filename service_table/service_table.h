// The eight network services of the player, in one table: group, setting, processes,
// status marker, request letters and command lines. zeldaemon runs its requests and
// the watchdog's restarts from it, reset_zel its start and stop operations, and the
// simulated player its stand-ins (service_table_sh.cpp prints the table for the shell).
// A change to a service is one edit here.
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

// Groups number the rows 1 to 8; a request of a group refreshes that group's marker.
enum zel_group {
    ZEL_UPNP = 1,
    ZEL_HLINK,
    ZEL_FTP,
    ZEL_SMB,
    ZEL_NFS,
    ZEL_BTPD,
    ZEL_NZB,
    ZEL_VANTLE,
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
    {ZEL_UPNP, "upnp", {"ms-mips"}, ZEL_TMP_DIR "/zel_ms", 'a', 'b', ZEL_START_STOP(ZEL_SERVER "ms")},
    {ZEL_HLINK,
     "hlink",
     {"msUPnP-mips", "mDNSrespd-mips"},
     ZEL_TMP_DIR "/zel_mi",
     'c',
     'd',
     ZEL_START_STOP(ZEL_SERVER "server")},
    // The FTP script does not return while the server runs: it is started in the
    // background.
    {ZEL_FTP,
     "ftpserv",
     {"pure-ftpd"},
     ZEL_TMP_DIR "/zel_ftp",
     'e',
     'f',
     {ZEL_ETC "ftpserver.sh start &"},
     {ZEL_ETC "ftpserver.sh stop"}},
    // Samba is started with "restart"; its password request is zel_smb_passwd below.
    {ZEL_SMB,
     "smbserv",
     {"smbd", "nmbd"},
     ZEL_TMP_DIR "/zel_smb",
     'g',
     'h',
     {ZEL_ETC "smb.sh restart"},
     {ZEL_ETC "smb.sh stop"}},
    // The stop line and both restart lines begin with a blank, which the shell ignores.
    {ZEL_NFS,
     "nfsserv",
     {"nfsd", "mountd"},
     ZEL_TMP_DIR "/zel_nfs",
     'j',
     'k',
     {ZEL_ETC "nfsserver.sh start"},
     {" " ZEL_ETC "nfsserver.sh stop"},
     {" " ZEL_ETC "nfsserver.sh stop", " " ZEL_ETC "nfsserver.sh start"}},
    // btpd.sh starts btpd and btcli ends it; clutch is a companion with no process to
    // check, started after btpd and stopped after it.
    {ZEL_BTPD,
     "btpdserv",
     {"btpd"},
     ZEL_TMP_DIR "/zel_bt",
     'l',
     'm',
     {ZEL_ETC "btpd.sh", ZEL_SERVER "clutch start"},
     {ZEL_BIN "btcli -d /share/.btpd/ kill", ZEL_SERVER "clutch stop"}},
    {ZEL_NZB, "nzb", {"nzbget"}, ZEL_TMP_DIR "/zel_nzb", 'n', 'o', ZEL_START_STOP(ZEL_SERVER "nzb")},
    {ZEL_VANTLE, "vantle", {"client"}, ZEL_TMP_DIR "/zel_vantle", 'p', 'q', ZEL_START_STOP(ZEL_SERVER "vantle")},
};

constexpr int zel_service_count = sizeof zel_services / sizeof zel_services[0];

constexpr bool zel_rows_in_group_order()
{
    for (int i = 0; i < zel_service_count; ++i) {
        if (zel_services[i].group != i + 1)
            return false;
    }
    return zel_service_count == ZEL_VANTLE;
}
static_assert(zel_rows_in_group_order(), "row N of zel_services is group N, and there are eight");

inline constexpr const zel_service &zel_service_of(int group)
{
    return zel_services[group - 1];
}

// The requests that are neither a start nor a stop of a service.
struct zel_request {
    char letter;
    int group;
    const char *line;
};
inline constexpr zel_request zel_smb_passwd = {'i', ZEL_SMB, ZEL_ETC "smb.sh passwd"};
// The restart of all services: the daemon hands it to reset_zel.
constexpr char zel_reset_letter = 'r';

// The process check: the status of "pidof NAME 1>/dev/null 2>/dev/null" run through
// RUN (the shell, or a test's stand-in for it); 0 while a process of that name runs.
inline int run_process_check(int (*run)(const char *command), const char *name)
{
    char command[256];
    snprintf(command, sizeof command, "pidof %s 1>/dev/null 2>/dev/null", name);
    return run(command);
}

#endif
