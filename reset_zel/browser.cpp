// The browser's control file. The shell writes it by name ("> /tmp/lumo_bc"), which
// follows a link and waits on a FIFO until somebody reads: what it meets there must be
// ours first.
#include "reset_zel.h"

#include "own_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A pipe holds at least one page on every kernel; a page line is well under 128 bytes.
constexpr int kPipeRoom = 4096;
constexpr int kLineRoom = 128;
// How long a page waits in the FIFO for the browser to read it, in steps.
constexpr int kDrainPolls = 40;
constexpr useconds_t kDrainPollUsec = 50000;

int pending_bytes(int fd)
{
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

// The read end of the browser's FIFO, or -1 when the path holds none of root's. In
// /tmp (sticky) nobody else can rename root's FIFO away; another user's could be
// swapped for a link between this check and the shell's open, so it is not kept.
int browser_fifo()
{
    struct stat st;
    if (lstat(BROWSER_FILE, &st) != 0 || !S_ISFIFO(st.st_mode) || st.st_uid != 0)
        return -1;
    int fd = open(BROWSER_FILE, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    struct stat now;
    if (fd >= 0 && (fstat(fd, &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino)) {
        close(fd);
        fd = -1;
    }
    return fd;
}
} // namespace

// With the FIFO's read end held here, the shell's open finds a reader at once and its
// write goes into the pipe, where the browser reads it; the page waits there a while
// for a browser that reopens the FIFO for each page, and goes when nobody took it.
void point_browser(const char *command)
{
    int fifo = browser_fifo();
    if (fifo >= 0) {
        // A reader that holds the FIFO but never reads would make the write wait.
        if (pending_bytes(fifo) > kPipeRoom - kLineRoom) {
            errno = EAGAIN;
            perror(BROWSER_FILE);
            close(fifo);
            return;
        }
    } else if (zelmsg::prepare_own(BROWSER_FILE) != 0) {
        perror(BROWSER_FILE);
        return;
    }
    int status = system(command);
    (void)status;
    if (fifo < 0)
        return;
    for (int poll = 0; poll < kDrainPolls && pending_bytes(fifo) > 0; ++poll)
        usleep(kDrainPollUsec);
    close(fifo);
}
