/* PID 1 of the simulated player: runs one command, reaps every orphan (services
 * started in the background end up here), passes termination signals on, and
 * exits with the command's status, which ends the whole player. */
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

static volatile pid_t child;

static void forward(int sig)
{
    if (child > 0)
        kill(child, sig);
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: zel-init COMMAND [ARGS]\n");
        return 2;
    }
    /* Also when unshare is killed outright, the player goes with it. */
    prctl(PR_SET_PDEATHSIG, SIGKILL);

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = forward;
    sigaction(SIGINT, &sa, NULL);
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGHUP, &sa, NULL);
    sigaction(SIGQUIT, &sa, NULL);

    child = fork();
    if (child < 0) {
        perror("zel-init: fork");
        return 1;
    }
    if (child == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        execvp(argv[1], argv + 1);
        fprintf(stderr, "zel-init: %s: %s\n", argv[1], strerror(errno));
        _exit(127);
    }
    for (;;) {
        int status;
        pid_t pid = wait(&status);
        if (pid < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        if (pid != child)
            continue;
        if (WIFEXITED(status))
            return WEXITSTATUS(status);
        return 128 + WTERMSIG(status);
    }
}
