// Service start and stop requests: store the wish in the service's setting, ask the
// daemon by letter, then poll pidof until the process has come or gone.
#include "reset_zel.h"

#include "zelmsg.h"

#include <stdlib.h>
#include <sys/ipc.h>
#include <unistd.h>

namespace {
int real_check_process(const char *name)
{
    return run_process_check(system, name);
}

void real_pause(unsigned usec)
{
    usleep(usec);
}

int real_send(const char *letter)
{
    return addmsg(letter, SETUP_2_ZELD, IPC_NOWAIT);
}

int send_letter(char letter)
{
    const char text[2] = {letter, '\0'};
    return send_request(text);
}

// What the operations of a service write, send and test, read from the service table
// when this is compiled: reset_zel carries none of the daemon's command lines.
struct service_facts {
    const char *setting_key;
    char start_letter;
    char stop_letter;
    const char *processes[2];
};

constexpr service_facts facts_of(int group)
{
    const zel_service &s = zel_service_of(group);
    return {s.setting_key, s.start_letter, s.stop_letter, {s.processes[0], s.processes[1]}};
}

constexpr service_facts services[] = {
    facts_of(ZEL_UPNP), facts_of(ZEL_HLINK), facts_of(ZEL_FTP), facts_of(ZEL_SMB),
    facts_of(ZEL_NFS),  facts_of(ZEL_BTPD),  facts_of(ZEL_NZB), facts_of(ZEL_VANTLE),
};

enum wanted_state {
    down,
    up
};
// The announcement service is judged by both its processes: up only when both run,
// down only when neither does, and a wait ends as soon as either has moved. Every
// other operation looks at its service's first process only (Samba and NFS at smbd
// and nfsd, although their markers want the second too).
enum process_test {
    first_process,
    both_processes
};
// Samba's start checks before it pauses: its first recheck follows the first check at
// once, and it pauses once more after its last check.
enum poll_order {
    pause_then_check,
    check_then_pause
};

bool is_as_wanted(int check_status, wanted_state want)
{
    return (check_status == 0) == (want == up);
}

// Nothing to do: every tested process is already as wanted. The second is tested only
// when the first is.
bool nothing_to_do(const service_facts &s, wanted_state want, int tested)
{
    for (int i = 0; i < tested; ++i) {
        if (!is_as_wanted(check_process(s.processes[i]), want))
            return false;
    }
    return true;
}

// One look at every tested process: whether any has moved as wanted. The result of
// the operation follows the first process alone, whose check goes to *first.
bool any_moved(const service_facts &s, wanted_state want, int tested, int *first)
{
    bool moved = false;
    for (int i = 0; i < tested; ++i) {
        int status = check_process(s.processes[i]);
        if (i == 0)
            *first = status;
        moved = moved || is_as_wanted(status, want);
    }
    return moved;
}

int change_service(int group, wanted_state want, int max_checks, process_test test = first_process,
                   poll_order order = pause_then_check)
{
    const service_facts &s = services[group - 1];
    const int tested = test == both_processes ? 2 : 1;
    if (nothing_to_do(s, want, tested))
        return 0;
    // A failed write is not fatal: the daemon does not read the setting to serve the
    // request.
    write_str(s.setting_key, want == up ? "1" : "0");
    if (send_letter(want == up ? s.start_letter : s.stop_letter) != 0)
        return -1;
    if (max_checks <= 0)
        return 0;

    int first = 0;
    bool moved = any_moved(s, want, tested, &first);
    for (int polls = 0; !moved && polls < max_checks; ++polls) {
        if (order == pause_then_check)
            pause_usec(POLL_PAUSE_USEC);
        moved = any_moved(s, want, tested, &first);
        if (order == check_then_pause)
            pause_usec(POLL_PAUSE_USEC);
    }
    if (want == up)
        return first;
    return first == 0 ? -1 : 0;
}
} // namespace

int (*check_process)(const char *name) = real_check_process;
void (*pause_usec)(unsigned usec) = real_pause;
int (*send_request)(const char *letter) = real_send;

// The operations: the service (its setting, letters and processes), what is wanted,
// and where an operation differs in what it tests or when it pauses.
int start_upnp(int max_checks)
{
    return change_service(ZEL_UPNP, up, max_checks);
}

int stop_upnp(int max_checks)
{
    return change_service(ZEL_UPNP, down, max_checks);
}

int start_hlink(int max_checks)
{
    return change_service(ZEL_HLINK, up, max_checks, both_processes);
}

int stop_hlink(int max_checks)
{
    return change_service(ZEL_HLINK, down, max_checks, both_processes);
}

int start_ftp(int max_checks)
{
    return change_service(ZEL_FTP, up, max_checks);
}

int stop_ftp(int max_checks)
{
    return change_service(ZEL_FTP, down, max_checks);
}

int restart_smb(int max_checks)
{
    return change_service(ZEL_SMB, up, max_checks, first_process, check_then_pause);
}

int stop_smb(int max_checks)
{
    return change_service(ZEL_SMB, down, max_checks);
}

int start_nfs(int max_checks)
{
    return change_service(ZEL_NFS, up, max_checks);
}

int stop_nfs(int max_checks)
{
    return change_service(ZEL_NFS, down, max_checks);
}

int start_btpd(int max_checks)
{
    return change_service(ZEL_BTPD, up, max_checks);
}

int stop_btpd(int max_checks)
{
    return change_service(ZEL_BTPD, down, max_checks);
}

int start_nzb(int max_checks)
{
    return change_service(ZEL_NZB, up, max_checks);
}

int stop_nzb(int max_checks)
{
    return change_service(ZEL_NZB, down, max_checks);
}

int start_vantle(int max_checks)
{
    return change_service(ZEL_VANTLE, up, max_checks);
}

int stop_vantle(int max_checks)
{
    return change_service(ZEL_VANTLE, down, max_checks);
}

int update_smbpasswd(void)
{
    return send_letter(zel_smb_passwd.letter);
}

int reset_zel_apps(void)
{
    return send_letter(zel_reset_letter);
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
