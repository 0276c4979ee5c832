// Share lists ("HARD_DISK|#USB_DRIVE_A-1") and the rules for the names and texts
// written into the configuration files (share_list.cpp).
#ifndef ZEL_SERVICES_SHARE_LIST_H
#define ZEL_SERVICES_SHARE_LIST_H

#include <stdio.h>

#include "text_sizes.h"

#define SHARE_SEPARATOR "|#"

// Cuts the list into names and hands each to step as soon as it is cut. Returns the
// number of names, or -1 (before handing on the offending name) at a name longer
// than a name buffer holds.
using share_name_step = void (*)(const char *name, void *ctx);
int for_each_share_name(const char *list, share_name_step step, void *ctx);

// 0 when Samba reads the workgroup as the text it is: a configuration text without
// "\\", which at a line's end joins the next line to it. -1 otherwise.
int check_workgroup(const char *text);
// The one rule for a share name, whether it comes from a caller or from the scan of
// the root: 0 when exportfs and testparm both take it for the folder it names, -1
// otherwise.
int check_share_name(const char *name);
// check_share_name for every name of a share list.
int check_share_list(const char *list);
// Samba takes section names without regard to case: 0 when no name of the list is
// another section's name in another case, whether a section of the configuration
// ("share" counted always), Samba's own, or an earlier name of the list. -1 otherwise.
int check_new_sections(const char *list, FILE *conf);
// true when Samba takes the two names for one section: equal but for case and runs
// of blanks.
bool same_section(const char *a, const char *b);

#endif // ZEL_SERVICES_SHARE_LIST_H
