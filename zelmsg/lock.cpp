// The settings lock of the service programs' build (libzelmsg.a): every locked
// section waits for the lock, readers sharing it.
#include "zelmsg.h"
#include "store_internal.h"

#include <fcntl.h>

int zelmsg::take_settings_lock(SettingsLock::Mode mode)
{
    // A second lock of this process would not exclude anything: a POSIX lock is the
    // process's own.
    if (locked_fd() >= 0)
        return -1;
    const bool shared = mode == SettingsLock::kShared;
    return take_lock(shared ? O_RDONLY : O_RDWR, shared, -1, 0);
}

int zelmsg::give_settings_lock()
{
    return give_lock();
}

extern "C" int get_lock(void)
{
    return zelmsg::take_settings_lock(zelmsg::SettingsLock::kExclusive);
}

extern "C" int release_lock(void)
{
    return zelmsg::give_lock();
}
