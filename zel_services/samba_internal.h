// The pure rules of the Samba configuration that its tests reach (samba.cpp); the
// command table uses samba.h.
#ifndef ZEL_SERVICES_SAMBA_INTERNAL_H
#define ZEL_SERVICES_SAMBA_INTERNAL_H

#include <stdio.h>

#include "samba.h"

int write_global_section(FILE *f, const char *workgroup);
int write_share_section(FILE *f, const char *name);
// Copies the configuration, leaving out every section whose header line holds the
// header text, with the five lines after it.
void filter_smb_sections(FILE *in, FILE *out, const char *header);

#endif // ZEL_SERVICES_SAMBA_INTERNAL_H
