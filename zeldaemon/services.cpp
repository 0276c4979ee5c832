// Service watchdog and status markers. Both walk one table of the eight services and
// judge a service only by pidof, never by what a script returned.
#include "daemon.h"

#include "zelmsg.h"

#include <stdio.h>
#include <stdlib.h>

namespace {
struct service {
    const char *setting_key;
    const char *processes[2];
    const char *restart_lines[4];
    const char *marker;
};

// Lines go to the shell exactly as they stand; the NFS lines keep their leading blank.
const service service_table[] = {
    {"upnp", {"ms-mips"}, {"/mnt/oak7210/server/ms stop", "/mnt/oak7210/server/ms start"}, "/tmp/zel_ms"},
    {"hlink",
     {"msUPnP-mips", "mDNSrespd-mips"},
     {"/mnt/oak7210/server/server stop", "/mnt/oak7210/server/server start"},
     "/tmp/zel_mi"},
    {"ftpserv",
     {"pure-ftpd"},
     {"/mnt/oak7210/etc/ftpserver.sh stop", "/mnt/oak7210/etc/ftpserver.sh start &"},
     "/tmp/zel_ftp"},
    {"smbserv", {"smbd", "nmbd"}, {"/mnt/oak7210/etc/smb.sh stop", "/mnt/oak7210/etc/smb.sh restart"}, "/tmp/zel_smb"},
    {"nfsserv",
     {"nfsd", "mountd"},
     {" /mnt/oak7210/etc/nfsserver.sh stop", " /mnt/oak7210/etc/nfsserver.sh start"},
     "/tmp/zel_nfs"},
    {"btpdserv",
     {"btpd"},
     {"/mnt/oak7210/bin/btcli -d /share/.btpd/ kill", "/mnt/oak7210/server/clutch stop", "/mnt/oak7210/etc/btpd.sh",
      "/mnt/oak7210/server/clutch start"},
     "/tmp/zel_bt"},
    {"nzb", {"nzbget"}, {"/mnt/oak7210/server/nzb stop", "/mnt/oak7210/server/nzb start"}, "/tmp/zel_nzb"},
    {"vantle", {"client"}, {"/mnt/oak7210/server/vantle stop", "/mnt/oak7210/server/vantle start"}, "/tmp/zel_vantle"},
};

bool process_running(const char *name)
{
    char command[256];
    snprintf(command, sizeof command, "pidof %s 1>/dev/null 2>/dev/null", name);
    return run_command(command) == 0;
}

// The second process of a pair is looked for only when the first runs.
bool service_running(const service &s)
{
    for (const char *name : s.processes) {
        if (name != nullptr && !process_running(name))
            return false;
    }
    return true;
}

// Other programs of the player write these settings too, so any text that reads as 1
// the way atoi reads it ("01", " 1", "1x") asks for supervision.
bool service_wanted(const service &s)
{
    int value = 0;
    char *val = get_var_mem(s.setting_key);
    if (val != nullptr) {
        value = atoi(val);
        free(val);
    }
    return value == 1;
}

void restart_service(const service &s)
{
    for (const char *line : s.restart_lines) {
        if (line != nullptr)
            run_command(line);
    }
}

void refresh_marker(const service &s)
{
    if (!service_running(s)) {
        remove(s.marker);
        return;
    }
    FILE *f = fopen(s.marker, "w+");
    if (f == nullptr) {
        perror(s.marker);
        return;
    }
    fclose(f);
}
} // namespace

void check_services(void)
{
    for (const service &s : service_table) {
        if (service_wanted(s) && !service_running(s))
            restart_service(s);
    }
}

void update_markers(int group)
{
    int row = 0;
    for (const service &s : service_table) {
        ++row;
        if (group == 0 || group == row)
            refresh_marker(s);
    }
}
