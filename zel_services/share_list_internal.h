// What the share-list module's tests and the fuzz target reach inside it
// (share_list.cpp); the other modules use share_list.h.
#ifndef ZEL_SERVICES_SHARE_LIST_INTERNAL_H
#define ZEL_SERVICES_SHARE_LIST_INTERNAL_H

#include "share_list.h"

int count_share_names(const char *list);
// 0 when the text can be written into a configuration file line: no control
// characters. -1 otherwise.
int check_config_text(const char *text);

#endif // ZEL_SERVICES_SHARE_LIST_INTERNAL_H
