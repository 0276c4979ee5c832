// Helpers shared by the store and the flash code; not part of the public header.
#ifndef ZELMSG_STORE_INTERNAL_H
#define ZELMSG_STORE_INTERNAL_H

// read_file's work; returns the byte count read instead of 0.
int zelmsg_load_file(const char *path, char *buffer, int maxlen);
// Loads a settings file into buffer_setting so that its text ends within the bytes
// read; returns the byte count, or read_file's -1 or -2.
int zelmsg_load_settings(const char *path);

#endif
