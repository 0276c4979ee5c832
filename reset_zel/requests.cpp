// Service start and stop requests: store the wish in the service's setting, ask the
// daemon by letter, then poll pidof until the process has come or gone.
#include "reset_zel.h"

#include "zelmsg.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <unistd.h>

namespace {
int real_check_process(const char *name)
{
    char command[256];
    snprintf(command, sizeof command, "pidof %s 1>/dev/null 2>/dev/null", name);
    return system(command);
}

void real_pause(unsigned usec)
{
    usleep(usec);
}

int real_send(const char *letter)
{
    return addmsg(letter, SETUP_2_ZELD, IPC_NOWAIT);
}

struct service {
    const char *process;
    const char *setting_key;
    const char *start_letter;
    const char *stop_letter;
};

const service upnp = {"ms-mips", "upnp", "a", "b"};
const service ftp = {"pure-ftpd", "ftpserv", "e", "f"};
const service smb = {"smbd", "smbserv", "g", "h"};
const service nfs = {"nfsd", "nfsserv", "j", "k"};
const service btpd = {"btpd", "btpdserv", "l", "m"};
const service nzb = {"nzbget", "nzb", "n", "o"};
const service vantle = {"client", "vantle", "p", "q"};

const char hlink_key[] = "hlink";
const char hlink_first[] = "msUPnP-mips";
const char hlink_second[] = "mDNSrespd-mips";

// Steps shared by every start and stop once the process check said there is work:
// store the wish, then queue the letter. A failed write is not fatal: the daemon does
// not read the setting to serve the request.
bool ask_daemon(const char *key, const char *value, const char *letter)
{
    write_str(key, value);
    return send_request(letter) == 0;
}

int start_service(const service &s, int max_checks)
{
    if (check_process(s.process) == 0)
        return 0;
    if (!ask_daemon(s.setting_key, "1", s.start_letter))
        return -1;
    if (max_checks <= 0)
        return 0;
    int status = check_process(s.process);
    for (int polls = 0; status != 0 && polls < max_checks; ++polls) {
        pause_usec(POLL_PAUSE_USEC);
        status = check_process(s.process);
    }
    return status;
}

int stop_service(const service &s, int max_checks)
{
    if (check_process(s.process) != 0)
        return 0;
    if (!ask_daemon(s.setting_key, "0", s.stop_letter))
        return -1;
    if (max_checks <= 0)
        return 0;
    int status = check_process(s.process);
    for (int polls = 0; status == 0 && polls < max_checks; ++polls) {
        pause_usec(POLL_PAUSE_USEC);
        status = check_process(s.process);
    }
    return status == 0 ? -1 : 0;
}
} // namespace

int (*check_process)(const char *name) = real_check_process;
void (*pause_usec)(unsigned usec) = real_pause;
int (*send_request)(const char *letter) = real_send;

int start_upnp(int max_checks)
{
    return start_service(upnp, max_checks);
}

int stop_upnp(int max_checks)
{
    return stop_service(upnp, max_checks);
}

// The announcement service has two processes. It counts as up only when both run,
// and as down only when neither does; the waits end as soon as either one has moved,
// and the result follows msUPnP-mips alone.
int start_hlink(int max_checks)
{
    if (check_process(hlink_first) == 0 && check_process(hlink_second) == 0)
        return 0;
    if (!ask_daemon(hlink_key, "1", "c"))
        return -1;
    if (max_checks <= 0)
        return 0;
    int first = check_process(hlink_first);
    int second = check_process(hlink_second);
    for (int polls = 0; first != 0 && second != 0 && polls < max_checks; ++polls) {
        pause_usec(POLL_PAUSE_USEC);
        first = check_process(hlink_first);
        second = check_process(hlink_second);
    }
    return first;
}

int stop_hlink(int max_checks)
{
    if (check_process(hlink_first) != 0 && check_process(hlink_second) != 0)
        return 0;
    if (!ask_daemon(hlink_key, "0", "d"))
        return -1;
    if (max_checks <= 0)
        return 0;
    int first = check_process(hlink_first);
    int second = check_process(hlink_second);
    for (int polls = 0; first == 0 && second == 0 && polls < max_checks; ++polls) {
        pause_usec(POLL_PAUSE_USEC);
        first = check_process(hlink_first);
        second = check_process(hlink_second);
    }
    return first == 0 ? -1 : 0;
}

int start_ftp(int max_checks)
{
    return start_service(ftp, max_checks);
}

int stop_ftp(int max_checks)
{
    return stop_service(ftp, max_checks);
}

// Samba checks before it pauses: its first recheck follows the first check at once,
// and it pauses once more after its last check.
int restart_smb(int max_checks)
{
    if (check_process(smb.process) == 0)
        return 0;
    if (!ask_daemon(smb.setting_key, "1", smb.start_letter))
        return -1;
    if (max_checks <= 0)
        return 0;
    int status = check_process(smb.process);
    for (int polls = 0; status != 0 && polls < max_checks; ++polls) {
        status = check_process(smb.process);
        pause_usec(POLL_PAUSE_USEC);
    }
    return status;
}

int stop_smb(int max_checks)
{
    return stop_service(smb, max_checks);
}

int start_nfs(int max_checks)
{
    return start_service(nfs, max_checks);
}

int stop_nfs(int max_checks)
{
    return stop_service(nfs, max_checks);
}

int start_btpd(int max_checks)
{
    return start_service(btpd, max_checks);
}

int stop_btpd(int max_checks)
{
    return stop_service(btpd, max_checks);
}

int start_nzb(int max_checks)
{
    return start_service(nzb, max_checks);
}

int stop_nzb(int max_checks)
{
    return stop_service(nzb, max_checks);
}

int start_vantle(int max_checks)
{
    return start_service(vantle, max_checks);
}

int stop_vantle(int max_checks)
{
    return stop_service(vantle, max_checks);
}

int update_smbpasswd(void)
{
    return send_request("i");
}

int reset_zel_apps(void)
{
    return send_request("r");
}

// A stop that did not take effect in time leaves its service running, so the start
// that follows finds it up and does nothing: its setting stays "0".
void restart_services(void)
{
    stop_btpd(300);
    stop_hlink(200);
    stop_smb(200);
    stop_nfs(200);
    stop_vantle(200);
    stop_upnp(200);
    stop_ftp(200);
    stop_nzb(200);

    start_upnp(200);
    start_hlink(200);
    start_ftp(200);
    start_nfs(200);
    restart_smb(200);
    start_nzb(200);
    start_vantle(200);
    start_btpd(200);
}
