// The configurator's build (libzelmsg_nolock.a): reads take no lock. A write takes the
// lock of the service programs, so that it never leaves a file mixed from two
// writers, but never waits for long: after kLockPolls it is refused. The first write
// creates a missing file.
#include "zelmsg.h"
#include "store_internal.h"
#include "os_calls.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>

namespace {
// A commit to slow flash takes seconds: the configurator's writes wait this long at
// most for a locked section of another process, in steps of kLockPollUsec.
constexpr int kLockPolls = 1000;
constexpr useconds_t kLockPollUsec = 10000;
} // namespace

int zelmsg::take_settings_lock(SettingsLock::Mode mode)
{
    if (locked_fd() >= 0)
        return -1;
    if (mode == SettingsLock::kShared)
        return 0;
    if (take_lock(O_RDWR, false, kLockPolls, kLockPollUsec) == 0)
        return 0;
    if (errno != ENOENT || mode != SettingsLock::kCreating)
        return -1;
    // Said as the load of a missing file always said it; the write goes on.
    fprintf(stderr, "File open r error %s\r\n", SETTING_FILE);
    return take_lock(O_RDWR | O_CREAT, false, kLockPolls, kLockPollUsec);
}

int zelmsg::give_settings_lock()
{
    // A read took none.
    if (locked_fd() < 0)
        return 0;
    return give_lock();
}

extern "C" int get_dirty(void)
{
    return f_dirty;
}
