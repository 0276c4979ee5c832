// Files under /tmp, where every process may create names and an old kernel protects
// no link: what the programs of this system find there is never followed through a
// symbolic link, never waited on as a FIFO, and never trusted unless it is their own.
// Internal to the project's programs; not part of the public header.
#ifndef ZELMSG_OWN_FILE_H
#define ZELMSG_OWN_FILE_H

#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace zelmsg {

// A regular file of this process's user or of root, whatever other names it has: its
// text may be read as ours. Somebody may have given it a second name (a hard link,
// which an old kernel lets anyone make), so nothing is written into it while it has
// one: a file of ours with one name takes its place at the path.
bool ours(const struct stat &st);

// A file this process may take for its own: ours, with one link. Another user's file,
// or a second name of a file elsewhere (a hard link), is not.
bool own_file(const struct stat &st);

// errno for a file that is not our own: ELOOP (a link), EISDIR, EINVAL (a FIFO,
// socket or device), EPERM (another owner, other links).
int refusal(const struct stat &st);

// Opens a file of ours (flags: O_RDONLY, O_RDWR, O_WRONLY and the like; with
// O_CREAT a missing file is created, mode 0666 less the umask), never through a
// symbolic link and never waiting on a FIFO. -1 with errno: what open met (ENOENT,
// ELOOP for a link, EISDIR, ENXIO for a FIFO nobody reads), or refusal's.
int open_own(const char *path, int flags);

// Opens the path as this process's own file, creating it when missing (flags:
// O_WRONLY or O_RDWR, with O_TRUNC, O_APPEND or neither). An own file is opened as it
// is. A file of ours with other names, when kept (no O_TRUNC), is copied into a new
// file of ours that takes its place at the path (put_beside); the other names keep
// the old file, which is never written again. Anything else but a directory is
// removed first, the name only (a link's target and a FIFO are never opened), and
// the file created anew with O_EXCL, as when it is missing. -1 with errno: EISDIR for
// a directory, or what the removal or creation met.
int create_own(const char *path, int flags, mode_t mode);

// A new, empty file of ours in the path's folder under a name nobody else uses
// (written to `name`, kBesideName bytes; ENAMETOOLONG for a longer path), opened
// O_RDWR: the text goes in whole before put_in_place gives it the path. -1 with errno.
constexpr size_t kBesideName = 128;
int create_beside(const char *path, char *name);
// Gives the file made by create_beside, with the permissions of the file it replaces,
// the path: 0, or -1 with errno (the new file then removed).
int put_in_place(int fd, const char *name, const char *path, mode_t mode);

// Makes the path this process's own empty file, for a shell command that writes it
// by name ("ls / > PATH", "cp FILE PATH"): what the command meets is then ours.
// 0, or -1 with errno as create_own.
int prepare_own(const char *path);

// The two above as stdio streams: mode "r" opens an own file (open_own), "w" and
// "a" create or open one (create_own, truncated or appended to); a "+" adds
// reading, "b" and "t" are taken and ignored. NULL with errno.
FILE *fopen_own(const char *path, const char *mode);

} // namespace zelmsg

#endif
