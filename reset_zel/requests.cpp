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

// What the operations of a service write, send and test, and how the restart-all
// takes it, read from the service table when this is compiled: reset_zel carries none
// of the daemon's command lines.
struct service_facts {
    const char *setting_key;
    char start_letter;
    char stop_letter;
    const char *processes[2];
    zel_restart restart;
};

struct all_facts {
    service_facts of[zel_service_count];
};

constexpr all_facts gather_facts()
{
    all_facts facts{};
    for (int i = 0; i < zel_service_count; ++i) {
        const zel_service &s = zel_services[i];
        facts.of[i] = {s.setting_key, s.start_letter, s.stop_letter, {s.processes[0], s.processes[1]}, s.restart};
    }
    return facts;
}

constexpr all_facts services = gather_facts();

// The rows of the table by one of their turns, the lowest first.
struct restart_order {
    int row[zel_service_count];
};

constexpr restart_order order_by(int zel_restart::*turn)
{
    restart_order order{};
    for (int i = 0; i < zel_service_count; ++i) {
        int place = 0;
        for (int j = 0; j < zel_service_count; ++j) {
            if (zel_services[j].restart.*turn < zel_services[i].restart.*turn)
                ++place;
        }
        order.row[place] = i;
    }
    return order;
}

constexpr restart_order stop_order = order_by(&zel_restart::stop_turn);
constexpr restart_order start_order = order_by(&zel_restart::start_turn);

enum wanted_state {
    down,
    up
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

// Every operation: the service's setting, letter and processes, and where the table
// says it differs in what it tests or when it pauses.
int change_service(const service_facts &s, wanted_state want, int max_checks)
{
    const int tested = s.restart.judged_by == ZEL_BY_BOTH_PROCESSES ? 2 : 1;
    const zel_poll_order order = want == up ? s.restart.start_poll_order : ZEL_PAUSE_THEN_CHECK;
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
        if (order == ZEL_PAUSE_THEN_CHECK)
            pause_usec(POLL_PAUSE_USEC);
        moved = any_moved(s, want, tested, &first);
        if (order == ZEL_CHECK_THEN_PAUSE)
            pause_usec(POLL_PAUSE_USEC);
    }
    if (want == up)
        return first;
    return first == 0 ? -1 : 0;
}

int change_service(int group, wanted_state want, int max_checks)
{
    return change_service(services.of[group - 1], want, max_checks);
}
} // namespace

int (*check_process)(const char *name) = real_check_process;
void (*pause_usec)(unsigned usec) = real_pause;
int (*send_request)(const char *letter) = real_send;

// The operations of the eight services by name.
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
    return change_service(ZEL_HLINK, up, max_checks);
}

int stop_hlink(int max_checks)
{
    return change_service(ZEL_HLINK, down, max_checks);
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
    return change_service(ZEL_SMB, up, max_checks);
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

// In the turns of the service table. A stop that did not take effect in time leaves
// its service running, so the start that follows finds it up and does nothing: its
// setting stays "0".
void restart_services(void)
{
    for (int row : stop_order.row) {
        const service_facts &s = services.of[row];
        change_service(s, down, s.restart.stop_polls);
    }
    for (int row : start_order.row)
        change_service(services.of[row], up, zel_restart_polls);
}
