// The scan of the root directory for disk shares, and the configurations rebuilt from
// it: the scan lists the root into a file of its own and reads it while the
// configuration is written.
#include "root_scan_internal.h"

#include <stdlib.h>
#include <string.h>

#include "share_list.h"
#include "zel_paths.h"

#define SHARE_LIST_PATH ZEL_SHARE_LIST

bool is_disk_share(const char *name)
{
    return strstr(name, "HARD_DISK") != nullptr || strstr(name, "SATA_DISK") != nullptr ||
           strstr(name, "USB_DRIVE_") != nullptr;
}

namespace {

// Runs "ls / > /tmp/share.list"; returns the shell's status.
int list_root_folders()
{
    if (prepare_temp(SHARE_LIST_PATH) != 0)
        return -1;
    return system("ls / > " SHARE_LIST_PATH);
}

// The next entry of the listing that is a disk with a valid name, into line; an
// entry too long for the line buffer is skipped whole: its pieces are not names of
// folders that exist.
bool next_candidate(FILE *list, char *line)
{
    bool ends_line = true;

    for (;;) {
        bool whole = ends_line;
        if (!read_line_piece(list, line, &ends_line))
            return false;
        if (!whole || !ends_line)
            continue;
        size_t len = strlen(line);
        if (len > 0 && line[len - 1] == '\n')
            line[len - 1] = '\0';
        if (is_disk_share(line) && check_share_name(line) == 0)
            return true;
    }
}

// An earlier disk of the listing that Samba takes for the same section, into earlier.
bool earlier_disk(FILE *list, long end, const char *name, char *earlier)
{
    bool found = false;
    rewind(list);
    while (!found && ftell(list) < end && next_candidate(list, earlier))
        found = ftell(list) <= end && same_section(name, earlier);
    return found;
}

} // namespace

// A disk whose name the rule refuses is left out of both tables, so that every share
// the scan writes can be removed again; so is the second of two disks whose names
// differ only in case, which Samba would serve as one.
bool next_disk_share(FILE *list, char *line)
{
    char earlier[LINE_SIZE];
    for (;;) {
        long start = ftell(list);
        if (!next_candidate(list, line))
            return false;
        long next = ftell(list);
        if (start < 0 || next < 0 || !earlier_disk(list, start, line, earlier)) {
            if (next >= 0)
                fseek(list, next, SEEK_SET);
            return true;
        }
        fprintf(stderr, ZS_PREFIX "Disk %s left out: Samba takes it for %s\n", line, earlier);
        fseek(list, next, SEEK_SET);
    }
}

namespace {

struct scan_job {
    const root_config *how;
    const void *ctx;
    FILE *list;
};

int fill_from_listing(FILE *out, const void *ctx)
{
    const scan_job *job = static_cast<const scan_job *>(ctx);
    char line[LINE_SIZE];
    if (job->how->head != nullptr)
        job->how->head(out, job->ctx);
    job->how->entry(out, "share", job->ctx);
    while (next_disk_share(job->list, line))
        job->how->entry(out, line, job->ctx);
    return 0;
}

} // namespace

int replace_from_root(const root_config &how, const void *ctx)
{
    if (recover_config(*how.conf) != 0)
        return -1;
    if (list_root_folders() != 0) {
        fputs(how.list_failed, stderr);
        return -1;
    }
    scan_job job = {&how, ctx, open_file(SHARE_LIST_PATH, "r")};
    if (job.list == nullptr)
        return -1;
    int replaced = replace_config(*how.conf, how.temp, how.mode, fill_from_listing, &job, *how.command);
    fclose(job.list);
    if (replaced == 0)
        remove(SHARE_LIST_PATH);
    return replaced;
}
